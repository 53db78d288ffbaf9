// Link diagnostics of a port: its own error and traffic counters, the link
// error counters of a remote port and the firmware's loopback test; and two
// port services: the beacon (the port's locate LED) and the firmware dump.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

#include "api/vx_sdframe.h"
#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_driver_records.h"
#include "base/vx_request.h"
#include "core/io/vx_passthru.h"
#include "core/io/vx_query.h"
#include "core/io/vx_side.h"
#include "platform/vx_platform.h"
#include "vxsdm.h"

namespace {

// ---------------------------------------------------------------- statistics

void copy_counters(PSTATISTICS out, const EXT_HBA_PORT_STAT& in) {
    out->ControllerErrorCount = in.ControllerErrorCount;
    out->DeviceErrorCount = in.DeviceErrorCount;
    out->IOCount = in.TotalIoCount;
    out->MegabyteCount = in.TotalMBytes;
    out->LipResetCount = in.TotalLipResets;
    out->LinkFailureCount = in.TotalLinkFailures;
    out->LossOfSyncCount = in.TotalLossOfSync;
    out->LossOfSignalCount = in.TotalLossOfSignals;
    out->PrimitiveSeqProtocolErrorCount = in.PrimitiveSeqProtocolErrorCount;
    out->InvalidTransmissionWordCount = in.InvalidTransmissionWordCount;
    out->InvalidCRCCount = in.InvalidCRCCount;
}

// A statistics request's outcome in the frame's order, with the driver's
// detail status in the translation; the caller's record is filled only when
// both results are 0 (overrun and underrun are failures here).
SD_UINT32 finish_statistics(const VxSdCall& call, int result, uint32_t ext, uint32_t detail, int err,
                            const EXT_HBA_PORT_STAT& stat, PSTATISTICS out) {
    if (ext != 0) {
        if (vxdbg_on(VX_SD_ERROR)) {
            vxdbg_print(call.name(), 0, VXDBG_NONE, 0);
            vxdbg_print(": exit FAILED Status=", ext, VXDBG_DEC, 0);
            vxdbg_print(" DetailStatus=", detail, VXDBG_DEC, 1);
        }
        return vx_sd_xlate(ext, detail, VxSdScsi::None);
    }
    if (result < 0) {
        if (vxdbg_on(VX_SD_ERROR)) {
            vxdbg_print(call.name(), 0, VXDBG_NONE, 0);
            vxdbg_print(": exit EXT_SC_GET_STATISTICS ioctl failed, errno=", static_cast<uint32_t>(err), VXDBG_INT, 0);
            vxdbg_print(" Handle=", static_cast<uint32_t>(call.device()), VXDBG_INT, 1);
        }
        // A failed system call that left no reason must not read as success.
        return err != 0 ? static_cast<SD_UINT32>(err) : SDERR_UNKNOWN;
    }
    if (result > 0) return SDERR_UNKNOWN;
    copy_counters(out, stat);
    return SDERR_NO_ERROR;
}

// ---------------------------------------------------------------- loopback

// The old driver's loopback request, naturally aligned. Its answer has the
// layout of INT_LOOPBACK_RSP.
struct INT_LOOPBACK_REQ_O {
    uint16_t Options;
    uint32_t TransferCount;
    uint32_t IterationCount;
    uint64_t BufferAddress;  // the transmit data
    uint32_t BufferLength;
    uint16_t Reserved[9];
};
static_assert(sizeof(INT_LOOPBACK_REQ_O) == 48);
static_assert(offsetof(INT_LOOPBACK_REQ_O, TransferCount) == 4);
static_assert(offsetof(INT_LOOPBACK_REQ_O, BufferAddress) == 16);
static_assert(offsetof(INT_LOOPBACK_REQ_O, BufferLength) == 24);

// The roads that take the new request: the new driver, netlink and bsg.
constexpr uint32_t kNewLayoutRoads = VX_FEAT_NEW_IOCTL | VX_FEAT_NL_VENDOR | VX_FEAT_BSG;

// A refused test carries a second status word in the CRC count; this one is
// answered with a firmware reset, a wait and the same test again, at most
// twice in a call.
constexpr uint16_t kResetWanted = 0x17;
constexpr uint32_t kResetFirmware = 0x2025C;
constexpr unsigned kResetWaitSeconds = 20;
constexpr int kMostResets = 2;

// Firmware completion codes and the test result each gives; any other
// completion gives 4.
constexpr std::pair<uint16_t, SD_UINT16> kTestResults[] = {{0x4000, 1}, {0x4006, 2}, {0x400B, 3}, {0x400C, 4}};
constexpr SD_UINT16 kOtherResult = 4;
// The completion that reports the error counts with its result.
constexpr uint16_t kLoopbackErrors = 0x400C;

struct LoopbackArgs {
    bool new_layout;
    uint16_t options;
    const uint8_t* tx;
    uint32_t tx_size;
    uint8_t* rx;
    uint32_t rx_size;
    uint32_t iterations;
};

// The request with every byte the fields leave, padding included, zero.
template <class Request>
Request loopback_request(const LoopbackArgs& a) {
    Request req;
    std::memset(&req, 0, sizeof req);
    req.Options = a.options;
    req.TransferCount = a.tx_size;
    req.IterationCount = a.iterations;
    req.BufferAddress = vxapi_ptr_to_64bit(a.tx);
    req.BufferLength = a.tx_size;
    return req;
}

// One test with a request made afresh and a zeroed answer; the counts of
// the caller's status are zeroed and the command the firmware ran taken,
// whatever the outcome. Returns the call's status for this test.
SD_UINT32 run_test(const VxSdCall& call, vxapi_priv_database* rec, const LoopbackArgs& a, INT_LOOPBACK_RSP& rsp,
                   LOOPBACKSTATUS& st) {
    rsp = INT_LOOPBACK_RSP{};
    rsp.BufferAddress = vxapi_ptr_to_64bit(a.rx);
    rsp.BufferLength = a.rx_size;
    st.TestResult = st.CRCErrorCount = st.DisparityErrorCount = st.FrameLengthErrorCount = 0;
    uint32_t ext = 0;
    errno = 0;
    int32_t result = 0;
    if (a.new_layout) {
        INT_LOOPBACK_REQ req = loopback_request<INT_LOOPBACK_REQ>(a);
        result = vxapi_loopback_test(rec->oshandle, rec, &req, sizeof req, &rsp, sizeof rsp, &ext);
    } else {
        // Only the driver request takes the old layout, and it carries the
        // request as bytes.
        INT_LOOPBACK_REQ_O req = loopback_request<INT_LOOPBACK_REQ_O>(a);
        result = vxapi_loopback_test(rec->oshandle, rec, reinterpret_cast<INT_LOOPBACK_REQ*>(&req), sizeof req, &rsp,
                                     sizeof rsp, &ext);
    }
    const int err = errno;
    st.CommandSent = rsp.CommandSent;
    const char* line = a.new_layout ? "SDRunDiagLoopback: ioctl failed. ext status="
                                    : "SDRunDiagLoopback: old ioctl failed. ext status=";
    return vx_sd_outcome(call.name(), call.device(), result, ext, err, VxSdAccept::Clean, line).status;
}

// The test result of the last answer, and its error counts for the
// firmware's error completion.
void report_result(const VxSdCall& call, const INT_LOOPBACK_RSP& rsp, bool new_layout, LOOPBACKSTATUS& st) {
    const auto* known = std::find_if(std::begin(kTestResults), std::end(kTestResults),
                                     [&](const auto& r) { return r.first == rsp.CompletionStatus; });
    if (known == std::end(kTestResults)) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(),
                   new_layout ? "): unknown result value=" : "): old unknown result value = ", rsp.CompletionStatus,
                   VXDBG_HEX);
    }
    st.TestResult = known != std::end(kTestResults) ? known->second : kOtherResult;
    if (rsp.CompletionStatus != kLoopbackErrors) return;
    st.CRCErrorCount = rsp.CrcErrorCount;
    st.DisparityErrorCount = rsp.DisparityErrorCount;
    st.FrameLengthErrorCount = rsp.FrameLengthErrorCount;
    st.LastError1 = static_cast<SD_UINT16>(rsp.IterationCountLastError & 0xFFFF);
    st.LastError2 = static_cast<SD_UINT16>(rsp.IterationCountLastError >> 16);
}

// ---------------------------------------------------------------- firmware dump

constexpr uint32_t kDumpInFile = 33;  // driver status: the path of a dump file was returned

// The path of a dump file as a text inside the caller's buffer of `room`
// bytes: it ends at its first NUL, at the bytes delivered or one short of
// the room, whichever comes first. The terminator is the only byte written,
// so the caller's bytes behind it stay; a buffer of no bytes holds no text.
void end_dump_path(uint8_t* buf, uint32_t room, uint32_t delivered) {
    if (room == 0) return;
    const uint32_t most = std::min(delivered, room - 1);
    const auto* nul = static_cast<const uint8_t*>(std::memchr(buf, 0, most));
    buf[nul != nullptr ? static_cast<size_t>(nul - buf) : most] = 0;
}

}  // namespace

SD_UINT32 SDGetStatistics(int Device, SD_UINT16 HbaDevPortNum, PSTATISTICS pStatistics) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetStatistics", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pStatistics)) return call.status();
    EXT_HBA_PORT_STAT stat{};
    uint32_t ext = 0;
    uint32_t detail = 0;
    errno = 0;
    const int result = vxapi_get_statistics(rec->oshandle, rec, &stat, &ext, &detail);
    const int err = errno;
    return call.done(finish_statistics(call, result, ext, detail, err, stat, pStatistics));
}

SD_UINT32 SDGetStatisticsFC(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                            PSTATISTICS pStatistics) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetStatisticsFC", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pTargetAddr)) return call.status();
    if (pTargetAddr->AddressType != VX_DEST_WWPN) {
        vxdbg_line(VX_SD_ERROR, "SDGetStatisticsFC: Unsupported WW Address Type");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (!call.given(pStatistics)) return call.status();
    EXT_HBA_PORT_STAT stat{};
    EXT_DEST_ADDR dest{};
    std::memcpy(dest.DestAddr.WWPN, pTargetAddr->AddressUsing.PortWWN, sizeof dest.DestAddr.WWPN);
    dest.DestType = VX_DEST_WWPN;
    uint32_t ext = 0;
    uint32_t detail = 0;
    errno = 0;
    const int result = vxapi_get_port_statistics(rec->oshandle, rec, &dest, &stat, &ext, &detail);
    const int err = errno;
    return call.done(finish_statistics(call, result, ext, detail, err, stat, pStatistics));
}

SD_UINT32 SDGetPortStatisticsFC(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                PSTATISTICS pStatistics) {
    return SDGetStatisticsFC(Device, HbaDevPortNum, pTargetAddr, pStatistics);
}

SD_UINT32 SDRunDiagLoopbackEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TestOptions, SD_PUINT8 pTxBuffer,
                              SD_UINT32 TxBufferSize, SD_PUINT8 pRxBuffer, SD_UINT32 RxBufferSize,
                              SD_UINT32 NumberOfIteration, PLOOPBACKSTATUS pLoopbackStatus) {
    (void)HbaDevPortNum;
    VxSdCall call("SDRunDiagLoopback", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pLoopbackStatus)) return call.status();
    // The roads that move the data in this process would read or write
    // through a missing buffer.
    if ((TxBufferSize != 0 && !call.given(pTxBuffer)) || (RxBufferSize != 0 && !call.given(pRxBuffer))) {
        return call.status();
    }
    const LoopbackArgs args{(rec->features & kNewLayoutRoads) != 0, TestOptions, pTxBuffer, TxBufferSize,
                            pRxBuffer, RxBufferSize, NumberOfIteration};
    // The chips with a flash layout table take the firmware reset; the old
    // request never asks for it.
    const bool resettable = args.new_layout && vx_chip_has(vxapi_device_id(rec), VX_CHIP_FLASH_LAYOUT_TABLE);
    INT_LOOPBACK_RSP rsp{};
    SD_UINT32 status = SDERR_NO_ERROR;
    for (int resets = 0;; ++resets) {
        status = run_test(call, rec, args, rsp, *pLoopbackStatus);
        if (!resettable || rsp.CrcErrorCount != kResetWanted || resets == kMostResets) break;
        const SD_UINT32 reset = vxapi_reset_region(Device, rec, kResetFirmware);
        if (reset != SDERR_NO_ERROR) {
            status = reset;
            break;
        }
        vx::sys().sleep(kResetWaitSeconds);
    }
    report_result(call, rsp, args.new_layout, *pLoopbackStatus);
    return call.done(status);
}

SD_UINT32 SDRunDiagLoopback(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TestOptions, SD_PUINT8 pTxBuffer,
                            SD_UINT16 TxBufferSize, SD_PUINT8 pRxBuffer, SD_UINT16 RxBufferSize,
                            SD_UINT16 NumberOfIteration, PLOOPBACKSTATUS pLoopbackStatus) {
    return SDRunDiagLoopbackEx(Device, HbaDevPortNum, TestOptions, pTxBuffer, TxBufferSize, pRxBuffer, RxBufferSize,
                               NumberOfIteration, pLoopbackStatus);
}

SD_UINT32 SDGetBeaconControl(int Device, SD_PUINT32 pUpdateMode) {
    VxSdCall call("SDGetBeaconControl", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pUpdateMode)) return call.status();
    EXT_BEACON_CONTROL beacon{};
    beacon.State = *pUpdateMode;
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_get_beacon(rec->oshandle, rec, &beacon, ext); },
        [&] { *pUpdateMode = beacon.State; });
}

SD_UINT32 SDUpdateBeaconControl(int Device, SD_UINT32 UpdateMode) {
    VxSdCall call("SDUpdateBeaconControl", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateBeaconControl: Not supported for vport. handle=",
                   static_cast<uint32_t>(Device), VXDBG_INT);
        return call.done(SDERR_NOT_SUPPORTED);
    }
    EXT_BEACON_CONTROL beacon{};
    beacon.State = UpdateMode;
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_set_beacon(rec->oshandle, rec, beacon, ext); }, [] {});
}

SD_UINT32 SDGetFwDump(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 BufferSize) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetFwDump", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL) {
        vxdbg_line(VX_SD_ERROR, "SDGetFwDump: Not supported for virtual port handle=", static_cast<uint32_t>(Device),
                   VXDBG_INT);
        return call.done(SDERR_INVALID_REQUEST);
    }
    if (!call.given(pBuffer) || !call.given(BufferSize)) return call.status();
    uint32_t ext = 0;
    errno = 0;
    // Every road leaves the bytes delivered at *BufferSize (a path that the
    // library wrote itself keeps the size, and carries its own NUL).
    const uint32_t room = *BufferSize;
    const int32_t result = vxapi_get_fw_dump(rec->oshandle, rec, pBuffer, BufferSize, &ext);
    const int err = errno;
    if (ext == kDumpInFile) {
        end_dump_path(pBuffer, room, *BufferSize);
        vxdbg_line(VX_SD_ERROR, "SDGetFwDump: Dumped using Udev, ext status=", ext, VXDBG_DEC);
        return call.done(SDXlateSDMErr(ext, 0));
    }
    return call.done(vx_sd_outcome(call.name(), Device, result, ext, err, VxSdAccept::Clean,
                                   "SDGetFwDump: ioctl failed. ext status=")
                         .status);
}

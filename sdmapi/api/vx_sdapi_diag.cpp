// Board diagnostics: the board temperature, diagnostic I/O, the SerDes
// parameter block and registers, and the firmware's FCE trace buffer.
//
// Each function is the frame around one diagnostic worker. They differ in
// their chip properties and in where their argument tests stand: the tests of
// the caller's buffers come before the handle, except for the temperature,
// whose size is looked at after the chip. None of them gates on the kind of
// port; HbaDevPortNum is never used.
#include <algorithm>
#include <cstddef>

#include "api/vx_sdframe.h"
#include "base/vx_chips.h"
#include "base/vx_driver_records.h"
#include "base/vx_port_road.h"
#include "core/io/vx_diag.h"
#include "transport/vx_sysfs_diag.h"

namespace {

constexpr uint32_t kBoardTempBytes = sizeof(EXT_BOARD_TEMP);
static_assert(sizeof(BOARD_TEMP) == kBoardTempBytes);
static_assert(offsetof(BOARD_TEMP, Reserved) == offsetof(EXT_BOARD_TEMP, Reserved));

// The smallest FCE trace buffer the firmware's trace fits.
constexpr uint32_t kTraceBytes = 0x30000;
// The driver's status for a buffer too small, with the length it needs.
constexpr uint32_t kDriverBufferTooSmall = 16;

// The arguments of a diagnostic I/O run: every buffer and count given, the
// response as long as the pattern, and at most the streams the transport
// starts.
bool diag_io_arguments_ok(const void* pdata, uint32_t size, const void* presp, uint32_t resp_size, uint32_t threads,
                          uint32_t iterations) {
    return pdata != nullptr && size != 0 && presp != nullptr && resp_size != 0 && threads != 0 && iterations != 0 &&
           size == resp_size && threads <= VX_DIAG_IO_MAX_THREADS;
}

// One SerDes register request on a port of a chip with the property: the
// record is built by the caller, the worker fills it in place. `fill` runs on
// success.
template <class Reg, class Worker, class Fill>
SD_UINT32 serdes_register(VxSdCall& call, VxChipFlag chips, Reg reg, Worker worker, Fill fill) {
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.chip_gate(rec, chips)) return call.status();
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return worker(rec->oshandle, rec, &reg, ext); },
        [&] { fill(reg); });
}

}  // namespace

SD_UINT32 SDGetBoardTemp(int Device, SD_UINT16 HbaDevPortNum, PBOARD_TEMP ptemp, SD_UINT16 size) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetBoardTemp", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.chip_gate(rec, VX_CHIP_BOARD_TEMP) || !call.given(ptemp) ||
        !call.buffer_holds(size, kBoardTempBytes)) {
        return call.status();
    }
    EXT_BOARD_TEMP temp{};
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_get_board_temp(rec->oshandle, rec, &temp, kBoardTempBytes, ext); },
        [&] {
            // The reply's reserved words are the driver's: they never reach the caller.
            ptemp->IntTemp = temp.IntTemp;
            ptemp->FracTemp = temp.FracTemp;
        });
}

SD_UINT32 SDDiagIO(int Device, SD_PUINT8 pdata, SD_UINT32 Size, SD_PUINT8 presp, SD_UINT32 Resp_size,
                   SD_UINT32 Threads, SD_UINT32 Iterations, SD_UINT8 DataCheckFlag) {
    VxSdCall call("SDDiagIO", Device);
    if (!diag_io_arguments_ok(pdata, Size, presp, Resp_size, Threads, Iterations)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid parameter.");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    // The driver runs diagnostic I/O only through its bsg node.
    if (!vxapi_is_sysfs_port(rec)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): not a sysfs port.");
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (!call.chip_gate(rec, VX_CHIP_DIAG_IO)) return call.status();
    // The worker leaves the pattern, or what a stream received when it
    // differed, in presp.
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) {
            return vxapi_diag_io(rec->oshandle, rec, pdata, Size, presp, Threads, Iterations, DataCheckFlag, ext);
        },
        [] {});
}

SD_UINT32 SDReadSerdesParams(int Device, SD_PUINT8 pserdes, SD_UINT32 pserdes_size) {
    VxSdCall call("SDReadSerdesParams", Device);
    if (pserdes_size == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid parameter.");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (!call.given(pserdes)) return call.status();
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.chip_gate(rec, VX_CHIP_SERDES_PARAMS)) return call.status();
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_read_serdes_params(rec->oshandle, rec, pserdes, pserdes_size, ext); },
        [] {});
}

SD_UINT32 SDGetTraceBuffer(int Device, SD_PUINT8 buffer, SD_PUINT32 size) {
    VxSdCall call("SDGetTraceBuffer", Device);
    if (!call.given(buffer) || !call.given(size)) return call.status();
    const uint32_t room = *size;
    if (room == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid parameter.");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (!call.buffer_holds(room, kTraceBytes, size)) return call.status();
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.chip_gate(rec, VX_CHIP_FCE_TRACE)) return call.status();

    uint32_t length = room;
    bool too_small = false;
    const SD_UINT32 status = call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) {
            const int result = vxapi_get_fce_buffer(rec->oshandle, rec, buffer, &length, ext);
            too_small = *ext == kDriverBufferTooSmall;
            return result;
        },
        // The length received never passes the buffer, whatever the transport reports.
        [&] { *size = std::min(length, room); });
    // A buffer too small for the driver learns the length needed.
    if (too_small) *size = length;
    return status;
}

SD_UINT32 SDGetFCSerDesRegister(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 SerDesRegAddr, SD_PUINT16 pData) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetFCSerDesRegister", Device);
    if (!call.given(pData)) return call.status();
    return serdes_register(call, VX_CHIP_SERDES_REG, vxa_serdes_reg{VXA_SERDES_READ, SerDesRegAddr, 0},
                           vxapi_serdes_reg_ops, [&](const vxa_serdes_reg& reg) { *pData = reg.val; });
}

SD_UINT32 SDSetFCSerDesRegister(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 SerDesRegAddr, SD_UINT16 Data) {
    (void)HbaDevPortNum;
    VxSdCall call("SDSetFCSerDesRegister", Device);
    return serdes_register(call, VX_CHIP_SERDES_REG, vxa_serdes_reg{VXA_SERDES_WRITE, SerDesRegAddr, Data},
                           vxapi_serdes_reg_ops, [](const vxa_serdes_reg&) {});
}

SD_UINT32 SDGetFCSerDesRegisterEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 SerDesRegAddr, SD_PUINT32 pData) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetFCSerDesRegisterEx", Device);
    if (!call.given(pData)) return call.status();
    return serdes_register(call, VX_CHIP_SERDES_REG_EX, vxa_serdes_reg_ex{VXA_SERDES_READ, SerDesRegAddr, 0},
                           vxapi_serdes_reg_ops_ex, [&](const vxa_serdes_reg_ex& reg) { *pData = reg.val; });
}

SD_UINT32 SDSetFCSerDesRegisterEx(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 SerDesRegAddr, SD_UINT32 Data) {
    (void)HbaDevPortNum;
    VxSdCall call("SDSetFCSerDesRegisterEx", Device);
    return serdes_register(call, VX_CHIP_SERDES_REG_EX, vxa_serdes_reg_ex{VXA_SERDES_WRITE, SerDesRegAddr, Data},
                           vxapi_serdes_reg_ops_ex, [](const vxa_serdes_reg_ex&) {});
}

// Commands that a port carries to other devices: SCSI commands to a LUN,
// addressed by SCSI address on the port's SCSI host or by the target port's
// WWPN, with the INQUIRY, READ CAPACITY and REPORT LUNS commands built here;
// CT requests to the fabric's servers; ELS ECHO to a remote port.
//
// Nothing survives a call. A target that refuses REPORT LUNS has its LUNs 0
// to 255 probed one command after another, and the list is built here.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "api/vx_sdframe.h"
#include "base/vx_port_road.h"
#include "core/io/vx_passthru.h"
#include "transport/vx_sysfs_passthru.h"
#include "vxsdm.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// ELS ECHO request command, and the reply codes of the link service.
struct els_echo_req_t {
    uint8_t CommandCode;
    uint8_t Reserved[3];
};
static_assert(sizeof(els_echo_req_t) == 4);

struct els_reject_t {
    uint8_t ReplyCode;
    uint8_t Reserved1[3];
    uint8_t Reserved2;
    uint8_t ResonCode;
    uint8_t ResonExplanation;
    uint8_t VendorUnique;
};
static_assert(sizeof(els_reject_t) == 8);
static_assert(offsetof(els_reject_t, ResonCode) == 5);
static_assert(offsetof(els_reject_t, VendorUnique) == 7);

constexpr uint8_t kElsEcho = 0x10;
constexpr uint8_t kLsReject = 0x01;
constexpr uint8_t kLsAccept = 0x02;
// The echoed data follow the LS_ACC's 4-byte command word.
constexpr uint32_t kElsReplyHead = 4;
constexpr uint32_t kElsRequestHead = sizeof(EXT_ELS_PT_REQ) + sizeof(els_echo_req_t);

// SCSI commands built here.
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kReportLuns = 0xA0;
constexpr uint32_t kInquiryCdbLength = 6;
constexpr uint32_t kReadCapacityCdbLength = 10;
constexpr uint32_t kReportLunsCdbLength = 12;
constexpr uint32_t kInquiryMaxAllocation = 255;

// Detail status of a command that ended with CHECK CONDITION.
constexpr uint32_t kCheckCondition = 0x02;

// Fixed-format sense, current error, with the sense key ILLEGAL REQUEST:
// the target refused the REPORT LUNS command.
constexpr uint8_t kFixedSenseCurrent = 0x70;
constexpr uint8_t kIllegalRequest = 5;

// The LUNs probed, the INQUIRY answer's size and its peripheral bytes that
// tell no device at the LUN (qualifier 1) and no LUN at all (0x7F).
constexpr uint32_t kProbedLuns = 256;
constexpr uint32_t kProbeInquiry = 36;
constexpr uint8_t kNoDeviceAtLun = 0x20;
constexpr uint8_t kLunNotSupported = 0x7F;
// REPORT LUNS parameter list: 8 bytes of head, then 8 bytes per LUN. The
// head opens with the list's length in bytes, 4 bytes.
constexpr uint32_t kLunListHead = 8;
constexpr uint32_t kLunListLength = 4;
constexpr uint32_t kLunEntry = 8;

// The status of a SCSI command: the frame's order, with overrun and
// underrun taken when the worker completed and the SCSI status byte (or the
// detail status) passed to the translation of status 15.
SD_UINT32 scsi_status(VxSdCall& call, int result, uint32_t ext_stat, int err, uint32_t scsi_stat) {
    return vx_sd_outcome(call.name(), call.device(), result, ext_stat, err, VxSdAccept::OverUnder, nullptr, scsi_stat,
                         VxSdScsi::PassThrough)
        .status;
}

// Refuses a CDB longer than the records carry.
bool cdb_fits(VxSdCall& call, uint32_t cdb_len) {
    if (cdb_len <= VX_SCSI_MAX_CDB) return true;
    vxdbg_line(VX_SD_ERROR, "SDSendScsiPassThru invalid cdb length ", cdb_len, VXDBG_DEC);
    call.done(SDERR_INVALID_PARAMETER);
    return false;
}

// Refuses a command with both a data-out and a data-in buffer: a request
// moves data one way only.
bool one_direction(VxSdCall& call, const void* out, const void* in) {
    if (out == nullptr || in == nullptr) return true;
    vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): Invalid direction. Both buffer pointers given.");
    call.done(SDERR_INVALID_PARAMETER);
    return false;
}

// Copies the first `size` bytes (at most the 256 of the internal buffer) of
// the sense data to the caller's sense buffer, when there is one.
void copy_sense(SD_PUINT8 dst, SD_UINT32 size, const uint8_t* sense) {
    if (dst != nullptr && size != 0) std::memcpy(dst, sense, std::min<uint32_t>(size, VX_SCSI_MAX_SENSE));
}

// Whether the sense data tell that the target refused the command as an
// illegal request (fixed format, current error).
bool refused_as_illegal(const uint8_t* sense) {
    return sense[0] == kFixedSenseCurrent && (sense[2] & 0x0F) == kIllegalRequest;
}

// Writes the REPORT LUNS parameter list of the LUNs marked present into the
// caller's buffer: the length in bytes 0 to 3 counts every LUN found, the
// entries are those that fit the buffer (single-level peripheral addressing)
// and bytes 4 to 7 are left as they are. SDERR_NOT_FROM_DEVICE.
SD_UINT32 write_lun_list(VxSdCall& call, const bool (&present)[kProbedLuns], void* buffer, uint32_t size) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t found = 0;
    for (bool p : present) found += p ? 1 : 0;
    // The length goes most significant byte first: written least
    // significant byte first, whatever the host, then byte-reversed.
    const uint32_t length = found * kLunEntry;
    for (uint32_t i = 0; i < kLunListLength; ++i) out[i] = static_cast<uint8_t>(length >> (8 * i));
    vxapi_chg_endian(out, kLunListLength);

    const uint32_t room = std::min(found, (size - kLunListHead) / kLunEntry);
    std::memset(out + kLunListHead, 0, room * kLunEntry);
    uint8_t* entry = out + kLunListHead;
    for (uint32_t lun = 0, written = 0; lun < kProbedLuns && written < room; ++lun) {
        if (!present[lun]) continue;
        entry[0] = static_cast<uint8_t>((lun >> 8) & 0x3F);
        entry[1] = static_cast<uint8_t>(lun & 0xFF);
        entry += kLunEntry;
        ++written;
    }
    if (room < found) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): LUN list cut to the buffer. LUNs found=", found,
                   VXDBG_DEC);
    }
    return call.done(SDERR_NOT_FROM_DEVICE);
}

// The list that a probe builds needs its head; a buffer without room for
// it gets SDERR_BUFFER_TOO_SMALL before anything is probed.
bool list_fits(VxSdCall& call, const void* buffer, uint32_t size) {
    if (!call.given(buffer)) return false;
    return call.buffer_holds(size, kLunListHead);
}

// The 12-byte REPORT LUNS command for an answer of `size` bytes.
void report_luns_cdb(uint8_t (&cdb)[kReportLunsCdbLength], uint32_t size) {
    std::memset(cdb, 0, sizeof cdb);
    cdb[0] = kReportLuns;
    cdb[6] = static_cast<uint8_t>(size >> 24);
    cdb[7] = static_cast<uint8_t>(size >> 16);
    cdb[8] = static_cast<uint8_t>(size >> 8);
    cdb[9] = static_cast<uint8_t>(size);
}

// The 6-byte INQUIRY command for an answer of `size` bytes.
void inquiry_cdb(uint8_t (&cdb)[kInquiryCdbLength], uint32_t size) {
    std::memset(cdb, 0, sizeof cdb);
    cdb[0] = kInquiry;
    cdb[4] = static_cast<uint8_t>(std::min(size, kInquiryMaxAllocation));
}

// One SCSI command by SCSI address through the port's transport.
int32_t send_by_address(vxapi_priv_database* rec, const EXT_SCSI_ADDR& addr, const uint8_t* cdb, uint32_t cdb_len,
                        const void* out, uint32_t out_size, void* in, uint32_t* in_size, uint8_t* sense,
                        uint32_t* sense_size, uint32_t* ext_stat, uint8_t* scsi_stat) {
    if (vxapi_is_sysfs_port(rec)) {
        return vxsysfs_send_scsipt(rec->oshandle, rec, &addr, cdb, cdb_len, out, out_size, in, in_size, sense,
                                   sense_size, ext_stat, scsi_stat);
    }
    if ((rec->features & VX_FEAT_NEW_IOCTL) != 0) {
        return vxapi_send_scsipt_n(rec->oshandle, rec, &addr, cdb, cdb_len, out, out_size, in, in_size, sense,
                                   sense_size, ext_stat, scsi_stat);
    }
    return vxapi_send_scsipt_o(rec->oshandle, rec, &addr, cdb, cdb_len, out, out_size, in, in_size, sense,
                               sense_size, ext_stat, scsi_stat);
}

// The probe of the SCSI-address family: READ CAPACITY to each LUN.
void probe_luns(int device, PTARGETINFORMATION target, uint8_t* sense, bool (&present)[kProbedLuns]) {
    for (uint32_t lun = 0; lun < kProbedLuns; ++lun) {
        target->LUN = static_cast<SD_UINT16>(lun);
        std::memset(sense, 0, VX_SCSI_MAX_SENSE);
        READ_CAP_t capacity{};
        present[lun] = SDSendScsiReadCapacityCmd(device, target, &capacity, sizeof capacity, sense,
                                                 VX_SCSI_MAX_SENSE) == SDERR_NO_ERROR;
    }
}

// The probe of the FC family: INQUIRY first (no device at the LUN: absent;
// LUN not supported: no higher LUN is tried), then READ CAPACITY.
void probe_luns(int device, PDESTINATIONADDRESS dest, uint8_t* sense, bool (&present)[kProbedLuns]) {
    for (uint32_t lun = 0; lun < kProbedLuns; ++lun) {
        dest->LunNumber = static_cast<SD_UINT16>(lun);
        std::memset(sense, 0, VX_SCSI_MAX_SENSE);
        uint8_t inquiry[kProbeInquiry] = {};
        if (SDSendScsiInquiryCmdFC(device, dest, inquiry, sizeof inquiry, sense, VX_SCSI_MAX_SENSE) ==
            SDERR_NO_ERROR) {
            if (inquiry[0] == kNoDeviceAtLun) continue;
            if (inquiry[0] == kLunNotSupported) {
                vxdbg_line(VX_SD_INFO, "SDSendScsiReportLunsCmdFC: Inquiry terminate at lun=", lun, VXDBG_DEC);
                return;
            }
        }
        READ_CAP_t capacity{};
        present[lun] = SDSendScsiReadCapacityCmdFC(device, dest, &capacity, sizeof capacity, sense,
                                                   VX_SCSI_MAX_SENSE) == SDERR_NO_ERROR;
    }
}

SD_UINT32 pass_through(int device, PTARGETINFORMATION target, uint8_t* cdb, SD_PVOID resp, SD_UINT32 resp_size,
                       uint8_t* sense) {
    return SDSendScsiPassThru(device, target, cdb, kReportLunsCdbLength, nullptr, 0, resp, resp_size, sense,
                              VX_SCSI_MAX_SENSE);
}
SD_UINT32 pass_through(int device, PDESTINATIONADDRESS dest, uint8_t* cdb, SD_PVOID resp, SD_UINT32 resp_size,
                       uint8_t* sense) {
    return SDSendScsiPassThruFC(device, dest, cdb, kReportLunsCdbLength, nullptr, 0, resp, resp_size, sense,
                                VX_SCSI_MAX_SENSE);
}

// REPORT LUNS in either family; a target that refuses it as an illegal
// request gets the list of the LUNs its probe finds instead.
template <typename Address>
SD_UINT32 report_luns(VxSdCall& call, Address address, SD_PVOID resp, SD_UINT32 resp_size, SD_PUINT8 caller_sense,
                      SD_UINT32 caller_sense_size) {
    uint8_t cdb[kReportLunsCdbLength];
    report_luns_cdb(cdb, resp_size);
    uint8_t sense[VX_SCSI_MAX_SENSE] = {};
    const SD_UINT32 status = pass_through(call.device(), address, cdb, resp, resp_size, sense);
    copy_sense(caller_sense, caller_sense_size, sense);
    if (!refused_as_illegal(sense)) return call.done(status);

    vxdbg_line(VX_SD_INFO, (std::string(call.name()) + ": RLC failed. Enumerating.").c_str());
    if (!list_fits(call, resp, resp_size)) return call.status();
    bool present[kProbedLuns] = {};
    probe_luns(call.device(), address, sense, present);
    return write_lun_list(call, present, resp, resp_size);
}

// Whether the ECHO arguments are usable: equal request and response sizes
// that leave room for the request's head, and a buffer for each non-zero
// size.
bool echo_arguments_valid(SD_PUINT8 req, SD_UINT32 req_size, SD_PUINT8 resp, SD_PUINT32 resp_size) {
    if (resp_size == nullptr || req_size != *resp_size) return false;
    if (req_size > UINT32_MAX - kElsRequestHead) return false;
    return (req_size == 0 || req != nullptr) && (*resp_size == 0 || resp != nullptr);
}

// The ECHO request: the ELS head naming the remote port by WWPN, the ECHO
// command and the data.
void build_echo(uint8_t* request, const DESTINATIONADDRESS& target, const uint8_t* data, uint32_t size) {
    auto* head = reinterpret_cast<EXT_ELS_PT_REQ*>(request);
    std::memcpy(head->WWPN, target.AddressUsing.PortWWN, sizeof head->WWPN);
    head->ValidMask = VX_ELS_WWPN_VALID;
    auto* echo = reinterpret_cast<els_echo_req_t*>(request + sizeof(EXT_ELS_PT_REQ));
    echo->CommandCode = kElsEcho;
    if (size != 0) std::memcpy(request + kElsRequestHead, data, size);
}

// The caller's part of an ECHO reply of which `received` bytes came: the
// echoed data of an LS_ACC, the response size cut to those that came (fewer
// than were sent: SDERR_DATA_UNDERRUN); the reject bytes of an LS_RJT that
// came and lie within the response size, which is cut to the reject's 8
// bytes. A reply of which nothing came is an underrun: its reply code is
// not read.
SD_UINT32 take_echo_reply(VxSdCall& call, const uint8_t* reply, uint32_t received, SD_PUINT8 resp,
                          SD_PUINT32 resp_size) {
    if (received == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): no reply.");
        *resp_size = 0;
        return SDERR_DATA_UNDERRUN;
    }
    if (reply[0] == kLsAccept) {
        const uint32_t echoed = received > kElsReplyHead ? received - kElsReplyHead : 0;
        const uint32_t size = std::min(*resp_size, echoed);
        if (size != 0) std::memcpy(resp, reply + kElsReplyHead, size);
        if (size == *resp_size) return SDERR_NO_ERROR;
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): echoed bytes=", size, VXDBG_DEC);
        *resp_size = size;
        return SDERR_DATA_UNDERRUN;
    }
    if (reply[0] != kLsReject) return SDERR_UNKNOWN;
    vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): got LS_RJT.");
    const uint32_t size = std::min({*resp_size, static_cast<uint32_t>(sizeof(els_reject_t)), received});
    *resp_size = size;
    for (size_t at : {offsetof(els_reject_t, ReplyCode), offsetof(els_reject_t, ResonCode),
                      offsetof(els_reject_t, ResonExplanation), offsetof(els_reject_t, VendorUnique)}) {
        if (at < size) resp[at] = reply[at];
    }
    return SDERR_ELS_REJECTED;
}

}  // namespace

SD_UINT32 SDSendScsiPassThru(int Device, PTARGETINFORMATION pTargetInfo, SD_PUINT8 pCdbBuf, SD_UINT32 ValidCdbLen,
                             SD_PVOID pReqBuf, SD_UINT32 ReqBufSize, SD_PVOID pRespBuf, SD_UINT32 RespBufSize,
                             SD_PUINT8 pSenseBuf, SD_UINT32 SenseBufSize) {
    VxSdCall call("SDSendScsiPassThru", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !cdb_fits(call, ValidCdbLen)) return call.status();
    if (pSenseBuf != nullptr) std::memset(pSenseBuf, 0, SenseBufSize);
    if (!call.given(pTargetInfo) || (ValidCdbLen != 0 && !call.given(pCdbBuf))) return call.status();
    EXT_SCSI_ADDR addr{};
    addr.Target = pTargetInfo->TargetID;
    addr.Lun = pTargetInfo->LUN;
    if (pReqBuf == nullptr && pRespBuf == nullptr) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): Invalid direction. No valid buffer pointers.");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (!one_direction(call, pReqBuf, pRespBuf)) return call.status();

    uint32_t resp_len = RespBufSize;
    uint32_t sense_len = SenseBufSize;
    uint32_t ext = 0;
    uint8_t scsi_stat = 0;
    errno = 0;
    const int32_t result = send_by_address(rec, addr, pCdbBuf, ValidCdbLen, pReqBuf, ReqBufSize, pRespBuf, &resp_len,
                                           pSenseBuf, &sense_len, &ext, &scsi_stat);
    return call.done(scsi_status(call, result, ext, errno, scsi_stat));
}

SD_UINT32 SDSendScsiPassThruFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PUINT8 pCdbBuf, SD_UINT32 ValidCdbLen,
                               SD_PVOID pReqBuf, SD_UINT32 ReqBufSize, SD_PVOID pRespBuf, SD_UINT32 RespBufSize,
                               SD_PUINT8 pSenseBuf, SD_UINT32 SenseBufSize) {
    VxSdCall call("SDSendScsiPassThruFC", Device);
    vxapi_priv_database* rec = call.port();
    const uint32_t sense_len = std::min<uint32_t>(SenseBufSize, VX_SCSI_MAX_SENSE);
    if (rec == nullptr || !cdb_fits(call, ValidCdbLen) || !call.given(pDestAddr)) return call.status();
    if (pDestAddr->AddressType != VX_DEST_WWPN) {
        vxdbg_line(VX_SD_ERROR, "SDSendScsiPassThruFC: Unsupported WW Address Type ", pDestAddr->AddressType,
                   VXDBG_DEC);
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (ValidCdbLen != 0 && !call.given(pCdbBuf)) return call.status();

    EXT_FC_SCSI_PASSTHRU pt{};
    std::memcpy(pt.FCScsiAddr.DestAddr.WWPN, pDestAddr->AddressUsing.PortWWN, sizeof pt.FCScsiAddr.DestAddr.WWPN);
    pt.FCScsiAddr.DestType = pDestAddr->AddressType;
    pt.FCScsiAddr.Lun = pDestAddr->LunNumber;
    pt.CdbLength = static_cast<uint8_t>(ValidCdbLen);
    if (ValidCdbLen != 0) std::memcpy(pt.Cdb, pCdbBuf, ValidCdbLen);
    pt.SenseLength = static_cast<uint16_t>(sense_len);

    if (pReqBuf != nullptr && pRespBuf != nullptr) {
        vxdbg_line(VX_SD_ERROR, "SDSendScsiPassThruFC: Invalid direction. No valid buffer pointers.");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    void* data = nullptr;
    uint32_t data_len = 0;
    pt.Direction = VX_SCSI_DIR_NONE;
    if (pReqBuf != nullptr) {
        pt.Direction = VX_SCSI_DIR_OUT;
        data = pReqBuf;
        data_len = ReqBufSize;
    } else if (pRespBuf != nullptr) {
        pt.Direction = VX_SCSI_DIR_IN;
        data = pRespBuf;
        data_len = RespBufSize;
    }

    uint32_t ext = 0;
    uint32_t dstat = 0;
    errno = 0;
    const int32_t result = vxapi_send_fc_scsipt(rec->oshandle, rec, data, &data_len, &pt, &ext, &dstat);
    const SD_UINT32 status = scsi_status(call, result, ext, errno, dstat);
    if (dstat != kCheckCondition) return call.done(status);
    vxdbg_line(VX_SD_ERROR, "SDSendScsiPassThruFC: Check Condition. DStatus=", dstat, VXDBG_HEX);
    copy_sense(pSenseBuf, sense_len, pt.SenseData);
    return call.done(SDERR_SCSI_CHECK_CONDITION);
}

SD_UINT32 SDSendScsiInquiryCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pResp, SD_UINT32 RespSize,
                               SD_PUINT8 pSense, SD_UINT32 SenseSize) {
    VxSdCall call("SDSendScsiInquiryCmd", Device);
    if (call.port() == nullptr) return call.status();
    uint8_t cdb[kInquiryCdbLength];
    inquiry_cdb(cdb, RespSize);
    return call.done(
        SDSendScsiPassThru(Device, pTargetInfo, cdb, sizeof cdb, nullptr, 0, pResp, RespSize, pSense, SenseSize));
}

SD_UINT32 SDSendScsiInquiryCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pResp, SD_UINT32 RespSize,
                                 SD_PUINT8 pSense, SD_UINT32 SenseSize) {
    VxSdCall call("SDSendScsiInquiryCmdFC", Device);
    if (call.port() == nullptr) return call.status();
    uint8_t cdb[kInquiryCdbLength];
    inquiry_cdb(cdb, RespSize);
    return call.done(
        SDSendScsiPassThruFC(Device, pDestAddr, cdb, sizeof cdb, nullptr, 0, pResp, RespSize, pSense, SenseSize));
}

SD_UINT32 SDSendScsiReadCapacityCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pResp, SD_UINT32 RespSize,
                                    SD_PUINT8 pSense, SD_UINT32 SenseSize) {
    VxSdCall call("SDSendScsiReadCapacityCmd", Device);
    if (call.port() == nullptr) return call.status();
    uint8_t cdb[kReadCapacityCdbLength] = {kReadCapacity};
    uint8_t sense[VX_SCSI_MAX_SENSE] = {};
    const SD_UINT32 status =
        SDSendScsiPassThru(Device, pTargetInfo, cdb, sizeof cdb, nullptr, 0, pResp, RespSize, sense, sizeof sense);
    copy_sense(pSense, SenseSize, sense);
    return call.done(status);
}

SD_UINT32 SDSendScsiReadCapacityCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pResp,
                                      SD_UINT32 RespSize, SD_PUINT8 pSense, SD_UINT32 SenseSize) {
    VxSdCall call("SDSendScsiReadCapacityCmdFC", Device);
    if (call.port() == nullptr) return call.status();
    uint8_t cdb[kReadCapacityCdbLength] = {kReadCapacity};
    return call.done(
        SDSendScsiPassThruFC(Device, pDestAddr, cdb, sizeof cdb, nullptr, 0, pResp, RespSize, pSense, SenseSize));
}

SD_UINT32 SDSendScsiReportLunsCmd(int Device, PTARGETINFORMATION pTargetInfo, SD_PVOID pRespBuf,
                                  SD_UINT32 RespBufSize, SD_PUINT8 pSense, SD_UINT32 SenseSize) {
    VxSdCall call("SDSendScsiReportLunsCmd", Device);
    if (call.port() == nullptr) return call.status();
    return report_luns(call, pTargetInfo, pRespBuf, RespBufSize, pSense, SenseSize);
}

SD_UINT32 SDSendScsiReportLunsCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, SD_PVOID pRespBuf,
                                    SD_UINT32 RespBufSize, SD_PUINT8 pSense, SD_UINT32 SenseSize) {
    VxSdCall call("SDSendScsiReportLunsCmdFC", Device);
    if (call.port() == nullptr) return call.status();
    return report_luns(call, pDestAddr, pRespBuf, RespBufSize, pSense, SenseSize);
}

SD_UINT32 SDSendCTPassThru(int Device, SD_PVOID pReqBuffer, SD_UINT32 ReqBufferSize, SD_PVOID pRespBuffer,
                           SD_UINT32 RespBufferSize) {
    VxSdCall call("SDSendCTPassThru", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if ((ReqBufferSize != 0 && !call.given(pReqBuffer)) || (RespBufferSize != 0 && !call.given(pRespBuffer))) {
        return call.status();
    }
    uint32_t resp_size = RespBufferSize;
    return call.run(
        VxSdAccept::OverUnder,
        [&](uint32_t* ext) {
            return vxapi_send_ct_passthru(rec->oshandle, rec, pReqBuffer, ReqBufferSize, pRespBuffer, &resp_size,
                                          ext);
        },
        [] {});
}

SD_UINT32 SDSendElsEcho(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr, SD_PUINT8 pReqData,
                        SD_UINT32 ReqDataSize, SD_PUINT8 pRespData, SD_PUINT32 pRespDataSize) {
    (void)HbaDevPortNum;
    VxSdCall call("SDSendElsEcho", Device);
    if (!call.given(pTargetAddr)) return call.status();
    if (pTargetAddr->AddressType != VX_DEST_WWPN) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): Unsupported WW Address Type=", pTargetAddr->AddressType,
                   VXDBG_DEC);
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (!echo_arguments_valid(pReqData, ReqDataSize, pRespData, pRespDataSize)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): Invalid parameter");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();

    const uint32_t req_size = kElsRequestHead + ReqDataSize;
    const uint32_t reply_size = std::max<uint32_t>(*pRespDataSize + kElsReplyHead, sizeof(els_reject_t));
    Buffer request(static_cast<uint8_t*>(std::calloc(1, req_size)));
    if (!request) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): req buf malloc failed");
        return call.done(SDERR_OUT_OF_MEMORY);
    }
    Buffer reply(static_cast<uint8_t*>(std::calloc(1, reply_size)));
    if (!reply) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): resp buf malloc failed");
        return call.done(SDERR_OUT_OF_MEMORY);
    }
    build_echo(request.get(), *pTargetAddr, pReqData, ReqDataSize);

    call.set_failure_line("SDSendElsEcho: ioctl failed. ext status=");
    uint32_t received = reply_size;
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) {
            return vxapi_send_els_passthru(rec->oshandle, rec, request.get(), req_size, reply.get(), &received,
                                           ext);
        },
        [&] { return take_echo_reply(call, reply.get(), received, pRespData, pRespDataSize); });
}

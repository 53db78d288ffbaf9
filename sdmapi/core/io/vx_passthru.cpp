// Pass-through, LUN lists, beacon, RNID and loopback requests through the
// driver, the choice of the sysfs twin for sysfs ports, and the READ
// CAPACITY and REPORT LUNS commands with the LUN-probing fallback; the OS
// device name of a LUN.
#include "core/io/vx_passthru.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_netlink.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_passthru.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_STEP;

// Sub-codes.
constexpr uint16_t kScsiByAddress = 0;
constexpr uint16_t kScsiByDest = 1;
constexpr uint16_t kScsi3 = 2;
constexpr uint16_t kDataBeacon = 8;
constexpr uint16_t kDataTgtLunList = 10;
constexpr uint16_t kDataRnid = 0x6D;

// Topologies on which CT requests reach a fabric's services.
constexpr uint16_t kTopologyFLPort = 4;
constexpr uint16_t kTopologyFPort = 8;

// SCSI commands built here, and the fallback's probe.
constexpr uint8_t kOpReadCapacity = 0x25;
constexpr uint8_t kOpReportLuns = 0xA0;
constexpr uint8_t kCheckConditionBit = 0x02;
constexpr uint8_t kFixedSenseCurrent = 0x70;
constexpr uint8_t kSenseKeyIllegalRequest = 5;
constexpr uint32_t kProbedLuns = 4095;
constexpr uint32_t kReportLunsHead = 8;
constexpr uint32_t kLunEntry = 8;

void set(uint32_t* out, uint32_t value) {
    if (out != nullptr) *out = value;
}

// One trace line: the worker's name, the text and the number in the base.
void trace(uint32_t bits, const char* name, const char* text, uint64_t number = 0, uint8_t base = VXDBG_NONE) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(text, number, base, 1);
}

void entered(const char* name) { trace(VXDBG_STEP, name, ": entered."); }

// The exit line of a worker that did not send through the frame (which
// traces its own).
int32_t exiting(const char* name, int32_t result) {
    trace(VXDBG_STEP, name, ": exiting. status=", static_cast<uint32_t>(result), VXDBG_HEX);
    return result;
}

// A request whose only answer is the driver's status (and, with record_len,
// a response record that the driver fills whole; as VxRequest's).
int32_t send_status(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                    uint16_t sub_code, const void* request, uint32_t request_len, void* response,
                    uint32_t response_len, uint32_t* pext_stat, uint32_t record_len = 0) {
    VxReply reply;
    const int32_t result = vxapi_send_buffers(name, handle, rec, command, sub_code, request, request_len, response,
                                              response_len, &reply, record_len);
    const int saved_errno = errno;
    set(pext_stat, reply.status);
    errno = saved_errno;
    return result;
}

// A request with an in/out response length: the bytes delivered come back in
// *size (never more than it held).
int32_t send_sized(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                   uint16_t sub_code, const void* request, uint32_t request_len, void* response, uint32_t* size,
                   uint32_t* pext_stat, uint32_t* pext_dstat = nullptr) {
    VxReply reply;
    const int32_t result = vxapi_send_buffers(name, handle, rec, command, sub_code, request, request_len, response,
                                              size != nullptr ? *size : 0, &reply);
    const int saved_errno = errno;
    set(pext_stat, reply.status);
    set(pext_dstat, reply.detail_status);
    if (size != nullptr && result != VX_RESULT_NOT_BUILT) *size = reply.response_len;
    errno = saved_errno;
    return result;
}

// SCSI pass-through to a remote port, both sub-codes.
int32_t send_fc_scsi(const char* name, uint16_t sub_code, int handle, vxapi_priv_database* rec, void* presp_buf,
                     uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pass, uint32_t* pext_stat,
                     uint32_t* pext_dstat) {
    if (pass == nullptr) {
        trace(kErr, name, ": no request.");
        return exiting(name, VX_RESULT_NOT_BUILT);
    }
    return send_sized(name, handle, rec, EXT_CC_SEND_SCSI_PASSTHRU, sub_code, pass, sizeof *pass, presp_buf,
                      presp_buf_size, pext_stat, pext_dstat);
}

// The sense data of a CHECK CONDITION into the caller's buffer: as many bytes
// as the smaller of the room and what the driver returned.
void copy_sense(const EXT_SCSI_PASSTHRU& pass, uint32_t detail, uint32_t room, uint8_t* psense_buf,
                uint32_t* psense_buf_size) {
    if (psense_buf == nullptr || psense_buf_size == nullptr) return;
    const uint32_t n = std::min<uint32_t>({room, pass.SenseLength, VX_SCSI_MAX_SENSE});
    std::memcpy(psense_buf, pass.SenseData, n);
    *psense_buf_size = n;
    if (vxdbg_on(kErr)) {
        vxdbg_print("Check Condition. DStatus=", detail, VXDBG_HEX, 0);
        vxdbg_print(" Sense Length=", n, VXDBG_DEC, 0);
        vxdbg_print(" Sense data:", 0, VXDBG_NONE, 1);
        vxdbg_dump(nullptr, psense_buf, 8, n);
    }
}

// One SCSI command by address through the ioctl road, with the new or the
// old header as the record says.
int32_t send_scsipt(const char* name, int handle, vxapi_priv_database* rec, const EXT_SCSI_ADDR* pscsi_addr,
                    const uint8_t* pcdb, uint32_t cdb_len, const void* preq_buf, uint32_t req_buf_size,
                    void* presp_buf, uint32_t* presp_buf_size, uint8_t* psense_buf, uint32_t* psense_buf_size,
                    uint32_t* pext_stat, uint8_t* pscsi_stat) {
    if (cdb_len > VX_SCSI_MAX_CDB) {
        trace(kErr, name, ": invalid cdb length ", cdb_len, VXDBG_DEC);
        return VX_RESULT_NOT_BUILT;
    }
    if (pscsi_addr == nullptr || (pcdb == nullptr && cdb_len != 0)) {
        trace(kErr, name, ": no address or no command block.");
        return VX_RESULT_NOT_BUILT;
    }

    uint32_t room = 0;
    if (psense_buf != nullptr && psense_buf_size != nullptr) {
        std::memset(psense_buf, 0, *psense_buf_size);
        room = std::min(*psense_buf_size, VX_SCSI_MAX_SENSE);
    }
    EXT_SCSI_PASSTHRU pass{};
    pass.TargetAddr.Bus = pscsi_addr->Bus;
    pass.TargetAddr.Target = pscsi_addr->Target;
    pass.TargetAddr.Lun = pscsi_addr->Lun;
    pass.CdbLength = static_cast<uint8_t>(cdb_len);
    if (cdb_len != 0) std::memcpy(pass.Cdb, pcdb, cdb_len);
    pass.SenseLength = static_cast<uint16_t>(room);

    VxReply reply;
    const int32_t sent =
        vxapi_send_scsipt_ioctl(handle, rec, preq_buf, req_buf_size, presp_buf, presp_buf_size, &pass, &reply);
    const int saved_errno = errno;
    if (sent == VX_RESULT_NOT_BUILT) return VX_RESULT_NOT_BUILT;  // nothing sent

    int32_t result = VX_RESULT_OK;
    const uint32_t status = reply.status;
    if (status != EXT_STATUS_OK && status != EXT_STATUS_DATA_OVERRUN && status != EXT_STATUS_DATA_UNDERRUN &&
        status != EXT_STATUS_SCSI_STATUS) {
        trace(kErr, name, ": bad stat ", status, VXDBG_HEX);
        result = VX_RESULT_NOT_BUILT;
    } else if (sent != 0) {
        trace(kErr, name, ": ioctl failed. errno=", static_cast<uint32_t>(saved_errno), VXDBG_DEC);
        result = VX_RESULT_NOT_BUILT;
    } else if (pscsi_stat != nullptr) {
        *pscsi_stat = 0;
    }

    if (status == EXT_STATUS_SCSI_STATUS && pscsi_stat != nullptr) {
        *pscsi_stat = static_cast<uint8_t>(reply.detail_status & 0xFF);
    }
    if ((reply.detail_status & kCheckConditionBit) != 0) {
        copy_sense(pass, reply.detail_status, room, psense_buf, psense_buf_size);
    }
    set(pext_stat, status);
    errno = saved_errno;
    return result;
}

// One SCSI command by address through the port's transport.
int32_t send_scsi_cdb(int handle, vxapi_priv_database* rec, const EXT_SCSI_ADDR* addr, const uint8_t* cdb,
                      uint32_t cdb_len, void* presp_buf, uint32_t* presp_size, uint8_t* psense_buf,
                      uint32_t* psense_len, uint32_t* pext_stat, uint8_t* pscsi_stat) {
    if (vxapi_is_sysfs_port(rec)) {
        return vxsysfs_send_scsipt(handle, rec, addr, cdb, cdb_len, nullptr, 0, presp_buf, presp_size, psense_buf,
                                   psense_len, pext_stat, pscsi_stat);
    }
    if (rec != nullptr && (rec->features & VX_FEAT_NEW_IOCTL) != 0) {
        return vxapi_send_scsipt_n(handle, rec, addr, cdb, cdb_len, nullptr, 0, presp_buf, presp_size, psense_buf,
                                   psense_len, pext_stat, pscsi_stat);
    }
    return vxapi_send_scsipt_o(handle, rec, addr, cdb, cdb_len, nullptr, 0, presp_buf, presp_size, psense_buf,
                               psense_len, pext_stat, pscsi_stat);
}

// Whether the sense data tell that the target refused the command as an
// ILLEGAL REQUEST (fixed format, current error).
bool refused_as_illegal(const uint8_t* sense, uint32_t room) {
    return sense != nullptr && room > 2 && sense[0] == kFixedSenseCurrent &&
           (sense[2] & 0x0F) == kSenseKeyIllegalRequest;
}

void put_be32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// The REPORT LUNS answer built by probing each LUN of the target with READ
// CAPACITY. A LUN counts when the command succeeded with SCSI status GOOD.
// The length in bytes 0 to 3 counts every LUN found; only the entries that
// fit the buffer's capacity are written. The bytes of the list that the
// buffer holds.
uint32_t enumerate_luns(int handle, vxapi_priv_database* rec, const EXT_SCSI_ADDR& target, uint8_t* list,
                        uint32_t capacity) {
    vxdbg_line(kErr, "vxapi_send_scsi_rlc: RLC failed. Enumerating.");
    const uint32_t room = capacity >= kReportLunsHead ? (capacity - kReportLunsHead) / kLunEntry : 0;
    uint32_t count = 0;
    EXT_SCSI_ADDR addr = target;
    for (uint32_t lun = 0; lun < kProbedLuns; ++lun) {
        addr.Lun = static_cast<uint16_t>(lun);
        READ_CAP_t cap{};
        uint32_t cap_len = sizeof cap;
        uint8_t sense[VX_SCSI_MAX_SENSE] = {};
        uint32_t sense_len = sizeof sense;
        uint8_t scsi_stat = 0xFF;
        if (vxapi_send_scsi_readcap(handle, rec, &addr, &cap, &cap_len, sense, &sense_len, &scsi_stat) != 0 ||
            scsi_stat != 0) {
            continue;
        }
        if (count < room) {
            uint8_t* entry = list + kReportLunsHead + count * kLunEntry;
            std::memset(entry, 0, kLunEntry);
            entry[0] = static_cast<uint8_t>((lun >> 8) & 0x3F);
            entry[1] = static_cast<uint8_t>(lun & 0xFF);
        }
        ++count;
    }
    const uint32_t list_len = count * kLunEntry;
    if (capacity >= 4) put_be32(list, list_len);
    vxdbg_line(kErr, "vxapi_send_scsi_rlc: Lun cnt=", count, VXDBG_DEC);
    vxdbg_line(kErr, "vxapi_send_scsi_rlc: Lun list len=", list_len, VXDBG_DEC);
    return std::min(capacity, kReportLunsHead + list_len);
}

}  // namespace

int32_t vxapi_send_buffers(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                           uint16_t sub_code, const void* request, uint32_t request_len, void* response,
                           uint32_t response_len, VxReply* reply, uint32_t record_len) {
    VxRequest req;
    req.command = command;
    req.sub_code = sub_code;
    req.request = request;
    req.request_len = request != nullptr ? request_len : 0;
    req.response = response;
    req.response_len = response != nullptr ? response_len : 0;
    req.record_len = record_len;
    return vxapi_send_request(name, handle, rec, req, reply);
}

// ---------------------------------------------------------------- CT and ELS

int32_t vxapi_send_ct_passthru(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                               uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                               uint32_t* pext_stat) {
    const char* name = "vxapi_send_ct_passthru";
    entered(name);
    const vxapi_priv_database* rec = api_priv_data_inst;
    // The fabric's services answer only a port that is up on a fabric.
    if (rec == nullptr || rec->state != 0 || (rec->topology != kTopologyFPort && rec->topology != kTopologyFLPort)) {
        vxdbg_line(kErr, "vxapi_send_ct_passthru: disallowing CT-Passthru");
        set(pext_stat, EXT_STATUS_ERR);
        return exiting(name, VX_RESULT_NOT_BUILT);
    }
    if (vxapi_is_sysfs_port(rec)) {
        return exiting(name, vxsysfs_send_ct_passthru(handle, api_priv_data_inst, preq_buf, req_buf_size, presp_buf,
                                                      presp_buf_size, pext_stat));
    }
    return send_sized(name, handle, rec, EXT_CC_SEND_CT_PASSTHRU, 0, preq_buf, req_buf_size, presp_buf,
                      presp_buf_size, pext_stat);
}

int32_t vxapi_send_els_passthru(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                                uint32_t* pext_stat) {
    const char* name = "vxapi_send_els_passthru";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return exiting(name, vxsysfs_send_els_passthru(handle, api_priv_data_inst, preq_buf, req_buf_size, presp_buf,
                                                       presp_buf_size, pext_stat));
    }
    return send_sized(name, handle, api_priv_data_inst, EXT_CC_SEND_ELS_PASSTHRU, 0, preq_buf, req_buf_size,
                      presp_buf, presp_buf_size, pext_stat);
}

// ---------------------------------------------------------------- SCSI

int32_t vxapi_send_fc_scsipt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                             uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass, uint32_t* pext_stat,
                             uint32_t* pext_dstat) {
    const char* name = "vxapi_send_fc_scsipt";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return exiting(name, vxsysfs_send_fc_scsipt(handle, api_priv_data_inst, presp_buf, presp_buf_size,
                                                    pfc_scsi_pass, pext_stat, pext_dstat));
    }
    return send_fc_scsi(name, kScsiByDest, handle, api_priv_data_inst, presp_buf, presp_buf_size, pfc_scsi_pass,
                        pext_stat, pext_dstat);
}

int32_t vxapi_send_scsi3pt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                           uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass, uint32_t* pext_stat,
                           uint32_t* pext_dstat) {
    const char* name = "vxapi_send_scsi3pt";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return exiting(name, vxsysfs_send_scsi3pt(handle, api_priv_data_inst, presp_buf, presp_buf_size,
                                                  pfc_scsi_pass, pext_stat, pext_dstat));
    }
    return send_fc_scsi(name, kScsi3, handle, api_priv_data_inst, presp_buf, presp_buf_size, pfc_scsi_pass,
                        pext_stat, pext_dstat);
}

int32_t vxapi_send_scsipt_ioctl(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                                EXT_SCSI_PASSTHRU* pscsi_pass, VxReply* pret_ext) {
    VxReply unused;
    if (pret_ext == nullptr) pret_ext = &unused;
    *pret_ext = VxReply{};
    if (pscsi_pass == nullptr || (preq_buf != nullptr && presp_buf != nullptr)) {
        vxdbg_line(kErr, "vxapi_send_scsipt_ioctl: Invalid direction. No valid buffer pointers.");
        return VX_RESULT_NOT_BUILT;
    }
    // The data buffer travels in the response slot whatever its direction:
    // the driver moves data out from it too.
    void* data = nullptr;
    uint32_t data_len = 0;
    uint8_t direction = VX_SCSI_DIR_NONE;
    if (preq_buf != nullptr) {
        direction = VX_SCSI_DIR_OUT;
        data = const_cast<void*>(preq_buf);
        data_len = req_buf_size;
    } else if (presp_buf != nullptr) {
        direction = VX_SCSI_DIR_IN;
        data = presp_buf;
        data_len = presp_buf_size != nullptr ? *presp_buf_size : 0;
    }
    pscsi_pass->Direction = direction;
    const int32_t result = vxapi_send_buffers("vxapi_send_scsipt_ioctl", handle, api_priv_data_inst, EXT_CC_SEND_SCSI_PASSTHRU,
                                kScsiByAddress, pscsi_pass, sizeof *pscsi_pass, data, data_len, pret_ext);
    // The bytes read from the device, never more than the buffer holds.
    if (direction == VX_SCSI_DIR_IN && presp_buf_size != nullptr && result == 0) {
        *presp_buf_size = pret_ext->response_len;
    }
    return result;
}

int32_t vxapi_send_scsipt_n(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                            const uint8_t* pcdb, uint32_t cdb_len, const void* preq_buf, uint32_t req_buf_size,
                            void* presp_buf, uint32_t* presp_buf_size, uint8_t* psense_buf,
                            uint32_t* psense_buf_size, uint32_t* pext_stat, uint8_t* pscsi_stat) {
    return send_scsipt("vxapi_send_scsipt_n", handle, api_priv_data_inst, pscsi_addr, pcdb, cdb_len, preq_buf,
                       req_buf_size, presp_buf, presp_buf_size, psense_buf, psense_buf_size, pext_stat, pscsi_stat);
}

int32_t vxapi_send_scsipt_o(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                            const uint8_t* pcdb, uint32_t cdb_len, const void* preq_buf, uint32_t req_buf_size,
                            void* presp_buf, uint32_t* presp_buf_size, uint8_t* psense_buf,
                            uint32_t* psense_buf_size, uint32_t* pext_stat, uint8_t* pscsi_stat) {
    return send_scsipt("vxapi_send_scsipt_o", handle, api_priv_data_inst, pscsi_addr, pcdb, cdb_len, preq_buf,
                       req_buf_size, presp_buf, presp_buf_size, psense_buf, psense_buf_size, pext_stat, pscsi_stat);
}

int32_t vxapi_send_scsi_readcap(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                                void* presp_buf, uint32_t* presp_size, uint8_t* psense_buf, uint32_t* psense_len,
                                uint8_t* pscsi_stat) {
    if (pscsi_addr == nullptr) return VX_RESULT_NOT_BUILT;
    scsi_cdb_10_t cdb{};
    cdb.bytes[0] = kOpReadCapacity;
    cdb.bytes[1] = static_cast<uint8_t>(pscsi_addr->Lun << 5);
    uint32_t ext_stat = 0;
    return send_scsi_cdb(handle, api_priv_data_inst, pscsi_addr, cdb.bytes, sizeof cdb, presp_buf, presp_size,
                         psense_buf, psense_len, &ext_stat, pscsi_stat);
}

int32_t vxapi_send_scsi_rlc(int handle, vxapi_priv_database* api_priv_data_inst, const EXT_SCSI_ADDR* pscsi_addr,
                            void* presp_buf, uint32_t* presp_size, uint8_t* psense_buf, uint32_t* psense_len,
                            uint8_t* pscsi_stat) {
    if (pscsi_addr == nullptr) return VX_RESULT_NOT_BUILT;
    const uint32_t capacity = presp_buf != nullptr && presp_size != nullptr ? *presp_size : 0;
    const uint32_t sense_room = psense_buf != nullptr && psense_len != nullptr ? *psense_len : 0;
    scsi_cdb_12_t cdb{};
    cdb.bytes[0] = kOpReportLuns;
    put_be32(&cdb.bytes[6], capacity);
    uint32_t ext_stat = 0;
    const int32_t result = send_scsi_cdb(handle, api_priv_data_inst, pscsi_addr, cdb.bytes, sizeof cdb, presp_buf,
                                         presp_size, psense_buf, psense_len, &ext_stat, pscsi_stat);
    // Without the sense data nothing tells a refusal: no fallback.
    if (!refused_as_illegal(psense_buf, sense_room)) return result;
    const uint32_t built =
        enumerate_luns(handle, api_priv_data_inst, *pscsi_addr, static_cast<uint8_t*>(presp_buf), capacity);
    if (presp_size != nullptr) *presp_size = built;
    return VX_RESULT_OK;
}

// ---------------------------------------------------------------- LUN lists

int32_t vxapi_get_tgt_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst,
                                    TGT_LUN_DATA_LIST* plun_data_list, uint32_t lun_data_list_len,
                                    uint32_t* pext_stat) {
    const char* name = "vxapi_get_tgt_lun_data_list";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return exiting(name, vxsysfs_get_tgt_lun_data_list(handle, api_priv_data_inst, plun_data_list,
                                                           lun_data_list_len, pext_stat));
    }
    return send_status(name, handle, api_priv_data_inst, EXT_CC_GET_DATA, kDataTgtLunList, nullptr, 0,
                       plun_data_list, lun_data_list_len, pext_stat);
}

int32_t vxapi_get_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst, void* plun_data_list,
                                uint32_t lun_data_list_len, uint32_t* pext_stat) {
    const char* name = "vxapi_get_lun_data_list";
    entered(name);
    FO_LUN_DATA_INPUT input{};
    if (api_priv_data_inst != nullptr) input.HbaInstance = static_cast<uint8_t>(api_priv_data_inst->drvr_inst);
    return send_status(name, handle, api_priv_data_inst, EXT_CC_LUN_DATA, 0, &input, sizeof input, plun_data_list,
                       lun_data_list_len, pext_stat);
}

// ---------------------------------------------------------------- beacon and RNID

int32_t vxapi_get_beacon(int handle, vxapi_priv_database* api_priv_data_inst, EXT_BEACON_CONTROL* pbeacon_st,
                         uint32_t* pext_stat) {
    const char* name = "vxapi_get_beacon";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return exiting(name, vxsysfs_get_beacon(handle, api_priv_data_inst, pbeacon_st, pext_stat));
    }
    return send_status(name, handle, api_priv_data_inst, EXT_CC_GET_DATA, kDataBeacon, nullptr, 0, pbeacon_st,
                       sizeof(EXT_BEACON_CONTROL), pext_stat, sizeof(EXT_BEACON_CONTROL));
}

int32_t vxapi_set_beacon(int handle, vxapi_priv_database* api_priv_data_inst, EXT_BEACON_CONTROL beacon_st,
                         uint32_t* pext_stat) {
    const char* name = "vxapi_set_beacon";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return exiting(name, vxsysfs_set_beacon(handle, api_priv_data_inst, &beacon_st, pext_stat));
    }
    return send_status(name, handle, api_priv_data_inst, EXT_CC_SET_DATA, kDataBeacon, &beacon_st, sizeof beacon_st,
                       nullptr, 0, pext_stat);
}

int32_t vxapi_get_rnid_info(int handle, vxapi_priv_database* api_priv_data_inst, void* pset_rnid_buf,
                            uint32_t set_rnid_size, uint32_t* pext_stat) {
    const char* name = "vxapi_get_rnid_info";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) return exiting(name, vxapi_no_transport(pext_stat));
    return send_status(name, handle, api_priv_data_inst, EXT_CC_GET_DATA, kDataRnid, nullptr, 0, pset_rnid_buf,
                       set_rnid_size, pext_stat);
}

int32_t vxapi_set_rnid_info(int handle, vxapi_priv_database* api_priv_data_inst, const void* pset_rnid_buf,
                            uint32_t set_rnid_size, uint32_t* pext_stat) {
    const char* name = "vxapi_set_rnid_info";
    entered(name);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) return exiting(name, vxapi_no_transport(pext_stat));
    return send_status(name, handle, api_priv_data_inst, EXT_CC_SET_DATA, kDataRnid, pset_rnid_buf, set_rnid_size,
                       nullptr, 0, pext_stat);
}

int32_t vxapi_send_rnid(int handle, vxapi_priv_database* api_priv_data_inst, const void* prnid_req,
                        uint32_t rnid_req_size, void* prnid_rsp, uint32_t* prnid_rsp_size, uint32_t* pext_stat) {
    const char* name = "vxapi_send_rnid";
    entered(name);
    return send_sized(name, handle, api_priv_data_inst, EXT_CC_SEND_RNID, 0, prnid_req, rnid_req_size, prnid_rsp,
                      prnid_rsp_size, pext_stat);
}

// ---------------------------------------------------------------- loopback

int32_t vxapi_loopback_test(int handle, vxapi_priv_database* api_priv_data_inst, INT_LOOPBACK_REQ* ploopback_req,
                            uint32_t loopback_req_sz, INT_LOOPBACK_RSP* ploopback_rsp, uint32_t loopback_rsp_sz,
                            uint32_t* pext_stat) {
    const char* name = "vxapi_loopback_test";
    entered(name);
    const uint32_t features = api_priv_data_inst != nullptr ? api_priv_data_inst->features : 0;
    if ((features & VX_FEAT_BSG) != 0) {
        return exiting(name, vxsysfs_bsg_loopback_test(handle, api_priv_data_inst, ploopback_req, loopback_req_sz,
                                                       ploopback_rsp, loopback_rsp_sz, pext_stat));
    }
    if ((features & VX_FEAT_NL_VENDOR) != 0) {
        return exiting(name, vxapi_nl_loopback_test(gnl_fd, static_cast<int>(api_priv_data_inst->host_no),
                                                    ploopback_req, loopback_req_sz, ploopback_rsp, loopback_rsp_sz,
                                                    pext_stat));
    }
    // A sysfs port has no driver node to take the request.
    if (vxapi_is_sysfs_port(api_priv_data_inst)) return exiting(name, vxapi_no_transport(pext_stat));
    return send_status(name, handle, api_priv_data_inst, EXT_CC_LOOPBACK, 0, ploopback_req, loopback_req_sz,
                       ploopback_rsp, loopback_rsp_sz, pext_stat, sizeof(INT_LOOPBACK_RSP));
}

// ---------------------------------------------------------------- LUN addresses

uint32_t vxapi_get_lun_addr(const lun_8byte_t* plun) {
    if (plun == nullptr) return 0xFFFFFFFFu;
    const uint8_t b0 = plun->first.field[0];
    const uint8_t b1 = plun->first.field[1];
    switch (b0 >> 6) {
    case 0:  // peripheral device
        return b1;
    case 1:  // flat space
        return (static_cast<uint32_t>(b0 & 0x3F) << 8) | b1;
    case 2:  // logical unit
        return b1 & 0x1Fu;
    default:  // extended
        return 0xFFFFFFFFu;
    }
}

int32_t vxapi_get_tgt_osdevname(vxapi_priv_database* api_priv_data_inst, char* devname, uint16_t tgt,
                                uint16_t lun) {
    return vxsysfs_get_devname(api_priv_data_inst, tgt, lun, reinterpret_cast<uint8_t*>(devname));
}

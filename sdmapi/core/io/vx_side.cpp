// Transceiver data, i2c transfers, the firmware dump, a remote port's speed
// and Tarno management through the driver, and the choice of the sysfs,
// bsg or netlink twin for sysfs ports.
#include "core/io/vx_side.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "core/io/vx_diag.h"
#include "core/io/vx_passthru.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_netlink.h"
#include "transport/vx_nl_vendor.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_diag.h"
#include "transport/vx_sysfs_mgmt.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_STEP;

// Sub-codes of the i2c request.
constexpr uint16_t kI2cWrite = 1;
constexpr uint16_t kI2cRead = 2;

uint32_t features_of(const vxapi_priv_database* rec) { return rec != nullptr ? rec->features : 0; }

int host_of(const vxapi_priv_database* rec) { return static_cast<int>(rec->host_no); }

void trace(uint32_t bits, const char* name, const char* text, uint64_t number = 0, uint8_t base = VXDBG_NONE) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(text, number, base, 1);
}

// One request; the driver's Status lands in *pext_stat and, when given, the
// bytes delivered in *delivered: never more than the buffer holds, except
// that a "buffer too small" answer passes on the length the driver needs
// (nothing was delivered then). record_len: as VxRequest's. errno stays the
// ioctl's.
int32_t send(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command, uint16_t sub_code,
             const void* request, uint32_t request_len, void* response, uint32_t response_len, uint32_t* pext_stat,
             uint32_t* delivered = nullptr, uint32_t record_len = 0) {
    VxReply reply;
    const int32_t result = vxapi_send_buffers(name, handle, rec, command, sub_code, request, request_len, response,
                                              response_len, &reply, record_len);
    const int saved_errno = errno;
    if (pext_stat != nullptr) *pext_stat = reply.status;
    if (delivered != nullptr && result != VX_RESULT_NOT_BUILT) {
        *delivered = reply.status == EXT_STATUS_BUFFER_TOO_SMALL ? reply.reported_len : reply.response_len;
    }
    errno = saved_errno;
    return result;
}

// An i2c transfer on the ioctl road, one request per piece of at most 64
// bytes. The record is both request and response, and the driver writes a
// length back into it. A read piece needs the record's head and the bytes
// asked; a write piece reads nothing of its answer but the status. Where the
// head arrived, a length answered other than the piece's own (which stays the
// library's) fails the piece as any failing piece does, with nothing of it
// copied. The result is the last piece's ioctl result.
int32_t i2c_ioctl(const char* name, bool write, int handle, const vxapi_priv_database* rec, uint16_t dev, uint16_t adr,
                  uint16_t opt, uint16_t len, uint8_t* i2c, uint32_t* pext_stat) {
    constexpr uint32_t kHead = offsetof(vxa_i2c_access, buffer);
    static_assert(offsetof(vxa_i2c_access, length) + sizeof(vxa_i2c_access::length) == kHead);
    if (i2c == nullptr && len != 0) {
        trace(kErr, name, ": no buffer.");
        return VX_RESULT_NOT_BUILT;
    }
    uint32_t done = 0, remaining = len;
    int32_t result;
    do {
        const auto asked = static_cast<uint16_t>(std::min<uint32_t>(remaining, VXA_I2C_MAX));
        vxa_i2c_access piece{};
        piece.device = dev;
        piece.offset = static_cast<uint16_t>(adr + done);
        piece.option = opt;
        piece.length = asked;
        if (write && asked != 0) std::memcpy(piece.buffer, i2c + done, asked);
        uint32_t status = 0, delivered = 0;
        result = send(name, handle, rec, EXT_CC_I2C, write ? kI2cWrite : kI2cRead, &piece, sizeof piece, &piece,
                      sizeof piece, &status, &delivered, write ? 0 : kHead + asked);
        if (result == 0 && status == EXT_STATUS_OK && delivered >= kHead && piece.length != asked) {
            trace(kErr, name, ": piece answered with length ", piece.length, VXDBG_DEC);
            status = piece.length < asked ? EXT_STATUS_DATA_UNDERRUN : EXT_STATUS_DATA_OVERRUN;
        }
        if (pext_stat != nullptr) *pext_stat = status;
        if (result != 0 || status != EXT_STATUS_OK) break;
        if (!write && asked != 0) std::memcpy(i2c + done, piece.buffer, asked);
        remaining -= asked;
        done += asked;
    } while (remaining != 0);
    return result;
}

// An i2c transfer through the port's transport.
int32_t i2c_transfer(bool write, int handle, vxapi_priv_database* rec, uint16_t dev, uint16_t adr, uint16_t opt,
                     uint16_t len, uint8_t* i2c, uint32_t* pext_stat) {
    const char* name = write ? "vxapi_set_i2c_buffer" : "vxapi_get_i2c_buffer";
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl: return i2c_ioctl(name, write, handle, rec, dev, adr, opt, len, i2c, pext_stat);
        case VxRoad::Bsg:
            return write ? vxsysfs_set_i2c(handle, rec, dev, adr, opt, len, i2c, pext_stat)
                         : vxsysfs_get_i2c(handle, rec, dev, adr, opt, len, i2c, pext_stat);
        case VxRoad::Netlink:
            return write ? vxapi_nl_set_i2c(gnl_fd, host_of(rec), dev, adr, opt, len, i2c, pext_stat)
                         : vxapi_nl_get_i2c(gnl_fd, host_of(rec), dev, adr, opt, len, i2c, pext_stat);
        case VxRoad::None: break;
    }
    return vxapi_no_transport(pext_stat);
}

// ---- Tarno ----

bool is_tarno_op(uint16_t op) { return op >= VX_TARNO_OP_RESET && op <= VX_TARNO_OP_MANAGE; }

// The driver's form of a request (op in 1 to 4).
SD_A84_MGT to_driver_form(uint16_t op, const SD_TARNO_MGT& p) {
    SD_A84_MGT a{};
    if (op == VX_TARNO_OP_RESET) {
        a.sp.A84Reset.Flags = p.sp.TarnoReset.Flags;
        a.sp.A84Reset.Reserved = p.sp.TarnoReset.Reserved;
    } else if (op == VX_TARNO_OP_UPDATE_FW) {
        const TARNO_UPDATE_FW& u = p.sp.TarnoUpdateFw;
        a.sp.A84UpdateFw.Flags = u.Flags;
        a.sp.A84UpdateFw.Reserved = u.Reserved;
        a.sp.A84UpdateFw.TotalByteCount = u.TotalByteCount;
        a.sp.A84UpdateFw.pFwDataBytes = vxapi_ptr_to_64bit(u.pFwDataBytes);
    } else if (op == VX_TARNO_OP_MANAGE) {
        const TARNO_MANAGE_INFO& m = p.sp.TarnoManageInfo;
        a.sp.A84ManageInfo.Operation = m.Operation;
        a.sp.A84ManageInfo.Reserved = m.Reserved;
        std::memcpy(a.sp.A84ManageInfo.Parameters, &m.Parameters, sizeof a.sp.A84ManageInfo.Parameters);
        a.sp.A84ManageInfo.TotalByteCount = m.TotalByteCount;
        a.sp.A84ManageInfo.pDataBytes = vxapi_ptr_to_64bit(m.pDataBytes);
    }
    return a;  // the firmware version request carries no field
}

int32_t tarno_ioctl(const char* name, int handle, const vxapi_priv_database* rec, uint16_t op, SD_TARNO_MGT* p,
                    uint32_t* pext_stat) {
    SD_A84_MGT a = to_driver_form(op, *p);
    uint32_t status = 0;
    // Only the firmware version is read back from the record.
    const uint32_t record = op == VX_TARNO_OP_FW_VERSION ? sizeof a : 0;
    const int32_t result =
        send(name, handle, rec, EXT_CC_CNA_MGMT, op, &a, sizeof a, &a, sizeof a, &status, nullptr, record);
    if (pext_stat != nullptr) *pext_stat = status;
    if (result == 0 && status == EXT_STATUS_OK && op == VX_TARNO_OP_FW_VERSION) {
        p->sp.TarnoGetFwVer.FwVersion = a.sp.A84GetFwVer.FwVersion;
    }
    return result;
}

// Sysfs port with bsg; the firmware version is always the SCSI host's
// attribute.
int32_t tarno_bsg(int handle, vxapi_priv_database* rec, uint16_t op, SD_TARNO_MGT* p, uint32_t* st) {
    switch (op) {
        case VX_TARNO_OP_RESET: return vxsysfs_bsg_tarno_reset(handle, rec, &p->sp.TarnoReset, st);
        case VX_TARNO_OP_FW_VERSION: return vxsysfs_tarno_fwversion(handle, rec, &p->sp.TarnoGetFwVer, st);
        case VX_TARNO_OP_UPDATE_FW: return vxsysfs_bsg_tarno_updatefw(handle, rec, &p->sp.TarnoUpdateFw, st);
        default: return vxsysfs_bsg_tarno_mgmt(handle, rec, &p->sp.TarnoManageInfo, st);
    }
}

// Sysfs port without bsg: the Tarno attribute files when the command
// attribute is there, else the vendor netlink socket. Without either, the
// attribute test's (nonzero) answer.
int32_t tarno_sysfs(int handle, vxapi_priv_database* rec, uint16_t op, SD_TARNO_MGT* p, uint32_t* st) {
    const int32_t absent = vxsysfs_is_tarno_cmd_path_exist(rec);
    if (absent == 0) {
        switch (op) {
            case VX_TARNO_OP_RESET: return vxsysfs_tarno_reset(handle, rec, &p->sp.TarnoReset, st);
            case VX_TARNO_OP_FW_VERSION: return vxsysfs_tarno_fwversion(handle, rec, &p->sp.TarnoGetFwVer, st);
            case VX_TARNO_OP_UPDATE_FW: return vxsysfs_tarno_updatefw(handle, rec, &p->sp.TarnoUpdateFw, st);
            default: return vxsysfs_tarno_mgmt(handle, rec, &p->sp.TarnoManageInfo, st);
        }
    }
    if ((features_of(rec) & VX_FEAT_NL_VENDOR) == 0) return absent;
    switch (op) {
        case VX_TARNO_OP_RESET: {
            const int diag_fw = p->sp.TarnoReset.Flags == TARNO_RESET_DIAG_FW ? 1 : 0;
            return vxapi_nl_84xx_reset(gnl_fd, host_of(rec), diag_fw, st);
        }
        case VX_TARNO_OP_FW_VERSION: return vxsysfs_tarno_fwversion(handle, rec, &p->sp.TarnoGetFwVer, st);
        case VX_TARNO_OP_UPDATE_FW: return vxapi_nl_84xx_updatefw(gnl_fd, host_of(rec), &p->sp.TarnoUpdateFw, st);
        default: return vxapi_nl_84xx_mgmt(gnl_fd, host_of(rec), &p->sp.TarnoManageInfo, st);
    }
}

}  // namespace

int32_t vxapi_getSFPbuffer(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pSFPbuf, uint32_t SFPbuf_size,
                           uint32_t* pext_stat) {
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_get_sfp(handle, api_priv_data_inst, pSFPbuf, SFPbuf_size, pext_stat);
    }
    return send("vxapi_getSFPbuffer", handle, api_priv_data_inst, EXT_CC_GET_SFP_DATA, 0, nullptr, 0, pSFPbuf,
                SFPbuf_size, pext_stat, nullptr, VX_SFP_BYTES);
}

int32_t vxapi_get_i2c_buffer(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t dev, uint16_t adr,
                             uint16_t opt, uint16_t len, uint8_t* i2c, uint32_t* pext_stat) {
    return i2c_transfer(false, handle, api_priv_data_inst, dev, adr, opt, len, i2c, pext_stat);
}

int32_t vxapi_set_i2c_buffer(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t dev, uint16_t adr,
                             uint16_t opt, uint16_t len, uint8_t* i2c, uint32_t* pext_stat) {
    return i2c_transfer(true, handle, api_priv_data_inst, dev, adr, opt, len, i2c, pext_stat);
}

int32_t vxapi_get_fw_dump(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* buf, uint32_t* buf_size,
                          uint32_t* pext_stat) {
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_get_fw_dump(handle, api_priv_data_inst, buf, buf_size, pext_stat);
    }
    return send("vxapi_get_fw_dump", handle, api_priv_data_inst, EXT_CC_GET_FW_DUMP, 0, nullptr, 0, buf,
                buf_size != nullptr ? *buf_size : 0, pext_stat, buf_size);
}

int32_t vxapi_port_param(int handle, vxapi_priv_database* api_priv_data_inst, INT_PORT_PARAM* pbuf, uint32_t buf_size,
                         uint32_t* pext_stat) {
    switch (vxapi_vendor_road(api_priv_data_inst)) {
        case VxRoad::Ioctl: {
            // A get reads the speed back from the record; a set's answer is not read.
            const bool get = pbuf != nullptr && pbuf->Mode == VX_PORT_PARAM_GET;
            return send("vxapi_port_param", handle, api_priv_data_inst, EXT_CC_PORT_PARAM, 0, pbuf, buf_size, pbuf,
                        buf_size, pext_stat, nullptr, get ? buf_size : 0);
        }
        case VxRoad::Bsg: return vxsysfs_bsg_port_param(handle, api_priv_data_inst, pbuf, buf_size, pext_stat);
        case VxRoad::Netlink:
            return vxapi_nl_port_param(gnl_fd, host_of(api_priv_data_inst), pbuf, buf_size, pext_stat);
        case VxRoad::None: break;
    }
    return vxapi_no_transport(pext_stat);
}

int32_t vxapi_tarno_mgmt(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t Operation,
                         SD_TARNO_MGT* pParameters, uint32_t* pext_stat) {
    const char* name = "vxapi_tarno_mgmt";
    trace(VXDBG_STEP, name, ": Operation=", Operation, VXDBG_HEX);
    int32_t result = VX_RESULT_NOT_BUILT;
    // An operation outside 1 to 4 is refused on every road: a sysfs port
    // would otherwise report the attribute test's answer, success when the
    // Tarno attribute exists, for a request that did nothing.
    if (pParameters == nullptr || !is_tarno_op(Operation)) {
        trace(kErr, name, ": invalid operation or no parameters.");
    } else if (!vxapi_is_sysfs_port(api_priv_data_inst)) {
        result = tarno_ioctl(name, handle, api_priv_data_inst, Operation, pParameters, pext_stat);
    } else if ((features_of(api_priv_data_inst) & VX_FEAT_BSG) != 0) {
        result = tarno_bsg(handle, api_priv_data_inst, Operation, pParameters, pext_stat);
    } else {
        result = tarno_sysfs(handle, api_priv_data_inst, Operation, pParameters, pext_stat);
    }
    trace(VXDBG_STEP, name, ": exiting. status = ", static_cast<uint32_t>(result), VXDBG_HEX);
    return result;
}

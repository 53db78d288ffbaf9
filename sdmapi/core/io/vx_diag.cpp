// Diagnostic and tuning workers: each picks the port's transport and sends
// its one request; the region check and reload of the global layout.
#include "core/io/vx_diag.h"

#include <cerrno>
#include <cstring>

#include "base/vx_layout.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_netlink.h"
#include "transport/vx_nl_vendor.h"
#include "transport/vx_sysfs_diag.h"
#include "transport/vx_sysfs_flash.h"
#include "transport/vx_sysfs_mgmt_bsg.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_API;

// Sub-codes of the QoS and NPIV QoS requests.
constexpr uint16_t kQosGet = 2;
constexpr uint16_t kQosSet = 3;
constexpr uint16_t kNpivSet = 2;
constexpr uint16_t kNpivGet = 3;
constexpr uint16_t kNpivOn = 4;
constexpr uint16_t kNpivOff = 5;
constexpr uint16_t kNpivPerf = 6;

// Traces the worker's entry and exit.
class Scope {
public:
    explicit Scope(const char* name) : name_(name) { line(": entered."); }
    ~Scope() { line(": exiting."); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    void line(const char* what) const {
        if (!vxdbg_on(VXDBG_STEP)) return;
        vxdbg_print(name_, 0, VXDBG_NONE, 0);
        vxdbg_print(what, 0, VXDBG_NONE, 1);
    }
    const char* name_;
};

int host_of(const vxapi_priv_database* rec) { return static_cast<int>(rec->host_no); }

// The bytes of a SerDes request that come back as the register's record: all
// of them for a read, whose value is read back; none for a write.
template <class Reg>
uint32_t serdes_record(const Reg& reg) {
    return reg.cmd == VXA_SERDES_READ ? static_cast<uint32_t>(sizeof reg) : 0;
}

// An NPIV QoS worker: the driver request, else the bsg command (called as
// bsg(handle, rec, buf, size, pext_stat)); there is no netlink form.
template <typename Bsg>
int32_t npiv(const char* name, int handle, vxapi_priv_database* rec, uint8_t command, uint16_t sub_code, void* buf,
             uint32_t size, bool want_response, uint32_t* pext_stat, const Bsg& bsg) {
    const Scope scope(name);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(name, handle, rec, command, sub_code, buf, size, want_response ? buf : nullptr,
                                   want_response ? size : 0, pext_stat);
        case VxRoad::Bsg: return bsg(handle, rec, buf, size, pext_stat);
        case VxRoad::Netlink:
        case VxRoad::None: break;
    }
    return VX_RESULT_NOT_BUILT;
}

}  // namespace

int32_t vxapi_diag_send(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                        uint16_t sub_code, const void* request, uint32_t request_len, void* response,
                        uint32_t response_len, uint32_t* pext_stat, VxReply* reply, uint32_t record_len) {
    VxRequest req;
    req.command = command;
    req.sub_code = sub_code;
    req.request = request;
    req.request_len = request != nullptr ? request_len : 0;
    req.response = response;
    req.response_len = response != nullptr ? response_len : 0;
    req.record_len = record_len;
    VxReply local;
    VxReply* out = reply != nullptr ? reply : &local;
    const int32_t result = vxapi_send_request(name, handle, rec, req, out);
    if (result != VX_RESULT_NOT_BUILT && pext_stat != nullptr) *pext_stat = out->status;
    return result;
}

// ---- FCP priority and the diagnostic mode ----

int32_t vxapi_enable_disable_qos(int handle, vxapi_priv_database* rec, uint8_t flag, uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_enable_disable_qos";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_QOS, flag, nullptr, 0, nullptr, 0, pext_stat);
        case VxRoad::Bsg: return vxsysfs_bsg_qos_enable_disable(rec, flag, pext_stat);
        case VxRoad::Netlink: return vxapi_nl_enable_disable_qos(gnl_fd, host_of(rec), flag, pext_stat);
        case VxRoad::None: break;
    }
    return VX_RESULT_NOT_BUILT;
}

int32_t vxapi_get_qos_config(int handle, vxapi_priv_database* rec, void* qos_config, uint32_t qos_config_size,
                             uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_get_qos_config";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_QOS, kQosGet, nullptr, 0, qos_config, qos_config_size,
                                   pext_stat);
        case VxRoad::Bsg: return vxsysfs_bsg_qos_get_config(rec, qos_config, qos_config_size, pext_stat);
        case VxRoad::Netlink:
            return vxapi_nl_get_qos_config(gnl_fd, host_of(rec), qos_config, qos_config_size, pext_stat);
        case VxRoad::None: break;
    }
    return VX_RESULT_NOT_BUILT;
}

int32_t vxapi_set_qos_config(int handle, vxapi_priv_database* rec, void* qos_config, uint32_t qos_config_size,
                             uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_set_qos_config";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_QOS, kQosSet, qos_config, qos_config_size, nullptr, 0,
                                   pext_stat);
        case VxRoad::Bsg: return vxsysfs_bsg_qos_set_config(rec, qos_config, qos_config_size, pext_stat);
        case VxRoad::Netlink:
            return vxapi_nl_set_qos_config(gnl_fd, host_of(rec), qos_config, qos_config_size, pext_stat);
        case VxRoad::None: break;
    }
    return VX_RESULT_NOT_BUILT;
}

int32_t vxapi_set_reset_diag_mode(int handle, vxapi_priv_database* rec, uint8_t mode, uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_set_reset_diag_mode";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_RESET_DIAG_MODE, mode, nullptr, 0, nullptr, 0, pext_stat);
        case VxRoad::Bsg: return vxsysfs_bsg_set_reset_diag_mode(handle, rec, mode, pext_stat);
        case VxRoad::Netlink: return vxapi_nl_set_reset_diag_mode(gnl_fd, host_of(rec), mode, pext_stat);
        case VxRoad::None: break;
    }
    return VX_RESULT_NOT_BUILT;
}

// ---- board temperature, SerDes parameters, FCE: one sysfs form for every sysfs port ----

int32_t vxapi_get_board_temp(int handle, vxapi_priv_database* rec, EXT_BOARD_TEMP* pboard_temp, uint32_t size,
                             uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_get_board_temp";
    const Scope scope(kName);
    if (vxapi_is_sysfs_port(rec)) return vxsysfs_get_board_temp(rec, pboard_temp, size, pext_stat);
    return vxapi_diag_send(kName, handle, rec, EXT_CC_BOARD_TEMP, 0, nullptr, 0, pboard_temp, size, pext_stat,
                           nullptr, sizeof(EXT_BOARD_TEMP));
}

int32_t vxapi_read_serdes_params(int handle, vxapi_priv_database* rec, uint8_t* pbuf, uint32_t buf_size,
                                 uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_read_serdes_params";
    const Scope scope(kName);
    if (vxapi_is_sysfs_port(rec)) return vxsysfs_get_serdes_params(handle, rec, pbuf, buf_size, pext_stat);
    return vxapi_diag_send(kName, handle, rec, EXT_CC_SERDES_PARAMS, 0, nullptr, 0, pbuf, buf_size, pext_stat);
}

int32_t vxapi_get_fce_buffer(int handle, vxapi_priv_database* rec, uint8_t* pbuf, uint32_t* pbuf_size,
                             uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_get_fce_buffer";
    const Scope scope(kName);
    if (vxapi_is_sysfs_port(rec)) return vxsysfs_get_fce_buffer(handle, rec, pbuf, pbuf_size, pext_stat);
    if (pbuf_size == nullptr) {
        vxdbg_line(kErr, "vxapi_get_fce_buffer: no size.");
        return VX_RESULT_NOT_BUILT;
    }
    VxReply reply;
    const int32_t result =
        vxapi_diag_send(kName, handle, rec, EXT_CC_FCE_TRACE, 0, nullptr, 0, pbuf, *pbuf_size, pext_stat, &reply);
    const int saved_errno = errno;
    if (result != VX_RESULT_NOT_BUILT) {
        *pbuf_size = reply.status == EXT_STATUS_BUFFER_TOO_SMALL ? reply.reported_len : reply.response_len;
    }
    errno = saved_errno;
    return result;
}

// ---- FRU versions ----

int32_t vxapi_update_fru_versions(int handle, vxapi_priv_database* rec, vxa_image_version_list* fru_img,
                                  uint32_t fru_buf_size, uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_update_fru_versions";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_FRU, 1, fru_img, fru_buf_size, nullptr, 0, pext_stat);
        case VxRoad::Bsg: return vxsysfs_update_fru_versions(handle, rec, fru_img, fru_buf_size, pext_stat);
        case VxRoad::Netlink:
            return vxapi_nl_update_fru_versions(gnl_fd, host_of(rec), fru_img, fru_buf_size, pext_stat);
        case VxRoad::None: break;
    }
    return VX_RESULT_NOT_BUILT;
}

// ---- NPIV QoS ----

int32_t vxapi_get_npiv_qos_config(int handle, vxapi_priv_database* rec, void* npiv_qos, uint32_t npiv_qos_size,
                                  uint32_t* pext_stat) {
    return npiv("vxapi_get_npiv_qos_config", handle, rec, EXT_CC_NPIV_QOS, kNpivGet, npiv_qos, npiv_qos_size, true,
                pext_stat, vxsysfs_bsg_get_npiv_qos_config);
}

int32_t vxapi_set_npiv_qos_config(int handle, vxapi_priv_database* rec, void* npiv_qos, uint32_t npiv_qos_size,
                                  uint32_t* pext_stat) {
    return npiv("vxapi_set_npiv_qos_config", handle, rec, EXT_CC_NPIV_QOS, kNpivSet, npiv_qos, npiv_qos_size, false,
                pext_stat, vxsysfs_bsg_set_npiv_qos_config);
}

int32_t vxapi_enable_disable_npiv_qos(int handle, vxapi_priv_database* rec, uint8_t flag, uint32_t* pext_stat) {
    return npiv("vxapi_enable_disable_npiv_qos", handle, rec, EXT_CC_NPIV_QOS, flag != 0 ? kNpivOn : kNpivOff,
                nullptr, 0, false, pext_stat, [flag](int h, vxapi_priv_database* r, void*, uint32_t, uint32_t* st) {
                    return vxsysfs_bsg_npiv_qos_enable_disable(h, r, flag, st);
                });
}

int32_t vxapi_get_npiv_qos_perf(int handle, vxapi_priv_database* rec, void* npiv_qos, uint32_t npiv_qos_size,
                                uint32_t* pext_stat) {
    return npiv("vxapi_get_npiv_qos_perf", handle, rec, EXT_CC_NPIV_QOS, kNpivPerf, npiv_qos, npiv_qos_size, true,
                pext_stat, vxsysfs_bsg_get_npiv_qos_perf);
}

int32_t vxapi_get_npiv_qos_list(int handle, vxapi_priv_database* rec, void* npiv_qos, uint32_t npiv_qos_size,
                                uint32_t* pext_stat) {
    return npiv("vxapi_get_npiv_qos_list", handle, rec, EXT_CC_NPIV_QOS_LIST, 0, npiv_qos, npiv_qos_size, true,
                pext_stat, vxsysfs_bsg_npiv_get_qos_list);
}

// ---- SerDes registers and the QoS table ----

int32_t vxapi_serdes_reg_ops(int handle, vxapi_priv_database* rec, vxa_serdes_reg* serdes, uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_serdes_reg_ops";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_SERDES_REG, 0, serdes, sizeof *serdes, serdes,
                                   sizeof *serdes, pext_stat, nullptr, serdes_record(*serdes));
        case VxRoad::Bsg: return vxsysfs_bsg_serdes_reg_ops(handle, rec, serdes, pext_stat);
        case VxRoad::Netlink: return vxapi_nl_serdes_reg_ops(gnl_fd, host_of(rec), serdes, pext_stat);
        case VxRoad::None: break;
    }
    return vxapi_no_transport(pext_stat);
}

int32_t vxapi_serdes_reg_ops_ex(int handle, vxapi_priv_database* rec, vxa_serdes_reg_ex* serdes,
                                uint32_t* pext_stat) {
    static constexpr char kName[] = "vxapi_serdes_reg_ops_ex";
    const Scope scope(kName);
    switch (vxapi_vendor_road(rec)) {
        case VxRoad::Ioctl:
            return vxapi_diag_send(kName, handle, rec, EXT_CC_SERDES_REG_EX, 0, serdes, sizeof *serdes, serdes,
                                   sizeof *serdes, pext_stat, nullptr, serdes_record(*serdes));
        case VxRoad::Bsg: return vxsysfs_bsg_serdes_reg_ops_ex(handle, rec, serdes, pext_stat);
        case VxRoad::Netlink: return vxapi_nl_serdes_reg_ops_ex(gnl_fd, host_of(rec), serdes, pext_stat);
        case VxRoad::None: break;
    }
    return vxapi_no_transport(pext_stat);
}

int32_t vxapi_get_qos(int handle, vxapi_priv_database* rec, vxa_qos_config* pqos, uint32_t qos_size,
                      uint32_t* pext_stat, uint32_t* delivered) {
    static constexpr char kName[] = "vxapi_get_qos";
    const Scope scope(kName);
    if (delivered != nullptr) *delivered = 0;
    // The QoS table has no sysfs, bsg or netlink form.
    if (vxapi_is_sysfs_port(rec)) return vxapi_no_transport(pext_stat);
    VxReply reply;
    const int32_t result =
        vxapi_diag_send(kName, handle, rec, EXT_CC_QOS_STATE, 0, pqos, qos_size, pqos, qos_size, pext_stat, &reply);
    if (delivered != nullptr) *delivered = reply.response_len;
    return result;
}

int32_t vxapi_diag_io(int handle, vxapi_priv_database* rec, uint8_t* pdata, uint32_t size, uint8_t* presp,
                      uint32_t threads, uint32_t iterations, uint8_t flag, uint32_t* pext_stat) {
    const Scope scope("vxapi_diag_io");
    // The driver has no diagnostic I/O request.
    if (!vxapi_is_sysfs_port(rec)) return VX_RESULT_NOT_BUILT;
    return vxsysfs_diag_io(handle, rec, pdata, size, presp, threads, iterations, flag, pext_stat);
}

// ---- the global layout ----

int32_t vxapi_check_region(uint32_t region) {
    int32_t found = 0;
    const INT_OPT_ROM_LAYOUT* layout = pGlobalOptRomLayout;
    if (layout != nullptr) {
        // NoOfRegions comes from the driver or the flash: never past the table.
        const uint32_t n = layout->NoOfRegions < VX_LAYOUT_MAX_REGIONS ? layout->NoOfRegions : VX_LAYOUT_MAX_REGIONS;
        for (uint32_t i = 0; i < n && found == 0; ++i) found = layout->Region[i].Region == region ? 1 : 0;
    }
    vxdbg_line(VXDBG_STEP, "vxapi_check_region: exiting, region found =", static_cast<uint32_t>(found), VXDBG_INT);
    return found;
}

int32_t vxapi_override_flt(int handle, vxapi_priv_database* rec) {
    const Scope scope("vxapi_override_flt");
    INT_OPT_ROM_LAYOUT buffer{};
    pGlobalOptRomLayout = &gOptRomLayout;
    std::memset(&gOptRomLayout, 0, sizeof gOptRomLayout);
    uint32_t status = 0;
    // Always 0: the driver status tells.
    (void)vxsysfs_get_optrom_layout(handle, rec, reinterpret_cast<uint8_t*>(&buffer), sizeof buffer, &status);
    if (status != 0) vxdbg_line(kErr, "vxapi_override_flt: get opt rom layout failed.");
    return static_cast<int32_t>(status);
}

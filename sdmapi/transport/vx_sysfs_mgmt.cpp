// Management of sysfs ports through the driver's attribute files: the Tarno
// controller, region activation, DCBX parameters, converged MAC statistics
// and the NPIV virtual ports.
//
// The Tarno files of the PCI function's host directory form a small
// protocol: a command text (with its NUL) goes to "tarno_cfg_cmd", data
// moves through "tarno_cfg_data", and control codes written to
// "tarno_cfg_ctl" make the driver act: "0" after a write operation's data,
// "1" before a read operation's data is read, "2" at the end of every
// command that was sent (also after a failed step), "3" and "4" reset, "5"
// and "6" take a firmware image. Management operations 0 and 3 read from the
// controller, 1 and 2 write to it.
#include "transport/vx_sysfs_mgmt.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/vx_chips.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::Attr;
using vxsysfs::Status;

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_SYSFS;
// vxsysfs_read_data's answer for a read call that failed.
constexpr uint32_t kReadFailed = 0xFFFFFFFF;
// A host directory path this long leaves no room for "tarno_cfg_data".
constexpr size_t kTarnoDirLimit = 242;
// The Tarno command text, its NUL included.
constexpr size_t kTarnoCommandSize = 30;
// The WWPN:WWNN text of the vport files: 16 + 1 + 16 digits and a newline.
constexpr size_t kVportTextSize = 64;
constexpr int kVportTextLength = 34;

// Virtual ports of an adapter whose record has no maximum, on a chip
// outside the chip table.
constexpr uint32_t kMaxVportsOther = 254;

using Path = char[VXSYSFS_PATH_SIZE];

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }
void fail(const char* text) { vxdbg_line(kErr, text); }

// out := dir + name; false when it does not fit.
bool file_in(const char* dir, const char* name, Path& out) {
    const int n = std::snprintf(out, sizeof out, "%s%s", dir, name);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

bool is_file(const char* path) { return vx::sys().sysfs_path_is_file(path) == 0; }

// The attribute `name` of a directory into path; false when it is not a
// regular file there or its path does not fit.
bool present(const char* dir, const char* name, Path& path) { return file_in(dir, name, path) && is_file(path); }

// The directories of the port's PCI-function host, SCSI host and FC host.
void dev_dir(const vxapi_priv_database* rec, Path& dir) { vxsysfs_get_device_path(dir, rec); }
void scsi_host_dir(uint32_t host_no, Path& dir) { vxsysfs_get_scsi_host_path(dir, static_cast<uint16_t>(host_no)); }
void fc_host_dir(uint32_t host_no, Path& dir) { vxsysfs_get_fc_host_path(dir, static_cast<uint16_t>(host_no)); }

bool write_attr(sysfs_attribute* attr, const char* text, size_t length) {
    return attr != nullptr && vx::sys().sysfs_write_attribute(attr, text, length) == 0;
}

// ---------------------------------------------------------------- Tarno

// The opened command and control attributes of a Tarno exchange and the
// host directory; both attributes are closed when it ends.
class TarnoFiles {
public:
    TarnoFiles() = default;
    TarnoFiles(const TarnoFiles&) = delete;
    TarnoFiles& operator=(const TarnoFiles&) = delete;
    ~TarnoFiles() {
        if (cmd_ != nullptr) vx::sys().sysfs_close_attribute(cmd_);
        if (ctl_ != nullptr) vx::sys().sysfs_close_attribute(ctl_);
    }
    // Opens both attributes: false, with the opener's status (9 or 1) set
    // and `unable` traced, when that fails; status 1 and `too_long` traced
    // when the data file's path would not fit.
    bool open_files(vxapi_priv_database* rec, Status& status, const char* unable, const char* too_long) {
        const int32_t opened = __vxsysfs_open_tarno_path(rec, dir_, &cmd_, &ctl_);
        status = static_cast<uint32_t>(opened);
        if (opened != 0) {
            fail(unable);
            return false;
        }
        if (std::strlen(dir_) >= kTarnoDirLimit || !file_in(dir_, "tarno_cfg_cmd", cmd_path_) ||
            !file_in(dir_, "tarno_cfg_data", data_path_)) {
            status = EXT_STATUS_ERR;
            fail(too_long);
            return false;
        }
        return true;
    }

    // One exchange after the command text was built: the text with its NUL
    // to the command file; unless reading, count bytes of data to the data
    // file; the control code; when reading, count bytes back from the data
    // file. Then "2" whatever happened after the command was attempted. True
    // when every step before "2" succeeded.
    bool exchange(const char* text, const char* control, bool reading, uint8_t* data, uint32_t count) {
        const bool done = steps(text, control, reading, data, count);
        write_attr(ctl_, "2", 1);
        return done;
    }

private:
    bool steps(const char* text, const char* control, bool reading, uint8_t* data, uint32_t count) {
        const auto length = static_cast<int32_t>(std::strlen(text) + 1);
        if (vxsysfs_write_file(cmd_path_, text, length) != 0) return false;
        const auto bytes = static_cast<int32_t>(count);
        if (!reading && count != 0 && vxsysfs_write_file(data_path_, data, bytes) != 0) {
            fail("> failed underwrite");
            return false;
        }
        if (!write_attr(ctl_, control, 1)) return false;
        if (reading && count != 0 && vxsysfs_read_file(data_path_, data, bytes) != 0) {
            fail("> failed underread");
            return false;
        }
        return true;
    }

    Path dir_{};
    Path cmd_path_{};
    Path data_path_{};
    sysfs_attribute* cmd_ = nullptr;
    sysfs_attribute* ctl_ = nullptr;
};

bool is_read_operation(uint16_t operation) {
    return operation == TARNO_MGMT_READ_MEM || operation == TARNO_MGMT_GET_INFO;
}

// The command text of a management operation; false for an operation
// outside 0 to 3 and for a text that does not fit whole (large numbers
// would otherwise reach the driver cut).
bool management_command(const TARNO_MANAGE_INFO& info, char (&text)[kTarnoCommandSize]) {
    const auto& p = info.Parameters.ap;
    const unsigned count = info.TotalByteCount;
    int n = -1;
    switch (info.Operation) {
        case TARNO_MGMT_READ_MEM:
        case TARNO_MGMT_WRITE_MEM:
            n = std::snprintf(text, sizeof text, "%02hu %04u %04u %04u %04u", info.Operation, count,
                              p.TarnoMemory.StartingAddr, 0u, 0u);
            break;
        case TARNO_MGMT_CHANGE_CONFIG:
            n = std::snprintf(text, sizeof text, "%02hu %04u %04u %04u %04u", info.Operation, count,
                              p.TarnoConfig.ConfigParamID, p.TarnoConfig.ConfigParamData0,
                              p.TarnoConfig.ConfigParamData1);
            break;
        case TARNO_MGMT_GET_INFO:
            n = std::snprintf(text, sizeof text, "%02hu %04u %04u %04u %04u", info.Operation, count,
                              p.TarnoInfo.InfoDataType, p.TarnoInfo.InfoContext, 0u);
            break;
        default:
            fail("> unknown tarno operation");
            return false;
    }
    if (n < 0 || static_cast<size_t>(n) >= sizeof text) {
        fail("> tarno command too long");
        return false;
    }
    return true;
}

// The data of a transfer: the file helpers move at most INT32_MAX bytes.
bool transferable(const uint8_t* data, uint32_t count) {
    return count <= static_cast<uint32_t>(INT32_MAX) && (count == 0 || data != nullptr);
}

// ---------------------------------------------------------------- virtual ports

// The port's vport control file ("vport_create", "vport_delete"): in its FC
// host directory, else in its SCSI host directory.
bool vport_control(uint32_t host_no, const char* name, Path& path) {
    Path dir;
    fc_host_dir(host_no, dir);
    if (present(dir, name, path)) return true;
    scsi_host_dir(host_no, dir);
    return present(dir, name, path);
}

// Writes "<WWPN>:<WWNN>\n" (hexadecimal, no terminator) to the control file.
bool write_vport_text(const char* path, const EXT_VPORT_PARAMS& p) {
    char text[kVportTextSize];
    const uint8_t* n = p.wwpn;
    const uint8_t* m = p.wwnn;
    const int length =
        std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X%02X%02X\n", n[0],
                      n[1], n[2], n[3], n[4], n[5], n[6], n[7], m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7]);
    if (length != kVportTextLength || vxsysfs_write_file(path, text, length) != 0) {
        fail("> failed underwrite");
        return false;
    }
    return true;
}

// Removes the virtual-port records of the physical port with these names
// from the port list; the physical port itself, and another port's virtual
// ports, are never removed. The number removed.
uint32_t remove_vport_records(const vxapi_priv_database* phys, const uint8_t* wwnn, const uint8_t* wwpn) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return 0;
    std::vector<vxapi_priv_database*> doomed;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        auto* rec = static_cast<vxapi_priv_database*>(node->data);
        if (rec != phys && rec->interface_type == VX_PORT_VIRTUAL && rec->parent == phys &&
            std::memcmp(rec->wwnn, wwnn, sizeof rec->wwnn) == 0 &&
            std::memcmp(rec->wwpn, wwpn, sizeof rec->wwpn) == 0) {
            doomed.push_back(rec);
        }
    }
    for (vxapi_priv_database* rec : doomed) vxapi_free_api_priv_data_element(rec);
    return static_cast<uint32_t>(doomed.size());
}

// The new virtual port's record: the physical port's fields, then its own.
// It keeps its freshly allocated event callback table and starts without
// port flags.
void fill_vport_record(vxapi_priv_database* vport, vxapi_priv_database* phys, uint32_t host_no,
                       const EXT_VPORT_PARAMS& p) {
    vxapi_aen_callback_table* own_table = vport->api_event_cbs;
    *vport = *phys;
    vport->api_event_cbs = own_table;
    vport->port_flags = 0;
    vport->apihandle = 0;
    vport->open_cnt = 0;
    vport->host_no = host_no;
    std::memcpy(vport->wwnn, p.wwnn, sizeof vport->wwnn);
    std::memcpy(vport->wwpn, p.wwpn, sizeof vport->wwpn);
    vport->interface_type = VX_PORT_VIRTUAL;
    vport->vp_idx = p.vp_id;
    vport->features = VX_FEAT_SYSFS;
    vport->parent = phys;
    Path dir, path;
    fc_host_dir(host_no, dir);
    VxAttrAnswer answer = VxAttrAnswer::Absent;
    if (file_in(dir, "port_id", path)) vxsysfs_get_hex_attr(path, &vport->port_id[1], 3, &answer);
    // A port id that did not come is not reported as the port's: the calls
    // that report it read it again. An absent one is 0.
    if (answer != VxAttrAnswer::Came && answer != VxAttrAnswer::Absent) {
        vport->port_flags |= VX_PORT_FLAG_NAMES_UNKNOWN;
    }
}

// The driver's maximum, else the chip's.
uint32_t max_vports(const vxapi_phy_info& phy, uint16_t reported) {
    if (reported != 0) return reported;
    const VxChip* chip = vx_chip(phy.device_id);
    return chip != nullptr ? chip->default_max_vports : kMaxVportsOther;
}

}  // namespace

// ---------------------------------------------------------------- Tarno files

int32_t __vxsysfs_open_tarno_path(vxapi_priv_database* api_priv_data_inst, char* path,
                                  struct sysfs_attribute** cmd_attr, struct sysfs_attribute** ctl_attr) {
    if (cmd_attr != nullptr) *cmd_attr = nullptr;
    if (ctl_attr != nullptr) *ctl_attr = nullptr;
    if (api_priv_data_inst == nullptr || path == nullptr || cmd_attr == nullptr || ctl_attr == nullptr) {
        return EXT_STATUS_DEV_NOT_FOUND;
    }
    vxsysfs_get_device_path(path, api_priv_data_inst);
    Path cmd, ctl;
    if (!present(path, "tarno_cfg_cmd", cmd) || !present(path, "tarno_cfg_ctl", ctl)) return EXT_STATUS_DEV_NOT_FOUND;
    *cmd_attr = vx::sys().sysfs_open_attribute(cmd);
    *ctl_attr = vx::sys().sysfs_open_attribute(ctl);
    return *cmd_attr != nullptr && *ctl_attr != nullptr ? EXT_STATUS_OK : EXT_STATUS_ERR;
}

int32_t vxsysfs_is_tarno_cmd_path_exist(vxapi_priv_database* api_priv_data_inst) {
    if (api_priv_data_inst == nullptr) return 1;
    Path dir, path;
    dev_dir(api_priv_data_inst, dir);
    return present(dir, "tarno_cfg_cmd", path) ? 0 : 1;
}

int32_t vxsysfs_tarno_reset(int, vxapi_priv_database* api_priv_data_inst, TARNO_RESET* pReset, uint32_t* pext_stat) {
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    Path dir, path;
    if (api_priv_data_inst == nullptr || pReset == nullptr) return 0;
    dev_dir(api_priv_data_inst, dir);
    if (!present(dir, "tarno_cfg_ctl", path)) return 0;
    status = EXT_STATUS_ERR;
    Attr ctl(path);
    // The code goes with its NUL.
    if (write_attr(ctl.get(), pReset->Flags == TARNO_RESET_DIAG_FW ? "4" : "3", 2)) status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_tarno_fwversion(int, vxapi_priv_database* api_priv_data_inst, TARNO_GET_FW_VERSION* pFwVer,
                                uint32_t* pext_stat) {
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    Path dir, path;
    if (api_priv_data_inst == nullptr || pFwVer == nullptr) return 0;
    scsi_host_dir(api_priv_data_inst->host_no, dir);
    if (!present(dir, "84xx_fw_version", path)) return 0;
    // A version that cannot be read, or is no decimal of 32 bits, is none:
    // the record keeps what it held.
    VxAttrAnswer answer = VxAttrAnswer::Failed;
    const uint32_t version = vxsysfs_get_int_attr(path, &answer);
    if (answer != VxAttrAnswer::Came) {
        fail("> 84xx_fw_version not read");
        status = vxsysfs_answer_status(answer);
        return 0;
    }
    pFwVer->FwVersion = version;
    vxdbg_line(VXDBG_SYSFS, "FWVersion==", pFwVer->FwVersion, VXDBG_DEC);
    status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_tarno_mgmt(int, vxapi_priv_database* api_priv_data_inst, TARNO_MANAGE_INFO* pMgmtInfo,
                           uint32_t* pext_stat) {
    trace("vxsysfs_tarno_mgmt: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    TarnoFiles files;
    if (!files.open_files(api_priv_data_inst, status, "vxsysfs_tarno_mgmt: Unable to open tarno config paths",
                    "vxsysfs_tarno_mgmt: path out of bound")) {
        return 0;
    }
    status = EXT_STATUS_ERR;
    char text[kTarnoCommandSize];
    if (pMgmtInfo == nullptr || !management_command(*pMgmtInfo, text) ||
        !transferable(pMgmtInfo->pDataBytes, pMgmtInfo->TotalByteCount)) {
        return 0;
    }
    const bool reading = is_read_operation(pMgmtInfo->Operation);
    if (files.exchange(text, reading ? "1" : "0", reading, pMgmtInfo->pDataBytes, pMgmtInfo->TotalByteCount)) {
        status = EXT_STATUS_OK;
    }
    return 0;
}

int32_t vxsysfs_tarno_updatefw(int, vxapi_priv_database* api_priv_data_inst, TARNO_UPDATE_FW* pFwInfo,
                               uint32_t* pext_stat) {
    trace("vxsysfs_tarno_updatefw: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    TarnoFiles files;
    if (!files.open_files(api_priv_data_inst, status, "vxsysfs_tarno_updatefw: Unable to open tarno config paths",
                    "vxsysfs_tarno_updatefw: path out of bound")) {
        return 0;
    }
    status = EXT_STATUS_ERR;
    // The image size fits an int: at most 24 characters.
    if (pFwInfo == nullptr || !transferable(pFwInfo->pFwDataBytes, pFwInfo->TotalByteCount)) return 0;
    char text[kTarnoCommandSize];
    std::snprintf(text, sizeof text, "%02hu %04d %04d %04d %04d", static_cast<unsigned short>(0),
                  static_cast<int>(pFwInfo->TotalByteCount), 0, 0, 0);
    const char* control = pFwInfo->Flags == TARNO_UPDATE_DIAG_FW ? "6" : "5";
    if (files.exchange(text, control, false, pFwInfo->pFwDataBytes, pFwInfo->TotalByteCount)) {
        status = EXT_STATUS_OK;
    }
    return 0;
}

// ---------------------------------------------------------------- region activation, DCBX, MAC statistics

int32_t vxsysfs_activate_region(int, vxapi_priv_database* api_priv_data_inst, uint32_t region, uint32_t* pext_stat) {
    trace("vxsysfs_activate_region: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    Path dir, path;
    if (api_priv_data_inst == nullptr) return 0;
    dev_dir(api_priv_data_inst, dir);
    if (!present(dir, "reset", path)) return 0;
    status = EXT_STATUS_ERR;
    Attr reset(path);
    char code[16];
    const int n = std::snprintf(code, sizeof code, "%d", static_cast<int32_t>(region));
    if (write_attr(reset.get(), code, static_cast<size_t>(n) + 1)) status = EXT_STATUS_OK;
    return 0;
}

int vxsysfs_get_dcbx_param(int, vxapi_priv_database* rec, void* buffer, uint32_t* size, uint32_t* status_word) {
    trace("vxsysfs_get_dcbx_param: entered");
    Status status(status_word, EXT_STATUS_DEV_NOT_FOUND);
    if (rec == nullptr || buffer == nullptr || size == nullptr) return 0;
    std::memset(buffer, 0, *size);
    Path dir, path;
    dev_dir(rec, dir);
    if (!present(dir, "dcbx_tlv", path) || !Attr(path).is_open()) return 0;
    status = EXT_STATUS_ERR;
    if (*size > static_cast<uint32_t>(INT32_MAX) || vxsysfs_read_file(path, buffer, static_cast<int32_t>(*size)) != 0) {
        fail("> Failed underread");
        return 0;
    }
    status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_get_xgmac_stats(int, vxapi_priv_database* api_priv_data_inst, void* buffer, uint32_t size,
                                uint32_t* pext_stat) {
    trace("vxsysfs_get_xgmac_stats: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || buffer == nullptr) return 1;
    std::memset(buffer, 0, size);
    Path dir, path;
    dev_dir(api_priv_data_inst, dir);
    if (!present(dir, "xgmac_stats", path)) return 1;
    if (!Attr(path).is_open()) return 0;
    status = EXT_STATUS_ERR;
    // The block is what one read from its start gives (at most a page): a
    // driver that refuses a read past the block, or one that gives the block
    // again wherever a read starts, answers it whole. The block's layout is
    // the driver's, so any byte that came is the block, zeros behind it; a
    // read that failed or brought nothing leaves no block.
    const uint32_t limit = std::min(size, static_cast<uint32_t>(INT32_MAX));
    const uint32_t got = vxsysfs_read_data(path, buffer, static_cast<int32_t>(limit));
    if (got == 0 || got == kReadFailed) {
        std::memset(buffer, 0, size);
        fail("> Failed underread");
        return 0;
    }
    status = EXT_STATUS_OK;
    return 0;
}

// ---------------------------------------------------------------- virtual ports

int32_t vxsysfs_create_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                             uint32_t* pext_stat) {
    trace("vxsysfs_create_vport: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    vxapi_priv_database* phys = api_priv_data_inst;
    Path path;
    if (phys == nullptr || pvport_param == nullptr || phys->phy_info == nullptr ||
        !vport_control(phys->host_no, "vport_create", path)) {
        return 0;
    }
    Attr control(path);
    if (!control.is_open()) return 0;
    status = EXT_STATUS_ERR;
    if (!write_vport_text(path, *pvport_param)) return 0;

    const uint32_t host_no = vxsysfs_get_vport_host_no(pvport_param->wwpn);
    // The driver's id of the new port; without a "vport_id" the library's
    // own index. A "vport_id" that is there but gives no id fails the
    // creation: an index of the library's own could be the id the driver
    // gave another virtual port, and two ports must never share an id.
    VxAttrAnswer id_answer = VxAttrAnswer::Absent;
    pvport_param->vp_id = 0;
    if (host_no != 0) pvport_param->vp_id = vxsysfs_get_vport_id(phys->phy_info, host_no, &id_answer);
    const bool id_came = id_answer == VxAttrAnswer::Came || id_answer == VxAttrAnswer::Absent;
    // A failed allocation releases the whole port list, the physical port's
    // record with it: the deletion below works from a copy.
    const vxapi_priv_database phys_copy = *phys;
    vxapi_priv_database* vport = nullptr;
    const char* failure = host_no == 0 ? ">> vport host not found, exiting"
                          : !id_came   ? ">> vport id not read, exiting"
                                       : nullptr;
    if (failure == nullptr && vxapi_alloc_api_priv_data_mem(&vport) != 0) failure = ">> mem alloc failed, exiting";
    if (failure != nullptr) {
        fail(failure);
        vxapi_priv_database parent = phys_copy;
        // The deletion releases the index taken above and leaves its status
        // in the status word; the creation fails either way.
        (void)vxsysfs_delete_vport(handle, &parent, pvport_param, pext_stat);
        // A virtual port that could not be found, or not named, was not
        // created; no id is handed out.
        if (host_no == 0) status = EXT_STATUS_ERR;
        if (!id_came) status = vxsysfs_answer_status(id_answer);
        pvport_param->vp_id = 0;
        return 1;
    }
    {
        VxListLock lock(vxapi_list_mutex());  // the record is listed: the event thread copies it
        fill_vport_record(vport, phys, host_no, *pvport_param);
    }
    phys->phy_info->vp_inuse += 1;
    status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_delete_vport(int, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                             uint32_t* pext_stat) {
    trace("vxsysfs_delete_vport: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    vxapi_priv_database* phys = api_priv_data_inst;
    Path path;
    if (phys == nullptr || pvport_param == nullptr || !vport_control(phys->host_no, "vport_delete", path)) return 0;
    Attr control(path);
    if (!control.is_open()) return 0;
    status = EXT_STATUS_ERR;
    if (!write_vport_text(path, *pvport_param)) return 0;

    vxapi_phy_info* phy = phys->phy_info;
    if (phy != nullptr) vxsysfs_clear_vport_id(phy, pvport_param->vp_id);
    const uint32_t removed = remove_vport_records(phys, pvport_param->wwnn, pvport_param->wwpn);
    // Virtual ports found at discovery were never counted.
    if (phy != nullptr) phy->vp_inuse -= std::min(removed, phy->vp_inuse);
    status = EXT_STATUS_OK;
    return 0;
}

int32_t vxsysfs_get_vport_info(int, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_INFO pvpinfo,
                               uint32_t* pext_stat) {
    trace("vxsysfs_get_vport_info: entered");
    Status status(pext_stat, EXT_STATUS_DEV_NOT_FOUND);
    if (api_priv_data_inst == nullptr || api_priv_data_inst->phy_info == nullptr || pvpinfo == nullptr) return 0;
    vxapi_priv_database named;
    const VxAttrAnswer names = vxsysfs_port_with_names(api_priv_data_inst, &named);
    if (names != VxAttrAnswer::Came) {
        status = vxsysfs_answer_status(names);
        return 0;
    }
    const vxapi_priv_database* vport = &named;
    // The driver's maximum, read now: one that did not come at discovery is
    // no 0 to be taken for "none reported".
    const vxapi_priv_database* physical = vport->parent != nullptr ? vport->parent : vport;
    uint16_t reported = 0;
    VxAttrAnswer answer = vxsysfs_get_max_vports(physical->host_no, &reported);
    if (answer != VxAttrAnswer::Came && answer != VxAttrAnswer::Absent) {
        status = vxsysfs_answer_status(answer);
        return 0;
    }
    // A state that cannot be read is no "Offline"; a driver without the
    // file leaves the caller's state.
    char state[64];
    vxsysfs::fc_host_text(vport->host_no, "port_state", state, sizeof state, &answer);
    if (answer != VxAttrAnswer::Came && answer != VxAttrAnswer::Absent) {
        status = vxsysfs_answer_status(answer);
        return 0;
    }
    const vxapi_phy_info& phy = *vport->phy_info;
    const uint32_t maximum = max_vports(phy, reported);
    pvpinfo->used = phy.vp_inuse;
    pvpinfo->free = phy.vp_inuse >= maximum ? 0 : maximum - phy.vp_inuse;
    pvpinfo->id = vport->vp_idx;
    std::memcpy(pvpinfo->wwnn, vport->wwnn, sizeof pvpinfo->wwnn);
    std::memcpy(pvpinfo->wwpn, vport->wwpn, sizeof pvpinfo->wwpn);
    if (std::strcmp(state, "Offline") == 0) pvpinfo->state = 0;
    if (std::strcmp(state, "Online") == 0) pvpinfo->state = 1;
    status = EXT_STATUS_OK;
    return 0;
}

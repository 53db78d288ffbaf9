// The failover channel: slot lookups, the send path of failover requests
// and its status map, the configuration store test and the shell runner.
#include "failover/vx_fo_channel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/vx_driver_records.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "core/io/vx_query.h"
#include "platform/vx_platform.h"
#include "transport/vx_ioctl_road.h"
#include "vxsdm.h"

namespace {

// The driver version from which on the new configuration store is used:
// 6.6.0 and later, except the betas 1 to 8 of 6.6.0.
bool uses_new_store(const EXT_LN_DRV_VERSION& v) {
    if (v.Major != 6) return v.Major > 6;
    if (v.Minor != 6) return v.Minor > 6;
    return !(v.Patch == 0 && v.Beta >= 1 && v.Beta <= 8);
}

// The port record the ioctl road and the driver-specifics worker take, made
// from a slot: its descriptor, driver instance, names and
// header layout, and sysfs service when slot 0 says so.
vxapi_priv_database port_of(const vxapi_priv_db_t& slot) {
    vxapi_priv_database rec{};
    std::memcpy(rec.phys_path, slot.phys_path, sizeof slot.phys_path);
    rec.oshandle = slot.oshandle;
    rec.apihandle = slot.apihandle;
    rec.open_cnt = slot.open_cnt;
    rec.drvr_inst = slot.drvr_inst;
    rec.host_no = slot.host_no;
    rec.drvr_attr = slot.drvr_attr;
    std::memcpy(rec.wwnn, slot.wwnn, sizeof rec.wwnn);
    std::memcpy(rec.wwpn, slot.wwpn, sizeof rec.wwpn);
    std::memcpy(rec.port_id, slot.port_id, sizeof rec.port_id);
    rec.features = (slot.features & VX_FEAT_NEW_IOCTL) | (vx_fo_sysfs_mode() ? VX_FEAT_SYSFS : 0);
    return rec;
}

// Whether the slot runs the driver module: the whole name, compared within
// the slot's 16 bytes.
bool runs_module(const vxapi_priv_db_t& slot, const char* model) {
    const size_t len = strnlen(slot.model, sizeof slot.model);
    return std::strlen(model) == len && std::memcmp(slot.model, model, len) == 0;
}

// The driver statuses 0 to 16 of a failover request; 15 (the detail status
// itself) is taken apart.
constexpr uint32_t kStatusMap[] = {
    SDERR_NO_ERROR,           SDERR_NOT_SUPPORTED,     SDERR_DEVICE_BUSY,       SDERR_REQUEST_PENDING,
    SDERR_REQUEST_SUSPENDED,  SDERR_RETRY_PENDING,     SDERR_INVALID_PARAMETER, SDERR_DATA_OVERRUN,
    SDERR_DATA_UNDERRUN,      SDERR_DEVICE_NOT_FOUND,  SDERR_COPY_MEMORY_FAILED, SDERR_MAILBOX_FAILED,
    SDERR_INVALID_SUBCODE,    SDERR_UNSUPPORTED_VERSION, SDERR_MS_NO_RESPONSE,  SDERR_NO_ERROR,
    SDERR_BUFFER_TOO_SMALL,
};

// The status of a driver-specifics query that failed because the driver was
// busy or interrupted: it may answer the next time, so no store may be
// chosen now. The ioctl's errno, or the failover status of a busy answer.
// 0 for every other failure: a driver that does not know the request is an
// older one, which keeps the old store.
uint32_t busy_status(int result, int err, uint32_t status) {
    if (result == -1) {
        switch (err) {
            case EBUSY:
            case EAGAIN:
            case EINTR:
            case EIO:
            case ENOMEM: return static_cast<uint32_t>(err);
            default: return SDERR_NO_ERROR;
        }
    }
    return result == 0 && status == EXT_STATUS_BUSY ? vx_fo_status(status, 0) : SDERR_NO_ERROR;
}

// Whether a failed open of a port says that its node is gone (the errno of
// the open, or the library's "not found"): every other failure leaves the
// driver unasked.
bool node_gone(uint32_t opened) {
    return opened == ENOENT || opened == ENODEV || opened == ENXIO || opened == SDERR_DEVICE_NOT_FOUND;
}

// The bytes of a reply of reply_len bytes that a call of that shape reads,
// of which `delivered` came: a record all of them; a list its head, and once
// the head came, the entries its count counts.
uint32_t reply_needed(const VxFoReplyShape& shape, const void* reply, uint32_t reply_len, uint32_t delivered) {
    if (shape.list_head == 0) return reply_len;
    const uint32_t head = std::min(shape.list_head, reply_len);
    // The count is the u16 at byte 2 of the head.
    if (delivered < head || head < 4) return head;
    const uint64_t list = head + uint64_t{vx_fo_list_count(reply)} * shape.list_entry;
    return static_cast<uint32_t>(std::min<uint64_t>(list, reply_len));
}

}  // namespace

// ---------------------------------------------------------------- slots

vxapi_priv_db_t* vx_fo_slot_by_handle(uint32_t handle) {
    uint32_t index = 0;
    if (vxapi_get_api_inst_by_handle(handle, &index) != 0) return nullptr;
    vxapi_priv_db_t* slot = &api_priv_data[index];
    // A slot without a path holds no port, whatever its handle says.
    return slot->phys_path[0] != '\0' ? slot : nullptr;
}

vxapi_priv_db_t* vx_fo_slot_by_instance(uint32_t instance) {
    return instance < VX_LEGACY_SLOTS ? &api_priv_data[instance] : nullptr;
}

bool vx_fo_sysfs_mode() { return (api_priv_data[0].features & VX_FEAT_SYSFS) != 0; }

bool vx_fo_lun_4096() { return (api_priv_data[0].features & VX_FEAT_LUN_4096) != 0; }

// ---------------------------------------------------------------- requests

uint16_t vx_fo_list_count(const void* head) {
    uint16_t count = 0;
    std::memcpy(&count, static_cast<const uint8_t*>(head) + 2, sizeof count);
    return static_cast<uint16_t>(std::min<uint32_t>(count, VX_FO_LIST_ROOM));
}

uint32_t vx_fo_status(uint32_t status, uint32_t detail) {
    if (status == EXT_STATUS_SCSI_STATUS) return detail;
    if (status == EXT_STATUS_NO_DRIVER_SUPPORT) return SDERR_INVALID_REQUEST;
    if (status < std::size(kStatusMap)) return kStatusMap[status];
    // Every other status is a failure too, and reads as it reads for any
    // other request: a reply the driver did not fill is no success.
    return SDXlateSDMErr(status, detail);
}

uint32_t VxFailOverDeviceIoControl(uint32_t handle, uint8_t nr, uint16_t sub_code, const void* request,
                                   uint32_t request_len, void* reply, uint32_t reply_len, VxFoReplyShape shape,
                                   VxFoSent* sent) {
    VxFoSent unused;
    if (sent == nullptr) sent = &unused;
    *sent = VxFoSent{};
    const vxapi_priv_db_t* slot = vx_fo_slot_by_handle(handle);
    if (slot == nullptr) return SDERR_DEVICE_NOT_FOUND;
    if (vx_fo_sysfs_mode()) return SDERR_NOT_SUPPORTED;

    const vxapi_priv_database port = port_of(*slot);
    VxRequest req;
    req.command = nr;
    req.sub_code = sub_code;
    req.request = request;
    req.request_len = request_len;
    req.response = reply;
    req.response_len = reply_len;
    // What the call reads of the reply is judged below, for every status
    // that maps to success, not by the road (which judges status 0 alone).
    req.record_len = 0;
    VxReply answer;
    const int result = vxapi_send_request("VxFailOverDeviceIoControl", slot->oshandle, &port, req, &answer);
    if (result == VX_RESULT_NOT_BUILT) return SDERR_INVALID_PARAMETER;
    *sent = VxFoSent{true, answer.response_len};
    if (result != 0) {
        const int err = errno;
        return err > 0 ? static_cast<uint32_t>(err) : SDERR_UNKNOWN;
    }
    const uint32_t status = vx_fo_status(answer.status, answer.detail_status);
    // A success whose reply lacks bytes that the call reads is no success: the
    // bytes it lacks were never the driver's.
    if (status == SDERR_NO_ERROR &&
        answer.response_len < reply_needed(shape, reply, reply_len, answer.response_len)) {
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "VxFailOverDeviceIoControl: short answer. bytes delivered=",
                   answer.response_len, VXDBG_HEX);
        return SDERR_DATA_UNDERRUN;
    }
    return status;
}

// ---------------------------------------------------------------- configuration store

uint32_t vxapi_hba_support_new_cfg_store(uint32_t handle, uint16_t instance, bool* new_store) {
    (void)instance;
    *new_store = false;
    vxapi_priv_db_t* slot = vx_fo_slot_by_handle(handle);
    if (slot == nullptr) return SDERR_NO_ERROR;
    if ((slot->features & VX_SLOT_NEW_CFG_STORE) != 0) {
        *new_store = true;
        return SDERR_NO_ERROR;
    }
    vxapi_priv_database port = port_of(*slot);
    EXT_LN_DRIVER_DATA data{};
    uint32_t status = 0;
    const int result = vxapi_get_driver_specifics(slot->oshandle, &port, &data, &status);
    if (result != 0 || status != 0) return busy_status(result, errno, status);
    if (!uses_new_store(data.DrvVer)) return SDERR_NO_ERROR;
    slot->features |= VX_SLOT_NEW_CFG_STORE;
    *new_store = true;
    return SDERR_NO_ERROR;
}

uint32_t vxapi_drvr_support_new_cfg_store(const char* model, uint8_t* found, bool* new_store) {
    if (found != nullptr) *found = 0;
    *new_store = false;
    // An empty name would match every slot that has no module name.
    if (model == nullptr || *model == '\0') return SDERR_NO_ERROR;
    // A port whose node could not be opened (busy, interrupted, refused, out
    // of descriptors) could not be asked: when no port of the module can be,
    // its driver has not said which store it keeps, and none may be chosen.
    // Only a node that is gone is no port to ask.
    uint32_t unasked = SDERR_NO_ERROR;
    // Slot 31 is never looked at.
    for (uint32_t i = 0; i + 1 < VX_LEGACY_SLOTS; ++i) {
        const vxapi_priv_db_t& slot = api_priv_data[i];
        if (slot.phys_path[0] == '\0') break;
        if (!runs_module(slot, model)) continue;
        if (found != nullptr) *found = 1;
        if (slot.apihandle != 0) {
            return vxapi_hba_support_new_cfg_store(slot.apihandle, static_cast<uint16_t>(i), new_store);
        }
        int handle = 0;
        if (const uint32_t opened = SDOpenDevice(i, &handle); opened != SDERR_NO_ERROR) {
            if (unasked == SDERR_NO_ERROR && !node_gone(opened)) unasked = opened;
            continue;
        }
        const uint32_t status =
            vxapi_hba_support_new_cfg_store(static_cast<uint32_t>(handle), static_cast<uint16_t>(i), new_store);
        SDCloseDevice(handle);
        return status;
    }
    return unasked;
}

// ---------------------------------------------------------------- shell


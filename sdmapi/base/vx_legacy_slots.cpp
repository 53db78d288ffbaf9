// The legacy slots of the failover interface, kept in step with the opens
// and closes of ports, so that a failover request by handle reaches the
// port's driver instance on the port's descriptor.
#include <algorithm>
#include <cstring>

#include "base/vx_records.h"

namespace {

// Copies text into a fixed field: at most size - 1 characters, always
// terminated (the slot's texts are used as C strings).
void copy_field(char* dst, size_t size, const void* src, size_t src_size) {
    const size_t n = strnlen(static_cast<const char*>(src), std::min(src_size, size - 1));
    std::memcpy(dst, src, n);
    std::memset(dst + n, 0, size - n);
}

}  // namespace

void vxapi_legacy_slot_open(const vxapi_priv_database* rec, uint32_t position) {
    if (rec == nullptr || position >= VX_LEGACY_SLOTS) return;
    vxapi_priv_db_t& slot = api_priv_data[position];
    char path[sizeof slot.phys_path];
    copy_field(path, sizeof path, rec->phys_path, sizeof rec->phys_path);
    // What the slot learnt of another port's driver is not this port's.
    const bool same_port = std::strcmp(path, slot.phys_path) == 0 && slot.drvr_inst == rec->drvr_inst &&
                           std::memcmp(slot.wwpn, rec->wwpn, sizeof slot.wwpn) == 0;
    uint32_t features = slot.features & ~VX_FEAT_NEW_IOCTL;
    if (!same_port) features &= ~VX_SLOT_NEW_CFG_STORE;

    std::memcpy(slot.phys_path, path, sizeof path);
    slot.oshandle = rec->oshandle;
    slot.apihandle = rec->apihandle;
    slot.open_cnt = rec->open_cnt;
    slot.drvr_inst = static_cast<uint16_t>(rec->drvr_inst);
    slot.host_no = static_cast<uint16_t>(rec->host_no);
    slot.drvr_attr = rec->drvr_attr;
    std::memcpy(slot.wwnn, rec->wwnn, sizeof slot.wwnn);
    std::memcpy(slot.wwpn, rec->wwpn, sizeof slot.wwpn);
    std::memcpy(slot.port_id, rec->port_id, sizeof slot.port_id);
    slot.features = features | (rec->features & VX_FEAT_NEW_IOCTL);

    static const vxapi_phy_info kNone{};
    const vxapi_phy_info& phy = rec->phy_info != nullptr ? *rec->phy_info : kNone;
    copy_field(slot.model, sizeof slot.model, phy.model, sizeof phy.model);
    slot.vendor_id = phy.vendor_id;
    slot.device_id = phy.device_id;
    slot.ssvendor_id = phy.ssvendor_id;
    slot.ssdevice_id = phy.ssdevice_id;
    copy_field(slot.serial_num, sizeof slot.serial_num, phy.serial_num, sizeof phy.serial_num);
}

void vxapi_legacy_slot_close(uint32_t handle, uint32_t open_cnt) {
    if (handle == 0) return;
    for (vxapi_priv_db_t& slot : api_priv_data) {
        if (slot.apihandle != handle) continue;
        slot.open_cnt = open_cnt;
        if (open_cnt != 0) continue;
        slot.apihandle = 0;
        slot.oshandle = -1;
    }
}

void vxapi_legacy_sysfs_mode(bool on) {
    uint32_t& features = api_priv_data[0].features;
    features = on ? features | VX_FEAT_SYSFS : features & ~VX_FEAT_SYSFS;
}

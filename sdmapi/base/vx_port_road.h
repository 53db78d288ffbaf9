// The road by which a port's requests reach the driver. A port that the
// driver serves through its ioctl node takes the ioctl road; a sysfs port
// (feature 0x20) takes the sysfs twins, and its vendor commands the bsg node
// of its FC host or the vendor netlink socket. Whether a port is a sysfs
// port is asked of vxapi_is_sysfs_port alone.
#pragma once

#include <cstdint>

#include "base/vx_records.h"

// Whether the port is a sysfs port; false for no port.
[[nodiscard]] inline bool vxapi_is_sysfs_port(const vxapi_priv_database* rec) {
    return rec != nullptr && (rec->features & VX_FEAT_SYSFS) != 0;
}

// Where a vendor command goes: the driver ioctl (not a sysfs port; also no
// port), the bsg command (sysfs port with bsg), the vendor netlink command
// (sysfs port with that socket), or nowhere.
enum class VxRoad { Ioctl, Bsg, Netlink, None };

[[nodiscard]] inline VxRoad vxapi_vendor_road(const vxapi_priv_database* rec) {
    if (!vxapi_is_sysfs_port(rec)) return VxRoad::Ioctl;
    if ((rec->features & VX_FEAT_BSG) != 0) return VxRoad::Bsg;
    if ((rec->features & VX_FEAT_NL_VENDOR) != 0) return VxRoad::Netlink;
    return VxRoad::None;
}

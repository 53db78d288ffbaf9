// What discovery reads of a new physical port from its adapter's flash, on
// either road: the function's flash layout and the versions of the firmware
// parts. The ioctl discovery calls these itself; the sysfs walk, which must
// not reach a worker, is handed them by the sysfs discovery's entry below.
#pragma once

#include <cstdint>

#include "base/vx_records.h"

// On the chips that keep a flash layout table, builds the function's layout
// from it (vxapi_set_option_rom_layout): 0 built, 1 not. 0 on other chips.
[[nodiscard]] int32_t vxapi_read_port_layout(int fd, vxapi_priv_database* rec);

// The running region versions of the chips that report them, with the MPI,
// EDC and NIC boot code versions in flash where the chip keeps those, then,
// with `active_image_set`, the active image set of the chips that keep two.
void vxapi_read_port_versions(int fd, vxapi_priv_database* rec, bool active_image_set);

// The sysfs discovery (transport/vx_sysfs.h) with the readers above: every
// new physical port gets its layout and versions, the active image set
// included. It keeps the name of the sysfs walk it starts; it lives here
// because it hands the walk these workers.
[[nodiscard]] int vxsysfs_supported_driver_exist(uint32_t* counter);

// The sysfs twins of the driver workers: the same operations for ports that
// the driver serves through sysfs attribute files, bsg vendor commands and
// netlink messages (ports with feature 0x20). Each takes the arguments of its
// ioctl worker and fills the same driver records.
#pragma once

#include <cstdint>

#include "core/vx_records.h"

// Driver specifics of a sysfs port into a 64-byte EXT_LN_DRIVER_DATA.
int vxsysfs_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status);

// Queries of a sysfs port.
int vxsysfs_query_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status);

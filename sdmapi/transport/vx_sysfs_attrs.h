// NVRAM and VPD attribute files of sysfs ports, and the OS device names of a
// LUN of a sysfs port.
//
// The NVRAM and VPD functions take the arguments of their ioctl workers (the
// port's descriptor, which is not used, and the port record first; the status
// word last).
#pragma once

#include <cstdint>

#include "core/vx_passthru.h"
#include "core/vx_records.h"

// The "nvram" attribute: nvr_buf_size bytes read, or written.
int32_t vxsysfs_get_nvram(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* nvr_buf,
                          uint32_t nvr_buf_size, uint32_t* pext_stat);
int32_t vxsysfs_set_nvram(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* nvr_buf,
                          uint32_t nvr_buf_size, uint32_t* pext_stat);

// The "vpd" attribute. *vpd_buf_size: in, the buffer's size (read) or the
// bytes to write; out, the bytes read or written.
int32_t vxsysfs_get_vpd(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* vpd_buf,
                        uint32_t* vpd_buf_size, uint32_t* pext_stat);
int32_t vxsysfs_set_vpd(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* vpd_buf,
                        uint32_t* vpd_buf_size, uint32_t* pext_stat);

// The OS device names of target tgtid, LUN lunid of the port's SCSI host, each
// followed by ';', into devname (256 bytes). 0 found, 1 none.
int32_t vxsysfs_get_devname(vxapi_priv_database* api_priv_data_inst, uint16_t tgtid, uint16_t lunid,
                            uint8_t* devname);

// The SCSI host's "beacon" attribute: read into (State blink or off), or
// written from the record.
int32_t vxsysfs_get_beacon(int handle, vxapi_priv_database* api_priv_data_inst, EXT_BEACON_CONTROL* pbeacon_st,
                           uint32_t* pext_stat);
int32_t vxsysfs_set_beacon(int handle, vxapi_priv_database* api_priv_data_inst,
                           const EXT_BEACON_CONTROL* pbeacon_st, uint32_t* pext_stat);

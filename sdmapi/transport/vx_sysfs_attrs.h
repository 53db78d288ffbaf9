// Attribute transfers of sysfs ports other than flash: the NVRAM, VPD and
// SFP attribute files, the beacon, i2c device access through bsg vendor
// commands, and the OS device names of a LUN of a sysfs port. (The link
// statistics, vxsysfs_get_statistics and vxsysfs_get_port_statistics, are
// declared with the queries in transport/vx_sysfs.h.)
//
// Each transfer takes the arguments of its worker (the port's descriptor,
// which is not used, and the port record first; the status word last) and
// reports through the status word: 9 while nothing reached the driver (a
// file missing, a port kind not served), 1 once the attribute or the bsg
// node is in hand and the transfer failed, 0 on success; 6 for a missing
// buffer. The result is 0 unless stated otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_passthru_records.h"
#include "base/vx_records.h"

// The "nvram" and "sfp" attributes: the first buf_size bytes (at most the
// attribute's length). A virtual port reads its physical port's attribute.
[[nodiscard]] int32_t vxsysfs_get_nvram(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* nvr_buf,
                                        uint32_t nvr_buf_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_get_sfp(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* sfp_buf,
                                      uint32_t sfp_buf_size, uint32_t* pext_stat);
// The "nvram" attribute of the port's own directory: nvr_buf_size bytes
// (at most the attribute's length) written.
[[nodiscard]] int32_t vxsysfs_set_nvram(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* nvr_buf,
                                        uint32_t nvr_buf_size, uint32_t* pext_stat);

// The "vpd" attribute. *vpd_buf_size: in, the buffer's size (read) or the
// bytes to write; out, the bytes read or written. A read takes the attribute
// whole (into a buffer at least that long), from the physical port's
// directory as NVRAM; a write as NVRAM's.
[[nodiscard]] int32_t vxsysfs_get_vpd(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* vpd_buf,
                                      uint32_t* vpd_buf_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_set_vpd(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* vpd_buf,
                                      uint32_t* vpd_buf_size, uint32_t* pext_stat);

// The OS device names of target tgtid, LUN lunid of the port's SCSI host, each
// followed by ';', into devname (256 bytes). 0 found, 1 none.
[[nodiscard]] int32_t vxsysfs_get_devname(vxapi_priv_database* api_priv_data_inst, uint16_t tgtid, uint16_t lunid,
                                          uint8_t* devname);

// The SCSI host's "beacon" attribute: "Enabled" reads as State blink, any
// other text as off; a missing file (status 9) or one that cannot be read
// (status 1) leaves State. The setter
// writes "1" for blink, "0" for any other State.
[[nodiscard]] int32_t vxsysfs_get_beacon(int handle, vxapi_priv_database* api_priv_data_inst,
                                         EXT_BEACON_CONTROL* pbeacon_st, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_set_beacon(int handle, vxapi_priv_database* api_priv_data_inst,
                                         const EXT_BEACON_CONTROL* pbeacon_st, uint32_t* pext_stat);

// i2c device dev from offset adr: len bytes read into i2c (vendor command
// 17) or written from it (16), in pieces of at most VXA_I2C_MAX bytes, one
// request each through one bsg node of the FC host (a length of 0 still
// sends one). Stops at the first piece that fails: status 1 (20 when the
// driver lacks the command) for a failed request, 8 for a piece read whose
// block did not arrive as far as its bytes (nothing of it is copied), else
// the driver's status of the piece; the pieces before it stay done. Result 1
// when the request blocks cannot be allocated.
[[nodiscard]] int32_t vxsysfs_get_i2c(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t dev, uint16_t adr,
                                      uint16_t opt, uint16_t len, uint8_t* i2c, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_set_i2c(int handle, vxapi_priv_database* api_priv_data_inst, uint16_t dev, uint16_t adr,
                                      uint16_t opt, uint16_t len, const uint8_t* i2c, uint32_t* pext_stat);

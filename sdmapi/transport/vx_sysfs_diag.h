// Diagnostics of sysfs-mode ports: bsg vendor commands and the firmware
// dump.
#pragma once

#include <cstdint>

#include "core/vx_fut.h"
#include "core/vx_records.h"

// The flash update capabilities record of a sysfs port: flag 0 reads it into
// *pcap, 1 sends *pcap. *pext_stat receives the status.
int vxsysfs_flash_update_capabilities(int handle, vxapi_priv_database* api_priv_data_inst,
                                      vxa_flash_update_caps* pcap, uint32_t* pext_stat, uint32_t flag);

// The firmware's dump into buf. *buf_size: the buffer's size in, the bytes
// delivered out.
int32_t vxsysfs_get_fw_dump(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* buf, uint32_t* buf_size,
                            uint32_t* pext_stat);

// The flash of sysfs ports: option ROM read and update over the driver's
// attribute files or bsg vendor commands, the expansion EDC NVRAM read, the
// flash sector size, and the fixed option ROM layouts.
//
// Each takes the arguments of its ioctl worker (the port's descriptor, which
// is not used, and the port record first; the status word last).
#pragma once

#include <cstdint>

#include "core/vx_records.h"

int32_t vxsysfs_read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                            uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat);
int32_t vxsysfs_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                              uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat);
int32_t vxsysfs_read_nvram_exp_edc(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                   uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat);

// The flash sector size of the port ("flash_block_size"); no status word.
int32_t vxsysfs_get_flash_sector_size(int handle, vxapi_priv_database* api_priv_data_inst,
                                      uint32_t* pflash_sector_size);

// The fixed layout of the port's board by its PCI ids into playout_buf (an
// INT_OPT_ROM_LAYOUT of layout_size bytes), also installed as the global
// layout. Status 16 and nothing copied when the buffer cannot hold the table
// with its closing entry. Result 0.
int32_t vxsysfs_get_optrom_layout(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* playout_buf,
                                  uint32_t layout_size, uint32_t* pext_stat);

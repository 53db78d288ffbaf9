// Reading and writing the adapter's flash (the option ROM) through the
// driver: one region, or any stretch of raw flash.
//
// On the chips whose regions the library places (flash-layout chips and 24xx
// chips) a region code becomes a flash offset through the global layout, and
// writes are widened to whole flash sectors by a read-modify-write. A driver
// that answers busy is asked again, 20 s apart, at most twice. The driver's
// status comes back in *pext_stat; the result is 0 when the request was
// carried, 1 when it was refused in the library, else the ioctl's failure.
// A raw read (every read of a flash-layout chip is one) that the driver
// answers with status 0 but fewer bytes than asked gives 1: the span was not
// read, and the rest of the buffer is no flash contents.
// Sysfs ports (feature 0x20) go to the sysfs twins.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_flash_align.h"
#include "base/vx_records.h"

[[nodiscard]] int32_t vxapi_read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                        uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat);

// poptrom is only read.
[[nodiscard]] int32_t vxapi_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                          uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat);

// The sector alignment of base/vx_flash_align.h reading through the two
// workers below (vxapi_read_optrom, vxapi_get_flash_sector_size), which
// serve a port of either road.
[[nodiscard]] uint32_t vxapi_sector_align(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t** db,
                                          uint8_t* poptrom, uint32_t* offset, uint32_t* size);

// The flash sector size as the driver reports it: 0 with the size, or 1.
[[nodiscard]] uint32_t vxapi_get_flash_sector_size(int handle, vxapi_priv_database* api_priv_data_inst,
                                                   uint32_t* pflash_sector_size);

// The expansion EDC NVRAM area; only sysfs ports have it.
[[nodiscard]] int32_t vxapi_read_nvram_exp_edc(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                               uint32_t optrom_size, uint32_t region, uint32_t offset,
                                               uint32_t* pext_stat);

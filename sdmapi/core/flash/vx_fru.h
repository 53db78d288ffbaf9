// The board's FRU (field replaceable unit) record of the image versions in
// flash, on the boards that carry one.
// The requests go by the port's transport: the driver, the bsg FRU commands
// or the vendor netlink ones (vx_diag.h).
#pragma once

#include <cstdint>

#include "base/vx_records.h"

// Sends the versions of the image (image_size bytes, written to flash region
// `region`: 1 the firmware, 7 the boot code with its BIOS, FCode and EFI
// images) to the board's FRU. 1 for any other region or when the image holds
// no version, else the result of vxapi_update_fru_versions.
[[nodiscard]] int32_t vxapi_fill_and_update_fru_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                                         const uint8_t* image, uint32_t image_size, uint32_t region,
                                                         uint32_t* pext_stat);

// Reads the FRU status register, writes it back with bit 0x10 cleared, then
// set. Each step runs only when the one before succeeded (on the driver road:
// the ioctl and the driver's status; a read answered short of its record has
// status 8). The result of the last step made.
[[nodiscard]] int32_t vxapi_pulse_fru_status(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t* pext_stat);

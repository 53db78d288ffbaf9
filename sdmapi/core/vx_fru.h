// The board's FRU (field replaceable unit) record of the image versions in
// flash, on the boards that carry one.
//
// No transport carries the FRU requests yet: both workers answer "no
// transport" (status 12, result 2) and send nothing.
#pragma once

#include <cstdint>

#include "core/vx_records.h"

// Sends the versions of the image (image_size bytes, written to flash region
// `region`) to the board's FRU. 0 on success; the driver's status in
// *pext_stat.
int32_t vxapi_fill_and_update_fru_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                           const uint8_t* image, uint32_t image_size, uint32_t region,
                                           uint32_t* pext_stat);

// Reads, resets and sets the FRU status register. 0 on success.
int32_t vxapi_pulse_fru_status(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t* pext_stat);

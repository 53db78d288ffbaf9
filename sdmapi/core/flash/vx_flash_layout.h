// The building of a function's option ROM layout from the flash layout table
// in the adapter's flash, and the layout request of the port's road. The
// layout records and the global layout are in base/vx_layout.h.
#pragma once

#include <cstdint>

#include "base/vx_layout.h"
#include "base/vx_records.h"

// Builds the function's layout from the flash layout table (at the chip's
// default address, else where the locator in flash names it) and makes it
// the global layout. 0, or 1 with the function's layout released and no
// global layout, so that no lookup for this function reads its flash at the
// region places of the layout built before.
[[nodiscard]] int32_t vxapi_set_option_rom_layout(int handle, vxapi_priv_database* api_priv_data_inst);

// Looks for the locator of the flash layout table behind the boot code
// images: 0 with *flt_address, or 1.
[[nodiscard]] int32_t vxapi_get_flt_address(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t* flt_address);

// Reads the flash layout table at that flash byte offset into the function's
// layout, which must exist. 0 or 1.
[[nodiscard]] int32_t vxapi_get_flt_data(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t flt_address);

// The layout as the fixed tables (sysfs ports, 24xx and 25xx chips; those
// also become the global layout) or the driver give it, into a buffer of
// layout_size bytes. The driver's status in *pext_stat. A driver's layout
// counts no more regions than it delivered; one delivered without its head
// gives 1.
[[nodiscard]] int32_t vxapi_get_optrom_layout(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* playout_buf,
                                              uint32_t layout_size, uint32_t* pext_stat);

// The MPI and PEP firmware versions kept in the flash of the chips that carry
// them (VX_CHIP_MPI_PEP), read from the start of their flash regions.
#pragma once

#include <cstdint>

#include "base/vx_records.h"

// Flash regions of the MPI and PEP firmware in the primary and the secondary
// image set.
constexpr uint32_t VX_REGION_MPI_PRIMARY = 0xD3;
constexpr uint32_t VX_REGION_PEP_PRIMARY = 0xD1;
constexpr uint32_t VX_REGION_MPI_SECONDARY = 0xF0;
constexpr uint32_t VX_REGION_PEP_SECONDARY = 0xF1;

// Reads 256 bytes at the start of the MPI and the PEP region of the active
// image set (the function's active_image) as raw flash, where the global
// layout places them: the MPI version is bytes 19, 23, 27, 31 into pmpi, the
// PEP version bytes 79, 78, 77, 76 into ppep (4 bytes each). A region that
// the global layout does not have is not read. 0 when both were read; 1
// otherwise (the MPI version may be filled even so).
[[nodiscard]] int32_t vxapi_get_flash_mpi_pep_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                                       uint8_t* pmpi, uint8_t* ppep);

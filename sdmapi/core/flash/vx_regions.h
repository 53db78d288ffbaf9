// Per-adapter flash facts and the small requests around region updates:
//
// - the versions of the firmware parts of converged adapters, kept in the
//   function's vxapi_phy_info with one valid bit each (fcoe_valid): the MPI
//   and EDC (PHY) firmware as running in the adapter and as stored in flash,
//   and the NIC boot code (BIOS, FCode, EFI) in flash; handed to callers as a
//   region version list;
// - the activation of a freshly written flash region;
// - NPIV virtual port creation, deletion and information (sysfs ports only);
// - the active image set of chips that keep two flash image sets, chosen from
//   the image status records of both sets.
//
// The refresh workers have no result: a failure is traced and leaves the
// fields as they were. Valid bits are only ever set here, never cleared.
// Flash reads go through vxapi_read_optrom as raw reads at the start of the
// region in the global layout, which must hold this adapter's layout; a
// region that the layout does not have is not read. The records are
// base/vx_region_records.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_records.h"
#include "base/vx_region_records.h"

// The running MPI and EDC versions, from the driver (query, SubCode 10) or
// from the sysfs twin. A version is stored even when all its bytes are zero;
// its valid bit is set only when one is not.
void vxapi_query_adapter_versions(int handle, vxapi_priv_database* api_priv_data_inst);

// The MPI (region 0x40) and EDC (region 0x45) versions in flash: 64 KiB of
// each region, version bytes 17 to 19; the EDC region must start with its
// cookie. A region that fails is skipped and the other one is still read.
void vxapi_get_flash_mpi_edc_versions(int handle, vxapi_priv_database* api_priv_data_inst);

// The NIC boot code versions (x86 BIOS, FCode, EFI) from 512 KiB of region
// 0x2E: the CodeRevision of the first image of each code type, high byte
// first.
void vxapi_get_nic_bootcode_version(int handle, vxapi_priv_database* api_priv_data_inst);

// Writes the version list of the valid bits (in bit order) into
// padapter_version, a buffer of adapter_version_size bytes. 0 with status 0;
// 1 with status 16 (buffer too small) and nothing written when the list does
// not fit, or when the function or the buffer is missing.
[[nodiscard]] int32_t vxapi_copy_fcoe_versions(const vxapi_phy_info* phy_info_inst, void* padapter_version,
                                               uint32_t adapter_version_size, uint32_t* pext_stat);

// Asks the driver to take up a written region (command 0x18, no busy
// retry); region is an activation code of VX_ACTIVATE_CODES. Any other code
// gives 1 with no request. The driver's status in *pext_stat; the result is
// that of the ioctl, 1 when the request could not be built. Sysfs ports go to
// the sysfs twin.
[[nodiscard]] int32_t vxapi_activate_region(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t region,
                                            uint32_t* pext_stat);

// Virtual ports exist only on sysfs ports: there the sysfs twin's result,
// elsewhere 1 with nothing done. vxapi_get_vport_info takes the virtual
// port's own record.
[[nodiscard]] int32_t vxapi_create_vport(int handle, vxapi_priv_database* api_priv_data_inst,
                                         PEXT_VPORT_PARAMS pvport_param, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_delete_vport(int handle, vxapi_priv_database* api_priv_data_inst,
                                         PEXT_VPORT_PARAMS pvport_param, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_get_vport_info(int handle, vxapi_priv_database* vport, PEXT_VPORT_INFO pvpinfo,
                                           uint32_t* pext_stat);

// Sets active_image from the image status records of region 0x95 (primary,
// 0) and 0x96 (secondary, 1): a record counts when its signature and
// checksum hold and its valid bit is set; when both count, the higher
// generation wins and equal generations give the secondary. Left as it was
// when the secondary cannot be read or neither record counts.
void vxapi_get_active_image_set(int handle, vxapi_priv_database* api_priv_data_inst);

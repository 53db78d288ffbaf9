// The internal pieces of the management API's update path: region
// activation and the finders of an adapter's sibling ports, the flash update
// token guard of writes, the flash regions of NVRAM, the two option ROM write
// paths and the VPD trace formatter.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "api/vx_sdframe.h"
#include "base/vx_layout.h"
#include "base/vx_records.h"
#include "vxsdm.h"

// ---- NVRAM regions ----

// The flash region of a port's NVRAM on a flash-NVRAM chip, by the PCI
// function (bits 0-2 of pci_dev_func).
[[nodiscard]] uint32_t vx_sd_nvram_region(const vxapi_priv_database* rec);

// The first entry of the global layout whose region code (low byte of the
// region word) is `region`: the 255 slots are searched, and the slots past
// the region count are zero, so they match code 0. Null when none matches.
[[nodiscard]] const INT_OPT_ROM_REGION* vx_sd_layout_entry(uint32_t region);

// ---- region activation ----

// Has the driver take up a written region (or carry out a reset code given
// directly) on this port and, where the region serves the whole adapter, on
// its sibling physical ports. 0 done or nothing to do; SDERR_SIBLING_FAILED
// when an activation or a sibling's open failed.
[[nodiscard]] uint32_t vxapi_reset_region(int Device, vxapi_priv_database* api_priv_data_inst, uint32_t Region);

// The first other physical function of the port's PCI device (same domain,
// bus and device number) in list order, or null.
[[nodiscard]] vxapi_priv_database* vxapi_is_other_phy_port_exist(int Device, vxapi_priv_database* api_priv_data_inst);
// The same among the functions whose adapter port number is port_num.
[[nodiscard]] vxapi_priv_database* vxapi_is_quad_phy_port_exist(int Device, vxapi_priv_database* api_priv_data_inst,
                                                                uint32_t port_num);

// ---- flash update token ----

// Writes to an adapter are refused (SDERR_FUT_NOT_SET, recorded in the call)
// while another process holds a live flash update token for it.
[[nodiscard]] bool vx_sd_no_foreign_token(VxSdCall& call, vxapi_priv_database* rec);
// Whether this process holds a live flash update token for the adapter.
[[nodiscard]] bool vx_sd_holds_token(vxapi_priv_database* rec);

// ---- option ROM writes ----

// The preserving path: carries the board's subsystem vendor ID and BIOS
// defaults block from the current flash into the image (patched in place),
// writes it, and updates the version keywords of the adapter's VPD.
[[nodiscard]] SD_UINT32 SDUpdateOptionRomCommon(int Device, SD_PUINT8 pBuffer, SD_UINT32 BufferSize, SD_UINT32 region,
                                                SD_UINT32 region_index, vxapi_priv_database* api_priv_data_inst);
// The plain path: the region written as given.
[[nodiscard]] SD_UINT32 SDUpdateOptionRomCommonEx2(int Device, SD_PUINT8 pBuffer, SD_UINT32 BufferSize,
                                                   SD_UINT32 region, SD_UINT32 region_index,
                                                   vxapi_priv_database* api_priv_data_inst);

// ---- VPD as text ----

// Appends one line per item of the VPD (walked within its first 512 bytes)
// to resultText, a text of resultSize bytes that stays terminated.
void PrintVpd(const SD_UINT8* vpd, char* resultText, size_t resultSize,
              const vxapi_priv_database* api_priv_data_inst);
// Appends the line of one item: its tag or keyword, and len_value bytes of data.
void PrintField(const SD_UINT8* opcode, const SD_UINT8* value, uint32_t len_value, char* resultText,
                size_t resultSize);

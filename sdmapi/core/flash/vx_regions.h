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
// region that the layout does not have is not read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_records.h"

// ---- region version list (the driver's and the management API's format) ----

// One version of one firmware part.
struct EXT_REGIONVERSION {
    uint16_t Region;
    uint16_t SubRegion;
    uint16_t Location;       // VX_VERSION_RUNNING or VX_VERSION_IN_FLASH
    uint16_t VersionLength;  // bytes of Version in use
    uint8_t Version[8];
    uint8_t Reserved[8];
};
static_assert(sizeof(EXT_REGIONVERSION) == 24);
static_assert(offsetof(EXT_REGIONVERSION, SubRegion) == 2);
static_assert(offsetof(EXT_REGIONVERSION, Location) == 4);
static_assert(offsetof(EXT_REGIONVERSION, VersionLength) == 6);
static_assert(offsetof(EXT_REGIONVERSION, Version) == 8);
static_assert(offsetof(EXT_REGIONVERSION, Reserved) == 16);

// The list head; Length entries lie one after the other from byte 8. Lists
// are handled as byte buffers of vx_region_version_list_size(n) bytes, and
// entries are copied in and out by offset.
struct EXT_ADAPTERREGIONVERSION {
    uint32_t Length;  // number of entries
    uint32_t Reserved;
    EXT_REGIONVERSION RegionVersion[1];
};
static_assert(sizeof(EXT_ADAPTERREGIONVERSION) == 32);
static_assert(offsetof(EXT_ADAPTERREGIONVERSION, Reserved) == 4);
static_assert(offsetof(EXT_ADAPTERREGIONVERSION, RegionVersion) == 8);

constexpr uint32_t vx_region_version_list_size(uint32_t entries) {
    return static_cast<uint32_t>(offsetof(EXT_ADAPTERREGIONVERSION, RegionVersion) +
                                 entries * sizeof(EXT_REGIONVERSION));
}
// The running versions come as a list of two entries (MPI, EDC); the full
// list of a converged function has at most seven.
constexpr uint32_t VX_RUNNING_VERSION_ENTRIES = 2;
constexpr uint32_t VX_FCOE_VERSION_ENTRIES = 7;
static_assert(vx_region_version_list_size(VX_RUNNING_VERSION_ENTRIES) == 56);
static_assert(vx_region_version_list_size(VX_FCOE_VERSION_ENTRIES) == 176);

// Location of a version.
constexpr uint16_t VX_VERSION_IN_FLASH = 0;
constexpr uint16_t VX_VERSION_RUNNING = 1;

// Region codes of the converged adapters' firmware parts.
constexpr uint16_t VX_REGION_MPI = 0x40;
constexpr uint16_t VX_REGION_EDC = 0x45;       // the PHY firmware
constexpr uint16_t VX_REGION_NIC_BOOT = 0x2E;  // the NIC's boot code chain
// SubRegion of a NIC boot code entry: the image's code type.
constexpr uint16_t VX_SUBREGION_NIC_BIOS = 0;
constexpr uint16_t VX_SUBREGION_NIC_FCODE = 1;
constexpr uint16_t VX_SUBREGION_NIC_EFI = 3;

// Bits of vxapi_phy_info::fcoe_valid, in the order of the version list.
constexpr uint32_t VX_FCOE_MPI_RUNNING = 0x01;
constexpr uint32_t VX_FCOE_EDC_RUNNING = 0x02;
constexpr uint32_t VX_FCOE_MPI_FLASH = 0x04;
constexpr uint32_t VX_FCOE_EDC_FLASH = 0x08;
constexpr uint32_t VX_FCOE_NIC_BIOS = 0x10;
constexpr uint32_t VX_FCOE_NIC_FCODE = 0x20;
constexpr uint32_t VX_FCOE_NIC_EFI = 0x40;

// The first word of the EDC region.
constexpr uint32_t VX_EDC_COOKIE = 0x5555BBBB;
// Where the MPI and EDC regions keep their version (three bytes).
constexpr uint32_t VX_FLASH_VERSION_AT = 17;
// How much of a region the flash version readers take.
constexpr uint32_t VX_MPI_EDC_READ_SIZE = 0x10000;
constexpr uint32_t VX_NIC_BOOT_READ_SIZE = 0x80000;

// ---- region activation ----

// Activation codes and the driver's sub-code of each (1 to 5, in this order).
constexpr uint32_t VX_ACTIVATE_CODES[5] = {0x2025C, 0x2025D, 0x2025E, 0x20261, 0x20262};

// ---- virtual ports ----

enum vport_options_t : uint32_t {
    EXT_VPO_LOGIN_RETRY_ENABLE = 0,
    EXT_VPO_PERSISTENT = 1,
    EXT_VPO_QOS_BW = 2,
    EXT_VPO_VFABRIC_ENABLE = 3,
};

// Request of virtual port creation and deletion.
struct EXT_VPORT_PARAMS {
    uint32_t vp_id;  // creation fills in the new virtual port's id
    uint32_t options;  // vport_options_t
    uint8_t wwpn[8];
    uint8_t wwnn[8];
};
static_assert(sizeof(EXT_VPORT_PARAMS) == 24);
static_assert(offsetof(EXT_VPORT_PARAMS, options) == 4);
static_assert(offsetof(EXT_VPORT_PARAMS, wwpn) == 8);
static_assert(offsetof(EXT_VPORT_PARAMS, wwnn) == 16);
using PEXT_VPORT_PARAMS = EXT_VPORT_PARAMS*;

// Information about one virtual port.
struct EXT_VPORT_INFO {
    uint32_t free;  // virtual ports that can still be created
    uint32_t used;  // virtual ports in use
    uint32_t id;
    uint32_t state;  // 1 online, else 0
    uint32_t bound;
    uint8_t wwnn[8];
    uint8_t wwpn[8];
    uint8_t reserved[220];
};
static_assert(sizeof(EXT_VPORT_INFO) == 256);
static_assert(offsetof(EXT_VPORT_INFO, bound) == 16);
static_assert(offsetof(EXT_VPORT_INFO, wwnn) == 20);
static_assert(offsetof(EXT_VPORT_INFO, wwpn) == 28);
static_assert(offsetof(EXT_VPORT_INFO, reserved) == 36);
using PEXT_VPORT_INFO = EXT_VPORT_INFO*;

// ---- workers ----

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
int32_t vxapi_copy_fcoe_versions(const vxapi_phy_info* phy_info_inst, void* padapter_version,
                                 uint32_t adapter_version_size, uint32_t* pext_stat);

// Asks the driver to take up a written region (command 0x18, no busy
// retry); region is an activation code of VX_ACTIVATE_CODES. Any other code
// gives 1 with no request. The driver's status in *pext_stat; the result is
// that of the ioctl, 1 when the request could not be built. Sysfs ports go to
// the sysfs twin.
int32_t vxapi_activate_region(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t region,
                              uint32_t* pext_stat);

// Virtual ports exist only on sysfs ports: there the sysfs twin's result,
// elsewhere 1 with nothing done. vxapi_get_vport_info takes the virtual
// port's own record.
int32_t vxapi_create_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                           uint32_t* pext_stat);
int32_t vxapi_delete_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                           uint32_t* pext_stat);
int32_t vxapi_get_vport_info(int handle, vxapi_priv_database* vport, PEXT_VPORT_INFO pvpinfo, uint32_t* pext_stat);

// Sets active_image from the image status records of region 0x95 (primary,
// 0) and 0x96 (secondary, 1): a record counts when its signature and
// checksum hold and its valid bit is set; when both count, the higher
// generation wins and equal generations give the secondary. Left as it was
// when the secondary cannot be read or neither record counts.
void vxapi_get_active_image_set(int handle, vxapi_priv_database* api_priv_data_inst);

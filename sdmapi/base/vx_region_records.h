// Records of the region versions, region activation and virtual ports,
// exchanged with the driver and carried by every road, with the codes and
// valid bits that go with them.
#pragma once

#include <cstddef>
#include <cstdint>

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

[[nodiscard]] constexpr uint32_t vx_region_version_list_size(uint32_t entries) {
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

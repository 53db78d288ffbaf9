// What the library knows of each supported chip, by PCI device ID, and of
// the boards with rules of their own, by PCI subsystem IDs.
//
// One table row per chip carries the chip's data (family, flash tables,
// fixed layout, speed, virtual ports, VPD and NVRAM regions) and one bit per
// property that some chips have and others lack, the way a PCI ID table
// carries a driver's data. Every question about a chip asks this table; no
// other file keeps a list of device IDs. A device ID outside the table is
// not a supported chip and has no property.
#pragma once

#include <cstdint>

// The maker's PCI vendor ID, and the PCI subsystem vendor ID of the OEM brand
// whose boards take the maker's oldest fixed layout.
constexpr uint16_t VX_PCI_VENDOR_MAKER = 0x7A5A;
constexpr uint16_t VX_PCI_SUBVENDOR_OEM = 0x7A5B;

// Chips that share their design, and most of their properties.
enum class VxChipFamily : uint8_t {
    F2100,  // 0x2100
    F2200,  // 0x2200
    F23xx,  // 0x2300, 0x2310, 0x2312, 0x2322
    F63xx,  // 0x6312, 0x6322
    F24xx,  // 0x2422, 0x2432, 0x5422, 0x5432, 0x8432
    F25xx,  // 0x2532, 0x2533
    F2031,  // 0x2031, 0x2831
    FQuad,  // 0x2071, 0x2271, 0x2261
    F8001,  // 0x8001
    F8021,  // 0x0101, 0x8021
    F83xx,  // 0x8031, 0x8831
    F8044,  // 0x8044
};

// The properties, one bit each. Properties that some chips share today keep
// bits of their own: they mean different things.
enum VxChipFlag : uint64_t {
    // ---- flash ----
    VX_CHIP_FLASH_LAYOUT_TABLE = 1ull << 0,   // the flash carries a flash layout table (region places)
    VX_CHIP_SECTOR_ALIGNED = 1ull << 1,       // flash writes cover whole sectors
    VX_CHIP_FLT_LOCATOR_SEARCH = 1ull << 2,   // the flash is searched for the table's locator
    VX_CHIP_FLT_DEFAULT_ONLY = 1ull << 3,     // ... but only the default address counts
    VX_CHIP_FLT_SECOND_WINDOW = 1ull << 4,    // ... in a second window too (4 MiB flash)
    VX_CHIP_DOUBLED_BOOT_REGION = 1ull << 5,  // the boot code is written twice in a 512 KiB span
    VX_CHIP_VPORT_READS_PARENT_FLASH = 1ull << 6,  // a sysfs virtual port reads flash through its parent
    VX_CHIP_FLASH_TOKEN = 1ull << 7,          // two image sets and the flash update token
    VX_CHIP_ACTIVE_IMAGE_SET = 1ull << 8,     // the active image set is read at discovery
    // ---- NVRAM and VPD ----
    VX_CHIP_NVRAM_256 = 1ull << 9,            // NVRAM of 256 bytes
    VX_CHIP_NVRAM_512 = 1ull << 10,           // NVRAM of 512 bytes, in the 24xx variable layout
    VX_CHIP_NVRAM_IN_FLASH = 1ull << 11,      // NVRAM and VPD kept in flash regions
    VX_CHIP_VPD_1024 = 1ull << 12,            // VPD of 1024 bytes (else 512)
    VX_CHIP_VPD_VERSION_KEYWORDS = 1ull << 13,  // the VPD carries the boot code's version keywords
    VX_CHIP_VPD_IN_IMAGE = 1ull << 14,        // the option ROM image carries the VPD
    VX_CHIP_SERIAL_FROM_VPD = 1ull << 15,     // the serial number is read from the VPD
    // ---- versions ----
    VX_CHIP_MPI_PEP = 1ull << 16,             // MPI and PEP firmware versions
    VX_CHIP_REGION_VERSIONS = 1ull << 17,     // the driver reports the firmware parts' versions
    VX_CHIP_FLASH_MPI_EDC_NIC = 1ull << 18,   // MPI, EDC and NIC boot code versions read from flash at discovery
    VX_CHIP_EX2_VERSION_REFRESH = 1ull << 19, // a plain region write refreshes those versions
    VX_CHIP_BOOT_VERSIONS_FLASH_IOCTL = 1ull << 20,  // boot code versions read from flash (driver road)
    VX_CHIP_BOOT_VERSIONS_FLASH_SYSFS = 1ull << 21,  // boot code versions read from flash (sysfs road)
    VX_CHIP_BOOT_VERSIONS_VPD_FALLBACK = 1ull << 22, // boot code versions the driver lacks come from the VPD
    VX_CHIP_FW_STATE = 1ull << 23,            // the SCSI host shows the firmware state words
    // ---- region writes and activation ----
    VX_CHIP_NO_PRESERVING_UPDATE = 1ull << 24,  // the option ROM writes that preserve settings are refused
    VX_CHIP_ACTIVATE_AFTER_EX = 1ull << 25,   // a written region is activated (preserving write)
    VX_CHIP_ACTIVATE_AFTER_EX2 = 1ull << 26,  // a written region is activated (plain write)
    VX_CHIP_RESET_FW_BOTH_PORTS = 1ull << 27, // region 0x01 resets the firmware of every port
    VX_CHIP_RESET_FW_ON_NVRAM = 1ull << 28,   // NVRAM regions reset the firmware
    VX_CHIP_RESET_FCOE_NEW = 1ull << 29,      // NVRAM regions reset FCoE; regions 0x74, 0x97 the firmware
    VX_CHIP_RESET_83XX = 1ull << 30,          // regions 0x97, 0xA4, 0xAA, 0xAC reset as on the 83xx chips
    VX_CHIP_RESET_QUAD_REGIONS = 1ull << 31,  // regions 0x02, 0x51, 0x53, 0xD9, 0xDB reset the firmware
    VX_CHIP_RESET_MPI_REGIONS = 1ull << 32,   // regions 0x40, 0x41, 0x45 reset the MPI
    VX_CHIP_RESET_FCOE_AA_AC = 1ull << 33,    // regions 0xAA, 0xAC reset FCoE
    VX_CHIP_QUAD_SIBLING_CHAIN = 1ull << 34,  // an activation reaches every function by port number
    // ---- ports ----
    VX_CHIP_NO_VPORTS = 1ull << 35,           // no virtual ports
    VX_CHIP_IIDMA = 1ull << 36,               // the link speed to a remote port can be set
    VX_CHIP_TARNO = 1ull << 37,               // Tarno management
    VX_CHIP_CONVERGED = 1ull << 38,           // converged (FCoE) adapter
    VX_CHIP_QOS = 1ull << 39,                 // QoS configuration in flash
    VX_CHIP_QOS_QUAD_REGIONS = 1ull << 40,    // QoS regions by function: 0x87, 0x88, 0x3C, 0x3D
    // ---- diagnostics ----
    VX_CHIP_BOARD_TEMP = 1ull << 41,          // board temperature
    VX_CHIP_DIAG_IO = 1ull << 42,             // diagnostic I/O
    VX_CHIP_SERDES_PARAMS = 1ull << 43,       // SerDes parameter block
    VX_CHIP_SERDES_REG = 1ull << 44,          // SerDes registers, 16-bit
    VX_CHIP_SERDES_REG_EX = 1ull << 45,       // SerDes registers, 32-bit
    VX_CHIP_FCE_TRACE = 1ull << 46,           // the firmware's FCE trace buffer
};

// The fixed layout of a chip without a flash layout table to read.
enum class VxFixedLayout : uint8_t {
    Other,  // none of its own: LayoutKt on a KT board, else Layout2312
    L2322,
    L6312,
    L6322,
    L2422,
    L25xx,
};

// Where a flash-NVRAM chip keeps each PCI function's VPD.
enum class VxVpdRegions : uint8_t {
    None,  // not in a flash region
    Pair,  // 0x14 on even functions, 0x16 on odd ones
    Quad,  // 0x16, 0xD4, 0xD6 for functions 1, 2, 3; 0x14 otherwise
    R81,   // region 0x81
};

// Where a flash-NVRAM chip keeps each PCI function's NVRAM.
enum class VxNvramRegions : uint8_t {
    None,  // not in a flash region
    Pair,  // 0x15 on even functions, 0x17 on odd ones
    Quad,  // 0x17, 0xD5, 0xD7 for functions 1, 2, 3; 0x15 otherwise
    AaAc,  // 0xAA on even functions, 0xAC on odd ones
};

struct VxChip {
    uint16_t device_id;
    VxChipFamily family;
    uint64_t flags;                // VxChipFlag bits
    uint32_t fdt_address;          // flash descriptor table; 0: none
    uint32_t flt_address;          // flash layout table by default; 0: none
    VxFixedLayout fixed_layout;
    uint8_t port_speed;            // supported speed in Gbit as hexadecimal digits (0x16 is 16 Gbit)
    uint16_t default_max_vports;   // when the driver reports no maximum
    VxVpdRegions vpd_regions;
    VxNvramRegions nvram_regions;
};

// The chip's row; null for a device ID that is not a supported chip.
[[nodiscard]] const VxChip* vx_chip(uint16_t device_id);

// Whether the chip has the property; false for an unsupported device ID.
[[nodiscard]] bool vx_chip_has(uint16_t device_id, VxChipFlag flag);

// Whether the chip belongs to the family; false for an unsupported device ID.
[[nodiscard]] bool vx_chip_is(uint16_t device_id, VxChipFamily family);

// Board properties, one bit each.
enum VxBoardFlag : uint32_t {
    VX_BOARD_KT = 1u << 0,               // fixed layout LayoutKt, serial number in the node record's
                                         // reserved area, a one-byte VPD identifier length
    VX_BOARD_FRU = 1u << 1,              // a FRU that takes the new versions after a preserving write
    VX_BOARD_EXPANSION_NVRAM = 1u << 2,  // the expansion NVRAM region has a reader of its own
};

// Whether the board with these PCI subsystem IDs has the property.
[[nodiscard]] bool vx_board_has(uint16_t ssvendor_id, uint16_t ssdevice_id, VxBoardFlag flag);

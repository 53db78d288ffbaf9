// The chip table and the board table.
#include "base/vx_chips.h"

namespace {

// ---------------------------------------------------------------- properties by family

// The chips from the 24xx on: the later chips.
constexpr uint64_t kLater = VX_CHIP_SECTOR_ALIGNED | VX_CHIP_SERIAL_FROM_VPD | VX_CHIP_NVRAM_512;
// The later chips whose flash carries a flash layout table.
constexpr uint64_t kLayout =
    kLater | VX_CHIP_FLASH_LAYOUT_TABLE | VX_CHIP_FW_STATE | VX_CHIP_VPORT_READS_PARENT_FLASH;
// The layout chips that keep NVRAM and VPD in flash.
constexpr uint64_t kFlashNvram = kLayout | VX_CHIP_NVRAM_IN_FLASH;

constexpr uint64_t kOld = VX_CHIP_NO_VPORTS;
constexpr uint64_t k23xx = kOld | VX_CHIP_NVRAM_256;
constexpr uint64_t k24xx =
    kLater | VX_CHIP_VPD_VERSION_KEYWORDS | VX_CHIP_BOOT_VERSIONS_VPD_FALLBACK | VX_CHIP_IIDMA;
constexpr uint64_t k25xx = kLayout | VX_CHIP_VPD_VERSION_KEYWORDS | VX_CHIP_BOOT_VERSIONS_VPD_FALLBACK |
                           VX_CHIP_IIDMA | VX_CHIP_BOARD_TEMP | VX_CHIP_DIAG_IO | VX_CHIP_SERDES_PARAMS |
                           VX_CHIP_FCE_TRACE | VX_CHIP_DOUBLED_BOOT_REGION | VX_CHIP_FLT_LOCATOR_SEARCH |
                           VX_CHIP_RESET_FW_BOTH_PORTS;
constexpr uint64_t k2031 = kFlashNvram | VX_CHIP_VPD_VERSION_KEYWORDS | VX_CHIP_IIDMA | VX_CHIP_BOARD_TEMP |
                           VX_CHIP_DIAG_IO | VX_CHIP_FCE_TRACE | VX_CHIP_SERDES_REG | VX_CHIP_QOS |
                           VX_CHIP_ACTIVATE_AFTER_EX2 | VX_CHIP_RESET_FW_ON_NVRAM | VX_CHIP_RESET_FW_BOTH_PORTS;
constexpr uint64_t kQuad = kFlashNvram | VX_CHIP_VPD_VERSION_KEYWORDS | VX_CHIP_IIDMA | VX_CHIP_BOARD_TEMP |
                           VX_CHIP_DIAG_IO | VX_CHIP_FCE_TRACE | VX_CHIP_SERDES_REG | VX_CHIP_QOS |
                           VX_CHIP_QOS_QUAD_REGIONS | VX_CHIP_FLASH_TOKEN | VX_CHIP_MPI_PEP |
                           VX_CHIP_ACTIVE_IMAGE_SET | VX_CHIP_RESET_QUAD_REGIONS | VX_CHIP_RESET_FW_ON_NVRAM |
                           VX_CHIP_RESET_FW_BOTH_PORTS;
constexpr uint64_t k8001 = kFlashNvram | VX_CHIP_VPD_VERSION_KEYWORDS | VX_CHIP_BOOT_VERSIONS_VPD_FALLBACK |
                           VX_CHIP_IIDMA | VX_CHIP_FCE_TRACE | VX_CHIP_CONVERGED | VX_CHIP_REGION_VERSIONS |
                           VX_CHIP_FLASH_MPI_EDC_NIC | VX_CHIP_EX2_VERSION_REFRESH | VX_CHIP_ACTIVATE_AFTER_EX |
                           VX_CHIP_ACTIVATE_AFTER_EX2 | VX_CHIP_FLT_LOCATOR_SEARCH | VX_CHIP_FLT_SECOND_WINDOW |
                           VX_CHIP_RESET_FW_ON_NVRAM | VX_CHIP_RESET_FW_BOTH_PORTS | VX_CHIP_RESET_MPI_REGIONS;
// The converged chips that refuse the preserving writes.
constexpr uint64_t kFcoeNew = kFlashNvram | VX_CHIP_VPD_1024 | VX_CHIP_BOARD_TEMP | VX_CHIP_CONVERGED |
                              VX_CHIP_BOOT_VERSIONS_FLASH_IOCTL | VX_CHIP_ACTIVATE_AFTER_EX2 |
                              VX_CHIP_NO_PRESERVING_UPDATE | VX_CHIP_FLT_LOCATOR_SEARCH | VX_CHIP_FLT_DEFAULT_ONLY |
                              VX_CHIP_RESET_FCOE_NEW;
constexpr uint64_t k8021 = kFcoeNew | VX_CHIP_BOOT_VERSIONS_FLASH_SYSFS;
constexpr uint64_t k83xx = kFlashNvram | VX_CHIP_VPD_1024 | VX_CHIP_BOARD_TEMP | VX_CHIP_IIDMA | VX_CHIP_FCE_TRACE |
                           VX_CHIP_QOS | VX_CHIP_CONVERGED | VX_CHIP_REGION_VERSIONS | VX_CHIP_ACTIVATE_AFTER_EX2 |
                           VX_CHIP_RESET_83XX;
constexpr uint64_t k8044 =
    kFcoeNew | VX_CHIP_SERDES_REG_EX | VX_CHIP_REGION_VERSIONS | VX_CHIP_RESET_FCOE_AA_AC;

// ---------------------------------------------------------------- the chips

constexpr uint32_t kFdt25xx = 0x140000, kFlt25xx = 0x141000;  // the 2 MiB flash of the 25xx chips
constexpr uint32_t kFdt8001 = 0x360000, kFlt8001 = 0x361000;  // the 4 MiB flash of 0x8001
constexpr uint32_t kFdt = 0x3F0000, kFlt = 0x3F1000;          // every other layout chip

constexpr uint16_t kVports = 254;      // virtual ports of most chips
constexpr uint16_t kVports127 = 127;   // of 0x2422, 0x2432 and the 25xx chips
constexpr uint16_t kVports8432 = 63;

using F = VxChipFamily;
using L = VxFixedLayout;
using V = VxVpdRegions;
using N = VxNvramRegions;

constexpr VxChip kChips[] = {
    // device ID, family, flags, FDT and FLT addresses, fixed layout, speed, default max vports, VPD and
    // NVRAM regions
    {0x2100, F::F2100, kOld, 0, 0, L::Other, 0x01, kVports, V::None, N::None},
    {0x2200, F::F2200, kOld, 0, 0, L::Other, 0x01, kVports, V::None, N::None},
    {0x2300, F::F23xx, k23xx | VX_CHIP_VPD_IN_IMAGE, 0, 0, L::Other, 0x02, kVports, V::None, N::None},
    {0x2310, F::F23xx, k23xx | VX_CHIP_VPD_IN_IMAGE, 0, 0, L::Other, 0x02, kVports, V::None, N::None},
    {0x2312, F::F23xx, k23xx | VX_CHIP_VPD_IN_IMAGE, 0, 0, L::Other, 0x02, kVports, V::None, N::None},
    {0x2322, F::F23xx, k23xx | VX_CHIP_VPD_IN_IMAGE, 0, 0, L::L2322, 0x02, kVports, V::None, N::None},
    {0x6312, F::F63xx, k23xx, 0, 0, L::L6312, 0x02, kVports, V::None, N::None},
    {0x6322, F::F63xx, k23xx, 0, 0, L::L6322, 0x02, kVports, V::None, N::None},
    {0x2422, F::F24xx, k24xx | VX_CHIP_VPORT_READS_PARENT_FLASH, 0, 0, L::L2422, 0x04, kVports127, V::None, N::None},
    {0x2432, F::F24xx, k24xx | VX_CHIP_VPORT_READS_PARENT_FLASH, 0, 0, L::L2422, 0x04, kVports127, V::None, N::None},
    {0x5422, F::F24xx, k24xx, 0, 0, L::L2422, 0x04, kVports, V::None, N::None},
    {0x5432, F::F24xx, k24xx, 0, 0, L::L2422, 0x04, kVports, V::None, N::None},
    {0x8432, F::F24xx, k24xx | VX_CHIP_TARNO, 0, 0, L::L2422, 0x04, kVports8432, V::None, N::None},
    {0x2532, F::F25xx, k25xx, kFdt25xx, kFlt25xx, L::L25xx, 0x08, kVports127, V::None, N::None},
    {0x2533, F::F25xx, k25xx, kFdt25xx, kFlt25xx, L::L25xx, 0x08, kVports127, V::None, N::None},
    {0x2031, F::F2031, k2031, kFdt, kFlt, L::Other, 0x16, kVports, V::Pair, N::Pair},
    {0x2831, F::F2031, k2031, kFdt, kFlt, L::Other, 0x16, kVports, V::Pair, N::Pair},
    {0x2071, F::FQuad, kQuad | VX_CHIP_QUAD_SIBLING_CHAIN, kFdt, kFlt, L::Other, 0x32, kVports, V::Quad, N::Quad},
    {0x2271, F::FQuad, kQuad, kFdt, kFlt, L::Other, 0x32, kVports, V::Quad, N::Quad},
    {0x2261, F::FQuad, kQuad, kFdt, kFlt, L::Other, 0x32, kVports, V::Quad, N::Quad},
    {0x8001, F::F8001, k8001, kFdt8001, kFlt8001, L::Other, 0x10, kVports, V::Pair, N::Pair},
    {0x0101, F::F8021, k8021, kFdt, kFlt, L::Other, 0x10, kVports, V::R81, N::Pair},
    {0x8021, F::F8021, k8021, kFdt, kFlt, L::Other, 0x10, kVports, V::R81, N::Pair},
    {0x8031, F::F83xx, k83xx, kFdt, kFlt, L::Other, 0x10, kVports, V::R81, N::AaAc},
    {0x8831, F::F83xx, k83xx, kFdt, kFlt, L::Other, 0x10, kVports, V::R81, N::AaAc},
    {0x8044, F::F8044, k8044, kFdt, kFlt, L::Other, 0x10, kVports, V::R81, N::AaAc},
};

// ---------------------------------------------------------------- the boards

struct VxBoard {
    uint16_t ssvendor_id;
    uint16_t ssdevice_id;
    uint32_t flags;  // VxBoardFlag bits
};

constexpr VxBoard kBoards[] = {
    {VX_PCI_SUBVENDOR_OEM, 0x12BA, VX_BOARD_KT}, {VX_PCI_SUBVENDOR_OEM, 0x12C2, VX_BOARD_KT},
    {VX_PCI_SUBVENDOR_OEM, 0x12C7, VX_BOARD_KT}, {VX_PCI_SUBVENDOR_OEM, 0x12C9, VX_BOARD_KT},
    {VX_PCI_VENDOR_MAKER, 0x0131, VX_BOARD_KT},  {VX_PCI_VENDOR_MAKER, 0x0175, VX_BOARD_FRU},
    {VX_PCI_VENDOR_MAKER, 0x0176, VX_BOARD_EXPANSION_NVRAM},
};

}  // namespace

const VxChip* vx_chip(uint16_t device_id) {
    for (const VxChip& chip : kChips) {
        if (chip.device_id == device_id) return &chip;
    }
    return nullptr;
}

bool vx_chip_has(uint16_t device_id, VxChipFlag flag) {
    const VxChip* chip = vx_chip(device_id);
    return chip != nullptr && (chip->flags & flag) != 0;
}

bool vx_chip_is(uint16_t device_id, VxChipFamily family) {
    const VxChip* chip = vx_chip(device_id);
    return chip != nullptr && chip->family == family;
}

bool vx_board_has(uint16_t ssvendor_id, uint16_t ssdevice_id, VxBoardFlag flag) {
    for (const VxBoard& board : kBoards) {
        if (board.ssvendor_id == ssvendor_id && board.ssdevice_id == ssdevice_id) return (board.flags & flag) != 0;
    }
    return false;
}

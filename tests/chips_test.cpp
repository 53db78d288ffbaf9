// The chip table and the board table against the lists of chips and boards,
// each list stated once.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "base/vx_chips.h"

namespace {

using Ids = std::vector<uint16_t>;

Ids join(std::initializer_list<Ids> parts) {
    Ids all;
    for (const Ids& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

bool has(const Ids& ids, uint16_t id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

const Ids k2xxx = {0x2100, 0x2200};
const Ids k23xx = {0x2300, 0x2310, 0x2312, 0x2322};
const Ids k63xx = {0x6312, 0x6322};
const Ids k24xx = {0x2422, 0x2432, 0x5422, 0x5432, 0x8432};
const Ids k25xx = {0x2532, 0x2533};
const Ids k2031 = {0x2031, 0x2831};
const Ids kQuad = {0x2071, 0x2271, 0x2261};
const Ids k8001 = {0x8001};
const Ids k8021 = {0x0101, 0x8021};
const Ids k83xx = {0x8031, 0x8831};
const Ids k8044 = {0x8044};
const Ids kLayout = join({k25xx, k2031, kQuad, k8001, k8021, k83xx, k8044});
const Ids kFlashNvram = join({k2031, kQuad, k8001, k8021, k83xx, k8044});
const Ids kAll = join({k2xxx, k23xx, k63xx, k24xx, kLayout});

struct List {
    VxChipFlag flag;
    const char* name;
    Ids ids;
};

const List kLists[] = {
    {VX_CHIP_FLASH_LAYOUT_TABLE, "flash layout table", kLayout},
    {VX_CHIP_SECTOR_ALIGNED, "sector-aligned writes", join({k24xx, kLayout})},
    {VX_CHIP_FLT_LOCATOR_SEARCH, "locator search", join({k25xx, k8001, k8021, k8044})},
    {VX_CHIP_FLT_DEFAULT_ONLY, "default table address only", join({k8021, k8044})},
    {VX_CHIP_FLT_SECOND_WINDOW, "second locator window", k8001},
    {VX_CHIP_DOUBLED_BOOT_REGION, "doubled boot code", k25xx},
    {VX_CHIP_VPORT_READS_PARENT_FLASH, "vport reads parent flash", join({{0x2422, 0x2432}, kLayout})},
    {VX_CHIP_FLASH_TOKEN, "flash update token", kQuad},
    {VX_CHIP_ACTIVE_IMAGE_SET, "active image set", kQuad},
    {VX_CHIP_NVRAM_256, "NVRAM 256", join({k23xx, k63xx})},
    {VX_CHIP_NVRAM_512, "NVRAM 512", join({k24xx, kLayout})},
    {VX_CHIP_NVRAM_IN_FLASH, "NVRAM in flash", kFlashNvram},
    {VX_CHIP_VPD_1024, "VPD 1024", join({k8021, k83xx, k8044})},
    {VX_CHIP_VPD_VERSION_KEYWORDS, "VPD version keywords", join({k24xx, k25xx, k2031, k8001, kQuad})},
    {VX_CHIP_VPD_IN_IMAGE, "VPD in image", k23xx},
    {VX_CHIP_SERIAL_FROM_VPD, "serial from VPD", join({k24xx, kLayout})},
    {VX_CHIP_MPI_PEP, "MPI and PEP", kQuad},
    {VX_CHIP_REGION_VERSIONS, "region versions", join({k8001, k83xx, k8044})},
    {VX_CHIP_FLASH_MPI_EDC_NIC, "flash MPI, EDC, NIC versions", k8001},
    {VX_CHIP_EX2_VERSION_REFRESH, "version refresh after a plain write", k8001},
    {VX_CHIP_BOOT_VERSIONS_FLASH_IOCTL, "boot versions from flash, driver", join({k8021, k8044})},
    {VX_CHIP_BOOT_VERSIONS_FLASH_SYSFS, "boot versions from flash, sysfs", k8021},
    {VX_CHIP_BOOT_VERSIONS_VPD_FALLBACK, "boot versions from VPD", join({k24xx, k25xx, k8001})},
    {VX_CHIP_FW_STATE, "firmware state", kLayout},
    {VX_CHIP_NO_PRESERVING_UPDATE, "no preserving update", join({k8021, k8044})},
    {VX_CHIP_ACTIVATE_AFTER_EX, "activation, preserving write", k8001},
    {VX_CHIP_ACTIVATE_AFTER_EX2, "activation, plain write", join({k2031, k8001, k8021, k83xx, k8044})},
    {VX_CHIP_RESET_FW_BOTH_PORTS, "firmware reset of both ports", join({k25xx, k8001, k2031, kQuad})},
    {VX_CHIP_RESET_FW_ON_NVRAM, "firmware reset on NVRAM", join({k8001, k2031, kQuad})},
    {VX_CHIP_RESET_FCOE_NEW, "FCoE reset, new chips", join({k8021, k8044})},
    {VX_CHIP_RESET_83XX, "83xx resets", k83xx},
    {VX_CHIP_RESET_QUAD_REGIONS, "quad region resets", kQuad},
    {VX_CHIP_RESET_MPI_REGIONS, "MPI region resets", k8001},
    {VX_CHIP_RESET_FCOE_AA_AC, "FCoE reset on 0xAA, 0xAC", k8044},
    {VX_CHIP_QUAD_SIBLING_CHAIN, "sibling chain by port number", {0x2071}},
    {VX_CHIP_NO_VPORTS, "no vports", join({k2xxx, k23xx, k63xx})},
    {VX_CHIP_IIDMA, "iIDMA", join({k24xx, k25xx, k2031, kQuad, k8001, k83xx})},
    {VX_CHIP_TARNO, "Tarno", {0x8432}},
    {VX_CHIP_CONVERGED, "converged", join({k8001, k8021, k83xx, k8044})},
    {VX_CHIP_QOS, "QoS", join({k2031, kQuad, k83xx})},
    {VX_CHIP_QOS_QUAD_REGIONS, "QoS quad regions", kQuad},
    {VX_CHIP_BOARD_TEMP, "board temperature", join({k25xx, k2031, kQuad, k8021, k83xx, k8044})},
    {VX_CHIP_DIAG_IO, "diagnostic I/O", join({k25xx, k2031, kQuad})},
    {VX_CHIP_SERDES_PARAMS, "SerDes parameters", k25xx},
    {VX_CHIP_SERDES_REG, "SerDes registers", join({k2031, kQuad})},
    {VX_CHIP_SERDES_REG_EX, "SerDes registers, 32-bit", k8044},
    {VX_CHIP_FCE_TRACE, "FCE trace", join({k25xx, k8001, k2031, kQuad, k83xx})},
};

// Every supported chip falls in exactly one group, and its field has the
// group's value.
template <class T>
void expect_groups(const char* what, T VxChip::*field, const std::vector<std::pair<T, Ids>>& groups) {
    for (uint16_t id : kAll) {
        const VxChip* chip = vx_chip(id);
        ASSERT_NE(chip, nullptr) << std::hex << id;
        int found = 0;
        for (const auto& [value, ids] : groups) {
            if (!has(ids, id)) continue;
            ++found;
            EXPECT_EQ(chip->*field, value) << what << " of 0x" << std::hex << id;
        }
        EXPECT_EQ(found, 1) << what << " groups of 0x" << std::hex << id;
    }
}

TEST(ChipTable, EveryListIsExactlyItsFlag) {
    for (const List& list : kLists) {
        for (uint16_t id : kAll) {
            EXPECT_EQ(vx_chip_has(id, list.flag), has(list.ids, id)) << list.name << ", 0x" << std::hex << id;
        }
    }
}

TEST(ChipTable, EveryRowCarriesNoFlagBeyondTheLists) {
    for (uint16_t id : kAll) {
        uint64_t listed = 0;
        for (const List& list : kLists) {
            if (has(list.ids, id)) listed |= list.flag;
        }
        ASSERT_NE(vx_chip(id), nullptr);
        EXPECT_EQ(vx_chip(id)->flags, listed) << std::hex << id;
        EXPECT_EQ(vx_chip(id)->device_id, id);
    }
}

TEST(ChipTable, UnknownIdsHaveNothing) {
    for (uint16_t id : {0x0000, 0x1234, 0x2400, 0x2500, 0xFFFF}) {
        EXPECT_EQ(vx_chip(id), nullptr) << std::hex << id;
        for (const List& list : kLists) EXPECT_FALSE(vx_chip_has(id, list.flag)) << list.name << std::hex << id;
        EXPECT_FALSE(vx_chip_is(id, VxChipFamily::F24xx));
        EXPECT_FALSE(vx_chip_is(id, VxChipFamily::F2100));
    }
}

TEST(ChipTable, Families) {
    using F = VxChipFamily;
    expect_groups<F>("family", &VxChip::family,
                     {{F::F2100, {0x2100}}, {F::F2200, {0x2200}}, {F::F23xx, k23xx}, {F::F63xx, k63xx},
                      {F::F24xx, k24xx}, {F::F25xx, k25xx}, {F::F2031, k2031}, {F::FQuad, kQuad},
                      {F::F8001, k8001}, {F::F8021, k8021}, {F::F83xx, k83xx}, {F::F8044, k8044}});
    EXPECT_TRUE(vx_chip_is(0x8432, VxChipFamily::F24xx));
    EXPECT_FALSE(vx_chip_is(0x2532, VxChipFamily::F24xx));
}

TEST(ChipTable, FlashTablesAndFixedLayouts) {
    const Ids k3f = join({k2031, kQuad, k8021, k83xx, k8044});
    const Ids kNone = join({k2xxx, k23xx, k63xx, k24xx});
    expect_groups<uint32_t>("FDT address", &VxChip::fdt_address,
                            {{0x360000, k8001}, {0x140000, k25xx}, {0x3F0000, k3f}, {0, kNone}});
    expect_groups<uint32_t>("FLT address", &VxChip::flt_address,
                            {{0x361000, k8001}, {0x141000, k25xx}, {0x3F1000, k3f}, {0, kNone}});
    using L = VxFixedLayout;
    expect_groups<L>("fixed layout", &VxChip::fixed_layout,
                     {{L::L25xx, k25xx},
                      {L::L2422, k24xx},
                      {L::L6322, {0x6322}},
                      {L::L6312, {0x6312}},
                      {L::L2322, {0x2322}},
                      {L::Other, join({k2xxx, {0x2300, 0x2310, 0x2312}, kFlashNvram})}});
}

TEST(ChipTable, SpeedAndVirtualPorts) {
    expect_groups<uint8_t>("speed", &VxChip::port_speed,
                           {{0x32, kQuad},
                            {0x16, k2031},
                            {0x10, join({k8001, k8021, k83xx, k8044})},
                            {0x08, k25xx},
                            {0x04, k24xx},
                            {0x02, join({k23xx, k63xx})},
                            {0x01, k2xxx}});
    expect_groups<uint16_t>("default max vports", &VxChip::default_max_vports,
                            {{127, {0x2422, 0x2432, 0x2532, 0x2533}},
                             {63, {0x8432}},
                             {254, join({k2xxx, k23xx, k63xx, {0x5422, 0x5432}, k2031, kQuad, k8001, k8021,
                                         k83xx, k8044})}});
}

TEST(ChipTable, VpdAndNvramRegions) {
    const Ids kNotInFlash = join({k2xxx, k23xx, k63xx, k24xx, k25xx});
    using V = VxVpdRegions;
    expect_groups<V>("VPD regions", &VxChip::vpd_regions,
                     {{V::Pair, join({k2031, k8001})},
                      {V::Quad, kQuad},
                      {V::R81, join({k8021, k83xx, k8044})},
                      {V::None, kNotInFlash}});
    using N = VxNvramRegions;
    expect_groups<N>("NVRAM regions", &VxChip::nvram_regions,
                     {{N::Pair, join({k2031, k8001, k8021})},
                      {N::Quad, kQuad},
                      {N::AaAc, join({k83xx, k8044})},
                      {N::None, kNotInFlash}});
}

TEST(BoardTable, EachBoardHasItsFlagOnly) {
    struct Board {
        uint16_t ssvendor, ssdevice;
        uint32_t flags;
    };
    const Board boards[] = {
        {VX_PCI_SUBVENDOR_OEM, 0x12BA, VX_BOARD_KT},
        {VX_PCI_SUBVENDOR_OEM, 0x12C2, VX_BOARD_KT},
        {VX_PCI_SUBVENDOR_OEM, 0x12C7, VX_BOARD_KT},
        {VX_PCI_SUBVENDOR_OEM, 0x12C9, VX_BOARD_KT},
        {VX_PCI_VENDOR_MAKER, 0x0131, VX_BOARD_KT},
        {VX_PCI_VENDOR_MAKER, 0x0175, VX_BOARD_FRU},
        {VX_PCI_VENDOR_MAKER, 0x0176, VX_BOARD_EXPANSION_NVRAM},
        // The same subsystem IDs under the other vendor, and boards of no rule.
        {VX_PCI_VENDOR_MAKER, 0x12BA, 0},
        {VX_PCI_SUBVENDOR_OEM, 0x0131, 0},
        {VX_PCI_SUBVENDOR_OEM, 0x0175, 0},
        {VX_PCI_SUBVENDOR_OEM, 0x0176, 0},
        {VX_PCI_VENDOR_MAKER, 0x0177, 0},
        {0, 0, 0},
    };
    for (const Board& b : boards) {
        for (VxBoardFlag flag : {VX_BOARD_KT, VX_BOARD_FRU, VX_BOARD_EXPANSION_NVRAM}) {
            EXPECT_EQ(vx_board_has(b.ssvendor, b.ssdevice, flag), (b.flags & flag) != 0)
                << std::hex << b.ssvendor << ":" << b.ssdevice << " flag " << flag;
        }
    }
}

}  // namespace

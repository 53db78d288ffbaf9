// The flash layout and the flash reads of the API, on flash-layout chips, on
// chips with a fixed layout, with a layout the driver reports, and on sysfs
// ports.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "api_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::kFill;
using apitest::RigPort;

// A caller's layout record with room for n regions.
struct LayoutBuffer {
    explicit LayoutBuffer(uint32_t n) : bytes(8 + 8 * size_t{n} + 64, kFill) { layout()->NoOfRegions = n; }
    PSDM_OPT_ROM_LAYOUT layout() { return reinterpret_cast<PSDM_OPT_ROM_LAYOUT>(bytes.data()); }
    SDM_OPT_ROM_REGION region(uint32_t i) {
        SDM_OPT_ROM_REGION r;
        std::memcpy(&r, bytes.data() + 8 + 8 * size_t{i}, sizeof r);
        return r;
    }
    std::vector<uint8_t> bytes;
};

bool untouched(const std::vector<uint8_t>& b, size_t from = 0) { return sim::all_bytes(b, from, kFill); }

TEST(ApiOptionRom, LayoutOfAFlashLayoutChip) {
    ApiRig rig;
    sim::ChipFlashOptions options;
    options.regions = {sim::flt_region(0x07, 0x40000, 0, 0x06),  // to be activated after a write
                       sim::flt_region(0x01, 0x80000, 0x80000), sim::flt_region(0x1C, 0x1000, 0x141000, 0x01)};
    const int h = rig.add_adapter(0x2532, options).handle;

    LayoutBuffer small(0);
    EXPECT_EQ(SDGetOptionRomLayout(h, 0, small.layout()), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.layout()->NoOfRegions, 3u);
    EXPECT_EQ(small.layout()->Size, 0xA5A5A5A5u);
    ASSERT_NE(pGlobalOptRomLayout, nullptr);  // refreshed all the same
    EXPECT_EQ(gOptRomLayout.Region[0].Region, 0x00060007u);

    LayoutBuffer full(3);
    ASSERT_EQ(SDGetOptionRomLayout(h, 0, full.layout()), 0u);
    EXPECT_EQ(full.layout()->Size, 0u);  // a layout read from flash knows no flash size
    EXPECT_EQ(full.region(0).Region, 7u);
    EXPECT_EQ(full.region(0).Size, 0x40000u);
    EXPECT_EQ(full.region(2).Region, 0x1Cu);
    EXPECT_TRUE(untouched(full.bytes, 8 + 3 * 8));

    // A chip whose layout was never read from flash: the refresh fails and
    // keeps the layout loaded before.
    RigPort& uncached = rig.add_adapter(0x2071);
    std::free(uncached.rec->phy_info->pflt_layout);
    uncached.rec->phy_info->pflt_layout = nullptr;
    ASSERT_EQ(SDGetOptionRomLayout(h, 0, nullptr), 0u);
    const INT_OPT_ROM_LAYOUT before = gOptRomLayout;
    EXPECT_EQ(SDGetOptionRomLayout(uncached.handle, 0, nullptr), SDERR_UNKNOWN);
    EXPECT_EQ(std::memcmp(&before, &gOptRomLayout, sizeof before), 0);
    // 0x2532 without a layout from flash takes the chip's fixed one.
    sim::ChipFlashOptions no_table;
    no_table.table = sim::ChipFlashOptions::Table::None;
    no_table.locator = false;
    RigPort& plain = rig.add_adapter(0x2532, no_table);
    ASSERT_EQ(plain.rec->phy_info->pflt_layout, nullptr);
    LayoutBuffer fixed(32);
    ASSERT_EQ(SDGetOptionRomLayout(plain.handle, 0, fixed.layout()), 0u);
    EXPECT_EQ(fixed.layout()->Size, 0x200000u);
}

TEST(ApiOptionRom, LayoutOfFixedAndDriverReportedChips) {
    ApiRig rig;
    const int fixed = rig.add_adapter(0x2432).handle;
    RigPort& reporting = rig.add_adapter(0x2312);
    // A driver that claims more regions than a layout can hold.
    std::vector<uint8_t> driver_layout(4088, 0);
    const uint32_t claimed = 1000;
    std::memcpy(driver_layout.data() + 4, &claimed, 4);
    for (uint32_t i = 0; i < 255; ++i) {
        const uint32_t entry[4] = {0x100 | (i & 0xFF), 0x1000, i * 0x1000, i * 0x1000 + 0xFFF};
        std::memcpy(driver_layout.data() + 8 + 16 * i, entry, sizeof entry);
    }
    rig.adapter_of(reporting).driver_layout = driver_layout;

    LayoutBuffer a(16);
    ASSERT_EQ(SDGetOptionRomLayout(fixed, 0, a.layout()), 0u);
    EXPECT_EQ(a.layout()->Size, 0x100000u);
    EXPECT_EQ(a.layout()->NoOfRegions, 7u);
    EXPECT_EQ(a.region(6).Region, 0x01u);

    LayoutBuffer b(claimed);
    ASSERT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), 0u);
    EXPECT_EQ(b.layout()->NoOfRegions, 255u);
    EXPECT_EQ(b.region(254).Region, 0xFEu);
    EXPECT_TRUE(untouched(b.bytes, 8 + 255 * 8));
    // Regions the driver counts but did not deliver are not reported; nor is a layout short of its head.
    rig.driver.inject_short(8 + 3 * 16);
    ASSERT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), 0u);
    EXPECT_EQ(b.layout()->NoOfRegions, 3u);
    rig.driver.inject_short(7);
    EXPECT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), SDERR_UNKNOWN);
}

// A whole-region read needs a buffer for the whole region; a smaller one is
// refused before anything is read, whatever the transport.
TEST(ApiOptionRom, RegionReadsNeverPassTheCallersBuffer) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    RigPort& v = rig.add_virtual(p);
    const std::vector<uint8_t>& flash = rig.adapter_of(p).flash;
    struct Case { const RigPort* port; uint32_t region, size; SD_UINT32 status; };
    const Case cases[] = {
        {&p, 0x07, 0x3FFFF, SDERR_BUFFER_TOO_SMALL}, {&p, 0x07, 0x40000, 0}, {&p, 0x14, 0x200, 0},
        {&p, 0x14, 0x100, SDERR_BUFFER_TOO_SMALL},  {&v, 0x07, 0x40000, 0}, {&p, 0x55, 0x1000, SDERR_UNKNOWN},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buf(c.size + 64, kFill);
        rig.driver.clear_log();
        EXPECT_EQ(SDGetOptionRomEx(c.port->handle, 0, buf.data(), c.size, c.region), c.status) << c.region;
        EXPECT_TRUE(untouched(buf, c.status == 0 ? c.size : 0));
        const auto reads = rig.requests(EXT_CC_READ_OPTROM);
        if (c.status != 0) {
            EXPECT_TRUE(reads.empty());
            continue;
        }
        const INT_OPT_ROM_REGION* r = std::find_if(gOptRomLayout.Region, gOptRomLayout.Region + 255,
                                                   [&](const INT_OPT_ROM_REGION& e) { return e.Region == c.region; });
        EXPECT_EQ(std::memcmp(buf.data(), flash.data() + r->Beg, c.size), 0);
        // A virtual port of the ioctl road reads with its own driver instance.
        for (const auto& e : reads) EXPECT_EQ(e.hba_select, c.port->sim->instance);
    }

    // A sysfs port reads a whole region, and region 0 as the whole flash:
    // a buffer for the option ROM alone is refused before the transport.
    const int sysfs = rig.add_sysfs_adapter(0x2432).handle;
    std::vector<uint8_t> rom(0x20000, kFill);
    EXPECT_EQ(SDGetOptionRom(sysfs, 0, rom.data(), 0x20000), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(SDGetOptionRomEx(sysfs, 0, rom.data(), 0x3FFFF, 0x07), SDERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(untouched(rom));
    // Large enough: the request goes to the sysfs transport.
    std::vector<uint8_t> whole(0x100000);
    EXPECT_NE(SDGetOptionRom(sysfs, 0, whole.data(), 0x100000), SDERR_BUFFER_TOO_SMALL);
}

TEST(ApiOptionRom, WholeImageAndRawReads) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2312);
    rig.adapter_of(p).driver_regions[0] = {0, 0x20000};
    // The driver's own layout, which every whole-image read loads first.
    INT_OPT_ROM_LAYOUT layout{0x20000, 1, {{0xFF, 0x20000, 0, 0x1FFFF}}};
    rig.adapter_of(p).driver_layout.assign(reinterpret_cast<uint8_t*>(&layout),
                                           reinterpret_cast<uint8_t*>(&layout) + sizeof layout);
    const std::vector<uint8_t>& flash = rig.adapter_of(p).flash;

    std::vector<uint8_t> rom(0x20000, kFill);
    EXPECT_EQ(SDGetOptionRom(p.handle, 0, rom.data(), 0x1FFFF), SDERR_INVALID_PARAMETER);
    EXPECT_TRUE(untouched(rom));
    EXPECT_TRUE(rig.requests(EXT_CC_READ_OPTROM).empty());
    ASSERT_EQ(SDGetOptionRom(p.handle, 0, rom.data(), 0x20000), 0u);
    EXPECT_EQ(rom, flash);

    // Raw bytes need no layout at all.
    RigPort& l = rig.add_adapter(0x2532);
    pGlobalOptRomLayout = nullptr;
    std::vector<uint8_t> raw(100 + 64, kFill);
    ASSERT_EQ(SDGetOptionRomOffset(l.handle, 0, raw.data(), 100, 0x12345), 0u);
    EXPECT_EQ(std::memcmp(raw.data(), rig.adapter_of(l).flash.data() + 0x12345, 100), 0);
    EXPECT_TRUE(untouched(raw, 100));
    EXPECT_EQ(pGlobalOptRomLayout, nullptr);
    EXPECT_EQ(SDGetOptionRomOffset(l.handle, 0, nullptr, 100, 0), SDERR_INVALID_PARAMETER);
}

}  // namespace

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
    uint32_t region(uint32_t i, size_t field = 0) {  // field 0: the region's code, 1: its size
        uint32_t r;
        std::memcpy(&r, bytes.data() + 8 + 8 * size_t{i} + 4 * field, sizeof r);
        return r;
    }
    std::vector<uint8_t> bytes;
};

bool untouched(const std::vector<uint8_t>& b, size_t from = 0) { return sim::all_bytes(b, from, kFill); }

TEST(ApiOptionRom, LayoutOfFixedAndDriverReportedChips) {
    ApiRig rig;
    sim::ChipFlashOptions options;  // a flash-layout chip, its first region to be activated after a write
    options.regions = {sim::flt_region(0x07, 0x40000, 0, 0x06), sim::flt_region(0x01, 0x80000, 0x80000),
                       sim::flt_region(0x1C, 0x1000, 0x141000, 0x01)};
    const int flt = rig.add_adapter(0x2532, options).handle, fixed = rig.add_adapter(0x2432).handle;
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

    LayoutBuffer small(0);  // the count needed; the layout refreshed all the same
    EXPECT_EQ(SDGetOptionRomLayout(flt, 0, small.layout()), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.layout()->NoOfRegions + small.layout()->Size, 3u + 0xA5A5A5A5u);
    EXPECT_EQ(gOptRomLayout.Region[0].Region, 0x00060007u);
    LayoutBuffer full(3);
    ASSERT_EQ(SDGetOptionRomLayout(flt, 0, full.layout()), 0u);
    EXPECT_EQ(full.layout()->Size, 0u);  // a layout read from flash knows no flash size
    EXPECT_EQ((std::vector<uint32_t>{full.region(0), full.region(0, 1), full.region(2)}),
              (std::vector<uint32_t>{7, 0x40000, 0x1C}));
    EXPECT_TRUE(untouched(full.bytes, 8 + 3 * 8));

    LayoutBuffer a(16);  // a fixed layout knows its flash size
    ASSERT_EQ(SDGetOptionRomLayout(fixed, 0, a.layout()), 0u);
    EXPECT_EQ(a.layout()->Size + a.layout()->NoOfRegions, 0x100000u + 7);
    LayoutBuffer b(claimed);
    ASSERT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), 0u);
    EXPECT_EQ(b.layout()->NoOfRegions, 255u);
    EXPECT_EQ(b.region(254), 0xFEu);
    EXPECT_TRUE(untouched(b.bytes, 8 + 255 * 8));
    // Regions the driver counts but did not deliver are not reported; nor is a layout short of its head.
    rig.driver.inject_short(8 + 3 * 16);
    ASSERT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), 0u);
    EXPECT_EQ(b.layout()->NoOfRegions, 3u);
    rig.driver.inject_short(7);
    EXPECT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), SDERR_UNKNOWN);
}

// A whole-region read needs a buffer for the whole region, a whole-image read one for the whole image; a
// smaller one is refused before anything is read, whatever the transport. Raw reads need no layout.
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
        EXPECT_EQ(reads.empty(), c.status != 0);
        if (c.status != 0) continue;
        const INT_OPT_ROM_REGION* r = std::find_if(gOptRomLayout.Region, gOptRomLayout.Region + 255,
                                                   [&](const INT_OPT_ROM_REGION& e) { return e.Region == c.region; });
        EXPECT_EQ(std::memcmp(buf.data(), flash.data() + r->Beg, c.size), 0);
        // A virtual port of the ioctl road reads with its own driver instance.
        for (const auto& e : reads) EXPECT_EQ(e.hba_select, c.port->sim->instance);
    }
    // Raw bytes need no layout at all.
    pGlobalOptRomLayout = nullptr;
    std::vector<uint8_t> raw(100 + 64, kFill);
    ASSERT_EQ(SDGetOptionRomOffset(p.handle, 0, raw.data(), 100, 0x12345), 0u);
    EXPECT_EQ(std::memcmp(raw.data(), flash.data() + 0x12345, 100), 0);
    EXPECT_TRUE(untouched(raw, 100));
    EXPECT_EQ(pGlobalOptRomLayout, nullptr);
    EXPECT_EQ(SDGetOptionRomOffset(p.handle, 0, nullptr, 100, 0), SDERR_INVALID_PARAMETER);

    // A whole image through the driver's own layout, which every whole-image read loads first.
    RigPort& w = rig.add_adapter(0x2312);
    rig.adapter_of(w).driver_regions[0] = {0, 0x20000};
    INT_OPT_ROM_LAYOUT layout{0x20000, 1, {{0xFF, 0x20000, 0, 0x1FFFF}}};
    rig.adapter_of(w).driver_layout.assign(reinterpret_cast<uint8_t*>(&layout),
                                           reinterpret_cast<uint8_t*>(&layout) + sizeof layout);
    std::vector<uint8_t> rom(0x20000, kFill);
    rig.driver.clear_log();
    EXPECT_EQ(SDGetOptionRom(w.handle, 0, rom.data(), 0x1FFFF), SDERR_INVALID_PARAMETER);
    EXPECT_TRUE(untouched(rom) && rig.requests(EXT_CC_READ_OPTROM).empty());
    ASSERT_EQ(SDGetOptionRom(w.handle, 0, rom.data(), 0x20000), 0u);
    EXPECT_EQ(rom, rig.adapter_of(w).flash);

    // A sysfs port reads a whole region, and region 0 as the whole flash: a buffer for the option ROM alone is
    // refused before the transport; a large enough one goes to it.
    const int sysfs = rig.add_sysfs_adapter(0x2432).handle;
    std::fill(rom.begin(), rom.end(), kFill);
    EXPECT_EQ(SDGetOptionRom(sysfs, 0, rom.data(), 0x20000), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(SDGetOptionRomEx(sysfs, 0, rom.data(), 0x3FFFF, 0x07), SDERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(untouched(rom));
    std::vector<uint8_t> whole(0x100000);
    EXPECT_NE(SDGetOptionRom(sysfs, 0, whole.data(), 0x100000), SDERR_BUFFER_TOO_SMALL);
}

}  // namespace

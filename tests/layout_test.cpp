// The option ROM layout: from the flash layout table, the fixed layouts, and the region lookup.
#include "base/vx_layout.h"
#include "core/flash/vx_flash_layout.h"
#include "sim_flash.h"
#include "test_support.h"
#include "transport/vx_sysfs_flash.h"

namespace {

using sim::Bytes;
using sim::ChipFlashOptions;
using sim::FlashRig;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;

// The layout holds the table's entries as they lie in flash, zero behind them, and is the global one.
void expect_entries(const FlashRig& rig, uint32_t table_address, std::optional<uint32_t> regions = std::nullopt) {
    const uint32_t n = regions.value_or(static_cast<uint32_t>(rig.flash.regions.size()));
    const INT_OPT_ROM_LAYOUT* layout = rig.phy.pflt_layout;
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->NoOfRegions, n);
    EXPECT_EQ(layout->Size, 0u);
    EXPECT_EQ(std::memcmp(layout->Region, rig.adapter->flash.data() + table_address + 8, 16 * n), 0);
    EXPECT_TRUE(sim::all_bytes(sim::bytes_of(&layout->Region[n], 16 * (VX_LAYOUT_MAX_REGIONS - n)), 0, 0));
    ASSERT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
    EXPECT_EQ(std::memcmp(&gOptRomLayout, layout, VX_LAYOUT_BYTES), 0);
}

// Reads of the 512 KiB windows the locator is looked for in.
std::vector<uint32_t> window_reads(const FlashRig& rig) {
    std::vector<uint32_t> at;
    for (const sim::SimLogEntry& e : rig.requests(kRead)) {
        if (e.response_len == 0x80000) at.push_back(e.reserved1);
    }
    return at;
}

// A global layout of another function, which a failed build must not leave in place.
void install_sentinel() {
    INT_OPT_ROM_LAYOUT sentinel{0x5E5E, 1, {{0x33, 0x100, 0x1000, 0x10FF}}};
    vxapi_install_global_layout(&sentinel, sizeof sentinel);
}

// The table at its default address is used without a walk (one read of 4 KiB);
// else the locator behind the boot code names it. A second build replaces the first.
TEST(FlashLayout, LocatorBehindTheBootCodeFindsATableTheDefaultAddressLacks) {
    const struct { const char* name; ChipFlashOptions::Table table; uint16_t stale_version; bool corrupt;
                   std::optional<uint16_t> vfim; } cases[] = {
        {"table at the default address", ChipFlashOptions::Table::AtDefault, 0, false, std::nullopt},
        {"nothing at the default address", ChipFlashOptions::Table::Moved, 0, false, std::nullopt},
        {"version 2 at the default address", ChipFlashOptions::Table::Moved, 2, false, std::nullopt},
        {"bad checksum at the default address", ChipFlashOptions::Table::Moved, 1, true, std::nullopt},
        {"image layout header before the images", ChipFlashOptions::Table::Moved, 0, false, uint16_t{0x200}},
        {"image layout header and version 2", ChipFlashOptions::Table::Moved, 2, false, uint16_t{0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChipFlashOptions options;
        options.table = c.table;
        options.vfim_length = c.vfim;
        FlashRig rig(0x2532, options);
        if (c.stale_version != 0) {
            sim::FltOptions stale;
            stale.version = c.stale_version;
            stale.corrupt_checksum = c.corrupt;
            sim::place(rig.adapter->flash, 0x141000, sim::build_flt_table({sim::flt_region(0x07, 0x100, 0)}, stale));
        }
        const bool moved = c.table == ChipFlashOptions::Table::Moved;
        for (int build = 0; build < 2; ++build) {
            rig.driver.clear_log();
            ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
            expect_entries(rig, *rig.flash.table_address);
            EXPECT_EQ(window_reads(rig), moved ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
        }
        uint32_t address = 0;
        ASSERT_EQ(vxapi_get_flt_address(rig.fd, &rig.rec, &address), 0);
        EXPECT_EQ(address, *rig.flash.table_address);
        if (moved) continue;
        EXPECT_EQ(rig.phy.pflt_layout->Region[6].Region, 0x00010000u | 0x1A);  // the attribute byte comes along
        EXPECT_EQ(sim::describe(rig.requests(kRead).at(0)),
                  sim::describe({0, true, kRead, 0xFFFF, 0, 0x141000, 0, 4096, 4096}));
    }
}

// Each failure leaves no function layout and no global layout: the one built before, another function's, is not
// there for the lookups that follow to read this function's flash at its places. A lookup finds nothing, as before
// any layout was built. The next build that succeeds is the global layout again.
TEST(FlashLayout, FailedBuildsReleaseTheFunctionLayoutAndLeaveNoGlobalOne) {
    const auto put16 = [](size_t (sim::RomChain::*field)(size_t) const, size_t i, uint16_t v) {
        return [=](FlashRig& rig) { sim::put_le16(rig.adapter->flash, (rig.flash.chain.*field)(i), v); };
    };
    const struct { const char* name; std::function<void(ChipFlashOptions&)> options;
                   std::function<void(FlashRig&)> damage; } cases[] = {
        {"bad locator checksum", [](ChipFlashOptions& o) { o.corrupt_locator = true; }, nullptr},
        {"no locator", [](ChipFlashOptions& o) { o.locator = false; }, nullptr},
        {"locator names a bad table", [](ChipFlashOptions& o) { o.table_options.corrupt_checksum = true; }, nullptr},
        {"image length 0 before the last image", nullptr, put16(&sim::RomChain::image_length_field, 1, 0)},
        {"no data structure where the header points", nullptr, put16(&sim::RomChain::pcir_offset_field, 0, 0xFFFF)},
        {"driver refuses the window read", nullptr,
         [](FlashRig& rig) {
             rig.driver.on(kRead, [](const sim::SimRequest& req) {
                 if (req.response_capacity == 0x80000) return sim::SimReply::with_status(EXT_STATUS_ERR);
                 sim::SimReply r;
                 r.response.assign(req.adapter->flash.begin() + req.reserved1,
                                   req.adapter->flash.begin() + req.reserved1 + req.response_capacity);
                 return r;
             });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChipFlashOptions options;
        options.table = ChipFlashOptions::Table::Moved;
        if (c.options) c.options(options);
        FlashRig rig(0x2532, options);
        if (c.damage) c.damage(rig);
        install_sentinel();
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(rig.phy.pflt_layout, nullptr);
        EXPECT_EQ(pGlobalOptRomLayout, nullptr);
        EXPECT_TRUE(sim::all_bytes(sim::bytes_of(&gOptRomLayout, sizeof gOptRomLayout), 0, 0));
        uint32_t offset = 7, size = 7;
        vxsysfs_map_region(0x33, &offset, &size);  // the sentinel's region
        EXPECT_EQ(std::pair(offset, size), std::pair(0u, 0u));

        rig.rebuild({});
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig, *rig.flash.table_address);
    }
}

// Only 0x8001 walks a second window; 0x0101, 0x8021, 0x8044 walk but take only the default address.
TEST(FlashLayout, WhichChipsLookForTheLocatorWhere) {
    const struct { uint16_t device; bool second_window; int result; std::vector<uint32_t> windows; } cases[] = {
        {0x8001, true, 0, {0, 0x200000}}, {0x8001, false, 0, {0}}, {0x2532, true, 1, {0}},
        {0x0101, false, 1, {0}},          {0x8021, false, 1, {0}}, {0x8044, false, 1, {0}},
        {0x2031, false, 1, {}},           {0x2261, false, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.device << (c.second_window ? " second window" : ""));
        ChipFlashOptions options;
        options.table = ChipFlashOptions::Table::Moved;
        options.chain_in_second_window = c.second_window;
        FlashRig rig(c.device, options);
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), c.result);
        EXPECT_EQ(window_reads(rig), c.windows);
        if (c.result == 0) expect_entries(rig, *rig.flash.table_address);
        if (c.result != 0) { EXPECT_EQ(rig.phy.pflt_layout, nullptr); }
        if (c.device == 0x2532) continue;
        rig.rebuild({});
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig, *rig.flash.table_address);
    }
    // A chip without a table is refused before any build: no request, and the global layout stays.
    for (uint16_t device : {0x2422, 0x2312}) {
        FlashRig rig(device);
        install_sentinel();
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(rig.phy.pflt_layout, nullptr);
        EXPECT_TRUE(rig.driver.log().empty());
        EXPECT_EQ(gOptRomLayout.Size, 0x5E5Eu);
    }
}

// Whole entries are kept, never more than 255; a table longer than the read fails.
TEST(FlashLayout, TableLengthsStayBounded) {
    const struct { uint16_t length; size_t entries_built; int result; uint32_t regions; } cases[] = {
        {0x30, 3, 0, 3},
        {0x38, 4, 0, 3},      // half an entry more: only whole entries
        {4080, 255, 0, 255},  // every entry in use
        {4088, 255, 0, 255},  // 8 bytes more than 255 entries: still only 255 kept
        {4090, 255, 1, 0},    // reaches past the 4096 bytes read
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<sim::FltRegion> regions;
        for (size_t i = 0; i < c.entries_built; ++i)
            regions.push_back(sim::flt_region(static_cast<uint8_t>(i + 1), 0x100, static_cast<uint32_t>(0x100 * i)));
        ChipFlashOptions options;
        options.regions = regions;
        options.table_options.length = c.length;
        options.locator = false;
        FlashRig rig(0x2532, options);
        if (c.length > 4080 && c.length <= 4088) {
            // Eight more bytes of table behind the entries, counted in the checksum.
            Bytes table = sim::build_flt_table(regions, options.table_options);
            table.resize(8 + c.length, 0x11);
            sim::put_le16(table, 4, 0);
            uint32_t sum = 0;
            for (size_t i = 0; i < table.size() / 2; ++i) sum += sim::get_le16(table, 2 * i);
            sim::put_le16(table, 4, static_cast<uint16_t>(0x10000u - (sum & 0xFFFF)));
            sim::place(rig.adapter->flash, 0x141000, table);
        }
        vx_debug = VXDBG_DEFAULT_MASK | VXDBG_API;  // the table is dumped, within what was read
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), c.result);
        vx_debug = VXDBG_DEFAULT_MASK;
        if (c.result == 0) expect_entries(rig, 0x141000, c.regions);
    }
}

TEST(MapRegion, LooksCodesUpByTheirLow8Bits) {
    pGlobalOptRomLayout = nullptr;
    uint32_t offset = 0x1234, size = 0x5678;
    vxsysfs_map_region(0xFFFF, &offset, &size);
    EXPECT_EQ(offset, 0x1234u);
    EXPECT_EQ(size, 0x5678u);
    vxsysfs_map_region(0x14, &offset, &size);  // no global layout
    EXPECT_EQ(offset + size, 0u);
    INT_OPT_ROM_LAYOUT layout{0, 3,
                              {{0xFF, 0x200000, 0, 0x1FFFFF},
                               {0x00020014, 0x200, 0x120000, 0x1201FF},  // attribute byte set
                               {0x14, 0x400, 0x130000, 0x1303FF}}};      // a later entry of the same code
    vxapi_install_global_layout(&layout, sizeof layout);
    const struct { uint32_t region, offset, size; } cases[] = {
        {0x14, 0x120000, 0x200}, {0xFF, 0, 0x200000}, {0x15, 0, 0}, {0x114, 0, 0} /* a code has 8 bits */, {0, 0, 0}};
    for (const auto& c : cases) {
        offset = 0xAAAA;
        size = 0xBBBB;
        vxsysfs_map_region(c.region, &offset, &size);
        EXPECT_EQ(offset, c.offset) << c.region;
        EXPECT_EQ(size, c.size) << c.region;
    }
    // A full layout without a closing entry: the scan ends with it.
    for (uint32_t i = 0; i < VX_LAYOUT_MAX_REGIONS; ++i) layout.Region[i] = {0x01, 0x10, 0x10 * i, 0x10 * i + 0xF};
    vxapi_install_global_layout(&layout, sizeof layout);
    vxsysfs_map_region(0x02, &offset, &size);
    EXPECT_EQ(size, 0u);
}

// A port's own layout and whole flash, whatever the global layout holds: the function's layout where it names the
// whole flash, else the chip's fixed table where the chip has one (the 25xx falls back to it), else none.
TEST(PortLayout, SourceAndWholeFlashOfAPort) {
    INT_OPT_ROM_LAYOUT from_flash{0, 1, {{0x07, 0x40000, 0, 0x3FFFF}}};
    INT_OPT_ROM_LAYOUT naming_it{0, 2, {{0x07, 0x40000, 0, 0x3FFFF}, {0x000100FF, 0x400000, 0, 0x3FFFFF}}};
    const INT_OPT_ROM_LAYOUT other{0x800, 1, {{0xFF, 0x800, 0x100, 0x8FF}}};
    const struct { uint16_t device; INT_OPT_ROM_LAYOUT* own; VxLayoutSource source; uint32_t size; } cases[] = {
        {0x2532, &from_flash, VxLayoutSource::Function, 0x200000},
        {0x2532, nullptr, VxLayoutSource::Chip, 0x200000},
        {0x2532, &naming_it, VxLayoutSource::Function, 0x400000},
        {0x2031, &naming_it, VxLayoutSource::Function, 0x400000},
        {0x2031, &from_flash, VxLayoutSource::Function, 0},
        {0x2071, nullptr, VxLayoutSource::None, 0},
        {0x2422, nullptr, VxLayoutSource::Chip, 0x100000},
        {0x2312, nullptr, VxLayoutSource::Chip, 0x20000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.device << (c.own == nullptr ? " without" : " with")
                                        << " its own layout, whole flash " << c.size);
        vxapi_phy_info phy{};
        phy.device_id = c.device;
        phy.pflt_layout = c.own;
        vxapi_priv_database rec{};
        rec.phy_info = &phy;
        vxapi_install_global_layout(&other, sizeof other);
        EXPECT_EQ(vxapi_layout_source(&rec), c.source);
        uint32_t start = 0xAAAA, size = 0xBBBB;
        EXPECT_EQ(vxapi_flash_extent(&rec, &start, &size), c.size != 0);
        EXPECT_EQ(std::pair(start, size), std::pair(0u, c.size));
    }
    vxapi_clear_global_layout();
}

// Each chip group gets its fixed table, refused one byte short of the head and the entries.
TEST(FixedLayout, EveryChipGroupGetsItsTableAndItsMinimumSize) {
    constexpr uint16_t kOem = VX_PCI_SUBVENDOR_OEM;
    const struct { uint16_t device, ssvendor, ssdevice; const INT_OPT_ROM_REGION* table;
                   uint32_t regions, flash_size; } cases[] = {
        {0x2532, 0, 0, Layout25XX, 18, 0x200000},         {0x2533, kOem, 0x12C2, Layout25XX, 18, 0x200000},
        {0x2422, 0, 0, Layout2422, 7, 0x100000},          {0x8432, 0, 0, Layout2422, 7, 0x100000},
        {0x6322, 0, 0, Layout6322, 2, 0x100000},          {0x6312, 0, 0, Layout6312, 2, 0x20000},
        {0x2322, 0, 0, Layout2322, 2, 0x100000},          {0x2322, kOem, 0x12C2, Layout2322, 2, 0x100000},
        {0x2312, kOem, 0x12BA, LayoutKt, 2, 0x20000},     {0x2312, kOem, 0x12C2, LayoutKt, 2, 0x20000},
        {0x2300, kOem, 0x12C7, LayoutKt, 2, 0x20000},     {0x2312, kOem, 0x12C9, LayoutKt, 2, 0x20000},
        {0x2312, VX_PCI_VENDOR_MAKER, 0x0131, LayoutKt, 2, 0x20000},  // Kt by the maker
        {0x2312, VX_PCI_VENDOR_MAKER, 0x12C2, Layout2312, 2, 0x20000},
        {0x2312, kOem, 0x0131, Layout2312, 2, 0x20000},   {0x2312, 0, 0, Layout2312, 2, 0x20000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.device << " " << c.ssvendor << " " << c.ssdevice);
        FlashRig rig(c.device);
        rig.phy.ssvendor_id = c.ssvendor;
        rig.phy.ssdevice_id = c.ssdevice;
        rig.rec.features |= VX_FEAT_SYSFS;  // every sysfs port takes its fixed layout
        const uint32_t minimum = 16 + 16 * c.regions;
        Bytes buf(VX_LAYOUT_BYTES, 0xEE);
        uint32_t status = 0;
        EXPECT_EQ(vxsysfs_get_optrom_layout(rig.fd, &rig.rec, buf.data(), minimum - 1, &status), 0);
        EXPECT_EQ(status, EXT_STATUS_BUFFER_TOO_SMALL);
        EXPECT_TRUE(sim::all_bytes(buf, 0, 0xEE));
        EXPECT_EQ(pGlobalOptRomLayout, nullptr);
        status = 99;
        EXPECT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, buf.data(), minimum, &status), 0);
        EXPECT_EQ(status, 0u);
        Bytes want(VX_LAYOUT_BYTES, 0xEE);  // the head and the entries, nothing behind them
        sim::put_le32(want, 0, c.flash_size);
        sim::put_le32(want, 4, c.regions);
        std::memcpy(want.data() + 8, c.table, 16 * c.regions);
        EXPECT_EQ(buf, want);
        std::fill(want.begin() + 8 + 16 * c.regions, want.end(), 0);  // the same layout is the global one
        ASSERT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
        EXPECT_EQ(sim::bytes_of(&gOptRomLayout, VX_LAYOUT_BYTES), want);
        EXPECT_TRUE(rig.driver.log().empty());
        pGlobalOptRomLayout = nullptr;
        // The table itself: the whole flash first, each region's size its span within it, a zero entry closing it.
        EXPECT_EQ(c.table[0].Region, 0xFFu);
        for (const INT_OPT_ROM_REGION* r = c.table; r < c.table + c.regions; ++r)
            EXPECT_TRUE(r->End - r->Beg + 1 == r->Size && r->End <= c.table[0].End) << r - c.table;
        EXPECT_EQ(c.table[c.regions].Size, 0u);
    }
}

}  // namespace

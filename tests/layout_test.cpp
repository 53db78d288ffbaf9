// The option ROM layout: building a function's layout from the flash layout
// table (at its default address or through the locator behind the boot code
// chain), the fixed layouts, the driver's layout and the region lookup.
#include "core/vx_layout.h"
#include "sim_flash.h"
#include "test_support.h"
#include "transport/vx_sysfs_flash.h"

namespace {

using sim::Bytes;
using sim::ChipFlashOptions;
using sim::FlashRig;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;

// The layout's entries as the table's 16-byte entries lie in flash, zero behind them.
void expect_entries(const INT_OPT_ROM_LAYOUT* layout, const FlashRig& rig, uint32_t table_address,
                    std::optional<uint32_t> regions = std::nullopt) {
    const uint32_t n = regions.value_or(static_cast<uint32_t>(rig.flash.regions.size()));
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->NoOfRegions, n);
    EXPECT_EQ(layout->Size, 0u);
    EXPECT_EQ(std::memcmp(layout->Region, rig.adapter->flash.data() + table_address + 8, 16 * n), 0);
    EXPECT_TRUE(sim::all_bytes(sim::bytes_of(&layout->Region[n], 16 * (VX_LAYOUT_MAX_REGIONS - n)), 0, 0));
}

// Reads of the 512 KiB windows the locator is looked for in.
std::vector<uint32_t> window_reads(const FlashRig& rig) {
    std::vector<uint32_t> at;
    for (const sim::SimLogEntry& e : rig.requests(kRead)) {
        if (e.response_len == 0x80000) at.push_back(e.reserved1);
    }
    return at;
}

// A global layout that a failed build must leave alone.
void install_sentinel() {
    INT_OPT_ROM_LAYOUT sentinel{};
    sentinel.Size = 0x5E5E;
    sentinel.NoOfRegions = 1;
    sentinel.Region[0] = {0x33, 0x100, 0x1000, 0x10FF};
    vxapi_install_global_layout(&sentinel, sizeof sentinel);
}

// ---------------------------------------------------------------- building from flash

TEST(FlashLayout, TableAtTheDefaultAddressIsUsedWithoutAWalk) {
    FlashRig rig(0x2532);
    for (int build = 0; build < 2; ++build) {  // a second build replaces the first layout
        rig.driver.clear_log();
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig.phy.pflt_layout, rig, 0x141000);
        EXPECT_EQ(rig.phy.pflt_layout->Region[6].Region,
                  0x00010000u | 0x1A);  // the attribute byte comes along
        ASSERT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
        EXPECT_EQ(std::memcmp(&gOptRomLayout, rig.phy.pflt_layout, VX_LAYOUT_BYTES), 0);
        const auto reads = rig.requests(kRead);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(sim::describe(reads[0]),
                  sim::describe({0, true, kRead, 0xFFFF, 0, 0x141000, 0, 4096, 4096}));
    }
}

TEST(FlashLayout, LocatorBehindTheBootCodeFindsATableTheDefaultAddressLacks) {
    const struct {
        const char* name;
        uint16_t version_at_default;
        bool corrupt;
        std::optional<uint16_t> vfim;
    } cases[] = {
        {"nothing at the default address", 0, false, std::nullopt},
        {"version 2 at the default address", 2, false, std::nullopt},
        {"bad checksum at the default address", 1, true, std::nullopt},
        {"image layout header before the images", 0, false, uint16_t{0x200}},
        {"image layout header and version 2", 2, false, uint16_t{0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChipFlashOptions options;
        options.table = ChipFlashOptions::Table::Moved;
        options.vfim_length = c.vfim;
        FlashRig rig(0x2532, options);
        if (c.version_at_default != 0) {
            sim::FltOptions stale;
            stale.version = c.version_at_default;
            stale.corrupt_checksum = c.corrupt;
            sim::place(rig.adapter->flash, 0x141000,
                       sim::build_flt_table({sim::flt_region(0x07, 0x100, 0)}, stale));
        }
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig.phy.pflt_layout, rig, *rig.flash.table_address);
        EXPECT_EQ(std::memcmp(&gOptRomLayout, rig.phy.pflt_layout, VX_LAYOUT_BYTES), 0);
        EXPECT_EQ(window_reads(rig), std::vector<uint32_t>{0});
        uint32_t address = 0;
        ASSERT_EQ(vxapi_get_flt_address(rig.fd, &rig.rec, &address), 0);
        EXPECT_EQ(address, *rig.flash.table_address);
    }
}

// Each failure leaves the function without a layout and the global layout
// as it was; none of them hangs.
TEST(FlashLayout, FailedBuildsReleaseTheFunctionLayoutAndKeepTheGlobalOne) {
    const auto moved = [](ChipFlashOptions& o) { o.table = ChipFlashOptions::Table::Moved; };
    const auto put16 = [](size_t (sim::RomChain::*field)(size_t) const, size_t i, uint16_t v) {
        return [=](FlashRig& rig) { sim::put_le16(rig.adapter->flash, (rig.flash.chain.*field)(i), v); };
    };
    const struct {
        const char* name;
        std::function<void(ChipFlashOptions&)> options;
        std::function<void(FlashRig&)> damage;
    } cases[] = {
        {"bad locator checksum", [&](ChipFlashOptions& o) { moved(o), o.corrupt_locator = true; }, nullptr},
        {"no locator", [&](ChipFlashOptions& o) { moved(o), o.locator = false; }, nullptr},
        {"locator names a bad table",
         [&](ChipFlashOptions& o) { moved(o), o.table_options.corrupt_checksum = true; }, nullptr},
        {"image length 0 before the last image", moved, put16(&sim::RomChain::image_length_field, 1, 0)},
        {"no image marked last", moved,
         [](FlashRig& rig) {
             for (size_t i = 0; i < 3; ++i) rig.adapter->flash[rig.flash.chain.indicator_field(i)] = 0;
         }},
        {"last image reaches past the window", moved, put16(&sim::RomChain::image_length_field, 2, 0x3FF)},
        {"no data structure where the header points", moved,
         put16(&sim::RomChain::pcir_offset_field, 0, 0xFFFF)},
        {"driver refuses the window read", moved,
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
        c.options(options);
        FlashRig rig(0x2532, options);
        if (c.damage) c.damage(rig);
        install_sentinel();
        const Bytes before = sim::bytes_of(&gOptRomLayout, sizeof gOptRomLayout);
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(rig.phy.pflt_layout, nullptr);
        EXPECT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
        EXPECT_EQ(sim::bytes_of(&gOptRomLayout, sizeof gOptRomLayout), before);
    }
}

// Only 0x8001 looks in a second window; 0x0101, 0x8021 and 0x8044 read the
// window but only ever take their table from its default address; other
// flash-layout chips never walk. With the table at its default address they
// all build.
TEST(FlashLayout, WhichChipsLookForTheLocatorWhere) {
    const struct {
        uint16_t device;
        bool second_window;
        int result;
        std::vector<uint32_t> windows;
    } cases[] = {
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
        if (c.result == 0) expect_entries(rig.phy.pflt_layout, rig, *rig.flash.table_address);
        if (c.result != 0) { EXPECT_EQ(rig.phy.pflt_layout, nullptr); }
        if (c.device == 0x2532) continue;
        rig.rebuild({});
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig.phy.pflt_layout, rig, *rig.flash.table_address);
    }
    for (uint16_t device : {0x2422, 0x2312}) {  // chips without a table
        FlashRig rig(device);
        install_sentinel();
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(rig.phy.pflt_layout, nullptr);
        EXPECT_TRUE(rig.driver.log().empty());
        EXPECT_EQ(gOptRomLayout.Size, 0x5E5Eu);
    }
}

// Table lengths: whole entries are kept, never more than 255, and a table
// longer than the read fails.
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
            regions.push_back(
                sim::flt_region(static_cast<uint8_t>(i + 1), 0x100, static_cast<uint32_t>(0x100 * i)));
        ChipFlashOptions options;
        options.regions = regions;
        options.table_options.length = c.length;
        options.locator = false;
        FlashRig rig(0x2532, options);
        if (c.length > 4080 && c.length <= 4088) {
            // Eight more bytes of table behind the entries, counted in the checksum.
            Bytes table = sim::build_flt_table(regions, options.table_options);
            table.resize(8 + c.length, 0);
            for (size_t i = 8 + 16 * regions.size(); i < table.size(); ++i) table[i] = 0x11;
            sim::put_le16(table, 4, 0);
            uint32_t sum = 0;
            for (size_t i = 0; i < table.size() / 2; ++i) sum += sim::get_le16(table, 2 * i);
            sim::put_le16(table, 4, static_cast<uint16_t>(0x10000u - (sum & 0xFFFF)));
            sim::place(rig.adapter->flash, 0x141000, table);
        }
        vx_debug = VXDBG_DEFAULT_MASK | VXDBG_API;  // the table is dumped, within what was read
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), c.result);
        vx_debug = VXDBG_DEFAULT_MASK;
        if (c.result != 0) continue;
        expect_entries(rig.phy.pflt_layout, rig, 0x141000, c.regions);
        if (c.regions == 0) continue;
        // Lookups in a full layout stop at its last entry.
        uint32_t offset = 1, size = 1;
        vxsysfs_map_region(c.regions, &offset, &size);
        EXPECT_EQ(offset, 0x100u * (c.regions - 1));
        EXPECT_EQ(size, 0x100u);
        vxsysfs_map_region(0, &offset, &size);  // absent
        EXPECT_EQ(size, 0u);
    }
}

// ---------------------------------------------------------------- region lookup

TEST(MapRegion, LooksCodesUpByTheirLow8Bits) {
    pGlobalOptRomLayout = nullptr;
    uint32_t offset = 0x1234, size = 0x5678;
    vxsysfs_map_region(0xFFFF, &offset, &size);
    EXPECT_EQ(offset, 0x1234u);
    EXPECT_EQ(size, 0x5678u);
    vxsysfs_map_region(0x14, &offset, &size);  // no global layout
    EXPECT_EQ(offset + size, 0u);
    INT_OPT_ROM_LAYOUT layout{};
    layout.NoOfRegions = 3;
    layout.Region[0] = {0xFF, 0x200000, 0, 0x1FFFFF};
    layout.Region[1] = {0x00020014, 0x200, 0x120000, 0x1201FF};  // attribute byte set
    layout.Region[2] = {0x14, 0x400, 0x130000, 0x1303FF};         // a later entry of the same code
    vxapi_install_global_layout(&layout, sizeof layout);
    const struct { uint32_t region, offset, size;
    } cases[] = {{0x14, 0x120000, 0x200},
                 {0xFF, 0, 0x200000},
                 {0x15, 0, 0},
                 {0x114, 0, 0} /* a code has 8 bits */,
                 {0, 0, 0}};
    for (const auto& c : cases) {
        offset = 0xAAAA;
        size = 0xBBBB;
        vxsysfs_map_region(c.region, &offset, &size);
        EXPECT_EQ(offset, c.offset) << c.region;
        EXPECT_EQ(size, c.size) << c.region;
    }
    // A full layout without a closing entry: the scan ends with it.
    for (uint32_t i = 0; i < VX_LAYOUT_MAX_REGIONS; ++i)
        layout.Region[i] = {0x01, 0x10, 0x10 * i, 0x10 * i + 0xF};
    vxapi_install_global_layout(&layout, sizeof layout);
    vxsysfs_map_region(0x02, &offset, &size);
    EXPECT_EQ(size, 0u);
}

// ---------------------------------------------------------------- fixed layouts

TEST(FixedLayout, EveryChipGroupGetsItsTableAndItsMinimumSize) {
    const struct {
        const char* name;
        uint16_t device, ssvendor, ssdevice;
        const INT_OPT_ROM_REGION* table;
        uint32_t regions, minimum, flash_size;
    } cases[] = {
        {"2532", 0x2532, 0, 0, Layout25XX, 18, 304, 0x200000},
        {"2533", 0x2533, VX_PCI_SUBVENDOR_OEM, 0x12C2, Layout25XX, 18, 304, 0x200000},
        {"2422", 0x2422, 0, 0, Layout2422, 7, 128, 0x100000},
        {"8432", 0x8432, 0, 0, Layout2422, 7, 128, 0x100000},
        {"6322", 0x6322, 0, 0, Layout6322, 2, 48, 0x100000},
        {"6312", 0x6312, 0, 0, Layout6312, 2, 48, 0x20000},
        {"2322", 0x2322, 0, 0, Layout2322, 2, 48, 0x100000},
        {"2322 on a Kt board", 0x2322, VX_PCI_SUBVENDOR_OEM, 0x12C2, Layout2322, 2, 48, 0x100000},
        {"Kt 12BA", 0x2312, VX_PCI_SUBVENDOR_OEM, 0x12BA, LayoutKt, 2, 48, 0x20000},
        {"Kt 12C2", 0x2312, VX_PCI_SUBVENDOR_OEM, 0x12C2, LayoutKt, 2, 48, 0x20000},
        {"Kt 12C7", 0x2300, VX_PCI_SUBVENDOR_OEM, 0x12C7, LayoutKt, 2, 48, 0x20000},
        {"Kt 12C9", 0x2312, VX_PCI_SUBVENDOR_OEM, 0x12C9, LayoutKt, 2, 48, 0x20000},
        {"Kt by the maker", 0x2312, VX_PCI_VENDOR_MAKER, 0x0131, LayoutKt, 2, 48, 0x20000},
        {"maker, other board", 0x2312, VX_PCI_VENDOR_MAKER, 0x12C2, Layout2312, 2, 48, 0x20000},
        {"OEM, other board", 0x2312, VX_PCI_SUBVENDOR_OEM, 0x0131, Layout2312, 2, 48, 0x20000},
        {"any other", 0x2312, 0, 0, Layout2312, 2, 48, 0x20000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig(c.device);
        rig.phy.ssvendor_id = c.ssvendor;
        rig.phy.ssdevice_id = c.ssdevice;
        rig.rec.features |= VX_FEAT_SYSFS;  // every sysfs port takes its fixed layout
        // One byte short: status 16, nothing copied, no global layout.
        Bytes buf(VX_LAYOUT_BYTES, 0xEE);
        uint32_t status = 0;
        EXPECT_EQ(vxsysfs_get_optrom_layout(rig.fd, &rig.rec, buf.data(), c.minimum - 1, &status), 0);
        EXPECT_EQ(status, EXT_STATUS_BUFFER_TOO_SMALL);
        EXPECT_TRUE(sim::all_bytes(buf, 0, 0xEE));
        EXPECT_EQ(pGlobalOptRomLayout, nullptr);
        // The minimum: the head and the entries, nothing behind them.
        status = 99;
        EXPECT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, buf.data(), c.minimum, &status), 0);
        EXPECT_EQ(status, 0u);
        INT_OPT_ROM_LAYOUT got;
        std::memcpy(&got, buf.data(), sizeof got);
        EXPECT_EQ(got.Size, c.flash_size);
        EXPECT_EQ(got.NoOfRegions, c.regions);
        EXPECT_EQ(std::memcmp(got.Region, c.table, 16 * c.regions), 0);
        EXPECT_EQ(got.Region[0].Region, 0xFFu);
        EXPECT_TRUE(sim::all_bytes(buf, 8 + 16 * c.regions, 0xEE));
        // The same layout is the global one, zero behind it.
        ASSERT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
        EXPECT_EQ(std::memcmp(&gOptRomLayout, buf.data(), 8 + 16 * c.regions), 0);
        EXPECT_TRUE(
            sim::all_bytes(sim::bytes_of(&gOptRomLayout, sizeof gOptRomLayout), 8 + 16 * c.regions, 0));
        EXPECT_TRUE(rig.driver.log().empty());
        pGlobalOptRomLayout = nullptr;
    }
    // Every table closes with a zero entry and its regions lie in the flash.
    const struct { const INT_OPT_ROM_REGION* t; size_t n;
    } tables[] = {{LayoutKt, 3},   {Layout2312, 3}, {Layout2322, 3}, {Layout6312, 3},
                  {Layout6322, 3}, {Layout2422, 8}, {Layout25XX, 19}};
    for (const auto& t : tables) {
        EXPECT_EQ(t.t[t.n - 1].Size, 0u);
        for (size_t i = 0; i + 1 < t.n; ++i) {
            EXPECT_EQ(t.t[i].End - t.t[i].Beg + 1, t.t[i].Size) << i;
            EXPECT_LE(t.t[i].End, t.t[0].End) << i;
        }
    }
}

// Other chips ask the driver for its layout, once even when busy; the caller installs it.
TEST(DriverLayout, OtherChipsAskTheDriverOnceEvenWhenBusy) {
    FlashRig rig(0x8001);
    INT_OPT_ROM_LAYOUT driver_layout{};
    driver_layout.Size = 0x400000;
    driver_layout.NoOfRegions = 1;
    driver_layout.Region[0] = {0x07, 0x40000, 0, 0x3FFFF};
    rig.adapter->driver_layout = sim::bytes_of(&driver_layout, sizeof driver_layout);
    Bytes buf(VX_LAYOUT_BYTES, 0);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, buf.data(), VX_LAYOUT_BYTES, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buf, rig.adapter->driver_layout);
    ASSERT_EQ(rig.driver.log().size(), 1u);
    EXPECT_EQ(rig.driver.log()[0].command, EXT_CC_GET_OPTROM_LAYOUT);
    EXPECT_EQ(rig.driver.log()[0].response_len, VX_LAYOUT_BYTES);
    EXPECT_EQ(pGlobalOptRomLayout, nullptr);
    rig.driver.clear_log();
    rig.driver.inject_busy(1);
    ASSERT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, buf.data(), VX_LAYOUT_BYTES, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_BUSY);
    EXPECT_EQ(rig.driver.log().size(), 1u);
    EXPECT_TRUE(rig.host.sleep_seconds().empty());
}

}  // namespace

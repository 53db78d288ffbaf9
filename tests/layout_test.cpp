// The option ROM layout: building a function's layout from the flash layout
// table (at its default address or through the locator behind the boot code
// chain), the fixed layouts, the driver's layout and the region lookup.
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_layout.h"
#include "core/vx_sddbg.h"
#include "sim_flash.h"
#include "transport/vx_sysfs_flash.h"

namespace {

using sim::Bytes;
using sim::ChipFlashOptions;
using sim::FlashRig;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;

// The layout's entries as the table's 16-byte entries lie in flash.
void expect_entries(const INT_OPT_ROM_LAYOUT* layout, const FlashRig& rig, uint32_t table_address, uint32_t n) {
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->NoOfRegions, n);
    EXPECT_EQ(layout->Size, 0u);
    EXPECT_EQ(std::memcmp(layout->Region, rig.adapter->flash.data() + table_address + 8, 16 * n), 0);
    // Behind the last entry the layout is zero.
    const auto* rest = reinterpret_cast<const uint8_t*>(&layout->Region[n]);
    EXPECT_EQ(Bytes(rest, rest + 16 * (VX_LAYOUT_MAX_REGIONS - n)), Bytes(16 * (VX_LAYOUT_MAX_REGIONS - n), 0));
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
    ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
    const uint32_t n = static_cast<uint32_t>(rig.flash.regions.size());
    expect_entries(rig.phy.pflt_layout, rig, 0x141000, n);
    // The attribute byte comes along at byte 2 of Region.
    EXPECT_EQ(rig.phy.pflt_layout->Region[6].Region, 0x00010000u | 0x1A);
    ASSERT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
    EXPECT_EQ(std::memcmp(&gOptRomLayout, rig.phy.pflt_layout, VX_LAYOUT_BYTES), 0);
    const auto reads = rig.requests(kRead);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].sub_code, 0xFFFF);
    EXPECT_EQ(reads[0].reserved1, 0x141000u);
    EXPECT_EQ(reads[0].response_len, 4096u);

    // A second build replaces the first layout.
    ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
    expect_entries(rig.phy.pflt_layout, rig, 0x141000, n);
}

TEST(FlashLayout, LocatorBehindTheBootCodeFindsATableTheDefaultAddressLacks) {
    struct Case {
        const char* name;
        uint16_t version_at_default;   // 0: the default address erased
        bool corrupt_at_default;
        std::optional<uint16_t> vfim;
    };
    const Case cases[] = {
        {"nothing at the default address", 0, false, std::nullopt},
        {"version 2 at the default address", 2, false, std::nullopt},
        {"bad checksum at the default address", 1, true, std::nullopt},
        {"image layout header before the images", 0, false, uint16_t{0x200}},
        {"image layout header and version 2", 2, false, uint16_t{0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChipFlashOptions options;
        options.table = ChipFlashOptions::Table::Moved;
        options.vfim_length = c.vfim;
        FlashRig rig(0x2532, options);
        if (c.version_at_default != 0) {
            sim::FltOptions stale;
            stale.version = c.version_at_default;
            stale.corrupt_checksum = c.corrupt_at_default;
            sim::place(rig.adapter->flash, 0x141000, sim::build_flt_table({sim::flt_region(0x07, 0x100, 0)}, stale));
        }
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig.phy.pflt_layout, rig, *rig.flash.table_address,
                       static_cast<uint32_t>(rig.flash.regions.size()));
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
    struct Case {
        const char* name;
        std::function<void(ChipFlashOptions&)> options;
        std::function<void(FlashRig&)> damage;
    };
    const auto moved = [](ChipFlashOptions& o) { o.table = ChipFlashOptions::Table::Moved; };
    const Case cases[] = {
        {"bad locator checksum", [&](ChipFlashOptions& o) { moved(o); o.corrupt_locator = true; }, nullptr},
        {"no locator", [&](ChipFlashOptions& o) { moved(o); o.locator = false; }, nullptr},
        {"locator names a bad table",
         [&](ChipFlashOptions& o) {
             moved(o);
             o.table_options.corrupt_checksum = true;
         },
         nullptr},
        {"image length 0 before the last image", moved,
         [](FlashRig& rig) { sim::put_le16(rig.adapter->flash, rig.flash.chain.image_length_field(1), 0); }},
        {"no image marked last", moved,
         [](FlashRig& rig) {
             for (size_t i = 0; i < 3; ++i) rig.adapter->flash[rig.flash.chain.indicator_field(i)] = 0;
         }},
        {"last image reaches past the window", moved,
         [](FlashRig& rig) { sim::put_le16(rig.adapter->flash, rig.flash.chain.image_length_field(2), 0x3FF); }},
        {"no data structure where the header points", moved,
         [](FlashRig& rig) {
             sim::put_le16(rig.adapter->flash, rig.flash.chain.pcir_offset_field(0), 0xFFFF);
         }},
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChipFlashOptions options;
        c.options(options);
        FlashRig rig(0x2532, options);
        if (c.damage) c.damage(rig);
        install_sentinel();
        INT_OPT_ROM_LAYOUT before;
        std::memcpy(&before, &gOptRomLayout, sizeof before);
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(rig.phy.pflt_layout, nullptr);
        EXPECT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
        EXPECT_EQ(std::memcmp(&gOptRomLayout, &before, sizeof before), 0);
    }
}

TEST(FlashLayout, SecondWindowOnlyFor0x8001) {
    ChipFlashOptions options;
    options.table = ChipFlashOptions::Table::Moved;
    {
        SCOPED_TRACE("0x8001, chain in the second window");
        options.chain_in_second_window = true;
        FlashRig rig(0x8001, options);
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig.phy.pflt_layout, rig, *rig.flash.table_address,
                       static_cast<uint32_t>(rig.flash.regions.size()));
        EXPECT_EQ(window_reads(rig), (std::vector<uint32_t>{0, 0x200000}));
    }
    {
        SCOPED_TRACE("0x8001, chain in the first window");
        options.chain_in_second_window = false;
        FlashRig rig(0x8001, options);
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        EXPECT_EQ(window_reads(rig), std::vector<uint32_t>{0});
    }
    {
        SCOPED_TRACE("0x2532 never reads a second window");
        options.chain_in_second_window = true;
        FlashRig rig(0x2532, options);
        // The 2 MiB flash has its chain at 0x200000 nowhere; the first window is blank.
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(window_reads(rig), std::vector<uint32_t>{0});
    }
}

TEST(FlashLayout, WhichChipsLookForTheLocator) {
    struct Case {
        uint16_t device;
        bool reads_window;
    };
    // 0x0101, 0x8021 and 0x8044 read the window but only ever take their
    // table from its default address; other flash-layout chips never walk.
    const Case cases[] = {{0x0101, true}, {0x8021, true}, {0x8044, true}, {0x2031, false}, {0x2261, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        ChipFlashOptions options;
        options.table = ChipFlashOptions::Table::Moved;
        FlashRig rig(c.device, options);
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 1);
        EXPECT_EQ(rig.phy.pflt_layout, nullptr);
        EXPECT_EQ(window_reads(rig).size(), c.reads_window ? 1u : 0u);

        // With the table at its default address they all build.
        rig.rebuild({});
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        expect_entries(rig.phy.pflt_layout, rig, 0x3F1000, static_cast<uint32_t>(rig.flash.regions.size()));
    }
}

TEST(FlashLayout, ChipsWithoutATableGetNoFunctionLayout) {
    for (uint16_t device : {0x2422, 0x2312}) {
        SCOPED_TRACE(device);
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
    struct Case {
        uint16_t length;
        size_t entries_built;
        int result;
        uint32_t regions;
    };
    const Case cases[] = {
        {0x30, 3, 0, 3},
        {0x38, 4, 0, 3},      // half an entry more: only whole entries
        {4080, 255, 0, 255},  // every entry in use
        {4088, 255, 0, 255},  // 8 bytes more than 255 entries: still only 255 kept
        {4090, 255, 1, 0},    // reaches past the 4096 bytes read
        {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<sim::FltRegion> regions;
        for (size_t i = 0; i < c.entries_built; ++i) {
            regions.push_back(sim::flt_region(static_cast<uint8_t>(i + 1), 0x100, static_cast<uint32_t>(0x100 * i)));
        }
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
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(size, 0u);

    INT_OPT_ROM_LAYOUT layout{};
    layout.NoOfRegions = 3;
    layout.Region[0] = {0xFF, 0x200000, 0, 0x1FFFFF};
    layout.Region[1] = {0x00020014, 0x200, 0x120000, 0x1201FF};  // attribute byte set
    layout.Region[2] = {0x14, 0x400, 0x130000, 0x1303FF};         // a later entry of the same code
    vxapi_install_global_layout(&layout, sizeof layout);

    struct Case {
        uint32_t region;
        uint32_t offset, size;
    };
    const Case cases[] = {
        {0x14, 0x120000, 0x200},
        {0xFF, 0, 0x200000},
        {0x15, 0, 0},
        {0x114, 0, 0},  // a code has 8 bits
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.region);
        offset = 0xAAAA;
        size = 0xBBBB;
        vxsysfs_map_region(c.region, &offset, &size);
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(size, c.size);
    }

    // A full layout without a closing entry: the scan ends with it.
    for (uint32_t i = 0; i < VX_LAYOUT_MAX_REGIONS; ++i) layout.Region[i] = {0x01, 0x10, 0x10 * i, 0x10 * i + 0xF};
    vxapi_install_global_layout(&layout, sizeof layout);
    vxsysfs_map_region(0x02, &offset, &size);
    EXPECT_EQ(size, 0u);
}

// ---------------------------------------------------------------- fixed layouts

TEST(FixedLayout, EveryChipGroupGetsItsTableAndItsMinimumSize) {
    struct Case {
        const char* name;
        uint16_t device, ssvendor, ssdevice;
        const INT_OPT_ROM_REGION* table;
        uint32_t regions;
        uint32_t minimum;
        uint32_t flash_size;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
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
        EXPECT_EQ(buf, Bytes(VX_LAYOUT_BYTES, 0xEE));
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
        EXPECT_EQ(Bytes(buf.begin() + 8 + 16 * c.regions, buf.end()),
                  Bytes(VX_LAYOUT_BYTES - 8 - 16 * c.regions, 0xEE));

        // The same layout is the global one, zero behind it.
        ASSERT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
        EXPECT_EQ(std::memcmp(&gOptRomLayout, buf.data(), 8 + 16 * c.regions), 0);
        const auto* rest = reinterpret_cast<const uint8_t*>(&gOptRomLayout.Region[c.regions]);
        EXPECT_EQ(Bytes(rest, rest + 16 * (VX_LAYOUT_MAX_REGIONS - c.regions)),
                  Bytes(16 * (VX_LAYOUT_MAX_REGIONS - c.regions), 0));
        EXPECT_TRUE(rig.driver.log().empty());
        pGlobalOptRomLayout = nullptr;
    }
}

TEST(FixedLayout, TablesCloseWithAZeroEntryAndRegionsLieInTheFlash) {
    struct Table {
        const INT_OPT_ROM_REGION* t;
        size_t n;
    };
    const Table tables[] = {{LayoutKt, 3},   {Layout2312, 3}, {Layout2322, 3}, {Layout6312, 3},
                            {Layout6322, 3}, {Layout2422, 8}, {Layout25XX, 19}};
    for (const Table& t : tables) {
        const INT_OPT_ROM_REGION& whole = t.t[0];
        EXPECT_EQ(whole.Region, 0xFFu);
        EXPECT_EQ(t.t[t.n - 1].Size, 0u);
        for (size_t i = 0; i + 1 < t.n; ++i) {
            EXPECT_EQ(t.t[i].End - t.t[i].Beg + 1, t.t[i].Size) << i;
            EXPECT_LE(t.t[i].End, whole.End) << i;
        }
    }
}

// ---------------------------------------------------------------- the driver's layout

TEST(DriverLayout, OtherChipsAskTheDriverOnceEvenWhenBusy) {
    FlashRig rig(0x8001);
    INT_OPT_ROM_LAYOUT driver_layout{};
    driver_layout.Size = 0x400000;
    driver_layout.NoOfRegions = 1;
    driver_layout.Region[0] = {0x07, 0x40000, 0, 0x3FFFF};
    rig.adapter->driver_layout.assign(reinterpret_cast<const uint8_t*>(&driver_layout),
                                      reinterpret_cast<const uint8_t*>(&driver_layout) + sizeof driver_layout);
    Bytes buf(VX_LAYOUT_BYTES, 0);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, buf.data(), VX_LAYOUT_BYTES, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buf, rig.adapter->driver_layout);
    const auto log = rig.driver.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, EXT_CC_GET_OPTROM_LAYOUT);
    EXPECT_EQ(log[0].response_len, VX_LAYOUT_BYTES);
    EXPECT_EQ(pGlobalOptRomLayout, nullptr);  // the caller installs it

    rig.driver.clear_log();
    rig.driver.inject_busy(1);
    ASSERT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, buf.data(), VX_LAYOUT_BYTES, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_BUSY);
    EXPECT_EQ(rig.driver.log().size(), 1u);
    EXPECT_TRUE(rig.host.sleep_seconds().empty());
}

}  // namespace

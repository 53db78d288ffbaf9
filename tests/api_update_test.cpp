// Option ROM updates through the public functions: a half-written flash is never success, the board's settings and
// VPD survive an update, two processes never flash one adapter, the region checks and paths. (The roads below are
// the flash workers' tests; the public functions on a sysfs port are in the sysfs flash tests.)
#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "api_rig.h"
#include "core/vx_vpd_fields.h"
#include "fw24xx_builder.h"
#include "sim_diag_driver.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::RigPort;
using apitest::TokenRig;
using Bytes = std::vector<uint8_t>;

// Faults of a flash write: stores part of the data and fails, busy three times; the activation of this port or
// of its sibling fails.
enum class Fault { Torn, Busy, Own, Sibling };

// An adapter of two functions; a 0x2031 flash holds boot code 0x07, firmware 0x01 marked for activation, the VPD
// regions (0x14 renamed when `vpd_14` is false), NVRAM, a read-only region 0x13 and a plain region 0x40.
struct UpdateRig : ApiRig {
    explicit UpdateRig(uint16_t device = 0x2031, bool vpd_14 = true)
        : options(sim::vpd_flash_options(device)), a(add_adapter(device, edit(options, device, vpd_14))),
          b(add_function(a)) {}
    static const sim::ChipFlashOptions& edit(sim::ChipFlashOptions& o, uint16_t device, bool vpd_14) {
        if (device != 0x2031) return o;
        for (sim::FltRegion& r : *o.regions) {
            if (r.code == 0x01) r.attribute = 0x06;
            if (r.code == 0x14 && !vpd_14) r.code = 0x5E;
        }
        o.regions->push_back(sim::flt_region(0x13, 0x1000, 0x3A0000, 0x01));  // read only: bit 16
        o.regions->push_back(sim::flt_region(0x40, 0x10000, 0x3B0000));
        return o;
    }
    SD_UINT32 update(bool ex2, uint16_t disable, Bytes& image, uint32_t size, uint32_t region) {
        return ex2 ? SDUpdateOptionRomEx2(a.handle, disable, image.data(), size, region)
                   : SDUpdateOptionRomEx(a.handle, disable, image.data(), size, region);
    }
    void inject(Fault fault) {
        switch (fault) {
        case Fault::Torn: adapter_of(a).torn_write = 0x1000; break;
        case Fault::Busy: adapter_of(a).busy_writes = 3; break;
        case Fault::Own: acts.fail(a.sim->instance, 1); break;
        case Fault::Sibling: acts.fail(b.sim->instance, 1); break;
        }
    }
    bool activated() const { return !acts.taken().empty(); }
    Bytes& flash() { return adapter_of(a).flash; }
    uint32_t start(uint8_t code) const { return apitest::region_of(options, code).start; }
    Bytes region(uint8_t code, size_t n) { return apitest::slice(flash(), start(code), n); }

    sim::ChipFlashOptions options;
    RigPort& a;
    RigPort& b;
};

// A whole image over a flash whose BIOS images carry the board's subsystem vendor ID and defaults block: every BIOS
// image of the new chain carries both, with a valid checksum, and the VPD of the image is carried.
TEST(ApiUpdate, BoardSettingsSurviveAWholeImageUpdate) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2312);
    sim::SimAdapter& ad = rig.adapter_of(p);
    ad.driver_regions[0] = {0, 0x20000};
    INT_OPT_ROM_LAYOUT layout{0x20000, 1, {{0xFF, 0x20000, 0, 0x1FFFF}}};
    ad.driver_layout = sim::bytes_of(&layout, sizeof layout);
    const sim::Bytes old_vpd = sim::typical_vpd("BOARD-SN-1").bytes;
    sim::place(ad.flash, 0, sim::build_rom_chain({sim::settings_bios_image(0x1234, 0xA1),
                                                   sim::vpd_image(VX_PCI_VENDOR_MAKER, old_vpd, 2)}).bytes);
    const sim::RomChain fresh = sim::build_rom_chain(
        {sim::settings_bios_image(0x5678, 0xB2), sim::fcode_image(2, 1), sim::settings_bios_image(0x5678, 0xB2),
         sim::vpd_image(VX_PCI_VENDOR_MAKER, sim::typical_vpd("NEW-SN").bytes, 2)});
    Bytes image(0x20000, 0xFF);
    sim::place(image, 0, fresh.bytes);

    ASSERT_EQ(SDUpdateOptionRom(p.handle, 0, image.data(), 0x20000), 0u);
    ASSERT_EQ(apitest::slice(ad.flash, 0, 0x20000), image);
    for (size_t i : {0u, 2u}) {
        const size_t at = fresh.offsets[i];
        EXPECT_EQ(sim::get_le16(image, at + 32), 0x1234);
        const auto marker = std::search(image.begin() + at, image.end(), std::begin("MEISP "), std::end("MEISP ") - 1);
        // The older chips' defaults block is 256 bytes long.
        EXPECT_TRUE(std::all_of(marker + 6, marker + 2 + 256, [](uint8_t x) { return x == 0xA1; }));
        EXPECT_EQ(marker[2 + 256], 0xB2);
        uint8_t sum = 0;
        for (size_t k = 0; k < 4 * 512u; ++k) sum = static_cast<uint8_t>(sum + (k == 4 * 512u - 2 ? 0 : image[at + k]));
        EXPECT_EQ(sum, 0) << i;
    }
    uint8_t serial[32] = {};
    ASSERT_EQ(vxapi_get_field_from_vpd(image.data() + fresh.pcir(3) + 0x18, 512,
                                       reinterpret_cast<const uint8_t*>("SN"), 2, serial, sizeof serial), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(serial), "BOARD-SN-1");
}

// On a VPD chip both ports' VPD get the new version keywords and are otherwise the board's; a VPD that cannot be
// read stays as it was.
TEST(ApiUpdate, VpdSurvivesWithNewVersions) {
    for (bool readable : {true, false}) {
        UpdateRig rig(0x2031, readable);
        const sim::Bytes vpd = sim::typical_vpd("BOARD-SN-2").bytes;
        sim::place(rig.flash(), rig.start(readable ? 0x14 : 0x16), vpd);
        Bytes image(0x40000, 0xFF), want = vpd;
        sim::place(image, 0, sim::build_rom_chain({sim::bios_image(7, 12), sim::efi_image(3, 4)}).bytes);
        EXPECT_EQ(rig.update(false, 0, image, 0x40000, 0x07) != 0, !readable);
        if (readable) { ASSERT_EQ(vxapi_update_nv_vpd_version(image.data(), 0x40000, want.data(), 512, 0x07), 0); }
        EXPECT_EQ(std::pair(want != vpd, rig.region(0x16, 512)), std::pair(readable, want));
        if (readable) { EXPECT_EQ(rig.region(0x14, 512), want); }
    }
}

TEST(ApiUpdate, RegionChecksPathsAndActivation) {
    struct Row { uint16_t device; bool ex2; uint16_t disable; uint32_t region, size; SD_UINT32 status;
                 size_t writes; std::vector<uint16_t> sub_codes; };
    const Row rows[] = {
        {0x2031, false, 0, 0x13, 0x1000, SDERR_NOT_SUPPORTED, 0, {}},      // read only
        {0x2031, false, 0, 0x40, 0x10000, 0, 1, {}},                       // plain, exactly the region
        {0x2031, false, 0, 0x40, 0x10001, SDERR_REGION_TOO_SMALL, 0, {}},
        {0x2031, false, 0, 0x14, 0x100, SDERR_INVALID_PARAMETER, 0, {}},   // not a region of the Ex paths
        {0x2031, false, 0, 0x00, 0x10, SDERR_REGION_TOO_SMALL, 0, {}},    // region 0: the empty slot
        {0x2031, false, 0, 0x00, 0, SDERR_REGION_ZERO, 0, {}},
        {0x2031, false, 1, 0x55, 0x10, SDERR_INVALID_PARAMETER, 0, {}},   // missing, not a deferred code
        {0x2031, true, 0, 0x01, 0x80000, 0, 1, {1, 1}},                   // activated on both functions
        {0x2031, true, 1, 0x01, 0x80000, 0, 1, {4, 4}},                   // deferred: versions refreshed
        {0x2031, false, 0, 0x01, 0x80000, SDERR_VPD_UPDATE, 1, {}},       // no activation; the VPD is no VPD
        {0x0101, false, 0, 0x40, 0x100, SDERR_NOT_SUPPORTED, 0, {}},
        {0x2071, true, 0, 0x01, 0x100, SDERR_FUT_NOT_SET, 0, {}},         // no token of this process
        {0x2071, true, 0, 0x14, 0x100, 0, 1, {}},                         // needs none
    };
    for (const Row& r : rows) {
        UpdateRig rig(r.device);
        Bytes image(std::max<uint32_t>(r.size, 1), 0x3D);
        EXPECT_EQ(rig.update(r.ex2, r.disable, image, r.size, r.region), r.status) << std::hex << r.device;
        EXPECT_EQ(rig.adapter_of(rig.a).flash_writes.size(), r.writes) << std::hex << r.region;
        std::vector<uint16_t> subs;
        for (const auto& [instance, sub_code] : rig.taken()) subs.push_back(sub_code);
        EXPECT_EQ(subs, r.sub_codes) << std::hex << r.region;
    }
}

// The 25xx boot code is written twice: 512 KiB whose upper half repeats the image (0xFF past a short image).
TEST(ApiUpdate, DoubledBootCodeOf25xx) {
    for (uint32_t size : {0x40000u, 0x20000u}) {
        ApiRig rig;
        RigPort& p = rig.add_adapter(0x2532);
        rig.adapter_of(p).vpd = sim::typical_vpd().bytes;
        Bytes image(size, 0x4E), want(0x80000, 0xFF);
        std::fill_n(want.begin(), size, 0x4E), std::fill_n(want.begin() + 0x40000, size, 0x4E);
        ASSERT_EQ(SDUpdateOptionRomEx(p.handle, 1, image.data(), size, 0x07), 0u);
        EXPECT_EQ(apitest::slice(rig.adapter_of(p).flash, 0, 0x80000), want);
    }
}

// While A holds the adapter's token, B's start and every write of B are refused and nothing of B reaches the flash;
// A's writes land; after A's end B starts.
TEST(ApiUpdate, TwoProcessesNeverFlashOneAdapter) {
    TokenRig rig;
    RigPort& p = rig.add_adapter(0x2071, sim::vpd_flash_options(0x2071));
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(p.handle, 0, &token), 0u);
    shtest::Child b([&](shtest::Child& self) {
        Bytes image(0x200, 0x77);
        SD_INT32 mine = 0;
        self.reply(static_cast<int>(SDStartFlashUpdate(p.handle, 0, &mine)));
        self.reply(static_cast<int>(SDUpdateOptionRomEx2(p.handle, 0, image.data(), 0x200, 0x01)));
        self.reply(static_cast<int>(SDUpdateOptionRomEx(p.handle, 0, image.data(), 0x200, 0x07)));
        self.reply(static_cast<int>(SDUpdateOptionRomOffset(p.handle, 0, image.data(), 0x200, 0x1000)));
        self.reply(static_cast<int>(SDUpdateNVRam(p.handle, 1, 0, image.data(), 0x200)));
        self.reply(static_cast<int>(rig.adapter_of(p).flash_writes.size()));
        self.command();  // A has ended its update
        self.reply(static_cast<int>(SDStartFlashUpdate(p.handle, 0, &mine)));
        self.command();
        return 0;
    });
    for (SD_UINT32 want : {SDERR_FUT_EXISTS, SDERR_FUT_NOT_SET, SDERR_FUT_NOT_SET, SDERR_FUT_NOT_SET, SDERR_FUT_NOT_SET}) {
        EXPECT_EQ(static_cast<SD_UINT32>(b.receive()), want);
    }
    EXPECT_EQ(b.receive(), 0) << "B wrote nothing";
    Bytes image(0x200, 0x55);
    EXPECT_EQ(SDUpdateOptionRomEx2(p.handle, 1, image.data(), 0x200, 0x01), 0u);
    EXPECT_EQ(rig.adapter_of(p).flash_writes.size(), 1u);
    ASSERT_EQ(SDEndFlashUpdate(p.handle, 0, token), 0u);
    b.send(1);
    EXPECT_EQ(b.receive(), 0) << "B starts after A's end";
    EXPECT_EQ(SDUpdateOptionRomEx2(p.handle, 1, image.data(), 0x200, 0x01), SDERR_FUT_NOT_SET);
    b.send(1);
    EXPECT_EQ(b.wait(), 0);
}

// A write that fails part-way, a driver busy three times (two 20 s waits), a failed own or sibling activation after
// a good write: never success. A failed write is neither activated nor followed by the VPD step.
TEST(ApiUpdate, HalfWrittenFlashIsNeverSuccess) {
    struct Row { Fault fault; uint32_t region; bool ex2; SD_UINT32 status; };
    const Row rows[] = {{Fault::Torn, 0x01, true, 0x20000075}, {Fault::Busy, 0x01, true, SDERR_DEVICE_BUSY},
                        {Fault::Own, 0x01, true, SDERR_SIBLING_FAILED},
                        {Fault::Sibling, 0x01, true, SDERR_SIBLING_FAILED}, {Fault::Torn, 0x07, false, 0x20000075}};
    for (const Row& r : rows) {
        UpdateRig rig;
        sim::place(rig.flash(), rig.start(0x14), sim::typical_vpd().bytes);
        const Bytes vpd_before = rig.region(0x14, 0x200);
        Bytes image(r.region == 0x01 ? 0x80000 : 0x40000, 0x6B);
        rig.inject(r.fault);
        rig.host.clear_sleeps();
        const auto size = static_cast<uint32_t>(image.size());
        EXPECT_EQ(rig.update(r.ex2, 0, image, size, r.region), r.status) << static_cast<int>(r.fault);
        std::vector<unsigned> waits = rig.host.sleep_seconds();
        std::erase_if(waits, [](unsigned s) { return s != 20; });  // the event thread's ticks aside
        EXPECT_EQ(waits.size(), r.fault == Fault::Busy ? 2u : 0u);
        if (r.fault == Fault::Torn || r.fault == Fault::Busy) {
            EXPECT_FALSE(rig.activated());
            EXPECT_EQ(rig.region(0x14, 0x200), vpd_before);
        }
    }
}

// A FRU board's firmware update sends the image's versions to the FRU and pulses its status register.
TEST(ApiUpdate, FruVersionsOfAFirmwareUpdate) {
    sim::Fw24xx fw;
    fw.major = 8;
    Bytes image(0x80000, 0xFF);
    sim::place(image, 0, sim::build_24xx_fw(fw));
    UpdateRig rig;
    sim::SimDiag diag;
    diag.attach(rig.driver);
    vxapi_phy_info& phy = *rig.a.rec->phy_info;
    std::tie(phy.ssvendor_id, phy.ssdevice_id) = std::tuple(VX_PCI_VENDOR_MAKER, 0x0175);
    sim::place(rig.flash(), rig.start(0x14), sim::typical_vpd().bytes);
    ASSERT_EQ(rig.update(false, 0, image, 0x80000, 0x01), 0u);
    std::string sent;
    for (const sim::SimLogEntry& e : rig.requests(EXT_CC_FRU)) sent += std::to_string(e.sub_code) + " ";
    EXPECT_EQ(sent, "1 2 3 3 ");
}

}  // namespace

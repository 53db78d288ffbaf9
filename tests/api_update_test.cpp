// Option ROM updates through the public functions on ioctl and sysfs ports: a half-written flash is never success,
// the board's settings and VPD survive an update, two processes never flash one adapter, the region checks and paths.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "api_rig.h"
#include "base/vx_driver_records.h"
#include "base/vx_vpd_fields.h"
#include "fw24xx_builder.h"
#include "sim_diag.h"
#include "sim_diag_driver.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_bsg.h"
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

// A 0x2312 adapter whose driver reports a 128 KiB option ROM of one region.
RigPort& add_2312(ApiRig& rig) {
    RigPort& p = rig.add_adapter(0x2312);
    sim::SimAdapter& ad = rig.adapter_of(p);
    ad.driver_regions[0] = {0, 0x20000};
    INT_OPT_ROM_LAYOUT layout{0x20000, 1, {{0xFF, 0x20000, 0, 0x1FFFF}}};
    ad.driver_layout = sim::bytes_of(&layout, sizeof layout);
    return p;
}

// A whole image over a flash whose BIOS images carry the board's subsystem vendor ID and defaults block: every BIOS
// image of the new chain carries both, with a valid checksum, and the VPD of the image is carried.
TEST(ApiUpdate, BoardSettingsSurviveAWholeImageUpdate) {
    ApiRig rig;
    RigPort& p = add_2312(rig);
    sim::SimAdapter& ad = rig.adapter_of(p);
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

// The oldest chips keep their VPD inside the image: it goes into the new image, or nothing is written. A new image
// without a place for it, or a VPD that cannot be carried whole, would cost the board its VPD.
TEST(ApiUpdate, VpdInsideTheImageIsCarriedOrNothingIsWritten) {
    const auto chain = [](const std::vector<sim::RomImage>& images) { return sim::build_rom_chain(images).bytes; };
    const sim::Bytes vpd = sim::typical_vpd("BOARD-SN-4").bytes;
    sim::Bytes overlong = vpd;
    sim::put_le16(overlong, 1, 0x400);  // the identifier string runs past the VPD area
    const sim::Bytes with_vpd = chain({sim::bios_image(2, 0), sim::vpd_image(VX_PCI_VENDOR_MAKER, vpd, 2)});
    const sim::Bytes no_place = chain({sim::bios_image(3, 1), sim::fcode_image(3, 1)});
    struct Case {
        const char* what;
        sim::Bytes current, fresh;
        SD_UINT32 status;
    };
    const Case cases[] = {
        {"a lone BIOS image takes it in its last 512 bytes", with_vpd, sim::build_bios_only_rom(3, 1, {}),
         SDERR_NO_ERROR},
        {"no place in the new chain", with_vpd, no_place, SDERR_VPD_UPDATE},
        {"a VPD that runs past its area",
         chain({sim::bios_image(2, 0), sim::vpd_image(VX_PCI_VENDOR_MAKER, overlong, 2)}), with_vpd,
         SDERR_VPD_UPDATE},
        {"no VPD in the flash, nothing to carry", chain({sim::bios_image(2, 0), sim::fcode_image(2, 0)}), no_place,
         SDERR_NO_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApiRig rig;
        RigPort& p = add_2312(rig);
        sim::SimAdapter& ad = rig.adapter_of(p);
        sim::place(ad.flash, 0, c.current);
        const Bytes before = apitest::slice(ad.flash, 0, 0x20000);
        Bytes image(0x20000, 0xFF);
        sim::place(image, 0, c.fresh);

        EXPECT_EQ(SDUpdateOptionRom(p.handle, 0, image.data(), 0x20000), c.status);
        EXPECT_EQ(apitest::slice(ad.flash, 0, 0x20000), c.status == SDERR_NO_ERROR ? image : before);
        if (&c != &cases[0]) continue;
        uint8_t serial[32] = {};
        ASSERT_EQ(vxapi_get_field_from_vpd(ad.flash.data() + 0x1FE00, 512, reinterpret_cast<const uint8_t*>("SN"), 2,
                                           serial, sizeof serial),
                  0);
        EXPECT_STREQ(reinterpret_cast<char*>(serial), "BOARD-SN-4");
    }
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

// While A runs, B cannot end A's token: the answer for a token never issued, and A writes and ends as before. A
// holder C that exits without ending leaves its token standing, and then any process ends it.
TEST(ApiUpdate, OnlyTheHolderEndsItsTokenWhileItRuns) {
    TokenRig rig;
    RigPort& p = rig.add_adapter(0x2071, sim::vpd_flash_options(0x2071));
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(p.handle, 0, &token), 0u);
    shtest::Child b([&](shtest::Child& self) {
        SD_INT32 mine = 0;
        self.reply(static_cast<int>(SDEndFlashUpdate(p.handle, 0, token)));
        self.reply(static_cast<int>(SDStartFlashUpdate(p.handle, 0, &mine)));
        return 0;
    });
    EXPECT_EQ(static_cast<SD_UINT32>(b.receive()), SDERR_UNKNOWN);
    EXPECT_EQ(static_cast<SD_UINT32>(b.receive()), SDERR_FUT_EXISTS) << "A's token stands";
    EXPECT_EQ(b.wait(), 0);
    Bytes image(0x200, 0x55);
    EXPECT_EQ(SDUpdateOptionRomEx2(p.handle, 1, image.data(), 0x200, 0x01), 0u);
    EXPECT_EQ(SDEndFlashUpdate(p.handle, 0, token), 0u);

    shtest::Child c([&](shtest::Child& self) {
        SD_INT32 mine = 0;
        self.reply(static_cast<int>(SDStartFlashUpdate(p.handle, 0, &mine)));
        self.reply(mine);
        return 0;
    });
    EXPECT_EQ(c.receive(), 0);
    const SD_INT32 left = c.receive();
    EXPECT_EQ(c.wait(), 0);  // waited for: C no longer runs
    EXPECT_EQ(SDStartFlashUpdate(p.handle, 0, &token), SDERR_FUT_EXISTS);
    EXPECT_EQ(SDEndFlashUpdate(p.handle, 0, left), 0u);
    EXPECT_EQ(SDStartFlashUpdate(p.handle, 0, &token), 0u);
}

// A sysfs adapter, its functions on hosts 5, 6, ... opened through the public functions, a "reset" file each. A
// layout chip's flash holds region 0x01 to be activated, image status regions 0x95 and 0x96 and the board's VPD in
// 0x14 and 0x16 (the "vpd" files too). The bsg node carries diagnostic commands only: flash moves through files.
struct BsgSide {  // outlives the host it attaches to
    sim::SimBsg bsg;
    sim::SimDiagBsg diag;
};
struct SysfsUpdateRig : BsgSide, sysfstest::SysfsRig {
    explicit SysfsUpdateRig(uint16_t device = 0x2031, unsigned functions = 2)
        : SysfsRig(device), vpd(sim::typical_vpd("BOARD-SN-3").bytes) {
        sim::SysfsAdapter& ad = setup.adapters[0];
        ad.functions.clear();
        for (unsigned f = 0; f < functions; ++f) ad.functions.push_back(sim::SysfsFunction{5 + f, {}});
        std::tie(ad.ssvendor_id, ad.vpd) = std::tuple(VX_PCI_VENDOR_MAKER, vpd);
        if (vx_chip_has(device, VX_CHIP_FLASH_LAYOUT_TABLE)) {
            options = sim::vpd_flash_options(device);
            options.regions->push_back(sim::flt_region(0x95, 0x1000, 0x3B0000));
            options.regions->push_back(sim::flt_region(0x96, 0x1000, 0x3B1000));
            for (sim::FltRegion& r : *options.regions) r.attribute = r.code == 0x01 ? 0x06 : r.attribute;
            sim::SimAdapter chip;
            chip.device_id = device;
            sim::build_chip_flash(chip, options);
            ad.flash = chip.flash;
            for (uint8_t code : {0x14, 0x16}) sim::place(ad.flash, start(code), vpd);
        }
        fabric = sim::install_sysfs_adapters(host, setup);
        bsg.attach(host, fabric);
        diag.serve(bsg);
        for (unsigned f = 0; f < functions; ++f) {
            host.set_attr(dir(f) + "/reset", {{}, [](size_t, const std::string&) { return 0; }}, 0200);
            EXPECT_EQ(SDOpenDevice(f, &h[f]), 0u);
        }
    }
    ~SysfsUpdateRig() {
        for (int handle : h) SDCloseDevice(handle);
    }
    SD_UINT32 update(bool ex2, uint16_t disable, Bytes& image, uint32_t size, uint32_t region) {
        return ex2 ? SDUpdateOptionRomEx2(h[0], disable, image.data(), size, region)
                   : SDUpdateOptionRomEx(h[0], disable, image.data(), size, region);
    }
    void inject(Fault fault) {
        switch (fault) {
        case Fault::Torn: host.fail_attr_writes(dir(0) + "/optrom", EIO); break;
        case Fault::Busy: fabric.windows.at(5)->errnos['2'] = {EBUSY, EBUSY, EBUSY}; break;
        case Fault::Own: host.fail_attr_writes(dir(0) + "/reset", EIO); break;
        case Fault::Sibling: host.fail_attr_writes(dir(1) + "/reset", EIO); break;
        }
    }
    // The codes written to the "reset" files since the last look, as "<host>:<code> ...".
    std::string resets() {
        std::string out;
        const std::vector<std::string> writes = host.attr_writes();
        for (; seen < writes.size(); ++seen) {
            const std::string& w = writes[seen];
            const size_t at = w.find("/reset=");
            if (at != std::string::npos) out += w.substr(w.rfind("host", at) + 4, 1) + ":" + w.substr(at + 7, 6) + " ";
        }
        return out;
    }
    bool activated() { return !resets().empty(); }
    std::string dir(unsigned f) { return fabric.host_dirs.at(5 + f); }
    Bytes& flash() { return *fabric.windows.at(5)->flash; }
    uint32_t start(uint8_t code) const { return apitest::region_of(options, code).start; }
    Bytes region(uint8_t code, size_t n) { return apitest::slice(flash(), start(code), n); }
    Bytes vpd_file(unsigned f) { return Bytes(fabric.vpd.at(5 + f)->begin(), fabric.vpd.at(5 + f)->end()); }

    sim::ChipFlashOptions options;
    Bytes vpd;
    int h[4] = {};
    size_t seen = 0;
};

// A write that fails part-way, a driver busy three times (two 20 s waits), a failed own or sibling activation after
// a good write: never success. A failed write is neither activated nor followed by the VPD step.
template <class Rig>
void half_written_flash_is_never_success() {
    struct Row { Fault fault; uint32_t region; bool ex2; SD_UINT32 status; };
    const Row rows[] = {{Fault::Torn, 0x01, true, 0x20000075}, {Fault::Busy, 0x01, true, SDERR_DEVICE_BUSY},
                        {Fault::Own, 0x01, true, SDERR_SIBLING_FAILED},
                        {Fault::Sibling, 0x01, true, SDERR_SIBLING_FAILED}, {Fault::Torn, 0x07, false, 0x20000075}};
    for (const Row& r : rows) {
        Rig rig;
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

TEST(ApiUpdate, HalfWrittenFlashIsNeverSuccess) {
    half_written_flash_is_never_success<UpdateRig>();
    half_written_flash_is_never_success<SysfsUpdateRig>();
}

// The update path on a sysfs port: a whole image, a region with its activation, NVRAM, the token and online
// activation.
TEST(ApiUpdate, ScenariosOnASysfsPort) {
    const struct { const char* what; uint16_t device; unsigned functions; std::function<void(SysfsUpdateRig&)> run; }
        rows[] = {
        {"whole option ROM image: the board's settings carried, both functions' VPD files get the new versions",
         0x2432, 2, [](SysfsUpdateRig& r) {
             sim::place(r.flash(), 0, sim::build_rom_chain({sim::settings_bios_image(0x1234, 0xA1)}).bytes);
             Bytes image(0x20000, 0xFF), want = r.vpd;
             sim::place(image, 0, sim::build_rom_chain({sim::settings_bios_image(0x5678, 0xB2)}).bytes);
             ASSERT_EQ(SDUpdateOptionRom(r.h[0], 0, image.data(), 0x20000), 0u);
             EXPECT_EQ(apitest::slice(r.flash(), 0, 0x20000), image);
             EXPECT_EQ(sim::get_le16(image, 32), 0x1234);
             ASSERT_EQ(vxapi_update_nv_vpd_version(image.data(), 0x20000, want.data(), 512, 0), 0);
             EXPECT_EQ(std::pair(r.vpd_file(0), r.vpd_file(1)), std::pair(want, want));
         }},
        {"firmware region: activated on both functions; deferred: the driver refreshes its versions", 0x2031, 2,
         [](SysfsUpdateRig& r) {
             Bytes image(0x80000, 0x6B);
             ASSERT_EQ(r.update(true, 0, image, 0x80000, 0x01), 0u);
             EXPECT_EQ(r.region(0x01, 0x80000), image);
             EXPECT_EQ(r.resets(), "5:131676 6:131676 ");
             ASSERT_EQ(r.update(true, 1, image, 0x80000, 0x01), 0u);
             EXPECT_EQ(r.resets(), "5:131681 6:131681 ");
         }},
        {"NVRAM of the second function: region 0x17 read, written and activated on that function", 0x2031, 2,
         [](SysfsUpdateRig& r) {
             Bytes image(512, 0xEE);
             ASSERT_EQ(SDGetNVRam(r.h[1], 0, 2, image.data(), 256), 0u);  // the region's head only
             EXPECT_EQ(apitest::slice(image, 0, 256), r.region(0x17, 256));
             EXPECT_TRUE(sim::all_bytes(image, 256, 0xEE));
             ASSERT_EQ(SDGetNVRam(r.h[1], 0, 2, image.data(), 512), 0u);
             EXPECT_EQ(image, r.region(0x17, 512));
             ASSERT_EQ(SDSetVariableValue(r.h[1], image.data(), NVRAMVarExecutionThrottle, 0x1234), 0u);
             EXPECT_EQ(SDGetVariableValue(r.h[1], image.data(), NVRAMVarExecutionThrottle), 0x1234u);
             ASSERT_EQ(SDUpdateNVRam(r.h[1], 0, 2, image.data(), 512), 0u);
             EXPECT_EQ(std::pair(r.region(0x17, 512), r.resets()), std::pair(image, std::string("6:131676 ")));
             EXPECT_EQ(SDVerifyHbaNVRam(r.h[1], 0), 0u);
         }},
        {"flash update token of four functions: the gate, the active set, online activation", 0x2071, 4,
         [](SysfsUpdateRig& r) {
             Bytes image(0x80000, 0x6B);
             SD_INT32 token = 0, other = 0;
             EXPECT_EQ(r.update(true, 0, image, 0x80000, 0x01), SDERR_FUT_NOT_SET);
             ASSERT_EQ(SDStartFlashUpdate(r.h[1], 0, &token), 0u);
             EXPECT_EQ(SDStartFlashUpdate(r.h[0], 0, &other), SDERR_FUT_EXISTS);
             ASSERT_EQ(r.update(true, 0, image, 0x80000, 0x01), 0u);
             EXPECT_EQ(std::pair(r.region(0x01, 0x80000), r.resets()), std::pair(image, std::string()));
             sim::ImageStatusFields second;
             second.gen_num = 2;
             sim::place(r.flash(), r.start(0x95), sim::build_image_status({}));
             sim::place(r.flash(), r.start(0x96), sim::build_image_status(second));
             ASSERT_EQ(SDEndFlashUpdate(r.h[1], 0, token), 0u);
             EXPECT_EQ(r.port(6)->phy_info->active_image, 1);
             ASSERT_EQ(SDOnlineActivateFlashUpdate(r.h[2], 0), 0u);
             EXPECT_EQ(r.resets(), "7:131676 5:131676 8:131676 6:131676 ");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SysfsUpdateRig rig(row.device, row.functions);
        row.run(rig);
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

// The pulse of a firmware update over a FRU status read answered whole, up to its value or with nothing: after a
// read short of its record no write reaches the register, which keeps its 0x13; the update succeeds either way.
TEST(ApiUpdate, FruPulseWritesNothingAfterAShortRead) {
    sim::Fw24xx fw;
    fw.major = 8;
    Bytes image(0x80000, 0xFF);
    sim::place(image, 0, sim::build_24xx_fw(fw));
    const struct { size_t delivered; std::string sent; std::vector<uint8_t> written; } rows[] = {
        {sizeof(vxa_status_reg), "1 2 3 3 ", {0x03, 0x13}}, {6, "1 2 ", {}}, {0, "1 2 ", {}}};
    for (const auto& row : rows) {
        UpdateRig rig;
        sim::SimDiag diag;
        diag.attach(rig.driver);
        std::tie(diag.fru_status, diag.fru_read_bytes) = std::tuple(0x13, row.delivered);
        vxapi_phy_info& phy = *rig.a.rec->phy_info;
        std::tie(phy.ssvendor_id, phy.ssdevice_id) = std::tuple(VX_PCI_VENDOR_MAKER, 0x0175);
        sim::place(rig.flash(), rig.start(0x14), sim::typical_vpd().bytes);
        ASSERT_EQ(rig.update(false, 0, image, 0x80000, 0x01), 0u) << row.delivered;
        std::string sent;
        for (const sim::SimLogEntry& e : rig.requests(EXT_CC_FRU)) sent += std::to_string(e.sub_code) + " ";
        EXPECT_EQ(std::tuple(sent, diag.fru_written, diag.fru_status), std::tuple(row.sent, row.written, 0x13))
            << row.delivered;
    }
}

// Reads over bsg whose record did not arrive. The FRU status pulse after a firmware update of a FRU board reads the
// register (0x13 here) and writes it twice, bit 0x10 cleared and set: a read of which bytes did not arrive (the
// driver's din_resid) writes nothing, and the update still succeeds. The flash update capabilities partly delivered
// (or their status word not written) fail the call with the caller's value untouched.
TEST(ApiUpdate, BsgReadsWhoseRecordDidNotArrive) {
    sim::Fw24xx fw;
    fw.major = 8;
    Bytes image(0x80000, 0xFF);
    sim::place(image, 0, sim::build_24xx_fw(fw));
    // The register read's din_resid; the values written.
    const std::pair<int32_t, Bytes> pulse_rows[] = {{0, {0x03, 0x13}}, {14, {}}, {1, {}}};
    for (const auto& [resid, writes] : pulse_rows) {
        SysfsUpdateRig rig;
        rig.port(5)->phy_info->ssdevice_id = 0x0175;  // a FRU board
        uint8_t reg = 0x13;
        Bytes written;
        rig.bsg.vendor[VX_BSG_FRU_STATUS_READ] = [&reg, resid = resid](sim::BsgJob& job) {
            vxa_status_reg r;
            std::memcpy(&r, job.dout.data(), sizeof r);
            r.status_reg = reg;
            std::memcpy(job.din, &r, sizeof r);
            job.hdr.din_resid = resid;
            return 0;
        };
        rig.bsg.vendor[VX_BSG_FRU_STATUS_WRITE] = [&](sim::BsgJob& job) {
            vxa_status_reg r;
            std::memcpy(&r, job.dout.data(), sizeof r);
            written.push_back(reg = r.status_reg);
            return 0;
        };
        EXPECT_EQ(rig.update(false, 0, image, 0x80000, 0x01), 0u) << resid;
        std::string codes;
        for (const sim::BsgJob& job : rig.bsg.log) {
            if (job.code >= VX_BSG_FRU_VERSIONS) codes += std::to_string(job.code) + " ";  // the flash's aside
        }
        EXPECT_EQ(codes, writes.empty() ? "11 12 " : "11 12 13 13 ") << resid;
        EXPECT_EQ(written, writes) << resid;
    }

    // How the capabilities job's answer is cut (none: whole); the status and the capabilities (the driver answers
    // each byte sent plus one).
    const std::pair<std::deque<sim::BsgShort>, std::pair<SD_UINT32, SD_UINT64>> caps_rows[] = {
        {{}, {0, 0x0101010101010101}},
        {{{UINT32_MAX, 4, true, true}}, {SDERR_DATA_UNDERRUN, 99}},  // 4 of the record's 32 bytes
        {{{UINT32_MAX, 31, true, false}}, {SDERR_DATA_UNDERRUN, 99}},
        {{{UINT32_MAX, 0, false, true}}, {SDERR_DATA_UNDERRUN, 99}},
        {{{11, UINT32_MAX, true, true}}, {SDERR_DATA_UNDERRUN, 99}},  // the driver's status word not written
    };
    for (const auto& [cut, out] : caps_rows) {
        SysfsUpdateRig rig(0x2071, 1);
        rig.bsg.log.clear();
        rig.bsg.shorts = cut;
        SD_UINT64 caps = 99;
        const SD_UINT32 status = SDGetFlashUpdateCapabilities(rig.h[0], 0, &caps);
        EXPECT_EQ(std::pair(status, caps), out) << (cut.empty() ? 32 : cut[0].data_in);
        ASSERT_EQ(rig.bsg.log.size(), 1u);
        EXPECT_EQ(rig.bsg.log[0].code, VX_BSG_GET_FLASH_CAPS);
    }
}

}  // namespace

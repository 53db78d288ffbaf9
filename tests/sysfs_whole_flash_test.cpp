// Flash through the public functions on a sysfs driver without chunked flash
// access, which moves the flash whole: the flash's place and size come from
// the port's own adapter, whatever an earlier call or another adapter left
// in the process-wide layout; an update whose step failed fails; a failed
// bsg update falls back to the window.
#include <gtest/gtest.h>

#include "sim_flash.h"
#include "sim_sysfs_flash.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;

Bytes pattern(size_t n, unsigned seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = sim::flash_pattern(i + seed);
    return b;
}

Bytes slice(const Bytes& b, size_t at, size_t n) { return {b.begin() + at, b.begin() + at + n}; }

// An adapter of the flash-layout chip at the host, its flash with its own
// layout table: the chip's usual regions, none of them the whole flash
// unless `whole` adds it. Its regions go to *regions.
sim::SysfsAdapter table_adapter(uint16_t device, unsigned host, bool whole = false,
                                std::vector<sim::FltRegion>* regions = nullptr) {
    sim::SimAdapter chip;
    chip.device_id = device;
    sim::ChipFlash built = sim::build_chip_flash(chip);
    if (whole) {
        sim::ChipFlashOptions options;
        options.regions = built.regions;
        options.regions->push_back(sim::flt_region(0xFF, built.size, 0));
        built = sim::build_chip_flash(chip, options);
    }
    if (regions != nullptr) *regions = built.regions;
    sim::SysfsAdapter a = sim::sysfs_adapter(device, {host});
    a.flash = chip.flash;
    return a;
}

uint32_t region_start(const std::vector<sim::FltRegion>& regions, uint8_t code) {
    for (const sim::FltRegion& r : regions) {
        if (r.code == code) return r.start;
    }
    ADD_FAILURE() << "no region " << unsigned{code};
    return 0;
}

// Adapters (one host each) on a driver with or without chunked flash
// access, with or without bsg, their flash served. Each open of the first
// port loads the library and runs the discovery. The process-wide layout
// outlives a load, as in a process: the rig starts and ends without one.
struct WholeFlashRig {
    WholeFlashRig(std::vector<sim::SysfsAdapter> adapters, bool chunking, bool with_bsg) {
        vxapi_clear_global_layout();
        rig.setup.adapters = std::move(adapters);
        rig.setup.chunking = chunking;
        rig.setup.with_bsg = with_bsg;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        sim::serve_flash(rig.host, bsg, rig.fabric);
    }
    ~WholeFlashRig() { vxapi_clear_global_layout(); }
    WholeFlashRig(const WholeFlashRig&) = delete;
    WholeFlashRig& operator=(const WholeFlashRig&) = delete;

    int open(unsigned instance) {
        int h = -1;
        EXPECT_EQ(SDOpenDevice(instance, &h), 0u);
        return h;
    }
    sim::FlashWindow& window(unsigned host_no) { return *rig.fabric.windows.at(host_no); }

    sim::SimBsg bsg;  // outlives the host it serves
    sysfstest::SysfsRig rig;
};

// The raw calls of a 0x2532 port read and write without any layout query
// first, and go on doing so after a second adapter without a layout of its
// own (0x2071 without a table) was refused its layout (on the whole-flash
// driver as a flash out of reach), which leaves no process-wide layout. That
// adapter's own raw read on the driver that moves the flash whole is refused
// before anything reaches its window; on a chunking driver it needs no
// layout.
TEST(WholeFlash, RawCallsNeedNoLayoutQueryNorAnotherAdaptersLayout) {
    for (const bool chunking : {false, true}) {
        SCOPED_TRACE(chunking ? "chunking driver" : "whole-flash driver");
        WholeFlashRig r({table_adapter(0x2532, 5), sim::sysfs_adapter(0x2071, {6})}, chunking, false);
        const int first = r.open(0);
        const int second = r.open(1);
        Bytes& flash = *r.window(5).flash;
        Bytes want = flash;
        const auto raw_round = [&](uint32_t at, unsigned seed) {
            Bytes buf(0x100, 0xEE);
            EXPECT_EQ(SDGetOptionRomOffset(first, 0, buf.data(), 0x100, 0x1234), 0u);
            EXPECT_EQ(buf, slice(want, 0x1234, 0x100));
            Bytes data = pattern(4, seed);
            std::copy(data.begin(), data.end(), want.begin() + at);
            EXPECT_EQ(SDUpdateOptionRomOffset(first, 0, data.data(), 4, at), 0u);
            EXPECT_TRUE(flash == want);
        };
        raw_round(0x10005, 7);

        EXPECT_EQ(SDGetOptionRomLayout(second, 0, nullptr), chunking ? SDERR_UNKNOWN : SDERR_NOT_SUPPORTED);
        EXPECT_EQ(pGlobalOptRomLayout, nullptr);
        raw_round(0x30007, 9);

        r.window(6).controls.clear();
        Bytes buf(0x100, 0xEE);
        EXPECT_EQ(SDGetOptionRomOffset(second, 0, buf.data(), 0x100, 0),
                  chunking ? SDERR_NO_ERROR : SDERR_NOT_SUPPORTED);
        EXPECT_EQ(r.window(6).controls.empty(), !chunking);
        EXPECT_EQ(SDCloseDevice(second), 0u);
        EXPECT_EQ(SDCloseDevice(first), 0u);
    }
}

// Load, open, layout, raw update, close (which unloads), three times: the
// port reports the layout of its flash's own table each time (9 regions,
// no whole-flash region) and the raw update works each time.
TEST(WholeFlash, APortReportsTheSameLayoutOnEveryLoad) {
    for (const bool with_bsg : {false, true}) {
        SCOPED_TRACE(with_bsg ? "bsg" : "no bsg");
        std::vector<sim::FltRegion> regions;
        WholeFlashRig r({table_adapter(0x2532, 5, false, &regions)}, false, with_bsg);
        std::string want = "9 regions, size 0:";
        for (const sim::FltRegion& region : regions) want += sysfstest::line(" %x/%x", region.code, region.size);
        for (unsigned load = 0; load < 3; ++load) {
            SCOPED_TRACE(load);
            const int h = r.open(0);
            std::vector<uint8_t> room(sizeof(SDM_OPT_ROM_LAYOUT) + 64 * sizeof(SDM_OPT_ROM_REGION));
            auto* layout = reinterpret_cast<PSDM_OPT_ROM_LAYOUT>(room.data());
            layout->NoOfRegions = 64;
            ASSERT_EQ(SDGetOptionRomLayout(h, 0, layout), 0u);
            auto* entries = reinterpret_cast<SDM_OPT_ROM_REGION*>(room.data() + offsetof(SDM_OPT_ROM_LAYOUT, Region));
            std::string got = sysfstest::line("%u regions, size %x:", layout->NoOfRegions, layout->Size);
            for (uint32_t i = 0; i < layout->NoOfRegions; ++i) {
                got += sysfstest::line(" %x/%x", entries[i].Region, entries[i].Size);
            }
            EXPECT_EQ(got, want);
            Bytes data = pattern(4, load);
            Bytes expected = *r.window(5).flash;
            std::copy(data.begin(), data.end(), expected.begin() + 0x10005 + 8 * load);
            EXPECT_EQ(SDUpdateOptionRomOffset(h, 0, data.data(), 4, 0x10005 + 8 * load), 0u);
            EXPECT_TRUE(*r.window(5).flash == expected);
            EXPECT_EQ(SDCloseDevice(h), 0u);
        }
    }
}

// The writes of the whole-flash driver, each written by one public call:
// raw bytes (o), a region as given (x), the NVRAM kept in flash (n, on a
// 0x2031 whose table names the whole flash). The data's place and size.
struct Write {
    char call;
    uint32_t at, size;
};

SD_UINT32 write_call(int h, char call, Bytes& data, uint32_t at) {
    switch (call) {
    case 'o': return SDUpdateOptionRomOffset(h, 0, data.data(), static_cast<SD_UINT32>(data.size()), at);
    case 'x': return SDUpdateOptionRomEx2(h, 1, data.data(), static_cast<SD_UINT32>(data.size()), 0x14);
    default: return SDUpdateNVRam(h, 1, 0, data.data(), static_cast<SD_UINT32>(data.size()));
    }
}

// The adapter a write goes to (host 5), and the data's flash place.
sim::SysfsAdapter write_adapter(char call, uint32_t* at) {
    std::vector<sim::FltRegion> regions;
    sim::SysfsAdapter a =
        call == 'n' ? table_adapter(0x2031, 5, true, &regions) : table_adapter(0x2532, 5, false, &regions);
    if (call == 'x') *at = region_start(regions, 0x14);
    if (call == 'n') *at = region_start(regions, 0x15);
    return a;
}

// A 0x2071 (whose chip has no fixed layout) on the whole-flash driver without
// bsg: its flash table cannot be read, though it names the whole flash, since
// reading it needs the size it names. Every flash call, raw, by region, of the
// NVRAM, the VPD, the image or the layout, answers SDERR_NOT_SUPPORTED with
// nothing sent to the window. With bsg, or on a chunking driver, each works.
TEST(WholeFlash, AFlashOutOfReachIsNotSupportedByEveryCall) {
    struct Call {
        const char* what;
        SD_UINT32 (*run)(int h, Bytes& buf);
    };
    const Call calls[] = {
        {"raw read", [](int h, Bytes& b) { return SDGetOptionRomOffset(h, 0, b.data(), 0x100, 0x1234); }},
        {"raw write", [](int h, Bytes& b) { return SDUpdateOptionRomOffset(h, 0, b.data(), 4, 0x10005); }},
        {"NVRAM read", [](int h, Bytes& b) { return SDGetNVRam(h, 0, 0, b.data(), 0x200); }},
        {"NVRAM write", [](int h, Bytes& b) { return SDUpdateNVRam(h, 1, 0, b.data(), 0x200); }},
        {"region read", [](int h, Bytes& b) { return SDGetOptionRomEx(h, 0, b.data(), 0x200, 0x14); }},
        {"region write", [](int h, Bytes& b) { return SDUpdateOptionRomEx2(h, 1, b.data(), 0x200, 0x14); }},
        {"image read",
         [](int h, Bytes& b) { return SDGetOptionRom(h, 0, b.data(), static_cast<SD_UINT32>(b.size())); }},
        {"layout", [](int h, Bytes&) { return SDGetOptionRomLayout(h, 0, nullptr); }},
        {"VPD read",
         [](int h, Bytes& b) {
             SD_UINT32 size = 0x200;
             return SDGetVpd(h, 0, b.data(), &size);
         }},
    };
    struct Driver {
        const char* what;
        bool chunking, with_bsg;
        SD_UINT32 status;
    };
    const Driver drivers[] = {
        {"whole flash, no bsg", false, false, SDERR_NOT_SUPPORTED},
        {"whole flash, bsg", false, true, SDERR_NO_ERROR},
        {"chunking, no bsg", true, false, SDERR_NO_ERROR},
    };
    for (const Driver& d : drivers) {
        WholeFlashRig r({table_adapter(0x2071, 5, true)}, d.chunking, d.with_bsg);
        const int h = r.open(0);
        sim::FlashWindow& w = r.window(5);
        for (const Call& c : calls) {
            SCOPED_TRACE(sysfstest::line("%s, %s", d.what, c.what));
            Bytes buf = pattern(w.flash->size(), 1);
            w.controls.clear();
            EXPECT_EQ(c.run(h, buf), d.status);
            if (d.status == SDERR_NOT_SUPPORTED) {
                EXPECT_EQ(w.controls, std::vector<std::string>{});
            }
        }
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

// Every bsg flash update of host 5 fails with EIO: refused before anything
// is written, or (partial) after the first half of its span was written.
void fail_bsg_updates(WholeFlashRig& r, bool partial) {
    r.bsg.vendor[8] = [&w = r.window(5), partial](sim::BsgJob& job) {
        uint32_t offset = 0;
        std::memcpy(&offset, job.request.data() + 16, sizeof offset);
        if (partial) std::copy_n(job.dout.begin(), job.dout.size() / 2, w.flash->begin() + offset);
        return EIO;
    };
}

// An update whose read of the flash, the read's window release, the write,
// the commit or the write's release the driver refused is a failure with the
// driver's status; the flash holds what it held (or, after a refused last
// release, the new bytes the commit put there). The update's read is the
// whole flash on the whole-flash driver, the sectors around the bytes on the
// chunking one. A plain read whose release the driver refused succeeds: its
// bytes came. Every row's fault is met. The 0x2031's table is read through
// bsg (the whole-flash driver cannot read it through its window), whose
// updates are refused, so that its NVRAM update goes to the window.
TEST(WholeFlash, AnUpdateWhoseStepFailedFails) {
    struct Row {
        const char* what;
        bool chunking;
        char call;  // o, x, n as write_call; r a raw read
        char word;
        std::deque<int> answers;
        SD_UINT32 status;
        bool written;
    };
    const Row rows[] = {
        {"raw, no fault", false, 'o', '0', {}, SDERR_NO_ERROR, true},
        {"raw, the read's release refused", false, 'o', '0', {EIO}, SDERR_UNKNOWN, false},
        {"region, the read's release refused", false, 'x', '0', {EIO}, SDERR_UNKNOWN, false},
        {"NVRAM, no fault", false, 'n', '0', {}, SDERR_NO_ERROR, true},
        {"NVRAM, the read's release refused", false, 'n', '0', {EIO}, SDERR_UNKNOWN, false},
        {"raw, the read's release busy", false, 'o', '0', {EBUSY, EBUSY, EBUSY}, SDERR_DEVICE_BUSY, false},
        {"raw, the read's release busy once", false, 'o', '0', {EBUSY}, SDERR_NO_ERROR, true},
        {"raw, the read refused", false, 'o', '1', {EIO}, SDERR_UNKNOWN, false},
        {"raw, the write refused", false, 'o', '2', {EIO}, SDERR_UNKNOWN, false},
        {"raw, the commit refused", false, 'o', '3', {EIO}, SDERR_UNKNOWN, false},
        {"raw, the write's release refused", false, 'o', '0', {0, EIO}, SDERR_UNKNOWN, true},
        {"read, its release refused", false, 'r', '0', {EIO}, SDERR_NO_ERROR, false},
        {"chunking, read, its release refused", true, 'r', '0', {EINVAL}, SDERR_NO_ERROR, false},
        {"chunking, raw, the read's release refused", true, 'o', '0', {EINVAL}, SDERR_UNKNOWN, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        uint32_t at = 0x10005;
        const bool with_bsg = row.call == 'n';
        sim::SysfsAdapter adapter = write_adapter(row.call, &at);
        // A sector size the driver gives: the chunking driver's update reads the sectors around the bytes only.
        adapter.functions[0].host.scsi_host["flash_block_size"] = "10000";
        WholeFlashRig r({adapter}, row.chunking, with_bsg);
        const int h = r.open(0);
        if (with_bsg) fail_bsg_updates(r, false);
        sim::FlashWindow& w = r.window(5);
        const Bytes before = *w.flash;
        w.errnos[row.word] = row.answers;
        w.commits.clear();
        if (row.call == 'r') {
            Bytes buf(0x100, 0xEE);
            EXPECT_EQ(SDGetOptionRomOffset(h, 0, buf.data(), 0x100, 0x1234), row.status);
            EXPECT_EQ(buf, slice(before, 0x1234, 0x100));  // the bytes came all the same
        } else {
            Bytes data = pattern(row.call == 'o' ? 4 : 0x200, 3);
            EXPECT_EQ(write_call(h, row.call, data, at), row.status);
            Bytes want = before;
            if (row.written) std::copy(data.begin(), data.end(), want.begin() + at);
            EXPECT_TRUE(*w.flash == want);
            EXPECT_EQ(w.commits.size(), row.written ? 1u : 0u);
        }
        EXPECT_TRUE(w.errnos[row.word].empty());
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

// A bsg update that the driver refused before writing anything, or that
// wrote the first half of its span before failing, falls back to the
// window, on the driver that moves the flash whole as on a chunking one:
// the flash then holds the caller's bytes and nothing else changed. A 0x2031
// whose table does not name the whole flash has no whole flash to move: on
// the whole-flash driver its fallback is refused before the window's first
// word, and the flash holds what the failed bsg update left.
TEST(WholeFlash, AFailedBsgUpdateFallsBackToTheWindow) {
    struct Row {
        char call;
        uint32_t at, size;  // raw writes: across the middle of their 64 KiB sector
    };
    const Row rows[] = {{'o', 0x17F80, 0x100}, {'x', 0, 0x200}, {'n', 0, 0x200}};
    for (const bool chunking : {false, true}) {
        for (const bool partial : {false, true}) {
            for (const Row& row : rows) {
                SCOPED_TRACE(sysfstest::line("%s, %s, %c", chunking ? "chunking" : "whole flash",
                                             partial ? "half written" : "refused", row.call));
                uint32_t at = row.at;
                WholeFlashRig r({write_adapter(row.call, &at)}, chunking, true);
                const int h = r.open(0);
                fail_bsg_updates(r, partial);
                sim::FlashWindow& w = r.window(5);
                Bytes data = pattern(row.size, 5);
                Bytes want = *w.flash;
                EXPECT_EQ(write_call(h, row.call, data, at), SDERR_NO_ERROR);
                std::copy(data.begin(), data.end(), want.begin() + at);
                EXPECT_TRUE(*w.flash == want);
                EXPECT_EQ(w.commits.size(), 1u);
                EXPECT_EQ(SDCloseDevice(h), 0u);
            }
        }
    }
    for (const bool partial : {false, true}) {
        SCOPED_TRACE(partial ? "no whole flash, half written" : "no whole flash, refused");
        WholeFlashRig r({table_adapter(0x2031, 5)}, false, true);
        const int h = r.open(0);
        fail_bsg_updates(r, partial);
        sim::FlashWindow& w = r.window(5);
        Bytes data = pattern(0x200, 5);
        const Bytes before = *w.flash;
        w.controls.clear();
        EXPECT_EQ(write_call(h, 'n', data, 0), SDERR_NOT_SUPPORTED);
        std::string words;
        for (const std::string& word : w.controls) {
            if (word != "lock" && word != "unlock" && word.rfind("bsg", 0) != 0) words += word + ",";
        }
        EXPECT_EQ(words, "");
        EXPECT_EQ(*w.flash == before, !partial);
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

}  // namespace

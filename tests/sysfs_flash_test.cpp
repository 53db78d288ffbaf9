// Flash of sysfs ports against the driver's simulated flash window and bsg
// flash commands: each sequence as the window logs it (control words, bsg
// jobs, the flash lock, sleeps), the status, and the bytes.
#include <sys/sem.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "sim_flash.h"
#include "sim_sysfs_flash.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_flash.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;
using Fault = std::function<void(sim::SimBsg&, sim::FlashWindow&, vxapi_priv_database*& port)>;
enum Road { Whole, Chunked, Bsg };

Bytes pattern(size_t n, unsigned seed = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = sim::flash_pattern(i + seed);
    return b;
}

Fault fail(char word, std::deque<int> errnos) {
    return [=](auto&, sim::FlashWindow& w, auto&) { w.errnos[word] = errnos; };
}
Fault limit(size_t bytes) {
    return [=](auto&, sim::FlashWindow& w, auto&) { w.limit = bytes; };
}

struct Row {
    const char* what;
    Road road;
    char op;  // r read, u update, e expansion EDC read (upper case: without a buffer); updates on a 24xx chip
    uint32_t region, offset, size;
    std::string log;
    uint32_t status;
    uint32_t at = 0;     // the flash offset of the bytes read or written
    uint32_t moved = 0;  // read: the bytes delivered
    Fault fault = {};
};

// Host 5 of the chip (25xx, or 24xx: 1 MiB in 64 KiB sectors) on the road,
// its flash of pattern bytes, its fixed layout installed.
struct RoadRig {
    RoadRig(uint16_t device, Road road)
        : rig(device, [&](sim::SysfsAdapter& a) { a.flash = pattern((device == 0x2422 ? 1 : 2) << 20); }) {
        std::tie(rig.setup.chunking, rig.setup.with_bsg) = std::tuple(road != Whole, road == Bsg);
        rig.discover();
        w = rig.fabric.windows.at(5).get();
        port = rig.port(5);
        sim::serve_flash(rig.host, bsg, rig.fabric);
        INT_OPT_ROM_LAYOUT layout;
        uint32_t status = 0xDEAD;
        EXPECT_EQ(vxsysfs_get_optrom_layout(-1, port, reinterpret_cast<uint8_t*>(&layout), sizeof layout, &status), 0);
        EXPECT_EQ(status, 0u);
    }
    sim::SimBsg bsg;  // outlives the host it serves
    sysfstest::SysfsRig rig;
    sim::FlashWindow* w = nullptr;
    vxapi_priv_database* port = nullptr;
};

// Updates on a 24xx chip, reads on a 25xx. The buffer is the caller's size exactly.
void run(const Row& c) {
    SCOPED_TRACE(c.what);
    const char op = static_cast<char>(std::tolower(c.op));
    RoadRig r(op == 'u' ? 0x2422 : 0x2532, c.road);
    sim::FlashWindow& w = *r.w;
    vxapi_priv_database* port = r.port;
    uint32_t status = 0xDEAD;
    if (c.fault) c.fault(r.bsg, w, port);
    w.controls.clear();

    Bytes buf = op == 'u' ? pattern(c.size, 7) : Bytes(c.size, 0xEE), flash = *w.flash;
    buf.reserve(c.size + 1);  // a buffer also for 0 bytes
    const auto call = op == 'r' ? vxsysfs_read_optrom : op == 'u' ? vxsysfs_update_optrom : vxsysfs_read_nvram_exp_edc;
    EXPECT_EQ(call(-1, port, op == c.op ? buf.data() : nullptr, c.size, c.region, c.offset, &status), 0);
    std::string words;
    for (const auto& word : w.controls) words += (words.empty() ? "" : ",") + word;
    EXPECT_EQ(words, c.log);
    EXPECT_EQ(status, c.status);
    if (op == 'u' && status == 0) std::copy(buf.begin(), buf.end(), flash.begin() + c.at);
    EXPECT_TRUE(*w.flash == flash);
    if (op == 'u' || status != 0) return;
    Bytes want(flash.begin() + c.at, flash.begin() + c.at + c.moved);
    want.resize(c.size, 0);
    EXPECT_TRUE(buf == want);
}

const std::string kBusy2 = "lock,1:1234:100 !16,sleep 20,1:1234:100 !16,sleep 20,1:1234:100";
const Fault kBusy = fail('1', {EBUSY, EBUSY}), kBusy3 = fail('1', {EBUSY, EBUSY, EBUSY});

TEST(SysfsFlash, AttributeRoadOverChunkedAndWholeFlashDrivers) {
    const Row rows[] = {
        {"raw span", Chunked, 'r', 0xFFFF, 0x1234, 0x100, "lock,1:1234:100,0,unlock", 0, 0x1234, 0x100},
        {"region 0x07", Chunked, 'r', 7, 0, 0x40000, "lock,1:0:40000,0,unlock", 0, 0, 0x40000},
        {"region 0x07, whole flash", Whole, 'r', 7, 0, 0x40000, "lock,1,0,unlock", 0, 0, 0x40000},
        {"buffer below the region", Chunked, 'r', 0x11, 0, 0x100, "lock,1:40000:100,0,unlock", 0, 0x40000, 0x100},
        {"buffer below the region, whole", Whole, 'r', 0x11, 0, 0x100, "lock,1,0,unlock", 0, 0x40000, 0x100},
        {"whole flash region", Whole, 'r', 0xFF, 0, 0x200000, "lock,1:0:200000,0,unlock", 0, 0, 0x200000},
        {"unknown region", Chunked, 'r', 0x55, 0, 0x100, "", 1},
        {"no layout", Chunked, 'r', 7, 0, 0x100, "", 1, 0, 0, [](auto&...) { pGlobalOptRomLayout = nullptr; }},
        {"raw span of 0 bytes", Chunked, 'r', 0xFFFF, 0, 0, "", 1},
        {"whole flash: span past the flash", Whole, 'r', 0xFFFF, 0x1FFFF0, 0x20, "", 1},
        {"busy twice", Chunked, 'r', 0xFFFF, 0x1234, 0x100, kBusy2 + ",0,unlock", 0, 0x1234, 0x100, kBusy},
        {"busy 3 times", Chunked, 'r', 0xFFFF, 0x1234, 0x100, kBusy2 + " !16,0,unlock", 2, 0, 0, kBusy3},
        {"failed open", Chunked, 'r', 0xFFFF, 0x1234, 0x100, "lock,1:1234:100 !5,0,unlock", 1, 0, 0, fail('1', {5})},
        {"short read", Chunked, 'r', 0xFFFF, 0x1234, 0x100, "lock,1:1234:100,0,unlock", 1, 0, 0, limit(0x80)},
        {"release busy once", Chunked, 'r', 0xFFFF, 0x1234, 0x100, "lock,1:1234:100,0 !16,sleep 20,0,unlock", 0,
         0x1234, 0x100, fail('0', {16})},
        {"release busy 3 times", Chunked, 'r', 0xFFFF, 0x1234, 0x100,
         "lock,1:1234:100,0 !16,sleep 20,0 !16,sleep 20,0 !16,unlock", 2, 0, 0, fail('0', {16, 16, 16})},
        {"expansion EDC", Chunked, 'e', 0x18, 0, 0x10000, "lock,1:120000:10000,0,unlock", 0, 0x120800, 0xF800},
        {"expansion EDC, another region", Chunked, 'e', 0x14, 0, 0x100, "", 1},
        {"no buffer: read", Chunked, 'R', 0xFFFF, 0, 4, "", 6},
        {"no buffer: update", Chunked, 'U', 0xFFFF, 0, 4, "", 6},
        {"virtual port: its physical port's flash", Chunked, 'r', 0xFFFF, 8, 4, "lock,1:8:4,0,unlock", 0, 8, 4,
         [](auto&, auto&, vxapi_priv_database*& port) {
             static vxapi_priv_database vport{};
             std::tie(vport.interface_type, vport.parent, port) = std::tuple(VX_PORT_VIRTUAL, port, &vport);
         }},
        {"whole-flash update, one hold", Whole, 'u', 0xFFFF, 0x10005, 4, "lock,1:0:100000,0,2,3,0,unlock", 0, 0x10005},
        {"whole-flash update, region", Whole, 'u', 0x87, 0, 0x100, "lock,1:0:100000,0,2,3,0,unlock", 0, 0x40000},
        {"whole-flash update, read fails", Whole, 'u', 0x87, 0, 0x100, "lock,1:0:100000 !5,0,unlock", 1, 0, 0,
         fail('1', {5})},
        {"whole-flash update, write refused", Whole, 'u', 0x87, 0, 0x100, "lock,1:0:100000,0,2 !5,0,unlock", 1, 0, 0,
         fail('2', {5})},
        {"whole-flash update past the flash", Whole, 'u', 0xFFFF, 0xFFFFF, 2, "", 1},
        {"aligned update", Chunked, 'u', 0xFFFF, 0x10005, 4,
         "lock,1:10000:10000,0,2:10000:10000,3,0,unlock", 0, 0x10005},
        {"short write", Chunked, 'u', 0xFFFF, 0x10000, 0x10000, "lock,2:10000:10000,0,unlock", 1, 0, 0, limit(0x100)},
        {"failed commit", Chunked, 'u', 0xFFFF, 0x10000, 0x10000, "lock,2:10000:10000,3 !5,0,unlock", 1, 0, 0,
         fail('3', {5})},
    };
    for (const Row& c : rows) run(c);
}

TEST(SysfsFlash, BsgRoad) {
    const auto bsg = [](std::deque<int> errnos) { return [=](sim::SimBsg& b, auto&...) { b.errnos = errnos; }; };
    const Row rows[] = {
        {"read, no window", Bsg, 'r', 7, 0, 0x40000, "lock,bsg7 0:40000,unlock", 0, 0, 0x40000},
        {"ENOSYS: the files", Bsg, 'r', 7, 0, 0x40000, "lock,unlock,lock,1:0:40000,0,unlock", 0, 0, 0x40000,
         bsg({ENOSYS})},
        {"busy twice", Bsg, 'r', 7, 0, 0x40000, "lock,sleep 20,sleep 20,bsg7 0:40000,unlock", 0, 0, 0x40000,
         bsg({EBUSY, EBUSY})},
        {"short read: the files", Bsg, 'r', 0xFFFF, 0x1FFF00, 0x200,
         "lock,bsg7 1fff00:200,unlock,lock,1:1fff00:200,0,unlock", 1},
        {"aligned update", Bsg, 'u', 0xFFFF, 0x10005, 4, "lock,bsg7 10000:10000,bsg8 10000:10000,unlock", 0, 0x10005},
        {"aligned update, sector read by the files", Bsg, 'u', 0xFFFF, 0x10005, 4,
         "lock,1:10000:10000,0,bsg8 10000:10000,unlock", 0, 0x10005, 0, bsg({ENOSYS})},
    };
    for (const Row& c : rows) run(c);
}

// Another holder of the flash lock (a thread in place of another process)
// waits for it while 4 bytes are written and, once it holds the lock, writes
// into the same 64 KiB sector. On every road
// the update takes the lock once, from the read of the sector to the write,
// so both writes stay in the flash.
TEST(SysfsFlash, UpdateHoldsTheLockFromTheSectorReadToTheWrite) {
    for (const Road road : {Whole, Chunked, Bsg}) {
        SCOPED_TRACE(road == Whole ? "whole flash" : road == Chunked ? "chunked window" : "bsg");
        RoadRig r(0x2422, road);
        const Bytes theirs = pattern(4, 99);
        Bytes mine = pattern(4, 7), want = *r.w->flash;
        std::copy(mine.begin(), mine.end(), want.begin() + 0x10005);
        std::copy(theirs.begin(), theirs.end(), want.begin() + 0x18000);
        std::thread other;
        std::atomic<bool> other_done{false};
        int locks = 0;
        const std::string lock = "semop " + std::to_string(api_flash_sem_id) + " -1";
        r.rig.host.on_event([&, self = std::this_thread::get_id()](const std::string& event) {
            if (event != lock || std::this_thread::get_id() != self || locks++ != 0) return;
            other = std::thread([&] {
                if (vxapi_sem_wait(api_flash_sem_id) == 0) {
                    std::copy(theirs.begin(), theirs.end(), r.w->flash->begin() + 0x18000);
                    EXPECT_EQ(vxapi_sem_signal(api_flash_sem_id), 0);
                }
                other_done = true;
            });
            // The update goes on once the other waits for the lock.
            while (::semctl(api_flash_sem_id, 0, GETNCNT) < 1 && !other_done) std::this_thread::yield();
        });
        uint32_t status = 0xDEAD;
        EXPECT_EQ(vxsysfs_update_optrom(-1, r.port, mine.data(), 4, 0xFFFF, 0x10005, &status), 0);
        if (other.joinable()) other.join();
        EXPECT_EQ(std::pair(status, locks), std::pair(0u, 1));
        EXPECT_TRUE(*r.w->flash == want);
    }
}

// The alignment of an update on this road reads through the sysfs reads, and
// its trace names the same steps as on the driver's road: the sector size
// (none in the host's files: a driver without "flash_block_size"), the flash
// descriptor (none in this flash), the read of the sectors.
TEST(SysfsFlash, AlignmentTracesTheStepsOfTheDriversRoad) {
    RoadRig r(0x2532, Chunked);
    r.rig.host.remove("/sys/class/scsi_host/host5/flash_block_size");
    r.rig.host.clear_stderr();
    vx_debug |= VXDBG_STEP;
    Bytes mine = pattern(4, 7);
    uint32_t status = 0xDEAD;
    EXPECT_EQ(vxsysfs_update_optrom(-1, r.port, mine.data(), 4, 0xFFFF, 0x10005, &status), 0);
    EXPECT_EQ(status, 0u);
    std::istringstream trace(r.rig.host.stderr_text());
    std::string steps;
    for (std::string line; std::getline(trace, line);) {
        if (line.rfind("vxapi_", 0) == 0) steps += line + "\n";
    }
    EXPECT_EQ(steps,
              "vxapi_sector_align: entered\n"
              "vxapi_get_flash_sector_size: entered.\n"
              "vxapi_get_flash_sector_size: exiting.\n"
              "vxapi_sector_align: Sector size read failed\n"
              "vxapi_read_optrom: entered.\n"
              "vxapi_sector_align: FDT not present\n"
              "vxapi_read_optrom: entered.\n"
              "vxapi_sector_align: exiting\n");
}

// Through the public functions over bsg and over the files: the load reads
// the layout chip's flash layout table; the layout, a region read, an update.
TEST(SysfsFlash, PublicApiOnASysfsLayoutChip) {
    sim::SimAdapter chip;
    const sim::ChipFlash built = sim::build_chip_flash(chip);
    const sim::FltRegion& region = built.regions[2];
    for (const bool bsg_node : {true, false}) {
        sim::SimBsg bsg;
        sysfstest::SysfsRig rig(0x2532, [&](sim::SysfsAdapter& a) { a.flash = chip.flash; });
        rig.setup.with_bsg = bsg_node;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        sim::serve_flash(rig.host, bsg, rig.fabric);
        int h = -1;
        ASSERT_EQ(SDOpenDevice(0, &h), 0u);
        ASSERT_NE(rig.port(5)->phy_info->pflt_layout, nullptr);
        std::vector<uint8_t> room(sizeof(SDM_OPT_ROM_LAYOUT) + 64 * sizeof(SDM_OPT_ROM_REGION));
        auto* layout = reinterpret_cast<PSDM_OPT_ROM_LAYOUT>(room.data());
        layout->NoOfRegions = 64;
        ASSERT_EQ(SDGetOptionRomLayout(h, 0, layout), 0u);
        EXPECT_EQ(std::tuple(layout->NoOfRegions, layout->Region[2].Region),
                  std::tuple(built.regions.size(), 0u + region.code));
        Bytes buf(region.size), data = pattern(4, 9), want = chip.flash;
        EXPECT_EQ(SDGetOptionRomEx(h, 0, buf.data(), region.size, region.code), 0u);
        EXPECT_EQ(buf, Bytes(chip.flash.begin() + region.start, chip.flash.begin() + region.start + region.size));
        std::copy(data.begin(), data.end(), want.begin() + 0x10005);
        EXPECT_EQ(SDUpdateOptionRomOffset(h, 0, data.data(), 4, 0x10005), 0u);
        EXPECT_TRUE(*rig.fabric.windows.at(5)->flash == want);
        EXPECT_EQ(bsg.log.empty(), !bsg_node);
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

// A driver that answers the window's release busy once and then takes it has closed a finished transfer: a region
// read through the public functions returns the region, and an update on a chip written in whole sectors goes on
// after the sector read whose release was busy. A release that stays busy fails as ever, with the flash unchanged.
TEST(SysfsFlash, ReleaseBusyOnceThenTakenFinishesTheTransfer) {
    sim::SimAdapter chip;
    const sim::ChipFlash built = sim::build_chip_flash(chip);
    const sim::FltRegion& region = built.regions[2];
    const Bytes data = pattern(4, 9);
    // The read or the update, the release's answers, then the status, whether the bytes came (went) and the waits.
    const std::tuple<char, std::deque<int>, SD_UINT32, bool, size_t> rows[] = {
        {'r', {}, 0, true, 0},
        {'r', {EBUSY}, 0, true, 1},
        {'r', {EBUSY, EBUSY, EBUSY}, SDERR_DEVICE_BUSY, true, 2},  // the bytes came, the window never closed
        {'u', {}, 0, true, 0},
        {'u', {EBUSY}, 0, true, 1},  // the sector read's release
        {'u', {EBUSY, EBUSY, EBUSY}, SDERR_UNKNOWN, false, 2},
    };
    for (const auto& [op, answers, status, done, waits] : rows) {
        SCOPED_TRACE(testing::Message() << op << " " << answers.size());
        sim::SimBsg bsg;
        const uint16_t device = op == 'r' ? 0x2532 : 0x2422;
        const Bytes flash = op == 'r' ? chip.flash : pattern(1 << 20);
        sysfstest::SysfsRig rig(device, [&](sim::SysfsAdapter& a) { a.flash = flash; });
        rig.setup.with_bsg = false;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        sim::serve_flash(rig.host, bsg, rig.fabric);
        sim::FlashWindow& w = *rig.fabric.windows.at(5);
        int h = -1;
        ASSERT_EQ(SDOpenDevice(0, &h), 0u);
        w.errnos['0'] = answers;
        rig.host.clear_sleeps();
        Bytes want = *w.flash;
        if (op == 'r') {
            Bytes buf(region.size, 0xEE);
            EXPECT_EQ(SDGetOptionRomEx(h, 0, buf.data(), region.size, region.code), status);
            EXPECT_EQ(buf == Bytes(want.begin() + region.start, want.begin() + region.start + region.size), done);
        } else {
            Bytes mine = data;
            if (done) std::copy(data.begin(), data.end(), want.begin() + 0x10005);
            EXPECT_EQ(SDUpdateOptionRomOffset(h, 0, mine.data(), 4, 0x10005), status);
            EXPECT_TRUE(*w.flash == want);
            EXPECT_EQ(w.commits.size(), done ? 1u : 0u);
        }
        std::vector<unsigned> slept = rig.host.sleep_seconds();
        std::erase_if(slept, [](unsigned s) { return s != 20; });  // the event thread's ticks aside
        EXPECT_EQ(slept.size(), waits);
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

}  // namespace

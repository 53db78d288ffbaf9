// Option ROM reads and updates through the driver, writes widened to whole flash sectors.
#include "base/vx_layout.h"
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_optrom.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::FlashRig;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;
constexpr uint8_t kWrite = EXT_CC_UPDATE_OPTROM;

// Gets the chip ready as callers do: a layout chip's layout built, a 24xx chip's fixed one; the log empty.
void prepare(FlashRig& rig, uint32_t block_size = 0x10000) {
    if (rig.adapter->device_id == 0x2532) {
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        rig.set_flash_block_size(block_size);
    } else if (rig.adapter->device_id == 0x2432) {
        uint8_t layout[VX_LAYOUT_BYTES];
        uint32_t status = 99;
        ASSERT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, layout, sizeof layout, &status), 0);
    }
    rig.driver.clear_log();
}

// Where a transfer lands: raw (0xFFFF) at the offset, a layout chip's region at its start, others' at the offset.
uint32_t start_of(const FlashRig& rig, uint32_t region, uint32_t offset) {
    if (region == 0xFFFF) return offset;
    if (rig.adapter->device_id != 0x2532) return rig.adapter->driver_regions.at(region).first + offset;
    return sim::find_region(rig.flash, static_cast<uint8_t>(region))->start;
}

// The bytes with `data` copied in at `at`.
Bytes with(Bytes b, size_t at, const Bytes& data) {
    std::copy(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}

Bytes flash_bytes(const FlashRig& rig, size_t at, size_t n) {
    return Bytes(rig.adapter->flash.begin() + static_cast<std::ptrdiff_t>(at),
                 rig.adapter->flash.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// Each chip reads where its regions are; the head of a region read into a smaller buffer stays within it.
TEST(OptromRead, ShortBufferOnALayoutChipIsNeverOverrun) {
    const struct { uint16_t device; uint32_t region, offset, size, sub_code; } cases[] = {
        {0x2532, 0x14, 100, 0x200, 0xFFFF}, {0x2532, 0x07, 0, 512, 0xFFFF}, {0x2532, 0xFFFF, 0x54321, 0x123, 0xFFFF},
        {0x2432, 0x87, 0x10, 0x100, 0x87},  {0x2312, 0x02, 0x10, 0x100, 0x02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.device << " region " << c.region);
        FlashRig rig(c.device);
        prepare(rig);
        const uint32_t start = start_of(rig, c.region, c.offset);
        Bytes buf(c.size + 64, 0xEE);
        uint32_t status = 99;
        ASSERT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), c.size, c.region, c.offset, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + c.size), flash_bytes(rig, start, c.size));
        EXPECT_TRUE(sim::all_bytes(buf, c.size, 0xEE));
        const auto reads = rig.requests(kRead);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(sim::describe(reads[0]), sim::describe({0, true, kRead, static_cast<uint16_t>(c.sub_code), 0,
                                                          c.sub_code == 0xFFFF ? start : c.offset, 0, c.size, c.size}));
    }
}

TEST(Optrom, RefusedTransfersSendNothing) {
    const struct { const char* name; bool write, layout; uint32_t region, offset, size, status; } cases[] = {
        {"read of a code absent from the layout", false, true, 0x42, 0, 0x100, 77},
        {"read of a code above 8 bits", false, true, 0x114, 0, 0x100, 77},
        {"read without a global layout", false, false, 0x14, 0, 0x100, 77},
        {"raw read of 0 bytes", false, true, 0xFFFF, 0, 0, 77},
        {"region read into 0 bytes", false, true, 0x14, 0, 0, 77},
        {"write of an unknown region", true, true, 0x42, 0, 0x10, 77},
        {"raw write of 0 bytes", true, true, 0xFFFF, 0x1000, 0, 77},
        {"write spanning past 4 GiB", true, true, 0xFFFF, 0xFFFFFFF0, 0x20, 1},
        {"write spanning exactly 4 GiB", true, true, 0xFFFF, 0x10, 0xFFFFFFF0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig(0x2532);
        if (c.layout) prepare(rig);
        rig.driver.clear_log();
        const Bytes before = rig.adapter->flash;
        Bytes buf(0x200, 0xAB);
        uint32_t status = 77;
        EXPECT_EQ(c.write ? vxapi_update_optrom(rig.fd, &rig.rec, buf.data(), c.size, c.region, c.offset, &status)
                          : vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), c.size, c.region, c.offset, &status),
                  1);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(rig.requests(kRead).size() + rig.requests(kWrite).size(), 0u);
        EXPECT_TRUE(c.write || rig.driver.log().empty());
        EXPECT_EQ(rig.adapter->flash, before);
    }
    // A sysfs port goes to the sysfs twins (no flash files here) and sends nothing to the driver.
    FlashRig rig(0x2532);
    rig.rec.features |= VX_FEAT_SYSFS;
    Bytes buf(16, 0);
    uint32_t status[3] = {};
    EXPECT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), 16, 0, 0, &status[0]), 0);
    EXPECT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, buf.data(), 16, 0, 0, &status[1]), 0);
    EXPECT_EQ(vxapi_read_nvram_exp_edc(rig.fd, &rig.rec, buf.data(), 16, 0x18, 0, &status[2]), 0);
    for (uint32_t st : status) EXPECT_EQ(st, EXT_STATUS_DEV_NOT_FOUND);
    EXPECT_TRUE(rig.driver.log().empty());
}

// Every request is the transfer; a read hands out no byte of a busy answer, the last one's neither; the trace to a
// log file that cannot be opened keeps the ioctl's errno.
TEST(OptromBusy, ReadAndWriteWaitOutABusyDriverTwiceAtMost) {
    const struct { bool write; int busy, err; uint32_t status; size_t sent; std::vector<unsigned> sleeps; } cases[] = {
        {false, 3, 0, 2, 3, {20, 20}}, {false, 1, 0, 0, 2, {20}}, {true, 3, 0, 2, 3, {20, 20}},
        {true, 2, 0, 0, 3, {20, 20}},  {false, 0, EIO, 0, 1, {}}, {true, 0, EIO, 0, 1, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.write ? "write" : "read") << " busy " << c.busy << " errno " << c.err);
        FlashRig rig(c.write ? 0x2432 : 0x2532);
        rig.host.fail_open("/usr/lib/libvxsdm.log", EACCES);
        vx_debug = VXDBG_DEFAULT_MASK | VXDBG_STEP | VXDBG_LOGFILE;
        const Bytes before = rig.adapter->flash;
        const Bytes data = c.write ? sim::pattern(0x10000, 9) : Bytes(0x10000, 0);
        Bytes buf = data;
        // A read's busy answers fill its buffer: none of that may reach the caller.
        rig.driver.inject_busy(c.busy, false, c.write ? std::nullopt : std::optional<uint8_t>(0xBB));
        if (c.err != 0) rig.driver.inject_errno(c.err);
        uint32_t status = 99;
        errno = 0;
        const auto transfer = c.write ? vxapi_update_optrom : vxapi_read_optrom;
        EXPECT_EQ(transfer(rig.fd, &rig.rec, buf.data(), 0x10000, 0xFFFF, 0x20000, &status), c.err != 0 ? -1 : 0);
        const int err = errno;
        vx_debug = VXDBG_DEFAULT_MASK;
        EXPECT_TRUE(c.err == 0 || err == c.err);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(rig.driver.log().size(), c.sent);
        EXPECT_EQ(rig.host.sleep_seconds(), c.sleeps);
        const char* retrying =
            c.write ? "vxapi_update_optrom: driver busy, retrying" : "vxapi_read_optrom: driver busy, retrying";
        EXPECT_EQ(rig.host.stderr_text().find(retrying) != std::string::npos, c.busy > 0);
        const bool moved = c.status == 0 && c.err == 0;
        EXPECT_EQ(rig.adapter->flash, moved && c.write ? with(before, 0x20000, data) : before);
        EXPECT_EQ(buf, moved && !c.write ? flash_bytes(rig, 0x20000, 0x10000) : data);
    }
}

// Unaligned writes are read around and written as whole sectors (24xx: 64 KiB unasked); other chips by code.
TEST(OptromWrite, SpansAreWidenedToWholeSectors) {
    const struct { const char* name; uint16_t device; uint32_t block, region, offset, size;
                   uint32_t written_at, written_len; std::vector<uint32_t> reads; } cases[] = {
        {"one byte in a sector", 0x2532, 0x10000, 0xFFFF, 0x10005, 1, 0x10000, 0x10000, {0x10000}},
        {"span across sectors", 0x2532, 0x1000, 0xFFFF, 0x30F00, 0x1800, 0x30000, 0x3000, {0x30000}},
        {"aligned", 0x2532, 0x10000, 0xFFFF, 0x40000, 0x20000, 0x40000, 0x20000, {}},
        {"a region", 0x2532, 0x1000, 0x15, 0x999, 0x40, 0, 0x1000, {0}},  // 0: the region's sector
        {"24xx", 0x2432, 0, 0x87, 0, 4, 0x40000, 0x10000, {0x40000}},
        {"other chips", 0x2312, 0, 0x02, 0x105, 3, 0x105, 3, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig(c.device);
        prepare(rig, c.block);
        const uint32_t start = start_of(rig, c.region, c.offset);
        const uint32_t written_at = c.region == 0x15 ? start & ~0xFFFu : c.written_at;
        Bytes data = sim::pattern(c.size, 5);
        const Bytes want = with(rig.adapter->flash, start, data);
        uint32_t status = 99;
        ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, data.data(), c.size, c.region, c.offset, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(rig.adapter->flash, want);
        ASSERT_EQ(rig.adapter->flash_writes.size(), 1u);
        if (c.reads.empty() && c.device == 0x2532) { EXPECT_EQ(rig.adapter->flash_writes[0].second, data); }
        std::vector<uint32_t> reads;
        for (const sim::SimLogEntry& e : rig.requests(kRead)) reads.push_back(e.reserved1);
        EXPECT_EQ(reads, c.reads == std::vector<uint32_t>{0} ? std::vector<uint32_t>{written_at} : c.reads);
        EXPECT_TRUE(c.device == 0x2532 || rig.requests(EXT_CC_QUERY).empty());  // no sector size asked
        const bool by_code = c.device == 0x2312;
        EXPECT_EQ(sim::describe(rig.requests(kWrite).at(0)),
                  sim::describe({0, true, kWrite, static_cast<uint16_t>(by_code ? c.region : 0xFFFF), 0,
                                 by_code ? c.offset : written_at, 0, c.written_len, 0}));
    }
}

// A read around the span that fails or comes short stops the write; its verdict is the status.
TEST(OptromWrite, ShortReadAroundTheSpanStopsTheWrite) {
    const struct { uint16_t device; uint32_t region, offset; bool refused; } cases[] = {
        {0x2532, 0xFFFF, 0x10005, true}, {0x2532, 0xFFFF, 0x10005, false}, {0x2432, 0x87, 0, false}};
    for (const auto& c : cases) {
        FlashRig rig(c.device);
        prepare(rig);
        if (c.refused) {
            rig.driver.on(kRead, [](const sim::SimRequest&) { return sim::SimReply::with_status(EXT_STATUS_MAILBOX); });
        } else {
            rig.driver.inject_short(0x100, 2);  // the chip query of 0x2532 (84 bytes, whole), and the read
        }
        uint8_t byte = 1;
        uint32_t status = 77;
        EXPECT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, &byte, 1, c.region, c.offset, &status), 1) << c.device;
        EXPECT_EQ(status, 1u);
        EXPECT_TRUE(rig.adapter->flash_writes.empty());
        EXPECT_TRUE(rig.requests(kWrite).empty());
    }
}

// Where the sector size comes from, seen in the span written for one byte at 0x10005.
TEST(OptromSectorSize, DriverThenDescriptorThen64KiB) {
    // block_size: the chip query's answer (none: it fails); fdt: the descriptor's (none: no descriptor).
    const struct { const char* name; std::optional<uint32_t> block_size, fdt; bool corrupt_fdt; uint32_t sector;
                   bool reads_fdt; } cases[] = {
        {"driver's size", 0x1000u, 0x2000u, false, 0x1000, false},
        {"driver says 0: descriptor", 0u, 0x2000u, false, 0x2000, true},
        {"query fails: descriptor", std::nullopt, 0x4000u, false, 0x4000, true},
        {"descriptor checksum bad", 0u, 0x2000u, true, 0x10000, true},
        {"no descriptor", 0u, std::nullopt, false, 0x10000, true},
        {"descriptor block size 0", 0u, 0u, false, 0x10000, true},
        {"descriptor not a power of two", 0u, 0x3000u, false, 0x10000, true},
        {"driver's size not a power of two", 0x3000u, 0x2000u, false, 0x10000, false},
        {"driver's size absurd", 0x2000000u, 0x2000u, false, 0x10000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ChipFlashOptions options;
        options.fdt_block_size = c.fdt;
        options.corrupt_fdt = c.corrupt_fdt;
        FlashRig rig(0x2532, options);
        ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        rig.driver.clear_log();
        if (c.block_size) rig.set_flash_block_size(*c.block_size);
        Bytes want = rig.adapter->flash;
        uint8_t byte = static_cast<uint8_t>(~want[0x10005]);
        want[0x10005] = byte;
        uint32_t status = 99;
        ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, &byte, 1, 0xFFFF, 0x10005, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(rig.adapter->flash, want);
        ASSERT_EQ(rig.adapter->flash_writes.size(), 1u);
        EXPECT_EQ(rig.adapter->flash_writes[0].first, 0x10000u / c.sector * c.sector);
        EXPECT_EQ(rig.adapter->flash_writes[0].second.size(), c.sector);
        bool read_fdt = false;
        for (const sim::SimLogEntry& e : rig.requests(kRead))
            read_fdt = read_fdt || (e.reserved1 == 0x140000 && e.response_len == sizeof(FDT_LAYOUT));
        EXPECT_EQ(read_fdt, c.reads_fdt);
    }
    // Chips without sector alignment leave the span alone; the query gives the driver's block size.
    FlashRig rig(0x2312);
    Bytes data(4, 1);
    uint8_t* db = data.data();
    uint32_t offset = 0x10005, size = 4, sector = 0;
    EXPECT_EQ(vxapi_sector_align(rig.fd, &rig.rec, &db, data.data(), &offset, &size), 1u);
    EXPECT_TRUE(db == data.data() && offset == 0x10005u && size == 4u);
    rig.set_flash_block_size(0x8000);
    EXPECT_EQ(vxapi_get_flash_sector_size(rig.fd, &rig.rec, &sector), 0u);
    EXPECT_EQ(sector, 0x8000u);
    rig.driver.inject_status(EXT_STATUS_ERR);
    EXPECT_EQ(vxapi_get_flash_sector_size(rig.fd, &rig.rec, &sector), 1u);
}

}  // namespace

// Option ROM read and update through the driver, with the widening of
// writes to whole flash sectors, driven against the simulated driver's flash.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_layout.h"
#include "core/vx_optrom.h"
#include "core/vx_sddbg.h"
#include "sim_flash.h"

namespace {

using sim::Bytes;
using sim::FlashRig;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;
constexpr uint8_t kWrite = EXT_CC_UPDATE_OPTROM;
constexpr uint8_t kQuery = EXT_CC_QUERY;

// A rig whose function layout is built from its flash and installed as the
// global layout; the driver's log starts empty.
void install_layout(FlashRig& rig) {
    ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
    rig.driver.clear_log();
}

const sim::FltRegion& region_of(const FlashRig& rig, uint8_t code) {
    for (const sim::FltRegion& r : rig.flash.regions) {
        if (r.code == code) return r;
    }
    ADD_FAILURE() << "no region " << int(code);
    return rig.flash.regions.front();
}

Bytes flash_bytes(const FlashRig& rig, size_t at, size_t n) {
    return Bytes(rig.adapter->flash.begin() + static_cast<std::ptrdiff_t>(at),
                 rig.adapter->flash.begin() + static_cast<std::ptrdiff_t>(at + n));
}

Bytes data_of(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + 3 * i);
    return b;
}

// ---------------------------------------------------------------- reads

TEST(OptromRead, LayoutChipReadsTheWholeRegionFromItsStartWhateverOffsetIsAsked) {
    for (bool new_header : {true, false}) {
        SCOPED_TRACE(new_header ? "new header" : "old header");
        FlashRig rig(0x2532, {}, new_header);
        install_layout(rig);
        const sim::FltRegion& vpd = region_of(rig, 0x14);

        Bytes buf(vpd.size, 0);
        uint32_t status = 99;
        ASSERT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), vpd.size, 0x14, 100, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(buf, flash_bytes(rig, vpd.start, vpd.size));
        const auto reads = rig.requests(kRead);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].sub_code, 0xFFFF);
        EXPECT_EQ(reads[0].reserved1, vpd.start);
        EXPECT_EQ(reads[0].response_len, vpd.size);
        EXPECT_EQ(reads[0].request_len, vpd.size);
    }
}

// Callers read the head of a region into a smaller buffer: the read is cut
// to the buffer, never more than it holds.
TEST(OptromRead, ShortBufferOnALayoutChipIsNeverOverrun) {
    FlashRig rig(0x2532);
    install_layout(rig);
    const sim::FltRegion& boot = region_of(rig, 0x07);
    constexpr uint32_t kAsked = 512;
    constexpr size_t kGuard = 64;
    Bytes buf(kAsked + kGuard, 0xEE);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), kAsked, 0x07, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + kAsked), flash_bytes(rig, boot.start, kAsked));
    EXPECT_EQ(Bytes(buf.begin() + kAsked, buf.end()), Bytes(kGuard, 0xEE));
    const auto reads = rig.requests(kRead);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].response_len, kAsked);
}

TEST(OptromRead, RawReadTakesTheCallersOffsetAndSize) {
    FlashRig rig(0x2532);
    install_layout(rig);
    Bytes buf(0x123, 0);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), 0x123, 0xFFFF, 0x54321, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buf, flash_bytes(rig, 0x54321, 0x123));

    // A read past the flash's end is refused by the driver.
    ASSERT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), 0x123, 0xFFFF, rig.flash.size - 0x10, &status), 0);
    EXPECT_NE(status, 0u);
}

TEST(OptromRead, UnknownRegionOrNoLayoutFailsBeforeAnyRequest) {
    struct Case {
        const char* name;
        bool layout;
        uint32_t region;
        uint32_t size;
    };
    const Case cases[] = {
        {"code absent from the layout", true, 0x42, 0x100},
        {"code above 8 bits", true, 0x114, 0x100},
        {"no global layout", false, 0x14, 0x100},
        {"raw read of 0 bytes", true, 0xFFFF, 0},
        {"region read into 0 bytes", true, 0x14, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig(0x2532);
        if (c.layout) install_layout(rig);
        rig.driver.clear_log();
        Bytes buf(0x200, 0);
        uint32_t status = 77;
        EXPECT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), c.size, c.region, 0, &status), 1);
        EXPECT_TRUE(rig.driver.log().empty());
    }
}

TEST(OptromRead, OtherDevicesReadByRegionCodeAtTheCallersOffset) {
    for (uint16_t device : {0x2432, 0x2312}) {
        SCOPED_TRACE(device);
        FlashRig rig(device);
        const uint16_t code = device == 0x2432 ? 0x87 : 0x02;
        const uint32_t start = rig.adapter->driver_regions[code].first;
        Bytes buf(0x100, 0);
        uint32_t status = 99;
        ASSERT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), 0x100, code, 0x10, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(buf, flash_bytes(rig, start + 0x10, 0x100));
        const auto reads = rig.requests(kRead);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].sub_code, code);
        EXPECT_EQ(reads[0].reserved1, 0x10u);
    }
}

// ---------------------------------------------------------------- busy driver

// A 24xx write of a whole sector and a raw read need no other request, so
// every request the driver sees is the transfer.
TEST(OptromBusy, ReadAndWriteWaitOutABusyDriverTwiceAtMost) {
    struct Case {
        bool write;
        int busy;
        uint32_t status;
        size_t requests;
        std::vector<unsigned> sleeps;
    };
    const Case cases[] = {
        {false, 3, 2, 3, {20, 20}},
        {false, 1, 0, 2, {20}},
        {true, 3, 2, 3, {20, 20}},
        {true, 2, 0, 3, {20, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.write ? "write" : "read") + " busy " + std::to_string(c.busy));
        FlashRig rig(c.write ? 0x2432 : 0x2532);
        vx_debug = VXDBG_DEFAULT_MASK | VXDBG_STEP;
        const Bytes before = rig.adapter->flash;
        const Bytes data = data_of(0x10000, 9);
        Bytes buf(0x10000, 0);
        rig.driver.inject_busy(c.busy);
        uint32_t status = 99;
        const int32_t rc = c.write
                               ? vxapi_update_optrom(rig.fd, &rig.rec, const_cast<uint8_t*>(data.data()), 0x10000,
                                                     0xFFFF, 0x20000, &status)
                               : vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), 0x10000, 0xFFFF, 0x20000, &status);
        vx_debug = VXDBG_DEFAULT_MASK;
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(rig.driver.log().size(), c.requests);
        EXPECT_EQ(rig.host.sleep_seconds(), c.sleeps);
        const std::string busy_line = c.write ? "vxapi_update_optrom: driver busy, retrying"
                                              : "vxapi_read_optrom: driver busy, retrying";
        EXPECT_NE(rig.host.stderr_text().find(busy_line), std::string::npos);
        if (c.status != 0) {
            EXPECT_EQ(rig.adapter->flash, before);
        } else if (c.write) {
            EXPECT_EQ(flash_bytes(rig, 0x20000, 0x10000), data);
        } else {
            EXPECT_EQ(buf, flash_bytes(rig, 0x20000, 0x10000));
        }
    }
}

// ---------------------------------------------------------------- writes

TEST(OptromWrite, OneByteInsideASectorRewritesTheWholeSectorKeepingTheRest) {
    FlashRig rig(0x2532);
    install_layout(rig);
    rig.set_flash_block_size(0x10000);
    Bytes want = rig.adapter->flash;
    want[0x10005] = static_cast<uint8_t>(~want[0x10005]);
    uint8_t byte = want[0x10005];
    uint32_t status = 99;

    ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, &byte, 1, 0xFFFF, 0x10005, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rig.adapter->flash, want);
    ASSERT_EQ(rig.adapter->flash_writes.size(), 1u);
    EXPECT_EQ(rig.adapter->flash_writes[0].first, 0x10000u);
    EXPECT_EQ(rig.adapter->flash_writes[0].second.size(), 0x10000u);
    const auto reads = rig.requests(kRead);
    ASSERT_EQ(reads.size(), 1u);  // the sector, once
    EXPECT_EQ(reads[0].reserved1, 0x10000u);
    EXPECT_EQ(reads[0].response_len, 0x10000u);
    const auto writes = rig.requests(kWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].sub_code, 0xFFFF);
    EXPECT_EQ(writes[0].reserved1, 0x10000u);
    EXPECT_EQ(writes[0].request_len, 0x10000u);
    EXPECT_EQ(writes[0].response_len, 0u);
}

TEST(OptromWrite, SpanAcrossSectorsIsWidenedAtBothEnds) {
    FlashRig rig(0x2532);
    install_layout(rig);
    rig.set_flash_block_size(0x1000);
    Bytes want = rig.adapter->flash;
    const Bytes data = data_of(0x1800, 1);
    std::copy(data.begin(), data.end(), want.begin() + 0x30F00);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, const_cast<uint8_t*>(data.data()), 0x1800, 0xFFFF, 0x30F00,
                                  &status),
              0);
    EXPECT_EQ(rig.adapter->flash, want);
    ASSERT_EQ(rig.adapter->flash_writes.size(), 1u);
    EXPECT_EQ(rig.adapter->flash_writes[0].first, 0x30000u);
    EXPECT_EQ(rig.adapter->flash_writes[0].second.size(), 0x3000u);
}

TEST(OptromWrite, AlignedWriteGoesOutFromTheCallersBufferUnchanged) {
    FlashRig rig(0x2532);
    install_layout(rig);
    rig.set_flash_block_size(0x10000);
    const Bytes data = data_of(0x20000, 5);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, const_cast<uint8_t*>(data.data()), 0x20000, 0xFFFF, 0x40000,
                                  &status),
              0);
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(rig.requests(kRead).empty());  // nothing to read around it
    ASSERT_EQ(rig.adapter->flash_writes.size(), 1u);
    EXPECT_EQ(rig.adapter->flash_writes[0].first, 0x40000u);
    EXPECT_EQ(rig.adapter->flash_writes[0].second, data);
}

// The region gives the start; the caller's size is the length written and
// the caller's offset does not count.
TEST(OptromWrite, RegionWriteStartsAtTheRegionsStart) {
    FlashRig rig(0x2532);
    install_layout(rig);
    rig.set_flash_block_size(0x1000);
    const sim::FltRegion& nv = region_of(rig, 0x15);
    Bytes want = rig.adapter->flash;
    const Bytes data = data_of(0x40, 7);
    std::copy(data.begin(), data.end(), want.begin() + nv.start);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, const_cast<uint8_t*>(data.data()), 0x40, 0x15, 0x999, &status),
              0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rig.adapter->flash, want);
    ASSERT_EQ(rig.adapter->flash_writes.size(), 1u);
    EXPECT_EQ(rig.adapter->flash_writes[0].first, nv.start & ~0xFFFu);
}

TEST(OptromWrite, RefusedWritesSendNothing) {
    struct Case {
        const char* name;
        uint32_t region;
        uint32_t offset;
        uint32_t size;
        uint32_t status;  // what *pext_stat holds afterwards
    };
    const Case cases[] = {
        {"unknown region", 0x42, 0, 0x10, 77},
        {"raw write of 0 bytes", 0xFFFF, 0x1000, 0, 77},
        {"span past 4 GiB", 0xFFFF, 0xFFFFFFF0, 0x20, 1},
        {"span of exactly 4 GiB", 0xFFFF, 0x10, 0xFFFFFFF0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig(0x2532);
        install_layout(rig);
        rig.set_flash_block_size(0x10000);
        const Bytes before = rig.adapter->flash;
        Bytes data(0x40, 0xAB);
        uint32_t status = 77;
        EXPECT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, data.data(), c.size, c.region, c.offset, &status), 1);
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(rig.requests(kWrite).empty());
        EXPECT_TRUE(rig.requests(kRead).empty());
        EXPECT_EQ(rig.adapter->flash, before);
    }
}

// The alignment's verdict is the status until the write itself answers.
TEST(OptromWrite, FailedReadAroundTheSpanStopsTheWrite) {
    FlashRig rig(0x2532);
    install_layout(rig);
    rig.set_flash_block_size(0x10000);
    uint8_t byte = 1;
    rig.driver.on(kRead, [](const sim::SimRequest&) { return sim::SimReply::with_status(EXT_STATUS_MAILBOX); });
    uint32_t status = 77;
    EXPECT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, &byte, 1, 0xFFFF, 0x10005, &status), 1);
    EXPECT_EQ(status, 1u);
    EXPECT_TRUE(rig.requests(kWrite).empty());
}

TEST(OptromWrite, Chips24xxWriteIn64KiBSectorsWithoutAskingTheSectorSize) {
    FlashRig rig(0x2432);
    uint8_t layout[VX_LAYOUT_BYTES];
    uint32_t status = 99;
    ASSERT_EQ(vxapi_get_optrom_layout(rig.fd, &rig.rec, layout, sizeof layout, &status), 0);
    ASSERT_EQ(status, 0u);
    rig.driver.clear_log();
    Bytes want = rig.adapter->flash;
    const Bytes data = data_of(4, 3);
    std::copy(data.begin(), data.end(), want.begin() + 0x40000);  // region 0x87 starts there

    ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, const_cast<uint8_t*>(data.data()), 4, 0x87, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rig.adapter->flash, want);
    EXPECT_TRUE(rig.requests(kQuery).empty());
    const auto reads = rig.requests(kRead);
    ASSERT_EQ(reads.size(), 1u);  // the sector around the data, nothing else
    EXPECT_EQ(reads[0].reserved1, 0x40000u);
    EXPECT_EQ(reads[0].response_len, 0x10000u);
    const auto writes = rig.requests(kWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].sub_code, 0xFFFF);
    EXPECT_EQ(writes[0].request_len, 0x10000u);
}

TEST(OptromWrite, OtherDevicesWriteByRegionCodeWithoutAlignment) {
    FlashRig rig(0x2312);
    Bytes want = rig.adapter->flash;
    const Bytes data = data_of(3, 11);
    std::copy(data.begin(), data.end(), want.begin() + 0x105);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, const_cast<uint8_t*>(data.data()), 3, 0x02, 0x105, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rig.adapter->flash, want);
    EXPECT_TRUE(rig.requests(kRead).empty());
    const auto writes = rig.requests(kWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].sub_code, 0x02);
    EXPECT_EQ(writes[0].reserved1, 0x105u);
    EXPECT_EQ(writes[0].request_len, 3u);
}

// ---------------------------------------------------------------- sector size

// Where the sector size comes from, seen in the span written for one byte at 0x10005.
TEST(OptromSectorSize, DriverThenDescriptorThen64KiB) {
    struct Case {
        const char* name;
        std::optional<uint32_t> block_size;  // the chip query's answer (nullopt: the query fails)
        std::optional<uint32_t> fdt;         // the descriptor's block size (nullopt: no descriptor)
        bool corrupt_fdt;
        uint32_t sector;
        bool reads_fdt;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ChipFlashOptions options;
        options.fdt_block_size = c.fdt;
        options.corrupt_fdt = c.corrupt_fdt;
        FlashRig rig(0x2532, options);
        install_layout(rig);
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
        for (const sim::SimLogEntry& e : rig.requests(kRead)) {
            if (e.reserved1 == 0x140000 && e.response_len == sizeof(FDT_LAYOUT)) read_fdt = true;
        }
        EXPECT_EQ(read_fdt, c.reads_fdt);
    }
}

TEST(OptromSectorSize, AlignmentOfUnsupportedDevicesAndTheQuery) {
    FlashRig rig(0x2312);
    Bytes data(4, 1);
    uint8_t* db = data.data();
    uint32_t offset = 0x10005, size = 4;
    EXPECT_EQ(vxapi_sector_align(rig.fd, &rig.rec, &db, data.data(), &offset, &size), 1u);
    EXPECT_EQ(db, data.data());
    EXPECT_EQ(offset, 0x10005u);
    EXPECT_EQ(size, 4u);

    rig.set_flash_block_size(0x8000);
    uint32_t sector = 0;
    EXPECT_EQ(vxapi_get_flash_sector_size(rig.fd, &rig.rec, &sector), 0u);
    EXPECT_EQ(sector, 0x8000u);
    rig.driver.inject_status(EXT_STATUS_ERR);
    EXPECT_EQ(vxapi_get_flash_sector_size(rig.fd, &rig.rec, &sector), 1u);
}

// ---------------------------------------------------------------- sysfs ports

TEST(OptromSysfs, SysfsPortsGoToTheirTwinsAndSendNothing) {
    FlashRig rig(0x2532);
    rig.rec.features |= VX_FEAT_SYSFS;
    Bytes buf(16, 0);
    uint32_t status = 0;
    EXPECT_EQ(vxapi_read_optrom(rig.fd, &rig.rec, buf.data(), 16, 0, 0, &status), VX_RESULT_NO_TRANSPORT);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    status = 0;
    EXPECT_EQ(vxapi_update_optrom(rig.fd, &rig.rec, buf.data(), 16, 0, 0, &status), VX_RESULT_NO_TRANSPORT);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    status = 0;
    EXPECT_EQ(vxapi_read_nvram_exp_edc(rig.fd, &rig.rec, buf.data(), 16, 0x18, 0, &status), VX_RESULT_NO_TRANSPORT);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    EXPECT_TRUE(rig.driver.log().empty());
}

}  // namespace

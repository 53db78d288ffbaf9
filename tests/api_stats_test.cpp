// Statistics, the loopback test, the beacon and the firmware dump through the public functions: on ioctl ports, and
// on a port served through sysfs where the road decides the answer.
#include <deque>
#include <numeric>

#include "api_rig.h"
#include "core/io/vx_passthru.h"
#include "sim_bsg.h"
#include "sim_passthru.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::filled;
using apitest::touched;
using sim::Bytes;
using Fn = std::function<SD_UINT32(int)>;
#define CALL(expr) [&](int h) { return expr; }

static_assert(offsetof(STATISTICS, InterruptCount) == 20 && offsetof(STATISTICS, Reserved) == 48);
static_assert(offsetof(LOOPBACKSTATUS, CommandSent) == 12 && offsetof(LOOPBACKSTATUS, Reserved) == 16);

// A port of the chip with a virtual port. The driver answers the port's and a remote port's statistics with word i
// of the record 0x1000 + i, a 300-byte dump, the beacon, and the loopback from a script of (completion, CRC count
// word) pairs, then with "passed".
struct StatsRig : apitest::ApiRig {
    explicit StatsRig(uint16_t chip = 0x2532) : phys(add_adapter(chip)), virt(add_virtual(phys)) {
        sim::install_passthru_handlers(driver, fabric);
        std::array<uint32_t, 28> words;
        std::iota(words.begin(), words.end(), 0x1000u);
        std::memcpy(&stat, words.data(), sizeof stat);
        for (auto* p : {&phys, &virt}) p->sim->set_record(EXT_CC_GET_DATA, 3, stat);
        driver.on(EXT_CC_GET_DATA, 0x70, [this](const sim::SimRequest& r) {
            return remote = r.request, sim::SimReply::with_record(stat);
        });
        driver.on(EXT_CC_GET_FW_DUMP, [this](const sim::SimRequest& r) {
            sim::SimReply reply = sim::SimReply::with_status(dump.empty() ? uint32_t{EXT_STATUS_NO_DATA} : 0);
            if (r.response_capacity < dump.size()) return reply.status = 16, reply.reported_len = dump.size(), reply;
            return reply.response = dump, reply;
        });
        driver.on(EXT_CC_LOOPBACK, [this](const sim::SimRequest& r) {
            INT_LOOPBACK_RSP rsp;
            std::memcpy(&rsp, r.response_in, sizeof rsp);
            loops.push_back(r.request), receive.emplace_back(rsp.BufferAddress, rsp.BufferLength);
            const auto [completion, crc] = answers.empty() ? std::pair<uint16_t, uint16_t>(0x4000, 0) : answers.front();
            if (!answers.empty()) answers.pop_front();
            std::tie(rsp.CompletionStatus, rsp.CrcErrorCount, rsp.DisparityErrorCount, rsp.FrameLengthErrorCount,
                     rsp.IterationCountLastError, rsp.CommandSent) = std::tuple(completion, crc, 2, 3, 0x50004u, 0x45);
            return sim::SimReply::with_record(rsp);
        });
        fabric.data[8] = Bytes(16);
    }
    apitest::RigPort &phys, &virt;
    sim::SanFabric fabric;
    EXT_HBA_PORT_STAT stat;
    Bytes remote, dump = sim::pattern(300, 7);
    std::deque<std::pair<uint16_t, uint16_t>> answers;
    std::vector<Bytes> loops;  // loopback requests as sent, and the receive buffer each named
    std::vector<std::pair<uint64_t, uint32_t>> receive;
};

// Per function: a bad handle, a physical and a virtual port, then each argument refused (after the handle and the
// port-kind gate). A refused call sends nothing; an accepted one reaches the driver. No function gates on the chip.
TEST(ApiStats, GatesAndArgumentsInTheirOrder) {
    StatsRig rig;
    STATISTICS st;
    LOOPBACKSTATUS ls;
    SD_UINT32 mode = 0, size = 300;
    uint8_t b[300];
    DESTINATIONADDRESS wwpn{2, {}, 0}, node{1, {}, 0};
    // The call, its status on a virtual port, and the calls that one argument refuses.
    const std::tuple<Fn, SD_UINT32, std::vector<Fn>> fns[] = {
        {CALL(SDGetStatistics(h, 0, &st)), 0, {CALL(SDGetStatistics(h, 0, nullptr))}},
        {CALL(SDGetStatisticsFC(h, 0, &wwpn, &st)), 0,
         {CALL(SDGetStatisticsFC(h, 0, nullptr, &st)), CALL(SDGetStatisticsFC(h, 0, &node, nullptr)),
          CALL(SDGetStatisticsFC(h, 0, &wwpn, nullptr))}},
        {CALL(SDGetPortStatisticsFC(h, 0, &wwpn, &st)), 0, {}},
        {CALL(SDRunDiagLoopbackEx(h, 0, 0, b, 8, b, 8, 1, &ls)), 0,
         {CALL(SDRunDiagLoopbackEx(h, 0, 0, nullptr, 8, b, 8, 1, nullptr)),
          CALL(SDRunDiagLoopbackEx(h, 0, 0, nullptr, 8, b, 8, 1, &ls)),
          CALL(SDRunDiagLoopbackEx(h, 0, 0, b, 8, nullptr, 8, 1, &ls))}},
        {CALL(SDRunDiagLoopback(h, 0, 0, nullptr, 0, nullptr, 0, 1, &ls)), 0, {}},
        {CALL(SDGetBeaconControl(h, &mode)), 0, {CALL(SDGetBeaconControl(h, nullptr))}},
        {CALL(SDUpdateBeaconControl(h, 0)), SDERR_NOT_SUPPORTED, {}},
        {CALL(SDGetFwDump(h, 0, b, &(size = 300))), SDERR_INVALID_REQUEST,
         {CALL(SDGetFwDump(h, 0, nullptr, &size)), CALL(SDGetFwDump(h, 0, b, nullptr))}},
    };
    for (size_t f = 0; f < std::size(fns); ++f) {
        const auto& [call, on_virtual, refusals] = fns[f];
        const auto expect = [&rig, f](const Fn& fn, int h, SD_UINT32 status) {
            rig.driver.clear_log();
            EXPECT_EQ(fn(h), status) << "function " << f << ", handle " << h;
            EXPECT_EQ(rig.driver.log().empty(), status != 0) << "function " << f << ", handle " << h;
        };
        for (const auto& [h, status] : {std::pair(99, SDERR_INVALID_HANDLE), std::pair(rig.phys.handle, 0u),
                                        std::pair(rig.virt.handle, on_virtual)}) {
            expect(call, h, status);
        }
        for (const Fn& refusal : refusals) {
            expect(refusal, 99, SDERR_INVALID_HANDLE);
            expect(refusal, rig.virt.handle, on_virtual != 0 ? on_virtual : SDERR_INVALID_PARAMETER);
            expect(refusal, rig.phys.handle, SDERR_INVALID_PARAMETER);
        }
    }
}

// A caller's record with the eleven counters set, the rest as the caller filled it.
STATISTICS counters(const std::array<uint32_t, 11>& c) {
    STATISTICS s = filled<STATISTICS>();
    std::tie(s.ControllerErrorCount, s.DeviceErrorCount, s.IOCount, s.MegabyteCount, s.LipResetCount,
             s.LinkFailureCount, s.LossOfSyncCount, s.LossOfSignalCount, s.PrimitiveSeqProtocolErrorCount,
             s.InvalidTransmissionWordCount, s.InvalidCRCCount) = std::tuple_cat(c);
    return s;
}

// Counters by the table (InterruptCount and Reserved kept); the remote port by WWPN with LUN 0; a driver status,
// underrun included, leaves the record untouched.
TEST(ApiStats, CountersByTheTableAndFailuresLeaveTheRecord) {
    StatsRig rig;
    const STATISTICS want = counters({0x1000, 0x1001, 0x1002, 0x1003, 0x1004, 0x1006, 0x1007, 0x1008, 0x1009, 0x100A,
                                      0x100B});
    DESTINATIONADDRESS d{2, {{1, 2, 3, 4, 5, 6, 7, 8}}, 9};
    for (const SD_UINT32 status : {0u, SDERR_DATA_UNDERRUN}) {
        for (const bool remote : {false, true}) {
            STATISTICS st = filled<STATISTICS>();
            if (status != 0) rig.driver.inject_status(8);
            const int h = rig.phys.handle;
            EXPECT_EQ(remote ? SDGetStatisticsFC(h, 0, &d, &st) : SDGetStatistics(h, 0, &st), status);
            EXPECT_TRUE(status == 0 ? std::memcmp(&st, &want, sizeof st) == 0 : !touched(&st, sizeof st)) << remote;
        }
    }
    EXPECT_EQ(rig.remote, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 2, 0, 0, 0, 0, 0, 0, 0}));
}

// On a sysfs port a remote port's counters come from a Read Link Status exchange: the six link error counters, the
// five before them 0. A dump that the udev rules collected gives the file's path, cut to the buffer and terminated
// inside it.
TEST(ApiStats, SysfsPortLinkCountersAndDumpFile) {
    sysfstest::BsgPortRig bsg_port;
    sysfstest::SysfsRig& rig = bsg_port.rig;
    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
    STATISTICS st = filled<STATISTICS>();
    const STATISTICS want = counters({0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6});
    ASSERT_EQ(SDGetStatisticsFC(1, 0, &d, &st), 0u);
    EXPECT_EQ(std::memcmp(&st, &want, sizeof st), 0);

    const std::string dir = "/opt/Varnix_Corporation/FW_Dumps/";
    for (const std::string& f : {std::string("/etc/udev/rules.d/99-vxa2xxx.rules"),
                                 std::string("/lib/udev/vxa2xxx_udev.sh"), dir + "fw_dump_5_20240102_080000.bin"}) {
        rig.host.write_file(f, "x");
    }
    std::string text(24, '\xA5');
    SD_UINT32 size = 20;
    EXPECT_EQ(SDGetFwDump(1, 0, reinterpret_cast<SD_PUINT8>(text.data()), &size), SDERR_DUMP_FILE);
    EXPECT_EQ(std::pair(size, text), std::pair(20u, dir.substr(0, 19) + '\0' + std::string(4, '\xA5')));
}

// Both request layouts byte for byte (the 16-bit call's sizes and count widened), each naming the receive buffer.
TEST(ApiStats, LoopbackRequestsOfBothLayouts) {
    StatsRig rig;
    Bytes tx(0xFFFF), rx(0xFFFF), packed(40), aligned(48);
    LOOPBACKSTATUS ls;
    ASSERT_EQ(SDRunDiagLoopback(rig.phys.handle, 0, 0xF1, tx.data(), 0xFFFF, rx.data(), 0xFFF0, 0xFFFE, &ls), 0u);
    rig.phys.rec->features &= ~VX_FEAT_NEW_IOCTL;  // the old driver
    ASSERT_EQ(SDRunDiagLoopbackEx(rig.phys.handle, 0, 0x8002, tx.data(), 0x1234, rx.data(), 0x2345, 0x10000, &ls), 0u);
    const uint64_t t = reinterpret_cast<uintptr_t>(tx.data()), r = reinterpret_cast<uintptr_t>(rx.data());
    const auto put = [](Bytes& b, std::initializer_list<std::tuple<size_t, uint64_t, size_t>> fields) {
        for (const auto& [at, value, n] : fields) {
            for (size_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    put(packed, {{0, 0xF1, 2}, {2, 0xFFFF, 4}, {6, 0xFFFE, 4}, {10, t, 8}, {18, 0xFFFF, 4}});
    put(aligned, {{0, 0x8002, 2}, {4, 0x1234, 4}, {8, 0x10000, 4}, {16, t, 8}, {24, 0x1234, 4}});
    EXPECT_EQ(rig.loops, (std::vector<Bytes>{packed, aligned}));
    EXPECT_EQ(rig.receive, (std::vector<std::pair<uint64_t, uint32_t>>{{r, 0xFFF0}, {r, 0x2345}}));
    EXPECT_FALSE(rig.requests(EXT_CC_LOOPBACK).back().new_layout);
}

// A test answered with 0x17 in the CRC count runs again after a firmware reset and 20 seconds, at most twice, with
// the new request on the flash-layout chips; result and counts are the last answer's, whatever the status.
TEST(ApiStats, LoopbackResetsAndResults) {
    using Result = std::array<uint16_t, 7>;  // TestResult, the three counts, LastError1 and 2, CommandSent
    const std::pair<uint16_t, uint16_t> again{0x4000, 0x17}, errors{0x400C, 0x17};
    const Result passed{1, 0, 0, 0, 0xA5A5, 0xA5A5, 0x45};
    const struct {
        uint16_t chip;
        bool old_driver, reset_fails;
        std::vector<std::pair<uint16_t, uint16_t>> answers;
        SD_UINT32 status;
        size_t tests, resets;
        Result result;
    } rows[] = {
        {0x2532, false, false, {again, again}, 0, 3, 2, passed},
        {0x2532, false, false, {errors, errors, errors}, 0, 3, 2, {4, 0x17, 2, 3, 4, 5, 0x45}},
        {0x2432, false, false, {{0x4006, 0x17}}, 0, 1, 0, {2, 0, 0, 0, 0xA5A5, 0xA5A5, 0x45}},
        {0x2532, true, false, {{0x400B, 0x17}}, 0, 1, 0, {3, 0, 0, 0, 0xA5A5, 0xA5A5, 0x45}},
        {0x2532, false, true, {again}, SDERR_SIBLING_FAILED, 1, 0, passed},
        {0x2532, false, false, {{0x1234, 9}}, 0, 1, 0, {4, 0, 0, 0, 0xA5A5, 0xA5A5, 0x45}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        StatsRig rig(row.chip);
        if (row.old_driver) rig.phys.rec->features &= ~VX_FEAT_NEW_IOCTL;
        if (row.reset_fails) rig.acts.fail(rig.phys.sim->instance, 6);
        rig.answers.assign(row.answers.begin(), row.answers.end());
        uint8_t data[64] = {};
        auto ls = filled<LOOPBACKSTATUS>();
        EXPECT_EQ(SDRunDiagLoopbackEx(rig.phys.handle, 0, 0, data, 64, data, 64, 1, &ls), row.status);
        EXPECT_EQ(std::tuple(rig.loops.size(), rig.taken().size(), rig.host.sleep_seconds()),
                  std::tuple(row.tests, row.resets, std::vector<unsigned>(row.resets, 20)));
        for (const auto& reset : rig.taken()) EXPECT_EQ(reset, std::pair(rig.phys.sim->instance, uint16_t{1}));
        EXPECT_EQ((Result{ls.TestResult, ls.CRCErrorCount, ls.DisparityErrorCount, ls.FrameLengthErrorCount,
                          ls.LastError1, ls.LastError2, ls.CommandSent}),
                  row.result);
        EXPECT_FALSE(touched(&ls.Reserved1, sizeof ls - offsetof(LOOPBACKSTATUS, Reserved1)));
    }
}

// The beacon both ways (a failure leaves the caller's state); a dump too small, then fetched; no dump.
TEST(ApiStats, BeaconAndFirmwareDump) {
    StatsRig rig;
    const int h = rig.phys.handle;
    SD_UINT32 mode = 7, size = 100;
    ASSERT_EQ(SDUpdateBeaconControl(h, 0x01ED0017), 0u);
    ASSERT_EQ(SDGetBeaconControl(h, &mode), 0u);
    EXPECT_EQ(std::pair(rig.fabric.data[8], mode),
              std::pair(Bytes{0x17, 0, 0xED, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x01ED0017u));
    rig.driver.inject_errno(EIO);
    EXPECT_EQ(SDGetBeaconControl(h, &(mode = 7)), static_cast<SD_UINT32>(EIO));
    EXPECT_EQ(mode, 7u);

    Bytes buf(400, apitest::kFill);
    EXPECT_EQ(SDGetFwDump(h, 0, buf.data(), &size), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::pair(size, touched(buf.data(), buf.size())), std::pair(300u, false));
    ASSERT_EQ(SDGetFwDump(h, 0, buf.data(), &(size = 400)), 0u);
    EXPECT_EQ(std::pair(size, Bytes(buf.begin(), buf.begin() + 300)), std::pair(300u, rig.dump));
    rig.dump.clear();
    EXPECT_EQ(SDGetFwDump(h, 0, buf.data(), &size), SDERR_NO_DATA);
}

// A dump collected into a file answers its path: a text that ends at its first NUL, at the bytes delivered or one
// short of the buffer, terminated inside the buffer, the caller's bytes behind the terminator kept. Through the
// driver's node (which answers the path as given, in the bytes the buffer holds) and on a sysfs port (the newest
// file of the host). Each row: the buffer's size, the text and what follows it up to the caller's own bytes.
TEST(ApiStats, DumpFilePathEndsInsideTheBuffer) {
    using namespace std::string_literals;
    constexpr size_t kBehind = 16;  // caller's bytes behind the buffer's size
    const auto expect_buffer = [](const Bytes& buf, uint32_t room, const std::string& head) {
        Bytes want(room + kBehind, apitest::kFill);
        std::copy(head.begin(), head.end(), want.begin());
        EXPECT_EQ(buf, want);
    };
    StatsRig rig;
    std::string path;
    rig.driver.on(EXT_CC_GET_FW_DUMP, [&path](const sim::SimRequest&) {
        sim::SimReply reply = sim::SimReply::with_status(EXT_STATUS_DUMP_FILE);
        reply.response.assign(path.begin(), path.end());
        return reply;
    });
    const struct {
        std::string answered;
        uint32_t room;
        std::string head;  // the text, its NUL and the delivered bytes behind it
        uint32_t size;     // *BufferSize after: the bytes delivered
    } rows[] = {
        {"/var/crash/vxa2xxx_fw_dump_0001", 16, "/var/crash/vxa2\0"s, 16},
        {"/var/crash/d1", 32, "/var/crash/d1\0"s, 13},
        {"/var/d\0junk"s, 32, "/var/d\0junk"s, 11},
        {"/var/crash/vxa2xxx_fw_dump_0001", 31, "/var/crash/vxa2xxx_fw_dump_000\0"s, 31},
        {"", 32, "\0"s, 0},  // nothing delivered: the caller's bytes are no path
        {"/var/crash/d1", 0, "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.answered.c_str() << " into " << row.room);
        path = row.answered;
        Bytes buf(row.room + kBehind, apitest::kFill);
        SD_UINT32 size = row.room;
        EXPECT_EQ(SDGetFwDump(rig.phys.handle, 0, buf.data(), &size), SDERR_DUMP_FILE);
        EXPECT_EQ(size, row.size);
        expect_buffer(buf, row.room, row.head);
    }

    sysfstest::BsgPortRig bsg_port;
    const std::string dir = "/opt/Varnix_Corporation/FW_Dumps/", file = dir + "fw_dump_5_20240102_080000.bin";
    for (const std::string& f : {"/etc/udev/rules.d/99-vxa2xxx.rules"s, "/lib/udev/vxa2xxx_udev.sh"s, file}) {
        bsg_port.rig.host.write_file(f, "x");
    }
    for (const auto& [room, head] : {std::pair(16u, file.substr(0, 15) + '\0'), std::pair(80u, file + '\0')}) {
        SCOPED_TRACE(room);
        Bytes buf(room + kBehind, apitest::kFill);
        SD_UINT32 size = room;
        EXPECT_EQ(SDGetFwDump(1, 0, buf.data(), &size), SDERR_DUMP_FILE);
        EXPECT_EQ(size, room);
        expect_buffer(buf, room, head);
    }
}

}  // namespace

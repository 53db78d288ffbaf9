// What the driver delivered bounds what the public calls report: ECHO and RLS answered by the accept word alone
// on an ioctl port and on a bsg port, the remote port speed and i2c reads over bsg whose record or block did not
// arrive. Each hostile answer next to the well-behaved one; the caller's buffers have guard bytes behind them.
#include "api_rig.h"
#include "sim_mgmt_bsg.h"
#include "sim_passthru.h"
#include "sim_sysfs_attrs.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::kFill;
using sim::Bytes;
using sim::BsgShort;

constexpr SD_UINT32 kUnder = SDERR_DATA_UNDERRUN;
constexpr uint32_t kAll = UINT32_MAX;
const sim::Wwn kWwpn = {0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1};
const Bytes kSent = {1, 2, 3, 4, 5, 6, 7, 8};

// A bsg answer cut to `data_in` bytes of data in that both lengths tell, only din_resid tells, or only
// reply_payload_rcv_len tells.
BsgShort both(uint32_t data_in) { return {kAll, data_in, true, true}; }
BsgShort resid(uint32_t data_in) { return {kAll, data_in, true, false}; }
BsgShort received(uint32_t data_in) { return {kAll, data_in, false, true}; }
BsgShort reply(uint32_t bytes) { return {bytes, kAll, true, true}; }

// The status, the response size and the response (8 bytes and a guard of 8) of an ECHO of kSent.
struct EchoOut {
    SD_UINT32 status;
    uint32_t size;
    Bytes resp;
    bool operator==(const EchoOut&) const = default;
};
std::ostream& operator<<(std::ostream& os, const EchoOut& e) {
    return os << std::hex << e.status << " " << std::dec << e.size << " " << testing::PrintToString(e.resp);
}

EchoOut echo(int handle) {
    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
    Bytes data = kSent, resp(16, kFill);
    uint32_t n = 8;
    const SD_UINT32 status = SDSendElsEcho(handle, 0, &d, data.data(), 8, resp.data(), &n);
    return {status, n, resp};
}

// The first n bytes echoed, the rest of the response and its guard untouched.
Bytes echoed(size_t n) {
    Bytes b(kSent.begin(), kSent.begin() + static_cast<std::ptrdiff_t>(n));
    b.resize(16, kFill);
    return b;
}

TEST(ApiBsgAnswers, EchoOnBothRoadsAndRlsOnABsgPort) {
    // ioctl port: the driver's answer, or the fabric's (empty); the outcome.
    const std::pair<Bytes, EchoOut> ioctl_rows[] = {
        {{}, {0, 8, echoed(8)}},
        {{0x02, 0, 0, 0}, {kUnder, 0, echoed(0)}},  // the accept word alone
        {{0x02, 0, 0, 0, 1, 2, 3}, {kUnder, 3, echoed(3)}},
        {{0x01, 0, 0, 0, 0, 0x09}, {SDERR_ELS_REJECTED, 6, {0x01, kFill, kFill, kFill, kFill, 0x09, kFill, kFill,
                                                            kFill, kFill, kFill, kFill, kFill, kFill, kFill, kFill}}},
    };
    for (const auto& [answer, out] : ioctl_rows) {
        apitest::ApiRig rig;
        sim::SanFabric san;
        sim::install_passthru_handlers(rig.driver, san);
        san.ports.emplace_back(sim::SanPort{kWwpn, 0, 4, {}});
        const int h = rig.add_adapter(0x2532).handle;
        if (!answer.empty()) {
            rig.driver.on(EXT_CC_SEND_ELS_PASSTHRU, [a = answer](const sim::SimRequest&) {
                return sim::SimReply::with_bytes(a);
            });
        }
        EXPECT_EQ(echo(h), out) << testing::PrintToString(answer);
    }

    // bsg port: how the job's answer is cut (none: whole); the ECHO's outcome; the RLS's status and whether the
    // counters came. The ECHO's data in holds the accept word and 8 bytes, the RLS's the accept word and 24.
    const std::tuple<std::deque<BsgShort>, EchoOut, SD_UINT32> bsg_rows[] = {
        {{}, {0, 8, echoed(8)}, 0},
        {{both(4)}, {kUnder, 0, echoed(0)}, kUnder},  // the accept word alone
        {{resid(4)}, {kUnder, 0, echoed(0)}, kUnder},
        {{received(4)}, {kUnder, 0, echoed(0)}, kUnder},
        {{both(11)}, {kUnder, 7, echoed(7)}, kUnder},
        {{both(0)}, {kUnder, 0, echoed(0)}, kUnder},   // nothing: not even the reply code is read
        {{reply(8)}, {kUnder, 8, echoed(0)}, kUnder},  // the CT/ELS status not written
    };
    const STATISTICS counted = [] {
        STATISTICS s = apitest::filled<STATISTICS>();
        std::tie(s.ControllerErrorCount, s.DeviceErrorCount, s.IOCount, s.MegabyteCount, s.LipResetCount) =
            std::tuple(0, 0, 0, 0, 0);
        std::tie(s.LinkFailureCount, s.LossOfSyncCount, s.LossOfSignalCount, s.PrimitiveSeqProtocolErrorCount,
                 s.InvalidTransmissionWordCount, s.InvalidCRCCount) = std::tuple(1, 2, 3, 4, 5, 6);
        return s;
    }();
    for (const auto& [cut, out, rls] : bsg_rows) {
        SCOPED_TRACE(testing::Message() << (cut.empty() ? kAll : cut[0].data_in) << " " << out.status);
        sysfstest::BsgPortRig r;
        r.bsg.shorts = cut;
        EXPECT_EQ(echo(1), out);
        r.bsg.shorts = cut;
        DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
        STATISTICS st = apitest::filled<STATISTICS>();
        EXPECT_EQ(SDGetStatisticsFC(1, 0, &d, &st), rls);
        const STATISTICS want = rls == 0 ? counted : apitest::filled<STATISTICS>();
        EXPECT_EQ(sim::bytes_of(&st, sizeof st), sim::bytes_of(&want, sizeof want));
        EXPECT_EQ(r.bsg.log.size(), 2u);
    }
}

// The remote port speed (vendor command 5), the loopback test (1) and an i2c read of 100 bytes from 0x10 of device
// 0xA0 (17, pieces of 64 and 36) on a bsg port: a reply or block that did not arrive fails the call with the speed
// untouched, no mailbox taken, the pieces before it kept and nothing behind them written.
TEST(ApiBsgAnswers, PortSpeedLoopbackAndI2cReadsWhoseRecordDidNotArrive) {
    // The port parameter reply: the header (16 bytes), then the record whose speed code ends at byte 36.
    const std::pair<std::deque<BsgShort>, std::pair<SD_UINT32, SD_UINT32>> speed_rows[] = {
        {{}, {0, 0x10}},
        {{reply(16)}, {kUnder, 99}},  // the job done, the record not written: code 0 would read as 1 Gb/s
        {{reply(35)}, {kUnder, 99}},
        {{reply(11)}, {kUnder, 99}},
        {{reply(3)}, {kUnder, 99}},   // not even the result
    };
    for (const auto& [cut, out] : speed_rows) {
        sysfstest::BsgPortRig r;
        sim::SimMgmtBsg mgmt;
        mgmt.speed_code = 0x13;  // 16 Gb/s
        mgmt.serve(r.bsg);
        r.bsg.shorts = cut;
        DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
        SD_UINT32 speed = 99;
        const SD_UINT32 status = SDGetTargetIDMALinkSpeed(1, 0, &d, &speed);
        EXPECT_EQ(std::pair(status, speed), out) << (cut.empty() ? kAll : cut[0].reply);
    }

    // The loopback reply: the header, the mailboxes from byte 16, the command sent at byte 80. A reply cut short of
    // them takes nothing of it.
    const std::pair<std::deque<BsgShort>, SD_UINT32> loopback_rows[] = {
        {{}, 0}, {{reply(80)}, kUnder}, {{reply(16)}, kUnder}};
    for (const auto& [cut, out] : loopback_rows) {
        sysfstest::BsgPortRig r;
        sim::SimMgmtBsg mgmt;
        std::tie(mgmt.mailbox[0], mgmt.command_sent) = std::tuple(0x4000, 0x72);
        mgmt.serve(r.bsg);
        r.bsg.shorts = cut;
        Bytes tx(64, 7), rx(64);
        LOOPBACKSTATUS st{};
        const SD_UINT32 status = SDRunDiagLoopbackEx(1, 0, 0, tx.data(), 64, rx.data(), 64, 1, &st);
        const bool whole = out == 0;
        EXPECT_EQ(std::tuple(status, st.CommandSent, st.TestResult == 1), std::tuple(out, whole ? 0x72 : 0, whole));
    }

    // The cuts of the two pieces; the status and the bytes read (the rest of the buffer and its guard untouched).
    const std::tuple<std::deque<BsgShort>, SD_UINT32, size_t, size_t> i2c_rows[] = {
        {{}, 0, 100, 2},
        {{{}, both(0)}, kUnder, 64, 2},      // the second block did not arrive
        {{{}, both(8 + 35)}, kUnder, 64, 2}, // the second block short of its last byte
        {{both(8 + 63)}, kUnder, 0, 1},
        {{resid(0)}, kUnder, 0, 1},
        {{received(0)}, kUnder, 0, 1},
        {{{}, reply(11)}, kUnder, 64, 2},    // the piece's status word not written
    };
    for (const auto& [cut, status, read, pieces] : i2c_rows) {
        SCOPED_TRACE(testing::Message() << cut.size() << " " << read);
        sysfstest::BsgPortRig r;
        sim::SimI2c i2c{{{0xA0, sim::pattern(256, 3)}}};
        i2c.attach(r.bsg);
        r.bsg.shorts = cut;
        Bytes buf(108, kFill), want = buf;
        std::copy_n(i2c.memory[0xA0].begin() + 0x10, read, want.begin());
        EXPECT_EQ(SDReadSFPData(1, 0, 0xA0, buf.data(), 100, 0x10, 0, nullptr), status);
        EXPECT_EQ(buf, want);
        EXPECT_EQ(r.bsg.log.size(), pieces);
    }
}

}  // namespace

// The request headers, the ioctl send path and the small helpers, driven
// against the simulated adapter driver.
#include "test_support.h"

namespace {

using sim::Bytes;

// One adapter with one port (driver instance 0).
class IoctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(rig.fd, 0);
        rig.driver.add_port(rig.driver.add_adapter());
        vx_debug = 0xFFFFFFFF;  // every trace call site runs
    }
    void TearDown() override { vx_debug = 0; }

    // Sends a request for `buf` (the driver answers with `answer`) with the
    // record of driver instance 0; the result, the reply in `reply`.
    int send(bool new_header, Bytes& buf, uint8_t command, const Bytes& answer, bool retry_busy = false,
             uint32_t response_len = 0) {
        driver.on(command, [answer](const sim::SimRequest&) {
            sim::SimReply r;
            r.response = answer;
            return r;
        });
        const vxapi_priv_database rec = sim::DriverRig::record(new_header, 0);
        VxRequest req;
        req.command = command;
        req.sub_code = 0xFFFF;
        req.request_len = 4096;
        req.reserved1 = 0x1000;
        req.response = buf.data();
        req.response_len = response_len != 0 ? response_len : static_cast<uint32_t>(buf.size());
        req.retry_busy = retry_busy;
        return vxapi_send_request("test", rig.fd, &rec, req, &reply);
    }

    sim::DriverRig rig;
    sim::SimDriver& driver = rig.driver;
    VxReply reply;
};

// A busy answer that rewrote ResponseLen to 0 must not shrink the resend:
// the full data arrives after one wait of 20 s. Busy three times: status 2
// after two waits. Without retry_busy the busy answer goes to the caller.
TEST_F(IoctlTest, BusyThenSuccessDeliversTheFullData) {
    const Bytes flash = sim::pattern(4096, 1);
    const struct { bool new_header; int busy; bool retry; uint32_t status; size_t sends; } cases[] = {
        {true, 1, true, 0, 2}, {false, 1, true, 0, 2}, {true, 5, true, EXT_STATUS_BUSY, 3},
        {true, 5, false, EXT_STATUS_BUSY, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "header " << c.new_header << " busy " << c.busy << " retry " << c.retry);
        rig.host.clear_sleeps();
        driver.clear_log();
        driver.inject_busy(c.busy, /*zero_response_len=*/true);
        Bytes buf(4096, 0);
        ASSERT_EQ(send(c.new_header, buf, EXT_CC_READ_OPTROM, flash, c.retry), 0);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(rig.host.sleep_seconds(), std::vector<unsigned>(c.sends - 1, 20));
        const auto log = driver.log();
        ASSERT_EQ(log.size(), c.sends);
        EXPECT_EQ(sim::describe(log.back()), sim::describe(log[0]));
        EXPECT_EQ(log.back().time - log[0].time, 20 * static_cast<time_t>(c.sends - 1));
        if (c.status != 0) continue;
        EXPECT_EQ(reply.response_len, 4096u);
        EXPECT_EQ(buf, flash);
    }
}

// The reply reports what arrived: never past the caller's buffer whatever
// length the driver reports, what a short answer brought, and nothing on a
// failed ioctl (result -1 with the kernel's errno; callers test the result).
TEST_F(IoctlTest, ReportedLengthIsClampedToTheBuffer) {
    const Bytes answer = sim::pattern(256, 5);
    Bytes buf(64 + 16, 0xAA);
    driver.inject_overreport(1000);
    ASSERT_EQ(send(true, buf, EXT_CC_GET_AEN, answer, false, 64), 0);
    EXPECT_EQ(reply.response_len, 64u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 64, answer.begin()));
    EXPECT_TRUE(sim::all_bytes(buf, 64, 0xAA));
    driver.inject_short(10);
    ASSERT_EQ(send(true, buf, EXT_CC_GET_AEN, answer, false, 64), 0);
    EXPECT_EQ(reply.response_len, 10u);

    buf.assign(64, 0xAA);
    driver.inject_errno(EIO);
    errno = 0;
    EXPECT_EQ(send(true, buf, EXT_CC_GET_VPD, Bytes(64, 1), true), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(std::tuple(reply.status, reply.response_len), std::tuple(0u, 0u));
    EXPECT_EQ(buf, Bytes(64, 0xAA));
    const int node = rig.fd;
    rig.fd = 12345;  // a descriptor that is no device at all
    errno = 0;
    EXPECT_EQ(send(true, buf, EXT_CC_GET_VPD, Bytes(64, 1)), -1);
    EXPECT_NE(errno, 0);
    rig.fd = node;
}

TEST(IoctlHelpers, ByteOrderAndTextHelpers) {
    uint8_t bytes[] = {1, 2, 3, 4, 9};
    vxapi_chg_endian(bytes, 4);
    vxapi_chg_endian(bytes + 1, 3);
    vxapi_chg_endian(bytes + 4, 1);
    vxapi_chg_endian(bytes, 0);
    EXPECT_EQ(sim::bytes_of(bytes, 5), (Bytes{4, 1, 2, 3, 9}));
    EXPECT_EQ(vxapi_init_ext_ioctl_n(0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr), 1);  // no header to fill
    EXPECT_EQ(vxapi_init_ext_ioctl_o(0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr), 1);
    EXPECT_EQ(convert_ioctl(0xC07479FFu), 0xC00879FFu);  // the old header's size in the code
    EXPECT_EQ(convert_ioctl(0xC07479C8u), 0xC00879C8u);
    const uint8_t zero[8] = {}, last[8] = {0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::tuple(vxapi_is_wwn_zero(zero), vxapi_is_wwn_zero(last)), std::tuple(1, 0));
    // Only the C locale's white space counts; bytes above 0x7F are none.
    const struct { const char* text; uint32_t n; int want; } cases[] = {
        {"", 0, 1}, {"abc", 0, 1}, {"  a", 3, 0}, {" \t\n\v\f\r", 6, 1}, {"\xA0\xA0", 2, 0}, {"\x85", 1, 0},
        {" \xFF", 2, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(vxapi_is_all_spaces(reinterpret_cast<const uint8_t*>(c.text), c.n), c.want) << '"' << c.text << '"';
}

}  // namespace

// The request headers, the ioctl send path, the worker frame, set instance,
// driver specifics and the small helpers, driven against the simulated
// adapter driver.
#include "test_support.h"
#include "transport/vx_sysfs.h"

namespace {

using sim::Bytes;

// One adapter with two ports (driver instances 0 and 1, host numbers 7 and 9).
class IoctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(rig.fd, 0);
        sim::SimAdapter& adapter = rig.driver.add_adapter();
        rig.driver.add_port(adapter).host_no = 7;
        rig.driver.add_port(adapter).host_no = 9;
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

// Both layouts byte by byte, and the codes each travels with.
TEST_F(IoctlTest, HeaderLayoutsAndCommandCodes) {
    const struct {
        bool new_header;
        size_t size;
        uint16_t version;
        size_t adr, hba_select, vendor_data;
    } cases[] = {{true, sizeof(EXT_IOCTL), 7, 36, 52, 76}, {false, sizeof(EXT_IOCTL_O), 5, 40, 56, 80}};
    uint8_t request[16] = {}, response[32] = {};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.new_header ? "new header" : "old header");
        for (bool with_record : {true, false}) {
            const vxapi_priv_database rec = sim::DriverRig::record(c.new_header, 0xABCD0007);
            const vxapi_priv_database* r = with_record ? &rec : nullptr;
            Bytes hdr(c.size, 0xEE);  // the builder zeroes what it does not fill
            ASSERT_EQ(c.new_header
                          ? vxapi_init_ext_ioctl_n(0x1234, 0x5678, request, 0x11223344, response, 0x55667788,
                                                   r, reinterpret_cast<EXT_IOCTL*>(hdr.data()))
                          : vxapi_init_ext_ioctl_o(0x1234, 0x5678, request, 0x11223344, response, 0x55667788,
                                                   r, reinterpret_cast<EXT_IOCTL_O*>(hdr.data())),
                      0);
            Bytes want(c.size, 0);
            const auto put = [&](size_t off, auto value) {
                std::memcpy(want.data() + off, &value, sizeof value);
            };
            std::memcpy(want.data(), "VARNIX", 6);
            put(8, uint16_t{2});
            put(10, c.version);
            put(12, uint32_t{0x56781234});
            put(28, uint64_t{0x5566778811223344});
            put(c.adr, reinterpret_cast<uintptr_t>(request));
            put(c.adr + 8, reinterpret_cast<uintptr_t>(response));
            if (with_record) put(c.hba_select, uint16_t{7});  // low 16 bits of drvr_inst
            put(c.vendor_data, uint64_t{2});
            EXPECT_EQ(hdr, want) << (with_record ? "with record" : "without record");
        }
        EXPECT_EQ(c.new_header ? vxapi_init_ext_ioctl_n(0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr)
                               : vxapi_init_ext_ioctl_o(0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr),
                  1);
        // As sent: the driver decodes the same fields from the code's layout.
        const vxapi_priv_database rec = sim::DriverRig::record(c.new_header, 1);
        VxRequest req;
        req.command = EXT_CC_QUERY;
        req.sub_code = 3;
        req.instance = 4;
        req.reserved1 = 0x40000;
        driver.clear_log();
        ASSERT_EQ(vxapi_send_request("test", rig.fd, &rec, req, &reply), 0);
        EXPECT_EQ(driver.log().at(0).code, (c.new_header ? 0xC0747900u : 0xC0087900u) | EXT_CC_QUERY);
        EXPECT_EQ(sim::describe(driver.log()[0]),
                  sim::describe({0, c.new_header, 0, 3, 4, 0x40000, 1, 0, 0}));
    }
    EXPECT_EQ(vx_ioctl_code(EXT_CC_GET_HBA_CNT), 0xC07479FFu);
    EXPECT_EQ(convert_ioctl(0xC07479FFu), 0xC00879FFu);
    EXPECT_EQ(convert_ioctl(0xC07479C8u), 0xC00879C8u);
}

// A busy answer that rewrote ResponseLen to 0 must not shrink the resend:
// the full data arrives after one wait of 20 seconds.
TEST_F(IoctlTest, BusyThenSuccessDeliversTheFullData) {
    const Bytes flash = sim::pattern(4096, 1);
    for (bool new_header : {true, false}) {
        SCOPED_TRACE(new_header ? "new header" : "old header");
        rig.host.clear_sleeps();
        driver.clear_log();
        driver.inject_busy(1, /*zero_response_len=*/true);
        Bytes buf(4096, 0);
        ASSERT_EQ(send(new_header, buf, EXT_CC_READ_OPTROM, flash, true), 0);
        EXPECT_EQ(reply.status, 0u);
        EXPECT_EQ(reply.response_len, 4096u);
        EXPECT_EQ(buf, flash);
        EXPECT_EQ(rig.host.sleep_seconds(), std::vector<unsigned>{20});
        const auto log = driver.log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(sim::describe(log[1]), sim::describe(log[0]));
        EXPECT_EQ(log[1].response_len, 4096u);
        EXPECT_EQ(log[1].time - log[0].time, 20);
    }
}

// Busy three times: status 2 after two waits. Without retry_busy the busy
// answer goes straight to the caller.
TEST_F(IoctlTest, BusyRetriesStopAfterTwoResends) {
    for (bool retry : {true, false}) {
        rig.host.clear_sleeps();
        driver.clear_log();
        driver.inject_busy(5);
        Bytes buf(8);
        EXPECT_EQ(send(true, buf, EXT_CC_READ_NVRAM, Bytes(8, 1), retry), 0);
        EXPECT_EQ(reply.status, EXT_STATUS_BUSY);
        EXPECT_EQ(rig.host.sleep_seconds(),
                  (retry ? std::vector<unsigned>{20, 20} : std::vector<unsigned>{}));
        EXPECT_EQ(driver.log().size(), retry ? 3u : 1u);
    }
}

// A failed ioctl: result -1 with the kernel's errno, the zeroed header's
// status (callers must test the result), nothing delivered.
TEST_F(IoctlTest, IoctlFailureKeepsErrno) {
    Bytes buf(64, 0xAA);
    driver.inject_errno(EIO);
    errno = 0;
    EXPECT_EQ(send(true, buf, EXT_CC_GET_VPD, Bytes(64, 1), true), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.response_len, 0u);
    EXPECT_EQ(buf, Bytes(64, 0xAA));
    EXPECT_EQ(driver.log().size(), 1u);
    const int node = rig.fd;
    rig.fd = 12345;  // a descriptor that is no device at all
    errno = 0;
    EXPECT_EQ(send(true, buf, EXT_CC_GET_VPD, Bytes(64, 1)), -1);
    EXPECT_NE(errno, 0);
    rig.fd = node;
}

// The driver's reported length never reaches past the caller's buffer; a
// short answer reports what arrived.
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
}

TEST_F(IoctlTest, SetInstanceAndDriverSpecifics) {
    sim::SimPort& port = *driver.find_port(1);
    port.driver_data.DrvVer = {8, 2, 5, 1, {}};
    port.driver_data.Flags = 0xC;
    for (bool new_header : {true, false}) {
        SCOPED_TRACE(new_header ? "new header" : "old header");
        vxapi_priv_database rec = sim::DriverRig::record(new_header, 1);
        uint32_t status = 99;
        uint16_t host_no = 0;
        EXPECT_EQ(vxapi_set_instance(rig.fd, 1, &rec, &status, &host_no), 0);
        EXPECT_EQ(std::tuple(status, host_no, driver.selected_instance()), std::tuple(0u, uint16_t{9}, 1));
        EXPECT_EQ(driver.log().back().command, EXT_CC_SET_INSTANCE);
        EXPECT_EQ(driver.log().back().instance, 1);
        EXPECT_EQ(vxapi_set_instance(rig.fd, 5, &rec, &status, &host_no), 0);
        EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
        EXT_LN_DRIVER_DATA data{};
        EXPECT_EQ(vxapi_get_driver_specifics(rig.fd, &rec, &data, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(sim::bytes_of(&data, sizeof data), sim::bytes_of(&port.driver_data, sizeof data));
        EXPECT_EQ(driver.log().back().response_len, 64u);
    }
    // A sysfs port answers from its attributes, without a request.
    driver.clear_log();
    vxapi_priv_database rec = sim::DriverRig::record(true, 1, VX_FEAT_SYSFS);
    EXT_LN_DRIVER_DATA data{};
    uint32_t status = 1;
    EXPECT_EQ(vxapi_get_driver_specifics(rig.fd, &rec, &data, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(data.Flags, VXSYSFS_DRIVER_FLAG_VERSION);
    EXPECT_TRUE(driver.log().empty());
}

TEST(IoctlHelpers, ByteOrderAndTextHelpers) {
    uint8_t bytes[] = {1, 2, 3, 4, 9};
    vxapi_chg_endian(bytes, 4);
    vxapi_chg_endian(bytes + 1, 3);
    vxapi_chg_endian(bytes + 4, 1);
    vxapi_chg_endian(bytes, 0);
    EXPECT_EQ(sim::bytes_of(bytes, 5), (Bytes{4, 1, 2, 3, 9}));
    const uint8_t zero[8] = {}, last[8] = {0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(vxapi_is_wwn_zero(zero), 1);
    EXPECT_EQ(vxapi_is_wwn_zero(last), 0);
    // Only the C locale's white space counts; bytes above 0x7F are none.
    const struct { const char* text; uint32_t n; int want;
    } cases[] = {{"", 0, 1},         {"abc", 0, 1},  {"  a", 3, 0},  {" \t\n\v\f\r", 6, 1},
                 {"\xA0\xA0", 2, 0}, {"\x85", 1, 0}, {" \xFF", 2, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(vxapi_is_all_spaces(reinterpret_cast<const uint8_t*>(c.text), c.n), c.want)
            << '"' << c.text << '"';
}

}  // namespace

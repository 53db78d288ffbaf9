// The request headers, the ioctl send path, the worker frame, set instance,
// driver specifics and the small helpers, driven against the simulated
// adapter driver.
#include "test_support.h"

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

    // A request for `buf`, answered by the driver with `answer`.
    VxRequest read_into(Bytes& buf, uint8_t command, const Bytes& answer) {
        rig.driver.on(command, [answer](const sim::SimRequest&) {
            sim::SimReply r;
            r.response = answer;
            return r;
        });
        VxRequest req;
        req.command = command;
        req.response = buf.data();
        req.response_len = static_cast<uint32_t>(buf.size());
        return req;
    }

    sim::DriverRig rig;
    sim::SimDriver& driver = rig.driver;
    const int& fd = rig.fd;
};

template <class T>
void put(Bytes& bytes, size_t off, T value) {
    std::memcpy(bytes.data() + off, &value, sizeof value);
}

// Both layouts byte by byte, and the codes each travels with.
TEST_F(IoctlTest, HeaderLayoutsAndCommandCodes) {
    struct Case {
        bool new_header;
        size_t size;
        uint16_t version;
        size_t request_adr, response_adr, hba_select, vendor_data;
        uint32_t code_prefix;
    };
    const Case cases[] = {{true, sizeof(EXT_IOCTL), 7, 36, 44, 52, 76, 0xC0747900u},
                          {false, sizeof(EXT_IOCTL_O), 5, 40, 48, 56, 80, 0xC0087900u}};
    uint8_t request[16] = {};
    uint8_t response[32] = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.new_header ? "new header" : "old header");
        const auto init = [&](const vxapi_priv_database* r, void* hdr) {
            return c.new_header ? vxapi_init_ext_ioctl_n(0x1234, 0x5678, request, 0x11223344, response, 0x55667788,
                                                         r, static_cast<EXT_IOCTL*>(hdr))
                                : vxapi_init_ext_ioctl_o(0x1234, 0x5678, request, 0x11223344, response, 0x55667788,
                                                         r, static_cast<EXT_IOCTL_O*>(hdr));
        };
        for (bool with_record : {true, false}) {
            const vxapi_priv_database rec = sim::DriverRig::record(c.new_header, 0xABCD0007);
            Bytes hdr(c.size, 0xEE);  // the builder zeroes what it does not fill
            ASSERT_EQ(init(with_record ? &rec : nullptr, hdr.data()), 0);
            Bytes want(c.size, 0);
            std::memcpy(want.data(), "VARNIX\0\0", 8);
            put<uint16_t>(want, 8, 2);
            put<uint16_t>(want, 10, c.version);
            put<uint16_t>(want, 12, 0x1234);
            put<uint16_t>(want, 14, 0x5678);
            put<uint32_t>(want, 28, 0x11223344);
            put<uint32_t>(want, 32, 0x55667788);
            put<uint64_t>(want, c.request_adr, reinterpret_cast<uintptr_t>(request));
            put<uint64_t>(want, c.response_adr, reinterpret_cast<uintptr_t>(response));
            if (with_record) put<uint16_t>(want, c.hba_select, 7);  // low 16 bits of drvr_inst
            put<uint64_t>(want, c.vendor_data, 2);
            EXPECT_EQ(hdr, want) << (with_record ? "with record" : "without record");
        }
        EXPECT_EQ(c.new_header ? vxapi_init_ext_ioctl_n(0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr)
                               : vxapi_init_ext_ioctl_o(0, 0, nullptr, 0, nullptr, 0, nullptr, nullptr),
                  1);

        // As sent: the driver decodes the same fields from the code's layout.
        for (uint8_t command : {EXT_CC_QUERY, EXT_CC_READ_OPTROM, EXT_CC_DRIVER_SPECIFIC, EXT_CC_GET_HBA_CNT}) {
            driver.clear_log();
            const vxapi_priv_database rec = sim::DriverRig::record(c.new_header, 1);
            VxRequest req;
            req.command = command;
            req.sub_code = 3;
            req.instance = 4;
            req.reserved1 = 0x40000;
            VxReply reply;
            ASSERT_EQ(vxapi_send_request("test", fd, &rec, req, &reply), 0);
            const auto log = driver.log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].code, c.code_prefix | command);
            EXPECT_EQ(log[0].new_layout, c.new_header);
            EXPECT_EQ(log[0].command, command);
            EXPECT_EQ(log[0].sub_code, 3);
            EXPECT_EQ(log[0].instance, 4);
            EXPECT_EQ(log[0].reserved1, 0x40000u);
            EXPECT_EQ(log[0].hba_select, 1);
        }
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
        const vxapi_priv_database rec = sim::DriverRig::record(new_header, 0);
        Bytes buf(4096, 0);
        VxRequest req = read_into(buf, EXT_CC_READ_OPTROM, flash);
        req.sub_code = 0xFFFF;
        req.request_len = 4096;
        req.reserved1 = 0x1000;
        req.retry_busy = true;
        VxReply reply;
        ASSERT_EQ(vxapi_send_request("vxapi_read_flash", fd, &rec, req, &reply), 0);
        EXPECT_EQ(reply.status, 0u);
        EXPECT_EQ(reply.response_len, 4096u);
        EXPECT_EQ(buf, flash);
        EXPECT_EQ(rig.host.sleep_seconds(), std::vector<unsigned>{20});
        const auto log = driver.log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].response_len, 4096u);
        EXPECT_EQ(log[1].request_len, 4096u);
        EXPECT_EQ(log[1].reserved1, 0x1000u);
        EXPECT_EQ(log[1].time - log[0].time, 20);
    }
}

TEST_F(IoctlTest, BusyRetriesStopAfterTwoResends) {
    const vxapi_priv_database rec = sim::DriverRig::record(true, 0);
    Bytes buf(8);
    VxRequest req = read_into(buf, EXT_CC_READ_NVRAM, Bytes(8, 1));
    req.retry_busy = true;
    VxReply reply;
    driver.inject_busy(5);
    EXPECT_EQ(vxapi_send_request("vxapi_get_nvram", fd, &rec, req, &reply), 0);
    EXPECT_EQ(reply.status, EXT_STATUS_BUSY);
    EXPECT_EQ(rig.host.sleep_seconds(), (std::vector<unsigned>{20, 20}));
    EXPECT_EQ(driver.log().size(), 3u);

    // Without retry_busy the busy answer goes straight to the caller.
    rig.host.clear_sleeps();
    driver.clear_log();
    driver.inject_busy(1);
    req.retry_busy = false;
    EXPECT_EQ(vxapi_send_request("vxapi_query_hbanode", fd, &rec, req, &reply), 0);
    EXPECT_EQ(reply.status, EXT_STATUS_BUSY);
    EXPECT_TRUE(rig.host.sleep_seconds().empty());
    EXPECT_EQ(driver.log().size(), 1u);
}

// A failed ioctl: result -1 with the kernel's errno, the zeroed header's
// status (callers must test the result), nothing delivered.
TEST_F(IoctlTest, IoctlFailureKeepsErrno) {
    const vxapi_priv_database rec = sim::DriverRig::record(true, 0);
    Bytes buf(64, 0xAA);
    VxRequest req = read_into(buf, EXT_CC_GET_VPD, Bytes(64, 1));
    req.retry_busy = true;
    VxReply reply;
    driver.inject_errno(EIO);
    errno = 0;
    EXPECT_EQ(vxapi_send_request("vxapi_get_vpd", fd, &rec, req, &reply), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.response_len, 0u);
    EXPECT_EQ(buf, Bytes(64, 0xAA));
    EXPECT_EQ(driver.log().size(), 1u);
    errno = 0;  // a descriptor that is no device at all
    EXPECT_EQ(vxapi_send_request("vxapi_get_vpd", 12345, &rec, req, &reply), -1);
    EXPECT_NE(errno, 0);
}

// The driver's reported length never reaches past the caller's buffer.
TEST_F(IoctlTest, ReportedLengthIsClampedToTheBuffer) {
    const Bytes answer = sim::pattern(256, 5);
    const vxapi_priv_database rec = sim::DriverRig::record(true, 0);
    Bytes buf(64 + 16, 0xAA);
    VxRequest req = read_into(buf, EXT_CC_GET_AEN, answer);
    req.response_len = 64;
    VxReply reply;
    driver.inject_overreport(1000);
    ASSERT_EQ(vxapi_send_request("vxapi_async_event_get", fd, &rec, req, &reply), 0);
    EXPECT_EQ(reply.response_len, 64u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 64, answer.begin()));
    EXPECT_TRUE(sim::all_bytes(buf, 64, 0xAA));
    driver.inject_short(10);  // a short answer reports what arrived
    ASSERT_EQ(vxapi_send_request("vxapi_async_event_get", fd, &rec, req, &reply), 0);
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
        EXPECT_EQ(vxapi_set_instance(fd, 1, &rec, &status, &host_no), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(host_no, 9);
        EXPECT_EQ(driver.selected_instance(), 1);
        EXPECT_EQ(driver.log().back().command, EXT_CC_SET_INSTANCE);
        EXPECT_EQ(driver.log().back().instance, 1);
        EXPECT_EQ(vxapi_set_instance(fd, 5, &rec, &status, &host_no), 0);
        EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);

        EXT_LN_DRIVER_DATA data{};
        status = 99;
        EXPECT_EQ(vxapi_get_driver_specifics(fd, &rec, &data, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(std::memcmp(&data, &port.driver_data, sizeof data), 0);
        EXPECT_EQ(driver.log().back().response_len, 64u);
    }
    // A sysfs port has no driver-specifics request yet: no transport.
    driver.clear_log();
    vxapi_priv_database rec = sim::DriverRig::record(true, 1, VX_FEAT_SYSFS);
    EXT_LN_DRIVER_DATA data{};
    uint32_t status = 0;
    EXPECT_EQ(vxapi_get_driver_specifics(fd, &rec, &data, &status), VX_RESULT_NO_TRANSPORT);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    EXPECT_TRUE(driver.log().empty());
}

TEST(IoctlHelpers, ByteOrderAndTextHelpers) {
    uint8_t four[] = {1, 2, 3, 4};
    vxapi_chg_endian(four, 4);
    EXPECT_EQ(Bytes(four, four + 4), (Bytes{4, 3, 2, 1}));
    uint8_t odd[] = {1, 2, 3};
    vxapi_chg_endian(odd, 3);
    EXPECT_EQ(Bytes(odd, odd + 3), (Bytes{3, 2, 1}));
    uint8_t one[] = {9, 8};
    vxapi_chg_endian(one, 1);
    vxapi_chg_endian(one, 0);
    EXPECT_EQ(Bytes(one, one + 2), (Bytes{9, 8}));

    const uint8_t zero[8] = {};
    const uint8_t last[8] = {0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(vxapi_is_wwn_zero(zero), 1);
    EXPECT_EQ(vxapi_is_wwn_zero(last), 0);
    const struct {
        const char* text;
        uint32_t n;
        int want;
    } cases[] = {{"", 0, 1},   {"abc", 0, 1},        {"  a", 3, 0},     {" \t\n\v\f\r", 6, 1},
                 {"  ", 2, 1}, {"\xA0\xA0", 2, 0},   {"\x85", 1, 0},    {" \xFF", 2, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(vxapi_is_all_spaces(reinterpret_cast<const uint8_t*>(c.text), c.n), c.want) << '"' << c.text << '"';
    int x = 0;
    EXPECT_EQ(vxapi_64bit_to_ptr(vxapi_ptr_to_64bit(&x)), &x);
    EXPECT_EQ(vxapi_ptr_to_64bit(nullptr), 0u);
}

}  // namespace

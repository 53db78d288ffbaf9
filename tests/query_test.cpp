// The query, statistics and event workers on both request headers, the send
// path under them and its small helpers, driven against the simulated driver.
#include "core/io/vx_query.h"
#include "image/flash_formats.h"
#include "sim_queries.h"
#include "test_support.h"
#include "transport/vx_ioctl_road.h"

namespace {

using sim::Bytes;

constexpr uint32_t kHostNo = 0x01234567;  // stamped into events: distinct from any pattern
constexpr size_t kGuard = 64;             // bytes behind every buffer that nobody may write
constexpr uint8_t kGuardByte = 0xA5;

// One adapter with one port that answers queries (driver instance 0).
class QueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(fd, 0);
        port = &sim::add_query_port(driver, driver.add_adapter());
        vx_debug = 0xFFFFFFFF;  // every trace call site runs
    }
    void TearDown() override { vx_debug = 0; }
    vxapi_priv_database record(bool new_header, uint32_t extra_features = 0) const {
        vxapi_priv_database rec = sim::DriverRig::record(new_header, port->instance, extra_features);
        rec.host_no = kHostNo;
        rec.oshandle = fd;
        return rec;
    }
    sim::DriverRig rig;
    sim::SimDriver& driver = rig.driver;
    const int& fd = rig.fd;
    sim::SimPort* port = nullptr;
};

// What one worker call works with (length: in/out, for the workers that have
// one); null pointers where a test leaves them out.
struct Buffers {
    uint8_t *request = nullptr, *response = nullptr;
    uint32_t *status = nullptr, *detail = nullptr, *length = nullptr;
};

// Hands out the detail status; hands back the bytes delivered in *length; a
// sysfs port takes the ioctl road too; its twin answers from sysfs; and fails
// there without a fabric behind the port.
constexpr unsigned kDetail = 1, kLength = 2, kNoTwin = 4, kSysfs = 8, kSysfsFails = 16;

using R = vxapi_priv_database*;
using B = const Buffers&;
template <class T> T* as(B b) { return reinterpret_cast<T*>(b.response); }

// The request's code, sub-code, instance and lengths as the driver sees them.
const struct WorkerCase {
    const char* name;
    uint8_t command;
    uint16_t sub_code, instance;
    uint32_t request_len, response_len;
    unsigned flags;
    std::function<int(int, R, B)> call;
} kWorkers[] = {
    {"query_hbanode", 0x00, 1, 0, 0, 696, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_hbanode(fd, r, as<EXT_HBA_NODE>(b), b.status); }},
    {"query_hbaport", 0x00, 2, 0, 0, 56, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_hbaport(fd, r, as<EXT_HBA_PORT>(b), b.status); }},
    {"query_discport", 0x00, 3, 5, 0, 60, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_discport(fd, r, 5, as<EXT_DISC_PORT>(b), b.status); }},
    {"query_disctgt", 0x00, 4, 0x1234, 0, 60, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_disctgt(fd, r, 0x1234, as<EXT_DISC_TARGET>(b), b.status); }},
    {"query_chip", 0x00, 8, 0, 0, 84, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_chip(fd, r, as<EXT_CHIP>(b), b.status); }},
    {"query_cnaport", 0x00, 9, 0, 0, 128, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_cnaport(fd, r, as<EXT_CNA_PORT>(b), b.status); }},
    {"query_driver", 0x06, 6, 0, 0, 200, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_driver(fd, r, as<EXT_DRIVER>(b), b.status); }},
    {"query_fw", 0x06, 7, 0, 0, 200, kSysfs,
     [](int fd, R r, B b) { return vxapi_query_fw(fd, r, as<EXT_FW>(b), b.status); }},
    {"get_statistics", 0x06, 3, 0, 0, 112, kDetail | kSysfs,
     [](int fd, R r, B b) { return vxapi_get_statistics(fd, r, as<EXT_HBA_PORT_STAT>(b), b.status, b.detail); }},
    {"get_port_statistics", 0x06, 0x70, 0, 16, 112, kDetail | kSysfs | kSysfsFails,
     [](int fd, R r, B b) {
         return vxapi_get_port_statistics(fd, r, b.request, as<EXT_HBA_PORT_STAT>(b), b.status, b.detail);
     }},
    {"get_fc4_statistics", 0x06, 9, 0, 16, 112, kDetail | kNoTwin,
     [](int fd, R r, B b) { return vxapi_get_fc4_statistics(fd, r, b.request, b.response, b.status, b.detail); }},
    {"get_port_summary", 0x06, 0x6A, 0, 4, 8 + 2 * 172, kDetail | kSysfs,
     [](int fd, R r, B b) {
         return vxapi_get_port_summary(fd, r, b.request, b.response, 8 + 2 * 172, b.status, b.detail);
     }},
    {"get_dcbx_param", 0x06, 11, 0, 0, 100, kLength | kSysfs,
     [](int fd, R r, B b) { return vxapi_get_dcbx_param(fd, r, b.response, b.length, b.status); }},
    {"wwpn_to_scsiaddr", 0xFD, 0, 0, 8, 16, kSysfs,
     [](int fd, R r, B b) {
         return vxapi_wwpn_to_scsiaddr(fd, r, b.request, 8, as<EXT_SCSI_ADDR>(b), b.status);
     }},
};

// Every worker on both headers: the request as the driver sees it, the record
// it delivers (no more than the buffer holds), its verdict, the ioctl's errno.
TEST_F(QueryTest, EveryWorkerOnBothHeaders) {
    for (const WorkerCase& c : kWorkers) {
        SCOPED_TRACE(c.name);
        // The driver answers with twice what the buffer holds.
        const Bytes answer = sim::pattern(2 * c.response_len, 1);
        Bytes seen_request;
        driver.on(c.command, c.sub_code, [&](const sim::SimRequest& r) {
            seen_request = r.request;
            sim::SimReply reply;
            reply.response = answer;
            reply.detail_status = 0x55;
            return reply;
        });
        const Bytes expected(answer.begin(), answer.begin() + c.response_len);
        for (bool new_header : {true, false}) {
            SCOPED_TRACE(new_header ? "new header" : "old header");
            vxapi_priv_database rec = record(new_header);
            Bytes request, response;
            uint32_t status, detail, length;
            const auto call = [&](vxapi_priv_database* r) {
                request = sim::pattern(c.request_len, 90);
                response.assign(c.response_len + kGuard, kGuardByte);
                status = detail = 0xDEAD;
                length = c.response_len;
                return c.call(fd, r, {request.data(), response.data(), &status, &detail, &length});
            };
            const auto guard_intact = [&] { return sim::all_bytes(response, c.response_len, kGuardByte); };
            driver.clear_log();
            ASSERT_EQ(call(&rec), 0);  // delivered
            const uint32_t want_detail = (c.flags & kDetail) ? 0x55u : 0xDEADu;
            EXPECT_EQ(std::tuple(status, length, detail), std::tuple(0u, c.response_len, want_detail));
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), response.begin()));
            EXPECT_TRUE(guard_intact());
            EXPECT_EQ(seen_request, request);
            const auto log = driver.log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].code, (new_header ? 0xC0747900ul : 0xC0087900ul) | c.command);
            EXPECT_EQ(sim::describe(log[0]),
                      sim::describe({0, new_header, c.command, c.sub_code, c.instance, 0, port->instance,
                                     c.request_len, c.response_len}));
            // The driver's refusal, and the overrun and underrun that callers
            // take for success, reach the caller unchanged.
            for (uint32_t refusal : {EXT_STATUS_ERR, EXT_STATUS_DATA_OVERRUN, EXT_STATUS_DATA_UNDERRUN}) {
                driver.inject_status(refusal);
                EXPECT_EQ(call(&rec), 0);
                EXPECT_EQ(status, refusal);
                EXPECT_TRUE(guard_intact());
            }
            // The ioctl fails: -1 with the kernel's errno.
            driver.inject_errno(ENXIO);
            errno = 0;
            EXPECT_EQ(call(&rec), -1);
            EXPECT_EQ(std::tuple(errno, length), std::tuple(ENXIO, (c.flags & kLength) ? 0u : c.response_len));
            // A driver that reports more than the buffer holds.
            driver.inject_overreport(1000);
            EXPECT_EQ(call(&rec), 0);
            EXPECT_EQ(length, c.response_len);
            EXPECT_TRUE(guard_intact());
            // A sysfs port takes the twin from sysfs and sends nothing; FC-4
            // statistics have no twin and always take the ioctl road.
            driver.clear_log();
            vxapi_priv_database sysfs = record(new_header, VX_FEAT_SYSFS);
            EXPECT_EQ(call(&sysfs), (c.flags & kSysfsFails) ? 1 : 0);
            EXPECT_EQ(driver.log().size(), (c.flags & kNoTwin) ? 1u : 0u);
        }
    }
}

// Missing buffers: no length is sent behind a null address; the event workers
// refuse a missing record or buffer, and send nothing.
TEST_F(QueryTest, NullPointersNeverCrash) {
    for (bool with_record : {true, false}) {
        vxapi_priv_database rec = record(true);
        for (const WorkerCase& c : kWorkers) {
            SCOPED_TRACE(c.name);
            driver.clear_log();
            EXPECT_EQ(c.call(fd, with_record ? &rec : nullptr, Buffers{}), 0);
            const auto log = driver.log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].request_len, 0u);
            EXPECT_EQ(log[0].response_len, 0u);
        }
    }
    driver.clear_log();
    vxapi_priv_database rec = record(true);
    uint8_t events[64];
    uint32_t length = sizeof events;
    EXPECT_EQ(vxapi_async_event_get(fd, &rec, nullptr, &length, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_EQ(vxapi_async_event_get(fd, &rec, events, nullptr, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_EQ(vxapi_async_event_get(fd, nullptr, events, &length, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_EQ(vxapi_async_event_reg(fd, nullptr, 1, nullptr, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_TRUE(driver.log().empty());
    EXPECT_EQ(vxapi_async_event_reg(fd, &rec, 1, nullptr, nullptr), 0);
    EXPECT_EQ(driver.log().size(), 1u);
}

// A driver version with "vm" shows one port, unless the interface type is 3;
// only a version and an interface type that came say so.
TEST_F(QueryTest, VmDriverVersionShowsOnePort) {
    constexpr uint32_t kWhole = sizeof(EXT_HBA_NODE);
    constexpr uint32_t kToInterfaceType = offsetof(EXT_HBA_NODE, InterfaceType) + 2;
    // The version field has 128 bytes, without terminator when all are used.
    // delivered: the bytes the driver delivers, status: the worker's status.
    const struct { std::string version; uint16_t interface_type, port_count; uint32_t delivered, status; } cases[] = {
        {"8.07.00-vm", 2, 1, kWhole, 0}, {"vm8.07", 0, 1, kWhole, 0}, {"8.07.00-vm", 3, 4, kWhole, 0},
        {"8.07.00-v-m", 2, 4, kWhole, 0},
        {std::string("8.07\0vm", 7), 2, 4, kWhole, 0},  // behind the terminator
        {std::string(126, 'x') + "vm", 2, 1, kWhole, 0},  // at the end of an unterminated field
        // Up to the interface type, and one byte short of it (its low byte came).
        {"8.07.00-vm", 2, 1, kToInterfaceType, EXT_STATUS_DATA_UNDERRUN},
        {"8.07.00-vm", 2, 4, kToInterfaceType - 1, EXT_STATUS_DATA_UNDERRUN},
    };
    for (const auto& c : cases) {
        EXT_HBA_NODE node = sim::make_node_record(driver, *port);
        std::memset(node.DriverVersion, 0, sizeof node.DriverVersion);
        std::memcpy(node.DriverVersion, c.version.data(), c.version.size());
        node.InterfaceType = c.interface_type;
        node.PortCount = 4;
        port->set_record(EXT_CC_QUERY, 1, node);
        driver.inject_short(c.delivered);
        vxapi_priv_database rec = record(true);
        EXT_HBA_NODE got{};
        uint32_t status = 99;
        uint32_t delivered = 0;
        ASSERT_EQ(vxapi_query_hbanode(fd, &rec, &got, &status, &delivered), 0);
        const uint16_t type = c.delivered >= kToInterfaceType ? c.interface_type : static_cast<uint16_t>(c.interface_type & 0xFF);
        EXPECT_EQ(std::tuple(status, got.PortCount, got.InterfaceType, delivered),
                  std::tuple(c.status, c.port_count, type, c.delivered))
            << c.version.c_str() << " " << c.delivered;
    }
}

// A loop port given without an address gets its AL_PA from its loop identifier.
TEST_F(QueryTest, LoopPortsGetTheirAlpa) {
    // The Id, Type and LoopID the driver gives, its status, and Id byte 3 as delivered.
    const struct { const char* name; uint8_t id[4]; uint16_t type, loop_id; uint32_t status; uint8_t alpa; } cases[] = {
        {"loop id 0", {0, 0, 0, 0}, 0x2, 0, 0, 0xEF},
        {"loop id 1", {0, 0, 0, 0}, 0x0, 1, 0, 0xE8},
        {"loop id 125", {0, 0, 0, 0}, 0x2, 125, 0, 0x01},
        {"loop id 126", {0, 0, 0, 0}, 0x2, 126, 0, 0x00},
        {"byte 0 of Id does not count", {0x7F, 0, 0, 0}, 0x2, 0, 0, 0xEF},
        {"loop id 127", {0, 0, 0, 0}, 0x2, 127, 0, 0x00},
        {"no loop id", {0, 0, 0, 0}, 0x2, 0xFFFF, 0, 0x00},
        {"domain given", {0, 0x01, 0, 0}, 0x2, 0, 0, 0x00},
        {"area given", {0, 0, 0x01, 0}, 0x2, 0, 0, 0x00},
        {"AL_PA given", {0, 0, 0, 0x33}, 0x2, 0, 0, 0x33},
        {"type bit 0x8", {0, 0, 0, 0}, 0x8 | 0x2, 0, 0, 0x00},
        {"driver refused", {0, 0, 0, 0}, 0x2, 0, EXT_STATUS_ERR, 0x00},
        {"data underrun", {0, 0, 0, 0}, 0x2, 0, EXT_STATUS_DATA_UNDERRUN, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port->remote_ports.clear();
        sim::SimPort::RemotePort& r = sim::add_remote_port(*port);
        std::memcpy(r.port.Id, c.id, 4);
        std::memcpy(r.target.Id, c.id, 4);
        r.port.Type = r.target.Type = c.type;
        r.port.LoopID = r.target.LoopID = c.loop_id;
        const Bytes want = {c.id[0], c.id[1], c.id[2], c.alpa};
        vxapi_priv_database rec = record(true);
        EXT_DISC_PORT dp{};
        EXT_DISC_TARGET dt{};
        uint32_t status = 99, target_status = 99;
        driver.inject_status(c.status);
        ASSERT_EQ(vxapi_query_discport(fd, &rec, 0, &dp, &status), 0);
        driver.inject_status(c.status);
        ASSERT_EQ(vxapi_query_disctgt(fd, &rec, 0, &dt, &target_status), 0);
        EXPECT_EQ(std::tuple(status, target_status, dp.LoopID), std::tuple(c.status, c.status, c.loop_id));
        EXPECT_EQ(std::pair(sim::bytes_of(dp.Id, 4), sim::bytes_of(dt.Id, 4)), std::pair(want, want));
    }
}

// An event read stamps each delivered event with the host number and never
// goes past the bytes delivered or the buffer, whatever the driver reports.
TEST_F(QueryTest, EventReadStampsTheDeliveredEvents) {
    vxapi_priv_database rec = record(true);
    port->events = {sim::make_event(VX_AEN_LINK_UP), sim::make_event(VX_AEN_RSCN, 0x010203, 0x01),
                    sim::make_event(VX_AEN_LINK_DOWN)};
    port->events[1].Payload.RSCN.Rsvd_1 = 0x77777777;
    Bytes buf;
    uint32_t status = 99;
    const auto read = [&](uint32_t length) {
        buf.assign(1024, 0xCC);
        EXPECT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 0);
        return length;
    };
    std::vector<EXT_ASYNC_EVENT> want(port->events.begin(), port->events.end());
    for (EXT_ASYNC_EVENT& e : want) e.Payload.RSCN.host_no = kHostNo;
    ASSERT_EQ(read(1024), 48u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 48), sim::bytes_of(want.data(), 48));
    EXPECT_TRUE(sim::all_bytes(buf, 48, 0xCC));
    // An empty queue delivers nothing and stamps nothing.
    EXPECT_EQ(read(1024), 0u);
    EXPECT_TRUE(sim::all_bytes(buf, 0, 0xCC));
    // Room for two and a half events: two arrive, the third waits.
    for (int i = 0; i < 3; ++i) port->events.push_back(sim::make_event(0x8060 + i));
    EXPECT_EQ(read(40), 32u);
    EXPECT_TRUE(sim::all_bytes(buf, 32, 0xCC));
    EXPECT_EQ(read(1024), 16u);
    EXPECT_EQ(vximg_get_le32(buf.data()), 0x8062u);
    // The driver claims 1000 bytes more than the 32 it could deliver.
    for (int i = 0; i < 4; ++i) port->events.push_back(sim::make_event(VX_AEN_LINK_UP));
    driver.inject_overreport(1000);
    EXPECT_EQ(read(32), 32u);
    EXPECT_TRUE(sim::all_bytes(buf, 32, 0xCC));
    port->events.clear();
}

// Registration sets the port's event flag as asked, whatever the driver
// answers; a sysfs port with a netlink socket needs no request.
TEST_F(QueryTest, EventRegistration) {
    constexpr uint32_t N = VX_FEAT_NEW_IOCTL, S = VX_FEAT_SYSFS, A = VX_FEAT_AEN;
    // err: the ioctl fails with this errno.
    const struct { const char* name; uint32_t features, enable, driver_status; int err; bool sent;
                   uint32_t features_after, status; int result; } cases[] = {
        {"enable", N, 1, 0, 0, true, N | A, 0, 0},
        {"enable, old header", 0, 1, 0, 0, true, A, 0, 0},
        {"enable, driver refuses", N, 1, EXT_STATUS_ERR, 0, true, N | A, EXT_STATUS_ERR, 0},
        {"enable, ioctl fails", N, 1, 0, EIO, true, N | A, 0, -1},
        {"disable, driver refuses", N | A, 0, EXT_STATUS_ERR, 0, true, N, EXT_STATUS_ERR, 0},
        {"disable", A, 0, 0, 0, true, 0, 0, 0},
        {"sysfs, vendor socket", S | 0x200, 1, 0, 0, false, S | 0x200 | A, 0, 0},
        {"sysfs, scsi_fc socket", S | 0x400, 1, 0, 0, false, S | 0x400 | A, 0, 0},
        {"sysfs, both sockets, disable", S | 0x600 | A, 0, 0, 0, false, S | 0x600, 0, 0},
        {"sysfs without netlink", S | N, 1, 0, 0, true, S | N | A, 0, 0},
    };
    port->aen_buf_len = 0x1234;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver.clear_log();
        port->aen_enabled = 99;
        vxapi_priv_database rec = record(false);
        rec.features = c.features;
        if (c.driver_status != 0) driver.inject_status(c.driver_status);
        if (c.err != 0) driver.inject_errno(c.err);
        uint32_t buf_len = 0xDEAD, status = 0xDEAD;
        errno = 0;
        EXPECT_EQ(vxapi_async_event_reg(fd, &rec, c.enable, &buf_len, &status), c.result);
        EXPECT_EQ(std::tuple(errno, rec.features, status), std::tuple(c.err, c.features_after, c.status));
        const auto log = driver.log();
        ASSERT_EQ(log.size(), c.sent ? 1u : 0u);
        // The buffer length as the driver left it, refusal or not.
        EXPECT_EQ(buf_len, !c.sent ? 0xDEADu : c.err == 0 ? 0x1234u : 0u);
        if (!c.sent) continue;
        EXPECT_EQ(sim::describe(log[0]), sim::describe({0, (c.features & N) != 0, EXT_CC_REG_AEN, 0, 0, 0, 0, 8, 0}));
        EXPECT_EQ(port->aen_enabled, c.err == 0 ? c.enable : 99u);
    }
    // A sysfs port reads events through netlink, never the ioctl: without
    // sockets nothing arrives, and the driver's events stay.
    port->events.push_back(sim::make_event(VX_AEN_LINK_UP));
    driver.clear_log();
    for (uint32_t f : {0u, VX_FEAT_NL_VENDOR, VX_FEAT_NL_SCSI_FC, VX_FEAT_NL_VENDOR | VX_FEAT_NL_SCSI_FC,
                       VX_FEAT_NL_VENDOR | VX_FEAT_NL_SCSI_FC | VX_FEAT_NL_SCSI_FC_ONLY}) {
        SCOPED_TRACE(f);
        vxapi_priv_database rec = record(true, VX_FEAT_SYSFS | f);
        Bytes buf(1024, 0xCC);
        uint32_t length = 1024, status = 99;
        EXPECT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 1);
        EXPECT_EQ(std::tuple(status, length, rec.features), std::tuple(0u, 0u, VX_FEAT_SYSFS | f | VX_FEAT_NEW_IOCTL));
        EXPECT_TRUE(sim::all_bytes(buf, 0, 0xCC));
    }
    EXPECT_TRUE(driver.log().empty());
    EXPECT_EQ(port->events.size(), 1u);
}

// The SCSI address starts zeroed: an unknown port leaves no stale address.
TEST_F(QueryTest, ScsiAddressStartsZeroed) {
    sim::add_remote_port(*port, false);
    const sim::SimPort::RemotePort target = sim::add_remote_port(*port);
    vxapi_priv_database rec = record(true);
    EXT_SCSI_ADDR addr;
    std::memset(&addr, 0xFF, sizeof addr);
    uint32_t status = 99;
    const uint8_t unknown[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(vxapi_wwpn_to_scsiaddr(fd, &rec, unknown, 8, &addr, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
    EXPECT_EQ(sim::bytes_of(&addr, sizeof addr), Bytes(sizeof addr));
    ASSERT_EQ(vxapi_wwpn_to_scsiaddr(fd, &rec, target.port.WWPN, 8, &addr, &status), 0);
    EXPECT_EQ(std::pair(status, addr.Target), std::pair(0u, target.scsi_addr.Target));
}

// A raw flash read is sent only for a length that fits the buffer.
TEST_F(QueryTest, FlashReadChecksItsArguments) {
    driver.on(EXT_CC_READ_OPTROM, 0xFFFF, [](const sim::SimRequest& r) {
        sim::SimReply reply;
        reply.response = sim::pattern(r.response_capacity, static_cast<uint8_t>(r.reserved1 >> 8));
        return reply;
    });
    const struct { const char* name; bool buffer; uint32_t length, size; bool sent; } cases[] = {
        {"fits", true, 0x100, 0x100, true},          {"smaller than the buffer", true, 0x80, 0x100, true},
        {"longer than the buffer", true, 0x101, 0x100, false}, {"no length", true, 0, 0x100, false},
        {"no size", true, 0x100, 0, false},          {"no buffer", false, 0x100, 0x100, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver.clear_log();
        vxapi_priv_database rec = record(true);
        Bytes buf(0x200, 0);
        vxapi_read_flash(fd, &rec, 0x1000, c.length, c.buffer ? buf.data() : nullptr, c.size);
        const auto log = driver.log();
        ASSERT_EQ(log.size(), c.sent ? 1u : 0u);
        EXPECT_TRUE(sim::all_bytes(buf, c.sent ? c.length : 0, 0));
        if (!c.sent) continue;
        EXPECT_EQ(sim::describe(log[0]),
                  sim::describe({0, true, EXT_CC_READ_OPTROM, 0xFFFF, 0, 0x1000, 0, c.length, c.length}));
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + c.length), sim::pattern(c.length, 0x10));
    }
}

// ---------------------------------------------------------------- the send path

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
    // With `shared` the request is the buffer's bytes as they stand; with
    // `error` the driver carries out no request but fails its ioctl.
    int send(bool new_header, Bytes& buf, uint8_t command, const Bytes& answer, bool retry_busy = false,
             uint32_t response_len = 0, bool shared = false, int error = 0) {
        driver.on(command, [this, answer, error](const sim::SimRequest& q) {
            sim::SimReply r;
            r.response = answer;
            r.error = error;
            carried = q.request;
            return r;
        });
        const vxapi_priv_database rec = sim::DriverRig::record(new_header, 0);
        VxRequest req;
        req.command = command;
        req.sub_code = 0xFFFF;
        req.request = shared ? buf.data() : nullptr;
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
    Bytes carried;  // the request bytes of the last request carried out
};

// A busy answer that rewrote ResponseLen to 0 must not shrink the resend:
// the full data arrives after one wait of 20 s. Busy three times: status 2
// after two waits. Without retry_busy the busy answer goes to the caller.
// What a busy answer wrote (0xBB) is never handed out: a resend that fails,
// or delivers less, leaves zeros behind what came, and a request that shares
// its buffer with its response resends its own bytes.
TEST_F(IoctlTest, BusyThenSuccessDeliversTheFullData) {
    const Bytes flash = sim::pattern(4096, 1), own = sim::pattern(4096, 3);
    enum Then { Whole, Short, Fails };
    const struct { bool new_header; int busy; bool retry; uint32_t status; size_t sends; Then then = Whole;
                   bool shared = false; } cases[] = {
        {true, 1, true, 0, 2}, {false, 1, true, 0, 2}, {true, 5, true, EXT_STATUS_BUSY, 3},
        {true, 5, false, EXT_STATUS_BUSY, 1}, {true, 1, true, 0, 2, Short}, {false, 1, true, 0, 2, Fails},
        {true, 1, true, 0, 2, Whole, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "header " << c.new_header << " busy " << c.busy << " retry " << c.retry
                                        << " then " << c.then << " shared " << c.shared);
        rig.host.clear_sleeps();
        driver.clear_log();
        carried.clear();
        driver.inject_busy(c.busy, /*zero_response_len=*/true, 0xBB);
        if (c.then == Short) driver.inject_short(16);
        Bytes buf = c.shared ? own : Bytes(4096, 0);
        ASSERT_EQ(send(c.new_header, buf, EXT_CC_READ_OPTROM, flash, c.retry, 0, c.shared, c.then == Fails ? EIO : 0),
                  c.then == Fails ? -1 : 0);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(rig.host.sleep_seconds(), std::vector<unsigned>(c.sends - 1, 20));
        const auto log = driver.log();
        ASSERT_EQ(log.size(), c.sends);
        EXPECT_EQ(sim::describe(log.back()), sim::describe(log[0]));
        EXPECT_EQ(log.back().time - log[0].time, 20 * static_cast<time_t>(c.sends - 1));
        const size_t came = c.status != 0 || c.then == Fails ? 0 : c.then == Short ? 16 : 4096;
        EXPECT_EQ(carried, c.shared ? own : Bytes{});
        if (!c.retry) {
            EXPECT_EQ(buf, Bytes(4096, 0xBB));
            continue;
        }
        EXPECT_EQ(reply.response_len, came);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<long>(came), flash.begin()));
        EXPECT_TRUE(sim::all_bytes(buf, came, 0));
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

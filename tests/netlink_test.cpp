// The netlink transport against the simulated driver's netlink service:
// request bytes, reply kinds, the event readers, load and unload, and the
// event thread's log reads beside the caller's commands.
#include <thread>

#include "core/vx_event.h"
#include "core/vx_load.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
using sim::NlFault;

template <class T>
void put(Bytes& b, size_t at, T v) {
    std::memcpy(b.data() + at, &v, sizeof v);
}

// A vendor request as the driver expects it, field by field at its offset.
Bytes request(uint32_t length, uint16_t host_no, uint32_t cmd, const Bytes& body) {
    Bytes b(length, 0);
    put<uint32_t>(b, 0, length);
    put<uint16_t>(b, 4, 17);
    put<uint32_t>(b, 12, static_cast<uint32_t>(::getpid()));
    put<uint8_t>(b, 16, 1);
    put<uint16_t>(b, 18, 0xA1B2);
    put<uint16_t>(b, 20, 0x8000);
    put<uint64_t>(b, 24, 0x7A5A00005646434Dull);
    put<uint16_t>(b, 32, host_no);
    put<uint32_t>(b, 36, cmd);
    std::copy(body.begin(), body.end(), b.begin() + 44);
    return b;
}

vxfc_aen_entry entry(uint16_t code, uint16_t p0 = 0, uint16_t p1 = 0) { return {code, {p0, p1, 0}}; }

// An event record: code, RSCN address format and port id, host number.
EXT_ASYNC_EVENT record(uint32_t code, uint8_t format, uint32_t port_id, uint32_t host_no) {
    EXT_ASYNC_EVENT ev{};
    ev.AsyncEventCode = code;
    ev.Payload.RSCN = {{uint8_t(port_id >> 16), uint8_t(port_id >> 8), uint8_t(port_id)}, format, host_no, 0};
    return ev;
}

struct NetlinkTest : ::testing::Test {
    NetlinkTest() : rig(0x2532, [](sim::SysfsAdapter& a) { a = sim::sysfs_adapter(0x2532, {5, 6}); }) {}
    void SetUp() override {
        ASSERT_EQ(rig.discover(), 2u);
        gnl_fd = vxapi_nl_open();
        gnl_scsi_fc_fd = vxapi_nl_scsi_fc_open();
        ASSERT_GE(gnl_fd, 0);
        ASSERT_GE(gnl_scsi_fc_fd, 0);
        // Command 19 of host 5 answers 8 bytes made from the request's first body byte.
        nl.on(5, 19, [](const sim::NlRequest& r) { return sim::NlReply{0, sim::pattern(8, r.body()[0])}; });
    }
    void TearDown() override { vxapi_nl_close_sockets(); }

    // Command 19 with a one-byte body: result, status, what it read.
    int command(uint8_t seed, uint32_t* status, Bytes* out, bool preset = false) {
        VxNlCommand c;
        c.cmd = 19;
        c.head = &seed;
        c.head_len = 1;
        c.reply_len = 28;
        c.out = out->data();
        c.out_len = 8;
        c.preset_status = preset;
        return vxapi_nl_exchange(gnl_fd, 5, c, status);
    }
    // The event log of host 5: result, the records filled (64-record buffer of 0xCC).
    int read_log(std::vector<EXT_ASYNC_EVENT>* records) {
        std::vector<EXT_ASYNC_EVENT> buf(64);
        std::memset(buf.data(), 0, buf.size() * sizeof buf[0]);
        uint32_t size = 0xDEAD;
        const int rc = vxapi_nl_get_aen(5, buf.data(), &size);
        buf.resize(rc == 0 ? size / sizeof(EXT_ASYNC_EVENT) : 0);
        *records = buf;
        return rc;
    }

    sysfstest::SysfsRig rig;
    sim::SimNetlink& nl = rig.host.netlink();
};

TEST_F(NetlinkTest, RequestBytesAtTheirOffsets) {
    std::vector<EXT_ASYNC_EVENT> records;
    EXPECT_EQ(read_log(&records), 0);
    VxNlCommand c;
    c.cmd = 2;
    const Bytes head = {1, 2, 3}, data = sim::pattern(2100, 9);
    c.head = head.data();
    c.head_len = 3;
    c.data = data.data();
    c.data_len = 2100;
    c.length = c.send_size = vx_nl_pad4(2096 + 2103);
    nl.on(6, 2, [](const sim::NlRequest&) { return sim::NlReply{}; });
    uint32_t status = 9;
    EXPECT_EQ(vxapi_nl_exchange(gnl_fd, 6, c, &status), 0);
    EXPECT_EQ(status, 0u);
    Bytes body = head;
    body.insert(body.end(), data.begin(), data.end());
    const auto sent = nl.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].message, request(2096, 5, 4, {}));
    EXPECT_EQ(sent[1].message, request(4200, 6, 2, body));
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(nl.calls(), (std::vector<std::string>{"socket 20 3 = 3000", "bind 3000 16 " + pid + " 0",
                                                    "socket 18 2 = 3001", "bind 3001 16 " + pid + " 4",
                                                    "setsockopt 3001 270 1 4"}));

    // A body or reply that does not fit its buffers is refused unsent.
    c.data_len = 5000;
    EXPECT_EQ(vxapi_nl_exchange(gnl_fd, 6, c, &status), 1);
    EXPECT_EQ(status, 6u);
    EXPECT_EQ(nl.requests().size(), 2u);
}

// Each reply kind over a command that reads 8 bytes and over the event-log
// read; a command after each gets its own reply, whatever was left queued.
TEST_F(NetlinkTest, ReplyKinds) {
    constexpr uint32_t kLeft = 0xEE;
    const struct {
        const char* name;
        NlFault fault;
        int result;
        uint32_t status;  // kLeft: as the command found it (1 when it presets)
        int log_result;
    } cases[] = {
        {"success", {}, 0, 0, 0},
        {"ENODEV", {NlFault::NlError, -19, {}}, 1, 20, 2},
        {"acknowledgement", {NlFault::NlError, 0, {}}, 1, kLeft, 2},
        {"error word", {NlFault::Error, 3, {}}, 1, kLeft, 2},
        {"no reply", {NlFault::NoReply, 0, {}}, 1, kLeft, 1},
        {"late reply", {NlFault::Late, 0, {}}, 1, kLeft, 1},
        {"header cut", {NlFault::Short, 35, {}}, 1, kLeft, 1},
        {"data cut", {NlFault::Short, 43, {}}, 1, kLeft, 0},
        {"empty", {NlFault::Raw, 0, {}}, 1, kLeft, 1},
    };
    nl.log_events(5, {entry(0x8011)});
    for (const auto& c : cases) {
        for (bool preset : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (preset ? ", preset" : ""));
            nl.fault(c.fault);
            uint32_t status = kLeft;
            Bytes out(8, 0xCC);
            EXPECT_EQ(command(40, &status, &out, preset), c.result);
            EXPECT_EQ(status, c.status == kLeft && preset ? 1u : c.status);
            EXPECT_EQ(out, c.result == 0 ? sim::pattern(8, 40) : Bytes(8, 0xCC));
            EXPECT_EQ(command(50, &status, &out), 0);
            EXPECT_EQ(out, sim::pattern(8, 50));
        }
        nl.fault(c.fault);
        std::vector<EXT_ASYNC_EVENT> records;
        EXPECT_EQ(read_log(&records), c.log_result) << c.name;
    }
    EXPECT_FALSE(nl.overlapped());
}

TEST_F(NetlinkTest, ReceiveLimitAndCut) {
    nl.inject(sim::pattern(100, 1));
    Bytes buf(200, 0xCC);
    EXPECT_EQ(vxapi_rcv_msg(gnl_scsi_fc_fd, 131073, vx_scsi_src_addr, buf.data()), -1);
    EXPECT_EQ(vxapi_rcv_msg(gnl_scsi_fc_fd, -1, vx_scsi_src_addr, buf.data()), -1);
    EXPECT_EQ(buf, Bytes(200, 0xCC));
    EXPECT_EQ(vxapi_rcv_msg(gnl_scsi_fc_fd, 20, vx_scsi_src_addr, buf.data()), 36);
    Bytes want = sim::pattern(36, 1);
    want.resize(200, 0xCC);
    EXPECT_EQ(buf, want);
}

// The newest 64 entries, oldest first, within the log and the bytes received.
TEST_F(NetlinkTest, EventLogReader) {
    const struct {
        unsigned logged;
        int cut;  // reply cut to this many bytes (0: whole)
        unsigned first, count;
    } cases[] = {{0, 0, 0, 0}, {64, 0, 0, 64}, {100, 0, 36, 64}, {300, 0, 192, 64}, {100, 120, 0, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        std::vector<vxfc_aen_entry> log;
        for (unsigned i = 0; i < c.logged; ++i) log.push_back(entry(static_cast<uint16_t>(0x100 + i)));
        nl.log_events(5, log);
        if (c.cut != 0) nl.fault({NlFault::Short, c.cut, {}});
        std::vector<EXT_ASYNC_EVENT> records;
        ASSERT_EQ(read_log(&records), 0);
        std::vector<EXT_ASYNC_EVENT> want;
        for (unsigned i = 0; i < c.count; ++i) want.push_back(record(0x100 + c.first + i, 0, 0, 5));
        EXPECT_EQ(sim::bytes_of(records.data(), records.size() * 16), sim::bytes_of(want.data(), want.size() * 16));
    }
}

// RSCN decoding in both readers; unknown hosts and short messages skipped;
// unknown codes counted with code 0; an empty queue is no failure, a
// 0-byte receive is.
TEST_F(NetlinkTest, TransportEventReader) {
    nl.log_events(5, {entry(0x8015, 0x0102, 0x0304)});
    std::vector<EXT_ASYNC_EVENT> records;
    ASSERT_EQ(read_log(&records), 0);
    const EXT_ASYNC_EVENT rscn = record(0x8015, 1, 0x020304, 5);
    EXPECT_EQ(sim::bytes_of(records.data(), 16), sim::bytes_of(&rscn, 16));

    const struct {
        std::vector<Bytes> queued;
        int result;
        std::vector<EXT_ASYNC_EVENT> want;
    } cases[] = {
        {{}, 0, {}},
        {{Bytes{}}, 1, {}},
        {{sim::fc_event(6, 2), sim::fc_event(77, 3), sim::fc_event(5, 9), Bytes(55, 0), sim::fc_event(5, 5, 0x01020304)},
         0,
         {record(0x8011, 0, 0, 6), record(0, 0, 0, 5), record(0x8015, 1, 0x020304, 5)}},
        {std::vector<Bytes>(65, sim::fc_event(6, 3)), 0, std::vector<EXT_ASYNC_EVENT>(64, record(0x8012, 0, 0, 6))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.queued.size());
        for (const Bytes& d : c.queued) nl.inject(d);
        std::vector<EXT_ASYNC_EVENT> buf(64);
        std::memset(buf.data(), 0, 64 * 16);
        uint32_t size = 0xDEAD;
        EXPECT_EQ(vxapi_nl_scsi_fc_get_aen(0, buf.data(), &size), c.result);
        EXPECT_EQ(size, c.want.size() * 16);
        EXPECT_EQ(sim::bytes_of(buf.data(), size), sim::bytes_of(c.want.data(), c.want.size() * 16));
        while (vxapi_nl_scsi_fc_get_aen(0, buf.data(), &size) == 0 && size != 0) {
        }
    }
}

// Load opens both sockets and marks every port; a socket whose open fails
// leaves nothing open and no bit; unload closes both and frees the buffers.
TEST(NetlinkLoad, SocketsFollowTheLibrary) {
    const struct {
        const char* fail;  // a failing call
        int descriptor;    // the first socket's descriptor (-1: the peer's choice)
        uint32_t bits;
    } cases[] = {{"", -1, 0x600},  {"", 0, 0x600},          {"socket 20", -1, 0x400},
                 {"bind 20", -1, 0x400}, {"bind 18", -1, 0x200}, {"setsockopt", 0, 0x200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fail) + " " + std::to_string(c.descriptor));
        sysfstest::SysfsRig rig(0x2532, [](sim::SysfsAdapter& a) { a = sim::sysfs_adapter(0x2532, {5, 6}); });
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        sim::SimNetlink& nl = rig.host.netlink();
        if (*c.fail != 0) nl.fail(c.fail, EPERM);
        if (c.descriptor >= 0) nl.next_descriptor(c.descriptor);
        ASSERT_EQ(vxapi_load_lib(), 0);
        for (vxapi_priv_database* p : sim::listed_ports()) EXPECT_EQ(p->features & 0x600, c.bits);
        EXPECT_EQ(nl.open_sockets(), (c.bits & 0x200 ? 1u : 0u) + (c.bits & 0x400 ? 1u : 0u));
        EXPECT_EQ(nlm_aen_recvbuf != nullptr, (c.bits & 0x200) != 0);
        EXPECT_EQ(nlm_scsi_aen_recvbuf != nullptr, (c.bits & 0x400) != 0);
        if (c.descriptor == 0) { EXPECT_EQ(c.bits & 0x200 ? gnl_fd : gnl_scsi_fc_fd, 0); }
        EXPECT_EQ(vxapi_unload_lib(), 0);
        EXPECT_EQ(nl.open_sockets(), 0u);
        EXPECT_EQ(gnl_fd, -1);
        EXPECT_EQ(gnl_scsi_fc_fd, -1);
        EXPECT_TRUE(nlm_aen_sendbuf == nullptr && nlm_aen_recvbuf == nullptr && nlm_scsi_aen_recvbuf == nullptr);
    }
}

}  // namespace

// The netlink transport against the simulated driver: request bytes, reply kinds, both event readers, the sockets
// at load and unload, and the event thread's log reads beside the caller's commands.
#include <thread>

#include "core/vx_load.h"
#include "core/vx_query.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
using sim::NlFault;
using Events = std::vector<EXT_ASYNC_EVENT>;

// The library loaded on hosts 5 and 6 (`before` runs first), unloaded at the end. Command 19 of host 5 answers 8
// bytes made from the body's first byte.
struct Loaded {
    explicit Loaded(const std::function<void(sim::SimNetlink&)>& before = {}) {
        rig.setup.adapters = {sim::sysfs_adapter(0x2532, {5, 6})};
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        nl.on(5, 19, [](const sim::NlRequest& r) { return sim::NlReply{0, sim::pattern(8, r.body()[0])}; });
        if (before) before(nl);
        EXPECT_EQ(vxapi_load_lib(), 0);
    }
    ~Loaded() {
        if (api_priv_database != nullptr) vxapi_unload_lib();
    }
    int command(uint8_t seed, uint32_t* status, Bytes* out, bool preset = false) const {
        const VxNlCommand c{.cmd = 19, .head = &seed, .head_len = 1, .reply_len = 28, .out = out->data(), .out_len = 8,
                            .preset_status = preset};
        return vxapi_nl_exchange(gnl_fd, 5, c, status);
    }
    sysfstest::SysfsRig rig;
    sim::SimNetlink& nl = rig.host.netlink();
};

EXT_ASYNC_EVENT record(uint32_t code, uint32_t host_no, uint8_t format = 0, uint32_t port_id = 0) {
    return {code, {{{uint8_t(port_id >> 16), uint8_t(port_id >> 8), uint8_t(port_id)}, format, host_no, 0}}};
}
Bytes bytes(const Events& v) { return sim::bytes_of(v.data(), v.size() * 16); }

// The records a reader fills into 64 zeroed ones, as bytes; *rc its result.
Bytes read_events(int (*reader)(int, EXT_ASYNC_EVENT*, uint32_t*), int* rc) {
    Events buf(64);
    uint32_t size = 0xDEAD;
    *rc = reader(5, buf.data(), &size);
    buf.resize(*rc == 0 ? size / 16 : 0);
    return bytes(buf);
}

TEST(Netlink, RequestsAtTheirOffsets) {
    Loaded l;
    const auto request = [](uint32_t length, uint16_t host_no, uint32_t cmd, const Bytes& body) {
        Bytes b(length, 0);
        const auto put = [&b](size_t at, auto v) { std::memcpy(b.data() + at, &v, sizeof v); };
        put(0, length), put(4, uint16_t{17}), put(12, static_cast<uint32_t>(::getpid())), put(16, 0xA1B20001u);
        put(20, uint16_t{0x8000}), put(24, 0x7A5A00005646434Dull), put(32, host_no), put(36, cmd);
        std::copy(body.begin(), body.end(), b.begin() + 44);
        return b;
    };
    int rc;
    read_events(vxapi_nl_get_aen, &rc);
    const Bytes body = sim::pattern(2103, 1);
    VxNlCommand c{.cmd = 2, .head = body.data(), .head_len = 3, .data = body.data() + 3, .data_len = 2100};
    c.length = c.send_size = vx_nl_pad4(2096 + 2103);
    l.nl.on(6, 2, [](const sim::NlRequest&) { return sim::NlReply{}; });
    uint32_t status = 9;
    EXPECT_EQ(vxapi_nl_exchange(gnl_fd, 6, c, &status) + status, 0u);
    c.data_len = 5000;  // does not fit: refused unsent
    EXPECT_EQ(vxapi_nl_exchange(gnl_fd, 6, c, &status), 1);
    EXPECT_EQ(status, 6u);
    const auto sent = l.nl.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].message, request(2096, 5, 4, {}));
    EXPECT_EQ(sent[1].message, request(4200, 6, 2, body));
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(l.nl.calls(), (std::vector<std::string>{"socket 20 3 = 3000", "bind 3000 16 " + pid + " 0",
                                                      "socket 18 2 = 3001", "bind 3001 16 " + pid + " 4",
                                                      "setsockopt 3001 270 1 4"}));
}

// Each reply kind over a command that reads 8 bytes and over the event-log read; a command after each gets its own
// reply, whatever was left queued.
TEST(Netlink, ReplyKinds) {
    constexpr uint32_t kLeft = 0xEE;  // the status as the command found it (1 when it presets)
    const struct { const char* name; NlFault fault; int result; uint32_t status; int log_result; } cases[] = {
        {"success", {}, 0, 0, 0},
        {"ENODEV", {NlFault::NlError, -19, {}}, 1, 20, 2},  // the log read: the pid where the error word is
        {"acknowledgement", {NlFault::NlError, 0, {}}, 1, kLeft, 2},
        {"error word", {NlFault::Error, 3, {}}, 1, kLeft, 2},
        {"no reply", {NlFault::NoReply, 0, {}}, 1, kLeft, 1},
        {"late reply", {NlFault::Late, 0, {}}, 1, kLeft, 1},
        {"header cut", {NlFault::Short, 35, {}}, 1, kLeft, 1},
        {"data cut", {NlFault::Short, 43, {}}, 1, kLeft, 0},  // the log read: no whole entry, none taken
        {"empty", {NlFault::Raw, 0, {}}, 1, kLeft, 1},
    };
    Loaded l;
    for (const auto& c : cases) {
        for (bool preset : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (preset ? ", preset" : ""));
            l.nl.fault(c.fault);
            uint32_t status = kLeft;
            Bytes out(8, 0xCC);
            EXPECT_EQ(l.command(40, &status, &out, preset), c.result);
            EXPECT_EQ(status, c.status == kLeft && preset ? 1u : c.status);
            EXPECT_EQ(out, c.result == 0 ? sim::pattern(8, 40) : Bytes(8, 0xCC));
            EXPECT_EQ(l.command(50, &status, &out), 0);
            EXPECT_EQ(out, sim::pattern(8, 50));
        }
        l.nl.fault(c.fault);
        int rc;
        read_events(vxapi_nl_get_aen, &rc);
        EXPECT_EQ(rc, c.log_result) << c.name;
    }
    EXPECT_FALSE(l.nl.overlapped());
}

// The newest 64 entries, oldest first, within the log and the bytes received. Also the transport event reader:
// RSCN decoding in both readers; unknown hosts and short messages skipped, unknown codes counted with code 0; an
// empty queue is no failure, a 0-byte receive is; at most 64 receives. A receive is cut to what it asks for.
TEST(Netlink, EventLogReader) {
    Loaded l;
    int rc;
    // Entries logged, the reply cut to this many bytes (0: whole); then the first and count of those read.
    for (const auto& [logged, cut, first, count] : {std::tuple(0u, 0, 0u, 0u), {64u, 0, 0u, 64u}, {100u, 0, 36u, 64u},
                                                    {300u, 0, 192u, 64u}, {100u, 120, 0u, 10u}}) {
        std::vector<vxfc_aen_entry> log;
        for (unsigned i = 0; i < logged; ++i) log.push_back({static_cast<uint16_t>(0x100 + i), {}});
        l.nl.log_events(5, log);
        if (cut != 0) l.nl.fault({NlFault::Short, cut, {}});
        Events want;
        for (unsigned i = 0; i < count; ++i) want.push_back(record(0x100 + first + i, 5));
        EXPECT_EQ(read_events(vxapi_nl_get_aen, &rc), bytes(want)) << logged;
        EXPECT_EQ(rc, 0);
    }
    l.nl.log_events(5, {{0x8015, {0x0102, 0x0304, 0}}});
    EXPECT_EQ(read_events(vxapi_nl_get_aen, &rc), bytes({record(0x8015, 5, 1, 0x020304)}));
    const struct { std::vector<Bytes> queued; int result; Events want; } cases[] = {
        {{}, 0, {}},
        {{Bytes{}}, 1, {}},
        {{sim::fc_event(6, 2), sim::fc_event(77, 3), sim::fc_event(5, 9), Bytes(55), sim::fc_event(5, 5, 0x01020304)},
         0, {record(0x8011, 6), record(0, 5), record(0x8015, 5, 1, 0x020304)}},
        {std::vector<Bytes>(65, sim::fc_event(6, 3)), 0, Events(64, record(0x8012, 6))},
    };
    for (const auto& [queued, result, want] : cases) {
        for (const Bytes& d : queued) l.nl.inject(d);
        EXPECT_EQ(read_events(vxapi_nl_scsi_fc_get_aen, &rc), bytes(want)) << queued.size();
        EXPECT_EQ(rc, result);
    }
    Bytes buf(200, 0xCC), want = sim::fc_event(6, 3);  // the 65th event is still queued
    EXPECT_EQ(vxapi_rcv_msg(gnl_scsi_fc_fd, 131073, vx_scsi_src_addr, buf.data()), -1);
    EXPECT_EQ(buf, Bytes(200, 0xCC));
    EXPECT_EQ(vxapi_rcv_msg(gnl_scsi_fc_fd, 20, vx_scsi_src_addr, buf.data()), 36);
    want.resize(36), want.resize(200, 0xCC);
    EXPECT_EQ(buf, want);
}

// Load opens both sockets and marks every port; a socket whose set-up fails is closed and marks nothing; unload
// closes both and frees the buffers.
TEST(Netlink, SocketsFollowTheLibrary) {
    // The call that fails, the first socket's descriptor (-1: the peer's choice), the port bits.
    for (const auto& [fail, descriptor, bits] : {std::tuple("", -1, 0x600u), {"", 0, 0x600u}, {"socket 20", -1, 0x400u},
                                                 {"bind 20", -1, 0x400u}, {"bind 18", -1, 0x200u},
                                                 {"setsockopt", 0, 0x200u}}) {
        SCOPED_TRACE(std::string(fail) + " " + std::to_string(descriptor));
        {
            Loaded l([&](sim::SimNetlink& nl) {
                if (*fail != 0) nl.fail(fail, EPERM);
                if (descriptor >= 0) nl.next_descriptor(descriptor);
            });
            for (vxapi_priv_database* p : sim::listed_ports()) EXPECT_EQ(p->features & 0x600, bits);
            EXPECT_EQ(l.nl.open_sockets(), bits == 0x600 ? 2u : 1u);
            EXPECT_EQ(std::pair(nlm_aen_recvbuf != nullptr, nlm_scsi_aen_recvbuf != nullptr),
                      std::pair((bits & 0x200) != 0, (bits & 0x400) != 0));
            if (descriptor == 0) { EXPECT_EQ(bits & 0x200 ? gnl_fd : gnl_scsi_fc_fd, 0); }
            vxapi_unload_lib();
            EXPECT_EQ(l.nl.open_sockets(), 0u);
        }
        EXPECT_EQ(gnl_fd + gnl_scsi_fc_fd, -2);
        EXPECT_TRUE(nlm_aen_sendbuf == nullptr && nlm_aen_recvbuf == nullptr && nlm_scsi_aen_recvbuf == nullptr);
    }
}

template <class Pred>
bool wait_until(Pred pred) {
    for (int i = 0; i < 2000 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return pred();
}

// Events of one code and host in this process's queue of the shared file.
size_t queued(uint32_t code, uint32_t host_no) {
    const vxapi_hbaptevq_t& q = api_shared_data->hbaptevq[api_library_instance];
    return static_cast<size_t>(std::count_if(q.eventbuf, q.eventbuf + q.q_tail, [&](const EXT_ASYNC_EVENT& e) {
        return e.AsyncEventCode == code && e.Payload.RSCN.host_no == host_no;
    }));
}

// The event thread's log reads and the caller's commands at once on one port: each command gets its own reply,
// and the logged events reach the queue. After the driver refuses its log, only the transport events are read.
TEST(Netlink, EventThreadAndCallerShareTheVendorSocket) {
    Loaded l;
    l.nl.after_send([&l](const sim::NlRequest& r) {  // another request has 3 ms to come in between
        const size_t sent = l.nl.requests().size();
        for (int i = 0; r.cmd == 19 && i < 10 && l.nl.requests().size() == sent; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    vxapi_priv_database* port = sysfstest::SysfsRig::port(5);
    {
        VxListLock lock(vxapi_list_mutex());
        ASSERT_EQ(vxapi_async_event_reg(-1, port, 1, nullptr, nullptr), 0);
    }
    for (int i = 0; i < 100; ++i) {
        if (i % 10 == 0) l.nl.log_events(5, {{0x8011, {}}});
        uint32_t status = 9;
        Bytes out(8, 0);
        ASSERT_EQ(l.command(static_cast<uint8_t>(i), &status, &out), 0) << i;
        ASSERT_EQ(out, sim::pattern(8, static_cast<uint8_t>(i))) << i;
    }
    EXPECT_TRUE(wait_until([] { return queued(0x8011, 5) == 10; }));
    EXPECT_FALSE(l.nl.overlapped());
    l.nl.after_send({});

    l.nl.fault({NlFault::Error, 1, {}});
    EXPECT_TRUE(wait_until([&] { return (port->features & VX_FEAT_NL_SCSI_FC_ONLY) != 0; }));
    const auto log_reads = [&] {
        const auto r = l.nl.requests();
        return std::count_if(r.begin(), r.end(), [](const sim::NlRequest& q) { return q.cmd == 4; });
    };
    const auto reads = log_reads();
    for (uint32_t code : {3u, 4u}) {
        l.nl.inject(sim::fc_event(5, code));
        EXPECT_TRUE(wait_until([&] { return queued(0x8010 + code - 1, 5) == 1; }));
    }
    EXPECT_EQ(log_reads(), reads);
}

}  // namespace

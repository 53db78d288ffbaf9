// The netlink transport against the simulated driver: request bytes, reply kinds, both event readers, the sockets
// at load and unload, the event thread's log reads beside the caller's commands; and the vendor commands.
#include <array>
#include <thread>

#include "base/vx_port_speed.h"
#include "core/io/vx_query.h"
#include "core/life/vx_load.h"
#include "sim_nl_vendor.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"
#include "transport/vx_nl_vendor.h"

namespace {

using sim::Bytes;
using sim::NlFault;
using Events = std::vector<EXT_ASYNC_EVENT>;
using Call = std::function<int(uint32_t*)>;

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
        if (api_priv_database != nullptr) (void)vxapi_unload_lib();  // clean-up; always 0
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
            EXPECT_EQ(vxapi_unload_lib(), 0);
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

// Events of one code and host in this process's queue of the shared file, read as the library does, under the
// file's semaphore (the event thread appends to it).
size_t queued(uint32_t code, uint32_t host_no) {
    VxSemLock lock(api_dbupdate_sem_id);
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
    EXPECT_TRUE(wait_until([&] { return !l.nl.faults_pending(); })) << "the next log read is refused";
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

constexpr uint32_t kLeft = 0xEE;  // a status the command leaves alone
constexpr uint64_t kWwpn = 0x1122334455667788;

struct NlVendorTest : ::testing::Test {
    void SetUp() override {
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        ASSERT_GE(gnl_fd = vxapi_nl_open(), 0);
        sim::serve_vendor_commands(nl, 5, drv);
        drv.speeds[kWwpn] = 0x04;
    }
    ~NlVendorTest() override { vxapi_nl_close_sockets(); }
    // n bytes of the last request's body.
    Bytes sent(size_t n) const { return sim::bytes_of(nl.requests().back().body(), n); }
    static INT_PORT_PARAM port(uint16_t mode, uint16_t speed, uint16_t type = VX_DEST_WWPN) {
        INT_PORT_PARAM p{{{}, type, 0, {}}, mode, speed};
        std::memcpy(p.FCScsiAddr.DestAddr.WWPN, &kWwpn, 8);
        return p;
    }
    template <class T>
    static Bytes bytes(const T& record) { return sim::bytes_of(&record, sizeof record); }
    // command(gnl_fd, 5, args..., status) as a call that takes the status.
    template <class F, class... A>
    static Call on5(F command, A... args) {
        return [=](uint32_t* s) { return command(gnl_fd, 5, args..., s); };
    }

    sysfstest::SysfsRig rig{0x2532};
    sim::SimNetlink& nl = rig.host.netlink();
    sim::NlVendorHost drv;
    uint32_t status = kLeft;
};

// Each single-message command: its message, the body it sends, what it reads, and its status when the driver
// refuses it (1 where the command presets it, else left) or has no netlink service (20).
TEST_F(NlVendorTest, SingleMessageCommands) {
    Bytes cfg = sim::pattern(10, 3), got(10), info(4), none(4, 0xCC);
    vxa_image_version_list fru{1, {{{1, 0xA0, 0x2000}, {'v', '1'}}}};
    vxa_status_reg reg{{1, 0xE0, 0x2000}, 0x10, {}}, reg_back{};
    vxa_serdes_reg sd{VXA_SERDES_WRITE, 0x40, 0xBEEF}, sd_read{VXA_SERDES_READ, 0x40, 7};
    vxa_serdes_reg_ex sdx{VXA_SERDES_WRITE, 0x40000, 0xCAFEF00D}, sdx_read{VXA_SERDES_READ, 0x40000, 7};
    INT_PORT_PARAM set = port(1, 0x16), get = port(0, 0x32);
    TARNO_MANAGE_INFO config{TARNO_MGMT_CHANGE_CONFIG, 0, {{{7, 8, 9}}}, 0, nullptr};
    TARNO_MANAGE_INFO get_info{TARNO_MGMT_GET_INFO, 0, {{{0x100, 2, 0}}}, 4, info.data()};
    TARNO_MANAGE_INFO other{7, 0, {{{0x100, 2, 3}}}, 4, none.data()};
    std::copy_n(sim::pattern(4, 1).begin(), 4, drv.memory.begin() + 0x100);
    const vxa_port_param speed_get{{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}, 2, 0, {}, 0, 0};
    const struct { const char* name; uint32_t cmd, length; bool preset; Call call; Bytes body;
                   std::function<bool()> done = [] { return true; }; } cases[] = {
        {"reset", 1, 2096, true, on5(vxapi_nl_84xx_reset, 1), {1, 0, 0, 0}},
        {"configure", 3, 18480, true, on5(vxapi_nl_84xx_mgmt, &config),
         bytes(vxa84_msg_mgmt{2, 0, {.config = {7, 8, 9}}, 0})},
        {"information", 3, 18480, true, on5(vxapi_nl_84xx_mgmt, &get_info),
         bytes(vxa84_msg_mgmt{3, 0, {.config = {0x100, 2, 0}}, 4}), [&] { return info == sim::pattern(4, 1); }},
        {"unknown operation", 3, 18480, true, on5(vxapi_nl_84xx_mgmt, &other), Bytes(20),
         [&] { return none == Bytes(4, 0xCC); }},
        {"speed set", 7, 2096, false, on5(vxapi_nl_port_param, &set, 20), {}, [&] { return drv.speeds[kWwpn] == 5; }},
        {"speed get", 7, 2096, false, on5(vxapi_nl_port_param, &get, 20), bytes(speed_get),
         [&] { return get.Speed == 0x16; }},
        {"qos on", 8, 2096, true, on5(vxapi_nl_enable_disable_qos, 1), {1, 1, 0, 0, 0, 0, 0, 0}},
        {"qos set", 8, 2108, true, on5(vxapi_nl_set_qos_config, cfg.data(), 10), {1, 3, 0, 0, 10, 0, 0, 0},
         [&] { return drv.prio_cfg == cfg; }},
        {"qos get", 8, 2096, true, on5(vxapi_nl_get_qos_config, got.data(), 10), {1, 2, 0, 0, 10, 0, 0, 0},
         [&] { return got == cfg; }},
        {"diag", 9, 2096, true, on5(vxapi_nl_set_reset_diag_mode, 1), {1, 0, 0, 0}},
        {"fru versions", 11, 2144, false, on5(vxapi_nl_update_fru_versions, &fru, 46), sim::bytes_of(&fru, 46)},
        {"fru write", 13, 2112, false, on5(vxapi_nl_fru_status, &reg, 14, 13), bytes(reg)},
        {"fru read", 12, 2112, false, on5(vxapi_nl_fru_status, &reg_back, 14, 12), {},
         [&] { return bytes(reg_back) == bytes(reg); }},
        {"serdes write", 19, 2096, false, on5(vxapi_nl_serdes_reg_ops, &sd), bytes(sd)},
        {"serdes read", 19, 2096, false, on5(vxapi_nl_serdes_reg_ops, &sd_read), bytes(vxa_serdes_reg{1, 0x40, 0}),
         [&] { return sd_read.val == 0xBEEF; }},
        {"serdes ex write", 20, 2096, false, on5(vxapi_nl_serdes_reg_ops_ex, &sdx), bytes(sdx)},
        {"serdes ex read", 20, 2096, false, on5(vxapi_nl_serdes_reg_ops_ex, &sdx_read),
         bytes(vxa_serdes_reg_ex{1, 0x40000, 0}), [&] { return sdx_read.val == 0xCAFEF00D; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(&status) + status, 0u);
        EXPECT_TRUE(c.done());
        EXPECT_EQ(std::tuple(nl.requests().back().cmd, nl.requests().back().message.size(), sent(c.body.size())),
                  std::tuple(c.cmd, size_t{c.length}, c.body));
        for (const NlFault& f : {NlFault{NlFault::Error, 3, {}}, NlFault{NlFault::NlError, -19, {}}}) {
            nl.fault(f);
            status = kLeft;
            EXPECT_EQ(c.call(&status), 1);
            EXPECT_EQ(status, f.kind == NlFault::NlError ? 20u : c.preset ? 1u : kLeft);
        }
    }
}

// Chunked transfers: pieces at their offsets; a failing piece ends the call and the pieces before it stay
// delivered.
TEST_F(NlVendorTest, Chunking) {
    // i2c: 150 bytes at 0x10, the second piece unanswered (write) or refused (read); the status is the first piece's.
    Bytes data = sim::pattern(150, 1), back(150, 0xCC), first(150, 0);
    std::copy_n(data.begin(), 64, first.begin());
    for (const NlFault& f : {NlFault{}, NlFault{NlFault::NoReply, 0, {}}, NlFault{}, NlFault{NlFault::Error, 3, {}}})
        nl.fault(f);
    EXPECT_EQ(vxapi_nl_set_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, data.data(), &status), 1);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(Bytes(drv.i2c[0xA0].begin() + 0x10, drv.i2c[0xA0].begin() + 0xA6), first);
    EXPECT_EQ(vxapi_nl_get_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, back.data(), &status), 1);
    std::fill(first.begin() + 64, first.end(), 0xCC);
    EXPECT_EQ(back, first);
    EXPECT_EQ(vxapi_nl_set_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, data.data(), &status), 0);
    EXPECT_EQ(vxapi_nl_get_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, back.data(), &status), 0);
    EXPECT_EQ(back, data);
    EXPECT_EQ(vxapi_nl_get_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 0, back.data(), &status), 0);

    // A diagnostic Tarno image of 0x10001 bytes: two messages, fw_len 0x10001 in both.
    Bytes image = sim::pattern(0x10001, 5);
    TARNO_UPDATE_FW fw{TARNO_UPDATE_DIAG_FW, 0, 0x10001, image.data()};
    EXPECT_EQ(vxapi_nl_84xx_updatefw(gnl_fd, 5, &fw, &status), 0);
    EXPECT_EQ(drv.image, image);

    // Loopback of 0x18000 bytes: the results come from the second send reply.
    Bytes tx = sim::pattern(0x18000, 9), rx(0x18000);
    INT_LOOPBACK_REQ req{0, 0x18000, 1, vxapi_ptr_to_64bit(tx.data()), 0x18000, {}};
    INT_LOOPBACK_RSP rsp{vxapi_ptr_to_64bit(rx.data()), 0x18000, 0, 0, 0, 0, 0, 0, 0, {}};
    EXPECT_EQ(vxapi_nl_loopback_test(gnl_fd, 5, &req, 40, &rsp, 40, &status) + status, 0u);
    EXPECT_EQ(rx, tx);
    EXPECT_EQ(std::tuple(rsp.CrcErrorCount, rsp.CommandSent), std::tuple(2, 0x0A));

    // Each piece: command, message length, then the body's offset and length.
    std::vector<std::array<uint32_t, 4>> pieces;
    for (const sim::NlRequest& r : nl.requests()) {
        std::array<uint32_t, 4> p{r.cmd, static_cast<uint32_t>(r.message.size()), 0, 0};
        const auto* a = reinterpret_cast<const vxa_i2c_access*>(r.body());
        const auto* l = reinterpret_cast<const msg_loopback*>(r.body());
        if (r.cmd == 2) std::memcpy(&p[2], r.body() + 4, 8);
        if (r.cmd == 5 || r.cmd == 6) p[2] = l->offset, p[3] = l->len;
        if (r.cmd == 16 || r.cmd == 17) p[2] = a->offset, p[3] = a->length;
        pieces.push_back(p);
    }
    const std::vector<std::array<uint32_t, 4>> want = {
        {16, 2168, 0x10, 64}, {16, 2168, 0x50, 64}, {17, 2168, 0x10, 64}, {17, 2168, 0x50, 64},
        {16, 2168, 0x10, 64}, {16, 2168, 0x50, 64}, {16, 2168, 0x90, 22}, {17, 2168, 0x10, 64},
        {17, 2168, 0x50, 64}, {17, 2168, 0x90, 22}, {17, 2168, 0x10, 0}, {2, 67632, 0, 0x10000},
        {2, 2100, 0x10000, 1}, {5, 67632, 0, 0x10000}, {5, 34864, 0x10000, 0x8000}, {6, 67632, 0, 0x10000},
        {6, 34864, 0x10000, 0x8000}};
    EXPECT_EQ(pieces, want);
    EXPECT_FALSE(nl.overlapped());
}

// Refused before anything is sent (status 6): data beyond the message or the caller's buffers, and parameters out
// of range. Tarno data at the limits fit (a buffer overrun would stop the test under the address sanitizer).
TEST_F(NlVendorTest, RefusedUnsent) {
    Bytes big = sim::pattern(0x20000, 4), back(0x20000);
    const uint64_t at = vxapi_ptr_to_64bit(big.data());
    constexpr uint32_t kOver = 0x20000 - 2096 + 1;
    TARNO_MANAGE_INFO write{TARNO_MGMT_WRITE_MEM, 0, {}, 18417, big.data()};
    TARNO_MANAGE_INFO read{TARNO_MGMT_READ_MEM, 0, {}, 67577, back.data()}, config{2, 0, {}, 67577, nullptr};
    INT_LOOPBACK_REQ req{0, 0, 1, at, 0, {}};
    INT_LOOPBACK_RSP rsp{at, 0, 0, 0, 0, 0, 0, 0, 0, {}};
    INT_PORT_PARAM by_node = port(0, 0, VX_DEST_WWNN), bad_speed = port(1, 0x20);
    auto loopback = [&](uint32_t count, uint32_t tx_len, uint32_t rx_len) -> Call {
        return [=, &req, &rsp](uint32_t* s) {
            req.TransferCount = count, req.BufferLength = tx_len, rsp.BufferLength = rx_len;
            return vxapi_nl_loopback_test(gnl_fd, 5, &req, 40, &rsp, 40, s);
        };
    };
    const std::pair<const char*, Call> cases[] = {
        {"write 18,417", on5(vxapi_nl_84xx_mgmt, &write)},
        {"read 67,577", on5(vxapi_nl_84xx_mgmt, &read)},
        {"configure 67,577", on5(vxapi_nl_84xx_mgmt, &config)},
        {"loopback beyond tx", loopback(0x101, 0x100, 0x200)},
        {"loopback rx below tx", loopback(0x10, 0x200, 0x100)},
        {"loopback of 0", loopback(0, 0x100, 0x100)},
        {"qos set", on5(vxapi_nl_set_qos_config, big.data(), kOver)},
        {"qos get", on5(vxapi_nl_get_qos_config, back.data(), kOver)},
        {"fru versions", on5(vxapi_nl_update_fru_versions, big.data(), kOver)},
        {"fru status", on5(vxapi_nl_fru_status, big.data(), kOver, 12)},
        {"speed by node name", on5(vxapi_nl_port_param, &by_node, 20)},
        {"speed 0x20", on5(vxapi_nl_port_param, &bad_speed, 20)},
    };
    for (const auto& [name, call] : cases) {
        status = kLeft;
        EXPECT_EQ(std::tuple(call(&status), status), std::tuple(1, 6u)) << name;
    }
    // Diagnostic modes other than 0 and 1 fail with status 1.
    EXPECT_EQ(std::tuple(vxapi_nl_set_reset_diag_mode(gnl_fd, 5, 2, &status), status), std::tuple(1, 1u));
    EXPECT_TRUE(nl.requests().empty());

    write.TotalByteCount = 18416, read.TotalByteCount = 67576;
    EXPECT_EQ(vxapi_nl_84xx_mgmt(gnl_fd, 5, &write, &status), 0);
    EXPECT_EQ(vxapi_nl_84xx_mgmt(gnl_fd, 5, &read, &status), 0);
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + 18416, back.begin()));
}

// Library speeds and driver codes, both ways; a code with no speed reads 0xFFFF.
TEST_F(NlVendorTest, SpeedCodesBothWays) {
    const std::pair<uint16_t, uint16_t> table[] = {{0x01, 0x00}, {0x02, 0x01}, {0x04, 0x03}, {0x08, 0x04},
                                                   {0x10, 0x13}, {0x16, 0x05}, {0x32, 0x06}, {0xFFFF, 0x02}};
    for (const auto& [speed, code] : table) {
        INT_PORT_PARAM p = port(1, speed);
        drv.speeds[kWwpn] = 0x42;
        EXPECT_EQ(vxapi_nl_port_param(gnl_fd, 5, &p, 20, &status), speed == 0xFFFF ? 1 : 0);
        EXPECT_EQ(drv.speeds[kWwpn], speed == 0xFFFF ? 0x42 : code);
        drv.speeds[kWwpn] = code;
        p = port(0, 0);
        EXPECT_EQ(vxapi_nl_port_param(gnl_fd, 5, &p, 20, &status), 0);
        EXPECT_EQ(p.Speed, speed);
    }
}

}  // namespace

// The event queues of the shared file, the poll pass and its callbacks, and
// the event thread on the virtual clock.
#include <map>
#include <mutex>

#include "shared_file_support.h"

namespace {

using shtest::Child;

EXT_ASYNC_EVENT make_event(uint32_t code, uint32_t host_no = 0) {
    EXT_ASYNC_EVENT ev{};
    ev.AsyncEventCode = code;
    ev.Payload.RSCN.host_no = host_no;
    return ev;
}

// What the port event callback saw.
struct CallbackCall {
    void* userdata;
    uint8_t wwpn[8];
    uint32_t type, addr;
    bool list_lock_free;  // another thread could take the list lock meanwhile
};

std::mutex g_calls_mu;
std::vector<CallbackCall> g_calls;

void record_callback(void* userdata, vxapi_hba_wwn wwpn, uint32_t type, uint32_t addr) {
    CallbackCall call{userdata, {}, type, addr, false};
    std::memcpy(call.wwpn, wwpn.wwn, sizeof call.wwpn);
    std::thread([&call] {
        call.list_lock_free = vxapi_list_mutex().try_lock();
        if (call.list_lock_free) vxapi_list_mutex().unlock();
    }).join();
    std::lock_guard<std::mutex> lock(g_calls_mu);
    g_calls.push_back(call);
}

std::vector<CallbackCall> calls() {
    std::lock_guard<std::mutex> lock(g_calls_mu);
    return g_calls;
}

class EventTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        shtest::reset_shared_state();
        std::lock_guard<std::mutex> lock(g_calls_mu);
        g_calls.clear();
        adapter = &rig.driver.add_adapter();
        // The driver delivers a port's pending events (or a fixed answer).
        rig.driver.on(EXT_CC_GET_AEN, [this](const sim::SimRequest& req) {
            std::lock_guard<std::mutex> lock(pending_mu);
            if (auto it = answers.find(req.port->instance); it != answers.end()) return it->second;
            std::vector<EXT_ASYNC_EVENT>& events = pending[req.port->instance];
            sim::SimReply reply;
            reply.response = sim::bytes_of(events.data(), events.size() * sizeof(EXT_ASYNC_EVENT));
            events.clear();
            return reply;
        });
    }
    void TearDown() override {
        shtest::reset_shared_state();
        vxdbg_reset();
    }
    // Opens the shared file in this process, without the event thread.
    void open_file() {
        ASSERT_EQ(shtest::open_here(), 0);
        ASSERT_NE(api_shared_data, nullptr);
    }
    // Back to a host where no process opened the shared file.
    void forget_file() {
        shtest::reset_shared_state();
        ::unlink(shtest::shared_path(rig.host).c_str());
    }
    // A port of the simulated driver and its record at the end of the list.
    vxapi_priv_database* add_port(bool events_enabled) {
        sim::SimPort& port = rig.driver.add_port(*adapter);
        vxapi_priv_database* rec = nullptr;
        EXPECT_EQ(vxapi_alloc_api_priv_data_mem(&rec), 0);
        if (rec == nullptr) return nullptr;
        std::strcpy(reinterpret_cast<char*>(rec->phys_path), "/dev/vxa2xxx");
        rec->oshandle = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        rec->drvr_inst = port.instance;
        rec->host_no = port.host_no;
        rec->apihandle = port.instance + 1u;
        rec->features = VX_FEAT_IOCTL | VX_FEAT_NEW_IOCTL | (events_enabled ? VX_FEAT_AEN : 0);
        for (int i = 0; i < 8; ++i) rec->wwpn[i] = static_cast<uint8_t>(0x20 + port.instance * 8 + i);
        return rec;
    }
    void queue_driver_events(const vxapi_priv_database* rec, std::vector<EXT_ASYNC_EVENT> events) {
        std::lock_guard<std::mutex> lock(pending_mu);
        auto& list = pending[static_cast<uint16_t>(rec->drvr_inst)];
        list.insert(list.end(), events.begin(), events.end());
    }
    // The driver instances whose events were requested, in order.
    std::vector<int> polled() const {
        std::vector<int> out;
        for (const sim::SimLogEntry& e : rig.driver.log())
            if (e.command == EXT_CC_GET_AEN) out.push_back(e.hba_select);
        return out;
    }
    static vxapi_hbaptevq_t& queue(unsigned slot) { return api_shared_data->hbaptevq[slot]; }
    static std::vector<uint32_t> codes(unsigned slot, unsigned from = 0, unsigned to = VX_EVQ_ENTRIES) {
        std::vector<uint32_t> out;
        for (unsigned i = from; i < to; ++i) out.push_back(queue(slot).eventbuf[i].AsyncEventCode);
        return out;
    }
    static void fill_queue(unsigned slot) {
        for (unsigned i = 0; i < VX_EVQ_ENTRIES; ++i) queue(slot).eventbuf[i] = make_event(i + 1, 40);
        queue(slot).q_tail = VX_EVQ_ENTRIES;
    }
    // The codes a drain of slot 0 for host 5 moved out.
    static std::vector<uint32_t> drain(uint8_t slot = 0, uint32_t host_no = 5) {
        vxapi_priv_database port{};
        port.host_no = host_no;
        EXT_ASYNC_EVENT out[VX_EVENTS_PER_POLL] = {};
        uint32_t count = 77;
        EXPECT_EQ(vxapi_empty_sh_portevq(slot, &port, out, &count), 0);
        std::vector<uint32_t> got;
        for (uint32_t i = 0; i < count && i < VX_EVENTS_PER_POLL; ++i) got.push_back(out[i].AsyncEventCode);
        return got;
    }
    template <class Pred>
    static bool wait_until(Pred pred) {
        for (int i = 0; i < 4000 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pred();
    }
    sim::DriverRig rig;
    sim::SimAdapter* adapter = nullptr;
    std::mutex pending_mu;
    std::map<uint16_t, std::vector<EXT_ASYNC_EVENT>> pending;
    std::map<uint16_t, sim::SimReply> answers;
};

// ---------------------------------------------------------------- queues

TEST_F(EventTest, AppendReachesEveryActiveSlotAndNoOther) {
    open_file();
    api_shared_data->libinst_flags[3] = VX_LIBINST_ACTIVE;
    api_shared_data->libinst_flags[5] = VX_LIBINST_OWNED;
    api_shared_data->libinst_flags[6] = VX_LIBINST_LIVE;
    const EXT_ASYNC_EVENT ev = make_event(VX_AEN_LINK_UP, 7);
    vxapi_add_portev_to_shared_mem(&ev);
    vxapi_add_portev_to_shared_mem(&ev);
    for (unsigned slot = 0; slot < VX_LIBINST_SLOTS; ++slot) {
        const bool active = slot == 0 || slot == 3;
        EXPECT_EQ(queue(slot).q_tail, active ? 2 : 0) << "slot " << slot;
        EXPECT_EQ(std::memcmp(&queue(slot).eventbuf[1], &ev, sizeof ev) == 0, active) << "slot " << slot;
    }
}

// A full ring with holes is compacted before the append (the head stays); a
// full ring without one starts over at the front.
TEST_F(EventTest, FullRingIsCompactedOrStartsOver) {
    open_file();
    fill_queue(0);
    const EXT_ASYNC_EVENT ev = make_event(0xBEEF, 3);
    vxapi_add_portev_to_shared_mem(&ev);
    EXPECT_EQ(queue(0).q_tail, 1);
    EXPECT_EQ(codes(0, 0, 2), (std::vector<uint32_t>{0xBEEF, 2}));
    EXPECT_EQ(queue(0).eventbuf[1023].AsyncEventCode, 1024u);
    fill_queue(0);
    queue(0).q_head = 7;
    const std::vector<unsigned> holes = {0, 1, 50, 51, 300, 511, 700, 900, 1022, 1023};
    std::vector<uint32_t> kept;
    for (unsigned i = 0; i < VX_EVQ_ENTRIES; ++i) {
        const bool hole = std::find(holes.begin(), holes.end(), i) != holes.end();
        if (hole) queue(0).eventbuf[i] = EXT_ASYNC_EVENT{};
        if (!hole) kept.push_back(i + 1);
    }
    vxapi_add_portev_to_shared_mem(&ev);
    EXPECT_EQ(queue(0).q_tail, 1015);
    EXPECT_EQ(codes(0, 0, 1014), kept);
    EXPECT_EQ(codes(0, 1014), (std::vector<uint32_t>{0xBEEF, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(queue(0).q_head, 7) << "the head is not moved";
}

TEST_F(EventTest, TailBeyondTheRingIsTakenAsFull) {
    const struct { uint16_t tail; bool hole; uint16_t expect_index; } cases[] = {
        {0xFFFF, false, 0}, {1025, false, 0}, {0xFFFF, true, 1023}, {2000, true, 1023}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "tail " << c.tail << (c.hole ? " with a hole" : " without a hole"));
        forget_file();
        open_file();
        // Only the last slot receives: its ring ends 16 bytes before the tokens.
        api_shared_data->libinst_flags[0] = VX_LIBINST_OWNED;
        api_shared_data->libinst_flags[7] = VX_LIBINST_ACTIVE;
        fill_queue(7);
        if (c.hole) queue(7).eventbuf[100] = EXT_ASYNC_EVENT{};
        queue(7).q_tail = c.tail;
        std::memset(api_shared_data->reserved, 0x5C, sizeof api_shared_data->reserved);
        const std::string before = shtest::mapping_bytes();
        const EXT_ASYNC_EVENT ev = make_event(0xBEEF, 3);
        vxapi_add_portev_to_shared_mem(&ev);
        EXPECT_EQ(queue(7).eventbuf[c.expect_index].AsyncEventCode, 0xBEEFu);
        EXPECT_EQ(queue(7).q_tail, c.expect_index + 1);
        // Nothing changed outside slot 7's ring and indexes.
        const std::string after = shtest::mapping_bytes();
        const size_t ring7 = offsetof(vxapi_shared_t, hbaptevq) + 7 * sizeof(vxapi_hbaptevq_t);
        const size_t past = ring7 + offsetof(vxapi_hbaptevq_t, rsvd);
        EXPECT_TRUE(after.compare(0, ring7, before, 0, ring7) == 0);
        EXPECT_TRUE(after.compare(past, std::string::npos, before, past) == 0);
    }
}

// A drain takes one port's entries in index order, at most 64, leaving holes;
// the head decides where it starts and goes back to 0 after it; a head beyond
// the ring starts at 0.
TEST_F(EventTest, DrainMovesAtMost64FromTheHead) {
    open_file();
    queue(0).eventbuf[0] = make_event(0x8011, 6);
    queue(0).eventbuf[3] = make_event(0x8012, 5);
    queue(0).eventbuf[3].Payload.RSCN.RSCNInfo[0] = 0x11;
    queue(0).eventbuf[4] = make_event(0x8015, 6);
    queue(0).eventbuf[900] = make_event(0xA000, 5);
    queue(0).eventbuf[901] = make_event(0x8011, 6);
    queue(0).q_tail = 902;
    vxapi_priv_database port{};
    port.host_no = 5;
    EXT_ASYNC_EVENT out[VX_EVENTS_PER_POLL] = {};
    uint32_t count = 99;
    EXPECT_EQ(vxapi_empty_sh_portevq(0, &port, out, &count), 0);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(out[0].AsyncEventCode, 0x8012u);
    EXPECT_EQ(out[0].Payload.RSCN.RSCNInfo[0], 0x11);
    EXPECT_EQ(out[1].AsyncEventCode, 0xA000u);
    EXPECT_EQ(queue(0).eventbuf[3].Payload.RSCN.host_no, 0u);
    EXPECT_EQ(codes(0, 0, 5), (std::vector<uint32_t>{0x8011, 0, 0, 0, 0x8015}));
    EXPECT_EQ(codes(0, 900, 902), (std::vector<uint32_t>{0, 0x8011}));
    EXPECT_EQ(queue(0).q_tail, 902) << "drained entries stay as holes";
    for (unsigned i = 0; i < 70; ++i) queue(0).eventbuf[i] = make_event(0x100 + i, 5);
    queue(0).q_tail = 70;
    const std::vector<uint32_t> first = drain();
    ASSERT_EQ(first.size(), 64u);
    EXPECT_EQ(first[63], 0x100u + 63);
    EXPECT_EQ(codes(0, 64, 70), (std::vector<uint32_t>{0x140, 0x141, 0x142, 0x143, 0x144, 0x145}));
    const struct { uint16_t head; std::vector<uint32_t> drained; } cases[] = {
        {66, {0x142, 0x143, 0x144, 0x145}}, {0xFFFF, {0x140, 0x141}}, {1024, {}}};
    for (const auto& c : cases) {
        queue(0).q_head = c.head;
        EXPECT_EQ(drain(), c.drained) << c.head;
        EXPECT_EQ(queue(0).q_head, 0);
    }
}

TEST_F(EventTest, SlotsEightAndAboveNeverAddressAQueue) {
    open_file();
    for (unsigned s = 0; s < VX_LIBINST_SLOTS; ++s) {
        fill_queue(s);
        queue(s).eventbuf[10] = EXT_ASYNC_EVENT{};
    }
    std::memset(api_shared_data->reserved, 0x5C, sizeof api_shared_data->reserved);
    const std::string before = shtest::mapping_bytes();
    for (unsigned slot : {8u, 9u, 128u, 255u}) {
        SCOPED_TRACE(slot);
        EXPECT_TRUE(drain(static_cast<uint8_t>(slot), 40).empty());
        vxapi_remove_aen_holes_from_shared_mem(static_cast<uint8_t>(slot));
        vxapi_clear_evqs(static_cast<uint8_t>(slot));
    }
    // A process without a slot makes no callbacks from any queue.
    vxapi_aen_callback_table cbs{};
    cbs.hbapt_event_cb.cb_hba_port_event = reinterpret_cast<void*>(&record_callback);
    vxapi_priv_database port{};
    port.host_no = 40;
    port.api_event_cbs = &cbs;
    port.port_flags = VX_PORT_FLAG_EVENT_CB;
    api_library_instance = VX_LIBINST_NONE;
    vxapi_make_event_callbacks(&port);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(shtest::mapping_bytes() == before);
}

// ---------------------------------------------------------------- poll pass

// A pass polls the ports with events enabled in list order and queues their
// events stamped with the host number; a torn-down record (empty path) ends
// it; a failed request skips only that port.
TEST_F(EventTest, PassQueuesTheEventsOfEnabledPortsInListOrder) {
    open_file();
    vxapi_priv_database* a = add_port(true);
    vxapi_priv_database* b = add_port(false);
    vxapi_priv_database* c = add_port(true);
    queue_driver_events(a, {make_event(VX_AEN_LINK_UP), make_event(VX_AEN_RSCN)});
    queue_driver_events(b, {make_event(VX_AEN_LINK_DOWN)});
    queue_driver_events(c, {make_event(VX_AEN_TARGET_ADDED)});
    EXPECT_EQ(vxapi_event_poll_pass(), 0);
    EXPECT_EQ(polled(), (std::vector<int>{static_cast<int>(a->drvr_inst), static_cast<int>(c->drvr_inst)}));
    EXPECT_EQ(queue(0).q_tail, 3);
    EXPECT_EQ(codes(0, 0, 4), (std::vector<uint32_t>{VX_AEN_LINK_UP, VX_AEN_RSCN, VX_AEN_TARGET_ADDED, 0}));
    EXPECT_EQ(queue(0).eventbuf[1].Payload.RSCN.host_no, a->host_no);
    EXPECT_EQ(queue(0).eventbuf[2].Payload.RSCN.host_no, c->host_no);
    EXPECT_EQ(::semctl(api_dbupdate_sem_id, 0, GETVAL), 1) << "the semaphore is free after the pass";
    rig.driver.clear_log();
    b->features |= VX_FEAT_AEN;
    b->phys_path[0] = 0;
    queue_driver_events(c, {make_event(VX_AEN_LINK_UP)});
    vxapi_event_poll_pass();
    EXPECT_EQ(polled(), std::vector<int>{static_cast<int>(a->drvr_inst)});
    EXPECT_EQ(queue(0).q_tail, 3);
}

TEST_F(EventTest, FailedRequestSkipsOnlyThatPort) {
    for (bool by_status : {true, false}) {  // else the ioctl itself fails
        SCOPED_TRACE(by_status ? "driver status" : "ioctl error");
        forget_file();
        answers.clear();
        pending.clear();
        open_file();
        vxapi_priv_database* a = add_port(true);
        vxapi_priv_database* b = add_port(true);
        queue_driver_events(a, {make_event(VX_AEN_LINK_DOWN)});
        queue_driver_events(b, {make_event(VX_AEN_LINK_UP)});
        if (by_status) {
            sim::SimReply r = sim::SimReply::with_status(EXT_STATUS_ERR);
            r.response.resize(sizeof(EXT_ASYNC_EVENT));
            answers[static_cast<uint16_t>(a->drvr_inst)] = r;
        } else {
            rig.driver.inject_errno(EIO, 1);
        }
        vxapi_event_poll_pass();
        EXPECT_EQ(queue(0).q_tail, 1);
        EXPECT_EQ(queue(0).eventbuf[0].AsyncEventCode, VX_AEN_LINK_UP);
    }
}

TEST_F(EventTest, CallbacksGetTheSniaTypeAndAddressOutsideTheListLock) {
    open_file();
    vxapi_priv_database* a = add_port(true);
    vxapi_priv_database* b = add_port(true);
    int userdata = 0;
    a->port_flags = VX_PORT_FLAG_EVENT_CB;
    a->api_event_cbs->hbapt_event_cb.cb_hba_port_event = reinterpret_cast<void*>(&record_callback);
    a->api_event_cbs->hbapt_event_cb.hba_port_userdata = &userdata;
    EXT_ASYNC_EVENT rscn = make_event(VX_AEN_RSCN);
    std::memcpy(rscn.Payload.RSCN.RSCNInfo, "\x01\x02\x03", 3);
    rscn.Payload.RSCN.AddrFormat = 0x04;
    queue_driver_events(a, {make_event(VX_AEN_LINK_UP), make_event(VX_AEN_LINK_DOWN), rscn,
                            make_event(VX_AEN_TARGET_ADDED), make_event(0x8020)});
    queue_driver_events(b, {make_event(VX_AEN_LINK_UP)});
    vxapi_event_poll_pass();
    const std::vector<CallbackCall> got = calls();
    ASSERT_EQ(got.size(), 5u);
    uint32_t rscn_addr = 0;
    std::memcpy(&rscn_addr, "\x04\x01\x02\x03", sizeof rscn_addr);
    const uint32_t types[] = {0x202, 0x201, 0x204, 0x203, 0x200};
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].userdata, &userdata);
        EXPECT_EQ(std::memcmp(got[i].wwpn, a->wwpn, 8), 0);
        EXPECT_EQ(got[i].type, types[i]);
        EXPECT_EQ(got[i].addr, i == 2 ? rscn_addr : 0u);
        EXPECT_TRUE(got[i].list_lock_free);
    }
    // The callback port's events left the queue; the other port's stay.
    EXPECT_EQ(codes(0, 0, 6), (std::vector<uint32_t>{0, 0, 0, 0, 0, VX_AEN_LINK_UP}));
}

TEST_F(EventTest, OneProcessesPollReachesEveryProcessesQueue) {
    open_file();
    ASSERT_EQ(api_library_instance, 0);
    Child other([](Child& self) {
        shtest::reset_shared_state();
        if (shtest::open_here() != 0) return 1;
        self.reply(api_library_instance);
        vxapi_priv_database port{};
        port.host_no = static_cast<uint32_t>(self.command());
        EXT_ASYNC_EVENT out[VX_EVENTS_PER_POLL] = {};
        uint32_t count = 0;
        {
            VxSemLock lock(api_dbupdate_sem_id);
            vxapi_empty_sh_portevq(api_library_instance, &port, out, &count);
        }
        self.reply(static_cast<int>(count));
        for (uint32_t i = 0; i < count; ++i) self.reply(static_cast<int>(out[i].AsyncEventCode));
        if (self.command() != 1) return 2;
        vxapi_close_database(api_shm_fildes);
        return 0;
    });
    ASSERT_EQ(other.receive(), 1);
    vxapi_priv_database* a = add_port(true);
    queue_driver_events(a, {make_event(VX_AEN_LINK_UP), make_event(VX_AEN_RSCN)});
    vxapi_event_poll_pass();
    other.send(static_cast<int>(a->host_no));
    ASSERT_EQ(other.receive(), 2);
    EXPECT_EQ(other.receive(), static_cast<int>(VX_AEN_LINK_UP));
    EXPECT_EQ(other.receive(), static_cast<int>(VX_AEN_RSCN));
    EXPECT_EQ(codes(0, 0, 3), (std::vector<uint32_t>{VX_AEN_LINK_UP, VX_AEN_RSCN, 0}));
    other.send(1);
    EXPECT_EQ(other.wait(), 0);
}

// ---------------------------------------------------------------- the thread

TEST_F(EventTest, ThreadPollsOnEveryFifteenthTickOnlyPortsWithEvents) {
    vxapi_priv_database* a = add_port(true);
    add_port(false);
    const time_t start = rig.host.now();
    int fd = -1;
    ASSERT_EQ(vxapi_open_database(&fd), 0);
    EXPECT_NE(vxapi_ev_thread_id, pthread_t{});
    ASSERT_TRUE(wait_until([&] { return polled().size() >= 3; }));
    ASSERT_EQ(vxapi_close_database(fd), 0);
    EXPECT_EQ(vxapi_ev_thread_id, pthread_t{});
    std::vector<time_t> times;
    for (const sim::SimLogEntry& e : rig.driver.log()) {
        if (e.command != EXT_CC_GET_AEN) continue;
        EXPECT_EQ(e.hba_select, a->drvr_inst);
        times.push_back(e.time - start);
    }
    ASSERT_GE(times.size(), 3u);
    EXPECT_EQ(std::vector<time_t>(times.begin(), times.begin() + 3), (std::vector<time_t>{14, 29, 44}));
    for (unsigned s : rig.host.sleep_seconds()) EXPECT_EQ(s, 1u);
    // Stopped: the clock stands still.
    const size_t sleeps = rig.host.sleep_seconds().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(rig.host.sleep_seconds().size(), sleeps);
}

// A stop request is honoured within a tick; the thread also ends when the
// port list goes.
TEST_F(EventTest, ThreadEndsOnRequestOrWhenThePortListGoes) {
    for (bool request : {true, false}) {
        SCOPED_TRACE(request ? "stop request" : "list gone");
        add_port(true);
        rig.host.clear_sleeps();
        ASSERT_EQ(vxapi_start_event_thread(), 0);
        ASSERT_TRUE(wait_until([&] { return rig.host.sleep_seconds().size() >= 20; }));
        request ? vxapi_ev_terminate.store(1) : vxapi_free_api_priv_data_mem();
        const size_t at_request = rig.host.sleep_seconds().size();
        ASSERT_EQ(::pthread_join(vxapi_ev_thread_id, nullptr), 0);
        vxapi_ev_thread_id = 0;
        if (request) { EXPECT_LE(rig.host.sleep_seconds().size(), at_request + 1); }
        if (!request) { EXPECT_EQ(vxapi_ev_terminate.load(), 0); }
        vxapi_ev_terminate.store(0);
    }
}

TEST_F(EventTest, ThreadAndCallerChangeTheListWithoutTrouble) {
    open_file();
    vxapi_priv_database* a = add_port(true);
    a->port_flags = VX_PORT_FLAG_EVENT_CB;
    a->api_event_cbs->hbapt_event_cb.cb_hba_port_event = reinterpret_cast<void*>(&record_callback);
    ASSERT_EQ(vxapi_start_event_thread(), 0);
    // The caller adds and removes ports while the thread walks the list.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    size_t polls = 0;
    for (int round = 0; polls < 10 && std::chrono::steady_clock::now() < deadline; ++round) {
        vxapi_priv_database* extra = nullptr;
        if (vxapi_alloc_api_priv_data_mem(&extra) == 0 && extra != nullptr) {
            std::strcpy(reinterpret_cast<char*>(extra->phys_path), "/dev/vxa2xxx");
            vxapi_free_api_priv_data_element(extra);
        }
        if (round % 100 == 0) {
            queue_driver_events(a, {make_event(VX_AEN_LINK_UP)});
            polls = polled().size();
        }
    }
    shtest::stop_event_thread();
    EXPECT_GE(polled().size(), 10u);
    EXPECT_FALSE(calls().empty());
}

}  // namespace

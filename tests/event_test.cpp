// The event queues of the shared file, the poll pass and its callbacks, and
// the event thread on the virtual clock.
#include <map>

#include "shared_file_support.h"

namespace {

EXT_ASYNC_EVENT make_event(uint32_t code, uint32_t host_no = 0) {
    EXT_ASYNC_EVENT ev{};
    ev.AsyncEventCode = code;
    ev.Payload.RSCN.host_no = host_no;
    return ev;
}

// What the port event callback saw; could another thread take the list lock?
struct CallbackCall {
    void* userdata;
    uint8_t wwpn[8];
    uint32_t type, addr;
    bool list_lock_free;
};

std::vector<CallbackCall> g_calls;  // made in the test's thread by the passes it runs

void record_callback(void* userdata, vxapi_hba_wwn wwpn, uint32_t type, uint32_t addr) {
    CallbackCall call{userdata, {}, type, addr, false};
    std::memcpy(call.wwpn, wwpn.wwn, sizeof call.wwpn);
    std::thread([&call] {
        call.list_lock_free = vxapi_list_mutex().try_lock();
        if (call.list_lock_free) vxapi_list_mutex().unlock();
    }).join();
    g_calls.push_back(call);
}

using Codes = std::vector<uint32_t>;

class EventTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        shtest::reset_shared_state();
        g_calls.clear();
        adapter = &rig.driver.add_adapter();
        // The driver delivers a port's pending events.
        rig.driver.on(EXT_CC_GET_AEN, [this](const sim::SimRequest& req) {
            std::vector<EXT_ASYNC_EVENT>& events = pending[req.port->instance];
            sim::SimReply reply;
            reply.response = sim::bytes_of(events.data(), events.size() * sizeof(EXT_ASYNC_EVENT));
            events.clear();
            return reply;
        });
    }
    void TearDown() override { shtest::reset_shared_state(); }
    // Opens the shared file in this process, without the event thread.
    void open_file() { ASSERT_EQ(shtest::open_here(), 0); }
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
    static Codes codes(unsigned slot, unsigned from = 0, unsigned to = VX_EVQ_ENTRIES) {
        Codes out;
        for (unsigned i = from; i < to; ++i) out.push_back(queue(slot).eventbuf[i].AsyncEventCode);
        return out;
    }
    static void fill_queue(unsigned slot) {
        for (unsigned i = 0; i < VX_EVQ_ENTRIES; ++i) queue(slot).eventbuf[i] = make_event(i + 1, 40);
        queue(slot).q_tail = VX_EVQ_ENTRIES;
    }
    // The codes a drain of the slot for the host moved out.
    static Codes drain(uint8_t slot = 0, uint32_t host_no = 5) {
        vxapi_priv_database port{};
        port.host_no = host_no;
        EXT_ASYNC_EVENT out[VX_EVENTS_PER_POLL] = {};
        uint32_t count = 77;
        EXPECT_EQ(vxapi_empty_sh_portevq(slot, &port, out, &count), 0);
        Codes got;
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
    std::map<uint16_t, std::vector<EXT_ASYNC_EVENT>> pending;
};

// A full ring (or a tail beyond it) is compacted before the append, or starts
// over at the front without a hole; nothing outside the ring and its indexes
// changes (the last slot's ring ends 16 bytes before the tokens).
TEST_F(EventTest, FullRingIsCompactedOrStartsOver) {
    open_file();
    api_shared_data->libinst_flags[0] = VX_LIBINST_OWNED;
    api_shared_data->libinst_flags[7] = VX_LIBINST_ACTIVE;
    std::memset(api_shared_data->reserved, 0x5C, sizeof api_shared_data->reserved);
    const struct { uint16_t tail; std::vector<unsigned> holes; } cases[] = {
        {1024, {}}, {0xFFFF, {}}, {1025, {}}, {1024, {0, 1, 50, 51, 300, 511, 700, 900, 1022, 1023}}, {2000, {100}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "tail " << c.tail << ", " << c.holes.size() << " holes");
        fill_queue(7);
        queue(7).q_tail = c.tail;
        queue(7).q_head = 7;
        Codes want;
        for (unsigned i = 0; i < VX_EVQ_ENTRIES; ++i) {
            const bool hole = std::find(c.holes.begin(), c.holes.end(), i) != c.holes.end();
            if (hole) queue(7).eventbuf[i] = EXT_ASYNC_EVENT{};
            if (!hole || c.holes.empty()) want.push_back(i + 1);
        }
        const size_t at = c.holes.empty() ? 0 : want.size();
        want.resize(VX_EVQ_ENTRIES, 0);
        want[at] = 0xBEEF;
        const std::string before = shtest::mapping_bytes();
        const EXT_ASYNC_EVENT ev = make_event(0xBEEF, 3);
        vxapi_add_portev_to_shared_mem(&ev);
        EXPECT_EQ(codes(7), want);
        EXPECT_EQ(queue(7).q_tail, at + 1);
        EXPECT_EQ(queue(7).q_head, 7) << "the head is not moved";
        const std::string after = shtest::mapping_bytes();
        const size_t ring7 = offsetof(vxapi_shared_t, hbaptevq) + 7 * sizeof(vxapi_hbaptevq_t);
        const size_t past = ring7 + offsetof(vxapi_hbaptevq_t, rsvd);
        EXPECT_TRUE(after.compare(0, ring7, before, 0, ring7) == 0);
        EXPECT_TRUE(after.compare(past, std::string::npos, before, past) == 0);
    }
}

// A drain takes one port's entries in index order from the head (0 beyond
// the ring), at most 64, leaving holes and the tail; the head goes back to 0.
TEST_F(EventTest, DrainMovesAtMost64FromTheHead) {
    open_file();
    for (unsigned i = 0; i < 70; ++i) {
        queue(0).eventbuf[2 * i] = make_event(0x100 + i, 5);
        queue(0).eventbuf[2 * i + 1] = make_event(0x200 + i, 6);
    }
    queue(0).q_tail = 140;
    const Codes first = drain();
    EXPECT_TRUE(first.size() == 64u && first[63] == 0x100u + 63);
    EXPECT_EQ(codes(0, 0, 4), (Codes{0, 0x200, 0, 0x201}));
    EXPECT_EQ(queue(0).q_tail, 140);
    const struct { uint16_t head; Codes drained; } cases[] = {
        {132, {0x142, 0x143, 0x144, 0x145}}, {0xFFFF, {0x140, 0x141}}, {1024, {}}};
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
        EXPECT_TRUE(drain(static_cast<uint8_t>(slot), 40).empty()) << slot;
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
    EXPECT_TRUE(g_calls.empty());
    EXPECT_TRUE(shtest::mapping_bytes() == before);
    api_library_instance = 0;
    vxapi_clear_evqs(7);
    EXPECT_EQ(codes(7, 0, 2), (Codes{0, 0}));
}

// A pass polls the ports with events on in list order and queues their events,
// stamped with the host number, for every active slot; a torn-down record ends it.
TEST_F(EventTest, PassQueuesTheEventsOfEnabledPortsInListOrder) {
    open_file();
    api_shared_data->libinst_flags[3] = VX_LIBINST_ACTIVE;
    api_shared_data->libinst_flags[5] = VX_LIBINST_OWNED;
    api_shared_data->libinst_flags[6] = VX_LIBINST_LIVE;
    vxapi_priv_database* a = add_port(true);
    vxapi_priv_database* b = add_port(false);
    vxapi_priv_database* c = add_port(true);
    queue_driver_events(a, {make_event(VX_AEN_LINK_UP), make_event(VX_AEN_RSCN)});
    queue_driver_events(b, {make_event(VX_AEN_LINK_DOWN)});
    queue_driver_events(c, {make_event(VX_AEN_TARGET_ADDED)});
    EXPECT_EQ(vxapi_event_poll_pass(), 0);
    EXPECT_EQ(polled(), (std::vector<int>{static_cast<int>(a->drvr_inst), static_cast<int>(c->drvr_inst)}));
    const Codes queued = {VX_AEN_LINK_UP, VX_AEN_RSCN, VX_AEN_TARGET_ADDED, 0};
    for (unsigned slot = 0; slot < VX_LIBINST_SLOTS; ++slot) {
        const bool active = slot == 0 || slot == 3;
        EXPECT_EQ(queue(slot).q_tail, active ? 3 : 0) << slot;
        EXPECT_EQ(codes(slot, 0, 4), active ? queued : Codes(4)) << slot;
    }
    EXPECT_EQ(std::pair(queue(3).eventbuf[1].Payload.RSCN.host_no, queue(3).eventbuf[2].Payload.RSCN.host_no),
              std::pair(a->host_no, c->host_no));
    EXPECT_EQ(::semctl(api_dbupdate_sem_id, 0, GETVAL), 1) << "the semaphore is free after the pass";
    // A refused request (its events delivered all the same) or a failed ioctl
    // skips only that port; the events of the failed ioctl come with the next.
    for (bool by_status : {true, false}) {
        queue_driver_events(a, {make_event(VX_AEN_LINK_DOWN)});
        queue_driver_events(c, {make_event(VX_AEN_LINK_UP)});
        by_status ? rig.driver.inject_status(EXT_STATUS_ERR) : rig.driver.inject_errno(EIO);
        EXPECT_EQ(vxapi_event_poll_pass(), 0);
    }
    rig.driver.clear_log();
    b->features |= VX_FEAT_AEN;
    b->phys_path[0] = 0;
    queue_driver_events(c, {make_event(VX_AEN_LINK_UP)});
    EXPECT_EQ(vxapi_event_poll_pass(), 0);
    EXPECT_EQ(polled(), std::vector<int>{static_cast<int>(a->drvr_inst)});
    EXPECT_EQ(codes(0, 3, 7), (Codes{VX_AEN_LINK_UP, VX_AEN_LINK_UP, VX_AEN_LINK_DOWN, 0}));
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
    EXPECT_EQ(vxapi_event_poll_pass(), 0);
    const std::vector<CallbackCall>& got = g_calls;
    ASSERT_EQ(got.size(), 5u);
    uint32_t rscn_addr = 0;
    std::memcpy(&rscn_addr, "\x04\x01\x02\x03", sizeof rscn_addr);
    const uint32_t types[] = {0x202, 0x201, 0x204, 0x203, 0x200};
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].userdata, &userdata);
        EXPECT_EQ(std::memcmp(got[i].wwpn, a->wwpn, 8), 0);
        EXPECT_EQ(std::tuple(got[i].type, got[i].addr, got[i].list_lock_free),
                  std::tuple(types[i], i == 2 ? rscn_addr : 0u, true));
    }
    // The callback port's events left the queue; the other port's stay.
    EXPECT_EQ(codes(0, 0, 6), (Codes{0, 0, 0, 0, 0, VX_AEN_LINK_UP}));
}

// The thread polls the ports with events on every fifteenth tick of a second,
// and ends on a stop request or when the port list goes.
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
    // The thread also ends when the port list goes.
    vxapi_ev_terminate.store(0);
    ASSERT_EQ(vxapi_start_event_thread(), 0);
    ASSERT_TRUE(wait_until([&] { return rig.host.sleep_seconds().size() >= sleeps + 20; }));
    vxapi_free_api_priv_data_mem();
    ASSERT_EQ(::pthread_join(vxapi_ev_thread_id, nullptr), 0);
    vxapi_ev_thread_id = 0;
    EXPECT_EQ(vxapi_ev_terminate.load(), 0);
}

}  // namespace

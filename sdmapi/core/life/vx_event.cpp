// The asynchronous event thread and the event queues of the shared file.
//
// Queue indexes come from a file that any process can write: a tail beyond
// the ring is taken as a full ring and a head beyond it as 0, so no index
// ever reaches outside a queue or the mapping. Slot numbers of 8 and above
// (the "none" value among them) never address a queue.
//
// The thread and the caller's thread never walk the port list at the same
// time: a pass copies the records it polls under the list lock, after it has
// the dbupdate semaphore, and works on the copies, so the callbacks run
// outside the list lock and a record that goes away meanwhile is never
// touched. The thread never writes a listed record either: the callers'
// workers read them without the list lock. What a poll learns about a port
// stays with the thread that learned it (LearnedPorts) and goes into the
// copies of its later passes.
//
// The thread never takes the lock of the public API: an unload holds that
// lock while it stops and joins the thread.
#include "core/life/vx_event.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "core/io/vx_query.h"
#include "core/life/vx_shared.h"
#include "platform/vx_platform.h"

pthread_t vxapi_ev_thread_id = 0;
std::atomic<uint8_t> vxapi_ev_terminate{0};

namespace {

constexpr uint32_t kSleepSeconds = 1;

// A port as the pass sees it: a copy of its record and of its callback table,
// and the listed record it was copied from.
struct PortCopy {
    vxapi_priv_database rec;
    vxapi_aen_callback_table cbs;
    bool has_cbs;
    const vxapi_priv_database* listed;
};

// Feature bits a poll learned about a listed port (by record and host
// number), which every later copy of that port carries.
struct LearnedBits {
    const vxapi_priv_database* listed;
    uint32_t host_no;
    uint32_t bits;
};
using LearnedPorts = std::vector<LearnedBits>;

LearnedBits* find_learned(LearnedPorts& learned, const vxapi_priv_database* listed, uint32_t host_no) {
    const auto it = std::find_if(learned.begin(), learned.end(),
                                 [&](const LearnedBits& l) { return l.listed == listed && l.host_no == host_no; });
    return it != learned.end() ? &*it : nullptr;
}

bool port_list_exists() {
    VxListLock lock(vxapi_list_mutex());
    return api_priv_database != nullptr;
}

// The ports of the list up to the first torn-down record (empty phys_path),
// in list order, with what the thread learned about them.
std::vector<PortCopy> snapshot_ports(LearnedPorts& learned) {
    std::vector<PortCopy> ports;
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return ports;
    // The walk leaves the list's cursor where the caller's thread put it:
    // where the next record is inserted does not depend on this thread.
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        const auto* rec = static_cast<const vxapi_priv_database*>(node->data);
        if (rec->phys_path[0] == 0) break;
        PortCopy copy{};
        std::memcpy(static_cast<void*>(&copy.rec), rec, sizeof copy.rec);
        if (const LearnedBits* l = find_learned(learned, rec, rec->host_no)) copy.rec.features |= l->bits;
        copy.listed = rec;
        copy.has_cbs = rec->api_event_cbs != nullptr;
        if (copy.has_cbs) std::memcpy(static_cast<void*>(&copy.cbs), rec->api_event_cbs, sizeof copy.cbs);
        ports.push_back(copy);
    }
    for (PortCopy& p : ports) p.rec.api_event_cbs = p.has_cbs ? &p.cbs : nullptr;
    return ports;
}

// A poll can learn that the port's events come through the transport socket
// only; later polls must know it, so the thread keeps it for the listed
// record the copy was made of.
void keep_learned_features(const PortCopy& port, uint32_t before, LearnedPorts& learned) {
    const uint32_t bits = port.rec.features & ~before & VX_FEAT_NL_SCSI_FC_ONLY;
    if (bits == 0) return;
    if (LearnedBits* l = find_learned(learned, port.listed, port.rec.host_no)) {
        l->bits |= bits;
    } else {
        learned.push_back({port.listed, port.rec.host_no, bits});
    }
}

vxapi_hbaptevq_t* queue_of(uint8_t slot) {
    if (api_shared_data == nullptr || slot >= VX_LIBINST_SLOTS) return nullptr;
    return &api_shared_data->hbaptevq[slot];
}

// The tail as an index into the ring: anything beyond it means full.
uint32_t tail_of(const vxapi_hbaptevq_t* q) { return std::min<uint32_t>(q->q_tail, VX_EVQ_ENTRIES); }

void trace_port(uint32_t bits, const char* text, const vxapi_priv_database* rec) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print("vxapi_event_thread: inst=", api_library_instance, VXDBG_DEC, 0);
    vxdbg_print(text, rec->apihandle, VXDBG_HEX, 1);
}

void trace_callback(const vxapi_priv_database* rec, const char* text, uint64_t code, uint8_t base) {
    if (!vxdbg_on(VXDBG_EVENT)) return;
    vxdbg_print("vxapi_snia_hbaport_callbacks: handle=", rec->apihandle, VXDBG_HEX, 0);
    vxdbg_print(text, code, base, 1);
}

// One poll pass; `learned` carries what earlier passes of the same thread
// learned.
int poll_pass(LearnedPorts& learned) {
    VxSemLock lock(api_dbupdate_sem_id);
    if (!lock.held()) {
        vxdbg_line(VXDBG_ERROR | VXDBG_EVENT, "vxapi_event_thread: unable to lock the shared data file.");
        return 1;
    }
    std::vector<PortCopy> ports = snapshot_ports(learned);
    for (PortCopy& port : ports) {
        if ((port.rec.features & VX_FEAT_AEN) == 0) {
            trace_port(VXDBG_EVENT, ", events not enabled on handle=", &port.rec);
            continue;
        }
        const uint32_t before = port.rec.features;
        // A failed request is traced and queues nothing; the other ports' turn follows.
        (void)vxapi_poll_for_events(&port.rec);
        keep_learned_features(port, before, learned);
        vxapi_make_event_callbacks(&port.rec);
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- the thread

int vxapi_start_event_thread() {
    pthread_t id{};
    const int rc = vx::sys().thread_create(&id, vxapi_event_thread, nullptr);
    if (rc != 0) {
        if (vxdbg_on(VXDBG_ERROR)) {
            vxdbg_print("vxapi_start_event_thread: inst=", api_library_instance, VXDBG_DEC, 0);
            vxdbg_print(", pthread_create event thread failed=", static_cast<uint32_t>(rc), VXDBG_DEC, 1);
        }
        return 1;
    }
    vxapi_ev_thread_id = id;
    return 0;
}

void* vxapi_event_thread(void*) {
    LearnedPorts learned;
    uint32_t tick = 0;
    for (;;) {
        if (!port_list_exists()) break;
        if ((tick + 1) % VX_EVENT_POLL_TICKS == 0) poll_pass(learned);
        if (vxapi_ev_terminate.load() != 0) break;
        ++tick;
        vx::sys().sleep(kSleepSeconds);
        if (vxapi_ev_terminate.load() != 0) break;
    }
    vxdbg_line(VXDBG_EVENT, "vxapi_event_thread: exiting.");
    return nullptr;
}

int vxapi_event_poll_pass() {
    LearnedPorts learned;
    return poll_pass(learned);
}

// ---------------------------------------------------------------- one port

int vxapi_poll_for_events(vxapi_priv_database* api_priv_data_inst) {
    if (api_priv_data_inst == nullptr) return 1;
    EXT_ASYNC_EVENT events[VX_EVENTS_PER_POLL] = {};
    uint32_t length = sizeof events;
    uint32_t status = 0;
    const int rc = vxapi_async_event_get(api_priv_data_inst->oshandle, api_priv_data_inst, events, &length, &status);
    if (rc != 0 || status != 0) {
        trace_port(VXDBG_ERROR | VXDBG_EVENT, ", event ioctl failed. handle=", api_priv_data_inst);
        return 1;
    }
    const uint32_t count = std::min<uint32_t>(length / sizeof(EXT_ASYNC_EVENT), VX_EVENTS_PER_POLL);
    for (uint32_t i = 0; i < count; ++i) vxapi_add_portev_to_shared_mem(&events[i]);
    return 0;
}

void vxapi_make_event_callbacks(vxapi_priv_database* api_priv_data_inst) {
    if (api_priv_data_inst == nullptr || (api_priv_data_inst->port_flags & VX_PORT_FLAG_EVENT_CB) == 0) return;
    EXT_ASYNC_EVENT events[VX_EVENTS_PER_POLL] = {};
    uint32_t count = 0;
    (void)vxapi_empty_sh_portevq(api_library_instance, api_priv_data_inst, events, &count);  // always 0
    vxapi_snia_hbaport_callbacks(api_priv_data_inst, events, count);
}

void vxapi_snia_hbaport_callbacks(vxapi_priv_database* api_priv_data_inst, const EXT_ASYNC_EVENT* portev_buf,
                                  uint32_t event_cnt) {
    if (api_priv_data_inst == nullptr || portev_buf == nullptr || api_priv_data_inst->api_event_cbs == nullptr) {
        return;
    }
    const vxapi_hbapt_reg_cb_t& reg = api_priv_data_inst->api_event_cbs->hbapt_event_cb;
    if (reg.cb_hba_port_event == nullptr) return;
    auto callback = reinterpret_cast<vxapi_hba_port_event_fn>(reg.cb_hba_port_event);
    vxapi_hba_wwn wwpn{};
    std::memcpy(wwpn.wwn, api_priv_data_inst->wwpn, sizeof wwpn.wwn);

    event_cnt = std::min(event_cnt, VX_EVENTS_PER_POLL);
    for (uint32_t i = 0; i < event_cnt; ++i) {
        const EXT_ASYNC_EVENT& ev = portev_buf[i];
        uint32_t type = VX_HBA_EVENT_PORT_UNKNOWN;
        uint32_t port_addr = 0;
        switch (ev.AsyncEventCode) {
        case VX_AEN_LINK_UP:
            trace_callback(api_priv_data_inst, ", got LINK_UP", 0, VXDBG_NONE);
            type = VX_HBA_EVENT_PORT_ONLINE;
            break;
        case VX_AEN_LINK_DOWN:
            trace_callback(api_priv_data_inst, ", got LINK_DOWN", 0, VXDBG_NONE);
            type = VX_HBA_EVENT_PORT_OFFLINE;
            break;
        case VX_AEN_RSCN: {
            trace_callback(api_priv_data_inst, ", got RSCN", 0, VXDBG_NONE);
            type = VX_HBA_EVENT_PORT_FABRIC;
            const uint8_t bytes[4] = {ev.Payload.RSCN.AddrFormat, ev.Payload.RSCN.RSCNInfo[0],
                                      ev.Payload.RSCN.RSCNInfo[1], ev.Payload.RSCN.RSCNInfo[2]};
            std::memcpy(&port_addr, bytes, sizeof port_addr);
            break;
        }
        case VX_AEN_TARGET_ADDED:
            trace_callback(api_priv_data_inst, ", got TGT ADD", 0, VXDBG_NONE);
            type = VX_HBA_EVENT_PORT_NEW_TARGETS;
            break;
        default:
            trace_callback(api_priv_data_inst, ", got unknown event=", ev.AsyncEventCode, VXDBG_HEX);
            break;
        }
        callback(reg.hba_port_userdata, wwpn, type, port_addr);
    }
}

// ---------------------------------------------------------------- the queues

void vxapi_add_portev_to_shared_mem(const EXT_ASYNC_EVENT* pportev_buf) {
    if (pportev_buf == nullptr || api_shared_data == nullptr) return;
    for (uint8_t slot = 0; slot < VX_LIBINST_SLOTS; ++slot) {
        if ((api_shared_data->libinst_flags[slot] & VX_LIBINST_ACTIVE) == 0) continue;
        vxapi_hbaptevq_t* q = queue_of(slot);
        if (tail_of(q) == VX_EVQ_ENTRIES) vxapi_remove_aen_holes_from_shared_mem(slot);
        // Full without a hole: writing starts over at the front, over the
        // oldest entries there.
        uint32_t tail = tail_of(q);
        if (tail == VX_EVQ_ENTRIES) tail = 0;
        std::memcpy(static_cast<void*>(&q->eventbuf[tail]), pportev_buf, sizeof(EXT_ASYNC_EVENT));
        q->q_tail = static_cast<uint16_t>(tail + 1);
    }
}

void vxapi_remove_aen_holes_from_shared_mem(uint8_t libi) {
    vxapi_hbaptevq_t* q = queue_of(libi);
    if (q == nullptr) return;
    uint32_t free_pos = 0;
    while (free_pos < VX_EVQ_ENTRIES && q->eventbuf[free_pos].AsyncEventCode != 0) ++free_pos;
    if (free_pos == VX_EVQ_ENTRIES) return;
    for (uint32_t i = free_pos + 1; i < VX_EVQ_ENTRIES; ++i) {
        if (q->eventbuf[i].AsyncEventCode == 0) continue;
        std::memcpy(static_cast<void*>(&q->eventbuf[free_pos]), &q->eventbuf[i], sizeof(EXT_ASYNC_EVENT));
        std::memset(static_cast<void*>(&q->eventbuf[i]), 0, sizeof(EXT_ASYNC_EVENT));
        ++free_pos;
    }
    q->q_tail = static_cast<uint16_t>(free_pos);
}

int vxapi_empty_sh_portevq(uint8_t lib_inst, const vxapi_priv_database* api_priv_data_inst,
                           EXT_ASYNC_EVENT* pportev_buf, uint32_t* pevent_cnt) {
    uint32_t count = 0;
    vxapi_hbaptevq_t* q = queue_of(lib_inst);
    if (q != nullptr && api_priv_data_inst != nullptr && pportev_buf != nullptr) {
        const uint32_t head = q->q_head < VX_EVQ_ENTRIES ? q->q_head : 0;
        for (uint32_t i = head; i < VX_EVQ_ENTRIES && count < VX_EVENTS_PER_POLL; ++i) {
            EXT_ASYNC_EVENT& ev = q->eventbuf[i];
            if (ev.AsyncEventCode == 0 || ev.Payload.RSCN.host_no != api_priv_data_inst->host_no) continue;
            std::memcpy(static_cast<void*>(&pportev_buf[count]), &ev, sizeof ev);
            ++count;
            ev.AsyncEventCode = 0;
            ev.Payload.RSCN.host_no = 0;
        }
        q->q_head = 0;
    }
    if (pevent_cnt != nullptr) *pevent_cnt = count;
    return 0;
}

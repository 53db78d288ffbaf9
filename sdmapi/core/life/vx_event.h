// The asynchronous event thread and the event queues of the shared file.
//
// One thread per process wakes every second and, every fifteenth tick,
// fetches the pending events of every port whose events are enabled and
// appends each of them to the queue of every active slot of the shared file,
// so every process using the library sees every event. A port with a
// registered event callback gets its events drained from this process's
// slot and handed to the callback.
//
// The whole poll pass, callbacks included, holds the dbupdate semaphore: a
// callback must not call anything that takes it (the event-reading call,
// token operations, library unload). The callbacks run outside the list
// lock, on copies of the port records taken at the start of the pass. The
// thread never takes the lock of the public API, which an unload holds while
// it joins the thread: a callback must not call a public function that takes
// that lock.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_records.h"

// SNIA HBA API port event types handed to the port event callback.
constexpr uint32_t VX_HBA_EVENT_PORT_UNKNOWN = 0x200;
constexpr uint32_t VX_HBA_EVENT_PORT_OFFLINE = 0x201;
constexpr uint32_t VX_HBA_EVENT_PORT_ONLINE = 0x202;
constexpr uint32_t VX_HBA_EVENT_PORT_NEW_TARGETS = 0x203;
constexpr uint32_t VX_HBA_EVENT_PORT_FABRIC = 0x204;

// Events one poll or one drain moves at most (1024 bytes of records).
constexpr uint32_t VX_EVENTS_PER_POLL = 64;

// Ticks of one second between two poll passes.
constexpr uint32_t VX_EVENT_POLL_TICKS = 15;

// A port WWN handed by value.
struct vxapi_hba_wwn {
    uint8_t wwn[8];
};

// The port event callback (cb_hba_port_event): the caller's data, the port's
// WWPN, the event type and the affected port address.
using vxapi_hba_port_event_fn = void (*)(void* userdata, vxapi_hba_wwn wwpn, uint32_t event_type,
                                         uint32_t port_addr);

// Thread state: the thread's id (0 when none) and its stop request.
extern pthread_t vxapi_ev_thread_id;
extern std::atomic<uint8_t> vxapi_ev_terminate;

// Starts the event thread; 0, or 1 when it could not be created.
[[nodiscard]] int vxapi_start_event_thread();
// The thread's body.
[[nodiscard]] void* vxapi_event_thread(void* arg);

// One poll pass: under the dbupdate semaphore, polls every port with events
// enabled up to the first torn-down record, appends what arrived and makes
// the callbacks. 0, or 1 when the semaphore could not be taken. A pass of
// its own knows nothing that the thread's earlier passes learned.
[[nodiscard]] int vxapi_event_poll_pass();

// Fetches one port's new events and appends each of them to the shared file.
// 0, or 1 when the request failed (nothing is queued then).
[[nodiscard]] int vxapi_poll_for_events(vxapi_priv_database* api_priv_data_inst);
// Drains one port's events from this process's slot into its callback.
void vxapi_make_event_callbacks(vxapi_priv_database* api_priv_data_inst);
// Calls the port's callback once per event, in order.
void vxapi_snia_hbaport_callbacks(vxapi_priv_database* api_priv_data_inst, const EXT_ASYNC_EVENT* portev_buf,
                                  uint32_t event_cnt);

// Appends one event to the queue of every active slot. The caller holds the
// dbupdate semaphore.
void vxapi_add_portev_to_shared_mem(const EXT_ASYNC_EVENT* pportev_buf);
// Moves a slot's non-empty entries to the front, in order; q_tail becomes
// their number. A queue without an empty entry stays as it is.
void vxapi_remove_aen_holes_from_shared_mem(uint8_t libi);
// Moves up to 64 of one port's events (by host number) from a slot's queue
// into pportev_buf (room for 64 records), oldest index first, emptying their
// entries; q_head becomes 0. Always 0. The caller holds the dbupdate
// semaphore.
[[nodiscard]] int vxapi_empty_sh_portevq(uint8_t lib_inst, const vxapi_priv_database* api_priv_data_inst,
                                         EXT_ASYNC_EVENT* pportev_buf, uint32_t* pevent_cnt);

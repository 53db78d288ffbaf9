// The shared data file: one file of 262144 bytes that every process using
// the library maps. It gives each library instance (one per process) a slot
// with a flag word and an event queue, and it holds the table of flash update
// tokens. Every access to it holds the dbupdate semaphore (key 829).
//
// Lock order: the load semaphore (1054), then the dbupdate semaphore (829),
// then the process's list lock (vxapi_list_mutex()); the trace's semaphore
// (819) is innermost. The flash semaphore (980) is never held together with
// the dbupdate semaphore.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_env.h"  // OS_Type: the mapping is private on VMware ESX
#include "base/vx_sem.h"

// The file and its size.
constexpr const char* VX_SHARED_FILE = "/tmp/vx_shared.dat";
constexpr size_t VX_SHARED_SIZE = 262144;

constexpr unsigned VX_LIBINST_SLOTS = 8;   // library-instance slots
constexpr unsigned VX_EVQ_ENTRIES = 1024;  // events per slot's queue
constexpr unsigned VX_FUT_SLOTS = 32;      // flash update tokens
constexpr unsigned VX_FUT_SERIAL_LEN = 128;

// Flag bits of a slot's word.
constexpr uint32_t VX_LIBINST_ACTIVE = 0x1;  // the event thread appends to this slot's queue
constexpr uint32_t VX_LIBINST_OWNED = 0x4;   // a library instance claimed the slot
constexpr uint32_t VX_LIBINST_LIVE = 0x8;    // counted as live (never set by the library)
constexpr uint32_t VX_LIBINST_COUNT_MASK = VX_LIBINST_ACTIVE | VX_LIBINST_OWNED | VX_LIBINST_LIVE;
// Every process that marked the slot counts itself on the slot's counter of
// the dbupdate set. Set only by a process that counts, on a slot that no
// process marked without counting; cleared when the slot goes free or a
// process of this library marks it without being counted. Outside the
// live-instance mask: processes that do not count read the word as before.
constexpr uint32_t VX_LIBINST_COUNTED = 0x10;
static_assert((VX_LIBINST_COUNTED & VX_LIBINST_COUNT_MASK) == 0);
// Written with VX_LIBINST_COUNTED into the first 4 reserved bytes of the
// slot's queue (host order). A process that does not count claims a slot with
// flags |= 0x5 and zeroes its whole queue, reserved bytes included: that
// leaves the flag word as a counted claim leaves it (the flag survives a
// fallback that took 0x4 away), but wipes this mark. The flag counts only
// while the mark stands.
constexpr uint32_t VX_EVQ_COUNTED_MARK = 0x544E4356;

// "None" value of api_library_instance (any value of 8 and above means none).
constexpr uint8_t VX_LIBINST_NONE = 255;

// One slot's event queue: a ring of event records (code 0: empty entry).
struct vxapi_hbaptevq_t {
    EXT_ASYNC_EVENT eventbuf[VX_EVQ_ENTRIES];
    uint16_t q_head;  // index at which draining starts
    uint16_t q_tail;  // index of the next append, 0 to 1024
    uint8_t rsvd[16];
};
static_assert(sizeof(vxapi_hbaptevq_t) == 16404);
static_assert(offsetof(vxapi_hbaptevq_t, q_head) == 16384);
static_assert(offsetof(vxapi_hbaptevq_t, q_tail) == 16386);
static_assert(offsetof(vxapi_hbaptevq_t, rsvd) == 16388);

// One flash update token: the owner's process id (0: free slot), the
// adapter's serial number and the end of validity in seconds since the epoch.
// valid_time is not 8-byte aligned: read and write it with memcpy.
#pragma pack(push, 1)
struct vxapi_flash_update_token {
    int32_t token;
    char serial_num[VX_FUT_SERIAL_LEN];
    uint64_t valid_time;
    uint8_t reserved[116];
};
#pragma pack(pop)
static_assert(sizeof(vxapi_flash_update_token) == 256);
static_assert(offsetof(vxapi_flash_update_token, serial_num) == 4);
static_assert(offsetof(vxapi_flash_update_token, valid_time) == 132);
static_assert(offsetof(vxapi_flash_update_token, reserved) == 140);

// The whole file, in the host's byte order, without padding.
struct vxapi_shared_t {
    uint32_t libinst_flags[VX_LIBINST_SLOTS];
    vxapi_hbaptevq_t hbaptevq[VX_LIBINST_SLOTS];
    vxapi_flash_update_token fut[VX_FUT_SLOTS];
    uint8_t reserved[122688];
};
static_assert(sizeof(vxapi_shared_t) == VX_SHARED_SIZE);
static_assert(offsetof(vxapi_shared_t, libinst_flags) == 0);
static_assert(offsetof(vxapi_shared_t, hbaptevq) == 32);
static_assert(offsetof(vxapi_shared_t, fut) == 131264);
static_assert(offsetof(vxapi_shared_t, reserved) == 139456);

// Process-wide state of the shared file and the semaphores.
extern vxapi_shared_t* api_shared_data;  // the mapping, null while not mapped
extern int api_shm_fildes;               // descriptor of the open file, -1 when closed
extern uint8_t api_library_instance;     // this process's slot; 8 and above: none
// The semaphore ids (api_dbupdate_sem_id, api_flash_sem_id,
// api_thread_sem_id) are in base/vx_sem.h.
extern uint8_t api_use_database;         // 0 when the host has no System V semaphores

// Opens (creating or upgrading it when needed) and maps the shared file,
// claims a slot and starts the event thread. 0 with *ret_handle = the
// descriptor; 1 otherwise (errno as semget left it when the dbupdate
// semaphore could not be had). Already open in this process: 0, nothing
// claimed again.
[[nodiscard]] int vxapi_open_database(int* ret_handle);

// Stops the event thread, releases this process's slot (which stays live
// while other processes share it) and unmaps and closes the file; the last
// instance on the host removes the file and the dbupdate and flash
// semaphores. Always 0.
[[nodiscard]] int vxapi_close_database(int fildes);

// In a forked child, at its first call: forgets the parent's slot and event
// thread without touching them, claims a slot of its own (counted for this
// process) when the file is open, and starts an event thread of its own when
// start_events is true (the parent ran one). 0, or 1 when the dbupdate
// semaphore could not be had or the thread could not be started.
[[nodiscard]] int vxapi_shared_file_after_fork(bool start_events);

// Zeroes the whole queue of a slot; slots of 8 and above are left alone.
void vxapi_clear_evqs(uint8_t lib_inst);

// Number of live library instances (0 while the file is not mapped): the
// processes counted on each slot, and one more for a slot whose flag word
// has any of 0x1, 0x4, 0x8 that a process which does not count marked too (the
// slot lacks VX_LIBINST_COUNTED or its queue's VX_EVQ_COUNTED_MARK). A slot
// that only counting processes marked and none of them is counted on any more
// is free and counts for none. Without the counters, the number of slots with
// any of 0x1, 0x4, 0x8.
[[nodiscard]] uint8_t vxapi_get_total_libinst_count();

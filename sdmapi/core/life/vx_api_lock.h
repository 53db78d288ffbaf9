// The lock of the public API: one call at a time in a process.
//
// Every public function that reaches the library's state (the SD* and ISDFo*
// functions, except those that only answer a constant, a text of their own or
// "not supported") holds it for its whole call, so that the steps of a call
// run as one: the load of the library, the refresh of the flash layout and
// its use, and each of a worker's requests. It is recursive, since public
// functions call each other.
//
// The threads that the library starts never take it: their starters hold it
// while they wait for them (an unload joins the event thread, a diagnostic
// I/O run joins its streams). The signal watcher takes it before it unloads,
// so that the clean-up never pulls records from under a running call; a
// normal unload stops the watcher only while no signal has woken it (see
// vx_signal.cpp), so the two never wait for each other.
#pragma once

#include <cstdint>

// Holds the lock for a scope.
class VxApiLock {
public:
    VxApiLock();
    ~VxApiLock();
    VxApiLock(const VxApiLock&) = delete;
    VxApiLock& operator=(const VxApiLock&) = delete;
};

// How many times a thread found the lock held by another thread and waited
// for it, since the process started.
[[nodiscard]] uint64_t vxapi_api_lock_waits();

// Take and release the lock outside the frame of a call: a fork of the
// process holds it across (vx_fork.h). A wait of the take counts above.
void vxapi_api_lock_take();
void vxapi_api_lock_release();

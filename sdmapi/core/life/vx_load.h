// Library load and unload in a process, and the open and close of one port.
//
// Load finds the ports (the new ioctl driver, then the old drivers, then
// sysfs), opens the shared data file with this process's slot and the event
// thread, and the netlink sockets; unload undoes all of it. Both run under
// the load semaphore (key 1054), which serialises the loads and unloads of
// every process on the host. That semaphore is never removed: another
// process may be waiting for it at any time, and attaching to an existing
// set is how every load finds it again.
//
// Lock order: the lock of the public API (VxApiLock, outermost), then the
// lock of the clean-up on signals (vxapi_signal_mutex()), then the load
// semaphore, then the dbupdate semaphore (829), then the netlink exchange
// lock (vxapi_nl_mutex()), then the list lock (vxapi_list_mutex()); the
// trace's lock (vxdbg_mutex()) and then its semaphore are innermost. A fork
// of the process takes the locks of the process in this order (vx_fork.h).
// The threads the library starts never take the lock of the public API
// (their starters hold it while they join them), except the signal watcher,
// which a normal unload never joins once a signal has woken it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/vx_records.h"

// The library's identity text.
constexpr const char* VX_API_VERSION_TEXT = "v6.04 build2";

// Set from the signal that starts the clean-up on signals until the process
// ends (and while a normal unload stops that clean-up). A signal that finds
// it set takes its default action at once. Written by the signal handler.
extern std::atomic<uint8_t> api_signal_handler_in_process;

// 0 loaded (also when no port was found: the port list is then absent); 1
// when the caller is not root, a semaphore could not be had or the shared
// data file could not be opened. A load while the port list exists does
// nothing and gives 0.
[[nodiscard]] int vxapi_load_lib();

// In a forked child, at its first call (vx_fork.h): the child keeps its
// copies of the ports, their handles and descriptors, forgets the parent's
// slot and event thread, and takes a slot, netlink sockets and, where the
// parent ran one, an event thread of its own. The caller holds the lock of
// the public API.
void vxapi_after_fork_in_child();

// Stops the clean-up on signals (vxapi_stop_signal_watcher), tears every port
// down, closes the netlink sockets, releases the shared data file and frees
// the records. 0.
[[nodiscard]] int vxapi_unload_lib();

// Opens one port: 0 with *papi_handle the port's API handle; 1 failure
// (*pret_err: errno of a failed open of the node); 2 when the shared
// database is not in use. Later opens of an open port only count.
[[nodiscard]] int vxapi_open_adapter(vxapi_priv_database* api_priv_data_inst, int* papi_handle, uint32_t* pret_err);

// Closes one open of a port; the last one closes its descriptor. 0, or 1 for
// a null record or when closing the descriptor failed (*perr: errno; the
// port then stays open). The last close waits for a running poll pass of the
// event thread (it takes the dbupdate semaphore): the caller holds neither
// that semaphore nor the list lock, and no event callback calls it.
[[nodiscard]] int vxapi_close_adapter(vxapi_priv_database* api_priv_data_inst, uint32_t* perr);

// Steps of load and unload.
void vxapi_cleanup_hbas();
void vxapi_unreg_all_events(uint32_t handle, vxapi_priv_database* api_priv_data_inst);
void vxapi_open_netlink_socket();

// The clean-up on signals is public: vxapi_setup_signal_handlers (vxsdm.h)
// sets it up. vxapi_terminate and vxapi_stop_signal_watcher below are its
// internal steps; unload runs the second.

// The clean-up of a signal, run by the watcher: under the lock of the public
// API (after a call running in another thread has returned), unloads the
// library, gives the six signals their default actions and raises the signal
// again.
void vxapi_terminate(int signal_val);

// Puts back the actions the signals had before the set-up, stops the watcher
// and closes its pipe. Nothing when the clean-up is not set up or a signal has
// started it (that one ends the process).
void vxapi_stop_signal_watcher();

// The lock of the set-up of the clean-up on signals; a fork of the process
// holds it across (vx_fork.h).
[[nodiscard]] std::mutex& vxapi_signal_mutex();

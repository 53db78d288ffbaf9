// The handlers of a fork: the locks of the process, in the lock order of
// vx_load.h, held across it.
#include "core/life/vx_fork.h"

#include <pthread.h>

#include <atomic>
#include <mutex>

#include "base/vx_records.h"
#include "base/vx_sddbg.h"
#include "core/life/vx_api_lock.h"
#include "core/life/vx_load.h"
#include "transport/vx_netlink.h"

namespace {

std::atomic<bool> g_forked_child{false};

void take_locks() {
    vxapi_api_lock_take();
    vxapi_signal_mutex().lock();
    vxapi_nl_mutex().lock();
    vxapi_list_mutex().lock();
    vxdbg_mutex().lock();
}

void release_locks() {
    vxdbg_mutex().unlock();
    vxapi_list_mutex().unlock();
    vxapi_nl_mutex().unlock();
    vxapi_signal_mutex().unlock();
    vxapi_api_lock_release();
}

// In the child the forking thread holds the locks it took: the recursive
// ones record it by pthread_t, which it keeps, and the plain ones let any
// thread release them.
void release_in_child() {
    release_locks();
    g_forked_child.store(true);
}

}  // namespace

void vxapi_install_fork_handlers() {
    // pthread_atfork is no call to the world outside the process: it orders
    // the process's own locks around every fork, whichever platform the
    // library talks to. A failure (no memory) leaves forks unguarded, as
    // they were; nothing else depends on it.
    static const int installed = pthread_atfork(take_locks, release_locks, release_in_child);
    (void)installed;
}

bool vxapi_take_fork_mark() { return g_forked_child.load(std::memory_order_relaxed) && g_forked_child.exchange(false); }

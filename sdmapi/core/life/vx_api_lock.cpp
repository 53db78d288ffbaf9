// The lock of the public API.
#include "core/life/vx_api_lock.h"

#include <atomic>

#include "base/vx_mutex.h"
#include "core/life/vx_fork.h"
#include "core/life/vx_load.h"

namespace {

VxRecursiveMutex g_api_mutex;
std::atomic<uint64_t> g_waits{0};

}  // namespace

VxApiLock::VxApiLock() {
    vxapi_install_fork_handlers();
    vxapi_api_lock_take();
    // The first call of a forked child makes the library it inherited its own.
    if (g_api_mutex.depth() == 1 && vxapi_take_fork_mark()) vxapi_after_fork_in_child();
}

VxApiLock::~VxApiLock() { vxapi_api_lock_release(); }

uint64_t vxapi_api_lock_waits() { return g_waits.load(); }

void vxapi_api_lock_take() {
    if (g_api_mutex.try_lock()) return;
    g_waits.fetch_add(1);
    g_api_mutex.lock();
}

void vxapi_api_lock_release() { g_api_mutex.unlock(); }

// The lock of the public API.
#include "core/life/vx_api_lock.h"

#include <atomic>
#include <mutex>

namespace {

std::recursive_mutex g_api_mutex;
std::atomic<uint64_t> g_waits{0};

}  // namespace

VxApiLock::VxApiLock() {
    if (g_api_mutex.try_lock()) return;
    g_waits.fetch_add(1);
    g_api_mutex.lock();
}

VxApiLock::~VxApiLock() { g_api_mutex.unlock(); }

uint64_t vxapi_api_lock_waits() { return g_waits.load(); }

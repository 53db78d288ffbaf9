// System V semaphore primitives of the library.
//
// A set holds its locks first, each with value 1 when free, and may carry
// counters after them (value 0 when made). A set is made with IPC_CREAT |
// IPC_EXCL so that only its creator sets the values: a process that finds the
// set already there attaches to it and never resets it, since that would give
// away a lock another process holds. Every operation carries SEM_UNDO, so the
// kernel gives back the lock of a process that dies holding it and takes its
// part out of a counter.
//
// A thread remembers which locks it holds. A wait that failed leaves nothing
// held, so the caller's matching signal is refused instead of raising the
// value to 2 and letting two holders in.
//
// Under ThreadSanitizer every wait and signal tells the tool that the lock
// orders the threads of the process that take it in turn, which it cannot
// see in a system call.
#include "base/vx_sem.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <cerrno>
#include <map>
#include <utility>

#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

#if defined(__SANITIZE_THREAD__)
#define VX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VX_TSAN 1
#endif
#endif
#ifdef VX_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

int api_dbupdate_sem_id = -1;
std::atomic<int> api_flash_sem_id{-1};
std::atomic<int> api_thread_sem_id{-1};
std::atomic<int> api_mailbox_sem_id{-1};

namespace {

constexpr int kSemMode = 0644;
// Attempts to find or make the set when it vanishes between the two steps.
constexpr int kGetAttempts = 8;

// Locks this thread holds: (set id, lock) -> number of successful waits not
// yet given back.
using LockId = std::pair<int, int>;
thread_local std::map<LockId, int> t_held;

int held_count(LockId lock) {
    auto it = t_held.find(lock);
    return it == t_held.end() ? 0 : it->second;
}

void drop_hold(LockId lock) {
    auto it = t_held.find(lock);
    if (it == t_held.end()) return;
    if (--it->second <= 0) t_held.erase(it);
}

// A set that is gone holds nothing any more.
void drop_set(int semid) {
    for (auto it = t_held.lower_bound({semid, 0}); it != t_held.end() && it->first.first == semid;) {
        it = t_held.erase(it);
    }
}

// A failed operation goes to the trace, except on the trace's own lock: the
// trace waits on that one, and reporting through it would come straight back.
void trace_failure(int semid, const char* text, int err) {
    if (semid >= 0 && semid == api_dbg_sem_id) return;
    if (vxdbg_on(VXDBG_ERROR)) vxdbg_print(text, static_cast<uint64_t>(err), VXDBG_DEC, 1);
    errno = err;
}

#ifdef VX_TSAN
// ThreadSanitizer's token of a lock: one byte per set id and lock (locks
// that share a byte only order more than they need to).
char g_tsan_tokens[256];
void* tsan_token(LockId lock) {
    const auto n = static_cast<unsigned>(lock.first) * 31u + static_cast<unsigned>(lock.second);
    return &g_tsan_tokens[n % sizeof g_tsan_tokens];
}
void tsan_taken(LockId lock) { __tsan_acquire(tsan_token(lock)); }
void tsan_giving(LockId lock) { __tsan_release(tsan_token(lock)); }
#else
void tsan_taken(LockId) {}
void tsan_giving(LockId) {}
#endif

// One operation on a lock of the set, resumed when a signal interrupts it.
int sem_op(LockId lock, short delta) {
    struct sembuf op {};
    op.sem_num = static_cast<unsigned short>(lock.second);
    op.sem_op = delta;
    op.sem_flg = SEM_UNDO;
    if (delta > 0) tsan_giving(lock);
    for (;;) {
        if (vx::sys().semop(lock.first, &op, 1) == 0) {
            if (delta < 0) tsan_taken(lock);
            return 0;
        }
        if (errno != EINTR) return -1;
    }
}

// Sets the values of a set this process just made: counters 0, then the
// locks 1, which lets in those already waiting for them.
bool init_set(int id, int nsems, int nlocks) {
    for (int num = nsems - 1; num >= 0; --num) {
        if (vx::sys().semctl(id, num, SETVAL, num < nlocks ? 1 : 0) != 0) {
            int err = errno;
            vx::sys().semctl(id, 0, IPC_RMID);
            errno = err;
            return false;
        }
    }
    return true;
}

}  // namespace

int vxapi_sem_get(int key) { return vxapi_sem_get_set(key, 1, nullptr); }

int vxapi_sem_get_set(int key, int nsems, bool* complete, int nlocks) {
    if (complete != nullptr) *complete = false;
    for (int attempt = 0; attempt < kGetAttempts; ++attempt) {
        int id = vx::sys().semget(key, nsems, IPC_CREAT | IPC_EXCL | kSemMode);
        if (id >= 0) {
            if (!init_set(id, nsems, nlocks)) return -1;
            if (complete != nullptr) *complete = true;
            return id;
        }
        if (errno != EEXIST) return -1;
        id = vx::sys().semget(key, nsems, kSemMode);
        if (id >= 0) {
            if (complete != nullptr) *complete = true;
            return id;
        }
        // A set of fewer semaphores (semget refuses to attach asking for
        // more) was made by an earlier build or another library: its lock
        // is used as it stands.
        if (errno == EINVAL) id = vx::sys().semget(key, 0, kSemMode);
        if (id >= 0) return id;
        // Removed between the two calls: try to make it again.
        if (errno != ENOENT) return -1;
    }
    return -1;
}

int vxapi_sem_find(int key) { return vx::sys().semget(key, 0, kSemMode); }

int vxapi_sem_adjust(int semid, int semnum, int delta) {
    struct sembuf op {};
    op.sem_num = static_cast<unsigned short>(semnum);
    op.sem_op = static_cast<short>(delta);
    op.sem_flg = SEM_UNDO | IPC_NOWAIT;
    return vx::sys().semop(semid, &op, 1);
}

int vxapi_sem_del(int semid) {
    drop_set(semid);
    return vx::sys().semctl(semid, 0, IPC_RMID);
}

int vxapi_sem_wait(int semid, int semnum) {
    if (sem_op({semid, semnum}, -1) != 0) {
        const int err = errno;
        trace_failure(semid, "libvxsdm: WARNING - semaphore wait operation failed. errno=", err);
        return -1;
    }
    ++t_held[{semid, semnum}];
    return 0;
}

int vxapi_sem_signal(int semid, int semnum) {
    if (held_count({semid, semnum}) <= 0) {
        errno = EPERM;
        return -1;
    }
    if (sem_op({semid, semnum}, +1) != 0) {
        int err = errno;
        if (err == EINVAL || err == EIDRM) drop_set(semid);
        trace_failure(semid, "libvxsdm: WARNING - semaphore signal operation failed. errno=", err);
        return -1;
    }
    drop_hold({semid, semnum});
    return 0;
}

bool vxapi_sem_held(int semid, int semnum) { return held_count({semid, semnum}) > 0; }

bool vxapi_sem_unused(int semid, int nlocks) {
    for (int num = 0; num < nlocks; ++num) {
        if (vx::sys().semctl(semid, num, GETNCNT) != 0 || vx::sys().semctl(semid, num, GETVAL) <= 0) return false;
    }
    return true;
}

VxSemLock::VxSemLock(int semid, int semnum)
    : semid_(semid), semnum_(semnum), held_(semid >= 0 && vxapi_sem_wait(semid, semnum) == 0) {}

VxSemLock::~VxSemLock() { release(); }

void VxSemLock::release() {
    if (!held_) return;
    held_ = false;
    (void)vxapi_sem_signal(semid_, semnum_);  // a release has no one to report to
}

// System V semaphore primitives of the library.
//
// Each lock is semaphore 0 of its set, with value 1 when free; a set may
// carry counters after it (value 0 when made). A set is made with IPC_CREAT |
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

namespace {

constexpr int kSemMode = 0644;
// Attempts to find or make the set when it vanishes between the two steps.
constexpr int kGetAttempts = 8;

// Locks this thread holds: semaphore id -> number of successful waits not yet
// given back.
thread_local std::map<int, int> t_held;

int held_count(int semid) {
    auto it = t_held.find(semid);
    return it == t_held.end() ? 0 : it->second;
}

void drop_hold(int semid) {
    auto it = t_held.find(semid);
    if (it == t_held.end()) return;
    if (--it->second <= 0) t_held.erase(it);
}

// A failed operation goes to the trace, except on the trace's own lock: the
// trace waits on that one, and reporting through it would come straight back.
void trace_failure(int semid, const char* text, int err) {
    if (semid >= 0 && semid == api_dbg_sem_id) return;
    if (vxdbg_on(VXDBG_ERROR)) vxdbg_print(text, static_cast<uint64_t>(err), VXDBG_DEC, 1);
    errno = err;
}

#ifdef VX_TSAN
// ThreadSanitizer's token of a lock: one byte per set id (ids that share a
// byte only order more than they need to).
char g_tsan_tokens[256];
void* tsan_token(int semid) { return &g_tsan_tokens[static_cast<unsigned>(semid) % sizeof g_tsan_tokens]; }
void tsan_taken(int semid) { __tsan_acquire(tsan_token(semid)); }
void tsan_giving(int semid) { __tsan_release(tsan_token(semid)); }
#else
void tsan_taken(int) {}
void tsan_giving(int) {}
#endif

// One operation on semaphore 0 of the set, resumed when a signal interrupts it.
int sem_op(int semid, short delta) {
    struct sembuf op {};
    op.sem_num = 0;
    op.sem_op = delta;
    op.sem_flg = SEM_UNDO;
    if (delta > 0) tsan_giving(semid);
    for (;;) {
        if (vx::sys().semop(semid, &op, 1) == 0) {
            if (delta < 0) tsan_taken(semid);
            return 0;
        }
        if (errno != EINTR) return -1;
    }
}

// Sets the values of a set this process just made: counters 0, then the
// lock 1, which lets in those already waiting for it.
bool init_set(int id, int nsems) {
    for (int num = nsems - 1; num >= 0; --num) {
        if (vx::sys().semctl(id, num, SETVAL, num == 0 ? 1 : 0) != 0) {
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

int vxapi_sem_get_set(int key, int nsems, bool* complete) {
    if (complete != nullptr) *complete = false;
    for (int attempt = 0; attempt < kGetAttempts; ++attempt) {
        int id = vx::sys().semget(key, nsems, IPC_CREAT | IPC_EXCL | kSemMode);
        if (id >= 0) {
            if (!init_set(id, nsems)) return -1;
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

int vxapi_sem_adjust(int semid, int semnum, int delta) {
    struct sembuf op {};
    op.sem_num = static_cast<unsigned short>(semnum);
    op.sem_op = static_cast<short>(delta);
    op.sem_flg = SEM_UNDO | IPC_NOWAIT;
    return vx::sys().semop(semid, &op, 1);
}

int vxapi_sem_del(int semid) {
    t_held.erase(semid);
    return vx::sys().semctl(semid, 0, IPC_RMID);
}

int vxapi_sem_wait(int semid) {
    if (sem_op(semid, -1) != 0) {
        trace_failure(semid, "libvxsdm: WARNING - semaphore wait operation failed. errno=", errno);
        return -1;
    }
    ++t_held[semid];
    return 0;
}

int vxapi_sem_signal(int semid) {
    if (held_count(semid) <= 0) {
        errno = EPERM;
        return -1;
    }
    if (sem_op(semid, +1) != 0) {
        int err = errno;
        // A set that is gone holds nothing any more.
        if (err == EINVAL || err == EIDRM) t_held.erase(semid);
        trace_failure(semid, "libvxsdm: WARNING - semaphore signal operation failed. errno=", err);
        return -1;
    }
    drop_hold(semid);
    return 0;
}

bool vxapi_sem_held(int semid) { return held_count(semid) > 0; }

VxSemLock::VxSemLock(int semid) : semid_(semid), held_(semid >= 0 && vxapi_sem_wait(semid) == 0) {}

VxSemLock::~VxSemLock() { release(); }

void VxSemLock::release() {
    if (!held_) return;
    held_ = false;
    (void)vxapi_sem_signal(semid_);  // a release has no one to report to
}

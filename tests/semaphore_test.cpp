// System V semaphore primitives: mutual exclusion across processes, creation
// that never resets a set in use, signals only by a holder, waits resumed
// after a signal handler ran, and failures reported in the trace.
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include "core/vx_sem.h"
#include "test_support.h"

namespace {

// State shared by forked children.
struct Shared {
    volatile int counter, inside, overlaps, go, ready;
};

class SemaphoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        void* p = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(p, MAP_FAILED);
        s = new (p) Shared{};
    }
    void TearDown() override {
        vxdbg_reset();
        ::munmap(s, sizeof(Shared));
    }
    static int value(int semid) { return ::semctl(semid, 0, GETVAL); }
    // Forks a child that runs body and exits with its result.
    template <class F>
    static pid_t fork_child(F body) {
        pid_t child = ::fork();
        if (child == 0) _exit(body());
        return child;
    }
    static bool wait_children(const std::vector<pid_t>& children) {
        bool ok = true;
        for (pid_t child : children) {
            int status = 0;
            ok = ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
        }
        return ok;
    }
    sim::SimHost host;
    Shared* s = nullptr;
};

// Processes start at once on a set nobody made yet: one makes it, none resets
// it under another's hold, and no two hold it together.
TEST_F(SemaphoreTest, RacingCreatorsShareOneLock) {
    constexpr int kChildren = 4, kRounds = 20, kHolds = 50;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        if (int existing = ::semget(host.sem_key(VX_SEM_KEY_SHARED), 0, 0); existing >= 0) {
            ::semctl(existing, 0, IPC_RMID);
        }
        s->go = 0;
        s->ready = 0;
        std::vector<pid_t> children;
        for (int n = 0; n < kChildren; ++n) {
            children.push_back(fork_child([&] {
                __atomic_add_fetch(&s->ready, 1, __ATOMIC_SEQ_CST);
                while (__atomic_load_n(&s->go, __ATOMIC_SEQ_CST) == 0) sched_yield();
                int id = vxapi_sem_get(VX_SEM_KEY_SHARED);
                for (int i = 0; i < kHolds; ++i) {
                    VxSemLock lock(id);
                    if (!lock.held()) return 3;
                    // The counter is read and written back non-atomically; an overlap is counted.
                    if (s->inside != 0) s->overlaps = s->overlaps + 1;
                    s->inside = 1;
                    int c = s->counter;
                    sched_yield();
                    s->counter = c + 1;
                    s->inside = 0;
                }
                return 0;
            }));
        }
        while (__atomic_load_n(&s->ready, __ATOMIC_SEQ_CST) < kChildren) sched_yield();
        __atomic_store_n(&s->go, 1, __ATOMIC_SEQ_CST);
        EXPECT_TRUE(wait_children(children));
        EXPECT_EQ(s->overlaps, 0);
        EXPECT_EQ(value(::semget(host.sem_key(VX_SEM_KEY_SHARED), 0, 0)), 1);
    }
    EXPECT_EQ(s->counter, kRounds * kChildren * kHolds);
    // The set is a free lock of mode 0644; getting it while it is held leaves it held.
    const int id = vxapi_sem_get(VX_SEM_KEY_SHARED);
    struct semid_ds ds {};
    ASSERT_EQ(::semctl(id, 0, IPC_STAT, &ds), 0);
    EXPECT_EQ(std::tuple(ds.sem_nsems, ds.sem_perm.mode & 0777u), std::tuple(1ul, 0644u));
    {
        VxSemLock lock(id);
        EXPECT_TRUE(lock.held());
        EXPECT_EQ(vxapi_sem_get(VX_SEM_KEY_SHARED), id);
        EXPECT_EQ(value(id), 0);
    }
    EXPECT_EQ(value(id), 1);
    EXPECT_FALSE(VxSemLock(-1).held());
    EXPECT_EQ(vxapi_sem_del(id), 0);
    EXPECT_EQ(::semget(host.sem_key(VX_SEM_KEY_SHARED), 0, 0), -1);
}

// Only a holder gives the lock back (not before, not another thread, not
// twice); a failed wait holds nothing; failures are traced, except without
// the error bit and for the debug semaphore.
TEST_F(SemaphoreTest, FailuresAreTracedAndFailedWaitsHoldNothing) {
    vx_debug = VXDBG_ERROR;
    int id = vxapi_sem_get(VX_SEM_KEY_SHARED);
    ASSERT_GE(id, 0);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    ASSERT_EQ(vxapi_sem_wait(id), 0);
    int other = 0;
    std::thread([&] { other = vxapi_sem_signal(id); }).join();
    EXPECT_EQ(std::tuple(other, value(id)), std::tuple(-1, 0));
    EXPECT_EQ(vxapi_sem_signal(id), 0);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    EXPECT_EQ(value(id), 1);
    ASSERT_EQ(vxapi_sem_wait(id), 0);
    ASSERT_EQ(::semctl(id, 0, IPC_RMID), 0);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    EXPECT_EQ(vxapi_sem_wait(id), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(vxapi_sem_signal(id), -1);
    EXPECT_EQ(host.stderr_text(),
              "libvxsdm: WARNING - semaphore signal operation failed. errno=22\n"
              "libvxsdm: WARNING - semaphore wait operation failed. errno=22\n");
    host.clear_stderr();
    vx_debug = 0x404;
    EXPECT_EQ(vxapi_sem_wait(id), -1);
    vxdbg_reset();
    host.set_env("VX_FCAPI_DEBUG", "2");
    vxapi_set_debug_level();
    ASSERT_GE(api_dbg_sem_id, 0);
    ASSERT_EQ(::semctl(api_dbg_sem_id, 0, IPC_RMID), 0);
    EXPECT_EQ(vxapi_sem_wait(api_dbg_sem_id), -1);
    EXPECT_EQ(host.stderr_text(), "");
}

std::atomic<int> g_signals{0};
void on_signal(int) { g_signals.fetch_add(1); }

// A wait that a signal handler interrupts is resumed and ends holding the lock.
TEST_F(SemaphoreTest, InterruptedWaitIsResumed) {
    int id = vxapi_sem_get(VX_SEM_KEY_FLASH);
    ASSERT_GE(id, 0);
    pid_t holder = fork_child([&] {
        if (vxapi_sem_wait(id) != 0) return 3;
        s->ready = 1;
        while (s->go == 0) sched_yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return vxapi_sem_signal(id) == 0 ? 0 : 4;
    });
    while (s->ready == 0) sched_yield();
    struct sigaction action {}, previous {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    pthread_t self = ::pthread_self();
    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::pthread_kill(self, SIGUSR1);
        s->go = 1;
    });
    EXPECT_EQ(vxapi_sem_wait(id), 0);
    interrupter.join();
    EXPECT_EQ(g_signals.load(), 1);
    EXPECT_TRUE(wait_children({holder}));
    EXPECT_EQ(value(id), 0);
    EXPECT_EQ(vxapi_sem_signal(id), 0);
    ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace

// The clean-up on signals: a signal that ends the process first unloads the
// library, so that the process leaves no slot, shared file or token behind.
//
// Unloading takes semaphores, locks and memory that the interrupted code may
// hold, so it cannot run in a signal handler. The handler only records the
// signal (api_signal_handler_in_process) and writes its number into a pipe;
// the watcher thread, blocked on the pipe's other end, unloads the library,
// gives the signals their default actions and raises the signal again. The
// handler returns meanwhile and the process runs on until the raise; handlers
// are installed with SA_RESTART, so that its reads and writes are not cut
// short by the signal in that time.
//
// A normal unload stops the watcher: it claims the flag first, so that no
// handler writes into the pipe any more (a signal in that moment takes its
// default action), puts the former actions back and closes the pipe's write
// end, on which the watcher sees the end of the pipe and returns.
//
// The watcher unloads under the lock of the public API, so that it never
// pulls the records from under a call that another thread is running: it
// waits for that call to return. The lock is held until the signal is
// raised, so no call starts the library again in between. A normal unload
// holds that lock too, but it joins the watcher only when it claimed the flag
// itself, that is while no signal has woken the watcher: a woken watcher
// (which may be waiting for the lock) is never waited for.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <mutex>

#include "base/vx_sddbg.h"
#include "core/life/vx_api_lock.h"
#include "core/life/vx_load.h"
#include "platform/vx_platform.h"
#include "vxsdm.h"

namespace {

// The signals of the clean-up, in the order they are installed. Kill and stop
// cannot be caught: the system refuses those two.
constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGKILL, SIGTERM, SIGSTOP};
constexpr size_t kSignalCount = std::size(kSignals);

bool catchable(int sig) { return sig != SIGKILL && sig != SIGSTOP; }

// The set-up of this process; changed under g_mutex, never by the handler.
struct Watcher {
    bool running = false;
    pthread_t thread{};
    int pipe_read = -1;
    int pipe_write = -1;
    struct sigaction before[kSignalCount] {};
    bool installed[kSignalCount] = {};
    int result = -1;
};
std::mutex g_mutex;
Watcher g_watcher;

// What the handler reads: the process that set up and the pipe's write end.
std::atomic<pid_t> g_owner{0};
std::atomic<int> g_wake_fd{-1};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<uint8_t>::is_always_lock_free,
              "the signal handler reads these");

void default_action(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    vx::sys().sigaction(sig, &dfl, nullptr);  // refused for kill and stop, which keep it anyway
}

// The handler: the first signal is recorded and wakes the watcher. A signal
// during the clean-up, or in a forked child (which has no watcher), takes its
// default action at once: it is raised again and, blocked while its handler
// runs, delivered as the handler returns. Async-signal-safe; errno is kept.
void on_signal(int signal_val) {
    const int saved_errno = errno;
    bool recorded = false;
    if (vx::sys().getpid() == g_owner.load() && api_signal_handler_in_process.exchange(1) == 0) {
        const auto number = static_cast<unsigned char>(signal_val);
        recorded = vx::sys().write_in_handler(g_wake_fd.load(), &number, 1) == 1;
    }
    if (!recorded) {
        default_action(signal_val);
        vx::sys().raise(signal_val);
    }
    errno = saved_errno;
}

// The watcher: waits for a signal's number, or for the end of the pipe.
void* watch(void* arg) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    unsigned char number = 0;
    ssize_t n = 0;
    do {
        n = vx::sys().read(fd, &number, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1) vxapi_terminate(number);
    return nullptr;
}

void restore_actions() {
    for (size_t i = 0; i < kSignalCount; ++i) {
        if (g_watcher.installed[i]) vx::sys().sigaction(kSignals[i], &g_watcher.before[i], nullptr);
    }
}

// Closes the write end (the watcher, if any, sees the end of the pipe and
// returns), joins the watcher, closes the read end and forgets the set-up.
void close_pipe(bool join) {
    g_wake_fd.store(-1);
    vx::sys().close(g_watcher.pipe_write);
    if (join) vx::sys().thread_join(g_watcher.thread, nullptr);
    vx::sys().close(g_watcher.pipe_read);
    g_watcher = Watcher{};
}

// A forked child inherits the set-up but not the thread: it lets go of its
// copies of the pipe and of the handlers.
void drop_inherited() {
    if (!g_watcher.running || g_owner.load() == vx::sys().getpid()) return;
    restore_actions();
    close_pipe(false);
}

}  // namespace

int vxapi_setup_signal_handlers() {
    const VxApiLock api;
    std::lock_guard<std::mutex> lock(g_mutex);
    drop_inherited();
    if (g_watcher.running) return g_watcher.result;
    int fds[2] = {-1, -1};
    if (vx::sys().pipe(fds, O_CLOEXEC) != 0) return -1;
    pthread_t thread{};
    if (vx::sys().thread_create(&thread, watch, reinterpret_cast<void*>(static_cast<intptr_t>(fds[0]))) != 0) {
        vx::sys().close(fds[0]);
        vx::sys().close(fds[1]);
        return -1;
    }
    g_watcher.running = true;
    g_watcher.thread = thread;
    g_watcher.pipe_read = fds[0];
    g_watcher.pipe_write = fds[1];
    g_owner.store(vx::sys().getpid());
    g_wake_fd.store(fds[1]);

    struct sigaction act {};
    act.sa_handler = on_signal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    int result = 0;
    for (size_t i = 0; i < kSignalCount; ++i) {
        g_watcher.installed[i] = vx::sys().sigaction(kSignals[i], &act, &g_watcher.before[i]) == 0;
        if (!g_watcher.installed[i] && catchable(kSignals[i])) result = -1;
    }
    g_watcher.result = result;
    return result;
}

void vxapi_terminate(int signal_val) {
    if (vxdbg_on(VXDBG_STEP | VXDBG_EVENT)) {
        vxdbg_print("vxapi_terminate: got signal=", static_cast<uint32_t>(signal_val), VXDBG_DEC, 0);
        vxdbg_print(", calling vxapi_unload_lib.", 0, VXDBG_NONE, 1);
    }
    api_signal_handler_in_process.store(1);
    VxApiLock api_lock;
    (void)vxapi_unload_lib();  // always 0; the signal is raised again whatever happened
    for (int sig : kSignals) default_action(sig);
    vx::sys().raise(signal_val);
}

void vxapi_stop_signal_watcher() {
    std::lock_guard<std::mutex> lock(g_mutex);
    drop_inherited();
    if (!g_watcher.running || api_signal_handler_in_process.exchange(1) != 0) return;
    restore_actions();
    close_pipe(true);
    api_signal_handler_in_process.store(0);
}

std::mutex& vxapi_signal_mutex() { return g_mutex; }

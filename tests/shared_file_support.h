// Helpers of the tests of the shared data file, its queues and tokens: forked
// processes driven over pipes, the library's state, the sandbox's file and semaphores.
#pragma once

#include <poll.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/vx_sem.h"
#include "core/life/vx_event.h"
#include "core/life/vx_shared.h"
#include "test_support.h"

namespace shtest {

// A forked process that runs `body` and ends with _exit(body's result). The
// parent and the child exchange ints over two pipes.
class Child {
public:
    explicit Child(const std::function<int(Child&)>& body) {
        if (::pipe(to_child_) != 0 || ::pipe(to_parent_) != 0 || (pid_ = ::fork()) < 0) std::abort();
        if (pid_ == 0) {
            ::close(to_child_[1]);
            ::close(to_parent_[0]);
            in_child_ = true;
            ::_exit(body(*this));
        }
        ::close(to_child_[0]);
        ::close(to_parent_[1]);
    }
    ~Child() {
        if (in_child_) return;
        ::close(to_child_[1]);
        ::close(to_parent_[0]);
        if (!waited_) {
            ::kill(pid_, SIGKILL);
            wait_status();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Parent side: send, the child's next int (-9999 when none came in
    // time), its exit status (-1 when it did not exit normally), the raw
    // status of waitpid (-1 when it failed), and a signal to the child.
    void send(int value) { put(to_child_[1], value); }
    int receive(int timeout_ms = 20000) { return get(to_parent_[0], timeout_ms); }
    int wait() {
        const int status = wait_status();
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int wait_status() {
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) return -1;
        waited_ = true;
        return status;
    }
    void signal(int sig) { ::kill(pid_, sig); }
    // Child side.
    void reply(int value) { put(to_parent_[1], value); }
    int command() { return get(to_child_[0], 60000); }

private:
    static void put(int fd, int value) {  // nothing to tell when the other side is gone
        if (::write(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) return;
    }
    static int get(int fd, int timeout_ms) {
        struct pollfd p {fd, POLLIN, 0};
        int value = 0;
        if (::poll(&p, 1, timeout_ms) <= 0 || ::read(fd, &value, sizeof value) != sizeof value) return -9999;
        return value;
    }
    int to_child_[2] = {-1, -1};
    int to_parent_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool in_child_ = false;
    bool waited_ = false;
};

// Stops the event thread that an open started (tests drive the passes).
inline void stop_event_thread() {
    if (vxapi_ev_thread_id == 0) return;
    vxapi_ev_terminate.store(1);
    ::pthread_join(vxapi_ev_thread_id, nullptr);
    vxapi_ev_thread_id = 0;
    vxapi_ev_terminate.store(0);
}

// Back to the state of a process that never opened the shared file.
inline void reset_shared_state() {
    stop_event_thread();
    vxapi_ev_terminate.store(0);
    vxapi_free_api_priv_data_mem();
    vxapi_free_api_phy_info_mem();
    if (api_shared_data != nullptr) ::munmap(api_shared_data, VX_SHARED_SIZE);
    if (api_shm_fildes >= 0) ::close(api_shm_fildes);
    api_shared_data = nullptr;
    api_shm_fildes = -1;
    api_library_instance = VX_LIBINST_NONE;
    api_dbupdate_sem_id = api_flash_sem_id = api_thread_sem_id = api_mailbox_sem_id = -1;
    api_use_database = 1;
    OS_Type = 0;
}

// Opens the shared file in this process without the event thread; 0 on success.
inline int open_here() {
    int fd = -1;
    const int rc = vxapi_open_database(&fd);
    stop_event_thread();
    return rc;
}

// The semaphore of a library key on the host, or -1 when it does not exist.
inline int host_sem(const sim::SimHost& host, int key) { return ::semget(host.sem_key(key), 1, 0); }
inline bool host_sem_exists(const sim::SimHost& host, int key) { return host_sem(host, key) >= 0; }

// Waits (real time) until `n` processes wait on the semaphore.
inline bool wait_for_waiters(int semid, int n) {
    for (int i = 0; i < 2000; ++i) {
        if (::semctl(semid, 0, GETNCNT) >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Raw lock operations on a host semaphore, outside the library.
inline bool raw_sem_op(int semid, short delta) {
    struct sembuf op {0, delta, SEM_UNDO};
    return ::semop(semid, &op, 1) == 0;
}

// The real path of the shared file in the sandbox, and inode numbers.
inline std::string shared_path(const sim::SimHost& host) { return host.map(VX_SHARED_FILE); }
inline ino_t inode_of_path(const std::string& real_path) {
    struct stat st {};
    return ::stat(real_path.c_str(), &st) == 0 ? st.st_ino : 0;
}
inline ino_t inode_of_fd(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// The mapping's bytes.
inline std::string mapping_bytes() {
    return std::string(reinterpret_cast<const char*>(api_shared_data), VX_SHARED_SIZE);
}

}  // namespace shtest

// System V semaphore primitives: a set holds one lock or more first (mode
// 0644, each with initial value 1) and may carry counters after them. Every
// operation carries SEM_UNDO so that the kernel gives back the lock of a
// process that dies holding it, and takes what it added out of a counter.
#pragma once

#include <atomic>

// The library's semaphore keys.
constexpr int VX_SEM_KEY_LOAD = 1054;    // library load and unload
constexpr int VX_SEM_KEY_SHARED = 829;   // the shared data file, its queues and locks
constexpr int VX_SEM_KEY_FLASH = 980;    // flash transfers of sysfs-mode ports
constexpr int VX_SEM_KEY_DEBUG = 819;    // trace output
constexpr int VX_SEM_KEY_STORE = 923;    // the persistent configuration stores of the failover layer
constexpr int VX_SEM_KEY_MAILBOX = 1066;  // the request and answer attributes of sysfs-mode FC hosts

// The locks of the mailbox set: an FC host takes lock host number modulo
// this (hosts that share one only wait for each other).
constexpr int VX_SEM_MAILBOX_LOCKS = 16;

// The process's ids of the shared, flash, load and mailbox sets. The
// dbupdate set comes with the shared data file (core/life/vx_shared.h); the
// flash, load and mailbox sets are got lazily by whichever step needs them
// first, so their ids are atomic.
extern int api_dbupdate_sem_id;              // key 829 (lock and per-slot process counts), -1 when absent
extern std::atomic<int> api_flash_sem_id;    // key 980, -1 when absent
extern std::atomic<int> api_thread_sem_id;   // key 1054, -1 when absent
extern std::atomic<int> api_mailbox_sem_id;  // key 1066 (VX_SEM_MAILBOX_LOCKS locks), -1 when absent

// Attaches to the set of the key, or creates it with value 1. Id or -1.
[[nodiscard]] int vxapi_sem_get(int key);
// The same for a set of `nsems` semaphores: `nlocks` locks, then counters of
// initial value 0. A set of fewer semaphores already there is attached as it
// stands; *complete (when given) says whether the set has all `nsems`.
[[nodiscard]] int vxapi_sem_get_set(int key, int nsems, bool* complete, int nlocks = 1);
// The set of the key when it is there; never makes one. Id or -1.
[[nodiscard]] int vxapi_sem_find(int key);
// Adds delta to semaphore semnum without waiting (SEM_UNDO); semop's result.
[[nodiscard]] int vxapi_sem_adjust(int semid, int semnum, int delta);
// Removes the set; semctl's result.
[[nodiscard]] int vxapi_sem_del(int semid);
// Takes lock `semnum` of the set (waits while another holds it); 0, or -1
// when the lock could not be taken (errno as semop left it). An interrupted
// wait is resumed.
[[nodiscard]] int vxapi_sem_wait(int semid, int semnum = 0);
// Gives back a lock this thread took; 0, or -1 (a lock that was not taken
// is never given back).
[[nodiscard]] int vxapi_sem_signal(int semid, int semnum = 0);
// Whether this thread holds the lock (took it and has not given it back).
[[nodiscard]] bool vxapi_sem_held(int semid, int semnum = 0);
// Whether nobody holds or waits for any of the set's first `nlocks` locks.
[[nodiscard]] bool vxapi_sem_unused(int semid, int nlocks = 1);

// Holds a lock for a scope: waits in the constructor, signals in the
// destructor when the wait succeeded. A negative id holds nothing.
class VxSemLock {
public:
    explicit VxSemLock(int semid, int semnum = 0);
    ~VxSemLock();
    VxSemLock(const VxSemLock&) = delete;
    VxSemLock& operator=(const VxSemLock&) = delete;
    [[nodiscard]] bool held() const { return held_; }
    void release();

private:
    int semid_;
    int semnum_;
    bool held_;
};

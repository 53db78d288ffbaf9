// System V semaphore primitives: each lock is semaphore 0 of its set, mode
// 0644, with initial value 1; a set may carry counters after it. Every
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

// The process's ids of the shared, flash and load sets. The dbupdate set
// comes with the shared data file (core/life/vx_shared.h); the flash and load
// sets are got lazily by whichever step needs them first, so their ids are
// atomic.
extern int api_dbupdate_sem_id;             // key 829 (lock and per-slot process counts), -1 when absent
extern std::atomic<int> api_flash_sem_id;   // key 980, -1 when absent
extern std::atomic<int> api_thread_sem_id;  // key 1054, -1 when absent

// Attaches to the set of the key, or creates it with value 1. Id or -1.
[[nodiscard]] int vxapi_sem_get(int key);
// The same for a set of `nsems` semaphores: a lock and counters of initial
// value 0. A set of fewer semaphores already there is attached as it stands;
// *complete (when given) says whether the set has all `nsems`.
[[nodiscard]] int vxapi_sem_get_set(int key, int nsems, bool* complete);
// Adds delta to semaphore semnum without waiting (SEM_UNDO); semop's result.
[[nodiscard]] int vxapi_sem_adjust(int semid, int semnum, int delta);
// Removes the set; semctl's result.
[[nodiscard]] int vxapi_sem_del(int semid);
// Takes the lock (waits while another holds it); 0, or -1 when the lock
// could not be taken. An interrupted wait is resumed.
[[nodiscard]] int vxapi_sem_wait(int semid);
// Gives back a lock this thread took; 0, or -1 (a lock that was not taken
// is never given back).
[[nodiscard]] int vxapi_sem_signal(int semid);
// Whether this thread holds the lock (took it and has not given it back).
[[nodiscard]] bool vxapi_sem_held(int semid);

// Holds a semaphore for a scope: waits in the constructor, signals in the
// destructor when the wait succeeded. A negative id holds nothing.
class VxSemLock {
public:
    explicit VxSemLock(int semid);
    ~VxSemLock();
    VxSemLock(const VxSemLock&) = delete;
    VxSemLock& operator=(const VxSemLock&) = delete;
    [[nodiscard]] bool held() const { return held_; }
    void release();

private:
    int semid_;
    bool held_;
};

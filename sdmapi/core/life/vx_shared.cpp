// The shared data file, the library-instance slots and the semaphores of the
// file.
//
// The file lives in a world-writable directory and root maps it, so it is
// opened without following links, created only where nothing stands, and
// refused unless it is a regular file of root's with one link: a planted
// link or file never gets rewritten or read as the library's own.
//
// The last instance on the host removes the file while it still holds the
// dbupdate semaphore: a process waiting for the semaphore then finds no file
// and makes a fresh one that the next process shares, instead of mapping a
// file that is about to vanish.
//
// With all eight slots owned, processes share slots, so the slot words alone
// cannot tell who is still loaded. The dbupdate set therefore carries, after
// its lock, one counter per slot: each process adds 1 to its slot's counter
// when it claims the slot and takes it off when it releases it, with SEM_UNDO,
// so the kernel takes off the part of a process that ends without releasing.
// A slot goes free only when its counter is back at 0, and a process is the
// last on the host only when no other process is counted and no other slot
// is marked live. A slot that only counting processes marked carries
// VX_LIBINST_COUNTED, and its queue the mark VX_EVQ_COUNTED_MARK: once no
// process is counted on it, they all ended without releasing it (a forked
// child that never closed, a killed process), so it stands for no instance
// and the next claim takes it. The flag alone cannot tell: it stays when
// another process's fallback takes bit 0x4 away, and a process that does not
// count then claims the slot with 0x5 over it. That claim zeroes the queue,
// mark included. A slot marked live without the flag or the mark stands for
// one instance besides those counted on it: a process of an earlier build or
// of another library, which only mark their slot. Such a slot is never taken
// back, and the release of a counting process leaves its marks for that
// process. The counters live and die with the set, which the last process
// removes. A set made without them (by an earlier build or another library,
// with one semaphore) cannot count: a process on it never takes itself for
// the last and leaves the file and the semaphores in place, and no slot is
// free by the flag.
#include "core/life/vx_shared.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "core/life/vx_event.h"
#include "platform/vx_platform.h"

vxapi_shared_t* api_shared_data = nullptr;
int api_shm_fildes = -1;
uint8_t api_library_instance = VX_LIBINST_NONE;
uint8_t api_use_database = 1;

namespace {

constexpr mode_t kFileMode = 0644;

// The dbupdate set: the lock, then the counter of each slot's processes.
constexpr int kCountBase = 1;
constexpr int kDbSetSize = kCountBase + VX_LIBINST_SLOTS;

// The dbupdate set of this process's open has the counters, and this process
// is counted on its slot's.
bool set_counts = false;
bool counted = false;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;

// A descriptor closed at the end of the scope unless released.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) vx::sys().close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// One trace line of a failure with errno in decimal; errno survives it.
void trace_errno(const char* text, int err) {
    if (vxdbg_on(VXDBG_ERROR)) vxdbg_print(text, static_cast<uint32_t>(err), VXDBG_DEC, 1);
    errno = err;
}

// Whole transfers: step(done) moves the next piece and returns its count;
// a short count is a failure.
template <class Step>
bool transfer_all(size_t len, Step step) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = step(done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool read_all(int fd, uint8_t* buf, size_t len) {
    return transfer_all(len, [&](size_t done) { return vx::sys().read(fd, buf + done, len - done); });
}

bool write_all(int fd, const uint8_t* buf, size_t len) {
    return transfer_all(len, [&](size_t done) { return vx::sys().write(fd, buf + done, len - done); });
}

// Only a regular file of root's with one link is the library's own.
bool is_own_file(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_uid == 0 && st.st_nlink == 1; }

// Rewrites a file shorter than the format as the full size: the old bytes
// first, zeros after them. 0, or 1 after a traced failure.
int upgrade_file(int fd, size_t old_size) {
    Buffer buf(static_cast<uint8_t*>(std::calloc(1, VX_SHARED_SIZE)));
    if (!buf) {
        trace_errno("vxapi_open_database: Unable to alloc new shared data buf. errno=", errno);
        return 1;
    }
    if (!read_all(fd, buf.get(), old_size)) {
        trace_errno("vxapi_open_database: Unable to read shared data file. errno=", errno);
        return 1;
    }
    if (vx::sys().lseek(fd, 0, SEEK_SET) != 0) {
        trace_errno("vxapi_open_database: Unable to seek to beginning of shared data file. errno=", errno);
        return 1;
    }
    if (!write_all(fd, buf.get(), VX_SHARED_SIZE)) {
        trace_errno("vxapi_open_database: Unable to upgrade shared data file. errno=", errno);
        return 1;
    }
    if (vx::sys().fsync(fd) != 0) {
        trace_errno("vxapi_open_database: fsync failed for existing file. errno=", errno);
        return 1;
    }
    vxdbg_line(VXDBG_STEP, "vxapi_open_database: done upgrading shared data file.");
    return 0;
}

// Makes the file where nothing stands: full size, all zeros. The descriptor,
// or -1 after a traced failure (a file it made is removed again).
int create_file() {
    const int fd = vx::sys().open(VX_SHARED_FILE, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        trace_errno("vxapi_open_database: Unable to create shared data file. errno=", errno);
        return -1;
    }
    Fd file(fd);
    bool written = false;
    {
        Buffer zeros(static_cast<uint8_t*>(std::calloc(1, VX_SHARED_SIZE)));
        if (!zeros) {
            trace_errno("vxapi_open_database: malloc tmp mem failed=", errno);
        } else if (!write_all(fd, zeros.get(), VX_SHARED_SIZE)) {
            trace_errno("vxapi_open_database: Unable to write completely to shared data file. errno=", errno);
        } else if (vx::sys().fsync(fd) != 0) {
            trace_errno("vxapi_open_database: fsync failed. errno=", errno);
        } else {
            written = true;
        }
    }
    if (written) return file.release();
    const int err = errno;
    vx::sys().close(file.release());
    if (vx::sys().unlink(VX_SHARED_FILE) != 0) {
        trace_errno("vxapi_open_database: Unable to remove shared data file. errno=", errno);
    }
    errno = err;
    return -1;
}

// The descriptor of the file, opened, checked and brought to full size, or
// -1 after a traced failure.
int open_file() {
    const int fd = vx::sys().open(VX_SHARED_FILE, O_RDWR | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) return create_file();
    Fd file(fd);
    struct stat st {};
    if (vx::sys().fstat(fd, &st) != 0) {
        trace_errno("vxapi_open_database: Unable to stat shared data file. errno=", errno);
        return -1;
    }
    if (!is_own_file(st)) {
        trace_errno("vxapi_open_database: shared data file is not a regular file of root with one link. errno=",
                    EPERM);
        return -1;
    }
    if (static_cast<uint64_t>(st.st_size) < VX_SHARED_SIZE && upgrade_file(fd, static_cast<size_t>(st.st_size)) != 0) {
        return -1;
    }
    return file.release();
}

vxapi_hbaptevq_t* queue_of(uint8_t slot) {
    if (api_shared_data == nullptr || slot >= VX_LIBINST_SLOTS) return nullptr;
    return &api_shared_data->hbaptevq[slot];
}

// Processes counted on a slot; -1 without the counters or when the set
// cannot tell.
int count_on(unsigned slot) {
    if (!set_counts || api_dbupdate_sem_id < 0) return -1;
    return vx::sys().semctl(api_dbupdate_sem_id, kCountBase + static_cast<int>(slot), GETVAL);
}

unsigned processes_on(unsigned slot) { return static_cast<unsigned>(std::max(count_on(slot), 0)); }

bool marked_live(unsigned slot) { return (api_shared_data->libinst_flags[slot] & VX_LIBINST_COUNT_MASK) != 0; }

// The queue's mark of a counted claim (see VX_EVQ_COUNTED_MARK).
bool has_counted_mark(unsigned slot) {
    uint32_t mark = 0;
    std::memcpy(&mark, api_shared_data->hbaptevq[slot].rsvd, sizeof mark);
    return mark == VX_EVQ_COUNTED_MARK;
}

void set_counted_mark(unsigned slot, bool on) {
    const uint32_t mark = on ? VX_EVQ_COUNTED_MARK : 0;
    std::memcpy(api_shared_data->hbaptevq[slot].rsvd, &mark, sizeof mark);
}

// Every process that marked the slot counted itself: the flag, and the mark
// that a claim by a process that does not count wipes.
bool only_counted_marks(unsigned slot) {
    return (api_shared_data->libinst_flags[slot] & VX_LIBINST_COUNTED) != 0 && has_counted_mark(slot);
}

// Every process that marked the slot counted itself, and none is counted on
// it any more: they all ended without releasing it, and the slot is free.
bool abandoned(unsigned slot) { return only_counted_marks(slot) && count_on(slot) == 0; }

// Claims the slot and counts this process on it. The queue of a slot that
// other processes hold keeps their events. The slot keeps (or gets) the
// counted flag and mark only while every process marking it counts itself.
void take_slot(uint8_t slot) {
    uint32_t& word = api_shared_data->libinst_flags[slot];
    const bool marks_counted = !marked_live(slot) || only_counted_marks(slot);
    api_library_instance = slot;
    word |= VX_LIBINST_OWNED | VX_LIBINST_ACTIVE;
    if (processes_on(slot) == 0) vxapi_clear_evqs(slot);
    counted = set_counts && vxapi_sem_adjust(api_dbupdate_sem_id, kCountBase + slot, +1) == 0;
    const bool all_counted = counted && marks_counted;
    word = all_counted ? word | VX_LIBINST_COUNTED : word & ~VX_LIBINST_COUNTED;
    set_counted_mark(slot, all_counted);
}

// Takes this process off its slot; the slot goes free (bits 0x1 and 0x4, the
// counted flag and its queue) unless other processes still hold it: processes
// counted on it, or, when this process counted itself, one that does not
// count and marked the slot too (it releases its marks itself).
void release_slot() {
    const uint8_t slot = api_library_instance;
    const bool was_counted = counted;
    // Should this fail, the adjustment's undo takes the count back when the
    // process ends; until then the slot only stays held.
    if (counted) (void)vxapi_sem_adjust(api_dbupdate_sem_id, kCountBase + slot, -1);
    counted = false;
    if (processes_on(slot) > 0 || (was_counted && marked_live(slot) && !only_counted_marks(slot))) {
        vxdbg_line(VXDBG_STEP, "vxapi_close_database: slot kept for the processes sharing it, inst=", slot,
                   VXDBG_DEC);
        return;
    }
    api_shared_data->libinst_flags[slot] &= ~(VX_LIBINST_ACTIVE | VX_LIBINST_OWNED | VX_LIBINST_COUNTED);
    vxapi_clear_evqs(slot);
}

// Claims the first slot nobody owns (or only processes that ended without
// releasing it owned, see abandoned()); with all 8 owned, slots 1 to 7 lose
// their ownership bit (stale slots of processes that died can be had again)
// and this process shares slot 0. A slot had again while its holders are
// loaded is shared with them.
void claim_slot() {
    for (uint8_t i = 0; i < VX_LIBINST_SLOTS; ++i) {
        if ((api_shared_data->libinst_flags[i] & VX_LIBINST_OWNED) == 0 || abandoned(i)) {
            take_slot(i);
            vxdbg_line(VXDBG_STEP, "vxapi_open_database: assigned api_lib_instance=", i, VXDBG_DEC);
            return;
        }
    }
    for (uint8_t i = 1; i < VX_LIBINST_SLOTS; ++i) api_shared_data->libinst_flags[i] &= ~VX_LIBINST_OWNED;
    take_slot(0);
    vxdbg_line(VXDBG_ERROR, "libvxsdm: INFO - Assigning lib instance number to 0.");
}

void sync_mapping() {
    if (api_shared_data != nullptr) vx::sys().msync(api_shared_data, VX_SHARED_SIZE, MS_SYNC);
}

void trace_close(const char* text) { vxdbg_line(VXDBG_ERROR, text); }

// Deletes the dbupdate semaphore, which the caller holds through `lock`, and
// the flash and mailbox semaphores when nobody holds or waits for them (the
// mailbox set by its key: any process may have made it).
// A removal that fails is a set already gone, or one the next instance
// attaches again: the process forgets the id either way.
void delete_semaphores(VxSemLock& lock) {
    lock.release();
    (void)vxapi_sem_del(api_dbupdate_sem_id);
    api_dbupdate_sem_id = -1;
    const int mailbox = vxapi_sem_find(VX_SEM_KEY_MAILBOX);
    if (mailbox >= 0 && vxapi_sem_unused(mailbox, VX_SEM_MAILBOX_LOCKS)) (void)vxapi_sem_del(mailbox);
    api_mailbox_sem_id = -1;
    if (api_flash_sem_id < 0) return;
    if (vxapi_sem_unused(api_flash_sem_id)) {
        (void)vxapi_sem_del(api_flash_sem_id);
        api_flash_sem_id = -1;
    } else {
        trace_close("vxapi_close_database: keeping flash semaphore.");
    }
}

// Releases this process's slot under the dbupdate semaphore. The last
// instance on the host removes the file, and the semaphores when nobody
// waits for the dbupdate one; a process that is not counted cannot tell
// whether it is the last and removes nothing. True when the file's removal
// was attempted.
bool leave_shared_file() {
    VxSemLock lock(api_dbupdate_sem_id);
    if (!lock.held()) return false;
    sync_mapping();
    const bool last = counted && vxapi_get_total_libinst_count() == 1;
    release_slot();
    sync_mapping();
    if (!last) {
        trace_close("vxapi_close_database: keeping semaphore.");
        return false;
    }
    // The file goes while the semaphore is still held: whoever waits for it
    // finds no file and makes a fresh one.
    if (vx::sys().unlink(VX_SHARED_FILE) != 0) {
        trace_errno("vxapi_close_database: Unable to remove shared data file. errno=", errno);
    }
    if (vx::sys().semctl(api_dbupdate_sem_id, 0, GETNCNT) == 0) {
        delete_semaphores(lock);
    } else {
        trace_close("vxapi_close_database: keeping semaphore.");
    }
    return true;
}

}  // namespace

int vxapi_open_database(int* ret_handle) {
    if (ret_handle != nullptr) *ret_handle = 0;

    if (api_dbupdate_sem_id >= 0 && api_shm_fildes >= 0 && api_shared_data != nullptr) {
        if (ret_handle != nullptr) *ret_handle = api_shm_fildes;
        vxapi_ev_terminate.store(0);
        vxdbg_line(VXDBG_STEP, "vxapi_open_database: already opened. vxapi_ev_terminate FALSE.");
        return 0;
    }

    // Got afresh at every open: an id kept from an earlier close that was
    // not the last may name a set that the last process on the host removed
    // since.
    api_dbupdate_sem_id = vxapi_sem_get_set(VX_SEM_KEY_SHARED, kDbSetSize, &set_counts);
    if (api_dbupdate_sem_id < 0) {
        trace_errno("libvxsdm: WARNING - semget function not supported.\n"
                    "  Each adapter instance should be opened at most one time. errno=",
                    errno);
        return 1;
    }

    int fd = -1;
    {
        VxSemLock lock(api_dbupdate_sem_id);
        if (!lock.held()) return 1;

        Fd file(open_file());
        if (file.get() < 0) return 1;

        const int map_flags = OS_Type == VX_OS_ESX ? MAP_PRIVATE : MAP_SHARED;
        void* map = vx::sys().mmap(nullptr, VX_SHARED_SIZE, PROT_READ | PROT_WRITE, map_flags, file.get(), 0);
        if (map == MAP_FAILED) {
            trace_errno("vxapi_open_database: mmap on existing vxsdm.dat failed=", errno);
            return 1;
        }
        api_shared_data = static_cast<vxapi_shared_t*>(map);
        if (!set_counts) vxdbg_line(VXDBG_ERROR, "vxapi_open_database: semaphore set without instance counts.");
        claim_slot();
        sync_mapping();
        fd = file.release();
    }

    vxapi_ev_terminate.store(0);
    api_shm_fildes = fd;
    if (ret_handle != nullptr) *ret_handle = fd;

    if (vxapi_start_event_thread() != 0) {
        if (vxdbg_on(VXDBG_ERROR)) {
            vxdbg_print("vxapi_open_database: inst=", api_library_instance, VXDBG_DEC, 0);
            vxdbg_print(", start_event_thread failed.", 0, VXDBG_NONE, 1);
        }
        (void)vxapi_close_database(fd);  // always 0
        if (ret_handle != nullptr) *ret_handle = 0;
        return 1;
    }
    return 0;
}

int vxapi_close_database(int fildes) {
    if (vxapi_ev_thread_id != 0) {
        vxapi_ev_terminate.store(1);
        const int rc = vx::sys().thread_join(vxapi_ev_thread_id, nullptr);
        if (rc != 0) {
            if (vxdbg_on(VXDBG_NOTICE)) {
                vxdbg_print("vxapi_close_database: inst=", api_library_instance, VXDBG_DEC, 0);
                vxdbg_print(", thread not terminated error=", static_cast<uint32_t>(rc), VXDBG_DEC, 1);
            }
        } else {
            vxapi_ev_thread_id = 0;
        }
    }

    const bool owns_slot = api_library_instance < VX_LIBINST_SLOTS && api_shared_data != nullptr;
    const bool remove_attempted = api_dbupdate_sem_id >= 0 && owns_slot && leave_shared_file();

    // Only the library's own descriptor is closed, whatever the caller passed.
    (void)fildes;
    if (api_shm_fildes >= 0) {
        if (api_shared_data != nullptr) vx::sys().munmap(api_shared_data, VX_SHARED_SIZE);
        api_shared_data = nullptr;
        vx::sys().close(api_shm_fildes);
        api_shm_fildes = -1;
    }

    if (!remove_attempted) vxdbg_line(VXDBG_ERROR, "vxapi_close_database: keeping shared db file.");
    return 0;
}

int vxapi_shared_file_after_fork(bool start_events) {
    // The slot, its count (kept by the kernel for the parent) and the event
    // thread are the parent's; the child's copy of the mapping is of the
    // same file.
    api_library_instance = VX_LIBINST_NONE;
    counted = false;
    vxapi_ev_thread_id = 0;
    vxapi_ev_terminate.store(0);
    if (api_dbupdate_sem_id < 0 || api_shm_fildes < 0 || api_shared_data == nullptr) return 0;
    {
        VxSemLock lock(api_dbupdate_sem_id);
        if (!lock.held()) return 1;
        claim_slot();
        sync_mapping();
    }
    return start_events ? vxapi_start_event_thread() : 0;
}

void vxapi_clear_evqs(uint8_t lib_inst) {
    vxapi_hbaptevq_t* q = queue_of(lib_inst);
    if (q != nullptr) std::memset(static_cast<void*>(q), 0, sizeof *q);
}

uint8_t vxapi_get_total_libinst_count() {
    if (api_shared_data == nullptr) return 0;
    unsigned count = 0;
    for (unsigned i = 0; i < VX_LIBINST_SLOTS; ++i) {
        if (abandoned(i)) continue;
        const bool marked = marked_live(i);
        // A process that does not count and marked the slot is one instance
        // besides those counted on it.
        const unsigned uncounted = marked && !only_counted_marks(i) ? 1 : 0;
        count += std::max(marked ? 1u : 0u, processes_on(i) + uncounted);
    }
    return static_cast<uint8_t>(std::min(count, 255u));
}

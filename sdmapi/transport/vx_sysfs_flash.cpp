// The flash of sysfs ports. Each read and update first tries one bsg vendor
// command (7 read, 8 update) when the port's FC host has a bsg node, and
// falls back to the driver's flash window: the control file "optrom_ctl",
// which takes short text words, and the data file "optrom".
//
// Control words, each written with its NUL: "1:<offset>:<size>" opens a read
// of that span (hexadecimal), "2:<offset>:<size>" a write, "1" and "2" the
// whole flash; "3" commits what was written to "optrom", "0" closes the
// window. Every sequence that opened the window closes it again, also after
// a failed transfer.
//
// A whole sequence (the window's words and data, or the one bsg request)
// runs under the cross-process flash lock, so that two library instances
// never interleave windows on one driver. A driver that answers a step busy
// is asked again twice, 20 seconds apart, with the lock held.
//
// An update is a read-modify-write wherever it is widened: to whole sectors
// on the chips that write whole sectors, to the whole flash on a driver
// without chunked flash access. That whole flash is the port's own adapter's,
// as its layout gives it: the process-wide layout may hold another adapter's
// or none. The read, the caller's bytes put in place and
// the write all run under one hold of the lock, so that no other process
// writes into the span in between and loses its bytes.
#include "transport/vx_sysfs_flash.h"

#include <linux/bsg.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "base/vx_chips.h"
#include "base/vx_flash_align.h"
#include "base/vx_layout.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_walk.h"

namespace {

using vxsysfs::Attr;

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_SYSFS;

// A busy step is tried at most this many times more.
constexpr unsigned kBusyRetries = 2;
constexpr size_t kWordSize = 32;

// The expansion EDC NVRAM (region 0x18) lies in the 64 KiB from the start of
// region 0x14, behind its first 0x800 bytes.
constexpr uint32_t kRegionEdc = 0x18;
constexpr uint32_t kRegionEdcBase = 0x14;
constexpr uint32_t kEdcReadSize = 0x10000;
constexpr uint32_t kEdcSkip = 0x800;
constexpr uint32_t kEdcMaxSize = kEdcReadSize - kEdcSkip;

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }
void fail(const char* text) { vxdbg_line(kErr, text); }
void trace_number(const char* label, uint32_t value) { vxdbg_line(VXDBG_SYSFS, label, value, VXDBG_DEC); }

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

std::unique_ptr<uint8_t[]> allocate(size_t bytes) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]());
}

// The record whose flash files and bsg node serve a port: a physical port's
// own, a virtual port's physical port. Null for any other kind of port.
vxapi_priv_database* flash_port(vxapi_priv_database* rec) {
    if (rec == nullptr) return nullptr;
    if (rec->interface_type == VX_PORT_PHYSICAL) return rec;
    if (rec->interface_type == VX_PORT_VIRTUAL) return rec->parent;
    return nullptr;
}

bool has_bsg(const vxapi_priv_database* port) { return (port->features & VX_FEAT_BSG) != 0; }
bool is_chunked(const vxapi_priv_database* port) { return (port->features & VX_FEAT_FLASH_CHUNKS) != 0; }

// The chips whose flash is written in whole sectors.
bool is_sector_aligned(const vxapi_priv_database* port) {
    return vx_chip_has(vxapi_device_id(port), VX_CHIP_SECTOR_ALIGNED);
}

// The span of a read: a region code gives the region's start and its size,
// but never more than the caller's buffer holds; 0xFFFF the caller's offset
// and size. False (traced) when no bytes are left.
bool read_span(const vxapi_priv_database* port, uint32_t region, uint32_t* offset, uint32_t* size) {
    uint32_t mapped = *size;
    vxsysfs_map_port_region(port, region, offset, &mapped);
    *size = std::min(mapped, *size);
    if (*size == 0) {
        fail("> Zero size unknown region");
        return false;
    }
    return true;
}

// The whole flash of the port's adapter, for a span of it that a driver
// without chunked access moves as part of the whole. It comes from the
// port's own layout, never from the process-wide one, which may be another
// adapter's or none. False (traced) when the adapter's layout names no whole
// flash (status 20: this driver's flash cannot be moved for the port) or the
// span does not lie within it (status 1): nothing must then be sent.
bool whole_flash(const vxapi_priv_database* port, uint32_t offset, uint32_t size, uint32_t* start,
                 uint32_t* flash_size, uint32_t* status) {
    if (!vxapi_flash_extent(port, start, flash_size)) {
        fail("> No whole flash in the port's layout -- DB");
        *status = EXT_STATUS_NO_DRIVER_SUPPORT;
        return false;
    }
    if (offset < *start || uint64_t{offset} - *start + size > *flash_size) {
        fail("> Span beyond the flash -- DB");
        return false;
    }
    return true;
}

void trace_mode(const char* chunking, const char* offset_label, const char* size_label, bool chunked,
                uint32_t offset, uint32_t size) {
    trace_number(chunking, chunked ? 1 : 0);
    trace_number(offset_label, offset);
    trace_number(size_label, size);
}

// The flash lock for one sequence; the traces name the sequence by prefix
// ("> READ: ", "> Update: ", ...). Given back when it goes out of scope.
// The load gets the lock's semaphore set before discovery, whose flash reads
// run under it too, and keeps it, also on a host without adapters; the last
// instance's close of the shared file removes it. A sequence that runs while
// the process has no set (none got yet, or the close removed it) gets it
// then.
// A sequence that runs inside one this thread already holds the lock for
// (the read that widens an update) joins that hold: the semaphore is not
// recursive, so waiting on it again would never end.
class FlashLock {
public:
    explicit FlashLock(const char* prefix) : prefix_(prefix) {
        if (api_flash_sem_id >= 0 && vxapi_sem_held(api_flash_sem_id)) {
            held_ = joined_ = true;
            return;
        }
        say("Going to lock", VXDBG_SYSFS);
        if (api_flash_sem_id < 0) api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);
        held_ = vxapi_sem_wait(api_flash_sem_id) == 0;
        if (!held_) say("Flash lock failed", kErr);
    }
    ~FlashLock() {
        if (!held_ || joined_) return;
        say("Going to unlock", VXDBG_SYSFS);
        if (vxapi_sem_signal(api_flash_sem_id) != 0) say("Flash unlock failed", kErr);
    }
    FlashLock(const FlashLock&) = delete;
    FlashLock& operator=(const FlashLock&) = delete;
    bool held() const { return held_; }

private:
    void say(const char* what, uint32_t bits) const {
        if (!vxdbg_on(bits)) return;
        char text[64];
        std::snprintf(text, sizeof text, "%s%s", prefix_, what);
        vxdbg_line(bits, text);
    }
    const char* prefix_;
    bool held_ = false;
    bool joined_ = false;  // the hold is the enclosing sequence's
};

// What a release the driver refused (not busy) makes of a read. A plain
// read whose bytes all came keeps its transfer's status: the caller has
// its bytes. A read that is a step of an update fails: the update writes
// only what it read back through a window that closed again.
enum class Release { KeepsTransfer, FailsRead };

// The traces of a window sequence.
struct WindowTraces {
    const char* busy_open;
    const char* busy_free;
};
constexpr WindowTraces kReadTraces = {"> flash read: driver busy, retrying",
                                      "> flash read: driver busy in freeing, retrying"};

// The driver's flash window of a port: "optrom_ctl" and "optrom" of its host
// directory, open as attribute objects while this lives.
class Window {
public:
    explicit Window(const vxapi_priv_database* port) {
        char ctl_path[VXSYSFS_PATH_SIZE];
        char* ctl_end = vxsysfs_get_device_path(ctl_path, port);
        char* data_end = vxsysfs_get_device_path(data_path_, port);
        if (vxsysfs_path_append(ctl_path, ctl_end, "optrom_ctl") == nullptr ||
            vxsysfs_path_append(data_path_, data_end, "optrom") == nullptr ||
            vx::sys().sysfs_path_is_file(ctl_path) != 0 || vx::sys().sysfs_path_is_file(data_path_) != 0) {
            return;
        }
        ctl_.emplace(ctl_path);
        if (ctl_->is_open()) data_.emplace(data_path_);
    }
    bool is_open() const { return ctl_ && ctl_->is_open() && data_ && data_->is_open(); }
    bool writable() const { return (data_->get()->method & SYSFS_METHOD_STORE) != 0; }

    // Writes a control word and its NUL. A busy driver is asked again while
    // retries are left, each time with status 2 and the busy trace; false on
    // any other failure or when the retries are spent.
    bool control(const char* word, const char* busy_trace, uint32_t* status) {
        for (unsigned left = kBusyRetries;; --left) {
            if (vx::sys().sysfs_write_attribute(ctl_->get(), word, std::strlen(word) + 1) == 0) return true;
            if (errno != EBUSY || left == 0) return false;
            *status = EXT_STATUS_BUSY;
            trace(busy_trace);
            vx::sys().sleep(VX_BUSY_WAIT_SECONDS);
        }
    }
    // Whole transfers of the open window from its first byte: false when
    // any byte was not moved.
    bool read(uint8_t* buffer, uint32_t size) {
        return size <= INT32_MAX && vxsysfs_read_file(data_path_, buffer, static_cast<int32_t>(size)) == 0;
    }
    bool write(const uint8_t* buffer, uint32_t size) {
        return size <= INT32_MAX && vxsysfs_write_file(data_path_, buffer, static_cast<int32_t>(size)) == 0;
    }

    struct Outcome {
        bool moved = false;     // every byte read
        bool released = false;  // the window closed again
    };

    // A read sequence under the caller's lock: opens with the word, reads
    // size bytes into buffer (status 0), closes. Status 1 on failure (2 while
    // a busy driver was waited for); a release that stays busy leaves 2, one
    // the driver refused what `rule` says.
    Outcome read_sequence(const char* word, uint8_t* buffer, uint32_t size, Release rule, uint32_t* status) {
        Outcome out;
        *status = EXT_STATUS_ERR;
        if (!control(word, kReadTraces.busy_open, status)) {
            fail("> failed read enable");
        } else if (!read(buffer, size)) {
            fail("> Failed underread");
        } else {
            *status = EXT_STATUS_OK;
            out.moved = true;
        }
        out.released = release(kReadTraces.busy_free, rule == Release::FailsRead, status);
        return out;
    }

    // A write sequence under the caller's lock: opens with the word, writes
    // the data, commits it (status 0), closes; statuses as the read's.
    void write_sequence(const char* word, const uint8_t* data, uint32_t size, uint32_t* status) {
        *status = EXT_STATUS_ERR;
        if (!control(word, "> Update: driver busy, retrying", status)) {
            fail("> failed write enable");
        } else if (!write(data, size)) {
            fail("> Failed underwrite");
        } else if (!control("3", "> Update: driver busy to write, retrying", status)) {
            fail("> Failed write apply");
        } else {
            *status = EXT_STATUS_OK;
        }
        release("> Update: driver busy in freeing, retrying", true, status);
    }

private:
    // Closes the window. A release that the driver took, at once or once it
    // was no longer busy, ends the sequence with the transfer's own status:
    // the bytes moved whatever the driver answered while closing. A release
    // that stayed busy leaves status 2. One the driver refused leaves the
    // transfer's status, unless `refusal_fails` (a write, a read of an
    // update): then status 1 unless the transfer had failed already, since
    // the driver's window was left open.
    bool release(const char* busy_trace, bool refusal_fails, uint32_t* status) {
        const uint32_t transfer = *status;
        if (control("0", busy_trace, status)) {
            *status = transfer;
            return true;
        }
        fail("> Failed reset");
        if (refusal_fails && *status == EXT_STATUS_OK) *status = EXT_STATUS_ERR;
        return false;
    }

    char data_path_[VXSYSFS_PATH_SIZE] = {};
    std::optional<Attr> ctl_;
    std::optional<Attr> data_;
};

int32_t read_optrom(int handle, vxapi_priv_database* rec, uint8_t* poptrom, uint32_t optrom_size, uint32_t region,
                    uint32_t offset, Release rule, uint32_t* pext_stat);

// The alignment's reads on this road: a raw read and the sector size, each
// traced with the lines of the ioctl road's worker, which hands a sysfs port
// to this road at once. The read is a step of the update that widens, and
// fails when the driver refused to close its window.
int32_t align_read(int handle, vxapi_priv_database* rec, uint8_t* buf, uint32_t size, uint32_t region,
                   uint32_t offset, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, VX_TRACE_READ_OPTROM_ENTERED);
    return read_optrom(handle, rec, buf, size, region, offset, Release::FailsRead, pext_stat);
}

uint32_t align_sector_size(int handle, vxapi_priv_database* rec, uint32_t* pflash_sector_size) {
    vxdbg_line(VXDBG_STEP, VX_TRACE_SECTOR_SIZE_ENTERED);
    const auto result = static_cast<uint32_t>(vxsysfs_get_flash_sector_size(handle, rec, pflash_sector_size));
    vxdbg_line(VXDBG_STEP, VX_TRACE_SECTOR_SIZE_EXITING);
    return result;
}

constexpr VxFlashReader kSysfsReads = {align_read, align_sector_size};

// The data of an update, widened to whole flash sectors on the chips that
// write whole sectors: the caller's buffer, or a buffer of flash contents
// with the caller's bytes in place (released with this).
class AlignedData {
public:
    // Status := the alignment's result; false (traced) when it failed.
    bool align(int handle, vxapi_priv_database* port, uint8_t* data, uint32_t* offset, uint32_t* size,
               uint32_t* status) {
        data_ = data;
        if (!is_sector_aligned(port)) return true;
        *status = vxapi_sector_align(handle, port, &data_, data, offset, size, kSysfsReads);
        if (data_ != data) widened_.reset(data_);
        if (*status == 0) return true;
        fail("> Sector aligned failed");
        return false;
    }
    uint8_t* data() const { return data_; }

private:
    uint8_t* data_ = nullptr;
    std::unique_ptr<uint8_t, FreeDeleter> widened_;
};

// One bsg flash request to the port's FC host under the flash lock, resent
// while the driver is busy. A transfer the driver answered in part (a
// residual count) did not take place. 0 when done, else 1.
struct BsgFlash {
    const char* lock_prefix;
    const char* busy_trace;
    const char* done;
    const char* failed;
    bool reading;
};

int send_bsg_flash(const vxapi_priv_database* port, sg_io_v4* hdr, const BsgFlash& how, uint32_t* status) {
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_bsg_device_path(dir, port);
    std::optional<FlashLock> lock;
    VxBsgSend send;
    send.busy_resends = kBusyRetries;
    send.busy_trace = how.busy_trace;
    send.ready = [&lock, &how] { return lock.emplace(how.lock_prefix).held(); };
    int result = vxsysfs_bsg_send(dir, hdr, send, status);
    if (result == 0 && (how.reading ? hdr->din_resid : hdr->dout_resid) != 0) {
        trace_number("> residual==", static_cast<uint32_t>(how.reading ? hdr->din_resid : hdr->dout_resid));
        *status = EXT_STATUS_ERR;
        result = 1;
    }
    if (result == 0) {
        trace(how.done);
    } else if (lock) {
        fail(how.failed);
    }
    return result;
}

// The start shared by the public functions: the entry trace, status 9, the
// caller's buffer (status 6 without one), the port that serves the flash.
vxapi_priv_database* begin(const char* entered, vxapi_priv_database* rec, const uint8_t* buffer,
                           uint32_t* status) {
    trace(entered);
    *status = EXT_STATUS_DEV_NOT_FOUND;
    if (buffer == nullptr) {
        fail("> Invalid buffer");
        *status = EXT_STATUS_INVALID_PARAM;
        return nullptr;
    }
    return flash_port(rec);
}

// Reads through the window in the mode the driver needs.
void read_window(Window& window, const vxapi_priv_database* port, uint8_t* poptrom, uint32_t size,
                 uint32_t region, uint32_t offset, Release rule, uint32_t* status) {
    const bool chunked = is_chunked(port) || region == VX_REGION_WHOLE_ROM;
    trace_mode("> ?chunking? read=", "> read offset=", "> read size=", chunked, offset, size);
    if (chunked) {
        char word[kWordSize];
        std::snprintf(word, sizeof word, "1:%x:%x", offset, size);
        FlashLock lock("> READ: ");
        if (lock.held()) window.read_sequence(word, poptrom, size, rule, status);
        return;
    }
    uint32_t start = 0;
    uint32_t flash_size = 0;
    if (!whole_flash(port, offset, size, &start, &flash_size, status)) return;
    auto image = allocate(flash_size);
    if (!image) {
        fail("> Unable to allocate memory -- DB");
        return;
    }
    FlashLock lock("> READ: ");
    if (lock.held() && window.read_sequence("1", image.get(), flash_size, rule, status).moved) {
        std::memcpy(poptrom, image.get() + (offset - start), size);
    }
}

// The whole-flash read-modify-write of a driver without chunked access: the
// flash read, the caller's bytes put in place, the whole written back, all
// under one hold of the lock so that no other process writes in between. A
// read that did not move every byte or whose release the driver refused
// leaves its failure in the status, and nothing is written: the whole flash
// is not written through a window the driver would not close.
void update_whole_flash(Window& window, const vxapi_priv_database* port, const uint8_t* data, uint32_t size,
                        uint32_t offset, uint32_t* status) {
    uint32_t start = 0;
    uint32_t flash_size = 0;
    if (!whole_flash(port, offset, size, &start, &flash_size, status)) return;
    auto image = allocate(flash_size);
    if (!image) {
        fail("> Unable to allocate memory -- DB");
        return;
    }
    FlashLock lock("> Update: ");
    if (!lock.held()) return;
    char word[kWordSize];
    std::snprintf(word, sizeof word, "1:%x:%x", start, flash_size);
    const Window::Outcome read = window.read_sequence(word, image.get(), flash_size, Release::FailsRead, status);
    if (!read.moved || !read.released) {
        fail("> Read optrom failed -- DB");
        return;
    }
    std::memcpy(image.get() + (offset - start), data, size);
    window.write_sequence("2", image.get(), flash_size, status);
}

// The read of vxsysfs_read_optrom, with what a refused release makes of it.
int32_t read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom, uint32_t optrom_size,
                    uint32_t region, uint32_t offset, Release rule, uint32_t* pext_stat) {
    uint32_t unused;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &unused;
    vxapi_priv_database* port = begin("vxsysfs_read_optrom: entered", api_priv_data_inst, poptrom, status);
    if (poptrom == nullptr) return 0;
    std::memset(poptrom, 0, optrom_size);
    if (port == nullptr) return 0;
    if (has_bsg(port) &&
        vxsysfs_bsg_read_optrom(handle, port, poptrom, optrom_size, region, offset, status) == 0) {
        return 0;
    }

    Window window(port);
    if (!window.is_open()) return 0;
    *status = EXT_STATUS_ERR;
    uint32_t size = optrom_size;
    if (read_span(port, region, &offset, &size)) {
        read_window(window, port, poptrom, size, region, offset, rule, status);
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- read

int32_t vxsysfs_read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                            uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    return read_optrom(handle, api_priv_data_inst, poptrom, optrom_size, region, offset, Release::KeepsTransfer,
                       pext_stat);
}

int32_t vxsysfs_bsg_read_optrom(int, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    uint32_t unused;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &unused;
    const vxapi_priv_database* port =
        begin("vxsysfs_bsg_read_optrom: entered.", api_priv_data_inst, poptrom, status);
    if (port == nullptr) return 1;
    auto cdb = allocate(VX_BSG_REQUEST_LEN);
    if (!cdb) {
        fail("> Unable to allocate memory -- cdb");
        return 1;
    }
    uint32_t size = optrom_size;
    if (!read_span(port, region, &offset, &size)) return 1;
    sg_io_v4 hdr;
    auto* request = reinterpret_cast<fc_bsg_request*>(cdb.get());
    if (vxsysfs_create_bsg_read_optrom_header(&hdr, poptrom, size, offset, request, VX_BSG_REQUEST_LEN) != 0) {
        return 1;
    }
    return send_bsg_flash(port, &hdr,
                          {"> BSG READ: ", "> flash read: driver busy, retrying",
                           "> Flash read by BSG interface successful", "> flash read by BSG interface failed", true},
                          status);
}

int32_t vxsysfs_create_bsg_read_optrom_header(sg_io_v4* hdr, uint8_t* poptrom, uint32_t optrom_size,
                                              uint32_t offset, fc_bsg_request* cdb, uint32_t request_size) {
    if (hdr == nullptr || poptrom == nullptr || cdb == nullptr || optrom_size == 0 ||
        request_size < sizeof(fc_bsg_request)) {
        return 1;
    }
    std::memset(cdb, 0, request_size);
    // The one buffer is named as data in and, as a read does, as data out.
    vxsysfs_create_bsg_header(hdr, cdb, request_size, nullptr, 0, nullptr, 0, poptrom, optrom_size);
    cdb->rqst_data.h_vendor.vendor_cmd[0] = VX_BSG_READ_FLASH;
    cdb->rqst_data.h_vendor.vendor_cmd[1] = offset;
    return 0;
}

int32_t vxsysfs_read_nvram_exp_edc(int, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                   uint32_t optrom_size, uint32_t region, uint32_t, uint32_t* pext_stat) {
    uint32_t unused;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &unused;
    vxapi_priv_database* port = begin("vxsysfs_read_nvram_exp_edc: entered", api_priv_data_inst, poptrom, status);
    if (region != kRegionEdc) {
        *status = EXT_STATUS_ERR;
        return 0;
    }
    if (poptrom == nullptr) return 0;
    std::memset(poptrom, 0, optrom_size);
    if (port == nullptr) return 0;
    Window window(port);
    if (!window.is_open()) return 0;
    *status = EXT_STATUS_ERR;

    uint32_t base = 0;
    uint32_t size = 0;
    vxsysfs_map_region(kRegionEdcBase, &base, &size);
    if (size == 0) {
        fail("> Zero size unknown region");
        return 0;
    }
    auto buffer = allocate(kEdcReadSize);
    if (!buffer) {
        fail("> Unable to allocate memory -- New DB");
        return 0;
    }
    // Only the 0xF800 bytes behind the first 0x800 of the read are the
    // area's: the rest of a larger buffer stays zero.
    read_window(window, port, buffer.get(), kEdcReadSize, VX_REGION_RAW, base, Release::KeepsTransfer, status);
    if (*status == EXT_STATUS_OK) std::memcpy(poptrom, buffer.get() + kEdcSkip, std::min(optrom_size, kEdcMaxSize));
    return 0;
}

// ---------------------------------------------------------------- update

int32_t vxsysfs_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                              uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    uint32_t unused;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &unused;
    vxapi_priv_database* port = begin("vxsysfs_update_optrom: entered", api_priv_data_inst, poptrom, status);
    if (port == nullptr) return 0;
    if (has_bsg(port) &&
        vxsysfs_bsg_update_optrom(handle, port, poptrom, optrom_size, region, offset, status) == 0) {
        return 0;
    }

    Window window(port);
    if (!window.is_open()) return 0;
    *status = EXT_STATUS_ERR;
    if (!window.writable()) {
        fail("> Failed not writeable");
        return 0;
    }
    // A region gives the start; the caller's size stays the length written.
    uint32_t region_size = optrom_size;
    vxsysfs_map_port_region(port, region, &offset, &region_size);
    if (region_size == 0 || optrom_size == 0) {
        fail("> Zero size unknown region");
        return 0;
    }
    const bool chunked = is_chunked(port) || region == VX_REGION_WHOLE_ROM;
    trace_mode("> ?chunking? write=", "> write offset=", "> write size=", chunked, offset, optrom_size);
    // The whole flash is written whole: no sectors to widen to.
    if (!chunked) {
        update_whole_flash(window, port, poptrom, optrom_size, offset, status);
        return 0;
    }
    // The sector read of the alignment joins this hold.
    FlashLock lock("> Update: ");
    if (!lock.held()) return 0;
    AlignedData data;
    if (!data.align(handle, port, poptrom, &offset, &optrom_size, status)) return 0;
    char word[kWordSize];
    std::snprintf(word, sizeof word, "2:%x:%x", offset, optrom_size);
    window.write_sequence(word, data.data(), optrom_size, status);
    return 0;
}

int32_t vxsysfs_bsg_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                  uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    uint32_t unused;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &unused;
    vxapi_priv_database* port = begin("vxsysfs_bsg_update_optrom: entered.", api_priv_data_inst, poptrom, status);
    if (port == nullptr) return 1;
    auto cdb = allocate(VX_BSG_REQUEST_LEN);
    if (!cdb) {
        fail("> Unable to allocate memory -- cdb");
        return 1;
    }
    uint32_t region_size = optrom_size;
    vxsysfs_map_port_region(port, region, &offset, &region_size);
    if (region_size == 0 || optrom_size == 0) {
        fail("> Zero size unknown region");
        return 1;
    }
    // The sector read of the alignment and the request join this hold.
    FlashLock lock("> BSG UPDATE: ");
    if (!lock.held()) {
        *status = EXT_STATUS_ERR;
        return 1;
    }
    AlignedData data;
    if (!data.align(handle, port, poptrom, &offset, &optrom_size, status)) return 1;
    sg_io_v4 hdr;
    auto* request = reinterpret_cast<fc_bsg_request*>(cdb.get());
    if (vxsysfs_create_bsg_update_optrom_header(&hdr, data.data(), optrom_size, offset, request,
                                                VX_BSG_REQUEST_LEN) != 0) {
        return 1;
    }
    return send_bsg_flash(port, &hdr,
                          {"> BSG UPDATE: ", "> flash update: driver busy, retrying",
                           "> Flash update by BSG interface successful", "> flash update by BSG interface failed",
                           false},
                          status);
}

int32_t vxsysfs_create_bsg_update_optrom_header(sg_io_v4* hdr, uint8_t* poptrom, uint32_t optrom_size,
                                                uint32_t offset, fc_bsg_request* cdb, uint32_t request_size) {
    if (hdr == nullptr || poptrom == nullptr || cdb == nullptr || optrom_size == 0 ||
        request_size < sizeof(fc_bsg_request)) {
        return 1;
    }
    std::memset(cdb, 0, request_size);
    vxsysfs_create_bsg_header(hdr, cdb, request_size, nullptr, 0, poptrom, optrom_size, nullptr, 0);
    cdb->rqst_data.h_vendor.vendor_cmd[0] = VX_BSG_UPDATE_FLASH;
    cdb->rqst_data.h_vendor.vendor_cmd[1] = offset;
    return 0;
}

// ---------------------------------------------------------------- sector size and layout

// The SCSI host's "flash_block_size" (hexadecimal); 0 when it cannot be
// read. Without the file the size is left as it was: the caller starts from
// 0 and then takes the size from the flash descriptor.
int32_t vxsysfs_get_flash_sector_size(int, vxapi_priv_database* api_priv_data_inst, uint32_t* pflash_sector_size) {
    trace("vxsysfs_get_flash_sector_size: entered");
    if (api_priv_data_inst == nullptr || pflash_sector_size == nullptr) return 0;
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(api_priv_data_inst->host_no));
    if (vxsysfs_path_append(path, end, "flash_block_size") == nullptr || vx::sys().sysfs_path_is_file(path) != 0) {
        return 0;
    }
    const uint64_t value = vxsysfs_get_long_attr(path);
    *pflash_sector_size = value == ~uint64_t{0} ? 0 : static_cast<uint32_t>(value);
    return 0;
}

int32_t vxsysfs_get_optrom_layout(int, vxapi_priv_database* api_priv_data_inst, uint8_t* playout_buf,
                                  uint32_t layout_size, uint32_t* pext_stat) {
    trace("vxsysfs_get_optrom_layout: entered");
    uint32_t unused;
    if (pext_stat == nullptr) pext_stat = &unused;
    const vxapi_phy_info* phy = api_priv_data_inst != nullptr ? api_priv_data_inst->phy_info : nullptr;
    if (phy == nullptr) {
        *pext_stat = EXT_STATUS_INVALID_PARAM;
        return 0;
    }

    uint32_t regions = 0;
    const INT_OPT_ROM_REGION* table =
        vxapi_fixed_layout(phy->device_id, phy->ssvendor_id, phy->ssdevice_id, &regions);
    // The buffer must hold the table counted with its closing entry.
    const uint32_t minimum = static_cast<uint32_t>(sizeof(INT_OPT_ROM_REGION)) * (regions + 1);
    *pext_stat = EXT_STATUS_BUFFER_TOO_SMALL;
    if (playout_buf == nullptr || layout_size < minimum) {
        fail("> Insufficent size");
        return 0;
    }

    INT_OPT_ROM_LAYOUT layout{};
    for (uint32_t i = 0; i < regions; ++i) {
        layout.Region[i] = table[i];
        // Every table starts with its whole-flash entry.
        if (table[i].Region == VX_REGION_WHOLE_ROM) layout.Size = table[0].Size;
    }
    layout.NoOfRegions = regions;
    const size_t bytes = offsetof(INT_OPT_ROM_LAYOUT, Region) + regions * sizeof(INT_OPT_ROM_REGION);
    std::memcpy(playout_buf, &layout, bytes);
    vxapi_install_global_layout(&layout, sizeof layout);
    *pext_stat = EXT_STATUS_OK;
    return 0;
}

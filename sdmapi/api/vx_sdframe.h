// The frame that every handle-taking function of the management API shares.
//
// A function states its name, resolves its handle (SDERR_INVALID_HANDLE),
// gates on the chip (SDERR_NOT_SUPPORTED) and on the kind of port (the parent
// of a virtual port does adapter-wide work; some operations refuse virtual
// ports with SDERR_INVALID_REQUEST), checks the caller's buffers, calls one
// worker of the driver access core and turns the worker's two results into
// the status, always in one order:
//   1. a nonzero driver status (other than overrun 7 and underrun 8 where the
//      function accepts them) -> its translation (see VxSdScsi for status 15);
//   2. a negative worker result -> errno;
//   3. worker result 0 -> the caller's record is filled, and the status is
//      the translation of the driver status (0, or overrun / underrun);
//   4. a positive worker result -> SDERR_UNKNOWN.
// The caller's record is written only in step 3.
//
// Trace: entry and exit lines under mask bits 0x4 or 0x20, error lines under
// 0x2 or 0x20, information lines under 0x20. A trace never changes a result.
//
// The frame holds the lock of the public API (VxApiLock) from before its
// entry line until after its exit line. A public function that does not
// open with a frame takes the lock itself as its first statement.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "base/vx_chips.h"
#include "base/vx_records.h"
#include "base/vx_sddbg.h"
#include "core/life/vx_api_lock.h"
#include "vxsdm.h"

constexpr uint32_t VX_SD_TRACE = VXDBG_STEP | VXDBG_API;  // entry and exit lines
constexpr uint32_t VX_SD_ERROR = VXDBG_ERROR | VXDBG_API;  // error lines
constexpr uint32_t VX_SD_INFO = VXDBG_API;                 // information lines

// Whether a function takes driver status 7 (data overrun) and 8 (data
// underrun) as a completed request.
enum class VxSdAccept : uint8_t { Clean, OverUnder };

// Whether a function carries a SCSI command. Driver status 15 reports the
// SCSI status of the command carried, and there its translation stands (a
// good status byte is success). A request that carries none has no SCSI
// status to report: status 15 fails it, with SDERR_UNKNOWN where the
// translation would be 0. None is every function's unless it says otherwise.
enum class VxSdScsi : uint8_t { None, PassThrough };

// The status of a nonzero driver status and its SCSI detail status, for a
// function of that kind.
[[nodiscard]] SD_UINT32 vx_sd_xlate(uint32_t ext_stat, uint32_t ext_dstat, VxSdScsi scsi);

// One trace line under the bits: name, "(", the handle in decimal, the text,
// and the number in the base unless the base is VXDBG_NONE.
void vx_sd_line(uint32_t bits, const char* name, int handle, const char* text, uint64_t number = 0,
                uint8_t base = VXDBG_NONE);

// Copies the text of a fixed-size field (terminated or not) into a field of
// dst_size bytes: at most dst_size - 1 characters, the rest of the field
// zero, so the result is always terminated: a longer text is its first
// dst_size - 1 characters.
void vx_sd_copy_text(void* dst, size_t dst_size, const void* src, size_t src_size);

// Steps 1 to 4 above for one worker call: the status, and `done` when the
// caller's record is to be filled (step 3). err is errno as the worker left
// it (step 2 gives SDERR_UNKNOWN when it is 0). With a failure line, a failed
// call traces that text, the driver status and " errno=" errno instead of the
// usual error lines.
struct VxSdOutcome {
    bool done;
    SD_UINT32 status;
};
// ext_dstat: the SCSI detail status that goes with driver status 15.
[[nodiscard]] VxSdOutcome vx_sd_outcome(const char* name, int handle, int result, uint32_t ext_stat, int err,
                                        VxSdAccept accept, const char* failure_line = nullptr, uint32_t ext_dstat = 0,
                                        VxSdScsi scsi = VxSdScsi::None);

// One call of an API function: takes the lock of the public API, writes the
// entry line when made and the exit line with the status when it ends.
class VxSdCall {
public:
    // "name(handle): entered." and "name(handle): exiting. ret=" status in hex.
    VxSdCall(const char* name, int device);
    // The entry line as given, and the exit text followed by the status in
    // exit_base.
    VxSdCall(const char* name, int device, const char* entry_line, const char* exit_text,
             uint8_t exit_base = VXDBG_HEX);
    ~VxSdCall();
    VxSdCall(const VxSdCall&) = delete;
    VxSdCall& operator=(const VxSdCall&) = delete;

    [[nodiscard]] const char* name() const { return name_; }
    [[nodiscard]] int device() const { return device_; }
    [[nodiscard]] SD_UINT32 status() const { return status_; }

    // Records the status for the exit line and returns it (for
    // `return call.done(...)`; a caller that returns otherwise drops it).
    SD_UINT32 done(SD_UINT32 status) {
        status_ = status;
        return status;
    }

    // The port of the handle, or null with SDERR_INVALID_HANDLE as the
    // status and the line "<name>: check_handle failed. handle=<handle>".
    [[nodiscard]] vxapi_priv_database* port();

    // Chip gate: true when the port's chip has the property, else false
    // with SDERR_NOT_SUPPORTED as the status (and the refusal line, if any).
    [[nodiscard]] bool chip_gate(const vxapi_priv_database* rec, VxChipFlag flag, const char* refusal_line = nullptr);

    // Port-kind gate of the operations that only a physical port may ask:
    // false with SDERR_INVALID_REQUEST for a virtual port.
    [[nodiscard]] bool physical_only(const vxapi_priv_database* rec);

    // A caller's buffer of `have` bytes where `need` are required: false with
    // SDERR_BUFFER_TOO_SMALL, and `need` written through size_out when given.
    [[nodiscard]] bool buffer_holds(uint32_t have, uint32_t need, SD_PUINT32 size_out = nullptr);

    // A pointer the call cannot do without: false with SDERR_INVALID_PARAMETER.
    [[nodiscard]] bool given(const void* pointer);

    // Failure line of the workers that trace "ext status=... errno=...".
    void set_failure_line(const char* text) { failure_line_ = text; }

    // The kind of the call's requests, for driver status 15 (VxSdScsi::None unless set).
    void set_scsi(VxSdScsi scsi) { scsi_ = scsi; }

    // One worker call (worker(uint32_t* ext_stat) -> int) and, when the
    // request was carried out, fill() of the caller's record. A fill that
    // returns a status replaces the call's status with it when it is not 0.
    template <class Worker, class Fill>
    [[nodiscard]] SD_UINT32 run(VxSdAccept accept, Worker&& worker, Fill&& fill) {
        uint32_t ext_stat = 0;
        errno = 0;
        const int result = worker(&ext_stat);
        const int err = errno;
        const VxSdOutcome out = vx_sd_outcome(name_, device_, result, ext_stat, err, accept, failure_line_, 0, scsi_);
        SD_UINT32 status = out.status;
        if (out.done) {
            if constexpr (std::is_void_v<std::invoke_result_t<Fill&>>) {
                fill();
            } else if (const SD_UINT32 own = fill(); own != SDERR_NO_ERROR) {
                status = own;
            }
        }
        return done(status);
    }

private:
    VxApiLock api_lock_;  // first: held around both trace lines
    const char* name_;
    int device_;
    const char* exit_text_ = nullptr;
    uint8_t exit_base_ = VXDBG_HEX;
    const char* failure_line_ = nullptr;
    VxSdScsi scsi_ = VxSdScsi::None;
    SD_UINT32 status_ = SDERR_NO_ERROR;
};

// The record that carries out work on the adapter as a whole (flash reads,
// boot-code versions): the parent physical port of a virtual port, with its
// own descriptor; the port itself otherwise.
[[nodiscard]] vxapi_priv_database* vx_sd_adapter_port(vxapi_priv_database* rec);

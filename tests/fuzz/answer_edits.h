// The answers of the driver's node and of the kernel's bsg node as the
// targets over the public calls change them. Every request of a call is
// answered by the simulator as a well-behaved driver answers it, then changed
// by one part of the input: it may fail, be busy, answer another status,
// deliver another length (ResponseLen; on bsg din_resid with
// reply_payload_rcv_len, and response_len) and other bytes (length fields of
// in/out records among them). Bytes beyond the length delivered are what the
// library had there: nothing else came.
//
// A part: flags (bits 0-1: 1 the ioctl or job fails with EIO, 2 busy, else
// answered; bit 2: status; bit 3: length delivered; bit 4: bsg response_len;
// bit 5: bsg result failed; bit 6: the bytes go into the bsg reply rather
// than data in), the status, the length (2 bytes), response_len, an offset
// (2 bytes) and the bytes written there.
//
// The answers given, as the library could know them, are kept for the
// checks of the call that asked them; a call may send no more requests than
// its bound.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/vx_request.h"
#include "fuzz_support.h"
#include "base/vx_records.h"
#include "sim_device.h"
#include "sim_bsg.h"
#include "sim_driver.h"
#include "sim_sysfs_adapters.h"

namespace fuzz {

constexpr uint8_t kFill = 0xEE;         // what callers' buffers hold before a call
constexpr size_t kGuardBytes = 32;      // behind each caller's buffer
constexpr uint8_t kGuard = 0xC3;
constexpr size_t kOneRequest = 1 + VX_BUSY_RESENDS;  // a request and its resends while busy

struct Edit {
    uint8_t flags = 0;
    uint8_t status = 0;
    uint16_t length = 0;
    uint8_t reply_length = 0;
    uint16_t at = 0;
    Bytes bytes;
};
enum : uint8_t {
    kFails = 1,
    kBusy = 2,
    kStatus = 4,
    kLength = 8,
    kReplyLength = 16,
    kResult = 32,
    kIntoReply = 64,
};

// One request as the library could know its answer.
struct Answer {
    bool bsg = false;
    uint8_t command = 0;  // the driver's: command and sub-code
    uint16_t sub_code = 0;
    uint16_t instance = 0;                  // the driver's: the driver instance the request selects
    uint32_t msgcode = 0, vendor_code = 0;  // bsg: the job's message and vendor command codes
    int err = 0;                            // errno of the ioctl, 0 when answered
    uint32_t status = 0;  // the driver's Status; bsg: the reply's status word (vendor or CT/ELS)
    uint32_t detail = 0;  // the driver's DetailStatus
    uint32_t result = 0;  // bsg: the reply's result
    Bytes request;        // the request record as sent; bsg: data out
    uint32_t capacity = 0;  // ResponseLen as sent; bsg: din_xfer_len
    Bytes delivered;        // the response bytes delivered; bsg: data in less din_resid
    uint32_t reply_len = 0;  // bsg: response_len
    // The request was carried and not failed as a whole (what it delivered
    // is in `delivered`, whatever its status).
    bool taken() const { return err == 0 && result == 0; }
    // A resend is due: the driver or the kernel said busy.
    bool busy() const;
    // The request was carried and answered. A busy answer is none where the
    // library resends: it hands out no byte of it, not even of the last one
    // when the resends ran out.
    bool answered() const { return taken() && !busy(); }
};

// The driver behind the node: the simulated driver, then the input's edits
// (while a Run is on; else the simulated driver alone).
class DriverAnswers final : public sim::SimDevice {
public:
    explicit DriverAnswers(sim::SimDevice& driver) : driver_(driver) {}
    int ioctl(dev_t rdev, unsigned long code, void* arg) override;

private:
    sim::SimDevice& driver_;
};

// The kernel's bsg node of the FC hosts: the simulated bsg device, then the
// input's edits.
class KernelAnswers final : public sim::SimDevice {
public:
    explicit KernelAnswers(sim::SimDevice& bsg) : bsg_(bsg) {}
    int ioctl(dev_t rdev, unsigned long code, void* arg) override;

private:
    sim::SimDevice& bsg_;
};

// The library's record of a port of the driver's node "/dev/vxa2xxx", as an
// open leaves it: physical, the given handle, the node open, the port's flash
// layout read.
vxapi_priv_database* ioctl_record(sim::SimDriver& driver, const sim::SimPort& port, int handle);

// The sysfs port of one adapter of the chip (its flash as built, FC host
// host_no, PCI bus 0x40, a remote port behind it) whose jobs go to the bsg
// node: installed on the host and found by the library's sysfs discovery
// (made before any other port: it must be the only one listed), given the
// handle, its flash served through bsg and its flash layout read.
struct SysfsBsgPort {
    SysfsBsgPort(sim::SimBsg& bsg, uint16_t chip, unsigned host_no, unsigned bsg_major, int handle);
    sim::ChipFlash flash;
    sim::SysfsFabric fabric;
    vxapi_priv_database* rec = nullptr;
};

// n bytes of a pattern that differs with the seed.
Bytes pattern(size_t n, uint8_t seed);

// A caller's buffer with guard bytes behind it.
class Guarded {
public:
    Guarded(size_t n, uint8_t fill);
    explicit Guarded(const Bytes& contents);
    uint8_t* data() { return bytes_.data(); }
    template <class T>
    T* as() {
        return reinterpret_cast<T*>(bytes_.data());
    }
    uint32_t size() const { return static_cast<uint32_t>(n_); }
    Bytes contents() const { return Bytes(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n_)); }
    bool guard_intact() const;
    // No byte of the caller's part was written.
    bool untouched(uint8_t fill = kFill) const;

private:
    Bytes bytes_;
    size_t n_;
};

// Runs one call with the input's answers; the answers given.
class Run {
public:
    Run(Reader& in, size_t bound);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    const std::vector<Answer>& answers() const;
    // The last request of that command (and sub-code), or null; the last job
    // of that message (and vendor command) code.
    const Answer* last(uint8_t command, int sub_code = -1) const;
    const Answer* last_job(uint32_t msgcode, uint32_t vendor_code = 0) const;
};

// A fixed record came whole: the request carried and every byte delivered.
inline bool whole(const Answer* a, size_t record) {
    return a != nullptr && a->taken() && a->delivered.size() >= record;
}

// A call that takes one fixed record from the driver: on success with
// status OK the record was delivered whole (overrun and underrun, where
// the call takes them, report the record filled so far).
void fixed_record(Reader& in, size_t caller_size, uint8_t command, uint16_t sub_code, size_t record, size_t bound,
                  const std::function<uint32_t(void*)>& call);

// A call of a target: how many parameter bytes it reads, and the run.
struct Call {
    size_t params;
    std::function<void(Reader&)> run;
};

template <class Record, class Fn>
Call one_record(uint8_t command, uint16_t sub_code, size_t record, size_t bound, Fn fn) {
    return {0, [=](Reader& in) {
                fixed_record(in, sizeof(Record), command, sub_code, record, bound,
                             [&](void* p) { return fn(static_cast<Record*>(p)); });
            }};
}

// One request's answer as an input part.
Bytes answer(uint8_t flags, uint16_t length, uint16_t at = 0, const Bytes& bytes = {}, uint8_t reply_length = 0,
             uint8_t status = 0);
// The call of that mode with its parameters, then the answers.
Bytes input(size_t mode, const Bytes& params, const std::vector<Bytes>& answers = {});
// Each call of the table answered as the simulator answers, with the first
// bytes of each of the parameters given (the seeds of the well-behaved
// answers, without repeats).
std::vector<Bytes> plain_seeds(const std::vector<Call>& table, const std::vector<Bytes>& params);

// Runs the call that the input's first byte names.
void run_call(const std::vector<Call>& table, const uint8_t* data, size_t size);

}  // namespace fuzz

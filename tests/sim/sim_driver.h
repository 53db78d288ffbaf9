// The simulated adapter driver behind the driver's device nodes. It takes
// requests from the driver's side of the ioctl contract: the size field of the
// ioctl code tells the header's layout (116: new, 8: old), the request bytes
// come through RequestAdr and RequestLen, at most ResponseLen bytes go back
// through ResponseAdr, and Status, DetailStatus, ResponseLen (bytes
// delivered), Instance and HbaSelect are written back into the header.
//
// The model is plain data that tests set directly: driver instances (ports),
// each belonging to an adapter. A request reaches the port whose driver
// instance equals HbaSelect. Built in are the adapter count (0xFF), set
// instance (0xFE) and driver specifics (0xFC); every other command is
// answered by a handler registered with on(), or from the port's canned
// records, or with status 12 (invalid sub-command).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/vx_driver_records.h"
#include "base/vx_mutex.h"
#include "sim_device.h"

namespace sim {

class SimHost;

// One PCI adapter (card) as the driver sees it.
struct SimAdapter {
    std::string serial = "SIM00001";
    uint16_t vendor_id = 0, device_id = 0x2532, ssvendor_id = 0, ssdevice_id = 0;
    std::vector<uint8_t> flash;  // the whole flash part
    std::vector<uint8_t> vpd;
    // The flash side of the driver (sim_flash.h): regions the driver places
    // itself, by code (start, size); the driver's own layout (empty: none);
    // every flash write carried out (flash offset, bytes).
    std::map<uint16_t, std::pair<uint32_t, uint32_t>> driver_regions;
    std::vector<uint8_t> driver_layout;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> flash_writes;
    std::optional<size_t> torn_write;  // the next flash write stores this many bytes, then fails (status 1)
    int busy_writes = 0;               // the next this many flash writes answer busy (status 2), writing nothing
    std::vector<uint8_t> update_caps = std::vector<uint8_t>(32, 0);  // flash update capabilities (sim_regions.h)
};

// One driver instance: a physical port (PCI function) or a virtual port.
struct SimPort {
    uint16_t instance = 0;  // driver instance number
    uint16_t host_no = 0;   // SCSI host number
    bool is_virtual = false;
    int parent_instance = -1;  // driver instance of the physical port of a virtual port
    size_t adapter = 0;        // index into SimDriver::adapters
    uint16_t pci_domain = 0, pci_bus = 0, pci_dev_func = 0;
    std::vector<uint8_t> nvram;
    EXT_LN_DRIVER_DATA driver_data{};  // the answer of driver specifics (0xFC)
    int specifics_errno = 0;            // nonzero: driver specifics fails with this errno
    uint32_t specifics_status = 0;      // nonzero: driver specifics answers this status, without its record
    // Canned answers by (command, sub-code): a request that no handler takes
    // gets these bytes with status 0 (node, port and chip queries and the like).
    std::map<std::pair<uint8_t, uint16_t>, std::vector<uint8_t>> records;

    template <class T>
    void set_record(uint8_t command, uint16_t sub_code, const T& record) {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
        records[{command, sub_code}].assign(bytes, bytes + sizeof(T));
    }
    // Rewrites a canned record, when there is one of that type.
    template <class T, class Edit>
    void edit_record(uint8_t command, uint16_t sub_code, Edit edit) {
        auto it = records.find({command, sub_code});
        if (it == records.end() || it->second.size() < sizeof(T)) return;
        T record;
        std::memcpy(&record, it->second.data(), sizeof record);
        edit(record);
        std::memcpy(it->second.data(), &record, sizeof record);
    }

    // ---- the query side (served by the handlers of sim_queries.h) ----
    // A port the simulated port has discovered, with the answers about it.
    struct RemotePort {
        EXT_DISC_PORT port{};           // discovered port query (by index among remote ports)
        bool is_target = true;          // also a target: target query, port summary, SCSI address
        EXT_DISC_TARGET target{};       // discovered target query (by index among targets)
        EXT_SCSI_ADDR scsi_addr{};      // WWPN to SCSI address
        EXT_HBA_PORT_STAT stats{};      // port statistics (0x70) asked by its WWPN
    };
    std::vector<RemotePort> remote_ports;  // in the driver's order
    std::deque<EXT_ASYNC_EVENT> events;    // pending asynchronous events, oldest first
    uint32_t aen_enabled = 0;              // Enable of the last event registration
    uint16_t aen_buf_len = 64;             // BufLength that a registration reports
};

// The header of a request as the driver decoded it.
struct SimHeader {
    unsigned long code = 0;
    bool new_layout = true;  // EXT_IOCTL (116 bytes), else EXT_IOCTL_O (88 bytes)
    uint8_t command = 0;
    uint16_t sub_code = 0, instance = 0;
    uint32_t reserved1 = 0;
    uint16_t hba_select = 0;
    uint32_t request_len = 0;  // RequestLen as sent
};

struct SimRequest : SimHeader {
    std::vector<uint8_t> request;          // the request bytes (empty when RequestAdr is 0)
    uint32_t response_capacity = 0;        // ResponseLen as sent (0 when ResponseAdr is 0)
    const uint8_t* response_in = nullptr;  // the response buffer as it came (data out of SCSI pass-through)
    // The port HbaSelect names and its adapter. A request for a driver instance
    // that does not exist answers status 9 before any handler runs, so handlers
    // get a port, except those of the adapter count and set instance.
    SimPort* port = nullptr;
    SimAdapter* adapter = nullptr;
};

// What a handler answers.
struct SimReply {
    uint32_t status = 0, detail_status = 0;
    std::vector<uint8_t> response;         // written up to the response capacity
    std::optional<uint32_t> reported_len;  // ResponseLen to report instead of the bytes written
    std::optional<uint16_t> instance;      // Instance to write back
    std::optional<uint16_t> hba_select;    // HbaSelect to write back
    int error = 0;  // nonzero: the ioctl fails with this errno and the header is left alone
    // Bytes written back over the caller's request buffer (at most RequestLen),
    // for requests whose answer the driver leaves in the request record.
    std::vector<uint8_t> request_update;

    static SimReply with_status(uint32_t status) {
        SimReply r;
        r.status = status;
        return r;
    }
    static SimReply with_bytes(std::vector<uint8_t> bytes) {
        SimReply r;
        r.response = std::move(bytes);
        return r;
    }
    template <class T>
    static SimReply with_record(const T& record) {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
        return with_bytes({bytes, bytes + sizeof(T)});
    }
};

// One ioctl as the driver saw it.
struct SimLogEntry : SimHeader {
    uint32_t response_len = 0;  // ResponseLen as sent
    time_t time = 0;            // the host's virtual clock
    int error = 0;              // errno of a failed ioctl, 0 when answered
    uint32_t status = 0;        // Status answered
};

class SimDriver final : public SimDevice {
    using Lock = std::lock_guard<VxRecursiveMutex>;

public:
    using Handler = std::function<SimReply(const SimRequest&)>;

    // The model; references stay valid as more are added.
    std::deque<SimAdapter> adapters;
    std::deque<SimPort> ports;

    // Registers the driver on the host for `major` and adds its node.
    void attach(SimHost& host, unsigned major = 240, const std::string& node = "/dev/vxa2xxx");

    // A new adapter, and a new port of an adapter: the port gets the next
    // driver instance number, host number 2 + instance and the next PCI
    // function; virtual ports share their parent's PCI location.
    SimAdapter& add_adapter();
    SimPort& add_port(const SimAdapter& adapter);
    SimPort& add_virtual_port(const SimPort& parent);
    SimPort* find_port(uint16_t instance);
    SimAdapter* adapter_of(const SimPort& port) {
        Lock l(mu_);
        return port.adapter < adapters.size() ? &adapters[port.adapter] : nullptr;
    }

    // Handlers: for one sub-code of a command, or for every sub-code of it
    // (the sub-code handler wins). A handler replaces any earlier one for the
    // same key, and takes precedence over the built-in commands.
    void on(uint8_t command, Handler handler) { Lock l(mu_); handlers_[{command, -1}] = std::move(handler); }
    void on(uint8_t command, uint16_t sub_code, Handler handler) {
        Lock l(mu_);
        handlers_[{command, sub_code}] = std::move(handler);
    }

    // ---- fault injection (counted in requests, or in ioctls for errors) ----
    // The next `count` requests answer busy (status 2) without doing anything;
    // with zero_response_len the busy answer also rewrites ResponseLen to 0,
    // with a fill it writes the whole response area with that byte.
    void inject_busy(int count, bool zero_response_len = false, std::optional<uint8_t> fill = {}) {
        Lock l(mu_);
        busy_ = {count, zero_response_len};
        busy_fill_ = fill;
    }
    // The next `count` ioctls fail with err (-1 and errno for the caller).
    void inject_errno(int err, int count = 1) { Lock l(mu_); errno_ = {count, static_cast<uint32_t>(err)}; }
    // The next `count` requests are carried out but answer this status.
    void inject_status(uint32_t status, int count = 1) { Lock l(mu_); status_ = {count, status}; }
    // The next `count` requests report a ResponseLen `extra` bytes larger than
    // the caller's buffer (the bytes written still stay within it).
    void inject_overreport(uint32_t extra, int count = 1) { Lock l(mu_); overreport_ = {count, extra}; }
    // The next `count` requests deliver at most `max_bytes` bytes.
    void inject_short(uint32_t max_bytes, int count = 1) { Lock l(mu_); short_ = {count, max_bytes}; }

    // ---- request log ----
    std::vector<SimLogEntry> log() const { Lock l(mu_); return log_; }
    void clear_log() { Lock l(mu_); log_.clear(); }

    int ioctl(dev_t rdev, unsigned long code, void* arg) override;
    void fork_lock() override { mu_.lock(); }
    void fork_unlock() override { mu_.unlock(); }

private:
    struct Fault {
        int count = 0;
        uint32_t value = 0;
        bool take() { return count > 0 && count-- > 0; }
    };
    SimReply dispatch(const SimRequest& req);

    // Releasable in a forked child by the thread that forked (fork_lock).
    mutable VxRecursiveMutex mu_;
    std::map<std::pair<uint8_t, int>, Handler> handlers_;  // sub-code -1: any
    std::vector<SimLogEntry> log_;
    Fault busy_, errno_, status_, overreport_, short_;
    std::optional<uint8_t> busy_fill_;
};

// The ioctl code of a command in the new driver's form (size 116, type 0x79).
constexpr unsigned long sim_code(uint8_t command) { return 0xC0747900ul | command; }
// The same code in the old driver's form (size 8).
constexpr unsigned long sim_code_old(uint8_t command) { return 0xC0087900ul | command; }

}  // namespace sim

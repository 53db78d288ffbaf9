#include "sim_driver.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "sim_host.h"

namespace sim {

namespace {

// Offsets of the request header, from the driver's side of the contract.
// Both layouts agree up to ResponseLen; the old one aligns its pointers.
constexpr size_t kSignature = 0;
constexpr size_t kVersion = 10;
constexpr size_t kSubCode = 12;
constexpr size_t kInstance = 14;
constexpr size_t kStatus = 16;
constexpr size_t kDetailStatus = 20;
constexpr size_t kReserved1 = 24;
constexpr size_t kRequestLen = 28;
constexpr size_t kResponseLen = 32;
constexpr size_t kRequestAdrNew = 36;
constexpr size_t kResponseAdrNew = 44;
constexpr size_t kHbaSelectNew = 52;
constexpr size_t kRequestAdrOld = 40;
constexpr size_t kResponseAdrOld = 48;
constexpr size_t kHbaSelectOld = 56;

constexpr unsigned kSizeNew = 116;
constexpr unsigned kSizeOld = 8;
constexpr unsigned kType = 0x79;
constexpr uint16_t kVersionNew = 7;
constexpr uint16_t kVersionOld = 5;
constexpr uint8_t kSignatureBytes[8] = {'V', 'A', 'R', 'N', 'I', 'X', 0, 0};

constexpr uint8_t kCmdDriverSpecific = 0xFC;
constexpr uint8_t kCmdSetInstance = 0xFE;
constexpr uint8_t kCmdHbaCount = 0xFF;

constexpr uint32_t kStatusBusy = 2;
constexpr uint32_t kStatusNotFound = 9;
constexpr uint32_t kStatusInvalidSubCode = 12;
constexpr uint32_t kStatusBadVersion = 13;

template <class T>
T get(const uint8_t* hdr, size_t off) {
    T v;
    std::memcpy(&v, hdr + off, sizeof v);
    return v;
}

template <class T>
void put(uint8_t* hdr, size_t off, T v) {
    std::memcpy(hdr + off, &v, sizeof v);
}

void* get_address(const uint8_t* hdr, size_t off, bool new_layout) {
    if (new_layout) return reinterpret_cast<void*>(static_cast<uintptr_t>(get<uint64_t>(hdr, off)));
    return get<void*>(hdr, off);
}

}  // namespace

// ---------------------------------------------------------------- model

void SimDriver::attach(SimHost& host, unsigned major, const std::string& node) {
    host.register_device(major, this);
    host.add_node(node, S_IFCHR | 0600, makedev(major, 0));
}

SimAdapter& SimDriver::add_adapter() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    adapters.emplace_back();
    SimAdapter& a = adapters.back();
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%05zu", adapters.size());
    a.serial = serial;
    return a;
}

SimPort& SimDriver::add_port(const SimAdapter& adapter) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    size_t index = 0;
    while (index < adapters.size() && &adapters[index] != &adapter) ++index;
    uint16_t functions = 0;
    uint16_t next_instance = 0;
    for (const SimPort& p : ports) {
        if (p.adapter == index && !p.is_virtual) ++functions;
        next_instance = std::max<uint16_t>(next_instance, static_cast<uint16_t>(p.instance + 1));
    }
    ports.emplace_back();
    SimPort& p = ports.back();
    p.instance = next_instance;
    p.host_no = static_cast<uint16_t>(next_instance + 2);
    p.adapter = index;
    p.pci_bus = static_cast<uint16_t>(3 + index);
    p.pci_dev_func = functions;
    p.driver_data.DrvVer.Major = 8;
    p.driver_data.DrvVer.Minor = 7;
    return p;
}

SimPort& SimDriver::add_virtual_port(const SimPort& parent) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    SimPort copy_of_parent = parent;
    SimPort& p = add_port(adapters[copy_of_parent.adapter]);
    p.is_virtual = true;
    p.parent_instance = copy_of_parent.instance;
    p.pci_domain = copy_of_parent.pci_domain;
    p.pci_bus = copy_of_parent.pci_bus;
    p.pci_dev_func = copy_of_parent.pci_dev_func;
    p.driver_data = copy_of_parent.driver_data;
    return p;
}

SimPort* SimDriver::find_port(uint16_t instance) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    for (SimPort& p : ports) {
        if (p.instance == instance) return &p;
    }
    return nullptr;
}

SimAdapter* SimDriver::adapter_of(const SimPort& port) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return port.adapter < adapters.size() ? &adapters[port.adapter] : nullptr;
}

void SimDriver::on(uint8_t command, Handler handler) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    handlers_[{command, -1}] = std::move(handler);
}

void SimDriver::on(uint8_t command, uint16_t sub_code, Handler handler) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    handlers_[{command, static_cast<int>(sub_code)}] = std::move(handler);
}

// ---------------------------------------------------------------- faults and log

void SimDriver::inject_busy(int count, bool zero_response_len) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    busy_count_ = count;
    busy_zero_len_ = zero_response_len;
}

void SimDriver::inject_errno(int err, int count) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    errno_value_ = err;
    errno_count_ = count;
}

void SimDriver::inject_status(uint32_t status, int count) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    status_value_ = status;
    status_count_ = count;
}

void SimDriver::inject_overreport(uint32_t extra, int count) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    overreport_extra_ = extra;
    overreport_count_ = count;
}

void SimDriver::inject_short(uint32_t max_bytes, int count) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    short_max_ = max_bytes;
    short_count_ = count;
}

std::vector<SimLogEntry> SimDriver::log() const {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return log_;
}

void SimDriver::clear_log() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    log_.clear();
}

// ---------------------------------------------------------------- requests

int SimDriver::ioctl(dev_t rdev, unsigned long code, void* arg) {
    (void)rdev;
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (((code >> 8) & 0xFF) != kType || (code >> 30) != 3) return ENOTTY;
    const unsigned size = static_cast<unsigned>((code >> 16) & 0x3FFF);
    bool new_layout;
    if (size == kSizeNew) {
        new_layout = true;
    } else if (size == kSizeOld) {
        new_layout = false;
    } else {
        return ENOTTY;
    }
    if (arg == nullptr) return EFAULT;
    auto* hdr = static_cast<uint8_t*>(arg);

    SimRequest req;
    req.code = code;
    req.new_layout = new_layout;
    req.command = static_cast<uint8_t>(code & 0xFF);
    req.version = get<uint16_t>(hdr, kVersion);
    req.sub_code = get<uint16_t>(hdr, kSubCode);
    req.instance = get<uint16_t>(hdr, kInstance);
    req.reserved1 = get<uint32_t>(hdr, kReserved1);
    req.request_len = get<uint32_t>(hdr, kRequestLen);
    const uint32_t response_len = get<uint32_t>(hdr, kResponseLen);
    req.hba_select = get<uint16_t>(hdr, new_layout ? kHbaSelectNew : kHbaSelectOld);
    const void* request_adr = get_address(hdr, new_layout ? kRequestAdrNew : kRequestAdrOld, new_layout);
    void* response_adr = get_address(hdr, new_layout ? kResponseAdrNew : kResponseAdrOld, new_layout);
    req.response_capacity = response_adr != nullptr ? response_len : 0;
    req.response_in = static_cast<const uint8_t*>(response_adr);

    SimLogEntry entry;
    entry.code = code;
    entry.new_layout = new_layout;
    entry.command = req.command;
    entry.sub_code = req.sub_code;
    entry.instance = req.instance;
    entry.reserved1 = req.reserved1;
    entry.hba_select = req.hba_select;
    entry.request_len = req.request_len;
    entry.response_len = response_len;
    if (SimHost* host = current_host()) entry.time = host->now();
    log_.push_back(entry);
    const size_t logged = log_.size() - 1;  // a handler may send requests of its own

    if (errno_count_ > 0) {
        --errno_count_;
        log_[logged].error = errno_value_;
        return errno_value_;
    }
    // The adapter count is also asked with an all-zero header.
    const bool checked = req.command != kCmdHbaCount;
    if (checked && std::memcmp(hdr + kSignature, kSignatureBytes, sizeof kSignatureBytes) != 0) {
        log_[logged].error = EINVAL;
        return EINVAL;
    }

    SimReply reply;
    bool busy = false;
    if (checked && req.version != (new_layout ? kVersionNew : kVersionOld)) {
        reply.status = kStatusBadVersion;
    } else if (busy_count_ > 0) {
        --busy_count_;
        busy = true;
        reply.status = kStatusBusy;
    } else {
        if (request_adr != nullptr && req.request_len > 0) {
            const auto* bytes = static_cast<const uint8_t*>(request_adr);
            req.request.assign(bytes, bytes + req.request_len);
        }
        req.port = find_port(req.hba_select);
        req.adapter = req.port != nullptr ? adapter_of(*req.port) : nullptr;
        reply = dispatch(req);
        if (reply.error != 0) {
            log_[logged].error = reply.error;
            return reply.error;
        }
        if (status_count_ > 0) {
            --status_count_;
            reply.status = status_value_;
        }
    }

    uint32_t written = 0;
    if (!busy && response_adr != nullptr && !reply.response.empty()) {
        written = static_cast<uint32_t>(std::min<size_t>(reply.response.size(), req.response_capacity));
        if (short_count_ > 0) {
            --short_count_;
            written = std::min(written, short_max_);
        }
        std::memcpy(response_adr, reply.response.data(), written);
    }
    if (!busy && request_adr != nullptr && !reply.request_update.empty()) {
        const size_t n = std::min<size_t>(reply.request_update.size(), req.request_len);
        std::memcpy(const_cast<void*>(request_adr), reply.request_update.data(), n);
    }
    uint32_t reported = reply.reported_len.value_or(written);
    if (busy) {
        reported = busy_zero_len_ ? 0 : response_len;
    } else if (overreport_count_ > 0) {
        --overreport_count_;
        reported = req.response_capacity + overreport_extra_;
    }

    put<uint32_t>(hdr, kStatus, reply.status);
    put<uint32_t>(hdr, kDetailStatus, reply.detail_status);
    put<uint32_t>(hdr, kResponseLen, reported);
    if (reply.instance) put<uint16_t>(hdr, kInstance, *reply.instance);
    if (reply.hba_select) put<uint16_t>(hdr, new_layout ? kHbaSelectNew : kHbaSelectOld, *reply.hba_select);
    log_[logged].status = reply.status;
    return 0;
}

SimReply SimDriver::dispatch(const SimRequest& req) {
    // Only the count and set instance speak to the driver rather than a port.
    const bool to_driver = req.command == kCmdHbaCount || req.command == kCmdSetInstance;
    if (!to_driver && req.port == nullptr) return SimReply::with_status(kStatusNotFound);
    auto it = handlers_.find({req.command, static_cast<int>(req.sub_code)});
    if (it == handlers_.end()) it = handlers_.find({req.command, -1});
    if (it != handlers_.end()) return it->second(req);
    return builtin(req);
}

SimReply SimDriver::builtin(const SimRequest& req) {
    SimReply r;
    switch (req.command) {
    case kCmdHbaCount:
        r.instance = static_cast<uint16_t>(ports.size());
        return r;
    case kCmdSetInstance: {
        SimPort* port = find_port(req.instance);
        if (port == nullptr) return SimReply::with_status(kStatusNotFound);
        r.hba_select = port->host_no;
        return r;
    }
    default:
        break;
    }
    if (req.command == kCmdDriverSpecific) return SimReply::with_record(req.port->driver_data);
    auto rec = req.port->records.find({req.command, req.sub_code});
    if (rec != req.port->records.end()) {
        r.response = rec->second;
        return r;
    }
    return SimReply::with_status(kStatusInvalidSubCode);
}

}  // namespace sim

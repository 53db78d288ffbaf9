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
constexpr size_t kVersion = 10, kSubCode = 12, kInstance = 14, kStatus = 16, kDetailStatus = 20, kReserved1 = 24,
                 kRequestLen = 28, kResponseLen = 32;
constexpr size_t kRequestAdr[2] = {40, 36}, kResponseAdr[2] = {48, 44}, kHbaSelect[2] = {56, 52};  // old, new
constexpr uint16_t kVersions[2] = {5, 7};
constexpr uint8_t kSignature[8] = {'V', 'A', 'R', 'N', 'I', 'X', 0, 0};

constexpr uint8_t kCmdDriverSpecific = 0xFC, kCmdSetInstance = 0xFE, kCmdHbaCount = 0xFF;
constexpr uint32_t kStatusBusy = 2, kStatusNotFound = 9, kStatusInvalidSubCode = 12, kStatusBadVersion = 13;

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

uint8_t* address(const uint8_t* hdr, size_t off, bool new_layout) {
    if (new_layout) return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get<uint64_t>(hdr, off)));
    return get<uint8_t*>(hdr, off);
}

}  // namespace

void SimDriver::attach(SimHost& host, unsigned major, const std::string& node) {
    host.register_device(major, this);
    host.add_node(node, S_IFCHR | 0600, makedev(major, 0));
}

SimAdapter& SimDriver::add_adapter() {
    Lock l(mu_);
    SimAdapter& a = adapters.emplace_back();
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%05zu", adapters.size());
    a.serial = serial;
    return a;
}

SimPort& SimDriver::add_port(const SimAdapter& adapter) {
    Lock l(mu_);
    size_t index = 0;
    while (index < adapters.size() && &adapters[index] != &adapter) ++index;
    uint16_t functions = 0, next_instance = 0;
    for (const SimPort& p : ports) {
        if (p.adapter == index && !p.is_virtual) ++functions;
        next_instance = std::max<uint16_t>(next_instance, static_cast<uint16_t>(p.instance + 1));
    }
    SimPort& p = ports.emplace_back();
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
    Lock l(mu_);
    const SimPort copy_of_parent = parent;
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
    Lock l(mu_);
    auto it = std::find_if(ports.begin(), ports.end(), [instance](const SimPort& p) { return p.instance == instance; });
    return it == ports.end() ? nullptr : &*it;
}

int SimDriver::ioctl(dev_t, unsigned long code, void* arg) {
    Lock l(mu_);
    const unsigned size = static_cast<unsigned>((code >> 16) & 0x3FFF);
    if (((code >> 8) & 0xFF) != 0x79 || (code >> 30) != 3 || (size != 116 && size != 8)) return ENOTTY;
    if (arg == nullptr) return EFAULT;
    auto* hdr = static_cast<uint8_t*>(arg);
    const bool new_layout = size == 116;

    SimRequest req;
    req.code = code;
    req.new_layout = new_layout;
    req.command = static_cast<uint8_t>(code & 0xFF);
    req.sub_code = get<uint16_t>(hdr, kSubCode);
    req.instance = get<uint16_t>(hdr, kInstance);
    req.reserved1 = get<uint32_t>(hdr, kReserved1);
    req.request_len = get<uint32_t>(hdr, kRequestLen);
    req.hba_select = get<uint16_t>(hdr, kHbaSelect[new_layout]);
    const uint32_t response_len = get<uint32_t>(hdr, kResponseLen);
    uint8_t* request_adr = address(hdr, kRequestAdr[new_layout], new_layout);
    uint8_t* response_adr = address(hdr, kResponseAdr[new_layout], new_layout);
    req.response_capacity = response_adr != nullptr ? response_len : 0;
    req.response_in = response_adr;

    SimLogEntry entry{req, response_len};
    if (SimHost* host = current_host()) entry.time = host->now();
    log_.push_back(entry);
    const size_t logged = log_.size() - 1;  // a handler may send requests of its own

    if (errno_.take()) return log_[logged].error = static_cast<int>(errno_.value);
    // The adapter count is also asked with an all-zero header.
    const bool checked = req.command != kCmdHbaCount;
    if (checked && std::memcmp(hdr, kSignature, sizeof kSignature) != 0) return log_[logged].error = EINVAL;

    const bool bad_version = checked && get<uint16_t>(hdr, kVersion) != kVersions[new_layout];
    const bool busy = !bad_version && busy_.take();
    SimReply reply;
    if (bad_version || busy) {
        reply.status = bad_version ? kStatusBadVersion : kStatusBusy;
    } else {
        if (request_adr != nullptr) req.request.assign(request_adr, request_adr + req.request_len);
        req.port = find_port(req.hba_select);
        req.adapter = req.port != nullptr ? adapter_of(*req.port) : nullptr;
        reply = dispatch(req);
        if (reply.error != 0) return log_[logged].error = reply.error;
        if (status_.take()) reply.status = status_.value;
    }

    uint32_t written = 0;
    if (!busy && response_adr != nullptr && !reply.response.empty()) {
        written = static_cast<uint32_t>(std::min<size_t>(reply.response.size(), req.response_capacity));
        if (short_.take()) written = std::min(written, short_.value);
        std::memcpy(response_adr, reply.response.data(), written);
    }
    if (!busy && request_adr != nullptr && !reply.request_update.empty()) {
        const size_t n = std::min<size_t>(reply.request_update.size(), req.request_len);
        std::memcpy(request_adr, reply.request_update.data(), n);
    }
    if (busy && busy_fill_ && response_adr != nullptr) std::memset(response_adr, *busy_fill_, req.response_capacity);
    uint32_t reported = reply.reported_len.value_or(written);
    if (busy) {
        reported = busy_.value != 0 ? 0 : response_len;
    } else if (overreport_.take()) {
        reported = req.response_capacity + overreport_.value;
    }
    put<uint32_t>(hdr, kStatus, reply.status);
    put<uint32_t>(hdr, kDetailStatus, reply.detail_status);
    put<uint32_t>(hdr, kResponseLen, reported);
    if (reply.instance) put<uint16_t>(hdr, kInstance, *reply.instance);
    if (reply.hba_select) put<uint16_t>(hdr, kHbaSelect[new_layout], *reply.hba_select);
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
    SimReply r;
    if (req.command == kCmdHbaCount) {
        r.instance = static_cast<uint16_t>(ports.size());
    } else if (req.command == kCmdSetInstance) {
        SimPort* port = find_port(req.instance);
        if (port == nullptr) return SimReply::with_status(kStatusNotFound);
        r.hba_select = port->host_no;
    } else if (req.command == kCmdDriverSpecific) {
        if (req.port->specifics_errno != 0) r.error = req.port->specifics_errno;
        if (req.port->specifics_status != 0) r.status = req.port->specifics_status;
        if (r.error != 0 || r.status != 0) return r;
        return SimReply::with_record(req.port->driver_data);
    } else {
        auto rec = req.port->records.find({req.command, req.sub_code});
        return rec != req.port->records.end() ? SimReply::with_bytes(rec->second)
                                              : SimReply::with_status(kStatusInvalidSubCode);
    }
    return r;
}

}  // namespace sim

#include "sim_queries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sim {

namespace {

constexpr uint8_t kCmdQuery = 0x00;
constexpr uint8_t kCmdRegAen = 0x02;
constexpr uint8_t kCmdGetAen = 0x03;
constexpr uint8_t kCmdGetData = 0x06;
constexpr uint8_t kCmdWwpnToScsiAddr = 0xFD;

constexpr uint16_t kQueryNode = 1;
constexpr uint16_t kQueryPort = 2;
constexpr uint16_t kQueryDiscPort = 3;
constexpr uint16_t kQueryDiscTarget = 4;
constexpr uint16_t kQueryChip = 8;
constexpr uint16_t kQueryCna = 9;
constexpr uint16_t kDataStatistics = 3;
constexpr uint16_t kDataDriver = 6;
constexpr uint16_t kDataFirmware = 7;
constexpr uint16_t kDataPortSummary = 0x6A;
constexpr uint16_t kDataPortStatistics = 0x70;

constexpr uint32_t kStatusInvalidParam = 6;
constexpr uint32_t kStatusNotFound = 9;
constexpr uint32_t kStatusBufferTooSmall = 16;

constexpr uint16_t kTypeTarget = 0x2;

template <size_t N>
void put_text(uint8_t (&field)[N], const char* text) {
    std::snprintf(reinterpret_cast<char*>(field), N, "%s", text);
}

const SimAdapter& adapter_of(const SimDriver& driver, const SimPort& port) { return driver.adapters.at(port.adapter); }

uint16_t physical_ports_of(const SimDriver& driver, size_t adapter) {
    uint16_t n = 0;
    for (const SimPort& p : driver.ports) {
        if (p.adapter == adapter && !p.is_virtual) ++n;
    }
    return n;
}

// The driver's version text from its driver-specifics answer.
void driver_version(const SimPort& port, char* out, size_t size) {
    const EXT_LN_DRV_VERSION& v = port.driver_data.DrvVer;
    std::snprintf(out, size, "%u.%02u.%02u", v.Major, v.Minor, v.Patch);
}

// The first 8 bytes of a request: a port name.
bool request_wwpn(const SimRequest& req, Wwn& wwpn) {
    if (req.request.size() < wwpn.size()) return false;
    std::copy_n(req.request.begin(), wwpn.size(), wwpn.begin());
    return true;
}

SimPort::RemotePort* find_remote(SimPort& port, const Wwn& wwpn, bool targets_only) {
    for (SimPort::RemotePort& r : port.remote_ports) {
        if (targets_only && !r.is_target) continue;
        if (std::memcmp(r.port.WWPN, wwpn.data(), wwpn.size()) == 0) return &r;
    }
    return nullptr;
}

SimPort::RemotePort* nth_target(SimPort& port, size_t index) {
    for (SimPort::RemotePort& r : port.remote_ports) {
        if (!r.is_target) continue;
        if (index == 0) return &r;
        --index;
    }
    return nullptr;
}

size_t target_count(const SimPort& port) {
    return static_cast<size_t>(std::count_if(port.remote_ports.begin(), port.remote_ports.end(),
                                             [](const SimPort::RemotePort& r) { return r.is_target; }));
}

// Keeps the discovered counts of the port's canned port record current.
void update_port_counts(SimPort& port) {
    auto it = port.records.find({kCmdQuery, kQueryPort});
    if (it == port.records.end() || it->second.size() < sizeof(EXT_HBA_PORT)) return;
    EXT_HBA_PORT rec;
    std::memcpy(&rec, it->second.data(), sizeof rec);
    rec.DiscPortCount = static_cast<uint16_t>(port.remote_ports.size());
    rec.DiscTargetCount = static_cast<uint16_t>(target_count(port));
    std::memcpy(it->second.data(), &rec, sizeof rec);
}

// Keeps PortCount of the canned node records of an adapter's ports current.
void update_node_port_counts(SimDriver& driver, size_t adapter) {
    const uint16_t count = physical_ports_of(driver, adapter);
    for (SimPort& p : driver.ports) {
        if (p.adapter != adapter) continue;
        auto it = p.records.find({kCmdQuery, kQueryNode});
        if (it == p.records.end() || it->second.size() < sizeof(EXT_HBA_NODE)) continue;
        EXT_HBA_NODE rec;
        std::memcpy(&rec, it->second.data(), sizeof rec);
        rec.PortCount = count;
        std::memcpy(it->second.data(), &rec, sizeof rec);
    }
}

SimReply disc_port(const SimRequest& req) {
    SimPort& port = *req.port;
    if (req.instance >= port.remote_ports.size()) return SimReply::with_status(kStatusNotFound);
    return SimReply::with_record(port.remote_ports[req.instance].port);
}

SimReply disc_target(const SimRequest& req) {
    SimPort::RemotePort* r = nth_target(*req.port, req.instance);
    if (r == nullptr) return SimReply::with_status(kStatusNotFound);
    return SimReply::with_record(r->target);
}

SimReply register_events(const SimRequest& req) {
    if (req.request.size() < sizeof(EXT_REG_AEN)) return SimReply::with_status(kStatusInvalidParam);
    EXT_REG_AEN reg;
    std::memcpy(&reg, req.request.data(), sizeof reg);
    req.port->aen_enabled = reg.Enable;
    reg.BufLength = req.port->aen_buf_len;
    SimReply reply;
    reply.request_update.resize(sizeof reg);
    std::memcpy(reply.request_update.data(), &reg, sizeof reg);
    return reply;
}

SimReply read_events(const SimRequest& req) {
    SimPort& port = *req.port;
    SimReply reply;
    const size_t fit = req.response_capacity / sizeof(EXT_ASYNC_EVENT);
    const size_t n = std::min(fit, port.events.size());
    reply.response.resize(n * sizeof(EXT_ASYNC_EVENT));
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(reply.response.data() + i * sizeof(EXT_ASYNC_EVENT), &port.events.front(),
                    sizeof(EXT_ASYNC_EVENT));
        port.events.pop_front();
    }
    reply.reported_len = static_cast<uint32_t>(reply.response.size());
    return reply;
}

SimReply scsi_address(const SimRequest& req) {
    Wwn wwpn;
    if (!request_wwpn(req, wwpn)) return SimReply::with_status(kStatusInvalidParam);
    SimPort::RemotePort* r = find_remote(*req.port, wwpn, true);
    if (r == nullptr) return SimReply::with_status(kStatusNotFound);
    return SimReply::with_record(r->scsi_addr);
}

SimReply port_summary(const SimRequest& req) {
    SimPort& port = *req.port;
    if (req.response_capacity < sizeof(EXT_DEVICEDATA)) return SimReply::with_status(kStatusBufferTooSmall);
    const size_t fit = (req.response_capacity - sizeof(EXT_DEVICEDATA)) / sizeof(EXT_DEVICEDATAENTRY);
    std::vector<EXT_DEVICEDATAENTRY> entries;
    for (const SimPort::RemotePort& r : port.remote_ports) {
        if (!r.is_target || entries.size() >= fit) continue;
        EXT_DEVICEDATAENTRY e{};
        std::memcpy(e.NodeWWN, r.port.WWNN, sizeof e.NodeWWN);
        std::memcpy(e.PortWWN, r.port.WWPN, sizeof e.PortWWN);
        std::memcpy(e.PortID, r.port.Id + 1, sizeof e.PortID);
        e.TargetAddress = r.scsi_addr;
        e.LoopID = r.port.LoopID;
        entries.push_back(e);
    }
    EXT_DEVICEDATA head{};
    head.TotalDevices = static_cast<uint32_t>(target_count(port));
    head.ReturnListEntryCount = static_cast<uint32_t>(entries.size());
    SimReply reply;
    reply.response.resize(sizeof head + entries.size() * sizeof(EXT_DEVICEDATAENTRY));
    std::memcpy(reply.response.data(), &head, sizeof head);
    if (!entries.empty()) {
        std::memcpy(reply.response.data() + sizeof head, entries.data(),
                    entries.size() * sizeof(EXT_DEVICEDATAENTRY));
    }
    return reply;
}

SimReply port_statistics(const SimRequest& req) {
    Wwn wwpn;
    if (!request_wwpn(req, wwpn)) return SimReply::with_status(kStatusInvalidParam);
    SimPort::RemotePort* r = find_remote(*req.port, wwpn, false);
    if (r == nullptr) return SimReply::with_status(kStatusNotFound);
    return SimReply::with_record(r->stats);
}

}  // namespace

Wwn default_wwpn(const SimDriver& driver, const SimPort& port) {
    (void)driver;
    return {0x21,
            static_cast<uint8_t>(port.is_virtual ? 0x01 : 0x00),
            0x00,
            0x0E,
            0x1E,
            static_cast<uint8_t>(port.adapter),
            static_cast<uint8_t>(port.pci_dev_func),
            static_cast<uint8_t>(port.instance)};
}

Wwn default_wwnn(const SimDriver& driver, const SimPort& port) {
    Wwn w = default_wwpn(driver, port);
    w[0] = 0x20;
    return w;
}

EXT_HBA_NODE make_node_record(const SimDriver& driver, const SimPort& port) {
    const SimAdapter& a = adapter_of(driver, port);
    EXT_HBA_NODE n{};
    const Wwn wwnn = default_wwnn(driver, port);
    std::copy(wwnn.begin(), wwnn.end(), n.WWNN);
    put_text(n.Manufacturer, "Varnix Corporation");
    char model[32];
    std::snprintf(model, sizeof model, "VX%04X", a.device_id);
    put_text(n.Model, model);
    std::memcpy(n.SerialNum, a.serial.data(), std::min(a.serial.size(), sizeof n.SerialNum));
    char version[32];
    driver_version(port, version, sizeof version);
    put_text(n.DriverVersion, version);
    put_text(n.FWVersion, "5.06.05");
    put_text(n.OptRomVersion, "3.21");
    n.PortCount = physical_ports_of(driver, port.adapter);
    n.InterfaceType = 1;
    return n;
}

EXT_HBA_PORT make_port_record(const SimDriver& driver, const SimPort& port) {
    EXT_HBA_PORT p{};
    const Wwn wwpn = default_wwpn(driver, port);
    std::copy(wwpn.begin(), wwpn.end(), p.WWPN);
    p.Id[1] = 0x01;
    p.Id[2] = static_cast<uint8_t>(port.pci_bus);
    p.Id[3] = static_cast<uint8_t>(port.instance);
    p.State = 1;
    p.DiscPortCount = static_cast<uint16_t>(port.remote_ports.size());
    p.DiscTargetCount = static_cast<uint16_t>(target_count(port));
    p.Bus = 0;
    p.Target = port.host_no;
    p.PortSupportedFC4Types = 0x1;
    p.PortActiveFC4Types = 0x1;
    p.FabricName[0] = 0x10;
    p.FabricName[7] = 0x01;
    p.PortSupportedSpeed = 0x1C;
    p.PortSpeed = 0x10;
    return p;
}

EXT_CHIP make_chip_record(const SimDriver& driver, const SimPort& port) {
    const SimAdapter& a = adapter_of(driver, port);
    EXT_CHIP c{};
    c.VendorId = a.vendor_id;
    c.DeviceId = a.device_id;
    c.SubVendorId = a.ssvendor_id;
    c.SubSystemId = a.ssdevice_id;
    c.PciBusNumber = port.pci_bus;
    c.PciSlotNumber = static_cast<uint16_t>(port.pci_dev_func >> 3);
    c.ChipType = a.device_id;
    c.PciDevFunc = port.pci_dev_func;
    c.DomainNr = port.pci_domain;
    c.FlashBlockSize = 0x10000;
    return c;
}

EXT_CNA_PORT make_cna_record(const SimPort& port) {
    EXT_CNA_PORT c{};
    c.VLanId = 1002;
    const uint8_t mac[6] = {0x00, 0x0E, 0x1E, static_cast<uint8_t>(port.adapter),
                            static_cast<uint8_t>(port.pci_dev_func), static_cast<uint8_t>(port.instance)};
    std::memcpy(c.VNPortMACAddress, mac, sizeof mac);
    return c;
}

EXT_DRIVER make_driver_record(const SimPort& port) {
    EXT_DRIVER d{};
    char version[32];
    driver_version(port, version, sizeof version);
    put_text(d.Version, version);
    d.NumOfBus = 1;
    d.TargetsPerBus = 512;
    d.LunsPerTarget = 256;
    d.MaxTransferLen = 0xFFFFFFFF;
    d.MaxDataSegments = 128;
    d.DmaBitAddresses = 64;
    return d;
}

EXT_FW make_fw_record(const SimPort& port) {
    (void)port;
    EXT_FW f{};
    put_text(f.Version, "5.06.05");
    return f;
}

void set_query_records(SimDriver& driver, SimPort& port) {
    port.set_record(kCmdQuery, kQueryNode, make_node_record(driver, port));
    port.set_record(kCmdQuery, kQueryPort, make_port_record(driver, port));
    port.set_record(kCmdQuery, kQueryChip, make_chip_record(driver, port));
    port.set_record(kCmdQuery, kQueryCna, make_cna_record(port));
    port.set_record(kCmdGetData, kDataDriver, make_driver_record(port));
    port.set_record(kCmdGetData, kDataFirmware, make_fw_record(port));
    port.set_record(kCmdGetData, kDataStatistics, EXT_HBA_PORT_STAT{});
}

void install_query_handlers(SimDriver& driver) {
    driver.on(kCmdQuery, kQueryDiscPort, disc_port);
    driver.on(kCmdQuery, kQueryDiscTarget, disc_target);
    driver.on(kCmdRegAen, register_events);
    driver.on(kCmdGetAen, read_events);
    driver.on(kCmdWwpnToScsiAddr, scsi_address);
    driver.on(kCmdGetData, kDataPortSummary, port_summary);
    driver.on(kCmdGetData, kDataPortStatistics, port_statistics);
}

SimPort& add_query_port(SimDriver& driver, const SimAdapter& adapter) {
    SimPort& port = driver.add_port(adapter);
    set_query_records(driver, port);
    update_node_port_counts(driver, port.adapter);
    install_query_handlers(driver);
    return port;
}

SimPort& add_query_virtual_port(SimDriver& driver, const SimPort& parent) {
    SimPort& port = driver.add_virtual_port(parent);
    port.remote_ports.clear();
    port.events.clear();
    set_query_records(driver, port);
    install_query_handlers(driver);
    return port;
}

SimPort::RemotePort& add_remote_port(SimPort& port, bool is_target) {
    const auto n = static_cast<uint8_t>(port.remote_ports.size());
    const auto target_id = static_cast<uint16_t>(target_count(port));
    SimPort::RemotePort r;
    const uint8_t wwpn[8] = {0x50, 0x06, 0x0E, 0x80, static_cast<uint8_t>(port.host_no), 0x00, 0x00, n};
    std::memcpy(r.port.WWPN, wwpn, sizeof wwpn);
    std::memcpy(r.port.WWNN, wwpn, sizeof wwpn);
    r.port.WWNN[0] = 0x50;
    r.port.WWNN[3] = 0x81;
    r.port.Id[1] = 0x01;
    r.port.Id[2] = 0x02;
    r.port.Id[3] = static_cast<uint8_t>(n + 1);
    r.port.Type = kTypeTarget;
    r.port.LoopID = static_cast<uint16_t>(0x81 + n);
    r.is_target = is_target;
    if (is_target) {
        r.port.TargetId = target_id;
        std::memcpy(r.target.WWNN, r.port.WWNN, sizeof r.target.WWNN);
        std::memcpy(r.target.WWPN, r.port.WWPN, sizeof r.target.WWPN);
        std::memcpy(r.target.Id, r.port.Id, sizeof r.target.Id);
        r.target.Type = r.port.Type;
        r.target.TargetId = target_id;
        r.target.LunCount = 1;
        r.target.LoopID = r.port.LoopID;
        r.scsi_addr.Target = target_id;
    }
    port.remote_ports.push_back(r);
    update_port_counts(port);
    return port.remote_ports.back();
}

EXT_ASYNC_EVENT make_event(uint32_t code, uint32_t rscn_port_id, uint8_t addr_format) {
    EXT_ASYNC_EVENT e{};
    e.AsyncEventCode = code;
    e.Payload.RSCN.RSCNInfo[0] = static_cast<uint8_t>(rscn_port_id >> 16);
    e.Payload.RSCN.RSCNInfo[1] = static_cast<uint8_t>(rscn_port_id >> 8);
    e.Payload.RSCN.RSCNInfo[2] = static_cast<uint8_t>(rscn_port_id);
    e.Payload.RSCN.AddrFormat = addr_format;
    return e;
}

}  // namespace sim

#include "sim_queries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sim {
namespace {

constexpr uint8_t kCmdQuery = 0x00, kCmdGetData = 0x06;
constexpr uint16_t kQueryNode = 1, kQueryPort = 2;
constexpr uint32_t kStatusInvalidParam = 6, kStatusNotFound = 9, kStatusBufferTooSmall = 16;

template <size_t N>
void put_text(uint8_t (&field)[N], const char* text) {
    std::snprintf(reinterpret_cast<char*>(field), N, "%s", text);
}

uint16_t physical_ports_of(const SimDriver& driver, size_t adapter) {
    return static_cast<uint16_t>(std::count_if(driver.ports.begin(), driver.ports.end(), [adapter](const SimPort& p) {
        return p.adapter == adapter && !p.is_virtual;
    }));
}

// The driver's version text from its driver-specifics answer.
std::string driver_version(const SimPort& port) {
    const EXT_LN_DRV_VERSION& v = port.driver_data.DrvVer;
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u.%02u", v.Major, v.Minor, v.Patch);
    return text;
}

size_t target_count(const SimPort& port) {
    return static_cast<size_t>(std::count_if(port.remote_ports.begin(), port.remote_ports.end(),
                                             [](const SimPort::RemotePort& r) { return r.is_target; }));
}

// The remote port (or target) whose name is in the request's first 8 bytes;
// a status when there is none.
SimReply by_wwpn(const SimRequest& req, bool targets_only, SimReply (*answer)(const SimPort::RemotePort&)) {
    if (req.request.size() < 8) return SimReply::with_status(kStatusInvalidParam);
    for (const SimPort::RemotePort& r : req.port->remote_ports) {
        if ((r.is_target || !targets_only) && std::memcmp(r.port.WWPN, req.request.data(), 8) == 0) return answer(r);
    }
    return SimReply::with_status(kStatusNotFound);
}

SimReply disc_port(const SimRequest& req) {
    if (req.instance >= req.port->remote_ports.size()) return SimReply::with_status(kStatusNotFound);
    return SimReply::with_record(req.port->remote_ports[req.instance].port);
}

SimReply disc_target(const SimRequest& req) {
    size_t index = req.instance;
    for (const SimPort::RemotePort& r : req.port->remote_ports) {
        if (r.is_target && index-- == 0) return SimReply::with_record(r.target);
    }
    return SimReply::with_status(kStatusNotFound);
}

SimReply register_events(const SimRequest& req) {
    if (req.request.size() < sizeof(EXT_REG_AEN)) return SimReply::with_status(kStatusInvalidParam);
    EXT_REG_AEN reg;
    std::memcpy(&reg, req.request.data(), sizeof reg);
    req.port->aen_enabled = reg.Enable;
    reg.BufLength = req.port->aen_buf_len;
    SimReply reply;
    reply.request_update = SimReply::with_record(reg).response;
    return reply;
}

SimReply read_events(const SimRequest& req) {
    std::deque<EXT_ASYNC_EVENT>& events = req.port->events;
    const size_t n = std::min(req.response_capacity / sizeof(EXT_ASYNC_EVENT), events.size());
    SimReply reply;
    reply.response.resize(n * sizeof(EXT_ASYNC_EVENT));
    std::copy_n(events.begin(), n, reinterpret_cast<EXT_ASYNC_EVENT*>(reply.response.data()));
    events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(n));
    reply.reported_len = static_cast<uint32_t>(reply.response.size());
    return reply;
}

SimReply port_summary(const SimRequest& req) {
    if (req.response_capacity < sizeof(EXT_DEVICEDATA)) return SimReply::with_status(kStatusBufferTooSmall);
    const size_t fit = (req.response_capacity - sizeof(EXT_DEVICEDATA)) / sizeof(EXT_DEVICEDATAENTRY);
    std::vector<EXT_DEVICEDATAENTRY> entries;
    for (const SimPort::RemotePort& r : req.port->remote_ports) {
        if (!r.is_target || entries.size() >= fit) continue;
        EXT_DEVICEDATAENTRY& e = entries.emplace_back();
        std::memcpy(e.NodeWWN, r.port.WWNN, sizeof e.NodeWWN);
        std::memcpy(e.PortWWN, r.port.WWPN, sizeof e.PortWWN);
        std::memcpy(e.PortID, r.port.Id + 1, sizeof e.PortID);
        e.TargetAddress = r.scsi_addr;
        e.LoopID = r.port.LoopID;
    }
    EXT_DEVICEDATA head{};
    head.TotalDevices = static_cast<uint32_t>(target_count(*req.port));
    head.ReturnListEntryCount = static_cast<uint32_t>(entries.size());
    SimReply reply = SimReply::with_record(head);
    const auto* bytes = reinterpret_cast<const uint8_t*>(entries.data());
    reply.response.insert(reply.response.end(), bytes, bytes + entries.size() * sizeof(EXT_DEVICEDATAENTRY));
    return reply;
}

void set_query_records(SimDriver& driver, SimPort& port) {
    port.set_record(kCmdQuery, kQueryNode, make_node_record(driver, port));
    port.set_record(kCmdQuery, kQueryPort, make_port_record(driver, port));
    port.set_record(kCmdQuery, 8, make_chip_record(driver, port));
    port.set_record(kCmdQuery, 9, make_cna_record(port));
    port.set_record(kCmdGetData, 6, make_driver_record(port));
    EXT_FW fw{};
    put_text(fw.Version, "5.06.05");
    port.set_record(kCmdGetData, 7, fw);
    port.set_record(kCmdGetData, 3, EXT_HBA_PORT_STAT{});
    driver.on(kCmdQuery, 3, disc_port);
    driver.on(kCmdQuery, 4, disc_target);
    driver.on(0x02, register_events);
    driver.on(0x03, read_events);
    driver.on(0xFD, [](const SimRequest& req) {
        return by_wwpn(req, true, [](const SimPort::RemotePort& r) { return SimReply::with_record(r.scsi_addr); });
    });
    driver.on(kCmdGetData, 0x6A, port_summary);
    driver.on(kCmdGetData, 0x70, [](const SimRequest& req) {
        return by_wwpn(req, false, [](const SimPort::RemotePort& r) { return SimReply::with_record(r.stats); });
    });
}

}  // namespace

Wwn default_wwpn(const SimDriver&, const SimPort& port) {
    return {0x21, static_cast<uint8_t>(port.is_virtual ? 0x01 : 0x00), 0x00, 0x0E, 0x1E,
            static_cast<uint8_t>(port.adapter), static_cast<uint8_t>(port.pci_dev_func),
            static_cast<uint8_t>(port.instance)};
}

EXT_HBA_NODE make_node_record(const SimDriver& driver, const SimPort& port) {
    const SimAdapter& a = driver.adapters.at(port.adapter);
    EXT_HBA_NODE n{};
    const Wwn wwnn = default_wwpn(driver, port);
    std::copy(wwnn.begin(), wwnn.end(), n.WWNN);
    n.WWNN[0] = 0x20;
    put_text(n.Manufacturer, "Varnix Corporation");
    char model[32];
    std::snprintf(model, sizeof model, "VX%04X", a.device_id);
    put_text(n.Model, model);
    std::memcpy(n.SerialNum, a.serial.data(), std::min(a.serial.size(), sizeof n.SerialNum));
    put_text(n.DriverVersion, driver_version(port).c_str());
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
    const SimAdapter& a = driver.adapters.at(port.adapter);
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
    put_text(d.Version, driver_version(port).c_str());
    d.NumOfBus = 1;
    d.TargetsPerBus = 512;
    d.LunsPerTarget = 256;
    d.MaxTransferLen = 0xFFFFFFFF;
    d.MaxDataSegments = 128;
    d.DmaBitAddresses = 64;
    return d;
}

SimPort& add_query_port(SimDriver& driver, const SimAdapter& adapter) {
    SimPort& port = driver.add_port(adapter);
    set_query_records(driver, port);
    // PortCount of the node records of the adapter's ports follows.
    const uint16_t count = physical_ports_of(driver, port.adapter);
    for (SimPort& p : driver.ports) {
        if (p.adapter != port.adapter) continue;
        p.edit_record<EXT_HBA_NODE>(kCmdQuery, kQueryNode, [count](EXT_HBA_NODE& n) { n.PortCount = count; });
    }
    return port;
}

SimPort& add_query_virtual_port(SimDriver& driver, const SimPort& parent) {
    SimPort& port = driver.add_virtual_port(parent);
    port.remote_ports.clear();
    port.events.clear();
    set_query_records(driver, port);
    return port;
}

SimPort::RemotePort& add_remote_port(SimPort& port, bool is_target) {
    const auto n = static_cast<uint8_t>(port.remote_ports.size());
    const auto target_id = static_cast<uint16_t>(target_count(port));
    SimPort::RemotePort& r = port.remote_ports.emplace_back();
    const uint8_t wwpn[8] = {0x50, 0x06, 0x0E, 0x80, static_cast<uint8_t>(port.host_no), 0x00, 0x00, n};
    std::memcpy(r.port.WWPN, wwpn, sizeof wwpn);
    std::memcpy(r.port.WWNN, wwpn, sizeof wwpn);
    r.port.WWNN[3] = 0x81;
    r.port.Id[1] = 0x01;
    r.port.Id[2] = 0x02;
    r.port.Id[3] = static_cast<uint8_t>(n + 1);
    r.port.Type = 0x2;  // a target
    r.port.LoopID = static_cast<uint16_t>(0x81 + n);
    r.is_target = is_target;
    if (is_target) {
        r.port.TargetId = r.target.TargetId = r.scsi_addr.Target = target_id;
        std::memcpy(r.target.WWNN, r.port.WWNN, sizeof r.target.WWNN);
        std::memcpy(r.target.WWPN, r.port.WWPN, sizeof r.target.WWPN);
        std::memcpy(r.target.Id, r.port.Id, sizeof r.target.Id);
        r.target.Type = r.port.Type;
        r.target.LunCount = 1;
        r.target.LoopID = r.port.LoopID;
    }
    port.edit_record<EXT_HBA_PORT>(kCmdQuery, kQueryPort, [&port](EXT_HBA_PORT& p) {
        p.DiscPortCount = static_cast<uint16_t>(port.remote_ports.size());
        p.DiscTargetCount = static_cast<uint16_t>(target_count(port));
    });
    return r;
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

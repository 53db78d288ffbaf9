#include "sim_adapters.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "flash_builder.h"
#include "sim_nvram_vpd.h"
#include "sim_queries.h"

namespace sim {
namespace {

std::string driver_name(const FabricSetup& setup) {
    if (!setup.driver_name.empty()) return setup.driver_name;
    return setup.kind == DriverKind::New ? "vxa2xxx" : "vxa2x00";
}

void set_driver_answer(SimPort& port, const FabricSetup& setup) {
    port.driver_data = EXT_LN_DRIVER_DATA{};
    port.driver_data.DrvVer = setup.version;
    port.driver_data.Flags = setup.flags;
}

}  // namespace

Fabric install_adapters(SimHost& host, SimDriver& driver, const FabricSetup& setup) {
    Fabric fabric;
    const std::string name = driver_name(setup);
    if (setup.kind == DriverKind::New) {
        fabric.node = "/dev/" + name;
        if (setup.class_dev_file) {
            host.write_file("/sys/class/" + name + "/" + name + "/dev", std::to_string(setup.major) + ":0\n");
        } else {
            host.write_file("/proc/devices",
                            "Character devices:\n  1 mem\n" + std::to_string(setup.major) + " " + name + "\n");
        }
    } else {
        fabric.node = "/proc/scsi/" + name + "/HbaApiNode";
    }
    driver.attach(host, setup.major, fabric.node);

    const size_t first_adapter = driver.adapters.size();
    const auto setup_of = [&](const SimPort& port) -> const AdapterSetup& {
        return setup.adapters.at(port.adapter - first_adapter);
    };
    for (const AdapterSetup& a : setup.adapters) {
        SimAdapter& adapter = driver.add_adapter();
        adapter.vendor_id = a.vendor_id;
        adapter.device_id = a.device_id;
        adapter.ssvendor_id = a.ssvendor_id;
        adapter.ssdevice_id = a.ssdevice_id;
        if (!a.vpd_serial.empty()) adapter.vpd = typical_vpd(a.vpd_serial).bytes;
        for (unsigned p = 0; p < std::clamp(a.ports, 1u, 4u); ++p) {
            fabric.physical.push_back(&add_query_port(driver, adapter));
        }
    }
    // Virtual ports come after every physical port, as a driver creates them.
    const std::vector<SimPort*> physical = fabric.physical;
    for (SimPort* parent : physical) {
        const AdapterSetup& a = setup_of(*parent);
        for (unsigned v = 0; v < a.vports_per_port; ++v) {
            fabric.virtual_ports.push_back(&add_query_virtual_port(driver, *parent));
        }
    }

    // The node records last: adding ports rewrites the port counts in them.
    for (SimPort* port : physical) {
        const AdapterSetup& a = setup_of(*port);
        const std::array<uint8_t, 4> serial = a.serial_bytes.value_or(
            std::array<uint8_t, 4>{0, static_cast<uint8_t>(port->adapter - first_adapter + 1), 0x30, 0});
        port->edit_record<EXT_HBA_NODE>(0x00, 1, [&](EXT_HBA_NODE& node) {
            std::memcpy(node.SerialNum, serial.data(), sizeof node.SerialNum);
            std::memset(node.Reserved, 0, sizeof node.Reserved);
            const size_t n = std::min(a.reserved_text.size(), sizeof node.Reserved);
            std::memcpy(node.Reserved, a.reserved_text.data(), n);
        });
        set_driver_answer(*port, setup);
    }
    std::map<int, unsigned> vp_index;  // by the parent's driver instance
    for (SimPort* port : fabric.virtual_ports) {
        const unsigned index = ++vp_index[port->parent_instance];
        port->edit_record<EXT_HBA_NODE>(0x00, 1, [index](EXT_HBA_NODE& node) {
            node.InterfaceType = 3;
            node.PortCount = static_cast<uint16_t>(index);
        });
        set_driver_answer(*port, setup);
    }
    install_nvram_vpd(driver);
    return fabric;
}

AdapterSetup adapter(uint16_t device_id, unsigned ports, unsigned vports_per_port) {
    AdapterSetup a;
    a.device_id = device_id;
    a.ports = ports;
    a.vports_per_port = vports_per_port;
    return a;
}

void refuse_instances(SimDriver& driver, const std::vector<uint16_t>& refused) {
    driver.on(0xFE, [&driver, refused](const SimRequest& r) {
        SimPort* port = driver.find_port(r.instance);
        if (port == nullptr || std::find(refused.begin(), refused.end(), r.instance) != refused.end()) {
            return SimReply::with_status(9);
        }
        SimReply reply;
        reply.hba_select = port->host_no;
        return reply;
    });
}

std::vector<vxapi_priv_database*> listed_ports() {
    std::vector<vxapi_priv_database*> out;
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return out;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) out.push_back(static_cast<vxapi_priv_database*>(node->data));
    return out;
}

}  // namespace sim

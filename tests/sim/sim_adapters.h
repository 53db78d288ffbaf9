// A host with adapters, in one call: the simulated driver of either
// generation with its node and device numbers, adapters of one to four
// physical ports each with virtual ports, and every port answering the
// requests that discovery sends (count, set instance, driver specifics,
// node, port and chip queries, VPD reads).
//
// Driver instances are numbered as a driver creates its hosts: the physical
// ports of every adapter in adapter order, then the virtual ports, those of
// each physical port in turn.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/vx_driver_records.h"
#include "base/vx_layout.h"
#include "base/vx_records.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace sim {

struct AdapterSetup {
    uint16_t device_id = 0x2312, vendor_id = VX_PCI_VENDOR_MAKER, ssvendor_id = 0, ssdevice_id = 0;
    unsigned ports = 1;            // physical ports (PCI functions), 1 to 4
    unsigned vports_per_port = 0;  // virtual ports of each physical port
    // The node record's SerialNum bytes (default: 0, the adapter's number, 0x30).
    std::optional<std::array<uint8_t, 4>> serial_bytes;
    std::string reserved_text;  // the node record's 8-byte Reserved area
    std::string vpd_serial;     // not empty: the adapter's VPD carries it as "SN"
};

enum class DriverKind {
    New,  // "/dev/<name>", the new request header
    Old,  // "/proc/scsi/<name>/HbaApiNode", the old (88-byte) request header
};

struct FabricSetup {
    DriverKind kind = DriverKind::New;
    std::string driver_name;  // empty: "vxa2xxx" (new) or "vxa2x00" (old)
    unsigned major = 240;
    // New driver: the device numbers in "/sys/class/<name>/<name>/dev";
    // false: as a line of "/proc/devices" instead.
    bool class_dev_file = true;
    EXT_LN_DRV_VERSION version{8, 2, 0, 0, {}};  // the driver-specifics answer
    uint32_t flags = 0;
    std::vector<AdapterSetup> adapters;
};

struct Fabric {
    std::string node;                     // the driver's node
    std::vector<SimPort*> physical;       // in driver instance order
    std::vector<SimPort*> virtual_ports;  // in driver instance order
};

Fabric install_adapters(SimHost& host, SimDriver& driver, const FabricSetup& setup);

// An adapter of the device with that many physical ports and virtual ports
// on each.
AdapterSetup adapter(uint16_t device_id, unsigned ports = 1, unsigned vports_per_port = 0);

// Set instance answered as the driver answers it, except for the instances
// given, which cannot be selected (status 9).
void refuse_instances(SimDriver& driver, const std::vector<uint16_t>& refused);

// The library's port records in the order of its list (its cursor stays).
std::vector<vxapi_priv_database*> listed_ports();

}  // namespace sim

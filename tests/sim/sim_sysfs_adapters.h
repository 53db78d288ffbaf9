// Sysfs-mode adapters, in one call: what a kernel with the FC transport class
// and a sysfs-mode driver shows of its adapters.
//
// - bus/pci/drivers/<driver>/<bus id> links to the PCI function's directory
//   (bus/pci/devices too), which holds "vendor", "device",
//   "subsystem_vendor", "subsystem_device", "irq", a binary "config" with a
//   capability list, a "driver" link, and host<N>/ of the physical port with
//   the driver's binary attributes ("optrom_ctl", "optrom", "vpd");
//   host<N>/vport-<N>:0-<K>/host<M>/ for each virtual port.
// - Class entries scsi_host, fc_host, fc_remote_ports, scsi_device and bsg,
//   and bus/scsi/devices, as links into the device tree (class_links false:
//   plain directories, each with a "device" link where a kernel has one).
// - Each remote port rport-<H>:0-<K> with its LUNs H:0:T:L: a SCSI device
//   directory with block/<name>/ and a "generic" link to
//   scsi_generic/sg<N>, nodes /dev/<block> and /dev/sg<N> (major 21, minor
//   N), and the /dev links to the block node that the setup names.
// - bsg (with_bsg): class/bsg/fc_host<N> and class/bsg/rport-<H>:0-<K>, each
//   with a "dev" file "<bsg_major>:<minor>", minors in the order made.
//
// Every attribute is served through the host's attribute model
// (SimHost::set_attr), so that any of them can be changed, made to fail or
// removed. The kinds of attribute are below; a later model adds handlers of
// these kinds, not layouts.
//
// Device models attach by major number: host.register_device(kSgMajor, &sg)
// for /dev/sg<N>, host.register_device(setup.bsg_major, &bsg) for the nodes
// the library makes from the bsg "dev" files.
//
// Use:
//     sim::SimHost host;
//     sim::SysfsSetup setup;
//     sim::SysfsAdapter a = sim::sysfs_adapter(0x2532);
//     a.functions = {sim::SysfsFunction{7, {9, 8}}};  // host 7, virtual hosts 9 and 8
//     a.functions[0].host.rports = {sim::SysfsRemotePort{}};
//     setup.adapters = {a};
//     sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, setup);
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/vx_layout.h"
#include "sim_host.h"

namespace sim {

constexpr unsigned kSgMajor = 21;

// ---- attribute kinds ----

// Text as a kernel shows it: the value and a newline. A write through it
// (writable) replaces the value (its trailing newline and NULs dropped).
SimHost::Attr text_attr(std::string value, bool writable = false);
// Bytes (binary attributes such as "vpd" and "config"); a write overlays
// the bytes at its position. The bytes are shared with the caller.
SimHost::Attr bytes_attr(std::shared_ptr<std::string> bytes, bool writable = false);
// Request and response: a write stores the request, the next reads give
// answer(request) from their position on.
SimHost::Attr request_attr(std::function<std::string(const std::string& request)> answer);

// The driver's flash window over an adapter's flash: "optrom_ctl" takes the
// control words with their NUL ("1:<offset>:<size>", "1", "2:<offset>:<size>",
// "2", "3" commit, "0" close, "4" the chunking probe, refused with EINVAL when
// the driver reads and writes flash in chunks); "optrom" reads and writes the
// open window, position 0 being the window's offset.
struct FlashWindow {
    std::shared_ptr<std::vector<uint8_t>> flash;
    bool chunking = true;
    std::vector<std::string> controls;  // every control word taken, without its NUL
    // Every commit, as (flash offset, bytes).
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> commits;
    enum class Mode { Closed, Read, Write } mode = Mode::Closed;
    uint32_t offset = 0;
    uint32_t size = 0;
    std::vector<uint8_t> staged;
};
SimHost::Attr flash_control(std::shared_ptr<FlashWindow> window);  // "optrom_ctl"
SimHost::Attr flash_data(std::shared_ptr<FlashWindow> window);     // "optrom"

// ---- setup ----

// Attribute texts by name; nullopt: the attribute is absent.
using SysfsAttrs = std::map<std::string, std::optional<std::string>>;

struct SysfsLun {
    unsigned lun = 0;
    std::string block = "sdb";             // block/<name>/ and the node /dev/<name>
    unsigned sg = 0;                       // the generic link to sg<N> and the node /dev/sg<N>
    std::vector<std::string> dev_links;    // links in /dev to the block node
};

struct SysfsRemotePort {
    unsigned number = 0;  // rport-<H>:0-<number>
    std::string node_name = "0x2000001b32a00001";
    std::string port_name = "0x2100001b32a00001";
    std::string port_id = "0x010200";
    std::string roles = "FCP Target";
    std::string port_state = "Online";
    std::optional<unsigned> target_id = 0;  // nullopt: no SCSI target id
    std::vector<SysfsLun> luns;
};

// One SCSI and FC host: a physical port or a virtual port. Its attribute
// texts are sysfs_host_defaults() with the setup's changes.
struct SysfsHost {
    SysfsHost(unsigned number = 0) : host_no(number) {}  // NOLINT: a host is named by its number
    unsigned host_no;
    SysfsAttrs scsi_host;  // changes to the SCSI host's attributes
    SysfsAttrs fc_host;    // changes to the FC host's attributes
    std::vector<SysfsRemotePort> rports;
};

// One PCI function: its physical port's host and the hosts of its virtual
// ports, in the order of their vport-<N>:0-<K> directories.
struct SysfsFunction {
    SysfsHost host;
    std::vector<SysfsHost> vports;
};

struct SysfsAdapter {
    std::string driver = "vxa2xxx";
    uint16_t vendor_id = VX_PCI_VENDOR_MAKER;
    uint16_t device_id = 0x2532;
    uint16_t ssvendor_id = 0;
    uint16_t ssdevice_id = 0;
    unsigned pci_bus = 0;  // 0: 3 + the adapter's index
    std::vector<SysfsFunction> functions;
    SysfsAttrs pci;                 // changes to the PCI function's text attributes
    std::vector<uint8_t> flash;     // the flash part (default: 1 MiB erased)
    std::vector<uint8_t> vpd;       // the "vpd" attribute (default: typical_vpd of the serial, 512 bytes)
    std::vector<uint8_t> config;    // "config" (default: pci_config())
};

struct SysfsSetup {
    std::vector<SysfsAdapter> adapters;
    bool class_links = true;  // class entries as links into the device tree; false: directories
    bool with_bsg = true;
    bool chunking = true;  // the driver refuses the probe "4": it reads and writes flash in chunks
    unsigned bsg_major = 250;
};

struct SysfsFabric {
    // Host number -> the host's device directory (<pci>/host<N>, <pci>/host<N>/vport-.../host<M>).
    std::map<unsigned, std::string> host_dirs;
    // The PCI function directories, in setup order (adapter, then function).
    std::vector<std::string> pci_dirs;
    // Physical host number -> its flash window; the windows of one adapter share its flash.
    std::map<unsigned, std::shared_ptr<FlashWindow>> windows;
    // Bytes served as "vpd", by physical host number (shared with the attribute).
    std::map<unsigned, std::shared_ptr<std::string>> vpd;
    // bsg class name ("fc_host5", "rport-5:0-1") -> device number of its "dev" file.
    std::map<std::string, dev_t> bsg_devs;
};

SysfsFabric install_sysfs_adapters(SimHost& host, const SysfsSetup& setup);

// An adapter of the device with one function per host given, without virtual ports.
SysfsAdapter sysfs_adapter(uint16_t device_id, std::vector<unsigned> hosts = {5});

// The attribute texts of a host before the setup's changes: SCSI host
// (link_state, state, serial_num, model_name, driver_version, fw_version,
// optrom_*_version, max_npiv_vports, sg_tablesize, fw_state, mpi_version,
// pep_version, phy_version, vlan_id, vn_port_mac_address, fabric_param) and
// FC host (node_name, port_name, port_id, speed, fabric_name, port_state,
// max_npiv_vports). Names hold the host number; serial_num the adapter's.
SysfsAttrs sysfs_scsi_host_defaults(unsigned host_no, unsigned adapter_index);
SysfsAttrs sysfs_fc_host_defaults(unsigned host_no);

// 256 bytes of PCI configuration: the ids, revision 2, a capability list
// (status bit 0x10, pointer at 0x34) with power management at 0x40 and PCI
// Express (id 0x10) at 0x60 with the link capabilities and status given.
std::vector<uint8_t> pci_config(uint16_t vendor_id, uint16_t device_id, uint32_t link_cap = 0x0004a442,
                                uint16_t link_stat = 0x1042);

}  // namespace sim

// Sysfs-mode adapters in one call: what a kernel with the FC transport class
// and a sysfs-mode driver shows.
// - bus/pci/drivers/<driver>/<bus id> and bus/pci/devices/<bus id> link to
//   the PCI function's directory: ids, "irq", binary "config", "driver",
//   host<N>/ of the physical port with "optrom_ctl", "optrom" and "vpd",
//   host<N>/vport-<N>:0-<K>/host<M>/ of each virtual port.
// - Class entries scsi_host, fc_host, fc_remote_ports, scsi_device and bsg,
//   and bus/scsi/devices: links into the device tree, or (class_links
//   false) plain directories; each with a "device" link. The class
//   directory scsi_device is there also without a LUN.
// - Per LUN: block/<name>/, a "generic" link to scsi_generic/sg<N>, nodes
//   /dev/<name> and /dev/sg<N> (kSgMajor:N), /dev links to the block node.
// - bsg: class/bsg/fc_host<N> and rport-<H>:0-<K>, each with "dev"
//   "<bsg_major>:<minor>". Device models attach with host.register_device.
// - The driver's netlink service (host.netlink()) knows every host made here.
// Every attribute is served through SimHost::set_attr.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/vx_layout.h"
#include "sim_host.h"

namespace sim {

constexpr unsigned kSgMajor = 21;

// ---- attribute kinds ----

// Text shown with a newline; a write replaces it (trailing newlines and NULs dropped).
SimHost::Attr text_attr(std::string value, bool writable = false);
// Bytes shared with the caller; a write overlays them at its position.
SimHost::Attr bytes_attr(std::shared_ptr<std::string> bytes, bool writable = false);
// One mailbox, shared with the processes the test forks: a write stores the
// answer to the request (a write at position 0 starts one, a write further on
// goes on with it), a read gives the answer stored last, whoever wrote it.
SimHost::Attr request_attr(std::function<std::string(const std::string& request)> answer);

// The driver's flash window of a physical host: "optrom_ctl" takes control
// words with their NUL ("1[:off:size]" read, "2[:off:size]" write, "3"
// commit, "0" close, "4" the probe, refused with EINVAL when chunking; without
// chunking a span must be the whole flash); "optrom" moves the open window's
// bytes, position 0 being its offset.
struct FlashWindow {
    std::shared_ptr<std::vector<uint8_t>> flash;
    bool chunking = true;
    // Every control word, without its NUL; one that failed with " !<errno>".
    std::vector<std::string> controls;
    // By first character: the next such words fail with these (0: that word is taken).
    std::map<char, std::deque<int>> errnos;
    size_t limit = SIZE_MAX;                 // "optrom" moves no window byte at or past this position
    // A read of "optrom" gives at most this many bytes: a page, as the kernel
    // reads a binary attribute.
    size_t piece = 4096;
    // Every commit, as (flash offset, bytes).
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> commits;
    enum class Mode { Closed, Read, Write } mode = Mode::Closed;
    uint32_t offset = 0, size = 0;
    std::vector<uint8_t> staged;
};

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
    std::string node_name = "0x2000001b32a00001", port_name = "0x2100001b32a00001", port_id = "0x010200";
    std::string roles = "FCP Target", port_state = "Online";
    std::optional<unsigned> target_id = 0;  // nullopt: no SCSI target bound ("-1")
    std::vector<SysfsLun> luns;
};

// One SCSI and FC host; its texts are the defaults below with these changes.
struct SysfsHost {
    SysfsHost(unsigned number = 0) : host_no(number) {}  // NOLINT: a host is named by its number
    unsigned host_no;
    SysfsAttrs scsi_host;  // changes to the SCSI host's attributes
    SysfsAttrs fc_host;    // changes to the FC host's attributes
    std::vector<SysfsRemotePort> rports;
};

// A PCI function: its physical host and its virtual hosts, vport-<N>:0-<K> in order.
struct SysfsFunction {
    SysfsHost host;
    std::vector<SysfsHost> vports;
};

struct SysfsAdapter {
    std::string driver = "vxa2xxx";
    uint16_t vendor_id = VX_PCI_VENDOR_MAKER, device_id = 0x2532, ssvendor_id = 0, ssdevice_id = 0;
    unsigned pci_bus = 0;  // 0: 3 + the adapter's index
    std::vector<SysfsFunction> functions;
    SysfsAttrs pci;                 // changes to the PCI function's text attributes
    std::vector<uint8_t> flash;     // the flash part (default: 1 MiB erased)
    std::vector<uint8_t> vpd;       // "vpd" (default: SN "VPD<n>", 512 bytes, 1024 for the 1024-byte chips)
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
    std::map<unsigned, std::string> host_dirs;  // host number -> its device directory
    std::vector<std::string> pci_dirs;          // in setup order
    // By physical host number: its flash window (shared flash per adapter), its "vpd" bytes.
    std::map<unsigned, std::shared_ptr<FlashWindow>> windows;
    std::map<unsigned, std::shared_ptr<std::string>> vpd;
    std::map<std::string, dev_t> bsg_devs;  // "fc_host5", "rport-5:0-1" -> its "dev" numbers
};

SysfsFabric install_sysfs_adapters(SimHost& host, const SysfsSetup& setup);

// An adapter of the device with one function per host given, without virtual ports.
SysfsAdapter sysfs_adapter(uint16_t device_id, std::vector<unsigned> hosts = {5});

// A host's texts before the setup's changes, as a working driver of the
// chip prints them (an empty line for a feature the chip lacks); names hold
// the host number. The FC host's "statistics/<counter>" files among them.
SysfsAttrs sysfs_scsi_host_defaults(unsigned host_no, unsigned adapter_index, uint16_t device_id = 0x2532);
SysfsAttrs sysfs_fc_host_defaults(unsigned host_no);

// 256 bytes of PCI configuration: ids, revision 2, capabilities power
// management at 0x40 and PCI Express at 0x60 with these link words.
std::vector<uint8_t> pci_config(uint16_t vendor_id, uint16_t device_id, uint32_t link_cap = 0x0004a442,
                                uint16_t link_stat = 0x1042);

}  // namespace sim

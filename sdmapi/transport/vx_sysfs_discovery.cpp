// Sysfs discovery of hosts, ports and virtual ports.
//
// The PCI bus is walked for the supported driver names; every PCI function
// that such a driver has bound gives one port record per SCSI host (the
// physical port, the host directly under the function, then the hosts of
// its virtual ports in ascending order, each host once) and one function
// record, filled from the sysfs attributes of the hosts and the function.
// What a physical port keeps in flash (its layout, its versions) is read by
// the workers that the caller hands in (VxPortAttach), at fixed points of the
// walk.
//
// Records are appended to the port list in that order: the list's cursor is
// put on its last record before each record is made, whatever the lookups in
// between left it at.
#include "transport/vx_sysfs.h"

#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_query.h"
#include "transport/vx_sysfs_walk.h"

const char* const driver_names[VXSYSFS_DRIVER_NAMES] = {"vxa2200", "vxa2300", "vxa2322",
                                                        "vxa6312", "vxa2400", "vxa2xxx"};
Dlist* host_no_list = nullptr;
uint32_t* host_array = nullptr;

namespace {

constexpr uint32_t kVportIndexes = 512;
constexpr size_t kLinkStateSize = 128;

// The opcodes of SCSI commands that only read: their generic node is opened
// read-only.
constexpr uint8_t kReadOnlyOpcodes[] = {0x00, 0x03, 0x05, 0x08, 0x0F, 0x12, 0x17, 0x1A, 0x1C, 0x25, 0x28,
                                        0x34, 0x37, 0x3C, 0x3E, 0x43, 0x4D, 0x57, 0x5A, 0xA0, 0xA8, 0xB8};

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }

void trace2(const char* a, const char* b, const char* c = "") {
    if (!vxdbg_on(VXDBG_SYSFS)) return;
    vxdbg_print(a, 0, VXDBG_NONE, 0);
    vxdbg_print(b, 0, VXDBG_NONE, 0);
    vxdbg_print(c, 0, VXDBG_NONE, 1);
}

// Formats into a buffer; false when the text did not fit (it is cut).
__attribute__((format(printf, 3, 4))) bool format(char* buffer, size_t size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buffer, size, fmt, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool starts_with(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// A libsysfs directory list of either style: directories, else links.
class EntryList {
public:
    explicit EntryList(const char* path, bool links_too = true) {
        list_ = vx::sys().sysfs_open_directory_list(path);
        if (list_ == nullptr && links_too) list_ = vx::sys().sysfs_open_link_list(path);
    }
    ~EntryList() {
        if (list_ != nullptr) vx::sys().sysfs_close_list(list_);
    }
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;
    Dlist* get() const { return list_; }

private:
    Dlist* list_;
};

// host_no_list for one PCI function, destroyed at the end of the scope.
struct HostListScope {
    ~HostListScope() {
        if (host_no_list != nullptr) dlist_destroy(host_no_list);
        host_no_list = nullptr;
        host_array = nullptr;
    }
};

// The PCI address of a bus id domain:bus:device.function; zero when it does
// not parse as four fields.
EXT_CHIP pci_address(const char* bus_id) {
    EXT_CHIP chip{};
    uint16_t domain = 0, bus = 0, device = 0;
    short function = 0;
    if (std::sscanf(bus_id, "%4hx : %2hx : %2hx . %hd", &domain, &bus, &device, &function) == 4) {
        chip.DomainNr = domain;
        chip.PciBusNumber = bus;
        chip.PciDevFunc = static_cast<uint16_t>(((device << 3) | (function & 7)) & 0xFF);
    }
    return chip;
}

// "link_state" of the SCSI host, else its "state": the topology.
void read_topology(vxapi_priv_database* rec) {
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(rec->host_no));
    char text[kLinkStateSize] = {};
    if (vxsysfs_path_append(path, end, "link_state") != nullptr) vxsysfs_get_str_attr(path, text, sizeof text);
    if (text[0] == '\0' && vxsysfs_path_append(path, end, "state") != nullptr) {
        vxsysfs_get_str_attr(path, text, sizeof text);
    }
    static const struct {
        const char* text;
        uint16_t topology;
    } kTopologies[] = {{"Link Up - F_Port", 8}, {"Link Up - FL_Port", 4}, {"Link Up - Loop", 1},
                       {"Link Up - N_Port to N_Port", 2}};
    rec->topology = 0;
    rec->state = 0;
    for (const auto& t : kTopologies) {
        if (std::strcmp(text, t.text) == 0) rec->topology = t.topology;
    }
}

// A decimal attribute of a host's class directory (SCSI host or FC host)
// of at most max; 0 when it did not come (*answer says why).
uint32_t host_int_attr(bool fc_host, uint32_t host_no, const char* name, VxAttrAnswer* answer, uint32_t max) {
    char path[VXSYSFS_PATH_SIZE];
    char* end = fc_host ? vxsysfs_get_fc_host_path(path, static_cast<uint16_t>(host_no))
                        : vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(host_no));
    *answer = VxAttrAnswer::Absent;
    return vxsysfs_path_append(path, end, name) != nullptr ? vxsysfs_get_int_attr(path, answer, max) : 0;
}

// wwnn, wwpn and port_id (bytes 1..3) of the record's FC host into the
// record; an absent one is 0. Came, or the answer of the first that did not
// come (the others are read all the same).
VxAttrAnswer read_port_names(vxapi_priv_database* rec) {
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_fc_host_path(path, static_cast<uint16_t>(rec->host_no));
    const struct {
        const char* name;
        uint8_t* field;
        uint32_t size;
    } names[] = {{"node_name", rec->wwnn, 8}, {"port_name", rec->wwpn, 8}, {"port_id", rec->port_id + 1, 3}};
    vxsysfs::Answers answers;
    for (const auto& n : names) {
        VxAttrAnswer answer = VxAttrAnswer::Absent;
        std::memset(n.field, 0, n.size);
        if (vxsysfs_path_append(path, end, n.name) != nullptr) vxsysfs_get_hex_attr(path, n.field, n.size, &answer);
        (void)answers.take_optional(answer);
    }
    return answers.first();
}

// The byte and the bit of an index (1 to kVportIndexes) in a virtual-port map.
uint8_t& byte_of(uint8_t* map, uint32_t index) { return map[(index - 1) / 8]; }
uint8_t bit_of(uint32_t index) { return static_cast<uint8_t>(1u << ((index - 1) % 8)); }

// Marks in map the ids that the listed virtual ports of the function hold.
// The caller holds the list lock; the list's cursor is not moved.
void mark_listed_vport_ids(const vxapi_phy_info* phy, uint8_t* map) {
    if (api_priv_database == nullptr) return;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        const auto* rec = static_cast<const vxapi_priv_database*>(node->data);
        if (rec->interface_type == VX_PORT_VIRTUAL && rec->phy_info == phy && rec->vp_idx >= 1 &&
            rec->vp_idx <= kVportIndexes) {
            byte_of(map, rec->vp_idx) |= bit_of(rec->vp_idx);
        }
    }
}

// How making one port ended.
enum class Made { Port, Skipped, DeviceDropped, OutOfMemory };

class DeviceWalk {
public:
    DeviceWalk(struct sysfs_driver* driver, struct sysfs_device* device, uint32_t* count, uint32_t* index,
               const VxPortAttach& attach)
        : driver_(driver), device_(device), count_(count), index_(index), attach_(attach) {}

    Made port(uint32_t host_no);

private:
    Made out_of_memory(const char* text);
    Made physical(vxapi_priv_database* rec, const EXT_CHIP& chip);
    Made virtual_port(vxapi_priv_database* rec, const EXT_CHIP& chip);

    struct sysfs_driver* driver_;
    struct sysfs_device* device_;
    uint32_t* count_;
    uint32_t* index_;
    const VxPortAttach& attach_;
    uint32_t host_index_ = 0;
};

Made DeviceWalk::out_of_memory(const char* text) {
    trace(text);
    *count_ = 0;
    vxapi_free_api_priv_data_mem();
    vxapi_free_api_phy_info_mem();
    return Made::OutOfMemory;
}

Made DeviceWalk::port(uint32_t host_no) {
    vxapi_priv_database* rec = nullptr;
    {
        VxListLock lock(vxapi_list_mutex());
        if (api_priv_database != nullptr) {
            dlist_end(api_priv_database);
            dlist_prev(api_priv_database);  // the last record: the new one goes behind it
        }
        if (vxapi_alloc_api_priv_data_mem(&rec) != 0 || rec == nullptr) {
            return out_of_memory(">> mem alloc failed, exiting");
        }
    }
    vxapi_legacy_sysfs_mode(true);
    rec->features = VX_FEAT_SYSFS;
    rec->drvr_inst = *index_;
    rec->host_no = host_no;
    if (vxsysfs_is_bsg_supported(host_no) == 0) rec->features |= VX_FEAT_BSG;
    rec->interface_type = host_index_ == 0 ? VX_PORT_PHYSICAL : VX_PORT_VIRTUAL;
    format(reinterpret_cast<char*>(rec->phys_path), sizeof rec->phys_path, "%s/%s", driver_->path, device_->bus_id);
    vxsysfs_is_chunking_supported(device_, rec);
    vxsysfs_get_device_attributes(device_, rec);
    const EXT_CHIP chip = pci_address(device_->bus_id);
    read_topology(rec);

    const Made made = rec->interface_type == VX_PORT_PHYSICAL ? physical(rec, chip) : virtual_port(rec, chip);
    if (made != Made::Port) return made;
    vxsysfs_print_priv_data(rec);
    ++*count_;
    ++*index_;
    ++host_index_;
    return Made::Port;
}

Made DeviceWalk::physical(vxapi_priv_database* rec, const EXT_CHIP& chip) {
    const bool existed = api_phy_info != nullptr && vxapi_get_api_phy_info_inst(&chip) != nullptr;
    vxapi_phy_info* phy = nullptr;
    if (vxapi_alloc_api_phy_info_mem(&phy, &chip) != 0 || phy == nullptr) {
        return out_of_memory(">> mem alloc failed, exiting");
    }
    rec->phy_info = phy;
    std::memset(phy->model, 0, sizeof phy->model);
    std::memcpy(phy->model, driver_->name, strnlen(driver_->name, sizeof phy->model - 1));
    vxsysfs_get_device_phy_info_attributes(device_, phy);
    phy->pci_domain = chip.DomainNr;
    phy->pci_bus = chip.PciBusNumber;
    phy->pci_dev_func = chip.PciDevFunc;
    if (vx_chip(phy->device_id) == nullptr) {
        vxdbg_line(VXDBG_SYSFS, ">> unsupported device=", phy->device_id, VXDBG_HEX);
        vxapi_free_api_priv_data_element(rec);
        if (!existed) vxapi_free_api_phy_info_element(phy);
        return Made::DeviceDropped;
    }
    // Layout chips read their flash layout here: on a port whose flash cannot
    // be read yet the failure is traced and the port kept.
    if (attach_.read_layout(rec->oshandle, rec) != 0) trace(">> set option rom layout failed.");
    // A maximum that did not come stays 0 here; the information call reads
    // it again and fails rather than report one.
    if (vxsysfs_get_max_vports(rec->host_no, &phy->max_vports) != VxAttrAnswer::Came) {
        trace(">> max_npiv_vports not read.");
    }

    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(rec->host_no));
    auto* serial = reinterpret_cast<char*>(phy->serial_num);
    serial[0] = '\0';
    if (vxsysfs_path_append(path, end, "serial_num") != nullptr) {
        vxsysfs_get_str_attr(path, serial, sizeof phy->serial_num);
    }
    if (serial[0] == '\0') {
        // One byte short of the field, so that a VPD field that fills what
        // it is given still leaves the text terminated. Always 0: a serial
        // number that is not found stays empty.
        (void)vxsysfs_get_field_from_vpd(rec, phy->serial_num, sizeof phy->serial_num - 1,
                                         reinterpret_cast<const uint8_t*>("SN"), 2);
        phy->serial_num[sizeof phy->serial_num - 1] = 0;
    }
    vxapi_fill_phy_port_number(rec);
    attach_.read_versions(rec->oshandle, rec);
    return Made::Port;
}

Made DeviceWalk::virtual_port(vxapi_priv_database* rec, const EXT_CHIP& chip) {
    rec->phy_info = vxapi_get_api_phy_info_inst(&chip);
    if (rec->phy_info == nullptr) {
        trace(">> get phy info failed for vport.");
        vxapi_free_api_priv_data_element(rec);
        return Made::Skipped;
    }
    rec->parent = vxapi_get_phy_port_from_vport(rec);
    if (rec->parent == nullptr) {
        trace(">> get phy port failed for vport.");
        vxapi_free_api_priv_data_element(rec);
        return Made::Skipped;
    }
    VxAttrAnswer answer;
    rec->vp_idx = vxsysfs_get_vport_id(rec->phy_info, rec->host_no, &answer);
    // A virtual port whose driver id did not come cannot be named: an index
    // of the library's own could be the id the driver gave another one.
    if (answer != VxAttrAnswer::Came && answer != VxAttrAnswer::Absent) {
        trace(">> vport id not read, vport dropped.");
        vxapi_free_api_priv_data_element(rec);
        return Made::Skipped;
    }
    return Made::Port;
}

void trace_device(struct sysfs_device* dev) {
    trace2(">> id:", dev->bus_id);
    trace2(">> device:", dev->name);
    trace2(">> path:", dev->path);
    trace2(">> bus:", dev->bus);
    trace2(">> driver:", dev->driver_name);
}

// Adds every "host<N>" entry of the directory to the host list. False when
// the list broke down.
bool add_hosts_of(Dlist* entries) {
    char* name = nullptr;
    dlist_for_each_data(entries, name, char) {
        if (!starts_with(name, "host")) continue;
        // The number itself is not needed here; a failure shows as the list gone.
        (void)vxsysfs_add_hostno_in_host_no_list(name);
        if (host_no_list == nullptr) return false;
    }
    return true;
}

// The hosts under host<N>: those of its virtual ports, then its own. False
// when a directory could not be listed (the collection ends there).
bool collect_under_host(const char* device_path, uint32_t host_no) {
    char dir[VXSYSFS_PATH_SIZE];
    if (!format(dir, sizeof dir, "%s/%s%u/", device_path, "host", host_no)) return false;
    EntryList entries(dir, false);
    if (entries.get() == nullptr) return false;
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%s-%u:", "vport", host_no);
    char* name = nullptr;
    dlist_for_each_data(entries.get(), name, char) {
        if (!starts_with(name, prefix)) continue;
        char vport[VXSYSFS_PATH_SIZE];
        if (!format(vport, sizeof vport, "%s/%s%u/%s/", device_path, "host", host_no, name)) return false;
        EntryList vhosts(vport, false);
        if (vhosts.get() == nullptr || !add_hosts_of(vhosts.get())) return false;
    }
    return add_hosts_of(entries.get());
}

}  // namespace

// ---------------------------------------------------------------- discovery

int vxsysfs_init() {
    std::memset(sysfs_mnt_path, 0, sizeof sysfs_mnt_path);
    if (vx::sys().sysfs_get_mnt_path(sysfs_mnt_path, sizeof sysfs_mnt_path) != 0) {
        // Nothing half-written stays behind for the path builders.
        std::memset(sysfs_mnt_path, 0, sizeof sysfs_mnt_path);
        vxdbg_line(VXDBG_ERROR, "> sysfs not mounted");
        return 1;
    }
    return 0;
}

int vxsysfs_supported_driver_exist(uint32_t* counter, const VxPortAttach& attach) {
    uint32_t count = counter != nullptr ? *counter : 0;
    uint32_t index = 0;
    struct sysfs_bus* bus = vx::sys().sysfs_open_bus("pci");
    if (bus == nullptr) {
        vxdbg_line(VXDBG_ERROR, "> no pci bus");
        return 0;
    }
    for (const char* name : driver_names) {
        struct sysfs_driver* driver = vx::sys().sysfs_get_bus_driver(bus, name);
        if (driver == nullptr) continue;
        trace2("> found ", name, " driver");
        trace2(" path==", driver->path);
        // A driver whose walk ran out of memory has freed every record and
        // set the count to 0; the next driver's walk still runs.
        (void)vxsysfs_get_driver_devices(driver, &count, &index, attach);
    }
    if (counter != nullptr) *counter = count;
    vxdbg_line(VXDBG_SYSFS, "api_inst==", count, VXDBG_DEC);
    vx::sys().sysfs_close_bus(bus);
    return 0;
}

int vxsysfs_get_driver_devices(struct sysfs_driver* driver, uint32_t* count, uint32_t* index,
                               const VxPortAttach& attach) {
    Dlist* devices = vx::sys().sysfs_get_driver_devices(driver);
    if (devices == nullptr) {
        trace2("> ", driver->name, " is not used");
        return 0;
    }
    trace2("> ", driver->name, " is used by:");
    struct sysfs_device* dev = nullptr;
    dlist_for_each_data(devices, dev, struct sysfs_device) {
        trace_device(dev);
        HostListScope scope;
        vxsysfs_collect_hostno_list_from_devices_path(dev);
        if (host_no_list == nullptr) {
            trace(">> host number list failed, ignoring this device");
            continue;
        }
        DeviceWalk walk(driver, dev, count, index, attach);
        uint32_t* host = nullptr;
        dlist_for_each_data(host_no_list, host, uint32_t) {
            const Made made = walk.port(*host);
            if (made == Made::OutOfMemory) return 1;
            if (made == Made::DeviceDropped) break;
        }
    }
    return 0;
}

void vxsysfs_collect_hostno_list_from_devices_path(struct sysfs_device* device) {
    EntryList entries(device->path, false);
    if (entries.get() == nullptr) return;
    // The host directly under the function is its physical port: it leads
    // the list whatever its number, the others follow in ascending order.
    uint32_t* physical = nullptr;
    char* name = nullptr;
    dlist_for_each_data(entries.get(), name, char) {
        if (!starts_with(name, "host")) continue;
        const bool first = physical == nullptr && host_no_list == nullptr;
        const uint32_t host_no = vxsysfs_add_hostno_in_host_no_list(name);
        if (host_no_list == nullptr) return;
        if (first) physical = host_array;
        if (!collect_under_host(device->path, host_no)) break;
    }
    if (physical == nullptr || host_no_list == nullptr) return;
    DL_node* node = nullptr;
    dlist_for_each_nomark(host_no_list, node) {
        if (node->data == physical) {
            _dlist_remove(host_no_list, node, 0);
            dlist_unshift(host_no_list, physical);
            break;
        }
    }
}

uint32_t vxsysfs_add_hostno_in_host_no_list(const char* name) {
    const auto host_no = static_cast<uint32_t>(std::strtoul(name + 4, nullptr, 10));
    if (host_no_list != nullptr) {
        // A host seen twice (under its virtual port and again directly) is one host.
        uint32_t* seen = nullptr;
        dlist_for_each_data(host_no_list, seen, uint32_t) {
            if (*seen == host_no) return host_no;
        }
    }
    host_array = static_cast<uint32_t*>(std::calloc(1, sizeof(uint32_t)));
    const char* failure = nullptr;
    if (host_array == nullptr) {
        failure = "> Unable to allocate memory -- host_array";
    } else if (host_no_list == nullptr && (host_no_list = dlist_new(sizeof(uint32_t))) == nullptr) {
        failure = "> Unable to allocate memory -- host_no_list";
    } else {
        *host_array = host_no;
        if (dlist_insert_sorted(host_no_list, host_array, vxsysfs_is_new_node_smaller) == nullptr) {
            failure = "> Unable to insert node in host_no_list";
        }
    }
    if (failure != nullptr) {
        trace(failure);
        std::free(host_array);
        host_array = nullptr;
        if (host_no_list != nullptr) dlist_destroy(host_no_list);
        host_no_list = nullptr;
        return host_no;
    }
    vxdbg_line(VXDBG_SYSFS, "> Added host in  host_no_list, host_no=", host_no, VXDBG_DEC);
    return host_no;
}

int vxsysfs_is_new_node_smaller(void* new_node, void* old_node) {
    return *static_cast<uint32_t*>(new_node) < *static_cast<uint32_t*>(old_node) ? 1 : 0;
}

void vxsysfs_is_chunking_supported(struct sysfs_device* device, vxapi_priv_database* rec) {
    char path[VXSYSFS_PATH_SIZE];
    struct sysfs_attribute* ctl = nullptr;
    if (format(path, sizeof path, "%s/host%u/%s", device->path, rec->host_no, "optrom_ctl")) {
        ctl = vx::sys().sysfs_open_attribute(path);
    }
    if (ctl == nullptr) {
        // Nothing was asked, so nothing was refused: no chunking.
        trace("> Failed get control");
    } else {
        if (vx::sys().sysfs_write_attribute(ctl, "4", 2) != 0) rec->features |= VX_FEAT_FLASH_CHUNKS;
        vx::sys().sysfs_close_attribute(ctl);
    }
    vxdbg_line(VXDBG_SYSFS, "> Is chunking supported=", rec->features & VX_FEAT_FLASH_CHUNKS, VXDBG_HEX);
}

void vxsysfs_get_device_attributes(struct sysfs_device* device, vxapi_priv_database* rec) {
    (void)device;
    // The port is kept; the calls that report its names read them again.
    if (read_port_names(rec) != VxAttrAnswer::Came) {
        trace(">> port names not read.");
        rec->port_flags |= VX_PORT_FLAG_NAMES_UNKNOWN;
    }
}

VxAttrAnswer vxsysfs_port_with_names(const vxapi_priv_database* rec, vxapi_priv_database* own) {
    {
        VxListLock lock(vxapi_list_mutex());  // the event thread changes listed records
        *own = *rec;
    }
    if ((own->port_flags & VX_PORT_FLAG_NAMES_UNKNOWN) == 0) return VxAttrAnswer::Came;
    return read_port_names(own);
}

VxAttrAnswer vxsysfs_get_max_vports(uint32_t host_no, uint16_t* max) {
    *max = 0;
    VxAttrAnswer answer;
    uint32_t value = host_int_attr(true, host_no, "max_npiv_vports", &answer, UINT16_MAX);
    if (answer == VxAttrAnswer::Absent || (answer == VxAttrAnswer::Came && value == 0)) {
        value = host_int_attr(false, host_no, "max_npiv_vports", &answer, UINT16_MAX);
    }
    if (answer == VxAttrAnswer::Came) *max = static_cast<uint16_t>(value);
    return answer;
}

void vxsysfs_get_device_phy_info_attributes(struct sysfs_device* device, vxapi_phy_info* phy) {
    const struct {
        const char* name;
        uint16_t* field;
    } ids[] = {{"device", &phy->device_id},
               {"vendor", &phy->vendor_id},
               {"subsystem_device", &phy->ssdevice_id},
               {"subsystem_vendor", &phy->ssvendor_id}};
    for (const auto& id : ids) {
        struct sysfs_attribute* attr = vx::sys().sysfs_get_device_attr(device, id.name);
        if (attr == nullptr || attr->value == nullptr) continue;
        const std::string value(attr->value, attr->len);
        *id.field = static_cast<uint16_t>(std::strtoul(value.c_str(), nullptr, 16));
    }
}

// ---------------------------------------------------------------- virtual ports

uint32_t vxsysfs_get_set_vport_id(vxapi_phy_info* phy) {
    VxListLock lock(vxapi_list_mutex());
    // An index handed out must name one port only: the ids that the driver
    // gave the function's virtual ports are not in the map, so skip them too.
    uint8_t held[sizeof phy->vp_map];
    std::memcpy(held, phy->vp_map, sizeof held);
    mark_listed_vport_ids(phy, held);
    for (uint32_t index = 1; index <= kVportIndexes; ++index) {
        if ((byte_of(held, index) & bit_of(index)) == 0) {
            byte_of(phy->vp_map, index) |= bit_of(index);
            return index;
        }
    }
    return 0;
}

void vxsysfs_clear_vport_id(vxapi_phy_info* phy, uint32_t index) {
    // Only indexes the map has: anything else would reach past it.
    if (phy == nullptr || index < 1 || index > kVportIndexes) return;
    VxListLock lock(vxapi_list_mutex());
    byte_of(phy->vp_map, index) &= static_cast<uint8_t>(~bit_of(index));
}

uint32_t vxsysfs_get_vport_id(vxapi_phy_info* phy, uint32_t host_no, VxAttrAnswer* answer) {
    VxAttrAnswer read = VxAttrAnswer::Absent;
    uint64_t id = 0;
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_host_path(path, static_cast<uint16_t>(host_no));
    if (vxsysfs_path_append(path, end, "vport_id") != nullptr) id = vxsysfs_get_long_attr(path, &read);
    // 0 names the physical port: no virtual port has it.
    if (read == VxAttrAnswer::Came && id == 0) read = VxAttrAnswer::NotNumber;
    if (read == VxAttrAnswer::Came && id > UINT32_MAX) read = VxAttrAnswer::TooLarge;
    if (answer != nullptr) *answer = read;
    if (read == VxAttrAnswer::Absent) return vxsysfs_get_set_vport_id(phy);
    return read == VxAttrAnswer::Came ? static_cast<uint32_t>(id) : 0;
}

int vxsysfs_is_vhost_no_wwpn_match(uint32_t host_no, const uint8_t* wwpn) {
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_fc_host_path(path, static_cast<uint16_t>(host_no));
    uint8_t name[8] = {};
    VxAttrAnswer answer = VxAttrAnswer::Absent;
    if (vxsysfs_path_append(path, end, "port_name") != nullptr) {
        vxsysfs_get_hex_attr(path, name, sizeof name, &answer);
    }
    // A name that did not come matches no WWPN.
    return answer == VxAttrAnswer::Came && std::memcmp(name, wwpn, sizeof name) == 0 ? 0 : 1;
}

uint32_t vxsysfs_get_vport_host_no(const uint8_t* wwpn) {
    char path[VXSYSFS_PATH_SIZE];
    vxsysfs_get_fc_host(path);
    EntryList entries(path);
    if (entries.get() == nullptr) return 0;
    char* name = nullptr;
    dlist_for_each_data(entries.get(), name, char) {
        if (!starts_with(name, "host")) continue;
        const auto host_no = static_cast<uint32_t>(std::strtoul(name + 4, nullptr, 10));
        if (vxsysfs_is_vhost_no_wwpn_match(host_no, wwpn) == 0) return host_no;
    }
    return 0;
}

// ---------------------------------------------------------------- driver version, generic nodes

int vxsysfs_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status) {
    if (response == nullptr || status == nullptr) return 1;
    auto* data = static_cast<EXT_LN_DRIVER_DATA*>(response);
    std::memset(data, 0, sizeof *data);
    EXT_DRIVER driver{};
    uint32_t driver_status = 0;
    const int rc = vxsysfs_query_driver(fd, rec, &driver, &driver_status);
    *status = driver_status;
    if (driver_status != 0) return rc;
    char version[sizeof driver.Version + 1] = {};
    std::memcpy(version, driver.Version, sizeof driver.Version);
    EXT_LN_DRV_VERSION& v = data->DrvVer;
    std::sscanf(version, "%2hhd . %2hhd . %2hhd b %2hhd", reinterpret_cast<signed char*>(&v.Major),
                reinterpret_cast<signed char*>(&v.Minor), reinterpret_cast<signed char*>(&v.Patch),
                reinterpret_cast<signed char*>(&v.Beta));
    if (vxdbg_on(VXDBG_SYSFS)) {
        vxdbg_print("V", v.Major, VXDBG_DEC, 0);
        vxdbg_print(".", v.Minor, VXDBG_DEC, 0);
        vxdbg_print(".", v.Patch, VXDBG_DEC, 0);
        vxdbg_print("b", v.Beta, VXDBG_DEC, 1);
    }
    data->Flags |= VXSYSFS_DRIVER_FLAG_VERSION;
    return 0;
}

int vxsysfs_open(const char* name, uint8_t opcode) {
    char path[VXSYSFS_PATH_SIZE];
    if (!format(path, sizeof path, "/dev/%s", name != nullptr ? name : "")) {
        vxdbg_line(VXDBG_SYSFS, "Open generic failed");
        return -1;
    }
    int flags = O_NONBLOCK | O_RDWR;
    for (uint8_t op : kReadOnlyOpcodes) {
        if (op == opcode) flags = O_NONBLOCK | O_RDONLY;
    }
    const int fd = vx::sys().open(path, flags | O_CLOEXEC);
    if (fd < 0) vxdbg_line(VXDBG_SYSFS, "Open generic failed");
    return fd;
}

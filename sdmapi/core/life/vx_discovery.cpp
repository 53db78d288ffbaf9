// Discovery of the adapter ports behind the driver's ioctl interface.
//
// A run succeeds in the caller's eyes when it added ports (told by the
// instance counter), not by its result: a run can find ports and still end
// on a failed attempt, when the driver's count exceeds the instances that
// can be selected. Records are only ever freed by the run that made them, so
// a later run never takes away the ports of an earlier one. The exception is
// memory exhaustion: the record allocators then release their whole list,
// and the run releases the other list with it so no record points into
// freed memory.
//
// The walks added here to tell whether a function record is still in use
// leave the list's cursor alone: the order of the port list, which the
// cursor gives, is the same as without them.
#include "core/life/vx_discovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/vx_chips.h"
#include "base/vx_env.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "base/vx_vpd_fields.h"
#include "core/flash/vx_nvram_vpd.h"
#include "core/io/vx_query.h"
#include "core/life/vx_port_attach.h"
#include "platform/vx_platform.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_sysfs_prim.h"

namespace {

constexpr uint8_t kSerialMaskLater = 0x3F;  // computed serial of the later chips
constexpr uint8_t kSerialMaskOlder = 0x1F;  // computed serial of every other chip

constexpr size_t kDevFileRead = 80;   // bytes of the class "dev" file read
constexpr size_t kDevicesLine = 100;  // characters of a "/proc/devices" line looked at

constexpr mode_t kNodeMode = S_IFCHR | 0600;

constexpr uint16_t kHostsUnknown = VX_MAX_DRIVER_INSTANCES;

// One trace line assembled bit by bit, printed only when its bits are on.
class Trace {
public:
    explicit Trace(uint32_t bits) : on_(vxdbg_on(bits)) {}
    Trace& text(const char* s) {
        if (on_) vxdbg_print(s, 0, VXDBG_NONE, 0);
        return *this;
    }
    Trace& num(uint64_t value, uint8_t base = VXDBG_DEC) {
        if (on_) vxdbg_print("", value, base, 0);
        return *this;
    }
    void end(const char* s = "") {
        if (on_) vxdbg_print(s, 0, VXDBG_NONE, 1);
    }

private:
    bool on_;
};

// The two roads: the new driver and the old ones.
struct Road {
    bool new_driver;
    const char* run_name;   // the discovery run, for the trace
    const char* open_name;  // the open of one instance, for the trace
};

constexpr Road kNewRoad{true, "vxapi_find_all_instances_n", "vxapi_open_device_n"};
constexpr Road kOldRoad{false, "vxapi_find_all_instances_o", "vxapi_open_device_o"};

// A descriptor closed at the end of the scope unless released.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) vx::sys().close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

template <size_t N>
void copy_text(uint8_t (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::snprintf(reinterpret_cast<char*>(field), N, "%s", text != nullptr ? text : "");
}

// ---------------------------------------------------------------- the node

// The driver's device numbers from its class "dev" file ("major:minor").
// 1 read, 0 the file is there but holds no numbers, -1 no such file.
int numbers_from_class_file(const char* driver_name, unsigned* maj, unsigned* min) {
    char path[VX_NODE_PATH_SIZE];
    std::snprintf(path, sizeof path, "/sys/class/%s/%s/dev", driver_name, driver_name);
    Fd file(vx::sys().open(path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return -1;
    char text[kDevFileRead + 1] = {};
    const ssize_t n = vx::sys().read(file.get(), text, kDevFileRead);
    if (n <= 0) return 0;
    int a = -1;
    int b = -1;
    if (std::sscanf(text, "%d:%d", &a, &b) != 2 || a < 0 || b < 0) return 0;
    *maj = static_cast<unsigned>(a);
    *min = static_cast<unsigned>(b);
    return 1;
}

// The major number of the last "/proc/devices" line naming the driver (0:
// none), or -1 when the file cannot be read. Only the first 100 characters
// of a line count; the rest of a longer line is skipped, not read as a line
// of its own.
long major_from_proc_devices(const char* driver_name) {
    FILE* f = vx::sys().fopen("/proc/devices", "re");
    if (f == nullptr) return -1;
    long found = 0;
    char line[kDevicesLine + 1];
    bool line_start = true;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        const bool whole = std::strchr(line, '\n') != nullptr;
        if (line_start && std::strstr(line, driver_name) != nullptr) found = std::strtol(line, nullptr, 10);
        line_start = whole;
    }
    std::fclose(f);
    return found;
}

}  // namespace

int vxapi_charnode_exist(char* charnode_name, const char* driver_name) {
    if (charnode_name == nullptr || driver_name == nullptr) return 0;
    unsigned maj = 0;
    unsigned min = 0;
    const int from_class = numbers_from_class_file(driver_name, &maj, &min);
    if (from_class == 0) return 0;
    if (from_class < 0) {
        const long found = major_from_proc_devices(driver_name);
        if (found < 0) {
            // Neither file: only the vmkdriver node of VMware ESX remains.
            char esx[VX_NODE_PATH_SIZE];
            std::snprintf(esx, sizeof esx, "/dev/char/vmkdriver/%s", driver_name);
            Fd node(vx::sys().open(esx, O_RDONLY | O_CLOEXEC));
            if (node.get() < 0 || OS_Type != VX_OS_ESX) return 0;
            std::snprintf(charnode_name, VX_NODE_PATH_SIZE, "/dev/char/vmkdriver/%s", driver_name);
            return 1;
        }
        if (found == 0 || found > 0xFFFFFFFFL) return 0;
        maj = static_cast<unsigned>(found);
        min = 0;
    }

    {
        Fd node(vx::sys().open(charnode_name, O_RDWR | O_CLOEXEC));
        if (node.get() >= 0) {
            struct stat st {};
            if (vx::sys().fstat(node.get(), &st) != 0) return 0;
            if (major(st.st_rdev) == maj && minor(st.st_rdev) == min) {
                vxdbg_line(VXDBG_STEP, "vxapi_charnode_exist: char file exists and matches");
                return 1;
            }
        }
    }

    // No usable node: the one standing there goes, and is made afresh with
    // the driver's numbers. A zero device number names no driver: no node
    // is made, so none with other numbers is left to be taken for the driver's.
    vx::sys().unlink(charnode_name);
    const dev_t dev = makedev(maj, min);
    if (dev == 0) return 0;
    // A node that could not be made may still be the old one, with numbers
    // of another device: never take that one.
    if (vx::sys().mknod(charnode_name, kNodeMode, dev) != 0) {
        const auto err = static_cast<uint32_t>(errno);
        Trace(VXDBG_ERROR).text("vxapi_charnode_exist: mknod failed. errno=").num(err).end();
        return 0;
    }
    Fd node(vx::sys().open(charnode_name, O_RDWR | O_CLOEXEC));
    return node.get() >= 0 ? 1 : 0;
}

namespace {

// ---------------------------------------------------------------- one instance

int open_device(const Road& road, vxapi_priv_database* rec, uint16_t drvr_inst, uint16_t api_inst, int* handle,
                const char* hba_path, uint16_t* host_no, uint16_t* num_hosts) {
    if (handle != nullptr) *handle = -1;
    if (host_no != nullptr) *host_no = 0;
    const auto trace = [&road, api_inst]() -> Trace {
        Trace t(VXDBG_ERROR);
        t.text(road.open_name).text("(").num(api_inst).text(")");
        return t;
    };

    Fd node(hba_path != nullptr ? vx::sys().open(hba_path, O_RDWR | O_CLOEXEC) : -1);
    if (node.get() < 0) {
        const int err = errno;
        trace().end(": HbaApiNode open error.");
        if (road.new_driver) return 1;
        // The old driver's one node serves every instance: without it the
        // run ends (the run traces the errno left here).
        errno = err;
        return 2;
    }

    // The count is asked with an all-zero header; the driver answers in the
    // header's Instance field.
    EXT_IOCTL hdr_n{};
    EXT_IOCTL_O hdr_o{};
    void* hdr = road.new_driver ? static_cast<void*>(&hdr_n) : static_cast<void*>(&hdr_o);
    if (sdm_ioctl(node.get(), vx_ioctl_code(EXT_CC_GET_HBA_CNT), hdr, rec) != 0) {
        const int err = errno;
        trace().text(": CC_GET_HBA_CNT ioctl failed. errno=").num(static_cast<uint32_t>(err)).end();
        return 1;
    }
    const uint32_t status = road.new_driver ? hdr_n.Status : hdr_o.Status;
    if (status != 0) {
        trace().end(": EXT_CC_GET_HBA_CNT ERROR.");
        return 1;
    }
    const uint16_t count = road.new_driver ? hdr_n.Instance : hdr_o.Instance;
    if (num_hosts != nullptr) *num_hosts = count;
    if (api_inst >= count) {
        trace().text(": invalid instance. Total inst = ").num(count).end();
        return 1;
    }

    uint32_t select_status = 0;
    uint16_t selected_host = 0;
    if (vxapi_set_instance(node.get(), drvr_inst, rec, &select_status, &selected_host) != 0) {
        trace().text(": invalid instance. Total inst = ").num(count).end();
        return 1;
    }
    if (select_status != 0) {
        trace().text(": inst = ").num(drvr_inst).end();
        return 1;
    }
    if (host_no != nullptr) *host_no = selected_host;
    if (handle != nullptr) *handle = node.release();
    return 0;
}

// ---------------------------------------------------------------- one run

// Where the fields that a run reads of the driver's records end. Node: the
// name, the serial bytes, the driver version (of the "vm" port count rule),
// the port count, the interface type and the driver attributes. Port: the
// name and identifier, and on the new driver's road the state and the
// topology. Chip: the PCI ids, bus, function and domain.
constexpr uint32_t kNodeRead = offsetof(EXT_HBA_NODE, DriverAttr) + sizeof(EXT_HBA_NODE::DriverAttr);
constexpr uint32_t kPortReadNew = offsetof(EXT_HBA_PORT, Topology) + sizeof(EXT_HBA_PORT::Topology);
constexpr uint32_t kPortReadOld = offsetof(EXT_HBA_PORT, Id) + sizeof(EXT_HBA_PORT::Id);
constexpr uint32_t kChipRead = offsetof(EXT_CHIP, DomainNr) + sizeof(EXT_CHIP::DomainNr);
// The node's Reserved area, read for the serial number of some boards only,
// lies past the fields above and counts only when it came whole.
constexpr uint32_t kNodeReservedRead = offsetof(EXT_HBA_NODE, Reserved) + sizeof(EXT_HBA_NODE::Reserved);
static_assert(kNodeRead == 660 && kNodeReservedRead == sizeof(EXT_HBA_NODE));
static_assert(offsetof(EXT_HBA_NODE, WWNN) < kNodeRead && offsetof(EXT_HBA_NODE, SerialNum) < kNodeRead &&
              offsetof(EXT_HBA_NODE, DriverVersion) < kNodeRead && offsetof(EXT_HBA_NODE, PortCount) < kNodeRead &&
              offsetof(EXT_HBA_NODE, InterfaceType) < kNodeRead);
static_assert(kPortReadNew == 48 && offsetof(EXT_HBA_PORT, State) < kPortReadNew && kPortReadOld == 12);
static_assert(kChipRead == 52 && offsetof(EXT_CHIP, PciBusNumber) < kChipRead &&
              offsetof(EXT_CHIP, PciDevFunc) < kChipRead && offsetof(EXT_CHIP, SubSystemId) < kChipRead);

// Statuses 7 and 8 (data overrun and underrun) still carry the record, but
// a record is taken only when the fields read of it (the first `read` bytes)
// came; one short of them counts as no answer.
bool accepted(int rc, uint32_t status, uint32_t delivered, uint32_t read) {
    return rc == 0 && delivered >= read &&
           (status == EXT_STATUS_OK || status == EXT_STATUS_DATA_OVERRUN || status == EXT_STATUS_DATA_UNDERRUN);
}

// Drivers older than these lack the features behind bits 0x40 and 0x100:
// below 7; 7.0 to 7.6 and 7.7 below patch 6; 8.0, and 8.1 below patch 7.
bool driver_predates_features(const EXT_LN_DRV_VERSION& v) {
    if (v.Major < 7) return true;
    if (v.Major == 7) return v.Minor <= 6 || (v.Minor == 7 && v.Patch < 6);
    if (v.Major == 8) return v.Minor == 0 || (v.Minor == 1 && v.Patch < 7);
    return false;
}

// The serial number computed from the node record's serial bytes: a letter
// for the hundred-thousands, then five digits (123456 gives "B23456").
void compute_serial(vxapi_phy_info* info, const EXT_HBA_NODE& node, uint8_t mask) {
    const uint32_t n = (static_cast<uint32_t>(node.SerialNum[0] & mask) << 16) +
                       (static_cast<uint32_t>(node.SerialNum[2]) << 8) + node.SerialNum[1];
    std::memset(info->serial_num, 0, sizeof info->serial_num);
    std::snprintf(reinterpret_cast<char*>(info->serial_num), sizeof info->serial_num, "%c%05u",
                  static_cast<char>('A' + n / 100000), static_cast<unsigned>(n % 100000));
}

// The node record's 8-byte Reserved area as text: up to 8 characters, ending
// at the first NUL.
void reserved_serial(vxapi_phy_info* info, const EXT_HBA_NODE& node) {
    char text[sizeof node.Reserved + 1] = {};
    std::memcpy(text, node.Reserved, sizeof node.Reserved);
    std::memset(info->serial_num, 0, sizeof info->serial_num);
    std::memcpy(info->serial_num, text, std::strlen(text));
}

// Whether a port record other than `self` uses the function record. Leaves
// the list's cursor where it is.
bool function_in_use(const vxapi_phy_info* info, const vxapi_priv_database* self) {
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return false;
    DL_node* node = nullptr;
    dlist_for_each_nomark(api_priv_database, node) {
        const auto* rec = static_cast<const vxapi_priv_database*>(node->data);
        if (rec != self && rec->phy_info == info) return true;
    }
    return false;
}

// The records one run made, so that the run can take back its own and none
// of an earlier run's.
class RunRecords {
public:
    void add_port(vxapi_priv_database* rec) { ports_.push_back(rec); }
    void add_function(vxapi_phy_info* info) { functions_.push_back(info); }

    // Drops a port of this run; its function record goes too when this run
    // made it and no other port uses it.
    void drop_port(vxapi_priv_database* rec) {
        vxapi_phy_info* info = rec->phy_info;
        ports_.erase(std::remove(ports_.begin(), ports_.end(), rec), ports_.end());
        vxapi_free_api_priv_data_element(rec);
        if (info != nullptr) drop_function_if_unused(info);
    }

    // Everything this run made.
    void drop_all() {
        while (!ports_.empty()) drop_port(ports_.back());
        while (!functions_.empty()) drop_function_if_unused(functions_.back(), true);
    }

    // After an allocator released a whole list: nothing of either list may
    // stay, since the records of the one point into the other.
    void abandon_everything() {
        ports_.clear();
        functions_.clear();
        vxapi_free_api_priv_data_mem();
        vxapi_free_api_phy_info_mem();
    }

private:
    void drop_function_if_unused(vxapi_phy_info* info, bool forget_anyway = false) {
        auto it = std::find(functions_.begin(), functions_.end(), info);
        if (it == functions_.end()) return;
        if (!function_in_use(info, nullptr)) {
            functions_.erase(it);
            vxapi_free_api_phy_info_element(info);
        } else if (forget_anyway) {
            functions_.erase(it);
        }
    }

    std::vector<vxapi_priv_database*> ports_;
    std::vector<vxapi_phy_info*> functions_;
};

// How one attempt at a driver instance ended.
enum class Step { Taken, Skipped, Ended, Abandoned };

class Run {
public:
    Run(const Road& road, const char* driver_name, const char* path, uint16_t api_inst)
        : road_(road), driver_name_(driver_name), path_(path), api_inst_(api_inst) {}

    int go(uint32_t* start_inst) {
        // The ports are looked for on an ioctl road: the sysfs switch an
        // earlier load left on is not this load's.
        vxapi_legacy_sysfs_mode(false);
        const uint16_t first = api_inst_;
        while (api_inst_ < num_hosts_ && drvr_inst_ < VX_MAX_DRIVER_INSTANCES) {
            const Step step = attempt();
            if (step == Step::Abandoned) {
                if (start_inst != nullptr) *start_inst = 0;
                return 1;
            }
            if (step == Step::Ended) {
                made_.drop_all();
                return 1;
            }
            if (step == Step::Taken) ++api_inst_;
            ++drvr_inst_;
        }
        if (api_inst_ != first && start_inst != nullptr) *start_inst = api_inst_;
        return result_;
    }

private:
    Trace trace_inst(uint32_t bits, const char* text) const {
        Trace t(bits);
        t.text(road_.run_name).text(text).num(api_inst_);
        return t;
    }

    Step attempt();
    void fill_from_queries(vxapi_priv_database* rec, int fd, EXT_HBA_NODE* node);
    Step attach_function(vxapi_priv_database* rec, int fd, const EXT_CHIP& chip, const EXT_HBA_NODE& node);
    void apply_version_gate(vxapi_priv_database* rec, const EXT_LN_DRIVER_DATA& drv);

    const Road& road_;
    const char* driver_name_;
    const char* path_;
    uint16_t api_inst_;
    uint16_t drvr_inst_ = 0;
    uint16_t num_hosts_ = kHostsUnknown;
    bool new_features_supported_ = true;
    int result_ = 1;  // a driver that reports no host gives 1
    RunRecords made_;
};

Step Run::attempt() {
    vxapi_priv_database* rec = nullptr;
    if (vxapi_alloc_api_priv_data_mem(&rec) != 0) {
        trace_inst(VXDBG_ERROR, ": inst=").end(" mem alloc failed, exiting");
        made_.abandon_everything();
        return Step::Abandoned;
    }
    made_.add_port(rec);
    if (road_.new_driver) rec->features |= VX_FEAT_NEW_IOCTL;

    int handle = -1;
    uint16_t host_no = 0;
    uint16_t reported_hosts = num_hosts_;
    const auto open_device_fn = road_.new_driver ? vxapi_open_device_n : vxapi_open_device_o;
    const int opened = open_device_fn(rec, drvr_inst_, api_inst_, &handle, path_, &host_no, &reported_hosts);
    const int open_errno = errno;
    // The first port fixes the number of hosts for the run.
    if (api_inst_ == 0) num_hosts_ = reported_hosts;
    Fd fd(handle);
    if (opened == 2) {
        trace_inst(VXDBG_ERROR, ": inst=")
            .text(" device open failed, errno=")
            .num(static_cast<uint32_t>(open_errno))
            .end();
        made_.drop_port(rec);
        return Step::Ended;
    }
    if (opened != 0 || fd.get() < 0) {
        result_ = 1;
        made_.drop_port(rec);
        return Step::Skipped;
    }
    result_ = 0;

    // Known from the open: filled whatever the driver answers below, so that
    // the port is never left without its path.
    std::snprintf(reinterpret_cast<char*>(rec->phys_path), sizeof rec->phys_path, "%s", path_);
    rec->drvr_inst = drvr_inst_;
    rec->host_no = host_no;

    // A failed request reads as version 0 with no flags, never as stale bytes.
    EXT_LN_DRIVER_DATA drv{};
    uint32_t status = 0;
    const int spec_rc = vxapi_get_driver_specifics(fd.get(), rec, &drv, &status);
    if (spec_rc == 0 && status == 0) {
        rec->features |= VX_FEAT_IOCTL;
        trace_inst(VXDBG_STEP, ": inst=")
            .text(" got driver version=")
            .num(drv.DrvVer.Major)
            .text(".")
            .num(drv.DrvVer.Minor)
            .text(".")
            .num(drv.DrvVer.Patch)
            .text("b")
            .num(drv.DrvVer.Beta)
            .end();
    } else {
        rec->features &= ~VX_FEAT_IOCTL;
        drv = EXT_LN_DRIVER_DATA{};
        trace_inst(VXDBG_ERROR, ": inst=")
            .text(" specifics ioctl failed. stat=")
            .num(status, VXDBG_HEX)
            .text(" ret_ioctl=")
            .num(static_cast<uint32_t>(spec_rc), VXDBG_INT)
            .end();
    }

    EXT_HBA_NODE node{};
    fill_from_queries(rec, fd.get(), &node);

    EXT_CHIP chip{};
    status = 0;
    uint32_t delivered = 0;
    const int chip_rc = vxapi_query_chip(fd.get(), rec, &chip, &status, &delivered);
    if (!accepted(chip_rc, status, delivered, kChipRead)) {
        trace_inst(VXDBG_ERROR, "(").text("): chip ioctl failed. stat=").num(status, VXDBG_HEX).end();
    } else {
        const Step attached = attach_function(rec, fd.get(), chip, node);
        if (attached != Step::Taken) {
            if (attached == Step::Skipped) --num_hosts_;
            return attached;
        }
    }

    apply_version_gate(rec, drv);
    fd.reset();
    vxsysfs_print_priv_data(rec);
    return Step::Taken;
}

void Run::fill_from_queries(vxapi_priv_database* rec, int fd, EXT_HBA_NODE* node) {
    uint32_t status = 0;
    uint32_t delivered = 0;
    int rc = vxapi_query_hbanode(fd, rec, node, &status, &delivered);
    if (accepted(rc, status, delivered, kNodeRead)) {
        rec->drvr_attr = node->DriverAttr;
        std::memcpy(rec->wwnn, node->WWNN, sizeof rec->wwnn);
        rec->interface_type = node->InterfaceType;
        rec->vp_idx = node->PortCount;
        // The serial rule of some boards reads the Reserved area: nothing of
        // it unless it came whole.
        if (delivered < kNodeReservedRead) std::memset(node->Reserved, 0, sizeof node->Reserved);
    } else {
        rec->drvr_attr = 0;
        // The serial rules below read the record: nothing of a refused answer.
        *node = EXT_HBA_NODE{};
        if (road_.new_driver) {
            trace_inst(VXDBG_ERROR, ": inst=").text(" query ioctl failed. stat=").num(status, VXDBG_HEX).end();
        } else {
            trace_inst(VXDBG_ERROR, "(").text("): ioctl failed. stat=").num(status, VXDBG_HEX).end();
        }
    }

    EXT_HBA_PORT port{};
    status = 0;
    delivered = 0;
    rc = vxapi_query_hbaport(fd, rec, &port, &status, &delivered);
    if (accepted(rc, status, delivered, road_.new_driver ? kPortReadNew : kPortReadOld)) {
        std::memcpy(rec->wwpn, port.WWPN, sizeof rec->wwpn);
        std::memcpy(rec->port_id, port.Id, sizeof rec->port_id);
        if (road_.new_driver) {
            rec->topology = port.Topology;
            rec->state = port.State;
        }
    } else {
        trace_inst(VXDBG_ERROR, "(").text("): hbaport ioctl failed. stat=").num(status, VXDBG_HEX).end();
    }
}

// Attaches the port to its function record. Taken: go on with the port;
// Skipped: the port was dropped (the number of hosts goes down by one);
// Abandoned: memory ran out and every record is gone.
Step Run::attach_function(vxapi_priv_database* rec, int fd, const EXT_CHIP& chip, const EXT_HBA_NODE& node) {
    if (rec->interface_type == VX_PORT_VIRTUAL) {
        rec->phy_info = vxapi_get_api_phy_info_inst(&chip);
        if (rec->phy_info == nullptr) {
            trace_inst(VXDBG_ERROR, ": inst=").end(" get phy info failed for vport");
            made_.drop_port(rec);
            return Step::Skipped;
        }
        rec->parent = vxapi_get_phy_port_from_vport(rec);
        if (rec->parent == nullptr) {
            trace_inst(VXDBG_ERROR, ": inst=").end(" get phy port failed for vport");
            made_.drop_port(rec);
            return Step::Skipped;
        }
        rec->features |= VX_FEAT_COMPLETE;
        return Step::Taken;
    }
    if (rec->interface_type != VX_PORT_PHYSICAL) {
        rec->features |= VX_FEAT_COMPLETE;
        return Step::Taken;
    }

    const bool existed = api_phy_info != nullptr && vxapi_get_api_phy_info_inst(&chip) != nullptr;
    vxapi_phy_info* info = nullptr;
    if (vxapi_alloc_api_phy_info_mem(&info, &chip) != 0 || info == nullptr) {
        trace_inst(VXDBG_ERROR, ": inst=").end(" phy port mem alloc failed, exiting");
        made_.abandon_everything();
        return Step::Abandoned;
    }
    if (!existed) made_.add_function(info);
    rec->phy_info = info;

    // A port of a device outside the chip table goes, and its function
    // record with it unless another port uses that record; a record of other
    // ports keeps what they filled in.
    if (vx_chip(chip.DeviceId) == nullptr) {
        trace_inst(VXDBG_ERROR, ": inst=").text(" unsupported device=").num(chip.DeviceId, VXDBG_HEX).end();
        made_.drop_port(rec);
        return Step::Skipped;
    }

    copy_text(info->model, driver_name_);
    info->vendor_id = chip.VendorId;
    info->device_id = chip.DeviceId;
    info->ssvendor_id = chip.SubVendorId;
    info->ssdevice_id = chip.SubSystemId;
    info->pci_domain = chip.DomainNr;
    info->pci_bus = chip.PciBusNumber;
    info->pci_dev_func = chip.PciDevFunc;

    const uint16_t device = info->device_id;

    if (vxapi_read_port_layout(fd, rec) != 0) {
        trace_inst(VXDBG_ERROR, ": inst=").end(" set option rom layout failed.");
    }

    if (vx_chip_has(device, VX_CHIP_SERIAL_FROM_VPD)) {
        if (vxapi_get_vpd_serialnum(fd, rec) != 0) {
            trace_inst(VXDBG_ERROR, "(").end("): get_vpd_serialnum failed; calculating serialnum.");
            compute_serial(info, node, kSerialMaskLater);
        }
    } else if (road_.new_driver && vx_board_has(info->ssvendor_id, info->ssdevice_id, VX_BOARD_KT)) {
        reserved_serial(info, node);
    } else {
        compute_serial(info, node, kSerialMaskOlder);
    }

    if (road_.new_driver) vxapi_fill_phy_port_number(rec);

    vxapi_read_port_versions(fd, rec, road_.new_driver);
    rec->features |= VX_FEAT_COMPLETE;
    return Step::Taken;
}

void Run::apply_version_gate(vxapi_priv_database* rec, const EXT_LN_DRIVER_DATA& drv) {
    if (driver_predates_features(drv.DrvVer) || is_vioctlmod_loaded != 0) new_features_supported_ = false;
    if (!new_features_supported_) return;
    if ((drv.Flags & EXT_DEF_LUN_4096) != 0) {
        rec->features |= VX_FEAT_LUN_4096;
    } else {
        rec->features &= ~VX_FEAT_LUN_4096;
    }
    if ((drv.Flags & EXT_DEF_FLAG_8) != 0) {
        rec->features |= VX_FEAT_DRV_FLAG_8;
    } else {
        rec->features &= ~VX_FEAT_DRV_FLAG_8;
    }
}

uint16_t first_instance(const uint32_t* start_inst) {
    return start_inst != nullptr ? static_cast<uint16_t>(*start_inst) : 0;
}

}  // namespace

int vxapi_open_device_n(vxapi_priv_database* api_priv_data_inst, uint16_t drvr_inst, uint16_t api_inst,
                        int* handle, const char* hba_path, uint16_t* host_no, uint16_t* num_hosts) {
    return open_device(kNewRoad, api_priv_data_inst, drvr_inst, api_inst, handle, hba_path, host_no, num_hosts);
}

int vxapi_open_device_o(vxapi_priv_database* api_priv_data_inst, uint16_t drvr_inst, uint16_t api_inst,
                        int* handle, const char* hba_path, uint16_t* host_no, uint16_t* num_hosts) {
    return open_device(kOldRoad, api_priv_data_inst, drvr_inst, api_inst, handle, hba_path, host_no, num_hosts);
}

int vxapi_find_all_instances_n(const char* driver_name, uint32_t* start_inst) {
    if (driver_name == nullptr) return 1;
    char path[VX_NODE_PATH_SIZE];
    std::snprintf(path, sizeof path, "/dev/%s", driver_name);
    if (vxapi_charnode_exist(path, driver_name) == 0) {
        Trace(VXDBG_ERROR).text("vxapi_find_all_instances_n: not found: ").text(path).end();
        return 1;
    }
    Run run(kNewRoad, driver_name, path, first_instance(start_inst));
    return run.go(start_inst);
}

int vxapi_find_all_instances_o(const char* driver_name, uint32_t* start_inst) {
    if (driver_name == nullptr) return 1;
    char path[VX_NODE_PATH_SIZE];
    if (OS_Type == VX_OS_ESX) {
        std::snprintf(path, sizeof path, "%s", "/dev/char/vmkdriver/HbaApiDev");
    } else {
        std::snprintf(path, sizeof path, "/proc/scsi/%s/HbaApiNode", driver_name);
    }
    Run run(kOldRoad, driver_name, path, first_instance(start_inst));
    return run.go(start_inst);
}

// Sysfs discovery against simulated sysfs-mode adapters: the hosts of each
// PCI function and their order, the records' fields and features, virtual-
// port indexes, the serial number's sources, the driver version, the generic
// node open, and a load through the public functions on a sysfs-only host.
#include <fcntl.h>
#include <sys/sysmacros.h>

#include <functional>

#include "core/vx_discovery.h"
#include "core/vx_ioctl.h"
#include "core/vx_load.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_sysfs_adapters.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_prim.h"
#include "vxsdm.h"

namespace {

struct Rig {
    Rig() {
        shtest::reset_shared_state();
        vxdbg_reset();
        vx_debug = VXDBG_ERROR | VXDBG_SYSFS;
    }
    ~Rig() {
        shtest::reset_shared_state();
        vxdbg_reset();
        sysfs_mnt_path[0] = '\0';
    }
    // Installs the setup, runs the discovery: the port count it gives.
    uint32_t discover(const std::function<void()>& before = {}) {
        fabric = sim::install_sysfs_adapters(host, setup);
        if (before) before();
        uint32_t counter = 0;
        EXPECT_EQ(vxsysfs_init(), 0);
        EXPECT_EQ(vxsysfs_supported_driver_exist(&counter), 0);
        return counter;
    }
    // Each port as "host:type", the parent's host behind a virtual port.
    std::vector<std::string> ports() const {
        std::vector<std::string> out;
        for (vxapi_priv_database* p : sim::listed_ports()) {
            std::string s = std::to_string(p->host_no) + ":" + std::to_string(p->interface_type);
            if (p->parent != nullptr) s += "<" + std::to_string(p->parent->host_no);
            out.push_back(s);
        }
        return out;
    }
    bool traced(const std::string& text) const { return host.stderr_text().find(text) != std::string::npos; }
    sim::SimHost host;
    sim::SysfsSetup setup;
    sim::SysfsFabric fabric;
};

sim::SysfsAdapter with_vports(uint16_t device_id, unsigned host_no, std::vector<sim::SysfsHost> vports) {
    sim::SysfsAdapter a = sim::sysfs_adapter(device_id, {host_no});
    a.functions[0].vports = std::move(vports);
    return a;
}

TEST(SysfsDiscovery, HostsOfAFunctionPhysicalFirstThenVirtualAscendingEachOnce) {
    struct Case {
        const char* what;
        std::vector<sim::SysfsHost> vports;
        const char* extra_dir;  // a host directory also directly under host 7
        std::vector<std::string> ports;
    };
    const Case cases[] = {
        {"virtual hosts listed 9, 8", {9, 8}, nullptr, {"7:1", "8:3<7", "9:3<7"}},
        {"a virtual host below its physical one", {5, 12}, nullptr, {"7:1", "5:3<7", "12:3<7"}},
        {"a host listed twice", {9}, "/host9", {"7:1", "9:3<7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.setup.adapters = {with_vports(0x2422, 7, c.vports)};
        const uint32_t count = rig.discover([&] {
            if (c.extra_dir != nullptr) rig.host.make_dir(rig.fabric.host_dirs.at(7) + c.extra_dir);
        });
        EXPECT_EQ(rig.ports(), c.ports);
        EXPECT_EQ(count, c.ports.size());
        EXPECT_EQ(api_phy_info->count, 1u);
    }
}

// Two drivers in the order of the name table; port indexes count across
// them; an unsupported device goes with its hosts and its function record.
TEST(SysfsDiscovery, DriversInTableOrderAndUnsupportedDevicesDropped) {
    Rig rig;
    sim::SysfsAdapter later = sim::sysfs_adapter(0x2312, {3});
    sim::SysfsAdapter first = with_vports(0x2422, 7, {9, 8});
    first.driver = "vxa2300";
    sim::SysfsAdapter unknown = with_vports(0x1234, 4, {6});
    unknown.driver = "vxa2300";
    rig.setup.adapters = {later, first, unknown};
    EXPECT_EQ(rig.discover(), 4u);
    EXPECT_EQ(rig.ports(), (std::vector<std::string>{"7:1", "8:3<7", "9:3<7", "3:1"}));
    std::vector<uint32_t> inst, vp;
    for (vxapi_priv_database* p : sim::listed_ports()) {
        inst.push_back(p->drvr_inst);
        vp.push_back(p->vp_idx);
    }
    EXPECT_EQ(inst, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(vp, (std::vector<uint32_t>{0, 1, 2, 0}));
    EXPECT_EQ(api_phy_info->count, 2u);
    EXPECT_STREQ(reinterpret_cast<char*>(sim::listed_ports()[0]->phy_info->model), "vxa2300");
    EXPECT_STREQ(reinterpret_cast<char*>(sim::listed_ports()[3]->phy_info->model), "vxa2xxx");
    EXPECT_EQ(api_priv_data[0].features, VX_FEAT_SYSFS);
    EXPECT_TRUE(rig.traced(">> unsupported device=1234h"));
}

TEST(SysfsDiscovery, RecordFieldsFromTheHostsAndTheFunction) {
    Rig rig;
    sim::SysfsAdapter a = with_vports(0x2532, 7, {9});
    a.ssvendor_id = 0x7A5A;
    a.ssdevice_id = 0x0131;
    a.pci_bus = 0x41;
    a.functions[0].host.scsi_host = {{"link_state", ""}, {"state", "Link Up - Loop"}};
    a.functions[0].host.fc_host = {{"max_npiv_vports", "0"}, {"port_id", "0x0a0b0c"}};
    a.functions[0].host.scsi_host["max_npiv_vports"] = "63";
    a.functions[0].vports[0].scsi_host = {{"link_state", "Link Up - N_Port to N_Port"}};
    rig.setup.adapters = {a};
    EXPECT_EQ(rig.discover(), 2u);
    vxapi_priv_database* phys = sim::listed_ports().at(0);
    vxapi_priv_database* virt = sim::listed_ports().at(1);
    EXPECT_STREQ(reinterpret_cast<char*>(phys->phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:41:00.0");
    EXPECT_STREQ(reinterpret_cast<char*>(virt->phys_path), "/sys/bus/pci/drivers/vxa2xxx/0000:41:00.0");
    EXPECT_EQ(sim::bytes_of(phys->wwnn, 8), (std::vector<uint8_t>{0x20, 0, 0, 0xe0, 0x8b, 0, 0, 7}));
    EXPECT_EQ(sim::bytes_of(virt->wwpn, 8), (std::vector<uint8_t>{0x21, 0, 0, 0xe0, 0x8b, 0, 0, 9}));
    EXPECT_EQ(sim::bytes_of(phys->port_id, 4), (std::vector<uint8_t>{0, 0x0a, 0x0b, 0x0c}));
    EXPECT_EQ(phys->topology, 1);
    EXPECT_EQ(virt->topology, 2);
    EXPECT_EQ(phys->features, VX_FEAT_SYSFS | VX_FEAT_BSG | VX_FEAT_FLASH_CHUNKS);
    // A virtual host has no flash window of its own: no chunking probe answers.
    EXPECT_EQ(virt->features, VX_FEAT_SYSFS | VX_FEAT_BSG);
    const vxapi_phy_info& f = *phys->phy_info;
    EXPECT_EQ(virt->phy_info, &f);
    EXPECT_EQ(std::vector<uint16_t>({f.vendor_id, f.device_id, f.ssvendor_id, f.ssdevice_id}),
              std::vector<uint16_t>({VX_PCI_VENDOR_MAKER, 0x2532, 0x7A5A, 0x0131}));
    EXPECT_EQ(std::vector<uint16_t>({f.pci_domain, f.pci_bus, f.pci_dev_func}), std::vector<uint16_t>({0, 0x41, 0}));
    EXPECT_EQ(f.max_vports, 63);
    EXPECT_EQ(f.port_number, 1);
    // The layout chip's flash layout cannot be read over sysfs yet: traced, the port kept.
    EXPECT_TRUE(rig.traced(">> set option rom layout failed."));
}

TEST(SysfsDiscovery, FeaturesOfChunkingAndBsg) {
    struct Case {
        const char* what;
        bool chunking, class_links, with_bsg, no_control;
        uint32_t features;
    };
    const Case cases[] = {
        {"probe accepted, bsg entry a link", false, true, true, false, VX_FEAT_BSG},
        {"probe refused, bsg entry a directory", true, false, true, false, VX_FEAT_BSG | VX_FEAT_FLASH_CHUNKS},
        {"no control file, no bsg entry", true, true, false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.setup.adapters = {sim::sysfs_adapter(0x2422, {5})};
        rig.setup.chunking = c.chunking;
        rig.setup.class_links = c.class_links;
        rig.setup.with_bsg = c.with_bsg;
        EXPECT_EQ(rig.discover([&] {
            if (c.no_control) rig.host.remove(rig.fabric.host_dirs.at(5) + "/optrom_ctl");
        }),
                  1u);
        EXPECT_EQ(sim::listed_ports().at(0)->features, VX_FEAT_SYSFS | c.features);
        EXPECT_EQ(rig.traced("> Failed get control"), c.no_control);
        const std::vector<std::string> probes = c.no_control ? std::vector<std::string>{} : std::vector<std::string>{"4"};
        EXPECT_EQ(rig.fabric.windows.at(5)->controls, probes);
    }
}

TEST(SysfsDiscovery, SerialNumberFromTheHostOrTheVpd) {
    sim::VpdContents long_sn;
    long_sn.read_only = {sim::keyword("SN", std::string(200, 'L'))};
    long_sn.size = 512;
    sim::VpdContents small;
    small.read_only = {sim::keyword("SN", "SMALL")};
    small.size = 512;
    struct Case {
        const char* what;
        uint16_t device_id;
        std::optional<std::string> serial_num;
        std::vector<uint8_t> vpd;
        std::string serial;
    };
    const Case cases[] = {
        {"from serial_num", 0x2422, "SIM0000A00042", {}, "SIM0000A00042"},
        {"empty: the VPD's SN, 512 bytes", 0x2422, "", {}, "VPD00001"},
        {"absent: the VPD's SN, 1024 bytes", 0x8031, std::nullopt, {}, "VPD00001"},
        {"a 512-byte VPD where 1024 are read", 0x8031, "", sim::build_vpd(small).bytes, ""},
        {"an SN longer than the field", 0x2422, "", sim::build_vpd(long_sn).bytes, std::string(127, 'L')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        sim::SysfsAdapter a = sim::sysfs_adapter(c.device_id, {5});
        a.functions[0].host.scsi_host["serial_num"] = c.serial_num;
        a.vpd = c.vpd;
        rig.setup.adapters = {a};
        EXPECT_EQ(rig.discover(), 1u);
        const vxapi_phy_info* f = sim::listed_ports().at(0)->phy_info;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->serial_num)), c.serial);
    }
}

TEST(SysfsDiscovery, VirtualPortIndexesFromTheHostOrTheMap) {
    Rig rig;
    sim::SysfsAdapter a = with_vports(0x2422, 7, {8, 9, 10});
    a.functions[0].vports[1].scsi_host = {{"vport_id", "0x1f"}};
    a.functions[0].vports[2].scsi_host = {{"vport_id", "0x300"}};  // beyond the map
    rig.setup.adapters = {a};
    EXPECT_EQ(rig.discover(), 4u);
    std::vector<uint32_t> vp;
    for (vxapi_priv_database* p : sim::listed_ports()) vp.push_back(p->vp_idx);
    EXPECT_EQ(vp, (std::vector<uint32_t>{0, 1, 0x1f, 0x300}));
    vxapi_phy_info* f = sim::listed_ports()[0]->phy_info;
    std::vector<uint8_t> map(64, 0);
    map[0] = 0x01;  // only the index the map gave
    EXPECT_EQ(sim::bytes_of(f->vp_map, 64), map);

    // The map's first free index; indexes outside 1..512 never reach it.
    std::memset(f->vp_map, 0, sizeof f->vp_map);
    f->vp_map[0] = 0xFF;
    f->vp_map[1] = 0x01;
    EXPECT_EQ(vxsysfs_get_set_vport_id(f), 10u);
    EXPECT_EQ(f->vp_map[1], 0x03);
    for (uint32_t index : {0u, 513u, 0x300u}) vxsysfs_clear_vport_id(f, index);
    EXPECT_EQ(f->vp_map[0], 0xFF);
    EXPECT_EQ(f->vp_map[63], 0);
    vxsysfs_clear_vport_id(f, 512);
    vxsysfs_clear_vport_id(f, 10);
    EXPECT_EQ(f->vp_map[1], 0x01);
    std::memset(f->vp_map, 0xFF, sizeof f->vp_map);
    EXPECT_EQ(vxsysfs_get_set_vport_id(f), 0u);

    // The FC host of a port name.
    const uint8_t nine[8] = {0x21, 0, 0, 0xe0, 0x8b, 0, 0, 9};
    const uint8_t none[8] = {0x21, 0, 0, 0xe0, 0x8b, 0, 0, 0x77};
    EXPECT_EQ(vxsysfs_get_vport_host_no(nine), 9u);
    EXPECT_EQ(vxsysfs_get_vport_host_no(none), 0u);
    EXPECT_EQ(vxsysfs_is_vhost_no_wwpn_match(9, nine), 0);
    EXPECT_EQ(vxsysfs_is_vhost_no_wwpn_match(8, nine), 1);
}

TEST(SysfsDiscovery, DriverVersionFromTheDriverQuery) {
    const struct {
        const char* text;
        std::vector<uint8_t> version;
    } cases[] = {{"8.02.01b5-k", {8, 2, 1, 5}}, {"10.02.00.100-k", {10, 2, 0, 0}}, {"", {0, 0, 0, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Rig rig;
        sim::SysfsAdapter a = sim::sysfs_adapter(0x2422, {5});
        a.functions[0].host.scsi_host["driver_version"] = c.text;
        rig.setup.adapters = {a};
        EXPECT_EQ(rig.discover(), 1u);
        EXT_LN_DRIVER_DATA data;
        std::memset(&data, 0xA5, sizeof data);
        uint32_t status = 1;
        EXPECT_EQ(vxapi_get_driver_specifics(-1, sim::listed_ports()[0], &data, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(sim::bytes_of(&data.DrvVer, 4), c.version);
        EXPECT_EQ(data.Flags, VXSYSFS_DRIVER_FLAG_VERSION);
        EXPECT_EQ(sim::bytes_of(data.Reserved, sizeof data.Reserved), std::vector<uint8_t>(sizeof data.Reserved, 0));
    }
}

// The generic node: read-only for commands that only read.
TEST(SysfsDiscovery, GenericNodeOpenModes) {
    struct Flags : sim::SimDevice {
        int open(dev_t, int f) override {
            flags.push_back(f);
            return 0;
        }
        int ioctl(dev_t, unsigned long, void*) override { return EINVAL; }
        std::vector<int> flags;
    } sg;
    Rig rig;
    rig.host.register_device(sim::kSgMajor, &sg);
    rig.host.add_node("/dev/sg3", S_IFCHR | 0600, makedev(sim::kSgMajor, 3));
    for (uint8_t opcode : {0x2A, 0x28, 0x12, 0xB8, 0x2F}) {
        const int fd = vxsysfs_open("sg3", opcode);
        EXPECT_GE(fd, 0);
        rig.host.close(fd);
    }
    EXPECT_EQ(sg.flags, (std::vector<int>{O_NONBLOCK | O_RDWR, O_NONBLOCK, O_NONBLOCK, O_NONBLOCK,
                                          O_NONBLOCK | O_RDWR}));
    EXPECT_LT(vxsysfs_open("sg9", 0x28), 0);
    EXPECT_TRUE(rig.traced("Open generic failed"));
}

// A host whose driver serves its adapters through sysfs only: the first open
// loads the library, which finds the ports by sysfs discovery.
TEST(SysfsDiscovery, OpenDeviceOnASysfsOnlyHostLoadsAndFindsThePorts) {
    Rig rig;
    rig.setup.adapters = {with_vports(0x2422, 7, {9})};
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    EXPECT_EQ(SDGetNumberOfAdapters(), 2u);
    int handle = -1;
    ASSERT_EQ(SDOpenDevice(1, &handle), 0u);
    vxapi_priv_database* port = check_handle(static_cast<uint32_t>(handle));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->host_no, 9u);
    EXPECT_EQ(port->interface_type, VX_PORT_VIRTUAL);
    EXPECT_EQ(rig.ports(), (std::vector<std::string>{"7:1", "9:3<7"}));
    EXPECT_EQ(SDCloseDevice(handle), 0u);
}

}  // namespace

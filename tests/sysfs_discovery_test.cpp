// Sysfs discovery against simulated sysfs-mode adapters: the hosts of each PCI function and their order, the
// records' fields and features, virtual-port indexes, the serial number's sources, the driver version.
#include "core/vx_discovery.h"
#include "core/vx_ioctl.h"
#include "sysfs_rig.h"

namespace {

using sysfstest::hex;
using sysfstest::line;
using sysfstest::SysfsRig;

// Each port as "host:type<parent's host instance/vp index".
std::vector<std::string> ports() {
    std::vector<std::string> out;
    for (vxapi_priv_database* p : sim::listed_ports()) {
        out.push_back(line("%u:%u", p->host_no, p->interface_type) +
                      (p->parent != nullptr ? line("<%u", p->parent->host_no) : "") +
                      line(" %u/%u", p->drvr_inst, p->vp_idx));
    }
    return out;
}

sim::SysfsAdapter with_vports(uint16_t device_id, unsigned host_no, std::vector<sim::SysfsHost> vports) {
    sim::SysfsAdapter a = sim::sysfs_adapter(device_id, {host_no});
    a.functions[0].vports = std::move(vports);
    return a;
}

// Also: two drivers in the order of the name table, port indexes counting across them; an unsupported device
// goes with its hosts and its function record.
TEST(SysfsDiscovery, HostsOfAFunctionPhysicalFirstThenVirtualAscendingEachOnce) {
    sim::SysfsAdapter old = sim::sysfs_adapter(0x2312, {3}), other = with_vports(0x1234, 4, {6});
    const struct {
        const char* what;
        std::vector<sim::SysfsAdapter> adapters;
        const char* extra_dir;  // a host directory also directly under host 7
        std::vector<std::string> ports;  // and the models of the adapters
    } cases[] = {
        {"virtual hosts listed 9, 8", {with_vports(0x2422, 7, {9, 8})}, nullptr,
         {"7:1 0/0", "8:3<7 1/1", "9:3<7 2/2", "vxa2xxx"}},
        {"a virtual host below its physical one", {with_vports(0x2422, 7, {5, 12})}, nullptr,
         {"7:1 0/0", "5:3<7 1/1", "12:3<7 2/2", "vxa2xxx"}},
        {"a host listed twice", {with_vports(0x2422, 7, {9})}, "/host9", {"7:1 0/0", "9:3<7 1/1", "vxa2xxx"}},
        {"two drivers, an unsupported device", {old, with_vports(0x2422, 7, {9, 8}), other}, nullptr,
         {"7:1 0/0", "8:3<7 1/1", "9:3<7 2/2", "3:1 3/0", "vxa2300", "vxa2xxx"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SysfsRig rig;
        rig.setup.adapters = c.adapters;
        for (size_t i = 1; i < c.adapters.size(); ++i) rig.setup.adapters[i].driver = "vxa2300";
        const uint32_t count = rig.discover([&] {
            if (c.extra_dir != nullptr) rig.host.make_dir(rig.fabric.host_dirs.at(7) + c.extra_dir);
        });
        std::vector<std::string> got = ports();
        const vxapi_phy_info* last = nullptr;
        for (const vxapi_priv_database* p : sim::listed_ports()) {
            if (std::exchange(last, p->phy_info) != p->phy_info) got.push_back(reinterpret_cast<char*>(p->phy_info->model));
        }
        EXPECT_EQ(got, c.ports);
        EXPECT_EQ(count + api_phy_info->count, c.ports.size());
        EXPECT_EQ(api_priv_data[0].features, VX_FEAT_SYSFS);
        EXPECT_EQ(rig.traced(">> unsupported device=1234h"), c.adapters.size() > 1);
    }
}

// The records' fields; the driver's version text as numbers, the rest of its record zero.
TEST(SysfsDiscovery, RecordFieldsAndTheDriverVersion) {
    SysfsRig rig;
    sim::SysfsAdapter a = with_vports(0x2532, 7, {9});
    std::tie(a.ssvendor_id, a.ssdevice_id, a.pci_bus) = std::tuple(0x7A5A, 0x0131, 0x41);
    a.functions[0].host.scsi_host = {{"link_state", ""}, {"state", "Link Up - Loop"}, {"max_npiv_vports", "63"}};
    a.functions[0].host.fc_host = {{"max_npiv_vports", "0"}, {"port_id", "0x0a0b0c"}};
    a.functions[0].vports[0].scsi_host = {{"link_state", "Link Up - N_Port to N_Port"}};
    rig.setup.adapters = {a};
    EXPECT_EQ(rig.discover(), 2u);
    const auto rec = [](const vxapi_priv_database* p) {
        return line("%s %s %s %s top %u feat %x", p->phys_path, hex(p->wwnn, 8).c_str(), hex(p->wwpn, 8).c_str(),
                    hex(p->port_id, 4).c_str(), p->topology, p->features);
    };
    // A virtual host has no flash window of its own: no chunking probe answers.
    const std::string path = "/sys/bus/pci/drivers/vxa2xxx/0000:41:00.0 ";
    EXPECT_EQ(rec(rig.port(7)), path + "200000e08b000007 210000e08b000007 000a0b0c top 1 feat " +
                                    line("%x", VX_FEAT_SYSFS | VX_FEAT_BSG | VX_FEAT_FLASH_CHUNKS));
    EXPECT_EQ(rec(rig.port(9)), path + "200000e08b000009 210000e08b000009 00010900 top 2 feat " +
                                    line("%x", VX_FEAT_SYSFS | VX_FEAT_BSG));
    const vxapi_phy_info& f = *rig.port(7)->phy_info;
    EXPECT_EQ(rig.port(9)->phy_info, &f);
    EXPECT_EQ(line("%04x %04x %04x %04x %x:%x:%x vports %u port %u", f.vendor_id, f.device_id, f.ssvendor_id,
                   f.ssdevice_id, f.pci_domain, f.pci_bus, f.pci_dev_func, f.max_vports, f.port_number),
              line("%04x 2532 7a5a 0131 0:41:0 vports 63 port 1", VX_PCI_VENDOR_MAKER));
    // The layout chip's flash holds no flash layout table: traced, the port kept.
    EXPECT_TRUE(rig.traced(">> set option rom layout failed."));
    for (const auto& [text, version] : {std::pair<const char*, EXT_LN_DRV_VERSION>{"8.02.01b5-k", {8, 2, 1, 5, {}}},
                                        {"10.02.00.100-k", {10, 2, 0, 0, {}}}, {"", {}}}) {
        rig.host.set_attr(rig.fabric.host_dirs.at(7) + "/scsi_host/host7/driver_version", sim::text_attr(text));
        EXT_LN_DRIVER_DATA data, want{};
        std::memset(&data, 0xA5, sizeof data);
        std::tie(want.DrvVer, want.Flags) = std::tuple(version, VXSYSFS_DRIVER_FLAG_VERSION);
        uint32_t status = 1;
        EXPECT_EQ(vxapi_get_driver_specifics(-1, rig.port(7), &data, &status) + status, 0u);
        EXPECT_EQ(sim::bytes_of(&data, sizeof data), sim::bytes_of(&want, sizeof want)) << text;
    }
}

TEST(SysfsDiscovery, FeaturesOfChunkingAndBsg) {
    const struct { const char* what; bool chunking, class_links, with_bsg, no_control; uint32_t features; } cases[] = {
        {"probe accepted, bsg entry a link", false, true, true, false, VX_FEAT_BSG},
        {"probe refused, bsg entry a directory", true, false, true, false, VX_FEAT_BSG | VX_FEAT_FLASH_CHUNKS},
        {"no control file, no bsg entry", true, true, false, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SysfsRig rig(0x2422);
        std::tie(rig.setup.chunking, rig.setup.class_links, rig.setup.with_bsg) =
            std::tuple(c.chunking, c.class_links, c.with_bsg);
        EXPECT_EQ(rig.discover([&] {
            if (c.no_control) rig.host.remove(rig.fabric.host_dirs.at(5) + "/optrom_ctl");
        }), 1u);
        EXPECT_EQ(rig.port(5)->features, VX_FEAT_SYSFS | c.features);
        EXPECT_EQ(rig.traced("> Failed get control"), c.no_control);
        EXPECT_EQ(rig.fabric.windows.at(5)->controls, std::vector<std::string>(c.no_control ? 0 : 1, "4"));
    }
}

TEST(SysfsDiscovery, SerialNumberFromTheHostOrTheVpd) {
    const struct { const char* what; uint16_t device_id; std::optional<std::string> serial_num; sim::Bytes vpd;
                   std::string serial; } cases[] = {
        {"from serial_num", 0x2422, "SIM0000A00042", {}, "SIM0000A00042"},
        {"empty: the VPD's SN, 512 bytes", 0x2422, "", {}, "VPD00001"},
        {"absent: the VPD's SN, 1024 bytes", 0x8031, std::nullopt, {}, "VPD00001"},
        {"a 512-byte VPD where 1024 are read", 0x8031, "", sysfstest::vpd({sim::keyword("SN", "SMALL")}, 512), ""},
        {"an SN longer than the field", 0x2422, "", sysfstest::vpd({sim::keyword("SN", std::string(200, 'L'))}, 512),
         std::string(127, 'L')},
        {"an SN past byte 512 of 1024", 0x8031, "",  // at bytes 503 to 522
         sysfstest::vpd({sim::keyword("PN", std::string(250, 'P')), sim::keyword("EC", std::string(221, 'E')),
                         sim::keyword("SN", "SERIAL-NUMBER-TAIL01")}, 1024), "SERIAL-NUMBER-TAIL01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SysfsRig rig(c.device_id, [&](sim::SysfsAdapter& a) {
            a.functions[0].host.scsi_host["serial_num"] = c.serial_num;
            a.vpd = c.vpd;
        });
        EXPECT_EQ(rig.discover(), 1u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(rig.port(5)->phy_info->serial_num)), c.serial);
    }
}

TEST(SysfsDiscovery, VirtualPortIndexesFromTheHostOrTheMap) {
    SysfsRig rig;
    sim::SysfsAdapter a = with_vports(0x2422, 7, {8, 9, 10});
    a.functions[0].vports[1].scsi_host = {{"vport_id", "0x1f"}};
    a.functions[0].vports[2].scsi_host = {{"vport_id", "0x300"}};  // beyond the map
    rig.setup.adapters = {a};
    EXPECT_EQ(rig.discover(), 4u);
    EXPECT_EQ(ports(), (std::vector<std::string>{"7:1 0/0", "8:3<7 1/1", "9:3<7 2/31", "10:3<7 3/768"}));
    vxapi_phy_info* f = rig.port(7)->phy_info;
    sim::Bytes map(64, 0);
    map[0] = 0x01;  // only the index the map gave
    EXPECT_EQ(sim::bytes_of(f->vp_map, 64), map);
    // The map's first free index; indexes outside 1..512 never reach it.
    std::tie(f->vp_map[0], f->vp_map[1]) = std::tuple(0xFF, 0x01);
    EXPECT_EQ(vxsysfs_get_set_vport_id(f), 10u);
    std::tie(map[0], map[1]) = std::tuple(0xFF, 0x03);
    for (uint32_t index : {0u, 513u, 0x300u}) vxsysfs_clear_vport_id(f, index);
    EXPECT_EQ(sim::bytes_of(f->vp_map, 64), map);
    vxsysfs_clear_vport_id(f, 512), vxsysfs_clear_vport_id(f, 10);
    EXPECT_EQ(f->vp_map[1], 0x01);
    std::memset(f->vp_map, 0xFF, sizeof f->vp_map);
    EXPECT_EQ(vxsysfs_get_set_vport_id(f), 0u);
    // The FC host of a port name.
    uint8_t wwpn[8] = {0x21, 0, 0, 0xe0, 0x8b, 0, 0, 9};
    EXPECT_EQ(std::tuple(vxsysfs_get_vport_host_no(wwpn), vxsysfs_is_vhost_no_wwpn_match(9, wwpn),
                         vxsysfs_is_vhost_no_wwpn_match(8, wwpn)), std::tuple(9u, 0, 1));
    wwpn[7] = 0x77;
    EXPECT_EQ(vxsysfs_get_vport_host_no(wwpn), 0u);
}

}  // namespace

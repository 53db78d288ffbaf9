// Sysfs discovery against simulated sysfs-mode adapters (the hosts of each PCI function and their order, the
// records' fields and features, virtual-port indexes, the serial number's sources, the driver version); the queries
// of sysfs ports on the records it makes; and every property query of the management API on such a port.
#include <utility>

#include "base/vx_request.h"
#include "core/io/vx_query.h"
#include "core/life/vx_discovery.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_query.h"
#include "vxsdm.h"

namespace {

using sysfstest::hex;
using sysfstest::line;
using sysfstest::SysfsRig;
using Change = std::function<void(sim::SysfsAdapter&)>;

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

// Also: two drivers in name-table order, port indexes counting across them; an unsupported device is dropped.
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

// A converged adapter's flash: BIOS (0x40 blocks) and EFI images at 0x80000, the firmware header at 0x100000.
sim::Bytes boot_code_flash() {
    sim::Bytes flash = sim::blank_flash(0x200000);
    sim::place(flash, 0x80000, sim::build_rom_chain({sim::bios_image(3, 7, 0x40), sim::efi_image(2, 5)}).bytes);
    sim::place(flash, 0x100000, {0x03, 0x00, 0x40, 0x40, 8, 2, 0x34, 0x12});
    return flash;
}

// Remote ports rport-5:0-<n> named 0x20.../0x21...1<n>: targets online (1, 4, 5), offline (2), an initiator (3);
// SCSI devices of target ids 0, 1, 1, 300, 4, 4 in the listing's order.
std::vector<sim::SysfsRemotePort> remote_ports() {
    const auto r = [](unsigned n, std::optional<unsigned> tid, const char* roles, const char* state,
                      std::vector<sim::SysfsLun> luns) {
        const std::string tail = std::to_string(10 + n);
        return sim::SysfsRemotePort{n, "0x20000000000000" + tail, "0x21000000000000" + tail, "0x0102" + tail,
                                    roles, state, tid, std::move(luns)};
    };
    return {r(1, 0, "FCP Target", "Online", {{0, "sdc", 3, {"tape0"}}}),
            r(2, 1, "FCP Target", "Blocked", {{0, "sdd", 4, {}}, {1, "sde", 5, {}}}),
            r(3, std::nullopt, "FCP Initiator", "Online", {}),
            r(4, 300, "FCP Target", "Online", {{0, "sdf", 6, {}}}),
            r(5, 4, "FCP Target", "Online", {{7, "sdg", 7, {}}, {4, "sdh", 8, {}}})};
}

// One adapter of the chip (host 5), changed, and the records discovery makes of it; window controls cleared.
struct Rig : sysfstest::SysfsRig {
    explicit Rig(uint16_t device, const Change& change = {}) : SysfsRig(device, change) {
        discover();
        for (auto& [host_no, window] : fabric.windows) window->controls.clear();
    }
};

Change scsi(const std::string& name, const std::string& value) {
    return [=](sim::SysfsAdapter& a) { a.functions[0].host.scsi_host[name] = value; };
}
Change fc(const std::string& name, const std::string& value) {
    return [=](sim::SysfsAdapter& a) { a.functions[0].host.fc_host[name] = value; };
}
Change with_rports = [](sim::SysfsAdapter& a) { a.functions[0].host.rports = remote_ports(); };

TEST(SysfsQuery, NodeFromAttributesVpdFunctionZeroAndFlash) {
    const std::string long_v4(130, '9');
    // No boot-code attributes; the VPD holds the versions, V4 and V5 filling the buffers they are read into.
    const Change vpd_versions = [&](sim::SysfsAdapter& a) {
        for (const char* n : {"optrom_bios_version", "optrom_fcode_version", "optrom_efi_version", "optrom_fw_version"})
            a.functions[0].host.scsi_host[n] = "";
        a.vpd = sysfstest::vpd({sim::keyword("SN", "X1"), sim::keyword("V4", long_v4),
                                sim::keyword("V5", "4.11            "), sim::keyword("V1", "6.18"),
                                sim::keyword("V3", "8.7.1")}, 512);
    };
    // A VPD version takes the numbers that came, at least the first, each its low 8 bits; it is valid only when
    // one of them is nonzero.
    const Change vpd_partly = [&](sim::SysfsAdapter& a) {
        vpd_versions(a);
        a.vpd = sysfstest::vpd({sim::keyword("V5", "x4"), sim::keyword("V1", "6.300"), sim::keyword("V3", "0.0.0")},
                               512);
    };
    const Change vpd_short = [&](sim::SysfsAdapter& a) {
        vpd_versions(a);
        a.vpd = sysfstest::vpd({sim::keyword("V5", "4"), sim::keyword("V1", "0.0"), sim::keyword("V3", "8.07")}, 512);
    };
    const std::string attrs = " rom 3.56 valid 7 fw 080700d5 efi 06110000 fcode 040a0000 mpi 00000000 pep 00000000";
    const Change two_functions = [](sim::SysfsAdapter& a) {
        a.functions.push_back(sim::SysfsFunction{6, {}});
        a.functions[0].host.scsi_host["optrom_bios_version"] = "9.99";
    };
    const Change with_flash = [](sim::SysfsAdapter& a) { a.flash = boot_code_flash(); };
    const std::string none = " rom  valid 0 fw 00000000 efi 00000000 fcode 00000000 mpi 00000000 pep 00000000";
    const struct { const char* what; uint16_t device; Change change; std::string node;  // host, serial, versions
                   unsigned host_no = 5; std::vector<std::string> controls = {}; bool flash_lock = true; } cases[] = {
        {"attributes", 0x2532, {}, "05 00010000" + attrs},
        {"serial A12345", 0x2532, scsi("serial_num", "VX00000A12345"), "05 00393000" + attrs},
        {"serial D00007", 0x2532, scsi("serial_num", "VX00000D00007"), "05 04e79300" + attrs},
        {"serial too short", 0x2532, scsi("serial_num", "VX0000A"), "05 00000000" + attrs},
        {"serial without letter", 0x2532, scsi("serial_num", "VX00000912345"), "05 00000000" + attrs},
        {"serial without number", 0x2532, scsi("serial_num", "VX00000AB"), "05 00000000" + attrs},
        {"versions from the VPD", 0x2532, vpd_versions,  // V4 cut to keep its terminator
         "05 00010000 rom " + long_v4.substr(0, 127) +
             " valid 7 fw 08070100 efi 06120000 fcode 040b0000 mpi 00000000 pep 00000000"},
        {"no VPD versions on this chip", 0x2031, vpd_versions, "05 00010000" + none},
        {"VPD versions that came", 0x2532, vpd_partly,
         "05 00010000 rom  valid 2 fw 00000000 efi 062c0000 fcode 00000000 mpi 00000000 pep 00000000"},
        {"VPD versions of fewer numbers", 0x2532, vpd_short,
         "05 00010000 rom  valid 5 fw 08070000 efi 00000000 fcode 04000000 mpi 00000000 pep 00000000"},
        {"a text that is no version", 0x2532, scsi("optrom_efi_version", "none"),
         "05 00010000 rom 3.56 valid 5 fw 080700d5 efi 00000000 fcode 040a0000 mpi 00000000 pep 00000000"},
        {"running MPI and PEP", 0x2071, {},
         "05 00010000 rom 3.56 valid 1f fw 080700d5 efi 06110000 fcode 040a0000 mpi 01020300 pep 04050600"},
        {"function 1 reads function 0's host", 0x2532, two_functions,
         "06 00010000 rom 9.99 valid 7 fw 080700d5 efi 06110000 fcode 040a0000 mpi 00000000 pep 00000000", 6},
        {"flash through the window", 0x8021, with_flash,
         "05 00010000 rom 3.07 valid 3 fw 08023412 efi 02050000 fcode 00000000 mpi 00000000 pep 00000000", 5,
         {"1:80000:100", "0", "1:88000:100", "0", "1:100000:20", "0"}},
        {"no window without the flash lock", 0x8021, with_flash, "05 00010000" + none, 5, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.device, c.change);
        if (!c.flash_lock) { ASSERT_EQ(vxapi_sem_del(api_flash_sem_id.exchange(-1)), 0); }
        EXT_HBA_NODE n;
        std::memset(&n, 0xA5, sizeof n);
        uint32_t status = 0xDEAD;
        ASSERT_EQ(vxsysfs_query_hbanode(-1, rig.port(c.host_no), &n, &status) + status, 0u);
        EXPECT_EQ(line("%02x %s rom %s valid %x fw %s efi %s fcode %s mpi %s pep %s", n.WWNN[7], hex(n.SerialNum, 4).c_str(),
                       n.OptRomVersion, n.BIValid, hex(n.BIFwVersion, 4).c_str(), hex(n.BIEfiVersion, 4).c_str(),
                       hex(n.BIFCodeVersion, 4).c_str(), hex(n.BIMpiFwVersion, 4).c_str(),
                       hex(n.BIPepFwVersion, 4).c_str()), c.node);
        EXPECT_EQ(rig.fabric.windows.at(5)->controls, c.controls);
    }
}

TEST(SysfsQuery, PortFromScsiAndFcHost) {
    const std::string defaults = "0/1/8 speed 8/8 fabric 100000051e000001 link 3 0 0 0 ports 0/0 fc4 3/3 name 2";
    const std::string fabric = "100000051e000001", zeros(16, '0');
    // The port: the defaults with the text `from` replaced by `to`.
    const struct { const char* what; uint16_t device; std::vector<Change> changes; std::string from, to; } cases[] = {
        {"defaults", 0x2532, {}, "", ""},
        {"state when link_state is empty", 0x2532, {scsi("link_state", ""), scsi("state", "Link Up - Loop")},
         "0/1/8", "0/2/1"},
        {"link down", 0x2532, {scsi("link_state", "Link Down")}, "0/1/8", "2/0/0"},
        {"unknown link text", 0x2532, {scsi("link_state", "Link Up - Elsewhere")}, "0/1/8", "2/0/0"},
        {"16 Gbit", 0x2532, {fc("speed", "16 Gbit")}, "8/8", "8/16"},
        {"unknown speed", 0x2532, {fc("speed", "3 Gbit")}, "8/8", "8/0"},
        {"fabric name all ones", 0x2532, {fc("fabric_name", "0xffffffffffffffff")}, fabric, zeros},
        {"fabric name of the port's node", 0x2532, {fc("fabric_name", "0x200000e08b000005")}, fabric, zeros},
        {"firmware state words", 0x2532, {scsi("fw_state", "0x4 0x5 0x6 0x7 0x8 0x9")}, "link 3 0 0 0",
         "link 4 5 6 9"},
        {"older chip, no firmware state", 0x2422, {}, "8/8 fabric 100000051e000001 link 3",
         "4/8 fabric 100000051e000001 link 0"},
        // Targets online or not; target ids 0 and 1 until the count ends at 300.
        {"targets counted", 0x2532, {with_rports}, "ports 0/0", "ports 4/2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.device, [&](sim::SysfsAdapter& a) {
            for (const Change& change : c.changes) change(a);
        });
        EXT_HBA_PORT p;
        uint32_t status = 0xDEAD;
        ASSERT_EQ(vxsysfs_query_hbaport(-1, rig.port(5), &p, &status) + status, 0u);
        EXPECT_EQ(line("%u/%u/%u speed %x/%x fabric %s link %x %x %x %x ports %u/%u fc4 %u/%u name %u", p.State,
                       p.Mode, p.Topology, p.PortSupportedSpeed, p.PortSpeed, hex(p.FabricName, 8).c_str(),
                       p.LinkState1, p.LinkState2, p.LinkState3, p.LinkState6, p.DiscPortCount, p.DiscTargetCount,
                       p.PortSupportedFC4Types, p.PortActiveFC4Types, p.DiscPortNameType),
                  std::string(defaults).replace(defaults.find(c.from), c.from.size(), c.to));
    }
}

// Discovered ports and targets, the summary, the SCSI address, the first LUN.
TEST(SysfsQuery, RemotePortsAndTargets) {
    Rig rig(0x2532, with_rports);
    vxapi_priv_database* p = rig.port(5);
    const auto port = [](uint32_t status, const uint8_t* wwnn, const uint8_t* wwpn, const uint8_t* id, uint16_t type,
                         uint16_t tid, uint16_t loop) {
        return line("%u %s %s %s %u %u %x", status, hex(wwnn, 8).c_str(), hex(wwpn, 8).c_str(), hex(id, 4).c_str(),
                    type, tid, loop);
    };
    // Ports 0 to 3: the online targets in the listing's order (1, 4, 5; 2 is offline, 3 an initiator); then
    // targets 4, 1 and 9 by SCSI target id, with the number of their LUNs.
    std::vector<std::string> got;
    for (uint16_t index : {0, 1, 2, 3}) {
        EXT_DISC_PORT d;
        uint32_t status = 0xDEAD;
        EXPECT_EQ(vxsysfs_query_discport(-1, p, index, &d, &status), 0);
        got.push_back(port(status, d.WWNN, d.WWPN, d.Id, d.Type, d.TargetId, d.LoopID));
    }
    for (uint16_t tid : {4, 1, 9}) {
        EXT_DISC_TARGET t;
        uint32_t status = 0xDEAD;
        EXPECT_EQ(vxsysfs_query_disctgt(-1, p, tid, &t, &status), 0);
        got.push_back(port(status, t.WWNN, t.WWPN, t.Id, t.Type, t.TargetId, t.LoopID) + line(" luns %u", t.LunCount));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"0 2000000000000011 2100000000000011 00010211 2 0 ffff",
                                             "0 2000000000000014 2100000000000014 00010214 2 300 ffff",
                                             "0 2000000000000015 2100000000000015 00010215 2 4 ffff",
                                             "9 0000000000000000 0000000000000000 00000000 0 0 0",
                                             "0 2000000000000015 2100000000000015 00010215 2 4 0 luns 2",
                                             "0 2000000000000012 2100000000000012 00010212 2 1 0 luns 2",
                                             "9 0000000000000000 0000000000000000 00000000 0 0 0 luns 0"}));
    // Room for two of the three online targets; no room; not even the head.
    const std::pair<uint32_t, std::string> summaries[] = {
        {8 + 2 * 172, "0/0 2/2 2100000000000011:0 2100000000000014:300"}, {8, "9/dead 0/0"}, {4, "16/dead"}};
    for (const auto& [size, expected] : summaries) {
        sim::Exact buffer(sim::Bytes(size, 0xA5));
        auto* data = reinterpret_cast<EXT_DEVICEDATA*>(buffer.get());
        uint32_t status = 0xDEAD, detail = 0xDEAD;
        EXPECT_EQ(vxsysfs_get_port_summary(-1, p, nullptr, data, size, &status, &detail), 0);
        std::string got = line("%u/%x", status, detail);
        if (size >= 8) got += line(" %u/%u", data->TotalDevices, data->ReturnListEntryCount);
        for (uint32_t i = 0; i < (size - 8) / 172 && size >= 8; ++i) {
            EXT_DEVICEDATAENTRY e;
            std::memcpy(&e, buffer.get() + 8 + i * 172, sizeof e);
            got += line(" %s:%u", hex(e.PortWWN, 8).c_str(), e.TargetAddress.Target);
        }
        EXPECT_EQ(got, expected);
        if (size < 8) { EXPECT_EQ(buffer.bytes(), sim::Bytes(size, 0xA5)); }
    }
    EXT_SCSI_ADDR addr{};
    uint32_t status = 0xDEAD;
    const uint8_t wwpn[8] = {0x21, 0, 0, 0, 0, 0, 0, 0x15}, unknown[8] = {0x21, 0, 0, 0, 0, 0, 0, 0x16};
    EXPECT_EQ(vxsysfs_wwpn_to_scsiaddr(-1, p, wwpn, 8, &addr, &status), 0);
    EXPECT_EQ(line("%u %u:%u:%u", status, addr.Bus, addr.Target, addr.Lun), "0 0:4:0");
    EXPECT_EQ(vxsysfs_wwpn_to_scsiaddr(-1, p, unknown, 8, &addr, &status), 0);
    EXPECT_EQ(status, 9u);
    EXPECT_EQ(vxsysfs_get_first_lun(5, 4), 4);  // 5:0:4:4 is listed before 5:0:4:7
    EXPECT_EQ(vxsysfs_get_first_lun(5, 9), 0);
}

TEST(SysfsQuery, DeviceNamesOfALun) {
    Rig rig(0x2532, with_rports);
    rig.host.make_symlink("tape0", "/dev/disk0");  // a chain to the block node, and a loop
    rig.host.make_symlink("loopb", "/dev/loopa"), rig.host.make_symlink("loopa", "/dev/loopb");
    uint8_t names[VXSYSFS_DEVNAME_SIZE];
    EXPECT_EQ(vxsysfs_get_devname(rig.port(5), 0, 0, names), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(names), "/dev/sdc;/dev/disk0;/dev/tape0;/dev/sg3;");
    EXPECT_EQ(vxsysfs_get_devname(rig.port(5), 9, 0, names), 1);
    EXPECT_STREQ(reinterpret_cast<char*>(names), "");
    // The walk stops at the first name that would take the list past 254 characters.
    for (int i = 10; i < 30; ++i) rig.host.make_symlink("sdc", "/dev/sdc_alias_" + std::to_string(i));
    EXPECT_EQ(vxsysfs_get_devname(rig.port(5), 0, 0, names), 0);
    const std::string list = reinterpret_cast<char*>(names);
    EXPECT_EQ(list.size(), 254u);  // sdc, disk0 and 13 aliases of 18 characters
    EXPECT_EQ(list.find("sg3"), std::string::npos);
}

// The chip's PCI Express link words (its other fields: the management API's table below) on both functions.
TEST(SysfsQuery, ChipWithItsPciExpressCapability) {
    const std::pair<std::function<void(sim::Bytes&)>, std::string> cases[] = {
        {[](sim::Bytes&) {}, "a442 1042 fn 0/0; a442 1042 fn 1/0"},
        {[](sim::Bytes& c) { c[6] = 0; }, "0 0 fn 0/0; 0 0 fn 1/0"},       // no capability list
        {[](sim::Bytes& c) { c[0x41] = 0; }, "0 0 fn 0/0; 0 0 fn 1/0"},    // none of PCI Express
        {[](sim::Bytes& c) { c[0x41] = 0x40; }, "0 0 fn 0/0; 0 0 fn 1/0"},  // a list that loops
    };
    for (const auto& [config, expected] : cases) {
        Rig rig(0x2532, [&](sim::SysfsAdapter& a) {
            a.config = sim::pci_config(a.vendor_id, a.device_id);
            config(a.config);
            a.functions.push_back(sim::SysfsFunction{6, {}});
        });
        std::string got;
        for (unsigned host_no : {5u, 6u}) {
            EXT_CHIP chip;
            uint32_t status = 0xDEAD;
            EXPECT_EQ(vxsysfs_query_chip(-1, rig.port(host_no), &chip, &status), 0);
            got += line("%s%x %x fn %u/%u", got.empty() ? "" : "; ", chip.PcieLinkCap, chip.PcieLinkStat,
                        chip.PciDevFunc, status);
        }
        EXPECT_EQ(got, expected);
    }
}

TEST(SysfsQuery, RegionVersionsWithinTheCallersCount) {
    Rig rig(0x8031);
    vxapi_priv_database* p = rig.port(5);
    const auto entry = [](uint16_t region, uint8_t a, uint8_t b, uint8_t c) {
        EXT_REGIONVERSION e{region, 0, 1, 3, {a, b, c}, {}};
        return sim::bytes_of(&e, sizeof e);
    };
    const sim::Bytes mpi = entry(0x40, 1, 2, 3), phy = entry(0x45, 7, 8, 9);
    // Entries only below the caller's count, whatever Length the list counts.
    const struct { uint16_t device; uint32_t count, length, status, new_length; std::vector<sim::Bytes> entries; } cases[] = {
        {0x8031, 2, 0, 0, 2, {mpi, phy}}, {0x8031, 1, 0, 9, 1, {mpi}}, {0x8031, 1, 1, 9, 2, {mpi}},
        {0x8031, 0, 0, 9, 0, {}}, {0x2532, 2, 0, 9, 0, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " entries, length " + std::to_string(c.length));
        p->phy_info->device_id = c.device;
        sim::Bytes list(vx_region_version_list_size(std::max(c.count, 1u)), 0xA5);
        std::memcpy(list.data(), &c.length, 4);
        sim::Exact buffer(list);
        uint32_t count = c.count, status = 0xDEAD;
        EXPECT_EQ(vxsysfs_query_adapter_versions(-1, p, reinterpret_cast<EXT_ADAPTERREGIONVERSION*>(buffer.get()),
                                                 &count, &status),
                  0);
        std::memcpy(list.data(), &c.new_length, 4);
        for (size_t i = 0; i < c.entries.size(); ++i) sim::place(list, 8 + 24 * i, c.entries[i]);
        EXPECT_EQ(std::pair(status, buffer.bytes()), std::pair(c.status, list));
    }
    EXT_DRIVER driver{};
    p->features |= VX_FEAT_LUN_4096;
    EXPECT_EQ(vxsysfs_query_driver(-1, p, &driver, nullptr), 0);
    EXPECT_EQ(driver.LunsPerTarget, 4096);
}

TEST(SysfsQuery, VersionTextsAndVpdFields) {
    constexpr VxAttrAnswer kCame = VxAttrAnswer::Came, kNo = VxAttrAnswer::NotNumber, kPast = VxAttrAnswer::TooLarge;
    const sim::Bytes untouched(4, 0xEE);
    const struct { const char* text; int numbers; sim::Bytes version; VxAttrAnswer answer = kCame; } versions[] = {
        {"4.2.1.0", 4, {4, 2, 1, 0}}, {"4.10", 4, {4, 10, 0xEE, 0xEE}}, {"1.2.3", 2, {1, 2, 0xEE, 0xEE}},
        {"7", 4, {7, 0xEE, 0xEE, 0xEE}}, {" 8.07.00 (d0d5)", 4, {8, 7, 0, 0xEE}}, {"4.10 ", 4, {4, 10, 0xEE, 0xEE}},
        {"abc", 4, untouched, kNo}, {"", 4, untouched, kNo}, {"4.300", 4, {4, 0x2C, 0xEE, 0xEE}},
        {"8.07.00 53461", 4, {8, 7, 0, 0xD5}}, {"8.07.00 4294967295", 4, {8, 7, 0, 0xFF}},
        {"1.99999999999999999999", 4, untouched, kPast},
        // A word printed with %d reads back as its bit pattern; a sign needs a digit behind it.
        {"8.07.00 -2147430187", 4, {8, 7, 0, 0xD5}}, {"9.08.02 -1", 4, {9, 8, 2, 0xFF}},
        {"+3.-0", 4, {3, 0, 0xEE, 0xEE}}, {"5.- 1", 4, {5, 0xEE, 0xEE, 0xEE}}, {"-", 4, untouched, kNo}};
    for (const auto& v : versions) {  // the text exactly as long as it is: a look past it is caught
        const sim::Exact t(sim::bytes_of(v.text, std::strlen(v.text) + 1));
        sim::Bytes out(4, 0xEE);
        EXPECT_EQ(vxsysfs_save_version(reinterpret_cast<const char*>(t.get()), out.data(), v.numbers, 10), v.answer)
            << v.text;
        EXPECT_EQ(out, v.version) << v.text;
    }
    // The VPD fields: SysfsDiscovery.SerialNumberFromTheHostOrTheVpd.
}

// The records of every property query of the management API on one port, a line each, behind the statuses.
std::vector<std::string> properties(int h) {
    DEVICENODEPROPERTY n{};
    DEVICEPORTPROPERTY p{};
    DISCPORTPROPERTY dp{};
    DISCTARGETPROPERTY dt{};
    CHIPPROPERTY c{};
    DRIVERPROPERTY d{};
    FIRMWAREPROPERTY f{};
    CNAPORTPROPERTY cna{};
    SD_UINT32 cna_size = sizeof cna;
    std::vector<uint8_t> db(sizeof(DEVICEINFO) + 3 * sizeof(DEVICEINFOENTRY));
    auto* info = reinterpret_cast<PDEVICEINFO>(db.data());
    const std::vector<SD_UINT32> statuses = {
        SDGetHbaDeviceNodeProperty(h, &n), SDGetHbaDevicePortProperty(h, 0, &p),
        SDGetDiscPortProperty(h, 0, 0, 0, &dp), SDGetDiscTargetProperty(h, 0, 0, 0, &dt),
        SDGetHbaDeviceChipProperty(h, &c), SDGetHbaDeviceDriverProperty(h, &d), SDGetHbaDeviceFirmwareProperty(h, &f),
        SDGetPortDatabase(h, 1, info, static_cast<SD_UINT32>(db.size())),
        SDGetCnaPortData(h, 0, SD_CNA_GET_PORT_ID, reinterpret_cast<SD_PUINT8>(&cna), &cna_size)};
    std::string database = line("%u/%u", info->TotalDevices, info->ReturnListEntryCount);
    for (uint32_t i = 0; i < info->ReturnListEntryCount && i < 4; ++i) {
        database += line(" %02x:%u", info->EntryList[i].PortWWN[7], info->EntryList[i].TargetAddress.TargetID);
    }
    return {hex(statuses.data(), statuses.size() * sizeof(SD_UINT32)),
            line("%s %s %s %s %s %s %s %u/%u %x fw %s efi %s", hex(n.WWN, 8).c_str(), n.Manufacturer, n.Model,
                 n.SerialNumber, n.DriverVersion, n.FirmwareVersion, n.OptionRomVersion, n.NumberOfPorts,
                 n.InterfaceType, n.BIValid, hex(n.BIFwVersion, 4).c_str(), hex(n.BIEfiVersion, 4).c_str()),
            line("%s %s %u %u %u ports %u targets %u speed %u link %u", hex(p.WWN, 8).c_str(),
                 hex(p.PortID, 3).c_str(), p.PortType, p.PortState, p.ConnectionMode, p.DiscPortCount,
                 p.DiscTargetCount, p.PortSpeed, p.LinkState1),
            line("%s %s %s %u %u %x", hex(dp.NodeWWN, 8).c_str(), hex(dp.PortWWN, 8).c_str(),
                 hex(dp.PortID, 3).c_str(), dp.PortType, dp.TargetID, dp.LoopID),
            line("%s %u %u", hex(dt.PortWWN, 8).c_str(), dt.PortType, dt.TargetID),
            line("%04x %04x bus %u fn %u rev %u irq %u link %x %x port %u", c.VendorID, c.DeviceID, c.PciBusNumber,
                 c.PciSlotNumber, c.ChipType, c.InterruptLevel, c.PcieLinkCap, c.PcieLinkStat, c.PortNumber),
            line("%s %u %u %u %x %u", d.Version, d.NumberOfBus, d.TargetsPerBus, d.LunsPerTarget,
                 d.MaximumTransferLen, d.MaximumDataSegments),
            hex(f.Version, 4), database,
            line("%u %s %x", cna.VLanId, hex(cna.VNPortMACAddress, 6).c_str(), cna.FabricParam)};
}

// Every property query on the physical port (host 5) and the virtual port (host 8) of a converged adapter served
// through sysfs: the records reach the caller as the attribute files give them.
TEST(SysfsQuery, EveryPropertyQueryOnPhysicalAndVirtualPort) {
    sysfstest::SysfsRig rig(0x8021, [](sim::SysfsAdapter& a) {
        a.flash = boot_code_flash();
        a.functions[0].host.rports = remote_ports();
        a.functions[0].vports = {8};
        sim::SysfsRemotePort r = remote_ports()[0];
        r.port_name = "0x2100000000000099";
        r.luns = {{0, "sdx", 9, {}}};
        a.functions[0].vports[0].rports = {r};
    });
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);  // the count loads the library and discovers
    EXPECT_EQ(SDGetNumberOfAdapters(), 2u);
    int physical = -1, virtual_port = -1;
    ASSERT_EQ(SDOpenDevice(0, &physical), 0u);
    ASSERT_EQ(SDOpenDevice(1, &virtual_port), 0u);
    ASSERT_EQ(check_handle(static_cast<uint32_t>(virtual_port)), rig.port(8));
    std::vector<std::string> want = {
        std::string(72, '0'),
        "200000e08b000005 Varnix Corporation VX2562 SIM0000A00001 10.02.00.100-k 8.07.00 (d0d5) 3.07 1/1 3 fw "
        "08023412 efi 02050000",
        "210000e08b000005 010500 1 1 1 ports 4 targets 2 speed 8 link 3",
        "2000000000000011 2100000000000011 010211 2 0 ffff",
        "2100000000000011 2 0",
        "7a5a 8021 bus 3 fn 0 rev 2 irq 35 link a442 1042 port 1",
        "10.02.00.100-k 1 512 256 ffffffff 128",
        "08070000",
        "3/3 11:0 14:300 15:4",
        "1002 0302011e0e00 8000"};
    EXPECT_EQ(properties(physical), want);
    want[1] = "200000e08b000008 Varnix Corporation VX2562 SIM0000A00001 10.02.00.100-k 8.07.00 (d0d5) 3.07 1/3 3 fw "
              "08023412 efi 02050000";
    want[2] = "210000e08b000008 010800 1 1 1 ports 1 targets 1 speed 8 link 3";
    want[3] = "2000000000000011 2100000000000099 010211 2 0 ffff";
    want[4] = "2100000000000099 2 0";
    want[8] = "1/1 99:0";
    EXPECT_EQ(properties(virtual_port), want);
    for (int h : {physical, virtual_port}) EXPECT_EQ(SDCloseDevice(h), 0u);
}
}  // namespace

// The queries of sysfs ports against simulated sysfs-mode adapters, on the
// port records discovery makes of them: the node with its boot-code versions
// from attributes, VPD, function 0's host and flash, the port, discovered
// ports and targets, summary, SCSI address, chip, region versions and the
// OS device names of a LUN.
#include "core/vx_sem.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_sysfs_adapters.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_query.h"

namespace {

using Change = std::function<void(sim::SysfsAdapter&)>;

template <size_t N>
void text(uint8_t (&field)[N], const std::string& value) {
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), std::min(value.size(), N - 1));
}

// The flash of a converged adapter: a BIOS image of 0x40 blocks and an EFI
// image at 0x80000, the firmware header at 0x100000.
sim::Bytes boot_code_flash() {
    sim::Bytes flash = sim::blank_flash(0x200000);
    sim::place(flash, 0x80000, sim::build_rom_chain({sim::bios_image(3, 7, 0x40), sim::efi_image(2, 5)}).bytes);
    sim::place(flash, 0x100000, {0x03, 0x00, 0x40, 0x40, 8, 2, 0x34, 0x12});
    return flash;
}

// Remote ports of host 5: targets online (1, 4, 5), offline (2), an
// initiator (3); SCSI devices of target ids 0, 1, 1, 300, 4, 4.
std::vector<sim::SysfsRemotePort> remote_ports() {
    const auto r = [](unsigned n, std::optional<unsigned> tid, const char* roles, const char* state,
                      std::vector<sim::SysfsLun> luns) {
        sim::SysfsRemotePort p;
        p.number = n;
        p.node_name = "0x20000000000000" + std::to_string(10 + n);
        p.port_name = "0x21000000000000" + std::to_string(10 + n);
        p.port_id = "0x0102" + std::to_string(10 + n);
        p.target_id = tid;
        p.roles = roles;
        p.port_state = state;
        p.luns = std::move(luns);
        return p;
    };
    return {r(1, 0, "FCP Target", "Online", {{0, "sdc", 3, {"tape0"}}}),
            r(2, 1, "FCP Target", "Blocked", {{0, "sdd", 4, {}}, {1, "sde", 5, {}}}),
            r(3, std::nullopt, "FCP Initiator", "Online", {}),
            r(4, 300, "FCP Target", "Online", {{0, "sdf", 6, {}}}),
            r(5, 4, "FCP Target", "Online", {{7, "sdg", 7, {}}, {4, "sdh", 8, {}}})};
}

// A host with one adapter of the chip (host 5), changed, and the port
// records discovery makes of it.
struct Rig {
    explicit Rig(uint16_t device, const Change& change = {}) {
        shtest::reset_shared_state();
        sim::SysfsAdapter a = sim::sysfs_adapter(device);
        if (change) change(a);
        sim::SysfsSetup setup;
        setup.adapters = {a};
        fabric = sim::install_sysfs_adapters(host, setup);
        uint32_t count = 0;
        EXPECT_EQ(vxsysfs_init(), 0);
        vxsysfs_supported_driver_exist(&count);
        api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);
        for (auto& [host_no, window] : fabric.windows) window->controls.clear();
    }
    ~Rig() {
        if (api_flash_sem_id >= 0) vxapi_sem_del(api_flash_sem_id);
        shtest::reset_shared_state();
        sysfs_mnt_path[0] = '\0';
        vxdbg_reset();
    }
    static vxapi_priv_database* port(unsigned host_no) {
        for (vxapi_priv_database* p : sim::listed_ports()) {
            if (p->host_no == host_no) return p;
        }
        return nullptr;
    }
    bool traced(const std::string& t) const { return host.stderr_text().find(t) != std::string::npos; }
    sim::SimHost host;
    sim::SysfsFabric fabric;
};

Change scsi(const std::string& name, const std::string& value) {
    return [=](sim::SysfsAdapter& a) { a.functions[0].host.scsi_host[name] = value; };
}
Change fc(const std::string& name, const std::string& value) {
    return [=](sim::SysfsAdapter& a) { a.functions[0].host.fc_host[name] = value; };
}
Change with_rports = [](sim::SysfsAdapter& a) { a.functions[0].host.rports = remote_ports(); };

// Remote port n of remote_ports() as a discovered port.
EXT_DISC_PORT disc(uint8_t n, uint16_t target_id) {
    EXT_DISC_PORT d{};
    const uint8_t wwnn[8] = {0x20, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(0x10 + n)};
    std::memcpy(d.WWNN, wwnn, 8);
    std::memcpy(d.WWPN, wwnn, 8);
    d.WWPN[0] = 0x21;
    const uint8_t id[4] = {0, 1, 2, static_cast<uint8_t>(0x10 + n)};
    std::memcpy(d.Id, id, 4);
    d.TargetId = target_id;
    d.Type = 2;
    d.LoopID = 0xFFFF;
    return d;
}

// The node of the default attributes of host 5 of a 0x2532.
EXT_HBA_NODE default_node() {
    EXT_HBA_NODE n{};
    const uint8_t wwnn[8] = {0x20, 0, 0, 0xe0, 0x8b, 0, 0, 5};
    std::memcpy(n.WWNN, wwnn, 8);
    text(n.Manufacturer, "Varnix Corporation");
    text(n.Model, "VX2562");
    n.SerialNum[1] = 1;  // SIM0000A00001
    text(n.DriverVersion, "10.02.00.100-k");
    text(n.FWVersion, "8.07.00 (d0d5)");
    text(n.OptRomVersion, "3.56");
    n.InterfaceType = 1;
    n.BIValid = 7;
    const uint8_t fw[4] = {8, 7, 0, 0}, efi[4] = {6, 17, 0, 0}, fcode[4] = {4, 10, 0, 0};
    std::memcpy(n.BIFwVersion, fw, 4);
    std::memcpy(n.BIEfiVersion, efi, 4);
    std::memcpy(n.BIFCodeVersion, fcode, 4);
    return n;
}

TEST(SysfsQuery, NodeFromAttributesVpdFunctionZeroAndFlash) {
    const std::string long_v4(130, '9');
    // No boot-code attributes; the VPD holds the versions, two of them
    // filling the buffers they are read into.
    const Change vpd_versions = [&](sim::SysfsAdapter& a) {
        for (const char* n : {"optrom_bios_version", "optrom_fcode_version", "optrom_efi_version", "optrom_fw_version"})
            a.functions[0].host.scsi_host[n] = "";
        sim::VpdContents v;
        v.read_only = {sim::keyword("SN", "X1"), sim::keyword("V4", long_v4), sim::keyword("V5", "4.11            "),
                       sim::keyword("V1", "6.18"), sim::keyword("V3", "8.7.1")};
        v.size = 512;
        a.vpd = sim::build_vpd(v).bytes;
    };
    const auto serial = [](uint8_t b0, uint8_t b1, uint8_t b2) {
        return [=](EXT_HBA_NODE& n) {
            const uint8_t s[4] = {b0, b1, b2, 0};
            std::memcpy(n.SerialNum, s, 4);
        };
    };
    const struct Case {
        const char* what;
        uint16_t device;
        Change change;
        std::function<void(EXT_HBA_NODE&)> expect;
        unsigned host_no = 5;
        std::vector<std::string> controls = {};
    } cases[] = {
        {"attributes", 0x2532, {}, [](EXT_HBA_NODE&) {}},
        {"serial A12345", 0x2532, scsi("serial_num", "VX00000A12345"), serial(0x00, 0x39, 0x30)},
        {"serial D00007", 0x2532, scsi("serial_num", "VX00000D00007"), serial(0x04, 0xE7, 0x93)},
        {"serial too short", 0x2532, scsi("serial_num", "VX0000A"), serial(0, 0, 0)},
        {"serial without letter", 0x2532, scsi("serial_num", "VX00000912345"), serial(0, 0, 0)},
        {"serial without number", 0x2532, scsi("serial_num", "VX00000AB"), serial(0, 0, 0)},
        {"versions from the VPD", 0x2532, vpd_versions,
         [&](EXT_HBA_NODE& n) {
             text(n.OptRomVersion, long_v4);  // cut to keep its terminator
             n.BIFCodeVersion[1] = 11;
             n.BIEfiVersion[1] = 18;
             n.BIFwVersion[2] = 1;
         }},
        {"no VPD versions on this chip", 0x2031, vpd_versions,
         [](EXT_HBA_NODE& n) {
             std::memset(n.OptRomVersion, 0, sizeof n.OptRomVersion);
             std::memset(n.BIFwVersion, 0, 12);
             n.BIValid = 0;
         }},
        {"running MPI and PEP", 0x2071, {},
         [](EXT_HBA_NODE& n) {
             const uint8_t mpi[4] = {1, 2, 3, 0}, pep[4] = {4, 5, 6, 0};
             std::memcpy(n.BIMpiFwVersion, mpi, 4);
             std::memcpy(n.BIPepFwVersion, pep, 4);
             n.BIValid |= 0x18;
         }},
        {"function 1 reads function 0's host", 0x2532,
         [](sim::SysfsAdapter& a) {
             a.functions.push_back(sim::SysfsFunction{6, {}});
             a.functions[0].host.scsi_host["optrom_bios_version"] = "9.99";
         },
         [](EXT_HBA_NODE& n) {
             n.WWNN[7] = 6;
             text(n.OptRomVersion, "9.99");
         },
         6},
        {"flash through the window", 0x8021, [](sim::SysfsAdapter& a) { a.flash = boot_code_flash(); },
         [](EXT_HBA_NODE& n) {
             text(n.OptRomVersion, "3.07");
             const uint8_t fw[4] = {8, 2, 0x34, 0x12}, efi[4] = {2, 5, 0, 0}, none[4] = {};
             std::memcpy(n.BIFwVersion, fw, 4);
             std::memcpy(n.BIEfiVersion, efi, 4);
             std::memcpy(n.BIFCodeVersion, none, 4);
             n.BIValid = 3;
         },
         5, {"1:80000:100", "0", "1:88000:100", "0", "1:100000:20", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.device, c.change);
        EXT_HBA_NODE expected = default_node();
        c.expect(expected);
        EXT_HBA_NODE node;
        std::memset(&node, 0xA5, sizeof node);
        uint32_t status = 0xDEAD;
        ASSERT_EQ(vxsysfs_query_hbanode(-1, rig.port(c.host_no), &node, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(sim::bytes_of(&node, sizeof node), sim::bytes_of(&expected, sizeof expected));
        EXPECT_EQ(rig.fabric.windows.at(5)->controls, c.controls);
    }
}


TEST(SysfsQuery, PortFromScsiAndFcHost) {
    const auto state = [](uint16_t st, uint16_t mode, uint16_t topology) {
        return [=](EXT_HBA_PORT& p) {
            p.State = st;
            p.Mode = mode;
            p.Topology = topology;
        };
    };
    const struct Case {
        const char* what;
        uint16_t device;
        std::vector<Change> changes;
        std::function<void(EXT_HBA_PORT&)> expect;
    } cases[] = {
        {"defaults", 0x2532, {}, [](EXT_HBA_PORT&) {}},
        {"state when link_state is empty", 0x2532, {scsi("link_state", ""), scsi("state", "Link Up - Loop")},
         state(0, 2, 1)},
        {"link down", 0x2532, {scsi("link_state", "Link Down")}, state(2, 0, 0)},
        {"unknown link text", 0x2532, {scsi("link_state", "Link Up - Elsewhere")}, state(2, 0, 0)},
        {"16 Gbit", 0x2532, {fc("speed", "16 Gbit")}, [](EXT_HBA_PORT& p) { p.PortSpeed = 0x16; }},
        {"unknown speed", 0x2532, {fc("speed", "3 Gbit")}, [](EXT_HBA_PORT& p) { p.PortSpeed = 0; }},
        {"fabric name all ones", 0x2532, {fc("fabric_name", "0xffffffffffffffff")},
         [](EXT_HBA_PORT& p) { std::memset(p.FabricName, 0, 8); }},
        {"fabric name of the port's node", 0x2532, {fc("fabric_name", "0x200000e08b000005")},
         [](EXT_HBA_PORT& p) { std::memset(p.FabricName, 0, 8); }},
        {"firmware state words", 0x2532, {scsi("fw_state", "0x4 0x5 0x6 0x7 0x8 0x9")},
         [](EXT_HBA_PORT& p) {
             p.LinkState1 = 4;
             p.LinkState2 = 5;
             p.LinkState3 = 6;
             p.LinkState6 = 9;
         }},
        {"older chip", 0x2422, {},
         [](EXT_HBA_PORT& p) {
             p.PortSupportedSpeed = 4;
             p.LinkState1 = 0;
         }},
        {"targets counted", 0x2532, {with_rports},
         [](EXT_HBA_PORT& p) {
             p.DiscPortCount = 4;    // online or not
             p.DiscTargetCount = 2;  // 0 and 1: the count ends at 300
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.device, [&](sim::SysfsAdapter& a) {
            for (const Change& change : c.changes) change(a);
        });
        EXT_HBA_PORT expected{};
        const uint8_t wwpn[8] = {0x21, 0, 0, 0xe0, 0x8b, 0, 0, 5}, id[4] = {0, 1, 5, 0},
                      fabric[8] = {0x10, 0, 0, 0x05, 0x1e, 0, 0, 1};
        std::memcpy(expected.WWPN, wwpn, 8);
        std::memcpy(expected.Id, id, 4);
        std::memcpy(expected.FabricName, fabric, 8);
        expected.Type = 1;
        expected.DiscPortNameType = 2;
        expected.PortSupportedFC4Types = expected.PortActiveFC4Types = 3;
        expected.PortSupportedSpeed = expected.PortSpeed = 8;
        expected.Mode = 1;
        expected.Topology = 8;
        expected.LinkState1 = 3;
        c.expect(expected);
        EXT_HBA_PORT port;
        uint32_t status = 0xDEAD;
        ASSERT_EQ(vxsysfs_query_hbaport(-1, rig.port(5), &port, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(sim::bytes_of(&port, sizeof port), sim::bytes_of(&expected, sizeof expected));
    }
}

// Discovered ports and targets, the summary, the SCSI address, the first LUN.
TEST(SysfsQuery, RemotePortsAndTargets) {
    Rig rig(0x2532, with_rports);
    vxapi_priv_database* p = rig.port(5);
    const EXT_DISC_PORT none{};
    const std::pair<uint16_t, EXT_DISC_PORT> ports[] = {{0, disc(1, 0)}, {1, disc(4, 300)}, {2, disc(5, 4)}, {3, none}};
    for (const auto& [index, expected] : ports) {
        EXT_DISC_PORT got;
        uint32_t status = 0xDEAD;
        vxsysfs_query_discport(-1, p, index, &got, &status);
        EXPECT_EQ(status, index < 3 ? 0u : 9u) << index;
        EXPECT_EQ(sim::bytes_of(&got, sizeof got), sim::bytes_of(&expected, sizeof expected)) << index;
    }
    const std::tuple<uint16_t, uint8_t, uint16_t> targets[] = {{4, 5, 2}, {1, 2, 2}, {300, 4, 1}, {9, 0, 0}};
    for (const auto& [tid, rport, luns] : targets) {
        EXT_DISC_TARGET got;
        uint32_t status = 0xDEAD;
        vxsysfs_query_disctgt(-1, p, tid, &got, &status);
        EXT_DISC_TARGET expected{};
        if (rport != 0) {
            const EXT_DISC_PORT d = disc(rport, tid);
            std::memcpy(&expected, &d, 24);  // names, id, type
            expected.TargetId = tid;
            expected.LunCount = luns;
        }
        EXPECT_EQ(status, rport != 0 ? 0u : 9u) << tid;
        EXPECT_EQ(sim::bytes_of(&got, sizeof got), sim::bytes_of(&expected, sizeof expected)) << tid;
    }
    // Room for two of the three online targets; no room; not even the head.
    for (uint32_t size : {8u + 2 * 172, 8u, 4u}) {
        SCOPED_TRACE(size);
        sim::Exact buffer(sim::Bytes(size, 0xA5));
        uint32_t status = 0xDEAD, detail = 0xDEAD;
        vxsysfs_get_port_summary(-1, p, nullptr, reinterpret_cast<EXT_DEVICEDATA*>(buffer.get()), size, &status,
                                 &detail);
        sim::Bytes expected(size, 0xA5);
        if (size >= 8) {
            const uint32_t n = (size - 8) / 172;
            std::fill(expected.begin(), expected.begin() + 8, 0);
            expected[0] = expected[4] = static_cast<uint8_t>(n);
            for (uint32_t i = 0; i < n; ++i) {
                const EXT_DISC_PORT d = disc(i == 0 ? 1 : 4, i == 0 ? 0 : 300);
                EXT_DEVICEDATAENTRY e{};
                std::memcpy(e.NodeWWN, d.WWNN, 16);
                std::memcpy(e.PortID, d.Id + 1, 3);
                e.TargetAddress.Target = d.TargetId;
                e.LoopID = 0xFFFF;
                std::memcpy(&expected[8 + i * 172], &e, sizeof e);
            }
        }
        EXPECT_EQ(buffer.bytes(), expected);
        EXPECT_EQ(status, size == 8 ? 9u : size == 4 ? 16u : 0u);
        EXPECT_EQ(detail, size > 8 ? 0u : 0xDEADu);
    }
    EXT_SCSI_ADDR addr{};
    uint32_t status = 0xDEAD;
    vxsysfs_wwpn_to_scsiaddr(-1, p, disc(5, 4).WWPN, 8, &addr, &status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(addr.Target, 4);
    vxsysfs_wwpn_to_scsiaddr(-1, p, disc(6, 4).WWPN, 8, &addr, &status);
    EXPECT_EQ(status, 9u);
    EXPECT_EQ(vxsysfs_get_first_lun(5, 4), 4);  // 5:0:4:4 is listed before 5:0:4:7
    EXPECT_EQ(vxsysfs_get_first_lun(5, 9), 0);
}

TEST(SysfsQuery, DeviceNamesOfALun) {
    Rig rig(0x2532, with_rports);
    rig.host.make_symlink("tape0", "/dev/disk0");  // a chain to the block node
    rig.host.make_symlink("loopb", "/dev/loopa");  // and a loop
    rig.host.make_symlink("loopa", "/dev/loopb");
    uint8_t names[VXSYSFS_DEVNAME_SIZE];
    EXPECT_EQ(vxsysfs_get_devname(rig.port(5), 0, 0, names), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(names), "/dev/sdc;/dev/disk0;/dev/tape0;/dev/sg3;");
    EXPECT_EQ(vxsysfs_get_devname(rig.port(5), 9, 0, names), 1);
    EXPECT_STREQ(reinterpret_cast<char*>(names), "");
    // The walk stops at the first name that would take the list past 254
    // characters.
    for (int i = 10; i < 30; ++i) rig.host.make_symlink("sdc", "/dev/sdc_alias_" + std::to_string(i));
    EXPECT_EQ(vxsysfs_get_devname(rig.port(5), 0, 0, names), 0);
    const std::string list = reinterpret_cast<char*>(names);
    EXPECT_EQ(list.size(), 254u);  // sdc, disk0 and 13 aliases of 18 characters
    EXPECT_EQ(list.find("sg3"), std::string::npos);
}

TEST(SysfsQuery, ChipWithItsPciExpressCapability) {
    const struct Case {
        const char* what;
        std::function<void(sim::Bytes&)> config;
        uint32_t link_cap;
        uint16_t link_stat;
    } cases[] = {
        {"capability list", [](sim::Bytes&) {}, 0xa442, 0x1042},
        {"no capability list", [](sim::Bytes& c) { c[6] = 0; }, 0, 0},
        {"a list without PCI Express", [](sim::Bytes& c) { c[0x41] = 0; }, 0, 0},
        {"a list that loops", [](sim::Bytes& c) { c[0x41] = 0x40; }, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(0x2532, [&](sim::SysfsAdapter& a) {
            a.config = sim::pci_config(a.vendor_id, a.device_id);
            c.config(a.config);
            a.functions.push_back(sim::SysfsFunction{6, {}});
        });
        for (unsigned host_no : {5u, 6u}) {
            EXT_CHIP expected{};
            expected.VendorId = VX_PCI_VENDOR_MAKER;
            expected.DeviceId = 0x2532;
            expected.PciBusNumber = 3;
            expected.PciDevFunc = static_cast<uint16_t>(host_no - 5);
            expected.ChipType = 2;
            expected.InterruptLevel = 0x35;  // "35" read as hexadecimal
            expected.PcieLinkCap = c.link_cap;
            expected.PcieLinkStat = c.link_stat;
            EXT_CHIP chip;
            uint32_t status = 0xDEAD;
            vxsysfs_query_chip(-1, rig.port(host_no), &chip, &status);
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(sim::bytes_of(&chip, sizeof chip), sim::bytes_of(&expected, sizeof expected)) << host_no;
        }
    }
}

TEST(SysfsQuery, DriverFirmwareConvergedPortAndRegionVersions) {
    Rig rig(0x8031, [](sim::SysfsAdapter& a) {
        scsi("fw_version", "5.06.05 (x)")(a);
        scsi("vlan_id", "1002")(a);
        scsi("fabric_param", "513")(a);
    });
    vxapi_priv_database* p = rig.port(5);
    EXT_DRIVER driver{};
    uint32_t status = 0xDEAD;
    p->features |= VX_FEAT_LUN_4096;
    vxsysfs_query_driver(-1, p, &driver, &status);
    EXPECT_EQ(status, 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(driver.Version), "10.02.00.100-k");
    EXPECT_EQ(std::make_tuple(driver.NumOfBus, driver.TargetsPerBus, driver.LunsPerTarget, driver.MaxTransferLen,
                              driver.MaxDataSegments),
              std::make_tuple(1, 512, 4096, 0xFFFFFFFFu, 128u));
    EXT_FW fw{};
    vxsysfs_query_fw(-1, p, &fw, &status);
    EXPECT_EQ(sim::bytes_of(fw.Version, 4), (sim::Bytes{5, 6, 5, 0}));
    EXT_CNA_PORT cna;
    vxsysfs_query_cnaport(-1, p, &cna, &status);
    EXT_CNA_PORT expected{1002, {0x03, 0x02, 0x01, 0x1e, 0x0e, 0x00}, 513, 0, {}};
    EXPECT_EQ(sim::bytes_of(&cna, sizeof cna), sim::bytes_of(&expected, sizeof expected));

    // Entries only below the caller's count, whatever Length the list counts.
    const auto entry = [](uint16_t region, uint8_t a, uint8_t b, uint8_t c) {
        EXT_REGIONVERSION e{region, 0, 1, 3, {a, b, c}, {}};
        return sim::bytes_of(&e, sizeof e);
    };
    const sim::Bytes mpi = entry(0x40, 1, 2, 3), phy = entry(0x45, 7, 8, 9);
    const struct Case {
        uint16_t device;
        uint32_t count, length;
        uint32_t status, new_length;
        std::vector<sim::Bytes> entries;
    } cases[] = {{0x8031, 2, 0, 0, 2, {mpi, phy}}, {0x8031, 1, 0, 9, 1, {mpi}}, {0x8031, 1, 1, 9, 2, {mpi}},
                 {0x8031, 0, 0, 9, 0, {}},         {0x2532, 2, 0, 9, 0, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " entries, length " + std::to_string(c.length));
        p->phy_info->device_id = c.device;
        sim::Bytes list(vx_region_version_list_size(std::max(c.count, 1u)), 0xA5);
        std::memcpy(list.data(), &c.length, 4);
        sim::Exact buffer(list);
        vxsysfs_query_adapter_versions(-1, p, reinterpret_cast<EXT_ADAPTERREGIONVERSION*>(buffer.get()),
                                       const_cast<uint32_t*>(&c.count), &status);
        std::memcpy(list.data(), &c.new_length, 4);
        for (size_t i = 0; i < c.entries.size(); ++i) std::copy(c.entries[i].begin(), c.entries[i].end(), &list[8 + 24 * i]);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(buffer.bytes(), list);
    }
}

TEST(SysfsQuery, VersionTextsAndVpdFields) {
    const struct {
        const char* text;
        int numbers;
        sim::Bytes version;
    } versions[] = {{"4.2.1.0", 4, {4, 2, 1, 0}}, {"4.10", 4, {4, 10, 0xEE, 0xEE}}, {"1.2.3", 2, {1, 2, 0xEE, 0xEE}},
                    {"7", 4, {7, 0xEE, 0xEE, 0xEE}}};
    for (const auto& v : versions) {
        // The text exactly as long as it is: a look past its terminator is caught.
        const sim::Exact t(sim::bytes_of(v.text, std::strlen(v.text) + 1));
        sim::Bytes out(4, 0xEE);
        vxsysfs_save_version(reinterpret_cast<const char*>(t.get()), out.data(), v.numbers, 10);
        EXPECT_EQ(out, v.version) << v.text;
    }
    // The VPD's real size: 1024 bytes on this chip, where a field may reach
    // past byte 512; a shorter VPD is not read.
    for (size_t size : {1024u, 512u}) {
        Rig rig(0x8031, [&](sim::SysfsAdapter& a) {
            sim::VpdContents v;
            v.read_only = {sim::keyword("PN", std::string(250, 'P')), sim::keyword("EC", std::string(221, 'E')),
                           sim::keyword("SN", "SERIAL-NUMBER-TAIL01")};  // at bytes 503 to 522
            v.size = size;
            a.vpd = sim::build_vpd(v).bytes;
        });
        uint8_t serial[32];
        EXPECT_EQ(vxsysfs_get_field_from_vpd(rig.port(5), serial, sizeof serial,
                                             reinterpret_cast<const uint8_t*>("SN"), 2), 0);
        EXPECT_STREQ(reinterpret_cast<char*>(serial), size == 1024 ? "SERIAL-NUMBER-TAIL01" : "") << size;
    }
}

// The flash window: never opened without the flash lock, nor for a request
// that does not fit the buffer.
TEST(SysfsQuery, FlashWindowOnlyUnderTheLock) {
    Rig rig(0x8021, [](sim::SysfsAdapter& a) { a.flash = boot_code_flash(); });
    rig.host.set_env("VX_FCAPI_DEBUG", "200");
    vxapi_set_debug_level();
    uint8_t buffer[16] = {};
    vxsysfs_read_flash(-1, rig.port(5), 0x80000, 17, buffer, sizeof buffer);
    vxsysfs_read_flash(-1, rig.port(5), 0x80000, 0, buffer, sizeof buffer);
    EXPECT_TRUE(rig.traced("> Invalid parameter"));
    vxapi_sem_del(api_flash_sem_id);
    api_flash_sem_id = -1;
    vxsysfs_read_flash(-1, rig.port(5), 0x80000, sizeof buffer, buffer, sizeof buffer);
    EXPECT_TRUE(rig.traced("> READ: Flash lock failed"));
    EXT_HBA_NODE node;
    uint32_t status;
    vxsysfs_query_hbanode(-1, rig.port(5), &node, &status);
    EXPECT_EQ(node.BIValid, 0u);
    EXPECT_TRUE(rig.fabric.windows.at(5)->controls.empty());
    EXPECT_EQ(buffer[0], 0);
}
}  // namespace

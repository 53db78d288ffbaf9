// Discovery of ports through the new and the old ioctl drivers.
#include <sys/sysmacros.h>

#include <algorithm>

#include "base/vx_env.h"
#include "core/io/vx_query.h"
#include "core/life/vx_discovery.h"
#include "sim_adapters.h"
#include "sim_queries.h"
#include "sysfs_rig.h"
#include "test_support.h"

namespace {

using sim::adapter;
using sim::AdapterSetup;
using sim::DriverKind;
using sim::SimReply;
using sim::SimRequest;

constexpr uint8_t kQuery = 0x00;
constexpr uint16_t kQueryNode = 1;
constexpr uint16_t kQueryPort = 2;
constexpr uint16_t kQueryChip = 8;

// An adapter with its serial sources.
AdapterSetup serial_adapter(uint16_t device_id, uint16_t ssvendor, uint16_t ssdevice, std::array<uint8_t, 4> bytes,
                           const char* reserved = "", const char* vpd = "") {
    AdapterSetup a = adapter(device_id);
    a.ssvendor_id = ssvendor;
    a.ssdevice_id = ssdevice;
    a.serial_bytes = bytes;
    a.reserved_text = reserved;
    a.vpd_serial = vpd;
    return a;
}

// A host of its own with the library's state reset, for each case of a table.
struct Rig {
    explicit Rig(std::vector<AdapterSetup> adapters = {}) {
        vxdbg_reset();
        OS_Type = VX_OS_OTHER;
        is_vioctlmod_loaded = 0;
        setup.adapters = std::move(adapters);
    }
    ~Rig() {
        vxapi_free_api_priv_data_mem();
        vxapi_free_api_phy_info_mem();
    }
    sim::Fabric install() { return sim::install_adapters(host, driver, setup); }
    // The road's result and the port count, which each road adds to.
    std::pair<int, uint32_t> find(std::optional<DriverKind> kind = std::nullopt) {
        const int result = kind.value_or(setup.kind) == DriverKind::New
                               ? vxapi_find_all_instances_n("vxa2xxx", &counter)
                               : vxapi_find_all_instances_o("vxa2x00", &counter);
        return {result, counter};
    }
    sim::FabricSetup setup;
    uint32_t counter = 0;
    sim::SimHost host;
    sim::SimDriver driver;
};

size_t function_count() { return api_phy_info != nullptr ? api_phy_info->count : 0; }

std::string text(const uint8_t* field) { return reinterpret_cast<const char*>(field); }

TEST(Discovery, OldDriverTakesTheShortHeaderAndKeepsPortsWhoseDriverSpecificsFail) {
    Rig rig({serial_adapter(0x2312, VX_PCI_SUBVENDOR_OEM, 0x12C2, {0x21, 0x40, 0xE2, 0}, "OEMSER01")});
    rig.setup.kind = DriverKind::Old;
    rig.setup.flags = EXT_DEF_LUN_4096 | EXT_DEF_FLAG_8;
    rig.setup.adapters[0].ports = 2;
    rig.install();
    // The second port refuses driver specifics, leaving a new driver's bytes all the same.
    rig.driver.on(0xFC, [](const SimRequest& r) {
        SimReply reply = SimReply::with_record(r.port->driver_data);
        if (r.port->instance == 1) reply.status = 1;
        return reply;
    });

    EXPECT_EQ(rig.find(), std::pair(0, 2u));
    for (const sim::SimLogEntry& e : rig.driver.log()) EXPECT_EQ(e.code & 0xFFFFFF00u, 0xC0087900u);
    const auto ports = sim::listed_ports();
    ASSERT_EQ(ports.size(), 2u);
    constexpr uint32_t kFlags = VX_FEAT_IOCTL | VX_FEAT_LUN_4096 | VX_FEAT_DRV_FLAG_8;
    for (uint32_t i = 0; i < 2; ++i) {
        const vxapi_priv_database* p = ports[i];
        SCOPED_TRACE(i);
        // No topology, state or port number; the serial never from Reserved
        // (mask 0x1F); a refused answer reads as no driver: no flags.
        EXPECT_EQ(text(p->phys_path), "/proc/scsi/vxa2x00/HbaApiNode");
        EXPECT_EQ(std::tuple(p->drvr_inst, p->host_no, p->state, p->phy_info->port_number),
                  std::tuple(i, rig.driver.find_port(static_cast<uint16_t>(i))->host_no, 0, uint8_t{0}));
        EXPECT_EQ(p->features & (kFlags | VX_FEAT_NEW_IOCTL), i == 0 ? kFlags : 0u);
        EXPECT_EQ(text(p->phy_info->serial_num), "B23456");
    }
}

TEST(Discovery, DriverVersionGatesTheFlagBits) {
    struct Case { EXT_LN_DRV_VERSION version; uint32_t flags; int vioctlmod; uint32_t bits; };
    const uint32_t both = VX_FEAT_LUN_4096 | VX_FEAT_DRV_FLAG_8;
    const Case cases[] = {
        {{8, 1, 6, 0, {}}, 0xC, 0, 0},   {{8, 1, 7, 0, {}}, 0xC, 0, both},
        {{8, 0, 9, 0, {}}, 0xC, 0, 0},   {{8, 2, 0, 0, {}}, 0xC, 0, both},
        {{7, 7, 5, 0, {}}, 0xC, 0, 0},   {{7, 7, 6, 0, {}}, 0xC, 0, both},
        {{7, 6, 9, 0, {}}, 0xC, 0, 0},   {{7, 8, 0, 0, {}}, 0xC, 0, both},
        {{6, 9, 9, 0, {}}, 0xC, 0, 0},   {{9, 0, 0, 0, {}}, 0x4, 0, VX_FEAT_LUN_4096},
        {{9, 0, 0, 0, {}}, 0x8, 0, VX_FEAT_DRV_FLAG_8}, {{9, 0, 0, 0, {}}, 0xC, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.version.Major) << "." << int(c.version.Minor) << "."
                                        << int(c.version.Patch) << " " << c.flags << " " << c.vioctlmod);
        Rig rig({adapter(0x2312, 2)});
        is_vioctlmod_loaded = c.vioctlmod;
        rig.setup.version = c.version;
        rig.setup.flags = c.flags;
        sim::Fabric fabric = rig.install();
        // Once a driver instance is too old, the run stays gated.
        if (c.bits == 0) fabric.physical[1]->driver_data.DrvVer = EXT_LN_DRV_VERSION{9, 0, 0, 0, {}};
        ASSERT_EQ(rig.find().first, 0);
        for (const auto* p : sim::listed_ports()) EXPECT_EQ(p->features & both, c.bits);
    }
}

TEST(Discovery, UnsupportedDevicesAreDroppedWithoutTakingAnotherPortsFunction) {
    Rig rig({adapter(0x2312), adapter(0x1234)});
    sim::Fabric fabric = rig.install();
    // An unsupported device that claims the PCI function of the first port.
    const sim::SimPort& first = *fabric.physical[0];
    sim::SimPort& odd = sim::add_query_port(rig.driver, rig.driver.adapters[1]);
    odd.driver_data = first.driver_data;
    EXT_CHIP chip = sim::make_chip_record(rig.driver, odd);
    chip.PciBusNumber = first.pci_bus;
    chip.PciDevFunc = first.pci_dev_func;
    chip.DomainNr = first.pci_domain;
    odd.set_record(kQuery, kQueryChip, chip);
    EXPECT_EQ(rig.find(), std::pair(0, 1u));
    ASSERT_EQ(function_count(), 1u);
    EXPECT_EQ(sim::listed_ports().at(0)->phy_info->device_id, 0x2312);
}

TEST(Discovery, RoadThatEndsOnAFailedAttemptKeepsItsPortsAndLaterRoadsLeaveThem) {
    Rig rig({adapter(0x2312, 2)});
    rig.install();
    // Instance 0 cannot be selected: its count is still taken, instance 1 is kept.
    sim::refuse_instances(rig.driver, {0});
    EXPECT_EQ(rig.find(), std::pair(1, 1u));
    EXPECT_EQ(sim::listed_ports().at(0)->drvr_inst, 1u);

    // The next road finds no node and ends; the ports of the first stay.
    vx_debug = VXDBG_ERROR;
    EXPECT_EQ(rig.find(DriverKind::Old), std::pair(1, 1u));
    EXPECT_NE(rig.host.stderr_text().find("vxapi_find_all_instances_o: inst=1 device open failed, errno=2\n"),
              std::string::npos);
    EXPECT_EQ(sim::listed_ports().at(0)->phy_info->device_id, 0x2312);
    EXPECT_EQ(sim::listed_ports().size(), 1u);
}

TEST(Discovery, DriverNodeAndCount) {
    // proc_devices null: no such file; existing_node 0: as the driver made it;
    // node_after: the node's numbers at the end, nullopt: no node.
    struct Case { const char* what; bool class_file; const char* proc_devices; unsigned major; dev_t existing_node;
                  unsigned adapters; std::vector<std::string> mknods; int result; uint32_t ports;
                  std::optional<dev_t> node_after; };
    const Case cases[] = {
        {"count of 0", true, nullptr, 240, 0, 0, {}, 1, 0, makedev(240, 0)},
        {"later /proc/devices line", false, "240 vxa2xxx\n241 vxa2xxx\n", 241, 0, 1, {}, 0, 1, makedev(241, 0)},
        {"wrong major replaced", true, nullptr, 240, makedev(250, 0), 1, {"/dev/vxa2xxx 20600 240:0"}, 0, 1,
         makedev(240, 0)},
        {"zero device number: the old node goes", true, nullptr, 0, makedev(250, 0), 1, {}, 1, 0, std::nullopt},
        {"no device numbers", false, "", 240, 0, 1, {}, 1, 0, makedev(240, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(std::vector<AdapterSetup>(c.adapters, adapter(0x2312)));
        rig.setup.class_dev_file = c.class_file;
        rig.setup.major = c.major;
        rig.install();
        if (c.proc_devices != nullptr) rig.host.write_file("/proc/devices", c.proc_devices);
        if (c.existing_node != 0) rig.host.add_node("/dev/vxa2xxx", S_IFCHR | 0600, c.existing_node);
        EXPECT_EQ(rig.find(), std::pair(c.result, c.ports));
        EXPECT_EQ(rig.host.mknod_log(), c.mknods);
        const auto node = rig.host.node("/dev/vxa2xxx");
        EXPECT_EQ(node ? std::optional(node->rdev) : std::nullopt, c.node_after);
        EXPECT_EQ(rig.host.open_device_count(), 0u);
        if (c.adapters == 0) { EXPECT_EQ(rig.driver.log().size(), 1u); }  // the count request alone
    }
}

TEST(Discovery, SerialNumberRules) {
    struct Case { const char* what; DriverKind kind; AdapterSetup adapter; const char* serial; };
    const std::array<uint8_t, 4> bytes{0x21, 0x40, 0xE2, 0};  // 0x21 & 0x1F = 1: 123456
    const Case cases[] = {
        {"VPD of a later chip", DriverKind::New, serial_adapter(0x2432, 0, 0, bytes, "", "VPDSN42"), "VPDSN42"},
        {"later chip without VPD", DriverKind::New, serial_adapter(0x2432, 0, 0, bytes), "W20608"},
        {"OEM board", DriverKind::New, serial_adapter(0x2312, VX_PCI_SUBVENDOR_OEM, 0x12C9, bytes, "OEMSER01"),
         "OEMSER01"},
        {"maker board", DriverKind::New, serial_adapter(0x2312, VX_PCI_VENDOR_MAKER, 0x0131, bytes, "KT7"), "KT7"},
        {"other OEM board", DriverKind::New,
         serial_adapter(0x2312, VX_PCI_SUBVENDOR_OEM, 0x0131, bytes, "OEMSER01"), "B23456"},
        {"VPD on the old road", DriverKind::Old, serial_adapter(0x2432, 0, 0, bytes, "", "OLDVPD"), "OLDVPD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig({c.adapter});
        rig.setup.kind = c.kind;
        rig.install();
        ASSERT_EQ(rig.find().first, 0);
        ASSERT_EQ(sim::listed_ports().size(), 1u);
        EXPECT_EQ(text(sim::listed_ports()[0]->phy_info->serial_num), c.serial);
    }
}

TEST(Discovery, PortWhoseChipQueryFailsIsKeptWithoutFunctionAndHarmsNoWalk) {
    Rig rig({adapter(0x2312, 2)});
    vx_debug = VXDBG_ERROR | VXDBG_SYSFS;  // the records are traced
    rig.install();
    rig.driver.on(kQuery, kQueryChip, [](const SimRequest& r) {
        if (r.port->instance == 0) return SimReply::with_status(1);
        SimReply reply;
        reply.response = r.port->records.at({kQuery, kQueryChip});
        return reply;
    });
    EXPECT_EQ(rig.find().first, 0);
    const auto ports = sim::listed_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_TRUE(ports[0]->phy_info == nullptr && (ports[0]->features & VX_FEAT_COMPLETE) == 0);
    EXPECT_TRUE(ports[1]->phy_info != nullptr && ports[1]->phy_info->port_number == 1);
    EXPECT_EQ(vxapi_get_api_priv_inst_from_adaptername("varnix-vxa2xxx-1"), ports[1]);
    EXPECT_NE(rig.host.stderr_text().find("vxapi_find_all_instances_n(0): chip ioctl failed. stat=1"),
              std::string::npos);
}

// Every port's answer to the query: its record cut to `len` bytes, with the status.
void answer_cut(sim::SimDriver& driver, uint16_t sub_code, size_t len, uint32_t status) {
    driver.on(kQuery, sub_code, [=](const SimRequest& r) {
        const std::vector<uint8_t>& whole = r.port->records.at({kQuery, sub_code});
        SimReply reply = SimReply::with_bytes({whole.begin(), whole.begin() + std::min(len, whole.size())});
        reply.status = status;
        return reply;
    });
}

bool zero(const uint8_t* b, size_t n) {
    return std::all_of(b, b + n, [](uint8_t x) { return x == 0; });
}

// A node, port or chip record, answered 0, 7 or 8, is taken when the fields
// discovery reads of it came (node: to the end of DriverAttr; port: of
// Topology, of Id on the old road; chip: of DomainNr), and otherwise counts
// as no answer. The serial that some boards keep in the node's Reserved area
// needs that area whole.
TEST(Discovery, RecordsAreTakenOnlyWhenTheFieldsReadCame) {
    struct Case { const char* what; DriverKind kind; uint16_t sub_code; size_t len; uint32_t status; bool taken;
                  const char* serial; };
    const Case cases[] = {
        {"node short of DriverAttr", DriverKind::New, kQueryNode, 659, 0, false, ""},
        {"node of 15 bytes, underrun", DriverKind::New, kQueryNode, 15, EXT_STATUS_DATA_UNDERRUN, false, ""},
        {"node to DriverAttr, 0", DriverKind::New, kQueryNode, 660, 0, true, ""},
        {"node to DriverAttr, overrun", DriverKind::New, kQueryNode, 660, EXT_STATUS_DATA_OVERRUN, true, ""},
        {"node short of Reserved", DriverKind::New, kQueryNode, 695, 0, true, ""},
        {"node whole, underrun", DriverKind::New, kQueryNode, 696, EXT_STATUS_DATA_UNDERRUN, true, "KT7"},
        {"port short of Topology", DriverKind::New, kQueryPort, 47, 0, false, "KT7"},
        {"port of 15 bytes, underrun", DriverKind::New, kQueryPort, 15, EXT_STATUS_DATA_UNDERRUN, false, "KT7"},
        {"port to Topology, 0", DriverKind::New, kQueryPort, 48, 0, true, "KT7"},
        {"port whole, overrun", DriverKind::New, kQueryPort, 56, EXT_STATUS_DATA_OVERRUN, true, "KT7"},
        {"old road: port short of Id", DriverKind::Old, kQueryPort, 11, 0, false, nullptr},
        {"old road: port to Id", DriverKind::Old, kQueryPort, 12, 0, true, nullptr},
        {"chip short of DomainNr", DriverKind::New, kQueryChip, 51, 0, false, nullptr},
        {"chip of 15 bytes, underrun", DriverKind::New, kQueryChip, 15, EXT_STATUS_DATA_UNDERRUN, false, nullptr},
        {"chip to DomainNr, 0", DriverKind::New, kQueryChip, 52, 0, true, "KT7"},
        {"chip whole, underrun", DriverKind::New, kQueryChip, 84, EXT_STATUS_DATA_UNDERRUN, true, "KT7"},
        {"old road: chip to DomainNr", DriverKind::Old, kQueryChip, 52, EXT_STATUS_DATA_OVERRUN, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Two functions of one adapter on one bus; the maker's board keeps its serial in Reserved.
        AdapterSetup board = serial_adapter(0x2312, VX_PCI_VENDOR_MAKER, 0x0131, {0x21, 0x40, 0xE2, 0}, "KT7");
        board.ports = 2;
        Rig rig({board});
        rig.setup.kind = c.kind;
        sim::Fabric fabric = rig.install();
        for (sim::SimPort* p : fabric.physical) {
            p->edit_record<EXT_HBA_NODE>(kQuery, kQueryNode, [](EXT_HBA_NODE& n) { n.DriverAttr = 0x40; });
            p->edit_record<EXT_HBA_PORT>(kQuery, kQueryPort, [](EXT_HBA_PORT& r) {
                r.State = 0x0102;
                r.Topology = 2;
            });
        }
        answer_cut(rig.driver, c.sub_code, c.len, c.status);

        EXPECT_EQ(rig.find(), std::pair(0, 2u));
        const auto ports = sim::listed_ports();
        ASSERT_EQ(ports.size(), 2u);
        // A port whose node or chip record counts as no answer has no function.
        const bool has_function = c.sub_code == kQueryPort || c.taken;
        EXPECT_EQ(function_count(), has_function ? 2u : 0u);
        for (size_t i = 0; i < ports.size(); ++i) {
            const vxapi_priv_database* p = ports[i];
            const sim::SimPort& sp = *fabric.physical[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(p->drvr_inst, sp.instance);
            const std::vector<uint8_t>& node = sp.records.at({kQuery, kQueryNode});
            const std::vector<uint8_t>& port = sp.records.at({kQuery, kQueryPort});
            const bool node_taken = c.sub_code != kQueryNode || c.taken;
            const bool port_taken = c.sub_code != kQueryPort || c.taken;
            EXPECT_EQ(std::equal(p->wwnn, p->wwnn + 8, node.begin()), node_taken);
            EXPECT_EQ(p->drvr_attr, node_taken ? 0x40u : 0u);
            EXPECT_EQ(std::equal(p->wwpn, p->wwpn + 8, port.begin()), port_taken);
            EXPECT_EQ(std::equal(p->port_id, p->port_id + 4, port.begin() + 8), port_taken);
            if (!node_taken) {
                EXPECT_TRUE(zero(p->wwnn, sizeof p->wwnn));
            }
            if (!port_taken) {
                EXPECT_TRUE(zero(p->wwpn, sizeof p->wwpn) && zero(p->port_id, sizeof p->port_id));
            }
            const bool state_taken = port_taken && c.kind == DriverKind::New;
            using Pair = std::pair<uint16_t, uint16_t>;
            EXPECT_EQ(Pair(p->state, p->topology), state_taken ? Pair(0x0102, 2) : Pair(0, 0));
            ASSERT_EQ(p->phy_info != nullptr, has_function);
            if (!has_function) continue;
            // Each function keeps its own PCI place.
            EXPECT_EQ(std::tuple(p->phy_info->pci_domain, p->phy_info->pci_bus, p->phy_info->pci_dev_func),
                      std::tuple(sp.pci_domain, sp.pci_bus, sp.pci_dev_func));
            if (c.serial != nullptr) {
                EXPECT_EQ(text(p->phy_info->serial_num), c.serial);
            }
        }
        if (has_function) {
            EXPECT_NE(ports[0]->phy_info, ports[1]->phy_info);
        }
    }
}

// The sysfs road builds its node, port and chip records itself: they count as whole.
TEST(Discovery, SysfsRecordsCountAsDeliveredWhole) {
    sysfstest::SysfsRig rig(0x2532);
    ASSERT_EQ(rig.discover(), 1u);
    vxapi_priv_database* rec = sysfstest::SysfsRig::port(5);
    ASSERT_NE(rec, nullptr);
    EXT_HBA_NODE node{};
    EXT_HBA_PORT port{};
    EXT_CHIP chip{};
    uint32_t status = 99;
    uint32_t delivered[3] = {};
    EXPECT_EQ(vxapi_query_hbanode(rec->oshandle, rec, &node, &status, &delivered[0]), 0);
    EXPECT_EQ(vxapi_query_hbaport(rec->oshandle, rec, &port, &status, &delivered[1]), 0);
    EXPECT_EQ(vxapi_query_chip(rec->oshandle, rec, &chip, &status, &delivered[2]), 0);
    EXPECT_EQ(std::tuple(delivered[0], delivered[1], delivered[2]),
              std::tuple(sizeof node, sizeof port, sizeof chip));
}

// Slot 0's sysfs switch follows the road each discovery takes; the slot's other bits (the store its port's driver
// keeps, the other switches) stay.
TEST(Discovery, SysfsSwitchFollowsTheRoadAndLeavesTheOtherBits) {
    constexpr uint32_t kOther = VX_SLOT_NEW_CFG_STORE | VX_FEAT_LUN_4096;
    api_priv_data[0].features = kOther;
    {
        sysfstest::SysfsRig rig(0x2532);
        EXPECT_EQ(rig.discover(), 1u);
        EXPECT_EQ(api_priv_data[0].features, kOther | VX_FEAT_SYSFS);
    }
    Rig rig({adapter(0x2432)});
    rig.install();
    EXPECT_EQ(rig.find(), std::pair(0, 1u));
    EXPECT_EQ(api_priv_data[0].features, kOther);
    api_priv_data[0] = vxapi_priv_db_t{};
}

}  // namespace

// The property queries, driven as an application drives them against the
// simulated driver.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::filled;
using apitest::kFill;
using apitest::RigPort;
using apitest::touched;

constexpr uint8_t kCmdQuery = EXT_CC_QUERY;
constexpr uint8_t kCmdGetData = EXT_CC_GET_DATA;

struct Query {
    const char* name;
    bool accepts_over_under;
    size_t size;
    std::function<SD_UINT32(int, void*)> call;
};

const Query kQueries[] = {
    {"node", true, sizeof(DEVICENODEPROPERTY),
     [](int h, void* r) { return SDGetHbaDeviceNodeProperty(h, static_cast<PDEVICENODEPROPERTY>(r)); }},
    {"port", true, sizeof(DEVICEPORTPROPERTY),
     [](int h, void* r) { return SDGetHbaDevicePortProperty(h, 0, static_cast<PDEVICEPORTPROPERTY>(r)); }},
    {"disc port", true, sizeof(DISCPORTPROPERTY),
     [](int h, void* r) { return SDGetDiscPortProperty(h, 0, 0, 0, static_cast<PDISCPORTPROPERTY>(r)); }},
    {"disc target", true, sizeof(DISCTARGETPROPERTY),
     [](int h, void* r) { return SDGetDiscTargetProperty(h, 0, 0, 0, static_cast<PDISCTARGETPROPERTY>(r)); }},
    {"chip", false, sizeof(CHIPPROPERTY),
     [](int h, void* r) { return SDGetHbaDeviceChipProperty(h, static_cast<PCHIPPROPERTY>(r)); }},
    {"driver", false, sizeof(DRIVERPROPERTY),
     [](int h, void* r) { return SDGetHbaDeviceDriverProperty(h, static_cast<PDRIVERPROPERTY>(r)); }},
    {"firmware", false, sizeof(FIRMWAREPROPERTY),
     [](int h, void* r) { return SDGetHbaDeviceFirmwareProperty(h, static_cast<PFIRMWAREPROPERTY>(r)); }},
    {"port database", false, sizeof(DEVICEINFO),
     [](int h, void* r) { return SDGetPortDatabase(h, 1, static_cast<PDEVICEINFO>(r), sizeof(DEVICEINFO)); }},
};

struct Injection {
    const char* name;
    std::function<void(sim::SimDriver&)> inject;
    SD_UINT32 accepting;  // status of a query that takes overrun and underrun (record filled unless busy/errno)
    SD_UINT32 strict;     // status of one that takes neither (record filled only for 0)
};

TEST(ApiProps, EveryQueryOnPhysicalAndVirtualPorts) {
    ApiRig rig;
    RigPort& phys = rig.add_adapter(0x2532);
    RigPort& virt = rig.add_virtual(phys);
    for (RigPort* p : {&phys, &virt}) sim::add_remote_port(*p->sim);
    const Injection injections[] = {
        {"clean", [](sim::SimDriver&) {}, 0, 0},
        {"overrun", [](sim::SimDriver& d) { d.inject_status(7); }, 0x2000006b, 0x2000006b},
        {"underrun", [](sim::SimDriver& d) { d.inject_status(8); }, 0x2000006c, 0x2000006c},
        {"busy", [](sim::SimDriver& d) { d.inject_busy(1); }, 0x20000067, 0x20000067},
        {"ioctl failure", [](sim::SimDriver& d) { d.inject_errno(EIO); }, EIO, EIO},
    };
    for (RigPort* p : {&phys, &virt}) {
        for (const Query& q : kQueries) {
            for (const Injection& inj : injections) {
                SCOPED_TRACE(std::string(q.name) + ", " + inj.name + (p == &virt ? ", virtual" : ", physical"));
                std::vector<uint8_t> rec(q.size, kFill);
                rig.driver.clear_log();
                inj.inject(rig.driver);
                const SD_UINT32 expected = q.accepts_over_under ? inj.accepting : inj.strict;
                EXPECT_EQ(q.call(p->handle, rec.data()), expected);
                const bool fills = expected == 0 || (q.accepts_over_under && (expected == 0x2000006b ||
                                                                               expected == 0x2000006c));
                EXPECT_EQ(touched(rec.data(), rec.size()), fills);
                const auto log = rig.driver.log();
                ASSERT_EQ(log.size(), 1u);
                EXPECT_EQ(log[0].hba_select, p->sim->instance);
            }
        }
    }
}

// A request that carries no SCSI command has no SCSI status to report:
// driver status 15 fails every query, even with a good status byte.
TEST(ApiProps, ScsiStatusFailsEveryQueryWithoutAScsiCommand) {
    ApiRig rig;
    const int cna = rig.add_adapter(0x8021).handle, rom = rig.add_adapter(0x2432).handle;
    const int reporting = rig.add_adapter(0x2312).handle;
    std::vector<uint8_t> buf(0x20000, kFill);
    SD_UINT32 size = 0;
    std::vector<std::pair<std::string, std::function<SD_UINT32()>>> calls = {
        {"cna port", [&] { return SDGetCnaPortData(cna, 0, SD_CNA_GET_PORT_ID, buf.data(), &(size = 128)); }},
        {"dcbx", [&] { return SDGetCnaPortData(cna, 0, SD_CNA_GET_DCBX_PARAMS, buf.data(), &(size = 4096)); }},
        {"layout", [&] { return SDGetOptionRomLayout(reporting, 0, nullptr); }},
        {"option rom", [&] { return SDGetOptionRom(rom, 0, buf.data(), 0x20000); }},
        {"raw read", [&] { return SDGetOptionRomOffset(rom, 0, buf.data(), 0x100, 0); }},
        {"region read", [&] { return SDGetOptionRomEx(rom, 0, buf.data(), 0x8000, 0x87); }},
    };
    for (const Query& q : kQueries) calls.emplace_back(q.name, [&] { return q.call(cna, buf.data()); });
    for (const auto& [name, call] : calls) {
        rig.driver.clear_log();
        rig.driver.inject_status(EXT_STATUS_SCSI_STATUS);
        EXPECT_EQ(call(), SDERR_UNKNOWN) << name;
        EXPECT_EQ(rig.driver.log().size(), 1u) << name;  // the query's own request answered it
    }
}

TEST(ApiProps, MissingRecordsAreRefusedBeforeAnyRequest) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    rig.driver.clear_log();
    for (const Query& q : kQueries) EXPECT_EQ(q.call(h, nullptr), SDERR_INVALID_PARAMETER) << q.name;
    EXPECT_TRUE(rig.driver.log().empty());
}

TEST(ApiProps, NodeTextsAreCutAndTerminated) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    EXT_HBA_NODE node = sim::make_node_record(rig.driver, *p.sim);
    std::memset(node.Manufacturer, 'M', sizeof node.Manufacturer);  // no terminator at all
    std::snprintf(reinterpret_cast<char*>(node.Model), sizeof node.Model, "ABCDEFGHIJKLMNOPQRST");
    std::memset(node.DriverVersion, 'D', sizeof node.DriverVersion);
    const uint8_t bios[4] = {1, 2, 3, 4};
    std::memcpy(node.BIFwVersion, bios, 4);
    std::memset(p.rec->phy_info->serial_num, 'S', sizeof p.rec->phy_info->serial_num - 1);

    struct Case { uint16_t interface_type, port_count, ports; };
    for (const Case& c : {Case{1, 4, 1}, Case{2, 4, 4}}) {
        node.InterfaceType = c.interface_type;
        node.PortCount = c.port_count;
        p.sim->set_record(kCmdQuery, 1, node);
        auto out = filled<DEVICENODEPROPERTY>();
        out.BIValid = 0x100;
        ASSERT_EQ(SDGetHbaDeviceNodeProperty(p.handle, &out), 0u);
        EXPECT_EQ(out.NumberOfPorts, c.ports);
        EXPECT_EQ(std::string(out.Manufacturer), std::string(79, 'M'));
        EXPECT_STREQ(out.Model, "ABCDEFGHIJKLMNO");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.SerialNumber)), std::string(31, 'S'));
        EXPECT_EQ(std::string(out.DriverVersion), std::string(31, 'D'));
        EXPECT_STREQ(out.FirmwareVersion, "5.06.05");
        EXPECT_EQ(out.BIValid, 0x107u);
        EXPECT_EQ(std::memcmp(out.BIFwVersion, bios, 4), 0);
        EXPECT_EQ(out.MpiFwVersion[0], kFill);  // not an MPI chip
    }
}

TEST(ApiProps, PortStateTypeModeAndIdentifier) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    struct Case { uint16_t state, type, mode; SD_UINT8 port_state, port_type, connection_mode; };
    const Case cases[] = {
        {0, 1, 2, 1, 1, 2}, {1, 2, 1, 2, 2, 1}, {2, 7, 0, 3, kFill, kFill}, {5, 0, 3, 2, kFill, kFill}};
    for (const Case& c : cases) {
        EXT_HBA_PORT port = sim::make_port_record(rig.driver, *p.sim);
        port.State = c.state;
        port.Type = c.type;
        port.Mode = c.mode;
        const uint8_t id[4] = {0xEE, 0x0A, 0x0B, 0x0C};
        std::memcpy(port.Id, id, sizeof id);
        p.sim->set_record(kCmdQuery, 2, port);
        auto out = filled<DEVICEPORTPROPERTY>();
        ASSERT_EQ(SDGetHbaDevicePortProperty(p.handle, 0, &out), 0u);
        EXPECT_EQ(out.PortState, c.port_state) << c.state;
        EXPECT_EQ(out.PortType, c.port_type) << c.type;
        EXPECT_EQ(out.ConnectionMode, c.connection_mode) << c.mode;
        EXPECT_EQ(out.PortID[0], 0x0A);
        EXPECT_EQ(out.PortID[2], 0x0C);
        EXPECT_EQ(out.PortSpeed, 0x10u);
        EXPECT_EQ(out.DeviceName[0], static_cast<SD_INT8>(kFill));
    }
}

TEST(ApiProps, DiscoveredTargetThatIsNotPresent) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    sim::add_remote_port(*p.sim);
    struct Case { uint16_t status; SD_UINT32 result; };
    for (const Case& c : {Case{0x1, 0x2000006d}, Case{0x3, 0}, Case{0x0, 0}}) {
        p.sim->remote_ports[0].target.Status = c.status;
        auto out = filled<DISCTARGETPROPERTY>();
        EXPECT_EQ(SDGetDiscTargetProperty(p.handle, 0, 0, 0, &out), c.result) << c.status;
        EXPECT_EQ(touched(&out, sizeof out), c.result == 0);
        if (c.result == 0) {
            EXPECT_EQ(out.PortState, c.status);
            EXPECT_EQ(out.PortType, 2);
            EXPECT_EQ(out.LoopID, p.sim->remote_ports[0].target.LoopID);
        }
    }
}

TEST(ApiProps, ChipDriverAndFirmwareRecords) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    EXT_CHIP chip = sim::make_chip_record(rig.driver, *p.sim);
    chip.PciDevFunc = 0x0A;
    chip.PcieLinkCap = 0x12345678;
    chip.OutMbx[7] = 0x4D4D;
    p.sim->set_record(kCmdQuery, 8, chip);
    EXT_DRIVER driver = sim::make_driver_record(*p.sim);
    std::memset(driver.Version, 'V', sizeof driver.Version);
    p.sim->set_record(kCmdGetData, 6, driver);

    auto c = filled<CHIPPROPERTY>();
    ASSERT_EQ(SDGetHbaDeviceChipProperty(p.handle, &c), 0u);
    EXPECT_EQ(c.DeviceID, 0x2532);
    EXPECT_EQ(c.PciSlotNumber, 0x0A);
    EXPECT_EQ(c.PcieLinkCap, 0x5678);
    EXPECT_EQ(c.OutMbx[7], 0x4D4D);
    EXPECT_EQ(c.PortNumber, 1);

    auto d = filled<DRIVERPROPERTY>();
    ASSERT_EQ(SDGetHbaDeviceDriverProperty(p.handle, &d), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d.Version)), std::string(31, 'V'));
    EXPECT_EQ(d.TargetsPerBus, 512);

    auto f = filled<FIRMWAREPROPERTY>();
    ASSERT_EQ(SDGetHbaDeviceFirmwareProperty(p.handle, &f), 0u);
    EXPECT_EQ(std::memcmp(f.Version, "5.0", 3), 0);
    EXPECT_EQ(f.Version[3], kFill);
    EXPECT_EQ(f.Attributes, 0xA5A5A5A5u);
}

// The port database against a driver whose answer the test writes.
TEST(PortDatabase, FillsWhatFitsAndNeverMore) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    std::vector<EXT_DEVICEDATAENTRY> entries;
    uint32_t total = 0;
    sim::Bytes request;
    rig.driver.on(kCmdGetData, 0x6A, [&](const sim::SimRequest& req) {
        request = req.request;
        const EXT_DEVICEDATA head{total, total};
        sim::SimReply reply;
        reply.response = sim::bytes_of(&head, sizeof head);
        const sim::Bytes body = sim::bytes_of(entries.data(), entries.size() * sizeof(EXT_DEVICEDATAENTRY));
        reply.response.insert(reply.response.end(), body.begin(), body.end());
        return reply;
    });
    struct Case { uint32_t devices, claimed, size, filled; SD_UINT32 status; };
    const Case cases[] = {
        {3, 0, 300, 1, 0x20000072}, {3, 0, 884, 3, 0}, {3, 0, 883, 2, 0x20000072},
        {3, 0, 299, 0, 0x20000072},  // not even one entry: nothing written
        {255, 1000, 300 + 299 * 292, 255, 0x20000072},  // the driver claims more than its reply holds
    };
    for (const Case& c : cases) {
        entries.assign(c.devices, EXT_DEVICEDATAENTRY{});
        for (uint32_t i = 0; i < c.devices; ++i) {
            entries[i].PortWWN[7] = static_cast<uint8_t>(i);
            entries[i].PortID[0] = i < 2 ? 0 : 1;
            entries[i].TargetAddress.Target = static_cast<uint16_t>(i);
            entries[i].LoopID = static_cast<uint16_t>(i);
        }
        // Two devices without an identifier: the first takes the AL_PA of its
        // loop id 0 (0xEF); the second, a fabric device, is kept as it is.
        entries[1].ControlFlags = 0x8;
        total = std::max(c.devices, c.claimed);

        std::vector<uint8_t> buf(c.size + 64, kFill);
        auto* info = reinterpret_cast<PDEVICEINFO>(buf.data());
        EXPECT_EQ(SDGetPortDatabase(h, 0xFFFF, info, c.size), c.status) << c.size;
        EXPECT_FALSE(touched(buf.data() + c.size, 64)) << "written past the caller's size " << c.size;
        if (c.filled == 0) {
            EXPECT_FALSE(touched(buf.data(), c.size));
            continue;
        }
        EXPECT_EQ(info->TotalDevices, total);
        EXPECT_EQ(info->ReturnListEntryCount, c.filled);
        uint32_t type_mode = 0;
        std::memcpy(&type_mode, request.data(), sizeof type_mode);
        EXPECT_EQ(type_mode, 0x101Fu);
        const auto* e = reinterpret_cast<DEVICEINFOENTRY*>(buf.data() + 8);
        EXPECT_EQ(e[c.filled - 1].PortWWN[7], c.filled - 1);
        EXPECT_EQ(e[c.filled - 1].TargetAddress.TargetID, c.filled - 1);
        const uint8_t alpa[3] = {0, 0, 0xEF}, zero[3] = {0, 0, 0}, kept[3] = {1, 0, 0};
        EXPECT_EQ(std::memcmp(e[0].PortID, alpa, 3), 0);
        if (c.filled > 2) {
            EXPECT_EQ(std::memcmp(e[1].PortID, zero, 3), 0);
            EXPECT_EQ(std::memcmp(e[2].PortID, kept, 3), 0);
        }
    }
    // Entries counted but not delivered are not reported; a reply short of its head tells nothing.
    std::vector<uint8_t> buf(884, kFill);
    auto* info = reinterpret_cast<PDEVICEINFO>(buf.data());
    rig.driver.inject_short(8 + 172);
    EXPECT_EQ(SDGetPortDatabase(h, 0xFFFF, info, 884), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(info->ReturnListEntryCount, 1u);
    rig.driver.inject_short(7);
    EXPECT_EQ(SDGetPortDatabase(h, 0xFFFF, info, 884), SDERR_UNKNOWN);
}

TEST(ApiProps, ConvergedPortData) {
    ApiRig rig;
    RigPort& cna = rig.add_adapter(0x8021);
    const int fc = rig.add_adapter(0x2532).handle;
    cna.rec->phy_info->fcoe_valid = 0x0F;
    std::vector<uint8_t> dcbx(80);
    for (size_t i = 0; i < dcbx.size(); ++i) dcbx[i] = static_cast<uint8_t>(i + 1);
    cna.sim->records[{kCmdGetData, 11}] = dcbx;

    struct Case { SD_UINT32 operation, size; SD_UINT32 status, size_out; };
    const Case cases[] = {
        {1, 127, 0x20000064, 127}, {1, 129, 0x20000064, 129}, {1, 128, 0, 128},
        {2, 10, 0x20000072, 64},   {2, 100, 0, 80},          {2, 64, 0, 64},
        {3, 103, 0x20000072, 104}, {3, 200, 0, 200},         {4, 128, 0x20000064, 128},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buf(256, kFill);
        SD_UINT32 size = c.size;
        EXPECT_EQ(SDGetCnaPortData(cna.handle, 0, c.operation, buf.data(), &size), c.status) << c.operation;
        EXPECT_EQ(size, c.size_out) << c.operation << "/" << c.size;
        EXPECT_FALSE(touched(buf.data() + std::min<size_t>(c.size, 256), 256 - std::min<size_t>(c.size, 256)));
        if (c.status != 0) {
            EXPECT_FALSE(touched(buf.data(), buf.size()));
        } else if (c.operation == 1) {
            CNAPORTPROPERTY out;
            std::memcpy(&out, buf.data(), sizeof out);
            EXPECT_EQ(out.VLanId, 1002);
            EXPECT_EQ(out.FabricParam, 0x8000);
            EXPECT_EQ(out.Reserved0, 0xA5A5);
        } else if (c.operation == 2) {
            EXPECT_EQ(std::memcmp(buf.data(), dcbx.data(), c.size_out), 0);
        } else {
            ADAPTERREGIONVERSION head;
            std::memcpy(&head, buf.data(), 8);
            EXPECT_EQ(head.Length, 4u);
            EXPECT_TRUE(std::all_of(buf.begin() + 104, buf.begin() + 200, [](uint8_t b) { return b == 0; }));
        }
    }

    // The driver's fabric parameters valid: the caller's value stays.
    EXT_CNA_PORT driver_cna = sim::make_cna_record(*cna.sim);
    driver_cna.FabricParam = 0x200;
    cna.sim->set_record(kCmdQuery, 9, driver_cna);
    auto out = filled<CNAPORTPROPERTY>();
    SD_UINT32 size = 128;
    ASSERT_EQ(SDGetCnaPortData(cna.handle, 0, 1, reinterpret_cast<SD_PUINT8>(&out), &size), 0u);
    EXPECT_EQ(out.FabricParam, 0xA5A5);
    // Overrun: success, nothing copied.
    out = filled<CNAPORTPROPERTY>();
    rig.driver.inject_status(7);
    EXPECT_EQ(SDGetCnaPortData(cna.handle, 0, 1, reinterpret_cast<SD_PUINT8>(&out), &size), 0u);
    EXPECT_FALSE(touched(&out, sizeof out));

    cna.rec->phy_info->fcoe_valid = 0;
    size = 8;
    std::vector<uint8_t> empty(8, kFill);
    EXPECT_EQ(SDGetCnaPortData(cna.handle, 0, 3, empty.data(), &size), 0u);
    EXPECT_EQ(empty, std::vector<uint8_t>(8, 0));

    EXPECT_EQ(SDGetCnaPortData(fc, 0, 1, empty.data(), &size), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SDGetCnaPortData(cna.handle, 0, 1, empty.data(), nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDGetCnaPortData(cna.handle, 0, 1, nullptr, &size), SDERR_INVALID_PARAMETER);
}

// A converged adapter's virtual port reads the boot-code versions through
// its physical port.
TEST(ApiProps, NodeQueryOfAVirtualPortReadsFlashThroughItsParent) {
    ApiRig rig;
    RigPort& phys = rig.add_adapter(0x8021);
    RigPort& virt = rig.add_virtual(phys);
    rig.driver.clear_log();
    auto out = filled<DEVICENODEPROPERTY>();
    ASSERT_EQ(SDGetHbaDeviceNodeProperty(virt.handle, &out), 0u);
    EXPECT_EQ(rig.requests(kCmdQuery).at(0).hba_select, virt.sim->instance);
    const auto reads = rig.requests(EXT_CC_READ_OPTROM);
    ASSERT_FALSE(reads.empty());
    for (const auto& r : reads) EXPECT_EQ(r.hba_select, phys.sim->instance);
}

// MPI and PEP versions of the chips that keep them in flash.
TEST(ApiProps, MpiAndPepVersions) {
    std::vector<sim::FltRegion> regions = {
        sim::flt_region(0x07, 0x40000, 0), sim::flt_region(0x01, 0x80000, 0x80000),
        sim::flt_region(0xD3, 0x10000, 0x200000), sim::flt_region(0xD1, 0x10000, 0x210000)};
    struct Case { const char* name; bool regions; bool cached_layout; SD_UINT32 status; uint32_t bivalid; };
    const Case cases[] = {
        {"regions in flash", true, true, 0, 0x167},
        {"no MPI/PEP regions", false, true, 0, 0x107},  // not claimed valid
        {"no layout", true, false, SDERR_UNKNOWN, 0x107},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ApiRig rig;
        sim::ChipFlashOptions options;
        if (c.regions) options.regions = regions;
        RigPort& p = rig.add_adapter(0x2071, options);
        std::vector<uint8_t>& flash = rig.adapter_of(p).flash;
        for (size_t i = 0; i < 4; ++i) {
            flash[0x200000 + 19 + 4 * i] = static_cast<uint8_t>(0x11 * (i + 1));  // MPI 11 22 33 44
            flash[0x210000 + 79 - i] = static_cast<uint8_t>(0x50 + i);              // PEP 50 51 52 53
        }
        EXT_HBA_NODE node = sim::make_node_record(rig.driver, *p.sim);
        const uint8_t running_mpi[4] = {9, 8, 7, 6};
        std::memcpy(node.BIMpiFwVersion, running_mpi, 4);
        p.sim->set_record(kCmdQuery, 1, node);
        if (!c.cached_layout) {
            std::free(p.rec->phy_info->pflt_layout);
            p.rec->phy_info->pflt_layout = nullptr;
        }
        auto out = filled<DEVICENODEPROPERTY>();
        out.BIValid = 0x100;
        EXPECT_EQ(SDGetHbaDeviceNodeProperty(p.handle, &out), c.status);
        EXPECT_EQ(out.BIValid, c.bivalid);
        EXPECT_EQ(std::memcmp(out.MpiFwVersion, running_mpi, 4), 0);  // filled before the layout refresh
        const uint8_t mpi[4] = {0x11, 0x22, 0x33, 0x44}, pep[4] = {0x50, 0x51, 0x52, 0x53};
        EXPECT_EQ(std::memcmp(out.BIMpiFwVersion, mpi, 4) == 0, c.bivalid == 0x167);
        EXPECT_EQ(std::memcmp(out.BIPepFwVersion, pep, 4) == 0, c.bivalid == 0x167);
    }
}

}  // namespace

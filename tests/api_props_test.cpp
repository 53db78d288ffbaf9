// The property queries, the flash layout and the flash reads of the API, driven as an application drives them
// against the simulated driver.
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "api_rig.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::filled;
using apitest::kFill;
using apitest::RigPort;
using apitest::touched;

struct Query {
    const char* name;
    std::function<SD_UINT32(int, void*)> call;
};

const Query kNode = {
    "node", [](int h, void* r) { return SDGetHbaDeviceNodeProperty(h, static_cast<PDEVICENODEPROPERTY>(r)); }};
const Query kPort = {
    "port", [](int h, void* r) { return SDGetHbaDevicePortProperty(h, 0, static_cast<PDEVICEPORTPROPERTY>(r)); }};
const Query kDiscPort = {
    "disc port", [](int h, void* r) { return SDGetDiscPortProperty(h, 0, 0, 0, static_cast<PDISCPORTPROPERTY>(r)); }};
const Query kDiscTarget = {
    "disc target",
    [](int h, void* r) { return SDGetDiscTargetProperty(h, 0, 0, 0, static_cast<PDISCTARGETPROPERTY>(r)); }};
const Query kCnaPortId = {"cna port", [](int h, void* r) {
                              SD_UINT32 size = sizeof(CNAPORTPROPERTY);
                              return SDGetCnaPortData(h, 0, SD_CNA_GET_PORT_ID, static_cast<SD_PUINT8>(r), &size);
                          }};

const Query kQueries[] = {
    kNode, kPort, kDiscPort, kDiscTarget,
    {"chip", [](int h, void* r) { return SDGetHbaDeviceChipProperty(h, static_cast<PCHIPPROPERTY>(r)); }},
    {"driver", [](int h, void* r) { return SDGetHbaDeviceDriverProperty(h, static_cast<PDRIVERPROPERTY>(r)); }},
    {"firmware", [](int h, void* r) { return SDGetHbaDeviceFirmwareProperty(h, static_cast<PFIRMWAREPROPERTY>(r)); }},
    {"port database",
     [](int h, void* r) { return SDGetPortDatabase(h, 1, static_cast<PDEVICEINFO>(r), sizeof(DEVICEINFO)); }},
};

// A request that carries no SCSI command has no SCSI status to report:
// driver status 15 fails every query, even with a good status byte.
TEST(ApiProps, ScsiStatusFailsEveryQueryWithoutAScsiCommand) {
    ApiRig rig;
    const int cna = rig.add_adapter(0x8021).handle, rom = rig.add_adapter(0x2432).handle;
    const int reporting = rig.add_adapter(0x2312).handle;
    std::vector<uint8_t> buf(0x20000, kFill);
    SD_UINT32 size = 0;
    std::vector<std::pair<std::string, std::function<SD_UINT32()>>> calls = {
        {kCnaPortId.name, [&] { return kCnaPortId.call(cna, buf.data()); }},
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
    std::memset(node.DriverVersion, 'D', 31);  // as long as the field holds
    std::memcpy(node.BIFwVersion, "\1\2\3\4", 4);
    std::memset(p.rec->phy_info->serial_num, 'S', sizeof p.rec->phy_info->serial_num - 1);
    for (const auto& [interface_type, ports] : {std::pair{1, 1u}, {2, 4u}}) {
        node.InterfaceType = static_cast<uint16_t>(interface_type);
        node.PortCount = 4;
        p.sim->set_record(EXT_CC_QUERY, 1, node);
        auto out = filled<DEVICENODEPROPERTY>();
        out.BIValid = 0x100;
        ASSERT_EQ(SDGetHbaDeviceNodeProperty(p.handle, &out), 0u);
        EXPECT_EQ(out.NumberOfPorts, ports);
        EXPECT_EQ(std::string(out.Manufacturer) + "|" + out.Model + "|" + out.DriverVersion + "|" + out.FirmwareVersion,
                  std::string(79, 'M') + "|ABCDEFGHIJKLMNO|" + std::string(31, 'D') + "|5.06.05");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.SerialNumber)), std::string(31, 'S'));
        EXPECT_EQ(out.BIValid, 0x107u);
        EXPECT_EQ(std::memcmp(out.BIFwVersion, "\1\2\3\4", 4), 0);
        EXPECT_EQ(out.MpiFwVersion[0], kFill);  // not an MPI chip
    }
    // A driver version past its field is cut to it, as the driver property cuts it.
    std::memset(node.DriverVersion, 'D', 100);
    p.sim->set_record(EXT_CC_QUERY, 1, node);
    auto out = filled<DEVICENODEPROPERTY>();
    ASSERT_EQ(SDGetHbaDeviceNodeProperty(p.handle, &out), 0u);
    EXPECT_EQ(std::string(out.DriverVersion), std::string(31, 'D'));
}

// Driver port state 2 reads as 3; unknown types and modes leave the fields alone; a target not present is not found.
TEST(ApiProps, PortStateTypeModeAndIdentifier) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    EXT_HBA_PORT port = sim::make_port_record(rig.driver, *p.sim);
    std::tie(port.State, port.Type, port.Mode) = std::tuple(2, 7, 0);
    std::memcpy(port.Id, "\xEE\x0A\x0B\x0C", 4);
    p.sim->set_record(EXT_CC_QUERY, 2, port);
    auto out = filled<DEVICEPORTPROPERTY>();
    ASSERT_EQ(SDGetHbaDevicePortProperty(p.handle, 0, &out), 0u);
    EXPECT_EQ((sim::Bytes{out.PortState, out.PortType, out.ConnectionMode, out.PortID[0], out.PortID[2]}),
              (sim::Bytes{3, kFill, kFill, 0x0A, 0x0C}));
    sim::add_remote_port(*p.sim);
    p.sim->remote_ports[0].target.Status = 1;
    auto target = filled<DISCTARGETPROPERTY>();
    EXPECT_EQ(SDGetDiscTargetProperty(p.handle, 0, 0, 0, &target), SDERR_DEVICE_NOT_FOUND);
    EXPECT_FALSE(touched(&target, sizeof target));
}

// The port database against a driver whose answer the test writes.
TEST(PortDatabase, FillsWhatFitsAndNeverMore) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    std::vector<EXT_DEVICEDATAENTRY> entries;
    uint32_t total = 0;
    sim::Bytes request;
    rig.driver.on(EXT_CC_GET_DATA, 0x6A, [&](const sim::SimRequest& req) {  // the head, then the entries
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
            entries[i].TargetAddress.Target = entries[i].LoopID = static_cast<uint16_t>(i);
        }
        // Two devices without an identifier: the first takes the AL_PA of its
        // loop id 0 (0xEF); the second, a fabric device, is kept as it is.
        entries[1].ControlFlags = 0x8;
        total = std::max(c.devices, c.claimed);
        std::vector<uint8_t> buf(c.size + 64, kFill);
        auto* info = reinterpret_cast<PDEVICEINFO>(buf.data());
        EXPECT_EQ(SDGetPortDatabase(h, 0xFFFF, info, c.size), c.status) << c.size;
        EXPECT_FALSE(touched(buf.data() + (c.filled == 0 ? 0 : c.size), c.filled == 0 ? buf.size() : 64)) << c.size;
        if (c.filled == 0) continue;
        EXPECT_EQ(info->TotalDevices, total);
        EXPECT_EQ(info->ReturnListEntryCount, c.filled);
        EXPECT_EQ(request.at(0) | request.at(1) << 8, 0x101F);  // type and mode
        const auto* e = reinterpret_cast<DEVICEINFOENTRY*>(buf.data() + 8);
        EXPECT_EQ(e[c.filled - 1].PortWWN[7], c.filled - 1);
        EXPECT_EQ(e[c.filled - 1].TargetAddress.TargetID, c.filled - 1);
        EXPECT_EQ(std::memcmp(e[0].PortID, "\0\0\xEF", 3), 0);
        EXPECT_TRUE(c.filled < 3 || (std::memcmp(e[1].PortID, "\0\0\0", 3) | std::memcmp(e[2].PortID, "\1\0", 3)) == 0);
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
    const sim::Bytes dcbx = sim::pattern(80, 1);
    cna.sim->records[{EXT_CC_GET_DATA, 11}] = dcbx;
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
        const size_t written = c.status != 0 ? 0 : c.size;
        EXPECT_FALSE(touched(buf.data() + written, 256 - written));
        if (c.status != 0) continue;
        CNAPORTPROPERTY port;
        std::memcpy(&port, buf.data(), sizeof port);
        const std::vector<int> got = {port.VLanId, port.FabricParam, port.Reserved0};
        EXPECT_TRUE(c.operation != 1 || got == (std::vector<int>{1002, 0x8000, 0xA5A5}));
        EXPECT_TRUE(c.operation != 2 || std::equal(dcbx.begin(), dcbx.begin() + c.size_out, buf.begin()));
        if (c.operation == 3) {  // the head's count, then zeroes to the caller's size
            EXPECT_EQ(sim::Bytes(buf.begin(), buf.begin() + 4), (sim::Bytes{4, 0, 0, 0}));
            EXPECT_TRUE(std::all_of(buf.begin() + 104, buf.begin() + 200, [](uint8_t b) { return b == 0; }));
        }
    }
    // The driver's fabric parameters valid: the caller's value stays. Overrun: the status says so, nothing copied.
    EXT_CNA_PORT driver_cna = sim::make_cna_record(*cna.sim);
    driver_cna.FabricParam = 0x200;
    cna.sim->set_record(EXT_CC_QUERY, 9, driver_cna);
    auto out = filled<CNAPORTPROPERTY>();
    SD_UINT32 size = 128;
    ASSERT_EQ(SDGetCnaPortData(cna.handle, 0, 1, reinterpret_cast<SD_PUINT8>(&out), &size), 0u);
    EXPECT_EQ(out.FabricParam, 0xA5A5);
    out = filled<CNAPORTPROPERTY>();
    rig.driver.inject_status(7);
    EXPECT_EQ(SDGetCnaPortData(cna.handle, 0, 1, reinterpret_cast<SD_PUINT8>(&out), &size), SDERR_DATA_OVERRUN);
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

// A converged adapter's virtual port reads the boot-code versions through its physical port.
TEST(ApiProps, NodeQueryOfAVirtualPortReadsFlashThroughItsParent) {
    ApiRig rig;
    RigPort& phys = rig.add_adapter(0x8021);
    RigPort& virt = rig.add_virtual(phys);
    rig.driver.clear_log();
    auto out = filled<DEVICENODEPROPERTY>();
    ASSERT_EQ(SDGetHbaDeviceNodeProperty(virt.handle, &out), 0u);
    EXPECT_EQ(rig.requests(EXT_CC_QUERY).at(0).hba_select, virt.sim->instance);
    const auto reads = rig.requests(EXT_CC_READ_OPTROM);
    ASSERT_FALSE(reads.empty());
    for (const auto& r : reads) EXPECT_EQ(r.hba_select, phys.sim->instance);
}

// A flash layout with the MPI (0xD3) and PEP (0xD1) firmware regions.
std::vector<sim::FltRegion> mpi_pep_regions() {
    return {sim::flt_region(0x07, 0x40000, 0), sim::flt_region(0x01, 0x80000, 0x80000),
            sim::flt_region(0xD3, 0x10000, 0x200000), sim::flt_region(0xD1, 0x10000, 0x210000)};
}

// MPI and PEP versions of the chips that keep them in flash. A layout that cannot be refreshed fails the query with
// the refresh's status, also after the driver's overrun or underrun, and leaves the caller's record filled so far:
// that of a clean call but for the versions in flash, which keep the caller's values and are not claimed valid.
TEST(ApiProps, MpiAndPepVersions) {
    struct Case {
        const char* name; bool regions; bool cached_layout; SD_UINT32 status; uint32_t bivalid;
        uint32_t driver_status = 0;
    };
    const Case cases[] = {
        {"regions in flash", true, true, 0, 0x167},
        {"no MPI/PEP regions", false, true, 0, 0x107},  // not claimed valid
        {"no layout", true, false, SDERR_UNKNOWN, 0x107},
        {"no layout, overrun", true, false, SDERR_UNKNOWN, 0x107, 7},
        {"no layout, underrun", true, false, SDERR_UNKNOWN, 0x107, 8},
    };
    for (const uint16_t chip : {0x2071, 0x2271, 0x2261}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(sysfstest::line("%s on %04x", c.name, chip));
            ApiRig rig;
            sim::ChipFlashOptions options;
            if (c.regions) options.regions = mpi_pep_regions();
            RigPort& p = rig.add_adapter(chip, options);
            std::vector<uint8_t>& flash = rig.adapter_of(p).flash;
            for (size_t i = 0; i < 4; ++i) {
                flash[0x200000 + 19 + 4 * i] = static_cast<uint8_t>(0x11 * (i + 1));  // MPI 11 22 33 44
                flash[0x210000 + 79 - i] = static_cast<uint8_t>(0x50 + i);              // PEP 50 51 52 53
            }
            EXT_HBA_NODE node = sim::make_node_record(rig.driver, *p.sim);
            std::memcpy(node.BIMpiFwVersion, "\11\10\7\6", 4);
            p.sim->set_record(EXT_CC_QUERY, 1, node);
            auto out = filled<DEVICENODEPROPERTY>();
            out.BIValid = 0x100;
            const DEVICENODEPROPERTY before = out;
            // The record of a clean call, with the layout as it is cached at first.
            DEVICENODEPROPERTY clean = before;
            ASSERT_EQ(SDGetHbaDeviceNodeProperty(p.handle, &clean), 0u);
            if (!c.cached_layout) {
                std::free(p.rec->phy_info->pflt_layout);
                p.rec->phy_info->pflt_layout = nullptr;
            }
            if (c.driver_status != 0) rig.driver.inject_status(c.driver_status);
            EXPECT_EQ(SDGetHbaDeviceNodeProperty(p.handle, &out), c.status);
            EXPECT_EQ(out.BIValid, c.bivalid);
            EXPECT_EQ(std::memcmp(out.MpiFwVersion, "\11\10\7\6", 4), 0);
            EXPECT_EQ(std::memcmp(out.BIMpiFwVersion, "\x11\x22\x33\x44", 4) == 0, c.bivalid == 0x167);
            EXPECT_EQ(std::memcmp(out.BIPepFwVersion, "\x50\x51\x52\x53", 4) == 0, c.bivalid == 0x167);
            if (c.status != 0) {
                DEVICENODEPROPERTY want = clean;
                std::memcpy(want.BIMpiFwVersion, before.BIMpiFwVersion, sizeof want.BIMpiFwVersion);
                std::memcpy(want.BIPepFwVersion, before.BIPepFwVersion, sizeof want.BIPepFwVersion);
                want.BIValid = c.bivalid;
                EXPECT_EQ(sim::bytes_of(&out, sizeof out), sim::bytes_of(&want, sizeof want));
                EXPECT_NE(std::memcmp(out.WWN, before.WWN, sizeof out.WWN), 0);
            }
        }
    }
}

// The queries whose header takes the driver's data overrun and underrun as a completed request, each on a port
// of a chip: the node query twice, once with the layout refresh of the chips with MPI and PEP firmware. `written`:
// the record is written then (the converged port's data is copied after a clean completion only: its status says
// overrun or underrun all the same); `discovered`: the query asks for discovered port or target 0.
struct OverUnderQuery {
    const Query& query;
    uint16_t device;
    bool written, discovered;
};
const OverUnderQuery kOverUnderQueries[] = {
    {kNode, 0x8021, true, false},      {kNode, 0x2071, true, false},        {kPort, 0x8021, true, false},
    {kDiscPort, 0x8021, true, true},   {kDiscTarget, 0x8021, true, true},   {kCnaPortId, 0x8021, false, false},
};
// Room for the largest of the records, and guard bytes behind it.
constexpr size_t kRecordRoom = 64 + std::max({sizeof(DEVICENODEPROPERTY), sizeof(DEVICEPORTPROPERTY),
                                               sizeof(DISCPORTPROPERTY), sizeof(DISCTARGETPROPERTY),
                                               sizeof(CNAPORTPROPERTY)});

// The driver's road: status 7 or 8 with the whole record delivered gives the record a clean call writes, or none,
// with SDERR_DATA_OVERRUN or SDERR_DATA_UNDERRUN.
TEST(ApiProps, OverrunAndUnderrunWriteTheRecordOfACleanCall) {
    ApiRig rig;
    sim::ChipFlashOptions mpi_pep;
    mpi_pep.regions = mpi_pep_regions();
    RigPort& converged = rig.add_adapter(0x8021);
    sim::add_remote_port(*converged.sim);
    const std::map<uint16_t, int> handle = {{0x8021, converged.handle},
                                            {0x2071, rig.add_adapter(0x2071, mpi_pep).handle}};
    for (const OverUnderQuery& c : kOverUnderQueries) {
        for (const auto& [driver_status, status] : {std::pair{7u, SDERR_DATA_OVERRUN}, {8u, SDERR_DATA_UNDERRUN}}) {
            SCOPED_TRACE(sysfstest::line("%s on %04x, driver status %u", c.query.name, c.device, driver_status));
            std::vector<uint8_t> clean(kRecordRoom, kFill), got(kRecordRoom, kFill);
            ASSERT_EQ(c.query.call(handle.at(c.device), clean.data()), 0u);
            rig.driver.inject_status(driver_status);
            EXPECT_EQ(c.query.call(handle.at(c.device), got.data()), status);
            EXPECT_EQ(got, c.written ? clean : std::vector<uint8_t>(kRecordRoom, kFill));
        }
    }
}

// The sysfs road answers these queries from attribute files, with no driver status: overrun and underrun cannot
// arise there. What can: the record, or no such device (driver status 9) with nothing written, for a discovered
// port or target that is not there.
TEST(ApiProps, SysfsQueriesWriteTheRecordOrNothing) {
    sim::SimAdapter mpi_pep;
    mpi_pep.device_id = 0x2071;
    sim::ChipFlashOptions options;
    options.regions = mpi_pep_regions();
    sim::build_chip_flash(mpi_pep, options);
    sysfstest::SysfsRig rig;
    // Hosts 5 and 6 of converged adapters, a target behind host 5 only; host 7 of an adapter with MPI and PEP.
    rig.setup.adapters = {sim::sysfs_adapter(0x8021, {5}), sim::sysfs_adapter(0x8021, {6}),
                          sim::sysfs_adapter(0x2071, {7})};
    rig.setup.adapters[0].functions[0].host.rports.emplace_back().luns = {sim::SysfsLun{}};
    rig.setup.adapters[2].flash = mpi_pep.flash;
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    std::map<unsigned, int> handle;  // by host number
    for (uint32_t i = 0; i < 3; ++i) {
        int h = -1;
        ASSERT_EQ(SDOpenDevice(i, &h), 0u);
        handle[check_handle(static_cast<uint32_t>(h))->host_no] = h;
    }
    for (const OverUnderQuery& c : kOverUnderQueries) {
        for (const unsigned host_no : c.device == 0x2071 ? std::vector{7u} : std::vector{5u, 6u}) {
            SCOPED_TRACE(sysfstest::line("%s on host %u", c.query.name, host_no));
            const bool absent = c.discovered && host_no == 6;
            std::vector<uint8_t> got(kRecordRoom, kFill);
            EXPECT_EQ(c.query.call(handle.at(host_no), got.data()), absent ? SDERR_DEVICE_NOT_FOUND : 0u);
            EXPECT_EQ(touched(got.data(), got.size()), !absent);
        }
    }
    for (const auto& [host_no, h] : handle) EXPECT_EQ(SDCloseDevice(h), 0u);
}

// A caller's layout record with room for n regions.
struct LayoutBuffer {
    explicit LayoutBuffer(uint32_t n) : bytes(8 + 8 * size_t{n} + 64, kFill) { layout()->NoOfRegions = n; }
    PSDM_OPT_ROM_LAYOUT layout() { return reinterpret_cast<PSDM_OPT_ROM_LAYOUT>(bytes.data()); }
    uint32_t region(uint32_t i, size_t field = 0) {  // field 0: the region's code, 1: its size
        uint32_t r;
        std::memcpy(&r, bytes.data() + 8 + 8 * size_t{i} + 4 * field, sizeof r);
        return r;
    }
    std::vector<uint8_t> bytes;
};

bool untouched(const std::vector<uint8_t>& b, size_t from = 0) { return sim::all_bytes(b, from, kFill); }

TEST(ApiOptionRom, LayoutOfFixedAndDriverReportedChips) {
    ApiRig rig;
    sim::ChipFlashOptions options;  // a flash-layout chip, its first region to be activated after a write
    options.regions = {sim::flt_region(0x07, 0x40000, 0, 0x06), sim::flt_region(0x01, 0x80000, 0x80000),
                       sim::flt_region(0x1C, 0x1000, 0x141000, 0x01)};
    const int flt = rig.add_adapter(0x2532, options).handle, fixed = rig.add_adapter(0x2432).handle;
    RigPort& reporting = rig.add_adapter(0x2312);
    // A driver that claims more regions than a layout can hold.
    std::vector<uint8_t> driver_layout(4088, 0);
    const uint32_t claimed = 1000;
    std::memcpy(driver_layout.data() + 4, &claimed, 4);
    for (uint32_t i = 0; i < 255; ++i) {
        const uint32_t entry[4] = {0x100 | (i & 0xFF), 0x1000, i * 0x1000, i * 0x1000 + 0xFFF};
        std::memcpy(driver_layout.data() + 8 + 16 * i, entry, sizeof entry);
    }
    rig.adapter_of(reporting).driver_layout = driver_layout;

    LayoutBuffer small(0);  // the count needed; the layout refreshed all the same
    EXPECT_EQ(SDGetOptionRomLayout(flt, 0, small.layout()), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.layout()->NoOfRegions + small.layout()->Size, 3u + 0xA5A5A5A5u);
    EXPECT_EQ(gOptRomLayout.Region[0].Region, 0x00060007u);
    LayoutBuffer full(3);
    ASSERT_EQ(SDGetOptionRomLayout(flt, 0, full.layout()), 0u);
    EXPECT_EQ(full.layout()->Size, 0u);  // a layout read from flash knows no flash size
    EXPECT_EQ((std::vector<uint32_t>{full.region(0), full.region(0, 1), full.region(2)}),
              (std::vector<uint32_t>{7, 0x40000, 0x1C}));
    EXPECT_TRUE(untouched(full.bytes, 8 + 3 * 8));

    LayoutBuffer a(16);  // a fixed layout knows its flash size
    ASSERT_EQ(SDGetOptionRomLayout(fixed, 0, a.layout()), 0u);
    EXPECT_EQ(a.layout()->Size + a.layout()->NoOfRegions, 0x100000u + 7);
    LayoutBuffer b(claimed);
    ASSERT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), 0u);
    EXPECT_EQ(b.layout()->NoOfRegions, 255u);
    EXPECT_EQ(b.region(254), 0xFEu);
    EXPECT_TRUE(untouched(b.bytes, 8 + 255 * 8));
    // Regions the driver counts but did not deliver are not reported; nor is a layout short of its head.
    rig.driver.inject_short(8 + 3 * 16);
    ASSERT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), 0u);
    EXPECT_EQ(b.layout()->NoOfRegions, 3u);
    rig.driver.inject_short(7);
    EXPECT_EQ(SDGetOptionRomLayout(reporting.handle, 0, b.layout()), SDERR_UNKNOWN);
}

// A whole-region read needs a buffer for the whole region, a whole-image read one for the whole image; a
// smaller one is refused before anything is read, whatever the transport. Raw reads need no layout.
TEST(ApiOptionRom, RegionReadsNeverPassTheCallersBuffer) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    RigPort& v = rig.add_virtual(p);
    const std::vector<uint8_t>& flash = rig.adapter_of(p).flash;
    struct Case { const RigPort* port; uint32_t region, size; SD_UINT32 status; };
    const Case cases[] = {
        {&p, 0x07, 0x3FFFF, SDERR_BUFFER_TOO_SMALL}, {&p, 0x07, 0x40000, 0}, {&p, 0x14, 0x200, 0},
        {&p, 0x14, 0x100, SDERR_BUFFER_TOO_SMALL},  {&v, 0x07, 0x40000, 0}, {&p, 0x55, 0x1000, SDERR_UNKNOWN},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buf(c.size + 64, kFill);
        rig.driver.clear_log();
        EXPECT_EQ(SDGetOptionRomEx(c.port->handle, 0, buf.data(), c.size, c.region), c.status) << c.region;
        EXPECT_TRUE(untouched(buf, c.status == 0 ? c.size : 0));
        const auto reads = rig.requests(EXT_CC_READ_OPTROM);
        EXPECT_EQ(reads.empty(), c.status != 0);
        if (c.status != 0) continue;
        const INT_OPT_ROM_REGION* r = std::find_if(gOptRomLayout.Region, gOptRomLayout.Region + 255,
                                                   [&](const INT_OPT_ROM_REGION& e) { return e.Region == c.region; });
        EXPECT_EQ(std::memcmp(buf.data(), flash.data() + r->Beg, c.size), 0);
        // A virtual port of the ioctl road reads with its own driver instance.
        for (const auto& e : reads) EXPECT_EQ(e.hba_select, c.port->sim->instance);
    }
    // Raw bytes need no layout at all.
    pGlobalOptRomLayout = nullptr;
    std::vector<uint8_t> raw(100 + 64, kFill);
    ASSERT_EQ(SDGetOptionRomOffset(p.handle, 0, raw.data(), 100, 0x12345), 0u);
    EXPECT_EQ(std::memcmp(raw.data(), flash.data() + 0x12345, 100), 0);
    EXPECT_TRUE(untouched(raw, 100));
    EXPECT_EQ(pGlobalOptRomLayout, nullptr);
    EXPECT_EQ(SDGetOptionRomOffset(p.handle, 0, nullptr, 100, 0), SDERR_INVALID_PARAMETER);

    // A whole image through the driver's own layout, which every whole-image read loads first.
    RigPort& w = rig.add_adapter(0x2312);
    rig.adapter_of(w).driver_regions[0] = {0, 0x20000};
    INT_OPT_ROM_LAYOUT layout{0x20000, 1, {{0xFF, 0x20000, 0, 0x1FFFF}}};
    rig.adapter_of(w).driver_layout.assign(reinterpret_cast<uint8_t*>(&layout),
                                           reinterpret_cast<uint8_t*>(&layout) + sizeof layout);
    std::vector<uint8_t> rom(0x20000, kFill);
    rig.driver.clear_log();
    EXPECT_EQ(SDGetOptionRom(w.handle, 0, rom.data(), 0x1FFFF), SDERR_INVALID_PARAMETER);
    EXPECT_TRUE(untouched(rom) && rig.requests(EXT_CC_READ_OPTROM).empty());
    ASSERT_EQ(SDGetOptionRom(w.handle, 0, rom.data(), 0x20000), 0u);
    EXPECT_EQ(rom, rig.adapter_of(w).flash);

    // A sysfs port reads a whole region, and region 0 as the whole flash: a buffer for the option ROM alone is
    // refused before the transport; a large enough one goes to it.
    const int sysfs = rig.add_sysfs_adapter(0x2432).handle;
    std::fill(rom.begin(), rom.end(), kFill);
    EXPECT_EQ(SDGetOptionRom(sysfs, 0, rom.data(), 0x20000), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(SDGetOptionRomEx(sysfs, 0, rom.data(), 0x3FFFF, 0x07), SDERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(untouched(rom));
    std::vector<uint8_t> whole(0x100000);
    EXPECT_NE(SDGetOptionRom(sysfs, 0, whole.data(), 0x100000), SDERR_BUFFER_TOO_SMALL);
}

}  // namespace

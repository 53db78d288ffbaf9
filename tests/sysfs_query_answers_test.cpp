// Attribute answers that did not come, through the management API on sysfs ports: a read that fails, a text that is
// no number, or a number past its field fails the call that would report it; an attribute a driver lacks keeps its
// default; the target walk never takes an unreadable id for target 0; virtual ports never share an id and a failed
// create hands out none.
#include <cerrno>
#include <optional>

#include "sim_sysfs_mgmt.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_passthru.h"
#include "vxsdm.h"
#include "vxsdm_stats.h"

namespace {

using sysfstest::hex;
using sysfstest::SysfsRig;

const std::string kScsiHost = "/sys/class/scsi_host/host5/";
const std::string kFcHost = "/sys/class/fc_host/host5/";
const std::string kRport = "/sys/class/fc_remote_ports/rport-5:0-1/";

// One remote port, rport-5:0-<n>, online target <tid> with one LUN.
sim::SysfsRemotePort rport(unsigned n, unsigned tid, unsigned sg) {
    const std::string tail = std::to_string(10 + n);
    return {n, "0x20000000000000" + tail, "0x21000000000000" + tail, "0x0102" + tail, "FCP Target", "Online", tid,
            {{0, "sd" + std::string(1, static_cast<char>('b' + n)), sg, {}}}};
}

using Before = std::function<void(SysfsRig&)>;
Before fail_reads(const std::string& path) {
    return [path](SysfsRig& rig) { rig.host.fail_attr_reads(path, EIO, -1); };
}
Before set_text(const std::string& path, std::optional<std::string> text) {
    return [=](SysfsRig& rig) {
        rig.host.remove(path);
        if (text) rig.host.set_attr(path, sim::text_attr(*text), 0444);
    };
}
using Change = std::function<void(sim::SysfsAdapter&)>;

// A converged adapter (host 5) with remote port 1 (target 0), its texts changed, `change` made to it, loaded
// through the library with `before` run on the installed host; host 5 open.
struct Port {
    explicit Port(const sim::SysfsAttrs& scsi_host, const Before& before = {}, const Change& change = {}) {
        rig.setup.with_bsg = false;
        sim::SysfsHost& h = rig.setup.adapters[0].functions[0].host;
        h.rports = {rport(1, 0, 3)};
        for (const auto& [name, text] : scsi_host) h.scsi_host[name] = text;
        if (change) change(rig.setup.adapters[0]);
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        if (before) before(rig);
        count = SDGetNumberOfAdapters();
        EXPECT_EQ(SDOpenDevice(0, &handle), 0u);
    }
    ~Port() { (void)SDCloseDevice(handle); }
    SysfsRig rig{0x8001};
    SD_UINT32 count = 0;
    int handle = -1;
};

// What each public call answers on a port whose attribute came wrong.
using Call = std::function<SD_UINT32(int)>;
const Call kDiscPort = [](int h) {
    DISCPORTPROPERTY p{};
    return SDGetDiscPortProperty(h, 0, 0, 0, &p);
};
const Call kDatabase = [](int h) {
    std::vector<uint8_t> db(sizeof(DEVICEINFO) + 3 * sizeof(DEVICEINFOENTRY));
    return SDGetPortDatabase(h, 1, reinterpret_cast<PDEVICEINFO>(db.data()), static_cast<SD_UINT32>(db.size()));
};
const Call kDriver = [](int h) {
    DRIVERPROPERTY d{};
    return SDGetHbaDeviceDriverProperty(h, &d);
};
const Call kFirmware = [](int h) {
    FIRMWAREPROPERTY f{};
    return SDGetHbaDeviceFirmwareProperty(h, &f);
};
const Call kNode = [](int h) {
    DEVICENODEPROPERTY n{};
    return SDGetHbaDeviceNodeProperty(h, &n);
};
const Call kPort = [](int h) {
    DEVICEPORTPROPERTY p{};
    return SDGetHbaDevicePortProperty(h, 0, &p);
};
const Call kCna = [](int h) {
    CNAPORTPROPERTY c{};
    SD_UINT32 size = sizeof c;
    return SDGetCnaPortData(h, 0, SD_CNA_GET_PORT_ID, reinterpret_cast<SD_PUINT8>(&c), &size);
};
const Call kChip = [](int h) {
    CHIPPROPERTY c{};
    return SDGetHbaDeviceChipProperty(h, &c);
};
// The pass-through's target list, which no public call reads: the driver status of the sysfs walk.
const Call kTargets = [](int h) {
    std::vector<uint8_t> list(1 << 16);
    uint32_t ext = 0xDEAD;
    (void)vxsysfs_get_tgt_lun_data_list(0, check_handle(static_cast<uint32_t>(h)),
                                        reinterpret_cast<TGT_LUN_DATA_LIST*>(list.data()),
                                        static_cast<uint32_t>(list.size()), &ext);
    return ext;
};

std::string line_of(const EXT_REGIONVERSION& v) {
    return sysfstest::line("%04x", v.Region) + hex(v.Version, 3);
}

constexpr SD_UINT32 kFailed = SDERR_UNKNOWN, kPast = SDERR_DATA_OVERRUN, kNone = SDERR_DEVICE_NOT_FOUND;

TEST(SysfsAnswers, AValueThatDidNotComeFailsTheCallThatReportsIt) {
    const struct {
        const char* what;
        sim::SysfsAttrs texts;
        Before before;  // on the installed host, before the library loads
        std::vector<std::pair<Call, SD_UINT32>> calls;
    } rows[] = {
        {"target id unreadable", {}, fail_reads(kRport + "scsi_target_id"), {{kDiscPort, kFailed}, {kDatabase, kFailed}}},
        {"target id past 16 bits",
         {},
         [](SysfsRig& rig) { rig.host.set_attr(kRport + "scsi_target_id", sim::text_attr("65539"), 0444); },
         {{kDiscPort, kFailed}, {kDatabase, kPast}}},
        {"sg_tablesize unreadable", {}, fail_reads(kScsiHost + "sg_tablesize"), {{kDriver, kFailed}}},
        {"sg_tablesize past 32 bits", {{"sg_tablesize", "4294967424"}}, {}, {{kDriver, kPast}}},
        {"fw_version unreadable", {}, fail_reads(kScsiHost + "fw_version"), {{kFirmware, kFailed}, {kNode, kFailed}}},
        {"fw_version no number", {{"fw_version", "abc"}}, {}, {{kFirmware, kFailed}}},
        {"fw_version past a byte", {{"fw_version", "300.07.00"}}, {}, {{kFirmware, kPast}}},
        {"driver_version unreadable", {}, fail_reads(kScsiHost + "driver_version"), {{kDriver, kFailed}, {kNode, kFailed}}},
        // A text longer than its field is cut to it (TextsLongerThanTheirFieldsAreCutToThem), on every call.
        {"driver_version past the record", {{"driver_version", std::string(200, '9')}}, {}, {{kDriver, 0}, {kNode, 0}}},
        {"model_name past the record", {{"model_name", std::string(200, 'M')}}, {}, {{kNode, 0}}},
        {"serial_num past the record", {{"serial_num", std::string(300, 'S')}}, {}, {{kNode, 0}}},
        {"model_name unreadable", {}, fail_reads(kScsiHost + "model_name"), {{kNode, kFailed}}},
        {"serial_num unreadable", {}, fail_reads(kScsiHost + "serial_num"), {{kNode, kFailed}}},
        {"optrom_efi_version unreadable", {}, fail_reads(kScsiHost + "optrom_efi_version"), {{kNode, kFailed}}},
        // A port whose roles or state could not be read is neither counted nor passed over.
        {"roles unreadable", {}, fail_reads(kRport + "roles"),
         {{kPort, kFailed}, {kDiscPort, kFailed}, {kDatabase, kFailed}, {kTargets, 1}}},
        {"port_state unreadable", {}, fail_reads(kRport + "port_state"),
         {{kDiscPort, kFailed}, {kDatabase, kFailed}, {kTargets, 1}}},
        {"irq unreadable",
         {},
         [](SysfsRig& rig) { rig.host.fail_attr_reads(rig.fabric.pci_dirs[0] + "/irq", EIO, -1); },
         {{kChip, kFailed}}},
        {"config unreadable",
         {},
         [](SysfsRig& rig) { rig.host.fail_attr_reads(rig.fabric.pci_dirs[0] + "/config", EIO, -1); },
         {{kChip, kFailed}}},
        {"link_state unreadable", {}, fail_reads(kScsiHost + "link_state"), {{kPort, kFailed}}},
        {"fw_state no words", {{"fw_state", "ready"}}, {}, {{kPort, kFailed}}},
        {"vlan_id unreadable", {}, fail_reads(kScsiHost + "vlan_id"), {{kCna, kFailed}}},
        {"vlan_id past 16 bits", {{"vlan_id", "65537"}}, {}, {{kCna, kPast}}},
        {"fabric_param past 16 bits", {{"fabric_param", "70000"}}, {}, {{kCna, kPast}}},
        {"vn_port_mac_address no address", {{"vn_port_mac_address", "00:0e:1e:01:02"}}, {}, {{kCna, kFailed}}},
        {"port_name unreadable at discovery", {}, fail_reads(kFcHost + "port_name"), {{kPort, kFailed}, {kNode, kFailed}}},
        // Absent: a driver without the file; an empty text or 0, and success.
        {"absent",
         {{"sg_tablesize", std::nullopt}, {"vlan_id", std::nullopt}, {"fw_state", std::nullopt},
          {"model_name", std::nullopt}, {"serial_num", std::nullopt}, {"optrom_efi_version", std::nullopt}},
         {},
         {{kDriver, 0}, {kCna, 0}, {kPort, 0}, {kNode, 0}, {kTargets, 0}}},
        {"absent roles: no target", {}, set_text(kRport + "roles", std::nullopt), {{kPort, 0}, {kDiscPort, kNone}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Port port(row.texts, row.before);
        EXPECT_EQ(port.count, 1u);  // discovery keeps the port whatever did not come
        for (const auto& [call, status] : row.calls) EXPECT_EQ(call(port.handle), status);
    }
}

// What a public call answers and reports, as one line; each row's port as its texts, `before` and `change` leave it.
using Reading = std::function<std::string(int)>;
struct Row {
    const char* what;
    sim::SysfsAttrs texts;
    Before before;
    Change change;
    std::string want;
};
void expect_rows(const Reading& reading, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Port port(row.texts, row.before, row.change);
        EXPECT_EQ(reading(port.handle), row.want);
    }
}
using sysfstest::line;
const std::string kFailedText = line("%x", kFailed);
Change device(uint16_t id) {
    return [id](sim::SysfsAdapter& a) { a.device_id = id; };
}
// The running versions of the region version list (those the library took at discovery).
const Reading kRunning = [](int h) {
    std::vector<uint8_t> list(8 + 8 * sizeof(REGIONVERSION));
    SD_UINT32 size = static_cast<SD_UINT32>(list.size());
    std::string out = line("%x", SDGetCnaPortData(h, 0, SD_CNA_GET_REGION_VERSIONS, list.data(), &size));
    for (uint32_t i = 0; i < reinterpret_cast<ADAPTERREGIONVERSION*>(list.data())->Length && i < 8; ++i) {
        REGIONVERSION v;
        std::memcpy(&v, list.data() + 8 + i * sizeof v, sizeof v);
        if (v.Location == 1) out += line(" %x:", v.Region) + hex(v.Version, 3);
    }
    return out;
};

// A version is the numbers its conversion takes: a blank before them, a fourth number, a build tag (whole or cut by
// the read) or the word the chips before the 24xx print behind them is not judged; numbers that did not come or do
// not fit still fail.
TEST(SysfsAnswers, VersionsAreTheNumbersTheirConversionTakes) {
    const Reading firmware = [](int h) {
        FIRMWAREPROPERTY f{};
        const SD_UINT32 status = SDGetHbaDeviceFirmwareProperty(h, &f);
        return line("%x ", status) + hex(f.Version, 3);
    };
    const std::string tag = " (" + std::string(80, 'a') + ")";
    expect_rows(firmware, {{"8.07.00 (d0d5)", {}, {}, {}, "0 080700"},
                           {"blank before", {{"fw_version", " 8.07.00 (d0d5)"}}, {}, {}, "0 080700"},
                           {"fourth number", {{"fw_version", "8.07.00.01"}}, {}, {}, "0 080700"},
                           {"a chip before the 24xx, its word behind", {{"fw_version", "3.03.28 IPX"}}, {},
                            device(0x2312), "0 03031c"},
                           {"tag cut by the read", {{"fw_version", "8.07.00" + tag}}, {}, {}, "0 080700"},
                           {"two digits at most behind a dot", {{"fw_version", "8.300.00"}}, {}, {},
                            kFailedText + " 000000"},
                           {"two numbers", {{"fw_version", "8.07"}}, {}, {}, kFailedText + " 000000"}});
    expect_rows(kRunning, {{"1.2.3", {}, {}, {}, "0 40:010203 45:070809"},
                          {"blank before", {{"mpi_version", " 8.07.00 (d0d5)"}}, {}, {}, "0 40:080700 45:070809"},
                          {"fourth number", {{"mpi_version", "8.07.00.01"}}, {}, {}, "0 40:080700 45:070809"},
                          {"tag cut by the read", {{"mpi_version", "8.07.00" + tag}}, {}, {}, "0 40:080700 45:070809"},
                          {"past a byte", {{"phy_version", "7.8.256"}}, {}, {}, "0 40:010203"}});
}

// A text that a call copies into a field is its first characters up to the field's size less one, whatever its
// length: the driver property's and the node's driver version, the node's model, serial number and option ROM version.
TEST(SysfsAnswers, TextsLongerThanTheirFieldsAreCutToThem) {
    const Reading texts = [](int h) {
        DRIVERPROPERTY d{};
        DEVICENODEPROPERTY n{};
        const SD_UINT32 driver = SDGetHbaDeviceDriverProperty(h, &d);
        const SD_UINT32 node = SDGetHbaDeviceNodeProperty(h, &n);
        const auto text = [](const auto& field) { return std::string(reinterpret_cast<const char*>(field)); };
        return line("%x %x ", driver, node) + text(d.Version) + "|" + text(n.DriverVersion) + "|" + text(n.Model) +
               "|" + text(n.SerialNumber) + "|" + text(n.OptionRomVersion);
    };
    const std::string d31(31, 'D'), m15(15, 'M'), s31(31, 'S'), r31(31, 'R');
    expect_rows(texts, {{"filling the fields",
                         {{"driver_version", d31}, {"model_name", m15}, {"serial_num", s31}, {"optrom_bios_version", r31}},
                         {}, {}, "0 0 " + d31 + "|" + d31 + "|" + m15 + "|" + s31 + "|" + r31},
                        {"past the fields",
                         {{"driver_version", d31 + "X"}, {"model_name", m15 + "X"}, {"serial_num", s31 + "X"},
                          {"optrom_bios_version", r31 + "X"}},
                         {}, {}, "0 0 " + d31 + "|" + d31 + "|" + m15 + "|" + s31 + "|" + r31},
                        {"past the driver's records",
                         {{"driver_version", std::string(200, 'D')}, {"model_name", std::string(200, 'M')},
                          {"serial_num", std::string(300, 'S')}, {"optrom_bios_version", std::string(200, 'R')}},
                         {}, {}, "0 0 " + d31 + "|" + d31 + "|" + m15 + "|" + s31 + "|" + r31}});
}

// The numbers the kernel and the driver print in decimal are read in the base their text shows: the PCI function's
// "irq" of the chip property and "total_isp_aborts" of the statistics.
TEST(SysfsAnswers, NumbersPrintedInDecimalAreReadInTheirBase) {
    const Reading numbers = [](int h) {
        CHIPPROPERTY c{};
        STATISTICS s{};
        const SD_UINT32 chip = SDGetHbaDeviceChipProperty(h, &c);
        const SD_UINT32 stats = SDGetStatistics(h, 0, &s);
        return line("%x %u %x %u", chip, c.InterruptLevel, stats, s.ControllerErrorCount);
    };
    const auto irq = [](const char* text) { return [text](sim::SysfsAdapter& a) { a.pci["irq"] = text; }; };
    expect_rows(numbers, {{"decimal", {{"total_isp_aborts", "12"}}, {}, irq("35"), "0 35 0 12"},
                          {"behind 0x", {{"total_isp_aborts", "0x12"}}, {}, irq("0x23"), "0 35 0 18"},
                          {"wider than a byte", {}, {}, irq("16384"), "0 16384 0 0"},
                          {"irq past 16 bits", {}, {}, irq("70000"), line("%x 0 0 0", kPast)}});
}

// Each running version stands on its own read: one that did not come is not listed, the other is.
TEST(SysfsAnswers, ARunningVersionThatDidNotComeTakesNoOtherWithIt) {
    expect_rows(kRunning, {{"both", {}, {}, device(0x8044), "0 40:010203 45:070809"},
                           {"phy_version empty", {{"phy_version", ""}}, {}, device(0x8044), "0 40:010203"},
                           {"phy_version unreadable", {}, fail_reads(kScsiHost + "phy_version"), device(0x8044),
                            "0 40:010203"},
                           {"mpi_version unreadable", {}, fail_reads(kScsiHost + "mpi_version"), device(0x8044),
                            "0 45:070809"}});
}

// Older drivers print five words of the firmware state: words 1 to 3 must come, a sixth that is not there is 0.
TEST(SysfsAnswers, FirmwareStateOfFiveWords) {
    const Reading states = [](int h) {
        DEVICEPORTPROPERTY p{};
        const SD_UINT32 status = SDGetHbaDevicePortProperty(h, 0, &p);
        return line("%x %x %x %x %x", status, p.LinkState1, p.LinkState2, p.LinkState3, p.LinkState6);
    };
    const auto state = [](const char* text) { return sim::SysfsAttrs{{"fw_state", text}}; };
    expect_rows(states, {{"six words", state("0x4 0x5 0x6 0x7 0x8 0x9"), {}, {}, "0 4 5 6 9"},
                         {"five words", state("0x4 0x5 0x6 0x0 0x0"), {}, {}, "0 4 5 6 0"},
                         {"three words, a blank before", state(" 0x4 0x5 0x6"), {}, {}, "0 4 5 6 0"},
                         {"two words", state("0x4 0x5"), {}, {}, kFailedText + " 0 0 0 0"},
                         {"sixth past 16 bits", state("0x4 0x5 0x6 0x7 0x8 0x10000"), {}, {},
                          kFailedText + " 0 0 0 0"}});
}

// A name or a MAC address with a blank before or after it, through the port, a discovered port and the converged
// port's data.
TEST(SysfsAnswers, NamesAndAddressesWithBlanksAroundThem) {
    const Reading names = [](int h) {
        DEVICEPORTPROPERTY p{};
        DISCPORTPROPERTY d{};
        CNAPORTPROPERTY c{};
        SD_UINT32 size = sizeof c;
        const SD_UINT32 port = SDGetHbaDevicePortProperty(h, 0, &p), disc = SDGetDiscPortProperty(h, 0, 0, 0, &d);
        const SD_UINT32 cna = SDGetCnaPortData(h, 0, SD_CNA_GET_PORT_ID, reinterpret_cast<SD_PUINT8>(&c), &size);
        return line("%x %x %x ", port, disc, cna) + hex(p.WWN, 8) + " " + hex(d.PortWWN, 8) + " " +
               hex(c.VNPortMACAddress, 6);
    };
    const Change blank_names = [](sim::SysfsAdapter& a) {
        a.functions[0].host.fc_host["port_name"] = "0x210000e08b000005 ";
        a.functions[0].host.rports[0].port_name = "0x2100000000000011\t";
    };
    const std::string all = "0 0 0 210000e08b000005 2100000000000011 0302011e0e00";
    expect_rows(names, {{"as printed", {}, {}, {}, all},
                        {"names", {}, {}, blank_names, all},
                        {"address, blank before", {{"vn_port_mac_address", " 00:0e:1e:01:02:03"}}, {}, {}, all},
                        {"address, blank after", {{"vn_port_mac_address", "00:0e:1e:01:02:03 "}}, {}, {}, all},
                        {"address byte past 8 bits", {{"vn_port_mac_address", "00:0e:1e:01:02:1ff"}}, {}, {},
                         line("0 0 %x ", kPast) + all.substr(6, 34) + "000000000000"}});
}

// A remote port without "port_id" has id 0; one not bound to a SCSI target ("-1", or no "scsi_target_id") has target
// 0xFFFF and is listed beside the others; any other text that is no id fails.
TEST(SysfsAnswers, RemotePortsWithoutIdOrTarget) {
    const Reading ids = [](int h) {
        DISCPORTPROPERTY d{};
        const SD_UINT32 status = SDGetDiscPortProperty(h, 0, 0, 0, &d);
        std::string out = line("%x ", status) + hex(d.PortID, 3) + line(" %x;", d.TargetID);
        std::vector<uint8_t> db(sizeof(DEVICEINFO) + 3 * sizeof(DEVICEINFOENTRY));
        auto* info = reinterpret_cast<PDEVICEINFO>(db.data());
        out += line(" %x", SDGetPortDatabase(h, 1, info, static_cast<SD_UINT32>(db.size())));
        for (uint32_t i = 0; i < info->ReturnListEntryCount && i < 4; ++i) {
            out += line(" %02x:%x", info->EntryList[i].PortWWN[7], info->EntryList[i].TargetAddress.TargetID);
        }
        return out;
    };
    const Change two = [](sim::SysfsAdapter& a) { a.functions[0].host.rports.push_back(rport(2, 1, 4)); };
    const std::string id = kRport + "port_id", tid = kRport + "scsi_target_id";
    expect_rows(ids, {{"both bound", {}, {}, two, "0 010211 0; 0 11:0 12:1"},
                      {"no port_id", {}, set_text(id, std::nullopt), two, "0 000000 0; 0 11:0 12:1"},
                      {"target -1", {}, set_text(tid, "-1"), two, "0 010211 ffff; 0 11:ffff 12:1"},
                      {"no scsi_target_id", {}, set_text(tid, std::nullopt), two, "0 010211 ffff; 0 11:ffff 12:1"},
                      {"target -2", {}, set_text(tid, "-2"), two, kFailedText + " 000000 0; " + kFailedText},
                      {"target - 1", {}, set_text(tid, "- 1"), two, kFailedText + " 000000 0; " + kFailedText}});
}

// The names of a port (host 5) and its virtual port (host 8, id 1) as the calls report them: absent is 0; one that
// did not come at load is read again by the call, which fails only when that read fails too.
TEST(SysfsAnswers, NamesThatDidNotComeAtLoadAreReadAgain) {
    const std::string fine = "200000e08b000005 210000e08b000005010500 210000e08b000008";
    const struct {
        const char* name;  // of both FC hosts (none: no fault)
        int fails;         // reads failing with EIO (-1: all); 0: the file removed
        SD_UINT32 status;   // of each call
        std::string names;  // the node's, the port's and its id, the virtual port's
    } rows[] = {
        {nullptr, 0, 0, fine},
        {"port_id", 0, 0, "200000e08b000005 210000e08b000005000000 210000e08b000008"},
        {"port_name", 1, 0, fine},
        {"port_name", -1, kFailed, "0000000000000000 0000000000000000000000 0000000000000000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name != nullptr ? row.name : "none") + " " + std::to_string(row.fails));
        SysfsRig rig(0x2532, [](sim::SysfsAdapter& a) { a.functions[0].vports = {8}; });
        rig.setup.with_bsg = false;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        for (const std::string& host : {kFcHost, std::string("/sys/class/fc_host/host8/")}) {
            if (row.name == nullptr) break;
            if (row.fails == 0) rig.host.remove(host + row.name);
            if (row.fails != 0) rig.host.fail_attr_reads(host + row.name, EIO, row.fails);
        }
        ASSERT_EQ(SDGetNumberOfAdapters(), 2u);
        int h = -1;
        ASSERT_EQ(SDOpenDevice(0, &h), 0u);
        DEVICENODEPROPERTY n{};
        DEVICEPORTPROPERTY p{};
        VPORT_INFO v{};
        const SD_UINT32 node = SDGetHbaDeviceNodeProperty(h, &n), port = SDGetHbaDevicePortProperty(h, 0, &p),
                        vport = SDVportGetinfo(h, 1, &v);
        const std::string names = hex(n.WWN, 8) + " " + hex(p.WWN, 8) + hex(p.PortID, 3) + " " + hex(v.wwpn, 8);
        EXPECT_EQ(std::tuple(node, port, vport, names), std::tuple(row.status, row.status, row.status, row.names));
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

// Remote port 1 shows target 1 but its id cannot be read; remote port 2 is target 0. The target walk takes port 2
// for target 0, and finds no port for target 1: never port 1 as target 0.
TEST(SysfsAnswers, TheTargetWalkNeverTakesAnUnreadableIdForTargetZero) {
    SysfsRig rig(0x2532, [](sim::SysfsAdapter& a) { a.functions[0].host.rports = {rport(1, 1, 3), rport(2, 0, 4)}; });
    rig.setup.with_bsg = false;
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    rig.host.fail_attr_reads(kRport + "scsi_target_id", EIO, -1);
    ASSERT_EQ(SDGetNumberOfAdapters(), 1u);
    int h = -1;
    ASSERT_EQ(SDOpenDevice(0, &h), 0u);
    DISCTARGETPROPERTY t{};
    ASSERT_EQ(SDGetDiscTargetProperty(h, 0, 0, 0, &t), 0u);
    EXPECT_EQ(std::tuple(hex(t.PortWWN, 8), t.TargetID), std::tuple("2100000000000012", 0));
    EXPECT_EQ(SDGetDiscTargetProperty(h, 0, 1, 0, &t), kNone);
    EXPECT_EQ(SDCloseDevice(h), 0u);
}

// A physical port whose driver reports 65537 virtual ports at most: its information fails rather than report 1
// free; a virtual port whose vport_id cannot be read is dropped alone at discovery.
TEST(SysfsAnswers, VirtualPortsFoundWithoutTheirMaximumOrId) {
    SysfsRig rig(0x2532, [](sim::SysfsAdapter& a) {
        a.functions[0].vports = {8, 9};
        a.functions[0].host.fc_host["max_npiv_vports"] = "65537";
        a.functions[0].vports[0].scsi_host["vport_id"] = "zz";
        a.functions[0].vports[1].scsi_host["vport_id"] = "0x4";
    });
    rig.setup.with_bsg = false;
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    ASSERT_EQ(SDGetNumberOfAdapters(), 2u);
    EXPECT_EQ(std::tuple(rig.port(8), rig.port(9)->vp_idx), std::tuple(nullptr, 4u));
    int h = -1;
    ASSERT_EQ(SDOpenDevice(0, &h), 0u);
    VPORT_INFO info{};
    EXPECT_EQ(SDVportGetinfo(h, 4, &info), kPast);
    rig.host.set_attr(kFcHost + "max_npiv_vports", sim::text_attr("64"), 0444);
    ASSERT_EQ(SDVportGetinfo(h, 4, &info), 0u);
    EXPECT_EQ(std::tuple(info.free, info.used, info.id), std::tuple(64u, 0u, 4u));
    EXPECT_EQ(SDCloseDevice(h), 0u);
}

// A create whose new host shows a vport_id that gives no id fails, deletes the port again and hands out no id;
// so does one whose new host never shows its WWPN. Without a vport_id the library's own indexes tell the ports
// apart; a vport_id that came is the driver's.
TEST(SysfsAnswers, ACreateHandsOutAnIdThatCameOrNone) {
    SysfsRig rig(0x2532);
    rig.setup.with_bsg = false;
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    sim::SimVports vports;
    vports.install(rig.host, rig.fabric.host_dirs[5] + "/fc_host/host5");
    ASSERT_EQ(SDGetNumberOfAdapters(), 1u);
    int h = -1;
    ASSERT_EQ(SDOpenDevice(0, &h), 0u);
    uint8_t wwnn[8] = {0x20, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1}, wwpn[8] = {0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1};
    const struct {
        const char* what;
        std::optional<std::string> text;  // the new host's vport_id; nullopt: none
        bool unreadable, shows_host;
        SD_UINT32 status, id;
    } rows[] = {
        {"unreadable", "5", true, true, kFailed, 0},
        {"empty", "", false, true, kFailed, 0},
        {"no number", "zz", false, true, kFailed, 0},
        {"zero", "0", false, true, kFailed, 0},
        {"host never shown", std::nullopt, false, false, kFailed, 0},
        {"none: the library's index", std::nullopt, false, true, 0, 1},
        {"none again: the next index", std::nullopt, false, true, 0, 2},
        {"the driver's id", "0x2a", false, true, 0, 0x2a},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        vports.make_host = row.shows_host;
        // The host the driver makes next.
        const std::string vport_id = "/sys/class/scsi_host/host" + std::to_string(vports.next_host) + "/vport_id";
        if (row.text) rig.host.set_attr(vport_id, sim::text_attr(*row.text), 0444);
        if (row.unreadable) rig.host.fail_attr_reads(vport_id, EIO, -1);
        const size_t asked = vports.log.size();
        SD_UINT32 id = 77;
        EXPECT_EQ(SDCreateVport(h, wwnn, wwpn, 0, &id), row.status);
        EXPECT_EQ(id, row.id);
        // A failed create deletes what it wrote; the next create uses another host.
        EXPECT_EQ(vports.log.size() - asked, row.status == 0 ? 1u : 2u);
        ++wwpn[7];
    }
    EXPECT_EQ(sim::listed_ports().size(), 4u);
    EXPECT_EQ(SDCloseDevice(h), 0u);
}

// The running versions of a converged port, three numbers of a byte each: one that did not come is not listed, the
// next moves up; the query answers when one came and fails with the first failure when none did (9 when none is
// there), so that discovery takes no 0.0.0 for a running version.
TEST(SysfsAnswers, RunningRegionVersionsOnlyAsTheyCame) {
    const struct {
        std::optional<std::string> mpi, phy;
        bool unreadable;  // mpi_version
        uint32_t status;
        std::string entries;  // each entry's Region and Version bytes
    } rows[] = {
        {"1.2.3", "7.8.9", false, 0, "0040010203 0045070809"}, {"1.2", "7.8.9", false, 0, "0000000000 0045070809"},
        {"1.2.3", "", false, 0, "0040010203"},                 {"abc", "", false, 1, ""},
        {"1.2.300", std::nullopt, false, 7, ""},               {std::nullopt, std::nullopt, false, 9, ""},
        {"1.2.3", std::nullopt, true, 1, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mpi.value_or("absent") + " " + row.phy.value_or("absent"));
        SysfsRig rig(0x8001, [&](sim::SysfsAdapter& a) {
            a.functions[0].host.scsi_host["mpi_version"] = row.mpi;
            a.functions[0].host.scsi_host["phy_version"] = row.phy;
        });
        rig.discover([&] {
            if (row.unreadable) rig.host.fail_attr_reads(kScsiHost + "mpi_version", EIO, -1);
        });
        std::vector<uint8_t> list(8 + 2 * sizeof(EXT_REGIONVERSION));
        auto* versions = reinterpret_cast<EXT_ADAPTERREGIONVERSION*>(list.data());
        uint32_t count = 2, status = 0xDEAD;
        EXPECT_EQ(vxsysfs_query_adapter_versions(-1, rig.port(5), versions, &count, &status), 0);
        std::string entries;
        for (uint32_t i = 0; i < versions->Length && i < 2; ++i) {
            EXT_REGIONVERSION e{};
            std::memcpy(&e, list.data() + 8 + i * sizeof e, sizeof e);
            entries += (i > 0 ? " " : "") + line_of(e);
        }
        EXPECT_EQ(std::pair(status, entries), std::pair(row.status, row.entries));
    }
}

// The running MPI and PEP versions of the node: as they came, zeros when absent; one that is no version fails the
// node, the caller's record untouched. (The status also carries the refresh of the layout that the versions in flash
// need; only the record is looked at here.)
TEST(SysfsAnswers, NodeRunningVersionsOnlyAsTheyCame) {
    const struct {
        std::optional<std::string> mpi;
        std::string versions;  // the running MPI and PEP versions the caller gets
    } rows[] = {
        {"1.2.3", "01020300 04050600"},
        {std::nullopt, "00000000 00000000"},
        {"1.2", "a5a5a5a5 a5a5a5a5"},
        {"1.2.256", "a5a5a5a5 a5a5a5a5"},
        // The numbers of "%hhu.%hhu.%hhu" in a 16-byte text: a build tag, cut or not, is not the node's to judge.
        {"1.02.03 (100a70)", "01020300 04050600"},
        {"1.02.03 (80000068)", "01020300 04050600"},
        {" 1.2.3", "01020300 04050600"},
        {"1.2.3.4", "01020300 04050600"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mpi.value_or("absent"));
        SysfsRig rig(0x2071, [&](sim::SysfsAdapter& a) { a.functions[0].host.scsi_host["mpi_version"] = row.mpi; });
        rig.setup.with_bsg = false;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        ASSERT_EQ(SDGetNumberOfAdapters(), 1u);
        int h = -1;
        ASSERT_EQ(SDOpenDevice(0, &h), 0u);
        DEVICENODEPROPERTY n;
        std::memset(&n, 0xA5, sizeof n);
        (void)SDGetHbaDeviceNodeProperty(h, &n);
        EXPECT_EQ(hex(n.MpiFwVersion, 4) + " " + hex(n.PepFwVersion, 4), row.versions);
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

}  // namespace

// QoS, transceiver and i2c data, virtual ports, remote port speed and Tarno management through the public
// functions: gates and argument tests, then what each carries between the caller and the simulated host.
#include "api_rig.h"
#include "sim_side.h"
#include "sim_sysfs_mgmt.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::kFill;
using apitest::RigPort;
using sim::Bytes;
using Taken = std::vector<std::pair<uint16_t, uint16_t>>;

constexpr SD_UINT32 kBad = SDERR_INVALID_PARAMETER, kNoHandle = SDERR_INVALID_HANDLE, kNo = SDERR_NOT_SUPPORTED;
const uint8_t kName[8] = {0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1};

// The usual regions of a 4 MiB layout chip and the QoS regions, 0x88 of `size88` bytes, the others of 0x1000.
sim::ChipFlashOptions qos_flash(uint16_t device, uint32_t size88 = 0x1000) {
    sim::SimAdapter probe;
    probe.device_id = device;
    sim::ChipFlashOptions options;
    options.regions = sim::build_chip_flash(probe).regions;
    uint32_t at = 0x100000;
    for (uint8_t code : {0x87, 0x88, 0x3C, 0x3D}) options.regions->push_back(sim::flt_region(code, 0x1000, at += 0x40000));
    options.regions->at(10).size = size88;
    return options;
}

// i2c device 0xA0 of 64 KiB behind the driver, the Tarno controller, and remote port speeds: the last request
// kept, `speed` answered.
struct PortRig : apitest::ApiRig {
    PortRig() {
        side.attach(driver);
        std::tie(i2c.memory[0xA0], side.tarno_memory) = std::tuple(Bytes(0x10000), Bytes(0x2000));
        driver.on(EXT_CC_PORT_PARAM, [this](const sim::SimRequest& r) {
            std::memcpy(&param, r.request.data(), sizeof param);
            INT_PORT_PARAM answer = param;
            answer.Speed = speed;
            return sim::SimReply::with_record(answer);
        });
    }
    sim::SimI2c i2c;
    sim::SimSide side{i2c};
    INT_PORT_PARAM param{};
    uint16_t speed = 16;
};

TEST(ApiPort, GatesAndArgumentTestsInOrder) {
    PortRig rig;
    RigPort& q = rig.add_adapter(0x2071);  // no QoS region in its layout
    RigPort& virt = rig.add_virtual(q);
    virt.sim->records[{EXT_CC_GET_SFP_DATA, 0}] = Bytes(512, 0x5A);
    const int v = virt.handle, old = rig.add_adapter(0x2312).handle;
    const int tarno = rig.add_adapter(0x8432).handle, cna = rig.add_adapter(0x8001).handle;
    const int fs = rig.add_sysfs_adapter(0x2532).handle, old_fs = rig.add_sysfs_adapter(0x2312).handle;
    RigPort& vfs = rig.add_sysfs_adapter(0x2532);
    vfs.rec->interface_type = VX_PORT_VIRTUAL;
    const int h = q.handle;
    SDM_QOS_CONFIG qos{1, 0, {}}, none{0, 0, {}};
    Bytes b(4096);
    uint8_t* buf = b.data();
    uint8_t n[8] = {};
    DESTINATIONADDRESS wwpn{2, {{0x21, 0, 0, 0, 0, 0, 0, 9}}, 0}, loop{1, {}, 0};
    SD_UINT32 speed = 0, id = 0;
    VPORT_INFO info{};
    SD_TARNO_MGT t{}, short_stats{}, stats{};
    short_stats.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4095, buf};
    stats.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4096, buf};
    const std::pair<std::function<SD_UINT32()>, SD_UINT32> rows[] = {
        {[&] { return SDGetQoS(99, nullptr); }, kBad}, {[&] { return SDGetQoS(h, &none); }, kBad},
        {[&] { return SDGetQoS(99, &qos); }, kNoHandle}, {[&] { return SDGetQoS(old, &qos); }, kNo},
        {[&] { return SDGetQoS(v, &qos); }, kNo}, {[&] { return SDGetQoS(h, &qos); }, SDERR_QOS_REGION_MISSING},
        {[&] { return SDSetQoS(99, nullptr); }, kBad}, {[&] { return SDSetQoS(99, &qos); }, kNoHandle},
        {[&] { return SDSetQoS(old, &qos); }, kNo}, {[&] { return SDSetQoS(v, &qos); }, kNo},
        {[&] { return SDSetQoS(h, &qos); }, SDERR_QOS_REGION_MISSING},
        {[&] { return SDGetSFPData(99, 0, buf, 512); }, kNoHandle},
        {[&] { return SDGetSFPData(v, 0, buf, 511); }, SDERR_BUFFER_TOO_SMALL},
        {[&] { return SDGetSFPData(v, 0, nullptr, 512); }, kBad}, {[&] { return SDGetSFPData(v, 0, buf, 512); }, 0},
        {[&] { return SDReadSFPData(99, 0, 0xA0, buf, 1, 0, 0, nullptr); }, kNoHandle},
        {[&] { return SDReadSFPData(v, 0, 0xA0, nullptr, 1, 0, 0, nullptr); }, kBad},
        {[&] { return SDReadSFPData(v, 0, 0xA0, buf, 0x10000, 0, 0, nullptr); }, kBad},
        {[&] { return SDReadSFPData(v, 0, 0xA0, buf, 0x11, 0xFFF0, 0, nullptr); }, kBad},
        {[&] { return SDReadSFPData(v, 0, 0xA0, buf, 0x10, 0xFFF0, 0, nullptr); }, 0},
        {[&] { return SDWriteSFPData(99, 0, 0xA0, buf, 1, 0, 0, nullptr); }, kNoHandle},
        {[&] { return SDWriteSFPData(v, 0, 0xA0, nullptr, 1, 0, 0, nullptr); }, kBad},
        {[&] { return SDWriteSFPData(v, 0, 0xA0, buf, 0xFFFF, 2, 0, nullptr); }, kBad},
        {[&] { return SDWriteSFPData(v, 0, 0xA0, buf, 36, 1030, 0x1000, nullptr); }, 0},
        {[&] { return SDCreateVport(99, nullptr, n, 0, &id); }, kBad},
        {[&] { return SDCreateVport(99, n, nullptr, 0, &id); }, kBad},
        {[&] { return SDCreateVport(99, n, n, 0, nullptr); }, kBad},
        {[&] { return SDCreateVport(99, n, n, 0, &id); }, kNoHandle}, {[&] { return SDCreateVport(h, n, n, 0, &id); }, kNo},
        {[&] { return SDCreateVport(old_fs, n, n, 0, &id); }, kNo},
        {[&] { return SDCreateVport(vfs.handle, n, n, 0, &id); }, SDERR_INVALID_REQUEST},
        {[&] { return SDCreateVport(fs, n, n, 0, &id); }, SDERR_DEVICE_NOT_FOUND},  // no vport_create file
        {[&] { return SDDeleteVport(99, 1); }, kNoHandle}, {[&] { return SDDeleteVport(h, 1); }, kNo},
        {[&] { return SDDeleteVport(old_fs, 1); }, kNo}, {[&] { return SDDeleteVport(vfs.handle, 1); }, SDERR_INVALID_REQUEST},
        {[&] { return SDDeleteVport(fs, 1); }, SDERR_DEVICE_NOT_FOUND},
        {[&] { return SDVportGetinfo(99, 1, &info); }, kNoHandle}, {[&] { return SDVportGetinfo(h, 1, &info); }, kNo},
        {[&] { return SDVportGetinfo(old_fs, 1, &info); }, kNo},
        {[&] { return SDVportGetinfo(vfs.handle, 1, &info); }, SDERR_INVALID_REQUEST},
        {[&] { return SDVportGetinfo(fs, 1, nullptr); }, kBad},
        {[&] { return SDVportGetinfo(fs, 1, &info); }, SDERR_DEVICE_NOT_FOUND},
        {[&] { return SDGetTargetIDMALinkSpeed(99, 0, &wwpn, &speed); }, kNoHandle},
        {[&] { return SDGetTargetIDMALinkSpeed(old, 0, &wwpn, &speed); }, kNo},
        {[&] { return SDGetTargetIDMALinkSpeed(h, 0, nullptr, &speed); }, kBad},
        {[&] { return SDGetTargetIDMALinkSpeed(h, 0, &loop, &speed); }, kBad},
        {[&] { return SDGetTargetIDMALinkSpeed(h, 0, &wwpn, nullptr); }, kBad},
        {[&] { return SDGetTargetIDMALinkSpeed(v, 0, &wwpn, &speed); }, 0},
        {[&] { return SDSetTargetIDMALinkSpeed(99, 0, 1, &wwpn, 22); }, kNoHandle},
        {[&] { return SDSetTargetIDMALinkSpeed(old, 0, 1, &wwpn, 22); }, kNo},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, &loop, 22); }, kBad},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, nullptr, 22); }, kBad},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, &wwpn, 3); }, kBad},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, &wwpn, 10); }, kBad},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, &wwpn, 51); }, kBad},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, &wwpn, 0x10016); }, kBad},
        {[&] { return SDSetTargetIDMALinkSpeed(h, 0, 1, &wwpn, 22); }, 0},
        {[&] { return SDSetTargetIDMALinkSpeed(v, 0, 1, &wwpn, 50); }, 0},
        {[&] { return SDTarnoMgt(99, 2, &t); }, kNoHandle}, {[&] { return SDTarnoMgt(h, 4, &stats); }, kNo},
        {[&] { return SDTarnoMgt(cna, 2, &t); }, kNo}, {[&] { return SDTarnoMgt(tarno, 2, nullptr); }, kBad},
        {[&] { return SDTarnoMgt(cna, 4, &short_stats); }, SDERR_BUFFER_TOO_SMALL},
        {[&] { return SDTarnoMgt(tarno, 5, &t); }, kBad}, {[&] { return SDTarnoMgt(tarno, 0, &t); }, kBad},
        {[&] { return SDTarnoMgt(tarno, 2, &t); }, 0},
        {[&] { return SDTarnoMgt(cna, 4, &stats); }, 0},  // a driver port: the controller is asked
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        rig.driver.clear_log();
        const SD_UINT32 status = rows[i].second;
        EXPECT_EQ(rows[i].first(), status) << "row " << i;
        // Refusals come before any request.
        if (status != 0 && status != SDERR_QOS_REGION_MISSING && status != SDERR_DEVICE_NOT_FOUND) {
            EXPECT_TRUE(rig.driver.log().empty()) << "row " << i;
        }
    }
    EXPECT_TRUE(rig.adapter_of(q).flash_writes.empty());
}

// A caller's table with room for `room` entries, `n` of them given: entry i has Type 0x10 + i, Val 0x20 + i and
// WWPN 21 00 .. i; every other byte kFill.
struct QosTable {
    QosTable(uint16_t n, size_t room) : bytes(offsetof(SDM_QOS_CONFIG, Entry) + room * sizeof(SDM_QOS_ENTRY), kFill) {
        get()->NumEntries = n;
        for (uint8_t i = 0; i < n && i < room; ++i) {
            get()->Entry[i].Type = 0x10 + i, get()->Entry[i].Val = 0x20 + i;
            std::memcpy(get()->Entry[i].WWPN, kName, 7), get()->Entry[i].WWPN[7] = i;
        }
    }
    PSDM_QOS_CONFIG get() { return reinterpret_cast<PSDM_QOS_CONFIG>(bytes.data()); }
    Bytes bytes;
};

uint16_t word_sum(const Bytes& b, size_t at, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; i += 2) sum += sim::get_le16(b, at + i);
    return static_cast<uint16_t>(sum);
}

// Two entries make an 80-byte record whose words add up to 0, in the region of the PCI function (whatever the
// device number), activated with sub-code 5 on that port alone.
TEST(ApiPort, QosRecordInTheFunctionsRegionThenActivated) {
    const std::tuple<uint16_t, unsigned, uint8_t> rows[] = {{0x2071, 0, 0x87}, {0x2071, 1, 0x88}, {0x2071, 2, 0x3C},
                                                            {0x2071, 3, 0x3D}, {0x2031, 0, 0x87}, {0x8831, 1, 0x88}};
    for (const auto& [device, function, region] : rows) {
        PortRig rig;
        const sim::ChipFlashOptions options = qos_flash(device);
        RigPort* p = &rig.add_adapter(device, options);
        for (unsigned f = 0; f < function; ++f) p = &rig.add_function(*p);
        p->rec->phy_info->pci_dev_func |= 0x08;
        QosTable table(2, 2);
        ASSERT_EQ(SDSetQoS(p->handle, table.get()), 0u) << std::hex << device << " " << function;
        const Bytes& flash = rig.adapter_of(*p).flash;
        const uint32_t at = apitest::region_of(options, region).start;
        Bytes want = {'V', 'Q', 'O', 'S', 1, 0, 80, 0, flash[at + 8], flash[at + 9], 2, 0, 32, 0, 0, 0};
        for (uint8_t i = 0; i < 2; ++i) {
            const Bytes entry = {0, 0, uint8_t(0x20 + i), uint8_t(0x10 + i), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
            want.insert(want.end(), entry.begin(), entry.end());
            want.insert(want.end(), kName, kName + 7), want.push_back(i), want.resize(want.size() + 8);
        }
        EXPECT_EQ(apitest::slice(flash, at, 80), want);
        EXPECT_EQ(word_sum(flash, at, 80), 0);
        EXPECT_EQ(rig.taken(), (Taken{{p->sim->instance, 5}}));
    }
}

// Region 0x87 of 0x1000 bytes holds 127 entries; with none, the record spans the region. Nothing is activated
// after a failed write; a failed activation is the status; a region too long for the length field takes entries
// only. While another process holds the adapter's flash update token nothing is written.
TEST(ApiPort, QosRecordsThatFitAndFailures) {
    apitest::TokenRig rig;
    const sim::ChipFlashOptions options = qos_flash(0x2071, 0x10000);
    RigPort& p = rig.add_adapter(0x2071, options);
    const int large = rig.add_function(p).handle;  // region 0x88
    sim::SimAdapter& a = rig.adapter_of(p);
    const uint32_t at = apitest::region_of(options, 0x87).start;
    const auto writes = [&] { return std::pair(a.flash_writes.size(), rig.taken().size()); };
    QosTable empty(0, 1), full(127, 127), over(128, 128);
    ASSERT_EQ(SDSetQoS(p.handle, empty.get()), 0u);
    Bytes record = apitest::slice(a.flash, at, 0x1000);
    std::tie(record[8], record[9]) = std::pair(0, 0);
    EXPECT_EQ(apitest::slice(record, 0, 16), (Bytes{'V', 'Q', 'O', 'S', 1, 0, 0, 0x10, 0, 0, 0, 0, 32, 0, 0, 0}));
    EXPECT_TRUE(sim::all_bytes(record, 16, 0));
    EXPECT_EQ(word_sum(a.flash, at, 0x1000), 0);
    EXPECT_EQ(SDSetQoS(p.handle, full.get()), 0u);
    EXPECT_EQ(writes(), std::pair(size_t{2}, size_t{2}));
    EXPECT_EQ(SDSetQoS(p.handle, over.get()), SDERR_REGION_TOO_SMALL);
    a.torn_write = 8;
    EXPECT_EQ(SDSetQoS(p.handle, full.get()), SDERR_UNKNOWN);
    EXPECT_EQ(writes(), std::pair(size_t{2}, size_t{2}));
    rig.acts.fail(p.sim->instance, 1);
    EXPECT_EQ(SDSetQoS(p.handle, full.get()), SDERR_SIBLING_FAILED);
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(p.handle, 0, &token), 0u);
    shtest::Child other([&](shtest::Child&) {
        return SDSetQoS(p.handle, full.get()) == SDERR_FUT_NOT_SET && a.flash_writes.size() == 3 ? 0 : 1;
    });
    EXPECT_EQ(other.wait(), 0);
    ASSERT_EQ(SDEndFlashUpdate(p.handle, 0, token), 0u);
    EXPECT_EQ(SDSetQoS(large, empty.get()), SDERR_REGION_TOO_SMALL);
    EXPECT_EQ(SDSetQoS(large, full.get()), 0u);
}

// The driver's table (0x25) of `reported` entries: at most the caller's two are copied, without the reserved
// bytes; the count reported is kept, also with "buffer too small", when no entry is written.
TEST(ApiPort, QosTableFromTheDriver) {
    PortRig rig;
    RigPort& p = rig.add_adapter(0x2031, qos_flash(0x2031));
    uint16_t reported = 0, asked = 0;
    uint32_t status = 0;
    rig.driver.on(EXT_CC_QOS_STATE, [&](const sim::SimRequest& r) {
        sim::SimReply reply = sim::SimReply::with_status(status);
        reply.response = {uint8_t(reported), 0, 0x77, 0};
        for (uint8_t i = 0; i < reported; ++i) {
            const Bytes e = {uint8_t(1 + i), uint8_t(2 + i), uint8_t(3 + i), 0xEE, 0x21, 0, 0, 0, 0, 0, 0, i};
            reply.response.insert(reply.response.end(), e.begin(), e.end()), reply.response.resize(4 + 32 * (i + 1), 0xEE);
        }
        asked = sim::get_le16(r.request, 0);
        return reply;
    });
    for (const auto& [count, driver_status, result, filled] :
         {std::tuple(2, 0u, 0u, 2), {5, 0u, 0u, 2}, {1, 0u, 0u, 1}, {5, 16u, SDERR_BUFFER_TOO_SMALL, 0}}) {
        std::tie(reported, status) = std::tuple(count, driver_status);
        QosTable table(2, 3);
        const Bytes before = table.bytes;
        EXPECT_EQ(SDGetQoS(p.handle, table.get()), result) << count;
        EXPECT_EQ(std::tuple(asked, table.get()->NumEntries), std::tuple(2, count));
        EXPECT_EQ(table.get()->QoSVendor, filled != 0 ? 0x77 : 0xA5A5);
        for (uint8_t i = 0; i < 3; ++i) {
            SDM_QOS_ENTRY want;
            std::memcpy(&want, before.data() + 4 + 32 * i, 32);
            if (i < filled) std::tie(want.Type, want.Val, want.Status) = std::tuple(1 + i, 2 + i, 3 + i);
            if (i < filled) std::memcpy(want.WWPN, Bytes{0x21, 0, 0, 0, 0, 0, 0, i}.data(), 8);
            EXPECT_EQ(sim::bytes_of(&table.get()->Entry[i], 32), sim::bytes_of(&want, 32)) << count << " " << int(i);
        }
    }
}

// One adapter on a sysfs host: host 5 with vports 8 and 9 (ids 1 and 2), converged host 6. A delete shifts the
// ports behind the vport, yet an open never hands out a handle another port holds. A new vport is reported
// (bound kept) and deleted; host 6 has none of its ids. MAC statistics come from host 6's file, or else from
// the controller.
TEST(ApiPort, VirtualPortsAndMacStatisticsOnASysfsHost) {
    sysfstest::SysfsRig rig(0x8001, [](sim::SysfsAdapter& a) {
        a = sim::sysfs_adapter(0x8001, {5, 6});
        a.functions[0].vports = {8, 9};
    });
    rig.setup.with_bsg = false;
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    sim::SimVports vports;
    vports.install(rig.host, rig.fabric.host_dirs[5] + "/fc_host/host5");
    int a = 0, v9 = 0, b = 0;
    ASSERT_EQ(std::tuple(SDOpenDevice(0, &a), SDOpenDevice(2, &v9)), std::tuple(0u, 0u));
    ASSERT_EQ(SDDeleteVport(a, 1), 0u);
    ASSERT_EQ(SDOpenDevice(2, &b), 0u);
    EXPECT_NE(b, v9);
    EXPECT_EQ(std::tuple(check_handle(b), check_handle(v9), rig.port(8)), std::tuple(rig.port(6), rig.port(9), nullptr));

    const uint8_t wwnn[8] = {0x20, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1};
    SD_UINT32 id = 0;
    ASSERT_EQ(SDCreateVport(a, const_cast<uint8_t*>(wwnn), const_cast<uint8_t*>(kName), 2, &id), 0u);
    EXPECT_EQ(vports.log.back(), "210000AABBCC0001:200000AABBCC0001\n");
    auto info = apitest::filled<VPORT_INFO>();
    ASSERT_EQ(SDVportGetinfo(a, id, &info), 0u);
    EXPECT_EQ(std::tuple(info.id, info.state, info.used, info.bound), std::tuple(id, 1u, 1u, 0xA5A5A5A5u));
    EXPECT_EQ(std::tuple(sim::bytes_of(info.wwnn, 8), sim::bytes_of(info.wwpn, 8)),
              std::tuple(sim::bytes_of(wwnn, 8), sim::bytes_of(kName, 8)));
    EXPECT_EQ(SDDeleteVport(b, id), SDERR_DEVICE_NOT_FOUND);
    ASSERT_EQ(SDDeleteVport(a, id), 0u);
    EXPECT_EQ(SDVportGetinfo(a, id, &info), SDERR_DEVICE_NOT_FOUND);

    const std::string dir = rig.fabric.host_dirs[6];
    rig.host.set_attr(dir + "/xgmac_stats", sim::bytes_attr(std::make_shared<std::string>(40, 'm')), 0444);
    sim::SimTarno tarno;
    tarno.memory = sim::pattern(8192, 4);
    Bytes data(4096, kFill);
    SD_TARNO_MGT stats{};
    stats.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4096, data.data()};
    EXPECT_EQ(SDTarnoMgt(b, 4, &stats), 0u);
    Bytes want(4096, 0);
    std::fill_n(want.begin(), 40, 'm');
    EXPECT_EQ(data, want);
    rig.host.remove(dir + "/xgmac_stats");
    tarno.install(rig.host, dir);
    EXPECT_EQ(SDTarnoMgt(b, 4, &stats), 0u);
    EXPECT_EQ(std::tuple(tarno.log.front(), data), std::tuple("cmd 00 4096 0000 0000 0000\\0", apitest::slice(tarno.memory, 0, 4096)));
    for (int h : {a, v9, b}) EXPECT_EQ(SDCloseDevice(h), 0u);
}

// The transceiver's pages pass through; 100 bytes go as pieces of 64 and 36, and when the second fails the first
// stays. The remote port goes out by port name with the mode's low 16 bits; a reported speed outside the codes
// leaves the caller's value.
TEST(ApiPort, TransceiverPiecesAndRemotePortSpeeds) {
    PortRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    p.sim->records[{EXT_CC_GET_SFP_DATA, 0}] = sim::pattern(512, 3);
    Bytes got(512), device = rig.i2c.memory[0xA0] = sim::pattern(0x80, 7), put = sim::pattern(36, 9);
    SD_UINT16 unused = 0xBEEF;
    ASSERT_EQ(SDGetSFPData(p.handle, 0, got.data(), 512), 0u);
    EXPECT_EQ(got, sim::pattern(512, 3));
    got.assign(100, kFill);
    ASSERT_EQ(SDReadSFPData(p.handle, 0, 0xA0, got.data(), 100, 0x10, 0x1000, &unused), 0u);
    EXPECT_EQ(got, apitest::slice(device, 0x10, 100));
    got.assign(100, kFill);
    EXPECT_EQ(SDReadSFPData(p.handle, 0, 0xA0, got.data(), 100, 0x30, 0x1001, &unused), kBad);  // 0x94 > 0x80
    EXPECT_EQ(apitest::slice(got, 0, 64), apitest::slice(device, 0x30, 64));
    EXPECT_TRUE(sim::all_bytes(got, 64, kFill));
    ASSERT_EQ(SDWriteSFPData(p.handle, 0, 0xA0, put.data(), 36, 0x40, 0x1000, nullptr), 0u);
    EXPECT_EQ(apitest::slice(rig.i2c.memory[0xA0], 0x40, 36), put);
    EXPECT_EQ(rig.side.i2c_pieces, (std::vector<std::pair<uint16_t, uint16_t>>{
                                       {0x10, 64}, {0x50, 36}, {0x30, 64}, {0x70, 36}, {0x40, 36}}));
    EXPECT_EQ(unused, 0xBEEF);

    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0xAA, 0, 0, 0, 5}}, 7};
    INT_PORT_PARAM want{{{{0x21, 0, 0, 0xAA, 0, 0, 0, 5}}, VX_DEST_WWPN, 0, {}}, 0, 0};
    SD_UINT32 speed = 99;
    for (const auto& [reported, kept] : {std::pair<uint16_t, SD_UINT32>{16, 16}, {3, 16}, {50, 50}}) {
        rig.speed = reported;
        EXPECT_EQ(SDGetTargetIDMALinkSpeed(p.handle, 0, &d, &speed), 0u);
        EXPECT_EQ(std::tuple(speed, sim::bytes_of(&rig.param, 20)), std::tuple(kept, sim::bytes_of(&want, 20)));
    }
    ASSERT_EQ(SDSetTargetIDMALinkSpeed(p.handle, 0, 0x10001, &d, 22), 0u);
    std::tie(want.Mode, want.Speed) = std::tuple(1, 22);
    EXPECT_EQ(sim::bytes_of(&rig.param, 20), sim::bytes_of(&want, 20));
    rig.driver.inject_status(EXT_STATUS_ERR);
    EXPECT_EQ(std::tuple(SDGetTargetIDMALinkSpeed(p.handle, 0, &d, &speed), speed), std::tuple(SDERR_UNKNOWN, 50u));
}

}  // namespace

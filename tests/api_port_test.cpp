// QoS, transceiver and i2c data, virtual ports, remote port speed and Tarno management through the public
// functions: gates and argument tests, then what each carries between the caller and the simulated host.
#include "api_rig.h"
#include "sim_side.h"
#include "sim_sysfs_mgmt.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::kFill;
using apitest::slice;
using sim::Bytes;

constexpr SD_UINT32 kBad = SDERR_INVALID_PARAMETER, kNoHandle = SDERR_INVALID_HANDLE, kNo = SDERR_NOT_SUPPORTED;
constexpr SD_UINT32 kNone = SDERR_DEVICE_NOT_FOUND, kSmall = SDERR_BUFFER_TOO_SMALL, kVirtual = SDERR_INVALID_REQUEST;
constexpr SD_UINT32 kNoRegion = SDERR_QOS_REGION_MISSING;
uint8_t kName[8] = {0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1};

// The usual regions of a 4 MiB layout chip and the QoS regions 0x87, 0x88 (of `size88` bytes), 0x3C and 0x3D.
sim::ChipFlashOptions qos_flash(uint16_t device, uint32_t size88 = 0x1000) {
    sim::SimAdapter probe;
    probe.device_id = device;
    sim::ChipFlashOptions o;
    o.regions = sim::build_chip_flash(probe).regions;
    for (uint8_t c : {0x87, 0x88, 0x3C, 0x3D}) o.regions->push_back(sim::flt_region(c, 0x1000, 0x100000 + c * 0x1000));
    o.regions->at(10).size = size88;
    return o;
}

// i2c device 0xA0 and the Tarno controller behind the driver; remote port speeds: the request kept, `speed`
// answered.
struct PortRig : apitest::TokenRig {
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

#define ROW(call, status) {[&] { return call; }, status}

// Per function a bad handle, refused and accepted chips, a virtual port and each argument test, in the
// order the functions make them; a refusal sends nothing.
TEST(ApiPort, GatesAndArgumentTestsInOrder) {
    PortRig rig;
    apitest::RigPort& q = rig.add_adapter(0x2071);  // no QoS region in its layout
    apitest::RigPort& virt = rig.add_virtual(q);
    virt.sim->records[{EXT_CC_GET_SFP_DATA, 0}] = Bytes(512);
    const int h = q.handle, v = virt.handle, old = rig.add_adapter(0x2312).handle;
    const int tarno = rig.add_adapter(0x8432).handle, cna = rig.add_adapter(0x8001).handle;
    const int fs = rig.add_sysfs_adapter(0x2532).handle, ofs = rig.add_sysfs_adapter(0x2312).handle;
    apitest::RigPort& vfs_port = rig.add_sysfs_adapter(0x2532);
    const int vfs = vfs_port.handle;
    vfs_port.rec->interface_type = VX_PORT_VIRTUAL;
    SDM_QOS_CONFIG qos{1, 0, {}}, none{0, 0, {}};
    uint8_t b[4096], *n = kName;
    DESTINATIONADDRESS w{2, {{0x21}}, 0}, loop{1, {}, 0};
    SD_UINT32 s = 0, id = 0;
    VPORT_INFO info{};
    SD_TARNO_MGT t{}, stats{}, few{};
    stats.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4096, b};
    few.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4095, b};
    const auto rd = [](int x, uint8_t* p, SD_UINT32 size, uint16_t at) {
        return SDReadSFPData(x, 0, 0xA0, p, size, at, 0, nullptr);
    };
    const auto wr = [](int x, uint8_t* p, SD_UINT32 size, uint16_t at) {
        return SDWriteSFPData(x, 0, 0xA0, p, size, at, 0x1000, nullptr);
    };
    const auto get = [](int x, PDESTINATIONADDRESS d, SD_PUINT32 p) { return SDGetTargetIDMALinkSpeed(x, 0, d, p); };
    const auto set = [](int x, PDESTINATIONADDRESS d, SD_UINT32 p) { return SDSetTargetIDMALinkSpeed(x, 0, 1, d, p); };
    const std::pair<std::function<SD_UINT32()>, SD_UINT32> rows[] = {
        ROW(SDGetQoS(99, nullptr), kBad), ROW(SDGetQoS(h, &none), kBad), ROW(SDGetQoS(99, &qos), kNoHandle),
        ROW(SDGetQoS(old, &qos), kNo), ROW(SDGetQoS(v, &qos), kNo), ROW(SDGetQoS(h, &qos), kNoRegion),
        ROW(SDSetQoS(99, nullptr), kBad), ROW(SDSetQoS(99, &qos), kNoHandle), ROW(SDSetQoS(old, &qos), kNo),
        ROW(SDSetQoS(v, &qos), kNo), ROW(SDSetQoS(h, &qos), kNoRegion),
        ROW(SDGetSFPData(99, 0, b, 512), kNoHandle), ROW(SDGetSFPData(v, 0, b, 511), kSmall),
        ROW(SDGetSFPData(v, 0, nullptr, 512), kBad), ROW(SDGetSFPData(v, 0, b, 512), 0),
        ROW(rd(99, b, 1, 0), kNoHandle), ROW(rd(v, nullptr, 1, 0), kBad), ROW(rd(v, b, 0x10000, 0), kBad),
        ROW(rd(v, b, 0x11, 0xFFF0), kBad), ROW(rd(v, b, 0x10, 0xFFF0), 0), ROW(wr(99, b, 1, 0), kNoHandle),
        ROW(wr(v, nullptr, 1, 0), kBad), ROW(wr(v, b, 0xFFFF, 2), kBad), ROW(wr(v, b, 36, 1030), 0),
        ROW(SDCreateVport(99, nullptr, n, 0, &id), kBad), ROW(SDCreateVport(99, n, nullptr, 0, &id), kBad),
        ROW(SDCreateVport(99, n, n, 0, nullptr), kBad), ROW(SDCreateVport(99, n, n, 0, &id), kNoHandle),
        ROW(SDCreateVport(h, n, n, 0, &id), kNo), ROW(SDCreateVport(ofs, n, n, 0, &id), kNo),
        ROW(SDCreateVport(vfs, n, n, 0, &id), kVirtual), ROW(SDCreateVport(fs, n, n, 0, &id), kNone),  // no file
        ROW(SDDeleteVport(99, 1), kNoHandle), ROW(SDDeleteVport(h, 1), kNo), ROW(SDDeleteVport(ofs, 1), kNo),
        ROW(SDDeleteVport(vfs, 1), kVirtual), ROW(SDDeleteVport(fs, 1), kNone),
        ROW(SDVportGetinfo(99, 1, &info), kNoHandle), ROW(SDVportGetinfo(h, 1, &info), kNo),
        ROW(SDVportGetinfo(ofs, 1, &info), kNo), ROW(SDVportGetinfo(vfs, 1, &info), kVirtual),
        ROW(SDVportGetinfo(fs, 1, nullptr), kBad), ROW(SDVportGetinfo(fs, 1, &info), kNone),
        ROW(get(99, &w, &s), kNoHandle), ROW(get(old, &w, &s), kNo), ROW(get(h, nullptr, &s), kBad),
        ROW(get(h, &loop, &s), kBad), ROW(get(h, &w, nullptr), kBad), ROW(get(v, &w, &s), 0),
        ROW(set(99, &w, 22), kNoHandle), ROW(set(old, &w, 22), kNo), ROW(set(h, &loop, 22), kBad),
        ROW(set(h, nullptr, 22), kBad), ROW(set(h, &w, 3), kBad), ROW(set(h, &w, 51), kBad),
        ROW(set(h, &w, 0x10016), kBad), ROW(set(h, &w, 22), 0), ROW(set(v, &w, 50), 0),
        ROW(SDTarnoMgt(99, 2, &t), kNoHandle), ROW(SDTarnoMgt(h, 4, &stats), kNo), ROW(SDTarnoMgt(cna, 2, &t), kNo),
        ROW(SDTarnoMgt(tarno, 2, nullptr), kBad), ROW(SDTarnoMgt(cna, 4, &few), kSmall),
        ROW(SDTarnoMgt(tarno, 5, &t), kBad), ROW(SDTarnoMgt(tarno, 0, &t), kBad), ROW(SDTarnoMgt(tarno, 2, &t), 0),
        ROW(SDTarnoMgt(cna, 4, &stats), 0),  // a driver port: the controller is asked
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        rig.driver.clear_log();
        const SD_UINT32 status = rows[i].second;
        EXPECT_EQ(rows[i].first(), status) << "row " << i;
        const bool refused = status != 0 && status != kNoRegion && status != kNone;
        EXPECT_TRUE(!refused || rig.driver.log().empty()) << "row " << i;
    }
    EXPECT_TRUE(rig.adapter_of(q).flash_writes.empty());
}

// A caller's table: room for `room` entries, `n` given (entry i: Type 0x10 + i, Val 0x20 + i, WWPN kName ending
// in i); every other byte kFill.
struct QosTable {
    QosTable(uint16_t n, size_t room) : bytes(4 + room * sizeof(SDM_QOS_ENTRY), kFill) {
        get()->NumEntries = n;
        for (uint8_t i = 0; i < n; ++i) {
            SDM_QOS_ENTRY& e = get()->Entry[i];
            std::tie(e.Type, e.Val) = std::pair(0x10 + i, 0x20 + i);
            std::memcpy(e.WWPN, kName, 7), e.WWPN[7] = i;
        }
    }
    PSDM_QOS_CONFIG get() { return reinterpret_cast<PSDM_QOS_CONFIG>(bytes.data()); }
    Bytes bytes;
};

uint16_t word_sum(const Bytes& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2) sum += sim::get_le16(b, i);
    return static_cast<uint16_t>(sum);
}

// Two entries make an 80-byte record whose words add up to 0, in the region of the PCI function whatever the
// device number, activated (sub-code 5) on that port alone. Region 0x87 holds 127 entries, or with none an empty
// record over it. Nothing is activated after a failed write; a failed activation is the status; region 0x88 of
// 64 KiB is too long for the length field when empty. Nothing is written while another process holds the token.
TEST(ApiPort, QosRecordsInTheFunctionsRegion) {
    PortRig rig;
    const sim::ChipFlashOptions options = qos_flash(0x2071, 0x10000);
    std::vector<std::pair<apitest::RigPort*, uint8_t>> ports;
    for (const auto& [device, regions] : {std::pair<uint16_t, Bytes>{0x2071, {0x87, 0x88, 0x3C, 0x3D}},
                                          {0x8831, {0x87, 0x88, 0x87}}}) {
        apitest::RigPort& first = rig.add_adapter(device, qos_flash(device, 0x10000));
        for (size_t f = 0; f < regions.size(); ++f) {
            ports.emplace_back(f != 0 ? &rig.add_function(first) : &first, regions[f]);
        }
    }
    Bytes want = {'V', 'Q', 'O', 'S', 1, 0, 80, 0, 0, 0, 2, 0, 32, 0, 0, 0};
    for (uint8_t i = 0; i < 2; ++i) {
        want.resize(want.size() + 32);
        uint8_t* e = &want[16 + 32 * i];
        std::tie(e[2], e[3], e[23]) = std::tuple(0x20 + i, 0x10 + i, i), std::memcpy(e + 16, kName, 7);
    }
    QosTable two(2, 2), empty(0, 1), full(127, 127), over(128, 128);
    for (const auto& [p, region] : ports) {
        p->rec->phy_info->pci_dev_func |= 0x08;
        ASSERT_EQ(SDSetQoS(p->handle, two.get()), 0u) << int(region);
        Bytes got = slice(rig.adapter_of(*p).flash, apitest::region_of(options, region).start, 80);
        EXPECT_EQ(word_sum(got), 0);
        std::tie(got[8], got[9]) = std::pair(0, 0);
        EXPECT_EQ(got, want);
        EXPECT_EQ(rig.taken().back(), std::pair(p->sim->instance, uint16_t{5}));
    }
    apitest::RigPort& p = *ports[0].first;
    sim::SimAdapter& a = rig.adapter_of(p);
    const auto done = [&] { return std::pair(a.flash_writes.size(), rig.taken().size()); };
    ASSERT_EQ(SDSetQoS(p.handle, empty.get()), 0u);
    const Bytes record = slice(a.flash, apitest::region_of(options, 0x87).start, 0x1000);
    EXPECT_EQ(std::tuple(word_sum(record), record[6], record[7], record[10]), std::tuple(0, 0, 0x10, 0));
    EXPECT_TRUE(sim::all_bytes(record, 16, 0));
    EXPECT_EQ(SDSetQoS(p.handle, full.get()), 0u);
    const auto before = done();
    EXPECT_EQ(SDSetQoS(p.handle, over.get()), SDERR_REGION_TOO_SMALL);
    a.torn_write = 8;
    EXPECT_EQ(SDSetQoS(p.handle, full.get()), SDERR_UNKNOWN);
    EXPECT_EQ(SDSetQoS(ports[1].first->handle, empty.get()), SDERR_REGION_TOO_SMALL);
    EXPECT_EQ(done(), before);
    rig.acts.fail(p.sim->instance, 1);
    EXPECT_EQ(SDSetQoS(p.handle, full.get()), SDERR_SIBLING_FAILED);
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(p.handle, 0, &token), 0u);
    const size_t writes = a.flash_writes.size();
    shtest::Child other([&](shtest::Child&) {
        return SDSetQoS(p.handle, full.get()) == SDERR_FUT_NOT_SET && a.flash_writes.size() == writes ? 0 : 1;
    });
    EXPECT_EQ(other.wait(), 0);
}

// The first 12 bytes of entry i of the driver's table.
Bytes entry_head(uint8_t i, uint8_t reserved) {
    return {uint8_t(1 + i), uint8_t(2 + i), uint8_t(3 + i), reserved, 0x21, 0, 0, 0, 0, 0, 0, i};
}

// The driver's table (0x25) of `reported` entries: at most the caller's two are copied, reserved bytes left; the
// count reported is kept, also with "buffer too small", where no entry is written.
TEST(ApiPort, QosTableFromTheDriver) {
    PortRig rig;
    const int h = rig.add_adapter(0x2031, qos_flash(0x2031)).handle;
    uint16_t reported = 0, asked = 0;
    uint32_t status = 0;
    rig.driver.on(EXT_CC_QOS_STATE, [&](const sim::SimRequest& r) {
        sim::SimReply reply = sim::SimReply::with_status(status);
        reply.response = {uint8_t(reported), 0, 0x77, 0};
        for (uint8_t i = 0; i < reported; ++i) {
            const Bytes e = entry_head(i, 0xEE);
            reply.response.insert(reply.response.end(), e.begin(), e.end());
            reply.response.resize(4 + 32 * (i + 1), 0xEE);
        }
        asked = sim::get_le16(r.request, 0);
        return reply;
    });
    for (const auto& [count, driver_status, result, filled] :
         {std::tuple(2, 0u, 0u, 2), {5, 0u, 0u, 2}, {1, 0u, 0u, 1}, {5, 16u, kSmall, 0}}) {
        std::tie(reported, status) = std::tuple(count, driver_status);
        QosTable table(2, 3);
        Bytes want = table.bytes;
        std::tie(want[0], want[1]) = std::pair(count, 0);
        if (filled != 0) std::tie(want[2], want[3]) = std::pair(0x77, 0);
        for (uint8_t i = 0; i < filled; ++i) std::ranges::copy(entry_head(i, kFill), &want[4 + 32 * i]);
        EXPECT_EQ(SDGetQoS(h, table.get()), result) << count;
        EXPECT_EQ(std::tuple(asked, table.bytes), std::tuple(2, want)) << count;
    }
}

// The driver's table as far as it arrived (ResponseLen), room for four entries and a guard entry behind them:
// the head and every entry the count asks for (at most four) must have come, or the call fails with data
// underrun and the caller's table, guard included, stays as it was. Bytes the driver left beyond what it
// reports count for nothing; more than it counts is fine. Buffer too small needs its count delivered too.
TEST(ApiPort, QosTableAsFarAsDelivered) {
    PortRig rig;
    const int h = rig.add_adapter(0x2031, qos_flash(0x2031)).handle;
    constexpr SD_UINT32 kUnder = SDERR_DATA_UNDERRUN;
    struct Row {
        uint16_t count;
        uint32_t status;
        size_t written;
        std::optional<uint32_t> reported;
        SD_UINT32 result;
        uint8_t filled;
    };
    Row row{};
    rig.driver.on(EXT_CC_QOS_STATE, [&](const sim::SimRequest&) {
        sim::SimReply reply = sim::SimReply::with_status(row.status);
        reply.response = {uint8_t(row.count), 0, 0x77, 0};
        for (uint8_t i = 0; i < 6; ++i) {
            const Bytes e = entry_head(i, 0xEE);
            reply.response.insert(reply.response.end(), e.begin(), e.end());
            reply.response.resize(4 + 32 * (i + 1), 0xEE);
        }
        reply.response.resize(row.written);
        reply.reported_len = row.reported;
        return reply;
    });
    const Row rows[] = {
        {4, 0, 132, {}, 0, 4},        // control: four counted, four delivered
        {4, 0, 4, {}, kUnder, 0},     // four counted, none delivered
        {4, 0, 68, {}, kUnder, 0},    // two of four
        {4, 0, 131, {}, kUnder, 0},   // the last byte missing
        {4, 0, 132, 68, kUnder, 0},   // all written, two reported
        {4, 0, 0, {}, kUnder, 0},     // nothing
        {0, 0, 3, {}, kUnder, 0},     // less than the head
        {0, 0, 4, {}, 0, 0},          // an empty table
        {2, 0, 132, {}, 0, 2},        // more delivered than counted
        {6, 0, 132, {}, 0, 4},        // more counted than the room, the room delivered
        {6, 16, 2, {}, kSmall, 0},    // buffer too small: the count needed
        {6, 16, 0, {}, kUnder, 0},    // buffer too small without the count
    };
    for (const Row& r : rows) {
        row = r;
        QosTable table(4, 5);
        Bytes want = table.bytes;
        if (r.result != kUnder) std::tie(want[0], want[1]) = std::pair(r.count, 0);
        if (r.result == 0) std::tie(want[2], want[3]) = std::pair(0x77, 0);
        for (uint8_t i = 0; i < r.filled; ++i) std::ranges::copy(entry_head(i, kFill), &want[4 + 32 * i]);
        EXPECT_EQ(SDGetQoS(h, table.get()), r.result) << &r - rows;
        EXPECT_EQ(table.bytes, want) << &r - rows;
    }
}

// A layout that lists region 0x87 twice: first with an attribute bit (word 0x10087) over 0x100 bytes that region
// 0x3C follows, then plain over 0x1000 bytes. The record is checked against the plain entry, the one its whole
// word names, and lands there: the small entry and its neighbour keep every byte. Empty, the record covers the
// plain entry; one too long for it writes nothing at all.
TEST(ApiPort, QosRecordInTheEntryChecked) {
    PortRig rig;
    sim::ChipFlashOptions options = qos_flash(0x2071);
    std::erase_if(*options.regions, [](const sim::FltRegion& r) { return r.code == 0x87 || r.code == 0x3C; });
    constexpr uint32_t kSmallAt = 0x180000, kPlainAt = 0x190000;
    options.regions->insert(options.regions->end(), {sim::flt_region(0x87, 0x100, kSmallAt, 0x01),
                                                     sim::flt_region(0x3C, 0x1000, kSmallAt + 0x100),
                                                     sim::flt_region(0x87, 0x1000, kPlainAt)});
    apitest::RigPort& p = rig.add_adapter(0x2071, options);
    sim::SimAdapter& a = rig.adapter_of(p);
    std::fill(a.flash.begin() + kSmallAt, a.flash.begin() + kPlainAt + 0x1000, 0x5A);
    QosTable hundred(100, 100), empty(0, 1), over(128, 128);
    const struct { PSDM_QOS_CONFIG qos; SD_UINT32 result; uint32_t length; } rows[] = {
        {hundred.get(), 0, 16 + 32 * 100},
        {empty.get(), 0, 0x1000},
        {over.get(), SDERR_REGION_TOO_SMALL, 0},
    };
    for (const auto& row : rows) {
        const Bytes before = a.flash;
        const size_t writes = a.flash_writes.size();
        EXPECT_EQ(SDSetQoS(p.handle, row.qos), row.result) << &row - rows;
        // The small entry with its neighbour, and the plain entry behind the record.
        const auto untouched = [&](const Bytes& f) {
            return std::tuple(slice(f, kSmallAt, 0x1100), slice(f, kPlainAt + row.length, 0x1000 - row.length));
        };
        EXPECT_EQ(untouched(a.flash), untouched(before)) << &row - rows;
        if (row.length == 0) {
            EXPECT_TRUE(a.flash == before && a.flash_writes.size() == writes) << &row - rows;
            continue;
        }
        const Bytes record = slice(a.flash, kPlainAt, row.length);
        EXPECT_EQ(std::tuple(record[0], record[3], sim::get_le16(record, 6), sim::get_le16(record, 10)),
                  std::tuple('V', 'S', row.length, row.qos->NumEntries))
            << &row - rows;
        EXPECT_EQ(word_sum(record), 0) << &row - rows;
        Bytes rest = before;
        std::ranges::copy(record, rest.begin() + kPlainAt);
        EXPECT_TRUE(a.flash == rest) << &row - rows;
    }
}

// 100 bytes go as pieces of 64 and 36; when the second fails the first stays. The remote port goes out by port
// name with the mode's low 16 bits; a reported speed outside the codes leaves the caller's value.
TEST(ApiPort, TransceiverPiecesAndRemotePortSpeeds) {
    PortRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    const Bytes device = rig.i2c.memory[0xA0] = sim::pattern(0x80, 7);
    Bytes got(100, kFill);
    EXPECT_EQ(SDReadSFPData(h, 0, 0xA0, got.data(), 100, 0x30, 0x1001, nullptr), kBad);  // 0x94 > 0x80
    EXPECT_EQ(std::tuple(slice(got, 0, 64), sim::all_bytes(got, 64, kFill)),
              std::tuple(slice(device, 0x30, 64), true));
    EXPECT_EQ(rig.side.i2c_pieces, (std::vector<std::pair<uint16_t, uint16_t>>{{0x30, 64}, {0x70, 36}}));

    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0xAA, 0, 0, 0, 5}}, 7};
    INT_PORT_PARAM want{{{{0x21, 0, 0, 0xAA, 0, 0, 0, 5}}, VX_DEST_WWPN, 0, {}}, 0, 0};
    SD_UINT32 speed = 99;
    for (const auto& [reported, kept] : {std::pair<uint16_t, SD_UINT32>{16, 16}, {3, 16}, {50, 50}}) {
        rig.speed = reported;
        EXPECT_EQ(SDGetTargetIDMALinkSpeed(h, 0, &d, &speed), 0u);
        EXPECT_EQ(std::tuple(speed, sim::bytes_of(&rig.param, 20)), std::tuple(kept, sim::bytes_of(&want, 20)));
    }
    ASSERT_EQ(SDSetTargetIDMALinkSpeed(h, 0, 0x10001, &d, 22), 0u);
    std::tie(want.Mode, want.Speed) = std::tuple(1, 22);
    EXPECT_EQ(sim::bytes_of(&rig.param, 20), sim::bytes_of(&want, 20));
}

// A sysfs host: host 5 with vports 8 and 9 (ids 1 and 2), converged host 6. A delete shifts the ports behind the
// vport, yet no open hands out a handle another port holds. A new vport is reported (bound kept) and deleted;
// host 6 has none of its ids. Host 6's MAC statistics come from its file, or else from the controller.
TEST(ApiPort, VirtualPortsAndMacStatisticsOnASysfsHost) {
    sysfstest::SysfsRig rig(0x8001, [](sim::SysfsAdapter& a) {
        (a = sim::sysfs_adapter(0x8001, {5, 6})).functions[0].vports = {8, 9};
    });
    rig.setup.with_bsg = false;
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    sim::SimVports vports;
    vports.install(rig.host, rig.fabric.host_dirs[5] + "/fc_host/host5");
    int a = 0, v9 = 0, b = 0;
    ASSERT_EQ(SDOpenDevice(0, &a), 0u);
    ASSERT_EQ(SDOpenDevice(2, &v9), 0u);
    ASSERT_EQ(SDDeleteVport(a, 1), 0u);
    ASSERT_EQ(SDOpenDevice(2, &b), 0u);
    EXPECT_EQ(std::tuple(check_handle(b), check_handle(v9), rig.port(8)),
              std::tuple(rig.port(6), rig.port(9), nullptr));

    uint8_t wwnn[8] = {0x20, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1};
    SD_UINT32 id = 0;
    ASSERT_EQ(SDCreateVport(a, wwnn, kName, 2, &id), 0u);
    EXPECT_EQ(vports.log.back(), "210000AABBCC0001:200000AABBCC0001\n");
    auto info = apitest::filled<VPORT_INFO>(), want = info;
    std::tie(want.id, want.state, want.used, want.free) = std::tuple(id, 1, 1, rig.port(5)->phy_info->max_vports - 1);
    std::memcpy(want.wwnn, wwnn, 8), std::memcpy(want.wwpn, kName, 8);
    ASSERT_EQ(SDVportGetinfo(a, id, &info), 0u);
    EXPECT_EQ(sim::bytes_of(&info, sizeof info), sim::bytes_of(&want, sizeof want));
    EXPECT_EQ(SDDeleteVport(b, id), kNone);
    ASSERT_EQ(SDDeleteVport(a, id), 0u);
    EXPECT_EQ(SDVportGetinfo(a, id, &info), kNone);

    const std::string dir = rig.fabric.host_dirs[6];
    rig.host.set_attr(dir + "/xgmac_stats", sim::bytes_attr(std::make_shared<std::string>(40, 'm')), 0444);
    Bytes data(4096, kFill), stats(4096, 0);
    std::fill_n(stats.begin(), 40, 'm');
    SD_TARNO_MGT m{};
    m.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {}, 4096, data.data()};
    EXPECT_EQ(SDTarnoMgt(b, 4, &m), 0u);
    EXPECT_EQ(data, stats);
    rig.host.remove(dir + "/xgmac_stats");
    sim::SimTarno tarno;
    tarno.memory = sim::pattern(4096, 4);
    tarno.install(rig.host, dir);
    EXPECT_EQ(SDTarnoMgt(b, 4, &m), 0u);
    EXPECT_EQ(std::tuple(tarno.log.at(0), data), std::tuple("cmd 00 4096 0000 0000 0000\\0", tarno.memory));
    for (int x : {a, v9, b}) EXPECT_EQ(SDCloseDevice(x), 0u);
}

}  // namespace

// The pass-through, LUN list, beacon, RNID and loopback workers against the
// simulated driver and fabric, on both request headers.
#include "core/vx_passthru.h"
#include "sim_passthru.h"
#include "test_support.h"

namespace {

using sim::Bytes;
constexpr uint8_t kWwpn[8] = {0x21, 0, 0, 0xE0, 0x8B, 0, 0, 3};
constexpr uint32_t kUntouched = 0xDEAD;

// One port of the driver; on the fabric one target (bus 0, target 3) with LUNs 0 and 300.
class PassthruTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = &driver.add_port(driver.add_adapter());
        sim::SanPort& t = fabric.ports.emplace_back();
        std::copy_n(kWwpn, 8, t.wwpn.begin());
        t.target = 3;
        t.scsi.luns = {{0, {}}, {300, {}}};
        sim::install_passthru_handlers(driver, fabric);
        vx_debug = 0xFFFFFFFF;  // every trace call site runs
    }
    void TearDown() override { vx_debug = 0; }
    vxapi_priv_database record(bool new_header, uint32_t features = 0) const {
        vxapi_priv_database rec = sim::DriverRig::record(new_header, port->instance, features);
        rec.oshandle = rig.fd;
        rec.topology = 8;
        return rec;
    }
    sim::ScsiTarget& target() { return fabric.ports[0].scsi; }
    sim::DriverRig rig;
    sim::SimDriver& driver = rig.driver;
    const int& fd = rig.fd;
    sim::SanFabric fabric;
    sim::SimPort* port = nullptr;
};

// What a call gives back: result, status and the bytes that came back.
struct Out {
    int result;
    uint32_t status;
    Bytes data;
};
using R = vxapi_priv_database*;

EXT_FC_SCSI_PASSTHRU fc_record(std::initializer_list<uint8_t> cdb, uint8_t cdb_len) {
    EXT_FC_SCSI_PASSTHRU p{};
    p.FCScsiAddr.DestType = VX_DEST_WWPN;
    std::copy_n(kWwpn, 8, p.FCScsiAddr.DestAddr.WWPN);
    p.Direction = VX_SCSI_DIR_IN;
    p.CdbLength = cdb_len;
    std::copy(cdb.begin(), cdb.end(), p.Cdb);
    return p;
}

// Every worker on both headers: the request the driver sees, what comes
// back; and on a sysfs port, no request unless the worker has no twin.
TEST_F(PassthruTest, EveryWorkerOnBothHeaders) {
    const EXT_BEACON_CONTROL off{VX_BEACON_OFF, {}};
    fabric.data = {{10, sim::pattern(40, 1)}};
    fabric.lun_data = sim::pattern(48, 3);
    const Bytes ct = {1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x71, 0, 0, 0, 0, 0, 0};
    Bytes ct_acc = ct;
    ct_acc[8] = 0x80, ct_acc[9] = 0x02;
    ct_acc.insert(ct_acc.end(), {0x80, 1, 0, 1});
    Bytes els(32);
    std::copy_n(kWwpn, 8, els.begin() + 8);
    els.insert(els.end(), {0x10, 0, 0, 0, 'p', 'i', 'n', 'g'});
    const Bytes capacity = {0, 0, 0, 63, 0, 0, 2, 0};
    const EXT_SCSI_ADDR lun300{0, 3, 300, {}};
    Bytes tx = sim::pattern(100, 9), rx(100);

    // Calls with an in/out length give back what it says; the others the whole buffer.
    const auto sized = [](int result, uint32_t status, const uint8_t* buf, uint32_t len) {
        return Out{result, status, Bytes(buf, buf + len)};
    };
    const struct {
        const char* name;
        uint8_t command;
        uint16_t sub;
        uint32_t req_len, resp_len;
        bool twin;
        Bytes answer;
        std::function<Out(int, R)> call;
    } cases[] = {
        {"ct", 0x01, 0, 16, 64, true, ct_acc, [&](int h, R r) {
             uint8_t b[64];
             uint32_t len = 64, st = kUntouched;
             const int rc = vxapi_send_ct_passthru(h, r, ct.data(), 16, b, &len, &st);
             return sized(rc, st, b, len);
         }},
        {"els echo", 0x30, 0, 40, 8, true, {2, 0, 0, 0, 'p', 'i', 'n', 'g'}, [&](int h, R r) {
             uint8_t b[8];
             uint32_t st = kUntouched;
             const int rc = vxapi_send_els_passthru(h, r, els.data(), 40, b, 8, &st);
             return sized(rc, st, b, 8);
         }},
        {"fc scsi inquiry", 0x05, 1, 352, 36, true, {0, 0, 5, 2, 31, 0, 0, 0, 'S', 'I', 'M'}, [&](int h, R r) {
             EXT_FC_SCSI_PASSTHRU p = fc_record({0x12, 0, 0, 0, 36, 0}, 6);
             uint8_t b[36];
             uint32_t len = 36, st = kUntouched, dst = kUntouched;
             const int rc = vxapi_send_fc_scsipt(h, r, b, &len, &p, &st, &dst);
             return sized(rc, st | dst, b, std::min(len, 11u));
         }},
        {"scsi-3 read capacity", 0x05, 2, 352, 8, true, capacity, [&](int h, R r) {
             EXT_FC_SCSI_PASSTHRU p = fc_record({0x25}, 16);
             p.FCScsiAddr.Lun = 300;
             uint8_t b[8];
             uint32_t len = 8, st = kUntouched, dst = kUntouched;
             const int rc = vxapi_send_scsi3pt(h, r, b, &len, &p, &st, &dst);
             return sized(rc, st | dst, b, len);
         }},
        {"read capacity by address", 0x05, 0, 352, 8, true, capacity, [&](int h, R r) {
             uint8_t b[8], sense[32], stat = 0xFF;
             uint32_t len = 8, sense_len = 32;
             const int rc = vxapi_send_scsi_readcap(h, r, &lun300, b, &len, sense, &sense_len, &stat);
             return sized(rc, stat, b, len);
         }},
        {"target lun list", 0x06, 10, 0, 40, true, fabric.data[10], [&](int h, R r) {
             uint8_t b[40];
             uint32_t st = kUntouched;
             const int rc = vxapi_get_tgt_lun_data_list(h, r, reinterpret_cast<TGT_LUN_DATA_LIST*>(b), 40, &st);
             return sized(rc, st, b, 40);
         }},
        {"lun data", 0xCE, 0, 32, 48, false, fabric.lun_data, [&](int h, R r) {
             uint8_t b[48];
             uint32_t st = kUntouched;
             const int rc = vxapi_get_lun_data_list(h, r, b, 48, &st);
             return sized(rc, st, b, 48);
         }},
        {"set beacon", 0x07, 8, 16, 0, true, {}, [&](int h, R r) {
             uint32_t st = kUntouched;
             const int rc = vxapi_set_beacon(h, r, off, &st);
             return Out{rc, st, {}};
         }},
        {"get beacon", 0x06, 8, 0, 16, true, sim::bytes_of(&off, 16), [&](int h, R r) {
             EXT_BEACON_CONTROL b{};
             uint32_t st = kUntouched;
             const int rc = vxapi_get_beacon(h, r, &b, &st);
             return sized(rc, st, reinterpret_cast<uint8_t*>(&b), 16);
         }},
        {"set rnid", 0x07, 0x6D, 24, 0, true, {}, [&](int h, R r) {
             const Bytes b = sim::pattern(24, 2);
             uint32_t st = kUntouched;
             const int rc = vxapi_set_rnid_info(h, r, b.data(), 24, &st);
             return Out{rc, st, {}};
         }},
        {"get rnid", 0x06, 0x6D, 0, 24, true, sim::pattern(24, 2), [&](int h, R r) {
             uint8_t b[24];
             uint32_t st = kUntouched;
             const int rc = vxapi_get_rnid_info(h, r, b, 24, &st);
             return sized(rc, st, b, 24);
         }},
        {"send rnid", 0x04, 0, 8, 32, false, sim::pattern(24, 2), [&](int h, R r) {
             uint8_t q[8] = {0x78}, b[32];
             uint32_t len = 32, st = kUntouched;
             const int rc = vxapi_send_rnid(h, r, q, 8, b, &len, &st);
             return sized(rc, st, b, len);
         }},
        {"loopback", 0x09, 0, 40, 40, true, tx, [&](int h, R r) {
             INT_LOOPBACK_REQ q{0, 100, 1, vxapi_ptr_to_64bit(tx.data()), 100, {}};
             INT_LOOPBACK_RSP s{vxapi_ptr_to_64bit(rx.data()), 100, 0, 0, 0, 0, 0, 0, 0, {}};
             std::fill(rx.begin(), rx.end(), 0);
             uint32_t st = kUntouched;
             const int rc = vxapi_loopback_test(h, r, &q, 40, &s, 40, &st);
             return Out{rc, st | (s.CompletionStatus == 0x4000 ? 0 : 0x100u), rx};
         }},
    };
    for (bool new_header : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (new_header ? ", new header" : ", old header"));
            vxapi_priv_database rec = record(new_header);
            driver.clear_log();
            const Out out = c.call(fd, &rec);
            EXPECT_EQ(std::tuple(out.result, out.status, out.data), std::tuple(0, 0u, c.answer));
            const auto log = driver.log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].code, (new_header ? 0xC0747900ul : 0xC0087900ul) | c.command);
            EXPECT_EQ(sim::describe(log[0]), sim::describe({0, new_header, c.command, c.sub, 0, 0, port->instance,
                                                            c.req_len, c.resp_len}));
            vxapi_priv_database sysfs = record(new_header, VX_FEAT_SYSFS);
            driver.clear_log();
            c.call(fd, &sysfs);
            EXPECT_EQ(driver.log().size(), c.twin ? 0u : 1u);
        }
    }
    EXPECT_EQ(target().cdbs.back(), std::pair(300u, Bytes{0x25, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}));  // LUN << 5
}

// SCSI by address: the driver's statuses, the SCSI status byte and the sense
// data as the caller gets them; nothing sent for a CDB over 16 bytes.
TEST_F(PassthruTest, ScsiOutcomes) {
    const Bytes read_cap = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const struct {
        const char* name;
        uint16_t target, lun;
        Bytes cdb;
        uint32_t room;
        std::optional<sim::ScsiAnswer> answer;
        int err;
        int result;
        uint32_t status;
        uint8_t scsi_stat;
        uint32_t sense_len;  // room 8 given
    } cases[] = {
        {"16-byte cdb", 3, 0, Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {}, 0, 0, 0, 0, 8},
        {"17-byte cdb", 3, 0, Bytes(17, 0), 8, {}, 0, 1, kUntouched, 0xFF, 8},
        {"overrun", 3, 0, {0x12, 0, 0, 0, 255, 0}, 8, {}, 0, 0, 7, 0, 8},
        {"underrun", 3, 0, read_cap, 8, sim::ScsiAnswer::of(0, 7, 4), 0, 0, 8, 0, 8},
        {"no such target", 4, 0, read_cap, 8, {}, 0, 1, 9, 0xFF, 8},
        {"host error", 3, 0, read_cap, 8, sim::ScsiAnswer::of(0, 7), 0, 1, 1, 0xFF, 8},
        {"ioctl fails", 3, 0, read_cap, 8, {}, EIO, 1, 0, 0xFF, 8},
        {"check condition, 18 sense bytes into 8", 3, 5, read_cap, 8, {}, 0, 0, 15, 2, 8},
        {"busy", 3, 0, read_cap, 8, sim::ScsiAnswer::of(sim::kScsiBusy), 0, 0, 15, 8, 8},
        {"reservation conflict", 3, 0, read_cap, 8, sim::ScsiAnswer::of(sim::kScsiReservationConflict), 0, 0, 15, 0x18, 8},
        {"task set full", 3, 0, read_cap, 8, sim::ScsiAnswer::of(sim::kScsiTaskSetFull), 0, 0, 15, 0x28, 8},
    };
    for (bool new_header : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (new_header ? ", new header" : ", old header"));
            vxapi_priv_database rec = record(new_header);
            if (c.answer) target().injected.push_back(*c.answer);
            if (c.err != 0) driver.inject_errno(c.err);
            driver.clear_log();
            const EXT_SCSI_ADDR addr{0, c.target, c.lun, {}};
            Bytes data(c.room, 0xCC), sense(8 + 4, 0xCC);
            uint32_t len = c.room, sense_len = 8, status = kUntouched;
            uint8_t stat = 0xFF;
            const auto send = new_header ? vxapi_send_scsipt_n : vxapi_send_scsipt_o;
            const int rc = send(fd, &rec, &addr, c.cdb.data(), static_cast<uint32_t>(c.cdb.size()), nullptr, 0,
                                data.data(), &len, sense.data(), &sense_len, &status, &stat);
            EXPECT_EQ(std::tuple(rc, status, stat, sense_len), std::tuple(c.result, c.status, c.scsi_stat, c.sense_len));
            EXPECT_EQ(driver.log().size(), c.cdb.size() > 16 ? 0u : 1u);
            Bytes want_sense = c.scsi_stat == 2 ? sim::fixed_sense(0x25) : Bytes(8, c.cdb.size() > 16 ? 0xCC : 0);
            want_sense.resize(8);
            EXPECT_EQ(Bytes(sense.begin(), sense.begin() + 8), want_sense);
            EXPECT_TRUE(sim::all_bytes(sense, 8, 0xCC));
            // Without a SCSI status pointer nothing is written through it.
            send(fd, &rec, &addr, read_cap.data(), 10, nullptr, 0, data.data(), &len, nullptr, nullptr, nullptr, nullptr);
        }
        // Data out travels in the response slot; READ(10) gets it back.
        vxapi_priv_database rec = record(new_header);
        const EXT_SCSI_ADDR addr{0, 3, 300, {}};
        const Bytes block = sim::pattern(512, new_header ? 1 : 2), write10 = {0x2A, 0, 0, 0, 0, 7, 0, 0, 1, 0},
                    read10 = {0x28, 0, 0, 0, 0, 7, 0, 0, 1, 0};
        Bytes back(512);
        uint32_t len = 512, status = kUntouched;
        uint8_t stat = 0xFF;
        driver.clear_log();
        EXPECT_EQ(vxapi_send_scsipt_n(fd, &rec, &addr, write10.data(), 10, block.data(), 512, nullptr, nullptr,
                                      nullptr, nullptr, &status, &stat), 0);
        EXPECT_EQ(std::tuple(driver.log()[0].request_len, driver.log()[0].response_len), std::tuple(352u, 512u));
        EXPECT_EQ(vxapi_send_scsipt_n(fd, &rec, &addr, read10.data(), 10, nullptr, 0, back.data(), &len, nullptr,
                                      nullptr, &status, &stat), 0);
        EXPECT_EQ(back, block);
        // Both directions at once: nothing sent.
        EXPECT_EQ(vxapi_send_scsipt_n(fd, &rec, &addr, read10.data(), 10, block.data(), 512, back.data(), &len,
                                      nullptr, nullptr, &status, &stat), 1);
        EXPECT_EQ(driver.log().size(), 2u);
    }
}

// REPORT LUNS refused with fixed-format ILLEGAL REQUEST sense: the list built
// by probing counts LUNs whose READ CAPACITY ended GOOD (absent LUNs end in
// CHECK CONDITION, status 15), writes the entries that fit and the length of
// all; other answers, or no sense buffer, give the device's own outcome.
TEST_F(PassthruTest, ReportLunsFallback) {
    using Refusal = sim::ScsiTarget::Refusal;
    const uint8_t C = 0xCC;
    const struct {
        const char* name;
        Refusal refusal;
        uint32_t capacity;
        bool sense;
        size_t probes;
        uint32_t size_after;
        Bytes list;
    } cases[] = {
        {"accepted", Refusal::None, 32, true, 0, 24, {0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x41, 0x2C, 0, 0, 0, 0, 0, 0, C}},
        {"refused", Refusal::FixedSense, 32, true, 4095, 24, {0, 0, 0, 16, C, C, C, C, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x2C, 0, 0, 0, 0, 0, 0, C}},
        {"refused, room for one", Refusal::FixedSense, 16, true, 4095, 16, {0, 0, 0, 16, C, C, C, C, 0, 0, 0, 0, 0, 0, 0, 0, C}},
        {"refused, descriptor sense", Refusal::DescriptorSense, 32, true, 0, 0, {C}},
        {"refused, no sense buffer", Refusal::FixedSense, 32, false, 0, 0, {C}},
    };
    for (bool new_header : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (new_header ? ", new header" : ", old header"));
            vxapi_priv_database rec = record(new_header);
            target().report_luns = c.refusal;
            target().cdbs.clear();
            const EXT_SCSI_ADDR addr{0, 3, 0, {}};
            Bytes list(c.capacity + 1, C), sense(32, C);
            uint32_t size = c.capacity, sense_len = 32;
            uint8_t stat = 0xFF;
            EXPECT_EQ(vxapi_send_scsi_rlc(fd, &rec, &addr, list.data(), &size, c.sense ? sense.data() : nullptr,
                                          &sense_len, &stat), 0);
            EXPECT_EQ(Bytes(target().cdbs[0].second), (Bytes{0xA0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(c.capacity), 0, 0}));
            EXPECT_EQ(target().cdbs.size(), 1 + c.probes);
            EXPECT_EQ(size, c.size_after);
            EXPECT_EQ(Bytes(list.begin(), list.begin() + static_cast<long>(std::min(list.size(), c.list.size()))), c.list);
            if (c.probes != 0) {
                EXPECT_EQ(std::tuple(sense[0], stat), std::tuple(0x70, 2));  // the refusal's
            }
        }
    }
}

// CT only on a fabric port that is up; RNID parameters have no sysfs form;
// the loopback test takes bsg, else netlink, else the driver, and a sysfs
// port with neither gets no request.
TEST_F(PassthruTest, RefusalsAndTransportChoice) {
    constexpr uint32_t S = VX_FEAT_SYSFS;
    const struct {
        const char* name;
        uint16_t topology, state;
        uint32_t features;
        std::function<int(int, R, uint32_t*)> call;
        int result;
        uint32_t status;
        bool sent;
    } cases[] = {
        {"ct, point to point", 2, 0, 0, nullptr, 1, 1, false},
        {"ct, sysfs point to point", 2, 0, S, nullptr, 1, 1, false},
        {"ct, link down", 8, 1, 0, nullptr, 1, 1, false},
        {"ct, loop", 4, 0, 0, nullptr, 0, 0, true},
        {"get rnid, sysfs", 8, 0, S, [](int h, R r, uint32_t* st) { uint8_t b[8]; return vxapi_get_rnid_info(h, r, b, 8, st); }, 2, 12, false},
        {"set rnid, sysfs", 8, 0, S, [](int h, R r, uint32_t* st) { uint8_t b[8]{}; return vxapi_set_rnid_info(h, r, b, 8, st); }, 2, 12, false},
        {"loopback, sysfs", 8, 0, S, nullptr, 2, 12, false},
        {"loopback, bsg and netlink", 8, 0, S | VX_FEAT_BSG | VX_FEAT_NL_VENDOR, nullptr, 2, 12, false},
        {"loopback, netlink", 8, 0, S | VX_FEAT_NL_VENDOR, nullptr, 2, 12, false},
    };
    const Bytes ct = {1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x71, 0, 0, 0, 0, 0, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vxapi_priv_database rec = record(true, c.features);
        rec.topology = c.topology;
        rec.state = c.state;
        driver.clear_log();
        uint32_t st = kUntouched;
        uint8_t b[64];
        uint32_t len = 64;
        INT_LOOPBACK_REQ q{};
        INT_LOOPBACK_RSP s{};
        const bool loop = std::string(c.name).rfind("loopback", 0) == 0;
        const int rc = c.call ? c.call(fd, &rec, &st)
                       : loop ? vxapi_loopback_test(fd, &rec, &q, 40, &s, 40, &st)
                              : vxapi_send_ct_passthru(fd, &rec, ct.data(), 16, b, &len, &st);
        EXPECT_EQ(std::tuple(rc, st, driver.log().size()), std::tuple(c.result, c.status, c.sent ? 1u : 0u));
    }
    // LUN numbers by address method: peripheral, flat space, logical unit, extended.
    const struct { uint8_t b0, b1; uint32_t lun; } luns[] = {
        {0x00, 0x05, 5}, {0x40, 0x05, 5}, {0x41, 0x2C, 300}, {0x7F, 0xFF, 0x3FFF}, {0x80, 0xFF, 0x1F}, {0xC0, 0x00, 0xFFFFFFFF}};
    for (const auto& l : luns) {
        const lun_8byte_t lun{{{l.b0, l.b1}}, {}, {}, {}};
        EXPECT_EQ(vxapi_get_lun_addr(&lun), l.lun) << int(l.b0);
    }
}

}  // namespace

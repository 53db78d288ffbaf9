// The pass-through, LUN list, beacon, RNID and loopback workers against the simulated driver and fabric, on both
// request headers; the transceiver, i2c, dump, port speed and Tarno workers: the road each takes by the port's
// transports, the driver forms of Tarno requests, i2c pieces and dump lengths on the driver road.
#include "core/io/vx_passthru.h"
#include "core/life/vx_load.h"
#include "road_rig.h"
#include "sim_nl_vendor.h"
#include "sim_passthru.h"
#include "sim_side.h"
#include "test_support.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
constexpr uint8_t kWwpn[8] = {0x21, 0, 0, 0xE0, 0x8B, 0, 0, 3};
constexpr uint32_t kUntouched = 0xDEAD;

// One port of the driver; on the fabric one target (bus 0, target 3) with LUNs 0 and 300.
struct PassthruTest : ::testing::Test {
    PassthruTest() {
        sim::SanPort& t = fabric.ports.emplace_back();
        std::copy_n(kWwpn, 8, t.wwpn.begin());
        t.target = 3, t.scsi.luns = {{0, {}}, {300, {}}};
        sim::install_passthru_handlers(driver, fabric);
        vx_debug = 0xFFFFFFFF;  // every trace call site runs
    }
    ~PassthruTest() override { vx_debug = 0; }
    vxapi_priv_database record(bool new_header, uint32_t features = 0) const {
        vxapi_priv_database rec = sim::DriverRig::record(new_header, port->instance, features);
        std::tie(rec.oshandle, rec.topology) = std::tuple(rig.fd, 8);
        return rec;
    }
    sim::ScsiTarget& target() { return fabric.ports[0].scsi; }
    sim::DriverRig rig;
    sim::SimDriver& driver = rig.driver;
    const int& fd = rig.fd;
    sim::SanFabric fabric;
    sim::SimPort* port = &driver.add_port(driver.add_adapter());
};

using R = vxapi_priv_database*;
template <class T>
Bytes bytes(const T& v) { return sim::bytes_of(&v, sizeof v); }

EXT_FC_SCSI_PASSTHRU fc_record(uint8_t op, uint8_t cdb_len, uint16_t lun, uint8_t allocation) {
    EXT_FC_SCSI_PASSTHRU p{};
    std::tie(p.FCScsiAddr.DestType, p.FCScsiAddr.Lun, p.Direction, p.CdbLength) =
        std::tuple(VX_DEST_WWPN, lun, VX_SCSI_DIR_IN, cdb_len);
    std::copy_n(kWwpn, 8, p.FCScsiAddr.DestAddr.WWPN);
    std::tie(p.Cdb[0], p.Cdb[4]) = std::tuple(op, allocation);
    return p;
}

// The buffers of one call: the request (the row's bytes), the response, the in/out length (the row's response
// length on entry) and the statuses.
struct Io {
    Bytes req, resp;
    uint32_t len = 0, st = kUntouched, dst = 0;
    uint8_t* q() { return req.data(); }
    uint8_t* p() { return resp.data(); }
    template <class T>
    T* as() { return reinterpret_cast<T*>(req.data()); }
};

// Every worker on both headers: the request the driver sees and what comes back; on a sysfs port, no request
// unless the worker has no twin.
TEST_F(PassthruTest, EveryWorkerOnBothHeaders) {
    fabric.data = {{10, sim::pattern(40, 1)}};
    fabric.lun_data = sim::pattern(48, 3);
    const Bytes ct = {1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x71, 0, 0, 0, 0, 0, 0},
                ct_acc = {1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x80, 0x02, 0, 0, 0, 0, 0, 0, 0x80, 1, 0, 1},
                capacity = {0, 0, 0, 63, 0, 0, 2, 0}, rnid = sim::pattern(24, 2), tx = sim::pattern(100, 9);
    Bytes els(32), rx(100);
    std::copy_n(kWwpn, 8, els.begin() + 8);
    els.insert(els.end(), {0x10, 0, 0, 0, 'p', 'i', 'n', 'g'});
    const EXT_SCSI_ADDR lun300{0, 3, 300, {}};
    const EXT_BEACON_CONTROL off{VX_BEACON_OFF, {}};
    const INT_LOOPBACK_REQ loop{0, 100, 1, vxapi_ptr_to_64bit(tx.data()), 100, {}};
    const struct {
        const char* name;
        uint8_t command;
        uint16_t sub;
        uint32_t resp_len;
        bool twin;
        Bytes request, answer;
        std::function<int(int, R, Io&)> call;
    } cases[] = {
        {"ct", 0x01, 0, 64, true, ct, ct_acc,
         [](int h, R r, Io& b) { return vxapi_send_ct_passthru(h, r, b.q(), 16, b.p(), &b.len, &b.st); }},
        {"els echo", 0x30, 0, 8, true, els, {2, 0, 0, 0, 'p', 'i', 'n', 'g'},
         [](int h, R r, Io& b) { return vxapi_send_els_passthru(h, r, b.q(), 40, b.p(), &b.len, &b.st); }},
        {"fc scsi inquiry", 0x05, 1, 5, true, bytes(fc_record(0x12, 6, 0, 5)), {0, 0, 5, 2, 31},
         [](int h, R r, Io& b) {
             return vxapi_send_fc_scsipt(h, r, b.p(), &b.len, b.as<EXT_FC_SCSI_PASSTHRU>(), &b.st, &b.dst);
         }},
        {"scsi-3 read capacity", 0x05, 2, 8, true, bytes(fc_record(0x25, 16, 300, 0)), capacity,
         [](int h, R r, Io& b) {
             return vxapi_send_scsi3pt(h, r, b.p(), &b.len, b.as<EXT_FC_SCSI_PASSTHRU>(), &b.st, &b.dst);
         }},
        {"read capacity by address", 0x05, 0, 8, true, Bytes(352), capacity, [&](int h, R r, Io& b) {
             uint8_t sense[32], stat = 0xFF;
             uint32_t sense_len = 32;
             const int rc = vxapi_send_scsi_readcap(h, r, &lun300, b.p(), &b.len, sense, &sense_len, &stat);
             return b.st = stat, rc;
         }},
        {"write(10) by address: data out in the response slot", 0x05, 0, 512, false, Bytes(352), {},
         [&](int h, R r, Io& b) {
             const uint8_t write10[10] = {0x2A, 0, 0, 0, 0, 7, 0, 0, 1, 0};
             uint8_t stat = 0xFF;
             return vxapi_send_scsipt_n(h, r, &lun300, write10, 10, b.p(), 512, nullptr, nullptr, nullptr, nullptr,
                                        &b.st, &stat);
         }},
        {"target lun list", 0x06, 10, 40, true, {}, fabric.data[10], [](int h, R r, Io& b) {
             return vxapi_get_tgt_lun_data_list(h, r, reinterpret_cast<TGT_LUN_DATA_LIST*>(b.p()), 40, &b.st);
         }},
        {"lun data", 0xCE, 0, 48, false, Bytes(32), fabric.lun_data,
         [](int h, R r, Io& b) { return vxapi_get_lun_data_list(h, r, b.p(), 48, &b.st); }},
        {"set beacon", 0x07, 8, 0, true, bytes(off), {},
         [](int h, R r, Io& b) { return vxapi_set_beacon(h, r, *b.as<EXT_BEACON_CONTROL>(), &b.st); }},
        {"get beacon", 0x06, 8, 16, true, {}, bytes(off), [](int h, R r, Io& b) {
             return vxapi_get_beacon(h, r, reinterpret_cast<EXT_BEACON_CONTROL*>(b.p()), &b.st);
         }},
        {"set rnid", 0x07, 0x6D, 0, true, rnid, {},
         [](int h, R r, Io& b) { return vxapi_set_rnid_info(h, r, b.q(), 24, &b.st); }},
        {"get rnid", 0x06, 0x6D, 24, true, {}, rnid,
         [](int h, R r, Io& b) { return vxapi_get_rnid_info(h, r, b.p(), 24, &b.st); }},
        {"send rnid", 0x04, 0, 32, false, Bytes(8, 0x78), rnid,
         [](int h, R r, Io& b) { return vxapi_send_rnid(h, r, b.q(), 8, b.p(), &b.len, &b.st); }},
        {"loopback", 0x09, 0, 40, true, bytes(loop), {}, [&](int h, R r, Io& b) {
             const INT_LOOPBACK_RSP s{vxapi_ptr_to_64bit(rx.data()), 100, 0, 0, 0, 0, 0, 0, 0, {}};
             std::memcpy(b.p(), &s, sizeof s);
             return vxapi_loopback_test(h, r, b.as<INT_LOOPBACK_REQ>(), 40, reinterpret_cast<INT_LOOPBACK_RSP*>(b.p()),
                                        40, &b.st);
         }},
    };
    for (bool new_header : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (new_header ? ", new header" : ", old header"));
            for (uint32_t features : {0u, VX_FEAT_SYSFS}) {
                vxapi_priv_database rec = record(new_header, features);
                Io io{c.request, Bytes(std::max<uint32_t>(c.resp_len, 40), 0xCC), c.resp_len};
                driver.clear_log();
                const int rc = c.call(fd, &rec, io);
                const auto log = driver.log();
                if (features != 0) {  // a sysfs port
                    EXPECT_EQ(log.size(), c.twin ? 0u : 1u);
                    continue;
                }
                EXPECT_EQ(std::tuple(rc, io.st | io.dst, Bytes(io.resp.begin(), io.resp.begin() + c.answer.size())),
                          std::tuple(0, 0u, c.answer));
                EXPECT_TRUE(io.len == c.resp_len || io.len == c.answer.size());  // the bytes delivered
                ASSERT_EQ(log.size(), 1u);
                EXPECT_EQ(log[0].code, (new_header ? 0xC0747900ul : 0xC0087900ul) | c.command);
                EXPECT_EQ(sim::describe(log[0]),
                          sim::describe({0, new_header, c.command, c.sub, 0, 0, port->instance,
                                         static_cast<uint32_t>(c.request.size()), c.resp_len}));
            }
        }
    }
    EXPECT_EQ(rx, tx);
    const Bytes& media = target().luns[300].media;
    EXPECT_EQ(Bytes(media.begin() + 7 * 512, media.begin() + 8 * 512), Bytes(512, 0xCC));
    const auto& cdbs = target().cdbs;  // READ CAPACITY with the LUN << 5
    EXPECT_NE(std::find(cdbs.begin(), cdbs.end(), std::pair(300u, Bytes{0x25, 0x80, 0, 0, 0, 0, 0, 0, 0, 0})), cdbs.end());
}

// SCSI by address: the driver's statuses, the SCSI status byte and the sense data (room 8) as the caller gets
// them; nothing sent for a CDB over 16 bytes.
TEST_F(PassthruTest, ScsiOutcomes) {
    const Bytes cap = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    using A = sim::ScsiAnswer;
    const struct { const char* name; uint16_t target, lun; Bytes cdb; std::optional<A> answer; int err, result;
                   uint32_t status; uint8_t scsi_stat; } cases[] = {
        {"16-byte cdb", 3, 0, Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, 0, 0, 0, 0},
        {"17-byte cdb", 3, 0, Bytes(17, 0), {}, 0, 1, kUntouched, 0xFF},
        {"overrun", 3, 0, {0x12, 0, 0, 0, 255, 0}, {}, 0, 0, 7, 0},
        {"underrun", 3, 0, cap, A::of(0, 7, 4), 0, 0, 8, 0},
        {"no such target", 4, 0, cap, {}, 0, 1, 9, 0xFF},
        {"host error", 3, 0, cap, A::of(0, 7), 0, 1, 1, 0xFF},
        {"ioctl fails", 3, 0, cap, {}, EIO, 1, 0, 0xFF},
        {"check condition, 18 sense bytes", 3, 5, cap, {}, 0, 0, 15, 2},
        {"busy", 3, 0, cap, A::of(sim::kScsiBusy), 0, 0, 15, 8},
        {"reservation conflict", 3, 0, cap, A::of(sim::kScsiReservationConflict), 0, 0, 15, 0x18},
        {"task set full", 3, 0, cap, A::of(sim::kScsiTaskSetFull), 0, 0, 15, 0x28},
    };
    for (bool new_header : {true, false}) {
        const auto send = new_header ? vxapi_send_scsipt_n : vxapi_send_scsipt_o;
        vxapi_priv_database rec = record(new_header);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (new_header ? ", new header" : ", old header"));
            if (c.answer) target().injected.push_back(*c.answer);
            if (c.err != 0) driver.inject_errno(c.err);
            driver.clear_log();
            const EXT_SCSI_ADDR addr{0, c.target, c.lun, {}};
            Bytes data(8), sense(12, 0xCC);
            uint32_t len = 8, sense_len = 8, status = kUntouched;
            uint8_t stat = 0xFF;
            const int rc = send(fd, &rec, &addr, c.cdb.data(), static_cast<uint32_t>(c.cdb.size()), nullptr, 0,
                                data.data(), &len, sense.data(), &sense_len, &status, &stat);
            EXPECT_EQ(std::tuple(rc, status, stat, sense_len), std::tuple(c.result, c.status, c.scsi_stat, 8u));
            EXPECT_EQ(driver.log().size(), c.cdb.size() > 16 ? 0u : 1u);
            Bytes want = c.scsi_stat == 2 ? sim::fixed_sense(0x25) : Bytes(8, c.cdb.size() > 16 ? 0xCC : 0);
            want.resize(8), want.resize(12, 0xCC);
            EXPECT_EQ(sense, want);
            // Without a SCSI status pointer nothing is written through it.
            send(fd, &rec, &addr, cap.data(), 10, nullptr, 0, data.data(), &len, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

// REPORT LUNS refused with fixed-format ILLEGAL REQUEST sense: the list built by probing counts LUNs whose READ
// CAPACITY ended GOOD (absent LUNs end in CHECK CONDITION, status 15), writes the entries that fit and the length
// of all; other answers, or no sense buffer, give the device's own outcome.
TEST_F(PassthruTest, ReportLunsFallback) {
    using F = sim::ScsiTarget::Refusal;
    const uint8_t C = 0xCC;
    const struct { const char* name; F refusal; uint32_t capacity; bool sense; size_t probes; uint32_t size_after;
                   Bytes list; } cases[] = {
        {"accepted", F::None, 32, true, 0, 24,
         {0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x41, 0x2C, 0, 0, 0, 0, 0, 0, C}},
        {"refused", F::FixedSense, 32, true, 4095, 24,
         {0, 0, 0, 16, C, C, C, C, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x2C, 0, 0, 0, 0, 0, 0, C}},
        {"refused, room for one", F::FixedSense, 16, true, 4095, 16,
         {0, 0, 0, 16, C, C, C, C, 0, 0, 0, 0, 0, 0, 0, 0, C}},
        {"refused, descriptor sense", F::DescriptorSense, 32, true, 0, 0, {C}},
        {"refused, no sense buffer", F::FixedSense, 32, false, 0, 0, {C}},
    };
    for (bool new_header : {true, false}) {
        vxapi_priv_database rec = record(new_header);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (new_header ? ", new header" : ", old header"));
            target().report_luns = c.refusal, target().cdbs.clear();
            const EXT_SCSI_ADDR addr{0, 3, 0, {}};
            Bytes list(c.capacity + 1, C), sense(32, C);
            uint32_t size = c.capacity, sense_len = 32;
            uint8_t stat = 0xFF;
            EXPECT_EQ(vxapi_send_scsi_rlc(fd, &rec, &addr, list.data(), &size, c.sense ? sense.data() : nullptr,
                                          &sense_len, &stat), 0);
            EXPECT_EQ(target().cdbs[0].second, (Bytes{0xA0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(c.capacity), 0, 0}));
            EXPECT_EQ(std::tuple(target().cdbs.size(), size), std::tuple(1 + c.probes, c.size_after));
            list.resize(c.list.size());
            EXPECT_EQ(list, c.list);
            if (c.probes != 0) { EXPECT_EQ(std::tuple(sense[0], stat), std::tuple(0x70, 2)); }  // the refusal's
        }
    }
}

// CT only on a fabric port that is up; SCSI with one data direction; RNID parameters have no sysfs form; the
// loopback test of a port with bsg or netlink, or of a sysfs port with neither, sends no driver request.
TEST_F(PassthruTest, RefusalsAndTransportChoice) {
    const Bytes ct = {1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x71, 0, 0, 0, 0, 0, 0};
    uint8_t b[64];
    uint32_t len = 64;
    INT_LOOPBACK_REQ q{};
    INT_LOOPBACK_RSP s{};
    const auto ct_call = [&](R r, uint32_t* st) { return vxapi_send_ct_passthru(fd, r, ct.data(), 16, b, &len, st); };
    const auto loop = [&](R r, uint32_t* st) { return vxapi_loopback_test(fd, r, &q, 40, &s, 40, st); };
    const auto get_rnid = [&](R r, uint32_t* st) { return vxapi_get_rnid_info(fd, r, b, 8, st); };
    const auto set_rnid = [&](R r, uint32_t* st) { return vxapi_set_rnid_info(fd, r, b, 8, st); };
    const auto both = [&](R r, uint32_t* st) {
        const EXT_SCSI_ADDR addr{0, 3, 0, {}};
        return vxapi_send_scsipt_n(fd, r, &addr, b, 10, b, 8, b, &len, nullptr, nullptr, st, nullptr);
    };
    constexpr uint32_t S = VX_FEAT_SYSFS;
    const struct { const char* name; uint16_t topology, state; uint32_t features; std::function<int(R, uint32_t*)> call;
                   int result; uint32_t status; } cases[] = {
        {"ct, point to point", 2, 0, 0, ct_call, 1, 1},
        {"ct, sysfs point to point", 2, 0, S, ct_call, 1, 1},
        {"ct, link down", 8, 1, 0, ct_call, 1, 1},
        {"ct, loop", 4, 0, 0, ct_call, 0, 0},
        {"scsi, both data directions", 8, 0, 0, both, 1, kUntouched},
        {"get rnid, sysfs", 8, 0, S, get_rnid, 2, 12},
        {"set rnid, sysfs", 8, 0, S, set_rnid, 2, 12},
        {"loopback, sysfs", 8, 0, S, loop, 2, 12},
        {"loopback, bsg and netlink: no bsg node", 8, 0, VX_FEAT_BSG | VX_FEAT_NL_VENDOR, loop, 1, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vxapi_priv_database rec = record(true, c.features);
        std::tie(rec.topology, rec.state) = std::tuple(c.topology, c.state);
        driver.clear_log();
        uint32_t st = kUntouched;
        const int rc = c.call(&rec, &st);
        EXPECT_EQ(std::tuple(rc, st, driver.log().size()), std::tuple(c.result, c.status, size_t(rc == 0)));
    }
    // LUN numbers by address method: peripheral, flat space, logical unit, extended.
    for (const auto& [b0, b1, want] : {std::tuple<uint8_t, uint8_t, uint32_t>{0x00, 0x05, 5}, {0x40, 0x05, 5},
                                       {0x41, 0x2C, 300}, {0x7F, 0xFF, 0x3FFF}, {0x80, 0xFF, 0x1F}, {0xC0, 0, ~0u}}) {
        const lun_8byte_t lun{{{b0, b1}}, {}, {}, {}};
        EXPECT_EQ(vxapi_get_lun_addr(&lun), want) << int{b0};
    }
}

using Cell = std::tuple<int, uint32_t, std::string>;  // result, status, what was sent
constexpr uint32_t kU = 0xDEAD;
using roadtest::Kind, roadtest::kIoctl, roadtest::kBsg, roadtest::kNetlink, roadtest::kNeither;
const INT_PORT_PARAM kParam{{{{0x21, 0, 0, 0, 0, 0, 0, 9}}, VX_DEST_WWPN, 0, {}}, 0, 1};  // get; the driver's answer

// Host 5 as a sysfs-mode port ("sfp", no dump held, bsg node, netlink service with the remote port's speed) and
// driver instance 0 (canned SFP, dump and speed); i2c device 0xA0 behind the driver and bsg.
struct SideTest : ::testing::Test {
    SideTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        host.set_attr(fabric.host_dirs[5] + "/sfp", sim::bytes_attr(std::make_shared<std::string>(512, 'x')));
        host.set_attr(fabric.host_dirs[5] + "/scsi_host/host5/fw_dump_size", sim::text_attr("0"));
        bsg.attach(host, fabric), i2c.attach(bsg), driver.attach(host), side.attach(driver);
        driver.add_port(driver.add_adapter()).records = {{{EXT_CC_GET_SFP_DATA, 0}, Bytes(512)},
            {{EXT_CC_GET_FW_DUMP, 0}, Bytes(300)}, {{EXT_CC_PORT_PARAM, 0}, sim::bytes_of(&kParam, 20)}};
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        gnl_fd = vxapi_nl_open();
        sim::serve_vendor_commands(nl, 5, vendor);
        std::memcpy(&remote, kParam.FCScsiAddr.DestAddr.WWPN, 8);
        vendor.speeds[remote] = 0;
    }
    ~SideTest() override { vxapi_nl_close_sockets(), vx::sys().close(fd), sysfs_mnt_path[0] = '\0'; }
    vxapi_priv_database record(Kind k) const { return roadtest::record(fabric, k); }
    // Driver requests, bsg vendor commands and netlink commands since the last look.
    std::string sent() { return roadtest::sent(driver, bsg, nl, nl_seen); }

    sim::SimI2c i2c;
    sim::SimBsg bsg;
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimSide side{i2c};
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, {{sim::sysfs_adapter(0x2532, {5})}});
    sim::SimNetlink& nl = host.netlink();
    int fd = -1;
    sim::NlVendorHost vendor;
    uint64_t remote = 0;
    size_t nl_seen = 0;
};

// Per row the four kinds of port: driver, sysfs with bsg (whose driver has no vendor commands but i2c: 20),
// sysfs with netlink only, sysfs with neither (the Tarno files are absent); the sysfs ports hold no dump (0 and 23).
// Operation 5 is refused everywhere.
TEST_F(SideTest, EachWorkerOnEachKindOfPort) {
    Bytes buf(512), image = sim::pattern(16, 8);
    uint32_t size = 512;
    INT_PORT_PARAM pp = kParam;
    SD_TARNO_MGT t[6] = {};
    t[3].sp.TarnoUpdateFw = {0, 0, 16, image.data()};
    t[4].sp.TarnoManageInfo = {TARNO_MGMT_WRITE_MEM, 0, {{{4, 0, 0}}}, 16, image.data()};
    std::tie(side.tarno_memory, i2c.memory[0xA0]) = std::tuple(Bytes(64), Bytes(256));
    using Call = std::function<int(R, uint32_t*)>;
    const auto tarno = [&](uint16_t op) {
        return Call([&, op](R r, uint32_t* st) { return vxapi_tarno_mgmt(fd, r, op, &t[op], st); });
    };
    const Cell none{2, 12, ""}, refused{1, kU, ""}, attr{0, 0, ""}, absent{0, 9, ""}, no_dump{0, 23, ""};
    const struct { Call call; Cell cells[4]; } rows[] = {
        {[&](R r, uint32_t* st) { return vxapi_getSFPbuffer(fd, r, buf.data(), 512, st); },
         {{0, 0, "ioctl 13/0 "}, attr, attr, attr}},
        {[&](R r, uint32_t* st) { return vxapi_get_i2c_buffer(fd, r, 0xA0, 0, 7, 100, buf.data(), st); },
         {{0, 0, "ioctl 20/2 ioctl 20/2 "}, {0, 0, "bsg 17 bsg 17 "}, {0, 0, "nl 17 nl 17 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_set_i2c_buffer(fd, r, 0xA0, 0, 7, 100, buf.data(), st); },
         {{0, 0, "ioctl 20/1 ioctl 20/1 "}, {0, 0, "bsg 16 bsg 16 "}, {0, 0, "nl 16 nl 16 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_fw_dump(fd, r, buf.data(), &size, st); },
         {{0, 0, "ioctl 14/0 "}, no_dump, no_dump, no_dump}},
        {[&](R r, uint32_t* st) { return vxapi_port_param(fd, r, &pp, 20, st); },
         {{0, 0, "ioctl 15/0 "}, {1, 20, "bsg 5 "}, {0, 0, "nl 7 "}, none}},
        {tarno(1), {{0, 0, "ioctl 17/1 "}, {1, 20, "bsg 2 "}, {0, 0, "nl 1 "}, refused}},
        {tarno(2), {{0, 0, "ioctl 17/2 "}, absent, absent, refused}},
        {tarno(3), {{0, 0, "ioctl 17/3 "}, {1, 20, "bsg 3 "}, {0, 0, "nl 2 "}, refused}},
        {tarno(4), {{0, 0, "ioctl 17/4 "}, {1, 20, "bsg 4 "}, {0, 0, "nl 3 "}, refused}},
        {tarno(5), {refused, refused, refused, refused}},
    };
    for (const auto& row : rows) {
        for (Kind k : {kIoctl, kBsg, kNetlink, kNeither}) {
            vxapi_priv_database rec = record(k);
            uint32_t st = kU;
            const int rc = row.call(&rec, &st);
            EXPECT_EQ(std::tuple(rc, st, sent()), row.cells[k]) << &row - rows << ", kind " << k;
        }
    }
    EXPECT_EQ(side.tarno_image, image);
    EXPECT_EQ(Bytes(&side.tarno_memory[4], &side.tarno_memory[20]), image);
}

// The manage request's data address moves from byte 24 to 20; the version is taken only from a driver that
// succeeded; a netlink reset asks for the diagnostic firmware only for Flags 1.
TEST_F(SideTest, DriverFormsOfTarnoRequests) {
    side.tarno_memory = sim::pattern(64, 5);
    Bytes data(16), want(28);
    SD_TARNO_MGT m{}, v{}, reset{};
    m.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {{{8, 0, 0}}}, 16, data.data()};
    vxapi_priv_database ioctl = record(kIoctl), netlink = record(kNetlink);
    uint32_t st = kU, start = 8, count = 16;
    const uint64_t address = vxapi_ptr_to_64bit(data.data());
    std::memcpy(&want[4], &start, 4), std::memcpy(&want[16], &count, 4), std::memcpy(&want[20], &address, 8);
    EXPECT_EQ(vxapi_tarno_mgmt(fd, &ioctl, 4, &m, &st), 0);
    EXPECT_EQ(side.tarno_request, want);
    EXPECT_EQ(data, Bytes(&side.tarno_memory[8], &side.tarno_memory[24]));
    side.tarno_version = 0x30201;
    driver.inject_status(EXT_STATUS_ERR);
    const auto version = [&] {
        const int rc = vxapi_tarno_mgmt(fd, &ioctl, 2, &v, &st);
        return std::tuple(rc, st, v.sp.TarnoGetFwVer.FwVersion);
    };
    EXPECT_EQ(version(), std::tuple(0, 1u, 0u));
    EXPECT_EQ(version(), std::tuple(0, 0u, 0x30201u));
    for (uint16_t flags : {1, 2, 0}) {
        reset.sp.TarnoReset.Flags = flags;
        EXPECT_EQ(vxapi_tarno_mgmt(fd, &netlink, 1, &reset, &st), 0);
        EXPECT_EQ(nl.requests().back().body()[0], flags == 1 ? 1 : 0) << flags;
    }
}

// 150 bytes from 0x10 in pieces of 64; on a device of 0x60 bytes the second piece fails: the first stays done and
// the status is the failing piece's. A dump larger than the buffer reports the length it needs; an over-long
// answer never reports more than the buffer holds.
TEST_F(SideTest, DriverRoadLengths) {
    vxapi_priv_database rec = record(kIoctl);
    using Pieces = std::vector<std::pair<uint16_t, uint16_t>>;
    const Pieces three = {{0x10, 64}, {0x50, 64}, {0x90, 22}};
    const struct { bool write; size_t device; uint16_t len; uint32_t status; size_t pieces, done; } cases[] = {
        {false, 256, 150, 0, 3, 150}, {false, 0x60, 150, 6, 2, 64}, {true, 0x60, 150, 6, 2, 64},
        {false, 256, 0, 0, 1, 0}};
    for (const auto& c : cases) {
        const Bytes device = sim::pattern(c.device, 3), data = sim::pattern(150, 60);
        Bytes buf = c.write ? data : Bytes(150, 0xEE), want = buf, after = device;
        std::tie(i2c.memory[0xA0], side.i2c_pieces) = std::tuple(device, Pieces{});
        uint32_t st = kU;
        const int rc = c.write ? vxapi_set_i2c_buffer(fd, &rec, 0xA0, 0x10, 0, c.len, buf.data(), &st)
                               : vxapi_get_i2c_buffer(fd, &rec, 0xA0, 0x10, 0, c.len, buf.data(), &st);
        std::copy_n(c.write ? data.begin() : device.begin() + 0x10, c.done,
                    c.write ? after.begin() + 0x10 : want.begin());
        const Pieces pieces = c.len == 0 ? Pieces{{0x10, 0}} : Pieces(three.begin(), three.begin() + c.pieces);
        EXPECT_EQ(std::tuple(rc, st, side.i2c_pieces, buf, i2c.memory[0xA0]),
                  std::tuple(0, c.status, pieces, want, after));
    }
    Bytes dump(300);
    uint32_t size = 200, st = kU;
    driver.inject_status(EXT_STATUS_BUFFER_TOO_SMALL), driver.inject_overreport(100);
    EXPECT_EQ(std::tuple(vxapi_get_fw_dump(fd, &rec, dump.data(), &size, &st), size, st), std::tuple(0, 300u, 16u));
    size = 250;
    driver.inject_overreport(100);
    EXPECT_EQ(std::tuple(vxapi_get_fw_dump(fd, &rec, dump.data(), &size, &st), size, st), std::tuple(0, 250u, 0u));
}

}  // namespace

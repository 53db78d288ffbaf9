// Management of a sysfs-mode port through its attribute files (the Tarno protocol, region activation, the version
// and MAC statistics files, virtual ports, the flash sector size in an update) and through bsg vendor commands.
#include <atomic>
#include <new>
#include <numeric>

#include "core/flash/vx_optrom.h"
#include "sim_bsg.h"
#include "sim_mgmt_bsg.h"
#include "sim_sysfs_flash.h"
#include "sim_sysfs_mgmt.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_mgmt_bsg.h"
#include "vxsdm.h"

namespace {
std::atomic<bool> g_refuse_new{false};  // the next nothrow array allocation fails (of any thread)
uint64_t addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }
}  // namespace

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return g_refuse_new.exchange(false) ? nullptr : ::operator new[](n);
}

namespace {

using Log = std::vector<std::string>;
using sim::Bytes;

struct SysfsMgmtTest : ::testing::Test {
    SysfsMgmtTest() {
        rig.discover();
        std::tie(phys, dir) = std::tuple(sysfstest::SysfsRig::port(5), rig.fabric.host_dirs[5]);
        tarno.install(rig.host, dir);
        vports.install(rig.host, dir + "/fc_host/host5");
    }
    sysfstest::SysfsRig rig{0x2532,
                            [](sim::SysfsAdapter& a) { a.functions[0].host.scsi_host["84xx_fw_version"] = "12"; }};
    vxapi_priv_database* phys = nullptr;
    std::string dir;
    sim::SimTarno tarno;
    sim::SimVports vports;
    EXT_VPORT_PARAMS p{0, 0, {0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1}, {0x20, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1}};
    uint32_t st = 99;
};

TEST_F(SysfsMgmtTest, TarnoTextsControlOrderAndFaults) {
    std::iota(tarno.memory.begin(), tarno.memory.end(), 0);
    Bytes got(64), image = sim::pattern(300000, 5), put = sim::pattern(16, 9);
    enum Kind { kMgmt, kFailData, kReset, kUpdate, kActivate };
    // The operation (reset: Flags), byte count (activation: the code), the first two parameters.
    const struct {
        Kind kind;
        uint16_t op;
        uint32_t n, p0, p1;
        Log log;
        uint32_t status;
    } rows[] = {
        {kMgmt, 0, 64, 4096, 0, {"cmd 00 0064 4096 0000 0000\\0", "ctl 1", "ctl 2"}, 0},
        {kMgmt, 2, 0, 5, 1, {"cmd 02 0000 0005 0001 0000\\0", "ctl 0", "ctl 2"}, 0},
        {kMgmt, 1, 16, 8, 0, {"cmd 01 0016 0008 0000 0000\\0", "data 16", "ctl 0", "ctl 2"}, 0},
        {kFailData, 1, 16, 8, 0, {"cmd 01 0016 0008 0000 0000\\0", "ctl 2"}, 1},
        {kMgmt, 2, 0, 4000000000u, 4000000000u, {}, 1},  // 34 characters: refused, never cut
        {kMgmt, 4, 0, 0, 0, {}, 1},
        {kReset, 1, 0, 0, 0, {"ctl 4\\0"}, 0},
        {kReset, 0, 0, 0, 0, {"ctl 3\\0"}, 0},
        {kUpdate, 0, 300000, 0, 0, {"cmd 00 300000 0000 0000 0000\\0", "data 300000", "ctl 5", "ctl 2"}, 0},
        {kActivate, 0, 0x2025C, 0, 0, {"reset 131676\\0"}, 0},
    };
    for (const auto& r : rows) {
        tarno.log.clear();
        if (r.kind == kFailData) rig.host.fail_attr_writes(dir + "/tarno_cfg_data", EIO);
        TARNO_MANAGE_INFO m{r.op, 0, {{{r.p0, r.p1, 0}}}, r.n, r.op == 0 ? got.data() : put.data()};
        TARNO_RESET reset{r.op, 0};
        TARNO_UPDATE_FW u{0, 0, r.n, image.data()};
        const int32_t rc = r.kind == kReset      ? vxsysfs_tarno_reset(-1, phys, &reset, &st)
                           : r.kind == kUpdate   ? vxsysfs_tarno_updatefw(-1, phys, &u, &st)
                           : r.kind == kActivate ? vxsysfs_activate_region(-1, phys, r.n, &st)
                                                 : vxsysfs_tarno_mgmt(-1, phys, &m, &st);
        EXPECT_EQ(std::tuple(rc, tarno.log, st), std::tuple(0, r.log, r.status)) << &r - rows;
    }
    EXPECT_EQ(got, Bytes(tarno.memory.begin() + 4096, tarno.memory.begin() + 4160));
    EXPECT_EQ(put, Bytes(tarno.memory.begin() + 8, tarno.memory.begin() + 24));
    EXPECT_EQ(std::tuple(tarno.image == image, vxsysfs_is_tarno_cmd_path_exist(phys)), std::tuple(true, 0));
    // The version file; MAC statistics: one read of what the file holds, the rest of the buffer zeroed.
    rig.host.set_attr(dir + "/xgmac_stats", sim::bytes_attr(std::make_shared<std::string>(40, 'm')), 0444);
    TARNO_GET_FW_VERSION v{};
    std::string mac(64, 'x');
    EXPECT_EQ((std::tuple{vxsysfs_tarno_fwversion(-1, phys, &v, &st), v.FwVersion, st,
                          vxsysfs_get_xgmac_stats(-1, phys, mac.data(), 64, &st), st, mac}),
              std::tuple(0, 12u, 0u, 0, 0u, std::string(40, 'm') + std::string(24, '\0')));
    // A host directory of 242 characters leaves no room for the data file's path; of 250, none for the others.
    for (const auto& [length, status] : {std::pair{242u, 1u}, {250u, 9u}}) {
        vxapi_priv_database far = *phys;
        const std::string path = "/sys/" + std::string(length - 12, 'x');
        std::snprintf(reinterpret_cast<char*>(far.phys_path), sizeof far.phys_path, "%s", path.c_str());
        tarno.install(rig.host, path + "/host5"), tarno.log.clear();
        TARNO_MANAGE_INFO m{0, 0, {}, 64, got.data()};
        EXPECT_EQ((std::tuple{vxsysfs_tarno_mgmt(-1, &far, &m, &st), st, tarno.log, rig.traced("path out of bound")}),
                  std::tuple(0, status, Log{}, true));
    }
}

TEST_F(SysfsMgmtTest, VportCreateInfoDelete) {
    const auto create = [&] { return std::tuple{vxsysfs_create_vport(-1, phys, &p, &st), st, vports.log}; };
    const std::string text = "210000AABBCC0001:200000AABBCC0001\n";
    vports.make_host = false;  // written, but no FC host shows the port: deleted again
    EXPECT_EQ(create(), std::tuple(1, 1u, Log{text, text}));
    rig.host.fail_attr_writes(dir + "/fc_host/host5/vport_create", EIO);
    EXPECT_EQ(create(), std::tuple(0, 1u, Log{text, text}));
    EXPECT_EQ(std::tuple(sim::listed_ports().size(), phys->phy_info->vp_inuse), std::tuple(size_t{1}, 0u));
    std::tie(vports.make_host, phys->port_flags) = std::tuple(true, VX_PORT_FLAG_EVENT_CB);
    ASSERT_EQ(create(), std::tuple(0, 0u, Log{text, text, text}));
    vxapi_priv_database* v = sysfstest::SysfsRig::port(20);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tuple(v->interface_type, v->features, v->parent, v->vp_idx, p.vp_id, v->port_flags),
              std::tuple(3u, 0x20u, phys, 1u, 1u, 0u));
    EXPECT_EQ(sysfstest::hex(v->port_id, 4), sysfstest::hex(phys->port_id, 1) + "010300");
    EXPECT_TRUE(v->api_event_cbs != nullptr && v->api_event_cbs != phys->api_event_cbs);
    phys->port_flags = 0;

    // Without a driver maximum (no "max_npiv_vports" on either host), free: 127 - 3 on a 0x2532, 63 - 3 on a
    // 0x8432, 0 once the maximum is used. A "port_state" that cannot be read fails, the record untouched.
    for (const char* host : {"/fc_host/host5", "/scsi_host/host5"}) rig.host.remove(dir + host + "/max_npiv_vports");
    const std::string state = sim::SimVports::dir(20) + "/port_state";
    rig.host.set_attr(state, sim::text_attr("Online"), 0444);
    for (const auto& [device, inuse, free, readable] :
         {std::tuple(0x2532, 3u, 124u, 1u), {0x8432, 3u, 60u, 1u}, {0x8432, 70u, 0u, 1u}, {0x8432, 3u, 0u, 0u}}) {
        std::tie(phys->phy_info->device_id, phys->phy_info->vp_inuse) = std::tuple(device, inuse);
        if (readable == 0) rig.host.fail_attr_reads(state, EIO);
        EXT_VPORT_INFO info{};
        EXPECT_EQ(vxsysfs_get_vport_info(-1, v, &info, &st), 0);
        EXPECT_EQ(std::tuple(info.free, info.used, info.id, info.state, st),
                  std::tuple(free, inuse * readable, readable, readable, 1 - readable));
    }
    // The physical port's own names remove nothing; the virtual port's remove it once, the count never below 0.
    phys->phy_info->vp_inuse = 1;
    EXT_VPORT_PARAMS own = p;
    std::memcpy(own.wwpn, phys->wwpn, 8), std::memcpy(own.wwnn, phys->wwnn, 8);
    for (const auto& [names, left, inuse] : {std::tuple(&own, true, 1u), {&p, false, 0u}, {&p, false, 0u}}) {
        EXPECT_EQ((std::tuple{vxsysfs_delete_vport(-1, phys, names, &st), st, sysfstest::SysfsRig::port(5),
                              sysfstest::SysfsRig::port(20) != nullptr, phys->phy_info->vp_inuse}),
                  std::tuple(0, 0u, phys, left, inuse));
    }
}

// A created port whose host shows no "vport_id" gets an index that no listed port holds, so id 1 stays the port found
// at discovery with "vport_id" 0x1: SDVportGetinfo and SDDeleteVport reach it. Control: none found, 1 is the new one.
TEST(SysfsVportIds, AnIndexHandedOutSkipsTheIdsListedPortsHold) {
    using Hosts = std::vector<uint32_t>;  // listed after the deletion
    for (const auto& [found, id, wwpn, left] :
         {std::tuple(true, 2u, "210000e08b000008", Hosts{5, 20}), {false, 1u, "210000aabbcc0001", Hosts{5}}}) {
        SCOPED_TRACE(found);
        sysfstest::SysfsRig rig(0x2532, [&](sim::SysfsAdapter& a) {
            if (!found) return;
            a.functions[0].vports = {8};
            a.functions[0].vports[0].scsi_host["vport_id"] = "0x1";
        });
        rig.setup.with_bsg = false;
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        sim::SimVports vports;
        vports.install(rig.host, rig.fabric.host_dirs[5] + "/fc_host/host5");
        ASSERT_EQ(SDGetNumberOfAdapters(), found ? 2u : 1u);
        int h = -1;
        ASSERT_EQ(SDOpenDevice(0, &h), 0u);
        uint8_t wwnn[8] = {0x20, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1}, new_wwpn[8] = {0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1};
        SD_UINT32 created = 0;
        VPORT_INFO info{};
        ASSERT_EQ(SDCreateVport(h, wwnn, new_wwpn, 0, &created), 0u);
        EXPECT_EQ(SDVportGetinfo(h, 1, &info), 0u);
        EXPECT_EQ(SDDeleteVport(h, 1), 0u);
        Hosts listed;
        for (const vxapi_priv_database* port : sim::listed_ports()) listed.push_back(port->host_no);
        EXPECT_EQ(std::tuple(created, sysfstest::hex(info.wwpn, 8), listed), std::tuple(id, std::string(wwpn), left));
        EXPECT_EQ(SDCloseDevice(h), 0u);
    }
}

// "flash_block_size" sets the sectors that an update of one byte at 0x10005 writes; without it the flash
// descriptor is asked (absent here: 64 KiB).
TEST(SysfsSectorSize, DrivesTheUpdateSpan) {
    for (const auto& [text, sector] : {std::tuple<std::optional<std::string>, uint32_t>{"0x10000", 0x10000},
                                       {"0x4000", 0x4000},
                                       {std::nullopt, 0x10000}}) {
        sim::SimBsg bsg;
        sysfstest::SysfsRig rig(
            0x2532, [&](sim::SysfsAdapter& a) { a.functions[0].host.scsi_host["flash_block_size"] = text; });
        rig.setup.with_bsg = false;
        rig.discover();
        sim::serve_flash(rig.host, bsg, rig.fabric);
        uint8_t byte = 0x5A;
        uint32_t status = 99;
        ASSERT_EQ(vxapi_update_optrom(-1, rig.port(5), &byte, 1, 0xFFFF, 0x10005, &status), 0);
        const auto& commits = rig.fabric.windows.at(5)->commits;
        ASSERT_EQ(commits.size(), 1u);
        EXPECT_EQ(std::tuple(status, commits[0].first, commits[0].second.size(), rig.traced("Sector size read failed")),
                  std::tuple(0u, 0x10000u, size_t{sector}, !text));
    }
}

#define CALL(expr) [&](uint32_t* st) { return expr; }

// sent: the request from vendor_cmd word 0 on, then the reply length, data out and its length, data in and its
// length (none: nothing sent); fault: the errno of the SG_IO, or -1 when allocation fails. errno starts at ENOSYS.
using MgmtBsg = SysfsMgmtTest;
TEST_F(MgmtBsg, CommandsWordsDataRepliesAndStatuses) {
    sim::SimBsg bsg;
    bsg.attach(rig.host, rig.fabric);
    sim::SimMgmtBsg drv{{0x4005, 1, 2, 3}, 0x72, 0x13};
    std::tie(drv.mailbox[18], drv.mailbox[19]) = std::tuple(5, 1);
    drv.serve(bsg);
    vxapi_priv_database* r = phys;
    sim::Bytes tx(64), rx(64), data(16);
    const uint64_t t = addr(tx.data()), x = addr(rx.data()), d = addr(data.data());
    INT_LOOPBACK_REQ q{3, 999, 7, t, 64, {}};
    INT_LOOPBACK_RSP s{x, 64, 0, 0, 0, 0, 0, 0, 0, {}};
    TARNO_RESET reset[2] = {{1, 0}, {2, 0}};
    TARNO_UPDATE_FW fw{8, 0, 64, tx.data()};
    TARNO_MANAGE_INFO mg[2] = {{2, 0, {{{5, 1, 0}}}, 16, data.data()}, {9, 0, {{{4096, 1, 1}}}, 16, data.data()}};
    const EXT_DEST_ADDR wwpn{{{0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1}}, VX_DEST_WWPN, 0, {}};
    INT_PORT_PARAM pp[3] = {{wwpn, 1, 0x16}, {wwpn, 1, 0x20}, {wwpn, 0, 0}};
    const auto speed = [](uint64_t w) { return std::vector<uint64_t>{5, 0, 0xAA000021, 0x0100CCBB, 2, 0, w, 36, 0, 0, 0, 0}; };
    const struct {
        const char* what;
        std::function<int(uint32_t*)> call;
        uint32_t status;
        std::vector<uint64_t> sent = {};
        int fault = 0;
    } rows[] = {
        {"loopback", CALL(vxsysfs_bsg_loopback_test(0, r, &q, 40, &s, 40, st)), 0, {1, 3, 7, 81, t, 64, x, 64}},
        {"loopback, no memory", CALL(vxsysfs_bsg_loopback_test(0, r, &q, 40, &s, 40, st)), 9, {}, -1},
        {"reset 1", CALL(vxsysfs_bsg_tarno_reset(0, r, &reset[0], st)), 0, {2, 4, 16, 0, 0, 0, 0}},
        {"reset 2, EIO", CALL(vxsysfs_bsg_tarno_reset(0, r, &reset[1], st)), 1, {2, 3, 16, 0, 0, 0, 0}, EIO},
        {"update", CALL(vxsysfs_bsg_tarno_updatefw(0, r, &fw, st)), 0, {3, 6, 16, t, 64, 0, 0}},
        {"config", CALL(vxsysfs_bsg_tarno_mgmt(0, r, &mg[0], st)), 0, {4, 0, 2, 5, 1, 0, 16, 16, d, 16, d, 16}},
        {"op 9: only len", CALL(vxsysfs_bsg_tarno_mgmt(0, r, &mg[1], st)), 0, {4, 0, 0, 0, 0, 0, 16, 16, d, 16, d, 16}},
        {"speed 0x16", CALL(vxsysfs_bsg_port_param(0, r, &pp[0], 20, st)), 0, speed(0x50001)},
        {"speed 0x20", CALL(vxsysfs_bsg_port_param(0, r, &pp[1], 20, st)), 6},
        {"speed get", CALL(vxsysfs_bsg_port_param(0, r, &pp[2], 20, st)), 0, speed(0)},
        {"qos on", CALL(vxsysfs_bsg_qos_enable_disable(r, 1, st)), 0, {6, 1, 1, 16, 0, 0, 0, 0}},
        {"qos, no memory", CALL(vxsysfs_bsg_qos_enable_disable(r, 0, st)), 17, {}, -1},
        {"qos get", CALL(vxsysfs_bsg_qos_get_config(r, data.data(), 16, st)), 0, {6, 2, 1, 16, d, 16, d, 16}},
        {"qos set, ENOSYS", CALL(vxsysfs_bsg_qos_set_config(r, data.data(), 16, st)), 20, {6, 3, 1, 16, d, 16, 0, 0},
         ENOSYS},
        {"diag 1", CALL(vxsysfs_bsg_set_reset_diag_mode(0, r, 1, st)), 0, {9, 1, 16, 0, 0, 0, 0}},
        {"diag 2", CALL(vxsysfs_bsg_set_reset_diag_mode(0, r, 2, st)), 9},
    };
    for (const auto& c : rows) {
        SCOPED_TRACE(c.what);
        bsg.log.clear(), bsg.errnos.assign(c.fault > 0 ? 1 : 0, c.fault);
        std::tie(g_refuse_new, errno) = std::tuple(c.fault < 0, ENOSYS);
        st = 0xFF;
        EXPECT_EQ(std::tuple(c.call(&st), st), std::tuple(c.status == 0 ? 0 : 1, c.status));
        ASSERT_EQ(bsg.log.size(), c.sent.empty() ? 0u : 1u);
        if (c.sent.empty()) continue;
        const sg_io_v4& h = bsg.log[0].hdr;
        std::vector<uint32_t> words((h.request_len - 12) / 4);
        std::memcpy(words.data(), bsg.log[0].request.data() + 12, words.size() * 4);
        std::vector<uint64_t> sent(words.begin(), words.end());
        sent.insert(sent.end(), {h.max_response_len, h.dout_xferp, h.dout_xfer_len, h.din_xferp, h.din_xfer_len});
        EXPECT_EQ(sent, c.sent);
    }
    EXPECT_EQ(std::vector<uint32_t>({s.CompletionStatus, s.CrcErrorCount, s.DisparityErrorCount,
                                     s.FrameLengthErrorCount, s.IterationCountLastError, s.CommandSent, pp[2].Speed}),
              std::vector<uint32_t>({0x4005, 1, 2, 3, 0x10005, 0x72, 0x10}));  // the reply's 0x13 is speed 0x10
}

}  // namespace

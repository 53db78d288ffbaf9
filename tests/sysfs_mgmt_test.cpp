// Management through the attribute files of a sysfs-mode port: the Tarno protocol, region activation, the
// version and MAC statistics files, virtual ports, and the flash sector size in an update.
#include <numeric>

#include "core/vx_optrom.h"
#include "sim_bsg.h"
#include "sim_sysfs_flash.h"
#include "sim_sysfs_mgmt.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_mgmt.h"

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

    // Without a driver maximum, free: 127 - 3 on a 0x2532, 63 - 3 on a 0x8432, 0 once the maximum is used.
    phys->phy_info->max_vports = 0;
    for (const auto& [device, inuse, free] : {std::tuple(0x2532, 3u, 124u), {0x8432, 3u, 60u}, {0x8432, 70u, 0u}}) {
        std::tie(phys->phy_info->device_id, phys->phy_info->vp_inuse) = std::tuple(device, inuse);
        EXT_VPORT_INFO info{};
        EXPECT_EQ(vxsysfs_get_vport_info(-1, v, &info, &st), 0);
        EXPECT_EQ(std::tuple(info.free, info.used, info.id, info.state, st), std::tuple(free, inuse, 1u, 1u, 0u));
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

}  // namespace

// Diagnostic and tuning workers: the road each takes by the port's transports, the FRU records built from images,
// the FRU status pulse, boot code version texts and the global layout's region check and reload.
#include "core/vx_diag.h"
#include "core/vx_fru.h"
#include "core/vx_layout.h"
#include "core/vx_load.h"
#include "sim_diag.h"
#include "sim_mgmt_bsg.h"
#include "sim_nl_vendor.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
using R = vxapi_priv_database*;
using Cell = std::tuple<int, uint32_t, std::string>;  // result, status, what was sent
constexpr uint32_t kU = 0xDEAD, S = VX_FEAT_SYSFS;
enum Kind { kIoctl, kBsg, kNetlink, kNeither };
constexpr uint32_t kFeatures[] = {VX_FEAT_NEW_IOCTL, S | VX_FEAT_BSG, S | VX_FEAT_NL_VENDOR, S};

// Host 5 as a sysfs-mode port (bsg node with the management commands, netlink vendor service) and driver instance
// 0 with the diagnostic commands.
struct DiagTest : ::testing::Test {
    DiagTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        bsg.attach(host, fabric), mgmt.serve(bsg), driver.attach(host), diag.attach(driver);
        driver.add_port(driver.add_adapter());
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        gnl_fd = vxapi_nl_open();
        sim::serve_vendor_commands(nl, 5, vendor);
    }
    ~DiagTest() override { vxapi_nl_close_sockets(), vx::sys().close(fd), sysfs_mnt_path[0] = '\0'; }
    vxapi_priv_database record(Kind k) const {
        vxapi_priv_database rec{};
        std::strcpy(reinterpret_cast<char*>(rec.phys_path), fabric.pci_dirs[0].c_str());
        std::tie(rec.host_no, rec.interface_type, rec.features) = std::tuple(5, VX_PORT_PHYSICAL, kFeatures[k]);
        return rec;
    }
    // Driver requests, bsg vendor commands and netlink commands since the last look.
    std::string sent() {
        std::string s;
        for (const sim::SimLogEntry& e : driver.log()) s += sysfstest::line("ioctl %X/%u ", e.command, e.sub_code);
        for (const sim::BsgJob& j : bsg.log) s += sysfstest::line("bsg %u ", j.code);
        const auto requests = nl.requests();
        for (size_t i = nl_seen; i < requests.size(); ++i) s += sysfstest::line("nl %u ", requests[i].cmd);
        driver.clear_log(), bsg.log.clear(), nl_seen = requests.size();
        return s;
    }

    sim::SimBsg bsg;
    sim::SimMgmtBsg mgmt;
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimDiag diag;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, {{sim::sysfs_adapter(0x2532, {5})}});
    sim::SimNetlink& nl = host.netlink();
    int fd = -1;
    sim::NlVendorHost vendor;
    size_t nl_seen = 0;
};

// Per row the four kinds of port: driver, sysfs with bsg, sysfs with netlink only, sysfs with neither. The sysfs
// forms not carried yet answer 2 and 12 without sending; the SerDes registers and the QoS table answer so on a port
// without a transport, the others 1 with the status untouched.
TEST_F(DiagTest, EachWorkerOnEachKindOfPort) {
    Bytes buf(64);
    EXT_BOARD_TEMP temp{};
    vxa_serdes_reg reg{VXA_SERDES_READ, 4, 0};
    vxa_serdes_reg_ex reg_ex{VXA_SERDES_READ, 4, 0};
    vxa_image_version_list fru{};
    auto* qos = reinterpret_cast<vxa_qos_config*>(buf.data());
    uint32_t size = 64;
    using Call = std::function<int(R, uint32_t*)>;
    const Cell none{1, kU, ""}, later{2, 12, ""};
    const struct { Call call; Cell cells[4]; } rows[] = {
        {[&](R r, uint32_t* st) { return vxapi_enable_disable_qos(fd, r, 1, st); },
         {{0, 0, "ioctl 19/1 "}, {0, 0, "bsg 6 "}, {0, 0, "nl 8 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_qos_config(fd, r, buf.data(), 24, st); },
         {{0, 0, "ioctl 19/2 "}, {0, 0, "bsg 6 "}, {0, 0, "nl 8 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_set_qos_config(fd, r, buf.data(), 24, st); },
         {{0, 0, "ioctl 19/3 "}, {0, 0, "bsg 6 "}, {0, 0, "nl 8 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_set_reset_diag_mode(fd, r, 1, st); },
         {{0, 0, "ioctl 1A/1 "}, {0, 0, "bsg 9 "}, {0, 0, "nl 9 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_board_temp(fd, r, &temp, 64, st); },
         {{0, 0, "ioctl 1B/0 "}, later, later, later}},
        {[&](R r, uint32_t* st) { return vxapi_read_serdes_params(fd, r, buf.data(), 64, st); },
         {{0, 0, "ioctl 1D/0 "}, later, later, later}},
        {[&](R r, uint32_t* st) { return vxapi_update_fru_versions(fd, r, &fru, 4, st); },
         {{0, 0, "ioctl 1C/1 "}, later, {0, 0, "nl 11 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_pulse_fru_status(fd, r, st); },
         {{0, 0, "ioctl 1C/2 ioctl 1C/3 ioctl 1C/3 "}, later, {0, 0, "nl 12 nl 13 nl 13 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_npiv_qos_config(fd, r, buf.data(), 64, st); },
         {{0, 0, "ioctl 1E/3 "}, later, none, none}},
        {[&](R r, uint32_t* st) { return vxapi_set_npiv_qos_config(fd, r, buf.data(), 64, st); },
         {{0, 0, "ioctl 1E/2 "}, later, none, none}},
        {[&](R r, uint32_t* st) { return vxapi_enable_disable_npiv_qos(fd, r, 2, st); },
         {{0, 0, "ioctl 1E/4 "}, later, none, none}},
        {[&](R r, uint32_t* st) { return vxapi_enable_disable_npiv_qos(fd, r, 0, st); },
         {{0, 0, "ioctl 1E/5 "}, later, none, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_npiv_qos_perf(fd, r, buf.data(), 64, st); },
         {{0, 0, "ioctl 1E/6 "}, later, none, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_npiv_qos_list(fd, r, buf.data(), 64, st); },
         {{0, 0, "ioctl 1F/0 "}, later, none, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_fce_buffer(fd, r, buf.data(), &size, st); },
         {{0, 0, "ioctl 22/0 "}, later, later, later}},
        {[&](R r, uint32_t* st) { return vxapi_serdes_reg_ops(fd, r, &reg, st); },
         {{0, 0, "ioctl 23/0 "}, later, {0, 0, "nl 19 "}, later}},
        {[&](R r, uint32_t* st) { return vxapi_serdes_reg_ops_ex(fd, r, &reg_ex, st); },
         {{0, 0, "ioctl 24/0 "}, later, {0, 0, "nl 20 "}, later}},
        {[&](R r, uint32_t* st) { return vxapi_get_qos(fd, r, qos, 64, st); },
         {{0, 0, "ioctl 25/0 "}, later, later, later}},
        {[&](R r, uint32_t* st) { return vxapi_diag_io(fd, r, buf.data(), 8, buf.data(), 1, 1, 0, st); },
         {none, later, later, later}},
    };
    for (const auto& row : rows) {
        for (Kind k : {kIoctl, kBsg, kNetlink, kNeither}) {
            vxapi_priv_database rec = record(k);
            uint32_t st = kU;
            const int rc = row.call(&rec, &st);
            EXPECT_EQ(std::tuple(rc, st, sent()), row.cells[k]) << &row - rows << ", kind " << k;
        }
    }
}

// What the driver road carries: QoS flag as the sub-code, configurations both ways, the temperature, a SerDes
// register written then read, the FCE length the driver reports.
TEST_F(DiagTest, DriverRoadCarriesTheRecords) {
    vxapi_priv_database rec = record(kIoctl);
    uint32_t st = kU, size = 32;
    Bytes cfg = sim::pattern(24, 3), back(24), fce(32);
    diag.temp.IntTemp = 41, diag.temp.FracTemp = 75, diag.fce = sim::pattern(20, 9);
    EXPECT_EQ(vxapi_set_qos_config(fd, &rec, cfg.data(), 24, &st), 0);
    EXPECT_EQ(vxapi_get_qos_config(fd, &rec, back.data(), 24, &st), 0);
    EXPECT_EQ(back, cfg);
    EXPECT_EQ(vxapi_enable_disable_qos(fd, &rec, 0, &st), 0);
    EXPECT_EQ(diag.qos_flag, 0);
    EXPECT_EQ(vxapi_set_npiv_qos_config(fd, &rec, cfg.data(), 24, &st), 0);
    std::fill(back.begin(), back.end(), 0);
    EXPECT_EQ(vxapi_get_npiv_qos_config(fd, &rec, back.data(), 24, &st), 0);
    EXPECT_EQ(back, cfg);
    EXT_BOARD_TEMP t{};
    EXPECT_EQ(vxapi_get_board_temp(fd, &rec, &t, sizeof t, &st), 0);
    EXPECT_EQ(t.IntTemp * 100 + t.FracTemp, 4175);
    vxa_serdes_reg_ex w{VXA_SERDES_WRITE, 0x10000, 0xABCDEF}, r{VXA_SERDES_READ, 0x10000, 0};
    EXPECT_EQ(vxapi_serdes_reg_ops_ex(fd, &rec, &w, &st) | vxapi_serdes_reg_ops_ex(fd, &rec, &r, &st), 0);
    EXPECT_EQ(uint32_t{r.val}, 0xABCDEFu);
    EXPECT_EQ(vxapi_get_fce_buffer(fd, &rec, fce.data(), &size, &st), 0);
    EXPECT_EQ(std::tuple(size, st, Bytes(fce.begin(), fce.begin() + 20)), std::tuple(20u, 0u, diag.fce));
}

}  // namespace

// Diagnostic and tuning workers: the road each takes by the port's transports, the FRU records built from images,
// the FRU status pulse, boot code version texts and the global layout's region check and reload.
#include "base/vx_layout.h"
#include "core/flash/vx_fru.h"
#include "core/io/vx_diag.h"
#include "core/life/vx_load.h"
#include "fw24xx_builder.h"
#include "road_rig.h"
#include "sim_diag.h"
#include "sim_diag_driver.h"
#include "sim_mgmt_bsg.h"
#include "sim_nl_vendor.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
using R = vxapi_priv_database*;
using Cell = std::tuple<int, uint32_t, std::string>;  // result, status, what was sent
constexpr uint32_t kU = 0xDEAD;
using roadtest::Kind, roadtest::kIoctl, roadtest::kBsg, roadtest::kNetlink, roadtest::kNeither;

// Host 5 as a sysfs-mode port (bsg node with the management, diagnostic and diagnostic I/O commands, netlink vendor
// service) and driver instance 0 with the diagnostic commands.
struct DiagTest : ::testing::Test {
    DiagTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        bsg.attach(host, fabric), mgmt.serve(bsg), diag_bsg.serve(bsg), diag_io.serve(bsg);
        driver.attach(host), diag.attach(driver);
        driver.add_port(driver.add_adapter());
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        gnl_fd = vxapi_nl_open();
        sim::serve_vendor_commands(nl, 5, vendor);
    }
    ~DiagTest() override { vxapi_nl_close_sockets(), vx::sys().close(fd), sysfs_mnt_path[0] = '\0'; }
    vxapi_priv_database record(Kind k) const { return roadtest::record(fabric, k); }
    // Driver requests, bsg vendor commands and netlink commands since the last look.
    std::string sent() { return roadtest::sent(driver, bsg, nl, nl_seen); }

    sim::SimBsg bsg;
    sim::SimMgmtBsg mgmt;
    sim::SimDiagBsg diag_bsg;
    sim::SimDiagIo diag_io;
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimDiag diag;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, {{sim::sysfs_adapter(0x2532, {5})}});
    sim::SimNetlink& nl = host.netlink();
    int fd = -1;
    sim::NlVendorHost vendor;
    size_t nl_seen = 0;
};

// Per row the four kinds of port: driver, sysfs with bsg, with netlink only, with neither. The file forms (temperature,
// SerDes parameters, FCE) and the diagnostic I/O serve every sysfs port: here without the files (9). Without a
// transport the SerDes registers answer 2 and 12, as the QoS table does on every sysfs port; the others 1 with the
// status untouched. The driver road carries the records both ways.
TEST_F(DiagTest, EachWorkerOnEachKindOfPort) {
    Bytes buf(64), cfg = sim::pattern(24, 3);
    EXT_BOARD_TEMP temp{};
    vxa_serdes_reg reg{};  // the bsg driver hands records back changed: each call starts afresh
    vxa_serdes_reg_ex w{};
    vxa_image_version_list fru{};
    auto* qos = reinterpret_cast<vxa_qos_config*>(buf.data());
    uint32_t size = 64;
    sim::SimDiag::answer(driver.ports[0], sim::pattern(20, 9));
    driver.ports[0].records[{EXT_CC_BOARD_TEMP, 0}] = sim::pattern(sizeof temp, 9);  // a record comes whole
    using Call = std::function<int(R, uint32_t*)>;
#define CALL(expr) Call([&](R r, uint32_t* st) { return expr; })
    const Cell none{1, kU, ""}, no_road{2, 12, ""}, no_file{0, 9, ""};
    const struct { Call call; Cell cells[4]; } rows[] = {
        {CALL(vxapi_set_qos_config(fd, r, cfg.data(), 24, st)), {{0, 0, "ioctl 19/3 "}, {0, 0, "bsg 6 "}, {0, 0, "nl 8 "}, none}},
        {CALL(vxapi_get_qos_config(fd, r, buf.data(), 24, st)), {{0, 0, "ioctl 19/2 "}, {0, 0, "bsg 6 "}, {0, 0, "nl 8 "}, none}},
        {CALL(vxapi_enable_disable_qos(fd, r, 1, st)), {{0, 0, "ioctl 19/1 "}, {0, 0, "bsg 6 "}, {0, 0, "nl 8 "}, none}},
        {CALL(vxapi_set_reset_diag_mode(fd, r, 1, st)), {{0, 0, "ioctl 1A/1 "}, {0, 0, "bsg 9 "}, {0, 0, "nl 9 "}, none}},
        {CALL(vxapi_get_board_temp(fd, r, &temp, 64, st)), {{0, 0, "ioctl 1B/0 "}, {0, 0, ""}, {0, 0, ""}, {0, 0, ""}}},
        {CALL(vxapi_read_serdes_params(fd, r, buf.data(), 64, st)), {{0, 0, "ioctl 1D/0 "}, no_file, no_file, no_file}},
        {CALL(vxapi_update_fru_versions(fd, r, &fru, 4, st)), {{0, 0, "ioctl 1C/1 "}, {0, 0, "bsg 11 "}, {0, 0, "nl 11 "}, none}},
        {CALL(vxapi_pulse_fru_status(fd, r, st)), {{0, 0, "ioctl 1C/2 ioctl 1C/3 ioctl 1C/3 "},
                                                   {0, 0, "bsg 12 bsg 13 bsg 13 "}, {0, 0, "nl 12 nl 13 nl 13 "}, none}},
        {CALL(vxapi_set_npiv_qos_config(fd, r, cfg.data(), 24, st)), {{0, 0, "ioctl 1E/2 "}, {0, 0, "bsg 14 "}, none, none}},
        {CALL(vxapi_get_npiv_qos_config(fd, r, buf.data(), 64, st)), {{0, 0, "ioctl 1E/3 "}, {0, 0, "bsg 14 "}, none, none}},
        {CALL(vxapi_enable_disable_npiv_qos(fd, r, 2, st)), {{0, 0, "ioctl 1E/4 "}, {0, 0, "bsg 14 "}, none, none}},
        {CALL(vxapi_enable_disable_npiv_qos(fd, r, 0, st)), {{0, 0, "ioctl 1E/5 "}, {0, 0, "bsg 14 "}, none, none}},
        {CALL(vxapi_get_npiv_qos_perf(fd, r, buf.data(), 64, st)), {{0, 0, "ioctl 1E/6 "}, {0, 0, "bsg 14 "}, none, none}},
        {CALL(vxapi_get_npiv_qos_list(fd, r, buf.data(), 64, st)), {{0, 0, "ioctl 1F/0 "}, {0, 0, "bsg 15 "}, none, none}},
        {CALL(vxapi_get_fce_buffer(fd, r, buf.data(), &size, st)), {{0, 0, "ioctl 22/0 "}, no_file, no_file, no_file}},
        {CALL(vxapi_serdes_reg_ops(fd, r, &(reg = {VXA_SERDES_READ, 4, 0}), st)),
         {{0, 0, "ioctl 23/0 "}, {0, 0, "bsg 19 "}, {0, 0, "nl 19 "}, no_road}},
        {CALL(vxapi_serdes_reg_ops_ex(fd, r, &(w = {VXA_SERDES_WRITE, 0x10000, 0xABCDEF}), st)),
         {{0, 0, "ioctl 24/0 "}, {0, 0, "bsg 20 "}, {0, 0, "nl 20 "}, no_road}},
        {CALL(vxapi_get_qos(fd, r, qos, 64, st)), {{0, 0, "ioctl 25/0 "}, no_road, no_road, no_road}},
        {CALL(vxapi_diag_io(fd, r, cfg.data(), 8, buf.data(), 1, 1, 0, st)),
         {none, {0, 0, "bsg 10 "}, {0, 0, "bsg 10 "}, {0, 0, "bsg 10 "}}},
    };
#undef CALL
    for (const auto& row : rows) {
        for (Kind k : {kIoctl, kBsg, kNetlink, kNeither}) {
            vxapi_priv_database rec = record(k);
            uint32_t st = kU;
            const int rc = row.call(&rec, &st);
            EXPECT_EQ(std::tuple(rc, st, sent()), row.cells[k]) << &row - rows << ", kind " << k;
            if (k == kIoctl && &row == rows + 1) { EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 24), cfg); }
        }
    }
    EXPECT_EQ(std::tuple(diag.qos_flag, diag.diag_mode, diag.npiv_config, diag.serdes[0x10000], size),
              std::tuple(1, 1, cfg, 0xABCDEFu, 20u));
}

// The FRU records of images as the driver receives them: count, then per image offset 0x406 (firmware), 0x472
// (BIOS), 0x44E (FCode) or 0x42A (EFI) at device 0xA0 with option 0x2000 and the text less a leading blank.
// Nothing is sent for another region or an image without versions.
TEST_F(DiagTest, FruRecordsFromImages) {
    const auto chain = [](std::vector<sim::RomImage> images) { return sim::build_rom_chain(images).bytes; };
    auto fw = [f = sim::Fw24xx{}](uint32_t major, uint32_t minor, uint32_t subminor) mutable {
        return std::tie(f.major, f.minor, f.subminor) = std::tuple(major, minor, subminor), sim::build_24xx_fw(f);
    };
    const struct { uint32_t region; Bytes image; int rc; std::string sent; } rows[] = {
        {1, fw(8, 2, 5), 0, "1: 406 V:8.02.05,D:00000000,A:Y,T:G"},
        {1, fw(123, 45, 6), 0, "1: 406 V:123.45.06,D:00000000,A:Y,T:G"},
        {7, chain({sim::bios_image(3, 5), sim::fcode_image(1, 2), sim::efi_image(100, 1)}), 0,
         "3: 472 V:3.05,D:00000000,A:Y,T:B 44E V:1.02,D:00000000,A:Y,T:F 42A V:100.01,D:00000000,A:Y,T:E"},
        {7, chain({sim::efi_image(0, 7)}), 0, "1: 42A V:0.07,D:00000000,A:Y,T:E"},
        {7, fw(8, 2, 5), 1, ""},
        {1, chain({sim::bios_image(3, 5)}), 1, ""},
        {2, fw(8, 2, 5), 1, ""},
    };
    for (const auto& row : rows) {
        vxapi_priv_database rec = record(kIoctl);
        uint32_t st = kU;
        diag.fru_versions.clear();
        EXPECT_EQ(vxapi_fill_and_update_fru_versions(fd, &rec, row.image.data(), static_cast<uint32_t>(row.image.size()),
                                                     row.region, &st), row.rc) << &row - rows;
        const Bytes& list = diag.fru_versions;
        std::string got = list.empty() ? "" : std::to_string(list[0]) + ":";
        for (size_t at = 4; at + sizeof(vxa_image_version) <= list.size(); at += sizeof(vxa_image_version)) {
            vxa_image_version v;
            std::memcpy(&v, &list[at], sizeof v);
            const bool a0 = v.field_address.device_address == 0xA0 && v.field_address.options == 0x2000;
            got += sysfstest::line(" %X%s %s", v.field_address.offset, a0 ? "" : "!", v.version);
        }
        EXPECT_EQ(std::pair(got, list.size()), std::pair(row.sent, list.empty() ? 0 : 4 + 42 * size_t{list[0]}));
    }
}

// Boot code version texts: a blank before a one-digit major, three digits past 99; the text and its NUL must fit;
// a PcirOffset past the buffer is not followed.
TEST_F(DiagTest, BootCodeVersionText) {
    Bytes rom = sim::build_rom_chain({sim::bios_image(3, 5), sim::efi_image(100, 1)}).bytes;
    char v[16];
    const auto version = [&](uint8_t ctype, uint32_t room) {
        std::memset(v, 'x', sizeof v);
        const int rc = vxapi_get_bootcode_version(rom.data(), static_cast<uint32_t>(rom.size()), ctype,
                                                  reinterpret_cast<uint8_t*>(v), room);
        return std::pair(rc, rc == 0 ? std::string(v) : std::string(v, 1));
    };
    EXPECT_EQ(std::pair(version(0, 16), version(0, 6)), std::pair(std::pair(0, std::string(" 3.05")), version(0, 16)));
    EXPECT_EQ(version(0, 5), std::pair(1, std::string("x")));
    EXPECT_EQ(version(3, 16), std::pair(0, std::string("100.01")));
    EXPECT_EQ(version(1, 16), std::pair(1, std::string("x")));
    EXPECT_EQ(vxapi_get_bootcode_version(nullptr, 16, 0, reinterpret_cast<uint8_t*>(v), 16), 1);
    sim::put_le16(rom, 0x18, 0xFFF0);
    EXPECT_EQ(version(0, 16), std::pair(1, std::string("x")));
}

// The pulse on each road failing at each step (driver status 1 doing nothing; netlink error word 1 after the
// command was carried out; bsg job failing with EIO): a failed read writes nothing back, a failed reset write sends
// no set. On the driver road the status is the last request's; the netlink exchange leaves it alone on an error
// word. The bsg driver reads the register as 1.
TEST_F(DiagTest, FruStatusPulseStopsAtTheFailedStep) {
    const struct { Kind kind; int fail; int rc; uint32_t st; std::string sent; std::vector<uint8_t> written; } rows[] = {
        {kIoctl, 0, 0, 0, "ioctl 1C/2 ioctl 1C/3 ioctl 1C/3 ", {0x03, 0x13}},
        {kIoctl, 1, 0, 1, "ioctl 1C/2 ", {}},
        {kIoctl, 2, 0, 1, "ioctl 1C/2 ioctl 1C/3 ", {}},
        {kIoctl, 3, 0, 1, "ioctl 1C/2 ioctl 1C/3 ioctl 1C/3 ", {0x03}},
        {kNetlink, 0, 0, 0, "nl 12 nl 13 nl 13 ", {0x13}},
        {kNetlink, 1, 1, kU, "nl 12 ", {0x13}},
        {kNetlink, 2, 1, 0, "nl 12 nl 13 ", {0x03}},
        {kNetlink, 3, 1, 0, "nl 12 nl 13 nl 13 ", {0x13}},
        {kBsg, 0, 0, 0, "bsg 12 bsg 13 bsg 13 ", {0x01, 0x11}},
        {kBsg, 1, 1, 1, "bsg 12 ", {}},
        {kBsg, 2, 1, 1, "bsg 12 bsg 13 ", {0x01}},
    };
    for (const auto& row : rows) {
        std::tie(diag.fru_status, diag.fru_calls, diag.fru_written) = std::tuple(0x13, 0, std::vector<uint8_t>{});
        vendor.status_reg.status_reg = 0x13;
        diag.fru_fail = row.kind == kIoctl ? row.fail : 0;
        for (int i = 1; row.kind == kNetlink && i <= row.fail; ++i) {
            nl.fault(i < row.fail ? sim::NlFault{} : sim::NlFault{sim::NlFault::Error, 1, {}});
        }
        if (row.kind == kBsg && row.fail != 0) bsg.errnos.assign(row.fail - 1, 0), bsg.errnos.push_back(EIO);
        vxapi_priv_database rec = record(row.kind);
        uint32_t st = kU;
        const int rc = vxapi_pulse_fru_status(fd, &rec, &st);
        auto written = row.kind == kIoctl ? diag.fru_written : std::vector<uint8_t>{vendor.status_reg.status_reg};
        if (row.kind == kBsg) written.clear();
        for (const sim::BsgJob& j : bsg.log) if (j.code == 13) written.push_back(j.dout[6]);  // status_reg sent
        EXPECT_EQ(std::tuple(rc, st, sent(), written), std::tuple(row.rc, row.st, row.sent, row.written)) << &row - rows;
    }
}

// The region check walks at most the table's 255 entries and answers 0 with no layout; the reload installs the
// port's fixed layout as the global one.
TEST_F(DiagTest, RegionCheckAndLayoutReload) {
    struct Restore {
        ~Restore() { pGlobalOptRomLayout = nullptr, std::memset(&gOptRomLayout, 0, sizeof gOptRomLayout); }
    } restore;
    pGlobalOptRomLayout = nullptr;
    EXPECT_EQ(vxapi_check_region(0xAB), 0);
    std::memset(&gOptRomLayout, 0, sizeof gOptRomLayout);
    std::tie(gOptRomLayout.NoOfRegions, gOptRomLayout.Region[254].Region) = std::tuple(0xFFFFFFFF, 0xAB);
    pGlobalOptRomLayout = &gOptRomLayout;
    EXPECT_EQ(std::pair(vxapi_check_region(0xAB), vxapi_check_region(0xAC)), std::pair(1, 0));
    vxapi_priv_database rec = record(kBsg);
    vxapi_phy_info phy{};
    std::tie(phy.device_id, rec.phy_info) = std::tuple(0x2532, &phy);
    EXPECT_EQ(vxapi_override_flt(fd, &rec), 0);
    EXPECT_EQ(pGlobalOptRomLayout, &gOptRomLayout);
    EXPECT_GT(gOptRomLayout.NoOfRegions, 1u);
    EXPECT_EQ(std::pair(vxapi_check_region(gOptRomLayout.Region[1].Region), vxapi_check_region(0xAB)), std::pair(1, 0));
}

}  // namespace

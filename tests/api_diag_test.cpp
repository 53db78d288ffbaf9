// Board diagnostics, LUN names and ZoneWise through the public functions, against the simulated driver and host.
#include <array>
#include <map>
#include <optional>

#include "api_rig.h"
#include "core/vx_env.h"
#include "sim_diag_driver.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;
using std::nullopt;
using std::optional;
using std::string;

constexpr char kParam[] = "/sys/module/vxa2xxx/parameters/vx2xzonewise";
constexpr char kConf[] = "/etc/modprobe.d/vxa2xxx.conf";
constexpr uint32_t kSysfs = 0x10000;  // key of a sysfs port of the chip

// Ports of four chips (each with a virtual port) and a sysfs 0x8001 port; the driver's canned diagnostic answer
// (0x40000 bytes) and SerDes registers; a loaded driver with ZoneWise off.
struct DiagRig : apitest::ApiRig {
    DiagRig() {
        diag.attach(driver);
        for (uint16_t chip : {0x2532, 0x2031, 0x8044, 0x8001}) {
            apitest::RigPort& p = add_adapter(chip);
            handles[chip] = {p.handle, add_virtual(p).handle};
        }
        handles[kSysfs | 0x8001] = {add_sysfs_adapter(0x8001).handle, 0};
        for (sim::SimPort& sp : driver.ports) sim::SimDiag::answer(sp, canned);
        host.write_file(kParam, "0\n");
        host.make_dir("/etc/modprobe.d");
    }
    Bytes canned = sim::pattern(0x40000, 1);
    sim::SimDiag diag;
    std::map<uint32_t, std::pair<int, int>> handles;  // physical and virtual port
};

constexpr SD_UINT32 P = SDERR_INVALID_PARAMETER, H = SDERR_INVALID_HANDLE, N = SDERR_NOT_SUPPORTED,
                    S = SDERR_BUFFER_TOO_SMALL, C = SDERR_CONFIG_FILE;

// Statuses with a handle that names no port, on a refused chip and on an accepted one (and its virtual port).
TEST(ApiDiag, GatesAndArgumentsInOrder) {
    DiagRig rig;
    BOARD_TEMP t;
    Bytes buf(0x30000);
    char names[512] = "a";
    SD_UINT8 b[64];
    SD_UINT16 w = 0;
    SD_UINT32 n = 0, l = 0;
    const auto diag_io = [&](int h, SD_UINT8* d, SD_UINT32 s, SD_UINT8* r, SD_UINT32 rs, SD_UINT32 th, SD_UINT32 it) {
        return SDDiagIO(h, d, s, r, rs, th, it, 1);
    };
    const struct {
        const char* what;
        uint32_t accepted, refused;
        std::function<SD_UINT32(int)> call;
        std::array<SD_UINT32, 3> status;
    } rows[] = {
        {"temperature", 0x2532, 0x8001, [&](int h) { return SDGetBoardTemp(h, 0, &t, 64); }, {H, N, 0}},
        {"no temperature record", 0x2532, 0x8001, [&](int h) { return SDGetBoardTemp(h, 0, nullptr, 64); }, {H, N, P}},
        {"temperature size 63", 0x2532, 0x8001, [&](int h) { return SDGetBoardTemp(h, 0, &t, 63); }, {H, N, S}},
        {"diag I/O of 128 streams", 0x2532, kSysfs | 0x8001, [&](int h) { return diag_io(h, b, 8, b, 8, 128, 1); }, {H, N, N}},
        {"no pattern", 0x2532, 0x8001, [&](int h) { return diag_io(h, nullptr, 8, b, 8, 1, 1); }, {P, P, P}},
        {"pattern size 0", 0x2532, 0x8001, [&](int h) { return diag_io(h, b, 0, b, 0, 1, 1); }, {P, P, P}},
        {"no response", 0x2532, 0x8001, [&](int h) { return diag_io(h, b, 8, nullptr, 8, 1, 1); }, {P, P, P}},
        {"no streams", 0x2532, 0x8001, [&](int h) { return diag_io(h, b, 8, b, 8, 0, 1); }, {P, P, P}},
        {"no iterations", 0x2532, 0x8001, [&](int h) { return diag_io(h, b, 8, b, 8, 1, 0); }, {P, P, P}},
        {"129 streams", 0x2532, 0x8001, [&](int h) { return diag_io(h, b, 8, b, 8, 129, 1); }, {P, P, P}},
        {"sizes 512 and 1024", 0x2532, 0x8001, [&](int h) { return diag_io(h, b, 512, b, 1024, 1, 1); }, {P, P, P}},
        {"SerDes parameters", 0x2532, 0x2031, [&](int h) { return SDReadSerdesParams(h, b, 64); }, {H, N, 0}},
        {"SerDes parameters size 0", 0x2532, 0x2031, [&](int h) { return SDReadSerdesParams(h, b, 0); }, {P, P, P}},
        {"no SerDes buffer", 0x2532, 0x2031, [&](int h) { return SDReadSerdesParams(h, nullptr, 64); }, {P, P, P}},
        {"trace", 0x2532, 0x8044, [&](int h) { return SDGetTraceBuffer(h, buf.data(), &(n = 0x30000)); }, {H, N, 0}},
        {"no trace buffer", 0x2532, 0x8044, [&](int h) { return SDGetTraceBuffer(h, nullptr, &(n = 0x30000)); }, {P, P, P}},
        {"no trace size", 0x2532, 0x8044, [&](int h) { return SDGetTraceBuffer(h, buf.data(), nullptr); }, {P, P, P}},
        {"trace size 0", 0x2532, 0x8044, [&](int h) { return SDGetTraceBuffer(h, buf.data(), &(n = 0)); }, {P, P, P}},
        {"trace size 0x2FFFF", 0x2532, 0x8044, [&](int h) { return SDGetTraceBuffer(h, buf.data(), &(n = 0x2FFFF)); }, {S, S, S}},
        {"register", 0x2031, 0x2532, [&](int h) { return SDGetFCSerDesRegister(h, 0, 1, &w); }, {H, N, 0}},
        {"no register word", 0x2031, 0x2532, [&](int h) { return SDGetFCSerDesRegister(h, 0, 1, nullptr); }, {P, P, P}},
        {"register set", 0x2031, 0x2532, [&](int h) { return SDSetFCSerDesRegister(h, 0, 1, 2); }, {H, N, 0}},
        {"register ex", 0x8044, 0x2031, [&](int h) { return SDGetFCSerDesRegisterEx(h, 0, 1, &l); }, {H, N, 0}},
        {"no register ex word", 0x8044, 0x2031, [&](int h) { return SDGetFCSerDesRegisterEx(h, 0, 1, nullptr); }, {P, P, P}},
        {"register ex set", 0x8044, 0x2031, [&](int h) { return SDSetFCSerDesRegisterEx(h, 0, 1, 2); }, {H, N, 0}},
        {"names, no LUN device", 0x2532, 0x2031, [&](int h) { return SDSetLunUdevName(h, 0, 0, 0, names); }, {H, C, C}},
        {"no names", 0x2532, 0x2031, [&](int h) { return SDSetLunUdevName(h, 0, 0, 0, nullptr); }, {H, P, P}},
        {"no names to delete", 0x2532, 0x2031, [&](int h) { return SDDeleteLunUdevName(h, 0, 0, 0, nullptr); }, {H, P, P}},
        {"no names buffer", 0x2532, 0x2031, [&](int h) { return SDGetLunUdevName(h, 0, 0, 0, nullptr); }, {H, P, P}},
        {"names read", 0x2532, 0x2031, [&](int h) { return SDGetLunUdevName(h, 0, 0, 0, names); }, {H, C, C}},
        {"ZoneWise on", 0x2532, 0x2031, [&](int h) { return SDEnableZoneWiseFC(h, 0); }, {H, 0, 0}},
        {"ZoneWise off", 0x2532, 0x2031, [&](int h) { return SDDisableZoneWiseFC(h, 0); }, {H, 0, 0}},
        {"ZoneWise status", 0x2532, 0x2031, [&](int h) { return SDGetZoneWiseStatusFC(h, 0, b); }, {H, 0, 0}},
        {"no ZoneWise byte", 0x2532, 0x2031, [&](int h) { return SDGetZoneWiseStatusFC(h, 0, nullptr); }, {H, P, P}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const auto [physical, virt] = rig.handles.at(r.accepted);
        EXPECT_EQ(r.call(99), r.status[0]);
        EXPECT_EQ(r.call(rig.handles.at(r.refused).first), r.status[1]);
        rig.driver.clear_log();
        EXPECT_EQ(r.call(physical), r.status[2]);
        EXPECT_EQ(r.call(virt), r.status[2]);  // no function gates on the kind of port
        EXPECT_TRUE(r.status[2] == 0 || rig.driver.log().empty());  // refused before any request
    }
    EXPECT_EQ(n, 0x30000u);  // the size the trace needs, written back
}

TEST(ApiDiag, TemperatureTraceAndRegisters) {
    DiagRig rig;
    const int h = rig.handles.at(0x2532).first, reg = rig.handles.at(0x2031).first, ex = rig.handles.at(0x8044).first;
    auto t = apitest::filled<BOARD_TEMP>();
    ASSERT_EQ(SDGetBoardTemp(h, 0, &t, 200), 0u);
    EXPECT_EQ(rig.requests(EXT_CC_BOARD_TEMP).back().response_len, 64u);
    EXPECT_EQ(sim::bytes_of(&t, 4), apitest::slice(rig.canned, 0, 4));
    EXPECT_EQ(sim::bytes_of(t.Reserved, 60), Bytes(60, apitest::kFill));  // the driver's reserved words stay its own

    Bytes buf(0x38000);
    SD_UINT32 n = 0x38000;
    ASSERT_EQ(SDGetTraceBuffer(h, buf.data(), &n), 0u);
    EXPECT_EQ(n, 0x38000u);  // the driver had more
    EXPECT_EQ(buf, apitest::slice(rig.canned, 0, 0x38000));
    rig.driver.on(EXT_CC_FCE_TRACE, [](const sim::SimRequest&) {
        sim::SimReply r = sim::SimReply::with_status(16);
        return r.reported_len = 0x50000, r;
    });
    EXPECT_EQ(SDGetTraceBuffer(h, buf.data(), &n), S);
    EXPECT_EQ(n, 0x50000u);  // the length the driver needs

    SD_UINT16 w = 0;
    SD_UINT32 l = 0;
    ASSERT_EQ(SDSetFCSerDesRegister(reg, 0, 0x7, 0x1234), 0u);
    ASSERT_EQ(SDSetFCSerDesRegisterEx(ex, 0, 0x10007, 0xABCDEF01), 0u);
    EXPECT_EQ(rig.diag.serdes, (std::map<uint32_t, uint32_t>{{0x7, 0x1234}, {0x10007, 0xABCDEF01}}));
    ASSERT_EQ(SDGetFCSerDesRegister(reg, 0, 0x7, &w), 0u);
    ASSERT_EQ(SDGetFCSerDesRegisterEx(ex, 0, 0x10007, &l), 0u);
    EXPECT_EQ(w, 0x1234);
    EXPECT_EQ(l, 0xABCDEF01u);
    rig.driver.inject_status(2);
    EXPECT_EQ(SDGetFCSerDesRegister(reg, 0, 0x7, &(w = 9)), SDERR_DEVICE_BUSY);
    EXPECT_EQ(w, 9);  // a failure leaves the caller's word
}

TEST(ApiDiag, ZoneWiseNowAndForTheNextLoad) {
    const struct {
        const char* what;
        SD_UINT32 (*call)(int, SD_PUINT8);
        optional<string> param, conf;  // before (nullopt: absent)
        SD_UINT32 status;
        optional<string> param_after, conf_after;
        SD_UINT8 got = 0xA5;
    } cases[] = {
        {"on, no file", [](int h, SD_PUINT8) { return SDEnableZoneWiseFC(h, 0); }, "0\n", nullopt, 0,
         string("1\0\0\0", 4), "options vxa2xxx vx2xzonewise=1\n"},
        {"off, other settings", [](int h, SD_PUINT8) { return SDDisableZoneWiseFC(h, 0); }, "1\n",
         "options vxa2xxx other=3\n", 0, string("0\0\0\0", 4), "options vxa2xxx other=3 vx2xzonewise=0\n"},
        {"driver not loaded", [](int h, SD_PUINT8) { return SDEnableZoneWiseFC(h, 0); }, nullopt, "x\n", N, nullopt, "x\n"},
        {"file not written", [](int h, SD_PUINT8) { return SDEnableZoneWiseFC(h, 0); }, "0\n", "", C,
         string("1\0\0\0", 4), ""},
        {"status, file says off", [](int h, SD_PUINT8 b) { return SDGetZoneWiseStatusFC(h, 0, b); }, "257\n",
         "options vxa2xxx vx2xzonewise=0\n", 0, "257\n", "options vxa2xxx vx2xzonewise=0\n", 1},
        {"status, not loaded", [](int h, SD_PUINT8 b) { return SDGetZoneWiseStatusFC(h, 0, b); }, nullopt, nullopt, N,
         nullopt, nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DiagRig rig;
        std::remove(rig.host.map(kParam).c_str());
        if (c.param) rig.host.write_file(kParam, *c.param);
        if (c.conf) rig.host.write_file(kConf, *c.conf);
        SD_UINT8 got = 0xA5;
        EXPECT_EQ(c.call(rig.handles.at(0x2532).first, &got), c.status);
        EXPECT_EQ(got, c.got);
        EXPECT_EQ(rig.host.exists(kParam) ? optional(rig.host.read_file(kParam)) : nullopt, c.param_after);
        EXPECT_EQ(rig.host.exists(kConf) ? optional(rig.host.read_file(kConf)) : nullopt, c.conf_after);
    }
}

// udev re-reads its rules after a failed change; on VMware nothing changes, and ZoneWise answers before the handle.
TEST(ApiDiag, HostConfigurationOnlyOnLinux) {
    DiagRig rig;
    const int h = rig.handles.at(0x2532).first;
    char names[512] = "a";
    rig.host.write_file("/sbin/udevadm", "", 0755);
    rig.host.write_file("/etc/udev/rules.d/99-DU-DUV.rules", "# kept\n");
    EXPECT_EQ(SDSetLunUdevName(h, 0, 0, 0, names), C);
    EXPECT_EQ(SDDeleteLunUdevName(h, 0, 0, 0, names), C);
    EXPECT_EQ(rig.host.commands(), (std::vector<string>{"/sbin/udevadm trigger", "/sbin/udevadm trigger"}));
    rig.host.set_uname("Linux", "2.6.18-ESX");
    EXPECT_EQ(SDSetLunUdevName(h, 0, 0, 0, names), N);
    EXPECT_EQ(SDDeleteLunUdevName(h, 0, 0, 0, names), N);
    EXPECT_EQ(SDGetLunUdevName(h, 0, 0, 0, names), C);  // read, not refused
    EXPECT_EQ(rig.host.commands().size(), 2u);
    EXPECT_EQ(rig.host.read_file("/etc/udev/rules.d/99-DU-DUV.rules"), "# kept\n");
    SD_UINT8 on = 0;
    EXPECT_EQ(SDEnableZoneWiseFC(99, 0), N);
    EXPECT_EQ(SDGetZoneWiseStatusFC(99, 0, &on), N);
    EXPECT_EQ(rig.host.read_file(kParam), "0\n");
}

}  // namespace

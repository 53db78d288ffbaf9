// Board diagnostics, LUN names and ZoneWise through the public functions, against the simulated driver and host
// (diagnostic I/O through them: the sysfs diagnostics tests).
#include "api_rig.h"
#include "sim_diag.h"
#include "sim_diag_driver.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;

constexpr char kParam[] = "/sys/module/vxa2xxx/parameters/vx2xzonewise";
constexpr char kConf[] = "/etc/modprobe.d/vxa2xxx.conf";
constexpr uint32_t kSysfs = 0x10000;  // key of a sysfs port of the chip

// Ports of four chips (each with a virtual port), a sysfs 0x8001 port, canned answers and a driver with ZoneWise off.
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

// Statuses with a handle that names no port, on a refused chip and on an accepted one (and its virtual port); what
// the accepted calls left.
TEST(ApiDiag, GatesArgumentsAndRecords) {
    DiagRig rig;
    auto t = apitest::filled<BOARD_TEMP>();
    Bytes buf(0x38000);
    char names[512] = "a";
    SD_UINT8 b[64];
    SD_UINT16 w = 0;
    SD_UINT32 n = 0, m = 0, l = 0;  // set by the rows
    const struct {
        const char* what;
        uint32_t accepted, refused;
        SD_UINT32 status[3];
        std::function<SD_UINT32(int)> call;
    } rows[] = {
        {"temperature", 0x2532, 0x8001, {H, N, 0}, [&](int h) { return SDGetBoardTemp(h, 0, &t, 64); }},
        {"no record", 0x2532, 0x8001, {H, N, P}, [&](int h) { return SDGetBoardTemp(h, 0, nullptr, 64); }},
        {"size 63", 0x2532, 0x8001, {H, N, S}, [&](int h) { return SDGetBoardTemp(h, 0, &t, 63); }},
        {"128 streams", 0x2532, kSysfs | 0x8001, {H, N, N}, [&](int h) { return SDDiagIO(h, b, 8, b, 8, 128, 1, 1); }},
        {"no pattern", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, nullptr, 8, b, 8, 1, 1, 1); }},
        {"129 streams", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, b, 8, b, 8, 129, 1, 1); }},
        {"sizes 512, 1024", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, b, 512, b, 1024, 1, 1, 1); }},
        {"size 0", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, b, 0, b, 0, 1, 1, 1); }},
        {"no response", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, b, 8, nullptr, 8, 1, 1, 1); }},
        {"no streams", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, b, 8, b, 8, 0, 1, 1); }},
        {"no iterations", 0x2532, 0x8001, {P, P, P}, [&](int h) { return SDDiagIO(h, b, 8, b, 8, 1, 0, 1); }},
        {"SerDes block", 0x2532, 0x2031, {H, N, 0}, [&](int h) { return SDReadSerdesParams(h, b, 64); }},
        {"its size 0", 0x2532, 0x2031, {P, P, P}, [&](int h) { return SDReadSerdesParams(h, b, 0); }},
        {"no block", 0x2532, 0x2031, {P, P, P}, [&](int h) { return SDReadSerdesParams(h, nullptr, 64); }},
        {"trace", 0x2532, 0x8044, {H, N, 0}, [&](int h) { return SDGetTraceBuffer(h, buf.data(), &(n = 0x38000)); }},
        {"no buffer", 0x2532, 0x8044, {P, P, P}, [&](int h) { return SDGetTraceBuffer(h, nullptr, &(m = 0x30000)); }},
        {"no size", 0x2532, 0x8044, {P, P, P}, [&](int h) { return SDGetTraceBuffer(h, buf.data(), nullptr); }},
        {"trace size 0", 0x2532, 0x8044, {P, P, P}, [&](int h) { return SDGetTraceBuffer(h, buf.data(), &(m = 0)); }},
        {"0x2FFFF", 0x2532, 0x8044, {S, S, S}, [&](int h) { return SDGetTraceBuffer(h, buf.data(), &(m = 0x2FFFF)); }},
        {"register set", 0x2031, 0x2532, {H, N, 0}, [&](int h) { return SDSetFCSerDesRegister(h, 0, 7, 0x1234); }},
        {"register", 0x2031, 0x2532, {H, N, 0}, [&](int h) { return SDGetFCSerDesRegister(h, 0, 7, &w); }},
        {"no word", 0x2031, 0x2532, {P, P, P}, [&](int h) { return SDGetFCSerDesRegister(h, 0, 7, nullptr); }},
        {"ex set", 0x8044, 0x2031, {H, N, 0}, [&](int h) { return SDSetFCSerDesRegisterEx(h, 0, 0x10007, ~0u); }},
        {"register ex", 0x8044, 0x2031, {H, N, 0}, [&](int h) { return SDGetFCSerDesRegisterEx(h, 0, 0x10007, &l); }},
        {"no ex word", 0x8044, 0x2031, {P, P, P}, [&](int h) { return SDGetFCSerDesRegisterEx(h, 0, 1, nullptr); }},
        {"names, no LUN", 0x2532, 0x2031, {H, C, C}, [&](int h) { return SDSetLunUdevName(h, 0, 0, 0, names); }},
        {"no names", 0x2532, 0x2031, {H, P, P}, [&](int h) { return SDSetLunUdevName(h, 0, 0, 0, nullptr); }},
        {"none to delete", 0x2532, 0x2031, {H, P, P}, [&](int h) { return SDDeleteLunUdevName(h, 0, 0, 0, nullptr); }},
        {"no names room", 0x2532, 0x2031, {H, P, P}, [&](int h) { return SDGetLunUdevName(h, 0, 0, 0, nullptr); }},
        {"names read", 0x2532, 0x2031, {H, C, C}, [&](int h) { return SDGetLunUdevName(h, 0, 0, 0, names); }},
        {"ZoneWise on", 0x2532, 0x2031, {H, 0, 0}, [&](int h) { return SDEnableZoneWiseFC(h, 0); }},
        {"ZoneWise off", 0x2532, 0x2031, {H, 0, 0}, [&](int h) { return SDDisableZoneWiseFC(h, 0); }},
        {"ZoneWise status", 0x2532, 0x2031, {H, 0, 0}, [&](int h) { return SDGetZoneWiseStatusFC(h, 0, b); }},
        {"no status byte", 0x2532, 0x2031, {H, P, P}, [&](int h) { return SDGetZoneWiseStatusFC(h, 0, nullptr); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.call(99), r.status[0]);
        EXPECT_EQ(r.call(rig.handles.at(r.refused).first), r.status[1]);
        rig.driver.clear_log();
        EXPECT_EQ(r.call(rig.handles.at(r.accepted).first), r.status[2]);
        EXPECT_EQ(r.call(rig.handles.at(r.accepted).second), r.status[2]);  // none gates on the kind of port
        EXPECT_TRUE(r.status[2] == 0 || rig.driver.log().empty());       // refused before any request
    }
    EXPECT_EQ(std::pair(n, m), std::pair(0x38000u, 0x30000u));  // never more than the buffer; the size needed
    EXPECT_EQ(sim::bytes_of(&t, 4), apitest::slice(rig.canned, 0, 4));
    EXPECT_FALSE(apitest::touched(t.Reserved, 60));  // the driver's reserved words stay its own
    EXPECT_EQ(std::pair(w, l), (std::pair<SD_UINT16, SD_UINT32>(0x1234, ~0u)));
    EXPECT_EQ(rig.host.read_file(kConf), "options vxa2xxx vx2xzonewise=0\n");  // made by the first row, then edited
    sim::SimReply too_small = sim::SimReply::with_status(16);
    too_small.reported_len = 0x50000;  // the length the driver needs
    rig.driver.on(EXT_CC_FCE_TRACE, [&](const sim::SimRequest&) { return too_small; });
    EXPECT_EQ((std::pair{SDGetTraceBuffer(rig.handles.at(0x2532).first, buf.data(), &n), n}), (std::pair{S, 0x50000u}));
}

// udev re-reads its rules after a failed change; ZoneWise is recorded for the next load only when the running driver
// took it; on VMware neither changes (ZoneWise answers before the handle).
TEST(ApiDiag, HostConfiguration) {
    DiagRig rig;
    const int h = rig.handles.at(0x2532).first;
    char names[512] = "a";
    rig.host.write_file("/sbin/udevadm", "", 0755);
    EXPECT_EQ((std::pair{SDSetLunUdevName(h, 0, 0, 0, names), SDDeleteLunUdevName(h, 0, 0, 0, names)}),
              (std::pair{C, C}));
    EXPECT_EQ(rig.host.commands(), (std::vector<std::string>{"/sbin/udevadm trigger", "/sbin/udevadm trigger"}));

    const std::string zero("0\0\0\0", 4);
    SD_UINT8 on = 0xA5;
    std::remove(rig.host.map(kParam).c_str());  // no driver: nothing recorded for the next load
    EXPECT_EQ((std::pair{SDEnableZoneWiseFC(h, 0), SDGetZoneWiseStatusFC(h, 0, &on)}), (std::pair{N, N}));
    EXPECT_FALSE(rig.host.exists(kConf));
    rig.host.write_file(kParam, "257\n");
    EXPECT_EQ((std::pair{SDGetZoneWiseStatusFC(h, 0, &on), on}), (std::pair<SD_UINT32, SD_UINT8>{0, 1}));  // 8 bits
    rig.host.write_file(kConf, "");  // cannot be edited: only the running driver takes the change
    EXPECT_EQ(SDDisableZoneWiseFC(h, 0), C);
    EXPECT_EQ(rig.host.read_file(kParam) + rig.host.read_file(kConf), zero);
    const size_t commands = rig.host.commands().size();
    rig.host.set_uname("Linux", "2.6.18-ESX");
    EXPECT_EQ((std::pair{SDSetLunUdevName(h, 0, 0, 0, names), SDDeleteLunUdevName(h, 0, 0, 0, names)}),
              (std::pair{N, N}));
    EXPECT_EQ(SDGetLunUdevName(h, 0, 0, 0, names), C);  // read, not refused
    EXPECT_EQ(rig.host.commands().size(), commands);  // no trigger
    EXPECT_EQ((std::pair{SDEnableZoneWiseFC(99, 0), SDGetZoneWiseStatusFC(99, 0, nullptr)}), (std::pair{N, N}));
}

}  // namespace

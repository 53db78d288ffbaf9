// The frame every API function shares: handles, the trace convention, the version, the entry points that only
// answer "not supported", the status texts, the translation of the driver's status; and port events through
// the API (driver events, poll passes into this process's queue, SDGetAen).
#include <functional>
#include <string>

#include "api/vx_sdframe.h"
#include "api_rig.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;

TEST(ApiFrame, UnsupportedEntryPointsTouchNothing) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    rig.driver.clear_log();
    vx_debug = 0xFFFFFFFF;
    SD_UINT8 b[64];
    std::memset(b, 0xA5, sizeof b);
    const SD_UINT32 statuses[] = {
        SDSwapTargetDevice(h, nullptr, nullptr), SDGetPositionalMap(h, 0, nullptr, 100), SDSetMgmtAddress(h, nullptr),
        SDGetHbaDevicePortLunMask(h, 0, nullptr, 64, b, 1), SDUpdateHbaDevicePortLunMask(0, 0, nullptr, 0, nullptr, 0),
        SDGetMgmtAddress(h, b, sizeof b), SDGetDriverParameters(-1, 0, nullptr), SDGetFlash(h, 0, sizeof b, b),
        SDGetFirmWare(h, 0, 64, reinterpret_cast<SD_PINT8>(b)), SDGetFirmWareParameter(h, 0, 64, nullptr),
        SDResetStatistics(h, 0), SDMapScsiTargetToVolumes(0, nullptr, nullptr, 10), SDGetFirmwareCode(h, 0, b, 64),
        SDEnableDebugTrace(nullptr, nullptr, 0xFFFFFFFF), SDGetFirmwareParameters(h, 0, nullptr),
        SDMapVolumeToScsiTarget(nullptr, nullptr, nullptr), SDSendElsRnid(h, nullptr, 0xDF, b, sizeof b),
        SDGetHbaTargetLunMaskFC(h, 0, nullptr, 0, b, 64), SDUpdateHbaTargetLunMaskFC(99, 0, nullptr, 0, nullptr, 0),
    };
    for (size_t i = 0; i < std::size(statuses); ++i) EXPECT_EQ(statuses[i], SDERR_NOT_SUPPORTED) << i;
    EXPECT_TRUE(std::all_of(b, b + 64, [](SD_UINT8 x) { return x == 0xA5; }));
    EXPECT_TRUE(rig.driver.log().empty());
    EXPECT_EQ(rig.host.stderr_text(), "");
}

TEST(ApiFrame, VersionTextIsBoundedByTheCallersSize) {
    struct Case { SD_UINT32 size; const char* text; };
    for (const Case& c : {Case{64, "v6.04 build2"}, Case{13, "v6.04 build2"}, Case{12, "v6.04 build"}, Case{1, ""}}) {
        char buf[80];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(SDGetVersion(buf, c.size), 0x06040200u);
        EXPECT_STREQ(buf, c.text) << c.size;
        EXPECT_EQ(buf[c.size], 'x') << "byte past the caller's size written";
    }
    char untouched = 'x';
    EXPECT_EQ(SDGetVersion(&untouched, 0) + SDGetVersion(nullptr, 0), 2 * 0x06040200u);
    EXPECT_EQ(untouched, 'x');
}

// Handle-taking functions refuse a handle that names no open port before any request, leaving the caller's
// record alone and the OS device name empty; on an open port the name may be not found, and the state check
// follows the firmware query.
TEST(ApiFrame, BadHandlesAreRefusedBeforeAnyRequest) {
    ApiRig rig;
    DEVICEPORTPROPERTY none{};
    EXPECT_EQ(SDGetHbaDevicePortProperty(1, 0, &none), SDERR_INVALID_HANDLE);  // no port list at all
    const int h = rig.add_adapter(0x2532).handle, withdrawn = rig.add_adapter(0x2532).handle;
    rig.add_adapter(0x2532).rec->features = 0;  // handle 3: neither node open nor sysfs port
    check_handle(static_cast<uint32_t>(withdrawn))->apihandle = 0;  // handle 2's port was closed
    rig.driver.clear_log();
    char name[256];
    for (const int handle : {0, withdrawn, 3, 77, -1}) {
        auto node = apitest::filled<DEVICENODEPROPERTY>();
        EXPECT_EQ(SDGetHbaDeviceNodeProperty(handle, &node), SDERR_INVALID_HANDLE) << handle;
        EXPECT_FALSE(apitest::touched(&node, sizeof node));
        name[0] = 'x';
        EXPECT_EQ(vxa_get_os_device_name_by_handle(handle, 0, 0, name), SDERR_INVALID_HANDLE);
        EXPECT_EQ(name[0], '\0');
        EXPECT_EQ(SDVerifyHbaState(handle, 0), SDERR_FIRMWARE_STATE);
    }
    EXPECT_TRUE(rig.driver.log().empty());
    name[0] = 'x';
    EXPECT_EQ(vxa_get_os_device_name_by_handle(h, 0, 0, name), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(vxa_get_os_device_name_by_handle(h, 0, 0, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDVerifyHbaState(h, 0), SDERR_NO_ERROR);
    rig.driver.inject_status(9);
    EXPECT_EQ(SDVerifyHbaState(h, 0), SDERR_FIRMWARE_STATE);
    rig.driver.inject_errno(EIO);
    EXPECT_EQ(SDVerifyHbaState(h, 0), SDERR_FIRMWARE_STATE);
}

// The fixed order in which a worker's two results become the status.
TEST(ApiFrame, StatusOrder) {
    struct Case { int result; uint32_t ext; int err; VxSdAccept accept; bool done; SD_UINT32 status; };
    const Case cases[] = {
        {0, 0, 0, VxSdAccept::Clean, true, 0},
        {-1, 2, EIO, VxSdAccept::Clean, false, SDERR_DEVICE_BUSY},  // the driver's status first
        {-1, 0, EIO, VxSdAccept::Clean, false, EIO},
        {-1, 0, 0, VxSdAccept::Clean, false, SDERR_UNKNOWN},  // a failure without a reason is no success
        {2, 0, 0, VxSdAccept::Clean, false, SDERR_UNKNOWN},
        {0, 7, 0, VxSdAccept::Clean, false, SDERR_DATA_OVERRUN},
        {0, 7, 0, VxSdAccept::OverUnder, true, SDERR_DATA_OVERRUN},
        {0, 8, 0, VxSdAccept::OverUnder, true, SDERR_DATA_UNDERRUN},
        {-1, 8, EIO, VxSdAccept::OverUnder, false, EIO},
        {1, 8, 0, VxSdAccept::OverUnder, false, SDERR_UNKNOWN},
    };
    for (const Case& c : cases) {
        const VxSdOutcome out = vx_sd_outcome("f", 1, c.result, c.ext, c.err, c.accept);
        EXPECT_EQ(std::pair(out.done, out.status), std::pair(c.done, c.status)) << c.result << "/" << c.ext;
    }
}

// Entry and exit lines under 0x4 or 0x20, error lines under 0x2 or 0x20; the
// count of ports takes 0x40 in place of 0x20.
TEST(ApiFrame, TraceLinesFollowTheirMaskBits) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    struct Case { uint32_t mask; bool calls, errors, count_calls, count_errors; };
    for (const Case& c : {Case{0x4, true, false, true, false}, Case{0x20, true, true, false, false},
                          Case{0x2, false, true, false, true}, Case{0x40, false, false, true, true},
                          Case{0x100, false, false, false, false}}) {
        rig.host.clear_stderr();
        vx_debug = c.mask;
        DEVICEPORTPROPERTY port{};
        SDGetHbaDevicePortProperty(h, 0, &port);
        SDGetHbaDevicePortProperty(h + 40, 0, &port);
        EXPECT_EQ(SDGetNumberOfAdapters(), 0u);  // the rig's ports have no shared database
        vx_debug = 0;
        const std::string text = rig.host.stderr_text();
        const auto has = [&](const char* line) { return text.find(line) != std::string::npos; };
        EXPECT_EQ(has("SDGetHbaDevicePortProperty(1): entered."), c.calls) << c.mask;
        EXPECT_EQ(has("SDGetHbaDevicePortProperty(1): exiting. ret=0"), c.calls);
        EXPECT_EQ(has("SDGetHbaDevicePortProperty: check_handle failed. handle=41\n"), c.errors) << c.mask;
        EXPECT_EQ(has("SDGetNumberOfAdapters: entered."), c.count_calls) << c.mask;
        EXPECT_EQ(has("SDGetNumberOfAdapters: error in shared database setup."), c.count_errors) << c.mask;
    }
}

// A few texts, the fallbacks for codes without one (sharing one buffer), and the driver's status translated.
TEST(ApiStatus, TextsAndDriverStatusTranslation) {
    const std::pair<SD_UINT32, const char*> texts[] = {
        {0, "No error"}, {0x20000008, "(09h) No Additional Explanation"},
        {0x20000037, "No Response from Management Server/Fabricdoesn't support MS"},
        {0x20000049, "SCSI unknown status"}, {0x2000007e, "FirmaWare State is not valid"},
        {0x20000110, "Unknown Error 20000110h."}, {0x20000048, "Unknown Error 20000048h."},
        {0x20000078, "Unknown Error 20000078h."}, {0xFFFFFFFF, "Unknown Error ffffffffh."},
        {13, "System Error 13."}, {0x1FFFFFFF, "System Error 536870911."},
    };
    for (const auto& [code, text] : texts) EXPECT_STREQ(SDGetErrorString(code), text) << std::hex << code;
    SD_PINT8 first = SDGetErrorString(5);
    EXPECT_EQ(first, SDGetErrorString(0x20000200));
    EXPECT_STREQ(first, "Unknown Error 20000200h.");
    // ext, detail (for SCSI status 15 only its low byte counts), status
    const SD_UINT32 cases[][3] = {
        {0, 0, 0},           {1, 0, 0x20000075},  {2, 0, 0x20000067},  {14, 0, 0x20000037},  {16, 0, 0x20000072},
        {23, 0, 0x2000007b}, {33, 0, 0x20000110}, {34, 0, 0x20000066}, {0xFFFFFFFF, 0, 0x20000066},
        {15, 0x00, 0},       {15, 0x102, 0x20000040}, {15, 0x04, 0x20000041}, {15, 0x08, 0x20000042},
        {15, 0x10, 0x20000043}, {15, 0x14, 0x20000044}, {15, 0x18, 0x20000045}, {15, 0x22, 0x20000046},
        {15, 0x28, 0x20000047}, {15, 0x01, 0x20000049}, {15, 0xFF00, 0},
    };
    for (const auto& [ext, detail, status] : cases) {
        EXPECT_EQ(SDXlateSDMErr(ext, detail), status) << ext << "/" << detail;
    }
}

enum Mode { Enabled, NeverHere, DisabledBesideOther, NullArray, NullCount };
struct AenCase {  // port a's driver events, AEventBufSize, the EventCodes written, a's events still queued
    std::vector<uint32_t> driver; uint32_t room; std::vector<SD_UINT32> got; uint32_t left; SD_UINT32 status; Mode mode;
};

// Ports a and b (another host) on the ioctl road; b's two events always stay queued.
TEST(ApiAen, GetAenTakesThePortsEvents) {
    const std::vector<uint32_t> v = {0x8011, 0x8012, 0x8015, 0x8011, 0x8012};
    const AenCase cases[] = {{v, 48, {5, 2, 3}, 0, 0, Enabled}, {v, 15, {}, 0, 0, Enabled},
        {std::vector<uint32_t>(70, 0x8010), 1024, std::vector<SD_UINT32>(64, 1), 6, 0, Enabled},
        {{0x8010, 0x8013, 0x8014, 0x8060, 0xA000, 0x8080}, 1024, {1, 4, 6, 7, 0, 8}, 0, 0, Enabled},
        {v, 1024, {}, 5, SDERR_INVALID_REQUEST, NeverHere}, {v, 64, {}, 5, SDERR_INVALID_REQUEST, DisabledBesideOther},
        {v, 1024, {}, 5, SDERR_INVALID_PARAMETER, NullArray}, {v, 1024, {}, 5, SDERR_INVALID_PARAMETER, NullCount}};
    for (const AenCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        apitest::TokenRig r;
        apitest::RigPort &a = r.add_adapter(0x2532), &b = r.add_adapter(0x2532);
        for (uint32_t code : c.driver) a.sim->events.push_back(sim::make_event(code));
        b.sim->events = {sim::make_event(0x8012), sim::make_event(0x8015)};
        ASSERT_EQ(SDEnableAen(b.handle) | (c.mode == NeverHere ? 0 : SDEnableAen(a.handle)), 0u);
        a.rec->features |= VX_FEAT_AEN;  // NeverHere: collected for another process, then unmarked
        ASSERT_EQ(vxapi_event_poll_pass() + vxapi_event_poll_pass(), 0);
        a.rec->features &= c.mode == NeverHere ? ~VX_FEAT_AEN : ~0u;
        api_shared_data->libinst_flags[1] = c.mode == DisabledBesideOther ? VX_LIBINST_ACTIVE | VX_LIBINST_OWNED : 0;
        EXPECT_EQ(c.mode == DisabledBesideOther ? SDDisableAen(a.handle) : 0u, 0u);
        EXPECT_EQ(r.requests(EXT_CC_REG_AEN).size(), c.mode == NeverHere ? 1u : 2u) << "no deregistration";
        auto ev = apitest::filled<std::array<ASYNCEVENT, 65>>();
        SD_UINT32 count = 99, *out = c.mode == NullCount ? nullptr : &count;
        EXPECT_EQ(SDGetAen(a.handle, c.mode == NullArray ? nullptr : ev.data(), c.room, out), c.status);
        EXPECT_EQ(count, c.status == 0 ? c.got.size() : 99u);
        for (size_t i = 0; i < c.got.size(); ++i) EXPECT_EQ(ev[i].EventCode, c.got[i]) << i;
        EXPECT_FALSE(apitest::touched(&ev[c.got.size()], (65 - c.got.size()) * 16) || ev[0].Reserved[0] != 0xA5A5A5A5u);
        std::vector<uint32_t> left(2);
        for (const EXT_ASYNC_EVENT& e : api_shared_data->hbaptevq[0].eventbuf)
            if (e.AsyncEventCode != 0) ++left[e.Payload.RSCN.host_no == a.rec->host_no ? 0 : 1];
        EXPECT_EQ(left, (std::vector<uint32_t>{c.left, 2}));
    }
}

// A netlink sysfs port: the driver's event log read by a poll pass; deregistered as the only process.
TEST(ApiAen, NetlinkPortEndToEnd) {
    sysfstest::SysfsRig rig(0x2532);
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    int h = 0;
    ASSERT_EQ(SDOpenDevice(0, &h), 0u);
    shtest::stop_event_thread();
    EXPECT_EQ(SDEnableAen(h), 0u);
    rig.host.netlink().log_events(5, {{0x8012, {}}, {0x8015, {0x0102, 0x0304, 0}}, {0x8011, {}}});
    ASSERT_EQ(vxapi_event_poll_pass(), 0);
    ASYNCEVENT ev[2];  // room for the newest two
    SD_UINT32 count = 0;
    EXPECT_EQ(SDGetAen(h, ev, sizeof ev, &count), 0u);
    EXPECT_EQ(std::vector<SD_UINT32>({count, ev[0].EventCode, ev[1].EventCode}), std::vector<SD_UINT32>({2, 5, 2}));
    EXPECT_EQ(SDDisableAen(h) + SDGetAen(h, ev, sizeof ev, &count), SDERR_INVALID_REQUEST);
    EXPECT_EQ(SDCloseDevice(h), 0u);
}

}  // namespace

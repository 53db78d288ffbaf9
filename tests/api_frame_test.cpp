// The frame every API function shares: handles, the trace convention, the
// version, the entry points that only answer "not supported", the OS device
// name and the firmware state check.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "api/vx_sdframe.h"
#include "api_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;

TEST(ApiFrame, UnsupportedEntryPointsTouchNothing) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    rig.driver.clear_log();
    vx_debug = 0xFFFFFFFF;
    SD_UINT8 bytes[64];
    std::memset(bytes, 0xA5, sizeof bytes);
    const std::function<SD_UINT32()> calls[] = {
        [&] { return SDSwapTargetDevice(h, nullptr, nullptr); },
        [&] { return SDGetHbaDevicePortLunMask(h, 0, nullptr, 64, bytes, 1); },
        [&] { return SDUpdateHbaDevicePortLunMask(0, 0, nullptr, 0, nullptr, 0); },
        [&] { return SDGetPositionalMap(h, 0, nullptr, 100); },
        [&] { return SDSetMgmtAddress(h, nullptr); },
        [&] { return SDGetMgmtAddress(h, bytes, sizeof bytes); },
        [&] { return SDGetDriverParameters(-1, 0, nullptr); },
        [&] { return SDGetFirmWare(h, 0, 64, reinterpret_cast<SD_PINT8>(bytes)); },
        [&] { return SDGetFirmWareParameter(h, 0, 64, nullptr); },
        [&] { return SDGetFlash(h, 0, sizeof bytes, bytes); },
        [&] { return SDResetStatistics(h, 0); },
        [&] { return SDMapScsiTargetToVolumes(0, nullptr, nullptr, 10); },
        [&] { return SDEnableDebugTrace(nullptr, nullptr, 0xFFFFFFFF); },
        [&] { return SDGetFirmwareCode(h, 0, bytes, sizeof bytes); },
        [&] { return SDMapVolumeToScsiTarget(nullptr, nullptr, nullptr); },
        [&] { return SDGetFirmwareParameters(h, 0, nullptr); },
        [&] { return SDSendElsRnid(h, nullptr, 0xDF, bytes, sizeof bytes); },
        [&] { return SDGetHbaTargetLunMaskFC(h, 0, nullptr, 0, bytes, 64); },
        [&] { return SDUpdateHbaTargetLunMaskFC(99, 0, nullptr, 0, nullptr, 0); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), SDERR_NOT_SUPPORTED) << i;
    for (SD_UINT8 b : bytes) ASSERT_EQ(b, 0xA5);
    EXPECT_TRUE(rig.driver.log().empty());
    EXPECT_EQ(rig.host.stderr_text(), "");
}

TEST(ApiFrame, VersionTextIsBoundedByTheCallersSize) {
    EXPECT_EQ(SDGetVersion(nullptr, 0), 0x06040200u);
    struct Case { SD_UINT32 size; const char* text; };
    for (const Case& c : {Case{64, "v6.04 build2"}, Case{13, "v6.04 build2"}, Case{12, "v6.04 build"},
                          Case{1, ""}}) {
        char buf[80];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(SDGetVersion(buf, c.size), 0x06040200u);
        EXPECT_STREQ(buf, c.text) << c.size;
        EXPECT_EQ(buf[c.size], 'x') << "byte past the caller's size written";
    }
    char untouched = 'x';
    SDGetVersion(&untouched, 0);
    EXPECT_EQ(untouched, 'x');
}

// Every handle-taking function of the API refuses a handle that names no
// open port, without touching the caller's record or the driver.
TEST(ApiFrame, BadHandlesAreRefusedBeforeAnyRequest) {
    ApiRig rig;
    DEVICEPORTPROPERTY none{};
    EXPECT_EQ(SDGetHbaDevicePortProperty(1, 0, &none), SDERR_INVALID_HANDLE);  // no port list at all
    apitest::RigPort& port = rig.add_adapter(0x2532);
    const int withdrawn = rig.add_adapter(0x2532).handle;
    rig.add_adapter(0x2532).rec->features = 0;  // handle 3: neither node open nor sysfs port
    port.rec->apihandle = 1;
    // Handle 2's port was closed.
    check_handle(static_cast<uint32_t>(withdrawn))->apihandle = 0;
    rig.driver.clear_log();

    alignas(8) SD_UINT8 rec[8192];
    SD_UINT32 size = 128;
    const std::function<SD_UINT32(int)> calls[] = {
        [&](int h) { return SDGetHbaDeviceNodeProperty(h, reinterpret_cast<PDEVICENODEPROPERTY>(rec)); },
        [&](int h) { return SDGetHbaDevicePortProperty(h, 0, reinterpret_cast<PDEVICEPORTPROPERTY>(rec)); },
        [&](int h) { return SDGetDiscPortProperty(h, 0, 0, 0, reinterpret_cast<PDISCPORTPROPERTY>(rec)); },
        [&](int h) { return SDGetDiscTargetProperty(h, 0, 0, 0, reinterpret_cast<PDISCTARGETPROPERTY>(rec)); },
        [&](int h) { return SDGetHbaDeviceChipProperty(h, reinterpret_cast<PCHIPPROPERTY>(rec)); },
        [&](int h) { return SDGetHbaDeviceDriverProperty(h, reinterpret_cast<PDRIVERPROPERTY>(rec)); },
        [&](int h) { return SDGetHbaDeviceFirmwareProperty(h, reinterpret_cast<PFIRMWAREPROPERTY>(rec)); },
        [&](int h) { return SDGetPortDatabase(h, 0, reinterpret_cast<PDEVICEINFO>(rec), sizeof rec); },
        [&](int h) { return SDGetCnaPortData(h, 0, 1, rec, &size); },
        [&](int h) { return SDGetOptionRomLayout(h, 0, reinterpret_cast<PSDM_OPT_ROM_LAYOUT>(rec)); },
        [&](int h) { return SDGetOptionRom(h, 0, rec, 0x20000); },
        [&](int h) { return SDGetOptionRomOffset(h, 0, rec, sizeof rec, 0); },
        [&](int h) { return SDGetOptionRomEx(h, 0, rec, sizeof rec, 7); },
        [&](int h) {
            return vxa_get_os_device_name_by_handle(h, 0, 0, reinterpret_cast<SD_INT8*>(rec)) |
                   (rec[0] == 0 ? 0 : 0x1000);  // the name is left empty
        },
    };
    for (int handle : {0, withdrawn, 3, 77, -1}) {
        for (size_t i = 0; i < std::size(calls); ++i) {
            std::memset(rec, 0xA5, sizeof rec);
            EXPECT_EQ(calls[i](handle), SDERR_INVALID_HANDLE) << "call " << i << " handle " << handle;
            if (i + 1 < std::size(calls)) {
                EXPECT_EQ(rec[0], 0xA5) << "call " << i;
            }
        }
    }
    EXPECT_TRUE(rig.driver.log().empty());
    EXPECT_EQ(SDVerifyHbaState(77, 0), SDERR_FIRMWARE_STATE);
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
        EXPECT_EQ(out.done, c.done) << c.result << "/" << c.ext;
        EXPECT_EQ(out.status, c.status) << c.result << "/" << c.ext;
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

TEST(ApiFrame, OsDeviceNameIsEmptyWhenNotFound) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    char name[256];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(vxa_get_os_device_name_by_handle(h, 0, 0, name), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(vxa_get_os_device_name_by_handle(h, 0, 0, nullptr), SDERR_INVALID_PARAMETER);
}

TEST(ApiFrame, HbaStateFollowsTheFirmwareQuery) {
    ApiRig rig;
    const int h = rig.add_adapter(0x2532).handle;
    EXPECT_EQ(SDVerifyHbaState(h, 0), SDERR_NO_ERROR);
    rig.driver.inject_status(9);
    EXPECT_EQ(SDVerifyHbaState(h, 0), SDERR_FIRMWARE_STATE);
    rig.driver.inject_errno(EIO);
    EXPECT_EQ(SDVerifyHbaState(h, 0), SDERR_FIRMWARE_STATE);
}

}  // namespace

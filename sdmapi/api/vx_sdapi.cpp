// The library's version, the operating-system device name of a LUN, the
// firmware state check, and the entry points that only answer "not
// supported".
#include <algorithm>
#include <cstring>

#include "api/vx_sdframe.h"
#include "core/vx_vpd_fields.h"
#include "vxsdm.h"

namespace {

constexpr char kVersionText[] = "v6.04 build2";
static_assert(sizeof kVersionText == 13);
constexpr SD_UINT32 kVersionNumber = 0x06040200;

}  // namespace

SD_UINT32 SDGetVersion(SD_PINT8 pVersion, SD_UINT32 VersionSize) {
    vxdbg_line(VX_SD_TRACE, "SDGetVersion: entered.");
    // The text never passes the caller's buffer and is always terminated.
    if (pVersion != nullptr && VersionSize != 0) {
        const size_t n = std::min<size_t>(sizeof kVersionText - 1, VersionSize - 1);
        std::memcpy(pVersion, kVersionText, n);
        pVersion[n] = '\0';
    }
    vxdbg_line(VX_SD_TRACE, "SDGetVersion: exiting. version=", kVersionNumber, VXDBG_HEX);
    return kVersionNumber;
}

SD_UINT32 vxa_get_os_device_name_by_handle(int Device, SD_UINT16 tgtid, SD_UINT16 lunid, SD_INT8* devname) {
    if (devname == nullptr) return SDERR_INVALID_PARAMETER;
    devname[0] = '\0';
    VxSdCall call("vxa_get_os_device_name_by_handle", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (vxapi_get_tgt_osdevname(rec, devname, tgtid, lunid) != 0) {
        // A failed lookup leaves no partial name behind.
        devname[0] = '\0';
        vx_sd_line(VX_SD_TRACE, call.name(), Device, "): device not found.");
        return call.done(SDERR_DEVICE_NOT_FOUND);
    }
    return call.done(SDERR_NO_ERROR);
}

SD_UINT32 SDVerifyHbaState(int Device, SD_UINT16 HbaDevPortNum) {
    (void)HbaDevPortNum;
    VxSdCall call("SDVerifyHbaState", Device, "SDSetVerifyHbaState entered.", "SDVerifyHbaState exiting. ret=");
    FIRMWAREPROPERTY firmware{};
    if (SDGetHbaDeviceFirmwareProperty(Device, &firmware) != SDERR_NO_ERROR) return call.done(SDERR_FIRMWARE_STATE);
    return call.done(SDERR_NO_ERROR);
}

// ---- entry points that exist only to answer "not supported" ----

SD_UINT32 SDSwapTargetDevice(int, PDEVICEINFOENTRY, PDEVICEINFOENTRY) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetHbaDevicePortLunMask(int, SD_UINT16, PTARGETINFORMATION, SD_UINT32, SD_UINT8*, SD_UINT32) {
    return SDERR_NOT_SUPPORTED;
}

SD_UINT32 SDUpdateHbaDevicePortLunMask(int, SD_UINT16, PTARGETINFORMATION, SD_UINT32, SD_UINT8*, SD_UINT32) {
    return SDERR_NOT_SUPPORTED;
}

SD_UINT32 SDGetPositionalMap(int, SD_UINT16, SD_PINT8, SD_UINT32) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDSetMgmtAddress(int, PMANAGEMENTADDRESS) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetMgmtAddress(int, SD_PVOID, SD_UINT32) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetDriverParameters(int, SD_UINT16, PDRIVERNVRAMPARAMS) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetFirmWare(int, SD_UINT16, SD_UINT32, SD_PINT8) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetFirmWareParameter(int, SD_UINT16, SD_UINT32, SD_UINT8*) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetFlash(int, SD_UINT16, SD_UINT32, SD_UINT8*) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDResetStatistics(int, SD_UINT16) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDMapScsiTargetToVolumes(SD_UINT16, PTARGETINFORMATION, SD_PINT8, SD_UINT32) {
    return SDERR_NOT_SUPPORTED;
}

SD_UINT32 SDEnableDebugTrace(int*, SD_PINT8, SD_UINT32) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetFirmwareCode(int, SD_UINT16, SD_PUINT8, SD_UINT32) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDMapVolumeToScsiTarget(SD_PINT8, SD_PUINT16, PTARGETINFORMATION) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetFirmwareParameters(int, SD_UINT16, PFIRMWARENVRAMPARAMS) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDSendElsRnid(int, PFABRICADDRESS, SD_UINT16, SD_PVOID, SD_UINT32) { return SDERR_NOT_SUPPORTED; }

SD_UINT32 SDGetHbaTargetLunMaskFC(int, SD_UINT16, PDESTINATIONADDRESS, SD_UINT32, SD_PUINT8, SD_UINT32) {
    return SDERR_NOT_SUPPORTED;
}

SD_UINT32 SDUpdateHbaTargetLunMaskFC(int, SD_UINT16, PDESTINATIONADDRESS, SD_UINT32, SD_PUINT8, SD_UINT32) {
    return SDERR_NOT_SUPPORTED;
}

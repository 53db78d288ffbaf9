// The library's version, the count of ports, the open and close of a port
// (the first open starts the library, the last close stops it), the
// operating-system device name of a LUN, the firmware state check, and the
// entry points that only answer "not supported".
#include <algorithm>
#include <cstring>

#include "api/vx_sdframe.h"
#include "base/vx_vpd_fields.h"
#include "core/io/vx_passthru.h"
#include "core/life/vx_fork.h"
#include "core/life/vx_load.h"
#include "core/life/vx_shared.h"
#include "vxsdm.h"

namespace {

constexpr SD_UINT32 kVersionNumber = 0x06040200;

// The count of ports traces its entry, exit and shared-database lines under
// its own bit instead of the API layer's.
constexpr uint32_t kCountTrace = VXDBG_STEP | VXDBG_ELS;
constexpr uint32_t kCountError = VXDBG_ERROR | VXDBG_ELS;

// Whether the shared data file, its semaphore and its mapping are all there.
bool shared_database_ready() {
    return api_dbupdate_sem_id != -1 && api_shm_fildes >= 0 && api_shared_data != nullptr;
}

// "<name> inst <instance><text>", under the bits.
void instance_line(uint32_t bits, const char* name, SD_UINT32 instance, const char* text, uint64_t number = 0,
                   uint8_t base = VXDBG_NONE) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(" inst ", instance, VXDBG_DEC, 0);
    vxdbg_print(text, number, base, 1);
}

}  // namespace

SD_UINT32 SDGetVersion(SD_PINT8 pVersion, SD_UINT32 VersionSize) {
    // It traces without the lock of the public API.
    vxapi_install_fork_handlers();
    vxdbg_line(VX_SD_TRACE, "SDGetVersion: entered.");
    // The text never passes the caller's buffer and is always terminated.
    if (pVersion != nullptr && VersionSize != 0) {
        const size_t n = std::min<size_t>(std::strlen(VX_API_VERSION_TEXT), VersionSize - 1);
        std::memcpy(pVersion, VX_API_VERSION_TEXT, n);
        pVersion[n] = '\0';
    }
    vxdbg_line(VX_SD_TRACE, "SDGetVersion: exiting. version=", kVersionNumber, VXDBG_HEX);
    return kVersionNumber;
}

SD_UINT32 SDGetNumberOfAdapters(void) {
    VxApiLock api_lock;
    vxdbg_line(kCountTrace, "SDGetNumberOfAdapters: entered.");
    if (api_priv_database == nullptr) {
        const int loaded = vxapi_load_lib();
        if (loaded != 0 || api_priv_database == nullptr) {
            vxdbg_line(VX_SD_ERROR, "SDGetNumberOfAdapters: load lib failed. stat=", static_cast<uint32_t>(loaded),
                       VXDBG_INT);
            return 0;
        }
    }
    if (api_use_database != 0 && !shared_database_ready()) {
        vxdbg_line(kCountError, "SDGetNumberOfAdapters: error in shared database setup. Exiting.");
        return 0;
    }
    SD_UINT32 count = 0;
    {
        VxListLock lock(vxapi_list_mutex());
        if (api_priv_database != nullptr) {
            dlist_start(api_priv_database);
            while (dlist_next(api_priv_database) != nullptr) ++count;
        }
    }
    vxdbg_line(kCountTrace, "SDGetNumberOfAdapters: exiting. cnt=", count, VXDBG_DEC);
    return count;
}

SD_UINT32 SDOpenDevice(SD_UINT32 Instance, int* Device) {
    VxApiLock api_lock;
    static constexpr const char* kName = "SDOpenDevice";
    vxapi_set_debug_level();
    vx_sd_line(VX_SD_TRACE, kName, static_cast<int>(Instance), "): entered.");
    // The handle has nowhere to go: nothing is started or opened.
    if (Device == nullptr) {
        vx_sd_line(VX_SD_ERROR, kName, static_cast<int>(Instance), "): no handle pointer.");
        return SDERR_INVALID_PARAMETER;
    }
    int loaded = 0;
    if (api_priv_database == nullptr) loaded = vxapi_load_lib();
    if (loaded == 0 && api_priv_database == nullptr) {
        vx_sd_line(VX_SD_ERROR, kName, static_cast<int>(Instance), "): no adapters found.");
        return SDERR_DEVICE_NOT_FOUND;
    }
    if (loaded != 0) {
        vx_sd_line(VX_SD_ERROR, kName, static_cast<int>(Instance), "): load failed. stat=",
                   static_cast<uint32_t>(loaded), VXDBG_INT);
        return SDERR_UNKNOWN;
    }
    if (api_use_database == 0) {
        vxdbg_line(VX_SD_ERROR, "SDOpenDevice: shm not used.");
        return SDERR_NOT_SUPPORTED;
    }
    vxdbg_line(VX_SD_TRACE, "SDOpenDevice: using database. checking handles.");
    if (!shared_database_ready()) {
        instance_line(VX_SD_ERROR, kName, Instance, ": Shared mem setup error.");
        return SDERR_OUT_OF_MEMORY;
    }
    vxapi_priv_database* rec = vxapi_get_api_priv_inst_from_user_instance(Instance);
    if (rec == nullptr) {
        vx_sd_line(VX_SD_TRACE, kName, static_cast<int>(Instance), "): api_priv_data_inst not found, exiting");
        return SDERR_DEVICE_NOT_FOUND;
    }
    int handle = 0;
    uint32_t os_error = 0;
    if (vxapi_open_adapter(rec, &handle, &os_error) != 0) {
        instance_line(VX_SD_ERROR, kName, Instance, ": open failed.");
        return os_error != 0 ? os_error : SDERR_UNKNOWN;
    }
    *Device = handle;
    instance_line(VX_SD_TRACE, kName, Instance, ": exiting. Return Handle =", static_cast<uint32_t>(handle),
                  VXDBG_INT);
    return SDERR_NO_ERROR;
}

SD_UINT32 SDCloseDevice(int Device) {
    VxSdCall call("SDCloseDevice", Device);
    if (api_use_database == 0) {
        vxdbg_line(VX_SD_ERROR, "SDCloseDevice: shm not used.");
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (vxapi_get_open_adapter_count() == 0) {
        vxdbg_line(VX_SD_TRACE, "SDCloseDevice: already closed");
        return call.done(SDERR_NO_ERROR);
    }
    int shared_fd = -1;
    if (vxapi_open_database(&shared_fd) != 0) {
        vxdbg_line(VX_SD_ERROR, "vxapi_open_database failed ");
        return call.done(SDERR_INVALID_HANDLE);
    }
    if (!shared_database_ready()) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): database error.");
        return call.done(SDERR_INVALID_HANDLE);
    }
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();

    SD_UINT32 status = SDERR_NO_ERROR;
    uint32_t os_error = 0;
    if (vxapi_close_adapter(rec, &os_error) != 0) status = os_error != 0 ? os_error : SDERR_UNKNOWN;
    // A port whose close failed still counts as open, and keeps the library.
    if (vxapi_get_open_adapter_count() == 0) {
        vx_sd_line(VX_SD_TRACE, call.name(), Device, "): no other hbas opened. unload lib.");
        (void)vxapi_unload_lib();  // always 0: the close's status is the call's
    }
    return call.done(status);
}

SD_UINT32 vxa_get_os_device_name_by_handle(int Device, SD_UINT16 tgtid, SD_UINT16 lunid, SD_INT8* devname) {
    VxApiLock api_lock;
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

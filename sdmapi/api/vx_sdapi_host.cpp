// Settings that live in the host's configuration rather than in the adapter:
// persistent LUN names (udev rules) and the driver module's ZoneWise
// parameter.
//
// Their workers report only done or not done; every failure to read or
// write a configuration file is SDERR_CONFIG_FILE. Changes to the host's
// configuration are refused on VMware hosts.
#include "api/vx_sdframe.h"
#include "base/vx_env.h"
#include "base/vx_modparam.h"
#include "core/io/vx_udev.h"

namespace {

// ---- LUN names ----

using UdevWorker = int32_t (*)(int, vxapi_priv_database*, uint16_t, uint16_t, uint16_t, const char*);

// A change of the LUN's names; udev is told to re-read its rules after every
// attempt, failed or not.
SD_UINT32 change_lun_names(const char* name, int device, uint16_t port_num, uint16_t target, uint16_t lun,
                           const char* names, UdevWorker worker) {
    VxSdCall call(name, device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(names)) return call.status();
    if (vxapi_check_correct_os() != 0) {
        vx_sd_line(VX_SD_ERROR, name, device, "): not supported on this OS.");
        return call.done(SDERR_NOT_SUPPORTED);
    }
    const int32_t result = worker(rec->oshandle, rec, port_num, target, lun, names);
    if (result != 0) vx_sd_line(VX_SD_ERROR, name, device, "): udev rules not changed.");
    // udev re-reads its rules whether or not they changed; the command's own
    // status is not the call's.
    (void)vxapi_udevtrigger();
    return call.done(result == 0 ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
}

// ---- ZoneWise ----

constexpr const char* kZoneWiseParam = "vx2xzonewise";

// The operating-system check, which comes before the handle here, then the
// handle: the port, or null with the call's status set.
vxapi_priv_database* zonewise_port(VxSdCall& call) {
    if (vxapi_check_correct_os() != 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): not supported on this OS.");
        call.done(SDERR_NOT_SUPPORTED);
        return nullptr;
    }
    return call.port();
}

// Sets the parameter in the running driver and then for its next load; a
// driver that did not take it leaves the configuration file alone.
SD_UINT32 set_zonewise(const char* name, int device, uint32_t value) {
    VxSdCall call(name, device);
    if (zonewise_port(call) == nullptr) return call.status();
    uint32_t ext = 0;
    vxapi_set_driver_module_param(kZoneWiseParam, value, &ext);
    if (ext != 0) {
        vx_sd_line(VX_SD_ERROR, name, device, "): module parameter not set. ext status=", ext, VXDBG_DEC);
        return call.done(SDXlateSDMErr(ext, 0));
    }
    vxapi_set_driver_module_param_conf(kZoneWiseParam, value, &ext);
    if (ext != 0) {
        vx_sd_line(VX_SD_ERROR, name, device, "): configuration file not changed. ext status=", ext, VXDBG_DEC);
        return call.done(SDERR_CONFIG_FILE);
    }
    return call.done(SDERR_NO_ERROR);
}

}  // namespace

SD_UINT32 SDSetLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                           SD_PINT8 pUdevName) {
    return change_lun_names("SDSetLunUdevName", Device, HbaDevPortNum, TargetId, LunId, pUdevName,
                            vxapi_set_lun_udev_name);
}

SD_UINT32 SDDeleteLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                              SD_PINT8 pUdevName) {
    return change_lun_names("SDDeleteLunUdevName", Device, HbaDevPortNum, TargetId, LunId, pUdevName,
                            vxapi_delete_lun_udev_name);
}

SD_UINT32 SDGetLunUdevName(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 TargetId, SD_UINT16 LunId,
                           SD_PINT8 pUdevName) {
    VxSdCall call("SDGetLunUdevName", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pUdevName)) return call.status();
    if (vxapi_get_lun_udev_name(rec->oshandle, rec, HbaDevPortNum, TargetId, LunId, pUdevName) != 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): udev rules not read.");
        return call.done(SDERR_CONFIG_FILE);
    }
    return call.done(SDERR_NO_ERROR);
}

SD_UINT32 SDEnableZoneWiseFC(int Device, SD_UINT16 HbaDevPortNum) {
    (void)HbaDevPortNum;
    return set_zonewise("SDEnableZoneWiseFC", Device, 1);
}

SD_UINT32 SDDisableZoneWiseFC(int Device, SD_UINT16 HbaDevPortNum) {
    (void)HbaDevPortNum;
    return set_zonewise("SDDisableZoneWiseFC", Device, 0);
}

SD_UINT32 SDGetZoneWiseStatusFC(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pZoneWiseStatus) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetZoneWiseStatusFC", Device);
    if (zonewise_port(call) == nullptr || !call.given(pZoneWiseStatus)) return call.status();
    uint32_t ext = 0;
    uint32_t value = 0;
    vxapi_get_driver_module_param(kZoneWiseParam, &value, &ext);
    if (ext != 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): module parameter not read. ext status=", ext, VXDBG_DEC);
        return call.done(SDXlateSDMErr(ext, 0));
    }
    *pZoneWiseStatus = static_cast<SD_UINT8>(value & 0xFF);
    return call.done(SDERR_NO_ERROR);
}

// Online flash updates of the chips with two image sets: the flash update
// capabilities exchanged with the adapter, the flash update token that one
// process holds while it writes an adapter, and the activation of the
// written firmware.
//
// The token lives in the shared data file, names the adapter by its serial
// number and the owner by its process id, and runs out 900 seconds after it
// was taken. While another process holds a live token for an adapter, no
// write of this process reaches that adapter, and this process cannot end
// that token unless its owner no longer runs.
#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "core/flash/vx_fut.h"
#include "core/flash/vx_regions.h"
#include "platform/vx_platform.h"

namespace {

constexpr uint32_t kRegionFirmware = 0x01;
// Bits 17-18 of a region word: the region is to be activated after a write.
constexpr uint32_t kActivateBits = 0x6;

// The gates of the five functions: a chip with two image sets, a physical port.
vxapi_priv_database* gated_port(VxSdCall& call) {
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.chip_gate(rec, VX_CHIP_FLASH_TOKEN)) return nullptr;
    if (rec->interface_type != VX_PORT_PHYSICAL) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): not supported for vport.");
        call.done(SDERR_NOT_SUPPORTED);
        return nullptr;
    }
    return rec;
}

}  // namespace

bool vx_sd_no_foreign_token(VxSdCall& call, vxapi_priv_database* rec) {
    const int32_t owner = vxapi_get_fut_owner(rec);
    if (owner == 0 || owner == vx::sys().getpid()) return true;
    vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): flash update token held by process ",
               static_cast<uint32_t>(owner), VXDBG_DEC);
    call.done(SDERR_FUT_NOT_SET);
    return false;
}

bool vx_sd_holds_token(vxapi_priv_database* rec) {
    const int32_t owner = vxapi_get_fut_owner(rec);
    return owner != 0 && owner == vx::sys().getpid();
}

SD_UINT32 SDGetFlashUpdateCapabilities(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT64 pCapabilities) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetFlashUpdateCapabilities", Device);
    if (!call.given(pCapabilities)) return call.status();
    vxapi_priv_database* rec = gated_port(call);
    if (rec == nullptr) return call.status();
    vxa_flash_update_caps caps{};
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_flash_update_capabilities(rec->oshandle, rec, &caps, ext, VX_FUCAPS_READ); },
        [&] { *pCapabilities = caps.capabilities; });
}

SD_UINT32 SDSendFlashUpdateCapabilities(int Device, SD_UINT16 HbaDevPortNum, SD_UINT64 Capabilities,
                                        SD_UINT32 OutageDuration) {
    (void)HbaDevPortNum;
    VxSdCall call("SDSendFlashUpdateCapabilities", Device);
    vxapi_priv_database* rec = gated_port(call);
    if (rec == nullptr) return call.status();
    vxa_flash_update_caps caps{};
    caps.capabilities = Capabilities;
    caps.outage_duration = OutageDuration;
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_flash_update_capabilities(rec->oshandle, rec, &caps, ext, VX_FUCAPS_SEND); },
        [] {});
}

SD_UINT32 SDStartFlashUpdate(int Device, SD_UINT16 HbaDevPortNum, SD_PINT32 pToken) {
    (void)HbaDevPortNum;
    VxSdCall call("SDStartFlashUpdate", Device);
    if (!call.given(pToken)) return call.status();
    vxapi_priv_database* rec = gated_port(call);
    if (rec == nullptr) return call.status();
    if (vxapi_is_fut_exist(rec) == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): flash update token exists.");
        return call.done(SDERR_FUT_EXISTS);
    }
    uint32_t token = 0;
    if (vxapi_get_fut(rec, &token) != 0) {
        // Another process may have taken the adapter's token in between.
        return call.done(vxapi_is_fut_exist(rec) == 0 ? SDERR_FUT_EXISTS : SDERR_UNKNOWN);
    }
    *pToken = static_cast<SD_INT32>(token);
    return call.done(SDERR_NO_ERROR);
}

SD_UINT32 SDEndFlashUpdate(int Device, SD_UINT16 HbaDevPortNum, SD_INT32 Token) {
    (void)HbaDevPortNum;
    VxSdCall call("SDEndFlashUpdate", Device);
    vxapi_priv_database* rec = gated_port(call);
    if (rec == nullptr) return call.status();
    const auto token = static_cast<uint32_t>(Token);
    if (vxapi_is_fut_expired(rec, token) == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): flash update token expired.");
        return call.done(SDERR_FUT_EXPIRED);
    }
    SD_UINT32 status = SDERR_NO_ERROR;
    if (vxapi_clear_fut(rec, token) != 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): no flash update token ", token, VXDBG_DEC);
        status = SDERR_UNKNOWN;
    }
    // The written image sets change the layout and the active set.
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, 0, nullptr); refreshed != SDERR_NO_ERROR) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): layout refresh failed. ret=", refreshed, VXDBG_HEX);
    }
    vxapi_get_active_image_set(rec->oshandle, rec);
    return call.done(status);
}

SD_UINT32 SDOnlineActivateFlashUpdate(int Device, SD_UINT16 HbaDevPortNum) {
    (void)HbaDevPortNum;
    VxSdCall call("SDOnlineActivateFlashUpdate", Device);
    vxapi_priv_database* rec = gated_port(call);
    if (rec == nullptr) return call.status();
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, 0, nullptr); refreshed != SDERR_NO_ERROR) {
        return call.done(refreshed);
    }
    const INT_OPT_ROM_REGION* entry = vx_sd_layout_entry(kRegionFirmware);
    if (entry == nullptr || ((entry->Region >> 16) & kActivateBits) == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): firmware region not to be activated.");
        return call.done(SDERR_INVALID_PARAMETER);
    }
    return call.done(vxapi_reset_region(Device, rec, kRegionFirmware));
}

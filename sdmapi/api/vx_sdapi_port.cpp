// Parts of a port beside its link: the transceiver's pages and any device on
// the port's i2c bus, the NPIV virtual ports of a sysfs-mode physical port, a
// remote port's link speed, and the Tarno controller (with the MAC statistics
// of the converged chips).
#include <cstring>

#include "api/vx_sdframe.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "base/vx_port_speed.h"
#include "core/flash/vx_regions.h"
#include "core/io/vx_side.h"
#include "transport/vx_sysfs_mgmt.h"

namespace {

// ---- transceiver and i2c ----

constexpr uint32_t kSfpBytes = sizeof(SD_SFP_DATA);
static_assert(kSfpBytes == VX_SFP_BYTES);
// An i2c device spans 16-bit offsets.
constexpr uint32_t kI2cSpace = 0x10000;

using I2cWorker = int32_t (*)(int, vxapi_priv_database*, uint16_t, uint16_t, uint16_t, uint16_t, uint8_t*,
                              uint32_t*);

// One i2c transfer; a read's bytes are dumped to the trace after the
// request, whatever it gave. The driver takes 16-bit lengths and offsets: a
// transfer that does not fit them would move fewer bytes (none for 65,536)
// or wrap to the device's first bytes, and still succeed, so it is refused.
SD_UINT32 i2c_transfer(VxSdCall& call, I2cWorker worker, SD_UINT16 DevAddr, SD_PUINT8 pBuffer,
                       SD_UINT32 BufferSize, SD_UINT16 DataAddr, SD_UINT16 Options, const char* dump_title) {
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pBuffer)) return call.status();
    if (BufferSize >= kI2cSpace || DataAddr + BufferSize > kI2cSpace) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): transfer passes the device's end. BufferSize=",
                   BufferSize, VXDBG_DEC);
        return call.done(SDERR_INVALID_PARAMETER);
    }
    const auto length = static_cast<uint16_t>(BufferSize);
    const SD_UINT32 status = call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return worker(rec->oshandle, rec, DevAddr, DataAddr, Options, length, pBuffer, ext); },
        [] {});
    if (dump_title != nullptr && vxdbg_on(VX_SD_TRACE)) vxdbg_dump(dump_title, pBuffer, 8, BufferSize);
    return status;
}

// ---- virtual ports ----

// The gates of the vport functions: a sysfs-mode physical port of a chip
// with vports. Null with the status set otherwise.
vxapi_priv_database* vport_parent(VxSdCall& call) {
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return nullptr;
    if (!vxapi_is_sysfs_port(rec) || vx_chip_has(vxapi_device_id(rec), VX_CHIP_NO_VPORTS)) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): vports not supported.");
        call.done(SDERR_NOT_SUPPORTED);
        return nullptr;
    }
    return call.physical_only(rec) ? rec : nullptr;
}

// The vport of the physical port with that id, or null with
// SDERR_DEVICE_NOT_FOUND.
vxapi_priv_database* vport_of(VxSdCall& call, const vxapi_priv_database* phys, SD_UINT32 vp_id) {
    vxapi_priv_database* vport = vxapi_get_vport_from_vport_id(phys, vp_id);
    if (vport == nullptr) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): no vport with id ", vp_id, VXDBG_DEC);
        call.done(SDERR_DEVICE_NOT_FOUND);
    }
    return vport;
}

// ---- link speed ----

// Whether the value is one of the speed codes (1, 2, 4, 8, 16, 22, 50).
bool is_speed(uint32_t speed) {
    uint16_t code = 0;
    return speed <= UINT16_MAX && vxapi_port_speed_to_code(static_cast<uint16_t>(speed), &code);
}

// The checks of both functions and the request to the remote port: null
// (status set) when the chip or the address is refused.
vxapi_priv_database* speed_request(VxSdCall& call, PDESTINATIONADDRESS pTargetAddr, uint16_t mode,
                                   INT_PORT_PARAM* param) {
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.chip_gate(rec, VX_CHIP_IIDMA) || !call.given(pTargetAddr)) return nullptr;
    if (pTargetAddr->AddressType != VX_DEST_WWPN) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): Unsupported WW Address Type=",
                   pTargetAddr->AddressType, VXDBG_DEC);
        call.done(SDERR_INVALID_PARAMETER);
        return nullptr;
    }
    *param = INT_PORT_PARAM{};
    std::memcpy(param->FCScsiAddr.DestAddr.WWPN, pTargetAddr->AddressUsing.PortWWN, 8);
    param->FCScsiAddr.DestType = VX_DEST_WWPN;
    param->Mode = mode;
    return rec;
}

// ---- Tarno ----

constexpr uint32_t kXgmacStatsBytes = 4096;

// Whether the MAC statistics of a converged port were read from its
// attribute file (sysfs-mode ports only); if not, the controller is asked.
bool xgmac_stats_read(VxSdCall& call, vxapi_priv_database* rec, SD_PUINT8 data) {
    if (!vxapi_is_sysfs_port(rec)) return false;
    uint32_t ext = 0;
    if (vxsysfs_get_xgmac_stats(rec->oshandle, rec, data, kXgmacStatsBytes, &ext) == 0 && ext == 0) return true;
    vx_sd_line(VX_SD_INFO, call.name(), call.device(), "): MAC statistics not read. ext status=", ext, VXDBG_DEC);
    return false;
}

}  // namespace

SD_UINT32 SDGetSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetSFPData", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.buffer_holds(BufferSize, kSfpBytes) || !call.given(pBuffer)) return call.status();
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_getSFPbuffer(rec->oshandle, rec, pBuffer, BufferSize, ext); }, [] {});
}

SD_UINT32 SDReadSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 DevAddr, SD_PUINT8 pBuffer,
                        SD_UINT32 BufferSize, SD_UINT16 DataAddr, SD_UINT16 Options, SD_PUINT16 pExitParam) {
    (void)HbaDevPortNum;
    (void)pExitParam;
    VxSdCall call("SDReadSFPData", Device);
    return i2c_transfer(call, vxapi_get_i2c_buffer, DevAddr, pBuffer, BufferSize, DataAddr, Options,
                        "SDReadSFPData: DUMP data:");
}

SD_UINT32 SDWriteSFPData(int Device, SD_UINT16 HbaDevPortNum, SD_UINT16 DevAddr, SD_PUINT8 pBuffer,
                         SD_UINT32 BufferSize, SD_UINT16 DataAddr, SD_UINT16 Options, SD_PUINT16 pExitParam) {
    (void)HbaDevPortNum;
    (void)pExitParam;
    VxSdCall call("SDWriteSFPData", Device);
    return i2c_transfer(call, vxapi_set_i2c_buffer, DevAddr, pBuffer, BufferSize, DataAddr, Options, nullptr);
}

SD_UINT32 SDCreateVport(int Device, SD_PUINT8 vp_wwnn, SD_PUINT8 vp_wwpn, SD_UINT32 options,
                        SD_PUINT32 vport_handle) {
    VxSdCall call("SDCreateVport", Device);
    if (!call.given(vp_wwnn) || !call.given(vp_wwpn) || !call.given(vport_handle)) return call.status();
    vxapi_priv_database* rec = vport_parent(call);
    if (rec == nullptr) return call.status();
    EXT_VPORT_PARAMS params{};
    params.options = options;
    std::memcpy(params.wwpn, vp_wwpn, sizeof params.wwpn);
    std::memcpy(params.wwnn, vp_wwnn, sizeof params.wwnn);
    const SD_UINT32 status = call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_create_vport(rec->oshandle, rec, &params, ext); },
        [] {});
    // The id the driver gave, also when a later step failed.
    *vport_handle = params.vp_id;
    return status;
}

SD_UINT32 SDDeleteVport(int Device, SD_UINT32 vp_id) {
    VxSdCall call("SDDeleteVport", Device);
    vxapi_priv_database* rec = vport_parent(call);
    const vxapi_priv_database* vport = rec != nullptr ? vport_of(call, rec, vp_id) : nullptr;
    if (vport == nullptr) return call.status();
    EXT_VPORT_PARAMS params{};
    params.vp_id = vp_id;
    std::memcpy(params.wwpn, vport->wwpn, sizeof params.wwpn);
    std::memcpy(params.wwnn, vport->wwnn, sizeof params.wwnn);
    // Through the physical port: the vport's record goes with it.
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_delete_vport(rec->oshandle, rec, &params, ext); },
        [] {});
}

SD_UINT32 SDVportGetinfo(int Device, SD_UINT32 vp_id, PVPORT_INFO vport_info) {
    VxSdCall call("SDVportGetinfo", Device);
    vxapi_priv_database* rec = vport_parent(call);
    if (rec == nullptr || !call.given(vport_info)) return call.status();
    vxapi_priv_database* vport = vport_of(call, rec, vp_id);
    if (vport == nullptr) return call.status();
    EXT_VPORT_INFO info{};
    return call.run(
        VxSdAccept::Clean, [&](uint32_t* ext) { return vxapi_get_vport_info(vport->oshandle, vport, &info, ext); },
        [&] {
            vport_info->free = info.free;
            vport_info->used = info.used;
            vport_info->id = info.id;
            vport_info->state = info.state;
            std::memcpy(vport_info->wwnn, info.wwnn, sizeof vport_info->wwnn);
            std::memcpy(vport_info->wwpn, info.wwpn, sizeof vport_info->wwpn);
        });
}

SD_UINT32 SDGetTargetIDMALinkSpeed(int Device, SD_UINT16 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                                   SD_PUINT32 pIDMALinkSpeed) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetTargetIDMALinkSpeed", Device);
    INT_PORT_PARAM param;
    vxapi_priv_database* rec = speed_request(call, pTargetAddr, VX_PORT_PARAM_GET, &param);
    if (rec == nullptr || !call.given(pIDMALinkSpeed)) return call.status();
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_port_param(rec->oshandle, rec, &param, sizeof param, ext); },
        [&] {
            // A speed outside the codes is not reported.
            if (is_speed(param.Speed)) *pIDMALinkSpeed = param.Speed;
        });
}

SD_UINT32 SDSetTargetIDMALinkSpeed(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Mode,
                                   PDESTINATIONADDRESS pTargetAddr, SD_UINT32 iDMALinkSpeed) {
    (void)HbaDevPortNum;
    VxSdCall call("SDSetTargetIDMALinkSpeed", Device);
    INT_PORT_PARAM param;
    vxapi_priv_database* rec = speed_request(call, pTargetAddr, static_cast<uint16_t>(Mode), &param);
    if (rec == nullptr) return call.status();
    if (!is_speed(iDMALinkSpeed)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid speed ", iDMALinkSpeed, VXDBG_DEC);
        return call.done(SDERR_INVALID_PARAMETER);
    }
    param.Speed = static_cast<uint16_t>(iDMALinkSpeed);
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_port_param(rec->oshandle, rec, &param, sizeof param, ext); }, [] {});
}

SD_UINT32 SDTarnoMgt(int Device, SD_UINT16 Operation, PSD_TARNO_MGT pParameters) {
    VxSdCall call("SDTarnoMgt", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    const uint16_t device = vxapi_device_id(rec);
    const bool converged = vx_chip_has(device, VX_CHIP_CONVERGED);
    if (!vx_chip_has(device, VX_CHIP_TARNO) && !(converged && Operation == VX_TARNO_OP_MANAGE)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): not supported. Operation=", Operation, VXDBG_DEC);
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (!call.given(pParameters)) return call.status();
    if (converged) {
        const TARNO_MANAGE_INFO& info = pParameters->sp.TarnoManageInfo;
        if (!call.buffer_holds(info.TotalByteCount, kXgmacStatsBytes)) return call.status();
        if (xgmac_stats_read(call, rec, info.pDataBytes)) return call.done(SDERR_NO_ERROR);
    }
    if (Operation < VX_TARNO_OP_RESET || Operation > VX_TARNO_OP_MANAGE) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): invalid operation ", Operation, VXDBG_DEC);
        return call.done(SDERR_INVALID_PARAMETER);
    }
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_tarno_mgmt(rec->oshandle, rec, Operation, pParameters, ext); }, [] {});
}

// The NVRAM image of a port as a whole, and single settings inside an image
// the caller holds.
//
// Older chips read and write the image through the driver's NVRAM request.
// The flash-NVRAM chips keep it in a flash region per PCI function: it is
// read and written as that region, a write carries the image's checksum in
// its last 32-bit word and is followed by the region's activation.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "api/vx_sdnvr.h"
#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "core/flash/vx_nvram_vpd.h"
#include "core/flash/vx_optrom.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

constexpr uint32_t kNvram2xxxBytes = 256;
constexpr uint32_t kNvram24xxBytes = 512;
constexpr uint32_t kChecksumWord = 4;
constexpr SD_UINT32 kVerifyMode = 2;

bool is_24xx_class(uint16_t device) { return vx_chip_has(device, VX_CHIP_NVRAM_512); }
bool is_flash_nvram(uint16_t device) { return vx_chip_has(device, VX_CHIP_NVRAM_IN_FLASH); }

// The size the driver is asked for: at most the image of the chip's class.
uint32_t clamp_size(VxSdCall& call, uint16_t device, uint32_t size) {
    const uint32_t most = is_24xx_class(device) ? kNvram24xxBytes : kNvram2xxxBytes;
    if (size <= most) return size;
    if (vxdbg_on(VX_SD_INFO)) {
        vx_sd_line(VX_SD_INFO, call.name(), call.device(), "): BufferSize changed from ", size, VXDBG_DEC);
        vxdbg_line(VX_SD_INFO, " to ", most, VXDBG_DEC);
    }
    return most;
}

SD_UINT32 mapped(VxSdCall& call, int32_t result, uint32_t ext, int err) {
    return vx_sd_outcome(call.name(), call.device(), result, ext, err, VxSdAccept::Clean).status;
}

// The last whole 32-bit word of the image makes the sum of all words 0.
void store_checksum(uint8_t* image, uint32_t size) {
    const uint32_t words = size / kChecksumWord;
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 1 < words; ++i) {
        uint32_t w = 0;
        for (uint32_t b = 0; b < kChecksumWord; ++b) w |= static_cast<uint32_t>(image[i * 4 + b]) << (8 * b);
        sum += w;
    }
    const uint32_t check = 0u - sum;
    for (uint32_t b = 0; b < kChecksumWord; ++b) image[(words - 1) * 4 + b] = static_cast<uint8_t>(check >> (8 * b));
}

// The flash road of a write: size checks, checksum, layout and region.
SD_UINT32 write_flash_nvram(VxSdCall& call, vxapi_priv_database* rec, uint8_t* buffer, uint32_t size,
                            uint32_t region) {
    if (size < kChecksumWord) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): no whole checksum word. BufferSize=", size, VXDBG_DEC);
        return SDERR_INVALID_PARAMETER;
    }
    store_checksum(buffer, size);
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(call.device(), 0, nullptr); refreshed != SDERR_NO_ERROR) {
        return refreshed;
    }
    const INT_OPT_ROM_REGION* entry = vx_sd_layout_entry(region);
    if (entry != nullptr && size > entry->Size) {
        vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): image larger than the region. Size=", entry->Size,
                   VXDBG_HEX);
        return SDERR_REGION_TOO_SMALL;
    }
    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_update_optrom(rec->oshandle, rec, buffer, size, region, 0, &ext);
    const int err = errno;
    vxdbg_line(VX_SD_INFO, "SDUpdateNVRam: after ioctl. status=", ext, VXDBG_HEX);
    return mapped(call, result, ext, err);
}

}  // namespace

SD_UINT32 SDGetNVRam(int Device, SD_UINT16 HbaDevPortNum, SD_UINT32 Mode, SD_PUINT8 pBuffer, SD_UINT32 BufferSize) {
    (void)HbaDevPortNum;
    (void)Mode;
    VxSdCall call("SDGetNVRam", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pBuffer)) return call.status();
    const uint16_t device = vxapi_device_id(rec);
    const uint32_t size = clamp_size(call, device, BufferSize);

    uint32_t ext = 0;
    errno = 0;
    int32_t result = 0;
    if (!is_flash_nvram(device)) {
        result = vxapi_get_nvram(rec->oshandle, rec, pBuffer, size, &ext);
    } else {
        const uint32_t region = vx_sd_nvram_region(rec);
        if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, 0, nullptr); refreshed != SDERR_NO_ERROR) {
            return call.done(refreshed);
        }
        vxapi_priv_database* reader = rec;
        if (rec->interface_type == VX_PORT_VIRTUAL && vxapi_is_sysfs_port(rec) && rec->parent != nullptr) {
            reader = rec->parent;
        }
        result = vxapi_read_optrom(reader->oshandle, reader, pBuffer, size, region, 0, &ext);
    }
    const int err = errno;
    if (vxdbg_on(VX_SD_INFO)) vxdbg_dump("SDGetNVRam: after ioctl. NVRAM data dump:", pBuffer, 8, size);
    return call.done(mapped(call, result, ext, err));
}

SD_UINT32 SDUpdateNVRam(int Device, SD_UINT16 DisableReset, SD_UINT32 Mode, SD_PUINT8 pBuffer,
                        SD_UINT32 BufferSize) {
    (void)Mode;
    VxSdCall call("SDUpdateNVRam", Device);
    if (BufferSize == 0) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateNVRam returning. BufferSize=", BufferSize, VXDBG_DEC);
        return call.done(SDERR_INVALID_PARAMETER);
    }
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pBuffer)) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateNVRam: Not supported for vport. handle=", static_cast<uint32_t>(Device),
                   VXDBG_INT);
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (!vx_sd_no_foreign_token(call, rec)) return call.status();
    const uint16_t device = vxapi_device_id(rec);
    const uint32_t size = clamp_size(call, device, BufferSize);

    if (!is_flash_nvram(device)) {
        uint32_t ext = 0;
        errno = 0;
        const int32_t result = vxapi_set_nvram(rec->oshandle, rec, pBuffer, size, &ext);
        const int err = errno;
        vxdbg_line(VX_SD_INFO, "SDUpdateNVRam: after ioctl. status=", ext, VXDBG_HEX);
        return call.done(mapped(call, result, ext, err));
    }
    const uint32_t region = vx_sd_nvram_region(rec);
    const SD_UINT32 status = write_flash_nvram(call, rec, pBuffer, size, region);
    if (DisableReset != 0) {
        vxdbg_line(VX_SD_INFO, "SDUpdateNVRam: Reset disabled by App for NVRAM ret=", status, VXDBG_HEX);
        return call.done(status);
    }
    if (status != SDERR_NO_ERROR) return call.done(status);
    return call.done(vxapi_reset_region(Device, rec, region));
}

SD_UINT32 SDVerifyHbaNVRam(int Device, SD_UINT16 HbaDevPortNum) {
    VxSdCall call("SDVerifyHbaNVRam", Device, "SDSetVerifyHbaNVRam entered.", "SDSetVerifyHbaNVRam exiting. ret=");
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    const uint16_t device = vxapi_device_id(rec);
    uint32_t size = 0;
    if (vx_chip_has(device, VX_CHIP_NVRAM_256)) size = kNvram2xxxBytes;
    if (is_24xx_class(device)) size = kNvram24xxBytes;
    Buffer scratch(static_cast<uint8_t*>(std::calloc(1, std::max<uint32_t>(size, 1))));
    if (!scratch) {
        vxdbg_line(VX_SD_ERROR, "SDVerifyHbaNVRam: NVRam memory alloc failed");
        return call.done(SDERR_OUT_OF_MEMORY);
    }
    const SD_UINT32 read = SDGetNVRam(Device, HbaDevPortNum, kVerifyMode, scratch.get(), size);
    return call.done(read == SDERR_NO_ERROR ? SDERR_NO_ERROR : SDERR_NVRAM_CHECKSUM);
}

SD_UINT32 SDGetVariableValue(int Device, SD_PUINT8 pNVRam, EnumNVRAMVar parmNumber) {
    VxSdCall call("SDGetVariableValue", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    const auto id = static_cast<SD_UINT32>(parmNumber);
    // A value, not a status: recorded for the exit line only.
    return call.done(is_24xx_class(vxapi_device_id(rec)) ? VXSDNVR_GetVariableValue_24xx(pNVRam, id)
                                                         : VXSDNVR_GetVariableValue(pNVRam, id));
}

SD_UINT32 SDSetVariableValue(int Device, SD_PUINT8 pNVRam, EnumNVRAMVar parmNumber, SD_UINT32 dwSetValue) {
    VxSdCall call("SDSetVariableValue", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pNVRam)) return call.status();
    const auto id = static_cast<SD_UINT32>(parmNumber);
    return call.done(is_24xx_class(vxapi_device_id(rec)) ? VXSDNVR_SetVariableValue_24xx(pNVRam, id, dwSetValue)
                                                         : VXSDNVR_SetVariableValue(pNVRam, id, dwSetValue));
}

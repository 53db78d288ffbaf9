// The adapter's vital product data (VPD): read, written, saved to both
// physical ports of an adapter, and formatted as text for the trace.
//
// The flash-NVRAM chips keep the VPD in flash regions: 0x14 for the first
// function and 0x16 for the second (the driver access core reads the
// function's own region); the five chips that keep it in region 0x81 are not
// saved through the two-port save.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_request.h"
#include "core/flash/vx_nvram_vpd.h"
#include "core/flash/vx_optrom.h"
#include "core/life/vx_load.h"
#include "image/flash_formats.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

constexpr uint32_t kVpdBytes = 512;
constexpr uint32_t kVpdRegion81Bytes = 1024;
constexpr uint32_t kRegionVpdFirst = 0x14;
constexpr uint32_t kRegionVpdSecond = 0x16;

constexpr uint8_t kTagIdent = 0x82;
constexpr uint8_t kTagReadOnly = 0x90;
constexpr uint8_t kTagWritable = 0x91;
constexpr uint8_t kTagEnd = 0x78;
constexpr uint32_t kTagStep = 3;

SD_UINT32 mapped(VxSdCall& call, int32_t result, uint32_t ext, int err) {
    return vx_sd_outcome(call.name(), call.device(), result, ext, err, VxSdAccept::Clean).status;
}

// Boards whose identifier string has a one-byte length.
bool short_ident_board(const vxapi_priv_database* rec) {
    const vxapi_phy_info* phy = rec != nullptr ? rec->phy_info : nullptr;
    return phy != nullptr && vx_board_has(phy->ssvendor_id, phy->ssdevice_id, VX_BOARD_KT);
}

// Writes the VPD to one port: its flash region on the flash-NVRAM chips
// (refused when larger than the region), else the driver's VPD request.
SD_UINT32 save_to_port(VxSdCall& call, vxapi_priv_database* rec, uint8_t* vpd, uint32_t size, uint32_t region) {
    uint32_t ext = 0;
    errno = 0;
    int32_t result = 0;
    if (vx_chip_has(vxapi_device_id(rec), VX_CHIP_NVRAM_IN_FLASH)) {
        const INT_OPT_ROM_REGION* entry = vx_sd_layout_entry(region);
        if (entry != nullptr && size > entry->Size) {
            vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): VPD larger than its region ", region, VXDBG_HEX);
            return SDERR_REGION_TOO_SMALL;
        }
        result = vxapi_update_optrom(rec->oshandle, rec, vpd, size, region, 0, &ext);
    } else {
        uint32_t copy = size;
        result = vxapi_set_vpd(rec->oshandle, rec, vpd, &copy, &ext);
    }
    return mapped(call, result, ext, errno);
}

// Whether the walk over the VPD's items from its first byte meets the end
// tag within the first `size` bytes.
bool ends_within(const uint8_t* vpd, uint32_t size) {
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpd, size);
    vximg_vpd_item item;
    // The walk ends at the end tag, or where an item leaves the bytes.
    while (vximg_vpd_walk_next(&w, &item)) continue;
    return w.result == VXIMG_VPD_END_TAG;
}

void append(char* text, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
void append(char* text, size_t size, const char* format, ...) {
    const size_t used = strnlen(text, size);
    if (used + 1 >= size) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + used, size - used, format, args);
    va_end(args);
}

}  // namespace

SD_UINT32 SDGetVpd(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 pBufferSize) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetVpd", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pBuffer) || !call.given(pBufferSize)) return call.status();
    uint32_t size = vx_chip_has(vxapi_device_id(rec), VX_CHIP_VPD_1024) ? kVpdRegion81Bytes : kVpdBytes;
    // Zeroed: a failed read copies no stale bytes.
    std::unique_ptr<uint8_t, FreeDeleter> scratch(static_cast<uint8_t*>(std::calloc(1, size)));
    if (!scratch) {
        vxdbg_line(VX_SD_ERROR, "SDGetVpd: mem alloc failed. handle=", static_cast<uint32_t>(Device), VXDBG_INT);
        return call.done(SDERR_OUT_OF_MEMORY);
    }
    const uint32_t allocated = size;
    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_get_vpd(rec->oshandle, rec, scratch.get(), &size, &ext);
    const int err = errno;
    // The driver may lower the size to the VPD it returned. One shorter than
    // the chip's VPD area is whole when its end tag came; one whose items
    // run past what came before an end tag is not the VPD: its tail would be
    // zeros that *pBufferSize cannot tell.
    if (result == 0 && ext == EXT_STATUS_OK && size < allocated && !ends_within(scratch.get(), size)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): VPD short, bytes=", size, VXDBG_DEC);
        ext = EXT_STATUS_DATA_UNDERRUN;
    }
    const SD_UINT32 status = mapped(call, result, ext, err);
    // The bytes that came, zeros behind them.
    std::memcpy(pBuffer, scratch.get(), std::min(*pBufferSize, allocated));
    return call.done(status);
}

SD_UINT32 SDUpdateVpd(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_PUINT32 pBufferSize) {
    (void)HbaDevPortNum;
    VxSdCall call("SDUpdateVpd", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateVpd: Not supported for vport. handle=", static_cast<uint32_t>(Device),
                   VXDBG_INT);
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (vx_chip_has(vxapi_device_id(rec), VX_CHIP_NVRAM_IN_FLASH)) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateVpd: Adapter not supported.");
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (!call.given(pBuffer) || !call.given(pBufferSize)) return call.status();
    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_set_vpd(rec->oshandle, rec, pBuffer, pBufferSize, &ext);
    return call.done(mapped(call, result, ext, errno));
}

SD_UINT32 SD24xxSaveVpd(int Device, SD_PUINT8 pvpd, SD_UINT32 buf_size) {
    VxSdCall call("SD24xxSaveVpd", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pvpd)) return call.status();
    const uint16_t device = vxapi_device_id(rec);
    if (vx_chip_has(device, VX_CHIP_VPD_1024)) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): VPD region not saved on this chip.");
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (!vx_sd_no_foreign_token(call, rec)) return call.status();
    // The regions are placed through this adapter's layout.
    if (vx_chip_has(device, VX_CHIP_NVRAM_IN_FLASH)) {
        if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, 0, nullptr); refreshed != SDERR_NO_ERROR) {
            return call.done(refreshed);
        }
    }
    SD_UINT32 status = save_to_port(call, rec, pvpd, buf_size, kRegionVpdFirst);
    if (status != SDERR_NO_ERROR) return call.done(status);

    vxapi_priv_database* other = vxapi_is_other_phy_port_exist(Device, rec);
    if (other == nullptr) {
        vxdbg_line(VX_SD_INFO, "SD24xxSaveVpd: 2nd port not found.");
        return call.done(SDERR_NO_ERROR);
    }
    int handle = 0;
    uint32_t err = 0;
    if (vxapi_open_adapter(other, &handle, &err) != 0) {
        vxdbg_line(VX_SD_ERROR, "SD24xxSaveVpd: 2nd port open failed.");
        return call.done(SDERR_SIBLING_FAILED);
    }
    status = save_to_port(call, other, pvpd, buf_size, kRegionVpdSecond);
    (void)vxapi_close_adapter(other, &err);  // the save's status is the call's
    return call.done(status);
}

void PrintField(const SD_UINT8* opcode, const SD_UINT8* value, uint32_t len_value, char* resultText,
                size_t resultSize) {
    if (opcode == nullptr || resultText == nullptr || resultSize == 0) return;
    const int len = static_cast<int>(value != nullptr ? len_value : 0);
    const char* data = reinterpret_cast<const char*>(value);
    switch (opcode[0]) {
    case kTagIdent: append(resultText, resultSize, " 0x%02X  \"%.*s\"\n", opcode[0], len, data); return;
    case kTagReadOnly:
    case kTagWritable:
    case kTagEnd: append(resultText, resultSize, " 0x%02X\n", opcode[0]); return;
    default: break;
    }
    const char* keyword = reinterpret_cast<const char*>(opcode);
    if (opcode[0] == 'R' && (opcode[1] == 'V' || opcode[1] == 'W')) {
        append(resultText, resultSize, " \"%2.2s\"  %02X\n", keyword, len > 0 ? value[0] : 0);
    } else {
        append(resultText, resultSize, " \"%2.2s\"  \"%.*s\"\n", keyword, len, data);
    }
}

void PrintVpd(const SD_UINT8* vpd, char* resultText, size_t resultSize,
              const vxapi_priv_database* api_priv_data_inst) {
    if (vpd == nullptr) return;
    const bool short_ident = short_ident_board(api_priv_data_inst);
    uint32_t pos = 0;
    while (pos < kVpdBytes) {
        const uint8_t tag = vpd[pos];
        if (tag == kTagEnd) {
            PrintField(vpd + pos, nullptr, 0, resultText, resultSize);
            return;
        }
        if (tag == kTagReadOnly || tag == kTagWritable) {
            PrintField(vpd + pos, nullptr, 0, resultText, resultSize);
            pos += kTagStep;
            continue;
        }
        // An item whose header or data passes the walked bytes ends the walk.
        uint32_t header = kTagStep;
        uint32_t len = 0;
        if (tag == kTagIdent && short_ident) {
            header = 2;
            if (pos + header > kVpdBytes) return;
            len = vpd[pos + 1];
        } else {
            if (pos + header > kVpdBytes) return;
            len = tag == kTagIdent ? static_cast<uint32_t>(vpd[pos + 1] | (vpd[pos + 2] << 8)) : vpd[pos + 2];
        }
        if (pos + header + len > kVpdBytes) return;
        PrintField(vpd + pos, vpd + pos + header, len, resultText, resultSize);
        pos += header + len;
    }
}

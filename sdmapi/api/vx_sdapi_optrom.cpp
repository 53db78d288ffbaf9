// The flash (option ROM) of an adapter: its layout, and reads of the whole
// image, of one region and of raw bytes.
//
// The process-wide layout (gOptRomLayout) describes the adapter whose layout
// was loaded last, or none when that adapter has none; every read that names a
// region loads the layout of its own adapter first, and the transports find
// the region's place in it.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/vx_sdframe.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_optrom.h"
#include "vxsdm.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The smallest buffer for the whole option ROM image.
constexpr uint32_t kOptionRomMinimum = 0x20000;
// The region that reads the whole option ROM image.
constexpr uint32_t kRegionWholeImage = 0;
// The expansion EDC NVRAM region: the sysfs port of a board with
// VX_BOARD_EXPANSION_NVRAM reads it through the transport's own reader when
// the plain read fails.
constexpr uint32_t kRegionExpansionNvram = 0x18;

// A status from a worker's two results: success needs both to be 0.
SD_UINT32 worker_status(VxSdCall& call, int result, uint32_t ext_stat, int err) {
    return vx_sd_outcome(call.name(), call.device(), result, ext_stat, err, VxSdAccept::Clean).status;
}

// Whether a read of `region` into `buffer_size` bytes stays within the
// buffer. The transport of a sysfs port (which reads region 0 as the whole
// flash, 0xFF) and the driver road of a layout chip take a region's length
// from the layout, not from the caller: the whole flash of a sysfs port from
// the port's own layout, any other region from the process-wide layout. A
// buffer smaller than that is refused before anything is read. The region's
// size goes to *region_size.
bool region_fits(const vxapi_priv_database* rec, uint32_t region, uint32_t buffer_size, uint32_t* region_size) {
    *region_size = 0;
    if (region == VX_REGION_RAW) return true;
    const bool sysfs = vxapi_is_sysfs_port(rec);
    if (!sysfs && !vx_chip_has(vxapi_device_id(rec), VX_CHIP_FLASH_LAYOUT_TABLE)) return true;
    if (sysfs && region == kRegionWholeImage) region = VX_REGION_WHOLE_ROM;
    uint32_t offset = 0;
    if (sysfs) {
        vxsysfs_map_port_region(rec, region, &offset, region_size);
    } else {
        vxsysfs_map_region(region, &offset, region_size);
    }
    return *region_size <= buffer_size;
}

// Refuses a buffer that cannot hold the region (SDERR_BUFFER_TOO_SMALL).
bool check_region_fits(VxSdCall& call, const vxapi_priv_database* rec, uint32_t region, uint32_t buffer_size) {
    uint32_t region_size = 0;
    if (region_fits(rec, region, buffer_size, &region_size)) return true;
    vx_sd_line(VX_SD_ERROR, call.name(), call.device(), "): buffer too small for the region. region size=",
               region_size, VXDBG_HEX);
    call.done(SDERR_BUFFER_TOO_SMALL);
    return false;
}

// The record whose flash is read: a virtual port that the driver serves
// through sysfs reads through its physical port on the chips whose flash the
// transport places.
vxapi_priv_database* region_reader(vxapi_priv_database* rec) {
    const bool placed = vx_chip_has(vxapi_device_id(rec), VX_CHIP_VPORT_READS_PARENT_FLASH);
    if (rec->interface_type == VX_PORT_VIRTUAL && vxapi_is_sysfs_port(rec) && placed && rec->parent != nullptr) {
        return rec->parent;
    }
    return rec;
}

}  // namespace

SD_UINT32 SDGetOptionRomLayout(int Device, SD_UINT16 HbaDevPortNum, PSDM_OPT_ROM_LAYOUT pLayout) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetOptionRomLayout", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();

    std::unique_ptr<INT_OPT_ROM_LAYOUT, FreeDeleter> layout(
        static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, sizeof(INT_OPT_ROM_LAYOUT))));
    if (!layout) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): mem alloc failed.");
        return call.done(SDERR_OUT_OF_MEMORY);
    }

    const VxLayoutSource source = vxapi_layout_source(rec);
    if (source == VxLayoutSource::Function) {
        std::memcpy(layout.get(), rec->phy_info->pflt_layout, sizeof(INT_OPT_ROM_LAYOUT));
    } else if (source == VxLayoutSource::None) {
        // The adapter has no layout of its own: the process-wide layout,
        // another adapter's, goes too, so that a caller which reads regions
        // of this adapter after the refusal (the end of a flash update reads
        // the active image set) finds none rather than that adapter's. On a
        // driver that cannot reach the adapter's flash at all the table was
        // never readable, and every flash call there answers the same: the
        // NVRAM, region and image calls load the layout first.
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): no flash layout for the chip.");
        vxapi_clear_global_layout();
        return call.done(vxapi_flash_out_of_reach(rec) ? SDERR_NOT_SUPPORTED : SDERR_UNKNOWN);
    } else {
        uint32_t ext = 0;
        errno = 0;
        const int32_t result = vxapi_get_optrom_layout(rec->oshandle, rec, reinterpret_cast<uint8_t*>(layout.get()),
                                                       sizeof(INT_OPT_ROM_LAYOUT), &ext);
        if (const SD_UINT32 status = worker_status(call, result, ext, errno); status != SDERR_NO_ERROR) {
            return call.done(status);
        }
    }

    // A layout holds at most 255 regions, whatever count the driver wrote.
    const uint32_t count = std::min(layout->NoOfRegions, VX_LAYOUT_MAX_REGIONS);
    layout->NoOfRegions = count;
    vxapi_install_global_layout(layout.get(), sizeof(INT_OPT_ROM_LAYOUT));

    if (pLayout == nullptr) return call.done(SDERR_NO_ERROR);
    if (pLayout->NoOfRegions < count) {
        pLayout->NoOfRegions = count;
        return call.done(SDERR_BUFFER_TOO_SMALL);
    }
    pLayout->Size = layout->Size;
    pLayout->NoOfRegions = count;
    auto* entries = reinterpret_cast<SDM_OPT_ROM_REGION*>(reinterpret_cast<uint8_t*>(pLayout) +
                                                          offsetof(SDM_OPT_ROM_LAYOUT, Region));
    for (uint32_t i = 0; i < count; ++i) {
        entries[i].Region = layout->Region[i].Region & 0xFF;
        entries[i].Size = layout->Region[i].Size;
    }
    return call.done(SDERR_NO_ERROR);
}

SD_UINT32 SDGetOptionRom(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize) {
    VxSdCall call("SDGetOptionRom", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (BufferSize < kOptionRomMinimum) {
        if (vxdbg_on(VX_SD_ERROR)) {
            vxdbg_print("SDGetOptionRom: ERROR BufferSize=", BufferSize, VXDBG_DEC, 0);
            vxdbg_print(" expecting minimum size=", kOptionRomMinimum, VXDBG_DEC, 1);
        }
        return call.done(SDERR_INVALID_PARAMETER);
    }
    if (!call.given(pBuffer)) return call.status();
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, HbaDevPortNum, nullptr);
        refreshed != SDERR_NO_ERROR) {
        return call.done(refreshed);
    }
    if (!check_region_fits(call, rec, kRegionWholeImage, BufferSize)) return call.status();

    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_read_optrom(rec->oshandle, rec, pBuffer, BufferSize, kRegionWholeImage, 0, &ext);
    return call.done(worker_status(call, result, ext, errno));
}

SD_UINT32 SDGetOptionRomOffset(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize,
                               SD_UINT32 Offset) {
    (void)HbaDevPortNum;
    VxSdCall call("SDGetOptionRomOffset", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pBuffer)) return call.status();

    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_read_optrom(rec->oshandle, rec, pBuffer, BufferSize, VX_REGION_RAW, Offset, &ext);
    return call.done(worker_status(call, result, ext, errno));
}

SD_UINT32 SDGetOptionRomEx(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize,
                           SD_UINT32 Region) {
    VxSdCall call("SDGetOptionRomEx", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pBuffer)) return call.status();
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, HbaDevPortNum, nullptr);
        refreshed != SDERR_NO_ERROR) {
        vxdbg_line(VX_SD_ERROR, "SDGetOptionRomEx: GetOptionRomLayout failed. ret=", refreshed, VXDBG_HEX);
        return call.done(refreshed);
    }
    vxapi_priv_database* reader = region_reader(rec);
    if (!check_region_fits(call, reader, Region, BufferSize)) return call.status();

    uint32_t ext = 0;
    errno = 0;
    int32_t result = vxapi_read_optrom(reader->oshandle, reader, pBuffer, BufferSize, Region, 0, &ext);
    int err = errno;

    const vxapi_phy_info* phy = rec->phy_info;
    if ((result != 0 || ext != 0) && vxapi_is_sysfs_port(rec) && Region == kRegionExpansionNvram && phy != nullptr &&
        vx_board_has(phy->ssvendor_id, phy->ssdevice_id, VX_BOARD_EXPANSION_NVRAM)) {
        ext = 0;
        errno = 0;
        result = vxapi_read_nvram_exp_edc(reader->oshandle, reader, pBuffer, BufferSize, Region, 0, &ext);
        err = errno;
    }
    return call.done(worker_status(call, result, ext, err));
}

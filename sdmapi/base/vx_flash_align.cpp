// The widening of a flash write to whole flash sectors: the sector size from
// the road or the flash descriptor table, and the read of the sectors the
// write touches.
#include "base/vx_flash_align.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_sddbg.h"
#include "image/flash_formats.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_STEP;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

bool is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The sector size in the flash descriptor table, or 0 when the table is
// absent or unreadable. False only when the read buffer cannot be had.
bool sector_size_from_fdt(int handle, vxapi_priv_database* rec, const VxFlashReader& road, uint32_t* sector) {
    *sector = 0;
    const VxChip* chip = vx_chip(vxapi_device_id(rec));
    if (chip == nullptr || (chip->flags & VX_CHIP_FLASH_LAYOUT_TABLE) == 0) return true;
    const uint32_t address = chip->fdt_address;
    Buffer fdt(static_cast<uint8_t*>(std::calloc(1, sizeof(FDT_LAYOUT))));
    if (!fdt) {
        vxdbg_line(kErr, "vxapi_sector_align: Unable to allocate memory for fdt_buffer");
        return false;
    }
    uint32_t status = 0;
    const int32_t rc =
        road.read(handle, rec, fdt.get(), sizeof(FDT_LAYOUT), VX_REGION_RAW, address, &status);
    if (rc != 0 || status != 0) {
        vxdbg_line(kErr, "vxapi_sector_align: Read fdt failed");
    } else if (std::memcmp(fdt.get(), VX_FDT_SIGNATURE, sizeof VX_FDT_SIGNATURE) != 0) {
        vxdbg_line(kErr, "vxapi_sector_align: FDT not present");
    } else if (vximg_sum_le16(fdt.get(), sizeof(FDT_LAYOUT) / 2) != 0) {
        vxdbg_line(kErr, "vxapi_sector_align: FDT checksum failed");
    } else {
        *sector = vximg_get_le32(fdt.get() + offsetof(FDT_LAYOUT, block_size));
    }
    return true;
}

}  // namespace

uint32_t vxapi_sector_align(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t** db, uint8_t* poptrom,
                            uint32_t* offset, uint32_t* size, const VxFlashReader& road) {
    vxdbg_line(VXDBG_STEP, "vxapi_sector_align: entered");
    const auto done = [](uint32_t result) {
        vxdbg_line(VXDBG_STEP, "vxapi_sector_align: exiting");
        return result;
    };
    if (db == nullptr || offset == nullptr || size == nullptr) return done(1);

    const uint16_t device = vxapi_device_id(api_priv_data_inst);
    uint32_t sector = 0;
    if (vx_chip_is(device, VxChipFamily::F24xx)) {
        sector = VX_DEFAULT_SECTOR_SIZE;
    } else if (vx_chip_has(device, VX_CHIP_FLASH_LAYOUT_TABLE)) {
        uint32_t reported = 0;
        if (road.sector_size(handle, api_priv_data_inst, &reported) == 0 && reported != 0) {
            sector = reported;
        } else {
            vxdbg_line(kErr, "vxapi_sector_align: Sector size read failed");
            if (!sector_size_from_fdt(handle, api_priv_data_inst, road, &sector)) return done(1);
        }
        // Sectors are a power of two in size, and never larger than a few
        // MiB: any other value, from the driver or from flash, is not
        // believed.
        if (!is_power_of_two(sector) || sector > VX_MAX_SECTOR_SIZE) sector = VX_DEFAULT_SECTOR_SIZE;
    } else {
        vxdbg_line(VXDBG_ERROR | VXDBG_API, "vxapi_setor_align: device id not supported.");
        return done(1);
    }

    // In 64 bits: the span must lie within the 32-bit flash address space.
    const uint64_t first = *offset;
    const uint64_t past = first + *size;
    const uint64_t start = first / sector * sector;
    const uint64_t end = (past + sector - 1) / sector * sector;
    if (end > (uint64_t{1} << 32) || end - start > UINT32_MAX) return done(1);
    const uint32_t length = static_cast<uint32_t>(end - start);
    if (start == first && length == *size) return done(0);

    Buffer span(static_cast<uint8_t*>(std::calloc(1, length)));
    if (!span) {
        vxdbg_line(kErr, "vxapi_sector_align: Unable to allocate memory for db");
        return done(1);
    }
    uint32_t status = 0;
    const int32_t rc = road.read(handle, api_priv_data_inst, span.get(), length, VX_REGION_RAW,
                                         static_cast<uint32_t>(start), &status);
    if (rc != 0 || status != 0) return done(1);
    if (*size != 0 && poptrom != nullptr) std::memcpy(span.get() + (first - start), poptrom, *size);
    *offset = static_cast<uint32_t>(start);
    *size = length;
    *db = span.release();
    return done(0);
}

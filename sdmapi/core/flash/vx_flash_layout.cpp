// The building of a function's option ROM layout from the flash layout table
// in the adapter's flash, and the layout request of the port's road.
#include "core/flash/vx_flash_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "base/vx_sddbg.h"
#include "core/flash/vx_optrom.h"
#include "image/flash_formats.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_sysfs_flash.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer zeroed(size_t bytes) { return Buffer(static_cast<uint8_t*>(std::calloc(1, bytes))); }

// "<text><status> errno=<errno>" for a failed flash read.
void trace_read_failure(const char* text, uint32_t status, int err) {
    if (!vxdbg_on(VXDBG_ERROR | VXDBG_API)) return;
    vxdbg_print(text, status, VXDBG_HEX, 0);
    vxdbg_print(" errno=", static_cast<uint32_t>(err), VXDBG_INT, 1);
}

// A line whose text carries a flash position in hexadecimal.
void trace_position(uint32_t bits, const char* format, size_t position) {
    if (!vxdbg_on(bits)) return;
    char line[128];
    std::snprintf(line, sizeof line, format, static_cast<unsigned>(position));
    vxdbg_print(line, 0, VXDBG_NONE, 1);
}

constexpr uint32_t kTableReadBytes = 4096;   // one read covers the longest table
constexpr uint32_t kWindowBytes = 0x80000;   // the boot code chain is looked for in windows this large
constexpr uint32_t kSecondWindow = 0x200000; // where a 4 MiB flash keeps its second chain

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_API;
constexpr uint32_t kStep = VXDBG_STEP | VXDBG_API;
constexpr uint32_t kWalk = VXDBG_ERROR | VXDBG_STEP;

// A layout the driver delivered in part: without its head it is not read
// (1); else it counts no more regions than arrived whole (0).
int32_t keep_delivered_regions(uint8_t* layout, uint32_t delivered) {
    constexpr uint32_t kHead = offsetof(INT_OPT_ROM_LAYOUT, Region);
    if (delivered < kHead) {
        vxdbg_line(kErr, "vxapi_get_optrom_layout: short reply, bytes delivered=", delivered, VXDBG_DEC);
        return 1;
    }
    uint32_t count = 0;
    std::memcpy(&count, layout + offsetof(INT_OPT_ROM_LAYOUT, NoOfRegions), sizeof count);
    count = std::min(count, (delivered - kHead) / static_cast<uint32_t>(sizeof(INT_OPT_ROM_REGION)));
    std::memcpy(layout + offsetof(INT_OPT_ROM_LAYOUT, NoOfRegions), &count, sizeof count);
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- building from flash

int32_t vxapi_set_option_rom_layout(int handle, vxapi_priv_database* api_priv_data_inst) {
    vxdbg_line(VXDBG_STEP, "vxapi_set_option_rom_layout: entered.");
    vxapi_phy_info* phy = api_priv_data_inst != nullptr ? api_priv_data_inst->phy_info : nullptr;
    if (phy == nullptr) {
        vxdbg_line(VXDBG_STEP, "vxapi_set_option_rom_layout: exiting.");
        return 1;
    }

    std::free(phy->pflt_layout);
    phy->pflt_layout = static_cast<INT_OPT_ROM_LAYOUT*>(std::calloc(1, sizeof(INT_OPT_ROM_LAYOUT)));
    int32_t result = 1;
    const VxChip* chip = vx_chip(phy->device_id);
    const bool table_chip = chip != nullptr && (chip->flags & VX_CHIP_FLASH_LAYOUT_TABLE) != 0;
    uint32_t address = 0;
    if (phy->pflt_layout == nullptr) {
        vxdbg_line(kErr, "vxapi_set_option_rom_layout: mem alloc failed.");
    } else if (!table_chip) {
        vxdbg_line(kErr, "vxapi_set_option_rom_layout: device id not supported.");
    } else if (vxapi_get_flt_data(handle, api_priv_data_inst, chip->flt_address) == 0) {
        result = 0;
    } else if (vxapi_get_flt_address(handle, api_priv_data_inst, &address) != 0) {
        vxdbg_line(kErr, "vxapi_set_option_rom_layout: flt address read failed.");
    } else if (vxapi_get_flt_data(handle, api_priv_data_inst, address) != 0) {
        vxdbg_line(kErr, "vxapi_set_option_rom_layout: flt data read failed.");
    } else {
        result = 0;
    }

    if (result == 0) {
        vxapi_install_global_layout(phy->pflt_layout, sizeof(INT_OPT_ROM_LAYOUT));
    } else {
        // No partial layout: the function goes on without one. Nor does the
        // global layout keep the one built before, another function's: the
        // lookups that follow for this function (discovery reads its
        // versions and image set next) would read its flash at that
        // layout's region places. They find nothing, as when no layout was
        // ever built. A chip without a table is refused before any build:
        // its layout is a fixed one or the driver's, which the global
        // layout may hold, and that stays.
        std::free(phy->pflt_layout);
        phy->pflt_layout = nullptr;
        if (table_chip) vxapi_clear_global_layout();
    }
    vxdbg_line(VXDBG_STEP, "vxapi_set_option_rom_layout: exiting.");
    return result;
}

int32_t vxapi_get_flt_data(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t flt_address) {
    vxdbg_line(kStep, "vxapi_get_flt_data: entered.");
    const auto done = [](int32_t ret) {
        vxdbg_line(kStep, "vxapi_get_flt_data exiting. ret=", static_cast<uint32_t>(ret), VXDBG_HEX);
        return ret;
    };
    vxapi_phy_info* phy = api_priv_data_inst != nullptr ? api_priv_data_inst->phy_info : nullptr;
    if (phy == nullptr || phy->pflt_layout == nullptr) return done(1);

    Buffer buf = zeroed(kTableReadBytes);
    if (!buf) {
        vxdbg_line(kErr, "vxapi_get_flt_data: mem allocation failed.");
        return done(1);
    }
    uint32_t status = 0;
    const int32_t rc = vxapi_read_optrom(handle, api_priv_data_inst, buf.get(), kTableReadBytes, VX_REGION_RAW,
                                         flt_address, &status);
    if (rc != 0 || status != 0) {
        trace_read_failure("vxapi_get_flt_data: ReadOptionRom ioctl failed. ext status=", status, errno);
        return done(1);
    }

    FLT_HEADER head;
    vximg_decode_flt_header(buf.get(), &head);
    if (vxdbg_on(VXDBG_API) && head.length != 0 && head.length != 0xFFFF) {
        // The dump never reaches past what was read.
        const size_t bytes = std::min<size_t>(sizeof(FLT_HEADER) + head.length, kTableReadBytes);
        vxdbg_dump("vxapi_get_flt_data: FLT data dump:", buf.get(), 8, bytes);
    }
    if (head.version != VXIMG_FLT_VERSION) {
        vxdbg_line(kErr, "vxapi_get_flt_data: check version failed.");
        return done(1);
    }
    // A table longer than the read fails like a bad checksum.
    if (!vximg_flt_header_checksum_ok(buf.get(), kTableReadBytes)) {
        vxdbg_line(kErr, "vxapi_get_flt_data: checksum failed.");
        return done(1);
    }

    // At most 255 entries fit behind the layout's head: a length of up to
    // 4088 bytes is accepted above, but only whole entries that fit are kept.
    INT_OPT_ROM_LAYOUT* layout = phy->pflt_layout;
    const uint32_t regions = std::min<uint32_t>(head.length / sizeof(INT_OPT_ROM_REGION), VX_LAYOUT_MAX_REGIONS);
    std::memset(layout->Region, 0, sizeof layout->Region);
    std::memcpy(layout->Region, buf.get() + sizeof(FLT_HEADER), regions * sizeof(INT_OPT_ROM_REGION));
    layout->NoOfRegions = regions;
    return done(0);
}

int32_t vxapi_get_flt_address(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t* flt_address) {
    vxdbg_line(kStep, "vxapi_get_flt_address entered.");
    const auto done = [](int32_t ret) {
        vxdbg_line(kStep, "vxapi_get_flt_address exiting. ret=", static_cast<uint32_t>(ret), VXDBG_HEX);
        return ret;
    };
    const uint16_t device = vxapi_device_id(api_priv_data_inst);
    const bool default_only = vx_chip_has(device, VX_CHIP_FLT_DEFAULT_ONLY);
    if (!vx_chip_has(device, VX_CHIP_FLT_LOCATOR_SEARCH)) {
        vxdbg_line(kErr, "vxapi_get_flt_address: not flt supported ISP.");
        return done(1);
    }

    Buffer window = zeroed(kWindowBytes);
    if (!window) {
        vxdbg_line(kErr, "vxapi_get_flt_address: mem allocation failed.");
        return done(1);
    }

    // Only a 4 MiB flash has a second window to look in.
    const uint32_t bases[] = {0, kSecondWindow};
    const size_t windows = vx_chip_has(device, VX_CHIP_FLT_SECOND_WINDOW) ? 2 : 1;
    bool found_last = false;
    size_t locator = 0;
    for (size_t n = 0; n < windows && !found_last; ++n) {
        uint32_t status = 0;
        const int32_t rc = vxapi_read_optrom(handle, api_priv_data_inst, window.get(), kWindowBytes, VX_REGION_RAW,
                                             bases[n], &status);
        if (rc != 0 || status != 0) {
            trace_read_failure("vxapi_get_flt_address: ReadOptionRom ioctl failed. ext status=", status, errno);
            return done(1);
        }
        // Each window is walked from its own start; the walker keeps every
        // header and data structure within the window and always ends.
        vximg_rom_walker walk;
        vximg_rom_walk_init(&walk, window.get(), kWindowBytes, 0, true);
        vximg_rom_image image;
        size_t vfim_seen = SIZE_MAX;
        bool more = true;
        while (more) {
            more = vximg_rom_walk_next(&walk, &image);
            if (walk.vfim_offset != vfim_seen) {
                vfim_seen = walk.vfim_offset;
                trace_position(kWalk, "vxapi_get_flt_address: Image Layout Table present at address=%x", vfim_seen);
            }
        }
        if (walk.result == VXIMG_ROM_LAST) {
            found_last = true;
            locator = walk.pos;
        } else if (walk.result == VXIMG_ROM_BAD_PCIR_OFFSET || walk.result == VXIMG_ROM_BAD_PCIR_SIGNATURE) {
            const size_t pcir = walk.pos + vximg_get_le16(window.get() + walk.pos + 0x18);
            trace_position(kWalk, "vxapi_get_flt_address: PCI data struct not found pcir_adr=%x", pcir);
        } else {
            vxdbg_line(kWalk, "vxapi_get_flt_address: No Valid Sig.ret=", static_cast<uint32_t>(walk.result),
                       VXDBG_HEX);
        }
    }

    // These chips keep their table at its default address only.
    if (default_only) return done(1);
    if (!found_last) {
        vxdbg_line(kErr, "vxapi_get_flt_address: Failed to find good image.");
        return done(1);
    }
    const uint8_t* loc = window.get() + locator;
    if (locator + sizeof(FLT_LOCATION) > kWindowBytes || std::memcmp(loc, VXIMG_FLT_SIGNATURE, 4) != 0) {
        vxdbg_line(kErr, "vxapi_get_flt_address: FLT signature failed.");
        return done(1);
    }
    if (!vximg_flt_location_valid(loc)) {
        vxdbg_line(kErr, "vxapi_get_flt_address: checksum failed.");
        return done(1);
    }
    if (flt_address != nullptr) *flt_address = vximg_flt_location_address(loc);
    return done(0);
}

// ---------------------------------------------------------------- the layout request

int32_t vxapi_get_optrom_layout(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* playout_buf,
                                uint32_t layout_size, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_get_optrom_layout: entered.");
    int32_t result;
    const uint16_t device = vxapi_device_id(api_priv_data_inst);
    const bool sysfs = vxapi_is_sysfs_port(api_priv_data_inst);
    if (sysfs || vx_chip_is(device, VxChipFamily::F24xx) || vx_chip_is(device, VxChipFamily::F25xx)) {
        result = vxsysfs_get_optrom_layout(handle, api_priv_data_inst, playout_buf, layout_size, pext_stat);
    } else {
        VxRequest req;
        req.command = EXT_CC_GET_OPTROM_LAYOUT;
        req.response = playout_buf;
        req.response_len = playout_buf != nullptr ? layout_size : 0;
        VxReply reply;
        result = vxapi_send_request("vxapi_get_optrom_layout", handle, api_priv_data_inst, req, &reply);
        if (pext_stat != nullptr) *pext_stat = reply.status;
        if (result == 0 && reply.status == 0 && playout_buf != nullptr) {
            result = keep_delivered_regions(playout_buf, reply.response_len);
        }
    }
    vxdbg_line(VXDBG_STEP, "vxapi_get_optrom_layout: exiting=", static_cast<uint32_t>(result), VXDBG_HEX);
    return result;
}

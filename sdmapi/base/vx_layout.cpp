// The option ROM layout: the fixed layouts, the global layout and its region
// lookup, and the building of a function's layout from the flash layout
// table in the adapter's flash.
#include "base/vx_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_chips.h"
#include "base/vx_request.h"
#include "core/flash/vx_optrom.h"
#include "base/vx_sddbg.h"
#include "image/flash_formats.h"
#include "transport/vx_sysfs_flash.h"

INT_OPT_ROM_LAYOUT gOptRomLayout;
INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout = nullptr;

// ---------------------------------------------------------------- fixed layouts

const INT_OPT_ROM_REGION LayoutKt[3] = {
    {0xFF, 0x20000, 0, 0x1FFFF},
    {0x03, 0x20000, 0, 0x1FFFF},
    {0, 0, 0, 0},
};

const INT_OPT_ROM_REGION Layout2312[3] = {
    {0xFF, 0x20000, 0, 0x1FFFF},
    {0x02, 0x20000, 0, 0x1FFFF},
    {0, 0, 0, 0},
};

const INT_OPT_ROM_REGION Layout2322[3] = {
    {0xFF, 0x100000, 0, 0xFFFFF},
    {0x05, 0x100000, 0, 0xFFFFF},
    {0, 0, 0, 0},
};

const INT_OPT_ROM_REGION Layout6312[3] = {
    {0xFF, 0x20000, 0, 0x1FFFF},
    {0x04, 0x20000, 0, 0x1FFFF},
    {0, 0, 0, 0},
};

const INT_OPT_ROM_REGION Layout6322[3] = {
    {0xFF, 0x100000, 0, 0xFFFFF},
    {0x06, 0x100000, 0, 0xFFFFF},
    {0, 0, 0, 0},
};

const INT_OPT_ROM_REGION Layout2422[8] = {
    {0xFF, 0x100000, 0, 0xFFFFF},      {0x07, 0x40000, 0, 0x3FFFF},       {0x87, 0x8000, 0x40000, 0x47FFF},
    {0x88, 0x8000, 0x48000, 0x4FFFF},  {0x29, 0x4000, 0x58000, 0x5BFFF},  {0x2A, 0x4000, 0x5C000, 0x5FFFF},
    {0x01, 0x80000, 0x80000, 0xFFFFF}, {0, 0, 0, 0},
};

// Region 0x08 holds regions 0x14 to 0x17.
const INT_OPT_ROM_REGION Layout25XX[19] = {
    {0xFF, 0x200000, 0, 0x1FFFFF},         {0x07, 0x40000, 0, 0x3FFFF},
    {0x11, 0x40000, 0x40000, 0x7FFFF},     {0x01, 0x40000, 0x80000, 0xBFFFF},
    {0x12, 0x20000, 0xC0000, 0xDFFFF},     {0xA0, 0x400, 0xE0000, 0xE03FF},
    {0x87, 0x8000, 0xF0000, 0xF7FFF},      {0x88, 0x8000, 0xF8000, 0xFFFFF},
    {0x13, 0x10000, 0x100000, 0x10FFFF},   {0x08, 0x10000, 0x120000, 0x12FFFF},
    {0x14, 0x200, 0x120000, 0x1201FF},     {0x15, 0x200, 0x120200, 0x1203FF},
    {0x16, 0x200, 0x120400, 0x1205FF},     {0x17, 0x200, 0x120600, 0x1207FF},
    {0x19, 0x10000, 0x130000, 0x13FFFF},   {0x2B, 0x8000, 0x148000, 0x14FFFF},
    {0x29, 0x4000, 0x170000, 0x173FFF},    {0x2A, 0x4000, 0x174000, 0x177FFF},
    {0, 0, 0, 0},
};

namespace {

template <size_t N>
const INT_OPT_ROM_REGION* table(const INT_OPT_ROM_REGION (&t)[N], uint32_t* regions) {
    *regions = static_cast<uint32_t>(N - 1);
    return t;
}

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

const INT_OPT_ROM_REGION* vxapi_fixed_layout(uint16_t device_id, uint16_t ssvendor_id, uint16_t ssdevice_id,
                                             uint32_t* regions) {
    uint32_t unused;
    if (regions == nullptr) regions = &unused;
    const VxChip* chip = vx_chip(device_id);
    switch (chip != nullptr ? chip->fixed_layout : VxFixedLayout::Other) {
    case VxFixedLayout::L25xx: return table(Layout25XX, regions);
    case VxFixedLayout::L2422: return table(Layout2422, regions);
    case VxFixedLayout::L6322: return table(Layout6322, regions);
    case VxFixedLayout::L6312: return table(Layout6312, regions);
    case VxFixedLayout::L2322: return table(Layout2322, regions);
    case VxFixedLayout::Other: break;
    }
    if (vx_board_has(ssvendor_id, ssdevice_id, VX_BOARD_KT)) return table(LayoutKt, regions);
    return table(Layout2312, regions);
}

uint16_t vxapi_device_id(const vxapi_priv_database* rec) {
    return rec != nullptr && rec->phy_info != nullptr ? rec->phy_info->device_id : 0;
}

// ---------------------------------------------------------------- the global layout

void vxapi_install_global_layout(const void* layout, size_t bytes) {
    std::memset(&gOptRomLayout, 0, sizeof gOptRomLayout);
    if (layout != nullptr) {
        std::memcpy(&gOptRomLayout, layout, std::min<size_t>(bytes, sizeof gOptRomLayout));
    }
    pGlobalOptRomLayout = &gOptRomLayout;
}

// A full layout has no closing entry: the scan never leaves the 255 entries.
void vxsysfs_map_region(uint32_t region, uint32_t* offset, uint32_t* size) {
    if (region == VX_REGION_RAW) return;
    uint32_t unused_offset, unused_size;
    if (offset == nullptr) offset = &unused_offset;
    if (size == nullptr) size = &unused_size;
    *offset = 0;
    *size = 0;
    const INT_OPT_ROM_LAYOUT* layout = pGlobalOptRomLayout;
    if (layout == nullptr) {
        vxdbg_line(VXDBG_ERROR | VXDBG_SYSFS, "> No global option rom layout present.");
        return;
    }
    for (uint32_t i = 0; i < VX_LAYOUT_MAX_REGIONS; ++i) {
        const INT_OPT_ROM_REGION& entry = layout->Region[i];
        if (entry.Size == 0) break;
        if ((entry.Region & 0xFF) == region) {
            *offset = entry.Beg;
            *size = entry.Size;
            return;
        }
    }
    vxdbg_line(VXDBG_ERROR | VXDBG_SYSFS, "> Unknown region");
}

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
    uint32_t address = 0;
    if (phy->pflt_layout == nullptr) {
        vxdbg_line(kErr, "vxapi_set_option_rom_layout: mem alloc failed.");
        vxdbg_line(VXDBG_STEP, "vxapi_set_option_rom_layout: exiting.");
        return 1;
    }
    if (chip == nullptr || (chip->flags & VX_CHIP_FLASH_LAYOUT_TABLE) == 0) {
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
        // No partial layout: the function goes on without one and the
        // global layout stays what it was.
        std::free(phy->pflt_layout);
        phy->pflt_layout = nullptr;
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
    const bool sysfs = api_priv_data_inst != nullptr && (api_priv_data_inst->features & VX_FEAT_SYSFS) != 0;
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

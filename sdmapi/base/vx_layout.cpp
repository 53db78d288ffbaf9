// The option ROM layout: the fixed layouts and the global layout with its
// region lookup. vxsysfs_map_region keeps the name the sysfs road gave it;
// it lives here because both roads look regions up with it.
#include "base/vx_layout.h"

#include <algorithm>
#include <cstring>

#include "base/vx_chips.h"
#include "base/vx_port_road.h"
#include "base/vx_sddbg.h"

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

// ---------------------------------------------------------------- a port's own layout

namespace {

// Whether the chip's layout is a fixed table: the chips without a flash
// layout table, and the 25xx chips, whose fixed table is their fallback.
bool has_fixed_table(uint16_t device_id) {
    return !vx_chip_has(device_id, VX_CHIP_FLASH_LAYOUT_TABLE) || vx_chip_is(device_id, VxChipFamily::F25xx);
}

// The whole-flash entry among the first `count` entries (a zero entry ends
// them): its start and size.
bool find_whole_flash(const INT_OPT_ROM_REGION* entries, uint32_t count, uint32_t* start, uint32_t* size) {
    for (uint32_t i = 0; i < count && entries[i].Size != 0; ++i) {
        if ((entries[i].Region & 0xFF) == VX_REGION_WHOLE_ROM) {
            *start = entries[i].Beg;
            *size = entries[i].Size;
            return true;
        }
    }
    return false;
}

}  // namespace

VxLayoutSource vxapi_layout_source(const vxapi_priv_database* rec) {
    const uint16_t device = vxapi_device_id(rec);
    if (vx_chip_has(device, VX_CHIP_FLASH_LAYOUT_TABLE) && rec->phy_info->pflt_layout != nullptr) {
        return VxLayoutSource::Function;
    }
    return has_fixed_table(device) ? VxLayoutSource::Chip : VxLayoutSource::None;
}

bool vxapi_flash_extent(const vxapi_priv_database* rec, uint32_t* start, uint32_t* size) {
    *start = 0;
    *size = 0;
    const vxapi_phy_info* phy = rec != nullptr ? rec->phy_info : nullptr;
    if (phy == nullptr) return false;
    const VxLayoutSource source = vxapi_layout_source(rec);
    if (source == VxLayoutSource::Function &&
        find_whole_flash(phy->pflt_layout->Region, VX_LAYOUT_MAX_REGIONS, start, size)) {
        return true;
    }
    if (!has_fixed_table(phy->device_id)) return false;
    uint32_t regions = 0;
    const INT_OPT_ROM_REGION* table = vxapi_fixed_layout(phy->device_id, phy->ssvendor_id, phy->ssdevice_id, &regions);
    return find_whole_flash(table, regions, start, size);
}

bool vxapi_flash_out_of_reach(const vxapi_priv_database* rec) {
    if (!vxapi_is_sysfs_port(rec)) return false;
    const vxapi_priv_database* port = rec->interface_type == VX_PORT_VIRTUAL ? rec->parent : rec;
    if (port == nullptr || (port->features & (VX_FEAT_FLASH_CHUNKS | VX_FEAT_BSG)) != 0) return false;
    uint32_t start = 0;
    uint32_t size = 0;
    return !vxapi_flash_extent(rec, &start, &size);
}

// ---------------------------------------------------------------- the global layout

void vxapi_install_global_layout(const void* layout, size_t bytes) {
    std::memset(&gOptRomLayout, 0, sizeof gOptRomLayout);
    if (layout != nullptr) {
        std::memcpy(&gOptRomLayout, layout, std::min<size_t>(bytes, sizeof gOptRomLayout));
    }
    pGlobalOptRomLayout = &gOptRomLayout;
}

void vxapi_clear_global_layout() {
    std::memset(&gOptRomLayout, 0, sizeof gOptRomLayout);
    pGlobalOptRomLayout = nullptr;
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

void vxsysfs_map_port_region(const vxapi_priv_database* rec, uint32_t region, uint32_t* offset, uint32_t* size) {
    if (region != VX_REGION_WHOLE_ROM) {
        vxsysfs_map_region(region, offset, size);
        return;
    }
    uint32_t unused_offset, unused_size;
    (void)vxapi_flash_extent(rec, offset != nullptr ? offset : &unused_offset, size != nullptr ? size : &unused_size);
}

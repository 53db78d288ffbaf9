// Where the regions of an adapter's flash lie: the option ROM layout.
//
// Each PCI function keeps its own layout (vxapi_phy_info::pflt_layout), built
// from the flash layout table in the adapter's flash on the chips that carry
// one (core/flash/vx_flash_layout.h). Region lookups go through one
// process-wide copy, the global layout, which holds the layout of the adapter
// refreshed last, or none when that adapter's layout could not be built.
// Older chips have a fixed layout per device, or the driver reports the
// layout itself.
//
// vxsysfs_map_region keeps the name the sysfs road gave it; it lives here
// because both roads look regions up with it.
//
// The global layout is not guarded: refresh and use happen on the caller's
// thread, one adapter at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_chips.h"
#include "base/vx_records.h"

// Region codes with a meaning of their own.
constexpr uint32_t VX_REGION_RAW = 0xFFFF;       // no region: the offset and size are flash bytes
constexpr uint32_t VX_REGION_WHOLE_ROM = 0xFF;   // the whole flash (first entry of every fixed layout)

// One region of a layout. Entries of a flash layout table are copied in as
// they lie in flash, so only the low 8 bits of Region are the region code.
struct INT_OPT_ROM_REGION {
    uint32_t Region;
    uint32_t Size;  // bytes; 0 closes the layout
    uint32_t Beg;   // first flash byte offset
    uint32_t End;   // last flash byte offset (inclusive)
};
static_assert(sizeof(INT_OPT_ROM_REGION) == 16);
static_assert(offsetof(INT_OPT_ROM_REGION, Size) == 4);
static_assert(offsetof(INT_OPT_ROM_REGION, Beg) == 8);
static_assert(offsetof(INT_OPT_ROM_REGION, End) == 12);

constexpr uint32_t VX_LAYOUT_MAX_REGIONS = 255;
constexpr uint32_t VX_LAYOUT_BYTES = 4088;

// A whole layout: every layout buffer is 4088 bytes. After the last entry
// in use the buffer is zero, except in a layout whose 255 entries are all in
// use, which has no closing entry.
struct INT_OPT_ROM_LAYOUT {
    uint32_t Size;  // the whole flash for the fixed layouts; 0 when built from the flash
    uint32_t NoOfRegions;
    INT_OPT_ROM_REGION Region[VX_LAYOUT_MAX_REGIONS];
};
static_assert(sizeof(INT_OPT_ROM_LAYOUT) == VX_LAYOUT_BYTES);
static_assert(offsetof(INT_OPT_ROM_LAYOUT, NoOfRegions) == 4);
static_assert(offsetof(INT_OPT_ROM_LAYOUT, Region) == 8);

// The global layout, and the pointer to it once it has been filled (null
// before: a lookup then finds nothing).
extern INT_OPT_ROM_LAYOUT gOptRomLayout;
extern INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout;

// Makes `bytes` bytes of a layout (at most 4088) the global layout: the rest
// of the global layout is zero.
void vxapi_install_global_layout(const void* layout, size_t bytes);

// Leaves no global layout, as before the first was installed: the global
// layout zero and the pointer null, so that a lookup finds nothing.
void vxapi_clear_global_layout();

// Fixed layouts: the whole-flash entry first, a zero entry last.
extern const INT_OPT_ROM_REGION LayoutKt[3];
extern const INT_OPT_ROM_REGION Layout2312[3];
extern const INT_OPT_ROM_REGION Layout2322[3];
extern const INT_OPT_ROM_REGION Layout6312[3];
extern const INT_OPT_ROM_REGION Layout6322[3];
extern const INT_OPT_ROM_REGION Layout2422[8];
extern const INT_OPT_ROM_REGION Layout25XX[19];

// The fixed layout of a board by its PCI ids (the chip's own, else LayoutKt
// on a KT board, else Layout2312), and the number of its entries before the
// zero entry.
[[nodiscard]] const INT_OPT_ROM_REGION* vxapi_fixed_layout(uint16_t device_id, uint16_t ssvendor_id,
                                                           uint16_t ssdevice_id, uint32_t* regions);

// The PCI device ID of the port's function; 0 without one.
[[nodiscard]] uint16_t vxapi_device_id(const vxapi_priv_database* rec);

// Where a port's own layout comes from. Function: its function's layout,
// built from the flash layout table in its flash. Chip: the chip's layout,
// where the chip has one that is not the flash's: a fixed table (the chips
// without a flash layout table; the 25xx chips, whose fixed table stands in
// when their table could not be read), or on the driver's road for the chips
// without a fixed table the driver's. None: a flash-layout chip whose table
// could not be read and that has nothing to fall back to.
enum class VxLayoutSource { Function, Chip, None };

[[nodiscard]] VxLayoutSource vxapi_layout_source(const vxapi_priv_database* rec);

// The whole flash of a port's adapter on the sysfs road, as the port's own
// layout gives it and never the global layout: the whole-flash entry (0xFF)
// of its function's layout, else that of the chip's fixed table (a layout
// built from the flash has no whole-flash entry; the chip's fixed table, where
// it has one, gives the flash's size). False, with start and size 0, when the
// adapter's layout names no whole flash.
[[nodiscard]] bool vxapi_flash_extent(const vxapi_priv_database* rec, uint32_t* start, uint32_t* size);

// Whether the port's adapter flash is out of reach on the port's driver: a
// sysfs port (a virtual port by its physical port) whose driver moves the
// flash only whole through its window (no chunked access) and has no bsg node
// to move spans of it, while the port's own layout names no whole flash
// (vxapi_flash_extent). Nothing of such a flash can be read or written, not
// even its flash layout table, whose read would need the size the table names.
[[nodiscard]] bool vxapi_flash_out_of_reach(const vxapi_priv_database* rec);

// Region lookup in the global layout: the region's first flash byte and
// size. Region 0xFFFF leaves both as they are; an unknown code, or no global
// layout, gives offset and size 0.
void vxsysfs_map_region(uint32_t region, uint32_t* offset, uint32_t* size);

// Region lookup for a sysfs port: the whole flash (0xFF) as the port's own
// layout gives it (vxapi_flash_extent), any other code as vxsysfs_map_region
// finds it in the global layout, which the caller installed for the port's
// adapter just before.
void vxsysfs_map_port_region(const vxapi_priv_database* rec, uint32_t region, uint32_t* offset, uint32_t* size);

// The widening of a flash write to whole flash sectors, by a read-modify-write
// of the sectors it touches. The aligner reads through the road of the
// writer that calls it: the ioctl workers hand it theirs, the sysfs and bsg
// writers theirs, so that it never chooses a road itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_records.h"

// Flash descriptor table, read from flash (little-endian). Valid when it
// starts with "VXID" and its 64 16-bit words add up to 0. Only block_size,
// the flash sector size, is used.
#pragma pack(push, 1)
struct FDT_LAYOUT {
    uint8_t sig[4];  // "VXID"
    uint16_t version;
    uint16_t len;
    uint16_t checksum;
    uint8_t unused1[2];
    uint8_t model[16];
    uint16_t man_id;
    uint16_t id;
    uint8_t flags;
    uint8_t erase_cmd;
    uint8_t alt_erase_cmd;
    uint8_t wrt_enable_cmd;
    uint8_t wrt_enable_bits;
    uint8_t wrt_sts_reg_cmd;
    uint8_t unprotect_sec_cmd;
    uint8_t read_man_id_cmd;
    uint32_t block_size;
    uint32_t alt_block_size;
    uint32_t flash_size;
    uint32_t wrt_enable_data;
    uint8_t read_id_addr_len;
    uint8_t wrt_disable_bits;
    uint8_t read_dev_id_len;
    uint8_t chip_erase_cmd;
    uint16_t read_timeout;
    uint8_t protect_sec_cmd;
    uint8_t unused2[65];
};
#pragma pack(pop)
static_assert(sizeof(FDT_LAYOUT) == 128);
static_assert(offsetof(FDT_LAYOUT, checksum) == 8);
static_assert(offsetof(FDT_LAYOUT, model) == 12);
static_assert(offsetof(FDT_LAYOUT, block_size) == 40);
static_assert(offsetof(FDT_LAYOUT, flash_size) == 48);
static_assert(offsetof(FDT_LAYOUT, read_timeout) == 60);
static_assert(offsetof(FDT_LAYOUT, unused2) == 63);

constexpr char VX_FDT_SIGNATURE[4] = {'V', 'X', 'I', 'D'};

// The sector size taken when neither the driver nor the flash gives a usable one.
constexpr uint32_t VX_DEFAULT_SECTOR_SIZE = 0x10000;
// A sector size above this is not believed.
constexpr uint32_t VX_MAX_SECTOR_SIZE = 0x1000000;

// The two reads the alignment makes, on one road.
struct VxFlashReader {
    // A raw read (region 0xFFFF) of size bytes at the flash offset into buf;
    // the arguments and results of vxapi_read_optrom.
    int32_t (*read)(int handle, vxapi_priv_database* rec, uint8_t* buf, uint32_t size, uint32_t region,
                    uint32_t offset, uint32_t* pext_stat);
    // The sector size the road reports: 0 with the size, else 1.
    uint32_t (*sector_size)(int handle, vxapi_priv_database* rec, uint32_t* pflash_sector_size);
};

// The lines the ioctl road's two reads trace on entry and exit. The sysfs
// road's reader traces them too, so that an alignment traces the same lines
// on both roads.
constexpr const char* VX_TRACE_READ_OPTROM_ENTERED = "vxapi_read_optrom: entered.";
constexpr const char* VX_TRACE_SECTOR_SIZE_ENTERED = "vxapi_get_flash_sector_size: entered.";
constexpr const char* VX_TRACE_SECTOR_SIZE_EXITING = "vxapi_get_flash_sector_size: exiting.";

// Widens [*offset, *offset + *size) to whole flash sectors. The caller sets
// *db to poptrom first; on return *db is still poptrom (already aligned) or
// a new buffer (calloc'd; the caller frees it) holding the flash contents of
// the widened span with the caller's bytes in place. 0, or 1 with nothing
// changed: also when the span could not be read whole.
[[nodiscard]] uint32_t vxapi_sector_align(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t** db,
                                          uint8_t* poptrom, uint32_t* offset, uint32_t* size,
                                          const VxFlashReader& road);

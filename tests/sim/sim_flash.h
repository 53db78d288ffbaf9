// The flash side of the simulated adapter driver, and realistic flash
// contents per chip.
//
// install_flash(): flash read (0x0F) and write (0x0A), raw at Reserved1
// (SubCode 0xFFFF) or Reserved1 bytes into a region the driver places itself
// (SimAdapter::driver_regions); a transfer past the flash or its region
// answers status 6. Writes are recorded (flash_writes), torn (torn_write) or
// busy (busy_writes). The option ROM layout (0x10) is driver_layout.
//
// build_chip_flash(): for the flash-layout chips a boot code chain at 0
// (BIOS, FCode, EFI) with the "VFLT" locator behind it, the flash descriptor
// "VXID" and the flash layout table at the chip's addresses; for the others
// the regions the driver places. Every other byte holds flash_pattern(offset).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/vx_records.h"
#include "flash_builder.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace sim {

void install_flash(SimDriver& driver);

// The filler byte of flash offset i.
uint8_t flash_pattern(size_t i);

struct ChipFlashOptions {
    enum class Table {
        AtDefault,  // the table at the chip's default address
        Moved,      // the table elsewhere (table_address), the default address erased
        None,       // no table at all
    };
    Table table = Table::AtDefault;
    std::optional<uint32_t> table_address;       // where a moved table goes (default: descriptor - 0x10000)
    FltOptions table_options;                    // version, checksum, length of the table's header
    std::optional<std::vector<FltRegion>> regions;  // default: the chip's usual regions
    bool locator = true;                         // the locator behind the boot code chain
    bool corrupt_locator = false;
    std::optional<uint16_t> vfim_length;         // an image layout header before the first image
    bool chain_in_second_window = false;         // the chain at 0x200000, nothing at 0 (0x8001)
    std::optional<uint32_t> fdt_block_size = 0x10000;  // nullopt: no descriptor table
    bool corrupt_fdt = false;                    // the descriptor's checksum off by one
};

struct ChipFlash {
    uint32_t size = 0;
    std::optional<uint32_t> table_address;  // where the table stands, if anywhere
    RomChain chain;
    std::vector<FltRegion> regions;  // the table's regions (flash-layout chips)
};

// Fills adapter.flash (and, for chips whose regions the driver places,
// adapter.driver_regions) by adapter.device_id.
ChipFlash build_chip_flash(SimAdapter& adapter, const ChipFlashOptions& options = {});

// A simulated host with the driver and its flash handlers, one adapter of
// the chip with its flash, one port, the library's port and function records
// of that port, and the driver's node open. The library's global layout is
// cleared on construction and on destruction, and the function's layout is
// released.
struct FlashRig {
    explicit FlashRig(uint16_t device_id, const ChipFlashOptions& options = {}, bool new_header = true);
    ~FlashRig();
    FlashRig(const FlashRig&) = delete;
    FlashRig& operator=(const FlashRig&) = delete;

    // The chip query's answer carries this flash block size.
    void set_flash_block_size(uint32_t size);
    // Rebuilds the adapter's flash with other options.
    void rebuild(const ChipFlashOptions& options) { flash = build_chip_flash(*adapter, options); }
    // The driver's requests of one command since the last clear_log().
    std::vector<SimLogEntry> requests(uint8_t command) const;

    SimHost host;
    SimDriver driver;
    SimAdapter* adapter = nullptr;
    SimPort* port = nullptr;
    ChipFlash flash;
    vxapi_phy_info phy{};
    vxapi_priv_database rec{};
    int fd = -1;
};

}  // namespace sim

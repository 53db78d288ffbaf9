// The NVRAM and VPD side of the simulated adapter driver, and VPD regions in
// the flash of the flash-layout chips (sim_flash.cpp).
//
// install_nvram_vpd() registers the driver's handlers of
// - NVRAM read (0x0C) and write (0x0D) of SimPort::nvram, VPD read (0x11)
//   and write (0x12) of SimAdapter::vpd: a read gives the first bytes, at
//   most the response capacity (a short VPD reports a short length); a write
//   puts the request bytes over the start (the store grows to hold them).
// A port without an adapter answers status 9.
#pragma once

#include <cstdint>
#include <vector>

#include "flash_builder.h"
#include "sim_driver.h"
#include "sim_flash.h"

namespace sim {

void install_nvram_vpd(SimDriver& driver);

// Options for build_chip_flash (or FlashRig) whose table carries, besides
// the chip's usual regions, every VPD region of the flash-layout chips:
// 0x14 and 0x16 (0x200 bytes each), 0xD4 and 0xD6 (0x200), and 0x81 (0x400).
ChipFlashOptions vpd_flash_options(uint16_t device_id);

// The region of that code in the table of the built flash (null: none).
const FltRegion* find_region(const ChipFlash& flash, uint8_t code);

// Writes bytes at the start of the region of that code; the bytes must fit it.
void place_in_region(SimAdapter& adapter, const ChipFlash& flash, uint8_t code, const Bytes& bytes);

}  // namespace sim

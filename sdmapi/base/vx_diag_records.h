// Records of the adapter's diagnostic and tuning requests that every road
// carries: the board temperature, the QoS table and the flash update
// capabilities.
#pragma once

#include <cstddef>
#include <cstdint>

// The board temperature: the integer part and a two-digit fraction.
struct EXT_BOARD_TEMP {
    uint16_t IntTemp;
    uint16_t FracTemp;
    uint32_t Reserved[15];
};
static_assert(sizeof(EXT_BOARD_TEMP) == 64);
static_assert(offsetof(EXT_BOARD_TEMP, Reserved) == 4);

// One entry of the QoS table.
struct vxa_qos_entry {
    uint8_t type;
    uint8_t val;
    uint8_t status;
    uint8_t reserved;
    uint8_t wwpn[8];
    uint8_t reserved1[20];
};
static_assert(sizeof(vxa_qos_entry) == 32);
static_assert(offsetof(vxa_qos_entry, wwpn) == 4);

// The QoS table: num_entries entries follow the 4-byte head.
struct vxa_qos_config {
    uint16_t num_entries;
    uint16_t qos_vendor;
    vxa_qos_entry entry[1];
};
static_assert(offsetof(vxa_qos_config, entry) == 4);
static_assert(sizeof(vxa_qos_config) == 36);

// The adapter's flash update capabilities record.
struct vxa_flash_update_caps {
    uint64_t capabilities;
    uint32_t outage_duration;
    uint8_t reserved[20];
};
static_assert(sizeof(vxa_flash_update_caps) == 32);
static_assert(offsetof(vxa_flash_update_caps, outage_duration) == 8);
static_assert(offsetof(vxa_flash_update_caps, reserved) == 12);

// Directions of the capabilities request.
constexpr uint32_t VX_FUCAPS_READ = 0;
constexpr uint32_t VX_FUCAPS_SEND = 1;

// The QoS record as the firmware reads it from the port's QoS flash region:
// little-endian, written from the region's first byte.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char VX_QOS_SIGNATURE[4] = {'V', 'Q', 'O', 'S'};
constexpr uint16_t VX_QOS_VERSION = 1;

// One setting. Note the order of val and type, the reverse of the API entry.
struct vxa_flash_qos_entry {
    uint16_t reserved_0;
    uint8_t val;
    uint8_t type;
    uint8_t reserved_1[12];
    uint8_t wwpn[8];
    uint8_t reserved_2[8];
};
static_assert(sizeof(vxa_flash_qos_entry) == 32);
static_assert(offsetof(vxa_flash_qos_entry, val) == 2);
static_assert(offsetof(vxa_flash_qos_entry, wwpn) == 16);

// The header; num_entries entries follow it.
struct vxa_flash_qos_config {
    uint8_t signature[4];    // VX_QOS_SIGNATURE
    uint16_t version;        // VX_QOS_VERSION
    uint16_t length;         // the record's bytes
    uint16_t checksum;       // all 16-bit words of the record add up to 0
    uint16_t num_entries;
    uint16_t size_of_entry;  // sizeof(vxa_flash_qos_entry)
    uint16_t reserved;
};
static_assert(sizeof(vxa_flash_qos_config) == 16);
static_assert(offsetof(vxa_flash_qos_config, checksum) == 8);
static_assert(offsetof(vxa_flash_qos_config, size_of_entry) == 12);

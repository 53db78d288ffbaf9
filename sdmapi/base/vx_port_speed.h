// The port parameter record (a remote port's link speed) and the two forms
// of a port speed: the library's code, the speed in Gbit written as
// hexadecimal digits (0x16 is 16 Gbit), and the code that the driver's bsg
// and netlink commands carry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_passthru_records.h"

// Request and answer of the port parameter operation.
struct INT_PORT_PARAM {
    EXT_DEST_ADDR FCScsiAddr;  // the remote port
    uint16_t Mode;             // VX_PORT_PARAM_GET, anything else sets
    uint16_t Speed;            // the library's speed code
};
static_assert(sizeof(INT_PORT_PARAM) == 20);
static_assert(offsetof(INT_PORT_PARAM, Mode) == 16);
static_assert(offsetof(INT_PORT_PARAM, Speed) == 18);

constexpr uint16_t VX_PORT_PARAM_GET = 0;

// A driver code with no library speed reads as this.
constexpr uint16_t VX_PORT_SPEED_UNKNOWN = 0xFFFF;

struct VxPortSpeed {
    uint16_t speed;  // the library's code
    uint16_t code;   // the driver's
};

inline constexpr VxPortSpeed kVxPortSpeeds[] = {
    {0x01, 0x00}, {0x02, 0x01}, {0x04, 0x03}, {0x08, 0x04}, {0x10, 0x13}, {0x16, 0x05}, {0x32, 0x06},
};

// The driver code of a library speed into *code; false (nothing written) for
// a speed outside the table.
[[nodiscard]] inline bool vxapi_port_speed_to_code(uint16_t speed, uint16_t* code) {
    for (const VxPortSpeed& s : kVxPortSpeeds) {
        if (s.speed == speed) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

// The library speed of a driver code; VX_PORT_SPEED_UNKNOWN outside the table.
[[nodiscard]] inline uint16_t vxapi_port_code_to_speed(uint16_t code) {
    for (const VxPortSpeed& s : kVxPortSpeeds) {
        if (s.code == code) return s.speed;
    }
    return VX_PORT_SPEED_UNKNOWN;
}

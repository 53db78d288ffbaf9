// i2c devices of a sysfs-mode port behind bsg vendor commands 16 (write) and
// 17 (read) of its FC host: each piece is one vxa_i2c_access block; the reply
// word is the driver's status of the piece.
#pragma once

#include <deque>
#include <map>

#include "sim_bsg.h"
#include "sim_passthru.h"

namespace sim {

struct SimI2c {
    std::map<uint16_t, Bytes> memory;  // by device address; a piece must lie within
    std::deque<uint32_t> statuses;     // reply words of the next pieces (then 0)
    void attach(SimBsg& bsg);
};

}  // namespace sim

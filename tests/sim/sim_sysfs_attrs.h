// i2c devices behind bsg vendor commands 16 (write) and 17 (read) of a sysfs-mode port's FC host: one
// vxa_i2c_access block a piece; the reply word is the driver's status of the piece.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "sim_bsg.h"
#include "sim_passthru.h"
#include "transport/vx_sysfs_attrs.h"

namespace sim {

struct SimI2c {
    std::map<uint16_t, Bytes> memory;  // by device address; a piece must lie within
    uint32_t status = 0;               // the reply word of every piece
    void attach(SimBsg& bsg) {
        for (const uint32_t code : {16u, 17u}) {
            bsg.vendor[code] = [this, code](BsgJob& job) {
                vxa_i2c_access a;  // a read names its block in both directions
                if (job.dout.size() != sizeof a || job.hdr.max_response_len < 12) return EINVAL;
                std::memcpy(&a, job.dout.data(), sizeof a);
                Bytes& m = memory[a.device];
                if (a.length > 64 || size_t{a.offset} + a.length > m.size()) return EINVAL;
                if (status == 0 && code == 16) std::copy_n(a.buffer, a.length, m.begin() + a.offset);
                if (status == 0 && code == 17) std::copy_n(m.begin() + a.offset, a.length, job.din + 8);
                std::memcpy(job.reply + 8, &status, sizeof status);
                return 0;
            };
        }
    }
};

}  // namespace sim

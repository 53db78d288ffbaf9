#include "sim_sysfs_attrs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transport/vx_sysfs_attrs.h"

namespace sim {

void SimI2c::attach(SimBsg& bsg) {
    for (const uint32_t code : {16u, 17u}) {
        bsg.vendor[code] = [this, code](BsgJob& job) {
            vxa_i2c_access a;  // a read names its block in both directions
            if (job.dout.size() != sizeof a || job.hdr.max_response_len < 12) return EINVAL;
            std::memcpy(&a, job.dout.data(), sizeof a);
            uint32_t status = statuses.empty() ? 0 : statuses.front();
            if (!statuses.empty()) statuses.pop_front();
            Bytes& m = memory[a.device];
            if (a.length > 64 || size_t{a.offset} + a.length > m.size()) status = 6;
            if (status == 0 && code == 16) std::copy_n(a.buffer, a.length, m.begin() + a.offset);
            if (status == 0 && code == 17) std::copy_n(m.begin() + a.offset, a.length, a.buffer);
            if (code == 17) std::memcpy(job.din, &a, sizeof a);
            std::memcpy(job.reply + 8, &status, sizeof status);
            return 0;
        };
    }
}

}  // namespace sim

// The driver's management vendor commands on the bsg device (codes 1 to 6 and 9): the loopback reply carries the
// mailboxes and the command sent, the port parameter reply the request's record with speed_code.
#pragma once
#include <array>
#include <cstring>

#include "sim_bsg.h"

namespace sim {
struct SimMgmtBsg {
    std::array<uint16_t, 32> mailbox{};
    uint8_t command_sent = 0;
    uint16_t speed_code = 0;
    void serve(SimBsg& bsg) {
        for (uint32_t code : {1, 2, 3, 4, 5, 6, 9}) bsg.vendor[code] = [this](BsgJob& j) { return answer(j); };
    }
    int answer(BsgJob& job) const {
        if (job.code == 1) std::memcpy(job.reply + 16, mailbox.data(), sizeof mailbox), job.reply[80] = command_sent;
        if (job.code == 5) std::memcpy(job.reply + 16, job.request.data() + 20, 18);
        if (job.code == 5) std::memcpy(job.reply + 34, &speed_code, sizeof speed_code);
        return 0;
    }
};
}  // namespace sim

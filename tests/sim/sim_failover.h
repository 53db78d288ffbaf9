// The failover side of the simulated driver: requests 200 to 212, each
// answered with the reply set for its number and kept as the last request of
// that number. A reply set without bytes (or none) answers status as set
// (0) and, when that is a success (0, or 15 with the GOOD detail status 0),
// fills the request's reply area whole with zeros, as the driver fills its
// reply records. A number's reply can be given a list count (the u16 at byte
// 2, as the LUN and load-balancing lists hold it) and be delivered only in
// part. Header layouts, lengths and addresses, HbaSelect and the injection of
// statuses, short answers and errno values are the driver's (sim_driver.h).
#pragma once

#include <algorithm>
#include <map>

#include "sim_driver.h"

namespace sim {

struct SimFailover {
    std::map<uint8_t, SimReply> replies;
    std::map<uint8_t, SimRequest> received;
    std::map<uint8_t, uint16_t> counts;     // the count written at bytes 2-3 of the number's reply
    std::map<uint8_t, uint32_t> delivered;  // the number's reply delivered (and reported) only this far

    void install(SimDriver& driver) {
        for (unsigned nr = 200; nr <= 212; ++nr) {
            driver.on(static_cast<uint8_t>(nr), [this](const SimRequest& req) {
                received[req.command] = req;
                SimReply reply = replies[req.command];
                const bool success = reply.status == 0 || (reply.status == 15 && reply.detail_status == 0);
                if (success && reply.response.empty()) reply.response.assign(req.response_capacity, 0);
                if (const auto count = counts.find(req.command); count != counts.end()) {
                    if (reply.response.size() < 4) reply.response.resize(4);
                    reply.response[2] = static_cast<uint8_t>(count->second);
                    reply.response[3] = static_cast<uint8_t>(count->second >> 8);
                }
                if (const auto cut = delivered.find(req.command); cut != delivered.end()) {
                    reply.response.resize(std::min<size_t>(reply.response.size(), cut->second));
                }
                return reply;
            });
        }
    }
};

}  // namespace sim

// The failover side of the simulated driver: requests 200 to 212, each
// answered with the reply set for its number and kept as the last request of
// that number. A reply set without bytes (or none) answers status as set
// (0) and, when that is 0, fills the request's reply area whole with zeros,
// as the driver fills its reply records. Header layouts, lengths and
// addresses, HbaSelect and the injection of statuses, short answers and
// errno values are the driver's (sim_driver.h).
#pragma once

#include <map>

#include "sim_driver.h"

namespace sim {

struct SimFailover {
    std::map<uint8_t, SimReply> replies;
    std::map<uint8_t, SimRequest> received;

    void install(SimDriver& driver) {
        for (unsigned nr = 200; nr <= 212; ++nr) {
            driver.on(static_cast<uint8_t>(nr), [this](const SimRequest& req) {
                received[req.command] = req;
                SimReply reply = replies[req.command];
                if (reply.status == 0 && reply.response.empty()) reply.response.assign(req.response_capacity, 0);
                return reply;
            });
        }
    }
};

}  // namespace sim

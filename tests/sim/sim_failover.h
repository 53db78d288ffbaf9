// The failover side of the simulated driver: requests 200 to 212, each
// answered with the reply set for its number (none: status 0, no bytes) and
// kept as the last request of that number. Header layouts, lengths and
// addresses, HbaSelect and the injection of statuses and errno values are
// the driver's (sim_driver.h).
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
                return replies[req.command];
            });
        }
    }
};

}  // namespace sim

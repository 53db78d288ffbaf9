// The failover side of the simulated driver: requests 200 to 212 on both
// header layouts, each answered with the reply the test set for its number
// (none: status 0, nothing written) and kept as the last request of that
// number. The driver itself checks HbaSelect against its instances (status
// 9 for none), honours the lengths and addresses, and injects statuses and
// errno values.
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

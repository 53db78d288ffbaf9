// The fabric behind a simulated port's pass-through, and the driver's side of
// it. The fabric holds the remote target ports, each with a SCSI target, and
// answers CT requests (FS_ACC with the port IDs for the directory service,
// else FS_RJT) and ELS requests (ECHO, RLS; others LS_RJT) for any road. The
// driver's handlers: SCSI pass-through 0x05 by address (0) or WWPN (1, 2), a
// non-GOOD status as 15 with the status byte in DetailStatus and the sense in
// the request record; CT 0x01, ELS 0x30, RNID 0x04, get/set data 0x06/0x07
// (sub-codes 8, 10, 0x6D: from `data`), LUN data 0xCE, loopback 0x09.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim_driver.h"
#include "sim_queries.h"
#include "sim_scsi_target.h"

namespace sim {

using Bytes = std::vector<uint8_t>;

struct SanPort {
    Wwn wwpn{};
    uint16_t bus = 0, target = 0;
    ScsiTarget scsi;
};

struct SanFabric {
    std::vector<SanPort> ports;
    bool reject_echo = false, reject_rls = false;
    std::map<uint16_t, Bytes> data;  // get/set data by sub-code
    Bytes lun_data;                  // answer of the LUN data request
    SanPort* find(const uint8_t* wwpn);
    Bytes ct(const Bytes& ct_iu) const;
    Bytes els(const Bytes& payload) const;
};

void install_passthru_handlers(SimDriver& driver, SanFabric& fabric);

}  // namespace sim

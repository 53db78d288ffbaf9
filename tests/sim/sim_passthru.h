// The fabric behind a simulated port's pass-through, and the driver's side of
// it. The fabric holds the remote target ports, each with a SCSI target, and
// answers CT requests (FS_ACC with the port IDs for the directory service,
// else FS_RJT) and ELS requests (ECHO: LS_ACC with the echoed data or LS_RJT;
// RLS: LS_ACC with a link error status block; others LS_RJT) in a form that
// any road can serve. The driver's handlers: SCSI pass-through 0x05 by
// address (0), by WWPN (1, 2), with data out taken from the response slot and
// a non-GOOD status as 15 with the status byte in DetailStatus and the sense
// in the request record; overrun 7, host error with residual 8 (else 1),
// unknown target 9. CT 0x01, ELS 0x30, RNID 0x04, get/set data 0x06/0x07
// (beacon 8, target LUN list 10, RNID 0x6D: a set stores, a get answers what
// `data` holds), LUN data 0xCE (HbaInstance checked), loopback 0x09.
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
    bool reject_echo = false;
    bool reject_rls = false;
    std::map<uint16_t, Bytes> data;  // get/set data by sub-code
    Bytes lun_data;                  // answer of the LUN data request
    SanPort* find(const uint8_t* wwpn);
    Bytes ct(const Bytes& ct_iu) const;
    Bytes els(const Bytes& payload) const;
};

void install_passthru_handlers(SimDriver& driver, SanFabric& fabric);

}  // namespace sim

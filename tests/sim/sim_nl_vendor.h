// The adapter driver's side of the netlink vendor commands for one SCSI
// host: what each command leaves in the adapter and what it answers (the
// peer's request log keeps what was sent). A piece or address outside its
// whole gets the error word 1.
#pragma once

#include <cstdint>
#include <map>

#include "base/vx_driver_records.h"
#include "sim_netlink.h"

namespace sim {

struct NlVendorHost {
    Bytes image;                    // the Tarno image, reassembled by offset
    Bytes memory = Bytes(0x20000);  // Tarno memory; get information reads it from `type` on
    Bytes loop;                     // loopback data by offset; each send reply's crc_err_cnt counts the pieces so far
    std::map<uint64_t, uint16_t> speeds;  // driver speed code by remote port name (8 bytes)
    Bytes prio_cfg;                       // FCP priority configuration
    vxa_status_reg status_reg{};          // FRU status register
    std::map<uint32_t, uint32_t> serdes;  // SerDes registers by address
    std::map<uint16_t, Bytes> i2c;        // i2c devices by address, 64 KiB each
};

// Answers the vendor commands of host_no on nl from state (kept by the caller).
void serve_vendor_commands(SimNetlink& nl, unsigned host_no, NlVendorHost& state);

}  // namespace sim

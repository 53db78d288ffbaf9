// The query side of the simulated driver: the records a port answers about
// itself (node, port, chip, converged port, driver, firmware, link
// statistics) and handlers for what canned records cannot answer: the
// discovered ports and targets by index (query 3, 4), event registration
// (0x02: Enable kept, aen_buf_len given back) and the event FIFO (0x03: the
// whole events that fit), and by a WWPN in the request the SCSI address
// (0xFD) and the remote port statistics (get data 0x70); the port summary
// (get data 0x6A). add_query_port installs the handlers again, so a test
// registers its own for the same requests after its last port.
#pragma once

#include <array>
#include <cstdint>

#include "sim_driver.h"

namespace sim {

using Wwn = std::array<uint8_t, 8>;

// The port name a port gets by default: unique per driver instance; its node
// name is the same but for the first byte (0x20 for 0x21).
Wwn default_wwpn(const SimDriver& driver, const SimPort& port);

// Records of a port with defaults derived from it: its names, driver
// instance, host number, PCI location and its adapter's PCI ids and serial.
EXT_HBA_NODE make_node_record(const SimDriver& driver, const SimPort& port);
EXT_HBA_PORT make_port_record(const SimDriver& driver, const SimPort& port);
EXT_CHIP make_chip_record(const SimDriver& driver, const SimPort& port);
EXT_CNA_PORT make_cna_record(const SimPort& port);
EXT_DRIVER make_driver_record(const SimPort& port);

// A new port of the adapter, or virtual port of the parent, with the records
// above as its answers to query SubCodes 1, 2, 8, 9 and get data 3
// (link statistics, all zero), 6, 7; the handlers installed.
SimPort& add_query_port(SimDriver& driver, const SimAdapter& adapter);
SimPort& add_query_virtual_port(SimDriver& driver, const SimPort& parent);

// Adds a remote port to the port's discovered ports: a fabric port (Type 2)
// with unique names, port identifier 01:02:nn, SCSI target id = its number
// among the targets, one LUN. The counts of the port's canned port record
// (DiscPortCount, DiscTargetCount) follow.
SimPort::RemotePort& add_remote_port(SimPort& port, bool is_target = true);

// An event record; for an RSCN the affected address goes into RSCNInfo.
EXT_ASYNC_EVENT make_event(uint32_t code, uint32_t rscn_port_id = 0, uint8_t addr_format = 0);

}  // namespace sim

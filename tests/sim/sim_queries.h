// The query side of the simulated driver: the records a port answers about
// itself (node, port, chip, converged port, driver, firmware, link
// statistics) and handlers for the requests that canned records cannot
// answer:
// - query 3 / 4: the remote port / target at index Instance (status 9 past
//   the end);
// - 0x02: records Enable in aen_enabled and leaves aen_buf_len in the
//   request's BufLength (status 6 for a request shorter than 8 bytes);
// - 0x03: delivers as many whole 16-byte events of the FIFO as fit, oldest
//   first, and removes them; ResponseLen = bytes delivered;
// - 0xFD: the SCSI address of the target whose WWPN is in the request's first
//   8 bytes (status 9 when none, 6 for a shorter request);
// - get data 0x6A: an EXT_DEVICEDATA of the targets: TotalDevices all of
//   them, as many entries as fit (status 16 below the 8-byte head);
// - get data 0x70: the statistics of the remote port whose WWPN is in the
//   request's first 8 bytes (status 9 when none, 6 for a shorter request).
// add_query_port installs the handlers again, so a test registers its own
// for the same requests after its last port.
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

// The query side of the simulated driver: the records a port answers about
// itself (node, port, chip, converged port, driver, firmware, link
// statistics) and handlers for the requests that canned records cannot
// answer: discovered ports and targets by index, asynchronous event
// registration and the event FIFO, WWPN to SCSI address, the port summary and
// the statistics of a remote port.
//
// Use:
//     sim::SimDriver driver;
//     driver.attach(host);
//     sim::SimPort& port = sim::add_query_port(driver, driver.add_adapter());
//     sim::add_remote_port(port);                      // a target on the fabric
//     port.events.push_back(sim::make_event(0x8011));  // link up pending
#pragma once

#include <array>
#include <cstdint>

#include "sim_driver.h"

namespace sim {

using Wwn = std::array<uint8_t, 8>;

// The names a port gets by default: unique per driver instance, the same
// port and node name but for the first byte (0x21 / 0x20).
Wwn default_wwpn(const SimDriver& driver, const SimPort& port);
Wwn default_wwnn(const SimDriver& driver, const SimPort& port);

// Records of a port with defaults derived from it: its names, driver
// instance, host number, PCI location and its adapter's PCI ids and serial.
EXT_HBA_NODE make_node_record(const SimDriver& driver, const SimPort& port);
EXT_HBA_PORT make_port_record(const SimDriver& driver, const SimPort& port);
EXT_CHIP make_chip_record(const SimDriver& driver, const SimPort& port);
EXT_CNA_PORT make_cna_record(const SimPort& port);
EXT_DRIVER make_driver_record(const SimPort& port);
EXT_FW make_fw_record(const SimPort& port);

// Puts the records above into port.records (query SubCodes 1, 2, 8, 9 and
// get data 3, 6, 7; link statistics all zero), replacing earlier ones.
void set_query_records(SimDriver& driver, SimPort& port);

// Registers the handlers for every port of the driver:
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
// A handler registered later for the same key replaces these; add_query_port
// installs them again, so a test registers its own after its last port.
void install_query_handlers(SimDriver& driver);

// A new port of the adapter with its records set and the handlers installed.
SimPort& add_query_port(SimDriver& driver, const SimAdapter& adapter);
// A new virtual port of the parent, the same way.
SimPort& add_query_virtual_port(SimDriver& driver, const SimPort& parent);

// Adds a remote port to the port's discovered ports: a fabric port (Type 2)
// with unique names, port identifier 01:02:nn, SCSI target id = its number
// among the targets, one LUN. The counts of the port's canned port record
// (DiscPortCount, DiscTargetCount) follow.
SimPort::RemotePort& add_remote_port(SimPort& port, bool is_target = true);

// An event record; for an RSCN the affected address goes into RSCNInfo.
EXT_ASYNC_EVENT make_event(uint32_t code, uint32_t rscn_port_id = 0, uint8_t addr_format = 0);

}  // namespace sim

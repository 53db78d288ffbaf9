// Discovery of the adapter ports behind the driver's ioctl interface: the new
// driver, reached through one character device node for all of its hosts,
// and the old drivers, reached through one proc node per driver.
//
// A run walks the driver's instance numbers, selects each on the node, and
// makes one port record per usable instance and one function record per PCI
// function (shared by a physical port and its virtual ports), filled from the
// driver's node, port and chip records. A record answered with status 0, 7
// (overrun) or 8 (underrun) is taken when the fields the run reads of it
// came; one short of them counts as no answer. The port keeps only the
// node's path; adapter open opens it again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_records.h"

// Driver instance numbers a run tries at most, and the number of hosts a run
// assumes until the driver's count is known.
constexpr uint16_t VX_MAX_DRIVER_INSTANCES = 2048;

// Size of the node path buffers (vxapi_charnode_exist may rewrite one).
constexpr size_t VX_NODE_PATH_SIZE = 256;

// Makes sure the new driver's character device node exists with the driver's
// device numbers (replacing a node with other numbers). charnode_name: the
// node's path, a buffer of VX_NODE_PATH_SIZE bytes; on VMware ESX it may be
// rewritten to the vmkdriver node. 1 usable, 0 not.
[[nodiscard]] int vxapi_charnode_exist(char* charnode_name, const char* driver_name);

// Open the node, ask the driver's host count (into *num_hosts whenever the
// count request succeeded) and select driver instance drvr_inst. 0 with
// *handle the open descriptor and *host_no the SCSI host number; 1 when this
// instance is unusable. The old variant gives 2 when the node itself cannot
// be opened.
[[nodiscard]] int vxapi_open_device_n(vxapi_priv_database* api_priv_data_inst, uint16_t drvr_inst, uint16_t api_inst,
                                      int* handle, const char* hba_path, uint16_t* host_no, uint16_t* num_hosts);
[[nodiscard]] int vxapi_open_device_o(vxapi_priv_database* api_priv_data_inst, uint16_t drvr_inst, uint16_t api_inst,
                                      int* handle, const char* hba_path, uint16_t* host_no, uint16_t* num_hosts);

// One discovery run over a driver. *start_inst: the first API instance number
// on entry, the next free one on exit (written only when ports were added).
// Result: 1 when the node is missing or memory ran out (every record of both
// lists is then freed and *start_inst becomes 0); otherwise the result of the
// last open attempt: 0 when the run ended right after a port was taken, 1
// when its last attempt failed. Whether a run found ports is told by
// *start_inst, not by the result: a run may find ports and still end on a
// failed attempt. A run never frees records that an earlier run made.
[[nodiscard]] int vxapi_find_all_instances_n(const char* driver_name, uint32_t* start_inst);
[[nodiscard]] int vxapi_find_all_instances_o(const char* driver_name, uint32_t* start_inst);

// The netlink transport of sysfs ports: the driver's vendor service
// (protocol 20) and the FC transport's events (protocol 18).
#pragma once

#include <cstdint>

#include "core/vx_driver_records.h"

// Reads the driver's event log for the port with this SCSI host number into
// event records (room for 64). Result: 0 read, 1 the exchange failed, 2 the
// driver refused the request. *buf_size: the bytes filled (not read on entry).
int vxapi_nl_get_aen(int host_no, EXT_ASYNC_EVENT* pevent_buf, uint32_t* buf_size);

// Drains the FC transport's events into event records (room for 64), each
// stamped with its own port's host number (host_no is not used). Result: 0
// read (none queued included), 1 failure. *buf_size: the bytes filled.
int vxapi_nl_scsi_fc_get_aen(int host_no, EXT_ASYNC_EVENT* pevent_buf, uint32_t* buf_size);

// Open the socket of the driver's vendor service (protocol 20) and of the FC
// transport's events (protocol 18, multicast group 4). The descriptor, or -1
// when the socket could not be opened.
int vxapi_nl_open();
int vxapi_nl_scsi_fc_open();

// The loopback test through the vendor socket sock for the port with this
// SCSI host number: INT_LOOPBACK_REQ in, INT_LOOPBACK_RSP out (the sizes are
// not consulted). 0 success, 1 failure; *pext_stat the driver status.
int vxapi_nl_loopback_test(int sock, int host_no, void* ploopback_req, uint32_t loopback_req_size,
                           void* ploopback_rsp, uint32_t loopback_rsp_size, uint32_t* pext_stat);

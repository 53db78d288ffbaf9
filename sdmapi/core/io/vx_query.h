// Queries, statistics and event requests of a port: what the driver knows
// about the adapter, the port, its discovered ports and targets, the driver,
// the firmware and the chip; link and port statistics; asynchronous events;
// the driver specifics that discovery reads of every port.
//
// Every worker takes the port's descriptor and record and copies the driver's
// Status into its out status; the result is the ioctl result (0, or -1 with
// errno), 1 when the request could not be built, or the sysfs twin's result
// for a sysfs port (feature 0x20). On the ioctl road, a response that is one
// record (the node, port, discovered port and target, chip, converged port,
// driver, firmware and driver-specifics records, and the three statistics
// records) answered OK but short of it gives status 8, data underrun.
//
// *delivered of the node, port and chip queries (when given): the bytes of
// the record that came, never more than the record; on the ioctl road the
// bytes the driver reports delivered, whatever its status (an overrun or
// underrun, the driver's or the road's, may still carry part of the record);
// on the sysfs road the whole record, which the transport builds itself.
#pragma once

#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_records.h"

[[nodiscard]] int vxapi_query_hbanode(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node, uint32_t* status,
                                      uint32_t* delivered = nullptr);
[[nodiscard]] int vxapi_query_hbaport(int fd, vxapi_priv_database* rec, EXT_HBA_PORT* port, uint32_t* status,
                                      uint32_t* delivered = nullptr);
[[nodiscard]] int vxapi_query_discport(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_PORT* port,
                                       uint32_t* status);
[[nodiscard]] int vxapi_query_disctgt(int fd, vxapi_priv_database* rec, uint16_t index, EXT_DISC_TARGET* target,
                                      uint32_t* status);
[[nodiscard]] int vxapi_query_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status,
                                   uint32_t* delivered = nullptr);
[[nodiscard]] int vxapi_query_cnaport(int fd, vxapi_priv_database* rec, EXT_CNA_PORT* cna, uint32_t* status);
[[nodiscard]] int vxapi_query_driver(int fd, vxapi_priv_database* rec, EXT_DRIVER* driver, uint32_t* status);
[[nodiscard]] int vxapi_query_fw(int fd, vxapi_priv_database* rec, EXT_FW* fw, uint32_t* status);
[[nodiscard]] int vxapi_get_statistics(int fd, vxapi_priv_database* rec, EXT_HBA_PORT_STAT* stat, uint32_t* status,
                                       uint32_t* detail_status);
// request: the 16-byte remote-port request the management API fills.
[[nodiscard]] int vxapi_get_port_statistics(int fd, vxapi_priv_database* rec, const void* request,
                                            EXT_HBA_PORT_STAT* stat, uint32_t* status, uint32_t* detail_status);
[[nodiscard]] int vxapi_get_fc4_statistics(int fd, vxapi_priv_database* rec, const void* request, void* response,
                                           uint32_t* status, uint32_t* detail_status);
// request: 4 bytes; response: an EXT_DEVICEDATA of response_len bytes, of
// which *delivered (when given) arrived.
[[nodiscard]] int vxapi_get_port_summary(int fd, vxapi_priv_database* rec, const void* request, void* response,
                                         uint32_t response_len, uint32_t* status, uint32_t* detail_status,
                                         uint32_t* delivered = nullptr);
// *length: the buffer's size in, the bytes delivered out.
[[nodiscard]] int vxapi_get_dcbx_param(int fd, vxapi_priv_database* rec, void* response, uint32_t* length,
                                       uint32_t* status);
[[nodiscard]] int vxapi_wwpn_to_scsiaddr(int fd, vxapi_priv_database* rec, const void* request, uint32_t request_len,
                                         EXT_SCSI_ADDR* addr, uint32_t* status);
// buf_len (may be null): the driver's event buffer length.
[[nodiscard]] int vxapi_async_event_reg(int fd, vxapi_priv_database* rec, uint32_t enable, uint32_t* buf_len,
                                        uint32_t* status);
// *length: the buffer's size in, the bytes of events delivered out.
[[nodiscard]] int vxapi_async_event_get(int fd, vxapi_priv_database* rec, void* buffer, uint32_t* length,
                                        uint32_t* status);
// The arbitrated-loop physical address of loop identifier 0..126 (FC-AL
// table, descending); false for any other identifier.
[[nodiscard]] bool vxapi_loop_id_to_alpa(uint16_t loop_id, uint8_t* alpa);
// A stretch of raw flash; no result: a failed read, or one that delivers
// less than the length, leaves the buffer as it was.
void vxapi_read_flash(int fd, vxapi_priv_database* rec, uint32_t offset, uint32_t length, void* buffer,
                      uint32_t size);

// Driver specifics (0xFC) into a 64-byte EXT_LN_DRIVER_DATA.
[[nodiscard]] int vxapi_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status);

// Pass-through of sysfs ports: SCSI commands through the SCSI generic node
// of a LUN (SG_IO on /dev/sg<N>), by SCSI address or by target WWPN; CT and
// ELS requests through the FC host's or remote port's bsg node (feature
// 0x1000), else through the driver's "ct" and "els" attributes; the target
// and LUN list of a port built from its remote ports and SCSI devices.
//
// Each writes a driver status to *pext_stat: 6 while a SCSI request is
// refused or cannot be sent, 9 while a CT or ELS request has not reached
// the driver, 1 once it has and failed, 0 on success; a SCSI command that
// ended with a SCSI status gives 15, a host (transport) error 25 (8 when it
// left a residual, WWPN form), a driver error 26. The result is 0 or 1.
#pragma once

#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_passthru_records.h"
#include "base/vx_records.h"

// SCSI command to (host, 0, target, LUN) of the address, with at most one
// data buffer (data out, else data in with *presp_buf_size in/out).
// *psense_buf_size: room in, bytes written out; *pscsi_stat: SCSI status.
[[nodiscard]] int32_t vxsysfs_send_scsipt(int handle, vxapi_priv_database* api_priv_data_inst,
                                          const EXT_SCSI_ADDR* pscsi_addr, const uint8_t* pcdb, uint32_t cdb_len,
                                          const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                          uint32_t* presp_buf_size, uint8_t* psense_buf, uint32_t* psense_buf_size,
                                          uint32_t* pext_stat, uint8_t* pscsi_stat);

// SCSI command to the remote port named by WWPN in the record (destination
// type 2), and its SCSI-3 form (a 16-byte CDB). *presp_buf_size: data length
// in/out; *pext_dstat: the SCSI status byte of a command that did not end
// GOOD, else 0.
[[nodiscard]] int32_t vxsysfs_send_fc_scsipt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                                             uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass,
                                             uint32_t* pext_stat, uint32_t* pext_dstat);
[[nodiscard]] int32_t vxsysfs_send_scsi3pt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                                           uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass,
                                           uint32_t* pext_stat, uint32_t* pext_dstat);

// CT request (a CT IU and its payload): 0 once it was tried, 1 (status 6)
// when it is refused before anything is sent (no response length, a request
// shorter than the CT IU header). *presp_buf_size: the response's room in;
// once the driver answered, the bytes received out (on the bsg road as the
// kernel reports them delivered).
[[nodiscard]] int32_t vxsysfs_send_ct_passthru(int handle, vxapi_priv_database* api_priv_data_inst,
                                               const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                               uint32_t* presp_buf_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_send_bsg_ct_passthru(int handle, vxapi_priv_database* api_priv_data_inst,
                                                   const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                                   uint32_t* presp_buf_size, uint32_t* pext_stat);

// ELS request (an EXT_ELS_PT_REQ and the ELS payload): as CT; a request
// without a payload behind its head is refused.
//
// On the bsg road the driver may report the outcome in the job's reply: a
// failed result, or a CT or ELS reject or busy, gives status 1; an ELS that
// the remote port rejected there answers status 0 with an LS_RJT in the
// response (reply code 0x01, the reason, explanation and vendor code at
// bytes 5 to 7; a response length of 8 at most), as an LS_RJT in the
// response payload does. A reply that did not arrive as far as the words
// read gives status 8.
[[nodiscard]] int32_t vxsysfs_send_els_passthru(int handle, vxapi_priv_database* api_priv_data_inst,
                                                const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                                uint32_t* presp_buf_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_send_bsg_els_passthru(int handle, vxapi_priv_database* api_priv_data_inst,
                                                    const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                                    uint32_t* presp_buf_size, uint32_t* pext_stat);

// Marks the LUNs of the host's target target_id (the whole id: the entry
// keeps only 8 bits of it) present in the entry's per-LUN bytes (bit 0x80,
// LUNs below lun_room) and sets LunCount.
void vxsysfs_count_luns(uint32_t host_no, uint32_t target_id, TGT_LUN_DATA_ENTRY* pentry, uint32_t lun_room);

// The port's target and LUN list: 0 when an entry was filled, else 1.
[[nodiscard]] int32_t vxsysfs_get_tgt_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst,
                                                    TGT_LUN_DATA_LIST* plun_data_list, uint32_t lun_data_list_len,
                                                    uint32_t* pext_stat);

// Commands that travel through the adapter to other devices: SCSI commands
// to a target's LUN, FC Common Transport and Extended Link Service frames,
// RNID; the driver's target and LUN lists; the port's beacon; the firmware
// loopback test; READ CAPACITY and REPORT LUNS with a LUN-probing fallback.
// Their records are base/vx_passthru_records.h.
//
// Every worker takes the port's descriptor and record. A sysfs port (feature
// 0x20) goes to its sysfs twin; any other port sends one driver request. The
// result is the ioctl result (0, or -1 with errno: look at the status), 1
// when the request could not be built or was refused here, 2 with status 12
// when the port cannot do the operation, or the twin's result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_passthru_records.h"
#include "base/vx_records.h"
#include "transport/vx_ioctl_road.h"

// One driver request: a missing buffer travels with length 0, so that the
// driver is never pointed at a length behind a null address. record_len: the
// bytes of the response that form one record the driver fills whole (as
// VxRequest's). The result and *reply as vxapi_send_request gives them.
[[nodiscard]] int32_t vxapi_send_buffers(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                                         uint16_t sub_code, const void* request, uint32_t request_len, void* response,
                                         uint32_t response_len, VxReply* reply, uint32_t record_len = 0);

// CT pass-through; refused (status 1, result 1) unless the port is up on a
// fabric (state 0, topology F_Port or FL_Port). *presp_buf_size: the
// buffer's size in, the bytes delivered out.
[[nodiscard]] int32_t vxapi_send_ct_passthru(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                             uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                                             uint32_t* pext_stat);
// ELS pass-through: an EXT_ELS_PT_REQ and the ELS payload. *presp_buf_size:
// the buffer's size in, the bytes delivered out.
[[nodiscard]] int32_t vxapi_send_els_passthru(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                              uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                                              uint32_t* pext_stat);
// SCSI pass-through to a remote port (sub-code 1) and its SCSI-3 form
// (sub-code 2). The record is sent as the caller filled it; *presp_buf_size:
// the data length in, the bytes delivered out; *pext_dstat: DetailStatus.
[[nodiscard]] int32_t vxapi_send_fc_scsipt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                                           uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass,
                                           uint32_t* pext_stat, uint32_t* pext_dstat);
[[nodiscard]] int32_t vxapi_send_scsi3pt(int handle, vxapi_priv_database* api_priv_data_inst, void* presp_buf,
                                         uint32_t* presp_buf_size, EXT_FC_SCSI_PASSTHRU* pfc_scsi_pass,
                                         uint32_t* pext_stat, uint32_t* pext_dstat);

// SCSI pass-through by bus, target and LUN with the new (EXT_IOCTL) and the
// old (EXT_IOCTL_O) request header. At most one data buffer: data out
// (preq_buf) or data in (presp_buf, *presp_buf_size in/out). The sense
// buffer receives the sense data of a CHECK CONDITION (*psense_buf_size:
// room in, bytes out); *pscsi_stat the SCSI status byte.
[[nodiscard]] int32_t vxapi_send_scsipt_n(int handle, vxapi_priv_database* api_priv_data_inst,
                                          const EXT_SCSI_ADDR* pscsi_addr, const uint8_t* pcdb, uint32_t cdb_len,
                                          const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                          uint32_t* presp_buf_size, uint8_t* psense_buf, uint32_t* psense_buf_size,
                                          uint32_t* pext_stat, uint8_t* pscsi_stat);
[[nodiscard]] int32_t vxapi_send_scsipt_o(int handle, vxapi_priv_database* api_priv_data_inst,
                                          const EXT_SCSI_ADDR* pscsi_addr, const uint8_t* pcdb, uint32_t cdb_len,
                                          const void* preq_buf, uint32_t req_buf_size, void* presp_buf,
                                          uint32_t* presp_buf_size, uint8_t* psense_buf, uint32_t* psense_buf_size,
                                          uint32_t* pext_stat, uint8_t* pscsi_stat);
// The request sender of both: the record, with the data buffer in the
// response slot of the header (data out included). The header's answer
// lands in *pret_ext (Status, DetailStatus, ResponseLen).
[[nodiscard]] int32_t vxapi_send_scsipt_ioctl(int handle, vxapi_priv_database* api_priv_data_inst, const void* preq_buf,
                                              uint32_t req_buf_size, void* presp_buf, uint32_t* presp_buf_size,
                                              EXT_SCSI_PASSTHRU* pscsi_pass, VxReply* pret_ext);

// READ CAPACITY to the LUN of the address (data in), through the port's
// transport. REPORT LUNS likewise; when the target refuses it (fixed-format
// sense, ILLEGAL REQUEST) the list is built by probing LUNs 0 to 4094 with
// READ CAPACITY. psense_buf must be given to REPORT LUNS.
[[nodiscard]] int32_t vxapi_send_scsi_readcap(int handle, vxapi_priv_database* api_priv_data_inst,
                                              const EXT_SCSI_ADDR* pscsi_addr, void* presp_buf, uint32_t* presp_size,
                                              uint8_t* psense_buf, uint32_t* psense_len, uint8_t* pscsi_stat);
[[nodiscard]] int32_t vxapi_send_scsi_rlc(int handle, vxapi_priv_database* api_priv_data_inst,
                                          const EXT_SCSI_ADDR* pscsi_addr, void* presp_buf, uint32_t* presp_size,
                                          uint8_t* psense_buf, uint32_t* psense_len, uint8_t* pscsi_stat);

// The driver's target and LUN list, and the failover LUN data list.
[[nodiscard]] int32_t vxapi_get_tgt_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst,
                                                  TGT_LUN_DATA_LIST* plun_data_list, uint32_t lun_data_list_len,
                                                  uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_get_lun_data_list(int handle, vxapi_priv_database* api_priv_data_inst, void* plun_data_list,
                                              uint32_t lun_data_list_len, uint32_t* pext_stat);

// The beacon. A state answered OK but short of its 16 bytes gives status 8.
[[nodiscard]] int32_t vxapi_get_beacon(int handle, vxapi_priv_database* api_priv_data_inst,
                                       EXT_BEACON_CONTROL* pbeacon_st, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_set_beacon(int handle, vxapi_priv_database* api_priv_data_inst,
                                       EXT_BEACON_CONTROL beacon_st, uint32_t* pext_stat);

// RNID parameters of the port (no sysfs form), and an RNID request.
// *prnid_rsp_size: the buffer's size in, the bytes delivered out.
[[nodiscard]] int32_t vxapi_get_rnid_info(int handle, vxapi_priv_database* api_priv_data_inst, void* pset_rnid_buf,
                                          uint32_t set_rnid_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_set_rnid_info(int handle, vxapi_priv_database* api_priv_data_inst,
                                          const void* pset_rnid_buf, uint32_t set_rnid_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_send_rnid(int handle, vxapi_priv_database* api_priv_data_inst, const void* prnid_req,
                                      uint32_t rnid_req_size, void* prnid_rsp, uint32_t* prnid_rsp_size,
                                      uint32_t* pext_stat);

// The firmware loopback test: bsg, else the vendor netlink socket, else the
// driver request; a sysfs port with neither gets the no-transport answer. The
// driver's answer record, answered OK but short, gives status 8.
[[nodiscard]] int32_t vxapi_loopback_test(int handle, vxapi_priv_database* api_priv_data_inst,
                                          INT_LOOPBACK_REQ* ploopback_req, uint32_t loopback_req_sz,
                                          INT_LOOPBACK_RSP* ploopback_rsp, uint32_t loopback_rsp_sz,
                                          uint32_t* pext_stat);

// The LUN number of the first level of a SAM LUN by its address method;
// 0xFFFFFFFF for the extended method.
[[nodiscard]] uint32_t vxapi_get_lun_addr(const lun_8byte_t* plun);

// The OS device names of target tgt, LUN lun of the port (vxsysfs_get_devname).
[[nodiscard]] int32_t vxapi_get_tgt_osdevname(vxapi_priv_database* api_priv_data_inst, char* devname, uint16_t tgt,
                                              uint16_t lun);

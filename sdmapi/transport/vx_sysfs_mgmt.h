// Management of sysfs ports: the region versions, region activation, the
// NPIV virtual ports, converged MAC statistics, a remote port's speed and
// the Tarno controller.
//
// Each takes the arguments of its ioctl worker (the port's descriptor, which
// is not used, and the port record first; the status word last).
#pragma once

#include <cstdint>

#include <sysfs/libsysfs.h>

#include "base/vx_passthru_records.h"
#include "base/vx_port_speed.h"
#include "base/vx_records.h"
#include "base/vx_region_records.h"
#include "vxsdm_types.h"

// The running region versions of the port's adapter into padapter_version,
// a list that holds *puser_count entries.
[[nodiscard]] int32_t vxsysfs_query_adapter_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                                     EXT_ADAPTERREGIONVERSION* padapter_version, uint32_t* puser_count,
                                                     uint32_t* pext_stat);

// Hands the activation code to the driver ("reset", decimal).
[[nodiscard]] int32_t vxsysfs_activate_region(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t region,
                                              uint32_t* pext_stat);

// Virtual ports of the physical port (creation, deletion), and the
// information of one virtual port (the record is the virtual port's).
// Creation fills in vp_id and adds the virtual port's record to the port
// list (result 1 when the record cannot be made, the new port's FC host
// cannot be found, or its "vport_id" is there but gives no id: the port is
// deleted again and vp_id is 0); deletion removes the records of the
// physical port's virtual ports with the caller's WWPN and WWNN. The
// information reads the driver's maximum of virtual ports anew, and the
// port's "port_state"; it fails when either is there but did not come, and
// when the port's names did not come at discovery and do not come now
// (vxsysfs_port_with_names); the caller's record is then untouched.
[[nodiscard]] int32_t vxsysfs_create_vport(int handle, vxapi_priv_database* api_priv_data_inst,
                                           PEXT_VPORT_PARAMS pvport_param, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_delete_vport(int handle, vxapi_priv_database* api_priv_data_inst,
                                           PEXT_VPORT_PARAMS pvport_param, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_get_vport_info(int handle, vxapi_priv_database* api_priv_data_inst,
                                             PEXT_VPORT_INFO pvpinfo, uint32_t* pext_stat);

// The loopback test through the FC host's bsg node (vendor command 1). A
// reply that did not arrive as far as the mailboxes and the command sent
// gives status 8 and result 1, the response untouched.
[[nodiscard]] int32_t vxsysfs_bsg_loopback_test(int handle, vxapi_priv_database* api_priv_data_inst,
                                                INT_LOOPBACK_REQ* ploopback_req, uint32_t loopback_req_sz,
                                                INT_LOOPBACK_RSP* ploopback_rsp, uint32_t loopback_rsp_sz,
                                                uint32_t* pext_stat);

// A remote port's speed through the FC host's bsg node (vendor command 5);
// buf_size is not used. A get whose reply did not arrive as far as the
// record gives status 8 and result 1, the speed untouched.
[[nodiscard]] int32_t vxsysfs_bsg_port_param(int handle, vxapi_priv_database* api_priv_data_inst, INT_PORT_PARAM* pbuf,
                                             uint32_t buf_size, uint32_t* pext_stat);

// The Tarno controller through the FC host's bsg node: reset (vendor command
// 2), firmware image (3), management operation (4). A management read (of
// memory or information) whose data did not all arrive gives status 8 and
// result 1.
[[nodiscard]] int32_t vxsysfs_bsg_tarno_reset(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_RESET* pReset,
                                              uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_tarno_updatefw(int handle, vxapi_priv_database* api_priv_data_inst,
                                                 TARNO_UPDATE_FW* pFwInfo, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_tarno_mgmt(int handle, vxapi_priv_database* api_priv_data_inst,
                                             TARNO_MANAGE_INFO* pMgmtInfo, uint32_t* pext_stat);

// The port's host directory into path (VXSYSFS_PATH_SIZE bytes) and its
// opened Tarno command and control attributes: 9 when either file is not
// there, 1 when either cannot be opened (what was opened is handed back for
// the caller to close), 0 with both open.
[[nodiscard]] int32_t __vxsysfs_open_tarno_path(vxapi_priv_database* api_priv_data_inst, char* path,
                                                struct sysfs_attribute** cmd_attr, struct sysfs_attribute** ctl_attr);

// Up to size bytes of the converged MAC statistics ("xgmac_stats", one
// single read from its start, at most a page) into buffer, zeroed first:
// the bytes that came, zeros behind them; status 1, and the buffer zero,
// when nothing came or the read failed. Result 1 when the file is missing.
[[nodiscard]] int32_t vxsysfs_get_xgmac_stats(int handle, vxapi_priv_database* api_priv_data_inst, void* buffer,
                                              uint32_t size, uint32_t* pext_stat);

// 0 when the port's Tarno command attribute ("tarno_cfg_cmd") is present,
// nonzero when it is absent.
[[nodiscard]] int32_t vxsysfs_is_tarno_cmd_path_exist(vxapi_priv_database* api_priv_data_inst);

// The Tarno controller through its attribute files (reset: control "4" for
// the diagnostic firmware, else "3"; management operations 0 to 3, a command
// text that does not fit whole refused with status 1; a firmware image);
// the firmware version from the SCSI host's attribute (one that cannot be
// read or is no decimal of 32 bits fails with the status of
// vxsysfs_answer_status, the record untouched).
[[nodiscard]] int32_t vxsysfs_tarno_reset(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_RESET* pReset,
                                          uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_tarno_fwversion(int handle, vxapi_priv_database* api_priv_data_inst,
                                              TARNO_GET_FW_VERSION* pFwVer, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_tarno_updatefw(int handle, vxapi_priv_database* api_priv_data_inst,
                                             TARNO_UPDATE_FW* pFwInfo, uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_tarno_mgmt(int handle, vxapi_priv_database* api_priv_data_inst,
                                         TARNO_MANAGE_INFO* pMgmtInfo, uint32_t* pext_stat);

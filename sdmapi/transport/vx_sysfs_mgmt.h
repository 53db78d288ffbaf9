// Management of sysfs ports: the region versions, region activation, the
// NPIV virtual ports, a remote port's speed and the Tarno controller.
//
// Each takes the arguments of its ioctl worker (the port's descriptor, which
// is not used, and the port record first; the status word last).
#pragma once

#include <cstdint>

#include "core/vx_passthru.h"
#include "core/vx_port_speed.h"
#include "core/vx_records.h"
#include "core/vx_regions.h"
#include "vxsdm_types.h"

// The running region versions of the port's adapter into padapter_version,
// a list that holds *puser_count entries.
int32_t vxsysfs_query_adapter_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                       EXT_ADAPTERREGIONVERSION* padapter_version, uint32_t* puser_count,
                                       uint32_t* pext_stat);

// Hands the activation code to the driver.
int32_t vxsysfs_activate_region(int handle, vxapi_priv_database* api_priv_data_inst, uint32_t region,
                                uint32_t* pext_stat);

// Virtual ports of the physical port (creation, deletion), and the
// information of one virtual port (the record is the virtual port's).
int32_t vxsysfs_create_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                             uint32_t* pext_stat);
int32_t vxsysfs_delete_vport(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_PARAMS pvport_param,
                             uint32_t* pext_stat);
int32_t vxsysfs_get_vport_info(int handle, vxapi_priv_database* api_priv_data_inst, PEXT_VPORT_INFO pvpinfo,
                               uint32_t* pext_stat);

// The loopback test through the FC host's bsg node (vendor command 1).
int32_t vxsysfs_bsg_loopback_test(int handle, vxapi_priv_database* api_priv_data_inst,
                                  INT_LOOPBACK_REQ* ploopback_req, uint32_t loopback_req_sz,
                                  INT_LOOPBACK_RSP* ploopback_rsp, uint32_t loopback_rsp_sz, uint32_t* pext_stat);

// A remote port's speed through the FC host's bsg node (vendor command 5);
// buf_size is not used.
int32_t vxsysfs_bsg_port_param(int handle, vxapi_priv_database* api_priv_data_inst, INT_PORT_PARAM* pbuf,
                               uint32_t buf_size, uint32_t* pext_stat);

// The Tarno controller through the FC host's bsg node: reset (vendor command
// 2), firmware image (3), management operation (4).
int32_t vxsysfs_bsg_tarno_reset(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_RESET* pReset,
                                uint32_t* pext_stat);
int32_t vxsysfs_bsg_tarno_updatefw(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_UPDATE_FW* pFwInfo,
                                   uint32_t* pext_stat);
int32_t vxsysfs_bsg_tarno_mgmt(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_MANAGE_INFO* pMgmtInfo,
                               uint32_t* pext_stat);

// 0 when the port's Tarno command attribute ("tarno_cfg_cmd") is present,
// nonzero when it is absent.
int32_t vxsysfs_is_tarno_cmd_path_exist(vxapi_priv_database* api_priv_data_inst);

// The Tarno controller through its attribute files; the firmware version
// from the SCSI host's attribute.
int32_t vxsysfs_tarno_reset(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_RESET* pReset,
                            uint32_t* pext_stat);
int32_t vxsysfs_tarno_fwversion(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_GET_FW_VERSION* pFwVer,
                                uint32_t* pext_stat);
int32_t vxsysfs_tarno_updatefw(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_UPDATE_FW* pFwInfo,
                               uint32_t* pext_stat);
int32_t vxsysfs_tarno_mgmt(int handle, vxapi_priv_database* api_priv_data_inst, TARNO_MANAGE_INFO* pMgmtInfo,
                           uint32_t* pext_stat);

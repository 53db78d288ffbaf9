// Management of sysfs ports: the region versions, region activation and the
// NPIV virtual ports.
//
// Each takes the arguments of its ioctl worker (the port's descriptor, which
// is not used, and the port record first; the status word last).
#pragma once

#include <cstdint>

#include "core/vx_passthru.h"
#include "core/vx_records.h"
#include "core/vx_regions.h"

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

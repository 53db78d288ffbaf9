// Management of sysfs ports. Until the sysfs road reads the driver's DCBX
// attribute, a sysfs port answers with the "no transport" answer: invalid
// sub-command, result 2.
#include "core/vx_ioctl.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_mgmt.h"

int vxsysfs_get_dcbx_param(int, vxapi_priv_database*, void*, uint32_t*, uint32_t* status) {
    return vxapi_no_transport(status);
}

// Region activation and the virtual ports: the "no transport" answer too,
// until the sysfs road writes the driver's "reset" and vport attributes.
int32_t vxsysfs_activate_region(int, vxapi_priv_database*, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_create_vport(int, vxapi_priv_database*, PEXT_VPORT_PARAMS, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_delete_vport(int, vxapi_priv_database*, PEXT_VPORT_PARAMS, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_get_vport_info(int, vxapi_priv_database*, PEXT_VPORT_INFO, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

// The loopback test: the "no transport" answer until the bsg vendor command
// is sent.
int32_t vxsysfs_bsg_loopback_test(int, vxapi_priv_database*, INT_LOOPBACK_REQ*, uint32_t, INT_LOOPBACK_RSP*, uint32_t,
                                  uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

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

// A remote port's speed and the Tarno controller: the "no transport" answer
// until the bsg vendor commands and the Tarno attribute files are served.
// The attribute test answers "absent", so that a port with the vendor netlink
// socket takes the netlink road.
int32_t vxsysfs_bsg_port_param(int, vxapi_priv_database*, INT_PORT_PARAM*, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_bsg_tarno_reset(int, vxapi_priv_database*, TARNO_RESET*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_bsg_tarno_updatefw(int, vxapi_priv_database*, TARNO_UPDATE_FW*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_bsg_tarno_mgmt(int, vxapi_priv_database*, TARNO_MANAGE_INFO*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_is_tarno_cmd_path_exist(vxapi_priv_database*) { return 1; }

int32_t vxsysfs_tarno_reset(int, vxapi_priv_database*, TARNO_RESET*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_tarno_fwversion(int, vxapi_priv_database*, TARNO_GET_FW_VERSION*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_tarno_updatefw(int, vxapi_priv_database*, TARNO_UPDATE_FW*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_tarno_mgmt(int, vxapi_priv_database*, TARNO_MANAGE_INFO*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

// Queries over sysfs. Until the sysfs road reads its attribute files, a sysfs
// port answers every query with the "no transport" answer: invalid
// sub-command, result 2.
#include "core/vx_ioctl.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_mgmt.h"

int vxsysfs_query_chip(int, vxapi_priv_database*, EXT_CHIP*, uint32_t* status) { return vxapi_no_transport(status); }

int vxsysfs_query_hbanode(int, vxapi_priv_database*, EXT_HBA_NODE*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_query_hbaport(int, vxapi_priv_database*, EXT_HBA_PORT*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_query_discport(int, vxapi_priv_database*, uint16_t, EXT_DISC_PORT*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_query_disctgt(int, vxapi_priv_database*, uint16_t, EXT_DISC_TARGET*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_query_cnaport(int, vxapi_priv_database*, EXT_CNA_PORT*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_query_driver(int, vxapi_priv_database*, EXT_DRIVER*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_query_fw(int, vxapi_priv_database*, EXT_FW*, uint32_t* status) { return vxapi_no_transport(status); }

int vxsysfs_get_port_summary(int, vxapi_priv_database*, const uint32_t*, EXT_DEVICEDATA*, uint32_t,
                             uint32_t* status, uint32_t*) {
    return vxapi_no_transport(status);
}

int vxsysfs_wwpn_to_scsiaddr(int, vxapi_priv_database*, const uint8_t*, uint32_t, EXT_SCSI_ADDR*,
                             uint32_t* status) {
    return vxapi_no_transport(status);
}

int32_t vxsysfs_query_adapter_versions(int, vxapi_priv_database*, EXT_ADAPTERREGIONVERSION*, uint32_t*,
                                       uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

// OS device names of a LUN: until the sysfs road walks the SCSI device
// directories, no name is found (empty list, result 1).
int32_t vxsysfs_get_devname(vxapi_priv_database*, uint16_t, uint16_t, uint8_t* devname) {
    if (devname != nullptr) devname[0] = 0;
    return 1;
}

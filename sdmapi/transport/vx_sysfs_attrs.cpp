// Statistics of sysfs ports. Until the sysfs road reads the FC host's
// statistics files and sends the link status request, a sysfs port answers
// with the "no transport" answer: invalid sub-command, result 2.
#include "core/vx_ioctl.h"
#include "transport/vx_sysfs.h"

int vxsysfs_get_statistics(int, vxapi_priv_database*, EXT_HBA_PORT_STAT*, uint32_t* status) {
    return vxapi_no_transport(status);
}

int vxsysfs_get_port_statistics(int, vxapi_priv_database*, const void*, EXT_HBA_PORT_STAT*, uint32_t* status) {
    return vxapi_no_transport(status);
}

// NVRAM and VPD attribute files: until the sysfs road reads and writes the
// "nvram" and "vpd" attributes, the "no transport" answer.
#include "transport/vx_sysfs_attrs.h"

int32_t vxsysfs_get_nvram(int, vxapi_priv_database*, uint8_t*, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_set_nvram(int, vxapi_priv_database*, const uint8_t*, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_get_vpd(int, vxapi_priv_database*, uint8_t*, uint32_t*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_set_vpd(int, vxapi_priv_database*, const uint8_t*, uint32_t*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

// The beacon attribute: the "no transport" answer until the sysfs road reads
// and writes it.
int32_t vxsysfs_get_beacon(int, vxapi_priv_database*, EXT_BEACON_CONTROL*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_set_beacon(int, vxapi_priv_database*, const EXT_BEACON_CONTROL*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

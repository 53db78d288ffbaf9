// Sysfs discovery of hosts, ports and virtual ports.
#include "transport/vx_sysfs.h"

#include "core/vx_ioctl.h"

// Until the sysfs road reads the driver's version attribute, a sysfs port
// has no way to answer driver specifics: invalid sub-command, result 2.
int vxsysfs_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status) {
    (void)fd;
    (void)rec;
    (void)response;
    return vxapi_no_transport(status);
}

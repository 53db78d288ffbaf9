// Management of sysfs ports. Until the sysfs road reads the driver's DCBX
// attribute, a sysfs port answers with the "no transport" answer: invalid
// sub-command, result 2.
#include "core/vx_ioctl.h"
#include "transport/vx_sysfs.h"

int vxsysfs_get_dcbx_param(int, vxapi_priv_database*, void*, uint32_t*, uint32_t* status) {
    return vxapi_no_transport(status);
}

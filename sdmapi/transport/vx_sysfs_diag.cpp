// Diagnostics over bsg. Until the bsg road carries these vendor commands, a
// sysfs port answers with the "no transport" answer: invalid sub-command,
// result 2.
#include "transport/vx_sysfs_diag.h"

#include "core/vx_ioctl.h"

int vxsysfs_flash_update_capabilities(int, vxapi_priv_database*, vxa_flash_update_caps*, uint32_t* pext_stat,
                                      uint32_t) {
    return vxapi_no_transport(pext_stat);
}

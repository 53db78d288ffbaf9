// Diagnostics over bsg. Until the bsg road carries these vendor commands, a
// sysfs port answers with the "no transport" answer: invalid sub-command,
// result 2.
#include "transport/vx_sysfs_diag.h"

#include "core/vx_ioctl.h"

int vxsysfs_flash_update_capabilities(int, vxapi_priv_database*, vxa_flash_update_caps*, uint32_t* pext_stat,
                                      uint32_t) {
    return vxapi_no_transport(pext_stat);
}

// The firmware dump: the "no transport" answer until the dump attributes and
// the udev dump files are read.
int32_t vxsysfs_get_fw_dump(int, vxapi_priv_database*, uint8_t*, uint32_t*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

// Queries over sysfs. Until the sysfs road reads its attribute files, a sysfs
// port answers every query with the "no transport" answer: invalid
// sub-command, result 2.
#include "core/vx_ioctl.h"
#include "transport/vx_sysfs.h"

int vxsysfs_query_chip(int, vxapi_priv_database*, EXT_CHIP*, uint32_t* status) { return vxapi_no_transport(status); }

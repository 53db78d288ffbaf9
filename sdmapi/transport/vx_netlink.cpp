// The netlink transport. Until the sockets are opened, there is nothing to
// read: the event readers fail (result 1) and fill nothing.
#include "transport/vx_netlink.h"

int vxapi_nl_get_aen(int, EXT_ASYNC_EVENT*, uint32_t*) { return 1; }

int vxapi_nl_scsi_fc_get_aen(int, EXT_ASYNC_EVENT*, uint32_t*) { return 1; }

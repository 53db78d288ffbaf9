// The netlink transport. Until the sockets are opened, there is nothing to
// read: the event readers fail (result 1) and fill nothing.
#include "transport/vx_netlink.h"

#include "core/vx_ioctl.h"

int vxapi_nl_get_aen(int, EXT_ASYNC_EVENT*, uint32_t*) { return 1; }

int vxapi_nl_scsi_fc_get_aen(int, EXT_ASYNC_EVENT*, uint32_t*) { return 1; }

// Until the netlink exchange is built, neither socket can be opened: the
// ports keep their other transports and no netlink feature bit is set.
int vxapi_nl_open() { return -1; }

int vxapi_nl_scsi_fc_open() { return -1; }

// No loopback test without the vendor exchange: the "no transport" answer.
int vxapi_nl_loopback_test(int, int, void*, uint32_t, void*, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

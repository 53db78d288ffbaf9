// FCP priority and the diagnostic mode of sysfs ports through the FC host's
// bsg node (vendor commands 6 and 9). The loopback test, a remote port's
// speed and the Tarno controller over bsg are declared in vx_sysfs_mgmt.h.
//
// Each returns 0 when the driver took the command and 1 otherwise; the
// status word says why: 9 nothing was sent, 17 no memory for the request, 1
// the node was made but the command failed, 20 the driver does not implement
// it, 8 its answer did not arrive as far as it is read, 0 done.
#pragma once

#include <cstdint>

#include "base/vx_records.h"

// FCP priority on (flag 1) or off (0); the flag is sent as given.
[[nodiscard]] int32_t vxsysfs_bsg_qos_enable_disable(vxapi_priv_database* api_priv_data_inst, uint8_t flag,
                                                     uint32_t* pext_stat);

// The FCP priority configuration (qos_size bytes) into qos, or from it; a
// configuration read that did not all arrive gives status 8 and result 1.
[[nodiscard]] int32_t vxsysfs_bsg_qos_get_config(vxapi_priv_database* api_priv_data_inst, void* qos, uint32_t qos_size,
                                                 uint32_t* pext_stat);
[[nodiscard]] int32_t vxsysfs_bsg_qos_set_config(vxapi_priv_database* api_priv_data_inst, void* qos, uint32_t qos_size,
                                                 uint32_t* pext_stat);

// Enter (mode 1) or leave (0) the diagnostic mode; any other mode sends
// nothing and leaves status 9.
[[nodiscard]] int32_t vxsysfs_bsg_set_reset_diag_mode(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t mode,
                                                      uint32_t* pext_stat);

#include "core/vx_fru.h"

#include "core/vx_ioctl.h"

int32_t vxapi_fill_and_update_fru_versions(int, vxapi_priv_database*, const uint8_t*, uint32_t, uint32_t,
                                           uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxapi_pulse_fru_status(int, vxapi_priv_database*, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

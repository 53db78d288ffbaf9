// Until the persistent stores are built, a store answers as an entry point
// that exists but is not implemented: not supported, nothing touched.
#include "failover/vx_fo_stores.h"

#include "vxsdm_status.h"

uint32_t vxapi_get_data_from_old_persist_store(uint32_t, FO_LUN_DATA_LIST*, FO_TARGET_DATA_LIST*, const uint8_t*) {
    return SDERR_NOT_SUPPORTED;
}

uint32_t vxapi_set_data_to_old_persist_store(uint32_t, const uint8_t*, const FO_LUN_DATA_LIST*,
                                             const FO_TARGET_DATA_LIST*) {
    return SDERR_NOT_SUPPORTED;
}

// Until the new-format store is built, it answers as an entry point
// that exists but is not implemented: not supported, nothing touched.
#include "failover/vx_fo_stores.h"

#include "vxsdm_status.h"

uint32_t FoGetDataFromPersistentStorage(uint32_t, FO_LUN_DATA_LIST*, FO_TARGET_DATA_LIST*, const uint8_t*) {
    return SDERR_NOT_SUPPORTED;
}

uint32_t FoSetDataToPersistentStorage(uint32_t, const uint8_t*, const FO_LUN_DATA_LIST*, const FO_TARGET_DATA_LIST*) {
    return SDERR_NOT_SUPPORTED;
}

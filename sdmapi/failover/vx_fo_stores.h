// The persistent configuration stores of the failover layer, as the LUN and
// target operations reach them: the new-format store (option string) and
// the old-format store (the driver's module options line). Reads take
// (instance, LUN list or null, target list or null, wwn), writes (instance,
// wwn, LUN list or null, target list or null); the wwn is 16 bytes, the
// adapter port's node name and port name. Each returns a status.
#pragma once

#include <cstdint>

#include "vxsdm_fo.h"

[[nodiscard]] uint32_t FoGetDataFromPersistentStorage(uint32_t instance, FO_LUN_DATA_LIST* luns,
                                                      FO_TARGET_DATA_LIST* targets, const uint8_t* wwn);
[[nodiscard]] uint32_t FoSetDataToPersistentStorage(uint32_t instance, const uint8_t* wwn, const FO_LUN_DATA_LIST* luns,
                                                    const FO_TARGET_DATA_LIST* targets);
[[nodiscard]] uint32_t vxapi_get_data_from_old_persist_store(uint32_t instance, FO_LUN_DATA_LIST* luns,
                                                             FO_TARGET_DATA_LIST* targets, const uint8_t* wwn);
[[nodiscard]] uint32_t vxapi_set_data_to_old_persist_store(uint32_t instance, const uint8_t* wwn,
                                                           const FO_LUN_DATA_LIST* luns,
                                                           const FO_TARGET_DATA_LIST* targets);

// The persistent entry lists and deletes over every supported driver
// module's store (the ISDFo*Persistent* functions of vxsdm_fo.h).
#pragma once

#include <cstdint>

// Adds an 8-byte name to a list of *count names (room for 32) unless the
// list holds it already. 0; SDERR_BUFFER_TOO_SMALL when a new name finds
// the list full.
[[nodiscard]] uint32_t AddUniqueTargetToPersistentList(const uint8_t* name, uint8_t* list, uint32_t* count);

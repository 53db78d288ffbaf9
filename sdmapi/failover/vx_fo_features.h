// The HBA feature settings: five features over the driver's "Bind=" and
// "ConfigRequired=" module parameters in its options line.
#pragma once

#include <cstdint>

#include "vxsdm.h"

// One driver parameter as found in the options line, or as to be written.
struct INT_FEATURE {
    uint16_t Present;  // found in the line, or to be written
    uint16_t Remove;   // to be dropped from the line
    int32_t Value;
    char Name[32];  // the parameter's prefix, "=" included
};

// The two parameters, in this order.
constexpr unsigned VX_FEA_BIND = 0;
constexpr unsigned VX_FEA_CONFIG_REQUIRED = 1;
constexpr unsigned VX_FEA_PARAMS = 2;

// The parameters of the handle's driver as its options line holds them
// (both absent when there is no file or no line). 0; SDERR_INVALID_PARAMETER
// for an unknown handle or a slot without a usable module name.
[[nodiscard]] uint32_t fea_load_int_features(uint32_t handle, INT_FEATURE* features);

// Rewrites the options line with the parameters, then runs "depmod -a".
// The status of the line writer, or of the line reader when it failed
// otherwise than with SDERR_CONFIG_FILE.
[[nodiscard]] uint32_t fea_write_int_features(uint32_t handle, INT_FEATURE* features);

// 0 when the setting names a supported feature and its value lies within
// the feature's range, else 1.
[[nodiscard]] uint32_t fea_validate_entry_range(const HBA_FEATURE_SETTING* setting);

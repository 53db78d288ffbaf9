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

// The parameters of the handle's driver as kmod reads its options lines
// (vxapi_get_drv_param_optline; both absent when there is no file or no
// line). 0; SDERR_INVALID_PARAMETER for an unknown handle or a slot without a
// usable module name; SDERR_CONFIG_FILE for a file that cannot be read, or
// that kmod does not read as it is written.
[[nodiscard]] uint32_t fea_load_int_features(uint32_t handle, INT_FEATURE* features);

// Writes the touched parameters (bit 1 << VX_FEA_BIND, 1 << VX_FEA_CONFIG_REQUIRED)
// into the driver's options lines, read with vxapi_get_drv_param_optline and
// written back with vxapi_set_drv_param_optline, then runs "depmod -a". One
// that stands has its last place set to its Value, or, with Remove, every
// place removed (a line left without parameters goes); one that does not
// stand is added to the first options line when Present. Every other
// parameter, line, blank and continuation stays. Without an options line, a
// fresh one with the Present parameters ends the file (none without them).
// The status of the reader (but for no file or no line) or of the writer.
constexpr unsigned VX_FEA_ALL = (1u << VX_FEA_BIND) | (1u << VX_FEA_CONFIG_REQUIRED);
[[nodiscard]] uint32_t fea_write_int_features(uint32_t handle, INT_FEATURE* features, unsigned touched = VX_FEA_ALL);

// 0 when the setting names a supported feature and its value lies within
// the feature's range, else 1.
[[nodiscard]] uint32_t fea_validate_entry_range(const HBA_FEATURE_SETTING* setting);

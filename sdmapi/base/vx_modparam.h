// Integer parameters of the adapter driver module vxa2xxx: at run time in the
// module's parameter file under /sys/module, and for later loads of the
// driver in its options line of the modprobe configuration.
//
// The status out-value is 0 when done, 1 when a file could not be read or
// written (or the parameter name is refused), and 20 when the driver's
// parameter file cannot be opened (no driver support). A parameter name is
// 1 to VX_MODPARAM_NAME_MAX letters, digits and '_': it becomes part of a
// path and of a configuration line, and nothing else may.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr const char* VX_MODPARAM_DIR = "/sys/module/vxa2xxx/parameters/";
constexpr const char* VX_MODPARAM_CONF = "/etc/modprobe.d/vxa2xxx.conf";
constexpr const char* VX_MODPARAM_MODULE = "vxa2xxx";
// The longest name whose parameter path fits a 256-byte path buffer.
constexpr size_t VX_MODPARAM_NAME_MAX = 255 - 31;

// Whether a parameter name may be used.
[[nodiscard]] bool vx_modparam_name_ok(const char* param);

// The configuration text with the setting param=value, as kmod reads the
// module's options (base/vx_modconf.h): where the setting stands (its last
// place), its whole value is replaced when value is 0 or 1 and left alone
// otherwise; without it, " param=value" ends the module's first options
// line; without such a line, "options vxa2xxx param=value" is added at the
// end. false (nothing to write) for a text kmod does not read as it is
// written, or when the changed line would pass VX_CONF_LINE_MAX.
[[nodiscard]] bool vx_modparam_conf_edit(std::string_view text, std::string_view param, uint32_t value,
                                         std::string* out);

// Writes value to the run-time parameter file as its decimal text.
void vxapi_set_driver_module_param(const char* param, uint32_t value, uint32_t* pext_stat);

// Reads the run-time parameter file; *pvalue is set only on status 0.
void vxapi_get_driver_module_param(const char* param, uint32_t* pvalue, uint32_t* pext_stat);

// Sets param=value in the configuration file, creating it when missing; an
// existing but empty file gives 1 and is left as it is.
void vxapi_set_driver_module_param_conf(const char* param, uint32_t value, uint32_t* pext_stat);

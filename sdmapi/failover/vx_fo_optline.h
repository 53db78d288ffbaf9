// The driver's options line in the host's module configuration files: the
// first options line of the driver's module name, as kmod reads the file
// (base/vx_modconf.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/vx_conf_file.h"

// The module configuration files, in the order they are tried.
constexpr const char* VX_FO_MODULES_FILES[] = {"/etc/conf.modules", "/etc/modprobe.conf.local",
                                               "/etc/modprobe.conf", "/etc/modules.conf"};

// The first of the module configuration files that opens, read whole.
// 0, or SDERR_CONFIG_FILE when none opens or it cannot be read.
[[nodiscard]] uint32_t vx_fo_read_modules_file(std::string* path, std::string* text);

// The driver's options line of a slot into *line, as kmod reads it (with its
// newline). 0; SDERR_INVALID_PARAMETER for a slot without a usable module
// name; SDERR_CONFIG_FILE when no file opens, it holds no such line, or kmod
// does not read it as it is written.
[[nodiscard]] uint32_t vx_fo_get_options_line(uint32_t slot, std::string* line);

// The same into a caller's buffer of at least VX_CONF_LINE_BUFFER bytes
// (SDERR_INVALID_PARAMETER without one; SDERR_CONFIG_FILE for a longer line).
[[nodiscard]] uint32_t vxapi_get_drv_param_optline(uint32_t slot, char* line);

// Replaces every options line of the slot's driver in the first file that
// opens with new_line, or appends new_line when there is none. 0;
// SDERR_INVALID_PARAMETER for a slot without a usable module name;
// SDERR_CONFIG_FILE when no file opens, a line of new_line is longer than
// VX_CONF_LINE_MAX, kmod does not read the file as it is written, or the
// file cannot be replaced (it is then unchanged).
[[nodiscard]] uint32_t vxapi_set_drv_param_optline(uint32_t slot, const char* new_line);

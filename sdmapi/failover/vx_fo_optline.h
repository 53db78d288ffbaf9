// The driver's options in the host's module configuration files: the
// options lines of the driver's module name in the first file that opens,
// read and changed as kmod reads the file (base/vx_modconf.h).
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
// 0, or SDERR_CONFIG_FILE when none opens (*path is then empty) or it cannot
// be read.
[[nodiscard]] uint32_t vx_fo_read_modules_file(std::string* path, std::string* text);

// The driver's options lines of a slot into *line, as they stand in the
// file (each with its continuations and line end), in file order: the
// driver gets their parameters, the last value of each. Lines may be of any
// length. 0; SDERR_INVALID_PARAMETER without a line or a usable module name;
// SDERR_CONFIG_FILE when no file opens, it holds no options line of the
// driver (*none then set, when given), or kmod does not read it as it is
// written.
[[nodiscard]] uint32_t vxapi_get_drv_param_optline(uint32_t slot, std::string* line, bool* none = nullptr);

// Makes the driver's options those of new_line, a text of the driver's
// options lines as kmod reads them (vxapi_get_drv_param_optline's, changed):
// in the first file that opens, a parameter whose value differs is written
// where it stands last, one that new_line lacks goes from every place (a
// line left without parameters goes whole), one that the file lacks is added
// to the driver's first options line; every other parameter, line, blank and
// continuation stays. Without an options line of the driver, the lines of
// new_line that hold parameters end the file. 0; SDERR_INVALID_PARAMETER for
// a slot without a usable module name; SDERR_CONFIG_FILE when no file opens,
// kmod would not read new_line or the file as it is written, new_line holds
// other lines, a changed line would pass VX_CONF_LINE_MAX, or the file cannot
// be replaced (it is then unchanged).
[[nodiscard]] uint32_t vxapi_set_drv_param_optline(uint32_t slot, std::string_view new_line);

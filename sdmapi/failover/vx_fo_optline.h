// The driver's options line in the host's module configuration files.
//
// A line is read as stdio reads it into a 65,536-byte buffer: a longer line
// comes in pieces of 65,535 characters, and each piece counts as a line. The
// driver's line is the first line that is not a comment and whose first
// words, after leading blanks and tabs, are "options" and the driver's module
// name, each ending at a blank, a tab or the line's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The line buffer of the readers, and the longest line (with its newline).
constexpr size_t VX_FO_LINE_BUFFER = 65536;
constexpr size_t VX_FO_LINE_MAX = VX_FO_LINE_BUFFER - 1;

// The module configuration files, in the order they are tried.
constexpr const char* VX_FO_MODULES_FILES[] = {"/etc/conf.modules", "/etc/modprobe.conf.local",
                                               "/etc/modprobe.conf", "/etc/modules.conf"};

// The lines of a text, each with its newline, as pieces of at most
// VX_FO_LINE_MAX characters.
std::vector<std::string_view> vx_fo_line_pieces(std::string_view text);

// Whether every line of a text, with its newline, is at most VX_FO_LINE_MAX long.
bool vx_fo_lines_fit(std::string_view text);

// Whether the first character after leading blanks and tabs is '#'.
bool vx_fo_is_comment(std::string_view line);

// Where the key "options <model>" of the line ends, or npos when the line is
// not the driver's options line.
size_t vx_fo_options_key_end(std::string_view line, std::string_view model);

// The key as the writers put it at the start of a line.
std::string vx_fo_options_key(std::string_view model);

// The first of the module configuration files that opens, read whole.
// 0, or SDERR_CONFIG_FILE when none opens or it cannot be read.
uint32_t vx_fo_read_modules_file(std::string* path, std::string* text);

// The driver's options line of a slot into *line (with its newline).
// 0; SDERR_INVALID_PARAMETER for a slot without a usable module name;
// SDERR_CONFIG_FILE when no file opens or it holds no such line.
uint32_t vx_fo_get_options_line(uint32_t slot, std::string* line);

// The same into a caller's buffer of at least VX_FO_LINE_BUFFER bytes
// (SDERR_INVALID_PARAMETER without one).
uint32_t vxapi_get_drv_param_optline(uint32_t slot, char* line);

// Replaces every options line of the slot's driver in the first file that
// opens with new_line, or appends new_line when there is none. 0;
// SDERR_INVALID_PARAMETER for a slot without a usable module name;
// SDERR_CONFIG_FILE when no file opens, a line of new_line is longer than
// VX_FO_LINE_MAX, or the file cannot be replaced (it is then unchanged).
uint32_t vxapi_set_drv_param_optline(uint32_t slot, const char* new_line);

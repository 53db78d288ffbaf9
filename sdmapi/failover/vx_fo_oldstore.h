// The old-format persistent store: a driver's target and LUN configuration
// kept in its module options line, as the value of the module parameter
// vx2xopts ("options vxa2xxx ConfigRequired=1 vx2xopts=scsi-vxa0-...\;...").
//
// The options file is the first of "/etc/conf.modules" and
// "/etc/modules.conf" that opens, read as kmod reads it (base/vx_modconf.h).
// The driver's line is the options line of the module whose vx2xopts the
// driver gets (the last), else its first options line, as kmod reads it; a
// line holds at most VX_CONF_LINE_MAX characters with its newline. The tokens
// are those of the option string (vx_fo_optstr.h), the store adapter number
// being the adapter slot 0..31. A vx2xopts value that begins with a decimal
// digit is another, older format, which is never read or rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failover/vx_fo_optstr.h"

// The old options files, in the order they are tried.
constexpr const char* VX_FO_OLD_OPTIONS_FILES[] = {"/etc/conf.modules", "/etc/modules.conf"};

// The driver's line of the slot's module, with its newline. 0;
// SDERR_INVALID_PARAMETER without a line or a usable module name;
// SDERR_CONFIG_FILE when no options file opens or the line is too long;
// SDERR_UNKNOWN when the file has no line for the driver.
[[nodiscard]] uint32_t vxapi_get_optline_from_old_file(uint32_t instance, std::string* line);

// Fills the records (32, with their lists) from the vx2xopts tokens of a
// line; every LUN byte of every record starts as enabled and preferred. 0;
// SDERR_INVALID_REGISTRY_SETTING when the value begins with a digit (nothing
// touched); SDERR_CONFIG_FILE on a malformed token (what was read stays).
[[nodiscard]] uint32_t vxapi_get_data_from_old_line(std::string_view line, hbalist_entry* records);

// Rebuilds the line's vx2xopts value from the records, with names and
// numbers from the target lists (VX_FO_FROM_TARGETS) or the LUN lists
// (VX_FO_FROM_LUNS). The line's other parameters stay; a line without
// vx2xopts gets it. 0; SDERR_CONFIG_FILE when the result would be longer
// than VX_CONF_LINE_MAX (the line is then unchanged); SDERR_INVALID_PARAMETER
// for another kind.
[[nodiscard]] uint32_t vxapi_set_data_to_old_line(std::string* line, const hbalist_entry* records, uint8_t kind);

// Replaces every options line of the slot's driver in the options file with
// new_line, or appends it when there is none (the store's set does not: it
// sets its value alone). 0; SDERR_INVALID_PARAMETER
// for a slot without a usable module name; SDERR_CONFIG_FILE when no file
// opens, a line of the driver holds a digit-first value, new_line does not
// fit the line bound, kmod does not read the file as it is written, or the
// file cannot be replaced (it is then unchanged).
[[nodiscard]] uint32_t vxapi_set_optline_to_old_file(uint32_t instance, const std::string& new_line);

// The records of every adapter of the module's line: the reader's status;
// SDERR_UNKNOWN without a line; SDERR_CONFIG_FILE when no options file
// opens; SDERR_INVALID_PARAMETER for an unusable module name.
[[nodiscard]] uint32_t vxapi_get_old_persist_dev_entry_list(const char* model, hbalist_entry* records);
[[nodiscard]] uint32_t vxapi_get_old_persist_tgt_entry_list(const char* model, hbalist_entry* records);

// Deletes an adapter (by port name) or a target (by node name) from every
// options line of the module, reading each line into the records (cleared
// first); a line's vx2xopts value is rebuilt in place, the rest of the file
// stays.
// *deleted: 1 when something matched. 0; SDERR_INVALID_PARAMETER when
// nothing matched (the file is unchanged) or for an unusable module name;
// SDERR_INVALID_REGISTRY_SETTING for a digit-first value; SDERR_CONFIG_FILE
// when the file cannot be read (or be read as kmod reads it), a rebuilt
// line does not fit or the file cannot be replaced (it is then unchanged).
[[nodiscard]] uint32_t vxapi_del_old_persist_dev_entry(const char* model, hbalist_entry* records, uint32_t* deleted,
                                                       const uint8_t* port_name);
[[nodiscard]] uint32_t vxapi_del_old_persist_tgt_entry(const char* model, hbalist_entry* records, uint32_t* deleted,
                                                       const uint8_t* node_name);

// The searches of the deletes over the records (32, with lists). The
// adapter: the first record whose port name is name loses it. The target:
// among the first EntryCount entries of every named record's lists, each
// entry whose node name is name loses its node and port name. Whether
// anything was removed; an all-zero name matches nothing.
[[nodiscard]] bool vx_fo_remove_adapter(hbalist_entry* records, const uint8_t* port_name);
[[nodiscard]] bool vx_fo_remove_target(hbalist_entry* records, const uint8_t* node_name);

// Decimal lists of the LUNs base..base + 255 (up to LUN 4095): "%d," for
// each preferred LUN, or for each LUN that is not enabled, written at
// text[*offset] with its NUL; *offset becomes the text's new length.
// *count: the preferred LUNs, or the enabled LUNs, of the range. 0; or
// SDERR_CONFIG_FILE when the list would not fit in size bytes (text and
// *offset are then unchanged).
[[nodiscard]] uint32_t vxapi_write_new_preferred(char* text, size_t size, const FO_EXTERNAL_LUN_DATA_ENTRY& lun,
                                                 uint32_t* offset, uint16_t base, uint32_t* count);
[[nodiscard]] uint32_t vxapi_write_new_disabled(char* text, size_t size, const FO_EXTERNAL_LUN_DATA_ENTRY& lun,
                                                uint32_t* offset, uint16_t base, uint32_t* count);

// The old-format persistent store: a driver's target and LUN configuration
// kept in its module options line, as the value of the module parameter
// vx2xopts ("options vxa2xxx ConfigRequired=1 vx2xopts=scsi-vxa0-...\;...").
//
// The options file is the first of "/etc/conf.modules" and
// "/etc/modules.conf" that opens, read as kmod reads it (base/vx_modconf.h).
// The store is the value that the driver gets: that of its last vx2xopts,
// on whichever options line and at whichever place it stands (the driver's
// line); the driver's first options line when it has none. A line holds at
// most VX_CONF_LINE_MAX characters with its newline, as kmod reads it. The
// tokens are those of the option string (vx_fo_optstr.h), the store adapter
// number being the adapter slot 0..31. A vx2xopts value that begins with a
// decimal digit is another, older format, which is never read or rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failover/vx_fo_optstr.h"

// The old options files, in the order they are tried.
constexpr const char* VX_FO_OLD_OPTIONS_FILES[] = {"/etc/conf.modules", "/etc/modules.conf"};

// The driver's line of the slot's module, as it stands in the file (its
// continuations and line end). 0; SDERR_INVALID_PARAMETER without a line or
// a usable module name; SDERR_CONFIG_FILE when no options file opens, kmod
// does not read it as it is written, or the line is too long; SDERR_UNKNOWN
// when the file has no line for the driver.
[[nodiscard]] uint32_t vxapi_get_optline_from_old_file(uint32_t instance, std::string* line);

// Fills the records (32, with their lists) from the tokens of the store
// value of a driver's line (its last vx2xopts, as kmod reads the line; none:
// no tokens); every LUN byte of every record starts as enabled and
// preferred. 0; SDERR_INVALID_REGISTRY_SETTING when the value begins with a
// digit (nothing touched); SDERR_CONFIG_FILE when kmod does not read the
// line as it is written, or on a malformed token (what was read stays).
[[nodiscard]] uint32_t vxapi_get_data_from_old_line(std::string_view line, hbalist_entry* records);

// Rebuilds the store value of a driver's line from the records, with names
// and numbers from the target lists (VX_FO_FROM_TARGETS) or the LUN lists
// (VX_FO_FROM_LUNS): the value of its last vx2xopts is replaced in its
// place, or " vx2xopts=<value>" ends a line without one; the line's other
// text stays, and it ends with a newline. 0; SDERR_CONFIG_FILE when kmod does
// not read the line as an options line, or the result would be longer than
// VX_CONF_LINE_MAX (the line is then unchanged); SDERR_INVALID_PARAMETER for
// another kind.
[[nodiscard]] uint32_t vxapi_set_data_to_old_line(std::string* line, const hbalist_entry* records, uint8_t kind);

// Writes the store value of new_line (a driver's line rebuilt by
// vxapi_set_data_to_old_line) into the options file: the driver's line takes
// new_line's parameters as vxapi_set_drv_param_optline does (where they are
// the same, only the store value changes, in its place); nothing else of the
// file changes. Without an options line of the driver, new_line ends the
// file. 0; SDERR_INVALID_PARAMETER for an unusable module name;
// SDERR_CONFIG_FILE when no file opens, a vx2xopts value of the driver is
// digit-first, kmod would not read new_line or the file as it is written, a
// changed line would not fit the line bound, or the file cannot be replaced
// (it is then unchanged).
[[nodiscard]] uint32_t vxapi_set_optline_to_old_file(const char* model, const std::string& new_line);

// The records of every adapter of the module's line: the reader's status;
// SDERR_UNKNOWN without a line; SDERR_CONFIG_FILE when no options file
// opens; SDERR_INVALID_PARAMETER for an unusable module name.
[[nodiscard]] uint32_t vxapi_get_old_persist_dev_entry_list(const char* model, hbalist_entry* records);
[[nodiscard]] uint32_t vxapi_get_old_persist_tgt_entry_list(const char* model, hbalist_entry* records);

// Deletes an adapter (by port name) or a target (by node name) from the
// module's store, read into the records (cleared first); the store value is
// rebuilt in its place (vxapi_set_data_to_old_line) and written
// (vxapi_set_optline_to_old_file), the rest of the file stays.
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

// The option string: the text of the new-format persistent store, held in
// "/etc/<driver>.conf" and in the OPTIONS value of the driver's configuration
// module.
//
// Tokens are separated by runs of blanks, backslashes, semicolons and tabs (a
// newline is not a separator). I is the store adapter number (0..31), T the
// target number and D the path number, in decimal:
//   scsi-vxaI-adapter-port=<16 hex>           starts adapter I
//   scsi-vxaI-tgt-T-di-D-node=<16 hex>        opens a target entry
//   scsi-vxaI-tgt-T-di-D-port=<16 hex>
//   scsi-vxaI-tgt-T-di-D-pid=<6 hex>
//   scsi-vxaI-tgt-T-di-D-preferred=<64 hex>           LUNs 0..255
//   scsi-vxaI-tgt-T-di-D-lun_preferred-N=<64 hex>     LUNs N..N+255
//   scsi-vxaI-tgt-T-di-D-lun-disabled=<64 hex>
//   scsi-vxaI-tgt-T-di-D-lun_disabled-N=<64 hex>
//   scsi-vxaI-tgt-T-di-D-control=<2 hex>      closes the entry
// A bitmap's first hex pair covers LUNs N+255 (bit 7) down to N+248.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vxsdm_fo.h"
#include "vxsdm_status.h"

// Every holder of an option string has this many bytes; the longest text is
// one byte shorter.
constexpr size_t VX_FO_OPTSTR_SIZE = 300000;

// Entries of a target or LUN list, and LUN bytes of a LUN entry.
constexpr uint32_t VX_FO_TARGETS = 256;
constexpr uint32_t VX_FO_LUNS = 4096;

// Store adapters of an option string.
constexpr unsigned VX_FO_STORE_ADAPTERS = 32;

// One store adapter: its port name (all zero: free) and its lists.
struct hbalist_entry {
    uint8_t wwpn[8];
    FO_TARGET_DATA_LIST* tgt_list;
    FO_LUN_DATA_LIST* lun_list;
};

// The text pieces of the option string readers and writers. The tokens of
// a text, between blanks, tabs and "\\;".
[[nodiscard]] std::vector<std::string_view> vx_fo_split_tokens(std::string_view text);
// Whether the option string parsers refuse one of the tokens of text when
// they read it: an adapter's port token without "=", or a target token of a
// known kind without "=" or with LUN group 0.
[[nodiscard]] bool vx_fo_tokens_refused(std::string_view text);
// A hex digit's value, or -1.
[[nodiscard]] int vx_fo_hex_value(char c);
// n bytes from a value's hex pairs: a pair ends at the first character that
// is not a hex digit, and pairs missing at the value's end are 0.
void vx_fo_read_hex(std::string_view value, uint8_t* out, size_t n);
// n bytes as lowercase hex pairs at the end of *text.
void vx_fo_append_hex(std::string* text, const uint8_t* bytes, size_t n);
[[nodiscard]] bool vx_fo_all_zero(const uint8_t* bytes, size_t n);

// Formatter modes: names and numbers from the target lists, or from the LUN lists.
constexpr uint8_t VX_FO_FROM_TARGETS = 1;
constexpr uint8_t VX_FO_FROM_LUNS = 2;

// The text of "/etc/<model>.conf" into dest (VX_FO_OPTSTR_SIZE bytes). 0;
// SDERR_CONFIG_FILE when the file is missing (*missing set), is too large
// or cannot be read; SDERR_INVALID_PARAMETER for an unusable module name.
[[nodiscard]] uint32_t vxapi_get_opt_from_file(const char* model, char* dest, bool* missing = nullptr);

// Fills the records of every adapter the string holds (records: 32). An
// adapter whose token fails ends at that token and the next adapters are
// still read; the status is then the first failing token's, whatever
// follows: a store that parses only in part is never to be written back.
[[nodiscard]] uint32_t vxapi_get_data_from_line(const char* line, hbalist_entry* records);
// Fills record 0 with the adapter whose port name is wwpn; 0 also when none
// matches (record 0's port name then differs from wwpn); the status of its
// failing token.
[[nodiscard]] uint32_t vxapi_get_data_from_line_for_wwpn(const char* line, hbalist_entry* records, const uint8_t* wwpn);
// Applies one target token to entry *entry of the record's lists.
[[nodiscard]] uint32_t vxapi_get_dev_data_from_token(uint32_t record, std::string_view token, hbalist_entry* records,
                                                     uint16_t* entry);

// The option string of the records (32) into out (VX_FO_OPTSTR_SIZE bytes).
// 0; SDERR_CONFIG_FILE when the text would not fit (out untouched);
// SDERR_INVALID_PARAMETER for another mode or a record without its lists.
[[nodiscard]] uint32_t vxapi_set_data_to_line(const hbalist_entry* records, char* out, uint8_t mode);

// Bitmaps of the 256 LUNs highest-255..highest (highest 255..4095).
void vxapi_read_default_preferred(std::string_view value, FO_EXTERNAL_LUN_DATA_ENTRY* lun, uint32_t highest);
void vxapi_read_default_disabled(std::string_view value, FO_EXTERNAL_LUN_DATA_ENTRY* lun, uint32_t highest);
// Appends the 64 digits; the preferred writer returns how many LUNs are preferred.
[[nodiscard]] uint32_t vxapi_write_default_preferred(std::string* text, const FO_EXTERNAL_LUN_DATA_ENTRY& lun,
                                                     uint32_t highest);
void vxapi_write_default_disabled(std::string* text, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t highest);

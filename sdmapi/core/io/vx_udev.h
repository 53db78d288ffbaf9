// Persistent LUN names: udev rules in the library's own rules file.
//
// Each LUN has up to two rule lines, matched by its page 0x83 identifier (the
// GUID scsi_id reads): one for the whole disk carrying the names, one for its
// partitions carrying each name followed by "_part%n".
//
// The rules file is obeyed by udev as root, so every text that goes into it
// or into a shell command is checked first: names and GUIDs holding a double
// quote, a comma, a backslash or a control character are refused, names to
// set holding udev's substitution characters '$' and '%' too, and the
// device name given to scsi_id must be "/sd" followed by letters and digits.
// The files under /tmp are created exclusively, never through a link, and
// the rules file is replaced by renaming a complete new file over it.
#pragma once

#include <cstdint>

#include <sysfs/dlist.h>

struct vxapi_priv_database;

// The maker's PCI vendor ID, matched by the rules.
constexpr uint16_t VXAPI_UDEV_VENDOR_ID = 0x7A5A;

constexpr const char* VXAPI_UDEV_RULES_FILE = "/etc/udev/rules.d/99-DU-DUV.rules";
constexpr const char* VXAPI_UDEV_TMP_FILE = "/tmp/DU-DUV.tmprules";
constexpr const char* VXAPI_UDEV_BACKUP_FILE = "/tmp/99-DU-DUV.rules.bkp";
// The complete new rules text, renamed over the rules file (udev reads
// only names ending in ".rules").
constexpr const char* VXAPI_UDEV_NEW_FILE = "/etc/udev/rules.d/.99-DU-DUV.rules.new";

// A rule line's buffer; a line holds at most 511 characters with its newline.
constexpr uint32_t VXAPI_UDEV_LINE_SIZE = 512;
// The GUID buffer of the set, the delete and the get alike, so that a GUID
// one of them takes the others take too: at most 510 characters and the
// newline scsi_id prints after them. (A rule line in the library's form
// holds one of about 400 characters at most: a set of a longer one fails
// as a line that would not fit.)
constexpr uint32_t VXAPI_UDEV_GUID_SIZE = 512;

// The items of a parsed rule line (their places in the line, keys,
// operators and values), owned by the rule.
struct vxapi_udev_items;

// A parsed or built rule: every text points into data_ptr (the GUID of a
// built rule is the caller's). KERNEL, SUBSYSTEM and SYSFS keep their
// quotes; GUID has none; symlink lists the names in line order. A parsed
// text ends at its value's closing quote, never holding the line's end.
// items: those of a parsed line that udev reads; null when udev cannot read
// the line (the rule then has no texts and no names), and in a built rule.
struct UDEV_RULE {
    char* KERNEL;
    char* SUBSYSTEM;
    char* SYSFS;
    char* GUID;
    char* RESERVED;
    struct dlist* symlink;
    char* data_ptr;
    struct vxapi_udev_items* items;
};

// The LUN's GUID by scsi_id, for a device name "/sd<letters and digits>":
// the last line the command prints, with its newline; when the first
// command form prints nothing, the second form's. A line that does not fit
// in out whole (size bytes: at most size - 2 characters besides its
// newline) or that holds a NUL byte counts as no output: no part of it, and
// no line after it, is taken. 0 found, 1 not.
[[nodiscard]] int32_t vxapi_get_lun_guid(char* cmd, const char* dev, char* out, uint32_t size);

// Adds the names (separated by spaces) to the rules of the port's LUN; every
// line of the rules file that is not the LUN's stays as written, in its
// place. 0, or 1 with the rules file unchanged, also when a rule line of the
// LUN cannot be rebuilt with its names (a line udev skips: a damaged item, a
// key udev does not know, an attribute or operator the key does not take;
// a line whose serials disagree, which applies to no device; or a
// hand-edited line that would not read back as the LUN's rule), and when
// udev does not read the file as it stands (it stops at a physical line of
// 16,384 characters or more, or a rule line left open, ending in a
// backslash, has nothing but comments or the end of the file after it and is
// dropped; an empty line after it closes it), or when the new file would
// reach the bound of the configuration files (VX_CONF_FILE_LIMIT); the same
// for a delete. A physical line ends at "\n", "\r" or a NUL byte. Names on
// lines that udev skips or that apply to no device are not taken. The set
// alone also refuses a GUID that udev would read as a pattern in a match
// value (one holding '*', '?', '[' or '|'); the delete and the get compare
// GUIDs as text, and so still reach such a GUID's lines.
[[nodiscard]] int32_t vxapi_set_lun_udev_name(int handle, vxapi_priv_database* port, uint16_t bus, uint16_t tgt,
                                              uint16_t lun, const char* names);
// Removes the names; a rule left without names is removed. 0, or 1.
[[nodiscard]] int32_t vxapi_delete_lun_udev_name(int handle, vxapi_priv_database* port, uint16_t bus, uint16_t tgt,
                                                 uint16_t lun, const char* names);
// The names of the LUN's last whole-disk rule that has SYMLINK+= items into
// out (512 bytes): the items' values as written between the quotes, one
// blank between two items (in the library's form, each name followed by a
// space); out is unchanged when the LUN has none. Only lines that udev reads
// count: none after a physical line of 16,384 characters or more, nor a rule
// line left open at the end (nothing but comments after it). 0, or 1.
[[nodiscard]] int32_t vxapi_get_lun_udev_name(int handle, vxapi_priv_database* port, uint16_t bus, uint16_t tgt,
                                              uint16_t lun, char* out);
// Runs "/sbin/udevtrigger" or "/sbin/udevadm trigger": the wait status, or 1
// when neither exists.
[[nodiscard]] int32_t vxapi_udevtrigger();

[[nodiscard]] UDEV_RULE* vxapi_convert_usernames_to_obj(const char* guid, const char* names, int whole_disk);
// Parses a rule line, up to its first line end ("\n" or "\r"), as udev 252
// reads it: items separated by any run of commas, blanks and tabs, or by
// nothing after a closing quote, in any order, each a key udev knows (KEY
// or KEY{attr}, whole) with an attribute and an operator that the key takes,
// blanks allowed around the operator, and one quoted value; the values lose
// their quotes (vxapi_remove_quotes) but those of KERNEL, SUBSYSTEM and
// SYSFS. A line udev skips (an item without a key, an operator or one
// quoted value, a key udev does not know, an attribute or operator the key
// does not take, a vertical tab or form feed outside a value, an open
// quote) gives a rule without items, texts or names. Null only when out of
// memory.
[[nodiscard]] UDEV_RULE* vxapi_convert_udevrule_to_obj(const char* line);
// 0, or 1 when the line would exceed 511 characters (line: 512 bytes).
[[nodiscard]] int32_t vxapi_convert_udevobj_to_rule(const UDEV_RULE* rule, char* line);
// Releases the name list (its nodes only), the items, data_ptr and the rule.
void vxapi_free_udev_rule(UDEV_RULE* rule);

[[nodiscard]] char* vxapi_remove_quotes(char* text);
[[nodiscard]] char* vxapi_trim_spaces(char* text);
void vxapi_free_dlist(struct dlist* list);

// Whether a name or GUID may go into a rule: no double quote, comma,
// backslash or control character.
[[nodiscard]] bool vxapi_udev_text_ok(const char* text);
// Whether names may be set: text that may go into a rule and that udev makes
// into exactly these links: letters, digits and "#+-.:=@_/" only (udev
// reads '$' and '%' as substitutions, ignoring a value that holds an unknown
// one, and replaces other punctuation and non-ASCII bytes), no name or path
// step "." or "..".
[[nodiscard]] bool vxapi_udev_name_ok(const char* text);

// Sysfs access primitives: attribute files in page-size chunks, the paths of
// a port's SCSI host, FC host, remote ports, virtual ports, SCSI devices and
// PCI function, typed attribute readers, remote-port lookups, byte-order
// helpers and two debug dumps.
//
// Paths are built into caller buffers of VXSYSFS_PATH_SIZE bytes. A builder
// never writes more than that, terminator included: a path that does not fit
// is cut. It returns a pointer to the terminating NUL of what it wrote, so
// that the caller can put an attribute name behind it with
// vxsysfs_path_append.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_records.h"

constexpr size_t VXSYSFS_PATH_SIZE = 256;

// The sysfs mount point ("/sys" on most hosts); empty until discovery's
// initialisation fills it.
extern char sysfs_mnt_path[VXSYSFS_PATH_SIZE];

// Prefixes of the links under a SCSI device's directory that lead to its OS
// device node, in the order they are tried; closed by a null entry.
extern const char* const dev_prefix[10];

// ---- files ----

// Whole transfers in page-size chunks: the bytes not transferred (0: all),
// or size when the file cannot be opened. The residual of a read that ended
// at the end of the file looks like one of a read that failed: *failed
// (when given) tells them apart, true when the file could not be opened or
// a read call failed, false when the reads ended at the end of the file or
// with the buffer full.
[[nodiscard]] int32_t vxsysfs_read_file(const char* path, void* buffer, int32_t size, bool* failed = nullptr);
[[nodiscard]] int32_t vxsysfs_write_file(const char* path, const void* buffer, int32_t size);
// One read (write) of at most a page: the bytes transferred, 0 when the file
// cannot be opened or nothing moved, 0xFFFFFFFF when the call failed.
[[nodiscard]] uint32_t vxsysfs_read_data(const char* path, void* buffer, int32_t size);
[[nodiscard]] uint32_t vxsysfs_write_data(const char* path, const void* buffer, int32_t size);

// ---- bytes ----

[[nodiscard]] uint8_t vxsysfs_memsum(const void* buffer, uint32_t length);
// The first place within the first length bytes where the text (without its
// terminator) lies whole, or null.
[[nodiscard]] const char* vxsysfs_memstr(const void* buffer, const char* text, uint32_t length);
// destination[i] = source[n-1-i]; the two must not overlap.
void vxsysfs_revcpy(void* destination, const void* source, uint32_t n);
// The value of n bytes, least (most) significant first; of more than 8
// bytes only the low 8 count.
[[nodiscard]] uint64_t vxsysfs_lendian(const void* buffer, uint32_t n);
[[nodiscard]] uint64_t vxsysfs_bendian(const void* buffer, uint32_t n);
// The low n bytes of the value, least (most) significant first; bytes
// beyond the 8 of the value are 0.
void vxsysfs_lendian_buf(void* buffer, uint64_t value, uint32_t n);
void vxsysfs_bendian_buf(void* buffer, uint64_t value, uint32_t n);
// Removes every trailing newline in place; null is ignored.
void vxsysfs_remove_end_newline(char* text);
// Zeroes n bytes, then fills them in text order from hexadecimal text, two
// digits a byte, after an optional "0x"; an odd last digit is ignored.
void vxsysfs_to_array_hex(uint8_t* destination, const char* text, uint32_t n);

// ---- SCSI device names host:channel:target:lun ----

[[nodiscard]] uint16_t vxsysfs_get_target_id(const char* name);  // 0xFFFF when it does not parse
[[nodiscard]] uint16_t vxsysfs_get_lun_no(const char* name);     // 0xFFFF when it does not parse

// ---- paths (buffers of VXSYSFS_PATH_SIZE bytes) ----
// The builders below return the end of the path they wrote, for a caller
// that appends to it; the path is the product, so the end may be dropped.

// <mnt>/class/scsi_host/host<N>/
char* vxsysfs_get_scsi_host_path(char* path, uint16_t host_no);
// <mnt>/class/fc_host/
char* vxsysfs_get_fc_host(char* path);
// <mnt>/class/fc_host/host<N>/
char* vxsysfs_get_fc_host_path(char* path, uint16_t host_no);
// <mnt>/class/fc_remote_ports/, then "<name>/" when a name is given
char* vxsysfs_get_fc_rport_path(char* path, const char* rport_name);
// <mnt>/class/fc_vports/
char* vxsysfs_get_fc_vports_path(char* path);
// <mnt>/class/scsi_device/, then the name when given (no slash behind it)
char* vxsysfs_get_scsi_dev_path(char* path, const char* dev_name);
// <phys_path>/host<N>/ of the port record
char* vxsysfs_get_device_path(char* path, const vxapi_priv_database* rec);

// Puts the text behind the path whose terminating NUL is at end. The new end,
// or null (the path unchanged) when the whole text does not fit the buffer.
[[nodiscard]] char* vxsysfs_path_append(char* path, char* end, const char* text);

// ---- attributes (path = the attribute's full path) ----

// What became of an attribute read, for a caller that reports the value as
// data: only Came is a value. Without a place for the answer a reader gives
// the "no value" it names below for every other outcome.
enum class VxAttrAnswer : uint8_t {
    Came,       // read, and (for a number) a number of the base asked that fits its field
    Absent,     // no such file: the driver does not have the attribute
    Failed,     // the file is there, but it could not be opened or read
    NotNumber,  // the text is no number of the base asked (empty, a sign, other characters)
    TooLarge,   // a number past its field, or a text longer than its buffer
};

// What an attribute open that failed with errno err says: Absent for no
// such file (ENOENT, or ENOTDIR for a directory on the way that is none),
// Failed for a file that is there but does not open.
[[nodiscard]] VxAttrAnswer vxsysfs_open_answer(int err);

// The status word of a call whose attribute answered so: 0 Came, 9 Absent
// (nothing reached the driver), 7 TooLarge (a value past its field, a data
// overrun), 1 for a read that failed or a text that is no number.
[[nodiscard]] uint32_t vxsysfs_answer_status(VxAttrAnswer answer);

// A text read field by field as a scanf conversion reads it, so that what a
// driver prints behind the fields a call takes (a build tag, a unit, more
// words, a blank) is not the call's to judge: white space before a number is
// skipped, a number is the digits of its base standing there (at most width
// of them when a width is given), a hexadecimal one may carry "0x", and
// nothing after the last field taken is looked at. What is judged is each
// field taken: that it came, is a number of its base, and fits. Of a text
// cut to its buffer (cut), a field that runs to the cut, or lies past it, did
// not come whole: TooLarge.
class VxFields {
public:
    VxFields(const char* text, size_t length, bool cut = false);

    // The base of a number printed in decimal that may carry "0x": base 16
    // behind "0x", else 10.
    static constexpr int kBaseAsPrinted = 0;

    // The next number, in base 10, 16 or kBaseAsPrinted: Came with *value
    // (at most max), NotNumber when no digit of the base stands there,
    // TooLarge past max or at the cut. The text moves on past the digits
    // read whatever the answer.
    [[nodiscard]] VxAttrAnswer number(int base, uint64_t max, uint64_t* value, size_t width = 0);
    // The next number as strtoul reads it: white space, an optional sign
    // with a digit right behind it, and the digits; a minus negates the value
    // modulo 2^64 (what a driver printed with %d reads back as its bit
    // pattern). Answers as number() with no maximum, and NotNumber for a sign
    // with no digit behind it (TooLarge when the cut lies right behind it).
    [[nodiscard]] VxAttrAnswer unsigned_long(int base, uint64_t* value);
    // The digits of the base standing next, after white space and (base 16)
    // an optional "0x": their start and number (0: none); the text moves on
    // past them. *at_cut: they run to the cut of a cut text.
    size_t digits(int base, const char** start, bool* at_cut = nullptr, size_t width = 0);
    // Whether the text goes on with c here (nothing skipped); past it if so.
    [[nodiscard]] bool literal(char c);
    // Whether a digit of the base stands right here (nothing skipped), as
    // after a sign, which a conversion takes only with a digit behind it.
    [[nodiscard]] bool at_digit(int base) const;
    // Past any white space, as a blank of a format skips it.
    void skip_space();
    // Past the next character, whatever it is (a separator); false when the
    // text had ended.
    bool skip_one();
    // Whether nothing of the text is left.
    [[nodiscard]] bool at_end() const { return at_ == end_; }

private:
    const char* at_;
    const char* end_;
    bool cut_;
};

// An unsigned number of base 10 or 16 read from the first length bytes of
// text (up to a NUL) as VxFields reads it: white space before it skipped,
// "0x" allowed in base 16, what follows its digits not judged. *value is set
// only when it Came (at most max).
[[nodiscard]] VxAttrAnswer vxsysfs_parse_number(const char* text, size_t length, int base, uint64_t max,
                                                uint64_t* value);

// The value without trailing newlines, at most length-1 characters, always
// terminated; empty when the attribute cannot be opened or read. *answer
// (when given): TooLarge when the text was cut to fit.
void vxsysfs_get_str_attr(const char* path, char* destination, uint32_t length, VxAttrAnswer* answer = nullptr);
// n bytes (zeroed first) from the hexadecimal value, in text order; zero on
// failure. *answer (when given): Came for 1 to 2n hexadecimal digits after
// white space and an optional "0x", whatever follows them (fewer than 2n are
// the low bytes of the number: the value is zero-padded in front), NotNumber
// when no digit stands there, TooLarge for more digits.
void vxsysfs_get_hex_attr(const char* path, uint8_t* destination, uint32_t n, VxAttrAnswer* answer = nullptr);
// The value as an unsigned number of the base (vxsysfs_parse_number;
// decimal unless given); 0 when it cannot be opened or read, or is no number
// of at most max (*answer, when given, says which).
[[nodiscard]] uint32_t vxsysfs_get_int_attr(const char* path, VxAttrAnswer* answer = nullptr,
                                           uint32_t max = UINT32_MAX, int base = 10);
// The value as unsigned hexadecimal (vxsysfs_parse_number); all ones when it
// cannot be opened or read, or is no number (*answer, when given, says
// which).
[[nodiscard]] uint64_t vxsysfs_get_long_attr(const char* path, VxAttrAnswer* answer = nullptr);

// ---- remote ports ----

// Of a remote port's directory path ending in "/": its "roles" are exactly
// "FCP Target"; its "port_state" is exactly "Online". *answer (when given)
// says what became of the read, so that a caller can tell a port that is no
// target (or offline) from one whose attribute could not be read.
[[nodiscard]] bool vxsysfs_is_rport_a_target(const char* rport_path, VxAttrAnswer* answer = nullptr);
[[nodiscard]] bool vxsysfs_is_rport_online(const char* rport_path, VxAttrAnswer* answer = nullptr);
// The directory path (with "/" behind it) of the host's remote port with
// this WWPN (8 bytes) or SCSI target id into result (VXSYSFS_PATH_SIZE
// bytes): 1 when found, else 0 and an empty result. A port whose name or
// id did not come is never a match.
[[nodiscard]] int vxsysfs_find_rport_by_wwpn(char* result, uint32_t host_no, const uint8_t* wwpn);
[[nodiscard]] int vxsysfs_find_rport_by_tid(char* result, uint32_t host_no, uint32_t target_id);

// ---- debug dumps (trace bit 0x200) ----

void vxsysfs_print_priv_data(const vxapi_priv_database* rec);
void vxsysfs_print_disc_data(const EXT_DISC_PORT* port);

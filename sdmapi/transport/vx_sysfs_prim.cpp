// Sysfs access primitives and paths.
//
// Nothing here keeps state but the mount path. Every attribute reader opens,
// reads and closes its own attribute object; a missing or unreadable
// attribute reads as "", zero bytes, 0 or all ones, and a reader given a
// place for it says what became of the read, so that a call reporting the
// value fails rather than report one that never came.
// Attribute values are taken only as far as the object's length says.
#include "transport/vx_sysfs_prim.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

char sysfs_mnt_path[VXSYSFS_PATH_SIZE] = "";

const char* const dev_prefix[10] = {
    "block",        "tape",        "onstream_tape", "scsi_tape",      "scsi_changer",
    "device/block", "device/tape", "generic",       "device/generic", nullptr,
};

namespace {

constexpr long kDefaultPageSize = 4096;
constexpr uint32_t kNoNumber = 0xFFFFFFFF;
constexpr uint16_t kNoAddress = 0xFFFF;
constexpr size_t kWwnSize = 8;
constexpr size_t kRoleSize = 256;

// ---- traces of the file primitives ----

bool tracing() { return vxdbg_on(VXDBG_SYSFS); }

void trace(const char* text) {
    if (tracing()) vxdbg_print(text, 0, VXDBG_NONE, 1);
}

void trace_number(const char* text, int64_t value) {
    if (tracing()) vxdbg_print(text, static_cast<uint32_t>(value), VXDBG_INT, 1);
}

void trace_start(const char* name, const char* path, int32_t size) {
    if (!tracing()) return;
    vxdbg_print(name, 0, VXDBG_NONE, 1);
    vxdbg_print("> size==", static_cast<uint32_t>(size), VXDBG_INT, 1);
    vxdbg_print("> path==", 0, VXDBG_NONE, 0);
    vxdbg_print(path, 0, VXDBG_NONE, 1);
}

long page_size() {
    long page = vx::sys().page_size();
    return page > 0 ? page : kDefaultPageSize;
}

// An open file descriptor, closed when it goes out of scope.
class File {
public:
    File(const char* path, int flags) : fd_(path != nullptr ? vx::sys().open(path, flags | O_CLOEXEC) : -1) {}
    ~File() {
        if (fd_ >= 0) vx::sys().close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_;
};

// One transfer call of either direction.
ssize_t transfer(int fd, void* buffer, size_t len, bool writing) {
    return writing ? vx::sys().write(fd, buffer, len) : vx::sys().read(fd, buffer, len);
}

// The looping primitives: page-size chunks until all is moved or a call
// moves nothing. The residual; *failed says whether the file could not be
// opened or a call failed.
int32_t transfer_file(const char* name, const char* path, void* buffer, int32_t size, bool writing, bool* failed) {
    trace_start(name, path, size);
    *failed = false;
    File file(path, writing ? O_WRONLY : O_RDONLY);
    if (!file.is_open()) {
        trace("> Failed open");
        *failed = true;
        return size;
    }
    const long page = page_size();
    auto* at = static_cast<uint8_t*>(buffer);
    int32_t residual = size;
    while (residual > 0 && at != nullptr) {
        const size_t chunk = static_cast<size_t>(residual < page ? residual : page);
        const ssize_t n = transfer(file.fd(), at, chunk, writing);
        if (n < 1) {
            if (n < 0) {
                trace(writing ? "> Failed write" : "> Failed read");
                trace_number("> n==", n);
                *failed = true;
            }
            break;
        }
        at += n;
        residual -= static_cast<int32_t>(n);
    }
    if (residual != 0) trace_number("> residual==", residual);
    return residual;
}

// The single-call primitives: one call of at most a page.
uint32_t transfer_once(const char* name, const char* path, void* buffer, int32_t size, bool writing) {
    trace_start(name, path, size);
    File file(path, writing ? O_WRONLY : O_RDONLY);
    if (!file.is_open()) {
        trace("> Failed open");
        return 0;
    }
    if (size <= 0 || buffer == nullptr) return 0;
    const long page = page_size();
    const size_t chunk = static_cast<size_t>(size < page ? size : page);
    const ssize_t n = transfer(file.fd(), buffer, chunk, writing);
    if (n < 0) {
        trace(writing ? "> Failed write" : "> Failed read");
        trace_number("> n==", n);
        return kNoNumber;
    }
    if (static_cast<size_t>(n) < static_cast<size_t>(size)) trace_number("> residual==", size - n);
    return static_cast<uint32_t>(n);
}

// ---- paths ----

__attribute__((format(printf, 2, 3))) char* build_path(char* path, const char* format, ...) {
    if (path == nullptr) return nullptr;
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(path, VXSYSFS_PATH_SIZE, format, args);
    va_end(args);
    if (n < 0) {
        path[0] = '\0';
        return path;
    }
    // A cut path ends at the last byte of the buffer.
    return path +
           (static_cast<size_t>(n) < VXSYSFS_PATH_SIZE ? static_cast<size_t>(n) : VXSYSFS_PATH_SIZE - 1);
}

int mnt_len() { return static_cast<int>(strnlen(sysfs_mnt_path, VXSYSFS_PATH_SIZE)); }

char* class_path(char* path, const char* class_name) {
    return build_path(path, "%.*s/%s/%s/", mnt_len(), sysfs_mnt_path, "class", class_name);
}

// ---- attributes ----

// An attribute read whole: Absent when there is no such file (the open's own
// error says so, vxsysfs_open_answer), Failed when the file is there but does
// not open or read. The value goes as far as
// the object's length and the first NUL go.
VxAttrAnswer read_attr(const char* path, std::string* value) {
    if (path == nullptr) return VxAttrAnswer::Absent;
    errno = 0;
    struct sysfs_attribute* attr = vx::sys().sysfs_open_attribute(path);
    if (attr == nullptr) return vxsysfs_open_answer(errno);
    const bool read = vx::sys().sysfs_read_attribute(attr) == 0 && attr->value != nullptr;
    if (read) value->assign(attr->value, strnlen(attr->value, attr->len));
    vx::sys().sysfs_close_attribute(attr);
    return read ? VxAttrAnswer::Came : VxAttrAnswer::Failed;
}

void strip_newlines(std::string* text) {
    while (!text->empty() && text->back() == '\n') text->pop_back();
}

// An attribute of a directory whose path ends in "/": whether it reads
// exactly the text (*answer, when given, says what became of the read).
bool dir_attr_is(const char* dir, const char* name, const char* text, VxAttrAnswer* answer) {
    if (answer != nullptr) *answer = VxAttrAnswer::Absent;
    if (dir == nullptr) return false;
    char path[VXSYSFS_PATH_SIZE];
    char* end = build_path(path, "%s", dir);
    if (vxsysfs_path_append(path, end, name) == nullptr) return false;
    char value[kRoleSize];
    vxsysfs_get_str_attr(path, value, sizeof value, answer);
    return std::strcmp(value, text) == 0;
}

// The path of an attribute of the remote port entry, into path; false when
// it does not fit.
bool rport_attr_path(char* path, const char* entry, const char* name) {
    char* end = vxsysfs_get_fc_rport_path(path, entry);
    return vxsysfs_path_append(path, end, name) != nullptr;
}

// Walks the remote ports of the host (entries "rport-<host>:...") until the
// test accepts one; its directory path goes into result. 1 when found.
template <typename Test>
int find_rport(char* result, uint32_t host_no, Test accepts) {
    if (result == nullptr) return 0;
    result[0] = '\0';
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_fc_rport_path(dir, nullptr);
    // Class directories hold the entries themselves on older kernels and
    // links to them on newer ones.
    struct dlist* list = vx::sys().sysfs_open_directory_list(dir);
    if (list == nullptr) list = vx::sys().sysfs_open_link_list(dir);
    if (list == nullptr) return 0;

    char prefix[SYSFS_NAME_LEN];
    snprintf(prefix, sizeof prefix, "%s-%u:", "rport", host_no);
    const size_t prefix_len = strlen(prefix);
    int found = 0;
    char* entry;
    dlist_for_each_data(list, entry, char) {
        if (strncmp(entry, prefix, prefix_len) != 0) continue;
        if (!accepts(entry)) continue;
        vxsysfs_get_fc_rport_path(result, entry);
        found = 1;
        break;
    }
    vx::sys().sysfs_close_list(list);
    return found;
}

// ---- dumps ----

void print_text(const char* label, const void* text, size_t size) {
    std::string value(static_cast<const char*>(text), strnlen(static_cast<const char*>(text), size));
    vxdbg_print(label, 0, VXDBG_NONE, 0);
    vxdbg_print(value.c_str(), 0, VXDBG_NONE, 1);
}

void print_number(const char* label, uint64_t value, uint8_t base) { vxdbg_print(label, value, base, 1); }

// Bytes in hexadecimal: the first behind the label, each further one behind
// a blank.
void print_bytes(const char* label, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        vxdbg_print(i == 0 ? label : " ", bytes[i], VXDBG_HEX, i + 1 == count ? 1 : 0);
    }
}

// Three decimal bytes joined by ".".
void print_version(const char* label, const uint8_t* version) {
    vxdbg_print(label, version[0], VXDBG_DEC, 0);
    vxdbg_print(".", version[1], VXDBG_DEC, 0);
    vxdbg_print(".", version[2], VXDBG_DEC, 1);
}

}  // namespace

// ---------------------------------------------------------------- files

int32_t vxsysfs_read_file(const char* path, void* buffer, int32_t size, bool* failed) {
    bool unused = false;
    return transfer_file("vxsysfs_read_file", path, buffer, size, false, failed != nullptr ? failed : &unused);
}

int32_t vxsysfs_write_file(const char* path, const void* buffer, int32_t size) {
    bool failed = false;
    // The write direction only reads from the buffer.
    return transfer_file("vxsysfs_write_file", path, const_cast<void*>(buffer), size, true, &failed);
}

uint32_t vxsysfs_read_data(const char* path, void* buffer, int32_t size) {
    return transfer_once("vxsysfs_read_data", path, buffer, size, false);
}

uint32_t vxsysfs_write_data(const char* path, const void* buffer, int32_t size) {
    return transfer_once("vxsysfs_write_data", path, const_cast<void*>(buffer), size, true);
}

// ---------------------------------------------------------------- bytes

uint8_t vxsysfs_memsum(const void* buffer, uint32_t length) {
    if (buffer == nullptr) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

const char* vxsysfs_memstr(const void* buffer, const char* text, uint32_t length) {
    if (buffer == nullptr || text == nullptr) return nullptr;
    const auto* bytes = static_cast<const char*>(buffer);
    const size_t text_len = strlen(text);
    if (text_len > length) return nullptr;
    for (size_t i = 0; i + text_len <= length; ++i) {
        if (std::memcmp(bytes + i, text, text_len) == 0) return bytes + i;
    }
    return nullptr;
}

void vxsysfs_revcpy(void* destination, const void* source, uint32_t n) {
    if (destination == nullptr || source == nullptr) return;
    auto* to = static_cast<uint8_t*>(destination);
    const auto* from = static_cast<const uint8_t*>(source);
    for (uint32_t i = 0; i < n; ++i) to[i] = from[n - 1 - i];
}

uint64_t vxsysfs_lendian(const void* buffer, uint32_t n) {
    if (buffer == nullptr) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint64_t value = 0;
    // From the most significant byte down; bytes beyond the eighth shift out.
    for (uint32_t i = n; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

uint64_t vxsysfs_bendian(const void* buffer, uint32_t n) {
    if (buffer == nullptr) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint64_t value = 0;
    for (uint32_t i = 0; i < n; ++i) value = (value << 8) | bytes[i];
    return value;
}

void vxsysfs_lendian_buf(void* buffer, uint64_t value, uint32_t n) {
    if (buffer == nullptr) return;
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

void vxsysfs_bendian_buf(void* buffer, uint64_t value, uint32_t n) {
    if (buffer == nullptr) return;
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (uint32_t i = n; i > 0; --i) {
        bytes[i - 1] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

void vxsysfs_remove_end_newline(char* text) {
    if (text == nullptr) return;
    size_t len = strlen(text);
    while (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
}

void vxsysfs_to_array_hex(uint8_t* destination, const char* text, uint32_t n) {
    if (destination == nullptr) return;
    std::memset(destination, 0, n);
    if (text == nullptr) return;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    const size_t pairs = strlen(text) / 2;
    const size_t count = pairs < n ? pairs : n;
    for (size_t i = 0; i < count; ++i) {
        const char digits[3] = {text[2 * i], text[2 * i + 1], '\0'};
        destination[i] = static_cast<uint8_t>(strtoul(digits, nullptr, 16));
    }
}

// ---------------------------------------------------------------- addresses

uint16_t vxsysfs_get_target_id(const char* name) {
    short target = 0;
    if (name == nullptr || sscanf(name, "%*d : %*d : %hd : %*d", &target) != 1) return kNoAddress;
    return static_cast<uint16_t>(target);
}

uint16_t vxsysfs_get_lun_no(const char* name) {
    short lun = 0;
    if (name == nullptr || sscanf(name, "%*d : %*d : %*d : %hd", &lun) != 1) return kNoAddress;
    return static_cast<uint16_t>(lun);
}

// ---------------------------------------------------------------- paths

char* vxsysfs_get_scsi_host_path(char* path, uint16_t host_no) {
    return build_path(path, "%.*s/%s/%s/host%d/", mnt_len(), sysfs_mnt_path, "class", "scsi_host", host_no);
}

char* vxsysfs_get_fc_host(char* path) { return class_path(path, "fc_host"); }

char* vxsysfs_get_fc_host_path(char* path, uint16_t host_no) {
    return build_path(path, "%.*s/%s/%s/host%d/", mnt_len(), sysfs_mnt_path, "class", "fc_host", host_no);
}

char* vxsysfs_get_fc_rport_path(char* path, const char* rport_name) {
    if (rport_name == nullptr) return class_path(path, "fc_remote_ports");
    return build_path(path, "%.*s/%s/%s/%s/", mnt_len(), sysfs_mnt_path, "class", "fc_remote_ports",
                      rport_name);
}

char* vxsysfs_get_fc_vports_path(char* path) { return class_path(path, "fc_vports"); }

char* vxsysfs_get_scsi_dev_path(char* path, const char* dev_name) {
    if (dev_name == nullptr) return class_path(path, "scsi_device");
    return build_path(path, "%.*s/%s/%s/%s", mnt_len(), sysfs_mnt_path, "class", "scsi_device", dev_name);
}

char* vxsysfs_get_device_path(char* path, const vxapi_priv_database* rec) {
    if (rec == nullptr) return build_path(path, "%s", "");
    const auto* phys = reinterpret_cast<const char*>(rec->phys_path);
    return build_path(path, "%.*s/host%d/", static_cast<int>(strnlen(phys, sizeof rec->phys_path)), phys,
                      static_cast<int>(rec->host_no));
}

char* vxsysfs_path_append(char* path, char* end, const char* text) {
    if (path == nullptr || end == nullptr || text == nullptr || end < path) return nullptr;
    const size_t used = static_cast<size_t>(end - path);
    const size_t len = strlen(text);
    if (used >= VXSYSFS_PATH_SIZE || len >= VXSYSFS_PATH_SIZE - used) return nullptr;
    std::memcpy(end, text, len + 1);
    return end + len;
}

// ---------------------------------------------------------------- attributes

namespace {

void tell(VxAttrAnswer* answer, VxAttrAnswer value) {
    if (answer != nullptr) *answer = value;
}

}  // namespace

VxAttrAnswer vxsysfs_open_answer(int err) {
    return err == ENOENT || err == ENOTDIR ? VxAttrAnswer::Absent : VxAttrAnswer::Failed;
}

uint32_t vxsysfs_answer_status(VxAttrAnswer answer) {
    switch (answer) {
    case VxAttrAnswer::Came: return EXT_STATUS_OK;
    case VxAttrAnswer::Absent: return EXT_STATUS_DEV_NOT_FOUND;
    case VxAttrAnswer::TooLarge: return EXT_STATUS_DATA_OVERRUN;
    case VxAttrAnswer::Failed:
    case VxAttrAnswer::NotNumber: break;
    }
    return EXT_STATUS_ERR;
}

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The value of a digit of the base, or -1.
int digit_of(char c, int base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

VxFields::VxFields(const char* text, size_t length, bool cut)
    : at_(text != nullptr ? text : ""), end_(at_ + (text != nullptr ? strnlen(text, length) : 0)), cut_(cut) {}

void VxFields::skip_space() {
    while (at_ < end_ && is_space(*at_)) ++at_;
}

bool VxFields::skip_one() {
    if (at_ == end_) return false;
    ++at_;
    return true;
}

bool VxFields::literal(char c) {
    if (at_ == end_ || *at_ != c) return false;
    ++at_;
    return true;
}

bool VxFields::at_digit(int base) const { return at_ < end_ && digit_of(*at_, base) >= 0; }

size_t VxFields::digits(int base, const char** start, bool* at_cut, size_t width) {
    skip_space();
    // A cut right behind "0x": the number's digits lie past it.
    if (base == 16 && cut_ && end_ - at_ == 2 && at_[0] == '0' && (at_[1] == 'x' || at_[1] == 'X')) {
        *start = at_;
        if (at_cut != nullptr) *at_cut = true;
        return 0;
    }
    if (base == 16 && end_ - at_ > 2 && at_[0] == '0' && (at_[1] == 'x' || at_[1] == 'X') &&
        digit_of(at_[2], 16) >= 0) {
        at_ += 2;
    }
    *start = at_;
    while (at_ < end_ && (width == 0 || static_cast<size_t>(at_ - *start) < width) && digit_of(*at_, base) >= 0) {
        ++at_;
    }
    const auto count = static_cast<size_t>(at_ - *start);
    // Digits that filled their width are whole, wherever the text was cut.
    if (at_cut != nullptr) *at_cut = cut_ && at_ == end_ && (width == 0 || count < width);
    return count;
}

VxAttrAnswer VxFields::number(int base, uint64_t max, uint64_t* value, size_t width) {
    if (base == kBaseAsPrinted) {
        skip_space();
        base = end_ - at_ >= 2 && at_[0] == '0' && (at_[1] == 'x' || at_[1] == 'X') ? 16 : 10;
    }
    if (base != 10 && base != 16) return VxAttrAnswer::NotNumber;
    const char* start = nullptr;
    bool at_cut = false;
    const size_t count = digits(base, &start, &at_cut, width);
    // A cut text that ends at or before the number may hold more of it.
    if (at_cut) return VxAttrAnswer::TooLarge;
    if (count == 0) return VxAttrAnswer::NotNumber;
    uint64_t number = 0;
    const auto b = static_cast<uint64_t>(base);
    for (size_t i = 0; i < count; ++i) {
        const auto digit = static_cast<uint64_t>(digit_of(start[i], base));
        if (number > (UINT64_MAX - digit) / b) return VxAttrAnswer::TooLarge;
        number = number * b + digit;
    }
    if (number > max) return VxAttrAnswer::TooLarge;
    if (value != nullptr) *value = number;
    return VxAttrAnswer::Came;
}

VxAttrAnswer VxFields::unsigned_long(int base, uint64_t* value) {
    skip_space();
    const bool negative = literal('-');
    if (negative || literal('+')) {
        // A sign is no number without a digit right behind it; at the cut
        // the digits may lie past it.
        if (cut_ && at_end()) return VxAttrAnswer::TooLarge;
        if (!at_digit(base)) return VxAttrAnswer::NotNumber;
    }
    uint64_t number = 0;
    const VxAttrAnswer answer = this->number(base, UINT64_MAX, &number);
    if (answer == VxAttrAnswer::Came && value != nullptr) *value = negative ? 0 - number : number;
    return answer;
}

VxAttrAnswer vxsysfs_parse_number(const char* text, size_t length, int base, uint64_t max, uint64_t* value) {
    if (text == nullptr) return VxAttrAnswer::NotNumber;
    return VxFields(text, length).number(base, max, value);
}

void vxsysfs_get_str_attr(const char* path, char* destination, uint32_t length, VxAttrAnswer* answer) {
    tell(answer, VxAttrAnswer::Failed);
    if (destination == nullptr || length == 0) return;
    destination[0] = '\0';
    std::string value;
    const VxAttrAnswer read = read_attr(path, &value);
    tell(answer, read);
    if (read != VxAttrAnswer::Came) return;
    strip_newlines(&value);
    const size_t n = value.size() < length - 1 ? value.size() : length - 1;
    std::memcpy(destination, value.data(), n);
    destination[n] = '\0';
    if (n < value.size()) tell(answer, VxAttrAnswer::TooLarge);
}

void vxsysfs_get_hex_attr(const char* path, uint8_t* destination, uint32_t n, VxAttrAnswer* answer) {
    tell(answer, VxAttrAnswer::Failed);
    if (destination == nullptr) return;
    std::memset(destination, 0, n);
    std::string value;
    const VxAttrAnswer read = read_attr(path, &value);
    tell(answer, read);
    if (read != VxAttrAnswer::Came) return;
    // 1 to 2n digits; a number of fewer digits is the low end of the field.
    const char* start = nullptr;
    const size_t count = VxFields(value.data(), value.size()).digits(16, &start);
    if (count == 0 || count > 2 * size_t{n}) {
        tell(answer, count == 0 ? VxAttrAnswer::NotNumber : VxAttrAnswer::TooLarge);
        return;
    }
    std::string digits(2 * size_t{n} - count, '0');
    digits.append(start, count);
    vxsysfs_to_array_hex(destination, digits.c_str(), n);
}

uint32_t vxsysfs_get_int_attr(const char* path, VxAttrAnswer* answer, uint32_t max, int base) {
    std::string value;
    VxAttrAnswer read = read_attr(path, &value);
    uint64_t number = 0;
    if (read == VxAttrAnswer::Came) read = vxsysfs_parse_number(value.data(), value.size(), base, max, &number);
    tell(answer, read);
    return read == VxAttrAnswer::Came ? static_cast<uint32_t>(number) : 0;
}

uint64_t vxsysfs_get_long_attr(const char* path, VxAttrAnswer* answer) {
    std::string value;
    VxAttrAnswer read = read_attr(path, &value);
    uint64_t number = 0;
    if (read == VxAttrAnswer::Came) read = vxsysfs_parse_number(value.data(), value.size(), 16, UINT64_MAX, &number);
    tell(answer, read);
    return read == VxAttrAnswer::Came ? number : ~uint64_t{0};
}

// ---------------------------------------------------------------- remote ports

bool vxsysfs_is_rport_a_target(const char* rport_path, VxAttrAnswer* answer) {
    return dir_attr_is(rport_path, "roles", "FCP Target", answer);
}

bool vxsysfs_is_rport_online(const char* rport_path, VxAttrAnswer* answer) {
    return dir_attr_is(rport_path, "port_state", "Online", answer);
}

int vxsysfs_find_rport_by_wwpn(char* result, uint32_t host_no, const uint8_t* wwpn) {
    if (wwpn == nullptr) {
        if (result != nullptr) result[0] = '\0';
        return 0;
    }
    return find_rport(result, host_no, [wwpn](const char* entry) {
        char path[VXSYSFS_PATH_SIZE];
        if (!rport_attr_path(path, entry, "port_name")) return false;
        uint8_t port_name[kWwnSize];
        VxAttrAnswer answer;
        vxsysfs_get_hex_attr(path, port_name, sizeof port_name, &answer);
        // A name that did not come is no name: its zeros match nothing.
        return answer == VxAttrAnswer::Came && std::memcmp(port_name, wwpn, kWwnSize) == 0;
    });
}

int vxsysfs_find_rport_by_tid(char* result, uint32_t host_no, uint32_t target_id) {
    return find_rport(result, host_no, [target_id](const char* entry) {
        char path[VXSYSFS_PATH_SIZE];
        if (!rport_attr_path(path, entry, "scsi_target_id")) return false;
        // An id that did not come (unreadable, "-1" of a port without a
        // target, past 32 bits) is no id: it never matches, target 0 least.
        VxAttrAnswer answer;
        const uint32_t id = vxsysfs_get_int_attr(path, &answer);
        return answer == VxAttrAnswer::Came && id == target_id;
    });
}

// ---------------------------------------------------------------- dumps

void vxsysfs_print_priv_data(const vxapi_priv_database* rec) {
    if (!tracing() || rec == nullptr) return;
    const vxapi_phy_info* info = rec->phy_info;
    vxdbg_print("API Private Data:", 0, VXDBG_NONE, 1);
    print_text(" - phys_path: ", rec->phys_path, sizeof rec->phys_path);
    print_number(" - oshandle: ", static_cast<uint32_t>(rec->oshandle), VXDBG_INT);
    print_number(" - apihandle: ", rec->apihandle, VXDBG_DEC);
    // A record without its adapter record shows what it has of its own.
    if (info != nullptr) print_text(" - model: ", info->model, sizeof info->model);
    print_number(" - drvr_inst: ", rec->drvr_inst, VXDBG_DEC);
    print_number(" - host_no: ", rec->host_no, VXDBG_DEC);
    print_number(" - drvr_attr: ", rec->drvr_attr, VXDBG_DEC);
    print_bytes(" - wwnn: ", rec->wwnn, sizeof rec->wwnn);
    print_bytes(" - wwpn: ", rec->wwpn, sizeof rec->wwpn);
    print_bytes(" - portid: ", rec->port_id + 1, 3);
    print_number(" - interface_type: ", rec->interface_type, VXDBG_DEC);
    print_number(" - vp_idx: ", rec->vp_idx, VXDBG_DEC);
    print_number(" - features: ", rec->features, VXDBG_HEX);
    print_number(" - port_flags: ", rec->port_flags, VXDBG_HEX);
    print_number(" - topology: ", rec->topology, VXDBG_DEC);
    print_number(" - state: ", rec->state, VXDBG_DEC);
    if (info == nullptr) return;
    print_number(" - vendor_id: ", info->vendor_id, VXDBG_HEX);
    print_number(" - device_id: ", info->device_id, VXDBG_HEX);
    print_number(" - ssvendor_id: ", info->ssvendor_id, VXDBG_HEX);
    print_number(" - ssdevice_id: ", info->ssdevice_id, VXDBG_HEX);
    print_text(" - serial_num: ", info->serial_num, sizeof info->serial_num);
    print_number(" - pci_domain: ", info->pci_domain, VXDBG_HEX);
    print_number(" - pci_bus: ", info->pci_bus, VXDBG_HEX);
    print_number(" - pci_dev_func: ", info->pci_dev_func, VXDBG_HEX);
    print_number(" - max_vports_supported: ", info->max_vports, VXDBG_HEX);
    print_version(" - Running MPI: ", info->mpi_running_ver);
    print_version(" - Running EDC: ", info->edc_running_ver);
    print_version(" - Flash MPI: ", info->mpi_flash_ver);
    print_version(" - Flash EDC: ", info->edc_flash_ver);
}

void vxsysfs_print_disc_data(const EXT_DISC_PORT* port) {
    if (!tracing() || port == nullptr) return;
    vxdbg_print("Remote port data:", 0, VXDBG_NONE, 1);
    print_bytes(" - wwnn: ", port->WWNN, sizeof port->WWNN);
    print_bytes(" - wwpn: ", port->WWPN, sizeof port->WWPN);
    print_bytes(" - portid: ", port->Id + 1, 3);
    print_number(" - Type: ", port->Type, VXDBG_HEX);
    print_number(" - Status: ", port->Status, VXDBG_HEX);
    print_number(" - Bus: ", port->Bus, VXDBG_HEX);
    print_number(" - TargetId: ", port->TargetId, VXDBG_HEX);
    print_number(" - Local: ", port->Local, VXDBG_HEX);
    print_number(" - LoopID: ", port->LoopID, VXDBG_HEX);
}

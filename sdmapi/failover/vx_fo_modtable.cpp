// The configuration table inside the driver's configuration module: the
// scan for the table, the chain read, and the get and in-place set of its
// OPTIONS value.
#include "failover/vx_fo_modtable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "failover/vx_fo_files.h"
#include "failover/vx_fo_optstr.h"
#include "platform/vx_platform.h"

namespace {

// The scan reads the module in windows of this size, and a table buffer
// starts at one window and grows in whole windows.
constexpr size_t kWindow = 3002176;

// The head of an entry: Name, Next and the word before the value.
constexpr size_t kNameRoom = 16;
constexpr size_t kNextAt = 16;
constexpr size_t kWordAt = 20;
constexpr size_t kEntryHead = 24;

// Bytes carried from one window to the next: a whole entry head, so that a
// header entry that straddles two windows is found in the second.
constexpr size_t kCarry = kEntryHead;

constexpr int32_t kHeaderNext = 64;
// The smallest Next of a header entry: its head and the value marker.
constexpr uint32_t kHeaderNextAbove = 33;

constexpr uint8_t kHeaderName[16] = {0x07, '<', 'C', 'o', 'N', 'f', 'I', 'g', 0x07, 'N', 'a', 'M', 'e', '>', 0x07, 0};
constexpr uint8_t kValueMarker[17] = {0x07, '<', 'c', 'O', 'n', 'F', 'i', 'G', 0x07,
                                      'v',  'A', 'l', 'U', 'e', '>', 0x07, 0};
constexpr uint8_t kIdName[14] = {0x07, '<', 'c', 'O', 'n', 'F', 'i', 'G', 0x07, 'i', 'D', '>', 0x07, 0};
constexpr uint8_t kEndName[15] = {0x07, '<', 'E', 'n', 'D', 0x07, 'c', 'O', 'n', 'F', 'i', 'G', '>', 0x07, 0};

constexpr char kOptionsName[] = "OPTIONS";

int32_t next_of(const uint8_t* entry) {
    int32_t next;
    std::memcpy(&next, entry + kNextAt, sizeof next);
    return next;
}

uint32_t word_of(const uint8_t* entry) {
    uint32_t word;
    std::memcpy(&word, entry + kWordAt, sizeof word);
    return word;
}

template <size_t N>
bool has_marker(const uint8_t* at, const uint8_t (&marker)[N]) {
    return std::memcmp(at, marker, N) == 0;
}

// Whether the entry's Name (16 bytes of room) is the text.
bool name_equals(const uint8_t* entry, const char* name) {
    const size_t n = std::strlen(name);
    return n < kNameRoom && std::memcmp(entry, name, n + 1) == 0;
}

void put_stderr(const std::string& text) { vx::sys().write_stderr(text.data(), text.size()); }

// fatalError, then the failure status.
int fatal(const char* path, const char* text) {
    fatalError(path, text);
    return 1;
}

// A text made with a printf format.
template <class... Args>
std::string formatted(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}

// Grows the table buffer to hold `need` bytes (in whole windows) with the
// file's continuation read into it. false after the message.
bool grow_table(int fd, const char* path, std::unique_ptr<uint8_t[]>* buffer, size_t* room, size_t need) {
    const size_t add = ((need - *room) / kWindow + 1) * kWindow;
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[*room + add]);
    if (!bigger) {
        fatalError(path, "Cannot reallocate table");
        return false;
    }
    std::memcpy(bigger.get(), buffer->get(), *room);
    const ssize_t got = vx_conf_read_up_to(fd, bigger.get() + *room, add);
    if (got < 0) {
        systemError(path, "read");
        return false;
    }
    std::memset(bigger.get() + *room + got, 0, add - static_cast<size_t>(got));
    *buffer = std::move(bigger);
    *room += add;
    return true;
}

// The table's name: the value of an id entry right after the header.
std::string table_name(const uint8_t* buffer) {
    const uint8_t* second = buffer + next_of(buffer);
    const int32_t next = next_of(second);
    if (next <= 0 || !has_marker(second, kIdName)) return "unknown";
    const size_t room = next > static_cast<int32_t>(kEntryHead) ? static_cast<size_t>(next) - kEntryHead : 0;
    const char* value = reinterpret_cast<const char*>(second + kEntryHead);
    return std::string(value, strnlen(value, room));
}

// The module file of the driver for the running kernel, opened with its
// tables read. 0, or 1 when no path opens.
int open_module(const char* model, int writable, std::string* path, int* fd, ConfigTableList* list) {
    struct utsname host {};
    if (vx::sys().uname(&host) != 0) {
        put_stderr("***Unable to retrieve uname"
                   "() system information...\n");
        return 1;
    }
    std::vector<std::string> paths;
    if (std::strcmp(model, "vxa2xxx") == 0) {
        paths.push_back(formatted("/lib/modules/%s/kernel/drivers/scsi/vxa2xxx/%s_conf.ko", host.release, model));
    } else {
        paths.push_back(formatted("/lib/modules/%s/kernel/drivers/scsi/%s_conf.o", host.release, model));
        paths.push_back(formatted("/lib/modules/%s/kernel/drivers/addon/vxa2200/%s_conf.o", host.release, model));
    }
    for (const std::string& candidate : paths) {
        if (openProgram(candidate.c_str(), writable, fd, list) == 0) {
            *path = candidate;
            return 0;
        }
        closeProgram(*fd, list);
        *fd = -1;
    }
    return 1;
}

}  // namespace

void fatalError(const char* path, const char* text) { put_stderr(std::string(path) + ": " + text + "\n"); }

void systemError(const char* path, const char* text) {
    const int err = errno;
    put_stderr(std::string(path) + ": " + text + ": " + std::strerror(err) + "\n");
}

int64_t search(const char* path, const uint8_t* buffer, size_t held, size_t n) {
    (void)path;
    for (size_t p = 0; p < n; ++p) {
        const void* hit = std::memchr(buffer + p, 0x07, n - p);
        if (hit == nullptr) break;
        p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer);
        if (p + kEntryHead > held) continue;
        const uint8_t* at = buffer + p;
        if (at[1] == '<' && has_marker(at, kHeaderName) && next_of(at) == kHeaderNext && word_of(at) == 0) {
            return static_cast<int64_t>(p);
        }
    }
    return -1;
}

int findTables(int fd, const char* path, ConfigTableList* list) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCarry + kWindow]);
    if (!buffer) {
        fatalError(path, "Memory allocation failed");
        return 1;
    }
    std::memset(buffer.get(), 0, kCarry);
    uint64_t base = 0;
    for (;;) {
        ssize_t got;
        do {
            got = vx::sys().read(fd, buffer.get() + kCarry, kWindow);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            systemError(path, "read");
            return 1;
        }
        if (got == 0) return 0;
        const auto n = static_cast<size_t>(got);
        const int64_t k = search(path, buffer.get(), kCarry + n, n);
        if (k >= 0) {
            std::unique_ptr<ConfigTable> table(new (std::nothrow) ConfigTable{});
            if (!table) {
                fatalError(path, "Memory allocation failed");
                return 1;
            }
            table->FileOffset = base + static_cast<uint64_t>(k) - kCarry;
            table->Next = std::move(*list);
            *list = std::move(table);
            return 0;
        }
        std::memmove(buffer.get(), buffer.get() + n, kCarry);
        base += n;
    }
}

int readTable(int fd, const char* path, ConfigTable& table) {
    size_t room = kWindow;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[room]);
    if (!buffer) {
        fatalError(path, "Cannot allocate table");
        return 1;
    }
    if (vx::sys().lseek(fd, static_cast<off_t>(table.FileOffset), SEEK_SET) < 0) {
        systemError(path, "lseek");
        return 1;
    }
    const ssize_t got = vx_conf_read_up_to(fd, buffer.get(), room);
    if (got < 0) {
        systemError(path, "read");
        return 1;
    }
    std::memset(buffer.get() + got, 0, room - static_cast<size_t>(got));
    const uint8_t* b = buffer.get();
    if (!has_marker(b, kHeaderName)) return fatal(path, "Bad table magic name");
    if (!has_marker(b + kEntryHead, kValueMarker)) return fatal(path, "Bad table magic value");
    if (static_cast<uint32_t>(next_of(b)) <= kHeaderNextAbove) {
        return fatal(path, "Bad next value or variable in table");
    }

    // A chain that runs past the end of the file is damaged: it is refused
    // before any buffer grows after it.
    struct stat st {};
    if (vx::sys().fstat(fd, &st) != 0) {
        systemError(path, "read");
        return 1;
    }
    const uint64_t in_file = static_cast<uint64_t>(st.st_size) - std::min<uint64_t>(st.st_size, table.FileOffset);
    size_t at = 0;
    int64_t total = 0;
    for (int32_t next = next_of(buffer.get()); next > 0; next = next_of(buffer.get() + at)) {
        const size_t need = at + static_cast<size_t>(next) + kEntryHead;
        if (need > in_file) return fatal(path, "Bad end of table");
        // The entry after this one is read with the first byte of its value.
        if (need + 1 > room && !grow_table(fd, path, &buffer, &room, need + 1)) return 1;
        total += next;
        at += static_cast<size_t>(next);
    }
    if (!has_marker(buffer.get() + at, kEndName) || buffer[at + kEntryHead] != 0) {
        return fatal(path, "Bad end of table");
    }
    table.Name = table_name(buffer.get());
    table.TotalSize = total;
    table.Buffer = std::move(buffer);
    table.BufferSize = room;
    return 0;
}

int openProgram(const char* path, int writable, int* fd, ConfigTableList* list) {
    *fd = vx::sys().open(path, (writable != 0 ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (*fd < 0) return 1;
    int status = findTables(*fd, path, list);
    if (status != 0) return status;
    for (ConfigTable* t = list->get(); t != nullptr && status == 0; t = t->Next.get()) status = readTable(*fd, path, *t);
    return status;
}

void closeProgram(int fd, ConfigTableList* list) {
    if (fd >= 0) vx::sys().close(fd);
    list->reset();
}

size_t findEntry(const ConfigTable& table, const char* name) {
    const uint8_t* b = table.Buffer.get();
    if (b == nullptr) return kNoEntry;
    for (size_t at = static_cast<size_t>(next_of(b)); next_of(b + at) > 0; at += static_cast<size_t>(next_of(b + at))) {
        if (name_equals(b + at, name)) return at;
    }
    return kNoEntry;
}

int32_t vxapi_get_total_space(const ConfigTable& table) {
    return table.TotalSize > INT32_MAX ? INT32_MAX : static_cast<int32_t>(table.TotalSize);
}

ConfigTable* vxapi_get_table(const char* path, const ConfigTableList& list, const char* name) {
    for (ConfigTable* t = list.get(); t != nullptr; t = t->Next.get()) {
        if (t->Name == name) return t;
    }
    put_stderr(formatted("%s: Configuration table \"%s\" does not exist\n", path, name));
    return nullptr;
}

int vxapi_get_opt_table_val(const ConfigTable& table, char* dest) {
    const uint8_t* b = table.Buffer.get();
    if (b == nullptr) return 1;
    size_t at = static_cast<size_t>(next_of(b));
    if (next_of(b + at) > 0 && has_marker(b + at, kIdName)) at += static_cast<size_t>(next_of(b + at));
    for (int32_t next = next_of(b + at); next > 0; at += static_cast<size_t>(next), next = next_of(b + at)) {
        if (b[at] == 0 || !name_equals(b + at, kOptionsName)) continue;
        // The value must end within its room and fit the option string buffer.
        const size_t room = next > static_cast<int32_t>(kEntryHead) ? static_cast<size_t>(next) - kEntryHead : 0;
        const char* value = reinterpret_cast<const char*>(b + at + kEntryHead);
        const size_t len = strnlen(value, room);
        if (len == room || len >= VX_FO_OPTSTR_SIZE) return 1;
        std::memcpy(dest, value, len + 1);
        return 0;
    }
    return 1;
}

namespace {

// The whole source file, refused when larger than the table. 0, or 1 after the message.
int read_source(const char* source_path, int32_t max, std::string* text) {
    const int src = vx::sys().open(source_path, O_RDONLY | O_CLOEXEC);
    if (src < 0) {
        put_stderr(formatted("vxa_opts: unable to load conf file (%s)!!!\n", source_path));
        return 1;
    }
    struct stat st {};
    int status = 0;
    if (vx::sys().fstat(src, &st) != 0) {
        put_stderr("vxa_opts: unable to read conf data!!!\n");
        status = 1;
    } else if (st.st_size > max) {
        put_stderr(formatted("vxa_opts: reduce conf file size --  (max=%d)!!!\n", max));
        status = 1;
    } else {
        text->assign(static_cast<size_t>(st.st_size), '\0');
        if (vx_conf_read_up_to(src, text->data(), text->size()) != static_cast<ssize_t>(text->size())) {
            put_stderr("vxa_opts: unable to read conf data!!!\n");
            status = 1;
        }
    }
    vx::sys().close(src);
    return status;
}

// Writes the table back in place, over short writes and interrupted calls,
// and syncs it. 0, or 1 after the messages.
int write_table(int fd, const char* path, const ConfigTable& table) {
    if (vx::sys().lseek(fd, static_cast<off_t>(table.FileOffset), SEEK_SET) < 0) {
        systemError(path, "lseek");
        return 1;
    }
    const uint8_t* p = table.Buffer.get();
    auto left = static_cast<size_t>(table.TotalSize);
    while (left > 0) {
        const ssize_t n = vx::sys().write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) systemError(path, "write");
            fatalError(path, "Short write");
            return 1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (vx::sys().fsync(fd) != 0) {
        systemError(path, "fsync");
        return 1;
    }
    return 0;
}

}  // namespace

int vxapi_set_opt_table_vals(int fd, const char* module_path, ConfigTable& table, const char* source_path) {
    std::string text;
    if (read_source(source_path, vxapi_get_total_space(table), &text) != 0) return 1;
    const size_t at = findEntry(table, kOptionsName);
    if (at == kNoEntry) {
        put_stderr(formatted("%s: configuration name \"%s\" undefined\n", module_path, kOptionsName));
        return 1;
    }
    const size_t len = std::strlen(text.c_str());
    const int32_t next = next_of(table.Buffer.get() + at);
    if (len + kEntryHead >= static_cast<size_t>(next)) {
        fatalError(module_path, "Insufficient room in table for specified config values");
        return 1;
    }
    std::memcpy(table.Buffer.get() + at + kEntryHead, text.c_str(), len + 1);
    return write_table(fd, module_path, table);
}

int vxapi_get_opt_vals(const char* model, char* dest) {
    if (!vx_fo_module_name_ok(model) || dest == nullptr) return 1;
    std::string path;
    int fd = -1;
    ConfigTableList list;
    if (open_module(model, 0, &path, &fd, &list) != 0) return 1;
    int status = 1;
    if (!list) {
        const std::string line = "No configuration tables are present\n";
        vx::sys().write_stdout(line.data(), line.size());
    }
    for (const ConfigTable* t = list.get(); t != nullptr && status != 0; t = t->Next.get()) {
        status = vxapi_get_opt_table_val(*t, dest);
    }
    closeProgram(fd, &list);
    return status;
}

int vxapi_set_opt_vals(const char* model, const char* ignored) {
    (void)ignored;
    if (!vx_fo_module_name_ok(model)) return 1;
    std::string path;
    int fd = -1;
    ConfigTableList list;
    if (open_module(model, 1, &path, &fd, &list) != 0) return 1;
    const std::string name = std::string(model) + "_conf";
    // Without its table the module keeps the old value while the file has
    // the new one, and readers ask the module first: the set fails.
    int status = 1;
    if (ConfigTable* table = vxapi_get_table(path.c_str(), list, name.c_str())) {
        const std::string source = "/etc/" + std::string(model) + ".conf";
        status = vxapi_set_opt_table_vals(fd, path.c_str(), *table, source.c_str());
    }
    closeProgram(fd, &list);
    return status;
}

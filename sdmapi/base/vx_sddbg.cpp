// The library's debug trace.
//
// Fragments are assembled in one static line buffer and written a line at a
// time: to standard error unless the mask is exactly the default 0x401, and
// to the log file when the mask has 0x1. vxdbg_print closes the log file at
// the end of every call so that several processes append to it in turn.
//
// Two locks keep lines whole. A process mutex guards the line buffer, its
// index and the log stream against the other threads of the process (the
// application thread and the event thread trace at the same time); the debug
// semaphore, when tracing was asked for, serialises the output of all
// processes. A print or dump holds both for its whole output, the mutex
// outermost. A thread already inside the trace never enters it again, so a
// failure of the debug semaphore cannot feed back into the trace.
#include "base/vx_sddbg.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "base/vx_mutex.h"
#include "base/vx_sem.h"
#include "platform/vx_platform.h"

std::atomic<uint32_t> vx_debug{0};
int api_dbg_sem_id = -1;

namespace {

constexpr size_t kLineSize = 256;
constexpr uint8_t kLinePiece = 251;  // a line longer than this is written in pieces
constexpr size_t kPathSize = 512;
constexpr size_t kStampSize = 100;
constexpr const char* kLogPath = "/usr/lib/libvxsdm.log";
constexpr const char* kDebugEnv = "VX_FCAPI_DEBUG";

char vxdbg_line_buf[kLineSize];
uint8_t vxdbg_line_idx = 0;
char vxdbglog_path[kPathSize];
FILE* vxdbg_fp = nullptr;

// Guards the line buffer, its index, the log path and stream. Recursive: the
// print and the dump hold it while they call the public putc and puts.
VxRecursiveMutex g_trace_mutex;

// Set while this thread is inside a print or a dump.
thread_local bool t_in_trace = false;

// The whole of one print or dump: marks the thread as tracing, takes the
// process mutex, then the debug semaphore when it exists; gives them back in
// the reverse order. errno is as it was when the scope ends: callers trace
// between a failed system call and the report of its errno, and the log
// file, the semaphore and the clock must not change what they report.
class TraceScope {
public:
    TraceScope() = default;
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    struct KeepErrno {
        int saved = errno;
        ~KeepErrno() { errno = saved; }
    };
    KeepErrno errno_;  // first member: restored last
    struct Mark {
        Mark() { t_in_trace = true; }
        ~Mark() { t_in_trace = false; }
    };
    Mark mark_;
    std::lock_guard<VxRecursiveMutex> guard_{g_trace_mutex};
    VxSemLock sem_{api_dbg_sem_id};
};

// Upper-case hexadecimal digits of the value, no leading zeros. Length.
int hex_digits(uint64_t value, char* out, size_t size) {
    return snprintf(out, size, "%llX", static_cast<unsigned long long>(value));
}

// The value by the hexadecimal rule: its digits, then "h" when above 9.
void put_hex(uint64_t value) {
    char digits[24];
    hex_digits(value, digits, sizeof digits);
    vxdbg_puts(digits);
    if (value > 9) vxdbg_putc('h');
}

void put_repeated(char c, size_t n) {
    for (size_t i = 0; i < n; ++i) vxdbg_putc(c);
}

// The value of VX_FCAPI_DEBUG: hexadecimal, an optional "0x", up to the first
// other character. Sets *nonzero when the number is not 0.
uint64_t parse_debug_value(const char* text, bool* nonzero) {
    *nonzero = false;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        unsigned digit;
        char c = *text;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        // Digits beyond 64 bits shift out; the low bits stay exact.
        value = (value << 4) | digit;
        if (digit != 0) *nonzero = true;
    }
    return value;
}

// Layout of a dump, by item width.
struct DumpLayout {
    uint8_t width;          // bits of an item
    unsigned per_line;      // items a line
    size_t field;           // characters the digits are right-aligned in
    const char* header[2];  // written as two pieces
    size_t ruler;           // dashes of the ruler
};

constexpr DumpLayout kDumpLayouts[] = {
    {8, 16, 2, {" 0    1    2    3    4    5    6    7", "    8    9    Ah   Bh   Ch   Dh   Eh   Fh\n"}, 78},
    {16, 8, 4, {"   0      2      4      6      8", "      Ah     Ch     Eh\n"}, 54},
    {32, 4, 8, {"       0          4", "          8          Ch\n"}, 42},
    {64, 2, 16, {"               0", "                  4\n"}, 35},
};

const DumpLayout* dump_layout(uint8_t width) {
    for (const DumpLayout& layout : kDumpLayouts) {
        if (layout.width == width) return &layout;
    }
    return nullptr;
}

// Item i of the buffer, read byte-wise: the buffer need not be aligned.
uint64_t dump_item(const unsigned char* buffer, uint8_t width, uint64_t i) {
    const unsigned char* at = buffer + i * (width / 8);
    switch (width) {
    case 8:
        return *at;
    case 16: {
        uint16_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    case 32: {
        uint32_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    default: {
        uint64_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    }
}

}  // namespace

void vxapi_set_debug_level() {
    std::lock_guard<VxRecursiveMutex> guard(g_trace_mutex);
    uint32_t mask = VXDBG_DEFAULT_MASK;
    bool nonzero = false;
    if (const char* env = vx::sys().getenv(kDebugEnv); env != nullptr) {
        mask |= static_cast<uint32_t>(parse_debug_value(env, &nonzero));
    }
    vx_debug = mask;
    if (nonzero && api_dbg_sem_id < 0) api_dbg_sem_id = vxapi_sem_get(VX_SEM_KEY_DEBUG);
}

void vxdbg_print(const char* text, uint64_t number, uint8_t base, uint8_t eol) {
    // A print from inside the trace (a failure report of the debug
    // semaphore's own wait) would wait on that semaphore again: dropped.
    if (vx_debug == 0 || t_in_trace) return;
    TraceScope scope;

    if ((vx_debug & VXDBG_LOGFILE) != 0 && eol == 1) {
        // The stamp goes straight to the file, ahead of the line this call ends.
        char stamp[kStampSize] = "";
        time_t now = vx::sys().time();
        struct tm local {};
        if (vx::sys().localtime_r(&now, &local) != nullptr) {
            if (strftime(stamp, sizeof stamp, "%b %d %T", &local) == 0) stamp[0] = '\0';
        }
        if (FILE* fp = vxdbg_get_fptr(); fp != nullptr) {
            fputs(stamp, fp);
            fputs(": ", fp);
        }
    }
    vxdbg_puts(text);
    if (base != VXDBG_NONE) vxdbg_output_number(number, base);
    if (eol == 1) vxdbg_putc('\n');
    if (vxdbg_fp != nullptr) {
        fclose(vxdbg_fp);
        vxdbg_fp = nullptr;
    }
}

void vxdbg_dump(const char* title, const void* buffer, uint8_t width, uint64_t count) {
    if (t_in_trace) return;
    TraceScope scope;

    if (title != nullptr && title[0] != '\0') {
        vxdbg_puts(title);
        vxdbg_putc('\n');
    }
    const DumpLayout* layout = dump_layout(width);
    if (layout == nullptr) return;

    vxdbg_puts(layout->header[0]);
    vxdbg_puts(layout->header[1]);
    put_repeated('-', layout->ruler);
    vxdbg_putc('\n');
    if (buffer == nullptr) count = 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t item = dump_item(bytes, width, i);
        char digits[24];
        size_t len = static_cast<size_t>(hex_digits(item, digits, sizeof digits));
        put_repeated(' ', layout->field > len ? layout->field - len : 0);
        // Written here rather than through vxdbg_output_number, which prints
        // nothing for a value of all ones: a 64-bit item of all ones is data.
        put_hex(item);
        if ((i + 1) % layout->per_line == 0) {
            vxdbg_putc('\n');
        } else {
            vxdbg_puts(item > 9 ? "  " : "   ");
        }
    }
    if (count % layout->per_line != 0) vxdbg_putc('\n');
    put_repeated('-', layout->ruler);
    vxdbg_putc('\n');
}

void vxdbg_putc(char c) {
    std::lock_guard<VxRecursiveMutex> guard(g_trace_mutex);
    vxdbg_line_buf[vxdbg_line_idx++] = c;
    if (c != '\n' && vxdbg_line_idx < kLinePiece) return;

    size_t len = vxdbg_line_idx;
    vxdbg_line_buf[len] = '\0';
    vxdbg_line_idx = 0;
    if (vx_debug != VXDBG_DEFAULT_MASK) vx::sys().write_stderr(vxdbg_line_buf, len);
    if ((vx_debug & VXDBG_LOGFILE) != 0) {
        if (FILE* fp = vxdbg_get_fptr(); fp != nullptr) fwrite(vxdbg_line_buf, 1, len, fp);
    }
}

void vxdbg_puts(const char* text) {
    if (text == nullptr) return;
    std::lock_guard<VxRecursiveMutex> guard(g_trace_mutex);
    for (; *text != '\0'; ++text) vxdbg_putc(*text);
}

void vxdbg_output_number(uint64_t value, uint8_t base) {
    if (value == ~uint64_t{0}) return;
    std::lock_guard<VxRecursiveMutex> guard(g_trace_mutex);
    char text[32];
    switch (base) {
    case VXDBG_INT:
        snprintf(text, sizeof text, "%d", static_cast<int32_t>(static_cast<uint32_t>(value)));
        vxdbg_puts(text);
        break;
    case VXDBG_DEC:
        snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
        vxdbg_puts(text);
        break;
    case VXDBG_HEX:
        put_hex(value);
        break;
    default:
        break;
    }
}

FILE* vxdbg_get_fptr() {
    std::lock_guard<VxRecursiveMutex> guard(g_trace_mutex);
    if (vxdbg_fp == nullptr) {
        if (vx_debug != 0 && vxdbglog_path[0] == '\0') {
            snprintf(vxdbglog_path, sizeof vxdbglog_path, "%s", kLogPath);
        }
        if (vxdbglog_path[0] != '\0') vxdbg_fp = vx::sys().fopen(vxdbglog_path, "ae");
    }
    return vxdbg_fp;
}

void vxdbg_reset() {
    std::lock_guard<VxRecursiveMutex> guard(g_trace_mutex);
    vx_debug = 0;
    api_dbg_sem_id = -1;
    vxdbg_line_idx = 0;
    vxdbg_line_buf[0] = '\0';
    vxdbglog_path[0] = '\0';
    if (vxdbg_fp != nullptr) {
        fclose(vxdbg_fp);
        vxdbg_fp = nullptr;
    }
}

VxRecursiveMutex& vxdbg_mutex() { return g_trace_mutex; }

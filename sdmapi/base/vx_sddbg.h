// The library's debug trace.
//
// `vx_debug` selects what is traced; every call site tests its own mask bit
// and then calls vxdbg_print (a text, optionally a number, optionally the end
// of the line) or vxdbg_dump (a hex dump). Output is assembled into lines and
// written a line at a time to standard error (unless the mask is exactly the
// default 0x401) and, with bit 0x1, appended to the library's log file.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/vx_mutex.h"

// Mask bits.
constexpr uint32_t VXDBG_LOGFILE = 0x1;  // copy every line to the log file, stamped
constexpr uint32_t VXDBG_ERROR = 0x2;    // errors of the library's operations
constexpr uint32_t VXDBG_STEP = 0x4;     // entry, exit and steps of internal operations
constexpr uint32_t VXDBG_API = 0x20;     // the management API's operations
constexpr uint32_t VXDBG_ELS = 0x40;     // a step of the ELS echo operation
constexpr uint32_t VXDBG_EVENT = 0x100;  // the event thread and event reading
constexpr uint32_t VXDBG_SYSFS = 0x200;  // sysfs, bsg and netlink transports
constexpr uint32_t VXDBG_NOTICE = 0x400; // the few messages shown by default
constexpr uint32_t VXDBG_DEFAULT_MASK = 0x401;

// Number bases of vxdbg_print.
constexpr uint8_t VXDBG_NONE = 0;  // no number
constexpr uint8_t VXDBG_INT = 1;   // low 32 bits, signed decimal
constexpr uint8_t VXDBG_DEC = 10;  // unsigned decimal
constexpr uint8_t VXDBG_HEX = 16;  // upper-case hexadecimal, "h" behind values above 9

// The mask: set by vxapi_set_debug_level (at every open of a port) while the
// library's threads trace.
extern std::atomic<uint32_t> vx_debug;
extern int api_dbg_sem_id;  // debug semaphore (key 819), -1 when absent

// Sets the mask to 0x401 plus the hexadecimal value of VX_FCAPI_DEBUG; a
// nonzero value also gets the debug semaphore.
void vxapi_set_debug_level();

void vxdbg_print(const char* text, uint64_t number, uint8_t base, uint8_t eol);
void vxdbg_dump(const char* title, const void* buffer, uint8_t width, uint64_t count);
void vxdbg_putc(char c);
void vxdbg_puts(const char* text);
void vxdbg_output_number(uint64_t value, uint8_t base);
[[nodiscard]] FILE* vxdbg_get_fptr();

// Whether any of the bits is traced.
[[nodiscard]] inline bool vxdbg_on(uint32_t bits) { return (vx_debug & bits) != 0; }

// One whole line, when any of the bits is traced: the text, and the number
// in the base when the base is not VXDBG_NONE.
inline void vxdbg_line(uint32_t bits, const char* text, uint64_t number = 0, uint8_t base = VXDBG_NONE) {
    if (vxdbg_on(bits)) vxdbg_print(text, number, base, 1);
}

// Back to the state of a process that has not traced yet (tests).
void vxdbg_reset();

// The process lock of the trace, the innermost of the library's locks: a
// fork of the process holds it across (core/life/vx_fork.h).
[[nodiscard]] VxRecursiveMutex& vxdbg_mutex();

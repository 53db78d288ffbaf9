// The configuration table inside the driver's configuration module.
//
// The module file ("<driver>_conf.ko" or "<driver>_conf.o" under
// /lib/modules/<release>/kernel/drivers/) carries, at any byte offset, a
// chain of entries framed by marker names:
//   offset 0  Name   16 bytes, NUL-terminated
//   offset 16 Next   int32, native order: distance to the next entry; <= 0 ends
//   offset 20 word   0 in the header entry
//   offset 24 Value  NUL-terminated text; its room is Next - 24 bytes
// header entry (Next 64), an optional id entry naming the table, value
// entries ("OPTIONS" holds the option string), and the end entry. The table
// size is the sum of the Next values before the end entry; a write-back
// covers exactly those bytes.
//
// Messages go to standard error ("No configuration tables are present" to
// standard output); the return values are 0 (done) and 1 (not done).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One table found in a module file; the tables of a file form a list.
struct ConfigTable {
    std::string Name;     // the id entry's value, "unknown" without one; "" until read
    uint64_t FileOffset;  // of the header entry
    int64_t TotalSize;    // the table size
    std::unique_ptr<uint8_t[]> Buffer;  // the table's bytes as read; null until read
    size_t BufferSize;
    std::unique_ptr<ConfigTable> Next;
};
using ConfigTableList = std::unique_ptr<ConfigTable>;

// Offset of an entry inside a table's Buffer (a ConfigEntry), or kNoEntry.
constexpr size_t kNoEntry = static_cast<size_t>(-1);

// The OPTIONS value of the driver's module into dest (VX_FO_OPTSTR_SIZE bytes).
[[nodiscard]] int vxapi_get_opt_vals(const char* model, char* dest);
// Replaces the OPTIONS value of the table "<driver>_conf" with the whole
// content of "/etc/<driver>.conf" (the second argument is not used).
[[nodiscard]] int vxapi_set_opt_vals(const char* model, const char* ignored);

[[nodiscard]] int vxapi_get_opt_table_val(const ConfigTable& table, char* dest);
[[nodiscard]] int vxapi_set_opt_table_vals(int fd, const char* module_path, ConfigTable& table,
                                           const char* source_path);

[[nodiscard]] int openProgram(const char* path, int writable, int* fd, ConfigTableList* list);
void closeProgram(int fd, ConfigTableList* list);
[[nodiscard]] int findTables(int fd, const char* path, ConfigTableList* list);
[[nodiscard]] int readTable(int fd, const char* path, ConfigTable& table);
// Buffer offset of the first header entry among the first n positions, or -1.
[[nodiscard]] int64_t search(const char* path, const uint8_t* buffer, size_t held, size_t n);
[[nodiscard]] size_t findEntry(const ConfigTable& table, const char* name);
[[nodiscard]] int32_t vxapi_get_total_space(const ConfigTable& table);
[[nodiscard]] ConfigTable* vxapi_get_table(const char* path, const ConfigTableList& list, const char* name);

void fatalError(const char* path, const char* text);
void systemError(const char* path, const char* text);

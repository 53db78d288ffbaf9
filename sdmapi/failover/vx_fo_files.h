// Files and shell commands of the failover layer's configuration writers.
//
// The writers never edit a configuration file in place: the new text goes
// to a temporary file that only this process can have made (exclusive
// creation, a unique name, in the destination's own folder), every write and
// close of it is checked, and it is installed with "cp -f" through the shell,
// whose status is checked too. Every path in a command is single-quoted, and
// a driver module name takes part in a path only after vx_fo_module_name_ok.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Whether a driver module name may enter a path or a command: 1 to 15
// letters, digits, '_' or '-'.
bool vx_fo_module_name_ok(const char* model);

// The model of a slot (< 32) when its name passes vx_fo_module_name_ok, else null.
const char* vx_fo_slot_model(uint32_t slot);

// A path as one single-quoted word of /bin/sh.
std::string vx_fo_quote(std::string_view path);

// Runs a command line through the shell (v_system); the wait status, or -1.
int vx_fo_shell(const std::string& command);
// Whether a wait status is a normal exit with status 0.
bool vx_fo_shell_ok(int wait_status);

// Writes all bytes, over short writes and interrupted calls.
bool vx_fo_write_all(int fd, const void* data, size_t len);
// Reads until len bytes or the end of the file; the count, or -1.
ssize_t vx_fo_read_up_to(int fd, void* data, size_t len);

// A whole file read into *text, refused when it holds `limit` bytes or more.
enum class VxFoRead : uint8_t { Read, Missing, Failed };
VxFoRead vx_fo_read_file(const std::string& path, size_t limit, std::string* text);
VxFoRead vx_fo_read_fd(int fd, size_t limit, std::string* text);

// A temporary file beside a destination, removed when the object ends.
class VxFoTempFile {
public:
    VxFoTempFile() = default;
    ~VxFoTempFile();
    VxFoTempFile(const VxFoTempFile&) = delete;
    VxFoTempFile& operator=(const VxFoTempFile&) = delete;

    // Creates it exclusively, with mode 0644, in the folder of dest.
    bool create_beside(const std::string& dest);
    bool write(std::string_view text);
    // Syncs and closes it; false when either fails.
    bool commit();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Installs tmp over dest with "cp -f"; with a backup suffix dest is first
// kept as dest + suffix ("--suffix=S --backup=simple"), and a failed copy
// puts that backup back. 0, or SDERR_CONFIG_FILE.
uint32_t vx_fo_install(const std::string& tmp, const std::string& dest, const char* backup_suffix = nullptr);

// Puts dest + suffix back as dest ("rm -f", "mv -f"). 0, or
// SDERR_CONFIG_FILE (dest is left alone when there is no backup).
uint32_t vx_fo_restore(const std::string& dest, const char* backup_suffix);

// Replaces the content of dest with text: a temporary file, its install and
// its removal ("rm -f"). 0, or SDERR_CONFIG_FILE with dest unchanged.
uint32_t vx_fo_replace_file(const std::string& dest, std::string_view text, const char* backup_suffix = nullptr);

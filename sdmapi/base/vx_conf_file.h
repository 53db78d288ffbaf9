// Host configuration files: their line bound, and the writers' files and
// shell. Module configuration files are read as kmod reads them
// (base/vx_modconf.h).
//
// The writers never edit a configuration file in place: the new text goes
// to a temporary file that only this process can have made (exclusive
// creation, a unique name, in the destination's own folder), every write,
// sync and close of it is checked, and it is renamed over the destination.
// A configuration file is so at every moment either the old file or the new
// one, whenever the process fails or is killed. The new file takes the mode
// of the one it replaces, and its owner and group where the writer may set
// them (as root), before any text goes into it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The line buffer of the readers, and the longest line (with its newline).
constexpr size_t VX_CONF_LINE_BUFFER = 65536;
constexpr size_t VX_CONF_LINE_MAX = VX_CONF_LINE_BUFFER - 1;

// The key as the writers put it at the start of a line.
[[nodiscard]] std::string vx_conf_options_key(std::string_view model);

// Runs the command with "/bin/sh -c" in a child process: the raw wait
// status, or -1 when the child cannot be made or waited for.
[[nodiscard]] int v_system(const char* command);

// Runs a command line through the shell (v_system); the wait status, or -1.
[[nodiscard]] int vx_conf_shell(const std::string& command);

// Writes all bytes, over short writes and interrupted calls.
[[nodiscard]] bool vx_conf_write_all(int fd, const void* data, size_t len);
// Reads until len bytes or the end of the file; the count, or -1.
[[nodiscard]] ssize_t vx_conf_read_up_to(int fd, void* data, size_t len);

// A configuration file is read whole into memory, and only when it is
// smaller than this bound: one of this size or larger is refused. It is the
// library's guard against a file it cannot hold in memory, not a rule of the
// tools that read the files. A kind of file has one bound, shared by its
// readers and writers, so that no writer makes a file that its reader
// refuses: this one, or a tighter one of its own (the failover store's
// option file is bound by its option string).
constexpr size_t VX_CONF_FILE_LIMIT = 64u << 20;

// Whether a configuration file of the text is one its reader takes: smaller
// than VX_CONF_FILE_LIMIT.
[[nodiscard]] constexpr bool vx_conf_fits(std::string_view text) { return text.size() < VX_CONF_FILE_LIMIT; }

// A whole file read into *text, refused when it holds `limit` bytes or more;
// the file's status in *st when it is given.
enum class VxConfRead : uint8_t { Read, Missing, Failed };
[[nodiscard]] VxConfRead vx_conf_read_file(const std::string& path, size_t limit, std::string* text,
                                           struct stat* st = nullptr);
[[nodiscard]] VxConfRead vx_conf_read_fd(int fd, size_t limit, std::string* text, struct stat* st = nullptr);

// What a file written over another takes of it: its permission bits, and
// its owner and group, which are set only by a writer that may (as root). A
// file that replaces none has mode 0644 and the writer's owner and group.
struct VxConfAttrs {
    mode_t mode = 0644;
    bool keep_owner = false;  // uid and gid below; else the writer's
    uid_t uid = 0;
    gid_t gid = 0;
};

// The attributes of a file of this status, for a file that replaces it.
[[nodiscard]] VxConfAttrs vx_conf_attrs_of(const struct stat& st);
// Gives an open file the attributes: false when one of them cannot be set.
[[nodiscard]] bool vx_conf_set_attrs(int fd, const VxConfAttrs& attrs);

// A temporary file beside a destination, removed when the object ends.
class VxConfTempFile {
public:
    VxConfTempFile() = default;
    ~VxConfTempFile();
    VxConfTempFile(const VxConfTempFile&) = delete;
    VxConfTempFile& operator=(const VxConfTempFile&) = delete;

    // Creates it exclusively, in the folder of dest, with the attributes
    // (only this process can read it until they are set).
    [[nodiscard]] bool create_beside(const std::string& dest, const VxConfAttrs& attrs = {});
    [[nodiscard]] bool write(std::string_view text);
    // Syncs and closes it; false when either fails.
    [[nodiscard]] bool commit();
    // Renames the committed file over dest, in the same folder (dest is then
    // this file, and nothing is left to remove); false with dest unchanged.
    [[nodiscard]] bool rename_over(const std::string& dest);

private:
    std::string path_;
    int fd_ = -1;
};

// Replaces the content of dest with text. The text goes to a temporary
// file beside dest, which is synced and renamed over dest: dest is at every
// moment the old file or the new one. A symbolic link at dest stays a link:
// the file it leads to is replaced. The new file takes the attributes
// (VxConfAttrs) of the file it replaces; one that cannot be set fails the
// install. With a backup suffix, a copy of the old dest, with its
// attributes, is first kept as dest + suffix, made the same way (the old
// file stays in place until the rename); without a dest, a backup left by an
// earlier install is removed, so that it never passes for this one's.
// A text that would make a file its reader refuses (vx_conf_fits) is not
// written. 0, or SDERR_CONFIG_FILE with dest and its backup as they were.
[[nodiscard]] uint32_t vx_conf_replace_file(const std::string& dest, std::string_view text,
                                            const char* backup_suffix = nullptr);

// Puts dest + suffix back as dest by rename. 0, or SDERR_CONFIG_FILE (dest
// is left alone when there is no backup).
[[nodiscard]] uint32_t vx_conf_restore(const std::string& dest, const char* backup_suffix);

// A file as it was before a change, kept to be put back when a later step
// of the change fails. A symbolic link at path is followed: the file is the
// one it leads to, and a link that leads nowhere is a missing file.
struct VxConfKept {
    std::string path;
    bool existed = false;
    std::string text;
    VxConfAttrs attrs;  // when it existed
};
// Reads the file whole into *kept (a missing file is kept as missing);
// false when it cannot be read or holds `limit` bytes or more.
[[nodiscard]] bool vx_conf_keep(const std::string& path, size_t limit, VxConfKept* kept);
// Puts the file back as it was when it is not: its text installed again with
// its attributes, or the file removed (through a link, the link stays). true
// when it is as it was.
[[nodiscard]] bool vx_conf_put_back(const VxConfKept& kept);

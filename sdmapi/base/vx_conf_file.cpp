// Host configuration files: their lines, and the writers' files and shell.
#include "base/vx_conf_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kTempAttempts = 64;

// The bits of a mode that a file installed over another keeps: the
// permissions with the set-id and sticky bits.
constexpr mode_t kPermissionBits = 07777;

// Symbolic links followed to the file an install replaces, as many as the
// kernel follows before it gives ELOOP.
constexpr int kMaxLinks = 40;

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return vx::sys().lstat(path.c_str(), &st) == 0;
}

// Whether the writer may give a file another owner and group.
bool may_chown() { return vx::sys().geteuid() == 0; }

// Whether a file of this status has the attributes (the owner and group
// only where the writer could have set them).
bool has_attrs(const struct stat& st, const VxConfAttrs& attrs) {
    if ((st.st_mode & kPermissionBits) != attrs.mode) return false;
    return !attrs.keep_owner || !may_chown() || (st.st_uid == attrs.uid && st.st_gid == attrs.gid);
}

// The file that an install over path replaces: path, or the end of the
// symbolic links there (a copy through a link leaves the link, so does an
// install). "" when the links do not end.
std::string install_target(std::string path) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st {};
        if (vx::sys().lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char link[PATH_MAX];
        const ssize_t n = vx::sys().readlink(path.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<size_t>(n) == sizeof link) return {};
        const std::string to(link, static_cast<size_t>(n));
        path = to[0] == '/' ? to : folder_of(path) + "/" + to;
    }
    return {};
}

}  // namespace

std::string vx_conf_options_key(std::string_view model) { return "options " + std::string(model); }

int v_system(const char* command) {
    if (command == nullptr) return -1;
    vx::Platform& os = vx::sys();
    // Output still in the buffers would be written by the child's copy too.
    os.fflush(stdout);
    os.fflush(stderr);
    const pid_t pid = os.fork();
    if (pid == 0) {
        const char* const argv[] = {"/bin/sh", "-c", command, nullptr};
        os.execv("/bin/sh", argv);
        // Without exec, the child ends at once: no exit handlers of the
        // parent's, and none of its buffers written a second time.
        os.exit_child(1);
    }
    if (pid < 0) return -1;
    int status = 0;
    pid_t waited;
    do {
        waited = os.waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == pid ? status : -1;
}

int vx_conf_shell(const std::string& command) { return v_system(command.c_str()); }

bool vx_conf_write_all(int fd, const void* data, size_t len) {
    const auto* p = static_cast<const char*>(data);
    while (len > 0) {
        const ssize_t n = vx::sys().write(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t vx_conf_read_up_to(int fd, void* data, size_t len) {
    auto* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = vx::sys().read(fd, p + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

VxConfRead vx_conf_read_fd(int fd, size_t limit, std::string* text, struct stat* st) {
    struct stat own {};
    if (st == nullptr) st = &own;
    if (vx::sys().fstat(fd, st) != 0 || st->st_size < 0 || static_cast<uint64_t>(st->st_size) >= limit) {
        return VxConfRead::Failed;
    }
    const auto size = static_cast<size_t>(st->st_size);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
    if (!buffer) return VxConfRead::Failed;
    if (vx_conf_read_up_to(fd, buffer.get(), size) != static_cast<ssize_t>(size)) return VxConfRead::Failed;
    text->assign(buffer.get(), size);
    return VxConfRead::Read;
}

VxConfRead vx_conf_read_file(const std::string& path, size_t limit, std::string* text, struct stat* st) {
    const int fd = vx::sys().open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? VxConfRead::Missing : VxConfRead::Failed;
    const VxConfRead result = vx_conf_read_fd(fd, limit, text, st);
    vx::sys().close(fd);
    return result;
}

// ---------------------------------------------------------------- temporary files

VxConfTempFile::~VxConfTempFile() {
    if (fd_ >= 0) vx::sys().close(fd_);
    if (!path_.empty()) vx::sys().unlink(path_.c_str());
}

bool VxConfTempFile::create_beside(const std::string& dest, const VxConfAttrs& attrs) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = folder_of(dest) + "/." + base_of(dest) + ".vxtmp." + std::to_string(vx::sys().getpid());
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        const std::string name = stem + "." + std::to_string(counter.fetch_add(1));
        const int fd = vx::sys().open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        fd_ = fd;
        path_ = name;
        return vx_conf_set_attrs(fd_, attrs);
    }
    return false;
}

bool VxConfTempFile::write(std::string_view text) { return fd_ >= 0 && vx_conf_write_all(fd_, text.data(), text.size()); }

bool VxConfTempFile::commit() {
    if (fd_ < 0) return false;
    const bool synced = vx::sys().fsync(fd_) == 0;
    const bool closed = vx::sys().close(fd_) == 0;
    fd_ = -1;
    return synced && closed;
}

bool VxConfTempFile::rename_over(const std::string& dest) {
    if (fd_ >= 0 || path_.empty() || vx::sys().rename(path_.c_str(), dest.c_str()) != 0) return false;
    path_.clear();  // the name is dest's now
    return true;
}

// ---------------------------------------------------------------- installs

namespace {

// Keeps a copy of the file at dest as backup, made as an install is made, so
// that the backup too is always whole, and with the file's attributes, so
// that it is never open to more than the file; without a file at dest, an
// earlier backup is removed. true when the backup is so.
bool keep_backup(const std::string& dest, const std::string& backup) {
    VxConfKept old;
    if (!vx_conf_keep(dest, VX_CONF_FILE_LIMIT, &old)) return false;
    if (!old.existed) return vx::sys().unlink(backup.c_str()) == 0 || errno == ENOENT;
    VxConfTempFile copy;
    return copy.create_beside(backup, old.attrs) && copy.write(old.text) && copy.commit() && copy.rename_over(backup);
}

// The attributes of the file at target, which a file installed over it
// takes, or a new file's when there is none. false when it cannot be looked at.
bool attrs_at(const std::string& target, VxConfAttrs* attrs) {
    struct stat st {};
    if (vx::sys().stat(target.c_str(), &st) == 0) {
        *attrs = vx_conf_attrs_of(st);
        return true;
    }
    return errno == ENOENT;
}

// The backup first (what it held before is put back when the rename
// fails), then the committed file renamed over the target.
uint32_t install(VxConfTempFile& tmp, const std::string& dest, const std::string& target, const char* backup_suffix) {
    if (backup_suffix == nullptr) return tmp.rename_over(target) ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
    const std::string backup = dest + backup_suffix;
    VxConfKept before;
    if (!vx_conf_keep(backup, VX_CONF_FILE_LIMIT, &before) || !keep_backup(dest, backup)) return SDERR_CONFIG_FILE;
    if (tmp.rename_over(target)) return SDERR_NO_ERROR;
    (void)vx_conf_put_back(before);  // the install failed whether or not the backup went back
    return SDERR_CONFIG_FILE;
}

// Installs text over dest with the attributes, or (null) with those of the
// file it replaces.
uint32_t replace(const std::string& dest, std::string_view text, const VxConfAttrs* attrs,
                 const char* backup_suffix) {
    if (!vx_conf_fits(text)) return SDERR_CONFIG_FILE;
    const std::string target = install_target(dest);
    VxConfAttrs found;
    if (target.empty() || (attrs == nullptr && !attrs_at(target, &found))) return SDERR_CONFIG_FILE;
    VxConfTempFile tmp;
    if (!tmp.create_beside(target, attrs != nullptr ? *attrs : found) || !tmp.write(text) || !tmp.commit()) {
        return SDERR_CONFIG_FILE;
    }
    return install(tmp, dest, target, backup_suffix);
}

}  // namespace

uint32_t vx_conf_replace_file(const std::string& dest, std::string_view text, const char* backup_suffix) {
    return replace(dest, text, nullptr, backup_suffix);
}

uint32_t vx_conf_restore(const std::string& dest, const char* backup_suffix) {
    const std::string backup = dest + backup_suffix;
    const std::string target = install_target(dest);
    if (target.empty() || !file_exists(backup)) return SDERR_CONFIG_FILE;
    return vx::sys().rename(backup.c_str(), target.c_str()) == 0 ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
}

bool vx_conf_keep(const std::string& path, size_t limit, VxConfKept* kept) {
    kept->path = path;
    struct stat st {};
    const VxConfRead read = vx_conf_read_file(path, limit, &kept->text, &st);
    kept->existed = read == VxConfRead::Read;
    kept->attrs = kept->existed ? vx_conf_attrs_of(st) : VxConfAttrs{};
    return read != VxConfRead::Failed;
}

bool vx_conf_put_back(const VxConfKept& kept) {
    std::string now;
    struct stat st {};
    const VxConfRead read = vx_conf_read_file(kept.path, VX_CONF_FILE_LIMIT, &now, &st);
    if (kept.existed ? read == VxConfRead::Read && now == kept.text && has_attrs(st, kept.attrs)
                     : read == VxConfRead::Missing) {
        return true;
    }
    if (kept.existed) return replace(kept.path, kept.text, &kept.attrs, nullptr) == SDERR_NO_ERROR;
    // The file goes from where an install put it: behind a link, which stays.
    const std::string target = install_target(kept.path);
    return !target.empty() && (vx::sys().unlink(target.c_str()) == 0 || errno == ENOENT);
}

VxConfAttrs vx_conf_attrs_of(const struct stat& st) {
    return VxConfAttrs{static_cast<mode_t>(st.st_mode & kPermissionBits), true, st.st_uid, st.st_gid};
}

// Gives the open file the attributes: the owner first, since a change of
// owner may clear the set-id bits that the mode then sets.
bool vx_conf_set_attrs(int fd, const VxConfAttrs& attrs) {
    if (attrs.keep_owner && may_chown()) {
        struct stat st {};
        if (vx::sys().fstat(fd, &st) != 0) return false;
        const bool other = st.st_uid != attrs.uid || st.st_gid != attrs.gid;
        if (other && vx::sys().fchown(fd, attrs.uid, attrs.gid) != 0) return false;
    }
    return vx::sys().fchmod(fd, attrs.mode) == 0;
}

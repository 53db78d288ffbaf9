// Files and shell commands of the failover layer's configuration writers.
#include "failover/vx_fo_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/vx_records.h"
#include "failover/vx_fo_channel.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

// Room of the model field of a slot, with its terminating NUL.
constexpr size_t kModelRoom = sizeof(vxapi_priv_db_t::model);

// Attempts at a free temporary name before giving up.
constexpr int kTempAttempts = 64;

// Mode of every file the writers install: the configuration files are
// world-readable, as the files they replace.
constexpr mode_t kConfigMode = 0644;

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

}  // namespace

bool vx_fo_module_name_ok(const char* model) {
    if (model == nullptr) return false;
    size_t n = 0;
    for (; n < kModelRoom && model[n] != '\0'; ++n) {
        const char c = model[n];
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '-';
        if (!word) return false;
    }
    return n > 0 && n < kModelRoom;
}

const char* vx_fo_slot_model(uint32_t slot) {
    if (slot >= VX_LEGACY_SLOTS) return nullptr;
    const char* model = api_priv_data[slot].model;
    return vx_fo_module_name_ok(model) ? model : nullptr;
}

std::string vx_fo_quote(std::string_view path) {
    std::string out = "'";
    for (const char c : path) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

int vx_fo_shell(const std::string& command) { return v_system(command.c_str()); }

bool vx_fo_shell_ok(int wait_status) {
    return wait_status != -1 && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

bool vx_fo_write_all(int fd, const void* data, size_t len) {
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

ssize_t vx_fo_read_up_to(int fd, void* data, size_t len) {
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

VxFoRead vx_fo_read_fd(int fd, size_t limit, std::string* text) {
    struct stat st {};
    if (vx::sys().fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) >= limit) {
        return VxFoRead::Failed;
    }
    const auto size = static_cast<size_t>(st.st_size);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
    if (!buffer) return VxFoRead::Failed;
    if (vx_fo_read_up_to(fd, buffer.get(), size) != static_cast<ssize_t>(size)) return VxFoRead::Failed;
    text->assign(buffer.get(), size);
    return VxFoRead::Read;
}

VxFoRead vx_fo_read_file(const std::string& path, size_t limit, std::string* text) {
    const int fd = vx::sys().open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? VxFoRead::Missing : VxFoRead::Failed;
    const VxFoRead result = vx_fo_read_fd(fd, limit, text);
    vx::sys().close(fd);
    return result;
}

// ---------------------------------------------------------------- temporary files

VxFoTempFile::~VxFoTempFile() {
    if (fd_ >= 0) vx::sys().close(fd_);
    if (!path_.empty()) vx::sys().unlink(path_.c_str());
}

bool VxFoTempFile::create_beside(const std::string& dest) {
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
        return vx::sys().fchmod(fd_, kConfigMode) == 0;
    }
    return false;
}

bool VxFoTempFile::write(std::string_view text) { return fd_ >= 0 && vx_fo_write_all(fd_, text.data(), text.size()); }

bool VxFoTempFile::commit() {
    if (fd_ < 0) return false;
    const bool synced = vx::sys().fsync(fd_) == 0;
    const bool closed = vx::sys().close(fd_) == 0;
    fd_ = -1;
    return synced && closed;
}

// ---------------------------------------------------------------- installs

uint32_t vx_fo_install(const std::string& tmp, const std::string& dest, const char* backup_suffix) {
    std::string command = "cp -f ";
    if (backup_suffix != nullptr) {
        // A backup left by an earlier save must not pass for this one's: a
        // copy that fails before it makes its backup has then none to restore.
        vx::sys().unlink((dest + backup_suffix).c_str());
        command += std::string("--suffix=") + backup_suffix + " --backup=simple ";
    }
    command += vx_fo_quote(tmp) + " " + vx_fo_quote(dest);
    if (vx_fo_shell_ok(vx_fo_shell(command))) return SDERR_NO_ERROR;
    if (backup_suffix != nullptr) vx_fo_restore(dest, backup_suffix);
    return SDERR_CONFIG_FILE;
}

uint32_t vx_fo_restore(const std::string& dest, const char* backup_suffix) {
    const std::string backup = dest + backup_suffix;
    if (!file_exists(backup)) return SDERR_CONFIG_FILE;
    vx_fo_shell("rm -f " + vx_fo_quote(dest));
    const int status = vx_fo_shell("mv -f " + vx_fo_quote(backup) + " " + vx_fo_quote(dest));
    return vx_fo_shell_ok(status) ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
}

uint32_t vx_fo_replace_file(const std::string& dest, std::string_view text, const char* backup_suffix) {
    VxFoTempFile tmp;
    if (!tmp.create_beside(dest) || !tmp.write(text) || !tmp.commit()) return SDERR_CONFIG_FILE;
    const uint32_t status = vx_fo_install(tmp.path(), dest, backup_suffix);
    vx_fo_shell("rm -f " + vx_fo_quote(tmp.path()));
    return status;
}

#include "sim_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <tuple>

namespace fs = std::filesystem;

namespace sim {
namespace {

std::atomic<SimHost*> g_current{nullptr};

// 2026-01-02 03:04:05 UTC: a fixed start so that time stamps are repeatable.
constexpr time_t kEpoch = 1767323045;

// Keys of the library are small numbers; each host moves them into a block
// of this size that it reserved for itself.
constexpr key_t kSemBlock = 0x1000;

std::string parent_of(const std::string& path) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

std::string base_name(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto pos = p.find_last_of('/');
    return pos == std::string::npos ? p : p.substr(pos + 1);
}

// Collapses ".", ".." and repeated slashes of an absolute path.
std::string normalise(const std::string& path) {
    std::vector<std::string> parts;
    std::stringstream in(path);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

void copy_text(char* dst, size_t size, const std::string& src) {
    if (size == 0) return;
    size_t n = std::min(size - 1, src.size());
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// The words of a command as /bin/sh splits them: blanks separate words,
// single quotes and a backslash keep characters literal. *meta tells whether
// an unquoted shell metacharacter appears.
std::vector<std::string> split_words(const std::string& text, bool* meta) {
    std::vector<std::string> words;
    bool in_word = false, quoted = false, escaped = false;
    *meta = false;
    for (char c : text) {
        const bool literal = escaped || (quoted && c != '\'');
        escaped = !literal && !quoted && c == '\\';
        if (!literal && c == '\'') quoted = !quoted;
        if (!literal && (c == ' ' || c == '\t' || c == '\n')) {
            in_word = false;
            continue;
        }
        if (!in_word) words.emplace_back();
        in_word = true;
        if (!literal && std::strchr("|<>;&`$*?\"", c) != nullptr) *meta = true;
        if (literal || (c != '\'' && !escaped)) words.back() += c;
    }
    return words;
}

}  // namespace

struct SimHost::BusObject {
    struct sysfs_bus bus {};
    struct DriverObject {
        struct sysfs_driver driver {};
        dlist* devices = nullptr;
    };
    dlist* devices = nullptr;
    std::vector<std::unique_ptr<DriverObject>> drivers;
    std::vector<struct sysfs_device*> loose_devices;  // of driver lists, for attribute ownership
    std::map<struct sysfs_device*, std::vector<struct sysfs_attribute*>> device_attrs;
};

SimHost* current_host() { return g_current.load(); }

SimHost::BusObject* SimHost::find_bus(struct sysfs_bus* sbus) const {
    std::lock_guard<std::mutex> lock(mu_);
    for (BusObject* bus : buses_) {
        if (&bus->bus == sbus) return bus;
    }
    return nullptr;
}

SimHost::SimHost() : owner_pid_(::getpid()), clock_(kEpoch), main_thread_(std::this_thread::get_id()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vxsim.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) std::abort();
    // Resolved, so that the resolved paths of sandbox files start with it.
    root_ = fs::canonical(buf.data()).string();
    for (const char* dir : {"/tmp", "/dev", "/proc", "/sys", "/etc", "/usr/lib", "/sbin", "/lib", "/opt"}) {
        make_dir(dir);
    }

    std::random_device rd;
    std::mt19937 gen(rd() ^ static_cast<unsigned>(::getpid()));
    for (;;) {
        key_t base = 0x20000000 + static_cast<key_t>(gen() % 0x8000) * kSemBlock;
        int id = ::semget(base, 1, IPC_CREAT | IPC_EXCL | 0600);
        if (id >= 0) {
            sem_base_ = base;
            break;
        }
        if (errno != EEXIST) std::abort();
    }

    copy_text(uname_.sysname, sizeof uname_.sysname, "Linux");
    copy_text(uname_.nodename, sizeof uname_.nodename, "simhost");
    copy_text(uname_.release, sizeof uname_.release, "6.1.0-sim");
    copy_text(uname_.version, sizeof uname_.version, "#1 SMP");
    copy_text(uname_.machine, sizeof uname_.machine, "x86_64");

    previous_ = vx::set_platform(this);
    g_current.store(this);
}

SimHost::~SimHost() {
    vx::set_platform(previous_ == &vx::linux_platform() ? nullptr : previous_);
    g_current.store(nullptr);
    for (BusObject* bus : std::set<BusObject*>(buses_)) sysfs_close_bus(&bus->bus);
    for (struct sysfs_device* dev : std::set<struct sysfs_device*>(open_devices_)) sysfs_close_device(dev);
    for (auto& [stream, status] : popen_status_) std::fclose(stream);
    for (auto& [pid, fd] : children_) {
        ::close(fd);
        ::waitpid(pid, nullptr, 0);
    }
    if (::getpid() != owner_pid_) return;
    for (key_t k = 0; k < kSemBlock; ++k) {
        int id = ::semget(sem_base_ + k, 0, 0);
        if (id >= 0) ::semctl(id, 0, IPC_RMID);
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

// ---------------------------------------------------------------- sandbox

std::string SimHost::map(const std::string& path) const {
    if (path.empty()) return root_;
    if (path[0] == '/') return root_ + path;
    return root_ + "/" + path;
}

void SimHost::make_dir(const std::string& path) {
    std::error_code ec;
    fs::create_directories(map(path), ec);
}

void SimHost::write_file(const std::string& path, const std::string& contents, mode_t mode) {
    make_dir(parent_of(path));
    std::ofstream out(map(path), std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    ::chmod(map(path).c_str(), mode);
}

std::string SimHost::read_file(const std::string& path) const {
    std::ifstream in(map(path), std::ios::binary);
    if (!in) return {};
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool SimHost::exists(const std::string& path) const {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (nodes_.count(normalise(path)) != 0) return true;
    }
    struct stat st {};
    return ::lstat(map(path).c_str(), &st) == 0;
}

void SimHost::make_symlink(const std::string& target, const std::string& link_path) {
    make_dir(parent_of(link_path));
    std::string real_target = target;
    if (!target.empty() && target[0] == '/') real_target = map(target);
    ::unlink(map(link_path).c_str());
    if (::symlink(real_target.c_str(), map(link_path).c_str()) != 0) std::abort();
}

void SimHost::set_owner(const std::string& path, uid_t uid) {
    struct stat st {};
    if (::lstat(map(path).c_str(), &st) != 0) std::abort();
    std::lock_guard<std::mutex> lock(mu_);
    owners_[{st.st_dev, st.st_ino}] = uid;
}

void SimHost::report_owner(struct stat* st) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = owners_.find({st->st_dev, st->st_ino});
    if (it != owners_.end()) {
        st->st_uid = it->second;
    } else if (st->st_uid == ::getuid()) {
        st->st_uid = 0;
    }
}

// ---------------------------------------------------------------- nodes

void SimHost::add_node(const std::string& path, mode_t mode, dev_t rdev) {
    make_dir(parent_of(path));
    std::lock_guard<std::mutex> lock(mu_);
    nodes_[normalise(path)] = Node{mode, rdev};
}

std::optional<SimHost::Node> SimHost::node(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = nodes_.find(normalise(path));
    if (it == nodes_.end()) return std::nullopt;
    return it->second;
}

void SimHost::register_device(unsigned major, SimDevice* device) {
    std::lock_guard<std::mutex> lock(mu_);
    devices_[major] = device;
}

std::vector<std::string> SimHost::mknod_log() const {
    std::lock_guard<std::mutex> lock(mu_);
    return mknods_;
}

size_t SimHost::open_device_count() const {
    std::lock_guard<std::mutex> lock(mu_);
    return device_fds_.size();
}

// ---------------------------------------------------------------- identity

void SimHost::set_env(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(mu_);
    env_[name] = value;
}

void SimHost::unset_env(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    env_.erase(name);
}

void SimHost::set_uname(const std::string& sysname, const std::string& release, const std::string& version,
                        const std::string& machine) {
    std::lock_guard<std::mutex> lock(mu_);
    copy_text(uname_.sysname, sizeof uname_.sysname, sysname);
    copy_text(uname_.release, sizeof uname_.release, release);
    copy_text(uname_.version, sizeof uname_.version, version);
    copy_text(uname_.machine, sizeof uname_.machine, machine);
}

// ---------------------------------------------------------------- clock

time_t SimHost::now() const {
    std::lock_guard<std::mutex> lock(mu_);
    return clock_;
}

void SimHost::advance(time_t seconds) {
    std::lock_guard<std::mutex> lock(mu_);
    clock_ += seconds;
}

void SimHost::set_microseconds(long usec) {
    std::lock_guard<std::mutex> lock(mu_);
    usec_ = usec;
}

std::vector<unsigned long long> SimHost::sleeps() const {
    std::lock_guard<std::mutex> lock(mu_);
    return sleeps_;
}

std::vector<unsigned> SimHost::sleep_seconds() const {
    std::lock_guard<std::mutex> lock(mu_);
    return sleep_seconds_;
}

void SimHost::clear_sleeps() {
    std::lock_guard<std::mutex> lock(mu_);
    sleeps_.clear();
    sleep_seconds_.clear();
}

// ---------------------------------------------------------------- stderr, shell, sysfs hooks

std::string SimHost::stderr_text() const {
    std::lock_guard<std::mutex> lock(mu_);
    return stderr_;
}

void SimHost::clear_stderr() {
    std::lock_guard<std::mutex> lock(mu_);
    stderr_.clear();
}

void SimHost::script_command(const std::string& command, CommandResult result) {
    std::lock_guard<std::mutex> lock(mu_);
    scripted_[command] = std::move(result);
}

std::vector<std::string> SimHost::commands() const {
    std::lock_guard<std::mutex> lock(mu_);
    return commands_;
}

void SimHost::set_attr(const std::string& path, Attr attr, mode_t mode) {
    if (!exists(path)) write_file(path, "", mode);
    ::chmod(map(path).c_str(), mode);
    std::error_code ec;
    const std::string real = fs::canonical(map(path), ec).string();
    std::lock_guard<std::mutex> lock(mu_);
    attrs_[real.substr(root_.size())] = AttrEntry{std::move(attr), 0, 0, 0};
}

void SimHost::fail_attr_writes(const std::string& path, int err, int count) {
    const std::string key = attr_key(path);
    std::lock_guard<std::mutex> lock(mu_);
    if (key.empty()) std::abort();  // only served attributes have faults
    attrs_[key].write_err = err;
    attrs_[key].write_fails = count;
}

void SimHost::short_attr(const std::string& path, size_t max_bytes) {
    const std::string key = attr_key(path);
    std::lock_guard<std::mutex> lock(mu_);
    if (key.empty()) std::abort();
    attrs_[key].max_bytes = max_bytes;
}

void SimHost::remove(const std::string& path) {
    std::error_code ec;
    fs::remove_all(map(path), ec);
}

std::string SimHost::attr_key(const std::string& path) const {
    char real[PATH_MAX];
    if (::realpath(map(path).c_str(), real) == nullptr) return {};
    std::string key(real);
    if (key.compare(0, root_.size(), root_) != 0) return {};
    key = key.substr(root_.size());
    std::lock_guard<std::mutex> lock(mu_);
    return attrs_.count(key) != 0 ? key : std::string();
}

bool SimHost::attr_entry(const std::string& key, AttrEntry* out) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = attrs_.find(key);
    if (it == attrs_.end()) return false;
    *out = it->second;
    return true;
}

// A read of at most len bytes at pos; 0 or an errno value.
int SimHost::attr_read(const std::string& key, size_t pos, size_t len, std::string* out) {
    AttrEntry entry;
    if (!attr_entry(key, &entry)) return ENOENT;
    if (!entry.attr.read) return EACCES;
    const int rc = entry.attr.read(pos, *out);
    if (rc != 0) return rc;
    if (entry.max_bytes != 0) len = std::min(len, entry.max_bytes);
    if (out->size() > len) out->resize(len);
    return 0;
}

// A write of len bytes at pos: the bytes taken in *done; 0 or an errno value.
int SimHost::attr_write(const std::string& key, size_t pos, const char* data, size_t len, size_t* done) {
    AttrEntry entry;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = attrs_.find(key);
        if (it == attrs_.end()) return ENOENT;
        if (it->second.write_fails != 0) {
            if (it->second.write_fails > 0) --it->second.write_fails;
            return it->second.write_err;
        }
        entry = it->second;
    }
    if (!entry.attr.write) return EACCES;
    if (entry.max_bytes != 0) len = std::min(len, entry.max_bytes);
    const int rc = entry.attr.write(pos, std::string(data, len));
    *done = rc == 0 ? len : 0;
    return rc;
}

std::vector<std::string> SimHost::attr_writes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return attr_writes_;
}

void SimHost::fail_open(const std::string& path, int err, int count) {
    std::lock_guard<std::mutex> lock(mu_);
    open_faults_[normalise(path)] = OpenFault{err, count};
}

void SimHost::short_reads(const std::string& path, size_t max_bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    short_reads_[normalise(path)] = max_bytes;
}

void SimHost::on_unlink(std::function<void(const std::string& path)> hook) {
    std::lock_guard<std::mutex> lock(mu_);
    unlink_hook_ = std::move(hook);
}

void SimHost::on_event(std::function<void(const std::string& event)> hook) { event_hook_ = std::move(hook); }

void SimHost::fail_semget(key_t library_key, int err, int count) {
    std::lock_guard<std::mutex> lock(mu_);
    semget_faults_[library_key] = OpenFault{err, count};
}

bool SimHost::consume_open_fault(const std::string& path, int* err) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = open_faults_.find(normalise(path));
    if (it == open_faults_.end() || it->second.count == 0) return false;
    *err = it->second.err;
    if (it->second.count > 0) --it->second.count;
    return true;
}

// ---------------------------------------------------------------- files

int SimHost::open(const char* path, int flags, mode_t mode) {
    int err = 0;
    if (consume_open_fault(path, &err)) {
        errno = err;
        return -1;
    }
    std::unique_lock<std::mutex> lock(mu_);
    auto node = nodes_.find(normalise(path));
    if (node != nodes_.end()) {
        if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0) {
            errno = EEXIST;
            return -1;
        }
        if (!S_ISCHR(node->second.mode)) {
            errno = ENXIO;
            return -1;
        }
        auto dev = devices_.find(major(node->second.rdev));
        if (dev == devices_.end()) {
            errno = ENXIO;
            return -1;
        }
        SimDevice* device = dev->second;
        dev_t rdev = node->second.rdev;
        lock.unlock();
        int rc = device->open(rdev, flags);
        if (rc != 0) {
            errno = rc;
            return -1;
        }
        lock.lock();
        int fd = next_device_fd_++;
        device_fds_[fd] = DeviceFd{normalise(path), rdev, device};
        return fd;
    }
    lock.unlock();
    const std::string key = attr_key(path);
    if (!key.empty()) {
        AttrEntry entry;
        attr_entry(key, &entry);
        const int access = flags & O_ACCMODE;
        if ((access != O_WRONLY && !entry.attr.read) || (access != O_RDONLY && !entry.attr.write)) {
            errno = EACCES;
            return -1;
        }
        lock.lock();
        const int fd = next_device_fd_++;
        attr_fds_[fd] = AttrFd{key, 0};
        return fd;
    }
    int fd = ::open(map(path).c_str(), flags, mode);
    if (fd >= 0) {
        lock.lock();
        auto sr = short_reads_.find(normalise(path));
        if (sr != short_reads_.end()) short_read_fds_[fd] = sr->second;
    }
    return fd;
}

int SimHost::close(int fd) {
    if (netlink_.close(fd)) return 0;
    std::unique_lock<std::mutex> lock(mu_);
    auto it = device_fds_.find(fd);
    if (it != device_fds_.end()) {
        DeviceFd d = it->second;
        device_fds_.erase(it);
        lock.unlock();
        d.device->close(d.rdev);
        return 0;
    }
    if (attr_fds_.erase(fd) != 0) return 0;
    short_read_fds_.erase(fd);
    lock.unlock();
    return ::close(fd);
}

ssize_t SimHost::read(int fd, void* buf, size_t len) {
    std::unique_lock<std::mutex> lock(mu_);
    auto it = device_fds_.find(fd);
    if (it != device_fds_.end()) {
        DeviceFd d = it->second;
        lock.unlock();
        ssize_t n = d.device->read(d.rdev, buf, len);
        if (n < 0) {
            errno = static_cast<int>(-n);
            return -1;
        }
        return n;
    }
    auto af = attr_fds_.find(fd);
    if (af != attr_fds_.end()) {
        const AttrFd a = af->second;
        lock.unlock();
        std::string out;
        const int rc = attr_read(a.key, a.pos, len, &out);
        if (rc != 0) {
            errno = rc;
            return -1;
        }
        std::memcpy(buf, out.data(), out.size());
        lock.lock();
        if (attr_fds_.count(fd) != 0) attr_fds_[fd].pos += out.size();
        return static_cast<ssize_t>(out.size());
    }
    auto sr = short_read_fds_.find(fd);
    if (sr != short_read_fds_.end()) len = std::min(len, sr->second);
    lock.unlock();
    return ::read(fd, buf, len);
}

ssize_t SimHost::write(int fd, const void* buf, size_t len) {
    std::unique_lock<std::mutex> lock(mu_);
    auto it = device_fds_.find(fd);
    if (it != device_fds_.end()) {
        DeviceFd d = it->second;
        lock.unlock();
        ssize_t n = d.device->write(d.rdev, buf, len);
        if (n < 0) {
            errno = static_cast<int>(-n);
            return -1;
        }
        return n;
    }
    auto af = attr_fds_.find(fd);
    if (af != attr_fds_.end()) {
        const AttrFd a = af->second;
        lock.unlock();
        size_t done = 0;
        const int rc = attr_write(a.key, a.pos, static_cast<const char*>(buf), len, &done);
        if (rc != 0) {
            errno = rc;
            return -1;
        }
        lock.lock();
        if (attr_fds_.count(fd) != 0) attr_fds_[fd].pos += done;
        return static_cast<ssize_t>(done);
    }
    lock.unlock();
    return ::write(fd, buf, len);
}

off_t SimHost::lseek(int fd, off_t offset, int whence) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (device_fds_.count(fd) != 0) {
            errno = ESPIPE;
            return -1;
        }
        auto af = attr_fds_.find(fd);
        if (af != attr_fds_.end()) {
            // Attribute files have no end to seek from.
            const off_t base = whence == SEEK_CUR ? static_cast<off_t>(af->second.pos) : 0;
            if (whence == SEEK_END || base + offset < 0) {
                errno = EINVAL;
                return -1;
            }
            af->second.pos = static_cast<size_t>(base + offset);
            return base + offset;
        }
    }
    return ::lseek(fd, offset, whence);
}

int SimHost::fstat(int fd, struct stat* st) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = device_fds_.find(fd);
        if (it != device_fds_.end()) {
            auto node = nodes_.find(it->second.path);
            std::memset(st, 0, sizeof *st);
            st->st_mode = node != nodes_.end() ? node->second.mode : (S_IFCHR | 0600);
            st->st_rdev = it->second.rdev;
            st->st_nlink = 1;
            return 0;
        }
        auto af = attr_fds_.find(fd);
        if (af != attr_fds_.end()) return ::stat(map(af->second.key).c_str(), st);
    }
    int rc = ::fstat(fd, st);
    if (rc == 0) report_owner(st);
    return rc;
}

bool SimHost::node_stat(const std::string& path, struct stat* st) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto node = nodes_.find(normalise(path));
    if (node == nodes_.end()) return false;
    std::memset(st, 0, sizeof *st);
    st->st_mode = node->second.mode;
    st->st_rdev = node->second.rdev;
    st->st_nlink = 1;
    return true;
}

int SimHost::stat(const char* path, struct stat* st) {
    if (node_stat(path, st)) return 0;
    int rc = ::stat(map(path).c_str(), st);
    if (rc == 0) report_owner(st);
    return rc;
}

int SimHost::lstat(const char* path, struct stat* st) {
    if (node_stat(path, st)) return 0;
    int rc = ::lstat(map(path).c_str(), st);
    if (rc == 0) report_owner(st);
    return rc;
}

int SimHost::access(const char* path, int mode) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (nodes_.count(normalise(path)) != 0) return 0;
    }
    return ::access(map(path).c_str(), mode);
}

int SimHost::unlink(const char* path) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(mu_);
        hook = unlink_hook_;
    }
    if (hook) hook(path);
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (nodes_.erase(normalise(path)) != 0) return 0;
    }
    return ::unlink(map(path).c_str());
}

int SimHost::rename(const char* from, const char* to) { return ::rename(map(from).c_str(), map(to).c_str()); }

int SimHost::mkdir(const char* path, mode_t mode) { return ::mkdir(map(path).c_str(), mode); }

int SimHost::mknod(const char* path, mode_t mode, dev_t dev) {
    std::string key = normalise(path);
    struct stat st {};
    std::lock_guard<std::mutex> lock(mu_);
    if (nodes_.count(key) != 0 || ::lstat(map(path).c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    std::ostringstream rec;
    rec << key << " " << std::oct << mode << std::dec << " " << major(dev) << ":" << minor(dev);
    mknods_.push_back(rec.str());
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        nodes_[key] = Node{mode, dev};
        return 0;
    }
    return ::mknod(map(path).c_str(), mode, dev);
}

int SimHost::fsync(int fd) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (device_fds_.count(fd) != 0) return 0;
    }
    return ::fsync(fd);
}

int SimHost::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }

int SimHost::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }

ssize_t SimHost::readlink(const char* path, char* buf, size_t len) {
    std::vector<char> tmp(PATH_MAX + 1);
    ssize_t n = ::readlink(map(path).c_str(), tmp.data(), PATH_MAX);
    if (n < 0) return -1;
    std::string target(tmp.data(), static_cast<size_t>(n));
    if (target.compare(0, root_.size(), root_) == 0) target = target.substr(root_.size());
    size_t out = std::min(len, target.size());
    std::memcpy(buf, target.data(), out);
    return static_cast<ssize_t>(out);
}

int SimHost::list_dir(const char* path, std::vector<std::string>& names) {
    names.clear();
    std::string dir = normalise(path);
    DIR* d = ::opendir(map(dir).c_str());
    if (d == nullptr) return -1;
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(d);
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& [p, n] : nodes_) {
            if (parent_of(p) == dir) names.push_back(base_name(p));
        }
    }
    std::sort(names.begin(), names.end());
    return 0;
}

FILE* SimHost::fopen(const char* path, const char* mode) {
    int err = 0;
    if (consume_open_fault(path, &err)) {
        errno = err;
        return nullptr;
    }
    return ::fopen(map(path).c_str(), mode);
}

// ---------------------------------------------------------------- ioctl and mmap

int SimHost::ioctl(int fd, unsigned long request, void* arg) {
    std::unique_lock<std::mutex> lock(mu_);
    auto it = device_fds_.find(fd);
    if (it == device_fds_.end()) {
        errno = ENOTTY;
        return -1;
    }
    DeviceFd d = it->second;
    lock.unlock();
    int rc = d.device->ioctl(d.rdev, request, arg);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return 0;
}

void* SimHost::mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (device_fds_.count(fd) != 0) {
            errno = ENODEV;
            return MAP_FAILED;
        }
    }
    return ::mmap(addr, len, prot, flags, fd, offset);
}

int SimHost::msync(void* addr, size_t len, int flags) { return ::msync(addr, len, flags); }

int SimHost::munmap(void* addr, size_t len) { return ::munmap(addr, len); }

// ---------------------------------------------------------------- semaphores

int SimHost::semget(key_t key, int nsems, int flags) {
    if (key == IPC_PRIVATE) return ::semget(key, nsems, flags);
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto fault = semget_faults_.find(key);
        if (fault != semget_faults_.end() && fault->second.count != 0) {
            if (fault->second.count > 0) --fault->second.count;
            errno = fault->second.err;
            return -1;
        }
    }
    if (key < 0 || key >= kSemBlock) {
        errno = EINVAL;
        return -1;
    }
    return ::semget(sem_base_ + key, nsems, flags);
}

int SimHost::semctl(int semid, int semnum, int cmd, int arg) { return ::semctl(semid, semnum, cmd, arg); }

int SimHost::semop(int semid, struct sembuf* ops, size_t nops) {
    const int rc = ::semop(semid, ops, nops);
    const int err = errno;
    if (rc == 0 && nops == 1 && ops[0].sem_num == 0 && event_hook_) {
        event_hook_("semop " + std::to_string(semid) + " " + std::to_string(ops[0].sem_op));
    }
    errno = err;
    return rc;
}

// ---------------------------------------------------------------- sockets

int SimHost::socket(int domain, int type, int protocol) { return netlink_.socket(domain, type, protocol); }

int SimHost::bind(int fd, const struct sockaddr* addr, socklen_t len) { return netlink_.bind(fd, addr, len); }

int SimHost::setsockopt(int fd, int level, int name, const void* value, socklen_t len) {
    return netlink_.setsockopt(fd, level, name, value, len);
}

ssize_t SimHost::sendmsg(int fd, const struct msghdr* msg, int flags) { return netlink_.sendmsg(fd, msg, flags); }

ssize_t SimHost::recvmsg(int fd, struct msghdr* msg, int flags) { return netlink_.recvmsg(fd, msg, flags); }

ssize_t SimHost::sendto(int, const void*, size_t, int, const struct sockaddr*, socklen_t) {
    errno = EBADF;
    return -1;
}

ssize_t SimHost::recvfrom(int, void*, size_t, int, struct sockaddr*, socklen_t*) {
    errno = EBADF;
    return -1;
}

// ---------------------------------------------------------------- identity, clock, threads

int SimHost::uname(struct utsname* name) {
    std::lock_guard<std::mutex> lock(mu_);
    *name = uname_;
    return 0;
}

pid_t SimHost::getpid() { return ::getpid(); }

const char* SimHost::getenv(const char* name) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = env_.find(name);
    return it == env_.end() ? nullptr : it->second.c_str();
}

time_t SimHost::time() {
    std::lock_guard<std::mutex> lock(mu_);
    return clock_;
}

int SimHost::gettimeofday(struct timeval* tv) {
    std::lock_guard<std::mutex> lock(mu_);
    tv->tv_sec = clock_;
    tv->tv_usec = usec_;
    return 0;
}

struct tm* SimHost::localtime_r(const time_t* t, struct tm* out) {
    // The simulated host keeps its local time in UTC, whatever TZ says.
    return ::gmtime_r(t, out);
}

unsigned SimHost::sleep(unsigned seconds) {
    bool other_thread = std::this_thread::get_id() != main_thread_;
    {
        std::lock_guard<std::mutex> lock(mu_);
        sleeps_.push_back(static_cast<unsigned long long>(seconds) * 1000000ULL);
        sleep_seconds_.push_back(seconds);
        clock_ += seconds;
    }
    if (event_hook_) event_hook_("sleep " + std::to_string(seconds));
    // A background thread that sleeps in a loop must not spin the processor.
    if (other_thread) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

int SimHost::usleep(unsigned microseconds) {
    bool other_thread = std::this_thread::get_id() != main_thread_;
    {
        std::lock_guard<std::mutex> lock(mu_);
        sleeps_.push_back(microseconds);
        clock_ += microseconds / 1000000;
    }
    if (other_thread) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

void SimHost::fail_thread_start(unsigned nth, int err) {
    std::lock_guard<std::mutex> lock(mu_);
    std::tie(thread_fail_nth_, thread_fail_err_) = std::tuple(nth, err);
}

void SimHost::on_thread_begin(std::function<void(unsigned n)> hook) { thread_hook_ = std::move(hook); }

int SimHost::thread_create(pthread_t* thread, void* (*start)(void*), void* arg) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (thread_fail_nth_ != 0 && --thread_fail_nth_ == 0) return thread_fail_err_;
    }
    if (!thread_hook_) return ::pthread_create(thread, nullptr, start, arg);
    struct Begin {
        std::function<void(unsigned)> hook;
        unsigned n;
        void* (*start)(void*);
        void* arg;
    };
    auto* begin = new Begin{thread_hook_, ++thread_starts_, start, arg};
    const int rc = ::pthread_create(thread, nullptr, [](void* p) {
        std::unique_ptr<Begin> b(static_cast<Begin*>(p));
        b->hook(b->n);
        return b->start(b->arg);
    }, begin);
    if (rc != 0) delete begin;
    return rc;
}

int SimHost::thread_join(pthread_t thread, void** result) { return ::pthread_join(thread, result); }

int SimHost::sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
    return ::sigaction(sig, act, old);
}
int SimHost::raise(int sig) { return ::raise(sig); }
int SimHost::pipe(int fds[2], int flags) { return ::pipe2(fds, flags); }
ssize_t SimHost::write_in_handler(int fd, const void* buf, size_t len) { return ::write(fd, buf, len); }

void SimHost::write_stderr(const char* text, size_t len) {
    std::lock_guard<std::mutex> lock(mu_);
    stderr_.append(text, len);
}

void SimHost::write_stdout(const char* text, size_t len) {
    std::lock_guard<std::mutex> lock(mu_);
    stdout_.append(text, len);
}

std::string SimHost::stdout_text() const {
    std::lock_guard<std::mutex> lock(mu_);
    return stdout_;
}

void SimHost::fail_commands(const std::string& prefix, int exit_status) {
    std::lock_guard<std::mutex> lock(mu_);
    failing_commands_.emplace_back(prefix, exit_status);
}

// ---------------------------------------------------------------- shell

int SimHost::run_builtin(const std::string& command, bool* handled) {
    *handled = false;
    bool meta = false;
    std::vector<std::string> words = split_words(command, &meta);
    if (meta || words.empty()) return 0;
    const std::string verb = words[0];
    if (verb != "cp" && verb != "mv" && verb != "rm") return 0;
    *handled = true;
    std::vector<std::string> args;
    bool recursive = false;
    std::string backup_suffix;  // cp --backup=simple --suffix=S
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.rfind("--suffix=", 0) == 0) {
            backup_suffix = w.substr(9);
        } else if (w[0] == '-') {
            const bool short_options = w.rfind("--", 0) != 0;
            if (short_options && w.find_first_of("rR") != std::string::npos) recursive = true;
        } else {
            args.push_back(w);
        }
    }
    std::error_code ec;
    if (verb == "rm") {
        if (args.empty()) return 1;
        int status = 0;
        for (const auto& a : args) {
            if (recursive) fs::remove_all(map(a), ec);
            else if (!fs::remove(map(a), ec))
                status = 1;
            if (ec) status = 1;
        }
        return status;
    }
    if (args.size() != 2) return 1;
    std::string src = map(args[0]);
    std::string dst = map(args[1]);
    if (fs::is_directory(dst, ec)) dst += "/" + base_name(args[0]);
    if (verb == "cp") {
        std::error_code backup;
        if (!backup_suffix.empty() && fs::exists(dst, backup)) fs::rename(dst, dst + backup_suffix, backup);
        if (backup) return 1;
        fs::copy(src, dst, fs::copy_options::overwrite_existing | fs::copy_options::recursive, ec);
    } else {
        fs::rename(src, dst, ec);
    }
    return ec ? 1 : 0;
}

SimHost::CommandResult SimHost::answer(const std::string& command) {
    std::optional<CommandResult> scripted;
    {
        std::lock_guard<std::mutex> lock(mu_);
        commands_.push_back(command);
        auto it = scripted_.find(command);
        if (it != scripted_.end()) scripted = it->second;
        for (const auto& [prefix, status] : failing_commands_) {
            if (!scripted && command.rfind(prefix, 0) == 0) return CommandResult{"", status};
        }
    }
    if (scripted) {
        if (scripted->effect) scripted->effect();
        return *scripted;
    }
    bool handled = false;
    int status = run_builtin(command, &handled);
    if (handled) return CommandResult{"", status};
    return CommandResult{"", 127};
}

int SimHost::system(const char* command) {
    if (command == nullptr) return 1;
    CommandResult r = answer(command);
    return (r.exit_status & 0xFF) << 8;
}

FILE* SimHost::popen(const char* command, const char* mode) {
    CommandResult r = answer(command);
    FILE* stream = std::tmpfile();
    if (stream == nullptr) return nullptr;
    if (mode != nullptr && mode[0] == 'r') {
        std::fwrite(r.output.data(), 1, r.output.size(), stream);
        std::rewind(stream);
    }
    std::lock_guard<std::mutex> lock(mu_);
    popen_status_[stream] = r.exit_status;
    return stream;
}

int SimHost::pclose(FILE* stream) {
    int status;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = popen_status_.find(stream);
        if (it == popen_status_.end()) {
            errno = ECHILD;
            return -1;
        }
        status = it->second;
        popen_status_.erase(it);
    }
    std::fclose(stream);
    return (status & 0xFF) << 8;
}

// ---------------------------------------------------------------- sysfs

int SimHost::sysfs_get_mnt_path(char* mnt_path, size_t len) {
    if (!sysfs_mounted_ || mnt_path == nullptr || len == 0) {
        errno = ENOENT;
        return -1;
    }
    copy_text(mnt_path, len, "/sys");
    return 0;
}

struct sysfs_attribute* SimHost::sysfs_open_attribute(const char* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string key = normalise(path);
    const std::string served = attr_key(key);
    int method = 0;
    AttrEntry entry;
    if (!served.empty() && attr_entry(served, &entry)) {
        if (entry.attr.read) method |= SYSFS_METHOD_SHOW;
        if (entry.attr.write) method |= SYSFS_METHOD_STORE;
    } else {
        struct stat st {};
        if (::stat(map(key).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            errno = ENOENT;
            return nullptr;
        }
        if ((st.st_mode & S_IRUSR) != 0) method |= SYSFS_METHOD_SHOW;
        if ((st.st_mode & S_IWUSR) != 0) method |= SYSFS_METHOD_STORE;
    }
    auto* attr = static_cast<struct sysfs_attribute*>(std::calloc(1, sizeof(struct sysfs_attribute)));
    copy_text(attr->name, sizeof attr->name, base_name(key));
    copy_text(attr->path, sizeof attr->path, key);
    attr->method = static_cast<enum sysfs_attribute_method>(method);
    return attr;
}

int SimHost::sysfs_read_attribute(struct sysfs_attribute* attr) {
    if (attr == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if ((attr->method & SYSFS_METHOD_SHOW) == 0) {
        errno = EACCES;
        return -1;
    }
    // One read of a page, as libsysfs makes it.
    const size_t page = static_cast<size_t>(page_size());
    std::string value;
    const std::string served = attr_key(attr->path);
    if (!served.empty()) {
        const int rc = attr_read(served, 0, page, &value);
        if (rc != 0) {
            errno = rc;
            return -1;
        }
    } else {
        int fd = ::open(map(attr->path).c_str(), O_RDONLY);
        if (fd < 0) return -1;
        value.assign(page, '\0');
        ssize_t n = ::read(fd, value.data(), value.size());
        ::close(fd);
        if (n < 0) return -1;
        value.resize(static_cast<size_t>(n));
    }
    std::free(attr->value);
    attr->value = static_cast<char*>(std::calloc(value.size() + 1, 1));
    std::memcpy(attr->value, value.data(), value.size());
    attr->len = static_cast<unsigned short>(value.size());
    return 0;
}

int SimHost::sysfs_write_attribute(struct sysfs_attribute* attr, const char* value, size_t len) {
    if (attr == nullptr || value == nullptr || len == 0) {
        errno = EINVAL;
        return -1;
    }
    if ((attr->method & SYSFS_METHOD_STORE) == 0) {
        errno = EACCES;
        return -1;
    }
    // As libsysfs does: a readable attribute that already holds the value
    // is not written again.
    if ((attr->method & SYSFS_METHOD_SHOW) != 0) {
        if (sysfs_read_attribute(attr) != 0) return -1;
        if (len == attr->len && std::strncmp(attr->value, value, attr->len) == 0) return 0;
    }
    const std::string key = attr->path;
    {
        std::lock_guard<std::mutex> lock(mu_);
        attr_writes_.push_back(key + "=" + std::string(value, len));
    }
    const std::string served = attr_key(key);
    size_t done = len;
    if (!served.empty()) {
        const int rc = attr_write(served, 0, value, len, &done);
        if (rc != 0) {
            errno = rc;
            return -1;
        }
    } else {
        int fd = ::open(map(key).c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0) return -1;
        ssize_t n = ::write(fd, value, len);
        ::close(fd);
        done = n < 0 ? 0 : static_cast<size_t>(n);
    }
    if (done != len) return -1;  // libsysfs counts a short write as failed
    if ((attr->method & SYSFS_METHOD_SHOW) != 0) {
        std::free(attr->value);
        attr->value = static_cast<char*>(std::calloc(len + 1, 1));
        std::memcpy(attr->value, value, len);
        attr->len = static_cast<unsigned short>(len);
    }
    return 0;
}

void SimHost::sysfs_close_attribute(struct sysfs_attribute* attr) {
    if (attr == nullptr) return;
    std::free(attr->value);
    std::free(attr);
}

dlist* SimHost::make_list(const std::string& path, bool links) {
    std::vector<std::string> names;
    std::string dir = normalise(path);
    DIR* d = ::opendir(map(dir).c_str());
    if (d == nullptr) return nullptr;
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st {};
        if (::lstat((map(dir) + "/" + e->d_name).c_str(), &st) != 0) continue;
        if (links ? S_ISLNK(st.st_mode) : S_ISDIR(st.st_mode)) names.emplace_back(e->d_name);
    }
    ::closedir(d);
    // Like libsysfs: sorted by name, and no list at all when nothing matched.
    if (names.empty()) return nullptr;
    std::sort(names.begin(), names.end());
    dlist* list = dlist_new(SYSFS_NAME_LEN);
    for (const auto& n : names) {
        char* cell = static_cast<char*>(std::calloc(1, SYSFS_NAME_LEN));
        copy_text(cell, SYSFS_NAME_LEN, n);
        dlist_push(list, cell);
    }
    return list;
}

struct dlist* SimHost::sysfs_open_directory_list(const char* path) {
    return path == nullptr ? nullptr : make_list(path, false);
}

struct dlist* SimHost::sysfs_open_link_list(const char* path) {
    return path == nullptr ? nullptr : make_list(path, true);
}

void SimHost::sysfs_close_list(struct dlist* list) {
    if (list != nullptr) dlist_destroy(list);
}

int SimHost::sysfs_path_is_dir(const char* path) {
    struct stat st {};
    if (path == nullptr || ::lstat(map(path).c_str(), &st) != 0) return 1;
    return S_ISDIR(st.st_mode) ? 0 : 1;
}

int SimHost::sysfs_path_is_link(const char* path) {
    struct stat st {};
    if (path == nullptr || ::lstat(map(path).c_str(), &st) != 0) return 1;
    return S_ISLNK(st.st_mode) ? 0 : 1;
}

int SimHost::sysfs_path_is_file(const char* path) {
    struct stat st {};
    if (path == nullptr || ::lstat(map(path).c_str(), &st) != 0) return 1;
    return S_ISREG(st.st_mode) ? 0 : 1;
}

std::string SimHost::resolve_link(const std::string& path) const {
    std::vector<char> tmp(PATH_MAX + 1);
    ssize_t n = ::readlink(map(path).c_str(), tmp.data(), PATH_MAX);
    if (n < 0) return {};
    std::string target(tmp.data(), static_cast<size_t>(n));
    if (!target.empty() && target[0] == '/') {
        if (target.compare(0, root_.size(), root_) == 0) target = target.substr(root_.size());
        return normalise(target);
    }
    return normalise(parent_of(normalise(path)) + "/" + target);
}

int SimHost::sysfs_get_link(const char* path, char* target, size_t len) {
    if (path == nullptr || target == nullptr || len == 0) {
        errno = EINVAL;
        return -1;
    }
    std::string resolved = resolve_link(path);
    if (resolved.empty()) return -1;
    copy_text(target, len, resolved);
    return 0;
}

struct sysfs_device* SimHost::make_device(BusObject* bus, const std::string& name, const std::string& path,
                                         const std::string& bus_name) {
    (void)bus;
    auto* dev = static_cast<struct sysfs_device*>(std::calloc(1, sizeof(struct sysfs_device)));
    copy_text(dev->name, sizeof dev->name, name);
    copy_text(dev->bus_id, sizeof dev->bus_id, name);
    copy_text(dev->path, sizeof dev->path, path);
    copy_text(dev->bus, sizeof dev->bus, bus_name);
    std::string driver = resolve_link(path + "/driver");
    copy_text(dev->driver_name, sizeof dev->driver_name, driver.empty() ? "unknown" : base_name(driver));
    return dev;
}

struct sysfs_bus* SimHost::sysfs_open_bus(const char* name) {
    if (!sysfs_mounted_ || name == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    std::string path = std::string("/sys/bus/") + name;
    if (sysfs_path_is_dir(path.c_str()) != 0) {
        errno = ENOENT;
        return nullptr;
    }
    auto* bus = new BusObject();
    copy_text(bus->bus.name, sizeof bus->bus.name, name);
    copy_text(bus->bus.path, sizeof bus->bus.path, path);
    std::lock_guard<std::mutex> lock(mu_);
    buses_.insert(bus);
    return &bus->bus;
}

struct dlist* SimHost::sysfs_get_bus_devices(struct sysfs_bus* sbus) {
    if (sbus == nullptr) return nullptr;
    BusObject* bus = find_bus(sbus);
    if (bus == nullptr) return nullptr;
    if (bus->devices != nullptr) return bus->devices;
    std::string dir = std::string(sbus->path) + "/devices";
    dlist* names = make_list(dir, true);
    if (names == nullptr) return nullptr;
    bus->devices = dlist_new(sizeof(struct sysfs_device));
    char* name = nullptr;
    dlist_for_each_data(names, name, char) {
        std::string target = resolve_link(dir + "/" + name);
        // Devices listed on a bus carry no bus name, as libsysfs gives them.
        dlist_push(bus->devices, make_device(bus, name, target, ""));
    }
    dlist_destroy(names);
    return bus->devices;
}

struct sysfs_driver* SimHost::sysfs_get_bus_driver(struct sysfs_bus* sbus, const char* name) {
    if (sbus == nullptr || name == nullptr) return nullptr;
    BusObject* bus = find_bus(sbus);
    if (bus == nullptr) return nullptr;
    for (auto& d : bus->drivers) {
        if (std::strcmp(d->driver.name, name) == 0) return &d->driver;
    }
    std::string path = std::string(sbus->path) + "/drivers/" + name;
    if (sysfs_path_is_dir(path.c_str()) != 0) return nullptr;
    auto obj = std::make_unique<BusObject::DriverObject>();
    copy_text(obj->driver.name, sizeof obj->driver.name, name);
    copy_text(obj->driver.path, sizeof obj->driver.path, path);
    copy_text(obj->driver.bus, sizeof obj->driver.bus, sbus->name);
    bus->drivers.push_back(std::move(obj));
    return &bus->drivers.back()->driver;
}

void SimHost::sysfs_close_bus(struct sysfs_bus* sbus) {
    if (sbus == nullptr) return;
    BusObject* bus = find_bus(sbus);
    if (bus == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(mu_);
        buses_.erase(bus);
    }
    for (auto& [dev, attrs] : bus->device_attrs) {
        for (auto* a : attrs) sysfs_close_attribute(a);
    }
    for (auto& d : bus->drivers) {
        if (d->devices != nullptr) dlist_destroy(d->devices);
    }
    if (bus->devices != nullptr) dlist_destroy(bus->devices);
    delete bus;
}

struct dlist* SimHost::sysfs_get_driver_devices(struct sysfs_driver* driver) {
    if (driver == nullptr) return nullptr;
    BusObject::DriverObject* obj = nullptr;
    BusObject* owner = nullptr;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (BusObject* bus : buses_) {
            for (auto& d : bus->drivers) {
                if (&d->driver == driver) {
                    obj = d.get();
                    owner = bus;
                }
            }
        }
    }
    if (obj == nullptr) return nullptr;
    if (obj->devices != nullptr) return obj->devices;
    dlist* names = make_list(driver->path, true);
    if (names == nullptr) return nullptr;
    obj->devices = dlist_new(sizeof(struct sysfs_device));
    char* name = nullptr;
    dlist_for_each_data(names, name, char) {
        std::string target = resolve_link(std::string(driver->path) + "/" + name);
        if (target.compare(0, 13, "/sys/devices/") != 0) continue;  // "module" and the like
        dlist_push(obj->devices, make_device(owner, base_name(target), target, ""));
    }
    dlist_destroy(names);
    return obj->devices;
}

struct sysfs_device* SimHost::sysfs_open_device_path(const char* path) {
    if (path == nullptr || sysfs_path_is_dir(path) != 0) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string dir = normalise(path);
    // The bus whose device list links to the same directory.
    std::string bus_name;
    std::vector<std::string> buses;
    if (list_dir("/sys/bus", buses) == 0) {
        char real[PATH_MAX];
        const std::string mine = ::realpath(map(dir).c_str(), real) != nullptr ? real : "";
        for (const auto& b : buses) {
            const std::string entry = map("/sys/bus/" + b + "/devices/" + base_name(dir));
            if (::realpath(entry.c_str(), real) != nullptr && mine == real) bus_name = b;
        }
    }
    struct sysfs_device* dev = make_device(nullptr, base_name(dir), dir, bus_name);
    std::lock_guard<std::mutex> lock(mu_);
    open_devices_.insert(dev);
    return dev;
}

void SimHost::sysfs_close_device(struct sysfs_device* dev) {
    std::vector<struct sysfs_attribute*> attrs;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (open_devices_.erase(dev) == 0) return;
        attrs = device_attrs_[dev];
        device_attrs_.erase(dev);
    }
    for (auto* a : attrs) sysfs_close_attribute(a);
    std::free(dev);
}

struct sysfs_attribute* SimHost::sysfs_get_device_attr(struct sysfs_device* dev, const char* name) {
    if (dev == nullptr || name == nullptr) return nullptr;
    std::string path = std::string(dev->path) + "/" + name;
    BusObject* owner = nullptr;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (BusObject* bus : buses_) {
            // Without moving the lists' cursors: the caller may be walking them.
            auto holds = [dev](dlist* list) {
                if (list == nullptr) return false;
                DL_node* node = nullptr;
                dlist_for_each_nomark(list, node) {
                    if (node->data == dev) return true;
                }
                return false;
            };
            bool found = holds(bus->devices);
            for (auto& drv : bus->drivers) found = found || holds(drv->devices);
            if (found) owner = bus;
        }
        const bool alone = open_devices_.count(dev) != 0;
        if (owner == nullptr && !alone) return nullptr;
        for (auto* a : alone ? device_attrs_[dev] : owner->device_attrs[dev]) {
            if (std::strcmp(a->name, name) == 0) return a;
        }
    }
    struct sysfs_attribute* attr = sysfs_open_attribute(path.c_str());
    if (attr == nullptr) return nullptr;
    if ((attr->method & SYSFS_METHOD_SHOW) != 0 && sysfs_read_attribute(attr) != 0) {
        sysfs_close_attribute(attr);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mu_);
    (owner != nullptr ? owner->device_attrs[dev] : device_attrs_[dev]).push_back(attr);
    return attr;
}

}  // namespace sim

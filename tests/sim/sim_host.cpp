#include "sim_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <tuple>
#include <utility>

namespace fs = std::filesystem;

namespace sim {
namespace {

std::atomic<SimHost*> g_current{nullptr};

// 2026-01-02 03:04:05 UTC: a fixed start so that time stamps are repeatable.
constexpr time_t kEpoch = 1767323045;

// Keys of the library are small numbers; each host moves them into a block
// of this size that it reserved for itself.
constexpr key_t kSemBlock = 0x1000;

int fail(int err) {
    errno = err;
    return -1;
}

// A device's byte count, or -1 with errno for its -errno.
ssize_t moved(ssize_t n) { return n < 0 ? fail(static_cast<int>(-n)) : n; }

std::string parent_of(const std::string& path) {
    const auto pos = path.find_last_of('/');
    return pos == std::string::npos ? "." : pos == 0 ? "/" : path.substr(0, pos);
}

std::string base_name(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p.substr(p.find_last_of('/') + 1);
}

// Collapses ".", ".." and repeated slashes of an absolute path.
std::string normalise(const std::string& path) {
    std::vector<std::string> parts;
    std::stringstream in(path);
    for (std::string part; std::getline(in, part, '/');) {
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

void copy_text(char* dst, size_t size, const std::string& src) {
    if (size == 0) return;
    const size_t n = std::min(size - 1, src.size());
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// The names in a real directory, sorted; with a type, only the entries of it.
// -1 with the errno of the open when the directory cannot be opened (absent,
// a file, or a mode that refuses this process), names then empty.
int read_dir_names(const std::string& real_dir, mode_t type, std::vector<std::string>& names) {
    names.clear();
    DIR* d = ::opendir(real_dir.c_str());
    if (d == nullptr) return -1;
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st {};
        if (type != 0 && (::lstat((real_dir + "/" + e->d_name).c_str(), &st) != 0 || (st.st_mode & S_IFMT) != type)) {
            continue;
        }
        names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return 0;
}

// The names in a real directory (none when it cannot be opened).
std::vector<std::string> dir_names(const std::string& real_dir, mode_t type = 0) {
    std::vector<std::string> names;
    (void)read_dir_names(real_dir, type, names);
    return names;
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

// The real descriptors open in this process, each with its descriptor flags.
std::map<int, int> real_fds() {
    std::map<int, int> out;
    for (const std::string& name : dir_names("/proc/self/fd")) {
        const int fd = std::stoi(name);
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0) out[fd] = flags;  // the listing's own descriptor is closed by now
    }
    return out;
}

}  // namespace

SimHost* current_host() { return g_current.load(); }

namespace {

// Around every fork of the process, the current host's locks are held
// (SimHost::fork_lock), so that a forked child never finds one held by a
// thread it does not have. Installed as the program starts, before the
// library installs its own handlers at its first call: handlers installed
// later run first before a fork, so a fork takes the library's locks before
// the host's, in the order of the library's threads, which call the host
// while they hold theirs.
SimHost* g_forking = nullptr;

struct ForkGuard {
    ForkGuard() { ::pthread_atfork(prepare, release, release); }
    static void prepare() {
        g_forking = g_current.load();
        if (g_forking != nullptr) g_forking->fork_lock();
    }
    static void release() {
        if (SimHost* host = std::exchange(g_forking, nullptr)) host->fork_unlock();
    }
};
const ForkGuard g_fork_guard;

}  // namespace

// The devices' locks first: a device calls the host under its own lock. The
// netlink model's lock is never held with another.
void SimHost::fork_lock() {
    {
        Lock l(mu_);
        for (const auto& [major, device] : devices_) forked_devices_.push_back(device);
    }
    for (SimDevice* device : forked_devices_) device->fork_lock();
    netlink_.fork_lock();
    mu_.lock();
}

void SimHost::fork_unlock() {
    mu_.unlock();
    netlink_.fork_unlock();
    for (auto it = forked_devices_.rbegin(); it != forked_devices_.rend(); ++it) (*it)->fork_unlock();
    forked_devices_.clear();
}

SimHost::SimHost()
    : ForwardingPlatform(vx::linux_platform(), false), owner_pid_(::getpid()), clock_(kEpoch),
      main_thread_(std::this_thread::get_id()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vxsim.XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    // Resolved, so that the resolved paths of sandbox files start with it.
    root_ = fs::canonical(templ).string();
    for (const char* dir : {"/tmp", "/dev", "/proc", "/sys", "/etc", "/usr/lib", "/sbin", "/lib", "/opt"}) {
        make_dir(dir);
    }
    std::random_device rd;
    std::mt19937 gen(rd() ^ static_cast<unsigned>(::getpid()));
    for (;;) {
        const key_t base = 0x20000000 + static_cast<key_t>(gen() % 0x8000) * kSemBlock;
        if (::semget(base, 1, IPC_CREAT | IPC_EXCL | 0600) >= 0) {
            sem_base_ = base;
            break;
        }
        if (errno != EEXIST) std::abort();
    }
    copy_text(uname_.nodename, sizeof uname_.nodename, "simhost");
    set_uname("Linux", "6.1.0-sim");
    for (const auto& [fd, flags] : real_fds()) initial_fds_.insert(fd);
    install();
    g_current.store(this);
}

SimHost::~SimHost() {
    g_current.store(nullptr);
    while (!buses_.empty()) sysfs_close_bus(buses_.begin()->first);
    for (struct sysfs_device* dev : std::set<struct sysfs_device*>(open_devices_)) sysfs_close_device(dev);
    for (auto& [stream, status] : popen_status_) std::fclose(stream);
    for (auto& [pid, fd] : children_) {
        ::close(fd);
        ::waitpid(pid, nullptr, 0);
    }
    if (::getpid() != owner_pid_) return;
    for (key_t k = 0; k < kSemBlock; ++k) {
        const int id = ::semget(sem_base_ + k, 0, 0);
        if (id >= 0) ::semctl(id, 0, IPC_RMID);
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

// ---------------------------------------------------------------- sandbox

void SimHost::make_dir(const std::string& path) { std::error_code ec; fs::create_directories(map(path), ec); }
void SimHost::remove(const std::string& path) { std::error_code ec; fs::remove_all(map(path), ec); }

void SimHost::write_file(const std::string& path, const std::string& contents, mode_t mode) {
    make_dir(parent_of(path));
    std::ofstream(map(path), std::ios::binary | std::ios::trunc) << contents;
    ::chmod(map(path).c_str(), mode);
}

std::string SimHost::read_file(const std::string& path) const {
    std::ifstream in(map(path), std::ios::binary);
    std::stringstream ss;
    if (in) ss << in.rdbuf();
    return ss.str();
}

bool SimHost::exists(const std::string& path) const {
    struct stat st {};
    return node(path).has_value() || ::lstat(map(path).c_str(), &st) == 0;
}

void SimHost::make_symlink(const std::string& target, const std::string& link_path) {
    make_dir(parent_of(link_path));
    ::unlink(map(link_path).c_str());
    if (::symlink((target[0] == '/' ? map(target) : target).c_str(), map(link_path).c_str()) != 0) std::abort();
}

void SimHost::set_owner(const std::string& path, uid_t uid) {
    struct stat st {};
    if (::lstat(map(path).c_str(), &st) != 0) std::abort();
    Lock l(mu_);
    owners_[{st.st_dev, st.st_ino}] = uid;
}

void SimHost::set_group(const std::string& path, gid_t gid) {
    struct stat st {};
    if (::lstat(map(path).c_str(), &st) != 0) std::abort();
    Lock l(mu_);
    groups_[{st.st_dev, st.st_ino}] = gid;
}

void SimHost::report_owner(struct stat* st) const {
    Lock l(mu_);
    auto it = owners_.find({st->st_dev, st->st_ino});
    if (it != owners_.end()) {
        st->st_uid = it->second;
    } else if (st->st_uid == ::getuid()) {
        st->st_uid = 0;
    }
    auto group = groups_.find({st->st_dev, st->st_ino});
    if (group != groups_.end()) {
        st->st_gid = group->second;
    } else if (st->st_gid == ::getgid()) {
        st->st_gid = 0;
    }
}

// The sandbox files are the test's: the owner and group are recorded, not set.
int SimHost::fchown(int fd, uid_t uid, gid_t gid) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    std::error_code ec;
    std::string path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
    if (path.compare(0, root_.size(), root_) == 0) path = path.substr(root_.size());
    Lock l(mu_);
    fchowns_.push_back(path + " " + std::to_string(static_cast<int>(uid)) + ":" + std::to_string(static_cast<int>(gid)));
    if (fchown_fault_.count != 0) {
        if (fchown_fault_.count > 0) --fchown_fault_.count;
        return fail(fchown_fault_.err);
    }
    if (uid != static_cast<uid_t>(-1)) owners_[{st.st_dev, st.st_ino}] = uid;
    if (gid != static_cast<gid_t>(-1)) groups_[{st.st_dev, st.st_ino}] = gid;
    return 0;
}

// ---------------------------------------------------------------- nodes, identity, clock, threads

void SimHost::add_node(const std::string& path, mode_t mode, dev_t rdev) {
    make_dir(parent_of(path));
    Lock l(mu_);
    nodes_[normalise(path)] = Node{mode, rdev};
}

std::optional<SimHost::Node> SimHost::node(const std::string& path) const {
    Lock l(mu_);
    auto it = nodes_.find(normalise(path));
    return it == nodes_.end() ? std::nullopt : std::optional<Node>(it->second);
}

void SimHost::set_uname(const std::string& sysname, const std::string& release, const std::string& version,
                        const std::string& machine) {
    Lock l(mu_);
    copy_text(uname_.sysname, sizeof uname_.sysname, sysname);
    copy_text(uname_.release, sizeof uname_.release, release);
    copy_text(uname_.version, sizeof uname_.version, version);
    copy_text(uname_.machine, sizeof uname_.machine, machine);
}

struct tm* SimHost::localtime_r(const time_t* t, struct tm* out) { return ::gmtime_r(t, out); }
int SimHost::usleep(unsigned microseconds) { return slept(microseconds), 0; }

const char* SimHost::getenv(const char* name) {
    Lock l(mu_);
    auto it = env_.find(name);
    return it == env_.end() ? nullptr : it->second.c_str();
}

int SimHost::gettimeofday(struct timeval* tv) {
    Lock l(mu_);
    tv->tv_sec = clock_;
    tv->tv_usec = usec_;
    return 0;
}

void SimHost::slept(unsigned long long usec) {
    {
        Lock l(mu_);
        sleeps_.push_back(usec);
        clock_ += static_cast<time_t>(usec / 1000000);
    }
    // A background thread that sleeps in a loop must not spin the processor.
    if (std::this_thread::get_id() != main_thread_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

unsigned SimHost::sleep(unsigned seconds) {
    {
        Lock l(mu_);
        sleep_seconds_.push_back(seconds);
    }
    slept(seconds * 1000000ULL);
    if (event_hook_) event_hook_("sleep " + std::to_string(seconds));
    return 0;
}

int SimHost::thread_create(pthread_t* thread, void* (*start)(void*), void* arg) {
    std::function<void(unsigned)> begin, end;
    unsigned n = 0;
    {
        Lock l(mu_);
        if (thread_fail_nth_ != 0 && --thread_fail_nth_ == 0) return thread_fail_err_;
        if (thread_hook_ || thread_end_hook_) {
            std::tie(begin, end, n) = std::tuple(thread_hook_, thread_end_hook_, ++thread_starts_);
        }
    }
    if (!begin && !end) return ::pthread_create(thread, nullptr, start, arg);
    using Body = std::function<void*()>;
    auto* body = new Body([begin, end, n, start, arg] {
        if (begin) begin(n);
        void* result = start(arg);
        if (end) end(n);
        return result;
    });
    const auto run = [](void* p) { return (*std::unique_ptr<Body>(static_cast<Body*>(p)))(); };
    const int rc = ::pthread_create(thread, nullptr, run, body);
    if (rc != 0) delete body;
    return rc;
}

// ---------------------------------------------------------------- served attributes and faults

void SimHost::set_attr(const std::string& path, Attr attr, mode_t mode) {
    if (!exists(path)) write_file(path, "", mode);
    ::chmod(map(path).c_str(), mode);
    std::error_code ec;
    const std::string real = fs::canonical(map(path), ec).string();
    Lock l(mu_);
    attrs_[real.substr(root_.size())] = AttrEntry{std::move(attr)};
}

void SimHost::fail_attr_writes(const std::string& path, int err, int count) {
    const std::string key = attr_key(path);
    Lock l(mu_);
    if (key.empty()) std::abort();  // only served attributes have faults
    attrs_[key].write_err = err;
    attrs_[key].write_fails = count;
}

void SimHost::fail_attr_reads(const std::string& path, int err, int count) {
    const std::string key = attr_key(path);
    Lock l(mu_);
    if (key.empty()) std::abort();
    attrs_[key].read_err = err;
    attrs_[key].read_fails = count;
}

void SimHost::set_attr_size(const std::string& path, size_t size) {
    const std::string key = attr_key(path);
    Lock l(mu_);
    if (key.empty()) std::abort();
    attrs_[key].attr.size = size;
}

std::string SimHost::attr_key(const std::string& path) const {
    char real[PATH_MAX];
    if (::realpath(map(path).c_str(), real) == nullptr) return {};
    const std::string key(real);
    if (key.compare(0, root_.size(), root_) != 0) return {};
    Lock l(mu_);
    return attrs_.count(key.substr(root_.size())) != 0 ? key.substr(root_.size()) : std::string();
}

bool SimHost::attr_entry(const std::string& key, AttrEntry* out) const {
    Lock l(mu_);
    auto it = attrs_.find(key);
    if (it == attrs_.end()) return false;
    *out = it->second;
    return true;
}

// A read of at most len bytes at pos; 0 or an errno value.
int SimHost::attr_read(const std::string& key, size_t pos, size_t len, std::string* out) {
    AttrEntry entry;
    {
        Lock l(mu_);
        auto it = attrs_.find(key);
        if (it == attrs_.end()) return ENOENT;
        if (it->second.read_fails != 0) {
            if (it->second.read_fails > 0) --it->second.read_fails;
            return it->second.read_err;
        }
        entry = it->second;
    }
    if (!entry.attr.read) return EACCES;
    const int rc = entry.attr.read(pos, *out);
    if (rc == 0 && out->size() > len) out->resize(len);
    return rc;
}

// A write of len bytes at pos: the bytes taken in *done; 0 or an errno value.
int SimHost::attr_write(const std::string& key, size_t pos, const char* data, size_t len, size_t* done) {
    AttrEntry entry;
    std::function<void(const std::string&)> hook;
    {
        Lock l(mu_);
        auto it = attrs_.find(key);
        if (it == attrs_.end()) return ENOENT;
        if (it->second.write_fails != 0) {
            if (it->second.write_fails > 0) --it->second.write_fails;
            return it->second.write_err;
        }
        entry = it->second;
        hook = attr_write_hook_;
    }
    if (!entry.attr.write) return EACCES;
    const size_t taken = pos < entry.attr.size ? std::min(len, entry.attr.size - pos) : 0;
    const int rc = taken != 0 || len == 0 ? entry.attr.write(pos, std::string(data, taken)) : 0;
    *done = rc == 0 ? taken : 0;
    if (rc == 0 && taken != 0 && hook) hook(key);
    return rc;
}

void SimHost::fail_open(const std::string& path, int err, int count) {
    Lock l(mu_);
    open_faults_[normalise(path)] = Fault{err, count};
}

void SimHost::short_reads(const std::string& path, size_t max_bytes) {
    Lock l(mu_);
    short_reads_[normalise(path)] = max_bytes;
}

void SimHost::fail_rename(const std::string& to, int err, int count) {
    Lock l(mu_);
    rename_faults_[normalise(to)] = Fault{err, count};
}

bool SimHost::consume_fault(std::map<std::string, Fault>& faults, const std::string& path, int* err) {
    Lock l(mu_);
    auto it = faults.find(normalise(path));
    if (it == faults.end() || it->second.count == 0) return false;
    *err = it->second.err;
    if (it->second.count > 0) --it->second.count;
    return true;
}

// ---------------------------------------------------------------- files

int SimHost::open(const char* path, int flags, mode_t mode) {
    const int fd = open_path(path, flags, mode);
    note_open(fd, normalise(path), (flags & O_CLOEXEC) != 0);
    return fd;
}

int SimHost::open_path(const char* path, int flags, mode_t mode) {
    int err = 0;
    if (consume_open_fault(path, &err)) return fail(err);
    std::unique_lock<std::mutex> lock(mu_);
    auto node = nodes_.find(normalise(path));
    if (node != nodes_.end()) {
        if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0) return fail(EEXIST);
        auto dev = devices_.find(major(node->second.rdev));
        if (!S_ISCHR(node->second.mode) || dev == devices_.end()) return fail(ENXIO);
        const DeviceFd d{node->second.mode, node->second.rdev, dev->second, normalise(path), (flags & O_CLOEXEC) != 0};
        lock.unlock();
        if (const int rc = d.device->open(d.rdev, flags); rc != 0) return fail(rc);
        lock.lock();
        device_fds_[next_device_fd_] = d;
        return next_device_fd_++;
    }
    lock.unlock();
    const std::string key = attr_key(path);
    if (!key.empty()) {
        AttrEntry entry;
        attr_entry(key, &entry);
        const int access = flags & O_ACCMODE;
        if ((access != O_WRONLY && !entry.attr.read) || (access != O_RDONLY && !entry.attr.write)) return fail(EACCES);
        lock.lock();
        attr_fds_[next_device_fd_] = AttrFd{key, 0, (flags & O_CLOEXEC) != 0};
        return next_device_fd_++;
    }
    const int fd = ::open(map(path).c_str(), flags, mode);
    lock.lock();
    // A new file owns nothing of a removed one whose inode it took.
    if (struct stat st {}; fd >= 0 && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL) && ::fstat(fd, &st) == 0) {
        owners_.erase({st.st_dev, st.st_ino});
        groups_.erase({st.st_dev, st.st_ino});
    }
    auto sr = short_reads_.find(normalise(path));
    if (fd >= 0 && sr != short_reads_.end()) short_read_fds_[fd] = sr->second;
    return fd;
}

int SimHost::close(int fd) {
    DeviceFd d;
    if (netlink_.close(fd)) return 0;
    if (lookup(device_fds_, fd, &d)) {
        {
            Lock l(mu_);
            device_fds_.erase(fd);
        }
        d.device->close(d.rdev);
        return 0;
    }
    Lock l(mu_);
    short_read_fds_.erase(fd);
    return attr_fds_.erase(fd) != 0 ? 0 : ::close(fd);
}

ssize_t SimHost::attr_moved(int fd, size_t n) {
    Lock l(mu_);
    if (auto it = attr_fds_.find(fd); it != attr_fds_.end()) it->second.pos += n;
    return static_cast<ssize_t>(n);
}

ssize_t SimHost::read(int fd, void* buf, size_t len) {
    DeviceFd d;
    AttrFd a;
    size_t max = len;  // of a file with short reads
    if (lookup(device_fds_, fd, &d)) return moved(d.device->read(d.rdev, buf, len));
    if (!lookup(attr_fds_, fd, &a)) {
        lookup(short_read_fds_, fd, &max);
        return ::read(fd, buf, std::min(len, max));
    }
    std::string out;
    if (const int rc = attr_read(a.key, a.pos, len, &out); rc != 0) return fail(rc);
    std::memcpy(buf, out.data(), out.size());
    return attr_moved(fd, out.size());
}

// A served attribute is positioned like a file: from its start or from where
// it is; other descriptors go to Linux.
off_t SimHost::lseek(int fd, off_t offset, int whence) {
    {
        Lock l(mu_);
        if (auto it = attr_fds_.find(fd); it != attr_fds_.end()) {
            const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off_t>(it->second.pos) : -1;
            if (base < 0 || base + offset < 0) {
                errno = EINVAL;
                return -1;
            }
            it->second.pos = static_cast<size_t>(base + offset);
            return base + offset;
        }
    }
    return ::lseek(fd, offset, whence);
}

ssize_t SimHost::write(int fd, const void* buf, size_t len) {
    DeviceFd d;
    AttrFd a;
    size_t done = 0;
    if (lookup(device_fds_, fd, &d)) return moved(d.device->write(d.rdev, buf, len));
    if (!lookup(attr_fds_, fd, &a)) return ::write(fd, buf, len);
    if (const int rc = attr_write(a.key, a.pos, static_cast<const char*>(buf), len, &done); rc != 0) return fail(rc);
    return attr_moved(fd, done);
}

int SimHost::fstat(int fd, struct stat* st) {
    DeviceFd d;
    AttrFd a;
    if (lookup(device_fds_, fd, &d)) {
        *st = {};
        st->st_mode = d.mode;
        st->st_rdev = d.rdev;
        st->st_nlink = 1;
        return 0;
    }
    if (lookup(attr_fds_, fd, &a)) return ::stat(map(a.key).c_str(), st);
    const int rc = ::fstat(fd, st);
    if (rc == 0) report_owner(st);
    return rc;
}

int SimHost::stat_path(const char* path, struct stat* st, bool follow) {
    if (const auto n = node(path)) {
        *st = {};
        st->st_mode = n->mode;
        st->st_rdev = n->rdev;
        st->st_nlink = 1;
        return 0;
    }
    const int rc = follow ? ::stat(map(path).c_str(), st) : ::lstat(map(path).c_str(), st);
    if (rc == 0) report_owner(st);
    return rc;
}

int SimHost::access(const char* path, int mode) { return node(path) ? 0 : ::access(map(path).c_str(), mode); }

int SimHost::unlink(const char* path) {
    std::function<void(const std::string&)> hook;
    {
        Lock l(mu_);
        hook = unlink_hook_;
    }
    if (hook) hook(path);
    {
        Lock l(mu_);
        if (nodes_.erase(normalise(path)) != 0) return 0;
    }
    return ::unlink(map(path).c_str());
}

int SimHost::mknod(const char* path, mode_t mode, dev_t dev) {
    const std::string key = normalise(path);
    struct stat st {};
    Lock l(mu_);
    if (nodes_.count(key) != 0 || ::lstat(map(path).c_str(), &st) == 0) return fail(EEXIST);
    std::ostringstream rec;
    rec << key << " " << std::oct << mode << std::dec << " " << major(dev) << ":" << minor(dev);
    mknods_.push_back(rec.str());
    if (!S_ISCHR(mode) && !S_ISBLK(mode)) return ::mknod(map(path).c_str(), mode, dev);
    nodes_[key] = Node{mode, dev};
    return 0;
}

int SimHost::fsync(int fd) {
    DeviceFd d;
    return lookup(device_fds_, fd, &d) ? 0 : ::fsync(fd);
}

int SimHost::rename(const char* from, const char* to) {
    int err = 0;
    if (consume_fault(rename_faults_, to, &err)) return fail(err);
    return ::rename(map(from).c_str(), map(to).c_str());
}
int SimHost::mkdir(const char* path, mode_t mode) { return ::mkdir(map(path).c_str(), mode); }

ssize_t SimHost::readlink(const char* path, char* buf, size_t len) {
    std::vector<char> tmp(PATH_MAX + 1);
    const ssize_t n = ::readlink(map(path).c_str(), tmp.data(), PATH_MAX);
    if (n < 0) return -1;
    std::string target(tmp.data(), static_cast<size_t>(n));
    if (target.compare(0, root_.size(), root_) == 0) target = target.substr(root_.size());
    const size_t out = std::min(len, target.size());
    std::memcpy(buf, target.data(), out);
    return static_cast<ssize_t>(out);
}

// As a real host lists it: the directory is opened, so an open fault on its
// path, an absent path, a file (ENOTDIR) and a mode that refuses this
// process fail with that errno.
int SimHost::list_dir(const char* path, std::vector<std::string>& names) {
    names.clear();
    int err = 0;
    if (consume_open_fault(path, &err)) return fail(err);
    return read_dir_names(map(path), 0, names);
}

FILE* SimHost::fopen(const char* path, const char* mode) {
    int err = 0;
    if (consume_open_fault(path, &err)) return errno = err, nullptr;
    FILE* stream = ::fopen(map(path).c_str(), mode);
    if (stream != nullptr) note_open(::fileno(stream), normalise(path), std::strchr(mode, 'e') != nullptr);
    return stream;
}

int SimHost::socket(int domain, int type, int protocol) {
    const int fd = netlink_.socket(domain, type, protocol);
    note_open(fd, "netlink " + std::to_string(protocol), (type & SOCK_CLOEXEC) != 0);
    return fd;
}

std::vector<SimDescriptor> SimHost::descriptors() const {
    std::vector<SimDescriptor> out = netlink_.descriptors();
    {
        Lock l(mu_);
        for (const auto& [fd, d] : device_fds_) out.push_back({fd, d.path, d.cloexec});
        for (const auto& [fd, a] : attr_fds_) out.push_back({fd, a.key, a.cloexec});
    }
    for (const auto& [fd, flags] : real_fds()) {
        if (initial_fds_.count(fd) != 0) continue;
        std::error_code ec;
        std::string what = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
        if (what.compare(0, root_.size(), root_) == 0) what = what.substr(root_.size());
        out.push_back({fd, what, (flags & FD_CLOEXEC) != 0});
    }
    return out;
}

std::vector<std::string> SimHost::inheritable() const {
    std::vector<std::string> out;
    for (const SimDescriptor& d : descriptors()) {
        if (!d.cloexec) out.push_back(std::to_string(d.fd) + " " + d.what);
    }
    return out;
}

void SimHost::note_inherited(const std::string& command, const std::vector<std::string>& fds) {
    Lock l(mu_);
    for (const std::string& fd : fds) inherited_.push_back(command + ": " + fd);
}

// ---------------------------------------------------------------- ioctl, mmap, semaphores, threads, signals

int SimHost::ioctl(int fd, unsigned long request, void* arg) {
    DeviceFd d;
    if (!lookup(device_fds_, fd, &d)) return fail(ENOTTY);
    const int rc = d.device->ioctl(d.rdev, request, arg);
    return rc != 0 ? fail(rc) : 0;
}

int SimHost::semget(key_t key, int nsems, int flags) {
    if (key == IPC_PRIVATE) return ::semget(key, nsems, flags);
    {
        Lock l(mu_);
        auto fault = semget_faults_.find(key);
        if (fault != semget_faults_.end() && fault->second.count != 0) {
            if (fault->second.count > 0) --fault->second.count;
            return fail(fault->second.err);
        }
    }
    return key < 0 || key >= kSemBlock ? fail(EINVAL) : ::semget(sem_base_ + key, nsems, flags);
}

int SimHost::semop(int semid, struct sembuf* ops, size_t nops) {
    const int rc = ::semop(semid, ops, nops);
    const int err = errno;
    if (rc == 0 && nops == 1 && ops[0].sem_num == 0 && event_hook_) {
        event_hook_("semop " + std::to_string(semid) + " " + std::to_string(ops[0].sem_op));
    }
    errno = err;
    return rc;
}


// ---------------------------------------------------------------- shell and child processes

int SimHost::run_builtin(const std::string& command, bool* handled) {
    bool meta = false;
    const std::vector<std::string> words = split_words(command, &meta);
    *handled = !meta && !words.empty() && (words[0] == "cp" || words[0] == "mv" || words[0] == "rm");
    if (!*handled) return 0;
    std::vector<std::string> args;
    bool recursive = false;
    std::string backup_suffix;  // cp --backup=simple --suffix=S
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.rfind("--suffix=", 0) == 0) {
            backup_suffix = w.substr(9);
        } else if (w[0] != '-') {
            args.push_back(w);
        } else if (w.rfind("--", 0) != 0 && w.find_first_of("rR") != std::string::npos) {
            recursive = true;
        }
    }
    std::error_code ec;
    if (words[0] == "rm") {
        int status = args.empty() ? 1 : 0;
        for (const auto& a : args) {
            if (recursive) fs::remove_all(map(a), ec);
            if ((!recursive && !fs::remove(map(a), ec)) || ec) status = 1;
        }
        return status;
    }
    if (args.size() != 2) return 1;
    const std::string src = map(args[0]);
    std::string dst = map(args[1]);
    if (std::error_code e; fs::is_directory(dst, e)) dst += "/" + base_name(args[0]);
    if (words[0] == "mv") {
        fs::rename(src, dst, ec);
        return ec ? 1 : 0;
    }
    if (!backup_suffix.empty() && fs::exists(dst, ec)) fs::rename(dst, dst + backup_suffix, ec);
    if (!ec) fs::copy(src, dst, fs::copy_options::overwrite_existing | fs::copy_options::recursive, ec);
    return ec ? 1 : 0;
}

SimHost::CommandResult SimHost::answer(const std::string& command) {
    std::optional<CommandResult> scripted;
    {
        Lock l(mu_);
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
    const int status = run_builtin(command, &handled);
    return CommandResult{"", handled ? status : 127};
}

int SimHost::system(const char* command) {
    note_inherited(command, inheritable());
    return (answer(command).exit_status & 0xFF) << 8;
}

// The stream stands for the pipe from the command: a file holding its output,
// closed on exec when the mode asks for it ("e").
FILE* SimHost::popen(const char* command, const char* mode) {
    note_inherited(command, inheritable());
    const CommandResult r = answer(command);
    FILE* stream = std::tmpfile();
    if (stream == nullptr) return nullptr;
    const bool cloexec = std::strchr(mode, 'e') != nullptr;
    if (cloexec) ::fcntl(::fileno(stream), F_SETFD, FD_CLOEXEC);
    note_open(::fileno(stream), std::string("popen ") + command, cloexec);
    if (mode[0] == 'r') {
        std::fwrite(r.output.data(), 1, r.output.size(), stream);
        std::rewind(stream);
    }
    Lock l(mu_);
    popen_status_[stream] = r.exit_status;
    return stream;
}

int SimHost::pclose(FILE* stream) {
    int status = 0;
    {
        Lock l(mu_);
        auto it = popen_status_.find(stream);
        if (it == popen_status_.end()) return fail(ECHILD);
        status = it->second;
        popen_status_.erase(it);
    }
    std::fclose(stream);
    return (status & 0xFF) << 8;
}

int SimHost::fflush(FILE* stream) {
    log_process(stream == stdout ? "fflush stdout" : stream == stderr ? "fflush stderr" : "fflush");
    return ::fflush(stream);
}

// A child's shell command is answered as system() answers it and sent to the
// parent through a pipe.
pid_t SimHost::fork() {
    std::vector<std::string> inherits = inheritable();  // what the child holds when it comes to its exec
    int fds[2] = {-1, -1};
    pid_t pid = -1;
    // The host's lock is held across the fork by the fork handlers (ForkGuard).
    if (fork_error_ == 0 && ::pipe2(fds, O_CLOEXEC) == 0) pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        report_fd_ = fds[1];
        return 0;
    }
    const int err = fork_error_ != 0 ? std::exchange(fork_error_, 0) : errno;
    log_process(pid > 0 ? "fork" : "fork failed");
    ::close(fds[1]);
    if (pid > 0) {
        children_[pid] = fds[0];
        child_inherits_[pid] = std::move(inherits);
    } else {
        ::close(fds[0]);
    }
    exec_error_ = 0;
    errno = err;
    return pid;
}

int SimHost::execv(const char* path, const char* const argv[]) {
    if (exec_error_ != 0 || std::strcmp(path, "/bin/sh") != 0 || std::strcmp(argv[1], "-c") != 0) {
        return fail(exec_error_ != 0 ? exec_error_ : ENOENT);
    }
    if (::write(report_fd_, argv[2], std::strlen(argv[2])) < 0) ::_exit(126);
    ::_exit(answer(argv[2]).exit_status & 0xFF);
}

pid_t SimHost::waitpid(pid_t pid, int* status, int options) {
    if (wait_fault_.count > 0) {
        --wait_fault_.count;
        log_process("waitpid failed");
        return fail(wait_fault_.err);
    }
    const pid_t got = ::waitpid(pid, status, options);
    const int err = errno;
    // The child's command ran before the wait returned.
    if (auto child = children_.find(got); got > 0 && child != children_.end()) {
        std::string command;
        char buf[4096];
        for (ssize_t n; (n = ::read(child->second, buf, sizeof buf)) > 0;) command.append(buf, static_cast<size_t>(n));
        ::close(child->second);
        children_.erase(child);
        if (!command.empty()) {
            log_process("exec " + command);
            note_inherited(command, child_inherits_[got]);
            Lock l(mu_);
            commands_.push_back(command);
        }
        child_inherits_.erase(got);
    }
    log_process("waitpid");
    errno = err;
    return got;
}

// ---------------------------------------------------------------- sysfs

int SimHost::sysfs_get_mnt_path(char* mnt_path, size_t len) {
    if (!sysfs_mounted_) return fail(ENOENT);
    copy_text(mnt_path, len, "/sys");
    return 0;
}

struct sysfs_attribute* SimHost::sysfs_open_attribute(const char* path) {
    const std::string key = normalise(path);
    const std::string served = attr_key(key);
    int method = 0;
    AttrEntry entry;
    if (!served.empty() && attr_entry(served, &entry)) {
        method = (entry.attr.read ? SYSFS_METHOD_SHOW : 0) | (entry.attr.write ? SYSFS_METHOD_STORE : 0);
    } else {
        struct stat st {};
        // As libsysfs: the stat's own error (ENOENT for no such file).
        if (::stat(map(key).c_str(), &st) != 0) return nullptr;
        if (!S_ISREG(st.st_mode)) return errno = ENOENT, nullptr;
        method = ((st.st_mode & S_IRUSR) != 0 ? SYSFS_METHOD_SHOW : 0) |
                 ((st.st_mode & S_IWUSR) != 0 ? SYSFS_METHOD_STORE : 0);
    }
    auto* attr = static_cast<struct sysfs_attribute*>(std::calloc(1, sizeof(struct sysfs_attribute)));
    copy_text(attr->name, sizeof attr->name, base_name(key));
    copy_text(attr->path, sizeof attr->path, key);
    attr->method = static_cast<enum sysfs_attribute_method>(method);
    return attr;
}

namespace {

void set_value(struct sysfs_attribute* attr, const char* value, size_t len) {
    std::free(attr->value);
    attr->value = static_cast<char*>(std::calloc(len + 1, 1));
    std::memcpy(attr->value, value, len);
    attr->len = static_cast<unsigned short>(len);
}

}  // namespace

int SimHost::sysfs_read_attribute(struct sysfs_attribute* attr) {
    if ((attr->method & SYSFS_METHOD_SHOW) == 0) return fail(EACCES);
    // One read of a page, as libsysfs makes it.
    const size_t page = static_cast<size_t>(page_size());
    std::string value;
    const std::string served = attr_key(attr->path);
    if (!served.empty()) {
        if (const int rc = attr_read(served, 0, page, &value); rc != 0) return fail(rc);
    } else {
        const int fd = ::open(map(attr->path).c_str(), O_RDONLY);
        if (fd < 0) return -1;
        value.assign(page, '\0');
        const ssize_t n = ::read(fd, value.data(), value.size());
        ::close(fd);
        if (n < 0) return -1;
        value.resize(static_cast<size_t>(n));
    }
    set_value(attr, value.data(), value.size());
    return 0;
}

int SimHost::sysfs_write_attribute(struct sysfs_attribute* attr, const char* value, size_t len) {
    if ((attr->method & SYSFS_METHOD_STORE) == 0) return fail(EACCES);
    // As libsysfs does: a readable attribute that already holds the value
    // is not written again.
    if ((attr->method & SYSFS_METHOD_SHOW) != 0) {
        if (sysfs_read_attribute(attr) != 0) return -1;
        if (len == attr->len && std::strncmp(attr->value, value, attr->len) == 0) return 0;
    }
    {
        Lock l(mu_);
        attr_writes_.push_back(std::string(attr->path) + "=" + std::string(value, len));
    }
    size_t done = 0;
    if (const int rc = attr_write(attr_key(attr->path), 0, value, len, &done); rc != 0) return fail(rc);
    if (done != len) return -1;  // libsysfs counts a short write as failed
    if ((attr->method & SYSFS_METHOD_SHOW) != 0) set_value(attr, value, len);
    return 0;
}

void SimHost::sysfs_close_attribute(struct sysfs_attribute* attr) {
    if (attr == nullptr) return;
    std::free(attr->value);
    std::free(attr);
}

dlist* SimHost::open_list(const char* path, bool links) {
    // libsysfs opens the directory: an open fault on its path leaves no list.
    int err = 0;
    if (consume_open_fault(path, &err)) return errno = err, nullptr;
    return make_list(path, links);
}

dlist* SimHost::make_list(const std::string& path, bool links) {
    const std::vector<std::string> names = dir_names(map(normalise(path)), links ? S_IFLNK : S_IFDIR);
    // Like libsysfs: no list at all when nothing matched.
    if (names.empty()) return nullptr;
    dlist* list = dlist_new(SYSFS_NAME_LEN);
    for (const auto& n : names) {
        char* cell = static_cast<char*>(std::calloc(1, SYSFS_NAME_LEN));
        copy_text(cell, SYSFS_NAME_LEN, n);
        dlist_push(list, cell);
    }
    return list;
}

void SimHost::sysfs_close_list(struct dlist* list) {
    if (list != nullptr) dlist_destroy(list);
}

int SimHost::path_is(const char* path, mode_t type) const {
    struct stat st {};
    return ::lstat(map(path).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type ? 0 : 1;
}

std::string SimHost::resolve_link(const std::string& path) const {
    std::vector<char> tmp(PATH_MAX + 1);
    const ssize_t n = ::readlink(map(path).c_str(), tmp.data(), PATH_MAX);
    if (n < 0) return {};
    std::string target(tmp.data(), static_cast<size_t>(n));
    if (target[0] != '/') return normalise(parent_of(normalise(path)) + "/" + target);
    if (target.compare(0, root_.size(), root_) == 0) target = target.substr(root_.size());
    return normalise(target);
}

int SimHost::sysfs_get_link(const char* path, char* target, size_t len) {
    const std::string resolved = resolve_link(path);
    if (resolved.empty()) return -1;
    copy_text(target, len, resolved);
    return 0;
}

// A device handed out, without a bus name (the library reads none); the
// caller holds the lock.
struct sysfs_device* SimHost::make_device(const std::string& path) {
    auto* dev = static_cast<struct sysfs_device*>(std::calloc(1, sizeof(struct sysfs_device)));
    copy_text(dev->name, sizeof dev->name, base_name(path));
    copy_text(dev->bus_id, sizeof dev->bus_id, base_name(path));
    copy_text(dev->path, sizeof dev->path, path);
    const std::string driver = resolve_link(path + "/driver");
    copy_text(dev->driver_name, sizeof dev->driver_name, driver.empty() ? "unknown" : base_name(driver));
    device_attrs_[dev];
    return dev;
}

struct sysfs_bus* SimHost::sysfs_open_bus(const char* name) {
    const std::string path = std::string("/sys/bus/") + name;
    if (!sysfs_mounted_ || sysfs_path_is_dir(path.c_str()) != 0) return errno = ENOENT, nullptr;
    auto* bus = new sysfs_bus{};
    copy_text(bus->name, sizeof bus->name, name);
    copy_text(bus->path, sizeof bus->path, path);
    Lock l(mu_);
    buses_[bus];
    return bus;
}

struct sysfs_driver* SimHost::sysfs_get_bus_driver(struct sysfs_bus* sbus, const char* name) {
    Lock l(mu_);
    auto bus = buses_.find(sbus);
    if (bus == buses_.end()) return nullptr;
    for (auto& d : bus->second) {
        if (std::strcmp(d.name, name) == 0) return &d;
    }
    const std::string path = std::string(sbus->path) + "/drivers/" + name;
    if (sysfs_path_is_dir(path.c_str()) != 0) return nullptr;
    struct sysfs_driver& d = bus->second.emplace_back();
    copy_text(d.name, sizeof d.name, name);
    copy_text(d.path, sizeof d.path, path);
    copy_text(d.bus, sizeof d.bus, sbus->name);
    driver_lists_[&d] = nullptr;
    return &d;
}

void SimHost::sysfs_close_bus(struct sysfs_bus* sbus) {
    Lock l(mu_);
    auto bus = buses_.find(sbus);
    if (bus == buses_.end()) return;
    for (auto& d : bus->second) {
        if (dlist* list = driver_lists_[&d]) {
            DL_node* node = nullptr;
            dlist_for_each_nomark(list, node) {
                for (auto* a : device_attrs_[static_cast<struct sysfs_device*>(node->data)]) sysfs_close_attribute(a);
                device_attrs_.erase(static_cast<struct sysfs_device*>(node->data));
            }
            dlist_destroy(list);  // frees the devices
        }
        driver_lists_.erase(&d);
    }
    delete bus->first;
    buses_.erase(bus);
}

struct dlist* SimHost::sysfs_get_driver_devices(struct sysfs_driver* driver) {
    Lock l(mu_);
    auto it = driver_lists_.find(driver);
    if (it == driver_lists_.end()) return nullptr;
    if (it->second != nullptr) return it->second;
    dlist* names = make_list(driver->path, true);
    if (names == nullptr) return nullptr;
    it->second = dlist_new(sizeof(struct sysfs_device));
    char* name = nullptr;
    dlist_for_each_data(names, name, char) {
        const std::string target = resolve_link(std::string(driver->path) + "/" + name);
        if (target.compare(0, 13, "/sys/devices/") != 0) continue;  // "module" and the like
        dlist_push(it->second, make_device(target));
    }
    dlist_destroy(names);
    return it->second;
}

struct sysfs_device* SimHost::sysfs_open_device_path(const char* path) {
    if (sysfs_path_is_dir(path) != 0) return errno = EINVAL, nullptr;
    Lock l(mu_);
    struct sysfs_device* dev = make_device(normalise(path));
    open_devices_.insert(dev);
    return dev;
}

void SimHost::sysfs_close_device(struct sysfs_device* dev) {
    Lock l(mu_);
    if (open_devices_.erase(dev) == 0) return;
    for (auto* a : device_attrs_[dev]) sysfs_close_attribute(a);
    device_attrs_.erase(dev);
    std::free(dev);
}

struct sysfs_attribute* SimHost::sysfs_get_device_attr(struct sysfs_device* dev, const char* name) {
    {
        Lock l(mu_);
        auto it = device_attrs_.find(dev);
        if (it == device_attrs_.end()) return nullptr;
        for (auto* a : it->second) {
            if (std::strcmp(a->name, name) == 0) return a;
        }
    }
    struct sysfs_attribute* attr = sysfs_open_attribute((std::string(dev->path) + "/" + name).c_str());
    if (attr == nullptr) return nullptr;
    if ((attr->method & SYSFS_METHOD_SHOW) != 0 && sysfs_read_attribute(attr) != 0) {
        sysfs_close_attribute(attr);
        return nullptr;
    }
    Lock l(mu_);
    device_attrs_[dev].push_back(attr);
    return attr;
}

}  // namespace sim

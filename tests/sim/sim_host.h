// The simulated host: a platform for tests.
// - A sandbox directory per host: every absolute path the library uses maps
//   into it, so real files, mmap and log files work inside it.
// - Device nodes kept in a table; opening one whose major number has a
//   registered SimDevice gives a simulated descriptor (1000 and up) whose
//   ioctl, read and write go to that device.
// - A sysfs tree under <sandbox>/sys with programmable attributes.
// - A virtual clock: sleeps take no real time; they advance it and are recorded.
// - Real System V semaphores, every key moved into a range reserved for this
//   host: hosts of parallel test processes never meet, forked children share.
// - Recorded shell commands with scripted output or a failure by prefix; cp
//   (with its simple backup), mv and rm are carried out inside the sandbox,
//   their words split and quoted as /bin/sh does; nothing else runs.
// - Captured standard error and output; identity, environment and uname set by the test.
// - Signals to other processes (kill) go to Linux: the processes a test forks are real.
// - Every descriptor opened through the host, and those open now, each with
//   whether an exec closes it; what each command would have inherited.
// Constructing a SimHost installs it as the library's platform; destroying it
// restores the one before and removes its semaphores and sandbox (only in the
// process that made it).
#pragma once

#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/vx_platform.h"
#include "sim_device.h"
#include "sim_netlink.h"

namespace sim {

// Forwards every call to `base` (a base for a test that changes the answer of
// one call). Installed as the library's platform (at once, or by install());
// the platform installed before comes back on destruction.
class ForwardingPlatform : public vx::Platform {
public:
    explicit ForwardingPlatform(vx::Platform& base, bool install_now = true) : b_(base) {
        if (install_now) install();
    }
    ~ForwardingPlatform() override {
        if (previous_ != nullptr) vx::set_platform(previous_);
    }
    ForwardingPlatform(const ForwardingPlatform&) = delete;
    ForwardingPlatform& operator=(const ForwardingPlatform&) = delete;

    int open(const char* p, int f, mode_t m) override { return b_.open(p, f, m); }
    int close(int fd) override { return b_.close(fd); }
    ssize_t read(int fd, void* buf, size_t n) override { return b_.read(fd, buf, n); }
    ssize_t write(int fd, const void* buf, size_t n) override { return b_.write(fd, buf, n); }
    off_t lseek(int fd, off_t o, int w) override { return b_.lseek(fd, o, w); }
    int fstat(int fd, struct stat* st) override { return b_.fstat(fd, st); }
    int stat(const char* p, struct stat* st) override { return b_.stat(p, st); }
    int lstat(const char* p, struct stat* st) override { return b_.lstat(p, st); }
    int access(const char* p, int m) override { return b_.access(p, m); }
    int unlink(const char* p) override { return b_.unlink(p); }
    int rename(const char* f, const char* t) override { return b_.rename(f, t); }
    int mkdir(const char* p, mode_t m) override { return b_.mkdir(p, m); }
    int mknod(const char* p, mode_t m, dev_t d) override { return b_.mknod(p, m, d); }
    int fsync(int fd) override { return b_.fsync(fd); }
    int ftruncate(int fd, off_t n) override { return b_.ftruncate(fd, n); }
    int fchmod(int fd, mode_t m) override { return b_.fchmod(fd, m); }
    int fchown(int fd, uid_t u, gid_t g) override { return b_.fchown(fd, u, g); }
    ssize_t readlink(const char* p, char* buf, size_t n) override { return b_.readlink(p, buf, n); }
    int list_dir(const char* p, std::vector<std::string>& names) override { return b_.list_dir(p, names); }
    FILE* fopen(const char* p, const char* m) override { return b_.fopen(p, m); }
    int ioctl(int fd, unsigned long r, void* a) override { return b_.ioctl(fd, r, a); }
    void* mmap(void* a, size_t n, int p, int f, int fd, off_t o) override { return b_.mmap(a, n, p, f, fd, o); }
    int msync(void* a, size_t n, int f) override { return b_.msync(a, n, f); }
    int munmap(void* a, size_t n) override { return b_.munmap(a, n); }
    int semget(key_t k, int n, int f) override { return b_.semget(k, n, f); }
    int semctl(int id, int num, int cmd, int arg) override { return b_.semctl(id, num, cmd, arg); }
    int semop(int id, struct sembuf* ops, size_t n) override { return b_.semop(id, ops, n); }
    int socket(int d, int t, int p) override { return b_.socket(d, t, p); }
    int bind(int fd, const struct sockaddr* a, socklen_t n) override { return b_.bind(fd, a, n); }
    int setsockopt(int fd, int l, int n, const void* v, socklen_t s) override { return b_.setsockopt(fd, l, n, v, s); }
    ssize_t sendmsg(int fd, const struct msghdr* m, int f) override { return b_.sendmsg(fd, m, f); }
    ssize_t recvmsg(int fd, struct msghdr* m, int f) override { return b_.recvmsg(fd, m, f); }
    ssize_t sendto(int fd, const void* p, size_t n, int f, const sockaddr* t, socklen_t l) override {
        return b_.sendto(fd, p, n, f, t, l);
    }
    ssize_t recvfrom(int fd, void* p, size_t n, int f, sockaddr* t, socklen_t* l) override {
        return b_.recvfrom(fd, p, n, f, t, l);
    }
    int uname(struct utsname* u) override { return b_.uname(u); }
    uid_t geteuid() override { return b_.geteuid(); }
    pid_t getpid() override { return b_.getpid(); }
    const char* getenv(const char* n) override { return b_.getenv(n); }
    long page_size() override { return b_.page_size(); }
    time_t time() override { return b_.time(); }
    struct tm* localtime_r(const time_t* t, struct tm* out) override { return b_.localtime_r(t, out); }
    unsigned sleep(unsigned s) override { return b_.sleep(s); }
    int usleep(unsigned us) override { return b_.usleep(us); }
    int gettimeofday(struct timeval* tv) override { return b_.gettimeofday(tv); }
    int thread_create(pthread_t* t, void* (*start)(void*), void* a) override { return b_.thread_create(t, start, a); }
    int thread_join(pthread_t t, void** r) override { return b_.thread_join(t, r); }
    int sigaction(int s, const struct sigaction* a, struct sigaction* o) override { return b_.sigaction(s, a, o); }
    int raise(int s) override { return b_.raise(s); }
    int kill(pid_t p, int s) override { return b_.kill(p, s); }
    int pipe(int f[2], int fl) override { return b_.pipe(f, fl); }
    ssize_t write_in_handler(int f, const void* p, size_t n) override { return b_.write_in_handler(f, p, n); }
    void write_stderr(const char* text, size_t n) override { b_.write_stderr(text, n); }
    void write_stdout(const char* text, size_t n) override { b_.write_stdout(text, n); }
    int system(const char* c) override { return b_.system(c); }
    FILE* popen(const char* c, const char* m) override { return b_.popen(c, m); }
    int pclose(FILE* s) override { return b_.pclose(s); }
    int fflush(FILE* s) override { return b_.fflush(s); }
    pid_t fork() override { return b_.fork(); }
    int execv(const char* p, const char* const argv[]) override { return b_.execv(p, argv); }
    [[noreturn]] void exit_child(int s) override {
        b_.exit_child(s);
        std::abort();  // not reached: the base ends the process
    }
    pid_t waitpid(pid_t p, int* s, int o) override { return b_.waitpid(p, s, o); }
    int sysfs_get_mnt_path(char* p, size_t n) override { return b_.sysfs_get_mnt_path(p, n); }
    struct sysfs_attribute* sysfs_open_attribute(const char* p) override { return b_.sysfs_open_attribute(p); }
    int sysfs_read_attribute(struct sysfs_attribute* a) override { return b_.sysfs_read_attribute(a); }
    int sysfs_write_attribute(sysfs_attribute* a, const char* v, size_t n) override {
        return b_.sysfs_write_attribute(a, v, n);
    }
    void sysfs_close_attribute(struct sysfs_attribute* a) override { b_.sysfs_close_attribute(a); }
    struct dlist* sysfs_open_directory_list(const char* p) override { return b_.sysfs_open_directory_list(p); }
    struct dlist* sysfs_open_link_list(const char* p) override { return b_.sysfs_open_link_list(p); }
    void sysfs_close_list(struct dlist* l) override { b_.sysfs_close_list(l); }
    int sysfs_path_is_dir(const char* p) override { return b_.sysfs_path_is_dir(p); }
    int sysfs_path_is_link(const char* p) override { return b_.sysfs_path_is_link(p); }
    int sysfs_path_is_file(const char* p) override { return b_.sysfs_path_is_file(p); }
    int sysfs_get_link(const char* p, char* t, size_t n) override { return b_.sysfs_get_link(p, t, n); }
    struct sysfs_bus* sysfs_open_bus(const char* n) override { return b_.sysfs_open_bus(n); }
    struct dlist* sysfs_get_bus_devices(struct sysfs_bus* bus) override { return b_.sysfs_get_bus_devices(bus); }
    sysfs_driver* sysfs_get_bus_driver(sysfs_bus* b, const char* n) override { return b_.sysfs_get_bus_driver(b, n); }
    void sysfs_close_bus(struct sysfs_bus* bus) override { b_.sysfs_close_bus(bus); }
    struct dlist* sysfs_get_driver_devices(struct sysfs_driver* d) override { return b_.sysfs_get_driver_devices(d); }
    sysfs_attribute* sysfs_get_device_attr(sysfs_device* d, const char* n) override {
        return b_.sysfs_get_device_attr(d, n);
    }
    struct sysfs_device* sysfs_open_device_path(const char* p) override { return b_.sysfs_open_device_path(p); }
    void sysfs_close_device(struct sysfs_device* d) override { b_.sysfs_close_device(d); }

protected:
    void install() { previous_ = vx::set_platform(this); }

private:
    vx::Platform& b_;
    vx::Platform* previous_ = nullptr;
};

class SimHost final : public ForwardingPlatform {
    using Lock = std::lock_guard<std::mutex>;

public:
    SimHost();
    ~SimHost() override;
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    // ---- sandbox ----
    // The real path behind a path of the library.
    std::string map(const std::string& path) const {
        return root_ + (path.empty() || path[0] == '/' ? "" : "/") + path;
    }
    void make_dir(const std::string& path);  // with parents
    void write_file(const std::string& path, const std::string& contents, mode_t mode = 0644);
    std::string read_file(const std::string& path) const;  // "" when missing
    bool exists(const std::string& path) const;
    // A symbolic link; a relative target is resolved against the link's directory.
    void make_symlink(const std::string& target, const std::string& link_path);
    // The owner and group that stat, lstat and fstat report for a sandbox
    // file (kept by inode; fchown sets them too). A file without one reports
    // root when the test's user (group) owns it.
    void set_owner(const std::string& path, uid_t uid);
    void set_group(const std::string& path, gid_t gid);
    // Every fchown, as "<path> <uid>:<gid>" (-1 for a value left as it is).
    std::vector<std::string> fchowns() const { Lock l(mu_); return fchowns_; }
    // The next `count` fchown calls fail with err (count < 0: all).
    void fail_fchown(int err, int count = -1) { Lock l(mu_); fchown_fault_ = {err, count}; }

    // ---- device nodes and devices ----
    struct Node {
        mode_t mode;  // type and permission bits
        dev_t rdev;
    };
    // A node as the host's own set-up made it (not recorded as a mknod).
    void add_node(const std::string& path, mode_t mode, dev_t rdev);
    std::optional<Node> node(const std::string& path) const;
    void register_device(unsigned major, SimDevice* device) { Lock l(mu_); devices_[major] = device; }
    // Every mknod the library made, as "path mode rdev-major:minor".
    std::vector<std::string> mknod_log() const { Lock l(mu_); return mknods_; }
    // Number of simulated descriptors open now.
    size_t open_device_count() const { Lock l(mu_); return device_fds_.size(); }

    // ---- descriptors ----
    // Every descriptor opened through the host, in order (files, device nodes,
    // served attributes, streams, popen's as "popen <command>", netlink
    // sockets), with whether it was opened close-on-exec.
    std::vector<SimDescriptor> opened() const { Lock l(mu_); return opened_; }
    // Forgets the logs of opened descriptors and of mknods (a long-running
    // caller, such as a fuzz target, that reads neither).
    void clear_records() { Lock l(mu_); opened_.clear(), mknods_.clear(); }
    // The descriptors open now that were not open when the host was made:
    // the simulated ones (device nodes, served attributes, netlink sockets)
    // with the flag they were opened with, the real ones as F_GETFD gives it.
    std::vector<SimDescriptor> descriptors() const;
    // Every descriptor of descriptors() without close-on-exec at the start of
    // a command (system, popen, or a fork whose child ran the command), as
    // "<command>: <fd> <what>": what the commands took across their exec.
    std::vector<std::string> inherited() const { Lock l(mu_); return inherited_; }

    // ---- identity, environment, uname ----
    void set_euid(uid_t uid) { euid_ = uid; }
    void set_env(const std::string& name, const std::string& value) { Lock l(mu_); env_[name] = value; }
    void unset_env(const std::string& name) { Lock l(mu_); env_.erase(name); }
    void set_uname(const std::string& sysname, const std::string& release,
                   const std::string& version = "#1 SMP", const std::string& machine = "x86_64");

    // ---- clock ----
    time_t now() const { Lock l(mu_); return clock_; }
    void advance(time_t seconds) { Lock l(mu_); clock_ += seconds; }
    // The microseconds that gettimeofday gives with the clock's seconds.
    void set_microseconds(long usec) { Lock l(mu_); usec_ = usec; }
    // Every sleep requested, in microseconds, in order; those of sleep() also in seconds.
    std::vector<unsigned long long> sleeps() const { Lock l(mu_); return sleeps_; }
    std::vector<unsigned> sleep_seconds() const { Lock l(mu_); return sleep_seconds_; }
    void clear_sleeps() { Lock l(mu_); sleeps_.clear(), sleep_seconds_.clear(); }

    // ---- standard error and standard output ----
    std::string stderr_text() const { Lock l(mu_); return stderr_; }
    void clear_stderr() { Lock l(mu_); stderr_.clear(); }
    std::string stdout_text() const { Lock l(mu_); return stdout_; }

    // ---- shell ----
    struct CommandResult {
        std::string output;
        int exit_status = 0;
        std::function<void()> effect = {};  // runs each time the command is answered
    };
    // The answer to a command with exactly this text. Commands nobody
    // scripted answer with no output and exit status 127.
    void script_command(const std::string& command, CommandResult result) {
        Lock l(mu_);
        scripted_[command] = std::move(result);
    }
    std::vector<std::string> commands() const { Lock l(mu_); return commands_; }
    // Commands that begin with the prefix fail with the status, not carried out.
    void fail_commands(const std::string& prefix, int exit_status = 1) {
        Lock l(mu_);
        failing_commands_.emplace_back(prefix, exit_status);
    }

    // ---- child processes ----
    // fork() forks for real; the child's execv of "/bin/sh -c" answers the
    // command as system() does; reaping the child adds it to commands(). The
    // log: "fflush stdout|stderr", "fork [failed]", "exec <command>", "waitpid [failed]".
    std::vector<std::string> process_log() const { Lock l(mu_); return process_log_; }
    void fail_fork(int err) { fork_error_ = err; }
    // Taken before every fork of the process and released after it, in the
    // parent and in the child: the locks of the devices, then the host's.
    void fork_lock();
    void fork_unlock();
    void fail_exec(int err) { exec_error_ = err; }  // of the next fork's child
    void fail_waitpid(int err, int count = 1) { wait_fault_ = {err, count}; }

    // ---- sysfs ----
    void set_sysfs_mounted(bool mounted) { sysfs_mounted_ = mounted; }
    // An attribute file with behaviour (kinds in sim_sysfs_adapters.h): read
    // gives the value from a byte position on, write takes the bytes written
    // at a position; both give 0 or an errno value. Without one of them the
    // attribute is write-only or read-only. A write takes no byte at or past
    // `size` (a binary attribute's size): one that reaches past it takes the
    // bytes before it, one that starts there takes none.
    struct Attr {
        std::function<int(size_t pos, std::string& out)> read;
        std::function<int(size_t pos, const std::string& data)> write;
        size_t size = SIZE_MAX;
    };
    // Serves the attribute file at path (made with the mode) by attr, whatever
    // path leads to it, through libsysfs and plain open, read and write
    // alike (libsysfs writes reach served attributes only).
    void set_attr(const std::string& path, Attr attr, mode_t mode = 0644);
    // The next `count` writes (reads) of a served attribute fail with err.
    void fail_attr_writes(const std::string& path, int err, int count = 1);
    void fail_attr_reads(const std::string& path, int err, int count = 1);
    // The size of a served attribute (see Attr).
    void set_attr_size(const std::string& path, size_t size);
    // Runs in the writing process after each write that a served attribute
    // took, with the attribute's path; a hook may wait there for another
    // process, as a driver's store call can.
    void on_attr_write(std::function<void(const std::string& path)> hook) {
        Lock l(mu_);
        attr_write_hook_ = std::move(hook);
    }
    // Removes a file, link or directory tree of the sandbox (an absent attribute).
    void remove(const std::string& path);
    // Every attribute write through libsysfs, as "path=value", in order.
    std::vector<std::string> attr_writes() const { Lock l(mu_); return attr_writes_; }

    // ---- fault injection ----
    // The next `count` opens of the path fail with err (count < 0: all): of a
    // file or node, and of a directory that list_dir or a libsysfs list reads.
    void fail_open(const std::string& path, int err, int count = -1);
    // The next `count` renames onto the path fail with err (count < 0: all).
    void fail_rename(const std::string& to, int err, int count = -1);
    // The next `count` semget calls for the library's key fail with err
    // (count < 0: all), as on a host without System V semaphores (ENOSYS).
    void fail_semget(key_t library_key, int err, int count = -1) {
        Lock l(mu_);
        semget_faults_[library_key] = {err, count};
    }
    // Reads of the file at path return at most `max_bytes` per call.
    void short_reads(const std::string& path, size_t max_bytes);
    // Runs before every unlink the library asks for, with the library's path.
    void on_unlink(std::function<void(const std::string& path)> hook) { Lock l(mu_); unlink_hook_ = std::move(hook); }
    // Runs with "semop <set id> <op>" after each one-operation semop on
    // semaphore 0 that succeeded, with "sleep <s>" after each sleep().
    void on_event(std::function<void(const std::string& event)> hook) { event_hook_ = std::move(hook); }

    // ---- threads ----
    // The nth thread start from now (1: the next) fails with err.
    void fail_thread_start(unsigned nth, int err) { Lock l(mu_); thread_fail_nth_ = nth, thread_fail_err_ = err; }
    // Run in each started thread, with its start number from 1 (threads started while either is set), before and
    // after its start routine.
    void on_thread_begin(std::function<void(unsigned n)> hook) { Lock l(mu_); thread_hook_ = std::move(hook); }
    void on_thread_end(std::function<void(unsigned n)> hook) { Lock l(mu_); thread_end_hook_ = std::move(hook); }

    // ---- netlink sockets and the driver behind them; semaphores ----
    SimNetlink& netlink() { return netlink_; }
    key_t sem_key(key_t library_key) const { return sem_base_ + library_key; }

    // ---- vx::Platform: the calls below are simulated, the others go to Linux ----
    int open(const char* path, int flags, mode_t mode) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buf, size_t len) override;
    ssize_t write(int fd, const void* buf, size_t len) override;
    off_t lseek(int fd, off_t offset, int whence) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const char* path, struct stat* st) override { return stat_path(path, st, true); }
    int lstat(const char* path, struct stat* st) override { return stat_path(path, st, false); }
    int access(const char* path, int mode) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;
    int mkdir(const char* path, mode_t mode) override;
    int mknod(const char* path, mode_t mode, dev_t dev) override;
    int fsync(int fd) override;
    int fchown(int fd, uid_t uid, gid_t gid) override;
    ssize_t readlink(const char* path, char* buf, size_t len) override;
    int list_dir(const char* path, std::vector<std::string>& names) override;
    FILE* fopen(const char* path, const char* mode) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int semget(key_t key, int nsems, int flags) override;
    int semop(int semid, struct sembuf* ops, size_t nops) override;
    int socket(int domain, int type, int protocol) override;
    int bind(int fd, const struct sockaddr* addr, socklen_t len) override { return netlink_.bind(fd, addr, len); }
    int setsockopt(int fd, int level, int name, const void* value, socklen_t len) override {
        return netlink_.setsockopt(fd, level, name, value, len);
    }
    ssize_t sendmsg(int fd, const struct msghdr* msg, int flags) override { return netlink_.sendmsg(fd, msg, flags); }
    ssize_t recvmsg(int fd, struct msghdr* msg, int flags) override { return netlink_.recvmsg(fd, msg, flags); }
    int uname(struct utsname* name) override { Lock l(mu_); *name = uname_; return 0; }
    uid_t geteuid() override { return euid_; }
    const char* getenv(const char* name) override;
    long page_size() override { return 4096; }
    time_t time() override { return now(); }
    int gettimeofday(struct timeval* tv) override;
    struct tm* localtime_r(const time_t* t, struct tm* out) override;  // in UTC, whatever TZ says
    unsigned sleep(unsigned seconds) override;
    int usleep(unsigned microseconds) override;
    int thread_create(pthread_t* thread, void* (*start)(void*), void* arg) override;
    void write_stderr(const char* text, size_t len) override { Lock l(mu_); stderr_.append(text, len); }
    void write_stdout(const char* text, size_t len) override { Lock l(mu_); stdout_.append(text, len); }
    int system(const char* command) override;
    FILE* popen(const char* command, const char* mode) override;
    int pclose(FILE* stream) override;
    int fflush(FILE* stream) override;
    pid_t fork() override;
    int execv(const char* path, const char* const argv[]) override;
    pid_t waitpid(pid_t pid, int* status, int options) override;
    int sysfs_get_mnt_path(char* mnt_path, size_t len) override;
    struct sysfs_attribute* sysfs_open_attribute(const char* path) override;
    int sysfs_read_attribute(struct sysfs_attribute* attr) override;
    int sysfs_write_attribute(struct sysfs_attribute* attr, const char* value, size_t len) override;
    void sysfs_close_attribute(struct sysfs_attribute* attr) override;
    struct dlist* sysfs_open_directory_list(const char* path) override { return open_list(path, false); }
    struct dlist* sysfs_open_link_list(const char* path) override { return open_list(path, true); }
    void sysfs_close_list(struct dlist* list) override;
    int sysfs_path_is_dir(const char* path) override { return path_is(path, S_IFDIR); }
    int sysfs_path_is_link(const char* path) override { return path_is(path, S_IFLNK); }
    int sysfs_path_is_file(const char* path) override { return path_is(path, S_IFREG); }
    int sysfs_get_link(const char* path, char* target, size_t len) override;
    struct sysfs_bus* sysfs_open_bus(const char* name) override;
    // The library finds a bus's devices through its drivers only.
    struct dlist* sysfs_get_bus_devices(struct sysfs_bus*) override { return nullptr; }
    struct sysfs_driver* sysfs_get_bus_driver(struct sysfs_bus* bus, const char* name) override;
    void sysfs_close_bus(struct sysfs_bus* bus) override;
    struct dlist* sysfs_get_driver_devices(struct sysfs_driver* driver) override;
    struct sysfs_attribute* sysfs_get_device_attr(struct sysfs_device* dev, const char* name) override;
    struct sysfs_device* sysfs_open_device_path(const char* path) override;
    void sysfs_close_device(struct sysfs_device* dev) override;

private:
    struct DeviceFd {
        mode_t mode;  // of its node
        dev_t rdev;
        SimDevice* device;
        std::string path;
        bool cloexec;
    };
    struct AttrEntry {
        Attr attr;
        int write_err = 0, write_fails = 0;
        int read_err = 0, read_fails = 0;
    };
    struct AttrFd {
        std::string key;
        size_t pos;
        bool cloexec;
    };
    struct Fault {
        int err, count;
    };
    // The served attribute at a path: its key (the resolved path), or "".
    std::string attr_key(const std::string& path) const;
    bool attr_entry(const std::string& key, AttrEntry* out) const;
    int attr_write(const std::string& key, size_t pos, const char* data, size_t len, size_t* done);
    int attr_read(const std::string& key, size_t pos, size_t len, std::string* out);
    template <class T>
    bool lookup(const std::map<int, T>& fds, int fd, T* out) const {
        Lock l(mu_);
        auto it = fds.find(fd);
        if (it != fds.end()) *out = it->second;
        return it != fds.end();
    }
    ssize_t attr_moved(int fd, size_t n);  // moves an attribute descriptor's position on

    int open_path(const char* path, int flags, mode_t mode);
    void note_open(int fd, const std::string& what, bool cloexec) {
        Lock l(mu_);
        if (fd >= 0) opened_.push_back({fd, what, cloexec});
    }
    int stat_path(const char* path, struct stat* st, bool follow);
    int path_is(const char* path, mode_t type) const;
    void report_owner(struct stat* st) const;
    bool consume_open_fault(const std::string& path, int* err) { return consume_fault(open_faults_, path, err); }
    bool consume_fault(std::map<std::string, Fault>& faults, const std::string& path, int* err);
    int run_builtin(const std::string& command, bool* handled);
    CommandResult answer(const std::string& command);
    void slept(unsigned long long usec);
    std::string resolve_link(const std::string& path) const;  // library path of a link's target
    struct sysfs_device* make_device(const std::string& path);
    dlist* open_list(const char* path, bool links);
    dlist* make_list(const std::string& path, bool links);
    void log_process(const std::string& line) { Lock l(mu_); process_log_.push_back(line); }
    std::vector<std::string> inheritable() const;  // "<fd> <what>" of descriptors() without close-on-exec
    void note_inherited(const std::string& command, const std::vector<std::string>& fds);

    std::string root_;
    pid_t owner_pid_;
    key_t sem_base_ = 0;
    uid_t euid_ = 0;
    bool sysfs_mounted_ = true;
    struct utsname uname_ {};

    mutable std::mutex mu_;
    std::map<std::string, Node> nodes_;
    std::map<std::pair<dev_t, ino_t>, uid_t> owners_;
    std::map<std::pair<dev_t, ino_t>, gid_t> groups_;
    std::vector<std::string> fchowns_;
    Fault fchown_fault_{0, 0};
    std::map<unsigned, SimDevice*> devices_;
    std::map<int, DeviceFd> device_fds_;
    int next_device_fd_ = 1000;
    std::vector<std::string> mknods_;
    std::map<std::string, std::string> env_;
    time_t clock_;
    long usec_ = 0;
    std::vector<unsigned long long> sleeps_;
    std::vector<unsigned> sleep_seconds_;
    std::thread::id main_thread_;
    std::string stderr_, stdout_;
    std::vector<std::pair<std::string, int>> failing_commands_;
    std::map<std::string, CommandResult> scripted_;
    std::vector<std::string> commands_;
    std::map<FILE*, int> popen_status_;
    std::map<std::string, AttrEntry> attrs_;
    std::map<int, AttrFd> attr_fds_;
    std::vector<std::string> attr_writes_;
    std::map<std::string, Fault> open_faults_, rename_faults_;
    std::map<key_t, Fault> semget_faults_;
    std::map<std::string, size_t> short_reads_;
    std::map<int, size_t> short_read_fds_;
    std::function<void(const std::string&)> unlink_hook_, event_hook_, attr_write_hook_;
    std::function<void(unsigned)> thread_hook_, thread_end_hook_;
    unsigned thread_starts_ = 0, thread_fail_nth_ = 0;
    int thread_fail_err_ = 0;
    // libsysfs objects handed out: buses with their drivers, each driver's
    // device list, every device with the attributes opened on it, and the
    // devices opened by path (the others belong to their driver's list).
    std::map<struct sysfs_bus*, std::deque<struct sysfs_driver>> buses_;  // a deque: the addresses stay
    std::map<struct sysfs_driver*, dlist*> driver_lists_;
    std::map<struct sysfs_device*, std::vector<struct sysfs_attribute*>> device_attrs_;
    std::set<struct sysfs_device*> open_devices_;
    SimNetlink netlink_;

    std::vector<SimDescriptor> opened_;
    std::set<int> initial_fds_;  // real descriptors open when the host was made
    std::vector<std::string> inherited_;

    std::vector<std::string> process_log_;
    std::map<pid_t, int> children_;  // child -> read end of its pipe
    std::map<pid_t, std::vector<std::string>> child_inherits_;  // child -> inheritable() at its fork
    std::vector<SimDevice*> forked_devices_;  // the devices whose locks a fork holds
    int report_fd_ = -1;             // in a child: the write end
    int fork_error_ = 0, exec_error_ = 0;
    Fault wait_fault_{0, 0};
};

// The test's simulated host, or null when none is installed.
SimHost* current_host();

}  // namespace sim

// Small helpers shared by the tests: exact-size heap copies of bytes, byte
// patterns, a simulated host with the adapter driver and its node open, and
// a platform that forwards every call to another one (a base for a test that
// changes the answer of one call).
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_driver_records.h"
#include "core/vx_ioctl.h"
#include "core/vx_records.h"
#include "core/vx_sddbg.h"
#include "flash_builder.h"
#include "platform/vx_platform.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace sim {

// A heap buffer of exactly the given bytes, so that AddressSanitizer reports
// any access past its end.
struct Exact {
    explicit Exact(const Bytes& b) : data(new uint8_t[b.empty() ? 1 : b.size()]), size(b.size()) {
        if (!b.empty()) std::memcpy(data.get(), b.data(), b.size());
    }
    uint8_t* get() const { return data.get(); }
    uint32_t sz() const { return static_cast<uint32_t>(size); }
    Bytes bytes() const { return Bytes(data.get(), data.get() + size); }
    std::unique_ptr<uint8_t[]> data;
    size_t size;
};

inline Bytes pattern(size_t n, uint8_t seed) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

inline Bytes bytes_of(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return Bytes(b, b + n);
}

// Whether every byte of b from `from` on is `byte`.
inline bool all_bytes(const Bytes& b, size_t from, uint8_t byte) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(std::min(from, b.size())), b.end(),
                       [byte](uint8_t x) { return x == byte; });
}

// A request as the driver logged it, in one line: command, sub-code,
// instance, Reserved1, HbaSelect, RequestLen and ResponseLen.
inline std::string describe(const SimLogEntry& e) {
    char text[128];
    std::snprintf(text, sizeof text, "%s cmd %02X sub %X inst %X at %X sel %u req %u resp %u",
                  e.new_layout ? "new" : "old", e.command, e.sub_code, e.instance, e.reserved1, e.hba_select,
                  e.request_len, e.response_len);
    return text;
}

// A simulated host with the adapter driver on "/dev/vxa2xxx" and the node
// open; tests add the adapters and ports they need.
struct DriverRig {
    DriverRig() {
        driver.attach(host);
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
    }
    ~DriverRig() { vx::sys().close(fd); }
    DriverRig(const DriverRig&) = delete;
    DriverRig& operator=(const DriverRig&) = delete;

    // A port record of a driver instance, on the new or the old header.
    static vxapi_priv_database record(bool new_header, uint32_t drvr_inst, uint32_t extra_features = 0) {
        vxapi_priv_database rec{};
        rec.features = (new_header ? VX_FEAT_NEW_IOCTL : 0) | extra_features;
        rec.drvr_inst = drvr_inst;
        return rec;
    }

    SimHost host;
    SimDriver driver;
    int fd = -1;
};

// Installs itself as the library's platform and forwards every call to
// `base`; the platform installed before comes back on destruction.
class ForwardingPlatform : public vx::Platform {
public:
    explicit ForwardingPlatform(vx::Platform& base) : b_(base) { previous_ = vx::set_platform(this); }
    ~ForwardingPlatform() override { vx::set_platform(previous_); }
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

private:
    vx::Platform& b_;
    vx::Platform* previous_;
};

}  // namespace sim

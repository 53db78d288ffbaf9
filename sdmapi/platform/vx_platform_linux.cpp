// Production platform: every call goes straight to Linux or libsysfs.
#include "vx_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vx {
namespace {

class LinuxPlatform final : public Platform {
public:
    int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void* buf, size_t len) override { return ::read(fd, buf, len); }
    ssize_t write(int fd, const void* buf, size_t len) override { return ::write(fd, buf, len); }
    off_t lseek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int stat(const char* path, struct stat* st) override { return ::stat(path, st); }
    int lstat(const char* path, struct stat* st) override { return ::lstat(path, st); }
    int access(const char* path, int mode) override { return ::access(path, mode); }
    int unlink(const char* path) override { return ::unlink(path); }
    int rename(const char* from, const char* to) override { return ::rename(from, to); }
    int mkdir(const char* path, mode_t mode) override { return ::mkdir(path, mode); }
    int mknod(const char* path, mode_t mode, dev_t dev) override { return ::mknod(path, mode, dev); }
    int fsync(int fd) override { return ::fsync(fd); }
    int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int fchown(int fd, uid_t uid, gid_t gid) override { return ::fchown(fd, uid, gid); }
    ssize_t readlink(const char* path, char* buf, size_t len) override { return ::readlink(path, buf, len); }

    int list_dir(const char* path, std::vector<std::string>& names) override {
        names.clear();
        DIR* dir = ::opendir(path);
        if (dir == nullptr) return -1;
        while (struct dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        return 0;
    }

    FILE* fopen(const char* path, const char* mode) override { return ::fopen(path, mode); }

    int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }

    void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) override {
        return ::mmap(addr, len, prot, flags, fd, offset);
    }
    int msync(void* addr, size_t len, int flags) override { return ::msync(addr, len, flags); }
    int munmap(void* addr, size_t len) override { return ::munmap(addr, len); }

    int semget(key_t key, int nsems, int flags) override { return ::semget(key, nsems, flags); }
    int semctl(int semid, int semnum, int cmd, int arg) override { return ::semctl(semid, semnum, cmd, arg); }
    int semop(int semid, struct sembuf* ops, size_t nops) override { return ::semop(semid, ops, nops); }

    int socket(int domain, int type, int protocol) override { return ::socket(domain, type, protocol); }
    int bind(int fd, const struct sockaddr* addr, socklen_t len) override { return ::bind(fd, addr, len); }
    int setsockopt(int fd, int level, int name, const void* value, socklen_t len) override {
        return ::setsockopt(fd, level, name, value, len);
    }
    ssize_t sendmsg(int fd, const struct msghdr* msg, int flags) override { return ::sendmsg(fd, msg, flags); }
    ssize_t recvmsg(int fd, struct msghdr* msg, int flags) override { return ::recvmsg(fd, msg, flags); }
    ssize_t sendto(int fd, const void* buf, size_t len, int flags, const struct sockaddr* to,
                   socklen_t tolen) override {
        return ::sendto(fd, buf, len, flags, to, tolen);
    }
    ssize_t recvfrom(int fd, void* buf, size_t len, int flags, struct sockaddr* from,
                     socklen_t* fromlen) override {
        return ::recvfrom(fd, buf, len, flags, from, fromlen);
    }

    int uname(struct utsname* name) override { return ::uname(name); }
    uid_t geteuid() override { return ::geteuid(); }
    pid_t getpid() override { return ::getpid(); }
    const char* getenv(const char* name) override { return ::getenv(name); }
    long page_size() override { return ::sysconf(_SC_PAGESIZE); }

    time_t time() override { return ::time(nullptr); }
    struct tm* localtime_r(const time_t* t, struct tm* out) override { return ::localtime_r(t, out); }
    unsigned sleep(unsigned seconds) override { return ::sleep(seconds); }
    int usleep(unsigned microseconds) override { return ::usleep(microseconds); }
    int gettimeofday(struct timeval* tv) override { return ::gettimeofday(tv, nullptr); }

    int thread_create(pthread_t* thread, void* (*start)(void*), void* arg) override {
        return ::pthread_create(thread, nullptr, start, arg);
    }
    int thread_join(pthread_t thread, void** result) override { return ::pthread_join(thread, result); }

    int sigaction(int sig, const struct sigaction* act, struct sigaction* old) override {
        return ::sigaction(sig, act, old);
    }
    int raise(int sig) override { return ::raise(sig); }
    int kill(pid_t pid, int sig) override { return ::kill(pid, sig); }
    int pipe(int fds[2], int flags) override { return ::pipe2(fds, flags); }
    ssize_t write_in_handler(int fd, const void* buf, size_t len) override { return ::write(fd, buf, len); }

    void write_stderr(const char* text, size_t len) override {
        while (len > 0) {
            ssize_t n = ::write(STDERR_FILENO, text, len);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            text += n;
            len -= static_cast<size_t>(n);
        }
    }

    void write_stdout(const char* text, size_t len) override { std::fwrite(text, 1, len, stdout); }

    int system(const char* command) override { return ::system(command); }
    FILE* popen(const char* command, const char* mode) override { return ::popen(command, mode); }
    int pclose(FILE* stream) override { return ::pclose(stream); }

    int fflush(FILE* stream) override { return ::fflush(stream); }
    pid_t fork() override { return ::fork(); }
    // execv never writes through argv; its type is older than const.
    int execv(const char* path, const char* const argv[]) override {
        return ::execv(path, const_cast<char* const*>(argv));
    }
    [[noreturn]] void exit_child(int status) override { ::_exit(status); }
    pid_t waitpid(pid_t pid, int* status, int options) override { return ::waitpid(pid, status, options); }

    int sysfs_get_mnt_path(char* mnt_path, size_t len) override { return ::sysfs_get_mnt_path(mnt_path, len); }
    struct sysfs_attribute* sysfs_open_attribute(const char* path) override { return ::sysfs_open_attribute(path); }
    int sysfs_read_attribute(struct sysfs_attribute* attr) override { return ::sysfs_read_attribute(attr); }
    int sysfs_write_attribute(struct sysfs_attribute* attr, const char* value, size_t len) override {
        return ::sysfs_write_attribute(attr, value, len);
    }
    void sysfs_close_attribute(struct sysfs_attribute* attr) override { ::sysfs_close_attribute(attr); }
    struct dlist* sysfs_open_directory_list(const char* path) override { return ::sysfs_open_directory_list(path); }
    struct dlist* sysfs_open_link_list(const char* path) override { return ::sysfs_open_link_list(path); }
    void sysfs_close_list(struct dlist* list) override { ::sysfs_close_list(list); }
    int sysfs_path_is_dir(const char* path) override { return ::sysfs_path_is_dir(path); }
    int sysfs_path_is_link(const char* path) override { return ::sysfs_path_is_link(path); }
    int sysfs_path_is_file(const char* path) override { return ::sysfs_path_is_file(path); }
    int sysfs_get_link(const char* path, char* target, size_t len) override {
        return ::sysfs_get_link(path, target, len);
    }
    struct sysfs_bus* sysfs_open_bus(const char* name) override { return ::sysfs_open_bus(name); }
    struct dlist* sysfs_get_bus_devices(struct sysfs_bus* bus) override { return ::sysfs_get_bus_devices(bus); }
    struct sysfs_driver* sysfs_get_bus_driver(struct sysfs_bus* bus, const char* name) override {
        return ::sysfs_get_bus_driver(bus, name);
    }
    void sysfs_close_bus(struct sysfs_bus* bus) override { ::sysfs_close_bus(bus); }
    struct dlist* sysfs_get_driver_devices(struct sysfs_driver* driver) override {
        return ::sysfs_get_driver_devices(driver);
    }
    struct sysfs_attribute* sysfs_get_device_attr(struct sysfs_device* dev, const char* name) override {
        return ::sysfs_get_device_attr(dev, name);
    }
    struct sysfs_device* sysfs_open_device_path(const char* path) override {
        return ::sysfs_open_device_path(path);
    }
    void sysfs_close_device(struct sysfs_device* dev) override { ::sysfs_close_device(dev); }
};

std::atomic<Platform*> g_platform{nullptr};

}  // namespace

// Made once and never destroyed: the library's own threads (the signal
// watcher, the event thread) may still call through it while exit runs the
// destructors of static objects.
Platform& linux_platform() {
    static LinuxPlatform* const platform = new LinuxPlatform;
    return *platform;
}

Platform& sys() {
    Platform* p = g_platform.load(std::memory_order_acquire);
    return p != nullptr ? *p : linux_platform();
}

Platform* set_platform(Platform* platform) {
    Platform* before = g_platform.exchange(platform, std::memory_order_acq_rel);
    return before != nullptr ? before : &linux_platform();
}

}  // namespace vx

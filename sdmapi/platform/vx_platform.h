// The system seam of the library.
//
// Every interaction of the library with the world outside the process goes
// through one object of this interface: files and device nodes, ioctl, mmap,
// System V semaphores, sockets, identity, environment, clock and sleeps,
// threads, signals, standard error, shell commands, child processes and the
// libsysfs operations.
// The production object forwards each call to Linux and libsysfs unchanged;
// the test simulator stands in for the kernel, the driver and the host.
//
// The calls keep the shape of the system calls they stand for: they return
// what the system call returns and leave errno as the system call leaves it.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sysfs/libsysfs.h>

struct sembuf;

namespace vx {

class Platform {
public:
    virtual ~Platform() = default;

    // Files, directories and device nodes, by absolute path.
    virtual int open(const char* path, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buf, size_t len) = 0;
    virtual ssize_t write(int fd, const void* buf, size_t len) = 0;
    virtual off_t lseek(int fd, off_t offset, int whence) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int stat(const char* path, struct stat* st) = 0;
    virtual int lstat(const char* path, struct stat* st) = 0;
    virtual int access(const char* path, int mode) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int mkdir(const char* path, mode_t mode) = 0;
    virtual int mknod(const char* path, mode_t mode, dev_t dev) = 0;
    virtual int fsync(int fd) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t uid, gid_t gid) = 0;
    virtual ssize_t readlink(const char* path, char* buf, size_t len) = 0;
    // Names of the entries of a directory, without "." and "..", in the
    // order the system lists them. 0, or -1 with errno.
    virtual int list_dir(const char* path, std::vector<std::string>& names) = 0;
    // A stdio stream on a file (line reads, appends); closed with fclose().
    virtual FILE* fopen(const char* path, const char* mode) = 0;

    // Driver requests.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;

    // Shared memory mappings of open files.
    virtual void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) = 0;
    virtual int msync(void* addr, size_t len, int flags) = 0;
    virtual int munmap(void* addr, size_t len) = 0;

    // System V semaphores (semctl takes its optional argument as an int).
    virtual int semget(key_t key, int nsems, int flags) = 0;
    virtual int semctl(int semid, int semnum, int cmd, int arg = 0) = 0;
    virtual int semop(int semid, struct sembuf* ops, size_t nops) = 0;

    // Sockets (netlink).
    virtual int socket(int domain, int type, int protocol) = 0;
    virtual int bind(int fd, const struct sockaddr* addr, socklen_t len) = 0;
    virtual int setsockopt(int fd, int level, int name, const void* value, socklen_t len) = 0;
    virtual ssize_t sendmsg(int fd, const struct msghdr* msg, int flags) = 0;
    virtual ssize_t recvmsg(int fd, struct msghdr* msg, int flags) = 0;
    virtual ssize_t sendto(int fd, const void* buf, size_t len, int flags,
                           const struct sockaddr* to, socklen_t tolen) = 0;
    virtual ssize_t recvfrom(int fd, void* buf, size_t len, int flags,
                             struct sockaddr* from, socklen_t* fromlen) = 0;

    // Host identity and environment.
    virtual int uname(struct utsname* name) = 0;
    virtual uid_t geteuid() = 0;
    virtual pid_t getpid() = 0;
    virtual const char* getenv(const char* name) = 0;
    virtual long page_size() = 0;

    // Clock and sleeps.
    virtual time_t time() = 0;
    // The time of day with its microseconds (the time zone is not asked for).
    virtual int gettimeofday(struct timeval* tv) = 0;
    virtual struct tm* localtime_r(const time_t* t, struct tm* out) = 0;
    virtual unsigned sleep(unsigned seconds) = 0;
    virtual int usleep(unsigned microseconds) = 0;

    // Threads.
    virtual int thread_create(pthread_t* thread, void* (*start)(void*), void* arg) = 0;
    virtual int thread_join(pthread_t thread, void** result) = 0;

    // Signals: actions, a raise in the calling thread, and the pipe by which
    // a handler wakes a thread (pipe2). Signal handlers call sigaction, raise,
    // getpid and write_in_handler: those four stay async-signal-safe (no
    // lock, no allocation).
    virtual int sigaction(int sig, const struct sigaction* act, struct sigaction* old) = 0;
    virtual int raise(int sig) = 0;
    // A signal to another process; signal 0 only asks whether it runs.
    virtual int kill(pid_t pid, int sig) = 0;
    virtual int pipe(int fds[2], int flags) = 0;
    virtual ssize_t write_in_handler(int fd, const void* buf, size_t len) = 0;

    // Standard error, and standard output (through the stdio stream).
    virtual void write_stderr(const char* text, size_t len) = 0;
    virtual void write_stdout(const char* text, size_t len) = 0;

    // Shell commands, with the exact command text.
    virtual int system(const char* command) = 0;
    virtual FILE* popen(const char* command, const char* mode) = 0;
    virtual int pclose(FILE* stream) = 0;

    // Child processes: a flush of a stdio stream before a fork, the fork,
    // the child's exec (execv: returns only on failure) and its immediate
    // end (_exit: no exit handlers, no stdio flush), and the parent's wait.
    virtual int fflush(FILE* stream) = 0;
    virtual pid_t fork() = 0;
    virtual int execv(const char* path, const char* const argv[]) = 0;
    [[noreturn]] virtual void exit_child(int status) = 0;
    virtual pid_t waitpid(pid_t pid, int* status, int options) = 0;

    // libsysfs: mount point, attributes, lists, path tests, links, and the
    // bus, driver and device objects. Objects opened here are closed here.
    virtual int sysfs_get_mnt_path(char* mnt_path, size_t len) = 0;
    virtual struct sysfs_attribute* sysfs_open_attribute(const char* path) = 0;
    virtual int sysfs_read_attribute(struct sysfs_attribute* attr) = 0;
    virtual int sysfs_write_attribute(struct sysfs_attribute* attr, const char* value, size_t len) = 0;
    virtual void sysfs_close_attribute(struct sysfs_attribute* attr) = 0;
    virtual struct dlist* sysfs_open_directory_list(const char* path) = 0;
    virtual struct dlist* sysfs_open_link_list(const char* path) = 0;
    virtual void sysfs_close_list(struct dlist* list) = 0;
    // 0 when the path is a directory (link, regular file), 1 otherwise.
    virtual int sysfs_path_is_dir(const char* path) = 0;
    virtual int sysfs_path_is_link(const char* path) = 0;
    virtual int sysfs_path_is_file(const char* path) = 0;
    virtual int sysfs_get_link(const char* path, char* target, size_t len) = 0;
    virtual struct sysfs_bus* sysfs_open_bus(const char* name) = 0;
    virtual struct dlist* sysfs_get_bus_devices(struct sysfs_bus* bus) = 0;
    virtual struct sysfs_driver* sysfs_get_bus_driver(struct sysfs_bus* bus, const char* name) = 0;
    virtual void sysfs_close_bus(struct sysfs_bus* bus) = 0;
    virtual struct dlist* sysfs_get_driver_devices(struct sysfs_driver* driver) = 0;
    virtual struct sysfs_attribute* sysfs_get_device_attr(struct sysfs_device* dev, const char* name) = 0;
    // A device object of the device directory at path (its bus id is the
    // last path component); closed with sysfs_close_device.
    virtual struct sysfs_device* sysfs_open_device_path(const char* path) = 0;
    virtual void sysfs_close_device(struct sysfs_device* dev) = 0;
};

// The platform the library talks to. The production platform unless a test
// installed another one.
Platform& sys();

// Installs a platform (null: the production one) and returns the one that
// was installed before.
Platform* set_platform(Platform* platform);

// The production platform: a thin pass-through to Linux and libsysfs.
Platform& linux_platform();

}  // namespace vx

// A simulated character device: what stands behind a device node of the
// simulated host. The host routes open, ioctl, read, write and close of a
// descriptor on the node to the device registered for the node's major number.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace sim {

// A descriptor of the process under test: what it stands on (the library's
// path, or "netlink <protocol>") and whether an exec closes it.
struct SimDescriptor {
    int fd;
    std::string what;
    bool cloexec;
};

class SimDevice {
public:
    virtual ~SimDevice() = default;
    // 0 to accept the open, or an errno value to refuse it.
    virtual int open(dev_t, int) { return 0; }
    virtual void close(dev_t) {}
    // 0 on success, or an errno value: the ioctl then returns -1 with it.
    virtual int ioctl(dev_t rdev, unsigned long code, void* arg) = 0;
    // Bytes transferred, or -errno.
    virtual ssize_t read(dev_t, void*, size_t) { return -EINVAL; }
    virtual ssize_t write(dev_t, const void*, size_t) { return -EINVAL; }
    // Around a fork of the process (SimHost): takes the device's lock before
    // it, and releases it after it in the parent and in the child, so that
    // the child never finds it held by a thread it does not have.
    virtual void fork_lock() {}
    virtual void fork_unlock() {}
};

}  // namespace sim

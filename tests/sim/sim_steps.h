// Stops a change to the host's files at any one of its steps: a platform
// that counts the calls by which the process changes files or starts a
// command (an open for writing, write, fsync, fchmod, fchown, the close of a
// file opened for writing, rename, unlink, fork) and, at the chosen step, either
// fails that call or kills the process before it. Running a change once for
// every step shows what it leaves behind wherever it stops.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "sim_host.h"

namespace sim {

class StepFaults final : public ForwardingPlatform {
public:
    enum class Act { Fail, Kill };

    // Acts at step `at` (from 1; 0: never); installed at once.
    StepFaults(vx::Platform& base, unsigned at, Act act) : ForwardingPlatform(base), at_(at), act_(act) {}

    // The steps counted so far.
    unsigned steps() const { return count_; }

    int open(const char* p, int f, mode_t m) override {
        const bool writes = (f & O_ACCMODE) != O_RDONLY || (f & O_CREAT) != 0;
        if (writes && stop(ENOSPC)) return -1;
        const int fd = ForwardingPlatform::open(p, f, m);
        if (writes && fd >= 0) written_.insert(fd);
        return fd;
    }
    // The failing write is a short one, after which the disk is full.
    ssize_t write(int fd, const void* buf, size_t n) override {
        if (full_.count(fd) != 0) return errno = ENOSPC, -1;
        if (!stop(ENOSPC)) return ForwardingPlatform::write(fd, buf, n);
        if (n < 2) return -1;
        full_.insert(fd);
        return ForwardingPlatform::write(fd, buf, n / 2);
    }
    int fsync(int fd) override { return stop(EIO) ? -1 : ForwardingPlatform::fsync(fd); }
    int fchmod(int fd, mode_t m) override { return stop(EPERM) ? -1 : ForwardingPlatform::fchmod(fd, m); }
    int fchown(int fd, uid_t u, gid_t g) override { return stop(EPERM) ? -1 : ForwardingPlatform::fchown(fd, u, g); }
    // A failing close still closes the descriptor, as close(2) does.
    int close(int fd) override {
        const bool counted = written_.erase(fd) != 0;
        full_.erase(fd);
        const bool fails = counted && stop(EIO);
        const int rc = ForwardingPlatform::close(fd);
        return fails ? (errno = EIO, -1) : rc;
    }
    int rename(const char* f, const char* t) override { return stop(EIO) ? -1 : ForwardingPlatform::rename(f, t); }
    int unlink(const char* p) override { return stop(EBUSY) ? -1 : ForwardingPlatform::unlink(p); }
    pid_t fork() override { return stop(EAGAIN) ? -1 : ForwardingPlatform::fork(); }

private:
    // Counts a step; true (errno set) when this one fails. Killing ends the
    // process here, before the call.
    bool stop(int err) {
        if (++count_ != at_) return false;
        if (act_ == Act::Kill) ::kill(::getpid(), SIGKILL);
        errno = err;
        return true;
    }

    unsigned at_, count_ = 0;
    Act act_;
    std::set<int> written_, full_;
};

}  // namespace sim

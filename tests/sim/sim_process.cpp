// Child processes of the simulated host: real forks whose children answer
// their shell command as system() does and report back through a pipe.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "sim_host.h"

namespace sim {

std::vector<std::string> SimHost::process_log() const {
    std::lock_guard<std::mutex> lock(mu_);
    return process_log_;
}

void SimHost::fail_fork(int err) { fork_error_ = err; }
void SimHost::fail_exec(int err) { exec_error_ = err; }
void SimHost::fail_waitpid(int err, int count) { wait_fault_ = {err, count}; }

int SimHost::fflush(FILE* stream) {
    std::lock_guard<std::mutex> lock(mu_);
    process_log_.push_back(stream == stdout ? "fflush stdout" : stream == stderr ? "fflush stderr" : "fflush");
    return ::fflush(stream);
}

pid_t SimHost::fork() {
    int fds[2];
    if (fork_error_ != 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
        errno = fork_error_ != 0 ? std::exchange(fork_error_, 0) : errno;
        std::lock_guard<std::mutex> lock(mu_);
        process_log_.push_back("fork failed");
        return -1;
    }
    const pid_t pid = ::fork();
    const int err = errno;
    if (pid == 0) {
        ::close(fds[0]);
        report_fd_ = fds[1];
        return 0;
    }
    ::close(fds[1]);
    std::lock_guard<std::mutex> lock(mu_);
    exec_error_ = 0;
    process_log_.push_back(pid > 0 ? "fork" : "fork failed");
    if (pid > 0) children_[pid] = fds[0];
    else ::close(fds[0]);
    errno = err;
    return pid;
}

// Each line ends with a NUL: a command may hold newlines.
void SimHost::report_to_parent(const std::string& line) {
    if (report_fd_ >= 0 && ::write(report_fd_, line.c_str(), line.size() + 1) < 0) ::_exit(126);
}

int SimHost::execv(const char* path, const char* const argv[]) {
    if (exec_error_ != 0) {
        errno = exec_error_;
        return -1;
    }
    std::string command;
    if (std::strcmp(path, "/bin/sh") == 0 && argv[1] != nullptr && std::strcmp(argv[1], "-c") == 0) {
        command = argv[2] != nullptr ? argv[2] : "";
    }
    report_to_parent("exec " + command);
    ::_exit(answer(command).exit_status & 0xFF);
}

void SimHost::exit_child(int status) {
    report_to_parent("exit_child " + std::to_string(status));
    ::_exit(status);
}

pid_t SimHost::waitpid(pid_t pid, int* status, int options) {
    if (wait_fault_.count > 0) {
        --wait_fault_.count;
        std::lock_guard<std::mutex> lock(mu_);
        process_log_.push_back("waitpid failed");
        errno = wait_fault_.err;
        return -1;
    }
    const pid_t got = ::waitpid(pid, status, options);
    const int err = errno;
    std::lock_guard<std::mutex> lock(mu_);
    // What the child did comes first: it happened before the wait returned.
    auto child = children_.find(got);
    if (got > 0 && child != children_.end()) {
        std::string reports;
        char buf[4096];
        for (ssize_t n; (n = ::read(child->second, buf, sizeof buf)) > 0;) reports.append(buf, static_cast<size_t>(n));
        ::close(child->second);
        children_.erase(child);
        for (size_t at = 0, end; (end = reports.find('\0', at)) != std::string::npos; at = end + 1) {
            const std::string line = reports.substr(at, end - at);
            process_log_.push_back(line);
            if (line.rfind("exec ", 0) == 0) commands_.push_back(line.substr(5));
        }
    }
    process_log_.push_back("waitpid");
    errno = err;
    return got;
}

}  // namespace sim

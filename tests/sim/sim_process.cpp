// Child processes of the simulated host: real forks; a child's shell command
// is answered as system() answers it and sent to the parent through a pipe.
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

void SimHost::log_process(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    process_log_.push_back(line);
}

int SimHost::fflush(FILE* stream) {
    log_process(stream == stdout ? "fflush stdout" : stream == stderr ? "fflush stderr" : "fflush");
    return ::fflush(stream);
}

pid_t SimHost::fork() {
    int fds[2] = {-1, -1};
    const pid_t pid = fork_error_ != 0 || ::pipe2(fds, O_CLOEXEC) != 0 ? -1 : ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        report_fd_ = fds[1];
        return 0;
    }
    const int err = fork_error_ != 0 ? std::exchange(fork_error_, 0) : errno;
    log_process(pid > 0 ? "fork" : "fork failed");
    ::close(fds[1]);
    if (pid > 0) children_[pid] = fds[0];
    else ::close(fds[0]);
    exec_error_ = 0;
    errno = err;
    return pid;
}

int SimHost::execv(const char* path, const char* const argv[]) {
    if (exec_error_ != 0 || std::strcmp(path, "/bin/sh") != 0 || std::strcmp(argv[1], "-c") != 0) {
        errno = exec_error_ != 0 ? exec_error_ : ENOENT;
        return -1;
    }
    if (::write(report_fd_, argv[2], std::strlen(argv[2])) < 0) ::_exit(126);
    ::_exit(answer(argv[2]).exit_status & 0xFF);
}

void SimHost::exit_child(int status) { ::_exit(status); }

pid_t SimHost::waitpid(pid_t pid, int* status, int options) {
    if (wait_fault_.count > 0) {
        --wait_fault_.count;
        log_process("waitpid failed");
        errno = wait_fault_.err;
        return -1;
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
        if (!command.empty()) log_process("exec " + command);
        std::lock_guard<std::mutex> lock(mu_);
        if (!command.empty()) commands_.push_back(command);
    }
    log_process("waitpid");
    errno = err;
    return got;
}

}  // namespace sim

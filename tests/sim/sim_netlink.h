// The netlink sockets of the simulated host (SimHost::netlink()) and the
// driver's service behind them. Protocol 20 (SOCK_RAW): each request is
// answered before sendmsg returns. Protocol 18 (SOCK_DGRAM): the events tests
// inject. Each socket has a datagram queue: recvmsg pops one, cut to the
// iovec, EAGAIN when empty. Thread-safe.
#pragma once

#include <sys/socket.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim_device.h"
#include "transport/vx_nl_wire.h"

namespace sim {

using Bytes = std::vector<uint8_t>;

struct NlRequest {
    unsigned host_no;
    uint32_t cmd;
    Bytes message;  // as sent
    const uint8_t* body() const { return message.data() + VX_NL_REQ_BODY; }
};
// A driver answer: the error word and the bytes behind vxa_fc_msg's header.
struct NlReply {
    uint32_t error = 0;
    Bytes body;
};
using NlHandler = std::function<NlReply(const NlRequest&)>;
// The reply to a request: none, an NLMSG_ERROR with `value`, the error word
// `value`, cut to `value` bytes, queued just after the receive that missed
// it, or exactly `raw`.
struct NlFault {
    enum Kind { None, NoReply, NlError, Error, Short, Late, Raw } kind = None;
    int64_t value = 0;
    Bytes raw;
};

class SimNetlink {
public:
    using Lock = std::lock_guard<std::mutex>;
    // The driver's hosts answer command 4 from their event log (num_events:
    // the entries logged; the first 256 sent; the log emptied) and the
    // commands of their handlers; anything else gets the error word 1.
    void add_host(unsigned host_no) { Lock l(mu_); hosts_.insert(host_no); }
    void on(unsigned host_no, uint32_t cmd, NlHandler h) { Lock l(mu_); handlers_[{host_no, cmd}] = std::move(h); }
    void log_events(unsigned host_no, const std::vector<vxfc_aen_entry>& events) {
        Lock l(mu_);
        logs_[host_no].insert(logs_[host_no].end(), events.begin(), events.end());
    }
    void fault(NlFault f) { Lock l(mu_); faults_.push_back(std::move(f)); }  // for the next requests, in order
    bool faults_pending() const { Lock l(mu_); return !faults_.empty(); }
    void inject(const Bytes& datagram);                                        // to every protocol-18 socket
    // Runs after a reply is queued, before sendmsg returns, outside the lock.
    void after_send(std::function<void(const NlRequest&)> hook) { Lock l(mu_); after_send_ = std::move(hook); }

    std::vector<NlRequest> requests() const { Lock l(mu_); return requests_; }
    void clear_requests() { Lock l(mu_); requests_.clear(); }
    // Whether a request came while a reply was still queued on its socket.
    bool overlapped() const { Lock l(mu_); return overlapped_; }
    // "socket <protocol> <type without its flags> = <fd>",
    // "bind <fd> <family> <pid> <groups>",
    // "setsockopt <fd> <level> <name> <value>".
    std::vector<std::string> calls() const { Lock l(mu_); return calls_; }
    size_t open_sockets() const { Lock l(mu_); return sockets_.size(); }
    // The sockets open now, each with whether it was made with SOCK_CLOEXEC.
    std::vector<SimDescriptor> descriptors() const;
    // The next "socket 20", "bind 18", "setsockopt"... fails with err.
    void fail(const std::string& call, int err) { Lock l(mu_); failures_[call] = err; }
    void next_descriptor(int fd) { Lock l(mu_); next_fd_ = fd; }

    int socket(int domain, int type, int protocol);
    int bind(int fd, const struct sockaddr* addr, socklen_t len);
    int setsockopt(int fd, int level, int name, const void* value, socklen_t len);
    ssize_t sendmsg(int fd, const struct msghdr* msg, int flags);
    ssize_t recvmsg(int fd, struct msghdr* msg, int flags);
    bool close(int fd) { Lock l(mu_); return sockets_.erase(fd) != 0; }  // false: not a socket here
    // Held across a fork of the process (SimHost::fork_lock).
    void fork_lock() { mu_.lock(); }
    void fork_unlock() { mu_.unlock(); }

private:
    struct Socket {
        int protocol;
        bool cloexec;
        std::deque<Bytes> queue, late;
    };
    int call(const std::string& text, const std::string& fault);
    Bytes answer(const NlRequest& req, const NlFault& fault);

    mutable std::mutex mu_;
    std::map<int, Socket> sockets_;
    std::map<std::string, int> failures_;
    std::vector<std::string> calls_;
    std::vector<NlRequest> requests_;
    std::set<unsigned> hosts_;
    std::map<std::pair<unsigned, uint32_t>, NlHandler> handlers_;
    std::map<unsigned, std::vector<vxfc_aen_entry>> logs_;
    std::deque<NlFault> faults_;
    std::function<void(const NlRequest&)> after_send_;
    int next_fd_ = -1, fd_counter_ = 3000;
    bool overlapped_ = false;
};

// An FC transport event datagram: nlmsghdr + fc_nl_event.
Bytes fc_event(unsigned host_no, uint32_t code, uint32_t data = 0);

}  // namespace sim

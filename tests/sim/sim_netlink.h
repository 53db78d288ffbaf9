// The netlink sockets of the simulated host and the adapter driver behind
// them (SimHost::netlink()). Protocol 20 (SOCK_RAW) is the driver's vendor
// service: a request sent there is answered before sendmsg returns; protocol
// 18 (SOCK_DGRAM) gets the FC transport events that tests inject. Each socket
// has a datagram queue; recvmsg pops one datagram, cut to the iovec, and
// fails with EAGAIN when the queue is empty. Thread-safe.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "transport/vx_nl_wire.h"

namespace sim {

using Bytes = std::vector<uint8_t>;

struct NlRequest {
    unsigned host_no;
    uint32_t cmd;
    Bytes message;  // the request as sent
    const uint8_t* body() const { return message.data() + VX_NL_REQ_BODY; }
};

// A driver answer: the reply's error word and the bytes behind vxa_fc_msg's header.
struct NlReply {
    uint32_t error = 0;
    Bytes body;
};
using NlHandler = std::function<NlReply(const NlRequest&)>;

// What becomes of the reply to a request.
struct NlFault {
    enum Kind { None, NoReply, NlError, Error, Short, Late, Raw } kind = None;
    int64_t value = 0;  // NlError: the nlmsgerr error; Error: the error word; Short: the bytes kept
    Bytes raw;          // Raw: the whole reply
};

class SimNetlink {
public:
    // ---- the driver ----
    // A SCSI host of the driver: its event log answers command 4, and the
    // handlers registered for it answer their commands. Requests for other
    // hosts or commands get the error word 1.
    void add_host(unsigned host_no);
    void on(unsigned host_no, uint32_t cmd, NlHandler handler);
    // Appended to the host's event log; command 4 gives num_events = the
    // log's length and its first 256 entries, and empties the log.
    void log_events(unsigned host_no, const std::vector<vxfc_aen_entry>& events);
    // The replies to the next requests, in order.
    void fault(NlFault fault);
    // A datagram to every protocol-18 socket.
    void inject(const Bytes& datagram);

    // ---- what the library did ----
    std::vector<NlRequest> requests() const;
    // Whether a request came while a reply was still queued on its socket.
    bool overlapped() const { return overlapped_; }
    // "socket <protocol> <type> = <fd>", "bind <fd> <pid> <groups>",
    // "setsockopt <fd> <level> <name> <value>", "close <fd>".
    std::vector<std::string> calls() const;
    size_t open_sockets() const;
    // The next call of that kind ("socket 20", "bind 18", "setsockopt")
    // fails with err; the next socket gets descriptor fd.
    void fail(const std::string& call, int err);
    void next_descriptor(int fd) { next_fd_ = fd; }
    // Runs after each request's reply is queued, before sendmsg returns
    // (outside the peer's lock: other threads may send meanwhile).
    void after_send(std::function<void(const NlRequest&)> hook) { after_send_ = std::move(hook); }

    // ---- the platform calls of SimHost ----
    int socket(int domain, int type, int protocol);
    int bind(int fd, const struct sockaddr* addr, socklen_t len);
    int setsockopt(int fd, int level, int name, const void* value, socklen_t len);
    ssize_t sendmsg(int fd, const struct msghdr* msg, int flags);
    ssize_t recvmsg(int fd, struct msghdr* msg, int flags);
    bool close(int fd);  // false: not a socket of this peer

private:
    struct Socket {
        int protocol;
        std::deque<Bytes> queue;
        std::deque<Bytes> late;  // queued once a receive found the queue empty
    };
    bool failing(const std::string& call);
    Bytes answer(const NlRequest& req, NlFault fault);

    mutable std::recursive_mutex mu_;
    std::map<int, Socket> sockets_;
    std::map<std::string, int> failures_;
    std::vector<std::string> calls_;
    std::vector<NlRequest> requests_;
    std::set<unsigned> hosts_;
    std::map<std::pair<unsigned, uint32_t>, NlHandler> handlers_;
    std::map<unsigned, std::vector<vxfc_aen_entry>> logs_;
    std::deque<NlFault> faults_;
    std::function<void(const NlRequest&)> after_send_;
    int next_fd_ = -1;
    int fd_counter_ = 3000;
    bool overlapped_ = false;
};

// An FC transport event datagram: nlmsghdr + fc_nl_event.
Bytes fc_event(unsigned host_no, uint32_t code, uint32_t data = 0);

}  // namespace sim

#include "sim_netlink.h"

#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

template <class T>
void put(Bytes& b, size_t at, const T& v) {
    b.resize(std::max(b.size(), at + sizeof v));
    std::memcpy(b.data() + at, &v, sizeof v);
}

std::string text(const char* format, long a, long b, long c, long d = 0) {
    char out[96];
    std::snprintf(out, sizeof out, format, a, b, c, d);
    return out;
}

}  // namespace

void SimNetlink::inject(const Bytes& datagram) {
    Lock l(mu_);
    for (auto& entry : sockets_) {
        if (entry.second.protocol == VX_NL_PROTO_SCSI_TRANSPORT) entry.second.queue.push_back(datagram);
    }
}

// Logs the call; -1 with errno when the named fault is set (and takes it).
int SimNetlink::call(const std::string& line, const std::string& fault) {
    calls_.push_back(line);
    auto it = failures_.find(fault);
    if (it == failures_.end()) return 0;
    errno = it->second;
    failures_.erase(it);
    return -1;
}

int SimNetlink::socket(int domain, int type, int protocol) {
    Lock l(mu_);
    const int kind = type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK);
    const bool known = (protocol == VX_NL_PROTO_VENDOR && kind == SOCK_RAW) ||
                       (protocol == VX_NL_PROTO_SCSI_TRANSPORT && kind == SOCK_DGRAM);
    if (domain != AF_NETLINK || !known) return errno = EPROTONOSUPPORT, -1;
    const int fd = next_fd_ >= 0 ? next_fd_ : fd_counter_++;
    next_fd_ = -1;
    if (call(text("socket %ld %ld = %ld", protocol, kind, fd), "socket " + std::to_string(protocol)) < 0) return -1;
    sockets_[fd] = Socket{protocol, (type & SOCK_CLOEXEC) != 0, {}, {}};
    return fd;
}

std::vector<SimDescriptor> SimNetlink::descriptors() const {
    Lock l(mu_);
    std::vector<SimDescriptor> out;
    for (const auto& [fd, s] : sockets_) out.push_back({fd, "netlink " + std::to_string(s.protocol), s.cloexec});
    return out;
}

int SimNetlink::bind(int fd, const struct sockaddr* addr, socklen_t) {
    Lock l(mu_);
    const auto* nl = reinterpret_cast<const sockaddr_nl*>(addr);
    const int protocol = sockets_.count(fd) != 0 ? sockets_[fd].protocol : -1;
    return call(text("bind %ld %ld %ld %ld", fd, nl->nl_family, nl->nl_pid, nl->nl_groups),
                "bind " + std::to_string(protocol));
}

int SimNetlink::setsockopt(int fd, int level, int name, const void* value, socklen_t) {
    Lock l(mu_);
    return call(text("setsockopt %ld %ld %ld %ld", fd, level, name, *static_cast<const int*>(value)), "setsockopt");
}

ssize_t SimNetlink::sendmsg(int fd, const struct msghdr* msg, int) {
    std::unique_lock<std::mutex> lock(mu_);
    auto it = sockets_.find(fd);
    const auto* dest = static_cast<const sockaddr_nl*>(msg->msg_name);
    if (it == sockets_.end() || it->second.protocol != VX_NL_PROTO_VENDOR || dest == nullptr || dest->nl_pid != 0) {
        return errno = EINVAL, -1;
    }
    NlRequest req{0, 0, {}};
    for (size_t i = 0; i < msg->msg_iovlen; ++i) {
        const auto* base = static_cast<const uint8_t*>(msg->msg_iov[i].iov_base);
        req.message.insert(req.message.end(), base, base + msg->msg_iov[i].iov_len);
    }
    vx_nl_request head{};
    std::copy_n(req.message.begin(), std::min(req.message.size(), sizeof head), reinterpret_cast<uint8_t*>(&head));
    req.host_no = head.msg.host_no;
    req.cmd = head.msg.cmd;
    overlapped_ = overlapped_ || !it->second.queue.empty();
    requests_.push_back(req);
    NlFault fault;
    if (!faults_.empty()) {
        fault = faults_.front();
        faults_.pop_front();
    }
    if (fault.kind == NlFault::Late) it->second.late.push_back(answer(req, {}));
    if (fault.kind != NlFault::Late && fault.kind != NlFault::NoReply) it->second.queue.push_back(answer(req, fault));
    const auto hook = after_send_;
    lock.unlock();
    if (hook) hook(req);
    return static_cast<ssize_t>(req.message.size());
}

// The reply datagram to a request, as the fault makes it.
Bytes SimNetlink::answer(const NlRequest& req, const NlFault& fault) {
    if (fault.kind == NlFault::Raw) return fault.raw;
    nlmsghdr nlh{0, VX_NLMSG_TYPE_VENDOR, 0, 0, 0};
    Bytes out(VX_NL_HDR_LEN, 0);
    if (fault.kind == NlFault::NlError) {
        nlh.nlmsg_type = VX_NLMSG_ERROR;
        nlmsgerr err{static_cast<int>(fault.value), {}};
        std::memcpy(&err.msg, req.message.data(), std::min(req.message.size(), sizeof err.msg));
        put(out, VX_NL_HDR_LEN, err);
    } else {
        NlReply reply{1, {}};
        auto handler = handlers_.find({req.host_no, req.cmd});
        if (handler != handlers_.end()) {
            reply = handler->second(req);
        } else if (req.cmd == VX_NL_CMD_GET_AEN && hosts_.count(req.host_no) != 0) {
            std::vector<vxfc_aen_entry>& log = logs_[req.host_no];
            vxfc_aen_log body{static_cast<uint32_t>(log.size()), {}};
            std::copy_n(log.begin(), std::min<size_t>(log.size(), VX_NL_AEN_LOG_ENTRIES), body.aen);
            log.clear();
            reply = {0, Bytes(sizeof body)};
            std::memcpy(reply.body.data(), &body, sizeof body);
        }
        const uint32_t error = fault.kind == NlFault::Error ? static_cast<uint32_t>(fault.value) : reply.error;
        const vxa_fc_msg msg{VX_NL_VENDOR_MAGIC, static_cast<uint16_t>(req.host_no), 0, req.cmd, error, {}};
        out.insert(out.end(), reinterpret_cast<const uint8_t*>(&msg), reinterpret_cast<const uint8_t*>(&msg.u));
        out.insert(out.end(), reply.body.begin(), reply.body.end());
    }
    nlh.nlmsg_len = static_cast<uint32_t>(out.size());
    put(out, 0, nlh);
    if (fault.kind == NlFault::Short) out.resize(static_cast<size_t>(fault.value));
    return out;
}

ssize_t SimNetlink::recvmsg(int fd, struct msghdr* msg, int) {
    Lock l(mu_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end()) return errno = EBADF, -1;
    if (it->second.queue.empty()) {
        it->second.queue.swap(it->second.late);  // a late reply comes just after the receive that missed it
        return errno = EAGAIN, -1;
    }
    const Bytes datagram = std::move(it->second.queue.front());
    it->second.queue.pop_front();
    const size_t n = std::min(msg->msg_iov[0].iov_len, datagram.size());
    if (n != 0) std::memcpy(msg->msg_iov[0].iov_base, datagram.data(), n);
    msg->msg_flags = n < datagram.size() ? MSG_TRUNC : 0;
    return static_cast<ssize_t>(n);
}

Bytes fc_event(unsigned host_no, uint32_t code, uint32_t data) {
    fc_nl_event ev{};
    ev.host_no = static_cast<uint16_t>(host_no);
    ev.event_code = code;
    ev.event_data = data;
    Bytes out;
    put(out, VX_NL_HDR_LEN, ev);
    put(out, 0, static_cast<uint32_t>(out.size()));
    return out;
}

}  // namespace sim

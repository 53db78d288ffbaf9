#include "sim_netlink.h"

#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

template <class T>
void put(Bytes& b, size_t at, const T& v) {
    if (b.size() < at + sizeof v) b.resize(at + sizeof v);
    std::memcpy(b.data() + at, &v, sizeof v);
}

NlReply event_log(std::vector<vxfc_aen_entry>& log) {
    vxfc_aen_log body{};
    body.num_events = static_cast<uint32_t>(log.size());
    std::copy_n(log.begin(), std::min<size_t>(log.size(), VX_NL_AEN_LOG_ENTRIES), body.aen);
    log.clear();
    NlReply r;
    put(r.body, 0, body);
    return r;
}

}  // namespace

void SimNetlink::add_host(unsigned host_no) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    hosts_.insert(host_no);
}

void SimNetlink::on(unsigned host_no, uint32_t cmd, NlHandler handler) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    handlers_[{host_no, cmd}] = std::move(handler);
}

void SimNetlink::log_events(unsigned host_no, const std::vector<vxfc_aen_entry>& events) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    logs_[host_no].insert(logs_[host_no].end(), events.begin(), events.end());
}

void SimNetlink::fault(NlFault fault) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    faults_.push_back(std::move(fault));
}

void SimNetlink::inject(const Bytes& datagram) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    for (auto& [fd, s] : sockets_) {
        if (s.protocol == VX_NL_PROTO_SCSI_TRANSPORT) s.queue.push_back(datagram);
    }
}

std::vector<NlRequest> SimNetlink::requests() const {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return requests_;
}

std::vector<std::string> SimNetlink::calls() const {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return calls_;
}

size_t SimNetlink::open_sockets() const {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return sockets_.size();
}

void SimNetlink::fail(const std::string& call, int err) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    failures_[call] = err;
}

bool SimNetlink::failing(const std::string& call) {
    auto it = failures_.find(call);
    if (it == failures_.end()) return false;
    errno = it->second;
    failures_.erase(it);
    return true;
}

// ---------------------------------------------------------------- platform calls

int SimNetlink::socket(int domain, int type, int protocol) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const bool known = domain == AF_NETLINK && ((protocol == VX_NL_PROTO_VENDOR && type == SOCK_RAW) ||
                                                (protocol == VX_NL_PROTO_SCSI_TRANSPORT && type == SOCK_DGRAM));
    if (!known) errno = EPROTONOSUPPORT;
    if (!known || failing("socket " + std::to_string(protocol))) return -1;
    const int fd = next_fd_ >= 0 ? next_fd_ : fd_counter_++;
    next_fd_ = -1;
    sockets_[fd] = Socket{protocol, {}, {}};
    calls_.push_back("socket " + std::to_string(protocol) + " " + std::to_string(type) + " = " + std::to_string(fd));
    return fd;
}

int SimNetlink::bind(int fd, const struct sockaddr* addr, socklen_t len) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end() || len != sizeof(sockaddr_nl)) return errno = EBADF, -1;
    sockaddr_nl nl;
    std::memcpy(&nl, addr, sizeof nl);
    calls_.push_back("bind " + std::to_string(fd) + " " + std::to_string(nl.nl_family) + " " +
                     std::to_string(nl.nl_pid) + " " + std::to_string(nl.nl_groups));
    return failing("bind " + std::to_string(it->second.protocol)) ? -1 : 0;
}

int SimNetlink::setsockopt(int fd, int level, int name, const void* value, socklen_t len) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (sockets_.count(fd) == 0 || len != sizeof(int)) return errno = EBADF, -1;
    int v;
    std::memcpy(&v, value, sizeof v);
    calls_.push_back("setsockopt " + std::to_string(fd) + " " + std::to_string(level) + " " + std::to_string(name) +
                     " " + std::to_string(v));
    return failing("setsockopt") ? -1 : 0;
}

ssize_t SimNetlink::sendmsg(int fd, const struct msghdr* msg, int) {
    std::unique_lock<std::recursive_mutex> lock(mu_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end()) return errno = EBADF, -1;
    NlRequest req{0, 0, {}};
    for (size_t i = 0; i < msg->msg_iovlen; ++i) {
        const auto* base = static_cast<const uint8_t*>(msg->msg_iov[i].iov_base);
        req.message.insert(req.message.end(), base, base + msg->msg_iov[i].iov_len);
    }
    sockaddr_nl dest{};
    if (msg->msg_name != nullptr) std::memcpy(&dest, msg->msg_name, std::min<size_t>(msg->msg_namelen, sizeof dest));
    if (it->second.protocol != VX_NL_PROTO_VENDOR || dest.nl_family != AF_NETLINK || dest.nl_pid != 0) {
        return errno = EINVAL, -1;
    }
    if (req.message.size() >= sizeof(vx_nl_request)) {
        const auto* r = reinterpret_cast<const vx_nl_request*>(req.message.data());
        req.host_no = r->msg.host_no;
        req.cmd = r->msg.cmd;
    }
    if (!it->second.queue.empty()) overlapped_ = true;
    requests_.push_back(req);
    NlFault fault;
    if (!faults_.empty()) {
        fault = faults_.front();
        faults_.pop_front();
    }
    if (fault.kind == NlFault::Late) {
        it->second.late.push_back(answer(req, {}));
    } else if (fault.kind != NlFault::NoReply) {
        it->second.queue.push_back(answer(req, fault));
    }
    const auto hook = after_send_;
    lock.unlock();
    if (hook) hook(req);
    return static_cast<ssize_t>(req.message.size());
}

// The reply datagram to a request, as the fault makes it.
Bytes SimNetlink::answer(const NlRequest& req, NlFault fault) {
    if (fault.kind == NlFault::Raw) return fault.raw;
    Bytes out;
    nlmsghdr nlh{};
    nlh.nlmsg_type = VX_NLMSG_TYPE_VENDOR;
    if (fault.kind == NlFault::NlError) {
        nlh.nlmsg_type = VX_NLMSG_ERROR;
        nlmsgerr err{};
        err.error = static_cast<int>(fault.value);
        std::memcpy(&err.msg, req.message.data(), std::min(req.message.size(), sizeof err.msg));
        put(out, VX_NL_HDR_LEN, err);
    } else {
        const auto* r = reinterpret_cast<const vx_nl_request*>(req.message.data());
        const bool valid = req.message.size() >= sizeof(vx_nl_request) && r->nlh.nlmsg_len == req.message.size() &&
                           r->msg.magic == VX_NL_VENDOR_MAGIC && r->snlh.magic == VX_SCSI_NL_MAGIC;
        NlReply reply{1, {}};
        auto handler = handlers_.find({req.host_no, req.cmd});
        if (valid && handler != handlers_.end()) {
            reply = handler->second(req);
        } else if (valid && req.cmd == VX_NL_CMD_GET_AEN && hosts_.count(req.host_no) != 0) {
            reply = event_log(logs_[req.host_no]);
        }
        if (fault.kind == NlFault::Error) reply.error = static_cast<uint32_t>(fault.value);
        vxa_fc_msg head{};
        head.magic = VX_NL_VENDOR_MAGIC;
        head.host_no = static_cast<uint16_t>(req.host_no);
        head.cmd = req.cmd;
        head.error = reply.error;
        out.assign(reinterpret_cast<const uint8_t*>(&head), reinterpret_cast<const uint8_t*>(&head.u));
        out.insert(out.begin(), VX_NL_HDR_LEN, 0);
        out.insert(out.end(), reply.body.begin(), reply.body.end());
    }
    nlh.nlmsg_len = static_cast<uint32_t>(out.size());
    std::memcpy(out.data(), &nlh, sizeof nlh);
    if (fault.kind == NlFault::Short) out.resize(static_cast<size_t>(fault.value));
    return out;
}

ssize_t SimNetlink::recvmsg(int fd, struct msghdr* msg, int) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    auto it = sockets_.find(fd);
    if (it == sockets_.end()) return errno = EBADF, -1;
    Socket& s = it->second;
    if (s.queue.empty()) {
        // A late reply arrives just after the receive that missed it.
        s.queue.swap(s.late);
        return errno = EAGAIN, -1;
    }
    const Bytes datagram = std::move(s.queue.front());
    s.queue.pop_front();
    size_t done = 0;
    for (size_t i = 0; i < msg->msg_iovlen && done < datagram.size(); ++i) {
        const size_t n = std::min(msg->msg_iov[i].iov_len, datagram.size() - done);
        std::memcpy(msg->msg_iov[i].iov_base, datagram.data() + done, n);
        done += n;
    }
    if (msg->msg_name != nullptr && msg->msg_namelen >= sizeof(sockaddr_nl)) {
        sockaddr_nl from{};
        from.nl_family = AF_NETLINK;
        std::memcpy(msg->msg_name, &from, sizeof from);
    }
    msg->msg_flags = done < datagram.size() ? MSG_TRUNC : 0;
    return static_cast<ssize_t>(done);
}

bool SimNetlink::close(int fd) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (sockets_.erase(fd) == 0) return false;
    calls_.push_back("close " + std::to_string(fd));
    return true;
}

Bytes fc_event(unsigned host_no, uint32_t code, uint32_t data) {
    fc_nl_event ev{};
    ev.host_no = static_cast<uint16_t>(host_no);
    ev.event_code = code;
    ev.event_data = data;
    Bytes out(VX_NL_HDR_LEN, 0);
    put(out, VX_NL_HDR_LEN, ev);
    put(out, 0, static_cast<uint32_t>(out.size()));
    return out;
}

}  // namespace sim

// The netlink transport: the two sockets and their buffers, the vendor
// exchange and the two event readers.
//
// Every reply is checked against the bytes received before a field of it is
// read: the receive buffer is cleared before each receive, so a short reply
// would otherwise read as a success with zeros.
//
// The vxapi_ names are the library's; the functions are the netlink road's.
#include "transport/vx_netlink.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/vx_records.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

int gnl_fd = -1;
int gnl_scsi_fc_fd = -1;
sockaddr_nl vx_src_addr{};
sockaddr_nl vx_dest_addr{};
sockaddr_nl vx_scsi_src_addr{};
uint8_t* nlm_aen_sendbuf = nullptr;
uint8_t* nlm_aen_recvbuf = nullptr;
uint8_t* nlm_scsi_aen_recvbuf = nullptr;

std::mutex& vxapi_nl_mutex() {
    static std::mutex mu;
    return mu;
}

namespace {

// The event readers fill up to this many records.
constexpr uint32_t kEventRecords = 64;
// A drain before a send drops at most this many stale messages.
constexpr int kMaxStale = 256;

// The event codes of the FC transport's event codes 1 (LIP) to 5 (RSCN).
constexpr uint32_t kTransportEventCodes[] = {0, VX_AEN_LIP, VX_AEN_LINK_UP, VX_AEN_LINK_DOWN, VX_AEN_LIP_RESET,
                                             VX_AEN_RSCN};

void trace(uint32_t bits, const char* name, const char* text) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(": ", 0, VXDBG_NONE, 0);
    vxdbg_print(text, 0, VXDBG_NONE, 1);
}

void trace_number(uint32_t bits, const char* name, const char* text, uint64_t number) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print(": ", 0, VXDBG_NONE, 0);
    vxdbg_print(text, number, VXDBG_DEC, 1);
}

template <class T>
T read_at(const uint8_t* buf, size_t offset) {
    T value;
    std::memcpy(&value, buf + offset, sizeof value);
    return value;
}

void free_buffer(uint8_t** buf) {
    std::free(*buf);
    *buf = nullptr;
}

int alloc_into(uint8_t** target, int data_size) {
    free_buffer(target);
    void* buf = nullptr;
    if (vxapi_nlm_buf_alloc(data_size, &buf) != 0) return 1;
    *target = static_cast<uint8_t*>(buf);
    return 0;
}

sockaddr_nl netlink_address(uint32_t pid, uint32_t groups) {
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = pid;
    addr.nl_groups = groups;
    return addr;
}

int bind_to(int fd, const sockaddr_nl& addr) {
    return vx::sys().bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

// The constant header, the length and vxa_fc_msg's header of a request.
void frame_request(uint8_t* buf, uint32_t length, uint32_t cmd, int host_no) {
    vxapi_cmn_nl_hdr(reinterpret_cast<char*>(buf));
    auto* req = reinterpret_cast<vx_nl_request*>(buf);
    req->nlh.nlmsg_len = length;
    req->msg.magic = VX_NL_VENDOR_MAGIC;
    req->msg.cmd = cmd;
    req->msg.host_no = static_cast<uint16_t>(host_no);
}

// A message of one buffer, with the address (none when null).
msghdr one_buffer(iovec* iov, sockaddr_nl* addr) {
    msghdr msg{};
    msg.msg_name = addr;
    msg.msg_namelen = addr != nullptr ? sizeof *addr : 0;
    msg.msg_iov = iov;
    msg.msg_iovlen = 1;
    return msg;
}

// Drops what an earlier exchange left queued on the vendor socket: a reply
// read now would be taken for the answer to the next request.
void drain_stale_replies(int sock) {
    uint8_t scrap[VX_NL_HDR_LEN];
    iovec iov{scrap, sizeof scrap};
    for (int i = 0; i < kMaxStale; ++i) {
        msghdr msg = one_buffer(&iov, nullptr);
        if (vx::sys().recvmsg(sock, &msg, MSG_DONTWAIT) < 0) return;
    }
}

ssize_t send_request(int sock, uint8_t* buf, uint32_t length) {
    iovec iov{buf, length};
    const msghdr msg = one_buffer(&iov, &vx_dest_addr);
    return vx::sys().sendmsg(sock, &msg, 0);
}

// Whether the command's body and length fit its send buffer, and its reply
// and what it reads fit its receive buffer.
bool command_fits(const VxNlCommand& c) {
    const uint64_t body_end = uint64_t{VX_NL_REQ_BODY} + c.head_len + c.data_len;
    const uint64_t read_end = uint64_t{VX_NL_FC_MSG_HDR_LEN} + c.out_offset + c.out_len;
    return (c.head_len == 0 || c.head != nullptr) && (c.data_len == 0 || c.data != nullptr) &&
           (c.out_len == 0 || c.out != nullptr) && body_end <= c.length && c.length <= c.send_size &&
           c.reply_len <= VX_NL_MAX_RECEIVE && vx_nl_pad4(VX_NL_HDR_LEN + c.reply_len) <= c.recv_size &&
           read_end <= c.reply_len;
}

// Classifies a reply of `got` bytes and copies out what the command reads.
int read_reply(const VxNlCommand& c, const uint8_t* reply, int got, uint32_t* status) {
    const auto received = static_cast<uint32_t>(got);
    if (received >= VX_NL_HDR_LEN && read_at<uint16_t>(reply, offsetof(nlmsghdr, nlmsg_type)) == VX_NLMSG_ERROR &&
        received >= VX_NL_HDR_LEN + sizeof(int32_t)) {
        const auto err = read_at<int32_t>(reply, VX_NL_HDR_LEN);
        if (err != 0) trace_number(VXDBG_ERROR, c.name, "netlink message failed with errno=", -int64_t{err});
        if (err == -ENODEV) *status = EXT_STATUS_NO_DRIVER_SUPPORT;
        return 1;
    }
    if (received < VX_NL_REPLY_BODY) {
        trace_number(VXDBG_ERROR, c.name, "reply too short, bytes=", received);
        return 1;
    }
    const auto error = read_at<uint32_t>(reply, VX_NL_REPLY_MSG + offsetof(vxa_fc_msg, error));
    if (error != 0) {
        trace_number(VXDBG_ERROR, c.name, "receive message failed with error=", error);
        return 1;
    }
    if (received < VX_NL_REPLY_BODY + c.out_offset + c.out_len) {
        trace_number(VXDBG_ERROR, c.name, "reply too short, bytes=", received);
        return 1;
    }
    if (c.out_len != 0) std::memcpy(c.out, reply + VX_NL_REPLY_BODY + c.out_offset, c.out_len);
    *status = EXT_STATUS_OK;
    return 0;
}

// One request and its reply under the exchange lock; the send buffer is built.
int send_and_read(int sock, const VxNlCommand& c, uint8_t* request, uint8_t* reply, uint32_t* status) {
    std::lock_guard<std::mutex> lock(vxapi_nl_mutex());
    drain_stale_replies(sock);
    if (send_request(sock, request, c.length) < 0) {
        trace(VXDBG_ERROR, c.name, "sendmsg failed");
        return 1;
    }
    const int got = vxapi_rcv_msg(sock, static_cast<int>(c.reply_len), vx_src_addr, reply);
    if (got < 0) {
        trace(VXDBG_ERROR, c.name, "receive message failed");
        return 1;
    }
    return read_reply(c, reply, got, status);
}

// A buffer of the exchange, freed when it goes out of scope.
struct ExchangeBuffer {
    ExchangeBuffer() = default;
    ExchangeBuffer(const ExchangeBuffer&) = delete;
    ExchangeBuffer& operator=(const ExchangeBuffer&) = delete;
    ~ExchangeBuffer() { std::free(ptr); }
    uint8_t* bytes() const { return static_cast<uint8_t*>(ptr); }
    void* ptr = nullptr;
};

// One record of the driver's event log.
void log_entry_to_event(const vxfc_aen_entry& entry, int host_no, EXT_ASYNC_EVENT* ev) {
    ev->AsyncEventCode = entry.event_code;
    ev->Payload.RSCN.host_no = static_cast<uint32_t>(host_no);
    if (entry.event_code != VX_AEN_RSCN) return;
    ev->Payload.RSCN.AddrFormat = static_cast<uint8_t>(entry.payload[0] >> 8);
    ev->Payload.RSCN.RSCNInfo[0] = static_cast<uint8_t>(entry.payload[0] & 0xFF);
    ev->Payload.RSCN.RSCNInfo[1] = static_cast<uint8_t>(entry.payload[1] >> 8);
    ev->Payload.RSCN.RSCNInfo[2] = static_cast<uint8_t>(entry.payload[1] & 0xFF);
}

// One record of an FC transport event. A code outside the table leaves the
// record's code as the caller's buffer holds it.
void transport_event_to_event(const fc_nl_event& event, EXT_ASYNC_EVENT* ev) {
    ev->Payload.RSCN.host_no = event.host_no;
    if (event.event_code == 0 || event.event_code > VX_FC_NL_RSCN) return;
    ev->AsyncEventCode = kTransportEventCodes[event.event_code];
    if (event.event_code != VX_FC_NL_RSCN) return;
    ev->Payload.RSCN.AddrFormat = static_cast<uint8_t>(event.event_data >> 24);
    ev->Payload.RSCN.RSCNInfo[0] = static_cast<uint8_t>(event.event_data >> 16);
    ev->Payload.RSCN.RSCNInfo[1] = static_cast<uint8_t>(event.event_data >> 8);
    ev->Payload.RSCN.RSCNInfo[2] = static_cast<uint8_t>(event.event_data);
}

// The event-log exchange on the vendor socket: the bytes received, or -1
// after a failed send or receive. The caller holds the exchange lock.
int exchange_event_log(int host_no) {
    constexpr const char* name = "vxapi_nl_get_aen";
    std::memset(nlm_aen_sendbuf, 0, VX_NL_AEN_BUF_SIZE);
    frame_request(nlm_aen_sendbuf, VX_NL_REQUEST_LEN, VX_NL_CMD_GET_AEN, host_no);
    drain_stale_replies(gnl_fd);
    if (send_request(gnl_fd, nlm_aen_sendbuf, VX_NL_REQUEST_LEN) < 0) {
        trace(VXDBG_ERROR | VXDBG_EVENT, name, "sendmsg failed");
        return -1;
    }
    const int got = vxapi_rcv_msg(gnl_fd, sizeof(vxa_fc_msg), vx_src_addr, nlm_aen_recvbuf);
    if (got < 0) trace(VXDBG_ERROR | VXDBG_EVENT, name, "receive message failed");
    return got;
}

}  // namespace

// ---------------------------------------------------------------- buffers

int vxapi_nlm_buf_alloc(int data_size, void** nlm_buf) {
    *nlm_buf = data_size > 0 ? std::calloc(static_cast<size_t>(data_size), 1) : nullptr;
    return *nlm_buf != nullptr ? 0 : 1;
}

int vxapi_nlm_aen_sendbuf_alloc(int data_size) { return alloc_into(&nlm_aen_sendbuf, data_size); }

int vxapi_nlm_aen_recvbuf_alloc(int data_size) { return alloc_into(&nlm_aen_recvbuf, data_size); }

int vxapi_scsi_nlm_aen_recvbuf_alloc(int data_size) { return alloc_into(&nlm_scsi_aen_recvbuf, data_size); }

// ---------------------------------------------------------------- sockets

int vxapi_nl_open() {
    constexpr const char* name = "vxapi_nl_open";
    std::lock_guard<std::mutex> lock(vxapi_nl_mutex());  // the buffers are the event-log reader's
    const int fd = vx::sys().socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, VX_NL_PROTO_VENDOR);
    if (fd < 0) {
        trace(VXDBG_ERROR, name, "failed to create NETLINK_FCTRANSPORT socket");
        return -1;
    }
    const char* failure = nullptr;
    if (vxapi_nlm_aen_sendbuf_alloc(static_cast<int>(VX_NL_AEN_BUF_SIZE)) != 0) {
        failure = "failed to allocate sendbuf memory";
    } else if (vxapi_nlm_aen_recvbuf_alloc(static_cast<int>(VX_NL_AEN_BUF_SIZE)) != 0) {
        failure = "failed to allocate recvbuf memory";
    } else {
        vx_src_addr = netlink_address(static_cast<uint32_t>(vx::sys().getpid()), 0);
        if (bind_to(fd, vx_src_addr) < 0) failure = "failed to bind NETLINK_FCTRANSPORT socket";
    }
    if (failure != nullptr) {
        trace(VXDBG_ERROR, name, failure);
        vx::sys().close(fd);
        free_buffer(&nlm_aen_sendbuf);
        free_buffer(&nlm_aen_recvbuf);
        return -1;
    }
    vx_dest_addr = netlink_address(0, 0);
    return fd;
}

int vxapi_nl_scsi_fc_open() {
    constexpr const char* name = "vxapi_nl_scsi_fc_open";
    std::lock_guard<std::mutex> lock(vxapi_nl_mutex());  // the buffer is the event reader's
    const int fd = vx::sys().socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, VX_NL_PROTO_SCSI_TRANSPORT);
    if (fd < 0) {
        trace(VXDBG_ERROR, name, "failed to create NETLINK_SCSITRANSPORT socket");
        return -1;
    }
    const char* failure = nullptr;
    int err = 0;
    const int group = VX_NL_SCSI_FC_GROUP;
    if (vxapi_scsi_nlm_aen_recvbuf_alloc(static_cast<int>(VX_NL_SCSI_AEN_BUF_SIZE)) != 0) {
        failure = "failed to allocate recvbuf memory";
    } else {
        vx_scsi_src_addr = netlink_address(static_cast<uint32_t>(vx::sys().getpid()), VX_NL_SCSI_FC_GROUP);
        // The driver's own text for this socket names the other protocol.
        if (bind_to(fd, vx_scsi_src_addr) < 0) {
            failure = "failed to bind NETLINK_FCTRANSPORT socket";
        } else if (vx::sys().setsockopt(fd, VX_SOL_NETLINK, VX_NETLINK_ADD_MEMBERSHIP, &group, sizeof group) < 0) {
            err = errno;
            failure = "failed to set socket option errno=";
        }
    }
    if (failure != nullptr) {
        if (err != 0) {
            trace_number(VXDBG_ERROR, name, failure, static_cast<uint64_t>(err));
        } else {
            trace(VXDBG_ERROR, name, failure);
        }
        vx::sys().close(fd);
        free_buffer(&nlm_scsi_aen_recvbuf);
        return -1;
    }
    return fd;
}

void vxapi_nl_close_sockets() {
    std::lock_guard<std::mutex> lock(vxapi_nl_mutex());
    free_buffer(&nlm_aen_sendbuf);
    free_buffer(&nlm_aen_recvbuf);
    free_buffer(&nlm_scsi_aen_recvbuf);
    for (int* fd : {&gnl_fd, &gnl_scsi_fc_fd}) {
        if (*fd >= 0) vx::sys().close(*fd);
        *fd = -1;
    }
}

// ---------------------------------------------------------------- messages

void vxapi_cmn_nl_hdr(char* buf) {
    auto* req = reinterpret_cast<vx_nl_request*>(buf);
    req->nlh.nlmsg_pid = static_cast<uint32_t>(vx::sys().getpid());
    req->nlh.nlmsg_flags = 0;
    req->nlh.nlmsg_type = VX_NLMSG_TYPE_VENDOR;
    req->snlh.version = VX_SCSI_NL_VERSION;
    req->snlh.magic = VX_SCSI_NL_MAGIC;
    req->snlh.msgtype = VX_SCSI_NL_MSG_VENDOR;
}

int vxapi_rcv_msg(int fd, int size, sockaddr_nl src_addr, void* buf) {
    if (size < 0 || static_cast<uint32_t>(size) > VX_NL_MAX_RECEIVE) return -1;
    const uint32_t length = vx_nl_pad4(static_cast<uint32_t>(size) + VX_NL_HDR_LEN);
    std::memset(buf, 0, length);
    iovec iov{buf, length};
    msghdr msg = one_buffer(&iov, &src_addr);
    return static_cast<int>(vx::sys().recvmsg(fd, &msg, MSG_DONTWAIT));
}

int vxapi_nl_exchange(int sock, int host_no, const VxNlCommand& command, uint32_t* pext_stat) {
    uint32_t local_status = 0;
    uint32_t* status = pext_stat != nullptr ? pext_stat : &local_status;
    if (!command_fits(command)) {
        trace(VXDBG_ERROR, command.name, "message does not fit its buffers");
        *status = EXT_STATUS_INVALID_PARAM;
        return 1;
    }
    ExchangeBuffer request;
    ExchangeBuffer reply;
    if (vxapi_nlm_buf_alloc(static_cast<int>(command.send_size), &request.ptr) != 0) {
        trace(VXDBG_ERROR, command.name, "failed to allocate sendbuf memory");
        *status = EXT_STATUS_NO_MEMORY;
        return 1;
    }
    if (vxapi_nlm_buf_alloc(static_cast<int>(command.recv_size), &reply.ptr) != 0) {
        trace(VXDBG_ERROR, command.name, "failed to allocate recvbuf memory");
        *status = EXT_STATUS_NO_MEMORY;
        return 1;
    }
    frame_request(request.bytes(), command.length, command.cmd, host_no);
    if (command.head_len != 0) std::memcpy(request.bytes() + VX_NL_REQ_BODY, command.head, command.head_len);
    if (command.data_len != 0) {
        std::memcpy(request.bytes() + VX_NL_REQ_BODY + command.head_len, command.data, command.data_len);
    }
    if (command.preset_status) *status = EXT_STATUS_ERR;
    return send_and_read(sock, command, request.bytes(), reply.bytes(), status);
}

// ---------------------------------------------------------------- event readers

int vxapi_nl_get_aen(int host_no, EXT_ASYNC_EVENT* pevent_buf, uint32_t* buf_size) {
    constexpr const char* name = "vxapi_nl_get_aen";
    std::lock_guard<std::mutex> lock(vxapi_nl_mutex());
    if (nlm_aen_sendbuf == nullptr || nlm_aen_recvbuf == nullptr || pevent_buf == nullptr || buf_size == nullptr) {
        return 1;
    }
    const int got = exchange_event_log(host_no);
    if (got < 0) return 1;
    const auto received = static_cast<uint32_t>(got);
    constexpr uint32_t kEntriesAt = VX_NL_REPLY_BODY + offsetof(vxfc_aen_log, aen);
    const auto* reply = reinterpret_cast<const vx_nl_reply*>(nlm_aen_recvbuf);
    // The reply's type is not examined: an NLMSG_ERROR reply has the
    // request's (non-zero) pid where vxa_fc_msg has its error word, so a
    // host whose kernel refuses the request is not asked for the log again.
    if (received >= VX_NL_REPLY_BODY && reply->msg.error != 0) {
        trace_number(VXDBG_ERROR | VXDBG_EVENT, name, "receive message failed with error=", reply->msg.error);
        return 2;
    }
    if (received < kEntriesAt) {
        trace_number(VXDBG_ERROR | VXDBG_EVENT, name, "reply too short, bytes=", received);
        return 1;
    }
    // The driver's count, kept within the log and the bytes received.
    const uint32_t count = std::min({reply->msg.u.aen_log.num_events, VX_NL_AEN_LOG_ENTRIES,
                                     (received - kEntriesAt) / uint32_t{sizeof(vxfc_aen_entry)}});
    const uint32_t first = count > kEventRecords ? count - kEventRecords : 0;
    for (uint32_t i = first; i < count; ++i) {
        log_entry_to_event(reply->msg.u.aen_log.aen[i], host_no, &pevent_buf[i - first]);
    }
    *buf_size = (count - first) * sizeof(EXT_ASYNC_EVENT);
    trace_number(VXDBG_EVENT, name, "successful num aens=", count - first);
    return 0;
}

int vxapi_nl_scsi_fc_get_aen(int, EXT_ASYNC_EVENT* pevent_buf, uint32_t* buf_size) {
    constexpr const char* name = "vxapi_nl_scsi_fc_get_aen";
    std::lock_guard<std::mutex> lock(vxapi_nl_mutex());
    if (nlm_scsi_aen_recvbuf == nullptr || pevent_buf == nullptr || buf_size == nullptr) return 1;
    constexpr uint32_t kEventEnd = VX_NL_HDR_LEN + sizeof(fc_nl_event);
    uint32_t records = 0;
    int got = 0;
    int err = 0;
    for (uint32_t attempt = 0; attempt < kEventRecords; ++attempt) {
        got = vxapi_rcv_msg(gnl_scsi_fc_fd, sizeof(fc_nl_event), vx_scsi_src_addr, nlm_scsi_aen_recvbuf);
        if (got <= 0) {
            err = errno;
            break;
        }
        const auto event = read_at<fc_nl_event>(nlm_scsi_aen_recvbuf, VX_NL_HDR_LEN);
        if (static_cast<uint32_t>(got) < kEventEnd || vxapi_is_host_no_present(event.host_no) != 0) continue;
        transport_event_to_event(event, &pevent_buf[records++]);
    }
    trace_number(VXDBG_EVENT, name, "receive message successful num aens=", records);
    *buf_size = records * sizeof(EXT_ASYNC_EVENT);
    if (records > 0 || (got == -1 && err == EAGAIN)) return 0;
    if (got <= 0) trace(VXDBG_ERROR | VXDBG_EVENT, name, "receive message failed");
    return 1;
}

// The netlink transport of sysfs ports: the driver's vendor service
// (protocol 20) and the FC transport's events (protocol 18).
//
// Library load opens both sockets once per process (vxapi_open_netlink_socket)
// and unload closes them (vxapi_nl_close_sockets). Every vendor command is one
// exchange on the vendor socket: a request, then the reply that the driver
// queued by the time the send returned, read without waiting. Requests carry
// no sequence number, so replies cannot be matched to requests: one exchange
// at a time runs on the vendor socket (a process-wide lock from the send to
// the receive, the event-log read included), and replies still queued from
// an earlier exchange (a reply that came too late) are dropped before a send.
//
// The functions keep their vxapi_ names, those of the library's workers,
// though they belong to the netlink road: the workers choose the road and
// call them.
#pragma once

#include <linux/netlink.h>

#include <cstdint>
#include <mutex>

#include "base/vx_driver_records.h"
#include "transport/vx_nl_wire.h"

// The descriptors of the vendor socket and of the FC transport socket, -1
// while closed.
extern int gnl_fd;
extern int gnl_scsi_fc_fd;

// Local address of the vendor socket (this process, no group), the
// destination of every vendor request (the kernel), and the local address
// of the FC transport socket (this process, group 4).
extern sockaddr_nl vx_src_addr;
extern sockaddr_nl vx_dest_addr;
extern sockaddr_nl vx_scsi_src_addr;

// The event-log request and reply buffers (VX_NL_AEN_BUF_SIZE bytes each) and
// the FC transport's receive buffer (VX_NL_SCSI_AEN_BUF_SIZE bytes): made by
// the opens, freed at unload; null while closed.
extern uint8_t* nlm_aen_sendbuf;
extern uint8_t* nlm_aen_recvbuf;
extern uint8_t* nlm_scsi_aen_recvbuf;

// One exchange at a time on the vendor socket; also guards the readers'
// process-wide buffers and the descriptors. A fork of the process holds it
// across (core/life/vx_fork.h).
[[nodiscard]] std::mutex& vxapi_nl_mutex();

// Open the socket of the driver's vendor service (protocol 20) and of the FC
// transport's events (protocol 18, multicast group 4), with their buffers.
// The descriptor (0 is one), or -1 with nothing left open or allocated.
[[nodiscard]] int vxapi_nl_open();
[[nodiscard]] int vxapi_nl_scsi_fc_open();

// Frees the three buffers and closes both sockets (descriptors back to -1).
void vxapi_nl_close_sockets();

// A zeroed buffer of data_size bytes into *nlm_buf: 0, or 1 (left null) when
// it cannot be had.
[[nodiscard]] int vxapi_nlm_buf_alloc(int data_size, void** nlm_buf);
// A zeroed buffer of data_size bytes for nlm_aen_sendbuf, nlm_aen_recvbuf or
// nlm_scsi_aen_recvbuf (one held before is freed): 0, or 1 (left null).
[[nodiscard]] int vxapi_nlm_aen_sendbuf_alloc(int data_size);
[[nodiscard]] int vxapi_nlm_aen_recvbuf_alloc(int data_size);
[[nodiscard]] int vxapi_scsi_nlm_aen_recvbuf_alloc(int data_size);

// Writes the constant fields of a vendor request into a zeroed send buffer:
// nlmsg_type 17, nlmsg_pid the process id, scsi_nl_hdr version 1, magic
// 0xA1B2, msgtype 0x8000. nlmsg_len is the caller's.
void vxapi_cmn_nl_hdr(char* buf);

// Receives one message without waiting: size is the bytes wanted behind the
// 16-byte nlmsghdr. Clears pad4(size + 16) bytes of buf and reads at most
// that many (a longer message is cut); the sender's address goes to the copy
// of src_addr. recvmsg's result, or -1 without reading when size is negative
// or above VX_NL_MAX_RECEIVE.
[[nodiscard]] int vxapi_rcv_msg(int fd, int size, sockaddr_nl src_addr, void* buf);

// ---- the vendor exchange ----

// One vendor command: what differs from one command to another. The body
// is head_len bytes of head, then data_len bytes of data right behind them,
// from the start of vxa_fc_msg's union (request offset 44); the rest of the
// send buffer stays zero. What the command reads is out_len bytes of the
// reply's union from out_offset on (reply offset 36 + out_offset).
struct VxNlCommand {
    const char* name = "vxapi_nl_exchange";  // the command's function, for its traces
    uint32_t cmd = 0;                        // vendor command number
    uint32_t send_size = VX_NL_REQUEST_LEN;  // bytes of the send buffer
    uint32_t recv_size = VX_NL_REQUEST_LEN;  // bytes of the receive buffer
    uint32_t length = VX_NL_REQUEST_LEN;     // nlmsg_len: the bytes sent
    const void* head = nullptr;
    uint32_t head_len = 0;
    const void* data = nullptr;
    uint32_t data_len = 0;
    uint32_t reply_len = VX_NL_FC_MSG_HDR_LEN;  // bytes read behind the reply's nlmsghdr
    void* out = nullptr;
    uint32_t out_offset = 0;
    uint32_t out_len = 0;
    bool preset_status = false;  // status 1 before the send, so that a failed exchange leaves 1
};

// Runs one command on the vendor socket sock for the port with this SCSI
// host number: 0 success (status 0, out filled), 1 failure. Status: 17 when
// a buffer cannot be had; 6 when the command's body, length or reply do not
// fit its buffers (nothing is sent); 20 when the driver answers ENODEV; 1
// after any other failure when the command presets it, else left as it was.
// A failure is a failed send or receive, an NLMSG_ERROR reply (an
// acknowledgement of 0 included), a non-zero error word, or a reply too short
// for vxa_fc_msg's header or for the bytes the command reads.
[[nodiscard]] int vxapi_nl_exchange(int sock, int host_no, const VxNlCommand& command, uint32_t* pext_stat);

// ---- event readers ----

// Reads the driver's event log for the port with this SCSI host number into
// event records (room for 64): the newest 64 of the entries, oldest first,
// stamped with host_no. Result: 0 read, 1 the exchange failed (also a reply
// too short for its event count), 2 the driver refused the request. The
// driver's event count is bounded by the log's 256 entries and by the bytes
// received. *buf_size: the bytes filled (not read on entry).
[[nodiscard]] int vxapi_nl_get_aen(int host_no, EXT_ASYNC_EVENT* pevent_buf, uint32_t* buf_size);

// Drains the FC transport's events (at most 64 receives) into event records
// (room for 64), each stamped with its own port's host number (host_no is not
// used); events of hosts without a port record, and messages too short for an
// event, are skipped. Result: 0 read (none queued included), 1 failure.
// *buf_size: the bytes filled.
[[nodiscard]] int vxapi_nl_scsi_fc_get_aen(int host_no, EXT_ASYNC_EVENT* pevent_buf, uint32_t* buf_size);

// The loopback test through the vendor socket sock for the port with this
// SCSI host number: INT_LOOPBACK_REQ in, INT_LOOPBACK_RSP out (the sizes are
// not consulted). 0 success, 1 failure; *pext_stat the driver status.
[[nodiscard]] int vxapi_nl_loopback_test(int sock, int host_no, void* ploopback_req, uint32_t loopback_req_size,
                                         void* ploopback_rsp, uint32_t loopback_rsp_size, uint32_t* pext_stat);

// The netlink messages of the adapter driver's vendor service (protocol 20)
// and of the FC transport's events (protocol 18), byte for byte, in host
// byte order. The library builds and reads them; the tests' simulated
// driver reads and answers them. Every offset the two sides rely on is
// pinned here.
//
// A vendor request: nlmsghdr (16) + scsi_nl_hdr (8) + vxa_fc_msg (2,072),
// then, for commands whose data run past vxa_fc_msg, the rest of the data.
// A vendor reply: nlmsghdr (16) + vxa_fc_msg, without a scsi_nl_hdr; an
// NLMSG_ERROR reply carries an nlmsgerr behind its nlmsghdr instead.
// The command body sits in the union of vxa_fc_msg: request offset 44,
// reply offset 36. The bodies of the vendor commands are given at their
// offsets in the union, in the section "Command bodies" below.
#pragma once

#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>

#include "core/vx_layout.h"

// ---- sockets ----

constexpr int VX_NL_PROTO_VENDOR = 20;          // the driver's vendor service (NETLINK_FCTRANSPORT)
constexpr int VX_NL_PROTO_SCSI_TRANSPORT = 18;  // the FC transport's events (NETLINK_SCSITRANSPORT)
constexpr uint32_t VX_NL_SCSI_FC_GROUP = 4;     // bind nl_groups and the membership option value
constexpr int VX_SOL_NETLINK = 270;
constexpr int VX_NETLINK_ADD_MEMBERSHIP = 1;

// ---- framing ----

constexpr uint16_t VX_NLMSG_ERROR = 2;         // nlmsg_type of an error (or acknowledgement) reply
constexpr uint16_t VX_NLMSG_TYPE_VENDOR = 17;  // nlmsg_type of a vendor request
constexpr uint8_t VX_SCSI_NL_VERSION = 1;
constexpr uint16_t VX_SCSI_NL_MAGIC = 0xA1B2;
constexpr uint16_t VX_SCSI_NL_MSG_VENDOR = 0x8000;  // scsi_nl_hdr msgtype of a vendor message

// The vendor magic the driver checks in every request: the maker's PCI
// vendor ID in its top 16 bits.
constexpr uint64_t VX_NL_VENDOR_MAGIC = (uint64_t{VX_PCI_VENDOR_MAKER} << 48) | 0x5646434Du;

#pragma pack(push, 1)
struct scsi_nl_hdr {
    uint8_t version;
    uint8_t transport;
    uint16_t magic;
    uint16_t msgtype;
    uint16_t msglen;
};

// One entry of the driver's event log.
struct vxfc_aen_entry {
    uint16_t event_code;
    uint16_t payload[3];  // RSCN: [0] address format (high byte) and port id byte 0, [1] port id bytes 1, 2
};

constexpr uint32_t VX_NL_AEN_LOG_ENTRIES = 256;

// The reply body of the event-log command (4).
struct vxfc_aen_log {
    uint32_t num_events;
    vxfc_aen_entry aen[VX_NL_AEN_LOG_ENTRIES];
};

constexpr uint32_t VX_NL_BODY_SIZE = 2052;  // the union of vxa_fc_msg

// The vendor message: a 20-byte header and the command body.
struct vxa_fc_msg {
    uint64_t magic;
    uint16_t host_no;
    uint16_t vmsg_datalen;  // 0 in requests
    uint32_t cmd;
    uint32_t error;  // 0 in requests; in replies 0 success, else the driver refused or failed
    union {
        uint8_t bytes[VX_NL_BODY_SIZE];
        vxfc_aen_log aen_log;
    } u;
};

// A vendor request up to the end of vxa_fc_msg.
struct vx_nl_request {
    nlmsghdr nlh;
    scsi_nl_hdr snlh;
    vxa_fc_msg msg;
};

// A vendor reply up to the end of vxa_fc_msg.
struct vx_nl_reply {
    nlmsghdr nlh;
    vxa_fc_msg msg;
};

// An event of the FC transport, behind a 16-byte nlmsghdr.
struct fc_nl_event {
    scsi_nl_hdr snlh;
    uint64_t seconds;
    uint64_t vendor_id;
    uint16_t host_no;
    uint16_t event_datalen;
    uint32_t event_num;
    uint32_t event_code;
    uint32_t event_data;  // RSCN: address format in bits 24-31, port id in bits 0-23
};
#pragma pack(pop)

static_assert(sizeof(nlmsghdr) == 16);
static_assert(sizeof(nlmsgerr) == 20);
static_assert(offsetof(nlmsgerr, error) == 0);
static_assert(sizeof(sockaddr_nl) == 12);
static_assert(sizeof(scsi_nl_hdr) == 8);
static_assert(offsetof(scsi_nl_hdr, magic) == 2);
static_assert(offsetof(scsi_nl_hdr, msgtype) == 4);
static_assert(sizeof(vxfc_aen_entry) == 8);
static_assert(sizeof(vxfc_aen_log) == VX_NL_BODY_SIZE);
static_assert(sizeof(vxa_fc_msg) == 2072);
static_assert(offsetof(vxa_fc_msg, host_no) == 8);
static_assert(offsetof(vxa_fc_msg, cmd) == 12);
static_assert(offsetof(vxa_fc_msg, error) == 16);
static_assert(offsetof(vxa_fc_msg, u) == 20);
static_assert(sizeof(vx_nl_request) == 2096);
static_assert(sizeof(vx_nl_reply) == 2088);
static_assert(sizeof(fc_nl_event) == 40);
static_assert(offsetof(fc_nl_event, host_no) == 24);
static_assert(offsetof(fc_nl_event, event_code) == 32);
static_assert(offsetof(fc_nl_event, event_data) == 36);

// ---- sizes and offsets of whole messages ----

constexpr uint32_t VX_NL_HDR_LEN = sizeof(nlmsghdr);                       // 16
constexpr uint32_t VX_NL_FC_MSG_HDR_LEN = offsetof(vxa_fc_msg, u);          // 20
constexpr uint32_t VX_NL_REQUEST_LEN = sizeof(vx_nl_request);              // 2,096: a fixed-size request
constexpr uint32_t VX_NL_REQ_MSG = offsetof(vx_nl_request, msg);           // 24
constexpr uint32_t VX_NL_REQ_BODY = VX_NL_REQ_MSG + VX_NL_FC_MSG_HDR_LEN;  // 44
constexpr uint32_t VX_NL_REPLY_MSG = offsetof(vx_nl_reply, msg);           // 16
constexpr uint32_t VX_NL_REPLY_BODY = VX_NL_REPLY_MSG + VX_NL_FC_MSG_HDR_LEN;  // 36
static_assert(VX_NL_REQ_BODY == 44 && VX_NL_REPLY_BODY == 36);

// The most a receive asks for behind the nlmsghdr.
constexpr uint32_t VX_NL_MAX_RECEIVE = 0x20000;
// The event-log buffers: the largest reply and a request frame.
constexpr uint32_t VX_NL_AEN_BUF_SIZE = VX_NL_MAX_RECEIVE + VX_NL_REQUEST_LEN;  // 133,168
// The receive buffer of the FC transport's events.
constexpr uint32_t VX_NL_SCSI_AEN_BUF_SIZE = 64;

// n rounded up to a multiple of 4 (message lengths).
constexpr uint32_t vx_nl_pad4(uint32_t n) { return (n + 3u) & ~3u; }

// ---- vendor commands ----

constexpr uint32_t VX_NL_CMD_GET_AEN = 4;  // read the driver's event log

// ---- FC transport events ----

constexpr uint32_t VX_FC_NL_LIP = 1;
constexpr uint32_t VX_FC_NL_LINK_UP = 2;
constexpr uint32_t VX_FC_NL_LINK_DOWN = 3;
constexpr uint32_t VX_FC_NL_LIP_RESET = 4;
constexpr uint32_t VX_FC_NL_RSCN = 5;

// ---- Command bodies ----
// Each at its offset from the start of the union (request +44, reply +36).

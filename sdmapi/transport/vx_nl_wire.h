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

#include "base/vx_layout.h"

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
[[nodiscard]] constexpr uint32_t vx_nl_pad4(uint32_t n) { return (n + 3u) & ~3u; }

// ---- vendor commands ----

enum : uint32_t {
    VX_NL_CMD_TARNO_RESET = 1,
    VX_NL_CMD_TARNO_UPDATE_FW = 2,
    VX_NL_CMD_TARNO_MGMT = 3,
    VX_NL_CMD_GET_AEN = 4,  // read the driver's event log
    VX_NL_CMD_LOOPBACK_SEND = 5,
    VX_NL_CMD_LOOPBACK_READ = 6,
    VX_NL_CMD_PORT_PARAM = 7,
    VX_NL_CMD_FCP_PRIO = 8,
    VX_NL_CMD_DIAG_MODE = 9,
    VX_NL_CMD_FRU_VERSIONS = 11,
    VX_NL_CMD_FRU_STATUS_READ = 12,
    VX_NL_CMD_FRU_STATUS_WRITE = 13,
    VX_NL_CMD_I2C_WRITE = 16,
    VX_NL_CMD_I2C_READ = 17,
    VX_NL_CMD_SERDES_REG = 19,
    VX_NL_CMD_SERDES_REG_EX = 20,
};

// ---- FC transport events ----

constexpr uint32_t VX_FC_NL_LIP = 1;
constexpr uint32_t VX_FC_NL_LINK_UP = 2;
constexpr uint32_t VX_FC_NL_LINK_DOWN = 3;
constexpr uint32_t VX_FC_NL_LIP_RESET = 4;
constexpr uint32_t VX_FC_NL_RSCN = 5;

// ---- Command bodies ----
// Each at its offset from the start of the union (request +44, reply +36).
// The i2c, FRU and SerDes bodies are the records of base/vx_driver_records.h.

#pragma pack(push, 1)
struct msg_reset {
    uint32_t diag_fw;  // 1: start the diagnostic firmware
};

// A piece of a firmware image; the piece's bytes follow.
struct msg_update_fw {
    uint32_t diag_fw;  // 1: the image is diagnostic firmware
    uint32_t offset;   // of the piece in the image
    uint32_t len;      // of the piece
    uint32_t fw_len;   // of the image
};

union vxa84_mgmt_param {
    struct {
        uint32_t start_addr;
    } mem;
    struct {
        uint32_t id;
        uint32_t param0;
        uint32_t param1;
    } config;
    struct {
        uint32_t type;
        uint32_t context;
    } info;
};

// A management request of the Tarno controller; its data follow.
struct vxa84_msg_mgmt {
    uint16_t cmd;  // TARNO_MGMT_*
    uint16_t rsrvd;
    vxa84_mgmt_param mgmtp;
    uint32_t len;  // data length
};

// A piece of the loopback test's data; the piece's bytes follow.
struct msg_loopback {
    uint16_t options;
    uint32_t tx_cnt;
    uint32_t iter_cnt;
    uint64_t tx_buf_address;
    uint32_t tx_buf_len;
    uint8_t reserved1[18];
    uint64_t rx_buf_address;
    uint32_t rx_buf_len;
    uint16_t comp_stat;  // the results, in the send phase's replies
    uint16_t crc_err_cnt;
    uint16_t disparity_err_cnt;
    uint16_t frame_len_err_cnt;
    uint32_t iter_cnt_last_err;
    uint8_t cmd_sent;
    uint8_t reserved;
    uint8_t reserved2[14];
    uint32_t offset;     // of the piece
    uint32_t len;        // of the piece
    uint32_t total_len;  // of the buffer the piece belongs to
};

struct vxa_port_param {
    uint8_t dest_addr[8];  // the remote port's name
    uint16_t dest_type;    // VX_DEST_WWPN
    uint16_t lun;
    uint16_t padding[2];
    uint16_t mode;   // VX_PORT_PARAM_GET, anything else sets
    uint16_t speed;  // the driver's speed code
};

// The FCP priority configuration follows.
struct vxa_fcp_prio_param {
    uint8_t version;  // VX_NL_FCP_PRIO_VERSION
    uint8_t oper;     // 0 disable, 1 enable, VX_NL_FCP_PRIO_GET, VX_NL_FCP_PRIO_SET
    uint8_t reserved[2];
    uint32_t fcp_prio_cfg_size;
};
#pragma pack(pop)

static_assert(sizeof(msg_update_fw) == 16);
static_assert(sizeof(vxa84_mgmt_param) == 12);
static_assert(sizeof(vxa84_msg_mgmt) == 20);
static_assert(offsetof(vxa84_msg_mgmt, len) == 16);
static_assert(sizeof(msg_loopback) == 92);
static_assert(offsetof(msg_loopback, tx_buf_address) == 10);
static_assert(offsetof(msg_loopback, rx_buf_address) == 40);
static_assert(offsetof(msg_loopback, comp_stat) == 52);
static_assert(offsetof(msg_loopback, iter_cnt_last_err) == 60);
static_assert(offsetof(msg_loopback, cmd_sent) == 64);
static_assert(offsetof(msg_loopback, offset) == 80);
static_assert(sizeof(vxa_port_param) == 20);
static_assert(offsetof(vxa_port_param, speed) == 18);
static_assert(sizeof(vxa_fcp_prio_param) == 8);

constexpr uint8_t VX_NL_FCP_PRIO_VERSION = 1;
constexpr uint8_t VX_NL_FCP_PRIO_GET = 2;
constexpr uint8_t VX_NL_FCP_PRIO_SET = 3;

// Bytes of a firmware image or loopback data in one message, and the
// buffers of those messages (also the Tarno management's receive buffer).
constexpr uint32_t VX_NL_CHUNK = 0x10000;
constexpr uint32_t VX_NL_CHUNK_BUF = VX_NL_CHUNK + VX_NL_REQUEST_LEN;  // 67,632
// The Tarno management message, whatever its operation.
constexpr uint32_t VX_NL_MGMT_LEN = 18480;
// The receive buffer of the port speed, FRU version and i2c commands.
constexpr uint32_t VX_NL_WIDE_BUF = VX_NL_REQUEST_LEN + sizeof(vxa_fc_msg);  // 4,168

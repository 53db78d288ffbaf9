// bsg jobs of the FC transport: vendor commands, CT requests and ELS
// requests to a port's FC host or to one of its remote ports.
//
// A job is an sg_io_v4 header that points at an fc_bsg_request, an
// fc_bsg_reply and the data buffers, handed to the kernel with SG_IO on a
// character node of the host's (or remote port's) bsg entry. The library
// does not rely on /dev holding that node: it reads the entry's device
// number from sysfs and makes a private node under /tmp for one request,
// which it removes again whatever the request's outcome.
//
// Every bsg operation reports the same statuses: 9 while nothing reached the
// driver, 17 when its buffers cannot be allocated, 1 once the node exists
// (it stays when the reply's result says the job failed), 2 while a busy
// driver is waited for, 20 when the driver does not implement the command
// (ENOSYS), 8 (data underrun) when the answer did not arrive as far as the
// operation reads it, 0 on success or the driver's own status of the command
// from the reply. Every job names a reply buffer: a driver may report the
// outcome of a job only there.
//
// What the kernel says arrived is the truth: the bytes of the reply that the
// driver wrote (response_len) and of data in (din_xfer_len less din_resid,
// and never more than the reply's reply_payload_rcv_len once the reply holds
// it). Nothing beyond is read as an answer.
#pragma once

#include <linux/bsg.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/vx_records.h"
#include "base/vx_request.h"

// ---- records exchanged with the FC transport ----

// Message codes of fc_bsg_request.
constexpr uint32_t VX_BSG_HOST_VENDOR = 0x800000FF;  // vendor command to the FC host
constexpr uint32_t VX_BSG_HOST_CT = 0x80000004;      // CT request through the FC host
constexpr uint32_t VX_BSG_RPORT_ELS = 0x40000001;    // ELS request to a remote port

#pragma pack(push, 1)
// Request of a bsg job: a message code and the message's data. The library's
// request buffers are at least this size (longer vendor requests carry more
// vendor_cmd words behind it) and are zeroed before use.
struct fc_bsg_request {
    uint32_t msgcode;
    union {
        struct {
            uint64_t vendor_id;  // vendor-id type in the top byte, vendor ID in the low 16 bits
            uint32_t vendor_cmd[2];  // command code, then its arguments
        } h_vendor;
        struct {
            uint8_t reserved;
            uint8_t port_id[3];  // destination: GS type, 0xFF, 0xFF
            uint32_t preamble_word0;
            uint32_t preamble_word1;
            uint32_t preamble_word2;
        } h_ct;
        struct {
            uint8_t els_code;  // first byte of the ELS payload
        } r_els;
    } rqst_data;
};

// What the driver reports of a CT or ELS job: a status (VX_CTELS_STATUS_*)
// and, when the status is not OK, the reject or busy data.
struct fc_bsg_ctels_reply {
    uint32_t status;
    struct {
        uint8_t action;  // fragment id of a CT reject
        uint8_t reason_code;
        uint8_t reason_explanation;
        uint8_t vendor_unique;
    } rjt_data;
};

// Reply of a bsg job: the job's result (0 when the driver completed it),
// the bytes of response payload received, then the reply data. For a
// vendor command, vendor_rsp[0] is the driver's status of the command
// (commands that return data in the reply take a longer buffer); a CT or
// ELS job reports its outcome in ctels_reply.
struct fc_bsg_reply {
    uint32_t result;
    uint32_t reply_payload_rcv_len;
    union {
        uint32_t vendor_rsp[2];
        fc_bsg_ctels_reply ctels_reply;
    };
};

// Header of a CT information unit: the fields a CT request is framed from.
struct ct_iu_t {
    uint8_t Revision;
    uint8_t InId[3];
    uint8_t GsType;
    uint8_t GsSubtype;
    uint8_t Options;
    uint8_t Reserved1;
    uint16_t Command;
    uint16_t Max_rsp_size;
    uint8_t Reserved2[4];  // reason code, explanation, vendor unique: not read
};
#pragma pack(pop)

static_assert(sizeof(fc_bsg_request) == 20);
static_assert(offsetof(fc_bsg_request, rqst_data.h_vendor.vendor_id) == 4);
static_assert(offsetof(fc_bsg_request, rqst_data.h_vendor.vendor_cmd) == 12);
static_assert(offsetof(fc_bsg_request, rqst_data.h_ct.port_id) == 5);
static_assert(offsetof(fc_bsg_request, rqst_data.h_ct.preamble_word0) == 8);
static_assert(offsetof(fc_bsg_request, rqst_data.h_ct.preamble_word2) == 16);
static_assert(offsetof(fc_bsg_request, rqst_data.r_els.els_code) == 4);
static_assert(sizeof(fc_bsg_ctels_reply) == 8);
static_assert(offsetof(fc_bsg_ctels_reply, rjt_data.reason_code) == 5);
static_assert(offsetof(fc_bsg_ctels_reply, rjt_data.vendor_unique) == 7);
static_assert(sizeof(fc_bsg_reply) == 16);
static_assert(offsetof(fc_bsg_reply, reply_payload_rcv_len) == 4);
static_assert(offsetof(fc_bsg_reply, vendor_rsp) == 8);
static_assert(offsetof(fc_bsg_reply, ctels_reply.status) == 8);
static_assert(offsetof(fc_bsg_reply, ctels_reply.rjt_data.action) == 12);
static_assert(sizeof(ct_iu_t) == 16);
static_assert(offsetof(ct_iu_t, GsType) == 4);
static_assert(offsetof(ct_iu_t, Command) == 8);
static_assert(offsetof(ct_iu_t, Max_rsp_size) == 10);
static_assert(sizeof(sg_io_v4) == 160);

// CT and ELS statuses of fc_bsg_ctels_reply.
enum : uint32_t {
    VX_CTELS_STATUS_OK = 0,      // answered; the response holds the answer
    VX_CTELS_STATUS_REJECT = 1,  // rejected by the destination (LS_RJT, CT reject)
    VX_CTELS_STATUS_P_RJT = 2,   // rejected by the port
    VX_CTELS_STATUS_F_RJT = 3,   // rejected by the fabric
    VX_CTELS_STATUS_P_BSY = 4,   // port busy
    VX_CTELS_STATUS_F_BSY = 6,   // fabric busy
};

// Vendor command codes (word 0 of vendor_cmd). Code 18 is not used.
enum : uint32_t {
    VX_BSG_LOOPBACK = 1,           // loopback test
    VX_BSG_TARNO_RESET = 2,        // Tarno reset
    VX_BSG_TARNO_UPDATE_FW = 3,    // Tarno firmware update
    VX_BSG_TARNO_MGMT = 4,         // Tarno management
    VX_BSG_PORT_PARAM = 5,         // port parameters
    VX_BSG_FCP_PRIO = 6,           // FCP priority / QoS
    VX_BSG_READ_FLASH = 7,         // read flash
    VX_BSG_UPDATE_FLASH = 8,       // update flash
    VX_BSG_DIAG_MODE = 9,          // set or reset the diagnostic mode
    VX_BSG_DIAG_IO = 10,           // diagnostic I/O
    VX_BSG_FRU_VERSIONS = 11,      // FRU versions
    VX_BSG_FRU_STATUS_READ = 12,   // FRU status read
    VX_BSG_FRU_STATUS_WRITE = 13,  // FRU status write
    VX_BSG_NPIV_QOS = 14,          // NPIV QoS
    VX_BSG_NPIV_QOS_LIST = 15,     // NPIV QoS list
    VX_BSG_I2C_WRITE = 16,         // i2c write
    VX_BSG_I2C_READ = 17,          // i2c read
    VX_BSG_SERDES_REG = 19,        // serdes register access
    VX_BSG_SERDES_REG_EX = 20,     // extended serdes register access
    VX_BSG_GET_FLASH_CAPS = 21,    // get flash update capabilities
    VX_BSG_SET_FLASH_CAPS = 22,    // set flash update capabilities
};

// Request and reply sizes of the vendor commands.
constexpr uint32_t VX_BSG_REQUEST_LEN = 20;  // default request
constexpr uint32_t VX_BSG_REPLY_LEN = 20;    // reply of the commands that answer a status word

// The ELS pass-through header in front of an ELS payload.
constexpr uint32_t VX_ELS_HEADER_LEN = 32;

// ---- paths and nodes ----

// 0 when the host has a bsg entry <mnt>/class/bsg/fc_host<N>/ (the path test
// succeeded), 1 otherwise.
[[nodiscard]] int vxsysfs_is_bsg_supported(uint32_t host_no);

// <mnt>/class/bsg/fc_host<N>/ of the record's host into path (a buffer of
// VXSYSFS_PATH_SIZE bytes); the end of the text written (which a caller
// that does not append drops).
char* vxsysfs_get_bsg_device_path(char* path, const vxapi_priv_database* rec);

// <mnt>/class/bsg/rport-<H>:<B>-<N>/ of the record host's remote port with
// this WWPN (8 bytes) into path; the end of the text, or null (nothing
// written) when the host has no such remote port.
[[nodiscard]] char* vxsysfs_get_bsg_rport_path(char* path, const vxapi_priv_database* rec, const uint8_t* wwpn);

// Makes the private node of a bsg directory (one trailing "/" of bsg_dir is
// removed) and writes its path into name (name_size bytes). name stays as
// the caller left it when no node could be made; a node made is never left
// behind unnamed.
void vxsysfs_open_bsg_dev(char* bsg_dir, char* name, size_t name_size);

// ---- frames ----

// Fills the header for a host vendor command and the request's message code
// and vendor id (its other words stay as the caller zeroed them). Without a
// data-out buffer the data-in buffer is named in both directions. The
// header, or null when header or request is null (a caller that passes both
// has nothing to learn from it).
sg_io_v4* vxsysfs_create_bsg_header(sg_io_v4* hdr, fc_bsg_request* request, uint32_t request_len,
                                    fc_bsg_reply* reply, uint32_t reply_len, const void* dout, uint32_t dout_len,
                                    void* din, uint32_t din_len);

// A host CT request for the CT IU ct (ct_len bytes, the CT IU header and its
// payload): fills the request, zeroes the reply and the response (rsp_len
// bytes) and fills the header; data out is the CT IU, data in the response.
// 1 and nothing framed when an argument is missing or ct_len is under the CT
// IU header.
[[nodiscard]] int vxsysfs_create_bsg_ct_header(sg_io_v4* hdr, fc_bsg_request* request, fc_bsg_reply* reply,
                                               const void* ct, uint32_t ct_len, void* rsp, uint32_t rsp_len);

// A remote-port ELS request for els (els_len bytes: the ELS pass-through
// header, then the payload): as the CT frame, with the payload as data out.
// 1 and nothing framed when an argument is missing or no payload follows the
// header.
[[nodiscard]] int vxsysfs_create_bsg_els_header(sg_io_v4* hdr, fc_bsg_request* request, fc_bsg_reply* reply,
                                                const void* els, uint32_t els_len, void* rsp, uint32_t rsp_len);

// ---- what arrived ----

// What arrived of a job that the driver took, by the header as SG_IO left it
// (its reply the one the header names): the bytes of the reply written, at
// most max_response_len; the bytes of data in delivered, at most
// din_xfer_len and at most the reply's reply_payload_rcv_len when the reply
// was written that far. A negative din_resid counts as none.
struct VxBsgArrived {
    uint32_t reply = 0;
    uint32_t data_in = 0;
};
[[nodiscard]] VxBsgArrived vxsysfs_bsg_arrived(const sg_io_v4& hdr);

// ---- sending ----

// How a framed job is sent on its node.
struct VxBsgSend {
    // When given (the job's own reply), a successful job reports this reply's
    // vendor_rsp[0] as its status instead of 0; a reply that did not arrive
    // as far as that word fails the job with status 8.
    const fc_bsg_reply* status_reply = nullptr;
    // Resends of a job that the driver refuses as busy (EBUSY), each after a
    // wait of VX_BUSY_WAIT_SECONDS with status 2; busy_trace (when given) is
    // traced before each. The flash commands resend.
    unsigned busy_resends = 0;
    const char* busy_trace = nullptr;
    // Runs once the node is open, before the job is sent; false keeps the job
    // back (status 1).
    std::function<bool()> ready{};
    // When given, receives what arrived of a job that the driver took (left
    // as it was otherwise).
    VxBsgArrived* arrived = nullptr;
};

// One job through a private node of the bsg directory bsg_dir (modified as
// by vxsysfs_open_bsg_dev): status 9; the node made, status 1; opened
// write-only; sent; closed and unlinked whatever happened. A header that
// names no reply buffer of fc_bsg_reply size gets one for the job (and names
// none again afterwards). 0 when the driver took the job and its reply's
// result, written, is 0 (status 0 or the reply's status word); 1 otherwise,
// with status 8 when the reply did not arrive as far as the words read.
[[nodiscard]] int vxsysfs_bsg_send(char* bsg_dir, sg_io_v4* hdr, const VxBsgSend& how, uint32_t* status);

// The status of a vendor command whose SG_IO succeeded, from the reply that
// the header names as far as it arrived: its status word; 1 when its result
// says the job failed; 8 when the result or the status word was not written.
[[nodiscard]] uint32_t vxsysfs_bsg_vendor_status(const sg_io_v4& hdr);

// A host vendor command.
struct VxBsgCommand {
    uint32_t code = 0;
    // Stored from vendor_cmd word 1 on: argument words, or a record behind
    // the code.
    const void* args = nullptr;
    uint32_t args_len = 0;
    uint32_t request_len = VX_BSG_REQUEST_LEN;
    // Reply buffer length (0: none); reply_out, when given, receives the
    // reply_len bytes of the reply after the job.
    uint32_t reply_len = 0;
    void* reply_out = nullptr;
    bool status_from_reply = false;  // report vendor_rsp[0] of the reply
    const void* out = nullptr;
    uint32_t out_len = 0;
    void* in = nullptr;
    uint32_t in_len = 0;
    // What the command reads of its answer, which must have arrived: the
    // first reply_need bytes of the reply (the header and the vendor words
    // read), the first in_need bytes of data in. A command whose answer falls
    // short of either fails with status 8 (data underrun).
    uint32_t reply_need = 0;
    uint32_t in_need = 0;
    // Status when the request or reply buffer cannot be allocated.
    uint32_t no_memory_status = EXT_STATUS_NO_MEMORY;
    VxBsgSend send{};
};

// Sends a vendor command to the record's FC host: status 9; the request and
// reply allocated and zeroed (failure: the command's no-memory status,
// result 1); framed; sent as vxsysfs_bsg_send; what it reads checked
// against what arrived. 0 when the driver took it and its answer arrived as
// far as the command reads it, 1 otherwise.
[[nodiscard]] int vxsysfs_bsg_vendor_command(const vxapi_priv_database* rec, const VxBsgCommand& cmd, uint32_t* status);

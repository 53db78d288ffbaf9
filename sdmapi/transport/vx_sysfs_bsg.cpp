// bsg jobs of the FC transport: the frames, the private device nodes and the
// one send path that every bsg operation takes.
#include "transport/vx_sysfs_bsg.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/vx_layout.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_prim.h"

namespace {

// sg_io_v4 of an FC transport job.
constexpr int32_t kGuard = 'Q';
constexpr uint32_t kProtocolScsi = 0;
constexpr uint32_t kSubprotocolTransport = 2;

// The vendor id of a vendor command: type 1 (PCI) in the top byte, the
// maker's PCI vendor ID in the low 16 bits.
constexpr uint64_t kVendorIdTypePci = 1;
constexpr uint64_t kVendorId = (kVendorIdTypePci << 56) | VX_PCI_VENDOR_MAKER;

// The CT preamble's first word (revision 1), and the destination of a CT
// request behind its GS type.
constexpr uint32_t kCtPreamble0 = 0x01000000;
constexpr uint8_t kCtDestinationTail = 0xFF;

// Where the arguments of a vendor command start in its request.
constexpr size_t kVendorArgsOffset = offsetof(fc_bsg_request, rqst_data.h_vendor.vendor_cmd) + sizeof(uint32_t);

// The private node: a character device only its maker (root) may open while
// a request runs.
constexpr mode_t kNodeMode = S_IFCHR | 0600;
// The part of a bsg entry name, with its leading "/", that the node name
// leaves out: "/fc_hos" of "/fc_host5", "/rport-" of "/rport-5:0-1".
constexpr size_t kEntryPrefixLen = 7;

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }

void trace_text(const char* label, const char* text) {
    if (!vxdbg_on(VXDBG_SYSFS)) return;
    vxdbg_print(label, 0, VXDBG_NONE, 0);
    vxdbg_print(text, 0, VXDBG_NONE, 1);
}

__attribute__((format(printf, 3, 4))) bool format(char* out, size_t size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = vsnprintf(out, size, fmt, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < size;
}

// The major and minor numbers of a bsg entry from the first line of its
// "dev" file. entry: the entry name with its leading "/".
bool read_dev_number(const char* entry, dev_t* dev) {
    char path[VXSYSFS_PATH_SIZE];
    if (!format(path, sizeof path, "/sys/class/bsg%s/dev", entry)) return false;
    FILE* file = vx::sys().fopen(path, "re");
    if (file == nullptr) return false;
    char line[64];
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    int major_no = 0;
    int minor_no = 0;
    if (!read || std::sscanf(line, "%d:%d", &major_no, &minor_no) != 2 || major_no < 0 || minor_no < 0) {
        return false;
    }
    *dev = makedev(static_cast<unsigned>(major_no), static_cast<unsigned>(minor_no));
    return true;
}

// "/tmp/" + the entry name less its first seven characters + the time of
// day's seconds and microseconds in hexadecimal.
bool node_name(const char* entry, char* name, size_t size) {
    struct timeval now {};
    if (vx::sys().gettimeofday(&now) != 0) return false;
    const size_t len = std::strlen(entry);
    const char* suffix = entry + (len < kEntryPrefixLen ? len : kEntryPrefixLen);
    return format(name, size, "/tmp/%s%lx%lx", suffix, static_cast<unsigned long>(now.tv_sec),
                  static_cast<unsigned long>(now.tv_usec));
}

// The job on the open node: once ready, SG_IO, resent while the driver is
// busy and resends are left. The ioctl result.
int send_job(int fd, sg_io_v4* hdr, const VxBsgSend& how, uint32_t* status) {
    if (how.ready && !how.ready()) return -1;
    unsigned resends = 0;
    for (;;) {
        const int rc = vx::sys().ioctl(fd, SG_IO, hdr);
        if (rc == 0) return 0;
        const int err = errno;
        vxdbg_line(VXDBG_SYSFS, "> IOCTL Failed=", static_cast<uint32_t>(rc), VXDBG_INT);
        if (err == ENOSYS) *status = EXT_STATUS_NO_DRIVER_SUPPORT;
        if (err != EBUSY || resends >= how.busy_resends) return rc;
        ++resends;
        *status = EXT_STATUS_BUSY;
        if (how.busy_trace != nullptr) trace(how.busy_trace);
        vx::sys().sleep(VX_BUSY_WAIT_SECONDS);
    }
}

// Zeroed buffers of the library's own allocation; null when the allocation
// fails.
std::unique_ptr<uint8_t[]> zeroed(uint32_t len) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[len]());
}

}  // namespace

// ---------------------------------------------------------------- paths and nodes

int vxsysfs_is_bsg_supported(uint32_t host_no) {
    char path[VXSYSFS_PATH_SIZE];
    if (!format(path, sizeof path, "%.*s/%s/%s/fc_host%u/", static_cast<int>(strnlen(sysfs_mnt_path, sizeof path)),
                sysfs_mnt_path, "class", "bsg", host_no)) {
        return 1;
    }
    return vx::sys().sysfs_path_is_dir(path);
}

char* vxsysfs_get_bsg_device_path(char* path, const vxapi_priv_database* rec) {
    if (path == nullptr) return nullptr;
    path[0] = '\0';
    if (rec == nullptr) return path;
    const int n = snprintf(path, VXSYSFS_PATH_SIZE, "%.*s/%s/%s/fc_host%u/",
                           static_cast<int>(strnlen(sysfs_mnt_path, VXSYSFS_PATH_SIZE)), sysfs_mnt_path, "class",
                           "bsg", rec->host_no);
    return path + (n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), VXSYSFS_PATH_SIZE - 1));
}

char* vxsysfs_get_bsg_rport_path(char* path, const vxapi_priv_database* rec, const uint8_t* wwpn) {
    if (path == nullptr || rec == nullptr) return nullptr;
    char rport[VXSYSFS_PATH_SIZE];
    if (vxsysfs_find_rport_by_wwpn(rport, rec->host_no, wwpn) == 0) return nullptr;
    // The remote port's entry name: the last component of its directory.
    const size_t len = std::strlen(rport);
    if (len > 0 && rport[len - 1] == '/') rport[len - 1] = '\0';
    const char* slash = std::strrchr(rport, '/');
    const char* entry = slash != nullptr ? slash + 1 : rport;
    char built[VXSYSFS_PATH_SIZE];
    if (!format(built, sizeof built, "%.*s/%s/%s/%s/", static_cast<int>(strnlen(sysfs_mnt_path, sizeof built)),
                sysfs_mnt_path, "class", "bsg", entry)) {
        return nullptr;
    }
    std::memcpy(path, built, std::strlen(built) + 1);
    return path + std::strlen(path);
}

void vxsysfs_open_bsg_dev(char* bsg_dir, char* name, size_t name_size) {
    if (bsg_dir == nullptr || name == nullptr || name_size == 0) return;
    const size_t len = std::strlen(bsg_dir);
    if (len > 0 && bsg_dir[len - 1] == '/') bsg_dir[len - 1] = '\0';
    const char* entry = std::strrchr(bsg_dir, '/');
    if (entry == nullptr) return;

    dev_t dev = 0;
    char node[VXSYSFS_PATH_SIZE];
    if (!read_dev_number(entry, &dev) || !node_name(entry, node, sizeof node)) return;
    // An existing name (another request of the same microsecond) fails here.
    if (vx::sys().mknod(node, kNodeMode, dev) != 0) return;
    const size_t node_len = std::strlen(node);
    if (node_len >= name_size) {
        // The caller could never remove a node it was not told about.
        vx::sys().unlink(node);
        return;
    }
    std::memcpy(name, node, node_len + 1);
}

// ---------------------------------------------------------------- frames

namespace {

// The header fields every FC transport job sets, with the request.
void start_header(sg_io_v4* hdr, const fc_bsg_request* request, uint32_t request_len) {
    std::memset(hdr, 0, sizeof *hdr);
    hdr->guard = kGuard;
    hdr->protocol = kProtocolScsi;
    hdr->subprotocol = kSubprotocolTransport;
    hdr->request = vxapi_ptr_to_64bit(request);
    hdr->request_len = request_len;
}

// Names the reply buffer of a job.
void name_reply(sg_io_v4* hdr, const fc_bsg_reply* reply, uint32_t reply_len) {
    hdr->response = vxapi_ptr_to_64bit(reply);
    hdr->max_response_len = reply_len;
}

// A CT or ELS job: the request framed by the caller, the zeroed reply in
// which the driver reports the job's outcome, data out, the response as
// data in.
void frame_passthru(sg_io_v4* hdr, const fc_bsg_request* request, fc_bsg_reply* reply, const void* dout,
                    uint32_t dout_len, void* rsp, uint32_t rsp_len) {
    if (rsp_len != 0) std::memset(rsp, 0, rsp_len);
    std::memset(reply, 0, sizeof *reply);
    start_header(hdr, request, sizeof *request);
    name_reply(hdr, reply, sizeof *reply);
    hdr->dout_xferp = vxapi_ptr_to_64bit(dout);
    hdr->dout_xfer_len = dout_len;
    hdr->din_xferp = vxapi_ptr_to_64bit(rsp);
    hdr->din_xfer_len = rsp_len;
}

}  // namespace

sg_io_v4* vxsysfs_create_bsg_header(sg_io_v4* hdr, fc_bsg_request* request, uint32_t request_len,
                                    fc_bsg_reply* reply, uint32_t reply_len, const void* dout, uint32_t dout_len,
                                    void* din, uint32_t din_len) {
    if (hdr == nullptr || request == nullptr) return nullptr;
    request->msgcode = VX_BSG_HOST_VENDOR;
    request->rqst_data.h_vendor.vendor_id = kVendorId;

    start_header(hdr, request, request_len);
    if (reply != nullptr) name_reply(hdr, reply, reply_len);
    if (din != nullptr) {
        hdr->din_xferp = vxapi_ptr_to_64bit(din);
        hdr->din_xfer_len = din_len;
    }
    // A command that only reads names its one buffer in both directions.
    hdr->dout_xferp = vxapi_ptr_to_64bit(dout != nullptr ? dout : din);
    hdr->dout_xfer_len = dout != nullptr ? dout_len : (din != nullptr ? din_len : 0);
    return hdr;
}

int vxsysfs_create_bsg_ct_header(sg_io_v4* hdr, fc_bsg_request* request, fc_bsg_reply* reply, const void* ct,
                                 uint32_t ct_len, void* rsp, uint32_t rsp_len) {
    // The frame is built from the CT IU header: a shorter request has none.
    if (hdr == nullptr || request == nullptr || reply == nullptr || ct == nullptr || ct_len < sizeof(ct_iu_t) ||
        (rsp == nullptr && rsp_len != 0)) {
        trace("> invalid CT request");
        return 1;
    }
    ct_iu_t iu;
    std::memcpy(&iu, ct, sizeof iu);
    std::memset(request, 0, sizeof *request);
    request->msgcode = VX_BSG_HOST_CT;
    auto& frame = request->rqst_data.h_ct;
    frame.port_id[0] = iu.GsType;
    frame.port_id[1] = kCtDestinationTail;
    frame.port_id[2] = kCtDestinationTail;
    frame.preamble_word0 = kCtPreamble0;
    frame.preamble_word1 = (uint32_t{iu.GsType} << 24) | (uint32_t{iu.GsSubtype} << 16);
    frame.preamble_word2 = (uint32_t{iu.Command} << 16) | iu.Max_rsp_size;
    frame_passthru(hdr, request, reply, ct, ct_len, rsp, rsp_len);
    return 0;
}

int vxsysfs_create_bsg_els_header(sg_io_v4* hdr, fc_bsg_request* request, fc_bsg_reply* reply, const void* els,
                                  uint32_t els_len, void* rsp, uint32_t rsp_len) {
    // The ELS command code is the payload's first byte: a request that is
    // only the pass-through header has none.
    if (hdr == nullptr || request == nullptr || reply == nullptr || els == nullptr || els_len <= VX_ELS_HEADER_LEN ||
        (rsp == nullptr && rsp_len != 0)) {
        trace("> invalid ELS request");
        return 1;
    }
    const auto* payload = static_cast<const uint8_t*>(els) + VX_ELS_HEADER_LEN;
    std::memset(request, 0, sizeof *request);
    request->msgcode = VX_BSG_RPORT_ELS;
    request->rqst_data.r_els.els_code = payload[0];
    frame_passthru(hdr, request, reply, payload, els_len - VX_ELS_HEADER_LEN, rsp, rsp_len);
    return 0;
}

// ---------------------------------------------------------------- what arrived

namespace {

// Where the reply's words end: a word is read only when the reply arrived
// that far.
constexpr uint32_t kResultEnd = offsetof(fc_bsg_reply, result) + sizeof(uint32_t);
constexpr uint32_t kReceivedEnd = offsetof(fc_bsg_reply, reply_payload_rcv_len) + sizeof(uint32_t);
constexpr uint32_t kStatusEnd = offsetof(fc_bsg_reply, vendor_rsp) + sizeof(uint32_t);

const fc_bsg_reply& reply_of(const sg_io_v4& hdr) {
    return *static_cast<const fc_bsg_reply*>(vxapi_64bit_to_ptr(hdr.response));
}

// Status 8 for an answer that did not arrive as far as it is read.
int underrun(uint32_t* status, const char* what, uint32_t arrived) {
    vxdbg_line(VXDBG_SYSFS, what, arrived, VXDBG_DEC);
    *status = EXT_STATUS_DATA_UNDERRUN;
    return 1;
}

}  // namespace

VxBsgArrived vxsysfs_bsg_arrived(const sg_io_v4& hdr) {
    VxBsgArrived a;
    a.reply = hdr.response != 0 ? std::min(hdr.response_len, hdr.max_response_len) : 0;
    const uint32_t resid = hdr.din_resid > 0 ? static_cast<uint32_t>(hdr.din_resid) : 0;
    a.data_in = hdr.din_xfer_len - std::min(resid, hdr.din_xfer_len);
    if (a.reply >= kReceivedEnd) a.data_in = std::min(a.data_in, reply_of(hdr).reply_payload_rcv_len);
    return a;
}

// ---------------------------------------------------------------- sending

namespace {

// The reply of one job: the one the header names when it has fc_bsg_reply
// size, else one of this object's, named in the header while the job runs.
class JobReply {
public:
    explicit JobReply(sg_io_v4* hdr)
        : hdr_(hdr), response_(hdr->response), max_response_len_(hdr->max_response_len), reply_(&own_) {
        if (response_ != 0 && max_response_len_ >= sizeof(fc_bsg_reply)) {
            reply_ = static_cast<const fc_bsg_reply*>(vxapi_64bit_to_ptr(response_));
        } else {
            name_reply(hdr, &own_, sizeof own_);
        }
    }
    ~JobReply() {
        hdr_->response = response_;
        hdr_->max_response_len = max_response_len_;
    }
    JobReply(const JobReply&) = delete;
    JobReply& operator=(const JobReply&) = delete;
    const fc_bsg_reply& get() const { return *reply_; }

private:
    sg_io_v4* hdr_;
    uint64_t response_;
    uint32_t max_response_len_;
    fc_bsg_reply own_{};
    const fc_bsg_reply* reply_;
};

}  // namespace

int vxsysfs_bsg_send(char* bsg_dir, sg_io_v4* hdr, const VxBsgSend& how, uint32_t* status) {
    uint32_t unused;
    if (status == nullptr) status = &unused;
    *status = EXT_STATUS_DEV_NOT_FOUND;
    if (hdr == nullptr) return 1;
    char node[VXSYSFS_PATH_SIZE] = {};
    vxsysfs_open_bsg_dev(bsg_dir, node, sizeof node);
    if (node[0] == '\0') return 1;
    trace_text("> wpath==", node);

    *status = EXT_STATUS_ERR;
    int rc = -1;
    const JobReply reply(hdr);
    const int fd = vx::sys().open(node, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        trace("> Failed open");
    } else {
        rc = send_job(fd, hdr, how, status);
        vx::sys().close(fd);
    }
    vx::sys().unlink(node);
    if (rc != 0) return 1;
    const VxBsgArrived arrived = vxsysfs_bsg_arrived(*hdr);
    if (how.arrived != nullptr) *how.arrived = arrived;
    // A result that was not written says nothing of the job.
    if (arrived.reply < kResultEnd) return underrun(status, "> bsg reply bytes=", arrived.reply);
    // The driver took the job and failed it.
    if (reply.get().result != 0) {
        vxdbg_line(VXDBG_SYSFS, "> bsg reply result=", reply.get().result, VXDBG_HEX);
        return 1;
    }
    if (how.status_reply == nullptr) {
        *status = EXT_STATUS_OK;
        return 0;
    }
    if (arrived.reply < kStatusEnd) return underrun(status, "> bsg reply bytes=", arrived.reply);
    *status = how.status_reply->vendor_rsp[0];
    return 0;
}

uint32_t vxsysfs_bsg_vendor_status(const sg_io_v4& hdr) {
    const uint32_t arrived = vxsysfs_bsg_arrived(hdr).reply;
    if (arrived < kResultEnd) return EXT_STATUS_DATA_UNDERRUN;
    if (reply_of(hdr).result != 0) return EXT_STATUS_ERR;
    return arrived < kStatusEnd ? EXT_STATUS_DATA_UNDERRUN : reply_of(hdr).vendor_rsp[0];
}

int vxsysfs_bsg_vendor_command(const vxapi_priv_database* rec, const VxBsgCommand& cmd, uint32_t* status) {
    uint32_t unused;
    if (status == nullptr) status = &unused;
    *status = EXT_STATUS_DEV_NOT_FOUND;
    if (rec == nullptr || cmd.request_len < sizeof(fc_bsg_request) ||
        cmd.args_len > cmd.request_len - kVendorArgsOffset || (cmd.args == nullptr && cmd.args_len != 0) ||
        (cmd.reply_len != 0 && cmd.reply_len < sizeof(fc_bsg_reply)) ||
        cmd.reply_need > std::max<uint32_t>(cmd.reply_len, sizeof(fc_bsg_reply)) || cmd.in_need > cmd.in_len) {
        trace("> invalid parameters");
        return 1;
    }
    auto request = zeroed(cmd.request_len);
    if (request == nullptr) {
        trace("> Unable to allocate memory -- cdb");
        *status = cmd.no_memory_status;
        return 1;
    }
    std::unique_ptr<uint8_t[]> reply;
    if (cmd.reply_len != 0 && (reply = zeroed(cmd.reply_len)) == nullptr) {
        trace("> Unable to allocate memory -- reply");
        *status = cmd.no_memory_status;
        return 1;
    }
    auto* frame = reinterpret_cast<fc_bsg_request*>(request.get());
    auto* answer = reinterpret_cast<fc_bsg_reply*>(reply.get());
    sg_io_v4 hdr;
    vxsysfs_create_bsg_header(&hdr, frame, cmd.request_len, answer, cmd.reply_len, cmd.out, cmd.out_len, cmd.in,
                              cmd.in_len);
    frame->rqst_data.h_vendor.vendor_cmd[0] = cmd.code;
    if (cmd.args_len != 0) std::memcpy(request.get() + kVendorArgsOffset, cmd.args, cmd.args_len);

    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_bsg_device_path(dir, rec);
    VxBsgSend how = cmd.send;
    if (cmd.status_from_reply) how.status_reply = answer;
    VxBsgArrived arrived;
    how.arrived = &arrived;
    const int result = vxsysfs_bsg_send(dir, &hdr, how, status);
    if (cmd.reply_out != nullptr && answer != nullptr) std::memcpy(cmd.reply_out, answer, cmd.reply_len);
    // The driver's own failure stands; a success is one only when what the
    // command reads arrived.
    if (result != 0 || *status != EXT_STATUS_OK) return result;
    if (arrived.reply < cmd.reply_need) return underrun(status, "> vendor reply bytes=", arrived.reply);
    if (arrived.data_in < cmd.in_need) return underrun(status, "> vendor data in bytes=", arrived.data_in);
    return 0;
}

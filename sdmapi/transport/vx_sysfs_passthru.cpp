// Pass-through for sysfs ports: SCSI commands through SG_IO on the SCSI
// generic node of a LUN, CT and ELS requests through the bsg node cycle or
// the driver's "ct" and "els" attributes, and the target and LUN list read
// from the remote ports and SCSI devices in sysfs.
#include "transport/vx_sysfs_passthru.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "base/vx_sem.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_prim.h"
#include "transport/vx_sysfs_query.h"
#include "transport/vx_sysfs_walk.h"

using vxsysfs::EntryList;
using vxsysfs::starts_with;

namespace {

constexpr uint32_t kMaxCdbLen = 16;
constexpr uint8_t kFcCdbLen = 16;        // the WWPN form always sends 16 CDB bytes
constexpr uint8_t kMaxSenseAsked = 255;  // mx_sb_len is one byte
constexpr uint32_t kSenseDataSize = sizeof(EXT_FC_SCSI_PASSTHRU::SenseData);
constexpr unsigned kDefaultTimeoutMs = 30000;
constexpr unsigned kMsPerSecond = 1000;
constexpr size_t kLinkSize = 255;  // a generic link is read to this length
constexpr size_t kNameSize = 32;   // an entry name prefix, an sg node name

// EXT_FC_SCSI_PASSTHRU: the destination type served here and the directions.
constexpr uint16_t kDestTypeWwpn = 2;
constexpr uint8_t kDirectionIn = 1;
constexpr uint8_t kDirectionOut = 2;

// Opcodes whose command may go to the target's first LUN when LUN 0 has no
// SCSI device: TEST UNIT READY, INQUIRY, REPORT LUNS.
constexpr uint8_t kFirstLunOpcodes[] = {0x00, 0x12, 0xA0};

// The target and LUN list.
constexpr uint32_t kLunRoom = 2048;
constexpr uint32_t kLunRoomLarge = 4096;  // ports with VX_FEAT_LUN_4096
constexpr uint32_t kEntryHeadSize = sizeof(TGT_LUN_DATA_ENTRY);
constexpr uint32_t kListHeadSize = sizeof(TGT_LUN_DATA_LIST);
constexpr uint8_t kDevTypeTarget = 2;
constexpr uint8_t kLunPresent = 0x80;

// LUN address methods (top two bits of a 16-bit LUN) and their LUN bits.
constexpr uint16_t kMethodShift = 14;
constexpr uint16_t kMethodFlat = 1;
constexpr uint16_t kMethodLogicalUnit = 2;
constexpr uint16_t kFlatLunMask = 0x3FFF;
constexpr uint16_t kLogicalUnitMask = 0x1F;
constexpr uint16_t kPeripheralMask = 0xFF;
constexpr uint16_t kNoLun = 0xFFFF;  // a SCSI device name that does not parse

void trace(const char* text) { vxdbg_line(VXDBG_SYSFS, text); }

void trace_number(const char* text, uint64_t number) { vxdbg_line(VXDBG_SYSFS, text, number, VXDBG_DEC); }

void trace_text(uint32_t bits, const char* label, const char* text) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(label, 0, VXDBG_NONE, 0);
    vxdbg_print(text, 0, VXDBG_NONE, 1);
}

// A status word: the caller's, set at once.
uint32_t* start(uint32_t* status, uint32_t value) {
    if (status != nullptr) *status = value;
    return status;
}

// ---------------------------------------------------------------- SCSI generic nodes

// The last component of the link target of the SCSI device's
// "device/generic" ("sg3"); false when there is no such link.
bool read_generic_name(uint32_t host_no, uint32_t target, uint32_t lun, char* name, size_t size) {
    char device[kNameSize];
    std::snprintf(device, sizeof device, "%u:0:%u:%u/", host_no, target, lun);
    char path[VXSYSFS_PATH_SIZE];
    char* end = vxsysfs_get_scsi_dev_path(path, device);
    char link[kLinkSize + 1];
    const ssize_t n =
        vxsysfs_path_append(path, end, "device/generic") != nullptr ? vx::sys().readlink(path, link, kLinkSize) : -1;
    if (n <= 0) {
        trace_text(VXDBG_SYSFS, "> no path found, path=", path);
        return false;
    }
    link[n] = '\0';
    const char* slash = std::strrchr(link, '/');
    const char* last = slash != nullptr ? slash + 1 : link;
    return std::snprintf(name, size, "%s", last) < static_cast<int>(size) && last[0] != '\0';
}

// Opens the SCSI generic node of host:0:target:lun for a command with this
// opcode. LUN 0 without a SCSI device takes the target's first LUN for the
// commands that only ask the target about itself. The descriptor, or -1.
int open_generic(uint32_t host_no, uint32_t target, uint32_t lun, uint8_t opcode, char* name, size_t size) {
    if (!read_generic_name(host_no, target, lun, name, size)) {
        const bool asks_target =
            std::find(std::begin(kFirstLunOpcodes), std::end(kFirstLunOpcodes), opcode) != std::end(kFirstLunOpcodes);
        if (lun != 0 || !asks_target) return -1;
        lun = vxsysfs_get_first_lun(static_cast<uint16_t>(host_no), static_cast<uint16_t>(target));
        if (!read_generic_name(host_no, target, lun, name, size)) return -1;
    }
    return vxsysfs_open(name, opcode);
}

// The node, closed when it goes out of scope.
class Node {
public:
    explicit Node(int fd) : fd_(fd) {}
    ~Node() {
        if (fd_ >= 0) vx::sys().close(fd_);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    bool is_open() const { return fd_ >= 0; }
    int io(sg_io_hdr_t* hdr) const { return vx::sys().ioctl(fd_, SG_IO, hdr); }

private:
    int fd_;
};

// The data transfer of a request.
void set_data(sg_io_hdr_t* hdr, int direction, void* buffer, uint32_t length) {
    hdr->dxfer_direction = direction;
    hdr->dxferp = buffer;
    hdr->dxfer_len = buffer != nullptr ? length : 0;
    if (direction == SG_DXFER_TO_DEV) trace("> Direction==writing");
    if (direction == SG_DXFER_FROM_DEV) trace("> Direction==reading");
}

// The bytes received: the length asked less the residual.
uint32_t received(const sg_io_hdr_t& hdr) {
    const unsigned resid = hdr.resid > 0 ? static_cast<unsigned>(hdr.resid) : 0;
    return hdr.dxfer_len - std::min(resid, hdr.dxfer_len);
}

void trace_sg_error(const char* text, const char* name) {
    vxdbg_line(VXDBG_ERROR, text);
    trace_text(VXDBG_ERROR, "mapped_sg==", name);
}

// Seconds of the record's timeout in milliseconds; 0 waits the default.
unsigned timeout_ms(uint32_t seconds) {
    if (seconds == 0) return kDefaultTimeoutMs;
    const unsigned most = std::numeric_limits<unsigned>::max() / kMsPerSecond;
    return seconds > most ? std::numeric_limits<unsigned>::max() : seconds * kMsPerSecond;
}

}  // namespace

// ---------------------------------------------------------------- SCSI

int32_t vxsysfs_send_scsipt(int, vxapi_priv_database* rec, const EXT_SCSI_ADDR* addr, const uint8_t* cdb,
                            uint32_t cdb_len, const void* req_buf, uint32_t req_buf_size, void* resp_buf,
                            uint32_t* resp_buf_size, uint8_t* sense_buf, uint32_t* sense_buf_size, uint32_t* ext_stat,
                            uint8_t* scsi_stat) {
    if (start(ext_stat, EXT_STATUS_INVALID_PARAM) == nullptr) return 1;
    // Every length the request is built from must be there to be read.
    if (rec == nullptr || addr == nullptr || cdb == nullptr || scsi_stat == nullptr || sense_buf == nullptr ||
        sense_buf_size == nullptr || (req_buf == nullptr && resp_buf != nullptr && resp_buf_size == nullptr)) {
        trace("> invalid parameters");
        return 1;
    }
    if (cdb_len > kMaxCdbLen) {
        trace_number("> invalid cdb_len ", cdb_len);
        return 1;
    }
    char name[kNameSize] = {};
    const Node node(open_generic(rec->host_no, addr->Target, addr->Lun, cdb[0], name, sizeof name));
    if (!node.is_open()) return 1;

    std::memset(sense_buf, 0, *sense_buf_size);
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = static_cast<unsigned char>(cdb_len);
    hdr.mx_sb_len = static_cast<unsigned char>(std::min<uint32_t>(*sense_buf_size, kMaxSenseAsked));
    hdr.cmdp = const_cast<uint8_t*>(cdb);  // the kernel only reads it
    hdr.sbp = sense_buf;
    hdr.timeout = kDefaultTimeoutMs;
    if (req_buf != nullptr) {
        set_data(&hdr, SG_DXFER_TO_DEV, const_cast<void*>(req_buf), req_buf_size);
    } else if (resp_buf != nullptr) {
        set_data(&hdr, SG_DXFER_FROM_DEV, resp_buf, *resp_buf_size);
    } else {
        set_data(&hdr, SG_DXFER_NONE, nullptr, 0);
    }
    if (node.io(&hdr) != 0) {
        trace_sg_error("> SG_IO error", name);
        return 1;
    }

    *ext_stat = EXT_STATUS_OK;
    *scsi_stat = 0;
    if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) *resp_buf_size = received(hdr);
    *sense_buf_size = hdr.sb_len_wr;
    // The SCSI status byte itself: CHECK CONDITION is 0x02.
    if (hdr.status != 0) {
        *ext_stat = EXT_STATUS_SCSI_STATUS;
        *scsi_stat = hdr.status;
        return 0;
    }
    if (hdr.host_status != 0) {
        *ext_stat = EXT_STATUS_HOST_ERR;
        *scsi_stat = static_cast<uint8_t>(hdr.host_status);
        return 1;
    }
    if (hdr.driver_status != 0) {
        *ext_stat = EXT_STATUS_DRIVER_ERR;
        *scsi_stat = static_cast<uint8_t>(hdr.driver_status);
        return 1;
    }
    return 0;
}

namespace {

// The WWPN form's checks: the record, a CDB length of 6, 10, 12 or 16 and
// destination type 2.
bool fc_request_valid(const EXT_FC_SCSI_PASSTHRU* pt) {
    if (pt == nullptr) return false;
    const uint8_t len = pt->CdbLength;
    if (len != 6 && len != 10 && len != 12 && len != kFcCdbLen) {
        trace_number("> invalid cdb_len ", len);
        return false;
    }
    if (pt->FCScsiAddr.DestType != kDestTypeWwpn) {
        vxdbg_line(VXDBG_ERROR, "> Unsupported DestType ", pt->FCScsiAddr.DestType, VXDBG_DEC);
        return false;
    }
    return true;
}

// The SCSI target id of the host's remote port with this WWPN; false when
// there is none, its id did not come, or it has no SCSI target (a command
// must not go to some other target).
bool target_of(uint32_t host_no, const uint8_t* wwpn, uint32_t* target) {
    char rport[VXSYSFS_PATH_SIZE];
    if (vxsysfs_find_rport_by_wwpn(rport, host_no, wwpn) == 0) return false;
    uint16_t tid = 0;
    if (vxsysfs_get_rport_attributes(rport, nullptr, nullptr, nullptr, &tid) != VxAttrAnswer::Came) return false;
    if (tid == VXSYSFS_NO_TARGET_ID) return false;
    *target = tid;
    return true;
}

// The outcome of a WWPN-form command that the node took.
int fc_outcome(const sg_io_hdr_t& hdr, EXT_FC_SCSI_PASSTHRU* pt, uint32_t* ext_stat, uint32_t* detail_stat) {
    *ext_stat = EXT_STATUS_OK;
    // Every status but GOOD, whole: BUSY, RESERVATION CONFLICT and TASK SET
    // FULL are failures as much as CHECK CONDITION is.
    *detail_stat = hdr.status;
    pt->SenseLength = hdr.sb_len_wr;
    if (hdr.status != 0) {
        *ext_stat = EXT_STATUS_SCSI_STATUS;
        return 0;
    }
    if (hdr.host_status != 0) {
        *ext_stat = EXT_STATUS_HOST_ERR;
        if (hdr.resid != 0) {
            vxdbg_line(VXDBG_SYSFS, "> Setting UNDERRUN, io_hdr.resid=", static_cast<uint32_t>(hdr.resid), VXDBG_INT);
            *ext_stat = EXT_STATUS_DATA_UNDERRUN;
        }
        return 1;
    }
    if (hdr.driver_status != 0) {
        *ext_stat = EXT_STATUS_DRIVER_ERR;
        return 1;
    }
    return 0;
}

}  // namespace

int32_t vxsysfs_send_fc_scsipt(int, vxapi_priv_database* rec, void* buf, uint32_t* buf_size, EXT_FC_SCSI_PASSTHRU* pt,
                               uint32_t* ext_stat, uint32_t* detail_stat) {
    if (start(ext_stat, EXT_STATUS_INVALID_PARAM) == nullptr) return 1;
    if (rec == nullptr || detail_stat == nullptr || (buf != nullptr && buf_size == nullptr) || !fc_request_valid(pt)) {
        trace("> invalid parameters");
        return 1;
    }
    uint32_t target = 0;
    if (!target_of(rec->host_no, pt->FCScsiAddr.DestAddr.WWPN, &target)) return 1;
    char name[kNameSize] = {};
    const Node node(open_generic(rec->host_no, target, pt->FCScsiAddr.Lun, pt->Cdb[0], name, sizeof name));
    if (!node.is_open()) {
        trace("> OPEN error ");
        return 1;
    }

    // The record holds 256 sense bytes, whatever its SenseLength says.
    const uint32_t sense_room = std::min<uint32_t>(pt->SenseLength, kSenseDataSize);
    std::memset(pt->SenseData, 0, sense_room);
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = kFcCdbLen;
    hdr.mx_sb_len = static_cast<unsigned char>(std::min<uint32_t>(sense_room, kMaxSenseAsked));
    hdr.cmdp = pt->Cdb;
    hdr.sbp = pt->SenseData;
    hdr.timeout = timeout_ms(pt->Timeout);
    const int direction = pt->Direction == kDirectionOut  ? SG_DXFER_TO_DEV
                          : pt->Direction == kDirectionIn ? SG_DXFER_FROM_DEV
                                                          : SG_DXFER_NONE;
    set_data(&hdr, direction, buf, buf != nullptr ? *buf_size : 0);
    if (node.io(&hdr) != 0) {
        const int err = errno;
        const std::string line = std::string("SG_IO error: ") + std::strerror(err) + "\n";
        vx::sys().write_stderr(line.data(), line.size());
        trace_sg_error("> SG_IO error ", name);
        return 1;
    }
    if (pt->Direction == kDirectionIn && buf != nullptr) *buf_size = received(hdr);
    return fc_outcome(hdr, pt, ext_stat, detail_stat);
}

int32_t vxsysfs_send_scsi3pt(int handle, vxapi_priv_database* rec, void* buf, uint32_t* buf_size,
                             EXT_FC_SCSI_PASSTHRU* pt, uint32_t* ext_stat, uint32_t* detail_stat) {
    if (start(ext_stat, EXT_STATUS_INVALID_PARAM) == nullptr) return 1;
    if (pt == nullptr || pt->CdbLength != kFcCdbLen) return 1;
    return vxsysfs_send_fc_scsipt(handle, rec, buf, buf_size, pt, ext_stat, detail_stat);
}

// ---------------------------------------------------------------- CT and ELS

namespace {

// An LS_RJT answer as the remote port sends it: the reply code, three
// reserved bytes, then from byte 4 a reserved byte, the reason code, the
// reason explanation and the vendor code.
constexpr uint8_t kLsReject = 0x01;
constexpr size_t kLsRejectLen = 8;

// Where the CT/ELS status and the reject data of a reply end.
constexpr uint32_t kCtelsStatusEnd = offsetof(fc_bsg_reply, ctels_reply.status) + sizeof(uint32_t);
constexpr uint32_t kCtelsRejectEnd = sizeof(fc_bsg_reply);

// What the reply of a CT or ELS job that the driver took reports, read as
// far as it arrived (a status that did not: status 8); the length of the
// response, what data in received. Every status but OK fails the job
// (status 1), except an ELS that the remote port rejected: that one answers
// in the response as an LS_RJT on the wire does, with the reply's reason,
// explanation and vendor code.
uint32_t take_ctels_reply(const fc_bsg_reply& reply, const VxBsgArrived& arrived, bool els, void* resp,
                          uint32_t resp_len, uint32_t* ext_stat) {
    const fc_bsg_ctels_reply& ctels = reply.ctels_reply;
    const bool rejected = els && ctels.status == VX_CTELS_STATUS_REJECT;
    if (arrived.reply < (rejected ? kCtelsRejectEnd : kCtelsStatusEnd)) {
        vxdbg_line(VXDBG_SYSFS, "> CT/ELS reply bytes=", arrived.reply, VXDBG_DEC);
        *ext_stat = EXT_STATUS_DATA_UNDERRUN;
        return 0;
    }
    if (ctels.status == VX_CTELS_STATUS_OK) return arrived.data_in;
    if (rejected) {
        const auto& r = ctels.rjt_data;
        const uint8_t rjt[kLsRejectLen] = {kLsReject, 0, 0, 0, 0, r.reason_code, r.reason_explanation, r.vendor_unique};
        const uint32_t len = std::min<uint32_t>(resp_len, sizeof rjt);
        if (len != 0) std::memcpy(resp, rjt, len);
        return len;
    }
    vxdbg_line(VXDBG_SYSFS, "> CT/ELS reply status=", ctels.status, VXDBG_HEX);
    *ext_stat = EXT_STATUS_ERR;
    return 0;
}

// The checks of a CT or ELS request before anything is sent: a response
// length to read, and a request long enough to be framed (more than
// min_len bytes).
bool passthru_valid(const void* req_buf, uint32_t req_size, uint32_t min_len, const void* resp_buf,
                    const uint32_t* resp_size, uint32_t* ext_stat) {
    if (req_buf != nullptr && req_size > min_len && resp_size != nullptr && (resp_buf != nullptr || *resp_size == 0)) {
        return true;
    }
    *ext_stat = EXT_STATUS_INVALID_PARAM;
    trace("> invalid parameters");
    return false;
}

// The physical port whose FC host serves the port's attributes (ct, els):
// the port itself, a virtual port's parent; null for a port of another type
// or a virtual port without its parent.
const vxapi_priv_database* physical_port(const vxapi_priv_database* rec) {
    return rec->interface_type == VX_PORT_PHYSICAL  ? rec
           : rec->interface_type == VX_PORT_VIRTUAL ? rec->parent
                                                    : nullptr;
}

// The "ct" and "els" attributes of an FC host are one mailbox for every
// process on the machine: a write leaves the answer to that request, the
// next read gives it. The host's lock, shared by all processes, is held from
// the write of a request to the read of its answer, so that no other
// process's request lands in between and its answer is read as this one's.
// The set is got at the first exchange; one that the last process on the
// machine removed since is got afresh, and a set of fewer locks (made by
// another program) serves every host by its first lock.
class MailboxLock {
public:
    explicit MailboxLock(uint32_t host_no) {
        const auto wanted = static_cast<int>(host_no % VX_SEM_MAILBOX_LOCKS);
        for (int attempt = 0; attempt < 2; ++attempt) {
            int id = api_mailbox_sem_id.load();
            if (id < 0 || attempt > 0) {
                id = vxapi_sem_get_set(VX_SEM_KEY_MAILBOX, VX_SEM_MAILBOX_LOCKS, nullptr, VX_SEM_MAILBOX_LOCKS);
                api_mailbox_sem_id = id;
            }
            if (id < 0 || take(id, wanted)) return;
            if (errno != EINVAL && errno != EIDRM) return;  // the set is there: no lock to be had
        }
    }
    ~MailboxLock() {
        if (semid_ >= 0) (void)vxapi_sem_signal(semid_, semnum_);  // a set gone holds nothing
    }
    MailboxLock(const MailboxLock&) = delete;
    MailboxLock& operator=(const MailboxLock&) = delete;
    bool held() const { return semid_ >= 0; }

private:
    bool take(int id, int semnum) {
        int rc = vxapi_sem_wait(id, semnum);
        if (rc != 0 && errno == EFBIG) rc = vxapi_sem_wait(id, semnum = 0);
        if (rc != 0) return false;
        std::tie(semid_, semnum_) = std::tuple(id, semnum);
        return true;
    }
    int semid_ = -1;
    int semnum_ = 0;
};

// The request through the attribute: status 9 until it is there as a
// writable file, then 1 until the whole request was written and the answer
// read (the response length becomes the length read), then 0. A request the
// attribute took in part was not sent; an answer whose read failed is none.
void attr_passthru(const vxapi_priv_database* rec, const char* name, bool one_write, const void* req_buf,
                   uint32_t req_size, void* resp_buf, uint32_t* resp_size, uint32_t* ext_stat) {
    *ext_stat = EXT_STATUS_DEV_NOT_FOUND;
    if (*resp_size != 0) std::memset(resp_buf, 0, *resp_size);
    const vxapi_priv_database* physical = physical_port(rec);
    char path[VXSYSFS_PATH_SIZE];
    if (physical == nullptr ||
        vxsysfs_path_append(path, vxsysfs_get_device_path(path, physical), name) == nullptr) {
        return;
    }
    if (vx::sys().sysfs_path_is_file(path) != 0) {
        trace("> not file");
        return;
    }
    *ext_stat = EXT_STATUS_ERR;
    const vxsysfs::Attr attr(path);
    if (!attr.is_open()) {
        trace("> attr null");
        return;
    }
    if ((attr.get()->method & SYSFS_METHOD_STORE) == 0) {
        trace("> not writeable");
        return;
    }
    const MailboxLock lock(physical->host_no);
    if (!lock.held()) {
        trace("> mailbox lock failed");
        return;
    }
    const auto size = static_cast<int32_t>(std::min<uint32_t>(req_size, INT32_MAX));
    if (one_write) {
        const uint32_t written = vxsysfs_write_data(path, req_buf, size);
        if (written == 0xFFFFFFFF || written != req_size) {
            trace("> write failed");
            return;
        }
    } else if (req_size > INT32_MAX || vxsysfs_write_file(path, req_buf, size) != 0) {
        trace("> failed underwrite");
        return;
    }
    const auto room = static_cast<int32_t>(std::min<uint32_t>(*resp_size, INT32_MAX));
    bool failed = false;
    const int32_t residual = vxsysfs_read_file(path, resp_buf, room, &failed);
    if (failed) {
        trace("> failed read");
        return;
    }
    *resp_size = static_cast<uint32_t>(room - residual);
    trace_number("> rsp buf size==", *resp_size);
    *ext_stat = EXT_STATUS_OK;
}

}  // namespace

int32_t vxsysfs_send_bsg_ct_passthru(int, vxapi_priv_database* rec, const void* req_buf, uint32_t req_size,
                                     void* resp_buf, uint32_t* resp_size, uint32_t* ext_stat) {
    if (start(ext_stat, EXT_STATUS_DEV_NOT_FOUND) == nullptr) return 1;
    if (rec == nullptr || !passthru_valid(req_buf, req_size, sizeof(ct_iu_t) - 1, resp_buf, resp_size, ext_stat)) {
        return 1;
    }
    fc_bsg_request request;
    fc_bsg_reply reply;
    sg_io_v4 hdr;
    // The checks above leave the frame nothing to refuse; should it refuse,
    // nothing is sent on an unframed header.
    if (vxsysfs_create_bsg_ct_header(&hdr, &request, &reply, req_buf, req_size, resp_buf, *resp_size) != 0) {
        return 0;
    }
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_bsg_device_path(dir, rec);
    VxBsgArrived arrived;
    VxBsgSend how;
    how.arrived = &arrived;
    if (vxsysfs_bsg_send(dir, &hdr, how, ext_stat) == 0) {
        *resp_size = take_ctels_reply(reply, arrived, false, resp_buf, *resp_size, ext_stat);
    }
    return 0;
}

int32_t vxsysfs_send_ct_passthru(int handle, vxapi_priv_database* rec, const void* req_buf, uint32_t req_size,
                                 void* resp_buf, uint32_t* resp_size, uint32_t* ext_stat) {
    if (start(ext_stat, EXT_STATUS_DEV_NOT_FOUND) == nullptr) return 1;
    if (rec == nullptr || !passthru_valid(req_buf, req_size, sizeof(ct_iu_t) - 1, resp_buf, resp_size, ext_stat)) {
        return 1;
    }
    if ((rec->features & VX_FEAT_BSG) != 0) {
        return vxsysfs_send_bsg_ct_passthru(handle, rec, req_buf, req_size, resp_buf, resp_size, ext_stat);
    }
    attr_passthru(rec, "ct", false, req_buf, req_size, resp_buf, resp_size, ext_stat);
    return 0;
}

int32_t vxsysfs_send_bsg_els_passthru(int, vxapi_priv_database* rec, const void* req_buf, uint32_t req_size,
                                      void* resp_buf, uint32_t* resp_size, uint32_t* ext_stat) {
    if (start(ext_stat, EXT_STATUS_DEV_NOT_FOUND) == nullptr) return 1;
    if (rec == nullptr || !passthru_valid(req_buf, req_size, VX_ELS_HEADER_LEN, resp_buf, resp_size, ext_stat)) {
        return 1;
    }
    const auto* els = static_cast<const EXT_ELS_PT_REQ*>(req_buf);
    char dir[VXSYSFS_PATH_SIZE];
    char rport[VXSYSFS_PATH_SIZE];
    if (vxsysfs_get_bsg_rport_path(dir, rec, els->WWPN) == nullptr ||
        vxsysfs_find_rport_by_wwpn(rport, rec->host_no, els->WWPN) == 0) {
        return 0;
    }
    fc_bsg_request request;
    fc_bsg_reply reply;
    sg_io_v4 hdr;
    // As for CT: never refused after the checks above, and never sent unframed.
    if (vxsysfs_create_bsg_els_header(&hdr, &request, &reply, req_buf, req_size, resp_buf, *resp_size) != 0) {
        return 0;
    }
    VxBsgSend how;
    // A remote port that is not online would take the job only to fail it.
    how.ready = [&rport] {
        if (vxsysfs_is_rport_online(rport)) return true;
        trace_text(VXDBG_SYSFS, "> Port not online, rport==", rport);
        return false;
    };
    VxBsgArrived arrived;
    how.arrived = &arrived;
    if (vxsysfs_bsg_send(dir, &hdr, how, ext_stat) == 0) {
        *resp_size = take_ctels_reply(reply, arrived, true, resp_buf, *resp_size, ext_stat);
    }
    return 0;
}

int32_t vxsysfs_send_els_passthru(int handle, vxapi_priv_database* rec, const void* req_buf, uint32_t req_size,
                                  void* resp_buf, uint32_t* resp_size, uint32_t* ext_stat) {
    if (start(ext_stat, EXT_STATUS_DEV_NOT_FOUND) == nullptr) return 1;
    if (rec == nullptr || !passthru_valid(req_buf, req_size, VX_ELS_HEADER_LEN, resp_buf, resp_size, ext_stat)) {
        return 1;
    }
    if ((rec->features & VX_FEAT_BSG) != 0) {
        return vxsysfs_send_bsg_els_passthru(handle, rec, req_buf, req_size, resp_buf, resp_size, ext_stat);
    }
    attr_passthru(rec, "els", true, req_buf, req_size, resp_buf, resp_size, ext_stat);
    return 0;
}

// ---------------------------------------------------------------- targets and LUNs

namespace {

// A LUN number by its address method: flat space keeps 14 bits, the
// logical-unit method 5, the peripheral method 8.
uint32_t decode_lun(uint16_t lun) {
    switch (lun >> kMethodShift) {
        case kMethodFlat:
            return lun & kFlatLunMask;
        case kMethodLogicalUnit:
            return lun & kLogicalUnitMask;
        default:
            return lun & kPeripheralMask;
    }
}

}  // namespace

void vxsysfs_count_luns(uint32_t host_no, uint32_t target_id, TGT_LUN_DATA_ENTRY* entry, uint32_t lun_room) {
    if (entry == nullptr) return;
    entry->LunCount = 0;
    uint8_t* data = vx_lun_data(entry);
    char prefix[kNameSize];
    std::snprintf(prefix, sizeof prefix, "%u:0:%u:", host_no, target_id);
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_scsi_dev_path(dir, nullptr);
    EntryList list(dir);
    list.each([&](const char* name) {
        const uint16_t raw = starts_with(name, prefix) ? vxsysfs_get_lun_no(name) : kNoLun;
        const uint32_t lun = decode_lun(raw);
        if (raw != kNoLun && lun < lun_room) {
            data[lun] |= kLunPresent;
            ++entry->LunCount;
        }
        return true;
    });
}

namespace {

// Fills the entry of one remote port (its directory path rpath): what
// became of its names, id and target id; the rest is filled only when they
// came. *bound: the port has a SCSI target (one without has no LUNs, and its
// id, kept in 8 bits, would name another target): only then is it listed.
VxAttrAnswer fill_entry(uint32_t host_no, const char* rpath, TGT_LUN_DATA_ENTRY* entry, uint32_t lun_room,
                        bool* bound) {
    std::memset(entry, 0, kEntryHeadSize + lun_room);
    uint16_t tid = 0;
    const VxAttrAnswer answer = vxsysfs_get_rport_attributes(rpath, entry->NodeName, entry->PortName, entry->PortId, &tid);
    *bound = answer == VxAttrAnswer::Came && tid != VXSYSFS_NO_TARGET_ID;
    if (!*bound) {
        std::memset(entry, 0, kEntryHeadSize + lun_room);
        return answer;
    }
    // The record keeps 8 bits of the target id; its LUNs are counted by all of it.
    entry->TargetId = static_cast<uint8_t>(tid);
    entry->BusNumber = 0;
    entry->DevType = kDevTypeTarget;
    vxsysfs_count_luns(host_no, tid, entry, lun_room);
    return answer;
}

}  // namespace

int32_t vxsysfs_get_tgt_lun_data_list(int, vxapi_priv_database* rec, TGT_LUN_DATA_LIST* list, uint32_t list_size,
                                      uint32_t* ext_stat) {
    if (start(ext_stat, EXT_STATUS_INVALID_PARAM) == nullptr || rec == nullptr || list == nullptr) return 1;
    const uint32_t lun_room = (rec->features & VX_FEAT_LUN_4096) != 0 ? kLunRoomLarge : kLunRoom;
    const uint32_t entry_size = kEntryHeadSize + lun_room;
    trace_number("Lun count = ", lun_room);
    trace_number("data entry size = ", entry_size);
    // A list without room for one entry is not written at all.
    if (list_size < kListHeadSize + entry_size) return 1;
    list->EntryCount = 0;
    uint32_t room = list_size - kListHeadSize;

    *ext_stat = EXT_STATUS_DEV_NOT_FOUND;
    char dir[VXSYSFS_PATH_SIZE];
    vxsysfs_get_fc_rport_path(dir, nullptr);
    EntryList rports(dir);
    if (!rports.is_open()) return 1;
    char prefix[kNameSize];
    std::snprintf(prefix, sizeof prefix, "%s-%u:", "rport", rec->host_no);
    auto* at = reinterpret_cast<uint8_t*>(vx_first_entry(list));
    VxAttrAnswer answer = VxAttrAnswer::Came;
    rports.each([&](const char* name) {
        char rpath[VXSYSFS_PATH_SIZE];
        if (!starts_with(name, prefix)) return true;
        vxsysfs_get_fc_rport_path(rpath, name);
        // A port whose state or roles could not be read fails the list.
        const bool listed = vxsysfs_is_online_target(rpath, &answer);
        if (answer != VxAttrAnswer::Came) return false;
        if (!listed) return true;
        bool bound = false;
        answer = fill_entry(rec->host_no, rpath, reinterpret_cast<TGT_LUN_DATA_ENTRY*>(at), lun_room, &bound);
        if (answer != VxAttrAnswer::Came) return false;
        if (!bound) return true;
        at += entry_size;
        room -= entry_size;
        ++list->EntryCount;
        *ext_stat = EXT_STATUS_OK;
        return room >= entry_size;
    });
    // A target whose state, roles, names or ids did not come fails the list.
    if (answer != VxAttrAnswer::Came) {
        list->EntryCount = 0;
        *ext_stat = vxsysfs_answer_status(answer);
        return 1;
    }
    return list->EntryCount != 0 ? 0 : 1;
}

#include "sim_bsg.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim_passthru.h"

namespace sim {
namespace {

constexpr uint32_t kHostVendor = 0x800000FF;
constexpr uint32_t kHostCt = 0x80000004;
constexpr uint32_t kRportEls = 0x40000001;
constexpr size_t kVendorCodeOffset = 12;

// fc_bsg_reply: result, bytes of response payload received, then the
// CT/ELS status and reject data; 16 bytes.
constexpr size_t kReplyLen = 16;
constexpr size_t kReplyPayloadLenAt = 4;
constexpr size_t kReplyStatusAt = 8;
constexpr size_t kReplyRejectAt = 12;

const uint8_t* at(uint64_t address) { return reinterpret_cast<const uint8_t*>(address); }

}  // namespace

void SimBsg::attach(SimHost& host, const SysfsFabric& fabric, unsigned major) {
    for (const auto& [name, dev] : fabric.bsg_devs) entries_[dev] = name;
    host.register_device(major, this);
}

int SimBsg::ioctl(dev_t rdev, unsigned long code, void* arg) {
    auto* hdr = static_cast<sg_io_v4*>(arg);
    if (code != SG_IO || hdr->guard != 'Q' || hdr->protocol != BSG_PROTOCOL_SCSI ||
        hdr->subprotocol != BSG_SUB_PROTOCOL_SCSI_TRANSPORT || hdr->request_len < sizeof(uint32_t)) {
        return EINVAL;
    }
    BsgJob job;
    job.entry = entries_[rdev];
    job.hdr = *hdr;
    job.request.assign(at(hdr->request), at(hdr->request) + hdr->request_len);
    if (hdr->dout_xferp != 0) job.dout.assign(at(hdr->dout_xferp), at(hdr->dout_xferp) + hdr->dout_xfer_len);
    // The driver's own buffers: data in as the caller's, the reply zeroed.
    std::vector<uint8_t> din, reply(hdr->response != 0 ? hdr->max_response_len : 0);
    if (hdr->din_xferp != 0) din.assign(at(hdr->din_xferp), at(hdr->din_xferp) + hdr->din_xfer_len);
    job.din = hdr->din_xferp != 0 ? din.data() : nullptr;
    job.reply = hdr->response != 0 ? reply.data() : nullptr;
    std::memcpy(&job.msgcode, job.request.data(), sizeof job.msgcode);
    if (job.msgcode == kHostVendor && job.request.size() >= kVendorCodeOffset + sizeof job.code) {
        std::memcpy(&job.code, job.request.data() + kVendorCodeOffset, sizeof job.code);
    }
    int err = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (hdr->response == 0 || hdr->max_response_len < kReplyLen) {
            ++unreplied;
            err = EINVAL;
        } else if (!errnos.empty()) {
            err = errnos.front();
            errnos.pop_front();
        }
    }
    if (err == 0) err = answer(job);  // handlers of jobs from many threads keep their own order
    hdr->din_resid = job.hdr.din_resid;
    hdr->dout_resid = job.hdr.dout_resid;
    hdr->response_len = 0;
    if (err == 0) {
        // What the kernel hands back and reports: the bytes delivered of data in and of the reply.
        const BsgShort cut = next_short();
        const uint32_t len = hdr->din_xfer_len;
        const uint32_t delivered = std::min(len - std::min(len, static_cast<uint32_t>(std::max(job.hdr.din_resid, 0))),
                                            cut.data_in);
        report(job, cut.received_tells ? delivered : len);
        if (delivered != 0) std::memcpy(reinterpret_cast<uint8_t*>(hdr->din_xferp), din.data(), delivered);
        hdr->din_resid = static_cast<int32_t>(cut.resid_tells ? len - delivered : 0);
        hdr->response_len = std::min<uint32_t>(hdr->max_response_len, cut.reply);
        std::memcpy(reinterpret_cast<uint8_t*>(hdr->response), reply.data(), hdr->response_len);
    }
    job.din = job.reply = nullptr;  // the driver's buffers end with the job
    std::lock_guard<std::mutex> lock(mu_);
    log.push_back(job);
    return err;
}

BsgShort SimBsg::next_short() {
    std::lock_guard<std::mutex> lock(mu_);
    if (shorts.empty()) return {};
    const BsgShort cut = shorts.front();
    shorts.pop_front();
    return cut;
}

int SimBsg::answer(BsgJob& job) {
    const bool rport = job.entry.rfind("rport-", 0) == 0;
    if (job.msgcode == kHostVendor && !rport) {
        auto handler = vendor.find(job.code);
        return handler != vendor.end() ? handler->second(job) : ENOSYS;
    }
    if (job.msgcode == kHostCt && !rport) return ct ? ct(job) : ENOSYS;
    if (job.msgcode == kRportEls && rport) return els ? els(job) : ENOSYS;
    return EINVAL;
}

void SimBsg::report(BsgJob& job, uint32_t received) {
    BsgReply r;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!replies.empty()) {
            r = replies.front();
            replies.pop_front();
        }
    }
    std::memcpy(job.reply, &r.result, sizeof r.result);
    std::memcpy(job.reply + kReplyPayloadLenAt, &received, sizeof received);
    if (job.msgcode == kHostVendor) return;  // the rest is the vendor command's own
    std::memcpy(job.reply + kReplyStatusAt, &r.status, sizeof r.status);
    std::memcpy(job.reply + kReplyRejectAt, r.rjt.data(), r.rjt.size());
}

int SimSg::open(dev_t rdev, int flags) {
    opens.emplace_back(minor(rdev), flags);
    return 0;
}

int SimSg::ioctl(dev_t rdev, unsigned long code, void* arg) {
    auto* io = static_cast<sg_io_hdr_t*>(arg);
    if (code != SG_IO || io->interface_id != 'S') return EINVAL;
    log.push_back(*io);
    const auto* cdb = static_cast<const uint8_t*>(io->cmdp);
    const auto* data = static_cast<const uint8_t*>(io->dxferp);
    const std::vector<uint8_t> dout(data, data + (io->dxfer_direction == SG_DXFER_TO_DEV ? io->dxfer_len : 0));
    const size_t room = io->dxfer_direction == SG_DXFER_FROM_DEV ? io->dxfer_len : 0;
    const auto lun = luns.find(minor(rdev));
    const ScsiAnswer a = lun == luns.end()
                             ? ScsiAnswer{}
                             : lun->second.first->execute(lun->second.second, {cdb, cdb + io->cmd_len}, dout, room);
    io->status = a.status;
    io->masked_status = a.masked_status();
    io->host_status = a.host_status;
    io->driver_status = a.driver_status;
    io->resid = std::max(a.resid, 0);  // the kernel never reports more than was asked
    io->sb_len_wr = static_cast<unsigned char>(std::min<size_t>(a.sense.size(), io->mx_sb_len));
    if (io->sb_len_wr != 0) std::memcpy(io->sbp, a.sense.data(), io->sb_len_wr);
    if (io->dxfer_direction == SG_DXFER_FROM_DEV && !a.data.empty()) {
        std::memcpy(io->dxferp, a.data.data(), std::min<size_t>(a.data.size(), io->dxfer_len));
    }
    return 0;
}

void serve_fabric(const SanFabric& fabric, SimBsg& bsg, SimHost& host, const std::string& host_dir) {
    const auto answer = [&fabric](bool ct, const Bytes& request) {
        return ct ? fabric.ct(request) : fabric.els(request);
    };
    for (const bool ct : {true, false}) {
        (ct ? bsg.ct : bsg.els) = [answer, ct](BsgJob& job) {
            const Bytes a = answer(ct, job.dout);
            const auto n = static_cast<uint32_t>(std::min<size_t>(a.size(), job.hdr.din_xfer_len));
            if (n != 0) std::memcpy(job.din, a.data(), n);
            job.hdr.din_resid = static_cast<int32_t>(job.hdr.din_xfer_len - n);  // an answer shorter than the room
            return 0;
        };
        const auto attr = request_attr([answer, ct](const std::string& r) {
            const Bytes a = answer(ct, Bytes(r.begin() + (ct ? 0 : std::min<long>(32, r.size())), r.end()));
            return std::string(a.begin(), a.end());
        });
        host.set_attr(host_dir + (ct ? "/ct" : "/els"), attr, 0600);
    }
}

}  // namespace sim

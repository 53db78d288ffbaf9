#include "sim_bsg.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {
namespace {

constexpr uint32_t kHostVendor = 0x800000FF;
constexpr uint32_t kHostCt = 0x80000004;
constexpr uint32_t kRportEls = 0x40000001;
constexpr size_t kVendorCodeOffset = 12;

const uint8_t* at(uint64_t address) { return reinterpret_cast<const uint8_t*>(address); }

}  // namespace

void SimBsg::attach(SimHost& host, const SysfsFabric& fabric, unsigned major) {
    for (const auto& [name, dev] : fabric.bsg_devs) entries_[dev] = name;
    host.register_device(major, this);
}

int SimBsg::ioctl(dev_t rdev, unsigned long code, void* arg) {
    const auto* hdr = static_cast<const sg_io_v4*>(arg);
    if (code != SG_IO || hdr->guard != 'Q' || hdr->protocol != BSG_PROTOCOL_SCSI ||
        hdr->subprotocol != BSG_SUB_PROTOCOL_SCSI_TRANSPORT || hdr->request_len < sizeof(uint32_t)) {
        return EINVAL;
    }
    BsgJob job;
    job.entry = entries_[rdev];
    job.hdr = *hdr;
    job.request.assign(at(hdr->request), at(hdr->request) + hdr->request_len);
    if (hdr->dout_xferp != 0) job.dout.assign(at(hdr->dout_xferp), at(hdr->dout_xferp) + hdr->dout_xfer_len);
    job.din = reinterpret_cast<uint8_t*>(hdr->din_xferp);
    job.reply = reinterpret_cast<uint8_t*>(hdr->response);
    std::memcpy(&job.msgcode, job.request.data(), sizeof job.msgcode);
    if (job.msgcode == kHostVendor && job.request.size() >= kVendorCodeOffset + sizeof job.code) {
        std::memcpy(&job.code, job.request.data() + kVendorCodeOffset, sizeof job.code);
    }
    int err = 0;
    if (!errnos.empty()) {
        err = errnos.front();
        errnos.pop_front();
    }
    if (err == 0) err = answer(job);
    log.push_back(job);
    return err;
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

int SimSg::open(dev_t rdev, int flags) {
    opens.emplace_back(minor(rdev), flags);
    return 0;
}

int SimSg::ioctl(dev_t rdev, unsigned long code, void* arg) {
    auto* io = static_cast<sg_io_hdr_t*>(arg);
    if (code != SG_IO || io->interface_id != 'S') return EINVAL;
    const auto* cdb = static_cast<const uint8_t*>(io->cmdp);
    const SgAnswer a = target ? target(minor(rdev), std::vector<uint8_t>(cdb, cdb + io->cmd_len)) : SgAnswer{};
    if (a.err != 0) return a.err;
    io->status = a.status;
    io->masked_status = a.masked_status;
    io->host_status = a.host_status;
    io->driver_status = a.driver_status;
    io->resid = a.resid;
    io->sb_len_wr = static_cast<unsigned char>(std::min<size_t>(a.sense.size(), io->mx_sb_len));
    if (io->sb_len_wr != 0) std::memcpy(io->sbp, a.sense.data(), io->sb_len_wr);
    if (io->dxfer_direction == SG_DXFER_FROM_DEV && !a.data.empty()) {
        std::memcpy(io->dxferp, a.data.data(), std::min<size_t>(a.data.size(), io->dxfer_len));
    }
    return 0;
}

}  // namespace sim

// The FC bsg device behind the nodes the library makes from the bsg "dev"
// files, and the SCSI generic targets behind /dev/sg<N>.
#pragma once

#include <linux/bsg.h>
#include <scsi/sg.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim_scsi_target.h"
#include "sim_sysfs_adapters.h"

namespace sim {

struct SanFabric;

// One job as the FC bsg device took it. A handler writes the driver's
// answer into din and reply, the driver's own buffers: the kernel hands the
// caller the bytes delivered of data in (din_xfer_len less the handler's
// din_resid) and of the reply (all of max_response_len), and reports them in
// din_resid, response_len and the reply's reply_payload_rcv_len.
struct BsgJob {
    std::string entry;  // the bsg entry of the node: "fc_host5", "rport-5:0-1"
    sg_io_v4 hdr;  // a handler's din_resid and dout_resid go back to the caller
    uint32_t msgcode = 0;
    uint32_t code = 0;          // vendor_cmd word 0 of a vendor command
    std::vector<uint8_t> request, dout;
    uint8_t* din = nullptr;     // din_xfer_len bytes (the caller's on entry), while the job runs
    uint8_t* reply = nullptr;   // max_response_len zeroed bytes, while the job runs
};

// A driver that answers a job short: it delivers at most `data_in` bytes of
// data in and writes at most `reply` bytes of the reply (response_len).
// A length that does not tell reports the whole transfer as delivered
// (din_resid 0, or reply_payload_rcv_len din_xfer_len) whatever came.
struct BsgShort {
    uint32_t reply = UINT32_MAX;
    uint32_t data_in = UINT32_MAX;
    bool resid_tells = true;
    bool received_tells = true;
};

// What the driver reports in the reply of a job that it answered: the
// result (every job) and, for a CT or ELS job, the CT/ELS status (0 OK,
// 1 REJECT, 2 P_RJT, 3 F_RJT, 4 P_BSY, 6 F_BSY) with the reject data
// (action, reason code, explanation, vendor code).
struct BsgReply {
    uint32_t result = 0;
    uint32_t status = 0;
    std::array<uint8_t, 4> rjt{};
};

// Decodes sg_io_v4 and fc_bsg_request and answers vendor commands from a
// table by code (others fail with ENOSYS), CT requests through an FC host
// and ELS requests to a remote port. The driver reports every job's outcome
// in its reply, so a job that names no reply buffer of fc_bsg_reply size
// (16 bytes) is refused (EINVAL) and counted in `unreplied`: every test that
// takes a bsg road checks that the library names one. Declared before the
// host it attaches to.
class SimBsg final : public SimDevice {
public:
    using Handler = std::function<int(BsgJob& job)>;  // 0, or the errno of the SG_IO
    // Takes the fabric's bsg nodes (major: the setup's bsg_major).
    void attach(SimHost& host, const SysfsFabric& fabric, unsigned major = 250);
    int ioctl(dev_t rdev, unsigned long code, void* arg) override;

    std::map<uint32_t, Handler> vendor;
    Handler ct, els;
    std::deque<int> errnos;  // the next jobs fail with these, one each (0: answered)
    std::deque<BsgReply> replies;  // the next answered jobs report these, one each (none: result 0, status OK)
    std::deque<BsgShort> shorts;   // the next answered jobs deliver at most these, one each (none: all)
    std::vector<BsgJob> log;
    unsigned unreplied = 0;

private:
    int answer(BsgJob& job);
    void report(BsgJob& job, uint32_t delivered);
    BsgShort next_short();
    std::map<dev_t, std::string> entries_;
    std::mutex mu_;  // errnos, replies, shorts, unreplied and log, for jobs sent from many threads
};

// The SCSI generic nodes /dev/sg<N> (major 21): sg<N> is a LUN of a target
// model; a node without one answers GOOD without data. Declared before the
// host it attaches to.
class SimSg final : public SimDevice {
public:
    void attach(SimHost& host) { host.register_device(kSgMajor, this); }
    int open(dev_t rdev, int flags) override;
    int ioctl(dev_t rdev, unsigned long code, void* arg) override;

    std::map<unsigned, std::pair<ScsiTarget*, uint32_t>> luns;  // by N: the target and the LUN
    std::vector<std::pair<unsigned, int>> opens;  // (N, open flags)
    std::vector<sg_io_hdr_t> log;                 // every SG_IO as taken
};

// The fabric on the sysfs roads: its CT and ELS answers to the bsg jobs
// (into data in) and through the driver's "ct" and "els" attributes of a
// host directory (the ELS ones with their 32-byte pass-through head). The
// fabric outlives the host.
void serve_fabric(const SanFabric& fabric, SimBsg& bsg, SimHost& host, const std::string& host_dir);

}  // namespace sim

// The driver's diagnostic vendor commands on the bsg device (FRU 11 to 13, NPIV QoS 14 and 15, SerDes registers 19
// and 20, flash capabilities 21 and 22): data in is each byte of data out plus one, and a reply
// carries `status` in its first vendor word.
#pragma once
#include <cstring>
#include <map>
#include <mutex>

#include "sim_bsg.h"
#include "sim_host.h"

namespace sim {
struct SimDiagBsg {
    uint32_t status = 0;
    void serve(SimBsg& bsg) {
        for (uint32_t code : {11, 12, 13, 14, 15, 19, 20, 21, 22}) bsg.vendor[code] = [this](BsgJob& j) { return answer(j); };
    }
    int answer(BsgJob& job) const {
        for (uint32_t i = 0; i < job.hdr.din_xfer_len; ++i) job.din[i] = job.dout[i] + 1;
        if (job.hdr.max_response_len >= 12) std::memcpy(job.reply + 8, &status, sizeof status);
        return 0;
    }
};

// The driver's "fw_dump": writing "1" enables the dump, reads give it while enabled, writing "0" clears it. Step
// `failing` (1 enable, 2 read, 3 clear) fails with EIO; log: each step as taken.
struct SimFwDump {
    std::string dump;
    bool enabled = false;
    int failing = 0;
    std::vector<std::string> log;
    SimHost::Attr attr() {
        return {[this](size_t pos, std::string& out) {
                    if (pos == 0) log.push_back("read");
                    if (failing == 2) return EIO;
                    out = enabled ? dump.substr(std::min(pos, dump.size())) : "";
                    return 0;
                },
                [this](size_t, const std::string& data) {
                    const bool on = data.compare(0, 2, std::string("1", 2)) == 0;
                    log.push_back(on ? "enable" : "clear");
                    if (failing == (on ? 1 : 3)) return EIO;
                    enabled = on;
                    if (!on) dump.clear();
                    return 0;
                }};
    }
};

// Diagnostic I/O (code 10) from many threads: data in := data out and status 0, unless the step of (stream, its
// k-th job from 1) says otherwise; `gate` runs before each answer, outside the lock (to order streams).
struct SimDiagIo {
    struct Step {
        uint32_t status = 0;
        int err = 0;
        bool corrupt = false, drop = false;  // data in: first byte flipped; not written
    };
    std::map<std::pair<uint32_t, uint32_t>, Step> steps;
    std::function<void(uint32_t stream, uint32_t k)> gate;
    std::map<uint32_t, uint32_t> jobs;  // per stream
    std::mutex mu;
    void serve(SimBsg& bsg) { bsg.vendor[10] = [this](BsgJob& j) { return answer(j); }; }
    int answer(BsgJob& job) {
        uint32_t stream = 0, k = 0;
        std::memcpy(&stream, job.request.data() + 16, sizeof stream);
        Step step;
        {
            std::lock_guard<std::mutex> lock(mu);
            k = ++jobs[stream];
            if (auto it = steps.find({stream, k}); it != steps.end()) step = it->second;
        }
        if (gate) gate(stream, k);
        if (step.err != 0) return step.err;
        if (!step.drop) std::memcpy(job.din, job.dout.data(), job.dout.size());
        if (step.corrupt) job.din[0] ^= 0xFF;
        std::memcpy(job.reply + 8, &step.status, sizeof step.status);
        return 0;
    }
};
}  // namespace sim

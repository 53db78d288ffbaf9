#include "sim_sysfs_flash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/vx_shared.h"

namespace sim {

void serve_bsg_flash(SimBsg& bsg, std::shared_ptr<FlashWindow> w) {
    for (const uint32_t code : {7u, 8u}) {
        bsg.vendor[code] = [w, code](BsgJob& job) {
            uint32_t at = 0;
            std::memcpy(&at, job.request.data() + 16, sizeof at);
            const size_t len = code == 7 ? job.hdr.din_xfer_len : job.dout.size();
            const size_t offset = std::min<size_t>(at, w->flash->size());
            const size_t within = std::min(len, w->flash->size() - offset);
            char text[40];
            std::snprintf(text, sizeof text, "bsg%u %x:%zx", code, at, len);
            w->controls.push_back(text);
            if (code == 8 && within != len) return EINVAL;
            if (code == 8) std::copy(job.dout.begin(), job.dout.end(), w->flash->begin() + static_cast<long>(at));
            if (code == 7) std::copy_n(w->flash->begin() + static_cast<long>(offset), within, job.din);
            job.hdr.din_resid = static_cast<int32_t>(code == 7 ? len - within : 0);
            return 0;
        };
    }
}

void log_flash_lock(SimHost& host, std::shared_ptr<FlashWindow> w) {
    host.on_event([w](const std::string& event) {
        const std::string lock = "semop " + std::to_string(api_flash_sem_id) + " ";
        if (event.rfind("sleep", 0) == 0) w->controls.push_back(event);
        if (event == lock + "-1") w->controls.push_back("lock");
        if (event == lock + "1") w->controls.push_back("unlock");
    });
}

}  // namespace sim

// The flash of sysfs-mode adapters beyond their windows (sim_sysfs_adapters.h).
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/life/vx_shared.h"
#include "sim_bsg.h"

namespace sim {

// Attaches bsg to the fabric's nodes. Vendor command 7 of fc_host<N> copies
// flash of host N's window from vendor_cmd[1] into data in (past the flash's
// end: what lies within, the rest as din_resid), 8 writes data out there
// (past the end: EINVAL); each job goes to the window's controls as
// "bsg<code> <offset>:<length>" (hexadecimal). Every window's controls also
// get "lock" and "unlock" when the flash lock is taken and given back, and
// "sleep <s>" for each sleep of the test's own thread.
inline void serve_flash(SimHost& host, SimBsg& bsg, const SysfsFabric& fabric) {
    bsg.attach(host, fabric);
    const auto windows = fabric.windows;
    for (const uint32_t code : {7u, 8u}) {
        bsg.vendor[code] = [windows, code](BsgJob& job) {
            FlashWindow& w = *windows.at(static_cast<unsigned>(std::stoul(job.entry.substr(7))));
            uint32_t at = 0;
            std::memcpy(&at, job.request.data() + 16, sizeof at);
            const size_t len = code == 7 ? job.hdr.din_xfer_len : job.dout.size();
            const size_t within = std::min(len, w.flash->size() - std::min<size_t>(at, w.flash->size()));
            char text[40];
            std::snprintf(text, sizeof text, "bsg%u %x:%zx", code, at, len);
            w.controls.push_back(text);
            if (code == 8 && within != len) return EINVAL;
            if (code == 8) std::copy(job.dout.begin(), job.dout.end(), w.flash->begin() + at);
            if (code == 7) std::copy_n(w.flash->begin() + std::min<size_t>(at, w.flash->size()), within, job.din);
            job.hdr.din_resid = static_cast<int32_t>(code == 7 ? len - within : 0);
            return 0;
        };
    }
    host.on_event([windows, self = std::this_thread::get_id()](const std::string& event) {
        const std::string lock = "semop " + std::to_string(api_flash_sem_id) + " ";
        const char* entry = event.rfind("sleep", 0) == 0 ? event.c_str()
                            : event == lock + "-1"         ? "lock"
                            : event == lock + "1"          ? "unlock"
                                                           : nullptr;
        for (const auto& [host_no, w] : windows) {
            if (entry != nullptr && std::this_thread::get_id() == self) w->controls.push_back(entry);
        }
    });
}

}  // namespace sim

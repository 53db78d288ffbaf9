// The flash of sysfs-mode adapters beyond the window (sim_sysfs_adapters.h):
// bsg vendor commands 7 and 8 on the window's flash bytes, and the flash
// lock and sleeps in the window's log of control words.
#pragma once

#include <memory>

#include "sim_bsg.h"

namespace sim {

// Command 7 copies flash from vendor_cmd[1] into data in (a span past the
// flash's end: the part within it, the rest as din_resid); 8 writes data out
// there (past the end: EINVAL). Each job goes to window.controls as
// "bsg<code> <offset>:<length>" (hexadecimal).
void serve_bsg_flash(SimBsg& bsg, std::shared_ptr<FlashWindow> window);

// window.controls also gets "lock" and "unlock" when the flash lock is taken
// and given back, and "sleep <s>" for each sleep.
void log_flash_lock(SimHost& host, std::shared_ptr<FlashWindow> window);

}  // namespace sim

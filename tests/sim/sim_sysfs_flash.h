// The flash of sysfs-mode adapters beyond their windows (sim_sysfs_adapters.h).
#pragma once

#include "sim_bsg.h"

namespace sim {

// Attaches bsg to the fabric's nodes. Vendor command 7 of fc_host<N> copies
// flash of host N's window from vendor_cmd[1] into data in (past the flash's
// end: what lies within, the rest as din_resid), 8 writes data out there
// (past the end: EINVAL); each job goes to the window's controls as
// "bsg<code> <offset>:<length>" (hexadecimal). Every window's controls also
// get "lock" and "unlock" when the flash lock is taken and given back, and
// "sleep <s>" for each sleep.
void serve_flash(SimHost& host, SimBsg& bsg, const SysfsFabric& fabric);

}  // namespace sim

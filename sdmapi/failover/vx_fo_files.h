// Driver module names of the failover layer's configuration writers, whose
// files and shell commands are those of base/vx_conf_file.h: a driver module
// name takes part in a path only after vx_fo_module_name_ok. The writers end
// a change of the module configuration with vx_fo_depmod.
#pragma once

#include <cstdint>

#include "base/vx_conf_file.h"

// Whether a driver module name may enter a path or a command: 1 to 15
// letters, digits, '_' or '-'.
[[nodiscard]] bool vx_fo_module_name_ok(const char* model);

// The model of a slot (< 32) when its name passes vx_fo_module_name_ok, else null.
[[nodiscard]] const char* vx_fo_slot_model(uint32_t slot);

// Runs "depmod -a", which refreshes the module dependency data after a
// change of the module configuration. Its wait status is not tested: the
// change is in the files either way, and the driver reads them at its next
// load.
void vx_fo_depmod();

// Driver module names of the failover layer's configuration writers.
#include "failover/vx_fo_files.h"

#include "base/vx_records.h"

namespace {

// Room of the model field of a slot, with its terminating NUL.
constexpr size_t kModelRoom = sizeof(vxapi_priv_db_t::model);

}  // namespace

bool vx_fo_module_name_ok(const char* model) {
    if (model == nullptr) return false;
    size_t n = 0;
    for (; n < kModelRoom && model[n] != '\0'; ++n) {
        const char c = model[n];
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '-';
        if (!word) return false;
    }
    return n > 0 && n < kModelRoom;
}

void vx_fo_depmod() { (void)vx_conf_shell("depmod -a"); }

const char* vx_fo_slot_model(uint32_t slot) {
    if (slot >= VX_LEGACY_SLOTS) return nullptr;
    const char* model = api_priv_data[slot].model;
    return vx_fo_module_name_ok(model) ? model : nullptr;
}


// The HBA feature settings: five features over the driver's "Bind=" and
// "ConfigRequired=" module parameters in its options line.
//
// Nothing is kept between calls: every operation reads the options line
// afresh, and every setter rewrites it (even when nothing changed) and
// refreshes the module dependencies with "depmod -a".
#include "failover/vx_fo_features.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/vx_modconf.h"
#include "core/life/vx_api_lock.h"
#include "failover/vx_fo_channel.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_optline.h"

namespace {

// Flags of every returned descriptor, and of one whose Current was read
// from the options line.
constexpr uint32_t kFlagsReturned = 0x60;
constexpr uint32_t kFlagsFromLine = 0x10;

// Kinds of feature: the parameter it lives in.
constexpr uint32_t kKindBind = 1;
constexpr uint32_t kKindConfigRequired = 2;

// The supported features: room for 32, the first entry with Id 0 ends them.
constexpr unsigned kSupportedRoom = 32;
constexpr HBA_FEATURE_ENTRY sup_features[kSupportedRoom] = {
    {1, 88, HBA_FEATURE_PERSISTENT_ONLY, kKindConfigRequired, 0, 1, 0, 0, 2, 0, "Persistent Only"},
    {1, 88, HBA_FEATURE_PERSISTENT_NEW, kKindConfigRequired, 0, 1, 1, 1, 2, 0, "Persistent+New"},
    {1, 88, HBA_FEATURE_NEW_ONLY, kKindConfigRequired, 0, 2, 2, 2, 2, 0, "New Only"},
    {1, 88, HBA_FEATURE_BIND_BY_WWPN, kKindBind, 0, 1, 1, 1, 2, 0, "Bind by WWPN"},
    {1, 88, HBA_FEATURE_BIND_BY_PID, kKindBind, 0, 1, 0, 0, 2, 0, "Bind by PID"},
};
static_assert(sizeof(HBA_FEATURE_ENTRY) == 88);

constexpr INT_FEATURE int_features[VX_FEA_PARAMS] = {{0, 0, 0, "Bind="}, {0, 0, 0, "ConfigRequired="}};

// The slot number of the handle's open port.
bool port_slot(uint32_t handle, uint32_t* slot) {
    const vxapi_priv_db_t* found = vx_fo_slot_by_handle(handle);
    if (found == nullptr) return false;
    *slot = static_cast<uint32_t>(found - api_priv_data);
    return true;
}

unsigned supported_count() {
    unsigned n = 0;
    while (n < kSupportedRoom && sup_features[n].Id != 0) ++n;
    return n;
}

// The descriptor of a feature id, or null for an id that is none of the five.
const HBA_FEATURE_ENTRY* find_feature(uint32_t id) {
    switch (id) {
        case HBA_FEATURE_PERSISTENT_ONLY:
        case HBA_FEATURE_PERSISTENT_NEW:
        case HBA_FEATURE_BIND_BY_WWPN:
        case HBA_FEATURE_BIND_BY_PID:
        case HBA_FEATURE_NEW_ONLY:
            break;
        default:
            return nullptr;
    }
    const unsigned n = supported_count();
    for (unsigned i = 0; i < n; ++i) {
        if (sup_features[i].Id == id) return &sup_features[i];
    }
    return nullptr;
}

unsigned param_of(const HBA_FEATURE_ENTRY& entry) {
    return entry.Kind == kKindConfigRequired ? VX_FEA_CONFIG_REQUIRED : VX_FEA_BIND;
}

// The feature's Current for the value of its parameter; unchanged where
// the value says nothing about the feature.
uint32_t current_of(uint32_t id, int32_t value, uint32_t table_current) {
    switch (id) {
        case HBA_FEATURE_PERSISTENT_ONLY: return static_cast<uint32_t>(value);
        case HBA_FEATURE_PERSISTENT_NEW: return value == 0 ? 1 : 0;
        case HBA_FEATURE_NEW_ONLY: return value == 2 ? 1 : 0;
        case HBA_FEATURE_BIND_BY_WWPN: return value == 0 ? 1 : value == 1 ? 0 : table_current;
        case HBA_FEATURE_BIND_BY_PID: return value == 0 ? 0 : value == 1 ? 1 : table_current;
        default: return table_current;
    }
}

void describe(const HBA_FEATURE_ENTRY& entry, const INT_FEATURE* params, HBA_FEATURE_ENTRY* out) {
    *out = entry;
    out->Flags |= kFlagsReturned;
    const INT_FEATURE& param = params[param_of(entry)];
    if (param.Present == 0) return;
    out->Current = current_of(entry.Id, param.Value, entry.Current);
    out->Flags |= kFlagsFromLine;
}

// Switches a feature on: its parameter is to be written with the value that
// means it, or (binding by port name, the driver's default) dropped.
void switch_on(uint32_t id, INT_FEATURE* params) {
    INT_FEATURE& param = params[param_of(*find_feature(id))];
    param.Present = 1;
    param.Remove = 0;
    switch (id) {
        case HBA_FEATURE_PERSISTENT_ONLY: param.Value = 1; break;
        case HBA_FEATURE_PERSISTENT_NEW: param.Value = 0; break;
        case HBA_FEATURE_NEW_ONLY: param.Value = 2; break;
        case HBA_FEATURE_BIND_BY_WWPN: param.Remove = 1; break;
        case HBA_FEATURE_BIND_BY_PID: param.Value = 1; break;
        default: break;
    }
}

// A decimal integer at the start of the text, as "%d" reads it.
bool read_decimal(std::string_view text, int32_t* value) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end != text.data();
}

// The parameter's name, without the '=' of the feature's Name.
std::string_view name_of(const INT_FEATURE& param) {
    const std::string_view name = param.Name;
    return name.substr(0, name.size() - 1);
}

std::string setting_text(const INT_FEATURE& param) {
    std::string text(1, ' ');
    return text.append(param.Name).append(std::to_string(param.Value));
}

// The new text of the driver's options lines: a touched parameter that
// stands has its last value set, or every place of it removed; one that does
// not stand is added when it is to be written. Without options lines
// (`lines` empty), a fresh line after a blank one, with the parameters to be
// written. false when the lines cannot be changed so.
bool edit_options(std::string_view model, const std::string& lines, const INT_FEATURE* params, unsigned touched,
                  std::string* out) {
    if (lines.empty()) {
        std::string line(1, '\n');
        line.append(vx_conf_options_key(model));
        for (unsigned f = 0; f < VX_FEA_PARAMS; ++f) {
            if (params[f].Present != 0) line += setting_text(params[f]);
        }
        *out = line + "\n";
        return true;
    }
    VxModConf conf(lines, model);
    for (unsigned f = 0; f < VX_FEA_PARAMS; ++f) {
        if ((touched & (1u << f)) == 0) continue;
        const INT_FEATURE& param = params[f];
        if (const std::optional<VxModConf::Place> at = conf.last(name_of(param))) {
            param.Remove != 0 ? conf.remove_all(name_of(param)) : conf.replace_value(*at, std::to_string(param.Value));
        } else if (param.Present != 0) {
            conf.append_to_line(0, setting_text(param));
        }
    }
    return conf.ok() && conf.result(VX_CONF_LINE_MAX, out);
}

}  // namespace

uint32_t fea_load_int_features(uint32_t handle, INT_FEATURE* features) {
    std::copy(std::begin(int_features), std::end(int_features), features);
    uint32_t slot = 0;
    if (!port_slot(handle, &slot)) return SDERR_INVALID_PARAMETER;
    std::string lines;
    bool none = false;
    if (const uint32_t status = vxapi_get_drv_param_optline(slot, &lines, &none); status != SDERR_NO_ERROR) {
        return none ? SDERR_NO_ERROR : status;  // no file, or no line: no parameters
    }
    // The value the driver gets: the last, when it reads as a decimal integer.
    const VxModConf conf(lines, vx_fo_slot_model(slot));
    for (unsigned f = 0; f < VX_FEA_PARAMS; ++f) {
        const std::optional<std::string_view> value = conf.value(name_of(features[f]));
        if (value && read_decimal(*value, &features[f].Value)) features[f].Present = 1;
    }
    return SDERR_NO_ERROR;
}

uint32_t fea_write_int_features(uint32_t handle, INT_FEATURE* features, unsigned touched) {
    uint32_t slot = 0;
    if (!port_slot(handle, &slot)) return SDERR_INVALID_PARAMETER;
    std::string lines, changed;
    bool none = false;
    uint32_t status = vxapi_get_drv_param_optline(slot, &lines, &none);
    if (status != SDERR_NO_ERROR && !none) return status;
    if (none) lines.clear();
    status = edit_options(vx_fo_slot_model(slot), lines, features, touched, &changed)
                 ? vxapi_set_drv_param_optline(slot, changed)
                 : SDERR_CONFIG_FILE;
    vx_fo_depmod();
    return status;
}

uint32_t fea_validate_entry_range(const HBA_FEATURE_SETTING* setting) {
    const unsigned n = supported_count();
    for (unsigned i = 0; i < n; ++i) {
        const HBA_FEATURE_ENTRY& entry = sup_features[i];
        if (entry.Id != setting->Id) continue;
        return setting->Value < entry.Min || setting->Value > entry.Max ? 1 : 0;
    }
    return 1;
}

SD_UINT32 SDGetHbaFeature(int Device, SD_UINT32 FeatureId, PHBA_FEATURE_ENTRY pFeature) {
    VxApiLock api_lock;
    if (pFeature == nullptr) return SDERR_INVALID_PARAMETER;
    INT_FEATURE params[VX_FEA_PARAMS];
    if (const uint32_t status = fea_load_int_features(static_cast<uint32_t>(Device), params); status != 0) {
        return status;
    }
    const HBA_FEATURE_ENTRY* entry = find_feature(FeatureId);
    if (entry == nullptr) return SDERR_INVALID_REQUEST;
    describe(*entry, params, pFeature);
    return SDERR_NO_ERROR;
}

SD_UINT32 SDGetHbaSupportedFeatureList(int Device, PHBA_FEATURE_LIST pFeatureList) {
    VxApiLock api_lock;
    if (pFeatureList == nullptr) return SDERR_INVALID_PARAMETER;
    INT_FEATURE params[VX_FEA_PARAMS];
    if (const uint32_t status = fea_load_int_features(static_cast<uint32_t>(Device), params); status != 0) {
        return status;
    }
    const unsigned n = supported_count();
    if (pFeatureList->Count < n) {
        pFeatureList->Count = n;
        return SDERR_BUFFER_TOO_SMALL;
    }
    for (unsigned i = 0; i < n; ++i) describe(sup_features[i], params, &pFeatureList->Entry[i]);
    pFeatureList->Count = n;
    return SDERR_NO_ERROR;
}

SD_UINT32 SDSetHbaFeature(int Device, SD_UINT32 FeatureId, SD_UINT32 Value, SD_UINT32 Flag) {
    VxApiLock api_lock;
    const auto handle = static_cast<uint32_t>(Device);
    INT_FEATURE params[VX_FEA_PARAMS];
    if (const uint32_t status = fea_load_int_features(handle, params); status != 0) return status;
    if (Flag > 1) return SDERR_INVALID_PARAMETER;
    const HBA_FEATURE_ENTRY* entry = find_feature(FeatureId);
    if (entry == nullptr) return SDERR_INVALID_REQUEST;
    const HBA_FEATURE_SETTING setting{FeatureId, Value, Flag, 0};
    // A value outside the range changes nothing, but is not refused; the
    // parameter of a feature switched on is the only one written.
    unsigned touched = 0;
    if (fea_validate_entry_range(&setting) == 0) {
        params[param_of(*entry)].Present = 0;
        if (Flag == 0 && Value == 1) {
            switch_on(FeatureId, params);
            touched = 1u << param_of(*entry);
        }
    }
    return fea_write_int_features(handle, params, touched);
}

SD_UINT32 SDSetHbaFeatureList(int Device, PHBA_FEATURE_SETTING_LIST pSettingList) {
    VxApiLock api_lock;
    if (pSettingList == nullptr) return SDERR_INVALID_PARAMETER;
    const auto handle = static_cast<uint32_t>(Device);
    INT_FEATURE params[VX_FEA_PARAMS];
    if (const uint32_t status = fea_load_int_features(handle, params); status != 0) return status;
    // The line is rebuilt from the list alone: a parameter the list does not
    // set is written back with value 0.
    for (INT_FEATURE& param : params) {
        param.Present = 0;
        param.Value = 0;
    }
    for (uint32_t i = 0; i < pSettingList->Count; ++i) {
        const HBA_FEATURE_SETTING& setting = pSettingList->Setting[i];
        if (setting.Flag > 1) return SDERR_INVALID_PARAMETER;
        if (find_feature(setting.Id) == nullptr) return SDERR_INVALID_REQUEST;
        if (fea_validate_entry_range(&setting) == 0 && setting.Flag == 0 && setting.Value == 1) {
            switch_on(setting.Id, params);
        }
    }
    return fea_write_int_features(handle, params);
}

// The old-format persistent store: its line locator, reader and writer, the
// get and set of one adapter's lists, the entry lists and deletes, and the
// decimal LUN lists.
//
// The options file is never edited in place: the new text replaces it
// through vx_conf_replace_file, and only after every line of it was built, so
// a refused set or delete leaves the file as it was.
#include "failover/vx_fo_oldstore.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/vx_modconf.h"
#include "base/vx_records.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_optline.h"
#include "failover/vx_fo_paths.h"
#include "failover/vx_fo_store.h"
#include "failover/vx_fo_stores.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

constexpr std::string_view kTokenEnd = "\\;";
constexpr std::string_view kValueName = "vx2xopts";

// Slot 0's feature bit: LUNs are not preferred by default.
constexpr uint32_t kNoDefaultPreferred = 0x100;
constexpr uint32_t kGroupLuns = 256;
constexpr uint32_t kGroups = VX_FO_LUNS / kGroupLuns;

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// A vx2xopts value as the driver gets it: the kernel takes off the quotes
// around it.
std::string_view unquoted(std::string_view value) {
    if (!value.starts_with('"')) return value;
    value.remove_prefix(1);
    if (value.ends_with('"')) value.remove_suffix(1);
    return value;
}

// Whether a vx2xopts value is of the older format: it begins with a decimal digit.
bool digit_value(std::string_view value) {
    value = unquoted(value);
    return !value.empty() && value[0] >= '0' && value[0] <= '9';
}

// Whether any vx2xopts value of the module's options lines is of the older format.
bool any_digit_value(const VxModConf& conf) {
    for (const VxModLine& line : conf.lines()) {
        for (const VxModParam& p : line.params) {
            if (p.name == kValueName && digit_value(p.value)) return true;
        }
    }
    return false;
}

// The options file: its path and its text.
struct OptionsFile {
    std::string path, text;
};

uint32_t read_options_file(OptionsFile* file) {
    for (const char* candidate : VX_FO_OLD_OPTIONS_FILES) {
        const int fd = vx::sys().open(candidate, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const VxConfRead read = vx_conf_read_fd(fd, VX_CONF_FILE_LIMIT, &file->text);
        vx::sys().close(fd);
        if (read != VxConfRead::Read) return SDERR_CONFIG_FILE;
        file->path = candidate;
        return SDERR_NO_ERROR;
    }
    return SDERR_CONFIG_FILE;
}

bool line_fits(const VxModLine& line) { return line.text.size() + 1 <= VX_CONF_LINE_MAX; }

// The driver's line of the store: the one whose vx2xopts the driver gets
// (its last), else its first options line; npos when it has none.
size_t store_line(const VxModConf& conf) {
    if (const std::optional<VxModConf::Place> at = conf.last(kValueName)) return at->line;
    return conf.lines().empty() ? std::string::npos : 0;
}

uint32_t model_line(const char* model, std::string* line) {
    if (!vx_fo_module_name_ok(model)) return SDERR_INVALID_PARAMETER;
    OptionsFile file;
    if (const uint32_t status = read_options_file(&file); status != SDERR_NO_ERROR) return status;
    const VxModConf conf(file.text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    const size_t found = store_line(conf);
    if (found == std::string::npos) return SDERR_UNKNOWN;
    // A line longer than the bound is never taken.
    if (!line_fits(conf.lines()[found])) return SDERR_CONFIG_FILE;
    *line = conf.physical(conf.lines()[found]);
    return SDERR_NO_ERROR;
}

// ---------------------------------------------------------------- the writer

// The tokens of target entry k of slot a (empty when the entry has no port name).
void write_entry(std::string* text, unsigned a, unsigned k, const hbalist_entry& rec, uint8_t kind, bool failover) {
    const FO_TARGET_DATA_ENTRY& t = rec.tgt_list->DataEntry[k];
    const FO_EXTERNAL_LUN_DATA_ENTRY& l = rec.lun_list->DataEntry[k];
    const bool from_targets = kind == VX_FO_FROM_TARGETS;
    const uint8_t* port = from_targets ? t.PortName : l.PortName;
    if (vx_fo_all_zero(port, 8)) return;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "scsi-vxa%u-tgt-%u-di-%u-", a,
                  static_cast<unsigned>(from_targets ? t.TargetNumber : l.Dev_No),
                  static_cast<unsigned>(from_targets ? t.PathNumber : l.TargetId));
    const auto token = [&](const std::string& key, const uint8_t* bytes, size_t n) {
        *text += prefix + key;
        vx_fo_append_hex(text, bytes, n);
        *text += kTokenEnd;
    };
    token("node=", from_targets ? t.NodeName : l.NodeName, 8);
    token("port=", port, 8);
    if (!vx_fo_all_zero(t.PortId, 3)) token("pid=", t.PortId, 3);
    const bool skip_unpreferred = (api_priv_data[0].features & kNoDefaultPreferred) != 0;
    for (uint32_t g = 0; failover && (t.Control & FO_TARGET_NO_PREFERRED_LUNS) == 0 && g < kGroups; ++g) {
        std::string digits;
        const uint32_t preferred = vxapi_write_default_preferred(&digits, l, g * kGroupLuns + kGroupLuns - 1);
        if (skip_unpreferred && preferred == 0) continue;
        *text += prefix + (g == 0 ? std::string("preferred=") : "lun_preferred-" + std::to_string(g * kGroupLuns) + "=");
        *text += digits;
        *text += kTokenEnd;
    }
    for (uint32_t g = 0; g < kGroups; ++g) {
        std::string digits;
        vxapi_write_default_disabled(&digits, l, g * kGroupLuns + kGroupLuns - 1);
        if (digits.find_first_not_of('0') == std::string::npos) continue;
        *text += prefix + (g == 0 ? std::string("lun-disabled=") : "lun_disabled-" + std::to_string(g * kGroupLuns) + "=");
        *text += digits;
        *text += kTokenEnd;
    }
    token("control=", &t.Control, 1);
}

// The vx2xopts value of the records; false when it passes `limit` characters.
bool write_value(std::string* text, const hbalist_entry* records, uint8_t kind, size_t limit) {
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        const hbalist_entry& rec = records[a];
        if (vx_fo_all_zero(rec.wwpn, 8)) continue;
        if (rec.tgt_list == nullptr || rec.lun_list == nullptr) return false;
        // The port slot of the adapter's number says whether its driver fails over.
        const vxapi_priv_db_t& slot = api_priv_data[a];
        const bool failover = slot.phys_path[0] != '\0' && slot.drvr_attr != 0;
        *text += "scsi-vxa" + std::to_string(a) + "-adapter-port=";
        vx_fo_append_hex(text, rec.wwpn, 8);
        *text += kTokenEnd;
        for (unsigned k = 0; k < VX_FO_TARGETS && text->size() <= limit; ++k) {
            write_entry(text, a, k, rec, kind, failover);
        }
        if (text->size() > limit) return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- line, reader, writer

uint32_t vxapi_get_optline_from_old_file(uint32_t instance, std::string* line) {
    const char* model = vx_fo_slot_model(instance);
    if (line == nullptr || model == nullptr) return SDERR_INVALID_PARAMETER;
    return model_line(model, line);
}

uint32_t vxapi_get_data_from_old_line(std::string_view line, hbalist_entry* records) {
    // The store is the value that the driver gets: its last vx2xopts.
    const VxModConf conf(line);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    const std::string_view value = unquoted(conf.value(kValueName).value_or(std::string_view()));
    if (digit_value(value)) return SDERR_INVALID_REGISTRY_SETTING;
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        if (records[a].tgt_list == nullptr || records[a].lun_list == nullptr) return SDERR_INVALID_PARAMETER;
    }
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        for (FO_EXTERNAL_LUN_DATA_ENTRY& e : records[a].lun_list->DataEntry) {
            std::memset(e.Data, FO_LUN_ENABLED | FO_LUN_PREFERRED, sizeof e.Data);
        }
    }
    const std::vector<std::string_view> tokens = vx_fo_split_tokens(value);
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        const std::string stem = "scsi-vxa" + std::to_string(a);
        const std::string adapter = stem + "-adapter-port";
        const std::string target = stem + "-tgt-";
        size_t i = 0;
        while (i < tokens.size() && !contains(tokens[i], adapter)) ++i;
        if (i == tokens.size()) continue;
        const std::string_view own = tokens[i].substr(tokens[i].find(adapter));
        const size_t eq = own.find('=');
        if (eq == std::string_view::npos) return SDERR_CONFIG_FILE;
        vx_fo_read_hex(own.substr(eq + 1), records[a].wwpn, 8);
        records[a].tgt_list->EntryCount = 0;
        records[a].lun_list->EntryCount = 0;
        uint16_t entry = 0;
        for (++i; i < tokens.size(); ++i) {
            const size_t key = tokens[i].find(target);
            if (key == std::string_view::npos || !contains(tokens[i], "-di")) continue;
            const uint32_t status = vxapi_get_dev_data_from_token(a, tokens[i].substr(key), records, &entry);
            if (status != SDERR_NO_ERROR) return status;
        }
    }
    return SDERR_NO_ERROR;
}

uint32_t vxapi_set_data_to_old_line(std::string* line, const hbalist_entry* records, uint8_t kind) {
    if (kind != VX_FO_FROM_TARGETS && kind != VX_FO_FROM_LUNS) return SDERR_INVALID_PARAMETER;
    VxModConf conf(*line);
    std::string value, out;
    if (!conf.ok() || !write_value(&value, records, kind, VX_CONF_LINE_MAX)) return SDERR_CONFIG_FILE;
    // The value's place, else a new vx2xopts at the end of the line.
    if (!conf.set(kValueName, value) || !conf.result(VX_CONF_LINE_MAX, &out)) return SDERR_CONFIG_FILE;
    if (!out.ends_with('\n')) out += '\n';
    *line = std::move(out);
    return SDERR_NO_ERROR;
}

uint32_t vxapi_set_optline_to_old_file(const char* model, const std::string& new_line) {
    if (!vx_fo_module_name_ok(model)) return SDERR_INVALID_PARAMETER;
    OptionsFile file;
    if (const uint32_t status = read_options_file(&file); status != SDERR_NO_ERROR) return status;
    VxModConf conf(file.text, model);
    if (!conf.ok() || any_digit_value(conf)) return SDERR_CONFIG_FILE;
    // The store's line takes the new line's parameters: where the driver's
    // options are the same, only the store value changes, in its place.
    const VxModConf wanted(new_line, model);
    std::string out;
    if (!conf.take_options(wanted, store_line(conf)) || !conf.result(VX_CONF_LINE_MAX, &out)) {
        return SDERR_CONFIG_FILE;
    }
    const VxModConf after(out, model);
    if (!after.ok() || after.value(kValueName) != wanted.value(kValueName)) return SDERR_CONFIG_FILE;
    return vx_conf_replace_file(file.path, out);
}

// ---------------------------------------------------------------- get and set

uint32_t vxapi_get_data_from_old_persist_store(uint32_t instance, FO_LUN_DATA_LIST* luns,
                                               FO_TARGET_DATA_LIST* targets, const uint8_t* wwn) {
    if (wwn == nullptr || vx_fo_slot_model(instance) == nullptr) return SDERR_INVALID_PARAMETER;
    if (luns != nullptr) std::memset(static_cast<void*>(luns), 0, sizeof *luns);
    if (targets != nullptr) *targets = FO_TARGET_DATA_LIST{};
    VxFoRecords work;
    if (!work.allocate()) return SDERR_OUT_OF_MEMORY;
    std::string line;
    uint32_t status = vxapi_get_optline_from_old_file(instance, &line);
    if (status == SDERR_NO_ERROR) status = vxapi_get_data_from_old_line(line, work.get());
    if (status != SDERR_NO_ERROR) return SDERR_CONFIG_FILE;
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        const hbalist_entry& rec = work.get()[a];
        if (vx_fo_all_zero(rec.wwpn, 8) || std::memcmp(rec.wwpn, wwn + 8, 8) != 0) continue;
        if (targets != nullptr) *targets = *rec.tgt_list;
        if (luns != nullptr) std::memcpy(static_cast<void*>(luns), rec.lun_list, sizeof *luns);
        break;
    }
    return SDERR_NO_ERROR;
}

namespace {

// The line the set starts from: the driver's line read into the records,
// or, only when the file has no such line, a fresh one (read too, so that
// its LUNs start enabled and preferred as those of a read line).
uint32_t set_start(uint32_t instance, const char* model, hbalist_entry* records, std::string* line) {
    uint32_t status = vxapi_get_optline_from_old_file(instance, line);
    if (status == SDERR_UNKNOWN) {
        line->assign(1, '\n');
        *line += vx_conf_options_key(model);
        *line += " ConfigRequired=1 vx2xopts=scsi-vxa";
        status = SDERR_NO_ERROR;
    }
    if (status == SDERR_NO_ERROR) status = vxapi_get_data_from_old_line(*line, records);
    return status == SDERR_NO_ERROR ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
}

}  // namespace

uint32_t vxapi_set_data_to_old_persist_store(uint32_t instance, const uint8_t* wwn, const FO_LUN_DATA_LIST* luns,
                                             const FO_TARGET_DATA_LIST* targets) {
    const char* model = vx_fo_slot_model(instance);
    if (model == nullptr || wwn == nullptr || (luns == nullptr && targets == nullptr)) return SDERR_INVALID_PARAMETER;
    // The adapter's slot is its driver instance; there are 32.
    const uint16_t slot = api_priv_data[instance].drvr_inst;
    if (slot >= VX_FO_STORE_ADAPTERS) return SDERR_INVALID_PARAMETER;
    VxFoRecords work;
    if (!work.allocate()) return SDERR_OUT_OF_MEMORY;
    hbalist_entry* records = work.get();
    const VxFoStoreLock lock;  // no other save between the read and the rewrite
    std::string line;
    if (const uint32_t status = set_start(instance, model, records, &line); status != SDERR_NO_ERROR) return status;

    hbalist_entry& rec = records[slot];
    std::memcpy(rec.wwpn, wwn + 8, 8);
    const uint8_t kind = targets != nullptr ? VX_FO_FROM_TARGETS : VX_FO_FROM_LUNS;
    if (kind == VX_FO_FROM_TARGETS) {
        *rec.tgt_list = *targets;
        rec.tgt_list->EntryCount = std::min<uint16_t>(rec.tgt_list->EntryCount, VX_FO_TARGETS);
        vxapi_validate_portsummary_data(records);
    } else {
        std::memcpy(static_cast<void*>(rec.lun_list), luns, sizeof *luns);
        rec.lun_list->EntryCount = std::min<uint16_t>(rec.lun_list->EntryCount, VX_FO_TARGETS);
    }
    uint32_t status = vxapi_set_data_to_old_line(&line, records, kind);
    if (status == SDERR_NO_ERROR) status = vxapi_set_optline_to_old_file(model, line);
    vx_fo_depmod();
    return status == SDERR_NO_ERROR ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
}

// ---------------------------------------------------------------- entry lists and deletes

uint32_t vxapi_get_old_persist_dev_entry_list(const char* model, hbalist_entry* records) {
    std::string line;
    const uint32_t status = model_line(model, &line);
    return status == SDERR_NO_ERROR ? vxapi_get_data_from_old_line(line, records) : status;
}

uint32_t vxapi_get_old_persist_tgt_entry_list(const char* model, hbalist_entry* records) {
    return vxapi_get_old_persist_dev_entry_list(model, records);
}

namespace {

// Clears the records' names and lists, as a fresh work list.
void clear_records(hbalist_entry* records) {
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        std::memset(records[a].wwpn, 0, 8);
        *records[a].tgt_list = FO_TARGET_DATA_LIST{};
        std::memset(static_cast<void*>(records[a].lun_list), 0, sizeof(FO_LUN_DATA_LIST));
    }
}

// Clears node and port name of every entry among the first count whose node name is name.
template <typename Entry>
bool remove_named(Entry* entries, uint16_t count, const uint8_t* name) {
    bool hit = false;
    for (unsigned k = 0; k < std::min<unsigned>(count, VX_FO_TARGETS); ++k) {
        Entry& e = entries[k];
        if (vx_fo_all_zero(e.NodeName, 8) || std::memcmp(e.NodeName, name, 8) != 0) continue;
        std::memset(e.NodeName, 0, 8);
        std::memset(e.PortName, 0, 8);
        hit = true;
    }
    return hit;
}

template <typename Remove>
uint32_t delete_entries(const char* model, hbalist_entry* records, uint32_t* deleted, const uint8_t* name,
                        Remove remove) {
    if (deleted != nullptr) *deleted = 0;
    if (!vx_fo_module_name_ok(model) || records == nullptr || name == nullptr) return SDERR_INVALID_PARAMETER;
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        if (records[a].tgt_list == nullptr || records[a].lun_list == nullptr) return SDERR_INVALID_PARAMETER;
    }
    // The store is the driver's line whose vx2xopts the driver gets; a file
    // without one has nothing to delete.
    std::string line;
    const uint32_t found = model_line(model, &line);
    if (found == SDERR_UNKNOWN) return SDERR_INVALID_PARAMETER;
    if (found != SDERR_NO_ERROR) return found;
    clear_records(records);
    const uint32_t read = vxapi_get_data_from_old_line(line, records);
    if (read == SDERR_INVALID_REGISTRY_SETTING) return read;
    if (read != SDERR_NO_ERROR || !remove(records, name)) return SDERR_INVALID_PARAMETER;
    if (deleted != nullptr) *deleted = 1;
    if (vxapi_set_data_to_old_line(&line, records, VX_FO_FROM_TARGETS) != SDERR_NO_ERROR) return SDERR_CONFIG_FILE;
    return vxapi_set_optline_to_old_file(model, line);
}

}  // namespace

bool vx_fo_remove_adapter(hbalist_entry* records, const uint8_t* port_name) {
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        if (!vx_fo_all_zero(records[a].wwpn, 8) && std::memcmp(records[a].wwpn, port_name, 8) == 0) {
            std::memset(records[a].wwpn, 0, 8);
            return true;
        }
    }
    return false;
}

bool vx_fo_remove_target(hbalist_entry* records, const uint8_t* node_name) {
    bool hit = false;
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        if (vx_fo_all_zero(records[a].wwpn, 8)) continue;
        FO_TARGET_DATA_LIST& t = *records[a].tgt_list;
        FO_LUN_DATA_LIST& l = *records[a].lun_list;
        hit |= remove_named(t.DataEntry, t.EntryCount, node_name);
        hit |= remove_named(l.DataEntry, l.EntryCount, node_name);
    }
    return hit;
}

uint32_t vxapi_del_old_persist_dev_entry(const char* model, hbalist_entry* records, uint32_t* deleted,
                                         const uint8_t* port_name) {
    return delete_entries(model, records, deleted, port_name, vx_fo_remove_adapter);
}

uint32_t vxapi_del_old_persist_tgt_entry(const char* model, hbalist_entry* records, uint32_t* deleted,
                                         const uint8_t* node_name) {
    return delete_entries(model, records, deleted, node_name, vx_fo_remove_target);
}

// ---------------------------------------------------------------- decimal lists

namespace {

uint32_t write_decimal_list(char* text, size_t size, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t* offset,
                            uint16_t base, uint32_t* count, bool preferred) {
    if (text == nullptr || offset == nullptr || count == nullptr) return SDERR_INVALID_PARAMETER;
    std::string list;
    uint32_t n = 0;
    const uint32_t end = std::min<uint32_t>(base + kGroupLuns, VX_FO_LUNS);
    for (uint32_t k = base; k < end; ++k) {
        const uint8_t b = lun.Data[k];
        const bool listed = preferred ? (b & FO_LUN_PREFERRED) != 0 : (b & FO_LUN_ENABLED) == 0;
        if (listed) list += std::to_string(k) + ",";
        if (preferred ? listed : !listed) ++n;
    }
    // The list and its NUL must fit after the offset.
    if (*offset >= size || list.size() >= size - *offset) return SDERR_CONFIG_FILE;
    std::memcpy(text + *offset, list.c_str(), list.size() + 1);
    *offset += static_cast<uint32_t>(list.size());
    *count = n;
    return SDERR_NO_ERROR;
}

}  // namespace

uint32_t vxapi_write_new_preferred(char* text, size_t size, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t* offset,
                                   uint16_t base, uint32_t* count) {
    return write_decimal_list(text, size, lun, offset, base, count, true);
}

uint32_t vxapi_write_new_disabled(char* text, size_t size, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t* offset,
                                  uint16_t base, uint32_t* count) {
    return write_decimal_list(text, size, lun, offset, base, count, false);
}

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
constexpr std::string_view kValueKey = "vx2xopts=";

// The options files are read whole; a larger file is refused.
constexpr size_t kOptionsFileLimit = 64u << 20;

// Slot 0's feature bit: LUNs are not preferred by default.
constexpr uint32_t kNoDefaultPreferred = 0x100;
constexpr uint32_t kGroupLuns = 256;
constexpr uint32_t kGroups = VX_FO_LUNS / kGroupLuns;

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Whether the line's vx2xopts value begins with a decimal digit.
bool digit_value(std::string_view line) {
    const size_t at = line.find(kValueKey);
    if (at == std::string_view::npos) return false;
    const size_t value = at + kValueKey.size();
    return value < line.size() && line[value] >= '0' && line[value] <= '9';
}

// The options file: its path and its text.
struct OptionsFile {
    std::string path, text;
};

uint32_t read_options_file(OptionsFile* file) {
    for (const char* candidate : VX_FO_OLD_OPTIONS_FILES) {
        const int fd = vx::sys().open(candidate, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const VxConfRead read = vx_conf_read_fd(fd, kOptionsFileLimit, &file->text);
        vx::sys().close(fd);
        if (read != VxConfRead::Read) return SDERR_CONFIG_FILE;
        file->path = candidate;
        return SDERR_NO_ERROR;
    }
    return SDERR_CONFIG_FILE;
}

bool line_fits(const VxModLine& line) { return line.text.size() + 1 <= VX_CONF_LINE_MAX; }

// The driver's line of the store: the one whose vx2xopts the driver gets
// (its last), else its first options line; null when it has none.
const VxModLine* store_line(const VxModConf& conf) {
    if (const std::optional<VxModConf::Place> at = conf.last(kValueName)) return &conf.lines()[at->line];
    return conf.lines().empty() ? nullptr : &conf.lines().front();
}

uint32_t model_line(const char* model, std::string* line) {
    if (!vx_fo_module_name_ok(model)) return SDERR_INVALID_PARAMETER;
    OptionsFile file;
    if (const uint32_t status = read_options_file(&file); status != SDERR_NO_ERROR) return status;
    const VxModConf conf(file.text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    const VxModLine* found = store_line(conf);
    if (found == nullptr) return SDERR_UNKNOWN;
    // A line longer than the bound is never taken.
    if (!line_fits(*found)) return SDERR_CONFIG_FILE;
    *line = found->read_text();
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

// Whether a word of the line belongs to the old store value: the vx2xopts
// word, a bare store token, or a run of token ends.
bool store_word(std::string_view word) {
    return word.starts_with(kValueKey) || contains(word, "scsi-vxa") ||
           word.find_first_not_of(kTokenEnd) == std::string_view::npos;
}

// The line around the store value: the text before the value's first word
// (or the whole line and a blank when it has none), and the other words
// that came after it, each after a blank.
void split_line(std::string_view line, std::string* before, std::string* after) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    constexpr std::string_view kBlanks = " \t";
    size_t cut = std::string_view::npos;
    size_t at = line.find_first_not_of(kBlanks);
    while (at != std::string_view::npos) {
        const size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
        const std::string_view word = line.substr(at, end - at);
        if (store_word(word)) {
            if (cut == std::string_view::npos) cut = at;
        } else if (cut != std::string_view::npos) {
            *after += ' ';
            *after += word;
        }
        at = line.find_first_not_of(kBlanks, end);
    }
    if (cut != std::string_view::npos) {
        before->assign(line.substr(0, cut));
        return;
    }
    const size_t last = line.find_last_not_of(kBlanks);
    before->assign(line.substr(0, last == std::string_view::npos ? 0 : last + 1));
    *before += ' ';
}

// The parts of the line rebuilt from the records: the text before the store
// value (its "vx2xopts=" excluded), the value, and the words after it.
// SDERR_CONFIG_FILE when the line with its newline would pass the bound.
uint32_t old_line_parts(std::string_view line, const hbalist_entry* records, uint8_t kind, std::string* before,
                        std::string* value, std::string* after) {
    if (kind != VX_FO_FROM_TARGETS && kind != VX_FO_FROM_LUNS) return SDERR_INVALID_PARAMETER;
    split_line(line, before, after);
    const size_t fixed = before->size() + kValueKey.size() + after->size() + 1;
    if (fixed > VX_CONF_LINE_MAX) return SDERR_CONFIG_FILE;
    if (!write_value(value, records, kind, VX_CONF_LINE_MAX - fixed) || value->size() > VX_CONF_LINE_MAX - fixed) {
        return SDERR_CONFIG_FILE;
    }
    return SDERR_NO_ERROR;
}

// Sets the store value of the driver's options in the options file, as kmod
// reads it: where vx2xopts stands last its value is replaced, else it is
// added to the driver's first options line; without one, fresh_line ends
// the file. Nothing else changes. A digit-first value in any line of the
// driver refuses the set.
uint32_t write_store_value(const char* model, std::string_view value, const std::string& fresh_line) {
    OptionsFile file;
    if (const uint32_t status = read_options_file(&file); status != SDERR_NO_ERROR) return status;
    VxModConf conf(file.text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    for (const VxModLine& line : conf.lines()) {
        if (digit_value(line.text)) return SDERR_CONFIG_FILE;
    }
    if (!conf.set(kValueName, value)) conf.append_text(fresh_line);
    std::string out;
    if (!conf.result(VX_CONF_LINE_MAX, &out)) return SDERR_CONFIG_FILE;
    return vx_conf_replace_file(file.path, out);
}

}  // namespace

// ---------------------------------------------------------------- line, reader, writer

uint32_t vxapi_get_optline_from_old_file(uint32_t instance, std::string* line) {
    const char* model = vx_fo_slot_model(instance);
    if (line == nullptr || model == nullptr) return SDERR_INVALID_PARAMETER;
    return model_line(model, line);
}

uint32_t vxapi_get_data_from_old_line(std::string_view line, hbalist_entry* records) {
    if (digit_value(line)) return SDERR_INVALID_REGISTRY_SETTING;
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        if (records[a].tgt_list == nullptr || records[a].lun_list == nullptr) return SDERR_INVALID_PARAMETER;
    }
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        for (FO_EXTERNAL_LUN_DATA_ENTRY& e : records[a].lun_list->DataEntry) {
            std::memset(e.Data, FO_LUN_ENABLED | FO_LUN_PREFERRED, sizeof e.Data);
        }
    }
    const std::vector<std::string_view> tokens = vx_fo_split_tokens(line);
    for (unsigned a = 0; a < VX_FO_STORE_ADAPTERS; ++a) {
        const std::string stem = "scsi-vxa" + std::to_string(a);
        const std::string adapter = stem + "-adapter-port";
        const std::string target = stem + "-tgt-";
        size_t i = 0;
        while (i < tokens.size() && !contains(tokens[i], adapter)) ++i;
        if (i == tokens.size()) continue;
        // A token is read from its key on: "vx2xopts=" may stand before it.
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
    std::string before, value, after;
    if (const uint32_t status = old_line_parts(*line, records, kind, &before, &value, &after); status != SDERR_NO_ERROR) {
        return status;
    }
    *line = before;
    *line += kValueKey;
    *line += value;
    *line += after;
    *line += '\n';
    return SDERR_NO_ERROR;
}

uint32_t vxapi_set_optline_to_old_file(uint32_t instance, const std::string& new_line) {
    const char* model = vx_fo_slot_model(instance);
    if (model == nullptr) return SDERR_INVALID_PARAMETER;
    if (!vx_conf_lines_fit(new_line)) return SDERR_CONFIG_FILE;
    OptionsFile file;
    if (const uint32_t status = read_options_file(&file); status != SDERR_NO_ERROR) return status;
    const VxModConf conf(file.text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    std::string out;
    out.reserve(file.text.size() + new_line.size());
    size_t at = 0;
    for (const VxModLine& line : conf.lines()) {
        if (digit_value(line.text)) return SDERR_CONFIG_FILE;
        out.append(file.text, at, line.begin - at).append(new_line);
        at = line.next;
    }
    out.append(file.text, at);
    if (conf.lines().empty()) out += new_line;
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
    std::string before, value, after;
    uint32_t status = old_line_parts(line, records, kind, &before, &value, &after);
    if (status == SDERR_NO_ERROR) {
        status = write_store_value(model, value, before + std::string(kValueKey) + value + after + "\n");
    }
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
    OptionsFile file;
    if (const uint32_t status = read_options_file(&file); status != SDERR_NO_ERROR) return status;
    VxModConf conf(file.text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    bool any = false;
    for (size_t l = 0; l < conf.lines().size(); ++l) {
        const VxModLine& line = conf.lines()[l];
        // Each line is read alone, so one line's adapters never reach another.
        clear_records(records);
        const uint32_t read = vxapi_get_data_from_old_line(line.text, records);
        if (read == SDERR_INVALID_REGISTRY_SETTING) return read;
        if (read != SDERR_NO_ERROR || !line_fits(line) || !remove(records, name)) continue;
        any = true;
        std::string before, value, after;
        if (old_line_parts(line.read_text(), records, VX_FO_FROM_TARGETS, &before, &value, &after) != SDERR_NO_ERROR) {
            return SDERR_CONFIG_FILE;
        }
        // The line's own store value (its last), or a new one at its end.
        const std::vector<VxModParam>& params = line.params;
        const auto own = std::find_if(params.rbegin(), params.rend(), [](const VxModParam& p) { return p.name == kValueName; });
        if (own != params.rend()) {
            conf.replace_value({l, static_cast<size_t>(params.rend() - own) - 1}, value);
        } else {
            std::string setting(1, ' ');
            conf.append_to_line(l, setting.append(kValueKey).append(value));
        }
    }
    if (deleted != nullptr) *deleted = any ? 1 : 0;
    if (!any) return SDERR_INVALID_PARAMETER;
    std::string out;
    if (!conf.result(VX_CONF_LINE_MAX, &out)) return SDERR_CONFIG_FILE;
    return vx_conf_replace_file(file.path, out);
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

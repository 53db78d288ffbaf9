// The option string: its file reader, the parsers into the per-adapter
// target and LUN lists, and the formatter back into text.
//
// Values are read within their token: a value shorter than its field gives
// zero for the missing hex pairs. Tokens beyond the 256 entries of a list, and
// LUN groups beyond LUN 4095, are dropped; a list's EntryCount never passes 256.
#include "failover/vx_fo_optstr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/vx_records.h"
#include "failover/vx_fo_files.h"
#include "vxsdm_status.h"

namespace {

constexpr std::string_view kSeparators = " \\;\t";
constexpr std::string_view kTokenEnd = "\\;";

// Feature bit of slot 0: LUNs are not preferred by default.
constexpr uint32_t kNoDefaultPreferred = 0x100;
// drvr_attr bit of a slot: its driver provides failover.
constexpr uint32_t kFailoverDriver = 0x1;

constexpr uint32_t kGroupLuns = 256;
constexpr uint32_t kGroups = VX_FO_LUNS / kGroupLuns;
constexpr size_t kBitmapPairs = kGroupLuns / 8;

// Pair i of a value as a base-16 number of its own: conversion stops at the
// first character that is not a hex digit, or at the end of the value.
uint8_t hex_pair(std::string_view value, size_t i) {
    unsigned byte = 0;
    for (size_t at = 2 * i; at < 2 * i + 2 && at < value.size(); ++at) {
        const int digit = vx_fo_hex_value(value[at]);
        if (digit < 0) break;
        byte = byte * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint8_t>(byte);
}

// The decimal number that starts at position at (0 when there is none).
uint32_t decimal_at(std::string_view token, size_t at) {
    uint32_t n = 0;
    for (; at < token.size() && token[at] >= '0' && token[at] <= '9'; ++at) n = n * 10 + (token[at] - '0');
    return n;
}

uint32_t hex_number(std::string_view value) {
    uint32_t n = 0;
    for (const char c : value) {
        const int digit = vx_fo_hex_value(c);
        if (digit < 0) break;
        n = n * 16 + static_cast<uint32_t>(digit);
    }
    return n;
}

bool contains(std::string_view token, std::string_view part) { return token.find(part) != std::string_view::npos; }

uint8_t lun_default() {
    return (api_priv_data[0].features & kNoDefaultPreferred) != 0 ? FO_LUN_ENABLED
                                                                   : FO_LUN_ENABLED | FO_LUN_PREFERRED;
}

// Every LUN byte of the list gains the default bits. A store holds 32 lists
// of 256 targets of 4,096 LUNs, so the bytes are ORed eight at a time, in
// place: through a word type that may alias the bytes and needs no alignment
// (Data is only 4-aligned). The optimiser vectorises this as it does a byte
// loop, and unoptimised sanitizer builds make an eighth of the accesses.
void set_lun_defaults(FO_LUN_DATA_LIST* list) {
    typedef uint64_t __attribute__((may_alias, aligned(1))) lun_word;
    static_assert(alignof(lun_word) == 1);
    const uint64_t bits = lun_default() * 0x0101010101010101ull;
    for (FO_EXTERNAL_LUN_DATA_ENTRY& e : list->DataEntry) {
        static_assert(sizeof e.Data % sizeof(lun_word) == 0);
        lun_word* w = reinterpret_cast<lun_word*>(e.Data);
        lun_word* const end = reinterpret_cast<lun_word*>(e.Data + sizeof e.Data);
        for (; w != end; ++w) *w |= bits;
    }
}

// The string of a parse: its text, or the status that refuses it.
uint32_t parse_text(const char* line, std::string_view* text) {
    if (line == nullptr) return SDERR_CONFIG_FILE;
    *text = std::string_view(line, strnlen(line, VX_FO_OPTSTR_SIZE));
    if (!text->empty() && (*text)[0] >= '0' && (*text)[0] <= '9') return SDERR_INVALID_REGISTRY_SETTING;
    if (!contains(*text, "scsi-vxa")) return SDERR_CONFIG_FILE;
    return SDERR_NO_ERROR;
}

struct AdapterKeys {
    std::string adapter;  // "scsi-vxaI-adapter-port"
    std::string target;   // "scsi-vxaI-tgt-"
};

AdapterKeys keys_of(unsigned adapter) {
    const std::string stem = "scsi-vxa" + std::to_string(adapter);
    return {stem + "-adapter-port", stem + "-tgt-"};
}

void clear_counts(hbalist_entry& rec) {
    rec.tgt_list->EntryCount = 0;
    rec.lun_list->EntryCount = 0;
}

// The adapter's target tokens after position `from` into record `record`,
// until a token fails: the failing handler's status, else 0.
uint32_t read_targets(const std::vector<std::string_view>& tokens, size_t from, const AdapterKeys& keys,
                      uint32_t record, hbalist_entry* records) {
    uint16_t entry = 0;
    for (size_t i = from; i < tokens.size(); ++i) {
        if (!contains(tokens[i], keys.target) || !contains(tokens[i], "-di")) continue;
        const uint32_t status = vxapi_get_dev_data_from_token(record, tokens[i], records, &entry);
        if (status != SDERR_NO_ERROR) return status;
    }
    return SDERR_NO_ERROR;
}

// Whether a target token reads: it is read into a record without lists,
// which takes nothing of it.
bool target_token_reads(std::string_view token) {
    hbalist_entry none{};
    uint16_t entry = 0;
    return vxapi_get_dev_data_from_token(0, token, &none, &entry) == SDERR_NO_ERROR;
}

enum class TokenKind { None, Node, Port, Pid, Preferred, LunPreferred, Disabled, LunDisabled, Control };

TokenKind classify(std::string_view token) {
    static constexpr std::pair<std::string_view, TokenKind> kKinds[] = {
        {"-node", TokenKind::Node},
        {"-port", TokenKind::Port},
        {"-pid", TokenKind::Pid},
        {"-preferred", TokenKind::Preferred},
        {"-lun_preferred", TokenKind::LunPreferred},
        {"-lun-disabled", TokenKind::Disabled},
        {"-lun_disabled", TokenKind::LunDisabled},
        {"-control", TokenKind::Control},
    };
    for (const auto& [part, kind] : kKinds) {
        if (contains(token, part)) return kind;
    }
    return TokenKind::None;
}

// The highest LUN of a numbered group token N, 0 when the group passes the
// last LUN (dropped: it changes no LUN, whatever N is modulo 65,536), or
// SDERR_CONFIG_FILE through *status for an N that is 0 modulo 65,536.
uint32_t numbered_group_top(std::string_view token, std::string_view key, uint32_t* status) {
    const size_t found = token.find(key);
    uint32_t base = 0;  // N, saturated past the LUN list
    uint32_t low = 0;   // N modulo 65,536
    for (size_t at = found == std::string_view::npos ? token.size() : found + key.size();
         at < token.size() && token[at] >= '0' && token[at] <= '9'; ++at) {
        const uint32_t digit = static_cast<uint32_t>(token[at] - '0');
        base = std::min<uint32_t>(base * 10 + digit, VX_FO_LUNS);
        low = (low * 10 + digit) & 0xFFFF;
    }
    if (low == 0) {
        *status = SDERR_CONFIG_FILE;
        return 0;
    }
    return base + kGroupLuns - 1 < VX_FO_LUNS ? base + kGroupLuns - 1 : 0;
}

void apply_bitmap(std::string_view value, FO_EXTERNAL_LUN_DATA_ENTRY* lun, uint32_t highest, bool preferred) {
    if (lun == nullptr || highest < kGroupLuns - 1 || highest >= VX_FO_LUNS) return;
    uint32_t n = highest;
    for (size_t pair = 0; pair < kBitmapPairs; ++pair) {
        const uint8_t byte = hex_pair(value, pair);
        for (int bit = 7; bit >= 0; --bit, --n) {
            const bool set = ((byte >> bit) & 1) != 0;
            uint8_t& b = lun->Data[n];
            if (preferred) {
                b = set ? (b | FO_LUN_PREFERRED) : (b & ~FO_LUN_PREFERRED);
            } else if (set) {
                b &= ~FO_LUN_ENABLED;
            }
        }
    }
}

uint32_t write_bitmap(std::string* text, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t highest, bool preferred) {
    if (highest < kGroupLuns - 1 || highest >= VX_FO_LUNS) return 0;
    uint32_t count = 0;
    uint32_t n = highest;
    char digits[3];
    for (size_t pair = 0; pair < kBitmapPairs; ++pair) {
        unsigned byte = 0;
        for (int bit = 7; bit >= 0; --bit, --n) {
            const uint8_t b = lun.Data[n];
            const bool on = preferred ? (b & FO_LUN_PREFERRED) != 0 : (b & FO_LUN_ENABLED) == 0;
            if (on) byte |= 1u << bit;
            if (on && preferred) ++count;
        }
        std::snprintf(digits, sizeof digits, "%02x", byte);
        *text += digits;
    }
    return count;
}

}  // namespace

// ---------------------------------------------------------------- text pieces

std::vector<std::string_view> vx_fo_split_tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    size_t at = text.find_first_not_of(kSeparators);
    while (at != std::string_view::npos) {
        const size_t end = std::min(text.find_first_of(kSeparators, at), text.size());
        tokens.push_back(text.substr(at, end - at));
        at = text.find_first_not_of(kSeparators, end);
    }
    return tokens;
}

bool vx_fo_tokens_refused(std::string_view text) {
    for (const std::string_view token : vx_fo_split_tokens(text)) {
        for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
            const AdapterKeys keys = keys_of(i);
            if (contains(token, keys.adapter) && !contains(token, "=")) return true;
            if (contains(token, keys.target) && contains(token, "-di") && !target_token_reads(token)) return true;
        }
    }
    return false;
}

int vx_fo_hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void vx_fo_read_hex(std::string_view value, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = hex_pair(value, i);
}

void vx_fo_append_hex(std::string* text, const uint8_t* bytes, size_t n) {
    char pair[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        *text += pair;
    }
}

bool vx_fo_all_zero(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

void vxapi_read_default_preferred(std::string_view value, FO_EXTERNAL_LUN_DATA_ENTRY* lun, uint32_t highest) {
    apply_bitmap(value, lun, highest, true);
}

void vxapi_read_default_disabled(std::string_view value, FO_EXTERNAL_LUN_DATA_ENTRY* lun, uint32_t highest) {
    apply_bitmap(value, lun, highest, false);
}

uint32_t vxapi_write_default_preferred(std::string* text, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t highest) {
    return write_bitmap(text, lun, highest, true);
}

void vxapi_write_default_disabled(std::string* text, const FO_EXTERNAL_LUN_DATA_ENTRY& lun, uint32_t highest) {
    write_bitmap(text, lun, highest, false);
}

uint32_t vxapi_get_opt_from_file(const char* model, char* dest, bool* missing) {
    if (missing != nullptr) *missing = false;
    if (!vx_fo_module_name_ok(model) || dest == nullptr) return SDERR_INVALID_PARAMETER;
    std::string text;
    switch (vx_conf_read_file("/etc/" + std::string(model) + ".conf", VX_FO_OPTSTR_SIZE, &text)) {
        case VxConfRead::Read:
            std::memcpy(dest, text.c_str(), text.size() + 1);
            return SDERR_NO_ERROR;
        case VxConfRead::Missing:
            if (missing != nullptr) *missing = true;
            return SDERR_CONFIG_FILE;
        case VxConfRead::Failed:
            break;
    }
    return SDERR_CONFIG_FILE;
}

uint32_t vxapi_get_dev_data_from_token(uint32_t record, std::string_view token, hbalist_entry* records,
                                       uint16_t* entry) {
    const size_t tgt = token.find("-tgt");
    const size_t di = token.find("-di");
    if (tgt == std::string_view::npos || di == std::string_view::npos) return SDERR_CONFIG_FILE;
    const auto target = static_cast<uint8_t>(decimal_at(token, tgt + 5));
    const auto path = static_cast<uint8_t>(decimal_at(token, di + 4));

    // Tokens past the last entry of the lists are dropped.
    hbalist_entry& rec = records[record];
    const bool in_lists = *entry < VX_FO_TARGETS;
    FO_TARGET_DATA_ENTRY* t = in_lists && rec.tgt_list != nullptr ? &rec.tgt_list->DataEntry[*entry] : nullptr;
    FO_EXTERNAL_LUN_DATA_ENTRY* l = in_lists && rec.lun_list != nullptr ? &rec.lun_list->DataEntry[*entry] : nullptr;
    if (t != nullptr) {
        t->TargetNumber = target;
        t->PathNumber = path;
    }
    if (l != nullptr) {
        l->Dev_No = target;
        l->TargetId = path;
    }

    const TokenKind kind = classify(token);
    if (kind == TokenKind::None) return SDERR_NO_ERROR;
    const size_t eq = token.find('=');
    if (eq == std::string_view::npos) return SDERR_CONFIG_FILE;
    const std::string_view value = token.substr(eq + 1);
    uint32_t status = SDERR_NO_ERROR;
    switch (kind) {
        case TokenKind::Node:
            if (t != nullptr) vx_fo_read_hex(value, t->NodeName, 8);
            if (l != nullptr) vx_fo_read_hex(value, l->NodeName, 8);
            if (rec.tgt_list != nullptr && rec.tgt_list->EntryCount < VX_FO_TARGETS) ++rec.tgt_list->EntryCount;
            if (rec.lun_list != nullptr && rec.lun_list->EntryCount < VX_FO_TARGETS) ++rec.lun_list->EntryCount;
            break;
        case TokenKind::Port:
            if (t != nullptr) vx_fo_read_hex(value, t->PortName, 8);
            if (l != nullptr) vx_fo_read_hex(value, l->PortName, 8);
            break;
        case TokenKind::Pid:
            if (t != nullptr) vx_fo_read_hex(value, t->PortId, 3);
            break;
        case TokenKind::Preferred: vxapi_read_default_preferred(value, l, kGroupLuns - 1); break;
        case TokenKind::Disabled: vxapi_read_default_disabled(value, l, kGroupLuns - 1); break;
        case TokenKind::LunPreferred:
            vxapi_read_default_preferred(value, l, numbered_group_top(token, "_preferred-", &status));
            break;
        case TokenKind::LunDisabled:
            vxapi_read_default_disabled(value, l, numbered_group_top(token, "_disabled-", &status));
            break;
        case TokenKind::Control:
            if (t != nullptr) t->Control = static_cast<uint8_t>(hex_number(value));
            if (in_lists) ++*entry;
            break;
        case TokenKind::None: break;
    }
    return status;
}

uint32_t vxapi_get_data_from_line(const char* line, hbalist_entry* records) {
    std::string_view text;
    if (const uint32_t status = parse_text(line, &text); status != SDERR_NO_ERROR) return status;
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
        if (records[i].lun_list == nullptr || records[i].tgt_list == nullptr) return SDERR_INVALID_PARAMETER;
    }
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) set_lun_defaults(records[i].lun_list);

    const std::vector<std::string_view> tokens = vx_fo_split_tokens(text);
    uint32_t result = SDERR_NO_ERROR;
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
        const AdapterKeys keys = keys_of(i);
        size_t at = 0;
        while (at < tokens.size() && !contains(tokens[at], keys.adapter)) ++at;
        if (at == tokens.size()) continue;
        const size_t eq = tokens[at].find('=');
        if (eq == std::string_view::npos) return SDERR_CONFIG_FILE;
        vx_fo_read_hex(tokens[at].substr(eq + 1), records[i].wwpn, 8);
        clear_counts(records[i]);
        // An adapter that fails ends there; the next ones are still read,
        // and the parse fails whatever they give.
        const uint32_t status = read_targets(tokens, at + 1, keys, i, records);
        if (result == SDERR_NO_ERROR) result = status;
    }
    return result;
}

uint32_t vxapi_get_data_from_line_for_wwpn(const char* line, hbalist_entry* records, const uint8_t* wwpn) {
    std::string_view text;
    if (const uint32_t status = parse_text(line, &text); status != SDERR_NO_ERROR) return status;
    hbalist_entry& rec = records[0];
    if (rec.lun_list == nullptr || rec.tgt_list == nullptr) return SDERR_INVALID_PARAMETER;
    set_lun_defaults(rec.lun_list);

    const std::vector<std::string_view> tokens = vx_fo_split_tokens(text);
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
        const AdapterKeys keys = keys_of(i);
        for (size_t at = 0; at < tokens.size(); ++at) {
            if (!contains(tokens[at], keys.adapter)) continue;
            const size_t eq = tokens[at].find('=');
            if (eq == std::string_view::npos) return SDERR_CONFIG_FILE;
            // The name is read byte by byte until the first that differs.
            const std::string_view value = tokens[at].substr(eq + 1);
            size_t same = 0;
            while (same < 8 && (rec.wwpn[same] = hex_pair(value, same)) == wwpn[same]) ++same;
            if (same < 8) continue;
            clear_counts(rec);
            return read_targets(tokens, at + 1, keys, 0, records);
        }
    }
    return SDERR_NO_ERROR;
}

namespace {

// What the formatter writes of the store adapters.
struct FormatContext {
    uint8_t mode;
    bool no_default_preferred;  // slot 0 feature 0x100
};

// The tokens of entry k of adapter i: node, port, pid, the preferred groups,
// the disabled groups and control.
void format_entry(std::string* text, unsigned i, unsigned k, const hbalist_entry& rec, bool failover,
                  const FormatContext& ctx) {
    const FO_TARGET_DATA_ENTRY& t = rec.tgt_list->DataEntry[k];
    const FO_EXTERNAL_LUN_DATA_ENTRY& l = rec.lun_list->DataEntry[k];
    const bool from_targets = ctx.mode == VX_FO_FROM_TARGETS;
    const uint8_t* node = from_targets ? t.NodeName : l.NodeName;
    const uint8_t* port = from_targets ? t.PortName : l.PortName;
    if (vx_fo_all_zero(port, 8)) return;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "scsi-vxa%u-tgt-%u-di-%u-", i,
                  static_cast<unsigned>(from_targets ? t.TargetNumber : l.Dev_No),
                  static_cast<unsigned>(from_targets ? t.PathNumber : l.TargetId));
    const auto token = [&](const std::string& key, const std::string& value) {
        *text += prefix + key + value;
        *text += kTokenEnd;
    };
    std::string hex;
    vx_fo_append_hex(&hex, node, 8);
    token("node=", hex);
    hex.clear();
    vx_fo_append_hex(&hex, port, 8);
    token("port=", hex);
    if (!vx_fo_all_zero(t.PortId, 3)) {
        hex.clear();
        vx_fo_append_hex(&hex, t.PortId, 3);
        token("pid=", hex);
    }
    for (uint32_t g = 0; failover && (t.Control & FO_TARGET_NO_PREFERRED_LUNS) == 0 && g < kGroups; ++g) {
        std::string digits;
        const uint32_t preferred = vxapi_write_default_preferred(&digits, l, g * kGroupLuns + kGroupLuns - 1);
        if (ctx.no_default_preferred && preferred == 0) continue;
        token(g == 0 ? "preferred=" : "lun_preferred-" + std::to_string(g * kGroupLuns) + "=", digits);
    }
    for (uint32_t g = 0; g < kGroups; ++g) {
        std::string digits;
        vxapi_write_default_disabled(&digits, l, g * kGroupLuns + kGroupLuns - 1);
        if (digits.find_first_not_of('0') == std::string::npos) continue;
        token(g == 0 ? "lun-disabled=" : "lun_disabled-" + std::to_string(g * kGroupLuns) + "=", digits);
    }
    hex.clear();
    vx_fo_append_hex(&hex, &t.Control, 1);
    token("control=", hex);
}

}  // namespace

uint32_t vxapi_set_data_to_line(const hbalist_entry* records, char* out, uint8_t mode) {
    if (mode != VX_FO_FROM_TARGETS && mode != VX_FO_FROM_LUNS) return SDERR_INVALID_PARAMETER;
    const FormatContext ctx{mode, (api_priv_data[0].features & kNoDefaultPreferred) != 0};
    std::string text;
    for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) {
        const hbalist_entry& rec = records[i];
        if (vx_fo_all_zero(rec.wwpn, 8)) continue;
        if (rec.tgt_list == nullptr || rec.lun_list == nullptr) return SDERR_INVALID_PARAMETER;
        // The failover attribute comes from the port slot of the same number.
        const vxapi_priv_db_t& slot = api_priv_data[i];
        const bool failover = slot.phys_path[0] != '\0' && (slot.drvr_attr & kFailoverDriver) != 0;
        text += "scsi-vxa" + std::to_string(i) + "-adapter-port=";
        vx_fo_append_hex(&text, rec.wwpn, 8);
        text += kTokenEnd;
        for (unsigned k = 0; k < VX_FO_TARGETS && text.size() < VX_FO_OPTSTR_SIZE; ++k) {
            format_entry(&text, i, k, rec, failover, ctx);
        }
    }
    text += '\n';
    // A string that does not fit is refused whole: a cut one would lose targets.
    if (text.size() >= VX_FO_OPTSTR_SIZE) return SDERR_CONFIG_FILE;
    std::memcpy(out, text.data(), text.size());
    std::memset(out + text.size(), 0, VX_FO_OPTSTR_SIZE - text.size());
    return SDERR_NO_ERROR;
}

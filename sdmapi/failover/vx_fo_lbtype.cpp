// Load-balancing types of targets: live in the failover driver (requests 211
// and 212), or as tokens of the option string of the new-format store:
//   scsi-lbtype-L-keyK-tgtname=<16 hex>
// one per target, L the type and K a key unique among the tokens of type L.
//
// Here the option string is split at backslash, semicolon and tab only. A
// rewrite keeps every other token: a newline inside one is stripped (the
// formatter ends its text with one). Dropped are a token left blank and one
// that the stripping made into a token the store's readers refuse.
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/vx_request.h"
#include "core/life/vx_api_lock.h"
#include "failover/vx_fo_channel.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_store.h"
#include "platform/vx_platform.h"
#include "vxsdm.h"

static_assert(sizeof(FO_LB_POLICY_ENTRY) == 24);
static_assert(offsetof(FO_LB_POLICY_ENTRY, LbType) == 8);
// vx_fo_list_count reads the count where every failover list keeps it.
static_assert(offsetof(FO_LB_POLICY_LIST, Count) == 2);
static_assert(offsetof(FO_LB_POLICY_LIST, Entry) == 32);
static_assert(sizeof(FO_LB_POLICY_LIST) == 6176);
static_assert(offsetof(FO_LB_POLICY_STORE_LIST, Entry) == 32);

namespace {

constexpr std::string_view kDelimiters = "\\;\t";
constexpr std::string_view kPrefix = "scsi-lbtype-";
constexpr std::string_view kTokenEnd = "\\;";
constexpr uint32_t kKeys = 256;
constexpr uint32_t kApiEntries = VX_FO_LIST_ROOM;
// The bytes of a list's head up to the end of its count.
constexpr uint32_t kCountEnd = offsetof(FO_LB_POLICY_LIST, Count) + sizeof(uint16_t);

struct Piece {
    size_t begin, end;  // of the token in the text
};

std::vector<Piece> pieces_of(std::string_view text) {
    std::vector<Piece> out;
    size_t at = text.find_first_not_of(kDelimiters);
    while (at != std::string_view::npos) {
        const size_t end = std::min(text.find_first_of(kDelimiters, at), text.size());
        out.push_back({at, end});
        at = text.find_first_not_of(kDelimiters, end);
    }
    return out;
}

std::string_view piece_text(std::string_view text, const Piece& p) { return text.substr(p.begin, p.end - p.begin); }

// A decimal number at position at; a number too large for 32 bits saturates.
uint32_t decimal_at(std::string_view s, size_t at) {
    uint64_t n = 0;
    for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) n = std::min<uint64_t>(n * 10 + (s[at] - '0'), UINT32_MAX);
    return static_cast<uint32_t>(n);
}

struct LbToken {
    uint8_t name[8];
    uint32_t type;
    uint32_t key;
    bool has_key;
};

// A token that holds "scsi-lbtype-". The name is read within the token:
// hex pairs missing at its end read as 0. 0, or SDERR_CONFIG_FILE without "=".
uint32_t parse_token(std::string_view token, LbToken* out) {
    const size_t eq = token.find('=');
    if (eq == std::string_view::npos) return SDERR_CONFIG_FILE;
    const std::string_view value = token.substr(eq + 1);
    vx_fo_read_hex(value, out->name, sizeof out->name);
    out->type = decimal_at(token, token.find(kPrefix) + kPrefix.size());
    const size_t key = token.find("-key");
    out->has_key = key != std::string_view::npos;
    out->key = out->has_key ? decimal_at(token, key + 4) : 0;
    return SDERR_NO_ERROR;
}

std::string token_text(uint32_t type, uint32_t key, const uint8_t* name) {
    char text[96];
    std::snprintf(text, sizeof text, "scsi-lbtype-%u-key%u-tgtname=%02x%02x%02x%02x%02x%02x%02x%02x", type, key, name[0],
                  name[1], name[2], name[3], name[4], name[5], name[6], name[7]);
    return std::string(text) + std::string(kTokenEnd);
}

// Whether a reader of the store refuses the token: a load-balancing token
// without "=" or "-key", or an option string token the parsers refuse.
bool refused(std::string_view token) {
    LbToken t{};
    if (token.find(kPrefix) != std::string_view::npos && (parse_token(token, &t) != SDERR_NO_ERROR || !t.has_key)) {
        return true;
    }
    return vx_fo_tokens_refused(token);
}

// Appends a passed-over token without its newlines. Not at all when nothing
// but blanks is left, or when the token without its newlines is one the
// store's readers refuse (the newlines had kept it from them).
void keep_token(std::string_view token, std::string* out) {
    std::string kept;
    for (const char c : token) {
        if (c != '\n') kept += c;
    }
    if (kept.find_first_not_of(" \r") == std::string::npos) return;
    if (kept.size() != token.size() && refused(kept)) return;
    *out += kept;
    *out += kTokenEnd;
}

bool starts_with_digit(std::string_view text) { return !text.empty() && text[0] >= '0' && text[0] <= '9'; }

std::string_view bounded(const char* string) {
    return string == nullptr ? std::string_view() : std::string_view(string, strnlen(string, VX_FO_OPTSTR_SIZE));
}

// The port number of the persistent road: the drvr_inst of the handle's
// slot, which must itself be a slot with a usable module name.
uint32_t persistent_port(uint32_t handle, uint32_t* port) {
    const vxapi_priv_db_t* slot = vx_fo_slot_by_handle(handle);
    if (slot == nullptr) return SDERR_DEVICE_NOT_FOUND;
    if (vx_fo_slot_model(slot->drvr_inst) == nullptr) return SDERR_INVALID_PARAMETER;
    *port = slot->drvr_inst;
    return SDERR_NO_ERROR;
}

void say(const char* line) { vx::sys().write_stdout(line, std::strlen(line)); }

// The persistent road needs a driver of the new store: SDERR_NO_ERROR when
// the handle's port has one; the status of a driver that could not say which
// store it keeps; else SDERR_NOT_SUPPORTED, after the refusal on standard
// output.
uint32_t new_store_or_refusal(uint32_t handle, uint16_t instance, const char* refusal) {
    bool new_store = false;
    if (const uint32_t status = vxapi_hba_support_new_cfg_store(handle, instance, &new_store); status != 0) {
        return status;
    }
    if (new_store) return SDERR_NO_ERROR;
    say(refusal);
    return SDERR_NOT_SUPPORTED;
}

}  // namespace

uint32_t vxfoapi_get_lbtype_key(uint32_t type, uint32_t* key, std::string_view copy) {
    bool used[kKeys] = {};
    const std::string prefix = std::string(kPrefix) + std::to_string(type);
    for (const Piece& p : pieces_of(copy)) {
        const std::string_view token = piece_text(copy, p);
        if (token.find(prefix) == std::string_view::npos) continue;
        const size_t at = token.find("-key");
        if (at == std::string_view::npos) return SDERR_CONFIG_FILE;
        const uint32_t k = decimal_at(token, at + 4);
        if (k < kKeys) used[k] = true;
    }
    *key = 0;
    while (*key < kKeys && used[*key]) ++*key;
    if (*key == kKeys) say("vxfoapi_get_lbtype_key: Exceeded max lb entries\n");
    return SDERR_NO_ERROR;
}

uint32_t vxfoapi_get_lbtype(uint32_t, FO_LB_POLICY_ENTRY* entries, uint16_t* count, const char* string,
                            uint32_t max) {
    const std::string_view text = bounded(string);
    uint32_t n = 0;
    for (const Piece& p : pieces_of(text)) {
        const std::string_view token = piece_text(text, p);
        if (token.find(kPrefix) == std::string_view::npos) continue;
        LbToken t{};
        if (parse_token(token, &t) != SDERR_NO_ERROR || n == max) return SDERR_CONFIG_FILE;
        std::memcpy(entries[n].TargetName, t.name, sizeof t.name);
        entries[n].LbType = t.type;
        *count = static_cast<uint16_t>(++n);
    }
    return SDERR_NO_ERROR;
}

uint32_t vxfoapi_set_lbtype(uint32_t, const uint8_t* name, const uint32_t* type, std::string* text) {
    const std::string_view s = *text;
    const std::vector<Piece> pieces = pieces_of(s);
    std::string out;
    out.reserve(s.size() + 64);
    size_t i = 0;
    LbToken found{};
    for (; i < pieces.size(); ++i) {
        const std::string_view token = piece_text(s, pieces[i]);
        if (token.find(kPrefix) != std::string_view::npos) {
            if (parse_token(token, &found) != SDERR_NO_ERROR || !found.has_key) return SDERR_CONFIG_FILE;
            if (std::memcmp(found.name, name, sizeof found.name) == 0) break;
        }
        keep_token(token, &out);
    }
    const bool has_token = i < pieces.size();
    if (*type != 0) {
        uint32_t key = found.key;
        if (!has_token || found.type != *type) {
            if (const uint32_t status = vxfoapi_get_lbtype_key(*type, &key, s); status != SDERR_NO_ERROR) return status;
        }
        out += token_text(*type, key, name);
    }
    if (has_token) {
        // The rest of the text, unchanged, from the token after the target's.
        const size_t rest = s.find_first_not_of(kDelimiters, pieces[i].end);
        if (rest != std::string_view::npos) out += s.substr(rest);
    }
    // The option string parser refuses a text that begins with a digit: a
    // digit that the rewrite put first (a dropped token or newline before it)
    // stays behind a separator.
    if (starts_with_digit(out) && !starts_with_digit(s)) out.insert(0, kTokenEnd);
    if (out.size() >= VX_FO_OPTSTR_SIZE) return SDERR_CONFIG_FILE;
    *text = std::move(out);
    return SDERR_NO_ERROR;
}

uint32_t vx_fo_apply_lbtypes(const FO_LB_POLICY_ENTRY* entries, uint32_t count, std::string* text) {
    std::string work = *text;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t type = entries[i].LbType;
        if (const uint32_t status = vxfoapi_set_lbtype(0, entries[i].TargetName, &type, &work); status != 0) {
            return status;
        }
    }
    *text = std::move(work);
    return SDERR_NO_ERROR;
}

uint32_t vxfoapi_get_data(uint32_t port, bool saving, std::string* text, bool* missing) {
    if (missing != nullptr) *missing = false;
    const char* model = vx_fo_slot_model(port);
    if (model == nullptr || text == nullptr) return SDERR_INVALID_PARAMETER;
    switch (vx_fo_get_store_text(model, saving, text)) {
        case VxFoStoreText::Read: return SDERR_NO_ERROR;
        case VxFoStoreText::Empty:
            if (missing != nullptr) *missing = true;
            break;
        case VxFoStoreText::Failed: break;
    }
    return SDERR_CONFIG_FILE;
}

uint32_t vxfoapi_set_data(uint32_t port, const char* string, uint8_t flag) {
    const char* model = vx_fo_slot_model(port);
    if (model == nullptr || string == nullptr) return SDERR_INVALID_PARAMETER;
    return vx_fo_save_store(model, std::string(bounded(string)), nullptr, flag != 0);
}

uint32_t vxfoapi_get_all_lbtype(FO_LB_POLICY_STORE_LIST* list, const char* string) {
    if (list == nullptr) return SDERR_INVALID_PARAMETER;
    std::memset(list, 0, sizeof *list);
    return vxfoapi_get_lbtype(list->Instance, list->Entry, &list->Count, string, VX_FO_LB_STORE_ENTRIES);
}

uint32_t vxfoapi_set_all_lbtype(const FO_LB_POLICY_STORE_LIST* list, const char* string, bool update_modules) {
    if (list == nullptr || string == nullptr || list->Count > VX_FO_LB_STORE_ENTRIES) return SDERR_INVALID_PARAMETER;
    const char* model = vx_fo_slot_model(list->Instance);
    if (model == nullptr) return SDERR_INVALID_PARAMETER;
    return vx_fo_save_store(model, std::string(bounded(string)), list, update_modules);
}

uint32_t vxfoapi_get_set_lbtype(uint32_t handle, uint16_t, FO_LB_POLICY_LIST* list, uint8_t set) {
    uint32_t port = 0;
    if (const uint32_t status = persistent_port(handle, &port); status != SDERR_NO_ERROR) return status;
    VxFoStoreLock lock;
    // The set reads the store as a save of the store does; only a store that
    // does not exist is an empty one.
    std::string text;
    bool missing = false;
    const uint32_t read = vxfoapi_get_data(port, set != 0, &text, &missing);
    if (set == 0) {
        if (read != SDERR_NO_ERROR) return SDERR_CONFIG_FILE;
        return vxfoapi_get_lbtype(port, list->Entry, &list->Count, text.c_str(), kApiEntries);
    }
    if (read != SDERR_NO_ERROR && !missing) return SDERR_CONFIG_FILE;
    // Only the load-balancing tokens change; the save is the store's own:
    // the option file with its backup, then the configuration module.
    if (const uint32_t status = vx_fo_apply_lbtypes(list->Entry, list->Count, &text); status != 0) return status;
    return vxfoapi_set_data(port, text.c_str(), 0);
}

SD_UINT32 ISDFoGetLBPolicy(SD_UINT32 Handle, SD_UINT16 Instance, PFO_LB_POLICY_LIST pList, SD_UINT32 Persistent) {
    VxApiLock api_lock;
    // The instance names no slot here: the driver gets the handle's slot's
    // driver instance, and the store is that of the slot it numbers.
    if (pList == nullptr) return SDERR_INVALID_PARAMETER;
    if (Persistent != 0) {
        if (const uint32_t status = new_store_or_refusal(Handle, Instance, "Get LB not supported\n"); status != 0) {
            return status;
        }
        return vxfoapi_get_set_lbtype(Handle, Instance, pList, 0);
    }
    const vxapi_priv_db_t* slot = vx_fo_slot_by_handle(Handle);
    if (slot == nullptr) return SDERR_DEVICE_NOT_FOUND;
    FO_LB_POLICY_LIST buffer = *pList;
    buffer.Instance = static_cast<uint16_t>(slot->drvr_inst);
    // The list is read as far as its head and the entries it counts.
    const VxFoReplyShape shape{offsetof(FO_LB_POLICY_LIST, Entry), sizeof(FO_LB_POLICY_ENTRY)};
    VxFoSent sent;
    const uint32_t status = VxFailOverDeviceIoControl(Handle, FO_CC_GET_LB_POLICY, 0, nullptr, 0, &buffer,
                                                      sizeof buffer, shape, &sent);
    // A refusal before the request writes nothing. Once it was sent, the
    // caller gets the list back whatever the status, and never a count of
    // entries beyond the 256 it holds from the driver: a count that came, or
    // one the driver left there in a failed ioctl. A count that is still the
    // caller's own stays as it was.
    if (!sent.sent) return status;
    if (sent.delivered >= kCountEnd || buffer.Count != pList->Count) buffer.Count = vx_fo_list_count(&buffer);
    *pList = buffer;
    return status;
}

SD_UINT32 ISDFoSetLBPolicy(SD_UINT32 Handle, SD_UINT16 Instance, const FO_LB_POLICY_LIST* pList,
                           SD_UINT32 Persistent) {
    VxApiLock api_lock;
    if (pList == nullptr || pList->Count > kApiEntries) return SDERR_INVALID_PARAMETER;
    if (Persistent != 0) {
        if (const uint32_t status = new_store_or_refusal(Handle, Instance, "Set LB not supported\n"); status != 0) {
            return status;
        }
        FO_LB_POLICY_LIST copy = *pList;
        return vxfoapi_get_set_lbtype(Handle, Instance, &copy, 1);
    }
    const vxapi_priv_db_t* slot = vx_fo_slot_by_handle(Handle);
    if (slot == nullptr) return SDERR_DEVICE_NOT_FOUND;
    FO_LB_POLICY_LIST buffer = *pList;
    buffer.Instance = static_cast<uint16_t>(slot->drvr_inst);
    return VxFailOverDeviceIoControl(Handle, FO_CC_SET_LB_POLICY, 0, &buffer, sizeof buffer, nullptr, 0);
}

// Persistent LUN names: udev rules in the library's own rules file.
#include "core/io/vx_udev.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/vx_conf_file.h"
#include "base/vx_env.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_query.h"

namespace {

constexpr uint32_t kTrace = VXDBG_ERROR;
constexpr const char* kWholeDisk = "sd*[!0-9]";
constexpr const char* kPartition = "sd*[0-9]";
constexpr const char* kPartSuffix = "_part%n";
// The partition names' text, and the GUID buffers of set/delete and get.
constexpr size_t kPartNamesSize = 253;
constexpr uint32_t kGuidSize = 512;
constexpr uint32_t kGetGuidSize = 253;
// The longest rule line, with its newline.
constexpr size_t kLineMax = VXAPI_UDEV_LINE_SIZE - 1;
// A rules file is read whole; a larger one is refused.
constexpr size_t kRulesLimit = 1u << 20;
// The characters besides letters and digits that udev keeps as written in a
// link name; it substitutes "$kernel" and "%n", and replaces the other
// punctuation with '_'. A space separates names.
constexpr const char* kLinkPunctuation = "#+-.:=@_/ ";

// Texts a rule points at when it has none of its own.
char g_kernel_whole[] = "\"sd*[!0-9]\"";
char g_kernel_part[] = "\"sd*[0-9]\"";
char g_subsystem[] = "\"block\"";
char g_vendor[] = "\"0x7a5a\"";
static_assert(VXAPI_UDEV_VENDOR_ID == 0x7A5A, "the vendor text above");

void trace(const char* op, const char* what) {
    if ((vx_debug & kTrace) == 0) return;
    vxdbg_print(op, 0, VXDBG_NONE, 0);
    vxdbg_print(what, 0, VXDBG_NONE, 1);
}

bool contains(const std::string& line, const char* what) { return line.find(what) != std::string::npos; }

// What a line of the rules file is: a comment (first character '#'), a
// whole-disk rule (holding "sd*[!0-9]"), a partition rule (holding
// "sd*[0-9]"), or another line, which is not carried over.
enum class Kind { Comment, Whole, Partition, Other };

Kind kind_of(const std::string& line) {
    if (!line.empty() && line[0] == '#') return Kind::Comment;
    if (contains(line, kWholeDisk)) return Kind::Whole;
    return contains(line, kPartition) ? Kind::Partition : Kind::Other;
}

struct RuleDeleter {
    void operator()(UDEV_RULE* r) const { vxapi_free_udev_rule(r); }
};
using RulePtr = std::unique_ptr<UDEV_RULE, RuleDeleter>;

// A rule line read item by item (the parser below).
struct RuleLine {
    RulePtr rule;
    // An item of a known key whose value lacks a quote or is followed by more
    // than blanks: its text is not known, so the line cannot be rebuilt.
    bool damaged = false;
    // The text between the quotes of SYMLINK+=, when the line has one.
    std::optional<std::string> names;
};
RuleLine read_rule(const char* line);

// Whether the parsed rule is the LUN's.
bool of_lun(const UDEV_RULE* rule, const char* guid) {
    return rule->GUID != nullptr && std::strcmp(rule->GUID, guid) == 0;
}

// The texts of the rule's names.
std::vector<std::string> names_of(const UDEV_RULE* rule) {
    std::vector<std::string> names;
    if (rule->symlink == nullptr) return names;
    char* name;
    dlist_for_each_data(rule->symlink, name, char) names.emplace_back(name);
    return names;
}

bool has_name(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names) {
        if (n == name) return true;
    }
    return false;
}

void drop_names(std::vector<std::string>* names, const std::vector<std::string>& gone) {
    std::vector<std::string> kept;
    for (const std::string& n : *names) {
        if (!has_name(gone, n)) kept.push_back(n);
    }
    *names = kept;
}

// Whether the device name is "/sd" followed by letters and digits.
bool device_name_ok(const char* dev) {
    if (dev == nullptr || std::strncmp(dev, "/sd", 3) != 0 || dev[3] == '\0') return false;
    for (const char* p = dev + 3; *p != '\0'; ++p) {
        if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9'))) return false;
    }
    return true;
}

// Runs the command and keeps its last output line in out: false when it
// could not be started.
bool last_output_line(const char* cmd, char* out, uint32_t size) {
    FILE* f = vx::sys().popen(cmd, "re");
    if (f == nullptr) return false;
    std::vector<char> line(size);
    while (std::fgets(line.data(), static_cast<int>(size), f) != nullptr) std::memcpy(out, line.data(), size);
    vx::sys().pclose(f);
    return true;
}

// The lines of a text, each with its newline: a last line without one gets
// it, so that no rule appended after it is glued onto it.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        const size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(at, end - at));
        if (nl == std::string::npos) lines.back() += '\n';
        at = end;
    }
    return lines;
}

// A rule of the kind whose names are replaced by these, as a line; false
// when it does not fit or would not read back as a rule of the kind with the
// rule's GUID and these names (a hand-edited line whose pattern stood only in
// an item that is not written again). Missing texts of a hand-edited line
// take the usual ones.
bool rebuild(const UDEV_RULE* parsed, Kind kind, const std::vector<std::string>& names, std::string* line) {
    const bool whole = kind == Kind::Whole;
    UDEV_RULE rule = *parsed;
    if (rule.KERNEL == nullptr) rule.KERNEL = whole ? g_kernel_whole : g_kernel_part;
    if (rule.SUBSYSTEM == nullptr) rule.SUBSYSTEM = g_subsystem;
    if (rule.SYSFS == nullptr) rule.SYSFS = g_vendor;
    rule.symlink = dlist_new(sizeof(char));
    if (rule.symlink == nullptr) return false;
    for (const std::string& n : names) dlist_push(rule.symlink, const_cast<char*>(n.c_str()));
    char text[VXAPI_UDEV_LINE_SIZE];
    const bool built = vxapi_convert_udevobj_to_rule(&rule, text) == 0;
    vxapi_free_dlist(rule.symlink);
    if (!built) return false;
    const RuleLine again = read_rule(text);
    if (!again.rule || again.damaged || kind_of(text) != kind || !of_lun(again.rule.get(), rule.GUID) ||
        names_of(again.rule.get()) != names) {
        return false;
    }
    *line = text;
    return true;
}

// The LUN's GUID, checked and without its newline: 0, or 1 traced.
int32_t find_guid(const char* op, vxapi_priv_database* port, uint16_t tgt, uint16_t lun, char* guid, uint32_t size) {
    uint8_t devnames[VXSYSFS_DEVNAME_SIZE] = {};
    if (vxsysfs_get_devname(port, tgt, lun, devnames) != 0) {
        trace(op, ": vxsysfs_get_devname failed.");
        return 1;
    }
    std::string first(reinterpret_cast<char*>(devnames), strnlen(reinterpret_cast<char*>(devnames), sizeof devnames));
    first = first.substr(0, first.find(';'));
    const size_t sd = first.find("/sd");
    if (sd == std::string::npos || !device_name_ok(first.c_str() + sd)) {
        trace(op, ": no device name found.");
        return 1;
    }
    std::vector<char> cmd(size);
    if (vxapi_get_lun_guid(cmd.data(), first.c_str() + sd, guid, size) != 0) {
        trace(op, ": get lun_guid failed");
        return 1;
    }
    const size_t len = std::strlen(guid);
    if (len > 0 && guid[len - 1] == '\n') guid[len - 1] = '\0';
    if (guid[0] == '\0' || !vxapi_udev_text_ok(guid)) {
        trace(op, ": get lun_guid failed");
        return 1;
    }
    return 0;
}

// Names and GUID of the LUN, checked before anything runs.
int32_t prepare(const char* op, vxapi_priv_database* port, uint16_t tgt, uint16_t lun, const char* names,
                char* guid) {
    if (names == nullptr || !vxapi_udev_text_ok(names)) {
        trace(op, ": unable to create object");
        return 1;
    }
    return find_guid(op, port, tgt, lun, guid, kGuidSize);
}

// Creates the file afresh with the text and the attributes, set before the
// text goes in: the name is removed first and then made exclusively, so a
// link planted there is never followed.
bool write_fresh(const char* path, const std::string& text, const VxConfAttrs& attrs) {
    vx::Platform& os = vx::sys();
    os.unlink(path);
    const int fd = os.open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = vx_conf_set_attrs(fd, attrs) && vx_conf_write_all(fd, text.data(), text.size()) &&
                         os.fsync(fd) == 0;
    const bool closed = os.close(fd) == 0;
    return written && closed;
}

// Reads the rules file: 0, or 1 traced. A missing file reads as empty.
int32_t read_rules(const char* op, bool missing_ok, std::string* text) {
    const VxConfRead r = vx_conf_read_file(VXAPI_UDEV_RULES_FILE, kRulesLimit, text);
    if (r == VxConfRead::Read || (r == VxConfRead::Missing && missing_ok)) return 0;
    trace(op, ": fopen of udev rules file failed.");
    return 1;
}

// The temporary copy, the backup of the old rules, then the new rules
// renamed over the old: 0, or 1 with the rules file unchanged. All three
// take the mode, owner and group of the rules file (a new rules file's
// without one): the new rules keep them, and no copy is open to more.
int32_t install_rules(const char* op, const std::string& old_text, const std::string& new_text) {
    VxConfAttrs attrs;
    struct stat st {};
    if (vx::sys().stat(VXAPI_UDEV_RULES_FILE, &st) == 0) {
        attrs = vx_conf_attrs_of(st);
    } else if (errno != ENOENT) {
        trace(op, ": stat of udev rules file failed.");
        return 1;
    }
    if (!write_fresh(VXAPI_UDEV_TMP_FILE, new_text, attrs)) {
        trace(op, ": fopen of tmp rules file failed.");
        return 1;
    }
    // A failed backup does not stop the change.
    (void)write_fresh(VXAPI_UDEV_BACKUP_FILE, old_text, attrs);
    if (!write_fresh(VXAPI_UDEV_NEW_FILE, new_text, attrs) ||
        vx::sys().rename(VXAPI_UDEV_NEW_FILE, VXAPI_UDEV_RULES_FILE) != 0) {
        vx::sys().unlink(VXAPI_UDEV_NEW_FILE);
        trace(op, ": fopen of udev rules file failed.");
        return 1;
    }
    return 0;
}

// The partition names of the names text: each followed by "_part%n ", up to
// the first that would take the text past its buffer.
std::string partition_names(const char* names) {
    std::string all(names, strnlen(names, kLineMax));
    std::string out;
    size_t at = 0;
    while (true) {
        at = all.find_first_not_of(' ', at);
        if (at == std::string::npos) break;
        const size_t end = std::min(all.find(' ', at), all.size());
        const std::string name = all.substr(at, end - at);
        if (out.size() + name.size() + 9 > kPartNamesSize) break;
        out += name + kPartSuffix + " ";
        at = end;
    }
    return out;
}

// The rules text rewritten: comment lines and the rule lines of other LUNs
// as they are, each rule line of the LUN rebuilt with the names that
// names_for(kind, its names) gives it (dropped when they are none and
// drop_empty), any other line left out. A line of the LUN that is damaged or
// cannot be rebuilt fails the rewrite, so that no names are lost: 0, or 1
// traced.
template <class NamesFor>
int32_t rewrite(const char* op, const char* guid, const std::string& old_text, bool drop_empty, NamesFor names_for,
                std::string* out) {
    for (const std::string& line : lines_of(old_text)) {
        const Kind kind = kind_of(line);
        if (kind == Kind::Comment) *out += line;
        if (kind == Kind::Comment || kind == Kind::Other) continue;
        const RuleLine read = read_rule(line.c_str());
        if (!read.rule) return 1;
        if (!of_lun(read.rule.get(), guid)) {
            *out += line;
            continue;
        }
        const std::vector<std::string> names = names_for(kind, names_of(read.rule.get()));
        const bool keep = !names.empty() || !drop_empty;
        std::string rebuilt;
        if (read.damaged || (keep && !rebuild(read.rule.get(), kind, names, &rebuilt))) {
            trace(op, ": convert udevrule to object failed");
            return 1;
        }
        *out += rebuilt;
    }
    return 0;
}

// The new rules text of a set: 0, or 1 traced.
int32_t set_text(const char* op, const char* guid, std::vector<std::string> whole, std::vector<std::string> part,
                 const std::string& old_text, std::string* out) {
    for (const std::string& line : lines_of(old_text)) {
        const Kind kind = kind_of(line);
        if (kind == Kind::Comment || kind == Kind::Other) continue;
        const RuleLine read = read_rule(line.c_str());
        if (!read.rule) return 1;
        drop_names(kind == Kind::Whole ? &whole : &part, names_of(read.rule.get()));
    }
    bool whole_found = false;
    bool part_found = false;
    const auto add = [&](Kind kind, std::vector<std::string> names) {
        (kind == Kind::Whole ? whole_found : part_found) = true;
        for (const std::string& n : kind == Kind::Whole ? whole : part) names.push_back(n);
        return names;
    };
    if (rewrite(op, guid, old_text, false, add, out) != 0) return 1;
    UDEV_RULE fresh{};
    fresh.GUID = const_cast<char*>(guid);
    std::string line;
    for (const Kind kind : {Kind::Partition, Kind::Whole}) {
        const std::vector<std::string>& names = kind == Kind::Whole ? whole : part;
        if ((kind == Kind::Whole ? whole_found : part_found) || names.empty()) continue;
        if (!rebuild(&fresh, kind, names, &line)) {
            trace(op, ": convert udevrule to object failed");
            return 1;
        }
        *out += line;
    }
    return 0;
}

// The new rules text of a delete: 0, or 1 traced.
int32_t delete_text(const char* op, const char* guid, const std::vector<std::string>& gone,
                    const std::string& old_text, std::string* out) {
    std::vector<std::string> gone_parts;
    for (const std::string& n : gone) gone_parts.push_back(n + kPartSuffix);
    const auto kept = [&](Kind kind, std::vector<std::string> names) {
        drop_names(&names, kind == Kind::Whole ? gone : gone_parts);
        return names;
    };
    return rewrite(op, guid, old_text, true, kept, out);
}

}  // namespace

bool vxapi_udev_text_ok(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p < 0x20 || *p == 0x7F || *p == '"' || *p == ',' || *p == '\\') return false;
    }
    return true;
}

bool vxapi_udev_name_ok(const char* text) {
    if (!vxapi_udev_text_ok(text)) return false;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x80 || (std::isalnum(c) == 0 && std::strchr(kLinkPunctuation, c) == nullptr)) return false;
    }
    // udev refuses a link through "." or "..".
    std::string words(text);
    for (char& c : words) c = c == ' ' ? '/' : c;
    words = "/" + words + "/";
    return words.find("/./") == std::string::npos && words.find("/../") == std::string::npos;
}

// ---------------------------------------------------------------- texts

char* vxapi_remove_quotes(char* text) {
    if (text == nullptr || *text == '\0') return text;
    if (*text == '"') ++text;
    const size_t len = std::strlen(text);
    if (len > 0 && text[len - 1] == '"') text[len - 1] = '\0';
    return text;
}

char* vxapi_trim_spaces(char* text) {
    if (text == nullptr) return text;
    while (*text == ' ') ++text;
    if (*text == '\0') return text;
    char* end = text + std::strlen(text) - 1;
    while (end > text && *end == ' ') --end;
    *end = '\0';
    return text;
}

void vxapi_free_dlist(struct dlist* list) {
    if (list == nullptr) return;
    while (list->count > 0) dlist_shift(list);
    std::free(list);
}

void vxapi_free_udev_rule(UDEV_RULE* rule) {
    if (rule == nullptr) return;
    vxapi_free_dlist(rule->symlink);
    std::free(rule->data_ptr);
    std::free(rule);
}

namespace {

// A new rule with its own copy of the text and an empty name list.
UDEV_RULE* new_rule(const char* text) {
    auto* rule = static_cast<UDEV_RULE*>(std::calloc(1, sizeof(UDEV_RULE)));
    if (rule == nullptr) return nullptr;
    rule->data_ptr = strdup(text);
    rule->symlink = dlist_new(sizeof(char));
    if (rule->data_ptr == nullptr || rule->symlink == nullptr) {
        vxapi_free_udev_rule(rule);
        return nullptr;
    }
    return rule;
}

void split_names(UDEV_RULE* rule, char* text) {
    char* save = nullptr;
    for (char* name = strtok_r(text, " ", &save); name != nullptr; name = strtok_r(nullptr, " ", &save)) {
        dlist_push(rule->symlink, name);
    }
}

// Cuts an item's value out of it: the text from the value's opening quote
// through its closing quote, cut off from what follows (the blanks before
// the next item, or the line's end). The key is the text before the opening
// quote (the whole item when it has none). Null when a quote is missing or
// more than blanks follow the closing quote.
char* cut_value(char* item, std::string* key) {
    char* open = std::strchr(item, '"');
    key->assign(item, open == nullptr ? std::strlen(item) : static_cast<size_t>(open - item));
    char* close = open == nullptr ? nullptr : std::strchr(open + 1, '"');
    if (close == nullptr) return nullptr;
    for (const char* p = close + 1; *p != '\0'; ++p) {
        if (std::isspace(static_cast<unsigned char>(*p)) == 0) return nullptr;
    }
    close[1] = '\0';
    return open;
}

// Where the value of an item goes: the first key word its key holds decides;
// null for an item of another key. The key is looked for before the value's
// quote only, so a name or GUID holding a key word cannot pass for another
// item.
char** slot_of(UDEV_RULE* rule, const std::string& key, char** symlink) {
    if (contains(key, "KERNEL")) return &rule->KERNEL;
    if (contains(key, "SUBSYSTEM")) return &rule->SUBSYSTEM;
    if (contains(key, "SYSFS") || contains(key, "ATTRS")) return &rule->SYSFS;
    if (contains(key, "ENV{ID_SERIAL}")) return &rule->GUID;
    return contains(key, "SYMLINK+=") ? symlink : nullptr;
}

// The line up to its first newline; the items are found in any order (udev
// reads them so), each text ending at its value's closing quote; a damaged
// item gives no text.
RuleLine read_rule(const char* line) {
    RuleLine read;
    if (line == nullptr) return read;
    read.rule.reset(new_rule(line));
    if (!read.rule) return read;
    UDEV_RULE* rule = read.rule.get();
    char* symlink = nullptr;
    char* rest = rule->data_ptr;
    rest[std::strcspn(rest, "\n")] = '\0';
    for (char* item = strsep(&rest, ","); item != nullptr; item = strsep(&rest, ",")) {
        std::string key;
        char* value = cut_value(item, &key);
        char** slot = slot_of(rule, key, &symlink);
        if (slot == nullptr) continue;
        *slot = value;
        read.damaged = read.damaged || value == nullptr;
    }
    if (rule->GUID != nullptr) rule->GUID = vxapi_remove_quotes(rule->GUID);
    if (symlink != nullptr) {
        char* names = vxapi_remove_quotes(symlink);
        read.names = names;
        split_names(rule, names);
    }
    return read;
}

}  // namespace

UDEV_RULE* vxapi_convert_usernames_to_obj(const char* guid, const char* names, int whole_disk) {
    UDEV_RULE* rule = new_rule(names == nullptr ? "" : names);
    if (rule == nullptr) return nullptr;
    rule->KERNEL = whole_disk != 0 ? g_kernel_whole : g_kernel_part;
    rule->SUBSYSTEM = g_subsystem;
    rule->SYSFS = g_vendor;
    rule->GUID = const_cast<char*>(guid);
    split_names(rule, rule->data_ptr);
    return rule;
}

UDEV_RULE* vxapi_convert_udevrule_to_obj(const char* line) { return read_rule(line).rule.release(); }

int32_t vxapi_convert_udevobj_to_rule(const UDEV_RULE* rule, char* line) {
    if (rule == nullptr || line == nullptr || rule->KERNEL == nullptr || rule->SUBSYSTEM == nullptr ||
        rule->SYSFS == nullptr || rule->GUID == nullptr) {
        return 1;
    }
    std::string text = std::string("KERNEL==") + rule->KERNEL + ", SUBSYSTEM==" + rule->SUBSYSTEM + ", " +
                       (is_udevadm != 0 ? "ATTRS" : "SYSFS") + "{vendor}==" + rule->SYSFS +
                       ", ENV{ID_SERIAL}==\"" + rule->GUID + "\", SYMLINK+=\"";
    for (const std::string& n : names_of(rule)) text += n + " ";
    text += "\"\n";
    if (text.size() > kLineMax) return 1;
    std::memcpy(line, text.c_str(), text.size() + 1);
    return 0;
}

// ---------------------------------------------------------------- commands

int32_t vxapi_get_lun_guid(char* cmd, const char* dev, char* out, uint32_t size) {
    if (cmd == nullptr || out == nullptr || size == 0) return 1;
    std::memset(cmd, 0, size);
    std::memset(out, 0, size);
    const char* const forms[] = {"/sbin/scsi_id -g -u -s /block%s 2> /dev/null",
                                 "/lib/udev/scsi_id --page=0x83 --whitelisted --device=/dev/%s 2> /dev/null"};
    if (device_name_ok(dev)) {
        for (const char* form : forms) {
            const int n = std::snprintf(cmd, size, form, dev);
            if (n < 0 || static_cast<uint32_t>(n) >= size) break;
            if (!last_output_line(cmd, out, size)) break;
            if (out[0] != '\0') return 0;
        }
    }
    trace("vxapi_get_lun_guid failed.", "");
    return 1;
}

int32_t vxapi_udevtrigger() {
    struct stat st {};
    if (vx::sys().stat("/sbin/udevtrigger", &st) == 0) return v_system("/sbin/udevtrigger");
    if (vx::sys().stat("/sbin/udevadm", &st) == 0) return v_system("/sbin/udevadm trigger");
    return 1;
}

// ---------------------------------------------------------------- operations

int32_t vxapi_set_lun_udev_name(int, vxapi_priv_database* port, uint16_t, uint16_t tgt, uint16_t lun,
                                const char* names) {
    const char* op = "vxapi_set_lun_udev_name";
    if (names != nullptr && !vxapi_udev_name_ok(names)) {
        trace(op, ": unable to create object");
        return 1;
    }
    char guid[kGuidSize];
    if (prepare(op, port, tgt, lun, names, guid) != 0) return 1;
    const std::string part_names = partition_names(names);
    RulePtr whole(vxapi_convert_usernames_to_obj(guid, std::string(names, strnlen(names, kLineMax)).c_str(), 1));
    RulePtr part(vxapi_convert_usernames_to_obj(guid, part_names.c_str(), 0));
    if (!whole || !part) {
        trace(op, ": unable to create object");
        return 1;
    }
    std::string old_text;
    std::string new_text;
    if (read_rules(op, true, &old_text) != 0 ||
        set_text(op, guid, names_of(whole.get()), names_of(part.get()), old_text, &new_text) != 0) {
        return 1;
    }
    return install_rules(op, old_text, new_text);
}

int32_t vxapi_delete_lun_udev_name(int, vxapi_priv_database* port, uint16_t, uint16_t tgt, uint16_t lun,
                                   const char* names) {
    const char* op = "vxapi_delete_lun_udev_name";
    char guid[kGuidSize];
    if (prepare(op, port, tgt, lun, names, guid) != 0) return 1;
    RulePtr gone(vxapi_convert_usernames_to_obj(guid, names, 1));
    if (!gone) {
        trace(op, ": unable to create object");
        return 1;
    }
    std::string old_text;
    std::string new_text;
    if (read_rules(op, true, &old_text) != 0 || delete_text(op, guid, names_of(gone.get()), old_text, &new_text) != 0) {
        return 1;
    }
    return install_rules(op, old_text, new_text);
}

int32_t vxapi_get_lun_udev_name(int, vxapi_priv_database* port, uint16_t, uint16_t tgt, uint16_t lun, char* out) {
    const char* op = "vxapi_get_lun_udev_name";
    char guid[kGetGuidSize];
    if (out == nullptr || find_guid(op, port, tgt, lun, guid, sizeof guid) != 0) return 1;
    std::string text;
    if (read_rules(op, false, &text) != 0) return 1;
    for (const std::string& line : lines_of(text)) {
        if (kind_of(line) != Kind::Whole) continue;
        const RuleLine read = read_rule(line.c_str());
        if (!read.rule || !read.names || !of_lun(read.rule.get(), guid)) continue;
        const std::string names = read.names->substr(0, kLineMax);
        std::memcpy(out, names.c_str(), names.size() + 1);
    }
    return 0;
}

// Persistent LUN names: udev rules in the library's own rules file.
#include "core/io/vx_udev.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/vx_conf_file.h"
#include "base/vx_env.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_query.h"

// The items of a rule line as udev reads it.
struct vxapi_udev_items {
    // An item: KEY or KEY{attr}, blanks allowed around the operator, and a
    // value in double quotes (a backslash before a quote keeps it in the
    // value).
    struct Item {
        size_t begin = 0, end = 0;   // its text in the line, without blanks around
        size_t open = 0, close = 0;  // its value's quotes
        std::string key;             // with its {attr}: "ATTRS{vendor}"
        std::string op;              // "==", "!=", "+=", "-=", ":=" or "="
        std::string value;           // between the quotes, as written
    };
    std::vector<Item> list;  // in line order
};

namespace {

constexpr uint32_t kTrace = VXDBG_ERROR;
constexpr const char* kWholeDisk = "sd*[!0-9]";
constexpr const char* kPartition = "sd*[0-9]";
constexpr const char* kPartSuffix = "_part%n";
// The partition names' text.
constexpr size_t kPartNamesSize = 253;
// The longest rule line, with its newline.
constexpr size_t kLineMax = VXAPI_UDEV_LINE_SIZE - 1;
// The longest line udev reads, without its end: at a longer physical line it
// stops reading the file, and a rule line that comes to this length only
// with the lines it goes on in is skipped ("Line is too long").
constexpr size_t kUdevLineMax = 16383;
// The bytes that end a physical line for udev.
constexpr std::string_view kLineEnds("\n\r\0", 3);
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

// The blanks udev skips between items and around an operator: a vertical
// tab or a form feed is none, and makes the line unreadable.
bool blank(char c) { return c == ' ' || c == '\t'; }

// ---------------------------------------------------------------- reading lines as udev reads them

// A line of the rules file as udev reads it: a comment line (blanks, then
// '#'), or the lines udev joins into one rule line (a line ending in a
// backslash goes on in the next, without the next one's leading blanks;
// comment lines among them are skipped).
struct RulesLine {
    std::vector<std::string> physical;  // as in the file, each with its line end
    std::vector<std::string> comments;  // the comment lines among them
    std::string body;                   // the text udev reads, without the line end
    bool comment = false;
    bool open = false;      // the text ends (or udev stops reading) before the line does
    bool unended = false;   // its last physical line got the newline the file lacks
    bool too_long = false;  // joined, it comes to more than udev reads: udev skips it
};

// The lines of a rules file, up to where udev stops reading it.
struct RulesText {
    std::vector<RulesLine> lines;
    bool cut = false;  // udev stops at a physical line longer than it reads
    // Whether udev reads the text as it stands: all of it, and its last rule
    // line is not left open (udev drops that one, and would join a line
    // added after it onto it).
    bool whole() const { return !cut && (lines.empty() || !lines.back().open); }
};

bool line_end(char c) { return kLineEnds.find(c) != std::string_view::npos; }

// The text of a physical line without its end.
std::string content_of(const std::string& line) { return line.substr(0, line.find_first_of(kLineEnds)); }

bool comment_line(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t");
    return first != std::string::npos && line[first] == '#';
}

// Where the physical line starting at `at` ends, after its line end: udev
// ends a line at "\n", "\r" or a NUL byte. A "\n" and a "\r" next to each
// other are one end (so that a lone carriage return starts a line of its
// own), and so is a NUL right after them ("\r\n\0" is one end, "\0\n" two).
size_t physical_end(const std::string& text, size_t at) {
    size_t i = text.find_first_of(kLineEnds, at);
    if (i == std::string::npos) return text.size();
    bool seen[2] = {false, false};  // "\n", "\r"
    for (; i < text.size() && line_end(text[i]); ++i) {
        if (text[i] == '\0') return i + 1;
        bool& kind = seen[text[i] == '\n' ? 0 : 1];
        if (kind) break;
        kind = true;
    }
    return i;
}

// The lines of a text, each with its line end: a last line without one gets
// a newline here (and is marked), so that every line reads alike. Reading
// stops before the first physical line longer than udev reads.
RulesText rules_lines(const std::string& text) {
    RulesText out;
    std::vector<RulesLine>& lines = out.lines;
    bool open = false;
    size_t lead = 0;  // the leading blanks of the open line's first physical line, which udev drops
    for (size_t at = 0; at < text.size();) {
        const size_t end = physical_end(text, at);
        std::string line = text.substr(at, end - at);
        const std::string content = content_of(line);
        if (content.size() > kUdevLineMax) {
            out.cut = true;
            break;
        }
        const bool unended = content.size() == line.size();
        if (unended) line += '\n';
        at = end;
        if (!open) lines.emplace_back();
        RulesLine& l = lines.back();
        l.physical.push_back(line);
        l.unended = unended;
        if (comment_line(line)) {
            (open ? l.comments.push_back(line) : void(l.comment = true));
            continue;
        }
        const size_t blanks = std::min(content.find_first_not_of(" \t"), content.size());
        const std::string piece = open ? content.substr(blanks) : content;
        if (!open) lead = blanks;
        // udev skips a rule line that its continuation takes to its limit,
        // and then goes on by the backslash of each physical line alone.
        l.too_long = l.too_long || (open && l.body.size() - lead + piece.size() > kUdevLineMax);
        l.body += piece;
        open = l.too_long ? piece.ends_with('\\') : l.body.ends_with('\\');
        if (open) l.body.pop_back();
        l.open = open;
    }
    return out;
}

using Item = vxapi_udev_items::Item;

// The operators of udev, as bits of the set a key takes.
enum Op : unsigned { kMatch = 1, kNoMatch = 2, kAssign = 4, kAdd = 8, kRemove = 16, kFinal = 32 };
constexpr unsigned kMatches = kMatch | kNoMatch;
constexpr unsigned kAssigns = kAssign | kAdd | kFinal;

// The operator at `at`, as udev tries them, or "" with none.
std::string_view operator_at(const std::string& line, size_t at, unsigned* bit) {
    static constexpr std::pair<std::string_view, Op> kOps[] = {
        {"==", kMatch}, {"!=", kNoMatch}, {"+=", kAdd}, {"-=", kRemove}, {"=", kAssign}, {":=", kFinal}};
    for (const auto& [op, b] : kOps) {
        if (line.compare(at, op.size(), op) == 0) {
            *bit = b;
            return op;
        }
    }
    return "";
}

// Whether the attribute of TEST is a file mode udev takes: octal digits,
// after blanks, of at most 07777.
bool octal_mode(std::string_view attr) {
    attr.remove_prefix(std::min(attr.find_first_not_of(" \t"), attr.size()));
    if (attr.empty() || attr.find_first_not_of("01234567") != std::string_view::npos) return false;
    return attr.size() - std::min(attr.find_first_not_of('0'), attr.size()) <= 4;
}

// Whether udev takes the key with the attribute (none when null) and the
// operator: udev skips a whole line holding a key it does not know, or one
// with an attribute or an operator that the key does not take, so no link
// comes from it. A key must have an attribute, may have one, or must not
// have one ("{}" is one, empty); some take only the attributes listed.
// SYSFS{} is the old vendor key, which the library still writes where
// udevadm is missing.
bool udev_takes(std::string_view name, const std::string* attr, unsigned op) {
    enum class Attr { None, Needed, Optional };
    struct Key {
        std::string_view name;
        Attr attr;
        unsigned ops;
        std::array<std::string_view, 6> attrs;  // those it takes, when listed
    };
    static const Key kKeys[] = {
        {"ACTION", Attr::None, kMatches, {}},
        {"DEVPATH", Attr::None, kMatches, {}},
        {"KERNEL", Attr::None, kMatches, {}},
        {"KERNELS", Attr::None, kMatches, {}},
        {"SUBSYSTEM", Attr::None, kMatches, {}},
        {"SUBSYSTEMS", Attr::None, kMatches, {}},
        {"DRIVER", Attr::None, kMatches, {}},
        {"DRIVERS", Attr::None, kMatches, {}},
        {"TAGS", Attr::None, kMatches, {}},
        {"RESULT", Attr::None, kMatches, {}},
        {"ATTRS", Attr::Needed, kMatches, {}},
        {"CONST", Attr::Needed, kMatches, {"arch", "virt"}},
        {"TEST", Attr::Optional, kMatches, {}},
        {"NAME", Attr::None, kMatches | kAssigns, {}},
        {"SYMLINK", Attr::None, kMatches | kAssigns, {}},
        {"PROGRAM", Attr::None, kMatches | kAssigns, {}},
        {"ATTR", Attr::Needed, kMatches | kAssigns, {}},
        {"SYSCTL", Attr::Needed, kMatches | kAssigns, {}},
        {"ENV", Attr::Needed, kMatches | kAssigns, {}},
        {"IMPORT", Attr::Needed, kMatches | kAssigns, {"program", "builtin", "file", "db", "cmdline", "parent"}},
        {"TAG", Attr::None, kMatches | kAssigns | kRemove, {}},
        {"OWNER", Attr::None, kAssigns, {}},
        {"GROUP", Attr::None, kAssigns, {}},
        {"MODE", Attr::None, kAssigns, {}},
        {"OPTIONS", Attr::None, kAssigns, {}},
        {"SECLABEL", Attr::Needed, kAssigns, {}},
        {"RUN", Attr::Optional, kAssigns, {"program", "builtin"}},
        {"LABEL", Attr::None, kAssign, {}},
        {"GOTO", Attr::None, kAssign, {}},
        {"SYSFS", Attr::Needed, kMatches, {}},
    };
    // The properties udev keeps for itself: an ENV assignment to one is refused.
    static constexpr std::string_view kOwnProperties[] = {"ACTION", "DEVLINKS", "DEVNAME", "DEVPATH",
                                                          "DEVTYPE", "DRIVER",   "IFINDEX", "MAJOR",
                                                          "MINOR",  "SEQNUM",   "SUBSYSTEM", "TAGS"};
    const auto key = std::ranges::find(kKeys, name, &Key::name);
    if (key == std::end(kKeys) || (key->ops & op) == 0) return false;
    switch (key->attr) {
    case Attr::None:
        if (attr != nullptr) return false;
        break;
    case Attr::Needed:
        if (attr == nullptr || attr->empty()) return false;
        break;
    case Attr::Optional:
        if (name == "TEST" && attr != nullptr && !attr->empty() && !octal_mode(*attr)) return false;
        break;
    }
    if (attr != nullptr && !key->attrs[0].empty() &&
        (attr->empty() || std::ranges::find(key->attrs, *attr) == key->attrs.end())) {
        return false;
    }
    const bool sets_own = name == "ENV" && (op & kAssigns) != 0 &&
                          std::ranges::find(kOwnProperties, *attr) != std::end(kOwnProperties);
    return !sets_own;
}

// Where the quoted text opening at `open` closes, or npos.
size_t closing_quote(const std::string& text, size_t open) {
    for (size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
            ++i;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return std::string::npos;
}

// Reads the item that starts at `begin`, as udev reads it: a key (up to a
// blank, '=', '{' or an operator), an attribute in braces, blanks, an
// operator, blanks and a value in double quotes (a backslash before a quote
// keeps it in the value). False when udev skips the line for it: no key, an
// open brace, no operator, a value that is not quoted or not closed, or a
// key, attribute and operator that udev does not take together. The value
// loses its quotes by vxapi_remove_quotes.
bool read_item(const std::string& line, size_t begin, Item* item) {
    size_t at = begin;
    while (at < line.size() && !blank(line[at]) && line[at] != '{' && line[at] != '=' &&
           !(std::strchr("+-!:", line[at]) != nullptr && at + 1 < line.size() && line[at + 1] == '=')) {
        ++at;
    }
    const std::string_view name = std::string_view(line).substr(begin, at - begin);
    std::optional<std::string> attr;
    if (at < line.size() && line[at] == '{') {
        const size_t close = line.find('}', at);
        if (close == std::string::npos) return false;
        attr = line.substr(at + 1, close - at - 1);
        at = close + 1;
    }
    item->key = line.substr(begin, at - begin);
    while (at < line.size() && blank(line[at])) ++at;
    unsigned op = 0;
    item->op = operator_at(line, at, &op);
    if (item->op.empty() || !udev_takes(name, attr ? &*attr : nullptr, op)) return false;
    at += item->op.size();
    while (at < line.size() && blank(line[at])) ++at;
    if (at >= line.size() || line[at] != '"') return false;
    item->open = at;
    item->close = closing_quote(line, at);
    if (item->close == std::string::npos) return false;
    std::string quoted = line.substr(item->open, item->close + 1 - item->open);
    item->value = vxapi_remove_quotes(quoted.data());
    std::tie(item->begin, item->end) = std::tuple(begin, item->close + 1);
    return true;
}

// The items of a rule line, as udev reads them: separated by any run of
// commas, blanks and tabs, or by nothing after a value's closing quote.
// False when udev skips the line (an item it cannot read, or text that is
// no item). Reached through the parse only.
bool read_items(const std::string& line, std::vector<Item>* items) {
    for (size_t at = 0; (at = line.find_first_not_of(" \t,", at)) != std::string::npos;) {
        Item item;
        if (!read_item(line, at, &item)) return false;
        items->push_back(item);
        at = item.end;
    }
    return true;
}

bool is_link(const Item& item) { return item.key == "SYMLINK" && item.op == "+="; }

// The names of a SYMLINK+= value, separated by blanks.
std::vector<std::string> split_blanks(const std::string& value) {
    std::vector<std::string> names;
    for (size_t at = 0; (at = value.find_first_not_of(" \t", at)) != std::string::npos;) {
        const size_t end = std::min(value.find_first_of(" \t", at), value.size());
        names.push_back(value.substr(at, end - at));
        at = end;
    }
    return names;
}

// A SYMLINK+= item in the library's form: each name followed by a space.
std::string link_item(const std::vector<std::string>& names) {
    std::string text = "SYMLINK+=\"";
    for (const std::string& n : names) text += n + " ";
    return text + "\"";
}

// Whether the line is the LUN's: it holds ENV{ID_SERIAL}=="<GUID>".
bool of_lun(const std::vector<Item>& items, const char* guid) {
    return std::ranges::any_of(
        items, [&](const Item& i) { return i.key == "ENV{ID_SERIAL}" && i.op == "==" && i.value == guid; });
}

// Whether udev reads a match value as more than the text itself: a shell
// pattern ("*?[") or alternatives separated by '|'.
bool udev_pattern(std::string_view value) { return value.find_first_of("*?[|") != std::string_view::npos; }

// Whether a match value of udev takes the text: any of its alternatives
// (separated by '|'), each a shell pattern when the value holds one of
// "*?[", else the text itself.
bool udev_matches(const std::string& value, const std::string& text) {
    const bool glob = value.find_first_of("*?[") != std::string::npos;
    for (size_t at = 0;;) {
        const size_t end = std::min(value.find('|', at), value.size());
        const std::string alternative = value.substr(at, end - at);
        if (glob ? fnmatch(alternative.c_str(), text.c_str(), 0) == 0 : alternative == text) return true;
        if (end == value.size()) return false;
        at = end + 1;
    }
}

// Whether the serial items of a line cannot all hold for one device: an
// ENV{ID_SERIAL}== item names one serial (a plain, non-empty value), and
// another serial item refuses it (ENV{ID_SERIAL}=="a", ENV{ID_SERIAL}=="b").
// udev reads such a line but it applies to no device. The first serial
// named is the one to try: any other plain one that differs refuses it.
bool serials_disagree(const std::vector<Item>& items) {
    const auto serial = [](const Item& i) { return i.key == "ENV{ID_SERIAL}" && (i.op == "==" || i.op == "!="); };
    const auto named = std::ranges::find_if(items, [&](const Item& i) {
        return serial(i) && i.op == "==" && !i.value.empty() && !udev_pattern(i.value);
    });
    return named != items.end() && std::ranges::any_of(items, [&](const Item& i) {
               return serial(i) && udev_matches(i.value, named->value) != (i.op == "==");
           });
}

// What a rule line matches, by its KERNEL== item: the whole disk
// ("sd*[!0-9]"), its partitions ("sd*[0-9]"), or neither (no such item,
// another pattern, or more than one item; or a line whose serials disagree,
// which matches no device).
enum class Kind { Whole, Partition, Unknown };

Kind kind_of(const std::vector<Item>& items) {
    if (serials_disagree(items)) return Kind::Unknown;
    Kind kind = Kind::Unknown;
    int kernels = 0;
    for (const Item& i : items) {
        if (i.key != "KERNEL" || i.op != "==") continue;
        ++kernels;
        kind = i.value == kWholeDisk ? Kind::Whole : i.value == kPartition ? Kind::Partition : Kind::Unknown;
    }
    return kernels == 1 ? kind : Kind::Unknown;
}

struct RuleDeleter {
    void operator()(UDEV_RULE* r) const { vxapi_free_udev_rule(r); }
};
using RulePtr = std::unique_ptr<UDEV_RULE, RuleDeleter>;

void split_names(UDEV_RULE* rule, char* text);

// The texts of a parsed rule from its items, in its copy of the line: the
// values of its KERNEL==, SUBSYSTEM== and vendor (ATTRS{vendor}== or
// SYSFS{vendor}==) items with their quotes, of its ENV{ID_SERIAL}== item
// without, and the names of its SYMLINK+= items; of repeated items, the last.
void take_texts(UDEV_RULE* rule) {
    char* text = rule->data_ptr;
    for (const Item& i : rule->items->list) {
        text[i.close + 1] = '\0';
        char** slot = nullptr;
        if (i.op == "==") {
            if (i.key == "KERNEL") slot = &rule->KERNEL;
            if (i.key == "SUBSYSTEM") slot = &rule->SUBSYSTEM;
            if (i.key == "ATTRS{vendor}" || i.key == "SYSFS{vendor}") slot = &rule->SYSFS;
        }
        if (slot != nullptr) *slot = text + i.open;
        if (i.key == "ENV{ID_SERIAL}" && i.op == "==") rule->GUID = vxapi_remove_quotes(text + i.open);
    }
    for (const Item& i : rule->items->list) {
        if (is_link(i)) split_names(rule, vxapi_remove_quotes(text + i.open));
    }
}

// A line of the rules file (not a comment line) parsed: false, traced, when
// out of memory.
bool parse(const char* op, const RulesLine& l, RulePtr* rule) {
    rule->reset(vxapi_convert_udevrule_to_obj(l.body.c_str()));
    if (!*rule) trace(op, ": convert udevrule to object failed");
    return *rule != nullptr;
}

// The items of the parsed line, or null when udev skips it: the parse found
// it unreadable, or its continuation made it too long.
const std::vector<Item>* items_of(const UDEV_RULE* rule, const RulesLine& l) {
    return rule->items != nullptr && !l.too_long ? &rule->items->list : nullptr;
}

// The names of a rule, in line order.
std::vector<std::string> names_of(const UDEV_RULE* rule) {
    std::vector<std::string> names;
    if (rule->symlink == nullptr) return names;
    char* name;
    dlist_for_each_data(rule->symlink, name, char) names.emplace_back(name);
    return names;
}

// The line of a rule in the library's form, with the vendor key given; ""
// when a text is missing.
std::string rule_text(const UDEV_RULE* rule, const char* vendor_key) {
    if (rule->KERNEL == nullptr || rule->SUBSYSTEM == nullptr || rule->SYSFS == nullptr || rule->GUID == nullptr) {
        return "";
    }
    return std::string("KERNEL==") + rule->KERNEL + ", SUBSYSTEM==" + rule->SUBSYSTEM + ", " + vendor_key +
           "{vendor}==" + rule->SYSFS + ", ENV{ID_SERIAL}==\"" + rule->GUID + "\", " + link_item(names_of(rule)) +
           "\n";
}

bool has_name(const std::vector<std::string>& names, const std::string& name) {
    return std::ranges::find(names, name) != names.end();
}

void drop_names(std::vector<std::string>* names, const std::vector<std::string>& gone) {
    std::erase_if(*names, [&](const std::string& n) { return has_name(gone, n); });
}

// A change of the link names of the LUN's lines of one kind: the names that
// leave them, and those that join them.
struct LinkChange {
    std::vector<std::string> gone, added;
};

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l;
    return text;
}

// A line as it stands in the file, byte for byte (a last line without its
// newline too).
std::string as_written(const RulesLine& l) {
    std::string text = joined(l.physical);
    if (l.unended) text.pop_back();
    return text;
}

// What stands in place of a line of the LUN once its link names change: the
// line changed, after the comment lines that stood among its lines; only
// those comment lines when it goes (no names are left and it assigns nothing
// else, or, in the library's form, no names are left and `drop_empty`); the
// line as written when its names stay. nullopt when it would not fit.
//  - In the library's own form it is written again whole, as the library
//    writes it (with the vendor key of this host).
//  - Otherwise only its SYMLINK+= items change: the names leave the items
//    that hold them, the new ones join the last (or a new item after the
//    last item); an item whose names change is written in the library's
//    form, one left empty is removed with the separator before it (after
//    it, when it is the first). Every other item keeps its text and place.
// rule: the line's parsed rule, whose names the rebuild replaces.
std::optional<std::string> changed_line(const RulesLine& l, UDEV_RULE* rule, const LinkChange& change,
                                        bool drop_empty) {
    const std::vector<Item>& items = rule->items->list;
    if (l.physical.size() == 1 &&
        (rule_text(rule, "ATTRS") == l.physical[0] || rule_text(rule, "SYSFS") == l.physical[0])) {
        std::vector<std::string> names = names_of(rule);
        drop_names(&names, change.gone);
        names.insert(names.end(), change.added.begin(), change.added.end());
        if (names.empty() && drop_empty) return "";
        vxapi_free_dlist(rule->symlink);
        rule->symlink = dlist_new(sizeof(char));
        if (rule->symlink == nullptr) return std::nullopt;
        for (const std::string& n : names) dlist_push(rule->symlink, const_cast<char*>(n.c_str()));
        char text[VXAPI_UDEV_LINE_SIZE];
        const bool built = vxapi_convert_udevobj_to_rule(rule, text) == 0;
        vxapi_free_dlist(rule->symlink);
        rule->symlink = nullptr;
        return built ? std::optional<std::string>(text) : std::nullopt;
    }
    size_t last = items.size();
    for (size_t i = 0; i < items.size(); ++i) last = is_link(items[i]) ? i : last;
    std::string out = l.body.substr(0, items.front().begin);
    bool written = false, assigns = false, changed = false;
    size_t names = 0, after = items.front().begin;
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        std::string text = l.body.substr(item.begin, item.end - item.begin);
        if (is_link(item)) {
            std::vector<std::string> kept = split_blanks(item.value);
            const size_t had = kept.size();
            drop_names(&kept, change.gone);
            if (i == last) kept.insert(kept.end(), change.added.begin(), change.added.end());
            if (kept.size() != had || (i == last && !change.added.empty())) {
                text = kept.empty() ? "" : link_item(kept);
                changed = true;
            }
            names += kept.size();
        } else {
            assigns = assigns || (item.op != "==" && item.op != "!=");
        }
        if (!text.empty()) {
            out += (written ? l.body.substr(after, item.begin - after) : "") + text;
            written = true;
        }
        after = item.end;
    }
    if (last == items.size() && !change.added.empty()) {
        out += ", " + link_item(change.added);
        names += change.added.size();
        changed = true;
    }
    if (!changed) return as_written(l);
    const std::string& last_line = l.physical.back();
    out += l.body.substr(items.back().end) + last_line.substr(content_of(last_line).size());
    if (names == 0 && !assigns) return joined(l.comments);
    if (out.size() > kLineMax) return std::nullopt;
    return joined(l.comments) + out;
}
// Whether the device name is "/sd" followed by letters and digits.
bool device_name_ok(const char* dev) {
    if (dev == nullptr || std::strncmp(dev, "/sd", 3) != 0 || dev[3] == '\0') return false;
    for (const char* p = dev + 3; *p != '\0'; ++p) {
        if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9'))) return false;
    }
    return true;
}

// Runs the command and keeps the last line of its output in out (size
// bytes), with its newline: false when it could not be started. Every line
// must fit whole, at most size - 2 characters besides its newline (so that
// the newline and the NUL fit too), and hold no NUL byte; otherwise out stays
// empty, as for a command that printed nothing: a line is never taken in
// part, nor is a line after one that did not fit taken in its place.
bool last_output_line(const char* cmd, char* out, uint32_t size) {
    FILE* f = vx::sys().popen(cmd, "re");
    if (f == nullptr) return false;
    std::string last, line;
    bool fits = true;
    for (int c = 0; fits && (c = std::getc(f)) != EOF;) {
        if (c == '\n') {
            last = std::exchange(line, {}) + '\n';
            continue;
        }
        line += static_cast<char>(c);
        fits = c != '\0' && line.size() + 2 <= size;
    }
    vx::sys().pclose(f);
    if (!line.empty()) last = line;  // the output's last line, without a newline
    if (fits) std::memcpy(out, last.c_str(), last.size() + 1);
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
    return find_guid(op, port, tgt, lun, guid, VXAPI_UDEV_GUID_SIZE);
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
    const VxConfRead r = vx_conf_read_file(VXAPI_UDEV_RULES_FILE, VX_CONF_FILE_LIMIT, text);
    if (r == VxConfRead::Read || (r == VxConfRead::Missing && missing_ok)) return 0;
    trace(op, ": fopen of udev rules file failed.");
    return 1;
}

// The temporary copy, the backup of the old rules, then the new rules
// renamed over the old: 0, or 1 with the rules file unchanged. All three
// take the mode, owner and group of the rules file (a new rules file's
// without one): the new rules keep them, and no copy is open to more. New
// rules that the reader would refuse (vx_conf_fits) are not written.
int32_t install_rules(const char* op, const std::string& old_text, const std::string& new_text) {
    if (!vx_conf_fits(new_text)) {
        trace(op, ": the udev rules file would pass its bound.");
        return 1;
    }
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
    // The backup is written whole under a name of its own and renamed over
    // the earlier one, which so stays as it was when the backup fails; a
    // failed backup does not stop the change.
    VxConfTempFile backup;
    (void)(backup.create_beside(VXAPI_UDEV_BACKUP_FILE, attrs) && backup.write(old_text) && backup.commit() &&
           backup.rename_over(VXAPI_UDEV_BACKUP_FILE));
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

// The rules text rewritten: each line of the LUN with its link names
// changed by the change of its kind, every other line as written, in its
// place (comment lines, rules, other LUNs' lines, empty lines, and text
// that udev skips). A text that udev does not read as it stands (it stops
// at a line too long, or the last rule line is left open), a line that
// cannot be read and holds the LUN's GUID, and a line of the LUN whose kind
// its KERNEL== item does not tell or that would not fit, fail the rewrite,
// so that no name is lost, none is added where udev would not read it, and
// no rule changes its meaning: 0, or 1 traced. found: whether a line of the
// LUN of each kind (whole, partition) was there.
int32_t rewrite(const char* op, const char* guid, const RulesText& rules, const LinkChange& whole,
                const LinkChange& part, bool drop_empty, std::string* out, bool found[2]) {
    if (!rules.whole()) {
        trace(op, rules.cut ? ": udev stops reading the rules file at a line too long"
                            : ": the rules file ends in the middle of a line");
        return 1;
    }
    for (const RulesLine& l : rules.lines) {
        RulePtr rule;
        if (!l.comment && !parse(op, l, &rule)) return 1;
        const std::vector<Item>* items = l.comment ? nullptr : items_of(rule.get(), l);
        std::optional<std::string> text;
        if (l.comment || (items == nullptr ? !contains(l.body, guid) : !of_lun(*items, guid))) {
            text = as_written(l);
        } else if (const Kind kind = items == nullptr ? Kind::Unknown : kind_of(*items); kind != Kind::Unknown) {
            text = changed_line(l, rule.get(), kind == Kind::Whole ? whole : part, drop_empty);
            found[kind == Kind::Whole ? 0 : 1] = true;
        }
        if (!text) {
            trace(op, ": convert udevrule to object failed");
            return 1;
        }
        *out += *text;
    }
    return 0;
}

// The new rules text of a set: the names join the LUN's lines but those that
// a line of their kind already has (a line udev cannot read has none); a
// kind without a line of the LUN gets a new one (the partition line first),
// after a newline that the file's last line lacks. 0, or 1 traced.
int32_t set_text(const char* op, const char* guid, std::vector<std::string> whole, std::vector<std::string> part,
                 const std::string& old_text, std::string* out) {
    const RulesText rules = rules_lines(old_text);
    for (const RulesLine& l : rules.lines) {
        RulePtr rule;
        if (l.comment) continue;
        if (!parse(op, l, &rule)) return 1;
        const std::vector<Item>* items = items_of(rule.get(), l);
        const Kind kind = items == nullptr ? Kind::Unknown : kind_of(*items);
        if (kind != Kind::Unknown) drop_names(kind == Kind::Whole ? &whole : &part, names_of(rule.get()));
    }
    bool found[2] = {false, false};
    if (rewrite(op, guid, rules, {{}, whole}, {{}, part}, false, out, found) != 0) return 1;
    for (const Kind kind : {Kind::Partition, Kind::Whole}) {
        const bool is_whole = kind == Kind::Whole;
        const std::vector<std::string>& names = is_whole ? whole : part;
        if (found[is_whole ? 0 : 1] || names.empty()) continue;
        RulePtr fresh(vxapi_convert_usernames_to_obj(guid, "", is_whole ? 1 : 0));
        char line[VXAPI_UDEV_LINE_SIZE];
        if (!fresh) return 1;
        if (!out->empty() && out->back() != '\n' && out->back() != '\0') *out += '\n';
        for (const std::string& n : names) dlist_push(fresh->symlink, const_cast<char*>(n.c_str()));
        if (vxapi_convert_udevobj_to_rule(fresh.get(), line) != 0) {
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
    bool found[2] = {false, false};
    return rewrite(op, guid, rules_lines(old_text), {gone, {}}, {gone_parts, {}}, true, out, found);
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
    delete rule->items;
    std::free(rule->data_ptr);
    std::free(rule);
}

namespace {

// A new rule with its own copy of the text and an empty name list.
UDEV_RULE* new_rule(const std::string& text) {
    auto* rule = static_cast<UDEV_RULE*>(std::calloc(1, sizeof(UDEV_RULE)));
    if (rule == nullptr) return nullptr;
    rule->data_ptr = static_cast<char*>(std::malloc(text.size() + 1));
    rule->symlink = dlist_new(sizeof(char));
    if (rule->data_ptr == nullptr || rule->symlink == nullptr) {
        vxapi_free_udev_rule(rule);
        return nullptr;
    }
    std::memcpy(rule->data_ptr, text.c_str(), text.size() + 1);
    return rule;
}

// Splits the names text in place at blanks, as udev splits a link list.
void split_names(UDEV_RULE* rule, char* text) {
    char* save = nullptr;
    for (char* name = strtok_r(text, " \t", &save); name != nullptr; name = strtok_r(nullptr, " \t", &save)) {
        dlist_push(rule->symlink, name);
    }
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

UDEV_RULE* vxapi_convert_udevrule_to_obj(const char* line) {
    if (line == nullptr) return nullptr;
    const std::string text(line, std::strcspn(line, "\r\n"));
    UDEV_RULE* rule = new_rule(text);
    auto* read = rule == nullptr ? nullptr : new (std::nothrow) vxapi_udev_items;
    if (read == nullptr) {
        vxapi_free_udev_rule(rule);
        return nullptr;
    }
    if (!read_items(text, &read->list)) {
        delete read;  // udev skips the line: no items, no texts
        return rule;
    }
    rule->items = read;
    take_texts(rule);
    return rule;
}

int32_t vxapi_convert_udevobj_to_rule(const UDEV_RULE* rule, char* line) {
    if (rule == nullptr || line == nullptr) return 1;
    const std::string text = rule_text(rule, is_udevadm != 0 ? "ATTRS" : "SYSFS");
    if (text.empty() || text.size() > kLineMax) return 1;
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
    char guid[VXAPI_UDEV_GUID_SIZE];
    if (prepare(op, port, tgt, lun, names, guid) != 0) return 1;
    // As the value of ENV{ID_SERIAL}== such a GUID would give the names to
    // every LUN whose serial it matches. scsi_id prints none of these
    // characters; the get and the delete compare GUIDs as text.
    if (udev_pattern(guid)) {
        trace(op, ": lun_guid holds a udev pattern character");
        return 1;
    }
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
    char guid[VXAPI_UDEV_GUID_SIZE];
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
    char guid[VXAPI_UDEV_GUID_SIZE];
    if (out == nullptr || find_guid(op, port, tgt, lun, guid, sizeof guid) != 0) return 1;
    std::string text;
    if (read_rules(op, false, &text) != 0) return 1;
    // The values of every SYMLINK+= item of the LUN's whole-disk line, as
    // written, one blank between them: udev makes links of them all. A line
    // that udev skips or drops (left open where the file ends or udev stops
    // reading it) makes none, and so do the lines after a line too long.
    for (const RulesLine& l : rules_lines(text).lines) {
        RulePtr rule;
        if (l.comment || l.open) continue;
        if (!parse(op, l, &rule)) return 1;
        const std::vector<Item>* items = items_of(rule.get(), l);
        if (items == nullptr || !of_lun(*items, guid) || kind_of(*items) != Kind::Whole) continue;
        std::optional<std::string> names;
        for (const Item& item : *items) {
            if (is_link(item)) names = (names ? *names + " " : "") + item.value;
        }
        if (!names) continue;
        *names = names->substr(0, kLineMax);
        std::memcpy(out, names->c_str(), names->size() + 1);
    }
    return 0;
}

// The udev rule line parser and builder, and the rules file rewrite.
// Line mode: every parsed text ends at its value's closing quote (none holds
// the line's end or an unescaped quote), the parse reads a line exactly when
// udev 252 does, a line the parse cannot read has no texts and no names, and
// a parsed line that builds again parses back to the same GUID and names.
// File mode: names set and then deleted for LUN 0:0 of
// host 5 over the input as the rules file; a refused change leaves the file
// as it was, and every change over a file that udev does not read whole
// (it stops at a line too long, or drops a rule line left open at the end)
// is refused; a change made keeps every line that is not the LUN's (as udev
// reads the file: its items read and it holds ENV{ID_SERIAL}=="<GUID>"), and
// the comment lines among the LUN's, whole and in order; it glues nothing
// onto the file's last line (one without its newline stays last or gets
// one); it loses no name of any SYMLINK+= item udev reads but those
// deleted, and the get answers the names set (but those another rule line
// already had) and none deleted. The reader of the checks is udev 252's
// (udev_lines.h): the get answers only names of lines that udev reads and
// applies to the LUN's device, whether the change was made or not, and a set
// puts the names on such a line (but those that a line udev applies had
// before).
// GUID mode: the input is what scsi_id prints for LUN 0:0 (the second command
// form prints nothing). The set, the get and the delete of names take the
// GUID alike: the last line printed, whole, when every line fits (at most 510
// characters besides its newline) and holds no NUL; else all three fail
// with the rules file unchanged. A set writes rule lines of that GUID only,
// and fails only when its lines would not fit or the GUID holds a character
// that udev reads as a pattern in a match value ('*', '?', '[', '|'), with
// the rules file unchanged; the get and the delete take such a GUID as text.
// The get answers no name of another GUID's line.
// Input: a mode byte (bit 1: GUID mode, else bit 0: file mode), then the
// line, the rules file or the command's output.
#include <optional>
#include <set>

#include "core/io/vx_udev.h"
#include "fuzz_support.h"
#include "sim_sysfs_adapters.h"
#include "transport/vx_sysfs_prim.h"
#include "udev_lines.h"

namespace {

constexpr unsigned kHost = 5;
constexpr const char* kGuid = "600a0b80001";
constexpr const char* kNames = "n m";

std::string names(const UDEV_RULE* rule) {
    std::string out;
    char* name;
    dlist_for_each_data(rule->symlink, name, char) out += std::string(name) + "|";
    return out;
}

// KERNEL, SUBSYSTEM and SYSFS are one quoted value each; no text holds a
// line end, nor a quote but one escaped by a backslash.
void check_texts(const UDEV_RULE* rule) {
    const auto inner_ok = [](const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' || (text[i] == '"' && (i == 0 || text[i - 1] != '\\'))) return false;
        }
        return true;
    };
    for (const char* quoted : {rule->KERNEL, rule->SUBSYSTEM, rule->SYSFS}) {
        if (quoted == nullptr) continue;
        const std::string text(quoted);
        FUZZ_CHECK(text.size() >= 2 && text[0] == '"' && text.back() == '"' &&
                   inner_ok(text.substr(1, text.size() - 2)));
    }
    FUZZ_CHECK(inner_ok(rule->GUID == nullptr ? "" : rule->GUID));
    char* name;
    dlist_for_each_data(rule->symlink, name, char) FUZZ_CHECK(inner_ok(name) && std::strpbrk(name, " \t") == nullptr);
}

int line_mode(const std::string& line) {
    UDEV_RULE* rule = vxapi_convert_udevrule_to_obj(line.c_str());
    if (rule == nullptr) return 0;
    check_texts(rule);
    // The parse reads the line up to its first line end as udev 252 does.
    const std::string body(line.c_str(), std::strcspn(line.c_str(), "\r\n"));
    FUZZ_CHECK((rule->items != nullptr) == udevread::items(body).has_value());
    if (rule->items == nullptr) {
        FUZZ_CHECK(rule->KERNEL == nullptr && rule->SUBSYSTEM == nullptr && rule->SYSFS == nullptr &&
                   rule->GUID == nullptr && rule->symlink->count == 0);
    }
    char built[VXAPI_UDEV_LINE_SIZE];
    const bool plain =
        rule->GUID != nullptr && vxapi_udev_text_ok(rule->GUID) && vxapi_udev_text_ok(names(rule).c_str());
    if (vxapi_convert_udevobj_to_rule(rule, built) == 0 && plain) {
        FUZZ_CHECK(strnlen(built, sizeof built) < sizeof built);
        UDEV_RULE* again = vxapi_convert_udevrule_to_obj(built);
        FUZZ_CHECK(again != nullptr && again->GUID != nullptr && std::strcmp(again->GUID, rule->GUID) == 0 &&
                   names(again) == names(rule));
        vxapi_free_udev_rule(again);
    }
    vxapi_free_udev_rule(rule);
    return 0;
}

// The port of host 5, whose LUN 0:0 is sdc with the GUID kGuid.
vxapi_priv_database& port() {
    static vxapi_priv_database rec = [] {
        sim::SysfsAdapter adapter = sim::sysfs_adapter(0x2532, {kHost});
        sim::SysfsRemotePort rport;
        rport.luns = {{0, "sdc", 3, {}}};
        adapter.functions[0].host.rports = {rport};
        sim::install_sysfs_adapters(fuzz::host(), {.adapters = {adapter}});
        fuzz::host().script_command("/sbin/scsi_id -g -u -s /block/sdc 2> /dev/null", {std::string(kGuid) + "\n"});
        std::strcpy(sysfs_mnt_path, "/sys");
        vxapi_priv_database r{};
        r.host_no = kHost;
        return r;
    }();
    return rec;
}

bool line_end(char c) { return c == '\n' || c == '\r' || c == '\0'; }

// Whether the text's last line has its line end.
bool ended(const std::string& text) { return !text.empty() && line_end(text.back()); }

bool comment(const std::string& physical) {
    const size_t first = physical.find_first_not_of(" \t");
    return first != std::string::npos && physical[first] == '#';
}

// Whether udev reads the line as the LUN's.
bool of_lun(const udevread::Line& l) {
    const auto items = udevread::items(l);
    return items && udevread::of_lun(*items, kGuid);
}

// The physical lines of the old file that stay whole, in order: those of
// every line that is not the LUN's, and the comment lines among the LUN's.
// The file's last line without its newline when it has none.
std::vector<std::string> staying(const std::string& text) {
    const std::vector<udevread::Line> lines = udevread::lines(text);
    std::vector<std::string> out;
    for (const udevread::Line& l : lines) {
        const bool lun = of_lun(l);
        for (const std::string& p : l.physical) {
            if (lun && !comment(p)) continue;
            out.push_back(p);
            if (&l == &lines.back() && &p == &l.physical.back() && !ended(text)) out.back().pop_back();
        }
    }
    return out;
}

// Whether udev makes the links of a line it reads for some device: a line
// naming a serial (a plain value of ENV{ID_SERIAL}==) whose other serial
// matches refuse it applies to none.
bool applies(const std::vector<udevread::Item>& items) {
    for (const udevread::Item& i : items) {
        const bool plain = !i.value.empty() && i.value.find_first_of("*?[|") == std::string::npos;
        if (i.key == "ENV{ID_SERIAL}" && i.op == "==" && plain && !udevread::serial_matches(items, i.value)) {
            return false;
        }
    }
    return true;
}

// The names of every SYMLINK+= item of the lines udev reads; with `lun`,
// only of those it applies to the LUN's device, and with `applying`, of
// those it applies to some device.
std::set<std::string> rule_names(const std::string& text, bool lun = false, bool applying = false) {
    std::set<std::string> out;
    for (const udevread::Line& l : udevread::lines(text)) {
        const auto items = udevread::items(l);
        if (!items || (lun && !udevread::applies_to_lun(*items, kGuid)) || (applying && !applies(*items))) continue;
        for (const std::string& n : udevread::names(*items)) out.insert(n);
    }
    return out;
}

// The names the get answers for the LUN.
std::set<std::string> answered() {
    char out[VXAPI_UDEV_LINE_SIZE] = "";
    FUZZ_CHECK(vxapi_get_lun_udev_name(-1, &port(), 0, 0, 0, out) == 0);
    std::set<std::string> names;
    std::string text(out);
    for (size_t at = 0; (at = text.find_first_not_of(" \t", at)) != std::string::npos;) {
        const size_t end = std::min(text.find_first_of(" \t", at), text.size());
        names.insert(text.substr(at, end - at));
        at = end;
    }
    return names;
}

// The get answers only names that udev makes links of for the LUN.
void check_answer(const std::string& text) {
    const std::set<std::string> lun_names = rule_names(text, true);
    for (const std::string& name : answered()) FUZZ_CHECK(lun_names.count(name) == 1);
}

// What a change made leaves: no name lost but those deleted, and the get's answer.
void check_names(bool set, const std::string& before, const std::string& after) {
    const std::set<std::string> old_names = rule_names(before), new_names = rule_names(after);
    const std::set<std::string> deleted = {"n", "m", "n_part%n", "m_part%n"};
    for (const std::string& name : old_names) {
        FUZZ_CHECK(new_names.count(name) == 1 || (!set && deleted.count(name) == 1));
    }
    const std::set<std::string> answer = answered();
    for (const char* name : {"n", "m"}) {
        FUZZ_CHECK(set ? answer.count(name) == 1 || old_names.count(name) == 1 : answer.count(name) == 0);
    }
    // A set puts each name where udev makes it the LUN's link, but a name
    // that a line udev applies had before.
    check_answer(after);
    const std::set<std::string> lun_names = rule_names(after, true), taken = rule_names(before, false, true);
    for (const char* name : {"n", "m"}) {
        FUZZ_CHECK(!set || lun_names.count(name) == 1 || taken.count(name) == 1);
    }
}

// One change over the text: the file afterwards.
std::string change(bool set, const std::string& text) {
    sim::SimHost& host = fuzz::host();
    host.write_file(VXAPI_UDEV_RULES_FILE, text);
    const int32_t result = set ? vxapi_set_lun_udev_name(-1, &port(), 0, 0, 0, kNames)
                               : vxapi_delete_lun_udev_name(-1, &port(), 0, 0, 0, kNames);
    const std::string after = host.read_file(VXAPI_UDEV_RULES_FILE);
    if (result != 0) {
        FUZZ_CHECK(after == text);
        check_answer(text);
        return after;
    }
    FUZZ_CHECK(udevread::read_whole(text) && udevread::read_whole(after));
    // The file ends with a whole line, or with its old last line as it was.
    const std::string unended = after.substr(after.find_last_of(std::string("\r\n\0", 3)) + 1);
    FUZZ_CHECK(unended.empty() || text.ends_with(unended));
    FUZZ_CHECK(!udevread::lines(after).empty() || after.empty());
    size_t at = 0;
    for (const std::string& line : staying(text)) {
        // at a line's start, and, without its newline, at the end of one
        while ((at = after.find(line, at)) != std::string::npos) {
            const size_t end = at + line.size();
            if ((at == 0 || line_end(after[at - 1])) &&
                ((!line.empty() && line_end(line.back())) || end == after.size() || line_end(after[end]))) {
                break;
            }
            ++at;
        }
        FUZZ_CHECK(at != std::string::npos);
        at += line.size();
    }
    check_names(set, text, after);
    return after;
}

int file_mode(const std::string& text) {
    port();
    fuzz::Traced traced;
    change(false, change(true, text));
    return 0;
}

constexpr const char* kFirstForm = "/sbin/scsi_id -g -u -s /block/sdc 2> /dev/null";

// The GUID that the output names, as the library must read it: its last
// line without the newline, when every line fits and holds no NUL and the
// GUID is one a rule may hold; else none.
std::optional<std::string> guid_of(const std::string& output) {
    std::string last;
    for (size_t at = 0; at < output.size();) {
        const size_t end = std::min(output.find('\n', at), output.size());
        last = output.substr(at, end - at);
        if (last.size() > VXAPI_UDEV_GUID_SIZE - 2 || last.find('\0') != std::string::npos) return std::nullopt;
        at = end + 1;
    }
    if (last.empty() || !vxapi_udev_text_ok(last.c_str())) return std::nullopt;
    return last;
}

int guid_mode(const std::string& output) {
    port();
    fuzz::Traced traced;
    sim::SimHost& host = fuzz::host();
    host.script_command(kFirstForm, {output});
    // Another LUN's line: its GUID holds a comma, which no GUID read may hold.
    const std::string before = "# kept\nKERNEL==\"sd*[!0-9]\", ENV{ID_SERIAL}==\"600a0b80001,f\", SYMLINK+=\"o\"\n";
    host.write_file(VXAPI_UDEV_RULES_FILE, before);
    const std::optional<std::string> guid = guid_of(output);
    const auto get = [&](const char* want) {
        char out[VXAPI_UDEV_LINE_SIZE] = "unchanged";
        FUZZ_CHECK(vxapi_get_lun_udev_name(-1, &port(), 0, 0, 0, out) == (guid ? 0 : 1));
        FUZZ_CHECK(std::strcmp(out, want) == 0);
    };
    get("unchanged");

    const int32_t set = vxapi_set_lun_udev_name(-1, &port(), 0, 0, 0, kNames);
    const std::string after = host.read_file(VXAPI_UDEV_RULES_FILE);
    // The partition line of the names: 115 characters besides the GUID.
    const bool pattern = guid && guid->find_first_of("*?[|") != std::string::npos;
    FUZZ_CHECK((set == 0) == (guid && !pattern && guid->size() + 115 < VXAPI_UDEV_LINE_SIZE));
    if (set == 0) {
        FUZZ_CHECK(after.starts_with(before));
        const std::vector<udevread::Line> added = udevread::lines(after.substr(before.size()));
        FUZZ_CHECK(added.size() == 2);
        for (const udevread::Line& l : added) {
            const auto items = udevread::items(l);
            FUZZ_CHECK(items && udevread::of_lun(*items, *guid));
        }
        get("n m ");
    } else {
        FUZZ_CHECK(after == before);
    }
    FUZZ_CHECK(vxapi_delete_lun_udev_name(-1, &port(), 0, 0, 0, kNames) == (guid ? 0 : 1));
    FUZZ_CHECK(host.read_file(VXAPI_UDEV_RULES_FILE) == before);
    get("unchanged");
    host.script_command(kFirstForm, {std::string(kGuid) + "\n"});
    return 0;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    const std::string whole = "KERNEL==\"sd*[!0-9]\", SUBSYSTEM==\"block\", ATTRS{vendor}==\"0x7a5a\", ";
    const std::string part = "KERNEL==\"sd*[0-9]\", SUBSYSTEM==\"block\", ATTRS{vendor}==\"0x7a5a\", ";
    const std::string other = whole + "ENV{ID_SERIAL}==\"3600a0b8\", SYMLINK+=\"a b \"";
    const std::string own = part + "ENV{ID_SERIAL}==\"600a0b80001\", SYMLINK+=\"x_part%n \"\n" + whole +
                            "ENV{ID_SERIAL}==\"600a0b80001\", SYMLINK+=\"x \"\n";
    // Hand-edited lines of the LUN: the vendor after the names, a KERNEL item without its opening quote.
    const std::string guid = "ENV{ID_SERIAL}==\"600a0b80001\"";
    const std::string moved =
        "KERNEL==\"sd*[!0-9]\", SUBSYSTEM==\"block\", " + guid + ", SYMLINK+=\"x \", ATTRS{vendor}==\"0x7a5a\"\n";
    const std::string damaged =
        "KERNEL==1sd*[!0-9]\", SUBSYSTEM==\"block\", ATTRS{vendor}==\"0x7a5a\", " + guid + ", SYMLINK+=\"x \"\n";
    return {join_texts(0, {other + "\n"}),
            join_texts(0, {moved}),
            join_texts(1, {other + "\n" + moved}),
            join_texts(1, {damaged + other}),
            join_texts(1, {"# comment without newline"}),
            join_texts(1, {own + other}),
            join_texts(1, {"# dos\r\n" + other + "\r\n" + own + "# last\r"}),
            join_texts(1, {own + std::string("# n\0ul\n", 7) + other.substr(0, 40) + std::string(1, '\0') +
                           other.substr(40)}),
            join_texts(1, {"\n\nforeign\n" + own}),
            // Lines of the LUN as people edit them: two link lists, blanks around an operator, other keys, an
            // indented comment, a line going on in the next with a comment among its lines, a line of every disk
            // but this one.
            join_texts(1, {whole + guid + ", SYMLINK+=\"n\", SYMLINK += \"x\"\n"}),
            join_texts(1, {"ACTION==\"add\", " + whole + guid + ", OWNER=\"root\", SYMLINK+=\"n\"\n  # note\n"}),
            join_texts(1, {whole + "\\\n  # in\n   " + guid + ", SYMLINK+=\"m\"\n" + other + "\\"}),
            join_texts(1, {whole + "ENV{ID_SERIAL}!=\"600a0b80001\", SYMLINK+=\"q\"\n"}),
            // Lines that are not the LUN's around its own: rules, an empty line, words and a key that udev skips, a
            // line the file ends in the middle of; keys udev does not know on the LUN's line.
            join_texts(1, {"ACTION==\"add\", KERNEL==\"sda\", RUN+=\"/bin/true\"\n\nstray\n" + own +
                           "KERNEL==\"sdq\", ENV{ID_SERIAL}==\"other\", FOO=\"x\", SYMLINK+=\"n\"\r\n" +
                           "KERNEL==\"sdr\", \\"}),
            join_texts(1, {own + "KERNEL==\"sd*[!0-9]\", SYMLINK+=\"m\" \\\n"}),
            join_texts(0, {whole + guid + ", SYML$NK=\"f\", SYMLINK+=\"x\""}),
            join_texts(1, {whole + guid + ", SYM" + std::string(1, '\0') + "LINK=\"f\", SYMLINK+=\"x\"\n" + own}),
            // udev 252's reading: an operator or attribute the key does not take, a vertical tab, serials that
            // disagree, items apart by blanks or glued after a quote, a lone CR ending the LUN's line.
            join_texts(1, {whole + guid + ", OWNER==\"root\", SYMLINK+=\"x\"\n" + whole + guid +
                           ", RUN{foo}+=\"/bin/true\", SYMLINK+=\"n\"\n"}),
            join_texts(1, {whole + guid + ",\vSYMLINK+=\"x\"\n" + whole + guid +
                           ", ENV{ID_SERIAL}==\"o\", SYMLINK+=\"m\"\n"}),
            join_texts(1, {"KERNEL==\"sd*[!0-9]\" " + guid + "SYMLINK+=\"x\"\tTEST{}==\"/\"\n"}),
            join_texts(1, {whole + guid + ", OWNER=\"root\",\rSYMLINK+=\"n\"\n\r" + part + guid + "\r\n"}),
            // Where udev stops reading: a line of 16,384 characters, a rule line left open at the end, a rule line
            // joined past udev's limit; a NUL ending a comment or a line of the LUN.
            join_texts(1, {own + "#" + std::string(16383, 'c') + "\n" + other + "\n"}),
            join_texts(1, {own + "#" + std::string(16382, 'c') + "\r\n" + whole + guid + ", SYMLINK+=\"m\"\n"}),
            join_texts(1, {own + whole + guid + ", SYMLINK+=\"m\" \\\n# \\"}),
            join_texts(1, {whole + guid + ", \\\n  OWNER=\"" + std::string(16300, 'u') + "\", SYMLINK+=\"x\"\n"}),
            join_texts(1, {std::string("# c\0", 4) + whole + guid + ", SYMLINK+=\"x\"" + std::string("\0\n\n\0", 4) +
                           part + guid + ", SYMLINK+=\"x_part%n\"\n"}),
            // scsi_id's output: a GUID of 396 characters (the longest a set writes), one of 510 and 511, another LUN's
            // GUID after a line too long, a NUL inside, two lines, no newline, nothing.
            join_texts(2, {std::string(396, 'g') + "\n"}),
            join_texts(2, {std::string(510, 'g') + "\n"}),
            join_texts(2, {std::string(511, 'g') + "\n"}),
            join_texts(2, {std::string(600, 'g') + "\n600a0b80001\n"}),
            join_texts(2, {std::string("600a0b80001\0ff\n", 15)}),
            join_texts(2, {"x\n600a0b80001\n"}),
            join_texts(2, {"600a0b80001"}),
            join_texts(2, {""}),
            // GUIDs that udev would read as a pattern.
            join_texts(2, {"600a0b8000*\n"}),
            join_texts(2, {"600a0b8000?\n"}),
            join_texts(2, {"600a0b8000[01]\n"}),
            join_texts(2, {"x|600a0b80001\n"})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint8_t mode = in.byte();
    const std::string text = fuzz::str(in.rest());
    if ((mode & 2) != 0) return guid_mode(text);
    return (mode & 1) != 0 ? file_mode(text) : line_mode(text);
}

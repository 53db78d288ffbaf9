// How udev 252 reads a rules file, written apart from the library's reader so
// that the tests' checks of the rules it writes do not share its faults:
//  - a physical line ends at "\n", "\r" or NUL: one of each of "\n" and "\r"
//    in a row make one end, and a NUL ends it at once ("\n\r\0" is one end,
//    "\0\n" two); a line ending in a backslash goes on in the next (without
//    that line's leading blanks, comment lines among them skipped); a comment
//    line is blanks then '#';
//  - udev reads nothing from a physical line of more than 16,383 characters
//    (its end not counted) on; it skips a rule line whose continuation takes
//    it to 16,384 (the first line's leading blanks not counted), going on
//    then by each physical line's own backslash; it drops a rule line left
//    open at the end of what it reads;
//  - items are separated by any run of commas, blanks and tabs, or by nothing
//    after a closing quote; an item is KEY or KEY{attr}, an operator with
//    blanks allowed around it, and a value in double quotes (a backslash
//    keeps a quote inside);
//  - udev skips a line holding a key it does not know, a key with an
//    attribute or operator that the key does not take, anything else that is
//    not an item (a vertical tab, a form feed).
#pragma once

#include <fnmatch.h>

#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace udevread {

struct Line {
    std::vector<std::string> physical;  // each with its line end ("\n" added to an unended last line)
    std::string body;                   // as udev reads it
    bool comment = false;
    bool open = false;      // the file ends (or udev stops reading) inside it: udev drops it
    bool too_long = false;  // joined, it is longer than udev reads: udev skips it
};

// The lines udev reads of the text; `stopped`: it stops before the end, at a
// physical line too long.
inline std::vector<Line> lines(const std::string& text, bool* stopped = nullptr) {
    constexpr size_t kLongest = 16383;
    std::vector<Line> out;
    bool open = false;
    size_t lead = 0;
    size_t at = 0;
    if (stopped != nullptr) *stopped = false;
    while (at < text.size()) {
        // The line's text, then its end.
        size_t end = at;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r' && text[end] != '\0') ++end;
        std::string eol;
        for (size_t i = end; i < text.size(); ++i) {
            const char c = text[i];
            if ((c != '\n' && c != '\r' && c != '\0') || eol.find(c) != std::string::npos) break;
            eol += c;
            if (c == '\0') break;
        }
        const std::string line = text.substr(at, end - at);
        if (line.size() > kLongest) {
            if (stopped != nullptr) *stopped = true;
            break;
        }
        at = end + eol.size();
        if (!open) out.emplace_back();
        Line& l = out.back();
        l.physical.push_back(line + (eol.empty() ? "\n" : eol));
        const size_t first = std::min(line.find_first_not_of(" \t"), line.size());
        if (first < line.size() && line[first] == '#') {
            l.comment = !open;
            continue;
        }
        const std::string piece = open ? line.substr(first) : line;
        if (!open) {
            lead = first;
        } else if (!l.too_long && l.body.size() - lead + piece.size() >= kLongest + 1) {
            l.too_long = true;
        }
        l.body += piece;
        open = (l.too_long ? piece : l.body).ends_with('\\');
        if (open) l.body.pop_back();
        l.open = open;
    }
    return out;
}

// Whether udev reads the whole text and no rule line is left open at its end.
inline bool read_whole(const std::string& text) {
    bool stopped = false;
    const std::vector<Line> ls = lines(text, &stopped);
    return !stopped && (ls.empty() || !ls.back().open);
}

struct Item {
    std::string text, key, op, value;
};

// Whether udev 252 takes the key (its name and "{attr}", when it has one)
// with the operator, by its table: for each group of keys, what attribute
// they take ("-": none, "+": one that is not empty, "?": none or any, or
// the attributes themselves, "|" between them, "" standing for none) and
// their operators.
inline bool takes(const std::string& name, const std::optional<std::string>& attr, const std::string& op) {
    static const struct {
        const char *keys, *attrs, *ops;
    } table[] = {
        {"ACTION DEVPATH KERNEL KERNELS SUBSYSTEM SUBSYSTEMS DRIVER DRIVERS TAGS RESULT", "-", "== !="},
        {"ATTRS SYSFS", "+", "== !="},
        {"CONST", "arch|virt", "== !="},
        {"TEST", "mode", "== !="},
        {"NAME SYMLINK PROGRAM", "-", "== != = += :="},
        {"ATTR SYSCTL ENV", "+", "== != = += :="},
        {"IMPORT", "program|builtin|file|db|cmdline|parent", "== != = += :="},
        {"TAG", "-", "== != = += -= :="},
        {"OWNER GROUP MODE OPTIONS", "-", "= += :="},
        {"SECLABEL", "+", "= += :="},
        {"RUN", "|program|builtin", "= += :="},
        {"LABEL GOTO", "-", "="},
    };
    const auto has_word = [](const std::string& words, const std::string& word, char sep) {
        std::istringstream in(words);
        for (std::string w; std::getline(in, w, sep);) {
            if (w == word) return true;
        }
        return false;
    };
    for (const auto& row : table) {
        if (!has_word(row.keys, name, ' ')) continue;
        if (!has_word(row.ops, op, ' ')) return false;
        const std::string attrs = row.attrs;
        if (attrs == "-") return !attr;
        if (attrs == "+") {
            // udev keeps some properties of its own: ENV cannot set them.
            static const std::regex own("ACTION|DEVLINKS|DEVNAME|DEVPATH|DEVTYPE|DRIVER|IFINDEX|MAJOR|MINOR|SEQNUM|"
                                        "SUBSYSTEM|TAGS");
            const bool sets = op != "==" && op != "!=";
            return attr && !attr->empty() && !(name == "ENV" && sets && std::regex_match(*attr, own));
        }
        if (attrs == "mode") {
            static const std::regex mode("[ \t]*0*[0-7]{1,4}");
            return !attr || attr->empty() || std::regex_match(*attr, mode);
        }
        return attr ? !attr->empty() && has_word(attrs, *attr, '|') : attrs.front() == '|';
    }
    return false;
}

// The items of a line; nullopt when udev skips the line.
inline std::optional<std::vector<Item>> items(const std::string& body) {
    static const std::regex head(R"re(^([A-Z]+)(\{([^}]*)\})?[ \t]*(==|!=|\+=|-=|=|:=)[ \t]*")re");
    std::vector<Item> out;
    size_t at = 0;
    while (true) {
        while (at < body.size() && (body[at] == ' ' || body[at] == '\t' || body[at] == ',')) ++at;
        if (at == body.size()) return out;
        std::smatch m;
        const std::string rest = body.substr(at);
        if (!std::regex_search(rest, m, head)) return std::nullopt;
        std::optional<std::string> attr;
        if (m[2].matched) attr = m[3];
        // The key must end where udev ends it: "KERNELX==" is the key KERNELX.
        if (!takes(m[1], attr, m[4])) return std::nullopt;
        // The value, up to the first quote that no backslash keeps.
        size_t i = at + static_cast<size_t>(m.length(0));
        const size_t value_at = i;
        for (; i < body.size() && body[i] != '"'; ++i) {
            if (body[i] == '\\' && i + 1 < body.size() && body[i + 1] == '"') ++i;
        }
        if (i == body.size()) return std::nullopt;
        out.push_back({body.substr(at, i + 1 - at), attr ? m[1].str() + "{" + *attr + "}" : m[1].str(), m[4],
                       body.substr(value_at, i - value_at)});
        at = i + 1;
    }
}

// The items of a line that udev reads as a rule: nullopt for a comment, a
// line it skips or one it drops.
inline std::optional<std::vector<Item>> items(const Line& l) {
    if (l.comment || l.open || l.too_long) return std::nullopt;
    return items(l.body);
}

inline bool is_link(const Item& i) { return i.key == "SYMLINK" && i.op == "+="; }

// The names of the SYMLINK+= items, split at blanks.
inline std::vector<std::string> names(const std::vector<Item>& items) {
    std::vector<std::string> out;
    for (const Item& i : items) {
        if (!is_link(i)) continue;
        for (size_t at = 0; (at = i.value.find_first_not_of(" \t", at)) != std::string::npos;) {
            const size_t end = std::min(i.value.find_first_of(" \t", at), i.value.size());
            out.push_back(i.value.substr(at, end - at));
            at = end;
        }
    }
    return out;
}

// The texts of the items that are not SYMLINK+= items, in line order.
inline std::vector<std::string> others(const std::vector<Item>& items) {
    std::vector<std::string> out;
    for (const Item& i : items) {
        if (!is_link(i)) out.push_back(i.text);
    }
    return out;
}

// Whether the line is the LUN's: it holds ENV{ID_SERIAL}=="<guid>".
inline bool of_lun(const std::vector<Item>& items, const std::string& guid) {
    for (const Item& i : items) {
        if (i.key == "ENV{ID_SERIAL}" && i.op == "==" && i.value == guid) return true;
    }
    return false;
}

// Whether every ENV{ID_SERIAL} match of the line holds for a device with
// this serial: a value of alternatives ("|") that are shell patterns when it
// holds one of "*?[", else texts.
inline bool serial_matches(const std::vector<Item>& items, const std::string& serial) {
    for (const Item& i : items) {
        if (i.key != "ENV{ID_SERIAL}" || (i.op != "==" && i.op != "!=")) continue;
        const bool glob = i.value.find_first_of("*?[") != std::string::npos;
        bool hit = false;
        std::istringstream in(i.value + "|");
        for (std::string alt; std::getline(in, alt, '|');) {
            hit = hit || (glob ? fnmatch(alt.c_str(), serial.c_str(), 0) == 0 : alt == serial);
        }
        if (hit != (i.op == "==")) return false;
    }
    return true;
}

// Whether udev makes the line's links for the LUN's device: it is the LUN's
// and its serial matches hold for the LUN's serial.
inline bool applies_to_lun(const std::vector<Item>& items, const std::string& guid) {
    return of_lun(items, guid) && serial_matches(items, guid);
}

}  // namespace udevread

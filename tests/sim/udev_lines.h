// How udev reads a rules file, written apart from the library's reader so
// that the tests' checks of the rules it writes do not share its faults: a
// line ending in a backslash goes on in the next (without that line's
// leading blanks, comment lines among them skipped), a comment line is
// blanks then '#', items are split at commas outside double quotes (a
// backslash keeps a quote inside), an item is KEY or KEY{attr}, an operator
// with blanks allowed around it, and a value in double quotes. udev skips a
// line holding a key it does not know, and a line holding a NUL byte.
#pragma once

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace udevread {

struct Line {
    std::vector<std::string> physical;  // each with its newline
    std::string body;                   // as udev reads it
    bool comment = false;
    bool open = false;  // the file ends inside it
};

inline std::vector<Line> lines(const std::string& text) {
    std::vector<Line> out;
    bool open = false;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!open) out.emplace_back();
        out.back().physical.push_back(line + "\n");
        const size_t first = std::min(line.find_first_not_of(" \t"), line.size());
        if (first < line.size() && line[first] == '#') {
            out.back().comment = !open;
            continue;
        }
        std::string content = line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
        if (open) content.erase(0, std::min(content.find_first_not_of(" \t\r"), content.size()));
        std::string& body = out.back().body;
        body += content;
        open = body.ends_with('\\');
        if (open) body.pop_back();
        out.back().open = open;
    }
    return out;
}

struct Item {
    std::string text, key, op, value;
};

// Whether udev knows the key: a key of its own, some of which take an
// attribute ("{name}", never empty) that they must or may have.
inline bool known_key(const std::string& key) {
    static const std::regex known(
        "ACTION|DEVPATH|KERNELS?|NAME|SYMLINK|SUBSYSTEMS?|DRIVERS?|TAGS?|PROGRAM|RESULT|OWNER|GROUP|MODE|OPTIONS|"
        "LABEL|GOTO|RUN|TEST|(ATTRS?|SYSCTL|ENV|CONST|TEST|SECLABEL|IMPORT|RUN|SYSFS)\\{[^}]+\\}");
    return std::regex_match(key, known);
}

// The items of a line; nullopt when one cannot be read, or udev skips the line.
inline std::optional<std::vector<Item>> items(const std::string& body) {
    if (body.find('\0') != std::string::npos) return std::nullopt;
    static const std::regex item(R"re(^\s*((?:[^\s={+!:-]|[+!:-](?!=))+(\{[^}]*\})?)\s*(==|!=|\+=|-=|:=|=)\s*"((\\"|[^"])*)"\s*$)re");
    std::vector<Item> out;
    bool quoted = false;
    std::string piece;
    for (size_t i = 0; i <= body.size(); ++i) {
        if (i < body.size() && quoted && body[i] == '\\' && i + 1 < body.size() && body[i + 1] == '"') {
            piece += body.substr(i++, 2);
            continue;
        }
        if (i < body.size() && (body[i] != ',' || quoted)) {
            quoted = quoted != (body[i] == '"');
            piece += body[i];
            continue;
        }
        std::smatch m;
        if (piece.find_first_not_of(" \t\r") != std::string::npos) {
            if (!std::regex_match(piece, m, item) || !known_key(m[1])) return std::nullopt;
            const size_t b = piece.find_first_not_of(" \t\r"), e = piece.find_last_not_of(" \t\r");
            out.push_back({piece.substr(b, e - b + 1), m[1], m[3], m[4]});
        }
        piece.clear();
    }
    if (quoted) return std::nullopt;
    return out;
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

}  // namespace udevread

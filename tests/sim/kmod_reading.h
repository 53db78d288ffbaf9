// What kmod and the kernel make of a module configuration file, written
// apart from the library's reader so that a test checks it: kmod reads
// logical lines (a backslash before a newline joins the next line, any other
// backslash is dropped and the character after it kept; the line is a C
// string), a line starting with '#' is a comment, "options <module> <text>"
// gives the module the text after the one blank ending its name, the options
// of a module are joined with blanks in file order, and the kernel splits
// them at white space outside double quotes, the last value of a name
// winning.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kmodread {

// (module, parameter name) -> the value the module gets; quotes around the value are kept, those around a
// parameter quoted whole are not.
using Settings = std::map<std::pair<std::string, std::string>, std::string>;

struct Reading {
    Settings settings;
    std::vector<std::string> lines;  // as "modprobe --showconfig" prints the options
    int bad = 0;                     // options lines that kmod ignores: no module, or no options
};

inline bool kernel_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The next word of s split at blanks and tabs (as strtok_r), or "" at the end.
inline std::string_view next_word(std::string_view s, size_t* at) {
    size_t i = *at;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    *at = j;
    return s.substr(i, j - i);
}

// nullopt when kmod reads past the end of the file (a last backslash) or a
// module's options end inside quotes.
inline std::optional<Reading> read(std::string_view text) {
    Reading out;
    std::vector<std::pair<std::string, std::string>> options;  // in file order
    size_t i = 0;
    while (i < text.size()) {
        std::string line;
        while (i < text.size() && text[i] != '\n') {
            if (text[i] == '\\') {
                if (++i == text.size()) return std::nullopt;
                if (text[i] == '\n') {
                    ++i;
                    continue;
                }
            }
            line += text[i++];
        }
        ++i;
        const std::string_view seen = std::string_view(line).substr(0, line.find('\0'));
        if (seen.empty() || seen[0] == '#') continue;
        size_t at = 0;
        if (next_word(seen, &at) != "options") continue;
        const std::string module(next_word(seen, &at));
        if (module.empty() || at + 1 >= seen.size()) {  // no options: a bad line
            ++out.bad;
            continue;
        }
        std::string opts(seen.substr(at + 1));
        for (char& c : opts) c = c == '\t' ? ' ' : c;
        out.lines.push_back("options " + module + " " + opts);
        options.emplace_back(module, opts);
    }
    std::map<std::string, std::string> joined;
    for (const auto& [module, opts] : options) {
        std::string& all = joined[module];
        all += all.empty() ? opts : " " + opts;
    }
    for (const auto& [module, all] : joined) {
        size_t k = 0;
        while (k < all.size()) {
            while (k < all.size() && kernel_space(all[k])) ++k;
            if (k == all.size()) break;
            const size_t begin = k;
            bool quoted = false;
            for (; k < all.size() && (quoted || !kernel_space(all[k])); ++k) quoted = all[k] == '"' ? !quoted : quoted;
            if (quoted) return std::nullopt;
            std::string_view param = std::string_view(all).substr(begin, k - begin);
            // A parameter quoted whole loses the quotes around it, as the kernel takes it.
            if (param.front() == '"') {
                param.remove_prefix(1);
                if (param.ends_with('"')) param.remove_suffix(1);
            }
            const size_t eq = param.find('=');
            const std::string name(param.substr(0, eq));
            out.settings[{module, name}] = eq == std::string_view::npos ? "" : std::string(param.substr(eq + 1));
        }
    }
    return out;
}

}  // namespace kmodread

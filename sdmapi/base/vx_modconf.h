// A module configuration file (modprobe.conf, modules.conf, modprobe.d) read
// as kmod reads it, and changed one parameter at a time.
//
// kmod reads logical lines: a backslash before a newline joins the next line,
// any other backslash is dropped and the character after it taken as it is.
// A line whose first character is '#' is a comment, continued lines and all.
// A line whose first two words (split at blanks and tabs) are "options" and
// the module's name gives the module the rest of the line, and the kernel
// splits that into parameters at white space outside double quotes; a
// parameter's name runs up to its '='. Every options line of the module
// counts, in file order, and the last value of a parameter wins. Lines are
// of any length.
//
// An edit changes the physical text only where it must: every other line,
// parameter, quote, blank and continuation stays as it was. A value that
// stands in a continued line is replaced with its continuations kept; a
// parameter added to a line goes at the end of the logical line, where kmod
// still reads it. A line from which the edits remove every parameter goes
// whole, with its line end: kmod refuses an options line without any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One parameter of an options line; offsets are into the line's logical text.
struct VxModParam {
    std::string name;   // up to its '=' (the whole word without one)
    std::string value;  // after its '=', quotes kept
    size_t begin = 0, value_begin = 0, end = 0;
    bool has_equals = false;
};

// Where a logical line's characters are in the file: from `logical` on, the
// characters follow each other from `physical` on. A segment starts the line,
// and another follows every backslash that kmod drops.
enum class VxModJoin : uint8_t { Start, Continued, Escaped };
struct VxModSegment {
    size_t logical = 0, physical = 0;
    VxModJoin join = VxModJoin::Start;
};

// An options line of the module.
struct VxModLine {
    size_t begin = 0;        // physical start of its first line
    size_t next = 0;         // physical start of the line after it
    bool has_newline = false;
    std::string text;        // as kmod reads it, without the newline
    std::vector<VxModSegment> segments;
    size_t key_end = 0;      // logical end of the module's name
    std::vector<VxModParam> params;

    // The line as kmod reads it, with its newline when it has one.
    [[nodiscard]] std::string read_text() const { return has_newline ? text + '\n' : text; }
};

class VxModConf {
public:
    // Reads the text for the options of the module.
    VxModConf(std::string_view text, std::string_view module);
    // Reads the text for the options of the module that its first options
    // line names (a driver's line taken from its file).
    explicit VxModConf(std::string_view text);
    VxModConf(const VxModConf&) = delete;
    VxModConf& operator=(const VxModConf&) = delete;

    // Whether kmod reads the text as the reader does: false for a file that
    // ends in an escaping backslash, and for an options line of the module
    // that holds a NUL byte or ends inside double quotes.
    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] const std::vector<VxModLine>& lines() const { return lines_; }
    [[nodiscard]] std::string_view module() const { return module_; }
    // The line as it stands in the text: its continuations, escapes and line end.
    [[nodiscard]] std::string_view physical(const VxModLine& line) const {
        return text_.substr(line.begin, line.next - line.begin);
    }
    // The text's lines as kmod reads them that are neither blank nor the
    // module's options lines (comments and other lines among them).
    [[nodiscard]] size_t other_lines() const { return other_lines_; }

    // The last place of the parameter (line and parameter index), kmod's.
    struct Place {
        size_t line, param;
    };
    [[nodiscard]] std::optional<Place> last(std::string_view name) const;
    // The parameter's value as the module gets it (the last one).
    [[nodiscard]] std::optional<std::string_view> value(std::string_view name) const;
    // value() of every parameter of the module, by name, read in one pass
    // over the lines: a caller that asks for many parameters does not read
    // the lines again for each. The views are into this reader's lines.
    [[nodiscard]] std::unordered_map<std::string_view, std::string_view> last_values() const;

    // Edits, applied together by result().
    // The value at the place becomes value.
    void replace_value(Place at, std::string_view value);
    // Every place of the parameter goes, with the blanks before it: in every
    // options line, or in line `only`.
    void remove_all(std::string_view name, size_t only = std::string::npos);
    // Text inserted right after the module's name, or at the end of the line.
    void insert_after_key(size_t line, std::string_view text);
    void append_to_line(size_t line, std::string_view text);
    // Text added at the end of the file, on a line of its own: after a
    // newline when the file's last line is not ended (or is continued).
    void append_text(std::string_view text);
    // The one parameter set: its value replaced where it stands last, else
    // " name=value" added to the module's first options line; false when the
    // module has no options line (nothing is edited then).
    bool set(std::string_view name, std::string_view value);
    // The parameters of the options lines (every one, or line `only`) become
    // those of `options`: a text of blank lines and options lines of the
    // module, read by VxModConf(text, module()) as kmod reads them. A
    // parameter whose value differs is written where it stands last, as
    // `options` writes it; one that `options` lacks goes from every place;
    // one that they lack is added to the first of them. Every other
    // parameter stays where and as it is. Without an options line, the lines
    // of `options` that hold parameters end the text. false, with nothing
    // edited, when kmod would not read `options` as it is written, it holds
    // other lines, or it was read for another module.
    bool take_options(const VxModConf& options, size_t only = std::string::npos);

    // The text with the edits; false when a changed line, as kmod reads it
    // with its newline, would pass `line_max` characters.
    [[nodiscard]] bool result(size_t line_max, std::string* out) const;

private:
    struct Edit {
        size_t begin, end;
        std::string with;
        size_t line;             // the changed line, or npos for appended text
        ptrdiff_t logical_delta;  // what the change adds to the line as kmod reads it
        size_t removed = std::string::npos;  // the parameter it removes, adding nothing
    };
    // The whole parameter at the place becomes `text` (physical, `logical`
    // characters as kmod reads it).
    void replace_param(Place at, std::string_view text, size_t logical);
    // The parameter at the place goes, with the blanks before it.
    void remove_param(Place at);
    // The parameter's text as it stands in the text.
    std::string_view param_text(const VxModLine& line, const VxModParam& p) const;
    size_t physical_begin(const VxModLine& line, size_t k) const;
    size_t physical_end(const VxModLine& line, size_t k) const;
    std::string joints_in(const VxModLine& line, size_t b, size_t e) const;
    void read_line(size_t begin);
    void parse_options(VxModLine* line);

    std::string_view text_;
    std::string_view module_;
    std::string named_;  // the module named by the text, when it names the module
    bool any_module_ = false;
    size_t other_lines_ = 0;
    bool ok_ = true;
    bool open_end_ = false;  // the last line is not ended by a newline
    size_t pos_ = 0;
    std::vector<VxModLine> lines_;
    std::vector<Edit> edits_;
};

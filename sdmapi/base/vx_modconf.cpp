// A module configuration file read as kmod reads it, and its edits.
#include "base/vx_modconf.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr std::string_view kOptions = "options";
constexpr std::string_view kContinuation = "\\\n";

// The blanks that separate kmod's words.
bool is_blank(char c) { return c == ' ' || c == '\t'; }
// The white space at which the kernel splits parameters.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The word of the text that starts at or after i (blanks skipped), and its end.
std::string_view word_at(std::string_view text, size_t i, size_t* end) {
    while (i < text.size() && is_blank(text[i])) ++i;
    size_t j = i;
    while (j < text.size() && !is_blank(text[j])) ++j;
    *end = j;
    return text.substr(i, j - i);
}

}  // namespace

VxModConf::VxModConf(std::string_view text, std::string_view module) : text_(text), module_(module) {
    while (pos_ < text_.size()) read_line(pos_);
}

VxModConf::VxModConf(std::string_view text) : text_(text), any_module_(true) {
    while (pos_ < text_.size()) read_line(pos_);
}

// One logical line from begin: joined at every backslash before a newline;
// any other backslash is dropped and the character after it kept.
void VxModConf::read_line(size_t begin) {
    VxModLine line;
    line.begin = begin;
    line.segments.push_back({0, begin, VxModJoin::Start});
    size_t i = begin;
    while (i < text_.size()) {
        const char c = text_[i];
        if (c == '\n') {
            line.has_newline = true;
            ++i;
            break;
        }
        if (c != '\\') {
            line.text += c;
            ++i;
            continue;
        }
        if (i + 1 == text_.size()) {  // kmod would read a character past the end
            ok_ = false;
            i = text_.size();
            break;
        }
        const bool joined = text_[i + 1] == '\n';
        line.segments.push_back({line.text.size(), i + (joined ? 2 : 1), joined ? VxModJoin::Continued : VxModJoin::Escaped});
        if (!joined) line.text += text_[i + 1];
        i += 2;
    }
    pos_ = i;
    line.next = i;
    open_end_ = !line.has_newline;
    // kmod reads the line as a C string: up to its first NUL.
    const std::string_view seen = std::string_view(line.text).substr(0, line.text.find('\0'));
    const bool blank = seen.find_first_not_of(" \t\r") == std::string_view::npos;
    size_t end = 0;
    const bool options = !blank && seen[0] != '#' && word_at(seen, 0, &end) == kOptions;
    const std::string_view module = options ? word_at(seen, end, &end) : std::string_view();
    if (options && any_module_ && module_.empty() && !module.empty()) {
        named_ = module;
        module_ = named_;
    }
    if (!options || module_.empty() || module != module_) {
        if (!blank) ++other_lines_;
        return;
    }
    line.key_end = end;
    if (seen.size() != line.text.size()) ok_ = false;
    parse_options(&line);
    lines_.push_back(std::move(line));
}

// The parameters of the options: kmod gives the module the text after the
// one blank that ends its name, and the kernel splits it at white space
// outside double quotes.
void VxModConf::parse_options(VxModLine* line) {
    const std::string& t = line->text;
    size_t i = line->key_end + 1;
    while (i < t.size()) {
        while (i < t.size() && is_space(t[i])) ++i;
        if (i == t.size()) break;
        VxModParam p;
        p.begin = i;
        bool quoted = false;
        size_t equals = std::string::npos;
        for (; i < t.size() && (quoted || !is_space(t[i])); ++i) {
            if (t[i] == '=' && equals == std::string::npos) equals = i;
            if (t[i] == '"') quoted = !quoted;
        }
        if (quoted) ok_ = false;  // the open quote would take in what follows
        p.end = i;
        // The kernel takes a parameter quoted whole without its quotes.
        const bool quoted_whole = t[p.begin] == '"';
        const size_t name_begin = quoted_whole ? p.begin + 1 : p.begin;
        p.has_equals = equals != std::string::npos;
        p.value_begin = p.has_equals ? equals + 1 : p.end;
        size_t name_end = p.has_equals ? equals : p.end;
        if (quoted_whole && !p.has_equals && name_end > name_begin && t[name_end - 1] == '"') --name_end;
        p.name = t.substr(name_begin, name_end - name_begin);
        p.value = t.substr(p.value_begin, p.end - p.value_begin);
        line->params.push_back(std::move(p));
    }
}

std::optional<VxModConf::Place> VxModConf::last(std::string_view name) const {
    for (size_t l = lines_.size(); l-- > 0;) {
        const std::vector<VxModParam>& params = lines_[l].params;
        for (size_t p = params.size(); p-- > 0;) {
            if (params[p].name == name) return Place{l, p};
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> VxModConf::value(std::string_view name) const {
    const std::optional<Place> at = last(name);
    if (!at) return std::nullopt;
    return std::string_view(lines_[at->line].params[at->param].value);
}

std::unordered_map<std::string_view, std::string_view> VxModConf::last_values() const {
    std::unordered_map<std::string_view, std::string_view> out;
    // In file order, so that a later value takes the place of an earlier one.
    for (const VxModLine& line : lines_) {
        for (const VxModParam& p : line.params) out[p.name] = p.value;
    }
    return out;
}

// Where logical character k is in the file, with the backslash that escapes it.
size_t VxModConf::physical_begin(const VxModLine& line, size_t k) const {
    const auto s = std::prev(std::upper_bound(line.segments.begin(), line.segments.end(), k,
                                              [](size_t v, const VxModSegment& seg) { return v < seg.logical; }));
    if (s->logical == k && s->join == VxModJoin::Escaped) return s->physical - 1;
    return s->physical + (k - s->logical);
}

// Where the logical characters before k end in the file.
size_t VxModConf::physical_end(const VxModLine& line, size_t k) const {
    if (k == 0) return line.begin;
    const auto s = std::prev(std::upper_bound(line.segments.begin(), line.segments.end(), k - 1,
                                              [](size_t v, const VxModSegment& seg) { return v < seg.logical; }));
    return s->physical + (k - 1 - s->logical) + 1;
}

// The continuations between logical characters b and e, which an edit of
// that range keeps.
std::string VxModConf::joints_in(const VxModLine& line, size_t b, size_t e) const {
    std::string out;
    // Only the segments that start inside the range are looked at: a line
    // may hold many continuations, and each of its parameters asks.
    auto s = std::upper_bound(line.segments.begin(), line.segments.end(), b,
                              [](size_t v, const VxModSegment& seg) { return v < seg.logical; });
    for (; s != line.segments.end() && s->logical < e; ++s) {
        if (s->join == VxModJoin::Continued) out += kContinuation;
    }
    return out;
}

void VxModConf::replace_value(Place at, std::string_view value) {
    const VxModLine& line = lines_[at.line];
    const VxModParam& p = line.params[at.param];
    size_t b = p.value_begin;
    size_t e = p.end;
    // A name quoted whole takes its value inside its quotes.
    const std::string& t = line.text;
    if (!p.has_equals && t[p.begin] == '"' && p.end - p.begin >= 2 && t[p.end - 1] == '"') b = e = p.end - 1;
    // A quote opened before the value (a parameter quoted whole) closes right
    // after the new one, which so is the value the kernel takes.
    const std::string_view old = p.value;
    const bool odd = std::count(old.begin(), old.end(), '"') % 2 != 0;
    std::string with = p.has_equals ? "" : "=";
    with += value;
    if (odd) with += '"';
    const auto delta = static_cast<ptrdiff_t>(with.size()) - static_cast<ptrdiff_t>(e - b);
    with += joints_in(line, b, e);
    const size_t from = b == e ? physical_end(line, b) : physical_begin(line, b);
    edits_.push_back({from, physical_end(line, e), std::move(with), at.line, delta});
}

void VxModConf::remove_all(std::string_view name, size_t only) {
    for (size_t l = 0; l < lines_.size(); ++l) {
        if (only != std::string::npos && l != only) continue;
        for (size_t k = 0; k < lines_[l].params.size(); ++k) {
            if (lines_[l].params[k].name == name) remove_param({l, k});
        }
    }
}

void VxModConf::remove_param(Place at) {
    const VxModLine& line = lines_[at.line];
    const VxModParam& p = line.params[at.param];
    const size_t floor = physical_end(line, line.key_end);
    size_t from = physical_begin(line, p.begin);
    const size_t token = from;
    // The blanks before it go too, but not one that a backslash escapes.
    while (from > floor && is_blank(text_[from - 1]) && !(from >= 2 && text_[from - 2] == '\\')) --from;
    const auto delta = -static_cast<ptrdiff_t>(p.end - p.begin + (token - from));
    edits_.push_back({from, physical_end(line, p.end), joints_in(line, p.begin, p.end), at.line, delta, at.param});
}

std::string_view VxModConf::param_text(const VxModLine& line, const VxModParam& p) const {
    const size_t b = physical_begin(line, p.begin);
    return text_.substr(b, physical_end(line, p.end) - b);
}

void VxModConf::replace_param(Place at, std::string_view text, size_t logical) {
    const VxModLine& line = lines_[at.line];
    const VxModParam& p = line.params[at.param];
    std::string with(text);
    with += joints_in(line, p.begin, p.end);
    const auto delta = static_cast<ptrdiff_t>(logical) - static_cast<ptrdiff_t>(p.end - p.begin);
    edits_.push_back({physical_begin(line, p.begin), physical_end(line, p.end), std::move(with), at.line, delta});
}

void VxModConf::insert_after_key(size_t l, std::string_view text) {
    const VxModLine& line = lines_[l];
    const size_t at = physical_end(line, line.key_end);
    edits_.push_back({at, at, std::string(text), l, static_cast<ptrdiff_t>(text.size())});
}

void VxModConf::append_to_line(size_t l, std::string_view text) {
    const VxModLine& line = lines_[l];
    std::string with(text);
    size_t at;
    if (line.text.ends_with('\r')) {  // before the carriage return that ends the line
        at = physical_begin(line, line.text.size() - 1);
    } else {
        at = physical_end(line, line.text.size());
        if (!line.has_newline) with += '\n';
    }
    edits_.push_back({at, at, std::move(with), l, static_cast<ptrdiff_t>(text.size())});
}

void VxModConf::append_text(std::string_view text) {
    std::string with = open_end_ && !text.starts_with('\n') ? "\n" : "";
    with += text;
    edits_.push_back({text_.size(), text_.size(), std::move(with), std::string::npos, 0});
}

bool VxModConf::set(std::string_view name, std::string_view value) {
    if (const std::optional<Place> at = last(name)) {
        replace_value(*at, value);
        return true;
    }
    if (lines_.empty()) return false;
    std::string setting(1, ' ');
    setting.append(name).append(1, '=').append(value);
    append_to_line(0, setting);
    return true;
}

bool VxModConf::take_options(const VxModConf& wanted, size_t only) {
    if (wanted.module() != module_ || !wanted.ok() || wanted.other_lines() != 0) return false;
    // The last place of each parameter in the lines taken, and in those wanted.
    std::map<std::string_view, Place> have, last;
    size_t first = std::string::npos;
    for (size_t l = 0; l < lines_.size(); ++l) {
        if (only != std::string::npos && l != only) continue;
        first = std::min(first, l);
        for (size_t k = 0; k < lines_[l].params.size(); ++k) have[lines_[l].params[k].name] = {l, k};
    }
    const std::vector<VxModLine>& want = wanted.lines();
    for (size_t l = 0; l < want.size(); ++l) {
        for (size_t k = 0; k < want[l].params.size(); ++k) last[want[l].params[k].name] = {l, k};
    }
    // Every place of a parameter that the wanted lines lack goes, found in
    // one pass over the lines taken.
    for (size_t l = 0; l < lines_.size(); ++l) {
        if (only != std::string::npos && l != only) continue;
        for (size_t k = 0; k < lines_[l].params.size(); ++k) {
            if (last.count(lines_[l].params[k].name) == 0) remove_param({l, k});
        }
    }
    std::string added;
    for (size_t l = 0; l < want.size(); ++l) {
        for (size_t k = 0; k < want[l].params.size(); ++k) {
            const VxModParam& q = want[l].params[k];
            const Place at = last.at(q.name);
            if (at.line != l || at.param != k) continue;  // a value the module does not get
            const std::string_view text = wanted.param_text(want[l], q);
            const auto found = have.find(q.name);
            if (found == have.end()) {
                added.append(1, ' ').append(text);
                continue;
            }
            const VxModParam& p = lines_[found->second.line].params[found->second.param];
            if (p.has_equals != q.has_equals || p.value != q.value) replace_param(found->second, text, q.end - q.begin);
        }
    }
    if (added.empty()) return true;
    if (first != std::string::npos) {
        append_to_line(first, added);
        return true;
    }
    // No options line to add them to: the wanted text but for its lines
    // without parameters.
    std::string fresh;
    size_t kept = 0;
    for (const VxModLine& line : want) {
        if (!line.params.empty()) continue;
        fresh.append(wanted.text_.substr(kept, line.begin - kept));
        kept = line.next;
    }
    fresh.append(wanted.text_.substr(kept));
    append_text(fresh);
    return true;
}

bool VxModConf::result(size_t line_max, std::string* out) const {
    // A line that the edits leave without parameters, adding nothing to it,
    // goes whole with its line end.
    std::vector<std::set<size_t>> removed(lines_.size());
    std::vector<bool> adds(lines_.size(), false);
    for (const Edit& e : edits_) {
        if (e.line == std::string::npos) continue;
        e.removed != std::string::npos ? void(removed[e.line].insert(e.removed)) : void(adds[e.line] = true);
    }
    const auto line_gone = [&](size_t l) {
        return l != std::string::npos && !adds[l] && !lines_[l].params.empty() &&
               removed[l].size() == lines_[l].params.size();
    };
    std::vector<Edit> gone;
    for (size_t l = 0; l < lines_.size(); ++l) {
        if (line_gone(l)) gone.push_back({lines_[l].begin, lines_[l].next, std::string(), std::string::npos, 0});
    }
    std::vector<const Edit*> order;
    for (const Edit& e : edits_) {
        if (!line_gone(e.line)) order.push_back(&e);
    }
    for (const Edit& e : gone) order.push_back(&e);
    // Insertions go before a change that starts where they stand.
    std::stable_sort(order.begin(), order.end(), [](const Edit* a, const Edit* b) {
        return a->begin != b->begin ? a->begin < b->begin : a->end < b->end;
    });
    std::vector<ptrdiff_t> grown(lines_.size(), 0);
    std::vector<bool> changed(lines_.size(), false);
    std::string text;
    text.reserve(text_.size() + 64);
    size_t at = 0;
    for (const Edit* e : order) {
        if (e->begin < at) return false;  // edits of one place
        text.append(text_.substr(at, e->begin - at)).append(e->with);
        at = e->end;
        if (e->line == std::string::npos) {
            for (size_t from = 0; from < e->with.size();) {
                const size_t nl = std::min(e->with.find('\n', from), e->with.size());
                if (nl + 1 - from > line_max) return false;
                from = nl + 1;
            }
        } else {
            grown[e->line] += e->logical_delta;
            changed[e->line] = true;
        }
    }
    text.append(text_.substr(at));
    for (size_t l = 0; l < lines_.size(); ++l) {
        if (changed[l] && static_cast<ptrdiff_t>(lines_[l].text.size()) + grown[l] + 1 > static_cast<ptrdiff_t>(line_max)) {
            return false;
        }
    }
    *out = std::move(text);
    return true;
}

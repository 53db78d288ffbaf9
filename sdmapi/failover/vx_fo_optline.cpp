// The driver's options line in the host's module configuration files.
#include "failover/vx_fo_optline.h"

#include <fcntl.h>

#include <cstring>

#include "failover/vx_fo_files.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

// The module configuration files are read whole; a larger file is refused.
constexpr size_t kModulesFileLimit = 64u << 20;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Whether a word ends at position i of the line.
bool word_ends(std::string_view line, size_t i) {
    return i == line.size() || is_blank(line[i]) || line[i] == '\n' || line[i] == '\r';
}

size_t skip_blanks(std::string_view line, size_t i) {
    while (i < line.size() && is_blank(line[i])) ++i;
    return i;
}

}  // namespace

std::vector<std::string_view> vx_fo_line_pieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        const size_t line = newline == std::string_view::npos ? text.size() : newline + 1;
        const size_t n = std::min(line, VX_FO_LINE_MAX);
        pieces.push_back(text.substr(0, n));
        text.remove_prefix(n);
    }
    return pieces;
}

bool vx_fo_lines_fit(std::string_view text) {
    for (const std::string_view piece : vx_fo_line_pieces(text)) {
        if (piece.size() == VX_FO_LINE_MAX && piece.back() != '\n') return false;
    }
    return true;
}

bool vx_fo_is_comment(std::string_view line) {
    const size_t i = skip_blanks(line, 0);
    return i < line.size() && line[i] == '#';
}

size_t vx_fo_options_key_end(std::string_view line, std::string_view model) {
    constexpr std::string_view kOptions = "options";
    if (model.empty()) return std::string_view::npos;
    size_t i = skip_blanks(line, 0);
    if (line.substr(i, kOptions.size()) != kOptions) return std::string_view::npos;
    i += kOptions.size();
    const size_t name = skip_blanks(line, i);
    if (name == i || line.substr(name, model.size()) != model) return std::string_view::npos;
    const size_t end = name + model.size();
    return word_ends(line, end) ? end : std::string_view::npos;
}

std::string vx_fo_options_key(std::string_view model) { return "options " + std::string(model); }

uint32_t vx_fo_read_modules_file(std::string* path, std::string* text) {
    for (const char* candidate : VX_FO_MODULES_FILES) {
        const int fd = vx::sys().open(candidate, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const VxFoRead read = vx_fo_read_fd(fd, kModulesFileLimit, text);
        vx::sys().close(fd);
        *path = candidate;
        return read == VxFoRead::Read ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
    }
    return SDERR_CONFIG_FILE;
}

uint32_t vx_fo_get_options_line(uint32_t slot, std::string* line) {
    const char* model = vx_fo_slot_model(slot);
    if (model == nullptr) return SDERR_INVALID_PARAMETER;
    std::string path, text;
    if (const uint32_t status = vx_fo_read_modules_file(&path, &text); status != SDERR_NO_ERROR) return status;
    for (const std::string_view piece : vx_fo_line_pieces(text)) {
        if (vx_fo_options_key_end(piece, model) != std::string_view::npos) {
            line->assign(piece);
            return SDERR_NO_ERROR;
        }
    }
    return SDERR_CONFIG_FILE;
}

uint32_t vxapi_get_drv_param_optline(uint32_t slot, char* line) {
    if (line == nullptr) return SDERR_INVALID_PARAMETER;
    std::string found;
    const uint32_t status = vx_fo_get_options_line(slot, &found);
    if (status == SDERR_NO_ERROR) std::memcpy(line, found.c_str(), found.size() + 1);
    return status;
}

uint32_t vxapi_set_drv_param_optline(uint32_t slot, const char* new_line) {
    const char* model = vx_fo_slot_model(slot);
    if (model == nullptr || new_line == nullptr) return SDERR_INVALID_PARAMETER;
    // A longer line would reach every later reader in pieces.
    if (!vx_fo_lines_fit(new_line)) return SDERR_CONFIG_FILE;
    std::string path, text;
    if (const uint32_t status = vx_fo_read_modules_file(&path, &text); status != SDERR_NO_ERROR) return status;

    std::string out;
    out.reserve(text.size() + std::strlen(new_line));
    bool replaced = false;
    for (const std::string_view piece : vx_fo_line_pieces(text)) {
        if (vx_fo_options_key_end(piece, model) != std::string_view::npos) {
            out += new_line;
            replaced = true;
        } else {
            out += piece;
        }
    }
    if (!replaced) out += new_line;
    return vx_fo_replace_file(path, out);
}

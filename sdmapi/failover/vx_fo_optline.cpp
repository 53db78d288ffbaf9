// The driver's options line in the host's module configuration files.
#include "failover/vx_fo_optline.h"

#include <fcntl.h>

#include <cstring>

#include "base/vx_modconf.h"
#include "failover/vx_fo_files.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

// The module configuration files are read whole; a larger file is refused.
constexpr size_t kModulesFileLimit = 64u << 20;

}  // namespace

uint32_t vx_fo_read_modules_file(std::string* path, std::string* text) {
    for (const char* candidate : VX_FO_MODULES_FILES) {
        const int fd = vx::sys().open(candidate, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const VxConfRead read = vx_conf_read_fd(fd, kModulesFileLimit, text);
        vx::sys().close(fd);
        *path = candidate;
        return read == VxConfRead::Read ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
    }
    return SDERR_CONFIG_FILE;
}

uint32_t vx_fo_get_options_line(uint32_t slot, std::string* line) {
    const char* model = vx_fo_slot_model(slot);
    if (model == nullptr) return SDERR_INVALID_PARAMETER;
    std::string path, text;
    if (const uint32_t status = vx_fo_read_modules_file(&path, &text); status != SDERR_NO_ERROR) return status;
    const VxModConf conf(text, model);
    if (!conf.ok() || conf.lines().empty()) return SDERR_CONFIG_FILE;
    *line = conf.lines().front().read_text();
    return SDERR_NO_ERROR;
}

uint32_t vxapi_get_drv_param_optline(uint32_t slot, char* line) {
    if (line == nullptr) return SDERR_INVALID_PARAMETER;
    std::string found;
    const uint32_t status = vx_fo_get_options_line(slot, &found);
    if (status != SDERR_NO_ERROR) return status;
    if (found.size() >= VX_CONF_LINE_BUFFER) return SDERR_CONFIG_FILE;  // the caller's buffer holds no more
    std::memcpy(line, found.c_str(), found.size() + 1);
    return SDERR_NO_ERROR;
}

uint32_t vxapi_set_drv_param_optline(uint32_t slot, const char* new_line) {
    const char* model = vx_fo_slot_model(slot);
    if (model == nullptr || new_line == nullptr) return SDERR_INVALID_PARAMETER;
    // A longer line would reach every later reader in pieces.
    if (!vx_conf_lines_fit(new_line)) return SDERR_CONFIG_FILE;
    std::string path, text;
    if (const uint32_t status = vx_fo_read_modules_file(&path, &text); status != SDERR_NO_ERROR) return status;
    const VxModConf conf(text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    std::string out;
    out.reserve(text.size() + std::strlen(new_line));
    size_t at = 0;
    for (const VxModLine& line : conf.lines()) {
        out.append(text, at, line.begin - at).append(new_line);
        at = line.next;
    }
    out.append(text, at);
    if (conf.lines().empty()) out += new_line;
    return vx_conf_replace_file(path, out);
}

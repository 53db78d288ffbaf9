// The driver's options in the host's module configuration files.
#include "failover/vx_fo_optline.h"

#include <fcntl.h>

#include <unordered_map>

#include "base/vx_modconf.h"
#include "failover/vx_fo_files.h"
#include "platform/vx_platform.h"
#include "vxsdm_status.h"

namespace {

// Whether the module gets from `after` the value of each of its parameters
// that `wanted` gives it, and none of those that `before` gives it and
// `wanted` lacks. The values of each text are read in one pass, so that the
// check costs about as much as reading the texts.
bool gets_wanted(const VxModConf& before, const VxModConf& wanted, const VxModConf& after) {
    if (!after.ok()) return false;
    const std::unordered_map<std::string_view, std::string_view> want = wanted.last_values(), got = after.last_values();
    for (const auto& [name, value] : want) {
        const auto found = got.find(name);
        if (found == got.end() || found->second != value) return false;
    }
    for (const VxModLine& line : before.lines()) {
        for (const VxModParam& p : line.params) {
            if (!want.contains(p.name) && got.contains(p.name)) return false;
        }
    }
    return true;
}

}  // namespace

uint32_t vx_fo_read_modules_file(std::string* path, std::string* text) {
    path->clear();
    for (const char* candidate : VX_FO_MODULES_FILES) {
        const int fd = vx::sys().open(candidate, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const VxConfRead read = vx_conf_read_fd(fd, VX_CONF_FILE_LIMIT, text);
        vx::sys().close(fd);
        *path = candidate;
        return read == VxConfRead::Read ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
    }
    return SDERR_CONFIG_FILE;
}

uint32_t vxapi_get_drv_param_optline(uint32_t slot, std::string* line, bool* none) {
    if (none != nullptr) *none = false;
    const char* model = vx_fo_slot_model(slot);
    if (line == nullptr || model == nullptr) return SDERR_INVALID_PARAMETER;
    std::string path, text;
    if (const uint32_t status = vx_fo_read_modules_file(&path, &text); status != SDERR_NO_ERROR) {
        if (none != nullptr) *none = path.empty();
        return status;
    }
    const VxModConf conf(text, model);
    if (!conf.ok()) return SDERR_CONFIG_FILE;
    if (conf.lines().empty()) {
        if (none != nullptr) *none = true;
        return SDERR_CONFIG_FILE;
    }
    line->clear();
    for (const VxModLine& l : conf.lines()) line->append(conf.physical(l));
    return SDERR_NO_ERROR;
}

uint32_t vxapi_set_drv_param_optline(uint32_t slot, std::string_view new_line) {
    const char* model = vx_fo_slot_model(slot);
    if (model == nullptr) return SDERR_INVALID_PARAMETER;
    std::string path, text;
    if (const uint32_t status = vx_fo_read_modules_file(&path, &text); status != SDERR_NO_ERROR) return status;
    VxModConf conf(text, model);
    const VxModConf wanted(new_line, model);
    std::string out;
    if (!conf.ok() || !conf.take_options(wanted) || !conf.result(VX_CONF_LINE_MAX, &out)) return SDERR_CONFIG_FILE;
    // What the file says after the change is read back before it is written.
    if (!gets_wanted(conf, wanted, VxModConf(out, model))) return SDERR_CONFIG_FILE;
    return vx_conf_replace_file(path, out);
}

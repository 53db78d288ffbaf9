// Integer parameters of the adapter driver module.
//
// The run-time value is written in one write of its decimal text, padded
// with NUL bytes to four bytes as the driver has always been given it; a
// longer value is written whole. The configuration file is never edited in
// place: its new text is installed over it (base/vx_conf_file.h), so a failed
// write leaves the old file.
#include "base/vx_modparam.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/vx_conf_file.h"
#include "base/vx_modconf.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

namespace {

constexpr uint32_t kDone = 0;
constexpr uint32_t kFailed = 1;
constexpr uint32_t kNoDriverSupport = 20;

constexpr uint32_t kStepBits = VXDBG_STEP | VXDBG_API;
constexpr uint32_t kErrorBits = VXDBG_ERROR | VXDBG_API;

// The run-time value is written at least this wide, padded with NUL bytes.
constexpr size_t kValueWidth = 4;
// The most bytes read from the run-time parameter file.
constexpr size_t kReadMax = 32;

std::string param_path(const char* param) { return std::string(VX_MODPARAM_DIR) + param; }

// The parameter file opened for reading and writing, closed at scope end.
class ParamFile {
public:
    explicit ParamFile(const char* param) : fd_(vx::sys().open(param_path(param).c_str(), O_RDWR | O_CLOEXEC)) {}
    ~ParamFile() {
        if (fd_ >= 0) vx::sys().close(fd_);
    }
    ParamFile(const ParamFile&) = delete;
    ParamFile& operator=(const ParamFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

bool vx_modparam_name_ok(const char* param) {
    if (param == nullptr) return false;
    size_t n = 0;
    for (; n <= VX_MODPARAM_NAME_MAX && param[n] != '\0'; ++n) {
        const char c = param[n];
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!word) return false;
    }
    return n > 0 && n <= VX_MODPARAM_NAME_MAX;
}

bool vx_modparam_conf_edit(std::string_view text, std::string_view param, uint32_t value, std::string* out) {
    VxModConf conf(text, VX_MODPARAM_MODULE);
    if (!conf.ok()) return false;
    const std::string digits = std::to_string(value);
    if (const std::optional<VxModConf::Place> at = conf.last(param)) {
        if (value <= 1) conf.replace_value(*at, digits);  // only 0 and 1 change a setting that is there
    } else if (!conf.set(param, digits)) {
        conf.append_text(vx_conf_options_key(VX_MODPARAM_MODULE) + " " + std::string(param) + "=" + digits + "\n");
    }
    return conf.result(VX_CONF_LINE_MAX, out);
}

void vxapi_set_driver_module_param(const char* param, uint32_t value, uint32_t* pext_stat) {
    vxdbg_line(kStepBits, "vxapi_set_driver_module_param: entered.");
    uint32_t status = kFailed;
    if (vx_modparam_name_ok(param)) {
        ParamFile file(param);
        if (file.fd() < 0) {
            vxdbg_line(kErrorBits, "vxapi_set_driver_module_param: No driver support.");
            status = kNoDriverSupport;
        } else {
            std::string text = std::to_string(value);
            if (text.size() < kValueWidth) text.resize(kValueWidth, '\0');
            const ssize_t n = vx::sys().write(file.fd(), text.data(), text.size());
            if (n == static_cast<ssize_t>(text.size())) status = kDone;
        }
    }
    if (status == kFailed) vxdbg_line(kErrorBits, "vxapi_set_driver_module_param: failed to set driver run-time parameter.");
    if (pext_stat != nullptr) *pext_stat = status;
    vxdbg_line(kStepBits, "vxapi_set_driver_module_param: exiting.");
}

void vxapi_get_driver_module_param(const char* param, uint32_t* pvalue, uint32_t* pext_stat) {
    vxdbg_line(kStepBits, "vxapi_get_driver_module_param: entered.");
    uint32_t status = kFailed;
    if (vx_modparam_name_ok(param) && pvalue != nullptr) {
        ParamFile file(param);
        if (file.fd() < 0) {
            vxdbg_line(kErrorBits, "vxapi_get_driver_module_param: No driver support.");
            status = kNoDriverSupport;
        } else {
            char text[kReadMax + 1] = {};  // terminated whatever the read brings
            if (vx::sys().read(file.fd(), text, kReadMax) > 0) {
                *pvalue = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
                status = kDone;
            }
        }
    }
    if (status == kFailed) vxdbg_line(kErrorBits, "vxapi_get_driver_module_param: failed to get driver run-time parameter.");
    if (pext_stat != nullptr) *pext_stat = status;
    vxdbg_line(kStepBits, "vxapi_get_driver_module_param: exiting.");
}

void vxapi_set_driver_module_param_conf(const char* param, uint32_t value, uint32_t* pext_stat) {
    vxdbg_line(kStepBits, "vxapi_set_driver_module_param_conf: entered.");
    uint32_t status = kFailed;
    std::string text;
    const VxConfRead read = vx_modparam_name_ok(param) ? vx_conf_read_file(VX_MODPARAM_CONF, VX_CONF_FILE_LIMIT, &text)
                                                       : VxConfRead::Failed;
    if (read == VxConfRead::Failed || (read == VxConfRead::Read && text.empty())) {
        vxdbg_line(kErrorBits, "vxapi_set_driver_module_param_conf: failed to read conf file data.");
    } else {
        if (read == VxConfRead::Missing && vxdbg_on(kErrorBits)) {
            vxdbg_print("vxapi_set_driver_module_param_conf: creating ", 0, VXDBG_NONE, 0);
            vxdbg_print(VX_MODPARAM_CONF, 0, VXDBG_NONE, 1);
        }
        // A text that kmod does not read as it is written, or a line that
        // would pass the bound, is not written.
        std::string edited;
        if (vx_modparam_conf_edit(text, param, value, &edited) && vx_conf_replace_file(VX_MODPARAM_CONF, edited) == 0) {
            status = kDone;
        } else {
            vxdbg_line(kErrorBits, "vxapi_set_driver_module_param_conf: failed to set conf file parameter.");
        }
    }
    if (pext_stat != nullptr) *pext_stat = status;
    vxdbg_line(kStepBits, "vxapi_set_driver_module_param_conf: exiting.");
}

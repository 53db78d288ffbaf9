// The host the library runs on, and the ioctl support module.
//
// The support module carries the adapter driver's ioctl interface on the
// 2.6.9 kernel line only. It is loaded when it exists for the running kernel
// and the adapter driver loaded is the distribution's own non-debug build;
// once loaded it stays loaded after the process ends. What the shell commands
// print is judged by their last output line, read whole.
#include "base/vx_env.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

std::atomic<int> OS_Type{0};
std::atomic<int> is_vioctlmod_loaded{0};
std::atomic<uint8_t> is_udevadm{1};

namespace {

constexpr const char* kLsmodVioctlmod = "lsmod 2> /dev/null | grep vioctlmod";
constexpr const char* kModinfoName = "modinfo vioctlmod 2> /dev/null | grep -o vioctlmod";
constexpr const char* kModinfoVermagic = "modinfo vioctlmod 2> /dev/null | grep vermagic";
constexpr const char* kLsmodDriver = "lsmod 2> /dev/null | grep -o ^vxa2xxx";
constexpr const char* kDriverVersion =
    "cat /proc/scsi/vxa2xxx/* 2> /dev/null | grep -m 1 Driver | cut -d , -f 2 | cut -d - -f 2";
constexpr const char* kModprobe = "modprobe vioctlmod";
constexpr const char* kUdevadm = "/sbin/udevadm";

constexpr size_t kChunkSize = 128;  // output is read in chunks of this size

// A uname field as text, bounded by its array (the kernel terminates it;
// the bound keeps a stray record from being read past its end).
template <size_t N>
std::string_view field(const char (&text)[N]) {
    return std::string_view(text, strnlen(text, N));
}

bool contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

// A shell command whose output is read; closed when it goes out of scope.
class Command {
public:
    explicit Command(const char* text) : stream_(vx::sys().popen(text, "re")) {}
    ~Command() {
        if (stream_ != nullptr) vx::sys().pclose(stream_);
    }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    bool started() const { return stream_ != nullptr; }

    // The last line of the output, without its newline; a line is read
    // whole, however long it is. Empty when there was no output.
    std::string last_line() {
        std::string last;
        std::string current;
        char chunk[kChunkSize];
        while (fgets(chunk, sizeof chunk, stream_) != nullptr) {
            current += chunk;
            if (!current.empty() && current.back() == '\n') {
                current.pop_back();
                last.swap(current);
                current.clear();
            }
        }
        if (!current.empty()) last.swap(current);
        return last;
    }

private:
    FILE* stream_;
};

void trace_errno(const char* text, int err) {
    if (vxdbg_on(VXDBG_ERROR)) vxdbg_print(text, static_cast<uint32_t>(err), VXDBG_INT, 1);
}

}  // namespace

void vxapi_check_esx() {
    struct utsname name;
    std::memset(&name, 0, sizeof name);
    if (vx::sys().uname(&name) != 0) vxdbg_line(VXDBG_ERROR, "vxapi_check_esx: uname" "() failed");
    // A failed uname leaves the zeroed record: an ordinary host.
    OS_Type = contains(field(name.sysname), "VMkernel") ? VX_OS_ESX : VX_OS_OTHER;
}

int vxapi_check_linux_version() {
    struct utsname name;
    std::memset(&name, 0, sizeof name);
    if (vx::sys().uname(&name) != 0) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_linux_verion: uname" "() failed");
        return 1;
    }
    // Any release with this text in it, so 2.6.90 counts as well.
    return contains(field(name.release), "2.6.9") ? 0 : 1;
}

void vxapi_load_vioctlmod() {
    if (vxapi_check_linux_version() != 0) return;

    std::string listed;
    {
        Command lsmod(kLsmodVioctlmod);
        if (!lsmod.started()) {
            trace_errno("vxapi_load_vioctlmod: popen failed=", errno);
            return;
        }
        listed = lsmod.last_line();
    }
    if (contains(listed, "vioctlmod")) {
        vxdbg_line(VXDBG_ERROR, "vxapi_load_vioctlmod: vioctlmod is already loaded");
        is_vioctlmod_loaded = 1;
        return;
    }
    if (vxapi_check_vioctlmod() != 0) return;
    // Only a module that really loaded counts: discovery relies on it to
    // carry the driver's newer requests.
    if (vx::sys().system(kModprobe) == 0) is_vioctlmod_loaded = 1;
}

int vxapi_check_vioctlmod() {
    std::string line;
    {
        Command modinfo(kModinfoName);
        if (!modinfo.started()) {
            trace_errno("vxapi_check_vioctlmod: modinfo popen failed=", errno);
            return 1;
        }
        line = modinfo.last_line();
    }
    if (!contains(line, "vioctlmod")) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_vioctlmod: No vioctlmod for OS version");
        return 1;
    }

    std::string vermagic;
    {
        Command modinfo(kModinfoVermagic);
        if (!modinfo.started()) {
            trace_errno("vxapi_check_vioctlmod: vermagic popen failed=", errno);
            return 1;
        }
        vermagic = modinfo.last_line();
    }
    struct utsname name;
    std::memset(&name, 0, sizeof name);
    if (vx::sys().uname(&name) != 0) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_vioctlmod: uname" "() failed");
        return 1;
    }
    if (!contains(vermagic, field(name.release))) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_vioctlmod: OS Version is not Matched with vioctlmod");
        return 1;
    }

    {
        Command lsmod(kLsmodDriver);
        if (!lsmod.started()) {
            trace_errno("vxapi_check_vioctlmod: lsmod popen failed=", errno);
            return 1;
        }
        line = lsmod.last_line();
    }
    if (!contains(line, "vxa2xxx")) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_vioctlmod: vxa2xxx module is not loaded.");
        return 1;
    }

    // The version field of the driver's first "Driver" line: the
    // distribution's own builds carry a 'd' in it, debug builds "debug".
    {
        Command cat(kDriverVersion);
        if (!cat.started()) {
            trace_errno("vxapi_check_vioctlmod: cat popen failed=", errno);
            return 1;
        }
        line = cat.last_line();
    }
    if (!contains(line, "d")) {
        vxdbg_line(VXDBG_STEP, "vxapi_check_vioctlmod: Inbox driver is not loaded.");
        return 1;
    }
    if (contains(line, "debug")) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_vioctlmod: Loaded driver is standard debug.");
        return 1;
    }
    vxdbg_line(VXDBG_STEP, "vxapi_check_vioctlmod: Inbox driver is loaded.");
    return 0;
}

int vxapi_check_correct_os() {
    struct utsname name;
    std::memset(&name, 0, sizeof name);
    if (vx::sys().uname(&name) != 0) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_correct_os: uname" "() failed");
        return 1;
    }
    const std::string_view release = field(name.release);
    if (OS_Type == VX_OS_ESX || contains(release, "ESX") || contains(release, "Vmnix")) {
        vxdbg_line(VXDBG_ERROR, "vxapi_check_correct_os: VMware OS not supported");
        return 1;
    }
    return 0;
}

int vxapi_is_udevadm_supported() {
    if (vx::sys().access(kUdevadm, F_OK) == 0) return 0;
    is_udevadm = 0;
    return 1;
}

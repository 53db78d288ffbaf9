// The API character device of the sysfs road. The library sends nothing on
// it: holding it open from load to unload is its whole purpose. The two
// functions keep the vxapi_ names of the library load that calls them.
#include "transport/vx_apidev.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

int apidevfd = -1;

namespace {

constexpr const char* kProcDevices = "/proc/devices";
constexpr const char* kApiDevName = "vx2xapidev";
constexpr const char* kApiDevNode = "/dev/vx2xapidev";
constexpr int kLineLen = 256;  // lines of up to 255 characters

// The major number of the last "/proc/devices" line that names the device,
// 0 when there is none; -1 when the file cannot be read.
long api_device_major() {
    FILE* f = vx::sys().fopen(kProcDevices, "re");
    if (f == nullptr) return -1;
    long major_nr = 0;
    char line[kLineLen];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strstr(line, kApiDevName) != nullptr) major_nr = std::strtol(line, nullptr, 10);
    }
    std::fclose(f);
    return major_nr;
}

}  // namespace

void vxapi_open_apidev() {
    const long found = api_device_major();
    if (found < 0) {
        vxdbg_line(VXDBG_ERROR, "vxapi_open_apidev: fopen failed for /proc/devices");
        return;
    }
    // Device numbers hold 32-bit majors at most; anything else is no number.
    if (found <= 0 || found > 0xFFFFFFFFL) return;
    const unsigned major_nr = static_cast<unsigned>(found);
    if (vxdbg_on(VXDBG_ERROR)) {
        vxdbg_print("vxapi_open_apidev: vx2xapidev found in /proc/devices", 0, VXDBG_NONE, 0);
        vxdbg_print(" with major=", major_nr, VXDBG_DEC, 0);
        vxdbg_print(" and minor=", 0, VXDBG_DEC, 1);
    }

    const int fd = vx::sys().open(kApiDevNode, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (vx::sys().fstat(fd, &st) != 0) {
            vx::sys().close(fd);
            return;
        }
        if (major(st.st_rdev) == major_nr && minor(st.st_rdev) == 0) {
            // A descriptor held from before stays; the new one would leak it.
            if (apidevfd < 0) {
                apidevfd = fd;
            } else {
                vx::sys().close(fd);
            }
            return;
        }
        vx::sys().close(fd);
    }

    vx::sys().unlink(kApiDevNode);
    vxdbg_line(VXDBG_ERROR, "vxapi_open_apidev: creating /dev/vx2xapidev");
    if (vx::sys().mknod(kApiDevNode, S_IFCHR, makedev(major_nr, 0)) == 0 && apidevfd < 0) {
        apidevfd = vx::sys().open(kApiDevNode, O_RDONLY | O_CLOEXEC);
    }
}

void vxapi_close_apidev() {
    vxdbg_line(VXDBG_ERROR, "vxapi_close_apidev: entered");
    if (apidevfd < 0) return;
    vx::sys().close(apidevfd);
    apidevfd = -1;
    vx::sys().unlink(kApiDevNode);
    vxdbg_line(VXDBG_ERROR, "vxapi_close_apidev: done");
}

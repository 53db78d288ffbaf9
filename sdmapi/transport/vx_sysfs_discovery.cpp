// Sysfs discovery of hosts, ports and virtual ports.
#include "transport/vx_sysfs.h"

#include <cstring>

#include "core/vx_ioctl.h"
#include "core/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs_prim.h"

// Until the sysfs road reads the driver's version attribute, a sysfs port
// has no way to answer driver specifics: invalid sub-command, result 2.
int vxsysfs_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status) {
    (void)fd;
    (void)rec;
    (void)response;
    return vxapi_no_transport(status);
}

int vxsysfs_init() {
    std::memset(sysfs_mnt_path, 0, sizeof sysfs_mnt_path);
    if (vx::sys().sysfs_get_mnt_path(sysfs_mnt_path, sizeof sysfs_mnt_path) != 0) {
        // Nothing half-written stays behind for the path builders.
        std::memset(sysfs_mnt_path, 0, sizeof sysfs_mnt_path);
        vxdbg_line(VXDBG_ERROR, "> sysfs not mounted");
        return 1;
    }
    return 0;
}

// Until the walk of each supported driver's devices is built, the road
// reports what it reports when no supported driver is bound on the PCI bus:
// no port made, the count as it was.
int vxsysfs_supported_driver_exist(uint32_t* counter) {
    const uint32_t count = counter != nullptr ? *counter : 0;
    struct sysfs_bus* bus = vx::sys().sysfs_open_bus("pci");
    if (bus == nullptr) {
        vxdbg_line(VXDBG_ERROR, "> no pci bus");
        return 0;
    }
    if (counter != nullptr) *counter = count;
    vxdbg_line(VXDBG_SYSFS, "api_inst==", count, VXDBG_DEC);
    vx::sys().sysfs_close_bus(bus);
    return 0;
}

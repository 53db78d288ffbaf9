// What discovery reads of a new physical port from its adapter's flash, and
// the sysfs discovery's entry that hands these readers to the sysfs walk.
#include "core/life/vx_port_attach.h"

#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_regions.h"
#include "transport/vx_sysfs.h"

namespace {

void read_sysfs_port_versions(int fd, vxapi_priv_database* rec) { vxapi_read_port_versions(fd, rec, true); }

constexpr VxPortAttach kSysfsPortAttach = {vxapi_read_port_layout, read_sysfs_port_versions};

}  // namespace

int32_t vxapi_read_port_layout(int fd, vxapi_priv_database* rec) {
    if (!vx_chip_has(vxapi_device_id(rec), VX_CHIP_FLASH_LAYOUT_TABLE)) return 0;
    return vxapi_set_option_rom_layout(fd, rec) != 0 ? 1 : 0;
}

void vxapi_read_port_versions(int fd, vxapi_priv_database* rec, bool active_image_set) {
    const uint16_t device = vxapi_device_id(rec);
    if (vx_chip_has(device, VX_CHIP_REGION_VERSIONS)) {
        vxapi_query_adapter_versions(fd, rec);
        if (vx_chip_has(device, VX_CHIP_FLASH_MPI_EDC_NIC)) {
            vxapi_get_flash_mpi_edc_versions(fd, rec);
            vxapi_get_nic_bootcode_version(fd, rec);
        }
    }
    if (active_image_set && vx_chip_has(device, VX_CHIP_ACTIVE_IMAGE_SET)) vxapi_get_active_image_set(fd, rec);
}

int vxsysfs_supported_driver_exist(uint32_t* counter) {
    return vxsysfs_supported_driver_exist(counter, kSysfsPortAttach);
}

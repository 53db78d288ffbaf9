// The flash of sysfs ports. The fixed option ROM layouts are installed here;
// until the sysfs road reads and writes the driver's flash attribute files,
// the flash transfers and the sector size of a sysfs port give the "no
// transport" answer: invalid sub-command, result 2.
#include "transport/vx_sysfs_flash.h"

#include <cstddef>
#include <cstring>

#include "core/vx_ioctl.h"
#include "core/vx_layout.h"
#include "core/vx_sddbg.h"

int32_t vxsysfs_read_optrom(int, vxapi_priv_database*, uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_update_optrom(int, vxapi_priv_database*, uint8_t*, uint32_t, uint32_t, uint32_t,
                              uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_read_nvram_exp_edc(int, vxapi_priv_database*, uint8_t*, uint32_t, uint32_t, uint32_t,
                                   uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

// No status word: the size is left as it was.
int32_t vxsysfs_get_flash_sector_size(int, vxapi_priv_database*, uint32_t*) { return VX_RESULT_NO_TRANSPORT; }

int32_t vxsysfs_get_optrom_layout(int, vxapi_priv_database* api_priv_data_inst, uint8_t* playout_buf,
                                  uint32_t layout_size, uint32_t* pext_stat) {
    uint32_t unused;
    if (pext_stat == nullptr) pext_stat = &unused;
    const vxapi_phy_info* phy = api_priv_data_inst != nullptr ? api_priv_data_inst->phy_info : nullptr;
    if (phy == nullptr) {
        *pext_stat = EXT_STATUS_INVALID_PARAM;
        return 0;
    }

    uint32_t regions = 0;
    const INT_OPT_ROM_REGION* table =
        vxapi_fixed_layout(phy->device_id, phy->ssvendor_id, phy->ssdevice_id, &regions);
    // The buffer must hold the table counted with its closing entry.
    const uint32_t minimum = static_cast<uint32_t>(sizeof(INT_OPT_ROM_REGION)) * (regions + 1);
    *pext_stat = EXT_STATUS_BUFFER_TOO_SMALL;
    if (playout_buf == nullptr || layout_size < minimum) {
        vxdbg_line(VXDBG_ERROR | VXDBG_SYSFS, "> Insufficent size");
        return 0;
    }

    INT_OPT_ROM_LAYOUT layout{};
    for (uint32_t i = 0; i < regions; ++i) {
        layout.Region[i] = table[i];
        // Every table starts with its whole-flash entry.
        if (table[i].Region == VX_REGION_WHOLE_ROM) layout.Size = table[0].Size;
    }
    layout.NoOfRegions = regions;
    const size_t bytes = offsetof(INT_OPT_ROM_LAYOUT, Region) + regions * sizeof(INT_OPT_ROM_REGION);
    std::memcpy(playout_buf, &layout, bytes);
    vxapi_install_global_layout(&layout, sizeof layout);
    *pext_stat = EXT_STATUS_OK;
    return 0;
}

// Pass-through of sysfs ports: until the SCSI generic, bsg and attribute
// roads are built, every operation gives the "no transport" answer: invalid
// sub-command, result 2.
#include "core/vx_ioctl.h"
#include "transport/vx_sysfs_passthru.h"

int32_t vxsysfs_send_scsipt(int, vxapi_priv_database*, const EXT_SCSI_ADDR*, const uint8_t*, uint32_t, const void*,
                            uint32_t, void*, uint32_t*, uint8_t*, uint32_t*, uint32_t* pext_stat, uint8_t*) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_send_fc_scsipt(int, vxapi_priv_database*, void*, uint32_t*, EXT_FC_SCSI_PASSTHRU*,
                               uint32_t* pext_stat, uint32_t*) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_send_scsi3pt(int, vxapi_priv_database*, void*, uint32_t*, EXT_FC_SCSI_PASSTHRU*, uint32_t* pext_stat,
                             uint32_t*) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_send_ct_passthru(int, vxapi_priv_database*, const void*, uint32_t, void*, uint32_t*,
                                 uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_send_els_passthru(int, vxapi_priv_database*, const void*, uint32_t, void*, uint32_t*,
                                  uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

int32_t vxsysfs_get_tgt_lun_data_list(int, vxapi_priv_database*, TGT_LUN_DATA_LIST*, uint32_t, uint32_t* pext_stat) {
    return vxapi_no_transport(pext_stat);
}

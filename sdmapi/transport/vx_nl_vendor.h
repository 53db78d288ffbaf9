// The driver's vendor commands over the vendor netlink socket: the Tarno
// controller, the loopback test, a remote port's speed, FCP priority, the
// diagnostic mode, the FRU versions and status register, the i2c bus and
// the SerDes registers.
//
// Every command takes the vendor socket and the port's SCSI host number
// first and the driver status last, and returns 0 on success, 1 on failure.
// Its status: 0 done, 1 failed, 6 a parameter refused before anything was
// sent, 17 no memory for the message, 20 the driver has no netlink service.
// A chunked command (firmware image, loopback data, i2c) stops at the first
// piece that fails; the pieces before it stay delivered. The loopback test,
// vxapi_nl_loopback_test, is declared with the exchange in vx_netlink.h.
//
// The commands keep their vxapi_nl_ names, those of the library's workers,
// though they belong to the netlink road: the workers choose the road and
// call them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_driver_records.h"
#include "vxsdm_types.h"

// Tarno controller: reset (diag_fw 1: start the diagnostic firmware), load a
// firmware image, and a memory, configuration or information operation.
[[nodiscard]] int vxapi_nl_84xx_reset(int sock, int host_no, int diag_fw, uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_84xx_updatefw(int sock, int host_no, TARNO_UPDATE_FW* pFwInfo, uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_84xx_mgmt(int sock, int host_no, TARNO_MANAGE_INFO* pMgmtInfo, uint32_t* pext_stat);

// A remote port's speed: an INT_PORT_PARAM, read or set (the size is not
// consulted).
[[nodiscard]] int vxapi_nl_port_param(int sock, int host_no, void* pbuf, uint32_t buf_size, uint32_t* pext_stat);

// FCP priority: enable (flag 1) or disable (0), read or write the
// configuration (qos_size bytes).
[[nodiscard]] int vxapi_nl_enable_disable_qos(int sock, int host_no, uint32_t flag, uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_get_qos_config(int sock, int host_no, void* qos, uint32_t qos_size, uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_set_qos_config(int sock, int host_no, void* qos, uint32_t qos_size, uint32_t* pext_stat);

// Enter (mode 1) or leave (0) the diagnostic mode.
[[nodiscard]] int vxapi_nl_set_reset_diag_mode(int sock, int host_no, uint8_t mode, uint32_t* pext_stat);

// The FRU versions (a vxa_image_version_list of fru_size bytes), and the FRU
// status register (a vxa_status_reg of stat_size bytes; cmd
// VX_NL_CMD_FRU_STATUS_READ fills it, VX_NL_CMD_FRU_STATUS_WRITE sends it).
[[nodiscard]] int vxapi_nl_update_fru_versions(int sock, int host_no, void* fru_img, uint32_t fru_size,
                                               uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_fru_status(int sock, int host_no, void* stat_reg, uint32_t stat_size, uint32_t cmd,
                                      uint32_t* pext_stat);

// len bytes of the i2c device dev from its offset adr, in pieces of
// VXA_I2C_MAX bytes (a len of 0 sends one empty piece).
[[nodiscard]] int vxapi_nl_get_i2c(int sock, int host_no, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len,
                                   uint8_t* i2c, uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_set_i2c(int sock, int host_no, uint16_t dev, uint16_t adr, uint16_t opt, uint16_t len,
                                   uint8_t* i2c, uint32_t* pext_stat);

// A SerDes register: a read fills val, a write sends it.
[[nodiscard]] int vxapi_nl_serdes_reg_ops(int sock, int host_no, vxa_serdes_reg* serdes, uint32_t* pext_stat);
[[nodiscard]] int vxapi_nl_serdes_reg_ops_ex(int sock, int host_no, vxa_serdes_reg_ex* serdes, uint32_t* pext_stat);

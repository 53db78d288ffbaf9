// The adapter's diagnostic and tuning services: FCP priority (QoS) and NPIV
// QoS, the diagnostic mode, the board temperature, the SerDes parameters and
// registers, the FRU version records, the FCE trace buffer, diagnostic I/O
// and the QoS table; and the region check and reload of the global flash
// layout.
//
// Each worker takes the port's descriptor and record and carries its request
// by the port's transport: the driver ioctl for a driver port (the driver's
// status into *pext_stat), else the bsg command when the port has bsg, else
// the vendor netlink command when it has that socket. Result: 0 done, 1 when
// no request could be made (a sysfs port without a transport for it, status
// untouched), else the transport's result. The SerDes register workers answer
// status 12 with result 2 on a sysfs port without a transport.
//
// The board temperature, SerDes parameters, FCE buffer and diagnostic I/O
// have one sysfs form for every sysfs port; the NPIV QoS workers have no
// netlink form; the QoS table has no form but the driver's (status 12,
// result 2 on every sysfs port).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_diag_records.h"
#include "base/vx_driver_records.h"
#include "base/vx_port_road.h"
#include "base/vx_records.h"
#include "transport/vx_ioctl_road.h"

// One driver request of a worker (request and response buffers may be the
// same); the driver's Status goes to *pext_stat. Result as
// vxapi_send_request's; *reply (when given) receives the reply. record_len:
// the bytes of the response that form one record the driver fills whole (as
// VxRequest's).
[[nodiscard]] int32_t vxapi_diag_send(const char* name, int handle, const vxapi_priv_database* rec, uint8_t command,
                                      uint16_t sub_code, const void* request, uint32_t request_len, void* response,
                                      uint32_t response_len, uint32_t* pext_stat, VxReply* reply = nullptr,
                                      uint32_t record_len = 0);

// FCP priority: the flag (1 on, 0 off) goes to the driver as the sub-code.
[[nodiscard]] int32_t vxapi_enable_disable_qos(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t flag,
                                               uint32_t* pext_stat);
// The FCP priority configuration (qos_config_size bytes) read or written.
[[nodiscard]] int32_t vxapi_get_qos_config(int handle, vxapi_priv_database* api_priv_data_inst, void* qos_config,
                                           uint32_t qos_config_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_set_qos_config(int handle, vxapi_priv_database* api_priv_data_inst, void* qos_config,
                                           uint32_t qos_config_size, uint32_t* pext_stat);
// Enter (mode 1) or leave (0) the diagnostic mode.
[[nodiscard]] int32_t vxapi_set_reset_diag_mode(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t mode,
                                                uint32_t* pext_stat);
// The board temperature record (answered OK but short of its 64 bytes on the
// ioctl road: status 8).
[[nodiscard]] int32_t vxapi_get_board_temp(int handle, vxapi_priv_database* api_priv_data_inst,
                                           EXT_BOARD_TEMP* pboard_temp, uint32_t size, uint32_t* pext_stat);
// The SerDes parameter block (buf_size bytes).
[[nodiscard]] int32_t vxapi_read_serdes_params(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pbuf,
                                               uint32_t buf_size, uint32_t* pext_stat);
// Writes the FRU version records (fru_buf_size bytes of the list).
[[nodiscard]] int32_t vxapi_update_fru_versions(int handle, vxapi_priv_database* api_priv_data_inst,
                                                vxa_image_version_list* fru_img, uint32_t fru_buf_size,
                                                uint32_t* pext_stat);
// NPIV QoS: the configuration read (filled in place) or written, switched on
// (any non-zero flag) or off, its performance and its list (filled in place).
[[nodiscard]] int32_t vxapi_get_npiv_qos_config(int handle, vxapi_priv_database* api_priv_data_inst, void* npiv_qos,
                                                uint32_t npiv_qos_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_set_npiv_qos_config(int handle, vxapi_priv_database* api_priv_data_inst, void* npiv_qos,
                                                uint32_t npiv_qos_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_enable_disable_npiv_qos(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t flag,
                                                    uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_get_npiv_qos_perf(int handle, vxapi_priv_database* api_priv_data_inst, void* npiv_qos,
                                              uint32_t npiv_qos_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_get_npiv_qos_list(int handle, vxapi_priv_database* api_priv_data_inst, void* npiv_qos,
                                              uint32_t npiv_qos_size, uint32_t* pext_stat);
// The FCE trace buffer: *pbuf_size is the room in, the length the driver
// reports out (never more than the room, except with status 16, when it is
// the length the driver needs).
[[nodiscard]] int32_t vxapi_get_fce_buffer(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pbuf,
                                           uint32_t* pbuf_size, uint32_t* pext_stat);
// A SerDes register: a read fills val, a write sends it. On the ioctl road a
// read answered OK but short of its record gives status 8.
[[nodiscard]] int32_t vxapi_serdes_reg_ops(int handle, vxapi_priv_database* api_priv_data_inst, vxa_serdes_reg* serdes,
                                           uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_serdes_reg_ops_ex(int handle, vxapi_priv_database* api_priv_data_inst,
                                              vxa_serdes_reg_ex* serdes, uint32_t* pext_stat);
// The QoS table (qos_size bytes, filled in place), of which *delivered (when
// given) arrived; driver ports only.
[[nodiscard]] int32_t vxapi_get_qos(int handle, vxapi_priv_database* api_priv_data_inst, vxa_qos_config* pqos,
                                    uint32_t qos_size, uint32_t* pext_stat, uint32_t* delivered = nullptr);
// Diagnostic I/O: sysfs ports only (1 at once on a driver port).
[[nodiscard]] int32_t vxapi_diag_io(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pdata, uint32_t size,
                                    uint8_t* presp, uint32_t threads, uint32_t iterations, uint8_t flag,
                                    uint32_t* pext_stat);

// Boot code version text of the first image of code type ctype in an image
// of buf_size bytes: "%2d.%.2d" of the high and low byte of its CodeRevision
// (a major above 99 as "%.2d.%.2d"). 0 when found and the text with its NUL
// fits version_size bytes, else 1 (nothing written then).
[[nodiscard]] int32_t vxapi_get_bootcode_version(uint8_t* pbuf, uint32_t buf_size, uint8_t ctype, uint8_t* version,
                                                 uint32_t version_size);

// 1 when the global layout lists the region (the whole 32-bit code), else 0;
// 0 when no layout is installed.
[[nodiscard]] int32_t vxapi_check_region(uint32_t region);

// Reloads the global layout from the port's fixed layout (its features are
// not consulted). 0 ok, else the status of the layout read.
[[nodiscard]] int32_t vxapi_override_flt(int handle, vxapi_priv_database* api_priv_data_inst);

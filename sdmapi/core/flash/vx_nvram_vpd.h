// The adapter's NVRAM (the port's configuration block) and its VPD (vital
// product data) between the management API and the driver, and the port's
// serial number read from its VPD.
//
// A sysfs port (feature 0x20) is served by the sysfs twin with the same
// arguments; any other port by one driver request, sent again up to twice,
// 20 s apart, while the driver answers busy. On the chips that keep their
// VPD in flash (VX_CHIP_NVRAM_IN_FLASH) the VPD is read straight from its
// flash region, on both roads; without a layout of the function it is not
// read (1), with status 20 where the driver cannot reach the flash at all
// (vxapi_flash_out_of_reach).
//
// Results: 0 when the request was carried (the caller still tests
// *pext_stat, the driver's status of the last try), 1 when it could not be
// issued, else the ioctl's failure or the twin's result. An NVRAM read that
// the driver answers with status 0 but fewer bytes than asked gives 1.
#pragma once

#include <cstdint>

#include "base/vx_records.h"

[[nodiscard]] int32_t vxapi_get_nvram(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pnvr_buf,
                                      uint32_t nvr_buf_size, uint32_t* pext_stat);
[[nodiscard]] int32_t vxapi_set_nvram(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* pnvr_buf,
                                      uint32_t nvr_buf_size, uint32_t* pext_stat);

// *pbuf_sz: in, the buffer's size. On the driver road it receives the
// length the driver delivered (never more than the buffer); on the flash road
// it is left as it was, and the read stops at the region's end or the
// buffer's end, whichever comes first.
//
// The flash road makes the function's layout the global layout (callers that
// rely on the global layout of another adapter refresh it again).
[[nodiscard]] int32_t vxapi_get_vpd(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pbuf,
                                    uint32_t* pbuf_sz, uint32_t* pext_stat);
// Writes *pbuf_sz bytes of VPD.
[[nodiscard]] int32_t vxapi_set_vpd(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* pbuf,
                                    uint32_t* pbuf_sz, uint32_t* pext_stat);

// Reads the port's VPD (vxapi_get_vpd) and stores its "SN" field, always
// terminated, in serial_num of the port's function record. 1 for chips
// without a VPD serial number and on any failure.
[[nodiscard]] int32_t vxapi_get_vpd_serialnum(int fd, vxapi_priv_database* api_priv_data_inst);

// The flash of sysfs ports: option ROM read and update over a bsg vendor
// command or the driver's flash window ("optrom_ctl" and "optrom"), the
// expansion EDC NVRAM read, the flash sector size, and the fixed option ROM
// layouts.
//
// Each takes the arguments of its ioctl worker (the port's descriptor, which
// is not used, and the port record first; the status word last). A virtual
// port's flash is its physical port's. Statuses: 9 while nothing reached the
// driver (a file or node missing, a port kind without flash), 6 without a
// buffer, 1 once the window or node is in hand (failure unless changed; also
// left by an update when the driver refused to close the window after its
// write or after a read the update made, whatever moved; a read whose bytes
// all came keeps 0 then), 2 while a busy driver is waited for (also left by a
// release that stayed busy; one that then went through leaves the transfer's
// status), 20 when the driver does not implement the bsg command, or on a
// driver without chunked flash access when the port's own layout names no
// whole flash (nothing sent), 0 success.
//
// A driver without chunked flash access moves the flash whole; its place and
// size, and those of region 0xFF on any driver, come from the port's own
// layout (vxapi_flash_extent), never from the global layout. Other region
// codes are looked up in the global layout, which the caller installs for the
// port's adapter first.
#pragma once

#include <cstdint>

#include "base/vx_records.h"

struct sg_io_v4;
struct fc_bsg_request;

// Reads optrom_size bytes (region 0xFFFF: at offset; a region code: from the
// region's start, at most the region's size) into poptrom, which is zeroed
// first. bsg first on a port with a bsg node, then the window. Result 0.
[[nodiscard]] int32_t vxsysfs_read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                          uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat);
// The read as one bsg request (vendor command 7): 0 done, 1 not done.
[[nodiscard]] int32_t vxsysfs_bsg_read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                              uint32_t optrom_size, uint32_t region, uint32_t offset,
                                              uint32_t* pext_stat);
// Frames a flash read of optrom_size bytes at the flash offset into poptrom:
// the request (request_size bytes, zeroed first) and the header. 0, or 1 with
// nothing framed when a pointer is null, the size is 0 or the request too short.
[[nodiscard]] int32_t vxsysfs_create_bsg_read_optrom_header(sg_io_v4* hdr, uint8_t* poptrom, uint32_t optrom_size,
                                                            uint32_t offset, fc_bsg_request* cdb,
                                                            uint32_t request_size);

// The expansion EDC NVRAM (region 0x18 only; others status 1): at most 0xF800
// bytes, the rest of poptrom zero. Result 0.
[[nodiscard]] int32_t vxsysfs_read_nvram_exp_edc(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                                 uint32_t optrom_size, uint32_t region, uint32_t offset,
                                                 uint32_t* pext_stat);

// Writes the optrom_size bytes of poptrom (region 0xFFFF: at offset; a
// region code: at the region's start). On the chips that write whole sectors
// the span is widened to whole sectors. bsg first, then the window. Result 0.
[[nodiscard]] int32_t vxsysfs_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                            uint32_t optrom_size, uint32_t region, uint32_t offset,
                                            uint32_t* pext_stat);
// The update as one bsg request (vendor command 8): 0 written, 1 not written.
[[nodiscard]] int32_t vxsysfs_bsg_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                                uint32_t optrom_size, uint32_t region, uint32_t offset,
                                                uint32_t* pext_stat);
// As the read's header, with poptrom as data out only.
[[nodiscard]] int32_t vxsysfs_create_bsg_update_optrom_header(sg_io_v4* hdr, uint8_t* poptrom, uint32_t optrom_size,
                                                              uint32_t offset, fc_bsg_request* cdb,
                                                              uint32_t request_size);

// The flash sector size of the port ("flash_block_size"); no status word.
[[nodiscard]] int32_t vxsysfs_get_flash_sector_size(int handle, vxapi_priv_database* api_priv_data_inst,
                                                    uint32_t* pflash_sector_size);

// The fixed layout of the port's board by its PCI ids into playout_buf (an
// INT_OPT_ROM_LAYOUT of layout_size bytes), also installed as the global
// layout. Status 16 and nothing copied when the buffer cannot hold the table
// with its closing entry. Result 0.
[[nodiscard]] int32_t vxsysfs_get_optrom_layout(int handle, vxapi_priv_database* api_priv_data_inst,
                                                uint8_t* playout_buf, uint32_t layout_size, uint32_t* pext_stat);

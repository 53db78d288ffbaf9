// Boot code and firmware images in a copy of flash or of an option ROM image:
// the chain of PCI expansion ROM images, the VPD that travels with a boot
// image, the 24xx firmware with its checksums, and the version texts of
// firmware and FCode. The reader that fills a port's boot-code versions from
// its flash is core/flash/vx_flash_versions.h.
//
// Every function over a buffer takes the buffer's length and reads nothing
// outside it: a chain walk that would leave the buffer ends there, and what
// lies beyond counts as not found. All of them are pure (trace aside).
// vxsysfs_find_optrom_bootcode_versions keeps the name the sysfs road gave
// it; it lives here with the other image parsers, and both roads use it.
#pragma once

#include <cstdint>

#include "base/vx_driver_records.h"
#include "base/vx_records.h"

// Looks along the image chain that starts at buffer[0]. With cptr, the first
// image of code type ctype is looked for; otherwise, with dptr, the first
// image with the maker's vendor ID and device ID did. The found image's start
// goes to *cptr or *dptr (left alone when none is found), and *nimages (when
// given) receives the number of images in the chain: the walk goes on after a
// match. An image that is not the last but has length 0 ends the walk and is
// neither counted nor matched. 1 found, 0 not found.
[[nodiscard]] int32_t vxapi_find_image(uint8_t* buffer, uint32_t buffer_sz, uint8_t ctype, uint8_t** cptr, uint16_t did,
                                       uint8_t** dptr, uint32_t* nimages);

// The VPD that travels with the image: behind the data structure of the
// maker's VPD image, or, in a chain of exactly one x86 BIOS image, at byte
// 0x1FE00 of a 128 KiB ROM (so the buffer must hold all 128 KiB). It must
// start with the identifier-string tag 0x82. *vpdbuf is cleared first and
// set to the VPD's start when found. 1 found, 0 not. The layout is unused.
[[nodiscard]] int32_t vxapi_find_vpd_image(uint8_t* buffer, uint32_t buffer_sz, uint8_t** vpdbuf,
                                           INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout);

// The 24xx firmware: two segments of big-endian 32-bit words, each with its
// length in words at word 3 and a word sum of 0. It starts at byte 0 of a copy
// of the firmware region alone (region 1), else at byte 0x80000 of a copy of
// the whole flash. *pfw = the first segment (its words are big-endian and are
// read byte by byte). 1 found, 0 not.
[[nodiscard]] int32_t vxapi_find_24xx_fw(uint8_t* popt_rom, uint32_t buffer_sz, uint32_t** pfw, uint32_t region);

// The firmware image's version (device ID 0x0003 of the maker) as a quoted
// text, "\"%03d.%03d.%03d\"": at most 19 characters and a NUL. 0 ok; 1 when
// the image or its compressed-code header is absent, or when the text and its
// NUL do not fit vstr_size bytes (nothing is written then). The layout is
// unused.
[[nodiscard]] int32_t vxapi_get_fw_version(const uint8_t* buffer, uint32_t buffer_sz, char* vstr, uint32_t vstr_size,
                                           INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout);

// The 24xx firmware's version from words 4, 5 and 6 of its first segment,
// "%2d.%.2d.%.2d" (a major above 99 as "%.2d."), so 8.2.5 reads " 8.02.05".
// The text and its NUL go into pvstr when they fit pvstr_size bytes, and
// *pret_len (when given) receives the text's length. 1 found, 0 not (nothing
// written then): the opposite sense of the other version functions.
[[nodiscard]] int32_t vxapi_get_24xx_fw_version(const uint8_t* pbuffer, uint32_t buffer_sz, char* pvstr,
                                                uint32_t pvstr_size, uint32_t* pret_len, uint32_t region);

// The FCode image's version: the word before the date (mm/dd/yy) in the first
// 256 bytes of its payload, 0 to 18 characters. vxapi_get_fcode_version writes
// it between two double-quote characters, with no NUL: at most 20 bytes, so
// callers pass a zeroed 20-byte text. vxapi_get_24xx_fcode_version writes the
// version alone (at most 18 bytes, no NUL) and its length into *pret_len.
// 0 ok, 1 not found.
[[nodiscard]] int32_t vxapi_get_fcode_version(const uint8_t* buffer, uint32_t buffer_sz, char* vstr);
[[nodiscard]] int32_t vxapi_get_24xx_fcode_version(const uint8_t* buffer, uint32_t buffer_sz, char* vstr,
                                                   uint32_t* pret_len);

// Fills the boot-code version fields of the node from the one image at
// buf[0]: OptRomVersion for an x86 BIOS, BIFCodeVersion for FCode,
// BIEfiVersion for EFI (with their EXT_BI_* bits). Returns the image's length
// in bytes, or 0 after the last image of the chain or for a bad image.
[[nodiscard]] uint32_t vxsysfs_find_optrom_bootcode_versions(const uint8_t* buf, uint32_t size,
                                                             EXT_HBA_NODE* phba_node);

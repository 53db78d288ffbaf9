// The adapter's Vital Product Data as a byte buffer: the version keywords
// rewritten from a new option ROM image, the "RV" checksum computed and
// verified, a field read out. The port's serial number read from its VPD is
// core/flash/vx_nvram_vpd.h.
//
// Every walk over a VPD is bounded by the size it is given: an item whose
// header or data (or checksum byte) would lie past the end is never touched,
// and the walk fails instead.
//
// Results: 0 success, 1 failure, unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_layout.h"

// The VPD area of an option ROM image: the option ROM routines never walk
// past it.
constexpr uint32_t VX_VPD_AREA_SIZE = 512;
// Every version text is built in a zeroed buffer of this many bytes; a
// keyword receives the text, then zeros.
constexpr size_t VX_VPD_VERSION_TEXT_SIZE = 20;
// The serial number text read from the "SN" keyword.
constexpr uint16_t VX_VPD_SERIAL_TEXT_SIZE = 32;
// The field reader walks no item that starts past this index.
constexpr uint32_t VX_VPD_FIELD_WALK_LIMIT = 511;

// Rewrites, in place, the version keywords "V1", "V3", "V4" and "V5" of the
// writable area of the VPD (vpd_sz bytes, at most the first 512 walked) from
// the option ROM image (buffer_sz bytes): the EFI and BIOS revisions as
// "\"%03d.%02d\"", the firmware version as vxapi_get_fw_version gives it,
// the FCode version as vxapi_get_fcode_version gives it; an image without
// the part gives "\"000.00\"", "\"000.000.000\"" or "\"00.00.00\"". The
// read-only area is passed over whole. The walk ends at the end tag or at
// the end of the walked bytes: 0. 1 when an item reaches past them (the
// keywords before it are already rewritten). The layout is not used.
[[nodiscard]] int32_t vxapi_update_vpd_version_field(uint8_t* buffer, uint32_t buffer_sz, uint8_t* vpdbuf,
                                                     uint32_t vpd_sz, INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout);

// Copies the VPD (vpd_sz bytes, at most the first 512 walked, through its end
// tag) into the VPD area of the new option ROM image (buffer_sz bytes),
// with its version keywords rewritten as vxapi_update_vpd_version_field
// does. The area is the one vxapi_find_vpd_image finds, else, in an image of
// one x86 BIOS image alone, the last 512 bytes of its 128 KiB at 0x1FE00;
// the copy never passes the area or the image. 0 copied; 1, with the image
// unchanged, when the image has no place for the VPD or an item of the VPD
// reaches past the bytes that may be walked. vpdbuf is only read.
[[nodiscard]] int32_t vxapi_add_vpd_image(uint8_t* buffer, uint32_t buffer_sz, const uint8_t* vpdbuf, uint32_t vpd_sz,
                                          INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout);

// Rewrites the version keywords of the VPD kept in the NVRAM area (vpdsize
// bytes; both areas are walked) from the image of flash region `region`
// (buffer_sz bytes), then recomputes the "RV" checksum byte. Texts: EFI,
// BIOS and FCode revisions as "%2d.%.2d" ("%.2d.%.2d" for a major above 99),
// the firmware version as vxapi_get_24xx_fw_version gives it; a keyword
// whose part the image lacks stays as it was. An end tag before "RV" leaves
// the checksum alone (result 0). 1 when a walk reaches the end of the VPD or
// an item (or the checksum byte) would lie past it.
[[nodiscard]] int32_t vxapi_update_nv_vpd_version(uint8_t* buffer, uint32_t buffer_sz, uint8_t* vpdbuf,
                                                  uint32_t vpdsize, uint32_t region);

// 0 when the 8-bit sum of the bytes from the start through the checksum byte
// of the "RV" keyword (found by walking the items) is 0; else 1.
[[nodiscard]] int32_t vxapi_verify_vpd_checksum(const uint8_t* vpdbuf, uint32_t vpdsize);

// The same for the OEM layout, found by a byte-by-byte scan for the first
// "R", "V" pair; any byte 0x78 before it fails the scan.
[[nodiscard]] int32_t vxapi_verify_kt_vpd_checksum(const uint8_t* vpdbuf, uint32_t vpdsize);

// Copies the field of a keyword (tag_sz 2, ptag its name) or of the
// identifier string (tag_sz 1, ptag[0] 0x82) of the VPD (vpd_sz bytes, no
// item starting past byte 511) into pbuf: pbuf is zeroed for bufsz bytes,
// then at most bufsz bytes of the field are copied, stopping at a zero byte,
// with no terminator when the field fills pbuf. 1 when the field is absent,
// empty or all white space, or reaches past the VPD.
[[nodiscard]] int32_t vxapi_get_field_from_vpd(const uint8_t* pvpd, uint32_t vpd_sz, const uint8_t* ptag,
                                               uint16_t tag_sz, uint8_t* pbuf, uint16_t bufsz);

// Builders of a simulated adapter's flash contents: chains of PCI expansion
// ROM images, flash layout tables with their locator, VPD areas and image
// status records. They write every field at its byte offset and compute every
// checksum themselves, so that a fault in the library's decoders or checksums
// shows up in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/flash_formats.h"

namespace sim {

using Bytes = std::vector<uint8_t>;

// ---- placing bytes ----

// A flash image of `size` bytes, all `fill` (erased flash reads 0xFF).
Bytes blank_flash(size_t size, uint8_t fill = 0xFF);
// Copies blob into flash at offset; the flash grows (with `fill`) when the
// blob reaches past its end.
void place(Bytes& flash, size_t offset, const Bytes& blob, uint8_t fill = 0xFF);
void put_le16(Bytes& b, size_t offset, uint16_t v);  // the bytes must exist
void put_le32(Bytes& b, size_t offset, uint32_t v);
uint16_t get_le16(const Bytes& b, size_t offset);
Bytes text_bytes(const std::string& text);
// Two's complement of the sum of `words` 16-bit words from `from` on.
uint16_t word_checksum(const Bytes& b, size_t from, size_t words);

// ---- PCI expansion ROM images ----

struct RomImage {
    uint8_t code_type = VXIMG_CODE_X86;
    uint16_t vendor_id = 0, device_id = 0;
    uint8_t rev_major = 0, rev_minor = 0;
    uint16_t units = 1;           // ImageLength, in 512-byte units
    std::optional<bool> last{};   // unset: set on the final image of a chain only
    uint16_t pcir_offset = 0x1C;  // PcirOffset of the header
    uint16_t pcir_length = 0x18;  // Length of the data structure
    Bytes payload{};              // placed right behind the data structure
    // Set: "SVID" and this subsystem vendor ID at bytes 28-33, and the
    // length byte (byte 2) set; the data structure must lie behind them.
    std::optional<uint16_t> svid{};
};

RomImage bios_image(uint8_t major, uint8_t minor, uint16_t units = 2);
RomImage fcode_image(uint8_t major, uint8_t minor, uint16_t units = 2);
RomImage efi_image(uint8_t major, uint8_t minor, uint16_t units = 2);
// The maker's VPD image (device ID 0x0001) carrying a VPD area.
RomImage vpd_image(uint16_t vendor_id, const Bytes& vpd, uint16_t units = 1);
// The maker's firmware image (device ID 0x0003) with a firmware header
// (0x5A4C, then subminor, minor and major at bytes 12, 14 and 16).
RomImage firmware_image(uint16_t vendor_id, uint16_t major, uint16_t minor, uint16_t subminor, uint16_t units = 4);

// An x86 BIOS image as a board carries its settings: the subsystem vendor
// ID (svid) and a "MEISP " defaults block of 512 bytes of `fill` in its payload.
RomImage settings_bios_image(uint16_t svid, uint8_t fill, uint16_t units = 4);

// One image: units * 512 bytes (more when the header, data structure and
// payload need more room), zero-filled around its contents.
Bytes build_rom_image(const RomImage& image, bool last);

struct RomChain {
    Bytes bytes;
    std::vector<size_t> offsets;  // where each image starts
    size_t end = 0;               // behind the last image (where a locator goes)
    // Offsets of fields in image i, for tests that damage a chain.
    size_t pcir(size_t i) const;
    size_t image_length_field(size_t i) const { return pcir(i) + 0x10; }
    size_t indicator_field(size_t i) const { return pcir(i) + 0x15; }
    size_t pcir_offset_field(size_t i) const { return offsets[i] + 0x18; }
    std::vector<RomImage> images;
};

// The images one behind the other, each at the previous one's start plus
// its units * 512 (a later image overwrites what an earlier one wrote past
// that point). With vfim_length, an image layout header with that length
// stands at byte 0 and the first image at vfim_length.
RomChain build_rom_chain(const std::vector<RomImage>& images, std::optional<uint16_t> vfim_length = std::nullopt);

// An image layout header ("VFIM", the length at byte 6, the rest zero).
Bytes build_vfim_header(uint16_t length);

// A 128 KiB option ROM holding one x86 BIOS image (the whole ROM, marked
// last) with its VPD in the last 512 bytes, at 0x1FE00.
Bytes build_bios_only_rom(uint8_t major, uint8_t minor, const Bytes& vpd);

// ---- flash layout table ----

struct FltRegion {
    uint8_t code = 0;
    uint32_t size = 0, start = 0;
    std::optional<uint32_t> end{};  // default: start + size - 1
    uint8_t attribute = 0;
};

FltRegion flt_region(uint8_t code, uint32_t size, uint32_t start, uint8_t attribute = 0);

struct FltOptions {
    uint16_t version = 1;
    bool corrupt_checksum = false;
    std::optional<uint16_t> length;  // the header's length; default 16 per region
};

// The header and the region entries, with the header's checksum.
Bytes build_flt_table(const std::vector<FltRegion>& regions, const FltOptions& options = {});
// The "VFLT" locator naming the table's flash byte offset, with its checksum.
Bytes build_flt_locator(uint32_t table_address, bool corrupt_checksum = false);

// ---- VPD ----

struct VpdKeyword {
    std::string name;  // two characters
    Bytes data;
};
VpdKeyword keyword(const std::string& name, const std::string& text);

struct VpdContents {
    std::string ident = "Simulated Adapter";
    std::vector<VpdKeyword> read_only;  // the VPD-R keywords, in order, without RV
    bool add_rv = true;                 // RV closes VPD-R, its first byte the checksum
    uint8_t rv_length = 1;              // RV's data bytes (the checksum byte, then zeros)
    bool corrupt_rv = false;            // the checksum byte off by one
    bool has_writable = false;          // a VPD-W area
    std::vector<VpdKeyword> writable;
    bool end_tag = true;
    size_t size = 0;  // pad with zeros to this many bytes (0: no padding)
};

// Where the builder put a keyword.
struct VpdPlaced {
    uint8_t area;  // 0x90 or 0x91
    std::string name;
    size_t offset, data_offset, length;  // of the name's first byte, of its first data byte; the data's length
};

struct BuiltVpd {
    Bytes bytes;
    std::vector<VpdPlaced> keywords;  // in order, RV included
    std::optional<size_t> rv_byte;    // the checksum byte's offset
    std::optional<size_t> end_tag;    // the end tag's offset
};

BuiltVpd build_vpd(const VpdContents& fields);
// A VPD of the usual shape: identifier, VPD-R with PN, SN, EC and RV,
// VPD-W with V1, V3, V4 and V5, end tag, padded to 512 bytes.
BuiltVpd typical_vpd(const std::string& serial = "SIM0000001");

// ---- image status record ----

struct ImageStatusFields {
    uint8_t mask = VXIMG_IMAGE_STATUS_VALID;
    uint16_t gen_num = 1;
    uint8_t ver_major = 1, ver_minor = 0;
    uint32_t signature = VXIMG_IMAGE_STATUS_SIGNATURE;
    bool corrupt_checksum = false;
};

// 16 bytes; the checksum makes the four words add up to 0.
Bytes build_image_status(const ImageStatusFields& fields);

}  // namespace sim

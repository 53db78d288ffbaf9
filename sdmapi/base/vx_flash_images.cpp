// Boot code and firmware images in a copy of flash or of an option ROM image.
//
// Nothing here trusts a length or offset found in the data: the chain walk
// goes through the bounded walker of the image formats, every other read is
// checked against the buffer's length first, and sums over lengths from the
// data are done in 64 bits.
//
// vxsysfs_find_optrom_bootcode_versions keeps the name the sysfs road gave
// it; it lives here with the other image parsers, and both roads use it.
#include "base/vx_flash_images.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "base/vx_layout.h"
#include "base/vx_sddbg.h"
#include "image/flash_formats.h"

namespace {

// The firmware header behind the firmware image's data structure.
constexpr uint16_t kFwCompressedSig = 0x5A4C;  // "LZ": compressed code
constexpr size_t kFwSubminorAt = 12;
constexpr size_t kFwMinorAt = 14;
constexpr size_t kFwMajorAt = 16;
constexpr size_t kFwHeaderNeeded = kFwMajorAt + 2;

// The 24xx firmware.
constexpr size_t k24xxFlashStart = 0x80000;  // in a copy of the whole flash
constexpr uint32_t k24xxRegionFirmware = 1;  // the buffer holds the firmware region alone
constexpr size_t k24xxLengthWord = 3;        // a segment's length in words
constexpr size_t k24xxMajorWord = 4;         // then minor and subminor
constexpr uint64_t k24xxMinWords = 7;        // words 0..6 of the first segment
constexpr size_t k24xxSegmentHead = 16;      // words 0..3: what must be there to read the length
constexpr size_t kArray0Dump = 100;
constexpr size_t kArray1Dump = 16;

// FCode: the date is looked for in this much of the payload.
constexpr size_t kFcodeScan = 256;
constexpr ptrdiff_t kFcodeMaxSpan = 17;  // last - first: at most 18 characters

constexpr uint32_t kStepBits = VXDBG_STEP;
constexpr uint32_t kStepApiBits = VXDBG_STEP | VXDBG_API;

uint32_t get_be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// A text and a number on one line.
void trace(uint32_t bits, const char* text, uint64_t number = 0, uint8_t base = VXDBG_NONE) {
    vxdbg_line(bits, text, number, base);
}

// What a search of the chain found.
struct ChainMatch {
    bool found = false;
    vximg_rom_image image{};
    uint32_t count = 0;
};

// The chain walk behind vxapi_find_image. by_type: match the code type,
// else the maker's vendor ID and the device ID.
ChainMatch search_chain(const uint8_t* buf, size_t len, bool by_type, uint8_t ctype, bool by_device,
                        uint16_t did) {
    ChainMatch m;
    vximg_rom_walker w;
    vximg_rom_walk_init(&w, buf, len, 0, false);
    vximg_rom_image img;
    while (vximg_rom_walk_next(&w, &img)) {
        if (m.found) continue;
        if (by_type) {
            const bool hit = img.code_type == ctype;
            if (vxdbg_on(kStepBits)) {
                vxdbg_print("vxapi_find_image: code type check. got ctype=", ctype, VXDBG_HEX, 0);
                vxdbg_print(", code_type=", img.code_type, VXDBG_HEX, 0);
                vxdbg_print(", found=", hit ? 1 : 0, VXDBG_DEC, 1);
            }
            if (hit) {
                m.found = true;
                m.image = img;
            }
        } else if (by_device && img.vendor_id == VX_PCI_VENDOR_MAKER && img.device_id == did) {
            m.found = true;
            m.image = img;
        }
    }
    if (w.result == VXIMG_ROM_BAD_PCIR_SIGNATURE) {
        trace(VXDBG_ERROR, "PCI data signature does not match");
    }
    m.count = w.count;
    return m;
}

// Where an FCode image's version stands in the buffer: its first byte and its
// length (0 for an empty version).
bool fcode_version_span(const uint8_t* buf, size_t len, size_t* first, size_t* count) {
    const ChainMatch m = search_chain(buf, len, true, VXIMG_CODE_FCODE, false, 0);
    if (!m.found) return false;
    const size_t p = m.image.payload_offset;
    if (p >= len) return false;

    // The date: a slash with another slash two or three bytes on. The second
    // slash may lie a little past the scanned stretch, never past the buffer.
    const size_t scan_end = len - p > kFcodeScan ? p + kFcodeScan : len;
    size_t date = 0;
    bool dated = false;
    for (size_t q = p + 1; q < scan_end; ++q) {
        if (buf[q] != '/') continue;
        if ((q + 2 < len && buf[q + 2] == '/') || (q + 3 < len && buf[q + 3] == '/')) {
            date = q;
            dated = true;
            break;
        }
    }
    if (!dated) return false;

    // The nearest space before the date, then the one before that; neither
    // below the payload's start.
    auto space_before = [&](size_t from, size_t* at) {
        for (size_t i = from; i > p; --i) {
            if (buf[i - 1] == ' ') {
                *at = i - 1;
                return true;
            }
        }
        return false;
    };
    size_t end_space = 0;
    size_t start_space = 0;
    if (!space_before(date, &end_space) || !space_before(end_space, &start_space)) return false;

    // Signed: two spaces in a row give last one below first, an empty
    // version, which is accepted. A single character is not.
    const ptrdiff_t last = static_cast<ptrdiff_t>(end_space) - 1;
    const ptrdiff_t start = static_cast<ptrdiff_t>(start_space) + 1;
    if (last - start > kFcodeMaxSpan || last == start) return false;
    *first = start_space + 1;
    *count = static_cast<size_t>(last - start + 1);
    return true;
}

// The 24xx firmware's first segment, as an offset into the buffer.
bool find_24xx_fw(const uint8_t* buf, size_t len, uint32_t region, size_t* at) {
    const size_t start = region == k24xxRegionFirmware ? 0 : k24xxFlashStart;
    if (len < start) {
        trace(VXDBG_ERROR, "vxapi_find_24xx_fw(): invalid total length=", len, VXDBG_HEX);
        return false;
    }
    const uint64_t room = len - start;
    const uint8_t* seg0 = buf + start;
    if (vxdbg_on(kStepBits)) {
        vxdbg_dump(" fw array0 dump:", seg0, 8, room < kArray0Dump ? room : kArray0Dump);
    }
    if (room < k24xxSegmentHead) {
        trace(VXDBG_ERROR, "vxapi_find_24xx_fw(): invalid total length=", room, VXDBG_HEX);
        return false;
    }

    const uint64_t l1 = get_be32(seg0 + 4 * k24xxLengthWord);
    trace(kStepBits, "vxapi_find_24xx_fw(): first array length=", l1, VXDBG_HEX);
    // The first segment must hold its version words 4..6.
    if (l1 < k24xxMinWords || 4 * l1 > room) {
        if (vxdbg_on(VXDBG_ERROR)) {
            vxdbg_print("vxapi_find_24xx_fw(): invalid length found=", l1, VXDBG_HEX, 0);
            vxdbg_print(", image not found.", 0, VXDBG_NONE, 1);
        }
        return false;
    }

    // Room for the second segment's words 0..3 before its length is read.
    if (4 * l1 + k24xxSegmentHead > room) {
        if (vxdbg_on(VXDBG_ERROR)) {
            vxdbg_print("vxapi_find_24xx_fw(): invalid total length=", 4 * l1 + k24xxSegmentHead, VXDBG_HEX,
                        0);
            vxdbg_print(", image not found.", 0, VXDBG_NONE, 1);
        }
        return false;
    }
    const uint8_t* seg1 = seg0 + 4 * l1;
    if (vxdbg_on(kStepBits)) vxdbg_dump(" fw array1 dump:", seg1, 8, kArray1Dump);
    const uint64_t l2 = get_be32(seg1 + 4 * k24xxLengthWord);
    trace(kStepBits, "vxapi_find_24xx_fw(): second array length=", l2, VXDBG_HEX);
    if (l2 == 0) {
        if (vxdbg_on(VXDBG_ERROR)) {
            vxdbg_print("vxapi_find_24xx_fw(): invalid length found=", l2, VXDBG_HEX, 0);
            vxdbg_print(", image not found.", 0, VXDBG_NONE, 1);
        }
        return false;
    }
    if (4 * (l1 + l2) > room) {
        if (vxdbg_on(VXDBG_ERROR)) {
            vxdbg_print("vxapi_find_24xx_fw(): invalid total length=", 4 * (l1 + l2), VXDBG_HEX, 0);
            vxdbg_print(", image not found.", 0, VXDBG_NONE, 1);
        }
        return false;
    }

    uint32_t sum = 0;
    for (uint64_t i = 0; i < l1; ++i) sum += get_be32(seg0 + 4 * i);
    if (sum != 0) {
        trace(VXDBG_ERROR, "vxapi_find_24xx_fw(): first array chksum err.");
        return false;
    }
    sum = 0;
    for (uint64_t i = 0; i < l2; ++i) sum += get_be32(seg1 + 4 * i);
    if (sum != 0) {
        trace(VXDBG_ERROR, "vxapi_find_24xx_fw(): second array chksum err.");
        return false;
    }
    *at = start;
    return true;
}

}  // namespace

int32_t vxapi_find_image(uint8_t* buffer, uint32_t buffer_sz, uint8_t ctype, uint8_t** cptr, uint16_t did,
                         uint8_t** dptr, uint32_t* nimages) {
    trace(kStepBits, "vxapi_find_image: entered.");
    ChainMatch m;
    if (buffer != nullptr) {
        m = search_chain(buffer, buffer_sz, cptr != nullptr, ctype, dptr != nullptr, did);
    }
    if (m.found) {
        if (cptr != nullptr) {
            *cptr = buffer + m.image.offset;
        } else {
            *dptr = buffer + m.image.offset;
        }
    }
    if (nimages != nullptr) *nimages = m.count;
    trace(kStepBits, "vxapi_find_image: exiting.");
    return m.found ? 1 : 0;
}

int32_t vxapi_find_vpd_image(uint8_t* buffer, uint32_t buffer_sz, uint8_t** vpdbuf,
                             INT_OPT_ROM_LAYOUT* /*pGlobalOptRomLayout*/) {
    trace(kStepApiBits, "vxapi_find_vpd_image: entered.");
    if (vpdbuf != nullptr) *vpdbuf = nullptr;
    int32_t found = 0;
    uint8_t* vpd = nullptr;
    if (buffer != nullptr && vpdbuf != nullptr) {
        uint8_t* image = nullptr;
        uint32_t nimages = 0;
        found = vxapi_find_image(buffer, buffer_sz, 0, nullptr, VXIMG_DEVICE_VPD, &image, &nimages);
        if (vxdbg_on(kStepBits)) {
            vxdbg_print("vxapi_find_vpd_image: found=", static_cast<uint64_t>(found), VXDBG_DEC, 0);
            vxdbg_print(", nimages =", nimages, VXDBG_DEC, 1);
        }
        if (found) {
            // The VPD follows the image's data structure.
            vximg_rom_image img;
            if (vximg_rom_image_at(buffer, buffer_sz, static_cast<size_t>(image - buffer), &img) ==
                    VXIMG_ROM_OK &&
                img.payload_offset < buffer_sz) {
                vpd = buffer + img.payload_offset;
            } else {
                found = 0;
            }
        } else if (nimages == 1) {
            uint8_t* bios = nullptr;
            found = vxapi_find_image(buffer, buffer_sz, VXIMG_CODE_X86, &bios, 0, nullptr, &nimages);
            // The VPD fills the last 512 bytes of a 128 KiB ROM: all of it must be in the copy.
            if (found && buffer_sz >= VXIMG_BIOS_ROM_SIZE) {
                vpd = buffer + VXIMG_BIOS_VPD_OFFSET;
                trace(kStepBits,
                      "vxapi_find_vpd_image: single BIOS image and VPD resides in the last 512 byte of "
                      "Optional Rom *vpdbuf=",
                      reinterpret_cast<uintptr_t>(vpd), VXDBG_HEX);
            } else {
                found = 0;
            }
        }
        if (found && vpd[0] != VXIMG_VPD_TAG_IDENT) {
            trace(VXDBG_ERROR, " vxapi_find_vpd_image: startingidentifier string is not valid: 0x82");
            found = 0;
        }
        if (found) *vpdbuf = vpd;
    }
    trace(kStepApiBits, "vxapi_find_vpd_image: exiting. found=", static_cast<uint64_t>(found), VXDBG_DEC);
    return found;
}

int32_t vxapi_find_24xx_fw(uint8_t* popt_rom, uint32_t buffer_sz, uint32_t** pfw, uint32_t region) {
    trace(kStepApiBits, "vxapi_find_24xx_fw(): entered.");
    size_t at = 0;
    const bool found = popt_rom != nullptr && find_24xx_fw(popt_rom, buffer_sz, region, &at);
    if (found && pfw != nullptr) {
        // The caller reads the big-endian words byte by byte.
        *pfw = reinterpret_cast<uint32_t*>(popt_rom + at);
    }
    trace(kStepApiBits, "vxapi_find_24xx_fw(): exiting.");
    return found ? 1 : 0;
}

int32_t vxapi_get_fw_version(const uint8_t* buffer, uint32_t buffer_sz, char* vstr, uint32_t vstr_size,
                             INT_OPT_ROM_LAYOUT* /*pGlobalOptRomLayout*/) {
    trace(kStepBits, "vxapi_get_fw_version: entered.");
    int32_t rc = 1;
    const ChainMatch m = buffer != nullptr
                             ? search_chain(buffer, buffer_sz, false, 0, true, VXIMG_DEVICE_FIRMWARE)
                             : ChainMatch{};
    const size_t hdr = m.image.payload_offset;
    if (!m.found) {
        trace(VXDBG_ERROR, "vxapi_get_fw_version: Firmware Image does not exist");
    } else if (hdr > buffer_sz || buffer_sz - hdr < kFwHeaderNeeded ||
               vximg_get_le16(buffer + hdr) != kFwCompressedSig) {
        trace(VXDBG_ERROR, "vxapi_get_fw_version: Uncompressed risc image currently undefined");
    } else {
        char text[32];
        const int n = std::snprintf(
            text, sizeof text, "\"%03d.%03d.%03d\"", vximg_get_le16(buffer + hdr + kFwMajorAt),
            vximg_get_le16(buffer + hdr + kFwMinorAt), vximg_get_le16(buffer + hdr + kFwSubminorAt));
        if (vstr != nullptr && n > 0 && static_cast<uint32_t>(n) < vstr_size) {
            std::memcpy(vstr, text, static_cast<size_t>(n) + 1);
            rc = 0;
        }
    }
    trace(kStepBits, "vxapi_get_fw_version: exiting.");
    return rc;
}

int32_t vxapi_get_24xx_fw_version(const uint8_t* pbuffer, uint32_t buffer_sz, char* pvstr,
                                  uint32_t pvstr_size, uint32_t* pret_len, uint32_t region) {
    trace(kStepBits, "vxapi_get_24xx_fw_version: entered.");
    size_t at = 0;
    if (pbuffer == nullptr || !find_24xx_fw(pbuffer, buffer_sz, region, &at)) {
        trace(VXDBG_ERROR, "vxapi_get_24xx_fw_version: Firmware Image does not exist");
        return 0;
    }
    // The words are printed as the signed numbers the format takes; a text of
    // three 32-bit numbers needs at most 3 * 12 bytes and its NUL.
    const uint8_t* seg = pbuffer + at;
    const uint32_t major = get_be32(seg + 4 * k24xxMajorWord);
    const int minor = static_cast<int>(get_be32(seg + 4 * (k24xxMajorWord + 1)));
    const int subminor = static_cast<int>(get_be32(seg + 4 * (k24xxMajorWord + 2)));
    char text[40];
    const int n = std::snprintf(text, sizeof text, major > 99 ? "%.2d.%.2d.%.2d" : "%2d.%.2d.%.2d",
                                static_cast<int>(major), minor, subminor);
    if (pvstr == nullptr || n <= 0 || static_cast<uint32_t>(n) >= pvstr_size) {
        trace(VXDBG_ERROR, "vxapi_get_24xx_fw_version: version text does not fit. length=", n > 0 ? n : 0,
              VXDBG_DEC);
        return 0;
    }
    std::memcpy(pvstr, text, static_cast<size_t>(n) + 1);
    if (pret_len != nullptr) *pret_len = static_cast<uint32_t>(n);
    if (vxdbg_on(kStepBits)) {
        vxdbg_print("vxapi_get_24xx_fw_version(): exiting. version string=", 0, VXDBG_NONE, 0);
        vxdbg_print(text, 0, VXDBG_NONE, 1);
    }
    return 1;
}

int32_t vxapi_get_fcode_version(const uint8_t* buffer, uint32_t buffer_sz, char* vstr) {
    trace(kStepBits, "vxapi_get_fcode_version: entered.");
    size_t first = 0;
    size_t count = 0;
    if (buffer == nullptr || vstr == nullptr || !fcode_version_span(buffer, buffer_sz, &first, &count)) {
        return 1;
    }
    vstr[0] = '"';
    if (count > 0) std::memcpy(vstr + 1, buffer + first, count);
    vstr[count + 1] = '"';
    if (vxdbg_on(kStepBits)) {
        char text[24];
        std::memcpy(text, vstr, count + 2);
        text[count + 2] = '\0';
        vxdbg_print("vxapi_get_fcode_version(): exiting. version string=", 0, VXDBG_NONE, 0);
        vxdbg_print(text, 0, VXDBG_NONE, 1);
    }
    return 0;
}

int32_t vxapi_get_24xx_fcode_version(const uint8_t* buffer, uint32_t buffer_sz, char* vstr,
                                     uint32_t* pret_len) {
    trace(kStepBits, "vxapi_get_24xx_fcode_version: entered.");
    size_t first = 0;
    size_t count = 0;
    if (buffer == nullptr || vstr == nullptr || !fcode_version_span(buffer, buffer_sz, &first, &count)) {
        trace(VXDBG_ERROR, "vxapi_get_24xx_fcode_version: image not found.");
        return 1;
    }
    if (count > 0) std::memcpy(vstr, buffer + first, count);
    if (pret_len != nullptr) *pret_len = static_cast<uint32_t>(count);
    trace(kStepBits, "vxapi_get_24xx_fcode_version: exiting.");
    return 0;
}

uint32_t vxsysfs_find_optrom_bootcode_versions(const uint8_t* buf, uint32_t size, EXT_HBA_NODE* phba_node) {
    if (buf == nullptr || phba_node == nullptr) return 0;
    vximg_rom_image img;
    switch (vximg_rom_image_at(buf, size, 0, &img)) {
        case VXIMG_ROM_OK:
            break;
        case VXIMG_ROM_BAD_PCIR_OFFSET:
            trace(VXDBG_ERROR, "> Offset failed");
            return 0;
        case VXIMG_ROM_BAD_PCIR_SIGNATURE:
            trace(VXDBG_ERROR, "> Data failed");
            return 0;
        default:  // no 0x55, 0xAA, or not even a whole header
            trace(VXDBG_ERROR, "> Header failed");
            return 0;
    }

    switch (img.code_type) {
        case VXIMG_CODE_X86:
            std::snprintf(reinterpret_cast<char*>(phba_node->OptRomVersion), sizeof phba_node->OptRomVersion,
                          "%d.%02d", img.rev_major, img.rev_minor);
            break;
        case VXIMG_CODE_FCODE:
            phba_node->BIFCodeVersion[0] = img.rev_major;
            phba_node->BIFCodeVersion[1] = img.rev_minor;
            phba_node->BIValid |= EXT_BI_FCODE_VALID;
            break;
        case VXIMG_CODE_EFI:
            phba_node->BIEfiVersion[0] = img.rev_major;
            phba_node->BIEfiVersion[1] = img.rev_minor;
            phba_node->BIValid |= EXT_BI_EFI_VALID;
            break;
        default:
            break;
    }
    return img.last ? 0 : static_cast<uint32_t>(img.length);
}

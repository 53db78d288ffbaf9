// VPD version keywords rewritten from an option ROM image, the "RV"
// checksum and field reads.
//
// Every walk over a VPD goes through the bounded walker of the image
// formats, which yields an item only once its header and data lie within
// the bytes given: nothing here reads or writes past a VPD, and a VPD whose
// items do not fit is refused before anything is changed.
#include "base/vx_vpd_fields.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "base/vx_flash_images.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "image/flash_formats.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_STEP;

// A version text: zero-filled, so that a keyword takes the text, then zeros.
using VersionText = std::array<char, VX_VPD_VERSION_TEXT_SIZE>;

// The first image of that code type in the chain of the image buffer.
bool find_code_image(const uint8_t* buffer, uint32_t buffer_sz, uint8_t code_type, vximg_rom_image* img) {
    if (buffer == nullptr) return false;
    uint8_t* found = nullptr;
    uint32_t images = 0;
    if (vxapi_find_image(const_cast<uint8_t*>(buffer), buffer_sz, code_type, &found, 0, nullptr, &images) != 1 ||
        found == nullptr) {
        return false;
    }
    return vximg_rom_image_at(buffer, buffer_sz, static_cast<size_t>(found - buffer), img) == VXIMG_ROM_OK;
}

// ---------------------------------------------------------------- option ROM texts

struct RomTexts {
    VersionText v1{}, v3{}, v4{}, v5{};
};

// The revision of the image of that code type as "\"%03d.%02d\"", or the default.
void rom_revision_text(const uint8_t* buffer, uint32_t buffer_sz, uint8_t code_type, VersionText* text) {
    text->fill(0);
    vximg_rom_image img;
    if (find_code_image(buffer, buffer_sz, code_type, &img)) {
        std::snprintf(text->data(), text->size(), "\"%03d.%02d\"", img.rev_major, img.rev_minor);
    } else {
        std::snprintf(text->data(), text->size(), "\"000.00\"");
    }
}

RomTexts rom_texts(uint8_t* buffer, uint32_t buffer_sz, INT_OPT_ROM_LAYOUT* layout) {
    RomTexts t;
    rom_revision_text(buffer, buffer_sz, VXIMG_CODE_EFI, &t.v1);
    rom_revision_text(buffer, buffer_sz, VXIMG_CODE_X86, &t.v4);
    const uint32_t text_size = static_cast<uint32_t>(t.v3.size());
    if (buffer == nullptr || vxapi_get_fw_version(buffer, buffer_sz, t.v3.data(), text_size, layout) != 0) {
        t.v3.fill(0);
        std::snprintf(t.v3.data(), t.v3.size(), "\"000.000.000\"");
    }
    if (buffer == nullptr || vxapi_get_fcode_version(buffer, buffer_sz, t.v5.data()) != 0) {
        t.v5.fill(0);
        std::snprintf(t.v5.data(), t.v5.size(), "\"00.00.00\"");
    }
    return t;
}

const VersionText* rom_text_for(const RomTexts& t, const vximg_vpd_item& kw) {
    if (kw.name[0] != 'V') return nullptr;
    switch (kw.name[1]) {
    case '1':
        return &t.v1;
    case '3':
        return &t.v3;
    case '4':
        return &t.v4;
    case '5':
        return &t.v5;
    default:
        return nullptr;
    }
}

bool fill(uint8_t* vpd, size_t len, const vximg_vpd_item& kw, const VersionText& text) {
    return vximg_vpd_fill_keyword(vpd, len, &kw, text.data(), text.size());
}

// The walk of the option ROM routines over the first `len` bytes of a VPD:
// the identifier and the read-only area are passed over whole, the writable
// area is entered, and the version keywords get their texts (only when
// `texts` is given: without, the walk only checks). *end receives the bytes
// the walk covered (through the end tag, or all `len` without one). False
// when an item, or the read-only area, reaches past `len`.
bool walk_rom_vpd(uint8_t* vpd, size_t len, const RomTexts* texts, size_t* end) {
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpd, len);
    vximg_vpd_item it;
    while (vximg_vpd_walk_next(&w, &it)) {
        if (it.kind == VXIMG_VPD_ITEM_END) {
            *end = w.pos;
            return true;
        }
        if (it.kind == VXIMG_VPD_ITEM_AREA && it.tag == VXIMG_VPD_TAG_VPDR) {
            // Nothing the read-only checksum covers is changed.
            if (it.declared_length > len - it.data_offset) {
                w.result = VXIMG_VPD_TRUNCATED;
                break;
            }
            w.pos = it.data_offset + it.declared_length;
            continue;
        }
        if (it.kind == VXIMG_VPD_ITEM_KEYWORD && texts != nullptr) {
            const VersionText* text = rom_text_for(*texts, it);
            if (text != nullptr) fill(vpd, len, it, *text);
        }
    }
    if (w.result == VXIMG_VPD_END_OF_BUFFER) {
        *end = len;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- NVRAM texts

struct NvText {
    bool found = false;
    VersionText text{};
};

struct NvTexts {
    NvText v1, v3, v4, v5;
};

// "%2d.%.2d", or "%.2d.%.2d" for a major above 99.
void nv_revision_text(const uint8_t* buffer, uint32_t buffer_sz, uint8_t code_type, NvText* out) {
    vximg_rom_image img;
    if (!find_code_image(buffer, buffer_sz, code_type, &img)) return;
    std::snprintf(out->text.data(), out->text.size(), img.rev_major > 99 ? "%.2d.%.2d" : "%2d.%.2d", img.rev_major,
                  img.rev_minor);
    out->found = true;
}

NvTexts nv_texts(const uint8_t* buffer, uint32_t buffer_sz, uint32_t region) {
    NvTexts t;
    nv_revision_text(buffer, buffer_sz, VXIMG_CODE_EFI, &t.v1);
    nv_revision_text(buffer, buffer_sz, VXIMG_CODE_X86, &t.v4);
    nv_revision_text(buffer, buffer_sz, VXIMG_CODE_FCODE, &t.v5);
    const uint32_t text_size = static_cast<uint32_t>(t.v3.text.size());
    if (buffer != nullptr &&
        vxapi_get_24xx_fw_version(buffer, buffer_sz, t.v3.text.data(), text_size, nullptr, region) == 1) {
        t.v3.found = true;
    } else {
        t.v3.text.fill(0);
    }
    return t;
}

// Puts the text of a version keyword, or leaves the keyword as it is when
// the image lacks the part.
void nv_update_keyword(uint8_t* vpd, size_t len, const vximg_vpd_item& kw, const NvTexts& t) {
    const NvText* text = nullptr;
    const char* missing = nullptr;
    switch (kw.name[1]) {
    case '1':
        text = &t.v1;
        missing = "vxapi_update_nv_vpd_version: efi image not found.";
        break;
    case '3':
        text = &t.v3;
        missing = "vxapi_update_nv_vpd_version: fw image not found.";
        break;
    case '4':
        text = &t.v4;
        missing = "vxapi_update_nv_vpd_version: bios image not found.";
        break;
    case '5':
        text = &t.v5;
        missing = "vxapi_update_nv_vpd_version: fcode version not found.";
        break;
    default:
        vxdbg_line(kErr, "vxapi_update_nv_vpd_version: unrecognized version=", static_cast<uint8_t>(kw.name[1]),
                   VXDBG_HEX);
        return;
    }
    if (!text->found) {
        vxdbg_line(kErr, missing);
        return;
    }
    fill(vpd, len, kw, text->text);
}

// The structure of a VPD as the checksum walks see it: every item from the
// start must lie within the buffer up to the end tag. *rv receives the first
// "RV" keyword before the end tag (kind 0 when there is none). False, with
// the index where the walk stopped in *stop, when the walk runs past the end.
bool scan_vpd(const uint8_t* vpd, size_t len, vximg_vpd_item* rv, size_t* stop) {
    *rv = vximg_vpd_item{};
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpd, len);
    vximg_vpd_item it;
    while (vximg_vpd_walk_next(&w, &it)) {
        if (it.kind == VXIMG_VPD_ITEM_END) return true;
        if (it.kind == VXIMG_VPD_ITEM_KEYWORD && rv->kind == 0 && it.name[0] == 'R' && it.name[1] == 'V') *rv = it;
    }
    *stop = w.pos;
    return false;
}

uint8_t sum_bytes(const uint8_t* p, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + p[i]);
    return sum;
}

}  // namespace

// ---------------------------------------------------------------- option ROM routines

int32_t vxapi_update_vpd_version_field(uint8_t* buffer, uint32_t buffer_sz, uint8_t* vpdbuf, uint32_t vpd_sz,
                                       INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout) {
    vxdbg_line(VXDBG_STEP, "vxapi_update_vpd_version_field: entered.");
    if (vpdbuf == nullptr) return 1;
    const size_t len = std::min(vpd_sz, VX_VPD_AREA_SIZE);
    size_t end = 0;
    // The VPD is checked whole before a keyword changes.
    if (!walk_rom_vpd(vpdbuf, len, nullptr, &end)) {
        vxdbg_line(kErr, "vxapi_update_vpd_version_field: vpd item exceeds vpd area.");
        return 1;
    }
    const RomTexts texts = rom_texts(buffer, buffer_sz, pGlobalOptRomLayout);
    walk_rom_vpd(vpdbuf, len, &texts, &end);
    vxdbg_line(VXDBG_STEP, "vxapi_update_vpd_version_field: exiting.");
    return 0;
}

int32_t vxapi_add_vpd_image(uint8_t* buffer, uint32_t buffer_sz, const uint8_t* vpdbuf, uint32_t vpd_sz,
                            INT_OPT_ROM_LAYOUT* pGlobalOptRomLayout) {
    vxdbg_line(VXDBG_STEP, "vxapi_add_vpd_image: entered.");
    const auto done = [](int32_t result) {
        vxdbg_line(VXDBG_STEP, "vxapi_add_vpd_image: exiting. ret=", static_cast<uint32_t>(result), VXDBG_HEX);
        return result;
    };
    if (buffer == nullptr || vpdbuf == nullptr) return done(1);

    uint8_t* area = nullptr;
    size_t area_len = 0;
    if (vxapi_find_vpd_image(buffer, buffer_sz, &area, pGlobalOptRomLayout) == 1 && area != nullptr) {
        area_len = std::min<size_t>(VX_VPD_AREA_SIZE, buffer_sz - static_cast<size_t>(area - buffer));
    } else {
        // An image of one x86 BIOS image alone keeps its VPD in the last
        // 512 bytes of its 128 KiB.
        uint8_t* bios = nullptr;
        uint32_t images = 0;
        const int32_t found = vxapi_find_image(buffer, buffer_sz, VXIMG_CODE_X86, &bios, 0, nullptr, &images);
        if (found != 1 || images != 1 || buffer_sz < VXIMG_BIOS_ROM_SIZE) {
            vxdbg_line(kErr, "vxapi_add_vpd_image: no place for the vpd in the image.");
            return done(1);
        }
        area = buffer + VXIMG_BIOS_VPD_OFFSET;
        area_len = VXIMG_BIOS_VPD_SIZE;
    }

    // The VPD is rewritten in a copy of its own, and reaches the image only
    // whole: the image is never left half written.
    std::array<uint8_t, VX_VPD_AREA_SIZE> copy{};
    const size_t len = std::min<size_t>(vpd_sz, area_len);
    std::memcpy(copy.data(), vpdbuf, len);
    size_t end = 0;
    if (!walk_rom_vpd(copy.data(), len, nullptr, &end)) {
        vxdbg_line(kErr, "vxapi_add_vpd_image: vpd item exceeds vpd area.");
        return done(1);
    }
    const RomTexts texts = rom_texts(buffer, buffer_sz, pGlobalOptRomLayout);
    walk_rom_vpd(copy.data(), len, &texts, &end);
    std::memcpy(area, copy.data(), end);
    return done(0);
}

// ---------------------------------------------------------------- NVRAM routine

int32_t vxapi_update_nv_vpd_version(uint8_t* buffer, uint32_t buffer_sz, uint8_t* vpdbuf, uint32_t vpdsize,
                                    uint32_t region) {
    vxdbg_line(VXDBG_STEP, "vxapi_update_nv_vpd_version: entered.");
    const auto done = [](int32_t result) {
        vxdbg_line(VXDBG_STEP, "vxapi_update_nv_vpd_version: exiting. ret=", static_cast<uint32_t>(result),
                   VXDBG_HEX);
        return result;
    };
    if (vpdbuf == nullptr) return done(1);
    if (vxdbg_on(VXDBG_STEP)) {
        vxdbg_dump("vxapi_update_nv_vpd_version: dump vpd buf before version update:", vpdbuf, 8, vpdsize);
    }

    // Both walks are checked before a byte changes: every item up to the end
    // tag within the VPD, and a checksum byte behind "RV".
    vximg_vpd_item rv;
    size_t stop = 0;
    if (!scan_vpd(vpdbuf, vpdsize, &rv, &stop)) {
        vxdbg_line(kErr, "vxapi_update_nv_vpd_version: exceeding vpd buf size. bidx=", stop, VXDBG_DEC);
        return done(1);
    }
    if (rv.kind != 0 && rv.data_length == 0) {
        vxdbg_line(kErr, "vxapi_update_nv_vpd_version: exceeding vpd buf size during chksum. bidx=",
                   rv.data_offset, VXDBG_DEC);
        return done(1);
    }

    const NvTexts texts = nv_texts(buffer, buffer_sz, region);
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpdbuf, vpdsize);
    vximg_vpd_item it;
    while (vximg_vpd_walk_next(&w, &it) && it.kind != VXIMG_VPD_ITEM_END) {
        if (it.kind == VXIMG_VPD_ITEM_KEYWORD && it.name[0] == 'V') nv_update_keyword(vpdbuf, vpdsize, it, texts);
    }

    // The checksum byte makes the bytes from the start through it add up to
    // 0. An end tag before any "RV" leaves the VPD without one.
    if (rv.kind != 0) {
        vpdbuf[rv.data_offset] = static_cast<uint8_t>(0x100 - sum_bytes(vpdbuf, rv.data_offset));
    }
    if (vxdbg_on(VXDBG_STEP)) {
        vxdbg_dump("vxapi_update_nv_vpd_version: dump vpd buf after version update:", vpdbuf, 8, vpdsize);
    }
    return done(0);
}

// ---------------------------------------------------------------- checksums

int32_t vxapi_verify_vpd_checksum(const uint8_t* vpdbuf, uint32_t vpdsize) {
    if (vpdbuf == nullptr) return 1;
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpdbuf, vpdsize);
    vximg_vpd_item it;
    while (vximg_vpd_walk_next(&w, &it)) {
        if (it.kind == VXIMG_VPD_ITEM_END) return 1;
        if (it.kind == VXIMG_VPD_ITEM_KEYWORD && it.name[0] == 'R' && it.name[1] == 'V') {
            if (it.data_length == 0) break;
            return sum_bytes(vpdbuf, it.data_offset + 1) == 0 ? 0 : 1;
        }
    }
    vxdbg_line(kErr, "vxapi_verify_vpd_checksum: exceeding vpd buf size during chksum. bidx=", w.pos, VXDBG_DEC);
    return 1;
}

// Every byte before the first "R", "V" pair counts, wherever it stands in
// the structure; a byte 0x78 before it ends the scan.
int32_t vxapi_verify_kt_vpd_checksum(const uint8_t* vpdbuf, uint32_t vpdsize) {
    if (vpdbuf == nullptr) return 1;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < vpdsize; ++i) {
        const uint8_t b = vpdbuf[i];
        if (b == VXIMG_VPD_TAG_END) return 1;
        if (b == 'R' && i + 1 < vpdsize && vpdbuf[i + 1] == 'V') {
            // The name, the length byte and the checksum byte.
            if (vpdsize - i < 4) break;
            sum = static_cast<uint8_t>(sum + sum_bytes(vpdbuf + i, 4));
            return sum == 0 ? 0 : 1;
        }
        sum = static_cast<uint8_t>(sum + b);
    }
    vxdbg_line(kErr, "vxapi_verify_kt_vpd_checksum: exceeding vpd buf size during chksum.");
    return 1;
}

// ---------------------------------------------------------------- fields

int32_t vxapi_get_field_from_vpd(const uint8_t* pvpd, uint32_t vpd_sz, const uint8_t* ptag, uint16_t tag_sz,
                                 uint8_t* pbuf, uint16_t bufsz) {
    const auto failed = []() {
        vxdbg_line(kErr, "vxapi_get_field_from_vpd: failed. exiting.");
        return 1;
    };
    if (pbuf != nullptr) std::memset(pbuf, 0, bufsz);
    if (tag_sz == 0 || ptag == nullptr || pvpd == nullptr || pbuf == nullptr) return failed();

    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, pvpd, vpd_sz);
    vximg_vpd_item it;
    bool found = false;
    while (vximg_vpd_walk_next(&w, &it)) {
        if (it.offset > VX_VPD_FIELD_WALK_LIMIT) {
            vxdbg_line(kErr, "vxapi_get_field_from_vpd: exceeding vpd buf size. bidx=", it.offset, VXDBG_DEC);
            return failed();
        }
        if (it.kind == VXIMG_VPD_ITEM_END) return failed();
        if (it.kind == VXIMG_VPD_ITEM_IDENT) {
            found = tag_sz == 1 && ptag[0] == VXIMG_VPD_TAG_IDENT;
        } else if (it.kind == VXIMG_VPD_ITEM_KEYWORD) {
            found = tag_sz == 2 && static_cast<uint8_t>(it.name[0]) == ptag[0] &&
                    static_cast<uint8_t>(it.name[1]) == ptag[1];
        }
        if (found) break;
    }
    if (!found) {
        if (w.result != VXIMG_VPD_END_TAG) {
            vxdbg_line(kErr, "vxapi_get_field_from_vpd: exceeding vpd buf size. bidx=", w.pos, VXDBG_DEC);
        }
        return failed();
    }

    // The walker has checked that the field's data lies within the VPD.
    const uint8_t* field = pvpd + it.data_offset;
    const size_t n = std::min<size_t>(bufsz, it.data_length);
    if (n == 0 || vxapi_is_all_spaces(field, static_cast<uint32_t>(n)) != 0) return failed();
    for (size_t i = 0; i < n && field[i] != 0; ++i) pbuf[i] = field[i];
    return 0;
}

// Decoders, checksums and bounded walkers of the flash and image formats.
#include "image/flash_formats.h"

#include <cstring>

// ---- decoding ----
//
// The whole record is copied first (byte arrays and single bytes land where
// they belong), then every multi-byte member is set from its little-endian
// bytes.

void vximg_decode_rom_header(const uint8_t* p, INT_PCI_ROM_HEADER* out) {
    std::memcpy(out, p, sizeof(*out));
    out->PcirOffset = vximg_get_le16(p + 0x18);
}

void vximg_decode_pci_data_struct(const uint8_t* p, INT_PCI_DATA_STRUCT* out) {
    std::memcpy(out, p, sizeof(*out));
    out->VendorId = vximg_get_le16(p + 4);
    out->DeviceId = vximg_get_le16(p + 6);
    out->Reserved0 = vximg_get_le16(p + 8);
    out->Length = vximg_get_le16(p + 0x0A);
    out->ImageLength = vximg_get_le16(p + 0x10);
    out->CodeRevision = vximg_get_le16(p + 0x12);
    out->Reserved1 = vximg_get_le16(p + 0x16);
}

void vximg_decode_flt_header(const uint8_t* p, FLT_HEADER* out) {
    out->version = vximg_get_le16(p);
    out->length = vximg_get_le16(p + 2);
    out->checksum = vximg_get_le16(p + 4);
    out->unused = vximg_get_le16(p + 6);
}

void vximg_decode_image_status(const uint8_t* p, vxa_image_status* out) {
    std::memcpy(out, p, sizeof(*out));
    out->gen_num = vximg_get_le16(p + 1);
    out->checksum = vximg_get_le32(p + 8);
    out->signature = vximg_get_le32(p + 12);
}

// ---- checksums ----

uint16_t vximg_sum_le16(const uint8_t* p, size_t words) {
    uint16_t sum = 0;
    for (size_t i = 0; i < words; ++i) {
        sum = static_cast<uint16_t>(sum + vximg_get_le16(p + 2 * i));
    }
    return sum;
}

uint32_t vximg_sum_le32(const uint8_t* p, size_t words) {
    uint32_t sum = 0;
    for (size_t i = 0; i < words; ++i) {
        sum += vximg_get_le32(p + 4 * i);
    }
    return sum;
}

bool vximg_flt_location_valid(const uint8_t* p) {
    return std::memcmp(p, VXIMG_FLT_SIGNATURE, 4) == 0 && vximg_sum_le16(p, sizeof(FLT_LOCATION) / 2) == 0;
}

uint32_t vximg_flt_location_address(const uint8_t* p) {
    return (static_cast<uint32_t>(vximg_get_le16(p + 6)) << 16) | vximg_get_le16(p + 4);
}

bool vximg_flt_header_checksum_ok(const uint8_t* buf, size_t len) {
    if (len < sizeof(FLT_HEADER)) {
        return false;
    }
    const size_t table = static_cast<size_t>(vximg_get_le16(buf + 2)) + sizeof(FLT_HEADER);
    if (table > len) {
        return false;
    }
    return vximg_sum_le16(buf, table / 2) == 0;
}

bool vximg_image_status_checksum_ok(const uint8_t* p) {
    return vximg_sum_le32(p, sizeof(vxa_image_status) / 4) == 0;
}

// ---- PCI expansion ROM chain ----

int vximg_rom_image_at(const uint8_t* buf, size_t len, size_t offset, vximg_rom_image* img) {
    if (offset > len || len - offset < sizeof(INT_PCI_ROM_HEADER)) {
        return VXIMG_ROM_NO_ROOM;
    }
    const uint8_t* p = buf + offset;
    if (p[0] != VXIMG_ROM_SIGNATURE_0 || p[1] != VXIMG_ROM_SIGNATURE_1) {
        return VXIMG_ROM_BAD_SIGNATURE;
    }
    const size_t pcir = offset + vximg_get_le16(p + 0x18);
    if (pcir > len || len - pcir < sizeof(INT_PCI_DATA_STRUCT)) {
        return VXIMG_ROM_BAD_PCIR_OFFSET;
    }
    if (std::memcmp(buf + pcir, VXIMG_PCIR_SIGNATURE, 4) != 0) {
        return VXIMG_ROM_BAD_PCIR_SIGNATURE;
    }

    img->offset = offset;
    img->pcir_offset = pcir;
    vximg_decode_rom_header(p, &img->header);
    vximg_decode_pci_data_struct(buf + pcir, &img->pcir);
    img->length = static_cast<size_t>(img->pcir.ImageLength) * VXIMG_ROM_UNIT;
    img->payload_offset = pcir + img->pcir.Length;
    img->vendor_id = img->pcir.VendorId;
    img->device_id = img->pcir.DeviceId;
    img->code_type = img->pcir.CodeType;
    img->revision = img->pcir.CodeRevision;
    img->rev_major = static_cast<uint8_t>(img->revision >> 8);
    img->rev_minor = static_cast<uint8_t>(img->revision);
    img->indicator = img->pcir.Indicator;
    img->last = (img->indicator & VXIMG_LAST_IMAGE) != 0;
    return VXIMG_ROM_OK;
}

void vximg_rom_walk_init(vximg_rom_walker* w, const uint8_t* buf, size_t len, size_t start, bool skip_vfim) {
    w->buf = buf;
    w->len = len;
    w->pos = start;
    w->skip_vfim = skip_vfim;
    w->result = VXIMG_ROM_OK;
    w->count = 0;
    w->vfim_offset = SIZE_MAX;
}

bool vximg_rom_walk_next(vximg_rom_walker* w, vximg_rom_image* img) {
    if (w->result != VXIMG_ROM_OK) {
        return false;
    }
    size_t pos = w->pos;
    if (w->skip_vfim && pos <= w->len && w->len - pos >= 4 &&
        std::memcmp(w->buf + pos, VXIMG_VFIM_SIGNATURE, 4) == 0) {
        if (w->len - pos < sizeof(VFIM_HEADER)) {
            w->result = VXIMG_ROM_BAD_VFIM;
            return false;
        }
        w->vfim_offset = pos;
        pos += vximg_get_le16(w->buf + pos + 6);
        w->pos = pos;
    }

    vximg_rom_image found;
    const int r = vximg_rom_image_at(w->buf, w->len, pos, &found);
    if (r != VXIMG_ROM_OK) {
        w->result = r;
        return false;
    }
    // An image that does not advance the walk would be met again and again.
    if (found.length == 0 && !found.last) {
        w->result = VXIMG_ROM_ZERO_LENGTH;
        return false;
    }

    *img = found;
    ++w->count;
    w->pos = pos + found.length;
    if (found.last) {
        w->result = VXIMG_ROM_LAST;
    }
    return true;
}

// ---- VPD ----

void vximg_vpd_walk_init(vximg_vpd_walker* w, const uint8_t* buf, size_t len) {
    w->buf = buf;
    w->len = len;
    w->pos = 0;
    w->area = 0;
    w->result = VXIMG_VPD_RUNNING;
}

bool vximg_vpd_walk_next(vximg_vpd_walker* w, vximg_vpd_item* item) {
    if (w->result != VXIMG_VPD_RUNNING) {
        return false;
    }
    const size_t pos = w->pos;
    if (pos >= w->len) {
        w->result = VXIMG_VPD_END_OF_BUFFER;
        return false;
    }
    const size_t room = w->len - pos;
    const uint8_t* p = w->buf + pos;

    vximg_vpd_item it{};
    it.offset = pos;
    it.area = w->area;

    switch (p[0]) {
        case VXIMG_VPD_TAG_END:
            it.kind = VXIMG_VPD_ITEM_END;
            it.tag = p[0];
            it.data_offset = pos + 1;
            w->pos = pos + 1;
            w->result = VXIMG_VPD_END_TAG;
            *item = it;
            return true;

        case VXIMG_VPD_TAG_IDENT:
        case VXIMG_VPD_TAG_VPDR:
        case VXIMG_VPD_TAG_VPDW: {
            if (room < 3) {
                w->result = VXIMG_VPD_TRUNCATED;
                return false;
            }
            const size_t declared = vximg_get_le16(p + 1);
            it.tag = p[0];
            it.data_offset = pos + 3;
            it.declared_length = declared;
            if (p[0] == VXIMG_VPD_TAG_IDENT) {
                // The identifier text is passed over whole, so all of it must be there.
                if (room - 3 < declared) {
                    w->result = VXIMG_VPD_TRUNCATED;
                    return false;
                }
                it.kind = VXIMG_VPD_ITEM_IDENT;
                it.data_length = declared;
                w->pos = pos + 3 + declared;
            } else {
                // An area is entered: its keywords are walked (and checked) one by one.
                it.kind = VXIMG_VPD_ITEM_AREA;
                it.data_length = declared < room - 3 ? declared : room - 3;
                it.area = p[0];
                w->area = p[0];
                w->pos = pos + 3;
            }
            *item = it;
            return true;
        }

        default:
            if (room < 3) {
                w->result = VXIMG_VPD_TRUNCATED;
                return false;
            }
            if (room - 3 < p[2]) {
                w->result = VXIMG_VPD_TRUNCATED;
                return false;
            }
            it.kind = VXIMG_VPD_ITEM_KEYWORD;
            it.name[0] = static_cast<char>(p[0]);
            it.name[1] = static_cast<char>(p[1]);
            it.data_offset = pos + 3;
            it.data_length = p[2];
            it.declared_length = p[2];
            w->pos = pos + 3 + p[2];
            *item = it;
            return true;
    }
}

bool vximg_vpd_fill_keyword(uint8_t* buf, size_t len, const vximg_vpd_item* kw, const char* text,
                            size_t text_len) {
    if (kw->kind != VXIMG_VPD_ITEM_KEYWORD || kw->data_offset > len ||
        len - kw->data_offset < kw->data_length) {
        return false;
    }
    const size_t n = text_len < kw->data_length ? text_len : kw->data_length;
    if (n > 0) {
        std::memcpy(buf + kw->data_offset, text, n);
    }
    std::memset(buf + kw->data_offset + n, 0, kw->data_length - n);
    return true;
}

#include "flash_builder.h"

#include <algorithm>
#include <cassert>

namespace sim {

// ---- placing bytes ----

Bytes blank_flash(size_t size, uint8_t fill) { return Bytes(size, fill); }

void place(Bytes& flash, size_t offset, const Bytes& blob, uint8_t fill) {
    if (flash.size() < offset + blob.size()) flash.resize(offset + blob.size(), fill);
    std::copy(blob.begin(), blob.end(), flash.begin() + static_cast<std::ptrdiff_t>(offset));
}

void put_le16(Bytes& b, size_t offset, uint16_t v) {
    assert(offset + 2 <= b.size());
    b[offset] = static_cast<uint8_t>(v & 0xFF);
    b[offset + 1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(Bytes& b, size_t offset, uint32_t v) {
    put_le16(b, offset, static_cast<uint16_t>(v & 0xFFFF));
    put_le16(b, offset + 2, static_cast<uint16_t>(v >> 16));
}

uint16_t get_le16(const Bytes& b, size_t offset) { return static_cast<uint16_t>(b.at(offset) | b.at(offset + 1) << 8); }

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

uint16_t word_checksum(const Bytes& b, size_t from, size_t words) {
    uint32_t sum = 0;
    for (size_t i = 0; i < words; ++i) sum += get_le16(b, from + 2 * i);
    return static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
}

// ---- PCI expansion ROM images ----

RomImage bios_image(uint8_t major, uint8_t minor, uint16_t units) {
    return {.code_type = VXIMG_CODE_X86, .rev_major = major, .rev_minor = minor, .units = units};
}

RomImage fcode_image(uint8_t major, uint8_t minor, uint16_t units) {
    return {.code_type = VXIMG_CODE_FCODE, .rev_major = major, .rev_minor = minor, .units = units};
}

RomImage efi_image(uint8_t major, uint8_t minor, uint16_t units) {
    return {.code_type = VXIMG_CODE_EFI, .rev_major = major, .rev_minor = minor, .units = units};
}

RomImage settings_bios_image(uint16_t svid, uint8_t fill, uint16_t units) {
    RomImage img = bios_image(1, 0, units);
    img.pcir_offset = 0x40;
    img.svid = svid;
    img.payload = text_bytes("xMEISP ");
    img.payload.resize(img.payload.size() + 512, fill);
    return img;
}

RomImage vpd_image(uint16_t vendor_id, const Bytes& vpd, uint16_t units) {
    RomImage img{.vendor_id = vendor_id, .device_id = VXIMG_DEVICE_VPD, .units = units};
    img.payload = vpd;
    return img;
}

RomImage firmware_image(uint16_t vendor_id, uint16_t major, uint16_t minor, uint16_t subminor, uint16_t units) {
    RomImage img{.vendor_id = vendor_id, .device_id = VXIMG_DEVICE_FIRMWARE, .units = units};
    img.payload.assign(32, 0);
    put_le16(img.payload, 0, 0x5A4C);
    put_le16(img.payload, 12, subminor);
    put_le16(img.payload, 14, minor);
    put_le16(img.payload, 16, major);
    return img;
}

Bytes build_rom_image(const RomImage& image, bool last) {
    const size_t pcir = image.pcir_offset;
    const size_t payload_at = pcir + image.pcir_length;
    const size_t need = std::max({size_t{26}, pcir + 24, payload_at + image.payload.size()});
    Bytes b(std::max(static_cast<size_t>(image.units) * 512, need), 0);
    b[0] = 0x55;
    b[1] = 0xAA;
    put_le16(b, 0x18, image.pcir_offset);
    std::copy_n("PCIR", 4, b.begin() + static_cast<std::ptrdiff_t>(pcir));
    put_le16(b, pcir + 4, image.vendor_id);
    put_le16(b, pcir + 6, image.device_id);
    put_le16(b, pcir + 0x0A, image.pcir_length);
    b[pcir + 0x0C] = 3;  // structure revision
    put_le16(b, pcir + 0x10, image.units);
    b[pcir + 0x12] = image.rev_minor;
    b[pcir + 0x13] = image.rev_major;
    b[pcir + 0x14] = image.code_type;
    b[pcir + 0x15] = last ? 0x80 : 0x00;
    std::copy(image.payload.begin(), image.payload.end(), b.begin() + static_cast<std::ptrdiff_t>(payload_at));
    if (image.svid) {
        b[2] = static_cast<uint8_t>(image.units);
        std::copy_n("SVID", 4, b.begin() + 28);
        put_le16(b, 32, *image.svid);
    }
    return b;
}

size_t RomChain::pcir(size_t i) const { return offsets.at(i) + get_le16(bytes, offsets.at(i) + 0x18); }

RomChain build_rom_chain(const std::vector<RomImage>& images, std::optional<uint16_t> vfim_length) {
    RomChain chain;
    chain.images = images;
    size_t pos = 0;
    if (vfim_length) {
        place(chain.bytes, 0, build_vfim_header(*vfim_length), 0);
        pos = *vfim_length;
    }
    for (size_t i = 0; i < images.size(); ++i) {
        chain.offsets.push_back(pos);
        place(chain.bytes, pos, build_rom_image(images[i], images[i].last.value_or(i + 1 == images.size())), 0);
        pos += static_cast<size_t>(images[i].units) * 512;
    }
    if (chain.bytes.size() < pos) chain.bytes.resize(pos, 0);
    chain.end = pos;
    return chain;
}

Bytes build_vfim_header(uint16_t length) {
    Bytes b(32, 0);
    std::copy_n("VFIM", 4, b.begin());
    put_le16(b, 4, 1);
    put_le16(b, 6, length);
    return b;
}

Bytes build_bios_only_rom(uint8_t major, uint8_t minor, const Bytes& vpd) {
    Bytes rom = build_rom_image(bios_image(major, minor, 0x20000 / 512), true);
    place(rom, 0x1FE00, vpd, 0);
    rom.resize(0x20000);
    return rom;
}

// ---- flash layout table ----

FltRegion flt_region(uint8_t code, uint32_t size, uint32_t start, uint8_t attribute) {
    return {.code = code, .size = size, .start = start, .attribute = attribute};
}

Bytes build_flt_table(const std::vector<FltRegion>& regions, const FltOptions& options) {
    Bytes b(8 + 16 * regions.size(), 0);
    const uint16_t length = options.length.value_or(static_cast<uint16_t>(16 * regions.size()));
    put_le16(b, 0, options.version);
    put_le16(b, 2, length);
    for (size_t i = 0; i < regions.size(); ++i) {
        const FltRegion& r = regions[i];
        const size_t at = 8 + 16 * i;
        b[at] = r.code;
        b[at + 2] = r.attribute;
        put_le32(b, at + 4, r.size);
        put_le32(b, at + 8, r.start);
        put_le32(b, at + 12, r.end.value_or(r.start + r.size - 1));
    }
    // The checksum covers (length + 8) / 2 words; a length that reaches past
    // the entries built counts zero bytes there.
    const size_t words = (static_cast<size_t>(length) + 8) / 2;
    Bytes summed = b;
    if (summed.size() < 2 * words) summed.resize(2 * words, 0);
    put_le16(b, 4, static_cast<uint16_t>(word_checksum(summed, 0, words) + (options.corrupt_checksum ? 1 : 0)));
    return b;
}

Bytes build_flt_locator(uint32_t table_address, bool corrupt_checksum) {
    Bytes b(16, 0);
    std::copy_n("VFLT", 4, b.begin());
    put_le16(b, 4, static_cast<uint16_t>(table_address & 0xFFFF));
    put_le16(b, 6, static_cast<uint16_t>(table_address >> 16));
    b[8] = 1;
    put_le16(b, 14, static_cast<uint16_t>(word_checksum(b, 0, 8) ^ (corrupt_checksum ? 0x0100 : 0)));
    return b;
}

// ---- VPD ----

VpdKeyword keyword(const std::string& name, const std::string& text) { return {name, text_bytes(text)}; }

namespace {

void append_keyword(BuiltVpd& out, uint8_t area, const VpdKeyword& kw) {
    assert(kw.name.size() == 2 && kw.data.size() <= 255);
    const size_t at = out.bytes.size();
    // Byte by byte: GCC 12 at -O3 misreads an initializer-list insert as an overflow.
    for (uint8_t v : {uint8_t(kw.name[0]), uint8_t(kw.name[1]), uint8_t(kw.data.size())}) out.bytes.push_back(v);
    out.bytes.insert(out.bytes.end(), kw.data.begin(), kw.data.end());
    out.keywords.push_back({area, kw.name, at, at + 3, kw.data.size()});
}

void append_tag(Bytes& b, uint8_t tag, size_t length) {
    for (uint8_t v : {tag, uint8_t(length & 0xFF), uint8_t(length >> 8)}) b.push_back(v);
}

size_t keywords_size(const std::vector<VpdKeyword>& kws) {
    size_t n = 0;
    for (const VpdKeyword& kw : kws) n += 3 + kw.data.size();
    return n;
}

}  // namespace

BuiltVpd build_vpd(const VpdContents& fields) {
    BuiltVpd out;
    append_tag(out.bytes, 0x82, fields.ident.size());
    out.bytes.insert(out.bytes.end(), fields.ident.begin(), fields.ident.end());
    append_tag(out.bytes, 0x90, keywords_size(fields.read_only) + (fields.add_rv ? 3 + fields.rv_length : 0));
    for (const VpdKeyword& kw : fields.read_only) append_keyword(out, 0x90, kw);
    if (fields.add_rv) {
        append_keyword(out, 0x90, {"RV", Bytes(fields.rv_length, 0)});
        if (fields.rv_length > 0) {
            const size_t at = out.bytes.size() - fields.rv_length;
            unsigned sum = 0;
            for (size_t i = 0; i < at; ++i) sum += out.bytes[i];
            out.bytes[at] = static_cast<uint8_t>(256 - sum % 256 + (fields.corrupt_rv ? 1 : 0));
            out.rv_byte = at;
        }
    }
    if (fields.has_writable) {
        append_tag(out.bytes, 0x91, keywords_size(fields.writable));
        for (const VpdKeyword& kw : fields.writable) append_keyword(out, 0x91, kw);
    }
    if (fields.end_tag) {
        out.end_tag = out.bytes.size();
        out.bytes.push_back(0x78);
    }
    if (out.bytes.size() < fields.size) out.bytes.resize(fields.size, 0);
    return out;
}

BuiltVpd typical_vpd(const std::string& serial) {
    VpdContents fields;
    fields.ident = "Simulated FC Adapter";
    fields.read_only = {keyword("PN", "SIM-2600"), keyword("SN", serial), keyword("EC", "A01")};
    fields.has_writable = true;
    fields.writable = {keyword("V1", std::string(10, ' ')), keyword("V3", std::string(16, ' ')),
                       keyword("V4", std::string(10, ' ')), keyword("V5", std::string(10, ' '))};
    fields.size = 512;
    return build_vpd(fields);
}

// ---- image status record ----

Bytes build_image_status(const ImageStatusFields& fields) {
    Bytes b(16, 0);
    b[0] = fields.mask;
    put_le16(b, 1, fields.gen_num);
    b[6] = fields.ver_minor;
    b[7] = fields.ver_major;
    put_le32(b, 12, fields.signature);
    uint32_t sum = 0;
    for (size_t i = 0; i < 16; i += 4) {
        sum += static_cast<uint32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16) + (static_cast<uint32_t>(b[i + 3]) << 24);
    }
    put_le32(b, 8, (0u - sum) ^ (fields.corrupt_checksum ? 0x10u : 0u));
    return b;
}

}  // namespace sim

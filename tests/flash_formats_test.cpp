// The flash and image formats: record layouts and decoders, the three
// checksums, the PCI expansion ROM chain walker and the VPD walker, against
// hand-made bytes and the simulator's flash builders.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash_builder.h"
#include "image/flash_formats.h"

using sim::Bytes;

namespace {

// A heap buffer of exactly the given bytes, so that AddressSanitizer catches
// any read past its end.
struct Exact {
    explicit Exact(const Bytes& b) : data(new uint8_t[b.empty() ? 1 : b.size()]), size(b.size()) {
        if (!b.empty()) {
            std::memcpy(data.get(), b.data(), b.size());
        }
    }
    std::unique_ptr<uint8_t[]> data;
    size_t size;
};

Bytes patterned(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(0x10 + i);
    }
    return b;
}

// The value of a packed record's member (gtest binds references, which a
// packed member must not get).
template <class T>
T val(T v) {
    return v;
}

uint16_t le16_at(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t le32_at(const Bytes& b, size_t at) {
    return le16_at(b, at) | static_cast<uint32_t>(le16_at(b, at + 2)) << 16;
}

}  // namespace

// ---- records ----

TEST(FlashRecords, LayoutsOffsetsAndDecoders) {
    EXPECT_EQ(sizeof(INT_PCI_ROM_HEADER), 26u);
    EXPECT_EQ(sizeof(INT_PCI_DATA_STRUCT), 24u);
    EXPECT_EQ(sizeof(FLT_LOCATION), 16u);
    EXPECT_EQ(sizeof(FLT_HEADER), 8u);
    EXPECT_EQ(sizeof(FLT_REGION), 16u);
    EXPECT_EQ(sizeof(VFIM_HEADER), 32u);
    EXPECT_EQ(sizeof(vxa_image_status), 16u);
    EXPECT_EQ(offsetof(vxa_image_status, gen_num), 1u);  // unaligned
    EXPECT_EQ(offsetof(INT_PCI_ROM_HEADER, PcirOffset), 0x18u);
    EXPECT_EQ(offsetof(INT_PCI_DATA_STRUCT, ImageLength), 0x10u);
    EXPECT_EQ(offsetof(INT_PCI_DATA_STRUCT, Indicator), 0x15u);

    // Every decoder takes each field from its own little-endian bytes.
    const Bytes b = patterned(32);
    INT_PCI_ROM_HEADER rh;
    vximg_decode_rom_header(b.data(), &rh);
    EXPECT_EQ(val(rh.PcirOffset), le16_at(b, 24));
    EXPECT_EQ(val(rh.Signature[1]), b[1]);

    INT_PCI_DATA_STRUCT ds;
    vximg_decode_pci_data_struct(b.data(), &ds);
    EXPECT_EQ(val(ds.VendorId), le16_at(b, 4));
    EXPECT_EQ(val(ds.DeviceId), le16_at(b, 6));
    EXPECT_EQ(val(ds.Length), le16_at(b, 10));
    EXPECT_EQ(val(ds.Revision), b[12]);
    EXPECT_EQ(val(ds.ImageLength), le16_at(b, 16));
    EXPECT_EQ(val(ds.CodeRevision), le16_at(b, 18));
    EXPECT_EQ(val(ds.CodeType), b[20]);
    EXPECT_EQ(val(ds.Indicator), b[21]);
    EXPECT_EQ(val(ds.Reserved1), le16_at(b, 22));

    FLT_LOCATION loc;
    vximg_decode_flt_location(b.data(), &loc);
    EXPECT_EQ(val(loc.start_lo), le16_at(b, 4));
    EXPECT_EQ(val(loc.start_hi), le16_at(b, 6));
    EXPECT_EQ(val(loc.version), b[8]);
    EXPECT_EQ(val(loc.checksum), le16_at(b, 14));
    EXPECT_EQ(vximg_flt_location_address(b.data()),
              static_cast<uint32_t>(le16_at(b, 6)) * 65536 + le16_at(b, 4));

    FLT_HEADER hd;
    vximg_decode_flt_header(b.data(), &hd);
    EXPECT_EQ(val(hd.version), le16_at(b, 0));
    EXPECT_EQ(val(hd.length), le16_at(b, 2));
    EXPECT_EQ(val(hd.checksum), le16_at(b, 4));
    EXPECT_EQ(val(hd.unused), le16_at(b, 6));

    FLT_REGION rg;
    vximg_decode_flt_region(b.data(), &rg);
    EXPECT_EQ(val(rg.code), b[0]);
    EXPECT_EQ(val(rg.attribute), b[2]);
    EXPECT_EQ(val(rg.size), le32_at(b, 4));
    EXPECT_EQ(val(rg.start), le32_at(b, 8));
    EXPECT_EQ(val(rg.end), le32_at(b, 12));

    VFIM_HEADER vf;
    vximg_decode_vfim_header(b.data(), &vf);
    EXPECT_EQ(val(vf.length), le16_at(b, 6));
    EXPECT_EQ(val(vf.no_of_entries), le16_at(b, 10));
    EXPECT_EQ(val(vf.card_type_list), b[12]);

    vxa_image_status st;
    vximg_decode_image_status(b.data(), &st);
    EXPECT_EQ(val(st.mask), b[0]);
    EXPECT_EQ(val(st.gen_num), le16_at(b, 1));
    EXPECT_EQ(val(st.ver_minor), b[6]);
    EXPECT_EQ(val(st.ver_major), b[7]);
    EXPECT_EQ(val(st.checksum), le32_at(b, 8));
    EXPECT_EQ(val(st.signature), le32_at(b, 12));
}

TEST(FlashRecords, ByteOrderHelpersWorkAtAnyAlignment) {
    uint8_t buf[8] = {};
    vximg_put_le32(buf + 1, 0x11223344);
    vximg_put_le16(buf + 5, 0xA1B2);
    const uint8_t want[8] = {0x00, 0x44, 0x33, 0x22, 0x11, 0xB2, 0xA1, 0x00};
    EXPECT_EQ(0, std::memcmp(buf, want, 8));
    EXPECT_EQ(vximg_get_le32(buf + 1), 0x11223344u);
    EXPECT_EQ(vximg_get_le16(buf + 5), 0xA1B2u);
}

// ---- checksums ----

TEST(FlashChecksums, CorrectRecordsPassAndAnyFlippedByteFails) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::function<bool(const Bytes&)> ok;
    };
    const std::vector<Case> cases = {
        // "VFLT", table at 0x3F1000, version 1; the words add up to 0x10000.
        {"flt locator",
         {'V', 'F', 'L', 'T', 0x00, 0x10, 0x3F, 0x00, 0x01, 0, 0, 0, 0, 0, 0x1E, 0x55},
         [](const Bytes& b) { return vximg_flt_location_valid(b.data()); }},
        // Version 1, length 16, one region 0x07 (attribute 1) of 256 KiB at 0..0x3FFFF.
        {"flt header",
         {0x01, 0x00, 0x10, 0x00, 0xE1, 0xFF, 0x00, 0x00, 0x07, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00},
         [](const Bytes& b) { return vximg_flt_header_checksum_ok(b.data(), b.size()); }},
        // Valid, generation 0x0102, version 3.5.
        {"image status",
         {0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x05, 0x03, 0x21, 0x03, 0x2B, 0x02, 0xDE, 0xFA, 0xCE, 0xFA},
         [](const Bytes& b) { return vximg_image_status_good(b.data()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.ok(c.bytes));
        for (size_t i = 0; i < c.bytes.size(); ++i) {
            Bytes bad = c.bytes;
            bad[i] ^= 0x01;
            EXPECT_FALSE(c.ok(bad)) << "byte " << i;
        }
    }

    vxa_image_status st;
    vximg_decode_image_status(cases[2].bytes.data(), &st);
    EXPECT_EQ(val(st.gen_num), 0x0102);
    EXPECT_EQ(vximg_flt_location_address(cases[0].bytes.data()), 0x3F1000u);
}

TEST(FlashChecksums, EdgesOfTheTableAndStatusChecks) {
    // A table whose length reaches past the buffer fails, whatever it sums to.
    const Bytes empty_table = {0x01, 0x00, 0x10, 0x00, 0xEF, 0xFF, 0x00, 0x00};  // length 16, no entries
    EXPECT_FALSE(vximg_flt_header_checksum_ok(Exact(empty_table).data.get(), empty_table.size()));
    EXPECT_FALSE(vximg_flt_header_checksum_ok(empty_table.data(), 7));
    const Bytes no_entries = {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_TRUE(vximg_flt_header_checksum_ok(no_entries.data(), no_entries.size()));

    // The words add up to 0 but the signature is not 0xFACEFADE.
    const Bytes unsigned_record = {0x01, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_TRUE(vximg_image_status_checksum_ok(unsigned_record.data()));
    EXPECT_FALSE(vximg_image_status_good(unsigned_record.data()));

    // A locator with good words but another signature.
    Bytes other = sim::build_flt_locator(0x141000);
    other[3] = 'X';
    other[15] = static_cast<uint8_t>(other[15] + ('T' - 'X'));  // same byte of its word
    EXPECT_EQ(vximg_sum_le16(other.data(), 8), 0);
    EXPECT_FALSE(vximg_flt_location_valid(other.data()));
}

TEST(FlashChecksums, BuilderRecordsAgreeWithTheLibrary) {
    const std::vector<sim::FltRegion> regions = {sim::flt_region(0x07, 0x40000, 0),
                                                 sim::flt_region(0x01, 0x80000, 0x80000, 0x02),
                                                 sim::flt_region(0x95, 0x1000, 0x3F0000)};
    const Bytes table = sim::build_flt_table(regions);
    EXPECT_TRUE(vximg_flt_header_checksum_ok(table.data(), table.size()));
    EXPECT_FALSE(vximg_flt_header_checksum_ok(
        sim::build_flt_table(regions, sim::flt_corrupt_checksum()).data(), table.size()));
    FLT_REGION second;
    vximg_decode_flt_region(table.data() + 8 + 16, &second);
    EXPECT_EQ(val(second.code), 0x01);
    EXPECT_EQ(val(second.attribute), 0x02);
    EXPECT_EQ(val(second.start), 0x80000u);
    EXPECT_EQ(val(second.end), 0xFFFFFu);

    EXPECT_TRUE(vximg_flt_location_valid(sim::build_flt_locator(0x3F1000).data()));
    EXPECT_EQ(vximg_flt_location_address(sim::build_flt_locator(0x3F1000).data()), 0x3F1000u);
    EXPECT_FALSE(vximg_flt_location_valid(sim::build_flt_locator(0x3F1000, true).data()));

    sim::ImageStatusFields fields;
    fields.gen_num = 0xBEEF;
    const Bytes status = sim::build_image_status(fields);
    EXPECT_TRUE(vximg_image_status_good(status.data()));
    vxa_image_status st;
    vximg_decode_image_status(status.data(), &st);
    EXPECT_EQ(val(st.gen_num), 0xBEEF);
    fields.corrupt_checksum = true;
    EXPECT_FALSE(vximg_image_status_good(sim::build_image_status(fields).data()));
}

// ---- PCI expansion ROM chain ----

namespace {

constexpr uint16_t kVendor = 0x1E0F;  // any vendor ID: the walker does not look at it

struct Walked {
    std::vector<vximg_rom_image> images;
    int result;
    size_t end;
};

Walked walk(const Bytes& bytes, bool skip_vfim = false, size_t len = SIZE_MAX) {
    Bytes b = bytes;
    if (len < b.size()) {
        b.resize(len);
    }
    Exact exact(b);
    vximg_rom_walker w;
    vximg_rom_walk_init(&w, exact.data.get(), exact.size, 0, skip_vfim);
    Walked out;
    vximg_rom_image img;
    while (vximg_rom_walk_next(&w, &img)) {
        out.images.push_back(img);
        if (out.images.size() > 1000) {
            ADD_FAILURE() << "the walk does not end";
            break;
        }
    }
    EXPECT_EQ(w.count, out.images.size());
    out.result = w.result;
    out.end = w.pos;
    return out;
}

sim::RomChain four_image_chain(std::optional<uint16_t> vfim = std::nullopt) {
    return sim::build_rom_chain(
        {sim::bios_image(1, 5, 2), sim::fcode_image(2, 10, 2), sim::efi_image(6, 1, 3),
         sim::vpd_image(kVendor, sim::typical_vpd().bytes, 2)},
        vfim);
}

}  // namespace

TEST(RomChain, WalksBiosFcodeEfiAndVpdImages) {
    const sim::RomChain chain = four_image_chain();
    const Walked w = walk(chain.bytes);
    EXPECT_EQ(w.result, VXIMG_ROM_LAST);
    ASSERT_EQ(w.images.size(), 4u);
    EXPECT_EQ(w.end, chain.end);

    const uint8_t types[] = {VXIMG_CODE_X86, VXIMG_CODE_FCODE, VXIMG_CODE_EFI, VXIMG_CODE_X86};
    const size_t lengths[] = {1024, 1024, 1536, 1024};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.images[i].offset, chain.offsets[i]);
        EXPECT_EQ(w.images[i].pcir_offset, chain.offsets[i] + 0x1C);
        EXPECT_EQ(w.images[i].code_type, types[i]);
        EXPECT_EQ(w.images[i].length, lengths[i]);
        EXPECT_EQ(w.images[i].last, i == 3);
    }
    EXPECT_EQ(w.images[0].rev_major, 1);
    EXPECT_EQ(w.images[0].rev_minor, 5);
    EXPECT_EQ(w.images[0].revision, 0x0105);
    EXPECT_EQ(w.images[1].revision, 0x020A);
    EXPECT_EQ(w.images[3].vendor_id, kVendor);
    EXPECT_EQ(w.images[3].device_id, VXIMG_DEVICE_VPD);
    EXPECT_EQ(w.images[3].indicator, VXIMG_LAST_IMAGE);
    // The VPD follows the data structure (its start plus its Length).
    EXPECT_EQ(w.images[3].payload_offset, chain.offsets[3] + 0x1C + 0x18);
    EXPECT_EQ(chain.bytes[w.images[3].payload_offset], VXIMG_VPD_TAG_IDENT);
}

TEST(RomChain, PassesImageLayoutHeadersAndFindsTheLocatorBehindTheLastImage) {
    sim::RomChain chain = four_image_chain(uint16_t{0x200});
    sim::place(chain.bytes, chain.end, sim::build_flt_locator(0x141000), 0xFF);

    const Walked plain = walk(chain.bytes, false);
    EXPECT_EQ(plain.result, VXIMG_ROM_BAD_SIGNATURE);
    EXPECT_TRUE(plain.images.empty());

    const Walked w = walk(chain.bytes, true);
    EXPECT_EQ(w.result, VXIMG_ROM_LAST);
    ASSERT_EQ(w.images.size(), 4u);
    EXPECT_EQ(w.images[0].offset, 0x200u);
    ASSERT_LE(w.end + sizeof(FLT_LOCATION), chain.bytes.size());
    EXPECT_TRUE(vximg_flt_location_valid(chain.bytes.data() + w.end));
    EXPECT_EQ(vximg_flt_location_address(chain.bytes.data() + w.end), 0x141000u);

    // An image layout header cut off by the buffer's end ends the walk.
    const Bytes cut = sim::build_vfim_header(0x40);
    const Walked c = walk(Bytes(cut.begin(), cut.begin() + 20), true);
    EXPECT_EQ(c.result, VXIMG_ROM_BAD_VFIM);
    // One whose length points nowhere useful ends it too.
    const Walked z = walk(sim::build_vfim_header(0), true);
    EXPECT_EQ(z.result, VXIMG_ROM_BAD_SIGNATURE);
}

TEST(RomChain, DamagedChainsEndCleanly) {
    const sim::RomChain good = four_image_chain();
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        size_t len;  // bytes given to the walker
        size_t images;
        int result;
    };
    const size_t all = good.bytes.size();
    const std::vector<Case> cases = {
        {"zero length on a middle image", [&](Bytes& b) { sim::put_le16(b, good.image_length_field(1), 0); },
         all, 1, VXIMG_ROM_ZERO_LENGTH},
        {"zero length on the last image", [&](Bytes& b) { sim::put_le16(b, good.image_length_field(3), 0); },
         all, 4, VXIMG_ROM_LAST},
        {"PcirOffset past the end", [&](Bytes& b) { sim::put_le16(b, good.pcir_offset_field(2), 0xFFF0); },
         all, 2, VXIMG_ROM_BAD_PCIR_OFFSET},
        {"data structure across the end",
         [&](Bytes& b) {
             sim::put_le16(b, good.pcir_offset_field(3), static_cast<uint16_t>(all - good.offsets[3] - 10));
         },
         all, 3, VXIMG_ROM_BAD_PCIR_OFFSET},
        {"image length past the end", [&](Bytes& b) { sim::put_le16(b, good.image_length_field(1), 0x7FFF); },
         all, 2, VXIMG_ROM_NO_ROOM},
        {"no last-image bit at the buffer's end", [&](Bytes& b) { b[good.indicator_field(3)] = 0; }, all, 4,
         VXIMG_ROM_NO_ROOM},
        {"bad ROM signature", [&](Bytes& b) { b[good.offsets[2] + 1] = 0xAB; }, all, 2,
         VXIMG_ROM_BAD_SIGNATURE},
        {"bad PCIR signature", [&](Bytes& b) { b[good.pcir(1) + 3] = 'X'; }, all, 1,
         VXIMG_ROM_BAD_PCIR_SIGNATURE},
        {"buffer ends inside a header", [](Bytes&) {}, good.offsets[2] + 10, 2, VXIMG_ROM_NO_ROOM},
        {"buffer ends inside a data structure", [](Bytes&) {}, good.offsets[2] + 0x1C + 4, 2,
         VXIMG_ROM_BAD_PCIR_OFFSET},
        {"empty buffer", [](Bytes&) {}, 0, 0, VXIMG_ROM_NO_ROOM},
        {"erased flash", [](Bytes& b) { std::fill(b.begin(), b.end(), 0xFF); }, all, 0,
         VXIMG_ROM_BAD_SIGNATURE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = good.bytes;
        c.damage(b);
        const Walked w = walk(b, false, c.len);
        EXPECT_EQ(w.images.size(), c.images);
        EXPECT_EQ(w.result, c.result);
    }
}

TEST(RomChain, ImageAtChecksOneImageInAShortBuffer) {
    // A 256-byte window of flash that starts at one image of a longer chain.
    const sim::RomChain chain = four_image_chain();
    const Bytes window(chain.bytes.begin() + static_cast<std::ptrdiff_t>(chain.offsets[2]),
                       chain.bytes.begin() + static_cast<std::ptrdiff_t>(chain.offsets[2] + 256));
    const Exact exact(window);
    vximg_rom_image img;
    ASSERT_EQ(vximg_rom_image_at(exact.data.get(), exact.size, 0, &img), VXIMG_ROM_OK);
    EXPECT_EQ(img.code_type, VXIMG_CODE_EFI);
    EXPECT_EQ(img.rev_major, 6);
    EXPECT_FALSE(img.last);
    EXPECT_EQ(img.length, 1536u);  // longer than the window: reported, not read

    EXPECT_EQ(vximg_rom_image_at(exact.data.get(), exact.size, 240, &img), VXIMG_ROM_NO_ROOM);
    EXPECT_EQ(vximg_rom_image_at(exact.data.get(), exact.size, 1000, &img), VXIMG_ROM_NO_ROOM);
    EXPECT_EQ(vximg_rom_image_at(exact.data.get(), 0x1C + 23, 0, &img), VXIMG_ROM_BAD_PCIR_OFFSET);
}

TEST(RomChain, BiosOnlyRomKeepsItsVpdInTheLastSector) {
    const sim::BuiltVpd vpd = sim::typical_vpd();
    const Bytes rom = sim::build_bios_only_rom(3, 12, vpd.bytes);
    ASSERT_EQ(rom.size(), VXIMG_BIOS_ROM_SIZE);
    const Walked w = walk(rom);
    ASSERT_EQ(w.images.size(), 1u);
    EXPECT_EQ(w.result, VXIMG_ROM_LAST);
    EXPECT_EQ(w.images[0].code_type, VXIMG_CODE_X86);
    EXPECT_EQ(w.images[0].length, VXIMG_BIOS_ROM_SIZE);
    EXPECT_EQ(rom[VXIMG_BIOS_VPD_OFFSET], VXIMG_VPD_TAG_IDENT);
    EXPECT_TRUE(vximg_vpd_rv_checksum_ok(rom.data() + VXIMG_BIOS_VPD_OFFSET, VXIMG_BIOS_VPD_SIZE));
}

// ---- VPD ----

namespace {

struct VpdWalk {
    std::vector<vximg_vpd_item> items;
    int result;
};

VpdWalk walk_vpd(const Bytes& bytes) {
    Exact exact(bytes);
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, exact.data.get(), exact.size);
    VpdWalk out;
    vximg_vpd_item it;
    while (vximg_vpd_walk_next(&w, &it)) {
        out.items.push_back(it);
        if (out.items.size() > 10000) {
            ADD_FAILURE() << "the walk does not end";
            break;
        }
    }
    out.result = w.result;
    return out;
}

std::vector<std::string> keyword_names(const VpdWalk& w) {
    std::vector<std::string> names;
    for (const vximg_vpd_item& it : w.items) {
        if (it.kind == VXIMG_VPD_ITEM_KEYWORD) {
            names.emplace_back(it.name, 2);
        }
    }
    return names;
}

}  // namespace

TEST(Vpd, WalksANormalArea) {
    const sim::BuiltVpd vpd = sim::typical_vpd("SN12345678");
    const VpdWalk w = walk_vpd(vpd.bytes);
    EXPECT_EQ(w.result, VXIMG_VPD_END_TAG);
    ASSERT_EQ(w.items.size(), 1u + 1 + 4 + 1 + 4 + 1);

    EXPECT_EQ(w.items[0].kind, VXIMG_VPD_ITEM_IDENT);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&vpd.bytes[w.items[0].data_offset]),
                          w.items[0].data_length),
              "Simulated FC Adapter");
    EXPECT_EQ(w.items[1].kind, VXIMG_VPD_ITEM_AREA);
    EXPECT_EQ(w.items[1].tag, VXIMG_VPD_TAG_VPDR);
    EXPECT_EQ(w.items[6].tag, VXIMG_VPD_TAG_VPDW);
    EXPECT_EQ(w.items.back().kind, VXIMG_VPD_ITEM_END);
    EXPECT_EQ(w.items.back().offset, *vpd.end_tag);

    // The keywords where the builder put them, each in its area.
    size_t k = 0;
    for (const vximg_vpd_item& it : w.items) {
        if (it.kind != VXIMG_VPD_ITEM_KEYWORD) {
            continue;
        }
        ASSERT_LT(k, vpd.keywords.size());
        const sim::VpdPlaced& p = vpd.keywords[k++];
        EXPECT_EQ(std::string(it.name, 2), p.name);
        EXPECT_EQ(it.area, p.area);
        EXPECT_EQ(it.offset, p.offset);
        EXPECT_EQ(it.data_offset, p.data_offset);
        EXPECT_EQ(it.data_length, p.length);
    }
    EXPECT_EQ(k, vpd.keywords.size());

    vximg_vpd_item sn;
    ASSERT_TRUE(vximg_vpd_find_keyword(vpd.bytes.data(), vpd.bytes.size(), "SN", &sn));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&vpd.bytes[sn.data_offset]), sn.data_length),
              "SN12345678");
    EXPECT_FALSE(vximg_vpd_find_keyword(vpd.bytes.data(), vpd.bytes.size(), "ZZ", &sn));
}

TEST(Vpd, DamagedAreasEndCleanly) {
    const sim::BuiltVpd good = sim::typical_vpd("SN12345678");
    const size_t sn_data = good.keywords[1].data_offset;
    const size_t v5 = good.keywords[7].offset;
    struct Case {
        const char* name;
        std::function<Bytes()> make;
        int result;
        std::vector<std::string> keywords;
        bool sn_found;
    };
    const std::vector<std::string> all = {"PN", "SN", "EC", "RV", "V1", "V3", "V4", "V5"};
    const std::vector<Case> cases = {
        {"truncated inside the SN data",
         [&] { return Bytes(good.bytes.begin(), good.bytes.begin() + sn_data + 4); },
         VXIMG_VPD_TRUNCATED,
         {"PN"},
         false},
        {"truncated inside a keyword header",
         [&] { return Bytes(good.bytes.begin(), good.bytes.begin() + v5 + 2); },
         VXIMG_VPD_TRUNCATED,
         {"PN", "SN", "EC", "RV", "V1", "V3", "V4"},
         true},
        {"truncated inside the identifier",
         [&] { return Bytes(good.bytes.begin(), good.bytes.begin() + 10); },
         VXIMG_VPD_TRUNCATED,
         {},
         false},
        {"truncated inside the identifier's header",
         [&] { return Bytes(good.bytes.begin(), good.bytes.begin() + 2); },
         VXIMG_VPD_TRUNCATED,
         {},
         false},
        {"no end tag",
         [&] {
             sim::VpdContents fields;
             fields.read_only = {sim::keyword("PN", "SIM-2600"), sim::keyword("SN", "SN12345678"),
                                 sim::keyword("EC", "A01")};
             fields.has_writable = true;
             fields.writable = {sim::keyword("V1", "x"), sim::keyword("V3", "y"), sim::keyword("V4", "z"),
                                sim::keyword("V5", "w")};
             fields.end_tag = false;
             return sim::build_vpd(fields).bytes;
         },
         VXIMG_VPD_END_OF_BUFFER, all, true},
        {"keyword length past the end",
         [&] {
             Bytes b(good.bytes.begin(), good.bytes.begin() + static_cast<std::ptrdiff_t>(*good.end_tag));
             b[v5 + 2] = 0xFF;
             return b;
         },
         VXIMG_VPD_TRUNCATED,
         {"PN", "SN", "EC", "RV", "V1", "V3", "V4"},
         true},
        {"identifier length past the end",
         [&] {
             Bytes b = good.bytes;
             b[1] = 0xFF;
             b[2] = 0xFF;
             return b;
         },
         VXIMG_VPD_TRUNCATED,
         {},
         false},
        {"area length past the end (keywords still walked one by one)",
         [&] {
             Bytes b = good.bytes;
             const size_t vpdw = good.keywords[4].offset - 3;
             b[vpdw + 1] = 0xFF;
             b[vpdw + 2] = 0xFF;
             return b;
         },
         VXIMG_VPD_END_TAG, all, true},
        {"empty buffer", [] { return Bytes{}; }, VXIMG_VPD_END_OF_BUFFER, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes b = c.make();
        const VpdWalk w = walk_vpd(b);
        EXPECT_EQ(w.result, c.result);
        EXPECT_EQ(keyword_names(w), c.keywords);
        for (const vximg_vpd_item& it : w.items) {
            EXPECT_LE(it.data_offset + it.data_length, b.size());
        }
        const Exact exact(b);
        vximg_vpd_item sn;
        EXPECT_EQ(vximg_vpd_find_keyword(exact.data.get(), exact.size, "SN", &sn), c.sn_found);
    }
}

TEST(Vpd, RvChecksumCoversEveryByteThroughItsDataByte) {
    // Hand-made: identifier "AB", VPD-R holding only RV; the eight-bit sum of
    // the bytes before the checksum byte is 0x44.
    const Bytes hand = {0x82, 0x02, 0x00, 'A', 'B', 0x90, 0x04, 0x00, 'R', 'V', 0x01, 0xBC, 0x78};
    EXPECT_TRUE(vximg_vpd_rv_checksum_ok(hand.data(), hand.size()));
    uint8_t value = 0;
    size_t at = 0;
    ASSERT_TRUE(vximg_vpd_rv_checksum(hand.data(), hand.size(), &value, &at));
    EXPECT_EQ(value, 0xBC);
    EXPECT_EQ(at, 11u);
    // Flipping a text byte or the checksum byte keeps the structure and breaks the sum.
    for (size_t i : {3, 4, 11}) {
        Bytes bad = hand;
        bad[i] ^= 0x04;
        EXPECT_FALSE(vximg_vpd_rv_checksum_ok(bad.data(), bad.size())) << "byte " << i;
    }

    // The builder's area: the sum from the start through the checksum byte is 0,
    // computed here on its own.
    sim::BuiltVpd vpd = sim::typical_vpd();
    ASSERT_TRUE(vpd.rv_byte.has_value());
    unsigned sum = 0;
    for (size_t i = 0; i <= *vpd.rv_byte; ++i) {
        sum += vpd.bytes[i];
    }
    EXPECT_EQ(sum % 256, 0u);
    EXPECT_TRUE(vximg_vpd_rv_checksum_ok(vpd.bytes.data(), vpd.bytes.size()));

    // A changed serial number breaks it; recomputing mends it. Bytes behind
    // the checksum byte do not count.
    vpd.bytes[vpd.keywords[1].data_offset] = 'X';
    EXPECT_FALSE(vximg_vpd_rv_checksum_ok(vpd.bytes.data(), vpd.bytes.size()));
    ASSERT_TRUE(vximg_vpd_set_rv_checksum(vpd.bytes.data(), vpd.bytes.size()));
    EXPECT_TRUE(vximg_vpd_rv_checksum_ok(vpd.bytes.data(), vpd.bytes.size()));
    vpd.bytes[vpd.keywords[4].data_offset] ^= 0x55;
    EXPECT_TRUE(vximg_vpd_rv_checksum_ok(vpd.bytes.data(), vpd.bytes.size()));

    sim::VpdContents fields;
    fields.corrupt_rv = true;
    const sim::BuiltVpd off = sim::build_vpd(fields);
    EXPECT_FALSE(vximg_vpd_rv_checksum_ok(off.bytes.data(), off.bytes.size()));
}

TEST(Vpd, NoChecksumByteNoChecksum) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    sim::VpdContents zero_rv;
    zero_rv.rv_length = 0;  // RV without a data byte: the next item's byte is not its to take
    zero_rv.has_writable = true;
    zero_rv.writable = {sim::keyword("V1", "1.00")};
    sim::VpdContents no_rv;
    no_rv.add_rv = false;
    const sim::BuiltVpd typical = sim::typical_vpd();
    const std::vector<Case> cases = {
        {"RV of length 0", sim::build_vpd(zero_rv).bytes},
        {"no RV before the end tag", sim::build_vpd(no_rv).bytes},
        {"truncated before RV's data byte",
         Bytes(typical.bytes.begin(), typical.bytes.begin() + static_cast<std::ptrdiff_t>(*typical.rv_byte))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exact exact(c.bytes);
        uint8_t value;
        size_t at;
        EXPECT_FALSE(vximg_vpd_rv_checksum(exact.data.get(), exact.size, &value, &at));
        EXPECT_FALSE(vximg_vpd_rv_checksum_ok(exact.data.get(), exact.size));
        EXPECT_FALSE(vximg_vpd_set_rv_checksum(exact.data.get(), exact.size));
        EXPECT_EQ(0, std::memcmp(exact.data.get(), c.bytes.data(), c.bytes.size()));
    }
}

TEST(Vpd, RewritingVersionKeywordsKeepsEveryOtherByte) {
    sim::VpdContents fields;
    fields.read_only = {sim::keyword("PN", "SIM-2600"), sim::keyword("V1", "RO-KEEP"),
                        sim::keyword("SN", "S1")};
    fields.has_writable = true;
    fields.writable = {sim::keyword("V1", std::string(10, '.')),
                       sim::keyword("YA", "asset"),
                       sim::keyword("V3", std::string(16, '.')),
                       sim::keyword("V4", std::string(4, '.')),
                       sim::keyword("V9", "other"),
                       sim::keyword("V5", std::string(10, '.'))};
    fields.size = 512;
    const sim::BuiltVpd built = sim::build_vpd(fields);
    Bytes vpd = built.bytes;

    // Rewrite V1, V3, V4 and V5 of the writable area through the walk.
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"V1", "\"006.01\""}, {"V3", "\"008.002.005\""}, {"V4", "\"001.05\""}, {"V5", "\"2.10\""}};
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpd.data(), vpd.size());
    vximg_vpd_item it;
    std::vector<std::pair<size_t, size_t>> rewritten;
    while (vximg_vpd_walk_next(&w, &it)) {
        if (it.kind != VXIMG_VPD_ITEM_KEYWORD || it.area != VXIMG_VPD_TAG_VPDW) {
            continue;
        }
        for (const auto& [name, text] : texts) {
            if (std::string(it.name, 2) == name) {
                ASSERT_TRUE(vximg_vpd_fill_keyword(vpd.data(), vpd.size(), &it, text.data(), text.size()));
                rewritten.emplace_back(it.data_offset, it.data_length);
            }
        }
    }
    EXPECT_EQ(w.result, VXIMG_VPD_END_TAG);
    ASSERT_EQ(rewritten.size(), 4u);

    // Every byte outside the four fields is as it was.
    for (size_t i = 0; i < vpd.size(); ++i) {
        bool inside = false;
        for (const auto& [from, n] : rewritten) {
            inside = inside || (i >= from && i < from + n);
        }
        if (!inside) {
            EXPECT_EQ(vpd[i], built.bytes[i]) << "byte " << i;
        }
    }
    // Text then zeros; a text longer than its field is cut.
    auto field = [&](size_t k) {
        const sim::VpdPlaced& p = built.keywords[k];
        return std::string(reinterpret_cast<const char*>(&vpd[p.data_offset]), p.length);
    };
    EXPECT_EQ(field(4), std::string("\"006.01\"") + std::string(2, '\0'));
    EXPECT_EQ(field(6), std::string("\"008.002.005\"") + std::string(3, '\0'));
    EXPECT_EQ(field(7), "\"001");
    EXPECT_EQ(field(1), "RO-KEEP");
    EXPECT_EQ(field(8), "other");
    EXPECT_TRUE(vximg_vpd_rv_checksum_ok(vpd.data(), vpd.size()));

    vximg_vpd_item area{};
    area.kind = VXIMG_VPD_ITEM_AREA;
    EXPECT_FALSE(vximg_vpd_fill_keyword(vpd.data(), vpd.size(), &area, "x", 1));
}

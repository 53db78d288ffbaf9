// The flash formats: decoders, checksums, the ROM chain and VPD walkers, on hand-made and built bytes.
#include "image/flash_formats.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::Exact;

// Each field comes from its own little-endian bytes: here the decoded record equals its bytes.
TEST(FlashRecords, DecodersAndByteOrderHelpers) {
    const Bytes b = sim::pattern(32, 0x10);
    const auto decoded = [&](auto decode, auto record) {
        std::memset(static_cast<void*>(&record), 0xEE, sizeof record);
        decode(b.data(), &record);
        return sim::bytes_of(&record, sizeof record) == Bytes(b.begin(), b.begin() + sizeof record);
    };
    EXPECT_TRUE(decoded(vximg_decode_rom_header, INT_PCI_ROM_HEADER{}));
    EXPECT_TRUE(decoded(vximg_decode_pci_data_struct, INT_PCI_DATA_STRUCT{}));
    EXPECT_TRUE(decoded(vximg_decode_flt_header, FLT_HEADER{}));
    EXPECT_TRUE(decoded(vximg_decode_image_status, vxa_image_status{}));
    EXPECT_EQ(vximg_flt_location_address(b.data()),
              vximg_get_le16(b.data() + 6) * 65536u + vximg_get_le16(b.data() + 4));
    const uint8_t buf[8] = {0x00, 0x44, 0x33, 0x22, 0x11, 0xB2, 0xA1, 0x00};  // at any alignment
    EXPECT_EQ(vximg_get_le32(buf + 1), 0x11223344u);
    EXPECT_EQ(vximg_get_le16(buf + 5), 0xA1B2u);
}

// Good records fail with any flipped byte; a table past its buffer fails; signatures count too.
TEST(FlashChecksums, EdgesOfTheTableAndStatusChecks) {
    const struct { const char* name; Bytes bytes; bool (*ok)(const Bytes&); } cases[] = {
        // "VFLT", table at 0x3F1000, version 1; the words add up to 0x10000.
        {"flt locator", {'V', 'F', 'L', 'T', 0x00, 0x10, 0x3F, 0x00, 0x01, 0, 0, 0, 0, 0, 0x1E, 0x55},
         [](const Bytes& b) { return vximg_flt_location_valid(b.data()); }},
        // Version 1, length 16, one region 0x07 (attribute 1) of 256 KiB at 0..0x3FFFF.
        {"flt header",
         {0x01, 0x00, 0x10, 0x00, 0xE1, 0xFF, 0x00, 0x00, 0x07, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00},
         [](const Bytes& b) { return vximg_flt_header_checksum_ok(b.data(), b.size()); }},
        // Valid, generation 0x0102, version 3.5.
        {"image status",
         {0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x05, 0x03, 0x21, 0x03, 0x2B, 0x02, 0xDE, 0xFA, 0xCE, 0xFA},
         [](const Bytes& b) { return vximg_image_status_checksum_ok(b.data()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.ok(c.bytes));
        for (size_t i = 0; i < c.bytes.size(); ++i) {
            Bytes bad = c.bytes;
            bad[i] ^= 0x01;
            EXPECT_FALSE(c.ok(bad)) << "byte " << i;
        }
    }
    EXPECT_EQ(vximg_flt_location_address(cases[0].bytes.data()), 0x3F1000u);
    const Bytes empty_table = {0x01, 0x00, 0x10, 0x00, 0xEF, 0xFF, 0x00, 0x00};  // length 16, no entries
    EXPECT_FALSE(vximg_flt_header_checksum_ok(Exact(empty_table).get(), empty_table.size()));
    EXPECT_FALSE(vximg_flt_header_checksum_ok(empty_table.data(), 7));
    const Bytes no_entries = {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_TRUE(vximg_flt_header_checksum_ok(no_entries.data(), no_entries.size()));
    // The words add up to 0: the checksum holds, whatever the signature.
    const Bytes unsigned_record = {0x01, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_TRUE(vximg_image_status_checksum_ok(unsigned_record.data()));
    // A locator with good words but another signature.
    Bytes other = sim::build_flt_locator(0x141000);
    other[3] = 'X';
    other[15] = static_cast<uint8_t>(other[15] + ('T' - 'X'));  // same byte of its word
    EXPECT_EQ(vximg_sum_le16(other.data(), 8), 0);
    EXPECT_FALSE(vximg_flt_location_valid(other.data()));
}

struct Walked {
    std::vector<vximg_rom_image> images;
    int result;
    size_t end;
};

Walked walk(const Bytes& bytes, bool skip_vfim = false, size_t len = SIZE_MAX) {
    const Exact exact(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(len, bytes.size()))));
    vximg_rom_walker w;
    vximg_rom_walk_init(&w, exact.get(), exact.size, 0, skip_vfim);
    Walked out;
    vximg_rom_image img;
    while (vximg_rom_walk_next(&w, &img) && out.images.size() < 1000) out.images.push_back(img);
    EXPECT_EQ(w.count, out.images.size()) << "the walk does not end";
    out.result = w.result;
    out.end = w.pos;
    return out;
}

// BIOS 1.5, FCode 2.10, EFI 6.1 (three units) and a VPD image of any vendor ID.
sim::RomChain four_image_chain(std::optional<uint16_t> vfim = std::nullopt) {
    return sim::build_rom_chain({sim::bios_image(1, 5, 2), sim::fcode_image(2, 10, 2), sim::efi_image(6, 1, 3),
                                 sim::vpd_image(0x1E0F, sim::typical_vpd().bytes, 2)},
                                vfim);
}

// The walk ends after the last image or at the damage, the images before it yielded.
TEST(RomChain, DamagedChainsEndCleanly) {
    const sim::RomChain good = four_image_chain();
    const size_t all = good.bytes.size();
    const auto le16 = [](size_t at, uint16_t v) { return [=](Bytes& b) { sim::put_le16(b, at, v); }; };
    const auto byte = [](size_t at, uint8_t v) { return [=](Bytes& b) { b[at] = v; }; };
    const std::function<void(Bytes&)> nothing = [](Bytes&) {};
    const struct { const char* name; std::function<void(Bytes&)> damage; size_t len, images; int result; } cases[] = {
        {"sound chain", nothing, all, 4, VXIMG_ROM_LAST},
        {"zero length on a middle image", le16(good.image_length_field(1), 0), all, 1, VXIMG_ROM_ZERO_LENGTH},
        {"zero length on the last image", le16(good.image_length_field(3), 0), all, 4, VXIMG_ROM_LAST},
        {"PcirOffset past the end", le16(good.pcir_offset_field(2), 0xFFF0), all, 2, VXIMG_ROM_BAD_PCIR_OFFSET},
        {"data structure across the end", le16(good.pcir_offset_field(3), uint16_t(all - good.offsets[3] - 10)),
         all, 3, VXIMG_ROM_BAD_PCIR_OFFSET},
        {"image length past the end", le16(good.image_length_field(1), 0x7FFF), all, 2, VXIMG_ROM_NO_ROOM},
        {"no last-image bit at the buffer's end", byte(good.indicator_field(3), 0), all, 4, VXIMG_ROM_NO_ROOM},
        {"bad ROM signature", byte(good.offsets[2] + 1, 0xAB), all, 2, VXIMG_ROM_BAD_SIGNATURE},
        {"bad PCIR signature", byte(good.pcir(1) + 3, 'X'), all, 1, VXIMG_ROM_BAD_PCIR_SIGNATURE},
        {"buffer ends inside a header", nothing, good.offsets[2] + 10, 2, VXIMG_ROM_NO_ROOM},
        {"buffer ends inside a data structure", nothing, good.offsets[2] + 0x1C + 4, 2, VXIMG_ROM_BAD_PCIR_OFFSET},
        {"empty buffer", nothing, 0, 0, VXIMG_ROM_NO_ROOM},
        {"erased flash", [](Bytes& b) { std::fill(b.begin(), b.end(), 0xFF); }, all, 0, VXIMG_ROM_BAD_SIGNATURE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = good.bytes;
        c.damage(b);
        const Walked w = walk(b, false, c.len);
        EXPECT_EQ(w.images.size(), c.images);
        EXPECT_EQ(w.result, c.result);
        for (size_t i = 0; i < w.images.size(); ++i) EXPECT_EQ(w.images[i].offset, good.offsets[i]);
    }
    // An image layout header is passed over only when asked; one cut off or pointing nowhere ends the walk.
    const sim::RomChain behind = four_image_chain(uint16_t{0x200});
    EXPECT_EQ(walk(behind.bytes).result, VXIMG_ROM_BAD_SIGNATURE);
    const Walked w = walk(behind.bytes, true);
    EXPECT_TRUE(w.result == VXIMG_ROM_LAST && w.images.size() == 4 && w.images[0].offset == 0x200);
    EXPECT_EQ(w.end, behind.end);
    EXPECT_EQ(walk(sim::build_vfim_header(0x40), true, 20).result, VXIMG_ROM_BAD_VFIM);
    EXPECT_EQ(walk(sim::build_vfim_header(0), true).result, VXIMG_ROM_BAD_SIGNATURE);
}

struct VpdWalk {
    std::vector<vximg_vpd_item> items;
    std::vector<std::string> keywords;
    int result;
};

VpdWalk walk_vpd(const Bytes& bytes) {
    const Exact exact(bytes);
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, exact.get(), exact.size);
    VpdWalk out;
    vximg_vpd_item it;
    while (vximg_vpd_walk_next(&w, &it) && out.items.size() < 10000) {
        out.items.push_back(it);
        if (it.kind == VXIMG_VPD_ITEM_KEYWORD) out.keywords.emplace_back(it.name, 2);
    }
    EXPECT_LT(out.items.size(), 10000u) << "the walk does not end";
    out.result = w.result;
    return out;
}

TEST(Vpd, DamagedAreasEndCleanly) {
    const sim::BuiltVpd good = sim::typical_vpd("SN12345678");
    const size_t sn_data = good.keywords[1].data_offset;
    const size_t v5 = good.keywords[7].offset;
    const size_t vpdw = good.keywords[4].offset - 3;
    const auto head = [&](size_t n) { return Bytes(good.bytes.begin(), good.bytes.begin() + std::ptrdiff_t(n)); };
    const auto changed = [](Bytes b, std::vector<std::pair<size_t, uint8_t>> bytes) {
        for (auto [at, v] : bytes) b[at] = v;
        return b;
    };
    sim::VpdContents no_end;
    using sim::keyword;
    no_end.read_only = {keyword("PN", "SIM-2600"), keyword("SN", "SN12345678"), keyword("EC", "A01")};
    no_end.has_writable = true;
    no_end.writable = {keyword("V1", "x"), keyword("V3", "y"), keyword("V4", "z"), keyword("V5", "w")};
    no_end.end_tag = false;
    const std::vector<std::string> all = {"PN", "SN", "EC", "RV", "V1", "V3", "V4", "V5"};
    const std::vector<std::string> to_v4(all.begin(), all.end() - 1);
    const struct { const char* name; Bytes bytes; int result; std::vector<std::string> keywords; } cases[] = {
        {"sound area", good.bytes, VXIMG_VPD_END_TAG, all},
        {"truncated inside the SN data", head(sn_data + 4), VXIMG_VPD_TRUNCATED, {"PN"}},
        {"truncated inside a keyword header", head(v5 + 2), VXIMG_VPD_TRUNCATED, to_v4},
        {"truncated inside the identifier", head(10), VXIMG_VPD_TRUNCATED, {}},
        {"truncated inside the identifier's header", head(2), VXIMG_VPD_TRUNCATED, {}},
        {"no end tag", sim::build_vpd(no_end).bytes, VXIMG_VPD_END_OF_BUFFER, all},
        {"keyword length past the end", changed(head(*good.end_tag), {{v5 + 2, 0xFF}}), VXIMG_VPD_TRUNCATED, to_v4},
        {"identifier length past the end", changed(good.bytes, {{1, 0xFF}, {2, 0xFF}}), VXIMG_VPD_TRUNCATED, {}},
        {"area length past the end (keywords still walked one by one)",
         changed(good.bytes, {{vpdw + 1, 0xFF}, {vpdw + 2, 0xFF}}), VXIMG_VPD_END_TAG, all},
        {"empty buffer", {}, VXIMG_VPD_END_OF_BUFFER, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const VpdWalk w = walk_vpd(c.bytes);
        EXPECT_EQ(w.result, c.result);
        EXPECT_EQ(w.keywords, c.keywords);
        for (const vximg_vpd_item& it : w.items) {
            EXPECT_LE(it.data_offset + it.data_length, c.bytes.size());
            const bool sn = it.kind == VXIMG_VPD_ITEM_KEYWORD && std::string(it.name, 2) == "SN";
            EXPECT_TRUE(!sn || std::memcmp(c.bytes.data() + it.data_offset, "SN12345678", it.data_length) == 0);
        }
    }
    // Only a keyword's data is ever filled.
    const VpdWalk w = walk_vpd(good.bytes);
    Bytes copy = good.bytes;
    EXPECT_FALSE(vximg_vpd_fill_keyword(copy.data(), copy.size(), &w.items.at(1), "x", 1));
    EXPECT_EQ(copy, good.bytes);
}

}  // namespace

// VPD version keywords from option ROM images, "RV" checksums, field reads and serial numbers;
// VPDs lie in exact heap buffers, so any access past their end is reported.
#include <map>
#include <tuple>

#include "base/vx_vpd_fields.h"
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_nvram_vpd.h"
#include "fw24xx_builder.h"
#include "sim_nvram_vpd.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::Exact;
using sim::keyword;

constexpr uint16_t kMaker = VX_PCI_VENDOR_MAKER;

// A text padded with zeros (or cut) to n bytes.
Bytes padded(const std::string& text, size_t n) {
    Bytes b(n, 0);
    std::memcpy(b.data(), text.data(), std::min(n, text.size()));
    return b;
}

// The VPD's bytes with the texts of the named keywords of one area put in, padded to their length.
Bytes with_fields(const sim::BuiltVpd& v, uint8_t area, const std::map<std::string, std::string>& fields) {
    Bytes b = v.bytes;
    for (const sim::VpdPlaced& k : v.keywords) {
        if (k.area != area || fields.count(k.name) == 0) continue;
        const Bytes data = padded(fields.at(k.name), k.length);
        std::copy(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(k.data_offset));
    }
    return b;
}

// A VPD with a part number and this serial number, padded to `size` bytes.
Bytes sn_vpd(const Bytes& serial, size_t size = 512) {
    sim::VpdContents c;
    c.read_only = {keyword("PN", "P1"), {"SN", serial}};
    c.size = size;
    return sim::build_vpd(c).bytes;
}

sim::RomImage fcode_with_version(const std::string& version) {
    sim::RomImage img = sim::fcode_image(4, 2);
    img.payload = sim::text_bytes("FCode driver " + version + " 05/07/09 build");
    return img;
}

// BIOS 1.5, FCode "2.10" (revision 4.2), EFI 2.7 unless left out, firmware 3.4.5.
Bytes option_rom(bool efi = true, uint8_t bios_major = 1) {
    std::vector<sim::RomImage> images = {sim::bios_image(bios_major, 5), fcode_with_version("2.10")};
    if (efi) images.push_back(sim::efi_image(2, 7));
    sim::RomImage fw = sim::firmware_image(kMaker, 3, 4, 5);
    fw.code_type = 0x7F;  // none of the boot code types
    images.push_back(fw);
    return sim::build_rom_chain(images).bytes;
}

// Version keywords in both areas; only those of the writable one may change.
sim::BuiltVpd rom_vpd(uint8_t v3_length = 16) {
    sim::VpdContents c;
    c.read_only = {keyword("PN", "SIM-2600"), keyword("V1", "ro-v1"), keyword("SN", "SER12345"),
                   keyword("V4", "ro-v4")};
    c.has_writable = true;
    c.writable = {keyword("V1", std::string(10, ' ')), keyword("V3", std::string(v3_length, ' ')),
                  keyword("V4", std::string(10, ' ')), keyword("V5", std::string(10, ' ')), keyword("V9", "other"),
                  keyword("YA", "asset")};
    return sim::build_vpd(c);
}

// The NVRAM-area VPD: version keywords in the read-only area, under the checksum.
sim::BuiltVpd nv_vpd() {
    sim::VpdContents c;
    c.read_only = {keyword("PN", "SIM-2600"), keyword("SN", "SER12345"), keyword("V1", "old-v1...."),
                   keyword("V3", "old-v3.........."), keyword("V4", "old-v4...."), keyword("V5", "old-v5...."),
                   keyword("V2", "keep")};
    c.size = 512;
    return sim::build_vpd(c);
}

Bytes fw24xx(uint32_t major, uint32_t minor, uint32_t subminor) {
    sim::Fw24xx fw;
    std::tie(fw.major, fw.minor, fw.subminor) = std::tie(major, minor, subminor);
    return sim::build_24xx_fw(fw);
}

// A boot code chain at 0 and the 24xx firmware 8.2.5 at 0x80000.
Bytes flash_image(bool efi, uint8_t bios_major) {
    Bytes b = option_rom(efi, bios_major);
    sim::place(b, 0x80000, fw24xx(8, 2, 5), 0);
    return b;
}

class VpdFieldsTest : public ::testing::Test {
protected:
    void SetUp() override { vx_debug = 0xFFFFFFFF; }
    sim::SimHost host;
};

// Only the writable version fields change, cut or padded; with no place for the VPD nothing changes.
TEST_F(VpdFieldsTest, OptionRomRoutinesRewriteOnlyTheWritableVersionKeywords) {
    sim::RomImage vpd_img = sim::vpd_image(kMaker, sim::typical_vpd("OLD").bytes, 2);
    vpd_img.code_type = 0x7F;
    const sim::RomChain with_vpd_image =
        sim::build_rom_chain({sim::bios_image(1, 5), fcode_with_version("2.10"), sim::efi_image(2, 7), vpd_img});
    constexpr size_t kInPlace = SIZE_MAX, kNoPlace = SIZE_MAX - 1;
    struct Case { const char* name; Bytes image; size_t at; uint8_t v3_len; const char *v1 = "", *v3 = "", *v5 = ""; };
    const Case cases[] = {
        {"in place", option_rom(), kInPlace, 16, "\"002.07\"", "\"003.004.005\"", "\"2.10\""},
        {"in place, V3 of 10", option_rom(), kInPlace, 10, "\"002.07\"", "\"003.004.005\"", "\"2.10\""},
        {"in place, V3 of 25", option_rom(), kInPlace, 25, "\"002.07\"", "\"003.004.005\"", "\"2.10\""},
        {"into the VPD image", with_vpd_image.bytes, with_vpd_image.pcir(3) + 0x18, 16, "\"002.07\"",
         "\"000.000.000\"", "\"2.10\""},
        {"into a BIOS-only ROM", sim::build_bios_only_rom(1, 5, Bytes(512, 0xAB)), 0x1FE00, 16, "\"000.00\"",
         "\"000.000.000\"", "\"00.00.00\""},
        {"two images, no VPD image", sim::build_rom_chain({sim::bios_image(1, 5), sim::efi_image(2, 7)}).bytes,
         kNoPlace, 16},
        {"a small BIOS-only ROM", sim::build_rom_chain({sim::bios_image(1, 5)}).bytes, kNoPlace, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::BuiltVpd vpd = rom_vpd(c.v3_len);
        Exact image(c.image);
        Exact src(vpd.bytes);
        Bytes out;
        if (c.at == kInPlace) {
            ASSERT_EQ(vxapi_update_vpd_version_field(image.get(), image.sz(), src.get(), src.sz(), nullptr), 0);
            out = src.bytes();
            EXPECT_EQ(image.bytes(), c.image);
        } else {
            ASSERT_EQ(vxapi_add_vpd_image(image.get(), image.sz(), src.get(), src.sz(), nullptr), c.at == kNoPlace);
            EXPECT_EQ(src.bytes(), vpd.bytes);
            if (c.at == kNoPlace) {
                EXPECT_EQ(image.bytes(), c.image);
                continue;
            }
            out = Bytes(image.get() + c.at, image.get() + c.at + vpd.bytes.size());
            Bytes expected = c.image;  // nothing outside the copied VPD changed
            std::copy(out.begin(), out.end(), expected.begin() + static_cast<std::ptrdiff_t>(c.at));
            EXPECT_EQ(image.bytes(), expected);
        }
        EXPECT_EQ(out, with_fields(vpd, 0x91, {{"V1", c.v1}, {"V3", c.v3}, {"V4", "\"001.05\""}, {"V5", c.v5}}));
        EXPECT_EQ(vxapi_verify_vpd_checksum(out.data(), static_cast<uint32_t>(out.size())), 0);
    }
}

// The versions go into the read-only area, its checksum mended; every other byte stays.
TEST_F(VpdFieldsTest, NvramRoutineWritesItsTextsAndTheChecksum) {
    // An "RV" keyword behind the end tag is never reached: its byte stays.
    sim::VpdContents no_rv;
    no_rv.read_only = {keyword("V4", "old-v4....")};
    no_rv.add_rv = false;
    sim::BuiltVpd end_first = sim::build_vpd(no_rv);
    end_first.bytes.insert(end_first.bytes.end(), {'R', 'V', 1, 0x5C});
    const struct { const char* name; sim::BuiltVpd vpd; Bytes image; uint32_t region;
                   std::map<std::string, std::string> fields; } cases[] = {
        {"whole flash", nv_vpd(), flash_image(true, 1), 0x07,
         {{"V1", " 2.07"}, {"V3", " 8.02.05"}, {"V4", " 1.05"}, {"V5", " 4.02"}}},
        {"major above 99, no EFI", nv_vpd(), flash_image(false, 120), 0x07,
         {{"V3", " 8.02.05"}, {"V4", "120.05"}, {"V5", " 4.02"}}},
        {"firmware region alone", nv_vpd(), sim::build_24xx_fw({}), 0x01, {{"V3", " 1.00.00"}}},
        // A version whose text cannot fit the 20-byte text leaves V3 alone.
        {"firmware version too long", nv_vpd(), fw24xx(4000000000u, 4000000000u, 0), 0x01, {}},
        {"end tag before any checksum", end_first, flash_image(true, 1), 0x07, {{"V4", " 1.05"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Exact image(c.image);
        Exact buf(c.vpd.bytes);
        ASSERT_EQ(vxapi_update_nv_vpd_version(image.get(), image.sz(), buf.get(), buf.sz(), c.region), 0);
        const Bytes out = buf.bytes();
        Bytes expected = with_fields(c.vpd, 0x90, c.fields);
        const bool rv = c.vpd.rv_byte.has_value();
        if (rv) expected[*c.vpd.rv_byte] = out[*c.vpd.rv_byte];
        EXPECT_EQ(out, expected);
        EXPECT_EQ(vxapi_verify_vpd_checksum(buf.get(), buf.sz()), rv ? 0 : 1);
        if (rv) { EXPECT_EQ(vxapi_verify_kt_vpd_checksum(buf.get(), buf.sz()), 0); }
    }
}

TEST_F(VpdFieldsTest, MalformedVpdIsRefusedWithoutTouchingIt) {
    const sim::BuiltVpd good = nv_vpd();
    const size_t sn_data = good.keywords.at(1).data_offset;
    Bytes ident_long = good.bytes;
    ident_long[1] = 0xFF;  // the identifier claims more than there is
    ident_long[2] = 0x01;
    Bytes ro_long = good.bytes;
    sim::put_le16(ro_long, 3 + sim::get_le16(good.bytes, 1) + 1, 600);  // only the routines that skip VPD-R care
    sim::VpdContents no_tag;
    no_tag.read_only = {keyword("V1", "abc")};
    no_tag.add_rv = false;
    no_tag.end_tag = false;
    sim::VpdContents rv_empty;
    rv_empty.read_only = {keyword("V1", "abc")};
    rv_empty.rv_length = 0;
    // nv_result: of the NVRAM routine; rom_result: of the option ROM routines.
    const struct { const char* name; Bytes vpd; int nv_result, rom_result; } cases[] = {
        {"keyword data cut by the end", Bytes(good.bytes.begin(), good.bytes.begin() + sn_data + 3), 1, 1},
        {"keyword header cut by the end", Bytes(good.bytes.begin(), good.bytes.begin() + sn_data - 2), 1, 1},
        {"identifier longer than the VPD", ident_long, 1, 1},
        {"read-only area longer than the VPD", ro_long, 0, 1},
        {"neither end tag nor checksum", sim::build_vpd(no_tag).bytes, 1, 0},
        {"checksum keyword without a byte", sim::build_vpd(rv_empty).bytes, 1, 0},
    };
    const Bytes rom = sim::build_bios_only_rom(1, 5, Bytes(512, 0xAB));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Exact original(c.vpd);
        EXPECT_EQ(vxapi_verify_vpd_checksum(original.get(), original.sz()), 1);
        EXPECT_EQ(vxapi_verify_kt_vpd_checksum(original.get(), original.sz()), 1);
        uint8_t out[32];
        const uint8_t absent[2] = {'Z', 'Z'};
        EXPECT_EQ(vxapi_get_field_from_vpd(original.get(), original.sz(), absent, 2, out, sizeof out), 1);

        Exact image(flash_image(true, 1));
        Exact buf(c.vpd);
        EXPECT_EQ(vxapi_update_nv_vpd_version(image.get(), image.sz(), buf.get(), buf.sz(), 0x07), c.nv_result);
        EXPECT_TRUE(c.nv_result == 0 || buf.bytes() == c.vpd);
        Exact rom_buf(c.vpd);
        EXPECT_EQ(vxapi_update_vpd_version_field(image.get(), image.sz(), rom_buf.get(), rom_buf.sz(), nullptr),
                  c.rom_result);
        EXPECT_TRUE(c.rom_result == 0 || rom_buf.bytes() == c.vpd);
        Exact target(rom);
        EXPECT_EQ(vxapi_add_vpd_image(target.get(), target.sz(), original.get(), original.sz(), nullptr),
                  c.rom_result);
        EXPECT_TRUE(c.rom_result == 0 || target.bytes() == rom);
    }
}

// The OEM checksum adds every byte up to the first "RV" pair; an 'x' (the end tag's byte) stops it.
TEST_F(VpdFieldsTest, OemChecksumCountsEveryByteBeforeTheFirstRvPair) {
    sim::VpdContents c;
    c.ident = "OEM Adapter";
    c.read_only = {keyword("SN", "ABC")};
    const sim::BuiltVpd good = sim::build_vpd(c);
    c.ident = "OEM Adapter x2";
    const Bytes with_x = sim::build_vpd(c).bytes;
    c.ident = "OEM Adapter";
    c.corrupt_rv = true;
    const std::pair<Bytes, int> cases[] = {{good.bytes, 0}, {with_x, 1}, {sim::build_vpd(c).bytes, 1},
                                           {Bytes(good.bytes.begin(), good.bytes.begin() + *good.rv_byte), 1}};
    for (const auto& [vpd, result] : cases)
        EXPECT_EQ(vxapi_verify_kt_vpd_checksum(Exact(vpd).get(), static_cast<uint32_t>(vpd.size())), result);
}

TEST_F(VpdFieldsTest, FieldReads) {
    const uint8_t sn[2] = {'S', 'N'};
    const uint8_t ident[1] = {0x82};
    const auto text = sim::text_bytes;
    const auto vpd_with_sn = [](const Bytes& serial) { return sn_vpd(serial, 0); };
    // A 1024-byte VPD whose serial number stands past byte 511, or before it.
    sim::VpdContents far;
    far.read_only = {keyword("PN", std::string(250, 'p')), keyword("EC", std::string(250, 'e')), keyword("SN", "FAR")};
    far.size = 1024;
    sim::VpdContents near = far;
    near.read_only = {keyword("PN", std::string(250, 'p')), keyword("SN", "NEAR")};
    const struct { const char* name; Bytes vpd; const uint8_t* tag; uint16_t tag_sz, bufsz; int result; Bytes out; }
        cases[] = {
            {"serial number", vpd_with_sn(text("SER12345")), sn, 2, 12, 0, padded("SER12345", 12)},
            {"fills the buffer, no terminator", vpd_with_sn(text("ABCDEFGHIJKL")), sn, 2, 8, 0, text("ABCDEFGH")},
            {"all blanks", vpd_with_sn(text("      ")), sn, 2, 12, 1, Bytes(12, 0)},
            {"empty", vpd_with_sn({}), sn, 2, 12, 1, Bytes(12, 0)},
            {"stops at a zero byte", vpd_with_sn({'A', 'B', 0, 'C', 'D'}), sn, 2, 8, 0, padded("AB", 8)},
            {"identifier string", vpd_with_sn(text("X")), ident, 1, 20, 0, padded("Simulated Adapter", 20)},
            {"no tag", vpd_with_sn(text("X")), sn, 0, 4, 1, Bytes(4, 0)},
            {"past byte 511 of a 1024-byte VPD", sim::build_vpd(far).bytes, sn, 2, 8, 1, Bytes(8, 0)},
            {"before byte 511 of a 1024-byte VPD", sim::build_vpd(near).bytes, sn, 2, 8, 0, padded("NEAR", 8)},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Exact vpd(c.vpd);
        Exact out(Bytes(c.bufsz, 0xEE));
        EXPECT_EQ(vxapi_get_field_from_vpd(vpd.get(), vpd.sz(), c.tag, c.tag_sz, out.get(), c.bufsz), c.result);
        EXPECT_EQ(out.bytes(), c.out);
    }
}

// The record takes the serial number only when the VPD has one.
TEST_F(VpdFieldsTest, SerialNumberFromTheDriverOrTheFlashRegion) {
    const auto text = sim::text_bytes;
    const std::string serial32(32, 'S');
    // region 0: the driver keeps the VPD; status: injected; requests: VPD requests to the driver.
    const struct { const char* name; uint16_t device, func; uint8_t region; Bytes vpd; uint32_t status;
                   std::string serial; size_t requests; } cases[] = {
        {"24xx, from the driver", 0x2432, 0, 0, sn_vpd(text("DRV0001")), 0, "DRV0001", 1},
        {"0x2071 function 1, from flash", 0x2071, 1, 0x16, sn_vpd(text("FL2071")), 0, "FL2071", 0},
        {"0x8044, 1024-byte VPD from flash", 0x8044, 0, 0x81, sn_vpd(text("FL8044"), 1024), 0, "FL8044", 0},
        {"32 characters", 0x2432, 0, 0, sn_vpd(text(serial32)), 0, serial32, 1},
        {"old adapter", 0x2312, 0, 0, sim::typical_vpd().bytes, 0, "", 0},
        {"driver status", 0x2432, 0, 0, sim::typical_vpd().bytes, EXT_STATUS_ERR, "", 1},
        {"blank serial number", 0x2432, 0, 0, sn_vpd(text("        ")), 0, "", 1},
        {"no serial number", 0x2432, 0, 0, sim::build_vpd({}).bytes, 0, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::FlashRig rig(c.device, c.region != 0 ? sim::vpd_flash_options(c.device) : sim::ChipFlashOptions{});
        sim::install_nvram_vpd(rig.driver);
        if (c.region != 0) {
            rig.phy.pci_dev_func = c.func;
            sim::place_in_region(*rig.adapter, rig.flash, c.region, c.vpd);
            ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        } else {
            rig.adapter->vpd = c.vpd;
        }
        if (c.status != 0) rig.driver.inject_status(c.status);
        const size_t n = sizeof rig.phy.serial_num;
        std::memset(rig.phy.serial_num, 'Z', n);  // stale bytes
        EXPECT_EQ(vxapi_get_vpd_serialnum(rig.fd, &rig.rec), c.serial.empty() ? 1 : 0);
        EXPECT_EQ(rig.requests(EXT_CC_GET_VPD).size(), c.requests);
        EXPECT_EQ(Bytes(rig.phy.serial_num, rig.phy.serial_num + n),
                  c.serial.empty() ? Bytes(n, 'Z') : padded(c.serial, n));
    }
}

}  // namespace

// Boot code and firmware images: chain search, VPD lookup, 24xx firmware, version texts, and
// the boot-code versions read from flash. Buffers are exact heap copies, so over-reads are reported.
#include <tuple>

#include "base/vx_flash_images.h"
#include "core/flash/vx_flash_versions.h"
#include "fw24xx_builder.h"
#include "image/flash_formats.h"
#include "sim_flash.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::Exact;

constexpr uint16_t kMaker = 0x7A5A;

class FlashImagesTest : public ::testing::Test {
protected:
    void SetUp() override { vx_debug = 0xFFFFFFFF; }
    void TearDown() override { vx_debug = 0; }
    bool traced(const std::string& text) const { return host.stderr_text().find(text) != std::string::npos; }
    sim::SimHost host;
};

sim::RomImage fcode_with(const std::string& payload) {
    sim::RomImage img = sim::fcode_image(1, 2);
    img.payload = sim::text_bytes(payload);
    return img;
}

// The VPD image of the maker; its code type is none of the boot code types.
sim::RomImage maker_vpd_image(const Bytes& vpd, uint16_t pcir_length = 0x18, uint16_t vendor = kMaker) {
    sim::RomImage img = sim::vpd_image(vendor, vpd, 2);  // room for a 512-byte VPD
    img.code_type = 0x7F;
    img.pcir_length = pcir_length;
    return img;
}

Bytes cut(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

// The boot-code versions of a node record in one line.
std::string versions(const EXT_HBA_NODE& n) {
    char text[160];
    const uint8_t *f = n.BIFCodeVersion, *e = n.BIEfiVersion, *w = n.BIFwVersion;
    std::snprintf(text, sizeof text, "rom %.16s fcode %u.%u.%u.%u efi %u.%u fw %u.%u.%u.%u valid %X", n.OptRomVersion,
                  f[0], f[1], f[2], f[3], e[0], e[1], w[0], w[1], w[2], w[3], n.BIValid);
    return text;
}

// Each step returns the image's length and takes its version; bad, last and zero-length images end the walk.
TEST_F(FlashImagesTest, BootCodeVersionsOfAChain) {
    const sim::RomChain chain = sim::build_rom_chain(
        {sim::bios_image(3, 5), sim::fcode_image(2, 1, 3), sim::efi_image(1, 17, 1), maker_vpd_image(Bytes{0x78})});
    const Exact buf(chain.bytes);
    EXT_HBA_NODE node{};
    std::memcpy(node.BIFCodeVersion, "\0\0\xAB\xCD", 4);
    std::vector<uint32_t> steps;
    for (size_t offset = 0; offset < buf.size;) {
        steps.push_back(vxsysfs_find_optrom_bootcode_versions(buf.get() + offset, buf.sz() - offset, &node));
        if (steps.back() == 0) break;
        offset += steps.back();
    }
    EXPECT_EQ(steps, (std::vector<uint32_t>{1024, 1536, 512, 0}));
    EXPECT_EQ(versions(node), "rom 3.05 fcode 2.1.171.205 efi 1.17 fw 0.0.0.0 valid 6");

    const sim::RomChain two = sim::build_rom_chain({sim::bios_image(1, 0), sim::efi_image(2, 0)});
    const auto le16 = [](size_t at, uint16_t v) { return [=](Bytes& b) { sim::put_le16(b, at, v); }; };
    const struct { std::function<void(Bytes&)> damage; size_t size; const char* trace; } cases[] = {
        {le16(two.image_length_field(0), 0), 0, nullptr},
        {[](Bytes& b) { b[1] = 0xAB; }, 0, "> Header failed"},
        {[](Bytes&) {}, 20, "> Header failed"},
        {le16(two.pcir_offset_field(0), 0x1F0), 0x200, "> Offset failed"},
        {[](Bytes&) {}, 0x1C + 23, "> Offset failed"},
        {[&](Bytes& b) { b[two.pcir(0) + 3] = 'X'; }, 0, "> Data failed"},
    };
    for (const auto& c : cases) {
        Bytes bytes = two.bytes;
        c.damage(bytes);
        const Exact damaged(c.size != 0 ? cut(bytes, c.size) : bytes);
        node = EXT_HBA_NODE{};
        host.clear_stderr();
        EXPECT_EQ(vxsysfs_find_optrom_bootcode_versions(damaged.get(), damaged.sz(), &node), 0u);
        EXPECT_STREQ(reinterpret_cast<const char*>(node.OptRomVersion), c.trace ? "" : "1.00");
        EXPECT_TRUE(c.trace == nullptr || traced(c.trace)) << c.trace;
    }
}

// By code type or device; every image is counted, up to the last or the damage.
TEST_F(FlashImagesTest, FindImageByCodeTypeAndDevice) {
    const Bytes vpd = sim::typical_vpd().bytes;
    sim::RomChain chain = sim::build_rom_chain({sim::bios_image(1, 0), maker_vpd_image(vpd, 0x18, 0x1234),
                                                sim::fcode_image(2, 0), sim::efi_image(3, 0), maker_vpd_image(vpd),
                                                sim::firmware_image(kMaker, 1, 2, 3)});
    sim::place(chain.bytes, chain.end, sim::build_rom_image(sim::fcode_image(9, 9), true));
    Exact buf(chain.bytes);
    const struct { bool by_type; uint16_t wanted; int image; } cases[] = {
        {true, VXIMG_CODE_X86, 0},    {true, VXIMG_CODE_FCODE, 2},           {true, VXIMG_CODE_EFI, 3},
        {true, 2, -1},                {false, VXIMG_DEVICE_VPD, 4},          {false, VXIMG_DEVICE_FIRMWARE, 5},
        {false, 0x0002, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.by_type << " " << c.wanted);
        uint8_t marker = 0;
        uint8_t* ptr = &marker;
        uint32_t nimages = 99;
        const auto ctype = static_cast<uint8_t>(c.wanted);
        EXPECT_EQ(c.by_type ? vxapi_find_image(buf.get(), buf.sz(), ctype, &ptr, 0, nullptr, &nimages)
                            : vxapi_find_image(buf.get(), buf.sz(), 0, nullptr, c.wanted, &ptr, &nimages),
                  c.image >= 0 ? 1 : 0);
        EXPECT_EQ(nimages, 6u);
        EXPECT_EQ(ptr, c.image >= 0 ? buf.get() + chain.offsets[c.image] : &marker);
    }
    buf.get()[chain.pcir(1)] = 'Q';
    uint8_t* ptr = nullptr;
    uint32_t nimages = 99;
    EXPECT_EQ(vxapi_find_image(buf.get(), buf.sz(), VXIMG_CODE_FCODE, &ptr, 0, nullptr, &nimages), 0);
    EXPECT_EQ(nimages, 1u);
    EXPECT_TRUE(traced("PCI data signature does not match\n"));
}

// The VPD follows the VPD image's data structure, or a single 128 KiB BIOS's at 0x1FE00; it starts with 0x82.
TEST_F(FlashImagesTest, VpdOfASingleBiosRom) {
    const Bytes vpd = sim::typical_vpd().bytes;
    const sim::RomChain chain =
        sim::build_rom_chain({sim::bios_image(1, 0), maker_vpd_image(vpd, 0x1C), sim::efi_image(1, 0)});
    const Bytes rom = sim::build_bios_only_rom(2, 10, vpd);
    Bytes no_tag = rom;
    no_tag[0x1FE00] = 0x90;
    Bytes two_images = cut(sim::build_rom_chain({sim::bios_image(1, 0), sim::efi_image(1, 0)}).bytes, 0x20000);
    two_images[0x1FE00] = 0x82;
    Bytes fcode_only = rom;
    fcode_only[sim::get_le16(rom, 0x18) + 0x14] = VXIMG_CODE_FCODE;
    const struct { const char* name; Bytes bytes; long at; } cases[] = {
        {"VPD image", chain.bytes, static_cast<long>(chain.pcir(1) + 0x1C)},
        {"single BIOS", rom, 0x1FE00},
        {"short copy", cut(rom, rom.size() - 1), -1},
        {"copy ends inside the VPD", cut(rom, 0x1FE01), -1},
        {"no identifier tag", no_tag, -1},
        {"two images", two_images, -1},
        {"single image is not a BIOS", fcode_only, -1},
        {"VPD does not start with 0x82", sim::build_rom_chain({maker_vpd_image(Bytes{0x90, 0, 0, 0x78})}).bytes, -1},
        {"structure length past the copy", cut(sim::build_rom_chain({maker_vpd_image(vpd, 0xFF00)}).bytes, 0x400), -1},
        {"copy ends at the VPD's start", cut(sim::build_rom_chain({maker_vpd_image(vpd)}).bytes, 0x1C + 0x18), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Exact buf(c.bytes);
        uint8_t* vpdbuf = buf.get();
        EXPECT_EQ(vxapi_find_vpd_image(buf.get(), buf.sz(), &vpdbuf, nullptr), c.at >= 0 ? 1 : 0);
        EXPECT_EQ(vpdbuf, c.at >= 0 ? buf.get() + c.at : nullptr);
        if (c.at >= 0) { EXPECT_EQ(0, std::memcmp(vpdbuf, vpd.data(), vpd.size())); }
    }
}

// Found in its region (1) at 0 or the whole flash (0) at 0x80000; a bad one is not; a version text that
// does not fit the caller's, with its NUL, is not reported.
TEST_F(FlashImagesTest, Firmware24xxVersionNeverOverflowsTheText) {
    using F = sim::Fw24xx;
    const auto fw = [](auto change) {
        F f;
        change(f);
        return sim::build_24xx_fw(f);
    };
    const auto version = [&](uint32_t major, uint32_t minor, uint32_t sub) {
        return fw([=](F& f) { std::tie(f.major, f.minor, f.subminor) = std::tie(major, minor, sub); });
    };
    Bytes flash = sim::blank_flash(0x80000);
    sim::place(flash, 0x80000, version(8, 2, 5));
    const struct { const char* name; Bytes bytes; uint32_t region = 1, size = 16; const char* text = nullptr;
                   long at = -1; } cases[] = {
        {"region copy", version(10, 3, 7), 1, 16, "10.03.07", 0},
        {"region copy, not the whole flash", version(10, 3, 7), 0},
        {"whole flash", flash, 0, 16, " 8.02.05", 0x80000},
        {"whole flash, not a region copy", flash},
        {"major above 99", version(123, 4, 5), 1, 10, "123.04.05", 0},
        {"no room for the NUL", version(123, 4, 5), 1, 9, nullptr, 0},
        {"no room at all", version(1, 2, 3), 1, 0, nullptr, 0},
        {"words printed as signed numbers", version(~0u, ~0u, ~0u), 1, 16, "-01.-01.-01", 0},
        {"widest", version(1u << 31, 1u << 31, 1u << 31), 1, 40, "-2147483648.-2147483648.-2147483648", 0},
        {"first segment sums to 1", fw([](F& f) { f.sum_error1 = 1; })},
        {"second segment sums to 1", fw([](F& f) { f.sum_error2 = 1; })},
        {"first length 0", fw([](F& f) { f.length_word1 = 0; })},
        {"first length too short for the version", fw([](F& f) { f.length_word1 = 6; })},
        // 4 * L1 is 4 in 32 bits: a wrapped sum would call it small.
        {"first length wraps in 32 bits", fw([](F& f) { f.length_word1 = 0x40000001; })},
        {"second length 0", fw([](F& f) { f.length_word2 = 0; })},
        {"second length wraps in 32 bits", fw([](F& f) { f.length_word2 = 0x3FFFFFC0 + 1; })},
        {"second length past the end", fw([](F& f) { f.length_word2 = f.words2 + 1; })},
        // The first segment fills the copy but for 12 bytes: no room for word 3 of the second.
        {"no room for the second header", cut(fw([](F& f) { f.words2 = 4; }), 64 * 4 + 12)},
        {"copy shorter than a header", cut(version(1, 0, 0), 15)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Exact buf(c.bytes);
        uint32_t* pfw = nullptr;
        EXPECT_EQ(vxapi_find_24xx_fw(buf.get(), buf.sz(), &pfw, c.region), c.at >= 0 ? 1 : 0);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(pfw), c.at >= 0 ? buf.get() + c.at : nullptr);
        std::string text(c.size + 8, '#');
        uint32_t len = 77;
        EXPECT_EQ(vxapi_get_24xx_fw_version(buf.get(), buf.sz(), text.data(), c.size, &len, c.region), c.text ? 1 : 0);
        EXPECT_EQ(len, c.text ? std::strlen(c.text) : 77u);
        const std::string written = c.text ? std::string(c.text) + '\0' : "";
        EXPECT_EQ(text, written + std::string(c.size + 8 - written.size(), '#'));
    }
}

TEST_F(FlashImagesTest, FirmwareImageVersionText) {
    const sim::RomChain one = sim::build_rom_chain({sim::firmware_image(kMaker, 1, 2, 3)});
    const Bytes cut_in_header = cut(one.bytes, one.pcir(0) + 0x18 + 17);  // before the major number
    const struct { const char* name; uint16_t vendor, major, minor, subminor; uint32_t size; const char* text;
                   uint16_t signature = 0x5A4C; } cases[] = {
        {"plain", kMaker, 1, 2, 3, 20, "\"001.002.003\""},
        {"exact fit", kMaker, 4, 50, 600, 14, "\"004.050.600\""},
        {"no room for the NUL", kMaker, 4, 50, 600, 13, nullptr},
        {"widest", kMaker, 65535, 65535, 65535, 20, "\"65535.65535.65535\""},
        {"uncompressed", kMaker, 1, 2, 3, 20, nullptr, 0x4C5A},
        {"another vendor's device 3", 0x1234, 1, 2, 3, 20, nullptr},
        {"copy ends inside the header", 0, 0, 0, 0, 20, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::RomImage fw = sim::firmware_image(c.vendor, c.major, c.minor, c.subminor);
        sim::put_le16(fw.payload, 0, c.signature);
        const Exact buf(c.vendor == 0 ? cut_in_header : sim::build_rom_chain({sim::bios_image(1, 0), fw}).bytes);
        std::vector<char> text(c.size + 4, '#');
        EXPECT_EQ(vxapi_get_fw_version(buf.get(), buf.sz(), text.data(), c.size, nullptr), c.text ? 0 : 1);
        EXPECT_EQ(std::string(text.data(), text.size()),
                  c.text ? std::string(c.text) + '\0' + std::string(c.size + 3 - std::strlen(c.text), '#')
                         : std::string(text.size(), '#'));
    }
    EXPECT_TRUE(traced("vxapi_get_fw_version: Firmware Image does not exist"));
}

// The word before the date, quoted or with its length; the scans stay within a copy cut anywhere (`keep`).
TEST_F(FlashImagesTest, FcodeVersionTexts) {
    const std::string late = " 1.2a " + std::string(249, 'x') + "/3/";  // second slash past the 256 bytes
    const struct { const char* name; std::string payload; const char* version; size_t keep = SIZE_MAX; } cases[] = {
        {"version and date", " 1.2a 05/07/09", "1.2a"},
        {"words around", "FCode Driver 3.10 1/7/2009 more", "3.10"},
        {"two characters", " v1 05/07/09", "v1"},
        {"eighteen characters", " 123456789012345678 05/07/09", "123456789012345678"},
        {"empty version", " x  05/07/09", ""},
        {"one character", " a 05/07/09", nullptr},
        {"nineteen characters", " 1234567890123456789 05/07/09", nullptr},
        {"no date", " 1.2a 050709 and more text", nullptr},
        {"one slash", " 1.2a 05/0709", nullptr},
        {"no space before the version", "1.2a 05/07/09", nullptr},
        {"date past the first 256 bytes", std::string(300, ' ') + "1.2a 05/07/09", nullptr},
        {"no FCode image", "", nullptr},
        {"copy ends at the payload", " 1.2a 05/07/09", nullptr, 0},
        {"copy ends at the second slash", " 1.2a 05/07/09", "1.2a", 12},
        {"late second slash cut off", late, nullptr, 257},
        {"late second slash in the copy", late, "1.2a", 258},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::RomImage second = c.payload.empty() ? sim::efi_image(1, 0) : fcode_with(c.payload);
        const sim::RomChain chain = sim::build_rom_chain({sim::bios_image(1, 0), second});
        const Exact buf(c.keep == SIZE_MAX ? chain.bytes : cut(chain.bytes, chain.pcir(1) + 0x18 + c.keep));
        char vstr[20], plain[18];
        std::memset(vstr, '#', sizeof vstr);
        std::memset(plain, '#', sizeof plain);
        uint32_t len = 77;
        EXPECT_EQ(vxapi_get_fcode_version(buf.get(), buf.sz(), vstr), c.version ? 0 : 1);
        EXPECT_EQ(vxapi_get_24xx_fcode_version(buf.get(), buf.sz(), plain, &len), c.version ? 0 : 1);
        const std::string v = c.version ? c.version : "";
        const std::string quoted = c.version ? "\"" + v + "\"" : "";
        EXPECT_EQ(std::string(vstr, sizeof vstr), quoted + std::string(sizeof vstr - quoted.size(), '#'));
        EXPECT_EQ(std::string(plain, sizeof plain), v + std::string(sizeof plain - v.size(), '#'));
        EXPECT_EQ(len, c.version ? v.size() : 77u);
    }
}

constexpr uint32_t kFwCookie = 0x40400003;

// A chip whose flash is all zero but what a test places.
struct FlashVersionsTest : ::testing::Test {
    void SetUp() override {
        vx_debug = 0xFFFFFFFF;
        rig.adapter->flash = sim::blank_flash(0x200000, 0);
    }
    void TearDown() override { vx_debug = 0; }
    void place_fw_header(uint32_t cookie) {
        Bytes hdr(32, 0);
        sim::put_le32(hdr, 0, cookie);
        std::copy_n(Bytes{8, 2, 0x34, 0x12}.begin(), 4, hdr.begin() + 4);
        sim::place(rig.adapter->flash, 0x100000, hdr);
    }
    // Reads the versions; the flash offsets read go to `reads`.
    std::string read_versions() {
        rig.driver.clear_log();
        EXT_HBA_NODE node{};
        node.BIValid = EXT_BI_PEP_VALID;  // stays
        vxapi_read_flash_versions(rig.fd, &rig.rec, &node);
        reads.clear();
        for (const sim::SimLogEntry& e : rig.requests(EXT_CC_READ_OPTROM)) reads.push_back(e.reserved1);
        return versions(node);
    }
    sim::FlashRig rig{0x8021};
    std::vector<uint32_t> reads;
};

// The chain at 0x80000 and the header at 0x100000 give the versions; a bad cookie or read ends a step.
TEST_F(FlashVersionsTest, VersionsFromTheChainAndTheFirmwareHeader) {
    const Bytes chain =
        sim::build_rom_chain({sim::bios_image(2, 7), sim::fcode_image(3, 1, 4), sim::efi_image(5, 9, 3)}).bytes;
    const std::vector<uint32_t> walked = {0x80000, 0x80400, 0x80C00, 0x100000}, not_walked = {0x80000, 0x100000};
    const struct { const char* name; uint32_t cookie; bool chain, failed_read; std::string versions; } cases[] = {
        {"everything", kFwCookie, true, false, "rom 2.07 fcode 3.1.0.0 efi 5.9 fw 8.2.52.18 valid 17"},
        {"another cookie", 0x40400004, true, false, "rom 2.07 fcode 3.1.0.0 efi 5.9 fw 0.0.0.0 valid 16"},
        {"zero first bytes", 0, false, false, "rom  fcode 0.0.0.0 efi 0.0 fw 0.0.0.0 valid 10"},
        {"failed chain read", kFwCookie, true, true, "rom  fcode 0.0.0.0 efi 0.0 fw 8.2.52.18 valid 11"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(rig.adapter->flash.begin(), rig.adapter->flash.end(), 0);
        if (c.chain) sim::place(rig.adapter->flash, 0x80000, chain);
        if (c.cookie) place_fw_header(c.cookie);
        if (c.failed_read) rig.driver.inject_errno(EIO, 1);
        rig.host.clear_stderr();
        EXPECT_EQ(read_versions(), c.versions);
        EXPECT_EQ(reads, c.chain && !c.failed_read ? walked : not_walked);
        EXPECT_EQ(rig.host.stderr_text().find("vxapi_read_flash_versions: Flash FW version read failed\n") !=
                      std::string::npos,
                  c.cookie == 0x40400004);
    }
    // A firmware header that arrives in part is not read: no version from its missing bytes.
    std::fill(rig.adapter->flash.begin(), rig.adapter->flash.end(), 0);
    place_fw_header(kFwCookie);
    rig.driver.inject_short(4, 2);  // the read of the empty chain, and the header's
    EXPECT_EQ(read_versions(), "rom  fcode 0.0.0.0 efi 0.0 fw 0.0.0.0 valid 10");
}

// A chain without a last image is not followed past the firmware header.
TEST_F(FlashVersionsTest, WalkStopsAtTheFirmwareHeader) {
    std::vector<uint32_t> expected;
    for (uint32_t at = 0x80000; at < 0x200000; at += 0x10000) {
        sim::place(rig.adapter->flash, at, sim::build_rom_image(sim::bios_image(uint8_t(at >> 16), 0, 0x80), false));
        if (at <= 0x100000) expected.push_back(at);
    }
    // The image at 0x100000 carries no firmware cookie.
    EXPECT_EQ(read_versions(), "rom 15.00 fcode 0.0.0.0 efi 0.0 fw 0.0.0.0 valid 10");
    EXPECT_EQ(reads, expected);
}

}  // namespace

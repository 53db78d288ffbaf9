// Boot code and firmware images: the chain search, the VPD lookup, the 24xx
// firmware and its checksums, the version texts, the boot-code versions of a
// node record, and their reading from a simulated adapter's flash.
//
// Buffers are heap copies of exactly the bytes built, so that AddressSanitizer
// reports any read past their end; every trace call site runs.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_driver_records.h"
#include "core/vx_flash_images.h"
#include "core/vx_ioctl.h"
#include "core/vx_records.h"
#include "core/vx_sddbg.h"
#include "flash_builder.h"
#include "fw24xx_builder.h"
#include "image/flash_formats.h"
#include "platform/vx_platform.h"
#include "sim_driver.h"
#include "sim_flash.h"
#include "sim_host.h"

using sim::Bytes;

namespace {

constexpr uint16_t kMaker = 0x7A5A;

// A heap buffer of exactly the given bytes.
struct Exact {
    explicit Exact(const Bytes& b) : data(new uint8_t[b.empty() ? 1 : b.size()]), size(b.size()) {
        if (!b.empty()) std::memcpy(data.get(), b.data(), b.size());
    }
    uint8_t* get() const { return data.get(); }
    uint32_t sz() const { return static_cast<uint32_t>(size); }
    std::unique_ptr<uint8_t[]> data;
    size_t size;
};

class FlashImagesTest : public ::testing::Test {
protected:
    void SetUp() override { vx_debug = 0xFFFFFFFF; }
    sim::SimHost host;
};

sim::RomImage with_code(sim::RomImage img, uint8_t code_type) {
    img.code_type = code_type;
    return img;
}

sim::RomImage fcode_with(const std::string& payload) {
    sim::RomImage img = sim::fcode_image(1, 2);
    img.payload = sim::text_bytes(payload);
    return img;
}

// The VPD image of the maker; its code type is none of the boot code types.
sim::RomImage maker_vpd_image(const Bytes& vpd, uint16_t pcir_length = 0x18) {
    sim::RomImage img = with_code(sim::vpd_image(kMaker, vpd, 2), 0x7F);  // room for a 512-byte VPD
    img.pcir_length = pcir_length;
    return img;
}

// The whole walk of vxsysfs_find_optrom_bootcode_versions over a chain, and
// the step it returned at each image.
std::vector<uint32_t> walk_versions(const Exact& buf, EXT_HBA_NODE* node) {
    std::vector<uint32_t> steps;
    size_t offset = 0;
    while (offset < buf.size) {
        const uint32_t n = vxsysfs_find_optrom_bootcode_versions(
            buf.get() + offset, static_cast<uint32_t>(buf.size - offset), node);
        steps.push_back(n);
        if (n == 0) break;
        offset += n;
    }
    return steps;
}

}  // namespace

// ---- boot-code versions of one image ----

TEST_F(FlashImagesTest, BootCodeVersionsOfAChain) {
    const Bytes vpd = sim::typical_vpd().bytes;
    const sim::RomChain chain = sim::build_rom_chain({sim::bios_image(3, 5), sim::fcode_image(2, 1, 3),
                                                      sim::efi_image(1, 17, 1), maker_vpd_image(vpd, 0x1C)});
    const Exact buf(chain.bytes);
    EXT_HBA_NODE node{};
    std::memcpy(node.BIFCodeVersion, "\0\0\xAB\xCD", 4);

    EXPECT_EQ(walk_versions(buf, &node), (std::vector<uint32_t>{1024, 1536, 512, 0}));
    EXPECT_STREQ(reinterpret_cast<const char*>(node.OptRomVersion), "3.05");
    EXPECT_EQ(node.BIFCodeVersion[0], 2);
    EXPECT_EQ(node.BIFCodeVersion[1], 1);
    EXPECT_EQ(node.BIFCodeVersion[2], 0xAB);  // bytes 2 and 3 are not the image's
    EXPECT_EQ(node.BIFCodeVersion[3], 0xCD);
    EXPECT_EQ(node.BIEfiVersion[0], 1);
    EXPECT_EQ(node.BIEfiVersion[1], 17);
    EXPECT_EQ(node.BIValid, EXT_BI_FCODE_VALID | EXT_BI_EFI_VALID);  // none for the BIOS or the VPD image
    EXPECT_EQ(node.BIFwVersion[0], 0);
}

TEST_F(FlashImagesTest, BootCodeVersionsRefuseBadImages) {
    const sim::RomChain chain = sim::build_rom_chain({sim::fcode_image(4, 2)});
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        size_t size;  // of the copy handed over (0: all of it)
        const char* trace;
    };
    const Case cases[] = {
        {"no 55 AA", [](Bytes& b) { b[1] = 0xAB; }, 0, "> Header failed"},
        {"shorter than a header", [](Bytes&) {}, 20, "> Header failed"},
        {"structure past the copy", [&](Bytes& b) { sim::put_le16(b, chain.pcir_offset_field(0), 0x1F0); },
         0x200, "> Offset failed"},
        {"structure cut by the copy", [](Bytes&) {}, 0x1C + 23, "> Offset failed"},
        {"no PCIR", [&](Bytes& b) { b[chain.pcir(0) + 3] = 'X'; }, 0, "> Data failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = chain.bytes;
        c.damage(bytes);
        if (c.size != 0) bytes.resize(c.size);
        const Exact buf(bytes);
        EXT_HBA_NODE node{};
        host.clear_stderr();
        EXPECT_EQ(vxsysfs_find_optrom_bootcode_versions(buf.get(), buf.sz(), &node), 0u);
        EXPECT_EQ(node.BIValid, 0u);
        EXPECT_NE(host.stderr_text().find(c.trace), std::string::npos);
    }
}

// An image that is not the last but has length 0 answers 0, so a walk with
// it ends instead of stepping on the spot.
TEST_F(FlashImagesTest, BootCodeVersionsZeroLengthEndsTheWalk) {
    sim::RomChain chain = sim::build_rom_chain({sim::bios_image(1, 0), sim::efi_image(2, 0)});
    sim::put_le16(chain.bytes, chain.image_length_field(0), 0);
    const Exact buf(chain.bytes);
    EXT_HBA_NODE node{};
    EXPECT_EQ(vxsysfs_find_optrom_bootcode_versions(buf.get(), buf.sz(), &node), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(node.OptRomVersion), "1.00");
}

// ---- chain search ----

TEST_F(FlashImagesTest, FindImageByCodeTypeAndDevice) {
    const Bytes vpd = sim::typical_vpd().bytes;
    sim::RomImage foreign_vpd = with_code(sim::vpd_image(0x1234, vpd), 0x7F);  // another vendor's device 1
    const sim::RomChain chain = sim::build_rom_chain(
        {sim::bios_image(1, 0), foreign_vpd, sim::fcode_image(2, 0), sim::efi_image(3, 0),
         maker_vpd_image(vpd), sim::firmware_image(kMaker, 1, 2, 3)});
    const Exact buf(chain.bytes);
    struct Case {
        const char* name;
        bool by_type;
        uint8_t ctype;
        uint16_t did;
        int found;
        size_t image;  // index of the image found
    };
    const Case cases[] = {
        {"BIOS", true, VXIMG_CODE_X86, 0, 1, 0},
        {"FCode", true, VXIMG_CODE_FCODE, 0, 1, 2},
        {"EFI", true, VXIMG_CODE_EFI, 0, 1, 3},
        {"no such code type", true, 2, 0, 0, 0},
        {"maker's VPD image", false, 0, VXIMG_DEVICE_VPD, 1, 4},
        {"firmware image", false, 0, VXIMG_DEVICE_FIRMWARE, 1, 5},
        {"no such device", false, 0, 0x0002, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t marker = 0;
        uint8_t* const sentinel = &marker;
        uint8_t* cptr = sentinel;
        uint8_t* dptr = sentinel;
        uint32_t nimages = 99;
        const int32_t r = c.by_type
                              ? vxapi_find_image(buf.get(), buf.sz(), c.ctype, &cptr, 0, nullptr, &nimages)
                              : vxapi_find_image(buf.get(), buf.sz(), 0, nullptr, c.did, &dptr, &nimages);
        EXPECT_EQ(r, c.found);
        EXPECT_EQ(nimages, 6u);  // the walk goes on after a match
        uint8_t* const got = c.by_type ? cptr : dptr;
        EXPECT_EQ(got, c.found ? buf.get() + chain.offsets[c.image] : sentinel);
    }
}

// A search for code type 1 in BIOS, FCode, EFI (the last bit on EFI) finds
// the second image and counts three, whatever follows the chain.
TEST_F(FlashImagesTest, FindImageStopsAtTheLastImage) {
    sim::RomChain chain =
        sim::build_rom_chain({sim::bios_image(1, 0), sim::fcode_image(2, 0), sim::efi_image(3, 0)});
    sim::place(chain.bytes, chain.end, sim::build_rom_image(sim::fcode_image(9, 9), true));
    const Exact buf(chain.bytes);
    uint8_t* cptr = nullptr;
    uint32_t nimages = 0;
    EXPECT_EQ(vxapi_find_image(buf.get(), buf.sz(), VXIMG_CODE_FCODE, &cptr, 0, nullptr, &nimages), 1);
    EXPECT_EQ(cptr, buf.get() + chain.offsets[1]);
    EXPECT_EQ(nimages, 3u);
}

// Damaged chains end cleanly where the damage is; what lies before it is
// still found and counted, nothing at or behind it is.
TEST_F(FlashImagesTest, FindImageOnDamagedChains) {
    const std::vector<sim::RomImage> images = {sim::bios_image(1, 0), sim::fcode_image(2, 0),
                                               sim::efi_image(3, 0)};
    struct Case {
        const char* name;
        std::function<void(sim::RomChain&)> damage;
        uint32_t count;
    };
    const Case cases[] = {
        {"not 55 AA at the start", [](sim::RomChain& c) { c.bytes[0] = 0; }, 0},
        {"zero length on a middle image",
         [](sim::RomChain& c) { sim::put_le16(c.bytes, c.image_length_field(1), 0); }, 1},
        {"zero length on the first image",
         [](sim::RomChain& c) { sim::put_le16(c.bytes, c.image_length_field(0), 0); }, 0},
        {"structure offset past the end",
         [](sim::RomChain& c) { sim::put_le16(c.bytes, c.pcir_offset_field(2), 0xFFF0); }, 2},
        {"no PCIR on the second image", [](sim::RomChain& c) { c.bytes[c.pcir(1)] = 'Q'; }, 1},
        {"length runs past the end",
         [](sim::RomChain& c) { sim::put_le16(c.bytes, c.image_length_field(1), 0xFFFF); }, 2},
        {"no last bit at the buffer's end", [](sim::RomChain& c) { c.bytes[c.indicator_field(2)] = 0; }, 3},
        {"cut inside the last header", [](sim::RomChain& c) { c.bytes.resize(c.offsets[2] + 10); }, 2},
        {"cut inside the last structure", [](sim::RomChain& c) { c.bytes.resize(c.pcir(2) + 20); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::RomChain chain = sim::build_rom_chain(images);
        c.damage(chain);
        const Exact buf(chain.bytes);
        for (uint8_t type : {VXIMG_CODE_X86, VXIMG_CODE_FCODE, VXIMG_CODE_EFI}) {
            SCOPED_TRACE(static_cast<int>(type));
            uint8_t* cptr = nullptr;
            uint32_t nimages = 99;
            const int32_t r = vxapi_find_image(buf.get(), buf.sz(), type, &cptr, 0, nullptr, &nimages);
            EXPECT_EQ(nimages, c.count);
            const size_t index = type == VXIMG_CODE_X86 ? 0 : type == VXIMG_CODE_FCODE ? 1 : 2;
            EXPECT_EQ(r, index < c.count ? 1 : 0);
            EXPECT_EQ(cptr, index < c.count ? buf.get() + chain.offsets[index] : nullptr);
        }
    }
}

TEST_F(FlashImagesTest, FindImageTracesAPcirMismatch) {
    sim::RomChain chain = sim::build_rom_chain({sim::bios_image(1, 0)});
    chain.bytes[chain.pcir(0) + 1] = 'X';
    const Exact buf(chain.bytes);
    uint32_t nimages = 7;
    EXPECT_EQ(vxapi_find_image(buf.get(), buf.sz(), 0, nullptr, 0, nullptr, &nimages), 0);
    EXPECT_EQ(nimages, 0u);
    EXPECT_NE(host.stderr_text().find("PCI data signature does not match\n"), std::string::npos);
}

// ---- VPD ----

TEST_F(FlashImagesTest, VpdBehindTheVpdImagesStructure) {
    const Bytes vpd = sim::typical_vpd().bytes;
    const sim::RomChain chain =
        sim::build_rom_chain({sim::bios_image(1, 0), maker_vpd_image(vpd, 0x1C), sim::efi_image(1, 0)});
    const Exact buf(chain.bytes);
    uint8_t* vpdbuf = nullptr;
    ASSERT_EQ(vxapi_find_vpd_image(buf.get(), buf.sz(), &vpdbuf, nullptr), 1);
    EXPECT_EQ(vpdbuf, buf.get() + chain.pcir(1) + 0x1C);
    EXPECT_EQ(0, std::memcmp(vpdbuf, vpd.data(), vpd.size()));
}

TEST_F(FlashImagesTest, VpdOfASingleBiosRom) {
    const Bytes vpd = sim::typical_vpd().bytes;
    const Bytes rom = sim::build_bios_only_rom(2, 10, vpd);
    {
        const Exact buf(rom);
        uint8_t* vpdbuf = nullptr;
        ASSERT_EQ(vxapi_find_vpd_image(buf.get(), buf.sz(), &vpdbuf, nullptr), 1);
        EXPECT_EQ(vpdbuf, buf.get() + 0x1FE00);
    }
    struct Case {
        const char* name;
        Bytes bytes;
    };
    Bytes no_tag = rom;
    no_tag[0x1FE00] = 0x90;
    Bytes two_images = sim::build_rom_chain({sim::bios_image(1, 0), sim::efi_image(1, 0)}).bytes;
    two_images.resize(0x20000, 0);
    two_images[0x1FE00] = 0x82;
    Bytes fcode_only = rom;
    fcode_only[sim::get_le16(rom, 0x18) + 0x14] = VXIMG_CODE_FCODE;
    const Case cases[] = {
        {"short copy", Bytes(rom.begin(), rom.end() - 1)},
        {"copy ends inside the VPD", Bytes(rom.begin(), rom.begin() + 0x1FE01)},
        {"copy ends before the VPD", Bytes(rom.begin(), rom.begin() + 0x1000)},
        {"no identifier tag", no_tag},
        {"two images", two_images},
        {"single image is not a BIOS", fcode_only},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Exact buf(c.bytes);
        uint8_t* vpdbuf = buf.get();
        EXPECT_EQ(vxapi_find_vpd_image(buf.get(), buf.sz(), &vpdbuf, nullptr), 0);
        EXPECT_EQ(vpdbuf, nullptr);
    }
}

TEST_F(FlashImagesTest, VpdImageWithoutAUsableVpd) {
    const Bytes vpd = sim::typical_vpd().bytes;
    struct Case {
        const char* name;
        sim::RomImage image;
        size_t cut;  // bytes of the chain kept (0: all)
    };
    const Case cases[] = {
        {"VPD does not start with 0x82", maker_vpd_image(Bytes{0x90, 0x00, 0x00, 0x78}), 0},
        {"structure length past the copy", maker_vpd_image(vpd, 0xFF00), 0x400},
        {"copy ends at the VPD's start", maker_vpd_image(vpd), 0x1C + 0x18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = sim::build_rom_chain({c.image}).bytes;
        if (c.cut != 0) bytes.resize(c.cut);
        const Exact buf(bytes);
        uint8_t* vpdbuf = buf.get();
        EXPECT_EQ(vxapi_find_vpd_image(buf.get(), buf.sz(), &vpdbuf, nullptr), 0);
        EXPECT_EQ(vpdbuf, nullptr);
    }
}

// ---- 24xx firmware ----

TEST_F(FlashImagesTest, Find24xxFirmwareInARegionAndInWholeFlash) {
    const Bytes fw = sim::build_24xx_fw({});
    {
        const Exact buf(fw);
        uint32_t* pfw = nullptr;
        EXPECT_EQ(vxapi_find_24xx_fw(buf.get(), buf.sz(), &pfw, 1), 1);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(pfw), buf.get());
        // Read as whole flash, the copy is too short to reach 0x80000.
        EXPECT_EQ(vxapi_find_24xx_fw(buf.get(), buf.sz(), &pfw, 0), 0);
    }
    Bytes flash = sim::blank_flash(0x80000);
    sim::place(flash, 0x80000, fw);
    const Exact buf(flash);
    uint32_t* pfw = nullptr;
    EXPECT_EQ(vxapi_find_24xx_fw(buf.get(), buf.sz(), &pfw, 0), 1);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(pfw), buf.get() + 0x80000);
    EXPECT_EQ(vxapi_find_24xx_fw(buf.get(), buf.sz(), &pfw, 1), 0);  // erased flash at 0
}

TEST_F(FlashImagesTest, Bad24xxFirmwareIsNotFound) {
    struct Case {
        const char* name;
        sim::Fw24xx fw;
        size_t cut;  // bytes kept
    };
    constexpr size_t kAll = SIZE_MAX;
    auto fw = [](auto change) {
        sim::Fw24xx f;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"first segment sums to 1", fw([](sim::Fw24xx& f) { f.sum_error1 = 1; }), kAll},
        {"second segment sums to 1", fw([](sim::Fw24xx& f) { f.sum_error2 = 1; }), kAll},
        {"first length 0", fw([](sim::Fw24xx& f) { f.length_word1 = 0; }), kAll},
        {"first length too short for the version", fw([](sim::Fw24xx& f) { f.length_word1 = 6; }), kAll},
        // 4 * L1 is 4 in 32 bits: a wrapped sum would call it small.
        {"first length wraps in 32 bits", fw([](sim::Fw24xx& f) { f.length_word1 = 0x40000001; }), kAll},
        {"first length all ones", fw([](sim::Fw24xx& f) { f.length_word1 = 0xFFFFFFFF; }), kAll},
        {"second length 0", fw([](sim::Fw24xx& f) { f.length_word2 = 0; }), kAll},
        {"second length wraps in 32 bits", fw([](sim::Fw24xx& f) { f.length_word2 = 0x3FFFFFC0 + 1; }), kAll},
        {"second length past the end", fw([](sim::Fw24xx& f) { f.length_word2 = f.words2 + 1; }), kAll},
        // The first segment fills the copy but for 12 bytes: no room for word 3 of the second.
        {"no room for the second header", fw([](sim::Fw24xx& f) { f.words2 = 4; }), 64 * 4 + 12},
        {"copy shorter than a header", {}, 15},
        {"empty copy", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = sim::build_24xx_fw(c.fw);
        if (c.cut != kAll) bytes.resize(c.cut);
        const Exact buf(bytes);
        uint32_t* pfw = nullptr;
        EXPECT_EQ(vxapi_find_24xx_fw(buf.get(), buf.sz(), &pfw, 1), 0);
        EXPECT_EQ(pfw, nullptr);
        char text[16];
        std::memset(text, '#', sizeof text);
        uint32_t len = 77;
        EXPECT_EQ(vxapi_get_24xx_fw_version(buf.get(), buf.sz(), text, sizeof text, &len, 1), 0);
        EXPECT_EQ(std::string(text, sizeof text), std::string(16, '#'));  // nothing written
        EXPECT_EQ(len, 77u);
    }
}

TEST_F(FlashImagesTest, Firmware24xxVersionTexts) {
    struct Case {
        uint32_t major, minor, subminor;
        const char* text;
    };
    const Case cases[] = {
        {10, 3, 7, "10.03.07"},
        {123, 4, 5, "123.04.05"},
        {8, 2, 5, " 8.02.05"},
        {0, 0, 0, " 0.00.00"},
        {99, 100, 1000, "99.100.1000"},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, "-01.-01.-01"},  // the words are printed as signed numbers
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        sim::Fw24xx f;
        f.major = c.major;
        f.minor = c.minor;
        f.subminor = c.subminor;
        const Exact buf(sim::build_24xx_fw(f));
        char text[16] = {};
        uint32_t len = 0;
        EXPECT_EQ(vxapi_get_24xx_fw_version(buf.get(), buf.sz(), text, sizeof text, &len, 1), 1);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(len, std::strlen(c.text));
        // Without a length out.
        EXPECT_EQ(vxapi_get_24xx_fw_version(buf.get(), buf.sz(), text, sizeof text, nullptr, 1), 1);
    }
}

// Words from the image never write past the caller's text: a version that
// does not fit (with its NUL) is not reported.
TEST_F(FlashImagesTest, Firmware24xxVersionNeverOverflowsTheText) {
    struct Case {
        uint32_t major, minor, subminor;
        uint32_t size;
        int found;
        const char* text;
    };
    const Case cases[] = {
        {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 16, 0, ""},
        {0x80000000, 0x80000000, 0x80000000, 20, 0, ""},
        {0x80000000, 0x80000000, 0x80000000, 40, 1, "-2147483648.-2147483648.-2147483648"},
        {123, 4, 5, 9, 0, ""},  // "123.04.05" needs 10 bytes
        {123, 4, 5, 10, 1, "123.04.05"},
        {1, 2, 3, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        sim::Fw24xx f;
        f.major = c.major;
        f.minor = c.minor;
        f.subminor = c.subminor;
        const Exact buf(sim::build_24xx_fw(f));
        std::vector<char> text(c.size + 8, '#');
        uint32_t len = 77;
        EXPECT_EQ(vxapi_get_24xx_fw_version(buf.get(), buf.sz(), text.data(), c.size, &len, 1), c.found);
        for (size_t i = c.size; i < text.size(); ++i) EXPECT_EQ(text[i], '#') << i;
        if (c.found) {
            EXPECT_STREQ(text.data(), c.text);
            EXPECT_EQ(len, std::strlen(c.text));
        } else {
            EXPECT_EQ(len, 77u);
            EXPECT_EQ(std::string(text.data(), text.size()), std::string(text.size(), '#'));
        }
    }
}

// ---- firmware image version ----

TEST_F(FlashImagesTest, FirmwareImageVersionText) {
    struct Case {
        const char* name;
        uint16_t major, minor, subminor;
        uint32_t size;
        bool compressed;
        int32_t result;
        const char* text;
    };
    const Case cases[] = {
        {"plain", 1, 2, 3, 20, true, 0, "\"001.002.003\""},
        {"exact fit", 4, 50, 600, 14, true, 0, "\"004.050.600\""},
        {"no room for the NUL", 4, 50, 600, 13, true, 1, nullptr},
        {"widest", 65535, 65535, 65535, 20, true, 0, "\"65535.65535.65535\""},
        {"widest in 16 bytes", 65535, 65535, 65535, 16, true, 1, nullptr},
        {"uncompressed", 1, 2, 3, 20, false, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::RomImage fw = sim::firmware_image(kMaker, c.major, c.minor, c.subminor);
        if (!c.compressed) sim::put_le16(fw.payload, 0, 0x4C5A);
        const Exact buf(sim::build_rom_chain({sim::bios_image(1, 0), fw}).bytes);
        std::vector<char> text(c.size + 4, '#');
        EXPECT_EQ(vxapi_get_fw_version(buf.get(), buf.sz(), text.data(), c.size, nullptr), c.result);
        if (c.text != nullptr) {
            EXPECT_STREQ(text.data(), c.text);
        } else {
            EXPECT_EQ(std::string(text.data(), text.size()), std::string(text.size(), '#'));
        }
        for (size_t i = c.size; i < text.size(); ++i) EXPECT_EQ(text[i], '#');
    }
}

TEST_F(FlashImagesTest, FirmwareImageVersionNotFound) {
    char text[20];
    // No firmware image; another vendor's device 3.
    {
        const Exact buf(
            sim::build_rom_chain({sim::bios_image(1, 0), sim::firmware_image(0x1234, 1, 2, 3)}).bytes);
        EXPECT_EQ(vxapi_get_fw_version(buf.get(), buf.sz(), text, sizeof text, nullptr), 1);
        EXPECT_NE(host.stderr_text().find("vxapi_get_fw_version: Firmware Image does not exist"),
                  std::string::npos);
    }
    // The copy ends inside the firmware header, before the major number.
    {
        const sim::RomChain chain = sim::build_rom_chain({sim::firmware_image(kMaker, 1, 2, 3)});
        Bytes bytes = chain.bytes;
        bytes.resize(chain.pcir(0) + 0x18 + 17);
        const Exact buf(bytes);
        EXPECT_EQ(vxapi_get_fw_version(buf.get(), buf.sz(), text, sizeof text, nullptr), 1);
    }
}

// ---- FCode version ----

TEST_F(FlashImagesTest, FcodeVersionTexts) {
    struct Case {
        const char* name;
        std::string payload;
        int32_t result;
        std::string version;
    };
    const Case cases[] = {
        {"version and date", " 1.2a 05/07/09", 0, "1.2a"},
        {"words around", "FCode Driver 3.10 1/7/2009 more", 0, "3.10"},
        {"two characters", " v1 05/07/09", 0, "v1"},
        {"eighteen characters", " 123456789012345678 05/07/09", 0, "123456789012345678"},
        {"empty version", " x  05/07/09", 0, ""},
        {"one character", " a 05/07/09", 1, ""},
        {"nineteen characters", " 1234567890123456789 05/07/09", 1, ""},
        {"no date", " 1.2a 050709 and more text", 1, ""},
        {"one slash", " 1.2a 05/0709", 1, ""},
        {"no space before the version", "1.2a 05/07/09", 1, ""},
        {"no space before the date", " 1.2a05/07/09", 1, ""},
        {"date past the first 256 bytes", std::string(300, ' ') + "1.2a 05/07/09", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Exact buf(sim::build_rom_chain({sim::bios_image(1, 0), fcode_with(c.payload)}).bytes);
        char vstr[20];
        std::memset(vstr, '#', sizeof vstr);
        EXPECT_EQ(vxapi_get_fcode_version(buf.get(), buf.sz(), vstr), c.result);
        const std::string quoted = "\"" + c.version + "\"";
        if (c.result == 0) {
            EXPECT_EQ(std::string(vstr, quoted.size()), quoted);
            // No NUL behind the closing quote.
            EXPECT_EQ(std::string(vstr + quoted.size(), sizeof vstr - quoted.size()),
                      std::string(sizeof vstr - quoted.size(), '#'));
        } else {
            EXPECT_EQ(std::string(vstr, sizeof vstr), std::string(sizeof vstr, '#'));
        }

        char plain[18];
        std::memset(plain, '#', sizeof plain);
        uint32_t len = 77;
        EXPECT_EQ(vxapi_get_24xx_fcode_version(buf.get(), buf.sz(), plain, &len), c.result);
        if (c.result == 0) {
            EXPECT_EQ(len, c.version.size());
            EXPECT_EQ(std::string(plain, len), c.version);
            if (len < sizeof plain) {
                EXPECT_EQ(plain[len], '#');
            }
        } else {
            EXPECT_EQ(len, 77u);
        }
    }
}

TEST_F(FlashImagesTest, FcodeVersionWithoutAnFcodeImage) {
    const Exact buf(sim::build_rom_chain({sim::bios_image(1, 0), sim::efi_image(1, 0)}).bytes);
    char vstr[20] = {};
    uint32_t len = 0;
    EXPECT_EQ(vxapi_get_fcode_version(buf.get(), buf.sz(), vstr), 1);
    EXPECT_EQ(vxapi_get_24xx_fcode_version(buf.get(), buf.sz(), vstr, &len), 1);
}

// The scan for the date and the look back for spaces stay within the copy,
// however it ends.
TEST_F(FlashImagesTest, FcodeScanStaysInsideTheCopy) {
    const sim::RomChain chain = sim::build_rom_chain({fcode_with(" 1.2a 05/07/09")});
    const size_t payload = chain.pcir(0) + 0x18;
    struct Case {
        size_t keep;  // bytes of the payload kept
        int32_t result;
    };
    const Case cases[] = {
        {0, 1},  {1, 1},  {7, 1},  // ends before the first slash
        {8, 1},                    // the first slash is the last byte
        {9, 1},                    // one byte behind it
        {10, 1}, {11, 1},          // "05/0" and "05/07": the second slash not there yet
        {12, 0},                   // "05/07/"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keep);
        Bytes bytes = chain.bytes;
        bytes.resize(payload + c.keep);
        const Exact buf(bytes);
        char vstr[20] = {};
        EXPECT_EQ(vxapi_get_fcode_version(buf.get(), buf.sz(), vstr), c.result);
    }
    // A slash at the last scanned byte, and the second slash two bytes on,
    // past the 256 bytes: found when the copy holds it, else not.
    const sim::RomChain late = sim::build_rom_chain({fcode_with(" 1.2a " + std::string(249, 'x') + "/3/")});
    for (size_t keep : {size_t{258}, size_t{257}}) {
        SCOPED_TRACE(keep);
        Bytes bytes = late.bytes;
        bytes.resize(late.pcir(0) + 0x18 + keep);
        const Exact buf(bytes);
        char vstr[20] = {};
        EXPECT_EQ(vxapi_get_fcode_version(buf.get(), buf.sz(), vstr), keep == 258 ? 0 : 1);
        if (keep == 258) {
            EXPECT_EQ(std::string(vstr, 6), "\"1.2a\"");
        }
    }
}

// ---- boot-code versions from a port's flash ----

namespace {

constexpr uint32_t kFwCookie = 0x40400003;

class FlashVersionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        vx_debug = 0xFFFFFFFF;
        driver.attach(host);
        adapter = &driver.add_adapter();
        adapter->device_id = 0x8021;
        driver.add_port(*adapter);
        adapter->flash = sim::blank_flash(0x200000);
        sim::install_flash(driver);
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override { vx::sys().close(fd); }

    void place_fw_header(uint32_t cookie, const Bytes& version) {
        Bytes hdr(32, 0);
        sim::put_le32(hdr, 0, cookie);
        std::copy(version.begin(), version.end(), hdr.begin() + 4);
        sim::place(adapter->flash, 0x100000, hdr);
    }

    std::vector<uint32_t> read_offsets() const {
        std::vector<uint32_t> offsets;
        for (const sim::SimLogEntry& e : driver.log()) {
            if (e.command == EXT_CC_READ_OPTROM) offsets.push_back(e.reserved1);
        }
        return offsets;
    }

    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimAdapter* adapter = nullptr;
    int fd = -1;
};

}  // namespace

TEST_F(FlashVersionsTest, VersionsFromTheChainAndTheFirmwareHeader) {
    const sim::RomChain chain =
        sim::build_rom_chain({sim::bios_image(2, 7), sim::fcode_image(3, 1, 4), sim::efi_image(5, 9, 3)});
    sim::place(adapter->flash, 0x80000, chain.bytes);
    place_fw_header(kFwCookie, {8, 2, 0x34, 0x12});
    for (bool new_header : {true, false}) {
        SCOPED_TRACE(new_header ? "new header" : "old header");
        driver.clear_log();
        vxapi_priv_database rec{};
        rec.features = new_header ? VX_FEAT_NEW_IOCTL : 0;
        EXT_HBA_NODE node{};
        node.BIValid = EXT_BI_PEP_VALID;
        vxapi_read_flash_versions(fd, &rec, &node);

        EXPECT_STREQ(reinterpret_cast<const char*>(node.OptRomVersion), "2.07");
        EXPECT_EQ(node.BIFCodeVersion[0], 3);
        EXPECT_EQ(node.BIFCodeVersion[1], 1);
        EXPECT_EQ(node.BIEfiVersion[0], 5);
        EXPECT_EQ(node.BIEfiVersion[1], 9);
        EXPECT_EQ(node.BIFwVersion[0], 8);
        EXPECT_EQ(node.BIFwVersion[1], 2);
        EXPECT_EQ(node.BIFwVersion[2], 0x34);
        EXPECT_EQ(node.BIFwVersion[3], 0x12);
        EXPECT_EQ(node.BIValid, EXT_BI_PEP_VALID | EXT_BI_FCODE_VALID | EXT_BI_EFI_VALID | EXT_BI_FW_VALID);
        EXPECT_EQ(read_offsets(), (std::vector<uint32_t>{0x80000, 0x80400, 0x80C00, 0x100000}));
        for (const sim::SimLogEntry& e : driver.log()) EXPECT_EQ(e.new_layout, new_header);
    }
}

TEST_F(FlashVersionsTest, AnotherFirmwareCookieLeavesTheFirmwareVersion) {
    sim::place(adapter->flash, 0x80000, sim::build_rom_chain({sim::efi_image(1, 2)}).bytes);
    place_fw_header(0x40400004, {8, 2, 5, 0});
    vxapi_priv_database rec{};
    rec.features = VX_FEAT_NEW_IOCTL;
    EXT_HBA_NODE node{};
    vxapi_read_flash_versions(fd, &rec, &node);
    EXPECT_EQ(node.BIValid, EXT_BI_EFI_VALID);
    EXPECT_EQ(node.BIFwVersion[0], 0);
    EXPECT_NE(host.stderr_text().find("vxapi_read_flash_versions: Flash FW version read failed\n"),
              std::string::npos);
}

// Nothing at 0x80000 and nothing at 0x100000 (first bytes 0): nothing changes.
TEST_F(FlashVersionsTest, ZeroFirstBytesEndBothSteps) {
    std::fill(adapter->flash.begin(), adapter->flash.end(), 0);
    vxapi_priv_database rec{};
    EXT_HBA_NODE node{};
    vxapi_read_flash_versions(fd, &rec, &node);
    EXT_HBA_NODE untouched{};
    EXPECT_EQ(std::memcmp(&node, &untouched, sizeof node), 0);
    EXPECT_EQ(read_offsets(), (std::vector<uint32_t>{0x80000, 0x100000}));
}

// A failed read leaves the chunk zeroed, which ends the walk.
TEST_F(FlashVersionsTest, FailedReadsEndTheWalk) {
    sim::place(adapter->flash, 0x80000,
               sim::build_rom_chain({sim::bios_image(1, 0), sim::efi_image(1, 2)}).bytes);
    place_fw_header(kFwCookie, {1, 2, 3, 4});
    driver.inject_errno(EIO, 1);
    vxapi_priv_database rec{};
    EXT_HBA_NODE node{};
    vxapi_read_flash_versions(fd, &rec, &node);
    EXPECT_EQ(node.OptRomVersion[0], 0);
    EXPECT_EQ(node.BIValid, EXT_BI_FW_VALID);
    EXPECT_EQ(read_offsets(), (std::vector<uint32_t>{0x80000, 0x100000}));
}

// A chain without a last image that runs on through the firmware header is
// not followed past 0x100000.
TEST_F(FlashVersionsTest, WalkStopsAtTheFirmwareHeader) {
    for (uint32_t at = 0x80000; at < 0x200000; at += 0x10000) {
        const sim::RomImage img = sim::bios_image(static_cast<uint8_t>(at >> 16), 0, 0x80);
        sim::place(adapter->flash, at, sim::build_rom_image(img, false));
    }
    vxapi_priv_database rec{};
    EXT_HBA_NODE node{};
    vxapi_read_flash_versions(fd, &rec, &node);
    std::vector<uint32_t> expected;
    for (uint32_t at = 0x80000; at < 0x100000; at += 0x10000) expected.push_back(at);
    expected.push_back(0x100000);
    EXPECT_EQ(read_offsets(), expected);
    EXPECT_STREQ(reinterpret_cast<const char*>(node.OptRomVersion), "15.00");
    EXPECT_EQ(node.BIValid, 0u);  // the image at 0x100000 carries no firmware cookie
}

// The version texts of firmware and FCode: the firmware image's header, the
// 24xx firmware's segments and the FCode image's version word. Every text
// goes into a heap buffer of exactly the size the function is given.
//
// Input: a mode byte, then the buffer. Mode bit 0 puts the buffer at byte
// 0x80000 of a copy of the whole flash, where the 24xx firmware is looked
// for when the copy is not the firmware region alone.
#include <cstring>

#include "core/vx_flash_images.h"
#include "core/vx_layout.h"
#include "fuzz_support.h"
#include "fw24xx_builder.h"

namespace {

constexpr uint8_t kWholeFlash = 0x01;
constexpr size_t kFirmwareAt = 0x80000;

// A text buffer of exactly n bytes.
struct Text {
    explicit Text(size_t n) : data(new char[n]), size(n) { std::memset(data.get(), '#', n); }
    std::unique_ptr<char[]> data;
    size_t size;
};

void firmware_texts(const fuzz::Buffer& buf, uint32_t region) {
    for (const size_t size : {40u, 12u}) {
        Text text(size);
        if (vxapi_get_fw_version(buf.data(), buf.size(), text.data.get(), size, nullptr) == 0) {
            FUZZ_CHECK(strnlen(text.data.get(), size) < size);
        }
        Text text24(size);
        uint32_t len = 0;
        if (vxapi_get_24xx_fw_version(buf.data(), buf.size(), text24.data.get(), size, &len, region) == 1) {
            FUZZ_CHECK(len < size && strnlen(text24.data.get(), size) == len);
        }
    }
}

void fcode_texts(const fuzz::Buffer& buf) {
    Text quoted(20);  // what callers pass
    if (vxapi_get_fcode_version(buf.data(), buf.size(), quoted.data.get()) == 0) {
        FUZZ_CHECK(quoted.data[0] == '"');
    }
    Text plain(18);
    uint32_t len = 0;
    if (vxapi_get_24xx_fcode_version(buf.data(), buf.size(), plain.data.get(), &len) == 0) {
        FUZZ_CHECK(len <= 18);
    }
}

sim::RomImage fcode_with(const std::string& payload) {
    sim::RomImage img = sim::fcode_image(1, 2);
    img.payload = sim::text_bytes(payload);
    return img;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    using namespace sim;
    Fw24xx fw;
    fw.major = 8;
    fw.minor = 2;
    fw.subminor = 5;
    return {
        join(0, {build_rom_chain({bios_image(1, 0), fcode_with("FCode Driver 3.10 1/7/2009 more"),
                                  firmware_image(VX_PCI_VENDOR_MAKER, 8, 2, 5)})
                     .bytes}),
        join(0, {build_rom_chain({fcode_with(" 1.2a " + std::string(249, 'x') + "/3/")}).bytes}),
        join(0, {build_24xx_fw(fw)}),
        join(kWholeFlash, {build_24xx_fw(fw)}),
    };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint8_t mode = in.byte();
    fuzz::Bytes image = in.rest();
    uint32_t region = 1;  // the firmware region alone
    if ((mode & kWholeFlash) != 0) {
        image.insert(image.begin(), kFirmwareAt, 0xFF);
        region = 0;
    }
    const fuzz::Buffer buf(image);
    fuzz::Traced traced(fuzz::host());
    firmware_texts(buf, region);
    fcode_texts(buf);
    return 0;
}

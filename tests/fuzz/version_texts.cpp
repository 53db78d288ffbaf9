// The version texts of firmware, 24xx firmware and FCode, each into a heap
// buffer of exactly the size the function is given.
// Input: a mode byte, then the buffer. Mode bit 0 puts it at 0x80000 of a
// copy of the whole flash.
#include "base/vx_flash_images.h"
#include "base/vx_layout.h"
#include "fuzz_support.h"
#include "fw24xx_builder.h"

namespace {

void firmware_texts(const fuzz::Buffer& buf, uint32_t region) {
    for (const size_t size : {40u, 12u}) {
        const fuzz::Buffer text(size, '#');
        if (vxapi_get_fw_version(buf.data(), buf.size(), text.chars(), size, nullptr) == 0) {
            FUZZ_CHECK(text.terminated());
        }
        const fuzz::Buffer text24(size, '#');
        uint32_t len = 0;
        if (vxapi_get_24xx_fw_version(buf.data(), buf.size(), text24.chars(), size, &len, region) == 1) {
            FUZZ_CHECK(len < size && strnlen(text24.chars(), size) == len);
        }
    }
}

void fcode_texts(const fuzz::Buffer& buf) {
    const fuzz::Buffer quoted(20, '#');  // what callers pass
    if (vxapi_get_fcode_version(buf.data(), buf.size(), quoted.chars()) == 0) FUZZ_CHECK(quoted.chars()[0] == '"');
    const fuzz::Buffer plain(18, '#');
    uint32_t len = 0;
    if (vxapi_get_24xx_fcode_version(buf.data(), buf.size(), plain.chars(), &len) == 0) FUZZ_CHECK(len <= 18);
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
    fw.major = 8, fw.minor = 2, fw.subminor = 5;
    return {
        join(0, {build_rom_chain({bios_image(1, 0), fcode_with("FCode Driver 3.10 1/7/2009 more"),
                                  firmware_image(VX_PCI_VENDOR_MAKER, 8, 2, 5)})
                     .bytes}),
        join(0, {build_rom_chain({fcode_with(" 1.2a " + std::string(249, 'x') + "/3/")}).bytes}),
        join(0, {build_24xx_fw(fw)}),
        join(1, {build_24xx_fw(fw)}),
    };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const bool whole_flash = (in.byte() & 1) != 0;
    fuzz::Bytes image = in.rest();
    if (whole_flash) image.insert(image.begin(), 0x80000, 0xFF);
    const fuzz::Buffer buf(image);
    fuzz::Traced traced;
    firmware_texts(buf, whole_flash ? 0 : 1);  // region 1: the firmware region alone
    fcode_texts(buf);
    return 0;
}

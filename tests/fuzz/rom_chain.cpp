// The PCI expansion ROM chain: the walker (with and without an image layout
// header), the image, VPD and 24xx firmware finders and the boot-code versions.
// Input: a mode byte, then the buffer. Mode bit 0 makes a 128 KiB erased ROM
// with a first part at its start and the rest in its last 512 bytes (the VPD
// of a one-BIOS ROM).
#include "base/vx_driver_records.h"
#include "base/vx_flash_images.h"
#include "base/vx_layout.h"
#include "fuzz_support.h"
#include "image/flash_formats.h"

namespace {

// The header and the data structure of every image lie within the buffer,
// and the walk only moves on.
void walk(const fuzz::Buffer& buf, bool skip_vfim) {
    vximg_rom_walker w;
    vximg_rom_walk_init(&w, buf.data(), buf.size(), 0, skip_vfim);
    vximg_rom_image img;
    size_t next = 0;
    while (vximg_rom_walk_next(&w, &img)) {
        FUZZ_CHECK(img.offset + sizeof(INT_PCI_ROM_HEADER) <= buf.size());
        FUZZ_CHECK(img.pcir_offset + sizeof(INT_PCI_DATA_STRUCT) <= buf.size());
        FUZZ_CHECK(img.offset >= next);
        next = img.offset + 1;
    }
    FUZZ_CHECK(w.result != VXIMG_ROM_OK);
}

// The image a finder returned lies in the buffer and is a sound image.
void expect_image(const fuzz::Buffer& buf, const uint8_t* image) {
    FUZZ_CHECK(image >= buf.data() && image < buf.data() + buf.size());
    vximg_rom_image img;
    FUZZ_CHECK(vximg_rom_image_at(buf.data(), buf.size(), size_t(image - buf.data()), &img) == VXIMG_ROM_OK);
}

void find_images(const fuzz::Buffer& buf) {
    uint32_t images = 0;
    uint8_t* found = nullptr;
    for (const uint8_t type : {VXIMG_CODE_X86, VXIMG_CODE_FCODE, VXIMG_CODE_EFI}) {
        if (vxapi_find_image(buf.data(), buf.size(), type, &found, 0, nullptr, &images) == 1) expect_image(buf, found);
    }
    for (const uint16_t device : {VXIMG_DEVICE_VPD, VXIMG_DEVICE_FIRMWARE}) {
        if (vxapi_find_image(buf.data(), buf.size(), 0, nullptr, device, &found, &images) == 1) {
            expect_image(buf, found);
        }
    }
    uint8_t* vpd = nullptr;
    if (vxapi_find_vpd_image(buf.data(), buf.size(), &vpd, nullptr) == 1) {
        FUZZ_CHECK(vpd >= buf.data() && vpd < buf.data() + buf.size() && vpd[0] == VXIMG_VPD_TAG_IDENT);
    }
    for (const uint32_t region : {1u, 0u}) {
        uint32_t* fw = nullptr;
        if (vxapi_find_24xx_fw(buf.data(), buf.size(), &fw, region) == 1) {
            FUZZ_CHECK(reinterpret_cast<uint8_t*>(fw) >= buf.data());
        }
    }
    // The boot-code versions, as the flash reader steps along the chain.
    EXT_HBA_NODE node{};
    for (uint32_t at = 0, n = 1; at < buf.size() && n != 0; at += n) {
        n = vxsysfs_find_optrom_bootcode_versions(buf.data() + at, buf.size() - at, &node);
    }
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    using namespace sim;
    const Bytes vpd = typical_vpd().bytes;
    const Bytes rom = build_bios_only_rom(1, 7, vpd);
    return {
        join(0, {build_rom_chain({bios_image(3, 1), fcode_image(4, 2), efi_image(5, 3)}).bytes}),
        join(0, {build_rom_chain({bios_image(2, 10, 1), vpd_image(VX_PCI_VENDOR_MAKER, vpd),
                                  firmware_image(VX_PCI_VENDOR_MAKER, 8, 2, 5)},
                                 0x200)
                     .bytes}),
        join(1, {Bytes(rom.begin(), rom.begin() + 1024), Bytes(rom.begin() + VXIMG_BIOS_VPD_OFFSET, rom.end())}),
    };
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    fuzz::Bytes image;
    if ((in.byte() & 1) != 0) {
        image.assign(VXIMG_BIOS_ROM_SIZE, 0xFF);
        fuzz::put(image, 0, in.part(), VXIMG_BIOS_VPD_OFFSET);
        fuzz::put(image, VXIMG_BIOS_VPD_OFFSET, in.rest());
    } else {
        image = in.rest();
    }
    const fuzz::Buffer buf(image);
    fuzz::Traced traced;
    walk(buf, false);
    walk(buf, true);
    find_images(buf);
    return 0;
}

// The VPD walkers and what is built on them: item walk, "RV" checksum, OEM
// checksum, field reads, and the version keyword updates from an option ROM
// image (with the NVRAM checksum, then verified).
// Input: a mode byte (bit 0: the NVRAM routine gets the 24xx firmware region,
// else a whole flash), the VPD as a part, then the option ROM image.
#include "base/vx_layout.h"
#include "base/vx_vpd_fields.h"
#include "fuzz_support.h"
#include "image/flash_formats.h"

namespace {

// Walks the VPD; whether it holds an "RV" keyword with a data byte.
bool walk(const fuzz::Buffer& vpd) {
    vximg_vpd_walker w;
    vximg_vpd_walk_init(&w, vpd.data(), vpd.size());
    vximg_vpd_item it;
    bool rv = false;
    while (vximg_vpd_walk_next(&w, &it)) {
        FUZZ_CHECK(it.data_offset <= vpd.size() && it.data_length <= vpd.size() - it.data_offset);
        rv = rv || (it.kind == VXIMG_VPD_ITEM_KEYWORD && it.name[0] == 'R' && it.name[1] == 'V' && it.data_length > 0);
    }
    FUZZ_CHECK(w.result != VXIMG_VPD_RUNNING);
    return rv;
}

void checksums(const fuzz::Buffer& vpd) {
    (void)vxapi_verify_vpd_checksum(vpd.data(), vpd.size());
    (void)vxapi_verify_kt_vpd_checksum(vpd.data(), vpd.size());
}

void fields(const fuzz::Buffer& vpd) {
    static const uint8_t kIdent[1] = {VXIMG_VPD_TAG_IDENT};
    for (const auto& [tag, tag_sz] : {std::pair{reinterpret_cast<const uint8_t*>("SN"), 2},
                                      std::pair{reinterpret_cast<const uint8_t*>("V3"), 2}, std::pair{kIdent, 1}}) {
        for (const uint16_t size : {32, 3}) {
            (void)vxapi_get_field_from_vpd(vpd.data(), vpd.size(), tag, uint16_t(tag_sz),
                                           fuzz::Buffer(size, 0).data(), size);
        }
    }
}

void version_updates(const fuzz::Buffer& vpd, const fuzz::Buffer& image, uint32_t region) {
    const fuzz::Buffer in_place(vpd.bytes());
    (void)vxapi_update_vpd_version_field(image.data(), image.size(), in_place.data(), in_place.size(), nullptr);
    const fuzz::Buffer target(image.bytes());
    (void)vxapi_add_vpd_image(target.data(), target.size(), vpd.data(), vpd.size(), nullptr);
    // The NVRAM routine leaves a checksum that verifies, whenever there is an
    // "RV" with a checksum byte before the end tag.
    const fuzz::Buffer nv(vpd.bytes());
    if (vxapi_update_nv_vpd_version(image.data(), image.size(), nv.data(), nv.size(), region) == 0 && walk(nv)) {
        FUZZ_CHECK(vxapi_verify_vpd_checksum(nv.data(), nv.size()) == 0);
    }
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    using namespace sim;
    const Bytes vpd = typical_vpd().bytes;
    const Bytes chain = build_rom_chain({efi_image(1, 17, 1), bios_image(3, 5), fcode_image(2, 1),
                                         vpd_image(VX_PCI_VENDOR_MAKER, vpd, 2),
                                         firmware_image(VX_PCI_VENDOR_MAKER, 8, 2, 5)})
                            .bytes;
    VpdContents small;
    small.read_only = {keyword("SN", "SIM0000002")};
    small.has_writable = true;
    small.writable = {keyword("V1", "x"), keyword("V5", std::string(20, ' '))};
    return {join(0, {vpd, chain}), join(1, {build_vpd(small).bytes, chain}),
            join(0, {vpd, build_bios_only_rom(1, 7, vpd)})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const uint8_t mode = in.byte();
    const fuzz::Buffer vpd(in.part());
    const fuzz::Buffer image(in.rest());
    fuzz::Traced traced;
    walk(vpd);
    checksums(vpd);
    fields(vpd);
    version_updates(vpd, image, mode & 1);
    return 0;
}

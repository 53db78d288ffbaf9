// The flash layout table (at the default address or through the locator behind
// the boot code chain, each 512 KiB window), and what is read through it: image
// status records, MPI/EDC, NIC boot code, boot-code and firmware versions.
// Input: a mode byte (bits 0-1: chip 0x2532 2 MiB, 0x8001 4 MiB two windows,
// 0x8021 table at its default address only), then chunks of flash, each a
// 24-bit little-endian offset and a part; the rest is erased.
#include "base/vx_flash_images.h"
#include "base/vx_layout.h"
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_flash_versions.h"
#include "core/flash/vx_regions.h"
#include "fuzz_support.h"
#include "image/flash_formats.h"

namespace {

constexpr struct {
    uint16_t device_id;
    uint32_t flash_size;
} kChips[4] = {{0x2532, 0x200000}, {0x8001, 0x400000}, {0x8021, 0x400000}, {0x2532, 0x200000}};

using Chunks = std::vector<std::pair<uint32_t, fuzz::Bytes>>;

fuzz::Bytes encode(uint8_t mode, const Chunks& chunks) {
    fuzz::Bytes out{mode};
    for (const auto& [at, bytes] : chunks) {
        out.insert(out.end(), {uint8_t(at), uint8_t(at >> 8), uint8_t(at >> 16)});
        fuzz::append(out, fuzz::framed(bytes));
    }
    return out;
}

void check_records(const fuzz::Bytes& chunk) {
    const fuzz::Buffer buf(chunk);
    (void)vximg_flt_header_checksum_ok(buf.data(), buf.size());
    if (buf.size() >= sizeof(FLT_LOCATION) && vximg_flt_location_valid(buf.data())) {
        (void)vximg_flt_location_address(buf.data());
    }
    if (buf.size() >= sizeof(vxa_image_status)) (void)vximg_image_status_checksum_ok(buf.data());
}

void read_through_layout(sim::FlashRig& rig) {
    pGlobalOptRomLayout = nullptr;  // nothing from an earlier input
    if (vxapi_set_option_rom_layout(rig.fd, &rig.rec) == 0) {
        FUZZ_CHECK(rig.phy.pflt_layout != nullptr && rig.phy.pflt_layout->NoOfRegions <= VX_LAYOUT_MAX_REGIONS);
    } else {
        FUZZ_CHECK(rig.phy.pflt_layout == nullptr);
    }
    vxapi_get_active_image_set(rig.fd, &rig.rec);
    vxapi_get_flash_mpi_edc_versions(rig.fd, &rig.rec);
    vxapi_get_nic_bootcode_version(rig.fd, &rig.rec);
    EXT_HBA_NODE node{};
    vxapi_read_flash_versions(rig.fd, &rig.rec, &node);
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    using namespace sim;
    const RomChain chain = build_rom_chain({bios_image(3, 1), fcode_image(4, 2), efi_image(5, 3)});
    const RomChain chain_vfim = build_rom_chain({bios_image(3, 1), efi_image(5, 3)}, 0x200);
    ImageStatusFields newer;
    newer.gen_num = 2;
    Bytes mpi(20, 0);
    mpi[17] = 1, mpi[18] = 2, mpi[19] = 3;
    Bytes edc = mpi;
    put_le32(edc, 0, VX_EDC_COOKIE);
    // The regions read through the layout, at these flash offsets.
    const Bytes table = build_flt_table({flt_region(0x07, 0x40000, 0), flt_region(0x01, 0x80000, 0x80000),
                                         flt_region(0x95, 0x1000, 0x150000), flt_region(0x96, 0x1000, 0x151000),
                                         flt_region(0x40, 0x10000, 0x160000), flt_region(0x45, 0x10000, 0x170000),
                                         flt_region(0x2E, 0x80000, 0x180000)});
    const Chunks contents = {{0x150000, build_image_status({})}, {0x151000, build_image_status(newer)},
                             {0x160000, mpi}, {0x170000, edc}, {0x180000, chain.bytes}, {0x80000, chain.bytes},
                             {0x100000, {0x03, 0x00, 0x40, 0x40, 8, 2, 52, 18}}};
    const auto with = [&](uint8_t mode, Chunks chunks) {
        chunks.insert(chunks.end(), contents.begin(), contents.end());
        return encode(mode, chunks);
    };
    const auto located = [&](uint32_t at, const RomChain& c) {
        return Chunks{{at, c.bytes}, {uint32_t(at + c.end), build_flt_locator(0x130000)}, {0x130000, table}};
    };
    // The table at the default address, found through the locator behind the
    // chain, and on 0x8001 behind a chain with an image layout header in the
    // second window.
    return {with(0, {{0x141000, table}}), with(0, located(0, chain)), with(1, located(0x200000, chain_vfim)),
            with(2, {{0x3F1000, table}})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const auto& chip = kChips[in.byte() & 3];
    sim::FlashRig& rig = fuzz::flash_rig(0x2532);
    rig.driver.clear_log();
    rig.adapter->device_id = rig.phy.device_id = chip.device_id;
    rig.adapter->flash.assign(chip.flash_size, 0xFF);
    while (!in.done()) {
        uint32_t at = in.byte();
        at |= uint32_t(in.byte()) << 8;
        at |= uint32_t(in.byte()) << 16;
        const fuzz::Bytes chunk = in.part();
        fuzz::put(rig.adapter->flash, at % chip.flash_size, chunk);
        check_records(chunk);
    }
    fuzz::Traced traced(rig.host);
    read_through_layout(rig);
    return 0;
}

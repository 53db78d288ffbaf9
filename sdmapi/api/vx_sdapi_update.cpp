// Option ROM (flash) updates: the whole option ROM image, raw bytes at a
// flash offset, and one region by its code, with the activation of the
// written region or, when the caller defers it, the driver's version refresh.
//
// Two paths write: the plain path writes the region as given; the
// preserving path first carries the board's own settings from the current
// flash into the new image (the subsystem vendor ID and the BIOS defaults
// block of every x86 BIOS image, the VPD kept inside the image on the oldest
// chips), writes it, and then rewrites the version keywords of the adapter's
// VPD. A write that fails is neither activated nor followed by the VPD step.
// An image that cannot take the VPD kept inside it is not written: the
// board would lose its VPD.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_flash_images.h"
#include "base/vx_layout.h"
#include "base/vx_vpd_fields.h"
#include "core/flash/vx_fru.h"
#include "core/flash/vx_optrom.h"
#include "core/flash/vx_regions.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer zeroed(size_t bytes) { return Buffer(static_cast<uint8_t*>(std::calloc(1, std::max<size_t>(bytes, 1)))); }

constexpr uint32_t kOptionRomMinimum = 0x20000;
constexpr uint32_t kRegionWholeImage = 0;
constexpr uint32_t kRefreshVersions = 0x20261;
constexpr uint32_t kActivateBits = 0x6;  // bits 17-18 of a region word
constexpr uint32_t kReadOnlyBit = 0x10000;

bool code_in(uint32_t region, std::initializer_list<uint32_t> codes) {
    return std::find(codes.begin(), codes.end(), region) != codes.end();
}

bool preserving_region(uint32_t r) { return (r >= 0x01 && r <= 0x07) || r == 0xFF; }
bool plain_region(uint32_t r) {
    return r == 0x13 || (r >= 0x29 && r <= 0x2E) || code_in(r, {0x40, 0x41, 0x45, 0x46, 0x47});
}
bool token_region(uint32_t r) {
    return code_in(r, {0x01, 0x02, 0x07, 0x09, 0x66, 0x67, 0x9E, 0x9F, 0xD1, 0xF1, 0xD3, 0xF0});
}

SD_UINT32 mapped(VxSdCall& call, int32_t result, uint32_t ext, int err) {
    return vx_sd_outcome(call.name(), call.device(), result, ext, err, VxSdAccept::Clean).status;
}

// ---- the board's settings in the boot code ----

constexpr char kDefaultsMarker[6] = {'M', 'E', 'I', 'S', 'P', ' '};
constexpr size_t kMarkerSearchEnd = 0x1FFFA;  // match positions below this
constexpr size_t kDefaultsFromMarker = 2;
constexpr size_t kMaxImages = 10;
constexpr size_t kSvidAt = 28;
constexpr size_t kSubsystemVendorAt = 32;
constexpr uint8_t kCodeX86 = 0;
constexpr uint8_t kLastImage = 0x80;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A span of a buffer of `len` bytes.
bool inside(size_t at, size_t n, size_t len) { return at <= len && n <= len - at; }

// The defaults block behind the first "MEISP " from `from` on (match
// positions below from + 0x1FFFA), wholly inside the buffer; 0 when none.
size_t find_defaults(const uint8_t* b, size_t len, size_t from, size_t block) {
    for (size_t i = from; i < from + kMarkerSearchEnd && inside(i, sizeof kDefaultsMarker, len); ++i) {
        if (std::memcmp(b + i, kDefaultsMarker, sizeof kDefaultsMarker) != 0) continue;
        return inside(i + kDefaultsFromMarker, block, len) ? i + kDefaultsFromMarker : 0;
    }
    return 0;
}

// The PCI data structure of the image at `at`, when its signature, header
// and structure lie inside the buffer; 0 otherwise.
size_t pci_header(const uint8_t* b, size_t len, size_t at) {
    if (!inside(at, 26, len) || b[at] != 0x55 || b[at + 1] != 0xAA) {
        vxdbg_line(VX_SD_INFO, "No Valid Sig.ret=", at, VXDBG_HEX);
        return 0;
    }
    const size_t pcir = at + le16(b + at + 24);
    if (!inside(pcir, 24, len) || std::memcmp(b + pcir, "PCIR", 4) != 0) {
        vxdbg_line(VX_SD_INFO, "PCI data struct not foundpcir_adr=", pcir, VXDBG_HEX);
        return 0;
    }
    return pcir;
}

bool has_svid(const uint8_t* b, size_t len, size_t at) {
    return inside(at + kSvidAt, 6, len) && std::memcmp(b + at + kSvidAt, "SVID", 4) == 0;
}

// Carries the settings of the current flash into one x86 BIOS image; the
// image is left alone when its checksum span passes the buffer.
void preserve_in_image(const uint8_t* cur, size_t cur_len, size_t cur_block, uint8_t* img, size_t len, size_t at,
                       size_t block) {
    const size_t length = size_t{img[at + 2]} * 512;
    if (length < 2 || !inside(at, length, len)) return;
    bool changed = false;
    if (has_svid(cur, cur_len, 0) && has_svid(img, len, at) &&
        std::memcmp(cur + kSubsystemVendorAt, img + at + kSubsystemVendorAt, 2) != 0) {
        std::memcpy(img + at + kSubsystemVendorAt, cur + kSubsystemVendorAt, 2);
        changed = true;
    }
    const size_t img_block = find_defaults(img, len, at, block);
    if (cur_block != 0 && img_block != 0) {
        std::memcpy(img + img_block, cur + cur_block, block);
        changed = true;
    }
    if (!changed) return;
    uint8_t sum = 0;
    for (size_t i = 0; i < length - 2; ++i) sum = static_cast<uint8_t>(sum + img[at + i]);
    img[at + length - 1] = static_cast<uint8_t>(0x100 - sum);
}

// The subsystem vendor ID and BIOS defaults block of the current flash into
// every x86 BIOS image of the new chain. Every header, block and checksum
// span is checked against both buffers.
void preserve_bios_settings(const uint8_t* cur, size_t cur_len, uint8_t* img, size_t len, size_t block) {
    const size_t cur_pcir = cur_len >= 26 && cur[0] == 0x55 && cur[1] == 0xAA ? pci_header(cur, cur_len, 0) : 0;
    if (cur_pcir == 0 || cur[cur_pcir + 20] != kCodeX86) {
        vxdbg_line(VX_SD_INFO, "SDUpdateOptionRomCommon: BIOS not found, nothing to preserve.");
        return;
    }
    const size_t cur_block = find_defaults(cur, cur_len, 0, block);
    size_t at = 0;
    for (size_t n = 0; n < kMaxImages; ++n) {
        const size_t pcir = pci_header(img, len, at);
        if (pcir == 0) return;
        if (img[pcir + 20] == kCodeX86) preserve_in_image(cur, cur_len, cur_block, img, len, at, block);
        if ((img[pcir + 21] & kLastImage) != 0) return;
        const size_t step = size_t{le16(img + pcir + 16)} * 512;
        if (step == 0) return;
        at += step;
    }
}

// The VPD kept inside the option ROM image of the oldest chips, carried
// from the current flash into the new image. False when the flash holds a
// VPD that the new image cannot take (no place for it, or a VPD whose items
// run past its area): written, that image would lose the board's VPD.
bool preserve_image_vpd(uint8_t* cur, uint32_t cur_len, uint8_t* img, uint32_t len) {
    uint8_t* vpd = nullptr;
    if (vxapi_find_vpd_image(cur, cur_len, &vpd, pGlobalOptRomLayout) == 0 || vpd == nullptr) {
        vxdbg_line(VX_SD_INFO, "VPD does not exist.");
        return true;
    }
    const auto available = static_cast<uint32_t>(cur + cur_len - vpd);
    vxdbg_line(VX_SD_INFO, "SDUpdateOptionRomCommon: preserve the VPD region=", 0, VXDBG_HEX);
    if (vxapi_add_vpd_image(img, len, vpd, std::min(available, VX_VPD_AREA_SIZE), pGlobalOptRomLayout) == 0) {
        return true;
    }
    vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRomCommon: VPD not carried into the new image, nothing written.");
    return false;
}

// ---- after the preserving write ----

// The version keywords of the adapter's VPD from the written image, saved to
// both ports; FRU versions on the boards that have one (failures traced).
SD_UINT32 update_vpd_versions(VxSdCall& call, vxapi_priv_database* rec, uint8_t* image, uint32_t size,
                              uint32_t region, const SD_UINT8* caller_image, uint32_t caller_size) {
    uint8_t vpd[VX_VPD_AREA_SIZE] = {};
    SD_UINT32 vpd_size = sizeof vpd;
    if (const SD_UINT32 got = SDGetVpd(call.device(), 0, vpd, &vpd_size); got != SDERR_NO_ERROR) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRomCommon: Get 24xx VPD failed=", got, VXDBG_HEX);
        return got;
    }
    if (vxapi_update_nv_vpd_version(image, size, vpd, vpd_size, region) != 0) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRomCommon: Update 24xx VPD version fields failed");
        return SDERR_VPD_UPDATE;
    }
    if (const SD_UINT32 saved = SD24xxSaveVpd(call.device(), vpd, vpd_size); saved != SDERR_NO_ERROR) return saved;

    const vxapi_phy_info* phy = rec->phy_info;
    if (!vx_board_has(phy->ssvendor_id, phy->ssdevice_id, VX_BOARD_FRU)) return SDERR_NO_ERROR;
    uint32_t ext = 0;
    if (vxapi_fill_and_update_fru_versions(rec->oshandle, rec, caller_image, caller_size, region, &ext) != 0) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRomCommon: fill and update fru failed.ext status=", ext, VXDBG_DEC);
        return SDERR_NO_ERROR;
    }
    if (region != 0x01) {
        vxdbg_line(VX_SD_INFO, "SDUpdateOptionRomCommon: skipping fru status register update.");
    } else if (vxapi_pulse_fru_status(rec->oshandle, rec, &ext) != 0) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRomCommon: pulse fru failed. ext status=", ext, VXDBG_DEC);
    }
    return SDERR_NO_ERROR;
}

// ---- region writes ----

struct RegionWrite {
    const char* name;  // "SDUpdateOptionRomEx" or "SDUpdateOptionRomEx2"
    bool ex2;
    SD_UINT16 disable_reset;
    SD_PUINT8 buffer;
    SD_UINT32 size;
    SD_UINT32 region;
};

void named_line(uint32_t bits, const RegionWrite& w, const char* text, uint64_t number = 0,
                uint8_t base = VXDBG_NONE) {
    if (!vxdbg_on(bits)) return;
    vxdbg_print(w.name, 0, VXDBG_NONE, 0);
    vxdbg_print(text, number, base, 1);
}

// The checks of a region write in their order (region in the layout,
// read-only, size, region code 0, then the flash update token (Ex2) or the
// region's path (Ex)), then the write. *entry: the region's layout entry,
// null when the layout lacks it. *stop: true when a check refused the write
// (the call ends with the status returned); false when the write was made
// (its status). A region not in the layout gives SDERR_INVALID_PARAMETER and
// leaves *stop as the caller set it (false): the after-write steps follow.
SD_UINT32 checked_write(VxSdCall& call, vxapi_priv_database* rec, const RegionWrite& w,
                        const INT_OPT_ROM_REGION** entry, bool* stop) {
    *entry = vx_sd_layout_entry(w.region);
    if (*entry == nullptr) return SDERR_INVALID_PARAMETER;
    *stop = true;
    if (((*entry)->Region & kReadOnlyBit) != 0) {
        named_line(VX_SD_ERROR, w, ": Read only Region, can't do write operation");
        return SDERR_NOT_SUPPORTED;
    }
    if (w.size > (*entry)->Size) return SDERR_REGION_TOO_SMALL;
    if (w.region == kRegionWholeImage) return SDERR_REGION_ZERO;
    if (w.ex2) {
        if (vx_chip_has(vxapi_device_id(rec), VX_CHIP_FLASH_TOKEN) && token_region(w.region) &&
            !vx_sd_holds_token(rec)) {
            named_line(VX_SD_ERROR, w, ": Flash update token not set");
            return SDERR_FUT_NOT_SET;
        }
    } else if (!plain_region(w.region)) {
        if (!preserving_region(w.region)) {
            named_line(VX_SD_ERROR, w, ": Invalid Region = ", w.region, VXDBG_HEX);
            return SDERR_INVALID_PARAMETER;
        }
        *stop = false;
        return SDUpdateOptionRomCommon(call.device(), w.buffer, w.size, w.region, 0, rec);
    }
    *stop = false;
    return SDUpdateOptionRomCommonEx2(call.device(), w.buffer, w.size, w.region, 0, rec);
}

// After the write: activation (or, deferred, the driver's version refresh)
// and the refresh of the converged firmware parts' versions.
SD_UINT32 after_write(int Device, vxapi_priv_database* rec, const RegionWrite& w, const INT_OPT_ROM_REGION* entry,
                      bool written, SD_UINT32 status) {
    const uint16_t device = vxapi_device_id(rec);
    if (w.disable_reset != 0) {
        const bool deferred = w.ex2 ? code_in(w.region, {0x01, 0x02, 0x07, 0x09, 0x74, 0x97, 0xA2, 0xA4})
                                    : code_in(w.region, {0x01, 0x07});
        if (deferred) {
            named_line(VX_SD_INFO, w, ": Updating versions in driver database, Region=", w.region, VXDBG_HEX);
            const uint32_t refreshed = vxapi_reset_region(Device, rec, kRefreshVersions);
            named_line(VX_SD_INFO, w, ": Updated versions in driver database, status=", refreshed, VXDBG_HEX);
        }
        named_line(VX_SD_INFO, w, ": Reset disabled by App for Region=", w.region, VXDBG_HEX);
        return status;
    }
    const bool chip = vx_chip_has(device, w.ex2 ? VX_CHIP_ACTIVATE_AFTER_EX2 : VX_CHIP_ACTIVATE_AFTER_EX);
    if (written && status == SDERR_NO_ERROR && entry != nullptr && ((entry->Region >> 16) & kActivateBits) != 0 &&
        chip) {
        status = vxapi_reset_region(Device, rec, w.region);
    }
    if (status != SDERR_NO_ERROR || (w.ex2 && !vx_chip_has(device, VX_CHIP_EX2_VERSION_REFRESH))) return status;
    if (w.region == VX_REGION_MPI || w.region == VX_REGION_EDC) {
        vxapi_query_adapter_versions(rec->oshandle, rec);
        vxapi_get_flash_mpi_edc_versions(rec->oshandle, rec);
    } else if (w.region == VX_REGION_NIC_BOOT) {
        vxapi_get_nic_bootcode_version(rec->oshandle, rec);
    }
    return status;
}

SD_UINT32 region_update(const RegionWrite& w, int Device) {
    VxSdCall call(w.name, Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL ||
        (!w.ex2 && vx_chip_has(vxapi_device_id(rec), VX_CHIP_NO_PRESERVING_UPDATE))) {
        return call.done(SDERR_NOT_SUPPORTED);
    }
    if (!vx_sd_no_foreign_token(call, rec)) return call.status();
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, 0, nullptr); refreshed != SDERR_NO_ERROR) {
        return call.done(refreshed);
    }
    const INT_OPT_ROM_REGION* entry = nullptr;
    bool stop = false;
    const SD_UINT32 status = checked_write(call, rec, w, &entry, &stop);
    if (stop) return call.done(status);
    return call.done(after_write(Device, rec, w, entry, entry != nullptr, status));
}

}  // namespace

SD_UINT32 SDUpdateOptionRomCommonEx2(int Device, SD_PUINT8 pBuffer, SD_UINT32 BufferSize, SD_UINT32 region,
                                     SD_UINT32 region_index, vxapi_priv_database* api_priv_data_inst) {
    (void)region_index;
    VxSdCall call("SDUpdateOptionRomCommonEx2", Device);
    if (!call.given(pBuffer)) return call.status();
    vxapi_priv_database* rec = api_priv_data_inst;
    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_update_optrom(rec->oshandle, rec, pBuffer, BufferSize, region, 0, &ext);
    return call.done(mapped(call, result, ext, errno));
}

SD_UINT32 SDUpdateOptionRomCommon(int Device, SD_PUINT8 pBuffer, SD_UINT32 BufferSize, SD_UINT32 region,
                                  SD_UINT32 region_index, vxapi_priv_database* api_priv_data_inst) {
    (void)region_index;
    VxSdCall call("SDUpdateOptionRomCommon", Device);
    if (!call.given(pBuffer)) return call.status();
    vxapi_priv_database* rec = api_priv_data_inst;
    const uint16_t device = vxapi_device_id(rec);
    const bool vpd_chip = vx_chip_has(device, VX_CHIP_VPD_VERSION_KEYWORDS);

    // The current contents, exactly BufferSize bytes.
    Buffer current = zeroed(BufferSize);
    if (!current) return call.done(SDERR_OUT_OF_MEMORY);
    uint32_t ext = 0;
    errno = 0;
    int32_t result = vxapi_read_optrom(rec->oshandle, rec, current.get(), BufferSize, region, 0, &ext);
    if (result != 0 || ext != 0) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRom: ReadOptionRom ioctl failed. ext status=", ext, VXDBG_DEC);
        return call.done(mapped(call, result, ext, errno));
    }

    preserve_bios_settings(current.get(), BufferSize, pBuffer, BufferSize, vpd_chip ? 512 : 256);
    if (vx_chip_has(device, VX_CHIP_VPD_IN_IMAGE) &&
        !preserve_image_vpd(current.get(), BufferSize, pBuffer, BufferSize)) {
        return call.done(SDERR_VPD_UPDATE);
    }

    // The 25xx chips keep the boot code twice: the image, and its first
    // 256 KiB again at 0x40000 of a 512 KiB write (0xFF where the image has
    // no bytes).
    uint8_t* write = pBuffer;
    uint32_t write_size = BufferSize;
    Buffer doubled;
    constexpr uint32_t kDoubledSize = 0x80000;
    constexpr uint32_t kSecondCopy = 0x40000;
    if (vx_chip_has(device, VX_CHIP_DOUBLED_BOOT_REGION) && (region == VX_REGION_WHOLE_ROM || region == 0x07)) {
        if (BufferSize < kDoubledSize) {
            doubled.reset(static_cast<uint8_t*>(std::malloc(kDoubledSize)));
            if (!doubled) return call.done(SDERR_OUT_OF_MEMORY);
            std::memset(doubled.get(), 0xFF, kDoubledSize);
            std::memcpy(doubled.get(), pBuffer, BufferSize);
            write = doubled.get();
            write_size = kDoubledSize;
        }
        std::memcpy(write + kSecondCopy, pBuffer, std::min(BufferSize, kSecondCopy));
    }

    ext = 0;
    errno = 0;
    result = vxapi_update_optrom(rec->oshandle, rec, write, write_size, region, 0, &ext);
    if (result != 0 || ext != 0) {
        vxdbg_line(VX_SD_ERROR, "SDUpdateOptionRom: UpdateOptionRom ioctl failed. ext status=", ext, VXDBG_DEC);
        return call.done(mapped(call, result, ext, errno));
    }
    if (!vpd_chip) return call.done(SDERR_NO_ERROR);
    return call.done(update_vpd_versions(call, rec, write, write_size, region, pBuffer, BufferSize));
}

SD_UINT32 SDUpdateOptionRom(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize) {
    VxSdCall call("SDUpdateOptionRom", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL) return call.done(SDERR_NOT_SUPPORTED);
    if (BufferSize < kOptionRomMinimum) return call.done(SDERR_INVALID_PARAMETER);
    if (vx_chip_has(vxapi_device_id(rec), VX_CHIP_NO_PRESERVING_UPDATE)) return call.done(SDERR_NOT_SUPPORTED);
    if (!vx_sd_no_foreign_token(call, rec)) return call.status();
    if (const SD_UINT32 refreshed = SDGetOptionRomLayout(Device, HbaDevPortNum, nullptr);
        refreshed != SDERR_NO_ERROR) {
        return call.done(refreshed);
    }
    return call.done(SDUpdateOptionRomCommon(Device, pBuffer, BufferSize, kRegionWholeImage, 0, rec));
}

SD_UINT32 SDUpdateOptionRomOffset(int Device, SD_UINT16 HbaDevPortNum, SD_PUINT8 pBuffer, SD_UINT32 BufferSize,
                                  SD_UINT32 Offset) {
    (void)HbaDevPortNum;
    VxSdCall call("SDUpdateOptionRomOffset", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    if (rec->interface_type != VX_PORT_PHYSICAL) return call.done(SDERR_NOT_SUPPORTED);
    if (!call.given(pBuffer) || !vx_sd_no_foreign_token(call, rec)) return call.status();
    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_update_optrom(rec->oshandle, rec, pBuffer, BufferSize, VX_REGION_RAW, Offset, &ext);
    return call.done(mapped(call, result, ext, errno));
}

SD_UINT32 SDUpdateOptionRomEx(int Device, SD_UINT16 DisableReset, SD_PUINT8 pBuffer, SD_UINT32 BufferSize,
                              SD_UINT32 Region) {
    return region_update({"SDUpdateOptionRomEx", false, DisableReset, pBuffer, BufferSize, Region}, Device);
}

SD_UINT32 SDUpdateOptionRomEx2(int Device, SD_UINT16 DisableReset, SD_PUINT8 pBuffer, SD_UINT32 BufferSize,
                               SD_UINT32 Region) {
    return region_update({"SDUpdateOptionRomEx2", true, DisableReset, pBuffer, BufferSize, Region}, Device);
}

// NVRAM images through the public functions (driver request and flash region roads), and the NVRAM variables of
// both layouts.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "api/vx_sdnvr.h"
#include "api_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::kFill;
using apitest::RigPort;
using apitest::slice;
using Bytes = std::vector<uint8_t>;

// The chip's usual regions plus the NVRAM regions of the other functions (0x15 and 0x17 are usual), 0x200 bytes
// each, or `nvram_size` for 0x15.
sim::ChipFlashOptions nvram_flash(uint16_t device, uint32_t nvram_size = 0x200) {
    sim::SimAdapter probe;
    probe.device_id = device;
    std::vector<sim::FltRegion> regions = sim::build_chip_flash(probe).regions;
    uint32_t at = 0x3A0000;
    for (uint8_t code : {0xD5, 0xD7, 0xAA, 0xAC}) regions.push_back(sim::flt_region(code, 0x200, at += 0x1000));
    for (sim::FltRegion& r : regions) {
        if (r.code == 0x15) r.size = nvram_size;
    }
    sim::ChipFlashOptions options;
    options.regions = regions;
    return options;
}

uint32_t word_sum(const Bytes& b, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= n; i += 4) sum += sim::get_le16(b, i) | (uint32_t{sim::get_le16(b, i + 2)} << 16);
    return sum;
}

// The region read and written by the PCI function (bits 0-2 of pci_dev_func, whatever the device number), the
// checksum word, the activation.
TEST(ApiNvram, FlashRegionByFunctionWithChecksumAndActivation) {
    struct Row { uint16_t device; unsigned function; uint8_t region; uint16_t sub_code; };
    const Row rows[] = {{0x2071, 2, 0xD5, 1}, {0x2071, 1, 0x17, 1}, {0x2071, 3, 0xD7, 1}, {0x8044, 1, 0xAC, 3},
                        {0x8031, 0, 0xAA, 1}, {0x2031, 0, 0x15, 1}, {0x2031, 1, 0x17, 1}};
    for (const Row& r : rows) {
        ApiRig rig;
        sim::ChipFlashOptions options = nvram_flash(r.device);
        RigPort* p = &rig.add_adapter(r.device, options);
        for (unsigned f = 0; f < r.function; ++f) p = &rig.add_function(*p);
        p->rec->phy_info->pci_dev_func |= 0x08;  // a device number besides the function
        const Bytes& flash = rig.adapter_of(*p).flash;
        const uint32_t at = apitest::region_of(options, r.region).start;
        Bytes image(1024, kFill);
        ASSERT_EQ(SDGetNVRam(p->handle, 0, 2, image.data(), 1024), 0u) << std::hex << r.device;
        EXPECT_EQ(slice(image, 0, 512), slice(flash, at, 512));
        EXPECT_TRUE(sim::all_bytes(image, 512, kFill));
        image[7] ^= 0xFF;
        ASSERT_EQ(SDUpdateNVRam(p->handle, 0, 1, image.data(), 512), 0u);
        EXPECT_EQ(word_sum(image, 512), 0u);
        EXPECT_EQ(slice(image, 0, 512), slice(flash, at, 512));
        EXPECT_EQ(rig.taken(), (std::vector<std::pair<uint16_t, uint16_t>>{{p->sim->instance, r.sub_code}}));
    }
}

// The driver road asks for the chip class's size; an update is sent unchanged and not activated.
TEST(ApiNvram, DriverRequestChipsAskForTheirClassSize) {
    ApiRig rig;
    struct Row { uint16_t device; uint32_t asked, sent; };
    for (const Row& r : {Row{0x2532, 1024, 512}, Row{0x2312, 1024, 256}, Row{0x2300, 100, 100}}) {
        RigPort& p = rig.add_adapter(r.device);
        p.sim->nvram.assign(512, 0x3C);
        Bytes buf(1024, kFill);
        rig.driver.clear_log();
        ASSERT_EQ(SDGetNVRam(p.handle, 0, 1, buf.data(), r.asked), 0u);
        EXPECT_EQ(rig.requests(EXT_CC_READ_NVRAM).at(0).response_len, r.sent);
        EXPECT_TRUE(sim::all_bytes(buf, r.sent, kFill));
    }
    RigPort& p = rig.add_adapter(0x2432);
    Bytes image(512, 0x11);
    ASSERT_EQ(SDUpdateNVRam(p.handle, 0, 0, image.data(), 512), 0u);
    EXPECT_EQ(std::tuple(p.sim->nvram, rig.acts.taken().size(), SDVerifyHbaNVRam(p.handle, 0)),
              std::tuple(image, 0u, 0u));  // unchanged, no checksum, not activated
    rig.driver.inject_status(9);
    EXPECT_EQ(SDVerifyHbaNVRam(p.handle, 0), SDERR_NVRAM_CHECKSUM);
}

TEST(ApiNvram, WritesThatMustNotReachTheFlash) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2031, nvram_flash(0x2031, 0x100));
    RigPort& v = rig.add_virtual(p);
    Bytes image(512, 0x22);
    const struct { int handle; uint32_t size; SD_PUINT8 buf; SD_UINT32 status; } rows[] = {
        {99, 0, image.data(), SDERR_INVALID_PARAMETER},  // size 0 before the handle
        {v.handle, 512, image.data(), SDERR_NOT_SUPPORTED},
        {p.handle, 2, image.data(), SDERR_INVALID_PARAMETER},   // no whole checksum word
        {p.handle, 512, image.data(), SDERR_REGION_TOO_SMALL},  // region 0x15 holds 0x100
        {p.handle, 512, nullptr, SDERR_INVALID_PARAMETER},
    };
    for (const auto& r : rows) EXPECT_EQ(SDUpdateNVRam(r.handle, 0, 0, r.buf, r.size), r.status) << r.size;
    EXPECT_TRUE(rig.adapter_of(p).flash_writes.empty());

    ASSERT_EQ(SDUpdateNVRam(p.handle, 1, 0, image.data(), 0x100), 0u);  // written, not activated
    EXPECT_EQ(rig.adapter_of(p).flash_writes.size(), 1u);
    rig.adapter_of(p).torn_write = 16;
    EXPECT_NE(SDUpdateNVRam(p.handle, 0, 0, image.data(), 0x100), 0u);  // failed: not activated
    EXPECT_TRUE(rig.acts.taken().empty());
}

// ---------------------------------------------------------------- variables

constexpr uint32_t kAbsent = VX_NVRAM_ABSENT;

// Rows of each kind (groups of n world-wide-name bytes, ids absent or only in the 24xx layout, widths and start bits
// that differ): 2xxx word, bit, width; 24xx offset, bit, width; read-only and visible settings per NVRAM class.
struct VarRow { uint32_t id, n, word, bit, width, off, bit24, width24, settings; };
const VarRow kVars[] = {
    {0, 1, 0, 0, 32, 0x0, 0, 32, 0x111},       {1, 1, 2, 0, 8, 0x4, 0, 16, 0x111},
    {2, 1, 3, 0, 8, kAbsent, 0, 0, 0x111},     {4, 1, 4, 1, 1, 0x2C, 1, 1, 0x220},
    {24, 8, 9, 0, 8, 0x14, 0, 8, 0x111},       {44, 1, 19, 4, 3, 0x30, 4, 3, 0x223},
    {57, 1, 21, 14, 2, 0x34, 13, 3, 0x211},    {70, 1, 35, 13, 1, kAbsent, 0, 0, 0x110},
    {97, 1, 55, 8, 8, 0x156, 0, 16, 0x220},    {129, 1, 127, 8, 8, 0x1FC, 0, 32, 0x111},
    {130, 1, 0, 0, 0, 0x2C, 6, 1, 0x0},        {131, 1, 0, 0, 0, 0x19C, 0, 1, 0x0},
};

// A 512-byte image with `width` bits set from bit `bit` of the little-endian field at `byte`.
Bytes ones(uint32_t byte, uint32_t bit, uint32_t width) {
    Bytes img(512, 0);
    for (uint32_t b = bit; b < bit + width; ++b) img[byte + b / 8] |= static_cast<uint8_t>(1u << (b % 8));
    return img;
}

// A variable set to all ones on a zero image touches exactly its bits; a group of n world-wide-name bytes is n
// variables of a byte each. Read-only and visible follow the class in variable 128 (past 9: 9).
TEST(NvramVariables, EveryRowOfBothLayouts) {
    for (const VarRow& r : kVars) {
        for (uint32_t k = 0; k < r.n; ++k) {
            const uint32_t id = r.id + k;
            const uint32_t word = r.word + (r.n > 1 ? k / 2 : 0), bit = r.n > 1 ? 8 * (k % 2) : r.bit;
            const uint32_t off = r.off == kAbsent ? kAbsent : r.off + (r.n > 1 ? k : 0);
            Bytes img(512, 0), img24(512, 0);
            ASSERT_EQ(VXSDNVR_SetVariableValue(img.data(), id, 0xFFFFFFFF), 0u);
            EXPECT_EQ(img, ones(2 * word, bit, r.width)) << "2xxx id " << id;
            EXPECT_EQ(VXSDNVR_GetVariableValue(img.data(), id), static_cast<uint32_t>((uint64_t{1} << r.width) - 1));
            ASSERT_EQ(VXSDNVR_SetVariableValue_24xx(img24.data(), id, 0xFFFFFFFF), 0u);
            EXPECT_EQ(img24, off == kAbsent ? Bytes(512, 0) : ones(off, r.bit24, r.width24)) << "24xx id " << id;
            for (uint32_t nvclass : {1u, 2u, 9u, 3u}) {
                Bytes c(256, 0);
                ASSERT_EQ(VXSDNVR_SetVariableValue(c.data(), 128, nvclass == 9 ? 40 : nvclass), 0u);
                const uint32_t settings = nvclass == 3 ? 0 : r.settings >> (nvclass == 9 ? 8 : 4 * (nvclass - 1));
                EXPECT_EQ(VXSDNVR_IsVariableReadOnly(c.data(), id) == 0, (settings & 1) != 0) << id << "/" << nvclass;
                EXPECT_EQ(VXSDNVR_IsVariableVisible(c.data(), id) == 0, (settings & 2) != 0) << id << "/" << nvclass;
            }
        }
    }
}

// A 2xxx field keeps the value's low bits only; id 0 stops at a zero byte; an absent or unchanged 24xx variable
// changes nothing; ids past the table are refused; the texts.
TEST(NvramVariables, ValuesTextsAndIdsOutOfRange) {
    Bytes img(512, 0);
    ASSERT_EQ(VXSDNVR_SetVariableValue_24xx(img.data(), 9, 1), 0u);
    ASSERT_EQ(VXSDNVR_SetVariableValue(img.data(), 21, 0x12345), 0u);
    EXPECT_EQ(sim::get_le16(img, 14), 0x2345);
    ASSERT_EQ(VXSDNVR_SetVariableValue(img.data(), 0, 0x44330011), 0u);
    EXPECT_EQ(slice(img, 0, 4), (Bytes{0x11, 0, 0, 0}));
    const Bytes before = img;
    EXPECT_EQ(VXSDNVR_SetVariableValue_24xx(img.data(), 23, 5) | VXSDNVR_SetVariableValue_24xx(img.data(), 9, 1), 0u);
    EXPECT_EQ(img, before);
    for (uint32_t id : {132u, 0xFFFFFFFFu}) {
        EXPECT_EQ(VXSDNVR_GetVariableValue(img.data(), id) | VXSDNVR_GetVariableValue_24xx(img.data(), id), 0u);
        EXPECT_EQ(VXSDNVR_SetVariableValue_24xx(img.data(), id, 1), SDERR_INVALID_PARAMETER);
        EXPECT_EQ(VXSDNVR_IsVariableReadOnly(img.data(), id) & VXSDNVR_IsVariableVisible(img.data(), id),
                  SDERR_UNKNOWN);
    }
    EXPECT_STREQ(VXSDNVR_GetVariableDescription(img.data(), 2), "Firmare Version");
    EXPECT_STREQ(g_variableName[101], "alt1 boot port name 3");
    EXPECT_STREQ(VXSDNVR_GetVariableDescription(img.data(), 112), "Alternate2 Boot Port Name 5");
    EXPECT_EQ(VXSDNVR_GetVariableDescription(img.data(), 130), nullptr);
}

// The public pair picks the layout by the port's chip.
TEST(NvramVariables, PublicFunctionsByChip) {
    ApiRig rig;
    const int old_chip = rig.add_adapter(0x2312).handle, new_chip = rig.add_adapter(0x2532).handle;
    Bytes img(512, 0);
    ASSERT_EQ(SDSetVariableValue(new_chip, img.data(), NVRAMVarDataRate, 7), 0u);
    EXPECT_EQ(img[0x35], 0xE0);
    EXPECT_EQ(SDGetVariableValue(old_chip, img.data(), NVRAMVarDataRate), 0u);
    ASSERT_EQ(SDSetVariableValue(old_chip, img.data(), NVRAMVarDataRate, 3), 0u);
    EXPECT_EQ(img[43], 0xC0);
    EXPECT_EQ(SDGetVariableValue(99, img.data(), NVRAMVarDataRate), SDERR_INVALID_HANDLE);
    EXPECT_EQ(SDSetVariableValue(new_chip, nullptr, NVRAMVarId, 1), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDGetVariableValue(new_chip, nullptr, NVRAMVarId), 0u);
    EXPECT_EQ(SDSetVariableValue(new_chip, img.data(), static_cast<EnumNVRAMVar>(-1), 1), SDERR_INVALID_PARAMETER);
}

}  // namespace

// VPD through the public functions, the two-port save, and the trace text.
#include <cstring>
#include <string>

#include "api/vx_sdupdate.h"
#include "api_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::kFill;
using apitest::RigPort;
using sim::pattern;

// At most the chip's VPD size and the caller's size are copied; the size is
// not written back; a failed read copies zeros, never stale bytes.
TEST(ApiVpd, ReadsAreBoundedAndSizeStays) {
    ApiRig rig;
    RigPort& p = rig.add_adapter(0x2532);
    rig.adapter_of(p).vpd = pattern(2000, 1);
    RigPort& f = rig.add_adapter(0x8031, sim::vpd_flash_options(0x8031));
    sim::place_in_region(rig.adapter_of(f), sim::build_chip_flash(rig.adapter_of(f), sim::vpd_flash_options(0x8031)),
                         0x81, pattern(0x400, 9));
    struct Row { const RigPort* port; uint32_t size, copied; uint8_t seed; };
    for (const Row& r : {Row{&p, 2000, 512, 1}, Row{&p, 100, 100, 1}, Row{&f, 2000, 1024, 9}}) {
        sim::Bytes buf(2048, kFill);
        SD_UINT32 size = r.size;
        ASSERT_EQ(SDGetVpd(r.port->handle, 0, buf.data(), &size), 0u);
        EXPECT_EQ(size, r.size);
        EXPECT_EQ(apitest::slice(buf, 0, r.copied), pattern(r.copied, r.seed));
        EXPECT_TRUE(sim::all_bytes(buf, r.copied, kFill));
    }
    sim::Bytes buf(512, kFill);
    SD_UINT32 size = 512;
    rig.driver.inject_errno(EIO, 3);
    EXPECT_NE(SDGetVpd(p.handle, 0, buf.data(), &size), 0u);
    for (uint8_t b : buf) ASSERT_TRUE(b == 0 || b == kFill);
}

TEST(ApiVpd, UpdateAndTwoPortSave) {
    ApiRig rig;
    RigPort& flash_chip = rig.add_adapter(0x2031, sim::vpd_flash_options(0x2031));
    RigPort& second = rig.add_function(flash_chip);
    RigPort& single = rig.add_adapter(0x2432);
    const RigPort& region81 = rig.add_adapter(0x8031, sim::vpd_flash_options(0x8031));
    sim::Bytes vpd = pattern(0x200, 5);
    SD_UINT32 size = 0x200;
    EXPECT_EQ(SDUpdateVpd(flash_chip.handle, 0, vpd.data(), &size), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SDUpdateVpd(rig.add_virtual(single).handle, 0, vpd.data(), &size), SDERR_NOT_SUPPORTED);
    size = 0x100;
    ASSERT_EQ(SDUpdateVpd(single.handle, 0, vpd.data(), &size), 0u);
    EXPECT_EQ(rig.requests(EXT_CC_SET_VPD).at(0).request_len, 0x100u);

    ASSERT_EQ(SD24xxSaveVpd(single.handle, vpd.data(), 0x200), 0u);  // one port: written, done
    EXPECT_EQ(rig.adapter_of(single).vpd, vpd);

    EXPECT_EQ(SD24xxSaveVpd(region81.handle, vpd.data(), 0x200), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SD24xxSaveVpd(flash_chip.handle, vpd.data(), 0x201), SDERR_REGION_TOO_SMALL);
    EXPECT_TRUE(rig.adapter_of(flash_chip).flash_writes.empty());

    pGlobalOptRomLayout = nullptr;  // the save loads its own adapter's layout
    ASSERT_EQ(SD24xxSaveVpd(second.handle, vpd.data(), 0x200), 0u);
    const sim::ChipFlashOptions options = sim::vpd_flash_options(0x2031);
    for (uint8_t code : {0x14, 0x16}) {
        EXPECT_EQ(apitest::slice(rig.adapter_of(flash_chip).flash, apitest::region_of(options, code).start, 0x200), vpd)
            << int(code);
    }

    // The other port cannot be opened: the first keeps its new VPD.
    flash_chip.rec->open_cnt = 0;
    std::strcpy(reinterpret_cast<char*>(flash_chip.rec->phys_path), "/dev/missing");
    EXPECT_EQ(SD24xxSaveVpd(second.handle, vpd.data(), 0x200), SDERR_SIBLING_FAILED);
}

// One line per item; the identifier string's one-byte length on the OEM's
// short boards; an item passing the 512 walked bytes ends the walk; the
// text never passes its size.
TEST(ApiVpd, TraceText) {
    vxapi_phy_info oem{};
    oem.ssvendor_id = VX_PCI_SUBVENDOR_OEM;
    oem.ssdevice_id = 0x12C7;
    vxapi_priv_database board{};
    board.phy_info = &oem;
    struct Row { sim::Bytes vpd; const vxapi_priv_database* board; size_t size; std::string text; };
    const Row rows[] = {
        {{0x82, 5, 0, 'A', 'B', 'C', 'D', 'E', 0x90, 9, 0, 'P', 'N', 3, 'X', 'Y', 'Z', 'R', 'V', 1, 0x3C, 0x78}, nullptr,
         256, " 0x82  \"ABCDE\"\n 0x90\n \"PN\"  \"XYZ\"\n \"RV\"  3C\n 0x78\n"},
        {{0x82, 5, 'A', 'B', 'C', 'D', 'E', 0x78}, &board, 256, " 0x82  \"ABCDE\"\n 0x78\n"},
        {{0x82, 5, 'A', 'B', 'C', 'D', 'E', 0x78}, &board, 8, " 0x82  "},
        {{0x82, 0xFF, 0xFF, 'A'}, nullptr, 256, ""},
    };
    for (const Row& r : rows) {
        sim::Bytes vpd = r.vpd;
        vpd.resize(512, 0);
        std::vector<char> text(r.size, 0);
        PrintVpd(vpd.data(), text.data(), r.size, r.board);
        EXPECT_EQ(std::string(text.data()), r.text);
    }
}

}  // namespace

// The serial number ("SN") from the port's VPD as the driver delivers it (24xx,
// 512 bytes asked) or from the flash VPD region (0x8044, 1024 bytes).
// Input: a mode byte (bit 0: the flash region), then the VPD.
#include "base/vx_layout.h"
#include "base/vx_vpd_fields.h"
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_nvram_vpd.h"
#include "fuzz_support.h"
#include "sim_nvram_vpd.h"

namespace {

constexpr uint16_t kFlashChip = 0x8044;
constexpr uint8_t kVpdRegion = 0x81;

// The rig of the flash chip with its VPD regions; its layout is built once
// and stays the global layout.
sim::FlashRig& rig() {
    static sim::FlashRig& instance = []() -> sim::FlashRig& {
        sim::FlashRig& r = fuzz::flash_rig(kFlashChip, sim::vpd_flash_options(kFlashChip));
        sim::install_nvram_vpd(r.driver);
        FUZZ_CHECK(vxapi_set_option_rom_layout(r.fd, &r.rec) == 0);
        return r;
    }();
    return instance;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    using namespace sim;
    VpdContents long_serial;
    long_serial.read_only = {keyword("PN", "P1"), keyword("SN", std::string(32, 'S'))};
    long_serial.size = 1024;
    return {join(0, {typical_vpd("DRV0001").bytes}), join(1, {typical_vpd("FL8044").bytes}),
            join(1, {build_vpd(long_serial).bytes})};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const bool from_flash = (in.byte() & 1) != 0;
    const fuzz::Bytes vpd = in.rest();
    sim::FlashRig& r = rig();
    r.driver.clear_log();
    r.phy.device_id = from_flash ? kFlashChip : 0x2432;
    if (from_flash) {
        const sim::FltRegion* region = sim::find_region(r.flash, kVpdRegion);
        FUZZ_CHECK(region != nullptr);
        fuzz::Bytes contents(region->size, 0xFF);
        fuzz::put(contents, 0, vpd);
        sim::place_in_region(*r.adapter, r.flash, kVpdRegion, contents);
    } else {
        r.adapter->vpd = vpd;
    }
    std::memset(r.phy.serial_num, 'Z', sizeof r.phy.serial_num);
    fuzz::Traced traced(r.host);
    if (vxapi_get_vpd_serialnum(r.fd, &r.rec) == 0) {
        // Always terminated within the field.
        const auto* sn = reinterpret_cast<const char*>(r.phy.serial_num);
        FUZZ_CHECK(strnlen(sn, sizeof r.phy.serial_num) < sizeof r.phy.serial_num);
    }
    return 0;
}

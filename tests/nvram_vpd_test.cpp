// NVRAM and VPD requests of a port: the driver road, the sysfs twins, the VPD regions in flash.
#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_nvram_vpd.h"
#include "sim_nvram_vpd.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::pattern;

std::vector<std::string> described(const sim::SimDriver& driver) {
    std::vector<std::string> out;
    for (const sim::SimLogEntry& e : driver.log()) out.push_back(sim::describe(e));
    return out;
}

// The chip's driver keeps NVRAM and VPD; each VPD region in flash holds bytes of its own.
struct Rig : sim::FlashRig {
    explicit Rig(uint16_t device_id = 0x2432)
        : FlashRig(device_id, device_id == 0x2432 ? sim::ChipFlashOptions{} : sim::vpd_flash_options(device_id)) {
        vx_debug = 0xFFFFFFFF;
        sim::install_nvram_vpd(driver);
        adapter->vpd = pattern(512, 0x25);
        for (uint8_t code : {0x14, 0x16, 0xD4, 0xD6, 0x81}) {
            if (const sim::FltRegion* r = sim::find_region(flash, code))
                sim::place_in_region(*adapter, flash, code, pattern(r->size, code));
        }
    }
    ~Rig() { vx_debug = 0; }
    void build_layout() {
        ASSERT_EQ(vxapi_set_option_rom_layout(fd, &rec), 0);
        driver.clear_log();
    }
};

// Each request carries the caller's size; a VPD read reports what came; a part NVRAM image is refused.
TEST(NvramVpdDriver, EachWorkerCarriesItsBytes) {
    Rig rig;
    const Bytes nvram = pattern(256, 1);
    const Bytes vpd = pattern(512, 3);
    uint32_t status = 99;
    uint32_t size = 512;
    ASSERT_EQ(vxapi_set_nvram(rig.fd, &rig.rec, nvram.data(), 256, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(rig.port->nvram, nvram);
    Bytes got(512, 0);
    ASSERT_EQ(vxapi_get_nvram(rig.fd, &rig.rec, got.data(), 256, &status), 0);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 256), nvram);
    ASSERT_EQ(vxapi_set_vpd(rig.fd, &rig.rec, vpd.data(), &size, &status), 0);
    EXPECT_EQ(rig.adapter->vpd, vpd);
    ASSERT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, got.data(), &size, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(got, vpd);
    EXPECT_EQ(size, 512u);
    EXPECT_EQ(described(rig.driver), (std::vector<std::string>{"new cmd 0D sub 0 inst 0 at 0 sel 0 req 256 resp 0",
                                                                "new cmd 0C sub 0 inst 0 at 0 sel 0 req 0 resp 256",
                                                                "new cmd 12 sub 0 inst 0 at 0 sel 0 req 512 resp 0",
                                                                "new cmd 11 sub 0 inst 0 at 0 sel 0 req 0 resp 512"}));
    rig.adapter->vpd = pattern(100, 9);
    ASSERT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, got.data(), &size, &status), 0);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 100), rig.adapter->vpd);
    rig.driver.inject_short(100);
    EXPECT_EQ(vxapi_get_nvram(rig.fd, &rig.rec, got.data(), 256, &status), 1);
}

// A busy driver is waited out twice at most; a sysfs port goes to the sysfs twin.
TEST(NvramVpdDriver, BusyThreeTimesEndsWithStatusBusyAndSysfsPortsSendNothing) {
    Rig rig;
    Bytes buf(128, 0);
    uint32_t size = 128;
    const std::function<int32_t(uint32_t*)> workers[] = {
        [&](uint32_t* st) { return vxapi_get_nvram(rig.fd, &rig.rec, buf.data(), 128, st); },
        [&](uint32_t* st) { return vxapi_set_nvram(rig.fd, &rig.rec, buf.data(), 128, st); },
        [&](uint32_t* st) { return vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &(size = 128), st); },
        [&](uint32_t* st) { return vxapi_set_vpd(rig.fd, &rig.rec, buf.data(), &(size = 128), st); },
    };
    for (size_t i = 0; i < std::size(workers); ++i) {
        SCOPED_TRACE(i);
        rig.driver.clear_log();
        rig.host.clear_sleeps();
        rig.driver.inject_busy(3);
        uint32_t status = 0;
        rig.rec.features = VX_FEAT_NEW_IOCTL;
        EXPECT_EQ(workers[i](&status), 0);
        EXPECT_EQ(status, EXT_STATUS_BUSY);
        EXPECT_EQ(rig.driver.log().size(), 3u);
        EXPECT_EQ(rig.host.sleep_seconds(), (std::vector<unsigned>{20, 20}));
        rig.driver.clear_log();
        rig.rec.features = VX_FEAT_SYSFS;
        EXPECT_EQ(workers[i](&status), 0);
        EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);  // no attribute file
        EXPECT_TRUE(rig.driver.log().empty());
    }
}

// Each function reads its own region once, whatever layout is installed; a small buffer takes its head.
TEST(NvramVpdFlash, EachPciFunctionReadsItsOwnVpdRegion) {
    const struct { uint16_t device, func; uint8_t region; uint32_t buffer; } cases[] = {
        {0x2071, 0, 0x14, 0x200}, {0x2071, 1, 0x16, 0x200}, {0x2071, 2, 0xD4, 0x200}, {0x2071, 3, 0xD6, 0x200},
        {0x2071, 4, 0x14, 0x200}, {0x2261, 3, 0xD6, 0x200}, {0x2031, 2, 0x14, 0x200}, {0x2031, 3, 0x16, 0x200},
        {0x8001, 1, 0x16, 0x200}, {0x8044, 1, 0x81, 0x400}, {0x8021, 0, 0x81, 0x400}, {0x2271, 2, 0xD4, 100},
        {0x2532, 1, 0, 0x200},  // region 0: asks the driver
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.device << " function " << c.func);
        Rig rig(c.device);
        rig.phy.pci_dev_func = c.func;
        rig.build_layout();
        vxapi_install_global_layout(nullptr, 0);  // another adapter's layout, say
        sim::Exact buf(Bytes(c.buffer, 0));
        uint32_t size = c.buffer;
        uint32_t status = 99;
        ASSERT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.get(), &size, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(size, c.buffer);
        EXPECT_EQ(buf.bytes(), c.region == 0 ? rig.adapter->vpd : pattern(c.buffer, c.region));
        ASSERT_EQ(rig.driver.log().size(), 1u);
        EXPECT_EQ(rig.driver.log()[0].command, c.region == 0 ? EXT_CC_GET_VPD : EXT_CC_READ_OPTROM);
        if (c.region != 0) { EXPECT_EQ(std::memcmp(&gOptRomLayout, rig.phy.pflt_layout, sizeof gOptRomLayout), 0); }
    }
}

TEST(NvramVpdFlash, SysfsVirtualPortReadsThroughItsPhysicalPort) {
    Rig rig(0x8001);
    rig.phy.pci_dev_func = 1;
    Bytes buf(0x200, 0);
    uint32_t size = 0x200;
    uint32_t status = 0;
    // Without the function's layout there is no region to read.
    EXPECT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 1);
    rig.build_layout();
    vxapi_priv_database vport{};
    vport.features = VX_FEAT_SYSFS;
    vport.interface_type = VX_PORT_VIRTUAL;
    vport.phy_info = &rig.phy;
    vport.oshandle = -1;
    // Without a physical port there is nothing to read through.
    EXPECT_EQ(vxapi_get_vpd(-1, &vport, buf.data(), &size, &status), 1);
    EXPECT_TRUE(rig.driver.log().empty());
    vport.parent = &rig.rec;
    ASSERT_EQ(vxapi_get_vpd(-1, &vport, buf.data(), &size, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buf, pattern(0x200, 0x16));
    ASSERT_EQ(rig.driver.log().size(), 1u);
    EXPECT_EQ(rig.driver.log()[0].command, EXT_CC_READ_OPTROM);
    // A sysfs physical port reads through the sysfs road (no flash files here).
    rig.driver.clear_log();
    rig.rec.features = VX_FEAT_SYSFS;
    EXPECT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
    EXPECT_TRUE(rig.driver.log().empty());
}

}  // namespace

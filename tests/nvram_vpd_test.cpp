// NVRAM and VPD requests of a port: the driver road with its busy resends
// and delivered lengths, the sysfs twins, and the VPD read from the flash
// region of each PCI function on the flash-layout chips.
#include <fcntl.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_layout.h"
#include "core/vx_nvram_vpd.h"
#include "core/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::FlashRig;
using sim::pattern;

std::vector<uint8_t> commands(const sim::SimDriver& driver) {
    std::vector<uint8_t> out;
    for (const sim::SimLogEntry& e : driver.log()) out.push_back(e.command);
    return out;
}

// One port of a 24xx adapter, whose NVRAM and VPD the driver keeps.
class NvramVpdDriver : public ::testing::Test {
protected:
    void SetUp() override {
        vx_debug = 0xFFFFFFFF;
        driver.attach(host);
        sim::install_nvram_vpd(driver);
        adapter = &driver.add_adapter();
        adapter->device_id = 0x2432;
        port = &driver.add_port(*adapter);
        phy.device_id = 0x2432;
        rec = sim::DriverRig::record(true, port->instance);
        rec.phy_info = &phy;
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override { vx::sys().close(fd); }

    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimAdapter* adapter = nullptr;
    sim::SimPort* port = nullptr;
    vxapi_phy_info phy{};
    vxapi_priv_database rec{};
    int fd = -1;
};

// Writes carry a request, reads a response, each of the caller's size.
TEST_F(NvramVpdDriver, EachWorkerCarriesItsBytes) {
    const Bytes nvram = pattern(256, 1);
    const Bytes vpd = pattern(512, 3);
    uint32_t status = 99;
    uint32_t size = 512;
    ASSERT_EQ(vxapi_set_nvram(fd, &rec, nvram.data(), 256, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(port->nvram, nvram);
    Bytes got(256, 0);
    ASSERT_EQ(vxapi_get_nvram(fd, &rec, got.data(), 256, &status), 0);
    EXPECT_EQ(got, nvram);
    ASSERT_EQ(vxapi_set_vpd(fd, &rec, vpd.data(), &size, &status), 0);
    EXPECT_EQ(adapter->vpd, vpd);
    Bytes vgot(512, 0);
    ASSERT_EQ(vxapi_get_vpd(fd, &rec, vgot.data(), &size, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(vgot, vpd);
    EXPECT_EQ(size, 512u);

    std::vector<std::string> log;
    for (const sim::SimLogEntry& e : driver.log()) log.push_back(sim::describe(e));
    EXPECT_EQ(log, (std::vector<std::string>{"new cmd 0D sub 0 inst 0 at 0 sel 0 req 256 resp 0",
                                             "new cmd 0C sub 0 inst 0 at 0 sel 0 req 0 resp 256",
                                             "new cmd 12 sub 0 inst 0 at 0 sel 0 req 512 resp 0",
                                             "new cmd 11 sub 0 inst 0 at 0 sel 0 req 0 resp 512"}));
    driver.inject_short(100);  // an NVRAM image in part is not read
    EXPECT_EQ(vxapi_get_nvram(fd, &rec, got.data(), 256, &status), 1);
}

// Each worker waits out a busy driver twice at most; on a sysfs port each
// goes to its sysfs twin and sends nothing.
TEST_F(NvramVpdDriver, BusyThreeTimesEndsWithStatusBusyAndSysfsPortsSendNothing) {
    Bytes buf(128, 0);
    uint32_t size = 128;
    const std::function<int32_t(uint32_t*)> workers[] = {
        [&](uint32_t* st) { return vxapi_get_nvram(fd, &rec, buf.data(), 128, st); },
        [&](uint32_t* st) { return vxapi_set_nvram(fd, &rec, buf.data(), 128, st); },
        [&](uint32_t* st) { return vxapi_get_vpd(fd, &rec, buf.data(), &(size = 128), st); },
        [&](uint32_t* st) { return vxapi_set_vpd(fd, &rec, buf.data(), &(size = 128), st); },
    };
    const char* const exit_lines[] = {"vxapi_get_nvram: exiting=0\n", "vxapi_set_nvram: exiting=0\n",
                                      "vxapi_get_vpd: exiting.\n", "vxapi_set_vpd: exiting.\n"};
    for (size_t i = 0; i < std::size(workers); ++i) {
        SCOPED_TRACE(i);
        driver.clear_log();
        host.clear_sleeps();
        host.clear_stderr();
        driver.inject_busy(3);
        uint32_t status = 0;
        rec.features = VX_FEAT_NEW_IOCTL;
        EXPECT_EQ(workers[i](&status), 0);
        EXPECT_EQ(status, EXT_STATUS_BUSY);
        EXPECT_EQ(driver.log().size(), 3u);
        EXPECT_EQ(host.sleep_seconds(), (std::vector<unsigned>{20, 20}));
        EXPECT_NE(host.stderr_text().find(exit_lines[i]), std::string::npos);

        driver.clear_log();
        rec.features = VX_FEAT_SYSFS;
        EXPECT_EQ(workers[i](&status), 0);
        EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);  // no attribute file
        EXPECT_TRUE(driver.log().empty());
    }
}

TEST_F(NvramVpdDriver, DeliveredVpdLengthIsReportedAndNeverExceedsTheBuffer) {
    adapter->vpd = pattern(100, 9);
    Bytes buf(512, 0xEE);
    uint32_t size = 512;
    uint32_t status = 99;
    ASSERT_EQ(vxapi_get_vpd(fd, &rec, buf.data(), &size, &status), 0);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 100), adapter->vpd);

    // A driver that claims more than the buffer holds.
    adapter->vpd = pattern(512, 5);
    driver.inject_overreport(300);
    size = 512;
    ASSERT_EQ(vxapi_get_vpd(fd, &rec, buf.data(), &size, &status), 0);
    EXPECT_EQ(size, 512u);
}

// ---------------------------------------------------------------- the flash road

// A rig of the chip whose table has every VPD region, each region filled
// with bytes of its own; the driver keeps a VPD of its own too.
struct VpdRig : FlashRig {
    explicit VpdRig(uint16_t device_id) : FlashRig(device_id, sim::vpd_flash_options(device_id)) {
        vx_debug = 0xFFFFFFFF;
        sim::install_nvram_vpd(driver);
        adapter->vpd = pattern(512, 0x25);
        for (uint8_t code : {0x14, 0x16, 0xD4, 0xD6, 0x81}) {
            const sim::FltRegion* r = sim::find_region(flash, code);
            sim::place_in_region(*adapter, flash, code, pattern(r->size, code));
        }
    }
    void build_layout() {
        ASSERT_EQ(vxapi_set_option_rom_layout(fd, &rec), 0);
        driver.clear_log();
    }
};

TEST(NvramVpdFlash, EachPciFunctionReadsItsOwnVpdRegion) {
    struct Case {
        uint16_t device;
        uint16_t func;
        uint8_t region;  // 0: the driver's VPD
        uint32_t buffer;
    };
    const Case cases[] = {
        {0x2071, 0, 0x14, 0x200}, {0x2071, 1, 0x16, 0x200}, {0x2071, 2, 0xD4, 0x200}, {0x2071, 3, 0xD6, 0x200},
        {0x2071, 4, 0x14, 0x200}, {0x2261, 3, 0xD6, 0x200}, {0x2031, 2, 0x14, 0x200}, {0x2031, 3, 0x16, 0x200},
        {0x8001, 1, 0x16, 0x200}, {0x8044, 1, 0x81, 0x400}, {0x8021, 0, 0x81, 0x400},
        // A buffer smaller than the region takes the region's head and no more.
        {0x2271, 2, 0xD4, 100},
        {0x2532, 1, 0, 0x200},  // asks the driver
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.device << " function " << c.func);
        VpdRig rig(c.device);
        rig.phy.pci_dev_func = c.func;
        rig.build_layout();
        vxapi_install_global_layout(nullptr, 0);  // another adapter's layout, say

        sim::Exact buf(Bytes(c.buffer, 0));
        uint32_t size = c.buffer;
        uint32_t status = 99;
        ASSERT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.get(), &size, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(size, c.buffer);  // left as it was
        if (c.region == 0) {
            EXPECT_EQ(buf.bytes(), rig.adapter->vpd);
            EXPECT_EQ(commands(rig.driver), std::vector<uint8_t>{EXT_CC_GET_VPD});
            continue;
        }
        EXPECT_EQ(buf.bytes(), pattern(c.buffer, c.region));
        EXPECT_EQ(std::memcmp(&gOptRomLayout, rig.phy.pflt_layout, sizeof gOptRomLayout), 0);
        EXPECT_EQ(commands(rig.driver), std::vector<uint8_t>{EXT_CC_READ_OPTROM});
    }
}

TEST(NvramVpdFlash, SysfsVirtualPortReadsThroughItsPhysicalPort) {
    VpdRig rig(0x8001);
    rig.phy.pci_dev_func = 1;
    Bytes buf(0x200, 0);
    uint32_t size = 0x200;
    uint32_t status = 0;
    // Without the function's layout there is no region to read.
    EXPECT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 1);
    EXPECT_TRUE(rig.driver.log().empty());
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
    EXPECT_EQ(commands(rig.driver), std::vector<uint8_t>{EXT_CC_READ_OPTROM});

    // A sysfs physical port reads its flash through the sysfs road (which
    // has no flash files here).
    rig.driver.clear_log();
    rig.rec.features = VX_FEAT_SYSFS;
    EXPECT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
    EXPECT_TRUE(rig.driver.log().empty());
}

}  // namespace

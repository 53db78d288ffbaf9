// NVRAM and VPD requests of a port: the driver road with its busy resends
// and delivered lengths, the sysfs twins, and the VPD read from the flash
// region of each PCI function on the flash-layout chips.
#include <fcntl.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_layout.h"
#include "core/vx_nvram_vpd.h"
#include "core/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"

namespace {

using sim::Bytes;
using sim::FlashRig;

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + 7 * i);
    return b;
}

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
        rec.features = VX_FEAT_NEW_IOCTL;
        rec.drvr_inst = port->instance;
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

TEST_F(NvramVpdDriver, EachWorkerCarriesItsBytesInEitherHeaderLayout) {
    for (bool new_header : {true, false}) {
        SCOPED_TRACE(new_header ? "new header" : "old header");
        rec.features = new_header ? VX_FEAT_NEW_IOCTL : 0;
        driver.clear_log();
        const Bytes nvram = pattern(256, new_header ? 1 : 2);
        const Bytes vpd = pattern(512, new_header ? 3 : 4);
        uint32_t status = 99;

        ASSERT_EQ(vxapi_set_nvram(fd, &rec, nvram.data(), 256, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(port->nvram, nvram);
        Bytes got(256, 0);
        ASSERT_EQ(vxapi_get_nvram(fd, &rec, got.data(), 256, &status), 0);
        EXPECT_EQ(got, nvram);

        uint32_t size = 512;
        ASSERT_EQ(vxapi_set_vpd(fd, &rec, vpd.data(), &size, &status), 0);
        EXPECT_EQ(adapter->vpd, vpd);
        Bytes vgot(512, 0);
        size = 512;
        ASSERT_EQ(vxapi_get_vpd(fd, &rec, vgot.data(), &size, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(vgot, vpd);
        EXPECT_EQ(size, 512u);

        const auto log = driver.log();
        ASSERT_EQ(log.size(), 4u);
        const uint8_t expected[] = {EXT_CC_UPDATE_NVRAM, EXT_CC_READ_NVRAM, EXT_CC_SET_VPD, EXT_CC_GET_VPD};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(log[i].command, expected[i]);
            EXPECT_EQ(log[i].code, new_header ? sim::sim_code(expected[i]) : sim::sim_code_old(expected[i]));
            EXPECT_EQ(log[i].sub_code, 0);
            EXPECT_EQ(log[i].instance, 0);
        }
        EXPECT_EQ(log[0].request_len, 256u);  // writes carry a request, reads a response
        EXPECT_EQ(log[0].response_len, 0u);
        EXPECT_EQ(log[1].request_len, 0u);
        EXPECT_EQ(log[1].response_len, 256u);
    }
}

// The four workers on the fixture's port, each with a 128-byte buffer.
std::vector<std::function<int32_t(uint32_t*)>> workers(int fd, vxapi_priv_database* rec, Bytes& buf) {
    return {
        [=, &buf](uint32_t* st) { return vxapi_get_nvram(fd, rec, buf.data(), 128, st); },
        [=, &buf](uint32_t* st) { return vxapi_set_nvram(fd, rec, buf.data(), 128, st); },
        [=, &buf](uint32_t* st) {
            uint32_t size = 128;
            return vxapi_get_vpd(fd, rec, buf.data(), &size, st);
        },
        [=, &buf](uint32_t* st) {
            uint32_t size = 128;
            return vxapi_set_vpd(fd, rec, buf.data(), &size, st);
        },
    };
}

TEST_F(NvramVpdDriver, BusyThreeTimesEndsWithStatusBusyAfterTwoWaits) {
    Bytes buf(128, 0);
    const auto all = workers(fd, &rec, buf);
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(i);
        driver.clear_log();
        host.clear_sleeps();
        driver.inject_busy(3);
        uint32_t status = 0;
        EXPECT_EQ(all[i](&status), 0);
        EXPECT_EQ(status, EXT_STATUS_BUSY);
        EXPECT_EQ(driver.log().size(), 3u);
        EXPECT_EQ(host.sleep_seconds(), (std::vector<unsigned>{20, 20}));
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

TEST_F(NvramVpdDriver, SysfsPortGoesToItsTwinsWithoutARequest) {
    rec.features = VX_FEAT_SYSFS;
    Bytes buf(128, 0);
    for (const auto& worker : workers(fd, &rec, buf)) {
        uint32_t status = 0;
        EXPECT_EQ(worker(&status), 2);
        EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    }
    EXPECT_TRUE(driver.log().empty());
}

// ---------------------------------------------------------------- the flash road

// A rig of the chip whose table has every VPD region, each region filled
// with bytes of its own.
struct VpdRig : FlashRig {
    explicit VpdRig(uint16_t device_id) : FlashRig(device_id, sim::vpd_flash_options(device_id)) {
        vx_debug = 0xFFFFFFFF;
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
        uint8_t region;
        uint32_t buffer;
    };
    const Case cases[] = {
        {0x2071, 0, 0x14, 0x200}, {0x2071, 1, 0x16, 0x200}, {0x2071, 2, 0xD4, 0x200}, {0x2071, 3, 0xD6, 0x200},
        {0x2071, 4, 0x14, 0x200}, {0x2261, 3, 0xD6, 0x200}, {0x2031, 2, 0x14, 0x200}, {0x2031, 3, 0x16, 0x200},
        {0x8001, 1, 0x16, 0x200}, {0x8044, 1, 0x81, 0x400}, {0x8021, 0, 0x81, 0x400},
        // A buffer smaller than the region takes the region's head and no more.
        {0x2271, 2, 0xD4, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.device << " function " << c.func);
        VpdRig rig(c.device);
        rig.phy.pci_dev_func = c.func;
        rig.build_layout();
        vxapi_install_global_layout(nullptr, 0);  // another adapter's layout, say

        std::unique_ptr<uint8_t[]> buf(new uint8_t[c.buffer]);  // exactly the size given
        uint32_t size = c.buffer;
        uint32_t status = 99;
        ASSERT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.get(), &size, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(size, c.buffer);  // left as it was
        EXPECT_EQ(Bytes(buf.get(), buf.get() + c.buffer), pattern(c.buffer, c.region));
        EXPECT_EQ(std::memcmp(&gOptRomLayout, rig.phy.pflt_layout, sizeof gOptRomLayout), 0);
        EXPECT_EQ(commands(rig.driver), std::vector<uint8_t>{EXT_CC_READ_OPTROM});
    }
}

TEST(NvramVpdFlash, Chip2532AsksTheDriver) {
    FlashRig rig(0x2532);
    sim::install_nvram_vpd(rig.driver);
    ASSERT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
    rig.driver.clear_log();
    rig.adapter->vpd = pattern(512, 0x25);
    Bytes buf(512, 0);
    uint32_t size = 512;
    uint32_t status = 99;
    ASSERT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 0);
    EXPECT_EQ(buf, rig.adapter->vpd);
    EXPECT_EQ(commands(rig.driver), std::vector<uint8_t>{EXT_CC_GET_VPD});
}

TEST(NvramVpdFlash, MissingFunctionLayoutFailsBeforeAnyRequest) {
    VpdRig rig(0x2071);
    Bytes buf(0x200, 0);
    uint32_t size = 0x200;
    uint32_t status = 0;
    EXPECT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 1);
    EXPECT_TRUE(rig.driver.log().empty());
}

TEST(NvramVpdFlash, SysfsVirtualPortReadsThroughItsPhysicalPort) {
    VpdRig rig(0x8001);
    rig.phy.pci_dev_func = 1;
    rig.build_layout();
    vxapi_priv_database vport{};
    vport.features = VX_FEAT_SYSFS;
    vport.interface_type = VX_PORT_VIRTUAL;
    vport.phy_info = &rig.phy;
    vport.oshandle = -1;

    Bytes buf(0x200, 0);
    uint32_t size = 0x200;
    uint32_t status = 0;
    // Without a physical port there is nothing to read through.
    EXPECT_EQ(vxapi_get_vpd(-1, &vport, buf.data(), &size, &status), 1);
    EXPECT_TRUE(rig.driver.log().empty());

    vport.parent = &rig.rec;
    ASSERT_EQ(vxapi_get_vpd(-1, &vport, buf.data(), &size, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buf, pattern(0x200, 0x16));
    EXPECT_EQ(commands(rig.driver), std::vector<uint8_t>{EXT_CC_READ_OPTROM});

    // A sysfs physical port reads its flash through the sysfs road.
    rig.driver.clear_log();
    rig.rec.features = VX_FEAT_SYSFS;
    EXPECT_EQ(vxapi_get_vpd(rig.fd, &rig.rec, buf.data(), &size, &status), 2);
    EXPECT_EQ(status, EXT_STATUS_UNSUPPORTED_SUBCODE);
    EXPECT_TRUE(rig.driver.log().empty());
}

}  // namespace

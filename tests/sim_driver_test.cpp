// What later tests rely on in the simulated adapter driver: how it decodes
// and refuses headers, routes requests to ports, and answers from handlers,
// canned records and injected faults.
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "platform/vx_platform.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace {

// Stands for a port query answer (56 bytes, the port name first).
struct PortRecord {
    uint8_t WWPN[8];
    uint8_t rest[48];
};

class SimDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.attach(host);
        sim::SimAdapter& a = driver.add_adapter();
        driver.add_port(a);
        driver.add_virtual_port(driver.add_port(a));
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override { vx::sys().close(fd); }

    EXT_IOCTL header(uint16_t sub_code, uint16_t hba_select, void* response = nullptr, uint32_t len = 0) {
        vxapi_priv_database rec{};
        rec.drvr_inst = hba_select;
        EXT_IOCTL h;
        vxapi_init_ext_ioctl_n(sub_code, 0, nullptr, 0, response, len, &rec, &h);
        return h;
    }

    sim::SimHost host;
    sim::SimDriver driver;
    int fd = -1;
};

TEST_F(SimDriverTest, ModelNumbersPortsAndFunctions) {
    ASSERT_EQ(driver.ports.size(), 3u);
    EXPECT_EQ(driver.ports[0].instance, 0);
    EXPECT_EQ(driver.ports[1].instance, 1);
    EXPECT_EQ(driver.ports[1].pci_dev_func, 1);
    EXPECT_TRUE(driver.ports[2].is_virtual);
    EXPECT_EQ(driver.ports[2].parent_instance, 1);
    EXPECT_EQ(driver.ports[2].pci_dev_func, 1);
    EXPECT_NE(driver.ports[0].host_no, driver.ports[1].host_no);
}

TEST_F(SimDriverTest, RefusesWhatIsNoRequestHeader) {
    EXT_IOCTL h = header(0, 0);
    EXPECT_EQ(vx::sys().ioctl(fd, 0xC0107900u, &h), -1);  // size 16: no header of this driver
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(vx::sys().ioctl(fd, 0xC0745500u, &h), -1);  // another driver's type byte
    EXPECT_EQ(errno, ENOTTY);
    h.Signature[0] = 'X';
    EXPECT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_QUERY), &h), -1);
    EXPECT_EQ(errno, EINVAL);
    h = header(0, 0);
    h.Version = 5;  // old version in the new layout
    EXPECT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_QUERY), &h), 0);
    EXPECT_EQ(h.Status, 13u);
}

TEST_F(SimDriverTest, CountAcceptsAnAllZeroHeader) {
    EXT_IOCTL n{};
    EXPECT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_GET_HBA_CNT), &n), 0);
    EXPECT_EQ(n.Status, 0u);
    EXPECT_EQ(n.Instance, 3);
    EXT_IOCTL_O o{};
    EXPECT_EQ(vx::sys().ioctl(fd, sim::sim_code_old(EXT_CC_GET_HBA_CNT), &o), 0);
    EXPECT_EQ(o.Instance, 3);
    EXPECT_FALSE(driver.log()[1].new_layout);
}

TEST_F(SimDriverTest, RoutesByHbaSelectAndAnswers) {
    PortRecord first{}, second{};
    first.WWPN[7] = 0x11;
    second.WWPN[7] = 0x22;
    driver.ports[0].set_record(EXT_CC_QUERY, 2, first);
    driver.ports[1].set_record(EXT_CC_QUERY, 2, second);
    driver.on(EXT_CC_QUERY, [](const sim::SimRequest&) { return sim::SimReply::with_status(1); });

    PortRecord got{};
    EXT_IOCTL h = header(2, 1, &got, sizeof got);
    ASSERT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_QUERY), &h), 0);
    EXPECT_EQ(h.Status, 1u);  // a handler takes precedence over canned records

    driver.on(EXT_CC_QUERY, 2, [](const sim::SimRequest& r) {
        return sim::SimReply::with_record(*reinterpret_cast<const PortRecord*>(r.port->records.at({0, 2}).data()));
    });
    h = header(2, 1, &got, sizeof got);
    ASSERT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_QUERY), &h), 0);
    EXPECT_EQ(h.Status, 0u);
    EXPECT_EQ(h.ResponseLen, sizeof got);
    EXPECT_EQ(got.WWPN[7], 0x22);

    h = header(2, 9, &got, sizeof got);  // no driver instance 9
    ASSERT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_QUERY), &h), 0);
    EXPECT_EQ(h.Status, 9u);

    h = header(0, 0);
    ASSERT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_BOARD_TEMP), &h), 0);
    EXPECT_EQ(h.Status, 12u);  // nobody answers this command
}

TEST_F(SimDriverTest, ForcedStatusStillDeliversAndLengthWithoutBufferReadsNothing) {
    EXT_CHIP chip{};
    chip.DeviceId = 0x2532;
    driver.ports[0].set_record(EXT_CC_QUERY, 8, chip);
    driver.inject_status(EXT_STATUS_DATA_UNDERRUN);
    EXT_CHIP got{};
    EXT_IOCTL h = header(8, 0, &got, sizeof got);
    h.RequestLen = 4096;  // a length with no request buffer, as a plain flash read sends it
    ASSERT_EQ(vx::sys().ioctl(fd, sim::sim_code(EXT_CC_QUERY), &h), 0);
    EXPECT_EQ(h.Status, EXT_STATUS_DATA_UNDERRUN);
    EXPECT_EQ(got.DeviceId, 0x2532);
    EXPECT_EQ(driver.log().back().request_len, 4096u);
}

}  // namespace

// What later tests rely on in the simulated adapter driver: how it decodes
// and refuses headers, routes requests to ports, and answers from handlers,
// canned records and injected faults.
#include "test_support.h"

namespace {

// Stands for a port query answer (56 bytes, the port name first).
struct PortRecord {
    uint8_t WWPN[8];
    uint8_t rest[48];
};

TEST(SimDriver, DecodesRoutesAndAnswers) {
    sim::DriverRig rig;
    sim::SimDriver& driver = rig.driver;
    sim::SimAdapter& adapter = driver.add_adapter();
    driver.add_port(adapter);
    driver.add_virtual_port(driver.add_port(adapter));
    ASSERT_EQ(driver.ports.size(), 3u);
    EXPECT_EQ(driver.ports[1].pci_dev_func, 1);
    EXPECT_TRUE(driver.ports[2].is_virtual);
    EXPECT_EQ(driver.ports[2].parent_instance, 1);
    EXPECT_EQ(driver.ports[2].pci_dev_func, 1);
    EXPECT_NE(driver.ports[0].host_no, driver.ports[1].host_no);
    const auto header = [](uint16_t sub_code, uint16_t hba_select, void* response = nullptr,
                           uint32_t len = 0) {
        vxapi_priv_database rec{};
        rec.drvr_inst = hba_select;
        EXT_IOCTL h;
        vxapi_init_ext_ioctl_n(sub_code, 0, nullptr, 0, response, len, &rec, &h);
        return h;
    };
    const auto send = [&](uint8_t command, EXT_IOCTL& h) {
        return vx::sys().ioctl(rig.fd, sim::sim_code(command), &h);
    };
    // What is no request header of this driver is refused.
    EXT_IOCTL h = header(0, 0);
    EXPECT_EQ(vx::sys().ioctl(rig.fd, 0xC0107900u, &h), -1);  // size 16
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(vx::sys().ioctl(rig.fd, 0xC0745500u, &h), -1);  // another driver's type byte
    EXPECT_EQ(errno, ENOTTY);
    h.Signature[0] = 'X';
    EXPECT_EQ(send(EXT_CC_QUERY, h), -1);
    EXPECT_EQ(errno, EINVAL);
    h = header(0, 0);
    h.Version = 5;  // old version in the new layout
    EXPECT_EQ(send(EXT_CC_QUERY, h), 0);
    EXPECT_EQ(h.Status, 13u);
    // The adapter count takes an all-zero header of either layout.
    EXT_IOCTL n{};
    EXPECT_EQ(send(EXT_CC_GET_HBA_CNT, n), 0);
    EXPECT_EQ(n.Instance, 3);
    EXT_IOCTL_O o{};
    EXPECT_EQ(vx::sys().ioctl(rig.fd, sim::sim_code_old(EXT_CC_GET_HBA_CNT), &o), 0);
    EXPECT_EQ(o.Instance, 3);
    EXPECT_FALSE(driver.log().back().new_layout);
    // A forced status still delivers; a length without a buffer reads nothing.
    EXT_CHIP chip{}, chip_got{};
    chip.DeviceId = 0x2532;
    driver.ports[0].set_record(EXT_CC_QUERY, 8, chip);
    driver.inject_status(EXT_STATUS_DATA_UNDERRUN);
    h = header(8, 0, &chip_got, sizeof chip_got);
    h.RequestLen = 4096;  // as a plain flash read sends it
    ASSERT_EQ(send(EXT_CC_QUERY, h), 0);
    EXPECT_EQ(h.Status, EXT_STATUS_DATA_UNDERRUN);
    EXPECT_EQ(chip_got.DeviceId, 0x2532);
    EXPECT_EQ(driver.log().back().request_len, 4096u);
    // Requests reach the port HbaSelect names; a sub-code handler wins over a
    // command handler, which wins over canned records.
    PortRecord first{}, second{}, got{};
    first.WWPN[7] = 0x11;
    second.WWPN[7] = 0x22;
    driver.ports[0].set_record(EXT_CC_QUERY, 2, first);
    driver.ports[1].set_record(EXT_CC_QUERY, 2, second);
    driver.on(EXT_CC_QUERY, [](const sim::SimRequest&) { return sim::SimReply::with_status(1); });
    h = header(2, 1, &got, sizeof got);
    ASSERT_EQ(send(EXT_CC_QUERY, h), 0);
    EXPECT_EQ(h.Status, 1u);
    driver.on(EXT_CC_QUERY, 2, [](const sim::SimRequest& r) {
        return sim::SimReply::with_record(
            *reinterpret_cast<const PortRecord*>(r.port->records.at({0, 2}).data()));
    });
    h = header(2, 1, &got, sizeof got);
    ASSERT_EQ(send(EXT_CC_QUERY, h), 0);
    EXPECT_EQ(h.Status, 0u);
    EXPECT_EQ(h.ResponseLen, sizeof got);
    EXPECT_EQ(got.WWPN[7], 0x22);
    h = header(2, 9, &got, sizeof got);  // no driver instance 9
    ASSERT_EQ(send(EXT_CC_QUERY, h), 0);
    EXPECT_EQ(h.Status, 9u);
    h = header(0, 0);
    ASSERT_EQ(send(EXT_CC_BOARD_TEMP, h), 0);
    EXPECT_EQ(h.Status, 12u);  // nobody answers this command
}

}  // namespace

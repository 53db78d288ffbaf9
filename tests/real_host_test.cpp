// The production platform on this machine, read-only: libsysfs finds the
// sysfs mount point and lists the PCI bus.
#include <gtest/gtest.h>

#include "platform/vx_platform.h"

namespace {

TEST(RealHost, SysfsMountAndPciBusThroughLibsysfs) {
    vx::Platform& host = vx::linux_platform();
    char mnt[256] = {};
    ASSERT_EQ(host.sysfs_get_mnt_path(mnt, sizeof mnt), 0);
    EXPECT_STREQ(mnt, "/sys");
    struct sysfs_bus* bus = host.sysfs_open_bus("pci");
    if (bus == nullptr) GTEST_SKIP() << "this machine has no PCI bus in sysfs";
    struct dlist* devices = host.sysfs_get_bus_devices(bus);
    ASSERT_NE(devices, nullptr);
    struct sysfs_device* dev = nullptr;
    unsigned count = 0;
    dlist_for_each_data(devices, dev, struct sysfs_device) {
        ++count;
        EXPECT_EQ(std::string(dev->path).rfind("/sys/devices/", 0), 0u) << dev->path;
        struct sysfs_attribute* vendor = host.sysfs_get_device_attr(dev, "vendor");
        ASSERT_NE(vendor, nullptr);
        EXPECT_EQ(std::string(vendor->value).rfind("0x", 0), 0u);
    }
    EXPECT_GT(count, 0u);
    host.sysfs_close_bus(bus);
}

}  // namespace

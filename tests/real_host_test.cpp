// The production platform on this machine, which has no adapters: libsysfs
// finds the sysfs mount point and lists the PCI bus; a load runs the sysfs
// discovery over it, finds nothing and leaves nothing behind.
#include "core/vx_load.h"
#include "shared_file_support.h"
#include "transport/vx_sysfs.h"

namespace {

// The production platform, with the driver look-ups on the PCI bus and the
// calls that make files or nodes counted.
class CountingPlatform final : public sim::ForwardingPlatform {
public:
    CountingPlatform() : ForwardingPlatform(vx::linux_platform()) {}
    struct sysfs_driver* sysfs_get_bus_driver(struct sysfs_bus* bus, const char* name) override {
        looked_up.push_back(name);
        return ForwardingPlatform::sysfs_get_bus_driver(bus, name);
    }
    int open(const char* path, int flags, mode_t mode) override {
        made += (flags & O_CREAT) != 0 ? 1 : 0;
        return ForwardingPlatform::open(path, flags, mode);
    }
    int mknod(const char* path, mode_t mode, dev_t dev) override {
        ++made;
        return ForwardingPlatform::mknod(path, mode, dev);
    }
    std::vector<std::string> looked_up;
    int made = 0;
};

bool sem_exists(key_t key) { return ::semget(key, 1, 0) >= 0; }

TEST(RealHost, LoadRunsSysfsDiscoveryFindsNothingLeavesNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "loading needs root";
    struct stat st {};
    if (::lstat("/dev/vxa2xxx", &st) == 0) GTEST_SKIP() << "this machine has the adapter driver's node";
    shtest::reset_shared_state();
    const bool had_load_sem = sem_exists(VX_SEM_KEY_LOAD);
    const bool had_sems = sem_exists(VX_SEM_KEY_FLASH) || sem_exists(VX_SEM_KEY_SHARED);
    {
        CountingPlatform host;
        EXPECT_EQ(vxapi_load_lib(), 0);
        EXPECT_EQ(host.looked_up, std::vector<std::string>(driver_names, driver_names + VXSYSFS_DRIVER_NAMES));
        EXPECT_TRUE(api_priv_database == nullptr && api_phy_info == nullptr);
        EXPECT_EQ(vxapi_unload_lib(), 0);
        EXPECT_EQ(host.made, 0);
    }
    EXPECT_EQ(sem_exists(VX_SEM_KEY_FLASH) || sem_exists(VX_SEM_KEY_SHARED), had_sems);
    EXPECT_NE(::access(VX_SHARED_FILE, F_OK), 0);
    // The library never removes the load semaphore; the one this test made goes again.
    if (!had_load_sem && sem_exists(VX_SEM_KEY_LOAD)) ::semctl(::semget(VX_SEM_KEY_LOAD, 1, 0), 0, IPC_RMID);
    shtest::reset_shared_state();
}

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

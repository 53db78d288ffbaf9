// The simulated host keeps the promises later tests build on: paths stay in
// the sandbox, device nodes lead to their device, semaphores of two hosts
// never meet, sleeps take no time, and the sysfs tree lists a driver's devices.
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "test_support.h"

namespace {

class EchoDevice : public sim::SimDevice {
public:
    int ioctl(dev_t rdev, unsigned long, void* arg) override {
        *static_cast<unsigned*>(arg) = minor(rdev);
        return 0;
    }
};

TEST(SimHost, KeepsItsPromises) {
    int first_sem = -1;
    {
        sim::SimHost host;
        vx::Platform& sys = vx::sys();
        // Files in the sandbox, with injected open failures.
        int fd = sys.open("/tmp/file.dat", O_RDWR | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(sys.write(fd, "abc", 3), 3);
        sys.close(fd);
        EXPECT_EQ(::access((host.root() + "/tmp/file.dat").c_str(), F_OK), 0);
        host.fail_open("/tmp/file.dat", EACCES, 1);
        EXPECT_EQ(sys.open("/tmp/file.dat", O_RDONLY), -1);
        EXPECT_EQ(errno, EACCES);
        EXPECT_EQ(host.read_file("/tmp/file.dat"), "abc");
        // Device nodes, and mknod only where no node is.
        EchoDevice dev;
        host.register_device(240, &dev);
        host.add_node("/dev/echo", S_IFCHR | 0600, makedev(240, 7));
        fd = sys.open("/dev/echo", O_RDWR);
        ASSERT_GE(fd, 1000);
        unsigned answer = 0;
        EXPECT_EQ(sys.ioctl(fd, 0xC0747900u, &answer), 0);
        EXPECT_EQ(answer, 7u);
        struct stat st {};
        EXPECT_EQ(sys.fstat(fd, &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode) && major(st.st_rdev) == 240u);
        sys.close(fd);
        EXPECT_EQ(host.open_device_count(), 0u);
        EXPECT_EQ(sys.mknod("/dev/echo", S_IFCHR, makedev(240, 0)), -1);
        EXPECT_EQ(sys.unlink("/dev/echo"), 0);
        EXPECT_EQ(sys.mknod("/dev/echo", S_IFCHR, makedev(240, 0)), 0);
        EXPECT_EQ(host.mknod_log(), std::vector<std::string>{"/dev/echo 20000 240:0"});
        EXPECT_EQ(sys.open("/dev/none", O_RDWR), -1);
        // Semaphores of two hosts never meet.
        first_sem = sys.semget(829, 1, IPC_CREAT | IPC_EXCL | 0644);
        ASSERT_GE(first_sem, 0);
        {
            sim::SimHost other;
            const int second = vx::sys().semget(829, 1, IPC_CREAT | IPC_EXCL | 0644);
            EXPECT_GE(second, 0);
            EXPECT_NE(second, first_sem);
        }
        // Sleeps advance the virtual clock.
        const time_t start = sys.time();
        sys.sleep(20);
        sys.sleep(20);
        EXPECT_EQ(sys.time(), start + 40);
        EXPECT_EQ(host.sleep_seconds(), (std::vector<unsigned>{20, 20}));
        // The sysfs tree: a PCI device of a driver and its attributes.
        const std::string device = "/sys/devices/pci0000:00/0000:03:00.0";
        host.write_file(device + "/device", "0x2532\n");
        host.make_symlink("../../../devices/pci0000:00/0000:03:00.0", "/sys/bus/pci/devices/0000:03:00.0");
        host.make_dir("/sys/bus/pci/drivers/vxa2xxx");
        host.make_symlink("../../../../devices/pci0000:00/0000:03:00.0",
                          "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
        host.make_symlink("../../../../bus/pci/drivers/vxa2xxx", device + "/driver");
        char text[256];
        ASSERT_EQ(sys.sysfs_get_mnt_path(text, sizeof text), 0);
        EXPECT_STREQ(text, "/sys");
        struct sysfs_bus* bus = sys.sysfs_open_bus("pci");
        ASSERT_NE(bus, nullptr);
        struct sysfs_driver* drv = sys.sysfs_get_bus_driver(bus, "vxa2xxx");
        ASSERT_NE(drv, nullptr);
        struct dlist* devs = sys.sysfs_get_driver_devices(drv);
        ASSERT_TRUE(devs != nullptr && devs->count == 1);
        struct sysfs_device* d = nullptr;
        dlist_for_each_data(devs, d, struct sysfs_device) {
            EXPECT_STREQ(d->bus_id, "0000:03:00.0");
            EXPECT_EQ(d->path, device);
            EXPECT_STREQ(d->driver_name, "vxa2xxx");
            struct sysfs_attribute* a = sys.sysfs_get_device_attr(d, "device");
            ASSERT_NE(a, nullptr);
            EXPECT_STREQ(a->value, "0x2532\n");
        }
        sys.sysfs_close_bus(bus);
    }
    EXPECT_EQ(::semctl(first_sem, 0, GETVAL), -1) << "the host removed its semaphores when it went";
}

}  // namespace

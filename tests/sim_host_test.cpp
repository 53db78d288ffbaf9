// The simulated host keeps its promises: paths stay in the sandbox, device
// nodes lead to their device, semaphores of two hosts never meet, sleeps take
// no time, and shell commands are recorded and answered.
#include <fcntl.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/vx_platform.h"
#include "sim_host.h"

namespace {

class EchoDevice : public sim::SimDevice {
public:
    int ioctl(dev_t rdev, unsigned long code, void* arg) override {
        last_code = code;
        *static_cast<unsigned*>(arg) = minor(rdev);
        return 0;
    }
    unsigned long last_code = 0;
};

TEST(SimHost, PathsMapIntoTheSandbox) {
    sim::SimHost host;
    int fd = vx::sys().open("/tmp/file.dat", O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(vx::sys().write(fd, "abc", 3), 3);
    vx::sys().close(fd);
    EXPECT_EQ(host.read_file("/tmp/file.dat"), "abc");
    EXPECT_EQ(::access((host.root() + "/tmp/file.dat").c_str(), F_OK), 0);
    host.fail_open("/tmp/file.dat", EACCES, 1);
    EXPECT_EQ(vx::sys().open("/tmp/file.dat", O_RDONLY), -1);
    EXPECT_EQ(errno, EACCES);
    fd = vx::sys().open("/tmp/file.dat", O_RDONLY);
    EXPECT_GE(fd, 0);
    vx::sys().close(fd);
}

TEST(SimHost, DeviceNodesLeadToTheirDevice) {
    sim::SimHost host;
    EchoDevice dev;
    host.register_device(240, &dev);
    host.add_node("/dev/echo", S_IFCHR | 0600, makedev(240, 7));
    int fd = vx::sys().open("/dev/echo", O_RDWR);
    ASSERT_GE(fd, 1000);
    unsigned answer = 0;
    EXPECT_EQ(vx::sys().ioctl(fd, 0xC0747900u, &answer), 0);
    EXPECT_EQ(answer, 7u);
    struct stat st {};
    EXPECT_EQ(vx::sys().fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), 240u);
    vx::sys().close(fd);
    EXPECT_EQ(host.open_device_count(), 0u);
    EXPECT_EQ(vx::sys().mknod("/dev/echo", S_IFCHR, makedev(240, 0)), -1);
    EXPECT_EQ(vx::sys().unlink("/dev/echo"), 0);
    EXPECT_EQ(vx::sys().mknod("/dev/echo", S_IFCHR, makedev(240, 0)), 0);
    ASSERT_EQ(host.mknod_log().size(), 1u);
    EXPECT_EQ(host.mknod_log()[0], "/dev/echo 20000 240:0");
    EXPECT_EQ(vx::sys().open("/dev/none", O_RDWR), -1);
}

TEST(SimHost, SemaphoreKeysOfTwoHostsNeverMeet) {
    int first_id;
    {
        sim::SimHost a;
        first_id = vx::sys().semget(829, 1, IPC_CREAT | IPC_EXCL | 0644);
        ASSERT_GE(first_id, 0);
        {
            sim::SimHost b;
            int other = vx::sys().semget(829, 1, IPC_CREAT | IPC_EXCL | 0644);
            ASSERT_GE(other, 0);
            EXPECT_NE(other, first_id);
        }
    }
    // The host removed its semaphores when it went.
    EXPECT_EQ(::semctl(first_id, 0, GETVAL), -1);
}

TEST(SimHost, SleepsAdvanceTheVirtualClock) {
    sim::SimHost host;
    time_t start = vx::sys().time();
    vx::sys().sleep(20);
    vx::sys().sleep(20);
    EXPECT_EQ(vx::sys().time(), start + 40);
    EXPECT_EQ(host.sleep_seconds(), (std::vector<unsigned>{20, 20}));
}

TEST(SimHost, ShellCommandsAreRecordedAndAnswered) {
    sim::SimHost host;
    host.script_command("lsmod | grep x", {"x 1 0\n", 0});
    FILE* f = vx::sys().popen("lsmod | grep x", "r");
    ASSERT_NE(f, nullptr);
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "x 1 0\n");
    EXPECT_EQ(vx::sys().pclose(f), 0);
    EXPECT_EQ(vx::sys().system("modprobe nothing"), 127 << 8);
    host.write_file("/etc/a.conf", "data");
    EXPECT_EQ(vx::sys().system("cp /etc/a.conf /tmp/b.conf"), 0);
    EXPECT_EQ(host.read_file("/tmp/b.conf"), "data");
    EXPECT_EQ(vx::sys().system("rm -f /etc/a.conf"), 0);
    EXPECT_FALSE(host.exists("/etc/a.conf"));
    EXPECT_EQ(host.commands().size(), 4u);
}

TEST(SimHost, SysfsTreeWithProgrammableAttributes) {
    sim::SimHost host;
    host.make_dir("/sys/devices/pci0000:00/0000:03:00.0/host5");
    host.write_file("/sys/devices/pci0000:00/0000:03:00.0/device", "0x2532\n");
    host.make_symlink("../../../devices/pci0000:00/0000:03:00.0", "/sys/bus/pci/devices/0000:03:00.0");
    host.make_dir("/sys/bus/pci/drivers/vxa2xxx");
    host.make_symlink("../../../../devices/pci0000:00/0000:03:00.0", "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0");
    host.make_symlink("../../../../bus/pci/drivers/vxa2xxx", "/sys/devices/pci0000:00/0000:03:00.0/driver");

    char mnt[256];
    ASSERT_EQ(vx::sys().sysfs_get_mnt_path(mnt, sizeof mnt), 0);
    EXPECT_STREQ(mnt, "/sys");
    struct sysfs_bus* bus = vx::sys().sysfs_open_bus("pci");
    ASSERT_NE(bus, nullptr);
    struct sysfs_driver* drv = vx::sys().sysfs_get_bus_driver(bus, "vxa2xxx");
    ASSERT_NE(drv, nullptr);
    struct dlist* devs = vx::sys().sysfs_get_driver_devices(drv);
    ASSERT_NE(devs, nullptr);
    struct sysfs_device* dev = nullptr;
    int n = 0;
    dlist_for_each_data(devs, dev, struct sysfs_device) {
        ++n;
        EXPECT_STREQ(dev->bus_id, "0000:03:00.0");
        EXPECT_STREQ(dev->path, "/sys/devices/pci0000:00/0000:03:00.0");
        EXPECT_STREQ(dev->driver_name, "vxa2xxx");
        struct sysfs_attribute* a = vx::sys().sysfs_get_device_attr(dev, "device");
        ASSERT_NE(a, nullptr);
        EXPECT_STREQ(a->value, "0x2532\n");
    }
    EXPECT_EQ(n, 1);
    vx::sys().sysfs_close_bus(bus);

    std::string written;
    host.on_attr_read("/sys/class/scsi_host/host5/optrom_ctl", [] { return std::string("0\n"); });
    host.on_attr_write("/sys/class/scsi_host/host5/optrom_ctl", [&](const std::string& v) {
        written = v;
        return EINVAL;
    });
    struct sysfs_attribute* ctl = vx::sys().sysfs_open_attribute("/sys/class/scsi_host/host5/optrom_ctl");
    ASSERT_NE(ctl, nullptr);
    EXPECT_EQ(vx::sys().sysfs_write_attribute(ctl, "4", 2), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(written, std::string("4\0", 2));
    vx::sys().sysfs_close_attribute(ctl);

    char target[256];
    ASSERT_EQ(vx::sys().sysfs_get_link("/sys/bus/pci/devices/0000:03:00.0", target, sizeof target), 0);
    EXPECT_STREQ(target, "/sys/devices/pci0000:00/0000:03:00.0");
    struct dlist* dirs = vx::sys().sysfs_open_directory_list("/sys/bus/pci/devices");
    EXPECT_EQ(dirs, nullptr);  // only links there
    struct dlist* links = vx::sys().sysfs_open_link_list("/sys/bus/pci/devices");
    ASSERT_NE(links, nullptr);
    EXPECT_EQ(links->count, 1u);
    vx::sys().sysfs_close_list(links);
}

}  // namespace

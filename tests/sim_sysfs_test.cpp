// The simulated sysfs-mode adapters: one attribute reached by every path
// that resolves to it, through libsysfs and plain file calls; the flash
// window; attribute faults; device objects by path; the clock's microseconds.
#include <fcntl.h>
#include <sys/sysmacros.h>

#include "sim_sysfs_adapters.h"
#include "test_support.h"

namespace {

sim::SysfsSetup one_adapter(bool class_links) {
    sim::SysfsSetup setup;
    sim::SysfsAdapter a = sim::sysfs_adapter(0x2532, {7});
    a.functions[0].vports = {9};
    a.functions[0].host.rports = {sim::SysfsRemotePort{}};
    a.functions[0].host.rports[0].number = 1;
    a.functions[0].host.rports[0].luns = {sim::SysfsLun{0, "sdc", 3, {"tape0"}}};
    setup.adapters = {a};
    setup.class_links = class_links;
    return setup;
}

std::string read_plain(sim::SimHost& host, const std::string& path, off_t at = 0) {
    const int fd = host.open(path.c_str(), O_RDONLY, 0);
    if (fd < 0) return "open failed";
    std::string out(64, '\0');
    host.lseek(fd, at, SEEK_SET);
    const ssize_t n = host.read(fd, out.data(), out.size());
    host.close(fd);
    return n < 0 ? "read failed" : out.substr(0, static_cast<size_t>(n));
}

std::string read_sysfs(sim::SimHost& host, const std::string& path) {
    struct sysfs_attribute* attr = host.sysfs_open_attribute(path.c_str());
    if (attr == nullptr) return "absent";
    const std::string out = host.sysfs_read_attribute(attr) == 0 ? std::string(attr->value, attr->len) : "fail";
    host.sysfs_close_attribute(attr);
    return out;
}

int write_sysfs(sim::SimHost& host, const std::string& path, const std::string& value) {
    struct sysfs_attribute* attr = host.sysfs_open_attribute(path.c_str());
    if (attr == nullptr) return -2;
    const int rc = host.sysfs_write_attribute(attr, value.data(), value.size());
    host.sysfs_close_attribute(attr);
    return rc;
}

TEST(SimSysfs, OneAttributeByEveryPathInEitherStyle) {
    for (bool links : {true, false}) {
        SCOPED_TRACE(links ? "class links" : "class directories");
        sim::SimHost host;
        sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, one_adapter(links));
        const std::string pci = fabric.pci_dirs.at(0);
        EXPECT_EQ(fabric.host_dirs.at(9), pci + "/host7/vport-7:0-0/host9");
        const std::string names[] = {"/sys/class/fc_host/host7/port_name",
                                     links ? fabric.host_dirs.at(7) + "/fc_host/host7/port_name"
                                           : "/sys/class/scsi_host/../fc_host/host7/port_name"};
        host.set_attr(names[0], sim::text_attr("0x2100000000000077", true));
        for (const std::string& path : names) {
            EXPECT_EQ(read_sysfs(host, path), "0x2100000000000077\n") << path;
            EXPECT_EQ(read_plain(host, path, 2), "2100000000000077\n") << path;
        }
        EXPECT_EQ(write_sysfs(host, names[1], "0x21"), 0);
        EXPECT_EQ(read_plain(host, names[0]), "0x21\n");
        // The driver's flash window behind the driver link and the device path.
        (*fabric.windows.at(7)->flash)[0x1234] = 0x5A;
        const std::string ctl = "/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0/host7/optrom_ctl";
        EXPECT_EQ(write_sysfs(host, ctl, std::string("1:1230:10", 10)), 0);
        EXPECT_EQ(read_plain(host, pci + "/host7/optrom", 4), std::string(1, '\x5A') + std::string(11, '\xFF'));
        EXPECT_EQ(write_sysfs(host, ctl, std::string("4", 2)), -1);
        EXPECT_EQ(fabric.windows.at(7)->controls, (std::vector<std::string>{"1:1230:10", "4"}));
        // The generic link of a LUN, its node, the bsg device numbers.
        EXPECT_EQ(host.read_file("/sys/class/scsi_device/7:0:0:0/device/generic/dev"), "21:3\n");
        EXPECT_EQ(host.node("/dev/sg3")->rdev, makedev(sim::kSgMajor, 3));
        EXPECT_EQ(host.read_file("/sys/class/bsg/rport-7:0-1/dev"), "250:1\n");
        EXPECT_EQ(fabric.bsg_devs.at("fc_host9"), makedev(250, 2));
    }
}

TEST(SimSysfs, FaultsDeviceObjectsAndMicroseconds) {
    sim::SimHost host;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, one_adapter(true));
    const std::string state = "/sys/class/scsi_host/host7/link_state";
    host.set_attr(state, sim::text_attr("Link Down", true));
    host.fail_attr_writes(state, EBUSY, 2);
    EXPECT_EQ(write_sysfs(host, state, "a"), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(write_sysfs(host, state, "b"), -1);
    EXPECT_EQ(write_sysfs(host, state, "c"), 0);
    host.short_attr(state, 3);
    EXPECT_EQ(read_plain(host, state), "c\n");
    EXPECT_EQ(read_sysfs(host, "/sys/class/scsi_host/host7/model_name"), "VX2562\n");
    host.remove("/sys/class/scsi_host/host7/model_name");
    EXPECT_EQ(read_sysfs(host, "/sys/class/scsi_host/host7/model_name"), "absent");
    auto echo = sim::request_attr([](const std::string& r) { return "re:" + r; });
    host.set_attr(fabric.host_dirs.at(7) + "/ct", echo, 0600);
    const int fd = host.open((fabric.host_dirs.at(7) + "/ct").c_str(), O_RDWR, 0);
    EXPECT_EQ(host.write(fd, "abc", 3), 3);
    host.lseek(fd, 0, SEEK_SET);
    char answer[8] = {};
    EXPECT_EQ(host.read(fd, answer, sizeof answer), 6);
    EXPECT_STREQ(answer, "re:abc");
    host.close(fd);

    // As libsysfs: a device object of a directory, not of a link to one.
    EXPECT_EQ(host.sysfs_open_device_path("/sys/bus/pci/drivers/vxa2xxx/0000:03:00.0"), nullptr);
    struct sysfs_device* dev = host.sysfs_open_device_path(fabric.pci_dirs.at(0).c_str());
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(dev->bus_id, "0000:03:00.0");
    EXPECT_STREQ(dev->bus, "pci");
    EXPECT_STREQ(dev->driver_name, "vxa2xxx");
    struct sysfs_attribute* irq = host.sysfs_get_device_attr(dev, "irq");
    ASSERT_NE(irq, nullptr);
    EXPECT_STREQ(irq->value, "35\n");
    host.sysfs_close_device(dev);

    host.set_microseconds(0x1F);
    struct timeval tv {};
    host.gettimeofday(&tv);
    EXPECT_EQ(tv.tv_sec, host.now());
    EXPECT_EQ(tv.tv_usec, 0x1F);
}

}  // namespace

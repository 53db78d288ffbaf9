// The API character device: found through "/proc/devices", made with the
// right device numbers, held open from load to unload, removed at unload.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_sddbg.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace {

constexpr const char* kNode = "/dev/vx2xapidev";

class ApiDevTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.register_device(245, &apidev);
        host.register_device(200, &other);
        vx_debug = 0xFFFFFFFF;
        apidevfd = -1;
    }
    void TearDown() override { vxapi_close_apidev(); }

    sim::SimHost host;
    sim::SimDriver apidev;
    sim::SimDriver other;
};

TEST_F(ApiDevTest, NoDeviceLineMeansNoNode) {
    const char* files[] = {"Character devices:\n 10 misc\n240 vxa2xxx\n",
                           "Character devices:\n  0 vx2xapidev\n",
                           "Character devices:\nvx2xapidev\n"};
    for (const char* text : files) {
        host.write_file("/proc/devices", text);
        vxapi_open_apidev();
        EXPECT_EQ(apidevfd, -1) << text;
        EXPECT_FALSE(host.node(kNode).has_value()) << text;
    }
    host.fail_open("/proc/devices", ENOENT, 1);
    vxapi_open_apidev();
    EXPECT_EQ(apidevfd, -1);
    EXPECT_TRUE(host.mknod_log().empty());
    EXPECT_EQ(host.open_device_count(), 0u);
}

TEST_F(ApiDevTest, NodeIsCreatedWithoutPermissionBitsAndHeldOpen) {
    host.write_file("/proc/devices", "Character devices:\n 10 misc\n245 vx2xapidev\n");
    vxapi_open_apidev();
    EXPECT_GE(apidevfd, 0);
    EXPECT_EQ(host.open_device_count(), 1u);
    ASSERT_TRUE(host.node(kNode).has_value());
    EXPECT_EQ(host.node(kNode)->mode, static_cast<mode_t>(S_IFCHR));
    EXPECT_EQ(host.node(kNode)->rdev, makedev(245, 0));
    EXPECT_EQ(host.mknod_log(), std::vector<std::string>{"/dev/vx2xapidev 20000 245:0"});
}

TEST_F(ApiDevTest, LastMatchingLineWins) {
    host.write_file("/proc/devices", "Character devices:\n200 vx2xapidev\n 10 misc\n245 vx2xapidev\n");
    vxapi_open_apidev();
    ASSERT_TRUE(host.node(kNode).has_value());
    EXPECT_EQ(host.node(kNode)->rdev, makedev(245, 0));
    EXPECT_GE(apidevfd, 0);
}

TEST_F(ApiDevTest, NodeWithWrongNumbersIsReplaced) {
    host.write_file("/proc/devices", "Character devices:\n245 vx2xapidev\n");
    struct Case {
        const char* what;
        dev_t rdev;
    };
    // One node opens (a device behind major 200), one does not (nothing behind 77).
    const Case cases[] = {{"other device", makedev(200, 0)},
                          {"no device", makedev(77, 0)},
                          {"wrong minor", makedev(245, 3)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.add_node(kNode, S_IFCHR | 0600, c.rdev);
        const size_t made = host.mknod_log().size();
        vxapi_open_apidev();
        ASSERT_TRUE(host.node(kNode).has_value());
        EXPECT_EQ(host.node(kNode)->rdev, makedev(245, 0));
        EXPECT_EQ(host.mknod_log().size(), made + 1);
        EXPECT_GE(apidevfd, 0);
        EXPECT_EQ(host.open_device_count(), 1u);  // the probe of the old node was closed
        vxapi_close_apidev();
    }
}

TEST_F(ApiDevTest, RightNodeIsJustOpened) {
    host.write_file("/proc/devices", "Character devices:\n245 vx2xapidev\n");
    host.add_node(kNode, S_IFCHR | 0600, makedev(245, 0));
    vxapi_open_apidev();
    EXPECT_GE(apidevfd, 0);
    EXPECT_TRUE(host.mknod_log().empty());
    EXPECT_EQ(host.node(kNode)->mode, static_cast<mode_t>(S_IFCHR | 0600));

    // Opening again keeps the one descriptor.
    const int held = apidevfd;
    vxapi_open_apidev();
    EXPECT_EQ(apidevfd, held);
    EXPECT_EQ(host.open_device_count(), 1u);
}

TEST_F(ApiDevTest, CloseRemovesTheNode) {
    host.write_file("/proc/devices", "Character devices:\n245 vx2xapidev\n");
    vxapi_open_apidev();
    ASSERT_GE(apidevfd, 0);
    vxapi_close_apidev();
    EXPECT_EQ(apidevfd, -1);
    EXPECT_FALSE(host.node(kNode).has_value());
    EXPECT_EQ(host.open_device_count(), 0u);

    // Nothing held: a node made by someone else stays.
    host.add_node(kNode, S_IFCHR, makedev(245, 0));
    vxapi_close_apidev();
    EXPECT_TRUE(host.node(kNode).has_value());
}

}  // namespace

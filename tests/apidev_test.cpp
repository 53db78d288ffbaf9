// The API character device: found through "/proc/devices", made with the
// right device numbers, held open from load to unload, removed at unload.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "test_support.h"

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
    void TearDown() override {
        vxapi_close_apidev();
        vx_debug = 0;
    }
    sim::SimHost host;
    sim::SimDriver apidev, other;
};

TEST_F(ApiDevTest, NoDeviceLineMeansNoNode) {
    for (const char* text :
         {"Character devices:\n 10 misc\n240 vxa2xxx\n", "Character devices:\n  0 vx2xapidev\n",
          "Character devices:\nvx2xapidev\n", ""}) {
        SCOPED_TRACE(text);
        host.write_file("/proc/devices", text);
        if (*text == '\0') host.fail_open("/proc/devices", ENOENT, 1);
        vxapi_open_apidev();
        EXPECT_EQ(apidevfd, -1);
        EXPECT_TRUE(host.mknod_log().empty());
        EXPECT_EQ(host.open_device_count(), 0u);
    }
}

// The last matching line names the major; a node without permission bits is
// made where none is or where one has other numbers, and is held open.
TEST_F(ApiDevTest, NodeIsMadeWithTheNumbersOfTheLastLineAndHeldOpen) {
    host.write_file("/proc/devices", "Character devices:\n200 vx2xapidev\n 10 misc\n245 vx2xapidev\n");
    // One old node opens (a device behind major 200), one does not (nothing behind 77).
    const std::optional<dev_t> old_nodes[] = {std::nullopt, makedev(200, 0), makedev(77, 0), makedev(245, 3)};
    for (const auto& old : old_nodes) {
        SCOPED_TRACE(old ? major(*old) * 1000 + minor(*old) : 0);
        if (old) host.add_node(kNode, S_IFCHR | 0600, *old);
        const size_t made = host.mknod_log().size();
        vxapi_open_apidev();
        EXPECT_GE(apidevfd, 0);
        ASSERT_TRUE(host.node(kNode).has_value());
        EXPECT_EQ(host.node(kNode)->mode, static_cast<mode_t>(S_IFCHR));
        EXPECT_EQ(host.node(kNode)->rdev, makedev(245, 0));
        EXPECT_EQ(host.mknod_log().size(), made + 1);
        EXPECT_EQ(host.mknod_log().back(), "/dev/vx2xapidev 20000 245:0");
        EXPECT_EQ(host.open_device_count(), 1u);  // the probe of an old node was closed
        vxapi_close_apidev();
    }
}

TEST_F(ApiDevTest, RightNodeIsJustOpenedAndCloseRemovesIt) {
    host.write_file("/proc/devices", "Character devices:\n245 vx2xapidev\n");
    host.add_node(kNode, S_IFCHR | 0600, makedev(245, 0));
    vxapi_open_apidev();
    EXPECT_GE(apidevfd, 0);
    EXPECT_TRUE(host.mknod_log().empty());
    EXPECT_EQ(host.node(kNode)->mode, static_cast<mode_t>(S_IFCHR | 0600));
    const int held = apidevfd;  // opening again keeps the one descriptor
    vxapi_open_apidev();
    EXPECT_EQ(apidevfd, held);
    EXPECT_EQ(host.open_device_count(), 1u);
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

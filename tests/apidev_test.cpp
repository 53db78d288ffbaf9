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
// made where none is or where one has other numbers (an old one that opens
// is closed again), and is held open; the right node is just opened, once.
// Close removes the node it held, and no other.
TEST_F(ApiDevTest, NodeIsMadeWithTheNumbersOfTheLastLineAndHeldOpen) {
    host.write_file("/proc/devices", "Character devices:\n200 vx2xapidev\n 10 misc\n245 vx2xapidev\n");
    const std::optional<dev_t> old_nodes[] = {std::nullopt, makedev(200, 0), makedev(77, 0), makedev(245, 3),
                                              makedev(245, 0)};
    for (const auto& old : old_nodes) {
        SCOPED_TRACE(old ? major(*old) * 1000 + minor(*old) : 0);
        if (old) host.add_node(kNode, S_IFCHR | 0600, *old);
        const bool right = old == makedev(245, 0);
        const size_t made = host.mknod_log().size();
        vxapi_open_apidev();
        const int held = apidevfd;
        vxapi_open_apidev();
        EXPECT_GE(held, 0);
        EXPECT_EQ(apidevfd, held);
        ASSERT_TRUE(host.node(kNode).has_value());
        EXPECT_EQ(host.node(kNode)->mode, static_cast<mode_t>(right ? S_IFCHR | 0600 : S_IFCHR));
        EXPECT_EQ(host.node(kNode)->rdev, makedev(245, 0));
        EXPECT_EQ(host.mknod_log().size(), made + (right ? 0 : 1));
        EXPECT_EQ(host.mknod_log().back(), "/dev/vx2xapidev 20000 245:0");
        EXPECT_EQ(host.open_device_count(), 1u);
        vxapi_close_apidev();
        EXPECT_EQ(apidevfd, -1);
        EXPECT_FALSE(host.node(kNode).has_value());
        EXPECT_EQ(host.open_device_count(), 0u);
    }
    host.add_node(kNode, S_IFCHR, makedev(245, 0));
    vxapi_close_apidev();
    EXPECT_TRUE(host.node(kNode).has_value());
}

}  // namespace

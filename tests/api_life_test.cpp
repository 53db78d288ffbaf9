// Counting, opening and closing ports through the public functions, as an
// application does: the first open starts the library, the last close stops
// it.
#include <cerrno>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_load.h"
#include "core/vx_records.h"
#include "core/vx_sddbg.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "vxsdm.h"

namespace {

void reset_library() {
    vxdbg_reset();
    shtest::reset_shared_state();
    gnl_fd = -1;
    gnl_scsi_fc_fd = -1;
    apidevfd = -1;
}

class ApiLife : public ::testing::Test {
protected:
    void SetUp() override {
        reset_library();
        sim::FabricSetup setup;
        setup.adapters = {sim::adapter(0x2312, 2, 1), sim::adapter(0x2432)};
        fabric = sim::install_adapters(host, driver, setup);
    }
    void TearDown() override {
        if (api_priv_database != nullptr) vxapi_unload_lib();
        reset_library();
    }

    // Opens instance 0, 1, ... until the library says there are no more.
    std::vector<int> open_all() {
        std::vector<int> handles;
        for (SD_UINT32 instance = 0;; ++instance) {
            int handle = -7;
            const SD_UINT32 status = SDOpenDevice(instance, &handle);
            if (status == SDERR_DEVICE_NOT_FOUND) {
                EXPECT_EQ(handle, -7);
                return handles;
            }
            EXPECT_EQ(status, 0u) << instance;
            if (status != 0 || instance > 64) return handles;
            handles.push_back(handle);
        }
    }

    sim::SimHost host;
    sim::SimDriver driver;
    sim::Fabric fabric;
};

TEST_F(ApiLife, OpenEveryInstanceThenCloseEveryHandle) {
    const std::vector<int> handles = open_all();
    ASSERT_EQ(handles.size(), 5u);  // 3 physical ports and 2 virtual ports
    EXPECT_EQ(SDGetNumberOfAdapters(), 5u);
    for (size_t i = 0; i < handles.size(); ++i) {
        EXPECT_EQ(handles[i], static_cast<int>(i + 1));
        // Each handle reaches its own port.
        CHIPPROPERTY chip{};
        ASSERT_EQ(SDGetHbaDeviceChipProperty(handles[i], &chip), 0u);
        EXPECT_EQ(chip.DeviceID, check_handle(static_cast<uint32_t>(handles[i]))->phy_info->device_id);
    }
    for (int h : handles) EXPECT_EQ(SDCloseDevice(h), 0u);
    EXPECT_EQ(api_priv_database, nullptr);  // the last close stopped the library
    EXPECT_EQ(host.open_device_count(), 0u);
    DEVICEPORTPROPERTY port{};
    EXPECT_EQ(SDGetHbaDevicePortProperty(handles[0], 0, &port), SDERR_INVALID_HANDLE);

    // The next open starts it again.
    int handle = 0;
    ASSERT_EQ(SDOpenDevice(2, &handle), 0u);
    EXPECT_EQ(handle, 3);
    EXPECT_NE(api_priv_database, nullptr);
    EXPECT_EQ(SDGetHbaDevicePortProperty(handle, 0, &port), 0u);
}

TEST_F(ApiLife, EachOpenNeedsItsClose) {
    int first = 0;
    int second = 0;
    ASSERT_EQ(SDOpenDevice(0, &first), 0u);
    ASSERT_EQ(SDOpenDevice(0, &second), 0u);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(SDOpenDevice(0, nullptr), SDERR_INVALID_PARAMETER);

    // A wrong handle closes nothing and stops nothing.
    EXPECT_EQ(SDCloseDevice(99), SDERR_INVALID_HANDLE);
    EXPECT_EQ(SDCloseDevice(0), SDERR_INVALID_HANDLE);
    EXPECT_NE(api_priv_database, nullptr);

    FIRMWAREPROPERTY fw{};
    EXPECT_EQ(SDCloseDevice(1), 0u);
    EXPECT_EQ(SDGetHbaDeviceFirmwareProperty(1, &fw), 0u);
    EXPECT_EQ(SDCloseDevice(1), 0u);
    EXPECT_EQ(api_priv_database, nullptr);
    EXPECT_EQ(SDGetHbaDeviceFirmwareProperty(1, &fw), SDERR_INVALID_HANDLE);
    // Nothing open: any close is answered with success.
    for (int h : {1, 0, -5}) EXPECT_EQ(SDCloseDevice(h), 0u);
}

TEST_F(ApiLife, CountingStartsTheLibraryAndOpensNothing) {
    EXPECT_EQ(SDGetNumberOfAdapters(), 5u);
    EXPECT_NE(api_priv_database, nullptr);
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);
    EXPECT_EQ(SDCloseDevice(1), 0u);
    EXPECT_NE(api_priv_database, nullptr);  // counting never stops the library
}

TEST_F(ApiLife, LoadFailuresAndEmptyHosts) {
    host.set_euid(1000);
    int handle = -7;
    EXPECT_EQ(SDGetNumberOfAdapters(), 0u);
    EXPECT_EQ(SDOpenDevice(0, &handle), SDERR_UNKNOWN);
    EXPECT_EQ(handle, -7);
    host.set_euid(0);

    reset_library();
    sim::SimHost empty;
    sim::SimDriver none;
    sim::install_adapters(empty, none, sim::FabricSetup{});
    EXPECT_EQ(SDOpenDevice(0, &handle), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(SDGetNumberOfAdapters(), 0u);
}

TEST_F(ApiLife, AFailedOpenOfTheNodeGivesItsErrno) {
    ASSERT_EQ(SDGetNumberOfAdapters(), 5u);
    host.fail_open(fabric.node, EACCES, 1);
    int handle = -7;
    EXPECT_EQ(SDOpenDevice(1, &handle), static_cast<SD_UINT32>(EACCES));
    EXPECT_EQ(handle, -7);
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);
    EXPECT_EQ(SDOpenDevice(1, &handle), 0u);
    EXPECT_EQ(handle, 2);
}

// A record that appears in front of open ports (as a virtual port created
// later does) shifts every position; no open may then hand out a handle that
// an open port already holds.
TEST_F(ApiLife, HandlesStayDistinctWhenThePortListChanges) {
    int a = 0;
    int b = 0;
    ASSERT_EQ(SDOpenDevice(0, &a), 0u);
    ASSERT_EQ(SDOpenDevice(1, &b), 0u);
    ASSERT_EQ(check_handle(999), nullptr);  // the failed walk leaves the list's cursor at its head
    vxapi_priv_database* front = nullptr;
    ASSERT_EQ(vxapi_alloc_api_priv_data_mem(&front), 0);
    front->features = VX_FEAT_SYSFS;
    ASSERT_EQ(sim::listed_ports().front(), front);

    std::vector<int> handles = {a, b};
    for (SD_UINT32 instance : {0u, 1u, 2u, 3u, 4u, 5u}) {
        int h = 0;
        ASSERT_EQ(SDOpenDevice(instance, &h), 0u) << instance;
        EXPECT_EQ(check_handle(static_cast<uint32_t>(h)), sim::listed_ports()[instance]) << instance;
        if (instance == 0 || instance >= 3) handles.push_back(h);  // 1 and 2 are a and b again
    }
    EXPECT_EQ(std::set<int>(handles.begin(), handles.end()).size(), handles.size());
}

}  // namespace

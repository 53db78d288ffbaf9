// Library load and unload, adapter open and close, across processes and on
// this machine; counting, opening and closing ports through the public
// functions, as an application does (the first open starts the library, the
// last close stops it).
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_event.h"
#include "core/vx_fut.h"
#include "core/vx_ioctl.h"
#include "core/vx_load.h"
#include "core/vx_records.h"
#include "core/vx_sddbg.h"
#include "core/vx_sem.h"
#include "core/vx_shared.h"
#include "platform/vx_platform.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_driver.h"
#include "sim_host.h"
#include "transport/vx_sysfs_prim.h"
#include "vxsdm.h"

namespace {

using shtest::Child;
using shtest::host_sem_exists;

void reset_library() {
    vxdbg_reset();
    shtest::reset_shared_state();
    gnl_fd = -1;
    gnl_scsi_fc_fd = -1;
    apidevfd = -1;
}

size_t count_of(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

// Waits (real time) for a flag set by another thread.
bool wait_for(const std::atomic<bool>& flag) {
    for (int i = 0; i < 5000 && !flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return flag.load();
}

// One adapter of that many ports, or a driver that reports no host.
sim::FabricSetup setup_of(unsigned ports) {
    sim::FabricSetup setup;
    if (ports > 0) setup.adapters = {sim::adapter(0x2312, ports)};
    return setup;
}

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override { reset_library(); }
    void TearDown() override {
        if (api_priv_database != nullptr) vxapi_unload_lib();
        reset_library();
    }

    void install(unsigned ports) { sim::install_adapters(host, driver, setup_of(ports)); }
    bool sem_exists(int key) const { return host_sem_exists(host, key); }

    sim::SimHost host;
    sim::SimDriver driver;
};

TEST_F(LoadTest, LoadOpenCloseUnloadLeaveNothingBehind) {
    install(2);
    ASSERT_EQ(vxapi_load_lib(), 0);
    const auto ports = sim::listed_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_TRUE(host.exists(VX_SHARED_FILE));
    EXPECT_NE(vxapi_ev_thread_id, pthread_t{});

    int h0 = 0;
    int again = 0;
    int h1 = 0;
    uint32_t err = 0;
    ASSERT_EQ(vxapi_open_adapter(ports[0], &h0, &err), 0);
    ASSERT_EQ(vxapi_open_adapter(ports[0], &again, &err), 0);
    EXPECT_EQ(h0, 1);
    EXPECT_EQ(again, h0);
    EXPECT_EQ(host.open_device_count(), 1u);  // the node is opened once
    ASSERT_EQ(vxapi_open_adapter(ports[1], &h1, &err), 0);
    EXPECT_EQ(h1, 2);
    EXPECT_EQ(check_handle(static_cast<uint32_t>(h0)), ports[0]);

    // A second load in the process keeps the records and their handles.
    EXPECT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(sim::listed_ports(), ports);
    EXPECT_EQ(ports[0]->apihandle, 1u);

    EXPECT_EQ(vxapi_close_adapter(ports[0], &err), 0);
    EXPECT_EQ(host.open_device_count(), 2u);
    EXPECT_EQ(vxapi_close_adapter(ports[0], &err), 0);
    EXPECT_EQ(host.open_device_count(), 1u);
    EXPECT_EQ(ports[0]->oshandle, -1);
    EXPECT_EQ(ports[0]->apihandle, 0u);
    EXPECT_EQ(vxapi_close_adapter(ports[0], &err), 0);  // not open: nothing to do

    // Port 1 stays open: unload closes it all the same.
    EXPECT_EQ(vxapi_unload_lib(), 0);
    EXPECT_EQ(api_priv_database, nullptr);
    EXPECT_EQ(api_phy_info, nullptr);
    EXPECT_EQ(host.open_device_count(), 0u);
    EXPECT_EQ(api_shared_data, nullptr);
    EXPECT_EQ(vxapi_ev_thread_id, pthread_t{});
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
    EXPECT_FALSE(sem_exists(VX_SEM_KEY_SHARED));
    EXPECT_FALSE(sem_exists(VX_SEM_KEY_FLASH));
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_LOAD));  // never removed: others may wait for it

    // The next load starts afresh.
    ASSERT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(sim::listed_ports().size(), 2u);
    ASSERT_EQ(vxapi_open_adapter(sim::listed_ports()[1], &h1, &err), 0);
    EXPECT_EQ(h1, 2);
    EXPECT_EQ(vxapi_unload_lib(), 0);
    EXPECT_EQ(host.open_device_count(), 0u);
}

TEST_F(LoadTest, NonRootIsRefusedBeforeAnythingIsTouched) {
    install(2);
    host.set_euid(1000);
    vx_debug = VXDBG_NOTICE | VXDBG_ERROR;
    EXPECT_EQ(vxapi_load_lib(), 1);
    EXPECT_EQ(api_priv_database, nullptr);
    EXPECT_NE(host.stderr_text().find("libvxsdm: ERROR - libvxsdm must be loaded with root privileges."),
              std::string::npos);
    // The public functions that load the library fail with it.
    int handle = -7;
    EXPECT_EQ(SDGetNumberOfAdapters(), 0u);
    EXPECT_EQ(SDOpenDevice(0, &handle), SDERR_UNKNOWN);
    EXPECT_EQ(handle, -7);
    for (int key : {VX_SEM_KEY_LOAD, VX_SEM_KEY_FLASH, VX_SEM_KEY_SHARED}) EXPECT_FALSE(sem_exists(key)) << key;
    EXPECT_FALSE(host.exists(VX_SHARED_FILE));
    EXPECT_TRUE(host.commands().empty());
    EXPECT_TRUE(driver.log().empty());
}

TEST_F(LoadTest, SysfsDiscoveryRunsOnlyWhenTheIoctlRoadsFoundNoPort) {
    struct Case { const char* what; unsigned ports; bool sysfs_mounted; bool sysfs_asked; };
    const Case cases[] = {
        {"ioctl ports", 2, true, false},
        {"no ioctl port", 0, true, true},
        {"no ioctl port, no sysfs", 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset_library();
        sim::SimHost own;
        sim::SimDriver own_driver;
        sim::install_adapters(own, own_driver, setup_of(c.ports));
        own.make_dir("/sys/bus/pci/devices");  // a PCI bus with no supported driver
        own.set_sysfs_mounted(c.sysfs_mounted);
        vx_debug = VXDBG_ERROR | VXDBG_SYSFS;

        EXPECT_EQ(vxapi_load_lib(), 0);
        EXPECT_EQ(sim::listed_ports().size(), c.ports);
        EXPECT_EQ(own.stderr_text().find("api_inst==") != std::string::npos, c.sysfs_asked);
        EXPECT_STREQ(sysfs_mnt_path, c.sysfs_mounted ? "/sys" : "");
        if (c.ports == 0) {
            // Nothing found: no shared file, no semaphore of the file or of
            // flash transfers.
            EXPECT_NE(own.stderr_text().find("vxapi_load_lib: ERROR finding adapters."), std::string::npos);
            EXPECT_FALSE(own.exists(VX_SHARED_FILE));
            EXPECT_FALSE(host_sem_exists(own, VX_SEM_KEY_SHARED));
            EXPECT_FALSE(host_sem_exists(own, VX_SEM_KEY_FLASH));
            int handle = -7;
            EXPECT_EQ(SDOpenDevice(0, &handle), SDERR_DEVICE_NOT_FOUND);
            EXPECT_EQ(handle, -7);
            EXPECT_EQ(SDGetNumberOfAdapters(), 0u);
        }
        vxapi_unload_lib();
    }
}

TEST_F(LoadTest, PortsOfARoadThatEndedOnAFailedAttemptAreKept) {
    install(2);
    // Instance 0 cannot be selected, so the road ends on failed attempts
    // after it took instance 1.
    sim::refuse_instances(driver, {0});
    EXPECT_EQ(vxapi_load_lib(), 0);
    ASSERT_EQ(sim::listed_ports().size(), 1u);
    EXPECT_EQ(sim::listed_ports()[0]->drvr_inst, 1u);
    EXPECT_EQ(vxapi_unload_lib(), 0);
}

TEST_F(LoadTest, FailedLoadFreesTheRecordsAndKeepsTheFlashSemaphore) {
    install(2);
    host.fail_semget(VX_SEM_KEY_SHARED, EACCES, 1);
    EXPECT_EQ(vxapi_load_lib(), 1);
    EXPECT_EQ(api_priv_database, nullptr);
    EXPECT_EQ(api_phy_info, nullptr);
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_FLASH));
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_LOAD));
    EXPECT_EQ(host.open_device_count(), 0u);

    ASSERT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(sim::listed_ports().size(), 2u);
    EXPECT_EQ(vxapi_unload_lib(), 0);
}

TEST_F(LoadTest, WithoutSystemVSemaphoresPortsCannotBeOpenedAndUnloadClosesTheApiDevice) {
    install(2);
    host.fail_semget(VX_SEM_KEY_SHARED, ENOSYS);
    // The API device, as a sysfs road would have opened it.
    sim::SimDriver api_device;
    api_device.attach(host, 250, "/dev/vx2xapidev");
    host.write_file("/proc/devices", "250 vx2xapidev\n");
    vx_debug = VXDBG_ERROR;

    ASSERT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(api_use_database, 0);
    EXPECT_NE(host.stderr_text().find("vxapi_load_lib: function not supported."), std::string::npos);
    const auto ports = sim::listed_ports();
    ASSERT_EQ(ports.size(), 2u);
    int handle = 0;
    uint32_t err = 0;
    EXPECT_EQ(vxapi_open_adapter(ports[0], &handle, &err), 2);
    vxapi_open_apidev();
    ASSERT_GE(apidevfd, 0);

    EXPECT_EQ(vxapi_unload_lib(), 0);
    EXPECT_EQ(count_of(host.stderr_text(), "disable AEN. No shared database."), 2u);
    EXPECT_NE(host.stderr_text().find("db not opened. exiting."), std::string::npos);
    EXPECT_EQ(apidevfd, -1);
    EXPECT_EQ(host.open_device_count(), 0u);
    EXPECT_EQ(api_priv_database, nullptr);
}

// A poll pass of the event thread is under way on an open port with events
// on; the caller's thread closes the port or unloads meanwhile. The port's
// descriptor must stay open for as long as the pass runs.
TEST_F(LoadTest, NoDescriptorIsClosedUnderARunningPollPass) {
    for (const bool unload : {false, true}) {
        SCOPED_TRACE(unload ? "unload" : "close");
        reset_library();
        sim::SimHost own;
        sim::SimDriver own_driver;
        sim::install_adapters(own, own_driver, setup_of(1));
        std::atomic<bool> in_pass{false};
        std::atomic<bool> closed_under{false};
        std::atomic<bool> pass_done{false};
        own_driver.on(EXT_CC_GET_AEN, [&](const sim::SimRequest&) {
            if (!in_pass.exchange(true)) {
                for (int i = 0; i < 150; ++i) {
                    if (own.open_device_count() == 0) closed_under = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                pass_done = true;
            }
            sim::SimReply reply;
            reply.reported_len = 0;
            return reply;
        });

        ASSERT_EQ(vxapi_load_lib(), 0);
        vxapi_priv_database* port = sim::listed_ports().at(0);
        int handle = 0;
        uint32_t err = 0;
        ASSERT_EQ(vxapi_open_adapter(port, &handle, &err), 0);
        {
            VxListLock lock(vxapi_list_mutex());
            port->features |= VX_FEAT_AEN;
        }
        ASSERT_TRUE(wait_for(in_pass));
        if (unload) {
            EXPECT_EQ(vxapi_unload_lib(), 0);
        } else {
            EXPECT_EQ(vxapi_close_adapter(port, &err), 0);
        }
        ASSERT_TRUE(wait_for(pass_done));
        EXPECT_FALSE(closed_under.load());
        EXPECT_EQ(own.open_device_count(), 0u);
        if (!unload) vxapi_unload_lib();
    }
}

// One process unloads and, holding the load semaphore, is stopped in the
// removal of the shared file; another loads meanwhile and waits for the
// semaphore. The semaphore must outlive the unload, so the waiter gets it.
TEST_F(LoadTest, LoadSemaphoreStaysUsableForAProcessWaitingWhileAnotherUnloads) {
    install(2);
    Child a([this](Child& c) {
        if (vxapi_load_lib() != 0 || sim::listed_ports().size() != 2) return 10;
        host.on_unlink([&c](const std::string& path) {
            if (path != VX_SHARED_FILE) return;
            c.reply(1);
            c.command();
        });
        c.reply(0);
        c.command();
        return vxapi_unload_lib();
    });
    ASSERT_EQ(a.receive(), 0);
    const int load_sem = shtest::host_sem(host, VX_SEM_KEY_LOAD);
    ASSERT_GE(load_sem, 0);

    Child b([this](Child& c) {
        c.command();
        vx_debug = VXDBG_ERROR;
        const bool loaded = vxapi_load_lib() == 0 && sim::listed_ports().size() == 2;
        const bool unloaded = vxapi_unload_lib() == 0;
        const bool waited = host.stderr_text().find("semaphore wait operation failed") == std::string::npos;
        return loaded && unloaded && waited ? 0 : 1;
    });
    a.send(1);
    ASSERT_EQ(a.receive(), 1);  // A holds the load semaphore, in its unload
    b.send(1);
    ASSERT_TRUE(shtest::wait_for_waiters(load_sem, 1));
    a.send(1);
    EXPECT_EQ(a.wait(), 0);
    EXPECT_EQ(b.wait(), 0);
    EXPECT_EQ(shtest::host_sem(host, VX_SEM_KEY_LOAD), load_sem);
}

// A SIGTERM to a process that set up the clean-up on signals (which outlives
// a normal unload and a new load) ends it by the signal with the library
// unloaded: its slot is released, and the shared file is gone when no other
// process holds it. A second signal during the clean-up ends it at once.
TEST_F(LoadTest, SignalEndsTheProcessWithTheLibraryUnloaded) {
    install(2);
    const struct { bool other; int second; } cases[] = {{false, 0}, {true, 0}, {false, SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.other << " " << c.second);
        Child child([&](Child& self) -> int {
            self.command();
            const bool ok = vxapi_load_lib() == 0 && vxapi_setup_signal_handlers() == 0 &&
                            vxapi_unload_lib() == 0 && vxapi_load_lib() == 0 &&
                            vxapi_setup_signal_handlers() == 0 && vxapi_setup_signal_handlers() == 0;
            if (c.second != 0) host.on_unlink([&self](const std::string&) { self.reply(1); for (;;) ::pause(); });
            self.reply(ok ? static_cast<int>(api_library_instance) : -1);
            for (;;) ::pause();
        });
        ASSERT_EQ(c.other ? shtest::open_here() : 0, 0);
        child.send(1);
        const int slot = child.receive();
        ASSERT_GE(slot, 0);
        child.signal(SIGTERM);
        if (c.second != 0) {
            ASSERT_EQ(child.receive(), 1);  // in the clean-up
            child.signal(c.second);
        }
        const int status = child.wait_status();
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), c.second != 0 ? c.second : SIGTERM);
        if (c.second != 0) continue;
        EXPECT_EQ(host.exists(VX_SHARED_FILE), c.other);
        if (!c.other) continue;
        uint32_t flags = 1;
        std::memcpy(&flags, host.read_file(VX_SHARED_FILE).data() + 4 * slot, sizeof flags);
        EXPECT_EQ(flags, 0u) << "the slot is released";
        vxapi_close_database(api_shm_fildes);
    }
}

enum Order { kTakeToken = 1, kUnload, kDie };

// Loads (event thread stopped: it would run the clock on), tells its slot,
// then takes a token (replies it, or 0), unloads (replies 0) or dies.
int loaded_process(Child& self) {
    if (vxapi_load_lib() != 0 || sim::listed_ports().empty()) return 1;
    shtest::stop_event_thread();
    self.reply(api_library_instance);
    for (int order = self.command(); order != kUnload; order = self.command()) {
        if (order == kDie) ::raise(SIGKILL);
        uint32_t token = 0;
        self.reply(vxapi_get_fut(sim::listed_ports().front(), &token) == 0 ? static_cast<int>(token) : 0);
    }
    self.reply(vxapi_unload_lib());
    return 0;
}

// The ninth process shares slot 0, the tenth slot 1. All but one leave
// (shared slots' first holders first; one dies in the last case): the last
// keeps its slot, the file, the semaphores and its token.
TEST_F(LoadTest, ProcessesBeyondTheEightSlotsKeepTheFileUntilTheLastUnloads) {
    install(1);
    const struct { int processes, died; } cases[] = {{9, -1}, {10, -1}, {9, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.processes << " processes, died " << c.died);
        std::vector<std::unique_ptr<Child>> children;
        for (int i = 0; i < c.processes; ++i) {
            children.push_back(std::make_unique<Child>(loaded_process));
            ASSERT_EQ(children.back()->receive(), i % 8);
        }
        const int last = c.died == c.processes - 1 ? c.processes - 2 : c.processes - 1;
        const auto ask = [&](int i, int order) { return children[i]->send(order), children[i]->receive(); };
        const int token = ask(last, kTakeToken);
        ASSERT_GT(token, 0);
        if (c.died >= 0) ask(c.died, kDie);  // answered by the end of its pipe
        for (int i = 0; i < c.processes; ++i) {
            if (i == last || i == c.died) continue;
            ASSERT_EQ(ask(i, kUnload), 0) << i;
        }
        EXPECT_EQ(ask(last, kTakeToken), token) << "its semaphore is there";
        const std::string bytes = host.read_file(VX_SHARED_FILE);
        ASSERT_EQ(bytes.size(), VX_SHARED_SIZE) << "the file is at the path";
        EXPECT_NE(bytes[4 * (last % 8)] & VX_LIBINST_ACTIVE, 0) << "its slot still gets events";
        EXPECT_EQ(std::memcmp(bytes.data() + offsetof(vxapi_shared_t, fut), &token, sizeof token), 0);
        EXPECT_TRUE(sem_exists(VX_SEM_KEY_SHARED) && sem_exists(VX_SEM_KEY_FLASH));
        EXPECT_EQ(ask(last, kUnload), 0);
        EXPECT_FALSE(host.exists(VX_SHARED_FILE) || sem_exists(VX_SEM_KEY_SHARED) || sem_exists(VX_SEM_KEY_FLASH));
    }
}

// ---------------------------------------------------------------- the public functions

// A dual-port adapter with a virtual port on each port, and a single-port one.
class ApiLife : public LoadTest {
protected:
    void SetUp() override {
        LoadTest::SetUp();
        sim::FabricSetup setup;
        setup.adapters = {sim::adapter(0x2312, 2, 1), sim::adapter(0x2432)};
        fabric = sim::install_adapters(host, driver, setup);
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

TEST_F(ApiLife, CountingOpensNothingAndAFailedOpenGivesItsErrno) {
    ASSERT_EQ(SDGetNumberOfAdapters(), 5u);
    EXPECT_NE(api_priv_database, nullptr);
    EXPECT_EQ(vxapi_get_open_adapter_count(), 0u);
    EXPECT_EQ(SDCloseDevice(1), 0u);
    EXPECT_NE(api_priv_database, nullptr);  // counting never stops the library
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

// The production platform on this machine, which has no adapters.
TEST(LoadRealHost, NoAdaptersAndNothingLeftBehind) {
    vx::set_platform(nullptr);
    if (vx::sys().geteuid() != 0) GTEST_SKIP() << "loading needs root";
    struct stat st {};
    if (::lstat("/dev/vxa2xxx", &st) == 0) GTEST_SKIP() << "this machine has the adapter driver's node";
    reset_library();
    const auto sem_exists = [](key_t key) { return ::semget(key, 1, 0) >= 0; };
    const auto path_exists = [](const char* path) {
        struct stat s {};
        return ::lstat(path, &s) == 0;
    };
    // What a load may leave behind: semaphores, the shared file, device nodes.
    const auto traces = [&] {
        return std::vector<bool>{sem_exists(VX_SEM_KEY_FLASH), sem_exists(VX_SEM_KEY_SHARED),
                                 path_exists(VX_SHARED_FILE), path_exists("/dev/vxa2xxx"),
                                 path_exists("/dev/vx2xapidev")};
    };
    const bool had_load_sem = sem_exists(VX_SEM_KEY_LOAD);
    const std::vector<bool> before = traces();
    EXPECT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(api_priv_database, nullptr);
    EXPECT_EQ(vxapi_unload_lib(), 0);
    EXPECT_EQ(traces(), before);
    // The load semaphore is never removed by the library; the one this test
    // made goes again.
    if (!had_load_sem) {
        const int id = ::semget(VX_SEM_KEY_LOAD, 1, 0);
        if (id >= 0) ::semctl(id, 0, IPC_RMID);
    }
    reset_library();
}

}  // namespace

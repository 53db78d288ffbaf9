// Library load and unload, adapter open and close, across processes; the
// public functions that count, open and close ports as an application does;
// the API device; and a load on this machine through the production platform.
#include <sys/sysmacros.h>

#include <atomic>
#include <set>

#include "core/flash/vx_fut.h"
#include "core/life/vx_load.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "transport/vx_apidev.h"
#include "transport/vx_netlink.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_prim.h"
#include "vxsdm.h"

namespace {

using shtest::Child;

void reset_library() {
    vxdbg_reset();
    shtest::reset_shared_state();
    gnl_fd = gnl_scsi_fc_fd = apidevfd = -1;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
        if (api_priv_database != nullptr) (void)vxapi_unload_lib();  // clean-up; always 0
        reset_library();
    }
    void install(unsigned ports) { sim::install_adapters(host, driver, setup_of(ports)); }
    bool sem_exists(int key) const { return shtest::host_sem_exists(host, key); }

    sim::SimHost host;
    sim::SimDriver driver;
};

// Sysfs discovery runs only when the ioctl roads found no port; finding nothing
// or refused (not root), a load leaves no file and opens fail. A load that finds
// nothing keeps the flash semaphore, which it got before discovery.
TEST_F(LoadTest, SysfsDiscoveryRunsOnlyWhenTheIoctlRoadsFoundNoPort) {
    const struct { unsigned ports; bool mounted, sysfs_asked; uid_t euid; SD_UINT32 open; const char* trace; }
        cases[] = {
        {2, true, false, 0, 0, nullptr},
        {0, true, true, 0, SDERR_DEVICE_NOT_FOUND, "vxapi_load_lib: ERROR finding adapters."},
        {0, false, false, 0, SDERR_DEVICE_NOT_FOUND, "vxapi_load_lib: ERROR finding adapters."},
        {2, true, false, 1000, SDERR_UNKNOWN, "libvxsdm: ERROR - libvxsdm must be loaded with root privileges."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ports << " ports, sysfs " << c.mounted << ", euid " << c.euid);
        reset_library();
        sim::SimHost own;
        sim::SimDriver own_driver;
        sim::install_adapters(own, own_driver, setup_of(c.ports));
        own.make_dir("/sys/bus/pci/devices");  // a PCI bus with no supported driver
        own.set_sysfs_mounted(c.mounted);
        own.set_euid(c.euid);
        vx_debug = VXDBG_NOTICE | VXDBG_ERROR | VXDBG_SYSFS;
        EXPECT_EQ(vxapi_load_lib(), c.euid == 0 ? 0 : 1);
        EXPECT_EQ(sim::listed_ports().size(), c.euid == 0 ? c.ports : 0);
        EXPECT_EQ(has(own.stderr_text(), "api_inst=="), c.sysfs_asked);
        EXPECT_TRUE(c.euid != 0 || std::string(sysfs_mnt_path) == (c.mounted ? "/sys" : ""));
        if (c.open != 0) {
            EXPECT_TRUE(has(own.stderr_text(), c.trace));
            EXPECT_FALSE(own.exists(VX_SHARED_FILE) || shtest::host_sem_exists(own, VX_SEM_KEY_SHARED));
            EXPECT_EQ(shtest::host_sem_exists(own, VX_SEM_KEY_FLASH), c.euid == 0);
            EXPECT_EQ(shtest::host_sem_exists(own, VX_SEM_KEY_LOAD), c.euid == 0);
            EXPECT_TRUE(c.euid == 0 || (own.commands().empty() && own_driver.log().empty()));
            int handle = -7;
            EXPECT_EQ(SDOpenDevice(0, &handle), c.open);
            EXPECT_EQ(handle, -7);
            EXPECT_EQ(SDGetNumberOfAdapters(), 0u);
        }
        (void)vxapi_unload_lib();  // clean-up; always 0
    }
}

// The flash semaphore is got before discovery: refused, the first open fails
// with the trace and no request reaches the driver, whether it has adapters or
// none. Had, it stays on a host without adapters; with adapters the last close
// removes it.
TEST_F(LoadTest, FlashSemaphoreIsGotBeforeDiscovery) {
    const struct { unsigned ports; bool refused; SD_UINT32 open; size_t requests; bool flash_kept; } cases[] = {
        {2, true, SDERR_UNKNOWN, 0, false},
        {2, false, SDERR_NO_ERROR, 0, false},
        {0, true, SDERR_UNKNOWN, 0, false},
        {0, false, SDERR_DEVICE_NOT_FOUND, 1, true},
    };
    const std::string trace = "libvxsdm: WARNING - semget function not supported.\n"
                              " Failed creation of flash semaphore. errno=13\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ports << " ports, refused " << c.refused);
        reset_library();
        sim::SimHost own;
        sim::SimDriver own_driver;
        sim::install_adapters(own, own_driver, setup_of(c.ports));
        own.set_env("VX_FCAPI_DEBUG", "2");
        if (c.refused) own.fail_semget(VX_SEM_KEY_FLASH, EACCES);
        int handle = -7;
        EXPECT_EQ(SDOpenDevice(0, &handle), c.open);
        EXPECT_EQ(has(own.stderr_text(), trace), c.refused);
        if (c.open != SDERR_NO_ERROR) {
            EXPECT_EQ(own_driver.log().size(), c.requests);
            EXPECT_TRUE(api_priv_database == nullptr && api_phy_info == nullptr && !own.exists(VX_SHARED_FILE));
            EXPECT_EQ(shtest::host_sem_exists(own, VX_SEM_KEY_FLASH), c.flash_kept);
            EXPECT_EQ(::semctl(shtest::host_sem(own, VX_SEM_KEY_LOAD), 0, GETVAL), 1) << "the load lock is free";
            continue;
        }
        EXPECT_EQ(api_flash_sem_id, shtest::host_sem(own, VX_SEM_KEY_FLASH));
        EXPECT_EQ(SDCloseDevice(handle), SDERR_NO_ERROR);
        EXPECT_FALSE(shtest::host_sem_exists(own, VX_SEM_KEY_FLASH)) << "the last instance removed it";
    }
}

// Instance 0 cannot be selected: the road ends on failed attempts, instance 1 is kept.
TEST_F(LoadTest, PortsOfARoadThatEndedOnAFailedAttemptAreKept) {
    install(2);
    sim::refuse_instances(driver, {0});
    EXPECT_EQ(vxapi_load_lib(), 0);
    ASSERT_EQ(sim::listed_ports().size(), 1u);
    EXPECT_EQ(sim::listed_ports()[0]->drvr_inst, 1u);
}

// A refused file semaphore fails the load; without System V semaphores the
// library runs without the shared file, refuses opens, and unload still closes.
TEST_F(LoadTest, SemaphoreFailuresAtLoad) {
    install(2);
    host.fail_semget(VX_SEM_KEY_SHARED, EACCES, 1);
    EXPECT_EQ(vxapi_load_lib(), 1);
    EXPECT_TRUE(api_priv_database == nullptr && api_phy_info == nullptr);
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_FLASH) && sem_exists(VX_SEM_KEY_LOAD));
    EXPECT_EQ(host.open_device_count(), 0u);

    host.fail_semget(VX_SEM_KEY_SHARED, ENOSYS);
    sim::SimDriver api_device;  // as a sysfs road would have opened it
    api_device.attach(host, 250, "/dev/vx2xapidev");
    host.write_file("/proc/devices", "250 vx2xapidev\n");
    vx_debug = VXDBG_ERROR;
    ASSERT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(api_use_database, 0);
    EXPECT_TRUE(has(host.stderr_text(), "vxapi_load_lib: function not supported."));
    const auto ports = sim::listed_ports();
    ASSERT_EQ(ports.size(), 2u);
    int handle = 0;
    uint32_t err = 0;
    EXPECT_EQ(vxapi_open_adapter(ports[0], &handle, &err), 2);
    vxapi_open_apidev();
    ASSERT_GE(apidevfd, 0);
    EXPECT_EQ(vxapi_unload_lib(), 0);
    const std::string out = host.stderr_text(), no_db = "disable AEN. No shared database.";
    EXPECT_NE(out.find(no_db, out.find(no_db) + 1), std::string::npos) << "for each port";
    EXPECT_TRUE(has(host.stderr_text(), "db not opened. exiting."));
    EXPECT_TRUE(apidevfd == -1 && host.open_device_count() == 0 && api_priv_database == nullptr);
}

// A close or unload during a poll pass on the port leaves its descriptor open until the pass ends.
TEST_F(LoadTest, NoDescriptorIsClosedUnderARunningPollPass) {
    for (const bool unload : {false, true}) {
        SCOPED_TRACE(unload ? "unload" : "close");
        reset_library();
        sim::SimHost own;
        sim::SimDriver own_driver;
        sim::install_adapters(own, own_driver, setup_of(1));
        std::atomic<bool> in_pass{false}, closed_under{false}, pass_done{false};
        own_driver.on(EXT_CC_GET_AEN, [&](const sim::SimRequest&) {
            if (!in_pass.exchange(true)) {
                for (int i = 0; i < 150; ++i) {
                    if (own.open_device_count() == 0) closed_under = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                pass_done = true;
            }
            return sim::SimReply{};
        });
        ASSERT_EQ(vxapi_load_lib(), 0);
        vxapi_priv_database* port = sim::listed_ports().at(0);
        int handle = 0;
        uint32_t err = 0;
        ASSERT_EQ(vxapi_open_adapter(port, &handle, &err), 0);
        [&] { VxListLock lock(vxapi_list_mutex()); port->features |= VX_FEAT_AEN; }();
        ASSERT_TRUE(wait_for(in_pass));
        EXPECT_EQ(unload ? vxapi_unload_lib() : vxapi_close_adapter(port, &err), 0);
        ASSERT_TRUE(wait_for(pass_done));
        EXPECT_FALSE(closed_under.load());
        EXPECT_EQ(own.open_device_count(), 0u);
        if (!unload) (void)vxapi_unload_lib();  // clean-up; always 0
    }
}

// A waits in its unload (holding the load semaphore) while B loads: the
// semaphore must outlive A's unload so that B gets it.
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
        return loaded && unloaded && !has(host.stderr_text(), "semaphore wait operation failed") ? 0 : 1;
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

// SIGTERM ends a process that set up the clean-up on signals with the library
// unloaded (slot released, file gone unless held); a second signal ends it at once.
TEST_F(LoadTest, SignalEndsTheProcessWithTheLibraryUnloaded) {
    install(2);
    const struct { bool other; int second; } cases[] = {{false, 0}, {true, 0}, {false, SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.other << " " << c.second);
        Child child([&](Child& self) -> int {
            self.command();
            // As a program does: the library loads at the first open and stops at the last close.
            int handle = 0;
            const bool ok = SDOpenDevice(0, &handle) == SDERR_NO_ERROR && vxapi_setup_signal_handlers() == 0 &&
                            SDCloseDevice(handle) == SDERR_NO_ERROR && api_priv_database == nullptr &&
                            SDOpenDevice(0, &handle) == SDERR_NO_ERROR && vxapi_setup_signal_handlers() == 0 &&
                            vxapi_setup_signal_handlers() == 0;
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
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == (c.second != 0 ? c.second : SIGTERM)) << status;
        if (c.second != 0) continue;
        EXPECT_EQ(host.exists(VX_SHARED_FILE), c.other);
        EXPECT_TRUE(!c.other || host.read_file(VX_SHARED_FILE)[4 * slot] == 0) << "the slot is released";
        if (c.other) (void)vxapi_close_database(api_shm_fildes);  // always 0
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

// The ninth process shares slot 0, the tenth slot 1. All but one leave (or die):
// the last keeps its slot, the file, the semaphores and its token.
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
    sim::Fabric fabric;
};

// Counting opens nothing; a failed open gives its errno; each open needs its
// close (a port's node opens once however often the port does), wrong handles
// close nothing, a second load keeps the handles, and the last close stops the
// library. Unload closes what is open and removes the file and its
// semaphores, never the load semaphore (others may wait for it).
TEST_F(ApiLife, EachOpenNeedsItsClose) {
    ASSERT_EQ(SDGetNumberOfAdapters(), 5u);  // 3 physical and 2 virtual ports
    EXPECT_EQ(SDCloseDevice(1), 0u);         // nothing open: success, the library stays
    EXPECT_NE(api_priv_database, nullptr);
    host.fail_open(fabric.node, EACCES, 1);
    int handle = -7;
    EXPECT_EQ(SDOpenDevice(1, &handle), static_cast<SD_UINT32>(EACCES));
    EXPECT_EQ(SDOpenDevice(5, &handle), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(SDOpenDevice(0, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(handle, -7);
    for (int instance = 0; instance < 5; ++instance) {
        ASSERT_EQ(SDOpenDevice(instance, &handle), 0u);
        EXPECT_EQ(handle, instance + 1);
        CHIPPROPERTY chip{};
        ASSERT_EQ(SDGetHbaDeviceChipProperty(handle, &chip), 0u);
        EXPECT_EQ(chip.DeviceID, check_handle(static_cast<uint32_t>(handle))->phy_info->device_id);
    }
    ASSERT_EQ(SDOpenDevice(0, &handle), 0u);
    EXPECT_EQ(handle, 1);
    for (int h : {99, 0}) EXPECT_EQ(SDCloseDevice(h), SDERR_INVALID_HANDLE);
    FIRMWAREPROPERTY fw{};
    EXPECT_EQ(SDCloseDevice(1), 0u);
    EXPECT_EQ(SDGetHbaDeviceFirmwareProperty(1, &fw), 0u);  // opened twice, closed once
    EXPECT_EQ(host.open_device_count(), 5u);
    vxapi_priv_database* first = check_handle(1);
    EXPECT_EQ(vxapi_load_lib(), 0);
    EXPECT_EQ(check_handle(1), first);
    for (int h : {1, 2, 3, 4, 5}) EXPECT_EQ(SDCloseDevice(h), 0u);
    EXPECT_TRUE(api_priv_database == nullptr && host.open_device_count() == 0) << "the last close stopped the library";
    EXPECT_EQ(SDGetHbaDeviceFirmwareProperty(1, &fw), SDERR_INVALID_HANDLE);
    for (int h : {1, 0, -5}) EXPECT_EQ(SDCloseDevice(h), 0u);
    ASSERT_EQ(SDOpenDevice(2, &handle), 0u);
    EXPECT_EQ(handle, 3);
    EXPECT_EQ(SDGetHbaDeviceFirmwareProperty(handle, &fw), 0u);
    EXPECT_EQ(vxapi_unload_lib(), 0);
    EXPECT_TRUE(api_priv_database == nullptr && api_phy_info == nullptr && api_shared_data == nullptr);
    EXPECT_EQ(std::tuple(host.open_device_count(), vxapi_ev_thread_id), std::tuple(0u, pthread_t{}));
    EXPECT_FALSE(host.exists(VX_SHARED_FILE) || sem_exists(VX_SEM_KEY_SHARED) || sem_exists(VX_SEM_KEY_FLASH));
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_LOAD));
}

// A record appearing in front of open ports shifts every position; no open
// may then hand out a handle that an open port already holds.
TEST_F(ApiLife, HandlesStayDistinctWhenThePortListChanges) {
    int a = 0, b = 0;
    ASSERT_EQ(SDOpenDevice(0, &a), 0u);
    ASSERT_EQ(SDOpenDevice(1, &b), 0u);
    ASSERT_EQ(check_handle(999), nullptr);  // the failed walk leaves the list's cursor at its head
    vxapi_priv_database* front = nullptr;
    ASSERT_EQ(vxapi_alloc_api_priv_data_mem(&front), 0);
    front->features = VX_FEAT_SYSFS;
    ASSERT_EQ(sim::listed_ports().front(), front);
    std::vector<int> handles = {a, b};
    for (SD_UINT32 instance = 0; instance < 6; ++instance) {
        int h = 0;
        ASSERT_EQ(SDOpenDevice(instance, &h), 0u) << instance;
        EXPECT_EQ(check_handle(static_cast<uint32_t>(h)), sim::listed_ports()[instance]) << instance;
        if (instance == 0 || instance >= 3) handles.push_back(h);  // 1 and 2 are a and b again
    }
    EXPECT_EQ(std::set<int>(handles.begin(), handles.end()).size(), handles.size());
}

// ---------------------------------------------------------------- the API device

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

// Without a line of a major there is no node. The last matching line names
// the major; a node without permission bits is made where none is or where
// one has other numbers (an old one that opens is closed again), and is held
// open; the right node is just opened, once. Close removes the node it held.
TEST_F(ApiDevTest, NodeIsMadeWithTheNumbersOfTheLastLineAndHeldOpen) {
    for (const char* text : {"Character devices:\n 10 misc\n240 vxa2xxx\n", "Character devices:\n  0 vx2xapidev\n",
                             "Character devices:\nvx2xapidev\n", ""}) {
        host.write_file("/proc/devices", text);
        if (*text == '\0') host.fail_open("/proc/devices", ENOENT, 1);
        vxapi_open_apidev();
        EXPECT_EQ(apidevfd, -1) << text;
        EXPECT_TRUE(host.mknod_log().empty() && host.open_device_count() == 0) << text;
    }
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
        EXPECT_TRUE(apidevfd == -1 && !host.node(kNode).has_value() && host.open_device_count() == 0);
    }
    host.add_node(kNode, S_IFCHR, makedev(245, 0));
    vxapi_close_apidev();
    EXPECT_TRUE(host.node(kNode).has_value());
}

// ---------------------------------------------------------------- this machine, which has no adapters

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

// Libsysfs finds the mount point and lists the PCI bus; a load runs the sysfs
// discovery over it, finds nothing and leaves nothing behind.
TEST(RealHost, LoadRunsSysfsDiscoveryFindsNothingLeavesNothing) {
    vx::Platform& linux_host = vx::linux_platform();
    char mnt[256] = {};
    ASSERT_EQ(linux_host.sysfs_get_mnt_path(mnt, sizeof mnt), 0);
    EXPECT_STREQ(mnt, "/sys");
    if (struct sysfs_bus* bus = linux_host.sysfs_open_bus("pci"); bus != nullptr) {
        struct dlist* devices = linux_host.sysfs_get_bus_devices(bus);
        ASSERT_TRUE(devices != nullptr && devices->count > 0);
        struct sysfs_device* dev = nullptr;
        dlist_for_each_data(devices, dev, struct sysfs_device) {
            struct sysfs_attribute* vendor = linux_host.sysfs_get_device_attr(dev, "vendor");
            EXPECT_TRUE(vendor != nullptr && std::string(vendor->value).rfind("0x", 0) == 0) << dev->path;
        }
        linux_host.sysfs_close_bus(bus);
    }
    if (::geteuid() != 0) GTEST_SKIP() << "loading needs root";
    struct stat st {};
    if (::lstat("/dev/vxa2xxx", &st) == 0) GTEST_SKIP() << "this machine has the adapter driver's node";
    shtest::reset_shared_state();
    const bool had_load_sem = sem_exists(VX_SEM_KEY_LOAD);
    const bool had_flash_sem = sem_exists(VX_SEM_KEY_FLASH);
    const bool had_shared_sem = sem_exists(VX_SEM_KEY_SHARED);
    {
        CountingPlatform host;
        EXPECT_EQ(vxapi_load_lib(), 0);
        EXPECT_EQ(host.looked_up, std::vector<std::string>(driver_names, driver_names + VXSYSFS_DRIVER_NAMES));
        EXPECT_TRUE(api_priv_database == nullptr && api_phy_info == nullptr);
        EXPECT_EQ(vxapi_unload_lib(), 0);
        EXPECT_EQ(host.made, 0);
    }
    EXPECT_EQ(sem_exists(VX_SEM_KEY_SHARED), had_shared_sem);
    EXPECT_TRUE(sem_exists(VX_SEM_KEY_FLASH)) << "got before discovery and kept";
    EXPECT_NE(::access(VX_SHARED_FILE, F_OK), 0);
    // The library never removes the load semaphore, nor the flash semaphore of a load that found
    // nothing; those this test made go again.
    if (!had_load_sem && sem_exists(VX_SEM_KEY_LOAD)) ::semctl(::semget(VX_SEM_KEY_LOAD, 1, 0), 0, IPC_RMID);
    if (!had_flash_sem && sem_exists(VX_SEM_KEY_FLASH)) ::semctl(::semget(VX_SEM_KEY_FLASH, 1, 0), 0, IPC_RMID);
    shtest::reset_shared_state();
}

}  // namespace

// A program forks while another of its threads is inside a call, or holds one of the library's locks: the fork waits
// for that thread to let go, and the child uses the library at once, with the ports it had open, also while the parent
// runs its event thread and its clean-up on signals. The child takes a slot of its own and leaves the parent's slot
// and flash update token as they were; both unload cleanly. A child that ends without closing leaves no live slot.
//
// The children here start threads in a process forked from one with threads: ThreadSanitizer cannot run that, so
// these tests carry the label "forked-threads", which its build leaves out.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "base/vx_records.h"
#include "base/vx_sddbg.h"
#include "core/life/vx_api_lock.h"
#include "core/life/vx_load.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"
#include "vxsdm.h"

namespace {

using namespace std::chrono_literals;

constexpr uint16_t kChip = 0x2071;  // a chip with the flash update token
constexpr uint8_t kQueryCommand = 0x00;
constexpr uint16_t kQueryPort = 2;  // the port query of SDGetHbaDevicePortProperty

// How long a child may take to answer its first step, and how long the call is held when no fork waits for it.
constexpr int kDeadlineMs = 10000;
constexpr auto kHoldLimit = 5s;

// What the parent runs besides its calls when it forks.
enum class Running { Nothing, Events, SignalCleanUp };

// The road of the adapter's port: the driver's ioctl node, or sysfs with bsg and netlink.
enum class Road { Ioctl, Sysfs };

// The hosts of each road.
struct IoctlHost {
    IoctlHost() {
        sim::FabricSetup setup;
        setup.adapters = {sim::adapter(kChip)};
        const sim::Fabric fabric = sim::install_adapters(host, driver, setup);
        sim::install_flash(driver);
        sim::install_nvram_vpd(driver);
        sim::build_chip_flash(*driver.adapter_of(*fabric.physical[0]), sim::vpd_flash_options(kChip));
        port = fabric.physical[0];
    }
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimPort* port = nullptr;
};

struct SysfsHost {
    SysfsHost() : rig(kChip) { rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup); }
    sysfstest::SysfsRig rig;
};

// One adapter loaded through the public functions: the port open, its token taken.
struct Loaded {
    Loaded(Road road, Running running) {
        shtest::reset_shared_state();
        if (road == Road::Ioctl) {
            ioctl.emplace();
        } else {
            sysfs.emplace();
        }
        EXPECT_EQ(SDOpenDevice(0, &handle), 0u);
        if (running == Running::Events) {
            EXPECT_EQ(SDEnableAen(handle), 0u);
        }
        if (running == Running::SignalCleanUp) {
            EXPECT_EQ(vxapi_setup_signal_handlers(), 0);
        }
        EXPECT_EQ(SDStartFlashUpdate(handle, 0, &token), 0u);
        slot = api_library_instance;
    }
    ~Loaded() {
        shtest::reset_shared_state();
        vxdbg_reset();
    }
    sim::SimHost& host() { return ioctl ? ioctl->host : sysfs->rig.host; }

    // The slot's flag word and the token table's first slot, as the shared file holds them.
    uint32_t slot_flags(int s) {
        uint32_t flags = 0;
        const std::string file = host().read_file(VX_SHARED_FILE);
        if (file.size() == VX_SHARED_SIZE) std::memcpy(&flags, file.data() + 4 * s, sizeof flags);
        return flags;
    }
    std::string token_table() {
        const std::string file = host().read_file(VX_SHARED_FILE);
        return file.size() == VX_SHARED_SIZE ? file.substr(offsetof(vxapi_shared_t, fut), sizeof(vxapi_shared_t::fut))
                                             : "";
    }

    std::optional<IoctlHost> ioctl;
    std::optional<SysfsHost> sysfs;
    int handle = 0;
    SD_INT32 token = 0;
    int slot = -1;
};

// The child's work, each step's result sent to the parent: the count, whether its netlink sockets are its own (none
// when the parent had none), a chip query on the port it had open, the parent's token seen as another process's, a second
// open, its slot, and both closes (the last one unloads).
int child_work(shtest::Child& self, int handle, int parent_socket) {
    CHIPPROPERTY chip{};
    SD_INT32 mine = 0;
    int again = 0;
    self.reply(static_cast<int>(SDGetNumberOfAdapters()));
    self.reply(parent_socket < 0 ? gnl_fd < 0 : gnl_fd >= 0 && gnl_fd != parent_socket);
    self.reply(static_cast<int>(SDGetHbaDeviceChipProperty(handle, &chip)));
    self.reply(static_cast<int>(SDStartFlashUpdate(handle, 0, &mine)));
    self.reply(static_cast<int>(SDOpenDevice(0, &again)));
    self.reply(api_library_instance);
    self.reply(static_cast<int>(SDCloseDevice(again)));
    self.reply(static_cast<int>(SDCloseDevice(handle)));
    self.reply(api_priv_database == nullptr ? 1 : 0);
    return 0;
}

// What the other thread tells the forking one: it holds what it takes, and it let go.
struct Held {
    std::atomic<bool> held{false}, let_go{false};
};
using Hold = std::function<void(Loaded&, Held&)>;

// Forks while another thread holds what `hold` takes, until a moment after the fork began; checks that the fork
// waited for it, the child's calls (each answer within the deadline of Child::receive), then that the parent's slot
// and token are as they were and that the parent unloads cleanly.
void fork_while_held(Road road, Running running, const Hold& hold) {
    Loaded loaded(road, running);
    ASSERT_GE(loaded.slot, 0);
    const uint32_t parent_flags = loaded.slot_flags(loaded.slot);
    const std::string tokens = loaded.token_table();
    ASSERT_NE(parent_flags & VX_LIBINST_OWNED, 0u);

    Held held;
    std::thread holder([&] { hold(loaded, held); });
    while (!held.held.load()) std::this_thread::yield();
    std::optional<shtest::Child> child;
    const int parent_socket = gnl_fd;
    child.emplace([&](shtest::Child& self) { return child_work(self, loaded.handle, parent_socket); });
    EXPECT_TRUE(held.let_go.load()) << "the fork waited for the other thread to let go";
    holder.join();

    // A child that hangs answers nothing in time: the first step tells.
    const int count = child->receive(kDeadlineMs);
    ASSERT_EQ(count, 1) << "adapter count (-9999: no answer in time)";
    EXPECT_EQ(child->receive(), 1) << "netlink sockets of its own";
    EXPECT_EQ(child->receive(), 0) << "chip query on the port open before the fork";
    EXPECT_EQ(static_cast<SD_UINT32>(child->receive()), SDERR_FUT_EXISTS) << "the parent's token";
    EXPECT_EQ(child->receive(), 0) << "a second open";
    const int child_slot = child->receive();
    EXPECT_GE(child_slot, 0);
    EXPECT_NE(child_slot, loaded.slot) << "a slot of its own";
    EXPECT_EQ(child->receive(), 0) << "close";
    EXPECT_EQ(child->receive(), 0) << "last close";
    EXPECT_EQ(child->receive(), 1) << "unloaded";
    EXPECT_EQ(child->wait(), 0);

    EXPECT_EQ(loaded.slot_flags(loaded.slot), parent_flags) << "the parent's slot";
    if (child_slot >= 0 && child_slot < static_cast<int>(VX_LIBINST_SLOTS)) {
        EXPECT_EQ(loaded.slot_flags(child_slot) & VX_LIBINST_COUNT_MASK, 0u) << "the child released its slot";
    }
    EXPECT_TRUE(loaded.token_table() == tokens) << "the parent's token";

    CHIPPROPERTY chip{};
    EXPECT_EQ(SDGetHbaDeviceChipProperty(loaded.handle, &chip), 0u);
    EXPECT_EQ(SDEndFlashUpdate(loaded.handle, 0, loaded.token), 0u);
    EXPECT_EQ(SDCloseDevice(loaded.handle), 0u);
    EXPECT_EQ(api_priv_database, nullptr) << "the parent unloaded";
    EXPECT_FALSE(loaded.host().exists(VX_SHARED_FILE)) << "the last instance removed the shared file";
}

// The other thread is inside a port query, which the driver answers once the fork waits for the lock of the public
// API.
void inside_a_call(Loaded& loaded, Held& held) {
    const uint64_t waits = vxapi_api_lock_waits();
    const std::vector<uint8_t> record = loaded.ioctl->port->records.at({kQueryCommand, kQueryPort});
    loaded.ioctl->driver.on(kQueryCommand, kQueryPort, [waits, record, &held](const sim::SimRequest&) {
        held.held = true;
        const auto deadline = std::chrono::steady_clock::now() + kHoldLimit;
        while (vxapi_api_lock_waits() == waits && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        held.let_go = vxapi_api_lock_waits() != waits;
        return sim::SimReply::with_bytes(record);
    });
    DEVICEPORTPROPERTY port{};
    EXPECT_EQ(SDGetHbaDevicePortProperty(loaded.handle, 0, &port), 0u);
}

// The other thread holds one of the library's inner locks for a moment after the fork began.
template <class Lockable>
void holding(Lockable& lockable, Held& held) {
    std::lock_guard<Lockable> lock(lockable);
    held.held = true;
    std::this_thread::sleep_for(100ms);
    held.let_go = true;
}

struct Case {
    const char* name;
    Road road;
    Running running;
    Hold hold;
};

TEST(ApiFork, ChildUsesTheLibraryWhateverAnotherThreadHeldAtTheFork) {
    const Case cases[] = {
        {"inside a call", Road::Ioctl, Running::Nothing, inside_a_call},
        {"inside a call, events on", Road::Ioctl, Running::Events, inside_a_call},
        {"inside a call, signal clean-up set up", Road::Ioctl, Running::SignalCleanUp, inside_a_call},
        {"the list lock", Road::Ioctl, Running::Events, [](Loaded&, Held& g) { holding(vxapi_list_mutex(), g); }},
        {"the trace lock", Road::Sysfs, Running::Events, [](Loaded&, Held& g) { holding(vxdbg_mutex(), g); }},
        {"the netlink lock", Road::Sysfs, Running::Events, [](Loaded&, Held& g) { holding(vxapi_nl_mutex(), g); }},
        {"the signal set-up lock", Road::Sysfs, Running::SignalCleanUp,
         [](Loaded&, Held& g) { holding(vxapi_signal_mutex(), g); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fork_while_held(c.road, c.running, c.hold);
    }
}

// How a forked child ends without closing: _exit after a call or after an open, or killed after a call.
enum class End { ExitAfterCall, ExitAfterOpen, KilledAfterCall };

// Makes its first call (which gives it a slot of its own), tells its slot, and ends as `end` says.
int ending_child(shtest::Child& self, int handle, End end) {
    CHIPPROPERTY chip{};
    int again = 0;
    const SD_UINT32 rc =
        end == End::ExitAfterOpen ? SDOpenDevice(0, &again) : SDGetHbaDeviceChipProperty(handle, &chip);
    self.reply(rc == 0 ? api_library_instance : -1);
    if (end == End::KilledAfterCall) {
        for (;;) ::pause();
    }
    return 0;
}

// The slot of a child that ended without closing stays marked, counts for no instance and goes to the next process
// that opens: the parent's last close removes the shared file and the semaphores.
TEST(ApiFork, ChildThatEndsWithoutClosingLeavesNoLiveSlot) {
    const struct { const char* name; End end; bool next_opens; } cases[] = {
        {"ends after a call", End::ExitAfterCall, false},
        {"ends after an open", End::ExitAfterOpen, false},
        {"killed after a call", End::KilledAfterCall, false},
        {"killed after a call, then another child opens and ends", End::KilledAfterCall, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded(Road::Ioctl, Running::Nothing);
        ASSERT_GE(loaded.slot, 0);
        shtest::Child child([&](shtest::Child& self) { return ending_child(self, loaded.handle, c.end); });
        const int slot = child.receive();
        ASSERT_GE(slot, 0);
        EXPECT_NE(slot, loaded.slot);
        if (c.end == End::KilledAfterCall) child.signal(SIGKILL);
        const int status = child.wait_status();
        EXPECT_TRUE(c.end == End::KilledAfterCall ? WIFSIGNALED(status) : WIFEXITED(status)) << status;
        EXPECT_NE(loaded.slot_flags(slot) & VX_LIBINST_OWNED, 0u) << "the slot stays marked";
        if (c.next_opens) {
            shtest::Child next(
                [&](shtest::Child& self) { return ending_child(self, loaded.handle, End::ExitAfterOpen); });
            EXPECT_EQ(next.receive(), slot) << "the dead child's slot is taken";
            EXPECT_EQ(next.wait(), 0);
        }
        EXPECT_EQ(SDEndFlashUpdate(loaded.handle, 0, loaded.token), 0u);
        EXPECT_EQ(SDCloseDevice(loaded.handle), 0u);
        EXPECT_FALSE(loaded.host().exists(VX_SHARED_FILE)) << "the last close removed the shared file";
        for (const int key : {VX_SEM_KEY_SHARED, VX_SEM_KEY_FLASH}) {
            EXPECT_FALSE(shtest::host_sem_exists(loaded.host(), key)) << "semaphore " << key;
        }
    }
}

}  // namespace

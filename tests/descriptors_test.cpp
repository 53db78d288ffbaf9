// The descriptors the library opens are closed on exec: a shell command the
// library runs takes none of them, on any road.
#include <algorithm>
#include <memory>
#include <set>

#include "core/life/vx_load.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_bsg.h"
#include "sim_flash.h"
#include "sim_sysfs_adapters.h"
#include "sim_sysfs_flash.h"
#include "transport/vx_apidev.h"
#include "transport/vx_netlink.h"
#include "transport/vx_sysfs_prim.h"
#include "vxsdm.h"

namespace {

enum class Road { NewDriver, OldDriver, SysfsBsg, SysfsNetlink };

constexpr uint16_t kChip = 0x2532;      // a flash-layout chip, known on every road
constexpr unsigned kApiDevMajor = 245;  // of the API device in /proc/devices
constexpr const char* kBsgMajor = " 250:";  // the major of the bsg nodes, as the mknod log shows it
constexpr const char* kTrigger = "/sbin/udevadm trigger";

// A device that answers no request: the API device, which is only held open.
struct QuietDevice final : sim::SimDevice {
    int ioctl(dev_t, unsigned long, void*) override { return ENOTTY; }
};

void reset_library() {
    vxdbg_reset();
    shtest::reset_shared_state();
    gnl_fd = gnl_scsi_fc_fd = apidevfd = -1;
    sysfs_mnt_path[0] = '\0';
}

// One adapter of two ports on the road, its flash holding the chip's regions
// and its NVRAM; on the sysfs roads the API device too. udevadm is there.
struct Rig {
    explicit Rig(Road road) {
        reset_library();
        host.write_file("/sbin/udevadm", "");
        sim::SimAdapter chip;
        chip.device_id = kChip;
        region = sim::build_chip_flash(chip).regions[2];
        if (road == Road::NewDriver || road == Road::OldDriver) {
            sim::FabricSetup setup;
            setup.kind = road == Road::NewDriver ? sim::DriverKind::New : sim::DriverKind::Old;
            setup.adapters = {sim::adapter(kChip, 2)};
            const sim::Fabric fabric = sim::install_adapters(host, driver, setup);
            sim::install_flash(driver);
            driver.adapter_of(*fabric.physical[0])->flash = chip.flash;
            fabric.physical[0]->nvram.assign(kNvramSize, 0x3C);
            return;
        }
        sim::SysfsSetup setup;
        setup.adapters = {sim::sysfs_adapter(kChip, {5, 6})};
        setup.adapters[0].flash = chip.flash;
        setup.with_bsg = road == Road::SysfsBsg;
        const sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, setup);
        sim::serve_flash(host, bsg, fabric);
        const auto nvram = std::make_shared<std::string>(kNvramSize, 'n');
        host.set_attr(fabric.host_dirs.at(5) + "/nvram", sim::bytes_attr(nvram), 0400);
        host.write_file("/proc/devices", "Character devices:\n" + std::to_string(kApiDevMajor) + " vx2xapidev\n");
        host.register_device(kApiDevMajor, &apidev);
    }
    ~Rig() {
        if (api_priv_database != nullptr) (void)vxapi_unload_lib();  // clean-up; always 0
        reset_library();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // Whether the library opened a descriptor on a path with this ending; the
    // nodes it made for bsg jobs are named "bsg node".
    bool opened(const std::string& ending) const {
        const std::vector<std::string> made = host.mknod_log();  // "path mode major:minor"
        return std::ranges::any_of(host.opened(), [&](const sim::SimDescriptor& d) {
            const bool bsg = std::ranges::any_of(made, [&](const std::string& m) {
                return m.rfind(d.what + " ", 0) == 0 && m.find(kBsgMajor) != std::string::npos;
            });
            return (bsg ? std::string("bsg node") : d.what).ends_with(ending);
        });
    }

    static constexpr size_t kNvramSize = 512;
    sim::SimBsg bsg;  // before the host it attaches to
    QuietDevice apidev;
    sim::SimHost host;
    sim::SimDriver driver;
    sim::FltRegion region;
};

struct Case {
    Road road;
    std::set<std::string> held;        // what the descriptors held at the end stand on
    std::vector<std::string> passing;  // endings of paths opened on the way
};

// Every port opened, then a property query, a region read, an event
// registration, an NVRAM read and a LUN name change, which runs udevadm while
// the ports are open. Every descriptor opened on the way and every one held at
// the end (the real ones as the kernel has them) is closed on exec; udevadm
// inherited none of them, and would have inherited one that is not.
TEST(Descriptors, EveryDescriptorTheLibraryOpensIsClosedOnExec) {
    const std::string shared = VX_SHARED_FILE;
    const std::set<std::string> sysfs_held = {shared, "/dev/vx2xapidev", "netlink 18", "netlink 20"};
    const Case cases[] = {
        {Road::NewDriver, {shared, "/dev/vxa2xxx"}, {"/vxa2xxx/dev"}},
        {Road::OldDriver, {shared, "/proc/scsi/vxa2x00/HbaApiNode"}, {}},
        {Road::SysfsBsg, sysfs_held, {"bsg node", "/proc/devices"}},
        {Road::SysfsNetlink, sysfs_held, {"/optrom"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "road " << static_cast<int>(c.road));
        Rig rig(c.road);
        int handles[2] = {-1, -1};
        ASSERT_EQ(SDGetNumberOfAdapters(), 2u);
        for (SD_UINT32 i = 0; i < 2; ++i) ASSERT_EQ(SDOpenDevice(i, &handles[i]), 0u) << i;
        const int h = handles[0];
        CHIPPROPERTY chip{};
        EXPECT_EQ(SDGetHbaDeviceChipProperty(h, &chip), 0u);
        std::vector<uint8_t> buf(rig.region.size);
        EXPECT_EQ(SDGetOptionRomEx(h, 0, buf.data(), rig.region.size, rig.region.code), 0u);
        EXPECT_EQ(SDEnableAen(h), 0u);
        std::vector<uint8_t> nvram(Rig::kNvramSize);
        EXPECT_EQ(SDGetNVRam(h, 0, 1, nvram.data(), Rig::kNvramSize), 0u);
        char name[] = "disk";
        SDSetLunUdevName(h, 0, 0, 0, reinterpret_cast<SD_PINT8>(name));  // the trigger follows failures too

        for (const sim::SimDescriptor& d : rig.host.opened()) EXPECT_TRUE(d.cloexec) << d.what;
        for (const std::string& ending : c.passing) EXPECT_TRUE(rig.opened(ending)) << ending;
        std::set<std::string> held;
        for (const sim::SimDescriptor& d : rig.host.descriptors()) {
            EXPECT_TRUE(d.cloexec) << d.what;
            held.insert(d.what);
        }
        EXPECT_EQ(held, c.held);
        const std::vector<std::string> commands = rig.host.commands();
        EXPECT_NE(std::ranges::find(commands, kTrigger), commands.end());
        EXPECT_EQ(rig.host.inherited(), std::vector<std::string>{});

        const int leak = vx::sys().open(VX_SHARED_FILE, O_RDONLY);
        SDSetLunUdevName(h, 0, 0, 0, reinterpret_cast<SD_PINT8>(name));
        vx::sys().close(leak);
        const std::string inherited = kTrigger + (": " + std::to_string(leak)) + " " + shared;
        EXPECT_EQ(rig.host.inherited(), std::vector<std::string>{inherited});
    }
}

}  // namespace

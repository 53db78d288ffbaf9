// The public functions called from several threads: one call at a time in a process. Every exported function waits
// for a call that another thread is running (or never waits, when it touches nothing of the library); threads that
// work on their own adapters at once each find exactly their own bytes in flash; the clean-up on a signal waits for
// the running call.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <latch>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "core/life/vx_api_lock.h"
#include "core/life/vx_load.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;

// ---------------------------------------------------------------- every exported function

// Calls f with every argument zero (null pointers, handle 0, which no port has).
template <class R, class... A>
void call_with_zeros(R (*f)(A...)) {
    (void)f(A{}...);
}

struct Entry {
    const char* name;
    void (*call)();
};
#define ENTRY(f) Entry{#f, [] { call_with_zeros(f); }}

const Entry kExported[] = {
    ENTRY(ISDFoDeletePersistentDeviceEntry), ENTRY(ISDFoDeletePersistentTargetEntry), ENTRY(ISDFoGetApiVersion),
    ENTRY(ISDFoGetFoCapability), ENTRY(ISDFoGetFoDriverVersion), ENTRY(ISDFoGetLBPolicy), ENTRY(ISDFoGetLunData),
    ENTRY(ISDFoGetPaths), ENTRY(ISDFoGetPersistentDeviceEntryList), ENTRY(ISDFoGetPersistentTargetEntryList),
    ENTRY(ISDFoGetStatistics), ENTRY(ISDFoGetSysParams), ENTRY(ISDFoGetTargetData), ENTRY(ISDFoResetStatistics),
    ENTRY(ISDFoSetCurrentPath), ENTRY(ISDFoSetLBPolicy), ENTRY(ISDFoSetLunData), ENTRY(ISDFoSetSysParams),
    ENTRY(ISDFoSetTargetData), ENTRY(SDCloseDevice), ENTRY(SDEnableDebugTrace), ENTRY(SDGetCnaPortData),
    ENTRY(SDGetDiscPortProperty), ENTRY(SDGetDiscTargetProperty), ENTRY(SDGetDriverParameters),
    ENTRY(SDGetErrorString), ENTRY(SDGetFirmWare), ENTRY(SDGetFirmWareParameter), ENTRY(SDGetFirmwareCode),
    ENTRY(SDGetFirmwareParameters), ENTRY(SDGetFlash), ENTRY(SDGetHbaDeviceChipProperty),
    ENTRY(SDGetHbaDeviceDriverProperty), ENTRY(SDGetHbaDeviceFirmwareProperty), ENTRY(SDGetHbaDeviceNodeProperty),
    ENTRY(SDGetHbaDevicePortLunMask), ENTRY(SDGetHbaDevicePortProperty), ENTRY(SDGetHbaFeature),
    ENTRY(SDGetHbaSupportedFeatureList), ENTRY(SDSetHbaFeature), ENTRY(SDSetHbaFeatureList),
    ENTRY(SDGetHbaTargetLunMaskFC), ENTRY(SDGetMgmtAddress), ENTRY(SDGetNumberOfAdapters), ENTRY(SDGetOptionRom),
    ENTRY(SDGetOptionRomEx), ENTRY(SDGetOptionRomLayout), ENTRY(SDGetOptionRomOffset), ENTRY(SDGetPortDatabase),
    ENTRY(SDGetPositionalMap), ENTRY(SDGetVersion), ENTRY(SDMapScsiTargetToVolumes), ENTRY(SDMapVolumeToScsiTarget),
    ENTRY(SDOpenDevice), ENTRY(SDResetStatistics), ENTRY(SDSendElsRnid), ENTRY(SDSetMgmtAddress),
    ENTRY(SDSwapTargetDevice), ENTRY(SDUpdateHbaDevicePortLunMask), ENTRY(SDUpdateHbaTargetLunMaskFC),
    ENTRY(SDVerifyHbaState), ENTRY(SDXlateSDMErr), ENTRY(vxa_get_os_device_name_by_handle),
    ENTRY(SDGetFlashUpdateCapabilities), ENTRY(SDSendFlashUpdateCapabilities), ENTRY(SDStartFlashUpdate),
    ENTRY(SDEndFlashUpdate), ENTRY(SDOnlineActivateFlashUpdate), ENTRY(SDGetNVRam), ENTRY(SDUpdateNVRam),
    ENTRY(SDVerifyHbaNVRam), ENTRY(SDGetVariableValue), ENTRY(SDSetVariableValue), ENTRY(SDGetVpd),
    ENTRY(SDUpdateVpd), ENTRY(SD24xxSaveVpd), ENTRY(SDUpdateOptionRom), ENTRY(SDUpdateOptionRomOffset),
    ENTRY(SDUpdateOptionRomEx), ENTRY(SDUpdateOptionRomEx2), ENTRY(SDSendScsiPassThru), ENTRY(SDSendScsiPassThruFC),
    ENTRY(SDSendScsiInquiryCmd), ENTRY(SDSendScsiReadCapacityCmd), ENTRY(SDSendScsiReportLunsCmd),
    ENTRY(SDSendScsiInquiryCmdFC), ENTRY(SDSendScsiReadCapacityCmdFC), ENTRY(SDSendScsiReportLunsCmdFC),
    ENTRY(SDSendCTPassThru), ENTRY(SDSendElsEcho), ENTRY(SDEnableAen), ENTRY(SDDisableAen), ENTRY(SDGetAen),
    ENTRY(SDGetBeaconControl), ENTRY(SDGetFwDump), ENTRY(SDGetPortStatisticsFC), ENTRY(SDGetStatistics),
    ENTRY(SDGetStatisticsFC), ENTRY(SDRunDiagLoopback), ENTRY(SDRunDiagLoopbackEx), ENTRY(SDUpdateBeaconControl),
    ENTRY(SDDeleteLunUdevName), ENTRY(SDDiagIO), ENTRY(SDDisableZoneWiseFC), ENTRY(SDEnableZoneWiseFC),
    ENTRY(SDGetBoardTemp), ENTRY(SDGetFCSerDesRegister), ENTRY(SDGetFCSerDesRegisterEx), ENTRY(SDGetLunUdevName),
    ENTRY(SDGetTraceBuffer), ENTRY(SDGetZoneWiseStatusFC), ENTRY(SDReadSerdesParams), ENTRY(SDSetFCSerDesRegister),
    ENTRY(SDSetFCSerDesRegisterEx), ENTRY(SDSetLunUdevName), ENTRY(SDCreateVport), ENTRY(SDDeleteVport),
    ENTRY(SDGetQoS), ENTRY(SDGetSFPData), ENTRY(SDGetTargetIDMALinkSpeed), ENTRY(SDReadSFPData), ENTRY(SDSetQoS),
    ENTRY(SDSetTargetIDMALinkSpeed), ENTRY(SDTarnoMgt), ENTRY(SDVportGetinfo), ENTRY(SDWriteSFPData),
    // Set up and taken down again: the test process keeps its own signal actions.
    Entry{"vxapi_setup_signal_handlers", [] { vxapi_setup_signal_handlers(), vxapi_stop_signal_watcher(); }},
};
#undef ENTRY

// The functions that touch nothing of the library: a constant, a text of their own, "not supported".
const std::set<std::string> kNeverWait = {
    "SDGetVersion", "ISDFoGetApiVersion", "SDGetErrorString", "SDXlateSDMErr", "SDSwapTargetDevice",
    "SDGetHbaDevicePortLunMask", "SDUpdateHbaDevicePortLunMask", "SDGetPositionalMap", "SDSetMgmtAddress",
    "SDGetMgmtAddress", "SDGetDriverParameters", "SDGetFirmWare", "SDGetFirmWareParameter", "SDGetFlash",
    "SDResetStatistics", "SDMapScsiTargetToVolumes", "SDEnableDebugTrace", "SDGetFirmwareCode",
    "SDMapVolumeToScsiTarget", "SDGetFirmwareParameters", "SDSendElsRnid", "SDGetHbaTargetLunMaskFC",
    "SDUpdateHbaTargetLunMaskFC",
};

std::set<std::string> exported_names() {
    std::set<std::string> names;
    std::ifstream in(VXSDM_PUBLIC_SYMBOLS);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') names.insert(line);
    }
    return names;
}

// Whether the call, made in another thread while this one holds the lock, waited for the lock before it returned.
bool waits_for_a_running_call(const Entry& e) {
    std::optional<VxApiLock> running(std::in_place);
    const uint64_t waits = vxapi_api_lock_waits();
    std::atomic<bool> returned{false};
    std::thread caller([&] { e.call(), returned = true; });
    while (vxapi_api_lock_waits() == waits && !returned.load()) std::this_thread::yield();
    const bool waited = !returned.load();
    running.reset();
    caller.join();
    return waited;
}

TEST(ApiLock, EveryExportedFunctionWaitsForTheCallOfAnotherThread) {
    std::set<std::string> listed;
    for (const Entry& e : kExported) listed.insert(e.name);
    EXPECT_EQ(listed, exported_names()) << "every exported function has its entry";

    sim::SimHost host;  // no adapter: the calls find nothing to work on
    for (const Entry& e : kExported) {
        EXPECT_EQ(waits_for_a_running_call(e), kNeverWait.count(e.name) == 0) << e.name;
    }
    shtest::reset_shared_state();
    vxdbg_reset();
}

// ---------------------------------------------------------------- one thread per adapter

// Three flash layouts: the first chip keeps its NVRAM with the driver, the others in flash (region 0x15; 0xAA).
constexpr uint16_t kChips[] = {0x2532, 0x2031, 0x8031};
constexpr size_t kAdapters = std::size(kChips);
constexpr uint8_t kRegion = 0x40;  // a plain region, at another offset on each adapter
constexpr uint32_t kRegionSize = 0x1000;
constexpr uint32_t kNvramSize = 512;
constexpr unsigned kRounds = 12;

uint32_t region_start(size_t adapter) { return 0x100000 + static_cast<uint32_t>(adapter) * 0x31000; }

// The adapter's flash: the chip's usual regions, its own region kRegion, and region 0xAA on the last chip.
Bytes chip_flash(size_t adapter) {
    sim::SimAdapter a;
    a.device_id = kChips[adapter];
    sim::ChipFlashOptions options = sim::vpd_flash_options(a.device_id);
    options.regions->push_back(sim::flt_region(kRegion, kRegionSize, region_start(adapter)));
    if (a.device_id == 0x8031) options.regions->push_back(sim::flt_region(0xAA, kNvramSize, 0x3D1000));
    sim::build_chip_flash(a, options);
    return a.flash;
}

// The NVRAM that the driver keeps for the first chip.
Bytes driver_nvram() { return sim::pattern(kNvramSize, 0x3C); }

// Runs fn(i) for i = 0, 1, 2 in threads that start it at the same moment.
template <class Fn>
void at_once(Fn fn) {
    std::latch ready(kAdapters);
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < kAdapters; ++i) threads.emplace_back([&, i] { ready.arrive_and_wait(), fn(i); });
    for (std::thread& t : threads) t.join();
}

// The work of one thread on port `instance`: opens it, finds its adapter by the chip (*adapter), then in each round
// writes the region, reads it back, reads the NVRAM, the chip's properties and the events; closes. The first
// failure, or empty.
std::string work(unsigned instance, size_t* adapter) {
    int h = 0;
    if (const SD_UINT32 opened = SDOpenDevice(instance, &h); opened != 0) return "open: " + std::to_string(opened);
    CHIPPROPERTY chip{};
    Bytes nvram(kNvramSize), nvram_then(kNvramSize), back(kRegionSize);
    std::string failure;
    if (SDGetHbaDeviceChipProperty(h, &chip) != 0 || SDGetNVRam(h, 0, 0, nvram.data(), kNvramSize) != 0 ||
        SDEnableAen(h) != 0) {
        failure = "the port's first calls";
    }
    *adapter = static_cast<size_t>(std::find(kChips, kChips + kAdapters, chip.DeviceID) - kChips);
    for (unsigned r = 0; r < kRounds && failure.empty(); ++r) {
        Bytes image = sim::pattern(kRegionSize, static_cast<uint8_t>(*adapter * 50 + r));
        CHIPPROPERTY again{};
        ASYNCEVENT events[8];
        SD_UINT32 count = 0;
        const SD_UINT32 status[] = {SDUpdateOptionRomEx(h, 1, image.data(), kRegionSize, kRegion),
                                    SDGetOptionRomEx(h, 0, back.data(), kRegionSize, kRegion),
                                    SDGetNVRam(h, 0, 0, nvram_then.data(), kNvramSize),
                                    SDGetHbaDeviceChipProperty(h, &again),
                                    SDGetAen(h, events, sizeof events, &count)};
        if (std::any_of(std::begin(status), std::end(status), [](SD_UINT32 s) { return s != 0; })) {
            failure = "a call failed in round " + std::to_string(r);
        } else if (back != image || nvram_then != nvram || again.DeviceID != chip.DeviceID) {
            failure = "another adapter's bytes in round " + std::to_string(r);
        }
    }
    if (SDCloseDevice(h) != 0) failure += " (close failed)";
    return failure;
}

// Hosts of each road with one adapter of each chip, its flash as built.
struct IoctlRoad {
    IoctlRoad() {
        sim::FabricSetup setup;
        for (uint16_t chip : kChips) setup.adapters.push_back(sim::adapter(chip));
        const sim::Fabric fabric = sim::install_adapters(host, driver, setup);
        sim::install_flash(driver);
        sim::install_nvram_vpd(driver);
        for (size_t i = 0; i < kAdapters; ++i) {
            adapters[i] = driver.adapter_of(*fabric.physical[i]);
            adapters[i]->flash = chip_flash(i);
        }
        fabric.physical[0]->nvram = driver_nvram();
    }
    Bytes& flash(size_t adapter) { return adapters[adapter]->flash; }
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimAdapter* adapters[kAdapters] = {};
};

struct SysfsRoad {
    SysfsRoad() {
        for (size_t i = 0; i < kAdapters; ++i) {
            rig.setup.adapters.push_back(sim::sysfs_adapter(kChips[i], {5 + static_cast<unsigned>(i)}));
            rig.setup.adapters.back().flash = chip_flash(i);
        }
        rig.setup.with_bsg = false;  // flash moves through the attribute files
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        const Bytes nvram = driver_nvram();
        rig.host.set_attr(rig.fabric.host_dirs.at(5) + "/nvram",
                          sim::bytes_attr(std::make_shared<std::string>(nvram.begin(), nvram.end())));
    }
    Bytes& flash(size_t adapter) { return *rig.fabric.windows.at(5 + static_cast<unsigned>(adapter))->flash; }
    sysfstest::SysfsRig rig;
};

// One thread on each adapter, from their first opens at the same moment to the last close: each adapter's flash
// differs from what it held only in its own region, which holds the last image its own thread wrote.
template <class Road>
void each_thread_finds_only_its_own_adapter() {
    shtest::reset_shared_state();
    Road road;
    std::string failures[kAdapters];
    size_t found[kAdapters] = {kAdapters, kAdapters, kAdapters};
    at_once([&](unsigned i) { failures[i] = work(i, &found[i]); });
    for (size_t i = 0; i < kAdapters; ++i) EXPECT_EQ(failures[i], "") << "thread " << i;
    ASSERT_EQ(std::set<size_t>(found, found + kAdapters), (std::set<size_t>{0, 1, 2})) << "one on each adapter";
    for (size_t a = 0; a < kAdapters; ++a) {
        Bytes want = chip_flash(a);
        sim::place(want, region_start(a), sim::pattern(kRegionSize, static_cast<uint8_t>(a * 50 + kRounds - 1)));
        EXPECT_TRUE(road.flash(a) == want) << "adapter " << a;
    }
    EXPECT_EQ(api_priv_database, nullptr) << "the last close unloaded the library";
    shtest::reset_shared_state();
    vxdbg_reset();
}

TEST(ApiThreads, EachThreadFindsOnlyItsOwnAdapter) {
    each_thread_finds_only_its_own_adapter<IoctlRoad>();
    each_thread_finds_only_its_own_adapter<SysfsRoad>();
}

// Opens of the other ports made while the first open loads the library (its port list made, the shared file not yet
// attached) wait for it, and all succeed.
TEST(ApiThreads, OpensDuringTheFirstLoadAllSucceed) {
    shtest::reset_shared_state();
    IoctlRoad road;
    SD_UINT32 opened[kAdapters] = {};
    int handles[kAdapters] = {};
    std::latch listed(1);               // the first open has made the port list
    std::atomic<unsigned> returned{0};  // the other threads' opens that returned
    std::atomic<bool> stalled{false};
    const uint64_t waits = vxapi_api_lock_waits();
    // The first open stalls at its first semaphore operation after discovery until each other open has returned or
    // waits for the lock.
    road.host.on_event([&](const std::string& event) {
        if (event.rfind("semop", 0) != 0 || api_priv_database == nullptr || stalled.exchange(true)) return;
        listed.count_down();
        while (returned.load() + (vxapi_api_lock_waits() - waits) < kAdapters - 1) std::this_thread::yield();
    });
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < kAdapters; ++i) {
        threads.emplace_back([&, i] {
            if (i != 0) listed.wait();
            opened[i] = SDOpenDevice(i, &handles[i]);
            if (i != 0) ++returned;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::vector<SD_UINT32>(opened, opened + kAdapters), std::vector<SD_UINT32>(kAdapters, 0));
    for (int h : handles) SDCloseDevice(h);
    road.host.on_event({});
    shtest::reset_shared_state();
    vxdbg_reset();
}

// ---------------------------------------------------------------- the clean-up on a signal

// SIGTERM arrives while a call runs in the process: the clean-up waits for that call (the process keeps its slot
// meanwhile), also when the call ends by unloading the library itself, then unloads and ends by the signal.
TEST(ApiThreads, SignalCleanUpWaitsForTheRunningCall) {
    shtest::reset_shared_state();
    sim::SimHost host;
    sim::SimDriver driver;
    sim::FabricSetup setup;
    setup.adapters = {sim::adapter(0x2312)};
    sim::install_adapters(host, driver, setup);
    for (bool call_closes : {false, true}) {
        SCOPED_TRACE(call_closes ? "the running call closes the last port" : "a running call");
        ASSERT_EQ(shtest::open_here(), 0);  // another process keeps the file
        shtest::Child child([&](shtest::Child& self) {
            int h = 0;
            if (SDOpenDevice(0, &h) != 0 || vxapi_setup_signal_handlers() != 0) return 1;
            {
                VxApiLock running;  // a call of this process
                const uint64_t waits = vxapi_api_lock_waits();
                self.reply(api_library_instance);
                while (vxapi_api_lock_waits() == waits) std::this_thread::yield();
                self.reply(1);  // the clean-up waits
                self.command();
                self.reply(call_closes ? static_cast<int>(SDCloseDevice(h)) : 0);
            }  // the call returns: the clean-up runs and the signal ends the process
            for (;;) ::pause();
        });
        const int slot = child.receive();
        ASSERT_GE(slot, 0);
        child.signal(SIGTERM);
        ASSERT_EQ(child.receive(), 1);
        EXPECT_NE(host.read_file(VX_SHARED_FILE)[4 * slot] & VX_LIBINST_ACTIVE, 0) << "still loaded";
        child.send(1);
        EXPECT_EQ(child.receive(), 0);
        const int status = child.wait_status();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(host.read_file(VX_SHARED_FILE)[4 * slot] & VX_LIBINST_ACTIVE, 0) << "the slot is released";
        (void)vxapi_close_database(api_shm_fildes);  // always 0
    }
    shtest::reset_shared_state();
}

}  // namespace

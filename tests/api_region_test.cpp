// Region activation on a port and its sibling functions, the flash update
// token with online activation, and the flash versions and active image set
// that discovery reads through a port's own layout, through the public
// functions.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/vx_sdupdate.h"
#include "api_rig.h"
#include "sim_adapters.h"
#include "sim_regions.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using apitest::ApiRig;
using apitest::RigPort;
using apitest::TokenRig;
using Taken = std::vector<std::pair<uint16_t, uint16_t>>;  // (driver instance, sub-code)

uint16_t inst(const RigPort& p) { return p.sim->instance; }

TEST(RegionActivation, CodeAndSiblingsByRegionAndChip) {
    struct Row { uint16_t device; uint32_t region; uint16_t sub_code; bool both; };
    const Row rows[] = {
        {0x2532, 0x01, 1, true},     {0x2422, 0x01, 0, false},   {0x2422, 0x20261, 4, true},
        {0x8001, 0x41, 2, false},    {0x8031, 0x41, 0, false},   {0x8021, 0x97, 1, false},
        {0x8831, 0x97, 2, false},    {0x2071, 0x02, 1, true},    {0x2031, 0x15, 1, false},
        {0x0101, 0xD7, 3, false},    {0x2271, 0xD9, 1, false},   {0x8044, 0x74, 1, false},
        {0x8031, 0xA4, 1, true},     {0x8044, 0xAC, 3, false},   {0x8831, 0xAA, 1, false},
        {0x2532, 0x2025C, 1, false}, {0x2532, 0x20262, 5, false}, {0x2532, 0x14, 0, false},
        {0x2261, 0x01, 1, true},     {0x8001, 0x45, 2, false},   {0x2031, 0x01, 1, true},
    };
    for (const Row& r : rows) {
        ApiRig rig;
        RigPort& a = rig.add_adapter(r.device);
        RigPort& b = rig.add_function(a);
        EXPECT_EQ(vxapi_reset_region(a.handle, a.rec, r.region), 0u);
        Taken want;
        if (r.sub_code != 0) want.emplace_back(inst(a), r.sub_code);
        if (r.both) want.emplace_back(inst(b), r.sub_code);
        EXPECT_EQ(rig.taken(), want) << std::hex << r.device << " region " << r.region;
    }
}

// Siblings are the other physical functions of the same PCI device: never a
// virtual port, never a port of another bus. A sibling the application holds
// open keeps its handle; one it does not hold is opened and closed again.
TEST(RegionActivation, SiblingsAndTheirHandles) {
    ApiRig rig;
    RigPort& a = rig.add_adapter(0x2532);
    RigPort& b = rig.add_function(a);
    RigPort& other_bus = rig.add_adapter(0x2532);
    rig.add_function(other_bus).rec->phy_info->pci_bus = a.rec->phy_info->pci_bus | 0x100;  // low 8 bits count
    dlist_start(api_priv_database);  // the virtual port goes to the front of the list
    ASSERT_EQ(sim::listed_ports().front(), rig.add_virtual(b).rec);
    EXPECT_EQ(vxapi_is_other_phy_port_exist(a.handle, a.rec), b.rec);
    EXPECT_EQ(vxapi_is_other_phy_port_exist(other_bus.handle, other_bus.rec), nullptr);
    EXPECT_EQ(vxapi_is_quad_phy_port_exist(a.handle, a.rec, 2), b.rec);
    EXPECT_EQ(vxapi_is_quad_phy_port_exist(a.handle, a.rec, 1), nullptr);

    const auto state = [&b] { return std::make_tuple(b.rec->oshandle, b.rec->apihandle, b.rec->open_cnt); };
    const auto held = state();
    ASSERT_EQ(vxapi_reset_region(a.handle, a.rec, 0x01), 0u);
    EXPECT_EQ(state(), held);
    b.rec->open_cnt = 0;  // not open: opened for the activation and closed again
    b.rec->oshandle = -1;
    ASSERT_EQ(vxapi_reset_region(a.handle, a.rec, 0x01), 0u);
    EXPECT_EQ(state(), std::make_tuple(-1, b.rec->apihandle, 0u));
    EXPECT_EQ(rig.taken(), (Taken{{inst(a), 1}, {inst(b), 1}, {inst(a), 1}, {inst(b), 1}}));

    std::strcpy(reinterpret_cast<char*>(b.rec->phys_path), "/dev/missing");  // cannot be opened
    EXPECT_EQ(vxapi_reset_region(a.handle, a.rec, 0x01), SDERR_SIBLING_FAILED);
}

// On the quad chip a call from any port activates every function once.
TEST(RegionActivation, QuadChainFromEachPort) {
    for (int from = 0; from < 4; ++from) {
        ApiRig rig;
        std::vector<RigPort*> ports{&rig.add_adapter(0x2071)};
        for (int i = 1; i < 4; ++i) ports.push_back(&rig.add_function(*ports[0]));
        ASSERT_EQ(vxapi_reset_region(ports[from]->handle, ports[from]->rec, 0x01), 0u);
        Taken reached = rig.taken();
        std::sort(reached.begin(), reached.end());
        EXPECT_EQ(reached, (Taken{{0, 1}, {1, 1}, {2, 1}, {3, 1}})) << "from port " << from + 1;
    }
}

// ---------------------------------------------------------------- token

TEST(FlashToken, GatesAndPointers) {
    TokenRig rig;
    sim::install_update_caps(rig.driver);
    RigPort& q = rig.add_adapter(0x2071);
    RigPort& v = rig.add_virtual(q);
    const int older = rig.add_adapter(0x2532).handle;
    SD_INT32 token = 0;
    SD_UINT64 caps = 0;
    EXPECT_EQ(SDStartFlashUpdate(q.handle, 0, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDGetFlashUpdateCapabilities(99, 0, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(SDStartFlashUpdate(99, 0, &token), SDERR_INVALID_HANDLE);
    EXPECT_EQ(SDStartFlashUpdate(older, 0, &token), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SDOnlineActivateFlashUpdate(older, 0), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SDGetFlashUpdateCapabilities(v.handle, 0, &caps), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(SDEndFlashUpdate(v.handle, 0, 1), SDERR_NOT_SUPPORTED);

    ASSERT_EQ(SDSendFlashUpdateCapabilities(q.handle, 0, 0x8877665544332211ull, 30), 0u);
    EXPECT_EQ(rig.adapter_of(q).update_caps[8], 30);
    ASSERT_EQ(SDGetFlashUpdateCapabilities(q.handle, 0, &caps), 0u);
    EXPECT_EQ(caps, 0x8877665544332211ull);
    rig.driver.inject_status(2);
    caps = 7;
    EXPECT_EQ(SDGetFlashUpdateCapabilities(q.handle, 0, &caps), SDERR_DEVICE_BUSY);
    EXPECT_EQ(caps, 7u);
}

TEST(FlashToken, StartEndAndExpiry) {
    TokenRig rig;
    RigPort& q = rig.add_adapter(0x2071);
    SD_INT32 token = 0;
    ASSERT_EQ(SDStartFlashUpdate(q.handle, 0, &token), 0u);
    EXPECT_EQ(token, ::getpid());
    EXPECT_EQ(SDStartFlashUpdate(q.handle, 0, &token), SDERR_FUT_EXISTS);
    // A token never issued: refused, yet layout and image set are reloaded.
    pGlobalOptRomLayout = nullptr;
    EXPECT_EQ(SDEndFlashUpdate(q.handle, 0, token + 1), SDERR_UNKNOWN);
    EXPECT_NE(pGlobalOptRomLayout, nullptr);
    rig.host.advance(900);  // at 900 s neither live nor run out
    EXPECT_EQ(SDEndFlashUpdate(q.handle, 0, token), 0u);

    ASSERT_EQ(SDStartFlashUpdate(q.handle, 0, &token), 0u);
    rig.host.advance(901);
    EXPECT_EQ(SDEndFlashUpdate(q.handle, 0, token), SDERR_FUT_EXPIRED);
    EXPECT_EQ(SDEndFlashUpdate(q.handle, 0, token), SDERR_FUT_EXPIRED);  // the slot stays
    EXPECT_EQ(SDStartFlashUpdate(q.handle, 0, &token), 0u);              // and is taken over
}

// Online activation takes the firmware region's activation bits on both
// functions, and nothing without them.
TEST(FlashToken, OnlineActivationFollowsTheFirmwareRegionWord) {
    for (uint8_t attribute : {0x00, 0x06}) {
        TokenRig rig;
        sim::ChipFlashOptions options;
        options.regions = {sim::flt_region(0x07, 0x40000, 0), sim::flt_region(0x01, 0x80000, 0x80000, attribute)};
        RigPort& a = rig.add_adapter(0x2071, options);
        RigPort& b = rig.add_function(a);
        EXPECT_EQ(SDOnlineActivateFlashUpdate(b.handle, 0), attribute == 0 ? SDERR_INVALID_PARAMETER : 0u);
        EXPECT_EQ(rig.taken(), attribute == 0 ? Taken{} : (Taken{{inst(b), 1}, {inst(a), 1}}));
    }
}

// ---------------------------------------------------------------- flash versions through the port's own layout

enum class Road { Ioctl, Sysfs };

uint32_t converged_start(uint8_t code) {
    for (const sim::FltRegion& r : sim::converged_regions()) {
        if (r.code == code) return r.start;
    }
    ADD_FAILURE() << "no converged region " << int{code};
    return 0;
}

// A converged adapter's flash with or without a flash layout table that places the converged regions. Where that
// table places them: an MPI version v.v.v, an EDC version e.e.e, and image status records that make the secondary
// set the active one.
sim::Bytes converged_flash(uint16_t device, bool table, uint8_t v, uint8_t e) {
    sim::SimAdapter probe;
    probe.device_id = device;
    sim::ChipFlashOptions options;
    options.regions = sim::build_chip_flash(probe).regions;
    for (const sim::FltRegion& r : sim::converged_regions()) options.regions->push_back(r);
    options.table = table ? sim::ChipFlashOptions::Table::AtDefault : sim::ChipFlashOptions::Table::None;
    sim::build_chip_flash(probe, options);
    sim::place(probe.flash, converged_start(0x40), sim::mpi_region_head(v, v, v));
    sim::place(probe.flash, converged_start(0x45), sim::edc_region_head(e, e, e));
    sim::place(probe.flash, converged_start(0x95), sim::build_image_status({.gen_num = 1}));
    sim::place(probe.flash, converged_start(0x96), sim::build_image_status({.gen_num = 2}));
    return probe.flash;
}

// What an open port reports: the status and the list of its region versions ("count: region/sub/location=version"
// each), and its active image set.
std::string reported(int handle) {
    std::vector<uint8_t> list(8 + 7 * sizeof(REGIONVERSION), apitest::kFill);
    SD_UINT32 size = static_cast<SD_UINT32>(list.size());
    const SD_UINT32 status = SDGetCnaPortData(handle, 0, SD_CNA_GET_REGION_VERSIONS, list.data(), &size);
    const unsigned active = check_handle(static_cast<uint32_t>(handle))->phy_info->active_image;
    std::string text = sysfstest::line("status %x active %u list", status, active);
    if (status != SDERR_NO_ERROR) return text;
    ADAPTERREGIONVERSION head;
    std::memcpy(&head, list.data(), 8);
    text += sysfstest::line(" %u:", head.Length);
    for (uint32_t i = 0; i < std::min<uint32_t>(head.Length, 7); ++i) {
        REGIONVERSION e;
        std::memcpy(&e, list.data() + 8 + i * sizeof e, sizeof e);
        text += sysfstest::line(" %x/%u/%u=", e.Region, e.SubRegion, e.Location);
        for (uint16_t b = 0; b < std::min<uint16_t>(e.VersionLength, 8); ++b) {
            text += sysfstest::line(b == 0 ? "%u" : ".%u", e.Version[b]);
        }
    }
    return text;
}

// A flash update of the port ended right after every other port's layout was loaded: the statuses of its start and
// end, then what the port reports.
std::string after_update(int handle, const std::vector<int>& others) {
    for (int other : others) (void)SDGetOptionRomLayout(other, 0, nullptr);  // refused for a port without a layout
    SD_INT32 token = 0;
    const SD_UINT32 started = SDStartFlashUpdate(handle, 0, &token);
    const SD_UINT32 ended = SDEndFlashUpdate(handle, 0, token);
    return sysfstest::line("update %x %x, ", started, ended) + reported(handle);
}

// Adapters of the chip (one port each, with these flashes) found by the load on the road, as in a process of their
// own: every port opened through the public functions, a flash update ended on each, and closed again. What each
// reports after the load and after its update, in adapter order.
std::vector<std::string> discovered(Road road, uint16_t device, const std::vector<sim::Bytes>& flashes) {
    shtest::reset_shared_state();
    pGlobalOptRomLayout = nullptr;
    std::vector<unsigned> hosts;  // by adapter
    std::map<unsigned, std::string> by_host;
    const auto open_all = [&] {
        std::vector<int> handles;
        for (SD_UINT32 i = 0; i < flashes.size(); ++i) {
            int h = -1;
            EXPECT_EQ(SDOpenDevice(i, &h), 0u);
            if (h < 0) continue;
            handles.push_back(h);
            by_host[check_handle(static_cast<uint32_t>(h))->host_no] = reported(h);
        }
        for (int h : handles) {
            std::vector<int> others;
            std::copy_if(handles.begin(), handles.end(), std::back_inserter(others), [h](int o) { return o != h; });
            by_host[check_handle(static_cast<uint32_t>(h))->host_no] += " | " + after_update(h, others);
        }
        for (int h : handles) EXPECT_EQ(SDCloseDevice(h), 0u);
    };
    if (road == Road::Ioctl) {
        sim::SimHost host;
        sim::SimDriver driver;
        sim::FabricSetup setup;
        setup.adapters.assign(flashes.size(), sim::adapter(device));
        const sim::Fabric fabric = sim::install_adapters(host, driver, setup);
        sim::install_flash(driver);
        for (size_t i = 0; i < flashes.size(); ++i) {
            driver.adapter_of(*fabric.physical[i])->flash = flashes[i];
            hosts.push_back(fabric.physical[i]->host_no);
        }
        open_all();
    } else {
        sysfstest::SysfsRig rig;
        rig.setup.with_bsg = false;
        for (size_t i = 0; i < flashes.size(); ++i) {
            hosts.push_back(5 + static_cast<unsigned>(i));
            rig.setup.adapters.push_back(sim::sysfs_adapter(device, {hosts.back()}));
            rig.setup.adapters.back().flash = flashes[i];
        }
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        open_all();
    }
    shtest::reset_shared_state();
    pGlobalOptRomLayout = nullptr;
    std::vector<std::string> out;
    for (unsigned host_no : hosts) out.push_back(by_host[host_no]);
    return out;
}

// A port whose own flash layout table is missing comes after an adapter whose table the load read: its flash
// versions and active image set are not read at the other adapter's region places, neither by the load nor when a
// flash update ends on it after the other adapter's layout was loaded. It reports what it reports opened alone.
// With its own table (the control), the same bytes are its versions and its active set, after the other adapter as
// alone; the first adapter reads its own in every case.
TEST(PortLayout, APortWithoutItsOwnLayoutReportsWhatItReportsAlone) {
    const std::string first_versions = "40/0/0=1.1.1 45/0/0=2.2.2";
    const std::string second_versions = "40/0/0=102.102.102 45/0/0=119.119.119";
    for (const Road road : {Road::Ioctl, Road::Sysfs}) {
        for (const uint16_t device : {0x8001, 0x2071}) {
            for (const bool own_table : {false, true}) {
                SCOPED_TRACE(sysfstest::line("%s, %04x, second adapter %s", road == Road::Ioctl ? "ioctl" : "sysfs",
                                             device, own_table ? "with its table" : "without a table"));
                const sim::Bytes first = converged_flash(device, true, 1, 2);
                const sim::Bytes second = converged_flash(device, own_table, 0x66, 0x77);
                const std::vector<std::string> both = discovered(road, device, {first, second});
                const std::vector<std::string> alone = discovered(road, device, {second});
                ASSERT_EQ(both.size(), 2u);
                ASSERT_EQ(alone.size(), 1u);
                EXPECT_EQ(both[1], alone[0]);
                const bool versions = device == 0x8001, image_set = device == 0x2071;
                EXPECT_EQ(both[0].find(first_versions) != std::string::npos, versions) << both[0];
                EXPECT_EQ(both[0].find("active 1") != std::string::npos, image_set) << both[0];
                EXPECT_EQ(both[1].find(second_versions) != std::string::npos, versions && own_table) << both[1];
                EXPECT_EQ(both[1].find("active 1") != std::string::npos, image_set && own_table) << both[1];
                // As the driver reports no running version, a port alone without its table has an empty list.
                if (road == Road::Ioctl && versions && !own_table) {
                    EXPECT_EQ(alone[0], "status 0 active 0 list 0: | update 20000066 20000066, "
                                        "status 0 active 0 list 0:");
                }
            }
        }
    }
}

}  // namespace

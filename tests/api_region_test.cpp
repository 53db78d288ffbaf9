// Region activation on a port and its sibling functions, and the flash
// update token with online activation through the public functions.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "api/vx_sdupdate.h"
#include "api_rig.h"
#include "sim_adapters.h"
#include "sim_regions.h"
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

}  // namespace

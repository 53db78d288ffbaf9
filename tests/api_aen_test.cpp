// Port events through the management API: driver events, poll passes into this process's queue, SDGetAen.
#include "api_rig.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

enum Mode { Enabled, NeverHere, DisabledBesideOther, NullArray, NullCount };
struct AenCase {  // port a's driver events, AEventBufSize, the EventCodes written, a's events still queued
    std::vector<uint32_t> driver; uint32_t room; std::vector<SD_UINT32> got; uint32_t left; SD_UINT32 status; Mode mode;
};

// Ports a and b (another host) on the ioctl road; b's two events always stay queued.
TEST(ApiAen, GetAenTakesThePortsEvents) {
    const std::vector<uint32_t> v = {0x8011, 0x8012, 0x8015, 0x8011, 0x8012};
    const AenCase cases[] = {{v, 48, {5, 2, 3}, 0, 0, Enabled}, {v, 15, {}, 0, 0, Enabled},
        {std::vector<uint32_t>(70, 0x8010), 1024, std::vector<SD_UINT32>(64, 1), 6, 0, Enabled},
        {{0x8010, 0x8013, 0x8014, 0x8060, 0xA000, 0x8080}, 1024, {1, 4, 6, 7, 0, 8}, 0, 0, Enabled},
        {v, 1024, {}, 5, SDERR_INVALID_REQUEST, NeverHere}, {v, 64, {}, 5, SDERR_INVALID_REQUEST, DisabledBesideOther},
        {v, 1024, {}, 5, SDERR_INVALID_PARAMETER, NullArray}, {v, 1024, {}, 5, SDERR_INVALID_PARAMETER, NullCount}};
    for (const AenCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        apitest::TokenRig r;
        apitest::RigPort &a = r.add_adapter(0x2532), &b = r.add_adapter(0x2532);
        for (uint32_t code : c.driver) a.sim->events.push_back(sim::make_event(code));
        b.sim->events = {sim::make_event(0x8012), sim::make_event(0x8015)};
        ASSERT_EQ(SDEnableAen(b.handle) | (c.mode == NeverHere ? 0 : SDEnableAen(a.handle)), 0u);
        a.rec->features |= VX_FEAT_AEN;  // NeverHere: collected for another process, then unmarked
        ASSERT_EQ(vxapi_event_poll_pass() + vxapi_event_poll_pass(), 0);
        a.rec->features &= c.mode == NeverHere ? ~VX_FEAT_AEN : ~0u;
        api_shared_data->libinst_flags[1] = c.mode == DisabledBesideOther ? VX_LIBINST_ACTIVE | VX_LIBINST_OWNED : 0;
        EXPECT_EQ(c.mode == DisabledBesideOther ? SDDisableAen(a.handle) : 0u, 0u);
        EXPECT_EQ(r.requests(EXT_CC_REG_AEN).size(), c.mode == NeverHere ? 1u : 2u) << "no deregistration";
        auto ev = apitest::filled<std::array<ASYNCEVENT, 65>>();
        SD_UINT32 count = 99, *out = c.mode == NullCount ? nullptr : &count;
        EXPECT_EQ(SDGetAen(a.handle, c.mode == NullArray ? nullptr : ev.data(), c.room, out), c.status);
        EXPECT_EQ(count, c.status == 0 ? c.got.size() : 99u);
        for (size_t i = 0; i < c.got.size(); ++i) EXPECT_EQ(ev[i].EventCode, c.got[i]) << i;
        EXPECT_FALSE(apitest::touched(&ev[c.got.size()], (65 - c.got.size()) * 16) || ev[0].Reserved[0] != 0xA5A5A5A5u);
        std::vector<uint32_t> left(2);
        for (const EXT_ASYNC_EVENT& e : api_shared_data->hbaptevq[0].eventbuf)
            if (e.AsyncEventCode != 0) ++left[e.Payload.RSCN.host_no == a.rec->host_no ? 0 : 1];
        EXPECT_EQ(left, (std::vector<uint32_t>{c.left, 2}));
    }
}

// A netlink sysfs port: the driver's event log read by a poll pass; deregistered as the only process.
TEST(ApiAen, NetlinkPortEndToEnd) {
    sysfstest::SysfsRig rig(0x2532);
    rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
    int h = 0;
    ASSERT_EQ(SDOpenDevice(0, &h), 0u);
    shtest::stop_event_thread();
    EXPECT_EQ(SDEnableAen(h), 0u);
    rig.host.netlink().log_events(5, {{0x8012, {}}, {0x8015, {0x0102, 0x0304, 0}}, {0x8011, {}}});
    ASSERT_EQ(vxapi_event_poll_pass(), 0);
    ASYNCEVENT ev[2];  // room for the newest two
    SD_UINT32 count = 0;
    EXPECT_EQ(SDGetAen(h, ev, sizeof ev, &count), 0u);
    EXPECT_EQ(std::vector<SD_UINT32>({count, ev[0].EventCode, ev[1].EventCode}), std::vector<SD_UINT32>({2, 5, 2}));
    EXPECT_EQ(SDDisableAen(h) + SDGetAen(h, ev, sizeof ev, &count), SDERR_INVALID_REQUEST);
    EXPECT_EQ(SDCloseDevice(h), 0u);
}

}  // namespace

// Port events through the management API: the driver's events, collected by poll passes into this process's queue.
#include "api_rig.h"
#include "vxsdm.h"

namespace {

// Ports a and b (another SCSI host) on the ioctl road, the shared file open in this process.
struct AenRig : apitest::TokenRig {
    uint32_t queued(const apitest::RigPort& p) {
        uint32_t n = 0;
        for (const EXT_ASYNC_EVENT& e : api_shared_data->hbaptevq[api_library_instance].eventbuf)
            n += e.AsyncEventCode != 0 && e.Payload.RSCN.host_no == p.rec->host_no;
        return n;
    }
    apitest::RigPort& a = add_adapter(0x2532);
    apitest::RigPort& b = add_adapter(0x2532);
};

enum class Mode { Enabled, NeverEnabled, DisabledBesideOther, NullArray, NullCount };
struct AenCase {
    const char* name;
    std::vector<uint32_t> driver;  // port a's driver events, oldest first
    uint32_t room;                 // AEventBufSize
    std::vector<SD_UINT32> got;    // EventCodes written
    uint32_t left = 0;             // port a's events still queued after the call
    SD_UINT32 status = SDERR_NO_ERROR;
    Mode mode = Mode::Enabled;
};

TEST(ApiAen, GetAenTakesThePortsEvents) {
    const std::vector<uint32_t> five = {0x8011, 0x8012, 0x8015, 0x8011, 0x8012};
    const AenCase cases[] = {
        {"48 bytes: the newest three, the oldest two lost", five, 48, {5, 2, 3}},
        {"15 bytes: every event lost", five, 15, {}},
        {"70 events: 64 a call", std::vector<uint32_t>(70, 0x8010), 1024, std::vector<SD_UINT32>(64, 1), 6},
        {"every code; an unknown one reads 0", {0x8010, 0x8013, 0x8014, 0x8060, 0xA000, 0x8080}, 64 * 16,
         {1, 4, 6, 7, 0, 8}},
        {"never enabled here", five, 1024, {}, 5, SDERR_INVALID_REQUEST, Mode::NeverEnabled},
        {"disabled while another process runs", five, 1024, {}, 5, SDERR_INVALID_REQUEST, Mode::DisabledBesideOther},
        {"null array", five, 1024, {}, 5, SDERR_INVALID_PARAMETER, Mode::NullArray},
        {"null count", five, 1024, {}, 5, SDERR_INVALID_PARAMETER, Mode::NullCount},
    };
    for (const AenCase& c : cases) {
        SCOPED_TRACE(c.name);
        AenRig r;
        for (uint32_t code : c.driver) r.a.sim->events.push_back(sim::make_event(code));
        r.b.sim->events = {sim::make_event(0x8012), sim::make_event(0x8015)};
        ASSERT_EQ(SDEnableAen(r.b.handle), 0u);
        // A port never enabled here: its events were collected for another process.
        const bool here = c.mode != Mode::NeverEnabled;
        r.a.rec->features |= VX_FEAT_AEN;
        EXPECT_EQ(here ? SDEnableAen(r.a.handle) : 0u, 0u);
        ASSERT_EQ(vxapi_event_poll_pass() + vxapi_event_poll_pass(), 0);
        if (!here) r.a.rec->features &= ~VX_FEAT_AEN;
        if (c.mode == Mode::DisabledBesideOther) {
            api_shared_data->libinst_flags[api_library_instance + 1] = VX_LIBINST_ACTIVE | VX_LIBINST_OWNED;
            ASSERT_EQ(SDDisableAen(r.a.handle), 0u);
            EXPECT_EQ(r.requests(EXT_CC_REG_AEN).size(), 2u) << "no deregistration sent";
        }
        auto events = apitest::filled<std::array<ASYNCEVENT, 65>>();
        SD_UINT32 count = 99;
        EXPECT_EQ(SDGetAen(r.a.handle, c.mode == Mode::NullArray ? nullptr : events.data(), c.room,
                           c.mode == Mode::NullCount ? nullptr : &count),
                  c.status);
        EXPECT_EQ(count, c.status == 0 ? c.got.size() : 99u);
        std::vector<SD_UINT32> got;
        for (size_t i = 0; i < c.got.size(); ++i) got.push_back(events[i].EventCode);
        EXPECT_EQ(got, c.got);
        EXPECT_EQ(events[0].Reserved[0], 0xA5A5A5A5u);
        EXPECT_FALSE(apitest::touched(&events[c.got.size()], (events.size() - c.got.size()) * sizeof(ASYNCEVENT)));
        EXPECT_EQ(r.queued(r.a), c.left);
        EXPECT_EQ(r.queued(r.b), 2u) << "another host's events stay queued";
    }
}

TEST(ApiAen, RegistrationMarksThePortWhateverTheDriverSays) {
    AenRig r;
    EXPECT_EQ(SDEnableAen(99), SDERR_INVALID_HANDLE);
    EXPECT_EQ(SDEnableAen(r.a.handle), 0u);
    EXPECT_EQ(r.a.sim->aen_enabled, 1u);
    EXPECT_EQ(SDDisableAen(r.a.handle), 0u) << "the only process: deregistered";
    EXPECT_EQ(r.a.sim->aen_enabled, 0u);
    EXPECT_EQ(r.a.rec->features & VX_FEAT_AEN, 0u);
    r.driver.on(EXT_CC_REG_AEN, [](const sim::SimRequest&) { return sim::SimReply::with_status(2); });
    EXPECT_EQ(SDEnableAen(r.a.handle), SDXlateSDMErr(2, 0));
    EXPECT_NE(r.a.rec->features & VX_FEAT_AEN, 0u);
}

}  // namespace

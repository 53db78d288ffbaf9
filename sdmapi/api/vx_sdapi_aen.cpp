// Asynchronous events of a port: its registration with the driver, and this
// process's share of the events that the event thread collects into the
// process's queue of the shared data file.
#include <algorithm>
#include <cstdint>

#include "api/vx_sdframe.h"
#include "base/vx_sem.h"
#include "core/io/vx_query.h"
#include "core/life/vx_event.h"
#include "core/life/vx_shared.h"
#include "vxsdm.h"

namespace {

static_assert(sizeof(ASYNCEVENT) == 16);
static_assert(sizeof(ASYNCEVENT) == sizeof(EXT_ASYNC_EVENT));

// Driver event codes and the library's codes for them.
struct EventCodeMap {
    uint32_t driver;
    SD_UINT32 library;
};
constexpr EventCodeMap kEventCodes[] = {
    {VX_AEN_LIP, 1}, {VX_AEN_LINK_UP, 2}, {VX_AEN_LINK_DOWN, 3}, {VX_AEN_LIP_RESET, 4}, {VX_AEN_RSCN, 5},
    {0x8014, 6},     {0x8060, 7},         {0x8080, 8},
};

// The library's code of a driver event. A code the library does not know
// reads 0, which callers take as no event (never what the slot held before).
SD_UINT32 library_code(uint32_t driver_code) {
    for (const EventCodeMap& m : kEventCodes) {
        if (m.driver == driver_code) return m.library;
    }
    return 0;
}

// Registration (enable 1) or deregistration (0) of the port's events with
// the driver. The port's mark follows the request whatever the driver said.
SD_UINT32 register_events(VxSdCall& call, vxapi_priv_database* rec, uint32_t enable) {
    return call.run(
        VxSdAccept::Clean,
        [&](uint32_t* ext) { return vxapi_async_event_reg(rec->oshandle, rec, enable, nullptr, ext); }, [] {});
}

}  // namespace

SD_UINT32 SDEnableAen(int Device) {
    VxSdCall call("SDEnableAen", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    return register_events(call, rec, 1);
}

SD_UINT32 SDDisableAen(int Device) {
    VxSdCall call("SDDisableAen", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr) return call.status();
    // Other processes still receive the port's events through the driver
    // registration: this process only stops collecting them.
    if (vxapi_get_total_libinst_count() > 1) {
        VxListLock lock(vxapi_list_mutex());  // the event thread copies the listed records
        rec->features &= ~VX_FEAT_AEN;
        return call.done(SDERR_NO_ERROR);
    }
    return register_events(call, rec, 0);
}

SD_UINT32 SDGetAen(int Device, PASYNCEVENT pAEvents, SD_UINT32 AEventBufSize, SD_PUINT32 pAEventCount) {
    VxSdCall call("SDGetAen", Device);
    vxapi_priv_database* rec = call.port();
    if (rec == nullptr || !call.given(pAEvents) || !call.given(pAEventCount)) return call.status();
    if ((rec->features & VX_FEAT_AEN) == 0) {
        vx_sd_line(VX_SD_ERROR, call.name(), Device, "): events not enabled.");
        return call.done(SDERR_INVALID_REQUEST);
    }

    // Up to 64 of the port's events leave this process's queue, oldest
    // first, whatever room the caller has.
    EXT_ASYNC_EVENT drained[VX_EVENTS_PER_POLL] = {};
    uint32_t count = 0;
    {
        VxSemLock lock(api_dbupdate_sem_id);
        (void)vxapi_empty_sh_portevq(api_library_instance, rec, drained, &count);  // always 0
    }
    count = std::min(count, VX_EVENTS_PER_POLL);

    // The newest events that fit the caller's array, oldest of them first;
    // the older ones are gone.
    const uint32_t room = AEventBufSize / static_cast<uint32_t>(sizeof(ASYNCEVENT));
    const uint32_t returned = std::min(count, room);
    *pAEventCount = returned;
    const uint32_t skipped = count - returned;
    for (uint32_t i = 0; i < returned; ++i) {
        pAEvents[i].EventCode = library_code(drained[skipped + i].AsyncEventCode);
    }
    return call.done(SDERR_NO_ERROR);
}

// The driver's answers to the port calls that driver_answers leaves out: the
// board temperature, the SerDes parameter block and registers, the FCE
// trace, the beacon, the loopback test, the firmware dump, the discovered
// ports and targets, the contents of the port summary, the event path
// (registration, the event thread's poll, the read), the live failover
// reads, VPD, NVRAM, CT, SCSI inquiry, and the converged port's identity and
// DCBX block, on ports of the driver's node: an FC port (handle 1), a port of
// a chip with 16-bit SerDes registers (handle 2) and a converged port
// (handle 3); the SerDes registers, the loopback and CT also on a sysfs port
// with bsg (handle 4); and discovery itself, of the ports of a driver node of
// their own.
//
// Every request of the call is answered by the simulator and then changed
// by the input (answer_edits.h).
//
// The properties: the requests stay within what the call's sizes need; no
// byte behind a caller's buffer changes; a success reports no data, count or
// size beyond what was delivered, and never comes from a fixed record that
// came short; where the header promises it, a failed call leaves the
// caller's record as it was.
//
// Input: a mode byte (the call), the call's parameter bytes, then one part
// per request, in order (none left: the well-behaved answer).
#include <algorithm>
#include <functional>

#include "answer_edits.h"
#include "base/vx_layout.h"
#include "core/life/vx_discovery.h"
#include "core/life/vx_event.h"
#include "core/life/vx_shared.h"
#include "base/vx_diag_records.h"
#include "base/vx_driver_records.h"
#include "base/vx_passthru_records.h"
#include "base/vx_request.h"
#include "sim_adapters.h"
#include "sim_diag.h"
#include "sim_diag_driver.h"
#include "sim_failover.h"
#include "sim_mgmt_bsg.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"
#include "sim_passthru.h"
#include "sim_queries.h"
#include "transport/vx_sysfs_bsg.h"
#include "vxsdm.h"
#include "vxsdm_diag.h"
#include "vxsdm_fo.h"
#include "vxsdm_stats.h"

namespace {

using namespace fuzz;  // NOLINT(google-build-using-namespace): the target's own helpers

constexpr int kFc = 1, kSerdes16 = 2, kCna = 3, kBsg = 4;  // handles
constexpr unsigned kDriverMajor = 240, kBsgMajor = 250, kFoundMajor = 241;
constexpr const char* kFoundDriver = "vxfound";  // the driver of the ports that discovery finds
constexpr unsigned kHost = 5;  // the sysfs port's FC host
constexpr uint16_t kDataBeacon = 8, kDataDcbx = 11, kDataPortSummary = 0x6A;
constexpr uint16_t kQueryNode = 1, kQueryPort = 2, kQueryDiscPort = 3, kQueryDiscTarget = 4, kQueryChip = 8,
                   kQueryCnaPort = 9;
// The failover requests that the reads send.
constexpr uint8_t FO_CC_GET_PARAMS = 200, FO_CC_GET_PATHS = 202, FO_CC_GET_LUN_DATA = 206,
                  FO_CC_GET_TARGET_DATA = 208, FO_CC_GET_DRIVER_VERSION = 210, FO_CC_GET_LB_POLICY = 211;
// The failover replies of a driver of 256 LUNs: a list's head, a LUN
// entry, the paths, the target list and the version.
constexpr size_t kFoListHead = 32, kFoLunEntry = 2080, kFoPathsReply = 7484, kFoTargetsReply = 17408,
                 kFoVersionReply = 100;
constexpr uint32_t kTraceBytes = 0x30000;
constexpr uint16_t kTopologyFPort = 8;  // a port attached to a fabric

// ---- the host ----

// The driver's node with three adapters of one port each: 0x2532 (board
// temperature, SerDes parameters, FCE trace; two remote ports, both
// targets), 0x2071 (16-bit SerDes registers) and 0x8044 (converged, 32-bit
// SerDes registers); the diagnostic records, a 300-byte dump, the beacon,
// the loopback, CT, a SCSI target at bus 0 target 0, the events, the
// failover requests (the FC port in the first legacy slot, 256 LUNs) and the
// DCBX block answered; a sysfs port of 0x2071 whose bsg node answers the
// SerDes registers, the loopback and CT; the shared file open without its
// event thread; every port answers through the input's editors.
struct Rig {
    Rig() {
        sim::SimHost& host = fuzz::host();
        sim::serve_fabric(san, bsg, host, sysfs.fabric.host_dirs.at(kHost));
        mgmt.serve(bsg);
        diag_bsg.serve(bsg);
        std::tie(sysfs.rec->state, sysfs.rec->topology) = std::tuple(0, kTopologyFPort);
        driver.attach(host, kDriverMajor);
        sim::install_flash(driver);
        sim::install_nvram_vpd(driver);
        sim::install_passthru_handlers(driver, san);
        diag.attach(driver);
        for (const uint16_t chip : {0x2532, 0x2071, 0x8044}) {
            sim::SimAdapter& adapter = driver.add_adapter();
            adapter.device_id = chip;
            sim::build_chip_flash(adapter);
            ports.push_back(&sim::add_query_port(driver, adapter));
            sim::SimDiag::answer(*ports.back(), pattern(64, static_cast<uint8_t>(chip)));
        }
        for (int i = 0; i < 2; ++i) sim::add_remote_port(*ports[0]);
        san.data[kDataBeacon] = pattern(16, 5);
        san.ports.emplace_back();
        ports[0]->nvram.assign(512, 0x3C);
        driver.adapter_of(*ports[0])->vpd = sim::typical_vpd().bytes;
        ports[2]->records[{EXT_CC_GET_DATA, kDataDcbx}] = pattern(300, 9);
        failover.install(driver);
        failover.replies[FO_CC_GET_LUN_DATA].response = Bytes{1, 0, 2, 0};
        failover.replies[FO_CC_GET_LUN_DATA].response.resize(kFoListHead + 2 * kFoLunEntry, 0x80);
        failover.replies[FO_CC_GET_LB_POLICY].response = Bytes{0, 0, 2, 0};
        failover.replies[FO_CC_GET_LB_POLICY].response.resize(kFoListHead + 2 * sizeof(FO_LB_POLICY_ENTRY), 3);
        failover.replies[FO_CC_GET_DRIVER_VERSION].response = pattern(kFoVersionReply, 1);
        driver.on(EXT_CC_GET_FW_DUMP, [](const sim::SimRequest& r) {
            const Bytes dump = pattern(300, 7);
            sim::SimReply reply;
            if (r.response_capacity < dump.size()) return reply.status = 16, reply.reported_len = dump.size(), reply;
            return reply.response = dump, reply;
        });
        driver.on(EXT_CC_LOOPBACK, [](const sim::SimRequest& r) {
            INT_LOOPBACK_RSP rsp;
            std::memcpy(&rsp, r.response_in, sizeof rsp);
            std::tie(rsp.CompletionStatus, rsp.CrcErrorCount, rsp.DisparityErrorCount, rsp.FrameLengthErrorCount,
                     rsp.IterationCountLastError, rsp.CommandSent) = std::tuple(0x4000, 0, 2, 3, 0x50004u, 0x45);
            return sim::SimReply::with_record(rsp);
        });
        // The editors take the devices' places before the ports' node is opened.
        host.register_device(kDriverMajor, &driver_answers);
        host.register_device(kBsgMajor, &kernel_answers);
        for (size_t i = 0; i < ports.size(); ++i) fuzz::ioctl_record(driver, *ports[i], static_cast<int>(i + 1));
        std::tie(check_handle(kFc)->state, check_handle(kFc)->topology) = std::tuple(0, kTopologyFPort);
        vxapi_priv_db_t& slot = api_priv_data[0];
        std::snprintf(slot.phys_path, sizeof slot.phys_path, "/dev/vxa2xxx");
        std::snprintf(slot.model, sizeof slot.model, "vxa2xxx");
        std::tie(slot.oshandle, slot.apihandle, slot.drvr_inst, slot.features) =
            std::tuple(check_handle(kFc)->oshandle, kFc, ports[0]->instance, VX_FEAT_NEW_IOCTL);
        found_driver();
        int fd = -1;
        FUZZ_CHECK(vxapi_open_database(&fd) == 0);
        vxapi_ev_terminate.store(1);
        FUZZ_CHECK(pthread_join(vxapi_ev_thread_id, nullptr) == 0);
        vxapi_ev_thread_id = 0;
        vxapi_ev_terminate.store(0);
    }

    // A driver of its own for discovery: an adapter of 0x2532 with two ports
    // and one of 0x8044, on PCI buses apart from the other ports'.
    void found_driver() {
        sim::FabricSetup setup;
        setup.driver_name = kFoundDriver;
        setup.major = kFoundMajor;
        setup.adapters = {sim::adapter(0x2532, 2), sim::adapter(0x8044)};
        const sim::Fabric fabric = sim::install_adapters(fuzz::host(), found, setup);
        sim::install_flash(found);
        for (sim::SimAdapter& adapter : found.adapters) sim::build_chip_flash(adapter);
        for (sim::SimPort* port : fabric.physical) {
            port->pci_bus = static_cast<uint16_t>(port->pci_bus + 0x60);
            port->edit_record<EXT_CHIP>(EXT_CC_QUERY, kQueryChip, [&](EXT_CHIP& c) { c.PciBusNumber = port->pci_bus; });
        }
        fuzz::host().register_device(kFoundMajor, &found_answers);
    }

    // What an input leaves: the logs (the discovered driver's among them) and
    // the sleeps.
    void reset() {
        fuzz::host().clear_sleeps();
        fuzz::host().clear_records();
        driver.clear_log();
        found.clear_log();
        bsg.log.clear();
    }

    sim::SimBsg bsg;
    fuzz::SysfsBsgPort sysfs{bsg, 0x2071, kHost, kBsgMajor, kBsg};
    sim::SimMgmtBsg mgmt;
    sim::SimDiagBsg diag_bsg;
    sim::SimDriver driver;
    sim::SanFabric san;
    sim::SimDiag diag;
    sim::SimFailover failover;
    std::vector<sim::SimPort*> ports;
    sim::SimDriver found;
    fuzz::DriverAnswers driver_answers{driver};
    fuzz::DriverAnswers found_answers{found};
    fuzz::KernelAnswers kernel_answers{bsg};
};

Rig& rig() {
    static Rig* r = new Rig();  // lives as long as the process, as the host
    return *r;
}

// ---- the calls ----

template <class T>
T at(const Bytes& b, size_t offset) {
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// A record that the driver filled whole, answered OK.
bool whole_ok(const Answer* a, size_t record) { return whole(a, record) && a->status == EXT_STATUS_OK; }

// The first n bytes of buf came in the answer's data.
bool came(const Answer* a, const uint8_t* buf, size_t n) {
    return a != nullptr && a->taken() && n <= a->delivered.size() && std::equal(buf, buf + n, a->delivered.begin());
}

// No byte of b from `from` to `to` holds anything but the caller's fill or a
// zero that the library cleared it to: nothing that did not come.
bool nothing_else(const uint8_t* b, size_t from, size_t to) {
    return std::all_of(b + from, b + to, [](uint8_t x) { return x == 0 || x == kFill; });
}

// One call into a caller's buffer of n bytes (filled with kFill), at most
// `bound` requests: no byte behind the buffer changes.
class Into {
public:
    Into(fuzz::Reader& in, size_t n, size_t bound) : buf(n, kFill), run(in, bound) {}
    SD_UINT32 operator()(const std::function<SD_UINT32(uint8_t*)>& call) {
        status = call(buf.data());
        FUZZ_CHECK(buf.guard_intact());
        return status;
    }
    // Success; a failure (but those of the statuses given, which may write)
    // left the buffer as it was.
    bool succeeded(std::initializer_list<SD_UINT32> writing = {}) {
        if (status == SDERR_NO_ERROR) return true;
        if (std::find(writing.begin(), writing.end(), status) == writing.end()) FUZZ_CHECK(buf.untouched());
        return false;
    }
    Guarded buf;
    Run run;
    SD_UINT32 status = 0;
};

// The board temperature into 64 to 71 bytes: on success the record came
// whole and the two words are its own; the rest of the caller's record is
// never written, nor any of it on a failure.
void temperature(fuzz::Reader& in) {
    const uint16_t size = static_cast<uint16_t>(64 + in.byte() % 8);
    Into call(in, size, kOneRequest);
    call([&](uint8_t* p) { return SDGetBoardTemp(kFc, 0, reinterpret_cast<PBOARD_TEMP>(p), size); });
    Bytes rest = call.buf.contents();
    std::fill_n(rest.begin(), 4, kFill);
    FUZZ_CHECK(rest == Bytes(size, kFill));
    if (!call.succeeded()) return;
    const Answer* a = call.run.last(EXT_CC_BOARD_TEMP);
    FUZZ_CHECK(whole_ok(a, sizeof(EXT_BOARD_TEMP)) && came(a, call.buf.data(), 4));
}

// The SerDes parameter block into 1 to 600 bytes: on success the request
// was carried, and the buffer holds what was delivered.
void serdes_params(fuzz::Reader& in) {
    const uint32_t size = 1 + (in.byte() | in.byte() << 8) % 600;
    Into call(in, size, kOneRequest);
    if (call([&](uint8_t* p) { return SDReadSerdesParams(kFc, p, size); }) != SDERR_NO_ERROR) return;
    const Answer* a = call.run.last(EXT_CC_SERDES_PARAMS);
    FUZZ_CHECK(a != nullptr && a->status == EXT_STATUS_OK && came(a, call.buf.data(), a->delivered.size()));
}

// The FCE trace into 0x30000 to 0x3000F bytes: the size given back never
// passes the buffer nor, on success, what was delivered, and the buffer
// holds those bytes; a failure other than "too small" leaves the size.
void trace(fuzz::Reader& in) {
    const uint32_t room = kTraceBytes + in.byte() % 16;
    SD_UINT32 size = room;
    Into call(in, room, kOneRequest);
    call([&](uint8_t* p) { return SDGetTraceBuffer(kFc, p, &size); });
    if (call.status == SDERR_BUFFER_TOO_SMALL) return;
    if (call.status != SDERR_NO_ERROR) {
        FUZZ_CHECK(size == room);
        return;
    }
    FUZZ_CHECK(size <= room && came(call.run.last(EXT_CC_FCE_TRACE), call.buf.data(), size));
}

// A SerDes register of 16 or 32 bits (through the driver, or as the bsg
// job `job`): on success the register record came whole and the value is its
// own; a failure writes nothing.
template <class Reg, class Value>
void serdes_register(fuzz::Reader& in, uint8_t command, uint32_t job,
                     const std::function<SD_UINT32(uint32_t, Value*)>& fn) {
    const uint32_t address = in.byte();
    Into call(in, sizeof(Value), kOneRequest);
    call([&](uint8_t* p) { return fn(address, reinterpret_cast<Value*>(p)); });
    if (!call.succeeded()) return;
    const Answer* a = job != 0 ? call.run.last_job(VX_BSG_HOST_VENDOR, job) : call.run.last(command);
    // Over bsg the vendor status stands in the reply, not in the job's status.
    FUZZ_CHECK(job != 0 ? whole(a, sizeof(Reg)) : whole_ok(a, sizeof(Reg)));
    FUZZ_CHECK(*call.buf.as<Value>() == at<Value>(a->delivered, offsetof(Reg, val)));
}

// The beacon's state: on success the record came whole and the state is its
// own; a failure leaves the caller's word.
void beacon(fuzz::Reader& in) {
    Into call(in, sizeof(SD_UINT32), kOneRequest);
    call([](uint8_t* p) { return SDGetBeaconControl(kFc, reinterpret_cast<SD_PUINT32>(p)); });
    if (!call.succeeded()) return;
    const Answer* a = call.run.last(EXT_CC_GET_DATA, kDataBeacon);
    FUZZ_CHECK(whole_ok(a, sizeof(EXT_BEACON_CONTROL)) && came(a, call.buf.data(), sizeof(SD_UINT32)));
}

// The loopback test of 0 to 128 bytes into room for 0 to 15 more: the data
// sent stays the caller's; on success the test's record came whole (through
// the driver) or the job was carried (bsg).
void loopback(fuzz::Reader& in, int handle) {
    const uint32_t n = in.byte() % 129, extra = in.byte() % 16;
    Guarded tx(pattern(n, 11)), rx(n + extra, kFill);
    // A test, up to two firmware resets and their retests.
    Into call(in, sizeof(LOOPBACKSTATUS), 8 * kOneRequest);
    call([&](uint8_t* p) {
        return SDRunDiagLoopbackEx(handle, 0, 0, tx.data(), n, rx.data(), n + extra, 1,
                                   reinterpret_cast<PLOOPBACKSTATUS>(p));
    });
    FUZZ_CHECK(tx.guard_intact() && rx.guard_intact() && tx.contents() == pattern(n, 11));
    if (call.status != SDERR_NO_ERROR) return;
    if (handle == kBsg) {
        const Answer* a = call.run.last_job(VX_BSG_HOST_VENDOR, VX_BSG_LOOPBACK);
        FUZZ_CHECK(a != nullptr && a->taken());
        return;
    }
    FUZZ_CHECK(whole_ok(call.run.last(EXT_CC_LOOPBACK), sizeof(INT_LOOPBACK_RSP)));
}

// The firmware dump into 0 to 1020 bytes: on success the length reported
// was delivered, within the buffer, and the buffer holds it; a path is
// terminated inside the buffer.
void dump(fuzz::Reader& in) {
    const uint32_t room = 4 * (in.byte() % 256);
    SD_UINT32 size = room;
    Into call(in, room, kOneRequest);
    call([&](uint8_t* p) { return SDGetFwDump(kFc, 0, p, &size); });
    if (call.status == SDERR_DUMP_FILE) {
        const uint8_t* b = call.buf.data();
        FUZZ_CHECK(room == 0 || std::find(b, b + room, 0) != b + room);
        return;
    }
    if (call.status != SDERR_NO_ERROR) return;
    FUZZ_CHECK(size <= room && came(call.run.last(EXT_CC_GET_FW_DUMP), call.buf.data(), size));
}

// A discovered port or target by its number (0 to 3; two exist): on success
// the record came whole with status OK; overrun and underrun may fill the
// caller's record, any other failure leaves it.
template <class Property, class Record>
void discovered(fuzz::Reader& in, uint16_t sub_code, const std::function<SD_UINT32(SD_UINT32, Property*)>& fn) {
    const uint32_t index = in.byte() % 4;
    Into call(in, sizeof(Property), 2 * kOneRequest);
    call([&](uint8_t* p) { return fn(index, reinterpret_cast<Property*>(p)); });
    if (!call.succeeded({SDERR_DATA_OVERRUN, SDERR_DATA_UNDERRUN})) return;
    const Answer* a = call.run.last(EXT_CC_QUERY, sub_code);
    FUZZ_CHECK(whole_ok(a, sizeof(Record)) && came(a, call.buf.data(), 8));  // the node name
}

// The port summary into room for 1 to 8 entries: each entry reported is the
// one delivered at its place.
void summary(fuzz::Reader& in) {
    const uint32_t room = 1 + in.byte() % 8;
    Into call(in, sizeof(DEVICEINFO) + (room - 1) * sizeof(DEVICEINFOENTRY), kOneRequest);
    auto* info = call.buf.as<DEVICEINFO>();
    call([&](uint8_t*) { return SDGetPortDatabase(kFc, 0x1F, info, call.buf.size()); });
    // The driver's "too small" fills nothing.
    if (!call.succeeded({SDERR_BUFFER_TOO_SMALL}) && call.buf.untouched()) return;
    const Answer* a = call.run.last(EXT_CC_GET_DATA, kDataPortSummary);
    FUZZ_CHECK(a != nullptr && a->taken() && a->delivered.size() >= sizeof(EXT_DEVICEDATA));
    FUZZ_CHECK(info->ReturnListEntryCount <= room);
    for (uint32_t i = 0; i < info->ReturnListEntryCount; ++i) {
        const size_t offset = sizeof(EXT_DEVICEDATA) + i * sizeof(EXT_DEVICEDATAENTRY);
        FUZZ_CHECK(a->delivered.size() >= offset + sizeof(EXT_DEVICEDATAENTRY));
        const auto e = at<EXT_DEVICEDATAENTRY>(a->delivered, offset);
        const DEVICEINFOENTRY& out = info->EntryList[i];
        FUZZ_CHECK(std::equal(e.NodeWWN, e.NodeWWN + 8, out.NodeWWN) &&
                   std::equal(e.PortWWN, e.PortWWN + 8, out.PortWWN));
        FUZZ_CHECK(out.DeviceFlags == e.DeviceFlags && out.LoopID == e.LoopID &&
                   out.BaseLunNumber == e.BaseLunNumber && out.ControlFlags == e.ControlFlags);
        FUZZ_CHECK(out.TargetAddress.TargetID == e.TargetAddress.Target &&
                   out.TargetAddress.LUN == e.TargetAddress.Lun);
    }
}

// The event path: the registration (the port counts as enabled whatever the
// driver said), one poll pass of the event thread, then the events taken
// into room for 1 to 8: no more than the poll delivered whole, each a known
// code or 0; a failure writes nothing.
void events(fuzz::Reader& in) {
    const uint32_t room = 1 + in.byte() % 8;
    vxapi_priv_database* rec = check_handle(kFc);
    Into call(in, room * sizeof(ASYNCEVENT), 3 * kOneRequest);
    (void)SDEnableAen(kFc);
    FUZZ_CHECK((rec->features & VX_FEAT_AEN) != 0);
    (void)vxapi_event_poll_pass();
    const Answer* polled = call.run.last(EXT_CC_GET_AEN);
    SD_UINT32 count = 0xEEEE;
    call([&](uint8_t* p) { return SDGetAen(kFc, reinterpret_cast<PASYNCEVENT>(p), call.buf.size(), &count); });
    if (!call.succeeded()) {
        FUZZ_CHECK(count == 0xEEEE);
        return;
    }
    const size_t arrived =
        polled != nullptr && polled->taken() ? polled->delivered.size() / sizeof(EXT_ASYNC_EVENT) : 0;
    FUZZ_CHECK(count <= room && count <= arrived);
    for (uint32_t i = 0; i < count; ++i) FUZZ_CHECK(call.buf.as<ASYNCEVENT>()[i].EventCode <= 8);
}

// ---- the failover channel ----

// A failover reply read as one record: on success it came whole (status 15
// with a GOOD detail maps to success, and needs its bytes as status 0 does);
// a failure leaves the caller's record.
void fo_record(fuzz::Reader& in, size_t caller, uint8_t nr, size_t reply,
               const std::function<SD_UINT32(uint8_t*)>& fn) {
    Into call(in, caller, kOneRequest);
    call(fn);
    if (!call.succeeded()) return;
    FUZZ_CHECK(whole(call.run.last(nr), reply));
}

// The LUN list: on success the head and the entries it counts (at most 256)
// came; a failure leaves the caller's list.
void fo_luns(fuzz::Reader& in) {
    Into call(in, sizeof(FO_LUN_DATA_LIST), kOneRequest);
    call([](uint8_t* p) { return ISDFoGetLunData(kFc, 0, nullptr, reinterpret_cast<PFO_LUN_DATA_LIST>(p), 0); });
    if (!call.succeeded()) return;
    const auto* list = call.buf.as<FO_LUN_DATA_LIST>();
    FUZZ_CHECK(list->EntryCount <= 256);
    FUZZ_CHECK(whole(call.run.last(FO_CC_GET_LUN_DATA), kFoListHead + list->EntryCount * kFoLunEntry));
}

// The load-balancing list (written whatever the status): on success the
// count is at most 256, and the head and the entries it counts came.
void fo_lb(fuzz::Reader& in) {
    Into call(in, sizeof(FO_LB_POLICY_LIST), kOneRequest);
    call([](uint8_t* p) { return ISDFoGetLBPolicy(kFc, 0, reinterpret_cast<PFO_LB_POLICY_LIST>(p), 0); });
    if (call.status != SDERR_NO_ERROR) return;
    const auto* list = call.buf.as<FO_LB_POLICY_LIST>();
    FUZZ_CHECK(list->Count <= 256);
    FUZZ_CHECK(whole(call.run.last(FO_CC_GET_LB_POLICY), kFoListHead + list->Count * sizeof(FO_LB_POLICY_ENTRY)));
}

// The statistics request writes nothing of the caller's.
void fo_statistics(fuzz::Reader& in) {
    Into call(in, 64, kOneRequest);
    call([](uint8_t* p) { return ISDFoGetStatistics(kFc, 0, p); });
    FUZZ_CHECK(call.buf.untouched());
}

// ---- VPD, NVRAM, CT and SCSI ----

// The VPD into 1 to 600 bytes: the bytes delivered and nothing else (zeros
// or the caller's bytes where none came), whatever the status; the size
// stays. The read is resent while busy: a last answer that was still busy
// delivered nothing.
void vpd(fuzz::Reader& in) {
    const uint32_t room = 1 + (in.byte() | in.byte() << 8) % 600;
    SD_UINT32 size = room;
    Into call(in, room, kOneRequest);
    call([&](uint8_t* p) { return SDGetVpd(kFc, 0, p, &size); });
    FUZZ_CHECK(size == room);
    const Answer* a = call.run.last(EXT_CC_GET_VPD);
    const size_t got = std::min<size_t>(a != nullptr && a->answered() ? a->delivered.size() : 0, room);
    const uint8_t* b = call.buf.data();
    FUZZ_CHECK((got == 0 || came(a, b, got)) && nothing_else(b, got, room));
}

// The NVRAM into 1 to 600 bytes: on success the read delivered all it
// asked, and the buffer holds those bytes.
void nvram(fuzz::Reader& in) {
    const uint32_t room = 1 + (in.byte() | in.byte() << 8) % 600;
    Into call(in, room, kOneRequest);
    if (call([&](uint8_t* p) { return SDGetNVRam(kFc, 0, 0, p, room); }) != SDERR_NO_ERROR) return;
    const Answer* a = call.run.last(EXT_CC_READ_NVRAM);
    FUZZ_CHECK(a != nullptr && a->answered() && a->capacity <= room && came(a, call.buf.data(), a->capacity));
}

// A CT request into room for 16 to 1039 bytes: the answer's bytes, and
// nothing that the driver did not deliver.
void ct(fuzz::Reader& in, int handle) {
    const uint32_t room = 16 + (in.byte() | in.byte() << 8) % 1024;
    Bytes request(16, 0);
    std::tie(request[0], request[4], request[5], request[8], request[9]) = std::tuple(1, 0xFC, 2, 0x01, 0x71);
    Guarded req(request);
    Into call(in, room, kOneRequest);
    call([&](uint8_t* p) { return SDSendCTPassThru(handle, req.data(), req.size(), p, room); });
    FUZZ_CHECK(req.guard_intact() && req.contents() == request);
    if (call.status != SDERR_NO_ERROR) return;
    const Answer* a =
        handle == kBsg ? call.run.last_job(VX_BSG_HOST_CT) : call.run.last(EXT_CC_SEND_CT_PASSTHRU);
    const size_t got = a != nullptr && a->taken() ? std::min<size_t>(a->delivered.size(), room) : 0;
    const uint8_t* b = call.buf.data();
    FUZZ_CHECK(came(a, b, got) && nothing_else(b, got, room));
}

// INQUIRY of LUN 0 into 1 to 255 bytes, with 32 bytes of sense: the data
// are the bytes delivered, and nothing else.
void inquiry(fuzz::Reader& in) {
    const uint32_t room = 1 + in.byte() % 255;
    Guarded sense(32, kFill);
    TARGETINFORMATION target{};
    Into call(in, room, kOneRequest);
    call([&](uint8_t* p) { return SDSendScsiInquiryCmd(kFc, &target, p, room, sense.data(), sense.size()); });
    FUZZ_CHECK(sense.guard_intact());
    if (call.status != SDERR_NO_ERROR) return;
    const Answer* a = call.run.last(EXT_CC_SEND_SCSI_PASSTHRU);
    const size_t got = a != nullptr && a->taken() ? std::min<size_t>(a->delivered.size(), room) : 0;
    const uint8_t* b = call.buf.data();
    FUZZ_CHECK(came(a, b, got) && nothing_else(b, got, room));
}

// ---- the converged port ----

// The port identity (128 bytes): on success the record came whole and its
// VLAN and MAC are the caller's; the rest is the caller's but for the fabric
// parameters; a failure writes nothing.
void cna_identity(fuzz::Reader& in) {
    SD_UINT32 size = sizeof(CNAPORTPROPERTY);
    Into call(in, size, kOneRequest);
    call([&](uint8_t* p) { return SDGetCnaPortData(kCna, 0, SD_CNA_GET_PORT_ID, p, &size); });
    FUZZ_CHECK(size == sizeof(CNAPORTPROPERTY));
    if (!call.succeeded()) return;
    const Answer* a = call.run.last(EXT_CC_QUERY, kQueryCnaPort);
    FUZZ_CHECK(whole_ok(a, sizeof(EXT_CNA_PORT)) && came(a, call.buf.data(), 8));
    const Bytes rest(call.buf.data() + 12, call.buf.data() + size);
    FUZZ_CHECK(rest == Bytes(size - 12, kFill));
}

// The DCBX block into 64 to 1087 bytes: on success its length was
// delivered, within the buffer, and the buffer holds it; a failure leaves
// the buffer, and the size but with "too small".
void dcbx(fuzz::Reader& in) {
    const uint32_t room = 64 + (in.byte() | in.byte() << 8) % 1024;
    SD_UINT32 size = room;
    Into call(in, room, kOneRequest);
    call([&](uint8_t* p) { return SDGetCnaPortData(kCna, 0, SD_CNA_GET_DCBX_PARAMS, p, &size); });
    if (!call.succeeded()) {
        FUZZ_CHECK(size == room || call.status == SDERR_BUFFER_TOO_SMALL);
        return;
    }
    FUZZ_CHECK(size <= room && came(call.run.last(EXT_CC_GET_DATA, kDataDcbx), call.buf.data(), size));
}

// ---- discovery ----

// Where the fields that discovery reads end: of the node record (its name,
// serial bytes, driver version, port count, interface type and driver
// attributes), the port record (name, identifier, state, topology) and the
// chip record (PCI ids and place).
constexpr size_t kNodeRead = offsetof(EXT_HBA_NODE, DriverAttr) + sizeof(uint32_t);
constexpr size_t kPortRead = offsetof(EXT_HBA_PORT, Topology) + sizeof(uint16_t);
constexpr size_t kChipRead = offsetof(EXT_CHIP, DomainNr) + sizeof(uint16_t);

// The last answer to that query of that driver instance, or null.
const Answer* query_of(const Run& run, uint16_t instance, uint16_t sub_code) {
    const Answer* found = nullptr;
    for (const Answer& a : run.answers()) {
        if (!a.bsg && a.command == EXT_CC_QUERY && a.sub_code == sub_code && a.instance == instance) found = &a;
    }
    return found;
}

bool zero(const uint8_t* b, size_t n) {
    return std::all_of(b, b + n, [](uint8_t x) { return x == 0; });
}

// The discovery of the ports of the driver's node "/dev/vxfound" (three
// ports; the node, port and chip records short, long, or answered with
// status 7 or 8): a port gets its function only from a chip record whose
// fields came, and takes its names from a node and a port record only when
// every field that discovery reads of them came. The ports it listed are
// dropped again with the function records that no other port holds, and the
// global layout is put back.
void discovery(fuzz::Reader& in) {
    const std::vector<vxapi_priv_database*> before = sim::listed_ports();
    const INT_OPT_ROM_LAYOUT layout = gOptRomLayout;
    INT_OPT_ROM_LAYOUT* const layout_in_use = pGlobalOptRomLayout;
    std::vector<vxapi_priv_database*> listed;
    {
        // An instance that cannot be opened leaves the number of hosts
        // unknown: every driver instance is tried, with the count and the
        // instance's selection; then each port's own requests.
        Run run(in, (2 * VX_MAX_DRIVER_INSTANCES + 3 * 40) * kOneRequest);
        uint32_t start = 0;
        (void)vxapi_find_all_instances_n(kFoundDriver, &start);
        for (vxapi_priv_database* rec : sim::listed_ports()) {
            if (std::find(before.begin(), before.end(), rec) != before.end()) continue;
            listed.push_back(rec);
            // A port whose chip record was refused stays listed without its function.
            const Answer* chip = query_of(run, rec->drvr_inst, kQueryChip);
            FUZZ_CHECK(rec->phy_info == nullptr || chip != nullptr);
            if (rec->phy_info != nullptr) {
                FUZZ_CHECK(chip->taken() && chip->delivered.size() >= kChipRead);
                FUZZ_CHECK(rec->phy_info->device_id == at<uint16_t>(chip->delivered, offsetof(EXT_CHIP, DeviceId)));
            }
            const Answer* node = query_of(run, rec->drvr_inst, kQueryNode);
            if (!zero(rec->wwnn, sizeof rec->wwnn)) {
                FUZZ_CHECK(node != nullptr && node->taken() && node->delivered.size() >= kNodeRead);
                FUZZ_CHECK(std::equal(rec->wwnn, rec->wwnn + 8, node->delivered.begin()));
            }
            const Answer* port = query_of(run, rec->drvr_inst, kQueryPort);
            if (!zero(rec->wwpn, sizeof rec->wwpn)) {
                FUZZ_CHECK(port != nullptr && port->taken() && port->delivered.size() >= kPortRead);
                FUZZ_CHECK(std::equal(rec->wwpn, rec->wwpn + 8, port->delivered.begin()));
            }
        }
    }
    // A function record is shared by every port at its PCI address, and an
    // answer may name the address of a port listed before: each function of
    // the dropped ports goes once, and only when no port still listed holds it.
    std::vector<vxapi_phy_info*> functions;
    for (vxapi_priv_database* rec : listed) {
        if (rec->phy_info != nullptr &&
            std::find(functions.begin(), functions.end(), rec->phy_info) == functions.end()) {
            functions.push_back(rec->phy_info);
        }
        vxapi_free_api_priv_data_element(rec);
    }
    const std::vector<vxapi_priv_database*> staying = sim::listed_ports();
    for (vxapi_phy_info* info : functions) {
        const bool held = std::any_of(staying.begin(), staying.end(),
                                      [info](const vxapi_priv_database* rec) { return rec->phy_info == info; });
        if (!held) vxapi_free_api_phy_info_element(info);
    }
    gOptRomLayout = layout;
    pGlobalOptRomLayout = layout_in_use;
}

// The modes the seeds name.
enum Mode : uint8_t {
    kModeTemperature,
    kModeSerdesParams,
    kModeTrace,
    kModeSerdes16,
    kModeSerdes32,
    kModeBeacon,
    kModeLoopback,
    kModeDump,
    kModeDiscPort,
    kModeDiscTarget,
    kModeSummary,
    kModeEvents,
    kModeFoParams,
    kModeFoPaths,
    kModeFoStatistics,
    kModeFoLuns,
    kModeFoTargets,
    kModeFoVersion,
    kModeFoLb,
    kModeVpd,
    kModeNvram,
    kModeCt,
    kModeInquiry,
    kModeCnaIdentity,
    kModeDcbx,
    kModeSerdesBsg,
    kModeLoopbackBsg,
    kModeCtBsg,
    kModeDiscovery,
};

const std::vector<Call>& calls() {
    static const FO_PATH_REQUEST path{0, 0, FO_ADDRESS_PORT_NAME, {0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}, 0, {}};
    static const std::vector<Call> table = {
        {1, temperature},
        {2, serdes_params},
        {1, trace},
        {1,
         [](fuzz::Reader& in) {
             serdes_register<vxa_serdes_reg, SD_UINT16>(in, EXT_CC_SERDES_REG, 0, [](uint32_t adr, SD_UINT16* v) {
                 return SDGetFCSerDesRegister(kSerdes16, 0, static_cast<SD_UINT16>(adr), v);
             });
         }},
        {1,
         [](fuzz::Reader& in) {
             serdes_register<vxa_serdes_reg_ex, SD_UINT32>(in, EXT_CC_SERDES_REG_EX, 0,
                                                           [](uint32_t adr, SD_UINT32* v) {
                                                               return SDGetFCSerDesRegisterEx(kCna, 0, adr, v);
                                                           });
         }},
        {0, beacon},
        {2, [](fuzz::Reader& in) { loopback(in, kFc); }},
        {1, dump},
        {1,
         [](fuzz::Reader& in) {
             discovered<DISCPORTPROPERTY, EXT_DISC_PORT>(in, kQueryDiscPort, [](SD_UINT32 i, PDISCPORTPROPERTY p) {
                 return SDGetDiscPortProperty(kFc, 0, i, 0, p);
             });
         }},
        {1,
         [](fuzz::Reader& in) {
             discovered<DISCTARGETPROPERTY, EXT_DISC_TARGET>(in, kQueryDiscTarget,
                                                             [](SD_UINT32 i, PDISCTARGETPROPERTY p) {
                                                                 return SDGetDiscTargetProperty(kFc, 0, i, 0, p);
                                                             });
         }},
        {1, summary},
        {1, events},
        {0,
         [](fuzz::Reader& in) {
             fo_record(in, sizeof(FO_SYS_PARAMS), FO_CC_GET_PARAMS, sizeof(FO_SYS_PARAMS), [](uint8_t* p) {
                 return ISDFoGetSysParams(kFc, reinterpret_cast<PFO_SYS_PARAMS>(p), 0);
             });
         }},
        {0,
         [](fuzz::Reader& in) {
             fo_record(in, sizeof(FO_PATHS_INFO), FO_CC_GET_PATHS, kFoPathsReply, [](uint8_t* p) {
                 return ISDFoGetPaths(kFc, &path, reinterpret_cast<PFO_PATHS_INFO>(p), 0);
             });
         }},
        {0, fo_statistics},
        {0, fo_luns},
        {0,
         [](fuzz::Reader& in) {
             fo_record(in, sizeof(FO_TARGET_DATA_LIST), FO_CC_GET_TARGET_DATA, kFoTargetsReply, [](uint8_t* p) {
                 return ISDFoGetTargetData(kFc, 0, nullptr, reinterpret_cast<PFO_TARGET_DATA_LIST>(p), 0);
             });
         }},
        {0,
         [](fuzz::Reader& in) {
             fo_record(in, sizeof(FO_DRIVER_VERSION), FO_CC_GET_DRIVER_VERSION, kFoVersionReply, [](uint8_t* p) {
                 return ISDFoGetFoDriverVersion(kFc, reinterpret_cast<PFO_DRIVER_VERSION>(p));
             });
         }},
        {0, fo_lb},
        {2, vpd},
        {2, nvram},
        {2, [](fuzz::Reader& in) { ct(in, kFc); }},
        {1, inquiry},
        {0, cna_identity},
        {2, dcbx},
        {1,
         [](fuzz::Reader& in) {
             serdes_register<vxa_serdes_reg, SD_UINT16>(in, 0, VX_BSG_SERDES_REG, [](uint32_t adr, SD_UINT16* v) {
                 return SDGetFCSerDesRegister(kBsg, 0, static_cast<SD_UINT16>(adr), v);
             });
         }},
        {2, [](fuzz::Reader& in) { loopback(in, kBsg); }},
        {2, [](fuzz::Reader& in) { ct(in, kBsg); }},
        {0, discovery},
    };
    return table;
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    // Every call answered as the simulator answers, at a few sizes.
    std::vector<Bytes> out = fuzz::plain_seeds(calls(), {{0, 0}, {1, 1}, {7, 2}, {0xFF, 3}});
    // The hostile answers: short, long, status 7, 8 and 15 with detail 0,
    // counts far beyond what came.
    for (size_t mode = 0; mode < calls().size(); ++mode) {
        const Bytes params(calls()[mode].params, 1);
        out.push_back(input(mode, params, {answer(kLength, 4)}));
        out.push_back(input(mode, params, {answer(kLength, 0xFFFF)}));
        for (const uint8_t s : {EXT_STATUS_DATA_OVERRUN, EXT_STATUS_DATA_UNDERRUN, EXT_STATUS_SCSI_STATUS}) {
            out.push_back(input(mode, params, {answer(kStatus, 0, 0, {}, 0, s)}));
            out.push_back(input(mode, params, {answer(kStatus | kLength, 2, 0, {}, 0, s)}));
        }
    }
    // Counts far beyond the entries that came: the port summary's, the LUN
    // list's and the load-balancing list's.
    out.push_back(input(kModeSummary, {7}, {answer(0, 0, 0, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF})}));
    for (const size_t mode : {kModeFoLuns, kModeFoLb}) out.push_back(input(mode, {}, {answer(0, 0, 2, {0xE8, 0x03})}));
    // Discovery: the first port's node, port and chip records (its fourth to
    // sixth requests) short, long, or answered with status 7 or 8.
    for (size_t k = 3; k < 6; ++k) {
        const std::vector<Bytes> before(k, answer(0, 0));
        for (const Bytes& hostile : {answer(kLength, 15), answer(kLength, 0xFFFF),
                                     answer(kStatus, 0, 0, {}, 0, EXT_STATUS_DATA_OVERRUN),
                                     answer(kStatus | kLength, 15, 0, {}, 0, EXT_STATUS_DATA_UNDERRUN)}) {
            std::vector<Bytes> answers = before;
            answers.push_back(hostile);
            out.push_back(input(kModeDiscovery, {}, answers));
        }
    }
    // Discovery: the first port's chip record names PCI bus 4, that of the
    // port of 0x2071 (handle 2), so the two share a function record.
    std::vector<Bytes> shared(5, answer(0, 0));
    shared.push_back(answer(0, 0, offsetof(EXT_CHIP, PciBusNumber), {4, 0}));
    out.push_back(input(kModeDiscovery, {}, shared));
    // The VPD answered busy over the bytes of its area, then a failed ioctl,
    // 16 bytes, or busy again until the resends run out: no byte of a busy
    // answer reaches the caller.
    const Bytes busy = answer(kStatus, 0, 0, {}, 0, EXT_STATUS_BUSY);
    for (const Bytes& then : {answer(kFails, 0), answer(kLength, 16)}) {
        out.push_back(input(kModeVpd, {0, 1}, {busy, then}));
    }
    out.push_back(input(kModeVpd, {0, 1}, std::vector<Bytes>(kOneRequest, busy)));
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rig().reset();
    fuzz::run_call(calls(), data, size);
    return 0;
}

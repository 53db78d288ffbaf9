// The driver's answers to the port calls that driver_answers leaves out: the
// board temperature, the SerDes parameter block and registers, the FCE
// trace, the beacon, the loopback test, the firmware dump, the discovered
// ports and targets and the contents of the port summary, on ports of the
// driver's node: an FC port (handle 1), a port of a chip with 16-bit SerDes
// registers (handle 2) and a converged port (handle 3).
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
#include "base/vx_diag_records.h"
#include "base/vx_driver_records.h"
#include "base/vx_passthru_records.h"
#include "base/vx_request.h"
#include "sim_diag_driver.h"
#include "sim_flash.h"
#include "sim_nvram_vpd.h"
#include "sim_passthru.h"
#include "sim_queries.h"
#include "vxsdm.h"
#include "vxsdm_diag.h"
#include "vxsdm_stats.h"

namespace {

using namespace fuzz;  // NOLINT(google-build-using-namespace): the target's own helpers

constexpr int kFc = 1, kSerdes16 = 2, kCna = 3;  // handles
constexpr unsigned kDriverMajor = 240;
constexpr uint16_t kDataBeacon = 8, kDataPortSummary = 0x6A;
constexpr uint16_t kQueryDiscPort = 3, kQueryDiscTarget = 4;
constexpr uint32_t kTraceBytes = 0x30000;

// ---- the host ----

// The driver's node with three adapters of one port each: 0x2532 (board
// temperature, SerDes parameters, FCE trace; two remote ports, both
// targets), 0x2071 (16-bit SerDes registers) and 0x8044 (converged, 32-bit
// SerDes registers); the diagnostic records, a 300-byte dump, the beacon and
// the loopback answered; every port answers through the input's editor.
struct Rig {
    Rig() {
        sim::SimHost& host = fuzz::host();
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
        // The editor takes the driver's place before the ports' node is opened.
        host.register_device(kDriverMajor, &driver_answers);
        for (size_t i = 0; i < ports.size(); ++i) fuzz::ioctl_record(driver, *ports[i], static_cast<int>(i + 1));
    }

    // What an input leaves: the logs and the sleeps.
    void reset() {
        fuzz::host().clear_sleeps();
        fuzz::host().clear_records();
        driver.clear_log();
    }

    sim::SimDriver driver;
    sim::SanFabric san;
    sim::SimDiag diag;
    std::vector<sim::SimPort*> ports;
    fuzz::DriverAnswers driver_answers{driver};
};

Rig& rig() {
    static Rig* r = new Rig();  // lives as long as the process, as the host
    return *r;
}

// ---- the calls ----

// While the faults that others mend are open, their checks can be left out:
// VXSDM_FUZZ_SKIP_PENDING set in the environment.
bool pending_skipped() {
    static const bool skipped = std::getenv("VXSDM_FUZZ_SKIP_PENDING") != nullptr;
    return skipped;
}

template <class T>
T at(const Bytes& b, size_t offset) {
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// The board temperature into 64 to 71 bytes: on success the record came
// whole and the two words are its own; the rest of the caller's record is
// never written, nor any of it on a failure.
void temperature(fuzz::Reader& in) {
    const uint16_t size = static_cast<uint16_t>(64 + in.byte() % 8);
    Guarded buf(size, kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetBoardTemp(kFc, 0, buf.as<BOARD_TEMP>(), size);
    FUZZ_CHECK(buf.guard_intact());
    Bytes rest = buf.contents();
    std::fill_n(rest.begin(), 4, kFill);
    FUZZ_CHECK(rest == Bytes(size, kFill));
    if (status != SDERR_NO_ERROR) {
        FUZZ_CHECK(buf.untouched());
        return;
    }
    const Answer* a = run.last(EXT_CC_BOARD_TEMP);
    FUZZ_CHECK(whole(a, sizeof(EXT_BOARD_TEMP)) && a->status == EXT_STATUS_OK);
    FUZZ_CHECK(std::equal(buf.data(), buf.data() + 4, a->delivered.begin()));
}

// The SerDes parameter block into 1 to 600 bytes: on success the request
// was carried, and the buffer holds what was delivered.
void serdes_params(fuzz::Reader& in) {
    const uint32_t size = 1 + (in.byte() | in.byte() << 8) % 600;
    Guarded buf(size, kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDReadSerdesParams(kFc, buf.data(), size);
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) return;
    const Answer* a = run.last(EXT_CC_SERDES_PARAMS);
    FUZZ_CHECK(a != nullptr && a->taken() && a->status == EXT_STATUS_OK);
    FUZZ_CHECK(std::equal(a->delivered.begin(), a->delivered.end(), buf.data()));
}

// The FCE trace into 0x30000 to 0x3000F bytes: the size given back never
// passes the buffer nor, on success, what was delivered, and the buffer
// holds those bytes; a failure other than "too small" leaves the size.
void trace(fuzz::Reader& in) {
    const uint32_t room = kTraceBytes + in.byte() % 16;
    Guarded buf(room, kFill);
    SD_UINT32 size = room;
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetTraceBuffer(kFc, buf.data(), &size);
    FUZZ_CHECK(buf.guard_intact());
    if (status == SDERR_BUFFER_TOO_SMALL) return;
    if (status != SDERR_NO_ERROR) {
        FUZZ_CHECK(size == room);
        return;
    }
    const Answer* a = run.last(EXT_CC_FCE_TRACE);
    FUZZ_CHECK(a != nullptr && a->taken() && size <= room && size <= a->delivered.size());
    FUZZ_CHECK(std::equal(buf.data(), buf.data() + size, a->delivered.begin()));
}

// A SerDes register of 16 or 32 bits: on success the register record came
// whole and the value is its own; a failure writes nothing.
template <class Reg, class Value>
void serdes_register(fuzz::Reader& in, uint8_t command,
                     const std::function<SD_UINT32(uint32_t, Value*)>& call) {
    const uint32_t address = in.byte();
    Guarded buf(sizeof(Value), kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = call(address, buf.as<Value>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) {
        FUZZ_CHECK(buf.untouched());
        return;
    }
    const Answer* a = run.last(command);
    FUZZ_CHECK(whole(a, sizeof(Reg)) && a->status == EXT_STATUS_OK);
    FUZZ_CHECK(*buf.as<Value>() == at<Value>(a->delivered, offsetof(Reg, val)));
}

// The beacon's state: on success the record came whole and the state is its
// own; a failure leaves the caller's word.
void beacon(fuzz::Reader& in) {
    Guarded buf(sizeof(SD_UINT32), kFill);
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetBeaconControl(kFc, buf.as<SD_UINT32>());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR) {
        FUZZ_CHECK(buf.untouched());
        return;
    }
    const Answer* a = run.last(EXT_CC_GET_DATA, kDataBeacon);
    FUZZ_CHECK(whole(a, sizeof(EXT_BEACON_CONTROL)) && a->status == EXT_STATUS_OK);
    FUZZ_CHECK(*buf.as<SD_UINT32>() == at<uint32_t>(a->delivered, 0));
}

// The loopback test of 0 to 128 bytes into room for 0 to 15 more: the data
// sent stays the caller's, and on success the test's record came whole.
void loopback(fuzz::Reader& in) {
    const uint32_t n = in.byte() % 129, extra = in.byte() % 16;
    Guarded tx(pattern(n, 11)), rx(n + extra, kFill), status_buf(sizeof(LOOPBACKSTATUS), kFill);
    // A test, up to two firmware resets and their retests.
    Run run(in, 8 * kOneRequest);
    const SD_UINT32 status = SDRunDiagLoopbackEx(kFc, 0, 0, tx.data(), n, rx.data(), n + extra, 1,
                                                 status_buf.as<LOOPBACKSTATUS>());
    FUZZ_CHECK(tx.guard_intact() && rx.guard_intact() && status_buf.guard_intact());
    FUZZ_CHECK(tx.contents() == pattern(n, 11));
    if (status != SDERR_NO_ERROR) return;
    const Answer* a = run.last(EXT_CC_LOOPBACK);
    FUZZ_CHECK(whole(a, sizeof(INT_LOOPBACK_RSP)) && a->status == EXT_STATUS_OK);
}

// The firmware dump into 0 to 1020 bytes: on success the length reported
// was delivered, within the buffer, and the buffer holds it; a path is
// terminated inside the buffer.
void dump(fuzz::Reader& in) {
    const uint32_t room = 4 * (in.byte() % 256);
    Guarded buf(room, kFill);
    SD_UINT32 size = room;
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetFwDump(kFc, 0, buf.data(), &size);
    FUZZ_CHECK(buf.guard_intact());
    if (status == SDERR_DUMP_FILE) {
        if (pending_skipped()) return;
        FUZZ_CHECK(room == 0 || std::find(buf.data(), buf.data() + room, 0) != buf.data() + room);
        return;
    }
    if (status != SDERR_NO_ERROR) return;
    const Answer* a = run.last(EXT_CC_GET_FW_DUMP);
    FUZZ_CHECK(a != nullptr && a->taken() && size <= room && size <= a->delivered.size());
    FUZZ_CHECK(std::equal(buf.data(), buf.data() + size, a->delivered.begin()));
}

// A discovered port or target by its number (0 to 3; two exist): on success
// the record came whole with status OK; overrun and underrun may fill the
// caller's record, any other failure leaves it.
template <class Property, class Record>
void discovered(fuzz::Reader& in, uint16_t sub_code,
                const std::function<SD_UINT32(SD_UINT32, Property*)>& call) {
    const uint32_t index = in.byte() % 4;
    Guarded buf(sizeof(Property), kFill);
    Run run(in, 2 * kOneRequest);
    const SD_UINT32 status = call(index, buf.as<Property>());
    FUZZ_CHECK(buf.guard_intact());
    if (status == SDERR_DATA_OVERRUN || status == SDERR_DATA_UNDERRUN) return;
    if (status != SDERR_NO_ERROR) {
        FUZZ_CHECK(buf.untouched());
        return;
    }
    const Answer* a = run.last(EXT_CC_QUERY, sub_code);
    FUZZ_CHECK(whole(a, sizeof(Record)) && a->status == EXT_STATUS_OK);
    FUZZ_CHECK(std::equal(buf.data(), buf.data() + 8, a->delivered.begin()));  // the node name
}

// The port summary into room for 1 to 8 entries: each entry reported is the
// one delivered at its place.
void summary(fuzz::Reader& in) {
    const uint32_t room = 1 + in.byte() % 8;
    Guarded buf(sizeof(DEVICEINFO) + (room - 1) * sizeof(DEVICEINFOENTRY), kFill);
    auto* info = buf.as<DEVICEINFO>();
    Run run(in, kOneRequest);
    const SD_UINT32 status = SDGetPortDatabase(kFc, 0x1F, info, buf.size());
    FUZZ_CHECK(buf.guard_intact());
    if (status != SDERR_NO_ERROR && status != SDERR_BUFFER_TOO_SMALL) return;
    // The driver's "too small" fills nothing.
    if (status == SDERR_BUFFER_TOO_SMALL && buf.untouched()) return;
    const Answer* a = run.last(EXT_CC_GET_DATA, kDataPortSummary);
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
};

const std::vector<Call>& calls() {
    static const std::vector<Call> table = {
        {1, temperature},
        {2, serdes_params},
        {1, trace},
        {1,
         [](fuzz::Reader& in) {
             serdes_register<vxa_serdes_reg, SD_UINT16>(in, EXT_CC_SERDES_REG, [](uint32_t adr, SD_UINT16* v) {
                 return SDGetFCSerDesRegister(kSerdes16, 0, static_cast<SD_UINT16>(adr), v);
             });
         }},
        {1,
         [](fuzz::Reader& in) {
             serdes_register<vxa_serdes_reg_ex, SD_UINT32>(in, EXT_CC_SERDES_REG_EX, [](uint32_t adr, SD_UINT32* v) {
                 return SDGetFCSerDesRegisterEx(kCna, 0, adr, v);
             });
         }},
        {0, beacon},
        {2, loopback},
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
    out.push_back(input(kModeSummary, {7}, {answer(0, 0, 0, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF})}));
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rig().reset();
    fuzz::run_call(calls(), data, size);
    return 0;
}

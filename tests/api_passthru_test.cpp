// The SCSI, CT and ELS pass-through of the management API: one scenario table on an ioctl port with a remote
// port behind (target id 4; the target model decides which answer). The sysfs transport has its own tests.
#include "api_rig.h"
#include "sim_passthru.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;
using Els = std::array<uint8_t, 8>;

constexpr uint16_t kTarget = 4;
const sim::Wwn kWwpn = {0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1};

// An ioctl port with the remote port behind it, its LUN 0 by SCSI address and by WWPN, scratch buffers.
struct Road {
    Road() {
        sim::install_passthru_handlers(rig.driver, san);
        target = &san.ports.emplace_back(sim::SanPort{kWwpn, 0, kTarget, {}}).scsi;
        const apitest::RigPort& port = rig.add_adapter(0x2532);
        std::tie(h, rec) = std::tuple(port.handle, port.rec);
    }
    size_t offered() const { return rig.requests(EXT_CC_SEND_SCSI_PASSTHRU).back().response_len; }  // data room
    void answer_els(const Els& reply) {  // the ELS answer from now on
        rig.driver.on(EXT_CC_SEND_ELS_PASSTHRU,
                      [reply](const sim::SimRequest&) { return sim::SimReply::with_record(reply); });
    }
    apitest::ApiRig rig;
    sim::SanFabric san;
    int h = 0;
    vxapi_priv_database* rec = nullptr;
    sim::ScsiTarget* target = nullptr;
    TARGETINFORMATION t{0, kTarget, 0, {}};
    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
    uint8_t data[4096], list[80], sense[32];
};

// The target refuses REPORT LUNS (fixed-format sense) and has LUNs 0 to count - 1.
void refusing(Road& r, unsigned count) {
    r.target->report_luns = sim::ScsiTarget::Refusal::FixedSense;
    for (unsigned lun = 1; lun < count; ++lun) r.target->luns[lun] = {};
}

Bytes bytes(const uint8_t* b, size_t from, size_t to) { return Bytes(b + from, b + to); }

const std::pair<const char*, std::function<void(Road&)>> kScenarios[] = {
    {"INQUIRY of 300 asks 255, offers 300; bus 3 goes as 0; REPORT LUNS of 4096", [](Road& r) {
         r.t.BusNumber = 3;
         EXPECT_EQ(SDSendScsiInquiryCmd(r.h, &r.t, r.data, 300, r.sense, 32), 0u);
         EXPECT_EQ(r.target->cdbs.back().second, (Bytes{0x12, 0, 0, 0, 255, 0}));
         EXPECT_EQ(r.offered(), 300u);
         EXPECT_EQ(SDSendScsiReportLunsCmdFC(r.h, &r.d, r.data, 4096, r.sense, 32), 0u);
         EXPECT_EQ(bytes(r.target->cdbs.back().second.data(), 0, 10), (Bytes{0xA0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}));
     }},
    {"descriptor sense: no probe; fixed sense: LUNs 0 and 5 found by probing", [](Road& r) {
         r.target->report_luns = sim::ScsiTarget::Refusal::DescriptorSense;
         EXPECT_EQ(SDSendScsiReportLunsCmd(r.h, &r.t, r.list, 64, r.sense, 32), SDERR_SCSI_CHECK_CONDITION);
         refusing(r, 1);
         r.target->luns[5] = {};
         EXPECT_EQ(SDSendScsiReportLunsCmd(r.h, &r.t, r.list, 64, r.sense, 32), SDERR_NOT_FROM_DEVICE);
         EXPECT_EQ(bytes(r.list, 0, 26),
                   (Bytes{0, 0, 0, 0x10, 0xA5, 0xA5, 0xA5, 0xA5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0xA5, 0xA5}));
         EXPECT_EQ(r.t.LUN, 255);
         EXPECT_EQ(r.sense[0], 0x70);
     }},
    {"10 LUNs: none probed into 7 bytes; a list cut to 64 bytes; the FC probe ends at LUN 10", [](Road& r) {
         refusing(r, 10);
         EXPECT_EQ(SDSendScsiReportLunsCmd(r.h, &r.t, r.list, 7, r.sense, 32), SDERR_BUFFER_TOO_SMALL);
         EXPECT_EQ(SDSendScsiReportLunsCmd(r.h, &r.t, r.list, 64, r.sense, 32), SDERR_NOT_FROM_DEVICE);
         EXPECT_EQ(bytes(r.list, 0, 4), (Bytes{0, 0, 0, 80}));
         EXPECT_EQ(bytes(r.list, 56, 66), (Bytes{0, 6, 0, 0, 0, 0, 0, 0, 0xA5, 0xA5}));
         EXPECT_EQ(SDSendScsiReportLunsCmdFC(r.h, &r.d, r.list, 64, r.sense, 32), SDERR_NOT_FROM_DEVICE);
         EXPECT_EQ(r.d.LunNumber, 10);
     }},
    {"FC sense: 18 bytes into 18; no sense buffer; not sent: 17-byte CDB, both data buffers", [](Road& r) {
         uint8_t far_read[10] = {0x28, 0, 0, 0, 1, 0, 0, 0, 1, 0}, cdb[17] = {0x12, 0, 0, 0, 36};
         EXPECT_EQ(SDSendScsiPassThruFC(r.h, &r.d, far_read, 10, nullptr, 0, r.data, 512, r.sense, 18),
                   SDERR_SCSI_CHECK_CONDITION);
         EXPECT_EQ(bytes(r.sense, 0, 18), sim::fixed_sense(0x21));
         EXPECT_EQ(r.sense[18], 0xA5);
         EXPECT_EQ(SDSendScsiPassThru(r.h, &r.t, cdb, 6, nullptr, 0, r.data, 36, nullptr, 18),
                   SDERR_NO_ERROR);
         EXPECT_EQ(SDSendScsiReadCapacityCmd(r.h, &r.t, r.data, 8, nullptr, 18), 0u);
         r.target->cdbs.clear();
         EXPECT_EQ(SDSendScsiPassThru(r.h, &r.t, cdb, 17, nullptr, 0, r.data, 36, r.sense, 32), SDERR_INVALID_PARAMETER);
         EXPECT_EQ(SDSendScsiPassThru(r.h, &r.t, cdb, 6, r.list, 8, r.data, 36, r.sense, 32), SDERR_INVALID_PARAMETER);
         EXPECT_TRUE(r.target->cdbs.empty());
     }},
    {"CT: refused off a fabric, answered on one", [](Road& r) {
         uint8_t request[16] = {1, 0, 0, 0, 0xFC, 2, 0, 0, 0x01, 0x12};
         r.rec->topology = 2;  // point-to-point; a request sent would have its answer, or zeroes, in data
         EXPECT_EQ(SDSendCTPassThru(r.h, request, 16, r.list, 64), SDERR_UNKNOWN);
         EXPECT_EQ(bytes(r.list, 0, 64), Bytes(64, 0xA5));
         r.rec->topology = 8;
         EXPECT_EQ(SDSendCTPassThru(r.h, request, 16, r.data, 64), 0u);
         EXPECT_EQ(bytes(r.data, 8, 10), (Bytes{0x80, 0x02}));
     }},
    {"ECHO: checks before the handle, LS_ACC, LS_RJT within the response size, another reply", [](Road& r) {
         const Els rjt{0x01, 0, 0, 0, 0, 0x09, 0x2A, 0x07}, other{0x03};
         const Bytes none(9, 0xA5);
         for (uint8_t i = 0; i < 64; ++i) r.list[i] = i;
         // Handle valid, sizes of request and response, answer (zeroes: the fabric's), status, response size, bytes.
         const std::tuple<bool, uint32_t, uint32_t, Els, SD_UINT32, uint32_t, Bytes> cases[] = {
             {false, 64, 60, {}, SDERR_INVALID_PARAMETER, 60, none},
             {false, 64, 64, {}, SDERR_INVALID_HANDLE, 64, none},
             {true, 0xFFFFFFF0, 0xFFFFFFF0, {}, SDERR_INVALID_PARAMETER, 0xFFFFFFF0, none},
             {true, 0, 0, {}, 0, 0, none},
             {true, 64, 64, {}, 0, 64, bytes(r.list, 0, 9)},
             {true, 64, 64, rjt, SDERR_ELS_REJECTED, 8, {0x01, 0xA5, 0xA5, 0xA5, 0xA5, 0x09, 0x2A, 0x07, 0xA5}},
             {true, 4, 4, rjt, SDERR_ELS_REJECTED, 4, {0x01, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}},
             {true, 4, 4, other, SDERR_UNKNOWN, 4, none},
         };
         for (const auto& [valid, size, room, answer, status, room_after, head] : cases) {
             if (answer[0] != 0) r.answer_els(answer);
             std::memset(r.data, 0xA5, sizeof r.data);
             uint32_t n = room;
             EXPECT_EQ(SDSendElsEcho(valid ? r.h : 99, 0, &r.d, r.list, size, r.data, &n), status) << size;
             EXPECT_EQ(n, room_after);
             EXPECT_EQ(bytes(r.data, 0, 9), head);
         }
     }},
    {"loopback of no bytes without buffers: the driver moves nothing and passes it", [](Road& r) {
         LOOPBACKSTATUS ls{};
         EXPECT_EQ(SDRunDiagLoopback(r.h, 0, 0, nullptr, 0, nullptr, 0, 1, &ls), 0u);
         EXPECT_EQ(std::pair(ls.TestResult, ls.CommandSent), std::pair(SD_UINT16{1}, SD_UINT8{0x45}));
         EXPECT_EQ(r.rig.requests(EXT_CC_LOOPBACK).size(), 1u);
     }},
};

TEST(ApiPassthru, ScenariosOnAnIoctlPort) {
    for (const auto& [what, run] : kScenarios) {
        SCOPED_TRACE(what);
        Road road;
        std::memset(road.list, 0xA5, sizeof road.list);
        std::memset(road.sense, 0xA5, sizeof road.sense);
        road.target->luns[0] = {};
        road.rec->topology = 8;
        run(road);
    }
    // A sysfs port's SCSI commands go to its own transport, never to a driver node.
    apitest::ApiRig rig;
    const int sysfs = rig.add_sysfs_adapter(0x2532).handle;
    TARGETINFORMATION t{0, kTarget, 0, {}};
    uint8_t data[36], sense[32];
    EXPECT_NE(SDSendScsiInquiryCmd(sysfs, &t, data, sizeof data, sense, sizeof sense), SDERR_NO_ERROR);
    EXPECT_TRUE(rig.driver.log().empty());
}

// On a sysfs port with bsg the driver may report a job's outcome in its reply. A failed result, or a CT or ELS reject
// or busy there, fails the request as a failed job does (status 1: "Unknown error"); an ECHO that the remote port
// rejected there answers as one rejected in the response payload, with the reply's reason, explanation and vendor
// code. Every job names a reply of fc_bsg_reply size (the simulated driver refuses a job without one).
TEST(ApiPassthru, BsgRepliesOnASysfsPort) {
    sysfstest::BsgPortRig r;
    sim::SimBsg& bsg = r.bsg;
    std::tie(r.port->state, r.port->topology) = std::tuple(0, 8);  // up on a fabric
    DESTINATIONADDRESS d{2, {{0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1}}, 0};
    uint8_t ct[16] = {1, 0, 0, 0, 0xFC, 2, 0, 0, 0x01, 0x12}, echo[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    // The status, the response size and the first 9 response bytes of a CT request or an ECHO.
    const auto send = [&](bool is_echo) {
        Bytes out(64, apitest::kFill);
        uint32_t n = sizeof echo;
        const SD_UINT32 st = is_echo ? SDSendElsEcho(1, 0, &d, echo, sizeof echo, out.data(), &n)
                                     : SDSendCTPassThru(1, ct, sizeof ct, out.data(), 64);
        return std::tuple(st, n, Bytes(out.begin(), out.begin() + 9));
    };
    r.san.reject_echo = true;  // LS_RJT, reason 0x09, in the response payload
    const auto rejected = send(true);
    r.san.reject_echo = false;
    constexpr uint8_t f = apitest::kFill;
    const std::tuple<SD_UINT32, uint32_t, Bytes> accepted{0, 8, {1, 2, 3, 4, 5, 6, 7, 8, f}},
        unknown{SDERR_UNKNOWN, 8, Bytes(9, f)}, explained{SDERR_ELS_REJECTED, 8, {0x01, f, f, f, f, 0x09, 0x2A, 0x07, f}};
    // ECHO or CT, the reply (result, CT/ELS status, reject data), the outcome (CT: the status alone).
    const std::tuple<bool, sim::BsgReply, std::tuple<SD_UINT32, uint32_t, Bytes>> cases[] = {
        {false, {}, {0, 0, {}}},
        {false, {0, 6, {}}, {SDERR_UNKNOWN, 0, {}}},  // F_BSY
        {false, {0, 4, {}}, {SDERR_UNKNOWN, 0, {}}},  // P_BSY
        {false, {0, 1, {}}, {SDERR_UNKNOWN, 0, {}}},  // REJECT
        {false, {0, 3, {}}, {SDERR_UNKNOWN, 0, {}}},  // F_RJT
        {false, {0, 2, {}}, {SDERR_UNKNOWN, 0, {}}},  // P_RJT
        {false, {0x70000, 0, {}}, {SDERR_UNKNOWN, 0, {}}},
        {true, {}, accepted},
        {true, {0, 1, {0, 0x09, 0, 0}}, rejected},
        {true, {0, 1, {3, 0x09, 0x2A, 0x07}}, explained},
        {true, {0, 3, {0, 0x09, 0, 0}}, unknown},  // F_RJT
        {true, {0, 6, {}}, unknown},               // F_BSY
        {true, {0x70000, 0, {}}, unknown},
    };
    for (const auto& [is_echo, reply, out] : cases) {
        SCOPED_TRACE(testing::Message() << is_echo << " " << reply.result << " " << reply.status);
        std::tie(bsg.replies, bsg.log) = std::tuple(std::deque{reply}, std::vector<sim::BsgJob>{});
        const auto got = send(is_echo);
        EXPECT_EQ(is_echo ? got : std::tuple(std::get<0>(got), 0u, Bytes{}), out);
        ASSERT_EQ(bsg.log.size(), 1u);
        EXPECT_GE(bsg.log[0].hdr.max_response_len, 16u);
    }
    EXPECT_EQ(std::get<0>(rejected), SDERR_ELS_REJECTED);
    EXPECT_EQ(bsg.unreplied, 0u);
}

}  // namespace

// The query, statistics and event workers, driven against the simulated
// adapter driver on both request headers.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_driver_records.h"
#include "core/vx_ioctl.h"
#include "core/vx_query.h"
#include "core/vx_records.h"
#include "core/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "sim_driver.h"
#include "sim_host.h"
#include "sim_queries.h"

namespace {

constexpr uint32_t kHostNo = 0x01234567;  // stamped into events: distinct from any pattern
constexpr size_t kGuard = 64;               // bytes behind every buffer that nobody may write
constexpr uint8_t kGuardByte = 0xA5;

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

// A host with the driver on "/dev/vxa2xxx", one adapter with one port that
// answers queries (driver instance 0), and the node open.
class QueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.attach(host);
        port = &sim::add_query_port(driver, driver.add_adapter());
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        ASSERT_GE(fd, 0);
        vx_debug = 0xFFFFFFFF;  // every trace call site runs
    }
    void TearDown() override {
        vx::sys().close(fd);
        vx_debug = 0;
    }

    vxapi_priv_database record(bool new_header, uint32_t extra_features = 0) const {
        vxapi_priv_database rec{};
        rec.features = (new_header ? VX_FEAT_NEW_IOCTL : 0) | extra_features;
        rec.drvr_inst = port->instance;
        rec.host_no = kHostNo;
        rec.oshandle = fd;
        return rec;
    }

    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimPort* port = nullptr;
    int fd = -1;
};

// What one worker call has to work with, and what it handed back.
struct Buffers {
    std::vector<uint8_t> request;   // the request bytes the worker passes on
    std::vector<uint8_t> response;  // response_len bytes and the guard
    uint32_t status = 0xDEAD;
    uint32_t detail = 0xDEAD;
    uint32_t length = 0;   // in/out length of the workers that have one
    uint32_t buf_len = 0;  // the event registration's BufLength
};

struct WorkerCase {
    const char* name;
    uint8_t command;
    uint16_t sub_code;
    uint16_t instance;
    uint32_t request_len;   // RequestLen the driver sees
    uint32_t response_len;  // ResponseLen the driver sees
    bool detail;            // hands out the detail status
    bool in_out_length;     // hands back the bytes delivered in b.length
    bool has_twin;          // a sysfs port goes to its twin
    std::function<int(int, vxapi_priv_database*, Buffers&)> call;
    // The worker's own work on what the driver delivered.
    std::function<void(std::vector<uint8_t>&)> adjust = nullptr;
};

uint8_t* resp(Buffers& b) { return b.response.data(); }

std::vector<WorkerCase> worker_cases() {
    const auto stamp = [](std::vector<uint8_t>& bytes) {
        for (size_t off = 0; off + 16 <= bytes.size(); off += 16) std::memcpy(&bytes[off + 8], &kHostNo, 4);
    };
    return {
        {"vxapi_query_hbanode", 0x00, 1, 0, 0, 696, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_hbanode(fd, r, reinterpret_cast<EXT_HBA_NODE*>(resp(b)), &b.status);
         }},
        {"vxapi_query_hbaport", 0x00, 2, 0, 0, 56, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_hbaport(fd, r, reinterpret_cast<EXT_HBA_PORT*>(resp(b)), &b.status);
         }},
        {"vxapi_query_discport", 0x00, 3, 5, 0, 60, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_discport(fd, r, 5, reinterpret_cast<EXT_DISC_PORT*>(resp(b)), &b.status);
         }},
        {"vxapi_query_disctgt", 0x00, 4, 0x1234, 0, 60, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_disctgt(fd, r, 0x1234, reinterpret_cast<EXT_DISC_TARGET*>(resp(b)), &b.status);
         }},
        {"vxapi_query_chip", 0x00, 8, 0, 0, 84, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_chip(fd, r, reinterpret_cast<EXT_CHIP*>(resp(b)), &b.status);
         }},
        {"vxapi_query_cnaport", 0x00, 9, 0, 0, 128, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_cnaport(fd, r, reinterpret_cast<EXT_CNA_PORT*>(resp(b)), &b.status);
         }},
        {"vxapi_query_driver", 0x06, 6, 0, 0, 200, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_driver(fd, r, reinterpret_cast<EXT_DRIVER*>(resp(b)), &b.status);
         }},
        {"vxapi_query_fw", 0x06, 7, 0, 0, 200, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_query_fw(fd, r, reinterpret_cast<EXT_FW*>(resp(b)), &b.status);
         }},
        {"vxapi_get_statistics", 0x06, 3, 0, 0, 112, true, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_get_statistics(fd, r, reinterpret_cast<EXT_HBA_PORT_STAT*>(resp(b)), &b.status,
                                         &b.detail);
         }},
        {"vxapi_get_port_statistics", 0x06, 0x70, 0, 16, 112, true, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_get_port_statistics(fd, r, b.request.data(),
                                              reinterpret_cast<EXT_HBA_PORT_STAT*>(resp(b)), &b.status, &b.detail);
         }},
        {"vxapi_get_fc4_statistics", 0x06, 9, 0, 16, 112, true, false, false,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_get_fc4_statistics(fd, r, b.request.data(), resp(b), &b.status, &b.detail);
         }},
        {"vxapi_get_port_summary", 0x06, 0x6A, 0, 4, 8 + 2 * 172, true, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_get_port_summary(fd, r, b.request.data(), resp(b), 8 + 2 * 172, &b.status, &b.detail);
         }},
        {"vxapi_get_dcbx_param", 0x06, 11, 0, 0, 100, false, true, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             b.length = 100;
             return vxapi_get_dcbx_param(fd, r, resp(b), &b.length, &b.status);
         }},
        {"vxapi_wwpn_to_scsiaddr", 0xFD, 0, 0, 8, 16, false, false, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             return vxapi_wwpn_to_scsiaddr(fd, r, b.request.data(), 8, reinterpret_cast<EXT_SCSI_ADDR*>(resp(b)),
                                           &b.status);
         }},
        {"vxapi_async_event_get", 0x03, 0, 0, 0, 64, false, true, true,
         [](int fd, vxapi_priv_database* r, Buffers& b) {
             b.length = 64;
             return vxapi_async_event_get(fd, r, resp(b), &b.length, &b.status);
         },
         stamp},
    };
}

// Every worker on both headers: the code, SubCode, Instance and lengths the
// driver sees, the request bytes it reads, the record it delivers (and only
// as much as the buffer holds), the driver's verdict and the ioctl's errno;
// and on a sysfs port, the twin instead of a request.
TEST_F(QueryTest, EveryWorkerOnBothHeaders) {
    for (const WorkerCase& c : worker_cases()) {
        SCOPED_TRACE(c.name);
        // The driver answers with twice what the buffer holds.
        const std::vector<uint8_t> answer = pattern(2 * c.response_len, 1);
        std::vector<uint8_t> seen_request;
        driver.on(c.command, c.sub_code, [&](const sim::SimRequest& r) {
            seen_request = r.request;
            sim::SimReply reply;
            reply.response = answer;
            reply.detail_status = 0x55;
            return reply;
        });
        std::vector<uint8_t> expected(answer.begin(), answer.begin() + c.response_len);
        if (c.adjust) c.adjust(expected);

        for (bool new_header : {true, false}) {
            SCOPED_TRACE(new_header ? "new header" : "old header");
            vxapi_priv_database rec = record(new_header);
            const auto fresh = [&] {
                Buffers b;
                b.request = pattern(c.request_len, 90);
                b.response.assign(c.response_len + kGuard, kGuardByte);
                return b;
            };
            const auto guard_intact = [&](const Buffers& b) {
                return std::all_of(b.response.begin() + c.response_len, b.response.end(),
                                   [](uint8_t x) { return x == kGuardByte; });
            };

            // Delivered.
            driver.clear_log();
            Buffers b = fresh();
            ASSERT_EQ(c.call(fd, &rec, b), 0);
            EXPECT_EQ(b.status, 0u);
            if (c.detail) {
                EXPECT_EQ(b.detail, 0x55u);
            }
            if (c.in_out_length) {
                EXPECT_EQ(b.length, c.response_len);
            }
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.response.begin()));
            EXPECT_TRUE(guard_intact(b));
            EXPECT_EQ(seen_request, b.request);
            const auto log = driver.log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].code, (new_header ? 0xC0747900ul : 0xC0087900ul) | c.command);
            EXPECT_EQ(log[0].new_layout, new_header);
            EXPECT_EQ(log[0].sub_code, c.sub_code);
            EXPECT_EQ(log[0].instance, c.instance);
            EXPECT_EQ(log[0].request_len, c.request_len);
            EXPECT_EQ(log[0].response_len, c.response_len);
            EXPECT_EQ(log[0].hba_select, port->instance);

            // The driver's refusal, and the overrun and underrun that callers
            // take for success, reach the caller unchanged.
            for (uint32_t refusal : {EXT_STATUS_ERR, EXT_STATUS_DATA_OVERRUN, EXT_STATUS_DATA_UNDERRUN}) {
                driver.inject_status(refusal);
                b = fresh();
                EXPECT_EQ(c.call(fd, &rec, b), 0);
                EXPECT_EQ(b.status, refusal);
                EXPECT_TRUE(guard_intact(b));
            }

            // The ioctl fails: -1 with the kernel's errno.
            driver.inject_errno(ENXIO);
            b = fresh();
            errno = 0;
            EXPECT_EQ(c.call(fd, &rec, b), -1);
            EXPECT_EQ(errno, ENXIO);
            if (c.in_out_length) {
                EXPECT_EQ(b.length, 0u);
            }

            // A driver that reports more than the buffer holds.
            driver.inject_overreport(1000);
            b = fresh();
            EXPECT_EQ(c.call(fd, &rec, b), 0);
            if (c.in_out_length) {
                EXPECT_EQ(b.length, c.response_len);
            }
            EXPECT_TRUE(guard_intact(b));

            // A sysfs port takes the twin (no transport yet) and sends nothing;
            // FC-4 statistics have no twin and always take the ioctl road.
            driver.clear_log();
            vxapi_priv_database sysfs = record(new_header, VX_FEAT_SYSFS);
            b = fresh();
            const int result = c.call(fd, &sysfs, b);
            if (c.has_twin && c.command != EXT_CC_GET_AEN) {
                EXPECT_EQ(result, VX_RESULT_NO_TRANSPORT);
                EXPECT_EQ(b.status, EXT_STATUS_UNSUPPORTED_SUBCODE);
                EXPECT_TRUE(driver.log().empty());
            } else if (!c.has_twin) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(driver.log().size(), 1u);
            }
        }
    }
}

// Missing buffers and out pointers: no crash, and no length is sent behind a
// null address.
TEST_F(QueryTest, NullPointersNeverCrash) {
    const std::vector<std::function<int(vxapi_priv_database*)>> calls = {
        [&](vxapi_priv_database* r) { return vxapi_query_hbanode(fd, r, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_hbaport(fd, r, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_discport(fd, r, 0, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_disctgt(fd, r, 0, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_chip(fd, r, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_cnaport(fd, r, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_driver(fd, r, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_query_fw(fd, r, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_get_statistics(fd, r, nullptr, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_get_port_statistics(fd, r, nullptr, nullptr, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_get_fc4_statistics(fd, r, nullptr, nullptr, nullptr, nullptr); },
        [&](vxapi_priv_database* r) {
            return vxapi_get_port_summary(fd, r, nullptr, nullptr, 1000, nullptr, nullptr);
        },
        [&](vxapi_priv_database* r) { return vxapi_get_dcbx_param(fd, r, nullptr, nullptr, nullptr); },
        [&](vxapi_priv_database* r) { return vxapi_wwpn_to_scsiaddr(fd, r, nullptr, 8, nullptr, nullptr); },
    };
    for (bool with_record : {true, false}) {
        vxapi_priv_database rec = record(true);
        for (size_t i = 0; i < calls.size(); ++i) {
            SCOPED_TRACE(i);
            driver.clear_log();
            EXPECT_EQ(calls[i](with_record ? &rec : nullptr), 0);
            const auto log = driver.log();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].request_len, 0u);
            EXPECT_EQ(log[0].response_len, 0u);
        }
    }

    // The event workers need the port's record, and a reader a buffer:
    // refused in the library, nothing sent.
    driver.clear_log();
    vxapi_priv_database rec = record(true);
    uint8_t events[64];
    uint32_t length = sizeof events;
    EXPECT_EQ(vxapi_async_event_get(fd, &rec, nullptr, &length, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_EQ(vxapi_async_event_get(fd, &rec, events, nullptr, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_EQ(vxapi_async_event_get(fd, nullptr, events, &length, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_EQ(vxapi_async_event_reg(fd, nullptr, 1, nullptr, nullptr), VX_RESULT_NOT_BUILT);
    EXPECT_TRUE(driver.log().empty());
    EXPECT_EQ(vxapi_async_event_reg(fd, &rec, 1, nullptr, nullptr), 0);
    EXPECT_EQ(driver.log().size(), 1u);
}

// A driver version with "vm" shows one port, unless the interface type is 3.
TEST_F(QueryTest, VmDriverVersionShowsOnePort) {
    struct Case {
        const char* name;
        std::string version;  // up to 128 bytes, without terminator when 128
        uint16_t interface_type;
        uint16_t port_count;
    };
    const Case cases[] = {
        {"vm, interface 2", "8.07.00-vm", 2, 1},
        {"vm, interface 0", "vm8.07", 0, 1},
        {"vm, interface 3", "8.07.00-vm", 3, 4},
        {"no vm", "8.07.00-v-m", 2, 4},
        {"vm behind the terminator", std::string("8.07\0vm", 7), 2, 4},
        {"vm at the end of an unterminated field", std::string(126, 'x') + "vm", 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXT_HBA_NODE node = sim::make_node_record(driver, *port);
        std::memset(node.DriverVersion, 0, sizeof node.DriverVersion);
        std::memcpy(node.DriverVersion, c.version.data(), c.version.size());
        node.InterfaceType = c.interface_type;
        node.PortCount = 4;
        port->set_record(EXT_CC_QUERY, 1, node);
        for (bool new_header : {true, false}) {
            vxapi_priv_database rec = record(new_header);
            EXT_HBA_NODE got{};
            uint32_t status = 99;
            ASSERT_EQ(vxapi_query_hbanode(fd, &rec, &got, &status), 0);
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(got.PortCount, c.port_count);
            EXPECT_EQ(got.InterfaceType, c.interface_type);
        }
    }
}

// A loop port that the driver gives without an address gets its AL_PA from
// the loop identifier, on the discovered-port and the target query alike.
TEST_F(QueryTest, LoopPortsGetTheirAlpa) {
    struct Case {
        const char* name;
        uint8_t id[4];
        uint16_t type;
        uint16_t loop_id;
        uint32_t status;  // the driver's
        uint8_t alpa;     // Id byte 3 as delivered
    };
    const Case cases[] = {
        {"loop id 0", {0, 0, 0, 0}, 0x2, 0, 0, 0xEF},
        {"loop id 1", {0, 0, 0, 0}, 0x0, 1, 0, 0xE8},
        {"loop id 125", {0, 0, 0, 0}, 0x2, 125, 0, 0x01},
        {"loop id 126", {0, 0, 0, 0}, 0x2, 126, 0, 0x00},
        {"byte 0 of Id does not count", {0x7F, 0, 0, 0}, 0x2, 0, 0, 0xEF},
        {"loop id 127", {0, 0, 0, 0}, 0x2, 127, 0, 0x00},
        {"no loop id", {0, 0, 0, 0}, 0x2, 0xFFFF, 0, 0x00},
        {"domain given", {0, 0x01, 0, 0}, 0x2, 0, 0, 0x00},
        {"area given", {0, 0, 0x01, 0}, 0x2, 0, 0, 0x00},
        {"AL_PA given", {0, 0, 0, 0x33}, 0x2, 0, 0, 0x33},
        {"type bit 0x8", {0, 0, 0, 0}, 0x8 | 0x2, 0, 0, 0x00},
        {"driver refused", {0, 0, 0, 0}, 0x2, 0, EXT_STATUS_ERR, 0x00},
        {"data underrun", {0, 0, 0, 0}, 0x2, 0, EXT_STATUS_DATA_UNDERRUN, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port->remote_ports.clear();
        sim::SimPort::RemotePort& r = sim::add_remote_port(*port);
        std::memcpy(r.port.Id, c.id, 4);
        r.port.Type = c.type;
        r.port.LoopID = c.loop_id;
        std::memcpy(r.target.Id, c.id, 4);
        r.target.Type = c.type;
        r.target.LoopID = c.loop_id;
        for (bool new_header : {true, false}) {
            vxapi_priv_database rec = record(new_header);
            EXT_DISC_PORT dp{};
            EXT_DISC_TARGET dt{};
            uint32_t status = 99;
            if (c.status != 0) driver.inject_status(c.status);
            ASSERT_EQ(vxapi_query_discport(fd, &rec, 0, &dp, &status), 0);
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(dp.Id[3], c.alpa);
            EXPECT_EQ(std::memcmp(dp.Id, c.id, 3), 0);
            EXPECT_EQ(dp.LoopID, c.loop_id);
            if (c.status != 0) driver.inject_status(c.status);
            ASSERT_EQ(vxapi_query_disctgt(fd, &rec, 0, &dt, &status), 0);
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(dt.Id[3], c.alpa);
            EXPECT_EQ(std::memcmp(dt.Id, c.id, 3), 0);
        }
    }

    // Every loop identifier has its own AL_PA, in the descending order of the
    // loop's priorities.
    port->remote_ports.clear();
    sim::SimPort::RemotePort& r = sim::add_remote_port(*port);
    std::memset(r.port.Id, 0, 4);
    vxapi_priv_database rec = record(true);
    int previous = 0x100;
    for (uint16_t loop_id = 0; loop_id < 127; ++loop_id) {
        r.port.LoopID = loop_id;
        EXT_DISC_PORT dp{};
        uint32_t status = 99;
        ASSERT_EQ(vxapi_query_discport(fd, &rec, 0, &dp, &status), 0);
        EXPECT_LT(dp.Id[3], previous) << "loop id " << loop_id;
        previous = dp.Id[3];
    }
    EXPECT_EQ(previous, 0);
}

// An event read stamps each delivered event with the port's host number at
// byte 8 and touches nothing else; the reader never goes past the bytes
// delivered or the buffer's size, whatever length the driver reports.
TEST_F(QueryTest, EventReadStampsTheDeliveredEvents) {
    for (bool new_header : {true, false}) {
        SCOPED_TRACE(new_header ? "new header" : "old header");
        vxapi_priv_database rec = record(new_header);
        host.clear_stderr();
        port->events = {sim::make_event(VX_AEN_LINK_UP), sim::make_event(VX_AEN_RSCN, 0x010203, 0x01),
                        sim::make_event(VX_AEN_LINK_DOWN)};
        port->events[1].Payload.RSCN.Rsvd_1 = 0x77777777;
        std::vector<uint8_t> buf(1024, 0xCC);
        uint32_t length = 1024;
        uint32_t status = 99;
        ASSERT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 0);
        EXPECT_EQ(status, 0u);
        ASSERT_EQ(length, 48u);
        EXT_ASYNC_EVENT got[3];
        std::memcpy(got, buf.data(), sizeof got);
        EXPECT_EQ(got[0].AsyncEventCode, VX_AEN_LINK_UP);
        EXPECT_EQ(got[1].AsyncEventCode, VX_AEN_RSCN);
        EXPECT_EQ(got[2].AsyncEventCode, VX_AEN_LINK_DOWN);
        for (const EXT_ASYNC_EVENT& e : got) EXPECT_EQ(e.Payload.RSCN.host_no, kHostNo);
        EXPECT_EQ(got[1].Payload.RSCN.RSCNInfo[0], 0x01);
        EXPECT_EQ(got[1].Payload.RSCN.RSCNInfo[2], 0x03);
        EXPECT_EQ(got[1].Payload.RSCN.AddrFormat, 0x01);
        EXPECT_EQ(got[1].Payload.RSCN.Rsvd_1, 0x77777777u);
        EXPECT_TRUE(std::all_of(buf.begin() + 48, buf.end(), [](uint8_t x) { return x == 0xCC; }));
        EXPECT_NE(host.stderr_text().find("vxapi_async_event_get: exiting normally. RspLen=48, stat = 0"),
                  std::string::npos);

        // An empty queue delivers nothing and stamps nothing.
        std::fill(buf.begin(), buf.end(), 0xCC);
        length = 1024;
        ASSERT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 0);
        EXPECT_EQ(length, 0u);
        EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t x) { return x == 0xCC; }));

        // Room for two and a half events: two arrive, the third waits.
        for (int i = 0; i < 3; ++i) port->events.push_back(sim::make_event(0x8060 + i));
        std::fill(buf.begin(), buf.end(), 0xCC);
        length = 40;
        ASSERT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 0);
        EXPECT_EQ(length, 32u);
        EXPECT_TRUE(std::all_of(buf.begin() + 32, buf.end(), [](uint8_t x) { return x == 0xCC; }));
        length = 1024;
        ASSERT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 0);
        EXPECT_EQ(length, 16u);
        std::memcpy(got, buf.data(), 16);
        EXPECT_EQ(got[0].AsyncEventCode, 0x8062u);

        // The driver claims 1000 bytes more than the 32 it could deliver.
        for (int i = 0; i < 4; ++i) port->events.push_back(sim::make_event(VX_AEN_LINK_UP));
        std::fill(buf.begin(), buf.end(), 0xCC);
        length = 32;
        driver.inject_overreport(1000);
        ASSERT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 0);
        EXPECT_EQ(length, 32u);
        EXPECT_TRUE(std::all_of(buf.begin() + 32, buf.end(), [](uint8_t x) { return x == 0xCC; }));
        port->events.clear();
    }
}

// Registration sets or clears the port's event flag by the caller's wish,
// whatever the driver answers; a sysfs port with a netlink socket registers
// without a request.
TEST_F(QueryTest, EventRegistration) {
    struct Case {
        const char* name;
        uint32_t features;
        uint32_t enable;
        uint32_t driver_status;
        int err;  // the ioctl fails with this errno
        bool sent;
        uint32_t features_after;
        uint32_t status;
        int result;
    };
    constexpr uint32_t N = VX_FEAT_NEW_IOCTL;
    constexpr uint32_t S = VX_FEAT_SYSFS;
    constexpr uint32_t A = VX_FEAT_AEN;
    const Case cases[] = {
        {"enable", N, 1, 0, 0, true, N | A, 0, 0},
        {"enable, old header", 0, 1, 0, 0, true, A, 0, 0},
        {"enable, driver refuses", N, 1, EXT_STATUS_ERR, 0, true, N | A, EXT_STATUS_ERR, 0},
        {"enable, ioctl fails", N, 1, 0, EIO, true, N | A, 0, -1},
        {"disable, driver refuses", N | A, 0, EXT_STATUS_ERR, 0, true, N, EXT_STATUS_ERR, 0},
        {"disable", A, 0, 0, 0, true, 0, 0, 0},
        {"sysfs, vendor socket", S | 0x200, 1, 0, 0, false, S | 0x200 | A, 0, 0},
        {"sysfs, scsi_fc socket", S | 0x400, 1, 0, 0, false, S | 0x400 | A, 0, 0},
        {"sysfs, both sockets, disable", S | 0x600 | A, 0, 0, 0, false, S | 0x600, 0, 0},
        {"sysfs without netlink", S | N, 1, 0, 0, true, S | N | A, 0, 0},
    };
    port->aen_buf_len = 0x1234;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver.clear_log();
        port->aen_enabled = 99;
        vxapi_priv_database rec = record(false);
        rec.features = c.features;
        if (c.driver_status != 0) driver.inject_status(c.driver_status);
        if (c.err != 0) driver.inject_errno(c.err);
        uint32_t buf_len = 0xDEAD;
        uint32_t status = 0xDEAD;
        errno = 0;
        EXPECT_EQ(vxapi_async_event_reg(fd, &rec, c.enable, &buf_len, &status), c.result);
        if (c.err != 0) {
                EXPECT_EQ(errno, c.err);
            }
        EXPECT_EQ(rec.features, c.features_after);
        EXPECT_EQ(status, c.status);
        const auto log = driver.log();
        ASSERT_EQ(log.size(), c.sent ? 1u : 0u);
        if (!c.sent) {
            EXPECT_EQ(buf_len, 0xDEADu);
            continue;
        }
        EXPECT_EQ(log[0].command, EXT_CC_REG_AEN);
        EXPECT_EQ(log[0].request_len, 8u);
        EXPECT_EQ(log[0].response_len, 0u);
        if (c.err == 0) {
            EXPECT_EQ(port->aen_enabled, c.enable);
            EXPECT_EQ(buf_len, 0x1234u);  // as the driver left it, refusal or not
        } else {
            EXPECT_EQ(buf_len, 0u);  // nothing came back
        }
    }
}

// A sysfs port reads its events through the netlink readers, never through
// the ioctl. Until the sockets exist the readers fail: result 1, status 0,
// nothing delivered and the buffer untouched; the vendor log is not given up.
TEST_F(QueryTest, SysfsPortReadsEventsThroughNetlink) {
    const uint32_t features[] = {
        VX_FEAT_SYSFS,
        VX_FEAT_SYSFS | VX_FEAT_NL_VENDOR,
        VX_FEAT_SYSFS | VX_FEAT_NL_SCSI_FC,
        VX_FEAT_SYSFS | VX_FEAT_NL_VENDOR | VX_FEAT_NL_SCSI_FC,
        VX_FEAT_SYSFS | VX_FEAT_NL_VENDOR | VX_FEAT_NL_SCSI_FC | VX_FEAT_NL_SCSI_FC_ONLY,
    };
    port->events.push_back(sim::make_event(VX_AEN_LINK_UP));
    for (uint32_t f : features) {
        SCOPED_TRACE(f);
        vxapi_priv_database rec = record(true, f);
        std::vector<uint8_t> buf(1024, 0xCC);
        uint32_t length = 1024;
        uint32_t status = 99;
        EXPECT_EQ(vxapi_async_event_get(fd, &rec, buf.data(), &length, &status), 1);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(rec.features, f | VX_FEAT_NEW_IOCTL);
        EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t x) { return x == 0xCC; }));
    }
    EXPECT_TRUE(driver.log().empty());
    EXPECT_EQ(port->events.size(), 1u);
}

// The WWPN to SCSI address answer starts zeroed: a driver that knows no such
// port leaves no stale address behind.
TEST_F(QueryTest, ScsiAddressStartsZeroed) {
    sim::add_remote_port(*port, false);
    const sim::SimPort::RemotePort target = sim::add_remote_port(*port);
    for (bool new_header : {true, false}) {
        vxapi_priv_database rec = record(new_header);
        EXT_SCSI_ADDR addr;
        std::memset(&addr, 0xFF, sizeof addr);
        uint32_t status = 99;
        uint8_t unknown[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
        ASSERT_EQ(vxapi_wwpn_to_scsiaddr(fd, &rec, unknown, 8, &addr, &status), 0);
        EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
        const EXT_SCSI_ADDR zero{};
        EXPECT_EQ(std::memcmp(&addr, &zero, sizeof addr), 0);

        ASSERT_EQ(vxapi_wwpn_to_scsiaddr(fd, &rec, target.port.WWPN, 8, &addr, &status), 0);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(addr.Target, target.scsi_addr.Target);
    }
}

// The simulated port answers every query with records derived from itself:
// what discovery and the management API will build on.
TEST_F(QueryTest, SimulatedPortAnswersThroughTheWorkers) {
    sim::SimAdapter& adapter = driver.adapters[0];
    adapter.vendor_id = 0x1077;
    adapter.device_id = 0x2031;
    sim::SimPort& second = sim::add_query_port(driver, adapter);
    sim::set_query_records(driver, second);
    const sim::SimPort::RemotePort t0 = sim::add_remote_port(second);
    const sim::SimPort::RemotePort initiator = sim::add_remote_port(second, false);
    const sim::SimPort::RemotePort t1 = sim::add_remote_port(second);
    second.remote_ports[2].stats.TotalLinkFailures = 42;

    vxapi_priv_database rec = record(true);
    rec.drvr_inst = second.instance;
    uint32_t status = 99;

    EXT_HBA_NODE node{};
    ASSERT_EQ(vxapi_query_hbanode(fd, &rec, &node, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(node.PortCount, 2);
    const sim::Wwn wwnn = sim::default_wwnn(driver, second);
    EXPECT_EQ(std::memcmp(node.WWNN, wwnn.data(), 8), 0);

    EXT_HBA_PORT hp{};
    ASSERT_EQ(vxapi_query_hbaport(fd, &rec, &hp, &status), 0);
    EXPECT_EQ(hp.DiscPortCount, 3);
    EXPECT_EQ(hp.DiscTargetCount, 2);
    const sim::Wwn wwpn = sim::default_wwpn(driver, second);
    EXPECT_EQ(std::memcmp(hp.WWPN, wwpn.data(), 8), 0);
    EXPECT_NE(sim::default_wwpn(driver, *port), wwpn);

    EXT_CHIP chip{};
    ASSERT_EQ(vxapi_query_chip(fd, &rec, &chip, &status), 0);
    EXPECT_EQ(chip.VendorId, 0x1077);
    EXPECT_EQ(chip.DeviceId, 0x2031);
    EXPECT_EQ(chip.PciBusNumber, second.pci_bus);
    EXPECT_EQ(chip.PciDevFunc, second.pci_dev_func);

    // Remote ports by index, targets by their own index.
    EXT_DISC_PORT dp{};
    ASSERT_EQ(vxapi_query_discport(fd, &rec, 1, &dp, &status), 0);
    EXPECT_EQ(std::memcmp(dp.WWPN, initiator.port.WWPN, 8), 0);
    ASSERT_EQ(vxapi_query_discport(fd, &rec, 3, &dp, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
    EXT_DISC_TARGET dt{};
    ASSERT_EQ(vxapi_query_disctgt(fd, &rec, 1, &dt, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(std::memcmp(dt.WWPN, t1.port.WWPN, 8), 0);
    EXPECT_EQ(dt.TargetId, 1);

    // Statistics of a remote port by its name.
    uint8_t dest[16] = {};
    std::memcpy(dest, t1.port.WWPN, 8);
    EXT_HBA_PORT_STAT stats{};
    uint32_t detail = 99;
    ASSERT_EQ(vxapi_get_port_statistics(fd, &rec, dest, &stats, &status, &detail), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(stats.TotalLinkFailures, 42u);

    // The summary lists the targets that fit and counts them all.
    std::vector<uint8_t> summary(8 + 172 + 100, 0);
    const uint32_t type = 0x1;
    ASSERT_EQ(vxapi_get_port_summary(fd, &rec, &type, summary.data(), 8 + 172 + 100, &status, &detail), 0);
    EXT_DEVICEDATA head;
    std::memcpy(&head, summary.data(), sizeof head);
    EXPECT_EQ(head.TotalDevices, 2u);
    EXPECT_EQ(head.ReturnListEntryCount, 1u);
    EXT_DEVICEDATAENTRY entry;
    std::memcpy(&entry, summary.data() + 8, sizeof entry);
    EXPECT_EQ(std::memcmp(entry.PortWWN, t0.port.WWPN, 8), 0);

    // The first port saw none of this.
    rec.drvr_inst = port->instance;
    ASSERT_EQ(vxapi_query_discport(fd, &rec, 0, &dp, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
}

// A raw flash read is sent only for a length that fits the buffer.
TEST_F(QueryTest, FlashReadChecksItsArguments) {
    const std::vector<uint8_t> flash = pattern(0x2000, 3);
    driver.on(EXT_CC_READ_OPTROM, 0xFFFF, [&](const sim::SimRequest& r) {
        sim::SimReply reply;
        reply.response.assign(flash.begin() + r.reserved1, flash.begin() + r.reserved1 + r.response_capacity);
        return reply;
    });
    struct Case {
        const char* name;
        bool buffer;
        uint32_t length;
        uint32_t size;
        bool sent;
    };
    const Case cases[] = {
        {"fits", true, 0x100, 0x100, true},
        {"smaller than the buffer", true, 0x80, 0x100, true},
        {"longer than the buffer", true, 0x101, 0x100, false},
        {"no length", true, 0, 0x100, false},
        {"no size", true, 0x100, 0, false},
        {"no buffer", false, 0x100, 0x100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool new_header : {true, false}) {
            driver.clear_log();
            vxapi_priv_database rec = record(new_header);
            std::vector<uint8_t> buf(0x200, 0);
            vxapi_read_flash(fd, &rec, 0x1000, c.length, c.buffer ? buf.data() : nullptr, c.size);
            const auto log = driver.log();
            ASSERT_EQ(log.size(), c.sent ? 1u : 0u);
            if (!c.sent) {
                EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t x) { return x == 0; }));
                continue;
            }
            EXPECT_EQ(log[0].sub_code, 0xFFFF);
            EXPECT_EQ(log[0].reserved1, 0x1000u);
            EXPECT_EQ(log[0].request_len, c.length);
            EXPECT_EQ(log[0].response_len, c.length);
            EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + c.length, flash.begin() + 0x1000));
            EXPECT_TRUE(std::all_of(buf.begin() + c.length, buf.end(), [](uint8_t x) { return x == 0; }));
        }
    }
}

}  // namespace

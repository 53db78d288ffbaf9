// The management vendor commands over bsg: request words, data of each direction, replies and statuses.
#include <new>

#include "sim_mgmt_bsg.h"
#include "test_support.h"
#include "transport/vx_sysfs_mgmt.h"
#include "transport/vx_sysfs_mgmt_bsg.h"
#include "transport/vx_sysfs_prim.h"

namespace {
bool g_refuse_new = false;  // the next nothrow array allocation fails
uint64_t addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }
}  // namespace

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return std::exchange(g_refuse_new, false) ? nullptr : ::operator new[](n);
}

#define CALL(expr) [&](uint32_t* st) { return expr; }

// sent: the request from vendor_cmd word 0 on, then the reply length, data out and its length, data in and its
// length (none: nothing sent); fault: the errno of the SG_IO, or -1 when allocation fails. errno starts at ENOSYS.
TEST(MgmtBsg, CommandsWordsDataRepliesAndStatuses) {
    std::strcpy(sysfs_mnt_path, "/sys");
    sim::SimBsg bsg;
    sim::SimHost host;
    bsg.attach(host, sim::install_sysfs_adapters(host, {{sim::sysfs_adapter(0x2532, {5})}}));
    sim::SimMgmtBsg drv{{0x4005, 1, 2, 3}, 0x72, 0x13};
    std::tie(drv.mailbox[18], drv.mailbox[19]) = std::tuple(5, 1);
    drv.serve(bsg);
    vxapi_priv_database rec{}, *r = &rec;
    rec.host_no = 5;
    sim::Bytes tx(64), rx(64), data(16);
    const uint64_t t = addr(tx.data()), x = addr(rx.data()), d = addr(data.data());
    INT_LOOPBACK_REQ q{3, 999, 7, t, 64, {}};
    INT_LOOPBACK_RSP s{x, 64, 0, 0, 0, 0, 0, 0, 0, {}};
    TARNO_RESET reset[2] = {{1, 0}, {2, 0}};
    TARNO_UPDATE_FW fw{8, 0, 64, tx.data()};
    TARNO_MANAGE_INFO mg[2] = {{2, 0, {{{5, 1, 0}}}, 16, data.data()}, {9, 0, {{{4096, 1, 1}}}, 16, data.data()}};
    const EXT_DEST_ADDR wwpn{{{0x21, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1}}, VX_DEST_WWPN, 0, {}};
    INT_PORT_PARAM pp[3] = {{wwpn, 1, 0x16}, {wwpn, 1, 0x20}, {wwpn, 0, 0}};
    const auto speed = [](uint64_t w) { return std::vector<uint64_t>{5, 0, 0xAA000021, 0x0100CCBB, 2, 0, w, 36, 0, 0, 0, 0}; };
    const struct {
        const char* what;
        std::function<int(uint32_t*)> call;
        uint32_t status;
        std::vector<uint64_t> sent = {};
        int fault = 0;
    } rows[] = {
        {"loopback", CALL(vxsysfs_bsg_loopback_test(0, r, &q, 40, &s, 40, st)), 0, {1, 3, 7, 81, t, 64, x, 64}},
        {"loopback, no memory", CALL(vxsysfs_bsg_loopback_test(0, r, &q, 40, &s, 40, st)), 9, {}, -1},
        {"reset 1", CALL(vxsysfs_bsg_tarno_reset(0, r, &reset[0], st)), 0, {2, 4, 16, 0, 0, 0, 0}},
        {"reset 2, EIO", CALL(vxsysfs_bsg_tarno_reset(0, r, &reset[1], st)), 1, {2, 3, 16, 0, 0, 0, 0}, EIO},
        {"update", CALL(vxsysfs_bsg_tarno_updatefw(0, r, &fw, st)), 0, {3, 6, 16, t, 64, 0, 0}},
        {"config", CALL(vxsysfs_bsg_tarno_mgmt(0, r, &mg[0], st)), 0, {4, 0, 2, 5, 1, 0, 16, 16, d, 16, d, 16}},
        {"op 9: only len", CALL(vxsysfs_bsg_tarno_mgmt(0, r, &mg[1], st)), 0, {4, 0, 0, 0, 0, 0, 16, 16, d, 16, d, 16}},
        {"speed 0x16", CALL(vxsysfs_bsg_port_param(0, r, &pp[0], 20, st)), 0, speed(0x50001)},
        {"speed 0x20", CALL(vxsysfs_bsg_port_param(0, r, &pp[1], 20, st)), 6},
        {"speed get", CALL(vxsysfs_bsg_port_param(0, r, &pp[2], 20, st)), 0, speed(0)},
        {"qos on", CALL(vxsysfs_bsg_qos_enable_disable(r, 1, st)), 0, {6, 1, 1, 0, 0, 0, 0, 0}},
        {"qos, no memory", CALL(vxsysfs_bsg_qos_enable_disable(r, 0, st)), 17, {}, -1},
        {"qos get", CALL(vxsysfs_bsg_qos_get_config(r, data.data(), 16, st)), 0, {6, 2, 1, 0, d, 16, d, 16}},
        {"qos set, ENOSYS", CALL(vxsysfs_bsg_qos_set_config(r, data.data(), 16, st)), 20, {6, 3, 1, 0, d, 16, 0, 0},
         ENOSYS},
        {"diag 1", CALL(vxsysfs_bsg_set_reset_diag_mode(0, r, 1, st)), 0, {9, 1, 0, 0, 0, 0, 0}},
        {"diag 2", CALL(vxsysfs_bsg_set_reset_diag_mode(0, r, 2, st)), 9},
    };
    for (const auto& c : rows) {
        SCOPED_TRACE(c.what);
        bsg.log.clear(), bsg.errnos.assign(c.fault > 0 ? 1 : 0, c.fault);
        std::tie(g_refuse_new, errno) = std::tuple(c.fault < 0, ENOSYS);
        uint32_t st = 0xFF;
        EXPECT_EQ(std::tuple(c.call(&st), st), std::tuple(c.status == 0 ? 0 : 1, c.status));
        ASSERT_EQ(bsg.log.size(), c.sent.empty() ? 0u : 1u);
        if (c.sent.empty()) continue;
        const sg_io_v4& h = bsg.log[0].hdr;
        std::vector<uint32_t> words((h.request_len - 12) / 4);
        std::memcpy(words.data(), bsg.log[0].request.data() + 12, words.size() * 4);
        std::vector<uint64_t> sent(words.begin(), words.end());
        sent.insert(sent.end(), {h.max_response_len, h.dout_xferp, h.dout_xfer_len, h.din_xferp, h.din_xfer_len});
        EXPECT_EQ(sent, c.sent);
    }
    EXPECT_EQ(std::vector<uint32_t>({s.CompletionStatus, s.CrcErrorCount, s.DisparityErrorCount,
                                     s.FrameLengthErrorCount, s.IterationCountLastError, s.CommandSent, pp[2].Speed}),
              std::vector<uint32_t>({0x4005, 1, 2, 3, 0x10005, 0x72, 0x10}));  // the reply's 0x13 is speed 0x10
    sysfs_mnt_path[0] = '\0';
}

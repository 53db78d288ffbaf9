// The netlink vendor commands against the simulated driver's side of them.
#include <array>
#include <functional>

#include "core/vx_load.h"
#include "core/vx_port_speed.h"
#include "sim_nl_vendor.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"
#include "transport/vx_nl_vendor.h"

namespace {

using sim::Bytes;
using sim::NlFault;
using Call = std::function<int(uint32_t*)>;

constexpr uint32_t kLeft = 0xEE;  // a status the command leaves alone
constexpr uint64_t kWwpn = 0x1122334455667788;

struct NlVendorTest : ::testing::Test {
    void SetUp() override {
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        ASSERT_GE(gnl_fd = vxapi_nl_open(), 0);
        sim::serve_vendor_commands(nl, 5, drv);
        drv.speeds[kWwpn] = 0x04;
    }
    ~NlVendorTest() override { vxapi_nl_close_sockets(); }
    // n bytes of the last request's body.
    Bytes sent(size_t n) const { return sim::bytes_of(nl.requests().back().body(), n); }
    static INT_PORT_PARAM port(uint16_t mode, uint16_t speed, uint16_t type = VX_DEST_WWPN) {
        INT_PORT_PARAM p{{{}, type, 0, {}}, mode, speed};
        std::memcpy(p.FCScsiAddr.DestAddr.WWPN, &kWwpn, 8);
        return p;
    }
    template <class T>
    static Bytes bytes(const T& record) { return sim::bytes_of(&record, sizeof record); }
    // command(gnl_fd, 5, args..., status) as a call that takes the status.
    template <class F, class... A>
    static Call on5(F command, A... args) {
        return [=](uint32_t* s) { return command(gnl_fd, 5, args..., s); };
    }

    sysfstest::SysfsRig rig{0x2532};
    sim::SimNetlink& nl = rig.host.netlink();
    sim::NlVendorHost drv;
    uint32_t status = kLeft;
};

// Each single-message command: its message, the body it sends, what it reads, and its status when the driver
// refuses it (1 where the command presets it, else left) or has no netlink service (20).
TEST_F(NlVendorTest, SingleMessageCommands) {
    Bytes cfg = sim::pattern(10, 3), got(10), info(4), none(4, 0xCC);
    vxa_image_version_list fru{1, {{{1, 0xA0, 0x2000}, {'v', '1'}}}};
    vxa_status_reg reg{{1, 0xE0, 0x2000}, 0x10, {}}, reg_back{};
    vxa_serdes_reg sd{VXA_SERDES_WRITE, 0x40, 0xBEEF}, sd_read{VXA_SERDES_READ, 0x40, 7};
    vxa_serdes_reg_ex sdx{VXA_SERDES_WRITE, 0x40000, 0xCAFEF00D}, sdx_read{VXA_SERDES_READ, 0x40000, 7};
    INT_PORT_PARAM set = port(1, 0x16), get = port(0, 0x32);
    TARNO_MANAGE_INFO config{TARNO_MGMT_CHANGE_CONFIG, 0, {{{7, 8, 9}}}, 0, nullptr};
    TARNO_MANAGE_INFO get_info{TARNO_MGMT_GET_INFO, 0, {{{0x100, 2, 0}}}, 4, info.data()};
    TARNO_MANAGE_INFO other{7, 0, {{{0x100, 2, 3}}}, 4, none.data()};
    std::copy_n(sim::pattern(4, 1).begin(), 4, drv.memory.begin() + 0x100);
    const vxa_port_param speed_get{{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}, 2, 0, {}, 0, 0};
    const struct { const char* name; uint32_t cmd, length; bool preset; Call call; Bytes body;
                   std::function<bool()> done = [] { return true; }; } cases[] = {
        {"reset", 1, 2096, true, on5(vxapi_nl_84xx_reset, 1), {1, 0, 0, 0}},
        {"configure", 3, 18480, true, on5(vxapi_nl_84xx_mgmt, &config),
         bytes(vxa84_msg_mgmt{2, 0, {.config = {7, 8, 9}}, 0})},
        {"information", 3, 18480, true, on5(vxapi_nl_84xx_mgmt, &get_info),
         bytes(vxa84_msg_mgmt{3, 0, {.config = {0x100, 2, 0}}, 4}), [&] { return info == sim::pattern(4, 1); }},
        {"unknown operation", 3, 18480, true, on5(vxapi_nl_84xx_mgmt, &other), Bytes(20),
         [&] { return none == Bytes(4, 0xCC); }},
        {"speed set", 7, 2096, false, on5(vxapi_nl_port_param, &set, 20), {}, [&] { return drv.speeds[kWwpn] == 5; }},
        {"speed get", 7, 2096, false, on5(vxapi_nl_port_param, &get, 20), bytes(speed_get),
         [&] { return get.Speed == 0x16; }},
        {"qos on", 8, 2096, true, on5(vxapi_nl_enable_disable_qos, 1), {1, 1, 0, 0, 0, 0, 0, 0}},
        {"qos set", 8, 2108, true, on5(vxapi_nl_set_qos_config, cfg.data(), 10), {1, 3, 0, 0, 10, 0, 0, 0},
         [&] { return drv.prio_cfg == cfg; }},
        {"qos get", 8, 2096, true, on5(vxapi_nl_get_qos_config, got.data(), 10), {1, 2, 0, 0, 10, 0, 0, 0},
         [&] { return got == cfg; }},
        {"diag", 9, 2096, true, on5(vxapi_nl_set_reset_diag_mode, 1), {1, 0, 0, 0}},
        {"fru versions", 11, 2144, false, on5(vxapi_nl_update_fru_versions, &fru, 46), sim::bytes_of(&fru, 46)},
        {"fru write", 13, 2112, false, on5(vxapi_nl_fru_status, &reg, 14, 13), bytes(reg)},
        {"fru read", 12, 2112, false, on5(vxapi_nl_fru_status, &reg_back, 14, 12), {},
         [&] { return bytes(reg_back) == bytes(reg); }},
        {"serdes write", 19, 2096, false, on5(vxapi_nl_serdes_reg_ops, &sd), bytes(sd)},
        {"serdes read", 19, 2096, false, on5(vxapi_nl_serdes_reg_ops, &sd_read), bytes(vxa_serdes_reg{1, 0x40, 0}),
         [&] { return sd_read.val == 0xBEEF; }},
        {"serdes ex write", 20, 2096, false, on5(vxapi_nl_serdes_reg_ops_ex, &sdx), bytes(sdx)},
        {"serdes ex read", 20, 2096, false, on5(vxapi_nl_serdes_reg_ops_ex, &sdx_read),
         bytes(vxa_serdes_reg_ex{1, 0x40000, 0}), [&] { return sdx_read.val == 0xCAFEF00D; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(&status) + status, 0u);
        EXPECT_TRUE(c.done());
        EXPECT_EQ(std::tuple(nl.requests().back().cmd, nl.requests().back().message.size(), sent(c.body.size())),
                  std::tuple(c.cmd, size_t{c.length}, c.body));
        for (const NlFault& f : {NlFault{NlFault::Error, 3, {}}, NlFault{NlFault::NlError, -19, {}}}) {
            nl.fault(f);
            status = kLeft;
            EXPECT_EQ(c.call(&status), 1);
            EXPECT_EQ(status, f.kind == NlFault::NlError ? 20u : c.preset ? 1u : kLeft);
        }
    }
}

// Chunked transfers: pieces at their offsets; a failing piece ends the call and the pieces before it stay
// delivered.
TEST_F(NlVendorTest, Chunking) {
    // i2c: 150 bytes at 0x10, the second piece unanswered (write) or refused (read); the status is the first piece's.
    Bytes data = sim::pattern(150, 1), back(150, 0xCC), first(150, 0);
    std::copy_n(data.begin(), 64, first.begin());
    for (const NlFault& f : {NlFault{}, NlFault{NlFault::NoReply, 0, {}}, NlFault{}, NlFault{NlFault::Error, 3, {}}})
        nl.fault(f);
    EXPECT_EQ(vxapi_nl_set_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, data.data(), &status), 1);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(Bytes(drv.i2c[0xA0].begin() + 0x10, drv.i2c[0xA0].begin() + 0xA6), first);
    EXPECT_EQ(vxapi_nl_get_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, back.data(), &status), 1);
    std::fill(first.begin() + 64, first.end(), 0xCC);
    EXPECT_EQ(back, first);
    EXPECT_EQ(vxapi_nl_set_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, data.data(), &status), 0);
    EXPECT_EQ(vxapi_nl_get_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 150, back.data(), &status), 0);
    EXPECT_EQ(back, data);
    EXPECT_EQ(vxapi_nl_get_i2c(gnl_fd, 5, 0xA0, 0x10, 0, 0, back.data(), &status), 0);

    // A diagnostic Tarno image of 0x10001 bytes: two messages, fw_len 0x10001 in both.
    Bytes image = sim::pattern(0x10001, 5);
    TARNO_UPDATE_FW fw{TARNO_UPDATE_DIAG_FW, 0, 0x10001, image.data()};
    EXPECT_EQ(vxapi_nl_84xx_updatefw(gnl_fd, 5, &fw, &status), 0);
    EXPECT_EQ(drv.image, image);

    // Loopback of 0x18000 bytes: the results come from the second send reply.
    Bytes tx = sim::pattern(0x18000, 9), rx(0x18000);
    INT_LOOPBACK_REQ req{0, 0x18000, 1, vxapi_ptr_to_64bit(tx.data()), 0x18000, {}};
    INT_LOOPBACK_RSP rsp{vxapi_ptr_to_64bit(rx.data()), 0x18000, 0, 0, 0, 0, 0, 0, 0, {}};
    EXPECT_EQ(vxapi_nl_loopback_test(gnl_fd, 5, &req, 40, &rsp, 40, &status) + status, 0u);
    EXPECT_EQ(rx, tx);
    EXPECT_EQ(std::tuple(rsp.CrcErrorCount, rsp.CommandSent), std::tuple(2, 0x0A));

    // Each piece: command, message length, then the body's offset and length.
    std::vector<std::array<uint32_t, 4>> pieces;
    for (const sim::NlRequest& r : nl.requests()) {
        std::array<uint32_t, 4> p{r.cmd, static_cast<uint32_t>(r.message.size()), 0, 0};
        const auto* a = reinterpret_cast<const vxa_i2c_access*>(r.body());
        const auto* l = reinterpret_cast<const msg_loopback*>(r.body());
        if (r.cmd == 2) std::memcpy(&p[2], r.body() + 4, 8);
        if (r.cmd == 5 || r.cmd == 6) p[2] = l->offset, p[3] = l->len;
        if (r.cmd == 16 || r.cmd == 17) p[2] = a->offset, p[3] = a->length;
        pieces.push_back(p);
    }
    const std::vector<std::array<uint32_t, 4>> want = {
        {16, 2168, 0x10, 64}, {16, 2168, 0x50, 64}, {17, 2168, 0x10, 64}, {17, 2168, 0x50, 64},
        {16, 2168, 0x10, 64}, {16, 2168, 0x50, 64}, {16, 2168, 0x90, 22}, {17, 2168, 0x10, 64},
        {17, 2168, 0x50, 64}, {17, 2168, 0x90, 22}, {17, 2168, 0x10, 0}, {2, 67632, 0, 0x10000},
        {2, 2100, 0x10000, 1}, {5, 67632, 0, 0x10000}, {5, 34864, 0x10000, 0x8000}, {6, 67632, 0, 0x10000},
        {6, 34864, 0x10000, 0x8000}};
    EXPECT_EQ(pieces, want);
    EXPECT_FALSE(nl.overlapped());
}

// Refused before anything is sent (status 6): data beyond the message or the caller's buffers, and parameters out
// of range. Tarno data at the limits fit (a buffer overrun would stop the test under the address sanitizer).
TEST_F(NlVendorTest, RefusedUnsent) {
    Bytes big = sim::pattern(0x20000, 4), back(0x20000);
    const uint64_t at = vxapi_ptr_to_64bit(big.data());
    constexpr uint32_t kOver = 0x20000 - 2096 + 1;
    TARNO_MANAGE_INFO write{TARNO_MGMT_WRITE_MEM, 0, {}, 18417, big.data()};
    TARNO_MANAGE_INFO read{TARNO_MGMT_READ_MEM, 0, {}, 67577, back.data()}, config{2, 0, {}, 67577, nullptr};
    INT_LOOPBACK_REQ req{0, 0, 1, at, 0, {}};
    INT_LOOPBACK_RSP rsp{at, 0, 0, 0, 0, 0, 0, 0, 0, {}};
    INT_PORT_PARAM by_node = port(0, 0, VX_DEST_WWNN), bad_speed = port(1, 0x20);
    auto loopback = [&](uint32_t count, uint32_t tx_len, uint32_t rx_len) -> Call {
        return [=, &req, &rsp](uint32_t* s) {
            req.TransferCount = count, req.BufferLength = tx_len, rsp.BufferLength = rx_len;
            return vxapi_nl_loopback_test(gnl_fd, 5, &req, 40, &rsp, 40, s);
        };
    };
    const std::pair<const char*, Call> cases[] = {
        {"write 18,417", on5(vxapi_nl_84xx_mgmt, &write)},
        {"read 67,577", on5(vxapi_nl_84xx_mgmt, &read)},
        {"configure 67,577", on5(vxapi_nl_84xx_mgmt, &config)},
        {"loopback beyond tx", loopback(0x101, 0x100, 0x200)},
        {"loopback rx below tx", loopback(0x10, 0x200, 0x100)},
        {"loopback of 0", loopback(0, 0x100, 0x100)},
        {"qos set", on5(vxapi_nl_set_qos_config, big.data(), kOver)},
        {"qos get", on5(vxapi_nl_get_qos_config, back.data(), kOver)},
        {"fru versions", on5(vxapi_nl_update_fru_versions, big.data(), kOver)},
        {"fru status", on5(vxapi_nl_fru_status, big.data(), kOver, 12)},
        {"speed by node name", on5(vxapi_nl_port_param, &by_node, 20)},
        {"speed 0x20", on5(vxapi_nl_port_param, &bad_speed, 20)},
    };
    for (const auto& [name, call] : cases) {
        status = kLeft;
        EXPECT_EQ(std::tuple(call(&status), status), std::tuple(1, 6u)) << name;
    }
    // Diagnostic modes other than 0 and 1 fail with status 1.
    EXPECT_EQ(std::tuple(vxapi_nl_set_reset_diag_mode(gnl_fd, 5, 2, &status), status), std::tuple(1, 1u));
    EXPECT_TRUE(nl.requests().empty());

    write.TotalByteCount = 18416, read.TotalByteCount = 67576;
    EXPECT_EQ(vxapi_nl_84xx_mgmt(gnl_fd, 5, &write, &status), 0);
    EXPECT_EQ(vxapi_nl_84xx_mgmt(gnl_fd, 5, &read, &status), 0);
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + 18416, back.begin()));
}

// Library speeds and driver codes, both ways; a code with no speed reads 0xFFFF.
TEST_F(NlVendorTest, SpeedCodesBothWays) {
    const std::pair<uint16_t, uint16_t> table[] = {{0x01, 0x00}, {0x02, 0x01}, {0x04, 0x03}, {0x08, 0x04},
                                                   {0x10, 0x13}, {0x16, 0x05}, {0x32, 0x06}, {0xFFFF, 0x02}};
    for (const auto& [speed, code] : table) {
        INT_PORT_PARAM p = port(1, speed);
        drv.speeds[kWwpn] = 0x42;
        EXPECT_EQ(vxapi_nl_port_param(gnl_fd, 5, &p, 20, &status), speed == 0xFFFF ? 1 : 0);
        EXPECT_EQ(drv.speeds[kWwpn], speed == 0xFFFF ? 0x42 : code);
        drv.speeds[kWwpn] = code;
        p = port(0, 0);
        EXPECT_EQ(vxapi_nl_port_param(gnl_fd, 5, &p, 20, &status), 0);
        EXPECT_EQ(p.Speed, speed);
    }
}

}  // namespace

// Transceiver, i2c, dump, port speed and Tarno workers: the road each takes by the port's transports, the driver
// forms of Tarno requests, i2c pieces and dump lengths on the driver road.
#include "core/vx_load.h"
#include "sim_nl_vendor.h"
#include "sim_side.h"
#include "road_rig.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
using R = vxapi_priv_database*;
using Cell = std::tuple<int, uint32_t, std::string>;  // result, status, what was sent
constexpr uint32_t kU = 0xDEAD;
using roadtest::Kind, roadtest::kIoctl, roadtest::kBsg, roadtest::kNetlink, roadtest::kNeither;
const INT_PORT_PARAM kParam{{{{0x21, 0, 0, 0, 0, 0, 0, 9}}, VX_DEST_WWPN, 0, {}}, 0, 1};  // get; the driver's answer

// Host 5 as a sysfs-mode port ("sfp", bsg node, netlink service with the remote port's speed) and driver instance
// 0 (canned SFP, dump and speed); i2c device 0xA0 behind the driver and bsg.
struct SideTest : ::testing::Test {
    SideTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        host.set_attr(fabric.host_dirs[5] + "/sfp", sim::bytes_attr(std::make_shared<std::string>(512, 'x')));
        bsg.attach(host, fabric), i2c.attach(bsg), driver.attach(host), side.attach(driver);
        driver.add_port(driver.add_adapter()).records = {{{EXT_CC_GET_SFP_DATA, 0}, Bytes(512)},
            {{EXT_CC_GET_FW_DUMP, 0}, Bytes(300)}, {{EXT_CC_PORT_PARAM, 0}, sim::bytes_of(&kParam, 20)}};
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        gnl_fd = vxapi_nl_open();
        sim::serve_vendor_commands(nl, 5, vendor);
        std::memcpy(&remote, kParam.FCScsiAddr.DestAddr.WWPN, 8);
        vendor.speeds[remote] = 0;
    }
    ~SideTest() override { vxapi_nl_close_sockets(), vx::sys().close(fd), sysfs_mnt_path[0] = '\0'; }
    vxapi_priv_database record(Kind k) const { return roadtest::record(fabric, k); }
    // Driver requests, bsg vendor commands and netlink commands since the last look.
    std::string sent() { return roadtest::sent(driver, bsg, nl, nl_seen); }

    sim::SimI2c i2c;
    sim::SimBsg bsg;
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimSide side{i2c};
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, {{sim::sysfs_adapter(0x2532, {5})}});
    sim::SimNetlink& nl = host.netlink();
    int fd = -1;
    sim::NlVendorHost vendor;
    uint64_t remote = 0;
    size_t nl_seen = 0;
};

// Per row the four kinds of port: driver, sysfs with bsg (whose driver has no vendor commands but i2c: 20),
// sysfs with netlink only, sysfs with neither (no dump size file: 1 and 9; the Tarno files are absent).
// Operation 5 is refused everywhere.
TEST_F(SideTest, EachWorkerOnEachKindOfPort) {
    Bytes buf(512), image = sim::pattern(16, 8);
    uint32_t size = 512;
    INT_PORT_PARAM pp = kParam;
    SD_TARNO_MGT t[6] = {};
    t[3].sp.TarnoUpdateFw = {0, 0, 16, image.data()};
    t[4].sp.TarnoManageInfo = {TARNO_MGMT_WRITE_MEM, 0, {{{4, 0, 0}}}, 16, image.data()};
    std::tie(side.tarno_memory, i2c.memory[0xA0]) = std::tuple(Bytes(64), Bytes(256));
    using Call = std::function<int(R, uint32_t*)>;
    const auto tarno = [&](uint16_t op) {
        return Call([&, op](R r, uint32_t* st) { return vxapi_tarno_mgmt(fd, r, op, &t[op], st); });
    };
    const Cell none{2, 12, ""}, refused{1, kU, ""}, attr{0, 0, ""}, absent{0, 9, ""};
    const struct { Call call; Cell cells[4]; } rows[] = {
        {[&](R r, uint32_t* st) { return vxapi_getSFPbuffer(fd, r, buf.data(), 512, st); },
         {{0, 0, "ioctl 13/0 "}, attr, attr, attr}},
        {[&](R r, uint32_t* st) { return vxapi_get_i2c_buffer(fd, r, 0xA0, 0, 7, 100, buf.data(), st); },
         {{0, 0, "ioctl 20/2 ioctl 20/2 "}, {0, 0, "bsg 17 bsg 17 "}, {0, 0, "nl 17 nl 17 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_set_i2c_buffer(fd, r, 0xA0, 0, 7, 100, buf.data(), st); },
         {{0, 0, "ioctl 20/1 ioctl 20/1 "}, {0, 0, "bsg 16 bsg 16 "}, {0, 0, "nl 16 nl 16 "}, none}},
        {[&](R r, uint32_t* st) { return vxapi_get_fw_dump(fd, r, buf.data(), &size, st); },
         {{0, 0, "ioctl 14/0 "}, {1, 9, ""}, {1, 9, ""}, {1, 9, ""}}},
        {[&](R r, uint32_t* st) { return vxapi_port_param(fd, r, &pp, 20, st); },
         {{0, 0, "ioctl 15/0 "}, {1, 20, "bsg 5 "}, {0, 0, "nl 7 "}, none}},
        {tarno(1), {{0, 0, "ioctl 17/1 "}, {1, 20, "bsg 2 "}, {0, 0, "nl 1 "}, refused}},
        {tarno(2), {{0, 0, "ioctl 17/2 "}, absent, absent, refused}},
        {tarno(3), {{0, 0, "ioctl 17/3 "}, {1, 20, "bsg 3 "}, {0, 0, "nl 2 "}, refused}},
        {tarno(4), {{0, 0, "ioctl 17/4 "}, {1, 20, "bsg 4 "}, {0, 0, "nl 3 "}, refused}},
        {tarno(5), {refused, refused, refused, refused}},
    };
    for (const auto& row : rows) {
        for (Kind k : {kIoctl, kBsg, kNetlink, kNeither}) {
            vxapi_priv_database rec = record(k);
            uint32_t st = kU;
            const int rc = row.call(&rec, &st);
            EXPECT_EQ(std::tuple(rc, st, sent()), row.cells[k]) << &row - rows << ", kind " << k;
        }
    }
    EXPECT_EQ(side.tarno_image, image);
    EXPECT_EQ(Bytes(&side.tarno_memory[4], &side.tarno_memory[20]), image);
}

// The manage request's data address moves from byte 24 to 20; the version is taken only from a driver that
// succeeded; a netlink reset asks for the diagnostic firmware only for Flags 1.
TEST_F(SideTest, DriverFormsOfTarnoRequests) {
    side.tarno_memory = sim::pattern(64, 5);
    Bytes data(16), want(28);
    SD_TARNO_MGT m{}, v{}, reset{};
    m.sp.TarnoManageInfo = {TARNO_MGMT_READ_MEM, 0, {{{8, 0, 0}}}, 16, data.data()};
    vxapi_priv_database ioctl = record(kIoctl), netlink = record(kNetlink);
    uint32_t st = kU, start = 8, count = 16;
    const uint64_t address = vxapi_ptr_to_64bit(data.data());
    std::memcpy(&want[4], &start, 4), std::memcpy(&want[16], &count, 4), std::memcpy(&want[20], &address, 8);
    EXPECT_EQ(vxapi_tarno_mgmt(fd, &ioctl, 4, &m, &st), 0);
    EXPECT_EQ(side.tarno_request, want);
    EXPECT_EQ(data, Bytes(&side.tarno_memory[8], &side.tarno_memory[24]));
    side.tarno_version = 0x30201;
    driver.inject_status(EXT_STATUS_ERR);
    const auto version = [&] {
        const int rc = vxapi_tarno_mgmt(fd, &ioctl, 2, &v, &st);
        return std::tuple(rc, st, v.sp.TarnoGetFwVer.FwVersion);
    };
    EXPECT_EQ(version(), std::tuple(0, 1u, 0u));
    EXPECT_EQ(version(), std::tuple(0, 0u, 0x30201u));
    for (uint16_t flags : {1, 2, 0}) {
        reset.sp.TarnoReset.Flags = flags;
        EXPECT_EQ(vxapi_tarno_mgmt(fd, &netlink, 1, &reset, &st), 0);
        EXPECT_EQ(nl.requests().back().body()[0], flags == 1 ? 1 : 0) << flags;
    }
}

// 150 bytes from 0x10 in pieces of 64; on a device of 0x60 bytes the second piece fails: the first stays done and
// the status is the failing piece's. A dump larger than the buffer reports the length it needs; an over-long
// answer never reports more than the buffer holds.
TEST_F(SideTest, DriverRoadLengths) {
    vxapi_priv_database rec = record(kIoctl);
    using Pieces = std::vector<std::pair<uint16_t, uint16_t>>;
    const Pieces three = {{0x10, 64}, {0x50, 64}, {0x90, 22}};
    const struct { bool write; size_t device; uint16_t len; uint32_t status; size_t pieces, done; } cases[] = {
        {false, 256, 150, 0, 3, 150}, {false, 0x60, 150, 6, 2, 64}, {true, 0x60, 150, 6, 2, 64},
        {false, 256, 0, 0, 1, 0}};
    for (const auto& c : cases) {
        const Bytes device = sim::pattern(c.device, 3), data = sim::pattern(150, 60);
        Bytes buf = c.write ? data : Bytes(150, 0xEE), want = buf, after = device;
        std::tie(i2c.memory[0xA0], side.i2c_pieces) = std::tuple(device, Pieces{});
        uint32_t st = kU;
        const int rc = c.write ? vxapi_set_i2c_buffer(fd, &rec, 0xA0, 0x10, 0, c.len, buf.data(), &st)
                               : vxapi_get_i2c_buffer(fd, &rec, 0xA0, 0x10, 0, c.len, buf.data(), &st);
        std::copy_n(c.write ? data.begin() : device.begin() + 0x10, c.done,
                    c.write ? after.begin() + 0x10 : want.begin());
        const Pieces pieces = c.len == 0 ? Pieces{{0x10, 0}} : Pieces(three.begin(), three.begin() + c.pieces);
        EXPECT_EQ(std::tuple(rc, st, side.i2c_pieces, buf, i2c.memory[0xA0]),
                  std::tuple(0, c.status, pieces, want, after));
    }
    Bytes dump(300);
    uint32_t size = 200, st = kU;
    driver.inject_status(EXT_STATUS_BUFFER_TOO_SMALL), driver.inject_overreport(100);
    EXPECT_EQ(std::tuple(vxapi_get_fw_dump(fd, &rec, dump.data(), &size, &st), size, st), std::tuple(0, 300u, 16u));
    size = 250;
    driver.inject_overreport(100);
    EXPECT_EQ(std::tuple(vxapi_get_fw_dump(fd, &rec, dump.data(), &size, &st), size, st), std::tuple(0, 250u, 0u));
}

}  // namespace

// Transceiver, i2c, dump, port speed and Tarno workers: the road each takes by the port's transports, the Tarno
// request's driver form, speed codes on the netlink road, i2c pieces and dump lengths on the driver road.
#include "core/vx_load.h"
#include "sim_side.h"
#include "sysfs_rig.h"
#include "transport/vx_netlink.h"

namespace {

using sim::Bytes;
using R = vxapi_priv_database*;
constexpr uint32_t kU = 0xDEAD, S = VX_FEAT_SYSFS;
constexpr uint32_t kFeatures[] = {VX_FEAT_NEW_IOCTL, S | VX_FEAT_BSG, S | VX_FEAT_NL_VENDOR, S};
enum Kind { kIoctl, kBsg, kNetlink, kNeither };

// Host 5 as a sysfs-mode port ("sfp" attribute, bsg node, netlink service) and driver instance 0; i2c device 0xA0
// of 256 bytes behind the driver, bsg and netlink.
struct SideTest : ::testing::Test {
    SideTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        host.set_attr(fabric.host_dirs[5] + "/sfp", sim::bytes_attr(std::make_shared<std::string>(sfp.begin(), sfp.end())));
        bsg.attach(host, fabric);
        i2c.attach(bsg);
        driver.attach(host);
        side.attach(driver);
        driver.add_port(driver.add_adapter()).records[{EXT_CC_GET_SFP_DATA, 0}] = sfp;
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        gnl_fd = vxapi_nl_open();
        for (uint16_t sub : {1, 2}) {  // netlink 16 writes, 17 reads: the driver's i2c model
            nl.on(5, 15u + sub, [this, sub](const sim::NlRequest& q) {
                sim::SimRequest r;
                r.sub_code = sub;
                r.request.assign(q.body(), q.body() + sizeof(vxa_i2c_access));
                return sim::NlReply{0, side.i2c_piece(r).response};
            });
        }
        nl.on(5, 7, [this](const sim::NlRequest& q) {
            Bytes b(q.body(), q.body() + 20);
            std::memcpy(&b[18], &nl_speed, 2);
            return sim::NlReply{0, b};
        });
        for (uint32_t cmd : {1, 2, 3}) {  // Tarno: a management reply holds its header and data
            nl.on(5, cmd, [cmd](const sim::NlRequest& q) { return sim::NlReply{0, Bytes(cmd == 3 ? 20 + q.body()[16] : 0)}; });
        }
    }
    ~SideTest() override {
        vxapi_nl_close_sockets();
        vx::sys().close(fd);
        sysfs_mnt_path[0] = '\0';
    }
    vxapi_priv_database record(Kind k) const {
        vxapi_priv_database rec{};
        std::strcpy(reinterpret_cast<char*>(rec.phys_path), fabric.pci_dirs[0].c_str());
        std::tie(rec.host_no, rec.interface_type, rec.features) = std::tuple(5, VX_PORT_PHYSICAL, kFeatures[k]);
        return rec;
    }
    // What a call sent: driver requests, bsg vendor commands, netlink commands.
    std::string roads(size_t nl_before) {
        std::string s;
        for (const sim::SimLogEntry& e : driver.log()) s += sysfstest::line("ioctl %X/%u ", e.command, e.sub_code);
        for (const sim::BsgJob& j : bsg.log) s += sysfstest::line("bsg %u ", j.code);
        const auto sent = nl.requests();
        for (size_t i = nl_before; i < sent.size(); ++i) s += sysfstest::line("nl %u ", sent[i].cmd);
        return s;
    }

    Bytes sfp = sim::pattern(512, 2);
    sim::SimI2c i2c;
    sim::SimBsg bsg;
    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimSide side{i2c};
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, {{sim::sysfs_adapter(0x2532, {5})}});
    sim::SimNetlink& nl = host.netlink();
    int fd = -1;
    uint16_t nl_speed = 0;
};

TEST_F(SideTest, EachWorkerOnEachKindOfPort) {
    const Bytes data = sim::pattern(100, 40), image = sim::pattern(16, 8);
    Bytes buf, memory;
    uint32_t size = 0;
    INT_PORT_PARAM pp{{{{0x21, 0, 0, 0, 0, 0, 0, 9}}, VX_DEST_WWPN, 0, {}}, 0, 0};
    SD_TARNO_MGT t[6] = {};
    t[1].sp.TarnoReset.Flags = 1;
    t[3].sp.TarnoUpdateFw = {0, 0, 16, const_cast<uint8_t*>(image.data())};
    t[4].sp.TarnoManageInfo = {TARNO_MGMT_WRITE_MEM, 0, {{{4, 0, 0}}}, 16, const_cast<uint8_t*>(image.data())};
    using Call = std::function<int(R, uint32_t*)>;
    const auto tarno = [&](uint16_t op) { return Call([&, op](R r, uint32_t* st) { return vxapi_tarno_mgmt(fd, r, op, &t[op % 6], st); }); };
    const auto moved = [&](const Bytes& from, size_t at, const Bytes& to) { return std::equal(from.begin() + at, from.begin() + at + 100, to.begin()); };
    const struct { const char* name; Call call; std::tuple<int, uint32_t, std::string> cells[4]; std::function<bool()> ok; } rows[] = {
        {"sfp", [&](R r, uint32_t* st) { return vxapi_getSFPbuffer(fd, r, buf.data(), 512, st); },
         {{0, 0, "ioctl 13/0 "}, {0, 0, ""}, {0, 0, ""}, {0, 0, ""}}, [&] { return buf == sfp; }},
        {"get i2c", [&](R r, uint32_t* st) { return vxapi_get_i2c_buffer(fd, r, 0xA0, 0x10, 7, 100, buf.data(), st); },
         {{0, 0, "ioctl 20/2 ioctl 20/2 "}, {0, 0, "bsg 17 bsg 17 "}, {0, 0, "nl 17 nl 17 "}, {2, 12, ""}}, [&] { return moved(memory, 0x10, buf); }},
        {"set i2c", [&](R r, uint32_t* st) { return vxapi_set_i2c_buffer(fd, r, 0xA0, 0x10, 7, 100, const_cast<uint8_t*>(data.data()), st); },
         {{0, 0, "ioctl 20/1 ioctl 20/1 "}, {0, 0, "bsg 16 bsg 16 "}, {0, 0, "nl 16 nl 16 "}, {2, 12, ""}}, [&] { return moved(i2c.memory[0xA0], 0x10, data); }},
        {"fw dump", [&](R r, uint32_t* st) { return vxapi_get_fw_dump(fd, r, buf.data(), &size, st); },
         {{0, 0, "ioctl 14/0 "}, {2, 12, ""}, {2, 12, ""}, {2, 12, ""}}, [&] { return size == 300; }},
        {"port param", [&](R r, uint32_t* st) { return vxapi_port_param(fd, r, &pp, sizeof pp, st); },
         {{0, 0, "ioctl 15/0 "}, {2, 12, ""}, {0, 0, "nl 7 "}, {2, 12, ""}}, [&] { return pp.Speed == 0x01; }},
        {"tarno reset", tarno(1), {{0, 0, "ioctl 17/1 "}, {2, 12, ""}, {0, 0, "nl 1 "}, {1, kU, ""}}, [] { return true; }},
        {"tarno version", tarno(2), {{0, 0, "ioctl 17/2 "}, {2, 12, ""}, {2, 12, ""}, {1, kU, ""}}, [&] { return t[2].sp.TarnoGetFwVer.FwVersion == 0x30201; }},
        {"tarno update", tarno(3), {{0, 0, "ioctl 17/3 "}, {2, 12, ""}, {0, 0, "nl 2 "}, {1, kU, ""}}, [] { return true; }},
        {"tarno manage", tarno(4), {{0, 0, "ioctl 17/4 "}, {2, 12, ""}, {0, 0, "nl 3 "}, {1, kU, ""}}, [] { return true; }},
        {"tarno operation 5", tarno(5), {{1, kU, ""}, {1, kU, ""}, {1, kU, ""}, {1, kU, ""}}, [] { return true; }},
    };
    side.tarno_version = 0x30201;
    side.tarno_memory = Bytes(64);
    driver.ports[0].records[{EXT_CC_GET_FW_DUMP, 0}] = sim::pattern(300, 6);
    driver.ports[0].set_record(EXT_CC_PORT_PARAM, 0, INT_PORT_PARAM{pp.FCScsiAddr, 0, 0x01});
    for (const auto& row : rows) {
        for (Kind k : {kIoctl, kBsg, kNetlink, kNeither}) {
            vxapi_priv_database rec = record(k);
            std::tie(buf, size, memory, i2c.memory[0xA0], pp.Speed) = std::tuple(Bytes(512, 0xEE), 512, sim::pattern(256, 3), sim::pattern(256, 3), 0);
            driver.clear_log();
            bsg.log.clear();
            const size_t before = nl.requests().size();
            uint32_t st = kU;
            const int rc = row.call(&rec, &st);
            EXPECT_EQ(std::tuple(rc, st, roads(before)), row.cells[k]) << row.name << ", kind " << k;
            EXPECT_TRUE(rc != 0 || st != 0 || row.ok()) << row.name << ", kind " << k;
        }
    }
}

}  // namespace

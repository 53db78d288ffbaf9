// Pass-through of sysfs ports: SCSI through the simulated SCSI generic
// nodes and a target model, CT and ELS on the bsg and attribute roads, and
// the target and LUN list.
#include "sim_bsg.h"
#include "test_support.h"
#include "transport/vx_sysfs_passthru.h"
#include "transport/vx_sysfs_prim.h"

namespace {

using sim::Bytes;

// Host 5 with virtual port host 9. Remote port 1: target 0, LUN 3 on sg3.
// Remote port 2: target 300, LUNs 7, 16384 + 5 and 16384 + 4101 (flat
// space). Remote port 3: blocked.
class SysfsPassthruTest : public ::testing::Test {
protected:
    SysfsPassthruTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        for (vxapi_priv_database* r : {&rec, &vport}) {
            std::strcpy(reinterpret_cast<char*>(r->phys_path), fabric.pci_dirs[0].c_str());
            r->features = VX_FEAT_SYSFS;
        }
        rec.host_no = 5;
        rec.interface_type = VX_PORT_PHYSICAL;
        vport.host_no = 9;
        vport.interface_type = VX_PORT_VIRTUAL;
        vport.parent = &rec;
        target.luns[3] = {};
        sg.luns[3] = {&target, 3};
        sg.attach(host);
        bsg.attach(host, fabric);
        answers.serve(bsg);
        host.set_attr(fabric.host_dirs[5] + "/ct", answers.ct_attr(), 0600);
        host.set_attr(fabric.host_dirs[5] + "/els", answers.els_attr(), 0600);
    }
    ~SysfsPassthruTest() override { sysfs_mnt_path[0] = '\0'; }
    static sim::SysfsSetup setup() {
        sim::SysfsSetup s;
        s.adapters = {sim::sysfs_adapter(0x2532, {5})};
        auto& h = s.adapters[0].functions[0];
        h.vports = {9};
        sim::SysfsRemotePort r1, r2, r3;
        r1.number = 1;
        r1.luns = {{3, "sdc", 3, {}}};
        r2.number = 2;
        r2.port_name = "0x2100001b32a00002";
        r2.target_id = 300;
        r2.luns = {{7, "sdd", 7, {}}, {16384 + 5, "sde", 8, {}}, {16384 + 4101, "sdf", 9, {}}};
        r3.number = 3;
        r3.port_name = "0x2100001b32a00003";
        r3.port_state = "Blocked";
        r3.target_id = std::nullopt;
        h.host.rports = {r1, r2, r3};
        return s;
    }

    sim::ScsiTarget target;
    sim::Fabric answers;
    sim::SimSg sg;
    sim::SimBsg bsg;
    sim::SimHost host;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, setup());
    vxapi_priv_database rec{}, vport{};
};

const uint8_t kWwpn1[8] = {0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1};
sim::ScsiAnswer answer(uint8_t status, uint16_t host_status, uint16_t driver_status, int32_t resid = 0) {
    sim::ScsiAnswer a;
    a.status = status;
    a.host_status = host_status;
    a.driver_status = driver_status;
    a.resid = resid;
    return a;
}

const Bytes kInquiry{0x12, 0, 0, 0, 36, 0}, kRead10{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},
    kFarRead10{0x28, 0, 0, 0, 1, 0, 0, 0, 1, 0}, kTestUnitReady(6, 0);

TEST_F(SysfsPassthruTest, ScsiByAddressAndByWwpn) {
    const struct {
        const char* what;
        bool fc;
        uint16_t lun;
        Bytes cdb;
        uint32_t sense_room;
        std::optional<sim::ScsiAnswer> answer;
        int result;
        uint32_t ext, scsi, sense_len;
        unsigned cmd_len, mx_sb_len;  // of the SG_IO sent (cmd_len 0: none)
    } cases[] = {
        {"INQUIRY to LUN 0 reaches the first LUN", false, 0, kInquiry, 32, {}, 0, 0, 0, 0, 6, 32},
        {"READ(10) to LUN 0 is not sent", false, 0, kRead10, 32, {}, 1, 6, 0xFF, 32, 0, 0},
        {"check condition, room 256", false, 3, kFarRead10, 256, {}, 0, 15, 2, 18, 10, 255},
        {"driver status", false, 3, kRead10, 32, answer(0, 0, 8), 1, 26, 8, 0, 10, 32},
        {"no sense length", false, 3, kRead10, 0, {}, 1, 6, 0xFF, 0, 0, 0},
        {"6-byte CDB as 16", true, 3, kTestUnitReady, 32, {}, 0, 0, 0, 0, 16, 32},
        {"FC check condition, room 1000", true, 3, kFarRead10, 1000, {}, 0, 15, 2, 18, 16, 255},
        {"FC busy", true, 3, kRead10, 32, answer(sim::kScsiBusy, 0, 0), 0, 15, 8, 0, 16, 32},
        {"FC host status, residual", true, 3, kRead10, 32, answer(0, 7, 0, 4), 1, 8, 0,
         0, 16, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sg.log.clear();
        if (c.answer) target.injected.push_back(*c.answer);
        uint8_t data[512];
        uint32_t data_len = sizeof data, ext = 0xFF, scsi = 0xFF, sense_len = c.sense_room;
        int result;
        std::vector<uint8_t> sense(c.sense_room + 1, 0xEE);
        if (!c.fc) {
            const EXT_SCSI_ADDR addr{0, 0, c.lun, {}};
            uint8_t byte = 0xFF;
            result = vxsysfs_send_scsipt(0, &rec, &addr, c.cdb.data(), static_cast<uint32_t>(c.cdb.size()), nullptr,
                                         0, data, &data_len, sense.data(), c.sense_room != 0 ? &sense_len : nullptr,
                                         &ext, &byte);
            scsi = byte;
        } else {
            EXT_FC_SCSI_PASSTHRU pt{};
            std::memcpy(pt.FCScsiAddr.DestAddr.WWPN, kWwpn1, 8);
            pt.FCScsiAddr.DestType = VX_DEST_WWPN;
            pt.FCScsiAddr.Lun = c.lun;
            pt.Direction = VX_SCSI_DIR_IN;
            pt.CdbLength = static_cast<uint8_t>(c.cdb.size());
            std::copy(c.cdb.begin(), c.cdb.end(), pt.Cdb);
            pt.SenseLength = static_cast<uint16_t>(c.sense_room);
            result = vxsysfs_send_fc_scsipt(0, &rec, data, &data_len, &pt, &ext, &scsi);
            sense_len = pt.SenseLength;
            std::copy_n(pt.SenseData, std::min<size_t>(sense.size(), 256), sense.begin());
        }
        EXPECT_EQ(std::vector<uint32_t>({static_cast<uint32_t>(result), ext, scsi, sense_len}),
                  std::vector<uint32_t>({static_cast<uint32_t>(c.result), c.ext, c.scsi, c.sense_len}));
        EXPECT_EQ(sense[0], c.sense_len == 18 ? 0x70 : c.ext == 6 ? 0xEE : 0);
        ASSERT_EQ(sg.log.size(), c.cmd_len != 0 ? 1u : 0u);
        if (c.cmd_len == 0) continue;
        EXPECT_EQ(std::vector<unsigned>({sg.log[0].cmd_len, sg.log[0].mx_sb_len, sg.log[0].timeout}),
                  std::vector<unsigned>({c.cmd_len, c.mx_sb_len, 30000}));
        EXPECT_EQ(target.cdbs.back().first, 3u);
    }
}

TEST_F(SysfsPassthruTest, CtAndElsOnTheBsgAndAttributeRoads) {
    Bytes ct{1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x12, 0, 0x40, 0, 0, 0, 0, 9, 9, 9, 9};
    Bytes echo(40, 0);
    echo[32] = 0x10;
    echo[36] = 0xAB;
    const auto els_to = [&echo](unsigned rport) {
        Bytes e = echo;
        std::copy_n(kWwpn1, 8, e.begin() + 8);
        e[15] = static_cast<uint8_t>(rport);
        return e;
    };
    const Bytes ct_acc = answers.ct(ct), echo_acc = answers.els(Bytes(echo.begin() + 32, echo.end()));
    vxapi_priv_database orphan = vport;
    orphan.parent = nullptr;
    const struct {
        const char* what;
        bool els, bsg;
        vxapi_priv_database* port;
        Bytes request;
        bool length;
        int result;
        uint32_t ext, resp_len;
        Bytes resp;
        bool zeroed;
        std::string job;
    } cases[] = {
        {"CT on bsg", false, true, &rec, ct, true, 0, 0, 64, ct_acc, true, "fc_host5"},
        {"CT of a virtual port on its parent's attribute", false, false, &vport, ct, true, 0, 0, 16, ct_acc, true, ""},
        {"virtual port without its parent", false, false, &orphan, ct, true, 0, 9, 64, {}, true, ""},
        {"CT IU under 16 bytes", false, true, &rec, Bytes(ct.begin(), ct.begin() + 15), true, 1, 6, 64, {}, false, ""},
        {"CT without a response length", false, false, &rec, ct, false, 1, 6, 0, {}, false, ""},
        {"ELS on bsg", true, true, &rec, els_to(1), true, 0, 0, 64, echo_acc, true, "rport-5:0-1"},
        {"ELS to a port not online", true, true, &rec, els_to(3), true, 0, 1, 64, {}, true, ""},
        {"ELS to no port", true, true, &rec, els_to(4), true, 0, 9, 64, {}, false, ""},
        {"ELS on the attribute", true, false, &rec, els_to(1), true, 0, 0, 8, echo_acc, true, ""},
        {"ELS without a payload", true, true, &rec, Bytes(echo.begin(), echo.begin() + 32), true, 1, 6,
         64, {}, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bsg.log.clear();
        c.port->features = VX_FEAT_SYSFS | (c.bsg ? VX_FEAT_BSG : 0);
        Bytes resp(64, 0xEE);
        uint32_t resp_len = 64, ext = 0xFF;
        const auto send = c.els ? vxsysfs_send_els_passthru : vxsysfs_send_ct_passthru;
        EXPECT_EQ(send(0, c.port, c.request.data(), static_cast<uint32_t>(c.request.size()), resp.data(),
                       c.length ? &resp_len : nullptr, &ext),
                  c.result);
        EXPECT_EQ(std::make_pair(ext, c.length ? resp_len : 0), std::make_pair(c.ext, c.resp_len));
        Bytes want = c.resp;
        want.resize(64, c.zeroed ? 0 : 0xEE);
        EXPECT_EQ(resp, want);
        EXPECT_EQ(bsg.log.empty() ? "" : bsg.log[0].entry, c.job);
        for (const std::string& made : host.mknod_log()) {  // every node made is gone
            EXPECT_FALSE(host.node(made.substr(0, made.find(' '))).has_value()) << made;
        }
    }
    EXPECT_FALSE(host.mknod_log().empty());
}

TEST_F(SysfsPassthruTest, TargetAndLunList) {
    const struct {
        uint32_t size;
        int result;
        uint32_t ext;
        std::vector<std::pair<unsigned, std::vector<unsigned>>> entries;  // target id, LUNs marked
    } cases[] = {
        {10, 1, 6, {}},
        {32 + 2079, 1, 6, {}},
        {32 + 2080, 0, 0, {{0, {3}}}},
        {32 + 2 * 2080 + 100, 0, 0, {{0, {3}}, {300 & 0xFF, {5, 7}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        sim::Exact list(Bytes(c.size, 0xEE));
        uint32_t ext = 0xFF;
        auto* head = reinterpret_cast<TGT_LUN_DATA_LIST*>(list.get());
        EXPECT_EQ(vxsysfs_get_tgt_lun_data_list(0, &rec, head, c.size, &ext), c.result);
        EXPECT_EQ(ext, c.ext);
        if (c.entries.empty()) {
            EXPECT_EQ(list.bytes(), Bytes(c.size, 0xEE));
            continue;
        }
        EXPECT_EQ(head->EntryCount, c.entries.size());
        auto* entry = vx_first_entry(head);
        for (const auto& [tid, luns] : c.entries) {
            std::vector<unsigned> marked;
            for (unsigned l = 0; l < 2048; ++l) {
                if (vx_lun_data(entry)[l] != 0) marked.push_back(l);
            }
            EXPECT_EQ(std::vector<unsigned>({entry->TargetId, entry->LunCount, entry->DevType, entry->PortName[7]}),
                      std::vector<unsigned>({tid, static_cast<unsigned>(luns.size()), 2, tid == 0 ? 1u : 2u}));
            EXPECT_EQ(marked, luns);
            entry = reinterpret_cast<TGT_LUN_DATA_ENTRY*>(vx_lun_data(entry) + 2048);
        }
    }
}

}  // namespace

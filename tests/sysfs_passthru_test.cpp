// Pass-through of sysfs ports: SCSI through the SCSI generic nodes to a
// target model, CT and ELS on the bsg and attribute roads, the target and
// LUN list.
#include "sim_bsg.h"
#include "test_support.h"
#include "transport/vx_sysfs_passthru.h"
#include "transport/vx_sysfs_prim.h"

namespace {

using sim::Bytes;

// Host 5 with virtual port host 9. Remote port 1: target 0, LUN 3 on sg3;
// 2: target 300, LUNs 7, 16384 + 5 and 16384 + 4101 (flat space); 3: blocked.
class SysfsPassthruTest : public ::testing::Test {
protected:
    SysfsPassthruTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        for (vxapi_priv_database* r : {&rec, &vport}) {
            std::strcpy(reinterpret_cast<char*>(r->phys_path), fabric.pci_dirs[0].c_str());
            r->interface_type = r == &rec ? VX_PORT_PHYSICAL : VX_PORT_VIRTUAL;
        }
        rec.host_no = 5;
        vport.host_no = 9;
        vport.parent = &rec;
        target.luns[3] = {};
        sg.luns[3] = {&target, 3};
        sg.attach(host);
        bsg.attach(host, fabric);
        answers.serve(bsg, host, fabric.host_dirs[5]);
    }
    ~SysfsPassthruTest() override { sysfs_mnt_path[0] = '\0'; }
    static sim::SysfsSetup setup() {
        sim::SysfsSetup s;
        s.adapters = {sim::sysfs_adapter(0x2532, {5})};
        s.adapters[0].functions[0].vports = {9};
        sim::SysfsRemotePort r[3];
        for (unsigned i = 0; i < 3; ++i) {
            r[i].number = i + 1;
            r[i].port_name = "0x2100001b32a0000" + std::to_string(i + 1);
        }
        r[0].luns = {{3, "sdc", 3, {}}};
        r[1].target_id = 300;
        r[1].luns = {{7, "sdd", 7, {}}, {16384 + 5, "sde", 8, {}}, {16384 + 4101, "sdf", 9, {}}};
        r[2].port_state = "Blocked";
        s.adapters[0].functions[0].host.rports = {r[0], r[1], r[2]};
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
const Bytes kInquiry{0x12, 0, 0, 0, 36, 0}, kRead10{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},
    kFarRead10{0x28, 0, 0, 0, 1, 0, 0, 0, 1, 0}, kTur(6, 0), kRead16(16, 0x88);

sim::ScsiAnswer answer(uint8_t status, uint16_t host_status, uint16_t driver_status, int32_t resid = 0) {
    sim::ScsiAnswer a;
    std::tie(a.status, a.host_status, a.driver_status, a.resid) = std::tie(status, host_status, driver_status, resid);
    return a;
}

TEST_F(SysfsPassthruTest, ScsiByAddressAndByWwpn) {
    enum Form { kAddr, kFc, kScsi3 };
    const struct {
        const char* what;
        Form form;
        uint16_t lun;
        Bytes cdb;
        uint32_t sense_room;
        std::optional<sim::ScsiAnswer> answer;
        uint32_t result, ext, scsi, sense_len;
        unsigned cmd_len, mx_sb_len;  // of the SG_IO sent (cmd_len 0: none)
    } cases[] = {
        {"INQUIRY to LUN 0 reaches the first LUN", kAddr, 0, kInquiry, 32, {}, 0, 0, 0, 0, 6, 32},
        {"READ(10) to LUN 0 is not sent", kAddr, 0, kRead10, 32, {}, 1, 6, 0xFF, 32, 0, 0},
        {"check condition, room 256", kAddr, 3, kFarRead10, 256, {}, 0, 15, 2, 18, 10, 255},
        {"driver status", kAddr, 3, kRead10, 32, answer(0, 0, 8), 1, 26, 8, 0, 10, 32},
        {"no sense length", kAddr, 3, kRead10, 0, {}, 1, 6, 0xFF, 0, 0, 0},
        {"6-byte CDB as 16", kFc, 3, kTur, 32, {}, 0, 0, 0, 0, 16, 32},
        {"FC check condition, room 1000", kFc, 3, kFarRead10, 1000, {}, 0, 15, 2, 18, 16, 255},
        {"FC busy", kFc, 3, kRead10, 32, answer(sim::kScsiBusy, 0, 0), 0, 15, 8, 0, 16, 32},
        {"FC host status, residual", kFc, 3, kRead10, 32, answer(0, 7, 0, 4), 1, 8, 0, 0, 16, 32},
        {"SCSI-3, 6-byte CDB", kScsi3, 3, kTur, 32, {}, 1, 6, 0xFF, 32, 0, 0},
        {"SCSI-3, 16-byte CDB", kScsi3, 3, kRead16, 32, {}, 0, 15, 2, 18, 16, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sg.log.clear();
        if (c.answer) target.injected.push_back(*c.answer);
        uint8_t data[512];
        uint32_t data_len = sizeof data, ext = 0xFF, scsi = 0xFF, sense_len = c.sense_room;
        uint32_t result;
        std::vector<uint8_t> sense(c.sense_room + 1, 0xEE);
        if (c.form == kAddr) {
            const EXT_SCSI_ADDR addr{0, 0, c.lun, {}};
            uint8_t byte = 0xFF;
            result =
                vxsysfs_send_scsipt(0, &rec, &addr, c.cdb.data(), static_cast<uint32_t>(c.cdb.size()), nullptr, 0, data,
                                    &data_len, sense.data(), c.sense_room != 0 ? &sense_len : nullptr, &ext, &byte);
            scsi = byte;
        } else {
            EXT_FC_SCSI_PASSTHRU pt{};
            std::memcpy(pt.FCScsiAddr.DestAddr.WWPN, kWwpn1, 8);
            std::tie(pt.FCScsiAddr.DestType, pt.FCScsiAddr.Lun, pt.Direction) = std::tuple(VX_DEST_WWPN, c.lun, 1);
            pt.CdbLength = static_cast<uint8_t>(c.cdb.size());
            std::copy(c.cdb.begin(), c.cdb.end(), pt.Cdb);
            pt.SenseLength = static_cast<uint16_t>(c.sense_room);
            pt.SenseData[0] = 0xEE;
            const auto send = c.form == kFc ? vxsysfs_send_fc_scsipt : vxsysfs_send_scsi3pt;
            result = send(0, &rec, data, &data_len, &pt, &ext, &scsi);
            sense_len = pt.SenseLength;
            sense[0] = pt.SenseData[0];
        }
        EXPECT_EQ(std::vector<uint32_t>({result, ext, scsi, sense_len}),
                  std::vector<uint32_t>({c.result, c.ext, c.scsi, c.sense_len}));
        EXPECT_EQ(sense[0], c.sense_len == 18 ? 0x70 : c.ext == 6 ? 0xEE : 0);
        ASSERT_EQ(sg.log.size(), c.cmd_len != 0 ? 1u : 0u);
        if (c.cmd_len == 0) continue;
        EXPECT_EQ(std::vector<unsigned>({sg.log[0].cmd_len, sg.log[0].mx_sb_len, sg.log[0].timeout}),
                  std::vector<unsigned>({c.cmd_len, c.mx_sb_len, 30000}));
        EXPECT_EQ(target.cdbs.back().first, 3u);
    }
}

TEST_F(SysfsPassthruTest, CtAndElsOnTheBsgAndAttributeRoads) {
    const Bytes ct{1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x12, 0, 0x40, 0, 0, 0, 0, 9, 9, 9, 9};
    const auto els_to = [](uint8_t rport, size_t size = 40) {
        Bytes e(size, 0);
        std::copy_n(kWwpn1, 8, e.begin() + 8);
        e[15] = rport;
        if (size > 36) std::tie(e[32], e[36]) = std::tuple(0x10, 0xAB);  // ECHO
        return e;
    };
    const Bytes ct_acc = answers.answer(ct, true), echo_acc = answers.answer({0x10, 0, 0, 0, 0xAB, 0, 0, 0}, false);
    vxapi_priv_database orphan = vport;
    orphan.parent = nullptr;
    const struct {
        const char* what;
        bool els, bsg;
        vxapi_priv_database* port;
        Bytes request;
        bool length;
        uint32_t result, ext, resp_len;
        Bytes resp;
        uint8_t fill;  // of the response beyond resp
        std::string job;
    } cases[] = {
        {"CT on bsg", false, true, &rec, ct, true, 0, 0, 64, ct_acc, 0, "fc_host5"},
        {"CT of a virtual port on its parent's attribute", false, false, &vport, ct, true, 0, 0, 16, ct_acc, 0, ""},
        {"virtual port without its parent", false, false, &orphan, ct, true, 0, 9, 64, {}, 0, ""},
        {"CT IU under 16 bytes", false, true, &rec, Bytes(ct.begin(), ct.begin() + 15), true, 1, 6, 64, {}, 0xEE, ""},
        {"CT without a response length", false, false, &rec, ct, false, 1, 6, 0, {}, 0xEE, ""},
        {"ELS on bsg", true, true, &rec, els_to(1), true, 0, 0, 64, echo_acc, 0, "rport-5:0-1"},
        {"ELS to a port not online", true, true, &rec, els_to(3), true, 0, 1, 64, {}, 0, ""},
        {"ELS to no port", true, true, &rec, els_to(4), true, 0, 9, 64, {}, 0xEE, ""},
        {"ELS on the attribute", true, false, &rec, els_to(1), true, 0, 0, 8, echo_acc, 0, ""},
        {"ELS without a payload", true, true, &rec, els_to(1, 32), true, 1, 6, 64, {}, 0xEE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bsg.log.clear();
        c.port->features = VX_FEAT_SYSFS | (c.bsg ? VX_FEAT_BSG : 0);
        Bytes resp(64, 0xEE);
        uint32_t resp_len = 64, ext = 0xFF;
        const auto send = c.els ? vxsysfs_send_els_passthru : vxsysfs_send_ct_passthru;
        const uint32_t result = send(0, c.port, c.request.data(), static_cast<uint32_t>(c.request.size()), resp.data(),
                                     c.length ? &resp_len : nullptr, &ext);
        EXPECT_EQ(std::vector<uint32_t>({result, ext, c.length ? resp_len : 0}),
                  std::vector<uint32_t>({c.result, c.ext, c.resp_len}));
        Bytes want = c.resp;
        want.resize(64, c.fill);
        EXPECT_EQ(resp, want);
        EXPECT_EQ(bsg.log.empty() ? "" : bsg.log[0].entry, c.job);
        for (const std::string& made : host.mknod_log()) {  // every node made is gone
            EXPECT_FALSE(host.node(made.substr(0, made.find(' '))).has_value()) << made;
        }
    }
}

TEST_F(SysfsPassthruTest, TargetAndLunList) {
    using Entry = std::vector<unsigned>;  // target id, port name's last byte, LUNs marked
    const std::tuple<uint32_t, uint32_t, uint32_t, std::vector<Entry>> cases[] = {
        {10, 1, 6, {}},
        {32 + 2079, 1, 6, {}},
        {32 + 2080, 0, 0, {{0, 1, 3}}},
        {32 + 2 * 2080 + 100, 0, 0, {{0, 1, 3}, {300 & 0xFF, 2, 5, 7}}},  // LUNs of target 300, 14-bit flat space
    };
    for (const auto& [size, result, status, entries] : cases) {
        SCOPED_TRACE(size);
        sim::Exact list(Bytes(size, 0xEE));
        uint32_t ext = 0xFF;
        auto* head = reinterpret_cast<TGT_LUN_DATA_LIST*>(list.get());
        EXPECT_EQ(std::make_pair(static_cast<uint32_t>(vxsysfs_get_tgt_lun_data_list(0, &rec, head, size, &ext)), ext),
                  std::make_pair(result, status));
        if (entries.empty()) {
            EXPECT_EQ(list.bytes(), Bytes(size, 0xEE));
            continue;
        }
        auto* entry = vx_first_entry(head);
        for (size_t i = 0; i < entries.size(); ++i) {
            Entry got{entry->TargetId, entry->PortName[7]};
            for (unsigned l = 0; l < 2048; ++l) {
                if (vx_lun_data(entry)[l] != 0) got.push_back(l);
            }
            EXPECT_EQ(got, entries[i]);
            EXPECT_EQ(std::make_tuple(head->EntryCount, entry->LunCount, entry->DevType),
                      std::make_tuple(static_cast<uint16_t>(entries.size()), static_cast<uint16_t>(got.size() - 2),
                                      uint8_t{2}));
            entry = reinterpret_cast<TGT_LUN_DATA_ENTRY*>(vx_lun_data(entry) + 2048);
        }
    }
}

}  // namespace

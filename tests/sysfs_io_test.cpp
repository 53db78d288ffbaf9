// Transfers of sysfs ports: NVRAM, VPD and SFP files, the beacon, statistics of the FC host, SCSI host and SCSI
// devices, RLS to a remote port on the bsg and "els" roads, i2c pieces through bsg; and the pass-through: SCSI
// through the generic nodes to a target model, CT and ELS on the bsg and attribute roads, the target and LUN list.
#include "sim_bsg.h"
#include "sim_passthru.h"
#include "sim_sysfs_attrs.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_diag.h"
#include "transport/vx_sysfs_mgmt_bsg.h"
#include "transport/vx_sysfs_passthru.h"
#include "transport/vx_sysfs_prim.h"

namespace {

using sim::Bytes;
using Words = std::vector<uint32_t>;

std::shared_ptr<std::string> text(const Bytes& b) { return std::make_shared<std::string>(b.begin(), b.end()); }
const sim::SimHost::Attr kUnreadable{[](size_t, std::string&) { return EIO; }, {}};

// Host 5 ("nvram" 512 bytes, read-only "sfp" 256, "vpd" 512) with virtual port host 9; remote port 1 (target 0,
// LUNs 0 and 1) and the fabric on bsg and "els"; i2c device 0xA0 of 256 bytes.
struct SysfsAttrsTest : ::testing::Test {
    SysfsAttrsTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        std::strcpy(reinterpret_cast<char*>(rec.phys_path), fabric.pci_dirs[0].c_str());
        std::tie(rec.host_no, rec.interface_type, rec.features) = std::tuple(5, VX_PORT_PHYSICAL, VX_FEAT_SYSFS);
        vport = rec;
        std::tie(vport.host_no, vport.interface_type, vport.parent) = std::tuple(9, VX_PORT_VIRTUAL, &rec);
        host.set_attr(dir + "/nvram", sim::bytes_attr(nvram, true), 0600);
        host.set_attr(dir + "/sfp", sim::bytes_attr(sfp), 0444);
        bsg.attach(host, fabric);
        sim::serve_fabric(san, bsg, host, dir);
        i2c.attach(bsg);
    }
    ~SysfsAttrsTest() override { sysfs_mnt_path[0] = '\0'; }
    static sim::SysfsSetup setup() {
        sim::SysfsSetup s{{sim::sysfs_adapter(0x2532, {5})}};
        s.adapters[0].functions[0].vports = {9};
        sim::SysfsRemotePort& r = s.adapters[0].functions[0].host.rports.emplace_back();
        std::tie(r.number, r.luns) = std::tuple(1, std::vector<sim::SysfsLun>{{0, "sdc", 3, {}}, {1, "sdd", 4, {}}});
        return s;
    }
    sim::SanFabric san;  // the fabric and the devices before the host
    sim::SimI2c i2c{{{0xA0, sim::pattern(256, 3)}}};
    sim::SimBsg bsg;
    sim::SimHost host;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, setup());
    std::string dir = fabric.host_dirs[5];
    std::shared_ptr<std::string> nvram = text(sim::pattern(512, 1)), sfp = text(sim::pattern(256, 2));
    vxapi_priv_database rec{}, vport{};
};

TEST_F(SysfsAttrsTest, NvramVpdAndSfpSizesAndPorts) {
    enum Op { kGetNvram, kGetSfp, kGetVpd, kSetNvram, kSetVpd };
    // Operation, virtual port, size; then the status and the bytes moved.
    const std::tuple<Op, bool, uint32_t, uint32_t, uint32_t> cases[] = {
        {kGetNvram, false, 512, 0, 512}, {kGetNvram, false, 513, 1, 0}, {kGetNvram, true, 100, 0, 100},
        {kGetSfp, true, 256, 0, 256},    {kGetSfp, false, 257, 1, 0},   {kGetVpd, false, 600, 0, 512},
        {kGetVpd, true, 512, 0, 512},    {kGetVpd, false, 511, 1, 0},   {kSetNvram, false, 100, 0, 100},
        {kSetNvram, false, 513, 1, 0},   {kSetNvram, true, 100, 9, 0},  {kSetVpd, false, 512, 0, 512}};
    for (const auto& [op, virt, size, status, moved] : cases) {
        vxapi_priv_database* port = virt ? &vport : &rec;
        std::string& source = op == kGetSfp ? *sfp : (op == kGetVpd || op == kSetVpd) ? *fabric.vpd[5] : *nvram;
        Bytes buf = op >= kSetNvram ? sim::pattern(size, 9) : Bytes(size + 8, 0xEE), want(source.begin(), source.end());
        uint32_t st = 0xFF, len = size;
        const int32_t result = op == kGetNvram ? vxsysfs_get_nvram(0, port, buf.data(), size, &st)
                               : op == kGetSfp ? vxsysfs_get_sfp(0, port, buf.data(), size, &st)
                               : op == kGetVpd ? vxsysfs_get_vpd(0, port, buf.data(), &len, &st)
                               : op == kSetVpd ? vxsysfs_set_vpd(0, port, buf.data(), &len, &st)
                                               : vxsysfs_set_nvram(0, port, buf.data(), size, &st);
        // A read fills the buffer's size (zeroed behind what it moved); a write overlays the attribute.
        if (op < kSetNvram) want.resize(moved), want.resize(size, 0), want.resize(size + 8, 0xEE);
        if (op >= kSetNvram) std::copy_n(buf.begin(), moved, want.begin()), buf.assign(source.begin(), source.end());
        EXPECT_EQ(Words({static_cast<uint32_t>(result), st, len, buf == want}),
                  Words({0, status, status == 0 ? moved : size, 1})) << op << " " << virt << " " << size;
    }
}

TEST_F(SysfsAttrsTest, BeaconOnOffUnreadableAbsent) {
    const std::string path = "/sys/class/scsi_host/host5/beacon";
    // The text (null: absent, "?": unreadable), the State set; get's status and State, set's status; the write.
    const std::tuple<const char*, uint32_t, Words, std::string> cases[] = {
        {"Enabled", 7, {0, VX_BEACON_BLINK, 0}, "0"}, {"Disabled", VX_BEACON_BLINK, {0, VX_BEACON_OFF, 0}, "1"},
        {"?", VX_BEACON_BLINK, {1, 0x1234, 1}, ""}, {nullptr, VX_BEACON_BLINK, {9, 0x1234, 9}, ""}};
    for (const auto& [value, state, out, written] : cases) {
        host.remove(path);
        if (value != nullptr) host.set_attr(path, *value == '?' ? kUnreadable : sim::text_attr(value, true));
        EXT_BEACON_CONTROL got{0x1234, {}}, set{state, {}};
        uint32_t get_st = 0xFF, set_st = 0xFF;
        const size_t writes = host.attr_writes().size();
        EXPECT_EQ(vxsysfs_get_beacon(0, &rec, &got, &get_st) + vxsysfs_set_beacon(0, &rec, &set, &set_st), 0);
        EXPECT_EQ(Words({get_st, got.State, set_st}), out) << (value != nullptr ? value : "absent");
        EXPECT_EQ(host.attr_writes().size() > writes ? host.attr_writes().back() : path + "=", path + "=" + written);
    }
}

TEST_F(SysfsAttrsTest, StatisticsWithAbsentFilesAndTheMegabyteSums) {
    EXT_HBA_PORT_STAT s{}, want{};
    uint32_t st = 0xFF;
    const std::string fc = "/sys/class/fc_host/host5/statistics/", scsi = "/sys/class/scsi_host/host5/",
                      lun = "/sys/class/scsi_device/5:0:0:";
    for (const auto& [file, value] : std::initializer_list<std::pair<std::string, const char*>>{
             {fc + "tx_frames", "0x1234"}, {fc + "rx_frames", "0x100000005"}, {fc + "lip_count", "0xffffffffffffffff"},
             {fc + "fcp_input_requests", "0x123456789"}, {fc + "fcp_input_megabytes", "0x10"},
             {fc + "fcp_output_megabytes", "0x20"}, {scsi + "total_isp_aborts", "0x7"}, {scsi + "diag_requests", "10"},
             {scsi + "diag_megabytes", "5"}, {lun + "0/device/ioerr_cnt", "0x2"}, {lun + "0/device/iodone_cnt", "0x30"},
             {lun + "1/device/ioerr_cnt", "0x1"}}) {
        host.set_attr(file, sim::text_attr(value));
    }
    // A counter that is there but cannot be read fails the read; one that is not there adds nothing.
    host.set_attr(lun + "1/device/iodone_cnt", kUnreadable);
    EXPECT_EQ(std::pair(vxsysfs_get_statistics(0, &rec, &s, &st), st), std::pair(0, 1u));
    host.remove(lun + "1/device/iodone_cnt");
    s = {};
    EXPECT_EQ(vxsysfs_get_statistics(0, &rec, &s, &st), 0);
    std::tie(want.TxFrames, want.RxFrames, want.InputRequestCount, want.InputMBytes, want.OutputMBytes) =
        std::tuple(0x1234, 5, 0x123456789, 0x10, 0x20);
    std::tie(want.ControllerErrorCount, want.TotalIoCount, want.TotalMBytes, want.DeviceErrorCount) =
        std::tuple(7, 10 + 0x30, 5 + 0x30, 3);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(sim::bytes_of(&s, sizeof s), sim::bytes_of(&want, sizeof want));
}

TEST_F(SysfsAttrsTest, RemotePortStatisticsByRls) {
    EXT_DEST_ADDR dest{};
    std::memcpy(dest.DestAddr.WWPN, "\x21\0\0\x1b\x32\xa0\0\x01", 8);
    const Words accepted{0, 0, 1, 2, 3, 4, 5, 6}, failed{1, 1, 0, 0, 0, 0, 0, 0}, short_of{1, 8, 0, 0, 0, 0, 0, 0};
    // bsg road, LS_RJT, a 27-byte LS_ACC on "els"; result, status, counters.
    const std::tuple<bool, bool, bool, Words> cases[] = {
        {true, false, false, accepted}, {false, false, false, accepted}, {true, true, false, failed},
        {false, true, false, failed}, {false, false, true, short_of}};
    for (const auto& [with_bsg, reject, short_answer, out] : cases) {
        std::tie(rec.features, san.reject_rls) = std::tuple(VX_FEAT_SYSFS | (with_bsg ? VX_FEAT_BSG : 0), reject);
        if (short_answer) host.set_attr(dir + "/els", sim::request_attr([](auto&) { return std::string(27, 2); }));
        EXT_HBA_PORT_STAT s{};
        uint32_t st = 0xFF;
        const auto r = static_cast<uint32_t>(vxsysfs_get_port_statistics(0, &rec, &dest, &s, &st));
        Words got{r, st, 0, 0, 0, 0, 0, 0};
        std::memcpy(&got[2], &s.TotalLinkFailures, 24);  // the six link error counters, in order
        EXPECT_EQ(got, out) << with_bsg << reject << short_answer;
    }
    EXPECT_EQ(bsg.log.back().dout, (Bytes{0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));  // the RLS payload
}

TEST_F(SysfsAttrsTest, I2cInPiecesThroughOneNode) {
    // Write, length, errnos of the requests, the driver's status of the pieces; then the status, the pieces sent
    // (offset, length) and the bytes done. A failed request's reply word is not read.
    const std::tuple<bool, uint16_t, std::deque<int>, uint32_t, uint32_t, Words, size_t> cases[] = {
        {false, 150, {}, 0, 0, {0x10, 64, 0x50, 64, 0x90, 22}, 150}, {false, 0, {}, 0, 0, {0x10, 0}, 0},
        {true, 150, {}, 0, 0, {0x10, 64, 0x50, 64, 0x90, 22}, 150},
        {false, 150, {0, EIO}, 0, 1, {0x10, 64, 0x50, 64}, 64},
        {true, 150, {0, ENOSYS}, 0, 20, {0x10, 64, 0x50, 64}, 64},   {false, 150, {}, 5, 5, {0x10, 64}, 0}};
    for (const auto& [write, len, errnos, driver, status, pieces, done] : cases) {
        std::tie(bsg.errnos, i2c.status) = std::tuple(errnos, driver);
        bsg.log.clear();
        Bytes memory = i2c.memory[0xA0], buf = write ? sim::pattern(len, 50) : Bytes(len, 0xEE), want = buf;
        uint32_t st = 0xFF;
        const int32_t r = write ? vxsysfs_set_i2c(0, &rec, 0xA0, 0x10, 7, len, buf.data(), &st)
                                : vxsysfs_get_i2c(0, &rec, 0xA0, 0x10, 7, len, buf.data(), &st);
        EXPECT_EQ(Words({static_cast<uint32_t>(r), st}), Words({0, status})) << write << " " << len;
        Words sent;
        for (const sim::BsgJob& job : bsg.log) {
            const auto* a = reinterpret_cast<const vxa_i2c_access*>(job.dout.data());
            EXPECT_EQ(Words({job.code, a->device, a->option}), Words({write ? 16u : 17u, 0xA0, 7}));
            sent.insert(sent.end(), {a->offset, a->length});
        }
        write ? (void)std::copy_n(buf.begin(), done, memory.begin() + 0x10)
              : (void)std::copy_n(memory.begin() + 0x10, done, want.begin());
        EXPECT_EQ(sent, pieces);
        EXPECT_EQ(Words({i2c.memory[0xA0] == memory, buf == want}), Words({1, 1}));
    }
    EXPECT_EQ(host.mknod_log().size(), std::size(cases));  // one node a call
}

// A vendor command whose reply reports a failed result fails with status 1, whatever its status word says: one
// without a reply of its own (FCP priority), one whose status word is read (NPIV QoS), the i2c pieces.
TEST_F(SysfsAttrsTest, VendorCommandFailedInItsReply) {
    bsg.vendor[VX_BSG_FCP_PRIO] = bsg.vendor[VX_BSG_NPIV_QOS] = [](sim::BsgJob&) { return 0; };
    uint8_t buf[24];
    // The status word is what each case pins.
    const std::function<void(uint32_t*)> calls[] = {
        [&](uint32_t* st) { (void)vxsysfs_bsg_qos_enable_disable(&rec, 1, st); },
        [&](uint32_t* st) { (void)vxsysfs_bsg_get_npiv_qos_config(0, &rec, buf, sizeof buf, st); },
        [&](uint32_t* st) { (void)vxsysfs_get_i2c(0, &rec, 0xA0, 0, 0, sizeof buf, buf, st); },
    };
    for (const auto& call : calls) {
        for (const uint32_t result : {0u, 0x70000u}) {
            bsg.replies = {{result}};
            uint32_t st = 0xFF;
            call(&st);
            EXPECT_EQ(st, result == 0 ? 0u : 1u) << (&call - calls);
        }
    }
}

// Host 5 with virtual port host 9. Remote port 1: target 0, LUN 3 on sg3;
// 2: target 300, LUNs 7, 16384 + 5 and 16384 + 4101 (flat space); 3: blocked.
class SysfsPassthruTest : public ::testing::Test {
protected:
    SysfsPassthruTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        std::strcpy(reinterpret_cast<char*>(rec.phys_path), fabric.pci_dirs[0].c_str());
        std::tie(rec.host_no, rec.interface_type) = std::tuple(5, VX_PORT_PHYSICAL);
        vport = rec;
        std::tie(vport.host_no, vport.interface_type, vport.parent) = std::tuple(9, VX_PORT_VIRTUAL, &rec);
        target.luns[3] = {};
        sg.luns[3] = {&target, 3};
        sg.attach(host);
        bsg.attach(host, fabric);
        sim::serve_fabric(answers, bsg, host, fabric.host_dirs[5]);
    }
    ~SysfsPassthruTest() override { sysfs_mnt_path[0] = '\0'; }
    static sim::SysfsSetup setup() {
        sim::SysfsSetup s;
        s.adapters = {sim::sysfs_adapter(0x2532, {5})};
        s.adapters[0].functions[0].vports = {9};
        std::vector<sim::SysfsRemotePort> r(3);
        for (unsigned i = 0; i < 3; ++i) std::tie(r[i].number, r[i].port_name[17]) = std::tuple(i + 1, '1' + i);
        r[0].luns = {{3, "sdc", 3, {}}};
        r[1].target_id = 300;
        r[1].luns = {{7, "sdd", 7, {}}, {16384 + 5, "sde", 8, {}}, {16384 + 4101, "sdf", 9, {}}};
        r[2].port_state = "Blocked";
        s.adapters[0].functions[0].host.rports = r;
        return s;
    }

    sim::ScsiTarget target;
    sim::SanFabric answers;
    sim::SimSg sg;
    sim::SimBsg bsg;
    sim::SimHost host;
    sim::SysfsFabric fabric = sim::install_sysfs_adapters(host, setup());
    vxapi_priv_database rec{}, vport{};
};

const uint8_t kWwpn1[8] = {0x21, 0, 0, 0x1b, 0x32, 0xa0, 0, 1};

TEST_F(SysfsPassthruTest, ScsiByAddressAndByWwpn) {
    const Bytes inquiry{0x12, 0, 0, 0, 36, 0}, read{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},
        far_read{0x28, 0, 0, 0, 1, 0, 0, 0, 1, 0}, tur(6, 0), read16(16, 0x88);
    enum Form { kAddr, kFc, kScsi3 };
    // Form, LUN, CDB, sense room, the target's answer (status, host status,
    // driver status, residual; none: the model's own), then the outcome
    // (result, status, SCSI status, sense length, first sense byte) and the
    // SG_IO sent (command length, sense room, timeout).
    const std::tuple<Form, uint16_t, Bytes, uint32_t, Words, Words, Words> cases[] = {
        {kAddr, 0, inquiry, 32, {}, {0, 0, 0, 0, 0}, {6, 32, 30000}},  // LUN 0 takes the first LUN
        {kAddr, 0, read, 32, {}, {1, 6, 0xFF, 32, 0xEE}, {}},          // but not for READ(10)
        {kAddr, 3, far_read, 256, {}, {0, 15, 2, 18, 0x70}, {10, 255, 30000}},
        {kAddr, 3, read, 32, {0, 0, 8, 0}, {1, 26, 8, 0, 0}, {10, 32, 30000}},
        {kAddr, 3, read, 0, {}, {1, 6, 0xFF, 0, 0xEE}, {}},  // no sense length
        {kFc, 3, tur, 32, {}, {0, 0, 0, 0, 0}, {16, 32, 30000}},
        {kFc, 3, far_read, 1000, {}, {0, 15, 2, 18, 0x70}, {16, 255, 30000}},
        {kFc, 3, read, 32, {sim::kScsiBusy, 0, 0, 0}, {0, 15, 8, 0, 0}, {16, 32, 30000}},
        {kFc, 3, read, 32, {0, 7, 0, 4}, {1, 8, 0, 0, 0}, {16, 32, 30000}},
        {kScsi3, 3, tur, 32, {}, {1, 6, 0xFF, 32, 0xEE}, {}},
        {kScsi3, 3, read16, 32, {}, {0, 15, 2, 18, 0x70}, {16, 32, 30000}},
    };
    for (const auto& [form, lun, cdb, room, given, out, sent] : cases) {
        SCOPED_TRACE(testing::Message() << form << " " << int{cdb[0]} << " " << lun);
        sg.log.clear();
        if (!given.empty()) {
            sim::ScsiAnswer& a = target.injected.emplace_back();
            std::tie(a.status, a.host_status, a.driver_status, a.resid) =
                std::tuple(given[0], given[1], given[2], given[3]);
        }
        uint8_t data[512], byte = 0xFF;  // LUN 3 on sg3 is the only LUN with a node
        uint32_t data_len = sizeof data, ext = 0xFF, scsi = 0xFF, sense_len = room, result;
        Bytes sense(room + 1, 0xEE);
        EXT_FC_SCSI_PASSTHRU pt{};
        if (form == kAddr) {
            const EXT_SCSI_ADDR addr{0, 0, lun, {}};
            result = vxsysfs_send_scsipt(0, &rec, &addr, cdb.data(), static_cast<uint32_t>(cdb.size()), nullptr, 0,
                                         data, &data_len, sense.data(), room != 0 ? &sense_len : nullptr, &ext, &byte);
            scsi = byte;
        } else {
            std::memcpy(pt.FCScsiAddr.DestAddr.WWPN, kWwpn1, 8);
            std::tie(pt.FCScsiAddr.DestType, pt.FCScsiAddr.Lun, pt.Direction) = std::tuple(VX_DEST_WWPN, lun, 1);
            std::tie(pt.CdbLength, pt.SenseLength, pt.SenseData[0]) = std::tuple(cdb.size(), room, 0xEE);
            std::copy(cdb.begin(), cdb.end(), pt.Cdb);
            result = (form == kFc ? vxsysfs_send_fc_scsipt : vxsysfs_send_scsi3pt)(0, &rec, data, &data_len, &pt, &ext,
                                                                                   &scsi);
            std::tie(sense_len, sense[0]) = std::tuple(pt.SenseLength, pt.SenseData[0]);
        }
        EXPECT_EQ(Words({result, ext, scsi, sense_len, sense[0]}), out);
        Words got;
        for (const sg_io_hdr_t& io : sg.log) got = {io.cmd_len, io.mx_sb_len, io.timeout};
        EXPECT_EQ(got, sent);
    }
}

TEST_F(SysfsPassthruTest, CtAndElsOnTheBsgAndAttributeRoads) {
    const Bytes ct{1, 0, 0, 0, 0xFC, 0x02, 0, 0, 0x01, 0x12, 0, 0x40, 0, 0, 0, 0, 9, 9, 9, 9};
    const auto els = [](uint8_t rport, size_t size = 40) {
        Bytes e(size, 0);
        std::copy_n(kWwpn1, 8, e.begin() + 8);
        e[15] = rport;
        if (size > 32) e[32] = 0x10;  // ECHO
        return e;
    };
    const Bytes ct_acc = answers.ct(ct), echo_acc = answers.els({0x10, 0, 0, 0, 0, 0, 0, 0});
    vxapi_priv_database orphan = vport;
    orphan.parent = nullptr;
    // bsg, port, request, a response length given, then the outcome (result,
    // status, response length: the bytes received once answered), the
    // response (zeroed or untouched behind the answer) and the bsg entry of
    // the job sent.
    const std::tuple<bool, vxapi_priv_database*, Bytes, bool, Words, Bytes, uint8_t, std::string> cases[] = {
        {true, &rec, ct, true, {0, 0, 16}, ct_acc, 0, "fc_host5"},
        {false, &vport, ct, true, {0, 0, 16}, ct_acc, 0, ""},  // the parent's "ct"
        {false, &orphan, ct, true, {0, 9, 64}, {}, 0, ""},
        {true, &rec, Bytes(ct.begin(), ct.begin() + 15), true, {1, 6, 64}, {}, 0xEE, ""},
        {false, &rec, ct, false, {1, 6, 0}, {}, 0xEE, ""},
        {true, &rec, els(1), true, {0, 0, 8}, echo_acc, 0, "rport-5:0-1"},
        {true, &rec, els(3), true, {0, 1, 64}, {}, 0, ""},  // not online: not sent (the node goes as ever)
        {true, &rec, els(4), true, {0, 9, 64}, {}, 0xEE, ""},
        {false, &rec, els(1), true, {0, 0, 8}, echo_acc, 0, ""},
        {true, &rec, els(1, 32), true, {1, 6, 64}, {}, 0xEE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const auto& [with_bsg, port, request, length, out, answer, fill, job] = c;
        bsg.log.clear();
        port->features = VX_FEAT_SYSFS | (with_bsg ? VX_FEAT_BSG : 0);
        Bytes resp(64, 0xEE), want = answer;
        want.resize(64, fill);
        uint32_t resp_len = 64, ext = 0xFF;
        const auto send = request.size() < 32 ? vxsysfs_send_ct_passthru : vxsysfs_send_els_passthru;
        const uint32_t result = send(0, port, request.data(), static_cast<uint32_t>(request.size()), resp.data(),
                                     length ? &resp_len : nullptr, &ext);
        EXPECT_EQ(Words({result, ext, length ? resp_len : 0}), out);
        EXPECT_EQ(resp, want);
        EXPECT_EQ(bsg.log.empty() ? "" : bsg.log[0].entry, job);
    }
}

TEST_F(SysfsPassthruTest, TargetAndLunList) {
    // Per entry: the entry count, DevType, target id, LUN count, the port
    // name's last byte, then the LUNs marked.
    const std::tuple<uint32_t, Words, std::vector<Words>> cases[] = {
        {10, {1, 6}, {}},
        {32 + 2079, {1, 6}, {}},
        {32 + 2080, {0, 0}, {{1, 2, 0, 1, 1, 3}}},
        {32 + 2 * 2080 + 100, {0, 0}, {{2, 2, 0, 1, 1, 3}, {2, 2, 300 & 0xFF, 2, 2, 5, 7}}},  // target 300's LUNs
    };
    for (const auto& [size, out, entries] : cases) {
        SCOPED_TRACE(size);
        sim::Exact list(Bytes(size, 0xEE));
        uint32_t ext = 0xFF;
        auto* head = reinterpret_cast<TGT_LUN_DATA_LIST*>(list.get());
        EXPECT_EQ(Words({static_cast<uint32_t>(vxsysfs_get_tgt_lun_data_list(0, &rec, head, size, &ext)), ext}), out);
        EXPECT_EQ(list.bytes() == Bytes(size, 0xEE), entries.empty());  // nothing written without an entry
        for (size_t i = 0; i < entries.size(); ++i) {
            auto* entry = reinterpret_cast<TGT_LUN_DATA_ENTRY*>(list.get() + 32 + i * 2080);
            Words got{head->EntryCount, entry->DevType, entry->TargetId, entry->LunCount, entry->PortName[7]};
            for (uint32_t l = 0; l < 2048; ++l) {
                if (vx_lun_data(entry)[l] != 0) got.push_back(l);
            }
            EXPECT_EQ(got, entries[i]);
        }
    }
}

}  // namespace

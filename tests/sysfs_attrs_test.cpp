// Attribute transfers of sysfs ports: NVRAM, VPD and SFP files, the beacon,
// statistics of the FC host, SCSI host and SCSI devices, RLS to a remote port
// on the bsg and "els" roads, i2c pieces through bsg.
#include "sim_passthru.h"
#include "sim_sysfs_attrs.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_attrs.h"
#include "transport/vx_sysfs_prim.h"

namespace {

using sim::Bytes;
using Words = std::vector<uint32_t>;

// Host 5 ("nvram" 512 bytes, read-only "sfp" 256, "vpd" 512) with virtual
// port host 9; remote port 1 (target 0, LUNs 0 and 1) and the fabric on bsg
// and "els"; i2c device 0xA0 of 256 bytes.
class SysfsAttrsTest : public ::testing::Test {
protected:
    SysfsAttrsTest() {
        std::strcpy(sysfs_mnt_path, "/sys");
        std::strcpy(reinterpret_cast<char*>(rec.phys_path), fabric.pci_dirs[0].c_str());
        std::tie(rec.host_no, rec.interface_type, rec.features) =
            std::tuple(5, VX_PORT_PHYSICAL, VX_FEAT_SYSFS | VX_FEAT_BSG);
        vport = rec;
        std::tie(vport.host_no, vport.interface_type, vport.parent) = std::tuple(9, VX_PORT_VIRTUAL, &rec);
        host.set_attr(dir + "/nvram", sim::bytes_attr(nvram, true), 0600);
        host.set_attr(dir + "/sfp", sim::bytes_attr(sfp), 0444);
        bsg.attach(host, fabric);
        sim::serve_fabric(san, bsg, host, dir);
        i2c.memory[0xA0] = sim::pattern(256, 3);
        i2c.attach(bsg);
    }
    ~SysfsAttrsTest() override { sysfs_mnt_path[0] = '\0'; }
    static sim::SysfsSetup setup() {
        sim::SysfsSetup s;
        s.adapters = {sim::sysfs_adapter(0x2532, {5})};
        s.adapters[0].functions[0].vports = {9};
        sim::SysfsRemotePort& r = s.adapters[0].functions[0].host.rports.emplace_back();
        std::tie(r.number, r.luns) = std::tuple(1, std::vector<sim::SysfsLun>{{0, "sdc", 3, {}}, {1, "sdd", 4, {}}});
        return s;
    }
    static std::shared_ptr<std::string> text(const Bytes& b) {
        return std::make_shared<std::string>(b.begin(), b.end());
    }

    sim::SanFabric san;
    sim::SimI2c i2c;
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
        {kSetNvram, false, 513, 1, 0},   {kSetNvram, true, 100, 9, 0},  {kSetVpd, false, 512, 0, 512},
        {kSetVpd, true, 512, 9, 0},
    };
    for (const auto& [op, virt, size, status, moved] : cases) {
        SCOPED_TRACE(testing::Message() << op << " " << virt << " " << size);
        vxapi_priv_database* port = virt ? &vport : &rec;
        std::string& source = op == kGetSfp ? *sfp : (op == kGetVpd || op == kSetVpd) ? *fabric.vpd[5] : *nvram;
        const Bytes before(source.begin(), source.end());
        Bytes buf = op >= kSetNvram ? sim::pattern(size, 9) : Bytes(size + 8, 0xEE);
        uint32_t st = 0xFF, len = size;
        const int32_t result = op == kGetNvram  ? vxsysfs_get_nvram(0, port, buf.data(), size, &st)
                               : op == kGetSfp  ? vxsysfs_get_sfp(0, port, buf.data(), size, &st)
                               : op == kGetVpd  ? vxsysfs_get_vpd(0, port, buf.data(), &len, &st)
                               : op == kSetVpd  ? vxsysfs_set_vpd(0, port, buf.data(), &len, &st)
                                                : vxsysfs_set_nvram(0, port, buf.data(), size, &st);
        EXPECT_EQ(Words({static_cast<uint32_t>(result), st, len}), Words({0, status, status == 0 ? moved : size}));
        Bytes want(before.begin(), before.begin() + moved);  // a read: zeroed to its size
        want.resize(size, 0), want.resize(size + 8, 0xEE);
        if (op >= kSetNvram) want = before, std::copy_n(buf.begin(), moved, want.begin());
        EXPECT_EQ(op >= kSetNvram ? Bytes(source.begin(), source.end()) : buf, want);
    }
}

TEST_F(SysfsAttrsTest, BeaconOnOffUnreadableAbsent) {
    const std::string path = "/sys/class/scsi_host/host5/beacon";
    const sim::SimHost::Attr unreadable{[](size_t, std::string&) { return EIO; }, {}};
    // The attribute's text (null: absent, "?": unreadable), the State set;
    // then get's status and State, set's status, and the value written.
    const std::tuple<const char*, uint32_t, Words, std::string> cases[] = {
        {"Enabled", VX_BEACON_OFF, {0, VX_BEACON_BLINK, 0}, "0"},
        {"Disabled", VX_BEACON_BLINK, {0, VX_BEACON_OFF, 0}, "1"},
        {"Enabled now", 7, {0, VX_BEACON_OFF, 0}, "0"},
        {"?", VX_BEACON_BLINK, {0, VX_BEACON_OFF, 1}, ""},
        {nullptr, VX_BEACON_BLINK, {9, 0x1234, 9}, ""},
    };
    for (const auto& [value, state, out, written] : cases) {
        SCOPED_TRACE(value != nullptr ? value : "absent");
        host.remove(path);
        if (value != nullptr) host.set_attr(path, *value == '?' ? unreadable : sim::text_attr(value, true), 0644);
        EXT_BEACON_CONTROL got{0x1234, {}};
        const EXT_BEACON_CONTROL set{state, {}};
        uint32_t get_st = 0xFF, set_st = 0xFF;
        const size_t writes = host.attr_writes().size();
        EXPECT_EQ(vxsysfs_get_beacon(0, &rec, &got, &get_st) + vxsysfs_set_beacon(0, &rec, &set, &set_st), 0);
        EXPECT_EQ(Words({get_st, got.State, set_st}), out);
        EXPECT_EQ(host.attr_writes().size() > writes ? host.attr_writes().back() : path + "=", path + "=" + written);
    }
}

TEST_F(SysfsAttrsTest, StatisticsWithAbsentFilesAndTheMegabyteSums) {
    EXT_HBA_PORT_STAT s;
    std::memset(&s, 0xA5, sizeof s);
    uint32_t st = 0xFF;
    vxsysfs_get_statistics(0, &rec, &s, &st);  // no statistics directory: nothing read
    EXPECT_EQ(Words({st, s.TxFrames}), Words({9, 0xA5A5A5A5}));
    const std::string fc = "/sys/class/fc_host/host5/statistics/", scsi = "/sys/class/scsi_host/host5/",
                      lun0 = "/sys/class/scsi_device/5:0:0:0/device/", lun1 = "/sys/class/scsi_device/5:0:0:1/device/";
    const std::pair<std::string, const char*> files[] = {
        {fc + "tx_frames", "0x1234"},           {fc + "rx_frames", "0x100000005"},
        {fc + "lip_count", "0xffffffffffffffff"}, {fc + "fcp_input_requests", "0x123456789"},
        {fc + "fcp_input_megabytes", "0x10"},   {fc + "fcp_output_megabytes", "0x20"},
        {scsi + "total_isp_aborts", "0x7"},     {scsi + "diag_requests", "10"},
        {scsi + "diag_megabytes", "5"},         {lun0 + "ioerr_cnt", "0x2"},
        {lun0 + "iodone_cnt", "0x30"},          {lun1 + "ioerr_cnt", "0x1"},
    };
    for (const auto& [file, value] : files) host.set_attr(file, sim::text_attr(value));
    host.set_attr(lun1 + "iodone_cnt", {[](size_t, std::string&) { return EIO; }, {}});
    std::memset(&s, 0, sizeof s);
    vxsysfs_get_statistics(0, &rec, &s, &st);
    EXPECT_EQ(st, 0u);
    EXT_HBA_PORT_STAT want{};
    std::tie(want.TxFrames, want.RxFrames, want.InputRequestCount, want.InputMBytes, want.OutputMBytes) =
        std::tuple(0x1234, 5, 0x123456789, 0x10, 0x20);
    std::tie(want.ControllerErrorCount, want.TotalIoCount, want.TotalMBytes, want.DeviceErrorCount) =
        std::tuple(7, 10 + 0x30, 5 + 0x30, 3);  // an unreadable iodone_cnt adds nothing
    EXPECT_EQ(sim::bytes_of(&s, sizeof s), sim::bytes_of(&want, sizeof want));
}

TEST_F(SysfsAttrsTest, RemotePortStatisticsByRls) {
    EXT_DEST_ADDR dest{};
    std::memcpy(dest.DestAddr.WWPN, "\x21\0\0\x1b\x32\xa0\0\x01", 8);
    // bsg road, LS_RJT, a 27-byte LS_ACC on "els"; then result, status, counters.
    const std::tuple<bool, bool, bool, Words> cases[] = {
        {true, false, false, {0, 0, 1, 2, 3, 4, 5, 6}}, {false, false, false, {0, 0, 1, 2, 3, 4, 5, 6}},
        {true, true, false, {1, 1, 0, 0, 0, 0, 0, 0}},  {false, true, false, {1, 1, 0, 0, 0, 0, 0, 0}},
        {false, false, true, {1, 1, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [with_bsg, reject, short_answer, out] : cases) {
        SCOPED_TRACE(testing::Message() << with_bsg << reject << short_answer);
        rec.features = VX_FEAT_SYSFS | (with_bsg ? VX_FEAT_BSG : 0);
        san.reject_rls = reject;
        if (short_answer) {
            host.set_attr(dir + "/els", sim::request_attr([](const auto&) { return std::string(27, 2); }), 0600);
        }
        EXT_HBA_PORT_STAT s{};
        uint32_t st = 0xFF;
        const auto r = static_cast<uint32_t>(vxsysfs_get_port_statistics(0, &rec, &dest, &s, &st));
        EXPECT_EQ(Words({r, st, s.TotalLinkFailures, s.TotalLossOfSync, s.TotalLossOfSignals,
                         s.PrimitiveSeqProtocolErrorCount, s.InvalidTransmissionWordCount, s.InvalidCRCCount}),
                  out);
    }
    EXPECT_EQ(bsg.log.back().entry, "rport-5:0-1");
    EXPECT_EQ(bsg.log.back().dout, Bytes({0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(SysfsAttrsTest, I2cInPiecesThroughOneNode) {
    // Write, length, the errnos and reply words of the pieces; then the status,
    // the pieces sent (offset, length) and the bytes done.
    const std::tuple<bool, uint16_t, std::deque<int>, std::deque<uint32_t>, uint32_t, Words, size_t> cases[] = {
        {false, 150, {}, {}, 0, {0x10, 64, 0x50, 64, 0x90, 22}, 150},
        {false, 0, {}, {}, 0, {0x10, 0}, 0},
        {true, 150, {}, {}, 0, {0x10, 64, 0x50, 64, 0x90, 22}, 150},
        {false, 150, {0, EIO}, {}, 1, {0x10, 64, 0x50, 64}, 64},  // no reply word of a failed request
        {true, 150, {0, ENOSYS}, {}, 20, {0x10, 64, 0x50, 64}, 64},
        {false, 150, {}, {0, 0, 5}, 5, {0x10, 64, 0x50, 64, 0x90, 22}, 128},
    };
    for (const auto& [write, len, errnos, statuses, status, pieces, done] : cases) {
        SCOPED_TRACE(testing::Message() << write << " " << len << " " << status);
        std::tie(bsg.errnos, i2c.statuses) = std::tuple(errnos, statuses);
        bsg.log.clear();
        const Bytes before = i2c.memory[0xA0];
        Bytes buf = write ? sim::pattern(len, 50) : Bytes(len, 0xEE), want = buf;
        uint32_t st = 0xFF;
        const int32_t r = write ? vxsysfs_set_i2c(0, &rec, 0xA0, 0x10, 7, len, buf.data(), &st)
                                : vxsysfs_get_i2c(0, &rec, 0xA0, 0x10, 7, len, buf.data(), &st);
        EXPECT_EQ(Words({static_cast<uint32_t>(r), st}), Words({0, status}));
        Words sent;
        for (const sim::BsgJob& job : bsg.log) {
            vxa_i2c_access a;
            std::memcpy(&a, job.dout.data(), sizeof a);
            EXPECT_EQ(Words({job.code, a.device, a.option}), Words({write ? 16u : 17u, 0xA0, 7}));
            sent.insert(sent.end(), {a.offset, a.length});
        }
        EXPECT_EQ(sent, pieces);
        Bytes memory = before;
        if (write) std::copy_n(buf.begin(), done, memory.begin() + 0x10);
        if (!write) std::copy_n(before.begin() + 0x10, done, want.begin());
        EXPECT_EQ(i2c.memory[0xA0], memory);
        EXPECT_EQ(buf, want);
    }
    EXPECT_EQ(host.mknod_log().size(), std::size(cases));  // one node a call
}

}  // namespace

// Diagnostics of a sysfs-mode port: the vendor commands over bsg, temperature and SerDes files, the firmware dump,
// the FCE trace and the diagnostic I/O streams.
#include <atomic>
#include <thread>

#include "sim_bsg.h"
#include "sim_diag.h"
#include "sysfs_rig.h"
#include "transport/vx_sysfs_diag.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;

struct SysfsDiagTest : ::testing::Test {
    SysfsDiagTest() {
        bsg.attach(rig.host, (rig.discover(), rig.fabric));
        drv.serve(bsg);
        std::tie(phys, dir) = std::tuple(sysfstest::SysfsRig::port(5), rig.fabric.host_dirs[5]);
    }
    sim::SimBsg bsg;
    sysfstest::SysfsRig rig{0x2532};
    sim::SimDiagBsg drv;
    vxapi_priv_database* phys = nullptr;
    std::string dir;
    uint32_t st = 99;
};

#define CALL(expr) [&](uint32_t* s) { return expr; }

// Per command: vendor_cmd words 0 and 1, reply length, data out and data in lengths as sent (nothing: none sent), the
// status (the driver answers 6 in a reply; an SG_IO failing with EIO gives 1, with ENOSYS 20). Data in is data out
// plus one: the records come back through the driver (capabilities twice).
TEST_F(SysfsDiagTest, VendorCommandsWordsDirectionsAndStatuses) {
    drv.status = 6;
    Bytes buf(24, 0x10);
    vxa_status_reg reg{};
    vxa_serdes_reg sr{1, 2, 3};
    vxa_serdes_reg_ex sx{1, 2, 3};
    vxa_flash_update_caps caps{7, 8, {}};
    auto* list = reinterpret_cast<vxa_image_version_list*>(buf.data());
    const std::tuple<std::function<int(uint32_t*)>, uint32_t, std::string, int> rows[] = {
        {CALL(vxsysfs_update_fru_versions(0, phys, list, 24, s)), 0, "11 0 16 24 0", 0},
        {CALL(vxsysfs_bsg_fru_status(0, phys, &reg, 14, 12, s)), 0, "12 0 16 14 14", 0},
        {CALL(vxsysfs_bsg_fru_status(0, phys, &reg, 14, 13, s)), 1, "13 0 16 14 0", EIO},
        {CALL(vxsysfs_bsg_fru_status(0, phys, &reg, 14, 14, s)), 9, "", 0},
        {CALL(vxsysfs_bsg_get_npiv_qos_config(0, phys, buf.data(), 24, s)), 6, "14 2 20 24 24", 0},
        {CALL(vxsysfs_bsg_set_npiv_qos_config(0, phys, buf.data(), 24, s)), 6, "14 3 20 24 0", 0},
        {CALL(vxsysfs_bsg_npiv_qos_enable_disable(0, phys, 9, s)), 6, "14 1 20 0 0", 0},
        {CALL(vxsysfs_bsg_npiv_qos_enable_disable(0, phys, 0, s)), 20, "14 0 20 0 0", ENOSYS},
        {CALL(vxsysfs_bsg_get_npiv_qos_perf(0, phys, buf.data(), 24, s)), 6, "14 4 20 24 24", 0},
        {CALL(vxsysfs_bsg_npiv_get_qos_list(0, phys, buf.data(), 24, s)), 6, "15 0 20 24 24", 0},
        {CALL(vxsysfs_bsg_serdes_reg_ops(0, phys, &sr, s)), 6, "19 0 20 6 6", 0},
        {CALL(vxsysfs_bsg_serdes_reg_ops_ex(0, phys, &sx, s)), 6, "20 0 20 10 10", 0},
        {CALL(vxsysfs_flash_update_capabilities(0, phys, &caps, s, 0)), 6, "21 0 20 32 32", 0},
        {CALL(vxsysfs_flash_update_capabilities(0, phys, &caps, s, 1)), 6, "22 0 20 32 32", 0},
    };
    for (const auto& [call, status, sent, fault] : rows) {
        bsg.log.clear(), bsg.errnos.assign(fault > 0 ? 1 : 0, fault);
        uint32_t st = 0xFF, words[2];
        const int rc = call(&st);
        std::string got;
        for (const sim::BsgJob& j : bsg.log) {
            std::memcpy(words, j.request.data() + 12, sizeof words);
            got += sysfstest::line("%u %u %u %u %u", words[0], words[1], j.hdr.max_response_len, j.hdr.dout_xfer_len,
                                   j.hdr.din_xfer_len) + (j.hdr.request_len == 20 ? "" : " !20");
        }
        EXPECT_EQ(std::tuple(rc, st, got), std::tuple(status == 1 || status == 20 ? 1 : 0, status, sent));
    }
    EXPECT_EQ(std::tuple(sr.val, uint32_t{sx.val}, caps.outage_duration, reg.status_reg),
              std::tuple(0x104, 0x1010104u, 0x202020Au, 1));
}

TEST_F(SysfsDiagTest, TemperatureTexts) {
    const std::string path = dir + "/scsi_host/host5/thermal_temp";
    // A text without a number fails (status 1) and leaves the caller's values.
    for (const auto& [text, status, whole, frac] : {std::tuple("45.50\n", 0u, 45, 50), {"45.5", 0u, 45, 5},
                                                     {"38", 0u, 38, 77}, {"x", 1u, 11, 77}, {"", 1u, 11, 77}}) {
        SCOPED_TRACE(text);
        rig.host.set_attr(path, sim::text_attr(text), 0444);
        EXT_BOARD_TEMP t{11, 77, {}};
        EXPECT_EQ(std::tuple(vxsysfs_get_board_temp(phys, &t, 64, &st), st, t.IntTemp, t.FracTemp),
                  std::tuple(0, status, whole, frac));
    }
    rig.host.remove(path);
    EXT_BOARD_TEMP t{};
    EXPECT_EQ(std::tuple(vxsysfs_get_board_temp(phys, &t, 64, &st), st), std::tuple(1, 9u));
}

// A virtual port reads its parent's block; a block larger than the buffer copies nothing.
TEST_F(SysfsDiagTest, SerdesParamsFromThePhysicalPort) {
    rig.host.set_attr(dir + "/read_serdes", sim::bytes_attr(std::make_shared<std::string>(512, 's')), 0444);
    vxapi_priv_database vport = *phys;
    std::tie(vport.interface_type, vport.parent, vport.phys_path[0]) = std::tuple(VX_PORT_VIRTUAL, phys, '\0');
    vxapi_priv_database other = *phys;
    other.interface_type = 2;
    for (const auto& [rec, size, status, copied] : {std::tuple(&vport, 1024u, 0u, 512u), {phys, 256u, 1u, 0u},
                                                    {&other, 1024u, 9u, 0u}}) {
        Bytes b(size, 0xEE);
        EXPECT_EQ(std::tuple(vxsysfs_get_serdes_params(0, rec, b.data(), size, &st), st), std::tuple(0, status));
        Bytes want(size, 0);
        std::fill_n(want.begin(), copied, 's');
        EXPECT_EQ(b, want);
    }
}

// Dump files: the newest stamp of the host wins; a name without a whole stamp is skipped; a long name is kept whole.
TEST_F(SysfsDiagTest, FwDumpNewestFileOfTheHost) {
    const std::string d = "/opt/Varnix_Corporation/FW_Dumps/", long_name = "fw_dump_3_20260101_000000" +
                                                                           std::string(80, 'n');
    for (const char* f : {"/etc/udev/rules.d/99-vxa2xxx.rules", "/lib/udev/vxa2xxx_udev.sh"}) rig.host.write_file(f, "");
    for (const char* f : {"fw_dump_3_20240101_120000.bin", "fw_dump_3_20240102_080000.bin",
                          "fw_dump_13_20250101_000000.bin", "fw_dump_3_2099", "fw_dump_3_29990101_12000x"}) {
        rig.host.write_file(d + f, "x");
    }
    vxapi_priv_database rec = *phys;
    const auto get = [&](uint32_t host, uint32_t size) {
        rec.host_no = host;
        std::string b(size + 1, '\xEE');
        const int r = vxsysfs_get_fw_dump(0, &rec, reinterpret_cast<uint8_t*>(b.data()), &size, &st);
        return std::tuple(r, st, size, std::string(b.c_str()));
    };
    EXPECT_EQ(get(3, 256), std::tuple(0, 33u, 256u, d + "fw_dump_3_20240102_080000.bin"));
    EXPECT_EQ(get(13, 256), std::tuple(0, 33u, 256u, d + "fw_dump_13_20250101_000000.bin"));
    EXPECT_EQ(get(3, 20), std::tuple(0, 33u, 20u, (d + "fw_dump").substr(0, 19)));
    EXPECT_EQ(get(3, 0), std::tuple(0, 16u, 63u, std::string("\xEE")));
    EXPECT_EQ(get(4, 256), std::tuple(1, 9u, 256u, std::string{}));  // no file, no driver dump size
    rig.host.write_file(d + long_name, "x");
    EXPECT_EQ(get(3, 256), std::tuple(0, 33u, 256u, d + long_name));
    EXPECT_EQ(vxsysfs_check_udev_scripts(), 0);
    rig.host.remove("/lib/udev/vxa2xxx_udev.sh");
    EXPECT_EQ(vxsysfs_check_udev_scripts(), 1);
}

// The driver's dump: sizes that give 16 and 23, or fail as no decimal of 32 bits; enable, read and clear, each
// failing; a failed read leaves the dump; the dump's length goes out with it.
TEST_F(SysfsDiagTest, FwDumpFromTheDriver) {
    sim::SimFwDump drv_dump;
    rig.host.set_attr(dir + "/fw_dump", drv_dump.attr());
    using Log = std::vector<std::string>;
    const struct {
        const char* size_text;
        int failing;
        uint32_t status, size_out;
        Log log;
    } rows[] = {
        {"1048576", 0, 16, 1048576, {}},
        {"0", 0, 23, 0, {}},
        {"16", 0, 0, 16, {"enable", "read", "clear"}},
        {"4294967312", 0, 7, 64, {}},  // past 32 bits: never a smaller size
        {"x10", 0, 1, 64, {}},
        {"16 bytes", 0, 0, 16, {"enable", "read", "clear"}},  // what follows the number is not judged
        {"", 0, 1, 64, {}},
        {"16", 1, 1, 64, {"enable"}},
        {"16", 2, 1, 64, {"enable", "read"}},
        {"16", 3, 1, 64, {"enable", "read", "clear"}},
    };
    for (const auto& c : rows) {
        SCOPED_TRACE(std::string(c.size_text) + " failing " + std::to_string(c.failing));
        rig.host.set_attr(dir + "/scsi_host/host5/fw_dump_size", sim::text_attr(c.size_text), 0444);
        std::tie(drv_dump.dump, drv_dump.failing, drv_dump.enabled) = std::tuple(std::string(16, 'D'), c.failing, false);
        drv_dump.log.clear();
        Bytes b(64, 0xEE);
        uint32_t size = 64;
        EXPECT_EQ(std::tuple(vxsysfs_get_fw_dump(0, phys, b.data(), &size, &st), st, size, drv_dump.log),
                  std::tuple(0, c.status, c.size_out, c.log));
        EXPECT_EQ(drv_dump.dump.size(), c.status == 0 ? 0u : 16u);
        EXPECT_EQ(Bytes(b.begin(), b.begin() + 16), c.log.size() == 3 ? Bytes(16, 'D') : Bytes(16, 0));
    }
}

// debugfs is mounted (with sh redirections) only when the trace is not visible, and unmounted only then.
TEST_F(SysfsDiagTest, FceTraceMountsDebugfsOnlyWhenNeeded) {
    const std::string fce = "/sys/kernel/debug/vxa2xxx/vxa2xxx_5/fce",
                      mount = "mount -t debugfs nodev /sys/kernel/debug/ > /dev/null 2>&1",
                      umount = "umount /sys/kernel/debug/ > /dev/null 2>&1";
    rig.host.script_command(mount, {"", 0, [&] { rig.host.write_file(fce, std::string(16384, 'f')); }});
    rig.host.script_command(umount, {"", 0, [&] { rig.host.remove("/sys/kernel/debug/vxa2xxx"); }});
    Bytes b(65536, 0xEE);
    const auto read = [&] {
        uint32_t size = 65536;
        const int r = vxsysfs_get_fce_buffer(0, phys, b.data(), &size, &st);
        return std::tuple(r, st, size, rig.host.commands());
    };
    using Log = std::vector<std::string>;
    EXPECT_EQ(read(), std::tuple(0, 0u, 16384u, Log{mount, umount}));
    EXPECT_EQ(std::tuple(b[16383], b[16384], rig.host.exists(fce)), std::tuple(uint8_t{'f'}, uint8_t{0}, false));
    rig.host.write_file(fce, "");  // mounted by someone else: left mounted; an empty trace fails
    EXPECT_EQ(read(), std::tuple(0, 1u, 65536u, Log{mount, umount}));
    rig.host.remove(fce);
    rig.host.script_command(mount, {"", 32});  // the mount fails: nothing to unmount
    EXPECT_EQ(read(), std::tuple(0, 9u, 65536u, Log{mount, umount, mount}));
}

// Diagnostic I/O: steps by (stream, its k-th transfer); the streams that sent; the status and the response buffer
// (the data, a stream's corrupted copy, or untouched).
TEST_F(SysfsDiagTest, DiagIoStreams) {
    using Steps = std::map<std::pair<uint32_t, uint32_t>, sim::SimDiagIo::Step>;
    enum Resp { kData, kCorrupt, kUntouched };
    const struct {
        const char* what;
        uint32_t threads, iterations;
        Steps steps;
        uint32_t status;
        Resp resp;
        std::map<uint32_t, uint32_t> jobs;
        unsigned failing_start = 0;
    } rows[] = {
        {"all good", 4, 10, {}, 0, kData, {{1, 10}, {2, 10}, {3, 10}, {4, 10}}},
        {"no streams", 0, 10, {}, 0, kData, {}},
        {"busy counts, last busy", 1, 3, {{{1, 1}, {2}}, {{1, 3}, {2}}}, 2, kUntouched, {{1, 3}}},
        {"driver status", 2, 3, {{{2, 2}, {7}}}, 7, kUntouched, {{1, 3}, {2, 2}}},
        {"ENOSYS late", 1, 3, {{{1, 2}, {0, ENOSYS}}}, 20, kUntouched, {{1, 2}}},
        {"EIO", 1, 3, {{{1, 1}, {0, EIO}}}, 1, kUntouched, {{1, 1}}},
        {"dropped later", 1, 3, {{{1, 2}, {0, 0, false, true}}}, 32, kCorrupt, {{1, 2}}},
        {"5th of 8 fails", 8, 2, {}, 31, kUntouched, {{1, 2}, {2, 2}, {3, 2}, {4, 2}}, 5},
        {"129", 129, 1, {}, 6, kUntouched, {}},
    };
    sim::SimDiagIo io;
    io.serve(bsg);
    for (const auto& c : rows) {
        SCOPED_TRACE(c.what);
        std::tie(io.steps, io.jobs) = std::tuple(c.steps, std::map<uint32_t, uint32_t>{});
        if (c.failing_start != 0) rig.host.fail_thread_start(c.failing_start, EAGAIN);
        Bytes data = sim::pattern(64, 3), resp(64, 0xEE), corrupt(64, 0);
        EXPECT_EQ(std::tuple(vxsysfs_diag_io(0, phys, data.data(), 64, resp.data(), c.threads, c.iterations, 1, &st),
                             st, io.jobs),
                  std::tuple(c.status == 6 ? 1 : 0, c.status, c.jobs));
        const Bytes want[] = {data, corrupt, Bytes(64, 0xEE)};
        EXPECT_EQ(resp, want[c.resp]);
    }
}

// Through the public function: stream 3 receives other data in its second transfer: a miscompare and its data; stream
// 2, held in its second transfer until the claim, stops after it; stream 1, held before its first transfer until the
// claim, reports 1 and so does the run.
TEST_F(SysfsDiagTest, DiagIoMiscompareStopsTheOthers) {
    phys->apihandle = 7;
    sim::SimDiagIo io;
    io.serve(bsg);
    io.steps[{3, 2}].corrupt = true;
    Bytes data = sim::pattern(64, 3), resp(64, 0xEE), got = data;
    got[0] ^= 0xFF;
    std::atomic<bool> claimed{false};  // stream 3 has ended: its claim and its copy into resp are made
    const auto wait_claim = [&] {
        while (!claimed.load()) std::this_thread::yield();
    };
    rig.host.on_thread_end([&](unsigned n) {
        if (n % 3 == 0) claimed = true;
    });
    for (bool hold_first : {false, true}) {
        io.jobs.clear(), std::fill(resp.begin(), resp.end(), 0xEE), claimed = false;
        rig.host.on_thread_begin([&](unsigned n) {
            if (hold_first && n % 3 == 1) wait_claim();
        });
        io.gate = [&](uint32_t stream, uint32_t k) {
            if (stream == 2 && k == 2) wait_claim();
            // Stream 3 miscompares once the others have completed a transfer (stream 1 only when not held).
            const auto others_done = [&] {
                std::lock_guard<std::mutex> lock(io.mu);
                return io.jobs[2] >= 2 && (hold_first || io.jobs[1] >= 2);
            };
            while (stream == 3 && k == 2 && !others_done()) std::this_thread::yield();
        };
        EXPECT_EQ(std::pair(SDDiagIO(7, data.data(), 64, resp.data(), 64, 3, 50, 1), resp),
                  std::pair(hold_first ? SDERR_UNKNOWN : SDERR_DATA_COMPARE, got));
        EXPECT_EQ(std::tuple(io.jobs[2], io.jobs[3]), std::tuple(2u, 2u)) << "stream 2 stopped after the claim";
    }
}

}  // namespace

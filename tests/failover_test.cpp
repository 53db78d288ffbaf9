// The failover interface against the simulated failover driver: requests on
// both header layouts, the status map, refusals, the configuration store
// test, the legacy slots filled by opens, and the shell runner.
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failover/vx_fo_channel.h"
#include "sim_adapters.h"
#include "sim_failover.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;

// Slot 0 holds driver instance 2 (handle 7), slot 1 driver instance 1
// (handle 8): a request by handle 7 for instance 1 selects 2 and names 1.
class FoTest : public ::testing::Test {
protected:
    FoTest() {
        std::memset(api_priv_data, 0, sizeof api_priv_data);
        for (int i = 0; i < 3; ++i) rig.driver.add_port(rig.driver.add_adapter());
        fo.install(rig.driver);
        fill_slot(0, 2, 7);
        fill_slot(1, 1, 8);
    }
    ~FoTest() override { std::memset(api_priv_data, 0, sizeof api_priv_data); }

    void fill_slot(unsigned i, uint16_t drvr_inst, uint32_t handle) {
        vxapi_priv_db_t& s = api_priv_data[i];
        std::snprintf(s.phys_path, sizeof s.phys_path, "/dev/vxa2xxx");
        std::snprintf(s.model, sizeof s.model, "vxa2xxx");
        s.oshandle = rig.fd;
        s.apihandle = handle;
        s.drvr_inst = drvr_inst;
        s.drvr_attr = 1;
        s.features = VX_FEAT_NEW_IOCTL;
    }
    void set_headers(bool new_header) {
        for (vxapi_priv_db_t& s : api_priv_data) s.features = new_header ? VX_FEAT_NEW_IOCTL : 0;
    }
    // The request bytes of a failover request as the driver received them.
    const Bytes& sent(uint8_t nr) { return fo.received[nr].request; }
    void reply(uint8_t nr, Bytes bytes) { fo.replies[nr].response = std::move(bytes); }

    sim::DriverRig rig;
    sim::SimFailover fo;
    std::unique_ptr<FO_LUN_DATA_LIST> luns = std::make_unique<FO_LUN_DATA_LIST>();
    std::unique_ptr<FO_TARGET_DATA_LIST> targets = std::make_unique<FO_TARGET_DATA_LIST>();
    FO_PATHS_INFO paths{};
    FO_PATH_REQUEST path{1, 0, FO_ADDRESS_PORT_NAME, {1, 2, 3, 4, 5, 6, 7, 8}, 9, {0x11, 0x22}};
    FO_SYS_PARAMS params{};
    FO_DRIVER_VERSION version{};
};

TEST_F(FoTest, RequestsOnBothHeaderLayoutsCarryTheirSizesAndInstances) {
    struct Op {
        uint8_t nr;
        std::function<SD_UINT32()> call;
        uint32_t req_len, resp_len;  // at 2,048 (list) or 256 (path, target) LUNs; 4,096 below
        uint32_t req_4096, resp_4096;
    };
    const Op ops[] = {
        {200, [&] { return ISDFoGetSysParams(7, &params, 0); }, 0, 64, 0, 64},
        {201, [&] { return ISDFoSetSysParams(7, &params, 0); }, 64, 0, 64, 0},
        {202, [&] { return ISDFoGetPaths(7, &path, &paths, 0); }, 40, 7484, 40, 11324},
        {203, [&] { return ISDFoSetCurrentPath(7, &path, 0); }, 32, 0, 32, 0},
        {204, [&] { return ISDFoGetStatistics(7, 1, nullptr); }, 32, 8, 32, 8},
        {205, [&] { return ISDFoResetStatistics(7, 1); }, 32, 0, 32, 0},
        {206, [&] { return ISDFoGetLunData(7, 1, nullptr, luns.get(), 0); }, 32, 532512, 32, 1056800},
        {207, [&] { return ISDFoSetLunData(7, 1, nullptr, luns.get(), 0); }, 532544, 0, 1056832, 0},
        {208, [&] { return ISDFoGetTargetData(7, 1, nullptr, targets.get(), 0); }, 32, 17408, 32, 140288},
        {209, [&] { return ISDFoSetTargetData(7, 1, nullptr, targets.get(), 0); }, 17440, 0, 140320, 0},
        {210, [&] { return ISDFoGetFoDriverVersion(7, &version); }, 0, 100, 0, 100},
    };
    for (bool new_header : {true, false}) {
        for (bool lun4096 : {false, true}) {
            set_headers(new_header);
            api_priv_data[0].features |= lun4096 ? VX_FEAT_LUN_4096 : 0;
            for (const Op& op : ops) {
                rig.driver.clear_log();
                EXPECT_EQ(op.call(), 0u) << int(op.nr);
                const auto log = rig.driver.log();
                ASSERT_EQ(log.size(), 1u) << int(op.nr);
                EXPECT_EQ(log[0].code, new_header ? sim::sim_code(op.nr) : sim::sim_code_old(op.nr));
                EXPECT_EQ(log[0].hba_select, 2) << "the handle's slot selects the driver instance";
                EXPECT_EQ(log[0].request_len, lun4096 ? op.req_4096 : op.req_len) << sim::describe(log[0]);
                EXPECT_EQ(log[0].response_len, lun4096 ? op.resp_4096 : op.resp_len) << sim::describe(log[0]);
                if (op.nr >= 202 && op.nr <= 209) {
                    EXPECT_EQ(sent(op.nr)[0], 1) << "the instance's driver instance";
                }
            }
        }
    }
}

TEST_F(FoTest, StatusMapAndSystemErrors) {
    struct Case { uint32_t status, detail, result; };
    const Case cases[] = {{0, 0, 0},           {1, 0, 0x20000066},   {2, 0, 0x20000067},  {6, 0, 0x20000064},
                          {9, 0, 0x2000006d},  {13, 0, 0x20000071},  {14, 0, 0x20000037}, {15, 0x1234, 0x1234},
                          {15, 0, 0},          {16, 0, 0x20000072},  {17, 0, 0x20000066}, {19, 0, 0x20000066},
                          {20, 0, 0x20000073}, {21, 0, 0x20000066},  {23, 0, 0x2000007b}, {29, 0, 0x20000074}};
    reply(210, sim::pattern(100, 1));
    for (const Case& c : cases) {
        fo.replies[210].status = c.status;
        fo.replies[210].detail_status = c.detail;
        version = FO_DRIVER_VERSION{};
        EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), c.result) << c.status;
        EXPECT_EQ(version.Version[0] != 0, c.result == 0) << "written only on success, status " << c.status;
    }
    rig.driver.inject_errno(EIO);
    EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), static_cast<SD_UINT32>(EIO));
}

TEST_F(FoTest, RepliesAndRequestsAtTheDriversOffsets) {
    // Parameter block: only the carried bytes travel, either way.
    auto carried = [](size_t i) { return i != 7 && (i < 16 || i > 31) && i != 35 && i != 42 && i != 43 && i < 60; };
    reply(200, sim::pattern(64, 3));
    std::memset(&params, 0xA5, sizeof params);
    ASSERT_EQ(ISDFoGetSysParams(7, &params, 0), 0u);
    const Bytes got = sim::bytes_of(&params, sizeof params);
    ASSERT_EQ(ISDFoSetSysParams(7, &params, 0), 0u);
    for (size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(got[i], carried(i) ? fo.replies[200].response[i] : 0xA5) << i;
        EXPECT_EQ(sent(201)[i], carried(i) ? got[i] : 0) << i;
    }

    // Paths: the address by type (7: none), the reply's parts into their fields.
    Bytes path_reply = sim::pattern(7228 + 256, 5);
    reply(202, path_reply);
    ASSERT_EQ(ISDFoGetPaths(7, &path, &paths, 0), 0u);
    EXPECT_EQ(Bytes(sent(202).begin() + 2, sent(202).begin() + 20), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 2, 0, 9, 0,
                                                                             0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(paths.HbaInstance, 1);
    EXPECT_EQ(paths.PathInfoA, path_reply[40]);
    EXPECT_EQ(paths.PathInfoB, path_reply[42]);
    EXPECT_EQ(sim::bytes_of(paths.LunPath, 256), Bytes(path_reply.begin() + 44, path_reply.begin() + 300));
    EXPECT_EQ(paths.LunPath[256], 0) << "only the driver's 256 LUNs";
    EXPECT_EQ(sim::bytes_of(paths.PathEntry, 7168), Bytes(path_reply.begin() + 300, path_reply.end() - 16));
    const std::pair<uint16_t, Bytes> queries[] = {{FO_ADDRESS_PORT_ID, {1, 2, 3, 0, 0, 0, 0, 0, 3, 0, 9, 0}},
                                                  {FO_ADDRESS_PAIR, {1, 2, 3, 4, 0, 0, 0, 0, 5, 0, 9, 0}},
                                                  {7, Bytes(12, 0)}};
    for (const auto& [type, want] : queries) {
        path.AddressType = type;
        ASSERT_EQ(ISDFoSetCurrentPath(7, &path, 0), 0u);
        EXPECT_EQ(Bytes(sent(203).begin() + 2, sent(203).begin() + 14), want) << type;
        EXPECT_EQ(sent(203)[18], 0x11);
        EXPECT_EQ(sent(203)[19], 0x22);
    }

    // LUN list: a count above 256 fills 256 entries; a set sends all 256.
    Bytes lun_reply(32 + 256 * 2080, 0);
    lun_reply[0] = 4;
    lun_reply[2] = 300 & 0xFF;
    lun_reply[3] = 300 >> 8;
    Bytes last = sim::pattern(2080, 9);
    std::copy(last.begin(), last.end(), lun_reply.end() - 2080);
    reply(206, lun_reply);
    ASSERT_EQ(ISDFoGetLunData(7, 1, nullptr, luns.get(), 0), 0u);
    EXPECT_EQ(luns->Version, 4);
    EXPECT_EQ(luns->EntryCount, 256);
    const FO_EXTERNAL_LUN_DATA_ENTRY& e = luns->DataEntry[255];
    EXPECT_EQ(sim::bytes_of(e.NodeName, 16), Bytes(last.begin(), last.begin() + 16));
    EXPECT_EQ(e.Dev_No, last[18]);
    EXPECT_EQ(e.TargetId, last[19]);
    EXPECT_EQ(sim::bytes_of(e.Data, 2048), Bytes(last.begin() + 32, last.end()));
    luns->EntryCount = 300;
    ASSERT_EQ(ISDFoSetLunData(7, 1, nullptr, luns.get(), 0), 0u);
    EXPECT_EQ(Bytes(sent(207).begin() + 32, sent(207).begin() + 36), (Bytes{4, 0, 0, 1})) << "count capped at 256";
    Bytes sent_last(sent(207).end() - 2080, sent(207).end());
    std::fill(last.begin() + 16, last.begin() + 32, 0);
    EXPECT_EQ(sent_last, last);

    // Targets: all 256 entries written, those with a port name counted.
    Bytes target_reply(256 * 68, 0);
    for (size_t r : {3u, 200u}) target_reply[r * 68 + 24] = 0x50;
    target_reply[3 * 68 + 19] = 0x10;
    target_reply[3 * 68 + 35] = 2;
    reply(208, target_reply);
    std::memset(targets.get(), 0xA5, sizeof *targets);
    ASSERT_EQ(ISDFoGetTargetData(7, 1, nullptr, targets.get(), 0), 0u);
    EXPECT_EQ(targets->EntryCount, 2);
    EXPECT_EQ(targets->Version, 0xA5A5) << "not written";
    EXPECT_EQ(targets->DataEntry[3].Control, 0x10);
    EXPECT_EQ(targets->DataEntry[3].PathNumber, 2);
    EXPECT_EQ(targets->DataEntry[5].PortName[0], 0) << "uncounted entries are written too";
    ASSERT_EQ(ISDFoSetTargetData(7, 1, nullptr, targets.get(), 0), 0u);
    Bytes want(68, 0);
    want[19] = 0x10;
    want[24] = 0x50;
    std::memset(want.data() + 8, 0, 8);
    EXPECT_EQ(Bytes(sent(209).begin() + 32 + 3 * 68, sent(209).begin() + 32 + 4 * 68), want);
    EXPECT_EQ(sent(209)[1], 0);

    // Driver version, API version and capability.
    reply(210, sim::pattern(100, 2));
    ASSERT_EQ(ISDFoGetFoDriverVersion(7, &version), 0u);
    EXPECT_EQ(sim::bytes_of(&version, 3), sim::pattern(3, 2));
    EXPECT_EQ(sim::bytes_of(version.VersionText, 32), Bytes(fo.replies[210].response.begin() + 4,
                                                            fo.replies[210].response.begin() + 36));
    char text[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(ISDFoGetApiVersion(text, 5), 0x3000107u);
    EXPECT_STREQ(text, "3.0.");
    EXPECT_EQ(ISDFoGetApiVersion(nullptr, 5), 0x3000107u);
    SD_UINT32 capability = 0;
    for (uint32_t attr : {1u, 0u}) {
        api_priv_data[1].drvr_attr = attr;
        EXPECT_EQ(ISDFoGetFoCapability(8, &capability), 0u);
        EXPECT_EQ(capability, attr != 0 ? FO_CAPABILITY_FAILOVER : FO_CAPABILITY_NONE);
    }
}

// Unknown handles and instances beyond the slots are refused before any
// request; in sysfs mode nothing reaches the driver either.
TEST_F(FoTest, RefusalsSendNothing) {
    fill_slot(2, 0, 9);
    api_priv_data[2].phys_path[0] = '\0';  // a slot without a path holds no port
    SD_UINT32 capability = 0;
    for (SD_UINT32 handle : {0u, 99u, 9u}) {
        EXPECT_EQ(ISDFoGetFoDriverVersion(handle, &version), SDERR_DEVICE_NOT_FOUND) << handle;
        EXPECT_EQ(ISDFoResetStatistics(handle, 1), SDERR_DEVICE_NOT_FOUND) << handle;
        EXPECT_EQ(ISDFoGetFoCapability(handle, &capability), SDERR_INVALID_HANDLE) << handle;
        EXPECT_EQ(capability, FO_CAPABILITY_NONE);
    }
    path.HbaInstance = 32;
    EXPECT_EQ(ISDFoGetPaths(7, &path, &paths, 0), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(ISDFoSetCurrentPath(7, &path, 0), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(ISDFoGetStatistics(7, 32, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(ISDFoGetLunData(7, 40, nullptr, luns.get(), 0), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(ISDFoSetTargetData(7, 32, nullptr, targets.get(), 1), SDERR_INVALID_PARAMETER);
    api_priv_data[0].features |= VX_FEAT_SYSFS;
    EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(ISDFoGetTargetData(7, 1, nullptr, targets.get(), 1), SDERR_NOT_SUPPORTED);
    EXPECT_TRUE(rig.driver.log().empty());
}

// The driver is asked once a slot's driver has been found to use the new
// store; an older driver is asked every time.
TEST_F(FoTest, StoreDecisionAtTheVersionThresholds) {
    struct Case { EXT_LN_DRV_VERSION v; int result; };
    const Case cases[] = {{{6, 5, 9, 9, {}}, 0}, {{6, 6, 0, 8, {}}, 0}, {{6, 6, 0, 1, {}}, 0}, {{6, 6, 0, 0, {}}, 1},
                          {{6, 6, 0, 9, {}}, 1}, {{6, 6, 1, 1, {}}, 1}, {{6, 7, 0, 0, {}}, 1}, {{5, 9, 9, 9, {}}, 0},
                          {{7, 0, 0, 0, {}}, 1}};
    for (const Case& c : cases) {
        api_priv_data[0].features &= ~VX_SLOT_NEW_CFG_STORE;
        rig.driver.find_port(2)->driver_data.DrvVer = c.v;
        rig.driver.clear_log();
        EXPECT_EQ(vxapi_hba_support_new_cfg_store(7, 5), c.result) << int(c.v.Major) << "." << int(c.v.Minor);
        EXPECT_EQ(vxapi_hba_support_new_cfg_store(7, 5), c.result);
        EXPECT_EQ(rig.driver.log().size(), c.result == 1 ? 1u : 2u);
    }
    EXPECT_EQ(vxapi_hba_support_new_cfg_store(99, 0), 0);
    rig.driver.inject_status(1);
    api_priv_data[1].features &= ~VX_SLOT_NEW_CFG_STORE;
    EXPECT_EQ(vxapi_hba_support_new_cfg_store(8, 0), 0) << "a refused query is the old store";

    // By module: slot 31 is never looked at; a slot whose port cannot be
    // opened (the library does not load) is passed over.
    uint8_t found = 7;
    for (unsigned i = 2; i < 32; ++i) fill_slot(i, 1, 0);
    for (unsigned i = 0; i < 31; ++i) std::snprintf(api_priv_data[i].model, 16, "other");
    EXPECT_EQ(vxapi_drvr_support_new_cfg_store("vxa2xxx", &found), 0);
    EXPECT_EQ(found, 0);
    std::snprintf(api_priv_data[4].model, 16, "vxa2xxx");
    fill_slot(5, 2, 7);
    rig.host.set_euid(1000);
    EXPECT_EQ(vxapi_drvr_support_new_cfg_store("vxa2xxx", &found), 1);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(vxapi_drvr_support_new_cfg_store("", &found), 0);
    EXPECT_EQ(found, 0);
}

// Opens fill the slot of the port's position; a failover request by each
// handle reaches that port's driver instance; a close makes the handle unknown.
TEST(FoSlots, OpensFillTheSlotsAndClosesEmptyThem) {
    std::memset(api_priv_data, 0, sizeof api_priv_data);
    sim::SimHost host;
    sim::SimDriver driver;
    sim::FabricSetup setup;
    setup.adapters = {sim::adapter(0x2432, 2)};
    const sim::Fabric fabric = sim::install_adapters(host, driver, setup);
    sim::SimFailover fo;
    fo.install(driver);
    int handles[2] = {};
    for (SD_UINT32 i : {0u, 1u}) ASSERT_EQ(SDOpenDevice(i, &handles[i]), 0u);
    for (int i : {0, 1}) {
        const vxapi_priv_db_t& slot = api_priv_data[i];
        EXPECT_STREQ(slot.model, "vxa2xxx");
        EXPECT_EQ(slot.apihandle, static_cast<uint32_t>(handles[i]));
        EXPECT_EQ(slot.oshandle, check_handle(slot.apihandle)->oshandle);
        EXPECT_EQ(slot.drvr_inst, fabric.physical[i]->instance);
        EXPECT_EQ(slot.features, VX_FEAT_NEW_IOCTL);
        driver.clear_log();
        FO_DRIVER_VERSION version{};
        EXPECT_EQ(ISDFoGetFoDriverVersion(slot.apihandle, &version), 0u);
        ASSERT_EQ(driver.log().size(), 1u);
        EXPECT_EQ(driver.log()[0].hba_select, fabric.physical[i]->instance);
    }
    uint8_t found = 0;
    ASSERT_EQ(SDCloseDevice(handles[0]), 0u);
    EXPECT_EQ(api_priv_data[0].oshandle, -1);
    FO_DRIVER_VERSION version{};
    EXPECT_EQ(ISDFoGetFoDriverVersion(static_cast<SD_UINT32>(handles[0]), &version), SDERR_DEVICE_NOT_FOUND);
    // The store test opens the closed port for its question and closes it again.
    EXPECT_EQ(vxapi_drvr_support_new_cfg_store("vxa2xxx", &found), 1);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(api_priv_data[0].apihandle, 0u);
    ASSERT_EQ(SDCloseDevice(handles[1]), 0u);
    EXPECT_EQ(api_priv_data[1].apihandle, 0u);
    std::memset(api_priv_data, 0, sizeof api_priv_data);
}

TEST(VSystem, ChildRunsTheCommandAndEndsAtOnce) {
    struct Case {
        const char* what;
        std::function<void(sim::SimHost&)> setup;
        int result;
        std::vector<std::string> log;  // after the two flushes
    };
    const Case cases[] = {
        {"copies", [](sim::SimHost&) {}, 0, {"fork", "exec cp -f /etc/a /etc/c", "waitpid"}},
        {"exit 3", [](sim::SimHost& h) { h.script_command("cp -f /etc/a /etc/c", {"", 3}); }, 0x300,
         {"fork", "exec cp -f /etc/a /etc/c", "waitpid"}},
        {"no exec", [](sim::SimHost& h) { h.fail_exec(ENOENT); }, 0x100, {"fork", "exit_child 1", "waitpid"}},
        {"no fork", [](sim::SimHost& h) { h.fail_fork(EAGAIN); }, -1, {"fork failed"}},
        {"interrupted", [](sim::SimHost& h) { h.fail_waitpid(EINTR, 2); }, 0,
         {"fork", "waitpid failed", "waitpid failed", "exec cp -f /etc/a /etc/c", "waitpid"}},
        {"wait fails", [](sim::SimHost& h) { h.fail_waitpid(ECHILD); }, -1, {"fork", "waitpid failed"}},
    };
    for (const Case& c : cases) {
        sim::SimHost host;
        host.write_file("/etc/a", "text");
        c.setup(host);
        EXPECT_EQ(v_system("cp -f /etc/a /etc/c"), c.result) << c.what;
        std::vector<std::string> want = {"fflush stdout", "fflush stderr"};
        want.insert(want.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(host.process_log(), want) << c.what;
        EXPECT_EQ(host.read_file("/etc/c"), c.result == 0 ? "text" : "") << c.what;
    }
}

}  // namespace

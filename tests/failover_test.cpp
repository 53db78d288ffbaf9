// The failover interface against the simulated failover driver, the legacy slots that opens fill, and the shell
// runner.
#include "failover/vx_fo_channel.h"
#include "sim_adapters.h"
#include "sim_failover.h"
#include "sysfs_rig.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

using sim::Bytes;
using Log = std::vector<std::string>;

template <class T>
std::vector<T> part(const std::vector<T>& b, size_t from, size_t n) {
    return std::vector<T>(b.begin() + from, b.begin() + from + n);
}
template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The store test by module: 10 for the new store plus the found flag; -1 when the driver could not say.
int store_and_found(const char* model) {
    uint8_t found = 7;
    bool new_store = true;
    if (vxapi_drvr_support_new_cfg_store(model, &found, &new_store) != 0) return new_store ? -2 : -1;
    return new_store * 10 + found;
}

// The store test by handle: 1 for the new store, 0 for the old.
int new_store_of(uint32_t handle) {
    bool new_store = false;
    EXPECT_EQ(vxapi_hba_support_new_cfg_store(handle, 5, &new_store), 0u);
    return new_store;
}

// Slot 0: driver instance 2, handle 7; slot 1: driver instance 1, handle 8.
// A request by handle 7 for instance 1 selects instance 2 and names 1.
class FoTest : public ::testing::Test {
protected:
    FoTest() {
        for (int i = 0; i < 3; ++i) rig.driver.add_port(rig.driver.add_adapter());
        fo.install(rig.driver);
        fill_slot(0, 2, 7);
        fill_slot(1, 1, 8);
    }
    ~FoTest() override { std::memset(api_priv_data, 0, sizeof api_priv_data); }

    void fill_slot(unsigned i, uint16_t drvr_inst, uint32_t handle, const char* model = "vxa2xxx") {
        vxapi_priv_db_t& s = api_priv_data[i];
        std::snprintf(s.phys_path, sizeof s.phys_path, "/dev/vxa2xxx");
        std::snprintf(s.model, sizeof s.model, "%s", model);
        std::tie(s.oshandle, s.apihandle, s.drvr_inst) = std::tuple(rig.fd, handle, drvr_inst);
        s.features = VX_FEAT_NEW_IOCTL;
    }
    const Bytes& sent(uint8_t nr) { return fo.received[nr].request; }
    Bytes& reply(uint8_t nr, Bytes bytes) { return fo.replies[nr].response = std::move(bytes); }

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
    struct Op { uint8_t nr; std::function<SD_UINT32()> call; uint32_t req[2], resp[2]; };  // [1]: 4,096 LUNs
    const Op ops[] = {
        {200, [&] { return ISDFoGetSysParams(7, &params, 0); }, {0, 0}, {64, 64}},
        {201, [&] { return ISDFoSetSysParams(7, &params, 0); }, {64, 64}, {0, 0}},
        {202, [&] { return ISDFoGetPaths(7, &path, &paths, 0); }, {40, 40}, {7484, 11324}},
        {203, [&] { return ISDFoSetCurrentPath(7, &path, 0); }, {32, 32}, {0, 0}},
        {204, [&] { return ISDFoGetStatistics(7, 1, nullptr); }, {32, 32}, {8, 8}},
        {205, [&] { return ISDFoResetStatistics(7, 1); }, {32, 32}, {0, 0}},
        {206, [&] { return ISDFoGetLunData(7, 1, nullptr, luns.get(), 0); }, {32, 32}, {532512, 1056800}},
        {207, [&] { return ISDFoSetLunData(7, 1, nullptr, luns.get(), 0); }, {532544, 1056832}, {0, 0}},
        {208, [&] { return ISDFoGetTargetData(7, 1, nullptr, targets.get(), 0); }, {32, 32}, {17408, 140288}},
        {209, [&] { return ISDFoSetTargetData(7, 1, nullptr, targets.get(), 0); }, {17440, 140320}, {0, 0}},
        {210, [&] { return ISDFoGetFoDriverVersion(7, &version); }, {0, 0}, {100, 100}},
    };
    for (uint32_t features : {VX_FEAT_NEW_IOCTL, 0u, VX_FEAT_NEW_IOCTL | VX_FEAT_LUN_4096, VX_FEAT_LUN_4096}) {
        api_priv_data[0].features = features;
        const bool big = (features & VX_FEAT_LUN_4096) != 0;
        for (const Op& op : ops) {
            rig.driver.clear_log();
            EXPECT_EQ(op.call(), 0u) << int(op.nr);
            ASSERT_EQ(rig.driver.log().size(), 1u) << int(op.nr);
            // The handle's slot selects the driver instance; the request names the instance's driver instance.
            const sim::SimLogEntry e = rig.driver.log()[0];
            EXPECT_EQ(e.code, features & VX_FEAT_NEW_IOCTL ? sim::sim_code(op.nr) : sim::sim_code_old(op.nr));
            EXPECT_EQ(std::tuple(e.hba_select, e.request_len, e.response_len), std::tuple(2, op.req[big], op.resp[big]))
                << sim::describe(e);
            EXPECT_TRUE(op.nr < 202 || op.nr > 209 || sent(op.nr)[0] == 1);
        }
    }
}

TEST_F(FoTest, StatusMapAndSystemErrors) {
    const uint32_t cases[][3] = {{0, 0, 0},           {1, 0, 0x20000066},  {2, 0, 0x20000067},  {6, 0, 0x20000064},
                                 {9, 0, 0x2000006d},  {13, 0, 0x20000071}, {14, 0, 0x20000037}, {15, 0x1234, 0x1234},
                                 {15, 0, 0},          {16, 0, 0x20000072}, {17, 0, 0x20000066}, {19, 0, 0x20000066},
                                 {20, 0, 0x20000073}, {21, 0, 0x20000066}, {23, 0, 0x2000007b}, {29, 0, 0x20000074}};
    reply(210, sim::pattern(100, 1));
    for (const auto& [status, detail, result] : cases) {
        std::tie(fo.replies[210].status, fo.replies[210].detail_status) = std::tuple(status, detail);
        version = FO_DRIVER_VERSION{};
        EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), result) << status;
        EXPECT_EQ(version.Version[0] != 0, result == 0) << "written only on success, status " << status;
    }
    rig.driver.inject_errno(EIO);
    EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), static_cast<SD_UINT32>(EIO));
}

TEST_F(FoTest, RepliesAndRequestsAtTheDriversOffsets) {
    // Parameter block: only the carried bytes travel, either way (sent byte * 256 + caller's byte).
    auto carried = [](size_t i) { return i != 7 && (i < 16 || i > 31) && i != 35 && i != 42 && i != 43 && i < 60; };
    const Bytes block = reply(200, sim::pattern(64, 3));
    std::memset(&params, 0xA5, sizeof params);
    ASSERT_EQ(ISDFoGetSysParams(7, &params, 0), 0u);
    ASSERT_EQ(ISDFoSetSysParams(7, &params, 0), 0u);
    for (size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(sim::bytes_of(&params, 64)[i] + sent(201)[i] * 256, carried(i) ? block[i] * 257 : 0xA5) << i;
    }
    // Paths: the address by its type (pair: 5, 7: none), the reply's parts.
    const Bytes r202 = reply(202, sim::pattern(7228 + 256, 5));
    ASSERT_EQ(ISDFoGetPaths(7, &path, &paths, 0), 0u);
    EXPECT_EQ(part(sent(202), 2, 14), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 2, 0, 9, 0, 0, 0}));
    EXPECT_EQ((Bytes{paths.HbaInstance, paths.PathInfoA, paths.PathInfoB} + sim::bytes_of(paths.LunPath, 257) +
               sim::bytes_of(paths.PathEntry, 7168)),
              (Bytes{1, r202[40], r202[42]} + part(r202, 44, 256) + Bytes{0} + part(r202, 300, 7168)));
    for (uint16_t type : {FO_ADDRESS_PAIR, 7u}) {
        path.AddressType = type;
        ASSERT_EQ(ISDFoSetCurrentPath(7, &path, 0), 0u);
        const Bytes query = type == 7 ? Bytes(16, 0) : Bytes{1, 2, 3, 4, 0, 0, 0, 0, 5, 0, 9, 0, 0, 0, 0, 0};
        EXPECT_EQ(part(sent(203), 2, 18), (query + Bytes{0x11, 0x22}));
    }
    // LUN list: a count above 256 fills 256 entries; a set sends all 256 and caps the count.
    Bytes& r206 = reply(206, Bytes(32 + 256 * 2080, 0));
    const Bytes last = sim::pattern(2080, 9);
    std::copy(last.begin(), last.end(), r206.end() - 2080);
    r206[3] = 1;
    r206[2] = 44;  // 300
    ASSERT_EQ(ISDFoGetLunData(7, 1, nullptr, luns.get(), 0), 0u);
    const FO_EXTERNAL_LUN_DATA_ENTRY& e = luns->DataEntry[255];
    EXPECT_EQ((Bytes{uint8_t(luns->EntryCount >> 8), e.Dev_No, e.TargetId} + sim::bytes_of(e.NodeName, 16) +
               sim::bytes_of(e.Data, 2048)),
              (Bytes{1, last[18], last[19]} + part(last, 0, 16) + part(last, 32, 2048)));
    luns->EntryCount = 300;
    ASSERT_EQ(ISDFoSetLunData(7, 1, nullptr, luns.get(), 0), 0u);
    EXPECT_EQ(part(sent(207), 34, 2) + part(sent(207), sent(207).size() - 2080, 2080),
              (Bytes{0, 1} + part(last, 0, 16) + Bytes(16, 0) + part(last, 32, 2048)));
    // Targets: all 256 entries written, those with a port name counted.
    Bytes& r208 = reply(208, Bytes(256 * 68, 0));
    r208[3 * 68 + 24] = r208[200 * 68 + 24] = 0x50;
    r208[3 * 68 + 19] = 0x10;
    std::memset(targets.get(), 0xA5, sizeof *targets);
    ASSERT_EQ(ISDFoGetTargetData(7, 1, nullptr, targets.get(), 0), 0u);
    const FO_TARGET_DATA_ENTRY& t = targets->DataEntry[3];
    EXPECT_EQ((std::vector<int>{targets->EntryCount, targets->Version, t.Control, t.PortName[0], t.PathNumber}),
              (std::vector<int>{2, 0xA5A5, 0x10, 0x50, 0}));
    ASSERT_EQ(ISDFoSetTargetData(7, 1, nullptr, targets.get(), 0), 0u);
    EXPECT_EQ(part(sent(209), 32 + 3 * 68, 68), part(r208, 3 * 68, 68));
    // Versions and capability.
    const Bytes r210 = reply(210, sim::pattern(100, 2));
    ASSERT_EQ(ISDFoGetFoDriverVersion(7, &version), 0u);
    EXPECT_EQ(sim::bytes_of(&version, 36), (part(r210, 0, 3) + Bytes{0} + part(r210, 4, 32)));
    char text[5];
    EXPECT_EQ(ISDFoGetApiVersion(text, 5), 0x3000107u);
    EXPECT_STREQ(text, "3.0.");
    SD_UINT32 capability[2] = {};
    api_priv_data[1].drvr_attr = 1;
    EXPECT_EQ(ISDFoGetFoCapability(8, &capability[1]) + ISDFoGetFoCapability(7, &capability[0]), 0u);
    EXPECT_EQ(capability[1] - capability[0], FO_CAPABILITY_FAILOVER - FO_CAPABILITY_NONE);
}

// Every failover reply is one record: one delivered in part (or not at all) with status 0 is a data underrun, and
// the caller's record stays as it was; the reply delivered whole is the control.
TEST_F(FoTest, RepliesDeliveredInPartAreUnderruns) {
    const Bytes r210 = reply(210, sim::pattern(100, 2));
    for (const auto& [delivered, status] : {std::pair<uint32_t, SD_UINT32>{100, 0}, {36, SDERR_DATA_UNDERRUN},
                                            {0, SDERR_DATA_UNDERRUN}}) {
        std::memset(&version, 0xA5, sizeof version);
        rig.driver.inject_short(delivered);
        EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), status) << delivered;
        EXPECT_EQ(sim::bytes_of(&version, 36),
                  status == 0 ? part(r210, 0, 3) + Bytes{0xA5} + part(r210, 4, 32) : Bytes(36, 0xA5))
            << delivered;
    }
    reply(200, sim::pattern(64, 3));
    std::memset(&params, 0xA5, sizeof params);
    rig.driver.inject_short(63);
    EXPECT_EQ(ISDFoGetSysParams(7, &params, 0), SDERR_DATA_UNDERRUN);
    EXPECT_EQ(sim::bytes_of(&params, sizeof params), Bytes(sizeof params, 0xA5));
}

// The two lists are read as far as their head and the entries their count counts, the count held to the 256
// entries a list holds: what came of that is whole, whatever the rest of the reply area; a counted entry or a head
// that came in part is an underrun (the control rows). Status 15 with GOOD reads as status 0.
struct ListRow {
    uint32_t status, detail;
    uint16_t count;
    uint32_t delivered;
    SD_UINT32 result;
    uint16_t listed;  // the count the caller gets on success
};

TEST_F(FoTest, LoadBalancingListIsWholeWithTheEntriesItCounts) {
    const ListRow rows[] = {
        {0, 0, 1, 56, 0, 1},                            // head and the one counted entry of 6,176 bytes
        {15, 0, 1, 56, 0, 1},                           // the same with SCSI status GOOD
        {0, 0, 0, 32, 0, 0},                            // the head alone, counting none: an empty list
        {0, 0, 1000, 6176, 0, 256},                     // a count above the room, the 256 entries there
        {0, 0, 256, 6176, 0, 256},
        {0, 0, 1, 55, SDERR_DATA_UNDERRUN, 0},          // the counted entry in part
        {0, 0, 2, 56, SDERR_DATA_UNDERRUN, 0},          // the second counted entry missing
        {0, 0, 1000, 6175, SDERR_DATA_UNDERRUN, 0},     // the 256th entry in part
        {0, 0, 0, 31, SDERR_DATA_UNDERRUN, 0},          // the head in part
        {15, 0, 0, 0, SDERR_DATA_UNDERRUN, 0},          // nothing
        {15, 0x1234, 0, 0, 0x1234, 0},                  // a SCSI status other than GOOD stands
    };
    const Bytes r211 = reply(211, sim::pattern(sizeof(FO_LB_POLICY_LIST), 4));
    for (const ListRow& row : rows) {
        SCOPED_TRACE(testing::Message() << row.count << " counted, " << row.delivered << " delivered");
        std::tie(fo.replies[211].status, fo.replies[211].detail_status) = std::tuple(row.status, row.detail);
        fo.counts[211] = row.count;
        fo.delivered[211] = row.delivered;
        FO_LB_POLICY_LIST list;
        std::memset(&list, 0xA5, sizeof list);
        EXPECT_EQ(ISDFoGetLBPolicy(7, 0, &list, 0), row.result);
        // The list comes back whatever the status, as far as it came, and never counting more than it holds; a
        // count that did not come stays the caller's own.
        EXPECT_EQ(list.Count <= 256u, row.delivered >= 4);
        if (row.result == 0) {
            EXPECT_EQ(list.Count, row.listed);
        }
        const Bytes got = sim::bytes_of(&list, sizeof list);
        const size_t came = std::max<size_t>(row.delivered, 4);
        EXPECT_EQ(part(got, 4, came - 4), part(r211, 4, came - 4));
        EXPECT_TRUE(sim::all_bytes(got, came, 0xA5));
    }
}

// A refusal before the request leaves the caller's list byte for byte as it was, its count above the 256 entries
// the list holds too: an unknown handle, live and persistent; a driver of the old store on the persistent road;
// ports served through sysfs. The control: the request is made, and the list holds the driver's reply whole.
TEST_F(FoTest, LoadBalancingListUntouchedByRefusalsBeforeTheRequest) {
    const Bytes r211 = reply(211, sim::pattern(sizeof(FO_LB_POLICY_LIST), 4));
    fo.counts[211] = 1;
    rig.driver.find_port(2)->driver_data.DrvVer = {6, 5, 9, 9, {}};
    const struct Row {
        const char* what;
        SD_UINT32 handle, persistent;
        bool sysfs;
        SD_UINT32 result;
    } rows[] = {
        {"unknown handle", 99, 0, false, SDERR_DEVICE_NOT_FOUND},
        {"unknown handle, persistent", 99, 1, false, SDERR_NOT_SUPPORTED},
        {"old store, persistent", 7, 1, false, SDERR_NOT_SUPPORTED},
        {"sysfs", 7, 0, true, SDERR_NOT_SUPPORTED},
        {"request made", 7, 0, false, SDERR_NO_ERROR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        api_priv_data[0].features = VX_FEAT_NEW_IOCTL | (row.sysfs ? VX_FEAT_SYSFS : 0);
        fo.received.clear();
        FO_LB_POLICY_LIST list;
        std::memset(&list, 0xA5, sizeof list);
        EXPECT_EQ(ISDFoGetLBPolicy(row.handle, 0, &list, row.persistent), row.result);
        const Bytes got = sim::bytes_of(&list, sizeof list);
        if (row.result != SDERR_NO_ERROR) {
            EXPECT_TRUE(sim::all_bytes(got, 0, 0xA5));
            EXPECT_EQ(fo.received.count(211), 0u);
            continue;
        }
        Bytes want = r211;
        std::tie(want[2], want[3]) = std::tuple(1, 0);  // the count the driver wrote
        EXPECT_EQ(got, want);
        EXPECT_EQ(fo.received.count(211), 1u);
    }
}

TEST_F(FoTest, LunListIsWholeWithTheRecordsItCounts) {
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "4,096 LUNs" : "2,048 LUNs");
        api_priv_data[0].features = VX_FEAT_NEW_IOCTL | (big ? VX_FEAT_LUN_4096 : 0u);
        const uint32_t record = big ? 4128 : 2080, whole = 32 + 256 * record;
        const ListRow rows[] = {
            {0, 0, 1, 32 + record, 0, 1},
            {15, 0, 1, 32 + record, 0, 1},
            {0, 0, 0, 32, 0, 0},
            {0, 0, 1000, whole, 0, 256},
            {0, 0, 1, 32 + record - 1, SDERR_DATA_UNDERRUN, 0},
            {0, 0, 1000, whole - 1, SDERR_DATA_UNDERRUN, 0},
            {0, 0, 0, 31, SDERR_DATA_UNDERRUN, 0},
            {15, 0, 1, 0, SDERR_DATA_UNDERRUN, 0},
        };
        const Bytes r206 = reply(206, sim::pattern(whole, 6));
        for (const ListRow& row : rows) {
            SCOPED_TRACE(testing::Message() << row.count << " counted, " << row.delivered << " delivered");
            std::tie(fo.replies[206].status, fo.replies[206].detail_status) = std::tuple(row.status, row.detail);
            fo.counts[206] = row.count;
            fo.delivered[206] = row.delivered;
            std::memset(luns.get(), 0xA5, sizeof *luns);
            EXPECT_EQ(ISDFoGetLunData(7, 1, nullptr, luns.get(), 0), row.result);
            const FO_EXTERNAL_LUN_DATA_ENTRY& e = luns->DataEntry[0];
            const Bytes first = sim::bytes_of(e.NodeName, 16) + Bytes{e.Dev_No, e.TargetId} + sim::bytes_of(e.Data, 4);
            if (row.result != 0) {
                // Nothing of the caller's is written.
                EXPECT_EQ(luns->EntryCount, 0xA5A5);
                EXPECT_EQ(first, Bytes(22, 0xA5));
                continue;
            }
            EXPECT_EQ(luns->EntryCount, row.listed);
            const Bytes driver = part(r206, 32, 16) + Bytes{r206[32 + 18], r206[32 + 19]} + part(r206, 64, 4);
            EXPECT_EQ(first, row.listed == 0 ? Bytes(22, 0xA5) : driver);
            if (row.listed < 256) {
                EXPECT_EQ(luns->DataEntry[row.listed].NodeName[0], 0xA5) << "entries past the count untouched";
            }
            EXPECT_EQ(luns->DataEntry[0].LunCount, 0xA5A5) << "not the driver's";
        }
    }
}

// The replies read whole need every byte, status 15 with GOOD as status 0: one byte short, or nothing at all, is an
// underrun, and the parameters and version records stay as the caller had them; delivered whole, each succeeds.
TEST_F(FoTest, RecordsReadWholeNeedAllTheirBytesUnderEverySuccessStatus) {
    struct Op { uint8_t nr; uint32_t size; std::function<SD_UINT32()> call; std::function<Bytes()> record; };
    const Op ops[] = {
        {200, 64, [&] { return ISDFoGetSysParams(7, &params, 0); }, [&] { return sim::bytes_of(&params, 64); }},
        {210, 100, [&] { return ISDFoGetFoDriverVersion(7, &version); }, [&] { return sim::bytes_of(&version, 36); }},
        {202, 7228 + 256, [&] { return ISDFoGetPaths(7, &path, &paths, 0); },
         [&] { return sim::bytes_of(&paths, sizeof paths); }},
        {208, 256 * 68, [&] { return ISDFoGetTargetData(7, 1, nullptr, targets.get(), 0); },
         [&] { return sim::bytes_of(targets.get(), sizeof *targets); }},
        {204, 8, [&] { return ISDFoGetStatistics(7, 1, nullptr); }, [] { return Bytes{}; }},
    };
    for (const Op& op : ops) {
        reply(op.nr, sim::pattern(op.size, 8));
        for (const auto& [status, delivered, result] :
             {std::tuple<uint32_t, uint32_t, SD_UINT32>{15, 0, SDERR_DATA_UNDERRUN},
              {15, op.size - 1, SDERR_DATA_UNDERRUN},
              {0, op.size - 1, SDERR_DATA_UNDERRUN},
              {15, op.size, 0},
              {0, op.size, 0}}) {
            SCOPED_TRACE(testing::Message() << int(op.nr) << ": status " << status << ", " << delivered << " delivered");
            fo.replies[op.nr].status = status;
            fo.delivered[op.nr] = delivered;
            std::memset(&params, 0xA5, sizeof params);
            std::memset(&version, 0xA5, sizeof version);
            std::memset(&paths, 0xA5, sizeof paths);
            std::memset(targets.get(), 0xA5, sizeof *targets);
            EXPECT_EQ(op.call(), result);
            const Bytes record = op.record();
            EXPECT_EQ(record == Bytes(record.size(), 0xA5), result != 0 || record.empty()) << "written only on success";
        }
    }
}

// Unknown handles and instances beyond the slots are refused before any request; in sysfs mode nothing reaches
// the driver either.
TEST_F(FoTest, RefusalsSendNothing) {
    fill_slot(2, 0, 9);
    api_priv_data[2].phys_path[0] = '\0';  // a slot without a path holds no port
    SD_UINT32 capability = 0;
    for (SD_UINT32 handle : {0u, 99u, 9u}) {
        EXPECT_EQ(ISDFoGetFoDriverVersion(handle, &version), SDERR_DEVICE_NOT_FOUND) << handle;
        EXPECT_EQ(ISDFoGetFoCapability(handle, &capability), SDERR_INVALID_HANDLE) << handle;
        EXPECT_EQ(capability, FO_CAPABILITY_NONE);
    }
    path.HbaInstance = 32;
    EXPECT_EQ(ISDFoGetPaths(7, &path, &paths, 0), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(ISDFoGetStatistics(7, 32, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_EQ(ISDFoSetTargetData(7, 32, nullptr, targets.get(), 1), SDERR_INVALID_PARAMETER);
    api_priv_data[0].features |= VX_FEAT_SYSFS;
    EXPECT_EQ(ISDFoGetFoDriverVersion(7, &version), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(ISDFoGetTargetData(7, 1, nullptr, targets.get(), 1), SDERR_NOT_SUPPORTED);
    EXPECT_TRUE(rig.driver.log().empty());
}

// A driver found to use the new store is asked once; an older one every time.
TEST_F(FoTest, StoreDecisionAtTheVersionThresholds) {
    const std::pair<EXT_LN_DRV_VERSION, int> cases[] = {
        {{6, 5, 9, 9, {}}, 0}, {{6, 6, 0, 8, {}}, 0}, {{6, 6, 0, 1, {}}, 0}, {{5, 9, 9, 9, {}}, 0},
        {{6, 6, 0, 0, {}}, 1}, {{6, 6, 0, 9, {}}, 1}, {{6, 6, 1, 1, {}}, 1}, {{6, 7, 0, 0, {}}, 1},
        {{7, 0, 0, 0, {}}, 1}};
    for (const auto& [v, result] : cases) {
        api_priv_data[0].features = VX_FEAT_NEW_IOCTL;
        rig.driver.find_port(2)->driver_data.DrvVer = v;
        rig.driver.clear_log();
        EXPECT_EQ(new_store_of(7) + new_store_of(7), 2 * result);
        EXPECT_EQ(rig.driver.log().size(), result == 1 ? 1u : 2u) << int(v.Major) << "." << int(v.Minor);
    }
    rig.driver.inject_status(1);
    EXPECT_EQ(new_store_of(8), 0) << "a refused query is the old store";
    // By module: slot 31 is never looked at; a port that cannot be opened
    // (the library does not load) is passed over.
    for (unsigned i = 0; i < 32; ++i) fill_slot(i, 1, 0, i < 31 ? "other" : "vxa2xxx");
    EXPECT_EQ(store_and_found("vxa2xxx"), 0);
    fill_slot(4, 1, 0);
    fill_slot(5, 2, 7);
    rig.host.set_euid(1000);
    rig.driver.find_port(2)->specifics_errno = EBUSY;
    EXPECT_EQ(store_and_found("vxa2xxx"), -1) << "a busy driver keeps neither store";
    rig.driver.find_port(2)->specifics_errno = 0;
    EXPECT_EQ(store_and_found("vxa2xxx"), 11);
    EXPECT_EQ(store_and_found(""), 0);
}

// Opens fill the slot of the port's position, so a failover request by each
// handle reaches that port's driver instance; a close makes the handle unknown.
TEST(FoSlots, OpensFillTheSlotsAndClosesEmptyThem) {
    sim::SimHost host;
    sim::SimDriver driver;
    sim::FabricSetup setup;
    setup.adapters = {sim::adapter(0x2432, 2)};
    const sim::Fabric fabric = sim::install_adapters(host, driver, setup);
    sim::SimFailover fo;
    fo.install(driver);
    int handles[2] = {};
    FO_DRIVER_VERSION version{};
    // Slot 0's switches stay; the store bit that another port left there goes.
    const uint32_t switches = VX_FEAT_LUN_4096 | 0x100;
    api_priv_data[0].features = switches | VX_SLOT_NEW_CFG_STORE;
    for (SD_UINT32 i : {0u, 1u}) {
        ASSERT_EQ(SDOpenDevice(i, &handles[i]), 0u);
        const vxapi_priv_db_t& slot = api_priv_data[i];
        EXPECT_STREQ(slot.model, "vxa2xxx");
        EXPECT_EQ(slot.oshandle, check_handle(slot.apihandle)->oshandle);
        EXPECT_EQ(slot.features, VX_FEAT_NEW_IOCTL | (i == 0 ? switches : 0));
        driver.clear_log();
        EXPECT_EQ(ISDFoGetFoDriverVersion(static_cast<SD_UINT32>(handles[i]), &version), 0u);
        ASSERT_EQ(driver.log().size(), 1u);
        EXPECT_EQ(driver.log()[0].hba_select, fabric.physical[i]->instance);
    }
    ASSERT_EQ(SDCloseDevice(handles[0]), 0u);
    EXPECT_EQ(api_priv_data[0].oshandle, -1);
    EXPECT_EQ(ISDFoGetFoDriverVersion(static_cast<SD_UINT32>(handles[0]), &version), SDERR_DEVICE_NOT_FOUND);
    // The store test opens the closed port for its question and closes it again.
    EXPECT_EQ(store_and_found("vxa2xxx"), 11);
    EXPECT_EQ(api_priv_data[0].apihandle, 0u);
    ASSERT_EQ(SDCloseDevice(handles[1]), 0u);
    EXPECT_EQ(api_priv_data[1].apihandle, 0u);
    std::memset(api_priv_data, 0, sizeof api_priv_data);
}

// The sysfs switch belongs to the load that found its ports through sysfs: in one process, a start on an ioctl host
// after one on a sysfs host answers failover requests as a fresh process does, and a start on a sysfs host after one
// on an ioctl host refuses them. No stop leaves the switch on.
TEST(FoSlots, SysfsModeBelongsToTheCurrentLoad) {
    // Starts the library by opening the host's first port, asks the failover driver, and stops the library again.
    const auto answers = [] {
        int handle = 0;
        FO_DRIVER_VERSION version{};
        auto luns = std::make_unique<FO_LUN_DATA_LIST>();
        EXPECT_EQ(SDOpenDevice(0, &handle), 0u);
        const std::vector<SD_UINT32> got = {ISDFoGetFoDriverVersion(static_cast<SD_UINT32>(handle), &version),
                                            ISDFoGetLunData(static_cast<SD_UINT32>(handle), 0, nullptr, luns.get(), 0)};
        EXPECT_EQ(SDCloseDevice(handle), 0u);  // the last close stops the library
        EXPECT_EQ(api_priv_database, nullptr);
        EXPECT_EQ(api_priv_data[0].features & VX_FEAT_SYSFS, 0u);
        return got;
    };
    const auto on_ioctl_host = [&] {
        sim::SimHost host;
        sim::SimDriver driver;
        sim::FabricSetup setup;
        setup.adapters = {sim::adapter(0x2432, 1)};
        sim::install_adapters(host, driver, setup);
        sim::SimFailover fo;
        fo.install(driver);
        return answers();
    };
    const auto on_sysfs_host = [&] {
        sysfstest::SysfsRig rig(0x2532);
        rig.fabric = sim::install_sysfs_adapters(rig.host, rig.setup);
        return answers();
    };
    const std::vector<SD_UINT32> fresh = {0, 0}, sysfs = {SDERR_NOT_SUPPORTED, SDERR_NOT_SUPPORTED};
    EXPECT_EQ(on_sysfs_host(), sysfs);
    EXPECT_EQ(on_ioctl_host(), fresh);
    EXPECT_EQ(on_sysfs_host(), sysfs);
    std::memset(api_priv_data, 0, sizeof api_priv_data);
}

// The streams are flushed before the fork; a child whose exec fails ends
// with status 1 at once; an interrupted wait is resumed.
TEST(VSystem, ChildRunsTheCommandAndEndsAtOnce) {
    const Log ran = {"fork", "exec cp -f /etc/a /etc/c", "waitpid"};
    const struct { std::function<void(sim::SimHost&)> setup; int result; Log log; } cases[] = {
        {[](sim::SimHost&) {}, 0, ran},
        {[](sim::SimHost& h) { h.script_command("cp -f /etc/a /etc/c", {"", 3}); }, 0x300, ran},
        {[](sim::SimHost& h) { h.fail_exec(ENOENT); }, 0x100, {"fork", "waitpid"}},
        {[](sim::SimHost& h) { h.fail_fork(EAGAIN); }, -1, {"fork failed"}},
        {[](sim::SimHost& h) { h.fail_waitpid(EINTR, 2); }, 0, Log{"fork", "waitpid failed", "waitpid failed"} +
                                                                    part(ran, 1, 2)},
        {[](sim::SimHost& h) { h.fail_waitpid(ECHILD); }, -1, {"fork", "waitpid failed"}},
    };
    for (const auto& c : cases) {
        sim::SimHost host;
        host.write_file("/etc/a", "text");
        c.setup(host);
        EXPECT_EQ(v_system("cp -f /etc/a /etc/c"), c.result) << c.log.back();
        EXPECT_EQ(host.process_log(), (Log{"fflush stdout", "fflush stderr"} + c.log));
        // A child that nobody waited for may still be copying: its file is checked only once it was reaped.
        const bool reaped = std::find(c.log.begin(), c.log.end(), "waitpid") != c.log.end();
        if (reaped || c.result == 0) {
            EXPECT_EQ(host.read_file("/etc/c"), c.result == 0 ? "text" : "");
        }
        EXPECT_EQ(host.commands().size(), static_cast<size_t>(std::count(c.log.begin(), c.log.end(), ran[1])));
    }
}

}  // namespace

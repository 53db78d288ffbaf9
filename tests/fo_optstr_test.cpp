// The option string (golden text and its round trip, the parser's refusals and bounds, the file reader), the
// renumbering of the paths read from it, and the old-format store: the reader and writer of the vx2xopts value,
// the get, set and deletes against module options files in the simulated /etc, and the decimal LUN lists.
#include "failover/vx_fo_oldstore.h"
#include "failover/vx_fo_optstr.h"
#include "failover/vx_fo_paths.h"
#include "failover/vx_fo_store.h"
#include "failover/vx_fo_stores.h"
#include "kmod_reading.h"
#include "sim_modtable.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

// The 32 store adapters with their lists, as a save allocates them.
struct Store {
    Store() {
        for (unsigned i = 0; i < VX_FO_STORE_ADAPTERS; ++i) records[i] = hbalist_entry{{}, &tgt[i], &lun[i]};
    }
    // Target k of adapter i, with every LUN enabled.
    void add(unsigned i, unsigned k, uint8_t seed, uint8_t control) {
        FO_TARGET_DATA_ENTRY& t = tgt[i].DataEntry[k];
        FO_EXTERNAL_LUN_DATA_ENTRY& l = lun[i].DataEntry[k];
        for (uint8_t b = 0; b < 8; ++b) {
            t.NodeName[b] = l.NodeName[b] = static_cast<uint8_t>(seed + b);
            t.PortName[b] = l.PortName[b] = static_cast<uint8_t>(seed + 0x10 + b);
        }
        t.TargetNumber = l.Dev_No = seed;
        t.PathNumber = l.TargetId = static_cast<uint8_t>(k);
        t.PortId[2] = seed;
        t.Control = control;
        std::fill(std::begin(l.Data), std::end(l.Data), FO_LUN_ENABLED);
    }
    std::string format(uint8_t mode, uint32_t expected_status = 0) {  // "Z" when the output stayed untouched
        std::vector<char> out(VX_FO_OPTSTR_SIZE, 'Z');
        EXPECT_EQ(vxapi_set_data_to_line(records, out.data(), mode), expected_status);
        return std::string(out.data(), expected_status == 0 ? std::strlen(out.data()) : 1);
    }
    uint32_t parse(const std::string& text) { return vxapi_get_data_from_line(text.c_str(), records); }
    std::vector<FO_TARGET_DATA_LIST> tgt = std::vector<FO_TARGET_DATA_LIST>(VX_FO_STORE_ADAPTERS);
    std::vector<FO_LUN_DATA_LIST> lun = std::vector<FO_LUN_DATA_LIST>(VX_FO_STORE_ADAPTERS);
    hbalist_entry records[VX_FO_STORE_ADAPTERS];
};

// Slot 0 runs a failover driver, so adapter 0's preferred groups are written.
struct OptionString : ::testing::Test {
    void SetUp() override { std::strcpy(api_priv_data[0].phys_path, "/dev/vxa2xxx"), api_priv_data[0].drvr_attr = 1; }
    void TearDown() override { api_priv_data[0] = vxapi_priv_db_t{}; }
};

TEST_F(OptionString, GoldenText) {
    api_priv_data[0].drvr_attr = 0;
    Store s;
    std::memcpy(s.records[0].wwpn, "\x21\0\0\xe0\x8b\1\2\3", 8);
    s.add(0, 0, 0x20, 0x40);
    s.lun[0].DataEntry[0].Data[0] = s.lun[0].DataEntry[0].Data[4095] = 0;
    const std::string z62(62, '0'), p = "scsi-vxa0-tgt-32-di-0-";
    EXPECT_EQ(s.format(VX_FO_FROM_TARGETS),
              "scsi-vxa0-adapter-port=210000e08b010203\\;" + p + "node=2021222324252627\\;" + p +
                  "port=3031323334353637\\;" + p + "pid=000020\\;" + p + "lun-disabled=" + z62 + "01\\;" + p +
                  "lun_disabled-3840=80" + z62 + "\\;" + p + "control=40\\;\n");
    EXPECT_EQ(s.format(3, SDERR_INVALID_PARAMETER), "Z");
    // Parsed back, it formats to the same text from either list.
    Store back;
    ASSERT_EQ(back.parse(s.format(VX_FO_FROM_LUNS)), 0u);
    const std::string text = s.format(VX_FO_FROM_TARGETS);
    EXPECT_EQ(back.format(VX_FO_FROM_TARGETS) + back.format(VX_FO_FROM_LUNS) + s.format(VX_FO_FROM_LUNS),
              text + text + text);
    // A string that would pass 299,999 bytes fails whole.
    api_priv_data[0].drvr_attr = 1;
    for (unsigned k = 0; k < VX_FO_TARGETS; ++k) s.add(0, k, static_cast<uint8_t>(k), 0);
    EXPECT_EQ(s.format(VX_FO_FROM_TARGETS, SDERR_CONFIG_FILE), "Z");
}

// The parser's status, and the file reader's: a missing file, a file of the string's size.
TEST_F(OptionString, ParserStatus) {
    const std::string a = "scsi-vxa0-adapter-port=01\\;scsi-vxa0-tgt-1-di-0-";
    const std::pair<std::string, uint32_t> cases[] = {
        {"", SDERR_CONFIG_FILE},
        {"7scsi-vxa0", SDERR_INVALID_REGISTRY_SETTING},
        {"options", SDERR_CONFIG_FILE},
        {"scsi-vxa0-adapter-port", SDERR_CONFIG_FILE},
        {a + "node", SDERR_CONFIG_FILE},
        {a + "lun_preferred-0=ff", SDERR_CONFIG_FILE},
        {a + "lun_disabled-65536=ff", SDERR_CONFIG_FILE},
        {a + "lun_disabled-3841=ff", 0},
        {a + "lun_preferred-65792=ff", 0},
        {a + "node\\;scsi-vxa1-adapter-port=02\\;scsi-vxa1-tgt-1-di-0-node=03", SDERR_CONFIG_FILE},
        {a + "other=1", 0},
    };
    Store s;
    for (const auto& [text, status] : cases) EXPECT_EQ(s.parse(text), status) << text;
    EXPECT_EQ(vxapi_get_data_from_line(nullptr, s.records), SDERR_CONFIG_FILE);

    sim::SimHost host;
    std::vector<char> dest(VX_FO_OPTSTR_SIZE);
    bool missing = false;
    EXPECT_TRUE(vxapi_get_opt_from_file("vxa2xxx", dest.data(), &missing) == SDERR_CONFIG_FILE && missing);
    for (const size_t size : {VX_FO_OPTSTR_SIZE - 1, VX_FO_OPTSTR_SIZE}) {
        host.write_file("/etc/vxa2xxx.conf", std::string(size, 'a'));
        const uint32_t status = size < VX_FO_OPTSTR_SIZE ? 0 : SDERR_CONFIG_FILE;
        EXPECT_TRUE(vxapi_get_opt_from_file("vxa2xxx", dest.data(), &missing) == status && !missing);
        EXPECT_EQ(std::strlen(dest.data()), VX_FO_OPTSTR_SIZE - 1);  // a refused file leaves it
    }
    EXPECT_EQ(vxapi_get_opt_from_file("", dest.data()), SDERR_INVALID_PARAMETER);
}

TEST_F(OptionString, TokensAndBounds) {
    Store s;
    std::string text =
        "scsi-vxa1-tgt-9-di-9-node=99\\;scsi-vxa1-adapter-port=0101010101010101\\;"
        "scsi-vxa11-adapter-port=0b\\;scsi-vxa11-tgt-2-di-3-node=22\nscsi-vxa11-tgt-2-di-3-port=33\\;"
        "scsi-vxa1-tgt-4-di-5-node=44\\;scsi-vxa1-tgt-4-di-5-preferred=8\\;"
        "scsi-vxa1-tgt-4-di-5-lun_disabled-3840=8\\;scsi-vxa1-tgt-4-di-5-control=7\\;";
    for (int n = 0; n < 300; ++n) text += "scsi-vxa2-adapter-port=02\\;scsi-vxa2-tgt-1-di-0-node=aa;\tscsi-vxa2-tgt-1-di-0-control=1\\;";
    ASSERT_EQ(s.parse(text), 0u);
    // Adapter 1: its target token before its adapter-port token is not read,
    // adapter 11's tokens are not its own, a short value ends in zeros.
    const FO_TARGET_DATA_ENTRY expected_t = {{}, 5, 4, {}, 7, {}, {}, 0, {0x44}, {}};
    EXPECT_EQ(std::memcmp(&s.tgt[1].DataEntry[0], &expected_t, sizeof expected_t) + s.tgt[1].EntryCount, 1);
    // "8": LUN 255 - 4 preferred, the missing pairs clear the rest; LUN 4091 disabled.
    const uint8_t* luns = s.lun[1].DataEntry[0].Data;
    EXPECT_EQ((sim::Bytes{luns[251], luns[255], luns[4091], luns[256]}), (sim::Bytes{0xC0, 0x80, 0x40, 0xC0}));
    // A newline does not separate tokens: adapter 11's node value ends there.
    const FO_TARGET_DATA_ENTRY& t11 = s.tgt[11].DataEntry[0];
    EXPECT_EQ((sim::Bytes{t11.NodeName[0], t11.PortName[0], uint8_t(s.tgt[11].EntryCount)}), (sim::Bytes{0x22, 0, 1}));
    // 300 targets fill the 256 entries; the rest are dropped.
    EXPECT_EQ(s.tgt[2].EntryCount + s.lun[2].EntryCount, 512u);
    EXPECT_EQ(s.tgt[2].DataEntry[255].NodeName[0], 0xaa);

    // One adapter by its port name, read into the first record.
    Store one;
    const std::string two = "scsi-vxa0-adapter-port=0000000000000001\\;scsi-vxa0-tgt-1-di-0-node=11\\;"
                            "scsi-vxa5-adapter-port=0000000000000005\\;scsi-vxa5-tgt-2-di-0-node=55\\;";
    const uint8_t wanted[8] = {0, 0, 0, 0, 0, 0, 0, 5}, unknown[8] = {0, 0, 0, 0, 0, 0, 0, 9};
    ASSERT_EQ(vxapi_get_data_from_line_for_wwpn(two.c_str(), one.records, wanted), 0u);
    EXPECT_EQ(std::memcmp(one.records[0].wwpn, wanted, 8), 0);
    EXPECT_TRUE(one.tgt[0].DataEntry[0].NodeName[0] == 0x55 && one.tgt[0].EntryCount == 1);
    EXPECT_EQ(vxapi_get_data_from_line_for_wwpn(two.c_str(), one.records, unknown), 0u);
    EXPECT_NE(std::memcmp(one.records[0].wwpn, unknown, 8), 0);
}

// A load-balancing set rewrites the store without the newlines inside its tokens. A token that is malformed once
// they are gone is dropped, and a digit that would begin the text stays behind a separator: the store reads and
// saves after the rewrite as it did before.
TEST(OptionStringRewrite, StoreStaysReadableAndSettable) {
    sim::SimHost host;
    vxapi_priv_db_t& slot = api_priv_data[0];
    std::strcpy(slot.phys_path, "/dev/vxa2xxx"), std::strcpy(slot.model, "vxa2xxx");
    std::tie(slot.apihandle, slot.drvr_attr, slot.features) = std::tuple(1, 1, VX_FEAT_NEW_IOCTL | VX_SLOT_NEW_CFG_STORE);
    const std::string conf = "/etc/vxa2xxx.conf", a0 = "scsi-vxa0-adapter-port=5000000000000a00\\;";
    const std::string lb = "scsi-lbtype-2-key0-tgtname=00000000000000b1\\;", t = "scsi-vxa0-tgt-1-di-0-";
    const struct Case { const char* name; std::string store, after; } cases[] = {
        {"load-balancing token without =", a0 + "scsi-lb\ntype-1-key0\\;\n", a0 + lb},
        {"load-balancing token without key", a0 + "scsi-lb\ntype-1-tgtname=01\\;", a0 + lb},
        {"adapter token without =", a0 + "scsi-vxa1-adapter-\nport\\;", a0 + lb},
        {"target token without =", a0 + t + "no\nde\\;", a0 + lb},
        {"LUN group 0", a0 + t + "lun_pre\nferred-0=ff\\;", a0 + lb},
        {"kept", a0 + "\n" + t + "x=1\r\\;", a0 + t + "x=1\r\\;" + lb},
        {"digit first", "\\;\n7\\;" + a0, "\\;7\\;" + a0 + lb},
    };
    const uint8_t wwn[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0a, 0};
    FO_TARGET_DATA_LIST targets{};
    targets.EntryCount = 1, targets.DataEntry[0] = {{}, 0, 1, {}, 0, {}, {}, 0, {0x20}, {0x21, 0, 0, 0, 0, 0, 0, 0xb1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::Bytes module = sim::build_module({16, "vxa2xxx_conf", {{"OPTIONS", c.store, 24 + 20000}}, 64});
        host.write_file("/lib/modules/6.1.0-sim/kernel/drivers/scsi/vxa2xxx/vxa2xxx_conf.ko",
                        std::string(module.begin(), module.end()));
        host.write_file(conf, c.store);
        FO_LB_POLICY_LIST list{0, 1, {}, {{{0, 0, 0, 0, 0, 0, 0, 0xb1}, 2, {}}}};
        ASSERT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), 0u);
        EXPECT_EQ(host.read_file(conf), c.after);
        // Read, saved with the target list (which carries the load-balancing type), and read again.
        for (const bool save : {true, false}) {
            list = FO_LB_POLICY_LIST{};
            EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), 0u);
            EXPECT_EQ(list.Count * 100 + list.Entry[0].LbType, 102u);
            EXPECT_EQ(save ? ISDFoSetTargetData(1, 0, wwn, &targets, 1) : 0u, 0u);
        }
    }
    api_priv_data[0] = vxapi_priv_db_t{};
}

// The path numbers of each device's paths across the records become 0 .. n - 1.
TEST(PathValidation, Renumbering) {
    struct Path { unsigned record; uint8_t node, port, path, control; };
    const struct Case {
        const char* name;
        std::vector<Path> paths;
        std::vector<uint8_t> after;  // path numbers, in the order of `paths`
    } cases[] = {
        {"0 1 2 in any order", {{0, 1, 1, 2, 1}, {1, 1, 2, 0, 1}, {2, 1, 3, 1, 1}}, {2, 0, 1}},
        {"1 2", {{0, 1, 1, 1, 1}, {3, 1, 2, 2, 1}}, {0, 1}},
        {"0 0", {{0, 1, 1, 0, 1}, {0, 1, 2, 0, 1}}, {0, 1}},
        {"0 5", {{0, 1, 1, 0, 1}, {1, 1, 2, 5, 1}}, {0, 1}},
        {"0 20", {{0, 1, 1, 0, 1}, {1, 1, 2, 20, 1}}, {0, 1}},
        {"two control 0", {{0, 1, 1, 1, 0}, {1, 1, 2, 0, 1}, {1, 1, 3, 2, 0}}, {0, 0, 0}},
        {"single path", {{5, 1, 1, 3, 1}}, {0}},
        {"by port name", {{0, 1, 1, 1, 0x10}, {1, 1, 2, 1, 0x10}}, {0, 0}},
        {"two devices", {{0, 1, 1, 1, 1}, {0, 2, 2, 1, 1}, {1, 2, 3, 0, 1}}, {0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Store s;
        std::vector<FO_TARGET_DATA_ENTRY*> entries;
        for (const Path& p : c.paths) {
            FO_TARGET_DATA_LIST& list = s.tgt[p.record];
            FO_TARGET_DATA_ENTRY& e = list.DataEntry[list.EntryCount++];
            e = FO_TARGET_DATA_ENTRY{{}, p.path, 7, {}, p.control, {}, {}, 0, {p.node}, {p.port}};
            entries.push_back(&e);
        }
        // An entry past EntryCount takes no part.
        FO_TARGET_DATA_ENTRY& past = s.tgt[0].DataEntry[s.tgt[0].EntryCount];
        past = FO_TARGET_DATA_ENTRY{{}, 9, 7, {}, 1, {}, {}, 0, {1}, {9}};
        vxapi_validate_portsummary_data(s.records);
        std::vector<uint8_t> after;
        for (const FO_TARGET_DATA_ENTRY* e : entries) after.push_back(e->PathNumber);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(past.PathNumber, 9);
    }
    // An EntryCount beyond the list is walked as 256 entries: one device of 256 paths.
    Store s;
    s.tgt[0].EntryCount = 0xFFFF;
    for (unsigned k = 0; k < VX_FO_TARGETS; ++k) s.tgt[0].DataEntry[k] = {{}, 0, 0, {}, 1, {}, {}, 0, {}, {0, uint8_t(k)}};
    vxapi_validate_portsummary_data(s.records);
    EXPECT_EQ(s.tgt[0].DataEntry[255].PathNumber, 255);
}

constexpr char kFile[] = "/etc/modules.conf";
const std::string kA0 = "scsi-vxa0-adapter-port=2100000000000001\\;";
const std::string kT = "scsi-vxa0-tgt-5-di-0-";
const std::string kTarget = kT + "node=20000000000000aa\\;" + kT + "port=21000000000000aa\\;" + kT + "control=00\\;";
const std::string kA1 = "scsi-vxa1-adapter-port=2100000000000002\\;";
const uint8_t kWwn0[16] = {0x20, 0, 0, 0, 0, 0, 0, 1, 0x21, 0, 0, 0, 0, 0, 0, 1};

struct OldStore : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(work.allocate()); }
    void TearDown() override { std::fill(std::begin(api_priv_data), std::end(api_priv_data), vxapi_priv_db_t{}); }
    // Slot i runs the driver as adapter slot drvr_inst.
    static void port(unsigned i, const char* model, uint16_t drvr_inst) {
        std::strcpy(api_priv_data[i].phys_path, "/dev/vxa"), std::strcpy(api_priv_data[i].model, model);
        api_priv_data[i].drvr_inst = drvr_inst;
    }
    // The line read and written back, or the reader's or writer's status.
    std::string rebuild(const std::string& line) {
        work.clear();
        std::string out = line;
        uint32_t status = vxapi_get_data_from_old_line(line, work.get());
        if (status == 0) status = vxapi_set_data_to_old_line(&out, work.get(), VX_FO_FROM_TARGETS);
        return status == 0 ? out : std::to_string(status - 0x20000000);
    }
    FO_TARGET_DATA_LIST& tgt(unsigned a) { return *work.get()[a].tgt_list; }
    sim::SimHost host;
    VxFoRecords work;
};

TEST_F(OldStore, ReaderAndWriter) {
    const struct Case {
        std::string line, rebuilt;  // rebuilt: the line written back, or the status - 0x20000000
    } cases[] = {
        // Round trip: the line's other parameters stay where the writer put them.
        {"options vxa2xxx Bind=1 vx2xopts=" + kA0 + kTarget + " ConfigRequired=1\n",
         "options vxa2xxx Bind=1 vx2xopts=" + kA0 + kTarget + " ConfigRequired=1\n"},
        // A line without the parameter gets it; only a newline is dropped.
        {"options vxa2xxx Bind=1", "options vxa2xxx Bind=1 vx2xopts=\n"},
        // Tokens outside the value are no part of the store, and stay.
        {"options vxa2xxx scsi-vxa0-adapter-port=2100000000000001 Bind=1\n",
         "options vxa2xxx scsi-vxa0-adapter-port=2100000000000001 Bind=1 vx2xopts=\n"},
        {"options vxa2xxx vx2xopts=3,4\n", "118"},
        {"options vxa2xxx vx2xopts=scsi-vxa0-adapter-port\\;\n", "120"},
        {"options vxa2xxx vx2xopts=" + kA0 + kT + "node\\;\n", "120"},
        // Tokens before the adapter's own, and other slots' targets, are not read.
        {"options vxa2xxx vx2xopts=" + kTarget + kA0 + "scsi-vxa1-tgt-1-di-0-node=01\\;\n",
         "options vxa2xxx vx2xopts=" + kA0 + "\n"},
        // A target without its control token merges with the next.
        {"options vxa2xxx vx2xopts=" + kA1 + "scsi-vxa1-tgt-1-di-0-node=01\\;scsi-vxa1-tgt-2-di-0-port=02\\;" +
             "scsi-vxa1-tgt-3-di-1-control=10\\;\n",
         "options vxa2xxx vx2xopts=" + kA1 + "scsi-vxa1-tgt-3-di-1-node=0100000000000000\\;" +
             "scsi-vxa1-tgt-3-di-1-port=0200000000000000\\;scsi-vxa1-tgt-3-di-1-control=10\\;\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(rebuild(c.line), c.rebuilt) << c.line;
}

TEST_F(OldStore, LunGroupsAndBounds) {
    port(0, "vxa2xxx", 0);
    api_priv_data[0].drvr_attr = 2;  // any attribute word counts as a failover driver
    const std::string line = "options vxa2xxx vx2xopts=" + kA0 + kT + "node=01\\;" + kT + "port=02\\;" + kT +
                             "preferred=" + std::string(63, '0') + "1\\;" + kT + "lun_disabled-256=8" +
                             std::string(63, '0') + "\\;" + kT + "lun_disabled-4096=ff\\;" + kT + "control=00\\;\n";
    const std::string once = rebuild(line);
    const FO_EXTERNAL_LUN_DATA_ENTRY& l = work.get()[0].lun_list->DataEntry[0];
    EXPECT_EQ(std::vector<int>({l.Data[0], l.Data[1], l.Data[255], l.Data[256], l.Data[511], l.Data[4095]}),
              std::vector<int>({0xC0, 0x80, 0x80, 0xC0, 0x40, 0xC0}));
    EXPECT_EQ(rebuild(once), once);  // the groups written read back identically
    EXPECT_EQ(once.find("lun_disabled-512"), std::string::npos);

    // A value longer than a line is refused and the line left alone.
    work.clear();
    for (unsigned a = 0; a < 2; ++a) {
        work.get()[a].wwpn[0] = 0x21;
        for (unsigned k = 0; k < VX_FO_TARGETS; ++k) tgt(a).DataEntry[k].PortName[7] = static_cast<uint8_t>(k + 1);
    }
    std::string big = "options vxa2xxx Bind=1\n";
    EXPECT_EQ(vxapi_set_data_to_old_line(&big, work.get(), VX_FO_FROM_TARGETS), SDERR_CONFIG_FILE);
    EXPECT_EQ(big, "options vxa2xxx Bind=1\n");
}

TEST_F(OldStore, SetAndGet) {
    port(1, "vxa2xxx", 3);
    FO_TARGET_DATA_LIST in{};
    in.EntryCount = 1, in.DataEntry[0] = {{}, 0, 5, {}, 0, {}, {}, 0, {0x20}, {0x20, 0, 0, 0, 0, 0, 0, 0xaa}};
    const std::string tokens = "scsi-vxa3-adapter-port=2100000000000001\\;scsi-vxa3-tgt-5-di-0-node=2000000000000000"
                               "\\;scsi-vxa3-tgt-5-di-0-port=20000000000000aa\\;scsi-vxa3-tgt-5-di-0-control=00\\;";
    const std::string line = "options vxa2xxx ConfigRequired=1 vx2xopts=" + tokens + "\n";
    const std::string other = "options vxa2200 vx2xopts=" + kA0 + "\n";
    const struct Case {
        const char* label;
        std::string before, after;  // before "-": no options file; after "=": unchanged
        uint32_t status;
    } cases[] = {
        {"no line", "# options vxa2xxx Bind=1\n" + other, "# options vxa2xxx Bind=1\n" + other + "\n" + line, 0},
        {"two lines", "options vxa2xxx Bind=0 vx2xopts=" + kA1 + "\n" + other + "options vxa2xxx\n",
         "options vxa2xxx Bind=0 vx2xopts=" + kA1 + tokens + "\n" + other + "options vxa2xxx\n", 0},
        {"malformed line", "options vxa2xxx vx2xopts=" + kA1 + "scsi-vxa1-tgt-0-di-0-node\\;\n", "=", SDERR_CONFIG_FILE},
        {"digit-first value", "options vxa2xxx vx2xopts=1,2\n", "=", SDERR_CONFIG_FILE},
        {"no file", "-", "-", SDERR_CONFIG_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        c.before == "-" ? void(vx::sys().unlink(kFile)) : host.write_file(kFile, c.before);
        EXPECT_EQ(vxapi_set_data_to_old_persist_store(1, kWwn0, nullptr, &in), c.status);
        EXPECT_EQ(c.before == "-" ? "-" : host.read_file(kFile), c.after == "=" ? c.before : c.after);
        std::vector<std::string> names;  // no temporary file left behind
        EXPECT_TRUE(vx::sys().list_dir("/etc", names) != 0 || names.size() <= 1);
    }
    EXPECT_EQ(host.commands().back(), "depmod -a");

    // The get reads the line whose value the driver gets (the last) and finds the adapter by its port name;
    // "/etc/conf.modules" hides "/etc/modules.conf".
    host.write_file(kFile, "options vxa2xxx vx2xopts=" + kA0 + "\n" + line);
    auto out = std::make_unique<FO_TARGET_DATA_LIST>();
    auto luns = std::make_unique<FO_LUN_DATA_LIST>();
    ASSERT_EQ(vxapi_get_data_from_old_persist_store(1, luns.get(), out.get(), kWwn0), 0u);
    EXPECT_EQ(std::memcmp(&out->DataEntry[0].PortName, in.DataEntry[0].PortName, 8) + out->EntryCount, 1);
    EXPECT_EQ(luns->DataEntry[0].Data[17], 0xC0);
    const uint8_t absent[16] = {};
    EXPECT_EQ(vxapi_get_data_from_old_persist_store(1, nullptr, out.get(), absent) + out->EntryCount, 0u);
    host.write_file(kFile, "#options vxa2xxx vx2xopts=" + kA0 + "\n");
    EXPECT_EQ(vxapi_get_data_from_old_persist_store(1, nullptr, out.get(), kWwn0), SDERR_CONFIG_FILE);
    host.write_file("/etc/conf.modules", line);
    EXPECT_EQ(vxapi_get_data_from_old_persist_store(1, nullptr, out.get(), kWwn0) + out->EntryCount, 1u);
}

// A persistent set or read with a handle that names no open port is no error: it goes to the old-format store of
// the instance's driver. The load-balancing types have no old store.
TEST_F(OldStore, HandleOfNoOpenPortChoosesTheOldStore) {
    port(1, "vxa2xxx", 0);
    host.write_file(kFile, "options vxa2xxx Bind=1\n");
    FO_TARGET_DATA_LIST in{};
    in.EntryCount = 1, in.DataEntry[0] = {{}, 0, 5, {}, 0, {}, {}, 0, {0x20}, {0x20, 0, 0, 0, 0, 0, 0, 0xaa}};
    ASSERT_EQ(ISDFoSetTargetData(99, 1, kWwn0, &in, 1), 0u);
    EXPECT_NE(host.read_file(kFile).find("vx2xopts=scsi-vxa0-adapter-port=2100000000000001"), std::string::npos);
    FO_TARGET_DATA_LIST out{};
    ASSERT_EQ(ISDFoGetTargetData(99, 1, kWwn0, &out, 1), 0u);
    EXPECT_EQ(out.EntryCount * 0x100 + out.DataEntry[0].PortName[7], 0x1aau);
    FO_LB_POLICY_LIST list{};
    EXPECT_EQ(ISDFoSetLBPolicy(99, 1, &list, 1), SDERR_NOT_SUPPORTED);
    EXPECT_EQ(host.stdout_text(), "Set LB not supported\n");
}

// The old store is the value that kmod gives the driver: its last vx2xopts, on whichever line and at whichever place.
// Value A holds adapters 0a00 (target 0e0e) and 0b00 (slot 1, target 0f0f); the last, B, holds adapter 0a00 with
// target 0d0d. The get answers from B; a set of 0a00's targets writes B's place alone, and the driver then gets
// 0a00 with the new target and nothing of A; A stays as it was.
TEST_F(OldStore, TheStoreIsTheValueTheDriverGets) {
    port(1, "vxa2xxx", 0);
    const auto tokens = [](unsigned a, const std::string& adapter, const std::string& target) {
        const std::string p = "scsi-vxa" + std::to_string(a) + "-tgt-1-di-0-";
        return "scsi-vxa" + std::to_string(a) + "-adapter-port=" + adapter + "\\;" + p + "node=200000000000" + target +
               "\\;" + p + "port=210000000000" + target + "\\;" + p + "control=00\\;";
    };
    const std::string a = tokens(0, "5000000000000a00", "0e0e") + tokens(1, "5000000000000b00", "0f0f");
    const std::string b = tokens(0, "5000000000000a00", "0d0d");
    const struct Case { const char* what; std::string file; } cases[] = {
        {"two values on one line", "options vxa2xxx ConfigRequired=1 vx2xopts=" + a + " vx2xopts=" + b + "\n"},
        {"values on two lines", "options vxa2xxx ConfigRequired=1 vx2xopts=" + a + "\noptions vxa2xxx vx2xopts=" + b +
                                    " Bind=1\n"},
        {"the last value on a continued line", "options vxa2xxx vx2xopts=" + a + " \\\n  Bind=1 \\\n\tvx2xopts=" + b +
                                                   " x=2\n"},
        {"the last value first on its line", "options vxa2xxx vx2xopts=" + a + "\n# b\noptions vxa2xxx vx2xopts=" + b +
                                                 " vx2xother=" + a + "\n"},
    };
    const uint8_t wwn[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0a, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.write_file(kFile, c.file);
        FO_TARGET_DATA_LIST out{};
        ASSERT_EQ(ISDFoGetTargetData(99, 1, wwn, &out, 1), 0u);
        EXPECT_EQ(out.EntryCount, 1);
        EXPECT_EQ(out.DataEntry[0].PortName[7] * 0x100 + out.DataEntry[0].PortName[6], 0x0d0d);

        FO_TARGET_DATA_LIST in{};
        in.EntryCount = 1, in.DataEntry[0] = {{}, 0, 1, {}, 0, {}, {}, 0, {0x20, 0, 0, 0, 0, 0, 0x0c, 0x0c},
                                              {0x21, 0, 0, 0, 0, 0, 0x0c, 0x0c}};
        ASSERT_EQ(ISDFoSetTargetData(99, 1, wwn, &in, 1), 0u);
        const std::string after = host.read_file(kFile);
        const std::optional<kmodread::Reading> read = kmodread::read(after);
        ASSERT_TRUE(read);
        const std::string value = read->settings.at({"vxa2xxx", "vx2xopts"});
        EXPECT_NE(value.find("scsi-vxa0-adapter-port=5000000000000a00;"), std::string::npos) << value;
        EXPECT_NE(value.find("port=2100000000000c0c;"), std::string::npos) << value;
        for (const char* gone : {"5000000000000b00", "0e0e", "0f0f", "0d0d", "scsi-vxa1"}) {
            EXPECT_EQ(value.find(gone), std::string::npos) << gone << " in " << value;
        }
        // B's place alone changed: the file is the one before with B replaced.
        std::string expected = c.file;
        const size_t at = expected.rfind("vx2xopts=" + b) + 9;
        expected.replace(at, b.size(), tokens(0, "5000000000000a00", "0c0c"));
        EXPECT_EQ(after, expected);
        ASSERT_EQ(ISDFoGetTargetData(99, 1, wwn, &out, 1), 0u);
        EXPECT_EQ(out.DataEntry[0].PortName[7] * 0x100 + out.DataEntry[0].PortName[6], 0x0c0c);
    }
}

// The old store's writer refuses a line that kmod would not read as written, with the file as it was.
TEST_F(OldStore, WriterRefusesALineKmodCannotRead) {
    const std::string before = "options vxa2xxx Bind=1 vx2xopts=" + kA0 + "\n";
    for (const std::string& line : {"options vxa2xxx Bind=1 vx2xopts=\"" + kA1 + "\n",
                                    "options vxa2xxx Bind=1 vx2xopts=" + kA1 + "\\",
                                    "options vxa2xxx Bind=1 vx2xopts=" + kA1 + "\noptions other x=1\n"}) {
        SCOPED_TRACE(line);
        host.write_file(kFile, before);
        EXPECT_EQ(vxapi_set_optline_to_old_file("vxa2xxx", line), SDERR_CONFIG_FILE);
        EXPECT_EQ(host.read_file(kFile), before);
    }
    ASSERT_EQ(vxapi_set_optline_to_old_file("vxa2xxx", "options vxa2xxx Bind=1 vx2xopts=" + kA1 + "\n"), 0u);
    EXPECT_EQ(host.read_file(kFile), "options vxa2xxx Bind=1 vx2xopts=" + kA1 + "\n");
}

// Refusals reach no file and no command; a failed rename leaves the file.
TEST_F(OldStore, Refusals) {
    const std::string before = "options vxa2xxx vx2xopts=" + kA0 + "\n";
    host.write_file(kFile, before);
    const FO_TARGET_DATA_LIST in{};
    const struct Case { const char* model; uint16_t drvr_inst; uint32_t instance; bool fail_copy; uint32_t status; }
    cases[] = {
        {"vxa2xxx", 40, 1, false, SDERR_INVALID_PARAMETER}, {"", 0, 1, false, SDERR_INVALID_PARAMETER},
                 {"vxa2xxx", 0, 32, false, SDERR_INVALID_PARAMETER}, {"vxa2xxx", 0, 1, true, SDERR_CONFIG_FILE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        port(1, c.model, c.drvr_inst);
        if (c.fail_copy) host.fail_rename(kFile, EIO, 1);
        const size_t commands = host.commands().size();
        EXPECT_EQ(vxapi_set_data_to_old_persist_store(c.instance, kWwn0, nullptr, &in), c.status);
        EXPECT_EQ(host.read_file(kFile), before);
        EXPECT_EQ(host.commands().size() == commands, !c.fail_copy);
    }
}

TEST_F(OldStore, Deletes) {
    const uint8_t node[8] = {0x20, 0, 0, 0, 0, 0, 0, 0xaa};
    const std::string line = "options vxa2xxx Bind=1 vx2xopts=" + kA0 + kTarget + kA1 + " ConfigRequired=1\n";
    const std::string other = "options vxa2300 vx2xopts=" + kA0 + kTarget + "\n";
    const struct Case { bool target; const uint8_t* name; uint32_t status, deleted; std::string after; } cases[] = {
        {false, kWwn0 + 8, 0, 1, "options vxa2xxx Bind=1 vx2xopts=" + kA1 + " ConfigRequired=1\n" + other},
        {true, node, 0, 1, "options vxa2xxx Bind=1 vx2xopts=" + kA0 + kA1 + " ConfigRequired=1\n" + other},
        {false, node, SDERR_INVALID_PARAMETER, 0, "="},
        {true, kWwn0, SDERR_INVALID_PARAMETER, 0, "="},  // "=": unchanged
    };
    for (const Case& c : cases) {
        host.write_file(kFile, line + other);
        uint32_t deleted = 7;
        const auto del = c.target ? vxapi_del_old_persist_tgt_entry : vxapi_del_old_persist_dev_entry;
        EXPECT_EQ(del("vxa2xxx", work.get(), &deleted, c.name), c.status);
        EXPECT_EQ(deleted, c.deleted);
        EXPECT_EQ(host.read_file(kFile), c.after == "=" ? line + other : c.after);
    }
    host.write_file(kFile, "options vxa2xxx vx2xopts=0\n");
    EXPECT_EQ(vxapi_del_old_persist_dev_entry("vxa2xxx", work.get(), nullptr, kWwn0 + 8),
              SDERR_INVALID_REGISTRY_SETTING);
    EXPECT_EQ(vxapi_get_old_persist_tgt_entry_list("vxa2300", work.get()), SDERR_UNKNOWN);
}

TEST(OldStoreLists, DecimalListsAreBounded) {
    FO_EXTERNAL_LUN_DATA_ENTRY lun{};
    lun.Data[256] = FO_LUN_PREFERRED, lun.Data[300] = FO_LUN_ENABLED | FO_LUN_PREFERRED;
    std::fill(lun.Data + 4000, lun.Data + 4096, FO_LUN_ENABLED);
    char text[16] = "x";
    uint32_t offset = 1, count = 0;
    EXPECT_EQ(vxapi_write_new_preferred(text, sizeof text, lun, &offset, 256, &count), 0u);
    EXPECT_EQ(std::string(text) + "/" + std::to_string(offset) + "/" + std::to_string(count), "x256,300,/9/2");
    EXPECT_EQ(vxapi_write_new_disabled(text, sizeof text, lun, &offset, 3900, &count), SDERR_CONFIG_FILE);
    EXPECT_EQ(std::exchange(offset, 0), 9u);
    EXPECT_EQ(vxapi_write_new_disabled(text, sizeof text, lun, &offset, 4000, &count), 0u);
    EXPECT_EQ(std::string(text) + "/" + std::to_string(count), "/96");
}

}  // namespace

// The option string: golden text and its round trip, the parser's refusals and bounds, the file reader, and the
// renumbering of the paths read from it.
#include "failover/vx_fo_optstr.h"
#include "failover/vx_fo_paths.h"
#include "test_support.h"

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
    EXPECT_EQ(back.format(VX_FO_FROM_TARGETS) + back.format(VX_FO_FROM_LUNS) + s.format(VX_FO_FROM_LUNS), text + text + text);
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

}  // namespace

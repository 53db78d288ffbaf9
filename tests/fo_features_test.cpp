// The HBA feature settings through the public functions against module configuration files in the simulated
// host's /etc, and the driver's module parameters (the file under /sys/module, absent while the driver is not
// loaded, and the modprobe configuration file).
#include "base/vx_modparam.h"
#include "failover/vx_fo_files.h"
#include "failover/vx_fo_optline.h"
#include "sim_files.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

constexpr int kHandle = 3;
constexpr char kFile[] = "/etc/modprobe.conf";

// A port in legacy slot 2 running the "vxa2xxx" driver.
class Features : public ::testing::Test {
protected:
    void SetUp() override { open_port("vxa2xxx"); }
    void TearDown() override { api_priv_data[2] = vxapi_priv_db_t{}; }
    static void open_port(const char* model) {
        api_priv_data[2] = vxapi_priv_db_t{};
        std::strcpy(api_priv_data[2].phys_path, "/dev/vxa2xxx");
        std::strncpy(api_priv_data[2].model, model, sizeof api_priv_data[2].model - 1);
        api_priv_data[2].apihandle = kHandle;
    }
    // The five features of the list, each as SDGetHbaFeature gives it too.
    static std::vector<HBA_FEATURE_ENTRY> list() {
        std::vector<HBA_FEATURE_ENTRY> room(6);  // the count and five entries
        auto* list = reinterpret_cast<HBA_FEATURE_LIST*>(room.data());
        list->Count = 5;
        EXPECT_EQ(SDGetHbaSupportedFeatureList(kHandle, list), 0u);
        const std::vector<HBA_FEATURE_ENTRY> out(list->Entry, list->Entry + 5);
        for (const HBA_FEATURE_ENTRY& e : out) {
            HBA_FEATURE_ENTRY one{};
            EXPECT_EQ(SDGetHbaFeature(kHandle, e.Id, &one), 0u);
            EXPECT_EQ(std::memcmp(&one, &e, sizeof e), 0);
        }
        return out;
    }
    static std::vector<uint32_t> features() {  // Current and Flags of each, in the order of the ids 1, 2, 16, 4, 8
        std::vector<uint32_t> out;
        uint32_t ids = 0;
        for (const HBA_FEATURE_ENTRY& e : list()) {
            out.insert(out.end(), {e.Current, e.Flags});
            ids = ids * 100 + e.Id;
        }
        EXPECT_EQ(ids, 102160408u);
        return out;
    }
    sim::SimHost host;
};

TEST_F(Features, ReadFromTheOptionsLine) {
    const struct Case {
        const char* file;  // null: no modules file
        std::vector<uint32_t> expected;
    } cases[] = {
        {"options vxa2xxx ConfigRequired=2 Bind=1\n", {2, 0x72, 0, 0x72, 1, 0x72, 0, 0x72, 1, 0x72}},
        {"  \toptions vxa2xxx Bind=0\n", {0, 0x62, 1, 0x62, 2, 0x62, 1, 0x72, 0, 0x72}},
        {" # options vxa2xxx Bind=0\noptions vxa2xxx_conf Bind=0\n", {0, 0x62, 1, 0x62, 2, 0x62, 1, 0x62, 0, 0x62}},
        {"options vxa2xxx Bind=7 ConfigRequired=x\n", {0, 0x62, 1, 0x62, 2, 0x62, 1, 0x72, 0, 0x72}},
        {nullptr, {0, 0x62, 1, 0x62, 2, 0x62, 1, 0x62, 0, 0x62}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file == nullptr ? "no file" : c.file);
        c.file != nullptr ? host.write_file(kFile, c.file) : void(vx::sys().unlink(kFile));
        EXPECT_EQ(features(), c.expected);
    }
    host.write_file(kFile, "alias x y\n options vxa2xxx Bind=1");
    std::string line;
    EXPECT_TRUE(vxapi_get_drv_param_optline(2, &line) == 0 && line == " options vxa2xxx Bind=1");
    EXPECT_EQ(vxapi_get_drv_param_optline(2, nullptr), SDERR_INVALID_PARAMETER);
    const HBA_FEATURE_ENTRY bind_by_pid = {1, 88, 8, 1, 0, 1, 0, 1, 0x72, 0, "Bind by PID"};
    EXPECT_EQ(std::memcmp(&list()[4], &bind_by_pid, sizeof bind_by_pid), 0);
    // Only the first file that opens is read.
    host.write_file("/etc/conf.modules", "alias eth0 e1000\n");
    EXPECT_EQ(features()[7], 0x62u);

    HBA_FEATURE_LIST small{1, {}};
    EXPECT_EQ(SDGetHbaSupportedFeatureList(kHandle, &small), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.Count, 5u);
    HBA_FEATURE_ENTRY e{};
    EXPECT_EQ(SDGetHbaFeature(kHandle, 3, &e), SDERR_INVALID_REQUEST);
    for (const int handle : {kHandle, kHandle + 1, 0}) {
        EXPECT_EQ(SDGetHbaFeature(handle, 1, handle == kHandle ? nullptr : &e), SDERR_INVALID_PARAMETER);
    }
}

TEST_F(Features, SettersRewriteTheLine) {
    const struct Case {
        const char* before;
        std::vector<HBA_FEATURE_SETTING> settings;  // one: SDSetHbaFeature; more: SDSetHbaFeatureList
        uint32_t status;
        const char* after;
    } cases[] = {
        {"options vxa2xxx Bind=1\n", {{4, 1, 0, 0}}, 0, ""},  // no options line is left without parameters
        {"options vxa2xxx x=3\n", {{4, 1, 0, 0}}, 0, "options vxa2xxx x=3 Bind=0\n"},
        {"options vxa2xxx x=3\n", {{8, 1, 0, 0}}, 0, "options vxa2xxx x=3 Bind=1\n"},
        {"options vxa2xxx  Bind=0 \t x=1\n", {{8, 0, 0, 0}}, 0, "options vxa2xxx  Bind=0 \t x=1\n"},
        {"options vxa2xxx ConfigRequired=1\n", {{16, 2, 0, 0}}, 0, "options vxa2xxx ConfigRequired=1\n"},
        {"options vxa2xxx Bind=1\n", {{8, 1, 2, 0}}, SDERR_INVALID_PARAMETER, "options vxa2xxx Bind=1\n"},
        {"options vxa2xxx Bind=1\n", {{32, 1, 0, 0}}, SDERR_INVALID_REQUEST, "options vxa2xxx Bind=1\n"},
        {"options vxa2xxx   Bind=1\n", {{2, 1, 1, 0}}, 0, "options vxa2xxx   Bind=1\n"},
        {"a\n# options vxa2xxx Bind=1\n", {{1, 1, 0, 0}}, 0, "a\n# options vxa2xxx Bind=1\n\noptions vxa2xxx ConfigRequired=1\n"},
        {"  options vxa2xxx Bind=1 y\n", {{2, 1, 0, 0}}, 0, "  options vxa2xxx Bind=1 y ConfigRequired=0\n"},
        {"options vxa2xxx Bind=1\n", {{1, 1, 0, 0}, {0, 0, 0, 0}}, SDERR_INVALID_REQUEST, "options vxa2xxx Bind=1\n"},
        {"options vxa2xxx Bind=1\n", {{1, 1, 0, 0}, {5, 1, 0, 0}}, SDERR_INVALID_REQUEST, "options vxa2xxx Bind=1\n"},
        {"options vxa2xxx Bind=1\n", {{1, 1, 0, 0}, {16, 1, 0, 0}}, 0, "options vxa2xxx Bind=0 ConfigRequired=2\n"},
        {"options vxa2xxx Bind=1\n", {{1, 1, 0, 0}, {2, 1, 2, 0}}, SDERR_INVALID_PARAMETER, "options vxa2xxx Bind=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + std::to_string(c.settings[0].Id));
        host.write_file(kFile, c.before);
        const size_t commands = host.commands().size();
        const HBA_FEATURE_SETTING& s = c.settings[0];
        std::vector<uint32_t> words{static_cast<uint32_t>(c.settings.size())};
        for (const HBA_FEATURE_SETTING& s : c.settings) words.insert(words.end(), {s.Id, s.Value, s.Flag, 0});
        auto* list = reinterpret_cast<HBA_FEATURE_SETTING_LIST*>(words.data());
        EXPECT_EQ(c.settings.size() == 1 ? SDSetHbaFeature(kHandle, s.Id, s.Value, s.Flag) : SDSetHbaFeatureList(kHandle, list),
                  c.status);
        EXPECT_EQ(host.read_file(kFile), c.after);
        // A refused setting runs no command; any other ends with "depmod -a".
        EXPECT_EQ(host.commands().size() == commands, c.status != 0);
        EXPECT_TRUE(c.status != 0 || host.commands().back() == "depmod -a");
    }
}

// The writer of the driver's options takes the parameters of the text it is given, as kmod reads it: a text that
// kmod would not read as written, or that holds other lines, is refused with the file as it was; otherwise only the
// parameters that differ change.
TEST_F(Features, OptionsWriterTakesOnlyWhatKmodReads) {
    const std::string before = "# mine\noptions vxa2xxx Bind=1 x=2\nalias a b\noptions vxa2xxx y=3\n";
    const struct Case { std::string given; uint32_t status; std::string after; } cases[] = {
        {"options vxa2xxx Bind=\"1 x=2\noptions vxa2xxx y=3\n", SDERR_CONFIG_FILE, before},  // an open quote
        {"options vxa2xxx Bind=1 x=2 y=3 \\", SDERR_CONFIG_FILE, before},                     // a backslash at the end
        {std::string("options vxa2xxx Bind=1\0 x=2 y=3\n", 30), SDERR_CONFIG_FILE, before},   // a NUL
        {"options vxa2xxx Bind=0 x=2\noptions other y=3\n", SDERR_CONFIG_FILE, before},        // another module's line
        {"# note\noptions vxa2xxx Bind=0 x=2 y=3\n", SDERR_CONFIG_FILE, before},              // a comment
        {"options vxa2xxx Bind=1 x=2\noptions vxa2xxx y=3\n", 0, before},
        {"options vxa2xxx Bind=0 x=2 y=3\n", 0, "# mine\noptions vxa2xxx Bind=0 x=2\nalias a b\noptions vxa2xxx y=3\n"},
        {"options vxa2xxx x=2\n\noptions vxa2xxx z=\"a b\"\n", 0, "# mine\noptions vxa2xxx x=2 z=\"a b\"\nalias a b\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        host.write_file(kFile, before);
        EXPECT_EQ(vxapi_set_drv_param_optline(2, c.given), c.status);
        EXPECT_EQ(host.read_file(kFile), c.after);
    }
    std::string read;
    host.write_file(kFile, before);
    ASSERT_EQ(vxapi_get_drv_param_optline(2, &read), 0u);
    EXPECT_EQ(read, "options vxa2xxx Bind=1 x=2\noptions vxa2xxx y=3\n");
}

// A port whose driver name cannot be trusted never reaches a file or a command; a failed write or copy leaves
// the file as it was, and no temporary file behind.
TEST_F(Features, FailuresLeaveTheFileUnchanged) {
    const std::string before = "options vxa2xxx Bind=1\noptions other Bind=1\n";
    struct FailingWrite : sim::ForwardingPlatform {
        using ForwardingPlatform::ForwardingPlatform;
        ssize_t write(int, const void*, size_t) override { return errno = ENOSPC, -1; }
    };
    const struct Case { const char* model; int fault; uint32_t status; } cases[] = {  // fault 1: rename, 2: writes
        {"", 0, SDERR_INVALID_PARAMETER}, {"vx'a;rm", 0, SDERR_INVALID_PARAMETER}, {"vxa2xxx", 1, SDERR_CONFIG_FILE},
        {"vxa2xxx", 2, SDERR_CONFIG_FILE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        sim::SimHost own;
        own.write_file(kFile, before);
        open_port(c.model);
        if (c.fault == 1) own.fail_rename(kFile, EIO);
        std::optional<FailingWrite> failing;
        if (c.fault == 2) failing.emplace(own);
        EXPECT_EQ(SDSetHbaFeature(kHandle, 8, 1, 0), c.status);
        failing.reset();
        EXPECT_EQ(own.read_file(kFile), before);
        std::vector<std::string> names;
        ASSERT_EQ(vx::sys().list_dir("/etc", names), 0);
        EXPECT_EQ(names, std::vector<std::string>{"modprobe.conf"});
        for (const std::string& command : own.commands()) EXPECT_EQ(command.find(';'), std::string::npos);
    }
    // A line that would pass 65,535 characters is refused.
    open_port("vxa2xxx");
    host.write_file(kFile, "options vxa2xxx " + std::string(65520, 'x') + "\n");
    EXPECT_EQ(SDSetHbaFeature(kHandle, 1, 1, 0), SDERR_CONFIG_FILE);
}

// The install: the new file renamed into place with no command run, a simple backup when asked for, and, when
// the rename fails, the file and its backup as they were and no temporary file behind; a link stays a link.
TEST(ConfigFiles, InstallWithBackup) {
    sim::SimHost host;
    const std::string dest = "/etc/it's.conf";
    const auto etc = [] {
        std::vector<std::string> names;
        vx::sys().list_dir("/etc", names);
        std::sort(names.begin(), names.end());
        return names;
    };
    host.write_file(dest, "old");
    ASSERT_EQ(vx_conf_replace_file(dest, "new", ".bak"), 0u);
    EXPECT_EQ(host.read_file(dest) + host.read_file(dest + ".bak"), "newold");
    EXPECT_TRUE(host.commands().empty());

    host.fail_rename(dest, EIO, 1);
    EXPECT_EQ(vx_conf_replace_file(dest, "newer", ".bak"), SDERR_CONFIG_FILE);
    EXPECT_EQ(host.read_file(dest) + host.read_file(dest + ".bak"), "newold");
    EXPECT_EQ(etc(), (std::vector<std::string>{"it's.conf", "it's.conf.bak"}));
    EXPECT_EQ(vx_conf_restore(dest, ".bak"), 0u);
    EXPECT_EQ(host.read_file(dest), "old");
    EXPECT_EQ(vx_conf_restore(dest, ".bak"), SDERR_CONFIG_FILE);  // no backup left: dest stays
    EXPECT_EQ(host.read_file(dest), "old");

    // A backup left by an earlier install goes when there is no file to keep.
    host.write_file(dest + ".bak", "stale");
    vx::sys().unlink(dest.c_str());
    ASSERT_EQ(vx_conf_replace_file(dest, "first", ".bak"), 0u);
    EXPECT_EQ(etc(), std::vector<std::string>{"it's.conf"});

    host.write_file("/etc/modprobe.d/real.conf", "linked");
    host.make_symlink("modprobe.d/real.conf", "/etc/link.conf");
    ASSERT_EQ(vx_conf_replace_file("/etc/link.conf", "through"), 0u);
    struct stat st {};
    EXPECT_TRUE(vx::sys().lstat("/etc/link.conf", &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(host.read_file("/etc/modprobe.d/real.conf"), "through");
}

// An install keeps the mode of the file it replaces (through a link, of the file it leads to) and, for a writer that
// may set them, its owner and group; the backup copies them, and goes back with its own when the install fails. A
// new file is 0644 and the writer's.
TEST(ConfigFiles, InstallKeepsModeOwnerAndGroup) {
    using Attrs = std::optional<sim::FileAttrs>;
    constexpr uid_t kUser = 1234;
    constexpr gid_t kGroup = 5678;
    const Attrs kOld = sim::FileAttrs{0600, 0, 0};  // of the backup an earlier install left
    const struct Case {
        const char* what;
        const char* link;  // to the file, or null
        Attrs file;        // null: none
        uid_t euid;
        bool rename_fails;
        Attrs after, backup;
        size_t fchowns;
    } cases[] = {
        {"new file", nullptr, std::nullopt, 0, false, sim::FileAttrs{0644, 0, 0}, std::nullopt, 0},
        {"0640", nullptr, sim::FileAttrs{0640, 0, 0}, 0, false, sim::FileAttrs{0640, 0, 0}, sim::FileAttrs{0640, 0, 0}, 0},
        {"other owner", nullptr, sim::FileAttrs{0600, kUser, kGroup}, 0, false, sim::FileAttrs{0600, kUser, kGroup},
         sim::FileAttrs{0600, kUser, kGroup}, 2},
        {"set-group-id", nullptr, sim::FileAttrs{02750, 0, kGroup}, 0, false, sim::FileAttrs{02750, 0, kGroup},
         sim::FileAttrs{02750, 0, kGroup}, 2},
        {"link", "real/x.conf", sim::FileAttrs{0640, kUser, 0}, 0, false, sim::FileAttrs{0640, kUser, 0},
         sim::FileAttrs{0640, kUser, 0}, 2},
        {"not root", nullptr, sim::FileAttrs{0640, kUser, kGroup}, 1000, false, sim::FileAttrs{0640, 0, 0},
         sim::FileAttrs{0640, 0, 0}, 0},
        {"rename fails", nullptr, sim::FileAttrs{0644, kUser, kGroup}, 0, true, sim::FileAttrs{0644, kUser, kGroup},
         kOld, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimHost host;
        const std::string dest = "/etc/x.conf", file = c.link != nullptr ? "/etc/real/x.conf" : dest;
        host.write_file(dest + ".bak", "older", 0600);
        if (c.link != nullptr) host.make_symlink(c.link, dest);
        if (c.file) {
            const auto [mode, uid, gid] = *c.file;
            host.write_file(file, "old", mode);
            host.set_owner(file, uid), host.set_group(file, gid);
        }
        host.set_euid(c.euid);
        if (c.rename_fails) host.fail_rename(file, EIO, 1);
        EXPECT_EQ(vx_conf_replace_file(dest, "new", ".bak"), c.rename_fails ? SDERR_CONFIG_FILE : 0u);
        EXPECT_EQ(host.read_file(file), c.rename_fails ? "old" : "new");
        EXPECT_EQ(sim::file_attrs(host, file), c.after);
        EXPECT_EQ(sim::file_attrs(host, dest + ".bak"), c.backup);
        EXPECT_EQ(host.fchowns().size(), c.fchowns);
        struct stat st {};
        EXPECT_TRUE(host.lstat(dest.c_str(), &st) == 0 && S_ISLNK(st.st_mode) == (c.link != nullptr));
    }
}

using std::nullopt, std::optional, std::string;

constexpr char kParam[] = "/sys/module/vxa2xxx/parameters/vx2xzonewise";
constexpr char kConf[] = "/etc/modprobe.d/vxa2xxx.conf";
constexpr uint32_t kUntouched = 0xABCD;

enum class Op { Set, Get, Conf };

struct Case {  // the files before and after (nullopt: absent), and *pvalue after a get
    const char* what; Op op; const char* name; uint32_t value; optional<string> param, conf; uint32_t status;
    optional<string> param_after, conf_after; uint32_t got = kUntouched;
};

const string kHostile = "vx2xzonewise=1\ninstall vxa2xxx /bin/sh -c id\n#";
const string kLong = "options vxa2xxx a=" + string(300, '7') + "\n";

const Case kCases[] = {
    {"conf created", Op::Conf, "vx2xzonewise", 1, nullopt, nullopt, 0, nullopt, "options vxa2xxx vx2xzonewise=1\n"},
    {"digit changed", Op::Conf, "vx2xzonewise", 1, nullopt, "options vxa2xxx vx2xzonewise=0\nalias a b\n", 0,
     nullopt, "options vxa2xxx vx2xzonewise=1\nalias a b\n"},
    {"setting appended", Op::Conf, "vx2xzonewise", 0, nullopt, "options vxa2xxx other=3\nsecond\n", 0, nullopt,
     "options vxa2xxx other=3 vx2xzonewise=0\nsecond\n"},
    {"value 2 leaves it", Op::Conf, "vx2xzonewise", 2, nullopt, "options vxa2xxx vx2xzonewise=0\n", 0, nullopt,
     "options vxa2xxx vx2xzonewise=0\n"},
    {"empty conf", Op::Conf, "vx2xzonewise", 1, nullopt, "", 1, nullopt, ""},
    {"leading comment", Op::Conf, "vx2xzonewise", 1, nullopt, "# options vxa2xxx vx2xzonewise=0\nalias a b", 0,
     nullopt, "# options vxa2xxx vx2xzonewise=0\nalias a b\noptions vxa2xxx vx2xzonewise=1\n"},
    {"longer name, whole value", Op::Conf, "vx2xzonewise", 0, nullopt,
     "options vxa2xxx_x vx2xzonewise=1\noptions vxa2xxx vx2xzonewise_old=1 vx2xzonewise=12\n", 0, nullopt,
     "options vxa2xxx_x vx2xzonewise=1\noptions vxa2xxx vx2xzonewise_old=1 vx2xzonewise=0\n"},
    {"line over 255", Op::Conf, "vx2xzonewise", 1, nullopt, kLong, 0, nullopt,
     kLong.substr(0, kLong.size() - 1) + " vx2xzonewise=1\n"},
    {"hostile conf", Op::Conf, kHostile.c_str(), 1, "1\n", "options vxa2xxx a=1\n", 1, "1\n", "options vxa2xxx a=1\n"},
    {"hostile set", Op::Set, "../../../etc/modprobe.d/vxa2xxx.conf", 1, "1\n", "x\n", 1, "1\n", "x\n"},
    {"hostile get", Op::Get, "vx2xzonewise/", 1, "1\n", nullopt, 1, "1\n", nullopt},
    {"set, no driver", Op::Set, "vx2xzonewise", 1, nullopt, nullopt, 20, nullopt, nullopt},
    {"get, no driver", Op::Get, "vx2xzonewise", 0, nullopt, nullopt, 20, nullopt, nullopt},
    {"get 1", Op::Get, "vx2xzonewise", 0, "1\n", nullopt, 0, "1\n", nullopt, 1},
    {"get, 32 bytes read", Op::Get, "vx2xzonewise", 0, string(40, '9'), nullopt, 0, string(40, '9'), nullopt,
     0xFFFFFFFF},
    {"set 1", Op::Set, "vx2xzonewise", 1, "", nullopt, 0, string("1\0\0\0", 4), nullopt},
    {"set five digits", Op::Set, "vx2xzonewise", 12345, "", nullopt, 0, "12345", nullopt},
};

TEST(ModuleParams, FilesAndStatuses) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        sim::SimHost host;
        host.make_dir("/sys/module/vxa2xxx/parameters"), host.make_dir("/etc/modprobe.d");
        if (c.param) host.write_file(kParam, *c.param);
        if (c.conf) host.write_file(kConf, *c.conf);
        uint32_t status = kUntouched, got = kUntouched;
        if (c.op == Op::Set) vxapi_set_driver_module_param(c.name, c.value, &status);
        if (c.op == Op::Get) vxapi_get_driver_module_param(c.name, &got, &status);
        if (c.op == Op::Conf) vxapi_set_driver_module_param_conf(c.name, c.value, &status);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(got, c.got);
        EXPECT_EQ(host.exists(kParam) ? optional(host.read_file(kParam)) : nullopt, c.param_after);
        EXPECT_EQ(host.exists(kConf) ? optional(host.read_file(kConf)) : nullopt, c.conf_after);
    }
}

}  // namespace

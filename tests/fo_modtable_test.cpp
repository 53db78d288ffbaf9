// The configuration table inside the driver's configuration module: found in any window, read along its chain,
// OPTIONS read and replaced in place.
#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_optstr.h"
#include "sim_modtable.h"
#include "test_support.h"

namespace {

constexpr char kKo[] = "/lib/modules/6.1.0-sim/kernel/drivers/scsi/vxa2xxx/vxa2xxx_conf.ko";
constexpr char kConf[] = "/etc/vxa2xxx.conf";
constexpr size_t kWindow = 3002176;

// A table whose OPTIONS value has `room` bytes, between two other entries.
sim::ModTable table(const std::string& id, int32_t room, const std::string& value = "old-value") {
    sim::ModTable t;
    t.padding = 100;
    t.id = id;
    t.entries = {{"OTHER", "x", 40}, {"", "unnamed", 40}, {"OPTIONS", value, 24 + room}, {"LAST", "y", 32}};
    return t;
}

struct ModRig {
    void install(const sim::ModTable& t) {
        const sim::Bytes b = sim::build_module(t);
        host.write_file(kKo, std::string(b.begin(), b.end()));
    }
    std::string get() {
        std::vector<char> dest(VX_FO_OPTSTR_SIZE);
        return vxapi_get_opt_vals("vxa2xxx", dest.data()) == 0 ? std::string(dest.data()) : "<none>";
    }
    sim::SimHost host;
};

TEST(ModuleTable, GetAndSetOptions) {
    const std::string fits(19, 'f'), too_large(300, 's'), beyond(VX_FO_OPTSTR_SIZE, 'v');
    const struct Case {
        const char* name;
        sim::ModTable module;
        const char* conf;  // null: no "/etc/vxa2xxx.conf"
        int set_status;
        std::string value_after, message;  // what the get answers after the set, and standard error
    } cases[] = {
        {"fits exactly", table("vxa2xxx_conf", 20), fits.c_str(), 0, fits, ""},
        {"one byte more", table("vxa2xxx_conf", 20), "ggggggggggggggggggggg", 1, "old-value",
         "vxa2xxx_conf.ko: Insufficient room in table for specified config values\n"},
        {"empty value", table("vxa2xxx_conf", 20, ""), "", 0, "", ""},
        {"shorter value", table("vxa2xxx_conf", 24, "abcdefghijklmnop"), "xy", 0, "xy", ""},
        {"no id entry", table("", 20), "new", 1, "old-value",
         "vxa2xxx_conf.ko: Configuration table \"vxa2xxx_conf\" does not exist\n"},
        {"another table's name", table("other_conf", 20), "new", 1, "old-value", "does not exist"},
        {"no source", table("vxa2xxx_conf", 20), nullptr, 1, "old-value",
         "vxa_opts: unable to load conf file (/etc/vxa2xxx.conf)!!!\n"},
        {"source beyond the table", table("vxa2xxx_conf", 20), too_large.c_str(), 1, "old-value",
         "vxa_opts: reduce conf file size --  (max=264)!!!\n"},
        {"value beyond the option string", table("vxa2xxx_conf", VX_FO_OPTSTR_SIZE + 8, beyond), nullptr, 1,
         "<none>", "unable to load conf file"},
        {"no OPTIONS", sim::ModTable{0, "vxa2xxx_conf", {{"OTHER", "x", 40}}, 8}, "new", 1, "<none>",
         "configuration name \"OPTIONS\" undefined\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModRig rig;
        rig.install(c.module);
        if (c.conf != nullptr) rig.host.write_file(kConf, c.conf);
        const std::string before = rig.host.read_file(kKo);
        EXPECT_EQ(vxapi_set_opt_vals("vxa2xxx", nullptr), c.set_status);
        EXPECT_NE(rig.host.stderr_text().find(c.message), std::string::npos) << rig.host.stderr_text();
        EXPECT_EQ(rig.get(), c.value_after);
        // A set writes the new value and its NUL over the old one, and nothing else.
        std::string expected = before;
        const size_t n = c.conf == nullptr ? 0 : std::strlen(c.conf) + 1;
        if (c.set_status == 0) expected.replace(before.find("OPTIONS") + 24, n, c.conf, n);
        EXPECT_EQ(rig.host.read_file(kKo), expected);
    }
    // The module's path needs the kernel release.
    ModRig rig;
    rig.install(table("vxa2xxx_conf", 20));
    struct NoUname : sim::ForwardingPlatform {
        using ForwardingPlatform::ForwardingPlatform;
        int uname(struct utsname*) override { return -1; }
    } platform(rig.host);
    EXPECT_EQ(rig.get(), "<none>");
    EXPECT_EQ(rig.host.stderr_text(), "***Unable to retrieve uname() system information...\n");
}

// Only the first table of a module is taken, in whichever window its header entry begins, also when its head
// straddles the end of a window.
TEST(ModuleTable, FirstTableInAnyWindow) {
    for (const size_t padding : {kWindow - 20, kWindow - 10, kWindow + 5}) {
        SCOPED_TRACE(padding);
        ModRig rig;
        sim::ModTable first = table("other_conf", 20, "first");
        first.padding = padding;
        sim::Bytes bytes = sim::build_module(first);
        const sim::Bytes second = sim::build_module(table("vxa2xxx_conf", 20, "second"));
        bytes.insert(bytes.end(), second.begin(), second.end());
        rig.host.write_file(kKo, std::string(bytes.begin(), bytes.end()));
        EXPECT_EQ(rig.get(), "first");
    }
}

TEST(ModuleTable, DamagedModulesAreRefused) {
    const sim::Bytes good = sim::build_module(table("vxa2xxx_conf", 20));
    const std::string text(good.begin(), good.end());
    const size_t options_at = text.find("OPTIONS");
    const struct Case {
        size_t at;
        std::string bytes, message, out;
    } cases[] = {
        {options_at + 24 + 9, std::string(11, 'x'), "", ""},  // a value without its end
        {100 + 25, "X", "vxa2xxx_conf.ko: Bad table magic value\n", ""},
        {options_at + 16, "\xF0\xFF\xFF\x7F", "Bad end of table\n", ""},  // a chain past the file
        {text.find("<EnD") + 1, "X", "Bad end of table\n", ""},
        {100, std::string(1, '\0'), "", "No configuration tables are present\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        ModRig rig;
        rig.host.write_file(kKo, std::string(text).replace(c.at, c.bytes.size(), c.bytes));
        EXPECT_EQ(rig.get(), "<none>");
        EXPECT_NE(rig.host.stderr_text().find(c.message), std::string::npos) << rig.host.stderr_text();
        EXPECT_EQ(rig.host.stdout_text(), c.out);
    }
}

// The in-place write carries on over interrupted and partial writes; a write that fails, or that makes no
// progress, fails the set.
struct WritePlatform : sim::ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    ssize_t write(int fd, const void* buf, size_t n) override {
        if (++calls % 2 == 1 && fail == 0) return errno = EINTR, -1;
        if (fail < 0) return errno = -fail, -1;
        if (fail > 0) return 0;
        return ForwardingPlatform::write(fd, buf, std::min<size_t>(n, 7));
    }
    int calls = 0;
    int fail = 0;  // 0: interrupted and partial writes; <0: -errno; >0: no progress
};

TEST(ModuleTable, InPlaceWrite) {
    const std::pair<int, const char*> cases[] = {
        {0, ""},
        {-EIO, "vxa2xxx_conf.ko: write: Input/output error\n/lib"},
        {1, "vxa2xxx_conf.ko: Short write\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ModRig rig;
        rig.install(table("vxa2xxx_conf", 20));
        rig.host.write_file(kConf, "new-value");
        {
            WritePlatform platform(rig.host);
            platform.fail = c.first;
            EXPECT_EQ(vxapi_set_opt_vals("vxa2xxx", nullptr), c.first == 0 ? 0 : 1);
        }
        EXPECT_NE(rig.host.stderr_text().find(c.second), std::string::npos) << rig.host.stderr_text();
        EXPECT_EQ(rig.get(), c.first == 0 ? "new-value" : "old-value");
    }
}

}  // namespace

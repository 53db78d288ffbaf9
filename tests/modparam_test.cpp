// Driver module parameters against the simulated host: the parameter file under /sys/module (absent while the
// driver is not loaded) and the modprobe configuration file.
#include "core/vx_modparam.h"
#include "test_support.h"

namespace {

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

// Module option files edited by hand, set through each writer of them: the call either fails with the file as it
// was, or kmod then reads every parameter of every module as before, except the one set.
#include <map>
#include <sstream>

#include "api_rig.h"
#include "base/vx_modconf.h"
#include "base/vx_modparam.h"
#include "failover/vx_fo_store.h"
#include "kmod_reading.h"
#include "vxsdm.h"

namespace {

using kmodread::Settings;

constexpr int kHandle = 3;
constexpr char kModule[] = "vxa2xxx";
constexpr char kZoneParam[] = "/sys/module/vxa2xxx/parameters/vx2xzonewise";

// The writers, each with its file and what it does to the driver's settings.
enum class Writer { ZoneWise, ZoneWiseOff, BindByPid, BindByWwpn, Save };

const char* file_of(Writer w) {
    switch (w) {
        case Writer::ZoneWise:
        case Writer::ZoneWiseOff: return VX_MODPARAM_CONF;
        case Writer::BindByPid:
        case Writer::BindByWwpn: return "/etc/modprobe.conf";
        case Writer::Save: return "/etc/modules.conf";
    }
    return "";
}

void set(Settings& s, const char* name, const char* value) { s[{kModule, name}] = value; }
bool has(const Settings& s, const char* name) { return s.count({kModule, name}) != 0; }

// The settings the writer should leave, from those before.
Settings expected(Writer w, Settings s) {
    switch (w) {
        case Writer::ZoneWise: set(s, "vx2xzonewise", "1"); break;
        case Writer::ZoneWiseOff: set(s, "vx2xzonewise", "0"); break;
        case Writer::BindByPid: set(s, "Bind", "1"); break;
        case Writer::BindByWwpn: has(s, "Bind") ? void(s.erase({kModule, "Bind"})) : set(s, "Bind", "0"); break;
        case Writer::Save:
            if (!has(s, "ConfigRequired")) set(s, "ConfigRequired", "1");
            if (!has(s, "vx2xuseextopts")) s.erase({kModule, "vx2xopts"}), set(s, "vx2xuseextopts", "1");
            break;
    }
    return s;
}

// The module's options lines as kmod reads them whose every parameter the writer removes.
long emptied(Writer w, const kmodread::Reading& r) {
    const Settings& s = r.settings;
    std::string removed;
    if (w == Writer::BindByWwpn && has(s, "Bind")) removed = "Bind";
    if (w == Writer::Save && !has(s, "vx2xuseextopts")) removed = "vx2xopts";
    if (removed.empty()) return 0;
    return std::count_if(r.lines.begin(), r.lines.end(), [&](const std::string& l) {
        if (!l.starts_with("options vxa2xxx ")) return false;
        std::istringstream words(l.substr(16));
        for (std::string p; words >> p;) {
            if (p.substr(0, p.find('=')) != removed) return false;
        }
        return true;
    });
}

// Runs the writer through its public function on a host holding the file; the status and the file after.
std::pair<uint32_t, std::string> run(Writer w, const std::string& before) {
    apitest::ApiRig rig;
    const int zone_handle = rig.add_adapter(0x2532).handle;
    rig.host.write_file(kZoneParam, "0\n");
    rig.host.make_dir("/etc/modprobe.d");
    rig.host.write_file(file_of(w), before);
    vxapi_priv_db_t& slot = api_priv_data[2];
    const vxapi_priv_db_t kept = slot;
    slot = vxapi_priv_db_t{};
    std::strcpy(slot.phys_path, "/dev/vxa2xxx"), std::strcpy(slot.model, kModule);
    slot.apihandle = kHandle;
    uint32_t status = 0;
    switch (w) {
        case Writer::ZoneWise: status = SDEnableZoneWiseFC(zone_handle, 0); break;
        case Writer::ZoneWiseOff: vxapi_set_driver_module_param_conf("vx2xzonewise", 0, &status); break;
        case Writer::BindByPid: status = SDSetHbaFeature(kHandle, HBA_FEATURE_BIND_BY_PID, 1, 0); break;
        case Writer::BindByWwpn: status = SDSetHbaFeature(kHandle, HBA_FEATURE_BIND_BY_WWPN, 1, 0); break;
        case Writer::Save: status = vxapi_update_old_conf_file(kModule, 0); break;
    }
    slot = kept;
    return {status, rig.host.read_file(file_of(w))};
}

// A comment whose tail, cut at 65,535 characters, would be an options line.
const std::string kLongComment = "#" + std::string(65534, 'c') + "options vxa2xxx x=9\n";
const std::string kHeads =
    "install vxa2xxx /sbin/modprobe --ignore-install vxa2xxx\nalias scsi_hostadapter vxa2xxx\n"
    "blacklist vxa2xxx_old\nsoftdep vxa2xxx pre: scsi_transport_fc\n";

struct Row {
    const char* what;
    std::vector<Writer> writers;
    std::string before;
    bool refused = false;  // the call must fail (with the file unchanged)
};

using W = Writer;
const std::vector<W> kAll = {W::ZoneWise, W::ZoneWiseOff, W::BindByPid, W::BindByWwpn, W::Save};

const Row kRows[] = {
    // What the writers got wrong.
    {"two options lines", kAll, "options vxa2xxx x=1\noptions vxa2xxx y=2\n"},
    {"on the second line", {W::ZoneWise, W::BindByPid},
     "options vxa2xxx vx2xzonewise=0 Bind=0\noptions vxa2xxx vx2xzonewise=0 Bind=0\n"},
    {"twice on a line", {W::ZoneWiseOff, W::BindByPid, W::BindByWwpn},
     "options vxa2xxx vx2xzonewise=1 Bind=0 x=1 vx2xzonewise=1 Bind=0\n"},
    {"continued line", kAll, "options vxa2xxx x=1 \\\n  y=2\n"},
    {"value in a continued line", kAll,
     "options vxa2xxx x=1 \\\n  vx2xzonewise=0 Bind=0 \\\n  ConfigRequired=0 \\\n\ty=2\n"},
    {"value across a continuation", {W::ZoneWise, W::BindByPid}, "options vxa2xxx vx2xzonewise=0\\\n0 Bind=2\\\n2\n"},
    {"continued comment", kAll, "# a note \\\noptions vxa2xxx vx2xzonewise=0 Bind=0 x=1\n"},
    {"continued blacklist", kAll, "blacklist foo \\\noptions vxa2xxx vx2xzonewise=0 Bind=0 x=1\n"},
    {"quoted value", kAll, "options vxa2xxx vx2xopts=\"a  vx2xzonewise=0 Bind=0 ConfigRequired=0 b\" x=1\n"},
    {"parameters quoted whole, text after the closing quote", {W::ZoneWise, W::ZoneWiseOff, W::BindByPid},
     "options vxa2xxx \"vx2xzonewise==1\"c \"Bind=0\"x y=1\n"},
    {"names quoted whole", {W::ZoneWise, W::ZoneWiseOff, W::BindByPid, W::BindByWwpn},
     "options vxa2xxx \"vx2xzonewise\" \"Bind\" y=1\n"},
    {"longer names", {W::Save, W::BindByPid}, "options vxa2xxx NoConfigRequired=0 Binding=0 vx2xopts=a\\;b\n"},
    {"long comment", kAll, kLongComment + "options vxa2xxx x=1\n"},
    // What they got right, and still do.
    {"tabs and blanks", kAll, "options\tvxa2xxx  x=1\t\tBind=0  vx2xzonewise=0 \n"},
    {"CRLF", kAll, "alias a b\r\noptions vxa2xxx x=1 Bind=0\r\n"},
    {"other modules", kAll, "options vxa2xxx_conf Bind=1\noptions vxa2xxxx vx2xzonewise=0\noptions vxa2 x=1\n"},
    {"commented out", kAll, "#options vxa2xxx Bind=1\n  # options vxa2xxx x=2\noptions vxa2xxx y=3\n"},
    {"install, alias, blacklist, softdep", kAll, kHeads + "options vxa2xxx x=1\n"},
    {"no options line", kAll, kHeads},
    {"escapes", kAll, "options vxa2xxx a=1\\;b vx2xzonewise=\\0 Bind=\\0\n"},
    // A parameter removed from a line that held only it: the line goes whole.
    {"the only parameter, alone", {W::BindByWwpn}, "# driver options\noptions vxa2xxx Bind=1\n"},
    {"the only parameter of one of two lines", {W::BindByWwpn, W::Save},
     "options vxa2xxx Bind=1\noptions vxa2xxx x=1\noptions vxa2xxx vx2xopts=a\\;b\n# end\n"},
    {"the only parameter, tabs", {W::BindByWwpn, W::Save}, "options\tvxa2xxx\t Bind=1\t\noptions\tvxa2xxx\tvx2xopts=a \n"},
    {"the only parameter, CRLF", {W::BindByWwpn}, "alias a b\r\noptions vxa2xxx Bind=1\r\nalias c d\r\n"},
    {"the only parameter, continued", {W::BindByWwpn, W::Save},
     "options vxa2xxx \\\n  Bind=1\noptions vxa2xxx y=2\noptions vxa2xxx \\\n\tvx2xopts=a\n# end\n"},
    // What kmod does not read as it is written, or would not fit.
    {"backslash at the end", kAll, "options vxa2xxx x=1 \\", true},
    {"open quote", kAll, "options vxa2xxx a=\"b vx2xzonewise=1\n", true},
    {"NUL in the options", kAll, std::string("options vxa2xxx a=1\0 b=2\n", 25), true},
    {"line too long", {W::ZoneWise, W::BindByPid, W::Save}, "options vxa2xxx x=" + std::string(65510, 'x') + "\n",
     true},
};

// last_values() holds, for each parameter of the module, the value that value() gives it: the last one in file
// order, over repeated names, continued lines, quotes and escapes; nothing of comments or of other modules.
TEST(HandEditedOptions, LastValuesAreThoseValueGives) {
    using Values = std::map<std::string, std::string>;
    const struct Case { std::string text; Values values; } cases[] = {
        {"options vxa2xxx a=1 b=2\n# options vxa2xxx b=9\noptions vxa2xxx a=3\noptions vxa2xxx_x a=7\n",
         {{"a", "3"}, {"b", "2"}}},
        {"options vxa2xxx x=1 \\\n  y=2 x=\\\n3\noptions vxa2xxx \"z=a b\" y\n",
         {{"x", "3"}, {"y", ""}, {"z", "a b\""}}},
        {"options vxa2xxx \"Bind\" Bind=\"1 2\" c=1\\;2\r\noptions vxa2xxx Bind=0\r\n", {{"Bind", "0"}, {"c", "1;2"}}},
        {"alias a b\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const VxModConf conf(c.text, kModule);
        Values got;
        for (const auto& [name, value] : conf.last_values()) {
            got.emplace(name, value);
            EXPECT_EQ(conf.value(name), value) << name;
        }
        EXPECT_EQ(got, c.values);
    }
}

TEST(HandEditedOptions, EveryWriterSetsOneParameterAsKmodReadsIt) {
    for (const Row& row : kRows) {
        for (const Writer w : row.writers) {
            SCOPED_TRACE(std::string(row.what) + " / writer " + std::to_string(static_cast<int>(w)));
            const auto [status, after] = run(w, row.before);
            EXPECT_EQ(status != 0, row.refused);
            if (status != 0) {
                EXPECT_EQ(after, row.before);
                continue;
            }
            const std::optional<kmodread::Reading> old = kmodread::read(row.before), now = kmodread::read(after);
            if (!old || !now) {
                ADD_FAILURE() << "kmod reads past the end or into an open quote:\n" << after;
                continue;
            }
            EXPECT_EQ(now->settings, expected(w, old->settings)) << after;
            // No options line is left without parameters: kmod would refuse it.
            EXPECT_EQ(now->bad, old->bad) << after;
            // The module's options lines stay as many, but those whose every parameter the writer removed: none is
            // added, joined or split.
            const auto of_module = [](const kmodread::Reading& r) {
                return std::count_if(r.lines.begin(), r.lines.end(),
                                     [](const std::string& l) { return l.starts_with("options vxa2xxx "); });
            };
            const auto lines = [](const std::string& t) { return std::count(t.begin(), t.end(), '\n'); };
            if (of_module(*old) != 0) {
                const long gone = emptied(w, *old);
                EXPECT_EQ(of_module(*old) - of_module(*now), gone) << after;
                EXPECT_TRUE(gone != 0 || lines(after) == lines(row.before)) << after;
            }
        }
    }
}

}  // namespace

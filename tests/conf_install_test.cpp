// Configuration saves stopped at every step: a new-store save, an old-store save, an HBA feature setting and a
// module parameter, each run once for every call by which it changes a file, with that call failing and with the
// process killed before it. Every file is then whole, old or new; a failed save leaves every file old, and only a
// save that reports success leaves them new. The same saves, and ZoneWise, over files of other modes and owners.
#include <sys/wait.h>

#include "api_rig.h"
#include "base/vx_conf_file.h"
#include "base/vx_modparam.h"
#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_optstr.h"
#include "sim_files.h"
#include "sim_modtable.h"
#include "sim_steps.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

constexpr char kModule[] = "/lib/modules/6.1.0-sim/kernel/drivers/scsi/vxa2xxx/vxa2xxx_conf.ko";
constexpr char kStore[] = "/etc/vxa2xxx.conf";
constexpr char kModules[] = "/etc/modules.conf";
constexpr char kModprobe[] = "/etc/modprobe.conf";
constexpr char kParamConf[] = "/etc/modprobe.d/vxa2xxx.conf";
constexpr char kParam[] = "/sys/module/vxa2xxx/parameters/vx2xzonewise";
const std::string kTokens = "scsi-vxa0-adapter-port=5000000000000b0b\\;scsi-vxa0-tgt-1-di-0-node=2000000000000c0c\\;"
                            "scsi-vxa0-tgt-1-di-0-port=2100000000000c0c\\;scsi-vxa0-tgt-1-di-0-control=10\\;";
// A new store holding only a load-balancing token, which the save carries: a store with adapters would take the
// parser's defaults for all 32 adapters at each of the save's many runs.
const std::string kLbStore = "scsi-lbtype-3-key0-tgtname=2100000000000c0c\\;";
constexpr uint32_t kHandle = 1;
const uint8_t kWwn[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0a, 0x01};
constexpr char kMissing[] = "<missing>";

// Slot 0: a port of the "vxa2xxx" driver, on the new store or the old one.
void open_port(bool new_store) {
    vxapi_priv_db_t& s = api_priv_data[0];
    s = vxapi_priv_db_t{};
    std::snprintf(s.phys_path, sizeof s.phys_path, "/dev/vxa2xxx");
    std::snprintf(s.model, sizeof s.model, "vxa2xxx");
    s.apihandle = kHandle;
    s.features = VX_FEAT_NEW_IOCTL | (new_store ? VX_SLOT_NEW_CFG_STORE : 0);
}

// One target to save persistently.
bool save_target() {
    FO_TARGET_DATA_LIST list{};
    list.EntryCount = 1;
    list.DataEntry[0] = {{}, 0, 1, {}, FO_TARGET_BY_PORT_NAME, {}, {0, 0, 7}, 0, {0x21}, {0x21, 0, 0, 0, 0, 0, 0, 7}};
    return ISDFoSetTargetData(kHandle, 0, kWwn, &list, 1) == SDERR_NO_ERROR;
}

struct Save {
    const char* what;
    std::function<void(sim::SimHost&)> setup;
    std::function<bool()> run;  // true on success
    std::vector<std::string> files;
    bool module = false;  // the configuration module's value too
};

const Save kSaves[] = {
    {"new-store save",
     [](sim::SimHost& h) {
         open_port(true);
         const sim::Bytes module = sim::build_module({16, "vxa2xxx_conf", {{"OPTIONS", kLbStore, 24 + 4000}}, 64});
         h.write_file(kModule, std::string(module.begin(), module.end()));
         h.write_file(kStore, kLbStore);
         h.write_file(std::string(kStore) + ".bak", "older");
         h.write_file(kModules, "options vxa2xxx vx2xopts=scsi-vxa0-adapter-port=1 Bind=1\n");
         h.write_file(std::string(kModules) + ".qbak", "older");
     },
     save_target,
     {kStore, std::string(kStore) + ".bak", kModules, std::string(kModules) + ".qbak"},
     true},
    {"old-store save",
     [](sim::SimHost& h) {
         open_port(false);
         h.write_file(kModules, "alias scsi_hostadapter vxa2xxx\noptions vxa2xxx Bind=1 vx2xopts=" + kTokens + "\n");
     },
     save_target,
     {kModules}},
    {"HBA feature",
     [](sim::SimHost& h) {
         open_port(false);
         h.write_file(kModprobe, "options vxa2xxx Bind=0\noptions other Bind=1\n");
     },
     [] { return SDSetHbaFeature(kHandle, 8, 1, 0) == SDERR_NO_ERROR; },
     {kModprobe}},
    {"module parameter",
     [](sim::SimHost& h) { h.write_file(kParamConf, "options vxa2xxx vx2xzonewise=0\nalias a b\n"); },
     [] {
         uint32_t ext = 1;
         vxapi_set_driver_module_param_conf("vx2xzonewise", 1, &ext);
         return ext == 0;
     },
     {kParamConf}},
};

using Files = std::vector<std::string>;

// The files' contents, and the module's value (its table is written in place: the bytes after the value's end
// are not part of it).
Files snapshot(const sim::SimHost& host, const Save& save) {
    Files out;
    for (const std::string& f : save.files) out.push_back(host.exists(f) ? host.read_file(f) : kMissing);
    if (save.module) {
        std::vector<char> value(VX_FO_OPTSTR_SIZE);
        out.push_back(vxapi_get_opt_vals("vxa2xxx", value.data()) == 0 ? value.data() : kMissing);
    }
    return out;
}

// The save with the call of step `step` failing: the files are then the new ones when it reports success, else
// the old ones. Whether the save reached that step (else it ran to its end).
bool fail_at(const Save& save, unsigned step, const Files& before, const Files& after) {
    sim::SimHost host;
    save.setup(host);
    sim::StepFaults faults(host, step, sim::StepFaults::Act::Fail);
    const bool ok = save.run();
    EXPECT_EQ(snapshot(host, save), ok ? after : before);
    const bool reached = faults.steps() >= step;
    EXPECT_TRUE(reached || ok);
    return reached;
}

// The save in a child process killed before the call of step `step`: every file is then old or new, and all are
// new when the child ran to its end. Whether it was killed.
bool kill_at(const Save& save, unsigned step, const Files& before, const Files& after) {
    sim::SimHost host;
    save.setup(host);
    const pid_t child = fork();
    if (child == 0) {
        sim::StepFaults faults(host, step, sim::StepFaults::Act::Kill);
        _exit(save.run() ? 0 : 1);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    const Files now = snapshot(host, save);
    if (!WIFSIGNALED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(now, after);
        return false;
    }
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    for (size_t i = 0; i < now.size(); ++i) {
        EXPECT_TRUE(now[i] == before[i] || now[i] == after[i]) << i << ": " << now[i];
    }
    return true;
}

// Each save stopped at each of its steps in turn, from the first until one that it no longer reaches; the files
// before and after the save that nothing stops are the old and the new ones.
void stop_each_save(bool (*stop_at)(const Save&, unsigned, const Files&, const Files&)) {
    for (const Save& save : kSaves) {
        SCOPED_TRACE(save.what);
        Files before, after;
        {
            sim::SimHost host;
            save.setup(host);
            before = snapshot(host, save);
            EXPECT_TRUE(save.run());
            after = snapshot(host, save);
        }
        for (size_t i = 0; i < after.size(); ++i) EXPECT_NE(before[i], after[i]) << i;
        for (unsigned step = 1;; ++step) {
            SCOPED_TRACE(step);
            if (!stop_at(save, step, before, after)) break;
        }
    }
}

class StoppedSaves : public ::testing::Test {
protected:
    ~StoppedSaves() override { std::memset(api_priv_data, 0, sizeof api_priv_data); }
};

TEST_F(StoppedSaves, FailingAtEachStepLeavesTheOldFilesOrReportsSuccess) { stop_each_save(fail_at); }

TEST_F(StoppedSaves, KilledAtEachStepLeavesEveryFileOldOrNew) { stop_each_save(kill_at); }

// ZoneWise through a port of the API's records (handle 1 of an ApiRig).
const Save kZoneWise = {"ZoneWise",
                        [](sim::SimHost& h) {
                            h.write_file(kParam, "0\n");
                            h.write_file(kParamConf, "options vxa2xxx vx2xzonewise=0\nalias a b\n");
                        },
                        [] { return SDEnableZoneWiseFC(1, 0) == SDERR_NO_ERROR; },
                        {kParamConf}};

bool is_backup(const std::string& path) { return path.ends_with(".bak") || path.ends_with(".qbak"); }

// Each save over files of a mode and an owner and group: each file it replaces keeps them, and each backup takes
// them from the file it copies (never wider); fchown runs only for another owner or group. When fchown fails, the
// save fails and leaves every file as it was.
class ConfigSaves : public StoppedSaves {};

TEST_F(ConfigSaves, KeepModeOwnerAndGroup) {
    constexpr uid_t kUser = 1234;
    constexpr gid_t kGroup = 5678;
    const sim::FileAttrs given[] = {{0600, 0, 0}, {0640, 0, 0}, {0644, 0, 0}, {0600, kUser, kGroup}, {0640, 0, kGroup}};
    std::vector<const Save*> saves = {&kZoneWise};
    for (const Save& save : kSaves) saves.push_back(&save);
    for (const Save* save : saves) {
        for (const sim::FileAttrs& attrs : given) {
            const auto& [mode, uid, gid] = attrs;
            for (const bool fchown_fails : {false, true}) {
                SCOPED_TRACE(::testing::Message() << save->what << std::oct << " 0" << mode << std::dec << " " << uid
                                                  << ":" << gid << (fchown_fails ? ", fchown fails" : ""));
                std::optional<apitest::ApiRig> rig;  // for ZoneWise
                std::optional<sim::SimHost> plain;
                sim::SimHost& host = save == &kZoneWise ? (rig.emplace(), rig->add_adapter(0x2532), rig->host)
                                                        : plain.emplace();
                save->setup(host);
                for (const std::string& f : save->files) {
                    if (is_backup(f)) continue;  // 0644 and root's, as the earlier save left it
                    ::chmod(host.map(f).c_str(), mode);
                    host.set_owner(f, uid), host.set_group(f, gid);
                }
                const std::vector<std::string> before = sim::file_tree(host, "/etc");
                if (fchown_fails) host.fail_fchown(EPERM);
                const bool other = uid != 0 || gid != 0;
                EXPECT_EQ(save->run(), !(fchown_fails && other));
                EXPECT_EQ(host.fchowns().empty(), !other);
                if (fchown_fails && other) {
                    EXPECT_EQ(sim::file_tree(host, "/etc"), before);
                    continue;
                }
                for (const std::string& f : save->files) EXPECT_EQ(sim::file_attrs(host, f), attrs) << f;
            }
        }
    }
}

}  // namespace

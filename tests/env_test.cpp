// The host checks at library start: VMware or ordinary host, the ioctl
// support module of the 2.6.9 kernel line (which commands run, in which
// order, and when the module counts as loaded), the guard of configuration
// rewrites, and udevadm.
#include "core/vx_env.h"
#include "test_support.h"

namespace {

const std::string kLsmodModule = "lsmod 2> /dev/null | grep vioctlmod";
const std::string kModinfoName = "modinfo vioctlmod 2> /dev/null | grep -o vioctlmod";
const std::string kModinfoVermagic = "modinfo vioctlmod 2> /dev/null | grep vermagic";
const std::string kLsmodDriver = "lsmod 2> /dev/null | grep -o ^vxa2xxx";
const std::string kDriverVersion =
    "cat /proc/scsi/vxa2xxx/* 2> /dev/null | grep -m 1 Driver | cut -d , -f 2 | cut -d - -f 2";
const std::string kModprobe = "modprobe vioctlmod";
const std::string kGoodVermagic = "vermagic:       2.6.9-89.ELsmp SMP gcc-3.4\n";

class EnvTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        OS_Type = 0;
        is_vioctlmod_loaded = 0;
        is_udevadm = 1;
        // Errors and steps are traced to the captured standard error.
        host.set_env("VX_FCAPI_DEBUG", "6");
        vxapi_set_debug_level();
    }
    void TearDown() override { vxdbg_reset(); }
    bool traced(const std::string& line) const {
        return host.stderr_text().find(line + "\n") != std::string::npos;
    }
    // A 2.6.9 host where every step of the module check passes; tests change
    // the answers they are about.
    void script_loadable_host() {
        host.set_uname("Linux", "2.6.9-89.ELsmp");
        host.script_command(kLsmodModule, {"", 1});
        host.script_command(kModinfoName, {"vioctlmod\n", 0});
        host.script_command(kModinfoVermagic, {kGoodVermagic, 0});
        host.script_command(kLsmodDriver, {"vxa2xxx\n", 0});
        host.script_command(kDriverVersion, {"d5\n", 0});
        host.script_command(kModprobe, {"", 0});
    }
    sim::SimHost host;
};

// The host kind comes from the system name; configuration rewrites are
// refused on VMware hosts, told also by an "ESX" or "Vmnix" release.
TEST_F(EnvTest, VmwareHostsByNameAndRelease) {
    const struct { const char* sysname; const char* release; int os_type, refused; } cases[] = {
        {"VMkernel", "7.0.3", VX_OS_ESX, 1},
        {"vmkernel", "7.0.3", VX_OS_OTHER, 0},
        {"Linux", "2.4.21-47.0.1.ELvmnix", VX_OS_OTHER, 0},
        {"Linux", "2.4.21-Vmnix", VX_OS_OTHER, 1},
        {"Linux", "2.6.18-ESX", VX_OS_OTHER, 1},
        {"Linux", "5.14.0-362.el9.x86_64", VX_OS_OTHER, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sysname) + " " + c.release);
        host.clear_stderr();
        host.set_uname(c.sysname, c.release);
        vxapi_check_esx();
        EXPECT_EQ(OS_Type, c.os_type);
        EXPECT_EQ(vxapi_check_correct_os(), c.refused);
        EXPECT_EQ(traced("vxapi_check_correct_os: VMware OS not supported"), c.refused == 1);
    }
}

// Only the 2.6.9 line (matched as text) looks for the module; a module
// already listed is not loaded again; else every check runs in order and
// the module counts as loaded when modprobe says so.
TEST_F(EnvTest, SupportModuleOnlyOnTheOldKernelLine) {
    const struct { const char* release; int version; } releases[] = {
        {"2.6.9-89.ELsmp", 0}, {"2.6.90", 0}, {"2.6.18-398.el5", 1}, {"3.10.0-1160.el7.x86_64", 1}};
    for (const auto& r : releases) {
        host.set_uname("Linux", r.release);
        EXPECT_EQ(vxapi_check_linux_version(), r.version) << r.release;
    }
    vxapi_load_vioctlmod();
    EXPECT_TRUE(host.commands().empty());
    EXPECT_EQ(is_vioctlmod_loaded, 0);
    script_loadable_host();
    host.script_command(kLsmodModule, {"vioctlmod              45312  0\n", 0});
    vxapi_load_vioctlmod();
    EXPECT_EQ(host.commands(), std::vector<std::string>{kLsmodModule});
    EXPECT_EQ(is_vioctlmod_loaded, 1);
    EXPECT_TRUE(traced("vxapi_load_vioctlmod: vioctlmod is already loaded"));
}

TEST_F(EnvTest, FailedModprobeLeavesTheModuleUnloaded) {
    const std::vector<std::string> all = {kLsmodModule, kModinfoName,   kModinfoVermagic,
                                          kLsmodDriver, kDriverVersion, kModprobe};
    const struct {
        const char* name;
        std::string vermagic;
        int modprobe_status;
        size_t commands;
        int loaded;
    } cases[] = {
        {"loaded", kGoodVermagic, 0, 6, 1},
        {"modprobe fails", kGoodVermagic, 1, 6, 0},
        {"vermagic of another kernel", "vermagic:       2.6.9-42.EL SMP\n", 0, 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script_loadable_host();
        host.script_command(kModinfoVermagic, {c.vermagic, 0});
        host.script_command(kModprobe, {"", c.modprobe_status});
        const size_t before = host.commands().size();
        is_vioctlmod_loaded = 0;
        vxapi_load_vioctlmod();
        const std::vector<std::string> log = host.commands();
        EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(before), log.end()),
                  std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.commands)));
        EXPECT_EQ(is_vioctlmod_loaded, c.loaded);
    }
}

TEST_F(EnvTest, ModuleCheckStopsAtTheFirstFailingStep) {
    const struct {
        const char* name;
        std::string modinfo, vermagic, lsmod, version;
        int result;
        size_t commands;    // commands the check ran
        const char* trace;  // behind "vxapi_check_vioctlmod: "
    } cases[] = {
        {"no module", "", kGoodVermagic, "vxa2xxx\n", "d5\n", 1, 1, "No vioctlmod for OS version"},
        {"only the last line counts", "vioctlmod\nother\n", kGoodVermagic, "vxa2xxx\n", "d5\n", 1, 1,
         "No vioctlmod for OS version"},
        {"other kernel", "vioctlmod\n", "vermagic:       2.6.18-398.el5 SMP\n", "vxa2xxx\n", "d5\n", 1, 2,
         "OS Version is not Matched with vioctlmod"},
        {"no driver", "vioctlmod\n", kGoodVermagic, "", "d5\n", 1, 3, "vxa2xxx module is not loaded."},
        {"not the inbox driver", "vioctlmod\n", kGoodVermagic, "vxa2xxx\n", "k5\n", 1, 4,
         "Inbox driver is not loaded."},
        {"debug build", "vioctlmod\n", kGoodVermagic, "vxa2xxx\n", "d5debug\n", 1, 4,
         "Loaded driver is standard debug."},
        {"inbox driver", "vioctlmod\n", kGoodVermagic, "vxa2xxx\n", "d5\n", 0, 4, "Inbox driver is loaded."},
        // A line longer than the read buffer is judged whole, not by its tail.
        {"long vermagic line", "vioctlmod\n",
         "vermagic:       2.6.9-89.ELsmp SMP " + std::string(200, 'm') + "\n", "vxa2xxx\n", "d5\n", 0, 4,
         "Inbox driver is loaded."},
    };
    const std::vector<std::string> all = {kModinfoName, kModinfoVermagic, kLsmodDriver, kDriverVersion};
    host.set_uname("Linux", "2.6.9-89.ELsmp");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.clear_stderr();
        host.script_command(kModinfoName, {c.modinfo, 0});
        host.script_command(kModinfoVermagic, {c.vermagic, 0});
        host.script_command(kLsmodDriver, {c.lsmod, 0});
        host.script_command(kDriverVersion, {c.version, 0});
        const size_t before = host.commands().size();
        EXPECT_EQ(vxapi_check_vioctlmod(), c.result);
        const std::vector<std::string> log = host.commands();
        EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(before), log.end()),
                  std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.commands)));
        EXPECT_TRUE(traced(std::string("vxapi_check_vioctlmod: ") + c.trace)) << host.stderr_text();
    }
}

TEST_F(EnvTest, UdevadmPresence) {
    EXPECT_NE(vxapi_is_udevadm_supported(), 0);
    EXPECT_EQ(is_udevadm, 0);
    is_udevadm = 1;
    host.write_file("/sbin/udevadm", "", 0755);
    EXPECT_EQ(vxapi_is_udevadm_supported(), 0);
    EXPECT_EQ(is_udevadm, 1);
}

}  // namespace

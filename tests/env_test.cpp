// The host checks at library start: VMware or ordinary host, the ioctl
// support module of the 2.6.9 kernel line, the guard of configuration rewrites.
#include "base/vx_env.h"
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
        // Errors and steps are traced to the captured standard error.
        host.set_env("VX_FCAPI_DEBUG", "6");
        vxapi_set_debug_level();
    }
    void TearDown() override { vxdbg_reset(); }
    bool traced(const std::string& line) const {
        return host.stderr_text().find(line + "\n") != std::string::npos;
    }
    sim::SimHost host;
};

// The host kind comes from the system name; configuration rewrites are
// refused on VMware hosts, told also by an "ESX" or "Vmnix" release.
TEST_F(EnvTest, VmwareHostsByNameAndRelease) {
    const struct { const char* sysname; const char* release; int os_type, refused; } cases[] = {
        {"VMkernel", "7.0.3", VX_OS_ESX, 1},      {"vmkernel", "7.0.3", VX_OS_OTHER, 0},
        {"Linux", "2.4.21-47.0.1.ELvmnix", VX_OS_OTHER, 0}, {"Linux", "2.4.21-Vmnix", VX_OS_OTHER, 1},
        {"Linux", "2.6.18-ESX", VX_OS_OTHER, 1},  {"Linux", "5.14.0-362.el9.x86_64", VX_OS_OTHER, 0},
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
// already listed is not loaded again; else the checks run in order up to
// the first that fails, and the module counts as loaded when modprobe says so.
TEST_F(EnvTest, FailedModprobeLeavesTheModuleUnloaded) {
    const struct { const char* release; int version; } releases[] = {
        {"2.6.9-89.ELsmp", 0}, {"2.6.90", 0}, {"2.6.18-398.el5", 1}, {"3.10.0-1160.el7.x86_64", 1}};
    for (const auto& r : releases) {
        host.set_uname("Linux", r.release);
        EXPECT_EQ(vxapi_check_linux_version(), r.version) << r.release;
    }
    const std::string good = kGoodVermagic;
    // commands: how many of kLsmodModule, kModinfoName, ..., kModprobe ran.
    const struct { const char* name; std::string lsmod, modinfo, vermagic, driver, version; int modprobe_status;
                   size_t commands; int loaded; const char* trace; } cases[] = {
        {"other kernel line", "", "", "", "", "", 0, 0, 0, nullptr},
        {"already listed", "vioctlmod              45312  0\n", "", "", "", "", 0, 1, 1,
         "vxapi_load_vioctlmod: vioctlmod is already loaded"},
        {"loaded", "", "vioctlmod\n", good, "vxa2xxx\n", "d5\n", 0, 6, 1, "Inbox driver is loaded."},
        {"modprobe fails", "", "vioctlmod\n", good, "vxa2xxx\n", "d5\n", 1, 6, 0, nullptr},
        {"no module", "", "", good, "vxa2xxx\n", "d5\n", 0, 2, 0, "No vioctlmod for OS version"},
        {"only the last line counts", "", "vioctlmod\nother\n", good, "vxa2xxx\n", "d5\n", 0, 2, 0,
         "No vioctlmod for OS version"},
        {"other kernel", "", "vioctlmod\n", "vermagic:       2.6.9-42.EL SMP\n", "vxa2xxx\n", "d5\n", 0, 3, 0,
         "OS Version is not Matched with vioctlmod"},
        {"no driver", "", "vioctlmod\n", good, "", "d5\n", 0, 4, 0, "vxa2xxx module is not loaded."},
        {"not the inbox driver", "", "vioctlmod\n", good, "vxa2xxx\n", "k5\n", 0, 5, 0,
         "Inbox driver is not loaded."},
        {"debug build", "", "vioctlmod\n", good, "vxa2xxx\n", "d5debug\n", 0, 5, 0,
         "Loaded driver is standard debug."},
        // A line longer than the read buffer is judged whole, not by its tail.
        {"long vermagic line", "", "vioctlmod\n", "vermagic:       2.6.9-89.ELsmp SMP " + std::string(200, 'm') + "\n",
         "vxa2xxx\n", "d5\n", 0, 6, 1, "Inbox driver is loaded."},
    };
    const std::vector<std::string> all = {kLsmodModule, kModinfoName,   kModinfoVermagic,
                                          kLsmodDriver, kDriverVersion, kModprobe};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.clear_stderr();
        host.set_uname("Linux", c.commands == 0 ? "3.10.0-1160.el7.x86_64" : "2.6.9-89.ELsmp");
        host.script_command(kLsmodModule, {c.lsmod, c.lsmod.empty() ? 1 : 0});
        host.script_command(kModinfoName, {c.modinfo, 0});
        host.script_command(kModinfoVermagic, {c.vermagic, 0});
        host.script_command(kLsmodDriver, {c.driver, 0});
        host.script_command(kDriverVersion, {c.version, 0});
        host.script_command(kModprobe, {"", c.modprobe_status});
        const size_t before = host.commands().size();
        is_vioctlmod_loaded = 0;
        vxapi_load_vioctlmod();
        const std::vector<std::string> log = host.commands();
        EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(before), log.end()),
                  std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.commands)));
        EXPECT_EQ(is_vioctlmod_loaded, c.loaded);
        const std::string prefix = c.lsmod.empty() ? "vxapi_check_vioctlmod: " : "";
        EXPECT_TRUE(c.trace == nullptr || traced(prefix + c.trace)) << host.stderr_text();
    }
}

}  // namespace

// The host checks at library start: VMware or ordinary host, the ioctl
// support module of the 2.6.9 kernel line (which commands run, in which
// order, and when the module counts as loaded), the guard of configuration
// rewrites, and udevadm.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/vx_env.h"
#include "core/vx_sddbg.h"
#include "sim_host.h"

namespace {

const std::string kLsmodModule = "lsmod 2> /dev/null | grep vioctlmod";
const std::string kModinfoName = "modinfo vioctlmod 2> /dev/null | grep -o vioctlmod";
const std::string kModinfoVermagic = "modinfo vioctlmod 2> /dev/null | grep vermagic";
const std::string kLsmodDriver = "lsmod 2> /dev/null | grep -o ^vxa2xxx";
const std::string kDriverVersion =
    "cat /proc/scsi/vxa2xxx/* 2> /dev/null | grep -m 1 Driver | cut -d , -f 2 | cut -d - -f 2";
const std::string kModprobe = "modprobe vioctlmod";

constexpr const char* kOldRelease = "2.6.9-89.ELsmp";

class EnvTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxdbg_reset();
        OS_Type = 0;
        is_vioctlmod_loaded = 0;
        is_udevadm = 1;
    }
    void TearDown() override { vxdbg_reset(); }

    // Traces of errors and steps go to the captured standard error.
    void trace_on() {
        host.set_env("VX_FCAPI_DEBUG", "6");
        vxapi_set_debug_level();
    }

    // A 2.6.9 host where every step of the module check passes; tests
    // change the answers they are about.
    void script_loadable_host() {
        host.set_uname("Linux", kOldRelease);
        host.script_command(kLsmodModule, {"", 1});
        host.script_command(kModinfoName, {"vioctlmod\n", 0});
        host.script_command(kModinfoVermagic, {"vermagic:       2.6.9-89.ELsmp SMP gcc-3.4\n", 0});
        host.script_command(kLsmodDriver, {"vxa2xxx\n", 0});
        host.script_command(kDriverVersion, {"d5\n", 0});
        host.script_command(kModprobe, {"", 0});
    }

    sim::SimHost host;
};

TEST_F(EnvTest, HostKindFromTheSystemName) {
    struct Case {
        const char* sysname;
        int os_type;
    };
    const Case cases[] = {
        {"VMkernel", VX_OS_ESX},
        {"Linux", VX_OS_OTHER},
        {"vmkernel", VX_OS_OTHER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sysname);
        host.set_uname(c.sysname, "7.0.3");
        vxapi_check_esx();
        EXPECT_EQ(OS_Type, c.os_type);
    }
}

TEST_F(EnvTest, ConfigurationRewritesRefusedOnVmwareHosts) {
    struct Case {
        const char* sysname;
        const char* release;
        int result;
    };
    const Case cases[] = {
        {"VMkernel", "7.0.3", 1},
        {"Linux", "2.4.21-47.0.1.ELvmnix", 0},
        {"Linux", "2.4.21-Vmnix", 1},
        {"Linux", "2.6.18-ESX", 1},  // refused although the system name is Linux
        {"Linux", "5.14.0-362.el9.x86_64", 0},
    };
    trace_on();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sysname) + " " + c.release);
        host.clear_stderr();
        host.set_uname(c.sysname, c.release);
        vxapi_check_esx();
        EXPECT_EQ(vxapi_check_correct_os(), c.result);
        const bool traced =
            host.stderr_text().find("vxapi_check_correct_os: VMware OS not supported\n") != std::string::npos;
        EXPECT_EQ(traced, c.result == 1);
    }
}

TEST_F(EnvTest, OnlyTheOldKernelLineLooksForTheModule) {
    struct Case {
        const char* release;
        int version;
    };
    const Case cases[] = {
        {"2.6.9-89.ELsmp", 0},
        {"2.6.90", 0},  // the release is matched as text
        {"2.6.18-398.el5", 1},
        {"3.10.0-1160.el7.x86_64", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.release);
        host.set_uname("Linux", c.release);
        EXPECT_EQ(vxapi_check_linux_version(), c.version);
    }

    host.set_uname("Linux", "3.10.0-1160.el7.x86_64");
    vxapi_load_vioctlmod();
    EXPECT_TRUE(host.commands().empty());
    EXPECT_EQ(is_vioctlmod_loaded, 0);
}

TEST_F(EnvTest, ModuleAlreadyListedIsNotLoadedAgain) {
    script_loadable_host();
    host.script_command(kLsmodModule, {"vioctlmod              45312  0\n", 0});
    trace_on();
    vxapi_load_vioctlmod();
    EXPECT_EQ(host.commands(), std::vector<std::string>{kLsmodModule});
    EXPECT_EQ(is_vioctlmod_loaded, 1);
    EXPECT_NE(host.stderr_text().find("vxapi_load_vioctlmod: vioctlmod is already loaded\n"),
              std::string::npos);
}

TEST_F(EnvTest, ModuleLoadedAfterEveryCheckInOrder) {
    script_loadable_host();
    vxapi_load_vioctlmod();
    const std::vector<std::string> expected = {kLsmodModule, kModinfoName,   kModinfoVermagic,
                                               kLsmodDriver, kDriverVersion, kModprobe};
    EXPECT_EQ(host.commands(), expected);
    EXPECT_EQ(is_vioctlmod_loaded, 1);
}

TEST_F(EnvTest, FailedModprobeLeavesTheModuleUnloaded) {
    script_loadable_host();
    host.script_command(kModprobe, {"", 1});
    vxapi_load_vioctlmod();
    ASSERT_FALSE(host.commands().empty());
    EXPECT_EQ(host.commands().back(), kModprobe);
    EXPECT_EQ(is_vioctlmod_loaded, 0);
}

TEST_F(EnvTest, ModuleCheckStopsAtTheFirstFailingStep) {
    struct Case {
        const char* name;
        std::string modinfo;
        std::string vermagic;
        std::string lsmod;
        std::string version;
        int result;
        size_t commands;    // commands the check ran
        const char* trace;  // behind "vxapi_check_vioctlmod: "
    };
    const std::string good_vermagic = "vermagic:       2.6.9-89.ELsmp SMP gcc-3.4\n";
    const Case cases[] = {
        {"no module", "", good_vermagic, "vxa2xxx\n", "d5\n", 1, 1, "No vioctlmod for OS version"},
        {"only the last line counts", "vioctlmod\nother\n", good_vermagic, "vxa2xxx\n", "d5\n", 1, 1,
         "No vioctlmod for OS version"},
        {"other kernel", "vioctlmod\n", "vermagic:       2.6.18-398.el5 SMP\n", "vxa2xxx\n", "d5\n", 1, 2,
         "OS Version is not Matched with vioctlmod"},
        {"no driver", "vioctlmod\n", good_vermagic, "", "d5\n", 1, 3, "vxa2xxx module is not loaded."},
        {"not the inbox driver", "vioctlmod\n", good_vermagic, "vxa2xxx\n", "k5\n", 1, 4,
         "Inbox driver is not loaded."},
        {"debug build", "vioctlmod\n", good_vermagic, "vxa2xxx\n", "d5debug\n", 1, 4,
         "Loaded driver is standard debug."},
        {"inbox driver", "vioctlmod\n", good_vermagic, "vxa2xxx\n", "d5\n", 0, 4, "Inbox driver is loaded."},
        // A line longer than the read buffer is judged whole, not by its tail.
        {"long vermagic line", "vioctlmod\n",
         "vermagic:       2.6.9-89.ELsmp SMP " + std::string(200, 'm') + "\n", "vxa2xxx\n", "d5\n", 0, 4,
         "Inbox driver is loaded."},
    };
    host.set_uname("Linux", kOldRelease);
    trace_on();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.clear_stderr();
        host.script_command(kModinfoName, {c.modinfo, 0});
        host.script_command(kModinfoVermagic, {c.vermagic, 0});
        host.script_command(kLsmodDriver, {c.lsmod, 0});
        host.script_command(kDriverVersion, {c.version, 0});
        const size_t before = host.commands().size();
        EXPECT_EQ(vxapi_check_vioctlmod(), c.result);
        const std::vector<std::string> log = host.commands();
        const std::vector<std::string> ran(log.begin() + static_cast<long>(before), log.end());
        const std::vector<std::string> all = {kModinfoName, kModinfoVermagic, kLsmodDriver, kDriverVersion};
        EXPECT_EQ(ran, std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(c.commands)));
        const std::string line = std::string("vxapi_check_vioctlmod: ") + c.trace + "\n";
        EXPECT_NE(host.stderr_text().find(line), std::string::npos) << host.stderr_text();
    }
}

TEST_F(EnvTest, VermagicMismatchLoadsNothing) {
    script_loadable_host();
    host.script_command(kModinfoVermagic, {"vermagic:       2.6.9-42.EL SMP\n", 0});
    vxapi_load_vioctlmod();
    const std::vector<std::string> expected = {kLsmodModule, kModinfoName, kModinfoVermagic};
    EXPECT_EQ(host.commands(), expected);
    EXPECT_EQ(is_vioctlmod_loaded, 0);
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

// The configuration files that the library writes, made in the simulated host
// and copied out for the real tools to read (udev_real_test.sh and
// kmod_real_test.sh). Each test writes into the folder that VXSDM_CONFIG_OUT
// names, and is skipped without it:
//   udev/99-DU-DUV.rules       the rules after names were set and deleted
//   udev/links                 the links udev must make of them, one a line
//                              ("%n" where udev puts the kernel number)
//   udev/rows/<n>/before.rules, after.rules, change
//                              a hand-edited line of a LUN before and after
//                              a set ("+ names") or a delete ("- names"),
//                              or a change refused ("! names") on a line
//                              that udev skips or of a GUID it reads as a
//                              pattern
//   udev/rows/<n>/got          the names the get answers after the change
//   modprobe/<case>/<file>.conf, modprobe/<case>.expected
//                              a file holding options lines, and the driver
//                              lines that "modprobe --showconfig" must give
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/vx_modparam.h"
#include "failover/vx_fo_oldstore.h"
#include "failover/vx_fo_store.h"
#include "failover/vx_fo_stores.h"
#include "kmod_reading.h"
#include "udev_rig.h"
#include "vxsdm.h"

namespace {

namespace fs = std::filesystem;

// The folder the files go to, or "" when none was named.
std::string out_dir() {
    const char* dir = std::getenv("VXSDM_CONFIG_OUT");
    return dir == nullptr ? "" : dir;
}

#define NEED_OUT_DIR() \
    if (out_dir().empty()) GTEST_SKIP() << "VXSDM_CONFIG_OUT names no folder for the files"

// Writes the text to the path under the out folder, making its folders.
void put(const std::string& path, const std::string& text) {
    const fs::path full = fs::path(out_dir()) / path;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

// The file of the simulated host (its name ends in ".conf", as modprobe
// wants in a folder) into modprobe/<name>/, and the driver lines that
// modprobe must read from it.
void keep_options(const sim::SimHost& host, const std::string& file, const std::string& name,
                  const std::vector<std::string>& expected) {
    put("modprobe/" + name + "/" + fs::path(file).filename().string(), host.read_file(file));
    put("modprobe/" + name + ".expected", joined(expected));
}

TEST(RealToolsFiles, UdevRules) {
    NEED_OUT_DIR();
    udevtest::UdevRig rig;
    rig.host.write_file(VXAPI_UDEV_RULES_FILE, "# names of the LUNs, the last line without its newline");
    ASSERT_EQ(rig.set(0, "data-1 vx/lun.0"), 0);
    ASSERT_EQ(rig.set(1, "arch:2 c+d e=f"), 0);
    ASSERT_EQ(rig.set(0, "more_1"), 0);
    ASSERT_EQ(rig.del(1, "c+d"), 0);
    ASSERT_EQ(rig.set(0, "x$kernel"), 1);
    ASSERT_EQ(rig.get(0), "data-1 vx/lun.0 more_1 ");
    ASSERT_EQ(rig.get(1), "arch:2 e=f ");
    put("udev/99-DU-DUV.rules", rig.rules());
    std::vector<std::string> links;
    for (const char* name : {"data-1", "vx/lun.0", "more_1", "arch:2", "e=f"}) {
        links.insert(links.end(), {name, name + std::string("_part%n")});
    }
    put("udev/links", joined(links));
}

// The hand-edited lines that udev_real_test.sh can make match its test device, before and after the change (the same
// text when the change is refused). Then lines of LUN 0:0 whose GUID udev reads as a pattern that takes the test
// device's serial, as an earlier set may have left them: a set of such a GUID is refused with the rules unchanged,
// and the get still answers the names udev makes links of.
TEST(RealToolsFiles, UdevHandEditedRows) {
    NEED_OUT_DIR();
    int n = 0;
    const auto row_files = [&](udevtest::UdevRig& rig, const std::string& what, const std::string& line, bool set,
                               const char* names, bool ok) {
        const std::string dir = "udev/rows/" + std::to_string(n++) + "/";
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, "# " + what + "\n" + line);
        put(dir + "before.rules", rig.rules());
        ASSERT_EQ(set ? rig.sd_set(0, names) : rig.sd_del(0, names), ok ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
        put(dir + "after.rules", rig.rules());
        put(dir + "change", std::string(!ok ? "! " : set ? "+ " : "- ") + names + "\n");
        const std::string got = rig.sd_get(0);
        put(dir + "got", got == "unchanged" ? "" : got + "\n");
    };
    for (const udevtest::HandRow& row : udevtest::hand_rows()) {
        if (!row.real) continue;
        SCOPED_TRACE(row.what);
        udevtest::UdevRig rig;
        row_files(rig, row.what, row.line, row.set, row.names, row.ok);
    }
    for (const std::string guid : {"600a0b8000*", "600a0b8000?", "600a0b8000[01]", "x|600a0b80001"}) {
        SCOPED_TRACE(guid);
        udevtest::UdevRig rig;
        rig.host.script_command(udevtest::kFirstFormC, {guid + "\n"});
        row_files(rig, "a GUID udev reads as a pattern", udevtest::rule(true, guid.c_str(), "h "), true, "a", false);
    }
}

// The driver's module parameter for its next load, in its modprobe file.
TEST(RealToolsFiles, ModuleParameter) {
    NEED_OUT_DIR();
    const struct {
        const char* name;
        const char* before;
        uint32_t value;
        const char* expected;
    } cases[] = {
        {"param-added", "# options vxa2xxx vx2xzonewise=0\nalias vxa vxa2xxx", 1, "options vxa2xxx vx2xzonewise=1"},
        {"param-appended", "options vxa2xxx vx2xother=3\n", 0, "options vxa2xxx vx2xother=3 vx2xzonewise=0"},
        {"param-changed", "options vxa2xxx vx2xzonewise=0 x=1\n", 1, "options vxa2xxx vx2xzonewise=1 x=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost host;
        host.write_file(VX_MODPARAM_CONF, c.before);
        uint32_t status = 1;
        vxapi_set_driver_module_param_conf("vx2xzonewise", c.value, &status);
        ASSERT_EQ(status, 0u);
        keep_options(host, VX_MODPARAM_CONF, c.name, {c.expected});
    }
}

// The HBA features, in the driver's options line of the first module configuration file.
TEST(RealToolsFiles, HbaFeatures) {
    NEED_OUT_DIR();
    constexpr int kHandle = 3;
    constexpr const char* kFile = "/etc/modprobe.conf";
    sim::SimHost host;
    api_priv_data[2] = vxapi_priv_db_t{};
    std::strcpy(api_priv_data[2].phys_path, "/dev/vxa2xxx");
    std::strcpy(api_priv_data[2].model, "vxa2xxx");
    api_priv_data[2].apihandle = kHandle;
    host.write_file(kFile, "alias scsi_hostadapter vxa2xxx\noptions vxa2xxx x=3");
    ASSERT_EQ(SDSetHbaFeature(kHandle, 8, 1, 0), 0u);  // bind by port id
    ASSERT_EQ(SDSetHbaFeature(kHandle, 1, 1, 0), 0u);  // configuration required
    keep_options(host, kFile, "features", {"options vxa2xxx x=3 Bind=1 ConfigRequired=1"});
    api_priv_data[2] = vxapi_priv_db_t{};
}

// The failover stores: the modules line that sends the driver to its option
// file, and the old store's own options line.
TEST(RealToolsFiles, FailoverStores) {
    NEED_OUT_DIR();
    constexpr const char* kModules = "/etc/modules.conf";
    {
        sim::SimHost host;
        host.write_file(kModules, "options vxa2xxx Bind=1 vx2xopts=a\\;b\noptions vxa2300 x=1\n");
        ASSERT_EQ(vxapi_update_old_conf_file("vxa2xxx", 0), 0u);
        keep_options(host, kModules, "new-store",
                     {"options vxa2xxx ConfigRequired=1 Bind=1 vx2xuseextopts=1", "options vxa2300 x=1"});
    }
    sim::SimHost host;
    vxapi_priv_db_t& slot = api_priv_data[1];
    slot = vxapi_priv_db_t{};
    std::strcpy(slot.phys_path, "/dev/vxa"), std::strcpy(slot.model, "vxa2xxx");
    slot.drvr_inst = 3;
    FO_TARGET_DATA_LIST in{};
    in.EntryCount = 1, in.DataEntry[0] = {{}, 0, 5, {}, 0, {}, {}, 0, {0x20}, {0x20, 0, 0, 0, 0, 0, 0, 0xaa}};
    const uint8_t wwn[16] = {0x20, 0, 0, 0, 0, 0, 0, 1, 0x21, 0, 0, 0, 0, 0, 0, 1};
    host.write_file(kModules, "# options vxa2xxx Bind=1\noptions vxa2xxx ConfigRequired=1");
    ASSERT_EQ(vxapi_set_data_to_old_persist_store(1, wwn, nullptr, &in), 0u);
    // The driver takes the tokens apart at ';' (written "\;").
    keep_options(host, kModules, "old-store",
                 {"options vxa2xxx ConfigRequired=1 vx2xopts=scsi-vxa3-adapter-port=2100000000000001;"
                  "scsi-vxa3-tgt-5-di-0-node=2000000000000000;scsi-vxa3-tgt-5-di-0-port=20000000000000aa;"
                  "scsi-vxa3-tgt-5-di-0-control=00;"});
    slot = vxapi_priv_db_t{};
}

// Files edited by hand, each set by one writer: kmod must read from them what the tests' reading of kmod reads
// (which the writers' tests compare with the settings before).
TEST(RealToolsFiles, HandEditedOptions) {
    NEED_OUT_DIR();
    constexpr int kHandle = 3;
    constexpr const char* kModprobe = "/etc/modprobe.conf";
    constexpr const char* kModules = "/etc/modules.conf";
    api_priv_data[2] = vxapi_priv_db_t{};
    std::strcpy(api_priv_data[2].phys_path, "/dev/vxa2xxx");
    std::strcpy(api_priv_data[2].model, "vxa2xxx");
    api_priv_data[2].apihandle = kHandle;
    const auto zonewise = [] {
        uint32_t status = 1;
        vxapi_set_driver_module_param_conf("vx2xzonewise", 1, &status);
        return status;
    };
    const auto bind_by_pid = [] { return SDSetHbaFeature(kHandle, 8, 1, 0); };
    const auto bind_by_wwpn = [] { return SDSetHbaFeature(kHandle, 4, 1, 0); };
    const auto save = [] { return vxapi_update_old_conf_file("vxa2xxx", 0); };
    const struct {
        const char* name;
        const char* file;
        std::string before;
        std::function<uint32_t()> call;
    } cases[] = {
        {"hand-two-lines", kModprobe, "options vxa2xxx x=1\noptions vxa2xxx y=2\n", bind_by_pid},
        {"hand-continued", VX_MODPARAM_CONF, "options vxa2xxx x=1 \\\n  y=2\n", zonewise},
        {"hand-value-continued", kModprobe, "options vxa2xxx x=1 \\\n  Bind=0 y=2 \\\n\tBind=1 z=3\n", bind_by_wwpn},
        {"hand-value-across", VX_MODPARAM_CONF, "options vxa2xxx vx2xzonewise=0\\\n0 x=1\n", zonewise},
        {"hand-comment-continued", kModules, "# a note \\\noptions vxa2xxx vx2xopts=a x=1\n", save},
        {"hand-quoted", kModprobe, "options vxa2xxx vx2xopts=\"a  Bind=0 b\" x=1\n", bind_by_pid},
        {"hand-quoted-save", kModules, "options vxa2xxx vx2xopts=\"a  ConfigRequired=0 b\" NoConfigRequired=0\n", save},
        {"hand-crlf", kModules, "alias a b\r\noptions\tvxa2xxx  x=1\t\tvx2xopts=a\\;b \r\n", save},
        {"hand-long-comment", kModprobe, "#" + std::string(65534, 'c') + "options vxa2xxx x=9\noptions vxa2xxx x=1\n",
         bind_by_pid},
        // A set that removes the only parameter of a line: no bare "options vxa2xxx" is left for kmod to refuse.
        {"hand-only-param", kModprobe, "# driver options\noptions vxa2xxx Bind=1\n", bind_by_wwpn},
        {"hand-only-param-of-two", kModprobe, "options vxa2xxx Bind=1\noptions vxa2xxx x=1\n", bind_by_wwpn},
        {"hand-only-param-tabs", kModprobe, "options\tvxa2xxx\t Bind=1\t\nalias a b\n", bind_by_wwpn},
        {"hand-only-param-crlf", kModprobe, "alias a b\r\noptions vxa2xxx Bind=1\r\n", bind_by_wwpn},
        {"hand-only-param-continued", kModprobe, "options vxa2xxx \\\n  Bind=1\n# after\n", bind_by_wwpn},
        {"hand-only-old-store", kModules, "options vxa2xxx x=1\noptions vxa2xxx vx2xopts=a\\;b\n", save},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost host;
        host.make_dir("/etc/modprobe.d");
        host.write_file(c.file, c.before);
        ASSERT_EQ(c.call(), 0u);
        const std::optional<kmodread::Reading> reading = kmodread::read(host.read_file(c.file));
        ASSERT_TRUE(reading);
        std::vector<std::string> expected;
        for (const std::string& line : reading->lines) {
            if (line.starts_with("options vxa2xxx ")) expected.push_back(line);
        }
        keep_options(host, c.file, c.name, expected);
    }
    api_priv_data[2] = vxapi_priv_db_t{};
}

}  // namespace

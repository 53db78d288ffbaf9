// A sysfs port whose LUNs 0:0 (sdc), 0:1 (sdd) and 0:2 (a hostile block name)
// scsi_id can identify, for the persistent LUN names in the udev rules file.
#pragma once

#include <string>
#include <vector>

#include "base/vx_env.h"
#include "core/io/vx_udev.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace udevtest {

inline constexpr const char* kGuidC = "600a0b80001";
inline constexpr const char* kGuidD = "3600a0b80001ff";  // holds kGuidC
inline constexpr int kHandle = 7;                        // of the port, for the public functions
// The two scsi_id command forms for sdc.
inline constexpr const char* kFirstFormC = "/sbin/scsi_id -g -u -s /block/sdc 2> /dev/null";
inline constexpr const char* kSecondFormC =
    "/lib/udev/scsi_id --page=0x83 --whitelisted --device=/dev//sdc 2> /dev/null";

struct UdevRig : sysfstest::SysfsRig {
    UdevRig() : SysfsRig(0x2532, [](sim::SysfsAdapter& a) {
        a.functions[0].host.rports = {sim::SysfsRemotePort{
            1, "0x2000000000000011", "0x2100000000000011", "0x010211", "FCP Target", "Online", 0,
            {{0, "sdc", 3, {}}, {1, "sdd", 4, {}}, {2, "sdz`id`", 5, {}}}}};
    }) {
        discover();
        port(5)->apihandle = kHandle;
        is_udevadm = 1;
        host.script_command(kFirstFormC, {std::string("x\n") + kGuidC + "\n"});
        // sdd answers only the second form ("/dev//sdd", as formed).
        host.script_command("/lib/udev/scsi_id --page=0x83 --whitelisted --device=/dev//sdd 2> /dev/null",
                            {std::string(kGuidD) + "\n"});
    }
    ~UdevRig() { is_udevadm = 1; }
    int set(uint16_t lun, const char* names) { return vxapi_set_lun_udev_name(-1, port(5), 0, 0, lun, names); }
    int del(uint16_t lun, const char* names) { return vxapi_delete_lun_udev_name(-1, port(5), 0, 0, lun, names); }
    std::string get(uint16_t lun, int expect = 0) {
        char out[512] = "unchanged";
        EXPECT_EQ(vxapi_get_lun_udev_name(-1, port(5), 0, 0, lun, out), expect);
        return out;
    }
    std::string rules() const { return host.read_file(VXAPI_UDEV_RULES_FILE); }
    // The same through the public functions.
    SD_UINT32 sd_set(uint16_t lun, std::string names) { return SDSetLunUdevName(kHandle, 0, 0, lun, names.data()); }
    SD_UINT32 sd_del(uint16_t lun, std::string names) { return SDDeleteLunUdevName(kHandle, 0, 0, lun, names.data()); }
    std::string sd_get(uint16_t lun) {
        char out[512] = "unchanged";
        EXPECT_EQ(SDGetLunUdevName(kHandle, 0, 0, lun, out), SDERR_NO_ERROR);
        return out;
    }
};

inline std::string rule(bool whole, const char* guid, const std::string& names, const char* key = "ATTRS",
                        const char* vendor = "0x7a5a") {
    return std::string("KERNEL==\"") + (whole ? "sd*[!0-9]" : "sd*[0-9]") + "\", SUBSYSTEM==\"block\", " + key +
           "{vendor}==\"" + vendor + "\", ENV{ID_SERIAL}==\"" + guid + "\", SYMLINK+=\"" + names + "\"\n";
}

}  // namespace udevtest

namespace udevtest {

// Lines of LUN 0:0 (sdc) edited by hand, each in a rules file between a comment and the rules of LUN 0:1: a set or
// delete of some names either fails with the file unchanged or changes the names only.
struct HandRow {
    const char* what;
    std::string line;   // the LUN's line (or lines)
    bool set;           // else delete
    const char* names;  // set or deleted
    bool ok;            // else SDERR_CONFIG_FILE
    bool real;          // run through the real udev too (its match items can be made to match a test device)
};

inline std::vector<HandRow> hand_rows() {
    const std::string K = "KERNEL==\"sd*[!0-9]\"", S = "SUBSYSTEM==\"block\"", V = "ATTRS{vendor}==\"0x7a5a\"",
                      G = std::string("ENV{ID_SERIAL}==\"") + kGuidC + "\"";
    const std::string nul(1, '\0');
    const std::string base = K + ", " + S + ", " + V + ", ";
    return {
        {"two link lists", base + G + ", SYMLINK+=\"a\", SYMLINK+=\"x\"\n", true, "b", true, true},
        {"two link lists, one deleted", base + G + ", SYMLINK+=\"a\", SYMLINK+=\"x\"\n", false, "a", true, true},
        {"two link lists, a name of each deleted", base + G + ", SYMLINK+=\"a y\", SYMLINK+=\"x\"\n", false, "x a", true,
         true},
        {"another attribute of the same key", base + "ATTRS{model}==\"M\", " + G + ", SYMLINK+=\"a \"\n", true, "b",
         true, false},
        {"a key holding another", K + ", " + S + ", SUBSYSTEMS==\"scsi\", " + V + ", " + G + ", SYMLINK+=\"a \"\n", true,
         "b", true, false},
        {"blanks around the operator", base + G + ", SYMLINK += \"a\"\n", true, "b", true, true},
        {"every disk but this one", base + "ENV{ID_SERIAL}!=\"" + kGuidC + "\", SYMLINK+=\"a \"\n", true, "b", true,
         true},
        {"other keys", "ACTION==\"add\", " + base + G + ", OWNER=\"root\", MODE=\"0660\", SYMLINK+=\"a \"\n", true, "b",
         true, true},
        {"other keys, the last name deleted", "ACTION==\"add\", " + base + G + ", OWNER=\"root\", SYMLINK+=\"a \"\n", false,
         "a", true, true},
        {"an indented comment", "  # note\n" + base + G + ", SYMLINK+=\"a \"\n", true, "b", true, true},
        {"a line going on in the next", base + "\\\n    " + G + ", SYMLINK+=\"a\"\n", true, "b", true, true},
        {"a comment within a continued line", base + "\\\n  # inside\n" + G + ", SYMLINK+=\"a\"\n", false, "a", true,
         true},
        {"an open quote", base + G + ", SYMLINK+=\"a\n", true, "b", false, false},
        {"a key without an operator", base + G + ", OWNER, SYMLINK+=\"a\"\n", true, "b", false, false},
        // A key udev does not know: udev skips the whole line (no link comes from it), and a change fails.
        {"an unknown key", base + G + ", FOO=\"x\", SYMLINK+=\"a\"\n", true, "b", false, true},
        {"a key with a $", base + G + ", SYML$NK=\"f\", SYMLINK+=\"a\"\n", false, "a", false, true},
        {"a control byte in a key", base + G + ", SYM\x01" "LINK+=\"f\", SYMLINK+=\"a\"\n", true, "b", false, true},
        {"a NUL in a key", base + G + ", SYM" + std::string(1, '\0') + "LINK+=\"f\", SYMLINK+=\"a\"\n", false, "a",
         false, true},
        // Lines as udev 252 reads them: an operator or attribute that the key does not take, a vertical tab between
        // items, serials that disagree (no device matches): udev skips the line or it applies to nothing, and a
        // change fails. Items apart by blanks or glued after a quote, TEST{}, and a lone CR that ends the LUN's line
        // (what follows is a rule of every device): udev reads them, and the names change where it reads them.
        {"an operator the key does not take", base + G + ", OWNER==\"root\", SYMLINK+=\"a\"\n", true, "b", false, true},
        {"an attribute the key does not take", base + G + ", RUN{foo}+=\"/bin/true\", SYMLINK+=\"a\"\n", false, "a",
         false, true},
        {"a vertical tab between items", base + G + ",\vSYMLINK+=\"a\"\n", true, "b", false, true},
        {"serials that disagree", base + G + ", ENV{ID_SERIAL}==\"other\", SYMLINK+=\"a\"\n", true, "b", false, true},
        {"items apart by blanks", K + " " + S + "\t" + V + "  " + G + " SYMLINK+=\"a\"\n", true, "b", true, true},
        {"items glued after a quote", K + S + V + G + "SYMLINK+=\"a\"OWNER=\"root\"\n", false, "a", true, true},
        {"TEST without a mode", base + G + ", TEST{}==\"/\", SYMLINK+=\"a\"\n", true, "b", true, true},
        {"a lone CR in the line", base + G + ", OWNER=\"root\",\rSYMLINK+=\"x\"\n", true, "b", true, true},
        // Where udev stops reading: from a line of 16,384 characters on it reads nothing, it drops a rule line left
        // open at the end and skips one joined past its limit, and a NUL ends a line; a change fails where a line
        // would be read otherwise. Beside them, lines one short of a limit, or a long way short where the real udev
        // reads the row (its match items are changed to match the test device).
        {"a comment of 16,384 characters",
         base + G + ", SYMLINK+=\"a\"\n#" + std::string(16383, 'c') + "\n" + base + G + ", SYMLINK+=\"x\"\n", true, "b",
         false, true},
        {"a comment of 16,383 characters", base + G + ", SYMLINK+=\"a\"\n#" + std::string(16382, 'c') + "\n", true, "b",
         true, true},
        {"the LUN's line last and open", base + G + ", SYMLINK+=\"a\" \\\n", true, "b", false, true},
        {"the LUN's line last and open, no line feed", base + G + ", SYMLINK+=\"a\" \\", false, "a", false, true},
        {"an open comment last", base + G + ", SYMLINK+=\"a\"\n# note \\", true, "b", true, true},
        // An empty line after a rule line left open closes it: udev reads the line.
        {"the LUN's line open, then an empty line", base + G + ", SYMLINK+=\"a\" \\\n\n", true, "b", true, true},
        {"the LUN's line open, then a line of blanks", base + G + ", SYMLINK+=\"a x\" \\\n  \n", false, "x", true,
         true},
        {"a NUL ends a comment", "# c" + nul + base + G + ", SYMLINK+=\"a\"\n", false, "a", true, true},
        {"a NUL before the line feed", base + G + ", SYMLINK+=\"a\"" + nul + "\n", true, "b", true, true},
        {"the LUN's line joined past udev's limit",
         base + G + ", \\\n  ENV{X}=\"" + std::string(16300, 'u') + "\", SYMLINK+=\"a\"\n", true, "b", false, true},
        {"the LUN's line joined short of udev's limit",
         base + G + ", SYMLINK+=\"a\", \\\n  ENV{X}=\"" + std::string(16200, 'u') + "\"\n", false, "zz", true, true},
        // Lines that are not the LUN's stay as they were, and so do the links udev makes of them.
        {"an administrator's rule before",
         "ACTION==\"add\", " + K + ", SYMLINK+=\"admin\"\n" + base + G + ", SYMLINK+=\"a\"\n", true, "b", true, true},
        {"rules of their own around, the last name deleted",
         "SUBSYSTEM==\"block\", SYMLINK+=\"mine\"\n" + base + G +
             ", SYMLINK+=\"a\"\nACTION==\"add\", SYMLINK+=\"admin\"\n",
         false, "a", true, true},
        {"empty lines and lines udev skips around",
         "\nstray words\n" + base + G + ", SYMLINK+=\"a\"\n" + K + ", FOO=\"x\", SYMLINK+=\"skipped\"\n\n", true, "b",
         true, true},
        {"another LUN with a pattern of its own, an administrator's rule after",
         "KERNEL==\"sdq\", ENV{ID_SERIAL}==\"other\", SYMLINK+=\"keep\"\r\n" + base + G +
             ", SYMLINK+=\"a\"\nACTION==\"add\", KERNEL==\"sda\", RUN+=\"/bin/true\"\n",
         true, "b", true, false},
    };
}

}  // namespace udevtest

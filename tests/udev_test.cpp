// Persistent LUN names in the udev rules file, on a sysfs port whose LUNs
// 0:0 (sdc), 0:1 (sdd) and 0:2 (a hostile block name) scsi_id can identify.
#include <sys/stat.h>

#include <set>
#include <sstream>
#include <tuple>

#include "platform/vx_platform.h"
#include "udev_lines.h"
#include "sim_steps.h"
#include "udev_rig.h"

namespace {

using namespace udevtest;

TEST(Udev, NamesThroughOneRulesFile) {
    UdevRig rig;
    const std::string hand = "KERNEL==sd*[!0-9], ENV{ID_SERIAL}==x, SYMLINK+=y\n";
    const std::string mine = "# mine\n\nforeign\n" + hand;
    rig.host.write_file(VXAPI_UDEV_RULES_FILE, mine);
    EXPECT_EQ(rig.get(0), "unchanged");  // no rule yet

    // Partition line first; the blank, foreign and hand-edited lines stay.
    ASSERT_EQ(rig.set(0, "a KERNELb"), 0);  // a key word in a name is just text
    EXPECT_EQ(rig.rules(), mine + rule(false, kGuidC, "a_part%n KERNELb_part%n ") +
                               rule(true, kGuidC, "a KERNELb "));
    ASSERT_EQ(rig.del(0, "KERNELb"), 0);
    ASSERT_EQ(rig.set(0, "b"), 0);
    const std::string c2 = rule(false, kGuidC, "a_part%n b_part%n ") + rule(true, kGuidC, "a b ");
    EXPECT_EQ(rig.rules(), mine + c2);
    EXPECT_EQ(rig.host.read_file(VXAPI_UDEV_TMP_FILE), rig.rules());

    // "b" is sdc's already; the vendor key follows udevadm's presence.
    is_udevadm = 0;
    ASSERT_EQ(rig.set(1, "b c"), 0);
    is_udevadm = 1;
    const std::string d1 = rule(false, kGuidD, "c_part%n ", "SYSFS") + rule(true, kGuidD, "c ", "SYSFS");
    EXPECT_EQ(rig.rules(), mine + c2 + d1);
    ASSERT_EQ(rig.set(0, "a"), 0);  // a name the LUN has
    EXPECT_EQ(rig.rules(), mine + c2 + d1);
    EXPECT_EQ(rig.get(0), "a b ");  // not sdd's, whose GUID holds sdc's
    EXPECT_EQ(rig.get(1), "c ");

    // A line over 511 characters: refused, file unchanged.
    const std::string before = rig.rules();
    EXPECT_EQ(rig.set(1, std::string(420, 'n').c_str()), 1);
    EXPECT_EQ(rig.rules(), before);

    ASSERT_EQ(rig.del(0, "a"), 0);
    const std::string c1 = rule(false, kGuidC, "b_part%n ") + rule(true, kGuidC, "b ");
    EXPECT_EQ(rig.rules(), mine + c1 + d1);
    ASSERT_EQ(rig.del(0, "b"), 0);
    EXPECT_EQ(rig.rules(), mine + d1);

    // A failed copy-back leaves the old rules whole.
    rig.host.fail_open(VXAPI_UDEV_NEW_FILE, ENOSPC, 1);
    EXPECT_EQ(rig.set(1, "e"), 1);
    EXPECT_EQ(rig.rules(), mine + d1);
    EXPECT_FALSE(rig.host.exists(VXAPI_UDEV_NEW_FILE));

    // Links planted at both /tmp names are replaced, not followed.
    rig.host.write_file("/victim", "keep");
    rig.host.make_symlink("../victim", VXAPI_UDEV_TMP_FILE);
    rig.host.make_symlink("../victim", VXAPI_UDEV_BACKUP_FILE);
    ASSERT_EQ(rig.set(1, "e"), 0);
    EXPECT_EQ(rig.host.read_file("/victim"), "keep");
    EXPECT_EQ(rig.host.read_file(VXAPI_UDEV_BACKUP_FILE), mine + d1);
    EXPECT_EQ(rig.rules(), mine + rule(false, kGuidD, "c_part%n e_part%n ") +
                               rule(true, kGuidD, "c e "));  // rebuilt with the present key

    // A hand-made line longer than the caller's buffer: 511 characters and a NUL.
    rig.host.write_file(VXAPI_UDEV_RULES_FILE, rule(true, kGuidD, std::string(600, 'x')));
    EXPECT_EQ(rig.get(1), std::string(511, 'x'));
}

// Names, GUIDs and block device names that would break out of a rule are refused before the rules file is touched.
TEST(Udev, HostileTextsRefusedBeforeAnything) {
    const struct {
        uint16_t lun;
        const char* names;
        const char* guid_answer;  // of sdc's scsi_id, or null
        bool scsi_id_runs;
    } cases[] = {
        {0, "a\" RUN+=\"/bin/x", nullptr, false}, {0, "a, RUN+=x", nullptr, false}, {0, "a\\b", nullptr, false},
        {0, "a\nKERNEL", nullptr, false},        {0, "a\tb", nullptr, false},      {2, "a", nullptr, false},
        {0, "a", "60\", RUN+=\"x\n", true},       {0, "a", "60\x1b" "1\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names + std::string(c.guid_answer != nullptr ? c.guid_answer : ""));
        UdevRig rig;
        if (c.guid_answer != nullptr)
            rig.host.script_command(kFirstFormC, {c.guid_answer});
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, "# kept\n");
        EXPECT_EQ(rig.set(c.lun, c.names), 1);
        EXPECT_EQ(rig.del(c.lun, c.names), 1);
        if (c.names == std::string("a")) rig.get(c.lun, 1);
        EXPECT_EQ(rig.rules(), "# kept\n");
        EXPECT_FALSE(rig.host.exists(VXAPI_UDEV_TMP_FILE));
        EXPECT_EQ(std::ranges::any_of(rig.host.commands(), [](auto& cmd) { return cmd.find("scsi_id") != cmd.npos; }),
                  c.scsi_id_runs);
    }
}

// A GUID of the length given, as scsi_id might print it.
std::string long_guid(size_t length) {
    std::string guid = "36";
    for (size_t i = 0; guid.size() < length; ++i) guid += "0123456789abcdef"[i % 16];
    return guid.substr(0, length);
}

// The public get's status and answer.
std::pair<SD_UINT32, std::string> sd_get_status(uint16_t lun) {
    char out[512] = "unchanged";
    const SD_UINT32 status = SDGetLunUdevName(kHandle, 0, 0, lun, out);
    return {status, out};
}

// LUN 0:0's GUID as scsi_id prints it, at lengths around each bound, through the public set, get and delete, without
// and with a rule line of the whole GUID written by hand: the three read the GUID alike. Up to 510 characters it is
// taken whole: the set writes rules for the whole GUID while a rule line can hold it (at 510 it fails as a line that
// would not fit), the get answers their names, and the delete takes them away. From 511 characters on it is refused
// as no GUID is: all three fail with the file unchanged, and the get answers no names, not even those of the line of
// the whole GUID.
TEST(Udev, GuidReadWholeOrRefusedAlike) {
    const struct Row {
        size_t length;
        bool read;  // else refused
        bool set;   // the rules fit in their lines
    } rows[] = {{251, true, true},   {252, true, true},   {253, true, true},   {300, true, true},   {381, true, true},
                {510, true, false},  {511, false, false}, {512, false, false}, {513, false, false}};
    const std::string other = "# kept\n" + rule(true, kGuidD, "c ");
    for (const Row& row : rows) {
        for (const bool hand : {false, true}) {
            SCOPED_TRACE(testing::Message() << row.length << (hand ? ", a line of the GUID by hand" : ""));
            const std::string guid = long_guid(row.length);
            UdevRig rig;
            rig.host.script_command(kFirstFormC, {guid + "\n"});
            const std::string before = other + (hand ? rule(true, guid.c_str(), "h ") : "");
            rig.host.write_file(VXAPI_UDEV_RULES_FILE, before);
            EXPECT_EQ(sd_get_status(0), std::pair(row.read ? SDERR_NO_ERROR : SDERR_CONFIG_FILE,
                                                  std::string(row.read && hand ? "h " : "unchanged")));

            const SD_UINT32 set = rig.sd_set(0, "a");
            if (row.set) {
                ASSERT_EQ(set, SDERR_NO_ERROR);
                const std::string part = rule(false, guid.c_str(), "a_part%n ");
                EXPECT_EQ(rig.rules(), hand ? other + rule(true, guid.c_str(), "h a ") + part
                                            : other + part + rule(true, guid.c_str(), "a "));
                EXPECT_EQ(rig.sd_get(0), hand ? "h a " : "a ");
            } else {
                EXPECT_EQ(set, SDERR_CONFIG_FILE);
                EXPECT_EQ(rig.rules(), before);
            }

            EXPECT_EQ(rig.sd_del(0, "a h"), row.read ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.rules(), row.read ? other : before);
            EXPECT_EQ(rig.sd_get(1), "c ");
        }
    }
}

// LUN 0:0's scsi_id output holding LUN 0:1's GUID (whose name is "c") after text of its own, through the public
// calls: the get of 0:0 never answers "c", no rule is written for 0:1's GUID, and 0:1's line stays. A line that fits
// is 0:0's GUID, whole (the last line printed, as before); a line longer than 510 characters, or holding a NUL, is no
// GUID, and the line after it is not taken in its place: the second command form is asked, as when the first prints
// nothing.
TEST(Udev, GuidWithAnotherLunsGuidAsItsTail) {
    const std::string d = kGuidD;
    const struct Row {
        const char* what;
        std::string output;  // of the first form
        std::string second;  // of the second form
        std::string guid;    // taken; "" for none
    } rows[] = {
        {"252 characters, then 0:1's GUID", long_guid(252) + d + "\n", "", long_guid(252) + d},
        {"510 characters ending in 0:1's GUID", long_guid(496) + d + "\n", "", long_guid(496) + d},
        {"511 characters ending in 0:1's GUID", long_guid(497) + d + "\n", "", ""},
        {"511 characters, then 0:1's GUID", long_guid(511) + d + "\n", "", ""},
        {"510 characters without the newline", long_guid(496) + d, "", long_guid(496) + d},
        {"511 characters without the newline", long_guid(497) + d, "", ""},
        {"a line too long, then 0:1's GUID on a line", long_guid(600) + "\n" + d + "\n", "", ""},
        {"0:1's GUID, a NUL and more", d + std::string(1, '\0') + "ff\n", "", ""},
        {"a line, then 0:0's GUID on the last line", "x\n" + long_guid(300) + "\n", "", long_guid(300)},
        {"a line too long, then the second form", long_guid(600) + "\n", std::string(kGuidC) + "\n", kGuidC},
    };
    const std::string other = "# kept\n" + rule(true, kGuidD, "c ");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UdevRig rig;
        rig.host.script_command(kFirstFormC, {row.output});
        if (!row.second.empty()) rig.host.script_command(kSecondFormC, {row.second});
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, other);
        const bool found = !row.guid.empty();
        EXPECT_EQ(sd_get_status(0), std::pair(found ? SDERR_NO_ERROR : SDERR_CONFIG_FILE, std::string("unchanged")));

        // The partition line is the longer of the two; a rule line holds at most 511 characters.
        const std::string part = rule(false, row.guid.c_str(), "a_part%n ");
        const bool fits = found && part.size() < VXAPI_UDEV_LINE_SIZE;
        const std::string mine = fits ? part + rule(true, row.guid.c_str(), "a ") : "";
        EXPECT_EQ(rig.sd_set(0, "a"), fits ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
        EXPECT_EQ(rig.rules(), other + mine);
        EXPECT_EQ(sd_get_status(0), std::pair(found ? SDERR_NO_ERROR : SDERR_CONFIG_FILE,
                                              std::string(fits ? "a " : "unchanged")));

        EXPECT_EQ(rig.sd_del(0, "c a"), found ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
        EXPECT_EQ(rig.rules(), other);
        EXPECT_EQ(rig.sd_get(1), "c ");
    }
}

// LUN 0:0's GUID holding a character that udev reads as a pattern in ENV{ID_SERIAL}== (each of these would match
// LUN 0:1's GUID too): the public set refuses it with the rules file byte for byte unchanged, so no name of 0:0
// reaches 0:1's disk. The get and the delete compare it as text: they still answer and remove a line of that GUID
// written by hand. An ordinary GUID is written (the control row).
TEST(Udev, GuidThatUdevReadsAsAPatternRefusedOnSet) {
    const std::string d = kGuidD;
    const struct Row {
        std::string guid;
        bool pattern;
    } rows[] = {{d.substr(0, 12) + "*", true},
                {d.substr(0, 13) + "?", true},
                {d.substr(0, 13) + "[ef]", true},
                {"0|" + d, true},
                {d.substr(0, 13) + "e", false}};
    const std::string other = "# kept\n" + rule(true, kGuidD, "c ");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.guid);
        UdevRig rig;
        rig.host.script_command(kFirstFormC, {row.guid + "\n"});
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, other);
        if (row.pattern) {
            EXPECT_EQ(rig.sd_set(0, "a"), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.rules(), other);
            EXPECT_FALSE(rig.host.exists(VXAPI_UDEV_TMP_FILE));
            EXPECT_EQ(rig.sd_get(0), "unchanged");
        } else {
            ASSERT_EQ(rig.sd_set(0, "a"), SDERR_NO_ERROR);
            EXPECT_EQ(rig.rules(),
                      other + rule(false, row.guid.c_str(), "a_part%n ") + rule(true, row.guid.c_str(), "a "));
            EXPECT_EQ(rig.sd_get(0), "a ");
        }
        EXPECT_EQ(rig.sd_get(1), "c ");

        rig.host.write_file(VXAPI_UDEV_RULES_FILE, other + rule(true, row.guid.c_str(), "h "));
        EXPECT_EQ(rig.sd_get(0), "h ");
        EXPECT_EQ(rig.sd_del(0, "h"), SDERR_NO_ERROR);
        EXPECT_EQ(rig.rules(), other);
    }
}

// Names that udev would not make into exactly these links ('$' and '%' substitutions, punctuation it replaces,
// non-ASCII bytes, "." and ".." steps) are refused before anything runs, and the rules stay as they were. A
// hand-written name holding one can still be deleted.
TEST(Udev, SubstitutionCharactersRefusedOnSet) {
    UdevRig ok;
    ok.host.write_file(VXAPI_UDEV_RULES_FILE, "");
    ASSERT_EQ(ok.set(0, "disk/lun-1 a.b:c=d@e+f#g_h"), 0);
    EXPECT_EQ(ok.get(0), "disk/lun-1 a.b:c=d@e+f#g_h ");
    for (const char* names : {"a $kernel", "b%n", "$", "c%", "d$$", "e*", "f(1)", "g;h", "i~", "j?", "k\xc3\xa9",
                              "..", "m .", "n/../o", "./p"}) {
        SCOPED_TRACE(names);
        UdevRig rig;
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, "# kept\n");
        EXPECT_EQ(rig.set(0, names), 1);
        EXPECT_EQ(rig.rules(), "# kept\n");
        EXPECT_TRUE(rig.host.commands().empty());  // not even scsi_id
    }
    UdevRig rig;
    rig.host.write_file(VXAPI_UDEV_RULES_FILE, rule(true, kGuidC, "a x$y "));
    ASSERT_EQ(rig.del(0, "x$y"), 0);
    EXPECT_EQ(rig.rules(), rule(true, kGuidC, "a "));
}

// A rules file whose last line has no newline gets one before the new rules, whatever the line holds; the
// other lines stay as they were. A change that adds no line keeps the last line as it is, also one that the file
// ends in the middle of; a set that would add a line after that one fails, as the new line would go on it.
TEST(Udev, LastLineWithoutNewline) {
    const std::string other = rule(true, kGuidD, "c ");
    const std::string added = rule(false, kGuidC, "a_part%n ") + rule(true, kGuidC, "a ");
    const struct Case {
        std::string before, after;
    } cases[] = {
        {"# mine", "# mine\n" + added},
        {"# one\n# cr\r", "# one\n# cr\r\n" + added},
        {other.substr(0, other.size() - 1), other + added},
        {"# x\n" + std::string("# n\0ul", 6), "# x\n" + std::string("# n\0ul\n", 7) + added},
        {"", added},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        UdevRig rig;
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, c.before);
        ASSERT_EQ(rig.set(0, "a"), 0);
        EXPECT_EQ(rig.rules(), c.after);
        EXPECT_EQ(rig.get(0), "a ");
    }
    // A delete keeps such a line as it is.
    UdevRig rig;
    rig.host.write_file(VXAPI_UDEV_RULES_FILE, added + other.substr(0, other.size() - 1));
    ASSERT_EQ(rig.del(0, "a"), 0);
    EXPECT_EQ(rig.rules(), other.substr(0, other.size() - 1));
    EXPECT_EQ(rig.get(1), "c ");

    const std::string going_on = "KERNEL==\"sdr\", \\\n";
    const struct Change {
        std::string before;
        bool set;
        int status;
        std::string after;
    } changes[] = {
        // udev drops a rule line left open at the end: every change fails.
        {added + going_on, false, 1, added + going_on},
        {added + "# cr\r", false, 0, "# cr\r"},
        {added + going_on, true, 1, added + going_on},
        {going_on, true, 1, going_on},
        {rule(false, kGuidC, "a_part%n ") + going_on, true, 1, rule(false, kGuidC, "a_part%n ") + going_on},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.before);
        UdevRig r;
        r.host.write_file(VXAPI_UDEV_RULES_FILE, c.before);
        ASSERT_EQ(c.set ? r.set(0, "a") : r.del(0, "a"), c.status);
        EXPECT_EQ(r.rules(), c.after);
    }
}

// A set and a delete keep the rules file's mode, owner and group, and its temporary copy and backup take them too, so
// that none is open to more than the rules file; a new rules file is 0644. An owner that cannot be set fails the
// change with the rules as they were.
TEST(Udev, RulesKeepTheirModeOwnerAndGroup) {
    const auto attrs = [](const char* path) {
        struct stat st {};
        EXPECT_EQ(vx::sys().stat(path, &st), 0) << path;
        return std::tuple(st.st_mode & 07777, st.st_uid, st.st_gid);
    };
    for (mode_t mode : {0600, 0640, 0644}) {
        SCOPED_TRACE(mode);
        UdevRig rig;
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, "# mine\n", mode);
        rig.host.set_owner(VXAPI_UDEV_RULES_FILE, 1234);
        rig.host.set_group(VXAPI_UDEV_RULES_FILE, 2345);
        const auto want = std::tuple(mode, uid_t{1234}, gid_t{2345});
        ASSERT_EQ(rig.sd_set(0, "a"), SDERR_NO_ERROR);
        for (const char* path : {VXAPI_UDEV_RULES_FILE, VXAPI_UDEV_TMP_FILE, VXAPI_UDEV_BACKUP_FILE}) {
            EXPECT_EQ(attrs(path), want) << path;
        }
        ASSERT_EQ(rig.sd_del(0, "a"), SDERR_NO_ERROR);
        EXPECT_EQ(attrs(VXAPI_UDEV_RULES_FILE), want);
        EXPECT_EQ(rig.rules(), "# mine\n");

        rig.host.fail_fchown(EPERM);
        EXPECT_NE(rig.sd_set(0, "b"), SDERR_NO_ERROR);
        EXPECT_EQ(rig.rules(), "# mine\n");
        EXPECT_EQ(attrs(VXAPI_UDEV_RULES_FILE), want);
    }
    UdevRig rig;
    rig.host.make_dir("/etc/udev/rules.d");
    ASSERT_EQ(rig.sd_set(0, "a"), SDERR_NO_ERROR);
    EXPECT_EQ(std::get<0>(attrs(VXAPI_UDEV_RULES_FILE)), 0644u) << "a new rules file";
}

// A hand-edited whole-disk rule line of LUN 0:0 with the name "a", between a comment and the rules of LUN 0:1, through
// the public functions: "b" set, read and deleted. Items in any order, blanks around them, an empty value: only the
// names item changes, every other item and separator stays where and as it was, and the delete gives the line back. A
// damaged item, or a KERNEL== item that names neither the disk nor its partitions: both changes fail and the file stays
// as it was.
TEST(Udev, HandEditedLinesOfTheLun) {
    const std::string K = "KERNEL==\"sd*[!0-9]\"", S = "SUBSYSTEM==\"block\"", V = "ATTRS{vendor}==\"0x7a5a\"",
                      G = std::string("ENV{ID_SERIAL}==\"") + kGuidC + "\"", N = "SYMLINK+=\"a \"";
    const auto items = [](const std::vector<std::string>& texts, const std::string& between = ", ") {
        std::string line = texts[0];
        for (size_t i = 1; i < texts.size(); ++i) line += between + texts[i];
        return line;
    };
    const struct Case {
        const char* what;
        std::string line;
        bool rebuilt;
    } cases[] = {
        {"vendor after the names", items({K, S, G, N, V}) + "\n", true},
        {"kernel last, CR LF", items({S, V, G, N, K}) + "\r\n", true},
        {"identifier last", items({K, S, V, N, G}) + "\n", true},
        {"names first, old vendor key", items({N, G, "SYSFS{vendor}==\"0x7a5a\"", S, K}) + "\n", true},
        {"blanks around the items", items({K, S, V, G, N}, " ,\t") + " \n", true},
        {"empty vendor", items({K, S, "ATTRS{vendor}==\"\"", G, N}) + "\n", true},
        {"kernel without its opening quote", items({"KERNEL==sd*[!0-9]\"", S, V, G, N}) + "\n", false},
        {"kernel without quotes", items({"KERNEL==sd*[!0-9]", S, V, G, N}) + "\n", false},
        {"names without their closing quote", items({K, S, V, G, "SYMLINK+=\"a "}) + "\n", false},
        {"vendor without its closing quote", items({K, S, "ATTRS{vendor}==\"0x7a5a", G, N}) + "\n", false},
        {"text after a closing quote", items({K, S, V, G, N + "x"}) + "\n", false},
        {"pattern only in a dropped item", items({"KERNEL==\"sd*\"", S, V, G, N, "TAG+=\"sd*[!0-9]\""}) + "\n", false},
    };
    const std::string before = "# names\n" + rule(true, kGuidD, "c ");
    const std::string after = rule(false, kGuidD, "c_part%n ") + "# end\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UdevRig rig;
        const std::string text = before + c.line + after;
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, text);
        const SD_UINT32 status = c.rebuilt ? SDERR_NO_ERROR : SDERR_CONFIG_FILE;
        EXPECT_EQ(rig.sd_set(0, "b"), status);
        std::string changed = c.line;
        if (c.rebuilt) changed.replace(changed.find(N), N.size(), "SYMLINK+=\"a b \"");
        EXPECT_EQ(rig.rules(), c.rebuilt ? before + changed + after + rule(false, kGuidC, "b_part%n ") : text);
        if (c.rebuilt) {
            EXPECT_EQ(rig.sd_get(0), "a b ");
        }
        EXPECT_EQ(rig.sd_del(0, "b"), status);
        EXPECT_EQ(rig.rules(), text);
        if (c.rebuilt) {
            EXPECT_EQ(rig.sd_get(0), "a ");
        }
    }
}

// Lines that are not the LUN's, each before, between and after the LUN's two lines, through the public set and
// delete: only the LUN's lines change; every other line comes out byte for byte, in its place.
TEST(Udev, OtherLinesStayAsWritten) {
    const std::string others[] = {
        "ACTION==\"add\", KERNEL==\"sda\", RUN+=\"/bin/true\"\n",           // an administrator's rule
        "KERNEL==\"sdq\", ENV{ID_SERIAL}==\"other\", SYMLINK+=\"keep\"\n",  // another LUN, a pattern of its own
        "KERNEL==\"sd*\", ENV{ID_SERIAL}==\"other\", SYMLINK+=\"a b\"\n",
        "\n",
        " \t\n",
        "stray words\n",
        "KERNEL==\"sd*[!0-9]\", FOO=\"x\", SYMLINK+=\"skipped\"\n",  // udev skips these two: no GUID
        std::string("KERNEL==\"sd*[0-9]\", SYM\0LINK+=\"f\"\n", 34),
        "ACTION==\"add\", KERNEL==\"sdb\", SYMLINK+=\"crlf\"\r\n",
        "KERNEL==\"sdr\", \\\n  SYMLINK+=\"r\"\n",
        "# a comment\n",
    };
    const auto file = [](const std::string& other, size_t at, const std::string& whole, const std::string& part) {
        std::vector<std::string> lines = {rule(false, kGuidC, part), rule(true, kGuidC, whole)};
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), other);
        return lines[0] + lines[1] + lines[2];
    };
    for (const std::string& other : others) {
        for (size_t at = 0; at <= 2; ++at) {
            SCOPED_TRACE(testing::Message() << other << "at " << at);
            UdevRig rig;
            rig.host.write_file(VXAPI_UDEV_RULES_FILE, file(other, at, "a ", "a_part%n "));
            ASSERT_EQ(rig.sd_set(0, "b"), SDERR_NO_ERROR);
            EXPECT_EQ(rig.rules(), file(other, at, "a b ", "a_part%n b_part%n "));
            EXPECT_EQ(rig.sd_get(0), "a b ");
            ASSERT_EQ(rig.sd_del(0, "a b"), SDERR_NO_ERROR);
            EXPECT_EQ(rig.rules(), other);
        }
    }
}

// A line of the LUN holding a key that udev does not know (udev skips the whole line), on the whole-disk line and on
// the partition line: a set and a delete fail with the file unchanged, and the get answers no name of it.
TEST(Udev, LunLinesWithKeysUdevDoesNotKnow) {
    const std::string items[] = {"FOO=\"x\"", "SYML$NK=\"f\"",     "SYM\x01" "LINK+=\"f\"",
                                 std::string("SYM\0LINK+=\"f\"", 13), "ENV=\"x\"", "KERNEL{x}==\"y\"",
                                 "ENV{}==\"x\"", "RUN{}=\"x\""};
    for (const std::string& item : items) {
        for (const bool whole : {true, false}) {
            SCOPED_TRACE(item + (whole ? ", whole disk" : ", partitions"));
            std::string lines[] = {rule(false, kGuidC, "a_part%n "), rule(true, kGuidC, "a ")};
            std::string& skipped = lines[whole ? 1 : 0];
            skipped.insert(skipped.find("SYMLINK+="), item + ", ");
            const std::string text = "# 0:0\n" + lines[0] + lines[1] + rule(true, kGuidD, "c ");
            UdevRig rig;
            rig.host.write_file(VXAPI_UDEV_RULES_FILE, text);
            EXPECT_EQ(rig.sd_set(0, "b"), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.sd_del(0, "a"), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.rules(), text);
            EXPECT_EQ(rig.sd_get(0), whole ? "unchanged" : "a ");
            EXPECT_EQ(rig.sd_get(1), "c ");
        }
    }
}

// LUN lines as udev 252 reads them, each on the whole-disk line and on the partition line (the other line of the LUN
// in the library's form), through the public set, get and delete of "b". A line that udev skips (an operator or
// attribute its key does not take, a vertical tab or form feed outside a value) or that applies to no device (its
// serials disagree): both changes fail with the file unchanged, and the get answers no name of it. A line udev reads,
// whatever its separators: the names change in it and every other byte stays. A lone CR ends a line: what follows is
// a line of its own, not the LUN's.
// In the rows, $P stands for the LUN's match items, $a and $b for the names a and b of the line's kind.
TEST(Udev, LunLinesAsUdevReadsThem) {
    const std::string P = "KERNEL==\"$K\", SUBSYSTEM==\"block\", ATTRS{vendor}==\"0x7a5a\", ENV{ID_SERIAL}==\"" +
                          std::string(kGuidC) + "\"";
    const auto with = [&](const std::string& item) { return "$P, " + item + ", SYMLINK+=\"$a \"\n"; };
    struct Row {
        std::string before, after;  // after the set; "" when refused
        const char* got = "a b ";   // the get after the set, on the whole-disk line
    };
    std::vector<Row> rows;
    for (const char* item :
         {"OWNER==\"root\"", "SYMLINK-=\"x\"", "ACTION=\"add\"", "SUBSYSTEM=\"block\"", "RESULT=\"x\"",
          "KERNEL+=\"sd*\"", "GOTO==\"x\"", "LABEL+=\"x\"", "RUN{foo}+=\"/bin/true\"", "IMPORT{foo}=\"x\"",
          "ENV{X}-=\"y\"", "CONST{foo}==\"x\"", "TEST{abc}==\"/x\"", "TEST{8}==\"/x\"", "ENV{ACTION}=\"x\"",
          "ENV{ID_SERIAL}==\"other\"", "ENV{ID_SERIAL}!=\"600a0b8000[1]\""}) {
        rows.push_back({with(item), ""});
    }
    rows.push_back({"$P,\vSYMLINK+=\"$a \"\n", ""});
    rows.push_back({"$P, SYMLINK+=\"$a \"\f\n", ""});
    for (const char* item : {"TEST{}==\"/x\"", "TEST{ 0644}==\"/x\"", "OWNER=\"root\"", "RUN+=\"/bin/true\"",
                             "ENV{X}=\"y\"", "ENV{ID_SERIAL}==\"600a*|x\"", "ENV{ID_SERIAL}!=\"other\""}) {
        rows.push_back({with(item), "$P, " + std::string(item) + ", SYMLINK+=\"$a $b \"\n"});
    }
    const std::string blanks = "KERNEL==\"$K\" SUBSYSTEM==\"block\"\tATTRS{vendor}==\"0x7a5a\"  ENV{ID_SERIAL}==\"" +
                               std::string(kGuidC) + "\" ";
    rows.push_back({blanks + "SYMLINK+=\"$a \"\n", blanks + "SYMLINK+=\"$a $b \"\n"});
    const std::string glued = "KERNEL==\"$K\"SUBSYSTEM==\"block\",ATTRS{vendor}==\"0x7a5a\", ,ENV{ID_SERIAL}==\"" +
                              std::string(kGuidC) + "\"";
    rows.push_back({glued + "SYMLINK+=\"$a \"OWNER=\"root\"\n", glued + "SYMLINK+=\"$a $b \"OWNER=\"root\"\n"});
    rows.push_back({glued + "OWNER=\"root\"\n", glued + "OWNER=\"root\", SYMLINK+=\"$b \"\n", "b "});
    rows.push_back({"$P, OWNER=\"root\",\rSYMLINK+=\"$a \"\n",
                    "$P, OWNER=\"root\", SYMLINK+=\"$b \",\rSYMLINK+=\"$a \"\n", "b "});
    rows.push_back({"$P, SYMLINK+=\"$a \"\n\r", "$P, SYMLINK+=\"$a $b \"\n\r"});

    const auto expand = [&](std::string text, bool whole) {
        const std::pair<std::string, std::string> marks[] = {{"$P", P},
                                                              {"$K", whole ? "sd*[!0-9]" : "sd*[0-9]"},
                                                              {"$a", whole ? "a" : "a_part%n"},
                                                              {"$b", whole ? "b" : "b_part%n"}};
        for (const auto& [mark, by] : marks) {
            for (size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += by.size()) {
                text.replace(at, mark.size(), by);
            }
        }
        return text;
    };
    for (const Row& row : rows) {
        for (const bool whole : {true, false}) {
            SCOPED_TRACE(testing::Message() << row.before << (whole ? "whole disk" : "partitions"));
            const std::string other = whole ? rule(false, kGuidC, "a_part%n ") : rule(true, kGuidC, "a ");
            const std::string other_after =
                whole ? rule(false, kGuidC, "a_part%n b_part%n ") : rule(true, kGuidC, "a b ");
            const std::string text = "# 0:0\n" + other + expand(row.before, whole) + rule(true, kGuidD, "c ");
            UdevRig rig;
            rig.host.write_file(VXAPI_UDEV_RULES_FILE, text);
            if (row.after.empty()) {
                EXPECT_EQ(rig.sd_set(0, "b"), SDERR_CONFIG_FILE);
                EXPECT_EQ(rig.sd_del(0, "a"), SDERR_CONFIG_FILE);
                EXPECT_EQ(rig.rules(), text);
                EXPECT_EQ(rig.sd_get(0), whole ? "unchanged" : "a ");
            } else {
                ASSERT_EQ(rig.sd_set(0, "b"), SDERR_NO_ERROR);
                EXPECT_EQ(rig.rules(), "# 0:0\n" + other_after + expand(row.after, whole) + rule(true, kGuidD, "c "));
                EXPECT_EQ(rig.sd_get(0), whole ? row.got : "a b ");
                ASSERT_EQ(rig.sd_del(0, "b"), SDERR_NO_ERROR);
                EXPECT_EQ(rig.rules(), text);
            }
            EXPECT_EQ(rig.sd_get(1), "c ");
        }
    }
}

// A name on another line is taken when udev reads that line and it applies to a device, and not when udev skips it
// or its serials disagree: the set adds it then.
TEST(Udev, NamesOnSkippedLinesAreNotTaken) {
    const std::string other = "KERNEL==\"sd*[!0-9]\", ENV{ID_SERIAL}==\"other\", SYMLINK+=\"b\"\n";
    const std::string part = rule(false, kGuidC, "b_part%n "), whole = rule(true, kGuidC, "b ");
    const auto with = [&](const std::string& item) {
        std::string line = other;
        return line.insert(line.find("SYMLINK+="), item + ", ");
    };
    const struct Case {
        std::string line, after, got;
    } cases[] = {
        {other, other + part, "unchanged"},
        {with("FOO=\"x\""), with("FOO=\"x\"") + part + whole, "b "},
        {with(std::string("N\0ME=\"x\"", 8)), with(std::string("N\0ME=\"x\"", 8)) + part + whole, "b "},
        {with("OWNER==\"root\""), with("OWNER==\"root\"") + part + whole, "b "},
        {with("ENV{ID_SERIAL}==\"x\""), with("ENV{ID_SERIAL}==\"x\"") + part + whole, "b "},  // applies to no device
        {with("ENV{ID_SERIAL}==\"oth*\""), with("ENV{ID_SERIAL}==\"oth*\"") + part, "unchanged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        UdevRig rig;
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, c.line);
        ASSERT_EQ(rig.sd_set(0, "b"), SDERR_NO_ERROR);
        EXPECT_EQ(rig.rules(), c.after);
        EXPECT_EQ(rig.sd_get(0), c.got);
    }
}

// Where udev stops reading the rules file, through the public set, get and delete: from a physical line of 16,384
// characters on it reads nothing, and a rule line left open at the end (its last character a backslash) is dropped;
// then every change fails with the file unchanged, whichever LUN it is for, and the get answers no name udev does not
// read. A rule line that its continuation takes to 16,384 characters (leading blanks of its first line not counted)
// is skipped, and its names are not taken. A NUL ends a line as a line feed does. The controls one short of each limit
// are read.
TEST(Udev, WhereUdevStopsReading) {
    const std::string P = rule(false, kGuidC, "a_part%n "), W = rule(true, kGuidC, "a "), D = rule(true, kGuidD, "c ");
    const std::string P2 = rule(false, kGuidC, "a_part%n b_part%n "), W2 = rule(true, kGuidC, "a b ");
    const auto unended = [](const std::string& line) { return line.substr(0, line.size() - 1); };
    const auto comment = [](size_t length) { return "#" + std::string(length - 1, 'c'); };
    // Another device's line naming "b", going on in a line with a value that takes the whole to `length` characters.
    const std::string other = "KERNEL==\"sd*[!0-9]\", ENV{ID_SERIAL}==\"other\", SYMLINK+=\"b\"";
    const auto joined = [&](size_t length, const std::string& lead) {
        const std::string first = lead + other + ", \\\n", value = "  ENV{X}=\"";
        const size_t so_far = first.size() - lead.size() - 2 + value.size() - 2 + 1;
        return first + value + std::string(length - so_far, 'u') + "\"\n";
    };
    const std::string nul(1, '\0');
    struct Row {
        const char* what;
        std::string text;
        std::string after;  // after the set of "b" for LUN 0:0; "" when every change is refused
        const char* got0;   // the get before the change
        const char* got1;
        const char* got_after = "a b ";  // the get after the set
    };
    const Row rows[] = {
        {"a comment of 16,384 characters, the LUN's and another LUN's lines after it",
         P + W + comment(16384) + "\n" + rule(true, kGuidC, "x ") + D, "", "a ", "unchanged"},
        {"a comment of 16,384 characters and a CRLF", P + W + comment(16384) + "\r\n", "", "a ", "unchanged"},
        {"a comment of 16,384 characters last, without its line feed", P + W + comment(16384), "", "a ", "unchanged"},
        {"a comment of 16,383 characters", P + W + comment(16383) + "\n" + D, P2 + W2 + comment(16383) + "\n" + D,
         "a ", "c "},
        {"the LUN's whole-disk line last and open", P + unended(W) + " \\\n", "", "unchanged", "unchanged"},
        {"the LUN's whole-disk line last and open, no line feed", D + P + unended(W) + " \\", "", "unchanged", "c "},
        {"the LUN's line open, then a comment", P + unended(W) + " \\\n# last\n", "", "unchanged", "unchanged"},
        {"an open line before a line too long", P + W + "ACTION==\"add\", \\\n" + comment(16384) + "\n", "", "a ",
         "unchanged"},
        {"an open comment last", P + W + D + "# note \\", P2 + W2 + D + "# note \\", "a ", "c "},
        {"a NUL ends a comment", "# c" + nul + P + W + D, "# c" + nul + P2 + W2 + D, "a ", "c "},
        {"a NUL before the line feed", P + unended(W) + nul + "\n" + D, P2 + unended(W2) + nul + "\n" + D, "a ", "c "},
        {"a NUL after the line feed", P + W + nul + D, P2 + W2 + nul + D, "a ", "c "},
        {"a NUL alone between lines", P + unended(W) + nul + nul + D, P2 + unended(W2) + nul + nul + D, "a ", "c "},
        {"a line joined to 16,384 characters", P + W + joined(16384, "") + D, P2 + W2 + joined(16384, "") + D, "a ",
         "c "},
        {"a line joined to 16,383 characters: its b is taken", P + W + joined(16383, ""), P2 + W + joined(16383, ""),
         "a ", "unchanged", "a "},
        {"the same after leading blanks", P + W + joined(16383, "   "), P2 + W + joined(16383, "   "), "a ",
         "unchanged", "a "},
        {"joined to 16,384 after leading blanks", P + W + joined(16384, "   "), P2 + W2 + joined(16384, "   "), "a ",
         "unchanged"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UdevRig rig;
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, row.text);
        EXPECT_EQ(rig.sd_get(0), row.got0);
        EXPECT_EQ(rig.sd_get(1), row.got1);
        if (row.after.empty()) {
            EXPECT_EQ(rig.sd_set(0, "b"), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.sd_del(0, "a"), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.sd_set(1, "e"), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.rules(), row.text);
            continue;
        }
        ASSERT_EQ(rig.sd_set(0, "b"), SDERR_NO_ERROR);
        EXPECT_EQ(rig.rules(), row.after);
        EXPECT_EQ(rig.sd_get(0), row.got_after);
        EXPECT_EQ(rig.sd_get(1), row.got1);
        ASSERT_EQ(rig.sd_del(0, "b"), SDERR_NO_ERROR);
        EXPECT_EQ(rig.rules(), row.text);
    }
}

// udevtrigger before "udevadm trigger" (the shell's status returned); with neither, 1.
TEST(Udev, TriggerCommands) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"/sbin/udevtrigger", "/sbin/udevadm"}, "/sbin/udevtrigger"}, {{"/sbin/udevadm"}, "/sbin/udevadm trigger"},
        {{}, ""}};
    for (const auto& [tools, command] : cases) {
        sim::SimHost host;
        for (const char* tool : tools) host.write_file(tool, "", 0755);
        host.script_command(command, {"", 3});
        EXPECT_EQ(vxapi_udevtrigger(), command.empty() ? 1 : 3 << 8);
        EXPECT_EQ(host.commands(), command.empty() ? std::vector<std::string>{} : std::vector{command});
    }
}

// Trimming drops the leading blanks and the last character; a hand-edited line without its texts gives no rule text,
// and one that udev cannot read no items.
TEST(Udev, TextHelpersAndHandEditedLines) {
    char a[] = "  ab \n", b[] = "  ab", c[] = "\"x\"", d[] = "";
    EXPECT_EQ(std::tuple(std::string(vxapi_trim_spaces(a)), std::string(vxapi_trim_spaces(b)),
                         std::string(vxapi_remove_quotes(c)), std::string(vxapi_remove_quotes(d))),
              std::tuple("ab ", "a", "x", ""));
    for (const auto& [line, readable] : {std::pair{"KERNEL, SYMLINK+=", false}, std::pair{"SYMLINK+=\"\n", false},
                                         std::pair{",,,", true}, std::pair{"ENV{ID_SERIAL}==\"", false},
                                         std::pair{"", true}, std::pair{"FOO=\"x\", SYMLINK+=\"a\"", false}}) {
        SCOPED_TRACE(line);
        UDEV_RULE* r = vxapi_convert_udevrule_to_obj(line);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->items != nullptr, readable);
        EXPECT_EQ(r->symlink->count, 0u);
        char out[VXAPI_UDEV_LINE_SIZE];
        EXPECT_EQ(vxapi_convert_udevobj_to_rule(r, out), 1);  // missing texts
        vxapi_free_udev_rule(r);
    }
}

}  // namespace

namespace {

using udevtest::HandRow;

// The LUN's whole-disk line as udev reads it, when the text has one.
std::optional<std::vector<udevread::Item>> whole_line_of_lun(const std::string& text) {
    std::optional<std::vector<udevread::Item>> found;
    for (const udevread::Line& l : udevread::lines(text)) {
        const auto items = udevread::items(l);
        if (!items || !udevread::applies_to_lun(*items, kGuidC)) continue;
        if (std::ranges::any_of(*items, [](auto& i) { return i.key == "KERNEL" && i.value == "sd*[!0-9]"; })) {
            found = items;
        }
    }
    return found;
}

std::multiset<std::string> words(const std::string& text) {
    std::multiset<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;) out.insert(w);
    return out;
}

std::multiset<std::string> name_set(const std::vector<udevread::Item>& items) {
    const std::vector<std::string> names = udevread::names(items);
    return {names.begin(), names.end()};
}

// Each hand-edited line through the public set, get and delete: either the call fails with the file unchanged, or
// the LUN's line keeps every other item (text, operator and place) and its names are the old ones plus those set
// (minus those deleted); the other lines stay, and the get answers every name of the line before and after.
TEST(Udev, HandEditedLinesChangeOnlyTheirNames) {
    for (const HandRow& row : udevtest::hand_rows()) {
        SCOPED_TRACE(row.what);
        UdevRig rig;
        const std::string text = "# names\n" + rule(true, kGuidD, "c ") + row.line + rule(false, kGuidD, "c_part%n ") +
                                 "# end\n";
        rig.host.write_file(VXAPI_UDEV_RULES_FILE, text);
        const auto old_line = whole_line_of_lun(text);
        const std::multiset<std::string> old_names = old_line ? name_set(*old_line) : std::multiset<std::string>{};
        if (row.ok && old_line) {
            EXPECT_EQ(words(rig.sd_get(0)), old_names.empty() ? words("unchanged") : old_names);
        }

        const SD_UINT32 status = row.set ? rig.sd_set(0, row.names) : rig.sd_del(0, row.names);
        ASSERT_EQ(status, row.ok ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
        const std::string after = rig.rules();
        if (!row.ok) {
            EXPECT_EQ(after, text);
            continue;
        }
        std::multiset<std::string> want = old_names;
        for (const std::string& n : words(row.names)) row.set ? void(want.insert(n)) : void(want.erase(n));
        // A line that assigns nothing but its names goes with its last name.
        const auto new_line = whole_line_of_lun(after);
        ASSERT_TRUE(new_line.has_value() || want.empty());
        if (new_line) {
            EXPECT_EQ(name_set(*new_line), want);
            EXPECT_EQ(words(rig.sd_get(0)), want.empty() ? words("unchanged") : want);  // no names: buffer untouched
        }
        if (old_line && new_line) {
            EXPECT_EQ(udevread::others(*new_line), udevread::others(*old_line));
        }
        // Every line but the LUN's, and every comment line, stays in its place.
        size_t at = 0;
        for (const udevread::Line& l : udevread::lines(text)) {
            const auto items = udevread::items(l);
            const bool lun = items && udevread::of_lun(*items, kGuidC);
            for (const std::string& p : l.physical) {
                if (lun && p.find_first_not_of(" \t") != p.find('#')) continue;
                at = after.find(p, at);
                ASSERT_NE(at, std::string::npos) << p;
            }
        }
    }
}

}  // namespace

namespace {

// A set and a delete made to fail at each of their steps in turn: the backup is the earlier one or the whole old
// rules, and the rules are the old ones whenever the call failed (else the new ones).
TEST(Udev, BackupIsTheEarlierOneOrTheWholeOldRules) {
    const std::string old_rules = "# mine\n" + rule(false, kGuidC, "a_part%n ") + rule(true, kGuidC, "a ");
    const struct {
        bool set;
        const char* earlier;  // backup, or null for none
    } cases[] = {{true, "earlier backup\n"}, {false, "earlier backup\n"}, {true, nullptr}};
    for (const auto& c : cases) {
        std::string new_rules;
        for (unsigned step = 0;; ++step) {  // 0: nothing fails
            SCOPED_TRACE(testing::Message() << c.set << " " << step);
            UdevRig rig;
            rig.host.write_file(VXAPI_UDEV_RULES_FILE, old_rules);
            if (c.earlier != nullptr) rig.host.write_file(VXAPI_UDEV_BACKUP_FILE, c.earlier);
            sim::StepFaults faults(rig.host, step, sim::StepFaults::Act::Fail);
            const SD_UINT32 status = c.set ? rig.sd_set(0, "b") : rig.sd_del(0, "a");
            const bool reached = step == 0 || faults.steps() >= step;
            const std::string backup = rig.host.exists(VXAPI_UDEV_BACKUP_FILE) ? rig.host.read_file(VXAPI_UDEV_BACKUP_FILE)
                                                                                 : "(none)";
            EXPECT_TRUE(backup == old_rules || backup == (c.earlier != nullptr ? c.earlier : "(none)")) << backup;
            if (step == 0) {
                ASSERT_EQ(status, SDERR_NO_ERROR);
                EXPECT_EQ(backup, old_rules);
                new_rules = rig.rules();
                EXPECT_NE(new_rules, old_rules);
            }
            EXPECT_EQ(rig.rules(), status == SDERR_NO_ERROR ? new_rules : old_rules);
            if (!reached) break;
        }
    }
}

}  // namespace

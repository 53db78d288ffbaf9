// The size bound of the configuration files, shared by their readers and writers: each public writer over its file,
// with comments before its lines that take the file (or the file it would write) to the bound or one byte short of
// it. The writer either fails with the file byte for byte as it was, or the same call and the get work on the file
// it wrote.
#include <functional>
#include <optional>

#include "api_rig.h"
#include "base/vx_conf_file.h"
#include "base/vx_modparam.h"
#include "failover/vx_fo_optstr.h"
#include "failover/vx_fo_store.h"
#include "udev_rig.h"
#include "vxsdm.h"
#include "vxsdm_fo.h"

namespace {

constexpr char kModprobe[] = "/etc/modprobe.conf";
constexpr char kModules[] = "/etc/modules.conf";
constexpr char kZoneParam[] = "/sys/module/vxa2xxx/parameters/vx2xzonewise";
constexpr uint32_t kHandle = 1;  // slot 0's port, for the failover and feature calls
const uint8_t kWwn[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0a, 0x01};

// Lines of comments of `size` bytes in all, at most 4,096 bytes each (no line is long for udev or kmod).
std::string comments(size_t size) {
    constexpr size_t kLine = 4096;
    std::string text;
    text.reserve(size);
    for (size_t left = size; left > 0;) {
        const size_t n = left >= 2 * kLine ? kLine : left;
        text += n == 1 ? std::string("\n") : "#" + std::string(n - 2, 'c') + "\n";
        left -= n;
    }
    return text;
}

// The host of one writer: the udev port, the API's port, or a host with slot 0 as a port of the vxa2xxx driver.
struct Bench {
    std::optional<udevtest::UdevRig> udev;
    std::optional<apitest::ApiRig> api;
    std::optional<sim::SimHost> plain;
    ~Bench() {
        if (plain) std::memset(api_priv_data, 0, sizeof api_priv_data);
    }
    sim::SimHost& host() { return udev ? udev->host : api ? api->host : *plain; }
};

void old_store_port(Bench& b) {
    b.plain.emplace();
    vxapi_priv_db_t& s = api_priv_data[0];
    s = vxapi_priv_db_t{};
    std::snprintf(s.phys_path, sizeof s.phys_path, "/dev/vxa2xxx");
    std::snprintf(s.model, sizeof s.model, "vxa2xxx");
    s.apihandle = kHandle;
    s.features = VX_FEAT_NEW_IOCTL;
}

FO_TARGET_DATA_LIST one_target() {
    FO_TARGET_DATA_LIST list{};
    list.EntryCount = 1;
    list.DataEntry[0] = {{}, 0, 1, {}, FO_TARGET_BY_PORT_NAME, {}, {0, 0, 7}, 0, {0x21}, {0x21, 0, 0, 0, 0, 0, 0, 7}};
    return list;
}

// A public writer: the file it changes and what that file holds after its comments, the host it runs on, the call,
// and the get that shows the change (the call itself again where there is none).
struct Writer {
    const char* what;
    const char* file;
    std::string tail;
    std::function<void(Bench&)> make;
    std::function<uint32_t(Bench&)> change;
    std::function<bool(Bench&)> changed;
};

const Writer kWriters[] = {
    {"udev names", VXAPI_UDEV_RULES_FILE, udevtest::rule(true, udevtest::kGuidC, "a "),
     [](Bench& b) { b.udev.emplace(); }, [](Bench& b) { return b.udev->sd_set(0, "b"); },
     [](Bench& b) { return b.udev->sd_get(0) == "a b "; }},
    {"ZoneWise", VX_MODPARAM_CONF, "options vxa2xxx x=1\n",
     [](Bench& b) {
         b.api.emplace();
         b.api->add_adapter(0x2532);
         b.host().write_file(kZoneParam, "0\n");
     },
     [](Bench&) { return SDEnableZoneWiseFC(1, 0); }, [](Bench&) { return SDEnableZoneWiseFC(1, 0) == 0; }},
    {"bind by port id", kModprobe, "options vxa2xxx x=1\n", old_store_port,
     [](Bench&) { return SDSetHbaFeature(kHandle, HBA_FEATURE_BIND_BY_PID, 1, 0); },
     [](Bench&) {
         HBA_FEATURE_ENTRY e{};
         return SDGetHbaFeature(kHandle, HBA_FEATURE_BIND_BY_PID, &e) == 0 && e.Current == 1;
     }},
    {"old-format store save", kModules, "options vxa2xxx Bind=1\n", old_store_port,
     [](Bench&) {
         const FO_TARGET_DATA_LIST list = one_target();
         return ISDFoSetTargetData(kHandle, 0, kWwn, &list, 1);
     },
     [](Bench&) {
         FO_TARGET_DATA_LIST got{};
         const FO_TARGET_DATA_LIST want = one_target();
         return ISDFoGetTargetData(kHandle, 0, kWwn, &got, 1) == 0 && got.EntryCount == 1 &&
                std::memcmp(&got.DataEntry[0], &want.DataEntry[0], sizeof want.DataEntry[0]) == 0;
     }},
};

// The writer over its file with comments of `size` bytes before its lines: the status, and the file before and
// after. A change it makes must read back through the get, and the same call again must work on it and change
// nothing.
struct Outcome {
    uint32_t status;
    std::string before, after;
};

Outcome run(const Writer& w, size_t size) {
    Bench b;
    w.make(b);
    Outcome r{0, comments(size) + w.tail, {}};
    b.host().write_file(w.file, r.before);
    r.status = w.change(b);
    r.after = b.host().read_file(w.file);
    if (r.status == SDERR_NO_ERROR) {
        EXPECT_TRUE(w.changed(b));
        EXPECT_EQ(w.change(b), SDERR_NO_ERROR);
        EXPECT_TRUE(b.host().read_file(w.file) == r.after) << "the same call changed the file again";
    }
    return r;
}

// The writer's lines as it changes them, without comments before them; the file grows.
std::string changed_lines(const Writer& w) {
    const Outcome small = run(w, 0);
    EXPECT_EQ(small.status, SDERR_NO_ERROR);
    EXPECT_GT(small.after.size(), small.before.size());
    return small.after;
}

// The writer over files that its change takes to one byte short of the bound (written), or to the bound (refused),
// and over a file one byte short of the bound (refused).
void writes_within_the_bound(const Writer& w) {
    const std::string lines = changed_lines(w);
    if (::testing::Test::HasFailure()) return;
    const size_t grows = lines.size() - w.tail.size();
    const size_t room = VX_CONF_FILE_LIMIT - 1 - w.tail.size();  // the comments of a file one byte short
    const struct Row {
        const char* what;
        size_t comments;
        bool written;
    } rows[] = {
        {"written to one byte short of the bound", room - grows, true},
        {"written to the bound", room - grows + 1, false},
        {"one byte short of the bound", room, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Outcome r = run(w, row.comments);
        EXPECT_EQ(r.status, row.written ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
        if (row.written) {
            EXPECT_EQ(r.after.size(), VX_CONF_FILE_LIMIT - 1);
            EXPECT_TRUE(r.after == r.before.substr(0, row.comments) + lines) << "not the comments and the lines";
        } else {
            EXPECT_TRUE(r.after == r.before) << "the file changed";
        }
    }
}

TEST(LargeConfigFiles, UdevSetStaysWithinTheBound) { writes_within_the_bound(kWriters[0]); }
TEST(LargeConfigFiles, ZoneWiseStaysWithinTheBound) { writes_within_the_bound(kWriters[1]); }
TEST(LargeConfigFiles, BindByPortIdStaysWithinTheBound) { writes_within_the_bound(kWriters[2]); }
TEST(LargeConfigFiles, OldFormatStoreSaveStaysWithinTheBound) { writes_within_the_bound(kWriters[3]); }

// The udev rules file and the module parameter file are read at sizes far past a few thousand LUNs' lines.
TEST(ConfigFiles, RulesAndModuleParameterFilesOfTwoMiBAreRead) {
    constexpr size_t kSize = 2u << 20;
    for (const Writer* w : {&kWriters[0], &kWriters[1]}) {
        SCOPED_TRACE(w->what);
        const std::string lines = changed_lines(*w);
        const Outcome r = run(*w, kSize);
        EXPECT_EQ(r.status, SDERR_NO_ERROR);
        EXPECT_TRUE(r.after == r.before.substr(0, kSize) + lines) << "not the comments and the lines";
    }
}

// The failover store's option file has the bound of its option string: a line one short of it is written and read
// again; a longer one is refused whole, not cut to the bound, and the file stays as it was.
TEST(ConfigFiles, StoreOptionFileStaysWithinItsBound) {
    sim::SimHost host;
    const std::string kStore = "/etc/vxa2xxx.conf";
    host.write_file(kStore, "old");
    std::vector<char> read(VX_FO_OPTSTR_SIZE);
    for (const size_t size : {VX_FO_OPTSTR_SIZE, VX_FO_OPTSTR_SIZE + 1, VX_FO_OPTSTR_SIZE - 1}) {
        SCOPED_TRACE(size);
        const std::string line(size, 'a');
        const bool fits = size < VX_FO_OPTSTR_SIZE;
        EXPECT_EQ(vxapi_save_line_to_file("vxa2xxx", line.c_str()), fits ? SDERR_NO_ERROR : SDERR_CONFIG_FILE);
        EXPECT_TRUE(host.read_file(kStore) == (fits ? line : "old"));
    }
    ASSERT_EQ(vxapi_get_opt_from_file("vxa2xxx", read.data()), SDERR_NO_ERROR);
    EXPECT_EQ(std::string(read.data()), std::string(VX_FO_OPTSTR_SIZE - 1, 'a'));
}

}  // namespace

// The new-format store: saves and reads through the option file, the configuration module and the modules file
// of two drivers in the simulated host, their failures, the load-balancing types live and persistent, the
// persistent entry lists and deletes across drivers and formats, and the configuration table inside the module
// (found in any window, read along its chain, OPTIONS replaced in place).
#include <fcntl.h>
#include <sys/wait.h>

#include "core/life/vx_load.h"
#include "failover/vx_fo_channel.h"
#include "failover/vx_fo_lists.h"
#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_optstr.h"
#include "failover/vx_fo_store.h"
#include "failover/vx_fo_stores.h"
#include "sim_adapters.h"
#include "sim_failover.h"
#include "sim_files.h"
#include "sim_modtable.h"
#include "sim_steps.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

constexpr const char* kModels[] = {"vxa2xxx", "vxa2300"};
constexpr char kModules[] = "/etc/modules.conf";
const std::string kOther = "scsi-vxa0-adapter-port=5000000000000b0b\\;scsi-vxa0-tgt-1-di-0-node=2000000000000c0c\\;"
                           "scsi-vxa0-tgt-1-di-0-port=2100000000000c0c\\;scsi-vxa0-tgt-1-di-0-control=10\\;";
const std::string kLbToken = "scsi-lbtype-3-key0-tgtname=2100000000000c0c\\;";
// The modules file after saves to both drivers.
const std::string kModulesAfter = "options vxa2xxx ConfigRequired=1 Bind=1 vx2xuseextopts=1\n"
                                  "options vxa2300 ConfigRequired=1 x=1 vx2xuseextopts=1\n";

std::string module_path(const std::string& m) {
    return "/lib/modules/6.1.0-sim/kernel/drivers/scsi/" + (m == "vxa2xxx" ? m + "/" + m + "_conf.ko" : m + "_conf.o");
}
std::string conf(const std::string& m) { return "/etc/" + m + ".conf"; }
std::string module_value(const char* m = "vxa2xxx") {
    std::vector<char> value(VX_FO_OPTSTR_SIZE);
    return vxapi_get_opt_vals(m, value.data()) == 0 ? value.data() : "<none>";
}
// The store in "/etc/<m>.conf" and in the configuration module.
void set_store(sim::SimHost& host, const std::string& m, const std::string& text) {
    const sim::Bytes b = sim::build_module({16, m + "_conf", {{"OPTIONS", text, 24 + 20000}}, 64});
    host.write_file(module_path(m), std::string(b.begin(), b.end()));
    host.write_file(conf(m), text);
}

// Slot i runs driver kModels[i] (driver instance i, handle i + 1) for the adapter port 5000000000000a0<i>; both
// stores hold adapter 0b0b and a token.
struct StoreRig {
    StoreRig() {
        for (unsigned i = 0; i < 2; ++i) {
            vxapi_priv_db_t& s = api_priv_data[i];
            std::snprintf(s.phys_path, sizeof s.phys_path, "/dev/vxa2xxx");
            std::snprintf(s.model, sizeof s.model, "%s", kModels[i]);
            std::tie(s.apihandle, s.drvr_inst, s.drvr_attr) = std::tuple(i + 1, i, 1);
            s.features = VX_FEAT_NEW_IOCTL | VX_SLOT_NEW_CFG_STORE;
            set_store(host, kModels[i], kOther + kLbToken + "\n");
            host.write_file(conf(kModels[i]) + ".bak", "older");
            wwn[i][15] = static_cast<uint8_t>(i);
        }
        host.write_file(kModules, "options vxa2xxx vx2xopts=scsi-vxa0-adapter-port=1 Bind=1\noptions vxa2300 x=1\n");
    }
    ~StoreRig() { std::memset(api_priv_data, 0, sizeof api_priv_data); }
    // Every file and link a save may touch, with its content, mode and owners.
    std::vector<std::string> files() {
        std::vector<std::string> out = sim::file_tree(host, "/etc");
        for (const char* m : kModels) out.push_back(module_value(m));
        return out;
    }
    sim::SimHost host;
    uint8_t wwn[2][16] = {{0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0a}, {0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0a}};
};

std::unique_ptr<FO_TARGET_DATA_LIST> target_list(std::initializer_list<uint8_t> ports) {
    auto list = std::make_unique<FO_TARGET_DATA_LIST>();
    for (const uint8_t p : ports) {
        FO_TARGET_DATA_ENTRY& e = list->DataEntry[list->EntryCount];
        e = {{}, 0, static_cast<uint8_t>(++list->EntryCount), {}, FO_TARGET_BY_PORT_NAME, {}, {0, 0, p}, 0, {0x21},
             {0x21, 0, 0, 0, 0, 0, 0, p}};
    }
    return list;
}

TEST(Store, SaveThenReadInBothModesKeepsEverythingElse) {
    StoreRig rig;
    const uint8_t other_wwn[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0x0b, 0x0b};
    const auto read_other = [&] {
        auto list = std::make_unique<FO_TARGET_DATA_LIST>();
        EXPECT_EQ(FoGetDataFromPersistentStorage(0, nullptr, list.get(), other_wwn), 0u);
        return sim::bytes_of(list.get(), sizeof *list);
    };
    const sim::Bytes other_before = read_other();
    const std::string second_driver = rig.host.read_file(conf("vxa2300")) + rig.host.read_file(module_path("vxa2300"));
    const auto targets = target_list({1, 2}), back = target_list({});
    for (int i = 0; i < 2; ++i) ASSERT_EQ(FoSetDataToPersistentStorage(0, rig.wwn[0], nullptr, targets.get()), 0u);
    ASSERT_EQ(FoGetDataFromPersistentStorage(0, nullptr, back.get(), rig.wwn[0]), 0u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(std::memcmp(&back->DataEntry[k].PortId, &targets->DataEntry[k].PortId, 20), 0);
    EXPECT_EQ(rig.host.read_file(conf("vxa2300")) + rig.host.read_file(module_path("vxa2300")), second_driver);
    auto luns = std::make_unique<FO_LUN_DATA_LIST>(), luns_back = std::make_unique<FO_LUN_DATA_LIST>();
    luns->DataEntry[0] = {{0x21}, {0x21, 0, 0, 0, 0, 0, 0, 9}, 0, 0, 4, 0, 0, 0, {}};
    std::memset(luns->DataEntry[0].Data, FO_LUN_ENABLED, 300);
    ASSERT_EQ(FoSetDataToPersistentStorage(1, rig.wwn[1], luns.get(), nullptr), 0u);
    ASSERT_EQ(FoGetDataFromPersistentStorage(1, luns_back.get(), nullptr, rig.wwn[1]), 0u);
    EXPECT_EQ(std::memcmp(luns_back->DataEntry[0].Data, luns->DataEntry[0].Data, 4096) + luns_back->DataEntry[0].Dev_No, 4);
    // The other adapter, the load-balancing token and the other parameters stay; file and module agree; each
    // adapter is written once.
    EXPECT_EQ(read_other(), other_before);
    for (const char* m : kModels) {
        const std::string file = rig.host.read_file(conf(m));
        EXPECT_EQ(module_value(m), file);
        EXPECT_NE(file.find(kLbToken), std::string::npos) << file;
        EXPECT_EQ(file.find("adapter-port=5000000000000a0"), file.rfind("adapter-port=5000000000000a0")) << file;
    }
    EXPECT_EQ(rig.host.read_file(kModules), kModulesAfter);
    EXPECT_EQ(rig.host.commands().back(), "depmod -a");
}

// A save whose module cannot be written, or whose writes all fail.
struct SaveFaults : sim::ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    int open(const char* path, int flags, mode_t mode) override {
        const bool module_write = std::string(path).ends_with(".ko") && (flags & O_ACCMODE) != O_RDONLY;
        return no_module_write && module_write ? (errno = EIO, -1) : ForwardingPlatform::open(path, flags, mode);
    }
    ssize_t write(int fd, const void* p, size_t n) override {
        return no_writes ? (errno = ENOSPC, -1) : ForwardingPlatform::write(fd, p, n);
    }
    bool no_module_write = false, no_writes = false;
};

// A step that fails leaves the option file, its backup, both modules and the modules file as they were, and no
// temporary file behind.
TEST(Store, FailureAtEachStepChangesNothing) {
    const struct Case {
        const char* step;
        const char* failing_rename;
        bool module, writes;
        std::string store;
        bool no_option_file = false;  // the store only in the module
    } cases[] = {
        {"temporary write", nullptr, false, true, ""},
        {"install", "/etc/vxa2xxx.conf", false, false, ""},
        {"module copy", nullptr, true, false, ""},
        {"backup", "/etc/vxa2xxx.conf.bak", false, false, ""},
        {"options line", kModules, false, false, ""},
        {"options line backup", "/etc/modules.conf.qbak", false, false, ""},
        {"store parses in part", nullptr, false, false, "scsi-vxa0-adapter-port\\;"},
        {"malformed lb token", nullptr, false, false, kOther + "scsi-lbtype-1-key0\\;"},
        {"store too large", nullptr, false, false, std::string(VX_FO_OPTSTR_SIZE, 'x')},
        // The install made no backup to restore the option file from: it goes again.
        {"module copy, no option file before", nullptr, true, false, "", true},
        {"options line, no option file before", kModules, false, false, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        StoreRig rig;
        if (!c.store.empty()) set_store(rig.host, "vxa2xxx", c.store);  // else the rig's
        if (c.store.size() == VX_FO_OPTSTR_SIZE) vx::sys().unlink(module_path("vxa2xxx").c_str());
        if (c.no_option_file) vx::sys().unlink(conf("vxa2xxx").c_str());
        const std::vector<std::string> before = rig.files();
        if (c.failing_rename != nullptr) rig.host.fail_rename(c.failing_rename, EIO, 1);
        SaveFaults faults(rig.host);
        std::tie(faults.no_module_write, faults.no_writes) = std::tie(c.module, c.writes);
        EXPECT_EQ(FoSetDataToPersistentStorage(0, rig.wwn[0], nullptr, target_list({3}).get()), SDERR_CONFIG_FILE);
        faults.no_writes = false;
        EXPECT_EQ(rig.files(), before);
    }
}

// A modules file that kmod does not read as it is written fails the save before anything is written, so that no
// other failure can leave it halfway: with any one step of the call failing, every file stays as it was.
TEST(Store, ModulesFileKmodCannotReadStopsTheSaveBeforeItWrites) {
    const std::string unreadable[] = {
        "options vxa2xxx vx2xopts=scsi-vxa0-adapter-port=1 Bind=1 \\",  // the file ends in an escaping backslash
        std::string("options vxa2xxx vx2xopts\0=x Bind=1\n", 35),       // a NUL byte in the driver's line
        "options vxa2xxx vx2xopts=\"scsi-vxa0 Bind=1\n",                 // an open quote
    };
    for (const std::string& modules : unreadable) {
        for (unsigned step = 0;; ++step) {
            SCOPED_TRACE(modules + " step " + std::to_string(step));
            StoreRig rig;
            rig.host.write_file(kModules, modules);
            const std::vector<std::string> before = rig.files();
            sim::StepFaults steps(rig.host, step, sim::StepFaults::Act::Fail);
            EXPECT_NE(FoSetDataToPersistentStorage(0, rig.wwn[0], nullptr, target_list({3}).get()), 0u);
            EXPECT_EQ(rig.files(), before);
            if (steps.steps() < step) break;
        }
    }
}

// An option file that is a link, or a link that leads nowhere, stays as it was when a later step of the save
// fails: the link stays, and a file the save made behind it goes.
TEST(Store, FailedSaveLeavesTheOptionFileLinksAsTheyWere) {
    const struct File {
        const char* what;
        const char* link_to;  // null: a regular file
        bool behind;          // the file the link leads to is there
    } files[] = {
        {"regular file", nullptr, true},
        {"link", "fo/vxa2xxx.conf", true},
        {"dangling link", "fo/vxa2xxx.conf", false},
        {"dangling absolute link", "/etc/fo/gone.conf", false},
    };
    const struct Step {
        const char* what;
        bool module;
        const char* failing_rename;
    } steps[] = {{"module copy", true, nullptr}, {"options line", false, kModules}};
    for (const File& f : files) {
        for (const Step& s : steps) {
            SCOPED_TRACE(std::string(f.what) + ", " + s.what);
            StoreRig rig;
            rig.host.make_dir("/etc/fo");
            if (f.link_to != nullptr) {
                if (f.behind) rig.host.write_file("/etc/fo/vxa2xxx.conf", rig.host.read_file(conf("vxa2xxx")), 0640);
                rig.host.make_symlink(f.link_to, conf("vxa2xxx"));
            }
            const std::vector<std::string> before = rig.files();
            if (s.failing_rename != nullptr) rig.host.fail_rename(s.failing_rename, EIO, 1);
            SaveFaults faults(rig.host);
            faults.no_module_write = s.module;
            EXPECT_EQ(FoSetDataToPersistentStorage(0, rig.wwn[0], nullptr, target_list({3}).get()), SDERR_CONFIG_FILE);
            EXPECT_EQ(rig.files(), before);
        }
    }
}

// Two processes saving at once to the stores of two drivers: both complete, and the modules file they share
// holds both updates.
TEST(Store, TwoProcessesSaveAtOnce) {
    StoreRig rig;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const uint8_t mine = child == 0 ? 1 : 0;
    const uint32_t status = FoSetDataToPersistentStorage(mine, rig.wwn[mine], nullptr, target_list({mine}).get());
    if (child == 0) _exit(status == 0 ? 0 : 1);
    int wait_status = -1;
    waitpid(child, &wait_status, 0);
    EXPECT_TRUE(status == 0 && wait_status == 0);
    for (unsigned i = 0; i < 2; ++i) {
        const std::string file = rig.host.read_file(conf(kModels[i]));
        EXPECT_NE(file.find("adapter-port=5000000000000a0" + std::to_string(i)), std::string::npos) << file;
        EXPECT_EQ(file.find("adapter-port=5000000000000a0" + std::to_string(1 - i)), std::string::npos) << file;
    }
    EXPECT_EQ(rig.host.read_file(kModules), kModulesAfter);
}

// Slot 0's driver (instance 0, of the new store) is asked which store it keeps, and may fail the question.
struct AskingRig : StoreRig {
    AskingRig() {
        driver.attach(host);
        port = &driver.add_port(driver.add_adapter());
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
        std::tie(api_priv_data[0].oshandle, api_priv_data[0].features) = std::tuple(fd, VX_FEAT_NEW_IOCTL);
    }
    ~AskingRig() { vx::sys().close(fd); }
    void fail_question(int err, uint32_t status) {
        std::tie(port->specifics_errno, port->specifics_status) = std::tie(err, status);
    }
    sim::SimDriver driver;
    sim::SimPort* port = nullptr;
    int fd = -1;
};

// A driver busy or interrupted when asked which store it keeps: the persistent set and get fail with its status
// and touch no store. One that does not know the question keeps the old store, as ever. Either way, asked cleanly
// afterwards, it keeps the new store and what a save writes a read gives back.
TEST(Store, DriverThatCannotSayWhichStoreItKeeps) {
    const struct Case { int err; uint32_t status, result; } cases[] = {  // result 0: the old store
        {EBUSY, 0, EBUSY}, {EAGAIN, 0, EAGAIN}, {EINTR, 0, EINTR}, {EIO, 0, EIO}, {ENOMEM, 0, ENOMEM},
        {0, EXT_STATUS_BUSY, SDERR_DEVICE_BUSY}, {EINVAL, 0, 0}, {ENOTTY, 0, 0}, {EOPNOTSUPP, 0, 0},
        {0, EXT_STATUS_INVALID_PARAM, 0}, {0, EXT_STATUS_UNSUPPORTED_SUBCODE, 0}, {0, EXT_STATUS_NO_DRIVER_SUPPORT, 0},
    };
    auto luns = std::make_unique<FO_LUN_DATA_LIST>();
    luns->EntryCount = 1;
    luns->DataEntry[0] = {{0x20}, {0x21, 0, 0, 0, 0, 0, 0, 9}, 0, 0, 4, 0, 0, 0, {}};
    std::memset(luns->DataEntry[0].Data, FO_LUN_ENABLED, 300);
    const sim::Bytes entry = sim::bytes_of(&luns->DataEntry[0], sizeof luns->DataEntry[0]);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "errno " << c.err << ", status " << c.status);
        AskingRig rig;
        rig.fail_question(c.err, c.status);
        const std::string option_file = rig.host.read_file(conf("vxa2xxx")), modules = rig.host.read_file(kModules);
        const std::vector<std::string> before = rig.files();
        auto back = std::make_unique<FO_LUN_DATA_LIST>();
        std::memset(back.get(), 0xA5, sizeof *back);
        EXPECT_EQ(ISDFoSetLunData(1, 0, rig.wwn[0], luns.get(), 1), c.result);
        EXPECT_EQ(ISDFoGetLunData(1, 0, rig.wwn[0], back.get(), 1), c.result);
        if (c.result != 0) {
            EXPECT_EQ(rig.files(), before);
            EXPECT_TRUE(sim::all_bytes(sim::bytes_of(back.get(), sizeof *back), 0, 0xA5));
        } else {
            EXPECT_EQ(rig.host.read_file(conf("vxa2xxx")) + module_value(), option_file + option_file);
            const std::string token = "scsi-vxa0-tgt-4-di-0-port=2100000000000009";
            EXPECT_NE(rig.host.read_file(kModules).find(token), std::string::npos);
            EXPECT_EQ(sim::bytes_of(back->DataEntry[0].PortName, 8), sim::bytes_of(luns->DataEntry[0].PortName, 8));
        }
        rig.fail_question(0, 0);
        ASSERT_EQ(ISDFoSetLunData(1, 0, rig.wwn[0], luns.get(), 1), 0u);
        EXPECT_EQ(rig.host.read_file(kModules).find("vx2xopts=scsi-vxa0-tgt"), std::string::npos);
        ASSERT_EQ(ISDFoGetLunData(1, 0, rig.wwn[0], back.get(), 1), 0u);
        EXPECT_EQ(sim::bytes_of(&back->DataEntry[0], entry.size()), entry);
        EXPECT_EQ(module_value(), rig.host.read_file(conf("vxa2xxx")));
    }
}

// The other persistent functions take the same answer from a busy driver: its status, and no store touched.
TEST(Store, BusyDriverStopsTheOtherPersistentFunctions) {
    AskingRig rig;
    rig.fail_question(EBUSY, 0);
    const std::vector<std::string> before = rig.files();
    FO_LB_POLICY_LIST list{0, 1, {}, {{{0xc0}, 3, {}}}};
    uint8_t names[256];
    std::memset(names, 0x5A, sizeof names);
    const uint8_t held_by_both[8] = {0x50, 0, 0, 0, 0, 0, 0x0b, 0x0b};  // the vxa2300 store is asked first
    EXPECT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), static_cast<SD_UINT32>(EBUSY));
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), static_cast<SD_UINT32>(EBUSY));
    EXPECT_EQ(ISDFoGetPersistentDeviceEntryList(names), static_cast<SD_UINT32>(EBUSY));
    EXPECT_EQ(ISDFoDeletePersistentDeviceEntry(held_by_both), static_cast<SD_UINT32>(EBUSY));
    EXPECT_EQ(rig.files(), before);
    EXPECT_EQ(rig.host.stdout_text(), "");
    EXPECT_TRUE(sim::all_bytes(sim::bytes_of(names, sizeof names), 0, 0x5A));
}

// Opens of a node fail with an errno once `allowed` more of them went through: the discovery of a load opens the
// port's node too, before the open of the port itself.
struct NodeOpenFaults : sim::ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    int open(const char* p, int f, mode_t m) override {
        if (node == p && err != 0 && opened++ >= allowed) return errno = err, -1;
        return ForwardingPlatform::open(p, f, m);
    }
    std::string node;
    int err = 0, allowed = 0, opened = 0;
};

// A port of the module whose node cannot be opened to ask its driver which store it keeps. Busy, interrupted,
// refused or out of descriptors, the driver has not answered: the persistent list and delete fail with the open's
// errno and touch no store, where before they took the old store. A node that is gone is no port to ask, as before:
// the old store. Once the node opens again, the delete edits the new store and leaves the old line alone.
TEST(Store, PortThatCannotBeOpenedToAsk) {
    const struct Case { int err; bool busy; } cases[] = {
        {EBUSY, true},   {EAGAIN, true}, {EINTR, true}, {EIO, true},    {ENOMEM, true},
        {EACCES, true},  {EPERM, true},  {EMFILE, true}, {ENFILE, true}, {EROFS, true},
        {ETXTBSY, true}, {ENOENT, false}, {ENODEV, false}, {ENXIO, false},
    };
    const std::string old_line = "options vxa2xxx vx2xopts=" + kOther + " Bind=1\n";
    const uint8_t adapter_0b0b[8] = {0x50, 0, 0, 0, 0, 0, 0x0b, 0x0b};
    uint8_t names[256];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        sim::SimHost host;
        sim::SimDriver driver;
        sim::FabricSetup setup;
        setup.adapters = {sim::adapter(0x2432, 2)};
        sim::install_adapters(host, driver, setup);
        NodeOpenFaults faults(host);
        // The tool opens both ports and closes them again.
        int handles[2] = {};
        for (SD_UINT32 i : {0u, 1u}) ASSERT_EQ(SDOpenDevice(i, &handles[i]), 0u);
        faults.node = api_priv_data[0].phys_path;
        for (const int h : handles) ASSERT_EQ(SDCloseDevice(h), 0u);
        set_store(host, "vxa2xxx", kOther + "\n");
        host.write_file(kModules, old_line);
        const auto files = [&] {
            std::vector<std::string> out = sim::file_tree(host, "/etc");
            out.push_back(module_value());
            return out;
        };
        const std::vector<std::string> before = files();
        // How many opens of the node a list makes before that of the port.
        faults.err = EPERM, faults.allowed = 1000;
        ASSERT_EQ(ISDFoGetPersistentDeviceEntryList(names), 0u);
        std::tie(faults.err, faults.allowed, faults.opened) = std::tuple(c.err, faults.opened - 1, 0);

        const SD_UINT32 listed = ISDFoGetPersistentDeviceEntryList(names);
        const SD_UINT32 deleted = ISDFoDeletePersistentDeviceEntry(adapter_0b0b);
        faults.err = 0;
        if (!c.busy) {
            EXPECT_EQ(listed, 0u);
            EXPECT_EQ(sim::bytes_of(names, 8), sim::bytes_of(adapter_0b0b, 8));
            EXPECT_EQ(deleted, 0u);
            EXPECT_EQ(host.read_file(kModules), "options vxa2xxx vx2xopts= Bind=1\n");
            EXPECT_EQ(host.read_file(conf("vxa2xxx")), kOther + "\n");
        } else {
            EXPECT_EQ(listed, static_cast<SD_UINT32>(c.err));
            EXPECT_EQ(deleted, static_cast<SD_UINT32>(c.err));
            EXPECT_EQ(files(), before);
            ASSERT_EQ(ISDFoDeletePersistentDeviceEntry(adapter_0b0b), 0u);
            EXPECT_EQ(host.read_file(kModules), old_line);
            EXPECT_EQ(host.read_file(conf("vxa2xxx")).find("5000000000000b0b"), std::string::npos);
            EXPECT_EQ(module_value(), host.read_file(conf("vxa2xxx")));
        }
        // An open that failed after its load leaves the library loaded.
        if (api_priv_database != nullptr) (void)vxapi_unload_lib();  // always 0
        std::memset(api_priv_data, 0, sizeof api_priv_data);
    }
}

// Which store a save starts from: the module, else the option file unless the modules line still holds an
// old-format store; only a missing file is an empty store.
TEST(Store, StoreTextForASave) {
    StoreRig rig;
    vx::sys().unlink(module_path("vxa2xxx").c_str());
    const struct Case { const char* modules; const char* conf; VxFoStoreText result; } cases[] = {  // null: no file
        {nullptr, "scsi-vxa0", VxFoStoreText::Read},
        {"options vxa2xxx vx2xopts=x\n", "scsi-vxa0", VxFoStoreText::Empty},
        {"#options vxa2xxx vx2xopts=x\noptions vxa2xxx\n", "scsi-vxa0", VxFoStoreText::Read},
        {nullptr, nullptr, VxFoStoreText::Empty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.modules == nullptr ? "none" : c.modules);
        c.modules != nullptr ? rig.host.write_file(kModules, c.modules) : void(vx::sys().unlink(kModules));
        c.conf != nullptr ? rig.host.write_file(conf("vxa2xxx"), c.conf) : void(vx::sys().unlink(conf("vxa2xxx").c_str()));
        std::string text;
        EXPECT_EQ(vx_fo_get_store_text("vxa2xxx", true, &text), c.result);
        EXPECT_EQ(text, c.result == VxFoStoreText::Read ? c.conf : "");
    }
    EXPECT_EQ(FoGetDataFromPersistentStorage(0, nullptr, target_list({}).get(), rig.wwn[0]), SDERR_CONFIG_FILE);
    for (const auto& [instance, model] : {std::pair{32u, "vxa2xxx"}, {0u, ""}, {0u, "vx a"}}) {
        std::snprintf(api_priv_data[0].model, sizeof api_priv_data[0].model, "%s", model);
        EXPECT_EQ(FoSetDataToPersistentStorage(instance, rig.wwn[0], nullptr, target_list({1}).get()), SDERR_INVALID_PARAMETER);
    }
    EXPECT_EQ(FoSetDataToPersistentStorage(1, rig.wwn[0], nullptr, nullptr), SDERR_INVALID_PARAMETER);
    EXPECT_TRUE(rig.host.commands().empty());
}

// The driver's modules line told to take its options from the module.
TEST(Store, ModulesLineUpdate) {
    sim::SimHost host;
    const struct Case { const char* file; const char* before; const char* after; bool qbak; } cases[] = {
        {kModules, "options vxa2xxx vx2xopts=a\\;b\n", "options vxa2xxx ConfigRequired=1 vx2xuseextopts=1\n", true},
        {kModules, "  options vxa2xxx Bind=1 vx2xopts=a ConfigRequired=0", "  options vxa2xxx Bind=1 ConfigRequired=0 vx2xuseextopts=1\n", true},
        {"/etc/modprobe.conf", "options vxa2xxx vx2xopts=a\n", "options vxa2xxx ConfigRequired=1 vx2xopts=a\n", false},
        {kModules, "# options vxa2xxx x\noptions vxa2xxx_conf y\n",
         "# options vxa2xxx x\noptions vxa2xxx_conf y\n\noptions vxa2xxx ConfigRequired=1 vx2xuseextopts=1\n", false},
        {"/etc/modprobe.conf.local", "options vxa2xxx", "options vxa2xxx", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        sim::SimHost own;
        own.write_file(c.file, c.before);
        EXPECT_EQ(vxapi_update_old_conf_file("vxa2xxx", 0), 0u);
        EXPECT_EQ(own.read_file(c.file), c.after);
        EXPECT_EQ(own.read_file(std::string(c.file) + ".qbak"), c.qbak ? c.before : "");
        uint8_t flag = 9;  // the old store is gone from modules.conf; the other files are not read
        EXPECT_EQ(vxapi_read_old_conf_file("vxa2xxx", &flag) + flag, c.file == kModules ? 0u : SDERR_CONFIG_FILE + 9);
    }
    EXPECT_EQ(vxapi_update_old_conf_file("vxa2xxx", 0), SDERR_CONFIG_FILE);  // no modules file
    EXPECT_STREQ(RemoveLeadingSpaces(std::string(" \t x y").data(), std::vector<char>(8).data()), "x y");
}

// A place of the merge taken over by a new port name starts from the parse defaults, not from the dropped entry's.
TEST(Store, MergeGivesReusedPlacesTheDefaults) {
    VxFoRecords records;
    ASSERT_TRUE(records.allocate(1));
    hbalist_entry& rec = records.get()[0];
    std::memcpy(rec.tgt_list, target_list({1, 2}).get(), sizeof *rec.tgt_list);
    std::tie(rec.lun_list->DataEntry[0].PortName[7], rec.lun_list->DataEntry[0].TargetId) = std::tuple(1, 5);
    update_new_targets_from_user(&rec, target_list({2, 7}).get());
    EXPECT_EQ(rec.tgt_list->DataEntry[0].PortName[7], 7);  // 1 dropped, 7 in its place
    EXPECT_EQ(rec.lun_list->DataEntry[0].Data[4095], FO_LUN_ENABLED | FO_LUN_PREFERRED);
    EXPECT_EQ(rec.tgt_list->DataEntry[1].PortName[7], 2);

    auto user = std::make_unique<FO_LUN_DATA_LIST>();
    user->DataEntry[3].PortName[0] = 9;
    update_new_luns_from_user(&rec, user.get());
    EXPECT_EQ(rec.lun_list->DataEntry[0].PortName[0], 9);
    EXPECT_EQ(rec.lun_list->DataEntry[0].TargetId | rec.tgt_list->DataEntry[0].PortId[2] | rec.tgt_list->DataEntry[0].Control, 0);
    uint32_t index = 9;  // no record has a port name yet
    EXPECT_EQ(vxapi_get_free_conf_inst(records.get(), &index) + index, 0u);
}

// Load-balancing types in the driver: the list goes whole with the slot's driver instance, and comes back even
// when the driver fails.
TEST(LbPolicy, LiveRequests) {
    sim::DriverRig rig;
    for (int i = 0; i < 3; ++i) rig.driver.add_port(rig.driver.add_adapter());
    sim::SimFailover fo;
    fo.install(rig.driver);
    vxapi_priv_db_t& s = api_priv_data[0];
    std::snprintf(s.phys_path, sizeof s.phys_path, "/dev/vxa2xxx");
    std::tie(s.oshandle, s.apihandle, s.drvr_inst, s.features) = std::tuple(rig.fd, 7, 2, VX_FEAT_NEW_IOCTL);
    FO_LB_POLICY_LIST list{0, 1, {}, {{{}, 2, {}}}};
    // The instance argument is not used: any goes, the slot's driver instance is sent.
    for (const uint16_t instance : {0, 32, 0xFFFF}) {
        SCOPED_TRACE(instance);
        fo.received.clear();
        ASSERT_EQ(ISDFoSetLBPolicy(7, instance, &list, 0), 0u);
        ASSERT_EQ(fo.received[212].request.size(), sizeof list);
        const sim::Bytes& sent = fo.received[212].request;  // the slot's driver instance, the entry's type
        EXPECT_EQ(sent[0] | sent[1] << 8 | sent[32 + 8] << 16, 0x20002);
        FO_LB_POLICY_LIST back{};
        ASSERT_EQ(ISDFoGetLBPolicy(7, instance, &back, 0), 0u);
        EXPECT_EQ(fo.received[211].response_capacity, sizeof back);
    }

    fo.replies[211] = sim::SimReply::with_status(29);
    fo.replies[211].response = std::vector<uint8_t>(sizeof list, 0x11);
    EXPECT_EQ(ISDFoGetLBPolicy(7, 0, &list, 0), SDERR_OUT_OF_MEMORY);
    EXPECT_EQ(list.Entry[255].LbType, 0x11111111u);  // copied back whatever the status
    list.Count = 257;
    EXPECT_EQ(ISDFoSetLBPolicy(7, 0, &list, 0), SDERR_INVALID_PARAMETER);
    api_priv_data[0] = vxapi_priv_db_t{};
}

// Load-balancing tokens in the store of the handle slot's driver instance: keys, types, removal, and the other
// tokens of the string kept whole.
TEST(LbPolicy, PersistentTokens) {
    StoreRig rig;
    const std::string p = "scsi-lbtype-12-key0-tgtname=00000000000000aa\\;scsi-vxa0-adapter-port=5000000000000b0b\\;";
    set_store(rig.host, "vxa2xxx",
              "scsi-lbtype-12-key0-tgtname=00000000000000aa;scsi-vxa0-adapter-port=5000000000000b0b\\;\n"
              "scsi-vxa0-x=1\\;\n");
    const std::string b1 = "scsi-lbtype-2-key0-tgtname=00000000000000b1\\;", b2 = "scsi-lbtype-2-key1-tgtname=00000000000000b2\\;";
    const struct Step { uint8_t target; uint32_t type; std::string after; } steps[] = {
        {0xaa, 12, p + "\nscsi-vxa0-x=1\\;\n"},
        {0xb1, 2, p + "scsi-vxa0-x=1\\;" + b1},
        {0xb2, 2, p + "scsi-vxa0-x=1\\;" + b1 + b2},
        {0xb1, 2, p + "scsi-vxa0-x=1\\;" + b1 + b2},
        {0xb1, 1, p + "scsi-vxa0-x=1\\;scsi-lbtype-1-key1-tgtname=00000000000000b1\\;" + b2},
        {0xb2, 0, p + "scsi-vxa0-x=1\\;scsi-lbtype-1-key1-tgtname=00000000000000b1\\;"},
    };
    FO_LB_POLICY_LIST list{0, 1, {}, {}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.after);
        list.Entry[0] = {{0, 0, 0, 0, 0, 0, 0, s.target}, s.type, {}};
        ASSERT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), 0u);
        EXPECT_EQ(rig.host.read_file(conf("vxa2xxx")), s.after);
    }
    EXPECT_EQ(module_value("vxa2xxx"), steps[5].after);
    ASSERT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), 0u);
    EXPECT_EQ(list.Count * 10000 + list.Entry[0].LbType * 100 + list.Entry[1].LbType, 21201u);
    // A full key space gives key 256; a store of more tokens than the list is refused.
    std::string full;
    for (int k = 0; k < 256; ++k) full += "scsi-lbtype-3-key" + std::to_string(k) + "-tgtname=" + std::to_string(k) + "\\;";
    set_store(rig.host, "vxa2xxx", full);
    list = {0, 1, {}, {{{0xc0}, 3, {}}}};
    ASSERT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), 0u);
    EXPECT_EQ(rig.host.stdout_text(), "vxfoapi_get_lbtype_key: Exceeded max lb entries\n");
    EXPECT_TRUE(rig.host.read_file(conf("vxa2xxx")).ends_with("scsi-lbtype-3-key256-tgtname=c000000000000000\\;"));
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), SDERR_CONFIG_FILE);
    // Stores that cannot be read or rewritten whole are left alone: the too large one is the file's alone.
    for (const std::string& bad : {std::string(VX_FO_OPTSTR_SIZE, 'x'), std::string("scsi-lbtype-1-key0\\;"),
                                   std::string("scsi-lbtype-1-tgtname=00\\;")}) {
        set_store(rig.host, "vxa2xxx", bad.size() < VX_FO_OPTSTR_SIZE ? bad : "");
        rig.host.write_file(conf("vxa2xxx"), bad);
        const std::vector<std::string> before = rig.files();
        EXPECT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), SDERR_CONFIG_FILE);
        EXPECT_EQ(rig.files(), before);
    }
    list.Count = 7;
    set_store(rig.host, "vxa2xxx", kOther);
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), 0u);
    EXPECT_EQ(list.Count, 7);  // no token: the count stays as the caller set it
    api_priv_data[0].drvr_inst = 40;
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), SDERR_INVALID_PARAMETER);
    api_priv_data[0].features = 0;
    EXPECT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), SDERR_NOT_SUPPORTED);
    EXPECT_TRUE(rig.host.stdout_text().ends_with("Set LB not supported\n"));
}

std::string hex2(unsigned b) { return {"0123456789abcdef"[(b >> 4) & 15], "0123456789abcdef"[b & 15]}; }

// Adapter a of a store, port name 21..<port>, with one target of node name 20..<node>.
std::string adapter(unsigned a, const std::string& port, const std::string& node, unsigned t = 0) {
    const std::string p = "scsi-vxa" + std::to_string(a) + "-tgt-" + std::to_string(t) + "-di-0-";
    return "scsi-vxa" + std::to_string(a) + "-adapter-port=21000000000000" + port + "\\;" + p + "node=20000000000000" +
           node + "\\;" + p + "port=22000000000000" + node + "\\;" + p + "control=00\\;";
}
const std::string kLb = "scsi-lbtype-2-key0-tgtname=22000000000000bb\\;";

struct Lists : ::testing::Test {
    void SetUp() override {
        port(0, "vxa2xxx", true);
        port(1, "vxa2200", true);
        port(2, "vxa2300", false);
        set_store(host, "vxa2xxx", adapter(0, "01", "aa") + adapter(1, "02", "bb") + kLb + "\n");
        set_store(host, "vxa2200", adapter(0, "03", "aa") + kLb + "\n");
        host.write_file(kModules, "options vxa2300 Bind=1 vx2xopts=" + adapter(0, "04", "aa") + "\n");
    }
    void TearDown() override { std::fill(std::begin(api_priv_data), std::end(api_priv_data), vxapi_priv_db_t{}); }
    static void port(unsigned i, const char* model, bool new_store) {
        std::strcpy(api_priv_data[i].phys_path, "/dev/vxa"), std::strcpy(api_priv_data[i].model, model);
        std::tie(api_priv_data[i].apihandle, api_priv_data[i].oshandle) = std::tuple(i + 1, -1);
        api_priv_data[i].features = new_store ? VX_SLOT_NEW_CFG_STORE : 0;
    }
    // The names of a list, as the last two hex digits of each.
    static std::string names(uint32_t (*list)(SD_PUINT8), uint32_t status = 0) {
        uint8_t out[256];
        EXPECT_EQ(list(static_cast<uint8_t*>(std::memset(out, 0x5A, sizeof out))), status);
        std::string text;
        for (unsigned i = 0; i < 32 && out[8 * i] != 0; ++i) text += hex2(out[8 * i + 7]) + " ";
        EXPECT_TRUE(std::all_of(out + 8 * (text.size() / 3), out + 256, [](uint8_t b) { return b == 0; }));
        return text;
    }
    std::string files() {
        return host.read_file(conf("vxa2200")) + "|" + host.read_file(kModules) + "|" + host.read_file(conf("vxa2xxx"));
    }
    sim::SimHost host;
};

TEST_F(Lists, ListAndDeleteAcrossDriversAndFormats) {
    // A later driver's adapter of the same number hides an earlier one's; a target that several stores hold is
    // listed once.
    EXPECT_EQ(names(ISDFoGetPersistentDeviceEntryList), "01 02 ");
    EXPECT_EQ(names(ISDFoGetPersistentTargetEntryList), "aa bb ");

    const uint8_t port01[8] = {0x21, 0, 0, 0, 0, 0, 0, 0x01};
    const uint8_t node_aa[8] = {0x20, 0, 0, 0, 0, 0, 0, 0xaa};
    const uint8_t unknown[8] = {0x20, 0, 0, 0, 0, 0, 0, 0x77};
    const std::string lb_kept = kLb;  // put back after the formatted adapters
    const struct Step { uint32_t (*del)(const SD_UINT8*); const uint8_t* name; uint32_t status; std::string files; }
    steps[] = {
        // Only the store that held the adapter is saved, its other adapter and its load-balancing token kept; the
        // other drivers' stores stay.
        {ISDFoDeletePersistentDeviceEntry, port01, 0,
         adapter(0, "03", "aa") + kLb + "\n|options vxa2300 Bind=1 vx2xopts=" + adapter(0, "04", "aa") + "\n|" +
             adapter(1, "02", "bb") + lb_kept},
        {ISDFoDeletePersistentTargetEntry, node_aa, 0,
         "scsi-vxa0-adapter-port=2100000000000003\\;" + lb_kept +
             "|options vxa2300 Bind=1 vx2xopts=scsi-vxa0-adapter-port=2100000000000004\\;\n|" +
             adapter(1, "02", "bb") + lb_kept},
        {ISDFoDeletePersistentTargetEntry, unknown, SDERR_INVALID_PARAMETER, ""},
        {ISDFoDeletePersistentDeviceEntry, nullptr, SDERR_INVALID_PARAMETER, ""},
    };
    for (const Step& s : steps) {
        const std::string before = files();
        const size_t commands = host.commands().size();
        EXPECT_EQ(s.del(s.name), s.status);
        EXPECT_EQ(files(), s.status == 0 ? s.files : before);
        EXPECT_TRUE(s.status == 0 ? host.commands().back() == "depmod -a" : host.commands().size() == commands);
    }
}

TEST_F(Lists, TargetListStopsAtThirtyTwo) {
    std::string text;
    for (unsigned t = 0; t < 40; ++t) text += adapter(t % 8, hex2(t), hex2(t), t);
    set_store(host, "vxa2xxx", text);
    EXPECT_EQ(names(ISDFoGetPersistentTargetEntryList, SDERR_BUFFER_TOO_SMALL).size(), 32u * 3);
    host.write_file(kModules, "options vxa2300 vx2xopts=1\n");  // a digit-first old value stops a list
    EXPECT_EQ(names(ISDFoGetPersistentDeviceEntryList, SDERR_CONFIG_FILE).substr(0, 3), "5a ");  // untouched
}

// The persistent load-balancing set reads the store where every reader reads it, the configuration module first:
// a store that the module holds keeps its adapters and targets, whether the option file is missing or holds an
// older store. Only the load-balancing tokens change, and the set saves as a store save does: the option file with
// its backup, then the module. The instance is not used.
TEST(LbPolicy, PersistentSetEditsTheStoreTheModuleHolds) {
    const std::string held = adapter(0, "01", "aa") + adapter(1, "02", "bb") + kLb + "\n";
    const std::string older = adapter(0, "09", "99") + "\n";
    const std::string saved = adapter(0, "01", "aa") + adapter(1, "02", "bb") +
                              "scsi-lbtype-3-key0-tgtname=22000000000000bb\\;"
                              "scsi-lbtype-2-key0-tgtname=22000000000000cc\\;";
    for (const std::string* file : {static_cast<const std::string*>(nullptr), &older}) {
        SCOPED_TRACE(file == nullptr ? "no option file" : "an older option file");
        StoreRig rig;
        api_priv_data[1] = vxapi_priv_db_t{};  // one driver for the lists
        set_store(rig.host, "vxa2xxx", held);
        file != nullptr ? rig.host.write_file(conf("vxa2xxx"), *file) : void(vx::sys().unlink(conf("vxa2xxx").c_str()));
        const FO_LB_POLICY_LIST list{
            0, 2, {}, {{{0x22, 0, 0, 0, 0, 0, 0, 0xbb}, 3, {}}, {{0x22, 0, 0, 0, 0, 0, 0, 0xcc}, 2, {}}}};
        ASSERT_EQ(ISDFoSetLBPolicy(1, 40, &list, 1), 0u);
        EXPECT_EQ(rig.host.read_file(conf("vxa2xxx")), saved);
        EXPECT_EQ(module_value(), saved);
        EXPECT_EQ(rig.host.read_file(conf("vxa2xxx") + ".bak"), file != nullptr ? *file : "");
        EXPECT_EQ(Lists::names(ISDFoGetPersistentDeviceEntryList), "01 02 ");
        EXPECT_EQ(Lists::names(ISDFoGetPersistentTargetEntryList), "aa bb ");
        FO_LB_POLICY_LIST back{};
        ASSERT_EQ(ISDFoGetLBPolicy(1, 0xFFFF, &back, 1), 0u);
        EXPECT_EQ(sim::bytes_of(&back, sizeof back), sim::bytes_of(&list, sizeof list));
    }
}

// A numbered LUN group whose LUNs pass the last one changes no LUN, whatever its number is modulo 65,536 or 2^32;
// the group at 256 clears the preferred bits and disables its LUNs.
TEST(Store, LunGroupPastTheLastLunChangesNoLun) {
    StoreRig rig;
    const std::string t = "scsi-vxa0-tgt-1-di-0-";
    const struct Row { const char* n; bool applied; } rows[] = {
        {"256", true}, {"65792", false}, {"4352", false}, {"4294967552", false}, {"3841", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.n);
        set_store(rig.host, "vxa2xxx",
                  "scsi-vxa0-adapter-port=5000000000000a00\\;" + t + "node=2000000000000001\\;" + t +
                      "port=2100000000000001\\;" + t + "lun_preferred-" + r.n + "=" + std::string(64, '0') + "\\;" + t +
                      "lun_disabled-" + r.n + "=" + std::string(64, 'f') + "\\;" + t + "control=00\\;\n");
        auto list = std::make_unique<FO_LUN_DATA_LIST>();
        ASSERT_EQ(ISDFoGetLunData(1, 0, rig.wwn[0], list.get(), 1), 0u);
        sim::Bytes expected(VX_FO_LUNS, FO_LUN_ENABLED | FO_LUN_PREFERRED);
        if (r.applied) std::fill(expected.begin() + 256, expected.begin() + 512, 0);
        EXPECT_EQ(sim::bytes_of(list->DataEntry[0].Data, VX_FO_LUNS), expected);
    }
}

// A store whose adapter 0 parses only in part (target 1, a token that fails, target 3), alone or followed by a
// clean adapter 1: the save and the deletes refuse with every file as it was. The lists list what parsed, the same
// way in both: adapter 0 and target 1, not target 3. The load-balancing set parses no adapter: it changes its
// tokens alone.
TEST(Store, StoreThatParsesOnlyInPartIsNeverWrittenBack) {
    const auto target = [](unsigned t, const std::string& node) {
        const std::string p = "scsi-vxa0-tgt-" + std::to_string(t) + "-di-0-";
        return p + "node=20000000000000" + node + "\\;" + p + "port=22000000000000" + node + "\\;" + p +
               "control=00\\;";
    };
    const std::string partial = "scsi-vxa0-adapter-port=5000000000000a00\\;" + target(1, "01") +
                                "scsi-vxa0-tgt-2-di-0-node\\;" + target(3, "03");
    const struct Row { std::string store, adapters, targets; } rows[] = {
        {partial, "00 ", "01 "},
        {partial + adapter(1, "02", "bb"), "00 02 ", "01 bb "},
    };
    const uint8_t port[8] = {0x50, 0, 0, 0, 0, 0, 0x0a, 0}, node[8] = {0x20, 0, 0, 0, 0, 0, 0, 0x01};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.store);
        StoreRig rig;
        api_priv_data[1] = vxapi_priv_db_t{};
        set_store(rig.host, "vxa2xxx", r.store + kLb + "\n");
        const std::vector<std::string> before = rig.files();
        EXPECT_EQ(ISDFoSetTargetData(1, 0, rig.wwn[0], target_list({1}).get(), 1), SDERR_CONFIG_FILE);
        EXPECT_EQ(ISDFoDeletePersistentDeviceEntry(port), SDERR_CONFIG_FILE);
        EXPECT_EQ(ISDFoDeletePersistentTargetEntry(node), SDERR_CONFIG_FILE);
        EXPECT_EQ(rig.files(), before);
        EXPECT_TRUE(rig.host.commands().empty());
        EXPECT_EQ(Lists::names(ISDFoGetPersistentDeviceEntryList), r.adapters);
        EXPECT_EQ(Lists::names(ISDFoGetPersistentTargetEntryList), r.targets);

        const FO_LB_POLICY_LIST list{0, 1, {}, {{{0x22, 0, 0, 0, 0, 0, 0, 0xcc}, 2, {}}}};
        ASSERT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), 0u);
        EXPECT_EQ(module_value(), r.store + kLb + "scsi-lbtype-2-key1-tgtname=22000000000000cc\\;");
    }
}

const std::string kKo = module_path("vxa2xxx"), kConf = conf("vxa2xxx");
constexpr size_t kWindow = 3002176;

// A table whose OPTIONS value has `room` bytes, between two other entries.
sim::ModTable table(const std::string& id, int32_t room, const std::string& value = "old-value") {
    sim::ModTable t;
    t.padding = 100;
    t.id = id;
    t.entries = {{"OTHER", "x", 40}, {"", "unnamed", 40}, {"OPTIONS", value, 24 + room}, {"LAST", "y", 32}};
    return t;
}

void install(sim::SimHost& host, const sim::ModTable& t) {
    const sim::Bytes b = sim::build_module(t);
    host.write_file(kKo, std::string(b.begin(), b.end()));
}

TEST(ModuleTable, GetAndSetOptions) {
    const std::string fits(19, 'f'), too_large(300, 's'), beyond(VX_FO_OPTSTR_SIZE, 'v');
    const struct Case {
        const char* name;
        sim::ModTable module;
        const char* conf;  // null: no "/etc/vxa2xxx.conf"
        int set_status;
        std::string value_after, message;  // what the get answers after the set, and standard error
    } cases[] = {
        {"fits exactly", table("vxa2xxx_conf", 20), fits.c_str(), 0, fits, ""},
        {"one byte more", table("vxa2xxx_conf", 20), "ggggggggggggggggggggg", 1, "old-value",
         "vxa2xxx_conf.ko: Insufficient room in table for specified config values\n"},
        {"empty value", table("vxa2xxx_conf", 20, ""), "", 0, "", ""},
        {"shorter value", table("vxa2xxx_conf", 24, "abcdefghijklmnop"), "xy", 0, "xy", ""},
        {"no id entry", table("", 20), "new", 1, "old-value",
         "vxa2xxx_conf.ko: Configuration table \"vxa2xxx_conf\" does not exist\n"},
        {"another table's name", table("other_conf", 20), "new", 1, "old-value", "does not exist"},
        {"no source", table("vxa2xxx_conf", 20), nullptr, 1, "old-value",
         "vxa_opts: unable to load conf file (/etc/vxa2xxx.conf)!!!\n"},
        {"source beyond the table", table("vxa2xxx_conf", 20), too_large.c_str(), 1, "old-value",
         "vxa_opts: reduce conf file size --  (max=264)!!!\n"},
        {"value beyond the option string", table("vxa2xxx_conf", VX_FO_OPTSTR_SIZE + 8, beyond), nullptr, 1,
         "<none>", "unable to load conf file"},
        {"no OPTIONS", sim::ModTable{0, "vxa2xxx_conf", {{"OTHER", "x", 40}}, 8}, "new", 1, "<none>",
         "configuration name \"OPTIONS\" undefined\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost host;
        install(host, c.module);
        if (c.conf != nullptr) host.write_file(kConf, c.conf);
        const std::string before = host.read_file(kKo);
        EXPECT_EQ(vxapi_set_opt_vals("vxa2xxx", nullptr), c.set_status);
        EXPECT_NE(host.stderr_text().find(c.message), std::string::npos) << host.stderr_text();
        EXPECT_EQ(module_value(), c.value_after);
        // A set writes the new value and its NUL over the old one, and nothing else.
        std::string expected = before;
        const size_t n = c.conf == nullptr ? 0 : std::strlen(c.conf) + 1;
        if (c.set_status == 0) expected.replace(before.find("OPTIONS") + 24, n, c.conf, n);
        EXPECT_EQ(host.read_file(kKo), expected);
    }
    // The module's path needs the kernel release.
    sim::SimHost host;
    install(host, table("vxa2xxx_conf", 20));
    struct NoUname : sim::ForwardingPlatform {
        using ForwardingPlatform::ForwardingPlatform;
        int uname(struct utsname*) override { return -1; }
    } platform(host);
    EXPECT_EQ(module_value(), "<none>");
    EXPECT_EQ(host.stderr_text(), "***Unable to retrieve uname() system information...\n");
}

// Only the first table of a module is taken, in whichever window its header entry begins, also when its head
// straddles the end of a window.
TEST(ModuleTable, FirstTableInAnyWindow) {
    for (const size_t padding : {kWindow - 20, kWindow - 10, kWindow + 5}) {
        SCOPED_TRACE(padding);
        sim::SimHost host;
        sim::ModTable first = table("other_conf", 20, "first");
        first.padding = padding;
        sim::Bytes bytes = sim::build_module(first);
        const sim::Bytes second = sim::build_module(table("vxa2xxx_conf", 20, "second"));
        bytes.insert(bytes.end(), second.begin(), second.end());
        host.write_file(kKo, std::string(bytes.begin(), bytes.end()));
        EXPECT_EQ(module_value(), "first");
    }
}

TEST(ModuleTable, DamagedModulesAreRefused) {
    const sim::Bytes good = sim::build_module(table("vxa2xxx_conf", 20));
    const std::string text(good.begin(), good.end());
    const size_t options_at = text.find("OPTIONS");
    const struct Case {
        size_t at;
        std::string bytes, message, out;
    } cases[] = {
        {options_at + 24 + 9, std::string(11, 'x'), "", ""},  // a value without its end
        {100 + 25, "X", "vxa2xxx_conf.ko: Bad table magic value\n", ""},
        {options_at + 16, "\xF0\xFF\xFF\x7F", "Bad end of table\n", ""},  // a chain past the file
        {text.find("<EnD") + 1, "X", "Bad end of table\n", ""},
        {100, std::string(1, '\0'), "", "No configuration tables are present\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        sim::SimHost host;
        host.write_file(kKo, std::string(text).replace(c.at, c.bytes.size(), c.bytes));
        EXPECT_EQ(module_value(), "<none>");
        EXPECT_NE(host.stderr_text().find(c.message), std::string::npos) << host.stderr_text();
        EXPECT_EQ(host.stdout_text(), c.out);
    }
}

// The in-place write carries on over interrupted and partial writes; a write that fails, or that makes no
// progress, fails the set.
struct WritePlatform : sim::ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    ssize_t write(int fd, const void* buf, size_t n) override {
        if (++calls % 2 == 1 && fail == 0) return errno = EINTR, -1;
        if (fail < 0) return errno = -fail, -1;
        if (fail > 0) return 0;
        return ForwardingPlatform::write(fd, buf, std::min<size_t>(n, 7));
    }
    int calls = 0;
    int fail = 0;  // 0: interrupted and partial writes; <0: -errno; >0: no progress
};

TEST(ModuleTable, InPlaceWrite) {
    const std::pair<int, const char*> cases[] = {
        {0, ""},
        {-EIO, "vxa2xxx_conf.ko: write: Input/output error\n/lib"},
        {1, "vxa2xxx_conf.ko: Short write\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        sim::SimHost host;
        install(host, table("vxa2xxx_conf", 20));
        host.write_file(kConf, "new-value");
        {
            WritePlatform platform(host);
            platform.fail = c.first;
            EXPECT_EQ(vxapi_set_opt_vals("vxa2xxx", nullptr), c.first == 0 ? 0 : 1);
        }
        EXPECT_NE(host.stderr_text().find(c.second), std::string::npos) << host.stderr_text();
        EXPECT_EQ(module_value(), c.first == 0 ? "new-value" : "old-value");
    }
}

}  // namespace

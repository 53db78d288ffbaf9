// The new-format store: saves and reads through the option file, the configuration module and the modules file
// of two drivers in the simulated host, their failures, and the load-balancing types live and persistent.
#include <fcntl.h>
#include <sys/wait.h>

#include "failover/vx_fo_channel.h"
#include "failover/vx_fo_modtable.h"
#include "failover/vx_fo_store.h"
#include "failover/vx_fo_stores.h"
#include "sim_failover.h"
#include "sim_modtable.h"
#include "test_support.h"

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
std::string module_value(const char* m) {
    std::vector<char> value(VX_FO_OPTSTR_SIZE);
    return vxapi_get_opt_vals(m, value.data()) == 0 ? value.data() : "<none>";
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
            set_store(kModels[i], kOther + kLbToken + "\n");
            host.write_file(conf(kModels[i]) + ".bak", "older");
            wwn[i][15] = static_cast<uint8_t>(i);
        }
        host.write_file(kModules, "options vxa2xxx vx2xopts=scsi-vxa0-adapter-port=1 Bind=1\noptions vxa2300 x=1\n");
    }
    ~StoreRig() { std::memset(api_priv_data, 0, sizeof api_priv_data); }
    void set_store(const std::string& m, const std::string& text) {
        const sim::Bytes b = sim::build_module({16, m + "_conf", {{"OPTIONS", text, 24 + 20000}}, 64});
        host.write_file(module_path(m), std::string(b.begin(), b.end()));
        host.write_file(conf(m), text);
    }
    // Every file a save may touch, with its content.
    std::vector<std::string> files() {
        std::vector<std::string> out, names;
        vx::sys().list_dir("/etc", names);
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) out.push_back(n + ":" + host.read_file("/etc/" + n));
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

// A step that fails leaves the option file, its backup, both modules and the modules file as they were, and no
// temporary file behind.
TEST(Store, FailureAtEachStepChangesNothing) {
    struct Faults : sim::ForwardingPlatform {
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
    const struct Case { const char* step; const char* failing_command; bool module, writes; std::string store; } cases[] = {
        {"temporary write", nullptr, false, true, ""},
        {"install", "cp -f --suffix=.bak", false, false, ""},
        {"module copy", nullptr, true, false, ""},
        {"module copy and restore", "mv -f", true, false, ""},
        {"options line", "cp -f --suffix=.qbak", false, false, ""},
        {"store parses in part", nullptr, false, false, "scsi-vxa0-adapter-port\\;"},
        {"malformed lb token", nullptr, false, false, kOther + "scsi-lbtype-1-key0\\;"},
        {"store too large", nullptr, false, false, std::string(VX_FO_OPTSTR_SIZE, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        StoreRig rig;
        if (!c.store.empty()) rig.set_store("vxa2xxx", c.store);  // else the rig's
        if (c.store.size() == VX_FO_OPTSTR_SIZE) vx::sys().unlink(module_path("vxa2xxx").c_str());
        const std::vector<std::string> before = rig.files();
        if (c.failing_command != nullptr) rig.host.fail_commands(c.failing_command);
        Faults faults(rig.host);
        std::tie(faults.no_module_write, faults.no_writes) = std::tie(c.module, c.writes);
        EXPECT_EQ(FoSetDataToPersistentStorage(0, rig.wwn[0], nullptr, target_list({3}).get()), SDERR_CONFIG_FILE);
        faults.no_writes = false;
        EXPECT_EQ(rig.files(), before);
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
    ASSERT_EQ(ISDFoSetLBPolicy(7, 0, &list, 0), 0u);
    ASSERT_EQ(fo.received[212].request.size(), sizeof list);
    const sim::Bytes& sent = fo.received[212].request;  // the slot's driver instance, the entry's type
    EXPECT_EQ(sent[0] | sent[1] << 8 | sent[32 + 8] << 16, 0x20002);

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
    rig.host.write_file(conf("vxa2xxx"), "scsi-lbtype-12-key0-tgtname=00000000000000aa;scsi-vxa0-adapter-port=5000000000000b0b\\;\nscsi-vxa0-x=1\\;\n");
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
    rig.host.write_file(conf("vxa2xxx"), full);
    list = {0, 1, {}, {{{0xc0}, 3, {}}}};
    ASSERT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), 0u);
    EXPECT_EQ(rig.host.stdout_text(), "vxfoapi_get_lbtype_key: Exceeded max lb entries\n");
    EXPECT_TRUE(rig.host.read_file(conf("vxa2xxx")).ends_with("scsi-lbtype-3-key256-tgtname=c000000000000000\\;"));
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), SDERR_CONFIG_FILE);
    // Stores that cannot be read or rewritten whole are left alone.
    for (const std::string& bad : {std::string(VX_FO_OPTSTR_SIZE, 'x'), std::string("scsi-lbtype-1-key0\\;"),
                                   std::string("scsi-lbtype-1-tgtname=00\\;")}) {
        rig.host.write_file(conf("vxa2xxx"), bad);
        EXPECT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), SDERR_CONFIG_FILE);
        EXPECT_EQ(rig.host.read_file(conf("vxa2xxx")), bad);
    }
    list.Count = 7;
    rig.host.write_file(conf("vxa2xxx"), kOther);
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), 0u);
    EXPECT_EQ(list.Count, 7);  // no token: the count stays as the caller set it
    api_priv_data[0].drvr_inst = 40;
    EXPECT_EQ(ISDFoGetLBPolicy(1, 0, &list, 1), SDERR_INVALID_PARAMETER);
    api_priv_data[0].features = 0;
    EXPECT_EQ(ISDFoSetLBPolicy(1, 0, &list, 1), SDERR_NOT_SUPPORTED);
    EXPECT_TRUE(rig.host.stdout_text().ends_with("Set LB not supported\n"));
}

}  // namespace

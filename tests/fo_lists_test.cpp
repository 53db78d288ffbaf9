// The persistent entry lists and deletes over two new-format stores and an old-format store in the simulated host.
#include "failover/vx_fo_lists.h"
#include "sim_modtable.h"
#include "test_support.h"
#include "vxsdm.h"

namespace {

std::string hex2(unsigned b) { return {"0123456789abcdef"[(b >> 4) & 15], "0123456789abcdef"[b & 15]}; }

// Adapter a of a store, port name 21..<port>, with one target of node name 20..<node>.
std::string adapter(unsigned a, const std::string& port, const std::string& node, unsigned t = 0) {
    const std::string p = "scsi-vxa" + std::to_string(a) + "-tgt-" + std::to_string(t) + "-di-0-";
    return "scsi-vxa" + std::to_string(a) + "-adapter-port=21000000000000" + port + "\\;" + p + "node=20000000000000" +
           node + "\\;" + p + "port=22000000000000" + node + "\\;" + p + "control=00\\;";
}
constexpr char kModules[] = "/etc/modules.conf";
const std::string kLb = "scsi-lbtype-2-key0-tgtname=22000000000000bb\\;";

struct Lists : ::testing::Test {
    void SetUp() override {
        port(0, "vxa2xxx", true);
        port(1, "vxa2200", true);
        port(2, "vxa2300", false);
        store("vxa2xxx", adapter(0, "01", "aa") + adapter(1, "02", "bb") + kLb + "\n");
        store("vxa2200", adapter(0, "03", "aa") + kLb + "\n");
        host.write_file(kModules, "options vxa2300 Bind=1 vx2xopts=" + adapter(0, "04", "aa") + "\n");
    }
    void TearDown() override { std::fill(std::begin(api_priv_data), std::end(api_priv_data), vxapi_priv_db_t{}); }
    static void port(unsigned i, const char* model, bool new_store) {
        std::strcpy(api_priv_data[i].phys_path, "/dev/vxa"), std::strcpy(api_priv_data[i].model, model);
        std::tie(api_priv_data[i].apihandle, api_priv_data[i].oshandle) = std::tuple(i + 1, -1);
        api_priv_data[i].features = new_store ? VX_SLOT_NEW_CFG_STORE : 0;
    }
    // The store in "/etc/<model>.conf" and in the configuration module.
    void store(const std::string& model, const std::string& text) {
        const sim::Bytes b = sim::build_module({0, model + "_conf", {{"OPTIONS", text, 24 + 4096}}});
        const std::string dir = "/lib/modules/6.1.0-sim/kernel/drivers/scsi/";
        host.write_file(model == "vxa2xxx" ? dir + "vxa2xxx/vxa2xxx_conf.ko" : dir + model + "_conf.o",
                        std::string(b.begin(), b.end()));
        host.write_file("/etc/" + model + ".conf", text);
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
        return host.read_file("/etc/vxa2200.conf") + "|" + host.read_file(kModules) + "|" + host.read_file("/etc/vxa2xxx.conf");
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
    const struct Step { uint32_t (*del)(const SD_UINT8*); const uint8_t* name; uint32_t status; std::string files; } steps[] = {
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
    store("vxa2xxx", text);
    EXPECT_EQ(names(ISDFoGetPersistentTargetEntryList, SDERR_BUFFER_TOO_SMALL).size(), 32u * 3);
    host.write_file(kModules, "options vxa2300 vx2xopts=1\n");  // a digit-first old value stops a list
    EXPECT_EQ(names(ISDFoGetPersistentDeviceEntryList, SDERR_CONFIG_FILE).substr(0, 3), "5a ");  // untouched
}

}  // namespace

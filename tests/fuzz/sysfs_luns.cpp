// The LUNs of a sysfs port's targets from the SCSI device names: the LUN count
// of targets 0 and 300 of host 5, and the port's target and LUN list.
// Input: the names of the class "scsi_device" entries, one a line.
#include <set>

#include "fuzz_support.h"
#include "sim_sysfs_adapters.h"
#include "transport/vx_sysfs_passthru.h"
#include "transport/vx_sysfs_prim.h"

namespace {

constexpr unsigned kHost = 5;
constexpr uint32_t kLunRoom = 2048;
const std::string kDevices = "/sys/class/scsi_device/";

vxapi_priv_database& port() {
    static vxapi_priv_database rec = [] {
        sim::SysfsAdapter adapter = sim::sysfs_adapter(0x2532, {kHost});
        adapter.functions[0].host.rports = {sim::SysfsRemotePort{}};
        sim::install_sysfs_adapters(fuzz::host(), {.adapters = {adapter}});
        std::strcpy(sysfs_mnt_path, "/sys");
        vxapi_priv_database r{};
        r.host_no = kHost;
        return r;
    }();
    return rec;
}

// The entries named by the input, in place of the last input's.
size_t make_entries(const std::string& text) {
    static std::set<std::string> made;
    for (const std::string& name : made) fuzz::host().remove(kDevices + name);
    made.clear();
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string name = text.substr(at, end - at);
        at = end + 1;
        if (name.empty() || name == "." || name == ".." || name.size() > 64 ||
            name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
            continue;
        }
        if (made.insert(name).second) fuzz::host().make_dir(kDevices + name);
    }
    return made.size();
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    return texts({"5:0:0:0\n5:0:0:3\n5:0:300:7\n5:0:300:16389\n5:0:300:20485",
                  "5:0:0:32769\n5:0:0:-1\n5:0:44:2\n15:0:0:1\n5:0:0:99999999999",
                  "5:0:0:\n 5 : 0 : 0 : 12\n5:0:0:0x10"});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vxapi_priv_database& rec = port();
    const size_t names = make_entries(std::string(reinterpret_cast<const char*>(data), size));
    fuzz::Traced traced;
    for (const uint32_t target : {0u, 300u}) {
        const fuzz::Buffer entry(sizeof(TGT_LUN_DATA_ENTRY) + kLunRoom, 0);
        auto* e = entry.as<TGT_LUN_DATA_ENTRY>();
        vxsysfs_count_luns(kHost, target, e, kLunRoom);
        size_t marked = 0;
        for (uint32_t lun = 0; lun < kLunRoom; ++lun) {
            FUZZ_CHECK(vx_lun_data(e)[lun] == 0 || vx_lun_data(e)[lun] == 0x80);
            marked += vx_lun_data(e)[lun] != 0;
        }
        FUZZ_CHECK(marked <= e->LunCount && e->LunCount <= names);
    }
    for (const uint32_t list_size : {10u, 32u + 2079u, 32u + 2080u}) {
        const fuzz::Buffer list(list_size, 0xEE);
        uint32_t status = 0;
        const int32_t result =
            vxsysfs_get_tgt_lun_data_list(-1, &rec, list.as<TGT_LUN_DATA_LIST>(), list.size(), &status);
        FUZZ_CHECK((result == 0) == (list_size == 32u + 2080u));
    }
    return 0;
}

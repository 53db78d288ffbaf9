// A sysfs port whose LUNs 0:0 (sdc), 0:1 (sdd) and 0:2 (a hostile block name)
// scsi_id can identify, for the persistent LUN names in the udev rules file.
#pragma once

#include <string>

#include "base/vx_env.h"
#include "core/io/vx_udev.h"
#include "sysfs_rig.h"
#include "vxsdm.h"

namespace udevtest {

inline constexpr const char* kGuidC = "600a0b80001";
inline constexpr const char* kGuidD = "3600a0b80001ff";  // holds kGuidC
inline constexpr int kHandle = 7;                        // of the port, for the public functions

struct UdevRig : sysfstest::SysfsRig {
    UdevRig() : SysfsRig(0x2532, [](sim::SysfsAdapter& a) {
        a.functions[0].host.rports = {sim::SysfsRemotePort{
            1, "0x2000000000000011", "0x2100000000000011", "0x010211", "FCP Target", "Online", 0,
            {{0, "sdc", 3, {}}, {1, "sdd", 4, {}}, {2, "sdz`id`", 5, {}}}}};
    }) {
        discover();
        port(5)->apihandle = kHandle;
        is_udevadm = 1;
        host.script_command("/sbin/scsi_id -g -u -s /block/sdc 2> /dev/null", {std::string("x\n") + kGuidC + "\n"});
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

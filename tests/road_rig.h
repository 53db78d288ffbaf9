// Shared by the tests of workers that pick their road by the port's transports: the four kinds of port (driver,
// sysfs with bsg, sysfs with netlink only, sysfs with neither) as records of host 5, and what each road was sent.
#pragma once

#include <string>
#include <tuple>

#include "sim_bsg.h"
#include "sim_driver.h"
#include "sim_netlink.h"
#include "sysfs_rig.h"

namespace roadtest {

enum Kind { kIoctl, kBsg, kNetlink, kNeither };
constexpr uint32_t kFeatures[] = {VX_FEAT_NEW_IOCTL, VX_FEAT_SYSFS | VX_FEAT_BSG, VX_FEAT_SYSFS | VX_FEAT_NL_VENDOR,
                                  VX_FEAT_SYSFS};

// Host 5 on the first PCI function of the fabric, as a port of kind k.
inline vxapi_priv_database record(const sim::SysfsFabric& fabric, Kind k) {
    vxapi_priv_database rec{};
    std::strcpy(reinterpret_cast<char*>(rec.phys_path), fabric.pci_dirs[0].c_str());
    std::tie(rec.host_no, rec.interface_type, rec.features) = std::tuple(5, VX_PORT_PHYSICAL, kFeatures[k]);
    return rec;
}

// Driver requests, bsg vendor commands and netlink commands since the last look (nl_seen: netlink requests
// already looked at).
inline std::string sent(sim::SimDriver& driver, sim::SimBsg& bsg, sim::SimNetlink& nl, size_t& nl_seen) {
    std::string s;
    for (const sim::SimLogEntry& e : driver.log()) s += sysfstest::line("ioctl %X/%u ", e.command, e.sub_code);
    for (const sim::BsgJob& j : bsg.log) s += sysfstest::line("bsg %u ", j.code);
    const auto requests = nl.requests();
    for (size_t i = nl_seen; i < requests.size(); ++i) s += sysfstest::line("nl %u ", requests[i].cmd);
    driver.clear_log(), bsg.log.clear(), nl_seen = requests.size();
    return s;
}

}  // namespace roadtest

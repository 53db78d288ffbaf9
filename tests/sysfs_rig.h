// A simulated host with sysfs-mode adapters and the port records sysfs discovery makes of them; records as one
// line of text, to compare them whole.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "base/vx_sem.h"
#include "core/life/vx_port_attach.h"
#include "shared_file_support.h"
#include "sim_adapters.h"
#include "sim_bsg.h"
#include "sim_passthru.h"
#include "sim_sysfs_adapters.h"
#include "test_support.h"
#include "transport/vx_sysfs.h"
#include "transport/vx_sysfs_prim.h"

namespace sysfstest {

template <class... Args>
std::string line(const char* format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

inline std::string hex(const void* bytes, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += line("%02x", static_cast<const uint8_t*>(bytes)[i]);
    return out;
}

// A VPD of `size` bytes with these read-only keywords.
inline sim::Bytes vpd(std::vector<sim::VpdKeyword> read_only, size_t size) {
    sim::VpdContents v;
    v.read_only = std::move(read_only);
    v.size = size;
    return sim::build_vpd(v).bytes;
}

struct SysfsRig {
    SysfsRig() {
        shtest::reset_shared_state();
        vxdbg_reset();
        vx_debug = VXDBG_ERROR | VXDBG_SYSFS;
    }
    // One adapter of the device (host 5), as `change` leaves it.
    explicit SysfsRig(uint16_t device, const std::function<void(sim::SysfsAdapter&)>& change = {}) : SysfsRig() {
        setup.adapters = {sim::sysfs_adapter(device)};
        if (change) change(setup.adapters[0]);
    }
    ~SysfsRig() {
        if (api_flash_sem_id >= 0) (void)vxapi_sem_del(api_flash_sem_id);  // clean-up
        api_flash_sem_id = -1;
        shtest::reset_shared_state();
        vxdbg_reset();
        sysfs_mnt_path[0] = '\0';
    }
    SysfsRig(const SysfsRig&) = delete;
    SysfsRig& operator=(const SysfsRig&) = delete;

    // Installs the setup and runs the discovery (`before` in between) with the flash lock taken: the port count.
    uint32_t discover(const std::function<void()>& before = {}) {
        fabric = sim::install_sysfs_adapters(host, setup);
        if (before) before();
        uint32_t count = 0;
        EXPECT_EQ(vxsysfs_init(), 0);
        EXPECT_EQ(vxsysfs_supported_driver_exist(&count), 0);
        api_flash_sem_id = vxapi_sem_get(VX_SEM_KEY_FLASH);
        return count;
    }
    static vxapi_priv_database* port(unsigned host_no) {
        for (vxapi_priv_database* p : sim::listed_ports()) {
            if (p->host_no == host_no) return p;
        }
        return nullptr;
    }
    bool traced(const std::string& text) const { return host.stderr_text().find(text) != std::string::npos; }

    sim::SimHost host;
    sim::SysfsSetup setup;
    sim::SysfsFabric fabric;
};

// A port of one adapter (host 5) with bsg (or without: its "ct" and "els" attributes) and a remote port behind it,
// discovered and open as handle 1; the fabric answers its CT and ELS jobs and requests.
struct BsgPortRig {
    explicit BsgPortRig(bool with_bsg = true) {
        rig.setup.with_bsg = with_bsg;
        rig.discover();
        bsg.attach(rig.host, rig.fabric);
        sim::serve_fabric(san, bsg, rig.host, rig.fabric.host_dirs[5]);
        port = SysfsRig::port(5);
        port->apihandle = 1;
    }
    sim::SimBsg bsg;  // the bsg device and the fabric before the host
    sim::SanFabric san;
    SysfsRig rig{0x2532, [](sim::SysfsAdapter& a) { a.functions[0].host.rports.emplace_back(); }};
    vxapi_priv_database* port = nullptr;
};

}  // namespace sysfstest

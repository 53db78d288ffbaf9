// A simulated host for the management API's tests: the driver with its query, flash, NVRAM, VPD and activation
// handlers, adapters with their ports, and the library's records of those ports as an open leaves them (in the port
// list, the driver's node open, handles 1, 2, ... in the order the ports were added).
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <tuple>
#include <vector>

#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_records.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "core/flash/vx_flash_layout.h"
#include "platform/vx_platform.h"
#include "shared_file_support.h"
#include "sim_driver.h"
#include "sim_flash.h"
#include "sim_host.h"
#include "sim_nvram_vpd.h"
#include "sim_queries.h"
#include "sim_regions.h"
#include "test_support.h"

namespace apitest {

// The byte callers' records are filled with, to see what a call writes.
constexpr uint8_t kFill = 0xA5;

template <class T>
T filled() {
    T rec;
    std::memset(&rec, kFill, sizeof rec);
    return rec;
}

inline bool touched(const void* rec, size_t size) {
    const auto* b = static_cast<const uint8_t*>(rec);
    return std::any_of(b, b + size, [](uint8_t x) { return x != kFill; });
}

struct RigPort {
    int handle = 0;
    vxapi_priv_database* rec = nullptr;
    sim::SimPort* sim = nullptr;  // null for a sysfs port
};

class ApiRig {
public:
    ApiRig() {
        pGlobalOptRomLayout = nullptr;
        driver.attach(host);
        sim::install_flash(driver);
        sim::install_nvram_vpd(driver);
        acts.install(driver);
    }
    ~ApiRig() {
        for (int fd : fds_) vx::sys().close(fd);
        vxapi_free_api_priv_data_mem();
        vxapi_free_api_phy_info_mem();
        pGlobalOptRomLayout = nullptr;
        vx_debug = 0;
    }
    ApiRig(const ApiRig&) = delete;
    ApiRig& operator=(const ApiRig&) = delete;

    // A new adapter of the chip with its flash (and, on a flash-layout chip, the function's layout read from it) and
    // one physical ioctl port.
    RigPort& add_adapter(uint16_t device_id, const sim::ChipFlashOptions& flash = {}) {
        sim::SimAdapter& a = driver.add_adapter();
        a.device_id = device_id;
        sim::build_chip_flash(a, flash);
        return add_function_port(a);
    }

    // Another physical function (port) of the adapter of `first`: the same PCI device, the next function and port
    // number, its own layout.
    RigPort& add_function(const RigPort& first) { return add_function_port(adapter_of(first)); }

    // A virtual port of a physical port of the ioctl road.
    RigPort& add_virtual(const RigPort& parent) {
        sim::SimPort& sp = sim::add_query_virtual_port(driver, *parent.sim);
        return add_record(&sp, parent.rec->phy_info, VX_PORT_VIRTUAL, parent.rec);
    }

    // A port that the driver serves through sysfs (no driver node).
    RigPort& add_sysfs_adapter(uint16_t device_id) {
        EXT_CHIP chip{};
        chip.DeviceId = device_id;
        chip.PciBusNumber = static_cast<uint16_t>(0x40 + ports_.size());
        vxapi_phy_info* phy = nullptr;
        EXPECT_EQ(vxapi_alloc_api_phy_info_mem(&phy, &chip), 0);
        phy->device_id = device_id;
        return add_record(nullptr, phy, VX_PORT_PHYSICAL, nullptr);
    }

    sim::SimAdapter& adapter_of(const RigPort& port) { return *driver.adapter_of(*port.sim); }

    // The region activations taken, as (driver instance, sub-code).
    std::vector<std::pair<uint16_t, uint16_t>> taken() const {
        std::vector<std::pair<uint16_t, uint16_t>> out;
        for (const auto& t : acts.taken()) out.emplace_back(t.instance, t.sub_code);
        return out;
    }
    // The driver's requests of one command since the log was cleared.
    std::vector<sim::SimLogEntry> requests(uint8_t command) const {
        std::vector<sim::SimLogEntry> out;
        std::ranges::copy_if(driver.log(), std::back_inserter(out), [=](auto& e) { return e.command == command; });
        return out;
    }

    sim::SimHost host;
    sim::SimDriver driver;
    sim::SimActivations acts;  // region activations taken

private:
    RigPort& add_function_port(sim::SimAdapter& a) {
        sim::SimPort& sp = sim::add_query_port(driver, a);
        EXT_CHIP chip = sim::make_chip_record(driver, sp);
        vxapi_phy_info* phy = nullptr;
        EXPECT_EQ(vxapi_alloc_api_phy_info_mem(&phy, &chip), 0);
        std::tie(phy->device_id, phy->ssvendor_id, phy->ssdevice_id) =
            std::tuple(a.device_id, a.ssvendor_id, a.ssdevice_id);
        std::snprintf(reinterpret_cast<char*>(phy->serial_num), sizeof phy->serial_num, "%s", a.serial.c_str());
        std::tie(phy->pci_domain, phy->pci_bus, phy->pci_dev_func) =
            std::tuple(sp.pci_domain, sp.pci_bus, sp.pci_dev_func);
        phy->port_number = static_cast<uint8_t>((sp.pci_dev_func & 7) + 1);
        RigPort& port = add_record(&sp, phy, VX_PORT_PHYSICAL, nullptr);
        if (vx_chip_has(a.device_id, VX_CHIP_FLASH_LAYOUT_TABLE)) {
            EXPECT_EQ(vxapi_set_option_rom_layout(port.rec->oshandle, port.rec), 0);
        }
        pGlobalOptRomLayout = nullptr;  // as if another adapter's layout had been loaded since
        return port;
    }

    RigPort& add_record(sim::SimPort* sp, vxapi_phy_info* phy, uint32_t kind, vxapi_priv_database* parent) {
        vxapi_priv_database* rec = nullptr;
        EXPECT_EQ(vxapi_alloc_api_priv_data_mem(&rec), 0);
        std::tie(rec->phy_info, rec->interface_type, rec->parent, rec->open_cnt) = std::tuple(phy, kind, parent, 1);
        rec->apihandle = static_cast<uint32_t>(ports_.size() + 1);
        std::snprintf(reinterpret_cast<char*>(rec->phys_path), sizeof rec->phys_path, "/dev/vxa2xxx");
        rec->features = sp != nullptr ? VX_FEAT_IOCTL | VX_FEAT_NEW_IOCTL : VX_FEAT_SYSFS;
        if (sp != nullptr) {
            std::tie(rec->drvr_inst, rec->host_no) = std::tuple(sp->instance, sp->host_no);
            fds_.push_back(rec->oshandle = vx::sys().open("/dev/vxa2xxx", O_RDWR));
        }
        ports_.push_back({static_cast<int>(rec->apihandle), rec, sp});
        return ports_.back();
    }

    std::deque<RigPort> ports_;
    std::vector<int> fds_;
};

// The region of that code among the options' regions (which must hold it).
inline const sim::FltRegion& region_of(const sim::ChipFlashOptions& o, uint8_t code) {
    return *std::find_if(o.regions->begin(), o.regions->end(), [&](const sim::FltRegion& r) { return r.code == code; });
}

inline sim::Bytes slice(const sim::Bytes& b, size_t at, size_t n) {
    return sim::Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// A rig with the shared data file (and its token table) open in this process.
struct TokenRig : ApiRig {
    TokenRig() {
        shtest::reset_shared_state();
        if (shtest::open_here() != 0) ADD_FAILURE() << "shared file";
    }
    ~TokenRig() { shtest::reset_shared_state(); }
};

}  // namespace apitest

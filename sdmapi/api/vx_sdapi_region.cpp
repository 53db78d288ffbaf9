// Region activation: a written flash region takes effect once the driver
// resets the part of the adapter that runs it. The region code (or a reset
// code given directly) and the chip choose the driver's reset code and
// whether the sibling physical functions of the adapter take it too.
#include <vector>

#include "api/vx_sdupdate.h"
#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "core/flash/vx_regions.h"
#include "core/life/vx_load.h"

namespace {

constexpr uint32_t kResetFirmware = 0x2025C;
constexpr uint32_t kResetMpi = 0x2025D;
constexpr uint32_t kResetFcoe = 0x2025E;
constexpr uint32_t kRefreshVersions = 0x20261;
constexpr uint32_t kResetQos = 0x20262;

struct ResetChoice {
    uint32_t code = 0;  // 0: none
    bool both_ports = false;
};

bool in(uint16_t device, VxChipFlag flag) { return vx_chip_has(device, flag); }
bool in(uint32_t region, std::initializer_list<uint32_t> codes) {
    for (uint32_t c : codes) {
        if (c == region) return true;
    }
    return false;
}

ResetChoice choose_reset(uint32_t region, uint16_t device) {
    switch (region) {
    case kResetFirmware: return {kResetFirmware, false};
    case kRefreshVersions: return {kRefreshVersions, true};
    case kResetQos: return {kResetQos, false};
    default: break;
    }
    if (region == 0x01 && in(device, VX_CHIP_RESET_FW_BOTH_PORTS)) {
        return {kResetFirmware, true};
    }
    if (region == 0x02 && in(device, VX_CHIP_RESET_QUAD_REGIONS)) return {kResetFirmware, true};
    if (in(region, {0x15, 0x17, 0xD5, 0xD7})) {
        if (in(device, VX_CHIP_RESET_FW_ON_NVRAM)) return {kResetFirmware, false};
        if (in(device, VX_CHIP_RESET_FCOE_NEW)) return {kResetFcoe, false};
    }
    if (in(region, {0x40, 0x41, 0x45}) && in(device, VX_CHIP_RESET_MPI_REGIONS)) return {kResetMpi, false};
    if (in(region, {0x51, 0x53, 0xD9, 0xDB}) && in(device, VX_CHIP_RESET_QUAD_REGIONS)) return {kResetFirmware, false};
    if (region == 0x74 && in(device, VX_CHIP_RESET_FCOE_NEW)) return {kResetFirmware, false};
    if (region == 0x97 && in(device, VX_CHIP_RESET_FCOE_NEW)) return {kResetFirmware, false};
    if (region == 0x97 && in(device, VX_CHIP_RESET_83XX)) return {kResetMpi, false};
    if (region == 0xA4 && in(device, VX_CHIP_RESET_83XX)) return {kResetFirmware, true};
    if (in(region, {0xAA, 0xAC})) {
        if (in(device, VX_CHIP_RESET_83XX)) return {kResetFirmware, false};
        if (in(device, VX_CHIP_RESET_FCOE_AA_AC)) return {kResetFcoe, false};
    }
    return {};
}

// Whether `other` is another physical function of the PCI device of `self`.
bool is_sibling(const vxapi_priv_database* self, const vxapi_priv_database* other) {
    if (other == self || other->interface_type != VX_PORT_PHYSICAL) return false;
    const vxapi_phy_info* a = self->phy_info;
    const vxapi_phy_info* b = other->phy_info;
    if (a == nullptr || b == nullptr) return false;
    return a->pci_domain == b->pci_domain && (a->pci_bus & 0xFF) == (b->pci_bus & 0xFF) &&
           (a->pci_dev_func >> 3) == (b->pci_dev_func >> 3) && (a->pci_dev_func & 7) != (b->pci_dev_func & 7);
}

// The first sibling in list order that `accept` takes.
template <class Accept>
vxapi_priv_database* find_sibling(const vxapi_priv_database* self, Accept accept) {
    if (self == nullptr) return nullptr;
    VxListLock lock(vxapi_list_mutex());
    if (api_priv_database == nullptr) return nullptr;
    dlist_start(api_priv_database);
    while (auto* rec = static_cast<vxapi_priv_database*>(dlist_next(api_priv_database))) {
        if (is_sibling(self, rec) && accept(rec)) return rec;
    }
    return nullptr;
}

void reset_line(const char* text, uint64_t number = 0, uint8_t base = VXDBG_NONE) {
    vxdbg_line(VX_SD_INFO, text, number, base);
}

// One activation; a failure traces the driver's status and errno.
bool activate(vxapi_priv_database* rec, uint32_t code) {
    uint32_t ext = 0;
    errno = 0;
    const int32_t result = vxapi_activate_region(rec->oshandle, rec, code, &ext);
    const int err = errno;
    if (result == 0 && ext == 0) {
        reset_line("vxapi_reset_region: activation ioctl ok.  ext_stat=", ext, VXDBG_DEC);
        return true;
    }
    if (vxdbg_on(VX_SD_ERROR)) {
        vxdbg_print("vxapi_reset_region: activation ioctl failed.  ext status=", ext, VXDBG_DEC, 0);
        vxdbg_print(" errno=", static_cast<uint32_t>(err), VXDBG_INT, 1);
    }
    return false;
}

// Opens a sibling (it keeps its handle when the caller has it open),
// activates it and closes it again.
bool activate_sibling(vxapi_priv_database* sibling, uint32_t code) {
    int handle = 0;
    uint32_t err = 0;
    if (vxapi_open_adapter(sibling, &handle, &err) != 0) {
        vxdbg_line(VX_SD_ERROR, "vxapi_reset_region: 2nd port open failed.");
        return false;
    }
    const bool ok = activate(sibling, code);
    (void)vxapi_close_adapter(sibling, &err);  // the activation's outcome is the call's
    return ok;
}

// The siblings that take the code: the first one in list order and, on the
// quad chip, every other function by its port number (3, 4, then 1 and 2, so
// that a call from port 3 or 4 reaches all of them as one from port 1 or 2
// does); each function once.
std::vector<vxapi_priv_database*> siblings_to_activate(int Device, vxapi_priv_database* rec) {
    std::vector<vxapi_priv_database*> chain;
    vxapi_priv_database* first = vxapi_is_other_phy_port_exist(Device, rec);
    if (first == nullptr) return chain;
    chain.push_back(first);
    if (!vx_chip_has(vxapi_device_id(rec), VX_CHIP_QUAD_SIBLING_CHAIN)) return chain;
    for (uint32_t port : {3u, 4u, 1u, 2u}) {
        vxapi_priv_database* quad = vxapi_is_quad_phy_port_exist(Device, rec, port);
        if (quad == nullptr) continue;
        bool seen = false;
        for (const vxapi_priv_database* p : chain) seen = seen || p == quad;
        if (!seen) chain.push_back(quad);
    }
    return chain;
}

}  // namespace

vxapi_priv_database* vxapi_is_other_phy_port_exist(int Device, vxapi_priv_database* api_priv_data_inst) {
    (void)Device;
    return find_sibling(api_priv_data_inst, [](const vxapi_priv_database*) { return true; });
}

vxapi_priv_database* vxapi_is_quad_phy_port_exist(int Device, vxapi_priv_database* api_priv_data_inst,
                                                  uint32_t port_num) {
    (void)Device;
    return find_sibling(api_priv_data_inst,
                        [port_num](const vxapi_priv_database* r) { return r->phy_info->port_number == port_num; });
}

uint32_t vxapi_reset_region(int Device, vxapi_priv_database* api_priv_data_inst, uint32_t Region) {
    vxapi_priv_database* rec = api_priv_data_inst;
    if (rec == nullptr) return SDERR_NO_ERROR;
    const uint16_t device = vxapi_device_id(rec);
    if (Region != kRefreshVersions && !vx_chip_has(device, VX_CHIP_FLASH_LAYOUT_TABLE)) return SDERR_NO_ERROR;

    const ResetChoice choice = choose_reset(Region, device);
    if (choice.code == 0) {
        reset_line("vxapi_reset_region: Invalid Region for reset, Region=", Region, VXDBG_HEX);
        return SDERR_NO_ERROR;
    }
    reset_line("vxapi_reset_region: Performing Region reset");
    if (!activate(rec, choice.code)) return SDERR_SIBLING_FAILED;
    if (!choice.both_ports) return SDERR_NO_ERROR;

    const std::vector<vxapi_priv_database*> chain = siblings_to_activate(Device, rec);
    if (chain.empty()) reset_line("vxapi_reset_region: 2nd port not found.");
    for (vxapi_priv_database* sibling : chain) {
        if (!activate_sibling(sibling, choice.code)) return SDERR_SIBLING_FAILED;
    }
    return SDERR_NO_ERROR;
}

uint32_t vx_sd_nvram_region(const vxapi_priv_database* rec) {
    const VxChip* chip = vx_chip(vxapi_device_id(rec));
    const uint16_t function = rec->phy_info != nullptr ? (rec->phy_info->pci_dev_func & 7) : 0;
    switch (chip != nullptr ? chip->nvram_regions : VxNvramRegions::None) {
    case VxNvramRegions::Quad:
        switch (function) {
        case 1: return 0x17;
        case 2: return 0xD5;
        case 3: return 0xD7;
        default: return 0x15;
        }
    case VxNvramRegions::AaAc: return (function & 1) != 0 ? 0xAC : 0xAA;
    case VxNvramRegions::Pair:
    case VxNvramRegions::None: break;
    }
    return (function & 1) != 0 ? 0x17 : 0x15;
}

const INT_OPT_ROM_REGION* vx_sd_layout_entry(uint32_t region) {
    for (const INT_OPT_ROM_REGION& e : gOptRomLayout.Region) {
        if ((e.Region & 0xFF) == region) return &e;
    }
    return nullptr;
}

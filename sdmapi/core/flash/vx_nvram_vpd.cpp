// NVRAM and VPD requests of a port: the driver road with its busy resends,
// the sysfs twins, and the VPD read from flash on the flash-layout chips;
// the port's serial number read from its VPD.
#include "core/flash/vx_nvram_vpd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/vx_chips.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "base/vx_vpd_fields.h"
#include "core/flash/vx_optrom.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_sysfs_attrs.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_STEP;

// VPD buffers of the serial number read: the converged adapters keep a
// larger VPD.
constexpr uint32_t kSerialVpdSize = 512;
constexpr uint32_t kSerialVpdSizeLarge = 1024;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// One NVRAM or VPD request, waited out while the driver is busy. The
// driver's status of the last try goes to *pext_stat.
int32_t send(const char* name, const char* busy_trace, uint8_t command, int handle, vxapi_priv_database* rec,
             const void* request, uint32_t request_len, void* response, uint32_t response_len,
             uint32_t* pext_stat, VxReply* reply) {
    VxRequest req;
    req.command = command;
    req.request = request;
    req.request_len = request != nullptr ? request_len : 0;
    req.response = response;
    req.response_len = response != nullptr ? response_len : 0;
    req.retry_busy = true;
    req.busy_trace = busy_trace;
    const int32_t result = vxapi_send_request(name, handle, rec, req, reply);
    if (pext_stat != nullptr) *pext_stat = reply->status;
    return result;
}

// The exit line of an NVRAM worker: the text and the result in hexadecimal.
int32_t exiting(const char* text, int32_t result) {
    vxdbg_line(VXDBG_STEP, text, static_cast<uint32_t>(result), VXDBG_HEX);
    return result;
}

// The flash region that holds the VPD of a PCI function, on the flash-layout
// chips whose VPD is read from flash; false for every other chip.
bool vpd_flash_region(uint16_t device_id, uint16_t pci_dev_func, uint32_t* region) {
    const VxChip* chip = vx_chip(device_id);
    switch (chip != nullptr ? chip->vpd_regions : VxVpdRegions::None) {
    case VxVpdRegions::Pair:
        *region = (pci_dev_func & 1) != 0 ? 0x16 : 0x14;
        return true;
    case VxVpdRegions::Quad:
        switch (pci_dev_func) {
        case 1:
            *region = 0x16;
            break;
        case 2:
            *region = 0xD4;
            break;
        case 3:
            *region = 0xD6;
            break;
        default:
            *region = 0x14;
            break;
        }
        return true;
    case VxVpdRegions::R81:
        *region = 0x81;
        return true;
    case VxVpdRegions::None:
        return false;
    }
    return false;
}

// The VPD read from the function's flash region. The region is read from
// its start, never into more than *pbuf_sz bytes; *pbuf_sz stays as it was.
int32_t get_vpd_from_flash(int handle, vxapi_priv_database* rec, uint32_t region, uint8_t* pbuf,
                           const uint32_t* pbuf_sz, uint32_t* pext_stat) {
    const auto done = [](int32_t result) {
        vxdbg_line(VXDBG_STEP, "vxapi_get_vpd: exiting.");
        return result;
    };
    const vxapi_phy_info* phy = rec->phy_info;
    if (phy->pflt_layout == nullptr) {
        vxdbg_line(VXDBG_ERROR | VXDBG_API, "vxapi_get_vpd: set flt layout failed.");
        // A driver that cannot reach the flash answers as its flash reads do.
        if (pext_stat != nullptr && vxapi_flash_out_of_reach(rec)) *pext_stat = EXT_STATUS_NO_DRIVER_SUPPORT;
        return done(1);
    }
    // Region places come from the global layout: this function's layout
    // becomes the global layout.
    vxapi_install_global_layout(phy->pflt_layout, sizeof(INT_OPT_ROM_LAYOUT));

    if (vxapi_is_sysfs_port(rec) && rec->interface_type == VX_PORT_VIRTUAL) {
        // A virtual port of a sysfs port reads through its physical port.
        vxapi_priv_database* parent = rec->parent;
        if (parent == nullptr) {
            vxdbg_line(kErr, "vxapi_get_vpd: virtual port without a physical port.");
            return done(1);
        }
        return done(vxapi_read_optrom(parent->oshandle, parent, pbuf, *pbuf_sz, region, 0, pext_stat));
    }
    return done(vxapi_read_optrom(handle, rec, pbuf, *pbuf_sz, region, 0, pext_stat));
}

}  // namespace

int32_t vxapi_get_nvram(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pnvr_buf,
                        uint32_t nvr_buf_size, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_get_nvram: entered.");
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_get_nvram(handle, api_priv_data_inst, pnvr_buf, nvr_buf_size, pext_stat);
    }
    VxReply reply;
    int32_t result = send("vxapi_get_nvram", "vxapi_get_nvram: driver busy, retrying", EXT_CC_READ_NVRAM, handle,
                          api_priv_data_inst, nullptr, 0, pnvr_buf, nvr_buf_size, pext_stat, &reply);
    // The NVRAM is one image that callers check and write back whole: an
    // image the driver delivered in part is not read.
    if (result == 0 && reply.status == 0 && pnvr_buf != nullptr && reply.response_len < nvr_buf_size) {
        vxdbg_line(kErr, "vxapi_get_nvram: short read, bytes delivered=", reply.response_len, VXDBG_HEX);
        result = 1;
    }
    return exiting("vxapi_get_nvram: exiting=", result);
}

int32_t vxapi_set_nvram(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* pnvr_buf,
                        uint32_t nvr_buf_size, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_set_nvram: entered.");
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_set_nvram(handle, api_priv_data_inst, pnvr_buf, nvr_buf_size, pext_stat);
    }
    if (vxdbg_on(VXDBG_API)) {
        vxdbg_dump("vxapi_set_nvram: NVRAM data dump before ioctl:", pnvr_buf, 8,
                   pnvr_buf != nullptr ? nvr_buf_size : 0);
    }
    VxReply reply;
    return exiting("vxapi_set_nvram: exiting=",
                   send("vxapi_set_nvram", "vxapi_set_nvram: driver busy, retrying", EXT_CC_UPDATE_NVRAM, handle,
                        api_priv_data_inst, pnvr_buf, nvr_buf_size, nullptr, 0, pext_stat, &reply));
}

int32_t vxapi_get_vpd(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* pbuf, uint32_t* pbuf_sz,
                      uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_get_vpd: entered.");
    if (pbuf_sz == nullptr) {
        vxdbg_line(kErr, "vxapi_get_vpd: init_ext_ioctl failed.");
        return 1;
    }
    const uint16_t device = vxapi_device_id(api_priv_data_inst);
    uint32_t region = 0;
    if (vx_chip_has(device, VX_CHIP_NVRAM_IN_FLASH) &&
        vpd_flash_region(device, api_priv_data_inst->phy_info->pci_dev_func, &region)) {
        return get_vpd_from_flash(handle, api_priv_data_inst, region, pbuf, pbuf_sz, pext_stat);
    }
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_get_vpd(handle, api_priv_data_inst, pbuf, pbuf_sz, pext_stat);
    }
    VxReply reply;
    const int32_t result = send("vxapi_get_vpd", "vxapi_get_vpd: driver busy, retrying", EXT_CC_GET_VPD, handle,
                                api_priv_data_inst, nullptr, 0, pbuf, *pbuf_sz, pext_stat, &reply);
    // What the driver delivered, never more than the buffer holds.
    *pbuf_sz = reply.response_len;
    vxdbg_line(VXDBG_STEP, "vxapi_get_vpd: exiting.");
    return result;
}

int32_t vxapi_set_vpd(int handle, vxapi_priv_database* api_priv_data_inst, const uint8_t* pbuf,
                      uint32_t* pbuf_sz, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_set_vpd: entered.");
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        return vxsysfs_set_vpd(handle, api_priv_data_inst, pbuf, pbuf_sz, pext_stat);
    }
    if (pbuf_sz == nullptr) {
        vxdbg_line(kErr, "vxapi_set_vpd: init_ext_ioctl failed.");
        return 1;
    }
    VxReply reply;
    const int32_t result = send("vxapi_set_vpd", "vxapi_set_vpd: driver busy, retrying", EXT_CC_SET_VPD, handle,
                                api_priv_data_inst, pbuf, *pbuf_sz, nullptr, 0, pext_stat, &reply);
    vxdbg_line(VXDBG_STEP, "vxapi_set_vpd: exiting.");
    return result;
}

// ---------------------------------------------------------------- serial number

int32_t vxapi_get_vpd_serialnum(int fd, vxapi_priv_database* api_priv_data_inst) {
    const auto failed = [fd](const char* why) {
        if (vxdbg_on(kErr)) {
            char line[96];
            std::snprintf(line, sizeof line, "vxapi_get_vpd_serialnum(%d): %s", fd, why);
            vxdbg_line(kErr, line);
        }
        return 1;
    };
    vxapi_phy_info* phy = api_priv_data_inst != nullptr ? api_priv_data_inst->phy_info : nullptr;
    const uint16_t device = phy != nullptr ? phy->device_id : 0;
    if (!vx_chip_has(device, VX_CHIP_SERIAL_FROM_VPD)) return failed("old adapter.");

    const uint32_t size = vx_chip_has(device, VX_CHIP_VPD_1024) ? kSerialVpdSizeLarge : kSerialVpdSize;
    std::unique_ptr<uint8_t, FreeDeleter> vpd(static_cast<uint8_t*>(std::calloc(1, size)));
    if (!vpd) return failed("malloc failed.");

    uint32_t got = size;
    uint32_t status = 0;
    if (vxapi_get_vpd(fd, api_priv_data_inst, vpd.get(), &got, &status) != 0 || status != 0) {
        return failed("get_vpd failed.");
    }

    // The buffer was zeroed: bytes the read did not fill read as zeros.
    uint8_t serial[VX_VPD_SERIAL_TEXT_SIZE] = {};
    static constexpr uint8_t kTag[2] = {'S', 'N'};
    if (vxapi_get_field_from_vpd(vpd.get(), size, kTag, 2, serial, sizeof serial) != 0) {
        return failed("get field from vpd failed.");
    }
    // A serial number that fills its 32 bytes has no terminator of its own;
    // the record's field is wider and keeps one, with nothing stale behind.
    static_assert(sizeof phy->serial_num > sizeof serial);
    std::memset(phy->serial_num, 0, sizeof phy->serial_num);
    std::memcpy(phy->serial_num, serial, sizeof serial);
    return 0;
}

// Option ROM read and update through the driver, the sector alignment of
// its writes with this road's reads, and the flash sector size.
#include "core/flash/vx_optrom.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "base/vx_chips.h"
#include "base/vx_driver_records.h"
#include "base/vx_layout.h"
#include "base/vx_port_road.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "core/io/vx_query.h"
#include "transport/vx_ioctl_road.h"
#include "transport/vx_sysfs_flash.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_STEP;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// The alignment of this road's writes reads through this road's workers.
constexpr VxFlashReader kWorkerReads = {vxapi_read_optrom, vxapi_get_flash_sector_size};

// One flash request of the read or write worker, waited out while the driver
// is busy. *delivered (when given) receives the bytes the driver delivered.
int32_t send_flash(const char* name, const char* busy_trace, uint8_t command, int handle,
                   vxapi_priv_database* rec, uint32_t region, const void* data, void* into, uint32_t size,
                   uint32_t offset, uint32_t* pext_stat, uint32_t* delivered = nullptr) {
    VxRequest req;
    req.command = command;
    req.sub_code = static_cast<uint16_t>(region);
    req.request = data;
    req.request_len = size;
    req.response = into;
    req.response_len = into != nullptr ? size : 0;
    req.reserved1 = offset;
    req.retry_busy = true;
    req.busy_trace = busy_trace;
    VxReply reply;
    const int32_t result = vxapi_send_request(name, handle, rec, req, &reply);
    if (pext_stat != nullptr) *pext_stat = reply.status;
    if (delivered != nullptr) *delivered = reply.response_len;
    return result;
}

}  // namespace

int32_t vxapi_read_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                          uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, VX_TRACE_READ_OPTROM_ENTERED);
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        if (region == 0) region = VX_REGION_WHOLE_ROM;
        return vxsysfs_read_optrom(handle, api_priv_data_inst, poptrom, optrom_size, region, offset, pext_stat);
    }

    int32_t result = 1;
    uint32_t size = optrom_size;
    if (vx_chip_has(vxapi_device_id(api_priv_data_inst), VX_CHIP_FLASH_LAYOUT_TABLE)) {
        // A region is read from its start, whole, but never into more than
        // the caller's buffer holds: callers read the head of a region on
        // purpose. The caller's offset does not count for a region.
        vxsysfs_map_region(region, &offset, &size);
        if (region != VX_REGION_RAW) size = std::min(size, optrom_size);
        region = VX_REGION_RAW;
        if (size == 0) {
            vxdbg_line(kErr, "vxapi_read_optrom: Zero sized unknown region");
            vxdbg_line(VXDBG_STEP, "vxapi_read_optrom: exiting=", static_cast<uint32_t>(result), VXDBG_HEX);
            return result;
        }
    }
    uint32_t status = 0;
    uint32_t delivered = 0;
    result = send_flash("vxapi_read_optrom", "vxapi_read_optrom: driver busy, retrying", EXT_CC_READ_OPTROM, handle,
                        api_priv_data_inst, region, nullptr, poptrom, size, offset, &status, &delivered);
    if (pext_stat != nullptr) *pext_stat = status;
    // A raw read asks for an exact span of flash, and its caller takes the
    // whole buffer as flash contents (the alignment writes it back): a span
    // the driver answered in part is not read. A region named by its code
    // is as long as the driver places it, which may be less than the buffer.
    if (result == 0 && status == 0 && region == VX_REGION_RAW && delivered < size) {
        vxdbg_line(kErr, "vxapi_read_optrom: short read, bytes delivered=", delivered, VXDBG_HEX);
        result = 1;
    }
    vxdbg_line(VXDBG_STEP, "vxapi_read_optrom: exiting=", static_cast<uint32_t>(result), VXDBG_HEX);
    return result;
}

int32_t vxapi_update_optrom(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                            uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_update_optrom: entered.");
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        if (region == 0) region = VX_REGION_WHOLE_ROM;
        return vxsysfs_update_optrom(handle, api_priv_data_inst, poptrom, optrom_size, region, offset, pext_stat);
    }

    const auto done = [](int32_t result) {
        vxdbg_line(VXDBG_STEP, "vxapi_update_optrom: exiting=", static_cast<uint32_t>(result), VXDBG_HEX);
        return result;
    };
    uint8_t* db = poptrom;
    Buffer widened;  // the aligned span, when alignment had to read one
    const uint16_t device = vxapi_device_id(api_priv_data_inst);
    if (vx_chip_has(device, VX_CHIP_SECTOR_ALIGNED)) {
        // The region gives the start; the caller's size stays the length written.
        uint32_t region_size = optrom_size;
        vxsysfs_map_region(region, &offset, &region_size);
        if (region_size == 0) {
            vxdbg_line(kErr, "vxapi_update_optrom: Zero sized unknown region");
            return done(1);
        }
        const uint32_t aligned = vxapi_sector_align(handle, api_priv_data_inst, &db, poptrom, &offset, &optrom_size);
        if (db != poptrom) widened.reset(db);
        if (pext_stat != nullptr) *pext_stat = aligned;
        if (aligned != 0) {
            vxdbg_line(kErr, "vxapi_update_optrom: sector alignment failed, can't proceed further");
            return done(1);
        }
        region = VX_REGION_RAW;
    }
    return done(send_flash("vxapi_update_optrom", "vxapi_update_optrom: driver busy, retrying",
                           EXT_CC_UPDATE_OPTROM, handle, api_priv_data_inst, region, db, nullptr, optrom_size,
                           offset, pext_stat));
}

uint32_t vxapi_sector_align(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t** db, uint8_t* poptrom,
                            uint32_t* offset, uint32_t* size) {
    return vxapi_sector_align(handle, api_priv_data_inst, db, poptrom, offset, size, kWorkerReads);
}

uint32_t vxapi_get_flash_sector_size(int handle, vxapi_priv_database* api_priv_data_inst,
                                     uint32_t* pflash_sector_size) {
    vxdbg_line(VXDBG_STEP, VX_TRACE_SECTOR_SIZE_ENTERED);
    uint32_t result = 1;
    if (vxapi_is_sysfs_port(api_priv_data_inst)) {
        result = static_cast<uint32_t>(
            vxsysfs_get_flash_sector_size(handle, api_priv_data_inst, pflash_sector_size));
    } else {
        EXT_CHIP chip{};
        uint32_t status = 0;
        const int rc = vxapi_query_chip(handle, api_priv_data_inst, &chip, &status);
        if (rc == VX_RESULT_NOT_BUILT) {
            vxdbg_line(kErr, "vxapi_get_flash_sector_size: init_ext_ioctl error, status=", status, VXDBG_DEC);
        }
        if (rc == 0 && status == 0) {
            if (pflash_sector_size != nullptr) *pflash_sector_size = chip.FlashBlockSize;
            result = 0;
        }
    }
    vxdbg_line(VXDBG_STEP, VX_TRACE_SECTOR_SIZE_EXITING);
    return result;
}

int32_t vxapi_read_nvram_exp_edc(int handle, vxapi_priv_database* api_priv_data_inst, uint8_t* poptrom,
                                 uint32_t optrom_size, uint32_t region, uint32_t offset, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_read_nvram_exp_edc: entered.");
    return vxsysfs_read_nvram_exp_edc(handle, api_priv_data_inst, poptrom, optrom_size, region, offset, pext_stat);
}

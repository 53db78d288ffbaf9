// FRU version records built from a flash image, the FRU status register
// pulse, and the boot code version text of an image.
#include "core/flash/vx_fru.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "base/vx_flash_images.h"
#include "base/vx_port_road.h"
#include "base/vx_sddbg.h"
#include "core/io/vx_diag.h"
#include "transport/vx_netlink.h"
#include "transport/vx_nl_vendor.h"
#include "transport/vx_nl_wire.h"
#include "transport/vx_sysfs_bsg.h"
#include "transport/vx_sysfs_diag.h"

namespace {

constexpr uint32_t kErr = VXDBG_ERROR | VXDBG_API;

constexpr uint16_t kFruDevice = 0xA0;        // the FRU's version fields
constexpr uint16_t kFruStatusDevice = 0xE0;  // the FRU's status register
constexpr uint16_t kFruOption = 0x2000;
constexpr uint8_t kPulseBit = 0x10;
constexpr uint16_t kFruSubStatusRead = 2;
constexpr uint16_t kFruSubStatusWrite = 3;

constexpr size_t kVersionText = 16;  // room for one version text
constexpr size_t kPcirOffsetAt = 0x18;
constexpr size_t kCodeRevisionAt = 0x12;

// One FRU version field: where it lies and the tag that closes its text.
struct FruField {
    uint16_t offset;
    char tag;
};
constexpr FruField kFirmwareField{0x406, 'G'};
// BIOS, FCode, EFI: the boot code images by PCI code type.
constexpr struct {
    uint8_t code_type;
    FruField field;
    const char* found;
    const char* missing;
} kBootImages[] = {
    {0, {0x472, 'B'}, "vxapi_fill_and_update_fru_versions: BIOS version=",
     "vxapi_fill_and_update_fru_versions: BIOS version not found"},
    {1, {0x44E, 'F'}, "vxapi_fill_and_update_fru_versions: FCODE version=",
     "vxapi_fill_and_update_fru_versions: FCODE version not found"},
    {3, {0x42A, 'E'}, "vxapi_fill_and_update_fru_versions: EFI version=",
     "vxapi_fill_and_update_fru_versions: EFI version not found"},
};
constexpr size_t kMaxRecords = sizeof kBootImages / sizeof kBootImages[0];

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The record of one version: its text loses a leading '0' or blank.
vxa_image_version fru_record(const FruField& field, const char* text) {
    vxa_image_version v{};
    v.field_address.offset = field.offset;
    v.field_address.device_address = kFruDevice;
    v.field_address.options = kFruOption;
    if (text[0] == '0' || text[0] == ' ') ++text;
    std::snprintf(reinterpret_cast<char*>(v.version), sizeof v.version, "V:%s,D:00000000,A:Y,T:%c", text, field.tag);
    return v;
}

void trace_text(const char* line, const char* text) {
    if (!vxdbg_on(VXDBG_STEP)) return;
    vxdbg_print(line, 0, VXDBG_NONE, 0);
    vxdbg_print(text, 0, VXDBG_NONE, 1);
}

// The records of the image's versions, in the order firmware or BIOS, FCode,
// EFI; 0 when none is found.
size_t collect_records(const uint8_t* image, uint32_t image_size, uint32_t region,
                       std::array<vxa_image_version, kMaxRecords>* records) {
    char text[kVersionText] = {};
    if (region == 1) {
        if (vxapi_get_24xx_fw_version(image, image_size, text, sizeof text, nullptr, region) != 1) {
            vxdbg_line(kErr, "vxapi_fill_fru_version: fw image not found.");
            return 0;
        }
        (*records)[0] = fru_record(kFirmwareField, text);
        return 1;
    }
    size_t count = 0;
    for (const auto& boot : kBootImages) {
        std::memset(text, 0, sizeof text);
        // The image is only read.
        if (vxapi_get_bootcode_version(const_cast<uint8_t*>(image), image_size, boot.code_type,
                                       reinterpret_cast<uint8_t*>(text), sizeof text) != 0) {
            vxdbg_line(VXDBG_STEP, boot.missing);
            continue;
        }
        trace_text(boot.found, text);
        (*records)[count++] = fru_record(boot.field, text);
    }
    return count;
}

// One step of the pulse on the port's road: SubCode 2 / command 12 reads the
// register into *reg, SubCode 3 / command 13 writes it. On the driver road a
// step succeeds only when the ioctl and the driver's status were both 0; a
// read answered short of its record has status 8, so that no write follows
// a value that was never read.
bool pulse_step(int handle, vxapi_priv_database* rec, bool write, vxa_status_reg* reg, int32_t* result,
                uint32_t* pext_stat) {
    const VxRoad road = vxapi_vendor_road(rec);
    if (road == VxRoad::Bsg) {
        *result = vxsysfs_bsg_fru_status(handle, rec, reg, sizeof *reg,
                                         write ? VX_BSG_FRU_STATUS_WRITE : VX_BSG_FRU_STATUS_READ, pext_stat);
        return *result == 0;
    }
    if (road == VxRoad::Netlink) {
        *result = vxapi_nl_fru_status(gnl_fd, static_cast<int>(rec->host_no), reg, sizeof *reg,
                                      write ? VX_NL_CMD_FRU_STATUS_WRITE : VX_NL_CMD_FRU_STATUS_READ, pext_stat);
        return *result == 0;
    }
    uint32_t status = 0;
    *result = vxapi_diag_send("vxapi_pulse_fru_status", handle, rec, EXT_CC_FRU,
                              write ? kFruSubStatusWrite : kFruSubStatusRead, reg, sizeof *reg,
                              write ? nullptr : reg, write ? 0 : sizeof *reg, &status, nullptr,
                              write ? 0 : sizeof *reg);
    if (*result == VX_RESULT_NOT_BUILT) return false;
    if (pext_stat != nullptr) *pext_stat = status;
    return *result == 0 && status == EXT_STATUS_OK;
}

}  // namespace

int32_t vxapi_get_bootcode_version(uint8_t* pbuf, uint32_t buf_size, uint8_t ctype, uint8_t* version,
                                   uint32_t version_size) {
    if (pbuf == nullptr || version == nullptr || version_size == 0) {
        vxdbg_line(kErr, "vxapi_get_bootcode_version: invalid parameter.");
        return 1;
    }
    uint8_t* image = nullptr;
    if (vxapi_find_image(pbuf, buf_size, ctype, &image, 0, nullptr, nullptr) != 1 || image == nullptr) {
        vxdbg_line(kErr, "vxapi_get_bootcode_version: image not found.");
        return 1;
    }
    // The data structure is followed only while it lies within the buffer.
    const size_t room = buf_size - static_cast<size_t>(image - pbuf);
    const size_t pcir = room >= kPcirOffsetAt + 2 ? le16(image + kPcirOffsetAt) : room;
    if (pcir + kCodeRevisionAt + 2 > room) {
        vxdbg_line(kErr, "vxapi_get_bootcode_version: image not found.");
        return 1;
    }
    const uint16_t revision = le16(image + pcir + kCodeRevisionAt);
    const int major = revision >> 8, minor = revision & 0xFF;
    char text[kVersionText];
    const int n = std::snprintf(text, sizeof text, major > 99 ? "%.2d.%.2d" : "%2d.%.2d", major, minor);
    if (n <= 0 || static_cast<uint32_t>(n) + 1 > version_size) return 1;
    std::memcpy(version, text, static_cast<size_t>(n) + 1);
    return 0;
}

int32_t vxapi_fill_and_update_fru_versions(int handle, vxapi_priv_database* rec, const uint8_t* image,
                                           uint32_t image_size, uint32_t region, uint32_t* pext_stat) {
    if (region != 1 && region != 7) {
        vxdbg_line(kErr, "vxapi_fill_and_update_fru_versions: Invalid region.");
        return 1;
    }
    std::array<vxa_image_version, kMaxRecords> records{};
    const size_t count = image != nullptr ? collect_records(image, image_size, region, &records) : 0;
    if (count == 0) return 1;
    // The list: its count, then the records.
    alignas(vxa_image_version_list) uint8_t list[4 + sizeof(vxa_image_version) * kMaxRecords] = {};
    const uint32_t n = static_cast<uint32_t>(count);
    std::memcpy(list, &n, sizeof n);
    std::memcpy(list + 4, records.data(), sizeof(vxa_image_version) * count);
    return vxapi_update_fru_versions(handle, rec, reinterpret_cast<vxa_image_version_list*>(list),
                                     static_cast<uint32_t>(4 + sizeof(vxa_image_version) * count), pext_stat);
}

int32_t vxapi_pulse_fru_status(int handle, vxapi_priv_database* rec, uint32_t* pext_stat) {
    vxdbg_line(VXDBG_STEP, "vxapi_pulse_fru_status: entered.");
    const VxRoad road = vxapi_vendor_road(rec);
    if (road == VxRoad::None) return 1;
    vxa_status_reg reg{};
    reg.field_address.device_address = kFruStatusDevice;
    reg.field_address.options = kFruOption;
    int32_t result = 1;
    if (!pulse_step(handle, rec, false, &reg, &result, pext_stat)) {
        vxdbg_line(kErr, "vxapi_pulse_fru_status: fru_status read failed.");
        return result;
    }
    reg.status_reg = static_cast<uint8_t>(reg.status_reg & ~kPulseBit);
    reg.field_address.options |= kFruOption;
    reg.field_address.offset = 1;
    if (!pulse_step(handle, rec, true, &reg, &result, pext_stat)) {
        vxdbg_line(kErr, "vxapi_pulse_fru_status: fru_status reset failed.");
        return result;
    }
    reg.status_reg |= kPulseBit;
    if (!pulse_step(handle, rec, true, &reg, &result, pext_stat)) {
        vxdbg_line(kErr, "vxapi_pulse_fru_status: fru_status set failed.");
    }
    vxdbg_line(VXDBG_STEP, "vxapi_pulse_fru_status: exiting.");
    return result;
}

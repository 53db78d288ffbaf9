// The boot-code versions of a port read from its flash: the boot code image
// chain at 0x80000, 256 bytes at a time, and the firmware version at 0x100000.
#include "core/flash/vx_flash_versions.h"

#include <cstring>

#include "base/vx_flash_images.h"
#include "base/vx_sddbg.h"
#include "core/io/vx_query.h"
#include "image/flash_formats.h"

namespace {

constexpr uint32_t kChunkSize = 256;
constexpr uint32_t kBootCodeStart = 0x80000;
// The firmware header lies here, so the boot code chain ends before it;
// a chain that claims to reach further is not followed there.
constexpr uint32_t kFirmwareHeaderAt = 0x100000;
constexpr uint32_t kFirmwareHeaderLen = 32;
constexpr uint32_t kFirmwareCookie = 0x40400003;

}  // namespace

void vxapi_read_flash_versions(int fd, vxapi_priv_database* rec, EXT_HBA_NODE* node) {
    if (node == nullptr) return;
    uint8_t buffer[kChunkSize];

    // One image of the chain at a time: each chunk begins with an image's header,
    // and the image's length leads to the next one.
    for (uint32_t offset = kBootCodeStart; offset < kFirmwareHeaderAt;) {
        std::memset(buffer, 0, sizeof buffer);
        vxapi_read_flash(fd, rec, offset, kChunkSize, buffer, sizeof buffer);
        if (buffer[0] == 0) break;  // nothing read
        const uint32_t n = vxsysfs_find_optrom_bootcode_versions(buffer, kChunkSize, node);
        if (n == 0) break;
        offset += n;
    }

    std::memset(buffer, 0, sizeof buffer);
    vxapi_read_flash(fd, rec, kFirmwareHeaderAt, kFirmwareHeaderLen, buffer, sizeof buffer);
    if (buffer[0] == 0) return;
    if (vximg_get_le32(buffer) == kFirmwareCookie) {
        node->BIFwVersion[0] = buffer[4];
        node->BIFwVersion[1] = buffer[5];
        node->BIFwVersion[2] = buffer[6];
        node->BIFwVersion[3] = buffer[7];
        node->BIValid |= EXT_BI_FW_VALID;
    } else {
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_read_flash_versions: Flash FW version read failed");
    }
}

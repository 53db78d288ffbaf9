// The frame of the management API's functions.
#include "api/vx_sdframe.h"

#include <algorithm>
#include <cstring>

#include "base/vx_layout.h"

namespace {

constexpr uint32_t kDriverOverrun = 7;
constexpr uint32_t kDriverUnderrun = 8;
constexpr uint32_t kDriverScsiStatus = 15;

void print_head(const char* name, int handle) {
    vxdbg_print(name, 0, VXDBG_NONE, 0);
    vxdbg_print("(", static_cast<uint32_t>(handle), VXDBG_INT, 0);
}

}  // namespace

SD_UINT32 vx_sd_xlate(uint32_t ext_stat, uint32_t ext_dstat, VxSdScsi scsi) {
    const SD_UINT32 status = SDXlateSDMErr(ext_stat, ext_dstat);
    if (ext_stat == kDriverScsiStatus && status == SDERR_NO_ERROR && scsi == VxSdScsi::None) return SDERR_UNKNOWN;
    return status;
}

void vx_sd_line(uint32_t bits, const char* name, int handle, const char* text, uint64_t number, uint8_t base) {
    if (!vxdbg_on(bits)) return;
    print_head(name, handle);
    vxdbg_print(text, number, base, 1);
}

void vx_sd_copy_text(void* dst, size_t dst_size, const void* src, size_t src_size) {
    if (dst == nullptr || dst_size == 0) return;
    auto* out = static_cast<uint8_t*>(dst);
    size_t len = 0;
    if (src != nullptr) {
        const auto* in = static_cast<const uint8_t*>(src);
        const void* nul = std::memchr(in, 0, src_size);
        const size_t whole = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - in) : src_size;
        len = std::min(whole, dst_size - 1);
        std::memcpy(out, in, len);
    }
    std::memset(out + len, 0, dst_size - len);
}

VxSdOutcome vx_sd_outcome(const char* name, int handle, int result, uint32_t ext_stat, int err, VxSdAccept accept,
                          const char* failure_line, uint32_t ext_dstat, VxSdScsi scsi) {
    const bool accepted =
        accept == VxSdAccept::OverUnder && (ext_stat == kDriverOverrun || ext_stat == kDriverUnderrun);
    const bool failed = (ext_stat != 0 && !accepted) || result != 0;
    if (failed && failure_line != nullptr && vxdbg_on(VX_SD_ERROR)) {
        vxdbg_print(failure_line, ext_stat, VXDBG_DEC, 0);
        vxdbg_print(" errno=", static_cast<uint32_t>(err), VXDBG_INT, 1);
    }
    if (ext_stat != 0 && !accepted) {
        if (failure_line == nullptr) vx_sd_line(VX_SD_ERROR, name, handle, "): bad stat ", ext_stat, VXDBG_DEC);
        return {false, vx_sd_xlate(ext_stat, ext_dstat, scsi)};
    }
    if (result < 0) {
        if (failure_line == nullptr) {
            vx_sd_line(VX_SD_ERROR, name, handle, "): ioctl failed ", static_cast<uint32_t>(err), VXDBG_INT);
        }
        // A failed system call that left no reason must not read as success.
        return {false, err != 0 ? static_cast<SD_UINT32>(err) : SDERR_UNKNOWN};
    }
    if (result == 0) return {true, SDXlateSDMErr(ext_stat, 0)};
    return {false, SDERR_UNKNOWN};
}

VxSdCall::VxSdCall(const char* name, int device) : name_(name), device_(device) {
    vx_sd_line(VX_SD_TRACE, name_, device_, "): entered.");
}

VxSdCall::VxSdCall(const char* name, int device, const char* entry_line, const char* exit_text, uint8_t exit_base)
    : name_(name), device_(device), exit_text_(exit_text), exit_base_(exit_base) {
    vxdbg_line(VX_SD_TRACE, entry_line);
}

VxSdCall::~VxSdCall() {
    if (!vxdbg_on(VX_SD_TRACE)) return;
    if (exit_text_ != nullptr) {
        vxdbg_print(exit_text_, status_, exit_base_, 1);
    } else {
        vx_sd_line(VX_SD_TRACE, name_, device_, "): exiting. ret=", status_, VXDBG_HEX);
    }
}

vxapi_priv_database* VxSdCall::port() {
    vxapi_priv_database* rec = check_handle(static_cast<uint32_t>(device_));
    if (rec == nullptr) {
        if (vxdbg_on(VX_SD_ERROR)) {
            vxdbg_print(name_, 0, VXDBG_NONE, 0);
            vxdbg_print(": check_handle failed. handle=", static_cast<uint32_t>(device_), VXDBG_INT, 1);
        }
        done(SDERR_INVALID_HANDLE);
    }
    return rec;
}

bool VxSdCall::chip_gate(const vxapi_priv_database* rec, VxChipFlag flag, const char* refusal_line) {
    if (vx_chip_has(vxapi_device_id(rec), flag)) return true;
    if (refusal_line != nullptr) vxdbg_line(VX_SD_ERROR, refusal_line);
    done(SDERR_NOT_SUPPORTED);
    return false;
}

bool VxSdCall::physical_only(const vxapi_priv_database* rec) {
    if (rec != nullptr && rec->interface_type == VX_PORT_VIRTUAL) {
        vx_sd_line(VX_SD_ERROR, name_, device_, "): not a physical port.");
        done(SDERR_INVALID_REQUEST);
        return false;
    }
    return true;
}

bool VxSdCall::buffer_holds(uint32_t have, uint32_t need, SD_PUINT32 size_out) {
    if (have >= need) return true;
    vx_sd_line(VX_SD_ERROR, name_, device_, "): buffer too small. need=", need, VXDBG_DEC);
    if (size_out != nullptr) *size_out = need;
    done(SDERR_BUFFER_TOO_SMALL);
    return false;
}

bool VxSdCall::given(const void* pointer) {
    if (pointer != nullptr) return true;
    vx_sd_line(VX_SD_ERROR, name_, device_, "): no buffer given.");
    done(SDERR_INVALID_PARAMETER);
    return false;
}

vxapi_priv_database* vx_sd_adapter_port(vxapi_priv_database* rec) {
    if (rec != nullptr && rec->interface_type == VX_PORT_VIRTUAL && rec->parent != nullptr) return rec->parent;
    return rec;
}

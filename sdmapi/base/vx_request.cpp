// The driver request headers and small byte and text helpers.
#include "base/vx_request.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kSignature[8] = {'V', 'A', 'R', 'N', 'I', 'X', 0, 0};
constexpr uint16_t kAddrMode = 2;
constexpr uint16_t kVersionNew = 7;
constexpr uint16_t kVersionOld = 5;
constexpr uint64_t kVendorSpecificData = 2;

uint16_t hba_select_of(const vxapi_priv_database* rec) {
    return rec != nullptr ? static_cast<uint16_t>(rec->drvr_inst & 0xFFFF) : 0;
}

}  // namespace

// ---------------------------------------------------------------- headers

int vxapi_init_ext_ioctl_n(uint16_t sub_code, uint16_t instance, void* request, uint32_t request_len,
                           void* response, uint32_t response_len, const vxapi_priv_database* rec,
                           EXT_IOCTL* hdr) {
    if (hdr == nullptr) return 1;
    std::memset(static_cast<void*>(hdr), 0, sizeof *hdr);
    std::memcpy(hdr->Signature, kSignature, sizeof kSignature);
    hdr->AddrMode = kAddrMode;
    hdr->Version = kVersionNew;
    hdr->SubCode = sub_code;
    hdr->Instance = instance;
    hdr->RequestLen = request_len;
    hdr->ResponseLen = response_len;
    hdr->RequestAdr = vxapi_ptr_to_64bit(request);
    hdr->ResponseAdr = vxapi_ptr_to_64bit(response);
    hdr->VendorSpecificData = kVendorSpecificData;
    if (rec != nullptr) hdr->HbaSelect = hba_select_of(rec);
    return 0;
}

int vxapi_init_ext_ioctl_o(uint16_t sub_code, uint16_t instance, void* request, uint32_t request_len,
                           void* response, uint32_t response_len, const vxapi_priv_database* rec,
                           EXT_IOCTL_O* hdr) {
    if (hdr == nullptr) return 1;
    std::memset(static_cast<void*>(hdr), 0, sizeof *hdr);
    std::memcpy(hdr->Signature, kSignature, sizeof kSignature);
    hdr->AddrMode = kAddrMode;
    hdr->Version = kVersionOld;
    hdr->SubCode = sub_code;
    hdr->Instance = instance;
    hdr->RequestLen = request_len;
    hdr->ResponseLen = response_len;
    hdr->RequestAdr = request;
    hdr->ResponseAdr = response;
    hdr->VendorSpecificData = static_cast<uintptr_t>(kVendorSpecificData);
    if (rec != nullptr) hdr->HbaSelect = hba_select_of(rec);
    return 0;
}

uint32_t convert_ioctl(uint32_t code) { return 0xC0080000u | (code & 0xFFFFu); }

// ---------------------------------------------------------------- helpers

void vxapi_chg_endian(uint8_t* buf, uint32_t n) {
    if (buf == nullptr || n < 2) return;
    std::reverse(buf, buf + n);
}

int vxapi_is_wwn_zero(const uint8_t* wwn) {
    if (wwn == nullptr) return 1;
    for (int i = 0; i < 8; ++i) {
        if (wwn[i] != 0) return 0;
    }
    return 1;
}

// White space is the six characters of the C locale, whatever the process's
// locale says about bytes from 0x80 up.
int vxapi_is_all_spaces(const uint8_t* buf, uint32_t n) {
    if (n == 0) return 1;
    if (buf == nullptr) return 0;
    for (uint32_t i = 0; i < n; ++i) {
        const unsigned char c = buf[i];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') return 0;
    }
    return 1;
}

uint64_t vxapi_ptr_to_64bit(const void* ptr) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(ptr)); }

void* vxapi_64bit_to_ptr(uint64_t value) { return reinterpret_cast<void*>(static_cast<uintptr_t>(value)); }

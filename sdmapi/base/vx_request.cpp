// The driver request headers, the one send path of the ioctl road and the
// worker frame built on it, the two requests that set up a port, and small
// byte and text helpers.
#include "base/vx_request.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/vx_driver_records.h"
#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"
#include "transport/vx_sysfs.h"

namespace {

constexpr uint8_t kSignature[8] = {'V', 'A', 'R', 'N', 'I', 'X', 0, 0};
constexpr uint16_t kAddrMode = 2;
constexpr uint16_t kVersionNew = 7;
constexpr uint16_t kVersionOld = 5;
constexpr uint64_t kVendorSpecificData = 2;
constexpr uint32_t kDriverSpecificsLen = sizeof(EXT_LN_DRIVER_DATA);

bool uses_new_header(const vxapi_priv_database* rec) {
    return rec != nullptr && (rec->features & VX_FEAT_NEW_IOCTL) != 0;
}

uint16_t hba_select_of(const vxapi_priv_database* rec) {
    return rec != nullptr ? static_cast<uint16_t>(rec->drvr_inst & 0xFFFF) : 0;
}

// One trace line that starts with the worker's name.
void trace_named(uint32_t bits, const char* name, const char* text, uint64_t number) {
    if (!vxdbg_on(bits)) return;
    char line[256];
    std::snprintf(line, sizeof line, "%s%s", name != nullptr ? name : "", text);
    vxdbg_print(line, number, VXDBG_HEX, 1);
}

// The header of one request in the layout the port's driver takes.
class RequestHeader {
public:
    RequestHeader(const vxapi_priv_database* rec, const VxRequest& req)
        : rec_(rec), req_(req), new_layout_(uses_new_header(rec)) {}

    // Fills the header afresh; 0, or the builder's failure.
    int build() {
        void* request = const_cast<void*>(req_.request);
        int rc;
        if (new_layout_) {
            rc = vxapi_init_ext_ioctl_n(req_.sub_code, req_.instance, request, req_.request_len, req_.response,
                                        req_.response_len, rec_, &n_);
            if (rc == 0) n_.Reserved1 = req_.reserved1;
        } else {
            rc = vxapi_init_ext_ioctl_o(req_.sub_code, req_.instance, request, req_.request_len, req_.response,
                                        req_.response_len, rec_, &o_);
            if (rc == 0) o_.Reserved1 = req_.reserved1;
        }
        return rc;
    }

    void* data() { return new_layout_ ? static_cast<void*>(&n_) : static_cast<void*>(&o_); }

    // What the driver left in the header.
    void answer(VxReply* reply) const {
        if (new_layout_) {
            reply->status = n_.Status;
            reply->detail_status = n_.DetailStatus;
            reply->response_len = n_.ResponseLen;
            reply->instance = n_.Instance;
            reply->hba_select = n_.HbaSelect;
        } else {
            reply->status = o_.Status;
            reply->detail_status = o_.DetailStatus;
            reply->response_len = o_.ResponseLen;
            reply->instance = o_.Instance;
            reply->hba_select = o_.HbaSelect;
        }
    }

private:
    const vxapi_priv_database* rec_;
    const VxRequest& req_;
    bool new_layout_;
    EXT_IOCTL n_{};
    EXT_IOCTL_O o_{};
};

}  // namespace

// ---------------------------------------------------------------- headers and send path

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

// A port without the new header (and a request without a port) goes to the
// old driver, which takes the converted code.
int sdm_ioctl(int fd, uint32_t code, void* hdr, const vxapi_priv_database* rec) {
    const uint32_t sent = uses_new_header(rec) ? code : convert_ioctl(code);
    return vx::sys().ioctl(fd, sent, hdr);
}

// ---------------------------------------------------------------- the worker frame

int vxapi_send_request(const char* name, int fd, const vxapi_priv_database* rec, const VxRequest& req,
                       VxReply* reply) {
    VxReply unused;
    if (reply == nullptr) reply = &unused;
    *reply = VxReply{};

    RequestHeader hdr(rec, req);
    const int built = hdr.build();
    if (built != 0) {
        trace_named(VXDBG_ERROR | VXDBG_STEP, name, ": init_ext_ioctl error ", static_cast<uint32_t>(built));
        trace_named(VXDBG_STEP, name, ": exiting. status=", VX_RESULT_NOT_BUILT);
        return VX_RESULT_NOT_BUILT;
    }

    int result;
    int saved_errno = 0;
    unsigned resends = 0;
    for (;;) {
        result = sdm_ioctl(fd, vx_ioctl_code(req.command), hdr.data(), rec);
        saved_errno = errno;
        hdr.answer(reply);
        // Nothing is known to have arrived when the ioctl itself failed; the
        // status stays what the header holds, so callers test the result too.
        // A driver never delivers more than the caller's buffer holds.
        reply->reported_len = result == 0 ? reply->response_len : 0;
        reply->response_len = result == 0 ? std::min(reply->response_len, req.response_len) : 0;
        if (!req.retry_busy || reply->status != EXT_STATUS_BUSY || resends >= VX_BUSY_RESENDS) break;
        if (req.busy_trace != nullptr) vxdbg_line(VXDBG_ERROR | VXDBG_STEP, req.busy_trace);
        vx::sys().sleep(VX_BUSY_WAIT_SECONDS);
        ++resends;
        // The busy answer may have rewritten the lengths and the status: the
        // resend carries the request exactly as first built.
        hdr.build();
    }

    trace_named(VXDBG_STEP, name, ": exiting. status=", static_cast<uint32_t>(result));
    if (result != 0) errno = saved_errno;
    return result;
}

// ---------------------------------------------------------------- port set-up

int vxapi_set_instance(int fd, uint16_t instance, const vxapi_priv_database* rec, uint32_t* status,
                       uint16_t* host_no) {
    VxRequest req;
    req.command = EXT_CC_SET_INSTANCE;
    req.instance = instance;
    VxReply reply;
    const int result = vxapi_send_request("vxapi_set_instance", fd, rec, req, &reply);
    const int saved_errno = errno;
    if (status != nullptr) *status = reply.status;
    if (host_no != nullptr) *host_no = reply.hba_select;
    errno = saved_errno;
    return result;
}

int vxapi_get_driver_specifics(int fd, vxapi_priv_database* rec, void* response, uint32_t* status) {
    if (rec != nullptr && (rec->features & VX_FEAT_SYSFS) != 0) {
        return vxsysfs_get_driver_specifics(fd, rec, response, status);
    }
    VxRequest req;
    req.command = EXT_CC_DRIVER_SPECIFIC;
    req.response = response;
    req.response_len = response != nullptr ? kDriverSpecificsLen : 0;
    VxReply reply;
    const int result = vxapi_send_request("vxapi_get_driver_specifics", fd, rec, req, &reply);
    if (status != nullptr) *status = reply.status;
    return result;
}

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

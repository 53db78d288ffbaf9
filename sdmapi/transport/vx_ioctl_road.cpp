// The ioctl road: the one send path of the workers that reach the driver
// through its node, and the request that selects a driver instance. The
// vxapi_ names are those of the workers, their only callers.
#include "transport/vx_ioctl_road.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "base/vx_sddbg.h"
#include "platform/vx_platform.h"

namespace {

bool uses_new_header(const vxapi_priv_database* rec) {
    return rec != nullptr && (rec->features & VX_FEAT_NEW_IOCTL) != 0;
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

// The bytes of the request that lie in the response area, kept as first
// built: what a busy answer wrote there is cleared before the resend, and
// a request that shares its buffer with its response still sends its own.
class ResendArea {
public:
    explicit ResendArea(const VxRequest& req) : req_(req) {
        if (req.response == nullptr || req.request == nullptr) return;
        const auto* response = static_cast<const uint8_t*>(req.response);
        const auto* request = static_cast<const uint8_t*>(req.request);
        const uint8_t* from = std::max(response, request);
        const uint8_t* to = std::min(response + req.response_len, request + req.request_len);
        if (from >= to) return;
        shared_at_ = static_cast<size_t>(from - response);
        shared_.assign(from, to);
    }

    // The response area as the request first had it: zeros, but for the
    // request's own bytes.
    void restore() const {
        if (req_.response == nullptr || req_.response_len == 0) return;
        auto* response = static_cast<uint8_t*>(req_.response);
        std::memset(response, 0, req_.response_len);
        if (!shared_.empty()) std::memcpy(response + shared_at_, shared_.data(), shared_.size());
    }

private:
    const VxRequest& req_;
    size_t shared_at_ = 0;
    std::vector<uint8_t> shared_;
};

}  // namespace

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
    std::optional<ResendArea> area;
    if (req.retry_busy) area.emplace(req);
    for (;;) {
        result = sdm_ioctl(fd, vx_ioctl_code(req.command), hdr.data(), rec);
        saved_errno = errno;
        hdr.answer(reply);
        // Nothing is known to have arrived when the ioctl itself failed; the
        // status stays what the header holds, so callers test the result too.
        // A driver never delivers more than the caller's buffer holds.
        reply->reported_len = result == 0 ? reply->response_len : 0;
        reply->response_len = result == 0 ? std::min(reply->response_len, req.response_len) : 0;
        if (!req.retry_busy || reply->status != EXT_STATUS_BUSY) break;
        // What a busy answer wrote is never an answer, not even the last one.
        area->restore();
        reply->response_len = 0;
        if (resends >= VX_BUSY_RESENDS) break;
        if (req.busy_trace != nullptr) vxdbg_line(VXDBG_ERROR | VXDBG_STEP, req.busy_trace);
        vx::sys().sleep(VX_BUSY_WAIT_SECONDS);
        ++resends;
        // The busy answer may have rewritten the lengths and the status: the
        // resend carries the request exactly as first built.
        hdr.build();
    }

    // An OK answer that left part of its record unwritten is no record: the
    // bytes it lacks were never the driver's.
    const uint32_t record = std::min(req.record_len, req.response_len);
    if (result == 0 && reply->status == EXT_STATUS_OK && reply->response_len < record) {
        trace_named(VXDBG_ERROR | VXDBG_STEP, name, ": short answer. bytes delivered=", reply->response_len);
        reply->status = EXT_STATUS_DATA_UNDERRUN;
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

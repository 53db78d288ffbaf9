// The ioctl road: the one send path of every worker that reaches the driver
// through its node, and the request that selects a driver instance on it.
// The functions keep the vxapi_ names of the driver access core, whose
// workers are their only callers; no other transport uses this road.
#pragma once

#include <cstdint>

#include "base/vx_records.h"
#include "base/vx_request.h"

// ioctl(fd, code, header), with the code converted when the record lacks
// feature 0x2. Touches neither errno nor the header.
[[nodiscard]] int sdm_ioctl(int fd, uint32_t code, void* hdr, const vxapi_priv_database* rec);

// One request of a worker, and what the driver answered.
struct VxRequest {
    uint8_t command = 0;
    uint16_t sub_code = 0;
    uint16_t instance = 0;
    const void* request = nullptr;
    uint32_t request_len = 0;
    void* response = nullptr;
    uint32_t response_len = 0;
    // The first record_len bytes of the response are one record that the
    // driver fills whole. An OK answer that delivers fewer of them reads as a
    // data underrun (status 8): the bytes that did not come are the caller's
    // or the request's own, never the driver's values. 0: the worker judges
    // the length delivered itself.
    uint32_t record_len = 0;
    uint32_t reserved1 = 0;     // flash offset of flash and option ROM requests
    bool retry_busy = false;    // send again, 20 s apart, at most twice, while the driver is busy
    const char* busy_trace = nullptr;  // traced before each busy resend, when given
};

struct VxReply {
    uint32_t status = 0;
    uint32_t detail_status = 0;
    uint32_t response_len = 0;  // bytes delivered, never more than the request's response_len
    uint32_t reported_len = 0;  // ResponseLen as the driver wrote it (the length needed, with status 16)
    uint16_t instance = 0;      // Instance of the returned header
    uint16_t hba_select = 0;    // HbaSelect of the returned header
};

// The ioctl road of the worker frame: builds the header that the record's
// driver takes (EXT_IOCTL with feature 0x2, else EXT_IOCTL_O), sends it on
// the descriptor and copies the answer into the reply. Busy answers of a
// retrying request are waited out; what they wrote in the response area is
// cleared (but for the request's own bytes there) and never delivered. An OK
// answer short of the request's record gets status 8 (data underrun) in the
// reply. `name` is the worker's name for the trace.
// Result: 1 when the header could not be built, else the ioctl result (0, or
// -1 with errno from the kernel).
[[nodiscard]] int vxapi_send_request(const char* name, int fd, const vxapi_priv_database* rec, const VxRequest& req,
                                     VxReply* reply);

// Set instance (0xFE): selects the driver instance on the descriptor; the
// port's SCSI host number comes back.
[[nodiscard]] int vxapi_set_instance(int fd, uint16_t instance, const vxapi_priv_database* rec, uint32_t* status,
                                     uint16_t* host_no);

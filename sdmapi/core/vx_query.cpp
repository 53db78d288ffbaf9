// Queries, statistics and event requests through the driver.
#include "core/vx_query.h"

#include "core/vx_ioctl.h"
#include "core/vx_sddbg.h"
#include "transport/vx_sysfs.h"

namespace {

// A query without a request buffer into a response record.
int query(const char* name, int fd, vxapi_priv_database* rec, uint8_t command, uint16_t sub_code,
          uint16_t instance, void* response, uint32_t response_len, uint32_t* status) {
    VxRequest req;
    req.command = command;
    req.sub_code = sub_code;
    req.instance = instance;
    req.response = response;
    req.response_len = response_len;
    VxReply reply;
    const int result = vxapi_send_request(name, fd, rec, req, &reply);
    if (status != nullptr) *status = reply.status;
    return result;
}

bool is_sysfs_port(const vxapi_priv_database* rec) { return rec != nullptr && (rec->features & VX_FEAT_SYSFS) != 0; }

}  // namespace

int vxapi_query_chip(int fd, vxapi_priv_database* rec, EXT_CHIP* chip, uint32_t* status) {
    if (is_sysfs_port(rec)) return vxsysfs_query_chip(fd, rec, chip, status);
    return query("vxapi_query_chip", fd, rec, EXT_CC_QUERY, 8, 0, chip, sizeof(EXT_CHIP), status);
}

void vxapi_read_flash(int fd, vxapi_priv_database* rec, uint32_t offset, uint32_t length, void* buffer,
                      uint32_t size) {
    if (buffer == nullptr || length == 0 || size == 0 || length > size) {
        vxdbg_line(VXDBG_ERROR | VXDBG_STEP, "vxapi_read_flash: Invalid parameter");
        return;
    }
    VxRequest req;
    req.command = EXT_CC_READ_OPTROM;
    req.sub_code = 0xFFFF;
    req.request_len = length;  // no request buffer, but the length of the read
    req.response = buffer;
    req.response_len = length;
    req.reserved1 = offset;
    vxapi_send_request("vxapi_read_flash", fd, rec, req, nullptr);
}

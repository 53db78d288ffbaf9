// The netlink readers: a vendor command's reply, the driver's event-log reply
// and the FC transport's event datagrams, for a sysfs-mode port of host 5.
// Input: a mode byte. 0: how many body bytes the command reads, then its reply;
// 1: the event-log reply; 2: datagrams, each a part.
#include "base/vx_request.h"
#include "core/life/vx_load.h"
#include "core/life/vx_port_attach.h"
#include "fuzz_support.h"
#include "sim_adapters.h"
#include "sim_sysfs_adapters.h"
#include "transport/vx_netlink.h"
#include "transport/vx_sysfs.h"

namespace {

constexpr int kHost = 5;

sim::SimNetlink& peer() {
    static sim::SimNetlink& nl = []() -> sim::SimNetlink& {
        sim::install_sysfs_adapters(fuzz::host(), {.adapters = {sim::sysfs_adapter(0x2532, {kHost})}});
        uint32_t count = 0;
        FUZZ_CHECK(vxsysfs_init() == 0 && vxsysfs_supported_driver_exist(&count) == 0 && count == 1);
        gnl_fd = vxapi_nl_open();
        gnl_scsi_fc_fd = vxapi_nl_scsi_fc_open();
        FUZZ_CHECK(gnl_fd >= 0 && gnl_scsi_fc_fd >= 0);
        return fuzz::host().netlink();
    }();
    return nl;
}

void command(fuzz::Reader& in) {
    const uint8_t reads = in.byte();
    peer().fault({sim::NlFault::Raw, 0, in.rest()});
    const fuzz::Buffer out(reads, 0xEE);
    const VxNlCommand c{.cmd = 19, .reply_len = VX_NL_FC_MSG_HDR_LEN + reads, .out = out.data(), .out_len = reads};
    uint32_t status = 0xEE;
    const int rc = vxapi_nl_exchange(gnl_fd, kHost, c, &status);
    FUZZ_CHECK(rc == 1 || status == 0);
    FUZZ_CHECK(rc == 0 || status == 0xEE || status == EXT_STATUS_NO_DRIVER_SUPPORT);
}

// The records a reader filled: whole ones, at most 64.
void read_events(int (*reader)(int, EXT_ASYNC_EVENT*, uint32_t*)) {
    const fuzz::Buffer records(64 * sizeof(EXT_ASYNC_EVENT), 0);
    uint32_t size = 0;
    if (reader(kHost, records.as<EXT_ASYNC_EVENT>(), &size) == 0) {
        FUZZ_CHECK(size <= records.size() && size % sizeof(EXT_ASYNC_EVENT) == 0);
    }
}

fuzz::Bytes log_reply(uint32_t num_events) {
    vxfc_aen_log log{num_events, {{0x8011, {}}, {0x8015, {0x0102, 0x0304, 0}}, {0x8012, {}}}};
    fuzz::Bytes out(VX_NL_REPLY_BODY, 0);
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(&log), reinterpret_cast<const uint8_t*>(&log + 1));
    return fuzz::join(1, {out});
}

}  // namespace

std::vector<fuzz::Bytes> fuzz::seeds() {
    Bytes reply = {0, 8};  // mode 0: a command that reads 8 bytes
    reply.resize(2 + VX_NL_REPLY_BODY);
    reply.insert(reply.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    Bytes error = reply;
    error[2 + 4] = VX_NLMSG_ERROR;
    const int32_t enodev = -19;
    std::memcpy(&error[2 + 16], &enodev, sizeof enodev);
    Bytes transport = {2};
    for (uint32_t code = 0; code <= 6; ++code) {
        append(transport, framed(sim::fc_event(code == 6 ? 77 : kHost, code, 0x01020304)));
    }
    return {reply, error, log_reply(3), log_reply(300), transport};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    peer().clear_requests();
    fuzz::Traced traced;
    fuzz::Reader in(data, size);
    switch (in.byte() % 3) {
    case 0:
        command(in);
        break;
    case 1:
        peer().fault({sim::NlFault::Raw, 0, in.rest()});
        read_events(vxapi_nl_get_aen);
        break;
    default:
        while (!in.done()) peer().inject(in.part());
        read_events(vxapi_nl_scsi_fc_get_aen);
        // Whatever is left for the next input goes.
        uint8_t scrap[64];
        while (vxapi_rcv_msg(gnl_scsi_fc_fd, 40, vx_scsi_src_addr, scrap) >= 0) {
        }
        break;
    }
    return 0;
}

#include "sim_passthru.h"

#include <algorithm>
#include <cstring>

#include "core/io/vx_passthru.h"

namespace sim {
namespace {

SimReply scsi(SanFabric& f, const SimRequest& r) {
    EXT_FC_SCSI_PASSTHRU pass;  // the by-address record is the same but for the address
    EXT_SCSI_ADDR addr;
    if (r.request.size() < sizeof pass) return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
    std::memcpy(&pass, r.request.data(), sizeof pass);
    std::memcpy(&addr, r.request.data(), sizeof addr);
    if (pass.CdbLength > 16 || (r.sub_code != 0 && pass.FCScsiAddr.DestType != VX_DEST_WWPN)) {
        return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
    }
    auto it = std::find_if(f.ports.begin(), f.ports.end(), [&](const SanPort& p) {
        return r.sub_code != 0 ? std::memcmp(p.wwpn.data(), pass.FCScsiAddr.DestAddr.WWPN, 8) == 0
                               : p.bus == addr.Bus && p.target == addr.Target;
    });
    if (it == f.ports.end()) return SimReply::with_status(EXT_STATUS_DEV_NOT_FOUND);
    const bool out = pass.Direction == VX_SCSI_DIR_OUT, in = pass.Direction == VX_SCSI_DIR_IN;
    const Bytes dout = out && r.response_in ? Bytes(r.response_in, r.response_in + r.response_capacity) : Bytes{};
    ScsiAnswer a = it->scsi.execute(r.sub_code != 0 ? pass.FCScsiAddr.Lun : addr.Lun,
                                    Bytes(pass.Cdb, pass.Cdb + pass.CdbLength), dout, in ? r.response_capacity : 0);
    SimReply reply = SimReply::with_bytes(a.data);
    if (a.host_status != 0) {
        reply.status = a.resid > 0 ? EXT_STATUS_DATA_UNDERRUN : EXT_STATUS_ERR;
    } else if (a.driver_status != 0) {
        reply.status = EXT_STATUS_ERR;
    } else if (a.status != 0) {
        reply.status = EXT_STATUS_SCSI_STATUS;
        reply.detail_status = a.status;
        pass.SenseLength = static_cast<uint16_t>(std::min<size_t>(a.sense.size(), 256));  // whatever the room
        std::copy_n(a.sense.begin(), pass.SenseLength, pass.SenseData);
        reply.request_update.resize(sizeof pass);
        std::memcpy(reply.request_update.data(), &pass, sizeof pass);
    } else if (a.resid < 0) {
        reply.status = EXT_STATUS_DATA_OVERRUN;
    }
    return reply;
}

SimReply loopback(const SimRequest& r) {
    INT_LOOPBACK_REQ q;
    INT_LOOPBACK_RSP s;
    if (r.request.size() < sizeof q || r.response_capacity < sizeof s) {
        return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
    }
    std::memcpy(&q, r.request.data(), sizeof q);
    std::memcpy(&s, r.response_in, sizeof s);
    if (q.BufferLength > s.BufferLength) return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
    // The driver reaches the caller's transmit and receive buffers by address;
    // a test of no bytes may name none.
    if (q.BufferLength != 0) {
        std::memcpy(vxapi_64bit_to_ptr(s.BufferAddress), vxapi_64bit_to_ptr(q.BufferAddress), q.BufferLength);
    }
    s.CompletionStatus = 0x4000;
    s.CommandSent = 0x45;
    return SimReply::with_record(s);
}

}  // namespace

SanPort* SanFabric::find(const uint8_t* wwpn) {
    for (SanPort& p : ports) {
        if (std::memcmp(p.wwpn.data(), wwpn, 8) == 0) return &p;
    }
    return nullptr;
}

Bytes SanFabric::ct(const Bytes& iu) const {
    if (iu.size() < 16) return {};
    Bytes a(iu.begin(), iu.begin() + 16);
    const bool directory = iu[4] == 0xFC;
    a[8] = 0x80, a[9] = directory ? 0x02 : 0x01;  // FS_ACC / FS_RJT
    if (!directory) a[13] = 0x0B;                 // command not supported
    for (size_t i = 0; directory && i < ports.size(); ++i) {
        a.insert(a.end(), {static_cast<uint8_t>(i + 1 == ports.size() ? 0x80 : 0), 0x01, 0x00,
                           static_cast<uint8_t>(i + 1)});
    }
    return a;
}

Bytes SanFabric::els(const Bytes& payload) const {
    const Bytes acc = {0x02, 0, 0, 0}, rjt = {0x01, 0, 0, 0, 0, 0x0B, 0, 0};
    if (payload.empty()) return rjt;
    if (payload[0] == 0x10) {  // ECHO
        if (reject_echo) return {0x01, 0, 0, 0, 0, 0x09, 0, 0};
        Bytes a = acc;
        a.insert(a.end(), payload.begin() + std::min<size_t>(4, payload.size()), payload.end());
        return a;
    }
    if (payload[0] != 0x0F || reject_rls) return rjt;  // RLS: link failures, sync and signal losses, ... as 1..6
    Bytes a(acc.size() + 6 * 4, 0);
    a[0] = acc[0];
    for (size_t i = 0; i < 6; ++i) a[acc.size() + 4 * i + 3] = static_cast<uint8_t>(i + 1);
    return a;
}

void install_passthru_handlers(SimDriver& driver, SanFabric& f) {
    driver.on(EXT_CC_SEND_SCSI_PASSTHRU, [&f](const SimRequest& r) { return scsi(f, r); });
    driver.on(EXT_CC_SEND_CT_PASSTHRU, [&f](const SimRequest& r) {
        if (r.request.size() < 16) return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
        return SimReply::with_bytes(f.ct(r.request));
    });
    driver.on(EXT_CC_SEND_ELS_PASSTHRU, [&f](const SimRequest& r) {
        if (r.request.size() <= sizeof(EXT_ELS_PT_REQ)) return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
        if (f.find(r.request.data() + 8) == nullptr) return SimReply::with_status(EXT_STATUS_DEV_NOT_FOUND);
        return SimReply::with_bytes(f.els(Bytes(r.request.begin() + sizeof(EXT_ELS_PT_REQ), r.request.end())));
    });
    driver.on(EXT_CC_SEND_RNID, [&f](const SimRequest&) { return SimReply::with_bytes(f.data[0x6D]); });
    for (uint16_t sub : {8, 10, 0x6D}) {
        driver.on(EXT_CC_GET_DATA, sub, [&f, sub](const SimRequest&) {
            auto it = f.data.find(sub);
            return it != f.data.end() ? SimReply::with_bytes(it->second) : SimReply::with_status(EXT_STATUS_NO_DATA);
        });
        driver.on(EXT_CC_SET_DATA, sub, [&f, sub](const SimRequest& r) {
            f.data[sub] = r.request;
            return SimReply{};
        });
    }
    driver.on(EXT_CC_LUN_DATA, [&f](const SimRequest& r) {
        const bool ok = r.request.size() == sizeof(FO_LUN_DATA_INPUT) && r.request[0] == r.port->instance;
        return ok ? SimReply::with_bytes(f.lun_data) : SimReply::with_status(EXT_STATUS_INVALID_PARAM);
    });
    driver.on(EXT_CC_LOOPBACK, loopback);
}

}  // namespace sim

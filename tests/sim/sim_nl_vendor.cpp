#include "sim_nl_vendor.h"

#include <cstring>

#include "base/vx_port_speed.h"
#include "vxsdm_types.h"

namespace sim {
namespace {

template <class T>
T body_of(const NlRequest& r) {
    T v{};
    std::memcpy(&v, r.body(), sizeof v);
    return v;
}

// The record, then len bytes of data.
template <class T>
NlReply reply(const T& record, const uint8_t* data = nullptr, size_t len = 0) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    Bytes b(bytes, bytes + sizeof record);
    if (data != nullptr) b.insert(b.end(), data, data + len);
    return {0, b};
}

// Bytes [at, at + len) of whole, or nullptr outside it.
uint8_t* span(Bytes& whole, uint64_t at, uint64_t len) {
    return at + len <= whole.size() ? whole.data() + at : nullptr;
}

NlReply answer(NlVendorHost& s, const NlRequest& r) {
    const NlReply refused{1, {}};
    auto serdes = [&s](auto reg) {  // either record form
        uint32_t& val = s.serdes[static_cast<uint32_t>(reg.addr)];
        if (reg.cmd == VXA_SERDES_WRITE) val = reg.val;
        reg.val = static_cast<decltype(reg.val)>(val);
        return reply(reg);
    };
    switch (r.cmd) {
    case VX_NL_CMD_TARNO_UPDATE_FW: {
        const auto h = body_of<msg_update_fw>(r);
        if (h.offset == 0) s.image.assign(h.fw_len, 0);
        uint8_t* at = span(s.image, h.offset, h.len);
        if (at == nullptr || h.fw_len != s.image.size()) return refused;
        std::memcpy(at, r.body() + sizeof h, h.len);
        return {};
    }
    case VX_NL_CMD_TARNO_MGMT: {
        const auto h = body_of<vxa84_msg_mgmt>(r);
        uint8_t* at = span(s.memory, h.mgmtp.mem.start_addr, h.len);  // also the information's type
        if (at == nullptr) return refused;
        if (h.cmd == TARNO_MGMT_WRITE_MEM) std::memcpy(at, r.body() + sizeof h, h.len);
        const Bytes none(h.len);
        return reply(h, h.cmd == TARNO_MGMT_READ_MEM || h.cmd == TARNO_MGMT_GET_INFO ? at : none.data(), h.len);
    }
    case VX_NL_CMD_LOOPBACK_SEND:
    case VX_NL_CMD_LOOPBACK_READ: {
        auto h = body_of<msg_loopback>(r);
        if (h.offset == 0 && r.cmd == VX_NL_CMD_LOOPBACK_SEND) s.loop.assign(h.total_len, 0);
        uint8_t* at = span(s.loop, h.offset, h.len);
        if (at == nullptr) return refused;
        if (r.cmd == VX_NL_CMD_LOOPBACK_READ) return reply(h, at, h.len);
        std::memcpy(at, r.body() + sizeof h, h.len);
        h.crc_err_cnt = static_cast<uint16_t>(h.offset / VX_NL_CHUNK + 1);
        h.cmd_sent = 0x0A;
        return reply(h);
    }
    case VX_NL_CMD_PORT_PARAM: {
        auto p = body_of<vxa_port_param>(r);
        uint64_t wwpn = 0;
        std::memcpy(&wwpn, p.dest_addr, sizeof wwpn);
        if (s.speeds.count(wwpn) == 0) return refused;
        if (p.mode != VX_PORT_PARAM_GET) s.speeds[wwpn] = p.speed;
        p.speed = s.speeds[wwpn];
        return reply(p);
    }
    case VX_NL_CMD_FCP_PRIO: {
        const auto p = body_of<vxa_fcp_prio_param>(r);
        const uint8_t* cfg = r.body() + sizeof p;
        if (p.oper == VX_NL_FCP_PRIO_SET) s.prio_cfg.assign(cfg, cfg + p.fcp_prio_cfg_size);
        if (p.oper != VX_NL_FCP_PRIO_GET) return {};
        s.prio_cfg.resize(p.fcp_prio_cfg_size);
        return reply(p, s.prio_cfg.data(), s.prio_cfg.size());
    }
    case VX_NL_CMD_FRU_STATUS_WRITE:
        s.status_reg = body_of<vxa_status_reg>(r);
        return reply(s.status_reg);
    case VX_NL_CMD_FRU_STATUS_READ:
        return reply(s.status_reg);
    case VX_NL_CMD_I2C_WRITE:
    case VX_NL_CMD_I2C_READ: {
        auto a = body_of<vxa_i2c_access>(r);
        Bytes& device = s.i2c[a.device];
        device.resize(0x10000);
        uint8_t* at = span(device, a.offset, a.length);
        if (at == nullptr || a.length > VXA_I2C_MAX) return refused;
        if (r.cmd == VX_NL_CMD_I2C_WRITE) std::memcpy(at, a.buffer, a.length);
        std::memcpy(a.buffer, at, a.length);
        return reply(a);
    }
    case VX_NL_CMD_SERDES_REG:
        return serdes(body_of<vxa_serdes_reg>(r));
    case VX_NL_CMD_SERDES_REG_EX:
        return serdes(body_of<vxa_serdes_reg_ex>(r));
    default:
        return {};  // reset, diagnostic mode, FRU versions: the request log keeps them
    }
}

}  // namespace

void serve_vendor_commands(SimNetlink& nl, unsigned host_no, NlVendorHost& s) {
    for (uint32_t cmd : {1, 2, 3, 5, 6, 7, 8, 9, 11, 12, 13, 16, 17, 19, 20}) {
        nl.on(host_no, cmd, [&s](const NlRequest& r) { return answer(s, r); });
    }
}

}  // namespace sim

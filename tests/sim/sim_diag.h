// The driver's diagnostic and tuning commands (0x19 to 0x1F, 0x22 to 0x25) as plain state: FCP priority and its
// configuration, the diagnostic mode, the board temperature, the FRU version records and its status register at
// device 0xE0, the SerDes parameters and registers, NPIV QoS, the FCE trace and the QoS table.
#pragma once

#include <map>

#include "core/vx_diag.h"
#include "flash_builder.h"
#include "sim_driver.h"

namespace sim {

struct SimDiag {
    int qos_flag = -1, diag_mode = -1, npiv_enabled = -1;
    Bytes qos_config, npiv_config, npiv_perf, npiv_list, qos_table, serdes_params, fce, fru_versions;
    EXT_BOARD_TEMP temp{};
    uint8_t fru_status = 0;             // the register at device 0xE0
    std::vector<uint8_t> fru_written;   // every value written to it
    int fru_calls = 0, fru_fail = 0;    // the FRU request numbered fru_fail (from 1) answers status 1, doing nothing
    std::map<uint32_t, uint32_t> serdes;  // SerDes registers by address

    void attach(SimDriver& d) {
        d.on(EXT_CC_QOS, [this](const SimRequest& r) { return qos(r); });
        d.on(EXT_CC_RESET_DIAG_MODE, [this](const SimRequest& r) { return diag_mode = r.sub_code, SimReply{}; });
        d.on(EXT_CC_BOARD_TEMP, [this](const SimRequest&) { return SimReply::with_record(temp); });
        d.on(EXT_CC_FRU, [this](const SimRequest& r) { return fru(r); });
        d.on(EXT_CC_SERDES_PARAMS, [this](const SimRequest&) { return bytes(serdes_params); });
        d.on(EXT_CC_NPIV_QOS, [this](const SimRequest& r) { return npiv(r); });
        d.on(EXT_CC_NPIV_QOS_LIST, [this](const SimRequest&) { return bytes(npiv_list); });
        d.on(EXT_CC_FCE_TRACE, [this](const SimRequest&) { return bytes(fce); });
        d.on(EXT_CC_SERDES_REG, [this](const SimRequest& r) { return serdes_reg<vxa_serdes_reg>(r); });
        d.on(EXT_CC_SERDES_REG_EX, [this](const SimRequest& r) { return serdes_reg<vxa_serdes_reg_ex>(r); });
        d.on(EXT_CC_QOS_STATE, [this](const SimRequest&) { return bytes(qos_table); });
    }
    static SimReply bytes(const Bytes& b) {
        SimReply r;
        r.response = b;
        r.reported_len = static_cast<uint32_t>(b.size());
        return r;
    }
    SimReply qos(const SimRequest& r) {
        if (r.sub_code == 2) return bytes(qos_config);
        if (r.sub_code == 3) qos_config = r.request; else qos_flag = r.sub_code;
        return {};
    }
    SimReply npiv(const SimRequest& r) {
        switch (r.sub_code) {
            case 2: npiv_config = r.request; return {};
            case 3: return bytes(npiv_config);
            case 4: case 5: npiv_enabled = r.sub_code == 4; return {};
            case 6: return bytes(npiv_perf);
            default: return SimReply::with_status(EXT_STATUS_UNSUPPORTED_SUBCODE);
        }
    }
    SimReply fru(const SimRequest& r) {
        if (++fru_calls == fru_fail) return SimReply::with_status(EXT_STATUS_ERR);
        if (r.sub_code == 1) return fru_versions = r.request, SimReply{};
        vxa_status_reg reg;
        std::memcpy(&reg, r.request.data(), sizeof reg);
        if (reg.field_address.device_address != 0xE0) return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
        if (r.sub_code == 3) return fru_status = reg.status_reg, fru_written.push_back(reg.status_reg), SimReply{};
        reg.status_reg = fru_status;
        return SimReply::with_record(reg);
    }
    template <class Reg>
    SimReply serdes_reg(const SimRequest& r) {
        Reg reg;
        std::memcpy(&reg, r.request.data(), sizeof reg);
        uint32_t& val = serdes[static_cast<uint32_t>(reg.addr)];
        if (reg.cmd == VXA_SERDES_WRITE) val = reg.val; else reg.val = static_cast<decltype(reg.val)>(val);
        return SimReply::with_record(reg);
    }
};

}  // namespace sim

// The driver's diagnostic and tuning commands that keep state: FCP priority (0x19), the diagnostic mode (0x1A),
// the FRU version records and status register at device 0xE0 (0x1C), NPIV QoS (0x1E) and the SerDes registers
// (0x23, 0x24). The board temperature, SerDes parameters, NPIV QoS list, FCE trace and QoS table (0x1B, 0x1D,
// 0x1F, 0x22, 0x25) and NPIV performance are canned answers: answer() puts them on a port.
#pragma once

#include <algorithm>
#include <map>

#include "core/io/vx_diag.h"
#include "flash_builder.h"
#include "sim_driver.h"

namespace sim {

struct SimDiag {
    int qos_flag = -1, diag_mode = -1;
    Bytes qos_config, npiv_config, fru_versions;
    uint8_t fru_status = 0;               // the register at device 0xE0
    std::vector<uint8_t> fru_written;     // every value written to it
    int fru_calls = 0, fru_fail = 0;      // the FRU request numbered fru_fail (from 1) answers status 1, doing nothing
    size_t fru_read_bytes = sizeof(vxa_status_reg);  // of its record a status read delivers, with status 0
    std::map<uint32_t, uint32_t> serdes;  // SerDes registers by address

    static void answer(SimPort& port, const Bytes& b) {
        for (auto key : {std::pair<uint8_t, uint16_t>{0x1B, 0}, {0x1D, 0}, {0x1E, 6}, {0x1F, 0}, {0x22, 0}, {0x25, 0}})
            port.records[key] = b;
    }
    void attach(SimDriver& d) {
        d.on(EXT_CC_QOS, [this](const SimRequest& r) { return qos(r); });
        d.on(EXT_CC_RESET_DIAG_MODE, [this](const SimRequest& r) { return diag_mode = r.sub_code, SimReply{}; });
        d.on(EXT_CC_FRU, [this](const SimRequest& r) { return fru(r); });
        for (uint16_t sub : {2, 3, 4, 5}) d.on(EXT_CC_NPIV_QOS, sub, [this](const SimRequest& r) { return npiv(r); });
        d.on(EXT_CC_SERDES_REG, [this](const SimRequest& r) { return serdes_reg<vxa_serdes_reg>(r); });
        d.on(EXT_CC_SERDES_REG_EX, [this](const SimRequest& r) { return serdes_reg<vxa_serdes_reg_ex>(r); });
    }
    SimReply qos(const SimRequest& r) {
        if (r.sub_code == 2) return SimReply::with_bytes(qos_config);
        if (r.sub_code == 3) qos_config = r.request; else qos_flag = r.sub_code;
        return {};
    }
    SimReply npiv(const SimRequest& r) {
        if (r.sub_code == 3) return SimReply::with_bytes(npiv_config);
        if (r.sub_code == 2) npiv_config = r.request;
        return {};
    }
    SimReply fru(const SimRequest& r) {
        if (++fru_calls == fru_fail) return SimReply::with_status(EXT_STATUS_ERR);
        if (r.sub_code == 1) return fru_versions = r.request, SimReply{};
        vxa_status_reg reg;
        std::memcpy(&reg, r.request.data(), sizeof reg);
        if (reg.field_address.device_address != 0xE0) return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
        if (r.sub_code == 3) return fru_status = reg.status_reg, fru_written.push_back(reg.status_reg), SimReply{};
        reg.status_reg = fru_status;
        SimReply read = SimReply::with_record(reg);
        read.response.resize(std::min(read.response.size(), fru_read_bytes));
        return read;
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

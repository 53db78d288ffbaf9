// The driver's Tarno controller (0x17) and i2c devices (0x20, the device model of the bsg road). Requests are taken
// as the library sends them. Tarno requests name the caller's image and data by 64-bit address: the driver reads
// and writes through them.
#pragma once

#include <cstring>
#include <optional>

#include "base/vx_request.h"
#include "core/io/vx_side.h"
#include "sim_sysfs_attrs.h"

namespace sim {

struct SimSide {
    explicit SimSide(SimI2c& devices) : i2c(devices) {}
    SimI2c& i2c;
    std::vector<std::pair<uint16_t, uint16_t>> i2c_pieces;  // (offset, length) of every i2c request
    // A driver that moves each piece as asked but writes this length back into the record it answers, from the
    // piece numbered answered_from (from 0) on.
    std::optional<uint16_t> answered_length;
    size_t answered_from = 0;
    // ResponseLen answered for every piece, whatever the record written.
    std::optional<uint32_t> reported_len;
    uint32_t tarno_version = 0;
    Bytes tarno_image, tarno_memory;  // management operations 0 and 3 read the memory, 1 and 2 write it
    Bytes tarno_request;              // the last SD_A84_MGT as sent

    void attach(SimDriver& driver) {
        driver.on(EXT_CC_I2C, [this](const SimRequest& r) { return i2c_piece(r); });
        driver.on(EXT_CC_CNA_MGMT, [this](const SimRequest& r) { return tarno(r); });
    }
    SimReply i2c_piece(const SimRequest& r) {
        vxa_i2c_access a;
        std::memcpy(&a, r.request.data(), sizeof a);
        i2c_pieces.emplace_back(a.offset, a.length);
        Bytes& m = i2c.memory[a.device];
        if (a.length > 64 || size_t{a.offset} + a.length > m.size())
            return SimReply::with_status(EXT_STATUS_INVALID_PARAM);
        if (r.sub_code == 1) std::copy_n(a.buffer, a.length, m.begin() + a.offset);
        if (r.sub_code == 2) std::copy_n(m.begin() + a.offset, a.length, a.buffer);
        if (answered_length && i2c_pieces.size() > answered_from) a.length = *answered_length;
        SimReply reply = SimReply::with_record(a);
        reply.reported_len = reported_len;
        return reply;
    }
    SimReply tarno(const SimRequest& r) {
        SD_A84_MGT a;
        std::memcpy(&a, r.request.data(), sizeof a);
        tarno_request = r.request;
        const A84_UPDATE_FW& u = a.sp.A84UpdateFw;
        const A84_MANAGE_INFO& m = a.sp.A84ManageInfo;
        auto* data = static_cast<uint8_t*>(vxapi_64bit_to_ptr(r.sub_code == 3 ? u.pFwDataBytes : m.pDataBytes));
        uint32_t start;
        std::memcpy(&start, m.Parameters, sizeof start);
        if (r.sub_code == 2) a.sp.A84GetFwVer.FwVersion = tarno_version;
        if (r.sub_code == 3) tarno_image.assign(data, data + u.TotalByteCount);
        if (r.sub_code == 4) {  // within the memory
            const bool read = m.Operation == 0 || m.Operation == 3;
            uint8_t* memory = tarno_memory.data() + start;
            std::copy_n(read ? memory : data, m.TotalByteCount, read ? data : memory);
        }
        return SimReply::with_record(a);
    }
};

}  // namespace sim

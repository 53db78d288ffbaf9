#include "sim_scsi_target.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

uint32_t be(const std::vector<uint8_t>& b, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = at; i < at + n; ++i) v = (v << 8) | (i < b.size() ? b[i] : 0);
    return v;
}

void put_be(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

ScsiAnswer check_condition(std::vector<uint8_t> sense, size_t room) {
    return ScsiAnswer{kScsiCheckCondition, 0, 0, std::move(sense), {}, static_cast<int32_t>(room)};
}

// Data in, cut to the allocation length and then to the room.
ScsiAnswer data_in(std::vector<uint8_t> d, size_t allocation, size_t room) {
    d.resize(std::min(d.size(), allocation));
    const auto resid = static_cast<int32_t>(room) - static_cast<int32_t>(d.size());
    d.resize(std::min(d.size(), room));
    return ScsiAnswer{0, 0, 0, {}, std::move(d), resid};
}

}  // namespace

std::vector<uint8_t> fixed_sense(uint8_t asc) { return {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, 0, 0, 0, 0, 0}; }

std::vector<uint8_t> descriptor_sense(uint8_t asc) { return {0x72, 5, asc, 0, 0, 0, 0, 0}; }

ScsiAnswer ScsiTarget::execute(uint32_t lun, const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& dout,
                               size_t room) {
    cdbs.emplace_back(lun, cdb);
    if (!injected.empty()) {
        ScsiAnswer a = injected.front();
        injected.pop_front();
        return a;
    }
    const uint8_t op = cdb.empty() ? 0xFF : cdb[0];
    const auto found = luns.find(lun);
    if (op == 0x12) {  // INQUIRY: direct-access device, or no LUN here
        std::vector<uint8_t> d(36, ' ');
        d[0] = found != luns.end() ? 0x00 : 0x7F;
        d[1] = d[5] = d[6] = d[7] = 0, d[2] = 5, d[3] = 2, d[4] = 31;
        std::memcpy(&d[8], "SIM     TARGET", 14);
        return data_in(std::move(d), be(cdb, 3, 2), room);
    }
    if (op == 0xA0) {  // REPORT LUNS: peripheral addressing below 256, flat space above
        if (report_luns == Refusal::FixedSense) return check_condition(fixed_sense(0x20), room);
        if (report_luns == Refusal::DescriptorSense) return check_condition(descriptor_sense(0x20), room);
        std::vector<uint8_t> d(8 + 8 * luns.size());
        put_be(d.data(), static_cast<uint32_t>(8 * luns.size()));
        size_t at = 8;
        for (const auto& l : luns) {
            d[at] = l.first < 256 ? 0 : static_cast<uint8_t>(0x40 | ((l.first >> 8) & 0x3F));
            d[at + 1] = static_cast<uint8_t>(l.first);
            at += 8;
        }
        return data_in(std::move(d), be(cdb, 6, 4), room);
    }
    if (found == luns.end()) return check_condition(fixed_sense(0x25), room);  // LUN not supported
    Lun& l = found->second;
    if (op == 0x00) return ScsiAnswer{};  // TEST UNIT READY
    if (op == 0x25) {                     // READ CAPACITY(10)
        std::vector<uint8_t> d(8);
        put_be(d.data(), l.blocks - 1);
        put_be(d.data() + 4, l.block_size);
        return data_in(std::move(d), 8, room);
    }
    if (op != 0x28 && op != 0x2A) return check_condition(fixed_sense(0x20), room);  // invalid opcode
    const uint64_t lba = be(cdb, 2, 4), count = be(cdb, 7, 2);
    if (lba + count > l.blocks) return check_condition(fixed_sense(0x21), room);  // LBA out of range
    l.media.resize(static_cast<size_t>(l.blocks) * l.block_size);
    const auto at = l.media.begin() + static_cast<ptrdiff_t>(lba * l.block_size);
    const size_t len = static_cast<size_t>(count * l.block_size);
    if (op == 0x28) return data_in(std::vector<uint8_t>(at, at + static_cast<ptrdiff_t>(len)), len, room);
    const size_t moved = std::min(len, dout.size());
    std::copy_n(dout.begin(), moved, at);
    return ScsiAnswer{0, 0, 0, {}, {}, static_cast<int32_t>(dout.size() - moved)};
}

}  // namespace sim

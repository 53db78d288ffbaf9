#include "sim_scsi_target.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kReportLuns = 0xA0;

constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscLunNotSupported = 0x25;

uint32_t be(const std::vector<uint8_t>& b, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

void put_be(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

ScsiAnswer check_condition(std::vector<uint8_t> sense, size_t din_room) {
    ScsiAnswer a;
    a.status = kScsiCheckCondition;
    a.sense = std::move(sense);
    a.resid = static_cast<int32_t>(din_room);
    return a;
}

// Data in of `produced` bytes into room for din_room, cut to the command's
// allocation length.
ScsiAnswer data_in(std::vector<uint8_t> produced, size_t allocation, size_t din_room) {
    ScsiAnswer a;
    if (produced.size() > allocation) produced.resize(allocation);
    a.resid = static_cast<int32_t>(din_room) - static_cast<int32_t>(produced.size());
    if (produced.size() > din_room) produced.resize(din_room);
    a.data = std::move(produced);
    return a;
}

std::vector<uint8_t> inquiry_data(bool present) {
    std::vector<uint8_t> d(36, ' ');
    d[0] = present ? 0x00 : 0x7F;  // direct access, or no LUN here
    d[1] = 0;
    d[2] = 5;
    d[3] = 2;
    d[4] = 31;
    d[5] = d[6] = d[7] = 0;
    std::memcpy(&d[8], "SIM", 3);
    std::memcpy(&d[16], "TARGET", 6);
    std::memcpy(&d[32], "0001", 4);
    return d;
}

std::vector<uint8_t> report_luns_data(const std::map<uint32_t, ScsiTarget::Lun>& luns) {
    std::vector<uint8_t> d(8 + 8 * luns.size(), 0);
    put_be(d, 0, static_cast<uint32_t>(8 * luns.size()));
    size_t at = 8;
    for (const auto& entry : luns) {
        const uint32_t lun = entry.first;
        d[at] = lun < 256 ? 0 : static_cast<uint8_t>(0x40 | ((lun >> 8) & 0x3F));
        d[at + 1] = static_cast<uint8_t>(lun);
        at += 8;
    }
    return d;
}

}  // namespace

std::vector<uint8_t> fixed_sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> s(18, 0);
    s[0] = 0x70;
    s[2] = key;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    return s;
}

std::vector<uint8_t> descriptor_sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    return {0x72, key, asc, ascq, 0, 0, 0, 0};
}

ScsiAnswer ScsiTarget::execute(uint32_t lun, const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& dout,
                               size_t din_room) {
    cdbs.emplace_back(lun, cdb);
    if (!injected.empty()) {
        ScsiAnswer a = injected.front();
        injected.pop_front();
        return a;
    }
    const uint8_t op = cdb.empty() ? 0xFF : cdb[0];
    auto found = luns.find(lun);
    if (op == kInquiry) return data_in(inquiry_data(found != luns.end()), be(cdb, 3, 2), din_room);
    if (op == kReportLuns) {
        if (report_luns == Refusal::FixedSense) {
            return check_condition(fixed_sense(kSenseIllegalRequest, kAscInvalidOpcode), din_room);
        }
        if (report_luns == Refusal::DescriptorSense) {
            return check_condition(descriptor_sense(kSenseIllegalRequest, kAscInvalidOpcode), din_room);
        }
        return data_in(report_luns_data(luns), be(cdb, 6, 4), din_room);
    }
    if (found == luns.end()) return check_condition(fixed_sense(kSenseIllegalRequest, kAscLunNotSupported), din_room);
    Lun& l = found->second;
    if (op == kTestUnitReady) return ScsiAnswer{};
    if (op == kReadCapacity) {
        std::vector<uint8_t> d(8);
        put_be(d, 0, l.blocks - 1);
        put_be(d, 4, l.block_size);
        return data_in(std::move(d), 8, din_room);
    }
    if (op == kRead10 || op == kWrite10) {
        const uint64_t lba = be(cdb, 2, 4);
        const uint64_t count = be(cdb, 7, 2);
        if (lba + count > l.blocks) {
            return check_condition(fixed_sense(kSenseIllegalRequest, kAscLbaOutOfRange), din_room);
        }
        l.media.resize(static_cast<size_t>(l.blocks) * l.block_size);
        const size_t at = static_cast<size_t>(lba * l.block_size);
        const size_t len = static_cast<size_t>(count * l.block_size);
        if (op == kRead10) {
            return data_in(std::vector<uint8_t>(l.media.begin() + at, l.media.begin() + at + len), len, din_room);
        }
        const size_t moved = std::min(len, dout.size());
        std::copy_n(dout.begin(), moved, l.media.begin() + at);
        ScsiAnswer a;
        a.resid = static_cast<int32_t>(dout.size() - moved);
        return a;
    }
    return check_condition(fixed_sense(kSenseIllegalRequest, kAscInvalidOpcode), din_room);
}

}  // namespace sim

#include "sim_regions.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace sim {

namespace {

constexpr uint8_t kCmdQuery = 0x00;
constexpr uint16_t kQueryAdapterVersions = 10;
constexpr uint8_t kCmdActivate = 0x18;
constexpr uint16_t kFirstActivation = 1;
constexpr uint16_t kLastActivation = 5;
constexpr uint32_t kStatusInvalidParam = 6;
constexpr uint8_t kCmdUpdateCaps = 0x26;
constexpr uint16_t kCapsSend = 2;

constexpr size_t kListHead = 8;
constexpr size_t kEntrySize = 24;
constexpr size_t kVersionBytes = 8;
constexpr size_t kVersionAt = 17;

}  // namespace

RegionVersion running_version(uint16_t region, const Bytes& version) { return {region, 0, 1, version}; }

Bytes region_version_list(const std::vector<RegionVersion>& entries) {
    Bytes b(kListHead + kEntrySize * entries.size(), 0);
    put_le32(b, 0, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const RegionVersion& e = entries[i];
        const size_t at = kListHead + kEntrySize * i;
        put_le16(b, at, e.region);
        put_le16(b, at + 2, e.sub_region);
        put_le16(b, at + 4, e.location);
        put_le16(b, at + 6, static_cast<uint16_t>(e.version.size()));
        const size_t n = std::min(e.version.size(), kVersionBytes);
        std::copy_n(e.version.begin(), n, b.begin() + static_cast<std::ptrdiff_t>(at + 8));
    }
    return b;
}

void set_region_versions(SimPort& port, const std::vector<RegionVersion>& entries) {
    port.records[{kCmdQuery, kQueryAdapterVersions}] = region_version_list(entries);
}

void SimActivations::install(SimDriver& driver) {
    driver.on(kCmdActivate, [this](const SimRequest& req) {
        if (req.sub_code < kFirstActivation || req.sub_code > kLastActivation) {
            return SimReply::with_status(kStatusInvalidParam);
        }
        std::lock_guard<std::mutex> lock(mu_);
        if (auto it = failing_.find(req.hba_select); it != failing_.end()) return SimReply::with_status(it->second);
        taken_.push_back({req.hba_select, req.sub_code});
        return SimReply{};
    });
}

void SimActivations::fail(uint16_t instance, uint32_t status) {
    std::lock_guard<std::mutex> lock(mu_);
    failing_[instance] = status;
}

void install_update_caps(SimDriver& driver) {
    driver.on(kCmdUpdateCaps, [](const SimRequest& req) {
        if (req.sub_code == kCapsSend) {
            req.adapter->update_caps = req.request;
            return SimReply{};
        }
        SimReply r;
        r.response = req.adapter->update_caps;
        return r;
    });
}

std::vector<SimActivations::Taken> SimActivations::taken() const {
    std::lock_guard<std::mutex> lock(mu_);
    return taken_;
}

std::vector<FltRegion> converged_regions() {
    return {
        flt_region(0x40, 0x40000, 0x100000),
        flt_region(0x45, 0x10000, 0x140000),
        flt_region(0x2E, 0x80000, 0x180000),
        flt_region(0x95, 0x1000, 0x300000),
        flt_region(0x96, 0x1000, 0x301000),
    };
}

void add_regions(FlashRig& rig, const std::vector<FltRegion>& extra) {
    ChipFlashOptions options;
    std::vector<FltRegion> regions = rig.flash.regions;
    regions.insert(regions.end(), extra.begin(), extra.end());
    options.regions = regions;
    rig.rebuild(options);
}

const FltRegion& region_of(const FlashRig& rig, uint8_t code) {
    for (const FltRegion& r : rig.flash.regions) {
        if (r.code == code) return r;
    }
    throw std::out_of_range("no region " + std::to_string(code) + " in the flash layout table");
}

void place_in_region(FlashRig& rig, uint8_t code, const Bytes& blob, size_t at) {
    place(rig.adapter->flash, region_of(rig, code).start + at, blob);
}

Bytes mpi_region_head(uint8_t v0, uint8_t v1, uint8_t v2) {
    Bytes b(kVersionAt + 3, 0);
    b[kVersionAt] = v0;
    b[kVersionAt + 1] = v1;
    b[kVersionAt + 2] = v2;
    return b;
}

Bytes edc_region_head(uint8_t v0, uint8_t v1, uint8_t v2, uint32_t cookie) {
    Bytes b = mpi_region_head(v0, v1, v2);
    put_le32(b, 0, cookie);
    return b;
}

}  // namespace sim

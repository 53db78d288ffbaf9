#include "sim_regions.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <tuple>

#include "sim_nvram_vpd.h"

namespace sim {

Bytes region_version_list(const std::vector<RegionVersion>& entries) {
    Bytes b(8 + 24 * entries.size(), 0);
    put_le32(b, 0, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const RegionVersion& e = entries[i];
        const size_t at = 8 + 24 * i;
        put_le16(b, at, e.region);
        put_le16(b, at + 2, e.sub_region);
        put_le16(b, at + 4, e.location);
        put_le16(b, at + 6, static_cast<uint16_t>(e.version.size()));
        std::copy_n(e.version.begin(), std::min<size_t>(e.version.size(), 8), &b[at + 8]);
    }
    return b;
}

void set_region_versions(SimPort& port, const std::vector<RegionVersion>& entries) {
    port.records[{0x00, 10}] = region_version_list(entries);
}

void SimActivations::install(SimDriver& driver) {
    driver.on(0x18, [this](const SimRequest& req) {
        if (req.sub_code < 1 || req.sub_code > 5) return SimReply::with_status(6);
        std::lock_guard<std::mutex> lock(mu_);
        if (auto it = failing_.find(req.hba_select); it != failing_.end()) return SimReply::with_status(it->second);
        taken_.push_back({req.hba_select, req.sub_code});
        return SimReply{};
    });
}

void install_update_caps(SimDriver& driver) {
    driver.on(0x26, [](const SimRequest& req) {
        if (req.sub_code != 2) return SimReply::with_bytes(req.adapter->update_caps);
        req.adapter->update_caps = req.request;
        return SimReply{};
    });
}

std::vector<FltRegion> converged_regions() {
    return {flt_region(0x40, 0x40000, 0x100000), flt_region(0x45, 0x10000, 0x140000),
            flt_region(0x2E, 0x80000, 0x180000), flt_region(0x95, 0x1000, 0x300000),
            flt_region(0x96, 0x1000, 0x301000)};
}

void add_regions(FlashRig& rig, const std::vector<FltRegion>& extra) {
    ChipFlashOptions options;
    options.regions = rig.flash.regions;
    options.regions->insert(options.regions->end(), extra.begin(), extra.end());
    rig.rebuild(options);
}

const FltRegion& region_of(const FlashRig& rig, uint8_t code) {
    if (const FltRegion* r = find_region(rig.flash, code)) return *r;
    throw std::out_of_range("no region " + std::to_string(code) + " in the flash layout table");
}

void place_in_region(FlashRig& rig, uint8_t code, const Bytes& blob, size_t at) {
    place(rig.adapter->flash, region_of(rig, code).start + at, blob);
}

Bytes mpi_region_head(uint8_t v0, uint8_t v1, uint8_t v2) {
    Bytes b(20, 0);
    std::tie(b[17], b[18], b[19]) = std::tie(v0, v1, v2);
    return b;
}

Bytes edc_region_head(uint8_t v0, uint8_t v1, uint8_t v2, uint32_t cookie) {
    Bytes b = mpi_region_head(v0, v1, v2);
    put_le32(b, 0, cookie);
    return b;
}

}  // namespace sim

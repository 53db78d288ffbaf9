// The region side of a simulated converged adapter: the driver's answers
// about its firmware parts (query SubCode 10), region activation (0x18) and
// flash update capabilities (0x26: SubCode 2 stores update_caps, others
// answer it), and the flash contents of the regions that hold the firmware
// parts' versions and the image status records.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "flash_builder.h"
#include "sim_driver.h"
#include "sim_flash.h"

namespace sim {

// One entry of a region version list.
struct RegionVersion {
    uint16_t region = 0, sub_region = 0;
    uint16_t location = 0;  // 1 running, 0 in flash
    Bytes version;          // VersionLength = its size (at most 8 bytes are stored)
};

inline RegionVersion running_version(uint16_t region, const Bytes& version) { return {region, 0, 1, version}; }

// The port's answer to the adapter component versions query, laid out as the
// driver does: Length, Reserved, then 24-byte entries (Region, SubRegion,
// Location, VersionLength, Version[8], Reserved[8]).
Bytes region_version_list(const std::vector<RegionVersion>& entries);
void set_region_versions(SimPort& port, const std::vector<RegionVersion>& entries);

// Region activation requests as the driver took them.
class SimActivations {
public:
    struct Taken {
        uint16_t instance;  // the driver instance of the port (HbaSelect)
        uint16_t sub_code;
    };

    // Registers the handler of 0x18; this object must outlive the driver's use.
    void install(SimDriver& driver);
    std::vector<Taken> taken() const {
        std::lock_guard<std::mutex> lock(mu_);
        return taken_;
    }
    // The port of that driver instance answers every activation with the
    // status, recording nothing.
    void fail(uint16_t instance, uint32_t status) {
        std::lock_guard<std::mutex> lock(mu_);
        failing_[instance] = status;
    }

private:
    mutable std::mutex mu_;
    std::vector<Taken> taken_;
    std::map<uint16_t, uint32_t> failing_;
};

void install_update_caps(SimDriver& driver);

// Where the regions of a converged adapter lie (within the 4 MiB flash of
// the flash-layout chips, clear of their usual regions): MPI 0x40, EDC 0x45
// (exactly 64 KiB), NIC boot code 0x2E (512 KiB), image status 0x95 and 0x96.
std::vector<FltRegion> converged_regions();

// Rebuilds the rig's flash with its chip's usual regions plus `extra`.
void add_regions(FlashRig& rig, const std::vector<FltRegion>& extra);

// The region of the rig's flash layout table with that code (throws
// std::out_of_range when there is none, which fails the test).
const FltRegion& region_of(const FlashRig& rig, uint8_t code);

// Copies blob into the adapter's flash at the region's start plus `at`.
void place_in_region(FlashRig& rig, uint8_t code, const Bytes& blob, size_t at = 0);

// The first 20 bytes of an MPI region, its version in bytes 17 to 19; of an
// EDC region, the same behind the cookie word.
Bytes mpi_region_head(uint8_t v0, uint8_t v1, uint8_t v2);
Bytes edc_region_head(uint8_t v0, uint8_t v1, uint8_t v2, uint32_t cookie = 0x5555BBBB);

}  // namespace sim

// Region versions, region activation, virtual ports and the active image set,
// driven against the simulated driver and flash of a converged adapter.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/vx_ioctl.h"
#include "core/vx_layout.h"
#include "core/vx_regions.h"
#include "core/vx_sddbg.h"
#include "sim_regions.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::FlashRig;
using sim::FltRegion;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;
constexpr uint8_t kActivate = EXT_CC_REGION_ACTIVATION;

// A rig of the chip whose flash has the converged regions (less those in
// `omit`, plus any change `edit` makes), the layout installed, every trace
// call site on and the driver's log empty.
struct Rig {
    explicit Rig(uint16_t device, const std::vector<uint8_t>& omit = {},
                 const std::function<void(std::vector<FltRegion>&)>& edit = nullptr)
        : rig(device) {
        std::vector<FltRegion> extra;
        for (const FltRegion& r : sim::converged_regions()) {
            if (std::find(omit.begin(), omit.end(), r.code) == omit.end()) extra.push_back(r);
        }
        if (edit) edit(extra);
        sim::add_regions(rig, extra);
        EXPECT_EQ(vxapi_set_option_rom_layout(rig.fd, &rig.rec), 0);
        rig.driver.clear_log();
        vx_debug = 0xFFFFFFFF;
    }
    ~Rig() { vx_debug = 0; }
    std::vector<uint32_t> read_offsets() const {
        std::vector<uint32_t> out;
        for (const sim::SimLogEntry& e : rig.requests(kRead)) out.push_back(e.reserved1);
        return out;
    }
    FlashRig rig;
};

Bytes field(const uint8_t (&f)[8], size_t n = 8) { return Bytes(f, f + n); }

// ---------------------------------------------------------------- active image set

using Status = sim::ImageStatusFields;  // generation 1 unless given

struct ImageSetCase {
    const char* name;
    std::optional<Status> primary;  // none: the region holds no record
    std::optional<Status> secondary;
    uint8_t before;
    uint8_t expected;
    std::vector<uint8_t> omit = {};
    uint32_t primary_size = 0x1000;
};

TEST(ActiveImageSet, ChosenFromTheRecordsThatHold) {
    const ImageSetCase cases[] = {
        {"equal generations give the secondary", Status{.gen_num = 7}, Status{.gen_num = 7}, 0, 1},
        {"a higher primary generation gives the primary", Status{.gen_num = 8}, Status{.gen_num = 7}, 1, 0},
        {"a higher secondary generation gives the secondary", Status{.gen_num = 7}, Status{.gen_num = 8}, 0, 1},
        {"generations compare unsigned, without wrap", Status{.gen_num = 0xFFFF}, Status{.gen_num = 0}, 1, 0},
        {"a primary with a bad checksum is not taken", Status{.gen_num = 9, .corrupt_checksum = true},
         Status{}, 0, 1},
        {"a primary with a bad signature is not taken", Status{.gen_num = 9, .signature = 0xFACEFADF},
         Status{}, 0, 1},
        {"a primary without its valid bit is not taken", Status{.mask = 0, .gen_num = 9}, Status{}, 0, 1},
        {"a secondary with a bad checksum is not taken", Status{},
         Status{.gen_num = 9, .corrupt_checksum = true}, 1, 0},
        {"neither taken leaves the value", Status{.signature = 0xFACEFADF},
         Status{.gen_num = 2, .corrupt_checksum = true}, 1, 1},
        {"no primary region: the secondary alone", std::nullopt, Status{}, 0, 1, {0x95}},
        {"no secondary region leaves the value", Status{}, std::nullopt, 1, 1, {0x96}},
        // The region is smaller than a record: only its bytes are read, and
        // what they hold is no whole record.
        {"a primary region smaller than a record", Status{.gen_num = 9}, Status{}, 0, 1, {}, 8},
    };
    for (const ImageSetCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(0x2071, c.omit, [&](std::vector<FltRegion>& regions) {
            for (FltRegion& reg : regions) {
                if (reg.code == 0x95) reg.size = c.primary_size;
            }
        });
        if (c.primary) sim::place_in_region(r.rig, 0x95, sim::build_image_status(*c.primary));
        if (c.secondary) sim::place_in_region(r.rig, 0x96, sim::build_image_status(*c.secondary));
        r.rig.phy.active_image = c.before;

        vxapi_get_active_image_set(r.rig.fd, &r.rig.rec);
        EXPECT_EQ(r.rig.phy.active_image, c.expected);
        // Each present region is read once, at its start, never past its size.
        const auto reads = r.rig.requests(kRead);
        ASSERT_EQ(reads.size(), 2 - c.omit.size());
        const bool has_primary = c.omit != std::vector<uint8_t>{0x95};
        for (const sim::SimLogEntry& e : reads) {
            const bool primary = has_primary && e.reserved1 == sim::region_of(r.rig, 0x95).start;
            EXPECT_EQ(e.response_len, primary ? std::min<uint32_t>(c.primary_size, 16) : 16u);
        }
    }
}

// ---------------------------------------------------------------- running versions

TEST(AdapterVersions, RunningVersionsFromTheDriver) {
    Rig r(0x8001);
    sim::set_region_versions(*r.rig.port, {sim::running_version(0x40, {0, 0, 0}),
                                           sim::running_version(0x45, {4, 5, 6})});
    std::memset(r.rig.phy.mpi_running_ver, 0xEE, 8);
    r.rig.phy.fcoe_valid = VX_FCOE_NIC_EFI;

    vxapi_query_adapter_versions(r.rig.fd, &r.rig.rec);
    // The zero MPI version is stored, but its bit stays clear; no bit is cleared.
    EXPECT_EQ(field(r.rig.phy.mpi_running_ver, 3), Bytes({0, 0, 0}));
    EXPECT_EQ(field(r.rig.phy.edc_running_ver, 3), Bytes({4, 5, 6}));
    EXPECT_EQ(r.rig.phy.fcoe_valid, VX_FCOE_EDC_RUNNING | VX_FCOE_NIC_EFI);
    const auto log = r.rig.driver.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(sim::describe(log[0]), "new cmd 00 sub A inst 0 at 0 sel 0 req 0 resp 56");
}

TEST(AdapterVersions, FailuresAndForeignEntriesChangeNothing) {
    const struct {
        const char* name;
        std::vector<sim::RegionVersion> entries;
        bool driver_error;
        bool sysfs;
    } cases[] = {
        {"driver status", {sim::running_version(0x40, {1, 2, 3})}, true, false},
        {"flash location", {{0x40, 0, 0, {1, 2, 3}}}, false, false},
        {"regions swapped", {sim::running_version(0x45, {1, 2, 3}), sim::running_version(0x40, {1, 2, 3})},
         false, false},
        {"sysfs port: no transport yet", {sim::running_version(0x40, {1, 2, 3})}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(0x8001);
        sim::set_region_versions(*r.rig.port, c.entries);
        if (c.driver_error) r.rig.driver.inject_status(EXT_STATUS_ERR);
        if (c.sysfs) r.rig.rec.features |= VX_FEAT_SYSFS;
        const vxapi_phy_info before = r.rig.phy;
        vxapi_query_adapter_versions(r.rig.fd, &r.rig.rec);
        EXPECT_EQ(std::memcmp(&before, &r.rig.phy, sizeof before), 0);
        EXPECT_EQ(r.rig.driver.log().size(), c.sysfs ? 0u : 1u);
    }
}

// ---------------------------------------------------------------- flash versions

TEST(ConvergedFlashVersions, MpiAndEdcFromTheirRegions) {
    const struct {
        const char* name;
        Bytes mpi;
        Bytes edc;
        std::vector<uint8_t> omit;
        uint32_t bits;
        Bytes mpi_ver;
        Bytes edc_ver;
    } cases[] = {
        {"both", sim::mpi_region_head(1, 2, 3), sim::edc_region_head(7, 8, 9), {}, 0x0C, {1, 2, 3}, {7, 8, 9}},
        {"EDC cookie mismatch still reads MPI", sim::mpi_region_head(1, 2, 3),
         sim::edc_region_head(7, 8, 9, 0x5555BBBA), {}, 0x04, {1, 2, 3}, {0xEE, 0xEE, 0xEE}},
        {"MPI bytes 0,0,0 leave the bit clear", sim::mpi_region_head(0, 0, 0), sim::edc_region_head(7, 8, 9), {},
         0x08, {0xEE, 0xEE, 0xEE}, {7, 8, 9}},
        // Flash offset 0 carries bytes that would pass for a version.
        {"an absent MPI region is not read", {}, sim::edc_region_head(7, 8, 9), {0x40}, 0x08, {0xEE, 0xEE, 0xEE},
         {7, 8, 9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(0x8001, c.omit);
        sim::place(r.rig.adapter->flash, 0, sim::edc_region_head(0x11, 0x22, 0x33));
        if (!c.mpi.empty()) sim::place_in_region(r.rig, 0x40, c.mpi);
        sim::place_in_region(r.rig, 0x45, c.edc);
        std::memset(r.rig.phy.mpi_flash_ver, 0xEE, 8);
        std::memset(r.rig.phy.edc_flash_ver, 0xEE, 8);

        vxapi_get_flash_mpi_edc_versions(r.rig.fd, &r.rig.rec);
        EXPECT_EQ(r.rig.phy.fcoe_valid, c.bits);
        EXPECT_EQ(field(r.rig.phy.mpi_flash_ver, 3), c.mpi_ver);
        EXPECT_EQ(field(r.rig.phy.edc_flash_ver, 3), c.edc_ver);
        std::vector<uint32_t> expected_reads;
        if (c.omit.empty()) expected_reads.push_back(sim::region_of(r.rig, 0x40).start);
        expected_reads.push_back(sim::region_of(r.rig, 0x45).start);
        EXPECT_EQ(r.read_offsets(), expected_reads);
        for (const sim::SimLogEntry& e : r.rig.requests(kRead)) {
            EXPECT_EQ(e.sub_code, 0xFFFF);
            EXPECT_EQ(e.response_len, 0x10000u);
        }
    }
}

TEST(ConvergedFlashVersions, NicBootCodeFromItsChain) {
    Rig r(0x8001);
    sim::place_in_region(r.rig, 0x2E, sim::build_rom_chain({sim::bios_image(2, 1), sim::fcode_image(3, 4),
                                                            sim::efi_image(0, 0)}).bytes);
    std::memset(r.rig.phy.nic_efi_ver, 0xEE, 8);
    vxapi_get_nic_bootcode_version(r.rig.fd, &r.rig.rec);
    EXPECT_EQ(field(r.rig.phy.nic_bios_ver, 2), Bytes({2, 1}));
    EXPECT_EQ(field(r.rig.phy.nic_fcode_ver, 2), Bytes({3, 4}));
    EXPECT_EQ(field(r.rig.phy.nic_efi_ver, 2), Bytes({0xEE, 0xEE}));  // revision 0: not taken
    EXPECT_EQ(r.rig.phy.fcoe_valid, VX_FCOE_NIC_BIOS | VX_FCOE_NIC_FCODE);
    const auto reads = r.rig.requests(kRead);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].reserved1, sim::region_of(r.rig, 0x2E).start);
    EXPECT_EQ(reads[0].response_len, 0x80000u);
}

// The boot code chain of the adapter's own functions lies at flash offset 0.
TEST(ConvergedFlashVersions, AbsentNicRegionIsNotRead) {
    Rig r(0x8001, {0x2E});
    vxapi_get_nic_bootcode_version(r.rig.fd, &r.rig.rec);
    EXPECT_EQ(r.rig.phy.fcoe_valid, 0u);
    EXPECT_EQ(field(r.rig.phy.nic_bios_ver), Bytes(8, 0));
    EXPECT_TRUE(r.rig.requests(kRead).empty());
}

// ---------------------------------------------------------------- version list

TEST(VersionList, EntriesOfTheValidBitsInOrderWithinTheBuffer) {
    vxapi_phy_info phy{};
    for (int i = 0; i < 8; ++i) {
        phy.mpi_running_ver[i] = static_cast<uint8_t>(0x10 + i);
        phy.edc_running_ver[i] = static_cast<uint8_t>(0x20 + i);
        phy.nic_fcode_ver[i] = static_cast<uint8_t>(0x30 + i);
        phy.nic_efi_ver[i] = static_cast<uint8_t>(0x40 + i);
    }
    constexpr size_t kGuard = 32;
    const struct {
        uint32_t bits;
        uint32_t size;
        int32_t result;
        uint32_t status;
        std::vector<std::vector<uint8_t>> entries;  // Region, SubRegion, Location, length, version bytes
    } cases[] = {
        {0x22, 56, 0, 0, {{0x45, 0, 1, 3, 0x20, 0x21, 0x22}, {0x2E, 1, 0, 2, 0x30, 0x31}}},
        {0x41, 56, 0, 0, {{0x40, 0, 1, 3, 0x10, 0x11, 0x12}, {0x2E, 3, 0, 2, 0x40, 0x41}}},
        {0x7F, 176, 0, 0, {}},
        {0x7F, 175, 1, EXT_STATUS_BUFFER_TOO_SMALL, {}},  // too small: nothing written
        {0x22, 55, 1, EXT_STATUS_BUFFER_TOO_SMALL, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        SCOPED_TRACE(c.size);
        phy.fcoe_valid = c.bits | 0x80;  // bits past the table are not listed
        Bytes buf(c.size + kGuard, 0xA5);
        uint32_t status = 99;
        EXPECT_EQ(vxapi_copy_fcoe_versions(&phy, buf.data(), c.size, &status), c.result);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(Bytes(buf.begin() + c.size, buf.end()), Bytes(kGuard, 0xA5));
        if (c.result != 0) {
            EXPECT_EQ(buf, Bytes(c.size + kGuard, 0xA5));
            continue;
        }
        EXPECT_EQ(sim::get_le16(buf, 0), std::popcount(c.bits));
        for (size_t i = 0; i < c.entries.size(); ++i) {
            const auto& want = c.entries[i];
            const size_t at = 8 + 24 * i;
            EXPECT_EQ(sim::get_le16(buf, at), want[0]);
            EXPECT_EQ(sim::get_le16(buf, at + 2), want[1]);
            EXPECT_EQ(sim::get_le16(buf, at + 4), want[2]);
            EXPECT_EQ(sim::get_le16(buf, at + 6), want[3]);
            EXPECT_EQ(Bytes(buf.begin() + long(at + 8), buf.begin() + long(at + 8 + want[3])),
                      Bytes(want.begin() + 4, want.end()));
        }
    }
}

// ---------------------------------------------------------------- activation and virtual ports

TEST(Activation, CodesBecomeSubCodes) {
    Rig r(0x8001);
    sim::SimActivations activations;
    activations.install(r.rig.driver);
    uint16_t expected_sub = 1;
    for (uint32_t code : {0x2025Cu, 0x2025Du, 0x2025Eu, 0x20261u, 0x20262u}) {
        uint32_t status = 99;
        EXPECT_EQ(vxapi_activate_region(r.rig.fd, &r.rig.rec, code, &status), 0);
        EXPECT_EQ(status, 0u);
        const auto taken = activations.taken();
        ASSERT_FALSE(taken.empty());
        EXPECT_EQ(taken.back().sub_code, expected_sub++);
        EXPECT_EQ(taken.back().instance, r.rig.port->instance);
    }
    for (const sim::SimLogEntry& e : r.rig.driver.log()) {
        EXPECT_EQ(e.command, kActivate);
        EXPECT_EQ(e.request_len + e.response_len, 0u);
    }
    // An unknown code is refused before any request; a busy driver is not asked again.
    r.rig.driver.clear_log();
    uint32_t status = 99;
    EXPECT_EQ(vxapi_activate_region(r.rig.fd, &r.rig.rec, 0x2025F, &status), 1);
    EXPECT_TRUE(r.rig.driver.log().empty());
    r.rig.driver.inject_busy(1);
    EXPECT_EQ(vxapi_activate_region(r.rig.fd, &r.rig.rec, 0x2025C, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_BUSY);
    EXPECT_EQ(r.rig.driver.log().size(), 1u);
    EXPECT_TRUE(r.rig.host.sleeps().empty());
}

// Activation and the virtual ports on a sysfs port go to the sysfs road
// (whose files this host lacks); virtual ports on an ioctl port are refused.
TEST(Activation, SysfsPortsAndVirtualPorts) {
    Rig r(0x8001);
    EXT_VPORT_PARAMS params{};
    EXT_VPORT_INFO info{};
    const std::function<int32_t(uint32_t*)> calls[] = {
        [&](uint32_t* s) { return vxapi_create_vport(r.rig.fd, &r.rig.rec, &params, s); },
        [&](uint32_t* s) { return vxapi_delete_vport(r.rig.fd, &r.rig.rec, &params, s); },
        [&](uint32_t* s) { return vxapi_get_vport_info(r.rig.fd, &r.rig.rec, &info, s); },
    };
    for (const auto& call : calls) {
        uint32_t status = 99;
        EXPECT_EQ(call(&status), 1);
        EXPECT_EQ(status, 99u);
    }
    r.rig.rec.features |= VX_FEAT_SYSFS;
    for (const auto& call : {calls[0], calls[1]}) {
        uint32_t status = 99;
        EXPECT_EQ(call(&status), 0);
        EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
    }
    uint32_t status = 99;
    EXPECT_EQ(vxapi_activate_region(r.rig.fd, &r.rig.rec, 0x12345, &status), 0);
    EXPECT_EQ(status, EXT_STATUS_DEV_NOT_FOUND);
    EXPECT_TRUE(r.rig.driver.log().empty());
}

}  // namespace

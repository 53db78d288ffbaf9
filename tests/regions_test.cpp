// Region versions, activation, virtual ports and the active image set of a converged adapter.
#include <numeric>

#include "core/flash/vx_flash_layout.h"
#include "core/flash/vx_regions.h"
#include "sim_regions.h"
#include "test_support.h"

namespace {

using sim::Bytes;
using sim::FltRegion;

constexpr uint8_t kRead = EXT_CC_READ_OPTROM;

// The chip with the converged regions (less `omit`) and its layout, every trace on, the log empty.
struct Rig : sim::FlashRig {
    explicit Rig(uint16_t device, const std::vector<uint8_t>& omit = {}, uint32_t primary_size = 0x1000)
        : FlashRig(device) {
        std::vector<FltRegion> extra;
        for (FltRegion r : sim::converged_regions()) {
            if (r.code == 0x95) r.size = primary_size;
            if (std::find(omit.begin(), omit.end(), r.code) == omit.end()) extra.push_back(r);
        }
        sim::add_regions(*this, extra);
        EXPECT_EQ(vxapi_set_option_rom_layout(fd, &rec), 0);
        driver.clear_log();
        vx_debug = 0xFFFFFFFF;
    }
    ~Rig() { vx_debug = 0; }
    // The flash offsets read, each checked for a raw read of `len` bytes.
    std::vector<uint32_t> reads(uint32_t len) const {
        std::vector<uint32_t> out;
        for (const sim::SimLogEntry& e : requests(kRead)) {
            EXPECT_EQ(e.sub_code, 0xFFFF);
            EXPECT_EQ(e.response_len, len);
            out.push_back(e.reserved1);
        }
        return out;
    }
    uint32_t start(uint8_t code) const { return sim::region_of(*this, code).start; }
};

Bytes field(const uint8_t (&f)[8], size_t n = 8) { return Bytes(f, f + n); }

using Status = sim::ImageStatusFields;  // generation 1 unless given

TEST(ActiveImageSet, ChosenFromTheRecordsThatHold) {
    const struct { const char* name; std::optional<Status> primary, secondary; uint8_t before, expected;
                   std::vector<uint8_t> omit = {}; uint32_t primary_size = 0x1000; } cases[] = {
        {"equal generations give the secondary", Status{.gen_num = 7}, Status{.gen_num = 7}, 0, 1},
        {"a higher primary generation gives the primary", Status{.gen_num = 8}, Status{.gen_num = 7}, 1, 0},
        {"a higher secondary generation gives the secondary", Status{.gen_num = 7}, Status{.gen_num = 8}, 0, 1},
        {"generations compare unsigned, without wrap", Status{.gen_num = 0xFFFF}, Status{.gen_num = 0}, 1, 0},
        {"a primary with a bad checksum is not taken", Status{.gen_num = 9, .corrupt_checksum = true}, Status{}, 0, 1},
        {"a primary with a bad signature is not taken", Status{.gen_num = 9, .signature = 0xFACEFADF}, Status{}, 0, 1},
        {"a primary without its valid bit is not taken", Status{.mask = 0, .gen_num = 9}, Status{}, 0, 1},
        {"a bad secondary checksum is not taken", Status{}, Status{.gen_num = 9, .corrupt_checksum = true}, 1, 0},
        {"neither taken leaves the value", Status{.signature = 0xFACEFADF},
         Status{.gen_num = 2, .corrupt_checksum = true}, 1, 1},
        {"no primary region: the secondary alone", std::nullopt, Status{}, 0, 1, {0x95}},
        {"no secondary region leaves the value", Status{}, std::nullopt, 1, 1, {0x96}},
        // Only the bytes of a region smaller than a record are read: no whole record.
        {"a primary region smaller than a record", Status{.gen_num = 9}, Status{}, 0, 1, {}, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(0x2071, c.omit, c.primary_size);
        if (c.primary) sim::place_in_region(r, 0x95, sim::build_image_status(*c.primary));
        if (c.secondary) sim::place_in_region(r, 0x96, sim::build_image_status(*c.secondary));
        r.phy.active_image = c.before;
        vxapi_get_active_image_set(r.fd, &r.rec);
        EXPECT_EQ(r.phy.active_image, c.expected);
        // Each present region is read once, at its start, never past its size.
        const auto reads = r.requests(kRead);
        ASSERT_EQ(reads.size(), 2 - c.omit.size());
        for (const sim::SimLogEntry& e : reads) {
            const bool primary = c.primary && c.secondary && e.reserved1 == r.start(0x95);
            EXPECT_EQ(e.response_len, primary ? std::min<uint32_t>(c.primary_size, 16) : 16u);
        }
    }
}

// A zero MPI version is stored, its bit clear; a failure or other entries change nothing.
TEST(AdapterVersions, FailuresAndForeignEntriesChangeNothing) {
    const struct { const char* name; std::vector<sim::RegionVersion> entries; bool driver_error = false, sysfs = false,
                   taken = false; } cases[] = {
        {"running versions", {sim::running_version(0x40, {0, 0, 0}), sim::running_version(0x45, {4, 5, 6})}, false,
         false, true},
        {"driver status", {sim::running_version(0x40, {1, 2, 3})}, true, false},
        {"flash location", {{0x40, 0, 0, {1, 2, 3}}}},
        {"regions swapped", {sim::running_version(0x45, {1, 2, 3}), sim::running_version(0x40, {1, 2, 3})}},
        {"sysfs port: no transport yet", {sim::running_version(0x40, {1, 2, 3})}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(0x8001);
        sim::set_region_versions(*r.port, c.entries);
        if (c.driver_error) r.driver.inject_status(EXT_STATUS_ERR);
        if (c.sysfs) r.rec.features |= VX_FEAT_SYSFS;
        if (c.taken) std::memset(r.phy.mpi_running_ver, 0xEE, 8);
        r.phy.fcoe_valid = VX_FCOE_NIC_EFI;
        vxapi_phy_info expected = r.phy;
        if (c.taken) {
            std::memcpy(expected.mpi_running_ver, "\0\0\0", 3);  // stored, yet its bit stays clear
            std::memcpy(expected.edc_running_ver, "\4\5\6", 3);
            expected.fcoe_valid |= VX_FCOE_EDC_RUNNING;
        }
        vxapi_query_adapter_versions(r.fd, &r.rec);
        EXPECT_EQ(std::memcmp(&expected, &r.phy, sizeof expected), 0);
        const auto log = r.driver.log();
        ASSERT_EQ(log.size(), c.sysfs ? 0u : 1u);
        if (!c.sysfs) { EXPECT_EQ(sim::describe(log[0]), "new cmd 00 sub A inst 0 at 0 sel 0 req 0 resp 56"); }
    }
}

TEST(ConvergedFlashVersions, MpiAndEdcFromTheirRegions) {
    const Bytes none(3, 0xEE);
    const struct { const char* name; Bytes mpi, edc; std::vector<uint8_t> omit; uint32_t bits; Bytes mpi_ver, edc_ver; }
        cases[] = {
            {"both", sim::mpi_region_head(1, 2, 3), sim::edc_region_head(7, 8, 9), {}, 0x0C, {1, 2, 3}, {7, 8, 9}},
            {"EDC cookie mismatch still reads MPI", sim::mpi_region_head(1, 2, 3),
             sim::edc_region_head(7, 8, 9, 0x5555BBBA), {}, 0x04, {1, 2, 3}, none},
            {"MPI bytes 0,0,0 leave the bit clear", sim::mpi_region_head(0, 0, 0), sim::edc_region_head(7, 8, 9), {},
             0x08, none, {7, 8, 9}},
            // Flash offset 0 carries bytes that would pass for a version.
            {"an absent MPI region is not read", {}, sim::edc_region_head(7, 8, 9), {0x40}, 0x08, none, {7, 8, 9}},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(0x8001, c.omit);
        sim::place(r.adapter->flash, 0, sim::edc_region_head(0x11, 0x22, 0x33));
        if (!c.mpi.empty()) sim::place_in_region(r, 0x40, c.mpi);
        sim::place_in_region(r, 0x45, c.edc);
        std::memset(r.phy.mpi_flash_ver, 0xEE, 8);
        std::memset(r.phy.edc_flash_ver, 0xEE, 8);
        vxapi_get_flash_mpi_edc_versions(r.fd, &r.rec);
        EXPECT_EQ(r.phy.fcoe_valid, c.bits);
        EXPECT_EQ(field(r.phy.mpi_flash_ver, 3), c.mpi_ver);
        EXPECT_EQ(field(r.phy.edc_flash_ver, 3), c.edc_ver);
        std::vector<uint32_t> expected_reads;
        if (c.omit.empty()) expected_reads.push_back(r.start(0x40));
        expected_reads.push_back(r.start(0x45));
        EXPECT_EQ(r.reads(0x10000), expected_reads);
    }
}

// The NIC's boot code chain lies in its own region: no region, nothing read.
TEST(ConvergedFlashVersions, NicBootCodeFromItsChain) {
    for (bool present : {true, false}) {
        Rig r(0x8001, present ? std::vector<uint8_t>{} : std::vector<uint8_t>{0x2E});
        const auto chain = sim::build_rom_chain({sim::bios_image(2, 1), sim::fcode_image(3, 4), sim::efi_image(0, 0)});
        if (present) sim::place_in_region(r, 0x2E, chain.bytes);
        std::memset(r.phy.nic_efi_ver, 0xEE, 8);
        vxapi_get_nic_bootcode_version(r.fd, &r.rec);
        EXPECT_EQ(field(r.phy.nic_bios_ver, 2), present ? Bytes({2, 1}) : Bytes(2, 0));
        EXPECT_EQ(field(r.phy.nic_fcode_ver, 2), present ? Bytes({3, 4}) : Bytes(2, 0));
        EXPECT_EQ(field(r.phy.nic_efi_ver, 2), Bytes({0xEE, 0xEE}));  // revision 0: not taken
        EXPECT_EQ(r.phy.fcoe_valid, present ? VX_FCOE_NIC_BIOS | VX_FCOE_NIC_FCODE : 0u);
        EXPECT_EQ(r.reads(0x80000), present ? std::vector<uint32_t>{r.start(0x2E)} : std::vector<uint32_t>{});
    }
}

// The entries of the valid bits in order; a list that would not fit is not written at all.
TEST(VersionList, EntriesOfTheValidBitsInOrderWithinTheBuffer) {
    vxapi_phy_info phy{};
    std::iota(std::begin(phy.mpi_running_ver), std::end(phy.mpi_running_ver), 0x10);
    std::iota(std::begin(phy.edc_running_ver), std::end(phy.edc_running_ver), 0x20);
    std::iota(std::begin(phy.nic_fcode_ver), std::end(phy.nic_fcode_ver), 0x30);
    std::iota(std::begin(phy.nic_efi_ver), std::end(phy.nic_efi_ver), 0x40);
    constexpr size_t kGuard = 32;
    const struct { uint32_t bits, size; int32_t result; uint32_t status; std::vector<sim::RegionVersion> entries; }
        cases[] = {
            {0x22, 56, 0, 0, {{0x45, 0, 1, {0x20, 0x21, 0x22}}, {0x2E, 1, 0, {0x30, 0x31}}}},
            {0x41, 56, 0, 0, {{0x40, 0, 1, {0x10, 0x11, 0x12}}, {0x2E, 3, 0, {0x40, 0x41}}}},
            {0x7F, 175, 1, EXT_STATUS_BUFFER_TOO_SMALL, {}},
            {0x22, 55, 1, EXT_STATUS_BUFFER_TOO_SMALL, {}},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " in " << c.size);
        phy.fcoe_valid = c.bits | 0x80;
        Bytes buf(c.size + kGuard, 0xA5);
        uint32_t status = 99;
        EXPECT_EQ(vxapi_copy_fcoe_versions(&phy, buf.data(), c.size, &status), c.result);
        EXPECT_EQ(status, c.status);
        Bytes expected(c.size + kGuard, 0xA5);
        if (c.result == 0) sim::place(expected, 0, sim::region_version_list(c.entries));
        std::fill_n(expected.begin() + 4, c.result == 0 ? 4 : 0, 0xA5);  // Reserved is not written
        EXPECT_EQ(buf, expected);
    }
    phy.fcoe_valid = 0x7F;  // every entry: exactly 176 bytes
    Bytes buf(176 + kGuard, 0xA5);
    uint32_t status = 99;
    ASSERT_EQ(vxapi_copy_fcoe_versions(&phy, buf.data(), 176, &status), 0);
    EXPECT_EQ(sim::get_le16(buf, 0), 7);
    EXPECT_TRUE(sim::all_bytes(buf, 176, 0xA5));
}

// On a sysfs port these go to the sysfs road (no files here); virtual ports on an ioctl port are refused.
TEST(Activation, SysfsPortsAndVirtualPorts) {
    Rig r(0x8001);
    EXT_VPORT_PARAMS params{};
    EXT_VPORT_INFO info{};
    const std::function<int32_t(uint32_t*)> calls[] = {
        [&](uint32_t* s) { return vxapi_get_vport_info(r.fd, &r.rec, &info, s); },  // ioctl port only
        [&](uint32_t* s) { return vxapi_create_vport(r.fd, &r.rec, &params, s); },
        [&](uint32_t* s) { return vxapi_delete_vport(r.fd, &r.rec, &params, s); },
        [&](uint32_t* s) { return vxapi_activate_region(r.fd, &r.rec, 0x12345, s); },  // sysfs port only
    };
    for (int sysfs = 0; sysfs < 2; ++sysfs) {
        for (size_t i = 0; i < 3; ++i) {
            uint32_t status = 99;
            EXPECT_EQ(calls[i + sysfs](&status), sysfs ? 0 : 1) << i;
            EXPECT_EQ(status, sysfs ? EXT_STATUS_DEV_NOT_FOUND : 99u) << i;
        }
        r.rec.features |= VX_FEAT_SYSFS;
    }
    EXPECT_TRUE(r.driver.log().empty());
}

}  // namespace

#include "sim_flash.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>

#include "core/vx_driver_records.h"
#include "core/vx_layout.h"
#include "platform/vx_platform.h"

namespace sim {

namespace {

constexpr uint8_t kCmdUpdateOptrom = 0x0A;
constexpr uint8_t kCmdReadOptrom = 0x0F;
constexpr uint8_t kCmdOptromLayout = 0x10;
constexpr uint16_t kRaw = 0xFFFF;

constexpr uint32_t kStatusError = 1;
constexpr uint32_t kStatusBusy = 2;
constexpr uint32_t kStatusInvalidParam = 6;
constexpr uint32_t kStatusNotFound = 9;
constexpr uint32_t kStatusInvalidSubCode = 12;

// Where a transfer of `len` bytes lands in the flash, or nothing when it
// does not fit: raw at Reserved1, or Reserved1 bytes into a driver region.
std::optional<size_t> place_of(const SimAdapter& a, const SimRequest& req, size_t* len) {
    uint64_t start = req.reserved1;
    if (req.sub_code != kRaw) {
        auto it = a.driver_regions.find(req.sub_code);
        if (it == a.driver_regions.end() || req.reserved1 > it->second.second) return std::nullopt;
        start += it->second.first;
        *len = std::min<size_t>(*len, it->second.second - req.reserved1);
    }
    if (start + *len > a.flash.size()) return std::nullopt;
    return static_cast<size_t>(start);
}

SimReply read_flash(const SimRequest& req) {
    if (req.adapter == nullptr) return SimReply::with_status(kStatusNotFound);
    size_t len = req.response_capacity;
    const auto at = place_of(*req.adapter, req, &len);
    if (!at) return SimReply::with_status(kStatusInvalidParam);
    SimReply r;
    const auto from = req.adapter->flash.begin() + static_cast<std::ptrdiff_t>(*at);
    r.response.assign(from, from + static_cast<std::ptrdiff_t>(len));
    return r;
}

SimReply write_flash(const SimRequest& req) {
    if (req.adapter == nullptr) return SimReply::with_status(kStatusNotFound);
    size_t len = req.request.size();
    const auto at = place_of(*req.adapter, req, &len);
    if (!at || len != req.request.size()) return SimReply::with_status(kStatusInvalidParam);
    if (req.adapter->busy_writes > 0) {
        --req.adapter->busy_writes;
        return SimReply::with_status(kStatusBusy);
    }
    if (req.adapter->torn_write) {
        const size_t n = std::min(*req.adapter->torn_write, len);
        req.adapter->torn_write.reset();
        std::copy_n(req.request.begin(), n, req.adapter->flash.begin() + static_cast<std::ptrdiff_t>(*at));
        return SimReply::with_status(kStatusError);
    }
    std::copy(req.request.begin(), req.request.end(),
              req.adapter->flash.begin() + static_cast<std::ptrdiff_t>(*at));
    req.adapter->flash_writes.emplace_back(static_cast<uint32_t>(*at), req.request);
    return SimReply{};
}

SimReply optrom_layout(const SimRequest& req) {
    if (req.adapter == nullptr) return SimReply::with_status(kStatusNotFound);
    if (req.adapter->driver_layout.empty()) return SimReply::with_status(kStatusInvalidSubCode);
    SimReply r;
    r.response = req.adapter->driver_layout;
    return r;
}

struct ChipPlaces {
    uint32_t size;
    uint32_t fdt;
    uint32_t table;
};

std::optional<ChipPlaces> places_of(uint16_t device_id) {
    switch (device_id) {
    case 0x2532:
    case 0x2533:
        return ChipPlaces{0x200000, 0x140000, 0x141000};
    case 0x8001:
        return ChipPlaces{0x400000, 0x360000, 0x361000};
    case 0x0101:
    case 0x8021:
    case 0x2031:
    case 0x2831:
    case 0x8031:
    case 0x8831:
    case 0x8044:
    case 0x2071:
    case 0x2271:
    case 0x2261:
        return ChipPlaces{0x400000, 0x3F0000, 0x3F1000};
    default:
        return std::nullopt;
    }
}

bool is_24xx(uint16_t device_id) {
    return device_id == 0x2422 || device_id == 0x2432 || device_id == 0x5422 || device_id == 0x5432 ||
           device_id == 0x8432;
}

Bytes patterned(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = flash_pattern(i);
    return b;
}

// The regions of a flash-layout chip's table: boot code, firmware, four
// small VPD and NVRAM regions, the descriptor, the table, one more.
std::vector<FltRegion> usual_regions(const ChipPlaces& p) {
    const uint32_t small = p.fdt - 0x20000;
    return {
        flt_region(0x07, 0x40000, 0),
        flt_region(0x01, 0x80000, 0x80000),
        flt_region(0x14, 0x200, small),
        flt_region(0x15, 0x200, small + 0x200),
        flt_region(0x16, 0x200, small + 0x400),
        flt_region(0x17, 0x200, small + 0x600),
        flt_region(0x1A, 0x1000, p.fdt, 0x01),
        flt_region(0x1C, 0x1000, p.table),
        flt_region(0x2B, 0x8000, p.fdt + 0x8000),
    };
}

}  // namespace

void install_flash(SimDriver& driver) {
    driver.on(kCmdReadOptrom, read_flash);
    driver.on(kCmdUpdateOptrom, write_flash);
    driver.on(kCmdOptromLayout, optrom_layout);
}

uint8_t flash_pattern(size_t i) { return static_cast<uint8_t>((i * 7) ^ (i >> 8) ^ (i >> 16) ^ 0x5A); }

Bytes build_fdt(uint32_t block_size, bool corrupt_checksum) {
    Bytes b(128, 0);
    b[0] = 'V';
    b[1] = 'X';
    b[2] = 'I';
    b[3] = 'D';
    put_le16(b, 4, 1);
    put_le16(b, 6, 128);
    put_le32(b, 40, block_size);
    put_le32(b, 48, 0x400000);
    uint32_t sum = 0;
    for (size_t i = 0; i < 64; ++i) sum += get_le16(b, 2 * i);
    uint16_t ck = static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
    if (corrupt_checksum) ck = static_cast<uint16_t>(ck + 1);
    put_le16(b, 8, ck);
    return b;
}

ChipFlash build_chip_flash(SimAdapter& adapter, const ChipFlashOptions& options) {
    ChipFlash out;
    adapter.driver_regions.clear();
    const auto places = places_of(adapter.device_id);
    if (!places) {
        // The driver places the regions of these chips itself.
        out.size = is_24xx(adapter.device_id) ? 0x100000 : 0x20000;
        adapter.flash = patterned(out.size);
        adapter.driver_regions[0xFF] = {0, out.size};
        if (is_24xx(adapter.device_id)) {
            adapter.driver_regions[0x07] = {0, 0x40000};
            adapter.driver_regions[0x87] = {0x40000, 0x8000};
            adapter.driver_regions[0x01] = {0x80000, 0x80000};
        } else {
            adapter.driver_regions[0x02] = {0, out.size};
        }
        return out;
    }

    out.size = places->size;
    out.fdt_address = places->fdt;
    out.default_table_address = places->table;
    adapter.flash = patterned(out.size);

    out.chain_base = options.chain_in_second_window ? 0x200000 : 0;
    if (options.chain_in_second_window) place(adapter.flash, 0, blank_flash(0x80000));
    out.chain = build_rom_chain({bios_image(3, 1), fcode_image(4, 2), efi_image(5, 3)}, options.vfim_length);
    place(adapter.flash, out.chain_base, out.chain.bytes);

    if (options.fdt_block_size) place(adapter.flash, places->fdt, build_fdt(*options.fdt_block_size, options.corrupt_fdt));

    out.regions = options.regions.value_or(usual_regions(*places));
    switch (options.table) {
    case ChipFlashOptions::Table::AtDefault:
        out.table_address = places->table;
        break;
    case ChipFlashOptions::Table::Moved:
        out.table_address = options.table_address.value_or(places->fdt - 0x10000);
        place(adapter.flash, places->table, blank_flash(0x1000));
        break;
    case ChipFlashOptions::Table::None:
        place(adapter.flash, places->table, blank_flash(0x1000));
        break;
    }
    if (out.table_address) place(adapter.flash, *out.table_address, build_flt_table(out.regions, options.table_options));
    if (options.locator) {
        out.locator_address = static_cast<uint32_t>(out.chain_base + out.chain.end);
        const uint32_t named = out.table_address.value_or(places->table);
        place(adapter.flash, *out.locator_address, build_flt_locator(named, options.corrupt_locator));
    }
    return out;
}

// ---------------------------------------------------------------- the rig

FlashRig::FlashRig(uint16_t device_id, const ChipFlashOptions& options, bool new_header) {
    pGlobalOptRomLayout = nullptr;
    driver.attach(host);
    install_flash(driver);
    adapter = &driver.add_adapter();
    adapter->device_id = device_id;
    port = &driver.add_port(*adapter);
    flash = build_chip_flash(*adapter, options);
    phy.device_id = device_id;
    rec.features = new_header ? VX_FEAT_NEW_IOCTL : 0;
    rec.drvr_inst = port->instance;
    rec.phy_info = &phy;
    fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
    rec.oshandle = fd;
}

FlashRig::~FlashRig() {
    if (fd >= 0) vx::sys().close(fd);
    std::free(phy.pflt_layout);
    phy.pflt_layout = nullptr;
    pGlobalOptRomLayout = nullptr;
}

void FlashRig::set_flash_block_size(uint32_t size) {
    EXT_CHIP chip{};
    chip.DeviceId = phy.device_id;
    chip.FlashBlockSize = size;
    port->set_record(0x00, 8, chip);
}

void FlashRig::rebuild(const ChipFlashOptions& options) { flash = build_chip_flash(*adapter, options); }

std::vector<SimLogEntry> FlashRig::requests(uint8_t command) const {
    std::vector<SimLogEntry> out;
    for (const SimLogEntry& e : driver.log()) {
        if (e.command == command) out.push_back(e);
    }
    return out;
}

}  // namespace sim

#include "sim_flash.h"

#include <fcntl.h>

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <utility>

#include "base/vx_driver_records.h"
#include "base/vx_layout.h"
#include "platform/vx_platform.h"
#include "sim_nvram_vpd.h"

namespace sim {
namespace {

constexpr uint16_t kRaw = 0xFFFF;
constexpr uint32_t kStatusError = 1, kStatusBusy = 2, kStatusInvalidParam = 6, kStatusNotFound = 9,
                   kStatusInvalidSubCode = 12;

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
    size_t len = req.response_capacity;
    const auto at = place_of(*req.adapter, req, &len);
    if (!at) return SimReply::with_status(kStatusInvalidParam);
    const auto from = req.adapter->flash.begin() + static_cast<std::ptrdiff_t>(*at);
    return SimReply::with_bytes({from, from + static_cast<std::ptrdiff_t>(len)});
}

SimReply write_flash(const SimRequest& req) {
    SimAdapter& a = *req.adapter;
    size_t len = req.request.size();
    const auto at = place_of(a, req, &len);
    if (!at || len != req.request.size()) return SimReply::with_status(kStatusInvalidParam);
    if (a.busy_writes > 0) return --a.busy_writes, SimReply::with_status(kStatusBusy);
    const auto to = a.flash.begin() + static_cast<std::ptrdiff_t>(*at);
    if (a.torn_write) {
        std::copy_n(req.request.begin(), std::min(*std::exchange(a.torn_write, std::nullopt), len), to);
        return SimReply::with_status(kStatusError);
    }
    std::copy(req.request.begin(), req.request.end(), to);
    a.flash_writes.emplace_back(static_cast<uint32_t>(*at), req.request);
    return SimReply{};
}

SimReply read_store(const Bytes& store, const SimRequest& req) {
    const size_t n = std::min<size_t>(store.size(), req.response_capacity);
    return SimReply::with_bytes({store.begin(), store.begin() + static_cast<std::ptrdiff_t>(n)});
}

SimReply write_store(Bytes& store, const SimRequest& req) {
    if (store.size() < req.request.size()) store.resize(req.request.size(), 0);
    std::copy(req.request.begin(), req.request.end(), store.begin());
    return SimReply{};
}

// The device handlers of a port without an adapter answer status 9.
SimDriver::Handler of_adapter(SimReply (*handler)(const SimRequest&)) {
    return [handler](const SimRequest& req) {
        return req.adapter == nullptr ? SimReply::with_status(kStatusNotFound) : handler(req);
    };
}

struct ChipPlaces {
    uint32_t size;
    uint32_t fdt;
    uint32_t table;
};

std::optional<ChipPlaces> places_of(uint16_t id) {
    if (id == 0x2532 || id == 0x2533) return ChipPlaces{0x200000, 0x140000, 0x141000};
    if (id == 0x8001) return ChipPlaces{0x400000, 0x360000, 0x361000};
    for (uint16_t chip : {0x0101, 0x8021, 0x2031, 0x2831, 0x8031, 0x8831, 0x8044, 0x2071, 0x2271, 0x2261}) {
        if (id == chip) return ChipPlaces{0x400000, 0x3F0000, 0x3F1000};
    }
    return std::nullopt;
}

bool is_24xx(uint16_t id) { return id == 0x2422 || id == 0x2432 || id == 0x5422 || id == 0x5432 || id == 0x8432; }

// The regions of a flash-layout chip's table: boot code, firmware, four
// small VPD and NVRAM regions (and with `vpd` the VPD regions of the other
// functions behind them), the descriptor, the table, one more.
std::vector<FltRegion> usual_regions(const ChipPlaces& p, bool vpd = false) {
    const uint32_t small = p.fdt - 0x20000;
    std::vector<FltRegion> r = {
        flt_region(0x07, 0x40000, 0),           flt_region(0x01, 0x80000, 0x80000),
        flt_region(0x14, 0x200, small),         flt_region(0x15, 0x200, small + 0x200),
        flt_region(0x16, 0x200, small + 0x400), flt_region(0x17, 0x200, small + 0x600),
    };
    if (vpd) {
        r.insert(r.end(), {flt_region(0xD4, 0x200, small + 0x800), flt_region(0xD6, 0x200, small + 0xA00),
                           flt_region(0x81, 0x400, small + 0xC00)});
    }
    r.insert(r.end(), {flt_region(0x1A, 0x1000, p.fdt, 0x01), flt_region(0x1C, 0x1000, p.table),
                       flt_region(0x2B, 0x8000, p.fdt + 0x8000)});
    return r;
}

// A flash descriptor table: 128 bytes, "VXID", block_size at byte 40.
Bytes build_fdt(uint32_t block_size, bool corrupt_checksum) {
    Bytes b(128, 0);
    std::copy_n("VXID", 4, b.begin());
    put_le16(b, 4, 1);
    put_le16(b, 6, 128);
    put_le32(b, 40, block_size);
    put_le32(b, 48, 0x400000);
    put_le16(b, 8, static_cast<uint16_t>(word_checksum(b, 0, 64) + (corrupt_checksum ? 1 : 0)));
    return b;
}

}  // namespace

void install_flash(SimDriver& driver) {
    driver.on(0x0F, of_adapter(read_flash));
    driver.on(0x0A, of_adapter(write_flash));
    driver.on(0x10, of_adapter([](const SimRequest& req) {
        if (req.adapter->driver_layout.empty()) return SimReply::with_status(kStatusInvalidSubCode);
        return SimReply::with_bytes(req.adapter->driver_layout);
    }));
}

void install_nvram_vpd(SimDriver& driver) {
    driver.on(0x0C, [](const SimRequest& req) { return read_store(req.port->nvram, req); });
    driver.on(0x0D, [](const SimRequest& req) { return write_store(req.port->nvram, req); });
    driver.on(0x11, of_adapter([](const SimRequest& req) { return read_store(req.adapter->vpd, req); }));
    driver.on(0x12, of_adapter([](const SimRequest& req) { return write_store(req.adapter->vpd, req); }));
}

uint8_t flash_pattern(size_t i) { return static_cast<uint8_t>((i * 7) ^ (i >> 8) ^ (i >> 16) ^ 0x5A); }

ChipFlash build_chip_flash(SimAdapter& adapter, const ChipFlashOptions& options) {
    ChipFlash out;
    adapter.driver_regions.clear();
    const auto places = places_of(adapter.device_id);
    out.size = places ? places->size : is_24xx(adapter.device_id) ? 0x100000 : 0x20000;
    adapter.flash.resize(out.size);
    for (size_t i = 0; i < out.size; ++i) adapter.flash[i] = flash_pattern(i);
    if (!places) {
        // The driver places the regions of these chips itself.
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
    const uint32_t chain_base = options.chain_in_second_window ? 0x200000 : 0;
    if (options.chain_in_second_window) place(adapter.flash, 0, blank_flash(0x80000));
    out.chain = build_rom_chain({bios_image(3, 1), fcode_image(4, 2), efi_image(5, 3)}, options.vfim_length);
    place(adapter.flash, chain_base, out.chain.bytes);
    if (options.fdt_block_size) {
        place(adapter.flash, places->fdt, build_fdt(*options.fdt_block_size, options.corrupt_fdt));
    }
    out.regions = options.regions.value_or(usual_regions(*places));
    if (options.table == ChipFlashOptions::Table::AtDefault) {
        out.table_address = places->table;
    } else {
        place(adapter.flash, places->table, blank_flash(0x1000));
        if (options.table == ChipFlashOptions::Table::Moved) {
            out.table_address = options.table_address.value_or(places->fdt - 0x10000);
        }
    }
    if (out.table_address) {
        place(adapter.flash, *out.table_address, build_flt_table(out.regions, options.table_options));
    }
    if (options.locator) {
        const Bytes locator = build_flt_locator(out.table_address.value_or(places->table), options.corrupt_locator);
        place(adapter.flash, chain_base + out.chain.end, locator);
    }
    return out;
}

ChipFlashOptions vpd_flash_options(uint16_t device_id) {
    const auto places = places_of(device_id);
    assert(places);
    ChipFlashOptions o;
    o.regions = usual_regions(*places, true);
    return o;
}

const FltRegion* find_region(const ChipFlash& flash, uint8_t code) {
    for (const FltRegion& r : flash.regions) {
        if (r.code == code) return &r;
    }
    return nullptr;
}

void place_in_region(SimAdapter& adapter, const ChipFlash& flash, uint8_t code, const Bytes& bytes) {
    const FltRegion* r = find_region(flash, code);
    assert(r != nullptr && bytes.size() <= r->size);
    place(adapter.flash, r->start, bytes);
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
    pGlobalOptRomLayout = nullptr;
}

void FlashRig::set_flash_block_size(uint32_t size) {
    EXT_CHIP chip{};
    chip.DeviceId = phy.device_id;
    chip.FlashBlockSize = size;
    port->set_record(0x00, 8, chip);
}

std::vector<SimLogEntry> FlashRig::requests(uint8_t command) const {
    std::vector<SimLogEntry> out;
    for (const SimLogEntry& e : driver.log()) {
        if (e.command == command) out.push_back(e);
    }
    return out;
}

}  // namespace sim

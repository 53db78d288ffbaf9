#include "sim_nvram_vpd.h"

#include <algorithm>
#include <cassert>

#include "core/vx_layout.h"

namespace sim {

namespace {

constexpr uint8_t kCmdReadNvram = 0x0C;
constexpr uint8_t kCmdWriteNvram = 0x0D;
constexpr uint8_t kCmdGetVpd = 0x11;
constexpr uint8_t kCmdSetVpd = 0x12;
constexpr uint32_t kStatusNotFound = 9;

SimReply read_store(const Bytes& store, const SimRequest& req) {
    SimReply r;
    const size_t n = std::min<size_t>(store.size(), req.response_capacity);
    r.response.assign(store.begin(), store.begin() + static_cast<std::ptrdiff_t>(n));
    return r;
}

SimReply write_store(Bytes& store, const SimRequest& req) {
    if (store.size() < req.request.size()) store.resize(req.request.size(), 0);
    std::copy(req.request.begin(), req.request.end(), store.begin());
    return SimReply{};
}

}  // namespace

void install_nvram_vpd(SimDriver& driver) {
    driver.on(kCmdReadNvram, [](const SimRequest& req) { return read_store(req.port->nvram, req); });
    driver.on(kCmdWriteNvram, [](const SimRequest& req) { return write_store(req.port->nvram, req); });
    driver.on(kCmdGetVpd, [](const SimRequest& req) {
        if (req.adapter == nullptr) return SimReply::with_status(kStatusNotFound);
        return read_store(req.adapter->vpd, req);
    });
    driver.on(kCmdSetVpd, [](const SimRequest& req) {
        if (req.adapter == nullptr) return SimReply::with_status(kStatusNotFound);
        return write_store(req.adapter->vpd, req);
    });
}

ChipFlashOptions vpd_flash_options(uint16_t device_id) {
    uint32_t fdt = 0;
    uint32_t table = 0;
    const bool known = vxapi_flash_table_addresses(device_id, &fdt, &table);
    assert(known);
    (void)known;
    // The chip's usual regions, and the VPD regions of the other functions
    // behind the usual small ones.
    const uint32_t small = fdt - 0x20000;
    ChipFlashOptions o;
    o.regions = std::vector<FltRegion>{
        flt_region(0x07, 0x40000, 0),
        flt_region(0x01, 0x80000, 0x80000),
        flt_region(0x14, 0x200, small),
        flt_region(0x15, 0x200, small + 0x200),
        flt_region(0x16, 0x200, small + 0x400),
        flt_region(0x17, 0x200, small + 0x600),
        flt_region(0xD4, 0x200, small + 0x800),
        flt_region(0xD6, 0x200, small + 0xA00),
        flt_region(0x81, 0x400, small + 0xC00),
        flt_region(0x1A, 0x1000, fdt, 0x01),
        flt_region(0x1C, 0x1000, table),
        flt_region(0x2B, 0x8000, fdt + 0x8000),
    };
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

}  // namespace sim

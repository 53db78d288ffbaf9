// Small helpers shared by the tests: exact-size heap copies of bytes, byte
// patterns, a simulated host with the adapter driver and its node open (and,
// from sim_host.h, ForwardingPlatform).
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/vx_driver_records.h"
#include "base/vx_records.h"
#include "base/vx_request.h"
#include "base/vx_sddbg.h"
#include "flash_builder.h"
#include "platform/vx_platform.h"
#include "sim_driver.h"
#include "sim_host.h"

namespace sim {

// A heap buffer of exactly the given bytes, so that AddressSanitizer reports
// any access past its end.
struct Exact {
    explicit Exact(const Bytes& b) : data(new uint8_t[b.empty() ? 1 : b.size()]), size(b.size()) {
        if (!b.empty()) std::memcpy(data.get(), b.data(), b.size());
    }
    uint8_t* get() const { return data.get(); }
    uint32_t sz() const { return static_cast<uint32_t>(size); }
    Bytes bytes() const { return Bytes(data.get(), data.get() + size); }
    std::unique_ptr<uint8_t[]> data;
    size_t size;
};

inline Bytes pattern(size_t n, uint8_t seed) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

inline Bytes bytes_of(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return Bytes(b, b + n);
}

// Whether every byte of b from `from` on is `byte`.
inline bool all_bytes(const Bytes& b, size_t from, uint8_t byte) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(std::min(from, b.size())), b.end(),
                       [byte](uint8_t x) { return x == byte; });
}

// A request as the driver logged it, in one line: command, sub-code,
// instance, Reserved1, HbaSelect, RequestLen and ResponseLen.
inline std::string describe(const SimLogEntry& e) {
    char text[128];
    std::snprintf(text, sizeof text, "%s cmd %02X sub %X inst %X at %X sel %u req %u resp %u",
                  e.new_layout ? "new" : "old", e.command, e.sub_code, e.instance, e.reserved1, e.hba_select,
                  e.request_len, e.response_len);
    return text;
}

// A simulated host with the adapter driver on "/dev/vxa2xxx" and the node
// open; tests add the adapters and ports they need.
struct DriverRig {
    DriverRig() {
        driver.attach(host);
        fd = vx::sys().open("/dev/vxa2xxx", O_RDWR);
    }
    ~DriverRig() { vx::sys().close(fd); }
    DriverRig(const DriverRig&) = delete;
    DriverRig& operator=(const DriverRig&) = delete;

    // A port record of a driver instance, on the new or the old header.
    static vxapi_priv_database record(bool new_header, uint32_t drvr_inst, uint32_t extra_features = 0) {
        vxapi_priv_database rec{};
        rec.features = (new_header ? VX_FEAT_NEW_IOCTL : 0) | extra_features;
        rec.drvr_inst = drvr_inst;
        return rec;
    }

    SimHost host;
    SimDriver driver;
    int fd = -1;
};

}  // namespace sim

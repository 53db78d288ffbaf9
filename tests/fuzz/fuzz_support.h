// What the fuzz targets share. A target is one source file defining
// LLVMFuzzerTestOneInput and fuzz::seeds(), its seed corpus made with the
// simulator's builders; it links with libFuzzer's main into fuzz_<name> and
// with seed_main.cpp into fuzz_<name>_seeds, which writes the seeds.
// A target looks for crashes, leaks and undefined behaviour, not for right
// answers: it casts the results of the parsers it drives to (void).
//
// Inputs may start with a mode byte and carry parts: every part but the last
// has its length in front of it (two bytes, little-endian); the last part is
// the rest of the input. Bytes that are not there read as zero.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flash_builder.h"
#include "sim_flash.h"
#include "sim_host.h"

namespace fuzz {

using sim::Bytes;

std::vector<Bytes> seeds();

// A seed in the form Reader takes apart: the mode byte, then the parts.
Bytes join(uint8_t mode, const std::vector<Bytes>& parts);
Bytes join_texts(uint8_t mode, const std::vector<std::string>& parts);
// A part with its length in front (at most 0xFFFF bytes of it are kept).
Bytes framed(const Bytes& part);
std::vector<Bytes> texts(const std::vector<std::string>& texts);
inline void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
inline std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    Bytes part() {
        const size_t low = byte();
        return take(low | size_t(byte()) << 8);
    }
    Bytes rest() { return take(size_ - pos_); }
    bool done() const { return pos_ == size_; }

private:
    Bytes take(size_t n);
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A heap copy of exactly the bytes, so that AddressSanitizer catches any
// access past its end; the library may write into it.
class Buffer {
public:
    explicit Buffer(const Bytes& bytes);
    Buffer(size_t n, uint8_t fill) : Buffer(Bytes(n, fill)) {}
    uint8_t* data() const { return data_.get(); }
    char* chars() const { return reinterpret_cast<char*>(data_.get()); }
    template <typename T>
    T* as() const { return reinterpret_cast<T*>(data_.get()); }
    uint32_t size() const { return static_cast<uint32_t>(size_); }
    Bytes bytes() const { return Bytes(data(), data() + size_); }
    bool terminated() const { return strnlen(chars(), size_) < size_; }  // the text ends within the buffer

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_;
};

// Copies bytes into dest at offset, cut at dest's end (or at limit bytes).
void put(Bytes& dest, size_t offset, const Bytes& bytes, size_t limit = SIZE_MAX);

// A property of the library that an input broke: reported, then the target
// aborts so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// The simulated host of the targets that need no adapter, made on first use.
inline sim::SimHost& host() {
    static sim::SimHost instance;
    return instance;
}
// The simulated host with one adapter and its flash, made on first use; later
// calls give the same rig (their arguments are not used).
inline sim::FlashRig& flash_rig(uint16_t device_id, const sim::ChipFlashOptions& options = {}) {
    static sim::FlashRig rig(device_id, options);
    return rig;
}
// Serves the attribute file at path as whatever text holds at each read
// (writes, when allowed, are dropped).
void serve(sim::SimHost& host, const std::string& path, const std::string& text, bool writable = false);
// The option string tokens of adapter 3 with one target (names, port id,
// preferred and disabled LUNs, control), as the failover store writes them.
std::string fo_target_tokens();
// Option strings as hand-edited files hold them: a last line without a
// newline, CR line ends, a NUL inside, and tokens that are malformed once the
// newlines inside them are gone.
std::vector<std::string> fo_awkward_texts();

// For one input: every trace of the library on (its dumps read the buffers
// too), into the host's captured standard error, which is dropped at the end.
struct Traced {
    explicit Traced(sim::SimHost& host = fuzz::host());
    ~Traced();
    sim::SimHost& host_;
};

}  // namespace fuzz

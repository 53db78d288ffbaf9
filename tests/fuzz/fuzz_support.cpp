#include "fuzz_support.h"

#include <algorithm>

#include "core/vx_sddbg.h"

namespace fuzz {

Bytes framed(const Bytes& part) {
    const size_t n = std::min<size_t>(part.size(), 0xFFFF);
    Bytes out{static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    out.insert(out.end(), part.begin(), part.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

Bytes join(uint8_t mode, const std::vector<Bytes>& parts) {
    Bytes out{mode};
    for (size_t i = 0; i < parts.size(); ++i) {
        const Bytes piece = i + 1 < parts.size() ? framed(parts[i]) : parts[i];
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

std::vector<Bytes> texts(const std::vector<std::string>& texts) {
    std::vector<Bytes> out;
    for (const std::string& t : texts) out.push_back(sim::text_bytes(t));
    return out;
}

Bytes join_texts(uint8_t mode, const std::vector<std::string>& parts) { return join(mode, texts(parts)); }

Bytes Reader::part() {
    const size_t n = byte();
    const size_t len = n | (static_cast<size_t>(byte()) << 8);
    const size_t take = std::min(len, size_ - pos_);
    Bytes out(data_ + pos_, data_ + pos_ + take);
    pos_ += take;
    return out;
}

Bytes Reader::rest() {
    Bytes out(data_ + pos_, data_ + size_);
    pos_ = size_;
    return out;
}

Buffer::Buffer(const Bytes& bytes) : data_(new uint8_t[bytes.empty() ? 1 : bytes.size()]), size_(bytes.size()) {
    if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
}

void put(Bytes& dest, size_t offset, const Bytes& bytes, size_t limit) {
    if (offset >= dest.size()) return;
    const size_t n = std::min({bytes.size(), dest.size() - offset, limit});
    std::copy_n(bytes.begin(), n, dest.begin() + static_cast<std::ptrdiff_t>(offset));
}

sim::SimHost& host() {
    static sim::SimHost instance;
    return instance;
}

sim::FlashRig& flash_rig(uint16_t device_id, const sim::ChipFlashOptions& options) {
    static sim::FlashRig rig(device_id, options);
    return rig;
}

std::string fo_target_tokens() {
    const std::string p = "scsi-vxa3-tgt-7-di-1-";
    return "scsi-vxa3-adapter-port=2100000000000003\\;" + p + "node=2000000000000007\\;" + p +
           "port=2100000000000007\\;" + p + "pid=010203\\;" + p + "preferred=" + std::string(63, '0') + "1\\;" + p +
           "lun_disabled-256=8" + std::string(63, '0') + "\\;" + p + "control=10\\;";
}

void serve(sim::SimHost& host, const std::string& path, const std::string& text, bool writable) {
    sim::SimHost::Attr attr;
    attr.read = [&text](size_t pos, std::string& out) {
        out = pos < text.size() ? text.substr(pos) : std::string();
        return 0;
    };
    if (writable) attr.write = [](size_t, const std::string&) { return 0; };
    host.set_attr(path, attr, writable ? 0644 : 0444);
}

// Every trace bit but the log file's.
Traced::Traced(sim::SimHost& host) : host_(host) { vx_debug = ~VXDBG_LOGFILE; }

Traced::~Traced() {
    vx_debug = 0;
    host_.clear_stderr();
}

}  // namespace fuzz

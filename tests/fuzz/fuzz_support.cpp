#include "fuzz_support.h"

#include <algorithm>

#include "base/vx_sddbg.h"

namespace fuzz {

Bytes framed(const Bytes& part) {
    const size_t n = std::min<size_t>(part.size(), 0xFFFF);
    Bytes out{static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    out.insert(out.end(), part.begin(), part.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

Bytes join(uint8_t mode, const std::vector<Bytes>& parts) {
    Bytes out{mode};
    for (size_t i = 0; i < parts.size(); ++i) append(out, i + 1 < parts.size() ? framed(parts[i]) : parts[i]);
    return out;
}

std::vector<Bytes> texts(const std::vector<std::string>& texts) {
    std::vector<Bytes> out;
    for (const std::string& t : texts) out.push_back(sim::text_bytes(t));
    return out;
}

Bytes join_texts(uint8_t mode, const std::vector<std::string>& parts) { return join(mode, texts(parts)); }

Bytes Reader::take(size_t n) {
    n = std::min(n, size_ - pos_);
    pos_ += n;
    return Bytes(data_ + pos_ - n, data_ + pos_);
}

Buffer::Buffer(const Bytes& bytes) : data_(new uint8_t[bytes.empty() ? 1 : bytes.size()]), size_(bytes.size()) {
    if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
}

void put(Bytes& dest, size_t offset, const Bytes& bytes, size_t limit) {
    if (offset >= dest.size()) return;
    const size_t n = std::min({bytes.size(), dest.size() - offset, limit});
    std::copy_n(bytes.begin(), n, dest.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string fo_target_tokens() {
    const std::string p = "scsi-vxa3-tgt-7-di-1-";
    return "scsi-vxa3-adapter-port=2100000000000003\\;" + p + "node=2000000000000007\\;" + p +
           "port=2100000000000007\\;" + p + "pid=010203\\;" + p + "preferred=" + std::string(63, '0') + "1\\;" + p +
           "lun_disabled-256=8" + std::string(63, '0') + "\\;" + p + "control=10\\;";
}

std::vector<std::string> fo_awkward_texts() {
    const std::string a = "scsi-vxa0-adapter-port=5000000000000a00\\;", t = "scsi-vxa0-tgt-1-di-0-";
    const std::string lb = "scsi-lbtype-2-key0-tgtname=00000000000000b1";
    return {
        a + "\n" + t + "node=2000000000000001\\;\n" + lb,                   // last line without a newline
        a + "\r\n" + t + "node=20\\;\r\n" + t + "control=00\\;\r\n" + lb + "\\;\r\n",  // CR line ends
        a + std::string(1, '\0') + lb + "\\;\n",                             // a NUL inside
        a + "scsi-lb\ntype-1-key0\\;scsi-lb\ntype-1-tgtname=01\\;" + lb + "\\;\n",
        a + "scsi-vxa1-adapter-\nport\\;" + t + "no\nde\\;" + t + "lun_pre\nferred-0=ff\\;\n",
        "\\;\n7\\;" + a + lb + "\\;",                                        // a digit that would come first
    };
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

Traced::Traced(sim::SimHost& host) : host_(host) { vx_debug = ~VXDBG_LOGFILE; }  // every trace but the log file

Traced::~Traced() { vx_debug = 0, host_.clear_stderr(); }

}  // namespace fuzz

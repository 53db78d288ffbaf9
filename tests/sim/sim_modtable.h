// A driver configuration module for tests: padding, a configuration table
// (header, optional id, value and end entries), trailing bytes.
#pragma once

#include <cstring>
#include <string>
#include <vector>

namespace sim {

struct ModEntry {
    std::string name, value;
    int32_t next;  // the entry's Next: 24 bytes of head plus the value's room
};

struct ModTable {
    size_t padding = 0;  // bytes before the header entry
    std::string id;      // the id entry's value ("" = no id entry)
    std::vector<ModEntry> entries;
    size_t trailing = 64;  // bytes after the end entry
};

inline void put_entry(std::vector<uint8_t>* out, const std::string& name, const std::string& value, int32_t next) {
    const size_t at = out->size();
    out->resize(at + std::max<size_t>(24 + value.size() + 1, next > 0 ? static_cast<size_t>(next) : 25), 0);
    std::memcpy(out->data() + at, name.data(), std::min<size_t>(name.size(), 16));
    std::memcpy(out->data() + at + 16, &next, 4);
    std::memcpy(out->data() + at + 24, value.data(), value.size());
    if (next > 0) out->resize(at + static_cast<size_t>(next));
}

// The bytes of a module holding one table.
inline std::vector<uint8_t> build_module(const ModTable& t) {
    std::vector<uint8_t> out(t.padding, 0x5A);
    put_entry(&out, std::string("\x07<CoNfIg\x07NaMe>\x07", 15), std::string("\x07<cOnFiG\x07vAlUe>\x07", 16), 64);
    if (!t.id.empty()) {
        put_entry(&out, std::string("\x07<cOnFiG\x07iD>\x07", 13), t.id, static_cast<int32_t>(24 + t.id.size() + 8));
    }
    for (const ModEntry& e : t.entries) put_entry(&out, e.name, e.value, e.next);
    put_entry(&out, std::string("\x07<EnD\x07" "cOnFiG>\x07", 14), "", 0);
    out.resize(out.size() + t.trailing, 0x33);
    return out;
}

}  // namespace sim

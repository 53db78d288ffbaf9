#include "fw24xx_builder.h"

#include <cassert>

namespace sim {

void put_be32(Bytes& b, size_t offset, uint32_t v) {
    assert(offset + 4 <= b.size());
    b[offset] = static_cast<uint8_t>(v >> 24);
    b[offset + 1] = static_cast<uint8_t>(v >> 16);
    b[offset + 2] = static_cast<uint8_t>(v >> 8);
    b[offset + 3] = static_cast<uint8_t>(v);
}

namespace {

uint32_t get_be32(const Bytes& b, size_t offset) {
    return (static_cast<uint32_t>(b[offset]) << 24) | (static_cast<uint32_t>(b[offset + 1]) << 16) |
           (static_cast<uint32_t>(b[offset + 2]) << 8) | static_cast<uint32_t>(b[offset + 3]);
}

// One segment at `at` of `words` words, its word 0 still to be balanced.
void fill_segment(Bytes& b, size_t at, uint32_t words, uint32_t length_word) {
    for (uint32_t i = 1; i < words; ++i) {
        put_be32(b, at + 4 * i, 0x01020304u * (i + 1));
    }
    if (words > 3) put_be32(b, at + 12, length_word);
}

// Word 0 makes the segment's sum `error`.
void balance(Bytes& b, size_t at, uint32_t words, uint32_t error) {
    uint32_t sum = 0;
    for (uint32_t i = 1; i < words; ++i) sum += get_be32(b, at + 4 * i);
    put_be32(b, at, error - sum);
}

}  // namespace

Bytes build_24xx_fw(const Fw24xx& fw) {
    assert(fw.words1 >= 7 && fw.words2 >= 4);
    Bytes b((static_cast<size_t>(fw.words1) + fw.words2) * 4, 0);
    fill_segment(b, 0, fw.words1, fw.length_word1.value_or(fw.words1));
    put_be32(b, 16, fw.major);
    put_be32(b, 20, fw.minor);
    put_be32(b, 24, fw.subminor);
    balance(b, 0, fw.words1, fw.sum_error1);
    const size_t second = static_cast<size_t>(fw.words1) * 4;
    fill_segment(b, second, fw.words2, fw.length_word2.value_or(fw.words2));
    balance(b, second, fw.words2, fw.sum_error2);
    return b;
}

}  // namespace sim

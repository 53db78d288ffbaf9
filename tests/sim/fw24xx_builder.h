// Builder of the 24xx firmware as it stands in flash: two segments of
// big-endian 32-bit words, each with its length in words at word 3 and words
// that add up to 0; words 4, 5 and 6 of the first segment hold the major,
// minor and subminor version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "flash_builder.h"

namespace sim {

struct Fw24xx {
    uint32_t major = 1, minor = 0, subminor = 0;
    uint32_t words1 = 64;  // length of the first segment, in words
    uint32_t words2 = 32;  // of the second
    // Written into word 3 instead of the real length (to build bad images).
    std::optional<uint32_t> length_word1, length_word2;
    uint32_t sum_error1 = 0;  // added to the first segment's sum (0: a good sum)
    uint32_t sum_error2 = 0;
};

// The two segments, words1 + words2 words. Word 0 of each segment balances
// its sum; every other word not named above is a pattern.
inline Bytes build_24xx_fw(const Fw24xx& fw) {
    Bytes b((static_cast<size_t>(fw.words1) + fw.words2) * 4, 0);
    const auto put = [&b](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    // Word 0 of a segment makes its sum `error`.
    const auto segment = [&](size_t at, uint32_t words, uint32_t length_word, uint32_t error, bool versions) {
        for (uint32_t i = 1; i < words; ++i) put(at + 4 * i, 0x01020304u * (i + 1));
        if (words > 3) put(at + 12, length_word);
        if (versions) put(16, fw.major), put(20, fw.minor), put(24, fw.subminor);
        uint32_t sum = 0;
        for (size_t i = at + 4; i < at + 4 * words; ++i) sum += static_cast<uint32_t>(b[i]) << (24 - 8 * (i % 4));
        put(at, error - sum);
    };
    segment(0, fw.words1, fw.length_word1.value_or(fw.words1), fw.sum_error1, true);
    segment(static_cast<size_t>(fw.words1) * 4, fw.words2, fw.length_word2.value_or(fw.words2), fw.sum_error2, false);
    return b;
}

}  // namespace sim

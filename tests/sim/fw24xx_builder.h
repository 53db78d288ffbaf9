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
    uint32_t major = 1;
    uint32_t minor = 0;
    uint32_t subminor = 0;
    uint32_t words1 = 64;  // length of the first segment, in words
    uint32_t words2 = 32;  // of the second
    // Written into word 3 instead of the real length (to build bad images).
    std::optional<uint32_t> length_word1;
    std::optional<uint32_t> length_word2;
    uint32_t sum_error1 = 0;  // added to the first segment's sum (0: a good sum)
    uint32_t sum_error2 = 0;
};

// The two segments, words1 + words2 words. Word 0 of each segment balances
// its sum; every other word not named above is a pattern.
Bytes build_24xx_fw(const Fw24xx& fw);

// The big-endian word at a byte offset.
void put_be32(Bytes& b, size_t offset, uint32_t v);

}  // namespace sim

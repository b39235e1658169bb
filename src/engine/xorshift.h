// xorshift64*: fast pseudo-random words for payloads, which no compressing
// or deduplicating file system or link can shrink.
#pragma once

#include <cstdint>

namespace tarvik {

inline std::uint64_t NextXorShift64Star(std::uint64_t& state) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
}

}  // namespace tarvik

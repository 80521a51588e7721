#pragma once
// A word-at-a-time test used to skip runs of ordinary bytes in the traffic
// text: true when one of the eight bytes at `data` is below `limit` (at most
// 0x80), the classic "has a byte less than n" test.

#include <cstdint>
#include <cstring>

namespace ostrel::window {

template <unsigned limit>
bool hasByteBelow(const char* data) {
    static_assert(limit <= 0x80);
    std::uint64_t word;
    std::memcpy(&word, data, sizeof word);
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    return ((word - kOnes * limit) & ~word & kHighBits) != 0;
}

}  // namespace ostrel::window

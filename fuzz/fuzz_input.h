#pragma once
// Reads a fuzz input as a stream of small decisions: bytes, numbers in a
// range, and runs of raw bytes. An exhausted input gives zeros, so every
// input, however short, drives a complete run.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace ostrel::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return size_ - pos_; }

    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t u32() {
        return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16);
    }
    // A value in 0..bound-1 (bound > 0).
    std::uint32_t below(std::uint32_t bound) { return (bound <= 256 ? byte() : u32()) % bound; }
    bool flag() { return (byte() & 1) != 0; }

    // Up to `count` bytes, fewer when the input ends.
    std::span<const std::uint8_t> take(std::size_t count) {
        const std::size_t n = std::min(count, remaining());
        const std::span<const std::uint8_t> part(data_ + pos_, n);
        pos_ += n;
        return part;
    }
    std::string text(std::size_t count) {
        const std::span<const std::uint8_t> part = take(count);
        return std::string(part.begin(), part.end());
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Ends the run so that the fuzzer (or the replay) reports the input.
[[noreturn]] void fail(const char* what);
inline void require(bool condition, const char* what) {
    if (!condition) fail(what);
}

}  // namespace ostrel::fuzz

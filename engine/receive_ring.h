#pragma once
// A channel's receive ring: single producer (the receive thread advances the
// write index), single consumer (the traffic pump advances the read index).
// Capacity 8192 of 16384 bytes of storage; one position always stays free,
// so at most 8191 bytes are held.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ostrel::engine {

inline constexpr std::uint32_t kRingStorage = 16384;
inline constexpr std::uint32_t kRingCapacity = 8192;

struct ReceiveRing {
    std::array<std::uint8_t, kRingStorage> storage{};
    std::uint32_t capacity = kRingCapacity;  // set by OpenPort while no thread uses the ring
    alignas(64) std::atomic<std::uint32_t> writeIndex{0};
    alignas(64) std::atomic<std::uint32_t> readIndex{0};
};

bool RingEmpty(const ReceiveRing& ring);
std::uint32_t RingFreeRoom(const ReceiveRing& ring);  // bytes that RingStore would accept now
// Stores bytes in order while the ring is not full; returns how many were
// stored. The receive thread never offers more than RingFreeRoom(), so
// nothing is dropped.
std::uint32_t RingStore(ReceiveRing& ring, const std::uint8_t* bytes, std::uint32_t count);
// Takes up to `max` bytes at once (the pump's chunk); returns the count.
std::uint32_t RingTakeChunk(ReceiveRing& ring, std::uint8_t* out, std::uint32_t max);
// Empties the ring and sets the capacity. Only while neither thread uses it.
void RingReset(ReceiveRing& ring, std::uint32_t capacity = kRingCapacity);

}  // namespace ostrel::engine

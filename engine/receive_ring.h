#pragma once
// A channel's receive ring: single producer (the receive thread advances the
// write index), single consumer (the traffic pump advances the read index).
// One position always stays free, so at most capacity - 1 bytes are held.
// The capacity is not visible to the operator: a full ring only makes the
// receive thread leave the bytes in the kernel until the pump has taken some.
// It is large (256 KiB), so that a pump busy with the display for a moment
// does not stop the reading, and the receive thread seldom has to wait for
// room.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ostrel::engine {

inline constexpr std::uint32_t kRingStorage = 256 * 1024;
inline constexpr std::uint32_t kRingCapacity = kRingStorage;

struct ReceiveRing {
    std::unique_ptr<std::uint8_t[]> storage = std::make_unique<std::uint8_t[]>(kRingStorage);
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

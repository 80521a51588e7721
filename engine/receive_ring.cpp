#include "engine/receive_ring.h"

#include <algorithm>
#include <cstring>

namespace ostrel::engine {

// Memory order: the indices are stored and loaded sequentially consistent.
// Beyond publishing the bytes (release/acquire would do for that), two
// handshakes between the receive thread and the pump rely on one total order
// of index and flag accesses, so that one side always sees the other:
//  - "ring full, wake me": the receive thread sets wantsRoom and then looks
//    at the room again; the pump takes bytes and then looks at wantsRoom;
//  - "did my store refill a ring the pump found empty": the receive thread
//    stores and then looks at the read index again; the pump takes bytes and
//    then looks at the write index before it goes to sleep.

namespace {

std::uint32_t usedBytes(std::uint32_t read, std::uint32_t write, std::uint32_t capacity) {
    return write >= read ? write - read : capacity - read + write;
}

}  // namespace

bool RingEmpty(const ReceiveRing& ring) {
    return ring.writeIndex.load() == ring.readIndex.load();
}

std::uint32_t RingFreeRoom(const ReceiveRing& ring) {
    const std::uint32_t read = ring.readIndex.load();
    const std::uint32_t write = ring.writeIndex.load();
    return ring.capacity - 1 - usedBytes(read, write, ring.capacity);
}

std::uint32_t RingStore(ReceiveRing& ring, const std::uint8_t* bytes, std::uint32_t count) {
    const std::uint32_t capacity = ring.capacity;
    const std::uint32_t read = ring.readIndex.load();
    std::uint32_t write = ring.writeIndex.load(std::memory_order_relaxed);  // only this thread writes it
    const std::uint32_t room = capacity - 1 - usedBytes(read, write, capacity);
    const std::uint32_t n = std::min(count, room);
    if (n == 0) return 0;
    const std::uint32_t first = std::min(n, capacity - write);
    std::memcpy(ring.storage.get() + write, bytes, first);
    std::memcpy(ring.storage.get(), bytes + first, n - first);
    write += n;
    if (write >= capacity) write -= capacity;
    ring.writeIndex.store(write);
    return n;
}

std::uint32_t RingTakeChunk(ReceiveRing& ring, std::uint8_t* out, std::uint32_t max) {
    const std::uint32_t capacity = ring.capacity;
    std::uint32_t read = ring.readIndex.load(std::memory_order_relaxed);  // only this thread writes it
    const std::uint32_t write = ring.writeIndex.load();
    const std::uint32_t n = std::min(max, usedBytes(read, write, capacity));
    if (n == 0) return 0;
    const std::uint32_t first = std::min(n, capacity - read);
    std::memcpy(out, ring.storage.get() + read, first);
    std::memcpy(out + first, ring.storage.get(), n - first);
    read += n;
    if (read >= capacity) read -= capacity;
    ring.readIndex.store(read);
    return n;
}

void RingReset(ReceiveRing& ring, std::uint32_t capacity) {
    ring.capacity = std::clamp<std::uint32_t>(capacity, 2, kRingStorage);
    ring.writeIndex.store(0);
    ring.readIndex.store(0);
}

}  // namespace ostrel::engine

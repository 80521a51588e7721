#include "engine/receive_ring.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel::engine {
namespace {

std::vector<std::uint8_t> pattern(std::size_t count, std::uint8_t start = 0) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
    return bytes;
}

TEST(ReceiveRing, HoldsAtMostCapacityLessOneAndKeepsTheFirstBytes) {
    ReceiveRing ring;
    RingReset(ring);
    constexpr std::uint32_t kMost = kRingCapacity - 1;
    const auto bytes = pattern(kRingCapacity + 1000);
    EXPECT_EQ(RingStore(ring, bytes.data(), kRingCapacity + 1000), kMost);
    EXPECT_EQ(RingFreeRoom(ring), 0u);
    const std::uint8_t more = 1;
    EXPECT_EQ(RingStore(ring, &more, 1), 0u);

    std::vector<std::uint8_t> taken(kMost);
    ASSERT_EQ(RingTakeChunk(ring, taken.data(), kRingCapacity + 1000), kMost);
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), bytes.begin()));
    EXPECT_TRUE(RingEmpty(ring));

    // A reset sets the capacity, which holds one byte less.
    RingReset(ring, 100);
    EXPECT_EQ(RingStore(ring, bytes.data(), 200), 99u);
    RingReset(ring);
    EXPECT_TRUE(RingEmpty(ring));
    EXPECT_EQ(RingFreeRoom(ring), kMost);
}

struct FullCase {
    std::uint32_t read, write;
    bool full;
    std::uint32_t freeRoom;
};

TEST(ReceiveRing, FreeRoomFollowsTheIndexRule) {
    constexpr std::uint32_t L = kRingCapacity - 1;  // the last position
    const FullCase cases[] = {
        {0, 0, false, L},     {0, L, true, 0},          {0, L - 1, false, 1}, {1, 0, true, 0},
        {100, 99, true, 0},   {100, 98, false, 1},      {5, 5, false, L},     {L, L - 1, true, 0},
        {L, 0, false, L - 1}, {4000, 100, false, 3899},
    };
    for (const auto& c : cases) {
        ReceiveRing ring;
        RingReset(ring);
        ring.readIndex.store(c.read);
        ring.writeIndex.store(c.write);
        EXPECT_EQ(RingFreeRoom(ring) == 0, c.full) << "read " << c.read << " write " << c.write;
        EXPECT_EQ(RingFreeRoom(ring), c.freeRoom) << "read " << c.read << " write " << c.write;
        EXPECT_EQ(RingEmpty(ring), c.read == c.write);
    }
}

}  // namespace
}  // namespace ostrel::engine

#include "engine/receive_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace ostrel::engine {
namespace {

std::vector<std::uint8_t> pattern(std::size_t count, std::uint8_t start = 0) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
    return bytes;
}

TEST(ReceiveRing, ResetRingIsEmptyWithRoomFor8191) {
    ReceiveRing ring;
    RingReset(ring);
    EXPECT_EQ(ring.capacity, kRingCapacity);
    EXPECT_TRUE(RingEmpty(ring));
    EXPECT_FALSE(RingFull(ring));
    EXPECT_EQ(RingFreeRoom(ring), 8191u);
}

TEST(ReceiveRing, HoldsAtMost8191BytesAndKeepsTheFirstOnes) {
    ReceiveRing ring;
    RingReset(ring);
    const auto bytes = pattern(10000);
    EXPECT_EQ(RingStore(ring, bytes.data(), 10000), 8191u);
    EXPECT_TRUE(RingFull(ring));
    EXPECT_EQ(RingFreeRoom(ring), 0u);
    const std::uint8_t more = 1;
    EXPECT_EQ(RingStore(ring, &more, 1), 0u);

    std::vector<std::uint8_t> taken(8191);
    ASSERT_EQ(RingTakeChunk(ring, taken.data(), 10000), 8191u);
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), bytes.begin()));
    EXPECT_TRUE(RingEmpty(ring));
}

struct FullCase {
    std::uint32_t read, write;
    bool full;
    std::uint32_t freeRoom;
};

TEST(ReceiveRing, FullAndFreeRoomFollowTheIndexRule) {
    const FullCase cases[] = {
        {0, 0, false, 8191},    {0, 8191, true, 0},       {0, 8190, false, 1}, {1, 0, true, 0},
        {100, 99, true, 0},     {100, 98, false, 1},      {5, 5, false, 8191}, {8191, 8190, true, 0},
        {8191, 0, false, 8190}, {4000, 100, false, 3899},
    };
    for (const auto& c : cases) {
        ReceiveRing ring;
        RingReset(ring);
        ring.readIndex.store(c.read);
        ring.writeIndex.store(c.write);
        EXPECT_EQ(RingFull(ring), c.full) << "read " << c.read << " write " << c.write;
        EXPECT_EQ(RingFreeRoom(ring), c.freeRoom) << "read " << c.read << " write " << c.write;
        EXPECT_EQ(RingEmpty(ring), c.read == c.write);
    }
}

TEST(ReceiveRing, WrapsAroundTheCapacityInOrder) {
    ReceiveRing ring;
    RingReset(ring);
    std::uint8_t next = 0;    // next byte value to store
    std::uint8_t expect = 0;  // next byte value to take
    for (int round = 0; round < 40; ++round) {
        std::vector<std::uint8_t> in(3001);
        for (auto& b : in) b = next++;
        ASSERT_EQ(RingStore(ring, in.data(), 3001), 3001u);
        std::vector<std::uint8_t> out(3001);
        ASSERT_EQ(RingTakeChunk(ring, out.data(), 3001), 3001u);
        for (auto b : out) ASSERT_EQ(b, expect++);
        EXPECT_LT(ring.writeIndex.load(), kRingCapacity);
    }
    EXPECT_TRUE(RingEmpty(ring));
}

TEST(ReceiveRing, TakeGivesBytesOneByOneAndZeroWhenEmpty) {
    ReceiveRing ring;
    RingReset(ring);
    std::uint8_t byte = 0x55;
    EXPECT_FALSE(RingTake(ring, byte));
    EXPECT_EQ(byte, 0);
    const std::uint8_t in[] = {0x10, 0x20};
    RingStore(ring, in, 2);
    ASSERT_TRUE(RingTake(ring, byte));
    EXPECT_EQ(byte, 0x10);
    ASSERT_TRUE(RingTake(ring, byte));
    EXPECT_EQ(byte, 0x20);
    EXPECT_FALSE(RingTake(ring, byte));
}

TEST(ReceiveRing, ChunksOf2048From5000) {
    ReceiveRing ring;
    RingReset(ring);
    const auto bytes = pattern(5000);
    ASSERT_EQ(RingStore(ring, bytes.data(), 5000), 5000u);
    std::vector<std::uint8_t> chunk(2048);
    EXPECT_EQ(RingTakeChunk(ring, chunk.data(), 2048), 2048u);
    EXPECT_EQ(RingTakeChunk(ring, chunk.data(), 2048), 2048u);
    EXPECT_EQ(RingTakeChunk(ring, chunk.data(), 2048), 904u);
    EXPECT_EQ(RingTakeChunk(ring, chunk.data(), 2048), 0u);
}

TEST(ReceiveRing, ResetEmptiesAndSetsCapacity) {
    ReceiveRing ring;
    RingReset(ring, 100);
    const auto bytes = pattern(200);
    EXPECT_EQ(RingStore(ring, bytes.data(), 200), 99u);
    RingReset(ring);
    EXPECT_TRUE(RingEmpty(ring));
    EXPECT_EQ(ring.readIndex.load(), 0u);
    EXPECT_EQ(ring.writeIndex.load(), 0u);
    EXPECT_EQ(RingFreeRoom(ring), 8191u);
}

// One producer storing only what fits, one consumer taking chunks: every
// byte arrives once and in order (run under ThreadSanitizer too).
TEST(ReceiveRing, ProducerAndConsumerThreadsPassEveryByteInOrder) {
    ReceiveRing ring;
    RingReset(ring);
    constexpr std::size_t kTotal = 4u << 20;
    std::thread producer([&] {
        std::uint8_t buffer[5000];
        std::size_t sent = 0;
        while (sent < kTotal) {
            const std::uint32_t room = RingFreeRoom(ring);
            if (room == 0) {
                std::this_thread::yield();
                continue;
            }
            const std::uint32_t n =
                static_cast<std::uint32_t>(std::min<std::size_t>({room, sizeof buffer, kTotal - sent}));
            for (std::uint32_t i = 0; i < n; ++i) buffer[i] = static_cast<std::uint8_t>((sent + i) % 251);
            ASSERT_EQ(RingStore(ring, buffer, n), n);
            sent += n;
        }
    });
    std::size_t received = 0;
    bool inOrder = true;
    std::uint8_t chunk[2048];
    while (received < kTotal) {
        const std::uint32_t n = RingTakeChunk(ring, chunk, sizeof chunk);
        if (n == 0) {
            std::this_thread::yield();
            continue;
        }
        for (std::uint32_t i = 0; i < n; ++i)
            if (chunk[i] != static_cast<std::uint8_t>((received + i) % 251)) inOrder = false;
        received += n;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(RingEmpty(ring));
}

}  // namespace
}  // namespace ostrel::engine

#include "platform/transmitter.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <thread>

#include "platform/pty_pair.h"
#include "pty_test_support.h"

namespace ostrel::platform {
namespace {

using test::readFd;
using test::waitUntil;

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

class TransmitterTest : public ::testing::Test {
protected:
    void SetUp() override {
        Result<PtyPair> pair = openPtyPair();
        ASSERT_TRUE(pair.ok()) << pair.error().describe();
        pair_ = std::move(pair).value();
    }
    PtyPair pair_;
};

TEST_F(TransmitterTest, OneMebibyteQueuedBeforeAnyReadArrivesCompleteAndInOrder) {
    constexpr std::size_t kTotal = 1 << 20;
    const std::vector<std::uint8_t> data = pattern(kTotal);
    std::atomic<int> lowWaterCalls{0};
    Transmitter transmitter(pair_.slave.get(), 64 * 1024, [&] { ++lowWaterCalls; });

    // Everything is queued before anyone reads: the pty takes ~20 KiB, so
    // each enqueue returned without waiting for the reader.
    for (std::size_t offset = 0; offset < kTotal; offset += 1000) {
        const std::size_t n = std::min<std::size_t>(1000, kTotal - offset);
        ASSERT_TRUE(transmitter.enqueue(std::span(data).subspan(offset, n)));
    }
    EXPECT_LT(transmitter.written(), kTotal / 4);
    EXPECT_GT(transmitter.queued(), kTotal / 2);
    // A slow worker may already have crossed the low-water mark once while
    // the queue was still filling; draining the rest must cross it again.
    const int callsWhileFilling = lowWaterCalls.load();

    const std::vector<std::uint8_t> received = readFd(pair_.master.get(), kTotal, std::chrono::seconds(10));
    ASSERT_EQ(received.size(), kTotal);
    EXPECT_TRUE(received == data) << "bytes arrived changed or out of order";
    EXPECT_TRUE(waitUntil([&] { return transmitter.queued() == 0 && transmitter.written() == kTotal; }));
    EXPECT_TRUE(waitUntil([&] { return lowWaterCalls.load() > callsWhileFilling; }));
    EXPECT_FALSE(transmitter.failed());
}

TEST_F(TransmitterTest, AnIdlePortTakesTheBytesBeforeEnqueueReturnsAndAFullOneKeepsTheOrder) {
    Transmitter transmitter(pair_.slave.get());
    const std::vector<std::uint8_t> first = pattern(100);
    ASSERT_TRUE(transmitter.enqueue(first));
    // Written by the call itself, not by the worker later.
    EXPECT_EQ(transmitter.written(), first.size());
    EXPECT_EQ(transmitter.queued(), 0u);
    EXPECT_EQ(readFd(pair_.master.get(), first.size()), first);

    // Nobody reads: the port fills, the rest queues, and small pieces
    // given afterwards go behind the queue, not past it to a port that has
    // room for a moment.
    std::vector<std::uint8_t> expected = pattern(300 * 1024);
    ASSERT_TRUE(transmitter.enqueue(expected));
    EXPECT_GT(transmitter.queued(), 0u);
    for (int i = 0; i < 50; ++i) {
        const std::vector<std::uint8_t> piece(7, static_cast<std::uint8_t>(i));
        ASSERT_TRUE(transmitter.enqueue(piece));
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    const std::vector<std::uint8_t> received =
        readFd(pair_.master.get(), expected.size(), std::chrono::seconds(10));
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "bytes arrived changed or out of order";
    EXPECT_TRUE(waitUntil([&] { return transmitter.written() == first.size() + expected.size(); }));
}

TEST_F(TransmitterTest, XoffHoldsTheDataAndXonReleasesItAll) {
    termios t{};
    ASSERT_EQ(::tcgetattr(pair_.slave.get(), &t), 0);
    t.c_iflag |= IXON;
    ASSERT_EQ(::tcsetattr(pair_.slave.get(), TCSANOW, &t), 0);

    // XOFF then a marker: once the marker is read on the slave, the XOFF
    // before it has stopped the slave's output.
    ASSERT_TRUE(test::writeAll(pair_.master.get(), std::string("\x13M")));
    ASSERT_EQ(readFd(pair_.slave.get(), 1), std::vector<std::uint8_t>{'M'});

    Transmitter transmitter(pair_.slave.get());
    const std::vector<std::uint8_t> data = pattern(100 * 1024);
    ASSERT_TRUE(transmitter.enqueue(data));
    // The worker keeps retrying on POLLOUT; nothing gets through while stopped.
    EXPECT_FALSE(waitUntil([&] { return transmitter.written() > 0; }, std::chrono::milliseconds(150)));
    EXPECT_EQ(transmitter.queued(), data.size());
    pollfd p{pair_.master.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);

    ASSERT_TRUE(test::writeAll(pair_.master.get(), std::string("\x11")));
    EXPECT_EQ(readFd(pair_.master.get(), data.size()), data);
    EXPECT_TRUE(waitUntil([&] { return transmitter.queued() == 0; }));
    EXPECT_FALSE(transmitter.failed());
}

TEST_F(TransmitterTest, FailsWhileWaitingForRoomWhenTheOtherEndGoes) {
    std::atomic<int> lowWaterCalls{0};
    Transmitter transmitter(pair_.slave.get(), 1024, [&] { ++lowWaterCalls; });
    ASSERT_TRUE(transmitter.enqueue(pattern(200 * 1024)));
    // Nobody reads the master: the worker ends up waiting for POLLOUT.
    ASSERT_TRUE(waitUntil([&] { return transmitter.written() > 0; }));
    pair_.master.reset();
    EXPECT_TRUE(waitUntil([&] { return transmitter.failed(); }));
    EXPECT_EQ(transmitter.queued(), 0u);
    EXPECT_TRUE(waitUntil([&] { return lowWaterCalls.load() == 1; }));
    EXPECT_FALSE(transmitter.enqueue(pattern(10)));
}

}  // namespace
}  // namespace ostrel::platform

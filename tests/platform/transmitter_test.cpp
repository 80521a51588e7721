#include "platform/transmitter.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
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

TEST_F(TransmitterTest, OneMebibyteArrivesCompleteAndInOrderThroughASlowReader) {
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

    // A reader that takes small bites.
    std::vector<std::uint8_t> received;
    received.reserve(kTotal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::uint8_t buffer[512];
    while (received.size() < kTotal && std::chrono::steady_clock::now() < deadline) {
        pollfd p{pair_.master.get(), POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(pair_.master.get(), buffer, sizeof buffer);
        if (n > 0) received.insert(received.end(), buffer, buffer + n);
    }
    ASSERT_EQ(received.size(), kTotal);
    EXPECT_TRUE(received == data) << "bytes arrived changed or out of order";
    EXPECT_TRUE(waitUntil([&] { return transmitter.queued() == 0 && transmitter.written() == kTotal; }));
    EXPECT_TRUE(waitUntil([&] { return lowWaterCalls.load() == 1; }));
    EXPECT_FALSE(transmitter.failed());
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

TEST_F(TransmitterTest, FailsAndDiscardsOnceTheOtherEndIsGone) {
    Transmitter transmitter(pair_.slave.get());
    pair_.master.reset();
    const std::vector<std::uint8_t> data = pattern(100);
    EXPECT_TRUE(transmitter.enqueue(data));  // not known yet: the worker finds out
    EXPECT_TRUE(waitUntil([&] { return transmitter.failed(); }));
    EXPECT_EQ(transmitter.queued(), 0u);
    EXPECT_FALSE(transmitter.enqueue(data));
    EXPECT_EQ(transmitter.queued(), 0u);
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
}

TEST_F(TransmitterTest, DestructionWhileBlockedIsPrompt) {
    const std::int64_t start = steadyMillis();
    {
        Transmitter transmitter(pair_.slave.get());
        ASSERT_TRUE(transmitter.enqueue(pattern(200 * 1024)));
        ASSERT_TRUE(waitUntil([&] { return transmitter.written() > 0; }));
    }
    EXPECT_LT(steadyMillis() - start, 1000);
}

TEST_F(TransmitterTest, EmptyEnqueueIsAcceptedAndWritesNothing) {
    Transmitter transmitter(pair_.slave.get());
    EXPECT_TRUE(transmitter.enqueue({}));
    EXPECT_EQ(transmitter.queued(), 0u);
    const std::vector<std::uint8_t> one = {0x5A};
    ASSERT_TRUE(transmitter.enqueue(one));
    EXPECT_EQ(readFd(pair_.master.get(), 1), one);
    EXPECT_TRUE(waitUntil([&] { return transmitter.written() == 1; }));
}

}  // namespace
}  // namespace ostrel::platform

// Receive threads: notices, a full ring without loss, hang-up, late exit
// notices and shutdown while traffic flows.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/engine.h"
#include "engine_test_access.h"
#include "engine_test_support.h"

namespace ostrel::engine::testing {
namespace {

using namespace std::chrono_literals;

using ReceiveThreads = EngineFixture;

TEST_F(ReceiveThreads, OnlyAnEmptyRingThatGetsBytesPostsDataReady) {
    link.setMode(kDceEmulation);
    link.deferPump(true);  // the ring is not emptied in between
    ASSERT_EQ(open(kDceEmulation), kStatusOk);
    const ReceiveRing& ring = EngineTestAccess::channel(*engine, kDceSide).ring;
    ASSERT_TRUE(far[1]->write("a"));
    ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(ring) == kRingCapacity - 2; }));
    ASSERT_TRUE(far[1]->write("bcd"));
    ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(ring) == kRingCapacity - 5; }));
    EXPECT_EQ(link.dataReadySides(), std::vector<int>{kDceSide});

    link.deferPump(false);
    ASSERT_TRUE(waitForChunkBytes(4));
    ASSERT_TRUE(far[1]->write("e"));  // the ring is empty again: a new notice
    ASSERT_TRUE(waitForChunkBytes(5));
    EXPECT_EQ(link.dataReadySides(), (std::vector<int>{kDceSide, kDceSide}));
}

TEST_F(ReceiveThreads, AFullRingLosesNoByte) {
    link.setMode(kDteEmulation);
    // A slow display lets the ring fill up; note how full it gets.
    std::atomic<std::uint32_t> leastRoom{kRingCapacity - 1};
    presenter.setShowHook([&](std::string_view) {
        std::this_thread::sleep_for(1ms);
        const std::uint32_t room = RingFreeRoom(EngineTestAccess::channel(*engine, kDteSide).ring);
        std::uint32_t least = leastRoom.load();
        while (room < least && !leastRoom.compare_exchange_weak(least, room)) {
        }
    });
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    const Bytes data = randomBytes(kRingCapacity + 200 * 1024, 11);
    std::thread writer([&] { EXPECT_TRUE(far[0]->write(data)); });
    const bool complete = waitForChunkBytes(data.size());
    writer.join();
    ASSERT_TRUE(complete) << link.chunkBytes() << " of " << data.size();
    EXPECT_EQ(bytesUnder(link.entries(), " DCE ->> "), std::string(data.begin(), data.end()));
    EXPECT_EQ(leastRoom.load(), 0u);  // the ring was full at least once
    for (const auto& chunk : shownChunks(link.entries())) EXPECT_LE(chunk.bytes.size(), kChunkSize);
}

TEST_F(ReceiveThreads, ClosingEndsEachThreadWithOneNoticeThatIsNotCurrentAfterAReopen) {
    ASSERT_EQ(open(kFullDuplex), kStatusOk);
    const auto dteId = engine->receiveThreadId(kDteSide);
    const auto dceId = engine->receiveThreadId(kDceSide);
    EXPECT_NE(dteId, dceId);
    engine->CloseAllPorts();
    // The threads were joined: their notices are already there. Both sides
    // stop together, so the two notices may come in either order.
    auto notices = link.exitNotices();
    ASSERT_EQ(notices.size(), 2u);
    std::sort(notices.begin(), notices.end(), [](const auto& a, const auto& b) { return a.side < b.side; });
    EXPECT_EQ(notices[0].threadId, dteId);
    EXPECT_EQ(notices[0].side, kDteSide);
    EXPECT_EQ(notices[0].portNumber, 1);
    EXPECT_FALSE(notices[0].hungUp);
    EXPECT_EQ(notices[1].threadId, dceId);
    EXPECT_EQ(notices[1].side, kDceSide);
    EXPECT_FALSE(notices[1].hungUp);
    EXPECT_EQ(link.statusText(), "");
    EXPECT_FALSE(engine->IsCurrentReceiveThread(0));

    // The notice of the old session arrives late, after a new open.
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    const auto newId = engine->receiveThreadId(kDteSide);
    EXPECT_NE(newId, dteId);
    EXPECT_FALSE(engine->IsCurrentReceiveThread(dteId));
    EXPECT_TRUE(engine->IsCurrentReceiveThread(newId));
    ASSERT_TRUE(far[0]->write("still here"));  // the new session works
    EXPECT_TRUE(waitForChunkBytes(10));
}

TEST_F(ReceiveThreads, EverythingReadBeforeAHangUpIsShownBeforeTheDisconnectLine) {
    // A slow display: the hang-up comes while the pump is still showing.
    presenter.setShowHook([](std::string_view) { std::this_thread::sleep_for(20ms); });
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    const Bytes data = randomBytes(4000, 5);
    ASSERT_TRUE(far[0]->write(data));
    // Hangs up as soon as the receive thread has read something.
    ASSERT_TRUE(
        waitUntil([&] { return EngineTestAccess::channel(*engine, kDteSide).bytesReceived.load() > 0; }));
    far[0]->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !link.exitNotices().empty(); }));
    EXPECT_TRUE(link.exitNotices().front().hungUp);

    // What the kernel discarded at the hang-up never reached the engine; all
    // that the receive thread read is shown, in order, before the line.
    const std::uint64_t read = EngineTestAccess::channel(*engine, kDteSide).bytesReceived.load();
    const auto entries = link.entries();
    const std::string shown = bytesUnder(entries, text::kFromDceMarker);
    EXPECT_EQ(shown.size(), read);
    EXPECT_TRUE(shown ==
                std::string(data.begin(), data.begin() + std::min<std::uint64_t>(read, data.size())));
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().kind, ShownEntry::Status);
    EXPECT_EQ(entries.back().data, "\r\n*** COM1 disconnected ***\r\n");
    EXPECT_EQ(link.statusText(), "\r\n*** COM1 disconnected ***\r\n");
}

TEST_F(ReceiveThreads, HangUpEndsTheThreadAtOnceWithoutSpinning) {
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    const auto id = engine->receiveThreadId(kDteSide);
    far[0]->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !link.exitNotices().empty(); }, 2000ms));
    const auto notice = link.exitNotices().front();
    EXPECT_EQ(notice.threadId, id);
    EXPECT_TRUE(notice.hungUp);
    EXPECT_EQ(notice.side, kDteSide);
    EXPECT_EQ(notice.portNumber, 1);
    EXPECT_EQ(link.statusText(), "\r\n*** COM1 disconnected ***\r\n");
    // The notice comes from the current session: the window closes it.
    EXPECT_TRUE(engine->IsCurrentReceiveThread(id));

    // Nothing keeps running on the dead port.
    const double before = processCpuMs();
    std::this_thread::sleep_for(300ms);
    const double used = processCpuMs() - before;
    EXPECT_LT(used, 50.0) << "CPU ms used in 300 ms after the hang-up";

    engine->CloseAllPorts();
    EXPECT_FALSE(engine->IsCurrentReceiveThread(id));
    EXPECT_EQ(link.exitNotices().size(), 1u);
}

TEST_F(ReceiveThreads, ShutdownWithTrafficFlowingAndARelayHeldStopsEverythingPromptly) {
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int side : {0, 1}) {
        workers.emplace_back([&, side] {
            const Bytes block = randomBytes(4096, side + 20);
            while (!stop.load()) far[side]->write(block, 20ms);
        });
    }
    // Only the DTE end reads: the relay towards the DCE end backs up, and its
    // transmitter waits for room that never comes.
    workers.emplace_back([&] {
        while (!stop.load()) far[0]->read(1 << 16, 10ms);
    });
    const bool flowing = waitForChunkBytes(256 * 1024) && waitUntil([&] {
                             const auto& towardsDce =
                                 EngineTestAccess::channel(*engine, kDceSide).transmitter;
                             return towardsDce && towardsDce->queued() >= 32 * 1024;
                         });
    const auto start = std::chrono::steady_clock::now();
    engine->ShutdownEngine();
    const auto took = std::chrono::steady_clock::now() - start;
    stop.store(true);
    for (auto& worker : workers) worker.join();

    ASSERT_TRUE(flowing);
    EXPECT_LT(took, 1000ms);
    EXPECT_FALSE(engine->ready());
    for (int side : {kDteSide, kDceSide}) {
        EXPECT_FALSE(engine->isOpen(side));
        EXPECT_FALSE(EngineTestAccess::channel(*engine, side).receiveThread.joinable());
        EXPECT_FALSE(EngineTestAccess::channel(*engine, side).transmitter);
        EXPECT_FALSE(EngineTestAccess::channel(*engine, side).port.has_value());
    }
    EXPECT_EQ(link.exitNotices().size(), 2u);
    // Nothing more reaches the window once the engine has stopped.
    const std::size_t shown = link.chunkBytes();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(link.chunkBytes(), shown);
}

}  // namespace
}  // namespace ostrel::engine::testing

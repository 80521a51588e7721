// Closing a session: the last texts come in order ("Port is OFF" after all
// of the session's text), the transmit queues get a short drain, and what
// could not be delivered is said.

#include <gtest/gtest.h>

#include <future>
#include <new>
#include <thread>

#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine_test_access.h"
#include "engine_test_support.h"

namespace ostrel::engine::testing {
namespace {

using namespace std::chrono_literals;

// A link whose traffic goes through a DisplayQueue, as both front ends do:
// the pump's appends wait at the queue's bound, status lines never wait.
class QueueLink : public TestLink {
public:
    explicit QueueLink(DisplayQueue& queue) : queue_(queue) {}
    void appendText(std::string_view text) override { queue_.append(text); }
    void appendStatusText(std::string_view text) override { queue_.appendUnbounded(text); }
    void setAppendsUnbounded(bool unbounded) override { queue_.setUnbounded(unbounded); }

private:
    DisplayQueue& queue_;
};

TEST(SessionCloseOrder, PortOffComesAfterAChunkThePumpHeldAtTheDisplayBound) {
    FarEnd far;
    platform::PortMap ports;
    ASSERT_FALSE(ports.addExplicit(1, far.path()).has_value());
    DisplayQueue display(1024);  // nobody takes: the display is stalled
    QueueLink link(display);
    TestPresenter presenter;
    Engine engine(ports);
    link.attach(&engine);
    engine.InitEngine(link, presenter);
    engine.StartPump();
    SessionConfig config;
    config.mode = kDteEmulation;
    config.dte = PortSettings{kDteSide, 1, 115200, 8, kNoParity, kOneStopBit, kFlowNone};
    ASSERT_EQ(engine.OpenSession(config), kStatusOk);

    // The first chunk goes in, the second waits at the bound.
    ASSERT_TRUE(far.write(randomBytes(10000, 3)));
    ASSERT_TRUE(waitUntil([&] {
        return RingFreeRoom(EngineTestAccess::channel(engine, kDteSide).ring) < kRingCapacity - 1 - 2048 * 2;
    }));
    ASSERT_TRUE(waitUntil([&] { return display.backlog() >= 2048; }));

    // The UI thread closes the session while the pump is held.
    engine.CloseAllPorts();
    display.appendUnbounded(text::kPortOff);
    display.close();
    engine.ShutdownEngine();

    std::string shown;
    for (std::string part = display.take(); !part.empty(); part = display.take()) shown += part;
    ASSERT_GE(shown.size(), text::kPortOff.size());
    EXPECT_TRUE(shown.ends_with(text::kPortOff)) << shown.size() << " bytes shown";
    EXPECT_EQ(shown.find(text::kPortOff), shown.size() - text::kPortOff.size());
}

using SessionClose = EngineFixture;

// Intercede with the DCE far end not reading: relayed and sent bytes wait in
// the DCE port's transmit queue.
constexpr std::size_t kRelayed = 256 * 1024;
constexpr std::size_t kSent = 10000;

TEST_F(SessionClose, UndeliveredBytesAreCountedAfterADrainThatTheClockEnds) {
    makeEngine(true);
    link.setMode(kIntercede);
    link.setTarget(kToDce);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    ASSERT_TRUE(far[0]->write(randomBytes(kRelayed, 8)));
    ASSERT_TRUE(waitForChunkBytes(kRelayed));
    EXPECT_EQ(engine->WriteToSide(randomBytes(kSent, 9)), static_cast<std::int32_t>(kSent));
    ASSERT_GT(EngineTestAccess::channel(*engine, kDceSide).transmitter->queued(), 0u);

    // The drain lasts until the engine's clock has moved 200 ms.
    auto closed = std::async(std::launch::async, [&] { engine->CloseAllPorts(); });
    EXPECT_EQ(closed.wait_for(300ms), std::future_status::timeout);
    fakeNow += 199;
    EXPECT_EQ(closed.wait_for(100ms), std::future_status::timeout);
    fakeNow += 1;
    ASSERT_EQ(closed.wait_for(20s), std::future_status::ready);

    const std::string status = link.statusText();
    const std::string prefix = "\r\n*** COM2: ";
    const std::string suffix = " bytes not delivered ***\r\n";
    ASSERT_TRUE(status.starts_with(prefix) && status.ends_with(suffix)) << status;
    const std::size_t undelivered =
        std::stoul(status.substr(prefix.size(), status.size() - prefix.size() - suffix.size()));
    // Counted are the bytes never handed to the port; the port took no more
    // than its kernel buffer (a pseudo-terminal holds well under 64 KiB, which
    // its far end can still read after the close).
    EXPECT_LE(undelivered, kRelayed + kSent);
    EXPECT_GE(undelivered, kRelayed + kSent - 64 * 1024);
}

TEST_F(SessionClose, AReadingFarEndGetsEverythingRelayedBeforeTheClose) {
    // The clock stands still, so the drain ends only when the queue is empty:
    // a slow machine (or a sanitizer) cannot turn this into a race with 200 ms.
    makeEngine(true);
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    ASSERT_TRUE(far[0]->write(randomBytes(kRelayed, 8)));
    ASSERT_TRUE(waitForChunkBytes(kRelayed));
    ASSERT_GT(EngineTestAccess::channel(*engine, kDceSide).transmitter->queued(), 0u);

    Bytes arrived;
    std::thread reader([&] { arrived = far[1]->read(kRelayed, 20s); });
    engine->CloseAllPorts();
    reader.join();
    EXPECT_EQ(arrived.size(), kRelayed);
    EXPECT_EQ(link.statusText(), "");
}

// A relay held back by a far end that reads nothing holds back the other
// side's ring; the close still shows everything that side read, and counts
// what the far end did not take.
TEST_F(SessionClose, EverythingReadIsShownAtACloseWhileTheRelayIsHeldBack) {
    makeEngine(true, 64 * 1024);
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    // The relay stops at 64 KiB queued, then the DTE side's ring fills, then
    // the kernel's buffers: the far end writes what they take in half a second.
    (void)far[0]->write(randomBytes(1 << 20, 11), 500ms);
    PortChannel& dte = EngineTestAccess::channel(*engine, kDteSide);
    ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(dte.ring) == 0; }));
    const std::size_t shownBefore = link.chunkBytes();

    auto closed = std::async(std::launch::async, [&] { engine->CloseAllPorts(); });
    // The ring is shown (the engine's clock stands still meanwhile; not
    // fatal, so that the clock below still lets the close end) ...
    EXPECT_TRUE(waitUntil([&] { return link.chunkBytes() >= shownBefore + kRingCapacity - 1; }));
    // ... then the transmit queue's drain ends with the clock (moved until the
    // close ends: the drain's deadline is set when the drain begins).
    for (int step = 0; step < 400 && closed.wait_for(50ms) != std::future_status::ready; ++step)
        fakeNow += 200;
    ASSERT_EQ(closed.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(engine->readSide(kDteSide).bytesReceived, link.chunkBytes());
    const std::string status = link.statusText();
    const std::string prefix = "\r\n*** COM2: ";
    const std::string suffix = " bytes not delivered ***\r\n";
    ASSERT_TRUE(status.starts_with(prefix) && status.ends_with(suffix)) << status;
    EXPECT_GE(std::stoul(status.substr(prefix.size(), status.size() - prefix.size() - suffix.size())),
              kRingCapacity - 1);
}

TEST_F(SessionClose, NoDrainTowardsAFarEndThatHungUp) {
    makeEngine(true);  // the clock never moves: a drain would never end
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    ASSERT_TRUE(far[0]->write(randomBytes(kRelayed, 8)));
    ASSERT_TRUE(waitForChunkBytes(kRelayed));
    far[1]->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !link.exitNotices().empty(); }));

    auto closed = std::async(std::launch::async, [&] { engine->CloseAllPorts(); });
    ASSERT_EQ(closed.wait_for(20s), std::future_status::ready);
    const std::string status = link.statusText();
    EXPECT_TRUE(status.starts_with("\r\n*** COM2 disconnected ***\r\n\r\n*** COM2: ")) << status;
    EXPECT_TRUE(status.ends_with(" bytes not delivered ***\r\n")) << status;
}

// An allocation that fails on the pump or on a receive thread: the process
// goes on, the session shows the line and asks to be closed, and the next
// session works.
TEST_F(SessionClose, RunningOutOfMemoryOnAWorkerThreadClosesTheSessionNotTheProcess) {
    for (const bool onPump : {true, false}) {
        SCOPED_TRACE(onPump ? "pump" : "receive thread");
        std::atomic<bool> failOnce{true};
        const auto failFirst = [&] {
            if (failOnce.exchange(false)) throw std::bad_alloc();
        };
        if (onPump)
            presenter.setShowHook([&](std::string_view) { failFirst(); });
        else
            link.setDataReadyHandler([&](int) { failFirst(); });
        const std::size_t noticesBefore = link.exitNotices().size();
        ASSERT_EQ(open(kDteEmulation), kStatusOk);
        const auto threadId = engine->receiveThreadId(kDteSide);
        ASSERT_TRUE(far[0]->write("abc"));
        ASSERT_TRUE(waitUntil([&] { return link.exitNotices().size() > noticesBefore; }));
        const ReceiveExitNotice notice = link.exitNotices().back();
        EXPECT_TRUE(notice.outOfMemory);
        EXPECT_FALSE(notice.hungUp);
        EXPECT_EQ(notice.threadId, threadId);
        EXPECT_TRUE(engine->IsCurrentReceiveThread(notice.threadId));
        EXPECT_TRUE(link.statusText().ends_with(text::kOutOfMemory)) << link.statusText();
        engine->CloseAllPorts();
        presenter.setShowHook({});
        link.setDataReadyHandler({});

        // A new session is served again.
        const std::size_t shown = link.chunkBytes();
        ASSERT_EQ(open(kDteEmulation), kStatusOk);
        ASSERT_TRUE(far[0]->write("def"));
        EXPECT_TRUE(waitForChunkBytes(shown + 3));
        engine->CloseAllPorts();
    }
}

}  // namespace
}  // namespace ostrel::engine::testing

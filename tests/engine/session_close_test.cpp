// Closing a session: the last texts come in order ("Port is OFF" after all
// of the session's text).

#include <gtest/gtest.h>

#include <thread>

#include "engine/display_queue.h"
#include "engine/engine.h"
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
    ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(engine.channel(kDteSide).ring) < 8191 - 2048 * 2; }));
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

}  // namespace
}  // namespace ostrel::engine::testing

// The traffic window as the engine's threads reach it: text from other
// threads arrives whole and in order, new traffic goes to the end whatever
// the operator clicked or selected, a hang-up closes the session as Close COM does, a stale
// receive-exit notice is ignored, and Exit and the close box end the run.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <thread>

#include "support/main_window_fixture.h"
#include "ui/traffic_view.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

using namespace std::chrono_literals;

using TrafficLink = MainWindowFixture;

TEST_F(TrafficLink, TextFromOtherThreadsArrivesWholeAndInOrder) {
    const std::string before = traffic();
    std::string expected;
    for (int i = 0; i < 2000; ++i) expected += "line " + std::to_string(i) + std::string(500, '.') + "\r\n";
    // The appending thread never waits for the GUI thread (which does not
    // run until the thread has finished).
    std::thread writer([&] {
        for (std::size_t at = 0; at < expected.size(); at += 4096)
            window->appendText(std::string_view(expected).substr(at, 4096));
    });
    writer.join();
    EXPECT_TRUE(waitFor([&] {
        return window->trafficView()->size() == static_cast<qint64>(before.size() + expected.size());
    }));
    EXPECT_EQ(window->trafficView()->text(), before + expected);
}

TEST_F(TrafficLink, NewTrafficGoesToTheEndWhereverTheOperatorClickedOrSelected) {
    openIn(window::id::kDteEmulationRadio);
    ASSERT_TRUE(far[0]->write("AB"));
    ASSERT_TRUE(waitForTraffic("0x41 0x42 "));
    const std::string before = traffic();
    const std::size_t at = before.find("*** Port is ON") + 4;  // inside the status line
    TrafficView* view = window->trafficView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->pointForOffset(static_cast<qint64>(at)));
    ASSERT_EQ(view->caretPosition(), static_cast<qint64>(at));

    ASSERT_TRUE(far[0]->write("Z"));
    ASSERT_TRUE(waitForTraffic("0x5A "));
    std::string after = traffic();
    // The old text is untouched, everything new follows it, and the caret stays.
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_NE(after.find("0x5A ", before.size()), std::string::npos);
    EXPECT_EQ(view->caretPosition(), static_cast<qint64>(at));

    // A selection (here all of it) survives the next traffic.
    view->selectAll();
    const std::string selected = view->selectedText();
    ASSERT_TRUE(far[0]->write("Y"));
    ASSERT_TRUE(waitForTraffic("0x59 "));
    after = traffic();
    EXPECT_EQ(after.substr(0, selected.size()), selected);
    EXPECT_EQ(view->selectedText(), selected);
}

TEST_F(TrafficLink, AHangUpOnOneSideClosesTheSessionAsCloseComDoes) {
    openIn(window::id::kIntercedeRadio);
    far[1]->hangUp();
    EXPECT_TRUE(waitForTraffic("\r\n*** COM2 disconnected ***\r\n\r\n*** Port is OFF ***\r\n"));
    ASSERT_TRUE(waitFor([this] { return !window->state().portOpen; }));
    expectSessionClosed();
    processQueued();
    // One "Port is OFF": the other side's notice finds the session closed.
    const std::string text = traffic();
    EXPECT_EQ(text.find("Port is OFF"), text.rfind("Port is OFF"));
}

TEST_F(TrafficLink, AStaleReceiveExitNoticeDoesNotCloseANewerSession) {
    openIn(window::id::kIntercedeRadio);
    const std::uint64_t oldThread = engine->receiveThreadId(engine::kDteSide);
    ASSERT_NE(oldThread, 0u);
    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(click(window::id::kOpenClose));  // open again at once
    ASSERT_NE(engine->receiveThreadId(engine::kDteSide), oldThread);
    // The notices of the first session's threads arrive now, and then some more.
    processQueued();
    for (bool hungUp : {false, true})
        window->postReceiveExit(engine::ReceiveExitNotice{oldThread, engine::kDteSide, 1, hungUp});
    processQueued();
    EXPECT_TRUE(window->state().portOpen);
    EXPECT_EQ(caption(window::id::kOpenClose), "Close COM");
    EXPECT_TRUE(engine->isOpen(engine::kDteSide));
    EXPECT_TRUE(engine->isOpen(engine::kDceSide));
    ASSERT_TRUE(far[0]->write("ping"));
    EXPECT_TRUE(waitForTraffic("0x70 0x69 0x6E 0x67 "));

    // The current thread's notice is acted on.
    const std::uint64_t current = engine->receiveThreadId(engine::kDteSide);
    window->postReceiveExit(engine::ReceiveExitNotice{current, engine::kDteSide, 1, false});
    processQueued();
    EXPECT_FALSE(window->state().portOpen);
    EXPECT_EQ(caption(window::id::kOpenClose), "Open COM");
    EXPECT_FALSE(engine->isOpen(engine::kDteSide));
}

TEST_F(TrafficLink, TheCloseBoxAndExitCloseThePortsAndAskTheLoopToEnd) {
    openIn(window::id::kDteEmulationRadio);
    QSignalSpy quit(window.get(), &Cmainwin::quitRequested);
    EXPECT_FALSE(window->close());  // the window stays until the entry destroys it
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(engine->isOpen(engine::kDteSide));
    EXPECT_TRUE(waitFor([this] { return window->modeWindow() == nullptr; }));

    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(engine->isOpen(engine::kDteSide));
    ASSERT_TRUE(click(window::id::kExit));
    EXPECT_EQ(quit.count(), 2);
    EXPECT_FALSE(engine->isOpen(engine::kDteSide));
}

TEST_F(TrafficLink, DestroyingTheWindowWithTrafficFlowingIsPrompt) {
    openIn(window::id::kIntercedeRadio);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const std::string chunk(1024, 'U');
        while (!stop.load()) far[0]->write(chunk, 20ms);
    });
    ASSERT_TRUE(waitFor([this] { return window->trafficView()->size() > 20000; }));
    const auto start = std::chrono::steady_clock::now();
    window.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    stop.store(true);
    flood.join();
    EXPECT_FALSE(engine->isOpen(engine::kDteSide));
    EXPECT_FALSE(engine->ready());
    EXPECT_LT(took, 2s);
}

}  // namespace
}  // namespace ostrel::ui::test

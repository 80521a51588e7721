// The main window's commands without a toolkit, over a real engine and real
// pseudo-terminals: Open COM relays and shows traffic, a hang-up's notice
// closes the session as Close COM does, a notice from an earlier session
// closes nothing, and a failed open leaves the session closed. Built without
// Qt, so these run under the sanitizers too.

#include "window/main_window_commands.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "engine/engine_test_support.h"
#include "engine/status_text.h"
#include "presentation/traffic_formatter.h"
#include "window/control_ids.h"
#include "window/main_window_ids.h"
#include "window/window_rules.h"

namespace ostrel::window {
namespace {

using engine::testing::FarEnd;
using engine::testing::waitUntil;

// The window link as a window implements it: the three fields from the state
// record, text appended in order, notices queued for the test's thread (which
// plays the UI thread).
class ModelLink : public engine::WindowLink {
public:
    explicit ModelLink(const MainWindowState& state) : state_(state) {}
    void attach(engine::Engine* engine) { engine_ = engine; }

    engine::OperatingMode mode() const override { return state_.mode.load(); }
    engine::DisplayFormat displayFormat() const override { return state_.displayFormat.load(); }
    engine::SendTarget sendTarget() const override { return state_.sendTarget.load(); }
    void postDataReady(int) override {
        if (engine_ != nullptr) engine_->SignalPump();
    }
    void postReceiveExit(const engine::ReceiveExitNotice& notice) override {
        std::lock_guard lock(mutex_);
        notices_.push_back(notice);
    }
    void appendText(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_.append(text);
    }

    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    std::optional<engine::ReceiveExitNotice> takeNotice() {
        std::lock_guard lock(mutex_);
        if (notices_.empty()) return std::nullopt;
        const engine::ReceiveExitNotice notice = notices_.front();
        notices_.pop_front();
        return notice;
    }

private:
    const MainWindowState& state_;
    engine::Engine* engine_ = nullptr;
    mutable std::mutex mutex_;
    std::string text_;
    std::deque<engine::ReceiveExitNotice> notices_;
};

class WindowCommands : public ::testing::Test {
protected:
    WindowCommands() {
        ports.addExplicit(1, dte.path());
        ports.addExplicit(2, dce.path());
        for (int control : test::kMainWindowIds) controls.declare(control);
        link.attach(&engine);
        engine.InitEngine(link, formatter);
        engine.StartPump();
        commands.InitDialog();
    }
    ~WindowCommands() override { engine.ShutdownEngine(); }

    void openIntercede() {
        ControlModel modeWindow;
        commands.ChooseMode(RadioForMode(engine::kIntercede), modeWindow);
        controls.selectFromOperator(id::kDteList, 0);
        controls.selectFromOperator(id::kDceList, 1);
        commands.OpenCom();
    }
    bool textEndsWith(const std::string& tail) {
        return waitUntil([&] { return link.text().ends_with(tail); });
    }

    FarEnd dte, dce;
    platform::PortMap ports;
    MainWindowState state;
    ControlModel controls;
    ModelLink link{state};
    presentation::TrafficFormatter formatter{link, state.capture};
    engine::Engine engine{ports};
    MainWindowCommands commands{state, controls, engine, link, formatter};
};

TEST_F(WindowCommands, TheStampStartChoiceReachesTheTrafficLines) {
    StartChoices choices;
    choices.stamp = engine::StampFormat::Date;
    ControlModel modeWindow;
    commands.ApplyStartChoices(choices, modeWindow);
    openIntercede();
    ASSERT_TRUE(state.portOpen) << link.text();
    ASSERT_TRUE(dte.write("AT"));
    ASSERT_TRUE(waitUntil([&] { return link.text().find("0x41 0x54 ") != std::string::npos; }))
        << link.text();
    const std::string text = link.text();
    // "\r\n[yyyy-mm-dd hh:mm:ss:mmm] DCE ->> ": the date before the time.
    const std::size_t marker = text.find("] DCE ->> ");
    ASSERT_NE(marker, std::string::npos) << text;
    const std::size_t open = text.rfind("\r\n[", marker);
    ASSERT_NE(open, std::string::npos) << text;
    const std::string stamp = text.substr(open + 3, marker - open - 3);
    ASSERT_EQ(stamp.size(), 23u) << stamp;
    EXPECT_EQ(stamp[4], '-');
    EXPECT_EQ(stamp[7], '-');
    EXPECT_EQ(stamp[10], ' ');
    EXPECT_EQ(stamp[13], ':');
}

TEST_F(WindowCommands, OpenComRelaysAndShowsAndAHangUpClosesTheSessionAsCloseComDoes) {
    openIntercede();
    ASSERT_TRUE(state.portOpen) << link.text();
    EXPECT_TRUE(engine.isOpen(engine::kDteSide));
    EXPECT_TRUE(engine.isOpen(engine::kDceSide));
    EXPECT_TRUE(link.text().starts_with(engine::text::kPortOn));

    ASSERT_TRUE(dte.write("AT\r"));
    EXPECT_EQ(dce.read(3), engine::testing::bytesOf("AT\r"));
    EXPECT_TRUE(waitUntil([&] { return link.text().find("0x41 0x54 0x0D ") != std::string::npos; }))
        << link.text();

    dte.hangUp();
    std::optional<engine::ReceiveExitNotice> notice;
    ASSERT_TRUE(waitUntil([&] { return (notice = link.takeNotice()).has_value(); }));
    EXPECT_TRUE(notice->hungUp);
    EXPECT_TRUE(commands.ReceiveExit(*notice));
    EXPECT_FALSE(state.portOpen);
    EXPECT_FALSE(engine.isOpen(engine::kDteSide));
    EXPECT_FALSE(engine.isOpen(engine::kDceSide));
    const std::string text = link.text();
    const std::size_t gone = text.find(engine::text::disconnected(1));
    ASSERT_NE(gone, std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(engine::text::kPortOff)) << text;
    EXPECT_LT(gone, text.size() - engine::text::kPortOff.size());
}

TEST_F(WindowCommands, ANoticeFromAnEarlierSessionClosesNothing) {
    openIntercede();
    ASSERT_TRUE(state.portOpen);
    commands.CloseCom();
    ASSERT_TRUE(textEndsWith(std::string(engine::text::kPortOff)));
    // The closed session's receive threads posted their notices as they ended.
    std::optional<engine::ReceiveExitNotice> stale;
    ASSERT_TRUE(waitUntil([&] { return (stale = link.takeNotice()).has_value(); }));

    commands.OpenCom();
    ASSERT_TRUE(state.portOpen);
    EXPECT_FALSE(commands.ReceiveExit(*stale));
    EXPECT_TRUE(state.portOpen);
    EXPECT_TRUE(engine.isOpen(engine::kDteSide));

    ASSERT_TRUE(dce.write("OK\r\n"));
    EXPECT_EQ(dte.read(4), engine::testing::bytesOf("OK\r\n"));
    commands.Exit();
    EXPECT_FALSE(engine.isOpen(engine::kDteSide));
    EXPECT_FALSE(engine.isOpen(engine::kDceSide));
}

TEST_F(WindowCommands, AFailedOpenShowsItsLinesAndTheReasonAndLeavesTheSessionClosed) {
    // A port whose device has gone since the enumeration listed it.
    ASSERT_FALSE(ports.addExplicit(3, "/nonexistent/ostrel-test-port").has_value());
    state.portNumbers[1] = 3;
    openIntercede();
    EXPECT_FALSE(state.portOpen);
    EXPECT_FALSE(engine.isOpen(engine::kDteSide));
    const std::string text = link.text();
    EXPECT_TRUE(
        text.starts_with(std::string(engine::text::kOpenError) + std::string(engine::text::kCheckSettings)))
        << text;
    EXPECT_NE(text.find("COM3: "), std::string::npos) << text;
}

}  // namespace
}  // namespace ostrel::window

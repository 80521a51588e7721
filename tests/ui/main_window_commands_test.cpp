// The main window's commands without any widget: a ControlModel holding the
// template's ids, a real engine over pseudo-terminal ports and a window link
// that records the traffic window's text.

#include "ui/main_window_commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "presentation/traffic_formatter.h"
#include "support/far_end.h"
#include "support/main_window_fixture.h"
#include "ui/control_ids.h"
#include "ui/window_rules.h"

namespace ostrel::ui::test {
namespace {

class RecordingWindow : public engine::WindowLink {
public:
    explicit RecordingWindow(MainWindowState& state) : state_(state) {}
    engine::OperatingMode mode() const override { return state_.mode.load(); }
    engine::DisplayFormat displayFormat() const override { return state_.displayFormat.load(); }
    engine::SendTarget sendTarget() const override { return state_.sendTarget.load(); }
    void postDataReady(int) override {}
    void postReceiveExit(const engine::ReceiveExitNotice&) override {}
    void appendText(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_.append(text);
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    MainWindowState& state_;
    mutable std::mutex mutex_;
    std::string text_;
};

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            far.push_back(std::make_unique<FarEnd>());
            ASSERT_FALSE(ports.addExplicit(2 * i + 3, far.back()->path()).has_value());  // COM3, COM5, COM7
        }
        for (int id : {201, 202, 203, 204, 205, 206, 207, 208, 209, 210,
                       211, 212, 213, 214, 216, 217, 218, 219, 233, 234})
            controls.declare(id);
        for (int id : {227, 228, 229, 230, 231}) modeWindow.declare(id);
        engine.InitEngine(window, formatter);
        commands.InitDialog();
    }

    std::vector<std::unique_ptr<FarEnd>> far;
    platform::PortMap ports;
    MainWindowState state;
    ControlModel controls;
    ControlModel modeWindow;
    RecordingWindow window{state};
    presentation::TrafficFormatter formatter{window, state.capture};
    engine::Engine engine{ports};
    MainWindowCommands commands{state, controls, engine, window, formatter};
};

TEST_F(Commands, InitDialogListsThePortsAndKeepsTheirNumbers) {
    EXPECT_EQ(controls.state(203).items, (std::vector<std::string>{"COM3", "COM5", "COM7"}));
    EXPECT_EQ(state.portCount, 3);
    EXPECT_EQ(state.portNumbers[0], 3);
    EXPECT_EQ(state.portNumbers[2], 7);
    EXPECT_EQ(state.portNumbers[3], 1);
}

TEST_F(Commands, AFailedOpenShowsTheTwoLinesAndChangesNoControl) {
    far[0]->hangUp();  // COM3's far end is gone: its path no longer opens as a port...
    auto holder = platform::TtyPort::open(far[1]->path());  // ...and COM5 is busy
    ASSERT_TRUE(holder.ok());
    commands.ChooseMode(id::kIntercedeRadio, modeWindow);
    std::map<int, ControlState> before;
    for (int id : {202, 203, 204, 205, 206, 207, 208, 209, 211, 212, 216, 217, 218})
        before[id] = controls.state(id);
    commands.OpenCom();
    EXPECT_EQ(window.text().find(
                  "\r\n*** Error opening COM Port !!! ***\r\n\r\n*** Check Port Settings !!! ***\r\n"),
              0u);
    for (const auto& [id, state] : before) {
        EXPECT_EQ(controls.state(id).enabled, state.enabled) << id;
        EXPECT_EQ(controls.state(id).caption, state.caption) << id;
        EXPECT_EQ(controls.state(id).checked, state.checked) << id;
    }
    EXPECT_FALSE(state.portOpen);
    EXPECT_FALSE(engine.isOpen(engine::kDteSide));
    EXPECT_FALSE(engine.isOpen(engine::kDceSide));
}

TEST_F(Commands, WithoutASelectionASideUsesPortZeroWhichOpensAsCom1) {
    controls.apply(ControlOp::select(203, -1));
    commands.OpenCom();
    EXPECT_EQ(state.config.dte.portNumber, 0);
    EXPECT_FALSE(state.portOpen);  // COM1 is not mapped here
    EXPECT_NE(window.text().find("COM1"), std::string::npos);
}

TEST_F(Commands, StartChoicesSelectWhatTheCommandLineNamed) {
    StartChoices choices;
    choices.mode = engine::kFullDuplex;
    choices.dtePort = 7;
    choices.dcePort = 3;
    choices.baudRate = 57600;
    choices.parity = engine::kOddParity;
    choices.dataBits = 7;
    choices.stopBits = engine::kTwoStopBits;
    choices.flowControl = engine::kFlowHardware;
    choices.display = engine::kDisplayAscii;
    commands.ApplyStartChoices(choices, modeWindow);
    EXPECT_EQ(controls.selection(203), 2);
    EXPECT_EQ(controls.selection(204), 0);
    EXPECT_EQ(controls.selection(205), 3);
    EXPECT_EQ(controls.selection(206), 2);  // "Odd" stands third in the combo
    EXPECT_EQ(controls.selection(207), 1);
    EXPECT_EQ(controls.selection(208), 2);
    EXPECT_EQ(controls.selection(209), 0);  // Full Duplex puts flow control back to "None"
    EXPECT_EQ(state.mode.load(), engine::kFullDuplex);
    EXPECT_EQ(controls.state(202).caption, "Full Duplex");
    EXPECT_TRUE(modeWindow.checked(231));
    EXPECT_EQ(state.displayFormat.load(), engine::kDisplayAscii);
    EXPECT_TRUE(controls.checked(214));
}

TEST_F(Commands, StartChoicesTheListsDoNotOfferAreSkipped) {
    StartChoices choices;
    choices.dtePort = 4;        // not listed
    choices.baudRate = 128000;  // in the table, not in the list
    choices.mode = 9;           // no such mode
    commands.ApplyStartChoices(choices, modeWindow);
    EXPECT_EQ(controls.selection(203), 0);
    EXPECT_EQ(controls.selection(205), 0);
    EXPECT_EQ(state.mode.load(), engine::kDteEmulation);
    EXPECT_EQ(controls.state(202).caption, "");  // untouched
}

TEST_F(Commands, OnlyTheCurrentSessionsReceiveExitIsActedOn) {
    commands.OpenCom();
    ASSERT_TRUE(state.portOpen);
    const std::uint64_t first = engine.channel(engine::kDteSide).receiveThreadId.load();
    commands.CloseCom();
    commands.OpenCom();
    EXPECT_FALSE(commands.ReceiveExit({first, engine::kDteSide, 3, true}));
    EXPECT_TRUE(state.portOpen);
    const std::uint64_t second = engine.channel(engine::kDteSide).receiveThreadId.load();
    EXPECT_TRUE(commands.ReceiveExit({second, engine::kDteSide, 3, true}));
    EXPECT_FALSE(state.portOpen);
    EXPECT_TRUE(controls.enabled(203));  // a hang-up unlocks the settings
    const std::string text = window.text();
    EXPECT_EQ(text.substr(text.size() - 23), "\r\n*** Port is OFF ***\r\n");
}

}  // namespace
}  // namespace ostrel::ui::test

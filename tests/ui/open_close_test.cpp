// Open COM and Close COM through the real buttons over pseudo-terminal ports:
// the control table per mode, the status lines, the settings reaching the
// session, and a failed open.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QListWidget>
#include <QTest>

#include "platform/tty_port.h"
#include "platform/unique_fd.h"
#include "support/main_window_fixture.h"
#include "termios2_probe.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

constexpr const char* kPortOn = "\r\n*** Port is ON  ***\r\n";
constexpr const char* kOpenFailed =
    "\r\n*** Error opening COM Port !!! ***\r\n\r\n*** Check Port Settings !!! ***\r\n";

struct OpenRow {
    int radio;
    engine::OperatingMode mode;
    bool toDte, toDce, sendData, send;
    bool dteMarked, dceMarked;
    bool dteOpen, dceOpen;
};

class OpenClose : public MainWindowFixture, public ::testing::WithParamInterface<OpenRow> {};

TEST_P(OpenClose, OpenSetsTheControlsOfTheModeAndCloseUnlocksThem) {
    const OpenRow row = GetParam();
    chooseMode(row.radio);
    ASSERT_EQ(window->state().mode.load(), row.mode);
    ASSERT_TRUE(enabled(window::id::kModeButton));

    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_TRUE(window->state().portOpen);
    EXPECT_EQ(caption(211), "Close COM");
    EXPECT_TRUE(waitForTraffic(kPortOn));
    for (int id : {202, 203, 204, 205, 206, 207, 208, 209}) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_EQ(enabled(217), row.toDte);
    EXPECT_EQ(enabled(218), row.toDce);
    EXPECT_EQ(enabled(216), row.sendData);
    EXPECT_EQ(enabled(212), row.send);
    EXPECT_EQ(checked(217), row.dteMarked);
    EXPECT_EQ(checked(218), row.dceMarked);
    for (int id : {201, 210, 211, 213, 214, 219, 233, 234}) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_EQ(engine->isOpen(engine::kDteSide), row.dteOpen);
    EXPECT_EQ(engine->isOpen(engine::kDceSide), row.dceOpen);

    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_TRUE(waitForTraffic(std::string(kPortOn) + "\r\n*** Port is OFF ***\r\n"));
    expectSessionClosed();
}

INSTANTIATE_TEST_SUITE_P(
    EachMode, OpenClose,
    ::testing::Values(OpenRow{227, engine::kDteEmulation, true, false, true, true, true, false, true, false},
                      OpenRow{228, engine::kDceEmulation, false, true, true, true, false, true, false, true},
                      OpenRow{229, engine::kIntercede, true, true, true, true, true, false, true, true},
                      OpenRow{230, engine::kHalfDuplex, false, false, false, false, true, false, true, false},
                      OpenRow{231, engine::kFullDuplex, false, false, false, false, true, false, true, true}),
    [](const ::testing::TestParamInfo<OpenRow>& info) { return "Mode" + std::to_string(info.param.mode); });

using OpenCloseEdges = MainWindowFixture;

TEST_F(OpenCloseEdges, TheSettingsChosenInTheControlsReachTheSession) {
    chooseMode(window::id::kIntercedeRadio);
    // The operator picks by clicking the entries.
    const std::pair<int, int> picks[] = {{203, 1}, {204, 0}, {205, 4}};
    for (const auto& [list, row] : picks) {
        auto* widget = qobject_cast<QListWidget*>(window->control(list));
        ASSERT_NE(widget, nullptr);
        QTest::mouseClick(widget->viewport(), Qt::LeftButton, {},
                          widget->visualItemRect(widget->item(row)).center());
    }
    qobject_cast<QComboBox*>(window->control(206))->setCurrentIndex(2);  // "Odd"
    qobject_cast<QComboBox*>(window->control(207))->setCurrentIndex(1);  // "7"
    qobject_cast<QComboBox*>(window->control(208))->setCurrentIndex(2);  // "2"
    qobject_cast<QComboBox*>(window->control(209))->setCurrentIndex(2);  // "Xon/Xoff"
    ASSERT_TRUE(click(window::id::kOpenClose));
    const engine::SessionConfig& config = window->state().config;
    EXPECT_EQ(config.mode, engine::kIntercede);
    EXPECT_EQ(config.dte.side, engine::kDteSide);
    EXPECT_EQ(config.dce.side, engine::kDceSide);
    EXPECT_EQ(config.dte.portNumber, 2);
    EXPECT_EQ(config.dce.portNumber, 1);
    for (const engine::PortSettings& side : {config.dte, config.dce}) {
        EXPECT_EQ(side.baudRate, 115200u);
        EXPECT_EQ(side.parity, engine::kOddParity);
        EXPECT_EQ(side.dataBits, 7);
        EXPECT_EQ(side.stopBits, engine::kTwoStopBits);
        EXPECT_EQ(side.flowControl, engine::kFlowXonXoff);
    }
}

TEST_F(OpenCloseEdges, AStartRateOutsideTheListGetsItsOwnEntryAndOpensThePortAtThatRate) {
    window::StartChoices choices;
    choices.baudRate = 230400;
    window->ApplyStartChoices(choices);
    auto* list = qobject_cast<QListWidget*>(window->control(window::id::kBaudList));
    ASSERT_NE(list, nullptr);
    // The five entries stay; the start rate is added after them and selected.
    ASSERT_EQ(list->count(), 6);
    EXPECT_EQ(list->item(0)->text(), "9600");
    EXPECT_EQ(list->item(5)->text(), "230400");
    EXPECT_EQ(list->currentRow(), 5);
    EXPECT_EQ(window->controls().selection(window::id::kBaudList), 5);

    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(window->state().portOpen);
    EXPECT_EQ(window->state().config.dte.baudRate, 230400u);
    // The line itself runs at that rate.
    platform::UniqueFd port(::open(far[0]->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(port.valid());
    const std::optional<platform::test::KernelRates> rates = platform::test::kernelRates(port.get());
    ASSERT_TRUE(rates.has_value());
    EXPECT_EQ(rates->output, 230400u);
    ASSERT_TRUE(click(window::id::kOpenClose));

    // A start rate that the list offers is selected, not added.
    window::StartChoices listed;
    listed.baudRate = 38400;
    window->ApplyStartChoices(listed);
    EXPECT_EQ(list->count(), 6);
    EXPECT_EQ(window->controls().selection(window::id::kBaudList), 2);
    // 128000 has a slot in the value table but no entry in the list: added too.
    window::StartChoices unlisted;
    unlisted.baudRate = 128000;
    window->ApplyStartChoices(unlisted);
    ASSERT_EQ(list->count(), 7);
    EXPECT_EQ(list->currentRow(), 6);
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_EQ(window->state().config.dte.baudRate, 128000u);
}

TEST_F(OpenCloseEdges, ABusyPortShowsTheTwoErrorLinesAndChangesNothingElse) {
    // Another program holds COM1.
    auto holder = platform::TtyPort::open(far[0]->path());
    ASSERT_TRUE(holder.ok()) << holder.error().describe();
    const std::map<int, bool> before = enabledStates();
    const std::string textBefore = traffic();

    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(waitForTraffic(kOpenFailed));
    const std::string shown = traffic().substr(textBefore.size());
    EXPECT_EQ(shown.rfind(kOpenFailed, 0), 0u) << shown;
    // A third line gives the reason in words.
    EXPECT_NE(shown.find("COM1"), std::string::npos) << shown;
    EXPECT_NE(shown.find("busy"), std::string::npos) << shown;
    EXPECT_EQ(shown.find(kPortOn), std::string::npos);
    EXPECT_EQ(enabledStates(), before);
    EXPECT_EQ(caption(211), "Open COM");
    EXPECT_FALSE(window->state().portOpen);
    EXPECT_FALSE(engine->isOpen(engine::kDteSide));

    // Once the port is free, the same press opens it.
    holder = platform::TtyPort::open(far[1]->path());  // releases COM1
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_TRUE(window->state().portOpen);
    EXPECT_TRUE(waitForTraffic(kPortOn));
}

}  // namespace
}  // namespace ostrel::ui::test

// The "Mode Select" window with real clicks: shown by the mode button, the
// five radios and what each does to the main window, the flow-control reset,
// what is not enabled again, and hiding by "Close" and by the close box.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QTest>

#include "support/main_window_fixture.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

class ModeWindow : public MainWindowFixture {
protected:
    Cmodewin* mode() const { return window->modeWindow(); }
    bool modeChecked(int id) const {
        auto* radio = qobject_cast<QAbstractButton*>(mode()->control(id));
        return radio && radio->isChecked();
    }
    void show() {
        ASSERT_TRUE(click(window::id::kModeButton));
        ASSERT_TRUE(waitFor([this] { return mode()->isVisible(); }));
    }
};

TEST_F(ModeWindow, TheModeButtonShowsItAndIsDisabledUntilCloseOrTheCloseBoxHidesIt) {
    ASSERT_NE(mode(), nullptr);
    EXPECT_FALSE(mode()->isVisible());
    EXPECT_EQ(mode()->windowTitle(), "Mode Select");
    EXPECT_TRUE(mode()->windowFlags() & Qt::WindowStaysOnTopHint);
    for (int radio : {227, 228, 229, 230, 231})
        EXPECT_FALSE(modeChecked(radio)) << "before the first showing";
    show();
    EXPECT_FALSE(enabled(window::id::kModeButton));
    EXPECT_TRUE(modeChecked(227));  // the current mode
    ASSERT_TRUE(clickMode(window::id::kOk));
    EXPECT_FALSE(mode()->isVisible());
    EXPECT_TRUE(enabled(window::id::kModeButton));

    show();
    mode()->close();
    processQueued();
    ASSERT_NE(mode(), nullptr);  // still there, only hidden
    EXPECT_FALSE(mode()->isVisible());
    EXPECT_TRUE(enabled(window::id::kModeButton));
    show();  // and it comes back
    EXPECT_TRUE(mode()->isVisible());

    // Escape hides it as "Close" does; Tab moves through its controls.
    mode()->activateWindow();
    mode()->control(227)->setFocus();
    QTest::keyClick(mode()->control(227), Qt::Key_Tab);
    EXPECT_TRUE(mode()->control(227) != QApplication::focusWidget());
    QTest::keyClick(mode(), Qt::Key_Escape);
    EXPECT_FALSE(mode()->isVisible());
    EXPECT_TRUE(enabled(window::id::kModeButton));
}

struct ModeRow {
    int radio;
    engine::OperatingMode mode;
    engine::SendTarget target;
    const char* caption;
    bool dteList, dceList, flow;
};

TEST_F(ModeWindow, EachRadioAppliesItsModeToTheMainWindow) {
    const ModeRow table[] = {
        {227, 0, engine::kToDte, "DTE Emulation", true, false, true},
        {228, 1, engine::kToDce, "DCE Emulation", false, true, true},
        {229, 2, engine::kToDce, "Intercede", true, true, true},  // keeps the target of 228
        {230, 3, engine::kToDce, "Half Duplex", true, false, false},
        {231, 4, engine::kToDce, "Full Duplex", true, true, false},
    };
    show();
    for (const ModeRow& row : table) {
        SCOPED_TRACE(row.radio);
        ASSERT_TRUE(clickMode(row.radio));
        EXPECT_EQ(window->state().mode.load(), row.mode);
        EXPECT_EQ(window->state().sendTarget.load(), row.target);
        EXPECT_EQ(caption(window::id::kModeButton), row.caption);
        EXPECT_EQ(enabled(203), row.dteList);
        EXPECT_EQ(enabled(204), row.dceList);
        EXPECT_EQ(enabled(209), row.flow);
        for (int radio : {227, 228, 229, 230, 231})
            EXPECT_EQ(modeChecked(radio), radio == row.radio) << radio;
        // The main window's send marks are never changed by the mode window.
        EXPECT_TRUE(checked(217));
        EXPECT_FALSE(checked(218));
        EXPECT_FALSE(enabled(window::id::kModeButton));  // still shown
    }
}

TEST_F(ModeWindow, ListeningModesPutFlowControlBackToNoneAlsoWhenChosenAgainAndAtOpen) {
    show();
    ASSERT_TRUE(clickMode(230));
    ASSERT_TRUE(clickMode(window::id::kOk));
    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(click(window::id::kOpenClose));  // Close COM enables the flow combo
    auto* flow = qobject_cast<QComboBox*>(window->control(209));
    ASSERT_TRUE(flow->isEnabled());
    flow->setCurrentIndex(1);
    ASSERT_EQ(window->controls().selection(209), 1);
    ASSERT_TRUE(click(window::id::kOpenClose));  // a listening mode opens without flow control
    EXPECT_EQ(flow->currentIndex(), 0);
    EXPECT_EQ(window->state().config.dte.flowControl, engine::kFlowNone);
    ASSERT_TRUE(click(window::id::kOpenClose));

    flow->setCurrentIndex(2);
    show();
    EXPECT_TRUE(modeChecked(230));
    ASSERT_TRUE(clickMode(230));  // the same radio again applies the mode in full
    EXPECT_EQ(flow->currentIndex(), 0);
    EXPECT_FALSE(flow->isEnabled());
    ASSERT_TRUE(clickMode(227));
    flow->setCurrentIndex(1);
    ASSERT_TRUE(clickMode(231));
    EXPECT_EQ(flow->currentIndex(), 0);
}

TEST_F(ModeWindow, SwitchingWhileOpenNeverEnablesTheSendingControlsAgain) {
    // The window stays shown while the operator opens the ports, so its
    // radios act on the open session.
    show();
    ASSERT_TRUE(clickMode(227));
    ASSERT_TRUE(click(window::id::kOpenClose));  // 216, 217 enabled by the open
    ASSERT_TRUE(enabled(216));
    ASSERT_TRUE(enabled(217));
    ASSERT_TRUE(clickMode(230));
    EXPECT_TRUE(enabled(216));  // Half Duplex leaves the send box as it is
    EXPECT_FALSE(enabled(217));
    ASSERT_TRUE(clickMode(231));
    ASSERT_TRUE(clickMode(229));
    for (int id : {216, 217, 218}) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_TRUE(enabled(203));  // the pattern of Intercede, also while open
    EXPECT_TRUE(enabled(204));
    EXPECT_EQ(window->state().mode.load(), engine::kIntercede);
    // Hiding the window enables the mode button although the ports are open.
    ASSERT_TRUE(clickMode(window::id::kOk));
    EXPECT_TRUE(enabled(window::id::kModeButton));
    EXPECT_TRUE(window->state().portOpen);
}

TEST_F(ModeWindow, APressWithTheWindowGoneIsIgnoredSafely) {
    window->OnExit();  // asks the mode window to end
    ASSERT_TRUE(waitFor([this] { return mode() == nullptr; }));
    ASSERT_TRUE(click(window::id::kModeButton));
    processQueued();
    EXPECT_TRUE(enabled(window::id::kModeButton));
}

TEST_F(ModeWindow, ExitEndsItEvenWhileShown) {
    show();
    window->OnExit();
    EXPECT_TRUE(waitFor([this] { return mode() == nullptr; }));
}

}  // namespace
}  // namespace ostrel::ui::test

// The display radios (and command 215), the send radios, and the about
// window toggled by the picture button.

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "support/main_window_fixture.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

using Radios = MainWindowFixture;

TEST_F(Radios, EachDisplayRadioAndCommand215SetTheMarksOfTheGroupAndTheFormat) {
    struct Row {
        int command;
        bool hex, ascii, off;
        engine::DisplayFormat format;
    };
    const Row table[] = {{214, false, true, false, engine::kDisplayAscii},
                         {234, false, false, true, engine::kDisplayOff},
                         {213, true, false, false, engine::kDisplayHex},
                         {213, true, false, false, engine::kDisplayHex},  // a marked radio stays marked
                         {215, false, false, true, engine::kDisplayNone},
                         {220, false, false, true, engine::kDisplayNone},  // no control: nothing changes
                         {300, false, false, true, engine::kDisplayNone}};
    for (const Row& row : table) {
        SCOPED_TRACE(row.command);
        const auto before = enabledStates();
        if (window->control(row.command)) {
            ASSERT_TRUE(click(row.command));
        } else {
            window->OnCommand(row.command);
        }
        EXPECT_EQ(checked(213), row.hex);
        EXPECT_EQ(checked(214), row.ascii);
        EXPECT_EQ(checked(234), row.off);
        EXPECT_EQ(window->state().displayFormat.load(), row.format);
        EXPECT_EQ(enabledStates(), before);
    }
}

TEST_F(Radios, SendRadiosSetTheirMarksAndTheTargetOnlyWhileEnabled) {
    ASSERT_TRUE(click(218));  // disabled at start: nothing changes
    EXPECT_TRUE(checked(217));
    EXPECT_FALSE(checked(218));
    EXPECT_EQ(window->state().sendTarget.load(), engine::kToDte);

    openIn(window::id::kIntercedeRadio);
    ASSERT_TRUE(click(218));
    EXPECT_FALSE(checked(217));
    EXPECT_TRUE(checked(218));
    EXPECT_EQ(window->state().sendTarget.load(), engine::kToDce);
    ASSERT_TRUE(click(217));
    EXPECT_TRUE(checked(217));
    EXPECT_FALSE(checked(218));
    EXPECT_EQ(window->state().sendTarget.load(), engine::kToDte);
}

class AboutWindow : public MainWindowFixture {
protected:
    bool aboutShown() { return window->aboutWindow() && window->aboutWindow()->isVisible(); }
    bool aboutGone() {
        processQueued();
        return window->aboutWindow() == nullptr;
    }
    void open() {
        ASSERT_TRUE(click(window::id::kPictureButton));
        ASSERT_TRUE(waitFor([this] { return aboutShown(); }));
        EXPECT_TRUE(window->state().aboutOpen);
    }
};

TEST_F(AboutWindow, ThePictureButtonOpensAndClosesItAndTheMainWindowStaysUsable) {
    open();
    Caboutbox* about = window->aboutWindow();
    EXPECT_FALSE(about->windowFlags() & Qt::WindowStaysOnTopHint);
    bool versionShown = false;
    for (QLabel* label : about->findChildren<QLabel*>())
        versionShown |= label->text() == "Ostrel - COM Port Analyzer v1.3";
    EXPECT_TRUE(versionShown);
    EXPECT_FALSE(about->windowIcon().isNull());
    // It does not hold the main window.
    ASSERT_TRUE(click(214));
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayAscii);
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_TRUE(window->state().portOpen);

    ASSERT_TRUE(click(window::id::kPictureButton));
    EXPECT_FALSE(window->state().aboutOpen);
    EXPECT_TRUE(waitFor([this] { return aboutGone(); }));
    open();  // a third press opens a new window
}

TEST_F(AboutWindow, OkClosesItAndTheNextPressOpensItAgain) {
    open();
    ASSERT_TRUE(clickWidget(window->aboutWindow()->control(window::id::kOk)));
    EXPECT_FALSE(window->state().aboutOpen);
    EXPECT_TRUE(waitFor([this] { return aboutGone(); }));
    open();
}

TEST_F(AboutWindow, QuickPressesNeverReachAWindowThatIsGone) {
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(click(window::id::kPictureButton));  // odd: ends open
    EXPECT_TRUE(waitFor([this] { return aboutShown(); }));
    processQueued();
    EXPECT_TRUE(window->state().aboutOpen);
    int shown = 0;  // only one about window is left
    for (QWidget* top : QApplication::topLevelWidgets())
        shown += qobject_cast<Caboutbox*>(top) && top->isVisible();
    EXPECT_EQ(shown, 1);
}

}  // namespace
}  // namespace ostrel::ui::test

namespace ostrel::ui::test {
namespace {

TEST_F(AboutWindow, TheCloseBoxAndEscapeCloseItAsOkDoes) {
    open();
    window->aboutWindow()->close();  // the close box
    EXPECT_TRUE(waitFor([this] { return aboutGone(); }));
    EXPECT_FALSE(window->state().aboutOpen);
    open();
    window->aboutWindow()->activateWindow();
    QTest::keyClick(window->aboutWindow(), Qt::Key_Escape);
    EXPECT_TRUE(waitFor([this] { return aboutGone(); }));
    EXPECT_FALSE(window->state().aboutOpen);
    open();  // and it opens again
}

}  // namespace
}  // namespace ostrel::ui::test

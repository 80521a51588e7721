// The display radios (and command 215), the send radios, and the about
// window toggled by the picture button.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include "support/main_window_fixture.h"
#include "ui/control_ids.h"

namespace ostrel::ui::test {
namespace {

class DisplayRadios : public MainWindowFixture {
protected:
    void SetUp() override { makeWindow(2); }
    void expectMarks(bool hex, bool ascii, bool off) {
        EXPECT_EQ(checked(213), hex);
        EXPECT_EQ(checked(214), ascii);
        EXPECT_EQ(checked(234), off);
    }
};

TEST_F(DisplayRadios, EachRadioSetsTheMarksOfItsGroupAndTheFormat) {
    ASSERT_TRUE(click(214));
    expectMarks(false, true, false);
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayAscii);
    ASSERT_TRUE(click(234));
    expectMarks(false, false, true);
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayOff);
    ASSERT_TRUE(click(213));
    expectMarks(true, false, false);
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayHex);
    // A click on the radio that is marked keeps it marked.
    ASSERT_TRUE(click(213));
    expectMarks(true, false, false);
}

TEST_F(DisplayRadios, Command215SelectsFormatZeroWithTheOffMark) {
    window->OnCommand(id::kDisplayNoneCommand);
    expectMarks(false, false, true);
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayNone);
}

TEST_F(DisplayRadios, CommandsWithoutAControlDoNothing) {
    const auto before = enabledStates();
    for (int id : {220, 222, 300}) window->OnCommand(id);
    EXPECT_EQ(enabledStates(), before);
    expectMarks(true, false, false);
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayHex);
}

TEST_F(DisplayRadios, SendRadiosSetTheirMarksAndTheTargetWhileEnabled) {
    // Disabled at start: a click changes nothing.
    ASSERT_TRUE(click(218));
    EXPECT_TRUE(checked(217));
    EXPECT_FALSE(checked(218));
    EXPECT_EQ(window->state().sendTarget.load(), engine::kToDte);

    chooseMode(id::kIntercedeRadio);
    ASSERT_TRUE(click(id::kOpenClose));
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
    void SetUp() override { makeWindow(2); }
    bool aboutShown() { return window->aboutWindow() && window->aboutWindow()->isVisible(); }
    bool aboutGone() {
        processQueued();
        return window->aboutWindow() == nullptr;
    }
};

TEST_F(AboutWindow, ThePictureButtonOpensAndClosesIt) {
    ASSERT_TRUE(click(id::kPictureButton));
    ASSERT_TRUE(waitFor([this] { return aboutShown(); }));
    EXPECT_TRUE(window->state().aboutOpen);
    Caboutbox* first = window->aboutWindow();
    EXPECT_EQ(first->windowTitle(), "About Quorvane");
    EXPECT_FALSE(first->windowFlags() & Qt::WindowStaysOnTopHint);
    auto* ok = qobject_cast<QAbstractButton*>(first->control(id::kOk));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    bool versionShown = false;
    for (QLabel* label : first->findChildren<QLabel*>())
        versionShown |= label->text() == "Ostrel - COM Port Analyzer v1.3";
    EXPECT_TRUE(versionShown);

    ASSERT_TRUE(click(id::kPictureButton));
    EXPECT_FALSE(window->state().aboutOpen);
    EXPECT_TRUE(waitFor([this] { return aboutGone(); }));

    // A third press opens a new window.
    ASSERT_TRUE(click(id::kPictureButton));
    ASSERT_TRUE(waitFor([this] { return aboutShown(); }));
    EXPECT_TRUE(window->state().aboutOpen);
}

TEST_F(AboutWindow, OkClosesItAndTheNextPressOpensItAgain) {
    ASSERT_TRUE(click(id::kPictureButton));
    ASSERT_TRUE(waitFor([this] { return aboutShown(); }));
    ASSERT_TRUE(clickWidget(window->aboutWindow()->control(id::kOk)));
    EXPECT_FALSE(window->state().aboutOpen);
    EXPECT_TRUE(waitFor([this] { return aboutGone(); }));
    ASSERT_TRUE(click(id::kPictureButton));
    EXPECT_TRUE(waitFor([this] { return aboutShown(); }));
}

TEST_F(AboutWindow, ItsCloseBoxDoesNotCloseIt) {
    ASSERT_TRUE(click(id::kPictureButton));
    ASSERT_TRUE(waitFor([this] { return aboutShown(); }));
    EXPECT_FALSE(window->aboutWindow()->close());
    processQueued();
    EXPECT_TRUE(aboutShown());
    EXPECT_TRUE(window->state().aboutOpen);
}

TEST_F(AboutWindow, QuickPressesNeverReachAWindowThatIsGone) {
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(click(id::kPictureButton));  // odd: ends open
    EXPECT_TRUE(waitFor([this] { return aboutShown(); }));
    processQueued();
    EXPECT_TRUE(window->state().aboutOpen);
    // Only one about window is left.
    int shown = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        shown += qobject_cast<Caboutbox*>(top) && top->isVisible();
    EXPECT_EQ(shown, 1);
}

TEST_F(AboutWindow, TheMainWindowStaysUsableWhileItIsOpen) {
    ASSERT_TRUE(click(id::kPictureButton));
    ASSERT_TRUE(waitFor([this] { return aboutShown(); }));
    ASSERT_TRUE(click(214));
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayAscii);
    ASSERT_TRUE(click(id::kOpenClose));
    EXPECT_TRUE(window->state().portOpen);
}

}  // namespace
}  // namespace ostrel::ui::test

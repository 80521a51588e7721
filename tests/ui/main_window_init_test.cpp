// The main window as the operator first sees it: title, contents of the
// setting controls and their selections, check marks, the five disabled
// controls, captions, colours and fonts.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "support/main_window_fixture.h"
#include "ui/control_ids.h"
#include "ui/traffic_view.h"

namespace ostrel::ui::test {
namespace {

QStringList itemsOf(QWidget* widget) {
    QStringList items;
    if (auto* list = qobject_cast<QListWidget*>(widget))
        for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

int selectionOf(QWidget* widget) {
    if (auto* list = qobject_cast<QListWidget*>(widget)) return list->currentRow();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentIndex();
    return -2;
}

class MainWindowInit : public MainWindowFixture {};

TEST_F(MainWindowInit, ShowsTheTitleAndTheSettingControlsFilled) {
    makeWindow(2);
    EXPECT_EQ(window->windowTitle(), "COM Ostrel v1.2");
    EXPECT_EQ(itemsOf(window->control(203)), (QStringList{"COM1", "COM2"}));
    EXPECT_EQ(itemsOf(window->control(204)), (QStringList{"COM1", "COM2"}));
    EXPECT_EQ(selectionOf(window->control(203)), 0);
    EXPECT_EQ(selectionOf(window->control(204)), 1);
    EXPECT_EQ(itemsOf(window->control(205)), (QStringList{"9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(itemsOf(window->control(206)), (QStringList{"None", "Even", "Odd", "Mark", "Space"}));
    EXPECT_EQ(itemsOf(window->control(207)), (QStringList{"8", "7"}));
    EXPECT_EQ(itemsOf(window->control(208)), (QStringList{"1", "1.5", "2"}));
    EXPECT_EQ(itemsOf(window->control(209)), (QStringList{"None", "Hardware", "Xon/Xoff"}));
    for (int id : {205, 206, 207, 208, 209}) EXPECT_EQ(selectionOf(window->control(id)), 0) << id;
}

TEST_F(MainWindowInit, WithOnePortNeitherListHasASelection) {
    makeWindow(1);
    EXPECT_EQ(itemsOf(window->control(203)), (QStringList{"COM1"}));
    EXPECT_EQ(selectionOf(window->control(203)), -1);
    EXPECT_EQ(selectionOf(window->control(204)), -1);
}

TEST_F(MainWindowInit, ChecksHexAndToDteAndDisablesFiveControls) {
    makeWindow(2);
    for (int id : {213, 214, 217, 218, 234}) EXPECT_EQ(checked(id), id == 213 || id == 217) << id;
    for (const auto& [id, isEnabled] : enabledStates()) {
        const bool expected = !(id == 204 || id == 216 || id == 212 || id == 217 || id == 218);
        EXPECT_EQ(isEnabled, expected) << id;
    }
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayHex);
    EXPECT_EQ(window->state().sendTarget.load(), engine::kToDte);
    EXPECT_EQ(window->state().mode.load(), engine::kDteEmulation);
    EXPECT_FALSE(window->state().portOpen);
}

TEST_F(MainWindowInit, CaptionsAreTheTemplates) {
    makeWindow(2);
    EXPECT_EQ(caption(211), "Open COM");
    EXPECT_EQ(caption(210), "Exit");
    EXPECT_EQ(caption(202), "DTE Emulation");
    EXPECT_EQ(caption(212), "Send");
    EXPECT_EQ(caption(219), "Capture");
    EXPECT_EQ(caption(213), "HEX");
    EXPECT_EQ(caption(214), "ASCII");
    EXPECT_EQ(caption(234), "OFF");
    EXPECT_EQ(caption(217), "To DTE");
    EXPECT_EQ(caption(218), "To DCE");
    auto* picture = qobject_cast<QPushButton*>(window->control(233));
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(picture->text().isEmpty());
    EXPECT_FALSE(picture->icon().isNull());
    EXPECT_EQ(picture->iconSize(), QSize(121, 28));
}

TEST_F(MainWindowInit, TrafficIsGreenInAFixedFontAndTheSendBoxBlueWhileEnabled) {
    makeWindow(2);
    TrafficView* traffic = window->trafficView();
    ASSERT_NE(traffic, nullptr);
    EXPECT_EQ(traffic->palette().color(QPalette::Active, QPalette::Text), QColor(0, 150, 0));
    EXPECT_TRUE(QFontInfo(traffic->font()).fixedPitch());
    auto* send = qobject_cast<QPlainTextEdit*>(window->control(216));
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->palette().color(QPalette::Active, QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(send->palette().color(QPalette::Inactive, QPalette::Text), QColor(0, 0, 255));
    EXPECT_NE(send->palette().color(QPalette::Disabled, QPalette::Text), QColor(0, 0, 255));
}

TEST_F(MainWindowInit, TheWindowHasACloseBoxOnlyAndAFixedSize) {
    makeWindow(2);
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(MainWindowInit, TabDoesNotMoveTheFocusAndEnterPressesNothing) {
    makeWindow(2);
    QWidget* open = window->control(id::kOpenClose);
    window->activateWindow();
    open->setFocus();
    ASSERT_TRUE(waitFor([&] { return open->hasFocus(); }));
    QTest::keyClick(open, Qt::Key_Tab);
    EXPECT_TRUE(open->hasFocus());
    QTest::keyClick(open, Qt::Key_Return);
    QTest::keyClick(open, Qt::Key_Escape);
    processQueued();
    EXPECT_FALSE(window->state().portOpen);
    EXPECT_EQ(caption(211), "Open COM");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowInit, EnterInTheSendBoxStartsANewLine) {
    makeWindow(2);
    chooseMode(id::kDteEmulationRadio);
    ASSERT_TRUE(click(id::kOpenClose));
    auto* send = qobject_cast<QPlainTextEdit*>(window->control(216));
    ASSERT_TRUE(send && send->isEnabled());
    send->setFocus();
    QTest::keyClicks(send, "AT");
    QTest::keyClick(send, Qt::Key_Return);
    QTest::keyClicks(send, "I");
    EXPECT_EQ(send->toPlainText(), "AT\nI");
}

}  // namespace
}  // namespace ostrel::ui::test

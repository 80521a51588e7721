// The main window as the operator first sees it: title, contents of the
// setting controls and their selections, check marks, the five disabled
// controls, captions, colours, the keys that mean nothing here, and the
// choices of the command line applied at start.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QListWidget>
#include <QTest>

#include "support/main_window_fixture.h"
#include "ui/focus_frame.h"
#include "window/control_ids.h"
#include "window/main_window_commands.h"

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

using MainWindowInit = MainWindowFixture;

TEST_F(MainWindowInit, FillsSelectsChecksAndDisablesFiveControls) {
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

    for (int id : {213, 214, 217, 218, 234}) EXPECT_EQ(checked(id), id == 213 || id == 217) << id;
    for (const auto& [id, isEnabled] : enabledStates()) {
        const bool expected = !(id == 204 || id == 216 || id == 212 || id == 217 || id == 218);
        EXPECT_EQ(isEnabled, expected) << id;
    }
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayHex);
    EXPECT_EQ(window->state().sendTarget.load(), engine::kToDte);
    EXPECT_EQ(window->state().mode.load(), engine::kDteEmulation);
    EXPECT_FALSE(window->state().portOpen);
    // The captions of the template.
    const int ids[] = {211, 210, 202, 212, 219, 213, 214, 234, 217, 218};
    const QStringList captions{"Open COM", "Exit",  "DTE Emulation", "Send",   "Capture",
                               "HEX",      "ASCII", "OFF",           "To DTE", "To DCE"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(caption(ids[i]), captions[i]) << ids[i];
    // The send box blue while enabled.
    const QPalette send = window->control(216)->palette();
    EXPECT_EQ(send.color(QPalette::Active, QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(send.color(QPalette::Inactive, QPalette::Text), QColor(0, 0, 255));
    EXPECT_NE(send.color(QPalette::Disabled, QPalette::Text), QColor(0, 0, 255));
}

TEST_F(MainWindowInit, TabMovesTheFocusInTemplateOrderWithAFrameAndEnterAndEscapePressNothing) {
    QWidget* open = window->control(window::id::kOpenClose);
    window->activateWindow();
    open->setFocus();
    ASSERT_TRUE(waitFor([&] { return open->hasFocus(); }));
    EXPECT_EQ(window->focusFrame()->framed(), open);
    EXPECT_TRUE(window->focusFrame()->isVisible());
    EXPECT_TRUE(window->focusFrame()->geometry().contains(open->geometry()));
    // The enabled controls in the order of the template (204, 212, 216, 217
    // and 218 are disabled before Open COM).
    const int forward[] = {210, 201, 202, 203, 205, 206, 207, 208, 209, 213, 214, 219, 233, 234};
    for (int id : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QWidget* expected = window->control(id);
        EXPECT_TRUE(focused == expected || expected->isAncestorOf(focused)) << "Tab towards " << id;
        EXPECT_EQ(window->focusFrame()->framed(), expected) << id;
        EXPECT_TRUE(window->focusFrame()->geometry().contains(expected->geometry())) << id;
    }
    // The frame is drawn: the highlight colour shows around the focused control.
    const QImage frame = window->focusFrame()->grab().toImage();
    EXPECT_EQ(frame.pixelColor(0, frame.height() / 2), window->palette().color(QPalette::Highlight));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(window->focusFrame()->framed(), window->control(233));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(window->focusFrame()->framed(), window->control(219));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);  // round to the first control
    EXPECT_EQ(window->focusFrame()->framed(), open);

    open->setFocus();
    QTest::keyClick(open, Qt::Key_Return);
    QTest::keyClick(open, Qt::Key_Escape);
    processQueued();
    EXPECT_FALSE(window->state().portOpen);
    EXPECT_EQ(caption(211), "Open COM");
    EXPECT_TRUE(window->isVisible());
}

class OtherPorts : public MainWindowFixture {
protected:
    void SetUp() override {}
};

TEST_F(OtherPorts, WithOnePortNeitherListHasASelectionAndOpenComUsesPortZeroWhichIsCom1) {
    makeWindow({2});
    EXPECT_EQ(itemsOf(window->control(203)), (QStringList{"COM2"}));
    EXPECT_EQ(selectionOf(window->control(203)), -1);
    EXPECT_EQ(selectionOf(window->control(204)), -1);
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_EQ(window->state().config.dte.portNumber, 0);
    EXPECT_FALSE(window->state().portOpen);  // COM1 is not mapped here
    EXPECT_TRUE(waitForTraffic("COM1"));
}

TEST_F(OtherPorts, BothListsOnOnePortSaySoInsteadOfFindingItBusy) {
    makeWindow({3, 5});
    window::StartChoices choices;
    choices.mode = engine::kIntercede;
    choices.dtePort = 5;
    choices.dcePort = 5;
    window->ApplyStartChoices(choices);
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_TRUE(
        waitForTraffic("\r\n*** Error opening COM Port !!! ***\r\n\r\n*** Check Port Settings !!! ***\r\n"
                       "\r\n*** COM5: chosen for both sides ***\r\n"));
    EXPECT_FALSE(window->state().portOpen);
}

TEST_F(OtherPorts, StartChoicesSelectWhatTheCommandLineNamedAndSkipWhatTheListsDoNotOffer) {
    makeWindow({3, 5, 7});
    window::StartChoices skipped;
    skipped.dtePort = 4;  // not listed
    skipped.mode = 9;     // no such mode
    window->ApplyStartChoices(skipped);
    const window::ControlModel& controls = window->controls();
    EXPECT_EQ(controls.selection(203), 0);
    EXPECT_EQ(controls.selection(205), 0);
    EXPECT_EQ(window->state().mode.load(), engine::kDteEmulation);
    EXPECT_EQ(caption(202), "DTE Emulation");

    window::StartChoices choices;
    choices.mode = engine::kFullDuplex;
    choices.dtePort = 7;
    choices.dcePort = 3;
    choices.baudRate = 57600;
    choices.parity = engine::kOddParity;
    choices.dataBits = 7;
    choices.stopBits = engine::kTwoStopBits;
    choices.flowControl = engine::kFlowHardware;
    choices.display = engine::kDisplayAscii;
    window->ApplyStartChoices(choices);
    const std::pair<int, int> selections[] = {{203, 2}, {204, 0}, {205, 3}, {206, 2} /* "Odd" */,
                                              {207, 1}, {208, 2}, {209, 0} /* reset by Full Duplex */};
    for (const auto& [id, row] : selections) EXPECT_EQ(controls.selection(id), row) << id;
    EXPECT_EQ(window->state().mode.load(), engine::kFullDuplex);
    EXPECT_EQ(caption(202), "Full Duplex");
    EXPECT_TRUE(window->modeWindow()->controls().checked(231));
    EXPECT_EQ(window->state().displayFormat.load(), engine::kDisplayAscii);
    EXPECT_TRUE(checked(214));
    // The rows of the lists stand for the COM numbers they show.
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_EQ(window->state().config.dte.portNumber, 7);
    EXPECT_EQ(window->state().config.dce.portNumber, 3);
    EXPECT_TRUE(window->state().portOpen);
}

}  // namespace
}  // namespace ostrel::ui::test

// The main window beyond its template: resizing and maximising (the traffic
// window and the send box take the room), fitting a small screen, the send
// box's keys, the icons, and the status bar with the ports' counters.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>
#include <filesystem>

#include "platform/temp_dir.h"
#include "support/main_window_fixture.h"
#include "ui/status_bar.h"
#include "ui/traffic_view.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

using WindowShape = MainWindowFixture;

std::map<int, QRect> placesOf(Cmainwin& window) {
    std::map<int, QRect> places;
    for (int id : kMainWindowIds) places[id] = window.control(id)->geometry();
    return places;
}

TEST_F(WindowShape, TheTrafficWindowTakesTheExtraRoomAndTheSendBoxTheExtraWidth) {
    const QSize normal = window->layoutOfControls().normalSize();
    window->showNormal();
    window->resize(normal);
    ASSERT_TRUE(waitFor([&] { return window->size() == normal; }));
    EXPECT_LT(window->minimumSize().height(), normal.height());
    EXPECT_EQ(window->minimumSize().width(), normal.width());
    EXPECT_GE(window->maximumSize().width(), 10000);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    const std::map<int, QRect> before = placesOf(*window);
    const int rowsBefore = window->trafficView()->visibleRows();
    const int columnsBefore = window->trafficView()->columns();

    const QSize bigger = normal + QSize(300, 200);
    window->resize(bigger);
    ASSERT_TRUE(waitFor([&] { return window->size() == bigger; }));
    const std::map<int, QRect> after = placesOf(*window);
    EXPECT_EQ(after.at(201).size(), before.at(201).size() + QSize(300, 200));
    EXPECT_EQ(after.at(201).topLeft(), before.at(201).topLeft());
    EXPECT_EQ(after.at(216).width(), before.at(216).width() + 300);
    EXPECT_EQ(after.at(216).top(), before.at(216).top() + 200);
    // The right-hand controls keep their distance to the right edge, the others to the left edge.
    for (int id : {210, 212, 213, 214, 234})
        EXPECT_EQ(after.at(id).topLeft(), before.at(id).topLeft() + QPoint(300, 200)) << id;
    for (int id : {211, 202, 203, 204, 205, 206, 219, 233, 217, 218})
        EXPECT_EQ(after.at(id).topLeft(), before.at(id).topLeft() + QPoint(0, 200)) << id;
    EXPECT_GT(window->trafficView()->visibleRows(), rowsBefore);
    EXPECT_GT(window->trafficView()->columns(), columnsBefore);
    // No control leaves the window or lies over the traffic window or another control's place.
    const QRect inside(QPoint(0, 0), bigger);
    for (const auto& [id, place] : after) {
        EXPECT_TRUE(inside.contains(place)) << id;
        if (id != 201) {
            EXPECT_FALSE(place.intersects(after.at(201))) << id;
        }
    }
    EXPECT_TRUE(inside.contains(window->statusBar()->geometry()));
    EXPECT_EQ(window->statusBar()->geometry().bottom(), bigger.height() - 1);
    EXPECT_EQ(window->statusBar()->width(), bigger.width());

    // Back to the normal size: every control where the template put it.
    window->resize(normal);
    ASSERT_TRUE(waitFor([&] { return window->size() == normal; }));
    EXPECT_EQ(placesOf(*window), before);
}

TEST_F(WindowShape, MaximisedTheWindowFillsTheScreenAndSmallerItKeepsEightRows) {
    window->showMaximized();
    const QRect available = window->screen()->availableGeometry();
    ASSERT_TRUE(waitFor([&] { return window->frameGeometry().size() == available.size(); }))
        << window->frameGeometry().width() << "x" << window->frameGeometry().height() << " on "
        << available.width() << "x" << available.height();
    EXPECT_GT(window->height(), window->layoutOfControls().normalSize().height());
    const std::map<int, QRect> places = placesOf(*window);
    for (const auto& [id, place] : places) EXPECT_TRUE(window->rect().contains(place)) << id;

    window->showNormal();
    const QSize smallest = window->minimumSize();
    window->resize(smallest);
    ASSERT_TRUE(waitFor([&] { return window->size() == smallest; }));
    EXPECT_EQ(window->trafficView()->visibleRows(), kMinTrafficRows);
    for (const auto& [id, place] : placesOf(*window)) {
        EXPECT_TRUE(window->rect().contains(place)) << id;
        if (id != 201) {
            EXPECT_FALSE(place.intersects(window->control(201)->geometry())) << id;
        }
    }
}

TEST_F(WindowShape, TheWindowsCarryTheOstrelIcon) {
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_FALSE(window->windowIcon().pixmap(32).isNull());
    ASSERT_TRUE(click(window::id::kPictureButton));
    ASSERT_TRUE(waitFor([this] { return window->aboutWindow() && window->aboutWindow()->isVisible(); }));
    EXPECT_FALSE(window->aboutWindow()->windowIcon().isNull());
    // The icon's picture: not a blank square.
    const QImage image = window->windowIcon().pixmap(64).toImage();
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) coloured += image.pixelColor(x, y).alpha() > 0 ? 1 : 0;
    EXPECT_GT(coloured, 64 * 64 / 2);
}

class SendBoxKeys : public MainWindowFixture {
protected:
    QPlainTextEdit* sendBox() {
        return qobject_cast<QPlainTextEdit*>(window->control(window::id::kSendData));
    }
};

TEST_F(SendBoxKeys, CtrlEnterSendsTabLeavesTheBoxAndATabByteIsStillSent) {
    openIn(window::id::kDteEmulationRadio);
    window->activateWindow();
    sendBox()->setFocus();
    ASSERT_TRUE(waitFor([this] { return sendBox()->hasFocus(); }));
    QTest::keyClicks(sendBox(), "41 09");
    QTest::keyClick(sendBox(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(far[0]->read(2), "A\t");             // the TAB byte, given as hex 09
    EXPECT_EQ(sendBox()->toPlainText(), "41 09");  // no line break was typed

    // In ASCII, Ctrl+Tab types a TAB character; Tab moves the focus on.
    ASSERT_TRUE(click(214));
    sendBox()->setPlainText("a");
    sendBox()->setFocus();
    sendBox()->moveCursor(QTextCursor::End);
    QTest::keyClick(sendBox(), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClicks(sendBox(), "b");
    EXPECT_EQ(sendBox()->toPlainText(), "a\tb");
    QTest::keyClick(sendBox(), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(far[0]->read(3), "a\tb");
    QTest::keyClick(sendBox(), Qt::Key_Tab);
    EXPECT_FALSE(sendBox()->hasFocus());
    EXPECT_EQ(sendBox()->toPlainText(), "a\tb");

    // With the ports closed the Send button is disabled, and so is Ctrl+Enter.
    ASSERT_TRUE(click(window::id::kOpenClose));
    const std::string before = traffic();
    QTest::keyClick(sendBox(), Qt::Key_Return, Qt::ControlModifier);
    processQueued();
    EXPECT_EQ(traffic(), before);
}

class StatusBarTest : public MainWindowFixture {
protected:
    QString status() {
        window->refreshStatus();
        return window->statusBar()->line();
    }
    // The rows shown join to the whole status, and each fits the bar (nothing
    // elided).
    void expectShownWhole() {
        const QStringList rows = window->statusBar()->text().split(QLatin1Char('\n'));
        EXPECT_LE(rows.size(), StatusBar::kRows);
        EXPECT_EQ(rows.join(QStringLiteral(" | ")), status());
        for (const QString& row : rows)
            EXPECT_LE(window->statusBar()->fontMetrics().horizontalAdvance(row),
                      window->statusBar()->contentsRect().width())
                << row.toStdString();
    }
    platform::test::TempDir directory;
};

TEST_F(StatusBarTest, ShowsTheModeThePortsTheirCountersAndTheCapture) {
    EXPECT_TRUE(window->statusBar()->isVisible());
    EXPECT_EQ(status(), "DTE Emulation | ports closed");
    // The bar lies under the template's controls.
    for (int id : kMainWindowIds)
        EXPECT_LE(window->control(id)->geometry().bottom(), window->statusBar()->geometry().top()) << id;

    openIn(window::id::kIntercedeRadio);
    const std::string dte = "DTE COM1 " + far[0]->path() + " 9600 8N1: ";
    const std::string dce = "DCE COM2 " + far[1]->path() + " 9600 8N1: ";
    EXPECT_EQ(status().toStdString(),
              "Intercede | " + dte + "0 bytes in, 0 errors | " + dce + "0 bytes in, 0 errors");
    expectShownWhole();
    ASSERT_TRUE(far[0]->write("hello"));
    ASSERT_TRUE(far[1]->write("hi"));
    ASSERT_TRUE(waitFor([&] { return status().contains("5 bytes in") && status().contains("2 bytes in"); }))
        << status().toStdString();
    // A pseudo-terminal reports no modem lines: none are shown.
    EXPECT_FALSE(status().contains("CTS"));
    // The timer refreshes it by itself.
    ASSERT_TRUE(far[0]->write(std::string(1200, 'x')));
    EXPECT_TRUE(waitFor([&] { return window->statusBar()->line().contains("1,205 bytes in"); }))
        << window->statusBar()->line().toStdString();

    const std::string file = directory / "cap.bin";
    window->setCaptureDialog([&] { return file; });
    ASSERT_TRUE(click(window::id::kCapture));
    ASSERT_TRUE(far[0]->write("abc"));
    EXPECT_TRUE(waitFor([&] {
        return status().toStdString().find("capture " + file + " (3 bytes)") != std::string::npos;
    })) << status().toStdString();
    // Too long for one row at the normal size: two rows, each whole.
    EXPECT_TRUE(window->statusBar()->text().contains(QLatin1Char('\n')));
    expectShownWhole();
    // Wide enough, it is one row again.
    const QSize normal = window->size();
    window->resize(4000, normal.height());
    EXPECT_EQ(window->statusBar()->text(), status());
    window->resize(normal);
    ASSERT_TRUE(click(window::id::kCapture));
    EXPECT_FALSE(status().contains("capture"));
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_EQ(status(), "Intercede | ports closed");
}

TEST(StatusLineText, SettingsAndModemLines) {
    engine::PortSettings line;
    line.baudRate = 19200;
    line.dataBits = 7;
    line.parity = engine::kEvenParity;
    line.stopBits = engine::kTwoStopBits;
    line.flowControl = engine::kFlowHardware;
    EXPECT_EQ(LineSettingsText(line), "19200 7E2 RTS/CTS");
    line.stopBits = engine::kOne5StopBits;
    line.parity = engine::kSpaceParity;
    line.flowControl = engine::kFlowXonXoff;
    EXPECT_EQ(LineSettingsText(line), "19200 7S1.5 Xon/Xoff");
    EXPECT_EQ(ModemLinesText({true, false, true, false}), "CTS+ DSR- DCD+ RI-");
    StatusFacts facts;
    facts.mode = engine::kFullDuplex;
    SideStatus side{"DCE", 3, "/dev/ttyS2", line, 1234567, 1, platform::ModemLines{true, true, false, false}};
    facts.openSides.push_back(side);
    EXPECT_EQ(StatusLine(facts).toStdString(),
              "Full Duplex | DCE COM3 /dev/ttyS2 19200 7S1.5 Xon/Xoff: 1,234,567 bytes in, 1 error, "
              "CTS+ DSR+ DCD- RI-");
    EXPECT_EQ(ShortPath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ShortPath("/tmp/tmp.rHLOGfTFa2/runtime/ostrel-demo-dce"), "\u2026/runtime/ostrel-demo-dce");
}

}  // namespace
}  // namespace ostrel::ui::test

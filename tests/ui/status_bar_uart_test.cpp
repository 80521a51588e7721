// The main window's status bar on a real UART (/dev/ttyS0) in loopback: the
// modem lines the port reports are shown, and follow DTR and RTS, which the
// loop returns as DSR and CTS.

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <QListWidget>
#include <QTest>

#include "support/main_window_fixture.h"
#include "uart_loopback.h"
#include "ui/status_bar.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

class StatusBarOnUart : public MainWindowFixture {
protected:
    void SetUp() override {
        loop_ = std::make_unique<uart::test::UartLoopback>();
        if (!loop_->ready()) GTEST_SKIP() << loop_->skipReason();
        // COM1 is the UART, named explicitly (the console is never chosen by default).
        ASSERT_FALSE(ports.addExplicit(1, uart::test::uartPath()).has_value());
        engine = std::make_unique<engine::Engine>(ports);
        window = std::make_unique<Cmainwin>(*engine);
        ASSERT_TRUE(window->Create());
        window->show();
    }
    void TearDown() override {
        if (window) MainWindowFixture::TearDown();
        loop_.reset();
    }
    QString status() {
        window->refreshStatus();
        return window->statusBar()->line();
    }
    bool setLines(int lines, bool on) { return ::ioctl(loop_->fd(), on ? TIOCMBIS : TIOCMBIC, &lines) == 0; }

    std::unique_ptr<uart::test::UartLoopback> loop_;
};

TEST_F(StatusBarOnUart, ShowsTheModemLinesAndFollowsDtrAndRts) {
    // The operator picks COM1 in the DTE list (the console is never opened unless chosen).
    auto* list = qobject_cast<QListWidget*>(window->control(window::id::kDteList));
    ASSERT_NE(list, nullptr);
    ASSERT_GT(list->count(), 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(window->state().portOpen) << traffic();
    const std::string side = "DTE COM1 " + uart::test::uartPath() + " 9600 8N1: ";
    // The port drops DTR and RTS at open: DSR and CTS are low in the loop.
    EXPECT_TRUE(waitFor([&] { return status().toStdString().find(side) != std::string::npos; }))
        << status().toStdString();
    EXPECT_TRUE(waitFor([&] { return status().contains("CTS- DSR-"); })) << status().toStdString();
    // DTR and RTS raised on the port come back as DSR and CTS.
    ASSERT_TRUE(setLines(TIOCM_DTR | TIOCM_RTS, true));
    EXPECT_TRUE(waitFor([&] { return status().contains("CTS+ DSR+"); })) << status().toStdString();
    ASSERT_TRUE(setLines(TIOCM_RTS, false));
    EXPECT_TRUE(waitFor([&] { return status().contains("CTS- DSR+"); })) << status().toStdString();
    ASSERT_TRUE(click(window::id::kOpenClose));
    EXPECT_TRUE(waitFor([&] { return status().contains("ports closed"); })) << status().toStdString();
}

}  // namespace
}  // namespace ostrel::ui::test

#include "support/main_window_fixture.h"

#include <poll.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QTest>
#include <stdexcept>

#include "platform/pty_test_support.h"
#include "ui/traffic_view.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {

FarEnd::FarEnd() {
    auto pair = platform::openPtyPair();
    if (!pair) throw std::runtime_error("no pseudo-terminal: " + pair.error().describe());
    pair_ = std::move(pair).value();
}

bool FarEnd::write(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return platform::test::writeAll(pair_.master.get(), std::span(data, bytes.size()), timeout);
}

std::string FarEnd::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents();
        pollfd fd{pair_.master.get(), POLLIN, 0};
        if (::poll(&fd, 1, 5) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(pair_.master.get(), buffer, sizeof buffer);
        if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

void processQueued() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void MainWindowFixture::TearDown() {
    window.reset();
    engine.reset();
    processQueued();
}

void MainWindowFixture::makeWindow(const std::vector<int>& comNumbers) {
    for (int number : comNumbers) {
        far.push_back(std::make_unique<FarEnd>());
        ASSERT_FALSE(ports.addExplicit(number, far.back()->path()).has_value());
    }
    engine = std::make_unique<engine::Engine>(ports);
    window = std::make_unique<Cmainwin>(*engine);
    QString error;
    ASSERT_TRUE(window->Create(&error)) << error.toStdString();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

bool MainWindowFixture::click(int id) {
    return clickWidget(window->control(id));
}

bool MainWindowFixture::clickMode(int id) {
    Cmodewin* mode = window->modeWindow();
    return mode && clickWidget(mode->control(id));
}

void MainWindowFixture::chooseMode(int radioId) {
    ASSERT_TRUE(click(window::id::kModeButton));
    ASSERT_TRUE(waitFor([this] { return window->modeWindow() && window->modeWindow()->isVisible(); }));
    ASSERT_TRUE(clickMode(radioId));
    ASSERT_TRUE(clickMode(window::id::kOk));
    ASSERT_FALSE(window->modeWindow()->isVisible());
}

void MainWindowFixture::openIn(int radioId) {
    ASSERT_NO_FATAL_FAILURE(chooseMode(radioId));
    ASSERT_TRUE(click(window::id::kOpenClose));
    ASSERT_TRUE(window->state().portOpen);
}

bool MainWindowFixture::enabled(int id) const {
    QWidget* widget = window->control(id);
    return widget && widget->isEnabled();
}

bool MainWindowFixture::checked(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(window->control(id));
    return button && button->isChecked();
}

QString MainWindowFixture::caption(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(window->control(id));
    return button ? button->text() : QString();
}

std::string MainWindowFixture::traffic() {
    QCoreApplication::processEvents();
    window->flushTraffic();
    return window->trafficView()->text();
}

bool MainWindowFixture::waitForTraffic(const std::string& text, std::chrono::milliseconds timeout) {
    return waitFor([&] { return traffic().find(text) != std::string::npos; }, timeout);
}

void MainWindowFixture::expectSessionClosed() {
    EXPECT_FALSE(window->state().portOpen);
    EXPECT_EQ(caption(window::id::kOpenClose), "Open COM");
    for (int id : {202, 203, 204, 205, 206, 207, 208, 209}) EXPECT_TRUE(enabled(id)) << id;
    for (int id : {212, 216, 217, 218}) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_TRUE(
        waitFor([this] { return !engine->isOpen(engine::kDteSide) && !engine->isOpen(engine::kDceSide); }));
}

std::map<int, bool> MainWindowFixture::enabledStates() const {
    std::map<int, bool> states;
    for (int id : kMainWindowIds) states[id] = enabled(id);
    return states;
}

}  // namespace ostrel::ui::test

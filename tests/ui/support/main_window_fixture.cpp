#include "support/main_window_fixture.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include "ui/control_ids.h"
#include "ui/traffic_view.h"

namespace ostrel::ui::test {

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

void processQueued() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool clickWidget(QWidget* widget) {
    if (!widget) return false;
    QPoint at = widget->rect().center();
    if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(radio);
        at = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio).center();
    }
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

void MainWindowFixture::SetUp() {}

void MainWindowFixture::TearDown() {
    window.reset();
    engine.reset();
    processQueued();
}

void MainWindowFixture::makeWindow(int count) {
    for (int i = 0; i < count; ++i) {
        far.push_back(std::make_unique<FarEnd>());
        ASSERT_FALSE(ports.addExplicit(i + 1, far.back()->path()).has_value());
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
    ASSERT_TRUE(click(id::kModeButton));
    ASSERT_TRUE(waitFor([this] { return window->modeWindow() && window->modeWindow()->isVisible(); }));
    ASSERT_TRUE(clickMode(radioId));
    ASSERT_TRUE(clickMode(id::kOk));
    ASSERT_FALSE(window->modeWindow()->isVisible());
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

std::map<int, bool> MainWindowFixture::enabledStates() const {
    std::map<int, bool> states;
    for (int id :
         {201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 216, 217, 218, 219, 233, 234})
        states[id] = enabled(id);
    return states;
}

}  // namespace ostrel::ui::test

#include "ui/screenshot_mode.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "ui/caboutbox.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "window/control_ids.h"

namespace ostrel::ui {

namespace {

// The window as the screen shows it, title bar and frame included when a
// window manager draws them; the widget's own picture where the screen
// cannot be read.
void save(QWidget* widget, const QPixmap& screen, const QString& path) {
    if (!widget) return;
    QPixmap picture;
    if (!screen.isNull()) {
        const QRect frame =
            widget->frameGeometry().intersected(QRect(QPoint(0, 0), screen.deviceIndependentSize().toSize()));
        if (!frame.isEmpty()) picture = screen.copy(frame);
    }
    if (picture.isNull()) picture = widget->grab();
    if (!picture.save(path)) std::fprintf(stderr, "ostrel: cannot write %s\n", qPrintable(path));
}

}  // namespace

ScreenshotMode::ScreenshotMode(Cmainwin& window) : window_(&window) {}

void ScreenshotMode::startFromEnvironment() {
    directory_ = qEnvironmentVariable("OSTREL_SCREENSHOT_DIR");
    const bool autoOpen = qEnvironmentVariableIntValue("OSTREL_AUTO_OPEN") == 1;
    QTimer::singleShot(0, this, [this, autoOpen] {
        if (!window_) return;
        // As an operator would: the mode window is asked for while the mode
        // button is enabled, that is before the ports are opened.
        if (!directory_.isEmpty()) window_->OnCommand(window::id::kModeButton);
        if (autoOpen) window_->OnCommand(window::id::kOpenClose);
    });
    if (directory_.isEmpty()) return;
    QDir().mkpath(directory_);
    bool ok = false;
    int delay = qEnvironmentVariableIntValue("OSTREL_SCREENSHOT_DELAY_MS", &ok);
    if (!ok || delay < 0) delay = 4000;
    QTimer::singleShot(delay, this, [this] { openWindows(); });
}

void ScreenshotMode::openWindows() {
    if (!window_) return;
    window_->OnCommand(window::id::kPictureButton);
    // Let the queued show requests run and the window system map the windows.
    QTimer::singleShot(1000, this, [this] { capture(); });
}

void ScreenshotMode::capture() {
    if (!window_) return;
    window_->flushTraffic();
    // Side by side, so that the desktop picture shows all three.
    const QRect main = window_->frameGeometry();
    window_->move(16, 16);
    if (Cmodewin* mode = window_->modeWindow()) mode->move(16 + main.width() + 24, 16);
    if (Caboutbox* about = window_->aboutWindow()) {
        const int top = window_->modeWindow() ? window_->modeWindow()->frameGeometry().bottom() + 32 : 16;
        about->move(16 + main.width() + 24, top);
    }
    QTimer::singleShot(700, this, [this] {
        if (!window_) return;
        QPixmap desktop;
        if (QScreen* screen = QGuiApplication::primaryScreen()) desktop = screen->grabWindow(0);
        save(window_, desktop, directory_ + "/main-window.png");
        save(window_->modeWindow(), desktop, directory_ + "/mode-window.png");
        save(window_->aboutWindow(), desktop, directory_ + "/about-window.png");
        if (!desktop.isNull() && !desktop.save(directory_ + "/desktop.png"))
            std::fprintf(stderr, "ostrel: cannot write %s/desktop.png\n", qPrintable(directory_));
        window_->OnCommand(window::id::kExit);
    });
}

}  // namespace ostrel::ui

#include "ui/screenshot_mode.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "ui/caboutbox.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "ui/traffic_view.h"
#include "window/control_ids.h"

namespace ostrel::ui {

namespace {

// The window as the screen shows it, title bar and frame included when a
// window manager draws them; the widget's own picture where the screen
// cannot be read.
// The part of a screen grab that shows `area` (in Qt's coordinates; the grab
// is in the screen's pixels, more of them on a scaled screen).
QPixmap crop(const QPixmap& screen, const QRect& area) {
    const QRect inside = area.intersected(QRect(QPoint(0, 0), screen.deviceIndependentSize().toSize()));
    if (inside.isEmpty()) return {};
    const qreal ratio = screen.devicePixelRatio();
    const QRect pixels(QPoint(qRound(inside.x() * ratio), qRound(inside.y() * ratio)),
                       QSize(qRound(inside.width() * ratio), qRound(inside.height() * ratio)));
    return screen.copy(pixels);
}

void save(QWidget* widget, const QPixmap& screen, const QString& path) {
    if (!widget) return;
    QPixmap picture;
    if (!screen.isNull()) picture = crop(screen, widget->frameGeometry());
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

void ScreenshotMode::writeLayout() {
    QFile file(directory_ + "/layout.txt");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    QTextStream out(&file);
    const auto line = [&out](const QString& name, const QRect& r) {
        out << name << ' ' << r.x() << ' ' << r.y() << ' ' << r.width() << ' ' << r.height() << '\n';
    };
    if (QScreen* screen = window_->screen()) line(QStringLiteral("available"), screen->availableGeometry());
    line(QStringLiteral("frame"), window_->frameGeometry());
    line(QStringLiteral("window"), window_->geometry());
    for (QWidget* control : window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QString name = control->objectName();
        if (!name.startsWith(QLatin1String("control_")) || !control->isVisible()) continue;
        line(QStringLiteral("control ") + name.mid(8),
             QRect(control->mapToGlobal(QPoint(0, 0)), control->size()));
    }
}

void ScreenshotMode::capture() {
    if (!window_) return;
    window_->flushTraffic();
    writeLayout();
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
        captureContextMenu();
    });
}

// The operator's view of the traffic window's menu: some text selected, the
// menu open over it.
void ScreenshotMode::captureContextMenu() {
    if (!window_) return;
    if (window_->state().aboutOpen) window_->OnCommand(window::id::kPictureButton);
    // "Close" of the mode window, as the operator would press it.
    if (Cmodewin* mode = window_->modeWindow(); mode && mode->isVisible())
        if (auto* close = qobject_cast<QAbstractButton*>(mode->control(window::id::kOk))) close->click();
    window_->activateWindow();
    TrafficView* view = window_->trafficView();
    if (!view) return captureMaximised();
    view->setFocus();
    const qint64 end = view->size();
    const qint64 lineStart = view->store().lineAt(std::max<qint64>(0, end - 1)).start;
    const qint64 from = view->store().lineAt(std::max<qint64>(0, lineStart - 3)).start;
    view->setSelection(from, end);
    const QPoint at = view->pointForOffset(from) + QPoint(view->viewport()->width() / 3, 0);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
    QTimer::singleShot(700, this, [this] {
        if (!window_) return;
        QPixmap desktop;
        if (QScreen* screen = QGuiApplication::primaryScreen()) desktop = screen->grabWindow(0);
        TrafficView* view = window_->trafficView();
        QRect area = window_->frameGeometry();
        if (view && view->contextMenu()) area |= view->contextMenu()->frameGeometry();
        QPixmap picture = desktop.isNull() ? window_->grab() : crop(desktop, area);
        if (!picture.save(directory_ + "/context-menu.png"))
            std::fprintf(stderr, "ostrel: cannot write %s/context-menu.png\n", qPrintable(directory_));
        if (view && view->contextMenu()) view->contextMenu()->close();
        captureFindBar();
    });
}

// The Find bar over the traffic window: the demo's "OK" replies found, the
// one found selected and the others in view highlighted.
void ScreenshotMode::captureFindBar() {
    TrafficView* view = window_ ? window_->trafficView() : nullptr;
    if (!view) return captureMaximised();
    view->setCaretPosition(view->size());
    view->showFindBar();
    view->findBar()->setNeedle(QStringLiteral("0x4F 0x4B"));
    view->findNext(true);
    QTimer::singleShot(700, this, [this] {
        if (!window_) return;
        QPixmap desktop;
        if (QScreen* screen = QGuiApplication::primaryScreen()) desktop = screen->grabWindow(0);
        save(window_, desktop, directory_ + "/find-bar.png");
        if (TrafficView* view = window_->trafficView(); view && view->findBar()) view->findBar()->hide();
        captureMaximised();
    });
}

void ScreenshotMode::captureMaximised() {
    if (!window_) return;
    window_->showMaximized();
    QTimer::singleShot(1000, this, [this] {
        if (!window_) return;
        // Without a window manager nobody acts on the request: the window
        // then takes the available area itself.
        if (QScreen* screen = window_->screen()) {
            const QRect available = screen->availableGeometry();
            const QSize frame = window_->frameGeometry().size();
            if (frame.width() < available.width() * 9 / 10 || frame.height() < available.height() * 9 / 10)
                window_->setGeometry(available);
        }
        QTimer::singleShot(700, this, [this] {
            if (!window_) return;
            window_->flushTraffic();
            QPixmap desktop;
            if (QScreen* screen = QGuiApplication::primaryScreen()) desktop = screen->grabWindow(0);
            save(window_, desktop, directory_ + "/main-window-maximised.png");
            window_->OnCommand(window::id::kExit);
        });
    });
}

}  // namespace ostrel::ui

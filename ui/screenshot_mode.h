#pragma once
// A hidden aid for documentation and checks, driven by the environment:
//  - OSTREL_AUTO_OPEN=1 presses "Open COM" as soon as the window runs;
//  - OSTREL_SCREENSHOT_DIR=DIR presses the mode button at once (before the
//    ports open, so the operator could do the same), and after
//    OSTREL_SCREENSHOT_DELAY_MS (default 4000) ms the picture button; then it
//    lays the three windows out side by side, writes main-window.png,
//    mode-window.png, about-window.png (each window as the screen shows it,
//    with the frame a window manager draws) and desktop.png (the whole
//    screen) into DIR; then, with the mode and about windows closed, a
//    selection in the traffic window and its context menu open,
//    context-menu.png; then the main window maximised,
//    main-window-maximised.png; then it presses "Exit".
//    layout.txt records, before anything was moved, the screen's available
//    area, the main window's frame and each control's place on the screen
//    ("control ID X Y W H"), for checks that every control can be reached.
// Without those variables it does nothing.

#include <QObject>
#include <QPointer>
#include <QString>

namespace ostrel::ui {

class Cmainwin;

class ScreenshotMode : public QObject {
    Q_OBJECT

public:
    explicit ScreenshotMode(Cmainwin& window);
    void startFromEnvironment();

private:
    void openWindows();
    void capture();
    void writeLayout();
    void captureContextMenu();
    void captureFindBar();
    void captureMaximised();

    QPointer<Cmainwin> window_;
    QString directory_;
};

}  // namespace ostrel::ui

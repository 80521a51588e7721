#pragma once
// The "Mode Select" window (template 105): five radios under their wiring
// pictures and a "Close" button. Always on top, made once by the main window
// at its initialisation and then only hidden and shown. A radio click applies
// its mode to the main window at once.
//
// It lives on the GUI thread, like every widget. The main window reaches it
// only by queued calls (OnShowRequest, OnEndRequest) through a QPointer, so a
// request to a window that is gone is dropped; it reaches the main window
// through a QPointer of its own, on the same thread.

#include <QPointer>
#include <QWidget>
#include <memory>

#include "engine/session_types.h"
#include "window/control_model.h"

namespace ostrel::ui {

class Cmainwin;
class ControlSkin;

class Cmodewin : public QWidget {
    Q_OBJECT

public:
    explicit Cmodewin(Cmainwin& mainWindow);
    ~Cmodewin() override;

    // Shows the window with the radio of `mode` checked (other marks stay).
    void OnShowRequest(engine::OperatingMode mode);
    // Ends the window for good: hidden without enabling the mode button,
    // then `ended` is emitted and the owner lets it go.
    void OnEndRequest();

    const window::ControlModel& controls() const { return controls_; }
    window::ControlModel& controls() { return controls_; }
    QWidget* control(int id) const;

signals:
    void ended();

protected:
    // The close box hides the window exactly as "Close" does.
    void closeEvent(QCloseEvent* event) override;
    // Escape hides the window as "Close" does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnCommand(int id);
    void hideAndRelease();

    QPointer<Cmainwin> mainWindow_;
    window::ControlModel controls_;
    std::unique_ptr<ControlSkin> skin_;
    bool ending_ = false;
};

}  // namespace ostrel::ui

#pragma once
// The main window (template 102): the session's home. Every operator command
// arrives here as a click on a control with an id and is routed to its
// handler; the commands themselves (what each one does to the session and to
// the controls by id) are in window::MainWindowCommands, and the ControlSkin mirrors
// the window::ControlModel onto the widgets.
//
// It is also the engine's window link. Threading contract:
//  - mode(), displayFormat() and sendTarget() are read from any thread (atomics).
//  - postDataReady() and postReceiveExit() may be called from any thread; they
//    queue a call to OnDataReady / OnReceiveExit on the GUI thread and return.
//  - appendText() and appendStatusText() may be called from any thread: the text
//    goes into an ordered DisplayQueue that the GUI thread applies to the
//    traffic window in batches of at most 256 KiB. Only the pump ever waits
//    there (when the backlog passes its bound); the GUI thread and the
//    receive threads never do.
//  - Everything else runs on the GUI thread.
// The destructor closes the queue and stops and joins every worker
// (Engine::ShutdownEngine) before any member goes away.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine/window_link.h"
#include "presentation/traffic_formatter.h"
#include "window/control_model.h"
#include "window/main_window_commands.h"
#include "window/main_window_state.h"

namespace ostrel::ui {

class Caboutbox;
class Cmodewin;
class ControlSkin;
class TrafficView;

inline constexpr std::size_t kTrafficBatchBytes = 256 * 1024;

class Cmainwin : public QWidget, public engine::WindowLink {
    Q_OBJECT

public:
    // Shows the save dialog for a capture file; returns the chosen name
    // (empty when cancelled).
    using CaptureDialog = std::function<std::string()>;

    // Makes the engine ready with this window as its link.
    explicit Cmainwin(engine::Engine& engine);
    ~Cmainwin() override;

    // Builds the controls from template 102 and runs OnInitDialog. False (with
    // `error` set) when the template cannot be read.
    bool Create(QString* error = nullptr);

    // --- engine::WindowLink ---------------------------------------------------
    engine::OperatingMode mode() const override { return state_.mode.load(); }
    engine::DisplayFormat displayFormat() const override { return state_.displayFormat.load(); }
    engine::SendTarget sendTarget() const override { return state_.sendTarget.load(); }
    void postDataReady(int side) override;
    void postReceiveExit(const engine::ReceiveExitNotice& notice) override;
    void appendText(std::string_view text) override;
    void appendStatusText(std::string_view text) override;
    void setAppendsUnbounded(bool unbounded) override;

    // --- Handlers (GUI thread) ----------------------------------------------
    void OnInitDialog();
    // A click (BN_CLICKED) on the control or command `id`; ids without a
    // handler (220, 222, ...) do nothing.
    void OnCommand(int id);
    void OnOpenClose();
    void OnSend();
    void OnCapture();
    void OnDisplayHex();
    void OnDisplayAscii();
    void OnDisplayOff();
    void OnDisplayNone();
    void OnSendToDte();
    void OnSendToDce();
    void OnModeButton();
    void OnAboutButton();
    void OnTextColor();
    void OnReceiveExit(const engine::ReceiveExitNotice& notice);
    void OnDataReady(int side);
    void OnClose();
    void OnExit();

    // --- Called by the mode window (GUI thread) -------------------------------
    void OnModeRadio(int radioId, window::ControlModel& modeWindowControls);
    void OnModeWindowHidden();

    // Start-up choices from the command line; after Create().
    void ApplyStartChoices(const window::StartChoices& choices);

    // --- Access -----------------------------------------------------------------
    window::MainWindowState& state() { return state_; }
    const window::ControlModel& controls() const { return controls_; }
    QWidget* control(int id) const;
    TrafficView* trafficView() const { return traffic_; }
    Cmodewin* modeWindow() const;
    Caboutbox* aboutWindow() const;
    void setCaptureDialog(CaptureDialog dialog) { captureDialog_ = std::move(dialog); }
    // Applies every piece of traffic text queued so far, at once.
    void flushTraffic();

signals:
    // "Exit" or the close box: the main loop is to end (the entry then
    // destroys the window).
    void quitRequested();

protected:
    // The close box (and the window manager's close) runs OnClose; the
    // window itself stays until the entry destroys it after the loop.
    void closeEvent(QCloseEvent* event) override;
    // Tab moves nothing: there is no dialog keyboard handling.
    bool focusNextPrevChild(bool) override { return false; }

private:
    void drainTraffic();
    void scheduleDrain();
    std::string showCaptureDialog();
    void endModeWindow();
    void releaseAboutWindow();

    engine::Engine& engine_;
    window::MainWindowState state_;
    presentation::TrafficFormatter formatter_;
    engine::DisplayQueue displayQueue_;
    window::ControlModel controls_;
    window::MainWindowCommands commands_;
    std::unique_ptr<ControlSkin> skin_;
    TrafficView* traffic_ = nullptr;  // child widget of this window

    // The mode and about window references: read as empty before the window
    // exists and after it has gone. The owners hold the windows until they
    // end (the mode window at Exit or close, an about window at its closing).
    QPointer<Cmodewin> modeWindow_;
    QPointer<Caboutbox> aboutWindow_;
    std::unique_ptr<Cmodewin> modeWindowOwner_;
    std::unique_ptr<Caboutbox> aboutWindowOwner_;

    CaptureDialog captureDialog_;
};

}  // namespace ostrel::ui

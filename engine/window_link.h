#pragma once
// What the engine needs from the main window, without any toolkit: the fields
// it reads, the two notices it posts and the traffic window it appends to.
// The headless front end implements it, and so does the Qt main window.

#include <cstdint>
#include <string_view>

#include "engine/session_types.h"

namespace ostrel::engine {

// Something that takes traffic-window text in order.
class TextSink {
public:
    virtual ~TextSink() = default;
    // Appends text at the traffic window's current selection. Called from the
    // pump, receive threads and the UI thread. Must never wait for the UI
    // thread, except that the pump may be held while the display's backlog is
    // beyond its bound (the DisplayQueue does this).
    virtual void appendText(std::string_view text) = 0;
};

// The receive-exit notice: which receive thread ended, for which side, and
// whether it ended because the port hung up rather than because it was closed.
struct ReceiveExitNotice {
    std::uint64_t threadId = 0;
    int side = 0;
    int portNumber = 0;
    bool hungUp = false;
    // The session could not go on because memory ran out ("Out of memory:
    // session closed" is shown); the window closes it as Close COM does.
    bool outOfMemory = false;
};

class WindowLink : public TextSink {
public:
    // Fields of the main window state, read at any time from any thread.
    virtual OperatingMode mode() const = 0;
    virtual DisplayFormat displayFormat() const = 0;
    virtual SendTarget sendTarget() const = 0;

    // The data-ready notice: a receive ring went from empty to non-empty.
    // Called on a receive thread, after the engine has already woken its own
    // pump: the relay never waits for the thread that handles this notice.
    virtual void postDataReady(int side) = 0;
    // The receive-exit notice, posted by a receive thread as it ends. The
    // main window closes the session on it only when
    // Engine::IsCurrentReceiveThread(notice.threadId) holds.
    virtual void postReceiveExit(const ReceiveExitNotice& notice) = 0;
    // Appends that must never wait (status lines from receive threads).
    virtual void appendStatusText(std::string_view text) { appendText(text); }
    // While set, appendText() must not wait at the display's bound. The
    // engine sets it on the UI thread while a close waits for the pump to
    // finish the chunk it holds, so that this wait never needs the UI thread.
    // A link whose appends never wait may ignore it.
    virtual void setAppendsUnbounded(bool /*unbounded*/) {}
};

// Turns traffic into window text; the presentation layer implements it.
class TrafficPresenter {
public:
    virtual ~TrafficPresenter() = default;
    virtual void BeginTrafficLine(TextSink& sink) = 0;
    virtual void ShowTraffic(TextSink& sink, const std::uint8_t* bytes, std::int32_t count) = 0;
    // The look of the time stamps from the next line on; from any thread.
    virtual void SetStampFormat(StampFormat) {}
};

}  // namespace ostrel::engine

#pragma once
// The headless stand-in for the main window: the engine's WindowLink over a
// DisplayQueue (the traffic window's text, in order) and a queue of posted
// notices that the front-end thread handles in order, as the window's message
// loop would.
//
// Threading: mode, display format and send target are fixed for the run and
// read from any thread. appendText/appendStatusText are called from the pump,
// the receive threads and the front-end thread. postDataReady runs on a
// receive thread; postReceiveExit and post() on any thread. takeNotices()
// runs on the front-end thread only, after noticeFd() polled readable.

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine/window_link.h"
#include "platform/event.h"

namespace ostrel::headless {

// Standard output could not be written (errno).
struct OutputFailed {
    int error = 0;
};

using Notice = std::variant<engine::ReceiveExitNotice, OutputFailed>;

class HeadlessWindow : public engine::WindowLink {
public:
    HeadlessWindow(engine::DisplayQueue& display, engine::OperatingMode mode, engine::DisplayFormat format,
                   engine::SendTarget target);

    // The engine whose pump a data-ready notice wakes. Set before the engine
    // starts any thread.
    void attach(engine::Engine& engine) { engine_.store(&engine); }

    engine::OperatingMode mode() const override { return mode_; }
    engine::DisplayFormat displayFormat() const override { return format_; }
    engine::SendTarget sendTarget() const override { return target_; }

    void appendText(std::string_view text) override { display_.append(text); }
    void appendStatusText(std::string_view text) override { display_.appendUnbounded(text); }
    void setAppendsUnbounded(bool unbounded) override { display_.setUnbounded(unbounded); }

    // Wakes the pump straight from the receive thread rather than through the
    // front-end thread: SignalPump is thread-safe, and a front end that is
    // busy (a long send, a slow stdin line) must not hold up the relay.
    void postDataReady(int side) override;
    void postReceiveExit(const engine::ReceiveExitNotice& notice) override { post(notice); }

    void post(Notice notice);
    // Readable while notices wait.
    int noticeFd() const { return wake_.fd(); }
    std::vector<Notice> takeNotices();

private:
    engine::DisplayQueue& display_;
    const engine::OperatingMode mode_;
    const engine::DisplayFormat format_;
    const engine::SendTarget target_;
    std::atomic<engine::Engine*> engine_{nullptr};
    std::mutex mutex_;
    std::deque<Notice> notices_;
    platform::WakeFd wake_;
};

}  // namespace ostrel::headless

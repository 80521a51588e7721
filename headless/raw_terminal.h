#pragma once
// Standard input's terminal in raw mode for --interactive: every key comes as
// it is typed (no line editing, no signals from Ctrl-C, no echo), and the
// settings found are put back when the object goes, whichever way the run
// ends (the termination signals come through a signalfd and unwind to here).

#include <termios.h>

#include <string>

namespace ostrel::headless {

class RawTerminal {
public:
    // Makes `fd` raw. When it cannot (not a terminal, tcsetattr failed),
    // active() is false and error() says why; nothing is changed then.
    explicit RawTerminal(int fd);
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    bool active() const { return active_; }
    const std::string& error() const { return error_; }

private:
    int fd_;
    bool active_ = false;
    std::string error_;
    termios saved_{};
};

}  // namespace ostrel::headless

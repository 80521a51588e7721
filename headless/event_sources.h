#pragma once
// What the headless event loop polls besides its notices: the termination
// signals as an fd, and standard input cut into lines.

#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace ostrel::headless {

// Blocks SIGINT, SIGTERM and SIGHUP (the terminal went away) in the calling
// thread, so that every thread started afterwards has them blocked too, and
// reads them from a signalfd.
// Construct it before any thread starts. The destructor takes signals still
// pending and restores the previous mask.
class TerminationSignals {
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    int fd() const { return fd_.get(); }
    // The number of one pending signal, 0 when none is pending.
    int take();

private:
    sigset_t previous_{};
    platform::UniqueFd fd_;
};

// Cuts a byte stream into lines at '\n'. The '\n' is not part of a line; a
// '\r' before it is kept (it is data the operator may mean to send).
class LineSplitter {
public:
    std::vector<std::string> feed(std::string_view bytes);
    // At the end of input: the last line when it had no '\n'.
    std::optional<std::string> finish();

private:
    std::string partial_;
};

}  // namespace ostrel::headless

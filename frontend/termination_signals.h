#pragma once
// The termination signals as an fd, for the event loops of both front ends.

#include <csignal>

#include "platform/unique_fd.h"

namespace ostrel::frontend {

// Blocks SIGINT, SIGTERM, SIGQUIT and SIGHUP (the terminal went away) in the calling
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

}  // namespace ostrel::frontend

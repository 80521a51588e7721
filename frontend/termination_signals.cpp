#include "frontend/termination_signals.h"

#include <pthread.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/posix_io.h"

namespace ostrel::frontend {

TerminationSignals::TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGQUIT);  // Ctrl-\ asks to stop as Ctrl-C does, without a core dump
    if (int error = pthread_sigmask(SIG_BLOCK, &set, &previous_); error != 0)
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    fd_.reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!fd_.valid()) {
        const int error = errno;
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        throw std::system_error(error, std::generic_category(), "signalfd");
    }
}

TerminationSignals::~TerminationSignals() {
    // A signal that came while we were shutting down has been answered
    // already: take it, so that restoring the mask does not deliver it.
    while (take() != 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int TerminationSignals::take() {
    signalfd_siginfo info{};
    const platform::Result<std::size_t> n =
        platform::io::readSome(fd_.get(), {reinterpret_cast<std::uint8_t*>(&info), sizeof info});
    return n && n.value() == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
}

}  // namespace ostrel::frontend

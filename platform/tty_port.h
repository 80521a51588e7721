#pragma once
// One serial port, opened exclusively. Threading: configure(), purge() and the
// destructor run on the thread that owns the port while no other thread uses
// it; wait(), read() and takeCountedLineErrors() are called by the port's
// receive thread only; writes go through a Transmitter (transmitter.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/line_settings.h"
#include "platform/modem_lines.h"
#include "platform/parmrk_decoder.h"
#include "platform/saved_termios.h"
#include "platform/sys_error.h"
#include "platform/unique_fd.h"
#include "platform/uucp_lock.h"

namespace ostrel::platform {

struct ReadOutcome {
    std::size_t count = 0;   // data bytes placed in the buffer (escaping undone)
    bool lineError = false;  // a byte of this read came with a framing/parity error or a break
    bool hungUp = false;     // the device or the other end went away (read 0, EIO)
};

class RemoteLine;

class TtyPort {
public:
    // Opens a device path: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, refuses
    // non-ttys, flock(LOCK_EX|LOCK_NB) then TIOCEXCL. Raw mode is set, DTR and
    // RTS are dropped, and pending input and output are flushed. The termios
    // the device had is put back when the port closes. An exclusive flag that
    // a process left when it ended (nobody holds the device) is cleared where
    // the open gets past it (root). A UUCP lock file is honoured and made in
    // `lockDirectory` (see uucp_lock.h) and removed when the port closes.
    // Busy errors name the holder where /proc shows it.
    static Result<TtyPort> open(const std::string& path,
                                const std::string& lockDirectory = kDefaultLockDirectory);
    // Checks that `path` could be opened as a port now (a tty that nobody
    // holds exclusively, no live UUCP lock) without changing anything on it:
    // no settings, no modem lines, no flush, no lock file. The device is
    // closed again before returning.
    static Status probe(const std::string& path, const std::string& lockDirectory = kDefaultLockDirectory);
    // Takes an fd that the caller already holds exclusively (the master of a
    // virtual port). `lease` is released when the port closes. Line settings on
    // such a port are accepted and mean nothing; it never reports line errors.
    static Result<TtyPort> adopt(UniqueFd fd, std::string name, std::shared_ptr<void> lease);
    // Opens the port on another machine that `url` names (remote_url.h),
    // waiting at most `waitMs` for the connection and the server's answers.
    // The port reads and writes like a tty: fd() is the local end of the
    // line, configure() applies the settings at the far machine and reports
    // the ones its server did not take, line errors and modem lines are the
    // ones the server notifies, and the far side closing is a hang-up.
    static Result<TtyPort> openRemote(const std::string& url, int waitMs);

    TtyPort(TtyPort&&) noexcept;
    TtyPort& operator=(TtyPort&&) noexcept;
    ~TtyPort();  // the termios found at open put back, TIOCNXCL, then close

    // Applies the settings (termios2 with BOTHER for the rate). Returns one
    // phrase per setting that could not be applied exactly, for example
    // "1.5 stop bits not supported here, using 2". Empty when all applied.
    // On a pseudo-terminal nothing is reported. On an adopted port (a virtual
    // port's master) nothing is changed: the master shares the termios of the
    // slave that the other program reads.
    std::vector<std::string> configure(const LineSettings& settings);

    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    bool isPseudoTerminal() const { return pseudo_; }
    // The modem status lines (TIOCMGET, or what a remote port's server
    // notified); empty when the port reports none.
    std::optional<ModemLines> modemLines() const;

    enum WaitFlag : unsigned { Readable = 1u, HangUp = 2u, Woken = 4u, TimedOut = 8u };
    // poll() on the port (POLLIN only when wantRead) and on wakeFd (-1: none),
    // at most timeoutMs. Returns a set of WaitFlag bits. EINTR is retried.
    //  - Woken: wakeFd is readable. wait() does not drain it; the caller calls
    //    WakeFd::drain() (before looking at whatever it was woken for).
    //  - HangUp: POLLHUP, POLLERR or POLLNVAL on the port. It is reported even
    //    when wantRead is false, and it is level-triggered: every later wait()
    //    returns at once. After HangUp the caller reads what is still pending
    //    (read() until it reports hungUp or gives 0 bytes) and then stops
    //    waiting on this port; waiting again would spin.
    unsigned wait(int wakeFd, bool wantRead, int timeoutMs) const;

    // Non-blocking read of at most out.size() raw bytes; undoes the PARMRK
    // escaping (state kept across calls). EAGAIN gives count 0. A read of 0
    // bytes, EIO or any other error gives hungUp: the port is no longer usable.
    ReadOutcome read(std::span<std::uint8_t> out);

    // True when the driver's error counters (TIOCGICOUNT: frame, parity,
    // overrun, break) grew since the previous call or the open. Always false
    // where the driver has no counters (pseudo-terminals).
    bool takeCountedLineErrors();

    // Discards pending input and output (tcflush TCIOFLUSH; on a
    // pseudo-terminal input only, since its output is already in the other
    // end's input) and takes a new error-counter baseline.
    void purge();

private:
    TtyPort() = default;
    UniqueFd fd_;
    std::string path_;
    bool pseudo_ = false;
    bool decodeMarks_ = false;
    ParmrkDecoder decoder_;
    struct Counters {
        int frame = 0, parity = 0, overrun = 0, brk = 0, bufOverrun = 0;
        bool operator==(const Counters&) const = default;
    } counters_;
    bool haveCounters_ = false;
    bool exclusive_ = false;      // opened by path: TIOCEXCL is ours to clear
    bool rs485Enabled_ = false;   // RS-485 mode switched on by configure()
    detail::SavedTermios found_;  // the termios before open() changed it
    std::shared_ptr<void> lease_;
    UucpLock uucpLock_;                   // empty for adopted ports and without a lock folder
    std::unique_ptr<RemoteLine> remote_;  // set for a port on another machine

    void closeFd() noexcept;
    void takeCounterBaseline();
    Result<Counters> readCounters() const;
};

}  // namespace ostrel::platform

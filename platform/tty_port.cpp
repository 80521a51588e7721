#include "platform/tty_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/line_notes.h"
#include "platform/port_holders.h"
#include "platform/posix_io.h"
#include "platform/pty_pair.h"
#include "platform/remote_line.h"
#include "platform/termios2_config.h"

namespace ostrel::platform {

namespace {

// Unix98 slaves have majors 136..143, the old BSD ptys 2 and 3; a master
// answers TIOCGPTN.
bool detectPseudoTerminal(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode)) {
        const unsigned deviceMajor = major(info.st_rdev);
        if ((deviceMajor >= 136 && deviceMajor <= 143) || deviceMajor == 2 || deviceMajor == 3) return true;
    }
    unsigned int number = 0;
    return io::ioctl(fd, TIOCGPTN, &number).ok();
}

// Modem lines: ptys answer ENOTTY, which is not a failure.
void clearModemLines(int fd, int lines) {
    (void)io::ioctl(fd, TIOCMBIC, &lines);
}

// Why a device that the kernel or the flock refused is busy: who holds it,
// or, when nobody does, that its exclusive flag outlived the process that
// set it.
SysError busyError(std::string op, const std::string& path, int code, std::uint64_t device, int ownFd) {
    const HolderScan scan = findDeviceHolders(device, ownFd);
    // The far end of a pty pair is named only when nobody else holds the port.
    std::string detail = holderWords(!scan.holders.empty() ? scan.holders : scan.pairOwners);
    if (!scan.anyone() && code == EBUSY) {
        detail = scan.complete
                     ? "exclusive flag left by a process that has ended"
                     : "exclusive flag left by a process that has ended or that this user cannot see";
    }
    return SysError{std::move(op), path, code, std::move(detail)};
}

// Opens a tty device and takes its flock, refusing non-ttys and devices that
// another program holds (flock stops every program that locks, root
// included; root gets past another holder's TIOCEXCL, so the flag is asked
// for as well). An exclusive flag that no process holds any more is stale:
// with `clearStale` it is cleared, otherwise the device counts as free.
// Nothing else on the device is changed.
Result<UniqueFd> openLockedTty(const std::string& path, bool clearStale) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        SysError error = lastError("open", path);
        if (error.code != EBUSY) return error;
        const std::optional<std::uint64_t> device = characterDevice(path);
        if (!device) return error;
        return busyError("open", path, EBUSY, *device, -1);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return lastError("fstat", path);
    if (!S_ISCHR(info.st_mode) || !::isatty(fd.get())) return SysError{"open", path, ENOTTY};
    if (Status locked = io::lockExclusive(fd.get()); !locked)
        return busyError("flock", path, locked.error().code, info.st_rdev, fd.get());
    int exclusive = 0;
    if (io::ioctl(fd.get(), TIOCGEXCL, &exclusive) && exclusive != 0) {
        // This open got past the flag, so it may clear it (CAP_SYS_ADMIN).
        const HolderScan scan = findDeviceHolders(info.st_rdev, fd.get());
        if (scan.anyone() || !scan.complete) return busyError("open", path, EBUSY, info.st_rdev, fd.get());
        if (clearStale) {
            if (Result<int> cleared = io::ioctl(fd.get(), TIOCNXCL); !cleared)
                return SysError{"TIOCNXCL", path, cleared.error().code};
        }
    }
    return fd;
}

}  // namespace

Result<TtyPort> TtyPort::open(const std::string& path, const std::string& lockDirectory) {
    Result<UniqueFd> locked = openLockedTty(path, true);
    if (!locked) return locked.error();
    UniqueFd fd = std::move(locked).value();
    // Programs that keep to UUCP lock files alone are kept out by one.
    Result<UucpLock> uucpLock = UucpLock::acquire(path, lockDirectory);
    if (!uucpLock) return uucpLock.error();
    // TIOCEXCL makes open() itself fail for the programs that do not flock
    // and lack CAP_SYS_ADMIN.
    if (Result<int> set = io::ioctl(fd.get(), TIOCEXCL); !set)
        return SysError{"TIOCEXCL", path, set.error().code};

    TtyPort port;  // from here on its destructor undoes TIOCEXCL
    port.fd_ = std::move(fd);
    port.uucpLock_ = std::move(uucpLock).value();
    port.path_ = path;
    port.exclusive_ = true;
    port.pseudo_ = detectPseudoTerminal(port.fd_.get());

    // The tty may have been left cooked, echoing or with flow control on.
    port.found_ = detail::saveTermios(port.fd_.get());
    if (Status raw = setRawMode(port.fd_.get()); !raw) return SysError{"tcsetattr", path, raw.error().code};
    Result<bool> marking = detail::enableErrorMarks(port.fd_.get());
    if (!marking) return SysError{"TCSETS2", path, marking.error().code};
    port.decodeMarks_ = marking.value();
    // Linux raises DTR and RTS on open; they are held off.
    if (!port.pseudo_) clearModemLines(port.fd_.get(), TIOCM_DTR | TIOCM_RTS);
    if (Status flushed = io::flushInputOutput(port.fd_.get()); !flushed) {
        return SysError{"tcflush", path, flushed.error().code};
    }
    port.takeCounterBaseline();
    return port;
}

Status TtyPort::probe(const std::string& path, const std::string& lockDirectory) {
    Result<UniqueFd> locked = openLockedTty(path, false);
    if (!locked) return locked.error();
    return UucpLock::check(path, lockDirectory);  // closing the fd releases the flock
}

Result<TtyPort> TtyPort::adopt(UniqueFd fd, std::string name, std::shared_ptr<void> lease) {
    if (!fd.valid()) return SysError{"adopt", std::move(name), EBADF};
    if (!::isatty(fd.get())) return SysError{"adopt", std::move(name), ENOTTY};
    TtyPort port;
    port.pseudo_ = detectPseudoTerminal(fd.get());
    port.fd_ = std::move(fd);
    port.path_ = std::move(name);
    port.lease_ = std::move(lease);
    port.takeCounterBaseline();
    return port;
}

Result<TtyPort> TtyPort::openRemote(const std::string& url, int waitMs) {
    Result<RemoteLine::Opened> opened = RemoteLine::open(url, waitMs);
    if (!opened) return opened.error();
    TtyPort port;
    port.fd_ = std::move(opened.value().engineFd);
    port.remote_ = std::move(opened.value().line);
    port.path_ = url;
    return port;
}

TtyPort::TtyPort(TtyPort&& other) noexcept = default;

TtyPort& TtyPort::operator=(TtyPort&& other) noexcept {
    if (this != &other) {
        closeFd();
        fd_ = std::move(other.fd_);
        path_ = std::move(other.path_);
        pseudo_ = other.pseudo_;
        decodeMarks_ = other.decodeMarks_;
        decoder_ = other.decoder_;
        counters_ = other.counters_;
        haveCounters_ = other.haveCounters_;
        exclusive_ = std::exchange(other.exclusive_, false);
        uucpLock_ = std::move(other.uucpLock_);
        rs485Enabled_ = std::exchange(other.rs485Enabled_, false);
        found_ = std::exchange(other.found_, {});
        lease_ = std::move(other.lease_);
        remote_ = std::move(other.remote_);
    }
    return *this;
}

TtyPort::~TtyPort() {
    closeFd();
}

void TtyPort::closeFd() noexcept {
    remote_.reset();  // its relay thread ends before the fd it serves closes
    if (fd_.valid()) {
        if (rs485Enabled_) {
            serial_rs485 rs485{};
            (void)io::ioctl(fd_.get(), TIOCSRS485, &rs485);
            rs485Enabled_ = false;
        }
        detail::restoreTermios(fd_.get(), found_);
        found_.valid = false;
        // The exclusive flag outlives the fd that set it: clear it first.
        if (exclusive_) (void)io::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();  // also releases the flock
    }
    uucpLock_ = UucpLock{};  // after the fd, like the flock
    exclusive_ = false;
    // The lease goes after the fd, so a new open never overlaps this one.
    lease_.reset();
}

Result<TtyPort::Counters> TtyPort::readCounters() const {
    serial_icounter_struct icount{};
    if (Result<int> read = io::ioctl(fd_.get(), TIOCGICOUNT, &icount); !read) return read.error();
    return Counters{icount.frame, icount.parity, icount.overrun, icount.brk, icount.buf_overrun};
}

void TtyPort::takeCounterBaseline() {
    const Result<Counters> now = readCounters();
    haveCounters_ = now.ok();
    if (now) counters_ = now.value();
}

std::vector<std::string> TtyPort::configure(const LineSettings& settings) {
    if (remote_) return remote_->configure(settings);
    std::vector<std::string> notes;
    if (!fd_.valid() || !exclusive_) return notes;  // adopted: settings mean nothing
    const bool report = !pseudo_;

    detail::LineRequest request;
    request.baud = settings.baud;
    request.dataBits = settings.dataBits == 7 ? 7 : 8;
    request.parity = settings.parity <= 4 ? settings.parity : 0;
    request.twoStopBits = settings.stopBits == 1 || settings.stopBits == 2;
    request.rtsCts = settings.flow == 1;
    request.xonXoff = settings.flow == 2;

    // Under the RTS/CTS handshake RTS means "ready to receive": the driver
    // lowers it while its buffer is full and raises it again, but only from
    // raised, and the open dropped it. Left low, a peer that keeps to the
    // handshake would never send. It goes up before the handshake is
    // switched on, when the driver takes CTS as it finds it.
    if (request.rtsCts && !pseudo_) {
        int rts = TIOCM_RTS;
        (void)io::ioctl(fd_.get(), TIOCMBIS, &rts);
    }
    detail::LineReadBack back;
    if (Status applied = detail::applyLineSettings(fd_.get(), request, back); !applied) {
        decodeMarks_ = false;
        if (report) {
            notes.push_back("line settings not applied (" +
                            SysError{"", "", applied.error().code}.describe() + ")");
        }
        return notes;
    }
    if (back.parityMarks != decodeMarks_) decoder_.reset();
    decodeMarks_ = back.parityMarks;

    // RS-485 mode lets the driver raise RTS around each send.
    bool rtsToggle = false;
    if (request.rtsCts && !pseudo_) {
        serial_rs485 rs485{};
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        // The driver writes back what it accepted.
        rtsToggle = io::ioctl(fd_.get(), TIOCSRS485, &rs485).ok() && (rs485.flags & SER_RS485_ENABLED) &&
                    (rs485.flags & SER_RS485_RTS_ON_SEND);
        rs485Enabled_ = rtsToggle;
    } else if (rs485Enabled_) {
        serial_rs485 rs485{};
        if (io::ioctl(fd_.get(), TIOCSRS485, &rs485)) rs485Enabled_ = false;
    }
    if (!pseudo_) {
        // DTR stays off in every mode; RTS too unless a handshake drives it.
        clearModemLines(fd_.get(), request.rtsCts ? TIOCM_DTR : TIOCM_DTR | TIOCM_RTS);
    }
    if (!report) return notes;
    return detail::lineSettingNotes(settings, back, rtsToggle);
}

unsigned TtyPort::wait(int wakeFd, bool wantRead, int timeoutMs) const {
    pollfd fds[2] = {{fd_.get(), static_cast<short>(wantRead ? POLLIN : 0), 0}, {wakeFd, POLLIN, 0}};
    const Result<int> ready = io::poll(fds, 2, timeoutMs);
    if (!ready) return HangUp;  // only EINVAL/ENOMEM remain: treat the port as unusable
    if (ready.value() == 0) return TimedOut;
    unsigned flags = 0;
    if (fds[0].revents & POLLIN) flags |= Readable;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) flags |= HangUp;
    if (fds[1].revents & POLLIN) flags |= Woken;
    return flags;
}

ReadOutcome TtyPort::read(std::span<std::uint8_t> out) {
    ReadOutcome outcome;
    if (out.empty()) return outcome;
    // A pending FF from the previous read may turn out to be a lone one,
    // which needs one byte of room ahead of the new input.
    const std::size_t offset = decodeMarks_ && decoder_.pendingEscape() && out.size() > 1 ? 1 : 0;
    const std::span<std::uint8_t> raw = out.subspan(offset);
    const Result<std::size_t> n = io::readSome(fd_.get(), raw);
    if (!n) {
        if (n.error().code != EAGAIN) outcome.hungUp = true;
        return outcome;
    }
    if (n.value() == 0) {
        outcome.hungUp = true;  // VMIN is 1: an empty non-blocking read gives EAGAIN, 0 only at hang-up
        return outcome;
    }
    const std::size_t count = n.value();
    if (!decodeMarks_) {
        outcome.count = count;
        return outcome;
    }
    const ParmrkDecoder::Result decoded = decoder_.decode(raw.first(count), out);
    outcome.count = decoded.count;
    outcome.lineError = decoded.lineError;
    return outcome;
}

std::optional<ModemLines> TtyPort::modemLines() const {
    if (remote_) return remote_->modemLines();
    return readModemLines(fd_.get());
}

bool TtyPort::takeCountedLineErrors() {
    if (remote_) return remote_->takeLineErrors();
    if (!haveCounters_) return false;
    const Result<Counters> now = readCounters();
    if (!now) {
        if (now.error().code == ENOTTY || now.error().code == EINVAL) haveCounters_ = false;
        return false;
    }
    const bool grew = now.value() != counters_;
    counters_ = now.value();
    return grew;
}

void TtyPort::purge() {
    if (!fd_.valid()) return;
    if (remote_) {
        remote_->purge();
        std::uint8_t discard[4096];
        for (;;) {
            const Result<std::size_t> n = io::readSome(fd_.get(), discard);
            if (!n || n.value() == 0) break;
        }
        return;
    }
    if (pseudo_) {
        // A pseudo-terminal has no transmitter: what was written already waits
        // in the other end's input, and an output flush would discard it there.
        (void)io::flushInput(fd_.get());
    } else {
        (void)io::flushInputOutput(fd_.get());
    }
    decoder_.reset();
    takeCounterBaseline();
}

}  // namespace ostrel::platform

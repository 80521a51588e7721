#include "uart_loopback.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "uart_termios2.h"

namespace ostrel::uart::test {

namespace {

constexpr const char* kPrintk = "/proc/sys/kernel/printk";
constexpr int kLoopBit = 0x8000;  // TIOCM_LOOP
constexpr int kFatalSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTERM, SIGINT, SIGHUP};

// What the signal handler needs, set while a loopback is armed. Plain
// values only: the handler may use nothing else.
struct SavedState {
    int fd = -1;
    SavedTermios2 termios;
    int modemLines = 0;  // DTR and RTS as found
    char printk[32] = {};
    std::size_t printkLength = 0;
};
SavedState saved;
struct sigaction previous[std::size(kFatalSignals)];

// Async-signal-safe: ioctl, open, write, close.
void undo() {
    if (saved.fd < 0) return;
    int loop = kLoopBit;
    ::ioctl(saved.fd, TIOCMBIC, &loop);
    ::ioctl(saved.fd, TCFLSH, TCIOFLUSH);
    int lines = saved.modemLines & (TIOCM_DTR | TIOCM_RTS);
    int off = (TIOCM_DTR | TIOCM_RTS) & ~lines;
    if (lines != 0) ::ioctl(saved.fd, TIOCMBIS, &lines);
    if (off != 0) ::ioctl(saved.fd, TIOCMBIC, &off);
    restoreTermios2(saved.fd, saved.termios);
    // A port under test that a signal ended left its exclusive flag.
    ::ioctl(saved.fd, TIOCNXCL);
    if (saved.printkLength > 0) {
        const int printk = ::open(kPrintk, O_WRONLY | O_CLOEXEC);
        if (printk >= 0) {
            (void)!::write(printk, saved.printk, saved.printkLength);
            ::close(printk);
        }
    }
    saved.fd = -1;
}

void onFatalSignal(int signo) {
    undo();
    ::signal(signo, SIG_DFL);
    ::raise(signo);
}

std::string errorText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::string uartPath() {
    const char* chosen = std::getenv("OSTREL_TEST_UART");
    return chosen != nullptr && *chosen != '\0' ? chosen : "/dev/ttyS0";
}

int modemBits(int fd) {
    int bits = 0;
    return ::ioctl(fd, TIOCMGET, &bits) == 0 ? bits : -1;
}

UartLoopback::UartLoopback() {
    setUp();
}

void UartLoopback::setUp() {
    const std::string path = uartPath();
    if (::access(path.c_str(), F_OK) != 0) {
        skipReason_ = path + " is absent on this machine";
        return;
    }
    // One test at a time, across processes too.
    lock_.reset(::open("/tmp/ostrel-uart-test.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock_.valid()) {
        skipReason_ = errorText("cannot make the UART tests' lock file");
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            skipReason_ = "another test held the UART for two minutes";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    fd_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.valid()) {
        skipReason_ = errorText(std::string("cannot open ") + path +
                                (errno == EACCES ? " (the UART tests need root or the dialout group)" : ""));
        return;
    }
    const int lines = modemBits(fd_.get());
    saved.termios = saveTermios2(fd_.get());
    if (lines < 0 || !saved.termios.valid) {
        skipReason_ = errorText(path + " reports no modem lines or termios");
        return;
    }
    saved.modemLines = lines;
    saved.printkLength = 0;
    if (platform::UniqueFd printk(::open(kPrintk, O_RDONLY | O_CLOEXEC)); printk.valid()) {
        const ssize_t n = ::read(printk.get(), saved.printk, sizeof saved.printk - 1);
        // Only the first number (the console's level) is written back.
        std::size_t length = 0;
        while (n > 0 && length < static_cast<std::size_t>(n) && saved.printk[length] >= '0' &&
               saved.printk[length] <= '9')
            ++length;
        saved.printkLength = length;
    }
    saved.fd = fd_.get();
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        ::sigaction(kFatalSignals[i], &action, &previous[i]);
    armed_ = true;

    // Quiet the console: only emergencies while the loop is on.
    if (saved.printkLength > 0) {
        if (platform::UniqueFd printk(::open(kPrintk, O_WRONLY | O_CLOEXEC)); printk.valid())
            (void)!::write(printk.get(), "1", 1);
    }

    int loop = kLoopBit;
    if (::ioctl(fd_.get(), TIOCMBIS, &loop) != 0 || !(modemBits(fd_.get()) & kLoopBit)) {
        skipReason_ = path + " has no loopback mode (TIOCM_LOOP not taken)";
        return;
    }
    // Does it really loop? A probe goes out and must come back.
    if (!setPlainRaw(fd_.get()) || ::ioctl(fd_.get(), TCFLSH, TCIOFLUSH) != 0) {
        skipReason_ = errorText(std::string("cannot set ") + path + " raw");
        return;
    }
    const char probe[] = "uart-loop-probe";
    const std::size_t probeLength = sizeof probe - 1;
    if (::write(fd_.get(), probe, probeLength) != static_cast<ssize_t>(probeLength)) {
        skipReason_ = errorText(std::string("cannot write to ") + path);
        return;
    }
    std::string got;
    const auto readDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (got.size() < probeLength && std::chrono::steady_clock::now() < readDeadline) {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buffer[64];
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    if (got != std::string(probe, probeLength)) {
        skipReason_ = path + " does not loop back (sent \"" + probe + "\", got " +
                      std::to_string(got.size()) + " bytes)";
        return;
    }
    ::ioctl(fd_.get(), TCFLSH, TCIOFLUSH);
}

UartLoopback::~UartLoopback() {
    if (armed_) {
        undo();
        for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
            ::sigaction(kFatalSignals[i], &previous[i], nullptr);
    }
}

}  // namespace ostrel::uart::test

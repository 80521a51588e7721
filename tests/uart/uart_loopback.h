#pragma once
// A UART (/dev/ttyS0) held for one test with the UART's internal loopback on (its
// transmitter wired to its own receiver, TIOCM_LOOP), so that a real 8250
// driver can be tested without a cable.
//
// Only one test at a time uses the port: a lock file in /tmp is held for the
// test's life (and CTest runs these tests under one RESOURCE_LOCK). The
// port's termios, its DTR and RTS and the console's log level are saved
// first and put back, and the loop switched off, on every way out: the
// destructor, and a fatal signal (abort, a crash, a termination request),
// whose handler does the same before the signal takes its course.
// /dev/ttyS0 is the kernel's console on the machines this runs on: kernel
// messages would loop back as received data, so the console's level is
// lowered to emergencies only while the loop is on.
//
// When the port is absent, cannot be opened, or does not loop back, ready()
// is false and skipReason() says why.

#include <string>

#include "platform/unique_fd.h"

namespace ostrel::uart::test {

// /dev/ttyS0, or the device that OSTREL_TEST_UART names (another UART that
// has a loopback mode).
std::string uartPath();

class UartLoopback {
public:
    UartLoopback();
    ~UartLoopback();
    UartLoopback(const UartLoopback&) = delete;
    UartLoopback& operator=(const UartLoopback&) = delete;

    bool ready() const { return skipReason_.empty(); }
    const std::string& skipReason() const { return skipReason_; }
    // The test's own descriptor of the port (not locked, so that the port
    // under test can still take its flock): for modem lines and counters.
    int fd() const { return fd_.get(); }

private:
    void setUp();
    std::string skipReason_;
    platform::UniqueFd lock_;
    platform::UniqueFd fd_;
    bool armed_ = false;  // state saved and the loop on: undo at the end
};

// The modem lines TIOCMGET reports (TIOCM_* bits); -1 when it fails.
int modemBits(int fd);

}  // namespace ostrel::uart::test

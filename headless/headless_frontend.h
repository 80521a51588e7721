#pragma once
// The headless front end: runs one session without a window and writes the
// traffic window's text to an output fd, byte for byte, status lines included.
//
// RunHeadless runs on the calling thread, which plays the main window's UI
// thread: it opens the session as Open COM does, runs the sends, and then
// waits in poll() for SIGINT/SIGTERM/SIGHUP (signalfd), the end of
// --duration, posted notices (receive exit, output failure) and, with
// --send-stdin, standard input. The three signals are blocked while it runs,
// in every thread it starts. Returns the exit code (options.h).

#include <string>
#include <string_view>
#include <vector>

#include "frontend/options.h"
#include "frontend/port_setup.h"

namespace ostrel::headless {

struct RunIo {
    int out = 1;  // the traffic window's text
    int err = 2;  // one-line reasons for the operator
    int in = 0;   // lines to send with --send-stdin
};

int RunHeadless(const frontend::Options& options, const RunIo& io = {},
                const frontend::PortEnvironment& environment = {});

struct ListPortsDetails {
    int errFd = 2;  // "no serial ports found" when there are none
    bool json = false;
    std::vector<platform::SerialDevice> devices;  // what discovery found: by-id names, driver, USB
};

// --list-ports: one line per mapped port that opens or is busy, in ascending
// COM order (frontend/port_list.h), or the same as a JSON array.
int ListPorts(const platform::PortMap& ports, int outFd, const ListPortsDetails& details = {});

}  // namespace ostrel::headless

#pragma once
// The modem status lines of a port (TIOCMGET): CTS, DSR, DCD and RI as the
// driver reports them. A pseudo-terminal has no such lines (ENOTTY).

#include <optional>

namespace ostrel::platform {

struct ModemLines {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
};

// The lines of the port open on `fd`; empty when the port reports none.
std::optional<ModemLines> readModemLines(int fd);

}  // namespace ostrel::platform

#pragma once
// The application module: brackets the process's run of the window front
// end and holds what the command line asks of it after the window closes.
// There is no COM here, so the initialisation cannot fail and the -1 exit
// path does not exist; registration means the user's desktop entry.

#include <string>

#include "window/desktop_entry.h"
#include "window/registration_switch.h"

namespace ostrel::window {

class CostrelModule {
public:
    // Parses the whole command line (program path included) for the switch.
    explicit CostrelModule(const std::string& commandLine);

    // After the main window is gone: handles the switch, if any, and returns
    // the exit code (0 when there is none or it succeeded).
    RegistrationOutcome RunSwitch(const std::string& entryDirectory, const std::string& executable) const;

private:
    RegistrationSwitch registration_;
};

}  // namespace ostrel::window

#pragma once
// "RegServer" and "UnregServer" on a Linux desktop: a freedesktop .desktop
// entry for the user that carries the program's AppID, written or removed
// after the main window has closed. The outcome is the process exit code.

#include <string>
#include <string_view>

#include "window/registration_switch.h"

namespace ostrel::window {

inline constexpr std::string_view kAppId = "{D43054EE-D6CE-475F-88CD-2A283E9E3649}";
inline constexpr std::string_view kDesktopFileName = "ostrel.desktop";

struct RegistrationOutcome {
    int exitCode = 0;     // 0 success, 1 failure
    std::string message;  // one line for the operator; empty on success
};

// $XDG_DATA_HOME/applications when that is an absolute path, else
// $HOME/.local/share/applications; empty when neither is known.
std::string DesktopEntryDirectory(const char* xdgDataHome, const char* home);
// The same, from the process environment.
std::string DesktopEntryDirectory();

// The entry's text, launching `executable`.
std::string DesktopEntryText(std::string_view executable);

// Writes <directory>/ostrel.desktop (replacing an earlier one of ours).
RegistrationOutcome RegisterDesktopEntry(const std::string& directory, const std::string& executable);
// Removes <directory>/ostrel.desktop when it carries our AppID. No entry is
// success; an entry of someone else's is left alone and reported.
RegistrationOutcome UnregisterDesktopEntry(const std::string& directory);

// The running program's path (/proc/self/exe), or `fallback` when unknown.
std::string CurrentExecutable(const std::string& fallback);

// Handles one switch with the entry directory and program path given.
RegistrationOutcome HandleRegistrationSwitch(RegistrationSwitch which, const std::string& directory,
                                             const std::string& executable);

}  // namespace ostrel::window

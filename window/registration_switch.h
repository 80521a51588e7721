#pragma once
// The registration switches of the window front end: the first "-" or "/" in
// the whole command line (program path included) that is followed by the
// word "UnregServer" or "RegServer" in any case, the word ending at the end of
// the text, a blank or a tab. A "-" or "/" followed by anything else is
// skipped and the search goes on from the next character, so a path such as
// "/usr/bin/ostrel" or an option such as "--demo" is passed over.

#include <string>
#include <string_view>

#include "frontend/options.h"

namespace ostrel::window {

using frontend::RegistrationSwitch;

RegistrationSwitch ParseRegistrationSwitch(std::string_view commandLine);

// The command line as one text: the arguments joined by single blanks.
std::string JoinCommandLine(int argc, const char* const argv[]);

}  // namespace ostrel::window

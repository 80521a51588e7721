#pragma once
// The traffic window's text made safe for a terminal. The line's bytes may
// hold escape sequences that a terminal would act on (move the cursor, change
// the title, ...); the window shows them, the operator's terminal must not
// run them. Files and pipes get the exact bytes instead (the front end only
// filters when standard output is a terminal).

#include <string>
#include <string_view>

namespace ostrel::headless {

// CR, LF, TAB and the printable ASCII characters pass unchanged. With a
// UTF-8 terminal, the other C0 controls become their control pictures
// (U+2400 to U+241F), DEL becomes U+2421, the C1 controls (0x80-0x9F) ".",
// and the other Latin-1 bytes their characters in UTF-8. Without UTF-8 all
// of these become ".".
std::string ForTerminal(std::string_view text, bool utf8);

// Whether the terminal's encoding, as the locale names it (LC_ALL, LC_CTYPE,
// LANG), is UTF-8. Leaves the program's own locale as it was.
bool LocaleIsUtf8();

}  // namespace ostrel::headless

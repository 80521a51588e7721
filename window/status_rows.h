#pragma once
// Lays the parts of the status bar ("Intercede", one part per open side, the
// capture) into rows of a given width: parts are joined by " | " while they
// fit, and the next part begins a new row where it does not. The last row
// takes whatever remains, so no part is dropped (the bar elides what still
// does not fit and shows the whole text as its tool tip).

#include <functional>
#include <string>
#include <vector>

namespace ostrel::window {

inline constexpr const char* kStatusSeparator = " | ";

// `measure` gives the width of a text in the same unit as `width`.
std::vector<std::string> StatusRows(const std::vector<std::string>& parts, int width, int maxRows,
                                    const std::function<int(const std::string&)>& measure);

// All parts on one line.
std::string StatusJoined(const std::vector<std::string>& parts);

}  // namespace ostrel::window

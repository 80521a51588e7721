#pragma once
// Text for the operator: help, the port list, one-line reasons.

#include <string_view>

namespace ostrel::frontend {

// Writes all of `message` to `fd`, blocking: for operator messages (standard
// error, the port list, help). Gives up when the fd takes nothing, since
// there is nowhere to report that.
void WriteText(int fd, std::string_view message);

}  // namespace ostrel::frontend

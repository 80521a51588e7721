#pragma once
// Whether a window system can be reached, checked without a toolkit (a
// toolkit that cannot reach its display ends the process): a Wayland socket
// in the runtime directory, or an X display whose local socket accepts a
// connection. A remote X display (host:n) is taken as reachable.

#include <string>

namespace ostrel::frontend {

// `display` is $DISPLAY, `waylandDisplay` $WAYLAND_DISPLAY, `runtimeDir`
// $XDG_RUNTIME_DIR; any of them may be null.
bool WindowSystemReachable(const char* display, const char* waylandDisplay, const char* runtimeDir,
                           const std::string& x11SocketDir = "/tmp/.X11-unix");
bool WindowSystemReachable();

}  // namespace ostrel::frontend

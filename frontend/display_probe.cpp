#include "frontend/display_probe.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/unique_fd.h"

namespace ostrel::frontend {

namespace {

// Connects to a Unix socket at `path`, in the abstract namespace when
// `abstract` (X servers on Linux listen there as well as on the file).
bool socketAccepts(const std::string& path, bool abstract) {
    sockaddr_un address{};
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + offset, path.c_str(), path.size() + 1);
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return false;
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

}  // namespace

bool WindowSystemReachable(const char* display, const char* waylandDisplay, const char* runtimeDir,
                           const std::string& x11SocketDir) {
    if (waylandDisplay && *waylandDisplay) {
        const std::string name(waylandDisplay);
        const std::string path =
            name.front() == '/' ? name : std::string(runtimeDir ? runtimeDir : "") + "/" + name;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return true;
    }
    if (!display || !*display) return false;
    const std::string text(display);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = text.substr(0, colon);
    if (!host.empty() && host != "unix" && host.rfind("/", 0) != 0)
        return true;  // remote: let the toolkit try
    std::string number = text.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::string path = x11SocketDir + "/X" + number;
    return socketAccepts(path, false) || socketAccepts(path, true);
}

bool WindowSystemReachable() {
    return WindowSystemReachable(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                 std::getenv("XDG_RUNTIME_DIR"));
}

}  // namespace ostrel::frontend

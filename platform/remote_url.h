#pragma once
// Ports on other machines, named by URL: "rfc2217://HOST:PORT" (a serial
// port server speaking the telnet COM port option) or "tcp://HOST:PORT" (raw
// bytes, no telnet). HOST may be a name, an IPv4 address or an IPv6 address
// in brackets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::platform {

struct RemoteUrl {
    enum class Kind { ComPortServer, RawTcp };
    Kind kind = Kind::ComPortServer;
    std::string host;
    std::uint16_t port = 0;
};

// True when `text` has the form "scheme://..." (a URL, well-formed or not):
// such a name is never a device path.
bool looksLikeUrl(std::string_view text);
// The URL's parts; empty when the scheme is unknown or HOST:PORT is malformed.
std::optional<RemoteUrl> parseRemoteUrl(std::string_view text);

}  // namespace ostrel::platform

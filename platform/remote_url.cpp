#include "platform/remote_url.h"

#include <charconv>

namespace ostrel::platform {

bool looksLikeUrl(std::string_view text) {
    const auto colon = text.find("://");
    if (colon == std::string_view::npos || colon == 0) return false;
    for (const char c : text.substr(0, colon)) {
        const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '+' || c == '-' || c == '.';
        if (!schemeChar) return false;
    }
    return true;
}

std::optional<RemoteUrl> parseRemoteUrl(std::string_view text) {
    RemoteUrl url;
    std::string_view rest;
    if (text.starts_with("rfc2217://")) {
        url.kind = RemoteUrl::Kind::ComPortServer;
        rest = text.substr(10);
    } else if (text.starts_with("tcp://")) {
        url.kind = RemoteUrl::Kind::RawTcp;
        rest = text.substr(6);
    } else {
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view host;
    std::string_view port;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) return std::nullopt;  // IPv6 needs brackets
    }
    if (host.empty() || port.empty() || host.find_first_of("/@ ") != std::string_view::npos)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc{} || end != port.data() + port.size() || value == 0 || value > 65535)
        return std::nullopt;
    url.host = std::string(host);
    url.port = static_cast<std::uint16_t>(value);
    return url;
}

}  // namespace ostrel::platform

#include "engine/status_text.h"

#include "platform/port_map.h"

namespace ostrel::engine::text {

std::string statusLine(std::string_view what) {
    std::string line = "\r\n*** ";
    line.append(what);
    line.append(" ***\r\n");
    return line;
}

std::string disconnected(int portNumber) {
    return statusLine(platform::comName(portNumber) + " disconnected");
}

std::string notDelivered(int portNumber, std::uint64_t count) {
    return statusLine(platform::comName(portNumber) + ": " + std::to_string(count) + " bytes not delivered");
}

std::string settingNote(int portNumber, std::string_view what) {
    return statusLine(platform::comName(portNumber) + ": " + std::string(what));
}

}  // namespace ostrel::engine::text

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

std::string frameText(const PortSettings& settings) {
    static constexpr char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    const char parity = settings.parity < sizeof kParity ? kParity[settings.parity] : '?';
    const char* stop = settings.stopBits == kTwoStopBits    ? "2"
                       : settings.stopBits == kOne5StopBits ? "1.5"
                                                            : "1";
    return std::to_string(settings.baudRate) + " " + std::to_string(settings.dataBits) + parity + stop;
}

}  // namespace ostrel::engine::text

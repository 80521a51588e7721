#include "engine/status_text.h"

namespace ostrel::engine::text {

std::string statusLine(std::string_view what) {
    std::string line = "\r\n*** ";
    line.append(what);
    line.append(" ***\r\n");
    return line;
}

std::string disconnected(int portNumber) {
    return statusLine("COM" + std::to_string(portNumber) + " disconnected");
}

std::string settingNote(int portNumber, std::string_view what) {
    return statusLine("COM" + std::to_string(portNumber) + ": " + std::string(what));
}

}  // namespace ostrel::engine::text

#include "engine/status_text.h"

namespace ostrel::engine::text {

std::string disconnected(int portNumber) {
    return "\r\n*** COM" + std::to_string(portNumber) + " disconnected ***\r\n";
}

std::string settingNote(int portNumber, std::string_view what) {
    std::string note = "\r\n*** COM" + std::to_string(portNumber) + ": ";
    note += what;
    note += " ***\r\n";
    return note;
}

}  // namespace ostrel::engine::text

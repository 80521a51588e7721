// The send box's text read as hexadecimal digit pairs.

#include "presentation/send_command.h"

namespace ostrel::presentation {

namespace {

// The value of a hexadecimal digit, or -1 for any other character.
int hexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) return (c & 0x0F) + 9;
    return -1;
}

}  // namespace

std::vector<std::uint8_t> ParseHexText(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2 + 1);
    bool highHalf = true;
    for (char ch : text) {
        const int value = hexDigitValue(static_cast<unsigned char>(ch));
        if (value < 0) continue;  // skipped; digits on either side still pair up
        if (highHalf) {
            bytes.push_back(static_cast<std::uint8_t>(value << 4));
        } else {
            bytes.back() = static_cast<std::uint8_t>(bytes.back() | value);
        }
        highHalf = !highHalf;
    }
    // A lone last high half is already in place with a zero low half.
    return bytes;
}

}  // namespace ostrel::presentation

// Fuzz target for the send box's hex parser and the traffic text forms.
// Invariants: one byte per two digits (rounded up), every non-digit ignored,
// five characters of hex text per byte, ASCII text free of zero bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/send_command.h"
#include "presentation/traffic_formatter.h"

namespace {

bool isHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ostrel::presentation;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string digits;
    for (char c : text) {
        if (isHexDigit(static_cast<unsigned char>(c))) digits.push_back(c);
    }
    const std::vector<std::uint8_t> bytes = ParseHexText(text);
    require(bytes.size() == (digits.size() + 1) / 2);
    // The digits alone parse to the same bytes: nothing else takes part.
    require(ParseHexText(digits) == bytes);

    const std::string hex = FormatHex(bytes);
    require(hex.size() == 5 * bytes.size());
    // Formatting then parsing gives the bytes back once the "0x" prefixes'
    // zeros are taken out: every token is "0x", two digits and a space.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::string token = hex.substr(5 * i, 5);
        require(token[0] == '0' && token[1] == 'x' && token[4] == ' ');
        require(ParseHexText(token.substr(2, 2)) == std::vector<std::uint8_t>{bytes[i]});
    }

    const std::span<const std::uint8_t> raw(data, size);
    const std::string ascii = FormatAscii(raw);
    std::size_t nonZero = 0;
    for (std::uint8_t b : raw) nonZero += b != 0 ? 1 : 0;
    require(ascii.size() == nonZero);
    require(ascii.find('\0') == std::string::npos);
    return 0;
}

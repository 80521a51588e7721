// Fuzz target for the decoder of --send texts (\r \n \t \0 \\ \xH \xHH).
// Invariants: the result equals a plain reference decoder's, byte for byte,
// with an error exactly where the reference finds a bad escape (and then no
// text); and any bytes written out as escapes decode back to themselves.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "frontend/options.h"
#include "fuzz_input.h"

namespace {

using ostrel::fuzz::require;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One character at a time, as the escapes are described; nullopt for a bad one.
std::optional<std::string> referenceDecode(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i == text.size()) return std::nullopt;
        const char kind = text[i++];
        if (kind == 'r') {
            out.push_back('\r');
        } else if (kind == 'n') {
            out.push_back('\n');
        } else if (kind == 't') {
            out.push_back('\t');
        } else if (kind == '0') {
            out.push_back('\0');
        } else if (kind == '\\') {
            out.push_back('\\');
        } else if (kind == 'x') {
            int value = 0, digits = 0;
            while (digits < 2 && i < text.size() && hexValue(text[i]) >= 0) {
                value = value * 16 + hexValue(text[i++]);
                ++digits;
            }
            if (digits == 0) return std::nullopt;
            out.push_back(static_cast<char>(value));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// Writes `bytes` as a --send text; `style` picks among the equivalent ways.
std::string encode(std::string_view bytes, ostrel::fuzz::FuzzInput& style) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool nextIsHexDigit = i + 1 < bytes.size() && hexValue(bytes[i + 1]) >= 0;
        const std::uint8_t choice = style.byte();
        if (byte == '\\') {
            text += (choice & 1) ? "\\\\" : "\\x5c";
        } else if (byte == '\r' && (choice & 2)) {
            text += "\\r";
        } else if (byte == '\n' && (choice & 2)) {
            text += "\\n";
        } else if (byte == '\t' && (choice & 2)) {
            text += "\\t";
        } else if (byte == 0 && (choice & 2)) {
            text += "\\0";
        } else if ((choice & 4) || byte >= 0x80 || byte < 0x20) {
            // One digit only where the next byte cannot be taken for a second.
            text += "\\x";
            if (byte >= 16 || nextIsHexDigit || (choice & 8)) {
                text += kDigits[byte >> 4];
                text +=
                    (choice & 16) ? static_cast<char>(std::toupper(kDigits[byte & 15])) : kDigits[byte & 15];
            } else {
                text += kDigits[byte];
            }
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using ostrel::frontend::DecodeEscapes;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const ostrel::frontend::DecodedText decoded = DecodeEscapes(text);
    const std::optional<std::string> expected = referenceDecode(text);
    if (expected) {
        require(decoded.error.empty(), "a good text was refused");
        require(decoded.text == *expected, "decoded text differs from the reference");
    } else {
        require(!decoded.error.empty(), "a bad escape was accepted");
        require(decoded.text.empty(), "a refused text still gave bytes");
    }

    // The input's bytes, written out as escapes in a way the input chooses,
    // come back unchanged.
    ostrel::fuzz::FuzzInput style(data, size);
    const std::string encoded = encode(text, style);
    const ostrel::frontend::DecodedText back = DecodeEscapes(encoded);
    require(back.error.empty(), "an encoded text was refused");
    require(back.text == text, "encoded bytes did not decode back");
    return 0;
}

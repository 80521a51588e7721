#include "headless/terminal_text.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace ostrel::headless {
namespace {

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string ForTerminal(std::string_view text, bool utf8) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n' || byte == '\t') {
            out += c;
        } else if (!utf8 || (byte >= 0x80 && byte < 0xA0)) {
            out += '.';
        } else if (byte < 0x20) {
            appendUtf8(out, 0x2400 + byte);
        } else if (byte == 0x7F) {
            appendUtf8(out, 0x2421);
        } else {
            appendUtf8(out, byte);  // Latin-1 is the first 256 code points
        }
    }
    return out;
}

bool LocaleIsUtf8() {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string previous = current ? current : "C";
    bool utf8 = false;
    if (std::setlocale(LC_CTYPE, "") != nullptr) {
        const char* codeset = ::nl_langinfo(CODESET);
        utf8 =
            codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    }
    std::setlocale(LC_CTYPE, previous.c_str());
    return utf8;
}

}  // namespace ostrel::headless

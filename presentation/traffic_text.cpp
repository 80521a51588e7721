// The text forms of traffic: hexadecimal tokens, Latin-1 text and the time
// stamp. Pure functions; each call builds its text in its own storage.

#include <cstddef>

#include "presentation/traffic_formatter.h"

namespace ostrel::presentation {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kHexTokenLength = 5;  // "0x41 "

bool inRange(int value, int low, int high) {
    return value >= low && value <= high;
}

// Writes `value` as `width` decimal digits, leading zeros kept.
void putDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

std::string FormatHex(std::span<const std::uint8_t> bytes) {
    std::string text(bytes.size() * kHexTokenLength, ' ');
    char* out = text.data();
    for (std::uint8_t byte : bytes) {
        out[0] = '0';
        out[1] = 'x';
        out[2] = kHexDigits[byte >> 4];
        out[3] = kHexDigits[byte & 0x0F];
        // out[4] stays the space behind every token, the last one included.
        out += kHexTokenLength;
    }
    return text;
}

std::string FormatAscii(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::uint8_t byte : bytes) {
        if (byte != 0) text.push_back(static_cast<char>(byte));
    }
    return text;
}

int FormatTimeStamp(char (&buffer)[16], const std::optional<platform::TimeOfDay>& now) {
    if (!now) return 1;
    const platform::TimeOfDay& t = *now;
    // A clock that gives an impossible time counts as no time at all.
    if (!inRange(t.hour, 0, 23) || !inRange(t.minute, 0, 59) || !inRange(t.second, 0, 60) ||
        !inRange(t.millis, 0, 999)) {
        return 1;
    }
    char stamp[16];
    stamp[0] = '[';
    putDigits(stamp + 1, t.hour, 2);
    stamp[3] = ':';
    putDigits(stamp + 4, t.minute, 2);
    stamp[6] = ':';
    putDigits(stamp + 7, t.second, 2);
    stamp[9] = ':';
    putDigits(stamp + 10, t.millis, 3);
    stamp[13] = ']';
    stamp[14] = '\0';
    stamp[15] = '\0';
    for (std::size_t i = 0; i < sizeof stamp; ++i) buffer[i] = stamp[i];
    return 1;
}

int FormatTimeStamp(char (&buffer)[kStampBufferSize], const std::optional<platform::TimeOfDay>& now,
                    engine::StampFormat format) {
    if (!now) return 1;
    const platform::TimeOfDay& t = *now;
    if (!inRange(t.hour, 0, 23) || !inRange(t.minute, 0, 59) || !inRange(t.second, 0, 60) ||
        !inRange(t.millis, 0, 999)) {
        return 1;
    }
    if (format == engine::StampFormat::Date &&
        (!inRange(t.year, 0, 9999) || !inRange(t.month, 1, 12) || !inRange(t.day, 1, 31))) {
        return 1;
    }
    if (format == engine::StampFormat::Micros && !inRange(t.micros, 0, 999'999)) return 1;
    char stamp[kStampBufferSize] = {};
    char* out = stamp;
    *out++ = '[';
    if (format == engine::StampFormat::Date) {
        putDigits(out, t.year, 4);
        out[4] = '-';
        putDigits(out + 5, t.month, 2);
        out[7] = '-';
        putDigits(out + 8, t.day, 2);
        out[10] = ' ';
        out += 11;
    }
    putDigits(out, t.hour, 2);
    out[2] = ':';
    putDigits(out + 3, t.minute, 2);
    out[5] = ':';
    putDigits(out + 6, t.second, 2);
    out[8] = ':';
    out += 9;
    if (format == engine::StampFormat::Micros) {
        putDigits(out, t.micros, 6);
        out += 6;
    } else {
        putDigits(out, t.millis, 3);
        out += 3;
    }
    *out = ']';
    for (std::size_t i = 0; i < sizeof stamp; ++i) buffer[i] = stamp[i];
    return 1;
}

}  // namespace ostrel::presentation

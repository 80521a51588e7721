// Fuzz target for the traffic formatter: a sequence of steps the input
// chooses (display format, stamp format, the clock's reading, a new line, a
// chunk of traffic of any length) against one formatter, with or without a
// capture running. Invariants: the traffic text equals a plain model's (a
// stamp written with snprintf when the clock's reading is a valid time, the
// previous stamp otherwise; "0x%02X " per byte in HEX, which parses back to
// the bytes; the bytes without zeros in ASCII; nothing for Off or a value
// that names no format; "<suppressing display>" for a HEX chunk over 512
// bytes while capturing); and the capture file holds exactly the bytes of the
// chunks shown in a known format, in order.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/session_types.h"
#include "engine/window_link.h"
#include "fuzz_input.h"
#include "platform/clock.h"
#include "presentation/capture_file.h"
#include "presentation/send_command.h"
#include "presentation/traffic_formatter.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace ostrel;
using fuzz::FuzzInput;
using fuzz::require;

// The window the formatter reads its display format from; the text goes
// to `text`.
class Window : public engine::WindowLink {
public:
    engine::OperatingMode mode() const override { return engine::kDteEmulation; }
    engine::DisplayFormat displayFormat() const override { return format; }
    engine::SendTarget sendTarget() const override { return engine::kToDte; }
    void postDataReady(int) override {}
    void postReceiveExit(const engine::ReceiveExitNotice&) override {}
    void appendText(std::string_view piece) override { text.append(piece); }

    engine::DisplayFormat format = engine::kDisplayHex;
    std::string text;
};

const fs::path& captureName() {
    static const fs::path path = fuzz::scratchFolder() / "capture.bin";
    return path;
}

engine::DisplayFormat displayFormat(FuzzInput& in) {
    const std::uint8_t pick = in.byte();
    if (pick < 200) return static_cast<engine::DisplayFormat>(pick % 5);  // none, hex, ascii, off, 4
    return static_cast<engine::DisplayFormat>(in.u32());
}

// A clock reading: mostly valid times, sometimes fields out of range or no
// time at all.
std::optional<platform::TimeOfDay> clockReading(FuzzInput& in) {
    if (in.below(8) == 0) return std::nullopt;
    const bool wild = in.below(4) == 0;
    const auto field = [&](int valid) {
        return wild ? static_cast<int>(in.u32())
                    : static_cast<int>(in.u32() % static_cast<std::uint32_t>(valid));
    };
    platform::TimeOfDay t;
    t.hour = field(24);
    t.minute = field(60);
    t.second = field(61);
    t.millis = field(1000);
    t.year = field(10000);
    t.month = wild ? static_cast<int>(in.u32()) : 1 + field(12);
    t.day = wild ? static_cast<int>(in.u32()) : 1 + field(31);
    t.micros = field(1'000'000);
    return t;
}

bool inRange(int v, int low, int high) {
    return v >= low && v <= high;
}

// The stamp the model expects, or nullopt when the reading counts as no time.
std::optional<std::string> modelStamp(const std::optional<platform::TimeOfDay>& now,
                                      engine::StampFormat format) {
    if (!now) return std::nullopt;
    const platform::TimeOfDay& t = *now;
    if (!inRange(t.hour, 0, 23) || !inRange(t.minute, 0, 59) || !inRange(t.second, 0, 60) ||
        !inRange(t.millis, 0, 999))
        return std::nullopt;
    char text[64];
    if (format == engine::StampFormat::Date) {
        if (!inRange(t.year, 0, 9999) || !inRange(t.month, 1, 12) || !inRange(t.day, 1, 31))
            return std::nullopt;
        std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d:%03d]", t.year, t.month, t.day,
                      t.hour, t.minute, t.second, t.millis);
    } else if (format == engine::StampFormat::Micros) {
        if (!inRange(t.micros, 0, 999'999)) return std::nullopt;
        std::snprintf(text, sizeof text, "[%02d:%02d:%02d:%06d]", t.hour, t.minute, t.second, t.micros);
    } else {
        std::snprintf(text, sizeof text, "[%02d:%02d:%02d:%03d]", t.hour, t.minute, t.second, t.millis);
    }
    return std::string(text);
}

// HEX text back to bytes: each token is "0x", two digits and a space.
std::vector<std::uint8_t> parseHexTokens(const std::string& hex) {
    require(hex.size() % 5 == 0, "HEX text not made of whole tokens");
    std::string digits;
    for (std::size_t i = 0; i < hex.size(); i += 5) {
        require(hex.compare(i, 2, "0x") == 0 && hex[i + 4] == ' ', "a HEX token of the wrong shape");
        digits.append(hex, i + 2, 2);
    }
    return presentation::ParseHexText(digits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const bool capturing = in.below(4) == 0;

    Window window, statusWindow;
    // The file is given up only after 20 s without progress (1 s by
    // default): a writer thread starved on a loaded machine is not a fault
    // of the formatter.
    presentation::CaptureLimits limits;
    limits.stall = std::chrono::seconds(20);
    limits.shutdown = std::chrono::seconds(20);
    presentation::CaptureFile capture(limits);
    if (capturing) {
        require(capture.Start(captureName().string(), statusWindow), "the capture did not start");
    }
    std::optional<platform::TimeOfDay> reading;
    presentation::TrafficFormatter formatter(window, capture, [&reading] { return reading; });

    std::string expected;  // the model's traffic text
    std::string lastStamp;
    engine::StampFormat stampFormat = engine::StampFormat::Time;
    std::vector<std::uint8_t> captured;
    std::vector<std::uint8_t> chunk;
    while (!in.empty()) {
        switch (in.below(6)) {
            case 0:
                window.format = displayFormat(in);
                break;
            case 1:
                stampFormat = static_cast<engine::StampFormat>(in.below(3));
                formatter.SetStampFormat(stampFormat);
                break;
            case 2: {
                reading = clockReading(in);
                // The short stamp of the line-status texts: the same rules.
                char shortStamp[16] = "unchanged";
                presentation::FormatTimeStamp(shortStamp, reading);
                const std::optional<std::string> model = modelStamp(reading, engine::StampFormat::Time);
                require(std::string(shortStamp) == model.value_or("unchanged"), "short stamp differs");
                break;
            }
            case 3: {
                formatter.BeginTrafficLine(window);
                if (std::optional<std::string> stamp = modelStamp(reading, stampFormat)) lastStamp = *stamp;
                expected += "\r\n" + lastStamp;
                break;
            }
            default: {
                // A chunk from the input, or a long one made of one byte.
                if (in.flag()) {
                    const std::span<const std::uint8_t> part = in.take(in.below(80));
                    chunk.assign(part.begin(), part.end());
                } else {
                    chunk.assign(in.u16() % 1200, in.byte());
                }
                const std::string before = window.text;
                formatter.ShowTraffic(window, chunk.data(), static_cast<std::int32_t>(chunk.size()));
                const std::string shown = window.text.substr(before.size());
                const engine::DisplayFormat format = window.format;
                const bool known = format == engine::kDisplayHex || format == engine::kDisplayAscii ||
                                   format == engine::kDisplayOff;
                if (known && capturing) captured.insert(captured.end(), chunk.begin(), chunk.end());
                if (format == engine::kDisplayHex && capturing && chunk.size() > 512) {
                    expected += "<suppressing display>";
                } else if (format == engine::kDisplayHex) {
                    for (std::uint8_t b : chunk) {
                        char token[8];
                        std::snprintf(token, sizeof token, "0x%02X ", b);
                        expected += token;
                    }
                    require(parseHexTokens(shown) == chunk, "HEX text does not parse back to the chunk");
                } else if (format == engine::kDisplayAscii) {
                    for (std::uint8_t b : chunk) {
                        if (b != 0) expected += static_cast<char>(b);
                    }
                }
                break;
            }
        }
        require(window.text == expected, "traffic text differs from the model");
    }

    if (capturing) {
        capture.Stop(statusWindow);
        std::ifstream file(captureName(), std::ios::binary);
        const std::vector<std::uint8_t> content((std::istreambuf_iterator<char>(file)),
                                                std::istreambuf_iterator<char>());
        require(statusWindow.text.find("Capture write failed") == std::string::npos, "the capture failed");
        require(content == captured, "the capture file differs from the traffic");
    }
    return 0;
}

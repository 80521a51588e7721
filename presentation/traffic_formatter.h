#pragma once
// Turns traffic into traffic-window text: time-stamped line starts and the
// chunk in HEX ("0x%02X " per byte), ASCII (the bytes as Latin-1 text) or
// nothing, and hands the raw bytes to the capture file while one runs.
// Callable from the pump and the UI thread at once: each call builds its text
// in its own storage; the last time stamp is kept under a lock.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "engine/window_link.h"
#include "platform/clock.h"

namespace ostrel::presentation {

class CaptureFile;

inline constexpr std::int32_t kSuppressThreshold = 512;
inline constexpr std::string_view kSuppressingDisplay = "<suppressing display>";

// "0x41 0x42 " for {0x41, 0x42}.
std::string FormatHex(std::span<const std::uint8_t> bytes);
// The bytes as text; zero bytes are left out (they do not end the text).
std::string FormatAscii(std::span<const std::uint8_t> bytes);
// Writes "[hh:mm:ss:mmm]" and a terminator into `buffer` (16 bytes); leaves
// it unchanged when the time is not available. Returns 1.
int FormatTimeStamp(char (&buffer)[16], const std::optional<platform::TimeOfDay>& now);
// The same in a chosen look (engine::StampFormat): "[hh:mm:ss:mmm]",
// "[yyyy-mm-dd hh:mm:ss:mmm]" or "[hh:mm:ss:uuuuuu]", with a terminator.
inline constexpr std::size_t kStampBufferSize = 32;
int FormatTimeStamp(char (&buffer)[kStampBufferSize], const std::optional<platform::TimeOfDay>& now,
                    engine::StampFormat format);

using TimeOfDaySource = std::function<std::optional<platform::TimeOfDay>()>;

class TrafficFormatter : public engine::TrafficPresenter {
public:
    // `window` gives the display format; `capture` receives the raw bytes.
    TrafficFormatter(const engine::WindowLink& window, CaptureFile& capture,
                     TimeOfDaySource now = platform::currentLocalTimeOfDay);

    void BeginTrafficLine(engine::TextSink& sink) override;
    void ShowTraffic(engine::TextSink& sink, const std::uint8_t* bytes, std::int32_t count) override;
    void SetStampFormat(engine::StampFormat format) override { stampFormat_.store(format); }

private:
    const engine::WindowLink& window_;
    CaptureFile& capture_;
    TimeOfDaySource now_;
    std::mutex stampMutex_;
    std::atomic<engine::StampFormat> stampFormat_{engine::StampFormat::Time};
    char lastStamp_[kStampBufferSize] = {};
};

}  // namespace ostrel::presentation

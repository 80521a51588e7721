// The traffic formatter: time-stamped line starts and each chunk's text in the
// current display format, with the raw bytes handed to the capture file.

#include "presentation/traffic_formatter.h"

#include <cstring>
#include <utility>

#include "engine/session_types.h"
#include "presentation/capture_file.h"

namespace ostrel::presentation {

TrafficFormatter::TrafficFormatter(const engine::WindowLink& window, CaptureFile& capture,
                                   TimeOfDaySource now)
    : window_(window), capture_(capture), now_(std::move(now)) {}

void TrafficFormatter::BeginTrafficLine(engine::TextSink& sink) {
    const std::optional<platform::TimeOfDay> now = now_ ? now_() : std::nullopt;
    char stamp[kStampBufferSize];
    {
        // A failed clock leaves the previous stamp (empty before the first).
        std::lock_guard lock(stampMutex_);
        FormatTimeStamp(lastStamp_, now, stampFormat_.load());
        std::memcpy(stamp, lastStamp_, sizeof stamp);
    }
    stamp[sizeof stamp - 1] = '\0';
    sink.appendText("\r\n");
    sink.appendText(std::string_view(stamp, std::strlen(stamp)));
}

void TrafficFormatter::ShowTraffic(engine::TextSink& sink, const std::uint8_t* bytes, std::int32_t count) {
    if (count < 0 || (count > 0 && bytes == nullptr)) return;
    const engine::DisplayFormat format = window_.displayFormat();
    // None, or a value that names no format: nothing at all, not even the file.
    if (format != engine::kDisplayHex && format != engine::kDisplayAscii && format != engine::kDisplayOff)
        return;
    const std::span<const std::uint8_t> chunk(bytes, static_cast<std::size_t>(count));
    // A long chunk in HEX is not shown while a capture runs.
    const bool suppressed = format == engine::kDisplayHex && count > kSuppressThreshold && capture_.active();

    // The file's queue gets the bytes before the window shows them. A failed
    // write is reported by the capture itself, as a status line.
    capture_.Write(chunk);
    if (suppressed) {
        sink.appendText(kSuppressingDisplay);
    } else if (format == engine::kDisplayHex) {
        sink.appendText(FormatHex(chunk));
    } else if (format == engine::kDisplayAscii) {
        sink.appendText(FormatAscii(chunk));
    }
}

}  // namespace ostrel::presentation

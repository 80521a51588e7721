// The traffic formatter: time-stamped line starts and each chunk's text in the
// current display format, with the raw bytes handed to the capture file.

#include "presentation/traffic_formatter.h"

#include <cstring>
#include <utility>

#include "engine/session_types.h"
#include "presentation/capture_file.h"
#include "presentation/string_sink.h"

namespace ostrel::presentation {

TrafficFormatter::TrafficFormatter(const engine::WindowLink& window, CaptureFile& capture,
                                   TimeOfDaySource now)
    : window_(window), capture_(capture), now_(std::move(now)) {}

void TrafficFormatter::BeginTrafficLine(engine::TextSink& sink) {
    const std::optional<platform::TimeOfDay> now = now_ ? now_() : std::nullopt;
    char stamp[16];
    {
        // A failed clock leaves the previous stamp (empty before the first).
        std::lock_guard lock(stampMutex_);
        FormatTimeStamp(lastStamp_, now);
        std::memcpy(stamp, lastStamp_, sizeof stamp);
    }
    stamp[sizeof stamp - 1] = '\0';
    sink.appendText("\r\n");
    sink.appendText(std::string_view(stamp, std::strlen(stamp)));
}

void TrafficFormatter::ShowTraffic(engine::TextSink& sink, const std::uint8_t* bytes, std::int32_t count) {
    if (count < 0 || (count > 0 && bytes == nullptr)) return;
    const std::span<const std::uint8_t> chunk(bytes, static_cast<std::size_t>(count));
    const engine::DisplayFormat format = window_.displayFormat();

    // The file gets the bytes before the window shows them, so text that is
    // visible is always in the file already. A capture status line (a failed
    // write) follows the chunk's text rather than splitting the line.
    StringSink captureStatus;
    switch (format) {
        case engine::kDisplayHex:
            if (count > kSuppressThreshold && capture_.active()) {
                capture_.Write(chunk, captureStatus);
                sink.appendText(kSuppressingDisplay);
            } else {
                const std::string text = FormatHex(chunk);
                capture_.Write(chunk, captureStatus);
                sink.appendText(text);
            }
            break;
        case engine::kDisplayAscii:
            capture_.Write(chunk, captureStatus);
            sink.appendText(FormatAscii(chunk));
            break;
        case engine::kDisplayOff:
            capture_.Write(chunk, captureStatus);
            break;
        default:  // none, or a value that names no format: nothing at all
            return;
    }
    if (!captureStatus.empty()) sink.appendText(captureStatus.text());
}

}  // namespace ostrel::presentation

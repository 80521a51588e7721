#pragma once
// The capture file: raw traffic bytes, nothing else. Start and stop run on the
// UI thread; Write runs on the pump and the UI thread. Writes and stop share a
// lock, so no write ever reaches a closed file. The file is created or
// truncated and held with an exclusive flock; a file that cannot be created or
// locked gives "\r\n*** File in use!!\r\n". A failing write is reported once
// per capture as a status line, and the capture goes on.

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "engine/window_link.h"
#include "platform/unique_fd.h"

namespace ostrel::presentation {

inline constexpr std::string_view kCapturingToFile = "*** Capturing to file: ";
inline constexpr std::string_view kFileInUse = "\r\n*** File in use!!\r\n";
inline constexpr std::string_view kCapturingData = "\r\n*** Capturing data to file...\r\n";
inline constexpr std::string_view kCaptureEnded = "\r\n*** Capture data ended...\r\n";

class CaptureFile {
public:
    CaptureFile() = default;
    ~CaptureFile();  // closes a running capture without a message

    // Shows the name line, creates the file and shows the outcome. True when
    // the capture runs. An empty name does nothing and returns false. When
    // the file cannot be created or locked, `problem` (if given) receives the
    // reason shown in the status line, for example "cap.bin: permission denied".
    bool Start(const std::string& fileName, engine::TextSink& sink, std::string* problem = nullptr);
    // Ends a running capture: closes the file and shows "Capture data ended".
    void Stop(engine::TextSink& sink);
    bool active() const;
    std::string fileName() const;

    // Appends raw bytes while a capture runs; returns false when none runs.
    bool Write(std::span<const std::uint8_t> bytes, engine::TextSink& sink);

private:
    mutable std::mutex mutex_;
    platform::UniqueFd file_;
    bool active_ = false;
    bool writeFailureShown_ = false;
    std::string fileName_;
};

}  // namespace ostrel::presentation

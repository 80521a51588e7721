#pragma once
// The capture file: raw traffic bytes, nothing else. Start and stop run on the
// UI thread; Write runs on the pump and the UI thread and hands the bytes to a
// CaptureWriter, whose own thread writes them. A slow reader (a pipe, a FIFO)
// holds the pump once 16 MiB wait; writes from the thread that started the
// capture (the UI thread) never wait, so that it can always stop the capture.
//
// The file is opened without emptying it, then held with an exclusive flock
// and, for a regular file, an open-file-description write lock; only then is
// it emptied. A file that another program holds with any of flock, POSIX
// (fcntl, lockf) or open-file-description locks, or that cannot be created,
// gives "\r\n*** File in use!!\r\n" and is left as it was.
//
// The first failed write ends the capture: the file is closed holding an
// exact prefix of the traffic, the traffic window gets the reason and the
// number of bytes in the file, then "Capture data ended", and the ended
// notice (if set) is called on the writer thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "engine/window_link.h"
#include "presentation/capture_writer.h"

namespace ostrel::presentation {

inline constexpr std::string_view kCapturingToFile = "*** Capturing to file: ";
inline constexpr std::string_view kFileInUse = "\r\n*** File in use!!\r\n";
inline constexpr std::string_view kCapturingData = "\r\n*** Capturing data to file...\r\n";
inline constexpr std::string_view kCaptureEnded = "\r\n*** Capture data ended...\r\n";

// How long an ending capture waits for its file to take what is queued.
struct CaptureLimits {
    // Stop gives up when the file has taken nothing for this long.
    std::chrono::milliseconds stall{1000};
    // At program end (Close and the destructor) the wait is at most this long in all.
    std::chrono::milliseconds shutdown{1000};
    std::size_t queueBound = kCaptureQueueBound;
};

class CaptureFile {
public:
    explicit CaptureFile(CaptureLimits limits = {});
    ~CaptureFile();  // as Close, without a message

    // Shows the name line, creates the file and shows the outcome. True when
    // the capture runs. An empty name does nothing and returns false. When
    // the file cannot be created or locked, `problem` (if given) receives the
    // reason shown in the status line, for example "cap.bin: permission denied".
    // `window` receives the capture's status lines until it ends.
    bool Start(const std::string& fileName, engine::WindowLink& window, std::string* problem = nullptr);
    // Ends a running capture: waits while the file takes what is queued (see
    // CaptureLimits::stall), closes it and shows "Capture data ended"; bytes
    // given up are reported before that line.
    void Stop(engine::WindowLink& window);
    // Ends a running capture at program end: as Stop, within
    // CaptureLimits::shutdown, and silent unless something was lost.
    void Close(engine::WindowLink& window);
    // From now on writes never wait at the queue's bound. For shutdown: call
    // before the pump is joined.
    void ReleaseWaits();
    // Called on the writer thread when a failed write ended the capture.
    void setEndedNotify(std::function<void()> notify);

    bool active() const;
    std::string fileName() const;

    // Queues raw bytes while a capture runs; returns false when none runs.
    bool Write(std::span<const std::uint8_t> bytes);

private:
    void end(engine::WindowLink* window, std::optional<std::chrono::milliseconds> totalLimit,
             bool alwaysShowEnd);
    void writeFailed(std::uint64_t generation, int error, std::uint64_t written);

    const CaptureLimits limits_;
    mutable std::mutex mutex_;
    std::shared_ptr<CaptureWriter> writer_;  // shared with a Write in progress
    engine::WindowLink* window_ = nullptr;
    std::thread::id owner_;
    std::uint64_t generation_ = 0;
    bool active_ = false;
    bool released_ = false;
    std::string fileName_;
    std::function<void()> endedNotify_;
};

}  // namespace ostrel::presentation

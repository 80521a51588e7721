// The capture file: opened, locked and emptied at start, written under the
// same lock that stop takes, closed at stop.

#include "presentation/capture_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

#include "engine/status_text.h"

namespace ostrel::presentation {

namespace {

// The reason a capture file could not be opened or written, in words for a
// file (the platform's own words speak of ports).
std::string fileProblem(const std::string& name, int code) {
    std::string words;
    switch (code) {
        case ENOENT:
            words = "no such file or folder";
            break;
        case EACCES:
        case EPERM:
            words = "permission denied";
            break;
        case EWOULDBLOCK:
            words = "locked by another program";
            break;
        case ENXIO:
            words = "no program reads this pipe";
            break;
        default: {
            char buffer[128];
            // GNU strerror_r returns the text, possibly not in `buffer`.
            const char* text = ::strerror_r(code, buffer, sizeof buffer);
            words = text;
            if (!words.empty())
                words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
        }
    }
    return name + ": " + words;
}

// Opens `name` for writing, holds it with an exclusive flock and empties it.
// The lock is taken before the file is emptied, so a file that another
// program holds locked keeps its content. O_NONBLOCK keeps a FIFO without a
// reader from hanging the open; it changes nothing for regular files.
// Returns the errno of the step that failed, or 0.
int openLocked(const std::string& name, platform::UniqueFd& out) {
    platform::UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd.valid()) return errno;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return errno;
    // Devices and FIFOs have nothing to empty (and refuse ftruncate).
    if (S_ISREG(info.st_mode) && ::ftruncate(fd.get(), 0) != 0) return errno;
    out = std::move(fd);
    return 0;
}

// Writes all of `bytes`; retries interrupted and partial writes. Returns the
// errno of the failure, or 0. A write that takes nothing counts as ENOSPC.
int writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

CaptureFile::~CaptureFile() = default;

bool CaptureFile::Start(const std::string& fileName, engine::TextSink& sink, std::string* problem) {
    if (fileName.empty()) return false;
    if (active()) Stop(sink);

    sink.appendText(kCapturingToFile);
    sink.appendText(fileName);
    sink.appendText("\r\n");

    platform::UniqueFd opened;
    if (const int error = openLocked(fileName, opened); error != 0) {
        {
            std::lock_guard lock(mutex_);
            fileName_ = fileName;
        }
        const std::string reason = fileProblem(fileName, error);
        sink.appendText(kFileInUse);
        sink.appendText(engine::text::statusLine(reason));
        if (problem) *problem = reason;
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        file_ = std::move(opened);
        fileName_ = fileName;
        writeFailureShown_ = false;
        active_ = true;
    }
    sink.appendText(kCapturingData);
    return true;
}

void CaptureFile::Stop(engine::TextSink& sink) {
    {
        std::lock_guard lock(mutex_);
        if (!active_) return;
        active_ = false;
        file_.reset();  // a write that began before this lock has finished
    }
    sink.appendText(kCaptureEnded);
}

bool CaptureFile::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

std::string CaptureFile::fileName() const {
    std::lock_guard lock(mutex_);
    return fileName_;
}

bool CaptureFile::Write(std::span<const std::uint8_t> bytes, engine::TextSink& sink) {
    std::optional<std::string> failureLine;
    {
        std::lock_guard lock(mutex_);
        if (!active_) return false;
        const int error = writeAll(file_.get(), bytes);
        if (error == 0) return true;
        if (!writeFailureShown_) {
            writeFailureShown_ = true;
            failureLine = engine::text::statusLine("Capture write failed: " + fileProblem(fileName_, error));
        }
    }
    // The capture goes on; the operator hears of the failure once.
    if (failureLine) sink.appendText(*failureLine);
    return false;
}

}  // namespace ostrel::presentation

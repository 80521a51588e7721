// The capture file: opened, locked and emptied at start; its bytes queued for
// the writer thread; ended by Stop, by program end or by a failed write.

#include "presentation/capture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/status_text.h"
#include "platform/posix_io.h"
#include "platform/sys_error.h"

namespace ostrel::presentation {

namespace {

// Takes a write lock on the whole of a regular file as an open file
// description lock. It conflicts with POSIX (fcntl, lockf) and open file
// description locks that any other process holds.
int lockRecords(int fd) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    whole.l_start = 0;
    whole.l_len = 0;  // to the end, however the file grows
    if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) return 0;
    // Either code means another program holds a lock: said as EWOULDBLOCK, the
    // code that the file words call "locked by another program".
    return errno == EAGAIN || errno == EACCES ? EWOULDBLOCK : errno;
}

// Opens `name` for writing without emptying it, holds it with an exclusive
// flock (and a record lock when it is a regular file), and only then empties
// it, so a file that another program holds locked keeps its content.
// O_NONBLOCK keeps a FIFO without a reader from hanging the open (ENXIO); the
// writer thread waits for room instead of failing. Returns the error of the
// step that failed, or 0.
int openLocked(const std::string& name, platform::UniqueFd& out) {
    platform::UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd.valid()) return errno;
    if (const platform::Status locked = platform::io::lockExclusive(fd.get()); !locked)
        return locked.error().code;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return errno;
    // Devices and FIFOs have nothing to empty (and refuse ftruncate).
    if (S_ISREG(info.st_mode)) {
        if (const int error = lockRecords(fd.get()); error != 0) return error;
        if (::ftruncate(fd.get(), 0) != 0) return errno;
    }
    out = std::move(fd);
    return 0;
}

std::string failureLine(const std::string& reason, std::uint64_t written) {
    return engine::text::statusLine("Capture write failed: " + reason + "; " + std::to_string(written) +
                                    " bytes in the file");
}

}  // namespace

CaptureFile::CaptureFile(CaptureLimits limits) : limits_(limits) {}

CaptureFile::~CaptureFile() {
    end(nullptr, limits_.shutdown, false);
}

bool CaptureFile::Start(const std::string& fileName, engine::WindowLink& window, std::string* problem) {
    if (fileName.empty()) return false;
    if (active()) Stop(window);
    end(nullptr, std::chrono::milliseconds(0), false);  // joins a writer that a failure ended

    window.appendStatusText(kCapturingToFile);
    window.appendStatusText(fileName);
    window.appendStatusText("\r\n");

    platform::UniqueFd opened;
    if (const int error = openLocked(fileName, opened); error != 0) {
        {
            std::lock_guard lock(mutex_);
            fileName_ = fileName;
        }
        const std::string reason = platform::describeFileError(fileName, error);
        window.appendStatusText(kFileInUse);
        window.appendStatusText(engine::text::statusLine(reason));
        if (problem) *problem = reason;
        return false;
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
    }
    auto writer = std::make_shared<CaptureWriter>(
        std::move(opened),
        [this, generation](int error, std::uint64_t written) { writeFailed(generation, error, written); },
        limits_.queueBound);
    {
        std::lock_guard lock(mutex_);
        if (released_) writer->release();
        writer_ = std::move(writer);
        window_ = &window;
        owner_ = std::this_thread::get_id();
        fileName_ = fileName;
        active_ = true;
    }
    window.appendStatusText(kCapturingData);
    return true;
}

void CaptureFile::Stop(engine::WindowLink& window) {
    end(&window, std::nullopt, true);
}

void CaptureFile::Close(engine::WindowLink& window) {
    end(&window, limits_.shutdown, false);
}

void CaptureFile::end(engine::WindowLink* window, std::optional<std::chrono::milliseconds> totalLimit,
                      bool alwaysShowEnd) {
    std::shared_ptr<CaptureWriter> writer;
    bool wasActive = false;
    std::string name;
    {
        std::lock_guard lock(mutex_);
        wasActive = active_;
        active_ = false;
        writer = std::move(writer_);
        name = fileName_;
    }
    if (!writer) return;
    // Never under mutex_: the writer thread may be reporting a failure, which takes it.
    const CaptureWriter::Ending ending = writer->finish(limits_.stall, totalLimit);
    if (!wasActive || window == nullptr) return;
    std::optional<std::string> trouble;
    if (ending.error != 0) {
        trouble = failureLine(platform::describeFileError(name, ending.error), ending.written);
    } else if (ending.unwritten != 0) {
        trouble = failureLine(
            name + ": " + std::to_string(ending.unwritten) + " bytes not written, the reader took too long",
            ending.written);
    }
    if (trouble) window->appendStatusText(*trouble);
    if (trouble || alwaysShowEnd) window->appendStatusText(kCaptureEnded);
}

void CaptureFile::writeFailed(std::uint64_t generation, int error, std::uint64_t written) {
    engine::WindowLink* window = nullptr;
    std::function<void()> notify;
    std::string name;
    {
        std::lock_guard lock(mutex_);
        // A capture that Stop or Close is ending reports the failure there.
        if (!active_ || generation != generation_) return;
        active_ = false;  // the writer itself is joined by the next Start, Stop or Close
        window = window_;
        notify = endedNotify_;
        name = fileName_;
    }
    window->appendStatusText(failureLine(platform::describeFileError(name, error), written));
    window->appendStatusText(kCaptureEnded);
    if (notify) notify();
}

void CaptureFile::ReleaseWaits() {
    std::shared_ptr<CaptureWriter> writer;
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        writer = writer_;
    }
    if (writer) writer->release();
}

void CaptureFile::setEndedNotify(std::function<void()> notify) {
    std::lock_guard lock(mutex_);
    endedNotify_ = std::move(notify);
}

bool CaptureFile::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

std::string CaptureFile::fileName() const {
    std::lock_guard lock(mutex_);
    return fileName_;
}

bool CaptureFile::Write(std::span<const std::uint8_t> bytes) {
    std::shared_ptr<CaptureWriter> writer;
    bool mayWait = false;
    {
        std::lock_guard lock(mutex_);
        if (!active_) return false;
        writer = writer_;
        mayWait = !released_ && std::this_thread::get_id() != owner_;
    }
    return writer->push(bytes, mayWait);
}

}  // namespace ostrel::presentation

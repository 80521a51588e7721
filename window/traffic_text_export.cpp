#include "window/traffic_text_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <span>

#include "platform/posix_io.h"
#include "window/line_ends.h"

namespace ostrel::window {

namespace {

constexpr std::int64_t kBlockBytes = 4 << 20;

// Removes `path` only while it is still the file `fd` holds.
void removeOurFile(const std::string& path, int fd) {
    struct stat ours {};
    struct stat named {};
    if (::fstat(fd, &ours) != 0 || ::lstat(path.c_str(), &named) != 0) return;
    if (ours.st_dev == named.st_dev && ours.st_ino == named.st_ino) (void)::unlink(path.c_str());
}

}  // namespace

platform::Result<platform::UniqueFd> createNewTextFile(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) return platform::lastError("open", path);
    return fd;
}

SaveOutcome saveTextAs(const TextSnapshot& text, const std::string& path, std::stop_token stop,
                       const std::function<void(std::int64_t)>& progress) {
    SaveOutcome outcome;
    auto created = createNewTextFile(path);
    if (!created) {
        outcome.error = platform::describeFileError(path, created.error().code);
        return outcome;
    }
    const int fd = created.value().get();
    LfLineEnds lineEnds;
    std::string out;
    out.reserve(static_cast<std::size_t>(kBlockBytes));
    auto put = [&out](const char* data, std::size_t length) { out.append(data, length); };
    auto flush = [&]() {
        const platform::Status written =
            platform::io::writeAll(fd, {reinterpret_cast<const std::uint8_t*>(out.data()), out.size()});
        if (!written) {
            outcome.error = platform::describeFileError(path, written.error().code);
            return false;
        }
        outcome.fileBytes += static_cast<std::int64_t>(out.size());
        out.clear();
        return true;
    };
    const platform::Status read =
        text.visit(0, text.size(), kBlockBytes, [&](const char* data, std::size_t n) {
            if (stop.stop_requested()) {
                outcome.stopped = true;
                return false;
            }
            lineEnds.feed(data, n, put);
            if (!flush()) return false;
            outcome.textBytes += static_cast<std::int64_t>(n);
            if (progress) progress(outcome.textBytes);
            return true;
        });
    if (!read && outcome.error.empty()) {
        outcome.error = "the traffic window's text could not be read back: " + read.error().describe();
    }
    if (outcome.complete()) {
        lineEnds.finish(put);
        if (flush() && ::fsync(fd) != 0) outcome.error = platform::describeFileError(path, errno);
    }
    if (!outcome.complete()) removeOurFile(path, fd);
    return outcome;
}

}  // namespace ostrel::window

#include "window/desktop_icon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>

#include "platform/posix_io.h"
#include "platform/unique_fd.h"

namespace ostrel::window {

namespace fs = std::filesystem;

namespace {

std::string iconFile(const std::string& directory) {
    return (fs::path(directory) / (std::string(kIconName) + ".svg")).string();
}

// The content of a regular file that is not a link; empty when it cannot be read.
std::optional<std::string> readRegularFile(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string content;
    std::uint8_t buffer[4096];
    while (true) {
        const platform::Result<std::size_t> got = platform::io::readSome(fd.get(), buffer);
        if (!got) return std::nullopt;
        if (got.value() == 0) break;
        content.append(reinterpret_cast<const char*>(buffer), got.value());
        if (content.size() > 1024 * 1024) return std::nullopt;  // not ours, whatever it is
    }
    return content;
}

// All of `text` into the blocking file `fd`, then to the disk; the errno of
// the step that failed, or 0.
int writeAndSync(int fd, std::string_view text) {
    const platform::Status written =
        platform::io::writeAll(fd, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    if (!written) return written.error().code;
    return ::fsync(fd) == 0 ? 0 : errno;
}

std::string reason(int error) {
    return std::strerror(error);
}

}  // namespace

std::string IconDirectoryFor(const std::string& entryDirectory) {
    if (entryDirectory.empty()) return {};
    return (fs::path(entryDirectory).parent_path() / "icons/hicolor/scalable/apps").string();
}

RegistrationOutcome InstallDesktopIcon(const std::string& iconDirectory) {
    if (iconDirectory.empty()) return {1, "RegServer: neither XDG_DATA_HOME nor HOME is set"};
    const std::string target = iconFile(iconDirectory);
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        if (readRegularFile(target) == std::string(OstrelIconSvg())) return {};  // ours already
        return {1, "RegServer: " + target + " is not Ostrel's icon; left in place"};
    }
    std::error_code error;
    fs::create_directories(iconDirectory, error);
    if (error) return {1, "RegServer: cannot create " + iconDirectory + ": " + error.message()};

    std::mt19937_64 random(std::random_device{}());
    std::string temporary;
    platform::UniqueFd fd;
    for (int attempt = 0; attempt < 16 && !fd.valid(); ++attempt) {
        temporary =
            (fs::path(iconDirectory) / (".ostrel.svg." + std::to_string(random() % 1000000000))).string();
        fd = platform::UniqueFd(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.valid() && errno != EEXIST)
            return {1, "RegServer: cannot write " + temporary + ": " + reason(errno)};
    }
    if (!fd.valid()) return {1, "RegServer: cannot make a temporary file in " + iconDirectory};
    const int writeError = writeAndSync(fd.get(), OstrelIconSvg());
    fd.reset();
    if (writeError != 0) {
        ::unlink(temporary.c_str());
        return {1, "RegServer: cannot write " + temporary + ": " + reason(writeError)};
    }
    // Into place without replacing a name that appeared meanwhile; where the
    // file system cannot rename so, a hard link does the same.
    bool placed = ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
    int failure = errno;
    if (!placed && (failure == EINVAL || failure == ENOSYS)) {
        placed = ::link(temporary.c_str(), target.c_str()) == 0;
        failure = errno;
        ::unlink(temporary.c_str());
    } else if (!placed) {
        ::unlink(temporary.c_str());
    }
    if (placed) return {};
    if (failure == EEXIST) return {1, "RegServer: " + target + " is not Ostrel's icon; left in place"};
    return {1, "RegServer: cannot write " + target + ": " + reason(failure)};
}

RegistrationOutcome RemoveDesktopIcon(const std::string& iconDirectory) {
    if (iconDirectory.empty()) return {1, "UnregServer: neither XDG_DATA_HOME nor HOME is set"};
    const std::string target = iconFile(iconDirectory);
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) != 0) return {};
    if (readRegularFile(target) != std::string(OstrelIconSvg()))
        return {1, "UnregServer: " + target + " is not Ostrel's icon; left in place"};
    if (::unlink(target.c_str()) != 0)
        return {1, "UnregServer: cannot remove " + target + ": " + reason(errno)};
    return {};
}

}  // namespace ostrel::window

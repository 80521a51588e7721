#include "window/traffic_text_spill.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/posix_io.h"

namespace ostrel::window {

namespace {

using platform::Result;
using platform::SysError;
using platform::UniqueFd;

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// Opens `folder` as a directory without following a link at its last step,
// making it (and a missing parent) first.
Result<UniqueFd> openFolder(const std::string& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.valid()) return dir;
    if (errno != ENOENT) return platform::lastError("open", folder);
    const std::size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        // ~/.cache may be missing on a fresh account; make it like any program does.
        (void)::mkdir(folder.substr(0, slash).c_str(), 0700);
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return platform::lastError("mkdir", folder);
    dir.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) return platform::lastError("open", folder);
    return dir;
}

// A file of a fresh random name, made exclusively and unlinked at once.
Result<UniqueFd> namedThenUnlinked(int dir, const std::string& folder) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = ".ostrel-text-" + std::to_string(random());
        UniqueFd file(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.valid()) {
            if (errno == EEXIST) continue;
            return platform::lastError("open", folder + "/" + name);
        }
        (void)::unlinkat(dir, name.c_str(), 0);  // ours: made just now with O_EXCL
        return file;
    }
    return SysError{"open", folder, EEXIST};
}

}  // namespace

std::string SpillFile::defaultFolder(const char* xdgCacheHome, const char* home) {
    if (isAbsolute(xdgCacheHome)) return std::string(xdgCacheHome) + "/ostrel";
    if (isAbsolute(home)) return std::string(home) + "/.cache/ostrel";
    return {};
}

Result<std::shared_ptr<SpillFile>> SpillFile::open(const std::string& folder) {
    if (folder.empty()) return SysError{"open", folder, ENOENT};
    Result<UniqueFd> dir = openFolder(folder);
    if (!dir) return dir.error();
    UniqueFd file(::openat(dir.value().get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!file.valid()) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return platform::lastError("open", folder);
        Result<UniqueFd> named = namedThenUnlinked(dir.value().get(), folder);
        if (!named) return named.error();
        file = std::move(named.value());
    }
    return std::make_shared<SpillFile>(std::move(file));
}

platform::Status SpillFile::appendBytes(std::span<const char> bytes, std::int64_t& offset) {
    offset = size_;
    const platform::Status written = platform::io::writeAllAt(
        fd_.get(), {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, size_);
    if (!written) {
        // Whatever part went out is overwritten by the next append.
        return written;
    }
    size_ += static_cast<std::int64_t>(bytes.size());
    return {};
}

platform::Status SpillFile::readAt(std::int64_t offset, std::span<char> out) const {
    return platform::io::readAllAt(fd_.get(), {reinterpret_cast<std::uint8_t*>(out.data()), out.size()},
                                   offset);
}

}  // namespace ostrel::window

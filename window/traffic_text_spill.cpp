#include "window/traffic_text_spill.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
    return std::make_shared<SpillFile>(std::move(file), folder);
}

SpillFile::SpillFile(platform::UniqueFd fd, std::string folder)
    : fd_(std::move(fd)),
      folder_(std::move(folder)),
      writer_([this](std::stop_token stop) { writeLoop(std::move(stop)); }) {}

SpillFile::~SpillFile() {
    {
        std::lock_guard lock(mutex_);
        writer_.request_stop();
    }
    changed_.notify_all();
}

platform::Status SpillFile::appendBytes(std::span<const char> bytes, std::int64_t& offset) {
    std::unique_lock lock(mutex_);
    // A disk slower than the traffic: wait for the writer rather than hold ever more.
    changed_.wait(lock, [&] { return writeError_ || pendingBytes_ < kMaxPendingBytes; });
    if (writeError_) return *writeError_;
    offset = end_;
    pending_.push_back({end_, std::string(bytes.data(), bytes.size())});
    pendingBytes_ += static_cast<std::int64_t>(bytes.size());
    end_ += static_cast<std::int64_t>(bytes.size());
    lock.unlock();
    changed_.notify_all();
    return {};
}

void SpillFile::writeLoop(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop.stop_requested() || (!pending_.empty() && !writeError_); });
        if (stop.stop_requested()) return;
        // The front stays in pending_ while it is written, so readers still find it.
        const Pending& front = pending_.front();
        const std::int64_t at = front.offset;
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(front.bytes.data()),
                                                  front.bytes.size());
        lock.unlock();
        const platform::Status written = platform::io::writeAllAt(fd_.get(), bytes, at);
        lock.lock();
        pendingBytes_ -= static_cast<std::int64_t>(bytes.size());
        if (written) {
            pending_.pop_front();
        } else {
            // Kept in memory, with everything after it: nothing appended is lost.
            writeError_ = written.error();
            writeError_->path = folder_;
            for (Pending& left : pending_) unwritten_.push_back(std::move(left));
            pending_.clear();
            pendingBytes_ = 0;
        }
        changed_.notify_all();
    }
}

void SpillFile::flush() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_.empty(); });
}

platform::Status SpillFile::readAt(std::int64_t offset, std::span<char> out) const {
    if (out.empty()) return {};
    {
        // Bytes still waiting (or never written) are served from memory.
        std::lock_guard lock(mutex_);
        for (const auto* held : {&pending_, &unwritten_}) {
            for (const Pending& piece : *held) {
                const auto length = static_cast<std::int64_t>(piece.bytes.size());
                if (offset >= piece.offset &&
                    offset + static_cast<std::int64_t>(out.size()) <= piece.offset + length) {
                    std::memcpy(out.data(), piece.bytes.data() + (offset - piece.offset), out.size());
                    return {};
                }
            }
        }
    }
    return platform::io::readAllAt(fd_.get(), {reinterpret_cast<std::uint8_t*>(out.data()), out.size()},
                                   offset);
}

}  // namespace ostrel::window

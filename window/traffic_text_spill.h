#pragma once
// The file where the traffic window keeps the older part of its text: an
// unlinked file (O_TMPFILE) in the user's cache folder, so that nothing is
// left behind when Ostrel ends, however it ends, and no other program or
// instance can open it by name.
//
// Appends are written by a thread of the file's own, so that a slow or busy
// disk never holds up the thread that appends: appendBytes() hands the bytes
// over and says at once where they will lie. Until they are written (and for
// good when writing failed) readAt() serves them from memory, so that nothing
// appended is ever lost. Above kMaxPendingBytes waiting, appendBytes() waits
// for the writer. Any thread may read; what was appended never changes.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/sys_error.h"
#include "platform/unique_fd.h"

namespace ostrel::window {

class SpillFile {
public:
    static constexpr std::int64_t kMaxPendingBytes = 32 * 1024 * 1024;

    // Opens a new unlinked file in `folder`, made (mode 0700) when missing.
    // The folder itself must not be a symbolic link. Where the file system
    // has no O_TMPFILE, a file of a fresh name is made and unlinked at once.
    static platform::Result<std::shared_ptr<SpillFile>> open(const std::string& folder);

    // The folder for the file: $XDG_CACHE_HOME/ostrel when that is an absolute
    // path, else $HOME/.cache/ostrel; empty when neither applies.
    static std::string defaultFolder(const char* xdgCacheHome, const char* home);

    SpillFile(platform::UniqueFd fd, std::string folder);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Takes `bytes` for the end of the file; `offset` receives where they
    // lie. Fails (taking nothing) once a write has failed: the caller keeps
    // what it has in memory from then on.
    platform::Status appendBytes(std::span<const char> bytes, std::int64_t& offset);
    // Waits until everything appended so far is written or has failed.
    void flush() const;
    // Reads what one appendBytes() took, or a part of it.
    platform::Status readAt(std::int64_t offset, std::span<char> out) const;

private:
    struct Pending {
        std::int64_t offset = 0;
        std::string bytes;
    };
    void writeLoop(std::stop_token stop);

    platform::UniqueFd fd_;
    std::string folder_;  // named in errors
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Pending> pending_;    // in offset order; the front is being written
    std::deque<Pending> unwritten_;  // what could not be written: kept here for good
    std::int64_t pendingBytes_ = 0;
    std::int64_t end_ = 0;
    std::optional<platform::SysError> writeError_;
    std::jthread writer_;  // last: stops before the rest goes
};

}  // namespace ostrel::window

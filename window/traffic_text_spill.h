#pragma once
// The file where the traffic window keeps the older part of its text: an
// unlinked file (O_TMPFILE) in the user's cache folder, so that nothing is
// left behind when Ostrel ends, however it ends, and no other program or
// instance can open it by name. Written only at its end (appendBytes), read
// anywhere (readAt); reads and writes may come from different threads, since
// they are positional and what was written never changes.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/sys_error.h"
#include "platform/unique_fd.h"

namespace ostrel::window {

class SpillFile {
public:
    // Opens a new unlinked file in `folder`, made (mode 0700) when missing.
    // The folder itself must not be a symbolic link. Where the file system
    // has no O_TMPFILE, a file of a fresh name is made and unlinked at once.
    static platform::Result<std::shared_ptr<SpillFile>> open(const std::string& folder);

    // The folder for the file: $XDG_CACHE_HOME/ostrel when that is an absolute
    // path, else $HOME/.cache/ostrel; empty when neither applies.
    static std::string defaultFolder(const char* xdgCacheHome, const char* home);

    // Writes `bytes` at the end; `offset` receives where they begin. On
    // failure (a full disk) the file's end stays where it was.
    platform::Status appendBytes(std::span<const char> bytes, std::int64_t& offset);
    platform::Status readAt(std::int64_t offset, std::span<char> out) const;
    std::int64_t size() const { return size_; }

    explicit SpillFile(platform::UniqueFd fd) : fd_(std::move(fd)) {}

private:
    platform::UniqueFd fd_;
    std::int64_t size_ = 0;
};

}  // namespace ostrel::window

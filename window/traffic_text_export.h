#pragma once
// Save Text As: the traffic text streamed to a new file, with LF line ends,
// a block at a time, on a thread of its own. Ostrel writes only a file it
// makes: an existing path (or a link) is refused, never overwritten.

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "platform/sys_error.h"
#include "platform/unique_fd.h"
#include "window/traffic_text_snapshot.h"

namespace ostrel::window {

// Makes `path` as a new file (mode 0644 less the umask); EEXIST when anything
// is there already, a dangling link included.
platform::Result<platform::UniqueFd> createNewTextFile(const std::string& path);

struct SaveOutcome {
    std::int64_t textBytes = 0;  // of the window's text, all of it when the save is whole
    std::int64_t fileBytes = 0;  // written to the file
    bool stopped = false;        // asked to stop: the file was removed
    std::string error;           // the reason it failed: the file was removed
    bool complete() const { return !stopped && error.empty(); }
};

// Writes the whole text to `path` (made by createNewTextFile) and syncs it;
// progress(textBytesDone) is called after each block. A save that is stopped
// or fails removes the file it made, unless something else has taken its
// name in the meantime.
SaveOutcome saveTextAs(const TextSnapshot& text, const std::string& path, std::stop_token stop,
                       const std::function<void(std::int64_t)>& progress = {});

}  // namespace ostrel::window

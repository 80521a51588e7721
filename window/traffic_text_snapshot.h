#pragma once
// The traffic text as it stood at one moment, for a thread other than the
// UI's (Find, Save Text As): the older part by where it lies in the spill
// file, whose bytes never change once written, and the newer part copied.
// Reading it takes no lock and leaves the store free to go on.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/sys_error.h"
#include "window/traffic_text_spill.h"

namespace ostrel::window {

class TextSnapshot {
public:
    // A stretch of the text that lies in the file.
    struct Extent {
        std::int64_t fileOffset = 0;
        std::int64_t length = 0;
    };

    TextSnapshot() = default;
    TextSnapshot(std::shared_ptr<const SpillFile> file, std::vector<Extent> spilled, std::string recent);

    std::int64_t size() const { return spilledBytes_ + static_cast<std::int64_t>(recent_.size()); }

    // Calls consume(const char* data, std::size_t length) for the bytes of
    // [position, position + count) in order, in pieces of at most `block`
    // bytes, until it returns false. A spilled piece is read into a buffer of
    // the snapshot's own; an error reading the file ends the walk and comes
    // back.
    template <class Consume>
    platform::Status visit(std::int64_t position, std::int64_t count, std::int64_t block,
                           Consume&& consume) const;

private:
    // Reads [position, position + out.size()) of the spilled part.
    platform::Status readSpilled(std::int64_t position, std::span<char> out) const;

    std::shared_ptr<const SpillFile> file_;
    std::vector<Extent> spilled_;
    std::vector<std::int64_t> starts_;  // text offset of each extent, and the spilled total last
    std::int64_t spilledBytes_ = 0;
    std::string recent_;
    mutable std::string buffer_;
};

template <class Consume>
platform::Status TextSnapshot::visit(std::int64_t position, std::int64_t count, std::int64_t block,
                                     Consume&& consume) const {
    position = std::clamp<std::int64_t>(position, 0, size());
    count = std::clamp<std::int64_t>(count, 0, size() - position);
    block = std::max<std::int64_t>(1, block);
    while (count > 0) {
        const std::int64_t piece = std::min(count, block);
        if (position >= spilledBytes_) {
            const auto at = static_cast<std::size_t>(position - spilledBytes_);
            if (!consume(recent_.data() + at, static_cast<std::size_t>(piece))) return {};
        } else {
            const std::int64_t spilledPiece = std::min(piece, spilledBytes_ - position);
            buffer_.resize(static_cast<std::size_t>(spilledPiece));
            platform::Status read = readSpilled(position, buffer_);
            if (!read) return read;
            if (!consume(buffer_.data(), buffer_.size())) return {};
            position += spilledPiece;
            count -= spilledPiece;
            continue;
        }
        position += piece;
        count -= piece;
    }
    return {};
}

}  // namespace ostrel::window

#include "window/traffic_text_snapshot.h"

#include <cerrno>

namespace ostrel::window {

TextSnapshot::TextSnapshot(std::shared_ptr<const SpillFile> file, std::vector<Extent> spilled,
                           std::string recent)
    : file_(std::move(file)), spilled_(std::move(spilled)), recent_(std::move(recent)) {
    starts_.reserve(spilled_.size() + 1);
    for (const Extent& extent : spilled_) {
        starts_.push_back(spilledBytes_);
        spilledBytes_ += extent.length;
    }
    starts_.push_back(spilledBytes_);
}

platform::Status TextSnapshot::readSpilled(std::int64_t position, std::span<char> out) const {
    if (!file_) return platform::SysError{"pread", "", EBADF};
    // The extent that holds `position`, then on through the following ones.
    auto index = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), position) -
                                          starts_.begin() - 1);
    std::size_t done = 0;
    while (done < out.size() && index < spilled_.size()) {
        const Extent& extent = spilled_[index];
        const std::int64_t inside = position + static_cast<std::int64_t>(done) - starts_[index];
        const auto take = static_cast<std::size_t>(
            std::min<std::int64_t>(extent.length - inside, static_cast<std::int64_t>(out.size() - done)));
        platform::Status read = file_->readAt(extent.fileOffset + inside, out.subspan(done, take));
        if (!read) return read;
        done += take;
        ++index;
    }
    return {};
}

}  // namespace ostrel::window

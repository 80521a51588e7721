#include "window/traffic_text_search.h"

#include <cstring>
#include <string_view>

namespace ostrel::window {

namespace {

constexpr std::int64_t kBlockBytes = 4 << 20;

char folded(char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// Scans [from, to) of the text for the needle, block by block, with the
// needle's length less one byte carried over between blocks.
class RangeScan {
public:
    RangeScan(const TextSnapshot& text, const TextQuery& query, std::stop_token stop)
        : text_(text), matchCase_(query.matchCase), stop_(std::move(stop)) {
        needle_ = query.needle;
        if (!matchCase_) {
            for (char& byte : needle_) byte = folded(byte);
        }
    }

    // The first (or last) match that begins in [from, to): -1 when none.
    std::int64_t scan(std::int64_t from, std::int64_t to, bool last, SearchOutcome& outcome) {
        const auto length = static_cast<std::int64_t>(needle_.size());
        to = std::min(to, text_.size() - length + 1);
        if (from >= to) return -1;
        return last ? scanBackward(from, to, outcome) : scanForward(from, to, outcome);
    }

private:
    // Fills window_ with [start, start + count), folded when needed.
    bool load(std::int64_t start, std::int64_t count, SearchOutcome& outcome) {
        window_.clear();
        const platform::Status read =
            text_.visit(start, count, kBlockBytes, [&](const char* data, std::size_t n) {
                const std::size_t at = window_.size();
                window_.resize(at + n);
                if (matchCase_) {
                    std::memcpy(window_.data() + at, data, n);
                } else {
                    for (std::size_t i = 0; i < n; ++i) window_[at + i] = folded(data[i]);
                }
                return true;
            });
        if (!read) outcome.error = read.error().describe();
        return read.ok();
    }

    // Offsets in window_ of matches beginning before `limit`, first or last.
    std::int64_t firstIn(std::size_t limit) const {
        const void* hit = ::memmem(window_.data(), std::min(window_.size(), limit + needle_.size() - 1),
                                   needle_.data(), needle_.size());
        return hit ? static_cast<const char*>(hit) - window_.data() : -1;
    }
    std::int64_t lastIn(std::size_t limit) const {
        std::int64_t last = -1;
        std::size_t at = 0;
        const std::size_t end = std::min(window_.size(), limit + needle_.size() - 1);
        while (at < end) {
            const void* hit = ::memmem(window_.data() + at, end - at, needle_.data(), needle_.size());
            if (!hit) break;
            last = static_cast<const char*>(hit) - window_.data();
            at = static_cast<std::size_t>(last) + 1;
        }
        return last;
    }

    std::int64_t scanForward(std::int64_t from, std::int64_t to, SearchOutcome& outcome) {
        const auto overlap = static_cast<std::int64_t>(needle_.size()) - 1;
        for (std::int64_t start = from; start < to; start += kBlockBytes) {
            if (stop_.stop_requested()) return outcome.stopped = true, -1;
            const std::int64_t starts = std::min(kBlockBytes, to - start);
            if (!load(start, starts + overlap, outcome)) return -1;
            const std::int64_t hit = firstIn(static_cast<std::size_t>(starts));
            if (hit >= 0) return start + hit;
        }
        return -1;
    }

    std::int64_t scanBackward(std::int64_t from, std::int64_t to, SearchOutcome& outcome) {
        const auto overlap = static_cast<std::int64_t>(needle_.size()) - 1;
        for (std::int64_t end = to; end > from; end -= kBlockBytes) {
            if (stop_.stop_requested()) return outcome.stopped = true, -1;
            const std::int64_t start = std::max(from, end - kBlockBytes);
            if (!load(start, end - start + overlap, outcome)) return -1;
            const std::int64_t hit = lastIn(static_cast<std::size_t>(end - start));
            if (hit >= 0) return start + hit;
        }
        return -1;
    }

    const TextSnapshot& text_;
    bool matchCase_;
    std::stop_token stop_;
    std::string needle_;
    std::string window_;
};

}  // namespace

bool equalBytes(const char* a, const char* b, std::size_t length, bool matchCase) {
    if (matchCase) return std::memcmp(a, b, length) == 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (folded(a[i]) != folded(b[i])) return false;
    }
    return true;
}

SearchOutcome findInText(const TextSnapshot& text, const TextQuery& query, std::int64_t from, bool backward,
                         std::stop_token stop) {
    SearchOutcome outcome;
    if (query.needle.empty()) return outcome;
    from = std::clamp<std::int64_t>(from, 0, text.size());
    RangeScan scan(text, query, std::move(stop));
    const std::int64_t end = text.size();
    outcome.match = backward ? scan.scan(0, from, true, outcome) : scan.scan(from, end, false, outcome);
    if (outcome.match >= 0 || outcome.stopped || !outcome.error.empty()) return outcome;
    outcome.match = backward ? scan.scan(from, end, true, outcome) : scan.scan(0, from, false, outcome);
    outcome.wrapped = outcome.match >= 0;
    return outcome;
}

}  // namespace ostrel::window

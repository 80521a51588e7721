#include "headless/line_splitter.h"

namespace ostrel::headless {

std::vector<std::string> LineSplitter::feed(std::string_view bytes, std::vector<bool>* ended) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        const auto end = bytes.find('\n', start);
        partial_.append(bytes.substr(start, end == std::string_view::npos ? end : end - start));
        while (partial_.size() > kMaxPiece) {
            lines.push_back(partial_.substr(0, kMaxPiece));
            if (ended) ended->push_back(false);
            partial_.erase(0, kMaxPiece);
        }
        if (end == std::string_view::npos) break;
        lines.push_back(std::move(partial_));
        if (ended) ended->push_back(true);
        partial_.clear();
        start = end + 1;
    }
    return lines;
}

std::optional<std::string> LineSplitter::finish() {
    if (partial_.empty()) return std::nullopt;
    std::string last = std::move(partial_);
    partial_.clear();
    return last;
}

}  // namespace ostrel::headless

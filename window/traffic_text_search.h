#pragma once
// Find in the traffic text, for a thread of its own: scans a TextSnapshot in
// blocks (spilled text read from the file), several hundred MiB a second,
// and stops soon after it is asked to.

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "window/traffic_text_snapshot.h"

namespace ostrel::window {

struct TextQuery {
    std::string needle;      // Latin-1 bytes
    bool matchCase = false;  // otherwise A-Z and a-z are the same
};

struct SearchOutcome {
    std::int64_t match = -1;  // where the match begins; -1: none
    bool wrapped = false;     // found only after going round the end
    bool stopped = false;     // asked to stop before the end
    std::string error;        // the file could not be read
};

// Forward: the first match that begins at or after `from`, else the first
// one before it (wrapped). Backward: the last match that begins before
// `from`, else the last one at or after it (wrapped).
SearchOutcome findInText(const TextSnapshot& text, const TextQuery& query, std::int64_t from, bool backward,
                         std::stop_token stop);

// Every match in a short `text` (what is shown, for highlighting): calls
// found(offset) in order. Matches may overlap.
template <class Found>
void forEachMatch(std::string_view text, const TextQuery& query, Found&& found);

bool equalBytes(const char* a, const char* b, std::size_t length, bool matchCase);

template <class Found>
void forEachMatch(std::string_view text, const TextQuery& query, Found&& found) {
    const std::size_t length = query.needle.size();
    if (length == 0 || text.size() < length) return;
    for (std::size_t at = 0; at + length <= text.size(); ++at) {
        if (equalBytes(text.data() + at, query.needle.data(), length, query.matchCase)) found(at);
    }
}

}  // namespace ostrel::window

// Wrapping of the traffic text into rows: where rows begin inside lines.

#include <cstring>

#include "window/traffic_text_store.h"

namespace ostrel::window {

namespace {

// True when one of the eight bytes at `data` is below 0x21, so may be a
// blank, a line break or another control byte.
bool hasByteBelow33(const char* data) {
    std::uint64_t word;
    std::memcpy(&word, data, sizeof word);
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    return ((word - kOnes * 0x21) & ~word & kHighBits) != 0;
}

bool isPlain(char byte) {
    return static_cast<unsigned char>(byte) > ' ';
}

}  // namespace

// Feeds bytes [from, to) to the wrapping that stands at `state`, calling
// emit(position) for each row that begins inside a line. A line break
// restarts the wrapping; a run of plain bytes costs O(1) plus O(1) per row.
template <class Emit>
void TrafficTextStore::wrapBytes(std::int64_t from, std::int64_t to, WrapState& state, Emit&& emit) const {
    const std::int64_t columns = columns_;
    // A byte at `position` finds no cell left: the row ends after its last
    // blank, or at the edge when it has none.
    auto wrapAt = [&](std::int64_t position) {
        const std::int64_t start = state.afterBlank >= 0 ? state.afterBlank : position;
        emit(start);
        state.column = position - start;  // plain bytes, one cell each
        state.afterBlank = -1;
    };
    auto placePlain = [&](std::int64_t position, std::int64_t count) {
        while (count > 0) {
            const std::int64_t room = columns - state.column;
            if (count <= room) {
                state.column += count;
                return;
            }
            position += room;
            count -= room;
            wrapAt(position);
        }
    };
    std::int64_t base = from;
    visit(from, to - from, [&](const char* data, std::size_t length) {
        std::size_t i = 0;
        while (i < length) {
            std::size_t j = i;
            while (j + 8 <= length && !hasByteBelow33(data + j)) j += 8;
            while (j < length && isPlain(data[j])) ++j;
            if (j > i) placePlain(base + static_cast<std::int64_t>(i), static_cast<std::int64_t>(j - i));
            if (j >= length) break;
            const std::int64_t position = base + static_cast<std::int64_t>(j);
            const char byte = data[j];
            if (byte == '\n' || byte == '\r') {
                state = {};
            } else if (byte == ' ' || byte == '\t') {
                if (state.column >= columns) wrapAt(position);
                state.column += byte == '\t' ? tabCells(state.column) : 1;
                state.afterBlank = position + 1;
            } else {
                placePlain(position, 1);
            }
            i = j + 1;
        }
        base += static_cast<std::int64_t>(length);
    });
}

void TrafficTextStore::wrapAppended(std::int64_t from) {
    wrapBytes(from, size(), tail_, [this](std::int64_t wrap) {
        // Later than every wrap held, so it goes at the end of its chunk.
        const std::size_t chunk = chunkOf(wrap);
        chunks_[chunk].wraps.push_back(static_cast<std::uint16_t>(wrap - chunkStart(chunk)));
        refreshRowTotals(chunk);
    });
}

// Removes the wraps in [from, to).
void TrafficTextStore::eraseWraps(std::int64_t from, std::int64_t to) {
    if (from >= to) return;
    for (std::size_t chunk = chunkOf(from), last = chunkOf(to); chunk <= last; ++chunk) {
        const std::int64_t base = chunkStart(chunk);
        std::vector<std::uint16_t>& wraps = chunks_[chunk].wraps;
        auto offsetBelow = [](std::uint16_t offset, std::int64_t value) { return offset < value; };
        wraps.erase(std::lower_bound(wraps.begin(), wraps.end(), from - base, offsetBelow),
                    std::lower_bound(wraps.begin(), wraps.end(), to - base, offsetBelow));
    }
}

// Lays out [from, to) again, where `from` is the start of a row and `to` the
// end of a line. The wraps in (from, settled) are replaced; those from
// `settled` on (text after an edit) stand until the new rows meet one of them,
// since from a common row start on, the rows are the same again.
void TrafficTextStore::layOut(std::int64_t from, std::int64_t to, std::int64_t settled) {
    eraseWraps(from + 1, std::min(settled, to));
    std::int64_t checkedUpTo = settled;  // old wraps in [settled, checkedUpTo) are gone
    std::int64_t touched = from;
    bool met = false;
    WrapState state;
    auto emit = [&](std::int64_t wrap) {
        if (met) return;
        touched = std::max(touched, wrap);
        const std::size_t chunk = chunkOf(wrap);
        std::vector<std::uint16_t>& wraps = chunks_[chunk].wraps;
        const auto local = static_cast<std::uint16_t>(wrap - chunkStart(chunk));
        if (wrap >= settled) {
            // The old wraps in [checkedUpTo, wrap) are gone; the first of them in
            // this chunk, if any, takes the new wrap's place (no shifting).
            const std::int64_t base = chunkStart(chunk);
            eraseWraps(checkedUpTo, std::max(checkedUpTo, base));
            const auto low =
                std::lower_bound(wraps.begin(), wraps.end(),
                                 static_cast<std::uint16_t>(std::max<std::int64_t>(0, checkedUpTo - base)));
            const auto high = std::lower_bound(low, wraps.end(), local);
            checkedUpTo = wrap + 1;
            if (high != wraps.end() && *high == local) {
                wraps.erase(low, high);
                met = true;
                return;
            }
            if (low != high) {
                *low = local;
                wraps.erase(low + 1, high);
                return;
            }
        }
        wraps.insert(std::upper_bound(wraps.begin(), wraps.end(), local), local);
    };
    // In pieces, so that meeting the old rows ends the work.
    constexpr std::int64_t kPiece = 64 * 1024;
    for (std::int64_t start = from; start < to && !met; start += kPiece) {
        wrapBytes(start, std::min(to, start + kPiece), state, emit);
    }
    if (!met) {
        eraseWraps(std::max(checkedUpTo, settled), to);
        touched = to;
        if (to >= size()) tail_ = state;
    }
    for (std::size_t chunk = chunkOf(from), last = chunkOf(touched); chunk <= last; ++chunk) {
        refreshRowTotals(chunk);
    }
}

}  // namespace ostrel::window

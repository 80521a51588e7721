// Wrapping of the traffic text into rows: where rows begin inside lines.

#include "window/byte_scan.h"
#include "window/traffic_text_store.h"

namespace ostrel::window {

namespace {

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
            while (j + 8 <= length && !hasByteBelow<0x21>(data + j)) j += 8;
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
        editableChunkAt(chunk).wraps.push_back(static_cast<std::uint16_t>(wrap - chunkStart(chunk)));
        refreshRowTotals(chunk);
    });
}

// Removes the wraps in [from, to).
void TrafficTextStore::eraseWraps(std::int64_t from, std::int64_t to) {
    if (from >= to) return;
    for (std::size_t chunk = chunkOf(from), last = chunkOf(to); chunk <= last; ++chunk) {
        const std::int64_t base = chunkStart(chunk);
        std::vector<std::uint16_t>& wraps = editableChunkAt(chunk).wraps;
        auto offsetBelow = [](std::uint16_t offset, std::int64_t value) { return offset < value; };
        wraps.erase(std::lower_bound(wraps.begin(), wraps.end(), from - base, offsetBelow),
                    std::lower_bound(wraps.begin(), wraps.end(), to - base, offsetBelow));
    }
}

// Calls visit(position) for each wrap in [from, to), in order.
template <class Visit>
void TrafficTextStore::forWrapsIn(std::int64_t from, std::int64_t to, Visit&& visit) const {
    if (from >= to) return;
    for (std::size_t chunk = chunkOf(from), last = chunkOf(to); chunk <= last; ++chunk) {
        const std::int64_t base = chunkStart(chunk);
        for (const std::uint16_t offset : chunkAt(chunk).wraps) {
            const std::int64_t wrap = base + offset;
            if (wrap >= to) return;
            if (wrap >= from) visit(wrap);
        }
    }
}

// Adds `wraps` (in order, none held yet), each behind the wraps below it in
// its chunk: one splice per chunk.
void TrafficTextStore::insertWraps(std::span<const std::int64_t> wraps) {
    std::size_t done = 0;
    while (done < wraps.size()) {
        const std::size_t chunk = chunkOf(wraps[done]);
        const std::int64_t base = chunkStart(chunk);
        const std::int64_t limit = base + bytes_.value(chunk);
        std::vector<std::uint16_t> run;
        for (; done < wraps.size() && (wraps[done] < limit || chunk + 1 == chunks_.size()); ++done)
            run.push_back(static_cast<std::uint16_t>(wraps[done] - base));
        std::vector<std::uint16_t>& held = editableChunkAt(chunk).wraps;
        held.insert(std::upper_bound(held.begin(), held.end(), run.front()), run.begin(), run.end());
    }
}

// Lays out [from, to) again, where `from` is the start of a row and `to` the
// end of a line. The wraps in (from, settled) are replaced; those from
// `settled` on (text after an edit) stand until the new rows meet one of them,
// since from a common row start on, the rows are the same again. The work
// goes a chunk's length at a time: the new wraps of a piece are collected,
// compared with the old ones in one walk, and put in their place with one
// splice per chunk, so that a long line costs little per row.
void TrafficTextStore::layOut(std::int64_t from, std::int64_t to, std::int64_t settled) {
    eraseWraps(from + 1, std::min(settled, to));
    std::int64_t replacedUpTo = std::max(from + 1, settled);  // old wraps before it are gone
    std::int64_t met = -1;                                    // the old wrap the new rows met
    WrapState state;
    std::vector<std::int64_t> fresh;
    std::vector<std::int64_t> old;
    for (std::int64_t start = from; start < to && met < 0; start += chunkBytes_) {
        const std::int64_t end = std::min(to, start + chunkBytes_);
        fresh.clear();
        wrapBytes(start, end, state, [&](std::int64_t wrap) { fresh.push_back(wrap); });
        old.clear();
        forWrapsIn(replacedUpTo, end, [&](std::int64_t wrap) { old.push_back(wrap); });
        std::size_t keep = fresh.size();
        for (std::size_t i = 0, j = 0; i < fresh.size() && j < old.size(); ++i) {
            while (j < old.size() && old[j] < fresh[i]) ++j;
            if (j < old.size() && old[j] == fresh[i]) {
                met = fresh[i];
                keep = i;
                break;
            }
        }
        eraseWraps(replacedUpTo, met >= 0 ? met : end);
        insertWraps(std::span<const std::int64_t>(fresh.data(), keep));
        replacedUpTo = std::max(replacedUpTo, met >= 0 ? met : end);
    }
    if (met < 0 && to >= size()) tail_ = state;
    for (std::size_t chunk = chunkOf(from), last = chunkOf(met >= 0 ? met : to); chunk <= last; ++chunk) {
        refreshRowTotals(chunk);
    }
}

void TrafficTextStore::beginWrapColumns(int columns, std::int64_t nearFrom, std::int64_t nearTo) {
    columns = std::max(1, columns);
    if (columns == columns_ && !layoutPending()) return;
    columns_ = columns;
    // The last line first: appends go on from its wrap state.
    const TextLine last = lineAt(size());
    layOut(last.start, size(), size());
    const std::int64_t from = lineAt(std::clamp<std::int64_t>(nearFrom, 0, last.start)).start;
    const std::int64_t to = lineAt(std::clamp<std::int64_t>(nearTo, from, last.start)).end;
    if (from < last.start) layOut(from, to, to);
    layoutFrom_ = 0;
    layoutTo_ = last.start;
}

bool TrafficTextStore::continueLayout(std::int64_t bytes) {
    if (!layoutPending()) return false;
    // From the start of a line (an edit may have joined lines at the mark).
    const std::int64_t from = lineAt(layoutFrom_).start;
    const TextLine through = lineAt(std::min(from + std::max<std::int64_t>(1, bytes), layoutTo_) - 1);
    layOut(from, through.end, through.end);
    layoutFrom_ = through.next;
    if (layoutFrom_ >= layoutTo_) layoutFrom_ = layoutTo_ = 0;
    return layoutPending();
}

}  // namespace ostrel::window

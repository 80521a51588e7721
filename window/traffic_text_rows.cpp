// Line and row queries of the traffic text: offsets <-> lines <-> wrapped rows.

#include "window/traffic_text_store.h"

namespace ostrel::window {

std::size_t TrafficTextStore::chunkOf(std::int64_t position) const {
    if (position >= size()) return chunks_.size() - 1;
    if (position <= 0) return 0;
    return bytes_.find(position);
}

TrafficTextStore::BreakRef TrafficTextStore::breakAt(std::size_t chunk, std::size_t local,
                                                     std::int64_t base) const {
    const Chunk& holder = chunkAt(chunk);
    const std::size_t offset = holder.breaks[local];
    BreakRef ref{chunk, base + static_cast<std::int64_t>(offset), 1};
    if (holder.bytes[offset] == '\n') {
        const char before =
            offset > 0 ? holder.bytes[offset - 1] : (chunk > 0 ? chunkAt(chunk - 1).bytes.back() : '\0');
        if (before == '\r') ref.length = 2;
    }
    return ref;
}

TrafficTextStore::BreakRef TrafficTextStore::breakByIndex(std::int64_t index) const {
    const std::size_t chunk = breaks_.find(index);
    return breakAt(chunk, static_cast<std::size_t>(index - breaks_.prefix(chunk)), chunkStart(chunk));
}

std::int64_t TrafficTextStore::breaksBefore(std::int64_t position) const {
    if (position >= size()) return breaks_.total();
    if (position <= 0) return 0;
    const std::size_t chunk = bytes_.find(position);
    const auto local = static_cast<std::uint64_t>(position - chunkStart(chunk));
    const auto& breaks = chunkAt(chunk).breaks;
    const auto below =
        std::lower_bound(breaks.begin(), breaks.end(), local,
                         [](std::uint16_t offset, std::uint64_t value) { return offset < value; });
    return breaks_.prefix(chunk) + (below - breaks.begin());
}

// The line `index` that begins at `start` and ends with break `breakIndex`
// (the last line when there is no such break).
TextLine TrafficTextStore::lineEndingAt(std::int64_t index, std::int64_t start,
                                        std::int64_t breakIndex) const {
    if (breakIndex >= breaks_.total()) return {index, start, size(), size()};
    const BreakRef ending = breakByIndex(breakIndex);
    return {index, start, ending.global + 1 - ending.length, ending.global + 1};
}

TextLine TrafficTextStore::line(std::int64_t index) const {
    index = std::clamp<std::int64_t>(index, 0, lineCount() - 1);
    const std::int64_t start = index == 0 ? 0 : breakByIndex(index - 1).global + 1;
    return lineEndingAt(index, start, index);
}

TextLine TrafficTextStore::lineAt(std::int64_t position) const {
    return line(breaksBefore(position));
}

std::int64_t TrafficTextStore::wrapsUpTo(std::int64_t position) const {
    if (position < 0) return 0;
    const std::size_t chunk = chunkOf(position);
    const std::vector<std::uint16_t>& wraps = chunkAt(chunk).wraps;
    const std::int64_t local = position - chunkStart(chunk);
    const auto above =
        std::upper_bound(wraps.begin(), wraps.end(), local,
                         [](std::int64_t value, std::uint16_t offset) { return value < offset; });
    return wraps_.prefix(chunk) + (above - wraps.begin());
}

std::int64_t TrafficTextStore::wrapByIndex(std::int64_t index) const {
    const std::size_t chunk = wraps_.find(index);
    return chunkStart(chunk) + chunkAt(chunk).wraps[static_cast<std::size_t>(index - wraps_.prefix(chunk))];
}

// The end of the row that begins at `start` in `line`: the next wrap, or the
// end of the line.
std::int64_t TrafficTextStore::rowEnd(std::int64_t start, const TextLine& line) const {
    const std::int64_t before = wrapsUpTo(start);
    if (before >= wraps_.total()) return line.end;
    return std::min(wrapByIndex(before), line.end);
}

TextRow TrafficTextStore::rowStartingAt(std::int64_t index, std::int64_t start) const {
    const TextLine holder = lineAt(start);
    return {index, start, rowEnd(start, holder), holder};
}

TextRow TrafficTextStore::row(std::int64_t index) const {
    index = std::clamp<std::int64_t>(index, 0, rowCount() - 1);
    const std::size_t chunk = rows_.find(index);
    const std::int64_t wanted = index - rows_.prefix(chunk) + 1;
    // The rows of a chunk begin after its breaks and at its wraps (and at 0 in
    // chunk 0): the smallest local offset with `wanted` row starts up to it.
    const Chunk& holder = chunkAt(chunk);
    auto startsUpTo = [&](std::int64_t local) {
        const auto breaks =
            std::upper_bound(holder.breaks.begin(), holder.breaks.end(), local - 1,
                             [](std::int64_t value, std::uint16_t offset) { return value < offset; });
        const auto wraps =
            std::upper_bound(holder.wraps.begin(), holder.wraps.end(), local,
                             [](std::int64_t value, std::uint16_t offset) { return value < offset; });
        return (breaks - holder.breaks.begin()) + (wraps - holder.wraps.begin()) + (chunk == 0 ? 1 : 0);
    };
    std::int64_t low = 0;
    auto high = static_cast<std::int64_t>(holder.bytes.size());
    while (low < high) {
        const std::int64_t middle = low + (high - low) / 2;
        if (startsUpTo(middle) >= wanted) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return rowStartingAt(index, chunkStart(chunk) + low);
}

TextRow TrafficTextStore::nextRow(const TextRow& current) const {
    if (!current.isLastOfLine()) {
        return {current.index + 1, current.end, rowEnd(current.end, current.line), current.line};
    }
    if (current.line.index + 1 >= lineCount()) return current;
    const TextLine following =
        lineEndingAt(current.line.index + 1, current.line.next, current.line.index + 1);
    return {current.index + 1, following.start, rowEnd(following.start, following), following};
}

TextRow TrafficTextStore::rowAt(std::int64_t position) const {
    position = std::clamp<std::int64_t>(position, 0, size());
    const TextLine holder = lineAt(position);
    const std::int64_t wraps = wrapsUpTo(std::min(position, holder.end));
    const std::int64_t lastWrap = wraps > 0 ? wrapByIndex(wraps - 1) : -1;
    const std::int64_t start = std::max(holder.start, lastWrap);
    return {holder.index + wraps, start, rowEnd(start, holder), holder};
}

std::int64_t TrafficTextStore::cellOf(const TextRow& row, std::int64_t position) const {
    std::int64_t cell = 0;
    visit(row.start, std::clamp(position, row.start, row.end) - row.start,
          [&](const char* data, std::size_t length) {
              for (std::size_t i = 0; i < length; ++i) cell += data[i] == '\t' ? tabCells(cell) : 1;
          });
    return cell;
}

std::int64_t TrafficTextStore::positionAtCell(const TextRow& row, std::int64_t cell) const {
    std::int64_t position = row.start;
    std::int64_t at = 0;  // the cell where `position` begins
    bool found = false;
    visit(row.start, row.end - row.start, [&](const char* data, std::size_t length) {
        for (std::size_t i = 0; i < length && !found; ++i) {
            const std::int64_t width = data[i] == '\t' ? tabCells(at) : 1;
            if (2 * cell <= 2 * at + width) {
                found = true;
                return;
            }
            at += width;
            ++position;
        }
    });
    return position;
}

}  // namespace ostrel::window

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
    const Chunk& holder = chunks_[chunk];
    const std::size_t offset = holder.breaks[local];
    BreakRef ref{chunk, base + static_cast<std::int64_t>(offset), 1};
    if (holder.bytes[offset] == '\n') {
        const char before =
            offset > 0 ? holder.bytes[offset - 1] : (chunk > 0 ? chunks_[chunk - 1].bytes.back() : '\0');
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
    const auto& breaks = chunks_[chunk].breaks;
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

std::size_t TrafficTextStore::ownerOfLine(std::int64_t lineIndex) const {
    return lineIndex <= 0 ? 0 : breaks_.find(lineIndex - 1);
}

// Calls visit(TextLine) for the lines that `chunk` owns, in order, while it
// returns true: the first line for chunk 0, and the line after each break.
template <class Visit>
void TrafficTextStore::forOwnedLines(std::size_t chunk, Visit&& visit) const {
    const std::vector<std::uint16_t>& breaks = chunks_[chunk].breaks;
    const std::int64_t firstBreak = breaks_.prefix(chunk);
    const std::int64_t base = chunkStart(chunk);
    std::size_t local = 0;  // the break that ends the current line, when local < breaks.size()
    std::int64_t index = 0;
    std::int64_t start = 0;
    if (chunk != 0) {
        if (breaks.empty()) return;
        start = base + breaks.front() + 1;
        index = firstBreak + 1;
        local = 1;
    }
    while (true) {
        TextLine current;
        if (local < breaks.size()) {
            const BreakRef ending = breakAt(chunk, local, base);
            current = {index, start, ending.global + 1 - ending.length, ending.global + 1};
        } else {
            current = lineEndingAt(index, start, firstBreak + static_cast<std::int64_t>(breaks.size()));
        }
        if (!visit(current) || local >= breaks.size()) return;
        start = current.next;
        ++index;
        ++local;
    }
}

std::int64_t TrafficTextStore::countRows(std::size_t chunk) const {
    std::int64_t rows = 0;
    forOwnedLines(chunk, [&](const TextLine& owned) {
        rows += rowsFor(owned.length());
        return true;
    });
    return rows;
}

std::int64_t TrafficTextStore::rowsBeforeLine(std::int64_t lineIndex) const {
    if (lineIndex <= 0) return 0;
    const std::size_t owner = ownerOfLine(lineIndex);
    std::int64_t rows = rows_.prefix(owner);
    forOwnedLines(owner, [&](const TextLine& owned) {
        if (owned.index >= lineIndex) return false;
        rows += rowsFor(owned.length());
        return true;
    });
    return rows;
}

TextRow TrafficTextStore::row(std::int64_t index) const {
    index = std::clamp<std::int64_t>(index, 0, rowCount() - 1);
    const std::size_t owner = rows_.find(index);
    std::int64_t remaining = index - rows_.prefix(owner);
    TextRow found;
    forOwnedLines(owner, [&](const TextLine& owned) {
        const std::int64_t rows = rowsFor(owned.length());
        if (remaining >= rows) {
            remaining -= rows;
            return true;
        }
        const std::int64_t start = owned.start + remaining * columns_;
        found = {index, start, std::min(start + columns_, owned.end), owned};
        return false;
    });
    return found;
}

TextRow TrafficTextStore::nextRow(const TextRow& current) const {
    if (!current.isLastOfLine()) {
        return {current.index + 1, current.end, std::min(current.end + columns_, current.line.end),
                current.line};
    }
    if (current.line.index + 1 >= lineCount()) return current;
    const TextLine following =
        lineEndingAt(current.line.index + 1, current.line.next, current.line.index + 1);
    return {current.index + 1, following.start, std::min(following.start + columns_, following.end),
            following};
}

TextRow TrafficTextStore::rowAt(std::int64_t position) const {
    position = std::clamp<std::int64_t>(position, 0, size());
    const TextLine holder = lineAt(position);
    const std::int64_t length = holder.length();
    const std::int64_t column = std::min(position, holder.end) - holder.start;
    const std::int64_t rowInLine = (length > 0 && column == length && length % columns_ == 0)
                                       ? length / columns_ - 1
                                       : column / columns_;
    const std::int64_t start = holder.start + rowInLine * columns_;
    return {rowsBeforeLine(holder.index) + rowInLine, start, std::min(start + columns_, holder.end), holder};
}

}  // namespace ostrel::window

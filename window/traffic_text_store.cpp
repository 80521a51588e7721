// Storage and edits of the traffic text: chunks, their line breaks and the
// per-chunk totals. The line and row queries are in traffic_text_rows.cpp.

#include "window/traffic_text_store.h"

#include <cstring>
#include <iterator>
#include <utility>

#include "window/byte_scan.h"

namespace ostrel::window {

namespace {

constexpr std::int64_t kMaxChunkBytes = 65536;  // break offsets are 16 bits
constexpr int kNoByte = -1;

int byteValue(char byte) {
    return static_cast<unsigned char>(byte);
}

}  // namespace

TrafficTextStore::TrafficTextStore(int wrapColumns, std::int64_t chunkBytes)
    : columns_(std::max(1, wrapColumns)),
      chunkBytes_(std::clamp<std::int64_t>(chunkBytes, 1, kMaxChunkBytes)) {
    clear();
}

void TrafficTextStore::clear() {
    // A snapshot that another thread still reads keeps the old file open.
    spill_.reset();
    firstResident_ = 0;
    std::vector<SpillRecord>().swap(spilled_);
    cache_.clear();
    spillRetryAt_ = 0;
    std::vector<Chunk>(1).swap(chunks_);
    bytes_.assign({0});
    breaks_.assign({0});
    wraps_.assign({0});
    rows_.assign({1});
    tail_ = {};
    layoutFrom_ = layoutTo_ = 0;
}

void TrafficTextStore::setWrapColumns(int columns) {
    columns = std::max(1, columns);
    if (columns == columns_) return;
    columns_ = columns;
    layoutFrom_ = layoutTo_ = 0;
    layOut(0, size(), size());
}

char TrafficTextStore::at(std::int64_t position) const {
    if (position < 0 || position >= size()) return '\0';
    const std::size_t chunk = chunkOf(position);
    return chunkAt(chunk).bytes[static_cast<std::size_t>(position - chunkStart(chunk))];
}

std::string TrafficTextStore::read(std::int64_t position, std::int64_t count) const {
    std::string out;
    out.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, std::min(count, size()))));
    visit(position, count, [&out](const char* data, std::size_t length) { out.append(data, length); });
    return out;
}

bool TrafficTextStore::splitsBreak(std::int64_t position) const {
    return position > 0 && position < size() && at(position - 1) == '\r' && at(position) == '\n';
}

void TrafficTextStore::replace(std::int64_t position, std::int64_t removeCount, std::string_view text) {
    position = std::clamp<std::int64_t>(position, 0, size());
    removeCount = std::clamp<std::int64_t>(removeCount, 0, size() - position);
    if (removeCount == 0 && text.empty()) return;
    if (removeCount == 0 && position == size()) {
        appendAtEnd(text);
    } else {
        if (position < editableFrom()) return;  // spilled text stays as it is
        // A layout still pending moves with the text after the edit.
        const auto shift = [&](std::int64_t& mark) {
            if (mark > position) {
                mark = std::max(position, mark - removeCount) + static_cast<std::int64_t>(text.size());
            }
        };
        shift(layoutFrom_);
        shift(layoutTo_);
        rewriteRange(position, removeCount, text);
    }
    spillIfOverBudget();
}

// Records the breaks among bytes [from, end) of `chunk`; byteAfter is the byte
// that follows the chunk (kNoByte at the end of the text). A "\r" is a break
// of its own unless a "\n" follows it.
void TrafficTextStore::scanBreaks(Chunk& chunk, std::size_t from, int byteAfter) const {
    const std::string& bytes = chunk.bytes;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        // Skip eight bytes at a time while none of them is below 0x0E.
        while (i + 8 <= bytes.size() && !hasByteBelow<0x0E>(bytes.data() + i)) i += 8;
        if (i >= bytes.size()) break;
        const int byte = byteValue(bytes[i]);
        if (byte > '\r') continue;
        if (byte == '\n') {
            chunk.breaks.push_back(static_cast<std::uint16_t>(i));
        } else if (byte == '\r') {
            const int next = i + 1 < bytes.size() ? byteValue(bytes[i + 1]) : byteAfter;
            if (next != '\n') chunk.breaks.push_back(static_cast<std::uint16_t>(i));
        }
    }
}

void TrafficTextStore::appendAtEnd(std::string_view text) {
    const std::int64_t oldSize = size();
    const std::size_t firstTouched = chunks_.size() - 1;
    bool joinsCarriageReturn = false;
    {
        // A "\r" at the end was a break of its own; a leading "\n" joins it.
        Chunk& last = chunks_.back();
        joinsCarriageReturn = !last.bytes.empty() && last.bytes.back() == '\r' && text.front() == '\n';
        if (joinsCarriageReturn) {
            last.breaks.pop_back();
            breaks_.set(firstTouched, static_cast<std::int64_t>(last.breaks.size()));
        }
    }
    std::size_t done = 0;
    while (done < text.size()) {
        if (static_cast<std::int64_t>(chunks_.back().bytes.size()) >= chunkBytes_) {
            chunks_.emplace_back();
            bytes_.pushBack(0);
            breaks_.pushBack(0);
            wraps_.pushBack(0);
            rows_.pushBack(0);
        }
        Chunk& chunk = chunks_.back();
        const auto capacity = static_cast<std::size_t>(chunkBytes_);
        if (chunk.bytes.capacity() < capacity) chunk.bytes.reserve(capacity);
        const std::size_t from = chunk.bytes.size();
        const std::size_t take = std::min(capacity - from, text.size() - done);
        chunk.bytes.append(text.data() + done, take);
        done += take;
        scanBreaks(chunk, from, done < text.size() ? byteValue(text[done]) : kNoByte);
        // A full chunk takes no more breaks (except losing a trailing "\r"): drop the growth room.
        if (chunk.bytes.size() == capacity) chunk.breaks.shrink_to_fit();
        const std::size_t index = chunks_.size() - 1;
        bytes_.set(index, static_cast<std::int64_t>(chunk.bytes.size()));
        breaks_.set(index, static_cast<std::int64_t>(chunk.breaks.size()));
    }

    for (std::size_t chunk = firstTouched; chunk < chunks_.size(); ++chunk) refreshRowTotals(chunk);
    // Line breaks only restart the wrapping, so a "\r" joined by a "\n" needs nothing more.
    wrapAppended(oldSize);
}

void TrafficTextStore::rewriteRange(std::int64_t position, std::int64_t removeCount, std::string_view text) {
    const std::int64_t end = position + removeCount;
    std::size_t first = chunkOf(position);
    std::size_t last = removeCount > 0 ? chunkOf(end - 1) : first;
    std::int64_t firstStart = chunkStart(first);
    std::int64_t lastEnd = chunkStart(last) + bytes_.value(last);
    std::int64_t newLength =
        (position - firstStart) + static_cast<std::int64_t>(text.size()) + (lastEnd - end);
    // A chunk that deletions left small is merged with a neighbour.
    if (newLength < chunkBytes_ / 4) {
        auto sizeOf = [this](std::size_t chunk) { return bytes_.value(chunk); };
        if (last + 1 < chunks_.size() && newLength + sizeOf(last + 1) <= chunkBytes_) {
            ++last;
            lastEnd += sizeOf(last);
            newLength += sizeOf(last);
        } else if (first > firstResident_ && newLength + sizeOf(first - 1) <= chunkBytes_) {
            --first;
            firstStart -= sizeOf(first);
            newLength += sizeOf(first);
        }
    }

    std::string merged;
    merged.reserve(static_cast<std::size_t>(newLength));
    auto take = [&merged](const char* data, std::size_t length) { merged.append(data, length); };
    visit(firstStart, position - firstStart, take);
    merged.append(text);
    visit(end, lastEnd - end, take);

    // Even pieces of at most chunkBytes_ each, each string holding just its bytes.
    const auto total = static_cast<std::size_t>(newLength);
    const auto count = static_cast<std::size_t>((newLength + chunkBytes_ - 1) / chunkBytes_);
    std::vector<Chunk> pieces;
    pieces.reserve(count);
    for (std::size_t offset = 0; offset < total; offset += (total + count - 1) / count) {
        pieces.emplace_back().bytes.assign(merged, offset, (total + count - 1) / count);
    }
    merged = std::string();
    const int byteAfter = last + 1 < chunks_.size() ? byteValue(chunks_[last + 1].bytes.front()) : kNoByte;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        scanBreaks(pieces[i], 0, i + 1 < pieces.size() ? byteValue(pieces[i + 1].bytes.front()) : byteAfter);
    }
    if (first > 0) {
        // The byte before the edit may be a "\r" that gained or lost its "\n".
        Chunk& previous = editableChunkAt(first - 1);
        if (previous.bytes.back() == '\r') {
            const int next = pieces.empty() ? byteAfter : byteValue(pieces.front().bytes.front());
            const auto lastOffset = static_cast<std::uint16_t>(previous.bytes.size() - 1);
            const bool recorded = !previous.breaks.empty() && previous.breaks.back() == lastOffset;
            if (next != '\n' && !recorded) previous.breaks.push_back(lastOffset);
            if (next == '\n' && recorded) previous.breaks.pop_back();
            breaks_.set(first - 1, static_cast<std::int64_t>(previous.breaks.size()));
        }
    }
    const std::size_t added = pieces.size();
    placePieces(first, last, std::move(pieces));
    if (first > 0) refreshRowTotals(first - 1);

    // A wrap is decided by the bytes up to a row's width after it, so the rows
    // that begin a width before the edit and the rewritten chunks stay; the
    // text from there to the end of the line that holds the end of the edit
    // and of the new chunks is laid out again.
    const std::int64_t inserted = position + static_cast<std::int64_t>(text.size());
    const std::int64_t low = std::max<std::int64_t>(0, std::min(position, firstStart) - 1);
    const std::int64_t high =
        std::max(inserted, first + added < chunks_.size() ? chunkStart(first + added) : size());
    const std::int64_t wrapsBefore = wrapsUpTo(low - columns_);
    const std::int64_t from =
        std::max(lineAt(low).start, wrapsBefore > 0 ? wrapByIndex(wrapsBefore - 1) : std::int64_t{0});
    const std::int64_t to = lineAt(high).end;
    // The last row, when the new rows meet the old ones before it, moved with the text.
    if (tail_.afterBlank >= 0) tail_.afterBlank += static_cast<std::int64_t>(text.size()) - removeCount;
    layOut(from, to, inserted);
}

// Puts `pieces` in the place of chunks [first, last] and brings the totals up
// to date; the rows of the pieces are left at 0 for the caller to count.
void TrafficTextStore::placePieces(std::size_t first, std::size_t last, std::vector<Chunk> pieces) {
    const std::size_t removed = last - first + 1;
    if (pieces.size() == removed) {
        for (std::size_t i = 0; i < removed; ++i) {
            chunks_[first + i] = std::move(pieces[i]);
            bytes_.set(first + i, static_cast<std::int64_t>(chunks_[first + i].bytes.size()));
            breaks_.set(first + i, static_cast<std::int64_t>(chunks_[first + i].breaks.size()));
            refreshRowTotals(first + i);
        }
        return;
    }
    chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(first),
                  chunks_.begin() + static_cast<std::ptrdiff_t>(last + 1));
    chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(first),
                   std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    if (chunks_.empty()) chunks_.emplace_back();
    std::vector<std::int64_t> bytes(chunks_.size());
    std::vector<std::int64_t> breaks(chunks_.size());
    std::vector<std::int64_t> wraps(chunks_.size());
    std::vector<std::int64_t> rows(chunks_.size());
    // Spilled chunks lie before `first` and keep their totals.
    for (std::size_t chunk = 0; chunk < firstResident_; ++chunk) {
        bytes[chunk] = bytes_.value(chunk);
        breaks[chunk] = breaks_.value(chunk);
        wraps[chunk] = wraps_.value(chunk);
        rows[chunk] = rows_.value(chunk);
    }
    for (std::size_t chunk = firstResident_; chunk < chunks_.size(); ++chunk) {
        bytes[chunk] = static_cast<std::int64_t>(chunks_[chunk].bytes.size());
        breaks[chunk] = static_cast<std::int64_t>(chunks_[chunk].breaks.size());
        wraps[chunk] = static_cast<std::int64_t>(chunks_[chunk].wraps.size());
        rows[chunk] = rowsOf(chunk);
    }
    bytes_.assign(std::move(bytes));
    breaks_.assign(std::move(breaks));
    wraps_.assign(std::move(wraps));
    rows_.assign(std::move(rows));
}

void TrafficTextStore::refreshRowTotals(std::size_t chunk) {
    wraps_.set(chunk, static_cast<std::int64_t>(chunkAt(chunk).wraps.size()));
    rows_.set(chunk, rowsOf(chunk));
}

std::size_t TrafficTextStore::memoryBytes() const {
    std::size_t total = sizeof(*this) + chunks_.capacity() * sizeof(Chunk);
    for (const Chunk& chunk : chunks_) {
        total += chunk.bytes.capacity() +
                 (chunk.breaks.capacity() + chunk.wraps.capacity()) * sizeof(std::uint16_t);
    }
    for (const CacheSlot& slot : cache_) {
        total += sizeof(slot) + slot.data.bytes.capacity() +
                 (slot.data.breaks.capacity() + slot.data.wraps.capacity()) * sizeof(std::uint16_t);
    }
    total += spilled_.capacity() * sizeof(SpillRecord);
    return total + bytes_.memoryBytes() + breaks_.memoryBytes() + wraps_.memoryBytes() + rows_.memoryBytes();
}

}  // namespace ostrel::window

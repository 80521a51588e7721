#pragma once
// The text of the traffic window, without any toolkit: 8-bit text (one byte is
// one character) in chunks of at most 64 KiB, with running totals per chunk so
// that the cost of an edit does not grow with the text already held.
//
// Line breaks: "\r\n" is one break, and a lone "\r" or a lone "\n" is a break
// too. A "\r" at the very end is a break until a "\n" joins it. A break is
// recorded by the offset of its last byte inside its chunk (16 bits each).
//
// Rows: lines are wrapped into rows of at most wrapColumns() cells. A byte takes
// one cell, except a TAB, which runs to the next multiple of 8 cells counted
// from the start of its row (or to the row's edge, whichever comes first). A
// row is filled greedily; when the next byte finds no cell left, the row ends
// after its last blank (space or TAB), so a word such as "0x41" is never split,
// and only a row without any blank ends at the edge. Each row that does not
// begin a line starts at a "wrap", recorded like a break: by its offset inside
// the chunk that holds it. Row k of a chunk is found among its line starts and
// wraps by a binary search, so row <-> offset lookups are O(log n).
//
// Costs: appending at the end is amortised O(appended bytes), whatever the
// length of the last line (the wrap state of its last row is kept); an edit
// elsewhere rewrites the chunks it touches (O(chunk)) and lays out again the
// lines it touches (from the last row start before it); a new width lays out
// the whole text again. Storage is about one byte per byte held, plus 2 bytes
// per line and per wrapped row.
//
// Spilling: with setSpill(), the store keeps about residentBytes of the newest
// text in memory and moves older chunks, oldest first, to a SpillFile (their
// bytes, then their break and wrap offsets); in memory a spilled chunk keeps
// only its totals and where it lies in the file. Queries read spilled chunks
// back through a small cache of recently used ones. Spilled text cannot be
// changed (edits before editableFrom() are ignored), except that a new width
// lays it out again: its new wraps are written to the file's end. A file that
// cannot be opened or written leaves the text in memory (spillProblem() says
// why) and is tried again after another residentBytes of text.
//
// Not thread-safe: the traffic view uses it on the UI thread only. Other
// threads read the text through a TextSnapshot.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "window/traffic_prefix_sums.h"
#include "window/traffic_text_snapshot.h"
#include "window/traffic_text_spill.h"

namespace ostrel::window {

// One logical line: [start, end) is its text and [end, next) its line break
// (empty for the last line, whose next is the size of the text).
struct TextLine {
    std::int64_t index = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t next = 0;

    std::int64_t length() const { return end - start; }
};

// One visual row: the characters [start, end) of `line`.
struct TextRow {
    std::int64_t index = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    TextLine line;

    bool isLastOfLine() const { return end == line.end; }
};

class TrafficTextStore {
public:
    static constexpr std::int64_t kDefaultChunkBytes = 64 * 1024;

    // chunkBytes (1 to 65536) is a parameter so that tests can cross chunk
    // boundaries with short texts.
    explicit TrafficTextStore(int wrapColumns = 80, std::int64_t chunkBytes = kDefaultChunkBytes);

    std::int64_t size() const { return bytes_.total(); }
    std::int64_t lineCount() const { return breaks_.total() + 1; }
    std::int64_t rowCount() const { return rows_.total(); }
    int wrapColumns() const { return columns_; }
    // Lays out the whole text again when the width changes: O(size).
    void setWrapColumns(int columns);
    // The same a piece at a time, for a text too large to lay out at once:
    // the lines that hold [nearFrom, nearTo) (what is shown) and the last line
    // are laid out now, the rest by continueLayout() calls, from the start.
    // Until then those rows keep their old width; every query stays valid.
    void beginWrapColumns(int columns, std::int64_t nearFrom, std::int64_t nearTo);
    // Lays out about `bytes` more (whole lines); false once nothing is left.
    bool continueLayout(std::int64_t bytes);
    bool layoutPending() const { return layoutFrom_ < layoutTo_; }
    // Cells a TAB takes when it stands at `column` of a row.
    int tabCells(std::int64_t column) const {
        return static_cast<int>(
            std::min<std::int64_t>(8 - column % 8, std::max<std::int64_t>(1, columns_ - column)));
    }
    // The cell where `position` (clamped to the row) begins in `row`.
    std::int64_t cellOf(const TextRow& row, std::int64_t position) const;
    // The position in `row` whose left edge is nearest to the edge of `cell`
    // (a cell within a TAB maps to the nearer edge of the TAB).
    std::int64_t positionAtCell(const TextRow& row, std::int64_t cell) const;

    // Replaces [position, position + removeCount) by `text`; out-of-range
    // values are clamped to the text.
    void replace(std::int64_t position, std::int64_t removeCount, std::string_view text);
    void erase(std::int64_t position, std::int64_t count) { replace(position, count, {}); }
    void append(std::string_view text) { replace(size(), 0, text); }
    void clear();

    char at(std::int64_t position) const;
    std::string read(std::int64_t position, std::int64_t count) const;
    std::string text() const { return read(0, size()); }
    // Calls visit(const char* data, std::size_t length) for each stored piece
    // of [position, position + count), in order, without copying.
    template <class Visit>
    void visit(std::int64_t position, std::int64_t count, Visit&& consume) const;
    // True when `position` lies between the "\r" and the "\n" of one break.
    bool splitsBreak(std::int64_t position) const;

    TextLine line(std::int64_t index) const;
    TextLine lineAt(std::int64_t position) const;
    // Rows are clamped to [0, rowCount()).
    TextRow row(std::int64_t index) const;
    TextRow nextRow(const TextRow& row) const;
    // The row where a caret at `position` stands. A caret at the end of a line
    // whose length is a multiple of the width stands at the end of its last row.
    TextRow rowAt(std::int64_t position) const;

    // Bytes of storage held in memory (text, break offsets, totals, cache).
    std::size_t memoryBytes() const;

    // --- Spilling to a file (see above) ---------------------------------------
    using SpillOpener = std::function<platform::Result<std::shared_ptr<SpillFile>>()>;
    // `open` is called when the text first grows beyond residentBytes (and
    // again after clear()).
    void setSpill(SpillOpener open, std::int64_t residentBytes);
    // The operator's edits are taken from here on; the text before lies in the file.
    std::int64_t editableFrom() const { return chunkStart(firstResident_); }
    std::int64_t spilledBytes() const { return editableFrom(); }
    // Waits until the spilled text is written to the file (or its writing failed).
    void flushSpill() const {
        if (spill_) spill_->flush();
    }
    // Why text stays in memory or could not be read back ("" when all went well).
    const std::string& spillProblem() const { return spillProblem_; }
    // The text as it stands, for another thread: spilled bytes by their place
    // in the file (they never change), the rest copied.
    TextSnapshot snapshot() const;

private:
    struct Chunk {
        std::string bytes;
        std::vector<std::uint16_t> breaks;  // offsets of the last byte of each break
        std::vector<std::uint16_t> wraps;   // offsets where a row begins inside a line
    };
    // Where the wrapping of the text's last row stands: the cells used, and the
    // offset after its last blank (-1 when it has none).
    struct WrapState {
        std::int64_t column = 0;
        std::int64_t afterBlank = -1;
    };
    struct BreakRef {
        std::size_t chunk = 0;
        std::int64_t global = 0;  // offset of the break's last byte
        int length = 1;           // 2 for "\r\n"
    };

    std::size_t chunkOf(std::int64_t position) const;
    std::int64_t chunkStart(std::size_t chunk) const { return bytes_.prefix(chunk); }
    BreakRef breakAt(std::size_t chunk, std::size_t local, std::int64_t base) const;
    BreakRef breakByIndex(std::int64_t index) const;
    std::int64_t breaksBefore(std::int64_t position) const;
    TextLine lineEndingAt(std::int64_t index, std::int64_t start, std::int64_t breakIndex) const;
    std::int64_t wrapsUpTo(std::int64_t position) const;
    std::int64_t wrapByIndex(std::int64_t index) const;
    std::int64_t rowEnd(std::int64_t start, const TextLine& line) const;
    TextRow rowStartingAt(std::int64_t index, std::int64_t start) const;
    std::int64_t rowsOf(std::size_t chunk) const {
        const Chunk& held = chunkAt(chunk);
        return static_cast<std::int64_t>(held.breaks.size() + held.wraps.size()) + (chunk == 0 ? 1 : 0);
    }
    void refreshRowTotals(std::size_t chunk);

    // A chunk for reading (a spilled one from the cache) or for changing its
    // break and wrap offsets (a spilled one is written back when evicted).
    const Chunk& chunkAt(std::size_t chunk) const {
        return chunk < firstResident_ ? spilledChunk(chunk) : chunks_[chunk];
    }
    Chunk& editableChunkAt(std::size_t chunk);
    struct SpillRecord {
        std::int64_t bytesAt = 0;  // where the chunk's bytes lie in the file
        std::int64_t marksAt = 0;  // where its break offsets lie, its wrap offsets after them
        std::uint32_t breakCount = 0;
        std::uint32_t wrapCount = 0;
    };
    struct CacheSlot {
        std::size_t chunk = 0;
        Chunk data;
        std::uint64_t lastUse = 0;
        bool dirty = false;
    };
    CacheSlot& slotFor(std::size_t chunk) const;
    const Chunk& spilledChunk(std::size_t chunk) const { return slotFor(chunk).data; }
    void loadSlot(CacheSlot& slot, std::size_t chunk) const;
    bool writeBack(CacheSlot& slot) const;
    void spillIfOverBudget();
    bool spillOldest();
    std::int64_t residentStart() const { return chunkStart(firstResident_); }

    void appendAtEnd(std::string_view text);
    void rewriteRange(std::int64_t position, std::int64_t removeCount, std::string_view text);
    void scanBreaks(Chunk& chunk, std::size_t from, int byteAfter) const;
    template <class Emit>
    void wrapBytes(std::int64_t from, std::int64_t to, WrapState& state, Emit&& emit) const;
    void wrapAppended(std::int64_t from);
    void eraseWraps(std::int64_t from, std::int64_t to);
    template <class Visit>
    void forWrapsIn(std::int64_t from, std::int64_t to, Visit&& visit) const;
    void insertWraps(std::span<const std::int64_t> wraps);
    void layOut(std::int64_t from, std::int64_t to, std::int64_t settled);
    void placePieces(std::size_t first, std::size_t last, std::vector<Chunk> pieces);

    int columns_;
    std::int64_t chunkBytes_;
    std::vector<Chunk> chunks_;  // never empty; only a sole chunk may be empty
    PrefixSums bytes_;
    PrefixSums breaks_;
    PrefixSums wraps_;
    PrefixSums rows_;  // line starts (the first line counts in chunk 0) plus wraps
    WrapState tail_;   // of the last row of the text
    // [layoutFrom_, layoutTo_): lines that may still have rows of an older width.
    std::int64_t layoutFrom_ = 0;
    std::int64_t layoutTo_ = 0;

    SpillOpener openSpill_;
    std::int64_t residentBudget_ = 0;  // 0: no spilling
    std::shared_ptr<SpillFile> spill_;
    std::size_t firstResident_ = 0;             // chunks before it are spilled
    mutable std::vector<SpillRecord> spilled_;  // one per spilled chunk
    mutable std::deque<CacheSlot> cache_;       // a deque: slots never move
    mutable std::uint64_t useClock_ = 0;
    mutable std::string spillProblem_;
    std::int64_t spillRetryAt_ = 0;  // no new try to spill before the text has this size
};

template <class Visit>
void TrafficTextStore::visit(std::int64_t position, std::int64_t count, Visit&& consume) const {
    position = std::clamp<std::int64_t>(position, 0, size());
    count = std::min(count, size() - position);
    if (count <= 0) return;
    std::size_t chunk = chunkOf(position);
    std::int64_t offset = position - chunkStart(chunk);
    while (count > 0 && chunk < chunks_.size()) {
        const std::string& bytes = chunkAt(chunk).bytes;
        const std::int64_t piece =
            std::min<std::int64_t>(count, static_cast<std::int64_t>(bytes.size()) - offset);
        if (piece > 0) consume(bytes.data() + offset, static_cast<std::size_t>(piece));
        count -= piece;
        offset = 0;
        ++chunk;
    }
}

}  // namespace ostrel::window

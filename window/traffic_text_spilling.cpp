// Spilling of the traffic text's older chunks to a file, the cache that reads
// them back, and snapshots for other threads.

#include <cstring>

#include "window/traffic_text_store.h"

namespace ostrel::window {

namespace {

constexpr std::size_t kCacheSlots = 16;

// The break offsets, then the wrap offsets, as the file holds them.
std::string marksOf(const std::vector<std::uint16_t>& breaks, const std::vector<std::uint16_t>& wraps) {
    std::string marks((breaks.size() + wraps.size()) * sizeof(std::uint16_t), '\0');
    if (!breaks.empty()) std::memcpy(marks.data(), breaks.data(), breaks.size() * sizeof(std::uint16_t));
    if (!wraps.empty()) {
        std::memcpy(marks.data() + breaks.size() * sizeof(std::uint16_t), wraps.data(),
                    wraps.size() * sizeof(std::uint16_t));
    }
    return marks;
}

}  // namespace

void TrafficTextStore::setSpill(SpillOpener open, std::int64_t residentBytes) {
    openSpill_ = std::move(open);
    residentBudget_ = openSpill_ ? std::max<std::int64_t>(0, residentBytes) : 0;
    spillRetryAt_ = 0;
    spillIfOverBudget();
}

void TrafficTextStore::spillIfOverBudget() {
    if (residentBudget_ <= 0 || size() < spillRetryAt_) return;
    // Some slack, so that the spilling comes a chunk at a time rather than at every append.
    if (size() - residentStart() <= residentBudget_ + chunkBytes_) return;
    if (!spill_) {
        auto opened = openSpill_();
        if (!opened) {
            spillProblem_ = "the traffic window keeps its text in memory: " + opened.error().describe();
            spillRetryAt_ = size() + residentBudget_;
            return;
        }
        spill_ = std::move(opened.value());
    }
    while (firstResident_ + 1 < chunks_.size() && size() - residentStart() > residentBudget_) {
        if (!spillOldest()) {
            spillRetryAt_ = size() + residentBudget_;
            return;
        }
    }
}

// Moves the oldest chunk in memory to the file: its bytes and marks in one write.
bool TrafficTextStore::spillOldest() {
    Chunk& chunk = chunks_[firstResident_];
    std::string record = chunk.bytes;
    record += marksOf(chunk.breaks, chunk.wraps);
    std::int64_t at = 0;
    const platform::Status written = spill_->appendBytes(record, at);
    if (!written) {
        spillProblem_ = "the traffic window keeps its text in memory: " + written.error().describe();
        return false;
    }
    spilled_.push_back({at, at + static_cast<std::int64_t>(chunk.bytes.size()),
                        static_cast<std::uint32_t>(chunk.breaks.size()),
                        static_cast<std::uint32_t>(chunk.wraps.size())});
    // Swapped with empty ones: a move assignment may keep the string's buffer.
    std::string().swap(chunk.bytes);
    std::vector<std::uint16_t>().swap(chunk.breaks);
    std::vector<std::uint16_t>().swap(chunk.wraps);
    ++firstResident_;
    return true;
}

TrafficTextStore::Chunk& TrafficTextStore::editableChunkAt(std::size_t chunk) {
    if (chunk >= firstResident_) return chunks_[chunk];
    CacheSlot& slot = slotFor(chunk);
    slot.dirty = true;
    return slot.data;
}

// The cache slot that holds spilled `chunk`, read in when missing: a free
// slot, else the least recently used one (written back first when changed; a
// slot that cannot be written back stays, and a new one is made).
TrafficTextStore::CacheSlot& TrafficTextStore::slotFor(std::size_t chunk) const {
    for (CacheSlot& slot : cache_) {
        if (slot.chunk == chunk) {
            slot.lastUse = ++useClock_;
            return slot;
        }
    }
    CacheSlot* victim = nullptr;
    if (cache_.size() < kCacheSlots) {
        victim = &cache_.emplace_back();
    } else {
        victim = &cache_.front();
        for (CacheSlot& slot : cache_) {
            if (slot.lastUse < victim->lastUse) victim = &slot;
        }
        if (victim->dirty && !writeBack(*victim)) victim = &cache_.emplace_back();
    }
    loadSlot(*victim, chunk);
    victim->lastUse = ++useClock_;
    return *victim;
}

void TrafficTextStore::loadSlot(CacheSlot& slot, std::size_t chunk) const {
    const SpillRecord& record = spilled_[chunk];
    slot.chunk = chunk;
    slot.dirty = false;
    slot.data.bytes.resize(static_cast<std::size_t>(bytes_.value(chunk)));
    slot.data.breaks.resize(record.breakCount);
    slot.data.wraps.resize(record.wrapCount);
    std::string marks((record.breakCount + record.wrapCount) * sizeof(std::uint16_t), '\0');
    platform::Status read = spill_->readAt(record.bytesAt, slot.data.bytes);
    if (read) read = spill_->readAt(record.marksAt, marks);
    if (read) {
        // (An empty vector's data() may be null, which memcpy must not get.)
        if (record.breakCount > 0)
            std::memcpy(slot.data.breaks.data(), marks.data(), record.breakCount * sizeof(std::uint16_t));
        if (record.wrapCount > 0) {
            std::memcpy(slot.data.wraps.data(), marks.data() + record.breakCount * sizeof(std::uint16_t),
                        record.wrapCount * sizeof(std::uint16_t));
        }
        return;
    }
    // The file failed (an I/O error): the chunk is shown as '?', its marks
    // made up in order so that every count still holds.
    spillProblem_ = "part of the traffic window's text could not be read back: " + read.error().describe();
    std::fill(slot.data.bytes.begin(), slot.data.bytes.end(), '?');
    const std::size_t last = std::max<std::size_t>(1, slot.data.bytes.size()) - 1;
    for (std::size_t i = 0; i < slot.data.breaks.size(); ++i)
        slot.data.breaks[i] = static_cast<std::uint16_t>(std::min(i, last));
    for (std::size_t i = 0; i < slot.data.wraps.size(); ++i)
        slot.data.wraps[i] = static_cast<std::uint16_t>(std::min(i, last));
}

// Writes a changed slot's marks to the file's end (its bytes never change).
bool TrafficTextStore::writeBack(CacheSlot& slot) const {
    std::int64_t at = 0;
    if (!spill_->appendBytes(marksOf(slot.data.breaks, slot.data.wraps), at)) return false;
    SpillRecord& record = spilled_[slot.chunk];
    record.marksAt = at;
    record.breakCount = static_cast<std::uint32_t>(slot.data.breaks.size());
    record.wrapCount = static_cast<std::uint32_t>(slot.data.wraps.size());
    slot.dirty = false;
    return true;
}

TextSnapshot TrafficTextStore::snapshot() const {
    std::vector<TextSnapshot::Extent> extents;
    extents.reserve(firstResident_);
    for (std::size_t chunk = 0; chunk < firstResident_; ++chunk) {
        extents.push_back({spilled_[chunk].bytesAt, bytes_.value(chunk)});
    }
    return TextSnapshot(spill_, std::move(extents), read(editableFrom(), size() - editableFrom()));
}

}  // namespace ostrel::window

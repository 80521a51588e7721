#pragma once
// Running totals over a sequence of non-negative counts (a Fenwick tree): the
// traffic text store keeps one per quantity (bytes, line breaks, rows) with
// one entry per chunk. Point update, prefix sum, "which entry holds unit k"
// and push_back cost O(log n); inserting or erasing an entry rebuilds in O(n).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrel::window {

class PrefixSums {
public:
    std::int64_t value(std::size_t index) const { return values_[index]; }
    std::int64_t total() const { return total_; }

    // Sum of the first `count` entries.
    std::int64_t prefix(std::size_t count) const;
    // The entry i with prefix(i) <= unit < prefix(i + 1); entries of 0 are
    // never returned. Needs 0 <= unit < total().
    std::size_t find(std::int64_t unit) const;

    void set(std::size_t index, std::int64_t value);
    void pushBack(std::int64_t value);
    void assign(std::vector<std::int64_t> values);

    std::size_t memoryBytes() const;

private:
    static std::size_t lowBit(std::size_t i) { return i & (~i + 1); }

    std::vector<std::int64_t> values_;
    std::vector<std::int64_t> tree_ = {0};  // 1-based; tree_[0] is unused
    std::int64_t total_ = 0;
};

}  // namespace ostrel::window

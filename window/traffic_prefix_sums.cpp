#include "window/traffic_prefix_sums.h"

#include <bit>
#include <utility>

namespace ostrel::window {

std::int64_t PrefixSums::prefix(std::size_t count) const {
    std::int64_t sum = 0;
    for (std::size_t i = count; i > 0; i -= lowBit(i)) sum += tree_[i];
    return sum;
}

std::size_t PrefixSums::find(std::int64_t unit) const {
    const std::size_t n = values_.size();
    std::size_t position = 0;
    std::int64_t remaining = unit;
    for (std::size_t step = n == 0 ? 0 : std::bit_floor(n); step > 0; step >>= 1) {
        const std::size_t next = position + step;
        if (next <= n && tree_[next] <= remaining) {
            position = next;
            remaining -= tree_[next];
        }
    }
    return position;  // 0-based index of the entry that holds `unit`
}

void PrefixSums::set(std::size_t index, std::int64_t value) {
    const std::int64_t delta = value - values_[index];
    if (delta == 0) return;
    values_[index] = value;
    total_ += delta;
    for (std::size_t i = index + 1; i < tree_.size(); i += lowBit(i)) tree_[i] += delta;
}

void PrefixSums::pushBack(std::int64_t value) {
    values_.push_back(value);
    const std::size_t i = values_.size();
    // tree_[i] covers the entries (i - lowBit(i), i].
    tree_.push_back(value + prefix(i - 1) - prefix(i - lowBit(i)));
    total_ += value;
}

void PrefixSums::assign(std::vector<std::int64_t> values) {
    values_ = std::move(values);
    tree_.assign(values_.size() + 1, 0);
    total_ = 0;
    for (std::size_t i = 1; i <= values_.size(); ++i) {
        tree_[i] += values_[i - 1];
        total_ += values_[i - 1];
        const std::size_t parent = i + lowBit(i);
        if (parent < tree_.size()) tree_[parent] += tree_[i];
    }
}

std::size_t PrefixSums::memoryBytes() const {
    return (values_.capacity() + tree_.capacity()) * sizeof(std::int64_t);
}

}  // namespace ostrel::window

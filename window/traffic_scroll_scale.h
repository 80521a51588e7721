#pragma once
// Maps the traffic view's first visible row onto a scroll bar, whose values
// are ints. While the rows to scroll over fit in `limit`, a value is a row;
// beyond that the bar keeps the range [0, limit] and values are scaled.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ostrel::window {

struct ScrollScale {
    std::int64_t maxTopRow = 0;  // the last row that can be the first visible one
    std::int64_t limit = std::int64_t{1} << 30;

    bool isScaled() const { return maxTopRow > limit; }
    int maximum() const { return static_cast<int>(isScaled() ? limit : maxTopRow); }

    int valueForRow(std::int64_t row) const {
        row = std::clamp<std::int64_t>(row, 0, maxTopRow);
        if (!isScaled()) return static_cast<int>(row);
        const long double share = static_cast<long double>(row) / static_cast<long double>(maxTopRow);
        return static_cast<int>(std::llround(share * static_cast<long double>(limit)));
    }

    std::int64_t rowForValue(int value) const {
        if (!isScaled()) return std::clamp<std::int64_t>(value, 0, maxTopRow);
        const long double share = static_cast<long double>(value) / static_cast<long double>(limit);
        return std::clamp<std::int64_t>(std::llround(share * static_cast<long double>(maxTopRow)), 0,
                                        maxTopRow);
    }

    // The bar's page step for a page of `rows` rows (at least 1).
    int pageStep(int rows) const {
        if (!isScaled()) return std::max(1, rows);
        return static_cast<int>(std::max<std::int64_t>(1, limit * rows / maxTopRow));
    }
};

}  // namespace ostrel::window

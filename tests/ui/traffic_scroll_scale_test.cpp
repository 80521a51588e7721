// The scroll bar mapping of the traffic view: rows one to one while they fit,
// scaled onto a fixed range beyond (more rows than an int can count).

#include "ui/traffic_scroll_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace ostrel::ui {
namespace {

struct ScaleCase {
    std::int64_t maxTopRow;
    std::int64_t limit;
    std::int64_t row;
    int value;
};

TEST(TrafficScrollScale, MapsRowsToValues) {
    const std::vector<ScaleCase> cases = {
        {0, 1000, 0, 0},
        {500, 1000, 0, 0},
        {500, 1000, 250, 250},
        {500, 1000, 500, 500},
        {500, 1000, 900, 500},  // clamped to the last top row
        {1000, 1000, 1000, 1000},
        {4000, 1000, 0, 0},
        {4000, 1000, 2000, 500},
        {4000, 1000, 4000, 1000},
        {4000, 1000, 3999, 1000},
        {std::int64_t{5} << 32, std::int64_t{1} << 30, std::int64_t{5} << 31, 1 << 29},
    };
    for (const ScaleCase& c : cases) {
        const ScrollScale scale{c.maxTopRow, c.limit};
        EXPECT_EQ(scale.valueForRow(c.row), c.value) << c.maxTopRow << " " << c.row;
        EXPECT_LE(scale.maximum(), c.limit);
    }
}

TEST(TrafficScrollScale, ValuesComeBackToNearbyRows) {
    const ScrollScale scale{std::int64_t{3} << 33, std::int64_t{1} << 30};  // 24 Gi rows
    ASSERT_TRUE(scale.isScaled());
    EXPECT_EQ(scale.maximum(), 1 << 30);
    EXPECT_EQ(scale.rowForValue(0), 0);
    EXPECT_EQ(scale.rowForValue(scale.maximum()), scale.maxTopRow);
    const std::int64_t rowsPerValue = scale.maxTopRow / scale.limit;
    std::int64_t previous = -1;
    for (std::int64_t row = 0; row <= scale.maxTopRow; row += scale.maxTopRow / 97) {
        const int value = scale.valueForRow(row);
        EXPECT_LE(std::llabs(scale.rowForValue(value) - row), rowsPerValue) << row;
        EXPECT_GE(value, previous);
        previous = value;
    }
    EXPECT_EQ(scale.pageStep(40), 1);  // a page is less than one step of the bar
}

TEST(TrafficScrollScale, UnscaledValuesAreRows) {
    const ScrollScale scale{12345, std::int64_t{1} << 30};
    EXPECT_FALSE(scale.isScaled());
    EXPECT_EQ(scale.maximum(), 12345);
    EXPECT_EQ(scale.rowForValue(777), 777);
    EXPECT_EQ(scale.rowForValue(-5), 0);
    EXPECT_EQ(scale.pageStep(40), 40);
}

}  // namespace
}  // namespace ostrel::ui

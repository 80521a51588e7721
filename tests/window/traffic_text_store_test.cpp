// The traffic text store against a plain string model: line breaks, wrapped
// rows and edits across chunk boundaries (tiny chunks make every edit cross).

#include "window/traffic_text_store.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "traffic_text_model.h"

namespace ostrel::window {
namespace {

using testing::expectMatches;
using testing::key;
using testing::Model;
using testing::randomText;

TEST(TrafficTextStore, RecognisesEveryKindOfLineBreak) {
    using Case = std::pair<std::string, std::vector<std::int64_t>>;
    const Case cases[] = {Case{"", {0}},
                          Case{"abc", {3}},
                          Case{"a\r\nb", {1, 4}},
                          Case{"a\rb", {1, 3}},
                          Case{"a\nb", {1, 3}},
                          Case{"a\r\r\nb", {1, 2, 5}},
                          Case{"\n\r", {0, 1, 2}},
                          Case{"a\r", {1, 2}},
                          Case{"\r\n\r\n", {0, 2, 4}},
                          Case{"x\n\rz", {1, 2, 4}}};
    for (const auto& [text, lineEnds] : cases) {
        TrafficTextStore store;
        store.append(text);
        ASSERT_EQ(store.lineCount(), static_cast<std::int64_t>(lineEnds.size())) << text;
        for (std::size_t i = 0; i < lineEnds.size(); ++i)
            EXPECT_EQ(store.line(static_cast<std::int64_t>(i)).end, lineEnds[i]) << text << " line " << i;
    }
}

// Random edits of tiny chunks, checked against the model after every step.
TEST(TrafficTextStore, RandomEditsMatchThePlainModel) {
    std::mt19937 random(20240607);
    for (int round = 0; round < 40; ++round) {
        const int chunkBytes = 1 + static_cast<int>(random() % 9);
        Model model;
        model.columns = 1 + static_cast<int>(random() % 12);
        TrafficTextStore store(model.columns, chunkBytes);
        for (int step = 0; step < 60; ++step) {
            std::string text = randomText(random, 11);
            const auto size = static_cast<std::int64_t>(model.text.size());
            const int kind = static_cast<int>(random() % 10);
            std::string what;
            if (kind < 4) {
                what = "append";
                store.append(text);
                model.text += text;
            } else if (kind < 8) {
                const std::int64_t position = static_cast<std::int64_t>(random() % (size + 1));
                const std::int64_t count = size == position ? 0 : static_cast<std::int64_t>(random() % 6);
                const std::int64_t removed = std::min(count, size - position);
                what = "replace at " + std::to_string(position) + " count " + std::to_string(count);
                store.replace(position, count, text);
                model.text.replace(static_cast<std::size_t>(position), static_cast<std::size_t>(removed),
                                   text);
            } else if (kind < 9) {
                const std::int64_t position = static_cast<std::int64_t>(random() % (size + 1));
                const std::int64_t count = static_cast<std::int64_t>(random() % 30);
                what = "erase at " + std::to_string(position);
                store.erase(position, count);
                model.text.erase(static_cast<std::size_t>(position), static_cast<std::size_t>(count));
            } else {
                model.columns = 1 + static_cast<int>(random() % 12);
                what = "width " + std::to_string(model.columns);
                store.setWrapColumns(model.columns);
            }
            expectMatches(store, model,
                          "round " + std::to_string(round) + " step " + std::to_string(step) + " " + what);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// Bytes of every value, in pieces of every length, so that line breaks fall
// at every alignment and next to the values around "\r" and "\n".
TEST(TrafficTextStore, FindsBreaksAmongBytesOfEveryValue) {
    std::mt19937 random(77);
    Model model;
    model.columns = 13;
    TrafficTextStore store(13);
    while (model.text.size() < 300000) {
        std::string piece(random() % 5000, ' ');
        for (char& c : piece) {
            const unsigned value = random() % 64 == 0 ? random() % 16 : 0x0E + random() % 242;
            c = static_cast<char>(value & 0xFF);
        }
        store.append(piece);
        model.text += piece;
    }
    ASSERT_EQ(store.text(), model.text);
    const auto lines = model.lines();
    ASSERT_EQ(store.lineCount(), static_cast<std::int64_t>(lines.size()));
    for (const TextLine& line : lines) EXPECT_EQ(key(store.line(line.index)), key(line));
    EXPECT_EQ(store.rowCount(), static_cast<std::int64_t>(model.rows().size()));
}

// Text with words, HEX tokens, long runs without blanks, TABs and breaks,
// appended in random pieces at several widths, then laid out at new widths.
TEST(TrafficTextStore, WrapsAtBlanksAndTabStopsLikeThePlainModel) {
    std::mt19937 random(4242);
    const std::string pieces[] = {"0x41 ", "0x0D ", "word ", "\t", "ab\tc", "  ", "\r\n", "\n", "\r", "x"};
    for (const int chunkBytes : {7, 64, 65536}) {
        Model model;
        model.columns = 17;
        TrafficTextStore store(model.columns, chunkBytes);
        while (model.text.size() < 3000) {
            std::string text;
            const int count = 1 + static_cast<int>(random() % 20);
            for (int i = 0; i < count; ++i) {
                if (random() % 25 == 0) {
                    text += std::string(1 + random() % 60, 'R');  // longer than a row
                } else {
                    text += pieces[random() % std::size(pieces)];
                }
            }
            store.append(text);
            model.text += text;
        }
        for (const int columns : {17, 1, 3, 8, 9, 80, 5, 13}) {
            model.columns = columns;
            store.setWrapColumns(columns);
            expectMatches(store, model,
                          "chunk " + std::to_string(chunkBytes) + " width " + std::to_string(columns));
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(TrafficTextStore, KeepsHexTokensWholeAndTabsAtStopsOfEight) {
    TrafficTextStore store(12);
    store.append("0x41 0x42 0x43 0x44");
    // 12 cells take "0x41 0x42 0x" but the row ends after the blank.
    EXPECT_EQ(store.rowCount(), 2);
    EXPECT_EQ(store.row(0).end, 10);
    EXPECT_EQ(store.read(store.row(1).start, 9), "0x43 0x44");
    store.clear();
    store.append("ABCDEFGHIJKLMNOPQ");  // no blank: wraps at the edge
    EXPECT_EQ(store.row(0).end, 12);
    store.clear();
    store.append("a\tb\tc");
    const TextRow row = store.row(0);
    EXPECT_EQ(store.cellOf(row, 1), 1);
    EXPECT_EQ(store.cellOf(row, 2), 8);   // the TAB takes cells 1 to 7
    EXPECT_EQ(store.cellOf(row, 4), 12);  // the second one only reaches the edge
    EXPECT_EQ(store.rowCount(), 2);       // "c" finds no cell: the row ends after the TAB
    EXPECT_EQ(store.positionAtCell(row, 3), 1);
    EXPECT_EQ(store.positionAtCell(row, 5), 2);
}

// The worst case for storage: every byte ends a line.
TEST(TrafficTextStore, EmptyLinesStayWithinThreeBytesPerCharacter) {
    TrafficTextStore store;
    const std::string batch(100000, '\n');
    for (int i = 0; i < 40; ++i) store.append(batch);
    EXPECT_EQ(store.lineCount(), store.size() + 1);
    EXPECT_EQ(store.rowCount(), store.size() + 1);
    EXPECT_LE(store.memoryBytes(), static_cast<std::size_t>(3 * store.size() + 256 * 1024));
    store.clear();  // leaves one empty row
    EXPECT_EQ(store.size(), 0);
    EXPECT_EQ(store.lineCount(), 1);
    EXPECT_EQ(store.rowCount(), 1);
}

// A new width laid out a piece at a time, with appends and edits between the
// pieces: when it is done, every row is as in the model.
TEST(TrafficTextStore, ALayoutInPiecesEndsLikeTheModelWhateverHappensBetween) {
    std::mt19937 random(808);
    for (int round = 0; round < 60; ++round) {
        Model model;
        model.columns = 1 + static_cast<int>(random() % 12);
        TrafficTextStore store(model.columns, 1 + static_cast<int>(random() % 9));
        for (int i = 0; i < 20; ++i) {
            std::string text = randomText(random, 11);
            store.append(text);
            model.text += text;
        }
        const auto size = static_cast<std::int64_t>(model.text.size());
        model.columns = 1 + static_cast<int>(random() % 12);
        const std::int64_t near = static_cast<std::int64_t>(random() % (size + 1));
        store.beginWrapColumns(model.columns, near, near + static_cast<std::int64_t>(random() % 10));
        int steps = 0;
        while (store.layoutPending()) {
            std::string text = randomText(random, 4);
            const auto now = static_cast<std::int64_t>(model.text.size());
            if (random() % 2) {
                store.append(text);
                model.text += text;
            } else {
                const std::int64_t position = static_cast<std::int64_t>(random() % (now + 1));
                const std::int64_t count = std::min<std::int64_t>(random() % 4, now - position);
                store.replace(position, count, text);
                model.text.replace(static_cast<std::size_t>(position), static_cast<std::size_t>(count), text);
            }
            store.continueLayout(1 + static_cast<std::int64_t>(random() % 8));
            ASSERT_LT(++steps, 1000);
        }
        expectMatches(store, model, "round " + std::to_string(round));
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace
}  // namespace ostrel::window

#pragma once
// A plain string model of the traffic text's rules (line breaks, wrapped rows,
// TAB cells) and a check of a store against it, for the store's tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "window/traffic_text_store.h"

namespace ostrel::window::testing {

// The obvious, slow reading of the same rules.
struct Model {
    std::string text;
    int columns = 80;

    bool endsBreak(std::size_t i) const {
        return text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    }
    std::vector<TextLine> lines() const {
        std::vector<TextLine> out;
        std::int64_t start = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!endsBreak(i)) continue;
            const bool pair = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
            const auto end = static_cast<std::int64_t>(i) - (pair ? 1 : 0);
            out.push_back(
                {static_cast<std::int64_t>(out.size()), start, end, static_cast<std::int64_t>(i) + 1});
            start = static_cast<std::int64_t>(i) + 1;
        }
        const auto size = static_cast<std::int64_t>(text.size());
        out.push_back({static_cast<std::int64_t>(out.size()), start, size, size});
        return out;
    }
    static bool isBlank(char c) { return c == ' ' || c == '\t'; }
    // Cells of the byte at `i` when it stands at `column`.
    int cells(std::int64_t i, std::int64_t column) const {
        if (text[static_cast<std::size_t>(i)] != '\t') return 1;
        const std::int64_t stop = (column / 8 + 1) * 8;
        return static_cast<int>(std::min<std::int64_t>(stop, std::max<std::int64_t>(column + 1, columns)) -
                                column);
    }
    // Each row on its own: place bytes while a cell is left; if a byte is left
    // over, end the row after its last blank, or where the bytes stopped.
    std::vector<TextRow> rows() const {
        std::vector<TextRow> out;
        for (const TextLine& line : lines()) {
            std::int64_t start = line.start;
            do {
                std::int64_t end = start;
                for (std::int64_t column = 0; end < line.end && column < columns; ++end)
                    column += cells(end, column);
                if (end < line.end) {
                    for (std::int64_t i = end - 1; i >= start; --i) {
                        if (isBlank(text[static_cast<std::size_t>(i)])) {
                            end = i + 1;
                            break;
                        }
                    }
                }
                out.push_back({static_cast<std::int64_t>(out.size()), start, end, line});
                start = end;
            } while (start < line.end);
        }
        return out;
    }
    // The cell where `position` begins in `row`.
    std::int64_t cellOf(const TextRow& row, std::int64_t position) const {
        std::int64_t column = 0;
        for (std::int64_t i = row.start; i < position; ++i) column += cells(i, column);
        return column;
    }
};

inline auto key(const TextLine& l) {
    return std::tuple(l.index, l.start, l.end, l.next);
}
inline auto key(const TextRow& r) {
    return std::tuple(r.index, r.start, r.end, key(r.line));
}

// Compares every line, every row and the row and line of every caret position.
inline void expectMatches(const TrafficTextStore& store, const Model& model, const std::string& step) {
    ASSERT_EQ(store.text(), model.text) << step;
    const auto lines = model.lines();
    const auto rows = model.rows();
    ASSERT_EQ(store.lineCount(), static_cast<std::int64_t>(lines.size())) << step;
    ASSERT_EQ(store.rowCount(), static_cast<std::int64_t>(rows.size())) << step;
    for (const TextLine& line : lines) EXPECT_EQ(key(store.line(line.index)), key(line)) << step;
    TextRow walked = store.row(0);
    for (const TextRow& row : rows) {
        EXPECT_EQ(key(store.row(row.index)), key(row)) << step;
        EXPECT_EQ(key(walked), key(row)) << step << " walked";
        walked = store.nextRow(walked);
    }
    for (std::int64_t position = 0; position <= static_cast<std::int64_t>(model.text.size()); ++position) {
        const std::string where = step + " position " + std::to_string(position);
        // The caret's row: the last row that starts at or before it, except
        // that a caret at the end of a full last row stays on that row.
        std::size_t expectedRow = 0;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const TextRow& row = rows[r];
            const bool inside = position >= row.start && position < row.end;
            const bool atEnd = row.isLastOfLine() && position >= row.end && position < row.line.next;
            const bool atEndOfText = row.isLastOfLine() && position == row.end && row.line.next == row.end;
            if (inside || atEnd || atEndOfText || (row.start == row.end && position == row.start)) {
                expectedRow = r;
                break;
            }
        }
        EXPECT_EQ(key(store.rowAt(position)), key(rows[expectedRow])) << where;
        EXPECT_EQ(key(store.lineAt(position)), key(rows[expectedRow].line)) << where;
    }
    // Cells of every position of every row, and back.
    for (const TextRow& row : rows) {
        for (std::int64_t position = row.start; position <= row.end; ++position) {
            const std::int64_t cell = model.cellOf(row, position);
            EXPECT_LE(cell, model.columns) << step << " row " << row.index;
            EXPECT_EQ(store.cellOf(row, position), cell) << step << " position " << position;
            EXPECT_EQ(store.positionAtCell(row, cell), position) << step << " cell " << cell;
        }
    }
}

// Up to maxLength bytes of letters, blanks, TABs and every kind of line break.
inline std::string randomText(std::mt19937& random, std::size_t maxLength) {
    static const std::string alphabet = "ab\r\n\r\nxyz  \t";
    std::string text(random() % (maxLength + 1), ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    return text;
}

}  // namespace ostrel::window::testing

// The traffic text with its older part in a file: the same rules as in
// memory, through random edits, width changes and a cache smaller than the
// text; no file left behind; and text kept in memory when the file fails.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/temp_dir.h"
#include "traffic_text_model.h"
#include "window/traffic_text_store.h"

namespace ostrel::window {
namespace {

using testing::expectMatches;
using testing::Model;
using testing::randomText;

// A scratch folder of the test's own, with the cache folder inside.
class ScratchFolder : public platform::test::TempDir {
public:
    std::string cache() const { return path() + "/cache/ostrel"; }
};

std::size_t entriesIn(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

TrafficTextStore::SpillOpener opener(const std::string& folder) {
    return [folder] { return SpillFile::open(folder); };
}

std::string snapshotText(const TextSnapshot& snapshot, std::int64_t block) {
    std::string out;
    const auto status = snapshot.visit(0, snapshot.size(), block, [&](const char* data, std::size_t length) {
        out.append(data, length);
        return true;
    });
    EXPECT_TRUE(status.ok()) << (status ? "" : status.error().describe());
    return out;
}

// Random appends, edits and widths with tiny chunks and a tiny memory part:
// everything that was spilled reads back and lays out as in the model, and
// edits before the memory part are refused.
TEST(TrafficTextSpill, RandomEditsMatchThePlainModelWhileOlderTextIsInTheFile) {
    ScratchFolder scratch;
    std::mt19937 random(99);
    std::int64_t mostSpilled = 0;
    for (int round = 0; round < 30; ++round) {
        const int chunkBytes = 1 + static_cast<int>(random() % 9);
        Model model;
        model.columns = 1 + static_cast<int>(random() % 12);
        TrafficTextStore store(model.columns, chunkBytes);
        store.setSpill(opener(scratch.cache()), static_cast<std::int64_t>(random() % 24));
        for (int step = 0; step < 60; ++step) {
            std::string text = randomText(random, 11);
            const auto size = static_cast<std::int64_t>(model.text.size());
            const int kind = static_cast<int>(random() % 10);
            std::string what;
            if (kind < 5) {
                what = "append";
                store.append(text);
                model.text += text;
            } else if (kind < 9) {
                const std::int64_t position = static_cast<std::int64_t>(random() % (size + 1));
                const std::int64_t count = static_cast<std::int64_t>(random() % 6);
                const std::int64_t removed = std::min(count, size - position);
                const bool refused = position < store.editableFrom() && (removed > 0 || position < size);
                what = "replace at " + std::to_string(position) + (refused ? " (refused)" : "");
                store.replace(position, count, text);
                if (!refused) {
                    model.text.replace(static_cast<std::size_t>(position), static_cast<std::size_t>(removed),
                                       text);
                }
            } else {
                model.columns = 1 + static_cast<int>(random() % 12);
                what = "width " + std::to_string(model.columns);
                store.setWrapColumns(model.columns);
            }
            const std::string where =
                "round " + std::to_string(round) + " step " + std::to_string(step) + " " + what;
            expectMatches(store, model, where);
            ASSERT_EQ(snapshotText(store.snapshot(), 1 + random() % 20), model.text) << where;
            ASSERT_TRUE(store.spillProblem().empty()) << store.spillProblem();
            mostSpilled = std::max(mostSpilled, store.spilledBytes());
            if (::testing::Test::HasFailure()) return;
        }
    }
    EXPECT_GT(mostSpilled, 100);
    // The files were unlinked from the start: the folder is empty.
    EXPECT_EQ(entriesIn(scratch.cache()), 0U);
}

std::string hexLines(std::int64_t bytes, std::mt19937& random) {
    std::string text;
    static const char digits[] = "0123456789ABCDEF";
    while (static_cast<std::int64_t>(text.size()) < bytes) {
        text += "12:00:00.000 DTE:";
        for (int i = 0, n = 1 + static_cast<int>(random() % 40); i < n; ++i) {
            const auto byte = random() % 256;
            text += " 0x";
            text += digits[byte / 16];
            text += digits[byte % 16];
        }
        text += "\r\n";
    }
    return text;
}

// Megabytes of lines with the real chunk size and a memory part of a few
// chunks, more than the cache holds: rows after new widths, and the memory
// held stays near the memory part however much is spilled.
TEST(TrafficTextSpill, ANewWidthLaysOutTheSpilledTextLikeTheTextInMemory) {
    ScratchFolder scratch;
    std::mt19937 random(5);
    const std::string text = hexLines(6 << 20, random);
    TrafficTextStore spilled(97);
    spilled.setSpill(opener(scratch.cache()), 256 << 10);
    TrafficTextStore inMemory(97);
    for (std::size_t at = 0; at < text.size(); at += 10000) {
        spilled.append(std::string_view(text).substr(at, 10000));
        inMemory.append(std::string_view(text).substr(at, 10000));
    }
    ASSERT_GT(spilled.spilledBytes(), 5 << 20);
    EXPECT_LT(spilled.memoryBytes(), std::size_t{2} << 20);
    for (const int columns : {40, 131, 97}) {
        spilled.setWrapColumns(columns);
        inMemory.setWrapColumns(columns);
        ASSERT_EQ(spilled.rowCount(), inMemory.rowCount()) << columns;
        for (int sample = 0; sample < 2000; ++sample) {
            const auto row =
                static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(inMemory.rowCount()));
            const TextRow expected = inMemory.row(row);
            const TextRow got = spilled.row(row);
            ASSERT_EQ(std::tuple(got.start, got.end, got.line.index),
                      std::tuple(expected.start, expected.end, expected.line.index))
                << columns << " row " << row;
            ASSERT_EQ(spilled.read(got.start, got.end - got.start),
                      inMemory.read(expected.start, expected.end - expected.start));
        }
    }
    EXPECT_EQ(snapshotText(spilled.snapshot(), 1 << 20), text);
    EXPECT_LT(spilled.memoryBytes(), std::size_t{3} << 20);
}

// A cache folder that is a symbolic link is not followed, and one that cannot
// be made leaves the text in memory with a reason; the text stays whole.
TEST(TrafficTextSpill, AFolderThatCannotBeUsedKeepsTheTextInMemory) {
    ScratchFolder scratch;
    const std::string elsewhere = scratch.path() + "/elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    const std::string linked = scratch.path() + "/linked";
    ASSERT_EQ(::symlink(elsewhere.c_str(), linked.c_str()), 0);
    const std::string aFile = scratch.path() + "/a-file";
    {
        std::FILE* f = std::fopen(aFile.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    for (const std::string& folder : {linked, aFile + "/ostrel"}) {
        TrafficTextStore store(80, 64);
        store.setSpill(opener(folder), 256);
        std::string text;
        for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\r\n";
        store.append(text);
        EXPECT_EQ(store.spilledBytes(), 0) << folder;
        EXPECT_NE(store.spillProblem().find("keeps its text in memory"), std::string::npos)
            << store.spillProblem();
        EXPECT_EQ(store.text(), text);
        EXPECT_EQ(store.editableFrom(), 0);
    }
    EXPECT_EQ(entriesIn(elsewhere), 0U);
}

// A file that stops taking data (the file size limit stands in for a full
// disk): what was spilled reads back, the rest stays in memory, nothing lost.
TEST(TrafficTextSpill, AFullFileKeepsTheRestInMemoryAndLosesNothing) {
    ScratchFolder scratch;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 20000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    TrafficTextStore store(80, 4096);
    store.setSpill(opener(scratch.cache()), 8192);
    std::mt19937 random(3);
    const std::string text = hexLines(200000, random);
    auto appendPieces = [&](std::size_t from, std::size_t to) {
        for (std::size_t at = from; at < to; at += 777)
            store.append(std::string_view(text).substr(at, std::min<std::size_t>(777, to - at)));
    };
    // More than the limit is handed to the file's writer, which then fails.
    appendPieces(0, 100000);
    store.flushSpill();
    const std::int64_t handedOver = store.spilledBytes();
    EXPECT_GT(handedOver, 20000);
    appendPieces(100000, text.size());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    // Spilling stopped at the failure: the rest stays in memory.
    EXPECT_EQ(store.spilledBytes(), handedOver);
    EXPECT_NE(store.spillProblem().find("keeps its text in memory"), std::string::npos)
        << store.spillProblem();
    // What the file did not take is read back from memory.
    EXPECT_EQ(store.text(), text);
    EXPECT_EQ(snapshotText(store.snapshot(), 5000), text);
    store.setWrapColumns(33);
    EXPECT_EQ(store.text(), text);
    // Typing still works in the memory part.
    store.replace(store.size() - 2, 0, "note");
    EXPECT_EQ(store.read(store.size() - 6, 6), "note\r\n");
}

}  // namespace
}  // namespace ostrel::window

// Find and Save Text As over snapshots of the traffic text, with the older
// part in the file: results against a plain search, blocks and the boundary
// of the file crossed, stopping, and a save that never touches what it did
// not make.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/temp_dir.h"
#include "window/line_ends.h"
#include "window/traffic_text_export.h"
#include "window/traffic_text_search.h"
#include "window/traffic_text_store.h"

namespace ostrel::window {
namespace {

using ScratchFolder = platform::test::TempDir;
using platform::test::fileText;

// A store whose text is mostly in the file.
void fill(TrafficTextStore& store, const ScratchFolder& scratch, const std::string& text,
          std::int64_t resident) {
    const std::string folder = scratch / "cache";
    store.setSpill([folder] { return SpillFile::open(folder); }, resident);
    for (std::size_t at = 0; at < text.size(); at += 4099)
        store.append(std::string_view(text).substr(at, 4099));
}

std::int64_t plainFind(const std::string& text, const TextQuery& query, std::int64_t from, bool backward) {
    auto matchesAt = [&](std::size_t at) {
        return at + query.needle.size() <= text.size() &&
               equalBytes(text.data() + at, query.needle.data(), query.needle.size(), query.matchCase);
    };
    const auto size = static_cast<std::int64_t>(text.size());
    if (!backward) {
        for (std::int64_t at = from; at < size; ++at)
            if (matchesAt(static_cast<std::size_t>(at))) return at;
        for (std::int64_t at = 0; at < from; ++at)
            if (matchesAt(static_cast<std::size_t>(at))) return at;
    } else {
        for (std::int64_t at = from - 1; at >= 0; --at)
            if (matchesAt(static_cast<std::size_t>(at))) return at;
        for (std::int64_t at = size - 1; at >= from; --at)
            if (matchesAt(static_cast<std::size_t>(at))) return at;
    }
    return -1;
}

TEST(TrafficTextFind, NextAndPreviousMatchAPlainSearchFromEveryPlace) {
    ScratchFolder scratch;
    std::mt19937 random(11);
    for (int round = 0; round < 6; ++round) {
        std::string text(3000, ' ');
        for (char& c : text) c = "aAbB\r\n x"[random() % 8];
        TrafficTextStore store(80, 64);
        fill(store, scratch, text, 500);
        ASSERT_GT(store.spilledBytes(), 2000);
        const TextSnapshot snapshot = store.snapshot();
        for (const TextQuery& query :
             {TextQuery{"ab", false}, TextQuery{"aB", true}, TextQuery{"b\r\nA", false},
              TextQuery{"xx x", true}, TextQuery{"zz", false}}) {
            for (std::int64_t from = 0; from <= 3000; from += 7) {
                for (const bool backward : {false, true}) {
                    const SearchOutcome got = findInText(snapshot, query, from, backward, {});
                    ASSERT_EQ(got.match, plainFind(text, query, from, backward))
                        << query.needle << " from " << from << (backward ? " backward" : "");
                    EXPECT_TRUE(got.error.empty());
                    EXPECT_FALSE(got.stopped);
                }
            }
        }
    }
}

TEST(TrafficTextFind, MatchesAcrossBlocksAndTheFilesEndAreFoundAndAStopIsHeard) {
    ScratchFolder scratch;
    std::string text(9 << 20, '.');
    const std::string needle = "0x4F 0x53";
    // Across the first 4 MiB block, across the end of the spilled part, near the end.
    const std::int64_t places[] = {(4 << 20) - 4, (8 << 20) - 3, (9 << 20) - 9};
    for (const std::int64_t place : places)
        text.replace(static_cast<std::size_t>(place), needle.size(), needle);
    TrafficTextStore store;
    fill(store, scratch, text, 1 << 20);
    ASSERT_EQ(store.spilledBytes(), 8 << 20);
    const TextSnapshot snapshot = store.snapshot();
    std::int64_t from = 0;
    for (const std::int64_t place : places) {
        const SearchOutcome next = findInText(snapshot, {"0X4f 0x53", false}, from, false, {});
        ASSERT_EQ(next.match, place);
        from = next.match + 1;
    }
    const SearchOutcome round = findInText(snapshot, {needle, true}, from, false, {});
    EXPECT_EQ(round.match, places[0]);
    EXPECT_TRUE(round.wrapped);
    EXPECT_EQ(findInText(snapshot, {needle, true}, places[0], true, {}).match, places[2]);
    std::stop_source stop;
    stop.request_stop();
    const SearchOutcome stopped = findInText(snapshot, {"absent", false}, 0, false, stop.get_token());
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.match, -1);
}

// Every way of cutting a text with every kind of break into three pieces.
TEST(TrafficTextSave, LineEndsBecomeLfWhereverThePiecesAreCut) {
    const std::string text = "a\r\nb\rc\nd\r\r\ne\n\r\r";
    const std::string expected = "a\nb\nc\nd\n\ne\n\n\n";
    for (std::size_t first = 0; first <= text.size(); ++first) {
        for (std::size_t second = first; second <= text.size(); ++second) {
            LfLineEnds lineEnds;
            std::string out;
            auto put = [&out](const char* data, std::size_t length) { out.append(data, length); };
            lineEnds.feed(text.data(), first, put);
            lineEnds.feed(text.data() + first, second - first, put);
            lineEnds.feed(text.data() + second, text.size() - second, put);
            lineEnds.finish(put);
            ASSERT_EQ(out, expected) << first << " " << second;
        }
    }
}

TEST(TrafficTextSave, WritesTheWholeTextWithLfLineEndsToANewFile) {
    ScratchFolder scratch;
    std::string text;
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        const std::string line = "12:00:00.000 DTE: 0x" + std::to_string(i % 100);
        const char* ends[] = {"\r\n", "\r", "\n"};
        text += line + ends[i % 3];
        expected += line + "\n";
    }
    text += "\r";  // a lone "\r" at the very end
    expected += "\n";
    TrafficTextStore store(80, 1000);
    fill(store, scratch, text, 20000);
    ASSERT_GT(store.spilledBytes(), 100000);
    std::int64_t lastProgress = 0;
    const SaveOutcome saved = saveTextAs(store.snapshot(), scratch / "saved.txt", {},
                                         [&](std::int64_t done) { lastProgress = done; });
    ASSERT_TRUE(saved.complete()) << saved.error;
    EXPECT_EQ(saved.textBytes, static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(lastProgress, saved.textBytes);
    EXPECT_EQ(fileText(scratch / "saved.txt"), expected);
}

TEST(TrafficTextSave, NeverWritesToAPathThatIsThereAlready) {
    ScratchFolder scratch;
    TrafficTextStore store;
    store.append("new text\r\n");
    { std::ofstream(scratch / "theirs.txt") << "their text"; }
    ASSERT_EQ(::symlink((scratch / "target").c_str(), (scratch / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink((scratch / "theirs.txt").c_str(), (scratch / "link").c_str()), 0);
    for (const std::string name : {"theirs.txt", "dangling", "link"}) {
        const SaveOutcome refused = saveTextAs(store.snapshot(), scratch / name, {});
        EXPECT_FALSE(refused.complete()) << name;
        EXPECT_NE(refused.error.find(name), std::string::npos) << refused.error;
    }
    EXPECT_EQ(fileText(scratch / "theirs.txt"), "their text");
    EXPECT_FALSE(std::filesystem::exists(scratch / "target"));
}

TEST(TrafficTextSave, AStoppedOrFailedSaveRemovesOnlyTheFileItMade) {
    ScratchFolder scratch;
    TrafficTextStore store;
    store.append(std::string(9 << 20, 'x'));
    std::stop_source stop;
    const SaveOutcome stopped = saveTextAs(store.snapshot(), scratch / "stopped.txt", stop.get_token(),
                                           [&](std::int64_t) { stop.request_stop(); });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(std::filesystem::exists(scratch / "stopped.txt"));

    // The file size limit stands in for a full disk.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveOutcome failed = saveTextAs(store.snapshot(), scratch / "full.txt", {});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(failed.complete());
    EXPECT_NE(failed.error.find("full.txt"), std::string::npos) << failed.error;
    EXPECT_FALSE(std::filesystem::exists(scratch / "full.txt"));
}

}  // namespace
}  // namespace ostrel::window

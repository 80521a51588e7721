// The traffic pump: direction markers, where lines begin, chunking, the OFF
// format, relaying only in Intercede, and the write operations.

#include <gtest/gtest.h>

#include <set>

#include "engine/engine.h"
#include "engine_test_access.h"
#include "engine_test_support.h"

namespace ostrel::engine::testing {
namespace {

struct MarkerCase {
    OperatingMode mode;
    int side;
    std::string_view marker;
};

void PrintTo(const MarkerCase& c, std::ostream* os) {
    static const char* const kModeNames[] = {"DteEmulation", "DceEmulation", "Intercede", "HalfDuplex",
                                             "FullDuplex"};
    *os << kModeNames[c.mode] << (c.side == kDteSide ? "FromDteSide" : "FromDceSide");
}

class PumpMarkers : public EngineFixture, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(PumpMarkers, ChunkIsShownAfterTheMarkerOfItsModeAndSide) {
    const MarkerCase c = GetParam();
    link.setMode(c.mode);
    ASSERT_EQ(open(c.mode), kStatusOk);
    ASSERT_TRUE(far[c.side]->write("hello"));
    ASSERT_TRUE(waitForChunkBytes(5));
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_TRUE(chunks[0].startsLine);
    EXPECT_EQ(chunks[0].marker, c.marker);
    EXPECT_EQ(chunks[0].bytes, "hello");
    // The line start, the marker and the text come in one append, so that a
    // status line from a receive thread cannot fall between them.
    std::set<int> appends;
    for (const auto& entry : link.entries())
        if (entry.kind != ShownEntry::Status) appends.insert(entry.append);
    EXPECT_EQ(appends.size(), 1u);

    // Only Intercede relays, and only to the other side.
    const int other = 1 - c.side;
    if (c.mode == kIntercede) {
        EXPECT_EQ(far[other]->read(5), bytesOf("hello"));
    } else if (const auto& tx = EngineTestAccess::channel(*engine, other).transmitter) {
        // The relay would have been queued before the chunk was shown.
        EXPECT_EQ(tx->queued() + tx->written(), 0u);
    }
    EXPECT_EQ(far[c.side]->pending(), "");  // nothing echoed back
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, PumpMarkers,
    ::testing::Values(MarkerCase{kDteEmulation, 0, " DCE ->> "}, MarkerCase{kDceEmulation, 1, " DTE ->> "},
                      MarkerCase{kIntercede, 0, " DCE ->> "}, MarkerCase{kIntercede, 1, " DTE ->> "},
                      MarkerCase{kHalfDuplex, 0, " DCE ->> "}, MarkerCase{kFullDuplex, 0, " DTE ->> "},
                      MarkerCase{kFullDuplex, 1, " DCE ->> "}));

class PumpLines : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        if (HasFatalFailure()) return;
        makeEngine(true);  // the line rule runs on the fake clock
    }
    // Sends bytes from one far end and waits until the pump has shown them.
    void feed(int side, std::string_view bytes) {
        const std::size_t before = link.chunkBytes();
        ASSERT_TRUE(far[side]->write(bytes));
        ASSERT_TRUE(waitForChunkBytes(before + bytes.size()));
    }
    // For each chunk shown so far: whether it began a line.
    std::vector<bool> lineStarts() const {
        std::vector<bool> starts;
        for (const auto& chunk : shownChunks(link.entries())) starts.push_back(chunk.startsLine);
        return starts;
    }
};

TEST_F(PumpLines, GapOf55MsContinuesTheLineAnd56MsStartsANewOne) {
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    feed(0, "a");
    fakeNow += 55;
    feed(0, "b");
    fakeNow += 56;
    feed(0, "c");
    fakeNow += 40;
    feed(0, "d");
    EXPECT_EQ(lineStarts(), (std::vector<bool>{true, false, true, false}));
}

TEST_F(PumpLines, BurstOf5000IsShownAs2048And2048And904OnOneLine) {
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    // Hold the pump until the whole burst sits in the ring.
    link.deferPump(true);
    const Bytes burst = randomBytes(5000, 7);
    ASSERT_TRUE(far[0]->write(burst));
    ASSERT_TRUE(waitUntil([&] {
        return RingFreeRoom(EngineTestAccess::channel(*engine, kDteSide).ring) == kRingCapacity - 1 - 5000;
    }));
    link.deferPump(false);
    ASSERT_TRUE(waitForChunkBytes(5000));
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].bytes.size(), 2048u);
    EXPECT_EQ(chunks[1].bytes.size(), 2048u);
    EXPECT_EQ(chunks[2].bytes.size(), 904u);
    EXPECT_EQ(lineStarts(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(chunks[0].bytes + chunks[1].bytes + chunks[2].bytes, std::string(burst.begin(), burst.end()));
}

TEST_F(PumpLines, AlternatingSingleBytesEachStartALine) {
    link.setMode(kFullDuplex);
    ASSERT_EQ(open(kFullDuplex), kStatusOk);
    for (int i = 0; i < 6; ++i) feed(i % 2, std::string(1, char('a' + i)));
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(chunks[i].startsLine) << i;
        EXPECT_EQ(chunks[i].marker, i % 2 == 0 ? " DTE ->> " : " DCE ->> ") << i;
        EXPECT_EQ(chunks[i].bytes, std::string(1, char('a' + i)));
    }
}

TEST_F(PumpLines, SendingSetsTheFlagsSoTheNextChunkStartsALine) {
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    feed(0, "a");
    feed(0, "b");
    engine->SetOutputFlags();
    feed(0, "c");
    feed(0, "d");
    EXPECT_EQ(lineStarts(), (std::vector<bool>{true, false, true, false}));
}

TEST_F(PumpLines, OffShowsChunksWithoutLinesOrMarkersAndStillRelays) {
    link.setMode(kIntercede);
    link.setFormat(kDisplayOff);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    feed(0, "abc");
    fakeNow += 100;
    feed(1, "xyz");
    EXPECT_EQ(far[1]->read(3), bytesOf("abc"));
    EXPECT_EQ(far[0]->read(3), bytesOf("xyz"));
    std::string shown;
    for (const auto& entry : link.entries()) {
        EXPECT_EQ(entry.kind, ShownEntry::Chunk);
        shown += entry.data;
    }
    EXPECT_EQ(shown, "abcxyz");
}

using WriteOps = EngineFixture;

TEST_F(WriteOps, WriteToSideGoesToTheSendTargetOrSaysWhyItCannot) {
    link.setTarget(kToDce);
    std::string failure;
    EXPECT_EQ(engine->WriteToSide(bytesOf("abc"), &failure), 3);
    EXPECT_EQ(failure, "the DCE side is not open");

    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    failure.clear();
    EXPECT_EQ(engine->WriteToSide(bytesOf("dce"), &failure), 3);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(far[1]->read(3), bytesOf("dce"));
    link.setTarget(kToDte);
    EXPECT_EQ(engine->WriteToSide(bytesOf("dte")), 3);
    EXPECT_EQ(far[0]->read(3), bytesOf("dte"));
    EXPECT_EQ(link.chunkBytes(), 0u);  // a send is not shown by the engine

    engine->CloseAllPorts();
    EXPECT_EQ(engine->WriteToSide(bytesOf("abc"), &failure), 3);
    EXPECT_EQ(failure, "COM1 is not open");
    ASSERT_EQ(engine->OpenSession(config(kDteEmulation, 9)), kStatusFailed);  // Failed channel
    EXPECT_EQ(engine->WriteToSide(bytesOf("abc"), &failure), 3);
    EXPECT_EQ(failure, "COM9 is not open");
    EXPECT_FALSE(engine->WritePort(kDteSide, bytesOf("abc")));
    EXPECT_FALSE(engine->WritePort(5, bytesOf("abc")));
}

TEST_F(WriteOps, WriteToAPortThatHungUpIsRefused) {
    link.setTarget(kToDte);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    far[0]->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !link.exitNotices().empty(); }));
    // The transmitter learns of the hang-up at its next write.
    const auto& tx = EngineTestAccess::channel(*engine, kDteSide).transmitter;
    ASSERT_TRUE(tx);
    std::string failure;
    ASSERT_TRUE(waitUntil([&] {
        engine->WriteToSide(bytesOf("x"), &failure);
        return tx->failed();
    }));
    failure.clear();
    EXPECT_EQ(engine->WriteToSide(bytesOf("abc"), &failure), 3);
    EXPECT_EQ(failure, "COM1 refused the data");
}

}  // namespace
}  // namespace ostrel::engine::testing

// The traffic pump: direction markers, where lines begin, chunking, the OFF
// format, relaying only in Intercede, and the write operations.

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine_test_support.h"

namespace ostrel::engine::testing {
namespace {

struct MarkerCase {
    OperatingMode mode;
    int side;
    std::string_view marker;
};

void PrintTo(const MarkerCase& c, std::ostream* os) {
    *os << "mode " << c.mode << ", side " << c.side;
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

    // Only Intercede relays, and only to the other side.
    const int other = 1 - c.side;
    if (c.mode == kIntercede) {
        EXPECT_EQ(far[other]->read(5), bytesOf("hello"));
    } else if (const auto& tx = engine->channel(other).transmitter) {
        // The relay would have been queued before the chunk was shown.
        EXPECT_EQ(tx->queued() + tx->written(), 0u);
    }
    EXPECT_TRUE(far[c.side]->readAvailable().empty());  // nothing echoed back
}

std::string markerCaseName(const ::testing::TestParamInfo<MarkerCase>& info) {
    static const char* const kModeNames[] = {"DteEmulation", "DceEmulation", "Intercede", "HalfDuplex",
                                             "FullDuplex"};
    return std::string(kModeNames[info.param.mode]) + (info.param.side == 0 ? "FromDteSide" : "FromDceSide");
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, PumpMarkers,
    ::testing::Values(MarkerCase{kDteEmulation, 0, " DCE ->> "}, MarkerCase{kDceEmulation, 1, " DTE ->> "},
                      MarkerCase{kIntercede, 0, " DCE ->> "}, MarkerCase{kIntercede, 1, " DTE ->> "},
                      MarkerCase{kHalfDuplex, 0, " DCE ->> "}, MarkerCase{kFullDuplex, 0, " DTE ->> "},
                      MarkerCase{kFullDuplex, 1, " DCE ->> "}),
    markerCaseName);

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
};

TEST_F(PumpLines, GapOf55MsContinuesTheLineAnd56MsStartsANewOne) {
    link.setMode(kDteEmulation);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    feed(0, "a");
    fakeClock.advance(55);
    feed(0, "b");
    fakeClock.advance(56);
    feed(0, "c");
    fakeClock.advance(40);
    feed(0, "d");
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_TRUE(chunks[0].startsLine);
    EXPECT_FALSE(chunks[1].startsLine);
    EXPECT_TRUE(chunks[2].startsLine);
    EXPECT_FALSE(chunks[3].startsLine);
    EXPECT_EQ(chunks[1].bytes, "b");
    EXPECT_EQ(chunks[2].bytes, "c");
}

TEST_F(PumpLines, BurstOf5000IsShownAs2048And2048And904OnOneLine) {
    link.setMode(kDteEmulation);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    // Hold the pump until the whole burst sits in the ring.
    link.deferPump(true);
    const Bytes burst = randomBytes(5000, 7);
    ASSERT_TRUE(far[0]->write(burst));
    ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(engine->channel(kDteSide).ring) == 8191 - 5000; }));
    link.deferPump(false);
    ASSERT_TRUE(waitForChunkBytes(5000));
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].bytes.size(), 2048u);
    EXPECT_EQ(chunks[1].bytes.size(), 2048u);
    EXPECT_EQ(chunks[2].bytes.size(), 904u);
    EXPECT_TRUE(chunks[0].startsLine);
    EXPECT_FALSE(chunks[1].startsLine);
    EXPECT_FALSE(chunks[2].startsLine);
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
    link.setMode(kDteEmulation);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    feed(0, "a");
    feed(0, "b");
    engine->SetOutputFlags();
    feed(0, "c");
    feed(0, "d");
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_TRUE(chunks[0].startsLine);
    EXPECT_FALSE(chunks[1].startsLine);
    EXPECT_TRUE(chunks[2].startsLine);
    EXPECT_FALSE(chunks[3].startsLine);
}

TEST_F(PumpLines, OffShowsChunksWithoutLinesOrMarkersAndStillRelays) {
    link.setMode(kIntercede);
    link.setFormat(kDisplayOff);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    feed(0, "abc");
    fakeClock.advance(100);
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

TEST_F(PumpLines, BytesFromTheOtherSideStartALineWithinTheGap) {
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    feed(0, "1");
    feed(0, "2");  // same side, no time passed: same line
    feed(1, "3");  // the other side showed bytes since: new line
    feed(0, "4");
    const auto chunks = shownChunks(link.entries());
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_TRUE(chunks[0].startsLine);
    EXPECT_FALSE(chunks[1].startsLine);
    EXPECT_TRUE(chunks[2].startsLine);
    EXPECT_TRUE(chunks[3].startsLine);
    EXPECT_EQ(chunks[2].marker, " DTE ->> ");
    EXPECT_EQ(chunks[3].marker, " DCE ->> ");
}

using WriteOps = EngineFixture;

TEST_F(WriteOps, WriteToSideGoesToTheSendTarget) {
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    const Bytes toDce = bytesOf("to the DCE");
    link.setTarget(kToDce);
    std::string failure;
    EXPECT_EQ(engine->WriteToSide(toDce, &failure), static_cast<std::int32_t>(toDce.size()));
    EXPECT_TRUE(failure.empty());
    EXPECT_EQ(far[1]->read(toDce.size()), toDce);
    link.setTarget(kToDte);
    EXPECT_EQ(engine->WriteToSide(bytesOf("dte")), 3);
    EXPECT_EQ(far[0]->read(3), bytesOf("dte"));
    EXPECT_EQ(link.chunkBytes(), 0u);  // a send is not shown by the engine
}

TEST_F(WriteOps, WriteToASideThatIsNotOpenReturnsTheCountAndSaysWhy) {
    link.setTarget(kToDce);
    std::string failure;
    EXPECT_EQ(engine->WriteToSide(bytesOf("abc"), &failure), 3);
    EXPECT_EQ(failure, "the DCE side is not open");

    ASSERT_EQ(open(kDceEmulation), kStatusOk);
    engine->CloseAllPorts();
    failure.clear();
    EXPECT_EQ(engine->WriteToSide(bytesOf("abc"), &failure), 3);
    EXPECT_EQ(failure, "COM2 is not open");

    link.setTarget(kToDte);
    failure.clear();
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
    const auto& tx = engine->channel(kDteSide).transmitter;
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

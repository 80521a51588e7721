// Opening and closing sessions: which sides each mode opens, the status
// codes, Failed channels, busy ports and port number 0.

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine_test_support.h"
#include "platform/tty_port.h"

namespace ostrel::engine::testing {
namespace {

using SessionOpen = EngineFixture;

struct ModeSides {
    OperatingMode mode;
    bool dteOpen, dceOpen;
};

TEST_F(SessionOpen, EachModeOpensTheSidesItNeeds) {
    const ModeSides cases[] = {
        {kDteEmulation, true, false}, {kDceEmulation, false, true}, {kIntercede, true, true},
        {kHalfDuplex, true, false},   {kFullDuplex, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        makeEngine(false);
        link.setMode(c.mode);
        ASSERT_EQ(open(c.mode), kStatusOk);
        const bool expected[2] = {c.dteOpen, c.dceOpen};
        for (int side : {kDteSide, kDceSide}) {
            const PortChannel& channel = engine->channel(side);
            EXPECT_EQ(engine->isOpen(side), expected[side]);
            EXPECT_EQ(channel.port.has_value(), expected[side]);
            EXPECT_EQ(channel.receiveThreadId.load() != 0, expected[side]);
            // Only an opened side gets its output flag set.
            EXPECT_EQ(channel.outputFlag.load(), expected[side]);
        }
        EXPECT_TRUE(engine->openNotes().empty());  // a pseudo-terminal reports nothing
        EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
        for (int side : {kDteSide, kDceSide}) {
            EXPECT_FALSE(engine->isOpen(side));
            EXPECT_FALSE(engine->channel(side).port.has_value());
            EXPECT_EQ(engine->channel(side).receiveThreadId.load(), 0u);
        }
    }
}

TEST_F(SessionOpen, DceEmulationLeavesTheDteChannelAsItWas) {
    SessionConfig failing = config(kDteEmulation, 9);  // COM9 is not mapped
    ASSERT_EQ(engine->OpenSession(failing), kStatusFailed);
    ASSERT_TRUE(engine->isOpen(kDteSide));  // Failed: open flag set, no port
    ASSERT_FALSE(engine->channel(kDteSide).port.has_value());

    ASSERT_EQ(open(kDceEmulation), kStatusOk);
    EXPECT_TRUE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->channel(kDteSide).port.has_value());
    EXPECT_TRUE(engine->isOpen(kDceSide));
    EXPECT_TRUE(engine->channel(kDceSide).port.has_value());

    engine->CloseAllPorts();
    EXPECT_FALSE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->isOpen(kDceSide));
}

TEST_F(SessionOpen, NotReadyGivesTwoAndChangesNothing) {
    Engine idle(ports);
    EXPECT_EQ(idle.OpenSession(config(kDteEmulation)), kStatusNotReady);
    EXPECT_FALSE(idle.isOpen(kDteSide));
    const std::uint8_t byte = 1;
    EXPECT_EQ(idle.WriteToSide({&byte, 1}), 0);

    engine->ShutdownEngine();
    EXPECT_FALSE(engine->ready());
    EXPECT_EQ(open(kDteEmulation), kStatusNotReady);
    EXPECT_FALSE(engine->isOpen(kDteSide));
    EXPECT_EQ(engine->WriteToSide({&byte, 1}), 0);
}

TEST_F(SessionOpen, ModeAboveFourFails) {
    for (OperatingMode mode : {5, 6, -1}) {
        EXPECT_EQ(open(mode), kStatusFailed) << mode;
        EXPECT_FALSE(engine->isOpen(kDteSide));
        EXPECT_FALSE(engine->isOpen(kDceSide));
    }
}

TEST_F(SessionOpen, NeededSideWithoutPortFails) {
    SessionConfig dte = config(kDteEmulation);
    dte.dte.side = kNoSide;
    EXPECT_EQ(engine->OpenSession(dte), kStatusFailed);
    EXPECT_FALSE(engine->isOpen(kDteSide));

    SessionConfig half = config(kHalfDuplex);
    half.dte.side = kNoSide;
    EXPECT_EQ(engine->OpenSession(half), kStatusFailed);
    EXPECT_FALSE(engine->isOpen(kDteSide));

    SessionConfig dce = config(kDceEmulation);
    dce.dce.side = kNoSide;
    EXPECT_EQ(engine->OpenSession(dce), kStatusFailed);
    EXPECT_FALSE(engine->isOpen(kDceSide));

    SessionConfig neither = config(kIntercede);
    neither.dte.side = kNoSide;
    neither.dce.side = kNoSide;
    EXPECT_EQ(engine->OpenSession(neither), kStatusFailed);
    EXPECT_FALSE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->isOpen(kDceSide));
}

TEST_F(SessionOpen, TwoSidedModesSkipASideWithoutPort) {
    SessionConfig onlyDce = config(kIntercede);
    onlyDce.dte.side = kNoSide;
    EXPECT_EQ(engine->OpenSession(onlyDce), kStatusOk);
    EXPECT_FALSE(engine->isOpen(kDteSide));
    EXPECT_TRUE(engine->isOpen(kDceSide));
    engine->CloseAllPorts();

    SessionConfig onlyDte = config(kFullDuplex);
    onlyDte.dce.side = kNoSide;
    EXPECT_EQ(engine->OpenSession(onlyDte), kStatusOk);
    EXPECT_TRUE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->isOpen(kDceSide));
}

TEST_F(SessionOpen, MissingDtePortFailsButTheDceSideIsStillTried) {
    ASSERT_EQ(engine->OpenSession(config(kIntercede, 9, 2)), kStatusFailed);
    EXPECT_TRUE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->channel(kDteSide).port.has_value());
    EXPECT_EQ(engine->channel(kDteSide).receiveThreadId.load(), 0u);
    EXPECT_TRUE(engine->channel(kDceSide).port.has_value());
    ASSERT_EQ(engine->openErrors().size(), 1u);
    EXPECT_EQ(engine->openErrors()[0].rfind("COM9: ", 0), 0u) << engine->openErrors()[0];

    engine->CloseAllPorts();
    for (int side : {kDteSide, kDceSide}) {
        EXPECT_FALSE(engine->isOpen(side));
        EXPECT_FALSE(engine->channel(side).port.has_value());
    }
}

TEST_F(SessionOpen, DceFailingAfterTheDteOpenedLeavesTheDteSideRunning) {
    ASSERT_EQ(engine->OpenSession(config(kIntercede, 1, 9)), kStatusFailed);
    EXPECT_TRUE(engine->channel(kDteSide).port.has_value());
    EXPECT_NE(engine->channel(kDteSide).receiveThreadId.load(), 0u);
    ASSERT_TRUE(far[0]->write("up"));
    EXPECT_TRUE(waitForChunkBytes(2));  // the DTE side still receives until the close
    engine->CloseAllPorts();
    EXPECT_FALSE(engine->isOpen(kDteSide));
}

TEST_F(SessionOpen, ABusyPortDoesNotOpen) {
    // The same port on both sides: the second open finds it taken.
    ASSERT_EQ(engine->OpenSession(config(kIntercede, 1, 1)), kStatusFailed);
    EXPECT_TRUE(engine->channel(kDteSide).port.has_value());
    EXPECT_FALSE(engine->channel(kDceSide).port.has_value());
    EXPECT_TRUE(engine->isOpen(kDceSide));
    engine->CloseAllPorts();

    // A port that another holder keeps open.
    auto holder = platform::TtyPort::open(far[1]->path());
    ASSERT_TRUE(holder.ok()) << holder.error().describe();
    EXPECT_EQ(open(kDceEmulation), kStatusFailed);
    ASSERT_EQ(engine->openErrors().size(), 1u);
    EXPECT_EQ(engine->openErrors()[0].rfind("COM2: ", 0), 0u);
}

TEST_F(SessionOpen, PortNumberZeroOrAbove64OpensCom1) {
    for (std::uint8_t number : {0, 65, 255}) {
        SCOPED_TRACE(int(number));
        ASSERT_EQ(engine->OpenSession(config(kDteEmulation, number)), kStatusOk);
        EXPECT_EQ(engine->channel(kDteSide).portNumber, 1);
        const std::size_t before = link.chunkBytes();
        ASSERT_TRUE(far[0]->write("com1"));
        EXPECT_TRUE(waitForChunkBytes(before + 4));
        engine->CloseAllPorts();
    }
}

TEST_F(SessionOpen, EachOpenEmptiesTheRingAndSetsTheOutputFlag) {
    link.deferPump(true);  // keep the bytes in the ring
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    ASSERT_TRUE(far[0]->write("0123456789"));
    ReceiveRing& ring = engine->channel(kDteSide).ring;
    ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(ring) == 8191 - 10; }));
    engine->CloseAllPorts();
    EXPECT_TRUE(RingEmpty(ring));

    engine->channel(kDteSide).outputFlag.store(false);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    EXPECT_TRUE(RingEmpty(ring));
    EXPECT_EQ(ring.capacity, kRingCapacity);
    EXPECT_TRUE(engine->channel(kDteSide).outputFlag.load());

    // What was never shown of the old open stays discarded; new bytes come through.
    link.deferPump(false);
    ASSERT_TRUE(far[0]->write("new"));
    ASSERT_TRUE(waitForChunkBytes(3));
    EXPECT_EQ(bytesUnder(link.entries(), text::kFromDceMarker), "new");
}

TEST_F(SessionOpen, CloseAllPortsWithNothingOpenChangesNothing) {
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    EXPECT_FALSE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->isOpen(kDceSide));
    EXPECT_TRUE(link.exitNotices().empty());
}

TEST_F(SessionOpen, OpeningAnOpenSideAgainReplacesItsReceiveThread) {
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    const auto first = engine->channel(kDteSide).receiveThreadId.load();
    ASSERT_EQ(open(kDteEmulation), kStatusOk);  // no CloseAllPorts in between
    const auto second = engine->channel(kDteSide).receiveThreadId.load();
    EXPECT_NE(first, second);
    EXPECT_FALSE(engine->IsCurrentReceiveThread(first));
    EXPECT_TRUE(engine->IsCurrentReceiveThread(second));
    const auto notices = link.exitNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].threadId, first);
    ASSERT_TRUE(far[0]->write("x"));
    EXPECT_TRUE(waitForChunkBytes(1));
}

}  // namespace
}  // namespace ostrel::engine::testing

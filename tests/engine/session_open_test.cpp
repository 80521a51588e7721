// Opening and closing sessions: which sides each mode opens, the status
// codes, Failed channels, busy ports and port number 0.

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine_test_access.h"
#include "engine_test_support.h"
#include "platform/tty_port.h"

namespace ostrel::engine::testing {
namespace {

using SessionOpen = EngineFixture;

// What a side of the engine holds after OpenSession: not open; open and
// running (a port); or Failed (open flag set, no port).
enum SideState { Closed, Running, Failed };

struct OpenCase {
    const char* what;
    OperatingMode mode;
    std::uint8_t dtePort, dcePort;  // 0 here: the side has no port chosen; 9 is not mapped
    std::int32_t status;
    SideState dte, dce;
};

TEST_F(SessionOpen, EachModeOpensTheSidesItNeedsWithItsStatus) {
    const OpenCase cases[] = {
        {"DTE emulation", kDteEmulation, 1, 2, kStatusOk, Running, Closed},
        {"DCE emulation", kDceEmulation, 1, 2, kStatusOk, Closed, Running},
        {"Intercede", kIntercede, 1, 2, kStatusOk, Running, Running},
        {"Half Duplex", kHalfDuplex, 1, 2, kStatusOk, Running, Closed},
        {"Full Duplex", kFullDuplex, 1, 2, kStatusOk, Running, Running},
        {"mode 5", 5, 1, 2, kStatusFailed, Closed, Closed},
        {"mode -1", -1, 1, 2, kStatusFailed, Closed, Closed},
        {"DTE emulation without a DTE port", kDteEmulation, 0, 2, kStatusFailed, Closed, Closed},
        {"Half Duplex without a DTE port", kHalfDuplex, 0, 2, kStatusFailed, Closed, Closed},
        {"DCE emulation without a DCE port", kDceEmulation, 1, 0, kStatusFailed, Closed, Closed},
        {"Intercede without ports", kIntercede, 0, 0, kStatusFailed, Closed, Closed},
        {"Intercede without a DTE port", kIntercede, 0, 2, kStatusOk, Closed, Running},
        {"Full Duplex without a DCE port", kFullDuplex, 1, 0, kStatusOk, Running, Closed},
        {"missing DTE port, the DCE side still tried", kIntercede, 9, 2, kStatusFailed, Failed, Running},
        {"missing DCE port after the DTE opened", kIntercede, 1, 9, kStatusFailed, Running, Failed},
        {"the same port twice: busy", kIntercede, 1, 1, kStatusFailed, Running, Failed},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.what);
        makeEngine(false);
        link.setMode(c.mode);
        SessionConfig cfg = config(c.mode, c.dtePort, c.dcePort);
        if (c.dtePort == 0) cfg.dte.side = kNoSide;
        if (c.dcePort == 0) cfg.dce.side = kNoSide;
        ASSERT_EQ(engine->OpenSession(cfg), c.status);
        const SideState expected[2] = {c.dte, c.dce};
        for (int side : {kDteSide, kDceSide}) {
            const PortChannel& channel = EngineTestAccess::channel(*engine, side);
            const bool running = expected[side] == Running;
            EXPECT_EQ(engine->isOpen(side), expected[side] != Closed) << "side " << side;
            EXPECT_EQ(channel.port.has_value(), running) << "side " << side;
            EXPECT_EQ(channel.receiveThreadId.load() != 0, running) << "side " << side;
            // In a session that opened, only an opened side gets its output flag set.
            if (c.status == kStatusOk) {
                EXPECT_EQ(channel.outputFlag.load(), running) << "side " << side;
            }
        }
        for (int side : {kDteSide, kDceSide}) {
            if (expected[side] != Running) continue;
            const std::size_t before = link.chunkBytes();  // a running side receives until the close
            ASSERT_TRUE(far[side]->write("up"));
            EXPECT_TRUE(waitForChunkBytes(before + 2)) << "side " << side;
        }
        EXPECT_TRUE(engine->openNotes().empty());  // a pseudo-terminal reports nothing
        if (c.dte == Failed) {
            ASSERT_EQ(engine->openErrors().size(), 1u);
            EXPECT_EQ(engine->openErrors()[0].rfind("COM9: ", 0), 0u) << engine->openErrors()[0];
        }
        EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
        for (int side : {kDteSide, kDceSide}) {
            EXPECT_FALSE(engine->isOpen(side));
            EXPECT_FALSE(EngineTestAccess::channel(*engine, side).port.has_value());
            EXPECT_EQ(engine->receiveThreadId(side), 0u);
        }
    }
}

TEST_F(SessionOpen, DceEmulationLeavesAFailedDteChannelAsItWas) {
    ASSERT_EQ(engine->OpenSession(config(kDteEmulation, 9)), kStatusFailed);  // COM9 is not mapped
    ASSERT_EQ(open(kDceEmulation), kStatusOk);
    EXPECT_TRUE(engine->isOpen(kDteSide));
    EXPECT_FALSE(EngineTestAccess::channel(*engine, kDteSide).port.has_value());
    EXPECT_TRUE(EngineTestAccess::channel(*engine, kDceSide).port.has_value());
    engine->CloseAllPorts();
    EXPECT_FALSE(engine->isOpen(kDteSide));
    EXPECT_FALSE(engine->isOpen(kDceSide));
}

TEST_F(SessionOpen, ASideReadsAsOpenWithItsPortAndCountsWhatCameInUntilTheClose) {
    EXPECT_FALSE(engine->readSide(kDteSide).open);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    ASSERT_TRUE(far[0]->write("12345"));
    ASSERT_TRUE(waitUntil([&] { return engine->readSide(kDteSide).bytesReceived == 5; }));
    const Engine::SideReading reading = engine->readSide(kDteSide);
    EXPECT_TRUE(reading.open);
    EXPECT_EQ(reading.lineErrors, 0u);
    ASSERT_TRUE(reading.live.has_value());  // nothing else holds the channel now
    EXPECT_EQ(reading.live->path, far[0]->path());
    EXPECT_FALSE(reading.live->modemLines.has_value());  // a pseudo-terminal has no modem lines
    EXPECT_FALSE(engine->readSide(kDceSide).open);

    engine->CloseAllPorts();
    const Engine::SideReading closed = engine->readSide(kDteSide);
    EXPECT_FALSE(closed.open);
    EXPECT_FALSE(closed.live.has_value());
    EXPECT_EQ(closed.bytesReceived, 5u);  // over the run, not reset by the close
}

TEST_F(SessionOpen, NotReadyGivesTwoAndChangesNothing) {
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);  // nothing open: nothing happens
    EXPECT_TRUE(link.exitNotices().empty());

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

TEST_F(SessionOpen, PortNumberZeroOrAbove64OpensCom1) {
    for (std::uint8_t number : {0, 65, 255}) {
        SCOPED_TRACE(int(number));
        ASSERT_EQ(engine->OpenSession(config(kDteEmulation, number)), kStatusOk);
        EXPECT_EQ(engine->portNumber(kDteSide), 1);
        const std::size_t before = link.chunkBytes();
        ASSERT_TRUE(far[0]->write("com1"));
        EXPECT_TRUE(waitForChunkBytes(before + 4));
        engine->CloseAllPorts();
    }
}

TEST_F(SessionOpen, EachOpenStartsAFreshReceiveThreadWithAnEmptyRingAndTheOutputFlagSet) {
    ReceiveRing& ring = EngineTestAccess::channel(*engine, kDteSide).ring;
    auto fillRing = [&] {
        link.deferPump(true);  // keep the bytes in the ring
        ASSERT_TRUE(far[0]->write("0123456789"));
        ASSERT_TRUE(waitUntil([&] { return RingFreeRoom(ring) == kRingCapacity - 1 - 10; }));
    };
    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    fillRing();
    engine->CloseAllPorts();
    EXPECT_TRUE(RingEmpty(ring));

    ASSERT_EQ(open(kDteEmulation), kStatusOk);
    const auto first = engine->receiveThreadId(kDteSide);
    fillRing();
    EngineTestAccess::channel(*engine, kDteSide).outputFlag.store(false);
    ASSERT_EQ(open(kDteEmulation), kStatusOk);  // no CloseAllPorts in between
    const auto second = engine->receiveThreadId(kDteSide);
    EXPECT_NE(first, second);
    EXPECT_FALSE(engine->IsCurrentReceiveThread(first));
    EXPECT_TRUE(engine->IsCurrentReceiveThread(second));
    ASSERT_EQ(link.exitNotices().size(), 2u);
    EXPECT_EQ(link.exitNotices()[1].threadId, first);
    EXPECT_TRUE(RingEmpty(ring));
    EXPECT_EQ(ring.capacity, kRingCapacity);
    EXPECT_TRUE(EngineTestAccess::channel(*engine, kDteSide).outputFlag.load());

    // What was never shown of the old opens stays discarded; new bytes come through.
    link.deferPump(false);
    ASSERT_TRUE(far[0]->write("new"));
    ASSERT_TRUE(waitForChunkBytes(3));
    EXPECT_EQ(bytesUnder(link.entries(), text::kFromDceMarker), "new");
}

}  // namespace
}  // namespace ostrel::engine::testing

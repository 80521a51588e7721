// Opening a port that fails half-way (through the seam), and Close COM then
// Open COM again and again on an idle line: what the operator is told, and
// that nothing of a failed or closed open is left behind.

#include <sys/ioctl.h>

#include <chrono>
#include <string>

#include "engine_faults.h"

namespace ostrel::faults {
namespace {

using engine::kDceSide;
using engine::kDteSide;
using engine::kIntercede;
using engine::kStatusFailed;
using engine::kStatusOk;
using engine::testing::bytesOf;
using engine::testing::waitUntil;

using OpenFaults = EngineFaults;

TEST_F(OpenFaults, AnOpenThatFailsHalfWayNamesThePortAndLeavesNothingOpen) {
    const std::string path = far[0]->path();
    struct Case {
        Call call;
        unsigned long request;
        int code;
        std::string error;  // what the operator reads after the two error lines
    };
    const Case cases[] = {
        // flock: another program holds the port (the far end's own slave fd is named).
        {Call::Lock, 0, EWOULDBLOCK, "COM1: " + path + ": port is busy (in use by "},
        {Call::Ioctl, TIOCEXCL, EIO, "COM1: " + path + ": device gone"},
        {Call::Flush, 0, EIO, "COM1: " + path + ": device gone"},
        {Call::Ioctl, TIOCEXCL, ENXIO, "COM1: " + path + ": no such device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        failNext(line(1), c.call, 1, c.code, c.request);
        EXPECT_EQ(engine->OpenSession(config(engine::kDteEmulation)), kStatusFailed);
        EXPECT_EQ(taken(line(1)), 1u);
        ASSERT_EQ(engine->openErrors().size(), 1u);
        EXPECT_EQ(engine->openErrors()[0].rfind(c.error, 0), 0u) << engine->openErrors()[0];
        EXPECT_FALSE(engine->readSide(kDteSide).live.has_value());
        EXPECT_EQ(engine->receiveThreadId(kDteSide), 0u);
        EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
        EXPECT_EQ(status(), "");
        clearAll();
        // The port was left as it was found: the next open takes it.
        ASSERT_EQ(openIn(engine::kDteEmulation), kStatusOk);
        const std::size_t shown = link.chunkBytes();
        ASSERT_TRUE(far[0]->write("ok"));
        ASSERT_TRUE(waitForChunkBytes(shown + 2));
        EXPECT_EQ(far[0]->pending(), "");
        EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
        expectHealthy();
    }
}

TEST_F(OpenFaults, CloseThenOpenWithinHalfASecondOverAndOverLeavesNoStaleNoticeNorLeak) {
    constexpr int kRounds = OSTREL_REOPEN_ROUNDS;
    ASSERT_EQ(openIn(kIntercede), kStatusOk);
    std::size_t seenNotices = 0;
    int staleClosings = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::uint64_t before[2] = {engine->receiveThreadId(kDteSide),
                                         engine->receiveThreadId(kDceSide)};
        const auto closing = std::chrono::steady_clock::now();
        ASSERT_EQ(engine->CloseAllPorts(), kStatusOk);
        ASSERT_EQ(openIn(kIntercede), kStatusOk) << round;
        EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(500)) << round;
        EXPECT_NE(engine->receiveThreadId(kDteSide), before[0]);
        EXPECT_NE(engine->receiveThreadId(kDceSide), before[1]);
        // The window's rule: a notice closes the session only when it comes
        // from a receive thread of the session open now.
        const auto notices = link.exitNotices();
        for (; seenNotices < notices.size(); ++seenNotices)
            if (engine->IsCurrentReceiveThread(notices[seenNotices].threadId)) ++staleClosings;
    }
    ASSERT_TRUE(waitUntil([&] { return link.exitNotices().size() == 2u * kRounds; }));
    for (const auto& notice : link.exitNotices()) {
        EXPECT_FALSE(notice.hungUp);
        if (engine->IsCurrentReceiveThread(notice.threadId)) ++staleClosings;
    }
    EXPECT_EQ(staleClosings, 0);
    // The last session still carries traffic both ways.
    ASSERT_TRUE(far[0]->write("to dce"));
    ASSERT_TRUE(far[1]->write("to dte"));
    EXPECT_EQ(far[1]->read(6), bytesOf("to dce"));
    EXPECT_EQ(far[0]->read(6), bytesOf("to dte"));
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    EXPECT_EQ(status(), "");
    expectHealthy();
}

}  // namespace
}  // namespace ostrel::faults

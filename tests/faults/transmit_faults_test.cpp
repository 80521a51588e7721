// Faults on the way out and on the way in that the ports must ride out or
// report: EIO on a transmit, short writes, EAGAIN and EINTR anywhere, and a
// read that fails for good. Counts are taken end to end: what came in is
// shown, and relayed where the far port took it.

#include <cerrno>
#include <string>
#include <thread>

#include "engine_faults.h"

namespace ostrel::faults {
namespace {

using engine::kDceSide;
using engine::kDteSide;
using engine::kIntercede;
using engine::kStatusOk;
using engine::testing::Bytes;
using engine::testing::bytesOf;
using engine::testing::randomBytes;
using engine::testing::waitUntil;
namespace text = engine::text;

using TransmitFaults = EngineFaults;

TEST_F(TransmitFaults, EioOnARelayEndsThatTransmitterAndTheCloseCountsWhatWasNotDelivered) {
    ASSERT_EQ(openIn(kIntercede), kStatusOk);
    failNext(line(2), Call::Write, 1, EIO);
    ASSERT_TRUE(far[0]->write("hello"));
    // Shown all the same; COM2 refuses further sends.
    ASSERT_TRUE(waitForChunkBytes(5));
    ASSERT_TRUE(waitUntil([&] { return taken(line(2)) == 1; }));
    link.setTarget(engine::kToDce);
    std::string failure;
    EXPECT_TRUE(waitUntil([&] {
        engine->WriteToSide(bytesOf("x"), &failure);
        return failure == "COM2 refused the data";
    })) << failure;
    // The other direction is unharmed.
    ASSERT_TRUE(far[1]->write("back"));
    EXPECT_EQ(far[0]->read(4), bytesOf("back"));
    ASSERT_TRUE(far[0]->write("more"));
    ASSERT_TRUE(waitForChunkBytes(13));
    EXPECT_EQ(far[1]->pending(), "");
    EXPECT_EQ(status(), "");
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    // The five relayed bytes that the failed write took down with it.
    EXPECT_EQ(status(), text::notDelivered(2, 5));
    EXPECT_EQ(engine->readSide(kDteSide).bytesReceived, 9u);
    EXPECT_EQ(engine->readSide(kDceSide).bytesReceived, 4u);
    expectHealthy();
}

TEST_F(TransmitFaults, ShortWritesEagainAndEintrLoseNothingBothWays) {
    ASSERT_EQ(openIn(kIntercede), kStatusOk);
    for (int com : {1, 2}) {
        failNext(line(com), Call::Write, 20, EAGAIN);
        failNext(line(com), Call::Write, 20, EINTR);
        shortenWrites(line(com), 2000, 7);
        failNext(line(com), Call::Read, 20, EAGAIN);
        failNext(line(com), Call::Read, 20, EINTR);
        failNext(line(com), Call::Poll, 20, EINTR);
    }
    const Bytes dte = randomBytes(256 * 1024, 21);
    const Bytes dce = randomBytes(256 * 1024, 22);
    Bytes atDce, atDte;
    {
        std::jthread a([&] { EXPECT_TRUE(far[0]->write(dte)); });
        std::jthread b([&] { EXPECT_TRUE(far[1]->write(dce)); });
        std::jthread c([&] { atDce = far[1]->read(dte.size(), std::chrono::seconds(30)); });
        atDte = far[0]->read(dce.size(), std::chrono::seconds(30));
    }
    EXPECT_TRUE(atDce == dte);
    EXPECT_TRUE(atDte == dce);
    EXPECT_GE(taken(line(1)), 2000u + 100u);
    EXPECT_GE(taken(line(2)), 2000u + 100u);
    EXPECT_TRUE(waitForChunkBytes(dte.size() + dce.size()));
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    EXPECT_EQ(status(), "");
    expectHealthy();
}

class ReadFaults : public EngineFaults {
protected:
    // A read on COM1 fails with `code`: the side ends as at a hang-up, after
    // everything read before it was shown and relayed.
    void readFailsForGood(int code) {
        ASSERT_EQ(openIn(kIntercede), kStatusOk);
        ASSERT_TRUE(far[0]->write("before"));
        EXPECT_EQ(far[1]->read(6), bytesOf("before"));
        ASSERT_TRUE(waitForChunkBytes(6));
        failNext(line(1), Call::Read, 1, code);
        deliver(line(1), {'!'});  // makes the line readable; the read then fails
        ASSERT_TRUE(waitUntil([&] { return !link.exitNotices().empty(); }));
        const engine::ReceiveExitNotice notice = link.exitNotices().back();
        EXPECT_TRUE(notice.hungUp);
        EXPECT_EQ(notice.side, kDteSide);
        EXPECT_EQ(notice.portNumber, 1);
        EXPECT_TRUE(engine->IsCurrentReceiveThread(notice.threadId));
        EXPECT_EQ(status(), text::disconnected(1));
        EXPECT_EQ(link.chunkBytes(), 6u);
        EXPECT_EQ(engine->readSide(kDteSide).bytesReceived, 6u);
        // The window closes the session on the notice, as Close COM does.
        EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
        EXPECT_EQ(status(), text::disconnected(1));
        expectHealthy();
    }
};

TEST_F(ReadFaults, EioOnAReadEndsTheSideAsAHangUp) {
    readFailsForGood(EIO);
}

TEST_F(ReadFaults, EnxioOnAReadEndsTheSideAsAHangUp) {
    readFailsForGood(ENXIO);
}

TEST_F(TransmitFaults, SendsOfNothingAndOfOneMebibyteWhileTheOtherSideFloods) {
    ASSERT_EQ(openIn(kIntercede), kStatusOk);
    link.setTarget(engine::kToDce);
    std::string failure;
    EXPECT_EQ(engine->WriteToSide({}, &failure), 0);
    EXPECT_EQ(failure, "");
    const Bytes flood = randomBytes(1 << 20, 31);  // from COM2's far end, relayed to COM1
    const Bytes sent = randomBytes(1 << 20, 32);   // sent to COM2
    Bytes atDte, atDce;
    {
        std::jthread floodWriter([&] { EXPECT_TRUE(far[1]->write(flood)); });
        std::jthread dteReader([&] { atDte = far[0]->read(flood.size(), std::chrono::seconds(60)); });
        std::jthread dceReader([&] { atDce = far[1]->read(sent.size(), std::chrono::seconds(60)); });
        EXPECT_EQ(engine->WriteToSide(sent, &failure), static_cast<std::int32_t>(sent.size()));
        EXPECT_EQ(failure, "");
    }
    EXPECT_TRUE(atDte == flood);
    EXPECT_TRUE(atDce == sent);
    EXPECT_TRUE(waitForChunkBytes(flood.size()));
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    EXPECT_EQ(status(), "");
    EXPECT_EQ(link.chunkBytes(), flood.size());
    expectHealthy();
}

TEST_F(TransmitFaults, XoffHoldsOneRelayDirectionWhileTheOtherFlowsAndXonReleasesItInOrder) {
    engine::SessionConfig session = config(kIntercede);
    session.dce.flowControl = engine::kFlowXonXoff;  // COM2 obeys XON/XOFF from its far end
    link.setMode(kIntercede);
    ASSERT_EQ(engine->OpenSession(session), kStatusOk);
    ASSERT_TRUE(far[1]->write(bytesOf("\x13")));  // XOFF: the line discipline holds COM2's output
    const Bytes fromDte = randomBytes(256 * 1024, 41);
    std::jthread writer([&] { EXPECT_TRUE(far[0]->write(fromDte)); });
    // The held direction is read and shown, but nothing reaches COM2's far end.
    ASSERT_TRUE(
        waitUntil([&] { return engine->QueuedBytes(kDceSide) > 0 && link.chunkBytes() >= 64 * 1024; }));
    EXPECT_TRUE(far[1]->pending().empty());
    // The other direction flows meanwhile.
    // Without the XON and XOFF bytes, which COM2's line discipline would take.
    Bytes fromDce = randomBytes(100 * 1024, 42);
    for (auto& byte : fromDce)
        if (byte == 0x11 || byte == 0x13) byte = 0x12;
    Bytes atDte;
    {
        std::jthread reader([&] { atDte = far[0]->read(fromDce.size(), std::chrono::seconds(20)); });
        EXPECT_TRUE(far[1]->write(fromDce));
    }
    EXPECT_TRUE(atDte == fromDce);
    EXPECT_TRUE(far[1]->pending().empty());
    // XON: the held bytes come, all and in order.
    ASSERT_TRUE(far[1]->write(bytesOf("\x11")));
    const Bytes atDce = far[1]->read(fromDte.size(), std::chrono::seconds(20));
    writer.join();
    EXPECT_TRUE(atDce == fromDte) << atDce.size() << " of " << fromDte.size();
    EXPECT_TRUE(waitForChunkBytes(fromDte.size() + fromDce.size()));
    EXPECT_EQ(engine->readSide(kDceSide).bytesReceived, fromDce.size());  // XOFF and XON are not data
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    EXPECT_EQ(status(), "");
    expectHealthy();
}

}  // namespace
}  // namespace ostrel::faults

// Line errors as a UART reports them (PARMRK marks in the data, TIOCGICOUNT
// counters), through the seam, in Intercede: each error event shows
// "\r\nReceived Comport Line Status ERROR\r\n" once, and the data byte that
// came with it is still shown and relayed.

#include <algorithm>
#include <string>
#include <thread>

#include "engine_faults.h"

namespace ostrel::faults {
namespace {

using engine::kIntercede;
using engine::testing::Bytes;
using engine::testing::waitUntil;
namespace text = engine::text;

std::string times(std::string_view line, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) all += line;
    return all;
}

// True when `got` is `expected` with one `extra` byte put in somewhere.
bool oneByteInserted(const Bytes& got, const Bytes& expected, std::uint8_t extra) {
    if (got.size() != expected.size() + 1) return false;
    std::size_t i = 0;
    while (i < expected.size() && got[i] == expected[i]) ++i;
    if (got[i] != extra) return false;
    return std::equal(expected.begin() + static_cast<std::ptrdiff_t>(i), expected.end(),
                      got.begin() + static_cast<std::ptrdiff_t>(i) + 1);
}

Bytes withoutFF(Bytes bytes) {
    std::replace(bytes.begin(), bytes.end(), std::uint8_t{0xFF}, std::uint8_t{0xFE});
    return bytes;
}

class LineErrors : public EngineFaults {
protected:
    // Delivers `raw` on COM1's line and waits until `data` came out at COM2's
    // far end and is shown.
    void receive(const Bytes& raw, const Bytes& data, const LineCounts& counted = {}) {
        const std::size_t shownBefore = link.chunkBytes();
        deliver(line(1), raw, counted);
        EXPECT_EQ(far[1]->read(data.size()), data);
        EXPECT_TRUE(waitUntil([&] { return link.chunkBytes() == shownBefore + data.size(); }));
        EXPECT_EQ(undelivered(line(1)), 0u);
    }
};

TEST_F(LineErrors, FramingAndParityMarksShowOneLineEachAndTheirBytesAreRelayed) {
    ASSERT_EQ(openIn(kIntercede), engine::kStatusOk);
    // A data byte FF arrives doubled and is no error.
    receive(escapeData({'a', 0xFF, 'b'}), {'a', 0xFF, 'b'});
    EXPECT_EQ(status(), "");
    // A framing error on 'x', then a parity error on 'y' (the mark is the same).
    receive(markedByte('x'), {'x'});
    EXPECT_TRUE(waitUntil([&] { return status() == text::kLineStatusError; })) << status();
    receive(markedByte('y'), {'y'});
    EXPECT_TRUE(waitUntil([&] { return status() == times(text::kLineStatusError, 2); })) << status();
    EXPECT_EQ(engine->readSide(engine::kDteSide).lineErrors, 2u);
    EXPECT_EQ(engine->readSide(engine::kDteSide).bytesReceived, 5u);
    EXPECT_EQ(link.chunkBytes(), 5u);
    EXPECT_EQ(engine->CloseAllPorts(), engine::kStatusOk);
    EXPECT_EQ(status(), times(text::kLineStatusError, 2));
    expectHealthy();
}

TEST_F(LineErrors, ABreakShowsOneLineAndDeliversOneZeroByte) {
    ASSERT_EQ(openIn(kIntercede), engine::kStatusOk);
    // FF 00 00: the break itself is a 0x00 received with an error; the
    // bytes around it are plain data.
    Bytes raw = escapeData({'<'});
    const Bytes brk = markedByte(0x00);
    raw.insert(raw.end(), brk.begin(), brk.end());
    raw.push_back('>');
    receive(raw, {'<', 0x00, '>'}, LineCounts{.brk = 1});
    EXPECT_EQ(engine->CloseAllPorts(), engine::kStatusOk);
    EXPECT_EQ(status(), text::kLineStatusError);
    expectHealthy();
}

TEST_F(LineErrors, AnOverrunCountedWithoutDataShowsOneLineOnce) {
    emulateCounters(line(1));
    ASSERT_EQ(openIn(kIntercede), engine::kStatusOk);
    const std::size_t readsBefore = taken(line(1));
    addCounts(line(1), LineCounts{.overrun = 1});
    // The receive thread looks at the counters when its wait times out.
    EXPECT_TRUE(waitUntil([&] { return status() == text::kLineStatusError; })) << status();
    // Two more looks at unchanged counters report nothing more.
    const std::size_t readsAfter = taken(line(1));
    EXPECT_GT(readsAfter, readsBefore);
    EXPECT_TRUE(waitUntil([&] { return taken(line(1)) >= readsAfter + 2; }));
    EXPECT_EQ(status(), text::kLineStatusError);
    EXPECT_EQ(engine->readSide(engine::kDteSide).lineErrors, 1u);
    // Traffic goes on unharmed.
    ASSERT_TRUE(far[0]->write("after"));
    EXPECT_EQ(far[1]->read(5), engine::testing::bytesOf("after"));
    EXPECT_EQ(engine->CloseAllPorts(), engine::kStatusOk);
    EXPECT_EQ(status(), text::kLineStatusError);
    expectHealthy();
}

TEST_F(LineErrors, AMarkAndTheCountItMadeAreOneEventNotTwo) {
    emulateCounters(line(1));
    ASSERT_EQ(openIn(kIntercede), engine::kStatusOk);
    receive(markedByte('p'), {'p'}, LineCounts{.parity = 1});
    receive(markedByte('f'), {'f'}, LineCounts{.frame = 1});
    // Two more looks at the counters (at the waits' time-outs) find nothing new.
    const std::size_t looks = taken(line(1));
    EXPECT_TRUE(waitUntil([&] { return taken(line(1)) >= looks + 2; }));
    EXPECT_EQ(status(), times(text::kLineStatusError, 2));
    EXPECT_EQ(engine->readSide(engine::kDteSide).lineErrors, 2u);
    EXPECT_EQ(engine->CloseAllPorts(), engine::kStatusOk);
    expectHealthy();
}

TEST_F(LineErrors, ErrorsOnBothSidesDuringTrafficEachShowTheirLineAndNoByteIsLost) {
    emulateCounters(line(1));
    emulateCounters(line(2));
    ASSERT_EQ(openIn(kIntercede), engine::kStatusOk);
    // Without FF in the traffic: a mark put in between the two bytes of a
    // doubled FF would make a stream that no driver produces.
    const Bytes dte = withoutFF(engine::testing::randomBytes(64 * 1024, 11));
    const Bytes dce = withoutFF(engine::testing::randomBytes(64 * 1024, 12));
    Bytes towardsDce, towardsDte;
    std::jthread writer([&] {
        EXPECT_TRUE(far[0]->write(dte));
        EXPECT_TRUE(far[1]->write(dce));
    });
    deliver(line(1), markedByte('1'), LineCounts{.frame = 1});
    deliver(line(2), markedByte('2'), LineCounts{.parity = 1});
    // Each far end gets the other's bytes, with the marked byte somewhere among them.
    towardsDce = far[1]->read(dte.size() + 1, std::chrono::seconds(20));
    towardsDte = far[0]->read(dce.size() + 1, std::chrono::seconds(20));
    writer.join();
    EXPECT_TRUE(oneByteInserted(towardsDce, dte, '1'));
    EXPECT_TRUE(oneByteInserted(towardsDte, dce, '2'));
    EXPECT_TRUE(waitUntil([&] { return status() == times(text::kLineStatusError, 2); })) << status();
    EXPECT_TRUE(waitUntil([&] { return link.chunkBytes() == dte.size() + dce.size() + 2; }));
    EXPECT_EQ(engine->readSide(engine::kDteSide).bytesReceived, dte.size() + 1);
    EXPECT_EQ(engine->readSide(engine::kDceSide).bytesReceived, dce.size() + 1);
    EXPECT_EQ(engine->CloseAllPorts(), engine::kStatusOk);
    EXPECT_EQ(status(), times(text::kLineStatusError, 2));
    expectHealthy();
}

}  // namespace
}  // namespace ostrel::faults

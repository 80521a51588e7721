// A far end hangs up, on either side of every mode, on an idle line and under
// full-speed traffic in every direction the mode has. The operator sees
// "\r\n*** COMn disconnected ***\r\n" once, the window closes the session on
// the notice, every byte that reached Ostrel was shown, and what was relayed
// is either at the far end or counted as "not delivered" at the close. (Bytes
// that the kernel discards at the hang-up never reached Ostrel.)

#include <atomic>
#include <charconv>
#include <map>
#include <string>
#include <thread>

#include "engine/engine_test_access.h"
#include "engine_faults.h"

namespace ostrel::faults {
namespace {

using engine::kDceSide;
using engine::kDteSide;
using engine::kStatusOk;
using engine::OperatingMode;
using engine::testing::Bytes;
using engine::testing::bytesUnder;
using engine::testing::randomBytes;
using engine::testing::waitUntil;
namespace text = engine::text;

struct HangUpCase {
    OperatingMode mode;
    int side;      // the side whose far end hangs up
    bool traffic;  // full-speed traffic on every side of the mode meanwhile
};

std::string caseName(const ::testing::TestParamInfo<HangUpCase>& info) {
    static const char* const modes[] = {"DteEmulation", "DceEmulation", "Intercede", "HalfDuplex",
                                        "FullDuplex"};
    return std::string(modes[info.param.mode]) + (info.param.side == kDteSide ? "_DteSide" : "_DceSide") +
           (info.param.traffic ? "_UnderTraffic" : "_Idle");
}

std::vector<HangUpCase> allCases() {
    std::vector<HangUpCase> cases;
    for (OperatingMode mode = engine::kDteEmulation; mode <= engine::kFullDuplex; ++mode)
        for (int side : {kDteSide, kDceSide})
            if (engine::ModeUsesSide(mode, side))
                for (bool traffic : {false, true}) cases.push_back({mode, side, traffic});
    return cases;
}

// Takes the "\r\n*** COMn: N bytes not delivered ***\r\n" lines out of `status`
// and returns N by COM number.
std::map<int, std::uint64_t> takeNotDelivered(std::string& status) {
    std::map<int, std::uint64_t> counts;
    for (int com : {1, 2}) {
        const std::string head = "\r\n*** COM" + std::to_string(com) + ": ";
        const std::string tail = " bytes not delivered ***\r\n";
        for (std::size_t at = status.find(head); at != std::string::npos; at = status.find(head)) {
            const std::size_t end = status.find(tail, at);
            if (end == std::string::npos) break;
            std::uint64_t n = 0;
            const char* first = status.data() + at + head.size();
            std::from_chars(first, status.data() + end, n);
            counts[com] += n;
            status.erase(at, end + tail.size() - at);
        }
    }
    return counts;
}

class HangUps : public EngineFaults, public ::testing::WithParamInterface<HangUpCase> {
protected:
    // A far end that writes chunks until told to stop, and one that reads.
    struct Traffic {
        std::atomic<bool> stop{false};
        std::jthread thread;
        Bytes got;
    };
    void startWriter(Traffic& t, engine::testing::FarEnd& end, std::uint32_t seed) {
        t.thread = std::jthread([&t, &end, seed] {
            const Bytes chunk = randomBytes(4096, seed);
            while (!t.stop.load()) end.write(chunk, std::chrono::milliseconds(50));
        });
    }
    void startReader(Traffic& t, engine::testing::FarEnd& end) {
        t.thread = std::jthread([&t, &end] {
            while (!t.stop.load()) {
                const Bytes more = end.read(1 << 20, std::chrono::milliseconds(50));
                t.got.insert(t.got.end(), more.begin(), more.end());
            }
            // What is still readable once the session closed.
            const Bytes rest = end.read(1 << 24, std::chrono::milliseconds(200));
            t.got.insert(t.got.end(), rest.begin(), rest.end());
        });
    }
    static void finish(Traffic& t) {
        t.stop.store(true);
        if (t.thread.joinable()) t.thread.join();
    }
    std::string marker(int side) const {
        const OperatingMode mode = GetParam().mode;
        if (mode == engine::kFullDuplex)
            return std::string(side == kDteSide ? text::kFromDteMarker : text::kFromDceMarker);
        return std::string(side == kDteSide ? text::kFromDceMarker : text::kFromDteMarker);
    }
    std::uint64_t shown(int side) const { return bytesUnder(link.entries(), marker(side)).size(); }
};

TEST_P(HangUps, TheSideEndsWithOneDisconnectLineAndNoByteThatCameInIsLost) {
    const HangUpCase c = GetParam();
    const int other = 1 - c.side;
    const bool twoSides = engine::ModeUsesSide(c.mode, other);
    const bool relays = c.mode == engine::kIntercede;
    ASSERT_EQ(openIn(c.mode), kStatusOk);

    Traffic writers[2], readers[2];
    if (c.traffic) {
        for (int side : {kDteSide, kDceSide}) {
            if (!engine::ModeUsesSide(c.mode, side)) continue;
            startWriter(writers[side], *far[side], 40 + side);
            if (relays) startReader(readers[side], *far[side]);
        }
        // Traffic flows in every direction before the hang-up.
        for (int side : {kDteSide, kDceSide}) {
            if (engine::ModeUsesSide(c.mode, side)) {
                ASSERT_TRUE(waitUntil([&] { return shown(side) >= 64 * 1024; })) << side;
            }
        }
        finish(writers[c.side]);
        finish(readers[c.side]);
    }
    far[c.side]->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !link.exitNotices().empty(); }));
    const engine::ReceiveExitNotice notice = link.exitNotices().front();
    EXPECT_TRUE(notice.hungUp);
    EXPECT_EQ(notice.side, c.side);
    EXPECT_TRUE(engine->IsCurrentReceiveThread(notice.threadId));
    // The window closes the session on the notice.
    EXPECT_EQ(engine->CloseAllPorts(), kStatusOk);
    for (Traffic& t : writers) finish(t);
    for (Traffic& t : readers) finish(t);

    std::string status = this->status();
    const std::map<int, std::uint64_t> notDelivered = takeNotDelivered(status);
    EXPECT_EQ(status, text::disconnected(c.side + 1));
    if (!c.traffic) {
        EXPECT_TRUE(notDelivered.empty());
    }
    // Everything each side read was shown ...
    for (int side : {kDteSide, kDceSide})
        EXPECT_EQ(engine->readSide(side).bytesReceived, shown(side)) << side;
    if (!twoSides) {
        EXPECT_EQ(shown(other), 0u);
    }
    // ... and, in Intercede, what the hung-up side read went out to the other
    // far end or was counted as not delivered.
    if (relays && c.traffic) {
        const auto counted = notDelivered.contains(other + 1) ? notDelivered.at(other + 1) : 0;
        EXPECT_EQ(readers[other].got.size() + counted, shown(c.side));
    }
    EXPECT_EQ(link.exitNotices().size(), twoSides ? 2u : 1u);
    expectHealthy(1);  // the far end's master
}

INSTANTIATE_TEST_SUITE_P(EveryModeAndSide, HangUps, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
}  // namespace ostrel::faults

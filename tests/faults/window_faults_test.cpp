// Faults where the window takes part, on the real widgets (offscreen): Close
// COM, Exit and the close box while both directions run at full speed, and a
// mode change in the mode window while traffic flows. Every byte that came in
// is shown; what was relayed is at the far end or counted as not delivered;
// nothing is written after the close; the process is left as it was.

#include <poll.h>
#include <unistd.h>

#include <QSignalSpy>
#include <atomic>
#include <charconv>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "engine/status_text.h"
#include "platform/pty_test_support.h"
#include "support/fault_seam.h"
#include "support/main_window_fixture.h"
#include "support/process_health.h"
#include "window/control_ids.h"

namespace ostrel::ui::test {
namespace {

using namespace std::chrono_literals;
namespace id = window::id;
namespace text = engine::text;

std::size_t occurrences(const std::string& haystack, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

// "\r\n*** COMn: N bytes not delivered ***\r\n" lines: N by COM number.
std::map<int, std::uint64_t> notDelivered(const std::string& traffic) {
    std::map<int, std::uint64_t> counts;
    for (int com : {1, 2}) {
        const std::string head = "\r\n*** COM" + std::to_string(com) + ": ";
        for (std::size_t at = traffic.find(head); at != std::string::npos; at = traffic.find(head, at + 1)) {
            std::uint64_t n = 0;
            const char* first = traffic.data() + at + head.size();
            const auto parsed = std::from_chars(first, traffic.data() + traffic.size(), n);
            if (std::string_view(parsed.ptr).starts_with(" bytes not delivered ***\r\n")) counts[com] += n;
        }
    }
    return counts;
}

// A far end that writes one byte value as fast as the line takes it, and
// reads whatever comes back, on its own thread.
class Flood {
public:
    Flood(int fd, char value) : fd_(fd) {
        thread_ = std::jthread([this, value](std::stop_token stop) {
            const std::string chunk(1024, value);
            char buffer[8192];
            while (!stop.stop_requested()) {
                if (!pausedWrites_.load()) {
                    const ssize_t n = ::write(fd_, chunk.data(), chunk.size());
                    if (n > 0) written_ += static_cast<std::size_t>(n);
                }
                drain(buffer, sizeof buffer);
                pollfd p{fd_, static_cast<short>(POLLIN | (pausedWrites_.load() ? 0 : POLLOUT)), 0};
                ::poll(&p, 1, 5);
            }
        });
    }
    // Stops writing and reading; then reads what is still there.
    void stop() {
        thread_.request_stop();
        if (thread_.joinable()) thread_.join();
        char buffer[8192];
        drain(buffer, sizeof buffer);
    }
    void pauseWrites() { pausedWrites_.store(true); }
    std::size_t received() const { return received_.load(); }
    std::size_t written() const { return written_.load(); }
    // Whatever is readable now.
    std::size_t drainNow() {
        char buffer[8192];
        const std::size_t before = received_.load();
        drain(buffer, sizeof buffer);
        return received_.load() - before;
    }

private:
    void drain(char* buffer, std::size_t size) {
        for (ssize_t n; (n = ::read(fd_, buffer, size)) > 0;) received_ += static_cast<std::size_t>(n);
    }
    int fd_;
    std::atomic<bool> pausedWrites_{false};
    std::atomic<std::size_t> received_{0}, written_{0};
    std::jthread thread_;
};

class WindowFaults : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        health = faults::HealthBaseline{};
    }
    // After the window is gone (or the session closed): threads and fds back.
    void expectHealthy(std::size_t threadsGone = 0) {
        EXPECT_TRUE(waitFor([&] { return faults::threadCount() + threadsGone == health.threads; }))
            << faults::threadCount() << " threads, " << health.threads << " before";
        EXPECT_EQ(faults::openFdCount(), health.fds);
        EXPECT_LT(faults::cpuMsWhileIdle(), 60.0);
    }
    faults::HealthBaseline health;
};

// The session's status lines: Port is ON, at the close the counts of bytes
// not delivered (if any), then Port is OFF (Close COM; Exit and the close box
// close the ports without it); nothing else.
void expectEnding(const std::string& shown, bool portOff = true) {
    const auto counted = notDelivered(shown);
    std::string ending;
    for (int com : {1, 2})
        if (counted.contains(com)) ending += text::notDelivered(com, counted.at(com));
    if (portOff) ending += text::kPortOff;
    EXPECT_TRUE(shown.ends_with(ending)) << shown.substr(shown.size() > 400 ? shown.size() - 400 : 0);
    EXPECT_EQ(occurrences(shown, std::string(text::kPortOn)), 1u);
    EXPECT_EQ(occurrences(shown, "\r\n*** "), (portOff ? 2u : 1u) + counted.size());
}

enum class Ending { CloseCom, Exit, CloseBox };

class EndingsUnderTraffic : public WindowFaults, public ::testing::WithParamInterface<Ending> {};

TEST_P(EndingsUnderTraffic, EndWithinASecondShowEverythingThatCameAndWriteNothingAfter) {
    openIn(id::kIntercedeRadio);
    ASSERT_TRUE(waitForTraffic(std::string(text::kPortOn)));
    QSignalSpy quit(window.get(), &Cmainwin::quitRequested);
    Flood dte(far[0]->masterFd(), 'U');  // 0x55 into COM1, relayed to COM2
    Flood dce(far[1]->masterFd(), 'Z');  // 0x5A into COM2, relayed to COM1
    ASSERT_TRUE(waitFor([&] { return dte.received() > 20000 && dce.received() > 20000; }));

    const auto start = std::chrono::steady_clock::now();
    switch (GetParam()) {
        case Ending::CloseCom:
            ASSERT_TRUE(click(id::kOpenClose));
            break;
        case Ending::Exit:
            ASSERT_TRUE(click(id::kExit));
            break;
        case Ending::CloseBox:
            EXPECT_FALSE(window->close());
            break;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 1s);
    EXPECT_FALSE(engine->isOpen(engine::kDteSide));
    EXPECT_FALSE(engine->isOpen(engine::kDceSide));
    EXPECT_EQ(quit.count(), GetParam() == Ending::CloseCom ? 0 : 1);

    // What was written before the close is read now; after that, nothing comes.
    dte.pauseWrites();
    dce.pauseWrites();
    std::this_thread::sleep_for(50ms);  // lets the flood threads see the pause
    dte.stop();
    dce.stop();
    EXPECT_TRUE(platform::test::waitUntil([&] { return dte.drainNow() == 0 && dce.drainNow() == 0; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(dte.drainNow(), 0u);
    EXPECT_EQ(dce.drainNow(), 0u);

    const std::string shown = traffic();
    const std::uint64_t inDte = engine->readSide(engine::kDteSide).bytesReceived;
    const std::uint64_t inDce = engine->readSide(engine::kDceSide).bytesReceived;
    EXPECT_GT(inDte, 20000u);
    EXPECT_GT(inDce, 20000u);
    // Shown: every byte each side read.
    EXPECT_EQ(occurrences(shown, "0x55 "), inDte);
    EXPECT_EQ(occurrences(shown, "0x5A "), inDce);
    // Relayed: at the far end, or counted at the close.
    const auto counted = notDelivered(shown);
    const auto notDeliveredTo = [&](int com) { return counted.contains(com) ? counted.at(com) : 0; };
    EXPECT_EQ(dce.received() + notDeliveredTo(2), inDte);
    EXPECT_EQ(dte.received() + notDeliveredTo(1), inDce);
    expectEnding(shown, GetParam() == Ending::CloseCom);
    expectHealthy();
}

INSTANTIATE_TEST_SUITE_P(AtFullSpeedBothWays, EndingsUnderTraffic,
                         ::testing::Values(Ending::CloseCom, Ending::Exit, Ending::CloseBox),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Ending::CloseCom:
                                     return std::string("CloseCom");
                                 case Ending::Exit:
                                     return std::string("Exit");
                                 default:
                                     return std::string("CloseBox");
                             }
                         });

TEST_F(WindowFaults, AModeChangeInTheModeWindowWhileTrafficFlowsLosesNoByte) {
    ASSERT_TRUE(click(id::kModeButton));
    ASSERT_TRUE(clickMode(id::kIntercedeRadio));
    ASSERT_TRUE(click(id::kOpenClose));  // the mode window stays shown
    ASSERT_TRUE(waitForTraffic(std::string(text::kPortOn)));
    Flood dte(far[0]->masterFd(), 'U');
    Flood dce(far[1]->masterFd(), 'Z');
    ASSERT_TRUE(waitFor([&] { return dte.received() > 10000 && dce.received() > 10000; }));
    // Full Duplex: both sides shown, nothing relayed from now on.
    ASSERT_TRUE(clickMode(id::kFullDuplexRadio));
    EXPECT_EQ(window->state().mode.load(), engine::kFullDuplex);
    const std::uint64_t atSwitch[2] = {engine->readSide(engine::kDteSide).bytesReceived,
                                       engine->readSide(engine::kDceSide).bytesReceived};
    ASSERT_TRUE(waitFor([&] {
        return engine->readSide(engine::kDteSide).bytesReceived > atSwitch[0] + 20000 &&
               engine->readSide(engine::kDceSide).bytesReceived > atSwitch[1] + 20000;
    }));
    // And back to Intercede while the bytes still come.
    ASSERT_TRUE(clickMode(id::kIntercedeRadio));
    EXPECT_EQ(window->state().mode.load(), engine::kIntercede);
    const std::size_t relayedBefore = dce.received();
    ASSERT_TRUE(waitFor([&] { return dce.received() > relayedBefore + 10000; }));
    ASSERT_TRUE(click(id::kOpenClose));
    dte.pauseWrites();
    dce.pauseWrites();
    dte.stop();
    dce.stop();
    EXPECT_TRUE(platform::test::waitUntil([&] { return dte.drainNow() == 0 && dce.drainNow() == 0; }));

    const std::string shown = traffic();
    const std::uint64_t inDte = engine->readSide(engine::kDteSide).bytesReceived;
    const std::uint64_t inDce = engine->readSide(engine::kDceSide).bytesReceived;
    EXPECT_EQ(occurrences(shown, "0x55 "), inDte);
    EXPECT_EQ(occurrences(shown, "0x5A "), inDce);
    // Only part went out to the far ends (none while in Full Duplex), and
    // never more than came in.
    EXPECT_LT(dce.received(), inDte);
    EXPECT_LT(dte.received(), inDce);
    // Both kinds of marker were used.
    EXPECT_NE(shown.find(std::string(text::kFromDteMarker)), std::string::npos);
    EXPECT_NE(shown.find(std::string(text::kFromDceMarker)), std::string::npos);
    expectEnding(shown);
    ASSERT_TRUE(clickMode(id::kOk));
    expectHealthy();
}

}  // namespace
}  // namespace ostrel::ui::test

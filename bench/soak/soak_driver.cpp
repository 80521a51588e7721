// The soak: one process with the real main window (Qt's platform as set,
// offscreen when there is no display) and its engine, driven through the
// window's commands over two pseudo-terminal ports for a number of minutes.
// Every few seconds: Open COM in Intercede, both far ends write at full speed
// while both read, Capture is started and stopped, the writing stops, and
// once everything written has come out at the other far end, Close COM, or
// now and then a far end hangs up (the window closes the session itself) and
// a new one takes its place under the same name.
//
// Usage: soak_driver MINUTES [work folder]
// Prints one line per minute (RSS, fds), then as its last line:
//   bytes_in=N bytes_out=N lost=N peak_rss_kib=N fds_start=N fds_end=N
// bytes_in: written into the ptys; bytes_out: came out of the far sides;
// lost: bytes_in - bytes_out - bytes the window reported as not delivered.
// The exit status is 0 when lost is 0, no byte came out changed and the fd
// counts agree.

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "platform/port_map.h"
#include "platform/pty_pair.h"
#include "support/click_widget.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "ui/traffic_view.h"
#include "window/control_ids.h"

namespace {

using namespace ostrel;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ui::test::clickWidget;
namespace id = window::id;
namespace fs = std::filesystem;

// The byte at `offset` of stream `seed`: a reader checks any byte without
// keeping what was written.
std::uint8_t patternAt(std::uint64_t seed, std::uint64_t offset) {
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + offset;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint8_t>(z ^ (z >> 31));
}

long statusKib(const char* field) {
    long value = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::size_t length = std::strlen(field);
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, field, length) == 0) value = std::atol(line + length);
        std::fclose(f);
    }
    return value;
}

std::size_t openFds() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// A far end: a pty pair whose slave is reached through a link of our own,
// so that a new pair can take the old one's name after a hang-up.
struct FarEnd {
    platform::PtyPair pair;
    std::string link;
    bool make(const std::string& linkPath) {
        auto made = platform::openPtyPair();
        if (!made) return false;
        pair = std::move(made).value();
        link = linkPath;
        const std::string next = linkPath + ".new";
        fs::remove(next);
        std::error_code error;
        fs::create_symlink(pair.slavePath, next, error);
        if (error) return false;
        fs::rename(next, linkPath, error);  // replaces only our own link
        return !error;
    }
};

// One direction: a writer on one far end, a reader on the other, with the
// stream's offsets kept across sessions.
struct Stream {
    std::uint64_t seed;
    std::atomic<std::uint64_t> written{0}, read{0}, changed{0};
    std::jthread writer, reader;

    void start(int in, int out) {
        writer = std::jthread([this, in](std::stop_token stop) {
            std::array<std::uint8_t, 4096> buffer;
            while (!stop.stop_requested()) {
                const std::uint64_t at = written.load();
                for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = patternAt(seed, at + i);
                const ssize_t n = ::write(in, buffer.data(), buffer.size());
                if (n > 0) {
                    written += static_cast<std::uint64_t>(n);
                } else {
                    pollfd p{in, POLLOUT, 0};
                    ::poll(&p, 1, 10);
                }
            }
        });
        reader = std::jthread([this, out](std::stop_token stop) {
            std::array<std::uint8_t, 8192> buffer;
            while (!stop.stop_requested()) {
                const ssize_t n = ::read(out, buffer.data(), buffer.size());
                if (n > 0) {
                    const std::uint64_t at = read.load();
                    for (ssize_t i = 0; i < n; ++i)
                        if (buffer[static_cast<std::size_t>(i)] !=
                            patternAt(seed, at + static_cast<std::uint64_t>(i)))
                            ++changed;
                    read += static_cast<std::uint64_t>(n);
                } else {
                    pollfd p{out, POLLIN, 0};
                    ::poll(&p, 1, 10);
                }
            }
        });
    }
    void stopWriting() {
        writer.request_stop();
        if (writer.joinable()) writer.join();
    }
    void stopReading() {
        reader.request_stop();
        if (reader.joinable()) reader.join();
    }
};

// The "\r\n*** COMn: N bytes not delivered ***\r\n" counts in the traffic text.
std::uint64_t notDeliveredIn(const std::string& text) {
    std::uint64_t total = 0;
    const std::string tail = " bytes not delivered ***\r\n";
    for (std::size_t at = text.find(tail); at != std::string::npos; at = text.find(tail, at + 1)) {
        std::size_t begin = at;
        while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) --begin;
        std::uint64_t n = 0;
        std::from_chars(text.data() + begin, text.data() + at, n);
        total += n;
    }
    return total;
}

// Whether a capture runs: the Capture button then reads "Stop Capture".
bool capturing(ui::Cmainwin& window) {
    const auto* button = qobject_cast<QAbstractButton*>(window.control(id::kCapture));
    return button && button->text() == "Stop Capture";
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return std::fprintf(stderr, "usage: soak_driver MINUTES [work folder]\n"), 2;
    const double minutes = std::atof(argv[1]);
    if (!(minutes > 0)) return std::fprintf(stderr, "soak_driver: MINUTES must be above 0\n"), 2;
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    // A folder of our own for the two port links and the capture file.
    std::string work = argc > 2 ? argv[2] : "";
    if (work.empty()) {
        char name[] = "/tmp/ostrel-soak-XXXXXX";
        if (!::mkdtemp(name)) return std::perror("mkdtemp"), 1;
        work = name;
    }
    std::array<FarEnd, 2> far;
    platform::PortMap ports;
    for (int i = 0; i < 2; ++i) {
        if (!far[i].make(work + "/com" + std::to_string(i + 1)))
            return std::fprintf(stderr, "soak_driver: cannot make a far end in %s\n", work.c_str()), 1;
        if (auto error = ports.addExplicit(i + 1, far[i].link))
            return std::fprintf(stderr, "%s\n", error->c_str()), 1;
    }
    const std::string captureFile = work + "/capture.bin";

    engine::Engine engine(ports);
    auto window = std::make_unique<ui::Cmainwin>(engine);
    QString error;
    if (!window->Create(&error)) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    window->setCaptureDialog([&] { return captureFile; });
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) return std::fprintf(stderr, "window not exposed\n"), 1;
    // Intercede through the mode window; the display off, so that the
    // traffic window holds only the status lines however long the soak runs.
    clickWidget(window->control(id::kModeButton));
    if (!waitFor([&] { return window->modeWindow() && window->modeWindow()->isVisible(); }))
        return std::fprintf(stderr, "soak_driver: no mode window\n"), 1;
    clickWidget(window->modeWindow()->control(id::kIntercedeRadio));
    clickWidget(window->modeWindow()->control(id::kOk));
    clickWidget(window->control(id::kOff));
    QTest::qWait(100);

    const std::size_t fdsStart = openFds();
    std::array<Stream, 2> streams;  // 0: into COM1, out of COM2; 1: the other way
    streams[0].seed = 1;
    streams[1].seed = 2;
    int problems = 0;
    const auto problem = [&](const char* what, long cycle) {
        ++problems;
        std::fprintf(stderr, "soak_driver: cycle %ld: %s\n", cycle, what);
    };

    const auto start = Clock::now();
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minutes * 60));
    int nextMinute = 1;
    long cycle = 0, hangUps = 0;
    for (; Clock::now() < end; ++cycle) {
        clickWidget(window->control(id::kOpenClose));
        if (!waitFor([&] { return window->state().portOpen && engine.isOpen(0) && engine.isOpen(1); })) {
            problem("Open COM did not open both ports", cycle);
            break;
        }
        streams[0].start(far[0].pair.master.get(), far[1].pair.master.get());
        streams[1].start(far[1].pair.master.get(), far[0].pair.master.get());
        QTest::qWait(1000);
        clickWidget(window->control(id::kCapture));
        if (!waitFor([&] { return capturing(*window); })) problem("Capture did not start", cycle);
        QTest::qWait(500);
        clickWidget(window->control(id::kCapture));
        if (!waitFor([&] { return !capturing(*window); })) problem("Capture did not stop", cycle);
        QTest::qWait(500);
        for (Stream& s : streams) s.stopWriting();
        // Everything written comes out at the other far end before the close.
        if (!waitFor([&] {
                return streams[0].read == streams[0].written && streams[1].read == streams[1].written;
            }))
            problem("not everything written came out within 20 s", cycle);
        for (Stream& s : streams) s.stopReading();

        if (cycle % 5 == 4) {
            // A far end hangs up; the window ends the session by itself.
            const int side = static_cast<int>(hangUps++ % 2);
            far[side].pair.master.reset();
            if (!waitFor([&] { return !window->state().portOpen && !engine.isOpen(0) && !engine.isOpen(1); }))
                problem("the hang-up did not close the session", cycle);
            if (!far[side].make(far[side].link)) {
                problem("no new far end", cycle);
                break;
            }
        } else {
            clickWidget(window->control(id::kOpenClose));
            if (!waitFor([&] { return !window->state().portOpen; }))
                problem("Close COM did not close", cycle);
        }

        if (Clock::now() - start >= std::chrono::minutes(nextMinute)) {
            std::printf("minute=%d rss_kib=%ld fds=%zu cycles=%ld\n", nextMinute, statusKib("VmRSS:"),
                        openFds(), cycle + 1);
            std::fflush(stdout);
            ++nextMinute;
        }
    }

    window->flushTraffic();
    const std::string text = window->trafficView()->text();
    const std::uint64_t bytesIn = streams[0].written + streams[1].written;
    const std::uint64_t bytesOut = streams[0].read + streams[1].read;
    const std::uint64_t notDelivered = notDeliveredIn(text);
    const std::uint64_t lost = bytesIn - std::min(bytesIn, bytesOut + notDelivered);
    const std::uint64_t changed = streams[0].changed + streams[1].changed;
    const std::size_t fdsEnd = openFds();
    const bool failed = text.find("Capture write failed") != std::string::npos;
    std::printf(
        "cycles=%ld hang_ups=%ld changed=%llu not_delivered=%llu traffic_text=%zu capture_failed=%d "
        "problems=%d\n",
        cycle, hangUps, static_cast<unsigned long long>(changed),
        static_cast<unsigned long long>(notDelivered), text.size(), failed ? 1 : 0, problems);
    std::printf("bytes_in=%llu bytes_out=%llu lost=%llu peak_rss_kib=%ld fds_start=%zu fds_end=%zu\n",
                static_cast<unsigned long long>(bytesIn), static_cast<unsigned long long>(bytesOut),
                static_cast<unsigned long long>(lost), statusKib("VmHWM:"), fdsStart, fdsEnd);
    std::fflush(stdout);

    window.reset();
    std::error_code ignored;
    for (const FarEnd& f : far) fs::remove(f.link, ignored);
    fs::remove(captureFile, ignored);
    if (argc <= 2) fs::remove(work, ignored);
    return lost == 0 && changed == 0 && fdsStart == fdsEnd && problems == 0 && !failed ? 0 : 1;
}

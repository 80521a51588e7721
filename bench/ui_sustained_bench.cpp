// The main window under a sustained stream: Intercede mode between two
// pseudo-terminal ports, both directions written at full speed, HEX display.
// Shows whether the GUI thread stays responsive (lateness of a 10 ms timer),
// what the traffic window holds per MiB of text, how long a click, a repaint
// and select-all + copy take with traffic flowing, and how long closing takes.
//
// Usage: ui_sustained_bench [seconds, default 60] [RSS limit in MiB, default 12288]
// Copying a selection needs about three times its size for a moment (the
// text, then UTF-16 for the clipboard); when the machine has not that much
// free, only the last 256 MiB are copied and the time is scaled.
// Uses QT_QPA_PLATFORM as set (xcb under Xvfb); offscreen when there is no display.

#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "platform/port_map.h"
#include "platform/posix_io.h"
#include "platform/pty_pair.h"
#include "support/click_widget.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "ui/traffic_view.h"
#include "ui_open_intercede.h"
#include "window/control_ids.h"

namespace {

using ostrel::bench::openIntercede;

using namespace ostrel;
using ui::test::clickWidget;
using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
double sinceMs(Clock::time_point start) {
    return ms(Clock::now() - start);
}

double rssMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / kMiB;
}

double availableMiB() {
    double kib = 0;
    if (FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %lf kB", &kib) == 1) break;
        std::fclose(f);
    }
    return kib / 1024;
}

// The byte at `offset` of a stream: splitmix64 of the 8-byte word index, so a
// reader can check any byte without keeping what was written.
std::uint8_t patternAt(std::uint64_t seed, std::uint64_t offset) {
    std::uint64_t z = seed + (offset / 8) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint8_t>((z ^ (z >> 31)) >> (8 * (offset % 8)));
}

// One direction: a writer into one master, a reader of the far master that
// checks every relayed byte against the pattern.
struct Stream {
    Stream(const char* name, int writeFd, int readFd, std::uint64_t seed)
        : name(name), writeFd(writeFd), readFd(readFd), seed(seed) {}
    const char* name;
    int writeFd;
    int readFd;
    std::uint64_t seed;
    std::atomic<std::uint64_t> written{0}, received{0}, mismatches{0};
    std::jthread writer, reader;

    void printCounts(const char* when, bool complete) const {
        const auto w = static_cast<unsigned long long>(written.load());
        const auto r = static_cast<unsigned long long>(received.load());
        const bool ok = mismatches == 0 && (!complete || w == r);
        std::printf("%s %s: %llu of %llu bytes came through, %llu mismatched -> %s\n", name, when, r, w,
                    static_cast<unsigned long long>(mismatches.load()), ok ? "OK" : "FAILED");
    }
    void startWriter() {
        writer = std::jthread([this](std::stop_token stop) {
            std::array<std::uint8_t, 4096> buffer;
            std::uint64_t offset = written.load();
            while (!stop.stop_requested()) {
                for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = patternAt(seed, offset + i);
                const auto n = ostrel::platform::io::writeSome(writeFd, buffer);
                if (n && n.value() > 0) written.store(offset += n.value());
                if (!n && n.error().code != EAGAIN) return;
                if (!n || n.value() == 0) {
                    pollfd p{writeFd, POLLOUT, 0};
                    ::poll(&p, 1, 50);
                }
            }
        });
    }
    void startReader() {
        reader = std::jthread([this](std::stop_token stop) {
            std::vector<std::uint8_t> buffer(64 * 1024);
            std::uint64_t offset = 0, bad = 0;
            while (!stop.stop_requested()) {
                pollfd p{readFd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = ::read(readFd, buffer.data(), buffer.size());
                if (n <= 0) continue;
                for (ssize_t i = 0; i < n; ++i)
                    bad += buffer[static_cast<std::size_t>(i)] != patternAt(seed, offset + i);
                offset += static_cast<std::uint64_t>(n);
                mismatches.store(bad);
                received.store(offset);
            }
        });
    }
};

// Lateness of a 10 ms timer on the GUI thread, in ms.
struct Lateness {
    std::vector<double> samples;
    double at(double q) {
        if (samples.empty()) return 0;
        std::sort(samples.begin(), samples.end());
        return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
    }
    std::string describe() {
        char s[96];
        std::snprintf(s, sizeof s, "ticks %4zu  late p50 %6.2f p99 %7.2f max %7.2f ms", samples.size(),
                      at(0.5), at(0.99), at(1.0));
        return s;
    }
};

double timeMs(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return sinceMs(start);
}

struct Bench {
    std::array<Stream, 2>* streams;
    ui::Cmainwin* window;
    double rssLimit;
    Clock::time_point start = Clock::now();

    ui::TrafficView& view() const { return *window->trafficView(); }
    double relayedMiB(int i) const { return static_cast<double>((*streams)[i].received.load()) / kMiB; }

    void printStatus(Lateness& interval) {
        const double relayed = relayedMiB(0) + relayedMiB(1);
        const double text = static_cast<double>(view().size()) / kMiB;
        std::printf(
            "t=%5.1fs  DTE->DCE %7.1f  DCE->DTE %7.1f MiB  text %8.1f  view %8.1f  RSS %8.1f MiB  "
            "chars/byte %4.2f  %s\n",
            sinceMs(start) / 1000, relayedMiB(0), relayedMiB(1), text,
            static_cast<double>(view().memoryBytes()) / kMiB, rssMiB(), relayed > 0 ? text / relayed : 0,
            interval.describe().c_str());
        std::fflush(stdout);
    }

    // Runs the GUI loop for `seconds` with the 10 ms timer, printing every
    // `every` seconds (0: never); stops early past the RSS limit.
    Lateness runFor(double seconds, double every) {
        Lateness all, interval;
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        const auto begin = Clock::now();
        auto last = begin, lastReport = begin;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            const double late = std::max(0.0, ms(now - last) - 10.0);
            last = now;
            all.samples.push_back(late);
            interval.samples.push_back(late);
            if (every > 0 && ms(now - lastReport) >= every * 1000) {
                printStatus(interval);
                interval.samples.clear();
                lastReport = now;
            }
            const bool overLimit = rssMiB() > rssLimit;
            if (overLimit) std::printf("RSS past the limit of %.0f MiB: stopping early\n", rssLimit);
            if (overLimit || ms(now - begin) >= seconds * 1000) loop.quit();
        });
        tick.start(10);
        loop.exec();
        return all;
    }
};

// A click, a repaint, select all and copy, while traffic flows.
void operatorActions(Bench& bench) {
    ui::TrafficView& view = bench.view();
    const auto textMiB = [&] { return static_cast<double>(view.size()) / kMiB; };
    // The middle of the view as it stands (following the end), then the middle of the text.
    for (const bool middleOfText : {false, true}) {
        if (middleOfText) view.scrollToRow(view.rowCount() / 2);
        const QPoint middle = view.viewport()->rect().center();
        const double clickMs =
            timeMs([&] { QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, middle); });
        const double repaintMs = timeMs([&] { view.viewport()->repaint(); });
        std::printf("click into the view%s: %.2f ms, caret at %.1f of %.1f MiB; repaint(): %.2f ms\n",
                    middleOfText ? " scrolled to the middle of the text" : "", clickMs,
                    static_cast<double>(view.caretPosition()) / kMiB, textMiB(), repaintMs);
        std::printf("  next 3 s, traffic inserted at the caret: %s\n", bench.runFor(3, 0).describe().c_str());
    }
    const double selectMs = timeMs([&] { QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier); });
    const double selectedMiB = static_cast<double>(view.caretPosition() - view.anchorPosition()) / kMiB;
    std::printf("Ctrl+A: %.2f ms (%.1f MiB selected)\n", selectMs, selectedMiB);
    double copiedMiB = selectedMiB;
    if (selectedMiB > availableMiB() / 4) {
        copiedMiB = 256;
        view.setSelection(view.size() - static_cast<qint64>(copiedMiB * kMiB), view.size());
        std::printf("  too big to copy here (%.0f MiB free): copying the last %.0f MiB instead\n",
                    availableMiB(), copiedMiB);
    }
    const double copyMs = timeMs([&] { QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier); });
    std::printf("Ctrl+C: %.0f ms for %.1f MiB (%.2f s per GiB; the whole text: ~%.1f s); RSS now %.0f MiB\n",
                copyMs, copiedMiB, copyMs / copiedMiB * 1.024, copyMs / copiedMiB * selectedMiB / 1000,
                rssMiB());
    const std::string after = bench.runFor(2, 0).describe();
    std::printf("  next 2 s: %s; text now %.1f MiB (new traffic replaced the selection)\n", after.c_str(),
                textMiB());
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 60.0;
    const double rssLimit = argc > 2 ? std::atof(argv[2]) : 12288.0;
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    std::array<platform::PtyPair, 2> pty;
    platform::PortMap ports;
    for (int i = 0; i < 2; ++i) {
        auto pair = platform::openPtyPair();
        if (!pair)
            return std::fprintf(stderr, "no pseudo-terminal: %s\n", pair.error().describe().c_str()), 1;
        pty[i] = std::move(pair).value();
        if (auto error = ports.addExplicit(i + 1, pty[i].slavePath))
            return std::fprintf(stderr, "%s\n", error->c_str()), 1;
    }
    engine::Engine engine(ports);
    auto window = std::make_unique<ui::Cmainwin>(engine);
    QString error;
    if (!window->Create(&error)) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) return std::fprintf(stderr, "window not exposed\n"), 1;
    if (!openIntercede(*window, engine))
        return std::fprintf(stderr, "the Intercede session did not open\n"), 1;
    const ui::TrafficView& view = *window->trafficView();
    std::printf("platform %s, window %dx%d, traffic view %d columns x %d rows, %.0f s\n",
                qPrintable(QGuiApplication::platformName()), window->width(), window->height(),
                view.columns(), view.visibleRows(), seconds);

    // COM1 is the DTE side, COM2 the DCE side.
    std::array<Stream, 2> streams{{{"DTE->DCE", pty[0].master.get(), pty[1].master.get(), 1},
                                   {"DCE->DTE", pty[1].master.get(), pty[0].master.get(), 2}}};
    Bench bench{&streams, window.get(), rssLimit};
    QTest::qWait(200);
    const double rssBase = rssMiB();
    const qint64 textBase = view.size();
    for (Stream& s : streams) s.startReader(), s.startWriter();
    bench.start = Clock::now();
    Lateness run = bench.runFor(seconds, 5);
    const double runSeconds = sinceMs(bench.start) / 1000;
    const double textMiB = static_cast<double>(view.size() - textBase) / kMiB;
    const double rssEnd = rssMiB();

    std::printf("\n== summary over %.1f s ==\n", runSeconds);
    for (int i = 0; i < 2; ++i)
        std::printf("%s: %.1f MiB relayed, %.2f MiB/s\n", streams[i].name, bench.relayedMiB(i),
                    bench.relayedMiB(i) / runSeconds);
    std::printf(
        "text shown %.1f MiB (%.2f MiB/s); view storage %.3f MiB per MiB shown; RSS %.0f -> %.0f MiB, "
        "%.3f MiB per MiB shown\n",
        textMiB, textMiB / runSeconds,
        static_cast<double>(view.memoryBytes()) / static_cast<double>(view.size()), rssBase, rssEnd,
        (rssEnd - rssBase) / textMiB);
    std::printf("GUI timer over the run: %s (%.0f expected)\n", run.describe().c_str(), runSeconds * 100);

    // The relay loses nothing: stop writing, let everything come through, compare.
    for (Stream& s : streams) s.writer = {};
    const auto drainStart = Clock::now();
    const bool drained = QTest::qWaitFor(
        [&] {
            return std::all_of(streams.begin(), streams.end(),
                               [](Stream& s) { return s.received == s.written; });
        },
        30000);
    std::printf("drain after the writers stopped: %.0f ms%s\n", sinceMs(drainStart),
                drained ? "" : " (incomplete after 30 s)");
    for (const Stream& s : streams) s.printCounts("after the drain", true);

    std::printf("\n== with traffic flowing ==\n");
    for (Stream& s : streams) s.startWriter();
    bench.runFor(3, 0);
    operatorActions(bench);
    const double closeMs = timeMs([&] { clickWidget(window->control(window::id::kOpenClose)); });
    const double destroyMs = timeMs([&] { window.reset(); });
    std::printf("Close COM: %.1f ms; destroying the window: %.1f ms\n", closeMs, destroyMs);
    for (Stream& s : streams) s.writer = {};
    QTest::qWait(300);
    for (Stream& s : streams) s.reader = {};
    for (const Stream& s : streams) s.printCounts("after the close", false);
    return 0;
}

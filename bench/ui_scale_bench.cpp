// The traffic window at scale: feeds a real TrafficView (offscreen) GIB of
// HEX traffic lines in 10 KiB appends, as the main window does, and measures
// at 1 MiB and at the end the costs the operator feels: an append, a repaint,
// a click, scrolling to any place; then Find over all of it (a text that is
// not there, so the whole text is scanned) and Save Text As. The older text
// goes to the user's cache folder as in the program.
//
// Usage: ui_scale_bench GIB [--rewrap]   (--rewrap: also time one re-wrap
// of everything after a resize). The last line is
//   shown_gib=N rss_mib=N append_us_p50=N append_us_p99=N paint_ms_p99=N

#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ui/traffic_view.h"
#include "ui_bench_feed.h"

namespace {

using ostrel::bench::Clock;
using ostrel::bench::kMiB;
using ostrel::bench::kPiece;
using ostrel::bench::microseconds;
using ostrel::ui::TrafficView;

struct Spread {
    double median = 0;
    double p99 = 0;
};

Spread spreadOf(std::vector<double> times) {
    if (times.empty()) return {};
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 99 / 100)]};
}

Spread timeSpread(int runs, const std::function<void(int)>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work(i);
        times.push_back(microseconds(Clock::now() - start));
    }
    return spreadOf(std::move(times));
}

long rssKiB() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

// 64 MiB of HEX lines as the formatter writes them, each line a little
// different, fed round and round.
std::string trafficPool() {
    static const char digits[] = "0123456789ABCDEF";
    std::mt19937 random(1);
    std::string pool;
    pool.reserve(64 * kMiB + 256);
    while (static_cast<qint64>(pool.size()) < 64 * kMiB) {
        pool += "\r\n[09:05:03:042] ";
        pool += random() % 2 ? "DTE ->> " : "DCE <<- ";
        for (int i = 0, n = 4 + static_cast<int>(random() % 17); i < n; ++i) {
            const auto byte = random() % 256;
            pool += "0x";
            pool += digits[byte / 16];
            pool += digits[byte % 16];
            pool += ' ';
        }
    }
    pool.resize(64 * kMiB);
    return pool;
}

struct Costs {
    Spread paintMs;
    Spread clickUs;
    Spread scrollMs;  // scroll to a random place and paint there
};

Costs measureView(TrafficView& view, std::mt19937& random) {
    Costs costs;
    QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    view.scrollToRow(view.rowCount());
    costs.paintMs = timeSpread(100, [&](int) { view.viewport()->render(&frame); });
    costs.paintMs.median /= 1000;
    costs.paintMs.p99 /= 1000;
    QWidget* surface = view.viewport();
    costs.clickUs = timeSpread(200, [&](int i) {
        const QPoint at(40 + (i % 7) * 13, 10 + (i % 11) * view.rowHeight());
        QMouseEvent press(QEvent::MouseButtonPress, at, surface->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, surface->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(surface, &press);
        QApplication::sendEvent(surface, &release);
    });
    costs.scrollMs = timeSpread(100, [&](int) {
        view.scrollToRow(static_cast<qint64>(random() % static_cast<std::uint64_t>(view.rowCount())));
        view.viewport()->render(&frame);
    });
    costs.scrollMs.median /= 1000;
    costs.scrollMs.p99 /= 1000;
    view.setCaretPosition(view.size());
    view.scrollToRow(view.rowCount());
    return costs;
}

void printCosts(const char* when, const Costs& costs, const Spread& append) {
    std::printf(
        "%-10s append 10 KiB p50 %.1f us p99 %.1f us | paint p50 %.2f ms p99 %.2f ms | "
        "click p50 %.1f us p99 %.1f us | scroll anywhere + paint p50 %.2f ms p99 %.2f ms\n",
        when, append.median, append.p99, costs.paintMs.median, costs.paintMs.p99, costs.clickUs.median,
        costs.clickUs.p99, costs.scrollMs.median, costs.scrollMs.p99);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_scale_bench GIB [--rewrap]\n");
        return 2;
    }
    const double gib = std::atof(argv[1]);
    const bool rewrap = argc > 2 && std::string(argv[2]) == "--rewrap";
    const auto target = static_cast<qint64>(gib * 1024 * kMiB);
    if (target < 2 * kMiB) {
        std::fprintf(stderr, "ui_scale_bench: GIB must give at least 2 MiB\n");
        return 2;
    }

    TrafficView view;
    view.setNotice([](QWidget*, const QString& title, const QString& text) {
        std::printf("notice: %s: %s\n", qPrintable(title), qPrintable(text));
    });
    view.resize(view.widthForColumns(100), view.heightForRows(40));
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) return 1;
    const std::string pool = trafficPool();
    std::mt19937 random(7);
    std::printf(
        "ui_scale_bench: %.2f GiB of HEX lines into the traffic window, 10 KiB per append, "
        "%lld MiB kept in memory, rss at start %ld MiB\n",
        gib, TrafficView::kResidentBytes / kMiB, rssKiB() / 1024);

    std::size_t poolAt = 0;
    std::vector<double> appendTimes;
    appendTimes.reserve(static_cast<std::size_t>(target / static_cast<qint64>(kPiece)) + 1);
    auto appendUpTo = [&](qint64 size) {
        while (view.size() < size) {
            if (poolAt + kPiece > pool.size()) poolAt = 0;
            const auto start = Clock::now();
            view.appendText(std::string_view(pool).substr(poolAt, kPiece));
            appendTimes.push_back(microseconds(Clock::now() - start));
            poolAt += kPiece;
            // The main window paints between batches; so does this feed, now and then.
            if (appendTimes.size() % 64 == 0) QApplication::processEvents();
        }
    };

    appendUpTo(kMiB);
    appendTimes.clear();
    appendUpTo(2 * kMiB);
    const Spread appendAtStart = spreadOf(appendTimes);
    printCosts("at 2 MiB", measureView(view, random), appendAtStart);

    appendTimes.clear();
    const auto fillStart = Clock::now();
    qint64 nextReport = kMiB * 1024;
    while (view.size() < target) {
        appendUpTo(std::min(target, nextReport));
        std::printf("  %6.2f GiB shown, rss %ld MiB, %lld MiB of it in the file, %.0f s\n",
                    static_cast<double>(view.size()) / (1024.0 * kMiB), rssKiB() / 1024,
                    view.store().spilledBytes() / kMiB,
                    std::chrono::duration<double>(Clock::now() - fillStart).count());
        std::fflush(stdout);
        nextReport += kMiB * 1024;
    }
    if (!view.store().spillProblem().empty()) std::printf("spill: %s\n", view.store().spillProblem().c_str());
    const Spread appendAll = spreadOf(appendTimes);
    const Costs atEnd = measureView(view, random);
    printCosts("at the end", atEnd, appendAll);
    const long rss = rssKiB();

    // Find: a text that is not there, so every byte is scanned.
    view.showFindBar();
    view.findBar()->setNeedle(QStringLiteral("0x4G"));
    const auto findStart = Clock::now();
    view.findNext(false);
    (void)QTest::qWaitFor([&] { return !view.isFinding(); }, 3600 * 1000);
    const double findSeconds = std::chrono::duration<double>(Clock::now() - findStart).count();
    std::printf("find (not there, all scanned): %.2f s, %.0f MiB/s, \"%s\"\n", findSeconds,
                static_cast<double>(view.size()) / kMiB / findSeconds, qPrintable(view.findBar()->status()));
    view.findBar()->matchCaseBox()->setChecked(true);
    const auto findCaseStart = Clock::now();
    view.findNext(false);
    (void)QTest::qWaitFor([&] { return !view.isFinding(); }, 3600 * 1000);
    const double findCaseSeconds = std::chrono::duration<double>(Clock::now() - findCaseStart).count();
    std::printf("find, match case (not there): %.2f s, %.0f MiB/s\n", findCaseSeconds,
                static_cast<double>(view.size()) / kMiB / findCaseSeconds);

    // Save Text As, into a folder of the bench's own next to the cache.
    std::string folderPattern = (std::filesystem::temp_directory_path() / "ostrel-scale-XXXXXX").string();
    if (const char* tmp = std::getenv("OSTREL_SCALE_SAVE_DIR"))
        folderPattern = std::string(tmp) + "/ostrel-scale-XXXXXX";
    const std::string folder = ::mkdtemp(folderPattern.data());
    const std::string path = folder + "/saved.txt";
    view.setSaveFileQuestion([&](QWidget*) { return QString::fromStdString(path); });
    const auto saveStart = Clock::now();
    view.saveTextAs();
    (void)QTest::qWaitFor([&] { return !view.isSaving(); }, 3600 * 1000);
    const double saveSeconds = std::chrono::duration<double>(Clock::now() - saveStart).count();
    std::error_code error;
    const auto saved = std::filesystem::file_size(path, error);
    std::printf("save text as: %.2f s, %.0f MiB/s of text, file %.0f MiB (LF line ends), synced\n",
                saveSeconds, static_cast<double>(view.size()) / kMiB / saveSeconds,
                static_cast<double>(saved) / kMiB);
    std::filesystem::remove_all(folder);

    if (rewrap) {
        // The new width applies after a 200 ms pause; then what is shown is laid
        // out at once and the rest a slice per turn of the event loop.
        const int columnsBefore = view.columns();
        const auto start = Clock::now();
        view.resize(view.QWidget::size().width() + 80, view.QWidget::size().height());
        (void)QTest::qWaitFor([&] { return view.columns() != columnsBefore; }, 60000);
        const double applied = std::chrono::duration<double>(Clock::now() - start).count();
        double longestTurnMs = 0;
        while (view.isLayingOut()) {
            const auto turn = Clock::now();
            QApplication::processEvents();
            longestTurnMs = std::max(longestTurnMs, microseconds(Clock::now() - turn) / 1000);
        }
        std::printf(
            "re-wrap after a resize: new width shown after %.2f s (incl. the 200 ms pause), all laid "
            "out after %.1f s, longest event-loop turn meanwhile %.1f ms\n",
            applied, std::chrono::duration<double>(Clock::now() - start).count(), longestTurnMs);
    }

    std::printf("shown_gib=%.2f rss_mib=%ld append_us_p50=%.1f append_us_p99=%.1f paint_ms_p99=%.2f\n",
                static_cast<double>(view.size()) / (1024.0 * kMiB), rss / 1024, appendAll.median,
                appendAll.p99, atEnd.paintMs.p99);
    return 0;
}

// Figures for the traffic view at size: the cost of a 10 KiB append as the
// text grows to 1 GiB (one endless line, and ordinary HEX lines), memory per
// MiB shown, and at 256 MiB the time to paint a frame, map a click, type,
// copy a 1 MiB selection, copy everything and re-wrap after a resize.
//
// Usage: ui_traffic_view_bench [max MiB, default 1024]. Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise.

#include <malloc.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

// Mean time of `runs` calls of `work`, in microseconds.
double timeEach(int runs, const std::function<void()>& work) {
    const auto start = Clock::now();
    for (int i = 0; i < runs; ++i) work();
    return microseconds(Clock::now() - start) / runs;
}

struct Spread {
    double mean = 0;
    double median = 0;
    double p99 = 0;
};

// Times `runs` calls of `work` one by one, in microseconds.
Spread timeSpread(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(microseconds(Clock::now() - start));
    }
    Spread spread;
    for (const double t : times) spread.mean += t / runs;
    std::sort(times.begin(), times.end());
    spread.median = times[times.size() / 2];
    spread.p99 = times[times.size() * 99 / 100];
    return spread;
}

std::string hexLines(std::size_t size) {
    static const std::string line =
        "\r\n[09:05:03:042] DTE ->> 0x41 0x54 0x44 0x54 0x35 0x35 0x35 0x31 0x32 0x0D ";
    std::string text;
    while (text.size() < size) text += line;
    text.resize(size);
    return text;
}

double paintFrame(TrafficView& view) {
    QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    return timeEach(20, [&] { view.viewport()->render(&frame); });
}

void measureAtSize(TrafficView& view) {
    view.scrollToRow(view.rowCount());
    std::printf("    paint a frame at the end:             %10.1f us\n", paintFrame(view));
    view.scrollToRow(view.rowCount() / 2);
    std::printf("    paint a frame in the middle:          %10.1f us\n", paintFrame(view));

    QWidget* surface = view.viewport();
    int clicks = 0;
    const double click = timeEach(200, [&] {
        const QPoint at(40 + (clicks % 7) * 13, 10 + (clicks % 11) * view.rowHeight());
        ++clicks;
        QMouseEvent press(QEvent::MouseButtonPress, at, surface->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, surface->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(surface, &press);
        QApplication::sendEvent(surface, &release);
    });
    std::printf("    click in the middle (press+release):  %10.1f us\n", click);

    const double typing = timeEach(200, [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(&view, &key);
    });
    std::printf("    type a key in the middle:             %10.1f us\n", typing);

    const qint64 middle = view.size() / 2;
    view.setSelection(middle, middle + kMiB);
    const double copy = timeEach(5, [&] { view.copy(); });
    std::printf("    copy a 1 MiB selection:               %10.1f us\n", copy);

    const double selectAll = timeEach(20, [&] { view.selectAll(); });
    std::printf("    select all:                           %10.3f us\n", selectAll);
    const double copyAll = timeEach(1, [&] { view.copy(); });
    std::printf("    copy everything:                      %10.1f ms\n", copyAll / 1000);
    QGuiApplication::clipboard()->clear();  // later figures without a huge clipboard held

    const QSize size = view.QWidget::size();  // size() alone is the text size
    // A large text is re-wrapped once the resizing pauses (200 ms), included here.
    const int columnsBefore = view.columns();
    const auto resizeStart = Clock::now();
    view.resize(size.width() + 80, size.height());
    if (!QTest::qWaitFor([&] { return view.columns() != columnsBefore; }, 60000))
        std::puts("    (no re-wrap)");
    std::printf("    re-wrap after a resize (+200 ms pause): %8.1f ms\n",
                microseconds(Clock::now() - resizeStart) / 1000);
    view.resize(size);
    if (!QTest::qWaitFor([&] { return view.columns() == columnsBefore; }, 60000))
        std::puts("    (no re-wrap)");
    view.setCaretPosition(view.size());
    view.scrollToRow(view.rowCount());
}

void run(const char* title, qint64 maxMiB, const std::function<std::string(std::size_t)>& make) {
    std::printf("\n%s\n", title);
    std::printf("  %6s  %26s  %10s  %14s\n", "MiB", "10 KiB append mean/median/p99", "64 B append",
                "memory per MiB");
    TrafficView view;
    view.resize(view.widthForColumns(100), 600);
    view.show();
    QApplication::processEvents();

    const std::string piece = make(kPiece);
    const std::string small = make(64);
    const std::string batch = make(256 * 1024);
    const std::vector<qint64> milestones = {1, 64, 256, 1024};
    for (const qint64 milestone : milestones) {
        if (milestone > maxMiB) break;
        // Grow in the main window's largest batches, then time 10 KiB appends.
        while (view.size() + static_cast<qint64>(batch.size()) <= milestone * kMiB) view.appendText(batch);
        const Spread append = timeSpread(1000, [&] { view.appendText(piece); });
        const double tiny = timeEach(10000, [&] { view.appendText(small); });
        const double mibShown = static_cast<double>(view.size()) / kMiB;
        std::printf("  %6lld  %9.1f /%6.1f /%6.1f us  %7.2f us  %10.3f MiB\n",
                    static_cast<long long>(milestone), append.mean, append.median, append.p99, tiny,
                    static_cast<double>(view.memoryBytes()) / kMiB / mibShown);
        QApplication::processEvents();
        if (milestone == 256) {
            std::printf("  at 256 MiB (%lld rows):\n", static_cast<long long>(view.rowCount()));
            measureAtSize(view);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const qint64 maxMiB = argc > 1 ? std::atoll(argv[1]) : 1024;
    run("One logical line that never ends (10 KiB of 'A' per append)", maxMiB,
        [](std::size_t size) { return std::string(size, 'A'); });
    malloc_trim(0);  // the second run starts on fresh pages too, as the first did
    run("HEX traffic lines of 79 characters", maxMiB, hexLines);
    return 0;
}

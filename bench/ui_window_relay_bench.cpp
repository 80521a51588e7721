// The main window as a relay for relay_bench: offscreen, Intercede between
// two given ports (COM1 the DTE side, COM2 the DCE side), HEX display, opened
// through the controls as the operator does it. Prints "ready" on standard
// output once the session is open, and closes and ends when standard input
// reaches its end (relay_bench closes its end of the pipe).
//
// Usage: ui_window_relay_bench DTE-PATH DCE-PATH

#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/engine.h"
#include "platform/port_map.h"
#include "support/click_widget.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "ui_open_intercede.h"
#include "window/control_ids.h"

namespace {

using namespace ostrel;
using ostrel::bench::openIntercede;
using ui::test::clickWidget;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return std::fprintf(stderr, "usage: ui_window_relay_bench DTE-PATH DCE-PATH\n"), 2;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    platform::PortMap ports;
    for (int i = 0; i < 2; ++i)
        if (auto error = ports.addExplicit(i + 1, argv[i + 1]))
            return std::fprintf(stderr, "%s\n", error->c_str()), 1;
    engine::Engine engine(ports);
    auto window = std::make_unique<ui::Cmainwin>(engine);
    QString error;
    if (!window->Create(&error)) return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) return std::fprintf(stderr, "window not exposed\n"), 1;
    if (!openIntercede(*window, engine))
        return std::fprintf(stderr, "the Intercede session did not open\n"), 1;
    std::printf("ready\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) <= 0) {
            input.setEnabled(false);
            QApplication::exit(0);
        }
    });
    QApplication::exec();
    clickWidget(window->control(window::id::kOpenClose));
    window.reset();
    return 0;
}

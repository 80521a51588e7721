// The window front end's entry (see ostrel_window_main.h).

#include "ui/ostrel_window_main.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>

#include "demo/demo_devices.h"
#include "engine/engine.h"
#include "frontend/port_setup.h"
#include "frontend/termination_signals.h"
#include "ui/cmainwin.h"
#include "ui/pictures.h"
#include "ui/screenshot_mode.h"
#include "window/costrel_module.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void initOstrelResources() {
    Q_INIT_RESOURCE(ostrel_resources);
}

namespace ostrel::ui {

namespace {

void report(const std::string& message) {
    std::fprintf(stderr, "ostrel: %s\n", message.c_str());
}

// The command line's choices, shown in the window's controls at start.
window::StartChoices startChoicesFrom(const frontend::Options& options, const frontend::PortSetup& ports) {
    window::StartChoices choices;
    if (options.modeGiven)
        choices.mode = options.mode;
    else if (ports.demo)
        choices.mode = engine::kIntercede;  // the demo line is watched between its two devices
    choices.dtePort = ports.dte;
    choices.dcePort = ports.dce;
    choices.baudRate = options.baud;
    choices.parity = options.parity;
    choices.dataBits = options.dataBits;
    choices.stopBits = options.stopBits;
    choices.flowControl = options.flow;
    choices.display = options.display;
    choices.stamp = options.stamp;
    return choices;
}

}  // namespace

int RunWindow(int argc, char* argv[], const frontend::Options& options) {
    initOstrelResources();
    const window::CostrelModule module(window::JoinCommandLine(argc, argv));
    // SIGINT, SIGTERM and SIGHUP (Ctrl+C in the terminal, a logout, the
    // terminal closed) end the run as "Exit" does, so the ports are closed and
    // their settings put back. They are blocked before Qt or the engine start
    // a thread.
    frontend::TerminationSignals terminationSignals;
    // A capture into a pipe whose reader has gone must give EPIPE (reported
    // as a failed capture write), not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    // Qt sees the program name only: its own options (--display, -style,
    // -geometry...) would otherwise take Ostrel's, and "--display hex" would
    // be read as an X display. Ostrel's options were parsed already.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("ostrel"));
    QApplication::setDesktopFileName(QStringLiteral("ostrel"));
    QApplication::setWindowIcon(OstrelIcon());
    // The loop ends only through "Exit" or the close box.
    QApplication::setQuitOnLastWindowClosed(false);

    frontend::PortSetupResult built = frontend::BuildPortSetup(options);
    if (!built.setup) {
        report(built.error);
        return built.exitCode;
    }
    // Open COM is synchronous in the window: a port by URL gets 3 s.
    built.setup->map.setRemoteWaitMs(3000);
    const frontend::PortSetup& ports = *built.setup;
    if (const std::string lines = frontend::VirtualPortLines(options, ports); !lines.empty())
        std::fputs(lines.c_str(), stderr);
    std::optional<demo::DemoLine> demo;
    if (ports.demo)
        demo.emplace(ports.demo->dteDeviceLink, ports.demo->dceDeviceLink, options.demoPaceMs,
                     options.demoSeed);

    engine::Engine engine(ports.map);
    {
        Cmainwin window(engine);
        QString error;
        if (!window.Create(&error)) {
            report("the main window cannot be made: " + error.toStdString());
            return 1;
        }
        window.ApplyStartChoices(startChoicesFrom(options, ports));
        QObject::connect(
            &window, &Cmainwin::quitRequested, &application, [] { QApplication::exit(0); },
            Qt::QueuedConnection);
        // Shown whatever show state the program was started with.
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
        // --capture starts a capture at once.
        if (!options.captureFile.empty()) {
            const std::string file = options.captureFile;
            window.setCaptureDialog([file] { return file; });
            window.OnCapture();
            window.setCaptureDialog({});
        }
        QSocketNotifier onSignal(terminationSignals.fd(), QSocketNotifier::Read);
        QObject::connect(&onSignal, &QSocketNotifier::activated, &window, [&terminationSignals, &window] {
            if (terminationSignals.take() != 0) window.OnExit();
        });
        // --duration presses "Exit" at a steady-clock deadline. A timer takes
        // at most INT_MAX ms (about 24.8 days) and a coarse one may fire a
        // little early, so it is re-armed until the deadline has passed.
        QTimer durationTimer;
        durationTimer.setSingleShot(true);
        if (options.durationSeconds) {
            using std::chrono::steady_clock;
            const steady_clock::time_point deadline =
                steady_clock::now() + std::chrono::duration_cast<steady_clock::duration>(
                                          std::chrono::duration<double>(*options.durationSeconds));
            const auto armTowardsDeadline = [&durationTimer, deadline] {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
                durationTimer.start(static_cast<int>(
                    std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max())));
            };
            QObject::connect(&durationTimer, &QTimer::timeout, &window,
                             [&window, deadline, armTowardsDeadline] {
                                 if (steady_clock::now() >= deadline)
                                     window.OnExit();
                                 else
                                     armTowardsDeadline();
                             });
            armTowardsDeadline();
        }
        ScreenshotMode screenshots(window);
        screenshots.startFromEnvironment();

        QApplication::exec();
        window.hide();
    }  // every worker is stopped and joined here, before the engine goes
    // Windows handed to deleteLater go now, while the application exists.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    demo.reset();

    const window::RegistrationOutcome outcome =
        module.RunSwitch(window::DesktopEntryDirectory(), window::CurrentExecutable(argv[0]));
    if (!outcome.message.empty()) report(outcome.message);
    return outcome.exitCode;
}

}  // namespace ostrel::ui

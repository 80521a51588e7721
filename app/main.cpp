// The ostrel program: parses the command line, then runs the session in the
// window front end when a display is available, headless otherwise.

#include "frontend/operator_text.h"
#include "frontend/options.h"
#include "frontend/standard_fds.h"
#include "headless/headless_frontend.h"

#if defined(OSTREL_WITH_QT)
#include "frontend/display_probe.h"
#include "ui/ostrel_window_main.h"
#endif

#if defined(OSTREL_WITH_QT)
namespace {

// The windows need a display; --headless and --list-ports never open them,
// and neither do scripted sends (--send, --send-stdin), which are for a
// session without an operator, nor --interactive, which types from the terminal.
bool WantWindow(const ostrel::frontend::Options& options) {
    if (options.headless || options.listPorts) return false;
    if (!options.sends.empty() || options.sendStdin || options.interactive) return false;
    // A display named but not reachable falls back to headless, since the
    // toolkit would end the process when it cannot connect.
    return ostrel::frontend::WindowSystemReachable();
}

}  // namespace
#endif

int main(int argc, char* argv[]) {
    using namespace ostrel::frontend;
    // Before anything opens a file: a closed standard descriptor would
    // otherwise be taken by a port.
    OpenClosedStandardFds();
    const ParseResult parsed = ParseOptions(argc, argv);
    if (!parsed.run) {
        WriteText(1, parsed.output);
        WriteText(2, parsed.error);
        return parsed.exitCode;
    }

#if defined(OSTREL_WITH_QT)
    if (WantWindow(parsed.options)) {
        // The window front end; it acts on "RegServer" / "UnregServer" after
        // its window has closed.
        return ostrel::ui::RunWindow(argc, argv, parsed.options);
    }
#endif

    // The headless front end ignores the registration words (options.h).
    return ostrel::headless::RunHeadless(parsed.options);
}

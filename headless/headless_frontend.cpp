#include "headless/headless_frontend.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "demo/demo_devices.h"
#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine/port_enumeration.h"
#include "engine/status_text.h"
#include "frontend/operator_text.h"
#include "frontend/port_choice.h"
#include "frontend/port_list.h"
#include "frontend/termination_signals.h"
#include "headless/headless_window.h"
#include "headless/line_splitter.h"
#include "headless/output_writer.h"
#include "headless/raw_terminal.h"
#include "headless/start_banner.h"
#include "headless/terminal_text.h"
#include "platform/posix_io.h"
#include "presentation/capture_file.h"
#include "presentation/send_command.h"
#include "presentation/traffic_formatter.h"

namespace ostrel::headless {

using demo::DemoLine;
using frontend::kExitHangUp;
using frontend::kExitOk;
using frontend::kExitOpenFailed;
using frontend::Options;
using frontend::PortEnvironment;
using frontend::PortSetup;
using frontend::PortSetupResult;
using frontend::TerminationSignals;
using frontend::WriteText;
namespace {

using namespace std::chrono;
namespace text = engine::text;

// Standard input is not read while the send side holds this much unsent.
constexpr std::size_t kSendQueueLimit = 256 * 1024;
constexpr int kSendQueueLookMs = 20;

class Session {
public:
    Session(const Options& options, const RunIo& io, PortSetup& ports, TerminationSignals& signals)
        : options_(options),
          io_(io),
          ports_(ports),
          signals_(signals),
          window_(display_, options.mode, options.display, options.sendTarget),
          writer_(
              display_, io.out, [this](int error) { window_.post(OutputFailed{error}); },
              terminalFilter(io.out)),
          formatter_(window_, capture_),
          engine_(ports.map) {
        window_.attach(engine_);
        formatter_.SetStampFormat(options.stamp);
        if (ports.demo)
            demo_.emplace(ports.demo->dteDeviceLink, ports.demo->dceDeviceLink, options.demoPaceMs,
                          options.demoSeed);
    }

    int run() {
        engine_.InitEngine(window_, formatter_);
        engine_.StartPump();
        std::string captureProblem;
        // The full path, as the window's file dialog gives it.
        if (!options_.captureFile.empty() &&
            !capture_.Start(absolutePath(options_.captureFile), window_, &captureProblem)) {
            error("--capture: " + captureProblem);
            return finish(kExitOpenFailed);
        }
        engine::SessionConfig config = sessionConfig();
        // A side without a port opens COM1, unless that is the kernel's console.
        if (!frontend::ApplyFallbackPorts(config, ports_.map, table_, listed_)) {
            window_.appendStatusText(text::kOpenError);
            window_.appendStatusText(text::kCheckSettings);
            window_.appendStatusText(text::statusLine(frontend::kConsoleNotChosen));
            error(frontend::kConsoleNotChosen);
            return finish(kExitOpenFailed);
        }
        // Named on the command line it was refused already; here a default
        // selection fell on the port named for the other side.
        if (const int same = frontend::PortChosenForBothSides(config)) {
            window_.appendStatusText(text::kOpenError);
            window_.appendStatusText(text::kCheckSettings);
            window_.appendStatusText(frontend::ChosenForBothSidesLine(same));
            error(platform::comName(same) + ": chosen for both sides");
            return finish(kExitOpenFailed);
        }
        if (engine_.OpenSession(config) != engine::kStatusOk) {
            window_.appendStatusText(text::kOpenError);
            window_.appendStatusText(text::kCheckSettings);
            // Why each port failed, as the window shows it.
            for (const std::string& reason : engine_.openErrors())
                window_.appendStatusText(text::statusLine(reason));
            engine_.CloseAllPorts();
            for (const std::string& reason : engine_.openErrors()) error(reason);
            if (engine_.openErrors().empty()) error("the ports could not be opened");
            return finish(kExitOpenFailed);
        }
        window_.appendStatusText(text::kPortOn);
        for (const std::string& note : engine_.openNotes()) window_.appendStatusText(note);
        // Typed keys reach the port from here on; the terminal is put back
        // as this goes, however the run ends.
        std::optional<RawTerminal> keys;
        if (options_.interactive) {
            keys.emplace(io_.in);
            if (!keys->active()) {
                error("--interactive: " + keys->error());
                closeSession();
                return finish(frontend::kExitBadOption);
            }
        }
        if (::isatty(io_.err) == 1) WriteText(io_.err, StartBanner(config, ports_.map, options_.interactive));
        for (const std::string& line : options_.sends) send(line);

        const int code = loop();
        closeSession();  // however the loop ended, a hang-up included
        return finish(code);
    }

private:
    void error(const std::string& message) { WriteText(io_.err, "ostrel: " + message + "\n"); }

    // A terminal gets the text with the line's control bytes made visible,
    // so that it never acts on them; files and pipes get the exact bytes.
    static OutputWriter::Filter terminalFilter(int fd) {
        if (::isatty(fd) != 1) return {};
        const bool utf8 = LocaleIsUtf8();
        return [utf8](std::string_view text) { return ForTerminal(text, utf8); };
    }

    static std::string absolutePath(const std::string& path) {
        std::error_code ec;
        const std::filesystem::path full = std::filesystem::absolute(path, ec);
        return ec ? path : full.string();
    }

    // Filled as Open COM fills it: both sides in every mode, the same line
    // settings on both, flow control none in the two listening modes. A side
    // without a port gets the port lists' default selection (the first and
    // second port that opens), or 0, which the engine takes as COM1.
    engine::SessionConfig sessionConfig() {
        int dte = ports_.dte;
        int dce = ports_.dce;
        if ((dte == 0 && engine::ModeUsesSide(options_.mode, engine::kDteSide)) ||
            (dce == 0 && engine::ModeUsesSide(options_.mode, engine::kDceSide))) {
            const engine::PortListing listing = engine::EnumeratePorts(ports_.map);
            if (dte == 0 && listing.dteSelection >= 0) dte = listing.table[listing.dteSelection];
            if (dce == 0 && listing.dceSelection >= 0) dce = listing.table[listing.dceSelection];
            table_ = listing.table;
            listed_ = listing.count;
        }
        engine::PortSettings line;
        line.baudRate = options_.baud;
        line.dataBits = options_.dataBits;
        line.parity = options_.parity;
        line.stopBits = options_.stopBits;
        line.flowControl = options_.flow;
        return engine::MakeSessionConfig(options_.mode, line, static_cast<std::uint8_t>(dte),
                                         static_cast<std::uint8_t>(dce));
    }

    // The front-end thread's message loop. Returns the exit code.
    int loop() {
        std::optional<steady_clock::time_point> deadline;
        if (options_.durationSeconds)
            deadline = steady_clock::now() +
                       duration_cast<steady_clock::duration>(duration<double>(*options_.durationSeconds));
        bool stdinOpen = options_.sendStdin || options_.interactive;
        std::uint64_t lineNumber = 0;
        LineSplitter lines;
        char buffer[65536];

        for (;;) {
            int timeout = -1;
            if (deadline) {
                const auto left = ceil<milliseconds>(*deadline - steady_clock::now()).count();
                if (left <= 0) return kExitOk;
                timeout = static_cast<int>(std::min<long long>(left, 60'000));
            }
            // Standard input waits while the port does not take what was
            // sent: an endless source must not pile up in memory. The queue
            // is looked at again after a short while.
            const bool readStdin = stdinOpen && !sendQueueFull();
            if (stdinOpen && !readStdin)
                timeout = timeout < 0 ? kSendQueueLookMs : std::min(timeout, kSendQueueLookMs);
            pollfd fds[3] = {
                {signals_.fd(), POLLIN, 0}, {window_.noticeFd(), POLLIN, 0}, {io_.in, POLLIN, 0}};
            const nfds_t count = readStdin ? 3 : 2;
            if (const platform::Result<int> polled = platform::io::poll(fds, count, timeout); !polled) {
                // The session cannot go on; the run did not end as asked.
                error("poll: " + platform::errnoWords(polled.error().code, platform::ErrorSubject::Port));
                return kExitOpenFailed;
            }
            if ((fds[0].revents & POLLIN) && signals_.take() != 0) {
                firstSignal_ = steady_clock::now();
                return kExitOk;
            }
            if (fds[1].revents & POLLIN) {
                for (const Notice& notice : window_.takeNotices()) {
                    if (const auto* exit = std::get_if<engine::ReceiveExitNotice>(&notice)) {
                        // A late notice from a session closed before is not ours to act on.
                        if (!engine_.IsCurrentReceiveThread(exit->threadId)) continue;
                        return exit->outOfMemory ? kExitOpenFailed : kExitHangUp;
                    }
                    if (std::holds_alternative<OutputFailed>(notice)) return kExitOk;  // finish() reports it
                }
            }
            if (readStdin && fds[2].revents != 0) {
                const platform::Result<std::size_t> n =
                    platform::io::readSome(io_.in, {reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer});
                if (n && n.value() > 0 && options_.interactive) {
                    if (sendKeys(std::string_view(buffer, n.value()))) return kExitOk;
                } else if (n && n.value() > 0) {
                    std::vector<bool> ended;
                    const std::vector<std::string> got =
                        lines.feed(std::string_view(buffer, n.value()), &ended);
                    for (std::size_t i = 0; i < got.size(); ++i) sendLine(got[i], ended[i], ++lineNumber);
                } else if (n || n.error().code != EAGAIN) {
                    // The terminal typed on went away: nobody can stop the run with Ctrl-X.
                    if (options_.interactive) return kExitOk;
                    // End of input ends the sending, not the session.
                    if (auto last = lines.finish()) sendLine(*last, false, ++lineNumber);
                    stdinOpen = false;
                }
            }
        }
    }

    bool sendQueueFull() const {
        const int side = options_.sendTarget == engine::kToDce ? engine::kDceSide : engine::kDteSide;
        return engine_.QueuedBytes(side) >= kSendQueueLimit;
    }

    void send(const std::string& line) { presentation::OnSendText(line, engine_, formatter_, window_); }

    // One line of --send-stdin: its escapes decoded as --send's, and the
    // --eol ending after it when a newline ended it (a '\r' before that
    // newline belongs to the newline). A line with a bad escape is not sent.
    void sendLine(std::string line, bool ended, std::uint64_t number) {
        if (ended && line.ends_with('\r')) line.pop_back();
        frontend::DecodedText decoded = frontend::DecodeEscapes(line);
        if (!decoded.error.empty()) {
            error("standard input line " + std::to_string(number) + ": " + decoded.error + "; not sent");
            return;
        }
        presentation::OnSendText(decoded.text, engine_, formatter_, window_,
                                 ended ? std::string_view(options_.lineEnding) : std::string_view());
    }

    // Keys typed with --interactive, sent as they come: Enter (CR from a raw
    // terminal) as the --eol ending. Returns true at Ctrl-X, after sending
    // what was typed before it.
    bool sendKeys(std::string_view typed) {
        constexpr char kCtrlX = '\x18';
        const std::size_t stop = typed.find(kCtrlX);
        std::vector<std::uint8_t> bytes;
        for (const char c : typed.substr(0, stop)) {
            if (c == '\r')
                bytes.insert(bytes.end(), options_.lineEnding.begin(), options_.lineEnding.end());
            else
                bytes.push_back(static_cast<std::uint8_t>(c));
        }
        if (!bytes.empty()) presentation::OnSendBytes(std::move(bytes), engine_, formatter_, window_);
        return stop != std::string_view::npos;
    }

    // As Close COM: all channels closed, then the status line.
    void closeSession() {
        engine_.CloseAllPorts();
        window_.appendStatusText(text::kPortOff);
    }

    int finish(int code) {
        // Closed first, so that the pump never waits at the display's bound
        // while ShutdownEngine joins it; the text queued so far is still written.
        display_.close();
        capture_.ReleaseWaits();  // nor at the capture's bound
        engine_.ShutdownEngine();
        capture_.Close(window_);  // its lines, if any, still reach the output
        drainOutput();
        if (const std::uint64_t dropped = writer_.dropped(); dropped > 0)
            error(std::to_string(dropped) + " bytes of traffic text not written: standard output blocked");
        // A reader that went away (a pager quit, `head` had enough) ends the
        // run as a signal does, without a word.
        if (const int failure = writer_.failure(); failure != 0 && failure != EPIPE) {
            error(std::string("standard output: ") + std::strerror(failure));
            if (code == kExitOk) code = kExitOpenFailed;
        }
        return code;
    }

    // Writes the text still queued. A reader that does not read would keep
    // the run waiting for ever: once a termination signal has come, the rest
    // is dropped after a grace period, and at once on a second signal.
    void drainOutput() {
        constexpr auto kGrace = milliseconds(1500);
        writer_.requestFinish();
        while (!writer_.waitFinished(milliseconds(20))) {
            if (signals_.take() != 0) {
                if (firstSignal_) {
                    writer_.abandon();
                    break;
                }
                firstSignal_ = steady_clock::now();
            }
            if (firstSignal_ && steady_clock::now() - *firstSignal_ >= kGrace) {
                writer_.abandon();
                break;
            }
        }
        writer_.finish();
    }

    const Options& options_;
    const RunIo& io_;
    PortSetup& ports_;
    TerminationSignals& signals_;
    engine::DisplayQueue display_;
    HeadlessWindow window_;
    OutputWriter writer_;
    presentation::CaptureFile capture_;
    presentation::TrafficFormatter formatter_;
    engine::Engine engine_;         // shut down before everything above goes away
    std::optional<DemoLine> demo_;  // stopped before the engine and the ports go away
    std::optional<steady_clock::time_point> firstSignal_;
    engine::PortNumberTable table_{};  // the port list, for the fallback port
    std::size_t listed_ = 0;           // of the termination signals
};

}  // namespace

int ListPorts(const platform::PortMap& ports, int outFd, const ListPortsDetails& details) {
    std::vector<frontend::ListedPort> listed = frontend::ListedPorts(ports, details.devices);
    // An empty JSON array still goes out: a script reads the answer there.
    if (listed.empty()) WriteText(details.errFd, "ostrel: no serial ports found\n");
    if (listed.empty() && !details.json) return kExitOk;
    WriteText(outFd, details.json ? frontend::PortListJson(listed) : frontend::PortListText(listed));
    return kExitOk;
}

int RunHeadless(const Options& options, const RunIo& io, const PortEnvironment& environment) {
    // A closed standard output must give EPIPE, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        // Before any thread starts, so that every thread has the signals blocked.
        TerminationSignals signals;

        if (options.interactive && ::isatty(io.in) != 1) {
            WriteText(io.err,
                      "ostrel: --interactive: standard input is not a terminal (type to the port "
                      "from a terminal, or use --send-stdin for lines from a file or pipe)\n");
            return frontend::kExitBadOption;
        }

        PortSetupResult built = BuildPortSetup(options, environment);
        if (!built.setup) {
            WriteText(io.err, "ostrel: " + built.error + "\n");
            return built.exitCode;
        }
        built.setup->map.setRemoteWaitMs(5000);  // a port by URL: connection and server answers
        if (options.listPorts) {
            ListPortsDetails details;
            details.errFd = io.err;
            details.json = options.json;
            details.devices = platform::discoverSerialDevices(environment.sysfsRoot, environment.devRoot);
            return ListPorts(built.setup->map, io.out, details);
        }
        WriteText(io.err, frontend::VirtualPortLines(options, *built.setup));

        Session session(options, io, *built.setup, signals);
        return session.run();
    } catch (const std::exception& e) {
        // Only the system running out of something (threads, fds) gets here.
        WriteText(io.err, std::string("ostrel: ") + e.what() + "\n");
        return kExitOpenFailed;
    }
}

}  // namespace ostrel::headless

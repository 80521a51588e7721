#include "frontend/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/remote_url.h"

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif

namespace ostrel::frontend {
namespace {

using namespace engine;

// Raw option texts as CLI11 collects them; they are checked afterwards so that
// every bad value gets one line of our own that names the option.
struct RawOptions {
    std::string mode, dte, dce, baud, parity, dataBits, stopBits, flow, display, capture, sendTo, duration;
    std::string demoPace, demoSeed, eol, stamp;
    std::vector<std::string> sends, ports, virtuals, positionals;
    bool sendStdin = false, demo = false, listPorts = false, headless = false, interactive = false,
         json = false;
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

template <class T>
struct Choice {
    std::string_view name;
    T value;
};

// Looks `text` up among the choices (case does not matter); on failure sets
// `error` to "'x' is not one of a, b, c".
template <class T, std::size_t N>
bool pick(const std::string& text, const Choice<T> (&choices)[N], T& out, std::string& error) {
    const std::string key = lower(text);
    for (const auto& c : choices) {
        if (key == c.name) {
            out = c.value;
            return true;
        }
    }
    error = "'" + text + "' is not one of ";
    for (std::size_t i = 0; i < N; ++i) {
        error += (i == 0 ? "" : ", ");
        error += choices[i].name;
    }
    return false;
}

bool parseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value > max) return false;
    out = value;
    return true;
}

// Digits with an optional fraction ("2", "0.5", ".5", "2."): no sign, no
// exponent, no hexadecimal, no "inf".
std::optional<double> parseDecimal(const std::string& text) {
    const std::size_t point = text.find('.');
    const auto digits = [](std::string_view part) {
        return std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    const std::string_view whole = std::string_view(text).substr(0, point);
    const std::string_view fraction =
        point == std::string::npos ? std::string_view() : std::string_view(text).substr(point + 1);
    if (whole.size() + fraction.size() == 0 || !digits(whole) || !digits(fraction)) return std::nullopt;
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool parseComOrNumber(std::string_view text, int& out) {
    if (auto com = ComNumberOf(text)) {
        out = *com;
        return true;
    }
    std::uint64_t n = 0;
    if (!parseUnsigned(text, 1000, n) || n < 1 || n > 64) return false;
    out = static_cast<int>(n);
    return true;
}

constexpr Choice<OperatingMode> kModes[] = {{"dte", kDteEmulation},
                                            {"dce", kDceEmulation},
                                            {"intercede", kIntercede},
                                            {"half", kHalfDuplex},
                                            {"full", kFullDuplex}};
constexpr Choice<std::uint8_t> kParities[] = {{"none", kNoParity},
                                              {"even", kEvenParity},
                                              {"odd", kOddParity},
                                              {"mark", kMarkParity},
                                              {"space", kSpaceParity}};
constexpr Choice<std::uint8_t> kDataBits[] = {{"7", 7}, {"8", 8}};
constexpr Choice<std::uint8_t> kStopBits[] = {
    {"1", kOneStopBit}, {"1.5", kOne5StopBits}, {"2", kTwoStopBits}};
constexpr Choice<std::uint8_t> kFlows[] = {
    {"none", kFlowNone}, {"hardware", kFlowHardware}, {"xonxoff", kFlowXonXoff}};
constexpr Choice<DisplayFormat> kDisplays[] = {
    {"hex", kDisplayHex}, {"ascii", kDisplayAscii}, {"off", kDisplayOff}};
constexpr Choice<SendTarget> kTargets[] = {{"dte", kToDte}, {"dce", kToDce}};
constexpr Choice<std::string_view> kLineEndings[] = {
    {"none", ""}, {"cr", "\r"}, {"lf", "\n"}, {"crlf", "\r\n"}};
constexpr Choice<StampFormat> kStamps[] = {
    {"time", StampFormat::Time}, {"date", StampFormat::Date}, {"us", StampFormat::Micros}};

std::string_view modeName(OperatingMode mode) {
    switch (mode) {
        case kDteEmulation:
            return "DTE mode";
        case kDceEmulation:
            return "DCE mode";
        case kIntercede:
            return "Intercede mode";
        case kHalfDuplex:
            return "Half Duplex mode";
        default:
            return "Full Duplex mode";
    }
}

std::string urlProblem(const std::string& url) {
    return "'" + url + "' is not a port URL: use rfc2217://HOST:PORT or tcp://HOST:PORT";
}

// The ports named without an option: one is the DTE side of DTE mode, two
// the DTE and DCE sides of Intercede. A mode given with --mode stays, and the
// ports go to the sides it opens; --dte and --dce cannot name them again.
std::string placePositionalPorts(const RawOptions& raw, Options& o) {
    const std::vector<std::string>& ports = raw.positionals;
    if (ports.size() > 2) return "'" + ports[2] + "': unexpected argument (see --help)";
    for (const std::string& port : ports) {
        if (port.empty()) return "'': an empty port name";
    }
    const char* const taken = !raw.dte.empty() ? "--dte" : !raw.dce.empty() ? "--dce" : nullptr;
    if (taken)
        return "'" + ports.front() + "': a port is named both as an argument and with " + taken +
               " (use one or the other)";
    if (!o.modeGiven) {
        o.mode = ports.size() == 1 ? kDteEmulation : kIntercede;
        // Two ports choose Intercede as --mode would, so the window starts in it too.
        o.modeGiven = ports.size() == 2;
    }
    const bool dteSide = ModeUsesSide(o.mode, kDteSide), dceSide = ModeUsesSide(o.mode, kDceSide);
    if (ports.size() == 2 && !(dteSide && dceSide))
        return "'" + ports[1] + "': " + std::string(modeName(o.mode)) + " opens one port, and two are named";
    if (dteSide) {
        o.dte = ports[0];
        if (ports.size() == 2) o.dce = ports[1];
    } else {
        o.dce = ports[0];
    }
    return {};
}

// Checks every value; returns "--option: why" for the first bad one.
std::string validate(const RawOptions& raw, Options& o) {
    std::string why;
    auto fail = [](std::string_view option, const std::string& reason) {
        return std::string(option) + ": " + reason;
    };

    o.demo = raw.demo;
    o.mode = raw.demo ? kIntercede : kDteEmulation;
    if (!raw.mode.empty()) {
        if (!pick(raw.mode, kModes, o.mode, why)) return fail("--mode", why);
        o.modeGiven = true;
    }
    o.dte = raw.dte;
    o.dce = raw.dce;
    if (!raw.positionals.empty()) {
        if (std::string error = placePositionalPorts(raw, o); !error.empty()) return error;
    }
    for (const auto& [name, value] : {std::pair{"--dte", &o.dte}, std::pair{"--dce", &o.dce}}) {
        if (value->empty()) continue;
        if (platform::looksLikeUrl(*value)) {
            if (!platform::parseRemoteUrl(*value)) return fail(name, urlProblem(*value));
            continue;
        }
        // A word that starts with COM and has no '/' is meant as a COM number.
        const std::string word = lower(*value);
        if (word.rfind("com", 0) == 0 && word.find('/') == std::string::npos && !ComNumberOf(*value))
            return fail(name, "'" + *value + "' is not a port: use COM1 to COM64 or a device path");
    }
    if (!raw.baud.empty()) {
        std::uint64_t baud = 0;
        if (!parseUnsigned(raw.baud, 0xFFFFFFFFu, baud) || baud == 0)
            return fail("--baud",
                        "'" + raw.baud + "' is not a rate in bit/s (a whole number from 1 to 4294967295)");
        o.baud = static_cast<std::uint32_t>(baud);
    }
    if (!raw.parity.empty() && !pick(raw.parity, kParities, o.parity, why)) return fail("--parity", why);
    if (!raw.dataBits.empty() && !pick(raw.dataBits, kDataBits, o.dataBits, why))
        return fail("--data-bits", why);
    if (!raw.stopBits.empty() && !pick(raw.stopBits, kStopBits, o.stopBits, why))
        return fail("--stop-bits", why);
    if (!raw.flow.empty() && !pick(raw.flow, kFlows, o.flow, why)) return fail("--flow", why);
    if (!raw.display.empty() && !pick(raw.display, kDisplays, o.display, why)) return fail("--display", why);
    o.captureFile = raw.capture;

    // The send target follows the mode as the mode window sets it: DCE
    // Emulation sends to the DCE side, every other mode to the DTE side.
    o.sendTarget = o.mode == kDceEmulation ? kToDce : kToDte;
    if (!raw.sendTo.empty()) {
        if (!pick(raw.sendTo, kTargets, o.sendTarget, why)) return fail("--send-to", why);
        o.sendTargetGiven = true;
        if (o.mode == kDteEmulation && o.sendTarget == kToDce)
            return fail("--send-to", "the DCE side is not open in DTE mode");
        if (o.mode == kDceEmulation && o.sendTarget == kToDte)
            return fail("--send-to", "the DTE side is not open in DCE mode");
    }
    for (const auto& text : raw.sends) {
        DecodedText decoded = DecodeEscapes(text);
        if (!decoded.error.empty()) return fail("--send", decoded.error);
        o.sends.push_back(std::move(decoded.text));
    }
    o.sendStdin = raw.sendStdin;
    o.interactive = raw.interactive;
    if (o.interactive && o.sendStdin)
        return fail("--interactive",
                    "standard input is either typed (--interactive) or read as lines "
                    "(--send-stdin), not both");
    if (!raw.eol.empty()) {
        std::string_view ending;
        if (!pick(raw.eol, kLineEndings, ending, why)) return fail("--eol", why);
        o.lineEnding = std::string(ending);
    }
    if (!raw.stamp.empty() && !pick(raw.stamp, kStamps, o.stamp, why)) return fail("--stamp", why);
    if (ListensOnly(o.mode)) {
        const std::string reason = std::string(modeName(o.mode)) + " only listens; nothing can be sent";
        if (!o.sends.empty()) return fail("--send", reason);
        if (o.sendStdin) return fail("--send-stdin", reason);
        if (o.interactive) return fail("--interactive", reason);
        if (o.sendTargetGiven) return fail("--send-to", reason);
    }
    if (!raw.duration.empty()) {
        const std::optional<double> parsed = parseDecimal(raw.duration);
        const double seconds = parsed.value_or(0);
        if (!parsed || seconds <= 0 || seconds > 1e9)
            return fail("--duration", "'" + raw.duration + "' is not a positive number of seconds");
        o.durationSeconds = seconds;
    }
    for (const auto& text : raw.ports) {
        const auto eq = text.find('=');
        PortMapping mapping;
        if (eq == std::string::npos || eq + 1 == text.size() ||
            !parseComOrNumber(std::string_view(text).substr(0, eq), mapping.number))
            return fail("--port", "'" + text + "' is not N=PATH with N from 1 to 64");
        mapping.path = text.substr(eq + 1);
        if (platform::looksLikeUrl(mapping.path) && !platform::parseRemoteUrl(mapping.path))
            return fail("--port", urlProblem(mapping.path));
        o.portMappings.push_back(std::move(mapping));
    }
    for (const auto& text : raw.virtuals) {
        const auto eq = text.find('=');
        VirtualRequest request;
        if (!parseComOrNumber(std::string_view(text).substr(0, eq), request.number) ||
            (eq != std::string::npos && eq + 1 == text.size()))
            return fail("--virtual", "'" + text + "' is not N or N=LINKPATH with N from 1 to 64");
        if (eq != std::string::npos) request.linkPath = text.substr(eq + 1);
        for (const VirtualRequest& earlier : o.virtualPorts) {
            if (earlier.number == request.number)
                return fail("--virtual", "COM" + std::to_string(request.number) + " is named twice");
            if (!request.linkPath.empty() && earlier.linkPath == request.linkPath)
                return fail("--virtual", "the link " + request.linkPath + " is named twice");
        }
        o.virtualPorts.push_back(std::move(request));
    }
    if (!raw.demoPace.empty()) {
        std::uint64_t pace = 0;
        if (!parseUnsigned(raw.demoPace, 60000, pace) || pace == 0)
            return fail("--demo-pace",
                        "'" + raw.demoPace + "' is not a number of milliseconds from 1 to 60000");
        o.demoPaceMs = static_cast<int>(pace);
    }
    if (!raw.demoSeed.empty()) {
        std::uint64_t seed = 0;
        if (!parseUnsigned(raw.demoSeed, 0xFFFFFFFFu, seed))
            return fail("--demo-seed", "'" + raw.demoSeed + "' is not a whole number");
        o.demoSeed = static_cast<std::uint32_t>(seed);
    }
    o.listPorts = raw.listPorts;
    o.json = raw.json;
    if (o.json && !o.listPorts) return fail("--json", "goes with --list-ports only");
    o.headless = raw.headless;
    return {};
}

// The option that a CLI11 message is about: its text up to the first ':' or blank.
std::string optionOfMessage(const std::string& message) {
    const auto end = message.find_first_of(": ");
    return message.substr(0, end);
}

}  // namespace

RegistrationSwitch RegistrationWordOf(std::string_view argument) {
    std::size_t i = 0;
    while (i < argument.size() && (argument[i] == '-' || argument[i] == '/')) ++i;
    if (i == 0) return RegistrationSwitch::None;
    const std::string word = lower(argument.substr(i));
    if (word == "regserver") return RegistrationSwitch::Register;
    if (word == "unregserver") return RegistrationSwitch::Unregister;
    return RegistrationSwitch::None;
}

std::optional<int> ComNumberOf(std::string_view text) {
    if (text.size() < 4 || lower(text.substr(0, 3)) != "com") return std::nullopt;
    std::uint64_t n = 0;
    if (!parseUnsigned(text.substr(3), 1000, n) || n < 1 || n > 64) return std::nullopt;
    return static_cast<int>(n);
}

DecodedText DecodeEscapes(std::string_view text) {
    DecodedText out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.text += text[i];
            continue;
        }
        if (++i == text.size()) return {{}, "the text ends with a lone backslash (write \\\\ for one)"};
        switch (text[i]) {
            case 'r':
                out.text += '\r';
                break;
            case 'n':
                out.text += '\n';
                break;
            case 't':
                out.text += '\t';
                break;
            case '0':
                out.text += '\0';
                break;
            case '\\':
                out.text += '\\';
                break;
            case 'x': {
                int value = 0, digits = 0;
                while (digits < 2 && i + 1 < text.size() &&
                       std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[++i])));
                    value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
                    ++digits;
                }
                if (digits == 0) return {{}, "\\x needs one or two hexadecimal digits"};
                out.text += static_cast<char>(value);
                break;
            }
            default:
                return {{},
                        std::string("unknown escape \\") + text[i] + " (use \\r \\n \\t \\0 \\\\ or \\xHH)"};
        }
    }
    return out;
}

ParseResult ParseOptions(int argc, const char* const argv[]) {
    ParseResult result;
    Options& options = result.options;

    // The registration words are taken out before parsing: they belong to the
    // window front end, which acts on the first one found.
    std::vector<const char*> args;
    for (int i = 0; i < argc; ++i) {
        const RegistrationSwitch word = i == 0 ? RegistrationSwitch::None : RegistrationWordOf(argv[i]);
        if (word == RegistrationSwitch::None) {
            args.push_back(argv[i]);
        } else if (options.registration == RegistrationSwitch::None) {
            options.registration = word;
        }
    }

    RawOptions raw;
    CLI::App app{
        "Ostrel: a serial-line analyzer. Without a display (or with --headless) it runs one\n"
        "session and writes the traffic window's text to standard output.",
        "ostrel"};
    app.allow_extras();
    app.set_version_flag("--version", std::string("ostrel ") + OSTREL_VERSION);
    app.footer(
        "PORT is COMn, a device path or the URL of a port on another machine: rfc2217://HOST:PORT\n"
        "(a serial port server, settings applied there) or tcp://HOST:PORT (raw bytes); a path or a\n"
        "URL gets a free COM number. `ostrel PORT` watches one\n"
        "port in DTE mode, `ostrel PORT1 PORT2` sits between two in Intercede mode. A --send text\n"
        "may hold the escapes \\r \\n \\t \\0 \\\\ \\xHH; with --display hex it is read as hexadecimal "
        "digits, as the\n"
        "window's send box is. Exit codes: 0 stopped (signal, --duration), 1 a port or the capture\n"
        "file could not be opened, 2 a bad option, 3 the line went away (hang-up).");
    auto single = [&](const char* name, std::string& into, const char* type, const char* help) {
        return app.add_option(name, into, help)
            ->type_name(type)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    };
    app.add_option("PORT", raw.positionals,
                   "one PORT: --mode dte --dte PORT; two: --mode intercede --dte PORT1 --dce PORT2")
        ->type_name("");
    single("-m,--mode", raw.mode, "dte|dce|intercede|half|full",
           "operating mode (default dte; intercede with two ports or --demo)");
    single("--dte", raw.dte, "PORT",
           "the DTE side's port (default: the first port that opens). In dte, dce and intercede\n"
           "Ostrel plays the DTE on it, wired to the DCE (a modem): what arrives shows as \" DCE ->> \".\n"
           "In half it listens to the line, shown as \" DCE ->> \". In full it listens to the DTE's\n"
           "transmit line, shown as \" DTE ->> \"");
    single("--dce", raw.dce, "PORT",
           "the DCE side's port (default: the second port that opens). In dce and intercede\n"
           "Ostrel plays the DCE on it, wired to the DTE (a terminal): what arrives shows as\n"
           "\" DTE ->> \". Half opens no DCE side. In full it listens to the DCE's transmit line,\n"
           "shown as \" DCE ->> \"");
    single("-b,--baud", raw.baud, "N", "baud rate in bit/s (default 9600)");
    single("--parity", raw.parity, "none|even|odd|mark|space", "parity (default none)");
    single("--data-bits", raw.dataBits, "7|8", "data bits (default 8)");
    single("--stop-bits", raw.stopBits, "1|1.5|2", "stop bits (default 1)");
    single("--flow", raw.flow, "none|hardware|xonxoff", "flow control (default none)");
    single("-d,--display", raw.display, "hex|ascii|off", "display format (default hex)");
    single("--stamp", raw.stamp, "time|date|us",
           "time stamps: time [14:03:07:123] (default), date [2026-12-09 14:03:07:123],\n"
           "us [14:03:07:123456]");
    single("-c,--capture", raw.capture, "FILE", "capture the raw traffic to FILE");
    single("--send-to", raw.sendTo, "dte|dce", "side that sends go to (default: by mode)");
    app.add_option("--send", raw.sends, "send TEXT once after the open (repeatable)")
        ->type_name("TEXT")
        ->allow_extra_args(false);
    app.add_flag("--send-stdin", raw.sendStdin,
                 "send each line of standard input (escapes as in --send), ended as --eol says");
    app.add_flag("-i,--interactive", raw.interactive,
                 "type to the port: the terminal in raw mode, each key sent as typed, Enter sent\n"
                 "as --eol says, Ctrl-X to stop (no window)");
    single("--eol", raw.eol, "none|cr|lf|crlf",
           "what Enter (--interactive) and each --send-stdin line end with (default cr)");
    single("--duration", raw.duration, "SECONDS", "close the ports and stop after SECONDS");
    app.add_option("--port", raw.ports, "map COM number N to a device path or a port URL (repeatable)")
        ->type_name("N=PATH")
        ->allow_extra_args(false);
    app.add_option("--virtual", raw.virtuals, "make virtual port COMn, its device at LINKPATH (repeatable)")
        ->type_name("N[=LINKPATH]")
        ->allow_extra_args(false);
    app.add_flag("--demo", raw.demo, "the demo line: two virtual ports with simulated devices");
    app.add_flag("-l,--list-ports", raw.listPorts, "list the ports that can be opened, then exit");
    app.add_flag("--json", raw.json, "with --list-ports: the list as a JSON array");
    app.add_flag("--headless", raw.headless, "never open the windows");
    // For tests and demonstrations: the demo devices' pace and random seed.
    single("--demo-pace", raw.demoPace, "MS", "")->group("");
    single("--demo-seed", raw.demoSeed, "N", "")->group("");

    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::CallForHelp&) {
        result.output = app.help();
        return result;
    } catch (const CLI::CallForVersion& e) {
        result.output = std::string(e.what()) + "\n";
        return result;
    } catch (const CLI::ArgumentMismatch& e) {
        result.exitCode = kExitBadOption;
        result.error = "ostrel: " + optionOfMessage(e.what()) + ": needs a value\n";
        return result;
    } catch (const CLI::ParseError& e) {
        result.exitCode = kExitBadOption;
        result.error = std::string("ostrel: ") + e.what() + "\n";
        return result;
    }
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        result.exitCode = kExitBadOption;
        const std::string& first = extras.front();
        result.error = first.rfind("-", 0) == 0
                           ? "ostrel: " + first + ": unknown option (see --help)\n"
                           : "ostrel: '" + first + "': unexpected argument (see --help)\n";
        return result;
    }
    if (std::string error = validate(raw, options); !error.empty()) {
        result.exitCode = kExitBadOption;
        result.error = "ostrel: " + error + "\n";
        return result;
    }
    result.run = true;
    return result;
}

}  // namespace ostrel::frontend

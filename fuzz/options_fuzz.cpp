// Fuzz target for the command-line parser: any argv (the input split at zero
// bytes). Invariants: it never throws or ends the process; it either says to
// run, with every setting in its range, or gives help/version text (exit 0)
// or exactly one error message "ostrel: ...\n" (exit 2), never both; and the
// same argv always gives the same answer.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/session_types.h"
#include "frontend/options.h"
#include "fuzz_input.h"

namespace {

using namespace ostrel;
using fuzz::require;

void checkRunnable(const frontend::Options& o) {
    require(o.mode >= engine::kDteEmulation && o.mode <= engine::kFullDuplex, "mode out of range");
    require(o.baud >= 1, "baud rate 0");
    require(o.parity <= engine::kSpaceParity, "parity out of range");
    require(o.dataBits == 7 || o.dataBits == 8, "data bits out of range");
    require(o.stopBits <= engine::kTwoStopBits, "stop bits out of range");
    require(o.flow <= engine::kFlowXonXoff, "flow control out of range");
    require(o.display == engine::kDisplayHex || o.display == engine::kDisplayAscii ||
                o.display == engine::kDisplayOff,
            "display format out of range");
    require(o.sendTarget == engine::kToDte || o.sendTarget == engine::kToDce, "send target out of range");
    // The send target is a side the mode opens.
    require(engine::ModeUsesSide(o.mode, o.sendTarget), "sends go to a side the mode does not open");
    if (engine::ListensOnly(o.mode)) {
        require(o.sends.empty() && !o.sendStdin && !o.interactive, "a listening mode would send");
    }
    require(!(o.interactive && o.sendStdin), "interactive and line input at once");
    if (o.durationSeconds) require(*o.durationSeconds > 0 && *o.durationSeconds <= 1e9, "bad duration");
    for (const frontend::PortMapping& m : o.portMappings) {
        require(m.number >= 1 && m.number <= 64 && !m.path.empty(), "bad port mapping");
    }
    std::set<int> numbers;
    for (const frontend::VirtualRequest& v : o.virtualPorts) {
        require(v.number >= 1 && v.number <= 64, "bad virtual port number");
        require(numbers.insert(v.number).second, "virtual port named twice");
    }
    require(o.demoPaceMs >= 1 && o.demoPaceMs <= 60000, "demo pace out of range");
    require(!o.json || o.listPorts, "--json without --list-ports");
    const std::set<std::string> endings = {"", "\r", "\n", "\r\n"};
    require(endings.count(o.lineEnding) == 1, "unknown line ending");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are the input's zero-separated pieces, at most 64 of them.
    std::vector<std::string> arguments{"ostrel"};
    std::string current;
    for (std::size_t i = 0; i < size && arguments.size() < 64; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() && arguments.size() < 64) arguments.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());

    const frontend::ParseResult result = frontend::ParseOptions(argc, argv.data());
    if (result.run) {
        require(result.exitCode == frontend::kExitOk, "a run with an exit code");
        require(result.output.empty() && result.error.empty(), "a run with text to print");
        checkRunnable(result.options);
    } else if (!result.error.empty()) {
        require(result.output.empty(), "both an error and output");
        require(result.exitCode == frontend::kExitBadOption, "an error without exit code 2");
        require(result.error.rfind("ostrel: ", 0) == 0, "an error not starting with the program's name");
        require(result.error.back() == '\n', "an error without its newline");
        require(result.error.size() > 9, "an empty error message");
    } else {
        require(!result.output.empty(), "neither run, output nor error");
        require(result.exitCode == frontend::kExitOk, "help or version with a failing exit code");
        require(result.output.back() == '\n', "help or version without its newline");
    }

    const frontend::ParseResult again = frontend::ParseOptions(argc, argv.data());
    require(again.run == result.run && again.exitCode == result.exitCode && again.output == result.output &&
                again.error == result.error,
            "the same argv gave another answer");
    if (result.run) {
        const frontend::Options &a = result.options, &b = again.options;
        require(a.mode == b.mode && a.dte == b.dte && a.dce == b.dce && a.baud == b.baud &&
                    a.sends == b.sends && a.captureFile == b.captureFile &&
                    a.durationSeconds == b.durationSeconds,
                "the same argv gave other settings");
    }
    return 0;
}

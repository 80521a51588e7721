#pragma once
// The command line of ostrel, shared by the headless front end and the window
// front end. ParseOptions never exits the process: it returns what to do, and
// the caller prints the text and uses the exit code it was given.
//
// Exit codes used by the front ends: 0 clean stop, 1 a port (or the capture
// file) could not be opened, 2 a bad option, 3 the line went away (hang-up).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session_types.h"

namespace ostrel::frontend {

inline constexpr int kExitOk = 0;
inline constexpr int kExitOpenFailed = 1;
inline constexpr int kExitBadOption = 2;
inline constexpr int kExitHangUp = 3;

// The registration words that the window front end acts on after its window
// has closed ("/RegServer", "-unregserver", ...). The headless front end only
// accepts them so that such a command line does not fail.
enum class RegistrationSwitch { None, Register, Unregister };

struct PortMapping {
    int number = 0;    // 1..64
    std::string path;  // device path
};

struct VirtualRequest {
    int number = 0;        // 1..64
    std::string linkPath;  // empty: a link in the runtime directory
};

struct Options {
    engine::OperatingMode mode = engine::kDteEmulation;
    bool modeGiven = false;  // by --mode, or by naming two ports (Intercede)
    std::string dte;         // "COMn" or a device path; empty when not given
    std::string dce;
    std::uint32_t baud = 9600;
    std::uint8_t parity = engine::kNoParity;
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = engine::kOneStopBit;
    std::uint8_t flow = engine::kFlowNone;
    engine::DisplayFormat display = engine::kDisplayHex;
    std::string captureFile;  // empty: no capture
    engine::SendTarget sendTarget = engine::kToDte;
    bool sendTargetGiven = false;
    std::vector<std::string> sends;  // escapes already decoded, in command-line order
    bool sendStdin = false;
    // --interactive: standard input's terminal in raw mode, each key sent as typed.
    bool interactive = false;
    // What Enter (with --interactive) and the end of each --send-stdin line send.
    std::string lineEnding = "\r";
    engine::StampFormat stamp = engine::StampFormat::Time;
    std::optional<double> durationSeconds;
    std::vector<PortMapping> portMappings;
    std::vector<VirtualRequest> virtualPorts;
    bool demo = false;
    int demoPaceMs = 300;  // typical gap between two lines of the demo devices
    std::uint32_t demoSeed = 1;
    bool listPorts = false;
    bool json = false;      // --list-ports as a JSON array
    bool headless = false;  // --headless: never open the windows
    RegistrationSwitch registration = RegistrationSwitch::None;
};

struct ParseResult {
    // Run: `options` holds the run's settings. Otherwise the caller writes
    // `output` to standard output (help, version) or `error` (one line, with
    // its newline) to standard error, and exits with `exitCode`.
    bool run = false;
    int exitCode = kExitOk;
    std::string output;
    std::string error;
    Options options;
};

ParseResult ParseOptions(int argc, const char* const argv[]);

// Finds the registration word in one argument: one or more '-' or '/'
// followed by "RegServer" or "UnregServer" in any case, and nothing else.
RegistrationSwitch RegistrationWordOf(std::string_view argument);

// Decodes the escapes of a --send text: \r \n \t \0 \\ and \xH or \xHH.
// Returns the reason when the text has a bad escape.
struct DecodedText {
    std::string text;
    std::string error;  // empty when decoded
};
DecodedText DecodeEscapes(std::string_view text);

// "COM3" (any case) to 3; nullopt when the text is not COMn with n in 1..64.
std::optional<int> ComNumberOf(std::string_view text);

}  // namespace ostrel::frontend

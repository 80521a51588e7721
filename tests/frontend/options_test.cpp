// The command line: good values and what they set, bad values and the one
// line that names the option, the registration words, help and version.

#include "frontend/options.h"

#include <gtest/gtest.h>

#include <functional>

namespace ostrel::frontend {
namespace {

using namespace engine;

ParseResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), "ostrel");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return ParseOptions(static_cast<int>(argv.size()), argv.data());
}

struct GoodCase {
    std::vector<std::string> args;
    std::function<bool(const Options&)> holds;
};

class GoodValues : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodValues, AreTaken) {
    const ParseResult r = parse(GetParam().args);
    ASSERT_TRUE(r.run) << r.error;
    EXPECT_TRUE(GetParam().holds(r.options));
}

// Several options per row, so that every name-to-code mapping is met once.
INSTANTIATE_TEST_SUITE_P(
    Table, GoodValues,
    ::testing::Values(
        GoodCase{{"--mode", "dce", "--parity", "even", "--baud=256000"},
                 [](const Options& o) {
                     return o.mode == kDceEmulation && o.sendTarget == kToDce && o.parity == kEvenParity &&
                            o.baud == 256000u;
                 }},
        GoodCase{{"--mode", "intercede", "--parity", "space", "--baud", "4294967295"},
                 [](const Options& o) {
                     return o.mode == kIntercede && o.sendTarget == kToDte && o.parity == kSpaceParity &&
                            o.baud == 4294967295u;
                 }},
        GoodCase{{"--mode", "intercede", "--send-to", "dce", "--parity", "odd", "--stop-bits", "1.5",
                  "--flow", "xonxoff", "--display", "off"},
                 [](const Options& o) {
                     return o.sendTarget == kToDce && o.parity == kOddParity && o.stopBits == kOne5StopBits &&
                            o.flow == kFlowXonXoff && o.display == kDisplayOff;
                 }},
        GoodCase{{"--mode", "half", "--parity", "mark", "--data-bits", "7", "--stop-bits", "2", "--flow",
                  "hardware", "--display", "ascii", "--baud", "12345"},
                 [](const Options& o) {
                     return o.mode == kHalfDuplex && o.parity == kMarkParity && o.dataBits == 7 &&
                            o.stopBits == kTwoStopBits && o.flow == kFlowHardware &&
                            o.display == kDisplayAscii && o.baud == 12345u;
                 }},
        GoodCase{{"--mode", "FULL", "--baud", "9600", "--baud", "19200"},  // case; the last one counts
                 [](const Options& o) { return o.mode == kFullDuplex && o.baud == 19200u; }},
        GoodCase{{"--dte", "COM3", "--dce", "/dev/ttyUSB0", "--duration", "0.5", "--send", "AT\\r\\n",
                  "--send", "\\t\\\\a\\0b", "--send", "\\x7e\\xff\\x4", "--send", "\\x414"},
                 [](const Options& o) {
                     return o.dte == "COM3" && o.dce == "/dev/ttyUSB0" && o.durationSeconds == 0.5 &&
                            o.sends == std::vector<std::string>{"AT\r\n", std::string("\t\\a\0b", 5),
                                                                "\x7E\xFF\x04", "A4"};
                 }},
        GoodCase{{"--port", "3=/dev/ttyUSB0", "--port", "COM4=/dev/ttyACM0", "--virtual", "5", "--virtual",
                  "6=/tmp/link", "--send-stdin", "--list-ports", "--headless"},
                 [](const Options& o) {
                     return o.portMappings.size() == 2 && o.portMappings[0].number == 3 &&
                            o.portMappings[0].path == "/dev/ttyUSB0" && o.portMappings[1].number == 4 &&
                            o.virtualPorts.size() == 2 && o.virtualPorts[0].linkPath.empty() &&
                            o.virtualPorts[1].number == 6 && o.virtualPorts[1].linkPath == "/tmp/link" &&
                            o.sendStdin && o.listPorts && o.headless;
                 }},
        GoodCase{{"--demo"}, [](const Options& o) { return o.demo && o.mode == kIntercede; }},
        GoodCase{{"--demo", "--mode", "dte"},
                 [](const Options& o) { return o.demo && o.mode == kDteEmulation; }},
        // Ports named without an option: one watches a modem, two sit between two devices.
        GoodCase{{"/dev/ttyUSB0"},
                 [](const Options& o) {
                     return o.mode == kDteEmulation && !o.modeGiven && o.dte == "/dev/ttyUSB0" && o.dce.empty();
                 }},
        GoodCase{{"COM3", "/dev/ttyACM0"},
                 [](const Options& o) {
                     return o.mode == kIntercede && o.modeGiven && o.dte == "COM3" && o.dce == "/dev/ttyACM0" &&
                            o.sendTarget == kToDte;
                 }},
        GoodCase{{"rfc2217://host:4000"}, [](const Options& o) { return o.dte == "rfc2217://host:4000"; }},
        // A mode given stays; the ports go to the sides it opens.
        GoodCase{{"-m", "dce", "/dev/ttyS1"},
                 [](const Options& o) {
                     return o.mode == kDceEmulation && o.dce == "/dev/ttyS1" && o.dte.empty() &&
                            o.sendTarget == kToDce;
                 }},
        GoodCase{{"--mode", "full", "/dev/a", "/dev/b"},
                 [](const Options& o) { return o.mode == kFullDuplex && o.dte == "/dev/a" && o.dce == "/dev/b"; }},
        GoodCase{{"--mode", "intercede", "/dev/a"},
                 [](const Options& o) { return o.mode == kIntercede && o.dte == "/dev/a" && o.dce.empty(); }},
        // The short spellings.
        GoodCase{{"-b", "115200", "-m", "intercede", "-d", "ascii", "-c", "cap.bin", "-l", "-i"},
                 [](const Options& o) {
                     return o.baud == 115200u && o.mode == kIntercede && o.display == kDisplayAscii &&
                            o.captureFile == "cap.bin" && o.listPorts && o.interactive;
                 }},
        GoodCase{{"--interactive", "--eol", "crlf", "--stamp", "date"},
                 [](const Options& o) {
                     return o.interactive && o.lineEnding == "\r\n" && o.stamp == StampFormat::Date;
                 }},
        GoodCase{{"--send-stdin", "--eol", "none", "--stamp", "us"},
                 [](const Options& o) { return o.lineEnding.empty() && o.stamp == StampFormat::Micros; }},
        GoodCase{{"--eol", "LF", "--stamp", "time"},
                 [](const Options& o) { return o.lineEnding == "\n" && o.stamp == StampFormat::Time; }},
        GoodCase{{},
                 [](const Options& o) {
                     return o.lineEnding == "\r" && o.stamp == StampFormat::Time && !o.interactive && !o.json;
                 }},
        GoodCase{{"-l", "--json"}, [](const Options& o) { return o.listPorts && o.json; }}));

struct BadCase {
    std::vector<std::string> args;
    const char* option;  // the option the error line must start with
};

class BadValues : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadValues, GiveOneLineNamingTheOptionAndExitCodeTwo) {
    const ParseResult r = parse(GetParam().args);
    EXPECT_FALSE(r.run);
    EXPECT_EQ(r.exitCode, kExitBadOption);
    EXPECT_EQ(r.error.rfind(std::string("ostrel: ") + GetParam().option, 0), 0u) << r.error;
    EXPECT_EQ(std::count(r.error.begin(), r.error.end(), '\n'), 1) << r.error;
    EXPECT_EQ(r.error.back(), '\n');
    EXPECT_EQ(r.output, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadValues,
    ::testing::Values(
        BadCase{{"--mode", "monitor"}, "--mode: "}, BadCase{{"--baud", "0"}, "--baud: "},
        BadCase{{"--baud", "fast"}, "--baud: "}, BadCase{{"--baud", "-9600"}, "--baud: "},
        BadCase{{"--baud", "4294967296"}, "--baud: "}, BadCase{{"--baud", "96 00"}, "--baud: "},
        BadCase{{"--parity", "1"}, "--parity: "}, BadCase{{"--data-bits", "5"}, "--data-bits: "},
        BadCase{{"--stop-bits", "3"}, "--stop-bits: "}, BadCase{{"--flow", "rts"}, "--flow: "},
        BadCase{{"--display", "binary"}, "--display: "}, BadCase{{"--send-to", "both"}, "--send-to: "},
        BadCase{{"--mode", "dte", "--send-to", "dce"}, "--send-to: "},
        BadCase{{"--mode", "dce", "--send-to", "dte"}, "--send-to: "},
        BadCase{{"--mode", "half", "--send", "x"}, "--send: "},
        BadCase{{"--mode", "full", "--send-stdin"}, "--send-stdin: "},
        BadCase{{"--send", "bad\\q"}, "--send: "}, BadCase{{"--send", "end\\"}, "--send: "},
        BadCase{{"--send", "\\xZZ"}, "--send: "}, BadCase{{"--duration", "0"}, "--duration: "},
        BadCase{{"--duration", "soon"}, "--duration: "}, BadCase{{"--duration", "-1"}, "--duration: "},
        // Decimal numbers only: not hexadecimal (0x10 is not 16 s), no exponent, no "inf".
        BadCase{{"--duration", "0x10"}, "--duration: "}, BadCase{{"--duration", "1e3"}, "--duration: "},
        BadCase{{"--duration", "inf"}, "--duration: "}, BadCase{{"--duration", "+2"}, "--duration: "},
        BadCase{{"--duration", "."}, "--duration: "},
        // A virtual port's number and its link are the operator's to give once.
        BadCase{{"--virtual", "5", "--virtual", "COM5=/tmp/b"}, "--virtual: COM5 is named twice"},
        BadCase{{"--virtual", "5=/tmp/a", "--virtual", "6=/tmp/a"},
                "--virtual: the link /tmp/a is named twice"},
        BadCase{{"--port", "3"}, "--port: "}, BadCase{{"--port", "65=/dev/x"}, "--port: "},
        BadCase{{"--port", "0=/dev/x"}, "--port: "}, BadCase{{"--port", "3="}, "--port: "},
        BadCase{{"--virtual", "x"}, "--virtual: "}, BadCase{{"--virtual", "70"}, "--virtual: "},
        BadCase{{"--virtual", "5="}, "--virtual: "}, BadCase{{"--dte", "COM0"}, "--dte: "},
        BadCase{{"--dce", "com99"}, "--dce: "}, BadCase{{"--baud"}, "--baud: "},
        BadCase{{"--frobnicate"}, "--frobnicate: "}, BadCase{{"/dev/a", "/dev/b", "stray"}, "'stray'"},
        // A port named as an argument and with an option, or more ports than the mode opens.
        BadCase{{"/dev/ttyUSB0", "--dte", "/dev/ttyUSB1"}, "'/dev/ttyUSB0': a port is named both"},
        BadCase{{"--dce", "COM2", "/dev/ttyUSB0"}, "'/dev/ttyUSB0': a port is named both"},
        BadCase{{"-m", "dte", "/dev/a", "/dev/b"}, "'/dev/b': DTE mode opens one port"},
        BadCase{{"--mode", "half", "/dev/a", "/dev/b"}, "'/dev/b': Half Duplex mode opens one port"},
        BadCase{{"COM0"}, "--dte: "}, BadCase{{"-b", "x"}, "--baud: "}, BadCase{{"-m", "y"}, "--mode: "},
        BadCase{{"-d", "z"}, "--display: "}, BadCase{{"--eol", "crcr"}, "--eol: "},
        BadCase{{"--stamp", "ms"}, "--stamp: "}, BadCase{{"--json"}, "--json: "},
        BadCase{{"-i", "--send-stdin"}, "--interactive: "},
        BadCase{{"--mode", "half", "--interactive"}, "--interactive: "}, BadCase{{"-c"}, "--capture: "},
        BadCase{{"--demo-pace", "0"}, "--demo-pace: "}));

TEST(Options, HelpAndVersionPrintAndExitZero) {
    const ParseResult help = parse({"--help"});
    EXPECT_FALSE(help.run);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* spelling :
         {"--mode", "--dte",     "--dce",     "--baud",       "--parity",  "--data-bits",  "--stop-bits",
          "--flow", "--display", "--capture", "--send-to",    "--send",    "--send-stdin", "--duration",
          "--port", "--virtual", "--demo",    "--list-ports", "--version", "--headless",   "--interactive",
          "--eol",  "--stamp",   "--json",    "-b",           "-m",        "-d",           "-c",
          "-l",     "-i",        "PORT"})
        EXPECT_NE(help.output.find(spelling), std::string::npos) << spelling;
    EXPECT_EQ(help.output.find("--demo-pace"), std::string::npos) << "test-only option shown";
    // Which device each side's port faces, by mode.
    EXPECT_NE(help.output.find("wired to the DCE (a modem)"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("wired to the DTE (a terminal)"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("transmit line, shown as \" DTE ->> \""), std::string::npos) << help.output;

    const ParseResult version = parse({"--version"});
    EXPECT_FALSE(version.run);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("ostrel ", 0), 0u);
    EXPECT_EQ(version.error, "");
}

TEST(Options, RegistrationWordsAreAcceptedAndOnlyTheFirstCounts) {
    const ParseResult r = parse({"/RegServer", "--baud", "19200"});
    ASSERT_TRUE(r.run) << r.error;
    EXPECT_EQ(r.options.registration, RegistrationSwitch::Register);
    EXPECT_EQ(r.options.baud, 19200u);
    const ParseResult first = parse({"-unregserver", "/REGSERVER"});
    ASSERT_TRUE(first.run) << first.error;
    EXPECT_EQ(first.options.registration, RegistrationSwitch::Unregister);

    // One or more '-' or '/' and the word in any case, nothing else.
    const std::pair<const char*, RegistrationSwitch> table[] = {
        {"/RegServer", RegistrationSwitch::Register},
        {"-regserver", RegistrationSwitch::Register},
        {"--REGSERVER", RegistrationSwitch::Register},
        {"/UnregServer", RegistrationSwitch::Unregister},
        {"-unregSERVER", RegistrationSwitch::Unregister},
        {"RegServer", RegistrationSwitch::None},
        {"/RegServers", RegistrationSwitch::None},
        {"/tmp/RegServer", RegistrationSwitch::None},
        {"-Reg", RegistrationSwitch::None},
        {"", RegistrationSwitch::None}};
    for (const auto& [argument, expected] : table)
        EXPECT_EQ(RegistrationWordOf(argument), expected) << argument;
}

}  // namespace
}  // namespace ostrel::frontend

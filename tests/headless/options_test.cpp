// The command line: good values and what they set, bad values and the one
// line that names the option, the registration words, help and version.

#include "headless/options.h"

#include <gtest/gtest.h>

#include <functional>

namespace ostrel::headless {
namespace {

using namespace engine;

ParseResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), "ostrel");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return ParseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, DefaultsAreThoseOfTheWindowAtStart) {
    const ParseResult r = parse({});
    ASSERT_TRUE(r.run) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.mode, kDteEmulation);
    EXPECT_EQ(o.baud, 9600u);
    EXPECT_EQ(o.parity, kNoParity);
    EXPECT_EQ(o.dataBits, 8);
    EXPECT_EQ(o.stopBits, kOneStopBit);
    EXPECT_EQ(o.flow, kFlowNone);
    EXPECT_EQ(o.display, kDisplayHex);
    EXPECT_EQ(o.sendTarget, kToDte);
    EXPECT_FALSE(o.durationSeconds);
    EXPECT_FALSE(o.demo);
    EXPECT_EQ(o.registration, RegistrationSwitch::None);
}

struct GoodCase {
    std::vector<std::string> args;
    std::function<bool(const Options&)> holds;
    const char* what;
};

class GoodValues : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodValues, AreTaken) {
    const ParseResult r = parse(GetParam().args);
    ASSERT_TRUE(r.run) << r.error;
    EXPECT_TRUE(GetParam().holds(r.options)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GoodValues,
    ::testing::Values(
        GoodCase{{"--mode", "dce"},
                 [](const Options& o) { return o.mode == kDceEmulation && o.sendTarget == kToDce; },
                 "dce sends to DCE"},
        GoodCase{{"--mode", "intercede"},
                 [](const Options& o) { return o.mode == kIntercede && o.sendTarget == kToDte; },
                 "intercede"},
        GoodCase{{"--mode", "half"}, [](const Options& o) { return o.mode == kHalfDuplex; }, "half"},
        GoodCase{{"--mode", "FULL"},
                 [](const Options& o) { return o.mode == kFullDuplex; },
                 "case does not matter"},
        GoodCase{{"--mode", "intercede", "--send-to", "dce"},
                 [](const Options& o) { return o.sendTarget == kToDce; },
                 "send-to"},
        GoodCase{{"--baud", "128000"}, [](const Options& o) { return o.baud == 128000u; }, "128000"},
        GoodCase{{"--baud=256000"}, [](const Options& o) { return o.baud == 256000u; }, "256000 with ="},
        GoodCase{{"--baud", "12345"}, [](const Options& o) { return o.baud == 12345u; }, "any rate"},
        GoodCase{{"--baud", "4294967295"}, [](const Options& o) { return o.baud == 4294967295u; }, "largest"},
        GoodCase{
            {"--parity", "even"}, [](const Options& o) { return o.parity == kEvenParity; }, "even is code 2"},
        GoodCase{
            {"--parity", "odd"}, [](const Options& o) { return o.parity == kOddParity; }, "odd is code 1"},
        GoodCase{{"--parity", "mark"}, [](const Options& o) { return o.parity == kMarkParity; }, "mark"},
        GoodCase{{"--parity", "space"}, [](const Options& o) { return o.parity == kSpaceParity; }, "space"},
        GoodCase{{"--data-bits", "7"}, [](const Options& o) { return o.dataBits == 7; }, "7 bits"},
        GoodCase{{"--stop-bits", "1.5"},
                 [](const Options& o) { return o.stopBits == kOne5StopBits; },
                 "1.5 is code 1"},
        GoodCase{
            {"--stop-bits", "2"}, [](const Options& o) { return o.stopBits == kTwoStopBits; }, "2 is code 2"},
        GoodCase{
            {"--flow", "hardware"}, [](const Options& o) { return o.flow == kFlowHardware; }, "hardware"},
        GoodCase{{"--flow", "xonxoff"}, [](const Options& o) { return o.flow == kFlowXonXoff; }, "xonxoff"},
        GoodCase{
            {"--display", "ascii"}, [](const Options& o) { return o.display == kDisplayAscii; }, "ascii"},
        GoodCase{{"--display", "off"}, [](const Options& o) { return o.display == kDisplayOff; }, "off is 3"},
        GoodCase{{"--dte", "COM3", "--dce", "/dev/ttyUSB0"},
                 [](const Options& o) { return o.dte == "COM3" && o.dce == "/dev/ttyUSB0"; },
                 "ports"},
        GoodCase{{"--send", "AT\\r", "--send", "x\\x41\\n"},
                 [](const Options& o) {
                     return o.sends == std::vector<std::string>{"AT\r", "xA\n"};
                 },
                 "sends in order, decoded"},
        GoodCase{{"--send-stdin"}, [](const Options& o) { return o.sendStdin; }, "send-stdin"},
        GoodCase{{"--duration", "0.5"},
                 [](const Options& o) { return o.durationSeconds == 0.5; },
                 "fractional duration"},
        GoodCase{{"--port", "3=/dev/ttyUSB0", "--port", "COM4=/dev/ttyACM0"},
                 [](const Options& o) {
                     return o.portMappings.size() == 2 && o.portMappings[0].number == 3 &&
                            o.portMappings[0].path == "/dev/ttyUSB0" && o.portMappings[1].number == 4;
                 },
                 "port mappings"},
        GoodCase{{"--virtual", "5", "--virtual", "6=/tmp/link"},
                 [](const Options& o) {
                     return o.virtualPorts.size() == 2 && o.virtualPorts[0].linkPath.empty() &&
                            o.virtualPorts[1].number == 6 && o.virtualPorts[1].linkPath == "/tmp/link";
                 },
                 "virtual ports"},
        GoodCase{{"--demo"},
                 [](const Options& o) { return o.demo && o.mode == kIntercede; },
                 "demo alone runs Intercede"},
        GoodCase{{"--demo", "--mode", "dte"},
                 [](const Options& o) { return o.demo && o.mode == kDteEmulation; },
                 "demo with a mode"},
        GoodCase{{"--list-ports"}, [](const Options& o) { return o.listPorts; }, "list"},
        GoodCase{{"--headless"}, [](const Options& o) { return o.headless; }, "headless"},
        GoodCase{{"--baud", "9600", "--baud", "19200"},
                 [](const Options& o) { return o.baud == 19200u; },
                 "the last of a repeated option counts"}));

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
        BadCase{{"--port", "3"}, "--port: "}, BadCase{{"--port", "65=/dev/x"}, "--port: "},
        BadCase{{"--port", "0=/dev/x"}, "--port: "}, BadCase{{"--port", "3="}, "--port: "},
        BadCase{{"--virtual", "x"}, "--virtual: "}, BadCase{{"--virtual", "70"}, "--virtual: "},
        BadCase{{"--virtual", "5="}, "--virtual: "}, BadCase{{"--dte", "COM0"}, "--dte: "},
        BadCase{{"--dce", "com99"}, "--dce: "}, BadCase{{"--baud"}, "--baud: "},
        BadCase{{"--frobnicate"}, "--frobnicate: "}, BadCase{{"stray"}, "'stray'"},
        BadCase{{"--demo-pace", "0"}, "--demo-pace: "}));

TEST(Options, HelpAndVersionPrintAndExitZero) {
    const ParseResult help = parse({"--help"});
    EXPECT_FALSE(help.run);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* spelling :
         {"--mode", "--dte",     "--dce",     "--baud",       "--parity",  "--data-bits",  "--stop-bits",
          "--flow", "--display", "--capture", "--send-to",    "--send",    "--send-stdin", "--duration",
          "--port", "--virtual", "--demo",    "--list-ports", "--version", "--headless"})
        EXPECT_NE(help.output.find(spelling), std::string::npos) << spelling;
    EXPECT_EQ(help.output.find("--demo-pace"), std::string::npos) << "test-only option shown";

    const ParseResult version = parse({"--version"});
    EXPECT_FALSE(version.run);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("ostrel ", 0), 0u);
    EXPECT_EQ(version.error, "");
}

TEST(Options, RegistrationWordsAreAcceptedAndRecorded) {
    const ParseResult r = parse({"/RegServer", "--baud", "19200"});
    ASSERT_TRUE(r.run) << r.error;
    EXPECT_EQ(r.options.registration, RegistrationSwitch::Register);
    EXPECT_EQ(r.options.baud, 19200u);

    const ParseResult first = parse({"-unregserver", "/REGSERVER"});
    ASSERT_TRUE(first.run) << first.error;
    EXPECT_EQ(first.options.registration, RegistrationSwitch::Unregister)
        << "only the first one found counts";
}

struct WordCase {
    const char* argument;
    RegistrationSwitch expected;
};

class RegistrationWords : public ::testing::TestWithParam<WordCase> {};

TEST_P(RegistrationWords, AreFoundAfterDashOrSlashInAnyCase) {
    EXPECT_EQ(RegistrationWordOf(GetParam().argument), GetParam().expected) << GetParam().argument;
}

INSTANTIATE_TEST_SUITE_P(Table, RegistrationWords,
                         ::testing::Values(WordCase{"/RegServer", RegistrationSwitch::Register},
                                           WordCase{"-regserver", RegistrationSwitch::Register},
                                           WordCase{"--REGSERVER", RegistrationSwitch::Register},
                                           WordCase{"/UnregServer", RegistrationSwitch::Unregister},
                                           WordCase{"-unregSERVER", RegistrationSwitch::Unregister},
                                           WordCase{"RegServer", RegistrationSwitch::None},
                                           WordCase{"/RegServers", RegistrationSwitch::None},
                                           WordCase{"/tmp/RegServer", RegistrationSwitch::None},
                                           WordCase{"-Reg", RegistrationSwitch::None},
                                           WordCase{"", RegistrationSwitch::None}));

struct EscapeCase {
    const char* text;
    std::string decoded;  // when `good`
    bool good;
};

class Escapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(Escapes, AreDecoded) {
    const DecodedText d = DecodeEscapes(GetParam().text);
    if (GetParam().good) {
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.text, GetParam().decoded);
    } else {
        EXPECT_NE(d.error, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Escapes,
    ::testing::Values(EscapeCase{"plain", "plain", true}, EscapeCase{"AT\\r\\n", "AT\r\n", true},
                      EscapeCase{"\\t\\\\", "\t\\", true}, EscapeCase{"a\\0b", std::string("a\0b", 3), true},
                      EscapeCase{"\\x7E\\x7e", "\x7E\x7E", true}, EscapeCase{"\\xff", "\xff", true},
                      EscapeCase{"\\x4", "\x04", true}, EscapeCase{"\\x414", "A4", true},
                      EscapeCase{"", "", true}, EscapeCase{"\\", "", false}, EscapeCase{"\\x", "", false},
                      EscapeCase{"\\a", "", false}));

TEST(Options, ComNumbers) {
    EXPECT_EQ(ComNumberOf("COM1"), 1);
    EXPECT_EQ(ComNumberOf("com64"), 64);
    EXPECT_EQ(ComNumberOf("Com12"), 12);
    EXPECT_FALSE(ComNumberOf("COM0"));
    EXPECT_FALSE(ComNumberOf("COM65"));
    EXPECT_FALSE(ComNumberOf("COM"));
    EXPECT_FALSE(ComNumberOf("COM1x"));
    EXPECT_FALSE(ComNumberOf("/dev/COM1"));
}

}  // namespace
}  // namespace ostrel::headless

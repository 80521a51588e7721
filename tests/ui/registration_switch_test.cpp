// The registration switches: the first "-" or "/" followed by one of the two
// words, in any case, ending at the end, a blank or a tab.

#include "ui/registration_switch.h"

#include <gtest/gtest.h>

namespace ostrel::ui {
namespace {

struct Row {
    const char* commandLine;
    RegistrationSwitch expected;
};

TEST(RegistrationSwitchParse, FindsTheFirstSwitchAfterADashOrSlash) {
    const Row table[] = {
        {"/usr/bin/ostrel", RegistrationSwitch::None},
        {"/usr/bin/ostrel --demo", RegistrationSwitch::None},
        {"/usr/bin/ostrel /RegServer", RegistrationSwitch::Register},
        {"/usr/bin/ostrel -RegServer", RegistrationSwitch::Register},
        {"/usr/bin/ostrel -regserver", RegistrationSwitch::Register},
        {"/usr/bin/ostrel /REGSERVER", RegistrationSwitch::Register},
        {"/usr/bin/ostrel --RegServer", RegistrationSwitch::Register},
        {"/usr/bin/ostrel /UnregServer", RegistrationSwitch::Unregister},
        {"/usr/bin/ostrel -unregserver", RegistrationSwitch::Unregister},
        {"/usr/bin/ostrel -UnRegServer --demo", RegistrationSwitch::Unregister},
        {"/usr/bin/ostrel /RegServer\t-x", RegistrationSwitch::Register},
        // Only the first switch found counts.
        {"ostrel /UnregServer /RegServer", RegistrationSwitch::Unregister},
        {"ostrel -RegServer -UnregServer", RegistrationSwitch::Register},
        // A longer word that begins with a switch name matches neither.
        {"ostrel /RegServers", RegistrationSwitch::None},
        {"ostrel /RegServerX /UnregServer", RegistrationSwitch::Unregister},
        {"ostrel -Reg Server", RegistrationSwitch::None},
        // The word must follow the "-" or "/" directly.
        {"ostrel RegServer", RegistrationSwitch::None},
        {"ostrel - RegServer", RegistrationSwitch::None},
        // A "-" or "/" inside a path or another argument is passed over.
        {"/opt/RegServer-tools/ostrel", RegistrationSwitch::None},
        {"/opt/x/ostrel --port 3=/dev/RegServer", RegistrationSwitch::Register},
        {"", RegistrationSwitch::None},
        {"-", RegistrationSwitch::None},
        {"/", RegistrationSwitch::None},
    };
    for (const Row& row : table)
        EXPECT_EQ(ParseRegistrationSwitch(row.commandLine), row.expected) << '"' << row.commandLine << '"';
}

TEST(RegistrationSwitchParse, JoinsTheArgumentsWithBlanks) {
    const char* argv[] = {"/usr/bin/ostrel", "--demo", "/RegServer"};
    EXPECT_EQ(JoinCommandLine(3, argv), "/usr/bin/ostrel --demo /RegServer");
    EXPECT_EQ(ParseRegistrationSwitch(JoinCommandLine(3, argv)), RegistrationSwitch::Register);
}

}  // namespace
}  // namespace ostrel::ui

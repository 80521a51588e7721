// The registration switches (the first "-" or "/" followed by one of the two
// words, in any case, ending at the end, a blank or a tab) and what they do:
// "RegServer" writes the desktop entry with the AppID, "UnregServer" removes
// only our entry.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/temp_dir.h"
#include "window/desktop_entry.h"
#include "window/desktop_icon.h"
#include "window/registration_switch.h"

namespace ostrel::window {
namespace {

namespace fs = std::filesystem;
using platform::test::TempDir;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

struct Row {
    const char* commandLine;
    RegistrationSwitch expected;
};

TEST(RegistrationSwitchParse, FindsTheFirstSwitchAfterADashOrSlash) {
    const Row table[] = {
        {"/usr/bin/ostrel", RegistrationSwitch::None},
        {"/usr/bin/ostrel --demo", RegistrationSwitch::None},
        {"/usr/bin/ostrel /RegServer", RegistrationSwitch::Register},
        {"/usr/bin/ostrel -regserver", RegistrationSwitch::Register},
        {"/usr/bin/ostrel --RegServer", RegistrationSwitch::Register},
        {"/usr/bin/ostrel /UnregServer", RegistrationSwitch::Unregister},
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
    };
    for (const Row& row : table)
        EXPECT_EQ(ParseRegistrationSwitch(row.commandLine), row.expected) << '"' << row.commandLine << '"';
}

TEST(RegistrationSwitchParse, JoinsTheArgumentsWithBlanks) {
    const char* argv[] = {"/usr/bin/ostrel", "--demo", "/RegServer"};
    EXPECT_EQ(JoinCommandLine(3, argv), "/usr/bin/ostrel --demo /RegServer");
    EXPECT_EQ(ParseRegistrationSwitch(JoinCommandLine(3, argv)), RegistrationSwitch::Register);
}

TEST(DesktopEntryDirectoryTest, PrefersAnAbsoluteXdgDataHome) {
    EXPECT_EQ(DesktopEntryDirectory("/data", "/home/op"), "/data/applications");
    EXPECT_EQ(DesktopEntryDirectory("relative", "/home/op"), "/home/op/.local/share/applications");
    EXPECT_EQ(DesktopEntryDirectory(nullptr, "/home/op"), "/home/op/.local/share/applications");
    EXPECT_EQ(DesktopEntryDirectory("", "/home/op"), "/home/op/.local/share/applications");
    EXPECT_EQ(DesktopEntryDirectory(nullptr, nullptr), "");
}

TEST(DesktopEntryTest, RegisterWritesTheEntryWithTheAppIdAndUnregisterRemovesIt) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string apps = dir / "share/applications";  // created on the way
    EXPECT_EQ(HandleRegistrationSwitch(RegistrationSwitch::None, apps, "/usr/bin/ostrel").exitCode, 0);
    EXPECT_FALSE(fs::exists(apps));  // no switch does nothing
    const RegistrationOutcome outcome =
        HandleRegistrationSwitch(RegistrationSwitch::Register, apps, "/opt/ostrel dir/ostrel");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.message;
    std::ifstream in(fs::path(apps) / "ostrel.desktop");
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/ostrel dir/ostrel\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nX-Ostrel-AppID={D43054EE-D6CE-475F-88CD-2A283E9E3649}\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=ostrel\n"), std::string::npos);
    // The icon in the user's icon theme, next to the entry's folder.
    const fs::path icon = dir / "share/icons/hicolor/scalable/apps/ostrel.svg";
    EXPECT_EQ(readFile(icon), std::string(OstrelIconSvg()));
    EXPECT_NE(OstrelIconSvg().find("<svg"), std::string_view::npos);
    EXPECT_EQ(fs::status(icon).permissions() & fs::perms::others_read, fs::perms::others_read);
    // Registering again keeps one icon and no temporary files.
    EXPECT_EQ(HandleRegistrationSwitch(RegistrationSwitch::Register, apps, "/usr/bin/ostrel").exitCode, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(icon.parent_path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(fs::path(apps) / "ostrel.desktop.new"));

    EXPECT_EQ(HandleRegistrationSwitch(RegistrationSwitch::Unregister, apps, "").exitCode, 0);
    EXPECT_FALSE(fs::exists(fs::path(apps) / "ostrel.desktop"));
    EXPECT_FALSE(fs::exists(icon));
    EXPECT_TRUE(fs::exists(apps));                        // the folder itself stays
    EXPECT_EQ(UnregisterDesktopEntry(apps).exitCode, 0);  // nothing to remove is no failure
}

TEST(DesktopEntryTest, AnotherProgramsEntryAndAFolderThatCannotBeMadeAreReported) {
    TempDir dir;
    const fs::path entry = fs::path(dir.path()) / "ostrel.desktop";
    std::ofstream(entry) << "[Desktop Entry]\nName=Something else\n";
    RegistrationOutcome outcome = UnregisterDesktopEntry(dir.path());
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.message.find("not Ostrel's entry"), std::string::npos);
    EXPECT_TRUE(fs::exists(entry));

    outcome = RegisterDesktopEntry((entry / "applications").string(), "/usr/bin/ostrel");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.message.find("cannot create"), std::string::npos);
}

TEST(DesktopIconTest, AnIconThatIsNotOstrelsOrALinkIsNeitherReplacedNorRemoved) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string apps = dir / "applications";
    EXPECT_EQ(IconDirectoryFor(apps), dir / "icons/hicolor/scalable/apps");
    const fs::path folder = IconDirectoryFor(apps);
    fs::create_directories(folder);
    const fs::path icon = folder / "ostrel.svg";

    // Someone else's file of that name.
    std::ofstream(icon) << "<svg>another picture</svg>";
    RegistrationOutcome outcome =
        HandleRegistrationSwitch(RegistrationSwitch::Register, apps, "/usr/bin/ostrel");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.message.find("not Ostrel's icon"), std::string::npos) << outcome.message;
    EXPECT_EQ(readFile(icon), "<svg>another picture</svg>");
    outcome = HandleRegistrationSwitch(RegistrationSwitch::Unregister, apps, "");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(readFile(icon), "<svg>another picture</svg>");
    fs::remove(icon);

    // A link there, even to a copy of our own icon, is followed neither for writing nor for removing.
    const fs::path elsewhere = dir / "elsewhere.svg";
    std::ofstream(elsewhere) << "precious";
    fs::create_symlink(elsewhere, icon);
    EXPECT_EQ(InstallDesktopIcon(folder).exitCode, 1);
    EXPECT_EQ(readFile(elsewhere), "precious");
    EXPECT_TRUE(fs::is_symlink(icon));
    std::ofstream(elsewhere, std::ios::trunc) << OstrelIconSvg();
    EXPECT_EQ(RemoveDesktopIcon(folder).exitCode, 1);
    EXPECT_TRUE(fs::is_symlink(icon));
    EXPECT_TRUE(fs::exists(elsewhere));
    // A dangling link: not written through either.
    fs::remove(elsewhere);
    EXPECT_EQ(InstallDesktopIcon(folder).exitCode, 1);
    EXPECT_FALSE(fs::exists(elsewhere));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
              1);  // no temporary left
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DesktopEntryTest, RegisterReplacesOnlyItsOwnEntryAndNeverWritesThroughALink) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const fs::path apps = fs::path(dir.path()) / "applications";
    const fs::path entry = apps / "ostrel.desktop";
    fs::create_directories(apps);
    std::ofstream(dir / "precious") << "someone's file\n";
    // A link at the name an earlier version wrote its new text to.
    fs::create_symlink(dir / "precious", apps / "ostrel.desktop.new");

    RegistrationOutcome outcome = RegisterDesktopEntry(apps.string(), "/usr/bin/ostrel");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.message;
    EXPECT_EQ(fileText(dir / "precious"), "someone's file\n");
    EXPECT_TRUE(fs::is_symlink(apps / "ostrel.desktop.new"));
    // Again: our own entry is replaced, and nothing else is left in the folder.
    outcome = RegisterDesktopEntry(apps.string(), "/opt/ostrel");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.message;
    EXPECT_EQ(fileText(entry), DesktopEntryText("/opt/ostrel"));
    EXPECT_EQ(
        fs::status(entry).permissions() & fs::perms::all,
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(apps), fs::directory_iterator{}), 2);
    fs::remove(apps / "ostrel.desktop.new");

    // Another program's entry is left in place.
    std::ofstream(entry, std::ios::trunc) << "[Desktop Entry]\nName=Something else\n";
    outcome = RegisterDesktopEntry(apps.string(), "/usr/bin/ostrel");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.message, "RegServer: " + entry.string() + " is not Ostrel's entry; left in place");
    EXPECT_EQ(fileText(entry), "[Desktop Entry]\nName=Something else\n");

    // So is a link, even one to a file that carries our AppID.
    fs::remove(entry);
    std::ofstream(dir / "shared.desktop") << DesktopEntryText("/usr/bin/ostrel");
    fs::create_symlink(dir / "shared.desktop", entry);
    EXPECT_EQ(RegisterDesktopEntry(apps.string(), "/opt/ostrel").exitCode, 1);
    EXPECT_EQ(UnregisterDesktopEntry(apps.string()).exitCode, 1);
    EXPECT_TRUE(fs::is_symlink(entry));
    EXPECT_EQ(fileText(dir / "shared.desktop"), DesktopEntryText("/usr/bin/ostrel"));
    EXPECT_EQ(std::distance(fs::directory_iterator(apps), fs::directory_iterator{}), 1);
}

}  // namespace
}  // namespace ostrel::window

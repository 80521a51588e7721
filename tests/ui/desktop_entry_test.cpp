// "RegServer" writes the desktop entry with the AppID; "UnregServer" removes
// only our entry.

#include "ui/desktop_entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ostrel::ui {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/ostrel-desktop-XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string readFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DesktopEntryDirectoryTest, PrefersAnAbsoluteXdgDataHome) {
    EXPECT_EQ(DesktopEntryDirectory("/data", "/home/op"), "/data/applications");
    EXPECT_EQ(DesktopEntryDirectory("relative", "/home/op"), "/home/op/.local/share/applications");
    EXPECT_EQ(DesktopEntryDirectory(nullptr, "/home/op"), "/home/op/.local/share/applications");
    EXPECT_EQ(DesktopEntryDirectory("", "/home/op"), "/home/op/.local/share/applications");
    EXPECT_EQ(DesktopEntryDirectory(nullptr, nullptr), "");
}

TEST(DesktopEntryTest, RegisterWritesTheEntryWithTheAppId) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string apps = dir.path() + "/share/applications";  // created on the way
    const RegistrationOutcome outcome =
        HandleRegistrationSwitch(RegistrationSwitch::Register, apps, "/opt/ostrel dir/ostrel");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.message;
    const std::string text = readFile(fs::path(apps) / "ostrel.desktop");
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/ostrel dir/ostrel\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nX-Ostrel-AppID={D43054EE-D6CE-475F-88CD-2A283E9E3649}\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::path(apps) / "ostrel.desktop.new"));
}

TEST(DesktopEntryTest, UnregisterRemovesOurEntryAndSucceedsWhenThereIsNone) {
    TempDir dir;
    ASSERT_EQ(RegisterDesktopEntry(dir.path(), "/usr/bin/ostrel").exitCode, 0);
    ASSERT_TRUE(fs::exists(fs::path(dir.path()) / "ostrel.desktop"));
    EXPECT_EQ(HandleRegistrationSwitch(RegistrationSwitch::Unregister, dir.path(), "").exitCode, 0);
    EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "ostrel.desktop"));
    EXPECT_TRUE(fs::exists(dir.path()));  // the folder itself stays
    EXPECT_EQ(UnregisterDesktopEntry(dir.path()).exitCode, 0);
}

TEST(DesktopEntryTest, UnregisterLeavesAnotherProgramsEntryAlone) {
    TempDir dir;
    const fs::path entry = fs::path(dir.path()) / "ostrel.desktop";
    std::ofstream(entry) << "[Desktop Entry]\nName=Something else\n";
    const RegistrationOutcome outcome = UnregisterDesktopEntry(dir.path());
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.message.find("not Ostrel's entry"), std::string::npos);
    EXPECT_TRUE(fs::exists(entry));
}

TEST(DesktopEntryTest, RegisterReportsAFolderThatCannotBeMade) {
    TempDir dir;
    const fs::path blocker = fs::path(dir.path()) / "file";
    std::ofstream(blocker) << "x";
    const RegistrationOutcome outcome =
        RegisterDesktopEntry((blocker / "applications").string(), "/usr/bin/ostrel");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.message.find("cannot create"), std::string::npos);
}

TEST(DesktopEntryTest, NoSwitchDoesNothing) {
    TempDir dir;
    EXPECT_EQ(HandleRegistrationSwitch(RegistrationSwitch::None, dir.path(), "/usr/bin/ostrel").exitCode, 0);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace ostrel::ui

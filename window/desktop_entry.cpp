#include "window/desktop_entry.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <system_error>

#include "platform/posix_io.h"
#include "platform/unique_fd.h"
#include "window/desktop_icon.h"

namespace ostrel::window {

namespace fs = std::filesystem;

std::string DesktopEntryDirectory(const char* xdgDataHome, const char* home) {
    if (xdgDataHome && xdgDataHome[0] == '/') return std::string(xdgDataHome) + "/applications";
    if (home && home[0] != '\0') return std::string(home) + "/.local/share/applications";
    return {};
}

std::string DesktopEntryDirectory() {
    return DesktopEntryDirectory(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

namespace {

// Quotes a path for the Exec key when it holds characters that need it.
std::string execArgument(std::string_view path) {
    if (path.find_first_of(" \t\"'\\$`") == std::string_view::npos) return std::string(path);
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string appIdLine() {
    return "X-Ostrel-AppID=" + std::string(kAppId);
}

bool carriesOurAppId(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line == appIdLine()) return true;
    return false;
}

// What is at the entry's path: nothing, our entry (a plain file with our
// AppID line), or anything else (another program's entry, a link, a folder).
enum class EntryKind { None, Ours, Foreign };

EntryKind entryKind(const fs::path& target) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) return errno == ENOENT ? EntryKind::None : EntryKind::Foreign;
    if (!S_ISREG(info.st_mode)) return EntryKind::Foreign;
    return carriesOurAppId(target) ? EntryKind::Ours : EntryKind::Foreign;
}

}  // namespace

std::string DesktopEntryText(std::string_view executable) {
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=Ostrel\n"
         << "GenericName=COM Port Analyzer\n"
         << "Comment=Watch, relay and capture RS-232 serial traffic\n"
         << "Exec=" << execArgument(executable) << "\n"
         << "Icon=ostrel\n"
         << "Terminal=false\n"
         << "Categories=Development;Utility;\n"
         << appIdLine() << "\n";
    return text.str();
}

RegistrationOutcome RegisterDesktopEntry(const std::string& directory, const std::string& executable) {
    if (directory.empty()) return {1, "RegServer: neither XDG_DATA_HOME nor HOME is set"};
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) return {1, "RegServer: cannot create " + directory + ": " + error.message()};
    const fs::path target = fs::path(directory) / kDesktopFileName;
    // Only an entry of ours is replaced; a link or another program's file stays.
    const EntryKind existing = entryKind(target);
    if (existing == EntryKind::Foreign)
        return {1, "RegServer: " + target.string() + " is not Ostrel's entry; left in place"};

    // The text goes into a new file of our own (made exclusively, so never
    // through a link), then takes the entry's name in one step.
    std::string temporary = (fs::path(directory) / ".ostrel.desktop.XXXXXX").string();
    platform::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return {1, "RegServer: cannot write in " + directory + ": " + std::strerror(errno)};
    const std::string text = DesktopEntryText(executable);
    const bool written =
        ::fchmod(fd.get(), 0644) == 0 &&
        platform::io::writeAll(fd.get(),
                               std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))
            .ok() &&
        ::fsync(fd.get()) == 0;
    const int writeError = errno;
    fd.reset();
    if (!written) {
        ::unlink(temporary.c_str());
        return {1, "RegServer: cannot write " + temporary + ": " + std::strerror(writeError)};
    }
    // Where there was no entry, one that appears meanwhile is not replaced.
    const unsigned flags = existing == EntryKind::None ? RENAME_NOREPLACE : 0;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), flags) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        if (renameError == EEXIST)
            return {1, "RegServer: " + target.string() + " is not Ostrel's entry; left in place"};
        return {1, "RegServer: cannot write " + target.string() + ": " + std::strerror(renameError)};
    }
    return {};
}

RegistrationOutcome UnregisterDesktopEntry(const std::string& directory) {
    if (directory.empty()) return {1, "UnregServer: neither XDG_DATA_HOME nor HOME is set"};
    const fs::path target = fs::path(directory) / kDesktopFileName;
    std::error_code error;
    const EntryKind existing = entryKind(target);
    if (existing == EntryKind::None) return {};
    if (existing == EntryKind::Foreign)
        return {1, "UnregServer: " + target.string() + " is not Ostrel's entry; left in place"};
    if (!fs::remove(target, error) || error)
        return {1, "UnregServer: cannot remove " + target.string() + ": " + error.message()};
    return {};
}

std::string CurrentExecutable(const std::string& fallback) {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fallback : self.string();
}

RegistrationOutcome HandleRegistrationSwitch(RegistrationSwitch which, const std::string& directory,
                                             const std::string& executable) {
    switch (which) {
        case RegistrationSwitch::Register: {
            RegistrationOutcome outcome = RegisterDesktopEntry(directory, executable);
            if (outcome.exitCode == 0) outcome = InstallDesktopIcon(IconDirectoryFor(directory));
            return outcome;
        }
        case RegistrationSwitch::Unregister: {
            RegistrationOutcome outcome = UnregisterDesktopEntry(directory);
            if (outcome.exitCode == 0) outcome = RemoveDesktopIcon(IconDirectoryFor(directory));
            return outcome;
        }
        case RegistrationSwitch::None:
            break;
    }
    return {};
}

}  // namespace ostrel::window

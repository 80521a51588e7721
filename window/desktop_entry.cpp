#include "window/desktop_entry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

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
    const fs::path temporary = fs::path(directory) / (std::string(kDesktopFileName) + ".new");
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << DesktopEntryText(executable);
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return {1, "RegServer: cannot write " + temporary.string()};
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return {1, "RegServer: cannot write " + target.string() + ": " + error.message()};
    }
    return {};
}

RegistrationOutcome UnregisterDesktopEntry(const std::string& directory) {
    if (directory.empty()) return {1, "UnregServer: neither XDG_DATA_HOME nor HOME is set"};
    const fs::path target = fs::path(directory) / kDesktopFileName;
    std::error_code error;
    if (!fs::exists(target, error)) return {};
    if (!carriesOurAppId(target))
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

#pragma once
// The program's icon in the user's icon theme: RegServer writes
// <data home>/icons/hicolor/scalable/apps/ostrel.svg (data home being
// $XDG_DATA_HOME, or ~/.local/share), UnregServer removes it when it is
// Ostrel's own, that is when its content is exactly the icon's.
//
// The file is written to a fresh temporary name (O_CREAT|O_EXCL|O_NOFOLLOW)
// and renamed into place, so no write goes through a link. A file of that
// name with other content, or a link, is someone else's and is left alone.

#include <string>
#include <string_view>

#include "window/desktop_entry.h"

namespace ostrel::window {

inline constexpr std::string_view kIconName = "ostrel";

// The icon's SVG text (generated from resources/icons/ostrel.svg).
std::string_view OstrelIconSvg();

// <data home>/icons/hicolor/scalable/apps for the entry directory
// <data home>/applications; empty when the directory is empty.
std::string IconDirectoryFor(const std::string& entryDirectory);

RegistrationOutcome InstallDesktopIcon(const std::string& iconDirectory);
RegistrationOutcome RemoveDesktopIcon(const std::string& iconDirectory);

}  // namespace ostrel::window

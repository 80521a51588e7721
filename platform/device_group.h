#pragma once
// The group that owns a device file, for the words of a refused open: who may
// open it and what the operator can do about it.

#include <optional>
#include <string>

namespace ostrel::platform {

// The name of the group that owns `path` when it is a character device;
// nullopt otherwise (no such file, not a device, the group has no name).
std::optional<std::string> deviceGroupName(const std::string& path);

// "permission denied (owned by group dialout; add yourself to the dialout
// group, then log in again)"; "(owned by group root)" without advice; plain
// "permission denied" when the device's group is not known.
std::string permissionDeniedWords(const std::string& path);

}  // namespace ostrel::platform

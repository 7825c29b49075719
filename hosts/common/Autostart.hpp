#pragma once

#include <filesystem>
#include <string>

namespace quillo {

// Start at login, as the XDG autostart rules have it: a desktop entry in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart by default) that the session starts.
inline constexpr const char* applicationId = "io.quillo.Quillo";

std::filesystem::path autostartEntryPath();

// Enabled when the entry exists and is not hidden (the rules' way of switching one off).
bool autostartEnabled();

// Writes the entry, replacing it atomically, to start the given program's desktop
// panel; throws std::runtime_error saying why when it cannot.
void enableAutostart(const std::filesystem::path& program);
// Removes the entry; nothing to do when there is none.
void disableAutostart();

// The entry's text for that program.
std::string autostartEntry(const std::filesystem::path& program);

}  // namespace quillo

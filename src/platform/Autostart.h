#pragma once
// The per-user entry that starts a program with the user's session: on Windows the value
// "PlumeriaBridge" under HKCU\Software\Microsoft\Windows\CurrentVersion\Run, on Linux the XDG
// autostart file "PlumeriaBridge.desktop" in $XDG_CONFIG_HOME/autostart (default ~/.config).

#include <filesystem>
#include <optional>
#include <string>

namespace Plumeria {

/// Writes (or rewrites) the entry so that it starts `Executable`. False when it cannot be written;
/// nothing else is reported.
bool WriteAutostartEntry(const std::filesystem::path& Executable);

/// Removes the entry if there is one; an absent entry is left absent and counts as success.
bool RemoveAutostartEntry();

/// The command line the entry holds (the quoted executable path), or nothing when there is no
/// entry.
std::optional<std::string> ReadAutostartCommand();

} // namespace Plumeria

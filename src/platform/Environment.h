#pragma once
// Where the program is and where its machine-wide data goes.

#include <filesystem>
#include <string>
#include <string_view>

namespace Plumeria {

/// The base folder for machine-wide program data: the `ProgramData` environment variable when
/// it is set and not empty; on Linux, where it is normally unset, the XDG data home instead.
/// Empty when neither is available.
std::filesystem::path MachineDataBase();

/// Full path of the running executable.
std::filesystem::path ExecutablePath();

/// Builds a path from UTF-8 text (so Cyrillic names survive on Windows too), and back.
std::filesystem::path PathFromUtf8(std::string_view Utf8);
std::string PathToUtf8(const std::filesystem::path& Path);

} // namespace Plumeria

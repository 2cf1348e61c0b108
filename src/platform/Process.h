#pragma once
// Executables of this platform: their file name suffix, making a freshly written file runnable,
// starting a program that lives on after the process that started it has ended, and asking
// whether it still runs.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace Plumeria {

/// ".exe" on Windows, "" on Linux.
std::string_view ExecutableSuffix();

/// Gives a freshly written executable its run rights (0755 on Linux; nothing to do on Windows).
/// False with the system's message in `Error` on failure.
bool MakeExecutable(const std::filesystem::path& Path, std::string& Error);

/// Starts the program at `Path` with no arguments and the current folder, without waiting for
/// it, detached from this process (its own session on Linux, with the standard streams on
/// /dev/null), so that it keeps running when this process ends. On Windows: ShellExecuteExW
/// with the verb "open" in a normal window. False with the system's message in `Error` when
/// the program could not be started. `ProcessId`, when given, receives the new process's id
/// (0 when the system did not tell it).
bool StartDetached(const std::filesystem::path& Path, std::string& Error,
                   std::uint64_t* ProcessId = nullptr);

/// This process's id.
std::uint64_t CurrentProcessId();

/// False once the process `Id` has ended (a process that has ended but was not yet reaped
/// counts as ended); true while it runs or when that cannot be told.
bool ProcessRunning(std::uint64_t Id);

} // namespace Plumeria

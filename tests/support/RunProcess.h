#pragma once
// Runs a program (the built `plumeria` in end-to-end tests) to its end and collects what it
// printed, so tests can check exit status and output. Output goes through files, so a program
// that prints a lot can never block on a full pipe; a program that does not end in time is
// killed and reported as timed out.

#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria::Test {

struct TProcessResult
{
    int ExitCode = -1; ///< the exit status; -1 when the program did not exit normally
    int Signal = 0;    ///< the signal that ended it, 0 when none
    bool TimedOut = false;
    std::string Out; ///< everything written to standard output
    std::string Err; ///< everything written to standard error
};

/// Runs `Program` with `Args` (without the program name), standard input from the null device.
/// Throws std::runtime_error when the program cannot be started at all.
TProcessResult RunProcess(const std::filesystem::path& Program,
                          const std::vector<std::string>& Args, int TimeoutMs = 60000);

/// `RunProcess` for the `plumeria` tool of this build. Throws std::logic_error unless a temporary
/// data folder is in place (see `RequireTemporaryDataFolder`).
TProcessResult RunTool(const std::vector<std::string>& Args, int TimeoutMs = 60000);

/// Throws std::logic_error unless `ProgramData` points at a temporary data folder (a
/// `TTempDataFolder` is alive): a program of this build started without one would journal into,
/// and read the settings of, the user's own data folder.
void RequireTemporaryDataFolder();

} // namespace Plumeria::Test

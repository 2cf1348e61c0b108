#pragma once
// A `plumeria` process that keeps running while the test works beside it (`plumeria run`,
// `plumeria scale-sim`): its output is read as it grows, and it is stopped with a signal. Output
// goes to files, so a chatty process never blocks on a full pipe. A process still running when the
// object dies is killed.

#include <string>
#include <vector>

namespace Plumeria::Test {

class TRunningTool
{
public:
    /// Starts the tool with `Args`; throws std::runtime_error when it cannot be started.
    explicit TRunningTool(const std::vector<std::string>& Args);
    /// The same with another copy of the tool (one placed in a folder of the test's own).
    TRunningTool(const std::string& Program, const std::vector<std::string>& Args);
    ~TRunningTool();
    TRunningTool(const TRunningTool&) = delete;
    TRunningTool& operator=(const TRunningTool&) = delete;

    /// Everything written to standard output (resp. error) so far.
    std::string Out() const;
    std::string Err() const;
    /// Waits until standard output holds `Piece`; false after `TimeoutMs` or when the process
    /// ended without printing it.
    bool WaitForOutput(const std::string& Piece, int TimeoutMs) const;
    /// Sends `Signal` and waits for the end. The exit status, or -1 when the process was ended by
    /// a signal or did not end within `TimeoutMs` (it is then killed).
    int Stop(int Signal, int TimeoutMs);
    bool Running();

private:
    std::string FDir;
    int FPid = -1;
    bool FEnded = false;
    int FExit = -1;
};

} // namespace Plumeria::Test

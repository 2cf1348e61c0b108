#pragma once
// The sub-commands of `plumeria`. Each takes the arguments after its own name and returns the
// process exit status. Exit statuses: 0 success, 1 the work was done and failed (file rejected,
// upload failed), 2 the input could not be read or the arguments are wrong.

#include <string>
#include <vector>

namespace Plumeria::Tool {

using TArgs = std::vector<std::string>;

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

int RunCheck(const TArgs& Args);
int RunSend(const TArgs& Args);
int RunSendLabel(const TArgs& Args);
int RunScan(const TArgs& Args);
int RunScaleSim(const TArgs& Args);
int RunRun(const TArgs& Args);
int RunStatus(const TArgs& Args);
int RunLabel(const TArgs& Args);

} // namespace Plumeria::Tool

#include "support/RunProcess.h"

#include "support/TempDir.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Plumeria::Test {

TProcessResult RunProcess(const std::filesystem::path& Program,
                          const std::vector<std::string>& Args, int TimeoutMs)
{
    TTempDir Dir;
    const std::string OutPath = (Dir.Path() / "stdout").string();
    const std::string ErrPath = (Dir.Path() / "stderr").string();

    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, 1, OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&Actions, 2, ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);

    const std::string ProgramText = Program.string();
    std::vector<std::string> Storage;
    Storage.push_back(ProgramText);
    Storage.insert(Storage.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (auto& Arg : Storage)
        Argv.push_back(Arg.data());
    Argv.push_back(nullptr);

    pid_t Pid = 0;
    const int Spawned =
        posix_spawn(&Pid, ProgramText.c_str(), &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    if (Spawned != 0)
        throw std::runtime_error("cannot start " + ProgramText + ": " + std::strerror(Spawned));

    TProcessResult Result;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    int Status = 0;
    for (;;) {
        const pid_t Done = waitpid(Pid, &Status, WNOHANG);
        if (Done == Pid)
            break;
        if (Done < 0 && errno != EINTR)
            throw std::runtime_error(std::string("waitpid failed: ") + std::strerror(errno));
        if (std::chrono::steady_clock::now() >= Deadline) {
            Result.TimedOut = true;
            kill(Pid, SIGKILL);
            waitpid(Pid, &Status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(Status))
        Result.ExitCode = WEXITSTATUS(Status);
    else if (WIFSIGNALED(Status))
        Result.Signal = WTERMSIG(Status);
    Result.Out = ReadFileBytes(OutPath);
    Result.Err = ReadFileBytes(ErrPath);
    return Result;
}

TProcessResult RunTool(const std::vector<std::string>& Args, int TimeoutMs)
{
    return RunProcess(PLUMERIA_TOOL_PATH, Args, TimeoutMs);
}

} // namespace Plumeria::Test

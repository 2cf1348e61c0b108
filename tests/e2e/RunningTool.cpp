#include "RunningTool.h"

#include "support/RunProcess.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Plumeria::Test {

namespace {

std::string MakeOutputDir()
{
    static int Counter = 0;
    const auto Dir =
        std::filesystem::temp_directory_path() /
        ("plumeria-tool-" + std::to_string(getpid()) + "-" + std::to_string(Counter++));
    std::filesystem::create_directories(Dir);
    return Dir.string();
}

} // namespace

TRunningTool::TRunningTool(const std::vector<std::string>& Args)
    : TRunningTool(PLUMERIA_TOOL_PATH, Args)
{
}

TRunningTool::TRunningTool(const std::string& Program, const std::vector<std::string>& Args)
    : FDir((RequireTemporaryDataFolder(), MakeOutputDir()))
{
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, 1, (FDir + "/stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&Actions, 2, (FDir + "/stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> Storage{Program};
    Storage.insert(Storage.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (auto& Arg : Storage)
        Argv.push_back(Arg.data());
    Argv.push_back(nullptr);
    pid_t Pid = 0;
    const int Spawned =
        posix_spawn(&Pid, Storage[0].c_str(), &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    if (Spawned != 0)
        throw std::runtime_error(std::string("cannot start plumeria: ") + std::strerror(Spawned));
    FPid = Pid;
}

TRunningTool::~TRunningTool()
{
    if (!FEnded && FPid > 0) {
        kill(FPid, SIGKILL);
        int Status = 0;
        waitpid(FPid, &Status, 0);
    }
    std::error_code Ignored;
    std::filesystem::remove_all(FDir, Ignored);
}

std::string TRunningTool::Out() const
{
    return ReadFileBytes(FDir + "/stdout");
}

std::string TRunningTool::Err() const
{
    return ReadFileBytes(FDir + "/stderr");
}

bool TRunningTool::Running()
{
    if (FEnded)
        return false;
    int Status = 0;
    if (waitpid(FPid, &Status, WNOHANG) == FPid) {
        FEnded = true;
        FExit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    }
    return !FEnded;
}

bool TRunningTool::WaitForOutput(const std::string& Piece, int TimeoutMs) const
{
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        if (Out().find(Piece) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int TRunningTool::Stop(int Signal, int TimeoutMs)
{
    if (!Running())
        return FExit;
    kill(FPid, Signal);
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() >= Deadline) {
            kill(FPid, SIGKILL);
            int Status = 0;
            waitpid(FPid, &Status, 0);
            FEnded = true;
            FExit = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return FExit;
}

} // namespace Plumeria::Test

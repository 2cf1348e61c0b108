#include "support/RunProcess.h"

#include "support/TempDir.h"

#include "platform/Environment.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace Plumeria::Test {

#ifdef _WIN32

namespace {

std::wstring Widen(const std::string& Utf8)
{
    const std::u8string Text(Utf8.begin(), Utf8.end());
    return std::filesystem::path(Text).wstring();
}

// One argument as the C runtime's command-line parser reads it back: quoted, with backslashes
// doubled only where they precede a quote.
void AppendQuoted(std::wstring& Line, const std::wstring& Arg)
{
    if (!Line.empty())
        Line += L' ';
    if (!Arg.empty() && Arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        Line += Arg;
        return;
    }
    Line += L'"';
    for (std::size_t I = 0;; ++I) {
        std::size_t Backslashes = 0;
        while (I < Arg.size() && Arg[I] == L'\\') {
            ++I;
            ++Backslashes;
        }
        if (I == Arg.size()) {
            Line.append(Backslashes * 2, L'\\');
            break;
        }
        if (Arg[I] == L'"')
            Line.append(Backslashes * 2 + 1, L'\\');
        else
            Line.append(Backslashes, L'\\');
        Line += Arg[I];
    }
    Line += L'"';
}

HANDLE OpenInheritable(const std::wstring& Path, bool Write)
{
    SECURITY_ATTRIBUTES Inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(Path.c_str(), Write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherit,
                       Write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TProcessResult RunProcess(const std::filesystem::path& Program,
                          const std::vector<std::string>& Args, int TimeoutMs)
{
    TTempDir Dir;
    const HANDLE In = OpenInheritable(L"NUL", false);
    const HANDLE Out = OpenInheritable((Dir.Path() / "stdout").wstring(), true);
    const HANDLE Err = OpenInheritable((Dir.Path() / "stderr").wstring(), true);
    const auto CloseAll = [&] {
        for (const HANDLE H : {In, Out, Err})
            if (H != INVALID_HANDLE_VALUE)
                CloseHandle(H);
    };
    if (In == INVALID_HANDLE_VALUE || Out == INVALID_HANDLE_VALUE || Err == INVALID_HANDLE_VALUE) {
        CloseAll();
        throw std::runtime_error("cannot open the output files of a child process");
    }

    std::wstring Line;
    AppendQuoted(Line, Program.wstring());
    for (const auto& Arg : Args)
        AppendQuoted(Line, Widen(Arg));

    STARTUPINFOW Startup{};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = In;
    Startup.hStdOutput = Out;
    Startup.hStdError = Err;
    PROCESS_INFORMATION Process{};
    const BOOL Started = CreateProcessW(Program.c_str(), Line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &Startup, &Process);
    const DWORD StartError = GetLastError();
    CloseAll();
    if (!Started)
        throw std::runtime_error("cannot start " + PathToUtf8(Program) + ": error " +
                                 std::to_string(StartError));
    CloseHandle(Process.hThread);

    TProcessResult Result;
    if (WaitForSingleObject(Process.hProcess, TimeoutMs < 0 ? INFINITE : DWORD(TimeoutMs)) !=
        WAIT_OBJECT_0) {
        Result.TimedOut = true;
        TerminateProcess(Process.hProcess, 1);
        WaitForSingleObject(Process.hProcess, INFINITE);
    } else {
        DWORD Code = 0;
        GetExitCodeProcess(Process.hProcess, &Code);
        Result.ExitCode = static_cast<int>(Code);
    }
    CloseHandle(Process.hProcess);
    Result.Out = ReadFileBytes(Dir.Path() / "stdout");
    Result.Err = ReadFileBytes(Dir.Path() / "stderr");
    return Result;
}

#else

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

#endif

void RequireTemporaryDataFolder()
{
    if (!IsTemporaryDataFolderSet())
        throw std::logic_error("a program of this build is started only inside a temporary data "
                               "folder (TTempDataFolder)");
}

TProcessResult RunTool(const std::vector<std::string>& Args, int TimeoutMs)
{
    RequireTemporaryDataFolder();
    return RunProcess(PLUMERIA_TOOL_PATH, Args, TimeoutMs);
}

} // namespace Plumeria::Test

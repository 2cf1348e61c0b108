#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Plumeria {

namespace {

std::string SystemMessage(int Code)
{
    return std::strerror(Code);
}

/// Only async-signal-safe calls from here on: the child of a possibly multi-threaded process.
[[noreturn]] void ReportAndExit(int Pipe, int Code)
{
    const int Value = Code;
    [[maybe_unused]] const ssize_t Written = write(Pipe, &Value, sizeof(Value));
    _exit(127);
}

[[noreturn]] void RunGrandchild(const char* Path, char* const* Argv, int ErrorPipe)
{
    // The new program must not inherit our blocked or ignored signals.
    sigset_t None;
    sigemptyset(&None);
    sigprocmask(SIG_SETMASK, &None, nullptr);
    for (int Signal = 1; Signal < NSIG; ++Signal)
        signal(Signal, SIG_DFL);
    // Nor our terminal or the pipes of whoever started us: it lives on after we end.
    const int Null = open("/dev/null", O_RDWR);
    if (Null >= 0) {
        dup2(Null, STDIN_FILENO);
        dup2(Null, STDOUT_FILENO);
        dup2(Null, STDERR_FILENO);
        if (Null > STDERR_FILENO)
            close(Null);
    }
    execv(Path, Argv);
    ReportAndExit(ErrorPipe, errno);
}

} // namespace

std::string_view ExecutableSuffix()
{
    return "";
}

bool MakeExecutable(const std::filesystem::path& Path, std::string& Error)
{
    if (chmod(Path.c_str(), 0755) != 0) {
        Error = SystemMessage(errno);
        return false;
    }
    return true;
}

bool StartDetached(const std::filesystem::path& Path, std::string& Error, std::uint64_t* ProcessId)
{
    // Everything the children need is prepared here: after fork nothing may allocate.
    const std::string Program = Path.string();
    char* const Argv[] = {const_cast<char*>(Program.c_str()), nullptr};

    // The grandchild reports a failed exec through this pipe; a successful exec closes it. The
    // middle child tells the grandchild's id through the other one.
    int ErrorPipe[2];
    if (pipe2(ErrorPipe, O_CLOEXEC) != 0) {
        Error = SystemMessage(errno);
        return false;
    }
    int IdPipe[2];
    if (pipe2(IdPipe, O_CLOEXEC) != 0) {
        Error = SystemMessage(errno);
        close(ErrorPipe[0]);
        close(ErrorPipe[1]);
        return false;
    }

    const pid_t Middle = fork();
    if (Middle < 0) {
        Error = SystemMessage(errno);
        for (const int Fd : {ErrorPipe[0], ErrorPipe[1], IdPipe[0], IdPipe[1]})
            close(Fd);
        return false;
    }
    if (Middle == 0) {
        // A double fork: the middle child leaves our session and ends at once, so the program
        // is adopted by init, never becomes our zombie and does not share our fate.
        close(ErrorPipe[0]);
        close(IdPipe[0]);
        if (setsid() < 0)
            ReportAndExit(ErrorPipe[1], errno);
        const pid_t Grandchild = fork();
        if (Grandchild < 0)
            ReportAndExit(ErrorPipe[1], errno);
        if (Grandchild == 0)
            RunGrandchild(Program.c_str(), Argv, ErrorPipe[1]);
        [[maybe_unused]] const ssize_t Told = write(IdPipe[1], &Grandchild, sizeof(Grandchild));
        _exit(0);
    }

    close(ErrorPipe[1]);
    close(IdPipe[1]);
    int Status = 0;
    while (waitpid(Middle, &Status, 0) < 0 && errno == EINTR) {
    }
    pid_t Grandchild = 0;
    if (read(IdPipe[0], &Grandchild, sizeof(Grandchild)) !=
        static_cast<ssize_t>(sizeof(Grandchild)))
        Grandchild = 0;
    close(IdPipe[0]);
    int ChildError = 0;
    ssize_t Got;
    do {
        Got = read(ErrorPipe[0], &ChildError, sizeof(ChildError));
    } while (Got < 0 && errno == EINTR);
    close(ErrorPipe[0]);
    if (Got == static_cast<ssize_t>(sizeof(ChildError))) {
        Error = SystemMessage(ChildError);
        return false;
    }
    if (Got != 0) {
        Error = "cannot learn whether the program started";
        return false;
    }
    if (ProcessId)
        *ProcessId = Grandchild > 0 ? static_cast<std::uint64_t>(Grandchild) : 0;
    return true;
}

std::uint64_t CurrentProcessId()
{
    return static_cast<std::uint64_t>(getpid());
}

bool ProcessRunning(std::uint64_t Id)
{
    if (Id == 0)
        return true;
    if (kill(static_cast<pid_t>(Id), 0) != 0 && errno == ESRCH)
        return false;
    // A process that ended stays a zombie until its parent reaps it, and init in a container
    // may never do so: the state letter after the command's closing parenthesis tells.
    std::ifstream Stat("/proc/" + std::to_string(Id) + "/stat");
    std::string Text;
    if (!std::getline(Stat, Text))
        return true;
    const std::size_t Close = Text.rfind(')');
    if (Close == std::string::npos || Close + 2 >= Text.size())
        return true;
    const char State = Text[Close + 2];
    return State != 'Z' && State != 'X';
}

} // namespace Plumeria

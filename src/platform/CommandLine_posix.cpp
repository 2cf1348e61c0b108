#include "platform/CommandLine.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace Plumeria {

std::vector<std::string> CommandLineArguments(int Argc, char** Argv)
{
    std::vector<std::string> Arguments;
    for (int I = 1; I < Argc; ++I)
        Arguments.emplace_back(Argv[I]);
    return Arguments;
}

void UseUtf8Console() {}

void GuardStandardDescriptors()
{
    for (int Fd = 0; Fd <= 2; ++Fd) {
        if (::fcntl(Fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open gives the lowest free number, which is this one: the lower ones are open by now.
        const int Null = ::open("/dev/null", Fd == 0 ? O_RDONLY : O_WRONLY);
        if (Null >= 0 && Null != Fd) {
            ::dup2(Null, Fd);
            ::close(Null);
        }
    }
}

} // namespace Plumeria

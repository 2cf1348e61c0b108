#include "platform/CommandLine.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/win32/WinText.h"

namespace Plumeria {

std::vector<std::string> CommandLineArguments(int Argc, char** Argv)
{
    std::vector<std::string> Arguments;
    int Count = 0;
    if (wchar_t** Wide = CommandLineToArgvW(GetCommandLineW(), &Count)) {
        for (int I = 1; I < Count; ++I)
            Arguments.push_back(Win32::Narrow(Wide[I]));
        LocalFree(Wide);
        return Arguments;
    }
    // Without the wide line the ANSI arguments are still better than none.
    for (int I = 1; I < Argc; ++I)
        Arguments.emplace_back(Argv[I]);
    return Arguments;
}

void UseUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

void GuardStandardDescriptors()
{
    // Sockets and files are handles here, never the C library's descriptors 0 to 2.
}

} // namespace Plumeria

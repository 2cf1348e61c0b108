#include "platform/CommandLine.h"

#include <windows.h>

#include <shellapi.h>

namespace Plumeria {

namespace {

std::string Utf8Of(const wchar_t* Wide)
{
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Wide, -1, nullptr, 0, nullptr, nullptr);
    if (Size <= 1)
        return {};
    std::string Utf8(static_cast<std::size_t>(Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide, -1, Utf8.data(), Size, nullptr, nullptr);
    Utf8.pop_back(); // the terminating zero
    return Utf8;
}

} // namespace

std::vector<std::string> CommandLineArguments(int Argc, char** Argv)
{
    std::vector<std::string> Arguments;
    int Count = 0;
    if (wchar_t** Wide = CommandLineToArgvW(GetCommandLineW(), &Count)) {
        for (int I = 1; I < Count; ++I)
            Arguments.push_back(Utf8Of(Wide[I]));
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

} // namespace Plumeria

#include "platform/CommandLine.h"

namespace Plumeria {

std::vector<std::string> CommandLineArguments(int Argc, char** Argv)
{
    std::vector<std::string> Arguments;
    for (int I = 1; I < Argc; ++I)
        Arguments.emplace_back(Argv[I]);
    return Arguments;
}

void UseUtf8Console() {}

} // namespace Plumeria

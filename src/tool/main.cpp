// `plumeria`: parse, send, scan and simulate from the command line with the tray program's core.

#include "core/Journal/Journal.h"
#include "platform/CommandLine.h"
#include "tool/Commands.h"

#include <cstdio>
#include <string>
#include <vector>

namespace Plumeria::Tool {
namespace {

struct TCommandEntry
{
    const char* Name;
    int (*Run)(const TArgs&);
    const char* Usage;
};

// Sub-commands are added here as they are written.
const std::vector<TCommandEntry>& CommandTable()
{
    static const std::vector<TCommandEntry> Table = {
        {"check", RunCheck, "check FILE [--cp 866|1251] [--json]"},
        {"send", RunSend,
         "send FILE --host H [--port P] [--kind ID] [--cp 866|1251] [--timeout MS] [--bind IP] "
         "[--log-level errors|max]"},
        {"send-label", RunSendLabel,
         "send-label FOLDER --host H [--port P] [--timeout MS] [--bind IP] [--log-level "
         "errors|max]"},
        {"scan", RunScan, "scan ADAPTER_IP [--timeout MS] [--log-level errors|max]"},
        {"scale-sim", RunScaleSim,
         "scale-sim [--bind ADDR] [--port P] [--nak-after N] [--close-after N] "
         "[--silent-after N] [--connections N] [--record FILE] [--allow-any-address]"},
        {"run", RunRun, "run [--log-level errors|max]"},
        {"status", RunStatus, "status [--json]"},
        {"label", RunLabel,
         "label show PATH [--json] | label new FOLDER --size WxH [--replace] |\n"
         "    label edit PATH --format ID (--place SLOT X Y | --move SLOT X Y | "
         "--resize SLOT W H | --clear SLOT)"},
    };
    return Table;
}

void PrintUsage(std::FILE* Out)
{
    std::fprintf(Out, "usage: plumeria COMMAND [ARGS]\n\ncommands:\n");
    for (const auto& Entry : CommandTable())
        std::fprintf(Out, "  %s\n", Entry.Usage);
}

} // namespace
} // namespace Plumeria::Tool

int main(int Argc, char** Argv)
{
    using namespace Plumeria::Tool;
    Plumeria::GuardStandardDescriptors();
    Plumeria::UseUtf8Console();
    // UTF-8 on every system: file and folder names may be Cyrillic.
    const std::vector<std::string> Arguments = Plumeria::CommandLineArguments(Argc, Argv);
    if (Arguments.empty()) {
        PrintUsage(stderr);
        return ExitUsage;
    }
    const std::string Name = Arguments[0];
    if (Name == "--help" || Name == "-h" || Name == "help") {
        PrintUsage(stdout);
        return ExitOk;
    }
    const TArgs Args(Arguments.begin() + 1, Arguments.end());
    for (const auto& Entry : CommandTable()) {
        if (Name == Entry.Name) {
            const int Code = Entry.Run(Args);
            Plumeria::ShutdownJournal(); // every thread of the command has ended by now
            return Code;
        }
    }
    std::fprintf(stderr, "plumeria: unknown command '%s'\n", Name.c_str());
    PrintUsage(stderr);
    return ExitUsage;
}

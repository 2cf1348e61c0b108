// `plumeria send-label FOLDER --host H [--port P] [--timeout MS] [--bind IP]`: sends the label
// files "f34.dat" and "f38.dat" of a folder to one DIGI scale, as the label designer does.

#include "core/Digi/LabelUpload.h"
#include "core/DigiSearch/SubnetScan.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"

#include <climits>
#include <cstdio>
#include <exception>
#include <string>

namespace Plumeria::Tool {
namespace {

constexpr const char* SendLabelUsage =
    "usage: plumeria send-label FOLDER --host H [--port P] [--timeout MS] [--bind IP]";

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria send-label: %s\n%s\n", Message.c_str(), SendLabelUsage);
    return ExitUsage;
}

} // namespace

int RunSendLabel(const TArgs& Args)
{
    TArgReader Reader(Args, {"host", "port", "timeout", "bind"}, {});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Positional().size() != 1)
        return UsageError(Reader.Positional().empty() ? "no FOLDER given"
                                                      : "more than one FOLDER given");
    const auto Host = Reader.Value("host");
    if (!Host || Host->empty())
        return UsageError("--host is required");
    const int Port = Reader.IntValue("port", 0, 0, 65535);
    const int TimeoutMs = Reader.IntValue("timeout", 500, 0, INT_MAX);
    if (!Reader.Ok())
        return UsageError(Reader.Error());

    TUploadResult Result;
    try {
        // The bind address the label commands of the program choose: the configured one, else an
        // adapter on the scale's network.
        const std::string BindIp = ChooseBindAddress(*Host, Reader.Value("bind").value_or(""));
        Result = UploadLabel(*Host, BindIp, Port, TimeoutMs, PathFromUtf8(Reader.Positional()[0]));
    } catch (const std::exception& Error) {
        // A label file that exists but cannot be read at all.
        std::fprintf(stderr, "plumeria send-label: %s\n", Error.what());
        return ExitUsage;
    }
    std::printf("%s\n", Result.Message.c_str());
    std::fflush(stdout);
    return Result.Status == TUploadStatus::usSent ? ExitOk : ExitFailed;
}

} // namespace Plumeria::Tool

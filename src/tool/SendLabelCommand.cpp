// `plumeria send-label FOLDER --host H [--port P] [--timeout MS] [--bind IP]
// [--log-level errors|max]`: sends the label
// files "f34.dat" and "f38.dat" of a folder to one DIGI scale, as the label designer does.

#include "core/Digi/LabelUpload.h"
#include "core/DigiSearch/SubnetScan.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/JournalLevel.h"

#include <cstdio>
#include <exception>
#include <string>

namespace Plumeria::Tool {
namespace {

constexpr const char* SendLabelUsage =
    "usage: plumeria send-label FOLDER --host H [--port P] [--timeout MS] [--bind IP] "
    "[--log-level errors|max]";

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria send-label: %s\n%s\n", Message.c_str(), SendLabelUsage);
    return ExitUsage;
}

} // namespace

int RunSendLabel(const TArgs& Args)
{
    TArgReader Reader(Args, {"host", "port", "timeout", "bind", "log-level"}, {});
    TScaleTarget Target;
    if (std::string Error; !ReadScaleTarget(Reader, "FOLDER", Target, Error))
        return UsageError(Error);
    if (std::string LevelError; !ApplyJournalLevel(Reader, LevelError))
        return UsageError(LevelError);

    TUploadResult Result;
    try {
        // The bind address the label commands of the program choose: the configured one, else an
        // adapter on the scale's network.
        const std::string BindIp = ChooseBindAddress(Target.Host, Target.BindIp);
        Result = UploadLabel(Target.Host, BindIp, Target.Port, Target.TimeoutMs,
                             PathFromUtf8(Target.Positional));
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

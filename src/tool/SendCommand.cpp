// `plumeria send FILE --host H [--port P] [--kind ID] [--cp N] [--timeout MS] [--bind IP]
// [--log-level errors|max]`:
// parses a PLU file as `check` does and, when no line is in error, uploads its articles through
// the same driver the tray program uses. Exit 0 only when every article was acknowledged.

#include "core/Driver/Driver.h"
#include "core/PluCsv/PluCsv.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/JournalLevel.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace Plumeria::Tool {
namespace {

constexpr const char* SendUsage =
    "usage: plumeria send FILE --host H [--port P] [--kind ID] "
    "[--cp 866|1251] [--timeout MS] [--bind IP] [--log-level errors|max]";

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria send: %s\n%s\n", Message.c_str(), SendUsage);
    return ExitUsage;
}

} // namespace

int RunSend(const TArgs& Args)
{
    TArgReader Reader(Args, {"host", "port", "kind", "cp", "timeout", "bind", "log-level"}, {});
    // Port 0 asks for the make's default (DIGI: 2000 + the host's last number).
    TScaleTarget Target;
    if (std::string Error; !ReadScaleTarget(Reader, "FILE", Target, Error))
        return UsageError(Error);
    TScaleKind Kind = TScaleKind::skDigi;
    if (const auto Id = Reader.Value("kind"); Id && !TryScaleKindFromId(*Id, Kind))
        return UsageError("unknown scale kind '" + *Id +
                          "' (digi, cas, massa-k, shtrih-print, mettler-toledo, m-er)");
    int CodePage = 1251;
    if (std::string CpError; !ReadCodePage(Reader, CodePage, CpError))
        return UsageError(CpError);
    if (std::string LevelError; !ApplyJournalLevel(Reader, LevelError))
        return UsageError(LevelError);

    const std::filesystem::path File = PathFromUtf8(Target.Positional);
    TPluParseResult Parsed;
    std::string SourceFile;
    try {
        ParsePluFile(File, CodePage, Parsed);
        SourceFile = PathToUtf8(std::filesystem::absolute(File));
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "plumeria send: %s\n", Error.what());
        return ExitUsage;
    }
    if (Parsed.Rejected()) {
        // A rejected file is sent to no scale, exactly as the watch pipeline treats it.
        for (const TPluParseError& Error : Parsed.Errors)
            std::printf("line %d: %s\n", Error.LineNo, Error.Text.c_str());
        std::printf("not sent: the file has %zu errors\n", Parsed.Errors.size());
        return ExitFailed;
    }

    const TScaleDriverRef Driver = CreateScaleDriver(Kind);
    const TUploadResult Result = Driver->Upload(Target.Host, Target.Port, Target.TimeoutMs,
                                                Target.BindIp, "", SourceFile, Parsed.Items);
    std::printf("%s\n", Result.Message.c_str());
    std::fflush(stdout);
    return Result.Status == TUploadStatus::usSent ? ExitOk : ExitFailed;
}

} // namespace Plumeria::Tool

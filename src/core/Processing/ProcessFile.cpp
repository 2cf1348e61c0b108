#include "core/Processing/ProcessFile.h"

#include "core/FolderWatch/FolderWatch.h"
#include "core/FolderWatch/Mask.h"
#include "core/Journal/Journal.h"
#include "core/PluCsv/PluCsv.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Environment.h"

#include <cstdint>
#include <exception>
#include <map>
#include <vector>

namespace Plumeria {

namespace {

constexpr const char* NotAcceptedText = "one or more scales did not accept the file";

std::string FormatCount(const std::string& Name, const char* Outcome, std::size_t Articles)
{
    return Name + " | " + Outcome + " " + std::to_string(Articles) + " PLU";
}

/// One call of file processing: its parse cache, its counters and the steps that use them.
class TFileRun
{
public:
    TFileRun(const std::string& FileName, const TLoaderSettings& Settings,
             IProcessReporter& Reporter, const TProcessHooks& Hooks)
        : FPath(FileName), FName(FileName), FSettings(Settings), FReporter(Reporter), FHooks(Hooks)
    {
    }

    /// Every step up to the report.
    void Run()
    {
        try {
            Decide();
        } catch (const std::exception& Failure) {
            ReadFailed(Failure.what());
        } catch (...) {
            ReadFailed("unknown failure");
        }
        FCache.clear();
    }

    /// The file went into its result folder.
    bool Moved() const { return FMoved; }

private:
    void Decide()
    {
        FName = PathToUtf8(PathFromUtf8(FPath).filename());
        FirstPass();
        if (FEnabled > 0 && FMatching == 0) {
            Skipped();
            return;
        }
        if (FEnabled == 0) {
            const TPluParseResult& Parsed = ParsedFor(1251);
            FArticles = Parsed.Items.size();
            FRejected = Parsed.Rejected();
        }
        if (FRejected) {
            Refused();
            return;
        }
        JournalWarnings();
        SecondPass();
        if (FEnabled == 0)
            LogInfo("file=" + FPath + " parsed " + std::to_string(FArticles) +
                    " PLU, no enabled scales");
        Report();
        FReporter.RefreshView();
    }

    static bool HasHost(const TScaleConfig& Scale) { return !TrimView(Scale.Host).empty(); }

    /// Counts the scales that could take the file and parses it for those whose mask accepts
    /// it, so a file with a bad line is refused before any scale is contacted.
    void FirstPass()
    {
        for (const TScaleConfig& Scale : FSettings.Scales) {
            if (!Scale.Enabled || !HasHost(Scale))
                continue;
            ++FEnabled;
            if (!MatchesScaleMask(FName, Scale.FileMask))
                continue;
            ++FMatching;
            if (ParsedFor(Scale.FileCodePage).Rejected())
                FRejected = true;
        }
    }

    const TPluParseResult& ParsedFor(int CodePage)
    {
        const int Normalized = NormalizeCodePage(CodePage);
        if (const auto Found = FCache.find(Normalized); Found != FCache.end())
            return Found->second;
        TPluParseResult Parsed;
        const std::filesystem::path File = PathFromUtf8(FPath);
        if (FHooks.ParseFile)
            FHooks.ParseFile(File, Normalized, Parsed);
        else
            ParsePluFile(File, Normalized, Parsed);
        const TPluParseResult& Stored = FCache.emplace(Normalized, std::move(Parsed)).first->second;
        for (const TPluParseError& Error : Stored.Errors)
            LogError("file=" + FPath + " cp=" + std::to_string(Normalized) +
                     " line=" + std::to_string(Error.LineNo) + " " + Error.Text);
        return Stored;
    }

    std::string JoinParseErrors() const
    {
        std::string Joined;
        for (const auto& [CodePage, Parsed] : FCache)
            for (const TPluParseError& Error : Parsed.Errors) {
                if (!Joined.empty())
                    Joined += "\r\n";
                Joined += "line " + std::to_string(Error.LineNo) + ": " + Error.Text;
            }
        return Joined;
    }

    void JournalWarnings() const
    {
        for (const auto& [CodePage, Parsed] : FCache)
            for (const std::string& Warning : Parsed.Warnings)
                LogWarn(Warning + " file=" + FPath);
    }

    /// The scales that get the file, in settings order. Every mask is tested before the first
    /// upload: a mask that cannot be read stops the file before any scale has received it, so
    /// the retry after the cool-down does not send it again to the scales ahead of that mask.
    std::vector<const TScaleConfig*> Recipients() const
    {
        std::vector<const TScaleConfig*> Chosen;
        for (const TScaleConfig& Scale : FSettings.Scales)
            if (Scale.Enabled && MatchesScaleMask(FName, Scale.FileMask))
                Chosen.push_back(&Scale);
        return Chosen;
    }

    void SecondPass()
    {
        for (const TScaleConfig* Scale : Recipients()) {
            if (!HasHost(*Scale)) {
                LogWarn("skipped scale with empty host");
                ++FFailed;
                continue;
            }
            if (Scale->Port < 0 || Scale->Port > 65535) {
                LogWarn("skipped scale with invalid port: " + Scale->Host);
                ++FFailed;
                continue;
            }
            UploadTo(*Scale);
        }
    }

    void UploadTo(const TScaleConfig& Scale)
    {
        const int CodePage = NormalizeCodePage(Scale.FileCodePage);
        const TPluParseResult& Parsed = ParsedFor(CodePage);
        FArticles = Parsed.Items.size();

        TUploadResult Result;
        {
            const TScaleDriverRef Driver = FHooks.CreateDriver ? FHooks.CreateDriver(Scale.Kind)
                                                               : CreateScaleDriver(Scale.Kind);
            Result = Driver->Upload(Scale.Host, Scale.Port, FSettings.ConnectTimeoutMs,
                                    FSettings.AdapterIp, Scale.Model, FPath, Parsed.Items);
        }
        LogInfo("file=" + FPath + " ip=" + Scale.Host + " name=" + Trim(Scale.Name) + " kind=" +
                std::string(ScaleKindId(Scale.Kind)) + " cp=" + std::to_string(CodePage) +
                " mask=" + Scale.FileMask + " " + Result.Message);
        if (Result.Status == TUploadStatus::usSent)
            ++FSent;
        else if (Result.Status == TUploadStatus::usFailed)
            ++FFailed;
    }

    bool Move(const char* Folder, const std::string& ErrorText, bool ByDate)
    {
        std::string NewPath;
        FMoved = MoveToSubfolder(FPath, Folder, ErrorText, NewPath, ByDate);
        return FMoved;
    }

    void Balloon(const std::string& Text) { FReporter.ShowBalloon(ProcessBalloonTitle, Text); }

    void Skipped()
    {
        Move("skipped", "", false);
        LogInfo("file=" + FPath + " skipped, no scale mask matched");
        FReporter.AddRecent(FName + " | " + "нет подходящих весов");
        Balloon("Нет весов для файла: " + FName);
    }

    void Refused()
    {
        // The errors themselves are in the journal already, one entry each.
        Move("error", JoinParseErrors(), false);
        FReporter.AddRecent(FName + " | " + "отклонён");
        Balloon("Файл отклонён: " + FName);
    }

    void Report()
    {
        if (FFailed > 0) {
            Move("error", NotAcceptedText, false);
            FReporter.AddRecent(FName + " | " + "ошибка отправки");
            Balloon("Ошибка отправки: " + FName);
        } else if (FSent > 0) {
            Move("processed", "", true);
            FReporter.AddRecent(FormatCount(FName, "отправлено", FArticles));
            Balloon("Отправлено " + std::to_string(FArticles) + " PLU");
        } else {
            Move("processed", "", true);
            FReporter.AddRecent(FormatCount(FName, "разобрано, не отправлено", FArticles));
            Balloon("Разобрано " + std::to_string(FArticles) + " PLU, не отправлено");
        }
    }

    void ReadFailed(const std::string& Message)
    {
        LogError("read failed: " + FPath + " " + Message);
        FReporter.AddRecent(FName + " | " + "ошибка чтения");
    }

    const std::string& FPath;
    std::string FName; ///< the file name without folder (the whole path until known)
    const TLoaderSettings& FSettings;
    IProcessReporter& FReporter;
    const TProcessHooks& FHooks;

    std::map<int, TPluParseResult> FCache; ///< 866 and 1251 at most, for this call only
    int FEnabled = 0;
    int FMatching = 0;
    int FSent = 0;
    int FFailed = 0;
    bool FRejected = false;
    std::size_t FArticles = 0;
    bool FMoved = false;
};

} // namespace

void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter)
{
    ProcessFile(FileName, Settings, Watch, Reporter, TProcessHooks{});
}

void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter, const TProcessHooks& Hooks)
{
    if (!Settings) {
        // Nothing to decide with; the file stays, but the watch must not keep it pending for good.
        if (Watch)
            Watch->MarkFinished(FileName, false);
        return;
    }
    TFileRun Run(FileName, *Settings, Reporter, Hooks);
    try {
        Run.Run();
    } catch (...) {
        // Only a reporter failing while it reports a read failure gets here. The watch must
        // still hear of the file, or it would never offer it again.
        if (Watch)
            Watch->MarkFinished(FileName, Run.Moved());
        throw;
    }
    if (Watch)
        Watch->MarkFinished(FileName, Run.Moved());
}

} // namespace Plumeria

#include "core/Processing/ProcessFile.h"

#include "core/FolderWatch/FolderWatch.h"
#include "core/FolderWatch/Mask.h"
#include "core/Journal/Journal.h"
#include "core/PluCsv/PluCsv.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Environment.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <thread>
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
             IProcessReporter& Reporter, TProcessMemory& Memory, const TProcessHooks& Hooks,
             const TProcessContext& Context)
        : FPath(FileName), FName(FileName), FSettings(Settings), FReporter(Reporter),
          FMemory(Memory), FHooks(Hooks), FContext(Context)
    {
    }

    /// Every step up to the report.
    void Run()
    {
        try {
            if (!RetryDueMove())
                Decide();
        } catch (const std::exception& Failure) {
            ReadFailed(Failure.what());
        } catch (...) {
            ReadFailed("unknown failure");
        }
        FCache.clear();
    }

    /// The file went away: into its result folder, or another file took its place (which the
    /// watch must then take as new).
    bool Gone() const { return FMoved || FReplaced; }

private:
    /// A file the scales took earlier and whose move failed: only the move is tried again, as
    /// long as the file is still the one that was sent. False when there is no such move due.
    bool RetryDueMove()
    {
        const TProcessMemory::TMoveDue* Due = FMemory.MoveDue(FPath);
        if (!Due)
            return false;
        TFileIdentity Now;
        if (!FileIdentityOf(PathFromUtf8(FPath), Now) || !(Now == Due->Identity)) {
            // Another file under the same name: it has not been sent anywhere yet.
            FMemory.Forget(FPath);
            return false;
        }
        std::string NewPath;
        std::string Failure;
        FMoved = MoveToSubfolder(FPath, Due->Folder, Due->ErrorText, NewPath, Due->ByDate, Failure);
        if (FMoved) {
            LogInfo("file=" + FPath + " moved to " + NewPath + " after its earlier move failed");
            FMemory.Forget(FPath);
        }
        return true;
    }

    void Decide()
    {
        FName = PathToUtf8(PathFromUtf8(FPath).filename());
        FIdentityKnown = FileIdentityOf(PathFromUtf8(FPath), FIdentity);
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
        if (Replaced()) {
            // What was parsed may be half the old file and half the new one: nothing of it is
            // sent, and the file there now is taken as a new one.
            LogWarn("file=" + FPath + " changed while it was read; it stays for its own turn");
            return;
        }
        if (FRejected) {
            Refused();
            return;
        }
        JournalWarnings();
        SecondPass();
        if (Cancelled()) {
            LogWarn("file=" + FPath +
                    " was not finished: sending was stopped; it stays for its "
                    "next turn");
            return;
        }
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

    /// One scale's share of the second pass.
    struct TUpload
    {
        const TScaleConfig* Scale = nullptr;
        int CodePage = 1251;
        const TPluParseResult* Parsed = nullptr;
        TUploadResult Result;
        std::exception_ptr Failure; ///< what escaped the upload; raised again once all ended
    };

    void SecondPass()
    {
        std::vector<TUpload> Uploads;
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
            TUpload& Upload = Uploads.emplace_back();
            Upload.Scale = Scale;
            Upload.CodePage = NormalizeCodePage(Scale->FileCodePage);
            Upload.Parsed = &ParsedFor(Upload.CodePage);
        }
        RunUploads(Uploads);
        for (const TUpload& Upload : Uploads)
            if (Upload.Failure)
                std::rethrow_exception(Upload.Failure);
        if (Cancelled())
            return;
        for (const TUpload& Upload : Uploads) {
            const TScaleConfig& Scale = *Upload.Scale;
            FArticles = Upload.Parsed->Items.size();
            LogInfo("file=" + FPath + " ip=" + Scale.Host + " name=" + Trim(Scale.Name) +
                    " kind=" + std::string(ScaleKindId(Scale.Kind)) +
                    " cp=" + std::to_string(Upload.CodePage) + " mask=" + Scale.FileMask + " " +
                    Upload.Result.Message);
            if (Upload.Result.Status == TUploadStatus::usSent)
                ++FSent;
            else if (Upload.Result.Status == TUploadStatus::usFailed)
                ++FFailed;
        }
        TellScalesDone(Uploads);
    }

    /// Every upload, at most `MaxParallel` at a time, each scale on one connection of its own.
    void RunUploads(std::vector<TUpload>& Uploads)
    {
        FUploaded = static_cast<int>(Uploads.size());
        const std::size_t Parallel =
            std::min<std::size_t>(std::max<std::size_t>(FContext.MaxParallel, 1), Uploads.size());
        if (Parallel <= 1) {
            for (TUpload& Upload : Uploads)
                UploadTo(Upload);
            return;
        }
        std::atomic<std::size_t> Next{0};
        std::vector<std::thread> Workers;
        Workers.reserve(Parallel);
        for (std::size_t I = 0; I < Parallel; ++I)
            Workers.emplace_back([&] {
                for (std::size_t Index; (Index = Next++) < Uploads.size();)
                    UploadTo(Uploads[Index]);
            });
        for (std::thread& Worker : Workers)
            Worker.join();
    }

    /// One scale's upload; may run on a thread of its own, so it touches nothing but `Upload`.
    void UploadTo(TUpload& Upload) const
    {
        const TScaleConfig& Scale = *Upload.Scale;
        try {
            // Every scale's total from the start, also for one that never answers.
            if (FContext.Progress)
                FContext.Progress(Scale, 0, Upload.Parsed->Items.size());
            std::string Why;
            if (FContext.BeforeUpload && !FContext.BeforeUpload(Scale, Why)) {
                Upload.Result = {TUploadStatus::usFailed, Why};
                return;
            }
            TUploadControl Control;
            Control.Cancel = FContext.Cancel;
            if (FContext.Progress)
                Control.Progress = [&, Total = Upload.Parsed->Items.size()](std::size_t Sent) {
                    FContext.Progress(Scale, Sent, Total);
                };
            const TScaleDriverRef Driver = FHooks.CreateDriver ? FHooks.CreateDriver(Scale.Kind)
                                                               : CreateScaleDriver(Scale.Kind);
            Upload.Result = Driver->UploadControlled(
                Scale.Host, Scale.Port, FSettings.ConnectTimeoutMs, FSettings.AdapterIp,
                Scale.Model, FPath, Upload.Parsed->Items, Control);
        } catch (...) {
            // An upload thread must not end the program; the file's guard hears of it.
            Upload.Failure = std::current_exception();
        }
    }

    bool Cancelled() const { return FContext.Cancel && FContext.Cancel->load(); }

    /// Each scale's outcome to whoever keeps them; a scale that did not take the file gets the
    /// bytes that were sent to the others, if they are still what was read.
    void TellScalesDone(const std::vector<TUpload>& Uploads)
    {
        if (!FContext.ScaleDone)
            return;
        std::string Bytes;
        bool HaveBytes = false;
        for (const TUpload& Upload : Uploads)
            if (Upload.Result.Status == TUploadStatus::usFailed && !HaveBytes)
                HaveBytes = ReadSentBytes(Bytes);
        for (const TUpload& Upload : Uploads) {
            const bool Missed = Upload.Result.Status == TUploadStatus::usFailed;
            FContext.ScaleDone(*Upload.Scale, Upload.Result, Upload.Parsed->Items.size(),
                               Missed && HaveBytes ? &Bytes : nullptr);
        }
    }

    /// The file's bytes, only while it is still the file that was read.
    bool ReadSentBytes(std::string& Bytes)
    {
        if (!FIdentityKnown || Replaced())
            return false;
        std::string Error;
        if (!ReadWholeFile(PathFromUtf8(FPath), Bytes, Error)) {
            LogError("file=" + FPath + " cannot be kept for the scales that missed it: " + Error);
            return false;
        }
        return !Replaced();
    }

    /// True (and remembered) when the file at the path is no longer the one that was read.
    bool Replaced()
    {
        if (FIdentityKnown && !FReplaced) {
            TFileIdentity Now;
            FReplaced = !FileIdentityOf(PathFromUtf8(FPath), Now) || !(Now == FIdentity);
        }
        return FReplaced;
    }

    /// Moves the file that was read; a file that took its place meanwhile stays for its own turn.
    bool Move(const char* Folder, const std::string& ErrorText, bool ByDate)
    {
        if (Replaced()) {
            LogWarn("file=" + FPath +
                    " was replaced while it was processed; the new file stays for its own turn");
            return false;
        }
        std::string NewPath;
        std::string Failure;
        FMoved = MoveToSubfolder(FPath, Folder, ErrorText, NewPath, ByDate, Failure);
        if (!FMoved) {
            LogError("cannot move file: " + Failure);
            if (FUploaded > 0 && FIdentityKnown) {
                FMemory.RememberMove(FPath, {FIdentity, Folder, ErrorText, ByDate});
                LogWarn("file=" + FPath +
                        " was given to the scales already; only its move into \"" + Folder +
                        "\" is retried, without a new upload");
            }
        }
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
    TProcessMemory& FMemory;
    const TProcessHooks& FHooks;
    const TProcessContext& FContext;
    TFileIdentity FIdentity; ///< the file as it was before it was first read
    bool FIdentityKnown = false;
    bool FReplaced = false;
    int FUploaded = 0; ///< drivers given the file

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

const TProcessMemory::TMoveDue* TProcessMemory::MoveDue(const std::string& FileName) const
{
    const auto Found = FMoves.find(FileName);
    return Found == FMoves.end() ? nullptr : &Found->second;
}

void TProcessMemory::RememberMove(const std::string& FileName, TMoveDue Due)
{
    FMoves[FileName] = std::move(Due);
}

void TProcessMemory::Forget(const std::string& FileName)
{
    FMoves.erase(FileName);
}

void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter)
{
    TProcessMemory Memory;
    ProcessFile(FileName, Settings, Watch, Reporter, Memory, TProcessHooks{});
}

void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter, const TProcessHooks& Hooks)
{
    TProcessMemory Memory;
    ProcessFile(FileName, Settings, Watch, Reporter, Memory, Hooks);
}

void ProcessFile(const std::string& FileName, const TLoaderSettings* Settings, TFolderWatch* Watch,
                 IProcessReporter& Reporter, TProcessMemory& Memory, const TProcessHooks& Hooks,
                 const TProcessContext& Context)
{
    if (!Settings) {
        // Nothing to decide with; the file stays, but the watch must not keep it pending for good.
        if (Watch)
            Watch->MarkFinished(FileName, false);
        return;
    }
    TFileRun Run(FileName, *Settings, Reporter, Memory, Hooks, Context);
    try {
        Run.Run();
    } catch (...) {
        // Only a reporter failing while it reports a read failure gets here. The watch must
        // still hear of the file, or it would never offer it again.
        if (Watch)
            Watch->MarkFinished(FileName, Run.Gone());
        throw;
    }
    if (Watch)
        Watch->MarkFinished(FileName, Run.Gone());
}

} // namespace Plumeria

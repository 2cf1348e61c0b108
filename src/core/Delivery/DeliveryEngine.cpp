#include "core/Delivery/DeliveryEngine.h"

#include "core/DigiSearch/TcpTransport.h"
#include "core/FolderWatch/FolderWatch.h"
#include "core/FolderWatch/Mask.h"
#include "core/Journal/Journal.h"
#include "core/PluCsv/PluCsv.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <set>
#include <utility>

namespace Plumeria {

namespace {

bool SameScale(const TScaleProgress& Progress, const TScaleConfig& Scale)
{
    return Progress.Host == Scale.Host && Progress.Port == PortInUse(Scale);
}

TDeliveryResult ResultOf(TUploadStatus Status)
{
    switch (Status) {
    case TUploadStatus::usSent:
        return TDeliveryResult::drSent;
    case TUploadStatus::usNotSent:
        return TDeliveryResult::drNotSent;
    case TUploadStatus::usFailed:
        break;
    }
    return TDeliveryResult::drFailed;
}

std::int64_t UnixNow()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace

std::string DeliveryTimeText(const TLocalDateTime& Time)
{
    char Text[32];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02d %02d:%02d:%02d", Time.Year, Time.Month,
                  Time.Day, Time.Hour, Time.Minute, Time.Second);
    return Text;
}

int PortInUse(const TScaleConfig& Scale)
{
    if (Scale.Kind == TScaleKind::skDigi && Scale.Port <= 0)
        return DigiDefaultPort(Scale.Host);
    return Scale.Port;
}

// ---------------------------------------------------------------------------------------------

struct TDeliveryEngine::TLink
{
    std::mutex Lock;
    TDeliveryEngine* Engine = nullptr;
    IProcessReporter* Reporter = nullptr;
    IDeliveryObserver* Observer = nullptr;
};

namespace {

/// File processing's reports, carried to the interface thread.
class TPostedReporter : public IProcessReporter
{
public:
    TPostedReporter(TPoster Poster, std::function<IProcessReporter*()> Target)
        : FPoster(std::move(Poster)), FTarget(std::move(Target))
    {
    }
    void AddRecent(const std::string& Line) override
    {
        Post([Line](IProcessReporter& Reporter) { Reporter.AddRecent(Line); });
    }
    void ShowBalloon(const std::string& Title, const std::string& Text) override
    {
        Post([Title, Text](IProcessReporter& Reporter) { Reporter.ShowBalloon(Title, Text); });
    }
    void RefreshView() override
    {
        Post([](IProcessReporter& Reporter) { Reporter.RefreshView(); });
    }

private:
    void Post(std::function<void(IProcessReporter&)> Call)
    {
        FPoster([Target = FTarget, Call = std::move(Call)] {
            if (IProcessReporter* Reporter = Target())
                Call(*Reporter);
        });
    }

    TPoster FPoster;
    std::function<IProcessReporter*()> FTarget;
};

} // namespace

TDeliveryEngine::TDeliveryEngine(TPoster Poster, IProcessReporter& Reporter,
                                 IDeliveryObserver* Observer, TDeliveryOptions Options)
    : FPoster(std::move(Poster)), FLink(std::make_shared<TLink>()), FOptions(std::move(Options)),
      FStatus(FOptions.DataFolder / "delivery.ini"),
      FSpool(FOptions.DataFolder / "spool", FOptions.SpoolLimits)
{
    FLink->Engine = this;
    FLink->Reporter = &Reporter;
    FLink->Observer = Observer;
    // The reporter is looked up at the moment the call runs: after the engine died it is gone.
    FPostedReporter = std::make_unique<TPostedReporter>(
        FPoster, [Link = std::weak_ptr<TLink>(FLink)]() -> IProcessReporter* {
            const auto Alive = Link.lock();
            if (!Alive)
                return nullptr;
            std::lock_guard Guard(Alive->Lock);
            return Alive->Reporter;
        });
    std::string Error;
    FStatus.Load(Error); // a damaged file is journaled there and started afresh
    TrimSpools();
    FThread = std::thread([this] { Execute(); });
}

TDeliveryEngine::~TDeliveryEngine()
{
    {
        std::lock_guard Guard(FLock);
        FStop = true;
        FCancel = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
    std::lock_guard Guard(FLink->Lock);
    FLink->Engine = nullptr;
    FLink->Reporter = nullptr;
    FLink->Observer = nullptr;
}

void TDeliveryEngine::SetSettings(const TLoaderSettings& Settings, bool ScalesKnown)
{
    {
        std::lock_guard Guard(FLock);
        FSettings = Settings;
    }
    if (ScalesKnown)
        DropUnconfigured(Settings);
    FWake.notify_all();
}

void TDeliveryEngine::Attach(TFolderWatch* Watch)
{
    std::lock_guard Guard(FLock);
    FWatch = Watch;
}

void TDeliveryEngine::Offer(const std::string& FileName)
{
    {
        std::lock_guard Guard(FLock);
        FQueue.Add(FileName);
        ++FUnreleased;
    }
    // The file may be taken only from a call queued behind this one: the watch reports a scan's
    // files in one call, so every file reported with it is queued before the oldest is picked.
    FPoster([Link = FLink] {
        std::lock_guard Guard(Link->Lock);
        if (Link->Engine)
            Link->Engine->Release();
    });
}

void TDeliveryEngine::Release()
{
    {
        std::lock_guard Guard(FLock);
        if (FUnreleased > 0)
            --FUnreleased;
    }
    FWake.notify_all();
}

void TDeliveryEngine::Pause()
{
    std::unique_lock Guard(FLock);
    while (FQueue.TakeOldest()) {
    }
    FWatch = nullptr;
    if (FBusy) {
        FCancel = true;
        FIdle.wait(Guard, [this] { return !FBusy; });
    }
    FCancel = false;
}

void TDeliveryEngine::ResendNow(const std::string& Host, int Port)
{
    {
        std::lock_guard Guard(FLock);
        FResendRequests.insert({Host, Port});
    }
    FWake.notify_all();
}

std::size_t TDeliveryEngine::Waiting() const
{
    std::lock_guard Guard(FLock);
    return FQueue.Size();
}

std::vector<TScaleState> TDeliveryEngine::States(const std::vector<TScaleConfig>& Scales) const
{
    std::vector<TScaleState> States;
    States.reserve(Scales.size());
    for (const TScaleConfig& Scale : Scales) {
        TScaleState& State = States.emplace_back();
        const int Port = PortInUse(Scale);
        {
            std::lock_guard Guard(FStoreLock);
            if (const TScaleDelivery* Known = FStatus.Find(Scale.Host, Port))
                State.Delivery = *Known;
        }
        // Only a listing: a copy being written has a name of its own until it is whole.
        State.Missing = FSpool.Count(Scale.Host, Port);
    }
    return States;
}

TSendProgress TDeliveryEngine::Progress() const
{
    std::lock_guard Guard(FProgressLock);
    return FProgress;
}

// --- the worker ------------------------------------------------------------------------------

void TDeliveryEngine::Execute()
{
    using Clock = std::chrono::steady_clock;
    const auto Interval = std::chrono::milliseconds(FOptions.ResendIntervalMs);
    auto NextCheck = Clock::now() + Interval;
    std::unique_lock Guard(FLock);
    for (;;) {
        // The steady check belongs to a working watch: a paused program sends nothing unasked.
        FWake.wait_until(Guard, NextCheck, [this] {
            return FStop || (!FQueue.Empty() && FWatch && FUnreleased == 0) ||
                   !FResendRequests.empty();
        });
        if (FStop)
            break;
        const bool CheckDue = FWatch && Clock::now() >= NextCheck;
        std::optional<std::string> File;
        if (FWatch && FUnreleased == 0)
            File = FQueue.TakeOldest();
        if (!File && !CheckDue && FResendRequests.empty()) {
            if (Clock::now() >= NextCheck)
                NextCheck = Clock::now() + Interval;
            continue;
        }
        FBusy = true;
        FCancel = false;
        const TLoaderSettings Settings = FSettings;
        TFolderWatch* const Watch = FWatch;
        std::set<std::pair<std::string, int>> Only;
        if (!File && !CheckDue)
            Only.swap(FResendRequests);
        else if (!File)
            FResendRequests.clear();
        Guard.unlock();
        try {
            if (File)
                ProcessOne(*File, Settings, Watch);
            else
                ResendAll(Settings, Only);
        } catch (const std::exception& Failure) {
            LogError(std::string("delivery failed: ") + Failure.what());
        }
        Guard.lock();
        if (!File && CheckDue)
            NextCheck = Clock::now() + Interval;
        FBusy = false;
        FIdle.notify_all();
    }
}

void TDeliveryEngine::ProcessOne(const std::string& FileName, const TLoaderSettings& Settings,
                                 TFolderWatch* Watch)
{
    const std::string Name = PathToUtf8(PathFromUtf8(FileName).filename());
    StartProgress(Name, Settings);
    TProcessContext Context;
    Context.MaxParallel = FOptions.MaxParallel;
    Context.Cancel = &FCancel;
    Context.Progress = [this](const TScaleConfig& Scale, std::size_t Sent, std::size_t Total) {
        NoteProgress(Scale, Sent, Total);
    };
    Context.BeforeUpload = [&](const TScaleConfig& Scale, std::string& Why) {
        return SendMissed(Scale, Settings, Why);
    };
    Context.ScaleDone = [&](const TScaleConfig& Scale, const TUploadResult& Result,
                            std::size_t Articles, const std::string* Bytes) {
        RecordOutcome(Name, Scale, Result, Articles, Bytes);
    };
    ProcessFile(FileName, &Settings, Watch, *FPostedReporter, FMemory, FOptions.Hooks, Context);
    TrimSpools(); // the copies just kept may have taken a scale past its size bound
    {
        std::lock_guard Guard(FProgressLock);
        FProgress = {};
    }
    PostProgress();
    SaveStatus();
    PostStatusChanged();
}

bool TDeliveryEngine::SendMissed(const TScaleConfig& Scale, const TLoaderSettings& Settings,
                                 std::string& Why)
{
    const int Port = PortInUse(Scale);
    const std::vector<TSpoolEntry> Missed = FSpool.Entries(Scale.Host, Port);
    for (const TSpoolEntry& Entry : Missed) {
        if (FCancel) {
            Why = UploadCancelledMessage;
            return false;
        }
        TUploadResult Result;
        std::size_t Articles = 0;
        try {
            TPluParseResult Parsed;
            ParsePluFile(Entry.Path, NormalizeCodePage(Scale.FileCodePage), Parsed);
            Articles = Parsed.Items.size();
            TUploadControl Control;
            Control.Cancel = &FCancel;
            const TScaleDriverRef Driver = FOptions.Hooks.CreateDriver
                                               ? FOptions.Hooks.CreateDriver(Scale.Kind)
                                               : CreateScaleDriver(Scale.Kind);
            Result =
                Parsed.Rejected()
                    ? TUploadResult{TUploadStatus::usFailed, "the kept copy has errors"}
                    : Driver->UploadControlled(Scale.Host, Scale.Port, Settings.ConnectTimeoutMs,
                                               Settings.AdapterIp, Scale.Model,
                                               PathToUtf8(Entry.Path), Parsed.Items, Control);
        } catch (const std::exception& Failure) {
            Result = {TUploadStatus::usFailed, Failure.what()};
        }
        TScaleProgress Done{Scale.Host, Port,  ScaleDisplayName(Scale), 0, Articles, true,
                            false,      false, Result.Message};
        if (Result.Status == TUploadStatus::usNotSent) {
            // The scale's make has no protocol (any more): the copies stay until they can be
            // sent, and nothing counts them as delivered. A newer file goes its own way: it is
            // not sent either, and not kept.
            bool Told = false;
            {
                std::lock_guard Guard(FStoreLock);
                const TScaleDelivery* Known = FStatus.Find(Scale.Host, Port);
                Told = Known && Known->LastResult == TDeliveryResult::drNotSent &&
                       Known->LastFile == Entry.FileName;
                FStatus.Record(Scale.Host, Port, ScaleDisplayName(Scale), Entry.FileName,
                               DeliveryTimeText(LocalNow()), Articles, TDeliveryResult::drNotSent,
                               Result.Message);
            }
            if (!Told) {
                LogError("cannot resend " + Entry.FileName + " to " + Scale.Host + ": " +
                         Result.Message + "; the copy is kept");
                Done.NotSent = true;
                PostScaleFinished(Entry.FileName, Done);
                PostStatusChanged();
            }
            return true;
        }
        if (Result.Status == TUploadStatus::usFailed) {
            if (Result.Message != UploadCancelledMessage)
                LogError("resend of " + Entry.FileName + " to " + Scale.Host +
                         " failed: " + Result.Message);
            Why = "older files are still waiting for this scale";
            std::lock_guard Guard(FStoreLock);
            if (Result.Message != UploadCancelledMessage)
                FStatus.Record(Scale.Host, Port, ScaleDisplayName(Scale), Entry.FileName,
                               DeliveryTimeText(LocalNow()), Articles, TDeliveryResult::drFailed,
                               Result.Message);
            return false;
        }
        Done.Sent = Articles;
        Done.Ok = true;
        LogInfo("resent " + Entry.FileName + " to " + Scale.Host + ": " + std::to_string(Articles) +
                " PLU");
        // Recorded before the copy goes: whoever sees the file no longer waiting sees it sent,
        // and a stop in between sends it once more rather than losing what the scale got.
        {
            std::lock_guard Guard(FStoreLock);
            FStatus.Record(Scale.Host, Port, ScaleDisplayName(Scale), Entry.FileName,
                           DeliveryTimeText(LocalNow()), Articles, ResultOf(Result.Status), "");
        }
        {
            std::lock_guard Guard(FSpoolLock);
            FSpool.Remove(Entry);
        }
        PostScaleFinished(Entry.FileName, Done);
        PostStatusChanged();
    }
    return true;
}

void TDeliveryEngine::ResendAll(const TLoaderSettings& Settings,
                                const std::set<std::pair<std::string, int>>& Only)
{
    TrimSpools();
    bool Any = false;
    for (const TScaleConfig& Scale : Settings.Scales) {
        if (!Scale.Enabled || TrimView(Scale.Host).empty())
            continue;
        if (!Only.empty() && !Only.count({Scale.Host, PortInUse(Scale)}))
            continue;
        if (FSpool.Count(Scale.Host, PortInUse(Scale)) == 0)
            continue;
        std::string Why;
        SendMissed(Scale, Settings, Why);
        Any = true;
    }
    if (Any) {
        SaveStatus();
        PostStatusChanged();
    }
}

void TDeliveryEngine::RecordOutcome(const std::string& FileName, const TScaleConfig& Scale,
                                    const TUploadResult& Result, std::size_t Articles,
                                    const std::string* Bytes)
{
    if (Result.Message == UploadCancelledMessage)
        return;
    const int Port = PortInUse(Scale);
    const bool Failed = Result.Status == TUploadStatus::usFailed;
    const bool NotSent = Result.Status == TUploadStatus::usNotSent;
    const bool Took = !Failed && !NotSent;
    {
        std::lock_guard Guard(FStoreLock);
        FStatus.Record(Scale.Host, Port, ScaleDisplayName(Scale), FileName,
                       DeliveryTimeText(LocalNow()), Articles, ResultOf(Result.Status),
                       Took ? "" : Result.Message);
    }
    std::string Message = Result.Message;
    std::string NotKept;
    if (Failed && Bytes) {
        // A large copy takes its time: the windows read the status meanwhile.
        std::lock_guard Guard(FSpoolLock);
        if (std::string Error; !FSpool.Add(Scale.Host, Port, FileName, *Bytes, Error))
            NotKept = Error;
    } else if (Failed) {
        NotKept = "the file changed or could not be read again";
    }
    if (!NotKept.empty()) {
        // The scale will never get this file on its own: the status and the scale's line say
        // so, not only the journal, so that "missing 0" is not taken for "nothing owed".
        LogError("cannot keep " + FileName + " for " + Scale.Host + ": " + NotKept);
        const std::string Note = "not kept for a later send: " + NotKept;
        Message += "; " + Note;
        std::lock_guard Guard(FStoreLock);
        FStatus.NoteError(Scale.Host, Port, Note);
    }
    {
        std::lock_guard Guard(FProgressLock);
        for (TScaleProgress& Progress : FProgress.Scales)
            if (SameScale(Progress, Scale)) {
                Progress.Done = true;
                Progress.Ok = Took;
                Progress.NotSent = NotSent;
                Progress.Sent = Took ? Articles : 0;
                Progress.Total = Articles;
                Progress.Message = Message;
            }
    }
    PostScaleFinished(FileName, {Scale.Host, Port, ScaleDisplayName(Scale), Took ? Articles : 0,
                                 Articles, true, Took, NotSent, Message});
}

void TDeliveryEngine::TrimSpools()
{
    std::vector<TSpoolEntry> Dropped;
    {
        std::lock_guard Guard(FSpoolLock);
        Dropped = FSpool.Trim(UnixNow());
    }
    {
        // The scale's row says so until its next outcome, beside the journal's ERROR.
        std::lock_guard Guard(FStoreLock);
        for (const TSpoolEntry& Entry : Dropped)
            FStatus.NoteError(Entry.Host, Entry.Port,
                              Entry.FileName + " dropped from the spool, never sent again");
    }
    for (const TSpoolEntry& Entry : Dropped)
        LogError("dropped from the spool, never sent again: " + Entry.FileName + " for " +
                 Entry.Host + ":" + std::to_string(Entry.Port));
    if (!Dropped.empty()) {
        SaveStatus();
        PostStatusChanged();
    }
}

void TDeliveryEngine::DropUnconfigured(const TLoaderSettings& Settings)
{
    std::set<std::pair<std::string, int>> Configured;
    for (const TScaleConfig& Scale : Settings.Scales)
        Configured.insert({Scale.Host, PortInUse(Scale)});
    bool Changed = false;
    {
        std::lock_guard Guard(FSpoolLock);
        for (const auto& [Host, Port] : FSpool.Scales())
            if (!Configured.count({Host, Port})) {
                const auto Dropped = FSpool.DropScale(Host, Port);
                LogWarn("spool of " + Host + ":" + std::to_string(Port) + " dropped with " +
                        std::to_string(Dropped.size()) + " files: the scale was removed");
                Changed = true;
            }
    }
    {
        std::lock_guard Guard(FStoreLock);
        std::vector<std::pair<std::string, int>> Unknown;
        for (const auto& [Key, Delivery] : FStatus.Scales())
            if (!Configured.count({Delivery.Host, Delivery.Port}))
                Unknown.push_back({Delivery.Host, Delivery.Port});
        for (const auto& [Host, Port] : Unknown)
            FStatus.Forget(Host, Port);
        Changed = Changed || !Unknown.empty();
    }
    if (Changed) {
        SaveStatus();
        PostStatusChanged();
    }
}

void TDeliveryEngine::SaveStatus()
{
    std::string Error;
    bool Saved = false;
    {
        std::lock_guard Guard(FStoreLock);
        Saved = FStatus.Save(Error);
    }
    if (!Saved)
        LogError("cannot save the delivery status: " + Error);
}

// --- progress --------------------------------------------------------------------------------

void TDeliveryEngine::StartProgress(const std::string& FileName, const TLoaderSettings& Settings)
{
    TSendProgress Progress;
    Progress.FileName = FileName;
    for (const TScaleConfig& Scale : Settings.Scales) {
        if (!Scale.Enabled || TrimView(Scale.Host).empty())
            continue;
        try {
            if (!MatchesScaleMask(FileName, Scale.FileMask))
                continue;
        } catch (const std::exception&) {
            continue; // file processing journals the mask
        }
        TScaleProgress& Entry = Progress.Scales.emplace_back();
        Entry.Host = Scale.Host;
        Entry.Port = PortInUse(Scale);
        Entry.Name = ScaleDisplayName(Scale);
    }
    {
        std::lock_guard Guard(FProgressLock);
        FProgress = std::move(Progress);
    }
    PostProgress();
}

void TDeliveryEngine::NoteProgress(const TScaleConfig& Scale, std::size_t Sent, std::size_t Total)
{
    {
        std::lock_guard Guard(FProgressLock);
        for (TScaleProgress& Progress : FProgress.Scales)
            if (SameScale(Progress, Scale)) {
                Progress.Sent = Sent;
                Progress.Total = Total;
            }
        const std::uint64_t Now = MonotonicTickMs();
        if (Sent != Total && Now - FLastProgressPost < FOptions.ProgressIntervalMs)
            return;
        FLastProgressPost = Now;
    }
    PostProgress();
}

void TDeliveryEngine::PostProgress()
{
    FPoster([Link = FLink, Progress = this->Progress()] {
        std::lock_guard Guard(Link->Lock);
        if (Link->Observer)
            Link->Observer->ProgressChanged(Progress);
    });
}

void TDeliveryEngine::PostScaleFinished(const std::string& FileName, const TScaleProgress& Scale)
{
    FPoster([Link = FLink, FileName, Scale] {
        std::lock_guard Guard(Link->Lock);
        if (Link->Observer)
            Link->Observer->ScaleFinished(FileName, Scale);
    });
}

void TDeliveryEngine::PostStatusChanged()
{
    FPoster([Link = FLink] {
        std::lock_guard Guard(Link->Lock);
        if (Link->Observer)
            Link->Observer->StatusChanged();
    });
}

} // namespace Plumeria

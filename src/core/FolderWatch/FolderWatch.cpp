#include "core/FolderWatch/FolderWatch.h"

#include "core/FolderWatch/ReadyQueue.h"
#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/DirWatch.h"
#include "platform/Environment.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace Plumeria {

namespace {

constexpr int TargetNameAttempts = 1000;

} // namespace

TFolderWatch::TFolderWatch(std::string Directory, std::string Mask, TReadyCallback OnReady,
                           TPoster Poster, TFolderWatchOptions Options)
    : FOnReady(std::make_shared<TReadyLink>()), FPoster(std::move(Poster)),
      FStopEvent(std::make_unique<TDirWatch>()), FDir(std::move(Directory)), FMask(std::move(Mask)),
      FMaskList(FMask), FOptions(std::move(Options))
{
    if (!FPoster)
        throw std::invalid_argument("folder watch needs a poster");
    if (!FOptions.Tick)
        FOptions.Tick = &MonotonicTickMs;
    if (!FOptions.ExclusiveTest)
        FOptions.ExclusiveTest = &TestExclusiveOpen;
    FOnReady->OnReady = std::move(OnReady);
    FThread = std::thread([this] { Execute(); });
}

TFolderWatch::~TFolderWatch()
{
    FStop = true;
    {
        std::lock_guard Guard(FOnReady->Lock);
        FOnReady->OnReady = nullptr;
    }
    FStopEvent->SignalStop();
    if (FThread.joinable())
        FThread.join();
}

std::uint64_t TFolderWatch::Now() const
{
    return FOptions.Tick();
}

std::string TFolderWatch::KeyOf(const std::string& Path) const
{
    // Windows names are one file whatever the letter case; on a case-sensitive file system
    // Prices.csv and prices.csv are two files and must stay two keys.
    return FileNamesIgnoreCase() ? AsciiLower(Path) : Path;
}

void TFolderWatch::MarkFinished(const std::string& FileName, bool Success)
{
    const std::string Key = KeyOf(FileName);
    std::lock_guard Guard(FLock);
    FPending.erase(Key);
    if (Success)
        FCooldown.erase(Key);
    else
        FCooldown[Key] = Now() + CooldownMs;
}

void TFolderWatch::Publish(std::vector<std::string> ReadyPaths)
{
    if (ReadyPaths.empty())
        return;
    SortOldestFirst(ReadyPaths);
    FPoster([Link = FOnReady, Paths = std::move(ReadyPaths)] {
        for (const std::string& ReadyPath : Paths) {
            TReadyCallback OnReady;
            {
                std::lock_guard Guard(Link->Lock);
                OnReady = Link->OnReady;
            }
            // Called outside the link's lock: the callback may well destroy this watch (and
            // with it the callback, so it is looked up again for every file).
            if (!OnReady)
                return;
            OnReady(ReadyPath);
        }
    });
}

void TFolderWatch::Execute()
{
    // Parts of the mask list that cannot be read are left out; say so once per watch, since no
    // file would ever match them.
    for (const std::string& Error : FMaskList.Errors())
        LogWarn("watch mask part skipped: " + Error);

    while (!FStop) {
        try {
            if (WatchOnce())
                break;
        } catch (const std::exception& Failure) {
            // Whatever goes wrong (out of memory, a poster that refused a call), the watch thread
            // must neither die silently nor take the process with it: journal, pause, go on.
            FStopEvent->Close();
            LogError(std::string("watch failed: ") + Failure.what());
            if (FStopEvent->WaitForStop(FOptions.RetryPauseMs))
                break;
        }
    }
}

bool TFolderWatch::WatchOnce()
{
    const std::filesystem::path Dir = PathFromUtf8(FDir);
    if (FDir.empty() || !IsExistingFolder(Dir)) {
        if (!FWarnedMissing) {
            if (FDir.empty())
                LogInfo("watch folder is not set");
            else
                LogWarn("watch folder does not exist: " + FDir);
            FWarnedMissing = true;
        }
        return FStopEvent->WaitForStop(FOptions.RetryPauseMs);
    }
    FWarnedMissing = false;

    if (!FStopEvent->Open(Dir)) {
        LogWarn("cannot open watch folder: " + FDir);
        return FStopEvent->WaitForStop(FOptions.RetryPauseMs);
    }
    FFirstScanAfterOpen = true;
    bool Present = Scan();

    // The folder can vanish while it is open (deleted, renamed, a share gone). Some systems keep
    // notifying on the lost handle, so do not wait for the notification to fail: go back to
    // waiting for the folder, with its warning.
    while (!FStop && Present) {
        if (!FStopEvent->Request()) {
            LogWarn("watch read failed");
            FStopEvent->Close();
            // A folder whose notification is refused every time would otherwise be reopened and
            // rescanned in a tight loop, one warning per pass.
            return FStopEvent->WaitForStop(FOptions.RetryPauseMs);
        }
        const TDirWait Woken = FStopEvent->Wait(NextWaitMs());
        if (Woken == TDirWait::dwStop) {
            FStopEvent->Close();
            return true;
        }
        NoteFileUse();
        Present = Scan();
    }
    FStopEvent->Close();
    return FStop;
}

std::uint32_t TFolderWatch::NextWaitMs() const
{
    // A file seen with a new size can be reported once that size has stood for the stability
    // interval: look again right then instead of at the next regular rescan, so a finished file
    // is not kept waiting for up to a second more.
    if (FNextDue == NoneDue)
        return FOptions.RescanMs;
    const std::uint64_t Current = Now();
    const std::uint64_t Left = FNextDue > Current ? FNextDue - Current : 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(FOptions.RescanMs, Left + 1));
}

bool TFolderWatch::Wanted(const std::string& Name) const
{
    return !Name.empty() && Name.front() != '~' && FMaskList.Matches(Name);
}

bool TFolderWatch::NameText(const std::filesystem::path& Name, std::string& Text)
{
    try {
        Text = PathToUtf8(Name);
        return true;
    } catch (const std::exception&) {
        // A Windows name with a lone surrogate has no UTF-8 form; it must not stop every scan.
        if (!std::exchange(FWarnedBadName, true))
            LogWarn("watch skips file names that cannot be read as text in " + FDir);
        return false;
    }
}

void TFolderWatch::NoteFileUse()
{
    bool Overflowed = false;
    const std::vector<TFileUse> Files = FStopEvent->TakeFileUse(Overflowed);
    if (FOptions.IgnoreCloseEvents)
        return;
    std::lock_guard Guard(FLock);
    if (Overflowed) {
        // Events were lost: nobody can say who holds which file, so every file is treated as
        // one that was there before the watch began.
        for (auto& [Key, Writer] : FWriters) {
            Writer.Opens = 0;
            Writer.FoundAtOpen = true;
        }
        FFirstScanAfterOpen = true;
    }
    const std::filesystem::path Dir = PathFromUtf8(FDir);
    for (const TFileUse& File : Files) {
        std::string Text;
        if (!NameText(File.Name, Text) || !Wanted(Text))
            continue;
        TWriterSnap& Writer = FWriters[KeyOf(PathToUtf8(Dir / File.Name))];
        // A close of a descriptor opened before the watch began has no open to match.
        Writer.Opens = std::max(0, Writer.Opens + File.Opens - File.Closes);
        TFileStamp Stamp;
        if (File.ClosedAfterWrite && FileStampOf(Dir / File.Name, Stamp)) {
            if (Writer.Stamp != Stamp) {
                Writer.Stamp = Stamp;
                Writer.Since = Now();
            }
            Writer.ClosedSeen = true;
        }
    }
}

bool TFolderWatch::IsFree(const std::filesystem::path& Path, const std::string& Key)
{
    switch (FOptions.ExclusiveTest(Path)) {
    case TExclusiveOpen::eoFree:
        return true;
    case TExclusiveOpen::eoInUse:
        return false;
    case TExclusiveOpen::eoCannotTell:
        break;
    }
    return QuietEnough(Path, Key);
}

bool TFolderWatch::QuietEnough(const std::filesystem::path& Path, const std::string& Key)
{
    // No way to ask whether somebody holds the file (another user's file without the right to
    // take a lease, a share without leases).
    TFileStamp Stamp;
    if (!FileStampOf(Path, Stamp))
        return false;
    TWriterSnap& Writer = FWriters[Key];
    if (Writer.Stamp != Stamp) {
        // Changed since the close (if any) was seen: that close says nothing about it any more.
        Writer.Stamp = Stamp;
        Writer.Since = Now();
        Writer.ClosedSeen = false;
    }
    const std::uint64_t Quiet = Now() - Writer.Since;
    if (!FOptions.IgnoreCloseEvents && FStopEvent->ReportsOpens()) {
        // Every open since the watch began was seen: a writer that pauses halfway still holds
        // the file, however long it pauses. Only a file that was there before the watch began
        // may have a writer nobody saw open it.
        if (Writer.Opens > 0)
            return false;
        if (Writer.ClosedSeen || !Writer.FoundAtOpen)
            return true;
        return Quiet >= FOptions.FoundQuietMs;
    }
    if (Writer.ClosedSeen)
        return true;
    if (Writer.FoundAtOpen && Quiet >= FOptions.FoundQuietMs)
        return true;
    if (!std::exchange(FWarnedNoClose, true))
        LogInfo("watch cannot tell whether files are still open in " + FDir +
                "; a file is taken once no writer was seen closing it and it stayed unchanged "
                "for " +
                std::to_string(FOptions.NoCloseQuietMs / 1000) + " s");
    return Quiet >= FOptions.NoCloseQuietMs;
}

void TFolderWatch::ForgetUnlisted(const std::vector<std::string>& ListedKeys)
{
    std::lock_guard Guard(FLock);
    std::erase_if(FWriters, [&](const auto& Entry) {
        return !std::binary_search(ListedKeys.begin(), ListedKeys.end(), Entry.first);
    });
}

bool TFolderWatch::Scan()
{
    const std::filesystem::path Dir = PathFromUtf8(FDir);
    if (FDir.empty() || !IsExistingFolder(Dir))
        return false;
    std::vector<std::filesystem::path> Names;
    if (!ListPlainFiles(Dir, Names))
        return true;
    const bool FirstScan = std::exchange(FFirstScanAfterOpen, false);
    const std::uint64_t ScanNow = Now();
    FNextDue = NoneDue;
    std::vector<std::string> ListedKeys;
    std::vector<std::string> Ready;

    for (const std::filesystem::path& NamePath : Names) {
        if (FStop)
            break;
        std::string Name;
        if (!NameText(NamePath, Name) || !Wanted(Name))
            continue;

        const std::filesystem::path Full = Dir / NamePath;
        const std::string FullText = PathToUtf8(Full);
        const std::string Key = KeyOf(FullText);
        ListedKeys.push_back(Key);
        {
            std::lock_guard Guard(FLock);
            if (FPending.count(Key))
                continue;
            if (const auto Cool = FCooldown.find(Key);
                Cool != FCooldown.end() && Cool->second > ScanNow)
                continue;
            const std::int64_t Size = FileSizeOf(Full);
            if (Size < 0)
                continue;
            // Files already there when the folder was opened had their writer's close before
            // anyone could see it; a quiet spell stands in for it (see QuietEnough).
            if (FirstScan)
                FWriters[Key].FoundAtOpen = true;
            const auto Seen = FSeen.find(Key);
            if (Seen == FSeen.end() || Seen->second.Size != Size) {
                FSeen[Key] = {Size, ScanNow};
                FNextDue = std::min(FNextDue, ScanNow + StabilityMs);
                continue;
            }
            if (ScanNow - Seen->second.Tick < StabilityMs) {
                FNextDue = std::min(FNextDue, Seen->second.Tick + StabilityMs);
                continue;
            }
            if (!IsFree(Full, Key))
                continue;
            FPending[Key] = 1;
            FSeen.erase(Seen);
            FWriters.erase(Key);
        }
        Ready.push_back(FullText);
    }
    // Files taken as ready stay pending however the scan ended, so they must reach the consumer.
    Publish(std::move(Ready));
    if (FStop)
        return true;
    std::sort(ListedKeys.begin(), ListedKeys.end());
    ForgetUnlisted(ListedKeys);
    return true;
}

// ---------------------------------------------------------------------------------------------

namespace {

std::string TwoDigits(int Value)
{
    char Text[16];
    std::snprintf(Text, sizeof Text, "%02d", Value);
    return Text;
}

std::string DateFolderName(const TLocalDateTime& Now)
{
    char Text[32];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02d", Now.Year, Now.Month, Now.Day);
    return Text;
}

bool Exists(const std::filesystem::path& Path)
{
    std::error_code Ignored;
    // A dangling link is a name in use too.
    return std::filesystem::exists(std::filesystem::symlink_status(Path, Ignored));
}

/// The explanation beside a refused file. Created new: an existing file of that name (a user's
/// file moved there earlier) or a link is never written through. A text that could not be
/// written whole (the disk is full) is removed again: half an explanation beside the file would
/// read as the whole one.
void WriteErrorText(const std::filesystem::path& Path, const std::string& Text)
{
    std::string Error;
    if (!WriteNewFile(Path, "\xEF\xBB\xBF" + Text, Error))
        throw std::runtime_error(Error);
}

bool NameFits(const std::string& Name)
{
    return FileNameUnits(PathFromUtf8(Name)) <= MaxFileNameUnits;
}

/// `Stem` + `Tail`, with whole characters dropped from the end of `Stem` until the name with
/// `Companion` after it fits the file systems' name limit. A name that cannot be made to fit is
/// returned whole: its move then fails with the system's reason.
std::string FittedName(std::string Stem, const std::string& Tail, const std::string& Companion)
{
    const auto Fits = [&] { return NameFits(Stem + Tail + Companion); };
    while (!Stem.empty() && !Fits()) {
        std::size_t Cut = Stem.size() - 1;
        while (Cut > 0 && (static_cast<unsigned char>(Stem[Cut]) & 0xC0) == 0x80)
            --Cut;
        Stem.erase(Cut);
    }
    return Stem + Tail;
}

} // namespace

std::filesystem::path UniqueTargetPath(const std::filesystem::path& Folder,
                                       const std::filesystem::path& Name, TLocalDateTime (*Clock)(),
                                       const std::string& Companion)
{
    std::error_code Error;
    std::filesystem::create_directories(Folder, Error);
    if (Error || !IsExistingFolder(Folder))
        throw std::filesystem::filesystem_error(
            "cannot create folder", Folder,
            Error ? Error : std::make_error_code(std::errc::not_a_directory));

    // The file and its explanation are one pair: a name is free only when both are.
    const auto Free = [&](const std::filesystem::path& Candidate) {
        return !Exists(Candidate) &&
               (Companion.empty() || !Exists(PathFromUtf8(PathToUtf8(Candidate) + Companion)));
    };
    std::filesystem::path Candidate = Folder / Name;
    if (Free(Candidate) && NameFits(PathToUtf8(Name) + Companion))
        return Candidate;
    const std::string Stem = PathToUtf8(Name.stem());
    const std::string Extension = PathToUtf8(Name.extension());
    for (int I = 1; I <= TargetNameAttempts; ++I) {
        const TLocalDateTime Now = Clock();
        const std::string Tail = "-" + TwoDigits(Now.Hour) + TwoDigits(Now.Minute) +
                                 TwoDigits(Now.Second) + "-" + std::to_string(I) + Extension;
        Candidate = Folder / PathFromUtf8(FittedName(Stem, Tail, Companion));
        if (Free(Candidate))
            return Candidate;
    }
    return Candidate;
}

bool MoveToSubfolder(const std::string& FileName, const std::string& Folder,
                     const std::string& ErrorText, std::string& NewPath, bool ByDate,
                     std::string& Failure)
{
    try {
        const std::filesystem::path Source = PathFromUtf8(FileName);
        std::filesystem::path TargetFolder = Source.parent_path() / PathFromUtf8(Folder);
        if (ByDate)
            TargetFolder /= DateFolderName(LocalNow());

        const std::string Companion = ErrorText.empty() ? "" : ".err";
        const std::filesystem::path Target =
            UniqueTargetPath(TargetFolder, Source.filename(), &LocalNow, Companion);
        std::string Error;
        if (!MoveFileNoReplace(Source, Target, Error))
            throw std::runtime_error(Error);
        NewPath = PathToUtf8(Target);
        if (!ErrorText.empty())
            WriteErrorText(PathFromUtf8(NewPath + Companion), ErrorText);
        return true;
    } catch (const std::filesystem::filesystem_error& Error) {
        // Only the target folder's creation reports this way.
        Failure =
            "cannot create folder " + PathToUtf8(Error.path1()) + ": " + Error.code().message();
        return false;
    } catch (const std::exception& Error) {
        Failure = Error.what();
        return false;
    }
}

bool MoveToSubfolder(const std::string& FileName, const std::string& Folder,
                     const std::string& ErrorText, std::string& NewPath, bool ByDate)
{
    std::string Failure;
    if (MoveToSubfolder(FileName, Folder, ErrorText, NewPath, ByDate, Failure))
        return true;
    LogError("cannot move file: " + Failure);
    return false;
}

} // namespace Plumeria

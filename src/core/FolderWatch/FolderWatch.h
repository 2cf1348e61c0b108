#pragma once
// The folder watch: a thread of its own notices new and changed files in one folder (not its
// subfolders), waits until a file has stopped growing and nobody else holds it open, and reports
// it once, on the interface thread. While the file is processed it is not reported again; after
// `MarkFinished` a file that stayed in place is left alone for a cool-down before it is offered
// again. Also the move of a finished file into a result subfolder.

#include "core/FolderWatch/Mask.h"
#include "core/Types/Poster.h"
#include "platform/Clock.h"
#include "platform/FileOps.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Plumeria {

class TDirWatch;

struct TFileSnap
{
    std::int64_t Size = 0;  ///< bytes
    std::uint64_t Tick = 0; ///< monotonic ms when this size was first seen
};

/// Called on the interface thread with the full path (UTF-8) of each ready file.
using TReadyCallback = std::function<void(const std::string& FileName)>;
/// Monotonic milliseconds; must be callable from the watch thread and any thread that calls
/// `MarkFinished`.
using TTickSource = std::function<std::uint64_t()>;

/// What a test may replace; left empty, the platform's own is used.
struct TFolderWatchOptions
{
    TTickSource Tick;
    /// The exclusive-open test (platform: TestExclusiveOpen).
    std::function<TExclusiveOpen(const std::filesystem::path&)> ExclusiveTest;
    /// Pause while the folder is missing or cannot be opened, and after a refused change request.
    std::uint32_t RetryPauseMs = 3000;
    /// Longest wait for a change before the folder is scanned anyway.
    std::uint32_t RescanMs = 1000;
    /// Where the exclusive-open test cannot tell and no writer was seen closing the file: how
    /// long a file that was there when the folder was opened must keep its size and modification
    /// time before it is taken...
    std::uint32_t FoundQuietMs = 3000;
    /// ...and any other file where the system does not report every open and close (a share
    /// written from another machine).
    std::uint32_t NoCloseQuietMs = 10000;
    /// As if the system told nothing of writers opening and closing files (tests of such a
    /// share).
    bool IgnoreCloseEvents = false;
};

class TFolderWatch
{
public:
    static constexpr std::uint64_t StabilityMs = 400;
    static constexpr std::uint64_t CooldownMs = 30000;

    /// Stores the folder (UTF-8), the mask list and the callback, and starts the thread at once.
    /// `Poster` queues calls to the interface thread without waiting; it must be set.
    TFolderWatch(std::string Directory, std::string Mask, TReadyCallback OnReady, TPoster Poster,
                 TFolderWatchOptions Options = {});
    /// Stops the thread (waking it out of any wait) and joins it. Ready calls still queued
    /// afterwards do nothing.
    ~TFolderWatch();
    TFolderWatch(const TFolderWatch&) = delete;
    TFolderWatch& operator=(const TFolderWatch&) = delete;

    /// Processing is done with the reported `FileName`: `Success` means the file went away;
    /// otherwise it is left alone for the cool-down. Any thread (the delivery engine's worker).
    void MarkFinished(const std::string& FileName, bool Success);

    const std::string& Directory() const { return FDir; }
    const std::string& Mask() const { return FMask; }

private:
    // Shared with every queued ready call, so a call that runs after the watch died finds the
    // callback gone instead of a dangling watch.
    struct TReadyLink
    {
        std::mutex Lock;
        TReadyCallback OnReady;
    };

    void Execute();
    /// One pass: wait for the folder, open it, scan on changes until stopped or the notification
    /// fails. True when the watch is stopping.
    bool WatchOnce();
    /// False when the folder is not there (any more).
    bool Scan();
    /// Queues one call that reports every file of `ReadyPaths` in turn, oldest first, so that a
    /// consumer sees all files that became ready together before it picks one.
    void Publish(std::vector<std::string> ReadyPaths);
    /// Takes in who opened and closed which file since the last wait.
    void NoteFileUse();
    /// The name is one the watch reports at all (no "~" prefix, matches the mask list).
    bool Wanted(const std::string& Name) const;
    /// The name as UTF-8; false (journalled once per watch) when it cannot be converted.
    bool NameText(const std::filesystem::path& Name, std::string& Text);
    bool IsFree(const std::filesystem::path& Path, const std::string& Key);
    /// Without an exclusive-open answer: free after a close at the current size and time, or
    /// after a quiet period. Called under the lock.
    bool QuietEnough(const std::filesystem::path& Path, const std::string& Key);
    void ForgetUnlisted(const std::vector<std::string>& ListedKeys);
    std::string KeyOf(const std::string& Path) const;
    std::uint64_t Now() const;
    std::uint32_t NextWaitMs() const;

    std::thread FThread;
    std::shared_ptr<TReadyLink> FOnReady;
    TPoster FPoster;
    std::atomic<bool> FStop{false};
    std::unique_ptr<TDirWatch>
        FStopEvent; ///< the stop signal together with the folder's notification
    std::string FDir;
    std::string FMask;
    TMaskList FMaskList;
    TFolderWatchOptions FOptions;
    std::mutex FLock; ///< guards the maps below
    std::map<std::string, std::uint8_t> FPending;
    std::map<std::string, std::uint64_t> FCooldown;
    std::map<std::string, TFileSnap> FSeen;
    /// Where the exclusive-open test cannot tell: what is known of each file's writer. A record
    /// counts only while the file keeps the size and modification time it was made for; it is
    /// dropped once the file is reported or no longer listed.
    struct TWriterSnap
    {
        TFileStamp Stamp;
        std::uint64_t Since = 0;  ///< tick from which the file has had this stamp
        bool ClosedSeen = false;  ///< a writer was seen closing it with this stamp
        bool FoundAtOpen = false; ///< it was there when the folder was opened
        int Opens = 0;            ///< descriptors opened since the watch began and not closed
    };
    std::map<std::string, TWriterSnap> FWriters;
    bool FWarnedMissing = false;
    bool FWarnedNoClose = false;
    bool FWarnedBadName = false;
    bool FFirstScanAfterOpen = false;
    static constexpr std::uint64_t NoneDue = ~std::uint64_t(0);
    /// Watch thread only: the tick at which the earliest new size seen by the last scan has stood
    /// for the stability interval.
    std::uint64_t FNextDue = NoneDue;
};

/// Moves `FileName` into the subfolder `Folder` of its own folder (and further into a
/// "yyyy-mm-dd" folder of today's local date when `ByDate`), under a name no file has there yet.
/// A non-empty `ErrorText` is written beside it as target + ".err" (UTF-8 with a byte-order mark),
/// a name chosen together with the target's so that neither exists, and created as a new file
/// (never over an existing one, never through a link). On failure journals "cannot move file: " +
/// the reason and returns false; the file then stays where it was (a failed ".err" write also
/// returns false, though the file has moved).
bool MoveToSubfolder(const std::string& FileName, const std::string& Folder,
                     const std::string& ErrorText, std::string& NewPath, bool ByDate);

/// The same without the journal: on failure `Failure` holds the reason (for a caller that
/// retries a move and journals it once).
bool MoveToSubfolder(const std::string& FileName, const std::string& Folder,
                     const std::string& ErrorText, std::string& NewPath, bool ByDate,
                     std::string& Failure);

/// Creates `Folder` (with parents) and returns `Folder`/`Name` when no such file exists, else the
/// first free "name-hhnnss-i.ext" for i = 1..1000 (the local time from `Clock`, taken anew for
/// each attempt), else the last candidate. With a `Companion` suffix (".err") a name is free only
/// when the name with the suffix is free too. A renamed candidate has its name part shortened
/// (never within a character) so that it fits the file systems' name limit, the suffix
/// included. Throws std::filesystem::filesystem_error when the folder cannot be created.
std::filesystem::path UniqueTargetPath(const std::filesystem::path& Folder,
                                       const std::filesystem::path& Name,
                                       TLocalDateTime (*Clock)() = &LocalNow,
                                       const std::string& Companion = {});

} // namespace Plumeria

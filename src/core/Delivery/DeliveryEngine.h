#pragma once
// The delivery engine. The watch's ready files are processed on a worker thread of their own, one
// at a time and oldest first, so the windows stay responsive however slow the scales are; a file's
// scales get it at the same time, each on a connection of its own. Per scale it keeps what the
// scale last got (the delivery status) and a copy of every file the scale missed (the spool), and
// sends those again, oldest first and to that scale only, once the scale answers; a newer file for
// such a scale waits until the older ones are through, so the scale always ends with the newest
// prices. The windows and `plumeria run` observe it through the poster only, and ask it to pause,
// stop or send again.

#include "core/Delivery/DeliveryStatus.h"
#include "core/Delivery/Spool.h"
#include "core/FolderWatch/ReadyQueue.h"
#include "core/Processing/ProcessFile.h"
#include "core/Settings/Settings.h"
#include "core/Types/Poster.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {

class TFolderWatch;

/// One scale's part of the file being sent.
struct TScaleProgress
{
    std::string Host;
    int Port = 0; ///< the port in use
    std::string Name;
    std::size_t Sent = 0;  ///< articles acknowledged
    std::size_t Total = 0; ///< articles to send (0 until the file is parsed for the scale)
    bool Done = false;
    bool Ok = false;      ///< when done: the scale took the file
    bool NotSent = false; ///< when done: nothing was tried (a make without a protocol)
    std::string Message;  ///< when done: the driver's message
};

/// The file being sent; an empty `FileName` means nothing is being sent.
struct TSendProgress
{
    std::string FileName; ///< without folder
    std::vector<TScaleProgress> Scales;
};

/// A scale's delivery state as the windows show it.
struct TScaleState
{
    TScaleDelivery Delivery; ///< all empty when nothing was recorded for the scale
    std::size_t Missing = 0; ///< files waiting in its spool
};

/// Called on the interface thread (through the poster) only.
class IDeliveryObserver
{
public:
    virtual ~IDeliveryObserver() = default;
    virtual void ProgressChanged(const TSendProgress& Progress) = 0;
    /// A scale ended its part of a file, or a missed file was sent to it again.
    virtual void ScaleFinished(const std::string& FileName, const TScaleProgress& Scale) = 0;
    /// A delivery status or spool changed.
    virtual void StatusChanged() = 0;
};

struct TDeliveryOptions
{
    /// Where the status file ("delivery.ini") and the spool ("spool") are kept.
    std::filesystem::path DataFolder;
    /// How often scales with missed files are tried again.
    std::uint32_t ResendIntervalMs = 60000;
    /// Scales given one file at the same time.
    std::size_t MaxParallel = 8;
    /// Least time between two progress reports of one file.
    std::uint32_t ProgressIntervalMs = 100;
    TSpoolLimits SpoolLimits;
    TProcessHooks Hooks;
};

/// "yyyy-mm-dd hh:nn:ss" of the local time.
std::string DeliveryTimeText(const TLocalDateTime& Time);

/// The port a scale is reached on: its own, or the DIGI default worked out from its host.
int PortInUse(const TScaleConfig& Scale);

class TDeliveryEngine
{
public:
    /// `Poster` queues calls to the interface thread; `Reporter` and `Observer` (may be null) are
    /// only called there. Loads the status and trims the spools; starts the worker.
    TDeliveryEngine(TPoster Poster, IProcessReporter& Reporter, IDeliveryObserver* Observer,
                    TDeliveryOptions Options);
    /// Stops: the exchange at hand ends at its next article, the worker is joined. Calls still
    /// queued for the interface thread afterwards do nothing.
    ~TDeliveryEngine();
    TDeliveryEngine(const TDeliveryEngine&) = delete;
    TDeliveryEngine& operator=(const TDeliveryEngine&) = delete;

    // Interface thread.
    /// A copy of the settings, used from the next file on. With `ScalesKnown`, the spools and
    /// records of scales that are no longer configured are dropped; without (the settings could
    /// not be read, so their scales say nothing), nothing is.
    void SetSettings(const TLoaderSettings& Settings, bool ScalesKnown);
    /// The watch whose files come next (told when each is finished); null for none.
    void Attach(TFolderWatch* Watch);
    /// A ready file (full path, UTF-8) of the attached watch.
    void Offer(const std::string& FileName);
    /// Stops taking files: the file at hand ends at its scales' next article boundary (it stays
    /// in its folder for its next turn), the waiting ones are forgotten (the next watch offers
    /// them again), and the watch is detached. Returns once the worker is idle: within one answer
    /// time-out.
    void Pause();
    /// Tries the scale's missed files now instead of at the next check, even while paused.
    void ResendNow(const std::string& Host, int Port);
    /// The states of the given scales.
    std::vector<TScaleState> States(const std::vector<TScaleConfig>& Scales) const;
    TSendProgress Progress() const;
    /// Files waiting to be processed.
    std::size_t Waiting() const;

private:
    struct TLink; // shared with queued calls, so none runs into a dead engine

    void Execute();
    /// A file offered earlier may now be taken (see `Offer`).
    void Release();
    void ProcessOne(const std::string& FileName, const TLoaderSettings& Settings,
                    TFolderWatch* Watch);
    /// Sends the scale its missed files, oldest first; false (with the reason) when one of them
    /// could not be sent, so newer files must wait.
    bool SendMissed(const TScaleConfig& Scale, const TLoaderSettings& Settings, std::string& Why);
    /// Sends the missed files of every waiting scale, or of `Only` those when not empty.
    void ResendAll(const TLoaderSettings& Settings,
                   const std::set<std::pair<std::string, int>>& Only);
    void RecordOutcome(const std::string& FileName, const TScaleConfig& Scale,
                       const TUploadResult& Result, std::size_t Articles, const std::string* Bytes);
    void TrimSpools();
    void DropUnconfigured(const TLoaderSettings& Settings);
    void SaveStatus();
    void StartProgress(const std::string& FileName, const TLoaderSettings& Settings);
    void NoteProgress(const TScaleConfig& Scale, std::size_t Sent, std::size_t Total);
    void PostProgress();
    void PostScaleFinished(const std::string& FileName, const TScaleProgress& Scale);
    void PostStatusChanged();

    TPoster FPoster;
    std::shared_ptr<TLink> FLink;
    std::unique_ptr<IProcessReporter> FPostedReporter;
    TDeliveryOptions FOptions;

    mutable std::mutex FLock; ///< guards the queue, the settings, the watch and the flags below
    std::condition_variable FWake;
    std::condition_variable FIdle;
    TReadyQueue FQueue;
    TLoaderSettings FSettings;
    TFolderWatch* FWatch = nullptr;
    bool FStop = false;
    bool FBusy = false;
    std::size_t FUnreleased = 0; ///< offers whose queued release has not run yet
    std::set<std::pair<std::string, int>> FResendRequests; ///< scales to try now (host, port)
    std::atomic<bool> FCancel{false};

    mutable std::mutex FStoreLock; ///< guards the status
    std::mutex FSpoolLock;         ///< one change of the spool at a time (its listings need none)
    TDeliveryStatus FStatus;
    TSpool FSpool;

    mutable std::mutex FProgressLock;
    TSendProgress FProgress;
    std::uint64_t FLastProgressPost = 0;

    TProcessMemory FMemory; ///< worker only
    std::thread FThread;
};

} // namespace Plumeria

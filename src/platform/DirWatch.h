#pragma once
// Change notification for one folder (not its subfolders), with a stop signal that wakes every
// wait. The folder watch only learns "something changed, scan now" from it, and on Linux also who
// opens and closes the folder's files (any user's, the program's own included).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace Plumeria {

/// What happened to one file's open descriptors since the last look (Linux).
struct TFileUse
{
    std::filesystem::path Name; ///< without folder
    int Opens = 0;              ///< opens seen
    int Closes = 0;             ///< closes seen, with or without writing
    bool ClosedAfterWrite = false;
};

enum class TDirWait
{
    dwStop,   ///< the stop signal is set
    dwChange, ///< the outstanding change request completed
    dwTimeout ///< neither within the time
};

class TDirWatch
{
public:
    /// Creates the stop signal (manual reset, not set). Throws std::system_error when the system
    /// has no resources for it.
    TDirWatch();
    ~TDirWatch();
    TDirWatch(const TDirWatch&) = delete;
    TDirWatch& operator=(const TDirWatch&) = delete;

    /// Sets the stop signal; it stays set. Callable from any thread while another one waits.
    void SignalStop();
    /// Waits up to `Ms` milliseconds for the stop signal; true when it is set.
    bool WaitForStop(std::uint32_t Ms);

    /// Opens `Folder` for change notification. False when it cannot be opened.
    bool Open(const std::filesystem::path& Folder);
    /// Cancels an outstanding request and closes the folder; harmless when not open.
    void Close();
    /// Starts a change request unless one is outstanding. False when the system refuses it (on
    /// Linux also once the folder itself was deleted, moved or unmounted).
    bool Request();
    /// Waits up to `Ms` milliseconds for the stop signal or the completion of the request.
    TDirWait Wait(std::uint32_t Ms);
    /// The opens and closes of the folder's files since the last call, one entry per file, where
    /// the system tells (Linux); always empty elsewhere. `Overflowed` is set when the system
    /// dropped events, so the counts cannot be trusted.
    std::vector<TFileUse> TakeFileUse(bool& Overflowed);
    /// True when every open and close of the open folder's files is reported, whoever makes it:
    /// Linux on a local file system. A share written from another machine tells nothing of its
    /// writers; nor does Windows (where the exclusive-open test always answers).
    bool ReportsOpens() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace Plumeria

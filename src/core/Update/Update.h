#pragma once
// Self-update at program start: when automatic update is on, fetch the one-line version file
// from the maker's site; if it differs from our own version, download the ZIP archive, take the
// executable out of it (all in memory), write it whole beside the running executable under a
// name of its own, keep the running executable under its backup name and rename the new one
// into place, release the locks and start it. The old process then waits for the new one to
// report a good start (a file in the data folder that the new one takes over once it holds its
// locks); a new program that ends or stays silent is undone and the old one runs on. The backup
// goes only at the start after that good one. Every step is journalled; no failure stops the
// program's start.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// The downloaded archive and the extracted executable are held in memory.
using TByteStream = std::vector<std::uint8_t>;

inline constexpr std::string_view UpdateLocalVersion = PLUMERIA_VERSION;
inline constexpr std::string_view UpdateVersionPath = "/download/plumeriabridge/ver.txt";
inline constexpr std::string_view UpdateArchivePath = "/download/plumeriabridge/PlumeriaBridge.zip";
inline constexpr int UpdateVersionTimeoutMs = 15000;
inline constexpr int UpdateArchiveTimeoutMs = 120000;
inline constexpr std::size_t UpdateHttpChunk = 8192;
inline constexpr std::size_t UpdateCopyChunk = 1048576;
inline constexpr int UpdateRenameAttempts = 5;
inline constexpr int UpdateRenamePauseMs = 500;
/// How long the old program waits for the new one to report a good start.
inline constexpr int UpdateStartReportWaitMs = 20000;
/// The file in the data folder that remembers the remote version installed last.
inline constexpr std::string_view UpdateInstalledFileName = "update-installed.txt";
/// Written by the old program before it starts the new one (it holds the remote version); the
/// new one reports a good start by renaming it to `UpdateStartedFileName`.
inline constexpr std::string_view UpdatePendingFileName = "update-pending.txt";
inline constexpr std::string_view UpdateStartedFileName = "update-started.txt";

/// Where the updater looks and what it works on. The defaults are the real program's; tests
/// point them at a loopback server and a temporary folder. There is deliberately no way to
/// switch certificate verification off.
struct TUpdateOptions
{
    /// The maker's site, fixed at build time; the version and archive paths are joined to it.
    std::string SiteUrl = PLUMERIA_SITE_URL;
    /// The executable to replace; empty means the running one.
    std::filesystem::path ExePath;
    /// A PEM file of certificate authorities to trust instead of the system's (a test's own CA).
    std::filesystem::path CaFile;
    /// One deadline for the whole check, version file and archive together: however slowly
    /// the bytes keep coming, the start goes on after this long.
    int OverallTimeoutMs = UpdateArchiveTimeoutMs;
    /// How long to wait for the new program's word that it started well.
    int StartReportWaitMs = UpdateStartReportWaitMs;

    /// Seams for tests that must make the file steps fail. Empty means the platform's own:
    /// keeping the executable under the backup name (`KeepAsBackup`) and putting the backup
    /// back (a rename that never replaces), and create-or-truncate plus write.
    std::function<bool(const std::filesystem::path& From, const std::filesystem::path& To,
                       std::string& Error)>
        RenameFile;
    std::function<bool(const std::filesystem::path& Path, std::span<const std::uint8_t> Data,
                       std::string& Error)>
        WriteFile;
};

/// A failure of `HttpGet` or `FetchRemoteVersion`; `what()` is the message journalled behind
/// "update check failed: " or "update download failed: ".
class TUpdateError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The executable's file name on this platform ("PlumeriaBridge" or "PlumeriaBridge.exe"); the
/// archive member looked for has this name.
std::string UpdateExeName();
/// The site base joined with `Path` (exactly one slash between them).
std::string UpdateUrl(std::string_view Base, std::string_view Path);

/// True when a new executable was written, started and reported a good start, and the caller
/// must end the process. Never installs the same remote version twice (it is remembered in the
/// data folder once the new program reported), nor an archive whose program is the running one
/// byte for byte, nor into a folder it cannot write. When the new program cannot be started,
/// ends before it reported or stays silent, the old one is put back and its locks taken again
/// (a lock another program took meanwhile is journalled as an error and stays lost: the caller
/// must look at `SingleInstanceHeld` and `HeldDataFolderLock`), and the result is false.
bool CheckForUpdate(bool AutoUpdate, const TUpdateOptions& Options = {});
/// At start, before the settings: removes what an interrupted update left beside the
/// executable (a new program not yet in place), and deletes the backup of a previous update
/// unless the program now starting is that update's new program on its first start (the backup
/// then stays until it has run well). Journals either way and never fails.
void RemovePreviousBackup(const TUpdateOptions& Options = {});
/// At start, once the program holds its locks: when an update started it and waits for its
/// word, reports the good start and records the installed version. Nothing happens otherwise.
void ReportStartedWell();
/// The backup beside the executable: its name without the extension, then ".old" and the
/// platform's executable suffix (PlumeriaBridge.old.exe, PlumeriaBridge.old).
std::filesystem::path BackupPath(const TUpdateOptions& Options = {});
/// GET `Url` into `Stream` (emptied first) in 8192-byte reads; the time-out bounds connecting
/// and each wait for the response, `OverallMs` (0: none) the whole exchange. Returns the byte
/// count; throws `TUpdateError` on a network failure, a status of 400 or more, or a redirection
/// that was not followed.
std::size_t HttpGet(std::string_view Url, TByteStream& Stream, int TimeoutMs,
                    const TUpdateOptions& Options = {}, int OverallMs = 0);
/// The first line of the version file, trimmed (may be empty). Throws `TUpdateError`.
std::string FetchRemoteVersion(const TUpdateOptions& Options = {}, int OverallMs = 0);
/// Takes the executable member out of `Archive` into `Output`. True when `Output` holds a
/// non-empty executable; otherwise the reason is journalled.
bool ExtractExe(const TByteStream& Archive, TByteStream& Output);
/// Writes `NewData` beside `ExePath` under a name of its own (on disk, with run rights), keeps
/// `ExePath` as the backup and renames the new file into place. At no step is `ExePath` left
/// holding a partial program: a failure, or a process killed part-way, leaves the old one.
bool ReplaceExe(const std::filesystem::path& ExePath, const TByteStream& NewData,
                const TUpdateOptions& Options = {});
/// Starts the program at `ExePath` without waiting for it, detached from this process;
/// `ProcessId`, when given, receives its id (0 when unknown).
bool StartNewExe(const std::filesystem::path& ExePath, std::uint64_t* ProcessId = nullptr);
/// Where a new program is written before it is renamed into place: the executable's file name
/// followed by ".new".
std::filesystem::path NewExePath(const TUpdateOptions& Options = {});

} // namespace Plumeria

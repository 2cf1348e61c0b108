#pragma once
// Self-update at program start: when automatic update is on, fetch the one-line version file
// from the maker's site; if it differs from our own version, download the ZIP archive, take the
// executable out of it (all in memory), rename the running executable to its backup name, write
// the new one in its place, release the single-instance lock and start it. The next start
// deletes the backup. Every step is journalled; no failure stops the program's start.

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
/// The file in the data folder that remembers the remote version installed last.
inline constexpr std::string_view UpdateInstalledFileName = "update-installed.txt";

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

    /// Seams for tests that must make the file steps fail. Empty means the platform's own:
    /// rename without replacing an existing target, and create-or-truncate plus write.
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

/// True when a new executable was written and started, and the caller must end the process.
/// Never installs the same remote version twice (it is remembered in the data folder), nor an
/// archive whose program is the running one byte for byte, nor into a folder it cannot write.
/// When the new program cannot be started, the old one is put back and its locks taken again,
/// and the result is false: the caller goes on running.
bool CheckForUpdate(bool AutoUpdate, const TUpdateOptions& Options = {});
/// Deletes the backup left by a previous update, if any; journals either way and never fails.
void RemovePreviousBackup(const TUpdateOptions& Options = {});
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
/// Moves `ExePath` aside to the backup and writes `NewData` in its place with run rights. On
/// failure the backup goes back under the executable's name.
bool ReplaceExe(const std::filesystem::path& ExePath, const TByteStream& NewData,
                const TUpdateOptions& Options = {});
/// Starts the program at `ExePath` without waiting for it, detached from this process.
bool StartNewExe(const std::filesystem::path& ExePath);

} // namespace Plumeria

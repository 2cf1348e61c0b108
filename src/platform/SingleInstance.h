#pragma once
// One running instance per logon. Windows: the named mutex "Local\PlumeriaBridge". Linux: an
// exclusive flock on "PlumeriaBridge.lock" in the session's runtime folder ($XDG_RUNTIME_DIR),
// or in a private folder /tmp/PlumeriaBridge-<uid> when there is none. Either lock dies with its
// process, so a crashed instance never blocks the next start.
//
// Beside it, one watcher per data folder: whoever watches (the tray program or `plumeria run`)
// holds an exclusive lock on "watch.lock" in the data folder (flock on Linux, LockFileEx on
// Windows), so two programs never upload and move the same files. It dies with its process too.

#include <filesystem>

namespace Plumeria {

/// How long a start waits for the running instance to let the lock go (an update's old
/// process does so right before it ends).
inline constexpr int SingleInstanceWaitMs = 5000;

/// Takes the lock; when another process holds it, waits up to 5 s for it. True when this
/// process holds the lock now (also when it already did). Called from one thread, which must
/// also be the one that releases it.
bool AcquireSingleInstance();

/// Lets the lock go. Nothing happens when this process does not hold it.
void ReleaseSingleInstance();
/// True while this process holds the single-instance lock.
bool SingleInstanceHeld();

enum class TFolderLockResult
{
    flTaken,  ///< this process holds the data folder's lock now
    flBusy,   ///< another process holds it (still after waiting `WaitMs`)
    flFailed, ///< the lock file cannot be opened or locked at all (the reason is not another
              ///< watcher)
};

/// Takes the watch lock of `DataFolder`, waiting up to `WaitMs` for a holder to let it go. A
/// process holds at most one; asking again while holding it gives `flTaken` at once.
TFolderLockResult AcquireDataFolderLock(const std::filesystem::path& DataFolder, int WaitMs);
/// Lets the watch lock go; nothing happens when it is not held.
void ReleaseDataFolderLock();
/// The data folder whose watch lock this process holds; empty when none.
std::filesystem::path HeldDataFolderLock();

} // namespace Plumeria

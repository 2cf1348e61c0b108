#include "platform/SingleInstance.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace Plumeria {

namespace {

int LockFd = -1;
int FolderLockFd = -1;
std::filesystem::path FolderLockPath;

/// A folder only we can write to, so nobody else can plant or hold our lock file.
bool PrivateFolder(const std::string& Folder)
{
    if (mkdir(Folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat Info
    {
    };
    return lstat(Folder.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode) && Info.st_uid == getuid() &&
           (Info.st_mode & 0077) == 0;
}

int OpenLockFile(const std::string& Path)
{
    // CLOEXEC: a program we start must not inherit, and so keep, our lock.
    return open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

/// The session's runtime folder when it is usable, else the private folder in /tmp.
int OpenLock()
{
    const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
    if (Runtime && Runtime[0] == '/') {
        const int Fd = OpenLockFile(std::string(Runtime) + "/PlumeriaBridge.lock");
        if (Fd >= 0)
            return Fd;
    }
    const std::string Folder = "/tmp/PlumeriaBridge-" + std::to_string(getuid());
    return PrivateFolder(Folder) ? OpenLockFile(Folder + "/PlumeriaBridge.lock") : -1;
}

/// Tries `flock` until it succeeds, fails for another reason than a holder, or `WaitMs` passed.
/// True when locked; `Busy` tells a holder from any other failure.
bool LockWithin(int Fd, int WaitMs, bool& Busy)
{
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
    for (;;) {
        if (flock(Fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        Busy = errno == EWOULDBLOCK;
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

bool AcquireSingleInstance()
{
    if (LockFd >= 0)
        return true;
    const int Fd = OpenLock();
    if (Fd < 0)
        return false;
    bool Busy = false;
    if (LockWithin(Fd, SingleInstanceWaitMs, Busy)) {
        LockFd = Fd;
        return true;
    }
    close(Fd);
    return false;
}

void ReleaseSingleInstance()
{
    if (LockFd < 0)
        return;
    flock(LockFd, LOCK_UN);
    close(LockFd);
    LockFd = -1;
}

} // namespace Plumeria

namespace Plumeria {

bool SingleInstanceHeld()
{
    return LockFd >= 0;
}

TFolderLockResult AcquireDataFolderLock(const std::filesystem::path& DataFolder, int WaitMs)
{
    if (FolderLockFd >= 0)
        return TFolderLockResult::flTaken;
    const std::filesystem::path Path = DataFolder / "watch.lock";
    // Readable for all: a machine-wide data folder may be watched by another user's program,
    // which must still be able to open (and so meet) the lock. flock needs no write access.
    int Fd = open(Path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (Fd < 0 && errno == EACCES)
        Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (Fd < 0)
        return TFolderLockResult::flFailed;
    bool Busy = false;
    if (LockWithin(Fd, WaitMs, Busy)) {
        FolderLockFd = Fd;
        FolderLockPath = DataFolder;
        return TFolderLockResult::flTaken;
    }
    close(Fd);
    return Busy ? TFolderLockResult::flBusy : TFolderLockResult::flFailed;
}

void ReleaseDataFolderLock()
{
    if (FolderLockFd < 0)
        return;
    flock(FolderLockFd, LOCK_UN);
    close(FolderLockFd);
    FolderLockFd = -1;
    FolderLockPath.clear();
}

std::filesystem::path HeldDataFolderLock()
{
    return FolderLockPath;
}

} // namespace Plumeria

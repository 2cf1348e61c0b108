#include "platform/SingleInstance.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace Plumeria {

namespace {

HANDLE Mutex = nullptr;
HANDLE FolderLock = INVALID_HANDLE_VALUE;
std::filesystem::path FolderLockPath;

} // namespace

bool AcquireSingleInstance()
{
    if (Mutex)
        return true;
    HANDLE Handle = CreateMutexW(nullptr, TRUE, L"Local\\PlumeriaBridge");
    if (!Handle)
        return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Initial ownership is not granted for an existing mutex: wait for its owner to let go.
        // An owner that ended without releasing leaves it abandoned, which makes it ours too.
        const DWORD Wait = WaitForSingleObject(Handle, SingleInstanceWaitMs);
        if (Wait != WAIT_OBJECT_0 && Wait != WAIT_ABANDONED) {
            CloseHandle(Handle);
            return false;
        }
    }
    Mutex = Handle;
    return true;
}

void ReleaseSingleInstance()
{
    if (!Mutex)
        return;
    ReleaseMutex(Mutex);
    CloseHandle(Mutex);
    Mutex = nullptr;
}

} // namespace Plumeria

namespace Plumeria {

bool SingleInstanceHeld()
{
    return Mutex != nullptr;
}

TFolderLockResult AcquireDataFolderLock(const std::filesystem::path& DataFolder, int WaitMs)
{
    if (FolderLock != INVALID_HANDLE_VALUE)
        return TFolderLockResult::flTaken;
    const std::filesystem::path Path = DataFolder / L"watch.lock";
    // Shared open, exclusive byte-range lock: a second watcher can open the file and meets the
    // lock; the handle is not inherited by programs we start.
    HANDLE Handle = CreateFileW(Path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        return TFolderLockResult::flFailed;
    const ULONGLONG Deadline = GetTickCount64() + static_cast<ULONGLONG>(WaitMs < 0 ? 0 : WaitMs);
    for (;;) {
        OVERLAPPED Range{};
        if (LockFileEx(Handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &Range)) {
            FolderLock = Handle;
            FolderLockPath = DataFolder;
            return TFolderLockResult::flTaken;
        }
        const DWORD Error = GetLastError();
        if (Error != ERROR_LOCK_VIOLATION || GetTickCount64() >= Deadline) {
            CloseHandle(Handle);
            return Error == ERROR_LOCK_VIOLATION ? TFolderLockResult::flBusy
                                                 : TFolderLockResult::flFailed;
        }
        Sleep(50);
    }
}

void ReleaseDataFolderLock()
{
    if (FolderLock == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED Range{};
    UnlockFileEx(FolderLock, 0, 1, 0, &Range);
    CloseHandle(FolderLock);
    FolderLock = INVALID_HANDLE_VALUE;
    FolderLockPath.clear();
}

std::filesystem::path HeldDataFolderLock()
{
    return FolderLockPath;
}

} // namespace Plumeria

#include "platform/DirWatch.h"

#include <system_error>

#include <windows.h>

namespace Plumeria {

struct TDirWatch::TImpl
{
    HANDLE StopEvent = nullptr; ///< manual reset; set once by SignalStop
    HANDLE IoEvent = nullptr;   ///< manual reset; set when the change request completes
    HANDLE Folder = INVALID_HANDLE_VALUE;
    OVERLAPPED Overlapped{};
    bool Outstanding = false;
    // The change records are never read: a completed request only means "scan now".
    alignas(DWORD) BYTE Buffer[8192];
};

TDirWatch::TDirWatch() : FImpl(std::make_unique<TImpl>())
{
    FImpl->StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FImpl->IoEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!FImpl->StopEvent || !FImpl->IoEvent) {
        const DWORD Code = GetLastError();
        if (FImpl->StopEvent)
            CloseHandle(FImpl->StopEvent);
        if (FImpl->IoEvent)
            CloseHandle(FImpl->IoEvent);
        throw std::system_error(static_cast<int>(Code), std::system_category(),
                                "cannot create the stop signal");
    }
}

TDirWatch::~TDirWatch()
{
    Close();
    CloseHandle(FImpl->IoEvent);
    CloseHandle(FImpl->StopEvent);
}

void TDirWatch::SignalStop()
{
    SetEvent(FImpl->StopEvent);
}

bool TDirWatch::WaitForStop(std::uint32_t Ms)
{
    return WaitForSingleObject(FImpl->StopEvent, Ms) == WAIT_OBJECT_0;
}

bool TDirWatch::Open(const std::filesystem::path& Folder)
{
    Close();
    FImpl->Folder = CreateFileW(
        Folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    return FImpl->Folder != INVALID_HANDLE_VALUE;
}

void TDirWatch::Close()
{
    if (FImpl->Folder == INVALID_HANDLE_VALUE)
        return;
    if (FImpl->Outstanding) {
        // The kernel writes into Buffer and Overlapped until the cancelled request has really
        // ended; wait for that before either is used again.
        CancelIoEx(FImpl->Folder, &FImpl->Overlapped);
        DWORD Ignored = 0;
        GetOverlappedResult(FImpl->Folder, &FImpl->Overlapped, &Ignored, TRUE);
        FImpl->Outstanding = false;
    }
    CloseHandle(FImpl->Folder);
    FImpl->Folder = INVALID_HANDLE_VALUE;
}

bool TDirWatch::Request()
{
    if (FImpl->Folder == INVALID_HANDLE_VALUE)
        return false;
    if (FImpl->Outstanding)
        return true;
    ZeroMemory(&FImpl->Overlapped, sizeof FImpl->Overlapped);
    FImpl->Overlapped.hEvent = FImpl->IoEvent;
    ResetEvent(FImpl->IoEvent);
    const BOOL Started = ReadDirectoryChangesW(
        FImpl->Folder, FImpl->Buffer, sizeof FImpl->Buffer, FALSE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE,
        nullptr, &FImpl->Overlapped, nullptr);
    if (!Started && GetLastError() != ERROR_IO_PENDING)
        return false;
    FImpl->Outstanding = true;
    return true;
}

TDirWait TDirWatch::Wait(std::uint32_t Ms)
{
    const HANDLE Handles[2] = {FImpl->StopEvent, FImpl->IoEvent};
    const DWORD Result = WaitForMultipleObjects(2, Handles, FALSE, Ms);
    if (Result == WAIT_OBJECT_0)
        return TDirWait::dwStop;
    if (Result == WAIT_OBJECT_0 + 1) {
        if (FImpl->Outstanding) {
            DWORD Ignored = 0;
            GetOverlappedResult(FImpl->Folder, &FImpl->Overlapped, &Ignored, FALSE);
            FImpl->Outstanding = false;
        }
        return TDirWait::dwChange;
    }
    return TDirWait::dwTimeout;
}

std::vector<TFileUse> TDirWatch::TakeFileUse(bool& Overflowed)
{
    Overflowed = false;
    return {};
}

bool TDirWatch::ReportsOpens() const
{
    return false;
}

} // namespace Plumeria

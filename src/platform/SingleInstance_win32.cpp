#include "platform/SingleInstance.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace Plumeria {

namespace {

HANDLE Mutex = nullptr;

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
